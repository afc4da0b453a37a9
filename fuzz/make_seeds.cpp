// SPDX-License-Identifier: MIT
// make_fuzz_seeds FUZZDIR: writes the seed corpus of every fuzz target into
// FUZZDIR/corpus/<target>/: small packs (raw, tiled sources, compressed in
// both modes with each codec), blocks of each form, run-length streams.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "support/pack_writer.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

std::string g_root;

void seed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string dir = g_root + "/corpus/" + target;
  std::string cmd = "mkdir -p '" + dir + "'";
  if (std::system(cmd.c_str()) != 0 || !write_file(dir + "/" + name, bytes)) std::printf("cannot write %s\n", name.c_str());
}

TestPack small_pack(uint8_t tiled, uint8_t codec) {
  TestPack p;
  p.tiled_flag = tiled;
  p.codec_kind = codec;
  std::optional<TileHint> hint;
  if (tiled) hint = TileHint{8, 8};
  p.entries.push_back(image_entry("grad", 1, 20, 12, ImageKind::Gradient, 1, hint));
  p.entries.push_back(image_entry("icon", 11, 9, 9, ImageKind::Flat, 2, hint));
  p.entries.push_back(image_entry("font", 30, 24, 16, ImageKind::Glyphs, 3, hint));
  p.entries.push_back(image_entry("photo", 32, 10, 6, ImageKind::Noise, 4, hint));
  p.entries.push_back(image_entry("PIC16", 36, 7, 30, ImageKind::Flat, 5, hint));
  p.entries.push_back(jpeg_entry("jpg", 16, 16, 40, 6));
  return p;
}

std::vector<uint8_t> converted(int (*command)(const char*, const char*), const std::vector<uint8_t>& pack) {
  write_file("seed.pack", pack);
  command("seed.pack", "seed.out");
  std::vector<uint8_t> out = read_file("seed.out");
  unlink("seed.pack");
  unlink("seed.out");
  return out;
}
std::vector<uint8_t> compressed(const std::vector<uint8_t>& pack) { return converted(compress_pack, pack); }

std::vector<uint8_t> with_prefix(std::vector<uint8_t> prefix, const std::vector<uint8_t>& rest) {
  prefix.insert(prefix.end(), rest.begin(), rest.end());
  return prefix;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: make_fuzz_seeds FUZZDIR\n");
    return 2;
  }
  g_root = argv[1];
  std::freopen("/dev/null", "w", stdout);
  int n = 0;
  for (uint8_t tiled : {0, 1}) {
    for (uint8_t codec : {1, 2, 3}) {
      if (!tiled && codec != 2) continue;
      const std::vector<uint8_t> raw = build_pack(small_pack(tiled, codec));
      const std::vector<uint8_t> packed = compressed(raw);
      const std::string name = "pack-" + std::to_string(n++);
      for (const char* target : {"fuzz_list", "fuzz_compress", "fuzz_tool", "fuzz_report"}) seed(target, name, raw);
      for (const char* target : {"fuzz_list", "fuzz_decompress", "fuzz_tool", "fuzz_report"}) seed(target, name + "-packed", packed);
      // The pack reader: a name to find in front.
      seed("fuzz_pack_read", name, with_prefix({'i', 'c', 'o', 'n', 0, 0, 0, 0}, raw));
      seed("fuzz_pack_read", name + "-packed", with_prefix({'P', 'I', 'C', '1', '6', 0, 0, 0}, packed));
      // Decoded tiled blocks: type 39 holding pixels.
      if (tiled)
        for (const char* target : {"fuzz_tool", "fuzz_report"}) seed(target, name + "-unpacked", converted(decompress_pack, packed));
    }
  }
  seed("fuzz_list", "empty", build_pack(TestPack{}));
  TestPack names;
  names.entries.push_back(image_entry("\xff\\\x01\xc3(", 30, 3, 2, ImageKind::Noise, 7));
  names.entries.push_back(image_entry("eightchr", 1, 2, 2, ImageKind::Noise, 8));
  for (const char* target : {"fuzz_tool", "fuzz_report"}) seed(target, "names", build_pack(names));

  // Blocks of each form, whole-image regions in front; the packed rows
  // through a decoder with exactly a tile's room (8 x 8 x 2 bytes), and a
  // region through one of 1 MiB, its rows 3 bytes apart beyond a row.
  const std::vector<uint8_t> img = make_image(ImageKind::Flat, 20, 12, 2, 1);
  for (uint8_t codec : {1, 2, 3}) {
    std::vector<uint8_t> block(tile_image_bound(20, 12, 8, 8, 1, codec));
    block.resize(static_cast<size_t>(encode_tile_image(img, block, 20, 12, 8, 8, 1, codec)));
    seed("fuzz_tile_decode", "block-" + std::to_string(codec),
         with_prefix({0, 0, 0, 0, 20, 0, 12, 0, 0, 0, 7}, block));
    seed("fuzz_tile_decode", "region-" + std::to_string(codec),
         with_prefix({3, 0, 5, 0, 9, 0, 4, 0, 0, 3, 0xFF}, block));
    std::vector<uint8_t> stream(3 * 240);
    stream.resize(static_cast<size_t>(encode_rle_pixels(img.data(), stream.data(), 240, 720, 2)));
    seed("fuzz_rle_decode", "stream-" + std::to_string(codec), with_prefix({1, 0xE0, 0x01}, stream));
  }
  // Streams of every pixel size with long literals and runs, the capacity
  // one pixel short of the whole.
  for (int bpp = 1; bpp <= 4; ++bpp) {
    const std::vector<uint8_t> pixels = make_image(ImageKind::Glyphs, 40, 20, bpp, 7);
    std::vector<uint8_t> stream(static_cast<size_t>((1 + bpp) * 800));
    stream.resize(static_cast<size_t>(encode_rle_pixels(pixels.data(), stream.data(), 800,
                                                        static_cast<uint32_t>(stream.size()), static_cast<uint32_t>(bpp))));
    const int cap = 800 * bpp - bpp;
    seed("fuzz_rle_decode", "glyphs-" + std::to_string(bpp),
         with_prefix({static_cast<uint8_t>(bpp - 1), static_cast<uint8_t>(cap), static_cast<uint8_t>(cap >> 8)}, stream));
  }
  for (uint8_t format = 1; format <= 6; ++format) {
    for (uint8_t codec : {1, 2, 3}) {
      seed("fuzz_roundtrip", "image-" + std::to_string(format) + std::to_string(codec),
           with_prefix({20, 12, 8, 5, format, codec, 0, 2, 3, 9, 4}, make_image(ImageKind::Glyphs, 6, 6, 1, format)));
    }
  }
  return 0;
}

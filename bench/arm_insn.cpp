// SPDX-License-Identifier: MIT
// Instruction counts of the decoders, for bench/arm_insn.sh. One source, two
// builds:
//
//   arm_insn prep LIST OUTDIR     (built for the host) codes the images that
//       LIST names (lines "bpp width height offset file": width x height
//       pixels of bpp bytes at that offset of the file) and writes the case
//       files into OUTDIR:
//         tiles-B-S.bin   every S x S tile (edge tiles smaller) of the
//                         B-byte images, as a run-length stream and as an
//                         LZ4 HC block
//         region-B.bin    every B-byte image as one LZ4 HC block, and as
//                         "C4ZL" and "CELR" blocks of 32 x 32 and 64 x 64
//                         tiles
//       and prints, per case file, what the coded forms hold.
//   arm_insn check FILE           decodes every form of every item of FILE
//       and compares it with the pixels; exit status 1 on a difference.
//   arm_insn run FILE FORM REPS   loads FILE and decodes form FORM of every
//       item REPS times. Run under an instruction counter with REPS 1 and 0,
//       the difference is the decoding alone: both runs load the same file
//       and take the same steps up to the loop.
//
// A case file: u32 form count, u32 item count, one u32 decoder kind per form
// (Kind), then per item: u32 width, height, bytes per pixel,
// pixel bytes, the pixels, and per form a u32 length and the coded bytes.
// Fields are little-endian, as on both machines that read them.
#include <lz4.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "morvane/tile.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

// How a form is decoded: a tile by its codec into the tile buffer, or a
// whole image (one LZ4 block, or a tiled block through the region decoder)
// into a buffer of its size.
enum Kind : uint32_t { kRle = 1, kLz4 = 2, kLz4Image = 3, kRegion = 4 };

struct Item {
  uint32_t width = 0, height = 0, bpp = 0;
  std::vector<uint8_t> pixels;
  std::vector<std::vector<uint8_t>> forms;
};

struct CaseFile {
  std::vector<uint32_t> kinds;
  std::vector<Item> items;
};

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "arm_insn: %s\n", what.c_str());
  std::exit(2);
}

// ---- Case files ----------------------------------------------------------------

void put32(std::FILE* f, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
  std::fwrite(b, 1, 4, f);
}

void put_bytes(std::FILE* f, const std::vector<uint8_t>& v) {
  put32(f, static_cast<uint32_t>(v.size()));
  std::fwrite(v.data(), 1, v.size(), f);
}

void write_case(const std::string& path, const CaseFile& c) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) fail("cannot write " + path);
  put32(f, static_cast<uint32_t>(c.kinds.size()));
  put32(f, static_cast<uint32_t>(c.items.size()));
  for (uint32_t k : c.kinds) put32(f, k);
  for (const Item& it : c.items) {
    put32(f, it.width);
    put32(f, it.height);
    put32(f, it.bpp);
    put_bytes(f, it.pixels);
    for (const auto& form : it.forms) put_bytes(f, form);
  }
  if (std::fclose(f) != 0) fail("cannot write " + path);
}

struct Reader {
  std::FILE* f;
  std::string path;
  uint32_t u32() {
    uint8_t b[4];
    if (std::fread(b, 1, 4, f) != 4) fail(path + " is cut short");
    return b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24;
  }
  std::vector<uint8_t> bytes() {
    std::vector<uint8_t> v(u32());
    if (std::fread(v.data(), 1, v.size(), f) != v.size()) fail(path + " is cut short");
    return v;
  }
};

CaseFile read_case(const std::string& path) {
  Reader r{std::fopen(path.c_str(), "rb"), path};
  if (r.f == nullptr) fail("cannot read " + path);
  CaseFile c;
  c.kinds.resize(r.u32());
  c.items.resize(r.u32());
  for (uint32_t& k : c.kinds) k = r.u32();
  for (Item& it : c.items) {
    it.width = r.u32();
    it.height = r.u32();
    it.bpp = r.u32();
    it.pixels = r.bytes();
    it.forms.resize(c.kinds.size());
    for (auto& form : it.forms) form = r.bytes();
  }
  std::fclose(r.f);
  return c;
}

// ---- prep (host) -----------------------------------------------------------------

std::vector<uint8_t> rle_stream(const std::vector<uint8_t>& px, uint32_t bpp) {
  const uint32_t n = static_cast<uint32_t>(px.size() / bpp);
  std::vector<uint8_t> s(size_t{1 + bpp} * n);
  s.resize(static_cast<size_t>(encode_rle_pixels(px.data(), s.data(), n, static_cast<uint32_t>(s.size()), bpp)));
  return s;
}

std::vector<uint8_t> lz4_block(const std::vector<uint8_t>& px) {
  std::vector<uint8_t> z(static_cast<size_t>(LZ4_compressBound(static_cast<int>(px.size()))));
  const int32_t n = lz4_hc_compress(px.data(), z.data(), static_cast<int32_t>(px.size()), static_cast<int32_t>(z.size()));
  if (n <= 0) fail("LZ4 HC failed");
  z.resize(static_cast<size_t>(n));
  return z;
}

std::vector<uint8_t> tile_block(const Item& img, int side, uint8_t codec) {
  static const uint8_t kFormat[] = {0, 5, 1, 3, 4};  // a pixel format of each size
  const auto w = static_cast<int32_t>(img.width), h = static_cast<int32_t>(img.height);
  std::vector<uint8_t> b(tile_image_bound(w, h, side, side, kFormat[img.bpp], codec));
  const int32_t n = encode_tile_image(img.pixels, b, w, h, side, side, kFormat[img.bpp], codec);
  if (n <= 0) fail("tile encoder failed");
  b.resize(static_cast<size_t>(n));
  return b;
}

// Packets in a run-length stream of bpp-byte pixels.
size_t packets(const std::vector<uint8_t>& s, uint32_t bpp) {
  size_t n = 0;
  for (size_t at = 0; at < s.size(); ++n) at += 1 + (s[at] & 0x80 ? bpp : (s[at] & 0x7Fu) * bpp);
  return n;
}

int prep(const char* list_path, const std::string& out) {
  std::FILE* list = std::fopen(list_path, "r");
  if (list == nullptr) fail(std::string("cannot read ") + list_path);
  std::vector<Item> images[5];
  char file[4096];
  unsigned bpp, w, h;
  unsigned long offset;
  while (std::fscanf(list, "%u %u %u %lu %4095s", &bpp, &w, &h, &offset, file) == 5) {
    if (bpp < 1 || bpp > 4 || w == 0 || h == 0 || w > 65535 || h > 65535) continue;
    Item img{w, h, bpp, std::vector<uint8_t>(size_t{w} * h * bpp), {}};
    std::FILE* f = std::fopen(file, "rb");
    if (f == nullptr) fail(std::string("cannot read ") + file);
    const bool ok = std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 &&
                    std::fread(img.pixels.data(), 1, img.pixels.size(), f) == img.pixels.size();
    std::fclose(f);
    if (!ok) fail(std::string(file) + " is shorter than its image");
    images[bpp].push_back(std::move(img));
  }
  std::fclose(list);

  std::printf("%-22s %6s %10s %10s %10s %9s\n", "case", "items", "pixel B", "run-len B", "LZ4 B", "B/packet");
  for (uint32_t b = 1; b <= 4; ++b) {
    if (images[b].empty()) continue;
    for (int side : {32, 64}) {
      CaseFile c{{kRle, kLz4}, {}};
      size_t raw = 0, rle = 0, lz4 = 0, pk = 0;
      for (const Item& img : images[b]) {
        for (uint32_t y = 0; y < img.height; y += side) {
          for (uint32_t x = 0; x < img.width; x += side) {
            const uint32_t tw = std::min<uint32_t>(side, img.width - x), th = std::min<uint32_t>(side, img.height - y);
            Item t{tw, th, b, {}, {}};
            for (uint32_t k = 0; k < th; ++k) {
              const auto row = img.pixels.begin() + (size_t{y + k} * img.width + x) * b;
              t.pixels.insert(t.pixels.end(), row, row + size_t{tw} * b);
            }
            t.forms = {rle_stream(t.pixels, b), lz4_block(t.pixels)};
            raw += t.pixels.size();
            rle += t.forms[0].size();
            lz4 += t.forms[1].size();
            pk += packets(t.forms[0], b);
            c.items.push_back(std::move(t));
          }
        }
      }
      const std::string name = "tiles-" + std::to_string(b) + "-" + std::to_string(side) + ".bin";
      write_case(out + "/" + name, c);
      std::printf("%-22s %6zu %10zu %10zu %10zu %9.2f\n", name.c_str(), c.items.size(), raw, rle, lz4,
                  static_cast<double>(raw) / static_cast<double>(pk));
    }
    CaseFile c{{kLz4Image, kRegion, kRegion, kRegion, kRegion}, {}};
    size_t raw = 0, untiled[5] = {};
    for (Item& img : images[b]) {
      img.forms = {lz4_block(img.pixels), tile_block(img, 32, CODEC_KIND_LZ4), tile_block(img, 32, CODEC_KIND_RLE),
                   tile_block(img, 64, CODEC_KIND_LZ4), tile_block(img, 64, CODEC_KIND_RLE)};
      for (size_t k = 1; k < img.forms.size(); ++k) untiled[k] += read_tile_image(img.forms[k].data()).magic == MORVANE_TILE_MAGIC_RAW;
      raw += img.pixels.size();
      c.items.push_back(std::move(img));
    }
    const std::string name = "region-" + std::to_string(b) + ".bin";
    write_case(out + "/" + name, c);
    std::printf("%-22s %6zu %10zu   stored untiled: C4ZL 32 %zu, CELR 32 %zu, C4ZL 64 %zu, CELR 64 %zu\n",
                name.c_str(), c.items.size(), raw, untiled[1], untiled[2], untiled[3], untiled[4]);
  }
  return 0;
}

// ---- check and run (the target) ----------------------------------------------------

// Decodes form k of item `it` into out (its size is the capacity) and returns
// the pixel bytes the decoder reports.
int32_t decode(uint32_t kind, const Item& it, const std::vector<uint8_t>& form, std::vector<uint8_t>& out,
               int32_t capacity) {
  const auto len = static_cast<int32_t>(form.size());
  switch (kind) {
    case kRle: return decode_rle_pixels(form.data(), out.data(), len, capacity, static_cast<int32_t>(it.bpp));
    case kLz4:
    case kLz4Image:
      return LZ4_decompress_safe(reinterpret_cast<const char*>(form.data()), reinterpret_cast<char*>(out.data()), len,
                                 capacity);
    default: {
      const int32_t n = morvane_tile_decode_shared(form.data(), len, 0, 0, static_cast<int32_t>(it.width),
                                                   static_cast<int32_t>(it.height), out.data(), capacity);
      morvane_tile_shared_forget(form.data());
      return n;
    }
  }
}

// The capacity a decoder is given: the tile buffer for a tile, as the region
// decoder gives its codecs, and the image's bytes for a whole image.
int32_t capacity(uint32_t kind, const Item& it) {
  return kind == kRle || kind == kLz4 ? static_cast<int32_t>(TILE_BUFFER_SIZE)
             : static_cast<int32_t>(it.pixels.size());
}

std::vector<uint8_t> out_buffer(const CaseFile& c) {
  size_t largest = TILE_BUFFER_SIZE;
  for (const Item& it : c.items) largest = std::max(largest, it.pixels.size());
  return std::vector<uint8_t>(largest);
}

int check(const std::string& path) {
  const CaseFile c = read_case(path);
  std::vector<uint8_t> out = out_buffer(c);
  for (size_t k = 0; k < c.kinds.size(); ++k) {
    for (size_t i = 0; i < c.items.size(); ++i) {
      const Item& it = c.items[i];
      const int32_t n = decode(c.kinds[k], it, it.forms[k], out, capacity(c.kinds[k], it));
      if (n != static_cast<int32_t>(it.pixels.size()) || std::memcmp(out.data(), it.pixels.data(), it.pixels.size()) != 0) {
        std::fprintf(stderr, "arm_insn: %s: form %zu of item %zu does not decode to its pixels\n", path.c_str(), k, i);
        return 1;
      }
    }
  }
  return 0;
}

int run(const std::string& path, uint32_t form, int reps) {
  const CaseFile c = read_case(path);
  if (form >= c.kinds.size() || c.items.empty()) fail("no form " + std::to_string(form) + " in " + path);
  std::vector<uint8_t> out = out_buffer(c);
  // The region decoder clears its slot on first use: done here, in every
  // run, so that the counted difference holds none of it.
  {
    // An 8 x 8 tile of one colour, which the block keeps tiled.
    const Item flat{8, 8, 1, std::vector<uint8_t>(64), {}};
    const std::vector<uint8_t> block = tile_block(flat, 32, CODEC_KIND_RLE);
    if (read_tile_image(block.data()).magic != MORVANE_TILE_MAGIC_RLE) fail("the first-use block is stored untiled");
    morvane_tile_decode_shared(block.data(), static_cast<int32_t>(block.size()), 0, 0, 1, 1, out.data(),
                               static_cast<int32_t>(out.size()));
    morvane_tile_shared_forget(block.data());
  }
  const uint32_t kind = c.kinds[form];
  std::vector<int32_t> caps;
  for (const Item& it : c.items) caps.push_back(capacity(kind, it));
  int64_t total = 0;
  for (int r = 0; r < reps; ++r) {
    for (size_t i = 0; i < c.items.size(); ++i) total += decode(kind, c.items[i], c.items[i].forms[form], out, caps[i]);
  }
  std::printf("%lld\n", static_cast<long long>(total));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "prep" && argc == 4) return prep(argv[2], argv[3]);
  if (mode == "check" && argc == 3) return check(argv[2]);
  if (mode == "run" && argc == 5) return run(argv[2], static_cast<uint32_t>(std::atoi(argv[3])), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: arm_insn prep LIST OUTDIR | check FILE | run FILE FORM REPS\n");
  return 2;
}

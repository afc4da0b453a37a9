// pack_baseline MODE PACK: the bare codec work of a pack conversion, timed
// without the tool's file handling, for comparison with `morvane -c/-d`.
//   whole        LZ4 HC level 12 of every image as one block
//   tiled K      every image cut as the compress command cuts it, tiles coded
//                with codec kind K (1 run-length, 2 LZ4 HC)
//   unwhole      LZ4 decoding of every entry of a whole-entry compressed pack
//   untiled      whole-image region decoding of every block of a tiled pack
// Prints the seconds spent and the bytes produced; checks what it decodes.
#include <lz4.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands/convert_entry.h"
#include "support/pack_writer.h"
#include "tile/tile_image.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Gathers and codes every tile of one image, as the encoder does, without
// the block around them.
uint64_t code_tiles(const uint8_t* pixels, int w, int h, TileSize t, int bpp, int codec, std::vector<uint8_t>& tile,
                    std::vector<uint8_t>& dst) {
  uint64_t total = 0;
  for (int y0 = 0; y0 < h; y0 += t.tile_height) {
    for (int x0 = 0; x0 < w; x0 += t.tile_width) {
      const int tw = std::min(t.tile_width, w - x0), th = std::min(t.tile_height, h - y0);
      const size_t row = static_cast<size_t>(tw) * bpp;
      for (int k = 0; k < th; ++k)
        std::memcpy(tile.data() + k * row, pixels + ((static_cast<size_t>(y0) + k) * w + x0) * bpp, row);
      const int n = static_cast<int>(row * th);
      total += codec == 2 ? static_cast<uint64_t>(lz4_hc_compress(tile.data(), dst.data(), n, static_cast<int>(dst.size())))
                          : static_cast<uint64_t>(encode_rle_pixels(tile.data(), dst.data(), static_cast<uint32_t>(tw * th),
                                                                    static_cast<uint32_t>(dst.size()), bpp));
    }
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("usage: pack_baseline whole|tiled K|unwhole|untiled PACK\n");
    return 2;
  }
  const std::string mode = argv[1];
  const int codec = mode == "tiled" ? std::atoi(argv[2]) : 0;
  ParsedPack pack = parse_pack(read_file(argv[mode == "tiled" ? 3 : 2]));
  const bool hinted = pack.header.bytes[TILED_FLAG] != 0;
  uint64_t in_bytes = 0, out_bytes = 0;
  std::vector<uint8_t> tile(TILE_BUFFER_SIZE), dst;
  const auto t0 = std::chrono::steady_clock::now();
  for (size_t i = 0; i < pack.entries.size(); ++i) {
    const PackEntry& e = pack.entries[i];
    const EntryRect& r = pack.rects[i];
    const std::vector<uint8_t>& p = pack.payloads[i];
    if (e.type == TYPE_JPEG) continue;
    in_bytes += p.size();
    if (mode == "whole") {
      dst.resize(2 * p.size() + 64);
      out_bytes += static_cast<uint64_t>(
          lz4_hc_compress(p.data(), dst.data(), static_cast<int>(p.size()), static_cast<int>(dst.size())));
    } else if (mode == "tiled") {
      const int bpp = pixel_format_bytes(pixel_format_for_type(e.type));
      TileHint hint = hinted ? read_tile_hint(p.data()) : TileHint{64, 64};
      TileSize t = choose_tile_size(r.width, r.height, hint.hint_width, hint.hint_height);
      dst.resize(2 * TILE_BUFFER_SIZE);
      out_bytes += code_tiles(p.data() + (hinted ? 4 : 0), r.width, r.height, t, bpp, codec, tile, dst);
    } else if (mode == "unwhole") {
      PackEntry raw = e;
      raw.type = raw_type(e.type);
      dst.resize(static_cast<size_t>(entry_bytes_per_pixel(raw)) * r.width * r.height);
      int got = LZ4_decompress_safe(reinterpret_cast<const char*>(p.data()), reinterpret_cast<char*>(dst.data()),
                                    static_cast<int>(p.size()), static_cast<int>(dst.size()));
      if (got != static_cast<int>(dst.size())) std::abort();
      out_bytes += static_cast<uint64_t>(got);
    } else {
      TileImage b = read_tile_image(p.data());
      dst.resize(static_cast<size_t>(b.width) * b.height * b.bytes_per_pixel);
      int got = decode_tile_region(p, dst, 0, 0, b.width, b.height);
      tile_cache_forget(p.data());
      if (got != static_cast<int>(dst.size())) std::abort();
      out_bytes += static_cast<uint64_t>(got);
    }
  }
  std::printf("%s: %.3f s, %llu -> %llu bytes\n", mode.c_str(), seconds_since(t0),
              static_cast<unsigned long long>(in_bytes), static_cast<unsigned long long>(out_bytes));
  return 0;
}

// SPDX-License-Identifier: MIT
// The run-length pixel codec against LZ4 and memcpy on tiles of UI-like
// images, in pixel bytes per second:
//   RleEncode   encode_rle_pixels of every tile
//   RleDecode   decode_rle_pixels of every tile into a TILE_BUFFER_SIZE buffer,
//               as the region decoder does
//   Lz4Decode   LZ4_decompress_safe of the same tiles coded by LZ4 HC level 12
//   Memcpy      the raw tiles copied
// Arguments: bytes per pixel (1..4), tile side (32, 64) and image kind
// (0 gradient, 1 flat, 2 noise, 3 glyphs, 4 all four). The counter "ratio" is
// the coded size over the raw size (run-length for the Rle rows, LZ4 for
// Lz4Decode). Every tile set is decoded by both codecs and compared with its
// pixels before anything is timed.
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "support/image_gen.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 272;
constexpr ImageKind kKinds[] = {ImageKind::Gradient, ImageKind::Flat, ImageKind::Noise, ImageKind::Glyphs};
constexpr int kAllKinds = 4;

// One coded tile: where its pixels and its two coded forms start in the
// set's arenas, and their sizes.
struct Tile {
  size_t raw_at, raw_len;
  uint32_t pixels;
  size_t rle_at, rle_len;
  size_t lz4_at, lz4_len;
};

// The tiles of the chosen images, each gathered into contiguous pixel bytes.
struct TileSet {
  std::vector<uint8_t> raw, rle, lz4;
  std::vector<Tile> tiles;
  size_t raw_bytes = 0;
};

void require(bool ok, const char* what, int bpp, int side, int kind) {
  if (ok) return;
  std::fprintf(stderr, "bench_rle: %s (bpp %d, tile %d, kind %d)\n", what, bpp, side, kind);
  std::abort();
}

void add_image(TileSet& s, const std::vector<uint8_t>& img, int bpp, int side) {
  for (int y = 0; y < kHeight; y += side) {
    for (int x = 0; x < kWidth; x += side) {
      const int w = std::min(side, kWidth - x);
      const int h = std::min(side, kHeight - y);
      Tile t{};
      t.raw_at = s.raw.size();
      for (int k = 0; k < h; ++k) {
        const auto row = img.begin() + (static_cast<ptrdiff_t>(y + k) * kWidth + x) * bpp;
        s.raw.insert(s.raw.end(), row, row + static_cast<ptrdiff_t>(w) * bpp);
      }
      t.raw_len = s.raw.size() - t.raw_at;
      t.pixels = static_cast<uint32_t>(w * h);
      const uint8_t* pixels = s.raw.data() + t.raw_at;

      const int32_t rle_len = encode_rle_pixels(pixels, nullptr, t.pixels, 0, static_cast<uint32_t>(bpp));
      t.rle_at = s.rle.size();
      t.rle_len = static_cast<size_t>(rle_len);
      s.rle.resize(t.rle_at + t.rle_len);
      require(encode_rle_pixels(pixels, s.rle.data() + t.rle_at, t.pixels, static_cast<uint32_t>(t.rle_len),
                                static_cast<uint32_t>(bpp)) == rle_len,
              "run-length size query and encode disagree", bpp, side, -1);

      const int bound = LZ4_compressBound(static_cast<int>(t.raw_len));
      t.lz4_at = s.lz4.size();
      s.lz4.resize(t.lz4_at + static_cast<size_t>(bound));
      const int32_t lz4_len =
          lz4_hc_compress(pixels, s.lz4.data() + t.lz4_at, static_cast<int32_t>(t.raw_len), bound);
      require(lz4_len > 0, "LZ4 HC failed", bpp, side, -1);
      t.lz4_len = static_cast<size_t>(lz4_len);
      s.lz4.resize(t.lz4_at + t.lz4_len);

      s.raw_bytes += t.raw_len;
      s.tiles.push_back(t);
    }
  }
}

void verify(const TileSet& s, int bpp, int side, int kind) {
  std::vector<uint8_t> out(TILE_BUFFER_SIZE);
  for (const Tile& t : s.tiles) {
    const uint8_t* pixels = s.raw.data() + t.raw_at;
    const int32_t n = decode_rle_pixels(s.rle.data() + t.rle_at, out.data(), static_cast<int32_t>(t.rle_len),
                                        static_cast<int32_t>(out.size()), bpp);
    require(n == static_cast<int32_t>(t.raw_len) && std::memcmp(out.data(), pixels, t.raw_len) == 0,
            "run-length round trip failed", bpp, side, kind);
    const int z = LZ4_decompress_safe(reinterpret_cast<const char*>(s.lz4.data() + t.lz4_at),
                                      reinterpret_cast<char*>(out.data()), static_cast<int>(t.lz4_len),
                                      static_cast<int>(out.size()));
    require(z == static_cast<int>(t.raw_len) && std::memcmp(out.data(), pixels, t.raw_len) == 0,
            "LZ4 round trip failed", bpp, side, kind);
  }
}

const TileSet& tile_set(int bpp, int side, int kind) {
  static std::map<int, TileSet> sets;
  const int key = (bpp * 1000 + side) * 10 + kind;
  auto it = sets.find(key);
  if (it != sets.end()) return it->second;
  TileSet s;
  for (int k = 0; k < kAllKinds; ++k) {
    if (kind != kAllKinds && kind != k) continue;
    add_image(s, make_image(kKinds[k], kWidth, kHeight, bpp, 11 + static_cast<uint32_t>(k)), bpp, side);
  }
  verify(s, bpp, side, kind);
  return sets.emplace(key, std::move(s)).first->second;
}

struct Args {
  int bpp, side, kind;
  explicit Args(const benchmark::State& state)
      : bpp(static_cast<int>(state.range(0))),
        side(static_cast<int>(state.range(1))),
        kind(static_cast<int>(state.range(2))) {}
};

void finish(benchmark::State& state, const TileSet& s, size_t coded) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.raw_bytes));
  state.counters["ratio"] = static_cast<double>(coded) / static_cast<double>(s.raw_bytes);
}

void BM_RleEncode(benchmark::State& state) {
  const Args a(state);
  const TileSet& s = tile_set(a.bpp, a.side, a.kind);
  std::vector<uint8_t> out(TILE_BUFFER_SIZE);
  const uint32_t bpp = static_cast<uint32_t>(a.bpp);
  for (auto _ : state) {
    for (const Tile& t : s.tiles) {
      benchmark::DoNotOptimize(
          encode_rle_pixels(s.raw.data() + t.raw_at, out.data(), t.pixels, static_cast<uint32_t>(out.size()), bpp));
    }
    benchmark::ClobberMemory();
  }
  finish(state, s, s.rle.size());
}

void BM_RleDecode(benchmark::State& state) {
  const Args a(state);
  const TileSet& s = tile_set(a.bpp, a.side, a.kind);
  std::vector<uint8_t> out(TILE_BUFFER_SIZE);
  for (auto _ : state) {
    for (const Tile& t : s.tiles) {
      benchmark::DoNotOptimize(decode_rle_pixels(s.rle.data() + t.rle_at, out.data(), static_cast<int32_t>(t.rle_len),
                                                 static_cast<int32_t>(out.size()), a.bpp));
    }
    benchmark::ClobberMemory();
  }
  finish(state, s, s.rle.size());
}

void BM_Lz4Decode(benchmark::State& state) {
  const Args a(state);
  const TileSet& s = tile_set(a.bpp, a.side, a.kind);
  std::vector<uint8_t> out(TILE_BUFFER_SIZE);
  for (auto _ : state) {
    for (const Tile& t : s.tiles) {
      benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(s.lz4.data() + t.lz4_at),
                                                   reinterpret_cast<char*>(out.data()), static_cast<int>(t.lz4_len),
                                                   static_cast<int>(out.size())));
    }
    benchmark::ClobberMemory();
  }
  finish(state, s, s.lz4.size());
}

void BM_Memcpy(benchmark::State& state) {
  const Args a(state);
  const TileSet& s = tile_set(a.bpp, a.side, a.kind);
  std::vector<uint8_t> out(TILE_BUFFER_SIZE);
  for (auto _ : state) {
    for (const Tile& t : s.tiles) std::memcpy(out.data(), s.raw.data() + t.raw_at, t.raw_len);
    benchmark::ClobberMemory();
  }
  finish(state, s, s.raw_bytes);
}

void tile_args(benchmark::internal::Benchmark* b) {
  for (int bpp = 1; bpp <= 4; ++bpp)
    for (int side : {32, 64})
      for (int kind = 0; kind <= kAllKinds; ++kind) b->Args({bpp, side, kind});
  b->ArgNames({"bpp", "tile", "kind"});
}

BENCHMARK(BM_RleEncode)->Apply(tile_args);
BENCHMARK(BM_RleDecode)->Apply(tile_args);
BENCHMARK(BM_Lz4Decode)->Apply(tile_args);
BENCHMARK(BM_Memcpy)->Apply(tile_args);

}  // namespace

BENCHMARK_MAIN();

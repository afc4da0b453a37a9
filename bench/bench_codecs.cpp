// Codec speeds on UI-like images (gradients, flat areas with icons, photo
// noise, glyph masks), in pixel bytes per second:
//   Rle/Encode, Rle/Decode, Lz4/Decode, Memcpy   per tile, 32x32 and 64x64
//   Region/C4ZL, Region/CELR, Region/OneBlockLz4, Region/Memcpy   whole images
// Every set-up checks its round trip before anything is timed. Set
// MORVANE_CORPUS to a real-image corpus folder to time its images instead.
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "support/image_gen.h"
#include "tile/tile_image.h"

namespace {

constexpr int kW = 480, kH = 272;
constexpr ImageKind kKinds[] = {ImageKind::Gradient, ImageKind::Flat, ImageKind::Noise, ImageKind::Glyphs};

struct Image {
  int w, h;
  std::vector<uint8_t> pixels;
};

// With MORVANE_CORPUS naming a corpus folder (manifest.json, raw/), its
// images of the pixel size; otherwise the four generated kinds at 480x272.
std::vector<Image> images(int bpp) {
  std::vector<Image> out;
  if (const char* dir = std::getenv("MORVANE_CORPUS")) {
    static const char* const kExt[] = {"", "a8", "rgb565", "rgb888", "argb8888"};
    std::ifstream manifest(std::string(dir) + "/manifest.json");
    std::stringstream text;
    text << manifest.rdbuf();
    const std::string m = text.str();
    auto field = [&](size_t from, const char* key) {
      size_t k = m.find(std::string("\"") + key + "\"", from);
      size_t colon = m.find(':', k);
      size_t start = m.find_first_not_of(" \"", colon + 1);
      size_t end = m.find_first_of(",\"\n}", start);
      return m.substr(start, end - start);
    };
    for (size_t at = m.find("\"name\""); at != std::string::npos; at = m.find("\"name\"", at + 1)) {
      if (field(at, "kind") != kExt[bpp]) continue;
      Image img{std::stoi(field(at, "width")), std::stoi(field(at, "height")), {}};
      std::ifstream f(std::string(dir) + "/" + field(at, "file"), std::ios::binary);
      img.pixels.assign(std::istreambuf_iterator<char>(f), {});
      if (img.pixels.size() == static_cast<size_t>(img.w * img.h * bpp)) out.push_back(std::move(img));
    }
    if (!out.empty()) return out;
  }
  for (ImageKind kind : kKinds) out.push_back({kW, kH, make_image(kind, kW, kH, bpp, 11)});
  return out;
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "round trip failed: %s\n", what);
    std::abort();
  }
}

// Every tile of the four images, its pixels packed, with its run-length and
// LZ4 forms.
struct TileSet {
  std::vector<std::vector<uint8_t>> raw, rle, lz4;
  size_t bytes = 0;
};

TileSet make_tiles(int bpp, int side) {
  TileSet s;
  for (const Image& image : images(bpp)) {
    const std::vector<uint8_t>& img = image.pixels;
    for (int y = 0; y < image.h; y += side) {
      for (int x = 0; x < image.w; x += side) {
        const int w = std::min(side, image.w - x), h = std::min(side, image.h - y);
        std::vector<uint8_t> tile;
        for (int k = 0; k < h; ++k) {
          auto row = img.begin() + ((y + k) * image.w + x) * bpp;
          tile.insert(tile.end(), row, row + w * bpp);
        }
        const uint32_t px = static_cast<uint32_t>(w * h);
        std::vector<uint8_t> r((1 + bpp) * px);
        r.resize(static_cast<size_t>(encode_rle_pixels(tile.data(), r.data(), px, static_cast<uint32_t>(r.size()), bpp)));
        std::vector<uint8_t> z(static_cast<size_t>(LZ4_compressBound(static_cast<int>(tile.size()))));
        z.resize(static_cast<size_t>(
            lz4_hc_compress(tile.data(), z.data(), static_cast<int>(tile.size()), static_cast<int>(z.size()))));
        std::vector<uint8_t> back(tile.size());
        check(decode_rle_pixels(r.data(), back.data(), static_cast<int32_t>(r.size()),
                                static_cast<int32_t>(back.size()), bpp) == static_cast<int32_t>(tile.size()) &&
                  back == tile,
              "run-length tile");
        s.bytes += tile.size();
        s.raw.push_back(std::move(tile));
        s.rle.push_back(std::move(r));
        s.lz4.push_back(std::move(z));
      }
    }
  }
  return s;
}

const TileSet& tiles(int bpp, int side) {
  static std::vector<std::pair<int, TileSet>> cache;
  const int key = bpp * 1000 + side;
  for (auto& [k, s] : cache)
    if (k == key) return s;
  cache.emplace_back(key, make_tiles(bpp, side));
  return cache.back().second;
}

void BM_RleEncode(benchmark::State& state) {
  const int bpp = static_cast<int>(state.range(0));
  const TileSet& s = tiles(bpp, static_cast<int>(state.range(1)));
  std::vector<uint8_t> dst(5 * TILE_BUFFER_SIZE / 4);
  for (auto _ : state) {
    for (const auto& t : s.raw)
      benchmark::DoNotOptimize(encode_rle_pixels(t.data(), dst.data(), static_cast<uint32_t>(t.size() / bpp),
                                                 static_cast<uint32_t>(dst.size()), bpp));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
}

void BM_RleDecode(benchmark::State& state) {
  const int bpp = static_cast<int>(state.range(0));
  const TileSet& s = tiles(bpp, static_cast<int>(state.range(1)));
  std::vector<uint8_t> dst(TILE_BUFFER_SIZE);
  for (auto _ : state) {
    for (const auto& r : s.rle)
      benchmark::DoNotOptimize(decode_rle_pixels(r.data(), dst.data(), static_cast<int32_t>(r.size()),
                                                 static_cast<int32_t>(dst.size()), bpp));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
}

void BM_Lz4Decode(benchmark::State& state) {
  const TileSet& s = tiles(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::vector<char> dst(TILE_BUFFER_SIZE);
  for (auto _ : state) {
    for (const auto& z : s.lz4)
      benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(z.data()), dst.data(),
                                                   static_cast<int>(z.size()), static_cast<int>(dst.size())));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
}

void BM_Memcpy(benchmark::State& state) {
  const TileSet& s = tiles(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::vector<uint8_t> dst(TILE_BUFFER_SIZE);
  for (auto _ : state) {
    for (const auto& t : s.raw) std::memcpy(dst.data(), t.data(), t.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
}

void tile_args(benchmark::internal::Benchmark* b) {
  for (int bpp = 1; bpp <= 4; ++bpp)
    for (int side : {32, 64}) b->Args({bpp, side});
  b->ArgNames({"bpp", "tile"});
}

BENCHMARK(BM_RleEncode)->Apply(tile_args);
BENCHMARK(BM_RleDecode)->Apply(tile_args);
BENCHMARK(BM_Lz4Decode)->Apply(tile_args);
BENCHMARK(BM_Memcpy)->Apply(tile_args);

// Whole images: the four kinds side by side, as blocks of each codec.
struct Blocks {
  std::vector<std::vector<uint8_t>> raw, block;
  std::vector<std::pair<int, int>> size;
  size_t bytes = 0;
};

const Blocks& blocks(int codec, int bpp, int side) {
  static std::vector<std::pair<int, Blocks>> cache;
  const int key = codec * 100000 + bpp * 1000 + side;
  for (auto& [k, b] : cache)
    if (k == key) return b;
  Blocks b;
  const int format = bpp == 1 ? 5 : bpp == 2 ? 1 : bpp == 3 ? 3 : 4;
  for (Image& image : images(bpp)) {
    std::vector<uint8_t> img = std::move(image.pixels);
    const int w = image.w, h = image.h;
    std::vector<uint8_t> block;
    if (codec < 0) {
      // memcpy of the raw image: no block
    } else if (codec == 0) {
      block.resize(static_cast<size_t>(LZ4_compressBound(static_cast<int>(img.size()))));
      block.resize(static_cast<size_t>(
          lz4_hc_compress(img.data(), block.data(), static_cast<int>(img.size()), static_cast<int>(block.size()))));
    } else {
      block.resize(tile_image_bound(w, h, side, side, format, codec));
      block.resize(static_cast<size_t>(encode_tile_image(img, block, w, h, side, side, static_cast<uint8_t>(format),
                                                         static_cast<uint8_t>(codec))));
      std::vector<uint8_t> back(img.size());
      check(decode_tile_region(block, back, 0, 0, w, h) == static_cast<int32_t>(img.size()) && back == img,
            "tiled block");
      tile_cache_forget(block.data());
    }
    b.bytes += img.size();
    b.size.emplace_back(w, h);
    b.raw.push_back(std::move(img));
    b.block.push_back(std::move(block));
  }
  cache.emplace_back(key, std::move(b));
  return cache.back().second;
}

void BM_Region(benchmark::State& state) {
  const int codec = static_cast<int>(state.range(0));
  const Blocks& b = blocks(codec, static_cast<int>(state.range(1)), static_cast<int>(state.range(2)));
  size_t largest = 0;
  for (const auto& r : b.raw) largest = std::max(largest, r.size());
  std::vector<uint8_t> out(largest);
  for (auto _ : state) {
    for (size_t i = 0; i < b.block.size(); ++i) {
      const int size = static_cast<int>(b.raw[i].size());
      if (codec == 0) {
        benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(b.block[i].data()),
                                                     reinterpret_cast<char*>(out.data()),
                                                     static_cast<int>(b.block[i].size()), size));
      } else if (codec < 0) {
        std::memcpy(out.data(), b.raw[i].data(), b.raw[i].size());
        benchmark::ClobberMemory();
      } else {
        benchmark::DoNotOptimize(decode_tile_region(b.block[i], out, 0, 0, b.size[i].first, b.size[i].second));
        tile_cache_forget(b.block[i].data());
      }
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.bytes));
}

// codec: 2 "C4ZL", 1 "CELR", 0 one LZ4 block per image, -1 memcpy.
BENCHMARK(BM_Region)
    ->ArgNames({"codec", "bpp", "tile"})
    ->Args({2, 2, 32})->Args({2, 2, 64})->Args({1, 2, 32})->Args({1, 2, 64})->Args({0, 2, 0})->Args({-1, 2, 0})
    ->Args({2, 4, 32})->Args({2, 4, 64})->Args({1, 4, 32})->Args({1, 4, 64})->Args({0, 4, 0})->Args({-1, 4, 0});

}  // namespace

BENCHMARK_MAIN();

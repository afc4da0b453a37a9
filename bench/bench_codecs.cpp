// SPDX-License-Identifier: MIT
// Codec speeds on UI-like images (gradients, flat areas with icons, photo
// noise, glyph masks), in pixel bytes per second:
//   Rle/Encode, Rle/Decode, Lz4/Decode, Memcpy   per tile, 32x32 and 64x64
//   Region/C4ZL, Region/CELR, Region/OneBlockLz4, Region/Memcpy   whole images
//   Region/C4ZLTiles   LZ4_decompress_safe over the C4ZL block's payloads
//                      alone: what the tile walk and row copies add to
// Every set-up checks its round trip before anything is timed. Set
// MORVANE_CORPUS to a real-image corpus folder to time its images instead.
// After the runs, tables give the speeds (median over the repetitions, with
// --benchmark_repetitions=N) and the ratios: run-length decode over LZ4
// decode per tile, and each region decode over one-block LZ4, as the ratio
// of the medians, of the best runs, and the lowest to highest ratio of the
// runs paired in order.
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/image_gen.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

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
      // 3: the payloads of the "C4ZL" block alone.
      const int kind = codec == 3 ? CODEC_KIND_LZ4 : codec;
      block.resize(tile_image_bound(w, h, side, side, format, kind));
      block.resize(static_cast<size_t>(
          encode_tile_image(img, block, w, h, side, side, static_cast<uint8_t>(format), static_cast<uint8_t>(kind))));
      check(read_tile_image(block.data()).magic != MORVANE_TILE_MAGIC_RAW || codec != 3, "C4ZL block stored untiled");
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
  static std::vector<uint8_t> scratch(TILE_BUFFER_SIZE);
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
      } else if (codec == 3) {
        const uint8_t* block = b.block[i].data();
        const uint32_t count = read_tile_image(block).tile_count;
        for (uint32_t t = 0; t < count; ++t) {
          const TileRef r = read_tile_ref(block + TILE_HEADER_SIZE + TILE_REF_SIZE * t);
          benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(block + r.offset),
                                                       reinterpret_cast<char*>(scratch.data()),
                                                       static_cast<int>(r.len), static_cast<int>(scratch.size())));
        }
        benchmark::ClobberMemory();
      } else {
        benchmark::DoNotOptimize(decode_tile_region(b.block[i], out, 0, 0, b.size[i].first, b.size[i].second));
        tile_cache_forget(b.block[i].data());
      }
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.bytes));
}

// codec: 2 "C4ZL", 1 "CELR", 3 the "C4ZL" payloads alone, 0 one LZ4 block
// per image, -1 memcpy.
BENCHMARK(BM_Region)
    ->ArgNames({"codec", "bpp", "tile"})
    ->Args({2, 2, 32})->Args({2, 2, 64})->Args({1, 2, 32})->Args({1, 2, 64})->Args({3, 2, 32})->Args({3, 2, 64})
    ->Args({0, 2, 0})->Args({-1, 2, 0})
    ->Args({2, 4, 32})->Args({2, 4, 64})->Args({1, 4, 32})->Args({1, 4, 64})->Args({3, 4, 32})->Args({3, 4, 64})
    ->Args({0, 4, 0})->Args({-1, 4, 0});

// Prints as the console reporter does, keeps every speed, and prints the
// tables of speeds and ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      std::string name = run.benchmark_name();
      if (const size_t cut = name.find("/repeats:"); cut != std::string::npos) name.resize(cut);
      speeds_[name].push_back(it->second.value);
    }
  }

  void Tables() const {
    std::printf("\nPer tile, GiB/s (median), run-length decode over LZ4 decode\n");
    std::printf("%-4s %-5s %8s %8s %8s | %6s %6s %13s\n", "bpp", "tile", "RLE", "LZ4", "memcpy", "median", "best",
                "runs");
    for (int bpp = 1; bpp <= 4; ++bpp) {
      for (int side : {32, 64}) {
        const std::string args = "/bpp:" + std::to_string(bpp) + "/tile:" + std::to_string(side);
        const auto* rle = find("BM_RleDecode" + args);
        const auto* lz4 = find("BM_Lz4Decode" + args);
        const auto* mem = find("BM_Memcpy" + args);
        if (rle == nullptr || lz4 == nullptr) continue;
        std::printf("%-4d %-5d %8.2f %8.2f %8.2f | ", bpp, side, gib(median(*rle)), gib(median(*lz4)),
                    mem ? gib(median(*mem)) : 0.0);
        print_ratio(*rle, *lz4);
      }
    }
    std::printf("\nWhole images, GiB/s (median), each over one-block LZ4\n");
    std::printf("%-4s %-5s %8s %8s %8s %8s %8s | %-13s %6s %6s %13s\n", "bpp", "tile", "C4ZL", "CELR", "payloads",
                "LZ4", "memcpy", "ratio", "median", "best", "runs");
    for (int bpp : {2, 4}) {
      const std::string b = "/bpp:" + std::to_string(bpp);
      const auto* lz4 = find("BM_Region/codec:0" + b + "/tile:0");
      const auto* mem = find("BM_Region/codec:-1" + b + "/tile:0");
      for (int side : {32, 64}) {
        const std::string t = b + "/tile:" + std::to_string(side);
        const auto* c4zl = find("BM_Region/codec:2" + t);
        const auto* celr = find("BM_Region/codec:1" + t);
        const auto* tiles = find("BM_Region/codec:3" + t);
        if (lz4 == nullptr) continue;
        const char* first = "C4ZL / LZ4";
        for (const auto& [what, v] : {std::pair{first, c4zl}, std::pair{"CELR / LZ4", celr},
                                      std::pair{"payloads / LZ4", tiles}}) {
          if (v == nullptr) continue;
          if (what == first) {
            std::printf("%-4d %-5d %8.2f %8.2f %8.2f %8.2f %8.2f | ", bpp, side, gib(median(*c4zl)),
                        celr ? gib(median(*celr)) : 0.0, tiles ? gib(median(*tiles)) : 0.0, gib(median(*lz4)),
                        mem ? gib(median(*mem)) : 0.0);
          } else {
            std::printf("%-56s | ", "");
          }
          std::printf("%-13s ", what);
          print_ratio(*v, *lz4);
        }
      }
    }
  }

 private:
  using Speeds = std::vector<double>;
  const Speeds* find(const std::string& name) const {
    auto it = speeds_.find(name);
    return it == speeds_.end() ? nullptr : &it->second;
  }
  static double gib(double v) { return v / (1024.0 * 1024.0 * 1024.0); }
  static double median(Speeds v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  static void print_ratio(const Speeds& a, const Speeds& b) {
    double low = 1e9, high = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
      low = std::min(low, a[i] / b[i]);
      high = std::max(high, a[i] / b[i]);
    }
    std::printf("%6.3f %6.3f %6.3f..%-6.3f\n", median(a) / median(b),
                *std::max_element(a.begin(), a.end()) / *std::max_element(b.begin(), b.end()), low, high);
  }
  std::map<std::string, Speeds> speeds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.Tables();
  benchmark::Shutdown();
  return 0;
}

// SPDX-License-Identifier: MIT
// Whole-image region decoding of tiled blocks against one LZ4 block of the
// same image and against memcpy, on UI-like images, in pixel bytes per second.
//
// Per image (size / kind / bytes per pixel) the variants are:
//   C4ZL32, C4ZL64   decode_tile_region of a "C4ZL" block whose tile size is
//                    what the compress command picks for a suggested 32x32 /
//                    64x64 (so strips for narrow or low images)
//   CELR32, CELR64   the same for "CELR" blocks
//   Tiles32, Tiles64 LZ4_decompress_safe over the C4ZL block's tile payloads
//                    alone (no walk, no cache, no row copies): the floor that
//                    the tile format leaves to the region decoder
//   Lz4Block         LZ4_decompress_safe of the whole image as one block
//                    (LZ4 HC level 12)
//   Memcpy           the raw image copied
// The slot is given up after every decode, so each iteration decodes every
// tile. Each block is decoded once and compared with its source before
// anything is timed. When a tiled block falls back to the untiled "CWAR" form
// (coded tiles larger than the raw image), its label says so.
//
// After the runs a table gives each variant's speed as a share of Lz4Block's
// (the median over repetitions, with --benchmark_repetitions=N).
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/image_gen.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

using Bytes = std::vector<uint8_t>;

struct ImageDesc {
  int width, height;
  ImageKind kind;
  const char* kind_name;
  int bpp;
};

enum class Variant { Tiled, Tiles, Lz4Block, Memcpy };

struct Case {
  ImageDesc image;
  Variant variant;
  int codec_kind;  // for Tiled and Tiles
  int tile;        // tile side, for Tiled and Tiles
};

void fail(const char* what, const std::string& name) {
  std::fprintf(stderr, "%s: %s\n", name.c_str(), what);
  std::abort();
}

int pixel_format_for(int bpp) { return bpp == 1 ? 5 : bpp == 2 ? 1 : bpp == 3 ? 3 : 4; }

const char* magic_name(uint32_t magic) {
  return magic == MORVANE_TILE_MAGIC_LZ4 ? "C4ZL" : magic == MORVANE_TILE_MAGIC_RLE ? "CELR" : magic == MORVANE_TILE_MAGIC_RAW ? "CWAR" : "?";
}

// The tile size that the compress command picks for a suggested side x side:
// one tile for a small image, full-width strips for a narrow one,
// full-height strips for a low one, else side x side.
std::pair<int, int> tile_size(int w, int h, int side) {
  const int area = side * side;
  if (w * h <= area) return {w, h};
  if (w < h && w <= side) return {w, area / w};
  if (w > h && h <= side) return {area / h, h};
  return {side, side};
}

Bytes encode_block(const Bytes& img, const ImageDesc& s, int side, int codec_kind, const std::string& name) {
  const int format = pixel_format_for(s.bpp);
  const auto [tw, th] = tile_size(s.width, s.height, side);
  Bytes block(tile_image_bound(s.width, s.height, tw, th, format, codec_kind));
  const int32_t n = encode_tile_image(img, block, s.width, s.height, tw, th, static_cast<uint8_t>(format),
                                      static_cast<uint8_t>(codec_kind));
  if (n <= 0) fail("encoding failed", name);
  block.resize(static_cast<size_t>(n));
  Bytes back(img.size());
  if (decode_tile_region(block, back, 0, 0, s.width, s.height) != static_cast<int32_t>(img.size()) || back != img)
    fail("tiled block does not decode to its image", name);
  tile_cache_forget(block.data());
  return block;
}

// What one benchmark times, made and checked once.
struct Prepared {
  Bytes img;
  Bytes block;                // tiled block or LZ4 block
  std::vector<TileRef> refs;  // Tiles: the payloads to decode
  std::string label;
};

const Prepared& prepare(const Case& c, const std::string& name) {
  static std::map<std::string, std::unique_ptr<Prepared>> done;
  std::unique_ptr<Prepared>& p = done[name];
  if (p) return *p;
  p = std::make_unique<Prepared>();
  const ImageDesc& s = c.image;
  p->img = make_image(s.kind, s.width, s.height, s.bpp, 11);
  const int32_t size = static_cast<int32_t>(p->img.size());
  switch (c.variant) {
    case Variant::Tiled:
    case Variant::Tiles: {
      p->block = encode_block(p->img, s, c.tile, c.codec_kind, name);
      const TileImage t = read_tile_image(p->block.data());
      p->label = std::string(magic_name(t.magic)) + ", " + std::to_string(t.tile_width) + "x" +
                 std::to_string(t.tile_height) + ", " + std::to_string(p->block.size()) + " B";
      if (c.variant == Variant::Tiles && t.magic == MORVANE_TILE_MAGIC_LZ4)
        for (uint32_t i = 0; i < t.tile_count; ++i)
          p->refs.push_back(read_tile_ref(p->block.data() + TILE_HEADER_SIZE + TILE_REF_SIZE * i));
      break;
    }
    case Variant::Lz4Block: {
      p->block.resize(static_cast<size_t>(LZ4_compressBound(size)));
      p->block.resize(static_cast<size_t>(
          lz4_hc_compress(p->img.data(), p->block.data(), size, static_cast<int32_t>(p->block.size()))));
      if (p->block.empty()) fail("LZ4 HC failed", name);
      Bytes back(p->img.size());
      if (LZ4_decompress_safe(reinterpret_cast<const char*>(p->block.data()), reinterpret_cast<char*>(back.data()),
                              static_cast<int>(p->block.size()), size) != size ||
          back != p->img)
        fail("LZ4 block does not decode to its image", name);
      p->label = std::to_string(p->block.size()) + " B";
      break;
    }
    case Variant::Memcpy:
      break;
  }
  return *p;
}

void run_case(benchmark::State& state, const Case& c, const std::string& name) {
  const Prepared& p = prepare(c, name);
  const ImageDesc& s = c.image;
  const int32_t size = static_cast<int32_t>(p.img.size());
  Bytes out(p.img.size());
  static Bytes scratch(TILE_BUFFER_SIZE);
  state.SetLabel(p.label);
  switch (c.variant) {
    case Variant::Tiled:
      for (auto _ : state) {
        benchmark::DoNotOptimize(decode_tile_region(p.block, out, 0, 0, s.width, s.height));
        tile_cache_forget(p.block.data());
        benchmark::ClobberMemory();
      }
      break;
    case Variant::Tiles:
      for (auto _ : state) {
        for (const TileRef& r : p.refs)
          benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(p.block.data() + r.offset),
                                                       reinterpret_cast<char*>(scratch.data()),
                                                       static_cast<int>(r.len), static_cast<int>(TILE_BUFFER_SIZE)));
        benchmark::ClobberMemory();
      }
      break;
    case Variant::Lz4Block:
      for (auto _ : state) {
        benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(p.block.data()),
                                                     reinterpret_cast<char*>(out.data()),
                                                     static_cast<int>(p.block.size()), size));
        benchmark::ClobberMemory();
      }
      break;
    case Variant::Memcpy:
      for (auto _ : state) {
        std::memcpy(out.data(), p.img.data(), p.img.size());
        benchmark::ClobberMemory();
      }
      break;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

// Prints as the console reporter does, and keeps every speed for the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      const std::string name = run.benchmark_name();
      const size_t cut = name.rfind('/');
      speeds_[name.substr(0, cut)][name.substr(cut + 1)].push_back(it->second.value);
      labels_[name] = run.report_label;
    }
  }

  void Table() const {
    constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
    static const char* const kOrder[] = {"C4ZL32", "C4ZL64", "Tiles32", "Tiles64", "CELR32", "CELR64", "Memcpy"};
    std::printf("\nSpeed in GiB/s and as a share of one LZ4 block (C4ZL: >= 80%% wanted; raw: untiled)\n");
    std::printf("%-26s %9s", "image", "Lz4Block");
    for (const char* v : kOrder) std::printf(" %16s", v);
    std::printf("\n");
    for (const auto& [image, variants] : speeds_) {
      auto base_it = variants.find("Lz4Block");
      const double base = base_it == variants.end() ? 0 : median(base_it->second);
      std::printf("%-26s %9.2f", image.c_str(), base / kGiB);
      for (const char* v : kOrder) {
        auto it = variants.find(v);
        if (it == variants.end()) {
          std::printf(" %16s", "-");
          continue;
        }
        const double speed = median(it->second);
        char cell[40];
        const std::string label = labels_.count(image + "/" + v) ? labels_.at(image + "/" + v) : "";
        const bool raw = label.rfind("CWAR", 0) == 0;
        if (raw && std::strncmp(v, "Tiles", 5) == 0) {
          std::printf(" %16s", "raw");
          continue;
        }
        std::snprintf(cell, sizeof cell, "%.2f %4.0f%%%s", speed / kGiB, base > 0 ? 100 * speed / base : 0.0,
                      raw ? " raw" : "");
        std::printf(" %16s", cell);
      }
      std::printf("\n");
    }
  }

 private:
  static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  std::map<std::string, std::map<std::string, std::vector<double>>> speeds_;
  std::map<std::string, std::string> labels_;
};

void register_all() {
  struct Kind {
    ImageKind kind;
    const char* name;
  };
  const Kind kinds[] = {{ImageKind::Gradient, "Gradient"},
                        {ImageKind::Flat, "Flat"},
                        {ImageKind::Glyphs, "Glyphs"},
                        {ImageKind::Noise, "Noise"}};
  // Screens, and a narrow and a low strip (tiled as strips with 64).
  const std::pair<int, int> sizes[] = {{480, 272}, {800, 480}, {48, 600}, {600, 40}};
  for (auto [w, h] : sizes) {
    for (int bpp : {2, 4}) {
      for (const Kind& k : kinds) {
        const ImageDesc image{w, h, k.kind, k.name, bpp};
        const std::string prefix =
            "TileRegion/" + std::to_string(w) + "x" + std::to_string(h) + "/bpp" + std::to_string(bpp) + "/" + k.name;
        const std::pair<std::string, Case> cases[] = {
            {"Lz4Block", {image, Variant::Lz4Block, 0, 0}},
            {"C4ZL32", {image, Variant::Tiled, CODEC_KIND_LZ4, 32}},
            {"C4ZL64", {image, Variant::Tiled, CODEC_KIND_LZ4, 64}},
            {"Tiles32", {image, Variant::Tiles, CODEC_KIND_LZ4, 32}},
            {"Tiles64", {image, Variant::Tiles, CODEC_KIND_LZ4, 64}},
            {"CELR32", {image, Variant::Tiled, CODEC_KIND_RLE, 32}},
            {"CELR64", {image, Variant::Tiled, CODEC_KIND_RLE, 64}},
            {"Memcpy", {image, Variant::Memcpy, 0, 0}},
        };
        for (const auto& [suffix, c] : cases) {
          const std::string name = prefix + "/" + suffix;
          benchmark::RegisterBenchmark(name.c_str(), [c = c, name](benchmark::State& st) { run_case(st, c, name); });
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.Table();
  benchmark::Shutdown();
  return 0;
}

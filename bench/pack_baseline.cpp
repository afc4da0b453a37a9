// SPDX-License-Identifier: MIT
// pack_baseline MODE PACK: the bare codec work of a pack conversion, timed
// without the tool's file handling, for comparison with `morvane -c/-d`.
//   whole        LZ4 HC level 12 of every image as one block
//   tiled K      every image cut as the compress command cuts it, tiles coded
//                with codec kind K (1 run-length, 2 LZ4 HC)
//   unwhole      LZ4 decoding of every entry of a whole-entry compressed pack
//   untiled      whole-image region decoding of every block of a tiled pack
//   entries      compress_entry of every entry on one thread, in the pack's own
//                mode, its CPU time taken one by one: the longest, the total, and the wall
//                time that P threads would take (a model of the pipeline:
//                entries started in table order while the bytes in flight
//                fit the budget, at most its slots in flight, released in
//                table order once written, the LZ4 tiles of large tiled
//                images split into jobs that idle threads take first)
// Prints the seconds spent and the bytes produced; checks what it decodes.
#include <lz4.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/convert.h"
#include "core/pipeline.h"
#include "core/tile_size.h"
#include "support/pack_writer.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

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

double thread_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct EntryTime {
  double seconds;
  size_t jobs;     // 1, or the tile jobs it is split into
  uint64_t bytes;  // what it holds in flight
};

// Wall time of the entries on p threads, by the model above.
double pipeline_seconds(const std::vector<EntryTime>& entries, size_t p) {
  std::vector<double> free_at(p, 0.0), written(entries.size(), 0.0);
  // As Pipeline sizes its ring and budget.
  const size_t slots = p > 1 ? std::max<size_t>(64, 4 * p) : 1;
  uint64_t largest = 0;
  for (const EntryTime& e : entries) largest = std::max(largest, e.bytes);
  const uint64_t budget = pipeline_budget(largest);
  size_t first = 0;       // the oldest entry in flight beside entry i
  uint64_t held = 0;      // the bytes of entries first .. i - 1
  for (size_t i = 0; i < entries.size(); ++i) {
    // Started once the entries before `first` are written: no more than
    // `slots` in flight, and its bytes fit beside theirs (alone it always
    // starts).
    while (first < i && (i - first >= slots || held + entries[i].bytes > budget)) held -= entries[first++].bytes;
    held += entries[i].bytes;
    const size_t w = static_cast<size_t>(std::min_element(free_at.begin(), free_at.end()) - free_at.begin());
    const double start = std::max(free_at[w], first > 0 ? written[first - 1] : 0.0);
    double finish = start + entries[i].seconds;
    if (entries[i].jobs > 1) {
      // Its worker and every thread that frees up take its jobs.
      std::vector<double> at = free_at;
      at[w] = start;
      const double job = entries[i].seconds / static_cast<double>(entries[i].jobs);
      for (size_t j = 0; j < entries[i].jobs; ++j) {
        double& t = *std::min_element(at.begin(), at.end());
        t = std::max(t, start) + job;
        finish = j == 0 ? t : std::max(finish, t);
      }
      for (size_t k = 0; k < p; ++k)
        if (k != w && at[k] > free_at[k]) free_at[k] = at[k];
    }
    free_at[w] = finish;
    written[i] = std::max(finish, i > 0 ? written[i - 1] : 0.0);
  }
  return entries.empty() ? 0.0 : written.back();
}

int time_entries(const ParsedPack& pack) {
  const PackMode mode = pack_mode(pack.header);
  std::vector<EntryTime> times;
  double total = 0.0, longest = 0.0;
  std::string longest_name;
  for (size_t i = 0; i < pack.entries.size(); ++i) {
    PackEntry e = pack.entries[i];
    if (e.type != TYPE_JPEG) e.len = static_cast<uint32_t>(entry_bytes_per_pixel(e) * pack.rects[i].width *
                                                           pack.rects[i].height + 4);
    const std::vector<uint8_t>& p = pack.payloads[i];
    const uint64_t n = payload_len(e);
    const std::span<const uint8_t> data(p.data(), std::min<size_t>(p.size(), compress_read_size(e, mode)));
    // CPU time: what the entry costs, whatever else the machine runs.
    const double t0 = thread_seconds();
    EntryResult r = compress_entry(e, pack.rects[i], data, mode);
    const double s = thread_seconds() - t0;
    if (!r.status.ok()) std::abort();
    const bool split = mode.tiled && mode.codec_kind == CODEC_KIND_LZ4 && e.type != TYPE_JPEG && n >= SPLIT_MIN_BYTES;
    times.push_back({s, split ? static_cast<size_t>((n + 65535) / 65536) : 1,
                     compress_work_bytes(e, pack.rects[i], mode, data.size())});
    total += s;
    if (s > longest) {
      longest = s;
      longest_name = entry_name_text(e).text;
    }
  }
  std::printf("entries: %zu, total %.3f s, longest %.3f s (%s)\n", times.size(), total, longest,
              longest_name.c_str());
  for (size_t p : {1, 2, 4, 8, 16, 64}) {
    const double wall = pipeline_seconds(times, p);
    std::printf("  %2zu threads: %.3f s, speed-up %.2f\n", p, wall, wall > 0 ? total / wall : 0.0);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("usage: pack_baseline whole|tiled K|unwhole|untiled|entries PACK\n");
    return 2;
  }
  const std::string mode = argv[1];
  if (mode == "entries") return time_entries(parse_pack(read_file(argv[2])));
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
      dst.resize(static_cast<size_t>(type_bytes_per_pixel(raw_type(e.type))) * r.width * r.height);
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

// SPDX-License-Identifier: MIT
// png_settings PACK: every image of a pack encoded as export encodes it
// (its pixels, the format export chooses without a manifest, a PNG), under
// each of a few zlib levels, strategies and row-filter choices: the CPU
// seconds of this thread and the bytes of all the PNGs, against the
// library's defaults.
#include <time.h>

#include <cstdio>
#include <vector>

#include "core/entry_pixels.h"
#include "core/pack_file.h"
#include "tool/export_formats.h"
#include "tool/image_files.h"

namespace {

double thread_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Image {
  uint32_t width, height;
  int channels;
  std::vector<uint8_t> samples;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: png_settings PACK\n");
    return 2;
  }
  PackFile pf;
  if (Status s = open_pack(pf, argv[1], {.keep_bad_entries = true}); !s.ok()) {
    std::printf("%s: %s\n", argv[1], s.message.c_str());
    return 1;
  }
  const PackRecords& pack = pf.records;
  std::vector<Image> images;
  uint64_t pixel_bytes = 0;
  for (size_t i = 0; i < pack.entries.size(); ++i) {
    const PackEntry& e = pack.entries[i].entry;
    const EntryRect& r = pack.entries[i].rect;
    std::vector<uint8_t> payload;
    if (!entry_problem(pack, i).empty() || !pf.in.read_range(entry_payload_pos(e), payload_len(e), payload)) continue;
    EntryPixels px;
    if (!entry_pixels(pack_mode(pack.header), e, r, payload, px).ok() || px.form == EntryForm::Jpeg ||
        r.width == 0 || r.height == 0)
      continue;
    const ExportFormat f = choose_export_format(nullptr, px.bytes_per_pixel);
    pixel_bytes += px.pixels.size();
    images.push_back({r.width, r.height, f.format->channels, pixels_to_samples(*f.format, px.pixels)});
  }
  constexpr int ALL = 8 | 16 | 32 | 64 | 128;
  struct Named {
    const char* name;
    PngSettings s;
  };
  const Named settings[] = {
      {"defaults (level 6, filtered, every filter)", {-1, 1, ALL}},
      {"level 1, filtered, every filter", {1, 1, ALL}},
      {"level 3, filtered, every filter", {3, 1, ALL}},
      {"level 4, filtered, up", {4, 1, 32}},
      {"level 1, filtered, up", {1, 1, 32}},
      {"level 1, Huffman only, every filter", {1, 2, ALL}},
      {"level 1, run-length, every filter", {1, 3, ALL}},
      {"level 1, run-length, up", {1, 3, 32}},
      {"level 1, run-length, sub", {1, 3, 16}},
      {"level 1, run-length, paeth", {1, 3, 128}},
      {"level 1, run-length, none and up", {1, 3, 8 | 32}},
      {"level 1, run-length, sub, up and paeth", {1, 3, 16 | 32 | 128}},
      {"level 6, run-length, every filter", {6, 3, ALL}},
  };
  std::printf("%zu images, %llu pixel bytes\n", images.size(), static_cast<unsigned long long>(pixel_bytes));
  double base_s = 0, base_b = 0;
  for (const Named& n : settings) {
    uint64_t bytes = 0;
    std::vector<uint8_t> png;
    const double t0 = thread_seconds();
    for (const Image& im : images) {
      if (Status s = write_png(im.width, im.height, im.channels, im.samples, png, n.s); !s.ok()) {
        std::printf("%s\n", s.message.c_str());
        return 1;
      }
      bytes += png.size();
    }
    const double s = thread_seconds() - t0;
    if (base_s == 0) base_s = s, base_b = static_cast<double>(bytes);
    std::printf("%-45s %7.3f s CPU  %10llu bytes  speed x%.2f  size x%.3f\n", n.name, s,
                static_cast<unsigned long long>(bytes), base_s / s, static_cast<double>(bytes) / base_b);
  }
  return 0;
}

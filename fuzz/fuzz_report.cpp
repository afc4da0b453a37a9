// SPDX-License-Identifier: MIT
// morvane-tool report's entry decoding over arbitrary packs of at most 16
// entries: each entry in view (fuzz_entries.h) made into its record, whole
// and with its last byte missing, then the page of them all. Never a crash;
// a thumbnail never passes 128 pixels, a tile map fills its grid, an entry
// the file cuts short is an error.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "tool/tool_report.h"

namespace {
constexpr size_t kMaxEntries = 16;
}  // namespace

extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> in(data, size);
  if (in.size() < PACK_HEADER_SIZE) return 0;
  PackHeader header;
  std::copy(in.begin(), in.begin() + PACK_HEADER_SIZE, header.bytes.begin());
  const bool tiled = pack_is_tiled(header);
  std::vector<ReportEntry> entries;
  size_t seen = 0;
  fuzz_for_each_entry(in, [&](const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload) {
    if (++seen > kMaxEntries || !fuzz_worth_decoding(tiled, rect, payload)) return;
    ReportEntry x = report_entry(PackMode{tiled}, e, rect, payload);
    if (x.thumb_width > THUMBNAIL_MAX_SIDE || x.thumb_height > THUMBNAIL_MAX_SIDE ||
        x.thumbnail.empty() != (x.thumb_width == 0) || x.stored != payload.size() ||
        x.tile_bytes.size() != uint64_t{x.tiles_across} * x.tiles_down)
      __builtin_trap();
    if (!payload.empty() && report_entry(PackMode{tiled}, e, rect, payload.first(payload.size() - 1)).error.empty())
      __builtin_trap();
    entries.push_back(std::move(x));
  });
  const std::string page = report_html("fuzz.pack", header, static_cast<int64_t>(size), entries);
  if (page.size() < 100 || page.compare(page.size() - 8, 8, "</html>\n") != 0) __builtin_trap();
  return 0;
}

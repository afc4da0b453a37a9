// SPDX-License-Identifier: MIT
// export --formats over arbitrary input: the first two bytes (little-endian)
// give the length of the manifest text that follows, the rest is the pack.
// Never a crash; every image entry export would write gets a format of the
// bytes per pixel it decodes to, and only 2- and 3-byte formats are assumed.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/entry_pixels.h"
#include "fuzz/fuzz_entries.h"
#include "tool/export_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t text_len = std::min<size_t>(load_le16(data), size - 2);
  const std::string_view text(reinterpret_cast<const char*>(data + 2), text_len);
  const std::span<const uint8_t> pack(data + 2 + text_len, size - 2 - text_len);
  // Every entry is decoded as export decodes it; a few keep a run fast.
  if (pack.size() < PACK_HEADER_SIZE || load_le16(pack.data() + 4) > 16) return 0;
  Manifest m;
  if (!parse_manifest(text, m).ok()) return 0;
  ManifestMatcher matcher(m);
  const bool tiled = pack[TILED_FLAG] != 0;
  fuzz_for_each_entry(pack, [&](const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload) {
    const ManifestEntry* from = matcher.next(entry_name(e));
    EntryPixels px;
    if (!entry_pixels(PackMode{tiled}, e, rect, payload, px).ok() || px.form == EntryForm::Jpeg) return;
    const ExportFormat f = choose_export_format(from, px.bytes_per_pixel);
    if (f.format == nullptr || f.format->bytes != px.bytes_per_pixel) __builtin_trap();
    if (f.assumed && f.format->bytes != 2 && f.format->bytes != 3) __builtin_trap();
  });
  return 0;
}

// SPDX-License-Identifier: MIT
#include "tool/export_formats.h"

#include "core/entry_pixels.h"
#include "pack/pack_format.h"

ManifestMatcher::ManifestMatcher(const Manifest& m) : manifest_(&m) {
  for (size_t i = 0; i < m.entries.size(); ++i) by_name_[m.entries[i].name].push_back(i);
}

const ManifestEntry* ManifestMatcher::next(std::string_view name) {
  if (manifest_ == nullptr) return nullptr;
  auto it = by_name_.find(name);
  if (it == by_name_.end()) return nullptr;
  size_t& seen = seen_[it->first];
  const size_t n = seen++;
  return n < it->second.size() ? &manifest_->entries[it->second[n]] : nullptr;
}

ExportFormat choose_export_format(const ManifestEntry* from, int bytes_per_pixel) {
  if (from != nullptr && from->type != TYPE_JPEG) {
    const PixelFormatInfo* f = from->format.empty() ? default_pixel_format(type_bytes_per_pixel(from->type))
                                                    : find_pixel_format(from->format);
    if (f != nullptr && f->bytes == bytes_per_pixel) return {f, false};
  }
  return {default_pixel_format(bytes_per_pixel), bytes_per_pixel == 2 || bytes_per_pixel == 3};
}

bool export_formats_in_memory(std::string_view manifest_text, std::span<const uint8_t> pack,
                              std::vector<ExportFormat>& out, std::string& error) {
  Manifest m;
  if (!parse_manifest(manifest_text, m, error)) return false;
  if (pack.size() < PACK_HEADER_SIZE || load_le32(pack.data()) != PACK_MAGIC) {
    error = "not a pack";
    return false;
  }
  const size_t count = load_le16(pack.data() + 4);
  if (pack.size() < PACK_HEADER_SIZE + count * PACK_ENTRY_SIZE) {
    error = "the entry table runs past the end of the pack";
    return false;
  }
  const bool tiled = pack[TILED_FLAG] != 0;
  ManifestMatcher matcher(m);
  out.assign(count, ExportFormat{});
  for (size_t i = 0; i < count; ++i) {
    const PackEntry e = read_pack_entry(pack.data() + PACK_HEADER_SIZE + i * PACK_ENTRY_SIZE);
    const ManifestEntry* from = matcher.next(entry_name(e));
    // As export reads the pack: the stored len, all of it inside the file.
    if (e.len < ENTRY_RECT_SIZE || uint64_t{e.offset} + e.len > pack.size()) continue;
    const EntryRect rect = read_entry_rect(pack.data() + e.offset);
    EntryPixels px;
    if (!entry_pixels(tiled, e, rect, pack.subspan(e.offset + ENTRY_RECT_SIZE, payload_len(e)), px).ok() ||
        px.form == EntryForm::Jpeg)
      continue;
    out[i] = choose_export_format(from, px.bytes_per_pixel);
  }
  return true;
}

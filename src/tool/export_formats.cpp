// SPDX-License-Identifier: MIT
#include "tool/export_formats.h"

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

// SPDX-License-Identifier: MIT
// The pixel format `morvane-tool export` writes each image entry in. A pack
// records a type code, not a pixel format, and a 2- or 3-byte type fits
// several formats (rgb565, argb1555, argb4444; rgb888, argb8565): only the
// manifest the pack was created from tells them apart.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tool/manifest.h"
#include "tool/pixel_formats.h"

struct ExportFormat {
  const PixelFormatInfo* format = nullptr;
  // The default of the entry's bytes per pixel for want of a better source,
  // for 2 or 3 bytes per pixel, where other formats fit too.
  bool assumed = false;
};

// Pairs the entries of a pack with those of a manifest by name: the N-th
// entry of a name in the pack with the N-th entry of that name in the
// manifest, so a pack pairs with the manifest it was created from even when
// names repeat.
class ManifestMatcher {
 public:
  // No manifest: every entry is missing from it.
  ManifestMatcher() = default;
  explicit ManifestMatcher(const Manifest& m);
  // For every entry of the pack, in table order (JPEG entries and entries
  // that fail too): its manifest entry, or nullptr.
  const ManifestEntry* next(std::string_view name);

 private:
  const Manifest* manifest_ = nullptr;
  std::map<std::string, std::vector<size_t>, std::less<>> by_name_;
  std::map<std::string, size_t, std::less<>> seen_;
};

// The format of an image entry of bytes_per_pixel (1..4): the manifest
// entry's `format` (or its type's default) when it has that many bytes per
// pixel; otherwise the default of bytes_per_pixel, assumed for 2 and 3.
ExportFormat choose_export_format(const ManifestEntry* from, int bytes_per_pixel);

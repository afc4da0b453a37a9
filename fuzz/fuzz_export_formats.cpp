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
#include <vector>

#include "pack/pack_format.h"
#include "tool/export_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t text_len = std::min<size_t>(load_le16(data), size - 2);
  const std::string_view text(reinterpret_cast<const char*>(data + 2), text_len);
  const std::span<const uint8_t> pack(data + 2 + text_len, size - 2 - text_len);
  // Every entry is decoded as export decodes it; a few keep a run fast.
  if (pack.size() >= PACK_HEADER_SIZE && load_le16(pack.data() + 4) > 16) return 0;
  std::vector<ExportFormat> formats;
  std::string error;
  if (!export_formats_in_memory(text, pack, formats, error)) return 0;
  if (formats.size() != load_le16(pack.data() + 4)) __builtin_trap();
  for (const ExportFormat& f : formats) {
    if (f.format == nullptr) continue;
    const int bpp = f.format->bytes;
    if (bpp < 1 || bpp > 4 || (f.assumed && bpp != 2 && bpp != 3)) __builtin_trap();
  }
  return 0;
}

// SPDX-License-Identifier: MIT
// morvane-tool's readers over arbitrary bytes: the manifest, PNG and JPEG
// files, and every entry of a pack as export decodes it (those within reach
// of their bytes: fuzz_entries.h). Never a crash; a manifest that parses must come back the same through its own writer.
#include <cstdint>
#include <span>
#include <string>

#include "core/entry_pixels.h"
#include "fuzz/fuzz_entries.h"
#include "pack/pack_format.h"
#include "tool/image_files.h"
#include "tool/manifest.h"
#include "tool/pixel_formats.h"

namespace {

void entries_as_export_reads_them(std::span<const uint8_t> in) {
  fuzz_for_each_entry(in, [](const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload) {
    for (bool tiled : {false, true}) {
      if (!fuzz_worth_decoding(tiled, rect, payload)) continue;
      EntryPixels px;
      if (!entry_pixels(PackMode{tiled}, e, rect, payload, px).ok() || px.form == EntryForm::Jpeg) continue;
      if (px.pixels.size() != uint64_t{rect.width} * rect.height * uint64_t(px.bytes_per_pixel))
        __builtin_trap();
      const PixelFormatInfo* f = default_pixel_format(px.bytes_per_pixel);
      if (f == nullptr) __builtin_trap();
      std::vector<uint8_t> png;
      if (rect.width > 0 && rect.height > 0 && px.pixels.size() <= (1u << 16) &&
          !write_png(rect.width, rect.height, f->channels, pixels_to_samples(*f, px.pixels), png).ok())
        __builtin_trap();
    }
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> in(data, size);
  Manifest m;
  if (parse_manifest({reinterpret_cast<const char*>(data), size}, m).ok()) {
    const std::string text = manifest_json(m);
    Manifest again;
    if (!parse_manifest(text, again).ok() || manifest_json(again) != text) __builtin_trap();
  }
  Picture pic;
  if (read_png(in, uint64_t{1} << 22, pic).ok() && pic.rgba.size() != uint64_t{pic.width} * pic.height * 4)
    __builtin_trap();
  uint16_t w = 0, h = 0;
  jpeg_size(in, w, h);
  entries_as_export_reads_them(in);
  return 0;
}

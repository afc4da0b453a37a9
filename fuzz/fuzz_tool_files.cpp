// morvane-tool's readers over arbitrary bytes: the manifest, PNG and JPEG
// files, and every entry of a pack as export decodes it. Never a crash; a
// manifest that parses must come back the same through its own writer.
#include <cstdint>
#include <span>
#include <string>

#include "core/entry_pixels.h"
#include "pack/pack_format.h"
#include "tool/image_files.h"
#include "tool/manifest.h"
#include "tool/pixel_formats.h"

namespace {

void entries_as_export_reads_them(std::span<const uint8_t> in) {
  if (in.size() < PACK_HEADER_SIZE || load_le32(in.data()) != PACK_MAGIC) return;
  const size_t count = load_le16(in.data() + 4);
  for (size_t i = 0; i < count && PACK_HEADER_SIZE + (i + 1) * PACK_ENTRY_SIZE <= in.size(); ++i) {
    const PackEntry e = read_pack_entry(in.data() + PACK_HEADER_SIZE + i * PACK_ENTRY_SIZE);
    if (e.len < ENTRY_RECT_SIZE || uint64_t{e.offset} + e.len > in.size()) continue;
    const EntryRect rect = read_entry_rect(in.data() + e.offset);
    const auto payload = in.subspan(e.offset + ENTRY_RECT_SIZE, e.len - ENTRY_RECT_SIZE);
    for (bool tiled : {false, true}) {
      EntryPixels px;
      if (!entry_pixels(tiled, e, rect, payload, px).ok() || px.form == EntryForm::Jpeg) continue;
      if (px.pixels.size() != uint64_t{rect.width} * rect.height * uint64_t(px.bytes_per_pixel))
        __builtin_trap();
      const PixelFormatInfo* f = default_pixel_format(px.bytes_per_pixel);
      if (f == nullptr) __builtin_trap();
      std::string err;
      std::vector<uint8_t> png;
      if (rect.width > 0 && rect.height > 0 && px.pixels.size() <= (1u << 16) &&
          !write_png(rect.width, rect.height, f->channels, pixels_to_samples(*f, px.pixels), png, err))
        __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> in(data, size);
  std::string err;
  Manifest m;
  if (parse_manifest({reinterpret_cast<const char*>(data), size}, m, err)) {
    const std::string text = manifest_json(m);
    Manifest again;
    if (!parse_manifest(text, again, err) || manifest_json(again) != text) __builtin_trap();
  }
  Picture pic;
  if (read_png(in, uint64_t{1} << 22, pic, err) &&
      pic.rgba.size() != uint64_t{pic.width} * pic.height * 4)
    __builtin_trap();
  uint16_t w = 0, h = 0;
  jpeg_size(in, w, h, err);
  entries_as_export_reads_them(in);
  return 0;
}

// SPDX-License-Identifier: MIT
#include "core/entry_pixels.h"

#include "core/convert.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

uint64_t area(const EntryRect& r) { return uint64_t{r.width} * r.height; }

Status unknown() { return {ENTRY_ERR_UNKNOWN, "payload size fits neither raw pixels nor a compressed form"}; }

// decompress_entry in the pack's mode, accepted only when it gives the
// whole pixel array of bpp bytes per pixel.
Status decode_with(PackMode mode, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload, int bpp,
                   EntryPixels& out, EntryMemory* memory) {
  PackEntry whole = e;
  whole.len = static_cast<uint32_t>(payload.size() + ENTRY_RECT_SIZE);
  EntryResult r = decompress_entry(whole, rect, payload, mode, memory);
  if (!r.status.ok()) return {ENTRY_ERR_CORRUPT, "compressed data does not decode"};
  if (r.data.size() != area(rect) * uint64_t(bpp))
    return {ENTRY_ERR_WRONG_SIZE, "compressed data does not decode to the entry's pixel array"};
  out.pixels = std::move(r.data);
  out.bytes_per_pixel = bpp;
  return {};
}

Status take_raw(std::span<const uint8_t> pixels, uint64_t size, EntryPixels& out) {
  out.pixels.assign(pixels.begin(), pixels.begin() + static_cast<ptrdiff_t>(size));
  return {};
}

}  // namespace

Status entry_pixels(PackMode mode, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload,
                    EntryPixels& out, EntryMemory* memory) {
  out = EntryPixels{};
  out.form = classify_entry(mode, e, rect, payload, payload.size());
  out.bytes_per_pixel = entry_bytes_per_pixel(e);
  out.raw_type = e.type;
  const uint64_t size = area(rect) * uint64_t(out.bytes_per_pixel);
  switch (out.form) {
    case EntryForm::Jpeg:
      return {};
    case EntryForm::Raw:
      // A raw code is read as compression reads it: its pixel array,
      // whatever follows.
      if (payload.size() < size) return unknown();
      return take_raw(payload, size, out);
    case EntryForm::RawAfterHint:
      out.tile = read_tile_hint(payload.data());
      return take_raw(payload.subspan(TILE_HINT_SIZE), size, out);
    case EntryForm::DecodedTiled: {
      // An empty image keeps the table's 2 bytes per pixel.
      if (area(rect) != 0) out.bytes_per_pixel = static_cast<int>(payload.size() / area(rect));
      out.raw_type = raw_type_for_pixels(0, out.bytes_per_pixel);
      out.pixels.assign(payload.begin(), payload.end());
      return {};
    }
    case EntryForm::TiledBlock: {
      const TileImage t = read_tile_image(payload.data());
      out.pixel_format = t.pixel_format;
      if (t.magic != MORVANE_TILE_MAGIC_RAW) out.tile = {t.tile_width, t.tile_height};
      out.raw_type = raw_type_for_pixels(t.pixel_format, t.bytes_per_pixel);
      return decode_with(mode, e, rect, payload, t.bytes_per_pixel, out, memory);
    }
    case EntryForm::Lz4:
      out.raw_type = raw_type(e.type);
      return decode_with(mode, e, rect, payload, type_bytes_per_pixel(out.raw_type), out, memory);
    case EntryForm::Unknown:
      break;
  }
  return unknown();
}

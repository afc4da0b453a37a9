#include "commands/entry_pixels.h"

#include "commands/convert_entry.h"
#include "tile/tile_image.h"

namespace {

uint64_t area(const EntryRect& r) { return uint64_t{r.width} * r.height; }

// decompress_entry in `tiled` mode, accepted only when it gives the whole
// pixel array of bpp bytes per pixel.
int decode_with(bool tiled, const PackEntry& e, const EntryRect& rect,
                std::span<const uint8_t> payload, int bpp, EntryPixels& out) {
  PackEntry whole = e;
  whole.len = static_cast<uint32_t>(payload.size() + ENTRY_RECT_SIZE);
  EntryResult r = decompress_entry(whole, rect, payload, tiled);
  if (r.failed) return ENTRY_PIXELS_CORRUPT;
  if (r.data.size() != area(rect) * uint64_t(bpp)) return ENTRY_PIXELS_WRONG_SIZE;
  out.pixels = std::move(r.data);
  out.bytes_per_pixel = bpp;
  return ENTRY_PIXELS_OK;
}

int take_raw(EntryForm form, const PackEntry& e, std::span<const uint8_t> pixels, uint64_t size,
             EntryPixels& out) {
  out.form = form;
  out.bytes_per_pixel = entry_bytes_per_pixel(e);
  out.raw_type = e.type;
  out.pixels.assign(pixels.begin(), pixels.begin() + static_cast<ptrdiff_t>(size));
  return ENTRY_PIXELS_OK;
}

int tiled_pack_pixels(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload,
                      EntryPixels& out) {
  if (is_tile_block(rect, payload)) {
    TileImage t = read_tile_image(payload.data());
    out.form = EntryForm::TiledBlock;
    out.pixel_format = t.pixel_format;
    if (t.magic != TILE_MAGIC_RAW) out.tile = {t.tile_width, t.tile_height};
    out.raw_type = raw_type_for_pixels(t.pixel_format, t.bytes_per_pixel);
    return decode_with(true, e, rect, payload, t.bytes_per_pixel, out);
  }
  const uint64_t pixels = area(rect);
  if (e.type == TYPE_TILED) {
    for (int k = 1; k <= 4; ++k) {
      if (payload.size() != pixels * uint64_t(k)) continue;
      // An empty image keeps the table's 2 bytes per pixel.
      const int bpp = pixels == 0 ? entry_bytes_per_pixel(e) : k;
      out.form = EntryForm::DecodedTiled;
      out.bytes_per_pixel = bpp;
      out.raw_type = raw_type_for_pixels(0, bpp);
      out.pixels.assign(payload.begin(), payload.end());
      return ENTRY_PIXELS_OK;
    }
  }
  const uint64_t size = pixels * uint64_t(entry_bytes_per_pixel(e));
  if (payload.size() >= TILE_HINT_SIZE + size) {
    out.tile = read_tile_hint(payload.data());
    return take_raw(EntryForm::RawAfterHint, e, payload.subspan(TILE_HINT_SIZE), size, out);
  }
  if (payload.size() == size) return take_raw(EntryForm::Raw, e, payload, size, out);
  return ENTRY_PIXELS_UNKNOWN;
}

int whole_pack_pixels(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload,
                      EntryPixels& out) {
  const uint8_t raw = raw_type(e.type);
  PackEntry raw_entry = e;
  raw_entry.type = raw;
  const int bpp = entry_bytes_per_pixel(raw_entry);
  const uint64_t size = area(rect) * uint64_t(bpp);
  const bool lz4_code = raw != e.type;
  const bool raw_code = compressed_type(e.type) != e.type;
  if (!lz4_code) {
    // A raw code is read as compression reads it: its pixel array, whatever
    // follows. Codes without an LZ4 form tell their form only by size.
    if (raw_code ? payload.size() >= size : payload.size() == size)
      return take_raw(EntryForm::Raw, e, payload, size, out);
    if (raw_code) return ENTRY_PIXELS_UNKNOWN;
  }
  out.form = EntryForm::Lz4;
  out.raw_type = raw;
  return decode_with(false, e, rect, payload, bpp, out);
}

}  // namespace

bool is_tile_block(const EntryRect& rect, std::span<const uint8_t> payload) {
  if (payload.size() < TILE_HEADER_SIZE) return false;
  TileImage t = read_tile_image(payload.data());
  return is_tile_magic(t.magic) && t.width == rect.width && t.height == rect.height;
}

uint8_t raw_type_for_pixels(int pixel_format, int bytes_per_pixel) {
  static const uint8_t kRawTypes[] = {1, 11, 30, 32, 34, 36};
  for (uint8_t type : kRawTypes) {
    PackEntry e;
    e.type = type;
    if (pixel_format_for_type(type) == pixel_format && entry_bytes_per_pixel(e) == bytes_per_pixel)
      return type;
  }
  static const uint8_t kDefaults[] = {30, 1, 32, 11};
  return bytes_per_pixel >= 1 && bytes_per_pixel <= 4 ? kDefaults[bytes_per_pixel - 1] : 1;
}

int entry_pixels(bool tiled, const PackEntry& e, const EntryRect& rect,
                 std::span<const uint8_t> payload, EntryPixels& out) {
  out = EntryPixels{};
  if (e.type == TYPE_JPEG) {
    out.form = EntryForm::Jpeg;
    out.bytes_per_pixel = entry_bytes_per_pixel(e);
    out.raw_type = e.type;
    return ENTRY_PIXELS_OK;
  }
  return tiled ? tiled_pack_pixels(e, rect, payload, out) : whole_pack_pixels(e, rect, payload, out);
}

const char* entry_pixels_error_text(int code) {
  switch (code) {
    case ENTRY_PIXELS_OK: return "ok";
    case ENTRY_PIXELS_UNKNOWN: return "payload size fits neither raw pixels nor a compressed form";
    case ENTRY_PIXELS_CORRUPT: return "compressed data does not decode";
    case ENTRY_PIXELS_WRONG_SIZE: return "compressed data does not decode to the entry's pixel array";
    default: return "unknown entry error";
  }
}

// SPDX-License-Identifier: MIT
// The encoder's side of the block records (header and TileRef, both
// little-endian) and the pixel sizes of the PixelFormat codes. Reading and
// checking a header is the decoder's, in tile_header.c.
#include <cstddef>

#include "tile/byte_order.h"
#include "tile/tile_image.h"

static_assert(MVT_HEADER_SIZE == 16 && MVT_REF_SIZE == 8);

namespace morvane::detail {

// The header record and its C form: the same fields in the same places
// (a TileImage is what a morvane_tile_info holds).
static_assert(sizeof(TileImage) == sizeof(morvane_tile_info) &&
              offsetof(TileImage, magic) == offsetof(morvane_tile_info, magic) &&
              offsetof(TileImage, width) == offsetof(morvane_tile_info, width) &&
              offsetof(TileImage, height) == offsetof(morvane_tile_info, height) &&
              offsetof(TileImage, tile_width) == offsetof(morvane_tile_info, tile_width) &&
              offsetof(TileImage, tile_height) == offsetof(morvane_tile_info, tile_height) &&
              offsetof(TileImage, pixel_format) == offsetof(morvane_tile_info, pixel_format) &&
              offsetof(TileImage, bytes_per_pixel) == offsetof(morvane_tile_info, bytes_per_pixel) &&
              offsetof(TileImage, tile_count) == offsetof(morvane_tile_info, tile_count));

void write_tile_image(const TileImage& t, uint8_t* p) {
  store_le32(p, t.magic);
  store_le16(p + 4, t.width);
  store_le16(p + 6, t.height);
  store_le16(p + 8, t.tile_width);
  store_le16(p + 10, t.tile_height);
  p[12] = t.pixel_format;
  p[13] = t.bytes_per_pixel;
  store_le16(p + 14, t.tile_count);
}

TileRef read_tile_ref(const uint8_t* p) { return {load_le32(p), load_le32(p + 4)}; }

void write_tile_ref(const TileRef& r, uint8_t* p) {
  store_le32(p, r.offset);
  store_le32(p + 4, r.len);
}

}  // namespace morvane::detail

namespace morvane {

int pixel_format_bytes(int pixel_format) {
  static const int bytes[] = {0, 2, 3, 3, 4, 1, 2};
  return pixel_format >= 1 && pixel_format <= 6 ? bytes[pixel_format] : 0;
}

}  // namespace morvane

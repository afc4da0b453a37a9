// SPDX-License-Identifier: MIT
// The tiled image block's records (header and TileRef, both little-endian),
// the header check that every reader makes, the pixel sizes of the
// PixelFormat codes, and the texts of the tile results.
#include "tile/byte_order.h"
#include "tile/tile_image.h"

const char* tile_error_text(int32_t code) {
  switch (code) {
    case TILE_ERR_FAILED: return "tiled encoding failed";
    case TILE_ERR_MAGIC: return "block names no codec";
    case TILE_ERR_NO_SLOT: return "no cache slot";
    case TILE_ERR_CODEC_KIND: return "codec kind not 1, 2 or 3";
    case TILE_ERR_PIXEL_FORMAT: return "pixel format not 1 to 6";
    case TILE_ERR_DIMENSIONS: return "image size outside 0 to 65535";
    case TILE_ERR_TILE_SIZE: return "tile side 0 or above 65535";
    case TILE_ERR_TILE_COUNT: return "more than 65535 tiles";
#if MORVANE_TILE_BUFFER_SIZE == 1048576
    case TILE_ERR_TILE_BYTES: return "tile larger than 1 MiB";
#else
    case TILE_ERR_TILE_BYTES: return "tile larger than the tile buffer";
#endif
    case TILE_ERR_CAPACITY: return "block buffer too small";
    case TILE_ERR_SOURCE: return "source shorter than the image";
    case TILE_ERR_HEADER: return "block header or tile table damaged";
    case TILE_ERR_PAYLOAD: return "tile data outside the block";
    case TILE_ERR_CORRUPT: return "tile data does not decode";
    case TILE_ERR_REGION: return "region outside the image";
    case TILE_ERR_OUTPUT: return "output smaller than the region";
    default: return "unknown tile error";
  }
}

TileImage read_tile_image(const uint8_t* p) {
  TileImage t;
  t.magic = load_le32(p);
  t.width = load_le16(p + 4);
  t.height = load_le16(p + 6);
  t.tile_width = load_le16(p + 8);
  t.tile_height = load_le16(p + 10);
  t.pixel_format = p[12];
  t.bytes_per_pixel = p[13];
  t.tile_count = load_le16(p + 14);
  return t;
}

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

int pixel_format_bytes(int pixel_format) {
  static const int bytes[] = {0, 2, 3, 3, 4, 1, 2};
  return pixel_format >= 1 && pixel_format <= 6 ? bytes[pixel_format] : 0;
}

// Every product below fits 32 bits: sides are below 2^16, so is the tile
// count, and a product with the bytes per pixel is compared by division.
int32_t tile_image_read(std::span<const uint8_t> block, TileImage* info, uint32_t max_tile_bytes) {
  *info = TileImage{};
  if (block.size() < TILE_HEADER_SIZE) return TILE_ERR_HEADER;
  const TileImage t = read_tile_image(block.data());
  if (!is_tile_magic(t.magic)) return TILE_ERR_MAGIC;
  const uint32_t bpp = t.bytes_per_pixel;
  if (bpp < 1 || bpp > 4) return TILE_ERR_HEADER;

  if (t.magic == TILE_MAGIC_RAW) {
    if ((block.size() - TILE_HEADER_SIZE) / bpp < uint32_t{t.width} * t.height) return TILE_ERR_PAYLOAD;
  } else if (t.width == 0 || t.height == 0) {
    // No tiles, so nothing is divided by a tile side.
    if (t.tile_count != 0) return TILE_ERR_HEADER;
  } else {
    const uint32_t tw = t.tile_width, th = t.tile_height;
    if (tw == 0 || th == 0) return TILE_ERR_HEADER;
    if (tw * th > max_tile_bytes / bpp) return TILE_ERR_HEADER;
    const uint32_t across = (t.width + tw - 1) / tw;
    const uint32_t down = (t.height + th - 1) / th;
    if (across * down != t.tile_count) return TILE_ERR_HEADER;
    if ((block.size() - TILE_HEADER_SIZE) / TILE_REF_SIZE < t.tile_count) return TILE_ERR_HEADER;
  }
  *info = t;
  return 0;
}

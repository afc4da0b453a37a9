// SPDX-License-Identifier: MIT
/* The tiled image block's header: read, and checked as every reader checks
   it; the texts of the tile results; the static tile size. */
#include "tile/byte_order.h"
#include "tile/tile_codec.h"

#include <string.h>

const char *morvane_tile_error_text(int32_t code) {
  switch (code) {
    case MORVANE_TILE_ERR_FAILED: return "tiled encoding failed";
    case MORVANE_TILE_ERR_MAGIC: return "block names no codec";
    case MORVANE_TILE_ERR_NO_DECODER: return "no cache slot";
    case MORVANE_TILE_ERR_CODEC_KIND: return "codec kind not " MORVANE_MVT_CODEC_KINDS_TEXT;
    case MORVANE_TILE_ERR_PIXEL_FORMAT: return "pixel format not 1 to 6";
    case MORVANE_TILE_ERR_DIMENSIONS: return "image size outside 0 to 65535";
    case MORVANE_TILE_ERR_TILE_SIZE: return "tile side 0 or above 65535";
    case MORVANE_TILE_ERR_TILE_COUNT: return "more than 65535 tiles";
#if MORVANE_TILE_BUFFER_SIZE == 1048576
    case MORVANE_TILE_ERR_TILE_BYTES: return "tile larger than 1 MiB";
#else
    case MORVANE_TILE_ERR_TILE_BYTES: return "tile larger than the tile buffer";
#endif
    case MORVANE_TILE_ERR_CAPACITY: return "block buffer too small";
    case MORVANE_TILE_ERR_SOURCE: return "source shorter than the image";
    case MORVANE_TILE_ERR_HEADER: return "block header or tile table damaged";
    case MORVANE_TILE_ERR_HEADER_SHORT: return "block shorter than its header";
    case MORVANE_TILE_ERR_HEADER_BPP: return "bytes per pixel not 1 to 4";
    case MORVANE_TILE_ERR_HEADER_TILE_SIDE: return "tile side 0";
    case MORVANE_TILE_ERR_HEADER_TILE_BYTES: return "tile larger than the decoder holds";
    case MORVANE_TILE_ERR_HEADER_GRID: return "tile count not that of the grid";
    case MORVANE_TILE_ERR_HEADER_TABLE: return "tile table runs past the end of the block";
    case MORVANE_TILE_ERR_PAYLOAD: return "tile data outside the block";
    case MORVANE_TILE_ERR_CORRUPT: return "tile data does not decode";
    case MORVANE_TILE_ERR_REGION: return "region outside the image";
    case MORVANE_TILE_ERR_OUTPUT: return "output smaller than the region";
    default: return "unknown tile error";
  }
}

#if MORVANE_TILE_SMALL && defined(__thumb__) && !defined(__ARM_FEATURE_IDIV)
/* Shift and subtract: the divisor doubled up to the dividend, then halved
   back, taking it off wherever it fits. */
uint32_t morvane_mvt_udiv(uint32_t n, uint32_t d) {
  uint32_t q = 0, bit = 1;
  while (d < n && (d & 0x80000000u) == 0) {
    d <<= 1;
    bit <<= 1;
  }
  for (; bit != 0; d >>= 1, bit >>= 1) {
    if (n >= d) {
      n -= d;
      q |= bit;
    }
  }
  return q;
}
#endif

uint32_t morvane_tile_buffer_size(void) { return MORVANE_TILE_BUFFER_SIZE; }

const char *morvane_version(void) { return MORVANE_VERSION_STRING; }

/* morvane_tile_info has the header's byte layout: on a little-endian core
   the 16 bytes are the record. */
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
typedef char header_is_record[sizeof(morvane_tile_info) == MVT_HEADER_SIZE ? 1 : -1];

void morvane_mvt_read_header(const uint8_t *p, morvane_tile_info *info) { memcpy(info, p, MVT_HEADER_SIZE); }
#else
void morvane_mvt_read_header(const uint8_t *p, morvane_tile_info *info) {
  info->magic = load_le32(p);
  info->width = load_le16(p + 4);
  info->height = load_le16(p + 6);
  info->tile_width = load_le16(p + 8);
  info->tile_height = load_le16(p + 10);
  info->pixel_format = p[12];
  info->bytes_per_pixel = p[13];
  info->tile_count = load_le16(p + 14);
}
#endif

/* A header fault as check_header gives it: the rule it breaks, a small
   positive number (cheap to return on a small core), made
   MORVANE_TILE_ERR_HEADER by the decoders and morvane_tile_image_read, or
   the rule's own code by morvane_tile_header_check. */
enum { FAULT_SHORT = 1, FAULT_BPP, FAULT_GRID, FAULT_TILE_SIDE, FAULT_TILE_BYTES, FAULT_TABLE };

/* Every product below fits 32 bits: sides are below 2^16, so is the tile
   count, and a product with the bytes per pixel is compared by division. */
static int32_t check_header(const morvane_tile_info *t, size_t len, uint32_t max_tile_bytes) {
  const uint32_t bpp = t->bytes_per_pixel;
#define IS_TILED(kind, m, name, block_name, what, decode, encode, worst) t->magic != (m) &&
#define IS_WHOLE(kind, m, name, block_name, what) t->magic != (m) &&
  if (MORVANE_MVT_CODECS(IS_TILED, IS_WHOLE) 1) return MORVANE_TILE_ERR_MAGIC;
#undef IS_TILED
#undef IS_WHOLE
  if (bpp < 1 || bpp > 4) return FAULT_BPP;
  if (t->magic == MORVANE_TILE_MAGIC_RAW) {
    if (MVT_DIV(len - MVT_HEADER_SIZE, bpp) < (uint32_t)t->width * t->height) return MORVANE_TILE_ERR_PAYLOAD;
  } else if (t->width == 0 || t->height == 0) {
    /* No tiles, so nothing is divided by a tile side. */
    if (t->tile_count != 0) return FAULT_GRID;
  } else {
    const uint32_t tw = t->tile_width, th = t->tile_height;
    uint32_t across, down;
    if (tw == 0 || th == 0) return FAULT_TILE_SIDE;
    if (tw * th > MVT_DIV(max_tile_bytes, bpp)) return FAULT_TILE_BYTES;
    across = MVT_DIV(t->width + tw - 1, tw);
    down = MVT_DIV(t->height + th - 1, th);
    if (across * down != t->tile_count) return FAULT_GRID;
    if ((len - MVT_HEADER_SIZE) / MVT_REF_SIZE < t->tile_count) return FAULT_TABLE;
  }
  return 0;
}

/* 0, a negative result, or a FAULT_ number; *info zeroed unless 0. */
static int32_t read_checked(const uint8_t *block, size_t len, morvane_tile_info *info, uint32_t max_tile_bytes) {
  int32_t rc = FAULT_SHORT;
  if (len >= MVT_HEADER_SIZE) {
    morvane_mvt_read_header(block, info);
    rc = check_header(info, len, max_tile_bytes);
  }
  if (rc != 0) memset(info, 0, sizeof *info);
  return rc;
}

int32_t morvane_mvt_image_read(const uint8_t *block, size_t len, morvane_tile_info *info, uint32_t max_tile_bytes) {
  const int32_t rc = read_checked(block, len, info, max_tile_bytes);
  return rc > 0 ? MORVANE_TILE_ERR_HEADER : rc;
}

/* A null pointer or a negative length is a buffer of no bytes. */
int32_t morvane_tile_image_read(const uint8_t *block, int32_t block_len, morvane_tile_info *info) {
  morvane_tile_info t;
  const size_t len = block != NULL && block_len > 0 ? (size_t)block_len : 0;
  const int32_t rc = morvane_mvt_image_read(block, len, &t, MORVANE_TILE_BUFFER_SIZE);
  if (info != NULL) *info = t;
  return rc;
}

int32_t morvane_tile_header_check(const uint8_t *block, int32_t block_len, morvane_tile_info *info) {
  morvane_tile_info t;
  const size_t len = block != NULL && block_len > 0 ? (size_t)block_len : 0;
  static const int32_t by_rule[] = {MORVANE_TILE_ERR_HEADER_SHORT,     MORVANE_TILE_ERR_HEADER_BPP,
                                    MORVANE_TILE_ERR_HEADER_GRID,      MORVANE_TILE_ERR_HEADER_TILE_SIDE,
                                    MORVANE_TILE_ERR_HEADER_TILE_BYTES, MORVANE_TILE_ERR_HEADER_TABLE};
  const int32_t rc = read_checked(block, len, &t, MORVANE_TILE_BUFFER_SIZE);
  if (info != NULL) *info = t;
  return rc > 0 ? by_rule[rc - FAULT_SHORT] : rc;
}

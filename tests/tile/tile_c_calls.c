// SPDX-License-Identifier: MIT
/* The C interface called from C99, for tile_decode_test.cpp: each function
   makes one call through <morvane/tile.h> as a C program would. */
#include <morvane/tile.h>

#include <stddef.h>

#include "tile_c_calls.h"

int32_t c_decode_tile_region(const uint8_t *block, uint8_t *out, int32_t block_len, int32_t out_capacity,
                             int32_t x, int32_t y, int32_t w, int32_t h) {
  return morvane_decode_tile_region(block, out, block_len, out_capacity, x, y, w, h);
}

int32_t c_decode_rle_pixels(const uint8_t *src, uint8_t *dst, int32_t src_len, int32_t capacity, int32_t bpp) {
  return morvane_decode_rle_pixels(src, dst, src_len, capacity, bpp);
}

int32_t c_tile_image_read(const uint8_t *block, int32_t block_len, uint32_t fields[8]) {
  morvane_tile_info info;
  const int32_t rc = morvane_tile_image_read(block, block_len, &info);
  fields[0] = info.magic;
  fields[1] = info.width;
  fields[2] = info.height;
  fields[3] = info.tile_width;
  fields[4] = info.tile_height;
  fields[5] = info.pixel_format;
  fields[6] = info.bytes_per_pixel;
  fields[7] = info.tile_count;
  return rc;
}

void c_tile_cache_forget(const uint8_t *block) { morvane_tile_cache_forget(block); }

int32_t c_tile_decode_fresh(int32_t max_tile_bytes, const uint8_t *block, int32_t block_len, int32_t x, int32_t y,
                            int32_t w, int32_t h, uint8_t *out, int32_t stride, int32_t out_capacity) {
  /* uint64_t elements: aligned to 8, as a decoder wants. */
  static uint64_t memory[(MORVANE_TILE_DECODER_SIZE(1 << 20) + 7) / 8];
  morvane_tile_decoder *dec = morvane_tile_decoder_init(memory, sizeof memory, max_tile_bytes);
  if (dec == NULL) return -1000;
  return morvane_tile_decode(dec, block, block_len, x, y, w, h, out, stride, out_capacity);
}

const char *c_tile_error_text(int32_t code) { return morvane_tile_error_text(code); }

// SPDX-License-Identifier: MIT
/* Calls through the C interface, compiled as C99 (tile_c_calls.c). */
#ifndef MORVANE_TESTS_TILE_C_CALLS_H
#define MORVANE_TESTS_TILE_C_CALLS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int32_t c_decode_tile_region(const uint8_t *block, uint8_t *out, int32_t block_len, int32_t out_capacity,
                             int32_t x, int32_t y, int32_t w, int32_t h);
int32_t c_decode_rle_pixels(const uint8_t *src, uint8_t *dst, int32_t src_len, int32_t capacity, int32_t bpp);
/* magic, width, height, tile_width, tile_height, pixel_format,
   bytes_per_pixel, tile_count */
int32_t c_tile_image_read(const uint8_t *block, int32_t block_len, uint32_t fields[8]);
void c_tile_cache_forget(const uint8_t *block);
/* morvane_tile_decode through a decoder of max_tile_bytes that C lays out
   afresh, for this call, in a static array of
   MORVANE_TILE_DECODER_SIZE(1 << 20) bytes; -1000 when the init refuses. */
int32_t c_tile_decode_fresh(int32_t max_tile_bytes, const uint8_t *block, int32_t block_len, int32_t x, int32_t y,
                            int32_t w, int32_t h, uint8_t *out, int32_t stride, int32_t out_capacity);
const char *c_tile_error_text(int32_t code);

#ifdef __cplusplus
}
#endif

#endif

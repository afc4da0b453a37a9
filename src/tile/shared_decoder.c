// SPDX-License-Identifier: MIT
/* The one static decoder behind the calls that take none
   (morvane_tile_decode_shared, morvane_tile_shared_forget and the C++ calls
   over them), with room for a tile of MORVANE_TILE_BUFFER_SIZE bytes. In an
   object file of its own, so that a program that decodes only through
   decoders of its own links none of its memory. */
#include "tile/tile_codec.h"

/* uint64_t elements: aligned to 8, as a decoder wants. */
static uint64_t g_memory[(MVT_DECODER_HEAD + MORVANE_TILE_BUFFER_SIZE + 7) / 8];
static TileDecoder *g_decoder = NULL; /* laid out on first use */

static TileDecoder *shared(void) {
  if (g_decoder == NULL) g_decoder = morvane_tile_decoder_init(g_memory, sizeof g_memory, MORVANE_TILE_BUFFER_SIZE);
  return g_decoder;
}

/* Rows packed: the stride is a row of the block's pixels. The header is
   checked before the stride is looked at, so byte 13 is the block's bytes
   per pixel whenever it matters. */
int32_t morvane_tile_decode_shared(const uint8_t *block, int32_t block_len, int32_t x, int32_t y, int32_t w,
                                   int32_t h, uint8_t *out, int32_t out_capacity) {
  const uint32_t bpp = block != NULL && block_len >= (int32_t)MVT_HEADER_SIZE ? block[13] : 0;
  return morvane_tile_decode(shared(), block, block_len, x, y, w, h, out, (int32_t)((uint32_t)w * bpp),
                             out_capacity);
}

void morvane_tile_shared_forget(const uint8_t *block) { morvane_tile_decoder_forget(g_decoder, block); }

const TileCache *morvane_mvt_shared_slot(void) { return g_decoder != NULL ? &g_decoder->slot : NULL; }

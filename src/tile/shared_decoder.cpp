// SPDX-License-Identifier: MIT
// The one static decoder behind the calls that take none
// (decode_tile_region without a decoder, morvane_decode_tile_region and
// their forget calls), with room for a tile of TILE_BUFFER_SIZE bytes. In an
// object file of its own, so that a program that decodes only through
// decoders of its own links none of its memory.
#include "morvane/tile.h"
#include "tile/tile_image.h"

namespace {

alignas(8) uint8_t g_memory[TILE_DECODER_HEAD + TILE_BUFFER_SIZE];
TileDecoder* g_decoder = nullptr;  // laid out on first use

TileDecoder* shared() {
  if (g_decoder == nullptr) g_decoder = tile_decoder_init(g_memory, sizeof g_memory, TILE_BUFFER_SIZE);
  return g_decoder;
}

}  // namespace

// Rows packed: the stride is a row of the block's pixels. The header is
// checked before the stride is looked at, so byte 13 is the block's bytes
// per pixel whenever it matters.
int32_t decode_tile_region(std::span<const uint8_t> block, std::span<uint8_t> out, int32_t x, int32_t y, int32_t w,
                           int32_t h) {
  const uint32_t bpp = block.size() >= TILE_HEADER_SIZE ? block[13] : 0;
  return decode_tile_region(shared(), block, out, x, y, w, h, int32_t(uint32_t(w) * bpp));
}

void tile_cache_forget(const uint8_t* block) { tile_decoder_forget(g_decoder, block); }

const TileCache* tile_cache_slot() { return g_decoder != nullptr ? &g_decoder->slot : nullptr; }

extern "C" {

int32_t morvane_decode_tile_region(const uint8_t* block, uint8_t* out, int32_t block_len, int32_t out_capacity,
                                   int32_t x, int32_t y, int32_t w, int32_t h) {
  const uint32_t bpp = block != nullptr && block_len >= int32_t{TILE_HEADER_SIZE} ? block[13] : 0;
  return morvane_tile_decode(shared(), block, block_len, x, y, w, h, out, int32_t(uint32_t(w) * bpp), out_capacity);
}

void morvane_tile_cache_forget(const uint8_t* block) { tile_decoder_forget(g_decoder, block); }

}  // extern "C"

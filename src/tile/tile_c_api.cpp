// SPDX-License-Identifier: MIT
// The C face of the region decoder: thin wrappers over tile_image.h that
// turn pointer-and-length pairs into spans. Only decoding lives here, so a
// program that calls these pulls in no encoder object file (and the static
// decoder's calls are in shared_decoder.cpp).
#include "morvane/tile.h"

#include <cstddef>
#include <cstring>

#include "tile/tile_image.h"

static_assert(MORVANE_TILE_ERR_FAILED == TILE_ERR_FAILED);
static_assert(MORVANE_TILE_ERR_MAGIC == TILE_ERR_MAGIC);
static_assert(MORVANE_TILE_ERR_NO_SLOT == TILE_ERR_NO_SLOT);
static_assert(MORVANE_TILE_ERR_CODEC_KIND == TILE_ERR_CODEC_KIND);
static_assert(MORVANE_TILE_ERR_PIXEL_FORMAT == TILE_ERR_PIXEL_FORMAT);
static_assert(MORVANE_TILE_ERR_DIMENSIONS == TILE_ERR_DIMENSIONS);
static_assert(MORVANE_TILE_ERR_TILE_SIZE == TILE_ERR_TILE_SIZE);
static_assert(MORVANE_TILE_ERR_TILE_COUNT == TILE_ERR_TILE_COUNT);
static_assert(MORVANE_TILE_ERR_TILE_BYTES == TILE_ERR_TILE_BYTES);
static_assert(MORVANE_TILE_ERR_CAPACITY == TILE_ERR_CAPACITY);
static_assert(MORVANE_TILE_ERR_SOURCE == TILE_ERR_SOURCE);
static_assert(MORVANE_TILE_ERR_HEADER == TILE_ERR_HEADER);
static_assert(MORVANE_TILE_ERR_PAYLOAD == TILE_ERR_PAYLOAD);
static_assert(MORVANE_TILE_ERR_CORRUPT == TILE_ERR_CORRUPT);
static_assert(MORVANE_TILE_ERR_REGION == TILE_ERR_REGION);
static_assert(MORVANE_TILE_ERR_OUTPUT == TILE_ERR_OUTPUT);
static_assert(MORVANE_TILE_MAGIC_LZ4 == TILE_MAGIC_LZ4 && MORVANE_TILE_MAGIC_RLE == TILE_MAGIC_RLE &&
              MORVANE_TILE_MAGIC_RAW == TILE_MAGIC_RAW);
// The header record and its C form: the same fields in the same places.
static_assert(sizeof(TileImage) == sizeof(morvane_tile_info) &&
              offsetof(TileImage, width) == offsetof(morvane_tile_info, width) &&
              offsetof(TileImage, tile_width) == offsetof(morvane_tile_info, tile_width) &&
              offsetof(TileImage, pixel_format) == offsetof(morvane_tile_info, pixel_format) &&
              offsetof(TileImage, tile_count) == offsetof(morvane_tile_info, tile_count));

namespace {

// A null pointer or a negative length is a buffer of no bytes.
template <typename T>
std::span<T> bytes(T* p, int32_t len) {
  return p != nullptr && len > 0 ? std::span<T>(p, static_cast<size_t>(len)) : std::span<T>();
}

}  // namespace

extern "C" {

int32_t morvane_tile_image_read(const uint8_t* block, int32_t block_len, morvane_tile_info* info) {
  TileImage t;
  const int32_t rc = tile_image_read(bytes(block, block_len), &t);
  if (info != nullptr) std::memcpy(info, &t, sizeof *info);
  return rc;
}

int32_t morvane_decode_rle_pixels(const uint8_t* src, uint8_t* dst, int32_t src_len, int32_t capacity, int32_t bpp) {
  if (src == nullptr) return 0;
  return decode_rle_pixels(src, dst, src_len, capacity, bpp);
}

const char* morvane_tile_error_text(int32_t code) { return tile_error_text(code); }

uint32_t morvane_tile_buffer_size(void) { return TILE_BUFFER_SIZE; }

}  // extern "C"

// The C face of the region decoder: thin wrappers over tile_image.h that
// turn pointer-and-length pairs into spans. Only decoding lives here, so a
// program that calls these pulls in no encoder object file (and the static
// decoder's calls are in shared_decoder.cpp).
#include "morvane/tile.h"

#include <cstddef>

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
  if (info != nullptr) {
    info->magic = t.magic;
    info->width = t.width;
    info->height = t.height;
    info->tile_width = t.tile_width;
    info->tile_height = t.tile_height;
    info->pixel_format = t.pixel_format;
    info->bytes_per_pixel = t.bytes_per_pixel;
    info->tile_count = t.tile_count;
  }
  return rc;
}

size_t morvane_tile_decoder_size(int32_t max_tile_bytes) { return tile_decoder_size(max_tile_bytes); }

morvane_tile_decoder* morvane_tile_decoder_init(void* memory, size_t memory_size, int32_t max_tile_bytes) {
  return tile_decoder_init(memory, memory_size, max_tile_bytes);
}

int32_t morvane_tile_decode(morvane_tile_decoder* dec, const uint8_t* block, int32_t block_len, int32_t x, int32_t y,
                            int32_t w, int32_t h, uint8_t* out, int32_t stride, int32_t out_capacity) {
  return decode_tile_region(dec, bytes(block, block_len), bytes(out, out_capacity), x, y, w, h, stride);
}

void morvane_tile_decoder_forget(morvane_tile_decoder* dec, const uint8_t* block) { tile_decoder_forget(dec, block); }

int32_t morvane_decode_rle_pixels(const uint8_t* src, uint8_t* dst, int32_t src_len, int32_t capacity, int32_t bpp) {
  if (src == nullptr) return 0;
  return decode_rle_pixels(src, dst, src_len, capacity, bpp);
}

const char* morvane_tile_error_text(int32_t code) { return tile_error_text(code); }

uint32_t morvane_tile_buffer_size(void) { return TILE_BUFFER_SIZE; }

}  // extern "C"

// SPDX-License-Identifier: MIT
// The encoder's face for C++ programs outside morvane (<morvane/tile.hpp>):
// the same calls under namespace morvane. An object file of its own, apart
// from the decoding calls, so that firmware that only decodes links none of
// the encoder.
#include "morvane/tile.hpp"

#include "tile/tile_image.h"

static_assert(morvane::CODEC_KIND_RLE == CODEC_KIND_RLE && morvane::CODEC_KIND_LZ4 == CODEC_KIND_LZ4 &&
              morvane::CODEC_KIND_STORED == CODEC_KIND_STORED);

namespace morvane {

int pixel_format_bytes(int pixel_format) { return ::pixel_format_bytes(pixel_format); }

int32_t tile_image_check(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height, int pixel_format,
                         int codec_kind) {
  return ::tile_image_check(width, height, tile_width, tile_height, pixel_format, codec_kind);
}

uint64_t tile_image_bound(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height, int pixel_format,
                          int codec_kind) {
  return ::tile_image_bound(width, height, tile_width, tile_height, pixel_format, codec_kind);
}

int32_t encode_tile_image(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width, int32_t height,
                          int32_t tile_width, int32_t tile_height, uint8_t pixel_format, uint8_t codec_kind) {
  return ::encode_tile_image(src, block, width, height, tile_width, tile_height, pixel_format, codec_kind);
}

}  // namespace morvane

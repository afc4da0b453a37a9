// SPDX-License-Identifier: MIT
// morvane/tile.hpp: the tile codec for C++20 programs: the encoder that
// writes tiled image blocks, and decoding into spans. Every name is in
// namespace morvane; the C calls of <morvane/tile.h>, which this includes,
// keep their morvane_ prefix.
//
// Link with libmorvane_tile.a (the CMake target morvane::tile, or
// `pkg-config --static --libs morvane-tile`). The encoder allocates nothing:
// it gathers each tile in a staging buffer of morvane_tile_buffer_size()
// bytes and codes LZ4 tiles with an LZ4 HC state, both thread-local, so
// threads may encode side by side.
#ifndef MORVANE_TILE_HPP
#define MORVANE_TILE_HPP

#include <morvane/tile.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace morvane {

// How the encoder codes the tiles (a pack header's CODEC_KIND).
inline constexpr uint8_t CODEC_KIND_RLE = 1;     // run-length tiles, "CELR"
inline constexpr uint8_t CODEC_KIND_LZ4 = 2;     // LZ4 tiles, "C4ZL"
inline constexpr uint8_t CODEC_KIND_STORED = 3;  // the image untiled, "CWAR"

// Bytes per pixel of a PixelFormat code: 1 and 6 give 2, 2 and 3 give 3, 4
// gives 4, 5 gives 1; 0 for any other code.
int pixel_format_bytes(int pixel_format);

// 0 when encode_tile_image accepts these parameters (given enough room and
// source), else the morvane_tile_error that says why it would fail:
// MORVANE_TILE_ERR_CODEC_KIND, _PIXEL_FORMAT, _DIMENSIONS (width or height
// outside 0 to 65535), _TILE_SIZE (a side 0 or above 65535), _TILE_COUNT
// (more than 65535 tiles) or _TILE_BYTES (a tile above
// morvane_tile_buffer_size() bytes). An empty image (width or height 0) is
// accepted whatever the tile size.
int32_t tile_image_check(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height, int pixel_format,
                         int codec_kind);

// A block size with which encode_tile_image never fails for lack of room;
// 0 when tile_image_check refuses the parameters.
uint64_t tile_image_bound(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height, int pixel_format,
                          int codec_kind);

// Cuts the image in src (rows packed, width x height x bytes-per-pixel
// bytes) into tiles of tile_width x tile_height, codes each with the codec
// of codec_kind, and writes the block into `block`; when the coded tiles
// are larger than the image, the block holds it untiled ("CWAR"). Returns
// the block's size, or the code that says why not: that of
// tile_image_check, MORVANE_TILE_ERR_SOURCE (src shorter than the image) or
// MORVANE_TILE_ERR_CAPACITY (block too small, or a tile did not fit the room
// left; tile_image_bound is always enough). Prints nothing. Never reads
// outside src nor writes outside block.
int32_t tile_image_encode(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width, int32_t height,
                          int32_t tile_width, int32_t tile_height, uint8_t pixel_format, uint8_t codec_kind);

// tile_image_encode under its older name, which fails with
// MORVANE_TILE_ERR_FAILED (-1) whatever the reason.
int32_t encode_tile_image(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width, int32_t height,
                          int32_t tile_width, int32_t tile_height, uint8_t pixel_format, uint8_t codec_kind);

// morvane_tile_decode over spans: the region (x, y, w, h) of `block` into
// `out`, row j at out[j * stride], through `dec`. Results as there; a span
// longer than 2^31 - 1 bytes counts as that long.
inline int32_t decode_tile_region(morvane_tile_decoder* dec, std::span<const uint8_t> block,
                                  std::span<uint8_t> out, int32_t x, int32_t y, int32_t w, int32_t h,
                                  int32_t stride) {
  constexpr size_t kMax = std::numeric_limits<int32_t>::max();
  return morvane_tile_decode(dec, block.data(), int32_t(block.size() < kMax ? block.size() : kMax), x, y, w, h,
                             out.data(), stride, int32_t(out.size() < kMax ? out.size() : kMax));
}

// One line of text for a morvane_tile_error.
inline const char* tile_error_text(int32_t code) { return morvane_tile_error_text(code); }

}  // namespace morvane

#endif  // MORVANE_TILE_HPP

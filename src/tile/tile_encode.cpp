#include <lz4.h>

#include <cstdio>
#include <cstring>

#include "tile/tile_image.h"

namespace {

alignas(16) uint8_t g_staging[TILE_BUFFER_SIZE];

uint64_t div_up(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

uint32_t magic_for(int codec_kind) {
  return codec_kind == CODEC_KIND_LZ4 ? TILE_MAGIC_LZ4 : codec_kind == CODEC_KIND_RLE ? TILE_MAGIC_RLE : TILE_MAGIC_RAW;
}

// Writes the untiled form; the caller has checked the room.
int32_t write_untiled(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width, int32_t height,
                      uint8_t pixel_format, uint64_t raw) {
  TileImage t;
  t.magic = TILE_MAGIC_RAW;
  t.width = static_cast<uint16_t>(width);
  t.height = static_cast<uint16_t>(height);
  t.tile_width = t.width;
  t.tile_height = t.height;
  t.pixel_format = pixel_format;
  t.bytes_per_pixel = static_cast<uint8_t>(pixel_format_bytes(pixel_format));
  t.tile_count = 1;
  write_tile_image(t, block.data());
  if (raw > 0) std::memcpy(block.data() + TILE_HEADER_SIZE, src.data(), raw);
  return static_cast<int32_t>(TILE_HEADER_SIZE + raw);
}

}  // namespace

int32_t tile_image_check(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height,
                         int pixel_format, int codec_kind) {
  if (codec_kind < 1 || codec_kind > 3) return TILE_ERR_CODEC_KIND;
  const int bpp = pixel_format_bytes(pixel_format);
  if (bpp == 0) return TILE_ERR_PIXEL_FORMAT;
  if (width < 0 || height < 0 || width > 65535 || height > 65535) return TILE_ERR_DIMENSIONS;
  if (width == 0 || height == 0 || codec_kind == CODEC_KIND_STORED) return 0;
  if (tile_width <= 0 || tile_height <= 0 || tile_width > 65535 || tile_height > 65535) return TILE_ERR_TILE_SIZE;
  if (div_up(width, tile_width) * div_up(height, tile_height) > TILE_MAX_COUNT) return TILE_ERR_TILE_COUNT;
  if (uint64_t(tile_width) * uint64_t(tile_height) * uint64_t(bpp) > TILE_BUFFER_SIZE) return TILE_ERR_TILE_BYTES;
  return 0;
}

uint64_t tile_image_bound(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height,
                          int pixel_format, int codec_kind) {
  if (tile_image_check(width, height, tile_width, tile_height, pixel_format, codec_kind) != 0) return 0;
  const uint64_t bpp = static_cast<uint64_t>(pixel_format_bytes(pixel_format));
  const uint64_t raw = TILE_HEADER_SIZE + uint64_t(width) * uint64_t(height) * bpp;
  if (width == 0 || height == 0 || codec_kind == CODEC_KIND_STORED) return raw;
  const uint64_t across = div_up(width, tile_width), down = div_up(height, tile_height);
  uint64_t total = TILE_HEADER_SIZE + TILE_REF_SIZE * across * down;
  for (uint64_t r = 0; r < down; ++r) {
    const uint64_t h = std::min<uint64_t>(tile_height, height - r * tile_height);
    for (uint64_t c = 0; c < across; ++c) {
      const uint64_t w = std::min<uint64_t>(tile_width, width - c * tile_width);
      total += codec_kind == CODEC_KIND_LZ4 ? static_cast<uint64_t>(LZ4_compressBound(static_cast<int>(w * h * bpp)))
                                            : (1 + bpp) * w * h;
    }
  }
  return std::max(total, raw);
}

int32_t encode_tile_image(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width, int32_t height,
                          int32_t tile_width, int32_t tile_height, uint8_t pixel_format, uint8_t codec_kind) {
  if (tile_image_check(width, height, tile_width, tile_height, pixel_format, codec_kind) != 0) return TILE_ERR_FAILED;
  const uint32_t bpp = static_cast<uint32_t>(pixel_format_bytes(pixel_format));
  const uint64_t raw = uint64_t(width) * uint64_t(height) * bpp;
  if (src.size() < raw) return TILE_ERR_FAILED;
  if (codec_kind == CODEC_KIND_STORED) {
    if (block.size() < TILE_HEADER_SIZE + raw) return TILE_ERR_FAILED;
    return write_untiled(src, block, width, height, pixel_format, raw);
  }
  if (block.size() < TILE_HEADER_SIZE) return TILE_ERR_FAILED;
  TileImage t;
  t.magic = magic_for(codec_kind);
  t.width = static_cast<uint16_t>(width);
  t.height = static_cast<uint16_t>(height);
  t.tile_width = static_cast<uint16_t>(tile_width);
  t.tile_height = static_cast<uint16_t>(tile_height);
  t.pixel_format = pixel_format;
  t.bytes_per_pixel = static_cast<uint8_t>(bpp);
  if (width == 0 || height == 0) {
    write_tile_image(t, block.data());
    return static_cast<int32_t>(TILE_HEADER_SIZE);
  }
  const uint32_t across = static_cast<uint32_t>(div_up(width, tile_width));
  const uint32_t down = static_cast<uint32_t>(div_up(height, tile_height));
  const uint64_t table_end = TILE_HEADER_SIZE + uint64_t{TILE_REF_SIZE} * across * down;
  if (block.size() < table_end) return TILE_ERR_FAILED;
  write_tile_image(t, block.data());  // tile_count stays 0 until every tile is in

  uint64_t pos = table_end, sum = 0;
  uint32_t index = 0;
  for (uint32_t r = 0; r < down; ++r) {
    const uint32_t y0 = r * static_cast<uint32_t>(tile_height);
    const uint32_t h = std::min<uint32_t>(static_cast<uint32_t>(tile_height), static_cast<uint32_t>(height) - y0);
    for (uint32_t c = 0; c < across; ++c, ++index) {
      const uint32_t x0 = c * static_cast<uint32_t>(tile_width);
      const uint32_t w = std::min<uint32_t>(static_cast<uint32_t>(tile_width), static_cast<uint32_t>(width) - x0);
      const size_t row = size_t{w} * bpp;
      const uint8_t* tile = g_staging;
      if (w == static_cast<uint32_t>(width)) {
        // Full-width tiles are contiguous in the image already.
        tile = src.data() + size_t{y0} * row;
      } else {
        for (uint32_t k = 0; k < h; ++k)
          std::memcpy(g_staging + k * row, src.data() + ((size_t{y0} + k) * size_t(width) + x0) * bpp, row);
      }
      const uint64_t room64 = block.size() - pos;
      const uint32_t room = room64 > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<uint32_t>(room64);
      int32_t len;
      if (codec_kind == CODEC_KIND_LZ4) {
        len = lz4_hc_compress(tile, block.data() + pos, static_cast<int32_t>(row * h), static_cast<int32_t>(room));
      } else {
        const uint32_t pixels = w * h;
        // A stream cut short for lack of room must not pass for a whole tile.
        if (uint64_t{room} < uint64_t{1 + bpp} * pixels &&
            static_cast<uint32_t>(encode_rle_pixels(tile, nullptr, pixels, 0, bpp)) > room) {
          len = 0;
        } else {
          len = encode_rle_pixels(tile, block.data() + pos, pixels, room, bpp);
        }
      }
      if (len <= 0) {
        std::printf("Failed to compress the data\n");
        return TILE_ERR_FAILED;
      }
      write_tile_ref({static_cast<uint32_t>(pos), static_cast<uint32_t>(len)},
                     block.data() + TILE_HEADER_SIZE + size_t{index} * TILE_REF_SIZE);
      pos += static_cast<uint32_t>(len);
      sum += static_cast<uint32_t>(len);
    }
  }
  t.tile_count = static_cast<uint16_t>(index);
  write_tile_image(t, block.data());
  if (sum <= raw) return static_cast<int32_t>(pos);
  // Coding did not pay: the raw image is smaller than the tiles.
  if (block.size() < TILE_HEADER_SIZE + raw) return TILE_ERR_FAILED;
  return write_untiled(src, block, width, height, pixel_format, raw);
}

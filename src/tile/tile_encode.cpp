// SPDX-License-Identifier: MIT
// The tiled image block encoder: cuts a raw image into a grid of tiles, codes
// each tile by itself into the block (LZ4 or run-length), and stores the image
// untiled when the coded tiles together are larger than the raw pixels.
//
// Every check on the parameters, the source and the block's size comes before
// the first byte is written; the only failure after that is a tile that does
// not fit the room left. The library prints nothing: the caller reports.
// Each codec's tile coder and worst case come from the codec table
// (MORVANE_MVT_CODECS, tile_codec.h).
#include <lz4.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "tile/tile_image.h"

namespace morvane::detail {
namespace {

// Each tile's pixels are gathered here, rows packed, before they are coded.
// One per thread, so images (and tiles of one image) can be coded side by
// side; only threads that encode ever touch their copy.
alignas(16) thread_local uint8_t g_staging[TILE_BUFFER_SIZE];

// Block sizes are returned as int32_t, so a larger block buffer is used only
// up to this many bytes.
constexpr uint64_t BLOCK_SIZE_LIMIT = INT32_MAX;

uint64_t div_up(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

bool is_u16(int32_t v) { return v >= 0 && v <= 65535; }

// Side of the tile at `index` along an axis of `extent` pixels cut every
// `nominal` pixels: only the last one can be shorter.
uint32_t tile_side(uint32_t index, uint32_t nominal, uint32_t extent) {
  return std::min(nominal, extent - index * nominal);
}

// The tile coders of the codec table: the w x h tile's count pixels of bpp
// bytes into dst with at most `room` bytes; the stored length, or 0 when
// the whole coded tile does not fit. And the room with which a tile never
// fails: LZ4's worst case, or one run-length packet header per pixel (a
// tile is at most 1 MiB, so either fits).
uint32_t encode_lz4_tile(const uint8_t* pixels, uint32_t count, uint32_t bpp, uint8_t* dst, uint32_t room) {
  const int32_t n = lz4_hc_compress(pixels, dst, static_cast<int32_t>(count * bpp), static_cast<int32_t>(room));
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}
uint32_t lz4_tile_worst(uint64_t pixels, uint64_t bpp) {
  return static_cast<uint32_t>(LZ4_compressBound(static_cast<int>(pixels * bpp)));
}

uint32_t encode_rle_tile(const uint8_t* pixels, uint32_t count, uint32_t bpp, uint8_t* dst, uint32_t room) {
  // The run-length coder stops before the first packet that does not fit and
  // reports what it wrote; such a cut stream must never pass for the tile.
  // (1 + bpp) bytes a pixel always hold the stream, so only a tighter room
  // needs the size first.
  if (uint64_t{room} < uint64_t{1 + bpp} * count) {
    const int32_t need = encode_rle_pixels(pixels, nullptr, count, 0, bpp);
    if (need <= 0 || static_cast<uint32_t>(need) > room) return 0;
  }
  const int32_t n = encode_rle_pixels(pixels, dst, count, room, bpp);
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}
uint32_t rle_tile_worst(uint64_t pixels, uint64_t bpp) { return static_cast<uint32_t>((1 + bpp) * pixels); }

// The codec table's rows as the encoder reads them.
struct TileCoder {
  int kind;
  uint32_t magic;
  uint32_t (*encode)(const uint8_t* pixels, uint32_t count, uint32_t bpp, uint8_t* dst, uint32_t room);
  uint32_t (*worst)(uint64_t pixels, uint64_t bpp);
};
#define TILED_CODER(kind, magic, name, block_name, what, decode, encode, worst) TileCoder{kind, magic, encode, worst},
#define WHOLE_CODER(kind, magic, name, block_name, what) TileCoder{kind, magic, nullptr, nullptr},
constexpr TileCoder kCoders[] = {MORVANE_MVT_CODECS(TILED_CODER, WHOLE_CODER)};
#undef TILED_CODER
#undef WHOLE_CODER

// The row of a codec kind; nullptr for none.
const TileCoder* coder_of(int codec_kind) {
  for (const TileCoder& c : kCoders)
    if (c.kind == codec_kind) return &c;
  return nullptr;
}

// True for a kind that stores the image whole.
bool stores_whole(int codec_kind) { return coder_of(codec_kind)->encode == nullptr; }

uint32_t tile_worst(uint64_t w, uint64_t h, uint64_t bpp, int codec_kind) {
  return coder_of(codec_kind)->worst(w * h, bpp);
}

// The pixels of the w x h tile at (x0, y0), rows packed: in src itself when
// the tile is as wide as the image, else gathered into the staging buffer.
const uint8_t* gather_tile(const uint8_t* src, uint32_t w_img, uint32_t bpp, uint32_t x0, uint32_t y0, uint32_t w,
                           uint32_t h) {
  const size_t image_row = size_t{w_img} * bpp;
  if (w == w_img) return src + y0 * image_row;
  const size_t tile_row = size_t{w} * bpp;
  const uint8_t* from = src + y0 * image_row + size_t{x0} * bpp;
  for (uint32_t k = 0; k < h; ++k) std::memcpy(g_staging + k * tile_row, from + k * image_row, tile_row);
  return g_staging;
}

// The tile grid of a call that tile_image_check accepted, for a non-empty image.
struct Grid {
  uint32_t w_img, h_img, tw, th, bpp, across, down;
};

Grid grid_of(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height, int pixel_format) {
  Grid g;
  g.w_img = static_cast<uint32_t>(width);
  g.h_img = static_cast<uint32_t>(height);
  g.tw = static_cast<uint32_t>(tile_width);
  g.th = static_cast<uint32_t>(tile_height);
  g.bpp = static_cast<uint32_t>(pixel_format_bytes(pixel_format));
  g.across = static_cast<uint32_t>(div_up(g.w_img, g.tw));
  g.down = static_cast<uint32_t>(div_up(g.h_img, g.th));
  return g;
}

// The header of the untiled form and the raw image behind it; the caller has
// checked that 16 + raw bytes fit.
int32_t write_untiled(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width, int32_t height,
                      uint8_t pixel_format, uint64_t raw) {
  TileImage t;
  t.magic = MORVANE_TILE_MAGIC_RAW;
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

// The header of the tiled form without its tile size and count.
TileImage tiled_header(int32_t width, int32_t height, uint8_t pixel_format, int codec_kind) {
  TileImage t;
  t.magic = coder_of(codec_kind)->magic;
  t.width = static_cast<uint16_t>(width);
  t.height = static_cast<uint16_t>(height);
  t.pixel_format = pixel_format;
  t.bytes_per_pixel = static_cast<uint8_t>(pixel_format_bytes(pixel_format));
  return t;
}

// The header alone, for an image without pixels: no tiles. Any tile size is
// accepted here; one outside the header's range is kept as 0.
int32_t write_empty(TileImage t, std::span<uint8_t> block, uint64_t capacity, int32_t tile_width, int32_t tile_height) {
  if (capacity < TILE_HEADER_SIZE) return MORVANE_TILE_ERR_CAPACITY;
  t.tile_width = static_cast<uint16_t>(is_u16(tile_width) ? tile_width : 0);
  t.tile_height = static_cast<uint16_t>(is_u16(tile_height) ? tile_height : 0);
  write_tile_image(t, block.data());
  return static_cast<int32_t>(TILE_HEADER_SIZE);
}

// Codes the w x h tile at `pixels` into dst with at most `room` bytes.
// Returns the stored length, or 0 when the whole coded tile does not fit.
uint32_t code_tile(const uint8_t* pixels, uint32_t w, uint32_t h, uint32_t bpp, uint8_t* dst, uint32_t room,
                   int codec_kind) {
  return coder_of(codec_kind)->encode(pixels, w * h, bpp, dst, room);
}

// Tile `index` (row r, column c) at block[pos], in at most the rest of
// block: the payload coded beforehand when it is what coding it here would
// give, else coded here. Its stored length, 0 when it does not fit.
uint32_t place_tile(const Grid& g, std::span<const uint8_t> src, std::span<uint8_t> block, uint64_t pos, uint32_t r,
                    uint32_t c, std::span<const uint8_t> coded, int codec_kind) {
  const uint32_t w = tile_side(c, g.tw, g.w_img), h = tile_side(r, g.th, g.h_img);
  const uint32_t room = static_cast<uint32_t>(block.size() - pos);
  const uint32_t worst = tile_worst(w, h, g.bpp, codec_kind);
  // With at least its worst case as room a tile codes to the same bytes
  // whatever the room (LZ4_compress_HC checks the room only below
  // LZ4_compressBound; the run-length stream is whole at (1 + bpp) bytes
  // a pixel), so a payload coded beforehand with that room is what
  // coding it here would give. With less room the codec must see the
  // real room, so the tile is coded here.
  if (!coded.empty() && coded.size() <= worst && room >= worst) {
    std::memcpy(block.data() + pos, coded.data(), coded.size());
    return static_cast<uint32_t>(coded.size());
  }
  const uint8_t* pixels = gather_tile(src.data(), g.w_img, g.bpp, c * g.tw, r * g.th, w, h);
  return code_tile(pixels, w, h, g.bpp, block.data() + pos, room, codec_kind);
}

// Every tile's payload, back to back from table_end on, and its TileRef:
// where the payloads end, or 0 when one does not fit into block.
uint64_t write_tiles(const Grid& g, std::span<const uint8_t> src, std::span<uint8_t> block, uint64_t table_end,
                     int codec_kind, std::span<const std::span<const uint8_t>> coded) {
  uint64_t pos = table_end;  // where the next payload goes
  uint32_t index = 0;
  for (uint32_t r = 0; r < g.down; ++r) {
    for (uint32_t c = 0; c < g.across; ++c, ++index) {
      const std::span<const uint8_t> before = index < coded.size() ? coded[index] : std::span<const uint8_t>{};
      const uint32_t len = place_tile(g, src, block, pos, r, c, before, codec_kind);
      if (len == 0) return 0;
      uint8_t* ref = block.data() + TILE_HEADER_SIZE + size_t{index} * TILE_REF_SIZE;
      write_tile_ref({static_cast<uint32_t>(pos), len}, ref);
      pos += len;
    }
  }
  return pos;
}

}  // namespace

}  // namespace morvane::detail

namespace morvane {

using namespace detail;

int32_t tile_image_check(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height,
                         int pixel_format, int codec_kind) {
  if (coder_of(codec_kind) == nullptr) return MORVANE_TILE_ERR_CODEC_KIND;
  const int bpp = pixel_format_bytes(pixel_format);
  if (bpp == 0) return MORVANE_TILE_ERR_PIXEL_FORMAT;
  if (!is_u16(width) || !is_u16(height)) return MORVANE_TILE_ERR_DIMENSIONS;
  if (width == 0 || height == 0) return 0;  // no tiles: the tile size plays no part
  if (tile_width <= 0 || tile_height <= 0 || !is_u16(tile_width) || !is_u16(tile_height))
    return MORVANE_TILE_ERR_TILE_SIZE;
  if (div_up(uint64_t(width), uint64_t(tile_width)) * div_up(uint64_t(height), uint64_t(tile_height)) >
      TILE_MAX_COUNT)
    return MORVANE_TILE_ERR_TILE_COUNT;
  if (uint64_t(tile_width) * uint64_t(tile_height) * uint64_t(bpp) > TILE_BUFFER_SIZE) return MORVANE_TILE_ERR_TILE_BYTES;
  return 0;
}

uint64_t tile_image_bound(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height,
                          int pixel_format, int codec_kind) {
  if (tile_image_check(width, height, tile_width, tile_height, pixel_format, codec_kind) != 0) return 0;
  const uint64_t bpp = static_cast<uint64_t>(pixel_format_bytes(pixel_format));
  const uint64_t untiled = TILE_HEADER_SIZE + uint64_t(width) * uint64_t(height) * bpp;
  if (width == 0 || height == 0) return untiled;
  const uint32_t across = static_cast<uint32_t>(div_up(uint64_t(width), uint64_t(tile_width)));
  const uint32_t down = static_cast<uint32_t>(div_up(uint64_t(height), uint64_t(tile_height)));
  uint64_t tiled = TILE_HEADER_SIZE + uint64_t{TILE_REF_SIZE} * across * down;
  if (!stores_whole(codec_kind)) {
    for (uint32_t r = 0; r < down; ++r) {
      const uint64_t h = tile_side(r, uint32_t(tile_height), uint32_t(height));
      for (uint32_t c = 0; c < across; ++c) {
        const uint64_t w = tile_side(c, uint32_t(tile_width), uint32_t(width));
        tiled += tile_worst(w, h, bpp, codec_kind);
      }
    }
  }
  return std::max(tiled, untiled);
}

int32_t tile_image_encode(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width, int32_t height,
                          int32_t tile_width, int32_t tile_height, uint8_t pixel_format, uint8_t codec_kind) {
  return assemble_tile_image(src, block, width, height, tile_width, tile_height, pixel_format, codec_kind, {});
}

int32_t encode_tile_image(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width, int32_t height,
                          int32_t tile_width, int32_t tile_height, uint8_t pixel_format, uint8_t codec_kind) {
  const int32_t n = tile_image_encode(src, block, width, height, tile_width, tile_height, pixel_format, codec_kind);
  return n < 0 ? MORVANE_TILE_ERR_FAILED : n;
}

}  // namespace morvane

namespace morvane::detail {

uint32_t tile_payload_bound(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height, int pixel_format,
                            int codec_kind, uint32_t index) {
  if (tile_image_check(width, height, tile_width, tile_height, pixel_format, codec_kind) != 0) return 0;
  if (stores_whole(codec_kind) || width == 0 || height == 0) return 0;
  const Grid g = grid_of(width, height, tile_width, tile_height, pixel_format);
  if (index >= g.across * g.down) return 0;
  return tile_worst(tile_side(index % g.across, g.tw, g.w_img), tile_side(index / g.across, g.th, g.h_img), g.bpp,
                    codec_kind);
}

uint32_t encode_tile(std::span<const uint8_t> src, std::span<uint8_t> dst, int32_t width, int32_t height,
                     int32_t tile_width, int32_t tile_height, uint8_t pixel_format, uint8_t codec_kind,
                     uint32_t index) {
  if (tile_payload_bound(width, height, tile_width, tile_height, pixel_format, codec_kind, index) == 0) return 0;
  const Grid g = grid_of(width, height, tile_width, tile_height, pixel_format);
  if (src.size() < uint64_t{g.w_img} * g.h_img * g.bpp) return 0;
  const uint32_t r = index / g.across, c = index % g.across;
  const uint32_t w = tile_side(c, g.tw, g.w_img), h = tile_side(r, g.th, g.h_img);
  const uint8_t* pixels = gather_tile(src.data(), g.w_img, g.bpp, c * g.tw, r * g.th, w, h);
  const uint32_t room = static_cast<uint32_t>(std::min<uint64_t>(dst.size(), BLOCK_SIZE_LIMIT));
  return code_tile(pixels, w, h, g.bpp, dst.data(), room, codec_kind);
}

int32_t assemble_tile_image(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width, int32_t height,
                            int32_t tile_width, int32_t tile_height, uint8_t pixel_format, uint8_t codec_kind,
                            std::span<const std::span<const uint8_t>> coded) {
  const int32_t check = tile_image_check(width, height, tile_width, tile_height, pixel_format, codec_kind);
  if (check != 0) return check;
  const uint32_t bpp = static_cast<uint32_t>(pixel_format_bytes(pixel_format));
  const uint64_t raw = uint64_t(width) * uint64_t(height) * bpp;
  if (src.size() < raw) return MORVANE_TILE_ERR_SOURCE;
  const uint64_t capacity = std::min<uint64_t>(block.size(), BLOCK_SIZE_LIMIT);

  if (stores_whole(codec_kind)) {
    if (capacity < TILE_HEADER_SIZE + raw) return MORVANE_TILE_ERR_CAPACITY;
    return write_untiled(src, block, width, height, pixel_format, raw);
  }
  TileImage t = tiled_header(width, height, pixel_format, codec_kind);
  if (width == 0 || height == 0) return write_empty(t, block, capacity, tile_width, tile_height);

  const Grid g = grid_of(width, height, tile_width, tile_height, pixel_format);
  t.tile_width = static_cast<uint16_t>(tile_width);
  t.tile_height = static_cast<uint16_t>(tile_height);
  const uint64_t table_end = TILE_HEADER_SIZE + uint64_t{TILE_REF_SIZE} * g.across * g.down;
  if (capacity < table_end) return MORVANE_TILE_ERR_CAPACITY;
  write_tile_image(t, block.data());  // tile_count stays 0 until every tile is in
  const std::span<uint8_t> usable = block.first(static_cast<size_t>(capacity));
  const uint64_t end = write_tiles(g, src, usable, table_end, codec_kind, coded);
  if (end == 0) return MORVANE_TILE_ERR_CAPACITY;
  t.tile_count = static_cast<uint16_t>(g.across * g.down);
  write_tile_image(t, block.data());
  // Only the payloads are weighed against the raw pixels; a tie stays tiled.
  if (end - table_end <= raw) return static_cast<int32_t>(end);
  if (capacity < TILE_HEADER_SIZE + raw) return MORVANE_TILE_ERR_CAPACITY;
  return write_untiled(src, block, width, height, pixel_format, raw);
}

}  // namespace morvane::detail

// Region decoder for tiled image blocks, and the one-slot tile cache it
// decodes through.
//
// Nothing here allocates or touches files: the slot is one static 1 MiB
// buffer. A tile is decoded into the slot and its rows copied out from there,
// except that the tiles of a region one tile column wide, the last one apart,
// are decoded straight into the output. Not reentrant.
#include <lz4.h>

#include <algorithm>
#include <cstring>

#include "tile/byte_order.h"
#include "tile/tile_image.h"

namespace {

// The slot and the flag that tells whether it has been zero-filled yet.
TileCache g_slot;
bool g_cache_ready = false;

// A header that decode_tile_region has checked, with the grid worked out.
struct Grid {
  uint32_t magic;
  uint32_t width, height;            // image, pixels
  uint32_t tile_width, tile_height;  // nominal tile, pixels
  uint32_t bpp;
  uint32_t across;                   // tile columns
};

// The header as tile_image_read checks it, with the grid worked out.
int32_t check_block(std::span<const uint8_t> block, Grid* g) {
  TileImage t;
  if (const int32_t rc = tile_image_read(block, &t); rc != 0) return rc;
  g->magic = t.magic;
  g->width = t.width;
  g->height = t.height;
  g->tile_width = t.tile_width;
  g->tile_height = t.tile_height;
  g->bpp = t.bytes_per_pixel;
  const bool tiles = t.magic != TILE_MAGIC_RAW && t.width != 0 && t.height != 0;
  g->across = tiles ? (g->width + g->tile_width - 1) / g->tile_width : 0;
  return 0;
}

// Decodes tile `index` (tile_bytes pixel bytes once decoded) into dst, which
// has room for `room` bytes, at least tile_bytes; when there is more room, a
// payload that decodes to too much shows. Returns 0, TILE_ERR_PAYLOAD for a TileRef of
// length 0 or one that reaches outside the block, or TILE_ERR_CORRUPT when
// the payload does not decode to exactly tile_bytes. Anywhere in the room may
// have been written, also on success (LZ4 copies in whole words).
int32_t decode_tile(std::span<const uint8_t> block, const Grid& g, uint32_t index, uint32_t tile_bytes,
                    uint8_t* dst, uint32_t room, uint32_t* stored_len) {
  const uint8_t* ref = block.data() + TILE_HEADER_SIZE + size_t{index} * TILE_REF_SIZE;
  const uint32_t offset = load_le32(ref);
  const uint32_t len = load_le32(ref + 4);
  if (len == 0 || offset > block.size() || len > block.size() - offset) return TILE_ERR_PAYLOAD;
  // A payload never exceeds what a signed length can say: checked so the
  // codecs' int arguments cannot wrap on a block above 2 GiB.
  if (len > 0x7FFFFFFFu) return TILE_ERR_PAYLOAD;
  const uint8_t* payload = block.data() + offset;
  int32_t got;
  if (g.magic == TILE_MAGIC_LZ4) {
    got = LZ4_decompress_safe(reinterpret_cast<const char*>(payload), reinterpret_cast<char*>(dst),
                              static_cast<int>(len), static_cast<int>(room));
  } else {
    got = decode_rle_pixels(payload, dst, static_cast<int32_t>(len), static_cast<int32_t>(room),
                            static_cast<int32_t>(g.bpp));
  }
  if (got < 0 || static_cast<uint32_t>(got) != tile_bytes) return TILE_ERR_CORRUPT;
  *stored_len = len;
  return 0;
}

// Copies `rows` rows of n bytes. Within one tile n never changes, so the
// branch below is taken the same way on every row; rows of 4 bytes and more
// are moved in fixed-size pieces (the last one overlapping the one before)
// that compile to plain loads and stores.
inline void copy_rows(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, size_t n,
                      uint32_t rows) {
  if (n == dst_stride && n == src_stride) {
    std::memcpy(dst, src, n * rows);
    return;
  }
  if (n >= 32) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      size_t i = 0;
      for (; i + 32 <= n; i += 32) std::memcpy(dst + i, src + i, 32);
      if (i < n) std::memcpy(dst + n - 32, src + n - 32, 32);
    }
  } else if (n >= 16) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      std::memcpy(dst, src, 16);
      std::memcpy(dst + n - 16, src + n - 16, 16);
    }
  } else if (n >= 8) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      std::memcpy(dst, src, 8);
      std::memcpy(dst + n - 8, src + n - 8, 8);
    }
  } else if (n >= 4) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      std::memcpy(dst, src, 4);
      std::memcpy(dst + n - 4, src + n - 4, 4);
    }
  } else {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride)
      for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  }
}

}  // namespace

// Always returns the slot. On the first call the whole slot is zero-filled.
// A hit (valid, same block by address, same index) adds one to use_count; a
// miss on another tile clears valid alone and keeps the other fields.
TileCache* tile_cache_lookup(const uint8_t* block, uint16_t index) {
  if (!g_cache_ready) {
    std::memset(&g_slot, 0, sizeof g_slot);
    g_cache_ready = true;
  }
  if (g_slot.valid == 0) return &g_slot;
  if (g_slot.owner == block && g_slot.tile_index == index) {
    ++g_slot.use_count;  // wraps at 65536
    return &g_slot;
  }
  g_slot.valid = 0;
  return &g_slot;
}

// The slot's valid field; 0 for no slot.
uint16_t tile_cache_is_valid(const TileCache* slot) { return slot != nullptr ? slot->valid : 0; }

// Records the tile just decoded into the slot's pixels. Returns 0, or
// TILE_ERR_NO_SLOT (-22) for no slot.
int32_t tile_cache_fill(TileCache* slot, const uint8_t* block, uint16_t index, uint16_t length_tag) {
  if (slot == nullptr) return TILE_ERR_NO_SLOT;
  slot->owner = block;
  slot->tile_index = index;
  slot->length_tag = length_tag;
  slot->valid = 1;
  slot->use_count = 1;
  return 0;
}

// Clears valid when the slot holds a tile of `block`; any other tile stays.
void tile_cache_forget(const uint8_t* block) {
  if (g_cache_ready && g_slot.owner == block) g_slot.valid = 0;
}

const TileCache* tile_cache_slot() { return g_cache_ready ? &g_slot : nullptr; }

// Always writes the intersection, empty or not; 1 when it is non-empty.
uint8_t intersect_rects(RegionRect* result, const RegionRect& a, const RegionRect& b) {
  result->x0 = std::max(a.x0, b.x0);
  result->y0 = std::max(a.y0, b.y0);
  result->x1 = std::min(a.x1, b.x1);
  result->y1 = std::min(a.y1, b.y1);
  return result->x0 <= result->x1 && result->y0 <= result->y1 ? 1 : 0;
}

// Results, in the order of the checks, all made before anything is written:
//   TILE_ERR_HEADER, TILE_ERR_MAGIC, TILE_ERR_PAYLOAD (untiled block short of
//     its pixels): see check_block
//   TILE_ERR_REGION   x, y, w or h negative, x + w above the width, y + h
//                     above the height, or w x h x bpp above 2^31 - 1 bytes
//                     (more than a result can count)
//   TILE_ERR_OUTPUT   out shorter than w x h x bpp bytes
// then, while the tiles are walked (rows of tiles already copied stay in out):
//   TILE_ERR_PAYLOAD  a TileRef of length 0 or reaching outside the block
//   TILE_ERR_CORRUPT  a payload that does not decode to exactly its tile's
//                     width x height x bpp bytes; the slot is left invalid
// An empty region (w or h 0) inside a sound block returns 0 and writes and
// decodes nothing.
int32_t decode_tile_region(std::span<const uint8_t> block, std::span<uint8_t> out, int32_t x, int32_t y, int32_t w,
                           int32_t h) {
  Grid g;
  if (const int32_t rc = check_block(block, &g); rc != 0) return rc;
  if (x < 0 || y < 0 || w < 0 || h < 0 || int64_t{x} + w > int64_t{g.width} || int64_t{y} + h > int64_t{g.height})
    return TILE_ERR_REGION;
  const uint64_t size = uint64_t(w) * uint64_t(h) * g.bpp;
  if (size > 0x7FFFFFFFu) return TILE_ERR_REGION;
  if (out.size() < size) return TILE_ERR_OUTPUT;
  if (size == 0) return 0;

  const uint32_t bpp = g.bpp;
  const size_t out_row = size_t(w) * bpp;
  uint8_t* const dst = out.data();

  if (g.magic == TILE_MAGIC_RAW) {
    // Untiled: rows of the image straight from the block; the cache is not
    // touched.
    const size_t image_row = size_t{g.width} * bpp;
    const uint8_t* src = block.data() + TILE_HEADER_SIZE + size_t(y) * image_row + size_t(x) * bpp;
    copy_rows(dst, out_row, src, image_row, out_row, static_cast<uint32_t>(h));
    return static_cast<int32_t>(size);
  }

  // Tiled: every tile that the region overlaps, row of tiles by row of tiles,
  // each looked up in the slot. All coordinates stay below 2^17, so 32 bits hold
  // them and their sums.
  const uint32_t tw = g.tile_width, th = g.tile_height;
  const RegionRect request{x, y, x + w - 1, y + h - 1};
  const uint32_t col_first = uint32_t(x) / tw, col_last = uint32_t(request.x1) / tw;
  const uint32_t row_first = uint32_t(y) / th, row_last = uint32_t(request.y1) / th;
  int64_t written = 0;
  for (uint32_t r = row_first; r <= row_last; ++r) {
    for (uint32_t c = col_first; c <= col_last; ++c) {
      const uint32_t index = r * g.across + c;  // below tile_count, so below 2^16
      const RegionRect tile{int32_t(c * tw), int32_t(r * th), int32_t(std::min((c + 1) * tw, g.width) - 1),
                            int32_t(std::min((r + 1) * th, g.height) - 1)};
      const uint32_t tile_w = uint32_t(tile.x1 - tile.x0 + 1), tile_h = uint32_t(tile.y1 - tile.y0 + 1);
      const uint32_t tile_bytes = tile_w * tile_h * bpp;
      RegionRect part;
      if (intersect_rects(&part, request, tile) == 0) continue;  // never, for a tile in range
      const size_t n = size_t(part.x1 - part.x0 + 1) * bpp;
      const uint32_t rows = uint32_t(part.y1 - part.y0 + 1);
      uint8_t* const to = dst + size_t(part.y0 - y) * out_row + size_t(part.x0 - x) * bpp;

      TileCache* slot = tile_cache_lookup(block.data(), static_cast<uint16_t>(index));
      if (tile_cache_is_valid(slot) == 0) {
        uint32_t stored_len = 0;
        // A whole tile as wide as the region (so the region is one column of
        // tiles) lies in the output as it lies in the slot, and is decoded in
        // place. Only the last tile of the walk must be in the slot afterwards
        // (a request that starts where this one ended finds it there), so the
        // others skip the slot and leave it invalid. The room runs to the end
        // of the region: whatever the codec writes past the tile lies in
        // tiles that are written after it.
        const bool last = r == row_last && c == col_last;
        const bool whole = part.x0 == tile.x0 && part.x1 == tile.x1 && part.y0 == tile.y0 && part.y1 == tile.y1;
        if (whole && !last && tile_w == uint32_t(w)) {
          const uint64_t room = std::min<uint64_t>(size - uint64_t(to - dst), TILE_BUFFER_SIZE);
          const int32_t rc = decode_tile(block, g, index, tile_bytes, to, uint32_t(room), &stored_len);
          if (rc != 0) return rc;
          written += tile_bytes;
          continue;
        }
        const int32_t rc = decode_tile(block, g, index, tile_bytes, slot->pixels, TILE_BUFFER_SIZE, &stored_len);
        if (rc != 0) return rc;  // the slot stays invalid
        tile_cache_fill(slot, block.data(), static_cast<uint16_t>(index), static_cast<uint16_t>(stored_len));
      }
      const size_t tile_row = size_t{tile_w} * bpp;
      copy_rows(to, out_row, slot->pixels + size_t(part.y0 - tile.y0) * tile_row + size_t(part.x0 - tile.x0) * bpp,
                tile_row, n, rows);
      written += int64_t(rows) * int64_t(n);
    }
  }
  return static_cast<int32_t>(written);
}

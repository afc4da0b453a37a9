#include <lz4.h>

#include <algorithm>
#include <cstring>

#include "tile/tile_image.h"

namespace {

TileCache g_cache;
bool g_cache_ready = false;

uint64_t div_up(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// Copies one row of a tile: fixed-size moves, the last one overlapping the
// one before, so that short rows cost no library call.
inline void copy_row(uint8_t* d, const uint8_t* s, size_t n) {
  if (n >= 32) {
    size_t i = 0;
    for (; i + 32 <= n; i += 32) std::memcpy(d + i, s + i, 32);
    if (i < n) std::memcpy(d + n - 32, s + n - 32, 32);
  } else if (n >= 16) {
    std::memcpy(d, s, 16);
    std::memcpy(d + n - 16, s + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(d, s, 8);
    std::memcpy(d + n - 8, s + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(d, s, 4);
    std::memcpy(d + n - 4, s + n - 4, 4);
  } else {
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
  }
}

// Decodes tile `index` of a checked tiled block into the slot's pixels.
int32_t decode_tile(std::span<const uint8_t> block, const TileImage& t, uint32_t index, uint32_t w, uint32_t h,
                    TileCache* slot) {
  const TileRef ref = read_tile_ref(block.data() + TILE_HEADER_SIZE + size_t{index} * TILE_REF_SIZE);
  if (ref.len == 0 || ref.offset > block.size() || ref.len > block.size() - ref.offset) return TILE_ERR_PAYLOAD;
  const uint8_t* payload = block.data() + ref.offset;
  const int32_t want = static_cast<int32_t>(w * h * t.bytes_per_pixel);
  int32_t got;
  if (t.magic == TILE_MAGIC_LZ4) {
    got = LZ4_decompress_safe(reinterpret_cast<const char*>(payload), reinterpret_cast<char*>(slot->pixels),
                              static_cast<int>(ref.len), static_cast<int>(TILE_BUFFER_SIZE));
  } else {
    got = decode_rle_pixels(payload, slot->pixels, static_cast<int32_t>(ref.len), want, t.bytes_per_pixel);
  }
  if (got != want) return TILE_ERR_CORRUPT;
  tile_cache_fill(slot, block.data(), static_cast<uint16_t>(index), static_cast<uint16_t>(ref.len));
  return 0;
}

}  // namespace

TileCache* tile_cache_lookup(const uint8_t* block, uint16_t index) {
  if (!g_cache_ready) {
    std::memset(&g_cache, 0, sizeof g_cache);
    g_cache_ready = true;
  }
  if (g_cache.valid == 0) return &g_cache;
  if (g_cache.owner == block && g_cache.tile_index == index) {
    ++g_cache.use_count;
    return &g_cache;
  }
  g_cache.valid = 0;
  return &g_cache;
}

uint16_t tile_cache_is_valid(const TileCache* slot) { return slot != nullptr ? slot->valid : 0; }

int32_t tile_cache_fill(TileCache* slot, const uint8_t* block, uint16_t index, uint16_t length_tag) {
  if (slot == nullptr) return TILE_ERR_NO_SLOT;
  slot->owner = block;
  slot->tile_index = index;
  slot->length_tag = length_tag;
  slot->valid = 1;
  slot->use_count = 1;
  return 0;
}

void tile_cache_forget(const uint8_t* block) {
  if (g_cache_ready && g_cache.owner == block) g_cache.valid = 0;
}

const TileCache* tile_cache_slot() { return g_cache_ready ? &g_cache : nullptr; }

uint8_t intersect_rects(RegionRect* result, const RegionRect& a, const RegionRect& b) {
  result->x0 = std::max(a.x0, b.x0);
  result->y0 = std::max(a.y0, b.y0);
  result->x1 = std::min(a.x1, b.x1);
  result->y1 = std::min(a.y1, b.y1);
  return result->x0 <= result->x1 && result->y0 <= result->y1 ? 1 : 0;
}

int32_t decode_tile_region(std::span<const uint8_t> block, std::span<uint8_t> out, int32_t x, int32_t y, int32_t w,
                           int32_t h) {
  if (block.size() < TILE_HEADER_SIZE) return TILE_ERR_HEADER;
  const TileImage t = read_tile_image(block.data());
  const uint32_t bpp = t.bytes_per_pixel;
  if (bpp < 1 || bpp > 4) return TILE_ERR_HEADER;
  if (t.magic != TILE_MAGIC_RAW && t.magic != TILE_MAGIC_LZ4 && t.magic != TILE_MAGIC_RLE) return TILE_ERR_MAGIC;
  if (x < 0 || y < 0 || w < 0 || h < 0 || int64_t{x} + w > t.width || int64_t{y} + h > t.height)
    return TILE_ERR_REGION;
  const uint64_t size = uint64_t(w) * uint64_t(h) * bpp;
  if (out.size() < size) return TILE_ERR_OUTPUT;
  const size_t out_row = size_t(w) * bpp;
  if (t.magic == TILE_MAGIC_RAW) {
    const uint64_t image_row = uint64_t{t.width} * bpp;
    if (block.size() - TILE_HEADER_SIZE < image_row * t.height) return TILE_ERR_PAYLOAD;
    for (int32_t j = 0; j < h; ++j)
      std::memcpy(out.data() + j * out_row, block.data() + TILE_HEADER_SIZE + (uint64_t(y) + j) * image_row + uint64_t(x) * bpp,
                  out_row);
    return static_cast<int32_t>(size);
  }
  if (w == 0 || h == 0) return 0;
  const uint32_t tw = t.tile_width, th = t.tile_height;
  if (tw == 0 || th == 0 || uint64_t{tw} * th * bpp > TILE_BUFFER_SIZE) return TILE_ERR_HEADER;
  const uint32_t across = static_cast<uint32_t>(div_up(t.width, tw));
  const uint32_t down = static_cast<uint32_t>(div_up(t.height, th));
  if (uint64_t{across} * down != t.tile_count || block.size() < TILE_HEADER_SIZE + uint64_t{TILE_REF_SIZE} * t.tile_count)
    return TILE_ERR_HEADER;

  const RegionRect request{x, y, x + w - 1, y + h - 1};
  int32_t written = 0;
  for (uint32_t r = static_cast<uint32_t>(y) / th; r < div_up(uint64_t(y) + h, th); ++r) {
    for (uint32_t c = static_cast<uint32_t>(x) / tw; c < div_up(uint64_t(x) + w, tw); ++c) {
      const uint32_t index = r * across + c;
      TileCache* slot = tile_cache_lookup(block.data(), static_cast<uint16_t>(index));
      RegionRect tile{static_cast<int32_t>(c * tw), static_cast<int32_t>(r * th),
                      static_cast<int32_t>(std::min((c + 1) * tw, uint32_t{t.width}) - 1),
                      static_cast<int32_t>(std::min((r + 1) * th, uint32_t{t.height}) - 1)};
      const uint32_t tile_w = static_cast<uint32_t>(tile.x1 - tile.x0 + 1);
      if (!tile_cache_is_valid(slot)) {
        int32_t rc = decode_tile(block, t, index, tile_w, static_cast<uint32_t>(tile.y1 - tile.y0 + 1), slot);
        if (rc < 0) return rc;
      }
      RegionRect part;
      if (!intersect_rects(&part, request, tile)) continue;
      const size_t copy = size_t(part.x1 - part.x0 + 1) * bpp;
      const size_t tile_row = size_t{tile_w} * bpp;
      uint8_t* d = out.data() + size_t(part.y0 - y) * out_row + size_t(part.x0 - x) * bpp;
      const uint8_t* from = slot->pixels + size_t(part.y0 - tile.y0) * tile_row + size_t(part.x0 - tile.x0) * bpp;
      for (int32_t yy = part.y0; yy <= part.y1; ++yy, d += out_row, from += tile_row) copy_row(d, from, copy);
      written += static_cast<int32_t>(size_t(part.y1 - part.y0 + 1) * copy);
    }
  }
  return written;
}

// SPDX-License-Identifier: MIT
#include "core/tile_size.h"

#include <algorithm>

#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

TileSize choose_tile_size(uint16_t width, uint16_t height, uint16_t tw, uint16_t th) {
  const uint64_t area = uint64_t{width} * height;
  const uint64_t hint = uint64_t{tw} * th;
  if (area <= hint) return {width, height};
  // Here width and height are at least 1.
  if (width < height) {
    if (width <= tw) return {width, static_cast<int32_t>(std::min<uint64_t>(hint / width, height))};
    return {tw, th};
  }
  if (width > height) {
    if (height <= th) return {static_cast<int32_t>(std::min<uint64_t>(hint / height, width)), height};
    return {tw, th};
  }
  return {tw, th};
}

TileSize tile_size_for(const EntryRect& rect, const TileHint& hint, int bytes_per_pixel) {
  TileSize tile = choose_tile_size(rect.width, rect.height, hint.hint_width, hint.hint_height);
  const uint64_t row_bytes = uint64_t(tile.tile_width) * uint64_t(bytes_per_pixel);
  if (row_bytes > 0 && row_bytes * uint64_t(tile.tile_height) > TILE_BUFFER_SIZE)
    tile.tile_height = static_cast<int32_t>(TILE_BUFFER_SIZE / row_bytes);
  return tile;
}

// SPDX-License-Identifier: MIT
// The tile size compression cuts an image in: the image's TileHint, fitted
// to the image and to the tile buffers.
#pragma once

#include <cstdint>

#include "pack/pack_format.h"

struct TileSize {
  int32_t tile_width = 0;
  int32_t tile_height = 0;
};

// The tile size for a W x H image whose TileHint asks for TW x TH. Computed
// without overflow; sides never exceed the image's.
TileSize choose_tile_size(uint16_t width, uint16_t height, uint16_t tw, uint16_t th);

// choose_tile_size, with the tile cut lower when its pixels of
// bytes_per_pixel would not fit the tile buffers (TILE_BUFFER_SIZE, 1 MiB).
TileSize tile_size_for(const EntryRect& rect, const TileHint& hint, int bytes_per_pixel);

// SPDX-License-Identifier: MIT
// Pixels coded for test inputs: whole-entry LZ4 data and tiled image blocks,
// made by the tile library. A test of a conversion takes its expected bytes
// elsewhere (fixed bytes, the committed samples, an independent decoder).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// LZ4 HC at level 12, as whole-entry compression codes it.
std::vector<uint8_t> lz4_block(const std::vector<uint8_t>& raw);

// The block encode_tile_image writes for raw (w x h pixels of the format)
// cut in tw x th tiles, in a buffer of `capacity` bytes (0: the bound); cut
// to its length, empty on failure. `result` gets encode_tile_image's result.
std::vector<uint8_t> tile_block(const std::vector<uint8_t>& raw, int w, int h, int tw, int th, int format, int codec,
                                size_t capacity = 0, int32_t* result = nullptr);

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

// The pixel format the tile tests take for pixels of bpp (1 to 4) bytes.
int format_for(int bpp);

// The cw x ch pixels at (x, y) of img, an image w pixels wide, rows packed.
std::vector<uint8_t> crop(const std::vector<uint8_t>& img, int w, int bpp, int x, int y, int cw, int ch);

// A block made by hand: its header byte by byte, and the header followed by
// one TileRef per payload and the payloads, in table order.
std::vector<uint8_t> tile_header(uint32_t magic, int w, int h, int tw, int th, int format, int bpp, int count);
std::vector<uint8_t> tiled_block(std::vector<uint8_t> head, const std::vector<std::vector<uint8_t>>& payloads);

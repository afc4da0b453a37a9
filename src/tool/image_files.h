// SPDX-License-Identifier: MIT
// PNG pictures through libspng and the size of JPEG pictures through
// libturbojpeg, in memory: the callers read and write the files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tool/pixel_formats.h"
#include "tool/tool_files.h"

// A decoded PNG: 8-bit RGBA, rows packed, whatever its colour type and bit
// depth were.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  PictureKind kind;
  std::vector<uint8_t> rgba;
};

// The largest side a pack entry holds.
inline constexpr uint32_t PICTURE_MAX_SIDE = 65535;

// The size in a PNG file's header, without decoding it; false when the file
// is not a PNG or is more than PICTURE_MAX_SIDE pixels wide or high.
Status png_size(std::span<const uint8_t> file, uint32_t& width, uint32_t& height);

// Decodes `file`. Sides above PICTURE_MAX_SIDE or more than max_pixels
// pixels are refused before anything is decoded (as are hostile chunk
// sizes). Failures are TOOL_ERR_PICTURE with a one-line reason.
Status read_png(std::span<const uint8_t> file, uint64_t max_pixels, Picture& out);

// How write_png codes the rows: zlib's level (-1 its default) and strategy
// (0 default, 1 filtered, 2 Huffman only, 3 run-length), and the row
// filters it may choose from (a mask of 8 none, 16 sub, 32 up, 64 average,
// 128 Paeth).
struct PngSettings {
  int level = -1;
  int strategy = 1;
  int filters = 8 | 16 | 32 | 64 | 128;
};

// What export writes with: zlib level 1, run-length strategy, the Paeth
// filter on every row. On the real-image corpus (bench/png_settings) it
// codes 6 times as fast as the library's defaults (level 6, filtered, every
// filter tried per row) for PNGs 4 % larger.
inline constexpr PngSettings PNG_EXPORT_SETTINGS = {1, 3, 128};

// Encodes width x height pixels of `channels` 8-bit samples (1 grey, 3 RGB,
// 4 RGBA) as a PNG. Both sides must be at least 1.
Status write_png(uint32_t width, uint32_t height, int channels, std::span<const uint8_t> samples,
                 std::vector<uint8_t>& out, const PngSettings& settings = PNG_EXPORT_SETTINGS);

// The picture size a JPEG entry's EntryRect holds: from the frame header of
// a JPEG file, or from a payload that begins with "JPEG" and carries its
// width and height as u16 values in its next four bytes (the pack's own
// form). Anything else is not a JPEG: TOOL_ERR_PICTURE with the reason.
Status jpeg_size(std::span<const uint8_t> file, uint16_t& width, uint16_t& height);

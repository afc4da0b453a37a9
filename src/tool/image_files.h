// PNG pictures through libspng and the size of JPEG pictures through
// libturbojpeg, in memory: the callers read and write the files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tool/pixel_formats.h"

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
bool png_size(std::span<const uint8_t> file, uint32_t& width, uint32_t& height, std::string& error);

// Decodes `file`. Sides above PICTURE_MAX_SIDE or more than max_pixels
// pixels are refused before anything is decoded (as are hostile chunk
// sizes). Returns true, or false with a one-line reason in `error`.
bool read_png(std::span<const uint8_t> file, uint64_t max_pixels, Picture& out, std::string& error);

// Encodes width x height pixels of `channels` 8-bit samples (1 grey, 3 RGB,
// 4 RGBA) as a PNG. Both sides must be at least 1.
bool write_png(uint32_t width, uint32_t height, int channels, std::span<const uint8_t> samples,
               std::vector<uint8_t>& out, std::string& error);

// The picture size a JPEG entry's EntryRect holds: from the frame header of
// a JPEG file, or from a payload that begins with "JPEG" and carries its
// width and height as u16 values in its next four bytes (the pack's own
// form). Anything else is not a JPEG: false with the reason in `error`.
bool jpeg_size(std::span<const uint8_t> file, uint16_t& width, uint16_t& height, std::string& error);

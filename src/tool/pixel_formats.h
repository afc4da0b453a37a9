// SPDX-License-Identifier: MIT
// The pixel formats through which morvane-tool turns pack pixels into PNG
// pictures and back. The codecs never look inside a pixel; only these
// conversions do. docs/manifest.md has the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// What a picture read from a PNG file says about its colours, for a8.
struct PictureKind {
  bool has_alpha = false;  // an alpha channel or a tRNS chunk
  bool grey = false;       // a greyscale colour type
};

struct PixelFormatInfo {
  std::string_view name;
  int bytes;     // bytes per pixel in a pack
  int channels;  // samples per pixel of the exported PNG: 1 grey, 3 RGB, 4 RGBA
  // One pixel from 8-bit RGBA, and back to the samples of its PNG.
  void (*encode)(const uint8_t* rgba, PictureKind kind, uint8_t* out);
  void (*decode)(const uint8_t* in, uint8_t* samples);
  // Bits kept of R, G and B (8: all of them); dithering works on those under 8.
  uint8_t colour_bits[3];
  bool is_default;  // the format of its bytes per pixel when none is named
};

// The format of that name, or nullptr.
const PixelFormatInfo* find_pixel_format(std::string_view name);
// a8, rgb565, rgb888 or argb8888 for 1..4 bytes per pixel; nullptr otherwise.
const PixelFormatInfo* default_pixel_format(int bytes_per_pixel);
// Every known format, for messages: "a8, rgb565, ...".
std::string_view pixel_format_names();

// Whether f keeps fewer than 8 bits of some colour channel: the formats
// dithering is for.
bool has_narrow_colour(const PixelFormatInfo& f);
// Ordered dithering of the colour channels of width-wide 8-bit RGBA rows,
// in place, to what f keeps of them: each R, G and B becomes the 8-bit value
// of the level (bits wide) that v x (2^bits - 1) / 255 plus a threshold from
// a 4 x 4 Bayer matrix at the pixel's position rounds down to, so that
// f.encode stores that level. Alpha is left alone. Integer arithmetic; a
// pixel's result depends only on its value and its position.
void dither_rgba(const PixelFormatInfo& f, std::span<uint8_t> rgba, uint32_t width);
uint8_t dither_channel(uint8_t v, int bits, uint32_t x, uint32_t y);

// Channel conversions: 8 bits to `bits` rounding to nearest, and back by
// replicating the high bits.
uint8_t narrow_channel(uint8_t v, int bits);
uint8_t widen_channel(uint8_t v, int bits);
// The rounded luma 0.299 R + 0.587 G + 0.114 B.
uint8_t luma(uint8_t r, uint8_t g, uint8_t b);

// pixels: count pixels of f.bytes each -> count x f.channels PNG samples.
std::vector<uint8_t> pixels_to_samples(const PixelFormatInfo& f, std::span<const uint8_t> pixels);
// rgba: 4 samples per pixel -> pixels of f.bytes each.
std::vector<uint8_t> rgba_to_pixels(const PixelFormatInfo& f, std::span<const uint8_t> rgba,
                                    PictureKind kind);

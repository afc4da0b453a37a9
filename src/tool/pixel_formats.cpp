// SPDX-License-Identifier: MIT
#include "tool/pixel_formats.h"

#include <algorithm>
#include <string>

#include "tile/byte_order.h"

namespace {

uint16_t pack565(const uint8_t* rgba) {
  return static_cast<uint16_t>((narrow_channel(rgba[0], 5) << 11) | (narrow_channel(rgba[1], 6) << 5) |
                               narrow_channel(rgba[2], 5));
}

void put16(uint8_t* out, unsigned v) { store_le16(out, static_cast<uint16_t>(v)); }

void rgb_from565(unsigned v, uint8_t* samples) {
  samples[0] = widen_channel(static_cast<uint8_t>((v >> 11) & 31), 5);
  samples[1] = widen_channel(static_cast<uint8_t>((v >> 5) & 63), 6);
  samples[2] = widen_channel(static_cast<uint8_t>(v & 31), 5);
}

void encode_a8(const uint8_t* p, PictureKind k, uint8_t* out) {
  if (k.has_alpha) out[0] = p[3];
  else if (k.grey) out[0] = p[0];
  else out[0] = luma(p[0], p[1], p[2]);
}
void decode_a8(const uint8_t* in, uint8_t* s) { s[0] = in[0]; }

void encode_rgb565(const uint8_t* p, PictureKind, uint8_t* out) { put16(out, pack565(p)); }
void decode_rgb565(const uint8_t* in, uint8_t* s) { rgb_from565(load_le16(in), s); }

// The rgb565 u16 stored high byte first, as SPI panels take it.
void encode_rgb565_swapped(const uint8_t* p, PictureKind, uint8_t* out) {
  const uint16_t v = pack565(p);
  out[0] = static_cast<uint8_t>(v >> 8);
  out[1] = static_cast<uint8_t>(v);
}
void decode_rgb565_swapped(const uint8_t* in, uint8_t* s) { rgb_from565(unsigned{in[0]} << 8 | in[1], s); }

void encode_rgb888(const uint8_t* p, PictureKind, uint8_t* out) {
  out[0] = p[2];
  out[1] = p[1];
  out[2] = p[0];
}
void decode_rgb888(const uint8_t* in, uint8_t* s) {
  s[0] = in[2];
  s[1] = in[1];
  s[2] = in[0];
}

void encode_argb8888(const uint8_t* p, PictureKind, uint8_t* out) {
  encode_rgb888(p, {}, out);
  out[3] = p[3];
}
void decode_argb8888(const uint8_t* in, uint8_t* s) {
  decode_rgb888(in, s);
  s[3] = in[3];
}

// B, G, R each multiplied by A / 255, rounded to nearest; then A.
void encode_argb8888_premultiplied(const uint8_t* p, PictureKind, uint8_t* out) {
  for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((unsigned{p[2 - c]} * p[3] + 127) / 255);
  out[3] = p[3];
}
// Divided back, rounded to nearest: exact for A 255, ever coarser below it
// (A 0 leaves no colour at all).
void decode_argb8888_premultiplied(const uint8_t* in, uint8_t* s) {
  const unsigned a = in[3];
  for (int c = 0; c < 3; ++c)
    s[c] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (unsigned{in[2 - c]} * 255 + a / 2) / a));
  s[3] = in[3];
}

// u16 = A1 R5 G5 B5, alpha in the top bit.
void encode_argb1555(const uint8_t* p, PictureKind, uint8_t* out) {
  put16(out, (narrow_channel(p[3], 1) << 15) | (narrow_channel(p[0], 5) << 10) |
                 (narrow_channel(p[1], 5) << 5) | narrow_channel(p[2], 5));
}
void decode_argb1555(const uint8_t* in, uint8_t* s) {
  unsigned v = load_le16(in);
  s[0] = widen_channel(static_cast<uint8_t>((v >> 10) & 31), 5);
  s[1] = widen_channel(static_cast<uint8_t>((v >> 5) & 31), 5);
  s[2] = widen_channel(static_cast<uint8_t>(v & 31), 5);
  s[3] = widen_channel(static_cast<uint8_t>(v >> 15), 1);
}

// u16 = A4 R4 G4 B4.
void encode_argb4444(const uint8_t* p, PictureKind, uint8_t* out) {
  put16(out, (narrow_channel(p[3], 4) << 12) | (narrow_channel(p[0], 4) << 8) |
                 (narrow_channel(p[1], 4) << 4) | narrow_channel(p[2], 4));
}
void decode_argb4444(const uint8_t* in, uint8_t* s) {
  unsigned v = load_le16(in);
  for (int c = 0; c < 3; ++c) s[c] = widen_channel(static_cast<uint8_t>((v >> (8 - 4 * c)) & 15), 4);
  s[3] = widen_channel(static_cast<uint8_t>(v >> 12), 4);
}

// The rgb565 u16, then an 8-bit alpha.
void encode_argb8565(const uint8_t* p, PictureKind, uint8_t* out) {
  put16(out, pack565(p));
  out[2] = p[3];
}
void decode_argb8565(const uint8_t* in, uint8_t* s) {
  rgb_from565(load_le16(in), s);
  s[3] = in[2];
}

// Every format; `is_default` marks the one of its bytes per pixel
// (default_pixel_format), one for each of 1 to 4.
const PixelFormatInfo kFormats[] = {
    {"a8", 1, 1, encode_a8, decode_a8, {8, 8, 8}, true},
    {"rgb565", 2, 3, encode_rgb565, decode_rgb565, {5, 6, 5}, true},
    {"rgb888", 3, 3, encode_rgb888, decode_rgb888, {8, 8, 8}, true},
    {"argb8888", 4, 4, encode_argb8888, decode_argb8888, {8, 8, 8}, true},
    {"argb1555", 2, 4, encode_argb1555, decode_argb1555, {5, 5, 5}, false},
    {"argb4444", 2, 4, encode_argb4444, decode_argb4444, {4, 4, 4}, false},
    {"argb8565", 3, 4, encode_argb8565, decode_argb8565, {5, 6, 5}, false},
    {"rgb565_swapped", 2, 3, encode_rgb565_swapped, decode_rgb565_swapped, {5, 6, 5}, false},
    {"argb8888_premultiplied", 4, 4, encode_argb8888_premultiplied, decode_argb8888_premultiplied, {8, 8, 8}, false},
};

// Thresholds 0..15 of a 4 x 4 Bayer matrix, by row (y) and column (x).
constexpr uint8_t kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

}  // namespace

bool has_narrow_colour(const PixelFormatInfo& f) {
  return f.colour_bits[0] < 8 || f.colour_bits[1] < 8 || f.colour_bits[2] < 8;
}

uint8_t dither_channel(uint8_t v, int bits, uint32_t x, uint32_t y) {
  // floor(v x max / 255 + (t + 1/2) / 16), all over 255 x 32; at most max,
  // since (2t + 1) / 32 < 1.
  const uint32_t max = (1u << bits) - 1;
  const uint32_t t = kBayer4[y & 3][x & 3];
  const uint32_t level = (v * max * 32 + (2 * t + 1) * 255) / (255 * 32);
  // widen_channel's value narrows back to `level` exactly.
  return widen_channel(static_cast<uint8_t>(level), bits);
}

void dither_rgba(const PixelFormatInfo& f, std::span<uint8_t> rgba, uint32_t width) {
  if (width == 0) return;
  const size_t count = rgba.size() / 4;
  for (size_t i = 0; i < count; ++i) {
    const auto x = static_cast<uint32_t>(i % width), y = static_cast<uint32_t>(i / width);
    for (int c = 0; c < 3; ++c)
      if (f.colour_bits[c] < 8) rgba[i * 4 + c] = dither_channel(rgba[i * 4 + c], f.colour_bits[c], x, y);
  }
}

uint8_t narrow_channel(uint8_t v, int bits) {
  const unsigned max = (1u << bits) - 1;
  return static_cast<uint8_t>((v * max + 127) / 255);
}

uint8_t widen_channel(uint8_t v, int bits) {
  // Replicate the high bits into the low ones until 8 bits are filled.
  unsigned out = 0;
  for (int filled = 0; filled < 8; filled += bits) out = (out << bits) | v;
  const int total = ((8 + bits - 1) / bits) * bits;
  return static_cast<uint8_t>(out >> (total - 8));
}

uint8_t luma(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint8_t>((299u * r + 587u * g + 114u * b + 500) / 1000);
}

const PixelFormatInfo* find_pixel_format(std::string_view name) {
  for (const PixelFormatInfo& f : kFormats)
    if (f.name == name) return &f;
  return nullptr;
}

const PixelFormatInfo* default_pixel_format(int bytes_per_pixel) {
  for (const PixelFormatInfo& f : kFormats)
    if (f.is_default && f.bytes == bytes_per_pixel) return &f;
  return nullptr;
}

std::string_view pixel_format_names() {
  static const std::string names = [] {
    std::string list;
    for (const PixelFormatInfo& f : kFormats) list += (list.empty() ? "" : ", ") + std::string(f.name);
    return list;
  }();
  return names;
}

std::vector<uint8_t> pixels_to_samples(const PixelFormatInfo& f, std::span<const uint8_t> pixels) {
  const size_t count = pixels.size() / static_cast<size_t>(f.bytes);
  std::vector<uint8_t> samples(count * static_cast<size_t>(f.channels));
  for (size_t i = 0; i < count; ++i) f.decode(&pixels[i * f.bytes], &samples[i * f.channels]);
  return samples;
}

std::vector<uint8_t> rgba_to_pixels(const PixelFormatInfo& f, std::span<const uint8_t> rgba,
                                    PictureKind kind) {
  const size_t count = rgba.size() / 4;
  std::vector<uint8_t> pixels(count * static_cast<size_t>(f.bytes));
  for (size_t i = 0; i < count; ++i) f.encode(&rgba[i * 4], kind, &pixels[i * f.bytes]);
  return pixels;
}

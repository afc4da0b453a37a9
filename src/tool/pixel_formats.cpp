// SPDX-License-Identifier: MIT
#include "tool/pixel_formats.h"

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

const PixelFormatInfo kFormats[] = {
    {"a8", 1, 1, encode_a8, decode_a8},
    {"rgb565", 2, 3, encode_rgb565, decode_rgb565},
    {"rgb888", 3, 3, encode_rgb888, decode_rgb888},
    {"argb8888", 4, 4, encode_argb8888, decode_argb8888},
    {"argb1555", 2, 4, encode_argb1555, decode_argb1555},
    {"argb4444", 2, 4, encode_argb4444, decode_argb4444},
    {"argb8565", 3, 4, encode_argb8565, decode_argb8565},
};

}  // namespace

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
  return bytes_per_pixel >= 1 && bytes_per_pixel <= 4 ? &kFormats[bytes_per_pixel - 1] : nullptr;
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

// SPDX-License-Identifier: MIT
#include "support/image_gen.h"

#include <cmath>

namespace {

struct Rng {
  uint32_t s;
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
};

void put_pixel(std::vector<uint8_t>& img, size_t index, int bpp, uint32_t rgba) {
  for (int b = 0; b < bpp; ++b) img[index * bpp + b] = static_cast<uint8_t>(rgba >> (8 * b));
}

// Packs 8-bit channels the way the pack's pixel sizes hold them.
uint32_t pack_rgb(int bpp, int r, int g, int b, int a) {
  switch (bpp) {
    case 1: return static_cast<uint32_t>(a);
    case 2: return static_cast<uint32_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    case 3: return static_cast<uint32_t>(b | (g << 8) | (r << 16));
    default: return static_cast<uint32_t>(b | (g << 8) | (r << 16) | (a << 24));
  }
}

}  // namespace

std::vector<uint8_t> make_random_bytes(size_t n, uint32_t seed) {
  Rng rng{seed * 2654435761u + 1};
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng.next() >> 24);
  return out;
}

std::vector<uint8_t> make_image(ImageKind kind, int width, int height, int bpp, uint32_t seed) {
  std::vector<uint8_t> img(static_cast<size_t>(width) * height * bpp);
  Rng rng{seed * 2654435761u + 7};
  switch (kind) {
    case ImageKind::Gradient:
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          int r = width > 1 ? x * 255 / (width - 1) : 0;
          int g = height > 1 ? y * 255 / (height - 1) : 0;
          int b = static_cast<int>(seed & 0xFF);
          put_pixel(img, static_cast<size_t>(y) * width + x, bpp, pack_rgb(bpp, r, g, b, (r + g) / 2));
        }
      break;
    case ImageKind::Flat: {
      uint32_t bg = pack_rgb(bpp, 0x30, 0x30, 0x38, 0);
      for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) put_pixel(img, i, bpp, bg);
      int icons = 3 + static_cast<int>(rng.next() % 4);
      for (int k = 0; k < icons; ++k) {
        int s = 4 + static_cast<int>(rng.next() % 24);
        int x0 = width > 0 ? static_cast<int>(rng.next() % width) : 0;
        int y0 = height > 0 ? static_cast<int>(rng.next() % height) : 0;
        uint32_t fg = pack_rgb(bpp, rng.next() & 0xFF, rng.next() & 0xFF, rng.next() & 0xFF, 0xFF);
        for (int y = y0; y < y0 + s && y < height; ++y)
          for (int x = x0; x < x0 + s && x < width; ++x)
            if ((x - x0) * (x - x0) + (y - y0) * (y - y0) < s * s)
              put_pixel(img, static_cast<size_t>(y) * width + x, bpp, fg);
      }
      break;
    }
    case ImageKind::Noise:
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          int base = (x * 3 + y * 5) & 0xFF;
          int r = (base + static_cast<int>(rng.next() % 40)) & 0xFF;
          int g = (base / 2 + static_cast<int>(rng.next() % 40)) & 0xFF;
          int b = (255 - base + static_cast<int>(rng.next() % 40)) & 0xFF;
          put_pixel(img, static_cast<size_t>(y) * width + x, bpp, pack_rgb(bpp, r, g, b, 0xFF));
        }
      break;
    case ImageKind::Glyphs:
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          // Strokes: thin diagonal and vertical bars inside 12 x 16 cells,
          // with a soft edge.
          int cx = x % 12, cy = y % 16;
          uint32_t cell = (static_cast<uint32_t>(x / 12) * 31 + static_cast<uint32_t>(y / 16) * 17 + seed) % 7;
          int d = cell < 3 ? std::abs(cx - 2 - static_cast<int>(cell)) : std::abs(cx - cy * 10 / 16);
          int a = (cy > 2 && cy < 14 && cell != 6) ? (d == 0 ? 255 : d == 1 ? 96 : 0) : 0;
          put_pixel(img, static_cast<size_t>(y) * width + x, bpp, pack_rgb(bpp, a, a, a, a));
        }
      break;
  }
  return img;
}

#include <cstring>

#include "tile/tile_image.h"

namespace {

inline uint32_t load_pixel(const uint8_t* p, uint32_t bpp) {
  uint32_t v = 0;
  std::memcpy(&v, p, bpp);
  return v;
}

}  // namespace

int32_t encode_rle_pixels(const uint8_t* src, uint8_t* dst, uint32_t pixel_count, uint32_t capacity,
                          uint32_t bpp) {
  uint32_t total = 0;
  uint32_t left = capacity;
  const uint8_t* p = src;
  uint32_t n = pixel_count;
  while (n > 0) {
    const uint32_t first = load_pixel(p, bpp);
    uint32_t r = 1;
    while (r < 127 && r < n && load_pixel(p + r * bpp, bpp) == first) ++r;
    uint32_t count, payload;
    uint8_t header;
    if (r >= 3) {
      count = r;
      payload = bpp;
      header = static_cast<uint8_t>(0x80 + r);
    } else {
      uint32_t k = 1;
      if (n > 1 && r == 1) {
        uint32_t j = 1;
        uint32_t cur = load_pixel(p + bpp, bpp);
        while (k < 127 && j < n) {
          if (j + 1 < n) {
            uint32_t next = load_pixel(p + (j + 1) * bpp, bpp);
            if (cur == next) break;
            cur = next;
          }
          ++k;
          ++j;
        }
      }
      count = k;
      payload = k * bpp;
      header = static_cast<uint8_t>(k);
    }
    if (dst != nullptr) {
      if (left < 1 + payload) return static_cast<int32_t>(total);
      *dst++ = header;
      std::memcpy(dst, p, payload);
      dst += payload;
      left -= 1 + payload;
    }
    total += 1 + payload;
    p += count * bpp;
    n -= count;
  }
  return static_cast<int32_t>(total);
}

int32_t decode_rle_pixels(const uint8_t* src, uint8_t* dst, int32_t src_len, int32_t capacity, int32_t bpp) {
  if (src_len <= 0 || bpp <= 0) return 0;
  int64_t budget = dst != nullptr ? capacity / bpp : 0x7FFFFFFF;
  int64_t left = src_len;
  int64_t total = 0;
  const uint8_t* s = src;
  uint8_t* d = dst;
  while (budget > 0 && left > 0) {
    const uint8_t header = *s++;
    --left;
    int64_t n = header & 0x7F;
    if (header & 0x80) {
      // A run whose pixel the stream does not hold produces nothing.
      if (left < bpp) break;
      if (n > budget) n = budget;
      if (d != nullptr) {
        if (bpp == 1) {
          std::memset(d, *s, static_cast<size_t>(n));
        } else {
          for (int64_t i = 0; i < n; ++i) std::memcpy(d + i * bpp, s, static_cast<size_t>(bpp));
        }
        d += n * bpp;
      }
      s += bpp;
      left -= bpp;
    } else {
      // A literal cut by the end of the stream gives its whole pixels.
      if (n * bpp > left) n = left / bpp;
      if (n > budget) n = budget;
      if (d != nullptr) {
        std::memcpy(d, s, static_cast<size_t>(n * bpp));
        d += n * bpp;
      }
      const int64_t used = (header & 0x7F) * int64_t{bpp};
      s += used < left ? used : left;
      left -= used;
    }
    budget -= n;
    total += n * bpp;
  }
  return static_cast<int32_t>(total);
}

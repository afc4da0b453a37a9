#include <climits>
#include <cstdint>
#include <cstring>

#include "tile/tile_image.h"

namespace {

// Pixels are compared as 32-bit holders of their BPP bytes.
template <int BPP>
inline uint32_t load_pixel(const uint8_t* p) {
  uint32_t v = 0;
  std::memcpy(&v, p, BPP);
  return v;
}

template <int BPP>
int32_t encode_pixels(const uint8_t* src, uint8_t* dst, uint32_t pixel_count, uint32_t capacity) {
  uint64_t total = 0;
  uint32_t left = capacity;
  const uint8_t* p = src;
  uint32_t n = pixel_count;
  while (n > 0) {
    const uint32_t first = load_pixel<BPP>(p);
    uint32_t r = 1;
    const uint32_t run_limit = n < 127 ? n : 127;
    while (r < run_limit && load_pixel<BPP>(p + r * BPP) == first) ++r;
    uint32_t count;
    uint32_t payload;
    uint8_t header;
    if (r >= 3) {
      count = r;
      payload = BPP;
      header = static_cast<uint8_t>(0x80 + r);
    } else {
      // A literal runs until two neighbours are equal (they start the next
      // packet) or 127 pixels; a pair at the front goes out as one pixel.
      uint32_t k = 1;
      if (r == 1 && n > 1) {
        const uint32_t limit = n < 127 ? n : 127;
        uint32_t cur = load_pixel<BPP>(p + BPP);
        while (k < limit) {
          if (k + 1 < n) {
            const uint32_t next = load_pixel<BPP>(p + (k + 1) * BPP);
            if (cur == next) break;
            cur = next;
          }
          ++k;
        }
      }
      count = k;
      payload = k * BPP;
      header = static_cast<uint8_t>(k);
    }
    if (total + 1 + payload > INT32_MAX) break;
    if (dst != nullptr) {
      if (left < 1 + payload) break;
      *dst++ = header;
      std::memcpy(dst, p, payload);
      dst += payload;
      left -= 1 + payload;
    }
    total += 1 + payload;
    p += count * BPP;
    n -= count;
  }
  return static_cast<int32_t>(total);
}

}  // namespace

int32_t encode_rle_pixels(const uint8_t* src, uint8_t* dst, uint32_t pixel_count, uint32_t capacity,
                          uint32_t bpp) {
  switch (bpp) {
    case 1: return encode_pixels<1>(src, dst, pixel_count, capacity);
    case 2: return encode_pixels<2>(src, dst, pixel_count, capacity);
    case 3: return encode_pixels<3>(src, dst, pixel_count, capacity);
    case 4: return encode_pixels<4>(src, dst, pixel_count, capacity);
    default: return 0;  // pixels are 1 to 4 bytes
  }
}

namespace {

constexpr size_t kChunk = 32;

// 32 bytes of the pixel repeated, starting at a pixel boundary. For 3-byte
// pixels the pattern is 48 bytes long, so that it repeats in whole pixels;
// it is then stored 30 bytes (10 pixels) at a time.
template <int BPP>
struct RunPattern {
  static constexpr size_t kStep = BPP == 3 ? 30 : kChunk;
  alignas(16) uint8_t bytes[BPP == 3 ? 48 : kChunk];
  explicit RunPattern(const uint8_t* pixel) {
    if constexpr (BPP == 3) {
      for (size_t i = 0; i < sizeof bytes; i += 3) std::memcpy(bytes + i, pixel, 3);
    } else {
      uint32_t v = 0;
      std::memcpy(&v, pixel, BPP);
      const uint64_t word = BPP == 1 ? v * 0x0101010101010101ull
                          : BPP == 2 ? v * 0x0001000100010001ull
                                     : v * 0x0000000100000001ull;
      for (size_t i = 0; i < kChunk; i += 8) std::memcpy(bytes + i, &word, 8);
    }
  }
};

// Writes `bytes` (a multiple of BPP) of the pixel at `pixel`. With `room`
// to spare, whole 32-byte stores run past the end of the run; what they
// write there lies inside the budget and is overwritten by later packets.
template <int BPP>
inline void fill_run(uint8_t* d, const uint8_t* pixel, size_t bytes, size_t room) {
  const RunPattern<BPP> p(pixel);
  constexpr size_t step = RunPattern<BPP>::kStep;
  size_t i = 0;
  if (room >= bytes + kChunk) {
    for (; i < bytes; i += step) std::memcpy(d + i, p.bytes, kChunk);
    return;
  }
  for (; i + step <= bytes; i += step) std::memcpy(d + i, p.bytes, step);
  std::memcpy(d + i, p.bytes, bytes - i);
}

inline void fill_run_any(uint8_t* d, const uint8_t* pixel, size_t bytes, size_t bpp) {
  for (size_t i = 0; i < bytes; i += bpp) std::memcpy(d + i, pixel, bpp);
}

// BPP 0 stands for any pixel size, passed in bpp.
template <int BPP>
int32_t decode_into(const uint8_t* src, uint8_t* dst, size_t src_len, size_t capacity, size_t bpp_any) {
  const size_t bpp = BPP != 0 ? BPP : bpp_any;
  const uint8_t* s = src;
  const uint8_t* const send = src + src_len;
  uint8_t* d = dst;
  // The pixel budget, in bytes: whole pixels only.
  uint8_t* const dend = dst + capacity / bpp * bpp;
  while (s < send && d < dend) {
    const uint8_t header = *s++;
    const size_t room = static_cast<size_t>(dend - d);
    size_t bytes = size_t{header & 0x7Fu} * bpp;
    if (header & 0x80) {
      // A run whose pixel the stream does not hold produces nothing.
      if (static_cast<size_t>(send - s) < bpp) break;
      if (bytes > room) bytes = room;
      if constexpr (BPP != 0) {
        fill_run<BPP>(d, s, bytes, room);
      } else {
        fill_run_any(d, s, bytes, bpp);
      }
      d += bytes;
      s += bpp;
    } else {
      const size_t avail = static_cast<size_t>(send - s);
      // A literal cut by the end of the stream gives its whole pixels.
      const size_t have = bytes <= avail ? bytes : avail / bpp * bpp;
      const size_t take = have <= room ? have : room;
      if (avail >= take + kChunk && room >= take + kChunk) {
        // Whole 32-byte copies; the excess lands inside the budget.
        for (size_t i = 0; i < take; i += kChunk) std::memcpy(d + i, s + i, kChunk);
      } else {
        std::memcpy(d, s, take);
      }
      d += take;
      if (bytes > avail) break;
      s += bytes;
    }
  }
  return static_cast<int32_t>(d - dst);
}

// The size a stream decodes to, walked as the decoder walks it.
int64_t decoded_size(const uint8_t* s, const uint8_t* send, size_t bpp) {
  int64_t total = 0;
  while (s < send && total < INT32_MAX) {
    const uint8_t header = *s++;
    const size_t avail = static_cast<size_t>(send - s);
    const size_t bytes = size_t{header & 0x7Fu} * bpp;
    if (header & 0x80) {
      if (avail < bpp) break;
      total += static_cast<int64_t>(bytes);
      s += bpp;
    } else {
      if (bytes > avail) {
        total += static_cast<int64_t>(avail / bpp * bpp);
        break;
      }
      total += static_cast<int64_t>(bytes);
      s += bytes;
    }
  }
  return total;
}

}  // namespace

int32_t decode_rle_pixels(const uint8_t* src, uint8_t* dst, int32_t src_len, int32_t capacity, int32_t bpp) {
  if (src_len <= 0 || bpp <= 0) return 0;
  const size_t n = static_cast<size_t>(src_len);
  if (dst == nullptr) {
    // No limit but what a signed 32-bit result can say.
    const int64_t total = decoded_size(src, src + n, static_cast<size_t>(bpp));
    return static_cast<int32_t>(total < INT32_MAX ? total : INT32_MAX / bpp * bpp);
  }
  if (capacity <= 0) return 0;
  const size_t cap = static_cast<size_t>(capacity);
  switch (bpp) {
    case 1: return decode_into<1>(src, dst, n, cap, 1);
    case 2: return decode_into<2>(src, dst, n, cap, 2);
    case 3: return decode_into<3>(src, dst, n, cap, 3);
    case 4: return decode_into<4>(src, dst, n, cap, 4);
    default: return decode_into<0>(src, dst, n, cap, static_cast<size_t>(bpp));
  }
}

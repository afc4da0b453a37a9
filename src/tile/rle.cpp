// SPDX-License-Identifier: MIT
// The run-length pixel encoder (the decoder is rle_decode.c): a stream of packets, each a header byte
// (bit 7 set: a run, clear: a literal; bits 0-6: the pixel count) followed by
// one pixel for a run or `count` pixels for a literal. The byte layout is in
// docs/format.md.
//
// It is one forward pass over the caller's buffers, with no
// allocation, no I/O and no state. Pixels are 1 to 4 bytes and are only ever
// compared or copied whole, never looked into.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tile/tile_image.h"

namespace morvane::detail {
namespace {

constexpr uint32_t kMaxCount = 127;  // largest count a header holds
constexpr uint8_t kRunBit = 0x80;

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// A pixel in a fixed 4-byte holder, the bytes above BPP zero.
template <int BPP>
inline uint32_t load_pixel(const uint8_t* p) {
  if constexpr (BPP == 3) {
    // Two loads rather than a 3-byte copy into a holder in memory, which
    // stalls the load that reads the holder back.
    uint16_t low;
    std::memcpy(&low, p, 2);
    return low | uint32_t{p[2]} << 16;
  } else {
    uint32_t v = 0;
    std::memcpy(&v, p, BPP);
    return v;
  }
}

// Lowest set bit's byte index. x is not 0.
inline uint32_t first_byte(uint64_t x) { return static_cast<uint32_t>(__builtin_ctzll(x)) >> 3; }

// Bit 7 of each byte of the result is set exactly where that byte of x is 0.
inline uint64_t zero_bytes(uint64_t x) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The pixels of a literal that starts at p, with n >= 2 pixels left and p[0]
// unequal to p[1]: the literal stops just before the first two neighbouring
// equal pixels after p[0] (they begin the next packet), at kMaxCount pixels, or
// at the end of the input. The last pixel has no neighbour to be equal to and
// always joins.
template <int BPP>
uint32_t literal_length(const uint8_t* p, uint32_t n) {
  const uint32_t limit = n < kMaxCount ? n : kMaxCount;
  // The pair (j, j + 1) is looked at for j = 1 .. limit - 1 while j + 1 < n.
  const uint32_t last_pair = (limit < n ? limit : n - 1);  // first j not looked at
  const size_t end = size_t{n} * BPP;                      // source bytes
  uint32_t j = 1;
  // Several pairs per 8-byte compare: the bytes of pixels j.. against those of
  // pixels j + 1.. ; a pair is equal when all BPP bytes of its lane are 0.
  constexpr uint32_t kPairs = BPP == 3 ? 2 : 8 / BPP;
  while (j + kPairs <= last_pair && size_t{j + 1} * BPP + 8 <= end) {
    const uint64_t z = zero_bytes(load64(p + size_t{j} * BPP) ^ load64(p + size_t{j + 1} * BPP));
    uint64_t equal;
    if constexpr (BPP == 1) {
      equal = z;
    } else if constexpr (BPP == 2) {
      equal = z & (z >> 8) & 0x0080008000800080ull;
    } else if constexpr (BPP == 3) {
      equal = z & (z >> 8) & (z >> 16) & 0x0000000080000080ull;
    } else {
      equal = z & (z >> 8) & (z >> 16) & (z >> 24) & 0x0000008000000080ull;
    }
    if (equal != 0) return j + first_byte(equal) / BPP;
    j += kPairs;
  }
  for (; j < last_pair; ++j) {
    if (load_pixel<BPP>(p + size_t{j} * BPP) == load_pixel<BPP>(p + size_t{j + 1} * BPP)) return j;
  }
  return limit;
}

// The run at p: p[0] and the pixels equal to it right behind it, at most
// `limit` (1 .. kMaxCount, no more than the pixels left).
template <int BPP>
uint32_t run_length(const uint8_t* p, uint32_t limit, size_t bytes_left) {
  // Pixels 0 .. r - 1 are equal exactly when byte i equals byte i + BPP for
  // every i below (r - 1) x BPP, so the run ends at the first byte that
  // differs from the one a pixel later.
  const size_t span = size_t{limit - 1} * BPP;  // bytes that must match
  size_t i = 0;
  while (i < span && i + BPP + 8 <= bytes_left) {
    const uint64_t x = load64(p + i) ^ load64(p + i + BPP);
    if (x != 0) {
      i += first_byte(x);
      return static_cast<uint32_t>((i < span ? i : span) / BPP) + 1;
    }
    i += 8;
  }
  for (; i < span; ++i) {
    if (p[i] != p[i + BPP]) break;
  }
  return static_cast<uint32_t>((i < span ? i : span) / BPP) + 1;
}

// Writes the packets (kWrite) or only counts their bytes (dst is null).
template <int BPP, bool kWrite>
int32_t encode_pixels(const uint8_t* src, uint8_t* dst, uint32_t pixel_count, uint32_t capacity) {
  const uint8_t* p = src;
  uint32_t n = pixel_count;  // pixels not yet coded
  size_t total = 0;          // stream bytes so far
  // The room for packets: the capacity, and never more than a signed 32-bit
  // result can count, so an overlong stream ends as if the room ran out.
  size_t left = kWrite && capacity < INT32_MAX ? capacity : INT32_MAX;

  // One packet: the header and `payload` bytes of pixels from p. Whole
  // packets only: one that does not fit is not begun.
  auto put = [&](uint8_t header, size_t payload) {
    if (left < 1 + payload) return false;
    if constexpr (kWrite) {
      dst[total] = header;
      std::memcpy(dst + total + 1, p, payload);
    }
    total += 1 + payload;
    left -= 1 + payload;
    return true;
  };

  while (n > 0) {
    if (n > 1 && load_pixel<BPP>(p) == load_pixel<BPP>(p + BPP)) {
      const uint32_t r = run_length<BPP>(p, n < kMaxCount ? n : kMaxCount, size_t{n} * BPP);
      if (r >= 3) {
        if (!put(static_cast<uint8_t>(kRunBit | r), BPP)) break;
        p += size_t{r} * BPP;
        n -= r;
        continue;
      }
      // A pair: its first pixel goes out alone, the second begins the next
      // packet.
    } else if (n > 1) {
      const uint32_t k = literal_length<BPP>(p, n);
      if (k > 1) {
        if (!put(static_cast<uint8_t>(k), size_t{k} * BPP)) break;
        p += size_t{k} * BPP;
        n -= k;
        continue;
      }
    }
    // A literal of one pixel, with a payload of fixed size.
    if (!put(1, BPP)) break;
    p += BPP;
    n -= 1;
  }
  return static_cast<int32_t>(total);
}

template <int BPP>
int32_t encode_any(const uint8_t* src, uint8_t* dst, uint32_t pixel_count, uint32_t capacity) {
  return dst != nullptr ? encode_pixels<BPP, true>(src, dst, pixel_count, capacity)
                        : encode_pixels<BPP, false>(src, dst, pixel_count, capacity);
}

}  // namespace

int32_t encode_rle_pixels(const uint8_t* src, uint8_t* dst, uint32_t pixel_count, uint32_t capacity,
                          uint32_t bpp) {
  switch (bpp) {
    case 1: return encode_any<1>(src, dst, pixel_count, capacity);
    case 2: return encode_any<2>(src, dst, pixel_count, capacity);
    case 3: return encode_any<3>(src, dst, pixel_count, capacity);
    case 4: return encode_any<4>(src, dst, pixel_count, capacity);
    default: return 0;  // pixels are 1 to 4 bytes
  }
}

}  // namespace morvane::detail

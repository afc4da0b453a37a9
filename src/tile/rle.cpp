// The run-length pixel codec: a stream of packets, each a header byte
// (bit 7 set: a run, clear: a literal; bits 0-6: the pixel count) followed by
// one pixel for a run or `count` pixels for a literal. The byte layout is in
// docs/format.md.
//
// Both directions are one forward pass over the caller's buffers, with no
// allocation, no I/O and no state. Pixels are 1 to 4 bytes and are only ever
// compared or copied whole, never looked into.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tile/tile_image.h"

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

// ---- Encoder ------------------------------------------------------------------

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

// ---- Decoder ------------------------------------------------------------------
//
// With room to spare in the budget, runs and literals are written in whole
// 32-byte steps; what a step writes past a packet's end is overwritten by the
// packets after it, or lies behind the result. So any byte of dst from the
// result up to the capacity may have been written, while nothing past the
// capacity ever is, and no byte past the stream is ever read.

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

template <int BPP>
int32_t decode_into(const uint8_t* src, uint8_t* dst, size_t src_len, size_t capacity) {
  constexpr size_t bpp = BPP;
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
      fill_run<BPP>(d, s, bytes, room);
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

int32_t decode_rle_pixels(const uint8_t* src, uint8_t* dst, int32_t src_len, int32_t capacity, int32_t bpp) {
  // Pixels are 1 to 4 bytes, as the encoder writes them.
  if (src_len <= 0 || bpp < 1 || bpp > 4) return 0;
  const size_t n = static_cast<size_t>(src_len);
  if (dst == nullptr) {
    // No limit but what a signed 32-bit result can say.
    const int64_t total = decoded_size(src, src + n, static_cast<size_t>(bpp));
    return static_cast<int32_t>(total < INT32_MAX ? total : INT32_MAX / bpp * bpp);
  }
  if (capacity <= 0) return 0;
  const size_t cap = static_cast<size_t>(capacity);
  switch (bpp) {
    case 1: return decode_into<1>(src, dst, n, cap);
    case 2: return decode_into<2>(src, dst, n, cap);
    case 3: return decode_into<3>(src, dst, n, cap);
    default: return decode_into<4>(src, dst, n, cap);
  }
}

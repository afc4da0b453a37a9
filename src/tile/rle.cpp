// SPDX-License-Identifier: MIT
// The run-length pixel codec: a stream of packets, each a header byte
// (bit 7 set: a run, clear: a literal; bits 0-6: the pixel count) followed by
// one pixel for a run or `count` pixels for a literal. The byte layout is in
// docs/format.md.
//
// Both directions are one forward pass over the caller's buffers, with no
// allocation, no I/O and no state. Pixels are 1 to 4 bytes and are only ever
// compared or copied whole, never looked into.
#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

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
// Two loops over the same packets. The fast loop runs while the stream has
// more than one chunk of bytes left after the next header and the budget at
// least one chunk, the budget being checked once for many packets; there a
// packet is moved with fixed-size copies (literals) or stores of a pattern
// of the pixel (runs): the first chunk at once, which the slack makes safe
// whatever the packet's length and may run past its end, then, for a longer
// packet that is found to lie whole in the stream and in the budget, more
// chunks, the last one ending exactly at the packet's end (or one memcpy of
// a long literal).
// What is written past a packet's end lies inside the budget and is
// overwritten by the packets after it, or lies behind the result. A packet
// that may be cut, by the end of the stream or by the budget, is left to the
// exact loop that follows. So any byte of dst from the result up to the
// budget may have been written, nothing past it ever is, and no byte past the
// stream is ever read.

// The register the target moves bytes in: 8 bytes on a 64-bit core, 4 on a
// 32-bit one, where a 64-bit value is two registers and every 8-byte store
// two instructions.
using Word = std::conditional_t<(UINTPTR_MAX > 0xFFFFFFFFu), uint64_t, uint32_t>;
constexpr bool kWideWord = sizeof(Word) == 8;

template <int BPP>
struct Chunks {
  // Literal bytes moved at once. With 8-byte registers 16 covers nearly
  // every literal of 1-byte pixels and 32 most of the wider ones: a packet
  // longer than one chunk takes a branch that is often mispredicted, which
  // costs more there than a wider copy. With 4-byte registers every word is
  // an instruction to load and one to store, and two words hold most
  // literals (of 1-byte pixels: 95 in 100 on real images).
  static constexpr size_t kLiteral = kWideWord ? (BPP == 1 ? 16 : 32) : 8;
  // Run bytes stored at once: whole pixels, so that a chunk can start at any
  // pixel of the run; for 3-byte pixels whole periods of the pattern. With
  // 4-byte registers four stores (three for 3-byte pixels), which hold most
  // runs of 1- and 2-byte pixels.
  static constexpr size_t kRun = kWideWord ? (BPP == 3 ? 48 : BPP == 2 ? 64 : 32) : (BPP == 3 ? 12 : 16);
  static constexpr size_t kWrite = kLiteral > kRun ? kLiteral : kRun;
  // Literals longer than this go to memcpy. With 4-byte registers a loop of
  // chunks takes 7 instructions per 8 bytes, and the C library's copy, with
  // its multi-register loads and stores, is cheaper past 32 bytes. With
  // 8-byte registers the chunks keep up with it, and no literal is handed
  // over.
  static constexpr size_t kCopyCall = kWideWord ? SIZE_MAX : 32;
  // Which headers take the run path. With 8-byte registers a literal of one
  // pixel (the commonest literal) goes that way too, filled from its one
  // pixel like a run of 1 with the same few stores: one branch fewer to
  // mispredict, picked with one compare: (header ^ 1) - 1, in 8 bits, is
  // 0x7F or more for headers 1 and 0x80 to 0xFF, 0 to 0x7E for the other
  // literals (0 included). With 4-byte registers that test costs more
  // instructions than it saves, and runs are told by bit 7 alone.
  static constexpr bool kRunTest(size_t header) {
    return kWideWord ? static_cast<uint8_t>((header ^ 1) - 1) >= 0x7F : header >= kRunBit;
  }
};

inline void store_word(uint8_t* p, Word v) { std::memcpy(p, &v, sizeof v); }

// The pixel at p repeated in words: one word for 1-, 2- and 4-byte pixels,
// three for 3-byte pixels (a period of the pattern: 3 pixels' worth of
// words). Reads BPP bytes from p, 4 for 3-byte pixels.
template <int BPP>
struct RunPattern {
  static constexpr size_t kWords = BPP == 3 ? 3 : 1;
  Word w[kWords];

  explicit RunPattern(const uint8_t* p) {
    // All ones over 0xFF, 0xFFFF or 0xFFFFFFFF: a 1 in every byte, every
    // second byte or every fourth byte of a word.
    if constexpr (BPP == 1) {
      w[0] = p[0] * (~Word{0} / 0xFF);
    } else if constexpr (BPP == 2) {
      uint16_t v;
      std::memcpy(&v, p, 2);
      w[0] = v * (~Word{0} / 0xFFFF);
    } else if constexpr (BPP == 4) {
      uint32_t v;
      std::memcpy(&v, p, 4);
      w[0] = v * (~Word{0} / 0xFFFFFFFF);
    } else if constexpr (std::endian::native == std::endian::little) {
      uint32_t v;
      std::memcpy(&v, p, 4);
      // Byte k of the pattern is pixel byte k mod 3, so words 1 and 2 start
      // with pixel bytes 2 and 1 (8-byte words) or 1 and 2 (4-byte words).
      const Word x = v & 0xFFFFFFu;
      if constexpr (kWideWord) {
        const uint64_t a = uint64_t{x} | uint64_t{x} << 24 | uint64_t{x} << 48;
        const uint64_t b = a >> 16, c = a >> 8;
        w[0] = static_cast<Word>(a);
        w[1] = static_cast<Word>(b | b << 48);
        w[2] = static_cast<Word>(c | c << 48);
      } else {
        w[0] = x | x << 24;
        w[1] = x >> 8 | x << 16;
        w[2] = x >> 16 | x << 8;
      }
    } else {
      uint8_t bytes[sizeof w];
      for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = p[i % 3];
      std::memcpy(w, bytes, sizeof bytes);
    }
  }

  // One chunk of Chunks<BPP>::kRun bytes at d: one store per word, written
  // out rather than looped.
  void put(uint8_t* d) const { put_words(d, std::make_index_sequence<Chunks<BPP>::kRun / sizeof(Word)>{}); }

  template <size_t... I>
  void put_words(uint8_t* d, std::index_sequence<I...>) const {
    (store_word(d + I * sizeof(Word), w[I % kWords]), ...);
  }
};

// The exact loop: every packet moved by exactly the bytes it gives, a packet
// cut by the budget or by the end of the stream giving its whole pixels.
template <int BPP>
uint8_t* decode_exact(const uint8_t* s, const uint8_t* send, uint8_t* d, uint8_t* dend) {
  constexpr size_t bpp = BPP;
  while (s < send && d < dend) {
    const uint8_t header = *s++;
    const size_t room = static_cast<size_t>(dend - d);
    const size_t avail = static_cast<size_t>(send - s);
    size_t bytes = size_t{header & 0x7Fu} * bpp;
    if (header & 0x80) {
      // A run whose pixel the stream does not hold produces nothing.
      if (avail < bpp) break;
      if (bytes > room) bytes = room;
      if (room >= Chunks<BPP>::kRun && bytes <= Chunks<BPP>::kRun && (BPP != 3 || avail >= 4)) {
        // Near the end of the stream but not of the budget: one chunk.
        RunPattern<BPP>(s).put(d);
      } else if constexpr (BPP == 1) {
        std::memset(d, *s, bytes);
      } else {
        for (size_t i = 0; i < bytes; i += bpp) std::memcpy(d + i, s, bpp);
      }
      d += bytes;
      s += bpp;
    } else {
      const size_t have = bytes <= avail ? bytes : avail / bpp * bpp;
      const size_t take = have <= room ? have : room;
      // The last literals are short: bytes one by one rather than a call.
      if (take <= 16) {
        for (size_t i = 0; i < take; ++i) d[i] = s[i];
      } else {
        std::memcpy(d, s, take);
      }
      d += take;
      if (bytes > avail) break;
      s += bytes;
    }
  }
  return d;
}

// Where decoding stands: the next header and the next output byte.
struct Cursor {
  const uint8_t* s;
  uint8_t* d;
};

// The fast loop, from c on while the stream has more than kLiteral bytes
// after the header and the budget kWrite bytes at the output. Returns where
// it stopped: at the end of those bounds, or at a packet longer than a chunk
// that the stream or the budget may cut, left to the exact loop.
template <int BPP>
Cursor decode_fast(Cursor c, const uint8_t* send, uint8_t* dend) {
  using C = Chunks<BPP>;
  const uint8_t* s = c.s;
  uint8_t* d = c.d;
  if (static_cast<size_t>(send - s) <= C::kLiteral || dend - d < static_cast<ptrdiff_t>(C::kWrite)) return c;
  const uint8_t* const slast = send - C::kLiteral;  // headers before it
  uint8_t* const dlast = dend - C::kWrite;          // output at it or before
  // The budget is checked once for many packets rather than for each: a
  // packet gives at most 127 pixels and takes at least one stream byte, so
  // the packets whose headers lie less than k + 1 bytes on from here start
  // at most k x 127 pixels on, at dlast or before when k is (dlast - d) /
  // (127 x BPP). Only a packet longer than a chunk checks for itself.
  while (s < slast && d <= dlast) {
    const size_t k = static_cast<size_t>(dlast - d) / (kMaxCount * BPP);
    const uint8_t* const slimit = static_cast<size_t>(slast - s) > k + 1 ? s + k + 1 : slast;
    // Each way ends with its own test of the limit, so that neither jumps
    // to a test shared with the other.
    for (;;) {
      const size_t header = *s++;
      if (!C::kRunTest(header)) {
        // The header is the count.
        const size_t bytes = header * BPP;
        std::memcpy(d, s, C::kLiteral);
        if (bytes > C::kLiteral) {
          if (bytes > static_cast<size_t>(send - s) || bytes > static_cast<size_t>(dend - d)) return {s - 1, d};
          if (bytes > C::kCopyCall) {
            std::memcpy(d, s, bytes);
          } else {
            for (size_t i = C::kLiteral; i < bytes - C::kLiteral; i += C::kLiteral)
              std::memcpy(d + i, s + i, C::kLiteral);
            std::memcpy(d + bytes - C::kLiteral, s + bytes - C::kLiteral, C::kLiteral);
          }
        }
        s += bytes;
        d += bytes;
        if (s >= slimit) break;
      } else {
        const size_t bytes = (header & 0x7F) * BPP;
        const RunPattern<BPP> p(s);
        p.put(d);
        if (bytes > C::kRun) {
          if (bytes > static_cast<size_t>(dend - d)) return {s - 1, d};
          for (size_t i = C::kRun; i < bytes - C::kRun; i += C::kRun) p.put(d + i);
          p.put(d + bytes - C::kRun);
        }
        s += BPP;
        d += bytes;
        if (s >= slimit) break;
      }
    }
  }
  return {s, d};
}

template <int BPP>
int32_t decode_into(const uint8_t* src, uint8_t* dst, size_t src_len, size_t capacity) {
  const uint8_t* const send = src + src_len;
  // The pixel budget, in bytes: whole pixels only.
  uint8_t* const dend = dst + capacity / BPP * BPP;
  const Cursor c = decode_fast<BPP>({src, dst}, send, dend);
  return static_cast<int32_t>(decode_exact<BPP>(c.s, send, c.d, dend) - dst);
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

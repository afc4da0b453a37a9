// SPDX-License-Identifier: MIT
/* The run-length pixel decoder: a stream of packets, each a header byte
   (bit 7 set: a run, clear: a literal; bits 0-6: the pixel count) followed
   by one pixel for a run or `count` pixels for a literal. The byte layout is
   in docs/format.md; the encoder is in rle.cpp.

   One forward pass over the caller's buffers, with no allocation, no I/O
   and no state. Pixels are 1 to 4 bytes and are only ever copied whole,
   never looked into. */
#include "tile/tile_codec.h"

#include <string.h>

#define MAX_COUNT 127u /* largest count a header holds */
#define RUN_BIT 0x80u

/* The size a stream decodes to, walked as the decoder walks it. */
static int64_t decoded_size(const uint8_t *s, const uint8_t *send, size_t bpp) {
  int64_t total = 0;
  while (s < send && total < INT32_MAX) {
    const uint8_t header = *s++;
    const size_t avail = (size_t)(send - s);
    const size_t bytes = (size_t)(header & 0x7Fu) * bpp;
    if (header & RUN_BIT) {
      if (avail < bpp) break;
      total += (int64_t)bytes;
      s += bpp;
    } else {
      if (bytes > avail) {
        total += (int64_t)(avail / bpp * bpp);
        break;
      }
      total += (int64_t)bytes;
      s += bytes;
    }
  }
  return total;
}

int32_t morvane_mvt_decode_rle(const uint8_t *src, uint8_t *dst, int32_t src_len, int32_t capacity, int32_t bpp) {
  /* Pixels are 1 to 4 bytes, as the encoder writes them. */
  if (src_len <= 0 || bpp < 1 || bpp > 4) return 0;
  if (dst == NULL) {
    /* No limit but what a signed 32-bit result can say. */
    const int64_t total = decoded_size(src, src + src_len, (size_t)bpp);
    return (int32_t)(total < INT32_MAX ? total : INT32_MAX / bpp * bpp);
  }
  if (capacity <= 0) return 0;
  return morvane_mvt_rle_expand(src, dst, (size_t)src_len, (size_t)capacity, (uint32_t)bpp);
}

int32_t morvane_rle_decode(const uint8_t *src, int32_t src_len, uint8_t *dst, int32_t capacity, int32_t bpp) {
  if (src == NULL) return 0;
  return morvane_mvt_decode_rle(src, dst, src_len, capacity, bpp);
}

#if MORVANE_TILE_SMALL

/* The size-first decoder: one loop for every pixel size, a byte at a time.
   A run is its pixel followed by copies of the bytes one pixel back; a
   literal is the stream's bytes. A packet cut by the end of the stream or
   by the budget gives its whole pixels, as in the fast decoder. */
int32_t morvane_mvt_rle_expand(const uint8_t *s, uint8_t *dst, size_t src_len, size_t capacity, uint32_t bpp) {
  const uint8_t *const send = s + src_len;
  uint8_t *d = dst;
  uint8_t *const dend = dst + MVT_DIV(capacity, bpp) * bpp; /* whole pixels only */
  while (s < send && d < dend) {
    const uint32_t header = *s++;
    const size_t avail = (size_t)(send - s), room = (size_t)(dend - d);
    const size_t bytes = (size_t)(header & 0x7Fu) * bpp;
    size_t take, from, next, i;
    if (header & RUN_BIT) {
      /* A run whose pixel the stream does not hold produces nothing. */
      if (avail < bpp) break;
      take = bytes < room ? bytes : room;
      from = next = bpp;
    } else {
      take = bytes <= avail ? bytes : MVT_DIV(avail, bpp) * bpp;
      if (take > room) take = room;
      from = take;
      next = bytes;
    }
    for (i = 0; i < take && i < from; ++i) d[i] = s[i];
    for (; i < take; ++i) d[i] = d[i - from];
    d += take;
    if (next > avail) break; /* a literal cut by the end of the stream */
    s += next;
  }
  return (int32_t)(d - dst);
}

#else

/* Two loops over the same packets. The fast loop runs while the stream has
   more than one chunk of bytes left after the next header and the budget at
   least one chunk, the budget being checked once for many packets; there a
   packet is moved with fixed-size copies (literals) or stores of a pattern
   of the pixel (runs): the first chunk at once, which the slack makes safe
   whatever the packet's length and may run past its end, then, for a longer
   packet that is found to lie whole in the stream and in the budget, more
   chunks, the last one ending exactly at the packet's end (or one memcpy of
   a long literal).
   What is written past a packet's end lies inside the budget and is
   overwritten by the packets after it, or lies behind the result. A packet
   that may be cut, by the end of the stream or by the budget, is left to the
   exact loop that follows. So any byte of dst from the result up to the
   budget may have been written, nothing past it ever is, and no byte past
   the stream is ever read.

   Every function below takes the pixel size as a constant argument and is
   inlined into one copy per size. */

/* The register the target moves bytes in: 8 bytes on a 64-bit core, 4 on a
   32-bit one, where a 64-bit value is two registers and every 8-byte store
   two instructions. */
#if UINTPTR_MAX > 0xFFFFFFFFu
typedef uint64_t Word;
#define WIDE_WORD 1
#else
typedef uint32_t Word;
#define WIDE_WORD 0
#endif

/* Literal bytes moved at once. With 8-byte registers 16 covers nearly every
   literal of 1-byte pixels and 32 most of the wider ones: a packet longer
   than one chunk takes a branch that is often mispredicted, which costs more
   there than a wider copy. With 4-byte registers every word is an
   instruction to load and one to store, and two words hold most literals
   (of 1-byte pixels: 95 in 100 on real images). */
#define CHUNK_LITERAL(bpp) (WIDE_WORD ? ((bpp) == 1 ? 16u : 32u) : 8u)
/* Run bytes stored at once: whole pixels, so that a chunk can start at any
   pixel of the run; for 3-byte pixels whole periods of the pattern. With
   4-byte registers four stores (three for 3-byte pixels), which hold most
   runs of 1- and 2-byte pixels. */
#define CHUNK_RUN(bpp) \
  (WIDE_WORD ? ((bpp) == 3 ? 48u : (bpp) == 2 ? 64u : 32u) : ((bpp) == 3 ? 12u : 16u))
#define CHUNK_WRITE(bpp) (CHUNK_LITERAL(bpp) > CHUNK_RUN(bpp) ? CHUNK_LITERAL(bpp) : CHUNK_RUN(bpp))
/* Literals longer than this go to memcpy. With 4-byte registers a loop of
   chunks takes 7 instructions per 8 bytes, and the C library's copy, with
   its multi-register loads and stores, is cheaper past 32 bytes. With
   8-byte registers the chunks keep up with it, and no literal is handed
   over. */
#define CHUNK_COPY_CALL (WIDE_WORD ? SIZE_MAX : 32u)

/* Which headers take the run path. With 8-byte registers a literal of one
   pixel (the commonest literal) goes that way too, filled from its one
   pixel like a run of 1 with the same few stores: one branch fewer to
   mispredict, picked with one compare: (header ^ 1) - 1, in 8 bits, is 0x7F
   or more for headers 1 and 0x80 to 0xFF, 0 to 0x7E for the other literals
   (0 included). With 4-byte registers that test costs more instructions
   than it saves, and runs are told by bit 7 alone. */
static MVT_ALWAYS_INLINE int is_run_path(size_t header) {
  return WIDE_WORD ? (uint8_t)((header ^ 1) - 1) >= 0x7F : header >= RUN_BIT;
}

static MVT_ALWAYS_INLINE void store_word(uint8_t *p, Word v) { memcpy(p, &v, sizeof v); }

/* The pixel at p repeated in words: one word for 1-, 2- and 4-byte pixels,
   three for 3-byte pixels (a period of the pattern: 3 pixels' worth of
   words). Reads bpp bytes from p, 4 for 3-byte pixels. */
typedef struct RunPattern {
  Word w[3];
} RunPattern;

static MVT_ALWAYS_INLINE RunPattern run_pattern(const uint8_t *p, uint32_t bpp) {
  RunPattern r;
  /* All ones over 0xFF, 0xFFFF or 0xFFFFFFFF: a 1 in every byte, every
     second byte or every fourth byte of a word. */
  if (bpp == 1) {
    r.w[0] = p[0] * (~(Word)0 / 0xFF);
  } else if (bpp == 2) {
    uint16_t v;
    memcpy(&v, p, 2);
    r.w[0] = v * (~(Word)0 / 0xFFFF);
  } else if (bpp == 4) {
    uint32_t v;
    memcpy(&v, p, 4);
    r.w[0] = v * (~(Word)0 / 0xFFFFFFFFu);
  } else {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t v;
    Word x;
    memcpy(&v, p, 4);
    /* Byte k of the pattern is pixel byte k mod 3, so words 1 and 2 start
       with pixel bytes 2 and 1 (8-byte words) or 1 and 2 (4-byte words). */
    x = v & 0xFFFFFFu;
#if WIDE_WORD
    {
      const uint64_t a = (uint64_t)x | (uint64_t)x << 24 | (uint64_t)x << 48;
      const uint64_t b = a >> 16, c = a >> 8;
      r.w[0] = a;
      r.w[1] = b | b << 48;
      r.w[2] = c | c << 48;
    }
#else
    r.w[0] = x | x << 24;
    r.w[1] = x >> 8 | x << 16;
    r.w[2] = x >> 16 | x << 8;
#endif
#else
    uint8_t bytes[sizeof r.w];
    size_t i;
    for (i = 0; i < sizeof bytes; ++i) bytes[i] = p[i % 3];
    memcpy(r.w, bytes, sizeof bytes);
#endif
  }
  return r;
}

/* One chunk of CHUNK_RUN(bpp) bytes at d: one store per word, written out
   rather than looped (the conditions are constants). */
static MVT_ALWAYS_INLINE void put_run(const RunPattern *r, uint8_t *d, uint32_t bpp) {
  const size_t words = CHUNK_RUN(bpp) / sizeof(Word);
#define PUT_WORD(i) \
  if (words > (i)) store_word(d + (i) * sizeof(Word), r->w[bpp == 3 ? (i) % 3 : 0])
  PUT_WORD(0);
  PUT_WORD(1);
  PUT_WORD(2);
  PUT_WORD(3);
  PUT_WORD(4);
  PUT_WORD(5);
  PUT_WORD(6);
  PUT_WORD(7);
#undef PUT_WORD
}

/* A run of `bytes` bytes (more than a chunk) at d, after its first chunk:
   more chunks, the last one ending exactly at the run's end. */
static MVT_ALWAYS_INLINE void put_run_rest(const RunPattern *r, uint8_t *d, size_t bytes, uint32_t bpp) {
  size_t i;
  for (i = CHUNK_RUN(bpp); i < bytes - CHUNK_RUN(bpp); i += CHUNK_RUN(bpp)) put_run(r, d + i, bpp);
  put_run(r, d + bytes - CHUNK_RUN(bpp), bpp);
}

/* A build for size (-Os) leaves out what is only there for speed, copied
   once per pixel size: the loop without checks and the short copies of the
   exact loop, and its chunks for long runs. */
#if defined(__OPTIMIZE_SIZE__)
#define SPEED_PATHS 0
#else
#define SPEED_PATHS 1
#endif

/* Exactly n bytes, n at most 16. */
static MVT_ALWAYS_INLINE void copy_short(uint8_t *d, const uint8_t *s, size_t n) {
  if (!SPEED_PATHS) {
    size_t i;
    for (i = 0; i < n; ++i) d[i] = s[i];
  } else if (n >= 8) {
    memcpy(d, s, 8);
    memcpy(d + n - 8, s + n - 8, 8);
  } else if (n >= 4) {
    memcpy(d, s, 4);
    memcpy(d + n - 4, s + n - 4, 4);
  } else {
    size_t i;
    for (i = 0; i < n; ++i) d[i] = s[i];
  }
}

/* The exact loop: every packet moved by exactly the bytes it gives, a packet
   cut by the budget or by the end of the stream giving its whole pixels. */
static MVT_ALWAYS_INLINE uint8_t *decode_exact(const uint8_t *s, const uint8_t *send, uint8_t *d, uint8_t *dend,
                                               uint32_t bpp) {
  while (s < send && d < dend) {
    const uint8_t header = *s++;
    const size_t room = (size_t)(dend - d);
    const size_t avail = (size_t)(send - s);
    size_t bytes = (size_t)(header & 0x7Fu) * bpp;
    if (header & RUN_BIT) {
      /* A run whose pixel the stream does not hold produces nothing. */
      if (avail < bpp) break;
      if (bytes > room) bytes = room;
      if (room >= CHUNK_RUN(bpp) && (bytes <= CHUNK_RUN(bpp) || SPEED_PATHS) && (bpp != 3 || avail >= 4)) {
        /* Near the end of the stream but not of the budget: chunks, none
           past the run's end but the first (the budget holds a chunk). A
           build for size takes memset for a run longer than a chunk. */
        const RunPattern r = run_pattern(s, bpp);
        put_run(&r, d, bpp);
        if (bytes > CHUNK_RUN(bpp)) put_run_rest(&r, d, bytes, bpp);
      } else if (bpp == 1) {
        memset(d, *s, bytes);
      } else {
        size_t i;
        for (i = 0; i < bytes; i += bpp) memcpy(d + i, s, bpp);
      }
      d += bytes;
      s += bpp;
    } else {
      const size_t have = bytes <= avail ? bytes : avail / bpp * bpp;
      const size_t take = have <= room ? have : room;
      /* The last literals are short: two copies of 4 or 8 bytes that
         overlap (never past take), or bytes one by one, rather than a call. */
      if (take <= 16) {
        copy_short(d, s, take);
      } else {
        memcpy(d, s, take);
      }
      d += take;
      if (bytes > avail) break;
      s += bytes;
    }
  }
  return d;
}

/* Where decoding stands: the next header and the next output byte. */
typedef struct Cursor {
  const uint8_t *s;
  uint8_t *d;
} Cursor;

static MVT_ALWAYS_INLINE Cursor cursor(const uint8_t *s, uint8_t *d) {
  Cursor c;
  c.s = s;
  c.d = d;
  return c;
}

/* A literal of `bytes` bytes (more than a chunk) that lies whole in the
   stream and the budget, after its first chunk. */
static MVT_ALWAYS_INLINE void copy_literal_rest(uint8_t *d, const uint8_t *s, size_t bytes, uint32_t bpp) {
  const size_t chunk = CHUNK_LITERAL(bpp);
  if (bytes > CHUNK_COPY_CALL) {
    memcpy(d, s, bytes);
  } else {
    size_t i;
    for (i = chunk; i < bytes - chunk; i += chunk) memcpy(d + i, s + i, chunk);
    memcpy(d + bytes - chunk, s + bytes - chunk, chunk);
  }
}

/* Keeps a step of the stream pointer where the code makes it. Otherwise
   GCC folds the step into the offsets of the loads after it and adds it
   later; kept, it becomes the load's own post-increment on a 32-bit ARM
   core (ARM or Thumb-2 code; Thumb-1 has no such load): an instruction
   fewer for every packet. */
#if defined(__GNUC__) && defined(__arm__) && (defined(__thumb2__) || !defined(__thumb__)) && SPEED_PATHS
#define KEEP_STEP(p) __asm__("" : "+r"(p))
#define STEP_EARLY 1 /* a run steps past its pixel as it reads it */
#else
#define KEEP_STEP(p) ((void)0)
#define STEP_EARLY 0 /* elsewhere the step stays after the stores, as measured faster */
#endif

/* Batches of packets from (s, d) on while headers lie before slast and the
   output at dlast or before. `checked`: a packet longer than a chunk checks
   that it lies whole in the stream and the budget, and the loop returns at
   one that may be cut, left to the exact loop; unchecked, the caller has
   made sure that any packet starting in the bounds does (no check at all).
   Returns where it stopped. */
static MVT_ALWAYS_INLINE Cursor decode_batches(const uint8_t *s, uint8_t *d, const uint8_t *slast, uint8_t *dlast,
                                               const uint8_t *send, uint8_t *dend, uint32_t bpp, int checked) {
  /* The budget is checked once for many packets rather than for each: a
     packet that gives pixels takes at least 1 + bpp stream bytes (a header
     and a pixel) and gives at most 127 pixels, and an empty one gives none,
     so the packets whose headers lie less than (k + 1) x (1 + bpp) bytes on
     from here start at most k x 127 pixels on, at dlast or before when k is
     (dlast - d) / (127 x bpp). */
  while (s < slast && d <= dlast) {
    const size_t k = (size_t)(dlast - d) / (MAX_COUNT * bpp);
    const size_t span = (k + 1) * (1 + bpp);
    const uint8_t *const slimit = (size_t)(slast - s) > span ? s + span : slast;
    /* Each way ends with its own test of the limit, so that neither jumps
       to a test shared with the other. */
    for (;;) {
      const size_t header = *s++;
      KEEP_STEP(s);
      /* A run's count; negative for a literal, so that on a 32-bit core
         one subtraction both tells the packet and gives the count (a build
         for size keeps the test of bit 7, shorter on a Cortex-M0). */
      const ptrdiff_t count = (ptrdiff_t)header - (ptrdiff_t)RUN_BIT;
      if (WIDE_WORD || !SPEED_PATHS ? !is_run_path(header) : count < 0) {
        /* The header is the count. */
        const size_t bytes = header * bpp;
        memcpy(d, s, CHUNK_LITERAL(bpp));
        if (bytes > CHUNK_LITERAL(bpp)) {
          if (checked && (bytes > (size_t)(send - s) || bytes > (size_t)(dend - d))) return cursor(s - 1, d);
          copy_literal_rest(d, s, bytes, bpp);
        }
        s += bytes;
        d += bytes;
        if (s >= slimit) break;
      } else {
        const size_t bytes = (WIDE_WORD || !SPEED_PATHS ? header & 0x7F : (size_t)count) * bpp;
        const RunPattern p = run_pattern(s, bpp);
        if (STEP_EARLY) {
          s += bpp;
          KEEP_STEP(s);
        }
        put_run(&p, d, bpp);
        if (bytes > CHUNK_RUN(bpp)) {
          if (checked && bytes > (size_t)(dend - d)) return cursor(s - 1 - (STEP_EARLY ? bpp : 0), d);
          put_run_rest(&p, d, bytes, bpp);
        }
        if (!STEP_EARLY) s += bpp;
        d += bytes;
        if (s >= slimit) break;
      }
    }
  }
  return cursor(s, d);
}

/* The fast loops, from (s, d) on while the stream has more than a literal
   chunk of bytes after the header and the budget CHUNK_WRITE bytes at the
   output. First, while any packet lies whole in both (its header at least
   1 + 127 x bpp bytes before the stream's end, its output at least 127 x
   bpp and CHUNK_WRITE bytes before the budget's), the loop without checks;
   then the checked loop. Returns where it stopped: at the end of those
   bounds, or at a packet longer than a chunk that the stream or the budget
   may cut, left to the exact loop. */
static MVT_ALWAYS_INLINE Cursor decode_fast(const uint8_t *s, uint8_t *d, const uint8_t *send, uint8_t *dend,
                                            uint32_t bpp) {
  const size_t longest = MAX_COUNT * bpp;
  const size_t dfar = longest > CHUNK_WRITE(bpp) ? longest : CHUNK_WRITE(bpp);
  Cursor c = cursor(s, d);
  if ((size_t)(send - s) <= CHUNK_LITERAL(bpp) || dend - d < (ptrdiff_t)CHUNK_WRITE(bpp)) return c;
  if (SPEED_PATHS && (size_t)(send - s) > longest + 1 && (size_t)(dend - d) >= dfar)
    c = decode_batches(c.s, c.d, send - longest - 1, dend - dfar, send, dend, bpp, 0);
  /* headers before send - CHUNK_LITERAL, output at dend - CHUNK_WRITE or
     before */
  return decode_batches(c.s, c.d, send - CHUNK_LITERAL(bpp), dend - CHUNK_WRITE(bpp), send, dend, bpp, 1);
}

static MVT_ALWAYS_INLINE int32_t decode_into(const uint8_t *src, uint8_t *dst, size_t src_len, size_t capacity,
                                             uint32_t bpp) {
  const uint8_t *const send = src + src_len;
  /* The pixel budget, in bytes: whole pixels only. */
  uint8_t *const dend = dst + capacity / bpp * bpp;
  const Cursor c = decode_fast(src, dst, send, dend, bpp);
  return (int32_t)(decode_exact(c.s, send, c.d, dend, bpp) - dst);
}

/* One copy per pixel size, so that every size's constants fold. */
static int32_t decode_into_1(const uint8_t *s, uint8_t *d, size_t n, size_t cap) { return decode_into(s, d, n, cap, 1); }
static int32_t decode_into_2(const uint8_t *s, uint8_t *d, size_t n, size_t cap) { return decode_into(s, d, n, cap, 2); }
static int32_t decode_into_3(const uint8_t *s, uint8_t *d, size_t n, size_t cap) { return decode_into(s, d, n, cap, 3); }
static int32_t decode_into_4(const uint8_t *s, uint8_t *d, size_t n, size_t cap) { return decode_into(s, d, n, cap, 4); }

int32_t morvane_mvt_rle_expand(const uint8_t *src, uint8_t *dst, size_t src_len, size_t capacity, uint32_t bpp) {
  switch (bpp) {
    case 1: return decode_into_1(src, dst, src_len, capacity);
    case 2: return decode_into_2(src, dst, src_len, capacity);
    case 3: return decode_into_3(src, dst, src_len, capacity);
    default: return decode_into_4(src, dst, src_len, capacity);
  }
}

#endif /* MORVANE_TILE_SMALL */

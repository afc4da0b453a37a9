// SPDX-License-Identifier: MIT
/* The region decoder for tiled image blocks, working in a decoder that its
   caller lays out in memory of its own.

   Nothing here allocates, touches files or keeps state outside the decoder
   it is given. A tile is decoded into the decoder's room and its rows copied
   out from there, except that a whole tile whose rows lie back to back in
   the output (a region one tile column wide, rows packed) is decoded
   straight into the output. */
#include <lz4.h>
#include <string.h>

#include "tile/byte_order.h"
#include "tile/tile_codec.h"

/* LZ4's decoder in the shape of the codec table's decode column; the
   region decoder gives src_len and room below 2^31. */
static int32_t morvane_mvt_lz4_expand(const uint8_t *src, uint8_t *dst, size_t src_len, size_t room, uint32_t bpp) {
  (void)bpp;
  return LZ4_decompress_safe((const char *)src, (char *)dst, (int)src_len, (int)room);
}

static uint8_t *decoder_pixels(TileDecoder *dec) { return (uint8_t *)dec + MVT_DECODER_HEAD; }

/* Decodes tile `index` (tile_bytes pixel bytes once decoded) into dst, which
   has room for `room` bytes, at least tile_bytes; when there is more room, a
   payload that decodes to too much shows. Returns 0, MORVANE_TILE_ERR_PAYLOAD
   for a TileRef of length 0 or one that reaches outside the block, or
   MORVANE_TILE_ERR_CORRUPT when the payload does not decode to exactly
   tile_bytes. Anywhere in the room may have been written, also on success
   (LZ4 copies in whole words). */
static int32_t decode_tile(const uint8_t *block, size_t block_len, uint32_t magic, uint32_t bpp, uint32_t index,
                           uint32_t tile_bytes, uint8_t *dst, uint32_t room, uint32_t *stored_len) {
  const uint8_t *ref = block + MVT_HEADER_SIZE + (size_t)index * MVT_REF_SIZE;
  const uint32_t offset = load_le32(ref);
  const uint32_t len = load_le32(ref + 4);
  int32_t got;
  /* A payload never exceeds what a signed length can say: checked so the
     codecs' int arguments cannot wrap on a block above 2 GiB. */
  if (len == 0 || offset > block_len || len > block_len - offset || len > 0x7FFFFFFFu)
    return MORVANE_TILE_ERR_PAYLOAD;
  /* The block's magic names a tiled codec (checked with the header): its
     decoder, from the codec table. */
#define DECODE_IF(kind, m, name, block_name, what, decode, encode, worst) \
  if (magic == (m)) got = decode(block + offset, dst, len, room, bpp); else
#define NOT_TILED(kind, m, name, block_name, what)
  MORVANE_MVT_CODECS(DECODE_IF, NOT_TILED) got = -1;
#undef DECODE_IF
#undef NOT_TILED
  if (got < 0 || (uint32_t)got != tile_bytes) return MORVANE_TILE_ERR_CORRUPT;
  *stored_len = len;
  return 0;
}

/* How rows are copied: a memcpy each in a build for size (-Os, or
   MORVANE_TILE_SMALL), else in pieces that suit the target's registers. */
#if MORVANE_TILE_SMALL || defined(__OPTIMIZE_SIZE__)
#define ROWS_BY 0
#elif UINTPTR_MAX > 0xFFFFFFFFu
#define ROWS_BY 64
#else
#define ROWS_BY 32
#endif

#if ROWS_BY != 64
/* Rows of n bytes, one memcpy a row. rows >= 1. */
static void copy_each_row(uint8_t *dst, size_t dst_stride, const uint8_t *src, size_t src_stride, size_t n,
                          uint32_t rows) {
  for (; rows > 0; --rows, dst += dst_stride, src += src_stride) memcpy(dst, src, n);
}
#endif

#if ROWS_BY == 32

/* 32 bytes, both sides on 4-byte boundaries. GCC and Clang on ARM and
   Thumb-2 cores: one load and one store of eight registers, where the
   compiler's own copy takes two of four and moves of its pointers; others
   the compiler's copy. */
#if defined(__GNUC__) && defined(__OPTIMIZE__) && (defined(__thumb2__) || (defined(__arm__) && !defined(__thumb__)))
static MVT_ALWAYS_INLINE void copy_32(uint8_t *dst, const uint8_t *src) {
  __asm__ volatile("ldm %1, {r2, r3, r4, r5, r6, r8, r12, lr}\n\t"
                   "stm %0, {r2, r3, r4, r5, r6, r8, r12, lr}"
                   :
                   : "r"(dst), "r"(src)
                   : "r2", "r3", "r4", "r5", "r6", "r8", "r12", "lr", "memory");
}
#else
static MVT_ALWAYS_INLINE void copy_32(uint8_t *dst, const uint8_t *src) {
  memcpy(MVT_ASSUME_ALIGNED4(dst), MVT_ASSUME_ALIGNED4(src), 32);
}
#endif

/* Rows of exactly `row` bytes (a constant), both sides on 4-byte boundaries:
   each row in one run of word loads and stores, no loop inside the row.
   rows >= 1. */
static MVT_ALWAYS_INLINE void copy_word_rows_of(uint8_t *dst, size_t dst_stride, const uint8_t *src,
                                                size_t src_stride, uint32_t rows, size_t row) {
  do {
    size_t i;
    for (i = 0; i < row; i += 32) copy_32(dst + i, src + i);
    dst += dst_stride;
    src += src_stride;
  } while (--rows != 0);
}

/* Rows of n bytes, n a multiple of `piece` (a constant), both sides on
   4-byte boundaries: moved in pieces, which a 32-bit target loads and
   stores as whole words (several registers at once). rows >= 1. */
static MVT_ALWAYS_INLINE void copy_word_rows(uint8_t *dst, size_t dst_stride, const uint8_t *src,
                                             size_t src_stride, size_t n, uint32_t rows, size_t piece) {
  const size_t dst_gap = dst_stride - n, src_gap = src_stride - n;
  do {
    uint8_t *const end = dst + n;
    do {
      if (piece == 32) {
        copy_32(dst, src);
      } else {
        memcpy(MVT_ASSUME_ALIGNED4(dst), MVT_ASSUME_ALIGNED4(src), piece);
      }
      dst += piece;
      src += piece;
    } while (dst != end);
    dst += dst_gap;
    src += src_gap;
  } while (--rows != 0);
}

/* 32-bit targets: rows that start and step on 4-byte boundaries in pieces
   of whole words, others by the library's memcpy. */
static void copy_rows_32(uint8_t *dst, size_t dst_stride, const uint8_t *src, size_t src_stride, size_t n,
                         uint32_t rows) {
  if ((((uintptr_t)dst | (uintptr_t)src | dst_stride | src_stride | n) & 3) != 0) {
    copy_each_row(dst, dst_stride, src, src_stride, n, rows);
  } else if (n == 32) { /* the rows of the usual tiles at 1 and 2 bytes per pixel */
    copy_word_rows_of(dst, dst_stride, src, src_stride, rows, 32);
  } else if (n == 64) {
    copy_word_rows_of(dst, dst_stride, src, src_stride, rows, 64);
  } else if (n == 128) {
    copy_word_rows_of(dst, dst_stride, src, src_stride, rows, 128);
  } else if (n % 32 == 0) {
    copy_word_rows(dst, dst_stride, src, src_stride, n, rows, 32);
  } else if (n % 16 == 0) {
    copy_word_rows(dst, dst_stride, src, src_stride, n, rows, 16);
  } else {
    copy_word_rows(dst, dst_stride, src, src_stride, n, rows, 4);
  }
}

#endif

#if ROWS_BY == 64
/* 64-bit targets: fixed-size pieces of 4 to 32 bytes (the last one
   overlapping the one before) that compile to plain loads and stores. */
static void copy_rows_64(uint8_t *dst, size_t dst_stride, const uint8_t *src, size_t src_stride, size_t n,
                         uint32_t rows) {
  size_t i;
  if (n >= 32) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      for (i = 0; i + 32 <= n; i += 32) memcpy(dst + i, src + i, 32);
      if (i < n) memcpy(dst + n - 32, src + n - 32, 32);
    }
  } else if (n >= 16) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      memcpy(dst, src, 16);
      memcpy(dst + n - 16, src + n - 16, 16);
    }
  } else if (n >= 8) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      memcpy(dst, src, 8);
      memcpy(dst + n - 8, src + n - 8, 8);
    }
  } else if (n >= 4) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      memcpy(dst, src, 4);
      memcpy(dst + n - 4, src + n - 4, 4);
    }
  } else {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride)
      for (i = 0; i < n; ++i) dst[i] = src[i];
  }
}

#endif

/* Copies `rows` rows of n bytes (rows >= 1, n >= 1). Where the rows lie back
   to back on both sides, in one piece. Otherwise row by row, in pieces that
   suit the target's registers. A build for size (-Os, or
   MORVANE_TILE_SMALL) takes memcpy for every row. */
static void copy_rows(uint8_t *dst, size_t dst_stride, const uint8_t *src, size_t src_stride, size_t n,
                      uint32_t rows) {
  if (n == dst_stride && n == src_stride) {
    memcpy(dst, src, n * rows);
    return;
  }
#if ROWS_BY == 0
  copy_each_row(dst, dst_stride, src, src_stride, n, rows);
#elif ROWS_BY == 64
  copy_rows_64(dst, dst_stride, src, src_stride, n, rows);
#else
  copy_rows_32(dst, dst_stride, src, src_stride, n, rows);
#endif
}

TileCache *morvane_mvt_cache_lookup(TileDecoder *dec, const uint8_t *block, size_t len, uint16_t index) {
  TileCache *slot = &dec->slot;
  if (slot->valid == 0) return slot;
  if (slot->owner == block && slot->owner_length == len && slot->tile_index == index) {
    ++slot->use_count; /* wraps at 65536 */
    return slot;
  }
  slot->valid = 0;
  return slot;
}

int32_t morvane_mvt_cache_fill(TileCache *slot, const uint8_t *block, size_t len, uint16_t index, uint16_t length_tag) {
  if (slot == NULL) return MORVANE_TILE_ERR_NO_DECODER;
  slot->owner = block;
  slot->owner_length = (uint32_t)len;
  slot->tile_index = index;
  slot->length_tag = length_tag;
  slot->valid = 1;
  slot->use_count = 1;
  return 0;
}

size_t morvane_tile_decoder_size(int32_t max_tile_bytes) {
  if (max_tile_bytes < 1 || (uint32_t)max_tile_bytes > MVT_MAX_TILE_BYTES) return 0;
  return MVT_DECODER_HEAD + (size_t)max_tile_bytes;
}

/* The key starts empty (owner null, invalid); the room is not touched. */
morvane_tile_decoder *morvane_tile_decoder_init(void *memory, size_t memory_size, int32_t max_tile_bytes) {
  const size_t need = morvane_tile_decoder_size(max_tile_bytes);
  TileDecoder *dec = (TileDecoder *)memory;
  if (memory == NULL || (uintptr_t)memory % 8 != 0 || need == 0 || memory_size < need) return NULL;
  memset(dec, 0, sizeof *dec);
  dec->max_tile_bytes = (uint32_t)max_tile_bytes;
  return dec;
}

/* Clears valid when the decoder holds a tile of `block`; any other tile
   stays. */
void morvane_tile_decoder_forget(morvane_tile_decoder *dec, const uint8_t *block) {
  if (dec != NULL && dec->slot.owner == block) dec->slot.valid = 0;
}

static uint32_t min_u32(uint32_t a, uint32_t b) { return a < b ? a : b; }
static uint32_t max_u32(uint32_t a, uint32_t b) { return a > b ? a : b; }

/* The size-first build keeps the work on one tile in a function of its
   own: fewer values live at once, which a core with eight registers pays
   for in stack traffic. */
#if MORVANE_TILE_SMALL && defined(__GNUC__)
#define WALK_STEP static __attribute__((noinline))
#else
#define WALK_STEP static
#endif

/* A request checked against its block and its output: the block, its
   header's fields, the region (x1 and y1 its ends, exclusive), its bytes
   and the output's pitch. */
typedef struct Walk {
  TileDecoder *dec;
  const uint8_t *block;
  size_t len;
  uint8_t *out;
  uint32_t magic, width, height, bpp, tw, th;
  uint32_t x, y, x1, y1, size, pitch;
  uint32_t cols; /* tiles in a row of tiles */
} Walk;

/* The part of tile (r, c) inside the region, into the output: from the
   decoder's slot when it holds the tile, else decoded. `last`: the tile is
   the walk's last. */
WALK_STEP int32_t tile_into(const Walk *k, uint32_t r, uint32_t c, int last) {
  const uint32_t bpp = k->bpp, pitch = k->pitch;
  const uint32_t ty = r * k->th, tile_h = min_u32(k->th, k->height - ty);
  const uint32_t py = max_u32(k->y, ty), rows = min_u32(k->y1, ty + tile_h) - py;
  const uint32_t tx = c * k->tw, tile_w = min_u32(k->tw, k->width - tx);
  const uint32_t px = max_u32(k->x, tx);
  const uint32_t n = (min_u32(k->x1, tx + tile_w) - px) * bpp;
  const uint32_t tile_row = tile_w * bpp, tile_bytes = tile_row * tile_h;
  const uint32_t index = r * k->cols + c; /* below tile_count, so below 2^16 */
  const size_t at = (size_t)(py - k->y) * pitch + (size_t)(px - k->x) * bpp;
  uint8_t *const pixels = decoder_pixels(k->dec);
  TileCache *slot = morvane_mvt_cache_lookup(k->dec, k->block, k->len, (uint16_t)index);
  if (slot->valid == 0) {
    uint32_t stored_len = 0;
    int32_t rc;
    /* A whole tile whose rows lie back to back in the output (so the region
       is one column of tiles, rows packed) is decoded in place. Only the
       last tile of the walk must be in the slot afterwards (a request that
       starts where this one ended finds it there), so the others skip the
       slot and leave it invalid. The room runs to the end of the region:
       whatever the codec writes past the tile lies in tiles that are
       written after it. */
    if (!last && n == tile_row && rows == tile_h && pitch == tile_row)
      return decode_tile(k->block, k->len, k->magic, bpp, index, tile_bytes, k->out + at, k->size - (uint32_t)at,
                         &stored_len);
    rc = decode_tile(k->block, k->len, k->magic, bpp, index, tile_bytes, pixels, k->dec->max_tile_bytes,
                     &stored_len);
    if (rc != 0) return rc; /* the slot stays invalid */
    morvane_mvt_cache_fill(slot, k->block, k->len, (uint16_t)index, (uint16_t)stored_len);
  }
  copy_rows(k->out + at, pitch, pixels + (py - ty) * tile_row + (px - tx) * bpp, tile_row, n, rows);
  return 0;
}

/* Tiled: every tile that the region overlaps, row of tiles by row of
   tiles, each looked up in the slot. */
static int32_t decode_tiles(const Walk *k) {
  const uint32_t col_first = MVT_DIV(k->x, k->tw), col_last = MVT_DIV(k->x1 - 1, k->tw);
  const uint32_t row_first = MVT_DIV(k->y, k->th), row_last = MVT_DIV(k->y1 - 1, k->th);
  uint32_t r, c;
  for (r = row_first; r <= row_last; ++r) {
    for (c = col_first; c <= col_last; ++c) {
      const int32_t rc = tile_into(k, r, c, r == row_last && c == col_last);
      if (rc != 0) return rc;
    }
  }
  return (int32_t)k->size;
}

/* Results, in the order of the checks, all made before anything is written:
     MORVANE_TILE_ERR_NO_DECODER  no decoder
     _HEADER, _MAGIC, _PAYLOAD (untiled block short of its pixels): see
       morvane_mvt_image_read, with the decoder's max_tile_bytes
     _REGION   x, y, w or h negative, x + w above the width, y + h above the
               height, or w x h x bpp above 2^31 - 1 bytes (more than a
               result can count)
     _OUTPUT   stride below w x bpp, or out shorter than the last row's end
   then, while the tiles are walked (rows of tiles already written stay in
   out):
     _PAYLOAD  a TileRef of length 0 or reaching outside the block
     _CORRUPT  a payload that does not decode to exactly its tile's width x
               height x bpp bytes; the slot is left invalid
   An empty region (w or h 0) inside a sound block returns 0 and writes and
   decodes nothing. Sizes fit 32 bits throughout: a region inside the image
   has fewer than 2^16 rows of fewer than 2^18 bytes. */
int32_t morvane_tile_decode(morvane_tile_decoder *dec, const uint8_t *block, int32_t block_len, int32_t x,
                            int32_t y, int32_t w, int32_t h, uint8_t *out, int32_t stride, int32_t out_capacity) {
  /* A null pointer or a negative length is a buffer of no bytes. */
  const size_t len = block != NULL && block_len > 0 ? (size_t)block_len : 0;
  const uint32_t capacity = out != NULL && out_capacity > 0 ? (uint32_t)out_capacity : 0;
  uint32_t width, height, bpp, pixels_in, row;
  morvane_tile_info t;
  Walk k;
  int32_t rc;
  if (dec == NULL) return MORVANE_TILE_ERR_NO_DECODER;
  rc = morvane_mvt_image_read(block, len, &t, dec->max_tile_bytes);
  if (rc != 0) return rc;
  width = t.width;
  height = t.height;
  bpp = t.bytes_per_pixel;
  if (x < 0 || y < 0 || w < 0 || h < 0 || (uint32_t)x > width || (uint32_t)w > width - (uint32_t)x ||
      (uint32_t)y > height || (uint32_t)h > height - (uint32_t)y)
    return MORVANE_TILE_ERR_REGION;
  pixels_in = (uint32_t)w * (uint32_t)h; /* below 2^32 */
  if (pixels_in > MVT_DIV(0x7FFFFFFFu, bpp)) return MORVANE_TILE_ERR_REGION;
  k.size = pixels_in * bpp;
  row = (uint32_t)w * bpp;
  if (stride < 0 || (uint32_t)stride < row) return MORVANE_TILE_ERR_OUTPUT;
  if (k.size == 0) return 0;
  /* The last row ends at (h - 1) x stride + row; stride >= row > 0. */
  k.pitch = (uint32_t)stride;
  if (capacity < row || (uint32_t)(h - 1) > MVT_DIV(capacity - row, k.pitch)) return MORVANE_TILE_ERR_OUTPUT;

  if (t.magic == MORVANE_TILE_MAGIC_RAW) {
    /* Untiled: rows of the image straight from the block; the slot is not
       touched. */
    const size_t image_row = (size_t)width * bpp;
    copy_rows(out, k.pitch, block + MVT_HEADER_SIZE + (size_t)y * image_row + (size_t)x * bpp, image_row, row,
              (uint32_t)h);
    return (int32_t)k.size;
  }
  k.dec = dec;
  k.block = block;
  k.len = len;
  k.out = out;
  k.magic = t.magic;
  k.width = width;
  k.height = height;
  k.bpp = bpp;
  k.tw = t.tile_width;
  k.th = t.tile_height;
  k.x = (uint32_t)x;
  k.y = (uint32_t)y;
  k.x1 = (uint32_t)(x + w);
  k.y1 = (uint32_t)(y + h);
  k.cols = MVT_DIV(width + k.tw - 1, k.tw); /* once, not per tile: a division is a call on many cores */
  return decode_tiles(&k);
}

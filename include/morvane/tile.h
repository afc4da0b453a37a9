// SPDX-License-Identifier: MIT
/*
 * morvane/tile.h: the tiled image block decoder, callable from C99.
 *
 * A tiled image block is what `morvane -c` stores for each image of a pack
 * whose header asks for tiles (docs/format.md has the byte layout): a 16-byte
 * header, a table of one 8-byte TileRef per tile, then each tile coded by
 * itself with LZ4 ("C4ZL") or the run-length codec ("CELR"); or the image
 * stored untiled ("CWAR"). Any rectangle of the image can be rebuilt by
 * decoding only the tiles it overlaps. <morvane/pack.h> finds an image's
 * block in a pack held in memory.
 *
 * Link with libmorvane_tile.a (`pkg-config --static --libs morvane-tile`, or
 * the CMake target morvane::tile). The library opens no file, allocates no
 * memory on the decoding side, and prints nothing.
 *
 * Memory: a decoder (morvane_tile_decoder_init) lives in memory the caller
 * gives, morvane_tile_decoder_size(max_tile_bytes) bytes: a small fixed part
 * and room for one decoded tile, which it keeps so that a request that starts
 * in the tile decoded last does not decode it again. Any number of decoders
 * may exist; they share nothing.
 *
 * The calls morvane_tile_decode_shared and morvane_tile_shared_forget
 * decode through one static decoder whose tiles may be up to
 * morvane_tile_buffer_size() bytes: 1 MiB (1,048,576 bytes, the largest tile
 * the format allows) unless the library was built with
 * -DMORVANE_TILE_BUFFER_SIZE=<bytes>. That decoder's memory is linked only
 * into programs that call them.
 *
 * Threads: each decoder is used by one thread (or task) at a time; different
 * decoders may decode at the same time on different threads. The static
 * decoder is one such decoder, so the older calls are not reentrant. The
 * run-length decoder and the header reader keep no state and may run
 * anywhere.
 *
 * Lengths and counts are signed 32-bit; a negative length counts as 0, and a
 * null pointer as a buffer of 0 bytes.
 *
 * The decoding side is C99 (the .c files of the library's src/tile) and
 * links with a C compiler alone. Built with -DMORVANE_TILE_SMALL=1 (a
 * definition for the library's own C files; programs that include this
 * header need not see it), it takes compact code paths: the run-length
 * decoder a byte at a time with one loop for every pixel size, rows copied
 * by memcpy, and, on a core without a divide instruction, divisions by a
 * short loop. Every result and every pixel of a region are the same
 * as in the default build, which is faster: what a firmware calls to find
 * an entry and draw a region takes under 2 KiB of Cortex-M0 code that way.
 */
#ifndef MORVANE_TILE_H
#define MORVANE_TILE_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/version.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Results: 0, or negative. The decoding functions below return
 * MORVANE_TILE_ERR_MAGIC, the codes from MORVANE_TILE_ERR_HEADER on, and
 * MORVANE_TILE_ERR_NO_DECODER for a null decoder; the others come from the
 * encoder of the C++ interface (<morvane/tile.hpp>): morvane::encode_tile_image
 * fails with MORVANE_TILE_ERR_FAILED, morvane::tile_image_encode with the
 * code that says why (-40 to -47). <morvane/pack.h> has codes of its own,
 * all below these.
 */
typedef enum morvane_tile_error {
  MORVANE_TILE_OK = 0,
  MORVANE_TILE_ERR_FAILED = -1,        /* the encoder refused the image or a tile did not fit */
  MORVANE_TILE_ERR_MAGIC = -8,         /* the block's magic names none of "C4ZL", "CELR", "CWAR" */
  MORVANE_TILE_ERR_NO_DECODER = -22,   /* no decoder given */
  MORVANE_TILE_ERR_NO_SLOT = MORVANE_TILE_ERR_NO_DECODER, /* its older name */
  /* MORVANE_TILE_ERR_HEADER told apart, by morvane_tile_header_check alone,
     in the order of the checks: */
  MORVANE_TILE_ERR_HEADER_SHORT = -30,      /* the block is shorter than its 16-byte header */
  MORVANE_TILE_ERR_HEADER_BPP = -31,        /* bytes per pixel not 1 to 4 */
  MORVANE_TILE_ERR_HEADER_GRID = -32,       /* tile_count not across x down (0 for an empty image) */
  MORVANE_TILE_ERR_HEADER_TILE_SIDE = -33,  /* a tile side 0 */
  MORVANE_TILE_ERR_HEADER_TILE_BYTES = -34, /* a tile decodes to more than the decoder holds */
  MORVANE_TILE_ERR_HEADER_TABLE = -35,      /* the block is shorter than its TileRef table */
  MORVANE_TILE_ERR_CODEC_KIND = -40,   /* encoder: codec kind not 1, 2 or 3 */
  MORVANE_TILE_ERR_PIXEL_FORMAT = -41, /* encoder: pixel format not 1 to 6 */
  MORVANE_TILE_ERR_DIMENSIONS = -42,   /* encoder: width or height outside 0 to 65535 */
  MORVANE_TILE_ERR_TILE_SIZE = -43,    /* encoder: tile side 0 or above 65535 */
  MORVANE_TILE_ERR_TILE_COUNT = -44,   /* encoder: more than 65535 tiles */
  MORVANE_TILE_ERR_TILE_BYTES = -45,   /* encoder: a tile larger than the tile buffer */
  MORVANE_TILE_ERR_CAPACITY = -46,     /* encoder: block buffer too small, or a tile did not fit */
  MORVANE_TILE_ERR_SOURCE = -47,       /* encoder: source shorter than the image */
  /* The block is shorter than its header or its TileRef table; its bytes per
     pixel are not 1 to 4; a tile side is 0; a tile decodes to more bytes than
     the decoder holds (its max_tile_bytes; for the static decoder and
     morvane_tile_image_read, morvane_tile_buffer_size()); or the tile count
     does not match the grid. */
  MORVANE_TILE_ERR_HEADER = -50,
  /* A TileRef of length 0 or reaching past the block's length, or an untiled
     block shorter than its pixels. */
  MORVANE_TILE_ERR_PAYLOAD = -51,
  /* A tile whose data does not decode to exactly its pixels (damaged data).
     The decoder does not keep the tile. */
  MORVANE_TILE_ERR_CORRUPT = -52,
  /* The region has a negative coordinate or size, is not inside the image, or
     holds more than 2^31 - 1 bytes. */
  MORVANE_TILE_ERR_REGION = -53,
  /* The output's capacity is smaller than the region needs (w * h * bpp
     bytes, rows packed; (h - 1) * stride + w * bpp with a stride), or the
     stride is smaller than one row of the region (w * bpp). */
  MORVANE_TILE_ERR_OUTPUT = -54
} morvane_tile_error;

/* Block magics: the four ASCII bytes read as a little-endian 32-bit value. */
#define MORVANE_TILE_MAGIC_LZ4 0x4C5A3443u /* "C4ZL" */
#define MORVANE_TILE_MAGIC_RLE 0x524C4543u /* "CELR" */
#define MORVANE_TILE_MAGIC_RAW 0x52415743u /* "CWAR", untiled */

/* A block's 16-byte header, read by morvane_tile_image_read. */
typedef struct morvane_tile_info {
  uint32_t magic;          /* one of the MORVANE_TILE_MAGIC_ values */
  uint16_t width;          /* image, pixels */
  uint16_t height;
  uint16_t tile_width;     /* nominal tile; the last column and row may be smaller */
  uint16_t tile_height;
  uint8_t pixel_format;    /* 1 to 6 as written by the encoder; not checked */
  uint8_t bytes_per_pixel; /* 1 to 4 */
  uint16_t tile_count;     /* TileRef records; 1 for an untiled block */
} morvane_tile_info;

/*
 * Reads and checks the header of the block_len bytes at `block` exactly as
 * morvane_tile_decode does before it decodes anything. Returns 0 with
 * *info filled, or MORVANE_TILE_ERR_HEADER, _MAGIC or _PAYLOAD with *info
 * zeroed. A region of the image then needs rows of w * info->bytes_per_pixel
 * bytes, and a decoder for the block a max_tile_bytes of at least
 * tile_width * tile_height * bytes_per_pixel (any, for a "CWAR" block).
 * Touches no decoder.
 */
int32_t morvane_tile_image_read(const uint8_t *block, int32_t block_len, morvane_tile_info *info);

/*
 * morvane_tile_image_read with the header's fault told apart: where that
 * returns MORVANE_TILE_ERR_HEADER, this returns the code of the rule the
 * header breaks, MORVANE_TILE_ERR_HEADER_SHORT to _TABLE; every other result
 * is the same. For a caller that says which (as `morvane-tool info` does).
 */
int32_t morvane_tile_header_check(const uint8_t *block, int32_t block_len, morvane_tile_info *info);

/* ---- Decoders in the caller's memory ------------------------------------ */

/* A decoder: the tile it decoded last, and room for one decoded tile.
   Opaque; it lives in memory the caller gives to morvane_tile_decoder_init. */
typedef struct morvane_tile_decoder morvane_tile_decoder;

/* A size for a static array that holds a decoder of max_tile_bytes, at least
   morvane_tile_decoder_size(max_tile_bytes) on every target (the fixed part
   is at most 32 bytes). An integer constant expression for a constant
   argument. */
#define MORVANE_TILE_DECODER_SIZE(max_tile_bytes) (32u + (uint32_t)(max_tile_bytes))

/*
 * The bytes a decoder needs whose tiles decode to at most max_tile_bytes
 * bytes (tile width * tile height * bytes per pixel; 1 to 1,048,576): that
 * many plus a fixed part of 24 bytes on 32-bit targets, 32 on 64-bit ones.
 * 0 for a max_tile_bytes outside 1 to 1,048,576.
 */
size_t morvane_tile_decoder_size(int32_t max_tile_bytes);

/*
 * Lays a decoder out at `memory`, which has memory_size bytes, and returns
 * it (at `memory`); it holds no tile yet. Returns NULL when memory is NULL or
 * not aligned to 8 bytes, when memory_size is below
 * morvane_tile_decoder_size(max_tile_bytes), or when max_tile_bytes is
 * outside 1 to 1,048,576. Allocates nothing; the memory stays the caller's
 * and the decoder needs no clean-up: stop using it, and the memory is free.
 */
morvane_tile_decoder *morvane_tile_decoder_init(void *memory, size_t memory_size, int32_t max_tile_bytes);

/*
 * Decodes the region of w x h pixels whose top-left pixel is (x, y) from the
 * block_len bytes at `block` into `out`, which has room for out_capacity
 * bytes: row j of the region lands at out + j * stride and is w * bpp bytes
 * long, where bpp is the block's bytes per pixel. A framebuffer's row pitch
 * is such a stride; w * bpp gives rows packed. The bytes between the rows
 * (from out + j * stride + w * bpp to the next row) and after the last row
 * are never written.
 *
 * Returns the bytes of pixels written, w * h * bpp (0 for an empty region),
 * or a negative morvane_tile_error:
 *   MORVANE_TILE_ERR_NO_DECODER  dec is NULL;
 *   checked before anything is written, in this order:
 *     MORVANE_TILE_ERR_HEADER, _MAGIC, _PAYLOAD (see morvane_tile_image_read;
 *       _HEADER also for a tiled block whose tiles decode to more than the
 *       decoder's max_tile_bytes: an untiled "CWAR" block needs no room in
 *       the decoder and is decoded by any decoder),
 *     MORVANE_TILE_ERR_REGION   x, y, w or h negative, the region not inside
 *       the image, or w * h * bpp above 2^31 - 1,
 *     MORVANE_TILE_ERR_OUTPUT   stride below w * bpp, or out_capacity below
 *       (h - 1) * stride + w * bpp (for a non-empty region);
 *   found while tiles are decoded (the rows of tiles already decoded stay in
 *   out): MORVANE_TILE_ERR_PAYLOAD, MORVANE_TILE_ERR_CORRUPT.
 * Never reads outside block[0 .. block_len) nor writes outside
 * out[0 .. out_capacity).
 *
 * The decoder keeps the tile it decoded last, known by the block's address,
 * the block's length and the tile's index; a request that starts in that
 * tile does not decode it again. When the memory of a block is rewritten
 * (or freed and reused) while a decoder may hold one of its tiles, call
 * morvane_tile_decoder_forget first: a block of the same length at the same
 * address would otherwise be served the earlier tile.
 */
int32_t morvane_tile_decode(morvane_tile_decoder *dec, const uint8_t *block, int32_t block_len, int32_t x,
                            int32_t y, int32_t w, int32_t h, uint8_t *out, int32_t stride, int32_t out_capacity);

/*
 * Gives up the tile the decoder holds if it came from `block` (by address);
 * any other tile stays. Harmless when dec or block is NULL or nothing of
 * `block` is held.
 */
void morvane_tile_decoder_forget(morvane_tile_decoder *dec, const uint8_t *block);

/* ---- The static decoder --------------------------------------------------- */

/*
 * morvane_tile_decode through the one static decoder of
 * morvane_tile_buffer_size() bytes of tile, with rows packed (stride
 * w * bpp): row j of the region lands at out + j * w * bpp.
 *
 * Returns w * h * bpp or the same negative results, in the same order, with
 * MORVANE_TILE_ERR_OUTPUT for an out_capacity below w * h * bpp.
 *
 * Call morvane_tile_shared_forget(block) before the memory of a block is
 * rewritten, freed or reused for another block. Not reentrant.
 */
int32_t morvane_tile_decode_shared(const uint8_t *block, int32_t block_len, int32_t x, int32_t y, int32_t w,
                                   int32_t h, uint8_t *out, int32_t out_capacity);

/*
 * morvane_tile_decoder_forget on the static decoder: gives up its tile if it
 * came from `block`. Harmless when nothing of `block` is held, and with
 * NULL.
 */
void morvane_tile_shared_forget(const uint8_t *block);

/* ---- The run-length decoder, texts, sizes -------------------------------- */

/*
 * Expands a run-length stream of src_len bytes (pixels of bpp bytes, 1 to 4)
 * into at most `capacity` bytes at dst. Returns the pixel bytes produced; with
 * dst null, the bytes the stream decodes to. There is no error result: a
 * packet cut by the capacity or by the stream's end gives only its whole
 * pixels, and bpp outside 1 to 4 gives 0. Never reads past src_len nor writes
 * past capacity. Keeps no state; may run on any thread.
 */
int32_t morvane_rle_decode(const uint8_t *src, int32_t src_len, uint8_t *dst, int32_t capacity, int32_t bpp);

/*
 * One line of text (no line end) for a morvane_tile_error, or
 * "unknown tile error". The text is static; do not free it.
 */
const char *morvane_tile_error_text(int32_t code);

/* The largest decoded tile of the static decoder, of the encoder and of
   morvane_tile_image_read: 1,048,576 unless the library was built with
   another MORVANE_TILE_BUFFER_SIZE. */
uint32_t morvane_tile_buffer_size(void);

/* ---- Older names ----------------------------------------------------------

   Every call is named morvane_<what>_<verb>, its input (and its length)
   before its output (and its room). The calls of earlier releases keep their
   names and argument orders here, so that no caller breaks:
     morvane_decode_tile_region(block, out, block_len, out_capacity, x, y, w, h)
       is morvane_tile_decode_shared(block, block_len, x, y, w, h, out,
       out_capacity);
     morvane_tile_cache_forget(block) is morvane_tile_shared_forget(block);
     morvane_decode_rle_pixels(src, dst, src_len, capacity, bpp) is
       morvane_rle_decode(src, src_len, dst, capacity, bpp);
     MORVANE_TILE_ERR_NO_SLOT is MORVANE_TILE_ERR_NO_DECODER. */
static inline int32_t morvane_decode_tile_region(const uint8_t *block, uint8_t *out, int32_t block_len,
                                                 int32_t out_capacity, int32_t x, int32_t y, int32_t w, int32_t h) {
  return morvane_tile_decode_shared(block, block_len, x, y, w, h, out, out_capacity);
}
static inline void morvane_tile_cache_forget(const uint8_t *block) { morvane_tile_shared_forget(block); }
static inline int32_t morvane_decode_rle_pixels(const uint8_t *src, uint8_t *dst, int32_t src_len, int32_t capacity,
                                                int32_t bpp) {
  return morvane_rle_decode(src, src_len, dst, capacity, bpp);
}

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_TILE_H */

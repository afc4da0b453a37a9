// SPDX-License-Identifier: MIT
/* The decoding side's own C99 interface: what the .c files of src/tile share
   among themselves, and what tile_image.h builds the library's C++ names on.
   Not installed. Internal functions are named morvane_mvt_: every global
   symbol of the library starts with morvane_ (or lies in namespace
   morvane), so none takes a name a firmware might use.

   Compiled with -DMORVANE_TILE_SMALL=1, the decoders take their compact
   paths (see <morvane/tile.h>); the results are the same. */
#ifndef MORVANE_TILE_CODEC_H
#define MORVANE_TILE_CODEC_H

#include <stddef.h>
#include <stdint.h>

#include "morvane/tile.h"

/* The largest decoded tile, the encoder's staging buffer and the static
   decoder's tile: 1 MiB, the format's limit. A device build may define
   MORVANE_TILE_BUFFER_SIZE smaller (the same value for the library and every
   file that includes this header); blocks whose tiles exceed it are then
   refused, never overrun. */
#ifndef MORVANE_TILE_BUFFER_SIZE
#define MORVANE_TILE_BUFFER_SIZE 1048576
#endif
#if MORVANE_TILE_BUFFER_SIZE < 4 || MORVANE_TILE_BUFFER_SIZE > 1048576
#error "MORVANE_TILE_BUFFER_SIZE must hold one pixel and be at most 1 MiB"
#endif

#define MVT_HEADER_SIZE 16u      /* the block header */
#define MVT_REF_SIZE 8u          /* one TileRef: offset u32, len u32 */
#define MVT_MAX_TILE_BYTES 1048576u /* the largest tile any decoder takes */

/* Compiler hints; other compilers go without them. */
#if defined(__GNUC__)
#define MVT_ALWAYS_INLINE __attribute__((always_inline)) inline
#define MVT_ASSUME_ALIGNED4(p) __builtin_assume_aligned((p), 4)
#else
#define MVT_ALWAYS_INLINE inline
#define MVT_ASSUME_ALIGNED4(p) (p)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Unsigned division, d above 0. A size-first build for a core without a
   divide instruction (Cortex-M0/M0+/M23) takes a loop of a few dozen bytes
   rather than the compiler's library routine of a few hundred; the few
   divisions a request makes cost little either way. */
#if MORVANE_TILE_SMALL && defined(__thumb__) && !defined(__ARM_FEATURE_IDIV)
uint32_t morvane_mvt_udiv(uint32_t n, uint32_t d);
#define MVT_DIV(n, d) morvane_mvt_udiv((n), (d))
#else
#define MVT_DIV(n, d) ((n) / (d))
#endif

/* The codec table: every codec of the tiles, one row each, and the one
   place that knows them. The decoder, the encoder (tile_encode.cpp) and
   the floors above (tile_image.h: info's and a manifest's codec names) all
   expand it. A tiled row:
     TILED(kind, magic, name, block_name, what, decode, encode, worst)
       kind        the CODEC_KIND of a pack header and of the encoder's call
       magic       the block's magic (a MORVANE_TILE_MAGIC_ value)
       name        the codec's name: a manifest's "codec", info's CODEC_KIND
       block_name  the name info gives a block of that magic
       what        what the codec does, in words (the report's page)
       decode      the tile decoder, C: int32_t (const uint8_t *src,
                   uint8_t *dst, size_t src_len, size_t room, uint32_t bpp),
                   the bytes decoded or negative
       encode      the tile encoder, C++ (tile_encode.cpp): uint32_t
                   (const uint8_t *pixels, uint32_t count, uint32_t bpp,
                   uint8_t *dst, uint32_t room), the stored length or 0
       worst       its worst case, C++: uint32_t (uint64_t pixels,
                   uint64_t bpp), the room with which a tile never fails
   and the one row of the image stored whole, untiled:
     WHOLE(kind, magic, name, block_name, what)
   Only the decode column is named in the decoding side's C, so a device
   links no encoder. */
#define MORVANE_MVT_CODECS(TILED, WHOLE)                                                                     \
  TILED(1, MORVANE_TILE_MAGIC_RLE, "rle", "rle", "tiles run-length coded", morvane_mvt_rle_expand, encode_rle_tile, \
        rle_tile_worst)                                                                                     \
  TILED(2, MORVANE_TILE_MAGIC_LZ4, "lz4", "lz4", "tiles LZ4-coded", morvane_mvt_lz4_expand, encode_lz4_tile,        \
        lz4_tile_worst)                                                                                     \
  WHOLE(3, MORVANE_TILE_MAGIC_RAW, "stored", "raw", "images stored whole")

/* The table's kinds in words, for the text of MORVANE_TILE_ERR_CODEC_KIND:
   C99's preprocessor cannot join the rows with ", " and " or ", so the text
   is written here, beside them, and tile_image.h checks it against them. */
#define MORVANE_MVT_CODEC_KINDS_TEXT "1, 2 or 3"

/* The key of the tile a decoder holds. */
typedef struct TileCache {
  const uint8_t *owner;  /* the block the tile came from, by address */
  uint32_t owner_length; /* and by length */
  uint16_t tile_index;
  uint16_t length_tag; /* low 16 bits of the tile's stored length */
  uint16_t valid;
  uint16_t use_count; /* 1 at fill, +1 per hit */
} TileCache;

/* A decoder (<morvane/tile.h> has it as an opaque type): the key, and the
   room for one decoded tile, max_tile_bytes bytes from MVT_DECODER_HEAD on. */
struct morvane_tile_decoder {
  TileCache slot;
  uint32_t max_tile_bytes;
};
typedef struct morvane_tile_decoder TileDecoder;
#define MVT_DECODER_HEAD ((sizeof(TileDecoder) + 7) & ~(size_t)7)

/* The header of the 16 bytes at p, unchecked. */
void morvane_mvt_read_header(const uint8_t *p, morvane_tile_info *info);

/* Reads the header of the len bytes at block into *info with the checks
   morvane_tile_decode makes before it decodes anything: 0, or (with *info
   zeroed) MORVANE_TILE_ERR_HEADER, _MAGIC or _PAYLOAD; tiles may decode to
   at most max_tile_bytes bytes. tile_image.h tells the rules. */
int32_t morvane_mvt_image_read(const uint8_t *block, size_t len, morvane_tile_info *info, uint32_t max_tile_bytes);

/* The run-length decoder with the results of decode_rle_pixels
   (tile_image.h); src is not null. */
int32_t morvane_mvt_decode_rle(const uint8_t *src, uint8_t *dst, int32_t src_len, int32_t capacity, int32_t bpp);
/* The same for dst not null, src_len and capacity above 0 and bpp 1 to 4:
   the part a region decoder calls. */
int32_t morvane_mvt_rle_expand(const uint8_t *src, uint8_t *dst, size_t src_len, size_t capacity, uint32_t bpp);
/* morvane_mvt_lz4_expand, LZ4's decoder in the shape of the table's decode
   column, is tile_decode.c's own. */

/* The decoder's slot claimed for tile `index` of the block: still valid on
   a hit (use_count + 1), invalid on a miss (a miss on another tile clears
   valid alone and keeps the other fields). */
TileCache *morvane_mvt_cache_lookup(TileDecoder *dec, const uint8_t *block, size_t len, uint16_t index);
/* Records the tile just decoded into the decoder's pixels: 0, or
   MORVANE_TILE_ERR_NO_DECODER for no slot. */
int32_t morvane_mvt_cache_fill(TileCache *slot, const uint8_t *block, size_t len, uint16_t index, uint16_t length_tag);

/* The static decoder's key; NULL until its first use. */
const TileCache *morvane_mvt_shared_slot(void);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_TILE_CODEC_H */

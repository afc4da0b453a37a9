/*
 * morvane/tile.h: the tiled image block decoder, callable from C99.
 *
 * A tiled image block is what `morvane -c` stores for each image of a pack
 * whose header asks for tiles (docs/format.md has the byte layout): a 16-byte
 * header, a table of one 8-byte TileRef per tile, then each tile coded by
 * itself with LZ4 ("C4ZL") or the run-length codec ("CELR"); or the image
 * stored untiled ("CWAR"). Any rectangle of the image can be rebuilt by
 * decoding only the tiles it overlaps.
 *
 * Link with libmorvane_tile.a (`pkg-config --static --libs morvane-tile`, or
 * the CMake target morvane::tile). The library opens no file, allocates no
 * memory and prints nothing on the decoding side.
 *
 * Memory: decoded tiles pass through one static cache slot of
 * morvane_tile_buffer_size() bytes: 1 MiB (1,048,576 bytes, the largest tile
 * the format allows) unless the library was built with
 * -DMORVANE_TILE_BUFFER_SIZE=<bytes>, which a device with little RAM may do;
 * blocks whose tiles are larger than the slot are then refused with
 * MORVANE_TILE_ERR_HEADER, never overrun. The slot holds the tile decoded
 * last, so a request that starts in that tile does not decode it again.
 *
 * Threads: the slot is process-wide and unlocked. No function here is
 * reentrant: call them from one thread (or one task) at a time. The
 * run-length decoder alone keeps no state and may run anywhere.
 *
 * Lengths and counts are signed 32-bit; a negative length counts as 0, and a
 * null pointer as a buffer of 0 bytes.
 */
#ifndef MORVANE_TILE_H
#define MORVANE_TILE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Negative results. The decoding functions below return only
 * MORVANE_TILE_ERR_MAGIC and the codes from MORVANE_TILE_ERR_HEADER on; the
 * others come from the C++ interface (<morvane/tile_image.h>): the encoder
 * returns MORVANE_TILE_ERR_FAILED, tile_image_check tells why with the codes
 * from -40 to -47, and a cache fill without a slot gives -22.
 */
typedef enum morvane_tile_error {
  MORVANE_TILE_ERR_FAILED = -1,        /* the encoder refused the image or a tile did not fit */
  MORVANE_TILE_ERR_MAGIC = -8,         /* the block's magic names none of "C4ZL", "CELR", "CWAR" */
  MORVANE_TILE_ERR_NO_SLOT = -22,      /* cache fill without a slot */
  MORVANE_TILE_ERR_CODEC_KIND = -40,   /* encoder: codec kind not 1, 2 or 3 */
  MORVANE_TILE_ERR_PIXEL_FORMAT = -41, /* encoder: pixel format not 1 to 6 */
  MORVANE_TILE_ERR_DIMENSIONS = -42,   /* encoder: width or height outside 0 to 65535 */
  MORVANE_TILE_ERR_TILE_SIZE = -43,    /* encoder: tile side 0 or above 65535 */
  MORVANE_TILE_ERR_TILE_COUNT = -44,   /* encoder: more than 65535 tiles */
  MORVANE_TILE_ERR_TILE_BYTES = -45,   /* encoder: a tile larger than the tile buffer */
  MORVANE_TILE_ERR_CAPACITY = -46,     /* encoder: block buffer too small */
  MORVANE_TILE_ERR_SOURCE = -47,       /* encoder: source shorter than the image */
  /* The block is shorter than its header or its TileRef table; its bytes per
     pixel are not 1 to 4; a tile side is 0; a tile is larger than the tile
     buffer; or the tile count does not match the grid. */
  MORVANE_TILE_ERR_HEADER = -50,
  /* A TileRef of length 0 or reaching past the block's length, or an untiled
     block shorter than its pixels. */
  MORVANE_TILE_ERR_PAYLOAD = -51,
  /* A tile whose data does not decode to exactly its pixels (damaged data).
     The tile is not kept in the cache. */
  MORVANE_TILE_ERR_CORRUPT = -52,
  /* The region has a negative coordinate or size, is not inside the image, or
     holds more than 2^31 - 1 bytes. */
  MORVANE_TILE_ERR_REGION = -53,
  /* The output's capacity is smaller than the region's w * h * bpp bytes. */
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
 * morvane_decode_tile_region does before it decodes anything. Returns 0 with
 * *info filled, or MORVANE_TILE_ERR_HEADER, _MAGIC or _PAYLOAD with *info
 * zeroed. A region of the image then needs an output of
 * w * h * info->bytes_per_pixel bytes. Touches no cache.
 */
int32_t morvane_tile_image_read(const uint8_t *block, int32_t block_len, morvane_tile_info *info);

/*
 * Decodes the region of w x h pixels whose top-left pixel is (x, y) from the
 * block_len bytes at `block` into `out`, which has room for out_capacity
 * bytes. Row j of the region lands at out + j * w * bpp, rows packed, where
 * bpp is the block's bytes per pixel.
 *
 * Returns the bytes written, w * h * bpp (0 for an empty region), or a
 * negative morvane_tile_error:
 *   checked before anything is written, in this order:
 *     MORVANE_TILE_ERR_HEADER, _MAGIC, _PAYLOAD (see morvane_tile_image_read),
 *     MORVANE_TILE_ERR_REGION, MORVANE_TILE_ERR_OUTPUT;
 *   found while tiles are decoded (the rows of tiles already copied stay in
 *   out): MORVANE_TILE_ERR_PAYLOAD, MORVANE_TILE_ERR_CORRUPT.
 * Never reads outside block[0 .. block_len) nor writes outside
 * out[0 .. out_capacity).
 *
 * The cache slot remembers the block by its address: call
 * morvane_tile_cache_forget(block) before that memory is freed or reused for
 * another block. Not reentrant.
 */
int32_t morvane_decode_tile_region(const uint8_t *block, uint8_t *out, int32_t block_len,
                                   int32_t out_capacity, int32_t x, int32_t y, int32_t w, int32_t h);

/*
 * Expands a run-length stream of src_len bytes (pixels of bpp bytes, 1 to 4)
 * into at most `capacity` bytes at dst. Returns the pixel bytes produced; with
 * dst null, the bytes the stream decodes to. There is no error result: a
 * packet cut by the capacity or by the stream's end gives only its whole
 * pixels, and bpp outside 1 to 4 gives 0. Never reads past src_len nor writes
 * past capacity. Keeps no state; may run on any thread.
 */
int32_t morvane_decode_rle_pixels(const uint8_t *src, uint8_t *dst, int32_t src_len, int32_t capacity,
                                  int32_t bpp);

/*
 * Gives up the cached tile if it came from `block`; any other tile stays.
 * Call it before the memory of a decoded block is freed, or overwritten with
 * another block, so that the later block is never served the earlier one's
 * pixels. Harmless when nothing of `block` is cached, and with null.
 */
void morvane_tile_cache_forget(const uint8_t *block);

/*
 * One line of text (no line end) for a morvane_tile_error, or
 * "unknown tile error". The text is static; do not free it.
 */
const char *morvane_tile_error_text(int32_t code);

/* The bytes of the cache slot, the largest decoded tile this library takes:
   1,048,576 unless it was built with another MORVANE_TILE_BUFFER_SIZE. */
uint32_t morvane_tile_buffer_size(void);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_TILE_H */

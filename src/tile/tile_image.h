// SPDX-License-Identifier: MIT
// Tiled image blocks, the run-length pixel codec and the region decoder: the
// tile library's own interface, for its sources, the rest of morvane, the
// tests and the benchmarks. Not installed: programs outside morvane use
// <morvane/tile.h> (C99), <morvane/pack.h> and <morvane/tile.hpp> (C++20).
//
// This is the part of morvane that a device embeds (the library
// morvane_tile): nothing here opens files, allocates memory or starts
// threads. The encoder's staging buffer (TILE_BUFFER_SIZE bytes) and its LZ4
// HC state are thread-local, one per thread that encodes, so the encoder may
// run on several threads at once (never reentered on one). The region decoder
// works in a TileDecoder, in memory its caller gives; decoders share nothing,
// so threads decode side by side, each with its own. The calls that take no
// decoder share one static decoder and are not reentrant.
// The decoding side is C99 (tile_codec.h and the .c files, which a device
// links alone); its calls here are thin C++ faces over it. The encoder is
// C++. Byte layouts are in docs/format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "morvane/tile.h"
#include "tile/tile_codec.h"

// The largest decoded tile, the staging buffer and the static decoder's
// tile: MORVANE_TILE_BUFFER_SIZE (tile_codec.h), 1 MiB unless a device build
// defines it smaller.
inline constexpr uint32_t TILE_BUFFER_SIZE = MORVANE_TILE_BUFFER_SIZE;
inline constexpr uint32_t TILE_HEADER_SIZE = 16;
inline constexpr uint32_t TILE_REF_SIZE = 8;
inline constexpr uint32_t TILE_MAX_COUNT = 65535;

// Block magics, the four ASCII bytes read as a little-endian u32.
inline constexpr uint32_t TILE_MAGIC_LZ4 = 0x4C5A3443;  // "C4ZL"
inline constexpr uint32_t TILE_MAGIC_RLE = 0x524C4543;  // "CELR"
inline constexpr uint32_t TILE_MAGIC_RAW = 0x52415743;  // "CWAR"
// True for the magic of one of the three block forms.
inline constexpr bool is_tile_magic(uint32_t magic) {
  return magic == TILE_MAGIC_LZ4 || magic == TILE_MAGIC_RLE || magic == TILE_MAGIC_RAW;
}

// CODEC_KIND values of a pack header.
inline constexpr uint8_t CODEC_KIND_RLE = 1;
inline constexpr uint8_t CODEC_KIND_LZ4 = 2;
inline constexpr uint8_t CODEC_KIND_STORED = 3;

inline constexpr int LZ4_HC_LEVEL = 12;

// Negative results. The encoder itself only ever returns TILE_ERR_FAILED;
// tile_image_check tells why a call would fail.
inline constexpr int32_t TILE_ERR_FAILED = -1;
inline constexpr int32_t TILE_ERR_MAGIC = -8;       // block names no codec
inline constexpr int32_t TILE_ERR_NO_SLOT = -22;    // no decoder, or a cache fill without a slot
inline constexpr int32_t TILE_ERR_CODEC_KIND = -40;   // codec_kind not 1..3
inline constexpr int32_t TILE_ERR_PIXEL_FORMAT = -41; // pixel_format not 1..6
inline constexpr int32_t TILE_ERR_DIMENSIONS = -42;   // width/height outside 0..65535
inline constexpr int32_t TILE_ERR_TILE_SIZE = -43;    // tile side 0 or above 65535
inline constexpr int32_t TILE_ERR_TILE_COUNT = -44;   // more than 65535 tiles
inline constexpr int32_t TILE_ERR_TILE_BYTES = -45;   // a tile above TILE_BUFFER_SIZE
inline constexpr int32_t TILE_ERR_CAPACITY = -46;     // block buffer too small
inline constexpr int32_t TILE_ERR_SOURCE = -47;       // src shorter than the image
inline constexpr int32_t TILE_ERR_HEADER = -50;   // block too short for header/table, bad bpp or count
inline constexpr int32_t TILE_ERR_PAYLOAD = -51;  // a TileRef outside the block
inline constexpr int32_t TILE_ERR_CORRUPT = -52;  // a tile that does not decode to its pixels
inline constexpr int32_t TILE_ERR_REGION = -53;   // region not inside the image
inline constexpr int32_t TILE_ERR_OUTPUT = -54;   // output smaller than the region, or stride below a row

// One line of text for a result above, without a line end.
inline const char* tile_error_text(int32_t code) { return morvane_tile_error_text(code); }

// The 16-byte block header.
struct TileImage {
  uint32_t magic = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t tile_width = 0;
  uint16_t tile_height = 0;
  uint8_t pixel_format = 0;
  uint8_t bytes_per_pixel = 0;
  uint16_t tile_count = 0;
};

struct TileRef {
  uint32_t offset = 0;  // from the block's first byte
  uint32_t len = 0;
};

// The header from the decoder's C form of it, morvane_tile_info.
inline TileImage tile_image_of(const morvane_tile_info& i) {
  return {i.magic, i.width, i.height, i.tile_width, i.tile_height, i.pixel_format, i.bytes_per_pixel, i.tile_count};
}

inline TileImage read_tile_image(const uint8_t* p) {  // p: TILE_HEADER_SIZE bytes
  morvane_tile_info info;
  mvt_read_header(p, &info);
  return tile_image_of(info);
}
void write_tile_image(const TileImage& t, uint8_t* p);
TileRef read_tile_ref(const uint8_t* p);  // p: TILE_REF_SIZE bytes
void write_tile_ref(const TileRef& r, uint8_t* p);

// Bytes per pixel of a PixelFormat code 1..6; 0 for any other code.
int pixel_format_bytes(int pixel_format);

// Reads the header of `block` into *info with the checks decode_tile_region
// makes before it decodes anything: 0, or (with *info zeroed)
//   TILE_ERR_HEADER   block shorter than the header; bytes_per_pixel not 1..4;
//                     for a tiled block with pixels: a zero tile side, a tile
//                     above max_tile_bytes bytes, tile_count other than
//                     across x down, or a block shorter than the TileRef
//                     table; for a tiled empty image: tile_count not 0
//   TILE_ERR_MAGIC    a magic that names none of "C4ZL", "CELR", "CWAR"
//   TILE_ERR_PAYLOAD  a "CWAR" block shorter than 16 + width x height x bpp
// An empty image (width or height 0) may carry any tile size, zero included.
inline int32_t tile_image_read(std::span<const uint8_t> block, TileImage* info,
                               uint32_t max_tile_bytes = TILE_BUFFER_SIZE) {
  morvane_tile_info t;
  const int32_t rc = mvt_image_read(block.data(), block.size(), &t, max_tile_bytes);
  *info = tile_image_of(t);
  return rc;
}

// ---- Encoder ---------------------------------------------------------------

// 0 when encode_tile_image accepts these parameters (given enough capacity and
// source), else the TILE_ERR_ code that says why it would return -1.
// An empty image (width or height 0) is accepted whatever the tile size.
int32_t tile_image_check(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height,
                         int pixel_format, int codec_kind);

// A block capacity with which no tile fails for lack of room: the larger of
// 16 + 8 x tiles + every tile's worst coded size, and 16 + the raw size.
// 0 when tile_image_check refuses the parameters.
uint64_t tile_image_bound(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height,
                          int pixel_format, int codec_kind);

// Cuts the image in src (rows packed, width x height x bytes-per-pixel bytes)
// into tiles and writes the TileImage block into `block`. Returns the block's
// size, or -1 (TILE_ERR_FAILED) when tile_image_check refuses the call, when
// src is shorter than the image or block shorter than the header and table
// (or 16 + raw size for the untiled form), or when a tile does not fit the
// room left, in which case "Failed to compress the data\n" is printed.
// Never reads outside src nor writes outside block; with an invalid
// pixel_format, block is untouched. A tile that a codec could only store in
// part is never kept as if complete.
int32_t encode_tile_image(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width,
                          int32_t height, int32_t tile_width, int32_t tile_height,
                          uint8_t pixel_format, uint8_t codec_kind);

// Coding the tiles of one image side by side: each tile coded on its own by
// encode_tile with tile_payload_bound bytes of room, on any thread, then the
// block assembled in tile order by assemble_tile_image.

// The room with which tile `index` (in tile order) never fails, and codes to
// the same bytes as with any larger room: LZ4_compressBound of its pixel
// bytes for codec kind 2, (1 + bytes per pixel) x its pixels for kind 1.
// 0 for a refused call, an empty image, codec kind 3 or an index past the
// last tile.
uint32_t tile_payload_bound(int32_t width, int32_t height, int32_t tile_width, int32_t tile_height,
                            int pixel_format, int codec_kind, uint32_t index);

// Codes tile `index` alone into dst (its room: dst.size()) and returns the
// stored length, 0 when it does not fit or the call is refused (as by
// tile_payload_bound, or src shorter than the image). Gathers through the
// calling thread's staging buffer; prints nothing.
uint32_t encode_tile(std::span<const uint8_t> src, std::span<uint8_t> dst, int32_t width, int32_t height,
                     int32_t tile_width, int32_t tile_height, uint8_t pixel_format, uint8_t codec_kind,
                     uint32_t index);

// encode_tile_image, given payloads coded beforehand: coded[i], when not
// empty, is tile i as encode_tile wrote it with tile_payload_bound bytes of
// room. It is copied wherever the room left for tile i is at least that
// bound; every other tile (and every tile past coded.size()) is coded here,
// with the room left, as encode_tile_image does. So the block, the result,
// the untiled fallback and the failure message are those of
// encode_tile_image for the same call.
int32_t assemble_tile_image(std::span<const uint8_t> src, std::span<uint8_t> block, int32_t width,
                            int32_t height, int32_t tile_width, int32_t tile_height, uint8_t pixel_format,
                            uint8_t codec_kind, std::span<const std::span<const uint8_t>> coded);

// ---- Run-length pixel codec -------------------------------------------------

// Codes pixel_count pixels of bpp (1..4; any other gives 0) bytes into
// packets. With dst null, returns the size of the whole stream. Otherwise
// writes whole packets while they fit in capacity and returns the bytes
// written (so less than the whole stream when capacity is short). (1 + bpp) x
// pixel_count bytes always hold the whole stream. A stream longer than
// INT32_MAX bytes ends at the packet before, as if the capacity ran out.
int32_t encode_rle_pixels(const uint8_t* src, uint8_t* dst, uint32_t pixel_count,
                          uint32_t capacity, uint32_t bpp);

// Expands a stream of src_len bytes into at most capacity bytes of pixels and
// returns the pixel bytes produced (with dst null: the bytes the stream
// decodes to). Never reads past src_len nor writes past capacity, but bytes
// of dst between the result and capacity may have been overwritten. A packet
// cut by the end of the stream gives only its whole pixels. bpp outside 1..4
// gives 0.
inline int32_t decode_rle_pixels(const uint8_t* src, uint8_t* dst, int32_t src_len, int32_t capacity,
                                 int32_t bpp) {
  return mvt_decode_rle(src, dst, src_len, capacity, bpp);
}

// ---- Region decoder ----------------------------------------------------------

// A decoder (<morvane/tile.h> has it as an opaque type) is a TileDecoder
// (tile_codec.h): the key of the tile it holds (a TileCache), and the room
// for one decoded tile, max_tile_bytes bytes from TILE_DECODER_HEAD on.
inline constexpr size_t TILE_DECODER_HEAD = MVT_DECODER_HEAD;
static_assert(TILE_DECODER_HEAD <= 32, "MORVANE_TILE_DECODER_SIZE counts 32 bytes of head");
inline uint8_t* tile_decoder_pixels(TileDecoder* dec) { return reinterpret_cast<uint8_t*>(dec) + TILE_DECODER_HEAD; }

// The decoder calls of <morvane/tile.h> under this library's names.
inline size_t tile_decoder_size(int32_t max_tile_bytes) { return morvane_tile_decoder_size(max_tile_bytes); }
inline TileDecoder* tile_decoder_init(void* memory, size_t memory_size, int32_t max_tile_bytes) {
  return morvane_tile_decoder_init(memory, memory_size, max_tile_bytes);
}
inline void tile_decoder_forget(TileDecoder* dec, const uint8_t* block) { morvane_tile_decoder_forget(dec, block); }

// Writes into `out` the region (x, y, w, h) of the block, row j at
// j x stride, through `dec`: morvane_tile_decode with its results. A span
// longer than 2^31 - 1 bytes counts as that long.
inline int32_t decode_tile_region(TileDecoder* dec, std::span<const uint8_t> block, std::span<uint8_t> out,
                                  int32_t x, int32_t y, int32_t w, int32_t h, int32_t stride) {
  constexpr size_t kMax = 0x7FFFFFFF;
  return morvane_tile_decode(dec, block.data(), int32_t(block.size() < kMax ? block.size() : kMax), x, y, w, h,
                             out.data(), stride, int32_t(out.size() < kMax ? out.size() : kMax));
}

// The region with rows of w pixels packed, through the one static decoder,
// whose tiles may have TILE_BUFFER_SIZE bytes: morvane_decode_tile_region.
// Not reentrant.
inline int32_t decode_tile_region(std::span<const uint8_t> block, std::span<uint8_t> out, int32_t x,
                                  int32_t y, int32_t w, int32_t h) {
  constexpr size_t kMax = 0x7FFFFFFF;
  return morvane_decode_tile_region(block.data(), out.data(), int32_t(block.size() < kMax ? block.size() : kMax),
                                    int32_t(out.size() < kMax ? out.size() : kMax), x, y, w, h);
}
// Gives up the static decoder's tile if it came from `block`. Call it before
// the memory of a decoded block is released or reused, so that a later block
// at the same address is never served the earlier block's pixels.
inline void tile_cache_forget(const uint8_t* block) { morvane_tile_cache_forget(block); }
// The static decoder's key, for inspection; nullptr until its first use.
inline const TileCache* tile_cache_slot() { return mvt_shared_slot(); }

// The decoder's slot claimed for tile `index` of `block`: still valid on a
// hit (use_count + 1), invalid on a miss (a miss on another tile clears valid
// alone and keeps the other fields).
inline TileCache* tile_cache_lookup(TileDecoder* dec, std::span<const uint8_t> block, uint16_t index) {
  return mvt_cache_lookup(dec, block.data(), block.size(), index);
}
// The slot's valid field; 0 for no slot.
inline uint16_t tile_cache_is_valid(const TileCache* slot) { return slot != nullptr ? slot->valid : 0; }
// Records the tile just decoded into the decoder's pixels: 0, or
// TILE_ERR_NO_SLOT for no slot.
inline int32_t tile_cache_fill(TileCache* slot, std::span<const uint8_t> block, uint16_t index,
                               uint16_t length_tag) {
  return mvt_cache_fill(slot, block.data(), block.size(), index, length_tag);
}

// ---- LZ4 block helpers --------------------------------------------------------

// LZ4_compress_HC at level 12 through the calling thread's state, so no call
// allocates.
// Returns the compressed size, 0 when it does not fit in capacity.
int32_t lz4_hc_compress(const uint8_t* src, uint8_t* dst, int32_t src_len, int32_t capacity);

// SPDX-License-Identifier: MIT
// The tile library's own C++ interface, for the rest of morvane, its tests
// and benchmarks: what they need beyond <morvane/tile.hpp> (the block's
// records, the tile encoder's parts, the codec table, the static decoder's
// key), all in namespace morvane::detail. It repeats nothing of the public
// headers: codes, magics and codec kinds are theirs (MORVANE_TILE_ERR_...,
// MORVANE_TILE_MAGIC_..., morvane::CODEC_KIND_...). Not installed.
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
#include <iterator>
#include <span>
#include <string_view>

#include "morvane/tile.hpp"
#include "tile/tile_codec.h"

namespace morvane::detail {

// The largest decoded tile, the staging buffer and the static decoder's
// tile: MORVANE_TILE_BUFFER_SIZE (tile_codec.h), 1 MiB unless a device build
// defines it smaller.
inline constexpr uint32_t TILE_BUFFER_SIZE = MORVANE_TILE_BUFFER_SIZE;
inline constexpr uint32_t TILE_HEADER_SIZE = MVT_HEADER_SIZE;
inline constexpr uint32_t TILE_REF_SIZE = MVT_REF_SIZE;
inline constexpr uint32_t TILE_MAX_COUNT = 65535;

inline constexpr int LZ4_HC_LEVEL = 12;

// ---- The codec table ----------------------------------------------------------

// A row of the codec table (MORVANE_MVT_CODECS, tile_codec.h) as the floors
// above see it: its CODEC_KIND, its block's magic, its name (a manifest's
// "codec", info's CODEC_KIND), the name info gives a block of that magic
// and what it does, in words.
// The encoder and decoder of each row are the library's own.
struct TileCodec {
  uint8_t kind;
  uint32_t magic;
  const char* name;
  const char* block_name;
  const char* what;  // what it does, in words
  bool tiled;  // false: the image stored whole, untiled
};

#define MORVANE_DETAIL_TILED_ROW(kind, magic, name, block_name, what, decode, encode, worst) \
  TileCodec{kind, magic, name, block_name, what, true},
#define MORVANE_DETAIL_WHOLE_ROW(kind, magic, name, block_name, what) \
  TileCodec{kind, magic, name, block_name, what, false},
inline constexpr TileCodec TILE_CODECS[] = {MORVANE_MVT_CODECS(MORVANE_DETAIL_TILED_ROW, MORVANE_DETAIL_WHOLE_ROW)};
#undef MORVANE_DETAIL_TILED_ROW
#undef MORVANE_DETAIL_WHOLE_ROW

// The row of a CODEC_KIND, or of a block magic; nullptr for none.
constexpr const TileCodec* tile_codec_of_kind(int kind) {
  for (const TileCodec& c : TILE_CODECS)
    if (c.kind == kind) return &c;
  return nullptr;
}
constexpr const TileCodec* tile_codec_of_magic(uint32_t magic) {
  for (const TileCodec& c : TILE_CODECS)
    if (c.magic == magic) return &c;
  return nullptr;
}
// True for the magic of one of the block forms.
constexpr bool is_tile_magic(uint32_t magic) { return tile_codec_of_magic(magic) != nullptr; }

// Whether text names the table's kinds in its order as "1, 2 or 3" does: the
// check on MORVANE_MVT_CODEC_KINDS_TEXT, which C cannot build from the rows.
constexpr bool names_codec_kinds(std::string_view text) {
  const size_t n = std::size(TILE_CODECS);
  size_t at = 0;
  for (size_t i = 0; i < n; ++i) {
    const std::string_view sep = i == 0 ? "" : i + 1 == n ? " or " : ", ";
    char digits[3] = {};
    size_t k = 0;
    for (unsigned v = TILE_CODECS[i].kind, d = v >= 100 ? 100 : v >= 10 ? 10 : 1; d > 0; d /= 10)
      digits[k++] = static_cast<char>('0' + v / d % 10);
    const std::string_view word(digits, k);
    if (!text.substr(at).starts_with(sep) || !text.substr(at + sep.size()).starts_with(word)) return false;
    at += sep.size() + word.size();
  }
  return at == text.size();
}
static_assert(names_codec_kinds(MORVANE_MVT_CODEC_KINDS_TEXT), "MORVANE_MVT_CODEC_KINDS_TEXT lists other kinds");

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
  morvane_mvt_read_header(p, &info);
  return tile_image_of(info);
}
void write_tile_image(const TileImage& t, uint8_t* p);
TileRef read_tile_ref(const uint8_t* p);  // p: TILE_REF_SIZE bytes
void write_tile_ref(const TileRef& r, uint8_t* p);

// Reads the header of `block` into *info with the checks decode_tile_region
// makes before it decodes anything: 0, or (with *info zeroed)
//   MORVANE_TILE_ERR_HEADER   block shorter than the header; bytes_per_pixel not 1..4;
//                     for a tiled block with pixels: a zero tile side, a tile
//                     above max_tile_bytes bytes, tile_count other than
//                     across x down, or a block shorter than the TileRef
//                     table; for a tiled empty image: tile_count not 0
//   MORVANE_TILE_ERR_MAGIC    a magic that names none of "C4ZL", "CELR", "CWAR"
//   MORVANE_TILE_ERR_PAYLOAD  a "CWAR" block shorter than 16 + width x height x bpp
// An empty image (width or height 0) may carry any tile size, zero included.
inline int32_t tile_image_read(std::span<const uint8_t> block, TileImage* info,
                               uint32_t max_tile_bytes = TILE_BUFFER_SIZE) {
  morvane_tile_info t;
  const int32_t rc = morvane_mvt_image_read(block.data(), block.size(), &t, max_tile_bytes);
  *info = tile_image_of(t);
  return rc;
}

// ---- Encoder ---------------------------------------------------------------

// tile_image_check, tile_image_bound and encode_tile_image are in
// <morvane/tile.hpp>.

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
// with the room left, as encode_tile_image does. So the block and the
// untiled fallback are those of encode_tile_image for the same call; where
// that returns -1 this says why: the code of tile_image_check,
// MORVANE_TILE_ERR_SOURCE (src shorter than the image) or
// MORVANE_TILE_ERR_CAPACITY (block shorter than the header and table, or
// than 16 + the raw size for the untiled form, or a tile that does not fit
// the room left). The library prints nothing: a caller that reports the
// last, as morvane -c does, prints "Failed to compress the data".
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
  return morvane_mvt_decode_rle(src, dst, src_len, capacity, bpp);
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

// decode_tile_region through a decoder is in <morvane/tile.hpp>.

// The region with rows of w pixels packed, through the one static decoder,
// whose tiles may have TILE_BUFFER_SIZE bytes: morvane_tile_decode_shared.
// Not reentrant.
inline int32_t decode_tile_region(std::span<const uint8_t> block, std::span<uint8_t> out, int32_t x,
                                  int32_t y, int32_t w, int32_t h) {
  constexpr size_t kMax = 0x7FFFFFFF;
  return morvane_tile_decode_shared(block.data(), int32_t(block.size() < kMax ? block.size() : kMax), x, y, w, h,
                                    out.data(), int32_t(out.size() < kMax ? out.size() : kMax));
}
// Gives up the static decoder's tile if it came from `block`. Call it before
// the memory of a decoded block is released or reused, so that a later block
// at the same address is never served the earlier block's pixels.
inline void tile_cache_forget(const uint8_t* block) { morvane_tile_shared_forget(block); }
// The static decoder's key, for inspection; nullptr until its first use.
inline const TileCache* tile_cache_slot() { return morvane_mvt_shared_slot(); }

// The decoder's slot claimed for tile `index` of `block`: still valid on a
// hit (use_count + 1), invalid on a miss (a miss on another tile clears valid
// alone and keeps the other fields).
inline TileCache* tile_cache_lookup(TileDecoder* dec, std::span<const uint8_t> block, uint16_t index) {
  return morvane_mvt_cache_lookup(dec, block.data(), block.size(), index);
}
// The slot's valid field; 0 for no slot.
inline uint16_t tile_cache_is_valid(const TileCache* slot) { return slot != nullptr ? slot->valid : 0; }
// Records the tile just decoded into the decoder's pixels: 0, or
// MORVANE_TILE_ERR_NO_DECODER for no slot.
inline int32_t tile_cache_fill(TileCache* slot, std::span<const uint8_t> block, uint16_t index,
                               uint16_t length_tag) {
  return morvane_mvt_cache_fill(slot, block.data(), block.size(), index, length_tag);
}

// ---- LZ4 block helpers --------------------------------------------------------

// LZ4_compress_HC at level 12 through the calling thread's state, so no call
// allocates.
// Returns the compressed size, 0 when it does not fit in capacity.
int32_t lz4_hc_compress(const uint8_t* src, uint8_t* dst, int32_t src_len, int32_t capacity);

}  // namespace morvane::detail

// What an entry of a pack holds and its pixels, whichever form it is stored
// in: the decoding that morvane-tool shares with `morvane -d`. The compressed
// forms go through decompress_entry; this only tells the forms apart and
// checks that what they decode to is the entry's whole pixel array.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "pack/pack_format.h"

enum class EntryForm {
  Raw,           // the pixel array right after the EntryRect
  RawAfterHint,  // a tiled source: TileHint, then the pixel array
  Lz4,           // whole-entry LZ4 data of the pixel array
  TiledBlock,    // a TileImage block
  DecodedTiled,  // type 39 after tiled decompression: the block's pixels
  Jpeg,          // type 38: JPEG data, not pixels
};

// Results of entry_pixels.
inline constexpr int ENTRY_PIXELS_OK = 0;
inline constexpr int ENTRY_PIXELS_UNKNOWN = -1;   // the payload's size fits no form
inline constexpr int ENTRY_PIXELS_CORRUPT = -2;   // LZ4 or tiled data that does not decode
inline constexpr int ENTRY_PIXELS_WRONG_SIZE = -3; // decodes, but not to W x H pixels

struct EntryPixels {
  EntryForm form = EntryForm::Raw;
  // 1..4; for Jpeg the table's 2.
  int bytes_per_pixel = 0;
  // Rows packed, width x height x bytes_per_pixel bytes; empty for Jpeg.
  std::vector<uint8_t> pixels;
  // The type of the entry's raw form: the type itself for raw pixels, the
  // renumbered-back type for whole-entry LZ4 data, and for type 39 the raw
  // type whose PixelFormat the block names, or else the first of 30, 1, 32
  // and 11 that holds bytes_per_pixel bytes.
  uint8_t raw_type = 0;
  // Raw forms after a TileHint: the hint. TiledBlock: the block's tile size
  // (0 x 0 for the untiled "CWAR" form, which keeps none).
  TileHint tile{};
  // The block's PixelFormat code (TiledBlock only).
  int pixel_format = 0;
};

// `payload` is the entry's data after its EntryRect: len - 4 bytes. tiled is
// the pack's TILED_FLAG != 0. How the forms are told apart:
//   type 38                                  -> Jpeg
//   tiled pack: a payload that starts with a block magic and the entry's
//     width and height                       -> TiledBlock (must decode)
//     4 + W x H x bpp(type) bytes, type != 39 -> RawAfterHint
//     type 39, W x H x k bytes (k 1..4)       -> DecodedTiled
//     W x H x bpp(type) bytes                 -> Raw
//   whole-entry pack: the six LZ4 codes (14, 15, 31, 33, 35, 37) -> Lz4;
//     the six raw codes with an LZ4 form      -> Raw;
//     any other code: W x H x bpp bytes       -> Raw, anything else Lz4.
// Returns ENTRY_PIXELS_OK or a negative ENTRY_PIXELS_ code; never reads
// outside payload.
int entry_pixels(bool tiled, const PackEntry& e, const EntryRect& rect,
                 std::span<const uint8_t> payload, EntryPixels& out);

// Whether an entry's payload holds a tiled image block of its own size: a
// block magic and the EntryRect's width and height in the block header.
bool is_tile_block(const EntryRect& rect, std::span<const uint8_t> payload);

// One line of text for an entry_pixels result.
const char* entry_pixels_error_text(int code);

// The raw type whose pixels fill the PixelFormat's bytes: the inverse of
// pixel_format_for_type when the two agree on bytes per pixel, else the
// default type for bytes_per_pixel (30, 1, 32, 11 for 1..4).
uint8_t raw_type_for_pixels(int pixel_format, int bytes_per_pixel);

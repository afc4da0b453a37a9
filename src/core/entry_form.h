// SPDX-License-Identifier: MIT
// What an entry's data holds, told from its code, the pack's mode and its
// bytes: the one place where the forms are told apart, and the one table of
// their names.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/buffer_pool.h"
#include "pack/pack_format.h"

enum class EntryForm {
  Raw,           // the pixel array right after the EntryRect
  RawAfterHint,  // a tiled source: TileHint, then the pixel array
  Lz4,           // whole-entry LZ4 data of the pixel array
  TiledBlock,    // a TileImage block
  DecodedTiled,  // type 39 after tiled decompression: the block's pixels
  Jpeg,          // type 38: JPEG data, not pixels
  Unknown,       // a tiled pack's entry whose size fits none of the above
};

// What a form is called: info's JSON "kind" ("raw", "raw_hinted", ...),
// info's table column ("raw pixels", "raw + hint", ...) and report's form
// column ("raw", "raw + hint", ...).
struct EntryFormNames {
  const char* key;
  const char* column;
  const char* report;
};
const EntryFormNames& entry_form_names(EntryForm f);

// What an entry's code says of its data in a pack's mode, before any byte of
// it is read: what a conversion plans by.
enum class CodedAs {
  Jpeg,        // type 38: copied by every conversion
  Compressed,  // an LZ4 code or 39: compressed by its code, copied as stored
  Pixels,      // a raw pixel array (after a TileHint in a tiled pack)
  Either,      // a whole-entry pack's code without an LZ4 form: raw pixels or
               // LZ4 data, as its bytes tell (KeptCodes)
};
CodedAs coded_as(PackMode mode, uint8_t type);

// How a whole-entry pack's codes without an LZ4 form (CodedAs::Either, and
// 39) tell LZ4 data from raw pixels.
enum class KeptCodes {
  BySize,      // raw when the payload is exactly W x H x bpp bytes
  ByDecoding,  // LZ4 when the payload is LZ4 data of the image (holds_lz4_image)
};

// `payload` is what has been read of the entry's data after its EntryRect
// (at least TILE_HEADER_SIZE bytes for a block to be told; all of it for
// ByDecoding), `n` the payload's length. The forms:
//   type 38                                        -> Jpeg
//   tiled pack: a block magic and the entry's width and height
//                                                  -> TiledBlock
//     type 39, n == W x H x k (k 1..4)            -> DecodedTiled
//     n >= 4 + W x H x bpp(type)                   -> RawAfterHint
//     n == W x H x bpp(type)                       -> Raw
//     anything else                                -> Unknown
//   whole-entry pack: the six LZ4 codes           -> Lz4
//     the six raw codes with an LZ4 form           -> Raw
//     any other code: LZ4 or Raw, as `kept` tells.
// Never reads outside payload.
// The decoding of ByDecoding takes its buffer from `pool` when given.
EntryForm classify_entry(PackMode mode, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload,
                         uint64_t n, KeptCodes kept = KeptCodes::BySize, BufferPool* pool = nullptr);

// The form as the code and the mode declare it, reading at most a block
// header (`head`, of a payload of n bytes; no n for an entry whose record
// the file cannot back): what info lists. In a tiled pack
// every code but 38 and 39 is a source image (RawAfterHint) and a type-39
// entry a block, unless classify_entry finds the pixels a tiled
// decompression left (DecodedTiled); a whole-entry pack's forms are
// classify_entry's by size.
EntryForm declared_form(PackMode mode, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> head,
                        std::optional<uint64_t> n);

// Whether an entry's payload holds a tiled image block of its own size: a
// block magic and the EntryRect's width and height in the block header.
bool is_tile_block(const EntryRect& rect, std::span<const uint8_t> payload);

// Whether `stored` (at least one byte) is one LZ4 block that
// LZ4_decompress_safe decodes, consuming all of it, with the capacity `-d`
// gives it, to W x H x k bytes for some k from 1 to 4 (W x H > 0): what
// whole-entry compression makes of an entry whose code it keeps.
bool holds_lz4_image(const EntryRect& rect, std::span<const uint8_t> stored, BufferPool* pool = nullptr);

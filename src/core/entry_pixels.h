// SPDX-License-Identifier: MIT
// An entry's pixels, whichever form it is stored in: the decoding that
// morvane-tool shares with `morvane -d`. classify_entry tells the form;
// the compressed forms are decoded by decompress_entry, and what they decode
// to must be the entry's whole pixel array.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/convert.h"
#include "core/entry_form.h"
#include "pack/pack_format.h"
#include "pack/status.h"

struct EntryPixels {
  EntryForm form = EntryForm::Raw;
  // 1..4; for Jpeg the table's 2.
  int bytes_per_pixel = 0;
  // Rows packed, width x height x bytes_per_pixel bytes; empty for Jpeg.
  std::vector<uint8_t> pixels;
  // The type of the entry's raw form: the type itself for raw pixels, the
  // renumbered-back type for whole-entry LZ4 data, and for type 39 the raw
  // type whose PixelFormat the block names, or else the first of 30, 1, 32
  // and 11 that holds bytes_per_pixel bytes (raw_type_for_pixels).
  uint8_t raw_type = 0;
  // Raw forms after a TileHint: the hint. TiledBlock: the block's tile size
  // (0 x 0 for the untiled "CWAR" form, which keeps none).
  TileHint tile{};
  // The block's PixelFormat code (TiledBlock only).
  int pixel_format = 0;
};

// `payload` is the entry's data after its EntryRect: len - 4 bytes, read in
// the pack's `mode`. The form is classify_entry's (KeptCodes::BySize);
// a raw code with an LZ4 form whose payload is shorter than its pixel array
// is ENTRY_ERR_UNKNOWN too. Returns ok, or ENTRY_ERR_UNKNOWN,
// ENTRY_ERR_CORRUPT or ENTRY_ERR_WRONG_SIZE with its text; never reads
// outside payload. Decodes with `memory` (decompress_entry).
Status entry_pixels(PackMode mode, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload,
                    EntryPixels& out, EntryMemory* memory = nullptr);

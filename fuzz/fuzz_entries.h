// SPDX-License-Identifier: MIT
// For the tool targets: the entries of a pack held in memory, and which of
// them are worth decoding.
//
// Before it decodes an entry, the decompress command sizes a zero-filled
// buffer from the entry's rectangle: 4 x W x H bytes for whole-entry LZ4
// data, W x H x bpp for a tiled block, up to the 16 MiB an entry holds. A
// mutated rectangle is mostly huge, and filling that buffer, once per entry
// and mode, took nearly all of these targets' time. So they decode an entry
// only when its rectangle is within reach of its bytes:
// - whole-entry LZ4 data of n bytes decodes to at most 255 x n bytes (a
//   byte of match length adds at most 255), so a larger W x H can never be
//   its pixel array: decoded, it fails as a small rectangle with too little
//   data does, and the buffer stays under 4 x 255 x n bytes;
// - a tiled block's tiles may share one payload, so its bytes bound little:
//   its image is decoded when it takes at most 1 MiB, many tiles for an
//   input of a few KiB (or more than 16 MiB, which is refused unfilled).
// The one thing left out: the 4 x W x H buffer cut to 16 MiB, which only
// rectangles of over 4 M pixels reach.
#pragma once

#include <cstdint>
#include <span>

#include "pack/pack_format.h"
#include "tile/tile_image.h"

inline constexpr uint64_t FUZZ_LZ4_MAX_RATIO = 255;
inline constexpr uint64_t FUZZ_TILED_DECODE_MAX = uint64_t{1} << 20;

// Calls f(entry, rect, payload) for each table entry whose data (its
// EntryRect, then the payload) lies inside `in`.
template <class F>
void fuzz_for_each_entry(std::span<const uint8_t> in, F f) {
  if (in.size() < PACK_HEADER_SIZE || load_le32(in.data()) != PACK_MAGIC) return;
  const size_t count = load_le16(in.data() + 4);
  for (size_t i = 0; i < count && PACK_HEADER_SIZE + (i + 1) * PACK_ENTRY_SIZE <= in.size(); ++i) {
    const PackEntry e = read_pack_entry(in.data() + PACK_HEADER_SIZE + i * PACK_ENTRY_SIZE);
    if (e.len < ENTRY_RECT_SIZE || uint64_t{e.offset} + e.len > in.size()) continue;
    f(e, read_entry_rect(in.data() + e.offset), in.subspan(e.offset + ENTRY_RECT_SIZE, e.len - ENTRY_RECT_SIZE));
  }
}

// Whether decoding the entry in a pack of that mode fills a buffer its bytes
// can use (see above). Raw pixel arrays always pass: W x H <= n.
inline bool fuzz_worth_decoding(bool tiled, const EntryRect& rect, std::span<const uint8_t> payload) {
  const uint64_t area = uint64_t{rect.width} * rect.height;
  if (!tiled) return area <= FUZZ_LZ4_MAX_RATIO * payload.size();
  if (payload.size() < morvane::detail::TILE_HEADER_SIZE) return true;
  // The buffer is sized before the magic is looked at.
  const morvane::detail::TileImage t = morvane::detail::read_tile_image(payload.data());
  if (t.width != rect.width || t.height != rect.height) return true;
  // Larger than an entry holds: refused before any buffer.
  const uint64_t size = area * t.bytes_per_pixel;
  return size <= FUZZ_TILED_DECODE_MAX || size > PACK_MAX_PAYLOAD;
}

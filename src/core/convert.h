// SPDX-License-Identifier: MIT
// The conversion of one entry, as a function of the bytes that the input
// holds after its EntryRect to the bytes that follow it in the output. No
// file is touched and nothing is printed, so entries may be converted side
// by side and still give the same output.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/buffer_pool.h"
#include "core/tile_jobs.h"
#include "pack/pack_format.h"
#include "pack/status.h"

enum class EntryAction {
  Converted,  // compressed or decompressed
  Copied,     // already compressed data, copied as stored by compression
  Jpeg,       // JPEG data, copied
  Kept,       // could not be converted: kept unchanged
};

struct EntryResult {
  std::vector<uint8_t> data;  // what follows the EntryRect in the output
  uint8_t type = 0;
  EntryAction action = EntryAction::Converted;
  // The payload bytes the entry had: the first number of its progress line.
  uint64_t from_size = 0;
  // Not ok when the run fails for this entry: ENTRY_ERR_KEPT (Kept), or
  // ENTRY_ERR_NOT_A_BLOCK (Copied); the message says why.
  Status status;
};

// What a conversion reuses from entry to entry on the thread it runs on.
// Each member may be absent: buffers are then allocated, tiles coded on the
// calling thread alone.
struct EntryMemory {
  BufferPool* pool = nullptr;         // where result buffers come from
  const JobRunner* jobs = nullptr;    // threads lent to one image's tiles
  std::vector<uint64_t> decoder;      // a tile decoder's memory, this thread's own
  std::vector<uint8_t> band;          // decompress_bands' pixels, this thread's own
};

// How many bytes after the EntryRect each conversion reads: the payload (and
// for tiled sources the TileHint before it; already compressed entries have
// none and are read for their stored len - 4). `stored_len` is the len the
// input's table holds when e.len was recomputed (absent: e.len is the stored
// one); in whole-entry mode an entry of a kept code is read for the larger
// of its pixel array and its stored len - 4, which may be LZ4 data.
uint64_t compress_read_size(const PackEntry& e, PackMode mode, std::optional<uint32_t> stored_len = std::nullopt);
inline uint64_t decompress_read_size(const PackEntry& e) { return payload_len(e); }

// The most bytes a conversion of the entry holds at once: what it reads,
// what it writes and its scratch (as the read sizes, from the table alone).
uint64_t compress_work_bytes(const PackEntry& e, const EntryRect& rect, PackMode mode, uint64_t read_size);
uint64_t decompress_work_bytes(const PackEntry& e, const EntryRect& rect, PackMode mode);

// `data` is what the input holds of the bytes that compress_read_size asked
// for (fewer at the end of the input). An entry that cannot be converted
// comes back Kept, with `data` unchanged and its type kept. Entries of a
// compressed code (CodedAs::Compressed) are copied as stored; so is, in
// whole-entry mode, an entry of a kept code whose stored len - 4 bytes are
// LZ4 data of its image (holds_lz4_image). With `jobs`, the tiles of a large
// image may be coded side by side on memory->jobs; the result is the same.
// The result's buffer comes from memory->pool.
EntryResult compress_entry(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data,
                           PackMode mode, EntryMemory* memory = nullptr,
                           std::optional<uint32_t> stored_len = std::nullopt);

// The room whole-entry LZ4 data of `n` stored bytes decodes into: the
// entry's pixel array at 4 bytes per pixel, never below n, nor above what
// an entry holds or 256 bytes per stored byte.
uint64_t whole_decode_capacity(const EntryRect& rect, uint64_t n);

// `data`: the bytes decompress_read_size asked for. Tiled packs decode every
// entry but JPEG as a tiled block; whole-entry packs as LZ4 data, up to
// W x H x 4 bytes. Tiles decode through a decoder in memory->decoder (one
// of its own without), so entries may decode side by side.
EntryResult decompress_entry(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data, PackMode mode,
                             EntryMemory* memory = nullptr);

// Where decompress_bands hands each band: its offset in the pixel
// array and its bytes, valid until it returns.
using BandSink = std::function<void(uint64_t offset, std::span<const uint8_t> bytes)>;

// What decompress_bands gave: the pixel array's size (0: not decoded this
// way) and the entry's type in the output.
struct BandsOut {
  uint64_t size = 0;
  uint8_t type = 0;
};

// An entry decoded a band at a time and each band handed to `band` in
// order, the same bytes decompress_entry gives: a tiled entry a band of
// rows at a time, so that no buffer holds the whole image; a whole-entry one
// in one band. Small bands are decoded in memory.band, kept for the next
// entry; larger ones in a buffer of memory.pool, given back. Size 0 when the entry is not one
// decompress_entry decodes to pixels or a band does not decode; bands may
// have gone out then, and decompress_entry tells what the entry becomes.
BandsOut decompress_bands(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data, PackMode mode,
                          EntryMemory& memory, const BandSink& band);

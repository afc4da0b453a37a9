// The conversion of one entry, as a function of the bytes that the input
// holds after its EntryRect to the bytes that follow it in the output, with
// the lines it prints. No file is touched here, so entries could be
// converted side by side and still give the same output and lines.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "commands/tile_jobs.h"
#include "pack/pack_format.h"

struct EntryResult {
  std::vector<uint8_t> data;  // what follows the EntryRect in the output
  uint8_t type = 0;
  std::string text;           // lines for standard output, in order
  std::string why;            // when failed: the reason, without the entry's name
  bool failed = false;        // the entry was kept as stored
};

// Raw type -> the type of its whole-entry LZ4 form, and back; other codes
// are returned unchanged.
uint8_t compressed_type(uint8_t type);
uint8_t raw_type(uint8_t type);

// The PixelFormat code of a tiled block for an entry type.
int pixel_format_for_type(uint8_t type);

struct TileSize {
  int32_t tile_width = 0;
  int32_t tile_height = 0;
};
// The tile size for a W x H image whose TileHint asks for TW x TH. Computed
// without overflow; sides never exceed the image's.
TileSize choose_tile_size(uint16_t width, uint16_t height, uint16_t tw, uint16_t th);

// Codes that whole-entry compression leaves unchanged (no row in the type
// table): neither JPEG nor a compressed code nor one of the six raw codes
// with an LZ4 form. Their data may be raw pixels or LZ4 data.
bool keeps_code_when_compressed(uint8_t type);

// How many bytes after the EntryRect each conversion reads: the payload (and
// for tiled sources the TileHint before it; already compressed entries have
// none and are read for their stored len - 4). `stored_len` is the len the
// input's table holds when e.len was recomputed (absent: e.len is the stored
// one); in whole-entry mode an entry of a kept code is read for the larger
// of its pixel array and its stored len - 4, which may be LZ4 data.
uint64_t compress_read_size(const PackEntry& e, bool tiled, std::optional<uint32_t> stored_len = std::nullopt);
inline uint64_t decompress_read_size(const PackEntry& e) { return e.len - uint64_t{4}; }

// `data` is what the input holds of the bytes that compress_read_size asked
// for (fewer at the end of the input). An entry that cannot be converted
// comes back failed, with `data` unchanged and its type kept. Entries of a
// compressed code (is_compressed_type) are copied as stored; so is, in
// whole-entry mode, an entry of a kept code whose stored len - 4 bytes are
// LZ4 data of its image (holds_lz4_image). With `jobs`, the tiles of a large
// image may be coded side by side; the result is the same.
EntryResult compress_entry(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data,
                           bool tiled, uint8_t codec_kind, const JobRunner* jobs = nullptr,
                           std::optional<uint32_t> stored_len = std::nullopt);

// Whether `stored` (at least one byte) is one LZ4 block that
// LZ4_decompress_safe decodes, consuming all of it, with the capacity `-d`
// gives it, to W x H x k bytes for some k from 1 to 4 (W x H > 0): what
// whole-entry compression makes of an entry whose code it keeps.
bool holds_lz4_image(const EntryRect& rect, std::span<const uint8_t> stored);
EntryResult decompress_entry(const PackEntry& e, const EntryRect& rect,
                             std::span<const uint8_t> data, bool tiled);

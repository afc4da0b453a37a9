// SPDX-License-Identifier: MIT
// Builds pack files from a description of their entries, for the tests, the
// samples and the benchmarks, and reads them back for assertions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/pack_format.h"
#include "support/image_gen.h"

struct TestEntry {
  std::string name;  // at most 8 bytes are stored
  uint8_t type = 1;
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<uint8_t> payload;   // the bytes after the EntryRect
  std::optional<uint32_t> len;    // stored len; payload size + 4 when absent
  std::optional<uint32_t> offset; // stored offset; the laid-out one when absent
};

struct TestPack {
  uint8_t tiled_flag = 0;
  uint8_t codec_kind = 0;
  std::array<uint8_t, 7> reserved{};     // header bytes 6-12
  uint8_t last_byte = 0;                 // header byte 15
  std::optional<uint16_t> entry_count;   // the stored count; entries.size() when absent
  std::vector<TestEntry> entries;
};

// An empty pack of the mode that the header's TILED_FLAG and CODEC_KIND tell.
TestPack pack_in_mode(uint8_t tiled_flag, uint8_t codec_kind);

// The pack laid out as the tool writes one: table after the header, entries
// in order, each padded to a multiple of 4.
std::vector<uint8_t> build_pack(const TestPack& pack);

// An image entry of bpp = entry_bytes_per_pixel(type); with a hint, the
// TileHint a tiled source pack carries comes before the pixels.
TestEntry image_entry(const std::string& name, uint8_t type, uint16_t width, uint16_t height,
                      ImageKind kind, uint32_t seed, std::optional<TileHint> hint = std::nullopt);
// A JPEG entry (type 38) whose data begins with "JPEG", width and height.
TestEntry jpeg_entry(const std::string& name, uint16_t width, uint16_t height, size_t size, uint32_t seed);

// A pack as read back: header, entries, rectangles and the bytes after each
// EntryRect (len - 4 of them, or fewer at the end of the file).
struct ParsedPack {
  PackHeader header;
  std::vector<PackEntry> entries;
  std::vector<EntryRect> rects;
  std::vector<std::vector<uint8_t>> payloads;
};
ParsedPack parse_pack(const std::vector<uint8_t>& bytes);

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_file(const std::string& path);
bool file_exists(const std::string& path);

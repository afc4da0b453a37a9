// SPDX-License-Identifier: MIT
// The JSON manifest that `morvane-tool create` builds a pack from and
// `morvane-tool export` writes. docs/manifest.md describes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/pack_format.h"
#include "tool/tool_files.h"

inline constexpr TileHint MANIFEST_DEFAULT_TILE{64, 64};

struct ManifestEntry {
  // The bytes of the 8-byte name field, trailing NULs dropped: "name" in the
  // JSON, or "name_hex" when they are not UTF-8 text without a NUL.
  std::string name;
  uint8_t type = 0;
  // Relative to the manifest's folder; empty: none. "file" in the JSON, or
  // "file_hex" when the bytes are not UTF-8.
  std::string file;
  std::string format;  // empty: the default of the type's bytes per pixel
  std::optional<TileHint> tile;
  // Dithering to the format's narrow channels; absent: the manifest's.
  std::optional<bool> dither;
  // An image without pixels (width or height 0) has no file, only a size;
  // a JPEG entry's size overrides its frame header's.
  std::optional<EntryRect> size;
};

struct Manifest {
  bool tiled = false;
  // CODEC_KIND; "codec" names it ("rle" 1, "lz4" 2, "stored" 3) or gives
  // the byte. When absent: 2 for tiled packs, 0 otherwise.
  uint8_t codec_kind = 0;
  // "dither" at the top: the default of entries that give none.
  bool dither = false;
  std::vector<ManifestEntry> entries;
};

// Lines of faults a failed parse names at most, the last one saying how many
// more there were.
inline constexpr size_t MANIFEST_MAX_FAULTS = 20;

// Reads and checks a manifest: field names, their JSON types and ranges,
// names of at most 8 bytes, known formats whose bytes per pixel match the
// type, fields that do not fit the entry's type, tile sides of 0 in a tiled
// manifest. On failure TOOL_ERR_MANIFEST and one line per fault (at most
// MANIFEST_MAX_FAULTS, joined by "\n"), each naming the entry (its number
// from 1 and its name) and the field; text that is not JSON gives one line.
Status parse_manifest(std::string_view text, Manifest& out);

// Whether create dithers this image entry: its own "dither" or the
// manifest's, where its format keeps fewer than 8 bits of a colour.
bool manifest_dithers(const Manifest& m, const ManifestEntry& e);

// The manifest as JSON text, one entry per line.
std::string manifest_json(const Manifest& m);

// "entry 3 (icon)": for messages, the name as every line prints it
// (tool_display_name).
std::string manifest_entry_label(size_t index, const ManifestEntry& e);

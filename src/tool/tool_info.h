// SPDX-License-Identifier: MIT
// morvane-tool info: what a pack holds, entry by entry, as a table or as
// JSON (schema in docs/tool.md). Reads the header, the table, the rectangles
// and, of each entry, only what its form needs; nothing is decoded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/entry_form.h"
#include "pack/pack_format.h"
#include "tile/tile_image.h"

struct TileBlockInfo {
  morvane::detail::TileImage header;
  uint32_t across = 0;         // tile columns; 1 for the untiled form
  uint32_t down = 0;
  // Tile payload lengths over the TileRefs the block holds; the pixel bytes
  // for the untiled form. Absent when no TileRef could be read.
  std::optional<uint32_t> min_tile_len, max_tile_len;
  uint64_t tile_bytes = 0;     // sum of the payload lengths
};

struct EntryInfo {
  PackEntry entry;
  EntryRect rect;
  // As declared_form tells it; named by entry_form_names' key and column.
  EntryForm form = EntryForm::Raw;
  int bytes_per_pixel = 0;     // 0: none (JPEG) or not known
  uint64_t raw_size = 0;       // bytes_per_pixel x width x height
  std::optional<TileHint> hint;
  std::optional<TileBlockInfo> block;
  std::string error;           // empty for a sound entry
};

struct PackInfo {
  int64_t size = 0;            // bytes in the file
  PackHeader header;
  std::vector<EntryInfo> entries;
};

// 0, or a PACK_ERR_ code with the reason (no line end) in message when the
// pack cannot be loaded. A malformed entry only sets its own error.
int inspect_pack(const std::string& path, PackInfo& info, std::string& message);

std::string info_table(const PackInfo& info);
std::string info_json(const PackInfo& info);
// The same text in parts, in order, as it is made.
void info_json_parts(const PackInfo& info, const std::function<void(std::string_view)>& emit);

// The subcommand with its output streams: 0, or 1 when the pack cannot be
// loaded.
int run_info(const std::string& path, bool json, std::FILE* out, std::FILE* err);

// SPDX-License-Identifier: MIT
// morvane-tool repack: a pack of any form (raw, compressed, or the -d output
// of a tiled pack) as the raw pack that `morvane -c` compresses in another
// mode: its pixels decoded, TILED_FLAG and CODEC_KIND set, TileHints added
// or dropped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "pack/pack_format.h"

struct RepackOptions {
  std::string in, out;
  std::string mode;             // "whole", "rle", "lz4", "stored"; empty: IN's
  std::optional<TileHint> tile;  // every image's TileHint; absent: its own
  std::string types;            // a manifest naming the types 39 lost; empty: none
};

// The modes' names: "whole" (with_whole) and the codec table's, joined as
// tool_word_list joins them with `last`.
std::string repack_mode_names(bool with_whole, std::string_view last);
// The mode's TILED_FLAG and CODEC_KIND; false for an unknown name.
bool parse_repack_mode(std::string_view name, PackMode& mode);
// "W,H" (decimal, each 1..65535); false otherwise.
bool parse_tile_option(std::string_view text, TileHint& out);

// Failures one line each on err, "repack: ..."; the summary on out. 0 when
// OUT was written, 1 when it was not (an entry that cannot be read, an input
// that does not load, OUT being IN), 2 for options that do not fit together.
int run_repack(const RepackOptions& options, std::FILE* out, std::FILE* err);
int tool_repack(const RepackOptions& options);

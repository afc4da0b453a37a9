// SPDX-License-Identifier: MIT
// morvane-tool report PACK OUT.html: one self-contained page (no network, no
// file beside it) that shows every entry: a thumbnail, its sizes, what its
// stored bytes cost against its raw pixels, and for a tiled block the bytes
// of each tile; totals per form and per type.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "pack/pack_format.h"

struct EntryMemory;
struct ManifestEntry;

// The long side of a thumbnail, at most.
inline constexpr uint32_t THUMBNAIL_MAX_SIDE = 128;
// A thumbnail whose long side is at most half this is shown scaled up by
// the largest whole factor (nearest neighbour) that keeps it within this.
inline constexpr uint32_t THUMBNAIL_MIN_SIDE = 64;

struct ReportEntry {
  std::string name;        // as text (tool_display_name), not yet escaped for HTML
  uint8_t type = 0;
  const char* form = "";   // what the data holds: "raw", "tiled block", ...
  // The pixel format the thumbnail was drawn in: --formats' (or its type's
  // default), else the default of the bytes per pixel (assumed for 2, 3
  // and 4 bytes, which other formats share). Empty for JPEG data.
  std::string format;
  bool format_assumed = false;
  int pixel_format = 0;    // a tiled block's PixelFormat code
  const char* codec = "";  // a tiled block's tile codec: "lz4", "rle", or "stored whole"
  EntryRect rect;
  uint64_t stored = 0;     // bytes after the EntryRect, as the table gives them
  uint64_t raw = 0;        // W x H x bytes per pixel; 0 for JPEG data or not known
  std::vector<uint8_t> thumbnail;  // a PNG file, empty when there is none
  uint32_t thumb_width = 0, thumb_height = 0;
  // A tiled block's grid and each tile's payload bytes, row by row; empty
  // for other forms or a grid its TileRefs do not fill.
  uint32_t tiles_across = 0, tiles_down = 0;
  uint16_t tile_width = 0, tile_height = 0;
  std::vector<uint32_t> tile_bytes;
  std::string error;       // empty for an entry that decodes
};

// The thumbnail size of a width x height picture: unchanged when its long
// side is at most THUMBNAIL_MAX_SIDE, else scaled to it, each side at least 1.
void thumbnail_size(uint32_t width, uint32_t height, uint32_t& out_width, uint32_t& out_height);

// Box-filters 8-bit RGBA pixels to out_width x out_height (each at most the
// source's), colours weighted by their alpha.
std::vector<uint8_t> shrink_rgba(std::span<const uint8_t> rgba, uint32_t width, uint32_t height, uint32_t out_width,
                                 uint32_t out_height);

// One entry of a pack read in its `mode`, from the bytes the file
// holds after its EntryRect (fewer than payload_len(e) when the file ends
// early, which is an error). A pure function of its arguments: entries may be
// done side by side. Never reads outside payload. Decodes with `memory`
// (entry_pixels), when given.
// `from`: the entry's record in the --formats manifest, or nullptr.
ReportEntry report_entry(PackMode mode, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload,
                         EntryMemory* memory = nullptr, const ManifestEntry* from = nullptr);

// A count with thousands separated by commas: 28,000.
std::string grouped(uint64_t n);
// stored / raw as a percentage with one decimal, or with as many more (up to
// 4) as tell an entry that differs from its raw size from 100.0%; "-"
// without raw bytes.
std::string ratio_text(uint64_t stored, uint64_t raw);

// The page. title: the pack's name as given on the command line.
std::string report_html(const std::string& title, const PackHeader& header, int64_t size,
                        const std::vector<ReportEntry>& entries);

// The subcommand: 0, or 1 when the pack cannot be loaded, an entry does not
// decode (the page is written and shows it) or OUT cannot be written.
// formats: the manifest the pack was created from, or empty.
int run_report(const std::string& pack_path, const std::string& out_path, std::FILE* out, std::FILE* err,
               const std::string& formats = "");

// SPDX-License-Identifier: MIT
#include "tool/tool_info.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <functional>
#include <nlohmann/json.hpp>
#include <span>

#include "core/entry_form.h"
#include "io/platform.h"
#include "tool/tool_commands.h"
#include "tool/tool_text.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

std::string format(const char* fmt, ...) MORVANE_PRINTF_FORMAT(1, 2);
std::string format(const char* fmt, ...) {
  char line[512];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  return n > 0 ? std::string(line, std::min<size_t>(static_cast<size_t>(n), sizeof line - 1)) : std::string();
}

// The codec table's names (tile_image.h); nullptr for none.
const char* block_codec_name(uint32_t magic) {
  const TileCodec* c = tile_codec_of_magic(magic);
  return c != nullptr ? c->block_name : nullptr;
}

const char* codec_kind_name(uint8_t kind) {
  const TileCodec* c = tile_codec_of_kind(kind);
  return c != nullptr ? c->name : nullptr;
}

std::string magic_text(uint32_t magic) {
  uint8_t b[4];
  store_le32(b, magic);
  return tool_display_name({reinterpret_cast<const char*>(b), 4});
}

void set_error(EntryInfo& x, std::string why) {
  if (x.error.empty()) x.error = std::move(why);
}

// The rule of the block header that the decoder refused, as
// morvane_tile_header_check tells it (rc), in the line's words.
std::string header_fault(const TileImage& t, int32_t rc) {
  switch (rc) {
    case MORVANE_TILE_ERR_HEADER_BPP: return format("block has %u bytes per pixel, not 1 to 4", t.bytes_per_pixel);
    case MORVANE_TILE_ERR_PAYLOAD: return "untiled pixels run past the end of the block";
    case MORVANE_TILE_ERR_HEADER_TILE_SIDE: return "tile side 0";
    case MORVANE_TILE_ERR_HEADER_TILE_BYTES:
      return format("tile of %ux%u pixels larger than 1 MiB", t.tile_width, t.tile_height);
    case MORVANE_TILE_ERR_HEADER_TABLE: return "tile table runs past the end of the block";
    case MORVANE_TILE_ERR_HEADER_GRID: {
      if (t.width == 0 || t.height == 0) return format("empty image with %u tiles", t.tile_count);
      const uint32_t grid = ((uint32_t{t.width} + t.tile_width - 1) / t.tile_width) *
                            ((uint32_t{t.height} + t.tile_height - 1) / t.tile_height);
      return format("tile_count %u, the grid has %u tiles", t.tile_count, grid);
    }
    default: return tile_error_text(rc);
  }
}

// The block's header and TileRef table; `block` is what the file holds of
// it. Whether the header reads is the region decoder's own check
// (morvane_tile_header_check); no tile is decoded.
void inspect_block(std::span<const uint8_t> block, EntryInfo& x) {
  if (block.size() < TILE_HEADER_SIZE) {
    set_error(x, "tiled block shorter than its 16-byte header");
    return;
  }
  TileBlockInfo b;
  b.header = read_tile_image(block.data());
  const TileImage& t = b.header;
  morvane_tile_info checked;
  const int32_t rc = morvane_tile_header_check(
      block.data(), static_cast<int32_t>(std::min<size_t>(block.size(), INT32_MAX)), &checked);
  const bool bpp_ok = t.bytes_per_pixel >= 1 && t.bytes_per_pixel <= 4;
  x.bytes_per_pixel = bpp_ok ? t.bytes_per_pixel : 0;
  x.raw_size = uint64_t{x.rect.width} * x.rect.height * x.bytes_per_pixel;
  if (rc == MORVANE_TILE_ERR_MAGIC) set_error(x, "block names no codec (magic \"" + magic_text(t.magic) + "\")");
  if (t.width != x.rect.width || t.height != x.rect.height)
    set_error(x, format("block is %ux%u, the entry's rectangle %ux%u", t.width, t.height, x.rect.width,
                        x.rect.height));
  if (rc != 0 && rc != MORVANE_TILE_ERR_MAGIC) set_error(x, header_fault(t, rc));

  // The grid and the tile payloads, shown whether or not the header reads.
  if (t.magic == MORVANE_TILE_MAGIC_RAW) {
    const uint64_t pixels = uint64_t{t.width} * t.height * t.bytes_per_pixel;
    b.across = b.down = (t.width != 0 && t.height != 0) ? 1 : 0;
    b.min_tile_len = b.max_tile_len = static_cast<uint32_t>(std::min<uint64_t>(pixels, UINT32_MAX));
    b.tile_bytes = pixels;
  } else if (rc != MORVANE_TILE_ERR_MAGIC) {
    if (t.width != 0 && t.height != 0 && t.tile_width != 0 && t.tile_height != 0) {
      b.across = (uint32_t{t.width} + t.tile_width - 1) / t.tile_width;
      b.down = (uint32_t{t.height} + t.tile_height - 1) / t.tile_height;
    }
    const uint64_t refs = std::min<uint64_t>(t.tile_count, (block.size() - TILE_HEADER_SIZE) / TILE_REF_SIZE);
    for (uint64_t k = 0; k < refs; ++k) {
      TileRef r = read_tile_ref(block.data() + TILE_HEADER_SIZE + k * TILE_REF_SIZE);
      // As the region decoder refuses a tile.
      if (r.len == 0 || r.offset > block.size() || r.len > block.size() - r.offset)
        set_error(x, format("tile %u lies outside the block (offset %u, len %u)", static_cast<unsigned>(k),
                            r.offset, r.len));
      b.min_tile_len = std::min(b.min_tile_len.value_or(UINT32_MAX), r.len);
      b.max_tile_len = std::max(b.max_tile_len.value_or(0), r.len);
      b.tile_bytes += r.len;
    }
  }
  x.block = b;
}

std::string past_end(uint64_t need, uint64_t have) {
  return format("data runs past the end of the file: %llu bytes after the EntryRect, the file holds %llu",
                static_cast<unsigned long long>(need), static_cast<unsigned long long>(have));
}

EntryInfo inspect_entry(PackFile& pf, size_t i, PackMode mode, bool& read_failed) {
  EntryInfo x;
  x.entry = pf.records.entries[i].entry;
  x.rect = pf.records.entries[i].rect;
  const PackEntry& e = x.entry;
  const uint64_t area = uint64_t{x.rect.width} * x.rect.height;
  const std::string& problem = entry_problem(pf.records, i);
  const bool loaded = problem.empty();
  const uint64_t n = loaded ? payload_len(e) : 0;
  const uint64_t pos = entry_payload_pos(e);
  const uint64_t avail = pf.in.available(pos);

  // A tiled pack's entry starts with a TileHint or a block header; at least
  // the hint is read, even past a short payload.
  std::vector<uint8_t> head;
  if (mode.tiled && loaded)
    head = tool_pack_read(pf, pos, std::clamp<uint64_t>(n, TILE_HINT_SIZE, TILE_HEADER_SIZE), read_failed);
  x.form = declared_form(mode, e, x.rect, std::span(head).first(std::min<size_t>(head.size(), n)),
                         loaded ? std::optional<uint64_t>(n) : std::nullopt);
  // JPEG data has no pixel size; a block's is in its own header, read below.
  if (x.form == EntryForm::Jpeg || x.form == EntryForm::TiledBlock) x.bytes_per_pixel = 0;
  else if (x.form == EntryForm::DecodedTiled) x.bytes_per_pixel = area != 0 ? static_cast<int>(n / area) : 0;
  else x.bytes_per_pixel = entry_bytes_per_pixel(e);
  x.raw_size = area * x.bytes_per_pixel;
  if (!loaded) {
    x.error = problem;
    return x;
  }

  switch (x.form) {
    case EntryForm::Raw:
      if (avail < x.raw_size) set_error(x, past_end(x.raw_size, avail));
      break;
    case EntryForm::RawAfterHint:
      if (head.size() >= TILE_HINT_SIZE) x.hint = read_tile_hint(head.data());
      if (avail < TILE_HINT_SIZE + x.raw_size) set_error(x, past_end(TILE_HINT_SIZE + x.raw_size, avail));
      break;
    case EntryForm::TiledBlock:
      if (n > avail) set_error(x, past_end(n, avail));
      inspect_block(tool_pack_read(pf, pos, n, read_failed), x);
      break;
    case EntryForm::Lz4:
    case EntryForm::Jpeg:
    case EntryForm::DecodedTiled:
    case EntryForm::Unknown:
      if (n > avail) set_error(x, past_end(n, avail));
      break;
  }
  return x;
}

}  // namespace

int inspect_pack(const std::string& path, PackInfo& info, std::string& message) {
  PackFile pf;
  if (Status s = tool_pack_load(pf, path, false); !s.ok()) {
    message = s.message;
    return s.code;
  }
  info.size = pf.records.size;
  info.header = pf.records.header;
  const PackMode mode = pack_mode(info.header);
  bool read_failed = false;
  info.entries.clear();
  for (size_t i = 0; i < pf.records.entries.size() && !read_failed; ++i)
    info.entries.push_back(inspect_entry(pf, i, mode, read_failed));
  if (read_failed) {
    message = "read " + path + " failed";
    return PACK_ERR_MALFORMED;
  }
  return 0;
}

namespace {

// Stored payload against the raw pixel array; none for JPEG data or an
// empty image.
std::optional<double> entry_ratio(const EntryInfo& x) {
  if (x.form == EntryForm::Jpeg || x.raw_size == 0 || x.entry.len < ENTRY_RECT_SIZE) return std::nullopt;
  return static_cast<double>(payload_len(x.entry)) / static_cast<double>(x.raw_size);
}

std::string block_line(const TileBlockInfo& b) {
  const TileImage& t = b.header;
  const char* codec = block_codec_name(t.magic);
  std::string line = format("block \"%s\" (%s), %ux%u, ", magic_text(t.magic).c_str(), codec ? codec : "unknown",
                            t.width, t.height);
  if (t.magic == MORVANE_TILE_MAGIC_RAW) {
    line += "untiled";
  } else {
    line += format("%ux%u tiles, tile_count %u", t.tile_width, t.tile_height, t.tile_count);
    if (b.across != 0) line += format(" (%u x %u)", b.across, b.down);
  }
  line += format(", pixel format %u (%u byte%s per pixel)", t.pixel_format, t.bytes_per_pixel,
                 t.bytes_per_pixel == 1 ? "" : "s");
  if (b.min_tile_len)
    line += format(", tile payloads %u to %u bytes", *b.min_tile_len, b.max_tile_len.value_or(0));
  return line;
}

}  // namespace

std::string info_table(const PackInfo& info) {
  const uint8_t flag = info.header.bytes[TILED_FLAG];
  const uint8_t kind = info.header.bytes[CODEC_KIND];
  const char* kind_name = codec_kind_name(kind);
  std::string out = format("%lld bytes, %zu entries, TILED_FLAG %u (%s), CODEC_KIND %u (%s)\n",
                           static_cast<long long>(info.size), info.entries.size(), flag,
                           flag != 0 ? "tiled" : "whole-entry", kind, kind_name ? kind_name : "none");
  if (info.entries.empty()) return out;
  // The name column as wide as the widest name printed, at least 8.
  std::vector<std::string> names;
  size_t width = 8;
  for (const EntryInfo& x : info.entries) {
    names.push_back(tool_display_name(entry_name(x.entry)));
    width = std::max(width, tool_text_columns(names.back()));
  }
  for (std::string& n : names) n.append(width - tool_text_columns(n), ' ');
  out += format("%5s  %s %4s  %-12s %5s %6s %10s %8s %3s %10s %7s\n", "#",
                (std::string("name") + std::string(width - 4, ' ')).c_str(), "type", "kind", "width", "height",
                "offset", "len", "bpp", "raw_size", "ratio");
  for (size_t i = 0; i < info.entries.size(); ++i) {
    const EntryInfo& x = info.entries[i];
    std::optional<double> ratio = entry_ratio(x);
    out += format("%5zu  %s %4u  %-12s %5u %6u %10u %8u %3s %10s %7s\n", i, names[i].c_str(), x.entry.type,
                  entry_form_names(x.form).column,
                  x.rect.width, x.rect.height, x.entry.offset, x.entry.len,
                  x.bytes_per_pixel ? std::to_string(x.bytes_per_pixel).c_str() : "-",
                  x.form != EntryForm::Jpeg ? std::to_string(x.raw_size).c_str() : "-",
                  ratio ? format("%.1f%%", *ratio * 100).c_str() : "-");
    if (x.hint) out += format("%7s tile hint %ux%u\n", "", x.hint->hint_width, x.hint->hint_height);
    if (x.block) out += format("%7s %s\n", "", block_line(*x.block).c_str());
    if (!x.error.empty()) out += format("%7s error: %s\n", "", x.error.c_str());
  }
  return out;
}

namespace {

// One entry as an object of the "entries" array.
nlohmann::ordered_json entry_json(size_t i, const EntryInfo& x) {
  using nlohmann::ordered_json;
  const std::string_view name = entry_name(x.entry);
  std::optional<double> ratio = entry_ratio(x);
  ordered_json j;
  j["index"] = i;
  j["name"] = tool_utf8_name(name);
  j["name_hex"] = tool_hex(name);
  j["type"] = x.entry.type;
  j["kind"] = entry_form_names(x.form).key;
  j["width"] = x.rect.width;
  j["height"] = x.rect.height;
  j["offset"] = x.entry.offset;
  j["len"] = x.entry.len;
  j["bytes_per_pixel"] = x.bytes_per_pixel ? ordered_json(x.bytes_per_pixel) : ordered_json(nullptr);
  j["raw_size"] = x.form != EntryForm::Jpeg ? ordered_json(x.raw_size) : ordered_json(nullptr);
  j["ratio"] = ratio ? ordered_json(*ratio) : ordered_json(nullptr);
  if (x.hint) j["tile_hint"] = {{"width", x.hint->hint_width}, {"height", x.hint->hint_height}};
  if (x.block) {
    const TileBlockInfo& b = *x.block;
    const TileImage& t = b.header;
    const char* codec = block_codec_name(t.magic);
    ordered_json jb;
    jb["magic"] = magic_text(t.magic);
    jb["codec"] = codec ? ordered_json(codec) : ordered_json(nullptr);
    jb["width"] = t.width;
    jb["height"] = t.height;
    jb["tile_width"] = t.tile_width;
    jb["tile_height"] = t.tile_height;
    jb["tiles_across"] = b.across;
    jb["tiles_down"] = b.down;
    jb["tile_count"] = t.tile_count;
    jb["pixel_format"] = t.pixel_format;
    jb["bytes_per_pixel"] = t.bytes_per_pixel;
    jb["min_tile_len"] = b.min_tile_len ? ordered_json(*b.min_tile_len) : ordered_json(nullptr);
    jb["max_tile_len"] = b.max_tile_len ? ordered_json(*b.max_tile_len) : ordered_json(nullptr);
    jb["tile_bytes"] = b.tile_bytes;
    j["block"] = std::move(jb);
  }
  if (!x.error.empty()) j["error"] = x.error;
  return j;
}

// Every string is well-formed UTF-8 already; replace is only a backstop.
std::string dump(const nlohmann::ordered_json& j) {
  return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

void info_json_parts(const PackInfo& info, const std::function<void(std::string_view)>& emit) {
  using nlohmann::ordered_json;
  const uint8_t kind = info.header.bytes[CODEC_KIND];
  const char* kind_name = codec_kind_name(kind);
  ordered_json doc;
  doc["size"] = info.size;
  doc["entry_count"] = info.entries.size();
  doc["tiled"] = info.header.bytes[TILED_FLAG] != 0;
  doc["tiled_flag"] = info.header.bytes[TILED_FLAG];
  doc["codec_kind"] = kind;
  doc["codec"] = kind_name ? ordered_json(kind_name) : ordered_json(nullptr);
  // The document as one dump would write it, an entry at a time: the head
  // without its closing brace, then each entry indented two levels (a dump
  // holds no line break inside a string).
  std::string head = dump(doc);
  head.resize(head.size() - 2);
  if (info.entries.empty()) {
    emit(head + ",\n  \"entries\": []\n}");
    return;
  }
  emit(head + ",\n  \"entries\": [");
  for (size_t i = 0; i < info.entries.size(); ++i) {
    const std::string entry = dump(entry_json(i, info.entries[i]));
    std::string part = i == 0 ? "\n    " : ",\n    ";
    part.reserve(part.size() + entry.size() + entry.size() / 8);
    for (char c : entry) {
      part += c;
      if (c == '\n') part += "    ";
    }
    emit(part);
  }
  emit("\n  ]\n}");
}

std::string info_json(const PackInfo& info) {
  std::string out;
  info_json_parts(info, [&](std::string_view part) { out += part; });
  return out;
}

int run_info(const std::string& path, bool json, std::FILE* out, std::FILE* err) {
  PackInfo info;
  std::string message;
  if (inspect_pack(path, info, message) != 0) return tool_load_failed(err, "info", path, message);
  bool written = true;
  auto emit = [&](std::string_view text) {
    written = written && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  };
  // The JSON is written as it is made, not held whole.
  if (json) {
    info_json_parts(info, emit);
    emit("\n");
  } else {
    emit(info_table(info));
  }
  if (!written || std::fflush(out) != 0) {
    std::fprintf(err, "info: writing the listing failed\n");
    return 1;
  }
  return 0;
}

int tool_info(const std::string& pack_path, bool json) { return run_info(pack_path, json, stdout, stderr); }

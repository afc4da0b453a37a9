// SPDX-License-Identifier: MIT
#include "tool/manifest.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "tile/tile_image.h"
#include "tool/pixel_formats.h"
#include "tool/tool_text.h"

namespace {

using morvane::detail::TILE_CODECS;
using morvane::detail::TileCodec;
using nlohmann::json;
using nlohmann::ordered_json;

// The codec table's names, quoted: "rle", "lz4", "stored".
std::string codec_names() {
  std::vector<std::string> names;
  for (const TileCodec& c : TILE_CODECS) names.push_back(std::string(1, '"').append(c.name).append(1, '"'));
  return tool_word_list(names, ", ");
}

bool from_hex(std::string_view text, std::string& bytes) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (text.size() % 2 != 0) return false;
  bytes.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

bool get_uint(const json& v, uint64_t max, uint64_t& out) {
  if (!v.is_number_integer()) return false;
  if (v.is_number_unsigned()) {
    out = v.get<uint64_t>();
  } else {
    int64_t s = v.get<int64_t>();
    if (s < 0) return false;
    out = static_cast<uint64_t>(s);
  }
  return out <= max;
}

// [w, h], each 0..65535.
bool get_pair(const json& v, uint16_t& a, uint16_t& b) {
  uint64_t x = 0, y = 0;
  if (!v.is_array() || v.size() != 2 || !get_uint(v[0], 65535, x) || !get_uint(v[1], 65535, y)) return false;
  a = static_cast<uint16_t>(x);
  b = static_cast<uint16_t>(y);
  return true;
}

bool name_is_text(std::string_view name) {
  return name.find('\0') == std::string_view::npos && tool_is_utf8(name);
}

// Collects the faults of one entry, each naming its field; checking goes on
// after a fault so that one run names them all.
struct Faults {
  std::vector<std::string>& lines;
  bool add(const std::string& field, const std::string& text) {
    lines.push_back("field \"" + field + "\": " + text);
    return false;
  }
};

// `text` or `hex` (its bytes as hex pairs), one of them: the name's bytes
// or a file name's. False when neither is given or either is bad.
bool text_or_hex(const json& j, const char* text, const char* hex, std::string& out, Faults& f) {
  const bool has_text = j.contains(text), has_hex = j.contains(hex);
  if (has_text) {
    if (!j[text].is_string()) return f.add(text, "not a string");
    out = j[text].get<std::string>();
    if (out.find('\0') != std::string::npos) return f.add(text, "holds a NUL character");
    if (has_hex) return f.add(hex, std::string("give either \"") + text + "\" or \"" + hex + "\", not both");
  } else if (has_hex) {
    if (!j[hex].is_string() || !from_hex(j[hex].get<std::string>(), out))
      return f.add(hex, "not a string of hexadecimal byte pairs");
  }
  return has_text || has_hex;
}

void parse_name(const json& j, ManifestEntry& e, Faults& f) {
  if (!text_or_hex(j, "name", "name_hex", e.name, f)) {
    if (!j.contains("name") && !j.contains("name_hex")) f.add("name", "missing");
    return;
  }
  const bool hex = !j.contains("name");
  if (hex)
    while (!e.name.empty() && e.name.back() == '\0') e.name.pop_back();
  if (e.name.size() > ENTRY_NAME_SIZE)
    f.add(hex ? "name_hex" : "name", std::to_string(e.name.size()) + " bytes long; a name holds at most 8 bytes");
}

// "file" or "file_hex", and "size": which an entry needs depends on its type.
void parse_file_and_size(const json& j, bool jpeg, ManifestEntry& e, Faults& f) {
  const bool named = j.contains("file") || j.contains("file_hex");
  if (named && text_or_hex(j, "file", "file_hex", e.file, f)) {
    if (e.file.empty()) f.add(j.contains("file") ? "file" : "file_hex", "not a file path");
    else if (e.file.find('\0') != std::string::npos) f.add("file_hex", "holds a NUL byte");
  }
  if (j.contains("size")) {
    EntryRect r;
    if (get_pair(j["size"], r.width, r.height)) e.size = r;
    else f.add("size", "not [width, height] from 0 to 65535");
  }
  if (!named) {
    const bool empty_image = !jpeg && e.size && (e.size->width == 0 || e.size->height == 0);
    if (!empty_image) f.add("file", "missing (only an image of width or height 0 has none)");
  } else if (!jpeg && e.size) {
    f.add("size", "an image takes its size from its PNG file");
  }
}

void parse_format(const json& j, bool jpeg, std::optional<uint8_t> type, ManifestEntry& e, Faults& f) {
  if (jpeg) {
    f.add("format", "a JPEG entry (type 38) has no pixel format");
    return;
  }
  if (!j["format"].is_string()) {
    f.add("format", "not a string");
    return;
  }
  e.format = j["format"].get<std::string>();
  const PixelFormatInfo* pf = find_pixel_format(e.format);
  if (pf == nullptr)
    f.add("format", "unknown format \"" + tool_display_name(e.format) + "\" (known: " +
                        std::string(pixel_format_names()) + ")");
  else if (type && pf->bytes != type_bytes_per_pixel(*type))
    f.add("format", e.format + " has " + std::to_string(pf->bytes) + " bytes per pixel, type " +
                        std::to_string(*type) + " holds " + std::to_string(type_bytes_per_pixel(*type)));
}

void parse_tile(const json& j, bool jpeg, bool tiled, ManifestEntry& e, Faults& f) {
  if (jpeg) {
    f.add("tile", "a JPEG entry (type 38) has no tile hint");
    return;
  }
  TileHint h;
  if (!get_pair(j["tile"], h.hint_width, h.hint_height)) {
    f.add("tile", "not [width, height] from 0 to 65535");
    return;
  }
  // morvane -c would cut tiles of no pixels, and keep the entry raw.
  if (tiled && (h.hint_width == 0 || h.hint_height == 0))
    f.add("tile", "a side of 0; a tiled pack's tiles are at least 1 x 1 pixels");
  e.tile = h;
}

void parse_dither(const json& j, bool jpeg, std::optional<uint8_t> type, ManifestEntry& e, Faults& f) {
  if (jpeg) {
    f.add("dither", "a JPEG entry (type 38) has no pixel format to dither to");
    return;
  }
  if (!j["dither"].is_boolean()) {
    f.add("dither", "not true or false");
    return;
  }
  e.dither = j["dither"].get<bool>();
  if (!type) return;
  const PixelFormatInfo* pf =
      e.format.empty() ? default_pixel_format(type_bytes_per_pixel(*type)) : find_pixel_format(e.format);
  if (*e.dither && pf != nullptr && !has_narrow_colour(*pf))
    f.add("dither", std::string(pf->name) + " keeps 8 bits of every colour; nothing to dither");
}

// Checks one entry; every fault found goes to `faults`.
void parse_entry(const json& j, bool tiled, ManifestEntry& e, std::vector<std::string>& faults) {
  Faults f{faults};
  if (!j.is_object()) {
    faults.push_back("not a JSON object");
    return;
  }
  // The name first, so that later messages can show it.
  parse_name(j, e, f);
  for (auto it = j.begin(); it != j.end(); ++it) {
    static const char* const kKnown[] = {"name", "name_hex", "type", "file", "file_hex", "format", "tile", "size",
                                         "dither"};
    bool known = false;
    for (const char* k : kKnown) known = known || it.key() == k;
    if (!known) f.add(tool_display_name(it.key()), "unknown field");
  }
  std::optional<uint8_t> type;
  uint64_t code = 0;
  if (!j.contains("type")) f.add("type", "missing");
  else if (!get_uint(j["type"], 255, code)) f.add("type", "not a type code (an integer from 0 to 255)");
  else type = static_cast<uint8_t>(code);
  e.type = type.value_or(0);
  const bool jpeg = type == TYPE_JPEG;
  parse_file_and_size(j, jpeg, e, f);
  if (j.contains("format")) parse_format(j, jpeg, type, e, f);
  if (j.contains("tile")) parse_tile(j, jpeg, tiled, e, f);
  if (j.contains("dither")) parse_dither(j, jpeg, type, e, f);
}

// The token names the JSON parser puts after "; expected ".
constexpr const char* kExpected[] = {"true literal", "false literal", "null literal", "string literal",
                                     "number literal", "'['", "'{'", "']'", "'}'", "':'", "','",
                                     "end of input", "'[', '{', or a literal"};

// One line for a text that does not parse: what it looks like when it is a
// picture or a pack, else the parser's reason without the bytes it quotes
// ("last read: '...'", "parsing '...'"), since those are the file's own;
// the rest is the parser's own text.
std::string not_json_text(std::string_view text, std::string what) {
  const auto starts = [&](std::string_view magic) { return text.substr(0, magic.size()) == magic; };
  const char* looks = nullptr;
  if (starts("\x89PNG\r\n\x1a\n")) looks = "a PNG picture";
  else if (starts("\xff\xd8\xff")) looks = "a JPEG picture";
  else if (text.size() >= 4 && load_le32(reinterpret_cast<const uint8_t*>(text.data())) == PACK_MAGIC)
    looks = "a pack";
  if (looks != nullptr)
    return std::string("not JSON but ") + looks + "; a manifest is JSON text that lists the pictures of a pack";
  // "[json.exception.parse_error.101] parse error at line 2, column 5: ...";
  // a number too large for a double comes as out_of_range.406.
  size_t start = what.find("] ");
  if (start != std::string::npos) what.erase(0, start + 2);
  const size_t quoted = std::min(what.find("; last read: '"), what.find(" parsing '"));
  if (quoted != std::string::npos) {
    std::string expected;
    const size_t at = what.rfind("'; expected ");
    if (at != std::string::npos && at >= quoted) {
      const std::string name = what.substr(at + 12);
      for (const char* known : kExpected)
        if (name == known) expected = "; expected " + name;
    }
    what = what.substr(0, quoted) + expected;
  }
  return "not valid JSON: " + what;
}

}  // namespace

std::string manifest_entry_label(size_t index, const ManifestEntry& e) {
  return "entry " + std::to_string(index + 1) + " (" + tool_display_name(e.name) + ")";
}

namespace {

// The top level's fields but "entries"; faults added to `faults`.
void parse_top(const json& doc, Manifest& out, std::vector<std::string>& faults) {
  for (auto it = doc.begin(); it != doc.end(); ++it)
    if (it.key() != "tiled" && it.key() != "codec" && it.key() != "entries" && it.key() != "dither")
      faults.push_back("field \"" + tool_display_name(it.key()) + "\": unknown field");
  if (doc.contains("tiled")) {
    if (doc["tiled"].is_boolean()) out.tiled = doc["tiled"].get<bool>();
    else faults.push_back("field \"tiled\": not true or false");
  }
  if (doc.contains("dither")) {
    if (doc["dither"].is_boolean()) out.dither = doc["dither"].get<bool>();
    else faults.push_back("field \"dither\": not true or false");
  }
  out.codec_kind = out.tiled ? 2 : 0;
  if (!doc.contains("codec")) return;
  const json& c = doc["codec"];
  uint64_t kind = 0;
  bool ok = false;
  if (c.is_string()) {
    for (const TileCodec& n : TILE_CODECS) {
      if (c.get<std::string>() == n.name) {
        out.codec_kind = n.kind;
        ok = true;
      }
    }
  } else if (get_uint(c, 255, kind)) {
    out.codec_kind = static_cast<uint8_t>(kind);
    ok = true;
  }
  if (!ok) faults.push_back("field \"codec\": not " + codec_names() + " or a CODEC_KIND byte");
}

// The lines of `faults`, at most MANIFEST_MAX_FAULTS of them.
std::string fault_lines(const std::vector<std::string>& faults) {
  std::string text;
  const size_t shown = faults.size() <= MANIFEST_MAX_FAULTS ? faults.size() : MANIFEST_MAX_FAULTS - 1;
  for (size_t i = 0; i < shown; ++i) text += (i == 0 ? "" : "\n") + faults[i];
  if (shown < faults.size()) text += "\n" + std::to_string(faults.size() - shown) + " more faults not shown";
  return text;
}

}  // namespace

Status parse_manifest(std::string_view text, Manifest& out) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    return {TOOL_ERR_MANIFEST, not_json_text(text, e.what())};
  }
  if (!doc.is_object()) return {TOOL_ERR_MANIFEST, "not a JSON object"};
  out = Manifest{};
  std::vector<std::string> faults;
  parse_top(doc, out, faults);
  if (!doc.contains("entries") || !doc["entries"].is_array()) {
    faults.push_back("field \"entries\": missing or not a list");
  } else if (doc["entries"].size() > 65535) {
    faults.push_back("field \"entries\": " + std::to_string(doc["entries"].size()) +
                     " entries; a pack holds at most 65535");
  } else {
    const json& entries = doc["entries"];
    out.entries.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      std::vector<std::string> why;
      parse_entry(entries[i], out.tiled, out.entries[i], why);
      for (const std::string& w : why) faults.push_back(manifest_entry_label(i, out.entries[i]) + ": " + w);
    }
  }
  if (faults.empty()) return {};
  return {TOOL_ERR_MANIFEST, fault_lines(faults)};
}

bool manifest_dithers(const Manifest& m, const ManifestEntry& e) {
  if (e.type == TYPE_JPEG) return false;
  const PixelFormatInfo* f =
      e.format.empty() ? default_pixel_format(type_bytes_per_pixel(e.type)) : find_pixel_format(e.format);
  return f != nullptr && e.dither.value_or(m.dither) && has_narrow_colour(*f);
}

std::string manifest_json(const Manifest& m) {
  std::string text = "{\n  \"tiled\": ";
  text += m.tiled ? "true" : "false";
  ordered_json codec = m.codec_kind;
  if (const TileCodec* c = morvane::detail::tile_codec_of_kind(m.codec_kind)) codec = c->name;
  if (m.tiled || m.codec_kind != 0) text += ",\n  \"codec\": " + codec.dump();
  text += ",\n  \"entries\": [";
  for (size_t i = 0; i < m.entries.size(); ++i) {
    const ManifestEntry& e = m.entries[i];
    ordered_json j;
    if (name_is_text(e.name)) j["name"] = e.name;
    else j["name_hex"] = tool_hex(e.name);
    j["type"] = e.type;
    if (tool_is_utf8(e.file)) {
      if (!e.file.empty()) j["file"] = e.file;
    } else {
      j["file_hex"] = tool_hex(e.file);
    }
    if (!e.format.empty()) j["format"] = e.format;
    if (e.tile) j["tile"] = {e.tile->hint_width, e.tile->hint_height};
    if (e.size) j["size"] = {e.size->width, e.size->height};
    text += i == 0 ? "\n    " : ",\n    ";
    // Names and file names are UTF-8 or in hex; replace guards the rest.
    text += j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
  }
  text += m.entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return text;
}

// SPDX-License-Identifier: MIT
#include "tool/manifest.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "tool/export_files.h"
#include "tool/pixel_formats.h"
#include "tool/tool_text.h"

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

struct CodecName {
  const char* name;
  uint8_t kind;
};
constexpr CodecName kCodecs[] = {{"rle", 1}, {"lz4", 2}, {"stored", 3}};

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

// Checks one entry; false with `why` naming the field.
bool parse_entry(const json& j, ManifestEntry& e, std::string& why) {
  auto fail = [&](const char* field, const std::string& text) {
    why = std::string("field \"") + field + "\": " + text;
    return false;
  };
  if (!j.is_object()) {
    why = "not a JSON object";
    return false;
  }
  // The name first, so that later messages can show it.
  const bool has_name = j.contains("name"), has_hex = j.contains("name_hex");
  if (has_name) {
    if (!j["name"].is_string()) return fail("name", "not a string");
    e.name = j["name"].get<std::string>();
    if (e.name.find('\0') != std::string::npos) return fail("name", "holds a NUL character");
    if (has_hex) return fail("name_hex", "give either \"name\" or \"name_hex\", not both");
  } else if (has_hex) {
    if (!j["name_hex"].is_string() || !from_hex(j["name_hex"].get<std::string>(), e.name))
      return fail("name_hex", "not a string of hexadecimal byte pairs");
    while (!e.name.empty() && e.name.back() == '\0') e.name.pop_back();
  } else {
    return fail("name", "missing");
  }
  if (e.name.size() > ENTRY_NAME_SIZE)
    return fail(has_hex ? "name_hex" : "name",
                std::to_string(e.name.size()) + " bytes long; a name holds at most 8 bytes");

  for (auto it = j.begin(); it != j.end(); ++it) {
    static const char* const kKnown[] = {"name", "name_hex", "type", "file", "format", "tile", "size", "dither"};
    bool known = false;
    for (const char* k : kKnown) known = known || it.key() == k;
    if (!known) return fail(tool_display_name(it.key()).c_str(), "unknown field");
  }
  if (!j.contains("type")) return fail("type", "missing");
  uint64_t type = 0;
  if (!get_uint(j["type"], 255, type)) return fail("type", "not a type code (an integer from 0 to 255)");
  e.type = static_cast<uint8_t>(type);
  const bool jpeg = e.type == TYPE_JPEG;

  if (j.contains("file")) {
    if (!j["file"].is_string() || j["file"].get<std::string>().empty()) return fail("file", "not a file path");
    e.file = j["file"].get<std::string>();
  }
  if (j.contains("size")) {
    EntryRect r;
    if (!get_pair(j["size"], r.width, r.height)) return fail("size", "not [width, height] from 0 to 65535");
    e.size = r;
  }
  if (e.file.empty()) {
    const bool empty_image = !jpeg && e.size && (e.size->width == 0 || e.size->height == 0);
    if (!empty_image) return fail("file", "missing (only an image of width or height 0 has none)");
  } else if (!jpeg && e.size) {
    return fail("size", "an image takes its size from its PNG file");
  }
  if (j.contains("format")) {
    if (jpeg) return fail("format", "a JPEG entry (type 38) has no pixel format");
    if (!j["format"].is_string()) return fail("format", "not a string");
    e.format = j["format"].get<std::string>();
    const PixelFormatInfo* f = find_pixel_format(e.format);
    if (f == nullptr)
      return fail("format", "unknown format \"" + tool_display_name(e.format) + "\" (known: " +
                                std::string(pixel_format_names()) + ")");
    if (f->bytes != type_bytes_per_pixel(e.type))
      return fail("format", e.format + " has " + std::to_string(f->bytes) + " bytes per pixel, type " +
                                std::to_string(type) + " holds " + std::to_string(type_bytes_per_pixel(e.type)));
  }
  if (j.contains("tile")) {
    if (jpeg) return fail("tile", "a JPEG entry (type 38) has no tile hint");
    TileHint h;
    if (!get_pair(j["tile"], h.hint_width, h.hint_height))
      return fail("tile", "not [width, height] from 0 to 65535");
    e.tile = h;
  }
  if (j.contains("dither")) {
    if (jpeg) return fail("dither", "a JPEG entry (type 38) has no pixel format to dither to");
    if (!j["dither"].is_boolean()) return fail("dither", "not true or false");
    e.dither = j["dither"].get<bool>();
    const PixelFormatInfo* f = e.format.empty() ? default_pixel_format(type_bytes_per_pixel(e.type))
                                                : find_pixel_format(e.format);
    if (*e.dither && !has_narrow_colour(*f))
      return fail("dither", std::string(f->name) + " keeps 8 bits of every colour; nothing to dither");
  }
  return true;
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
  return "entry " + std::to_string(index + 1) + " (" + escape_entry_name(e.name) + ")";
}

bool parse_manifest(std::string_view text, Manifest& out, std::string& error) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    error = not_json_text(text, e.what());
    return false;
  }
  if (!doc.is_object()) {
    error = "not a JSON object";
    return false;
  }
  out = Manifest{};
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    if (it.key() != "tiled" && it.key() != "codec" && it.key() != "entries" && it.key() != "dither") {
      error = "field \"" + tool_display_name(it.key()) + "\": unknown field";
      return false;
    }
  }
  if (doc.contains("tiled")) {
    if (!doc["tiled"].is_boolean()) {
      error = "field \"tiled\": not true or false";
      return false;
    }
    out.tiled = doc["tiled"].get<bool>();
  }
  out.codec_kind = out.tiled ? 2 : 0;
  if (doc.contains("codec")) {
    const json& c = doc["codec"];
    uint64_t kind = 0;
    bool ok = false;
    if (c.is_string()) {
      for (const CodecName& n : kCodecs) {
        if (c.get<std::string>() == n.name) {
          out.codec_kind = n.kind;
          ok = true;
        }
      }
    } else if (get_uint(c, 255, kind)) {
      out.codec_kind = static_cast<uint8_t>(kind);
      ok = true;
    }
    if (!ok) {
      error = "field \"codec\": not \"rle\", \"lz4\", \"stored\" or a CODEC_KIND byte";
      return false;
    }
  }
  if (doc.contains("dither")) {
    if (!doc["dither"].is_boolean()) {
      error = "field \"dither\": not true or false";
      return false;
    }
    out.dither = doc["dither"].get<bool>();
  }
  if (!doc.contains("entries") || !doc["entries"].is_array()) {
    error = "field \"entries\": missing or not a list";
    return false;
  }
  const json& entries = doc["entries"];
  if (entries.size() > 65535) {
    error = "field \"entries\": " + std::to_string(entries.size()) + " entries; a pack holds at most 65535";
    return false;
  }
  out.entries.resize(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    std::string why;
    if (!parse_entry(entries[i], out.entries[i], why)) {
      error = manifest_entry_label(i, out.entries[i]) + ": " + why;
      return false;
    }
  }
  return true;
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
  for (const CodecName& n : kCodecs)
    if (n.kind == m.codec_kind) codec = n.name;
  if (m.tiled || m.codec_kind != 0) text += ",\n  \"codec\": " + codec.dump();
  text += ",\n  \"entries\": [";
  for (size_t i = 0; i < m.entries.size(); ++i) {
    const ManifestEntry& e = m.entries[i];
    ordered_json j;
    if (name_is_text(e.name)) j["name"] = e.name;
    else j["name_hex"] = tool_hex(e.name);
    j["type"] = e.type;
    if (!e.file.empty()) j["file"] = e.file;
    if (!e.format.empty()) j["format"] = e.format;
    if (e.tile) j["tile"] = {e.tile->hint_width, e.tile->hint_height};
    if (e.size) j["size"] = {e.size->width, e.size->height};
    text += i == 0 ? "\n    " : ",\n    ";
    // File names are valid UTF-8 by escape_entry_name; replace guards the rest.
    text += j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
  }
  text += m.entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return text;
}

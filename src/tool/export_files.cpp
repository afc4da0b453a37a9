// SPDX-License-Identifier: MIT
#include "tool/export_files.h"

#include <cerrno>
#include <cstring>

#include "tool/tool_text.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

void append_escape(std::string& out, uint8_t b) {
  out += '%';
  out += kHex[b >> 4];
  out += kHex[b & 15];
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string failure_text(const char* what, const std::string& name, const Status& s) {
  return std::string(what) + " " + name + ": " + s.message;
}

// Characters Windows refuses in a file name ('/' and controls are escaped
// on every system anyway).
bool windows_forbidden(uint8_t b) {
  return b == '<' || b == '>' || b == ':' || b == '"' || b == '\\' || b == '|' || b == '?' || b == '*';
}

// Windows opens a device for these names, with any extension and with
// spaces before it ("con.png", "LPT1 .jpg"): the part before the first dot,
// trailing spaces dropped, compared without case.
bool windows_reserved(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string up;
  for (char c : base) up += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  if (up == "CON" || up == "PRN" || up == "AUX" || up == "NUL") return true;
  return up.size() == 4 && (up.starts_with("COM") || up.starts_with("LPT")) && up[3] >= '1' && up[3] <= '9';
}

// The upper-case form of a letter, for the scripts whose case a
// case-insensitive file system folds and names commonly use: ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic. Anything else is kept.
char32_t fold_case(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~1u;
  if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && c % 2 == 0) return c - 1;
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if (c >= 0x3B1 && c <= 0x3C9) return c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

// The key under which a case-insensitive file system knows a file name:
// two names with one key are one file there. File names are well-formed
// UTF-8 (escape_entry_name sees to it).
std::string case_key(std::string_view file) {
  std::string key;
  for (size_t i = 0; i < file.size();) {
    const size_t n = tool_utf8_sequence(file, i);
    if (n <= 1) {
      const char c = file[i];
      key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
      ++i;
      continue;
    }
    const auto b = [&](size_t k) { return static_cast<char32_t>(static_cast<uint8_t>(file[i + k])); };
    char32_t c = n == 2 ? (b(0) & 0x1F) << 6 | (b(1) & 0x3F)
               : n == 3 ? (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F)
                        : (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
    c = fold_case(c);
    // Written back as a code point number: keys are only compared.
    key += "\\u" + std::to_string(static_cast<uint32_t>(c)) + ";";
    i += n;
  }
  return key;
}

}  // namespace

std::string escape_entry_name(std::string_view name) {
  name = name.substr(0, name.find('\0'));
  if (name.empty()) return "%00";
  if (name == ".") return "%2E";
  if (name == "..") return "%2E%2E";
  std::string out;
  // A device name on Windows: its first character escaped ("%43ON").
  if (windows_reserved(name)) {
    append_escape(out, static_cast<uint8_t>(name[0]));
    name.remove_prefix(1);
  }
  for (size_t i = 0; i < name.size();) {
    const uint8_t b = static_cast<uint8_t>(name[i]);
    size_t n = tool_utf8_sequence(name, i);
    // C1 controls (U+0080..U+009F) are C2 80..C2 9F.
    const bool c1 = n == 2 && b == 0xC2 && static_cast<uint8_t>(name[i + 1]) < 0xA0;
    if (n == 0 || c1 || b < 0x20 || b == 0x7F || b == '%' || b == '/' || windows_forbidden(b)) {
      append_escape(out, b);
      ++i;
    } else {
      out.append(name, i, n);
      i += n;
    }
  }
  return out;
}

bool unescape_entry_name(std::string_view stem, std::string& name) {
  size_t repeat = stem.find("%-");
  if (repeat != std::string_view::npos) {
    std::string_view count = stem.substr(repeat + 2);
    if (count.empty() || count[0] == '0' || count.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    stem = stem.substr(0, repeat);
  }
  if (stem == "%00") {
    name.clear();
    return true;
  }
  std::string out;
  for (size_t i = 0; i < stem.size(); ++i) {
    if (stem[i] != '%') {
      out += stem[i];
      continue;
    }
    if (i + 2 >= stem.size()) return false;
    const int hi = hex_value(stem[i + 1]), lo = hex_value(stem[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  // Only the stems that escaping gives are accepted back.
  if (out.find('\0') != std::string::npos || escape_entry_name(out) != stem) return false;
  name = std::move(out);
  return true;
}

std::string ExportNames::take(std::string_view name, std::string_view extension) {
  const std::string stem = escape_entry_name(name);
  const std::string plain = stem + std::string(extension);
  // Names that differ only in case are one file on Windows and on any
  // case-insensitive file system: taken once, whatever the system.
  const std::string plain_key = case_key(plain);
  if (used_.insert(plain_key).second) return plain;
  // Counted per file name, so a pack of one name repeated 65535 times
  // costs no more than 65535 different names.
  unsigned& n = repeats_[plain_key];
  if (n < 2) n = 2;
  std::string file;
  do {
    file = stem + "%-" + std::to_string(n++) + std::string(extension);
  } while (!used_.insert(case_key(file)).second);
  return file;
}

Status ExportDir::open(const std::string& path) {
  bool created = false;
  Status s = folder_.open(path, created);
  if (!s.ok()) s.message = failure_text(created ? "cannot open folder" : "cannot create", path, s);
  return s;
}

Status ExportDir::write_file(const std::string& name, std::span<const uint8_t> bytes) {
  if (!folder_.is_open() || name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos)
    return {TOOL_ERR_NAME, "refused to write " + name + ": not a file name inside the export folder"};
  std::string temp;
  Status s = errno_status(EEXIST);
  bool created = false;
  for (int attempt = 0; attempt < 100 && !created && s.code == EEXIST; ++attempt) {
    temp = ".morvane-" + std::to_string(process_id()) + "-" + std::to_string(counter_++) + ".tmp";
    s = folder_.create_new(temp, bytes, created);
  }
  if (!created) {
    s.message = failure_text("cannot create a file for", name, s);
    return s;
  }
  if (s.ok()) s = folder_.rename(temp, name);
  if (!s.ok()) {
    folder_.remove(temp);
    s.message = failure_text("cannot write", name, s);
  }
  return s;
}

bool ExportDir::file_id(const std::string& name, FileId& out) const { return folder_.file_id(name, out); }

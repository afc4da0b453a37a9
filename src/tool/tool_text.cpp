// SPDX-License-Identifier: MIT
#include "tool/tool_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

void append_hex_byte(std::string& out, uint8_t v) {
  static const char digits[] = "0123456789abcdef";
  out += digits[v >> 4];
  out += digits[v & 15];
}

}  // namespace

size_t tool_utf8_sequence(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t c = b(i);
  if (c < 0x80) return 1;
  size_t len;
  uint8_t lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() - i < len) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return len;
}

Status tool_pack_load(PackFile& pf, const std::string& path, bool recompute_len) {
  Status s = open_pack(pf, path.c_str(), {.recompute_len = recompute_len, .keep_bad_entries = true});
  // Why, as morvane explains it, rather than morvane's fixed line.
  if (s.code == PACK_ERR_OPEN) {
    s.message = path + ": " + pf.open_failure.message;
    if (pf.open_failure.code == EISDIR)
      s.message += "; a pack is one file, made with morvane-tool create MANIFEST PACK";
  } else if (s.code == PACK_ERR_NOT_PACK) {
    s.message = path + ": " + pf.records.not_a_pack +
                "; packs are made from PNG and JPEG files with morvane-tool create MANIFEST PACK";
  }
  return s;
}

int tool_load_failed(std::FILE* err, const char* command, const std::string& path, const std::string& message) {
  // Some of the loader's lines name the file, some do not.
  const std::string line = message.find(path) == std::string::npos ? path + ": " + message : message;
  std::fprintf(err, "%s: %s\n", command, tool_display_name(line).c_str());
  return 1;
}

std::vector<uint8_t> tool_pack_read(PackFile& pf, uint64_t pos, uint64_t size, bool& read_failed) {
  std::vector<uint8_t> data;
  if (!pf.in.read_range(pos, size, data)) read_failed = true;
  return data;
}

bool tool_is_utf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    size_t n = tool_utf8_sequence(bytes, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

size_t tool_text_columns(std::string_view text) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size(); ++columns) i += std::max<size_t>(tool_utf8_sequence(text, i), 1);
  return columns;
}

std::string tool_display_name(std::string_view bytes) { return printable_text(bytes); }

std::string tool_utf8_name(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    size_t n = tool_utf8_sequence(bytes, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      i += 1;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string tool_hex(std::string_view bytes) {
  std::string out;
  for (char c : bytes) append_hex_byte(out, static_cast<uint8_t>(c));
  return out;
}

std::string tool_word_list(const std::vector<std::string>& words, std::string_view last) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? last : ", ";
    text += words[i];
  }
  return text;
}

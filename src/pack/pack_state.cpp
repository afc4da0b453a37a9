#include "pack/pack_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Where the loading's failure lines go: standard output (morvane's own
// messages), or a string for callers that print in their own way.
struct LoadLog {
  std::string* message = nullptr;
  std::vector<std::string>* entry_problems = nullptr;
};

void say_line(const LoadLog& log, bool explained, const char* fmt, va_list ap) {
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, ap2);
  va_end(ap2);
  if (log.message == nullptr) std::fputs(text.c_str(), stdout);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (log.message != nullptr) {
    *log.message = std::move(text);
  } else if (explained) {
    explain("%s", text.c_str());
  }
}

// Formats one line; fmt ends with "\n", which a captured message drops.
void say(const LoadLog& log, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void say(const LoadLog& log, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  say_line(log, false, fmt, ap);
  va_end(ap);
}

// A malformed pack: the line says why, so standard error gets it too.
void refuse(const LoadLog& log, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void refuse(const LoadLog& log, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  say_line(log, true, fmt, ap);
  va_end(ap);
}

int load_input(PackState& st, const char* in_path, bool recompute_len, const LoadLog& log) {
  if (!st.in_file.open(in_path)) {
    say(log, "open %s failed\n", in_path);
    if (log.message == nullptr) {
      explain("%s: %s", in_path, std::strerror(st.in_file.error));
      if (st.in_file.error == EISDIR) explain("a pack is one file, made with morvane-tool create MANIFEST PACK");
    }
    return PACK_ERR_OPEN;
  }
  st.in_size = st.in_file.size;

  uint8_t raw[PACK_HEADER_SIZE] = {};
  size_t got = st.in_file.read_at(0, raw);
  if (got < 4 || load_le32(raw) != PACK_MAGIC) {
    say(log, "check magic failed\n");
    if (log.message == nullptr) {
      explain("%s: %s", in_path, not_a_pack_reason({raw, got}, st.in_size).c_str());
      explain("packs are made from PNG and JPEG files with morvane-tool create MANIFEST PACK");
    }
    return PACK_ERR_NOT_PACK;
  }
  if (st.in_size > PACK_MAX_FILE_SIZE) {
    refuse(log, "%s: too large for a pack (%lld bytes, at most %lld)\n", in_path,
             static_cast<long long>(st.in_size), static_cast<long long>(PACK_MAX_FILE_SIZE));
    return PACK_ERR_MALFORMED;
  }
  if (got < PACK_HEADER_SIZE) {
    refuse(log, "truncated pack: %s holds %d bytes, less than the 16-byte header\n", in_path,
             static_cast<int>(st.in_size));
    return PACK_ERR_MALFORMED;
  }
  std::copy(raw, raw + PACK_HEADER_SIZE, st.header.bytes.begin());
  st.header_loaded = true;

  const uint32_t count = pack_entry_count(st.header);
  const uint64_t table_size = uint64_t{count} * PACK_ENTRY_SIZE;
  if (PACK_HEADER_SIZE + table_size > static_cast<uint64_t>(st.in_size)) {
    refuse(log, "truncated pack: the table of %u entries runs past the end of %s\n", count, in_path);
    return PACK_ERR_MALFORMED;
  }
  std::vector<uint8_t> table(table_size);
  if (st.in_file.read_at(PACK_HEADER_SIZE, table) != table.size()) {
    refuse(log, "read %s failed\n", in_path);
    return PACK_ERR_MALFORMED;
  }
  st.entries.resize(count);
  st.stored_lens.resize(count);
  st.rects.resize(count);
  if (log.entry_problems != nullptr) log.entry_problems->assign(count, std::string());
  for (uint32_t i = 0; i < count; ++i) {
    PackEntry& e = st.entries[i];
    e = read_pack_entry(table.data() + size_t{i} * PACK_ENTRY_SIZE);
    st.stored_lens[i] = e.len;
    uint8_t rect[ENTRY_RECT_SIZE];
    if (st.in_file.read_at(e.offset, rect) != sizeof rect) {
      if (log.entry_problems != nullptr && !st.in_file.read_error) {
        (*log.entry_problems)[i] = "its EntryRect at offset " + std::to_string(e.offset) +
                                   " lies past the end of the file";
        continue;
      }
      refuse(log, "truncated pack: entry %s at offset %u lies past the end of %s\n",
          entry_name_text(e).text, e.offset, in_path);
      return PACK_ERR_MALFORMED;
    }
    st.rects[i] = read_entry_rect(rect);
    // JPEG and compressed data have no size but their stored one.
    if (recompute_len && e.type != TYPE_JPEG && !is_compressed_type(e.type)) {
      // Never wrapped: a length the 24-bit field cannot hold stays visible
      // as such, for the command to refuse.
      uint64_t len = uint64_t(entry_bytes_per_pixel(e)) * st.rects[i].width * st.rects[i].height +
                     ENTRY_RECT_SIZE;
      e.len = len > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(len);
    } else if (e.len < ENTRY_RECT_SIZE) {
      if (log.entry_problems != nullptr) {
        (*log.entry_problems)[i] = "its length " + std::to_string(e.len) +
                                   " is less than its 4-byte rectangle";
        continue;
      }
      refuse(log, "bad pack: entry %s has length %u, less than its 4-byte rectangle\n",
          entry_name_text(e).text, e.len);
      return PACK_ERR_MALFORMED;
    }
  }
  if (st.in_file.read_error) {
    refuse(log, "read %s failed\n", in_path);
    return PACK_ERR_MALFORMED;
  }
  return PACK_OK;
}

}  // namespace

int pack_open(PackState& st, const char* in_path, const char* out_path, bool recompute_len) {
  if (in_path != nullptr) {
    int rc = load_input(st, in_path, recompute_len, LoadLog{});
    if (rc != PACK_OK) return rc;
  }
  // Only now, with the input loaded: a bad input never creates or empties
  // the output.
  return out_path != nullptr ? pack_open_output(st, out_path) : PACK_OK;
}

int pack_open_output(PackState& st, const char* out_path) {
  if (!st.out_file.open(out_path, OutputLinks::Follow, st.side_file)) {
    std::printf("open %s failed\n", out_path);
    explain("%s: %s", out_path, std::strerror(st.out_file.error()));
    return PACK_ERR_OPEN;
  }
  return PACK_OK;
}

int pack_load(PackState& st, const char* in_path, bool recompute_len, std::string& message,
              std::vector<std::string>* entry_problems) {
  message.clear();
  return load_input(st, in_path, recompute_len, LoadLog{&message, entry_problems});
}

void explain(const char* fmt, ...) {
  static int lines = 0;
  if (lines >= MAX_EXPLAIN_LINES) return;
  ++lines;
  char text[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  std::fprintf(stderr, "morvane: %s\n", text);
}

std::string not_a_pack_reason(std::span<const uint8_t> head, int64_t size) {
  static const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  static const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF};
  auto starts_with = [&](std::span<const uint8_t> magic) {
    return head.size() >= magic.size() && std::equal(magic.begin(), magic.end(), head.begin());
  };
  if (size == 0) return "not a pack: the file is empty";
  if (starts_with(png)) return "not a pack: it looks like a PNG image";
  if (starts_with(jpeg)) return "not a pack: it looks like a JPEG image";
  return "not a pack: it does not start with the pack magic \"RES\" 0x19";
}

int pack_close(PackState& st) {
  if (st.out_size != 0) {
    std::printf("file size: %d -> %d\n", static_cast<int>(st.in_size), static_cast<int>(st.out_size));
  } else {
    std::printf("file size: %d\n", static_cast<int>(st.in_size));
  }
  st.rects.clear();
  st.entries.clear();
  st.header_loaded = false;
  st.in_file.close();
  st.out_file.discard();
  std::fflush(stdout);
  return 0;
}

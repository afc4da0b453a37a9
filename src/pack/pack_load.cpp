// SPDX-License-Identifier: MIT
#include "pack/pack_load.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  va_list ap, ap2;
  va_start(ap, fmt);
  va_copy(ap2, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, ap2);
  va_end(ap2);
  va_end(ap);
  return text;
}

Status malformed(std::string why) { return {PACK_ERR_MALFORMED, std::move(why)}; }

// Entry i's record and rectangle; a bad one kept with its problem when the
// options say so.
Status load_entry(const PackReadAt& read_at, const uint8_t* record, const char* path, const PackLoadOptions& options,
                  PackRecords& out, uint32_t i) {
  EntryRecord& r = out.entries[i];
  PackEntry& e = r.entry;
  e = read_pack_entry(record);
  r.stored_len = e.len;
  uint8_t rect[ENTRY_RECT_SIZE];
  bool rect_failed = false;
  if (read_at(e.offset, rect, rect_failed) != sizeof rect) {
    if (options.keep_bad_entries && !rect_failed) {
      out.problems.push_back({i, "its EntryRect at offset " + std::to_string(e.offset) + " lies past the end of the file"});
      return {};
    }
    return malformed(format("truncated pack: entry %s at offset %u lies past the end of %s",
                            entry_name_text(e).text, e.offset, path));
  }
  r.rect = read_entry_rect(rect);
  // JPEG and compressed data have no size but their stored one.
  if (options.recompute_len && is_raw_type(e.type)) {
    // Never wrapped: a length the 24-bit field cannot hold stays visible
    // as such, for the command to refuse.
    const uint64_t len =
        uint64_t(entry_bytes_per_pixel(e)) * r.rect.width * r.rect.height + ENTRY_RECT_SIZE;
    e.len = len > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(len);
  } else if (e.len < ENTRY_RECT_SIZE) {
    if (options.keep_bad_entries) {
      out.problems.push_back({i, "its length " + std::to_string(e.len) + " is less than its 4-byte rectangle"});
      return {};
    }
    return malformed(
        format("bad pack: entry %s has length %u, less than its 4-byte rectangle", entry_name_text(e).text, e.len));
  }
  return {};
}

}  // namespace

Status load_pack_records(const PackReadAt& read_at, int64_t size, const char* path, const PackLoadOptions& options,
                         PackRecords& out) {
  out = PackRecords{};
  out.size = size;
  bool failed = false;

  uint8_t raw[PACK_HEADER_SIZE] = {};
  const size_t got = read_at(0, raw, failed);
  if (got < 4 || load_le32(raw) != PACK_MAGIC) {
    out.not_a_pack = not_a_pack_reason({raw, got}, size);
    return {PACK_ERR_NOT_PACK, "check magic failed"};
  }
  if (size > PACK_MAX_FILE_SIZE)
    return malformed(format("%s: too large for a pack (%lld bytes, at most %lld)", path, static_cast<long long>(size),
                            static_cast<long long>(PACK_MAX_FILE_SIZE)));
  if (got < PACK_HEADER_SIZE)
    return malformed(format("truncated pack: %s holds %d bytes, less than the 16-byte header", path,
                            static_cast<int>(size)));
  std::copy(raw, raw + PACK_HEADER_SIZE, out.header.bytes.begin());

  const uint32_t count = pack_entry_count(out.header);
  const uint64_t table_size = uint64_t{count} * PACK_ENTRY_SIZE;
  if (PACK_HEADER_SIZE + table_size > static_cast<uint64_t>(size))
    return malformed(format("truncated pack: the table of %u entries runs past the end of %s", count, path));
  std::vector<uint8_t> table(table_size);
  if (read_at(PACK_HEADER_SIZE, table, failed) != table.size()) return malformed(format("read %s failed", path));
  out.entries.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = table.data() + size_t{i} * PACK_ENTRY_SIZE;
    if (Status st = load_entry(read_at, record, path, options, out, i); !st.ok()) return st;
  }
  return {};
}

const std::string& entry_problem(const PackRecords& records, size_t i) {
  static const std::string none;
  // In table order, as the load found them.
  auto it = std::lower_bound(records.problems.begin(), records.problems.end(), i,
                             [](const EntryProblem& p, size_t index) { return p.index < index; });
  return it != records.problems.end() && it->index == i ? it->text : none;
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

#include "pack/pack_state.h"

#include <algorithm>
#include <cstdio>

namespace {

int load_input(PackState& st, const char* in_path, bool recompute_len) {
  if (!st.in_file.open(in_path)) {
    std::printf("open %s failed\n", in_path);
    return PACK_ERR_OPEN;
  }
  st.in_size = st.in_file.size;

  uint8_t raw[PACK_HEADER_SIZE] = {};
  size_t got = st.in_file.read_at(0, raw);
  if (got < 4 || load_le32(raw) != PACK_MAGIC) {
    std::printf("check magic failed\n");
    return PACK_ERR_NOT_PACK;
  }
  if (st.in_size > PACK_MAX_FILE_SIZE) {
    std::printf("%s: too large for a pack (%lld bytes, at most %lld)\n", in_path,
                static_cast<long long>(st.in_size), static_cast<long long>(PACK_MAX_FILE_SIZE));
    return PACK_ERR_MALFORMED;
  }
  if (got < PACK_HEADER_SIZE) {
    std::printf("truncated pack: %s holds %d bytes, less than the 16-byte header\n", in_path,
                static_cast<int>(st.in_size));
    return PACK_ERR_MALFORMED;
  }
  std::copy(raw, raw + PACK_HEADER_SIZE, st.header.bytes.begin());
  st.header_loaded = true;

  const uint32_t count = pack_entry_count(st.header);
  const uint64_t table_size = uint64_t{count} * PACK_ENTRY_SIZE;
  if (PACK_HEADER_SIZE + table_size > static_cast<uint64_t>(st.in_size)) {
    std::printf("truncated pack: the table of %u entries runs past the end of %s\n", count, in_path);
    return PACK_ERR_MALFORMED;
  }
  std::vector<uint8_t> table(table_size);
  if (st.in_file.read_at(PACK_HEADER_SIZE, table) != table.size()) {
    std::printf("read %s failed\n", in_path);
    return PACK_ERR_MALFORMED;
  }
  st.entries.resize(count);
  st.rects.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    PackEntry& e = st.entries[i];
    e = read_pack_entry(table.data() + size_t{i} * PACK_ENTRY_SIZE);
    uint8_t rect[ENTRY_RECT_SIZE];
    if (st.in_file.read_at(e.offset, rect) != sizeof rect) {
      std::printf("truncated pack: entry %s at offset %u lies past the end of %s\n",
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
      std::printf("bad pack: entry %s has length %u, less than its 4-byte rectangle\n",
                  entry_name_text(e).text, e.len);
      return PACK_ERR_MALFORMED;
    }
  }
  if (st.in_file.read_error) {
    std::printf("read %s failed\n", in_path);
    return PACK_ERR_MALFORMED;
  }
  return PACK_OK;
}

}  // namespace

int pack_open(PackState& st, const char* in_path, const char* out_path, bool recompute_len) {
  if (in_path != nullptr) {
    int rc = load_input(st, in_path, recompute_len);
    if (rc != PACK_OK) return rc;
  }
  // Only now, with the input loaded: a bad input never creates or empties
  // the output.
  return out_path != nullptr ? pack_open_output(st, out_path) : PACK_OK;
}

int pack_open_output(PackState& st, const char* out_path) {
  if (!st.out_file.open(out_path)) {
    std::printf("open %s failed\n", out_path);
    return PACK_ERR_OPEN;
  }
  return PACK_OK;
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

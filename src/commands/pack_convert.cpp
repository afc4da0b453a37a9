#include "commands/pack_convert.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> table_bytes(const std::vector<PackEntry>& entries) {
  std::vector<uint8_t> table(entries.size() * PACK_ENTRY_SIZE);
  for (size_t i = 0; i < entries.size(); ++i) write_pack_entry(entries[i], table.data() + i * PACK_ENTRY_SIZE);
  return table;
}

void report_write_failure(const OutputFile& out, const char* out_path) {
  std::printf("write %s failed: %s\n", out_path, std::strerror(out.error()));
}

}  // namespace

int convert_pack(const ConvertCommand& cmd, const char* in_path, const char* out_path) {
  PackState st;
  if (pack_open(st, in_path, out_path, cmd.recompute_len) != PACK_OK) {
    pack_close(st);
    return 1;
  }
  if (cmd.start) cmd.start(st.header);
  int status = 0;
  bool fatal = false;
  OutputFile& out = st.out_file;
  out.write(st.header.bytes);
  out.write(table_bytes(st.entries));

  for (size_t i = 0; i < st.entries.size() && !fatal; ++i) {
    PackEntry& e = st.entries[i];
    const EntryRect& rect = st.rects[i];
    const uint64_t pos = entry_payload_pos(e);
    std::vector<uint8_t> data(std::min(cmd.read_size(e), st.in_file.available(pos)));
    if (st.in_file.read_at(pos, data) != data.size()) {
      std::printf("read %s failed\n", in_path);
      fatal = true;
      break;
    }
    if (cmd.inspect && !cmd.inspect(e, rect, data)) status = 1;
    EntryResult r = cmd.convert(e, rect, data);
    data = {};
    std::fputs(r.text.c_str(), stdout);
    if (r.failed) status = 1;
    const uint64_t end = out.position() + ENTRY_RECT_SIZE + r.data.size() + pack_padding(r.data.size());
    if (r.data.size() > PACK_MAX_PAYLOAD || end > uint64_t{PACK_MAX_FILE_SIZE}) {
      std::printf("%s: %zu bytes do not fit in a pack\r\n", entry_name_text(e).text, r.data.size());
      fatal = true;
      break;
    }
    e.offset = static_cast<uint32_t>(out.position());
    e.len = static_cast<uint32_t>(r.data.size() + ENTRY_RECT_SIZE);
    e.type = r.type;
    uint8_t rect_bytes[ENTRY_RECT_SIZE];
    write_entry_rect(rect, rect_bytes);
    out.write(rect_bytes);
    out.write(r.data);
    out.write_zeros(pack_padding(r.data.size()));
    if (out.failed()) {
      report_write_failure(out, out_path);
      fatal = true;
    }
  }
  if (fatal) {
    pack_close(st);
    return 1;
  }

  const int64_t out_size = static_cast<int64_t>(out.position());
  std::printf("%s: %d -> %d (%d%%)\r\n", cmd.name, static_cast<int>(st.in_size), static_cast<int>(out_size),
              pack_percent(static_cast<uint32_t>(out_size), static_cast<uint32_t>(st.in_size)));
  out.write_at(PACK_HEADER_SIZE, table_bytes(st.entries));
  if (!out.commit()) {
    report_write_failure(out, out_path);
    pack_close(st);
    return 1;
  }
  st.out_size = out_size;
  pack_close(st);
  return status;
}

#include <cstdio>
#include <cstring>

#include "commands/commands.h"
#include "pack/pack_state.h"

int list_pack(const char* in_path, const char* out_path) {
  PackState st;
  if (pack_open(st, in_path, nullptr, false) != PACK_OK) {
    pack_close(st);
    return 1;
  }
  // Unlike a converted pack, a listing written over its own input leaves
  // nothing anyone wants: the pack would be lost.
  if (st.in_file.is_same_file(out_path)) {
    std::printf("dump: %s is the input file; refusing to overwrite it\n", out_path);
    explain("%s is the input file; the listing would overwrite the pack", out_path);
    pack_close(st);
    return 1;
  }
  if (pack_open_output(st, out_path) != PACK_OK) {
    pack_close(st);
    return 1;
  }
  int status = 0;
  for (size_t i = 0; i < st.entries.size(); ++i) {
    const PackEntry& e = st.entries[i];
    const EntryRect& r = st.rects[i];
    const uint32_t raw_len = static_cast<uint32_t>(entry_bytes_per_pixel(e)) * r.width * r.height;
    const uint32_t len = e.len - 4;
    // A name holds at most 8 bytes, so a line stays within 120 characters.
    char line[128];
    int n = std::snprintf(line, sizeof line,
                          "%s type %d, width %d, height %d, offset 0x%x, raw_len %d, len %d, ratio %d%%\r\n",
                          entry_name_text(e).text, e.type, r.width, r.height, e.offset + 4,
                          static_cast<int>(raw_len), static_cast<int>(len), pack_percent(len, raw_len));
    st.out_file.write({reinterpret_cast<const uint8_t*>(line), static_cast<size_t>(n)});
  }
  if (!st.out_file.commit()) {
    std::printf("write %s failed: %s\n", out_path, std::strerror(st.out_file.error()));
    explain("%s: %s; the output was not written", out_path, std::strerror(st.out_file.error()));
    status = 1;
  }
  pack_close(st);
  return status;
}

// SPDX-License-Identifier: MIT
// morvane -i: one line per entry into a text file.
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/report.h"

int list_pack(const char* in_path, const char* out_path) {
  PackFile pf;
  const PackRecords& pack = pf.records;
  if (Status s = open_pack(pf, in_path, {}); !s.ok()) {
    report_load_failure(s, in_path, pf);
    print_file_size(pack.size, 0);
    return 1;
  }
  // Unlike a converted pack, a listing written over its own input leaves
  // nothing anyone wants: the pack would be lost.
  if (pf.in.is_same_file(out_path)) {
    std::printf("dump: %s is the input file; refusing to overwrite it\n", printable_text(out_path).c_str());
    explain("%s is the input file; the listing would overwrite the pack", out_path);
    print_file_size(pack.size, 0);
    return 1;
  }
  OutputFile out;
  if (!open_output(out, out_path)) {
    print_file_size(pack.size, 0);
    return 1;
  }
  int status = 0;
  for (size_t i = 0; i < pack.entries.size(); ++i) {
    const PackEntry& e = pack.entries[i].entry;
    const EntryRect& r = pack.entries[i].rect;
    const uint32_t raw_len = static_cast<uint32_t>(entry_bytes_per_pixel(e)) * r.width * r.height;
    const uint32_t len = static_cast<uint32_t>(payload_len(e));
    // A name holds at most 8 bytes, 32 characters when every one is
    // printed as "\xNN", so a line stays within 144 characters.
    char line[160];
    int n = std::snprintf(line, sizeof line,
                          "%s type %d, width %d, height %d, offset 0x%x, raw_len %d, len %d, ratio %d%%\r\n",
                          entry_name_text(e).text, e.type, r.width, r.height, e.offset + 4,
                          static_cast<int>(raw_len), static_cast<int>(len), pack_percent(len, raw_len));
    out.write({reinterpret_cast<const uint8_t*>(line), static_cast<size_t>(n)});
  }
  if (!out.commit()) {
    std::printf("write %s failed: %s\n", printable_text(out_path).c_str(), std::strerror(out.error()));
    explain("%s: %s; the output was not written", out_path, std::strerror(out.error()));
    status = 1;
  }
  print_file_size(pack.size, 0);
  return status;
}

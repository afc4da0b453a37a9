// SPDX-License-Identifier: MIT
// pack_check ORIGINAL DECOMPRESSED: checks that every entry of a decompressed
// pack holds the pixels (or JPEG bytes) of the original source pack.
#include <cstdio>

#include "support/pack_writer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: pack_check ORIGINAL DECOMPRESSED\n");
    return 2;
  }
  ParsedPack a = parse_pack(read_file(argv[1]));
  ParsedPack b = parse_pack(read_file(argv[2]));
  const bool hinted = a.header.bytes[TILED_FLAG] != 0;
  if (a.entries.empty() || a.entries.size() != b.entries.size()) {
    std::printf("entry counts differ: %zu and %zu\n", a.entries.size(), b.entries.size());
    return 1;
  }
  int bad = 0;
  for (size_t i = 0; i < a.entries.size(); ++i) {
    std::vector<uint8_t> want = a.payloads[i];
    if (hinted && a.entries[i].type != TYPE_JPEG) want.erase(want.begin(), want.begin() + TILE_HINT_SIZE);
    const std::vector<uint8_t>& got = b.payloads[i];
    bool same = got.size() >= want.size() && std::equal(want.begin(), want.end(), got.begin()) &&
                (got.size() == want.size() || a.entries[i].type == TYPE_JPEG);
    if (!same) {
      std::printf("%s: pixels differ\n", entry_name_text(a.entries[i]).text);
      ++bad;
    }
  }
  std::printf("%zu entries checked, %d differ\n", a.entries.size(), bad);
  return bad == 0 ? 0 : 1;
}

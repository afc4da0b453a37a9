// SPDX-License-Identifier: MIT
// The pack reader over arbitrary bytes. Input: a name of up to 8 bytes (8
// bytes, cut at the first NUL), the pack.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "morvane/pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in{data, size};
  char name[9] = {};
  for (int i = 0; i < 8; ++i) name[i] = static_cast<char>(in.u8());
  // An exact-size copy: any read outside it is a finding.
  const std::vector<uint8_t> pack(in.rest().begin(), in.rest().end());
  if (pack.size() > INT32_MAX) return 0;
  const uint8_t* const begin = pack.data();
  const uint8_t* const end = begin + pack.size();
  const auto len = static_cast<int32_t>(pack.size());

  auto sound = [&](const morvane_pack_entry& e) {
    return e.data >= begin && e.length >= 0 && e.data + e.length <= end && e.name[8] == '\0';
  };
  const int32_t count = morvane_pack_count(begin, len);
  if (count > 65535) __builtin_trap();
  for (int32_t i = -1; i <= count && i < 4096; ++i) {
    morvane_pack_entry e;
    const int32_t rc = morvane_pack_entry_at(begin, len, i, &e);
    if (rc == 0 ? !sound(e) : e.data != nullptr) __builtin_trap();
    if ((i < 0 || i >= count) && rc == 0) __builtin_trap();
  }
  morvane_pack_entry e;
  const int32_t found = morvane_pack_find(begin, len, name, &e);
  if (found >= 0 && (found >= count || !sound(e) || std::strncmp(e.name, name, 8) != 0)) __builtin_trap();
  return 0;
}

// SPDX-License-Identifier: MIT
// Pack loading and the listing over arbitrary files.
#include "cli/commands.h"
#include "fuzz/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const FuzzFiles& f = fuzz_files();
  f.write_input(data, size);
  int status = list_pack(f.in.c_str(), f.out.c_str());
  if (status != 0 && status != 1) __builtin_trap();
  return 0;
}

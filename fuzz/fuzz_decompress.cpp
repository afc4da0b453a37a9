// SPDX-License-Identifier: MIT
// The decompress command over arbitrary files, in both modes (the input's
// own header chooses).
#include "cli/commands.h"
#include "fuzz/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const FuzzFiles& f = fuzz_files();
  f.write_input(data, size);
  int status = decompress_pack(f.in.c_str(), f.out.c_str());
  if (status != 0 && status != 1) __builtin_trap();
  return 0;
}

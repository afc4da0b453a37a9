// SPDX-License-Identifier: MIT
// The compress command over arbitrary files, in both modes and with every
// codec kind (the input's own header chooses), on several threads; one
// thread must give the same output file and status.
#include <cstdlib>
#include <vector>

#include "cli/commands.h"
#include "fuzz/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Level-12 LZ4 is slow; small packs reach every path.
  if (size > (64 << 10)) return 0;
  const FuzzFiles& f = fuzz_files();
  f.write_input(data, size);
  // No thread of the command runs between its runs, so the environment may change.
  setenv("MORVANE_THREADS", "3", 1);
  const int status = compress_pack(f.in.c_str(), f.out.c_str());
  if (status != 0 && status != 1) __builtin_trap();
  const std::vector<uint8_t> many = f.read_output();
  std::remove(f.out.c_str());
  setenv("MORVANE_THREADS", "1", 1);
  if (compress_pack(f.in.c_str(), f.out.c_str()) != status || f.read_output() != many) __builtin_trap();
  return 0;
}

// The compress command over arbitrary files, in both modes and with every
// codec kind (the input's own header chooses).
#include "commands/commands.h"
#include "fuzz/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Level-12 LZ4 is slow; small packs reach every path.
  if (size > (64 << 10)) return 0;
  const FuzzFiles& f = fuzz_files();
  f.write_input(data, size);
  int status = compress_pack(f.in.c_str(), f.out.c_str());
  if (status != 0 && status != 1) __builtin_trap();
  return 0;
}

// morvane-tool's info (table and JSON) and verify (alone and against the
// pack itself) over arbitrary files: a status of 0 or 1, never a crash.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_files.h"
#include "tool/tool_info.h"
#include "tool/tool_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const FuzzFiles& f = fuzz_files();
  f.write_input(data, size);
  static std::FILE* sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) std::abort();
  const int status[] = {run_info(f.in, false, sink, sink), run_info(f.in, true, sink, sink),
                        run_verify(f.in, "", sink, sink), run_verify(f.in, f.in, sink, sink)};
  for (int s : status)
    if (s != 0 && s != 1) __builtin_trap();
  return 0;
}

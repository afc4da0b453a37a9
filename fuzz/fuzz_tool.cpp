// morvane-tool's info (table and JSON) and verify (alone and against the
// pack itself) over arbitrary files: a status of 0 or 1, never a crash.
// verify decodes every entry, so it runs only on packs whose entries are all
// within reach of their bytes (fuzz_entries.h).
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_files.h"
#include "tool/tool_info.h"
#include "tool/tool_verify.h"

namespace {

bool verify_worth_running(std::span<const uint8_t> in) {
  const bool tiled = in.size() > TILED_FLAG && in[TILED_FLAG] != 0;
  bool worth = true;
  fuzz_for_each_entry(in, [&](const PackEntry&, const EntryRect& rect, std::span<const uint8_t> payload) {
    worth = worth && fuzz_worth_decoding(tiled, rect, payload);
  });
  return worth;
}

bool status_ok(int status) { return status == 0 || status == 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const FuzzFiles& f = fuzz_files();
  f.write_input(data, size);
  static std::FILE* sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) std::abort();
  if (!status_ok(run_info(f.in, false, sink, sink)) || !status_ok(run_info(f.in, true, sink, sink)))
    __builtin_trap();
  if (verify_worth_running({data, size}) &&
      (!status_ok(run_verify(f.in, "", sink, sink)) || !status_ok(run_verify(f.in, f.in, sink, sink))))
    __builtin_trap();
  return 0;
}

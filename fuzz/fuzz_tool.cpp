// SPDX-License-Identifier: MIT
// morvane-tool's info (table and JSON) and verify (alone and against the
// pack itself) over arbitrary files of at most 16 entries: a status of 0 or
// 1, never a crash.
// verify decodes every entry, so it runs only on packs whose entries are all
// within reach of their bytes (fuzz_entries.h).
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_files.h"
#include "tool/tool_info.h"
#include "tool/tool_verify.h"

namespace {

// The commands go through a pack's entries one at a time, and their time
// grows with the count (info's JSON most): a table of more entries covers
// nothing that 16 do not, so such packs are left out. A count whose table
// runs past the end is refused at once and stays in.
constexpr size_t kMaxEntries = 16;

bool too_many_entries(std::span<const uint8_t> in) {
  if (in.size() < PACK_HEADER_SIZE || load_le32(in.data()) != PACK_MAGIC) return false;
  const size_t count = load_le16(in.data() + 4);
  return count > kMaxEntries && PACK_HEADER_SIZE + count * PACK_ENTRY_SIZE <= in.size();
}

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

// An input allocates a few MiB at most, so a 16 MiB quarantine still holds
// the blocks freed while it runs; the default 256 MiB made every input touch
// fresh pages, about a third of this target's time.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (too_many_entries({data, size})) return 0;
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

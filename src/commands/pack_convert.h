// The loop that compress and decompress share: header and table out, each
// entry read, converted and appended, the table rewritten, the output put in
// place. Entries may be converted side by side; the input is read, and the
// output and standard output written, in table order all the same, so every
// thread count gives the same bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "commands/convert_entry.h"
#include "pack/pack_state.h"

struct ConvertCommand {
  const char* name;  // "compress" or "decompress", for the summary line
  bool recompute_len;
  // Threads converting entries; 1 runs everything on the calling thread.
  int threads = 1;
  // Called once the input's header is loaded, before any entry.
  std::function<void(const PackHeader&)> start;
  // Bytes to read after the EntryRect of an entry. Each callback gets the
  // entry as loaded and the len its record holds in the input (the two
  // differ when the command recomputes lens).
  std::function<uint64_t(const PackEntry&, uint32_t stored_len)> read_size;
  // A pure function of its arguments, called on any thread.
  std::function<EntryResult(const PackEntry&, uint32_t stored_len, const EntryRect&, std::span<const uint8_t>,
                            const JobRunner&)>
      convert;
  // For the entries `inspects` picks: runs on the bytes read, on the calling
  // thread, in table order, just before the entry's lines are printed;
  // returns false on a failure it has reported.
  std::function<bool(const PackEntry&)> inspects;
  std::function<bool(const PackEntry&, const EntryRect&, std::span<const uint8_t>)> inspect;
  // A file the command writes in the current folder: the output never
  // follows a symbolic link there.
  const char* side_file = nullptr;
  // When a run converts none of its image entries and none has a compressed
  // code, this says on standard error why (the decompress command: the pack
  // is not compressed); otherwise the run's kept entries are counted there.
  const char* nothing_compressed = nullptr;
};

int convert_pack(const ConvertCommand& cmd, const char* in_path, const char* out_path);

// Thread counts. MORVANE_THREADS, when it is a decimal positive integer that
// fits an int (digits only), sets the count, clamped to MAX_CONVERT_THREADS;
// any other value (empty, 0, a sign, other characters, too many digits) is
// ignored. The default is the number of processors the process may run on.
inline constexpr int MAX_CONVERT_THREADS = 64;
int parse_thread_count(const char* value, int fallback);
int default_thread_count();
int convert_thread_count();  // from MORVANE_THREADS, or the default

// The loop that compress and decompress share: header and table out, each
// entry read, converted and appended, the table rewritten, the output put in
// place.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "commands/convert_entry.h"
#include "pack/pack_state.h"

struct ConvertCommand {
  const char* name;  // "compress" or "decompress", for the summary line
  bool recompute_len;
  // Called once the input's header is loaded, before any entry.
  std::function<void(const PackHeader&)> start;
  // Bytes to read after the EntryRect of an entry.
  std::function<uint64_t(const PackEntry&)> read_size;
  std::function<EntryResult(const PackEntry&, const EntryRect&, std::span<const uint8_t>)> convert;
  // Runs on the bytes read, before convert; returns false on a failure it
  // has reported.
  std::function<bool(const PackEntry&, const EntryRect&, std::span<const uint8_t>)> inspect;
};

int convert_pack(const ConvertCommand& cmd, const char* in_path, const char* out_path);

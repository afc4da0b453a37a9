// SPDX-License-Identifier: MIT
// Loading a pack into memory records: its header, entry table and the
// EntryRect of every entry, with the checks that refuse what is not a pack.
// The bytes come through a reader, so nothing here holds a file.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "pack/pack_format.h"
#include "pack/status.h"

// One entry of the table as loaded.
struct EntryRecord {
  PackEntry entry;
  uint32_t stored_len = 0;  // the len its record holds in the input, before any recompute
  EntryRect rect;
};
// A 65,535-entry table stays as small as its three fields.
static_assert(sizeof(EntryRecord) == sizeof(PackEntry) + sizeof(uint32_t) + sizeof(EntryRect));

// An entry that keep_bad_entries lets through, and why it is unsound.
struct EntryProblem {
  size_t index = 0;
  std::string text;
};

struct PackRecords {
  int64_t size = 0;  // bytes in the input
  PackHeader header;
  std::vector<EntryRecord> entries;
  // With keep_bad_entries: the unsound entries, in table order. A list of
  // their own, not a text per entry: a pack of 65,535 sound entries costs
  // nothing here.
  std::vector<EntryProblem> problems;
  // For PACK_ERR_NOT_PACK: what the input looks like (not_a_pack_reason).
  std::string not_a_pack;
};

struct PackLoadOptions {
  // The len of every entry that holds raw pixels (neither JPEG nor a
  // compressed code) becomes bytes-per-pixel x width x height + 4; a value
  // above PACK_MAX_LEN is kept as it is (never wrapped) for the command to
  // refuse.
  bool recompute_len = false;
  // An entry whose EntryRect lies past the end of the input or whose stored
  // len is below 4 does not fail the load: its problem goes to `problems`
  // and it keeps a 0 x 0 rectangle.
  bool keep_bad_entries = false;
};

// Entry i's problem; empty for a sound entry.
const std::string& entry_problem(const PackRecords& records, size_t i);

// Reads up to dst.size() bytes at pos and returns the count read (fewer at
// the end of the input); sets `failed` on a read error.
using PackReadAt = std::function<size_t(uint64_t pos, std::span<uint8_t> dst, bool& failed)>;

// Loads the pack of `size` bytes that read_at gives; `path` names it in the
// messages. Returns PACK_ERR_NOT_PACK ("check magic failed") or
// PACK_ERR_MALFORMED with the line that says why.
Status load_pack_records(const PackReadAt& read_at, int64_t size, const char* path, const PackLoadOptions& options,
                         PackRecords& out);

// The reason an input that does not start with the pack magic is not a pack,
// from its first bytes: what it looks like when that is cheap to tell.
std::string not_a_pack_reason(std::span<const uint8_t> head, int64_t size);

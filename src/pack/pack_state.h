// One loaded pack: its header, entry table and rectangles, and the two open
// files, from pack_open to pack_close.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pack/pack_format.h"
#include "pack/pack_io.h"

// pack_open results.
inline constexpr int PACK_OK = 0;
inline constexpr int PACK_ERR_OPEN = -1;       // a file cannot be opened
inline constexpr int PACK_ERR_NOT_PACK = -2;   // wrong magic
inline constexpr int PACK_ERR_MALFORMED = -3;  // a pack whose header, table or rectangles the file does not hold

struct PackState {
  InputFile in_file;
  OutputFile out_file;
  int64_t in_size = 0;
  // Set by the compress and decompress commands once the output is in place;
  // 0 otherwise.
  int64_t out_size = 0;
  PackHeader header;
  bool header_loaded = false;
  std::vector<PackEntry> entries;
  // The len each entry's record holds in the input, before any recompute.
  std::vector<uint32_t> stored_lens;
  std::vector<EntryRect> rects;
  // A file the command writes in the current folder beside the output: the
  // output never follows a symbolic link there (OutputFile::open).
  const char* side_file = nullptr;
};

// Opens and loads in_path (header, entry table, every EntryRect), then opens
// out_path. Either path may be null. With recompute_len, the len of every
// entry that holds raw pixels (neither JPEG nor a compressed code) becomes
// bytes-per-pixel x width x height + 4; a value above
// PACK_MAX_LEN is kept as it is (never wrapped) for the command to refuse.
// Prints one line for each failure on standard output, and its reason on
// standard error (explain). Returns PACK_OK or a PACK_ERR_ code.
int pack_open(PackState& st, const char* in_path, const char* out_path, bool recompute_len);
// The output half of pack_open, for a command that checks the output path
// against the loaded input first.
int pack_open_output(PackState& st, const char* out_path);

// The loading of pack_open for callers with their own messages: nothing is
// printed, a failure's line (without line end) goes to `message`, and no
// output file is opened. With entry_problems, an entry whose EntryRect lies
// past the end of the file or whose stored len is below 4 does not fail the
// load: entry_problems gets one text per entry (empty for a sound one) and
// such an entry keeps a 0 x 0 rectangle. Release with pack_close or by
// destroying the state; pack_close prints its size line.
int pack_load(PackState& st, const char* in_path, bool recompute_len, std::string& message,
              std::vector<std::string>* entry_problems = nullptr);

// Prints the closing size line and releases everything; an output that was
// not committed is discarded. Returns 0.
int pack_close(PackState& st);

// One line on standard error saying why a run fails: "morvane: ", the
// formatted text and "\n". Standard output, which says what happened in
// its own fixed words, is not touched. At most MAX_EXPLAIN_LINES lines per
// process; later ones are dropped. Called on the command's own thread only.
inline constexpr int MAX_EXPLAIN_LINES = 4;
void explain(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The reason an input that does not start with the pack magic is not a pack,
// from its first bytes: what it looks like when that is cheap to tell.
std::string not_a_pack_reason(std::span<const uint8_t> head, int64_t size);

// The position of an entry's payload: just after its EntryRect.
inline uint64_t entry_payload_pos(const PackEntry& e) { return uint64_t{e.offset} + ENTRY_RECT_SIZE; }

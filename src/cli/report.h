// SPDX-License-Identifier: MIT
// What morvane says besides each command's own lines: why a run fails, on
// standard error, and the lines every command shares on standard output.
#pragma once

#include "core/pack_file.h"
#include "io/platform.h"

// One line on standard error saying why a run fails: "morvane: ", the
// formatted text (through printable_text) and "\n". Standard output, which says what happened in
// its own fixed words, is not touched. At most MAX_EXPLAIN_LINES lines per
// process; later ones are dropped. Called on the command's own thread only.
inline constexpr int MAX_EXPLAIN_LINES = 4;
void explain(const char* fmt, ...) MORVANE_PRINTF_FORMAT(1, 2);

// A pack that open_pack refused: its line on standard output, and why on
// standard error.
void report_load_failure(const Status& s, const char* path, const PackFile& pf);

// Opens the output of a command; prints "open <path> failed" (and why) when
// it cannot be created. side_file, when given, is a name in the current
// folder that is never followed: when the path, or a symbolic link on the
// way from it, names it, that name itself is replaced (OutputLinks::Replace).
bool open_output(OutputFile& out, const char* path, const char* side_file = nullptr);

// (part * 100) / whole in unsigned 32-bit arithmetic, as morvane's
// percentage lines print it; 0 when whole is 0.
int32_t pack_percent(uint32_t part, uint32_t whole);

// The line that ends every run: "file size: IN -> OUT", or "file size: IN"
// when no output was written (out_size 0). Flushes standard output.
void print_file_size(int64_t in_size, int64_t out_size);

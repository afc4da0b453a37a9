// SPDX-License-Identifier: MIT
// What every operation above the tile library that can fail gives back: a
// code and one line that says why. The code tells callers what happened;
// the message is for people. Codes are negative: those below, io's
// IO_ERR_ (io/files.h) and morvane-tool's TOOL_ERR_ (tool/tool_files.h);
// or, where io passes on the system's refusal, the errno itself, positive.
#pragma once

#include <string>

struct Status {
  int code = 0;          // 0, a negative code, or an errno from io
  std::string message;   // why, one line without a line end; empty for 0
  bool ok() const { return code == 0; }
};

// Loading a pack.
inline constexpr int PACK_ERR_OPEN = -1;       // a file cannot be opened
inline constexpr int PACK_ERR_NOT_PACK = -2;   // wrong magic
inline constexpr int PACK_ERR_MALFORMED = -3;  // a pack whose header, table or rectangles the file does not hold

// One entry.
inline constexpr int ENTRY_ERR_KEPT = -10;         // not converted: kept as stored
inline constexpr int ENTRY_ERR_NOT_A_BLOCK = -11;  // type 39 data that is no tiled block: copied, not tiled again
inline constexpr int ENTRY_ERR_UNKNOWN = -12;      // the payload's size fits no form
inline constexpr int ENTRY_ERR_CORRUPT = -13;      // LZ4 or tiled data that does not decode
inline constexpr int ENTRY_ERR_WRONG_SIZE = -14;   // decodes, but not to W x H pixels

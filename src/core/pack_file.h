// SPDX-License-Identifier: MIT
// A pack being read: its input file and its records, loaded by open_pack.
#pragma once

#include "io/files.h"
#include "pack/pack_load.h"

struct PackFile {
  InputFile in;
  PackRecords records;
  Status open_failure;  // why `in` could not be opened (InputFile::open)
};

// Opens path and loads it (pack_load.h). PACK_ERR_OPEN says "open <path>
// failed", and pf.open_failure why (the errno: EISDIR for a directory).
Status open_pack(PackFile& pf, const char* path, const PackLoadOptions& options);

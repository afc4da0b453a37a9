// SPDX-License-Identifier: MIT
// Whole-file reads for morvane-tool, and telling whether two paths name one
// file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "io/files.h"

struct Manifest;

// What morvane-tool's own checks refuse; the message says why.
inline constexpr int TOOL_ERR_MANIFEST = -30;  // a manifest that is no valid manifest
inline constexpr int TOOL_ERR_PICTURE = -31;   // a PNG or JPEG that cannot be read or written
inline constexpr int TOOL_ERR_NAME = -32;      // a name that is no file name inside export's folder
inline constexpr int TOOL_ERR_TOO_BIG = -33;   // an entry or pack larger than the format holds

// A manifest is text; no sane one comes near this.
inline constexpr uint64_t MANIFEST_FILE_LIMIT = uint64_t{64} << 20;

// Reads a regular file of at most max_size bytes: read_regular_file's
// code, and the reason naming the file.
Status read_whole_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out);
// The line for a failure to read the file path (of `size` bytes, for
// IO_ERR_TOO_BIG against max_size): s's code, its message naming the file.
Status file_read_failure(const std::string& path, Status s, uint64_t size, uint64_t max_size);

// Reads and parses a manifest file; on failure its faults, one line each,
// every line naming the file.
Status read_manifest(const std::string& path, Manifest& out);

// Each line of `lines` on standard error after "<command>: ".
void print_lines(const char* command, const std::string& lines);

struct ManifestEntry;
// The folder a manifest's relative file names start from.
std::string folder_of(const std::string& path);
// An entry's file: relative to the manifest's folder `base`, or absolute;
// empty when it names none.
std::string entry_path(const std::string& base, const ManifestEntry& me);


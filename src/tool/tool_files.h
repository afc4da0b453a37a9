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

// A manifest is text; no sane one comes near this.
inline constexpr uint64_t MANIFEST_FILE_LIMIT = uint64_t{64} << 20;

// Reads a regular file of at most max_size bytes; false with the reason.
bool read_whole_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out,
                     std::string& error);

// Reads and parses a manifest file; false with its faults, one line each,
// every line naming the file.
bool read_manifest(const std::string& path, Manifest& out, std::string& error);

// Each line of `lines` on standard error after "<command>: ".
void print_lines(const char* command, const std::string& lines);

struct ManifestEntry;
// The folder a manifest's relative file names start from.
std::string folder_of(const std::string& path);
// An entry's file: relative to the manifest's folder `base`, or absolute;
// empty when it names none.
std::string entry_path(const std::string& base, const ManifestEntry& me);


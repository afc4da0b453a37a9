// SPDX-License-Identifier: MIT
// What the subcommands share: a pack loaded without morvane's messages, and
// entry names turned into text that is safe to print or to put into JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/pack_file.h"

// Loads a pack for a subcommand. An entry that the table names but the file
// cannot back (its EntryRect past the end, a stored len below 4) does not
// fail the load: its problem is entry_problem(pf.records, i).
// A file that cannot be opened or is no pack fails with why, as morvane
// explains it: the system's reason, or what the file looks like (a PNG or
// JPEG picture, an empty file).
Status tool_pack_load(PackFile& pf, const std::string& path, bool recompute_len);

// Prints "<command>: <message>" on err for a pack that did not load, with
// the path in front when the loader's line does not name the file; returns 1,
// the exit status.
int tool_load_failed(std::FILE* err, const char* command, const std::string& path, const std::string& message);

// Up to `size` bytes at pos: fewer at the end of the file. read_failed is set
// on a read error.
std::vector<uint8_t> tool_pack_read(PackFile& pf, uint64_t pos, uint64_t size, bool& read_failed);

// Columns a text takes in a terminal: one per character, a byte outside
// well-formed UTF-8 counting as one (wide characters are not told apart).
size_t tool_text_columns(std::string_view text);

// Length of the well-formed UTF-8 sequence at bytes[i], or 0: no overlong
// forms, no surrogates, nothing above U+10FFFF.
size_t tool_utf8_sequence(std::string_view bytes, size_t i);
bool tool_is_utf8(std::string_view bytes);

// For lines of text: as morvane prints names and paths (printable_text), a
// control byte as "\xNN" and every other byte as it is.
std::string tool_display_name(std::string_view bytes);

// For JSON strings: the bytes when they are well-formed UTF-8; otherwise each
// byte outside a well-formed sequence becomes U+FFFD.
std::string tool_utf8_name(std::string_view bytes);

// Two lower-case hexadecimal digits per byte.
std::string tool_hex(std::string_view bytes);

// The words joined by ", ", the last by `last`: "a, b or c" for " or ".
std::string tool_word_list(const std::vector<std::string>& words, std::string_view last);

// SPDX-License-Identifier: MIT
// morvane-tool embed: a pack as a C source and header (docs/tool.md gives the
// name rule these functions keep).
#pragma once

#include <string>
#include <vector>

// The default symbol: OUT's file name without its ".c", each run of bytes
// other than ASCII letters, digits and '_' made one '_', and "pack_" put
// before a name that is empty or starts with a digit.
std::string embed_symbol_from_path(const std::string& out_path);

// The checks of embed's options: empty for a good value, else the message.
// --symbol: a C identifier, [A-Za-z_][A-Za-z0-9_]*.
std::string embed_symbol_error(const std::string& s);
// --section: letters, digits, '.', '_' and '-'.
std::string embed_section_error(const std::string& s);
// --align: a power of 2 from 1 to 4096, in decimal.
std::string embed_align_error(const std::string& s);

// What follows "SYMBOL_" in each entry's index macro, in pack order, from the
// entries' names (the bytes before the first NUL): each run of bytes other
// than ASCII letters and digits becomes one '_', leading and trailing '_'
// are dropped, a name left empty becomes its index; a result already taken
// (by an earlier entry, or "size", which the pack's length has) gets "_" and
// the entry's index appended until it is free.
std::vector<std::string> embed_entry_ids(const std::vector<std::string>& names);

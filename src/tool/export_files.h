// SPDX-License-Identifier: MIT
// The files that `morvane-tool export` writes: a file name for every entry
// name, and a folder that nothing is written outside of.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "tool/tool_files.h"

// The file stem for an entry name (its bytes up to the first NUL). Kept as
// it is, except: '%', '/', the characters Windows refuses (< > : " \ | ? *),
// control bytes (0x00-0x1F, 0x7F, and the bytes of the C1 controls
// U+0080-U+009F) and bytes that are not part of well-formed UTF-8 (no
// overlong forms, surrogates or code points above U+10FFFF) become "%XX"
// (two upper-case hex digits); the first character of a Windows device name
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, any case, with any extension) becomes
// "%XX" too ("%43ON"); the names "." and ".." become "%2E" and "%2E%2E";
// the empty name becomes "%00". So a stem is a valid file name on Linux and
// Windows, never holds '/', is never "." or "..", and two different names
// never share one. Every stem gets an extension, so a trailing dot or space
// never ends a file name.
std::string escape_entry_name(std::string_view name);

// The name a stem stands for (a "%-N" repeat suffix is dropped); false when
// the stem is not one that escape_entry_name or ExportNames gives.
bool unescape_entry_name(std::string_view stem, std::string& name);

// Gives every entry its file name: the escaped stem and the extension; the
// N-th entry (N >= 2) whose file name is already taken gets "%-N" before the
// extension ("icon.png", "icon%-2.png"). A name that differs from a taken
// one only in case counts as taken ("Icon.png" after "icon.png" is
// "Icon%-2.png"), on every system: on Windows and on a case-insensitive file
// system they would be one file.
class ExportNames {
 public:
  std::string take(std::string_view name, std::string_view extension);

 private:
  std::set<std::string> used_;               // file names, by case key
  std::map<std::string, unsigned> repeats_;  // next N for a file name's case key
};

// The export folder, held open: every file is created inside it by a name
// without '/', as a new temporary file that is then renamed into place, so a
// symbolic link or any other file already there is replaced, never followed
// or written through, and no half-written file is ever visible.
class ExportDir {
 public:
  ExportDir() = default;
  ExportDir(const ExportDir&) = delete;
  ExportDir& operator=(const ExportDir&) = delete;

  // Opens the folder, creating it (one level) when it does not exist.
  Status open(const std::string& path);
  // name: one path component, not "." or ".." (else TOOL_ERR_NAME).
  Status write_file(const std::string& name, std::span<const uint8_t> bytes);
  // The file that name inside the folder leads to (links followed); false
  // when there is none.
  bool file_id(const std::string& name, FileId& out) const;

 private:
  Folder folder_;
  uint32_t counter_ = 0;
};

// SPDX-License-Identifier: MIT
#include "tool/tool_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool/manifest.h"
#include "tool/tool_text.h"

bool read_whole_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out,
                     std::string& error) {
  // Paths may come from a manifest: never print their bytes raw.
  const std::string shown = tool_display_name(path);
  uint64_t size = 0;
  int err = 0;
  switch (read_regular_file(path, max_size, out, size, err)) {
    case ReadWhole::Done:
      return true;
    case ReadWhole::CannotOpen:
      error = "cannot open " + shown + ": " + std::strerror(err);
      return false;
    case ReadWhole::NotRegular:
      error = shown + " is not a regular file";
      return false;
    case ReadWhole::TooBig:
      error = shown + " is " + std::to_string(size) + " bytes, more than the " + std::to_string(max_size) +
              " this entry can take";
      return false;
    case ReadWhole::ReadFailed:
      break;
  }
  error = "cannot read " + shown + ": " + (err != 0 ? std::strerror(err) : "it shrank while being read");
  return false;
}

bool read_manifest(const std::string& path, Manifest& out, std::string& error) {
  std::vector<uint8_t> text;
  if (!read_whole_file(path, MANIFEST_FILE_LIMIT, text, error)) return false;
  if (!parse_manifest({reinterpret_cast<const char*>(text.data()), text.size()}, out, error)) {
    const std::string shown = tool_display_name(path) + ": ";
    error.insert(0, shown);
    for (size_t at = error.find('\n'); at != std::string::npos; at = error.find('\n', at + 1))
      error.insert(at + 1, shown);
    return false;
  }
  return true;
}

void print_lines(const char* command, const std::string& lines) {
  size_t start = 0;
  for (size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
    std::fprintf(stderr, "%s: %.*s\n", command, static_cast<int>(end - start), lines.data() + start);
  std::fprintf(stderr, "%s: %s\n", command, lines.c_str() + start);
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string entry_path(const std::string& base, const ManifestEntry& me) {
  return me.file.empty() || me.file[0] == '/' ? me.file : base + "/" + me.file;
}

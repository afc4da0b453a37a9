// SPDX-License-Identifier: MIT
#include "tool/tool_files.h"

#include <cstdio>

#include "tool/manifest.h"
#include "tool/tool_text.h"

Status read_whole_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out) {
  uint64_t size = 0;
  Status s = read_regular_file(path, max_size, out, size);
  return s.ok() ? s : file_read_failure(path, std::move(s), size, max_size);
}

Status file_read_failure(const std::string& path, Status s, uint64_t size, uint64_t max_size) {
  // Paths may come from a manifest: never print their bytes raw.
  const std::string shown = tool_display_name(path);
  if (s.code == IO_ERR_NOT_REGULAR) {
    s.message = shown + " is not a regular file";
  } else if (s.code == IO_ERR_TOO_BIG) {
    s.message = shown + " is " + std::to_string(size) + " bytes, more than the " + std::to_string(max_size) +
                " this entry can take";
  } else {
    s.message = (s.code == IO_ERR_READ ? "cannot read " : "cannot open ") + shown + ": " + s.message;
  }
  return s;
}

Status read_manifest(const std::string& path, Manifest& out) {
  std::vector<uint8_t> text;
  if (Status s = read_whole_file(path, MANIFEST_FILE_LIMIT, text); !s.ok()) return s;
  Status s = parse_manifest({reinterpret_cast<const char*>(text.data()), text.size()}, out);
  if (!s.ok()) {
    const std::string shown = tool_display_name(path) + ": ";
    s.message.insert(0, shown);
    for (size_t at = s.message.find('\n'); at != std::string::npos; at = s.message.find('\n', at + 1))
      s.message.insert(at + 1, shown);
  }
  return s;
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

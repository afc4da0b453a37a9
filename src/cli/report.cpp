// SPDX-License-Identifier: MIT
#include "cli/report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/progress.h"

void explain(const char* fmt, ...) {
  static int lines = 0;
  if (lines >= MAX_EXPLAIN_LINES) return;
  ++lines;
  char text[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  progress_clear();  // the line goes on a clean row, not after the progress
  // Names and paths in it are printed as every line prints them.
  std::fprintf(stderr, "morvane: %s\n", printable_text(text).c_str());
}

void report_load_failure(const Status& s, const char* path, const PackFile& pf) {
  std::printf("%s\n", printable_text(s.message).c_str());
  if (s.code == PACK_ERR_OPEN) {
    explain("%s: %s", path, pf.open_failure.message.c_str());
    if (pf.open_failure.code == EISDIR) explain("a pack is one file, made with morvane-tool create MANIFEST PACK");
  } else if (s.code == PACK_ERR_NOT_PACK) {
    explain("%s: %s", path, pf.records.not_a_pack.c_str());
    explain("packs are made from PNG and JPEG files with morvane-tool create MANIFEST PACK");
  } else {
    explain("%s", s.message.c_str());
  }
}

namespace {

// Whether path is the entry `name` of the current folder (that folder
// reached by any way).
bool is_entry_of_cwd(const std::string& path, const char* name) {
  std::string dir, base;
  split_path(path, dir, base);
  FileId here, there;
  return base == name && file_id(".", here) && file_id(dir, there) && here == there;
}

}  // namespace

bool open_output(OutputFile& out, const char* path, const char* side_file) {
  // The side file's name is replaced, never written through: neither when
  // the output names it nor when a link on the way from it does.
  std::string side_name;
  if (side_file != nullptr) {
    for (const std::string& step : link_chain(path)) {
      if (is_entry_of_cwd(step, side_file)) {
        side_name = step;
        break;
      }
    }
  }
  if (side_name.empty() ? out.open(path) : out.open(side_name.c_str(), OutputLinks::Replace)) return true;
  std::printf("open %s failed\n", printable_text(path).c_str());
  explain("%s: %s", path, std::strerror(out.error()));
  return false;
}

void print_file_size(int64_t in_size, int64_t out_size) {
  if (out_size != 0) {
    std::printf("file size: %d -> %d\n", static_cast<int>(in_size), static_cast<int>(out_size));
  } else {
    std::printf("file size: %d\n", static_cast<int>(in_size));
  }
  std::fflush(stdout);
}

int32_t pack_percent(uint32_t part, uint32_t whole) {
  if (whole == 0) return 0;
  return static_cast<int32_t>((part * 100u) / whole);
}

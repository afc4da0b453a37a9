// SPDX-License-Identifier: MIT
// morvane <option> <in-file> <out-file>: "-i" lists, "-d" decompresses,
// anything else compresses.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/report.h"
#include "io/platform.h"
#include "morvane_version.h"

namespace {
constexpr const char* kVersion = MORVANE_VERSION;
}

int main(int argc, char** argv) {
  // Lines are written as given ("\r\n" included), paths taken as UTF-8.
  binary_standard_streams();
  const std::vector<std::string> args = utf8_arguments(argc, argv);
  std::printf("VERSION %s\n", kVersion);
  if (argc < 4) {
    std::printf("Usage:\r\n");
    std::printf("  morvane -i in-file out-file\r\n");
    std::printf("  morvane -c in-file out-file\r\n");
    std::printf("  morvane -d in-file out-file\r\n");
    std::fflush(stdout);
    explain("an option, an input file and an output file are needed");
    return -1;
  }
  const char* option = args[1].c_str();
  const char* in_path = args[2].c_str();
  const char* out_path = args[3].c_str();
  // The paths as every line prints them.
  const std::string in_text = printable_text(args[2]), out_text = printable_text(args[3]);
  int status;
  if (std::strcmp(option, "-i") == 0) {
    std::printf("dump: %s -> %s\r\n", in_text.c_str(), out_text.c_str());
    std::fflush(stdout);
    status = list_pack(in_path, out_path);
  } else if (std::strcmp(option, "-d") == 0) {
    std::printf("decompress: %s -> %s\r\n", in_text.c_str(), out_text.c_str());
    std::fflush(stdout);
    status = decompress_pack(in_path, out_path);
  } else {
    std::printf("compress: %s -> %s\r\n", in_text.c_str(), out_text.c_str());
    std::fflush(stdout);
    status = compress_pack(in_path, out_path);
  }
  std::fflush(stdout);
  return status;
}

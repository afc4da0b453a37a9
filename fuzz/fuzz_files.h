// SPDX-License-Identifier: MIT
// For the targets that run a whole command: the input goes to a file of its
// own, the command's output to another, in a private folder on the memory
// file system when there is one, and what the commands print goes nowhere.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

struct FuzzFiles {
  std::string dir, in, out;

  FuzzFiles() {
    char shm[] = "/dev/shm/morvane-fuzz-XXXXXX";
    char tmp[] = "/tmp/morvane-fuzz-XXXXXX";
    const char* made = mkdtemp(shm);
    if (made == nullptr) made = mkdtemp(tmp);
    if (made == nullptr) std::abort();
    dir = made;
    in = dir + "/in.pack";
    out = dir + "/out";
    // The compress command may write a dump into the current folder.
    if (chdir(dir.c_str()) != 0) std::abort();
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  }

  ~FuzzFiles() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  void write_input(const uint8_t* data, size_t size) const {
    FILE* f = std::fopen(in.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();
    std::remove(out.c_str());
  }

  // The output file's bytes; empty when there is none.
  std::vector<uint8_t> read_output() const {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(out.c_str(), "rb")) {
      uint8_t buf[1 << 16];
      size_t got;
      while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + got);
      std::fclose(f);
    }
    return bytes;
  }
};

inline const FuzzFiles& fuzz_files() {
  static const FuzzFiles files;
  return files;
}

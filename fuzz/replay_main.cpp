// SPDX-License-Identifier: MIT
// Runs a fuzz target over files and folders of inputs, without libFuzzer:
//   <target>_replay DIR_OR_FILE...
// A missing path is skipped; the run fails only by crashing or trapping.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> read_all(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buf[1 << 16];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + got);
    std::fclose(f);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    struct stat st {};
    if (stat(argv[i], &st) != 0) continue;
    if (!S_ISDIR(st.st_mode)) {
      files.push_back(argv[i]);
      continue;
    }
    if (DIR* d = opendir(argv[i])) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') files.push_back(std::string(argv[i]) + "/" + e->d_name);
      closedir(d);
    }
  }
  std::sort(files.begin(), files.end());
  for (const std::string& f : files) {
    const std::vector<uint8_t> bytes = read_all(f);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "replayed %zu inputs\n", files.size());
  return 0;
}

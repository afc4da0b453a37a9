// SPDX-License-Identifier: MIT
// What run_tool.h says of morvane's output, on every system.
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "support/run_tool.h"

std::string opening(const std::string& cmd, const std::string& in, const std::string& out) {
  return kVersionLine + cmd + ": " + in + " -> " + out + "\r\n";
}

std::string progress(const std::string& name, size_t n, size_t l) {
  uint32_t pct = n == 0 ? 0 : static_cast<uint32_t>(l * 100u) / static_cast<uint32_t>(n);
  return name + " " + std::to_string(n) + " -> " + std::to_string(l) + " (" + std::to_string(pct) + "%)\r\n";
}

std::string summary(const char* cmd, size_t in, size_t out) {
  return std::string(cmd) + ": " + std::to_string(in) + " -> " + std::to_string(out) + " (" +
         std::to_string(static_cast<uint32_t>(out * 100u) / static_cast<uint32_t>(in)) + "%)\r\n" +
         "file size: " + std::to_string(in) + " -> " + std::to_string(out) + "\n";
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void pass_on_errors(const std::string& errors) {
  for (size_t pos = 0; pos < errors.size();) {
    size_t end = errors.find('\n', pos);
    end = end == std::string::npos ? errors.size() : end + 1;
    const std::string_view line(errors.data() + pos, end - pos);
    if (line.rfind("morvane: ", 0) != 0) std::fwrite(line.data(), 1, line.size(), stderr);
    pos = end;
  }
}

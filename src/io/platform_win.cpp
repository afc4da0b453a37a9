// SPDX-License-Identifier: MIT
#include "io/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <thread>

#include "io/win_path.h"

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide == nullptr || n != argc) {
    if (wide != nullptr) LocalFree(wide);
    return {argv, argv + argc};
  }
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(utf8_from_wide(wide[i]));
  LocalFree(wide);
  return out;
}

void binary_standard_streams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

int usable_processors() {
  DWORD_PTR process = 0, system = 0;
  int n = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
    n = std::popcount(static_cast<unsigned long long>(process));
  if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
  return n > 0 ? n : 1;
}

bool is_terminal(int fd) { return _isatty(fd) != 0; }

unsigned terminal_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
}

void write_standard_error(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const unsigned chunk = static_cast<unsigned>(std::min<size_t>(text.size() - done, 1u << 30));
    const int n = _write(2, text.data() + done, chunk);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

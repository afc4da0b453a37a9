// SPDX-License-Identifier: MIT
#include "io/platform.h"

#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include <thread>

std::vector<std::string> utf8_arguments(int argc, char** argv) { return {argv, argv + argc}; }

void binary_standard_streams() {}

int usable_processors() {
  int n = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
  if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
  return n > 0 ? n : 1;
}

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

unsigned terminal_columns() {
  winsize ws{};
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 ? ws.ws_col : 0;
}

void write_standard_error(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

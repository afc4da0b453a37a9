#include "io/platform.h"

#include <sched.h>

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

// SPDX-License-Identifier: MIT
// A progress line on standard error for the long commands: entries done of
// the total, bytes, rate and time left, rewritten in place with "\r" and
// cleared at the end. Drawn only when standard error is a terminal and
// MORVANE_PROGRESS is not "0": a pipe or a file never gets a byte of it.
// The commands call entry_done once per finished entry, in table order, from
// the thread that prints; before_output() and clear() take the line off the
// screen before other text is printed there.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The line itself, for a terminal of `width` columns (cut to width - 1 so
// that it never wraps): "<what> D/N entries, B of T MB, R MB/s, M:SS left".
// total_bytes 0: no total and the time left from the entry count; elapsed
// below 0.2 s or nothing done: no rate and no time left yet.
std::string progress_line(const char* what, uint64_t done, uint64_t total, uint64_t bytes, uint64_t total_bytes,
                          double elapsed_seconds, unsigned width);

// Whether a progress line may be drawn: fd is a terminal and `setting` (the
// value of MORVANE_PROGRESS, nullptr when unset) is not "0".
bool progress_wanted(int fd, const char* setting);

class Progress {
 public:
  // what: the command's name at the start of the line. total_bytes: the
  // bytes the entries hold in all, 0 when not known beforehand.
  Progress(const char* what, uint64_t total_entries, uint64_t total_bytes);
  ~Progress() { finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // One more entry done, of `bytes` bytes. Redraws at most 10 times a
  // second (the first entry, the last, and whenever 100 ms have passed),
  // and at once after other text took the line away.
  void entry_done(uint64_t bytes);
  // Before a line on standard output: takes the line away when standard
  // output is a terminal too.
  void before_output();
  // Before a line on standard error: takes the line off the screen (nothing
  // when none is drawn).
  void clear();
  // Clears the line for good; nothing is drawn after it.
  void finish();

 private:
  void draw();

  bool enabled_ = false;
  bool stdout_terminal_ = false;
  bool cleared_ = false;  // taken away by other text, to be drawn again
  const char* what_;
  uint64_t total_ = 0, total_bytes_ = 0, done_ = 0, bytes_ = 0;
  size_t shown_ = 0;  // columns of the line on the screen, 0: none
  unsigned width_ = 80;
  std::chrono::steady_clock::time_point start_, last_draw_;
  bool drawn_once_ = false;
};

// Clears the line of the Progress being shown, if any: for messages printed
// where no Progress object is at hand (morvane's explanations).
void progress_clear();

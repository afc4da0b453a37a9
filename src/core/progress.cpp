// SPDX-License-Identifier: MIT
#include "core/progress.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io/platform.h"

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// The one terminal line there is: the Progress drawing it, if any.
Progress* g_shown = nullptr;

void write_all(const std::string& s) { write_standard_error(s); }

std::string megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string minutes(double seconds) {
  const uint64_t s = static_cast<uint64_t>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                static_cast<unsigned long long>(s % 60));
  return text;
}

}  // namespace

std::string progress_line(const char* what, uint64_t done, uint64_t total, uint64_t bytes, uint64_t total_bytes,
                          double elapsed_seconds, unsigned width) {
  std::string line = std::string(what) + " " + std::to_string(done) + "/" + std::to_string(total) + " entries, " +
                     megabytes(bytes);
  line += total_bytes != 0 ? " of " + megabytes(total_bytes) + " MB" : " MB";
  if (done > 0 && elapsed_seconds >= 0.2) {
    const double rate = static_cast<double>(bytes) / elapsed_seconds;
    line += ", " + megabytes(static_cast<uint64_t>(rate)) + " MB/s";
    // The bytes tell the time left better than the entries, whose sizes vary.
    double left = -1;
    if (total_bytes != 0 && bytes != 0 && bytes <= total_bytes)
      left = static_cast<double>(total_bytes - bytes) / rate;
    else if (total_bytes == 0 && done <= total)
      left = elapsed_seconds * static_cast<double>(total - done) / static_cast<double>(done);
    if (left >= 0) line += ", " + minutes(left) + " left";
  }
  if (width > 1 && line.size() > width - 1) line.resize(width - 1);
  return line;
}

bool progress_wanted(int fd, const char* setting) {
  if (setting != nullptr && std::strcmp(setting, "0") == 0) return false;
  return is_terminal(fd);
}

Progress::Progress(const char* what, uint64_t total_entries, uint64_t total_bytes)
    : enabled_(progress_wanted(2, std::getenv("MORVANE_PROGRESS"))),
      what_(what),
      total_(total_entries),
      total_bytes_(total_bytes),
      start_(std::chrono::steady_clock::now()) {
  const unsigned columns = enabled_ ? terminal_columns() : 0;
  if (columns > 1) width_ = columns;
  stdout_terminal_ = enabled_ && is_terminal(1);
  if (enabled_) g_shown = this;
}

void Progress::entry_done(uint64_t bytes) {
  ++done_;
  bytes_ += bytes;
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_once_ && !cleared_ && done_ != total_ && now - last_draw_ < kRedrawEvery) return;
  last_draw_ = now;
  drawn_once_ = true;
  draw();
}

void Progress::draw() {
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::string line = progress_line(what_, done_, total_, bytes_, total_bytes_, elapsed, width_);
  const size_t columns = line.size();
  // Blanks over what is left of a longer line before.
  if (columns < shown_) line.append(shown_ - columns, ' ');
  write_all("\r" + line);
  shown_ = columns;
  cleared_ = false;
}

void Progress::before_output() {
  if (stdout_terminal_) clear();
}

void Progress::clear() {
  if (!enabled_ || shown_ == 0) return;
  // Spaces between two carriage returns, built in place: g++ 12 warns
  // falsely (-Wrestrict) on "\r" + string once inlined at -O3.
  std::string blank(shown_ + 2, ' ');
  blank.front() = blank.back() = '\r';
  write_all(blank);
  shown_ = 0;
  cleared_ = true;
}

void Progress::finish() {
  clear();
  enabled_ = false;
  if (g_shown == this) g_shown = nullptr;
}

void progress_clear() {
  if (g_shown != nullptr) g_shown->clear();
}

// SPDX-License-Identifier: MIT
// Runs the morvane executable and captures what it prints.
#pragma once

#include <string>
#include <vector>

struct ToolRun {
  int status = -1;     // exit status (0..255), or -1 when it did not exit normally
  std::string output;  // standard output, byte for byte
  std::string errors;  // standard error, byte for byte (also copied to the
                       // caller's, but for morvane's "morvane: " lines)
};

// morvane's lines: the version and "<cmd>: IN -> OUT\r\n" it starts with,
// "<name> N -> L (P%)\r\n" for an entry, and the run's
// "<cmd>: IN -> OUT (P%)\r\n" and "file size: IN -> OUT\n".
inline const std::string kVersionLine = "VERSION 2.00230624\n";
std::string opening(const std::string& cmd, const std::string& in, const std::string& out);
std::string progress(const std::string& name, size_t n, size_t l);
std::string summary(const char* cmd, size_t in, size_t out);

// How many times `what` occurs in text.
size_t count_of(const std::string& text, const std::string& what);

// Copies to the caller's standard error every line of a run's but morvane's
// own "morvane: " explanations (a sanitizer's report, another program's
// messages), so that they reach the test's log whatever the test checks.
void pass_on_errors(const std::string& errors);

// Runs `exe args...` in directory cwd (empty: the current one). With
// file_limit > 0 the child runs under that RLIMIT_FSIZE with SIGXFSZ ignored
// (POSIX only: Windows has no such limit, and file_limit is ignored there).
ToolRun run_tool(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd = "",
                 long file_limit = 0);

// Starts `exe args...` without waiting for it, its standard output sent to
// /dev/null. Returns the child's pid, or -1.
int spawn_tool(const std::string& exe, const std::vector<std::string>& args);
// Waits for a child of spawn_tool and returns its wait status (for
// WIFSIGNALED and the like; on Windows the exit code), or -1.
int wait_tool(int pid);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path;
  std::string file(const std::string& name) const { return path + "/" + name; }
  // Names of the entries in the directory, sorted.
  std::vector<std::string> list() const;
};

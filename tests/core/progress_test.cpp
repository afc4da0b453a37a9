// SPDX-License-Identifier: MIT
// The progress line: its text, and the commands under a pseudo-terminal
// (script), with it off and with standard error in a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "core/progress.h"
#include "support/pack_writer.h"
#include "support/run_tool.h"

namespace {

TEST(ProgressTest, Line) {
  struct Case {
    const char* what;
    uint64_t done, total, bytes, total_bytes;
    double elapsed;
    unsigned width;
    const char* line;
  };
  const Case cases[] = {
      {"export", 0, 10, 0, 5000000, 0.0, 80, "export 0/10 entries, 0.0 of 5.0 MB"},
      {"compress", 3, 10, 1500000, 5000000, 1.0, 80, "compress 3/10 entries, 1.5 of 5.0 MB, 1.5 MB/s, 0:02 left"},
      {"verify", 1, 100, 1000000, 100000000, 10.0, 80,
       "verify 1/100 entries, 1.0 of 100.0 MB, 0.1 MB/s, 16:30 left"},
      // No byte total: the time left from the entries.
      {"create", 2, 8, 400000, 0, 10.0, 80, "create 2/8 entries, 0.4 MB, 0.0 MB/s, 0:30 left"},
      // Too early for a rate.
      {"report", 5, 10, 400000, 800000, 0.1, 80, "report 5/10 entries, 0.4 of 0.8 MB"},
      // More bytes than the total told: no time left.
      {"verify", 2, 3, 900, 800, 1.0, 80, "verify 2/3 entries, 0.0 of 0.0 MB, 0.0 MB/s"},
      // Never as wide as the terminal, so it never wraps.
      {"decompress", 3, 10, 0, 0, 0.0, 20, "decompress 3/10 ent"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(progress_line(c.what, c.done, c.total, c.bytes, c.total_bytes, c.elapsed, c.width), c.line) << c.line;
}

std::string text_of(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// Each command run three ways: its standard error a terminal (script),
// the same with MORVANE_PROGRESS=0, and a file. Standard output goes to a
// file every time and must not change by a byte.
TEST(ProgressTest, CommandsUnderATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script is not installed";
  TempDir dir;
  const std::string samples = MORVANE_SAMPLES;
  write_file(dir.file("manifest.json"), {});
  struct Case {
    const char* label;  // at the start of the progress line
    std::string command;
  };
  std::vector<Case> cases = {
      {"compress", std::string(MORVANE_EXE) + " -c " + samples + "/demo_tiled.pack out.pack"},
      {"decompress", std::string(MORVANE_EXE) + " -d " + samples + "/demo.packz out.pack"},
  };
#ifdef MORVANE_TOOL_EXE
  const std::string tool = MORVANE_TOOL_EXE;
  cases.push_back({"verify", tool + " verify " + samples + "/demo_tiled.packz"});
  cases.push_back({"export", tool + " export " + samples + "/demo.pack exported"});
  cases.push_back({"create", tool + " create exported/manifest.json created.pack"});
  cases.push_back({"report", tool + " report " + samples + "/demo_tiled.packz page.html"});
#endif
  for (const Case& c : cases) {
    std::string plain_out, plain_err, off_err;
    for (const char* how : {"file", "off", "terminal"}) {
      const std::string run = "cd " + dir.path + " && " + c.command + " >" + dir.file("out.txt");
      std::string shell;
      if (std::string(how) == "file") shell = run + " 2>" + dir.file("err.txt");
      else
        shell = std::string(std::string(how) == "off" ? "MORVANE_PROGRESS=0 " : "") + "script -qfec '" + run +
                "' /dev/null >" + dir.file("err.txt");
      ASSERT_EQ(run_tool("/bin/sh", {"-c", shell}).status, 0) << c.label << " " << how;
      const std::string out = text_of(read_file(dir.file("out.txt")));
      const std::string err = text_of(read_file(dir.file("err.txt")));
      if (std::string(how) == "file") {
        plain_out = out;
        plain_err = err;
        EXPECT_EQ(err.find(" entries, "), std::string::npos) << c.label;
        continue;
      }
      EXPECT_EQ(out, plain_out) << c.label << " " << how;
      if (std::string(how) == "off") {
        // The terminal ends its lines with "\r\n"; nothing else differs.
        std::string lines = err;
        for (size_t at; (at = lines.find("\r\n")) != std::string::npos;) lines.erase(at, 1);
        EXPECT_EQ(lines, plain_err) << c.label;
        off_err = err;
        continue;
      }
      // Drawn with "\r", the last state shown, then cleared: blanks over it
      // and the cursor back at the line's start. Without its lines the
      // terminal holds what it holds with the progress off.
      const std::string line = std::string(1, '\r').append(c.label).append(1, ' ');
      const size_t last = err.rfind(line + "7/7 entries, ");
      ASSERT_NE(last, std::string::npos) << c.label << ": " << err;
      const size_t clear = err.find('\r', last + 1);
      ASSERT_NE(clear, std::string::npos) << c.label;
      const size_t blanks_end = err.find_first_not_of(' ', clear + 1);
      ASSERT_NE(blanks_end, std::string::npos) << c.label;
      EXPECT_EQ(err[blanks_end], '\r') << c.label;
      std::string shown = err.substr(last + 1, clear - last - 1);
      shown.erase(shown.find_last_not_of(' ') + 1);
      EXPECT_GE(blanks_end - clear - 1, shown.size()) << c.label;
      std::string rest;
      for (size_t i = 0; i < err.size();) {
        const size_t next = err.find('\r', i + 1);
        const size_t blanks = err.find_first_not_of(' ', i + 1);
        if (err.compare(i, line.size(), line) == 0) {
          i = next == std::string::npos ? err.size() : next;
        } else if (err[i] == '\r' && blanks != std::string::npos && blanks > i + 1 && err[blanks] == '\r') {
          i = blanks + 1;
        } else {
          rest += err[i++];
        }
      }
      EXPECT_EQ(rest, off_err) << c.label;
    }
  }
}

}  // namespace

// SPDX-License-Identifier: MIT
// Every command under write faults and damaged inputs: status 1, one line
// that says what went wrong, nothing committed, the input untouched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/encode.h"
#include "support/pack_writer.h"
#include "support/run_tool.h"
#include "tile/tile_image.h"

namespace {

const char* const kOptions[] = {"-c", "-d", "-i"};

// A pack each command can convert, written to `name` in dir: compressed for
// -d, raw for -c and -i.
std::vector<uint8_t> pack_for(const std::string& option, const TempDir& dir, const char* name = "in.pack") {
  TestPack p;
  p.entries.push_back(image_entry("noise", 11, 160, 120, ImageKind::Noise, 1));
  p.entries.push_back(image_entry("flat", 1, 64, 64, ImageKind::Flat, 2));
  write_file(dir.file(name), build_pack(p));
  if (option == "-d") run_tool(MORVANE_EXE, {"-c", dir.file(name), dir.file(name)});
  return read_file(dir.file(name));
}

TEST(FaultTest, FullDeviceFailsEveryCommand) {
  for (const char* option : kOptions) {
    TempDir dir;
    const std::vector<uint8_t> input = pack_for(option, dir);
    ToolRun r = run_tool(MORVANE_EXE, {option, dir.file("in.pack"), "/dev/full"});
    EXPECT_EQ(r.status, 1) << option;
    EXPECT_EQ(count_of(r.output, "write /dev/full failed"), 1u) << option << r.output;
    EXPECT_EQ(r.errors, "morvane: /dev/full: No space left on device; the output was not written\n") << option;
    EXPECT_EQ(read_file(dir.file("in.pack")), input);
  }
}

TEST(FaultTest, FileSizeLimitCommitsNothing) {
  for (const char* option : kOptions) {
    TempDir dir;
    const std::vector<uint8_t> input = pack_for(option, dir);
    write_file(dir.file("out"), {'o', 'l', 'd'});
    // The listing is short: a tiny limit stops it too.
    const long limit = std::string(option) == "-i" ? 20 : 4000;
    ToolRun r = run_tool(MORVANE_EXE, {option, dir.file("in.pack"), dir.file("out")}, "", limit);
    EXPECT_EQ(r.status, 1) << option;
    EXPECT_EQ(count_of(r.output, "write " + dir.file("out") + " failed"), 1u) << option << r.output;
    EXPECT_EQ(read_file(dir.file("out")), (std::vector<uint8_t>{'o', 'l', 'd'})) << option;
    EXPECT_EQ(read_file(dir.file("in.pack")), input);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"in.pack", "out"})) << option;
  }
}

TEST(FaultTest, UnwritableDirectory) {
  TempDir dir;
  // Root writes anywhere chmod allows; nothing can be created under /proc.
  const bool root = geteuid() == 0;
  const std::string locked = root ? "/proc/morvane-no-such-dir" : dir.file("locked");
  if (!root) {
    mkdir(locked.c_str(), 0555);
  }
  for (const char* option : kOptions) {
    const std::vector<uint8_t> input = pack_for(option, dir);
    const std::string out = locked + "/out";
    ToolRun r = run_tool(MORVANE_EXE, {option, dir.file("in.pack"), out});
    EXPECT_EQ(r.status, 1) << option;
    EXPECT_EQ(count_of(r.output, "open " + out + " failed\n"), 1u) << option << r.output;
    // The reason from the system: which one depends on who runs the test.
    const std::string reason = std::strerror(root ? ENOENT : EACCES);
    EXPECT_EQ(r.errors, "morvane: " + out + ": " + reason + "\n") << option;
    EXPECT_FALSE(file_exists(out));
  }
}

// Cut in the header, the table or a rectangle, the pack is refused at load;
// cut inside an entry's data, the entry is kept as far as the file holds it.
TEST(FaultTest, TruncatedInputs) {
  for (const char* option : kOptions) {
    TempDir dir;
    const std::vector<uint8_t> input = pack_for(option, dir);
    ParsedPack parsed = parse_pack(input);
    const size_t second = parsed.entries[1].offset;
    for (size_t cut : {size_t{7}, size_t{16 + 20}, second + 2}) {
      std::vector<uint8_t> bytes(input.begin(), input.begin() + static_cast<long>(cut));
      write_file(dir.file("in.pack"), bytes);
      write_file(dir.file("out"), {'o', 'l', 'd'});
      ToolRun r = run_tool(MORVANE_EXE, {option, dir.file("in.pack"), dir.file("out")});
      EXPECT_EQ(r.status, 1) << option << " cut " << cut;
      EXPECT_EQ(read_file(dir.file("out")), (std::vector<uint8_t>{'o', 'l', 'd'})) << option << " cut " << cut;
      EXPECT_EQ(read_file(dir.file("in.pack")), bytes);
    }
    if (std::string(option) == "-i") continue;  // the listing reads no entry data
    const size_t cut = second + 4 + parsed.entries[1].len / 2;
    std::vector<uint8_t> bytes(input.begin(), input.begin() + static_cast<long>(cut));
    write_file(dir.file("in.pack"), bytes);
    ToolRun r = run_tool(MORVANE_EXE, {option, dir.file("in.pack"), dir.file("out")});
    EXPECT_EQ(r.status, 1) << option;
    EXPECT_EQ(count_of(r.output, "flat: "), 1u) << option << r.output;
    ParsedPack out = parse_pack(read_file(dir.file("out")));
    ASSERT_EQ(out.entries.size(), 2u) << option;
    EXPECT_EQ(out.payloads[1], std::vector<uint8_t>(bytes.begin() + static_cast<long>(second + 4), bytes.end()));
    EXPECT_EQ(read_file(dir.file("in.pack")), bytes);
    EXPECT_EQ(out.entries[1].type, parsed.entries[1].type);
  }
}

// Converting in place works; the listing refuses (SafeOutputTest).
TEST(FaultTest, InputIsTheOutputForConversions) {
  for (const char* option : {"-c", "-d"}) {
    TempDir dir;
    const std::vector<uint8_t> input = pack_for(option, dir, "x");
    ToolRun r = run_tool(MORVANE_EXE, {option, dir.file("x"), dir.file("x")});
    EXPECT_EQ(r.status, 0) << option << r.output;
    EXPECT_NE(read_file(dir.file("x")), input) << option;
    EXPECT_EQ(dir.list(), std::vector<std::string>{"x"});
    // A failing run on the same file leaves it as it was.
    const std::vector<uint8_t> now = read_file(dir.file("x"));
    ToolRun limited = run_tool(MORVANE_EXE, {option, dir.file("x"), dir.file("x")}, "", 10);
    if (limited.status == 1) {
      EXPECT_EQ(read_file(dir.file("x")), now) << option;
    }
  }
}

// Interrupted mid-run, the tool removes its temporary file and dies of the
// signal; the output path keeps what it held. -d's workers write 128 MiB in
// place.
TEST(FaultTest, SignalMidRunRemovesTheTemporaryFile) {
  TempDir dir;
  TestPack p;
  // Level-12 LZ4 on 16 MiB: long enough for the signal to land mid-run.
  for (uint32_t seed = 1; seed <= 4; ++seed)
    p.entries.push_back(image_entry(std::string(1, 'e').append(std::to_string(seed)), 11, 1024, 1024, ImageKind::Gradient, seed));
  write_file(dir.file("in.pack"), build_pack(p));
  TestPack blocks = pack_in_mode(1, morvane::CODEC_KIND_RLE);
  TestEntry e;
  e.type = TYPE_TILED;
  e.width = e.height = 2048;
  e.payload = tile_block(std::vector<uint8_t>(size_t{2048} * 2048 * 4, 9), 2048, 2048, 64, 64, 4, morvane::CODEC_KIND_RLE);
  for (uint32_t i = 0; i < 8; ++i) blocks.entries.push_back(e);
  write_file(dir.file("in.packz"), build_pack(blocks));
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  for (int sig : {SIGINT, SIGTERM, SIGHUP, -SIGINT, -SIGTERM}) {
    write_file(dir.file("out.pack"), old);
    const bool d = sig < 0;
    sig = d ? -sig : sig;
    const int pid = spawn_tool(MORVANE_EXE, {d ? "-d" : "-c", dir.file(d ? "in.packz" : "in.pack"),
                                             dir.file("out.pack")});
    ASSERT_GT(pid, 0);
    // Wait for the temporary file, so the signal finds the run under way.
    bool started = false;
    for (int tries = 0; tries < 20000 && !started; ++tries) {
      for (const std::string& name : dir.list()) started = started || name.rfind(".out.pack.", 0) == 0;
      if (!started) usleep(500);
    }
    EXPECT_TRUE(started) << sig;
    kill(pid, sig);
    const int wstatus = wait_tool(pid);
    EXPECT_TRUE(WIFSIGNALED(wstatus)) << sig << " status " << wstatus;
    EXPECT_EQ(WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0, sig);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"in.pack", "in.packz", "out.pack"})) << sig;
    EXPECT_EQ(read_file(dir.file("out.pack")), old) << sig;
  }
}

}  // namespace

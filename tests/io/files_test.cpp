// SPDX-License-Identifier: MIT
// io's own contracts: the output untouched until commit, what Replace and
// Follow do with a link, the same-file check, the signal handler's slots.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "io/files.h"
#include "io/signal_cleanup.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

struct IoTest : testing::Test {
  fs::path dir = fs::temp_directory_path() /
                 ("morvane_io_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override { fs::remove_all(dir); }
  size_t files() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {})); }
  void put(const char* name, const char* text) { std::ofstream(dir / name, std::ios::binary) << text; }
  std::string path(const char* name) const { return (dir / name).string(); }
};

// The bytes go to a temporary file beside the output; the output appears
// whole at commit, and a discarded or abandoned one leaves nothing.
TEST_F(IoTest, OutputAppearsOnlyAtCommit) {
  for (bool commit : {false, true}) {
    put("out", "old");
    {
      OutputFile out;
      ASSERT_TRUE(out.open(path("out").c_str()));
      out.write({reinterpret_cast<const uint8_t*>("new"), 3});
      EXPECT_EQ(files(), 2u);  // the output as it was, and the temporary file
      EXPECT_EQ(slurp(dir / "out"), "old");
      if (commit) {
        EXPECT_TRUE(out.commit());
      }
    }
    EXPECT_EQ(files(), 1u);
    EXPECT_EQ(slurp(dir / "out"), commit ? "new" : "old");
  }
}

#ifndef _WIN32
// Follow writes the link's target; Replace replaces the link and leaves the
// target alone. link_chain names every step on the way.
TEST_F(IoTest, LinksFollowedOrReplaced) {
  struct Case {
    OutputLinks links;
    bool target_written;
  };
  for (const Case c : {Case{OutputLinks::Follow, true}, Case{OutputLinks::Replace, false}}) {
    fs::remove(dir / "link");
    put("target", "old");
    fs::create_symlink("target", dir / "link");
    const fs::path cwd = fs::current_path();
    fs::current_path(dir);
    EXPECT_EQ(link_chain("link"), (std::vector<std::string>{"link", "./target"}));
    OutputFile out;
    ASSERT_TRUE(out.open("link", c.links));
    out.write({reinterpret_cast<const uint8_t*>("new"), 3});
    EXPECT_TRUE(out.commit());
    fs::current_path(cwd);
    EXPECT_EQ(slurp(dir / "target"), c.target_written ? "new" : "old");
    EXPECT_EQ(fs::is_symlink(dir / "link"), c.target_written);
    EXPECT_EQ(slurp(dir / "link"), "new");
  }
}

TEST_F(IoTest, SameFileThroughLinksOnly) {
  put("a", "x");
  put("b", "x");
  fs::create_symlink("a", dir / "sym");
  fs::create_hard_link(dir / "a", dir / "hard");
  InputFile in;
  ASSERT_TRUE(in.open(path("a").c_str()).ok());
  EXPECT_TRUE(in.is_same_file(path("a").c_str()));
  EXPECT_TRUE(in.is_same_file(path("sym").c_str()));
  EXPECT_TRUE(in.is_same_file(path("hard").c_str()));
  EXPECT_FALSE(in.is_same_file(path("b").c_str()));
  EXPECT_FALSE(in.is_same_file(path("none").c_str()));
  EXPECT_EQ(in.open(dir.string().c_str()).code, EISDIR);  // what morvane explains a folder by
}
#endif

// A few slots: when all are armed the next path gets none, and a freed one
// is taken again.
TEST(SignalCleanupTest, SlotsRunOutAndComeBack) {
  ASSERT_TRUE(install_signal_cleanup());
  std::vector<int> slots;
  for (int s; (s = arm_signal_cleanup("/nonexistent/x")) >= 0;) slots.push_back(s);
  ASSERT_FALSE(slots.empty());
  disarm_signal_cleanup(slots.back());
  EXPECT_EQ(slots.back(), -1);
  slots.back() = arm_signal_cleanup("/nonexistent/y");
  EXPECT_GE(slots.back(), 0);
  for (int& s : slots) disarm_signal_cleanup(s);
}

}  // namespace

// SPDX-License-Identifier: MIT
// The command line, pack loading and the listing command, run through the
// real executable with standard output compared byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "cli/report.h"
#include "support/pack_writer.h"
#include "support/run_tool.h"

namespace {

const std::string kUsage =
    "Usage:\r\n  morvane -i in-file out-file\r\n  morvane -c in-file out-file\r\n  morvane -d in-file out-file\r\n";

ToolRun morvane(const std::vector<std::string>& args) { return run_tool(MORVANE_EXE, args); }

std::string text_of(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(CliTest, PercentWrapsIn32Bits) {
  EXPECT_EQ(pack_percent(50, 100), 50);
  EXPECT_EQ(pack_percent(7, 0), 0);
  // The product wraps in 32 bits, as morvane has always printed it.
  EXPECT_EQ(pack_percent(50000000, 100000000), static_cast<int32_t>((50000000u * 100u) / 100000000u));
}

TEST(CliTest, ShortCommandLinePrintsUsage) {
  const std::vector<std::vector<std::string>> cases = {{}, {"-i"}, {"-i", "in.pack"}};
  for (const auto& args : cases) {
    ToolRun r = morvane(args);
    EXPECT_EQ(r.output, kVersionLine + kUsage);
    EXPECT_EQ(r.errors, "morvane: an option, an input file and an output file are needed\n");
    EXPECT_EQ(r.status, 255);
  }
}

TEST(CliTest, ExtraArgumentsAreIgnored) {
  TempDir dir;
  TestPack p;
  write_file(dir.file("in.pack"), build_pack(p));
  ToolRun r = morvane({"-i", dir.file("in.pack"), dir.file("out.txt"), dir.file("other"), "x"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(file_exists(dir.file("out.txt")));
  EXPECT_FALSE(file_exists(dir.file("other")));
}

// Standard output says what the fixed lines say; standard error says why,
// with what the input looks like when its first bytes tell. The option is
// told by its whole string: any but -i and -d compresses.
TEST(LoadTest, InputsThatAreNoPackExplainThemselves) {
  const std::string made_by = "morvane: packs are made from PNG and JPEG files with morvane-tool create MANIFEST PACK\n";
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;  // empty with is_dir or missing
    bool is_dir, missing;
    const char* stdout_line;
    std::string errors;  // after "morvane: <path>: "
  };
  const std::vector<Case> cases = {
      {"missing", {}, false, true, "open %s failed\n", "No such file or directory\n"},
      {"directory", {}, true, false, "open %s failed\n",
       "Is a directory\nmorvane: a pack is one file, made with morvane-tool create MANIFEST PACK\n"},
      {"png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0}, false, false,
       "check magic failed\n", "not a pack: it looks like a PNG image\n" + made_by},
      {"jpeg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}, false, false, "check magic failed\n",
       "not a pack: it looks like a JPEG image\n" + made_by},
      {"empty", {}, false, false, "check magic failed\n", "not a pack: the file is empty\n" + made_by},
      {"other magic", {'R', 'E', 'S', 0x18, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9}, false, false,
       "check magic failed\n", "not a pack: it does not start with the pack magic \"RES\" 0x19\n" + made_by},
  };
  const std::pair<const char*, const char*> options[] = {
      {"-c", "compress"}, {"-d", "decompress"}, {"-i", "dump"},   {"-x", "compress"},
      {"-I", "compress"}, {"-ix", "compress"},  {"-dd", "compress"}, {"i", "compress"}};
  // The input's path, with control bytes where the system allows them, and
  // that path as every line prints it.
#ifdef _WIN32
  const char *in_name = "in", *in_shown = "in";
#else
  const char *in_name = "in\x1b[1m\n", *in_shown = "in\\x1b[1m\\x0a";
#endif
  for (const Case& c : cases) {
    for (auto [option, progress] : options) {
      TempDir dir;
      const std::string in = dir.file(in_name), out = dir.file("out"), shown = dir.file(in_shown);
      if (c.is_dir) {
        std::filesystem::create_directory(in);
      } else if (!c.missing) {
        write_file(in, c.bytes);
      }
      ToolRun r = morvane({option, in, out});
      char line[512];
      std::snprintf(line, sizeof line, c.stdout_line, shown.c_str());
      const size_t size = c.is_dir || c.missing ? 0 : c.bytes.size();
      EXPECT_EQ(r.output, opening(progress, shown, out) + line + "file size: " + std::to_string(size) + "\n")
          << c.what << " " << option;
      EXPECT_EQ(r.errors, "morvane: " + shown + ": " + c.errors) << c.what << " " << option;
      EXPECT_EQ(r.status, 1);
      EXPECT_FALSE(file_exists(out)) << c.what << " " << option;
    }
  }
}

// Packs the file cannot hold are refused at load: one line, no output.
TEST(LoadTest, TruncatedPacksAreRefused) {
  TestPack two;
  two.entries.push_back(image_entry("a", 30, 4, 4, ImageKind::Flat, 1));
  two.entries.push_back(image_entry("b", 30, 4, 4, ImageKind::Flat, 2));
  const std::vector<uint8_t> whole = build_pack(two);
  TestPack short_len;
  short_len.entries.push_back(image_entry("c", 30, 1, 1, ImageKind::Flat, 1));
  short_len.entries[0].len = 3;
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"header", {whole.begin(), whole.begin() + 10}, "less than the 16-byte header"},
      {"table", {whole.begin(), whole.begin() + 40}, "table of 2 entries runs past the end"},
      {"rect", {whole.begin(), whole.begin() + 48 + 16 + 4 + 2}, "entry b at offset 68 lies past the end"},
      {"len", build_pack(short_len), "entry c has length 3"},
  };
  for (const Case& c : cases) {
    for (const char* option : {"-i", "-d"}) {
      TempDir dir;
      write_file(dir.file("in.pack"), c.bytes);
      ToolRun r = morvane({option, dir.file("in.pack"), dir.file("out")});
      EXPECT_NE(r.output.find(c.message), std::string::npos) << c.what << "\n" << r.output;
      EXPECT_NE(r.errors.find(c.message), std::string::npos) << c.what << "\n" << r.errors;
      EXPECT_NE(r.output.find("file size: " + std::to_string(c.bytes.size()) + "\n"), std::string::npos);
      EXPECT_EQ(r.status, 1) << c.what;
      EXPECT_FALSE(file_exists(dir.file("out"))) << c.what;
    }
  }
}

// A run that ends with status 0 writes nothing on standard error, in every
// command and mode, with the "PIC16" dump too.
TEST(StandardErrorTest, SuccessfulRunsWriteNothing) {
  for (uint8_t tiled : {0, 1}) {
    TempDir dir;
    TestPack p = pack_in_mode(tiled, 2);
    const std::optional<TileHint> hint = tiled ? std::optional<TileHint>({16, 16}) : std::nullopt;
    p.entries.push_back(image_entry("PIC16", 1, 20, 10, ImageKind::Gradient, 1, hint));
    // Code 13 has no tiled form: tiled runs would keep it, with status 1.
    if (!tiled) p.entries.push_back(image_entry("k13", 13, 9, 7, ImageKind::Noise, 2, hint));
    p.entries.push_back(jpeg_entry("photo", 16, 16, 40, 3));
    write_file(dir.file("in.pack"), build_pack(p));
    const std::vector<std::vector<std::string>> runs = {
        {"-c", "in.pack", "c.pack"}, {"-c", "c.pack", "cc.pack"}, {"-d", "c.pack", "d.pack"},
        {"-i", "c.pack", "list.txt"}};
    for (const auto& args : runs) {
      ToolRun r = run_tool(MORVANE_EXE, args, dir.path);
      EXPECT_EQ(r.status, 0) << args[0] << " " << args[1] << r.output;
      EXPECT_EQ(r.errors, "") << args[0] << " " << args[1];
    }
  }
}

TEST(ListTest, LinesMatchByteForByte) {
  TempDir dir;
  TestPack p;
  p.entries.push_back(image_entry("bg", 1, 100, 50, ImageKind::Gradient, 1));
  TestEntry packed = image_entry("ABCDEFGH", 15, 10, 10, ImageKind::Flat, 2);
  packed.payload.resize(37);  // a compressed entry: stored size against raw size
  p.entries.push_back(packed);
  p.entries.push_back(jpeg_entry("logo", 30, 20, 500, 3));
  TestEntry tiled = image_entry("t", 39, 16, 8, ImageKind::Flat, 4);
  tiled.payload.resize(90);
  p.entries.push_back(tiled);
  TestEntry empty = image_entry("zero", 30, 0, 7, ImageKind::Flat, 5);
  p.entries.push_back(empty);
  TestEntry len4 = image_entry("len4", 30, 3, 3, ImageKind::Flat, 6);
  len4.payload.clear();
  p.entries.push_back(len4);
  write_file(dir.file("in.pack"), build_pack(p));

  ToolRun r = morvane({"-i", dir.file("in.pack"), dir.file("list.txt")});
  EXPECT_EQ(r.status, 0);
  const size_t size = read_file(dir.file("in.pack")).size();
  EXPECT_EQ(r.output, opening("dump", dir.file("in.pack"), dir.file("list.txt")) + "file size: " +
                          std::to_string(size) + "\n");
  // Offsets: table ends at 16 + 6 * 16 = 112.
  const std::string expected =
      "bg type 1, width 100, height 50, offset 0x74, raw_len 10000, len 10000, ratio 100%\r\n"
      "ABCDEFGH type 15, width 10, height 10, offset 0x2788, raw_len 400, len 37, ratio 9%\r\n"
      "logo type 38, width 30, height 20, offset 0x27b4, raw_len 1200, len 500, ratio 41%\r\n"
      "t type 39, width 16, height 8, offset 0x29ac, raw_len 256, len 90, ratio 35%\r\n"
      "zero type 30, width 0, height 7, offset 0x2a0c, raw_len 0, len 0, ratio 0%\r\n"
      "len4 type 30, width 3, height 3, offset 0x2a10, raw_len 9, len 0, ratio 0%\r\n";
  EXPECT_EQ(text_of(read_file(dir.file("list.txt"))), expected);
}

// A control byte in a name is printed as "\xNN" in every line -c, -d and -i
// write, whole and tiled: each run's lines are those of the same pack with
// plain names of the same lengths, the plain names replaced by the shown ones.
TEST(ListTest, ControlBytesInNamesArePrintedAsHex) {
  struct Name {
    std::string bytes, plain, shown;
  };
  const Name names[] = {{"a\x1b[31m", "aaaaaaa", "a\\x1b[31m"},
                        {"b\nc\r", "bbbb", "b\\x0ac\\x0d"},
                        {"d\\e\x7f\x01", "ddddd", "d\\e\\x7f\\x01"},
                        {"\x1f\x02\x03\x04\x05\x06\x07\x08", "ffffffff",
                         "\\x1f\\x02\\x03\\x04\\x05\\x06\\x07\\x08"},
                        {"j\x1b", "jj", "j\\x1b"}};
  auto pack = [&](bool tiled, bool plain) {
    TestPack p = pack_in_mode(tiled, tiled ? 2 : 0);
    for (size_t i = 0; i + 1 < std::size(names); ++i)
      p.entries.push_back(image_entry(plain ? names[i].plain : names[i].bytes, 1, 20, 12, ImageKind::Gradient,
                                      uint32_t(i), tiled ? std::optional<TileHint>({8, 8}) : std::nullopt));
    p.entries.push_back(jpeg_entry(plain ? "jj" : "j\x1b", 10, 10, 40, 7));
    return build_pack(p);
  };
  for (bool tiled : {false, true}) {
    TempDir named, plain;
    write_file(named.file("in.pack"), pack(tiled, false));
    write_file(plain.file("in.pack"), pack(tiled, true));
    const std::vector<std::vector<std::string>> runs = {
        {"-c", "in.pack", "c.pack"},
        {"-d", "c.pack", "d.pack"},
        {"-i", "in.pack", "in.txt"},
        {"-i", "c.pack", "c.txt"}};
    for (const auto& run : runs) {
      ToolRun a = morvane({run[0], named.file(run[1]), named.file(run[2])});
      ToolRun b = morvane({run[0], plain.file(run[1]), plain.file(run[2])});
      std::string expected = b.output, listing = text_of(read_file(plain.file(run[2])));
      for (std::string* text : {&expected, &listing}) {
        for (size_t at; (at = text->find(plain.path)) != std::string::npos;)
          text->replace(at, plain.path.size(), named.path);
        for (const Name& n : names)
          for (size_t at = 0; (at = text->find(n.plain, at)) != std::string::npos; at += n.shown.size())
            text->replace(at, n.plain.size(), n.shown);
      }
      EXPECT_EQ(a.output, expected) << tiled << run[0];
      EXPECT_EQ(a.errors, "") << tiled << run[0];
      if (run[0] == "-i") {
        EXPECT_EQ(text_of(read_file(named.file(run[2]))), listing) << tiled << run[1];
      }
    }
  }
}

// A listing over its own input would lose the pack: refused, here through a
// symbolic link (io's IoTest.SameFileThroughLinksOnly tells the other names).
TEST(SafeOutputTest, ListingOntoItsInputIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "no symbolic links to test on Windows (same path: windows_test.sh in place)";
#else
  TempDir dir;
  TestPack p;
  p.entries.push_back(image_entry("a", 30, 3, 3, ImageKind::Flat, 1));
  const std::vector<uint8_t> pack = build_pack(p);
  write_file(dir.file("x"), pack);
  ASSERT_EQ(symlink(dir.file("x").c_str(), dir.file("sym").c_str()), 0);
  const std::vector<std::string> before = dir.list();
  ToolRun r = morvane({"-i", dir.file("x"), dir.file("sym")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, opening("dump", dir.file("x"), dir.file("sym")) + "dump: " +
                          dir.file("sym") + " is the input file; refusing to overwrite it\nfile size: " +
                          std::to_string(pack.size()) + "\n");
  EXPECT_EQ(read_file(dir.file("x")), pack);
  EXPECT_EQ(dir.list(), before);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("sym")));
#endif
}

TEST(SafeOutputTest, KeepsPermissionsOfReplacedFile) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows files have no permission bits";
#else
  TempDir dir;
  write_file(dir.file("in.pack"), build_pack(TestPack{}));
  write_file(dir.file("out.txt"), {'o', 'l', 'd'});
  chmod(dir.file("out.txt").c_str(), 0640);
  EXPECT_EQ(morvane({"-i", dir.file("in.pack"), dir.file("out.txt")}).status, 0);
  struct stat st {};
  ASSERT_EQ(stat(dir.file("out.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
}

TEST(SafeOutputTest, DevicesAreWrittenNotReplaced) {
  TempDir dir;
  TestPack p;
  p.entries.push_back(image_entry("a", 30, 3, 3, ImageKind::Flat, 1));
  write_file(dir.file("in.pack"), build_pack(p));
#ifdef _WIN32
  // The device Windows has in every folder.
  EXPECT_EQ(morvane({"-i", dir.file("in.pack"), "NUL"}).status, 0);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"in.pack"});
#else
  EXPECT_EQ(morvane({"-i", dir.file("in.pack"), "/dev/null"}).status, 0);
  struct stat st {};
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
#endif
}

}  // namespace

// SPDX-License-Identifier: MIT
// The compress command: whole output packs and standard output compared to
// the byte with packs built from the inputs, the codecs' bytes checked by
// decoding them (RoundTripTest.SamplesGiveTheCommittedPacks holds every
// byte of the coding).
#include <gtest/gtest.h>
#include <lz4.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "support/encode.h"
#include "support/pack_writer.h"
#include "support/run_tool.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

struct PackRun {
  ToolRun tool;
  std::string in, out;
  std::vector<uint8_t> input, output;
};

PackRun compress_bytes(const TempDir& dir, const std::vector<uint8_t>& input) {
  PackRun r;
  r.in = dir.file("in.pack");
  r.out = dir.file("out.pack");
  r.input = input;
  write_file(r.in, r.input);
  r.tool = run_tool(MORVANE_EXE, {"-c", r.in, r.out}, dir.path);
  r.output = read_file(r.out);
  return r;
}

PackRun compress(const TempDir& dir, const TestPack& pack) { return compress_bytes(dir, build_pack(pack)); }

std::string head(const PackRun& r) { return opening("compress", r.in, r.out); }

// What the output holds after entry i's EntryRect, once LZ4_decompress_safe
// has shown it to be LZ4 data of raw.
std::vector<uint8_t> lz4_output(const PackRun& r, size_t i, const std::vector<uint8_t>& raw) {
  const std::vector<uint8_t> z = parse_pack(r.output).payloads.at(i);
  std::vector<uint8_t> back(raw.size() + 1);
  back.resize(static_cast<size_t>(std::max(0, LZ4_decompress_safe(reinterpret_cast<const char*>(z.data()),
                                                                  reinterpret_cast<char*>(back.data()),
                                                                  static_cast<int>(z.size()), int(back.size())))));
  EXPECT_EQ(back, raw) << "entry " << i;
  return z;
}

// Every raw code renumbered to its LZ4 code, the codes without one kept, the
// header's other bytes as they were; JPEG data copied, with its line when it
// starts with "JPEG"; entries under LZ4's 16 bytes and empty ones coded all
// the same; no "PIC16" dump in whole-entry mode.
TEST(CompressWholeTest, RenumbersTypes) {
  TempDir dir;
  TestPack in;
  in.reserved = {1, 2, 3, 4, 5, 6, 7};
  in.last_byte = 0xAB;
  in.codec_kind = 2;  // read only in tiled mode
  struct Case {
    const char* name;
    uint8_t type, out_type;
    uint16_t w, h;
    ImageKind kind;
  };
  const Case cases[] = {
      {"t1", 1, 14, 37, 23, ImageKind::Gradient},   {"t11", 11, 15, 37, 23, ImageKind::Flat},
      {"t30", 30, 31, 37, 23, ImageKind::Glyphs},   {"t32", 32, 33, 37, 23, ImageKind::Noise},
      {"t34", 34, 35, 37, 23, ImageKind::Flat},     {"t36", 36, 37, 37, 23, ImageKind::Gradient},
      {"t5", 5, 5, 37, 23, ImageKind::Flat},        {"t13", 13, 13, 37, 23, ImageKind::Flat},
      {"t200", 200, 200, 37, 23, ImageKind::Noise}, {"tiny", 30, 31, 3, 2, ImageKind::Noise},  // 6 bytes
      {"empty", 1, 14, 0, 9, ImageKind::Flat},      {"PIC16", 1, 14, 4, 4, ImageKind::Flat}};
  in.entries = {jpeg_entry("ABCDEFGH", 320, 200, 41, 1), jpeg_entry("raw", 10, 10, 30, 2)};  // an 8-character name
  in.entries[1].payload[0] = 'X';  // not "JPEG": copied without the line
  uint32_t seed = 1;
  for (const Case& c : cases) in.entries.push_back(image_entry(c.name, c.type, c.w, c.h, c.kind, seed++));
  PackRun r = compress(dir, in);
  TestPack expected = in;
  std::string lines = "entry->name ABCDEFGH len 29  w 320 h 200 \r\n" + progress("ABCDEFGH", 41, 41) + progress("raw", 30, 30);
  for (size_t i = 2; i < in.entries.size(); ++i) {
    expected.entries[i].type = cases[i - 2].out_type;
    expected.entries[i].payload = lz4_output(r, i, in.entries[i].payload);
    lines += progress(in.entries[i].name, in.entries[i].payload.size(), expected.entries[i].payload.size());
  }
  EXPECT_EQ(r.tool.status, 0);
  EXPECT_EQ(r.output, build_pack(expected));
  EXPECT_EQ(r.tool.output, head(r) + lines + summary("compress", r.input.size(), r.output.size()));
  EXPECT_FALSE(file_exists(dir.file("PIC16_orgin.rgb32")));
}

struct TiledCase {
  const char* what;
  uint8_t codec;
  uint8_t type;
  uint16_t w, h;
  TileHint hint;
  ImageKind kind;
  uint32_t magic;  // of the block, and for tiled blocks its tile size and pixel format
  uint16_t tw, th;
  uint8_t format;
};

void PrintTo(const TiledCase& c, std::ostream* os) { *os << c.what; }

class CompressTiledTest : public ::testing::TestWithParam<TiledCase> {};

TEST_P(CompressTiledTest, BlockOfTheImage) {
  const TiledCase& c = GetParam();
  TempDir dir;
  TestPack in = pack_in_mode(1, c.codec);
  TestEntry e = image_entry("img", c.type, c.w, c.h, c.kind, 9, c.hint);
  in.entries.push_back(e);
  in.entries.push_back(jpeg_entry("jpg", 8, 8, 21, 3));
  const std::vector<uint8_t> pixels(e.payload.begin() + 4, e.payload.end());
  PackRun r = compress(dir, in);
  const std::vector<uint8_t> block = parse_pack(r.output).payloads.at(0);
  ASSERT_GE(block.size(), TILE_HEADER_SIZE) << r.tool.output;
  const TileImage t = read_tile_image(block.data());
  EXPECT_EQ(t.magic, c.magic);
  if (c.magic != MORVANE_TILE_MAGIC_RAW) {
    EXPECT_EQ(std::vector<int>({t.tile_width, t.tile_height, t.pixel_format}), std::vector<int>({c.tw, c.th, c.format}));
  }
  std::vector<uint8_t> back(pixels.size());
  EXPECT_EQ(decode_tile_region(block, back, 0, 0, c.w, c.h), int32_t(pixels.size()));
  tile_cache_forget(block.data());
  EXPECT_EQ(back, pixels);
  TestPack expected = in;
  expected.entries[0].type = TYPE_TILED;
  expected.entries[0].payload = block;
  // A tiled JPEG entry copies len bytes after its EntryRect: its own 21 and
  // the 3 bytes of padding that follow it in the input.
  expected.entries[1].payload.resize(24, 0);
  EXPECT_EQ(r.tool.status, 0) << r.tool.output;
  EXPECT_EQ(r.output, build_pack(expected)) << c.what;
  EXPECT_EQ(r.tool.output, head(r) + progress("img", pixels.size(), block.size()) + progress("jpg", 21, 24) +
                               summary("compress", r.input.size(), r.output.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompressTiledTest,
    ::testing::Values(TiledCase{"lz4", 2, 1, 100, 50, {32, 32}, ImageKind::Flat, MORVANE_TILE_MAGIC_LZ4, 32, 32, 1},
                      TiledCase{"rle", 1, 30, 77, 45, {16, 16}, ImageKind::Glyphs, MORVANE_TILE_MAGIC_RLE, 16, 16, 5},
                      TiledCase{"stored", 3, 11, 20, 20, {8, 8}, ImageKind::Flat, MORVANE_TILE_MAGIC_RAW, 0, 0, 0},
                      TiledCase{"fallback", 2, 32, 64, 64, {16, 16}, ImageKind::Noise, MORVANE_TILE_MAGIC_RAW, 0, 0, 0},
                      TiledCase{"strips", 2, 36, 20, 300, {32, 32}, ImageKind::Gradient, MORVANE_TILE_MAGIC_LZ4, 20, 51, 6},
                      TiledCase{"one tile", 1, 1, 30, 20, {64, 64}, ImageKind::Flat, MORVANE_TILE_MAGIC_RLE, 30, 20, 1},
                      TiledCase{"type 6", 2, 6, 40, 40, {16, 16}, ImageKind::Flat, MORVANE_TILE_MAGIC_LZ4, 16, 16, 6}),
    [](const ::testing::TestParamInfo<TiledCase>& info) {
      std::string s = info.param.what;
      for (char& ch : s)
        if (ch == ' ') ch = '_';
      return s;
    });

// The pixels of "PIC16", as read, go to PIC16_orgin.rgb32 in the current
// folder: a new file renamed over its name, so whatever was planted there (a
// symbolic link to someone's file, a dangling link) is replaced and its
// target left as it was; the pack is written as usual. Named as the output
// too, the planted link is replaced by the pack. A folder at the name cannot
// be replaced: the dump is left out with the line of a file that cannot be
// opened.
TEST(CompressTiledTest, DumpNeverWritesThroughItsName) {
#ifdef _WIN32
  GTEST_SKIP() << "no symbolic links to plant on Windows";
#else
  TestPack in = pack_in_mode(1, 2);
  in.entries.push_back(image_entry("PIC16", 1, 20, 10, ImageKind::Gradient, 1, TileHint{8, 8}));
  const std::vector<uint8_t> pixels(in.entries[0].payload.begin() + 4, in.entries[0].payload.end());
  TempDir plain;
  const PackRun reference = compress(plain, in);
  ASSERT_EQ(reference.tool.status, 0);
  EXPECT_EQ(read_file(plain.file("PIC16_orgin.rgb32")), pixels);
  EXPECT_EQ(reference.tool.output.find("entry->name PIC16 rect->width 20 , rect->height 10 \r\nPIC16 400 -> "),
            head(reference).size());
  const std::string dump = "PIC16_orgin.rgb32";
  const std::vector<uint8_t> precious = {'m', 'i', 'n', 'e'};
  enum class Planted { Link, Dangling, Folder };
  struct Case {
    const char* what;
    Planted planted;
    bool output_is_dump;
  };
  const Case cases[] = {{"link", Planted::Link, false},
                        {"dangling link", Planted::Dangling, false},
                        {"folder", Planted::Folder, false},
                        {"link, also the output", Planted::Link, true}};
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir.file("precious.txt"), precious);
    if (c.planted == Planted::Folder) {
      ASSERT_EQ(mkdir(dir.file(dump).c_str(), 0755), 0);
    } else {
      ASSERT_EQ(symlink(c.planted == Planted::Link ? "precious.txt" : "nowhere", dir.file(dump).c_str()), 0);
    }
    const std::string out = c.output_is_dump ? dump : "out.pack";
    write_file(dir.file("in.pack"), reference.input);
    ToolRun t = run_tool(MORVANE_EXE, {"-c", "in.pack", out}, dir.path);
    EXPECT_EQ(read_file(dir.file("precious.txt")), precious) << c.what;
    EXPECT_FALSE(file_exists(dir.file("nowhere"))) << c.what;
    struct stat st {};
    ASSERT_EQ(lstat(dir.file(dump).c_str(), &st), 0) << c.what;
    std::string expected_stdout = reference.tool.output;
    expected_stdout.replace(0, head(reference).size(), opening("compress", "in.pack", out));
    if (c.planted == Planted::Folder) {
      EXPECT_EQ(t.status, 1) << c.what;
      EXPECT_TRUE(S_ISDIR(st.st_mode)) << c.what;
      const std::string dump_line = "entry->name PIC16 rect->width 20 , rect->height 10 \r\n";
      expected_stdout.insert(expected_stdout.find(dump_line) + dump_line.size(), "open " + dump + " failed\n");
      EXPECT_EQ(t.errors, "morvane: " + dump + ": Is a directory\n") << c.what;
    } else {
      EXPECT_EQ(t.status, 0) << c.what;
      EXPECT_TRUE(S_ISREG(st.st_mode)) << c.what;
      EXPECT_EQ(t.errors, "") << c.what;
    }
    EXPECT_EQ(t.output, expected_stdout) << c.what;
    EXPECT_EQ(read_file(dir.file(out)), reference.output) << c.what;
    if (!c.output_is_dump && c.planted != Planted::Folder) {
      EXPECT_EQ(read_file(dir.file(dump)), pixels) << c.what;
    }
    // No temporary file is left behind.
    std::vector<std::string> names = {"in.pack", "precious.txt", dump};
    if (!c.output_is_dump) names.push_back("out.pack");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(dir.list(), names) << c.what;
  }
#endif
}

// Entries that cannot be tiled are kept byte for byte with their type; the
// run goes on with the others and ends with status 1.
TEST(CompressTiledTest, RefusedEntriesAreKept) {
  TempDir dir;
  TestPack in = pack_in_mode(1, 2);
  in.entries.push_back(image_entry("t34", 34, 8, 8, ImageKind::Flat, 2, TileHint{4, 4}));
  in.entries.push_back(image_entry("t5", 5, 8, 8, ImageKind::Flat, 3, TileHint{4, 4}));
  in.entries.push_back(image_entry("zerohint", 1, 8, 8, ImageKind::Flat, 4, TileHint{0, 4}));
  in.entries.push_back(image_entry("ok", 1, 8, 8, ImageKind::Flat, 5, TileHint{4, 4}));
  PackRun r = compress(dir, in);
  EXPECT_EQ(r.tool.status, 1);
  ParsedPack out = parse_pack(r.output);
  ASSERT_EQ(out.entries.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(out.entries[i].type, in.entries[i].type) << i;
    EXPECT_EQ(out.payloads[i], in.entries[i].payload) << i;
    EXPECT_NE(r.tool.output.find(in.entries[i].name + ": "), std::string::npos) << i;
  }
  EXPECT_EQ(out.entries[3].type, TYPE_TILED);
}

TEST(CompressTiledTest, TruncatedPixelsAreKeptAsFarAsTheInputHolds) {
  TempDir dir;
  TestPack in = pack_in_mode(1, 1);
  in.entries.push_back(image_entry("cut", 1, 16, 16, ImageKind::Flat, 1, TileHint{8, 8}));
  std::vector<uint8_t> bytes = build_pack(in);
  bytes.resize(bytes.size() - 100);
  write_file(dir.file("in.pack"), bytes);
  ToolRun t = run_tool(MORVANE_EXE, {"-c", dir.file("in.pack"), dir.file("out.pack")});
  EXPECT_EQ(t.status, 1);
  EXPECT_NE(t.output.find("cut: pixel data runs past the end of the input; entry kept unchanged\r\n"),
            std::string::npos)
      << t.output;
  ParsedPack out = parse_pack(read_file(dir.file("out.pack")));
  ASSERT_EQ(out.entries.size(), 1u);
  EXPECT_EQ(out.entries[0].len, 4 + 4 + 512 - 100);
  EXPECT_EQ(out.payloads[0], std::vector<uint8_t>(in.entries[0].payload.begin(), in.entries[0].payload.end() - 100));
}

// Entries of a compressed code hold no pixel array: -c copies them as
// stored, so a compressed pack comes back byte for byte (a tiled pack's JPEG
// entries aside, which gain the 4 bytes after them as always).
struct RecompressCase {
  const char* what;
  uint8_t tiled, codec;
};

void PrintTo(const RecompressCase& c, std::ostream* os) { *os << c.what; }

class RecompressTest : public ::testing::TestWithParam<RecompressCase> {};

std::string copied(const std::string& name, int type, size_t n) {
  return name + ": already compressed (type " + std::to_string(type) + "); copied as stored\r\n" +
         progress(name, n, n);
}

TEST_P(RecompressTest, CompressedPackComesBack) {
  const RecompressCase& c = GetParam();
  TempDir dir;
  TestPack in = pack_in_mode(c.tiled, c.codec);
  struct Form {
    uint8_t raw, lz4, format;
    ImageKind kind;
  };
  const Form forms[] = {{1, 14, 1, ImageKind::Gradient}, {11, 15, 4, ImageKind::Flat},  {30, 31, 5, ImageKind::Glyphs},
                        {32, 33, 3, ImageKind::Noise},   {34, 35, 2, ImageKind::Flat},  {36, 37, 6, ImageKind::Gradient}};
  uint32_t seed = 1;
  for (const Form& f : forms) {
    if (c.tiled && f.raw == 34) continue;  // no tiled form
    TestEntry e = image_entry(seed == 2 ? "PIC16" : "c" + std::to_string(f.raw), f.raw, 40, 30, f.kind, seed);
    ++seed;
    if (c.tiled) {
      e.payload = tile_block(e.payload, 40, 30, 16, 16, f.format, c.codec);
      e.type = TYPE_TILED;
    } else {
      e.payload = lz4_block(e.payload);
      e.type = f.lz4;
    }
    in.entries.push_back(e);
    if (in.entries.size() == 2) in.entries.push_back(jpeg_entry("splash", 16, 16, 40, 9));
  }
  PackRun r = compress(dir, in);
  TestPack expected = in;
  std::string lines;
  for (size_t i = 0; i < in.entries.size(); ++i) {
    const TestEntry& e = in.entries[i];
    if (e.type != TYPE_JPEG) {
      lines += copied(e.name, e.type, e.payload.size());
    } else if (c.tiled) {
      // The len bytes after its EntryRect: the next entry's EntryRect too.
      const TestEntry& next = in.entries[i + 1];
      expected.entries[i].payload.insert(expected.entries[i].payload.end(),
                                         {uint8_t(next.width), uint8_t(next.width >> 8), uint8_t(next.height),
                                          uint8_t(next.height >> 8)});
      lines += progress(e.name, 40, 44);
    } else {
      lines += "entry->name splash len 28  w 16 h 16 \r\n" + progress(e.name, 40, 40);
    }
  }
  EXPECT_EQ(r.tool.status, 0) << r.tool.output;
  EXPECT_EQ(r.output, build_pack(expected));
  EXPECT_EQ(r.tool.output, head(r) + lines + summary("compress", r.input.size(), r.output.size()));
  EXPECT_FALSE(file_exists(dir.file("PIC16_orgin.rgb32")));
}

INSTANTIATE_TEST_SUITE_P(Modes, RecompressTest,
                         ::testing::Values(RecompressCase{"whole", 0, 0}, RecompressCase{"rle", 1, 1},
                                           RecompressCase{"lz4", 1, 2}, RecompressCase{"stored", 1, 3}),
                         [](const ::testing::TestParamInfo<RecompressCase>& info) { return info.param.what; });

// Beside copied entries, a type-39 entry that is no tiled block, or stored
// data cut by the end of the file, is kept and fails the run.
TEST(RecompressTest, MixedPacks) {
  struct Item {
    TestEntry in, out;
    std::string lines;
  };
  struct Case {
    const char* what;
    uint8_t tiled;
    std::vector<Item> items;
  };
  TestEntry lz = image_entry("lz", 11, 12, 12, ImageKind::Flat, 2);
  lz.type = 15;
  lz.payload = lz4_block(lz.payload);
  TestEntry blk = image_entry("blk", 32, 30, 20, ImageKind::Noise, 3);
  blk.type = TYPE_TILED;
  blk.payload = tile_block(blk.payload, 30, 20, 8, 8, 3, 1);
  // What tiled decompression leaves: 4-byte pixels under type 39.
  TestEntry pix = image_entry("pix", 11, 8, 8, ImageKind::Noise, 4);
  pix.type = TYPE_TILED;
  TestEntry cut = lz;
  cut.name = "cut";
  cut.type = 31;
  cut.len = static_cast<uint32_t>(cut.payload.size() + 4 + 20);
  TestEntry cut_out = cut;
  cut_out.len.reset();
  cut_out.payload.resize(cut.payload.size() + pack_padding(cut.payload.size()), 0);
  const Item lz_item{lz, lz, copied("lz", 15, lz.payload.size())};
  const Item blk_item{blk, blk, copied("blk", 39, blk.payload.size())};
  const Item pix_item{pix, pix,
                      "pix: type 39 data is not a tiled block and cannot be tiled again; copied as stored\r\n" +
                          progress("pix", 256, 256)};
  const Item cut_item{cut, cut_out, "cut: stored data runs past the end of the input; entry kept unchanged\r\n"};
  const Case cases[] = {
      {"whole, pixels under 39", 0, {lz_item, pix_item, blk_item}},
      {"tiled, pixels under 39", 1, {pix_item, lz_item}},
      {"whole, cut", 0, {blk_item, cut_item}},
      {"tiled, cut", 1, {lz_item, cut_item}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    TestPack in, expected;
    in.tiled_flag = expected.tiled_flag = c.tiled;
    in.codec_kind = expected.codec_kind = 2;
    std::string lines;
    for (const Item& item : c.items) {
      in.entries.push_back(item.in);
      expected.entries.push_back(item.out);
      lines += item.lines;
    }
    PackRun r = compress(dir, in);
    EXPECT_EQ(r.tool.status, 1) << c.what;
    EXPECT_EQ(r.output, build_pack(expected)) << c.what;
    EXPECT_EQ(r.tool.output, head(r) + lines + summary("compress", r.input.size(), r.output.size())) << c.what;
  }
}

// Codes without an LZ4 form keep their code when -c compresses them; their
// stored bytes, not their code, tell a second run that they are compressed.
// Each run on the previous run's output gives the first output back, to the
// byte. Tiled mode keeps these codes as stored (no tiled format) every time.
TEST(RecompressTest, KeptCodesComeBackOnEveryRun) {
  struct Case {
    const char* what;
    uint8_t tiled, codec;
  };
  const Case cases[] = {{"whole", 0, 0}, {"rle", 1, 1}, {"lz4", 1, 2}};
  struct Kept {
    uint8_t type;
    ImageKind kind;
    uint16_t w, h;
  };
  const Kept kept[] = {{13, ImageKind::Flat, 64, 64},   {13, ImageKind::Noise, 40, 30},
                       {5, ImageKind::Gradient, 37, 23}, {5, ImageKind::Noise, 20, 20},
                       {2, ImageKind::Flat, 50, 10},     {2, ImageKind::Noise, 3, 3},
                       {200, ImageKind::Glyphs, 33, 17}, {200, ImageKind::Noise, 16, 16}};
  for (const Case& c : cases) {
    TempDir dir;
    TestPack in = pack_in_mode(c.tiled, c.codec);
    const std::optional<TileHint> hint = c.tiled ? std::optional<TileHint>({16, 16}) : std::nullopt;
    uint32_t seed = 1;
    for (const Kept& k : kept) {
      in.entries.push_back(image_entry(std::string(1, 'k').append(std::to_string(seed)), k.type, k.w, k.h, k.kind, seed, hint));
      ++seed;
    }
    // An entry each mode compresses, to be copied on the later runs.
    in.entries.push_back(image_entry("raw", 1, 24, 24, ImageKind::Gradient, 99, hint));
    if (!c.tiled) in.entries.push_back(jpeg_entry("photo", 16, 16, 40, 9));
    PackRun first = compress(dir, in);
    EXPECT_EQ(first.tool.status, c.tiled ? 1 : 0) << c.what << first.tool.output;
    if (!c.tiled) {
      TestPack expected = in;
      for (size_t i = 0; i <= std::size(kept); ++i) expected.entries[i].payload = lz4_output(first, i, in.entries[i].payload);
      expected.entries[std::size(kept)].type = 14;
      EXPECT_EQ(first.output, build_pack(expected)) << c.what;
      EXPECT_TRUE(first.tool.errors.empty()) << first.tool.errors;
    }
    std::string copies;
    const ParsedPack parsed = parse_pack(first.output);
    for (size_t i = 0; i < parsed.entries.size() && !c.tiled; ++i) {
      const std::string name = entry_name_text(parsed.entries[i]).text;
      if (parsed.entries[i].type == TYPE_JPEG) {
        copies += "entry->name photo len 28  w 16 h 16 \r\n" + progress(name, 40, 40);
      } else {
        copies += copied(name, parsed.entries[i].type, parsed.payloads[i].size());
      }
    }
    for (int run = 2; run <= 3; ++run) {
      write_file(dir.file("again.pack"), first.output);
      ToolRun t = run_tool(MORVANE_EXE, {"-c", "again.pack", "out.pack"}, dir.path);
      EXPECT_EQ(t.status, first.tool.status) << c.what << " run " << run;
      EXPECT_TRUE(read_file(dir.file("out.pack")) == first.output) << c.what << " run " << run;
      if (!c.tiled) {
        EXPECT_EQ(t.output, opening("compress", "again.pack", "out.pack") + copies +
                                summary("compress", first.output.size(), first.output.size()))
            << c.what;
      }
    }
  }
}

// Kept-code entries whose stored bytes are one LZ4 block of W x H x k bytes
// (k 1 to 4) are copied, whoever wrote them; any other stored bytes are taken
// as raw pixels, whatever the stored len says.
TEST(RecompressTest, KeptCodeLz4FromAnotherTool) {
  // One hand-made LZ4 block: literal 'A', a 26-byte match at distance 1,
  // then the 5 literals the format ends with: 32 bytes.
  const std::vector<uint8_t> block32 = {0x1F, 'A', 0x01, 0x00, 0x07, 0x50, 'B', 'C', 'D', 'E', 'F'};
  // The same with a 27-byte match: 33 bytes.
  const std::vector<uint8_t> block33 = {0x1F, 'A', 0x01, 0x00, 0x08, 0x50, 'B', 'C', 'D', 'E', 'F'};
  auto fast_lz4 = [](const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> dst(static_cast<size_t>(LZ4_compressBound(static_cast<int>(raw.size()))));
    int n = LZ4_compress_default(reinterpret_cast<const char*>(raw.data()), reinterpret_cast<char*>(dst.data()),
                                 static_cast<int>(raw.size()), static_cast<int>(dst.size()));
    dst.resize(static_cast<size_t>(std::max(n, 0)));
    return dst;
  };
  // `payload` followed by zeros up to `size` bytes, with a stored len
  // covering `payload` alone.
  auto entry = [](uint8_t type, uint16_t w, uint16_t h, const std::vector<uint8_t>& payload, size_t size = 0) {
    TestEntry e;
    e.name = "e";
    e.type = type;
    e.width = w;
    e.height = h;
    e.payload = payload;
    if (size > payload.size()) {
      e.payload.resize(size, 0);
      e.len = static_cast<uint32_t>(payload.size() + 4);
    }
    return e;
  };
  struct Case {
    const char* what;
    TestEntry entry;
    uint8_t out_type;  // 0: copied as stored
  };
  std::vector<Case> cases = {
      {"fixed block, 4x2 x 4 bytes, type 2", entry(2, 4, 2, block32), 0},
      {"fixed block, 8x2 x 2 bytes, type 200", entry(200, 8, 2, block32), 0},
      {"fixed block, 32x1 x 1 byte, type 13", entry(13, 32, 1, block32), 0},
      {"fixed block of 33 bytes, 4x2", entry(2, 4, 2, block33, 16), 2},
      {"fixed block of 32 bytes, 2x2 (8 per pixel)", entry(5, 2, 2, block32, 12), 5},
      {"fixed block under type 1", entry(1, 4, 2, block32, 16), 14},
      {"LZ4 of 40x30 x 4 bytes, type 2", entry(2, 40, 30, fast_lz4(make_image(ImageKind::Flat, 40, 30, 4, 1))), 0},
      // Longer than the pixel array its code tells: read for its stored len.
      {"LZ4 of 40x30 x 4 noise bytes, type 13",
       entry(13, 40, 30, fast_lz4(make_image(ImageKind::Noise, 40, 30, 4, 2))), 0},
      {"LZ4 of 40x30 x 3 bytes, type 200",
       entry(200, 40, 30, fast_lz4(make_image(ImageKind::Gradient, 40, 30, 3, 3))), 0},
  };
  // Raw pixels of a kept code under a wrong stored len: longer than the
  // pixels (into the next entry), shorter, or past the end of the file.
  TestEntry longer = image_entry("e", 13, 10, 10, ImageKind::Flat, 4);
  longer.len = 400 + 4 + 60;
  TestEntry shorter = image_entry("e", 5, 10, 10, ImageKind::Gradient, 5);
  shorter.len = 10;
  TestEntry past_end = image_entry("e", 2, 10, 10, ImageKind::Noise, 6);
  past_end.len = 0xFFFF00;
  cases.push_back({"raw, stored len too long", longer, 13});
  cases.push_back({"raw, stored len too short", shorter, 5});
  cases.push_back({"raw, stored len past the end", past_end, 2});

  for (const Case& c : cases) {
    TempDir dir;
    TestPack in;
    in.entries.push_back(c.entry);
    in.entries.push_back(image_entry("next", 30, 8, 8, ImageKind::Flat, 7));
    PackRun r = compress(dir, in);
    TestPack expected = in;
    TestEntry& e = expected.entries[0];
    e.len.reset();
    std::string line;
    if (c.out_type == 0) {
      e.payload.resize(c.entry.len.value_or(static_cast<uint32_t>(c.entry.payload.size() + 4)) - 4);
      line = copied("e", c.entry.type, e.payload.size());
    } else {
      e.type = c.out_type;
      e.payload = lz4_output(r, 0, c.entry.payload);
      line = progress("e", c.entry.payload.size(), e.payload.size());
    }
    expected.entries[1].type = 31;
    expected.entries[1].payload = lz4_output(r, 1, in.entries[1].payload);
    EXPECT_EQ(r.tool.status, 0) << c.what << r.tool.output;
    EXPECT_EQ(r.output, build_pack(expected)) << c.what;
    EXPECT_EQ(r.tool.output, head(r) + line + progress("next", 64, expected.entries[1].payload.size()) +
                                 summary("compress", r.input.size(), r.output.size()))
        << c.what;
  }
}

// A rectangle too large for any entry, with a few bytes of payload.
TestEntry huge_rect_entry(const std::string& name) {
  TestEntry e;
  e.name = name;
  e.type = 11;
  e.width = 65535;
  e.height = 65535;
  e.payload = {1, 2, 3, 4, 5, 6};
  return e;
}

TEST(CompressTest, HugeRectangleIsRefusedWithoutAllocating) {
  TempDir dir;
  TestPack in;
  in.entries.push_back(huge_rect_entry("huge"));
  for (uint8_t tiled : {0, 1}) {
    in.tiled_flag = tiled;
    in.codec_kind = 2;
    PackRun r = compress(dir, in);
    EXPECT_EQ(r.tool.status, 1);
    EXPECT_NE(r.tool.output.find("huge: image too large for a pack entry; entry kept unchanged\r\n"),
              std::string::npos)
        << r.tool.output;
    ParsedPack out = parse_pack(r.output);
    ASSERT_EQ(out.entries.size(), 1u);
    // Everything after the EntryRect that the input holds, its padding too.
    std::vector<uint8_t> kept = in.entries[0].payload;
    kept.resize(8, 0);
    EXPECT_EQ(out.payloads[0], kept);
  }
}

// ---- Threads -------------------------------------------------------------------

// Small images of every raw type, a JPEG, entries that are kept, "PIC16" and,
// when huge_w is not 0, an image large enough that its tiles are coded side
// by side.
TestPack mixed_pack(uint8_t tiled, uint8_t codec, uint16_t huge_w, int small) {
  TestPack p = pack_in_mode(tiled, codec);
  const std::optional<TileHint> hint = tiled ? std::optional<TileHint>({16, 16}) : std::nullopt;
  const uint8_t types[] = {1, 11, 30, 32, 36};
  const ImageKind kinds[] = {ImageKind::Gradient, ImageKind::Flat, ImageKind::Glyphs, ImageKind::Noise};
  for (int i = 0; i < small; ++i) {
    p.entries.push_back(image_entry("s" + std::to_string(i), types[i % 5], static_cast<uint16_t>(3 + (i * 7) % 41),
                                    static_cast<uint16_t>(2 + (i * 5) % 29), kinds[i % 4], uint32_t(i), hint));
    if (i == small / 3) p.entries.push_back(jpeg_entry("photo", 64, 48, 301, 9));
    if (i == small / 2) p.entries.push_back(image_entry("PIC16", 1, 20, 10, ImageKind::Gradient, 10, hint));
  }
  if (huge_w != 0) {
    p.entries.insert(p.entries.begin() + small / 4,
                     image_entry("huge", 1, huge_w, 400, ImageKind::Flat, 11, tiled ? TileHint{32, 32} : hint));
  }
  // Kept: a compressed code has no tiled pixel format; a rectangle too large
  // for any entry is kept in both modes.
  p.entries.push_back(image_entry("packed", 14, 8, 8, ImageKind::Flat, 12, hint));
  p.entries.insert(p.entries.begin() + 3, huge_rect_entry("toobig"));
  return p;
}

struct ThreadRun {
  ToolRun tool;
  std::vector<uint8_t> output, dump;
  std::vector<std::string> files;
};

ThreadRun convert_on(const TempDir& dir, const char* flag, const char* in, int threads, long file_limit) {
  std::remove(dir.file("PIC16_orgin.rgb32").c_str());
  write_file(dir.file("out.pack"), {'o', 'l', 'd'});
  ThreadRun r;
#ifdef _WIN32
  // The child inherits the variable (no env program there).
  _putenv_s("MORVANE_THREADS", std::to_string(threads).c_str());
  r.tool = run_tool(MORVANE_EXE, {flag, in, "out.pack"}, dir.path, file_limit);
  _putenv_s("MORVANE_THREADS", "");
#else
  r.tool = run_tool("/usr/bin/env", {"MORVANE_THREADS=" + std::to_string(threads), MORVANE_EXE, flag, in,
                                      "out.pack"}, dir.path, file_limit);
#endif
  r.output = read_file(dir.file("out.pack"));
  r.dump = read_file(dir.file("PIC16_orgin.rgb32"));
  r.files = dir.list();
  return r;
}

struct ThreadCase {
  const char* what;
  uint8_t tiled, codec;
  uint16_t huge_w;
  int small;
  long file_limit;  // > 0: writes fail part-way
};

void PrintTo(const ThreadCase& c, std::ostream* os) { *os << c.what; }

class CompressThreadsTest : public ::testing::TestWithParam<ThreadCase> {};

// Every thread count gives the output file, standard output, exit status and
// dump file of one thread, to the byte: compressing the mixed pack, then
// decompressing what one thread compressed.
TEST_P(CompressThreadsTest, SameBytesAsOneThread) {
  const ThreadCase& c = GetParam();
  TempDir dir;
  const TestPack pack = mixed_pack(c.tiled, c.codec, c.huge_w, c.small);
  write_file(dir.file("in.pack"), build_pack(pack));
#ifdef _WIN32
  if (c.file_limit > 0) GTEST_SKIP() << "no file size limit to make writes fail on Windows";
#endif
  auto same_on_more_threads = [&](const char* flag, const char* in, const ThreadRun& one) {
    for (int threads : {2, 3, 16}) {
      const ThreadRun many = convert_on(dir, flag, in, threads, c.file_limit);
      EXPECT_EQ(many.tool.status, one.tool.status) << flag << in << threads;
      EXPECT_EQ(many.tool.output, one.tool.output) << flag << in << threads;
      EXPECT_TRUE(many.output == one.output && many.dump == one.dump) << flag << in << threads;
      EXPECT_EQ(many.files, one.files) << flag << in << threads;
    }
  };
  const ThreadRun one = convert_on(dir, "-c", "in.pack", 1, c.file_limit);
  // Kept entries end the run with 1, a failed write too.
  EXPECT_EQ(one.tool.status, 1);
  EXPECT_NE(one.tool.output.find("toobig: image too large for a pack entry; entry kept unchanged\r\n"),
            std::string::npos);
  if (c.file_limit > 0) {
    EXPECT_NE(one.tool.output.find("write out.pack failed"), std::string::npos) << one.tool.output;
    // Part-way: the first entries are out, the last never printed.
    EXPECT_NE(one.tool.output.find("\ns0 "), std::string::npos) << one.tool.output;
    EXPECT_EQ(one.tool.output.find("\ns" + std::to_string(c.small - 1) + " "), std::string::npos) << one.tool.output;
    EXPECT_EQ(one.tool.output.find("compress: "), one.tool.output.rfind("compress: "));
    EXPECT_EQ(one.output, (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(one.files, (std::vector<std::string>{"in.pack", "out.pack"}));
  } else {
    ParsedPack out = parse_pack(one.output);
    ASSERT_EQ(out.entries.size(), pack.entries.size());
    EXPECT_EQ(one.dump.empty(), !c.tiled);
  }
  same_on_more_threads("-c", "in.pack", one);

  // The compressed pack back: kept entries fail again, JPEG is copied.
  write_file(dir.file("in.packz"), c.file_limit > 0 ? convert_on(dir, "-c", "in.pack", 1, 0).output : one.output);
  std::remove(dir.file("PIC16_orgin.rgb32").c_str());
  const ThreadRun back = convert_on(dir, "-d", "in.packz", 1, c.file_limit);
  EXPECT_EQ(back.tool.status, 1);
  EXPECT_NE(back.tool.output.find("toobig: "), std::string::npos) << back.tool.output;
  if (c.file_limit > 0) {
    EXPECT_NE(back.tool.output.find("write out.pack failed"), std::string::npos) << back.tool.output;
    EXPECT_EQ(back.output, (std::vector<uint8_t>{'o', 'l', 'd'}));
  } else {
    EXPECT_EQ(parse_pack(back.output).entries.size(), pack.entries.size());
  }
  same_on_more_threads("-d", "in.packz", back);

  // Entries that no longer decode at the start, in the middle and at the
  // end: each is kept at its stored size, not the size it was laid out at,
  // and moves the entries after it; the rest decode as before.
  std::vector<uint8_t> spoilt = read_file(dir.file("in.packz"));
  const ParsedPack packed = parse_pack(spoilt);
  const size_t count = packed.entries.size();
  const std::vector<size_t> spoil = {0, count / 2, count - 1};
  for (size_t i : spoil) {
    ASSERT_NE(packed.entries[i].type, TYPE_JPEG) << i;
    // Not a block (its magic), nor valid LZ4 data.
    const size_t at = packed.entries[i].offset + ENTRY_RECT_SIZE;
    std::fill(spoilt.begin() + static_cast<long>(at),
              spoilt.begin() + static_cast<long>(at + std::min<size_t>(4, packed.payloads[i].size())), 0xF0);
  }
  write_file(dir.file("spoilt.packz"), spoilt);
  const ThreadRun kept = convert_on(dir, "-d", "spoilt.packz", 1, c.file_limit);
  if (c.file_limit == 0) {
    const ParsedPack out = parse_pack(kept.output), before = parse_pack(back.output);
    ASSERT_EQ(out.entries.size(), count);
    for (size_t i = 0; i < count; ++i) {
      const bool spoilt_one = std::find(spoil.begin(), spoil.end(), i) != spoil.end();
      EXPECT_EQ(out.payloads[i], spoilt_one ? parse_pack(spoilt).payloads[i] : before.payloads[i]) << i;
    }
  }
  same_on_more_threads("-d", "spoilt.packz", kept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompressThreadsTest,
    ::testing::Values(ThreadCase{"whole", 0, 0, 0, 60, 0}, ThreadCase{"whole_huge", 0, 0, 320, 12, 0},
                      ThreadCase{"rle", 1, 1, 700, 40, 0}, ThreadCase{"lz4", 1, 2, 700, 40, 0},
                      ThreadCase{"stored", 1, 3, 700, 40, 0}, ThreadCase{"lz4_small", 1, 2, 0, 60, 0},
                      ThreadCase{"whole_write_fails", 0, 0, 320, 30, 60000},
                      ThreadCase{"lz4_write_fails", 1, 2, 700, 30, 30000}),
    [](const ::testing::TestParamInfo<ThreadCase>& info) { return std::string(info.param.what); });

}  // namespace

// SPDX-License-Identifier: MIT
// The decompress command and compress -> decompress round trips through the
// real executable.
#include <gtest/gtest.h>

#include "support/encode.h"
#include "support/pack_writer.h"
#include "support/run_tool.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

// "e12" and the like; built by appending (GCC 12 warns wrongly on "e" + s).
std::string label(char c, uint32_t n) {
  std::string s(1, c);
  s += std::to_string(n);
  return s;
}

struct Trip {
  ToolRun c, d;
  std::vector<uint8_t> input, compressed, output;
};

Trip round_trip(const TempDir& dir, const std::vector<uint8_t>& input) {
  Trip t;
  t.input = input;
  write_file(dir.file("in.pack"), t.input);
  t.c = run_tool(MORVANE_EXE, {"-c", dir.file("in.pack"), dir.file("c.pack")});
  t.d = run_tool(MORVANE_EXE, {"-d", dir.file("c.pack"), dir.file("d.pack")});
  t.compressed = read_file(dir.file("c.pack"));
  t.output = read_file(dir.file("d.pack"));
  return t;
}

TestPack all_types_pack(bool tiled, uint8_t codec, uint16_t w, uint16_t h, TileHint hint) {
  TestPack p = pack_in_mode(tiled, codec);
  const std::optional<TileHint> hint_opt = tiled ? std::optional<TileHint>(hint) : std::nullopt;
  const uint8_t types[] = {1, 11, 30, 32, 36, 6};
  const ImageKind kinds[] = {ImageKind::Gradient, ImageKind::Flat, ImageKind::Glyphs, ImageKind::Noise};
  uint32_t seed = 1;
  for (uint8_t type : types) {
    for (ImageKind kind : kinds) {
      p.entries.push_back(image_entry(label('e', seed), type, w, h, kind, seed, hint_opt));
      ++seed;
    }
  }
  p.entries.push_back(jpeg_entry("jpeg", 40, 30, 333, 99));
  return p;
}

// Whole-entry mode gives back the input pack byte for byte: types, offsets,
// lengths and pixels.
TEST(RoundTripTest, WholeEntryModeRestoresThePack) {
  for (auto [w, h] : {std::pair<uint16_t, uint16_t>{37, 23}, {64, 64}, {1, 1}, {3, 0}}) {
    TempDir dir;
    TestPack p = all_types_pack(false, 0, w, h, {});
    p.entries.push_back(image_entry("t5", 5, w, h, ImageKind::Flat, 77));
    p.entries.push_back(image_entry("t13", 13, w, h, ImageKind::Noise, 78));
    Trip t = round_trip(dir, build_pack(p));
    EXPECT_EQ(t.c.status, 0) << t.c.output;
    EXPECT_EQ(t.d.status, 0) << t.d.output;
    EXPECT_EQ(t.output, t.input) << w << "x" << h;
  }
}

struct TiledTrip {
  uint8_t codec;
  uint16_t w, h;
  TileHint hint;
};

void PrintTo(const TiledTrip& c, std::ostream* os) {
  *os << "codec " << int(c.codec) << ", " << c.w << "x" << c.h << " in " << c.hint.hint_width << "x"
      << c.hint.hint_height;
}

class TiledRoundTripTest : public ::testing::TestWithParam<TiledTrip> {};

TEST_P(TiledRoundTripTest, PixelsComeBack) {
  const TiledTrip& c = GetParam();
  TempDir dir;
  TestPack p = all_types_pack(true, c.codec, c.w, c.h, c.hint);
  Trip t = round_trip(dir, build_pack(p));
  EXPECT_EQ(t.c.status, 0) << t.c.output;
  EXPECT_EQ(t.d.status, 0) << t.d.output;
  ParsedPack out = parse_pack(t.output);
  ASSERT_EQ(out.entries.size(), p.entries.size());
  EXPECT_EQ(out.header.bytes, parse_pack(t.input).header.bytes);
  for (size_t i = 0; i + 1 < p.entries.size(); ++i) {
    const TestEntry& e = p.entries[i];
    EXPECT_EQ(out.entries[i].type, TYPE_TILED);
    EXPECT_EQ(out.rects[i].width, e.width);
    EXPECT_EQ(out.rects[i].height, e.height);
    EXPECT_EQ(out.payloads[i], std::vector<uint8_t>(e.payload.begin() + 4, e.payload.end())) << e.name;
    EXPECT_EQ(out.entries[i].offset % 4, 0u);
  }
  // The JPEG entry picks up the 4 bytes after its payload on the way in.
  const std::vector<uint8_t>& jpeg = p.entries.back().payload;
  EXPECT_EQ(std::vector<uint8_t>(out.payloads.back().begin(), out.payloads.back().begin() + 333), jpeg);
}

INSTANTIATE_TEST_SUITE_P(Codecs, TiledRoundTripTest,
                         ::testing::Values(TiledTrip{1, 100, 50, {32, 32}}, TiledTrip{2, 100, 50, {32, 32}},
                                           TiledTrip{3, 100, 50, {32, 32}}, TiledTrip{1, 33, 71, {16, 8}},
                                           TiledTrip{2, 33, 71, {16, 8}}, TiledTrip{2, 7, 5, {64, 64}},
                                           TiledTrip{1, 0, 5, {8, 8}}, TiledTrip{2, 200, 3, {16, 16}}));

// The committed compressed samples were written by -c: they hold every byte
// of its LZ4 and tiled LZ4 coding. -d gives a whole-entry pack back.
TEST(RoundTripTest, SamplesGiveTheCommittedPacks) {
  for (const std::string name : {"demo", "demo_tiled"}) {
    TempDir dir;
    const Trip t = round_trip(dir, read_file(MORVANE_SAMPLES "/" + name + ".pack"));
    EXPECT_TRUE(t.compressed == read_file(MORVANE_SAMPLES "/" + name + ".packz")) << name;
    EXPECT_TRUE(name != "demo" || t.output == t.input);
    const ParsedPack in = parse_pack(t.input), c = parse_pack(t.compressed), d = parse_pack(t.output);
    std::string c_lines, d_lines;
    for (size_t i = 0; i < in.entries.size() && i < c.entries.size() && i < d.entries.size(); ++i) {
      const std::string e = entry_name_text(in.entries[i]).text;
      const bool jpeg = in.entries[i].type == TYPE_JPEG;
      if (jpeg && name == "demo") c_lines += "entry->name splash len bb8  w 96 h 64 \r\n";
      if (jpeg) d_lines += "jpeg_head: 400060 \n";  // its width 96 and height 64
      c_lines += progress(e, jpeg ? in.payloads[i].size() : d.payloads[i].size(), c.payloads[i].size());
      d_lines += progress(e, c.payloads[i].size(), d.payloads[i].size());
    }
    const std::string c_path = dir.file("c.pack"), d_path = dir.file("d.pack");
    EXPECT_EQ(t.c.output, opening("compress", dir.file("in.pack"), c_path) + c_lines +
                              summary("compress", t.input.size(), t.compressed.size()));
    EXPECT_EQ(t.d.output, opening("decompress", c_path, d_path) + d_lines +
                              summary("decompress", t.compressed.size(), t.output.size()));
  }
}

// An empty pack goes both ways unchanged, and lists as an empty file.
TEST(RoundTripTest, EmptyPack) {
  TempDir dir;
  Trip t = round_trip(dir, build_pack(TestPack{}));
  EXPECT_EQ(run_tool(MORVANE_EXE, {"-i", dir.file("in.pack"), dir.file("list.txt")}).status, 0);
  EXPECT_TRUE(file_exists(dir.file("list.txt")) && read_file(dir.file("list.txt")).empty());
  EXPECT_EQ(t.compressed, t.input);
  EXPECT_EQ(t.output, t.input);
  EXPECT_EQ(t.c.output, opening("compress", dir.file("in.pack"), dir.file("c.pack")) + summary("compress", 16, 16));
  EXPECT_EQ(t.c.status + t.d.status, 0);
}

// Data that is not what the mode expects is kept as stored and named; with
// nothing compressed in the pack, standard error says it is not compressed,
// and with an entry of a compressed code that does not decode, how many
// entries were kept.
TEST(DecompressTest, UndecodableEntriesAreKept) {
  for (uint8_t tiled : {0, 1}) {
    TempDir dir;
    TestPack p;
    p.tiled_flag = tiled;
    p.entries.push_back(image_entry("raw", 11, 16, 16, ImageKind::Noise, 1));
    TestEntry bad_magic = image_entry("magic", 1, 4, 4, ImageKind::Flat, 2);
    std::copy_n("XXXX", 4, bad_magic.payload.begin());
    p.entries.push_back(bad_magic);
    p.entries.push_back(jpeg_entry("photo", 16, 16, 40, 3));
    const std::vector<uint8_t> bytes = build_pack(p);
    write_file(dir.file("in.pack"), bytes);
    ToolRun r = run_tool(MORVANE_EXE, {"-d", dir.file("in.pack"), dir.file("out.pack")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("raw: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("magic: "), std::string::npos) << r.output;
    EXPECT_EQ(r.errors, "morvane: " + dir.file("in.pack") +
                            ": not compressed: none of its entries holds compressed data (morvane -c compresses it)\n");
    // Laid out as the tool lays out packs, kept entries give the input back.
    EXPECT_EQ(read_file(dir.file("out.pack")), bytes);
    p.entries[0].type = tiled ? TYPE_TILED : 15;
    write_file(dir.file("in.pack"), build_pack(p));
    r = run_tool(MORVANE_EXE, {"-d", dir.file("in.pack"), dir.file("out.pack")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, "morvane: 2 of 3 entries could not be converted and were kept unchanged (named on "
                        "standard output)\n")
        << int(tiled);
  }
}

// Whole-entry LZ4 data decodes to whatever length it holds, up to the image
// at 4 bytes per pixel: codes without a row count 2 bytes per pixel but may
// hold 3 or 4.
TEST(DecompressTest, Lz4EntriesOfAnyDecodedLength) {
  struct Case {
    const char* what;
    uint8_t type, raw_type;
    size_t decoded;  // 0: not LZ4 data
    bool converted;
  };
  // 8 x 4 pixels: 128 bytes at 4 bytes per pixel.
  const Case cases[] = {
      {"fewer", 14, 1, 10, true},     {"more", 14, 1, 100, true},     {"exact", 31, 30, 128, true},
      {"unlisted", 5, 5, 128, true},  {"one more", 14, 1, 129, false}, {"one more, 4 bpp", 15, 11, 129, false},
      {"garbage", 33, 33, 0, false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    TestPack p;
    TestEntry e = image_entry("e", 1, 8, 4, ImageKind::Flat, 1);
    e.type = c.type;
    std::vector<uint8_t> raw(c.decoded);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i / 16);
    // A literal length that runs past the end of the data.
    e.payload = c.decoded != 0 ? lz4_block(raw) : std::vector<uint8_t>{0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
    p.entries.push_back(e);
    const std::vector<uint8_t> input = build_pack(p);
    write_file(dir.file("in.pack"), input);
    ToolRun r = run_tool(MORVANE_EXE, {"-d", dir.file("in.pack"), dir.file("out.pack")});
    TestPack expected = p;
    std::string line;
    const size_t stored = e.payload.size();
    if (c.converted) {
      expected.entries[0].type = c.raw_type;
      expected.entries[0].payload = raw;
      line = progress("e", stored, raw.size());
    } else {
      line = "e: not valid LZ4 data for its image; entry kept unchanged\r\n";
    }
    const std::vector<uint8_t> out = build_pack(expected);
    EXPECT_EQ(r.status, c.converted ? 0 : 1) << c.what;
    EXPECT_EQ(read_file(dir.file("out.pack")), out) << c.what;
    EXPECT_EQ(r.output, opening("decompress", dir.file("in.pack"), dir.file("out.pack")) + line + summary("decompress", input.size(), out.size()))
        << c.what;
  }
}

// Blocks whose headers claim 2048 x 2047 pixels of 4 bytes: 130 of them
// would pass the offset limit at the 129th. Refused before any is decoded:
// no entry's line, nothing written.
TEST(DecompressTest, OutputPastTheOffsetLimitIsRefusedFirst) {
  TempDir dir;
  const std::vector<uint8_t> flat(size_t{2048} * 2047 * 4, 7);
  TestPack p = pack_in_mode(1, CODEC_KIND_RLE);
  TestEntry e;
  e.type = TYPE_TILED;
  e.width = 2048;
  e.height = 2047;
  e.payload = tile_block(flat, 2048, 2047, 64, 64, 4, CODEC_KIND_RLE);
  ASSERT_FALSE(e.payload.empty());
  for (uint32_t i = 0; i < 130; ++i) {
    e.name = label('e', i);
    p.entries.push_back(e);
  }
  write_file(dir.file("in.pack"), build_pack(p));
  write_file(dir.file("out.pack"), {'o', 'l', 'd'});
  ToolRun r = run_tool(MORVANE_EXE, {"-d", dir.file("in.pack"), dir.file("out.pack")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, opening("decompress", dir.file("in.pack"), dir.file("out.pack")) + "e128: 16769024 bytes do not fit in a pack\r\n" + "file size: " +
                          std::to_string(read_file(dir.file("in.pack")).size()) + "\n");
  EXPECT_EQ(read_file(dir.file("out.pack")), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"in.pack", "out.pack"}));
}

TEST(DecompressTest, OddOffsetIsReported) {
  TempDir dir;
  TestPack p;
  TestEntry e = jpeg_entry("odd", 4, 4, 20, 1);
  p.entries.push_back(e);
  std::vector<uint8_t> bytes = build_pack(p);
  // Move the entry one byte on.
  bytes.insert(bytes.begin() + 32, 0);
  store_le32(bytes.data() + 16, 33);
  write_file(dir.file("in.pack"), bytes);
  ToolRun r = run_tool(MORVANE_EXE, {"-d", dir.file("in.pack"), dir.file("out.pack")});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("odd: odd offset 33\r\n"), std::string::npos) << r.output;
  ParsedPack out = parse_pack(read_file(dir.file("out.pack")));
  ASSERT_EQ(out.entries.size(), 1u);
  EXPECT_EQ(out.entries[0].offset, 32u);
  EXPECT_EQ(out.payloads[0], e.payload);
}

}  // namespace

// The decompress command and compress -> decompress round trips through the
// real executable.
#include <gtest/gtest.h>
#include <lz4.h>

#include "core/convert.h"
#include "support/pack_writer.h"
#include "support/run_tool.h"
#include "tile/tile_image.h"

namespace {

const std::string kVersionLine = "VERSION 2.00230624\n";

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

Trip round_trip(const TempDir& dir, const TestPack& pack) {
  Trip t;
  t.input = build_pack(pack);
  write_file(dir.file("in.pack"), t.input);
  t.c = run_tool(MORVANE_EXE, {"-c", dir.file("in.pack"), dir.file("c.pack")});
  t.d = run_tool(MORVANE_EXE, {"-d", dir.file("c.pack"), dir.file("d.pack")});
  t.compressed = read_file(dir.file("c.pack"));
  t.output = read_file(dir.file("d.pack"));
  return t;
}

TestPack all_types_pack(bool tiled, uint8_t codec, uint16_t w, uint16_t h, TileHint hint) {
  TestPack p;
  p.tiled_flag = tiled ? 1 : 0;
  p.codec_kind = codec;
  std::optional<TileHint> hint_opt;
  if (tiled) hint_opt = hint;
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
    Trip t = round_trip(dir, p);
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
  Trip t = round_trip(dir, p);
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

TEST(DecompressTest, LinesAndJpegHead) {
  TempDir dir;
  TestPack p;
  p.entries.push_back(image_entry("img", 30, 20, 10, ImageKind::Glyphs, 1));
  p.entries.push_back(jpeg_entry("pic", 16, 9, 40, 2));
  Trip t = round_trip(dir, p);
  ParsedPack c = parse_pack(t.compressed);
  const size_t stored = c.payloads[0].size();
  const uint32_t head = load_le32(p.entries[1].payload.data() + 4);
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", head);
  const size_t in = t.compressed.size(), out = t.output.size();
  EXPECT_EQ(t.d.output, kVersionLine + "decompress: " + dir.file("c.pack") + " -> " + dir.file("d.pack") + "\r\n" +
                            "img " + std::to_string(stored) + " -> 200 (" + std::to_string(20000 / stored) + "%)\r\n" +
                            "jpeg_head: " + hex + " \n" + "pic 40 -> 40 (100%)\r\n" + "decompress: " +
                            std::to_string(in) + " -> " + std::to_string(out) + " (" +
                            std::to_string(out * 100 / in) + "%)\r\n" + "file size: " + std::to_string(in) +
                            " -> " + std::to_string(out) + "\n");
  EXPECT_EQ(t.d.status, 0);
}

TEST(DecompressTest, EmptyPack) {
  TempDir dir;
  Trip t = round_trip(dir, TestPack{});
  EXPECT_EQ(t.output, t.input);
  EXPECT_EQ(t.d.status, 0);
}

TEST(DecompressTest, SameSizedTiledEntriesEachGetTheirOwnPixels) {
  TempDir dir;
  TestPack p;
  p.tiled_flag = 1;
  p.codec_kind = 2;
  for (uint32_t seed = 1; seed <= 4; ++seed)
    p.entries.push_back(image_entry(label('s', seed), 1, 16, 16, ImageKind::Noise, seed, TileHint{16, 16}));
  Trip t = round_trip(dir, p);
  ParsedPack out = parse_pack(t.output);
  ASSERT_EQ(out.entries.size(), 4u);
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(out.payloads[i], std::vector<uint8_t>(p.entries[i].payload.begin() + 4, p.entries[i].payload.end()));
}

// Data that is not what the mode expects is kept as stored, and said so.
TEST(DecompressTest, UndecodableEntriesAreKept) {
  for (uint8_t tiled : {0, 1}) {
    TempDir dir;
    TestPack p;
    p.tiled_flag = tiled;
    p.entries.push_back(image_entry("raw", 11, 16, 16, ImageKind::Noise, 1));
    TestEntry bad_magic = image_entry("magic", 1, 4, 4, ImageKind::Flat, 2);
    std::copy_n("XXXX", 4, bad_magic.payload.begin());
    p.entries.push_back(bad_magic);
    const std::vector<uint8_t> bytes = build_pack(p);
    write_file(dir.file("in.pack"), bytes);
    ToolRun r = run_tool(MORVANE_EXE, {"-d", dir.file("in.pack"), dir.file("out.pack")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("raw: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("magic: "), std::string::npos) << r.output;
    // Laid out as the tool lays out packs, kept entries give the input back.
    EXPECT_EQ(read_file(dir.file("out.pack")), bytes);
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
    std::vector<uint8_t> z(LZ4_compressBound(static_cast<int>(raw.size())) + 1);
    const int n = LZ4_compress_default(reinterpret_cast<const char*>(raw.data()), reinterpret_cast<char*>(z.data()),
                                       static_cast<int>(raw.size()), static_cast<int>(z.size()));
    z.resize(static_cast<size_t>(n));
    // A literal length that runs past the end of the data.
    e.payload = c.decoded != 0 ? z : std::vector<uint8_t>{0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
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
      line = "e " + std::to_string(stored) + " -> " + std::to_string(raw.size()) + " (" +
             std::to_string(raw.size() * 100 / stored) + "%)\r\n";
    } else {
      line = "e: not valid LZ4 data for its image; entry kept unchanged\r\n";
    }
    const std::vector<uint8_t> out = build_pack(expected);
    EXPECT_EQ(r.status, c.converted ? 0 : 1) << c.what;
    EXPECT_EQ(read_file(dir.file("out.pack")), out) << c.what;
    EXPECT_EQ(r.output, kVersionLine + "decompress: " + dir.file("in.pack") + " -> " + dir.file("out.pack") + "\r\n" +
                            line + "decompress: " + std::to_string(input.size()) + " -> " +
                            std::to_string(out.size()) + " (" + std::to_string(out.size() * 100 / input.size()) +
                            "%)\r\nfile size: " + std::to_string(input.size()) + " -> " +
                            std::to_string(out.size()) + "\n")
        << c.what;
  }
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

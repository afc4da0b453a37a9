// What both executables share: entry forms and pixels, the tile size and
// the thread count.
#include <gtest/gtest.h>

#include "core/entry_pixels.h"
#include "core/pipeline.h"
#include "core/tile_size.h"
#include "support/encode.h"
#include "support/image_gen.h"
#include "tile/tile_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(EntryPixels, EveryStoredFormGivesThePixels) {
  const EntryRect rect{6, 5};
  const Bytes pixels = make_image(ImageKind::Flat, 6, 5, 2, 3);  // type 1, 2 bytes
  Bytes hinted(4 + pixels.size(), 0);  // a TileHint of 16 x 16, then the pixels
  hinted[0] = hinted[2] = 16;
  std::copy(pixels.begin(), pixels.end(), hinted.begin() + 4);
  const Bytes lz4 = lz4_block(pixels), block = tile_block(pixels, 6, 5, 6, 5, 1, CODEC_KIND_RLE);
  struct Case {
    bool tiled;
    uint8_t type;
    Bytes payload;
    EntryForm form;
    uint8_t raw_type;
  };
  const Case cases[] = {
      {false, 1, pixels, EntryForm::Raw, 1},
      {false, 14, lz4, EntryForm::Lz4, 1},
      {false, 5, Bytes(6 * 5 * 3, 9), EntryForm::Raw, 5},  // no LZ4 form: raw by its size
      {true, 1, hinted, EntryForm::RawAfterHint, 1},
      {true, 39, block, EntryForm::TiledBlock, 1},
      {true, 39, pixels, EntryForm::DecodedTiled, 1},
      {true, 38, Bytes{1, 2}, EntryForm::Jpeg, 38},
  };
  for (const Case& c : cases) {
    PackEntry p;
    p.type = c.type;
    EntryPixels px;
    ASSERT_EQ(entry_pixels(c.tiled, p, rect, c.payload, px).code, 0) << int(c.type);
    EXPECT_EQ(px.form, c.form) << int(c.type);
    EXPECT_EQ(px.raw_type, c.raw_type) << int(c.type);
    if (c.form != EntryForm::Jpeg && c.type != 5) {
      EXPECT_EQ(px.pixels, pixels) << int(c.type);
    }
  }
  PackEntry p;
  p.type = 5;
  EntryPixels px;
  // A code without an LZ4 form whose LZ4 data decodes to fewer bytes than
  // its pixel array.
  EXPECT_LT(entry_pixels(false, p, rect, lz4, px).code, 0);
  p.type = 14;
  EXPECT_EQ(entry_pixels(false, p, rect, Bytes{0xF0, 1}, px).code, ENTRY_ERR_CORRUPT);
  p.type = 1;
  EXPECT_EQ(entry_pixels(false, p, rect, Bytes(59), px).code, ENTRY_ERR_UNKNOWN);
  EXPECT_EQ(raw_type_for_pixels(2, 3), 32);  // PixelFormat 2's type 34 holds 2 bytes
  EXPECT_EQ(raw_type_for_pixels(4, 4), 11);
}

// What entry_pixels does not ask: a kept code told by decoding (as -c
// tells it), and a tiled pack's payload of no known size.
TEST(EntryFormTest, KeptCodesByDecodingAndUnknownSizes) {
  const EntryRect rect{4, 2};
  const Bytes raw(16, 7), lz4 = lz4_block(raw);  // 4 x 2 pixels of 2 bytes
  PackEntry e;
  e.type = 2;
  EXPECT_EQ(classify_entry(false, e, rect, lz4, lz4.size(), KeptCodes::ByDecoding), EntryForm::Lz4);
  EXPECT_EQ(classify_entry(false, e, rect, raw, raw.size(), KeptCodes::ByDecoding), EntryForm::Raw);
  EXPECT_EQ(classify_entry(false, e, rect, lz4, lz4.size() + 1, KeptCodes::ByDecoding), EntryForm::Raw);
  EXPECT_EQ(classify_entry(true, e, rect, Bytes(5), 5), EntryForm::Unknown);
}

TEST(ChooseTileSizeTest, Branches) {
  struct Case {
    uint16_t w, h, tw, th;
    int32_t rw, rh;
  };
  const Case cases[] = {
      {50, 50, 64, 64, 50, 50},      {40, 600, 64, 64, 40, 102},   {600, 30, 64, 64, 136, 30},
      {100, 600, 64, 64, 64, 64},    {10, 900, 32, 16, 10, 51},    {900, 10, 32, 16, 51, 10},
      {200, 200, 64, 64, 64, 64},    {64, 64, 64, 64, 64, 64},     {0, 500, 0, 0, 0, 500},
      {300, 300, 0, 16, 0, 16},      {65535, 65535, 65535, 65535, 65535, 65535},
      // The hint area would overflow 32 bits; the strip is bounded by the image.
      {2, 65535, 65535, 65534, 2, 65535},
  };
  for (const Case& c : cases) {
    TileSize t = choose_tile_size(c.w, c.h, c.tw, c.th);
    EXPECT_EQ(t.tile_width, c.rw) << c.w << "x" << c.h;
    EXPECT_EQ(t.tile_height, c.rh) << c.w << "x" << c.h;
  }
  // Cut lower to fit the 1 MiB tile buffers: 1024 x 256 x 4 bytes.
  EXPECT_EQ(tile_size_for({4000, 4000}, {1024, 1024}, 4).tile_height, 256);
}

TEST(ThreadCountTest, ParsesOnlyPositiveDecimals) {
  const std::pair<const char*, int> cases[] = {
      {"1", 1},    {"2", 2},     {"8", 8},     {"007", 7},   {"64", 64},          {"65", 64},
      {"1000", 64}, {"2147483647", 64}, {nullptr, 5}, {"", 5}, {"0", 5}, {"00", 5}, {"-1", 5}, {"+2", 5},
      {" 2", 5},   {"2 ", 5},    {"2x", 5},    {"x2", 5},    {"1.5", 5},          {"0x10", 5},
      {"2147483648", 5},          {"99999999999999999999", 5},
  };
  for (auto [value, want] : cases) EXPECT_EQ(parse_thread_count(value, 5), want) << (value ? value : "null");
  EXPECT_GE(default_thread_count(), 1);
  EXPECT_LE(default_thread_count(), MAX_CONVERT_THREADS);
}

}  // namespace

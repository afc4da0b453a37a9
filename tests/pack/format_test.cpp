// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "pack/pack_format.h"
#include "pack/pack_load.h"

namespace {

TEST(PackEntryTest, LenIsSplitIntoLowWordAndHighByte) {
  struct Case { uint32_t len; uint8_t b4, b5, b15; };
  const Case cases[] = {{65536, 0x00, 0x00, 0x01}, {65535, 0xFF, 0xFF, 0x00}, {200000, 0x40, 0x0D, 0x03},
                        {90004, 0x94, 0x5F, 0x01}, {PACK_MAX_LEN, 0xFF, 0xFF, 0xFF}};
  for (const Case& c : cases) {
    PackEntry e;
    e.len = c.len;
    uint8_t raw[PACK_ENTRY_SIZE] = {};
    write_pack_entry(e, raw);
    EXPECT_EQ(raw[4], c.b4) << c.len;
    EXPECT_EQ(raw[5], c.b5) << c.len;
    EXPECT_EQ(raw[15], c.b15) << c.len;
    EXPECT_EQ(read_pack_entry(raw).len, c.len);
  }
}

// Bytes per pixel, the tiled PixelFormat and the whole-entry LZ4 forms.
TEST(PackEntryTest, TypeTable) {
  struct Case { uint8_t type; int bpp, format; uint8_t compressed, raw; };
  const Case cases[] = {{1, 2, 1, 14, 1},     {11, 4, 4, 15, 11},   {30, 1, 5, 31, 30},   {32, 3, 3, 33, 32},
                        {34, 2, 2, 35, 34},   {36, 2, 6, 37, 36},   {14, 2, 14, 14, 1},   {15, 4, 15, 15, 11},
                        {31, 1, 31, 31, 30},  {33, 3, 33, 33, 32},  {35, 2, 35, 35, 34},  {37, 2, 37, 37, 36},
                        {5, 3, 5, 5, 5},      {8, 3, 8, 8, 8},      {10, 3, 10, 10, 10},  {12, 3, 12, 12, 12},
                        {13, 4, 13, 13, 13},  {0, 2, 0, 0, 0},      {2, 2, 2, 2, 2},      {6, 2, 6, 6, 6},
                        {38, 2, 38, 38, 38},  {39, 2, 39, 39, 39},  {255, 2, 255, 255, 255}};
  for (const Case& c : cases) {
    EXPECT_EQ(type_bytes_per_pixel(c.type), c.bpp) << int(c.type);
    EXPECT_EQ(pixel_format_for_type(c.type), c.format) << int(c.type);
    EXPECT_EQ(compressed_type(c.type), c.compressed) << int(c.type);
    EXPECT_EQ(raw_type(c.type), c.raw) << int(c.type);
  }
}

TEST(PackEntryTest, NameIsBoundedByItsField) {
  uint8_t raw[PACK_ENTRY_SIZE] = {0, 0, 0, 0, 4, 0, 1, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0x7F};
  PackEntry e = read_pack_entry(raw);
  EXPECT_EQ(entry_name(e), "ABCDEFGH");
  EXPECT_STREQ(entry_name_text(e).text, "ABCDEFGH");
  e.name = {'P', 'I', 'C', '1', '6', 0, 'x', 'y'};
  EXPECT_EQ(entry_name(e), "PIC16");
}

// Only the unsound entries carry a text; every other index finds none.
TEST(PackRecordsTest, ProblemsByIndex) {
  PackRecords r;
  r.problems = {{1, "first"}, {3, "second"}};
  const char* want[] = {"", "first", "", "second", ""};
  for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(entry_problem(r, i), want[i]) << i;
}

TEST(PackFormatTest, Padding) {
  EXPECT_EQ(pack_padding(5), 3u);
  EXPECT_EQ(pack_padding(8), 0u);
  EXPECT_EQ(pack_padding(0), 0u);
}

}  // namespace

#include <gtest/gtest.h>

#include "pack/pack_format.h"

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

TEST(PackEntryTest, BytesPerPixelTable) {
  struct Case { uint8_t type; int bpp; };
  const Case cases[] = {{30, 1}, {31, 1}, {5, 3},  {8, 3},  {10, 3}, {12, 3},  {32, 3}, {33, 3},
                        {11, 4}, {13, 4}, {15, 4}, {0, 2},  {1, 2},  {2, 2},   {14, 2}, {35, 2},
                        {37, 2}, {38, 2}, {39, 2}, {255, 2}};
  for (const Case& c : cases) {
    PackEntry e;
    e.type = c.type;
    EXPECT_EQ(entry_bytes_per_pixel(e), c.bpp) << int(c.type);
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

TEST(PackFormatTest, PaddingAndPercent) {
  EXPECT_EQ(pack_padding(5), 3u);
  EXPECT_EQ(pack_padding(8), 0u);
  EXPECT_EQ(pack_padding(0), 0u);
  EXPECT_EQ(pack_percent(50, 100), 50);
  EXPECT_EQ(pack_percent(7, 0), 0);
  // The product wraps in 32 bits, as the tool has always printed it.
  EXPECT_EQ(pack_percent(50000000, 100000000), static_cast<int32_t>((50000000u * 100u) / 100000000u));
}

}  // namespace

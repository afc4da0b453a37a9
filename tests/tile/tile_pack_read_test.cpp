// SPDX-License-Identifier: MIT
// The pack reader of the tile library (<morvane/pack.h>): entries found by
// index and name in packs built byte by byte here, and every refusal. Packs
// are held in buffers of exactly their size, so a read past one shows under
// AddressSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "morvane/pack.h"
#include "morvane/tile.h"
#include "tile/byte_order.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Entry {
  std::string name;  // up to 8 bytes
  uint8_t type;
  uint16_t width, height;
  Bytes payload;
};

// A pack as the compress command lays one out: header, table, then each
// entry's EntryRect and payload, padded to 4.
Bytes pack_of(const std::vector<Entry>& entries) {
  Bytes p(16 + 16 * entries.size());
  store_le32(p.data(), 0x19534552);
  store_le16(p.data() + 4, uint16_t(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    uint8_t* rec = p.data() + 16 + 16 * i;
    const uint32_t len = uint32_t(4 + e.payload.size());
    store_le32(rec, uint32_t(p.size()));
    store_le16(rec + 4, uint16_t(len));
    rec[6] = e.type;
    std::memcpy(rec + 7, e.name.data(), e.name.size());
    rec[15] = uint8_t(len >> 16);
    p.resize(p.size() + 4);
    store_le16(p.data() + p.size() - 4, e.width);
    store_le16(p.data() + p.size() - 2, e.height);
    p.insert(p.end(), e.payload.begin(), e.payload.end());
    p.resize((p.size() + 3) & ~size_t{3});
  }
  return p;
}

const std::vector<Entry> kEntries = {
    {"logo", 39, 3, 2, Bytes(38, 0xAB)},
    {"eightchr", 1, 2, 1, {1, 2, 3, 4}},
    {"logo", 30, 1, 1, {9}},  // a second "logo": find gives the first
    {"big", 30, 300, 300, Bytes(90000, 7)},  // len above 65535
};

TEST(PackReadTest, EntriesByIndexAndName) {
  const Bytes pack = pack_of(kEntries);
  const int32_t len = int32_t(pack.size());
  ASSERT_EQ(morvane_pack_count(pack.data(), len), 4);
  for (int32_t i = 0; i < 4; ++i) {
    const Entry& want = kEntries[size_t(i)];
    morvane_pack_entry e;
    ASSERT_EQ(morvane_pack_entry_at(pack.data(), len, i, &e), 0) << i;
    EXPECT_EQ(std::string(e.name), want.name) << i;
    EXPECT_EQ(e.name[8], '\0') << i;
    EXPECT_EQ(e.type, want.type) << i;
    EXPECT_EQ(e.width, want.width) << i;
    EXPECT_EQ(e.height, want.height) << i;
    ASSERT_EQ(e.length, int32_t(want.payload.size())) << i;
    EXPECT_TRUE(e.data >= pack.data() && e.data + e.length <= pack.data() + pack.size()) << i;
    EXPECT_EQ(Bytes(e.data, e.data + e.length), want.payload) << i;
  }
  morvane_pack_entry e;
  EXPECT_EQ(morvane_pack_find(pack.data(), len, "logo", &e), 0);
  EXPECT_EQ(e.length, 38);
  EXPECT_EQ(morvane_pack_find(pack.data(), len, "eightchr", &e), 1);
  EXPECT_EQ(morvane_pack_find(pack.data(), len, "big", nullptr), 3);
  EXPECT_EQ(morvane_pack_entry_at(pack.data(), len, 2, nullptr), 0);
}

TEST(PackReadTest, EachRefusalHasItsCode) {
  const Bytes good = pack_of(kEntries);
  auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + long(at));
    return b;
  };
  auto cut = [&](const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(n)); };
  const size_t last = 16 + 16 * 3;  // the record of entry 3
  const uint32_t last_offset = load_le32(good.data() + last);
  struct Case {
    const char* what;
    Bytes pack;
    int32_t index;     // for entry_at
    const char* name;  // for find
    int32_t want;      // from entry_at (and find, when it reaches the entry)
  };
  const Case cases[] = {
      {"empty", {}, 0, "logo", MORVANE_PACK_ERR_SHORT},
      {"shorter than the header", cut(good, 15), 0, "logo", MORVANE_PACK_ERR_SHORT},
      {"wrong magic", with(3, {0x18}), 0, "logo", MORVANE_PACK_ERR_MAGIC},
      {"table cut", cut(good, 16 + 16 * 4 - 1), 0, "logo", MORVANE_PACK_ERR_TABLE},
      {"more entries than the table holds", with(4, {0xFF, 0xFF}), 0, "logo", MORVANE_PACK_ERR_TABLE},
      {"index -1", good, -1, "nothere", MORVANE_PACK_ERR_INDEX},
      {"index past the last", good, 4, "nothere", MORVANE_PACK_ERR_INDEX},
      {"len below 4", with(16 + 4, {3, 0}), 0, "logo", MORVANE_PACK_ERR_LENGTH},
      {"len 0", with(16 + 4, {0, 0}), 0, "logo", MORVANE_PACK_ERR_LENGTH},
      {"data one byte past the end", cut(good, last_offset + 4 + 90000 - 1), 3, "big", MORVANE_PACK_ERR_ENTRY},
      {"high byte of len past the end", with(last + 15, {0xFF}), 3, "big", MORVANE_PACK_ERR_ENTRY},
      {"offset past the end", with(16, {0xFF, 0xFF, 0xFF, 0x7F}), 0, "logo", MORVANE_PACK_ERR_ENTRY},
      {"offset near 2^32", with(16, {0xFE, 0xFF, 0xFF, 0xFF}), 0, "logo", MORVANE_PACK_ERR_ENTRY},
  };
  for (const Case& c : cases) {
    const int32_t len = int32_t(c.pack.size());
    morvane_pack_entry e;
    std::memset(&e, 0x5A, sizeof e);
    EXPECT_EQ(morvane_pack_entry_at(c.pack.data(), len, c.index, &e), c.want) << c.what;
    EXPECT_EQ(e.data, nullptr) << c.what;
    EXPECT_EQ(e.length, 0) << c.what;
    const int32_t found = morvane_pack_find(c.pack.data(), len, c.name, &e);
    EXPECT_EQ(found, c.want == MORVANE_PACK_ERR_INDEX ? MORVANE_PACK_ERR_NOT_FOUND : c.want) << c.what;
    EXPECT_EQ(e.data, nullptr) << c.what;
  }
}

TEST(PackReadTest, NamesThatMatchNothing) {
  const Bytes pack = pack_of(kEntries);
  const int32_t len = int32_t(pack.size());
  for (const char* name : {"", "lo", "logo2", "LOGO", "eightchr9", "eightch"})
    EXPECT_EQ(morvane_pack_find(pack.data(), len, name, nullptr), MORVANE_PACK_ERR_NOT_FOUND) << name;
  EXPECT_EQ(morvane_pack_find(pack.data(), len, nullptr, nullptr), MORVANE_PACK_ERR_NOT_FOUND);
  // Null packs and negative lengths are packs of no bytes.
  EXPECT_EQ(morvane_pack_count(nullptr, len), MORVANE_PACK_ERR_SHORT);
  EXPECT_EQ(morvane_pack_count(pack.data(), -1), MORVANE_PACK_ERR_SHORT);
}

TEST(PackReadTest, ErrorTextsAreTheirOwn) {
  const int32_t codes[] = {MORVANE_PACK_ERR_SHORT,  MORVANE_PACK_ERR_MAGIC, MORVANE_PACK_ERR_TABLE,
                           MORVANE_PACK_ERR_INDEX,  MORVANE_PACK_ERR_LENGTH, MORVANE_PACK_ERR_ENTRY,
                           MORVANE_PACK_ERR_NOT_FOUND};
  std::vector<std::string> seen;
  for (int32_t code : codes) {
    const std::string text = morvane_pack_error_text(code);
    EXPECT_NE(text, "unknown pack error") << code;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), text), 0) << text;
    // Never a tile code, so one result variable can hold either.
    EXPECT_EQ(std::string(morvane_tile_error_text(code)), "unknown tile error") << code;
    seen.push_back(text);
  }
  EXPECT_EQ(std::string(morvane_pack_error_text(0)), "unknown pack error");
}

}  // namespace

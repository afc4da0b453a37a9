// SPDX-License-Identifier: MIT
// The tiled image block encoder and the block records: byte layouts, the tile
// grid, the choice between the tiled and the untiled form, every refusal, the
// capacity bound, and round trips in which each tile is decoded with its codec
// directly (not through the region decoder; only an empty image's block goes
// through it) and compared with an independent coding of the same pixels.
//
// Block buffers are sized exactly to the capacity under test, so a write past
// it shows under AddressSanitizer.
#include <gtest/gtest.h>
#include <lz4.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/encode.h"
#include "support/image_gen.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kFill = 0xEE;

// Pixels given as rows of letters; each letter becomes one pixel of bpp
// bytes, the letter followed by fixed bytes.
Bytes letters(const std::vector<std::string>& rows, int bpp) {
  Bytes out;
  for (const std::string& r : rows)
    for (char c : r)
      for (int b = 0; b < bpp; ++b) out.push_back(b == 0 ? static_cast<uint8_t>(c) : static_cast<uint8_t>(0x40 + b));
  return out;
}

struct Encoded {
  int32_t result;  // encode_tile_image's
  Bytes block;     // the whole buffer, capacity bytes
  int32_t why;     // tile_image_encode's, on a buffer of its own
};

Encoded encode(const Bytes& src, size_t capacity, int w, int h, int tw, int th, int format, int codec) {
  Encoded r{0, Bytes(capacity, kFill), 0};
  r.result = encode_tile_image(src, r.block, w, h, tw, th, static_cast<uint8_t>(format), static_cast<uint8_t>(codec));
  Bytes again(capacity, kFill);
  r.why = tile_image_encode(src, again, w, h, tw, th, static_cast<uint8_t>(format), static_cast<uint8_t>(codec));
  EXPECT_EQ(again, r.block);
  return r;
}

Encoded encode_bounded(const Bytes& src, int w, int h, int tw, int th, int format, int codec) {
  return encode(src, tile_image_bound(w, h, tw, th, format, codec), w, h, tw, th, format, codec);
}

TileRef ref_at(const Bytes& block, int index) { return read_tile_ref(block.data() + 16 + 8 * index); }

// A payload decoded by its codec into a buffer of exactly `size` bytes.
Bytes decode_payload(uint32_t magic, const uint8_t* payload, uint32_t len, size_t size, int bpp) {
  Bytes out(size);
  int n = -1;
  if (magic == MORVANE_TILE_MAGIC_LZ4) {
    n = LZ4_decompress_safe(reinterpret_cast<const char*>(payload), reinterpret_cast<char*>(out.data()),
                            static_cast<int>(len), static_cast<int>(size));
  } else if (magic == MORVANE_TILE_MAGIC_RLE) {
    n = decode_rle_pixels(payload, out.data(), static_cast<int32_t>(len), static_cast<int32_t>(size), bpp);
  }
  EXPECT_EQ(n, static_cast<int>(size));
  return out;
}

// The same pixels coded on their own, with all the room they could need.
Bytes code_alone(const Bytes& pixels, int bpp, int codec) {
  const int n = static_cast<int>(pixels.size());
  if (codec == CODEC_KIND_LZ4) {
    Bytes out(static_cast<size_t>(LZ4_compressBound(n)));
    out.resize(static_cast<size_t>(lz4_hc_compress(pixels.data(), out.data(), n, static_cast<int>(out.size()))));
    return out;
  }
  const uint32_t count = static_cast<uint32_t>(n / bpp);
  Bytes out(static_cast<size_t>(encode_rle_pixels(pixels.data(), nullptr, count, 0, static_cast<uint32_t>(bpp))));
  EXPECT_EQ(encode_rle_pixels(pixels.data(), out.data(), count, static_cast<uint32_t>(out.size()),
                              static_cast<uint32_t>(bpp)),
            static_cast<int32_t>(out.size()));
  return out;
}

// The block the encoder should write for img, built tile by tile from the
// codecs themselves: the tiled form, or the untiled one when the payloads
// together are larger than the raw pixels.
Bytes expected_block(const Bytes& img, int w, int h, int tw, int th, int format, int codec) {
  const int bpp = pixel_format_bytes(format);
  const int across = (w + tw - 1) / tw, down = (h + th - 1) / th, count = across * down;
  Bytes head(16), table, payloads;
  for (int r = 0; r < down; ++r)
    for (int c = 0; c < across; ++c) {
      const int x = c * tw, y = r * th;
      const Bytes p = code_alone(crop(img, w, bpp, x, y, std::min(tw, w - x), std::min(th, h - y)), bpp, codec);
      Bytes rec(8);
      write_tile_ref({static_cast<uint32_t>(16 + 8 * count + payloads.size()), static_cast<uint32_t>(p.size())},
                     rec.data());
      table.insert(table.end(), rec.begin(), rec.end());
      payloads.insert(payloads.end(), p.begin(), p.end());
    }
  TileImage t{codec == CODEC_KIND_LZ4 ? MORVANE_TILE_MAGIC_LZ4 : MORVANE_TILE_MAGIC_RLE,
              static_cast<uint16_t>(w), static_cast<uint16_t>(h), static_cast<uint16_t>(tw),
              static_cast<uint16_t>(th), static_cast<uint8_t>(format), static_cast<uint8_t>(bpp),
              static_cast<uint16_t>(count)};
  if (payloads.size() > img.size()) {
    t = {MORVANE_TILE_MAGIC_RAW, t.width, t.height, t.width, t.height, t.pixel_format, t.bytes_per_pixel, 1};
    write_tile_image(t, head.data());
    head.insert(head.end(), img.begin(), img.end());
    return head;
  }
  write_tile_image(t, head.data());
  head.insert(head.end(), table.begin(), table.end());
  head.insert(head.end(), payloads.begin(), payloads.end());
  return head;
}

// ---- Records -----------------------------------------------------------------

TEST(TileFormatTest, PixelFormatBytes) {
  const int expected[] = {0, 2, 3, 3, 4, 1, 2, 0};
  for (int f = 0; f <= 7; ++f) EXPECT_EQ(pixel_format_bytes(f), expected[f]) << f;
  for (int f : {-1, 8, 39, 255, 256, INT_MIN, INT_MAX}) EXPECT_EQ(pixel_format_bytes(f), 0) << f;
}

// Every field little-endian, the magics their ASCII bytes, and the codec
// table's row of each kind.
TEST(TileFormatTest, HeaderAndTileRefAreLittleEndian) {
  struct Row { int kind; uint32_t magic; const char* text; std::string_view name; };
  const Row magics[] = {{2, MORVANE_TILE_MAGIC_LZ4, "C4ZL", "lz4"}, {1, MORVANE_TILE_MAGIC_RLE, "CELR", "rle"},
                        {3, MORVANE_TILE_MAGIC_RAW, "CWAR", "stored"}};
  for (auto [kind, magic, text, name] : magics) {
    const TileCodec* c = tile_codec_of_kind(kind);
    ASSERT_TRUE(c != nullptr && c->magic == magic && c->name == name) << text;
    const TileImage t{magic, 0x1234, 0x5678, 0x9ABC, 0xDEF0, 5, 1, 0x0102};
    Bytes b(16);
    write_tile_image(t, b.data());
    EXPECT_EQ(b, (Bytes{uint8_t(text[0]), uint8_t(text[1]), uint8_t(text[2]), uint8_t(text[3]), 0x34, 0x12, 0x78,
                        0x56, 0xBC, 0x9A, 0xF0, 0xDE, 5, 1, 0x02, 0x01}));
    const TileImage back = read_tile_image(b.data());
    EXPECT_EQ(std::memcmp(&back, &t, sizeof t), 0) << text;
  }
  const TileRef r{0x11223344, 0x55667788};
  Bytes rb(8);
  write_tile_ref(r, rb.data());
  EXPECT_EQ(rb, (Bytes{0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
  const TileRef rback = read_tile_ref(rb.data());
  EXPECT_EQ(rback.offset, r.offset);
  EXPECT_EQ(rback.len, r.len);
}

TEST(TileFormatTest, EveryErrorHasItsOwnText) {
  const int32_t codes[] = {MORVANE_TILE_ERR_FAILED,     MORVANE_TILE_ERR_MAGIC,      MORVANE_TILE_ERR_NO_SLOT,    MORVANE_TILE_ERR_CODEC_KIND,
                           MORVANE_TILE_ERR_PIXEL_FORMAT, MORVANE_TILE_ERR_DIMENSIONS, MORVANE_TILE_ERR_TILE_SIZE, MORVANE_TILE_ERR_TILE_COUNT,
                           MORVANE_TILE_ERR_TILE_BYTES, MORVANE_TILE_ERR_CAPACITY,   MORVANE_TILE_ERR_SOURCE,     MORVANE_TILE_ERR_HEADER,
                           MORVANE_TILE_ERR_PAYLOAD,    MORVANE_TILE_ERR_CORRUPT,    MORVANE_TILE_ERR_REGION,     MORVANE_TILE_ERR_OUTPUT};
  const std::string unknown = tile_error_text(-2);
  std::set<std::string> seen;
  for (int32_t code : codes) {
    const std::string text = tile_error_text(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
    EXPECT_NE(text, unknown) << code;
    EXPECT_TRUE(seen.insert(text).second) << "shared text: " << text;
  }
  EXPECT_STREQ(tile_error_text(MORVANE_TILE_ERR_MAGIC), "block names no codec");
  EXPECT_STREQ(tile_error_text(MORVANE_TILE_ERR_CODEC_KIND), "codec kind not 1, 2 or 3");
  EXPECT_STREQ(tile_error_text(MORVANE_TILE_ERR_TILE_BYTES), "tile larger than 1 MiB");
  for (int32_t code : {1, -39, -55, INT32_MIN, INT32_MAX}) EXPECT_EQ(tile_error_text(code), unknown) << code;
}

// ---- Layout --------------------------------------------------------------------

TEST(TileEncodeLayoutTest, WorkedExamples) {
  struct Case {
    const char* what;
    Bytes pixels;
    Bytes block;
  };
  const Case cases[] = {
      {"payloads equal to the raw size stay tiled",
       {0x05, 0x05, 0x09, 0x05, 0x05, 0x09},
       {0x43, 0x45, 0x4C, 0x52, 0x03, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x05, 0x01, 0x02, 0x00, 0x20, 0x00, 0x00,
        0x00, 0x02, 0x00, 0x00, 0x00, 0x22, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x84, 0x05, 0x01, 0x09, 0x01, 0x09}},
      {"payloads above the raw size fall back to the untiled form",
       {0x05, 0x05, 0x09, 0x05, 0x06, 0x09},
       {0x43, 0x57, 0x41, 0x52, 0x03, 0x00, 0x02, 0x00, 0x03, 0x00, 0x02, 0x00, 0x05, 0x01, 0x01, 0x00, 0x05, 0x05, 0x09,
        0x05, 0x06, 0x09}},
  };
  for (const Case& c : cases) {
    Encoded r = encode_bounded(c.pixels, 3, 2, 2, 2, 5, CODEC_KIND_RLE);
    ASSERT_EQ(r.result, static_cast<int32_t>(c.block.size())) << c.what;
    EXPECT_EQ(Bytes(r.block.begin(), r.block.begin() + r.result), c.block) << c.what;
  }
}

TEST(TileEncodeLayoutTest, EmptyImages) {
  for (int codec : {CODEC_KIND_RLE, CODEC_KIND_LZ4, CODEC_KIND_STORED}) {
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {0, 0}, {65535, 0}}) {
      for (auto [tw, th] : {std::pair{0, 0}, {8, 4}, {0, 70000}, {-3, 2}}) {
        SCOPED_TRACE(testing::Message() << "codec " << codec << ", " << w << "x" << h << " in " << tw << "x" << th);
        EXPECT_EQ(tile_image_check(w, h, tw, th, 1, codec), 0);
        EXPECT_EQ(tile_image_bound(w, h, tw, th, 1, codec), 16u);
        Encoded r = encode({}, 16, w, h, tw, th, 1, codec);
        ASSERT_EQ(r.result, 16);
        const TileImage t = read_tile_image(r.block.data());
        EXPECT_EQ(t.width, w);
        EXPECT_EQ(t.height, h);
        EXPECT_EQ(t.pixel_format, 1);
        EXPECT_EQ(t.bytes_per_pixel, 2);
        if (codec == CODEC_KIND_STORED) {
          EXPECT_EQ(t.magic, MORVANE_TILE_MAGIC_RAW);
          EXPECT_EQ(t.tile_width, w);
          EXPECT_EQ(t.tile_height, h);
          EXPECT_EQ(t.tile_count, 1);
        } else {
          EXPECT_EQ(t.magic, codec == CODEC_KIND_RLE ? MORVANE_TILE_MAGIC_RLE : MORVANE_TILE_MAGIC_LZ4);
          EXPECT_EQ(t.tile_count, 0);
        }
        Bytes none;  // and the region decoder takes the block: no pixels
        EXPECT_EQ(decode_tile_region(r.block, none, 0, 0, w, h), 0);
      }
    }
  }
}

TEST(TileEncodeLayoutTest, StoredKindIsAlwaysUntiled) {
  // A flat image that either codec would shrink a great deal.
  const Bytes img(size_t{20} * 10 * 3, 0x11);
  Encoded r = encode(img, 16 + img.size(), 20, 10, 8, 8, 3, CODEC_KIND_STORED);
  ASSERT_EQ(r.result, static_cast<int32_t>(16 + img.size()));
  Bytes expected(16);
  write_tile_image({MORVANE_TILE_MAGIC_RAW, 20, 10, 20, 10, 3, 3, 1}, expected.data());
  expected.insert(expected.end(), img.begin(), img.end());
  EXPECT_EQ(r.block, expected);
}

// Encoded-length sizes are easy to predict. With bpp 1 a run of three pixels
// takes 2 bytes and three different pixels 4, so "aaa" and "abc" together
// take exactly their 6 raw bytes; "ggh" takes 5 (01 g 02 g h). With bpp 2
// they take 3 ("aaa"), 7 ("abc") and 8 ("ggh") of 6 raw bytes each. Rows are
// coded as full-width tiles, columns are gathered.
TEST(TileEncodeLayoutTest, FallbackWhenPayloadsExceedTheRawSize) {
  struct Case {
    const char* what;
    std::vector<std::string> rows;
    int bpp;
    bool transpose;
    bool tiled;
  };
  const Case cases[] = {
      {"bpp 1, payloads = raw", {"aaa", "abc", "def", "ggg"}, 1, false, true},
      {"bpp 1, payloads = raw + 1", {"aaa", "abc", "def", "ggh"}, 1, false, false},
      {"bpp 1, columns, payloads = raw", {"aaa", "abc", "def", "ggg"}, 1, true, true},
      {"bpp 1, columns, payloads = raw + 1", {"aaa", "abc", "def", "ggh"}, 1, true, false},
      {"bpp 2, payloads = raw", {"aaa", "abc", "def", "ghi"}, 2, false, true},
      {"bpp 2, payloads = raw + 1", {"aaa", "abc", "def", "ggh"}, 2, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes rows = letters(c.rows, c.bpp);
    // Rows: 3 x 4 image in 3 x 1 tiles. Columns: the transposed 4 x 3 image in 1 x 3 tiles.
    Bytes img = rows;
    int w = 3, h = 4, tw = 3, th = 1;
    if (c.transpose) {
      w = 4, h = 3, tw = 1, th = 3;
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
          for (int b = 0; b < c.bpp; ++b) img[size_t((y * 4 + x) * c.bpp + b)] = rows[size_t((x * 3 + y) * c.bpp + b)];
    }
    const int format = format_for(c.bpp);
    const size_t raw = img.size();
    Encoded r = encode_bounded(img, w, h, tw, th, format, CODEC_KIND_RLE);
    const TileImage t = read_tile_image(r.block.data());
    if (c.tiled) {
      ASSERT_EQ(r.result, static_cast<int32_t>(16 + 8 * 4 + raw));
      EXPECT_EQ(t.magic, MORVANE_TILE_MAGIC_RLE);
      EXPECT_EQ(t.tile_count, 4);
    } else {
      ASSERT_EQ(r.result, static_cast<int32_t>(16 + raw));
      EXPECT_EQ(t.magic, MORVANE_TILE_MAGIC_RAW);
      EXPECT_EQ(t.tile_width, w);
      EXPECT_EQ(t.tile_height, h);
      EXPECT_EQ(t.tile_count, 1);
      EXPECT_EQ(t.pixel_format, format);
      EXPECT_EQ(t.bytes_per_pixel, c.bpp);
      EXPECT_EQ(Bytes(r.block.begin() + 16, r.block.begin() + r.result), img);
    }
    EXPECT_EQ(Bytes(r.block.begin(), r.block.begin() + r.result), expected_block(img, w, h, tw, th, format, 1));
  }
}

// ---- Failures --------------------------------------------------------------------

// A capacity that holds the first `fit` tiles and one byte less than the next:
// that tile fails (MORVANE_TILE_ERR_CAPACITY), and nothing is written past
// the capacity or into the records of later tiles.
TEST(TileEncodeFailureTest, TileThatDoesNotFitFailsTheBlock) {
  // Random pixels in 16 x 16 tiles: every tile codes to more than its raw
  // bytes, whose lengths tell what room each tile needs.
  const Bytes img = make_random_bytes(64 * 32 * 2, 7);
  for (int codec : {CODEC_KIND_RLE, CODEC_KIND_LZ4}) {
    std::vector<uint32_t> lens;
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 4; ++c) lens.push_back(uint32_t(code_alone(crop(img, 64, 2, c * 16, r * 16, 16, 16), 2, codec).size()));
    for (int fit : {0, 1, 5, 7}) {
      SCOPED_TRACE(testing::Message() << "codec " << codec << ", " << fit << " tiles fit");
      size_t capacity = 16 + 8 * 8;
      for (int i = 0; i < fit; ++i) capacity += lens[size_t(i)];
      capacity += lens[size_t(fit)] - 1;
      Encoded r = encode(img, capacity, 64, 32, 16, 16, 1, codec);
      EXPECT_EQ(r.result, -1);
      EXPECT_EQ(r.why, MORVANE_TILE_ERR_CAPACITY);
      for (int i = 0; i < fit; ++i) {
        const TileRef ref = ref_at(r.block, i);
        EXPECT_GT(ref.len, 0u);
        EXPECT_LE(ref.offset + ref.len, capacity);
      }
      for (size_t b = 16 + 8 * size_t(fit + 1); b < 16 + 8 * 8; ++b) ASSERT_EQ(r.block[b], kFill) << b;
      EXPECT_NE(read_tile_image(r.block.data()).tile_count, 8);
    }
    // Room for exactly every tile: all are coded, and as they are larger
    // than the raw pixels the block ends untiled.
    size_t capacity = 16 + 8 * 8;
    for (uint32_t len : lens) capacity += len;
    Encoded r = encode(img, capacity, 64, 32, 16, 16, 1, codec);
    ASSERT_EQ(r.result, static_cast<int32_t>(16 + img.size())) << codec;
    EXPECT_EQ(Bytes(r.block.begin() + 16, r.block.begin() + r.result), img) << codec;
  }
}

// A run-length tile whose packets fit only in part is not kept: with room for
// all but the last byte of the second tile's stream, that tile fails, though
// the coder could still write most of its packets.
TEST(TileEncodeFailureTest, RunLengthTileCutShortIsNeverKept) {
  // Two full-width tiles of 300 one-byte pixels: "ab" pairs (literal) and a run.
  Bytes img(600);
  for (size_t i = 0; i < 300; ++i) img[i] = static_cast<uint8_t>(i % 2 == 0 ? 'a' : 'b');
  for (size_t i = 300; i < 600; ++i) img[i] = static_cast<uint8_t>(i < 560 ? 'c' : 'd' + i % 3);
  const int32_t len0 = encode_rle_pixels(img.data(), nullptr, 300, 0, 1);
  const int32_t len1 = encode_rle_pixels(img.data() + 300, nullptr, 300, 0, 1);
  ASSERT_GT(len1, 5);
  const size_t exact = 16 + 16 + size_t(len0 + len1);
  ASSERT_LE(exact, 16 + img.size());  // stays tiled when everything fits
  for (size_t capacity : {exact - 1, exact - 2, exact - size_t(len1) + 2}) {
    Encoded r = encode(img, capacity, 300, 2, 300, 1, 5, CODEC_KIND_RLE);
    EXPECT_EQ(r.result, -1) << capacity;
    EXPECT_EQ(r.why, MORVANE_TILE_ERR_CAPACITY) << capacity;
  }
  Encoded r = encode(img, exact, 300, 2, 300, 1, 5, CODEC_KIND_RLE);
  ASSERT_EQ(r.result, static_cast<int32_t>(exact));
  EXPECT_EQ(r.block, expected_block(img, 300, 2, 300, 1, 5, CODEC_KIND_RLE));
}

// Every refusal comes before the first write: -1, the block untouched, and
// from tile_image_encode the code that says why.
TEST(TileEncodeFailureTest, RefusedCalls) {
  struct Case {
    const char* what;
    int w, h, tw, th, format, codec;
    int32_t check;  // tile_image_check's code
    long src_delta;  // source length minus the image's bytes
    bool short_block;  // a block one byte short of the least the call needs, else the bound
  };
  const Case cases[] = {
      {"codec kind 0", 8, 8, 4, 4, 1, 0, MORVANE_TILE_ERR_CODEC_KIND, 0, false},
      {"codec kind 4", 8, 8, 4, 4, 1, 4, MORVANE_TILE_ERR_CODEC_KIND, 0, false},
      {"codec kind before pixel format", 8, 8, 4, 4, 0, 255, MORVANE_TILE_ERR_CODEC_KIND, 0, false},
      {"pixel format 0", 8, 8, 4, 4, 0, 2, MORVANE_TILE_ERR_PIXEL_FORMAT, 0, false},
      {"pixel format 7", 8, 8, 4, 4, 7, 1, MORVANE_TILE_ERR_PIXEL_FORMAT, 0, false},
      {"pixel format 7, stored", 8, 8, 4, 4, 7, 3, MORVANE_TILE_ERR_PIXEL_FORMAT, 0, false},
      {"negative width", -1, 8, 4, 4, 1, 2, MORVANE_TILE_ERR_DIMENSIONS, 0, false},
      {"height above 16 bits", 8, 65536, 4, 4, 1, 2, MORVANE_TILE_ERR_DIMENSIONS, 0, false},
      {"width above 16 bits", 70000, 1, 4, 4, 5, 3, MORVANE_TILE_ERR_DIMENSIONS, 0, false},
      {"zero tile width", 8, 8, 0, 4, 1, 2, MORVANE_TILE_ERR_TILE_SIZE, 0, false},
      {"zero tile height", 8, 8, 4, 0, 1, 1, MORVANE_TILE_ERR_TILE_SIZE, 0, false},
      {"zero tile width, stored", 8, 8, 0, 4, 1, 3, MORVANE_TILE_ERR_TILE_SIZE, 0, false},
      {"negative tile side", 8, 8, -4, 4, 1, 2, MORVANE_TILE_ERR_TILE_SIZE, 0, false},
      {"tile side above 16 bits", 8, 8, 65536, 1, 5, 1, MORVANE_TILE_ERR_TILE_SIZE, 0, false},
      {"65536 tiles", 256, 256, 1, 1, 5, 1, MORVANE_TILE_ERR_TILE_COUNT, 0, false},
      {"131070 tiles", 65535, 2, 1, 1, 5, 2, MORVANE_TILE_ERR_TILE_COUNT, 0, false},
      {"tile of 1 MiB + 4", 600, 600, 512, 513, 4, 2, MORVANE_TILE_ERR_TILE_BYTES, 0, false},
      {"nominal tile above 1 MiB, image small", 10, 10, 1025, 1024, 5, 1, MORVANE_TILE_ERR_TILE_BYTES, 0, false},
      {"source one byte short", 9, 7, 4, 4, 1, 2, 0, -1, false},
      {"no source", 9, 7, 4, 4, 1, 1, 0, -9 * 7 * 2, false},
      {"source one byte short, stored", 9, 7, 4, 4, 2, 3, 0, -1, false},
      {"block one byte short of the table", 9, 7, 4, 4, 1, 2, 0, 0, true},
      {"block one byte short of the table, run-length", 9, 7, 2, 2, 5, 1, 0, 0, true},
      {"block one byte short of the untiled form", 9, 7, 4, 4, 1, 3, 0, 0, true},
      {"block one byte short of an empty image's header", 0, 7, 4, 4, 1, 2, 0, 0, true},
      {"block one byte short of an empty untiled image", 9, 0, 4, 4, 1, 3, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(tile_image_check(c.w, c.h, c.tw, c.th, c.format, c.codec), c.check);
    if (c.check != 0) {
      EXPECT_EQ(tile_image_bound(c.w, c.h, c.tw, c.th, c.format, c.codec), 0u);
    }
    const int bpp = pixel_format_bytes(c.format);
    const long image = c.check == 0 ? long(c.w) * c.h * bpp : 64;
    size_t capacity = 4096;
    if (c.check == 0) {
      const bool tiled = c.codec != CODEC_KIND_STORED && c.w > 0 && c.h > 0;
      const long need = tiled ? 16 + 8 * ((c.w + c.tw - 1) / c.tw) * ((c.h + c.th - 1) / c.th) : 16 + image;
      capacity = c.short_block ? size_t(need - 1) : tile_image_bound(c.w, c.h, c.tw, c.th, c.format, c.codec);
    }
    const Bytes src = make_random_bytes(size_t(image + c.src_delta), 5);
    Encoded r = encode(src, capacity, c.w, c.h, c.tw, c.th, c.format, c.codec);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.block, Bytes(capacity, kFill));
    EXPECT_EQ(r.why, c.check != 0 ? c.check : c.src_delta < 0 ? MORVANE_TILE_ERR_SOURCE : MORVANE_TILE_ERR_CAPACITY);
  }
}

// The limits themselves are accepted.
TEST(TileEncodeFailureTest, LimitsAreAccepted) {
  EXPECT_EQ(tile_image_check(65535, 65535, 512, 512, 4, CODEC_KIND_LZ4), 0);       // tile of exactly 1 MiB
  EXPECT_EQ(tile_image_check(65535, 65535, 65535, 16, 5, CODEC_KIND_RLE), 0);      // 16-bit tile side
  EXPECT_EQ(tile_image_check(255, 257, 1, 1, 5, CODEC_KIND_RLE), 0);               // 65535 tiles
  EXPECT_EQ(tile_image_check(10, 10, 1024, 1024, 5, CODEC_KIND_STORED), 0);        // 1 MiB nominal tile
  // 65535 one-pixel tiles of 2 bytes each: 131070 bytes of payload for 65535
  // raw bytes, so the block ends untiled.
  const Bytes img = make_random_bytes(65535, 9);
  Encoded r = encode_bounded(img, 255, 257, 1, 1, 5, CODEC_KIND_RLE);
  ASSERT_EQ(r.result, 16 + 65535);
  EXPECT_EQ(read_tile_image(r.block.data()).magic, MORVANE_TILE_MAGIC_RAW);
  EXPECT_EQ(Bytes(r.block.begin() + 16, r.block.begin() + r.result), img);
  // A source longer than the image is read only as far as the image.
  Bytes longer = make_image(ImageKind::Flat, 30, 20, 2, 4);
  const Bytes expected = expected_block(longer, 30, 20, 8, 8, 1, CODEC_KIND_LZ4);
  longer.resize(longer.size() + 100, 0x77);
  Encoded l = encode_bounded(longer, 30, 20, 8, 8, 1, CODEC_KIND_LZ4);
  ASSERT_GT(l.result, 0);
  EXPECT_EQ(Bytes(l.block.begin(), l.block.begin() + l.result), expected);
}

// ---- Bound ---------------------------------------------------------------------------

TEST(TileEncodeBoundTest, Values) {
  // 100 x 50, 2 bytes a pixel, 32 x 32 tiles: three 32 x 32, one 4 x 32,
  // three 32 x 18 and one 4 x 18.
  EXPECT_EQ(tile_image_bound(100, 50, 32, 32, 1, CODEC_KIND_RLE), 16u + 64 + 3 * 5000);
  EXPECT_EQ(tile_image_bound(100, 50, 32, 32, 1, CODEC_KIND_LZ4),
            16u + 64 + 3 * LZ4_COMPRESSBOUND(2048) + LZ4_COMPRESSBOUND(256) + 3 * LZ4_COMPRESSBOUND(1152) +
                LZ4_COMPRESSBOUND(144));
  EXPECT_EQ(tile_image_bound(100, 50, 32, 32, 1, CODEC_KIND_STORED), 16u + 10000);
  // An image smaller than its table: the table decides.
  EXPECT_EQ(tile_image_bound(4, 4, 2, 2, 5, CODEC_KIND_RLE), 16u + 32 + 2 * 16);
  EXPECT_EQ(tile_image_bound(0, 9, 2, 2, 4, CODEC_KIND_LZ4), 16u);
  EXPECT_EQ(tile_image_bound(8, 8, 0, 2, 4, CODEC_KIND_LZ4), 0u);
}

// Pixels in equal pairs (a a b b ...) are the run-length coder's worst case:
// every pixel becomes a literal of one, 1 + bpp bytes, so tiles that hold
// whole pairs fill the bound exactly.
Bytes pairs(size_t pixels, int bpp, uint32_t seed) {
  const Bytes noise = make_random_bytes(pixels * bpp, seed);
  Bytes out(pixels * bpp);
  for (size_t p = 0; p < pixels; ++p)
    for (int b = 0; b < bpp; ++b) out[p * bpp + b] = noise[(p / 2) * bpp + b];
  return out;
}

TEST(TileEncodeBoundTest, BoundIsAlwaysEnough) {
  struct Geometry {
    int w, h, tw, th;
  };
  const Geometry geometries[] = {{33, 17, 8, 8}, {64, 64, 64, 64}, {5, 200, 5, 3}, {1, 1, 1, 1},
                                 {40, 3, 1, 1},  {130, 9, 200, 2}, {77, 41, 13, 40}};
  for (int format = 1; format <= 6; ++format) {
    const int bpp = pixel_format_bytes(format);
    for (int codec : {CODEC_KIND_RLE, CODEC_KIND_LZ4, CODEC_KIND_STORED}) {
      for (const Geometry& g : geometries) {
        const size_t pixels = size_t(g.w) * g.h;
        std::vector<Bytes> images = {make_random_bytes(pixels * bpp, uint32_t(format * 7 + codec))};
        if (codec == CODEC_KIND_RLE) images.push_back(pairs(pixels, bpp, uint32_t(format + codec)));
        for (const Bytes& img : images) {
          SCOPED_TRACE(testing::Message() << "format " << format << ", codec " << codec << ", " << g.w << "x" << g.h
                                          << " in " << g.tw << "x" << g.th);
          Encoded r = encode_bounded(img, g.w, g.h, g.tw, g.th, format, codec);
          // Incompressible: every block ends untiled.
          ASSERT_EQ(r.result, static_cast<int32_t>(16 + img.size()));
          EXPECT_EQ(Bytes(r.block.begin() + 16, r.block.begin() + r.result), img);
        }
      }
    }
  }
}

// ---- Tiles coded beforehand -------------------------------------------------------

// encode_tile codes each tile as the codec does on its own; assemble_tile_image
// from those payloads gives, for every capacity, the block and result
// that the encoder gives: the payload is copied where the room left is at
// least the tile's bound, and the tile coded in place with the real room
// where it is not (a tight capacity, the last tiles of a block that fails).
TEST(TileEncodeAssembleTest, PrecodedTilesGiveTheEncodersBlock) {
  struct Case {
    const char* what;
    int codec, w, h, tw, th, format;
    Bytes img;
  };
  const Case cases[] = {
      {"lz4 flat", CODEC_KIND_LZ4, 70, 45, 16, 16, 1, make_image(ImageKind::Flat, 70, 45, 2, 1)},
      {"lz4 noise", CODEC_KIND_LZ4, 64, 32, 16, 16, 1, make_random_bytes(64 * 32 * 2, 7)},
      {"rle glyphs", CODEC_KIND_RLE, 50, 40, 16, 8, 5, make_image(ImageKind::Glyphs, 50, 40, 1, 2)},
      {"rle pairs", CODEC_KIND_RLE, 32, 16, 8, 8, 4, pairs(32 * 16, 4, 3)},
  };
  for (const Case& c : cases) {
    const uint64_t bound = tile_image_bound(c.w, c.h, c.tw, c.th, c.format, c.codec);
    std::vector<Bytes> tiles;
    for (uint32_t i = 0;; ++i) {
      const uint32_t room = tile_payload_bound(c.w, c.h, c.tw, c.th, c.format, c.codec, i);
      if (room == 0) break;
      Bytes t(room);
      t.resize(encode_tile(c.img, t, c.w, c.h, c.tw, c.th, static_cast<uint8_t>(c.format),
                           static_cast<uint8_t>(c.codec), i));
      tiles.push_back(t);
    }
    ASSERT_EQ(tiles.size(), size_t((c.w + c.tw - 1) / c.tw) * size_t((c.h + c.th - 1) / c.th)) << c.what;
    size_t tiled = 16 + 8 * tiles.size();
    for (const Bytes& t : tiles) tiled += t.size();
    std::vector<std::span<const uint8_t>> coded(tiles.begin(), tiles.end());
    for (size_t capacity : {size_t(bound), tiled + 40, tiled, tiled - 1, tiled / 2, 16 + 8 * tiles.size()}) {
      SCOPED_TRACE(testing::Message() << c.what << ", capacity " << capacity);
      const Encoded want = encode(c.img, capacity, c.w, c.h, c.tw, c.th, c.format, c.codec);
      Bytes block(capacity, kFill);
      EXPECT_EQ(assemble_tile_image(c.img, block, c.w, c.h, c.tw, c.th, static_cast<uint8_t>(c.format),
                                    static_cast<uint8_t>(c.codec), coded),
                want.why);
      EXPECT_EQ(block, want.block);
    }
  }
  // Refused calls and an index past the last tile code nothing.
  Bytes t(64, kFill);
  EXPECT_EQ(tile_payload_bound(8, 8, 4, 4, 1, CODEC_KIND_LZ4, 4), 0u);
  EXPECT_EQ(tile_payload_bound(8, 8, 4, 4, 1, CODEC_KIND_STORED, 0), 0u);
  EXPECT_EQ(tile_payload_bound(8, 8, 4, 4, 1, CODEC_KIND_RLE, 3), 3u * 16);
  EXPECT_EQ(encode_tile(Bytes(127), t, 8, 8, 4, 4, 1, CODEC_KIND_RLE, 0), 0u);
  EXPECT_EQ(encode_tile(Bytes(128), t, 8, 8, 0, 4, 1, CODEC_KIND_RLE, 0), 0u);
  EXPECT_EQ(t, Bytes(64, kFill));
}

// ---- Round trips -----------------------------------------------------------------------

// Every tile decoded with its codec and put back in its place gives the image;
// the block is byte for byte the one built from the codecs tile by tile, so
// its header (the nominal tile size as given), TileRefs in tile order and
// payloads. Among the geometries: edge tiles in both directions (100 x 50 in
// 32 x 32: the last column 4 wide, the last row 18 high), one tile larger
// than the image (10 x 7 in 16 x 16).
TEST(TileEncodeRoundTripTest, EveryFormatAndCodec) {
  struct Geometry {
    int w, h, tw, th;
  };
  const Geometry geometries[] = {{100, 50, 32, 32}, {37, 23, 8, 5}, {64, 64, 64, 64}, {17, 90, 17, 7},
                                 {1, 1, 1, 1},      {300, 3, 7, 3}, {10, 7, 16, 16},  {45, 31, 44, 30}};
  const ImageKind kinds[] = {ImageKind::Gradient, ImageKind::Flat, ImageKind::Noise, ImageKind::Glyphs};
  int tiled = 0, untiled = 0;
  for (int format = 1; format <= 6; ++format) {
    const int bpp = pixel_format_bytes(format);
    for (int codec : {CODEC_KIND_RLE, CODEC_KIND_LZ4}) {
      for (const Geometry& g : geometries) {
        for (int k = 0; k <= 4; ++k) {
          SCOPED_TRACE(testing::Message() << "format " << format << ", codec " << codec << ", " << g.w << "x"
                                          << g.h << " in " << g.tw << "x" << g.th << ", image " << k);
          const Bytes img = k < 4 ? make_image(kinds[k], g.w, g.h, bpp, uint32_t(format + 10 * k))
                                  : make_random_bytes(size_t(g.w) * g.h * bpp, uint32_t(format));
          Encoded r = encode_bounded(img, g.w, g.h, g.tw, g.th, format, codec);
          ASSERT_GT(r.result, 0);
          const Bytes block(r.block.begin(), r.block.begin() + r.result);
          ASSERT_EQ(block, expected_block(img, g.w, g.h, g.tw, g.th, format, codec));
          const TileImage t = read_tile_image(block.data());
          if (t.magic == MORVANE_TILE_MAGIC_RAW) {
            ++untiled;
            EXPECT_EQ(Bytes(block.begin() + 16, block.end()), img);
            continue;
          }
          ++tiled;
          const int across = (g.w + g.tw - 1) / g.tw, down = (g.h + g.th - 1) / g.th;
          ASSERT_EQ(t.tile_count, across * down);
          Bytes back(img.size());
          for (int r0 = 0; r0 < down; ++r0)
            for (int c0 = 0; c0 < across; ++c0) {
              const int x = c0 * g.tw, y = r0 * g.th, w = std::min(g.tw, g.w - x), h = std::min(g.th, g.h - y);
              const TileRef ref = ref_at(block, r0 * across + c0);
              ASSERT_LE(size_t(ref.offset) + ref.len, block.size());
              const Bytes tile = decode_payload(t.magic, block.data() + ref.offset, ref.len, size_t(w) * h * bpp, bpp);
              for (int j = 0; j < h; ++j)
                std::memcpy(back.data() + (size_t(y + j) * g.w + x) * bpp, tile.data() + size_t(j) * w * bpp,
                            size_t(w) * bpp);
            }
          EXPECT_EQ(back, img);
        }
      }
    }
  }
  // Both forms were exercised.
  EXPECT_GT(tiled, 100);
  EXPECT_GT(untiled, 20);
}

}  // namespace

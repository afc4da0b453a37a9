// Tiled image blocks: the encoder's layout and refusals, and its blocks
// decoded back by the region decoder.
#include <gtest/gtest.h>
#include <lz4.h>

#include "support/image_gen.h"
#include "tile/tile_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Encoded {
  int32_t result;
  Bytes block;
};

Encoded encode(const Bytes& src, int w, int h, int tw, int th, int format, int codec, size_t capacity = 0) {
  if (capacity == 0) capacity = tile_image_bound(w, h, tw, th, format, codec);
  Encoded e{0, Bytes(capacity)};
  e.result = encode_tile_image(src, e.block, w, h, tw, th, static_cast<uint8_t>(format), static_cast<uint8_t>(codec));
  if (e.result >= 0) e.block.resize(static_cast<size_t>(e.result));
  return e;
}

// Decodes one tile's payload with its codec, for checking the encoder alone.
Bytes tile_pixels(const Bytes& block, int index, size_t size) {
  const TileImage t = read_tile_image(block.data());
  const TileRef ref = read_tile_ref(block.data() + 16 + 8 * index);
  Bytes out(size);
  int n = t.magic == TILE_MAGIC_LZ4
              ? LZ4_decompress_safe(reinterpret_cast<const char*>(block.data() + ref.offset),
                                    reinterpret_cast<char*>(out.data()), static_cast<int>(ref.len), static_cast<int>(size))
              : decode_rle_pixels(block.data() + ref.offset, out.data(), static_cast<int32_t>(ref.len),
                                  static_cast<int32_t>(size), t.bytes_per_pixel);
  EXPECT_EQ(n, static_cast<int>(size));
  return out;
}

Bytes crop(const Bytes& img, int w, int bpp, int x, int y, int cw, int ch) {
  Bytes out;
  for (int j = 0; j < ch; ++j) {
    auto row = img.begin() + ((y + j) * w + x) * bpp;
    out.insert(out.end(), row, row + cw * bpp);
  }
  return out;
}

Bytes hex(std::initializer_list<int> v) { return Bytes(v.begin(), v.end()); }

TEST(TileEncodeTest, WorkedExampleStaysTiled) {
  const Bytes img = {5, 5, 9, 5, 5, 9};
  Encoded e = encode(img, 3, 2, 2, 2, 5, 1);
  ASSERT_EQ(e.result, 38);
  EXPECT_EQ(e.block, hex({0x43, 0x45, 0x4C, 0x52, 3, 0, 2, 0, 2, 0, 2, 0, 5, 1, 2, 0, 0x20, 0, 0, 0, 2, 0, 0, 0,
                          0x22, 0, 0, 0, 4, 0, 0, 0, 0x84, 5, 1, 9, 1, 9}));
}

TEST(TileEncodeTest, WorkedExampleFallsBackToRaw) {
  const Bytes img = {5, 5, 9, 5, 6, 9};
  Encoded e = encode(img, 3, 2, 2, 2, 5, 1);
  ASSERT_EQ(e.result, 22);
  EXPECT_EQ(e.block, hex({0x43, 0x57, 0x41, 0x52, 3, 0, 2, 0, 3, 0, 2, 0, 5, 1, 1, 0, 5, 5, 9, 5, 6, 9}));
}

TEST(TileEncodeTest, GridWithEdgeTiles) {
  for (int codec : {1, 2}) {
    const Bytes img = make_image(ImageKind::Flat, 100, 50, 2, 3);
    Encoded e = encode(img, 100, 50, 32, 32, 1, codec);
    ASSERT_GT(e.result, 0);
    const TileImage t = read_tile_image(e.block.data());
    EXPECT_EQ(t.tile_count, 8);
    EXPECT_EQ(t.bytes_per_pixel, 2);
    EXPECT_EQ(read_tile_ref(e.block.data() + 16).offset, 80u);
    // Index 5 is tile row 1, column 1: 32 wide, 18 high; index 3 is the
    // 4-pixel-wide last column; index 7 the bottom-right corner.
    EXPECT_EQ(tile_pixels(e.block, 5, 32 * 18 * 2), crop(img, 100, 2, 32, 32, 32, 18));
    EXPECT_EQ(tile_pixels(e.block, 3, 4 * 32 * 2), crop(img, 100, 2, 96, 0, 4, 32));
    EXPECT_EQ(tile_pixels(e.block, 7, 4 * 18 * 2), crop(img, 100, 2, 96, 32, 4, 18));
  }
}

TEST(TileEncodeTest, SmallAndEmptyImages) {
  const Bytes img = make_image(ImageKind::Flat, 7, 5, 4, 1);
  Encoded one = encode(img, 7, 5, 64, 64, 4, 2);
  ASSERT_GT(one.result, 0);
  EXPECT_EQ(read_tile_image(one.block.data()).tile_count, 1);
  EXPECT_EQ(read_tile_ref(one.block.data() + 16).offset, 24u);
  for (int codec : {1, 2}) {
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {0, 0}}) {
      Encoded e = encode({}, w, h, 0, 0, 1, codec, 16);
      ASSERT_EQ(e.result, 16);
      const TileImage t = read_tile_image(e.block.data());
      EXPECT_EQ(t.tile_count, 0);
      EXPECT_EQ(t.magic, codec == 1 ? TILE_MAGIC_RLE : TILE_MAGIC_LZ4);
    }
  }
}

TEST(TileEncodeTest, StoredKindIsAlwaysRaw) {
  const Bytes img = make_image(ImageKind::Flat, 20, 10, 3, 1);
  Encoded e = encode(img, 20, 10, 8, 8, 3, 3);
  ASSERT_EQ(e.result, 16 + 600);
  const TileImage t = read_tile_image(e.block.data());
  EXPECT_EQ(t.magic, TILE_MAGIC_RAW);
  EXPECT_EQ(t.tile_width, 20);
  EXPECT_EQ(t.tile_height, 10);
  EXPECT_EQ(t.tile_count, 1);
  EXPECT_EQ(Bytes(e.block.begin() + 16, e.block.end()), img);
}

// Two 1-pixel-wide tiles of 3 pixels each (bpp 1): "a b c" codes to 4
// bytes, "a a a" to 2. Raw size 6.
TEST(TileEncodeTest, FallbackBoundaryIsOnThePayloadSum) {
  // Tile 0 "a b c" -> 03 a b c (4), tile 1 "d d d" -> 83 d (2): 6 = raw, tiled.
  const Bytes tie = {1, 4, 2, 4, 3, 4};
  Encoded e = encode(tie, 2, 3, 1, 3, 5, 1);
  ASSERT_EQ(e.result, 16 + 16 + 6);
  EXPECT_EQ(read_tile_image(e.block.data()).magic, TILE_MAGIC_RLE);
  // Tile 1 "d d e" -> 01 d 02 d e (5): 9 > 6, raw.
  const Bytes over = {1, 4, 2, 4, 3, 5};
  Encoded f = encode(over, 2, 3, 1, 3, 5, 1);
  ASSERT_EQ(f.result, 16 + 6);
  const TileImage t = read_tile_image(f.block.data());
  EXPECT_EQ(t.magic, TILE_MAGIC_RAW);
  EXPECT_EQ(t.pixel_format, 5);
  EXPECT_EQ(t.bytes_per_pixel, 1);
  EXPECT_EQ(t.tile_count, 1);
}

TEST(TileEncodeTest, RefusedCalls) {
  const Bytes img = make_image(ImageKind::Noise, 40, 40, 4, 1);
  struct Case {
    const char* what;
    int w, h, tw, th, format, codec;
    size_t src, capacity;
    int32_t check;
  };
  const Case cases[] = {
      {"format 0", 4, 4, 2, 2, 0, 2, 64, 4096, TILE_ERR_PIXEL_FORMAT},
      {"format 7", 4, 4, 2, 2, 7, 2, 64, 4096, TILE_ERR_PIXEL_FORMAT},
      {"codec 0", 4, 4, 2, 2, 1, 0, 64, 4096, TILE_ERR_CODEC_KIND},
      {"codec 4", 4, 4, 2, 2, 1, 4, 64, 4096, TILE_ERR_CODEC_KIND},
      {"zero tile width", 4, 4, 0, 2, 1, 2, 64, 4096, TILE_ERR_TILE_SIZE},
      {"zero tile height", 4, 4, 2, 0, 1, 1, 64, 4096, TILE_ERR_TILE_SIZE},
      {"too many tiles", 40, 40, 1, 1, 5, 1, 1600, 4096, 0},
      {"tile above 1 MiB", 40, 40, 1024, 512, 4, 2, 6400, 4096, TILE_ERR_TILE_BYTES},
      {"short source", 40, 40, 8, 8, 4, 2, 6399, 1 << 16, 0},
      {"table does not fit", 40, 40, 8, 8, 4, 2, 6400, 16 + 8 * 25 - 1, 0},
      {"raw does not fit", 40, 40, 8, 8, 4, 3, 6400, 16 + 6399, 0},
  };
  for (const Case& c : cases) {
    if (c.check != 0) {
      EXPECT_EQ(tile_image_check(c.w, c.h, c.tw, c.th, c.format, c.codec), c.check) << c.what;
    }
    Bytes block(c.capacity, 0xEE);
    Bytes src(img.begin(), img.begin() + static_cast<long>(c.src));
    EXPECT_EQ(encode_tile_image(src, block, c.w, c.h, c.tw, c.th, static_cast<uint8_t>(c.format),
                                static_cast<uint8_t>(c.codec)),
              -1)
        << c.what;
    if (c.check == TILE_ERR_PIXEL_FORMAT) {
      EXPECT_EQ(block, Bytes(c.capacity, 0xEE)) << c.what;
    }
  }
  EXPECT_EQ(tile_image_check(65535, 65535, 255, 256, 1, 2), TILE_ERR_TILE_COUNT);
}

TEST(TileEncodeTest, LaterTileThatDoesNotFitFailsTheBlock) {
  for (int codec : {1, 2}) {
    const Bytes img = make_image(ImageKind::Noise, 64, 16, 2, 7);
    // Room for the table and about one and a half tiles.
    const size_t capacity = 16 + 8 * 4 + 16 * 16 * 2 * 3 / 2 + 8;
    Bytes block(capacity);
    testing::internal::CaptureStdout();
    int32_t n = encode_tile_image(img, block, 64, 16, 16, 16, 1, static_cast<uint8_t>(codec));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(n, -1) << codec;
    EXPECT_EQ(out, "Failed to compress the data\n") << codec;
  }
}

TEST(TileEncodeTest, BoundIsAlwaysEnough) {
  for (int format = 1; format <= 6; ++format) {
    const int bpp = pixel_format_bytes(format);
    for (int codec : {1, 2, 3}) {
      for (auto [w, h, tw, th] : {std::tuple{33, 17, 8, 8}, {64, 64, 64, 64}, {5, 200, 5, 3}, {1, 1, 1, 1}}) {
        const Bytes img = make_random_bytes(static_cast<size_t>(w * h * bpp), static_cast<uint32_t>(format * 7 + codec));
        Encoded e = encode(img, w, h, tw, th, format, codec);
        ASSERT_GT(e.result, 0) << format << " " << codec << " " << w << "x" << h;
        // Noise does not pay: every block falls back to raw.
        EXPECT_EQ(e.result, 16 + w * h * bpp);
      }
    }
  }
}

// ---- Encoder to region decoder: every pixel format and codec ---------------

Bytes decode(const Bytes& block, int x, int y, int w, int h, int bpp, int32_t* result = nullptr) {
  Bytes out(static_cast<size_t>(w * h * bpp));
  int32_t n = decode_tile_region(block, out, x, y, w, h);
  if (result != nullptr) *result = n;
  return out;
}

TEST(TileRoundTripTest, WholeImagesOfEveryCodecAndFormat) {
  for (int format = 1; format <= 6; ++format) {
    const int bpp = pixel_format_bytes(format);
    for (int codec : {1, 2, 3}) {
      for (ImageKind kind : {ImageKind::Flat, ImageKind::Glyphs, ImageKind::Noise}) {
        const Bytes img = make_image(kind, 77, 45, bpp, static_cast<uint32_t>(format));
        Encoded e = encode(img, 77, 45, 16, 16, format, codec);
        ASSERT_GT(e.result, 0);
        int32_t n = 0;
        EXPECT_EQ(decode(e.block, 0, 0, 77, 45, bpp, &n), img) << format << " " << codec;
        EXPECT_EQ(n, 77 * 45 * bpp);
        tile_cache_forget(e.block.data());
      }
    }
  }
}

}  // namespace

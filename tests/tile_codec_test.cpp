// Tiled image blocks: the encoder's layout and refusals, and the region
// decoder with its one-slot cache.
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

// ---- Region decoder ------------------------------------------------------

Bytes decode(const Bytes& block, int x, int y, int w, int h, int bpp, int32_t* result = nullptr) {
  Bytes out(static_cast<size_t>(w * h * bpp));
  int32_t n = decode_tile_region(block, out, x, y, w, h);
  if (result != nullptr) *result = n;
  return out;
}

TEST(TileDecodeTest, WholeImagesOfEveryCodecAndFormat) {
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

TEST(TileDecodeTest, RegionsMatchCrops) {
  const Bytes img = make_image(ImageKind::Glyphs, 50, 40, 3, 2);
  for (int codec : {1, 2, 3}) {
    Encoded e = encode(img, 50, 40, 16, 16, 2, codec);
    struct R {
      int x, y, w, h;
    };
    for (R r : {R{0, 0, 50, 40}, R{17, 18, 10, 10}, R{49, 39, 1, 1}, R{3, 5, 47, 1}, R{48, 0, 2, 40}, R{0, 0, 1, 1}}) {
      int32_t n = 0;
      EXPECT_EQ(decode(e.block, r.x, r.y, r.w, r.h, 3, &n), crop(img, 50, 3, r.x, r.y, r.w, r.h)) << codec;
      EXPECT_EQ(n, r.w * r.h * 3);
    }
    tile_cache_forget(e.block.data());
  }
}

TEST(TileDecodeTest, EmptyRegionsAndImages) {
  const Bytes img = make_image(ImageKind::Flat, 20, 20, 2, 1);
  Encoded e = encode(img, 20, 20, 8, 8, 1, 2);
  Bytes out(4, 0xEE);
  EXPECT_EQ(decode_tile_region(e.block, out, 3, 3, 5, 0), 0);
  EXPECT_EQ(decode_tile_region(e.block, out, 3, 3, 0, 5), 0);
  EXPECT_EQ(out, Bytes(4, 0xEE));
  Encoded empty = encode({}, 0, 9, 0, 0, 1, 1, 16);
  EXPECT_EQ(decode_tile_region(empty.block, out, 0, 0, 0, 9), 0);
  tile_cache_forget(e.block.data());
}

TEST(TileCacheTest, RegionInsideOneTileDecodesThatTileAlone) {
  const Bytes img = make_image(ImageKind::Noise, 32, 32, 2, 5);
  Encoded e = encode(img, 32, 32, 16, 16, 6, 2);
  ASSERT_EQ(read_tile_image(e.block.data()).magic, TILE_MAGIC_RAW);  // noise: raw
  Encoded f = encode(make_image(ImageKind::Flat, 32, 32, 2, 5), 32, 32, 16, 16, 6, 2);
  ASSERT_EQ(read_tile_image(f.block.data()).magic, TILE_MAGIC_LZ4);
  Bytes out(4 * 3 * 2);
  ASSERT_EQ(decode_tile_region(f.block, out, 20, 18, 4, 3), 24);
  const TileCache* slot = tile_cache_slot();
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->owner, f.block.data());
  EXPECT_EQ(slot->tile_index, 3);
  EXPECT_EQ(slot->use_count, 1);
  // Starting in the tile decoded last: a hit, not a second decode.
  ASSERT_EQ(decode_tile_region(f.block, out, 16, 16, 2, 2), 8);
  EXPECT_EQ(slot->use_count, 2);
  EXPECT_EQ(slot->valid, 1);
  // A raw block leaves the slot as it was.
  EXPECT_EQ(decode_tile_region(e.block, out, 0, 0, 2, 2), 8);
  EXPECT_EQ(slot->owner, f.block.data());
  EXPECT_EQ(slot->use_count, 2);
  tile_cache_forget(f.block.data());
  EXPECT_EQ(slot->valid, 0);
}

TEST(TileCacheTest, ForgottenBlockAtTheSameAddressIsDecodedAgain) {
  const Bytes a = make_image(ImageKind::Flat, 16, 16, 2, 1);
  const Bytes b = make_image(ImageKind::Flat, 16, 16, 2, 2);
  ASSERT_NE(a, b);
  for (int codec : {1, 2}) {
    Encoded ea = encode(a, 16, 16, 16, 16, 1, codec), eb = encode(b, 16, 16, 16, 16, 1, codec);
    ASSERT_NE(read_tile_image(ea.block.data()).magic, TILE_MAGIC_RAW);
    ASSERT_NE(read_tile_image(eb.block.data()).magic, TILE_MAGIC_RAW);
    // Both blocks handed over in one buffer, one after the other.
    Bytes buffer;
    buffer.reserve(std::max(ea.block.size(), eb.block.size()));
    buffer.assign(ea.block.begin(), ea.block.end());
    const uint8_t* address = buffer.data();
    EXPECT_EQ(decode(buffer, 0, 0, 16, 16, 2), a);
    tile_cache_forget(buffer.data());
    buffer.assign(eb.block.begin(), eb.block.end());
    ASSERT_EQ(buffer.data(), address);
    EXPECT_EQ(decode(buffer, 0, 0, 16, 16, 2), b);
    tile_cache_forget(buffer.data());
  }
}

TEST(TileCacheTest, SlotOperations) {
  EXPECT_EQ(tile_cache_is_valid(nullptr), 0);
  EXPECT_EQ(tile_cache_fill(nullptr, nullptr, 0, 0), TILE_ERR_NO_SLOT);
  const uint8_t block[1] = {};
  TileCache* slot = tile_cache_lookup(block, 4);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(tile_cache_fill(slot, block, 4, 0x1234), 0);
  EXPECT_EQ(tile_cache_lookup(block, 4)->use_count, 2);
  TileCache* miss = tile_cache_lookup(block, 5);
  EXPECT_EQ(tile_cache_is_valid(miss), 0);
  EXPECT_EQ(miss->tile_index, 4);  // only valid is cleared
  EXPECT_EQ(miss->length_tag, 0x1234);
}

TEST(IntersectRectsTest, Cases) {
  struct Case {
    RegionRect a, b, want;
    uint8_t hit;
  };
  const Case cases[] = {
      {{0, 0, 9, 9}, {5, 5, 20, 20}, {5, 5, 9, 9}, 1},
      {{0, 0, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}, 1},
      {{0, 0, 9, 9}, {10, 0, 19, 9}, {10, 0, 9, 9}, 0},
      {{40000, 0, 40010, 3}, {39990, 1, 40001, 1}, {40000, 1, 40001, 1}, 1},
  };
  for (const Case& c : cases) {
    RegionRect r;
    EXPECT_EQ(intersect_rects(&r, c.a, c.b), c.hit);
    EXPECT_EQ(r.x0, c.want.x0);
    EXPECT_EQ(r.y0, c.want.y0);
    EXPECT_EQ(r.x1, c.want.x1);
    EXPECT_EQ(r.y1, c.want.y1);
  }
}

// Damaged blocks give a negative result and never a read or write outside
// the buffers (which are sized exactly).
TEST(TileDecodeTest, HostileBlocks) {
  const Bytes img = make_image(ImageKind::Flat, 24, 24, 2, 9);
  const Bytes lz4 = encode(img, 24, 24, 8, 8, 1, 2).block;
  const Bytes rle = encode(img, 24, 24, 8, 8, 1, 1).block;
  ASSERT_EQ(read_tile_image(lz4.data()).magic, TILE_MAGIC_LZ4);
  ASSERT_EQ(read_tile_image(rle.data()).magic, TILE_MAGIC_RLE);
  auto with = [](Bytes b, size_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
    return b;
  };
  const TileRef last = read_tile_ref(rle.data() + 16 + 8 * 8);
  const Bytes raw = encode(img, 24, 24, 8, 8, 1, 3).block;
  struct Case {
    const char* what;
    Bytes block;
    int x, y, w, h;
    size_t out;
    int32_t want;
  };
  const std::vector<Case> cases = {
      {"unknown magic", with(lz4, 0, {'X', 'Y', 'Z', 'W'}), 0, 0, 24, 24, 1152, TILE_ERR_MAGIC},
      {"short header", Bytes(lz4.begin(), lz4.begin() + 10), 0, 0, 1, 1, 2, TILE_ERR_HEADER},
      {"short table", Bytes(lz4.begin(), lz4.begin() + 40), 0, 0, 24, 24, 1152, TILE_ERR_HEADER},
      {"bpp 0", with(lz4, 13, {0}), 0, 0, 24, 24, 1152, TILE_ERR_HEADER},
      {"zero tile width", with(lz4, 8, {0, 0}), 0, 0, 24, 24, 1152, TILE_ERR_HEADER},
      {"tile count", with(lz4, 14, {8, 0}), 0, 0, 24, 24, 1152, TILE_ERR_HEADER},
      {"ref past the block", with(lz4, 16, {0xFF, 0xFF, 0, 0}), 0, 0, 24, 24, 1152, TILE_ERR_PAYLOAD},
      {"ref of length 0", with(lz4, 20, {0, 0, 0, 0}), 0, 0, 24, 24, 1152, TILE_ERR_PAYLOAD},
      {"cut stream", Bytes(rle.begin(), rle.end() - 1), 0, 0, 24, 24, 1152, TILE_ERR_PAYLOAD},
      {"short stream", with(rle, 16 + 8 * 8 + 4, {static_cast<uint8_t>(last.len - 1)}), 16, 16, 8, 8, 128,
       TILE_ERR_CORRUPT},
      {"garbage LZ4", with(lz4, read_tile_ref(lz4.data() + 16).offset, {0xFF, 0xFF, 0xFF}), 0, 0, 8, 8, 128,
       TILE_ERR_CORRUPT},
      {"region past the edge", lz4, 20, 0, 5, 1, 10, TILE_ERR_REGION},
      {"negative region", lz4, -1, 0, 2, 2, 8, TILE_ERR_REGION},
      {"output too small", lz4, 0, 0, 24, 24, 1151, TILE_ERR_OUTPUT},
      {"short raw block", Bytes(raw.begin(), raw.end() - 1), 0, 0, 24, 24, 1152, TILE_ERR_PAYLOAD},
  };
  for (const Case& c : cases) {
    Bytes out(c.out, 0xEE);
    EXPECT_EQ(decode_tile_region(c.block, out, c.x, c.y, c.w, c.h), c.want) << c.what;
    tile_cache_forget(c.block.data());
    if (c.want == TILE_ERR_MAGIC || c.want == TILE_ERR_OUTPUT) {
      EXPECT_EQ(out, Bytes(c.out, 0xEE)) << c.what;
    }
  }
  // A tile that failed to decode is not kept as valid.
  const TileCache* slot = tile_cache_slot();
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->valid, 0);
}

}  // namespace

// SPDX-License-Identifier: MIT
// The region decoder and its one-slot tile cache: whole images and regions of
// every codec and pixel format, what the slot holds after each request, the
// rule that a forgotten block's tile never answers for a later block at the
// same address, and damaged blocks; and the C interface, called from C99,
// against the C++ one. Output buffers are sized exactly, so a write past the
// region shows under AddressSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "morvane/tile.h"
#include "support/encode.h"
#include "support/image_gen.h"
#include "tile/byte_order.h"
#include "tile/tile_image.h"
#include "tile_c_calls.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

using Bytes = std::vector<uint8_t>;

// Pixels constant over 4 x 2 cells, each cell different and each of its bytes
// different: both codecs shrink it (so blocks stay tiled), yet a row or
// column taken from the wrong place shows.
Bytes blocky(int w, int h, int bpp, int seed = 0) {
  Bytes img(size_t(w) * h * bpp);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int b = 0; b < bpp; ++b)
        img[(size_t(y) * w + x) * bpp + b] = uint8_t((x / 4) * 37 + (y / 2) * 11 + b * 71 + seed * 13);
  return img;
}

// The block of img in the pixel format of bpp bytes.
Bytes encode(const Bytes& img, int w, int h, int tw, int th, int bpp, int codec) {
  return tile_block(img, w, h, tw, th, format_for(bpp), codec);
}

uint32_t magic_of(const Bytes& block) { return load_le32(block.data()); }

// Decodes a region into an exactly sized buffer; *result gets the return.
Bytes region(const Bytes& block, int x, int y, int w, int h, int bpp, int32_t* result) {
  Bytes out(size_t(w) * h * bpp);
  *result = decode_tile_region(block, out, x, y, w, h);
  return out;
}

TileRef ref_of(const Bytes& block, uint32_t index) {
  return {load_le32(block.data() + 16 + 8 * index), load_le32(block.data() + 20 + 8 * index)};
}

void set_ref(Bytes& block, uint32_t index, uint32_t offset, uint32_t len) {
  store_le32(block.data() + 16 + 8 * index, offset);
  store_le32(block.data() + 20 + 8 * index, len);
}

// Gives every TileRef but `keep` length 0, so that decoding any other tile
// fails: a request that succeeds on such a block touched `keep` alone.
Bytes only_tile(Bytes block, uint32_t keep) {
  const uint32_t count = load_le16(block.data() + 14);
  for (uint32_t i = 0; i < count; ++i)
    if (i != keep) set_ref(block, i, ref_of(block, i).offset, 0);
  return block;
}

struct SlotState {
  const uint8_t* owner;
  uint16_t tile_index, length_tag, valid, use_count;
  bool operator==(const SlotState&) const = default;
};

SlotState slot_of(const TileCache& s) { return {s.owner, s.tile_index, s.length_tag, s.valid, s.use_count}; }

// The static decoder's slot.
SlotState slot_state() {
  const TileCache* s = tile_cache_slot();
  return s == nullptr ? SlotState{nullptr, 0, 0, 0, 0} : slot_of(*s);
}

// A decoder in memory of exactly its size, so that a write past its room
// shows under AddressSanitizer.
struct Decoder {
  explicit Decoder(int32_t max_tile_bytes)
      : memory(tile_decoder_size(max_tile_bytes)), dec(tile_decoder_init(memory.data(), memory.size(), max_tile_bytes)) {}
  Decoder(const Decoder&) = delete;
  Bytes memory;  // from operator new: aligned to at least 8
  TileDecoder* dec;
};

// ---- Whole images and regions ----------------------------------------------

struct Geometry {
  int w, h, tw, th;
};

// Edge tiles in both directions, exact multiples, odd sizes, full-width
// strips (decoded in place), full-height strips, one tile larger than the
// image.
const Geometry kGeometries[] = {{100, 50, 32, 32}, {64, 64, 32, 32}, {37, 70, 16, 9},
                                {40, 300, 40, 64}, {300, 20, 128, 20}, {5, 5, 64, 64}};

// Whole images through the encoder and back: generated images of every kind
// in every pixel format and codec, then blocky images of every pixel size,
// which stay tiled through both codecs, in every geometry; the slot ends
// holding the last tile, freshly decoded.
TEST(TileDecodeRegionTest, WholeImagesOfEveryCodecFormatAndGeometry) {
  int32_t n = 0;
  for (int format = 1; format <= 6; ++format) {
    const int bpp = pixel_format_bytes(format);
    for (int codec : {CODEC_KIND_RLE, CODEC_KIND_LZ4, CODEC_KIND_STORED}) {
      for (ImageKind kind : {ImageKind::Gradient, ImageKind::Flat, ImageKind::Noise, ImageKind::Glyphs}) {
        const Bytes img = make_image(kind, 77, 45, bpp, uint32_t(format));
        const Bytes block = tile_block(img, 77, 45, 16, 16, format, codec);
        EXPECT_EQ(region(block, 0, 0, 77, 45, bpp, &n), img) << format << " " << codec << " " << int(kind);
        EXPECT_EQ(n, 77 * 45 * bpp);
        tile_cache_forget(block.data());
      }
    }
  }
  for (int codec : {CODEC_KIND_LZ4, CODEC_KIND_RLE}) {
    for (int bpp = 1; bpp <= 4; ++bpp) {
      for (const Geometry& g : kGeometries) {
        const std::string what = "codec " + std::to_string(codec) + " bpp " + std::to_string(bpp) + " " +
                                 std::to_string(g.w) + "x" + std::to_string(g.h) + " tiles " +
                                 std::to_string(g.tw) + "x" + std::to_string(g.th);
        const Bytes img = blocky(g.w, g.h, bpp);
        const Bytes block = encode(img, g.w, g.h, g.tw, g.th, bpp, codec);
        ASSERT_EQ(magic_of(block), codec == CODEC_KIND_LZ4 ? MORVANE_TILE_MAGIC_LZ4 : MORVANE_TILE_MAGIC_RLE) << what;
        EXPECT_EQ(region(block, 0, 0, g.w, g.h, bpp, &n), img) << what;
        EXPECT_EQ(n, g.w * g.h * bpp) << what;
        const uint32_t last = load_le16(block.data() + 14) - 1;
        EXPECT_EQ(slot_state(), (SlotState{block.data(), uint16_t(last), uint16_t(ref_of(block, last).len), 1, 1}))
            << what;
        tile_cache_forget(block.data());
      }
    }
  }
}

TEST(TileDecodeRegionTest, UntiledBlockGivesTheSameBytesAndLeavesTheSlot) {
  const Bytes img = blocky(100, 50, 3);
  const Bytes lz4 = encode(img, 100, 50, 32, 32, 3, CODEC_KIND_LZ4);
  const Bytes raw = encode(img, 100, 50, 32, 32, 3, CODEC_KIND_STORED);
  ASSERT_EQ(magic_of(raw), MORVANE_TILE_MAGIC_RAW);
  int32_t n = 0;
  region(lz4, 10, 40, 5, 5, 3, &n);  // leaves tile 7 in the slot
  ASSERT_EQ(n, 75);
  const SlotState before = slot_state();
  EXPECT_EQ(region(raw, 0, 0, 100, 50, 3, &n), img);
  EXPECT_EQ(n, 100 * 50 * 3);
  EXPECT_EQ(region(raw, 97, 13, 3, 30, 3, &n), crop(img, 100, 3, 97, 13, 3, 30));
  EXPECT_EQ(n, 3 * 30 * 3);
  EXPECT_EQ(slot_state(), before);
  tile_cache_forget(lz4.data());
}

TEST(TileDecodeRegionTest, OneTileColumnIsDecodedInPlace) {
  // A region exactly one tile column wide: the tiles above the last are
  // decoded straight into the output; the last still ends in the slot.
  const Bytes img = blocky(80, 200, 4, 2);
  for (int codec : {CODEC_KIND_LZ4, CODEC_KIND_RLE}) {
    const Bytes block = encode(img, 80, 200, 40, 48, 4, codec);  // 2 x 5 tiles
    for (int x : {0, 40}) {
      int32_t n = 0;
      EXPECT_EQ(region(block, x, 0, 40, 200, 4, &n), crop(img, 80, 4, x, 0, 40, 200)) << codec << " " << x;
      EXPECT_EQ(n, 40 * 200 * 4);
      EXPECT_EQ(slot_state(), (SlotState{block.data(), uint16_t(8 + x / 40),
                                         uint16_t(ref_of(block, 8 + x / 40).len), 1, 1}));
      // Starting below the first tile row: a miss that gives up the slot's
      // tile, which is decoded again at the end.
      EXPECT_EQ(region(block, x, 48, 40, 152, 4, &n), crop(img, 80, 4, x, 48, 40, 152));
    }
    // As wide as a tile but not one column of tiles, or cutting into the
    // first and last tile rows: copied through the slot.
    struct R {
      int x, y, w, h;
    } const others[] = {{20, 0, 40, 200}, {4, 0, 40, 100}, {0, 10, 40, 190}, {40, 30, 40, 140}, {0, 0, 40, 150}};
    for (const R& r : others) {
      int32_t n = 0;
      EXPECT_EQ(region(block, r.x, r.y, r.w, r.h, 4, &n), crop(img, 80, 4, r.x, r.y, r.w, r.h))
          << codec << " at " << r.x << "," << r.y << " " << r.w << "x" << r.h;
      EXPECT_EQ(n, r.w * r.h * 4);
    }
    tile_cache_forget(block.data());
    // Which path ran, seen in a decoder's room: the last tile (8 rows) ends
    // there either way (its codec may write a little past it), so the room
    // past that tile is written over only if the tile above went through
    // the room too.
    const int32_t room = 40 * 48 * 4, last = 40 * 8 * 4;
    for (const R& r : {R{0, 0, 40, 200}, R{4, 0, 40, 200}}) {
      std::vector<uint64_t> memory((tile_decoder_size(room) + 7) / 8);
      TileDecoder* dec = tile_decoder_init(memory.data(), memory.size() * 8, room);
      uint8_t* pixels = tile_decoder_pixels(dec);
      std::fill(pixels, pixels + room, uint8_t{0xA5});
      Bytes out(size_t(r.w) * r.h * 4);
      ASSERT_EQ(decode_tile_region(dec, block, out, r.x, r.y, r.w, r.h, r.w * 4), int32_t(out.size()));
      const bool untouched = std::count(pixels + last, pixels + room, uint8_t{0xA5}) > (room - last) / 2;
      EXPECT_EQ(untouched, r.x == 0) << codec << " at " << r.x << ": decoded in place";
    }
  }
}

TEST(TileDecodeRegionTest, EmptyRegionsWriteNothing) {
  const Bytes img = blocky(64, 64, 2);
  const Bytes block = encode(img, 64, 64, 32, 32, 2, CODEC_KIND_LZ4);
  const Bytes raw = encode(img, 64, 64, 32, 32, 2, CODEC_KIND_STORED);
  Bytes held(8);
  ASSERT_EQ(decode_tile_region(block, held, 33, 33, 2, 2), 8);  // tile 3 in the slot
  const SlotState before = slot_state();
  const Bytes other = encode(blocky(64, 64, 2, 1), 64, 64, 32, 32, 2, CODEC_KIND_LZ4);
  Bytes out(16, 0xEE);
  EXPECT_EQ(decode_tile_region(other, out, 3, 3, 5, 0), 0);
  EXPECT_EQ(decode_tile_region(other, out, 3, 3, 0, 5), 0);
  EXPECT_EQ(decode_tile_region(other, out, 64, 64, 0, 0), 0);
  EXPECT_EQ(decode_tile_region(raw, out, 0, 10, 64, 0), 0);
  EXPECT_EQ(decode_tile_region(raw, out, 10, 0, 0, 64), 0);
  EXPECT_EQ(decode_tile_region(other, std::span<uint8_t>(), 0, 0, 0, 64), 0);
  EXPECT_EQ(out, Bytes(16, 0xEE));
  EXPECT_EQ(slot_state(), before);  // no tile was visited
  tile_cache_forget(block.data());
}

// Empty images as made by hand (what the encoder writes for them is decoded
// in TileEncodeLayoutTest.EmptyImages): zero tile sides, no TileRef.
TEST(TileDecodeRegionTest, EmptyImages) {
  const Bytes empty = tile_header(MORVANE_TILE_MAGIC_LZ4, 0, 12, 0, 0, 1, 2, 0);
  Bytes out;
  EXPECT_EQ(decode_tile_region(empty, out, 0, 0, 0, 12), 0);
  EXPECT_EQ(decode_tile_region(empty, out, 0, 3, 0, 4), 0);
  EXPECT_EQ(decode_tile_region(empty, out, 0, 0, 1, 1), MORVANE_TILE_ERR_REGION);
  // An empty image claims no tiles.
  EXPECT_EQ(decode_tile_region(tile_header(MORVANE_TILE_MAGIC_RLE, 0, 12, 0, 0, 1, 2, 1), out, 0, 0, 0, 12), MORVANE_TILE_ERR_HEADER);
}

// The worked example of the block format, byte by byte: a 3 x 2 image of one
// byte per pixel in 2 x 2 tiles, run-length coded; and the same pixels as
// hand-made LZ4 blocks of literals only.
TEST(TileDecodeRegionTest, HandMadeBlocks) {
  const Bytes celr = {0x43, 0x45, 0x4C, 0x52, 3, 0, 2, 0, 2, 0, 2, 0, 5, 1, 2, 0, 0x20, 0, 0,    0,   2,
                      0,    0,    0,    0x22, 0, 0, 0, 4, 0, 0, 0, 0x84, 5, 1, 9, 1, 9};
  int32_t n = 0;
  EXPECT_EQ(region(celr, 0, 0, 3, 2, 1, &n), (Bytes{5, 5, 9, 5, 5, 9}));
  EXPECT_EQ(n, 6);
  tile_cache_forget(celr.data());

  const Bytes c4zl = tiled_block(tile_header(MORVANE_TILE_MAGIC_LZ4, 3, 2, 2, 2, 5, 1, 2), {{0x40, 1, 2, 4, 5}, {0x20, 3, 6}});
  EXPECT_EQ(region(c4zl, 0, 0, 3, 2, 1, &n), (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(n, 6);
  EXPECT_EQ(region(c4zl, 1, 1, 2, 1, 1, &n), (Bytes{5, 6}));
  tile_cache_forget(c4zl.data());
}

// ---- The slot ------------------------------------------------------------------

// A region inside one tile, on a block where every other tile fails to
// decode: that tile alone is decoded, with rows of the region's width.
TEST(TileCacheRulesTest, RegionInsideOneTileDecodesThatTileAlone) {
  struct Case {
    int w, h, bpp, codec, seed;
    uint32_t tile;
    int x, y, rw, rh;
  };
  const Case cases[] = {{64, 64, 2, CODEC_KIND_LZ4, 7, 3, 40, 36, 10, 12},  // 2 x 2 tiles, rows of 10 pixels
                        {100, 50, 4, CODEC_KIND_RLE, 4, 7, 99, 49, 1, 1}};  // one pixel at the bottom right
  for (const Case& c : cases) {
    const Bytes img = blocky(c.w, c.h, c.bpp, c.seed);
    const Bytes block = only_tile(encode(img, c.w, c.h, 32, 32, c.bpp, c.codec), c.tile);
    int32_t n = 0;
    EXPECT_EQ(region(block, c.x, c.y, c.rw, c.rh, c.bpp, &n), crop(img, c.w, c.bpp, c.x, c.y, c.rw, c.rh)) << c.tile;
    EXPECT_EQ(n, c.rw * c.rh * c.bpp);
    EXPECT_EQ(slot_state(), (SlotState{block.data(), uint16_t(c.tile), uint16_t(ref_of(block, c.tile).len), 1, 1}));
    tile_cache_forget(block.data());
  }
}

TEST(TileCacheRulesTest, RequestStartingInTheTileDecodedLastDoesNotDecodeItAgain) {
  const Bytes img = blocky(96, 96, 3, 8);
  Bytes block = encode(img, 96, 96, 32, 32, 3, CODEC_KIND_LZ4);  // 3 x 3 tiles
  int32_t n = 0;
  EXPECT_EQ(region(block, 0, 0, 40, 40, 3, &n), crop(img, 96, 3, 0, 0, 40, 40));  // ends in tile 4
  const TileRef r4 = ref_of(block, 4);
  EXPECT_EQ(slot_state(), (SlotState{block.data(), 4, uint16_t(r4.len), 1, 1}));
  // Spoil tile 4's payload in place: only a decode would notice.
  std::fill(block.begin() + r4.offset, block.begin() + r4.offset + r4.len, 0xFF);
  EXPECT_EQ(region(block, 35, 35, 20, 20, 3, &n), crop(img, 96, 3, 35, 35, 20, 20));
  EXPECT_EQ(n, 20 * 20 * 3);
  EXPECT_EQ(slot_state(), (SlotState{block.data(), 4, uint16_t(r4.len), 1, 2}));
  // Going on into tile 5 gives up tile 4, so a return to it decodes again.
  EXPECT_EQ(region(block, 35, 35, 40, 20, 3, &n), crop(img, 96, 3, 35, 35, 40, 20));  // hit on 4, then 5
  EXPECT_EQ(slot_state().tile_index, 5);
  EXPECT_EQ(region(block, 35, 35, 1, 1, 3, &n), Bytes(3, 0));
  EXPECT_EQ(n, MORVANE_TILE_ERR_CORRUPT);
  tile_cache_forget(block.data());
}

TEST(TileCacheRulesTest, ForgottenBlockIsNotServedToALaterBlockAtTheSameAddress) {
  // Two entries of one size, pixel format and tiling but different pixels,
  // handed over one after the other in the same memory.
  const Bytes a = blocky(48, 48, 2, 1), b = blocky(48, 48, 2, 2);
  ASSERT_NE(a, b);
  for (int codec : {CODEC_KIND_LZ4, CODEC_KIND_RLE}) {
    const Bytes ea = encode(a, 48, 48, 48, 48, 2, codec), eb = encode(b, 48, 48, 48, 48, 2, codec);
    Bytes buffer;
    buffer.reserve(std::max(ea.size(), eb.size()));
    buffer.assign(ea.begin(), ea.end());
    const uint8_t* address = buffer.data();
    int32_t n = 0;
    EXPECT_EQ(region(buffer, 0, 0, 48, 48, 2, &n), a);
    EXPECT_EQ(slot_state().owner, address);
    tile_cache_forget(buffer.data());
    buffer.assign(eb.begin(), eb.end());
    ASSERT_EQ(buffer.data(), address);
    EXPECT_EQ(region(buffer, 0, 0, 48, 48, 2, &n), b) << codec;
    EXPECT_EQ(region(buffer, 10, 10, 5, 5, 2, &n), crop(b, 48, 2, 10, 10, 5, 5)) << codec;
    tile_cache_forget(buffer.data());
  }
}

TEST(TileCacheRulesTest, SlotOperations) {
  EXPECT_EQ(tile_cache_is_valid(nullptr), 0);
  EXPECT_EQ(tile_cache_fill(nullptr, {}, 0, 0), MORVANE_TILE_ERR_NO_SLOT);
  alignas(8) uint8_t memory[TILE_DECODER_HEAD + 1];
  TileDecoder* dec = tile_decoder_init(memory, sizeof memory, 1);
  ASSERT_NE(dec, nullptr);
  const uint8_t a[2] = {}, b[1] = {};
  const std::span<const uint8_t> block_a(a), a_shorter(a, 1), block_b(b);
  auto state = [&] { return slot_of(dec->slot); };
  // A new decoder holds nothing: a miss for any key that changes nothing.
  TileCache* slot = tile_cache_lookup(dec, block_a, 0);
  EXPECT_EQ(tile_cache_is_valid(slot), 0);
  EXPECT_EQ(state(), (SlotState{nullptr, 0, 0, 0, 0}));

  EXPECT_EQ(tile_cache_fill(slot, block_a, 4, 0x1234), 0);
  EXPECT_EQ(state(), (SlotState{a, 4, 0x1234, 1, 1}));
  EXPECT_EQ(tile_cache_lookup(dec, block_a, 4), slot);  // a hit
  EXPECT_EQ(state(), (SlotState{a, 4, 0x1234, 1, 2}));
  // A miss on another index, another block or the same address with
  // another length clears valid alone.
  for (const auto& [block, index] : {std::pair{block_a, 5}, {block_b, 4}, {a_shorter, 4}}) {
    EXPECT_EQ(tile_cache_fill(slot, block_a, 4, 1), 0);
    EXPECT_EQ(tile_cache_is_valid(tile_cache_lookup(dec, block, uint16_t(index))), 0);
    EXPECT_EQ(state(), (SlotState{a, 4, 1, 0, 1}));
  }
  // use_count wraps.
  EXPECT_EQ(tile_cache_fill(slot, block_b, 65535, 0), 0);
  for (int i = 0; i < 65535; ++i) tile_cache_lookup(dec, block_b, 65535);
  EXPECT_EQ(state(), (SlotState{b, 65535, 0, 1, 0}));
  // Forgetting another block, or none, keeps the tile; its own block clears
  // valid alone, and twice is harmless.
  const uint8_t other[16] = {};
  tile_decoder_forget(dec, other);
  tile_decoder_forget(dec, nullptr);
  EXPECT_EQ(state(), (SlotState{b, 65535, 0, 1, 0}));
  for (int twice = 0; twice < 2; ++twice) {
    tile_decoder_forget(dec, b);
    EXPECT_EQ(state(), (SlotState{b, 65535, 0, 0, 0}));
  }
}

// ---- Decoders in the caller's memory -------------------------------------------

// Decodes through `dec` with rows `stride` bytes apart into a buffer that
// ends 5 bytes after the last row, filled with 0xEE first. Every byte
// outside the rows must still be 0xEE; returns the rows packed.
Bytes strided(TileDecoder* dec, const Bytes& block, int x, int y, int w, int h, int bpp, int stride,
              int32_t* result) {
  const size_t row = size_t(w) * bpp;
  Bytes out(h == 0 ? 5 : size_t(h - 1) * stride + row + 5, 0xEE);
  *result = decode_tile_region(dec, block, out, x, y, w, h, stride);
  Bytes rows;
  for (int j = 0; j < h; ++j) {
    const auto at = out.begin() + long(size_t(j) * stride);
    rows.insert(rows.end(), at, at + long(row));
    std::fill(at, at + long(row), 0xEE);
  }
  EXPECT_EQ(out, Bytes(out.size(), 0xEE)) << "a byte outside the rows was written";
  return rows;
}

// Regions equal the crops of the image, with rows packed (as the static
// decoder writes them) or further apart.
TEST(TileDecoderTest, RegionsWithStridesLeaveTheGapsAlone) {
  struct R {
    int x, y, w, h;
  };
  // 100 x 50 with 32 x 32 tiles: columns 0, 32, 64, 96 (4 wide); rows 0, 32
  // (18 high). One tile column whole (decoded in place when the rows are
  // packed), edge columns and rows, inner regions, single pixels.
  const R regions[] = {{0, 0, 100, 50},  {32, 0, 32, 50}, {96, 10, 4, 40}, {31, 20, 35, 13}, {5, 49, 90, 1},
                       {40, 36, 10, 12}, {96, 0, 4, 50},  {97, 33, 3, 17}, {31, 31, 2, 2},   {99, 49, 1, 1},
                       {0, 49, 100, 1},  {63, 0, 1, 50},  {1, 1, 98, 48},  {64, 32, 36, 18}};
  Decoder own(1 << 20);
  for (int codec : {CODEC_KIND_LZ4, CODEC_KIND_RLE, CODEC_KIND_STORED}) {
    for (int bpp : {1, 2, 3, 4}) {
      const Bytes img = blocky(100, 50, bpp, 9);
      const Bytes block = encode(img, 100, 50, 32, 32, bpp, codec);
      for (const R& r : regions) {
        for (int extra : {0, 1, 4, 13, 100 * bpp}) {
          int32_t n = 0;
          EXPECT_EQ(strided(own.dec, block, r.x, r.y, r.w, r.h, bpp, r.w * bpp + extra, &n),
                    crop(img, 100, bpp, r.x, r.y, r.w, r.h))
              << codec << " " << bpp << " at " << r.x << "," << r.y << " " << r.w << "x" << r.h << " + " << extra;
          EXPECT_EQ(n, r.w * r.h * bpp);
        }
      }
    }
  }
}

TEST(TileDecoderTest, StrideAndCapacityRefusals) {
  const Bytes block = encode(blocky(64, 40, 2), 64, 40, 16, 16, 2, CODEC_KIND_LZ4);
  Decoder own(512);
  struct Case {
    const char* what;
    TileDecoder* dec;
    int h, stride;
    size_t out;
    int32_t want;
  };
  const Case cases[] = {
      {"no decoder", nullptr, 3, 20, 60, MORVANE_TILE_ERR_NO_SLOT},
      {"stride one below the row", own.dec, 3, 19, 60, MORVANE_TILE_ERR_OUTPUT},
      {"negative stride", own.dec, 3, -20, 60, MORVANE_TILE_ERR_OUTPUT},
      {"one byte short of the last row", own.dec, 3, 30, 2 * 30 + 20 - 1, MORVANE_TILE_ERR_OUTPUT},
      {"exactly to the last row", own.dec, 3, 30, 2 * 30 + 20, 60},
      {"one row: any stride", own.dec, 1, 1 << 30, 20, 20},
      {"empty region: no room needed", own.dec, 0, 20, 0, 0},
      {"empty region, negative stride", own.dec, 0, -1, 0, MORVANE_TILE_ERR_OUTPUT},
  };
  for (const Case& c : cases) {
    Bytes out(c.out, 0xEE);
    EXPECT_EQ(decode_tile_region(c.dec, block, out, 10, 10, 10, c.h, c.stride), c.want) << c.what;
    if (c.want < 0) {
      EXPECT_EQ(out, Bytes(c.out, 0xEE)) << c.what;
    }
  }
}

TEST(TileDecoderTest, SizesAndLayout) {
  EXPECT_EQ(tile_decoder_size(0), 0u);
  EXPECT_EQ(tile_decoder_size(-1), 0u);
  EXPECT_EQ(tile_decoder_size((1 << 20) + 1), 0u);
  for (int32_t max : {1, 4096, 1 << 20}) {
    EXPECT_EQ(tile_decoder_size(max), tile_decoder_size(1) + size_t(max - 1)) << max;
    EXPECT_LE(tile_decoder_size(max), MORVANE_TILE_DECODER_SIZE(max)) << max;
  }
  std::vector<uint64_t> memory(tile_decoder_size(4096) / 8 + 1);
  uint8_t* const base = reinterpret_cast<uint8_t*>(memory.data());
  const size_t need = tile_decoder_size(4096);
  struct Case {
    const char* what;
    void* memory;
    size_t size;
    int32_t max;
    bool ok;
  };
  const Case cases[] = {
      {"exactly its size", base, need, 4096, true},
      {"no memory", nullptr, need, 4096, false},
      {"not aligned to 8", base + 4, need, 4096, false},
      {"one byte short", base, need - 1, 4096, false},
      {"max_tile_bytes 0", base, need, 0, false},
      {"max_tile_bytes above 1 MiB", base, need, (1 << 20) + 1, false},
  };
  for (const Case& c : cases) {
    TileDecoder* dec = tile_decoder_init(c.memory, c.size, c.max);
    EXPECT_EQ(dec, c.ok ? c.memory : nullptr) << c.what;
  }
}

TEST(TileDecoderTest, TilesLargerThanTheDecoderAreRefusedNeverOverrun) {
  // 32 x 32 tiles of 2 bytes: 2048 bytes each, the edge tiles less.
  const Bytes img = blocky(80, 40, 2, 3);
  const Bytes lz4 = encode(img, 80, 40, 32, 32, 2, CODEC_KIND_LZ4);
  const Bytes raw = encode(img, 80, 40, 32, 32, 2, CODEC_KIND_STORED);
  // A 4 x 4 tile (16 bytes) whose LZ4 payload decodes to 5000 bytes, and a
  // run-length one that decodes to 254.
  const Bytes lying_lz4 = tiled_block(tile_header(MORVANE_TILE_MAGIC_LZ4, 4, 4, 4, 4, 5, 1, 1), {lz4_block(Bytes(5000, 0x5A))});
  const Bytes lying_rle = tiled_block(tile_header(MORVANE_TILE_MAGIC_RLE, 4, 4, 4, 4, 5, 1, 1), {{0xFF, 1, 0xFF, 2}});
  struct Case {
    const char* what;
    const Bytes& block;
    int32_t max;
    int w, h, bpp;
    int32_t want;
  };
  const Case cases[] = {
      {"tile one byte larger than the decoder", lz4, 2047, 80, 40, 2, MORVANE_TILE_ERR_HEADER},
      {"tile exactly the decoder's size", lz4, 2048, 80, 40, 2, 80 * 40 * 2},
      {"untiled block, smallest decoder", raw, 1, 80, 40, 2, 80 * 40 * 2},
      {"LZ4 payload decoding past the room", lying_lz4, 16, 4, 4, 1, MORVANE_TILE_ERR_CORRUPT},
      // A run-length stream is cut at the room, so it shows only with room
      // to spare.
      {"run-length payload decoding past the tile", lying_rle, 17, 4, 4, 1, MORVANE_TILE_ERR_CORRUPT},
  };
  for (const Case& c : cases) {
    Decoder own(c.max);  // its room ends where its memory ends
    int32_t n = 0;
    const Bytes got = strided(own.dec, c.block, 0, 0, c.w, c.h, c.bpp, c.w * c.bpp + 3, &n);
    EXPECT_EQ(n, c.want) << c.what;
    if (n > 0) {
      EXPECT_EQ(got, img) << c.what;
    } else if (n == MORVANE_TILE_ERR_HEADER) {
      EXPECT_EQ(got, Bytes(got.size(), 0xEE)) << c.what;
    }
  }
}

TEST(TileDecoderTest, TwoDecodersInterleavedKeepTheirOwnTiles) {
  const Bytes a = blocky(96, 64, 3, 1), b = blocky(64, 96, 1, 2);
  const Bytes block_a = encode(a, 96, 64, 32, 32, 3, CODEC_KIND_LZ4);  // 3 x 2 tiles
  const Bytes block_b = encode(b, 64, 96, 32, 32, 1, CODEC_KIND_RLE);  // 2 x 3 tiles
  Decoder one(32 * 32 * 3), two(32 * 32 * 3);
  const SlotState shared = slot_state();
  int32_t n = 0;
  EXPECT_EQ(strided(one.dec, block_a, 0, 0, 40, 40, 3, 120, &n), crop(a, 96, 3, 0, 0, 40, 40));  // ends in tile 4
  EXPECT_EQ(strided(two.dec, block_b, 0, 0, 64, 40, 1, 64, &n), crop(b, 64, 1, 0, 0, 64, 40));   // ends in tile 3
  // Each starts where it ended: a hit in each, whatever the other did.
  EXPECT_EQ(strided(one.dec, block_a, 35, 35, 20, 20, 3, 60, &n), crop(a, 96, 3, 35, 35, 20, 20));
  EXPECT_EQ(strided(two.dec, block_b, 40, 33, 10, 5, 1, 10, &n), crop(b, 64, 1, 40, 33, 10, 5));
  EXPECT_EQ(slot_of(one.dec->slot), (SlotState{block_a.data(), 4, uint16_t(ref_of(block_a, 4).len), 1, 2}));
  EXPECT_EQ(slot_of(two.dec->slot), (SlotState{block_b.data(), 3, uint16_t(ref_of(block_b, 3).len), 1, 2}));
  // Swapped over, each gives up its tile and decodes the other block.
  EXPECT_EQ(strided(one.dec, block_b, 0, 0, 64, 96, 1, 64, &n), b);
  EXPECT_EQ(strided(two.dec, block_a, 0, 0, 96, 64, 3, 96 * 3, &n), a);
  EXPECT_EQ(slot_state(), shared);  // the static decoder was never used
}

TEST(TileDecoderTest, BlockRewrittenAtTheSameAddress) {
  // Two blocks of the same length with different pixels (the same cells,
  // shifted in value), and one of another length.
  const Bytes first = blocky(48, 48, 2, 1), same_length = blocky(48, 48, 2, 2);
  const Bytes other = make_image(ImageKind::Noise, 48, 48, 2, 3);
  const Bytes e1 = encode(first, 48, 48, 24, 24, 2, CODEC_KIND_RLE);
  const Bytes e2 = encode(same_length, 48, 48, 24, 24, 2, CODEC_KIND_RLE);
  const Bytes e3 = encode(other, 48, 48, 24, 24, 2, CODEC_KIND_LZ4);
  ASSERT_EQ(e1.size(), e2.size());
  ASSERT_NE(e1.size(), e3.size());
  struct Case {
    const char* what;
    const Bytes& later;
    bool forget;
    const Bytes& served;  // the pixels a region in the held tile gives
  };
  const Case cases[] = {
      {"same length, forgotten", e2, true, same_length},
      {"other length, forgotten", e3, true, other},
      {"other length, not forgotten", e3, false, other},
      // The one case the key cannot tell: the earlier tile answers.
      {"same length, not forgotten", e2, false, first},
  };
  for (const Case& c : cases) {
    Decoder own(24 * 24 * 2);
    Bytes buffer;
    buffer.reserve(std::max(e1.size(), c.later.size()));
    buffer.assign(e1.begin(), e1.end());
    const uint8_t* address = buffer.data();
    int32_t n = 0;
    EXPECT_EQ(strided(own.dec, buffer, 0, 0, 48, 48, 2, 96, &n), first) << c.what;  // tile 3 held
    if (c.forget) tile_decoder_forget(own.dec, buffer.data());
    buffer.assign(c.later.begin(), c.later.end());
    ASSERT_EQ(buffer.data(), address);
    EXPECT_EQ(strided(own.dec, buffer, 30, 30, 5, 5, 2, 10, &n), crop(c.served, 48, 2, 30, 30, 5, 5)) << c.what;
  }
}

TEST(TileDecoderThreadsTest, EachThreadWithItsOwnDecoder) {
  // Blocks shared read-only; every thread decodes regions of all of them,
  // each through its own decoder, with a stride of its own.
  struct Image {
    Bytes pixels, block;
    int bpp;
  };
  std::vector<Image> images;
  for (int codec : {CODEC_KIND_LZ4, CODEC_KIND_RLE}) {
    for (int bpp : {1, 2, 4}) {
      const Bytes img = make_image(ImageKind::Glyphs, 90, 70, bpp, bpp + codec);
      images.push_back({img, encode(img, 90, 70, 32, 32, bpp, codec), bpp});
    }
  }
  std::atomic<int> wrong{0};
  auto work = [&](int seed) {
    Decoder own(32 * 32 * 4);
    uint32_t state = uint32_t(seed) * 2654435761u + 1;
    auto next = [&](uint32_t n) { return (state = state * 1103515245u + 12345u) / 65536 % n; };
    for (int i = 0; i < 200; ++i) {
      const Image& m = images[next(uint32_t(images.size()))];
      const int x = int(next(90)), y = int(next(70)), w = 1 + int(next(uint32_t(90 - x))), h = 1 + int(next(uint32_t(70 - y)));
      const int stride = w * m.bpp + seed;
      Bytes out(size_t(h - 1) * stride + size_t(w) * m.bpp);
      if (decode_tile_region(own.dec, m.block, out, x, y, w, h, stride) != w * h * m.bpp) ++wrong;
      for (int j = 0; j < h; ++j)
        if (std::memcmp(out.data() + size_t(j) * stride, m.pixels.data() + (size_t(y + j) * 90 + size_t(x)) * m.bpp,
                        size_t(w) * m.bpp) != 0)
          ++wrong;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// ---- Damaged blocks and bad requests ----------------------------------------

// Each case: a block, a request, the exact output size, the code wanted, and
// whether the output must be left untouched (every check made before the
// first write).
struct Hostile {
  std::string what;
  Bytes block;
  int x, y, w, h;
  size_t out;
  int32_t want;
  bool untouched;
  int32_t rule = 0;  // for MORVANE_TILE_ERR_HEADER, morvane_tile_header_check's code
};

std::vector<Hostile> hostile_cases() {
  // 24 x 20, one byte per pixel, 8 x 8 tiles: 3 x 3 tiles, the last row 4
  // high. Tile 0 is 64 pixel bytes, tile 8 is 32.
  const Bytes img = blocky(24, 20, 1, 3);
  const Bytes lz4 = encode(img, 24, 20, 8, 8, 1, CODEC_KIND_LZ4);
  const Bytes rle = encode(img, 24, 20, 8, 8, 1, CODEC_KIND_RLE);
  const Bytes raw = encode(img, 24, 20, 8, 8, 1, CODEC_KIND_STORED);
  EXPECT_EQ(magic_of(lz4), MORVANE_TILE_MAGIC_LZ4);
  EXPECT_EQ(magic_of(rle), MORVANE_TILE_MAGIC_RLE);
  const size_t whole = 24 * 20;
  auto with = [](Bytes b, size_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), b.begin() + long(at));
    return b;
  };
  auto with_ref = [](Bytes b, uint32_t index, uint32_t offset, uint32_t len) {
    set_ref(b, index, offset, len);
    return b;
  };
  auto cut = [](const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(n)); };
  const TileRef l0 = ref_of(lz4, 0), l8 = ref_of(lz4, 8), r8 = ref_of(rle, 8);

  // The last run-length tile one byte short, its stream cut inside a packet.
  Bytes rle_cut = cut(rle, rle.size() - 1);
  set_ref(rle_cut, 8, r8.offset, r8.len - 1);
  // The last run-length tile with one more pixel than it holds.
  Bytes rle_long = rle;
  rle_long.insert(rle_long.end(), {0x01, 0x42});
  set_ref(rle_long, 8, r8.offset, r8.len + 2);
  // A tile over 1 MiB: 1024 x 512 pixels of 4 bytes in one tile.
  Bytes huge_tile = tiled_block(tile_header(MORVANE_TILE_MAGIC_LZ4, 1024, 512, 1024, 512, 4, 4, 1), {{0x00}});
  // 65535 x 65535 pixels of 4 bytes: more than a result can count.
  Bytes vast = tile_header(MORVANE_TILE_MAGIC_LZ4, 65535, 65535, 512, 512, 4, 4, 128 * 128);
  vast.resize(16 + 8 * 128 * 128);

  return {
      {"empty block", {}, 0, 0, 1, 1, 1, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_SHORT},
      {"shorter than the header", cut(lz4, 15), 0, 0, 1, 1, 1, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_SHORT},
      {"shorter than the table", cut(lz4, 16 + 8 * 9 - 1), 0, 0, 1, 1, 1, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_TABLE},
      {"unknown magic", with(lz4, 0, {'C', '4', 'Z', 'M'}), 0, 0, 24, 20, whole, MORVANE_TILE_ERR_MAGIC, true},
      {"unknown magic before a bad region", with(lz4, 0, {0, 0, 0, 0}), 30, 0, 1, 1, 1, MORVANE_TILE_ERR_MAGIC, true},
      {"unknown magic before bad bpp", with(rle, 0, {'X', 'E', 'L', 'R', 0, 0, 0, 0, 0, 0, 0, 0, 0, 9}), 0, 0, 1,
       1, 1, MORVANE_TILE_ERR_MAGIC, true},
      {"bpp 0", with(lz4, 13, {0}), 0, 0, 24, 20, whole, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_BPP},
      {"bpp 5", with(raw, 13, {5}), 0, 0, 1, 1, 5, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_BPP},
      {"bad bpp before a bad region", with(lz4, 13, {0}), -1, 0, 1, 1, 1, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_BPP},
      {"zero tile width", with(lz4, 8, {0, 0}), 0, 0, 24, 20, whole, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_TILE_SIDE},
      {"zero tile height", with(rle, 10, {0, 0}), 0, 0, 24, 20, whole, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_TILE_SIDE},
      {"tile above 1 MiB", huge_tile, 0, 0, 1, 1, 4, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_TILE_BYTES},
      {"one TileRef too many", with(lz4, 14, {10, 0}), 0, 0, 24, 20, whole, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_GRID},
      {"one TileRef too few", with(lz4, 14, {8, 0}), 0, 0, 1, 1, 1, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_GRID},
      {"grid larger than the tiles", with(lz4, 8, {4, 0}), 0, 0, 1, 1, 1, MORVANE_TILE_ERR_HEADER, true, MORVANE_TILE_ERR_HEADER_GRID},
      {"payload offset past the block", with_ref(lz4, 0, uint32_t(lz4.size()) + 1, l0.len), 0, 0, 8, 8, 64,
       MORVANE_TILE_ERR_PAYLOAD, false},
      {"payload end one past the block", with_ref(lz4, 8, l8.offset, uint32_t(lz4.size()) - l8.offset + 1), 16,
       16, 8, 4, 32, MORVANE_TILE_ERR_PAYLOAD, false},
      {"payload end wraps around", with_ref(lz4, 0, 0xFFFFFFF0u, 0x20), 0, 0, 8, 8, 64, MORVANE_TILE_ERR_PAYLOAD, false},
      {"payload of length 0", with_ref(rle, 4, ref_of(rle, 4).offset, 0), 0, 0, 24, 20, whole, MORVANE_TILE_ERR_PAYLOAD,
       false},
      {"run-length stream cut short", rle_cut, 0, 0, 24, 20, whole, MORVANE_TILE_ERR_CORRUPT, false},
      {"run-length stream too long", rle_long, 16, 16, 8, 4, 32, MORVANE_TILE_ERR_CORRUPT, false},
      {"garbage LZ4", with(lz4, l0.offset, {0xFF, 0xFF, 0xFF}), 0, 0, 8, 8, 64, MORVANE_TILE_ERR_CORRUPT, false},
      {"LZ4 tile of the wrong size", with_ref(lz4, 0, l8.offset, l8.len), 0, 0, 24, 20, whole, MORVANE_TILE_ERR_CORRUPT,
       false},
      {"untiled block short of its pixels", cut(raw, raw.size() - 1), 0, 0, 1, 1, 1, MORVANE_TILE_ERR_PAYLOAD, true},
      {"x negative", lz4, -1, 0, 2, 2, 4, MORVANE_TILE_ERR_REGION, true},
      {"y negative", rle, 0, -8, 2, 2, 4, MORVANE_TILE_ERR_REGION, true},
      {"w negative", lz4, 4, 4, -1, 2, 0, MORVANE_TILE_ERR_REGION, true},
      {"h negative", raw, 4, 4, 2, -1, 0, MORVANE_TILE_ERR_REGION, true},
      {"past the right edge", lz4, 20, 0, 5, 1, 5, MORVANE_TILE_ERR_REGION, true},
      {"past the bottom edge", rle, 0, 19, 1, 2, 2, MORVANE_TILE_ERR_REGION, true},
      {"untiled, past the bottom edge", raw, 0, 0, 24, 21, whole + 24, MORVANE_TILE_ERR_REGION, true},
      {"x + w overflows", lz4, INT_MAX, 0, 1, 1, 1, MORVANE_TILE_ERR_REGION, true},
      {"y + h overflows", lz4, 0, 1, 1, INT_MAX, 1, MORVANE_TILE_ERR_REGION, true},
      {"more bytes than a result counts", vast, 0, 0, 65535, 65535, 1, MORVANE_TILE_ERR_REGION, true},
      {"region checked before output", lz4, 0, 0, 25, 1, 0, MORVANE_TILE_ERR_REGION, true},
      {"output one byte short", lz4, 0, 0, 24, 20, whole - 1, MORVANE_TILE_ERR_OUTPUT, true},
      {"untiled, output one byte short", raw, 3, 3, 4, 4, 15, MORVANE_TILE_ERR_OUTPUT, true},
      {"no output", rle, 0, 0, 1, 1, 0, MORVANE_TILE_ERR_OUTPUT, true},
  };
}

TEST(TileDecodeHostileTest, EachDamageHasItsCode) {
  Decoder own(TILE_BUFFER_SIZE);
  for (const Hostile& c : hostile_cases()) {
    // Through the static decoder, and through a decoder of its own with the
    // rows packed.
    const int32_t packed = c.block.size() >= TILE_HEADER_SIZE ? c.w * c.block[13] : 0;
    for (TileDecoder* dec : {static_cast<TileDecoder*>(nullptr), own.dec}) {
      Bytes out(c.out, 0xEE);
      EXPECT_EQ(dec == nullptr ? decode_tile_region(c.block, out, c.x, c.y, c.w, c.h)
                               : decode_tile_region(dec, c.block, out, c.x, c.y, c.w, c.h, packed),
                c.want)
          << c.what;
      if (c.untouched) {
        EXPECT_EQ(out, Bytes(c.out, 0xEE)) << c.what;
      }
      // A tile that failed is never held as valid.
      if (c.want == MORVANE_TILE_ERR_CORRUPT || c.want == MORVANE_TILE_ERR_PAYLOAD) {
        EXPECT_EQ(dec == nullptr ? slot_state().valid : dec->slot.valid, 0) << c.what;
      }
    }
    tile_cache_forget(c.block.data());
    tile_decoder_forget(own.dec, c.block.data());
  }
}

TEST(TileDecodeHostileTest, FailedTileLeavesTheSlotInvalid) {
  const Bytes img = blocky(24, 20, 1, 3);
  Bytes block = encode(img, 24, 20, 8, 8, 1, CODEC_KIND_LZ4);
  int32_t n = 0;
  ASSERT_EQ(region(block, 0, 0, 8, 8, 1, &n), crop(img, 24, 1, 0, 0, 8, 8));  // tile 0 held
  const TileRef r1 = ref_of(block, 1);
  block[r1.offset] = 0xFF;  // literal length runs past the payload
  region(block, 0, 0, 16, 8, 1, &n);  // a hit on tile 0, then tile 1 fails
  EXPECT_EQ(n, MORVANE_TILE_ERR_CORRUPT);
  EXPECT_EQ(slot_state().valid, 0);
  // And again: still decoded (and refused) rather than served.
  region(block, 9, 0, 1, 1, 1, &n);
  EXPECT_EQ(n, MORVANE_TILE_ERR_CORRUPT);
  EXPECT_EQ(slot_state().valid, 0);
  tile_cache_forget(block.data());
}

TEST(TileDecodeHostileTest, DamagedTileDecodedInPlace) {
  // A one-column region whose middle tile is damaged: the in-place decode
  // fails without writing past the output.
  const Bytes img = blocky(16, 100, 2, 6);
  for (int codec : {CODEC_KIND_LZ4, CODEC_KIND_RLE}) {
    Bytes block = encode(img, 16, 100, 16, 24, 2, codec);  // 5 tiles
    const TileRef r2 = ref_of(block, 2);
    Bytes damaged = block;
    std::fill(damaged.begin() + r2.offset, damaged.begin() + r2.offset + r2.len, 0x7F);
    int32_t n = 0;
    region(damaged, 0, 0, 16, 100, 2, &n);
    EXPECT_EQ(n, MORVANE_TILE_ERR_CORRUPT) << codec;
    EXPECT_EQ(slot_state().valid, 0);
    tile_cache_forget(damaged.data());
    // The region ending with that tile: the last tile, decoded in the slot.
    region(damaged, 0, 24, 16, 48 + 24, 2, &n);
    EXPECT_EQ(n, MORVANE_TILE_ERR_CORRUPT) << codec;
    tile_cache_forget(damaged.data());
  }
}

// ---- The C interface -----------------------------------------------------------

// Decodes through the C++ interface and then, with the slot given up in
// between, through the C one into a second buffer of the same size and fill;
// both must give the same result and bytes.
void expect_same_through_c(const Bytes& block, int x, int y, int w, int h, size_t out_size,
                           const std::string& what) {
  Bytes cpp(out_size, 0xEE), c(out_size, 0xEE);
  const int32_t want = decode_tile_region(block, cpp, x, y, w, h);
  tile_cache_forget(block.data());
  const int32_t got = c_decode_tile_region(block.data(), c.data(), int32_t(block.size()), int32_t(c.size()), x, y,
                                           w, h);
  c_tile_cache_forget(block.data());
  EXPECT_EQ(got, want) << what;
  EXPECT_EQ(c, cpp) << what;
}

TEST(TileCApiTest, RealBlocksGiveTheSameRegionsAndHeaders) {
  struct R {
    int x, y, w, h;
  };
  const R regions[] = {{0, 0, 123, 77}, {31, 31, 2, 2}, {96, 64, 27, 13}, {0, 40, 123, 5}, {122, 76, 1, 1}};
  for (int codec : {CODEC_KIND_LZ4, CODEC_KIND_RLE, CODEC_KIND_STORED}) {
    for (int bpp = 1; bpp <= 4; ++bpp) {
      const Bytes img = make_image(ImageKind::Glyphs, 123, 77, bpp, 5);
      const Bytes block = encode(img, 123, 77, 32, 32, bpp, codec);
      const std::string what = "codec " + std::to_string(codec) + " bpp " + std::to_string(bpp);
      for (const R& r : regions) expect_same_through_c(block, r.x, r.y, r.w, r.h, size_t(r.w) * r.h * bpp, what);
      uint32_t f[8];
      ASSERT_EQ(c_tile_image_read(block.data(), int32_t(block.size()), f), 0) << what;
      const bool raw = codec == CODEC_KIND_STORED;
      const uint32_t want[8] = {raw ? MORVANE_TILE_MAGIC_RAW : codec == CODEC_KIND_LZ4 ? MORVANE_TILE_MAGIC_LZ4 : MORVANE_TILE_MAGIC_RLE,
                                123, 77, raw ? 123u : 32u, raw ? 77u : 32u, uint32_t(format_for(bpp)), uint32_t(bpp),
                                raw ? 1u : 4u * 3u};
      for (int i = 0; i < 8; ++i) EXPECT_EQ(f[i], want[i]) << what << " field " << i;
    }
  }
}

TEST(TileCApiTest, HostileBlocksGiveTheSameCodes) {
  for (const Hostile& k : hostile_cases()) {
    expect_same_through_c(k.block, k.x, k.y, k.w, k.h, k.out, k.what);
    // And through a decoder laid out by C, rows packed.
    Bytes cpp(k.out, 0xEE), c(k.out, 0xEE);
    const int32_t packed = k.block.size() >= TILE_HEADER_SIZE ? k.w * k.block[13] : 0;
    EXPECT_EQ(c_tile_decode_fresh(1 << 20, k.block.data(), int32_t(k.block.size()), k.x, k.y, k.w, k.h, c.data(),
                                  packed, int32_t(c.size())),
              decode_tile_region(k.block, cpp, k.x, k.y, k.w, k.h))
        << k.what;
    EXPECT_EQ(c, cpp) << k.what;
    tile_cache_forget(k.block.data());
    // The header reader refuses exactly what the decoder refuses before it
    // looks at the region.
    const bool header_level = k.want == MORVANE_TILE_ERR_HEADER || k.want == MORVANE_TILE_ERR_MAGIC ||
                              (k.want == MORVANE_TILE_ERR_PAYLOAD && k.untouched);
    uint32_t f[8];
    EXPECT_EQ(c_tile_image_read(k.block.data(), int32_t(k.block.size()), f), header_level ? k.want : 0) << k.what;
    // And tells which rule a header breaks.
    morvane_tile_info info;
    EXPECT_EQ(morvane_tile_header_check(k.block.data(), int32_t(k.block.size()), &info),
              k.rule != 0 ? k.rule : header_level ? k.want : 0)
        << k.what;
    if (header_level) {
      for (int i = 0; i < 8; ++i) EXPECT_EQ(f[i], 0u) << k.what << " field " << i;
    }
  }
}

// The library's version is its header's, and the parts are the string's
// numbers ("2.00230624": 2, 230624, and a patch 0 left out).
TEST(TileCApiTest, VersionPartsAreTheString) {
  EXPECT_STREQ(morvane_version(), MORVANE_VERSION_STRING);
  unsigned major = 0, minor = 0, patch = 0;
  EXPECT_GE(std::sscanf(MORVANE_VERSION_STRING, "%u.%u.%u", &major, &minor, &patch), 2);
  EXPECT_EQ(major, unsigned{MORVANE_VERSION_MAJOR});
  EXPECT_EQ(minor, unsigned{MORVANE_VERSION_MINOR});
  EXPECT_EQ(patch, unsigned{MORVANE_VERSION_PATCH});
}

TEST(TileCApiTest, NullPointersAndNegativeLengthsAreEmptyBuffers) {
  const Bytes block = encode(blocky(24, 20, 2), 24, 20, 8, 8, 2, CODEC_KIND_RLE);
  const int32_t len = int32_t(block.size());
  Bytes out(8, 0xEE);
  uint32_t f[8];
  EXPECT_EQ(c_decode_tile_region(nullptr, out.data(), len, 8, 0, 0, 2, 2), MORVANE_TILE_ERR_HEADER);
  EXPECT_EQ(c_decode_tile_region(block.data(), out.data(), -1, 8, 0, 0, 2, 2), MORVANE_TILE_ERR_HEADER);
  EXPECT_EQ(c_decode_tile_region(block.data(), nullptr, len, 8, 0, 0, 2, 2), MORVANE_TILE_ERR_OUTPUT);
  EXPECT_EQ(c_decode_tile_region(block.data(), out.data(), len, -8, 0, 0, 2, 2), MORVANE_TILE_ERR_OUTPUT);
  EXPECT_EQ(c_decode_tile_region(block.data(), nullptr, len, 0, 3, 3, 0, 5), 0);
  EXPECT_EQ(out, Bytes(8, 0xEE));
  EXPECT_EQ(c_tile_image_read(nullptr, 16, f), MORVANE_TILE_ERR_HEADER);
  EXPECT_EQ(c_tile_image_read(block.data(), INT32_MIN, f), MORVANE_TILE_ERR_HEADER);
  EXPECT_EQ(c_decode_rle_pixels(nullptr, out.data(), 4, 8, 1), 0);
  c_tile_cache_forget(nullptr);
}

}  // namespace

// The damaged blocks of the table above (not its bad requests), for the tests
// of the LVGL image decoder (tests/lvgl), which link this file.
std::vector<std::pair<std::string, std::vector<uint8_t>>> damaged_tile_blocks() {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> blocks;
  for (const Hostile& c : hostile_cases())
    if (c.want != MORVANE_TILE_ERR_REGION && c.want != MORVANE_TILE_ERR_OUTPUT) blocks.emplace_back(c.what, c.block);
  return blocks;
}

// SPDX-License-Identifier: MIT
// What both executables share: entry forms and pixels, the tile size and
// the thread count.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/entry_pixels.h"
#include "core/pipeline.h"
#include "core/tile_size.h"
#include "support/encode.h"
#include "support/image_gen.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

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
    CodedAs coded;
  };
  const Case cases[] = {
      {false, 1, pixels, EntryForm::Raw, 1, CodedAs::Pixels},
      {false, 14, lz4, EntryForm::Lz4, 1, CodedAs::Compressed},
      {false, 5, Bytes(6 * 5 * 3, 9), EntryForm::Raw, 5, CodedAs::Either},  // no LZ4 form: raw by its size
      {true, 1, hinted, EntryForm::RawAfterHint, 1, CodedAs::Pixels},
      {true, 39, block, EntryForm::TiledBlock, 1, CodedAs::Compressed},
      {true, 39, pixels, EntryForm::DecodedTiled, 1, CodedAs::Compressed},
      {true, 38, Bytes{1, 2}, EntryForm::Jpeg, 38, CodedAs::Jpeg},
  };
  for (const Case& c : cases) {
    PackEntry p;
    p.type = c.type;
    EntryPixels px;
    ASSERT_EQ(entry_pixels(PackMode{c.tiled}, p, rect, c.payload, px).code, 0) << int(c.type);
    EXPECT_EQ(px.form, c.form) << int(c.type);
    EXPECT_EQ(declared_form(PackMode{c.tiled}, p, rect, c.payload, c.payload.size()), c.form) << int(c.type);
    EXPECT_EQ(coded_as(PackMode{c.tiled}, c.type), c.coded) << int(c.type);
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
  EXPECT_LT(entry_pixels(PackMode{}, p, rect, lz4, px).code, 0);
  p.type = 14;
  EXPECT_EQ(entry_pixels(PackMode{}, p, rect, Bytes{0xF0, 1}, px).code, ENTRY_ERR_CORRUPT);
  p.type = 1;
  EXPECT_EQ(entry_pixels(PackMode{}, p, rect, Bytes(59), px).code, ENTRY_ERR_UNKNOWN);
  EXPECT_EQ(raw_type_for_pixels(2, 3), 32);  // PixelFormat 2's type 34 holds 2 bytes
  EXPECT_EQ(raw_type_for_pixels(4, 4), 11);
}

// A few bytes of LZ4 data under a huge rectangle decode into a buffer of at
// most 256 bytes per stored byte, not one the rectangle asks for.
TEST(DecompressEntryTest, Lz4BufferCappedByTheStoredBytes) {
  const Bytes lz4 = lz4_block(Bytes(64, 7));
  PackEntry p;
  p.type = 14;
  p.len = static_cast<uint32_t>(ENTRY_RECT_SIZE + lz4.size());
  const EntryResult r = decompress_entry(p, EntryRect{2048, 2048}, lz4, PackMode{});
  ASSERT_TRUE(r.status.ok()) << r.status.message;
  EXPECT_EQ(r.data, Bytes(64, 7));
  EXPECT_LE(r.data.capacity(), 256 * lz4.size());
}

// An entry decoded through a band buffer gives decompress_entry's pixels
// and type: a tiled one band after band in every codec, a whole-entry one
// in one band; a tile or block that does not decode stops it with 0 after
// the bands before it went out, and the entry is kept. Bands of up to their
// limit are the thread's own buffer; a larger one is the pool's, given back.
TEST(DecompressEntryTest, BandsGiveTheDecodedPixels) {
  // 300 x 200 x 4: rows of 1,200 bytes; one row of 64 x 64 tiles (76,800
  // bytes) is a band, 54 rows (64 KiB) of the stored image. 600 x 200 x 4
  // is a whole entry over the thread's own 256 KiB.
  struct Case {
    bool tiled;
    int codec;
    uint16_t width;
    bool spoilt;  // the last 40 bytes made 0xFF
    size_t bands;
    bool own;  // in the thread's own buffer
  };
  const Case cases[] = {{true, CODEC_KIND_LZ4, 300, false, 4, true},    {true, CODEC_KIND_RLE, 300, false, 4, true},
                        {true, CODEC_KIND_STORED, 300, false, 4, true}, {true, CODEC_KIND_LZ4, 300, true, 3, true},
                        {false, 0, 300, false, 1, true},                {false, 0, 600, false, 1, false},
                        {false, 0, 300, true, 0, true}};
  for (const Case& c : cases) {
    const Bytes pixels = make_image(ImageKind::Flat, c.width, 200, 4, 5);
    const PackMode mode{c.tiled, static_cast<uint8_t>(c.codec)};
    Bytes block = c.tiled ? tile_block(pixels, c.width, 200, 64, 64, 4, c.codec) : lz4_block(pixels);
    ASSERT_FALSE(block.empty()) << c.codec;
    if (c.spoilt) std::fill(block.end() - 40, block.end(), 0xFF);
    PackEntry p;
    p.type = c.tiled ? TYPE_TILED : 14;
    p.len = static_cast<uint32_t>(ENTRY_RECT_SIZE + block.size());
    const EntryRect rect{c.width, 200};
    BufferPool pool;
    pool.set_limit(uint64_t{1} << 30);
    EntryMemory memory;
    memory.pool = &pool;
    Bytes out;
    size_t bands = 0;
    const BandsOut got = decompress_bands(p, rect, block, mode, memory, [&](uint64_t offset, std::span<const uint8_t> bytes) {
      EXPECT_EQ(offset, out.size()) << c.codec;
      out.insert(out.end(), bytes.begin(), bytes.end());
      ++bands;
    });
    const std::string what = std::to_string(c.tiled) + " " + std::to_string(c.codec) + " " + std::to_string(c.width);
    EXPECT_EQ(bands, c.bands) << what;
    EXPECT_EQ(!memory.band.empty(), c.own) << what;
    EXPECT_EQ(pool.idle_bytes() > 0, !c.own) << what;
    const EntryResult whole = decompress_entry(p, rect, block, mode);
    EXPECT_EQ(whole.status.ok(), !c.spoilt) << what;
    if (c.spoilt) {
      EXPECT_EQ(got.size, 0u);
      continue;
    }
    EXPECT_EQ(got.size, pixels.size()) << what;
    EXPECT_EQ(got.type, whole.type) << what;
    EXPECT_EQ(out, pixels) << what;
  }
}

// What entry_pixels does not ask: a kept code told by decoding (as -c
// tells it), and a tiled pack's payload of no known size.
TEST(EntryFormTest, KeptCodesByDecodingAndUnknownSizes) {
  const EntryRect rect{4, 2};
  const Bytes raw(16, 7), lz4 = lz4_block(raw);  // 4 x 2 pixels of 2 bytes
  PackEntry e;
  e.type = 2;
  EXPECT_EQ(classify_entry(PackMode{}, e, rect, lz4, lz4.size(), KeptCodes::ByDecoding), EntryForm::Lz4);
  EXPECT_EQ(classify_entry(PackMode{}, e, rect, raw, raw.size(), KeptCodes::ByDecoding), EntryForm::Raw);
  EXPECT_EQ(classify_entry(PackMode{}, e, rect, lz4, lz4.size() + 1, KeptCodes::ByDecoding), EntryForm::Raw);
  EXPECT_EQ(classify_entry(PackMode{true}, e, rect, Bytes(5), 5), EntryForm::Unknown);
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

// The pipeline, driven as the commands drive it, with the bytes in flight
// counted here: entries start while they fit the budget (one alone always
// does), are worked once each and come back in order, and small entries
// pass an entry that holds most of the budget while it is being worked.
TEST(PipelineTest, StartsEntriesWithinTheBudget) {
  struct Case {
    int threads;
    uint64_t budget;
    std::vector<uint64_t> bytes;
  };
  std::vector<uint64_t> small(150, 1), mixed = {60, 5, 5, 5, 5, 250, 5, 40, 40, 30, 1, 1, 99, 100, 2, 2, 2};
  for (int k = 0; k < 40; ++k) mixed.push_back(uint64_t(k * 37 % 90));
  const Case cases[] = {{1, 100, mixed}, {2, 100, mixed}, {3, 100, mixed}, {16, 100, mixed}, {3, 1000, small}};
  for (const Case& c : cases) {
    const size_t n = c.bytes.size();
    std::vector<uint64_t> worked(n, 0);
    std::mutex mu;
    std::condition_variable cv;
    size_t small_done = 0;
    uint64_t in_flight = 0, most = 0;
    size_t entries = 0;
    bool over = false, stuck = false;
    PipelineSteps steps;
    steps.bytes = [&](size_t i) { return c.bytes[i]; };
    steps.start = [&](size_t i, EntryMemory&) {
      in_flight += c.bytes[i];
      ++entries;
      most = std::max(most, in_flight);
      if (in_flight > c.budget && entries > 1) over = true;
      return true;
    };
    steps.work = [&](size_t i, EntryMemory&) {
      std::unique_lock<std::mutex> lock(mu);
      // Entry 0 holds 60 of 100: the four small ones behind it get through
      // (a guard, not a timing: without them this would wait for ever).
      if (c.threads > 1 && c.bytes[0] == 60 && i == 0)
        stuck = !cv.wait_for(lock, std::chrono::seconds(60), [&] { return small_done == 4; });
      if (i >= 1 && i <= 4) ++small_done;
      cv.notify_all();
      worked[i] += i + 1;
    };
    Pipeline p(n, c.threads, c.budget, std::move(steps));
    EXPECT_GE(p.slots(), c.threads > 1 ? size_t(c.threads) + 1 : 1);
    for (size_t i = 0; i < n; ++i) {
      ASSERT_TRUE(p.wait(i));
      EXPECT_EQ(worked[i], i + 1) << i;
      in_flight -= c.bytes[i];
      --entries;
      p.release(i);
    }
    EXPECT_FALSE(over) << c.threads;
    EXPECT_FALSE(stuck) << c.threads;
    EXPECT_EQ(p.peak_bytes(), most);
    if (c.bytes == small) {
      EXPECT_EQ(p.peak_entries(), p.slots());
    }
  }
}

// A start that fails ends the starting: the entries before it are worked,
// it comes back unworked, none after it starts.
TEST(PipelineTest, FailedStartEndsTheStarting) {
  for (int threads : {1, 2, 16}) {
    std::vector<int> state(20, 0);
    PipelineSteps steps;
    steps.bytes = [](size_t) { return uint64_t{1}; };
    steps.start = [&](size_t i, EntryMemory&) {
      state[i] = 1;
      return i != 7;
    };
    steps.work = [&](size_t i, EntryMemory&) { state[i] = 2; };
    Pipeline p(state.size(), threads, 100, std::move(steps));
    for (size_t i = 0; i < 7; ++i) {
      ASSERT_TRUE(p.wait(i));
      EXPECT_EQ(state[i], 2);
      p.release(i);
    }
    ASSERT_TRUE(p.wait(7));
    EXPECT_EQ(state[7], 1);
    p.release(7);
    EXPECT_FALSE(p.wait(8));
    EXPECT_EQ(std::count(state.begin() + 8, state.end(), 0), 12) << threads;
  }
}

// Idle buffers are kept while they and those taken fit the limit, and are
// taken back by size.
TEST(PipelineTest, BufferPoolKeepsWithinItsLimit) {
  BufferPool pool;
  pool.set_limit(1000);
  std::vector<uint8_t> a(600), b(300);
  const uint8_t* at = a.data();
  pool.give(std::move(a));
  pool.give(std::move(b));
  EXPECT_EQ(pool.idle_bytes(), 900u);
  pool.give(std::vector<uint8_t>(200));  // no room left: freed
  EXPECT_EQ(pool.idle_bytes(), 900u);
  std::vector<uint8_t> c = pool.take(500);  // the smallest that holds 500
  EXPECT_EQ(c.data(), at);
  EXPECT_EQ(c.size(), 500u);
  EXPECT_EQ(pool.idle_bytes(), 300u);
  std::vector<uint8_t> d = pool.take(350);  // none idle holds it: the 300 grown
  EXPECT_EQ(pool.idle_bytes(), 0u);
  pool.give(std::move(d));
  pool.give(std::move(c));
  EXPECT_EQ(pool.idle_bytes(), 950u);
  std::vector<uint8_t> e = pool.take(100);  // the 350 would hold more than twice: a new one
  EXPECT_EQ(pool.idle_bytes(), 950u);
  pool.set_limit(400);  // the largest goes
  EXPECT_EQ(pool.idle_bytes(), 350u);
}

}  // namespace

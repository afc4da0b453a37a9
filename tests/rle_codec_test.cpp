// The run-length pixel codec: packet rules, capacity, cut packets, round trips.
#include <gtest/gtest.h>

#include <string>

#include "support/image_gen.h"
#include "tile/tile_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Pixels written as letters, one byte each.
Bytes px(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes encode(const Bytes& pixels, uint32_t bpp, uint32_t capacity = 1u << 20) {
  Bytes out(capacity);
  int32_t n = encode_rle_pixels(pixels.data(), out.data(), static_cast<uint32_t>(pixels.size() / bpp), capacity, bpp);
  out.resize(static_cast<size_t>(n));
  return out;
}

Bytes repeat(uint8_t v, size_t n) { return Bytes(n, v); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes distinct(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i % 2 == 0 ? i / 2 : 200 + i % 50);
  for (size_t i = 1; i < n; ++i)
    if (out[i] == out[i - 1]) out[i] ^= 0x55;
  return out;
}

TEST(RleEncodeTest, PacketRules) {
  const Bytes d127 = distinct(127), d128 = distinct(128), d129 = distinct(129);
  struct Case {
    const char* what;
    Bytes pixels;
    Bytes stream;
  };
  const std::vector<Case> cases = {
      {"empty", {}, {}},
      {"a", px("a"), {0x01, 'a'}},
      {"pair", px("aa"), {0x01, 'a', 0x01, 'a'}},
      {"ab", px("ab"), {0x02, 'a', 'b'}},
      {"aaa", px("aaa"), {0x83, 'a'}},
      {"aaaab", px("aaaab"), {0x84, 'a', 0x01, 'b'}},
      {"aab", px("aab"), {0x01, 'a', 0x02, 'a', 'b'}},
      {"abb", px("abb"), {0x01, 'a', 0x01, 'b', 0x01, 'b'}},
      {"abbb", px("abbb"), {0x01, 'a', 0x83, 'b'}},
      {"abccd", px("abccd"), {0x02, 'a', 'b', 0x01, 'c', 0x02, 'c', 'd'}},
      {"abccc", px("abccc"), {0x02, 'a', 'b', 0x83, 'c'}},
      {"ababab", px("ababab"), {0x06, 'a', 'b', 'a', 'b', 'a', 'b'}},
      {"pairs", px("aabbcc"), {0x01, 'a', 0x01, 'a', 0x01, 'b', 0x01, 'b', 0x01, 'c', 0x01, 'c'}},
      {"127a", repeat('a', 127), {0xFF, 'a'}},
      {"128a", repeat('a', 128), {0xFF, 'a', 0x01, 'a'}},
      {"129a", repeat('a', 129), {0xFF, 'a', 0x01, 'a', 0x01, 'a'}},
      {"130a", repeat('a', 130), {0xFF, 'a', 0x83, 'a'}},
      {"254a", repeat('a', 254), {0xFF, 'a', 0xFF, 'a'}},
      {"127 distinct", d127, concat({{0x7F}, d127})},
      {"128 distinct", d128, concat({{0x7F}, Bytes(d128.begin(), d128.begin() + 127), {0x01, d128[127]}})},
      {"129 distinct", d129, concat({{0x7F}, Bytes(d129.begin(), d129.begin() + 127), {0x02, d129[127], d129[128]}})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(encode(c.pixels, 1), c.stream) << c.what;
    EXPECT_EQ(encode_rle_pixels(c.pixels.data(), nullptr, static_cast<uint32_t>(c.pixels.size()), 0, 1),
              static_cast<int32_t>(c.stream.size()))
        << c.what;
  }
}

TEST(RleEncodeTest, WidePixelsCompareEveryByte) {
  EXPECT_EQ(encode({0x01, 0x00, 0x01, 0x01}, 2), (Bytes{0x02, 0x01, 0x00, 0x01, 0x01}));
  EXPECT_EQ(encode({5, 7, 5, 7, 5, 7}, 2), (Bytes{0x83, 5, 7}));
  EXPECT_EQ(encode({1, 2, 3, 1, 2, 4, 1, 2, 4}, 3), (Bytes{0x01, 1, 2, 3, 0x01, 1, 2, 4, 0x01, 1, 2, 4}));
  EXPECT_EQ(encode({9, 9, 9, 8, 9, 9, 9, 8, 9, 9, 9, 8, 9, 9, 9, 8}, 4), (Bytes{0x84, 9, 9, 9, 8}));
}

// a b c d e f f f f codes to 05 a b c d e 84 f: whole packets or none.
TEST(RleEncodeTest, CapacityStopsBeforeAPacketThatDoesNotFit) {
  const Bytes pixels = px("abcdeffff");
  const Bytes full = {0x05, 'a', 'b', 'c', 'd', 'e', 0x84, 'f'};
  for (uint32_t cap = 0; cap <= 10; ++cap) {
    Bytes out(cap + 4, 0xEE);
    int32_t n = encode_rle_pixels(pixels.data(), out.data(), 9, cap, 1);
    const int32_t want = cap < 6 ? 0 : cap < 8 ? 6 : 8;
    EXPECT_EQ(n, want) << cap;
    EXPECT_TRUE(std::equal(full.begin(), full.begin() + want, out.begin())) << cap;
    EXPECT_TRUE(std::all_of(out.begin() + want, out.end(), [](uint8_t b) { return b == 0xEE; })) << cap;
  }
  EXPECT_EQ(encode_rle_pixels(pixels.data(), nullptr, 9, 3, 1), 8);
}

struct DecodeCase {
  const char* what;
  Bytes stream;
  int32_t capacity;
  int32_t bpp;
  Bytes pixels;
};

TEST(RleDecodeTest, Streams) {
  const std::vector<DecodeCase> cases = {
      {"run", {0x83, 0x41}, 16, 1, {0x41, 0x41, 0x41}},
      {"short run, bpp 2", {0x82, 0x41, 0x42}, 16, 2, {0x41, 0x42, 0x41, 0x42}},
      {"empty literal", {0x00}, 16, 1, {}},
      {"empty run takes its pixel", {0x80, 0x41, 0x02, 0x42, 0x43}, 16, 1, {0x42, 0x43}},
      {"cut by capacity", {0x83, 0x41, 0x83, 0x42}, 5, 1, {0x41, 0x41, 0x41, 0x42, 0x42}},
      {"cut by capacity, bpp 2", {0x83, 0x41, 0x42, 0x83, 0x43, 0x44}, 5, 2, {0x41, 0x42, 0x41, 0x42}},
      {"capacity under one pixel", {0x83, 0x41, 0x42, 0x43}, 2, 3, {}},
      {"bytes left after the budget", {0x82, 0x41, 0x05}, 2, 1, {0x41, 0x41}},
      {"run of bpp 3", {0x84, 1, 2, 3}, 64, 3, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}},
      {"run of bpp 4", {0x83, 1, 2, 3, 4}, 64, 4, {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}},
      // A damaged stream: the literal's payload runs past the end; its whole
      // pixels are kept.
      {"literal past the end", {0x01, 0x41, 0x05, 0x42, 0x43}, 64, 1, {0x41, 0x42, 0x43}},
      {"literal past the end, bpp 2", {0x03, 1, 2, 3, 4, 5}, 64, 2, {1, 2, 3, 4}},
      {"run without its pixel", {0x01, 0x41, 0x85}, 64, 1, {0x41}},
      {"run with half a pixel", {0x85, 0x41}, 64, 2, {}},
  };
  for (const DecodeCase& c : cases) {
    // Exactly sized buffers: a read or write outside them is caught.
    Bytes stream = c.stream;
    Bytes out(static_cast<size_t>(c.capacity));
    int32_t n = decode_rle_pixels(stream.data(), out.data(), static_cast<int32_t>(stream.size()), c.capacity, c.bpp);
    ASSERT_EQ(n, static_cast<int32_t>(c.pixels.size())) << c.what;
    EXPECT_TRUE(std::equal(c.pixels.begin(), c.pixels.end(), out.begin())) << c.what;
  }
}

TEST(RleDecodeTest, NullDestinationCountsEveryPacket) {
  const Bytes stream = {0x83, 0x41, 0x02, 0x42, 0x43, 0xFF, 0x44};
  EXPECT_EQ(decode_rle_pixels(stream.data(), nullptr, static_cast<int32_t>(stream.size()), 1, 1), 3 + 2 + 127);
  const Bytes wide = {0x83, 0x41, 0x42, 0x02, 1, 2, 3, 4};
  EXPECT_EQ(decode_rle_pixels(wide.data(), nullptr, static_cast<int32_t>(wide.size()), 0, 2), 6 + 4);
}

TEST(RleEncodeTest, PixelsOfOneToFourBytesOnly) {
  const Bytes pixels(40, 7);
  Bytes out(64, 0xEE);
  EXPECT_EQ(encode_rle_pixels(pixels.data(), out.data(), 8, 64, 0), 0);
  EXPECT_EQ(encode_rle_pixels(pixels.data(), out.data(), 8, 64, 5), 0);
  EXPECT_EQ(out, Bytes(64, 0xEE));
}

TEST(RleDecodeTest, NoSourceMeansNothing) {
  Bytes out(8, 0xEE);
  const uint8_t stream[] = {0x83, 0x41};
  EXPECT_EQ(decode_rle_pixels(stream, out.data(), 0, 8, 1), 0);
  EXPECT_EQ(decode_rle_pixels(stream, out.data(), -5, 8, 1), 0);
  EXPECT_EQ(decode_rle_pixels(stream, nullptr, 0, 8, 1), 0);
  EXPECT_EQ(out, Bytes(8, 0xEE));
}

TEST(RleRoundTripTest, EveryPixelSize) {
  for (uint32_t bpp = 1; bpp <= 4; ++bpp) {
    for (ImageKind kind : {ImageKind::Gradient, ImageKind::Flat, ImageKind::Noise, ImageKind::Glyphs}) {
      for (int side : {1, 3, 17, 64, 131}) {
        const Bytes pixels = make_image(kind, side, side, static_cast<int>(bpp), bpp * 31 + static_cast<uint32_t>(side));
        const uint32_t count = static_cast<uint32_t>(side * side);
        const int32_t size = encode_rle_pixels(pixels.data(), nullptr, count, 0, bpp);
        ASSERT_LE(static_cast<uint64_t>(size), uint64_t{1 + bpp} * count);
        // The worst-case room always holds the whole stream.
        Bytes stream((1 + bpp) * count);
        ASSERT_EQ(encode_rle_pixels(pixels.data(), stream.data(), count, static_cast<uint32_t>(stream.size()), bpp), size);
        stream.resize(static_cast<size_t>(size));
        Bytes back(pixels.size());
        EXPECT_EQ(decode_rle_pixels(stream.data(), back.data(), size, static_cast<int32_t>(back.size()),
                                    static_cast<int32_t>(bpp)),
                  static_cast<int32_t>(pixels.size()));
        EXPECT_EQ(back, pixels) << "bpp " << bpp << " side " << side;
      }
    }
  }
}

TEST(RleRoundTripTest, RandomRunsAndLiterals) {
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    const uint32_t bpp = 1 + seed % 4;
    const Bytes noise = make_random_bytes(400, seed);
    Bytes pixels;
    // Runs of random lengths (1 to 300) of a few values, so pairs, runs at
    // and around 127 and literals all occur.
    for (size_t i = 0; i + 2 < noise.size() && pixels.size() < 3000; i += 3) {
      const size_t len = 1 + (noise[i] * 300u) / 256u;
      for (size_t k = 0; k < len; ++k)
        for (uint32_t b = 0; b < bpp; ++b) pixels.push_back(static_cast<uint8_t>(noise[i + 1] % 4 + b * noise[i + 2] % 2));
    }
    const uint32_t count = static_cast<uint32_t>(pixels.size() / bpp);
    pixels.resize(size_t{count} * bpp);
    Bytes stream((1 + bpp) * count + 1);
    const int32_t size = encode_rle_pixels(pixels.data(), stream.data(), count, static_cast<uint32_t>(stream.size()), bpp);
    Bytes back(pixels.size());
    ASSERT_EQ(decode_rle_pixels(stream.data(), back.data(), size, static_cast<int32_t>(back.size()),
                                static_cast<int32_t>(bpp)),
              static_cast<int32_t>(pixels.size()));
    ASSERT_EQ(back, pixels) << seed;
  }
}

}  // namespace

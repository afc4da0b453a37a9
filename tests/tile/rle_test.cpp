// SPDX-License-Identifier: MIT
// The run-length pixel codec: the packets the encoder chooses, its capacity
// test, the decoder's budget, cut and damaged streams, and round trips against
// a plain reference encoder.
//
// Streams and pixels are handed to the codec in buffers of exactly their size
// and outputs are followed by guard bytes, so a read or write outside them
// shows under the sanitizers and a write past the capacity shows everywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/image_gen.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kCanary = 0xEE;
constexpr size_t kGuard = 64;

// Pixels of one byte written as letters.
Bytes px(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// n one-byte pixels, no two neighbours equal (0 1 2 0 1 2 ...).
Bytes distinct(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>('0' + i % 3);
  return out;
}

uint32_t pixel_count(const Bytes& pixels, uint32_t bpp) { return static_cast<uint32_t>(pixels.size() / bpp); }

bool guard_intact(const Bytes& buf, size_t from) {
  return std::all_of(buf.begin() + static_cast<ptrdiff_t>(from), buf.end(), [](uint8_t b) { return b == kCanary; });
}

// The whole stream, through a destination of (1 + bpp) x pixels bytes; checks
// that the size query agrees and that nothing past the stream is written.
Bytes encode(const Bytes& pixels, uint32_t bpp) {
  const uint32_t n = pixel_count(pixels, bpp);
  const uint32_t room = (1 + bpp) * n;
  Bytes out(room + kGuard, kCanary);
  const int32_t got = encode_rle_pixels(pixels.data(), out.data(), n, room, bpp);
  EXPECT_EQ(encode_rle_pixels(pixels.data(), nullptr, n, 0, bpp), got);
  EXPECT_GE(got, 0);
  EXPECT_TRUE(guard_intact(out, static_cast<size_t>(got))) << "bytes written past the stream";
  out.resize(static_cast<size_t>(std::max(got, 0)));
  return out;
}

// Decodes into `capacity` bytes followed by a guard, with the stream in a
// buffer of exactly its size, and returns the bytes produced.
Bytes decode(const Bytes& stream, int32_t capacity, int32_t bpp) {
  const Bytes exact(stream);  // no slack behind the stream
  Bytes out(static_cast<size_t>(std::max(capacity, 0)) + kGuard, kCanary);
  const int32_t got = decode_rle_pixels(exact.data(), out.data(), static_cast<int32_t>(exact.size()), capacity, bpp);
  EXPECT_GE(got, 0);
  EXPECT_LE(got, std::max(capacity, 0));
  EXPECT_EQ(got % bpp, 0);
  EXPECT_TRUE(guard_intact(out, static_cast<size_t>(std::max(capacity, 0)))) << "bytes written past the capacity";
  out.resize(static_cast<size_t>(std::max(got, 0)));
  return out;
}

int32_t decoded_size(const Bytes& stream, int32_t bpp) {
  const Bytes exact(stream);
  return decode_rle_pixels(exact.data(), nullptr, static_cast<int32_t>(exact.size()), 0, bpp);
}

// The encoding rules written out pixel by pixel, to compare against.
Bytes reference_encode(const Bytes& pixels, uint32_t bpp) {
  const size_t count = pixels.size() / bpp;
  auto same = [&](size_t a, size_t b) {
    return std::equal(pixels.begin() + a * bpp, pixels.begin() + (a + 1) * bpp, pixels.begin() + b * bpp);
  };
  auto put = [&](Bytes& out, size_t from, size_t pixels_n) {
    out.insert(out.end(), pixels.begin() + from * bpp, pixels.begin() + (from + pixels_n) * bpp);
  };
  Bytes out;
  size_t i = 0;
  while (i < count) {
    const size_t n = count - i;
    size_t r = 1;
    while (r < 127 && r < n && same(i + r, i)) ++r;
    if (r >= 3) {
      out.push_back(static_cast<uint8_t>(0x80 + r));
      put(out, i, 1);
      i += r;
      continue;
    }
    size_t k = 1;
    if (r == 1) {
      for (size_t j = 1; j < n && k < 127; ++j) {
        if (j + 1 < n && same(i + j, i + j + 1)) break;
        ++k;
      }
    }
    out.push_back(static_cast<uint8_t>(k));
    put(out, i, k);
    i += k;
  }
  return out;
}

// The decoding rules written out packet by packet, to compare against:
// whole pixels within the budget, a packet cut by the budget or by the end of
// the stream is the last one.
Bytes reference_decode(const Bytes& stream, size_t capacity, size_t bpp) {
  Bytes out;
  size_t budget = capacity / bpp;  // pixels
  size_t i = 0;
  while (i < stream.size() && budget > 0) {
    const uint8_t header = stream[i++];
    size_t n = std::min<size_t>(header & 0x7F, budget);
    if ((header & 0x80) != 0) {
      if (stream.size() - i < bpp) break;
      for (size_t k = 0; k < n; ++k) out.insert(out.end(), stream.begin() + i, stream.begin() + i + bpp);
      i += bpp;
    } else {
      const bool cut = (header & 0x7Fu) * bpp > stream.size() - i;
      n = std::min(n, (stream.size() - i) / bpp);
      out.insert(out.end(), stream.begin() + i, stream.begin() + i + n * bpp);
      if (cut) break;
      i += (header & 0x7Fu) * bpp;
    }
    budget -= n;
  }
  return out;
}

// Runs of random length (mostly short, some around 127 and beyond) of a few
// pixel values that differ from each other in a single byte, so that both
// the packet choice and the byte-by-byte comparison are exercised, with now
// and then a stretch of noise long enough for a literal of 127.
Bytes runs_of_near_pixels(size_t count, uint32_t bpp, uint32_t seed) {
  const Bytes noise = make_random_bytes(count * 2 + 16, seed);
  const Bytes stretch = make_random_bytes(160 * bpp, seed + 1);
  Bytes base(noise.begin(), noise.begin() + bpp);
  Bytes out;
  size_t r = bpp;
  while (out.size() < count * bpp) {
    const uint8_t a = noise[r++ % noise.size()], b = noise[r++ % noise.size()];
    if (a >= 250) {
      const size_t len = std::min((100 + size_t{b} % 60) * bpp, count * bpp - out.size());
      out.insert(out.end(), stretch.begin(), stretch.begin() + static_cast<ptrdiff_t>(len));
      continue;
    }
    const size_t len = a < 160 ? 1 + a % 4 : a < 235 ? 1 + a % 20 : 120 + a % 16;
    Bytes pixel = base;
    if (b % 4 != 0) pixel[b % bpp] = static_cast<uint8_t>(pixel[b % bpp] ^ (1 + b % 3));
    for (size_t k = 0; k < len && out.size() < count * bpp; ++k) out.insert(out.end(), pixel.begin(), pixel.end());
  }
  return out;
}

// ---- Encoder ------------------------------------------------------------------

TEST(RleEncoderTest, ChoosesPackets) {
  const Bytes d127 = distinct(127), d128 = distinct(128), d129 = distinct(129);
  struct Case {
    const char* what;
    Bytes pixels;
    Bytes stream;
  };
  const std::vector<Case> cases = {
      {"no pixels", {}, {}},
      {"a", px("a"), {0x01, 'a'}},
      {"a a: a pair is never a run", px("aa"), {0x01, 'a', 0x01, 'a'}},
      {"a b", px("ab"), {0x02, 'a', 'b'}},
      {"a a a", px("aaa"), {0x83, 'a'}},
      {"a a a a b", px("aaaab"), {0x84, 'a', 0x01, 'b'}},
      {"a a b", px("aab"), {0x01, 'a', 0x02, 'a', 'b'}},
      {"a b b", px("abb"), {0x01, 'a', 0x01, 'b', 0x01, 'b'}},
      {"a b b b", px("abbb"), {0x01, 'a', 0x83, 'b'}},
      {"a b c c d", px("abccd"), {0x02, 'a', 'b', 0x01, 'c', 0x02, 'c', 'd'}},
      {"a b c c c", px("abccc"), {0x02, 'a', 'b', 0x83, 'c'}},
      {"a b a b a b", px("ababab"), {0x06, 'a', 'b', 'a', 'b', 'a', 'b'}},
      {"a a b b c c: the largest stream", px("aabbcc"),
       {0x01, 'a', 0x01, 'a', 0x01, 'b', 0x01, 'b', 0x01, 'c', 0x01, 'c'}},
      {"127 x a", Bytes(127, 'a'), {0xFF, 'a'}},
      {"128 x a", Bytes(128, 'a'), {0xFF, 'a', 0x01, 'a'}},
      {"129 x a", Bytes(129, 'a'), {0xFF, 'a', 0x01, 'a', 0x01, 'a'}},
      {"130 x a", Bytes(130, 'a'), {0xFF, 'a', 0x83, 'a'}},
      {"254 x a", Bytes(254, 'a'), {0xFF, 'a', 0xFF, 'a'}},
      {"127 distinct", d127, cat({{0x7F}, d127})},
      {"128 distinct", d128, cat({{0x7F}, Bytes(d128.begin(), d128.begin() + 127), {0x01, d128[127]}})},
      {"129 distinct", d129, cat({{0x7F}, Bytes(d129.begin(), d129.begin() + 127), {0x02, d129[127], d129[128]}})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(encode(c.pixels, 1), c.stream) << c.what;
    EXPECT_EQ(decode(c.stream, static_cast<int32_t>(c.pixels.size()), 1), c.pixels) << c.what;
  }
}

// Two pixels are equal only when all their bytes are; no byte around a pixel
// takes part.
TEST(RleEncoderTest, ComparesEveryByteOfAPixel) {
  struct Case {
    const char* what;
    uint32_t bpp;
    Bytes pixels;
    Bytes stream;
  };
  const std::vector<Case> cases = {
      {"bpp 2, last byte differs", 2, {0x01, 0x00, 0x01, 0x01}, {0x02, 0x01, 0x00, 0x01, 0x01}},
      {"bpp 2, three equal", 2, {0x05, 0x07, 0x05, 0x07, 0x05, 0x07}, {0x83, 0x05, 0x07}},
      {"bpp 2, first byte differs", 2, {0x01, 0x09, 0x02, 0x09}, {0x02, 0x01, 0x09, 0x02, 0x09}},
      {"bpp 2, a a b", 2, {1, 2, 1, 2, 7, 2}, {0x01, 1, 2, 0x02, 1, 2, 7, 2}},
      {"bpp 3, last byte differs", 3, {1, 2, 3, 1, 2, 4}, {0x02, 1, 2, 3, 1, 2, 4}},
      {"bpp 3, middle byte differs", 3, {1, 2, 3, 1, 5, 3, 1, 5, 3}, {0x01, 1, 2, 3, 0x01, 1, 5, 3, 0x01, 1, 5, 3}},
      {"bpp 3, a a b (b differs in the byte after a)", 3, {1, 2, 3, 1, 2, 3, 9, 2, 3},
       {0x01, 1, 2, 3, 0x02, 1, 2, 3, 9, 2, 3}},
      {"bpp 3, three equal", 3, {4, 5, 6, 4, 5, 6, 4, 5, 6}, {0x83, 4, 5, 6}},
      {"bpp 4, last byte differs", 4, {9, 9, 9, 8, 9, 9, 9, 7}, {0x02, 9, 9, 9, 8, 9, 9, 9, 7}},
      {"bpp 4, four equal", 4, {9, 9, 9, 8, 9, 9, 9, 8, 9, 9, 9, 8, 9, 9, 9, 8}, {0x84, 9, 9, 9, 8}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(encode(c.pixels, c.bpp), c.stream) << c.what;
    EXPECT_EQ(reference_encode(c.pixels, c.bpp), c.stream) << c.what;
  }
}

// At every capacity the result is the largest run of whole packets that fits
// (a packet is written whole or not begun), also in a buffer of exactly the
// capacity; with no destination, the whole stream's size whatever the
// capacity.
TEST(RleEncoderTest, EveryCapacityEndsOnAPacketBoundary) {
  for (uint32_t bpp = 1; bpp <= 4; ++bpp) {
    const Bytes pixels = runs_of_near_pixels(700, bpp, 40 + bpp);
    const uint32_t n = pixel_count(pixels, bpp);
    const Bytes full = encode(pixels, bpp);
    std::vector<size_t> ends = {0};
    for (size_t at = 0; at < full.size();) {
      at += 1 + ((full[at] & 0x80) != 0 ? bpp : (full[at] & 0x7Fu) * bpp);
      ends.push_back(at);
    }
    ASSERT_EQ(ends.back(), full.size());
    for (uint32_t cap = 0; cap <= full.size() + 1; ++cap) {
      const size_t want = *(std::upper_bound(ends.begin(), ends.end(), size_t{cap}) - 1);
      Bytes out(cap + kGuard, kCanary);
      const int32_t got = encode_rle_pixels(pixels.data(), out.data(), n, cap, bpp);
      ASSERT_EQ(got, static_cast<int32_t>(want)) << "bpp " << bpp << " capacity " << cap;
      ASSERT_TRUE(std::equal(full.begin(), full.begin() + got, out.begin())) << "bpp " << bpp << " capacity " << cap;
      ASSERT_TRUE(guard_intact(out, want)) << "bpp " << bpp << " capacity " << cap;
      Bytes exact(cap);  // (none at capacity 0: a null destination asks the size)
      if (cap > 0) {
        ASSERT_EQ(encode_rle_pixels(pixels.data(), exact.data(), n, cap, bpp), got) << "capacity " << cap;
      }
      ASSERT_EQ(encode_rle_pixels(pixels.data(), nullptr, n, cap, bpp), int32_t(full.size())) << "capacity " << cap;
    }
  }
}

// ---- Decoder ------------------------------------------------------------------

// Packets expanded; the budget is the capacity in whole pixels, and a packet
// that crosses it is cut and is the last one decoded; a packet whose payload
// reaches past the end of the stream gives the whole pixels that are there
// and ends the decoding, nothing past the stream read. `whole` is the result
// with no destination.
TEST(RleDecoderTest, PacketsBudgetsAndCutStreams) {
  struct Case {
    const char* what;
    Bytes stream;
    int32_t capacity;
    int32_t bpp;
    Bytes pixels;  // what comes out
    int32_t whole;
  };
  const Case cases[] = {
      {"run", {0x83, 0x41}, 16, 1, {0x41, 0x41, 0x41}, 3},
      {"runs of 1 and 2 pixels, bpp 2", {0x82, 0x41, 0x42, 0x81, 0x43, 0x44}, 16, 2,
       {0x41, 0x42, 0x41, 0x42, 0x43, 0x44}, 6},
      {"empty literal", {0x00}, 16, 1, {}, 0},
      {"empty run still takes its pixel", {0x80, 0x41, 0x02, 0x42, 0x43}, 16, 1, {0x42, 0x43}, 2},
      {"empty run, bpp 3", {0x80, 1, 2, 3, 0x81, 4, 5, 6}, 16, 3, {4, 5, 6}, 3},
      {"run of bpp 3", {0x84, 1, 2, 3}, 64, 3, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}, 12},
      {"run of bpp 4", {0x83, 1, 2, 3, 4}, 64, 4, {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}, 12},
      {"literal then run, bpp 2", {0x02, 1, 2, 3, 4, 0x82, 5, 6}, 64, 2, {1, 2, 3, 4, 5, 6, 5, 6}, 8},
      {"long run into exact room", {0xFF, 0x33}, 127, 1, Bytes(127, 0x33), 127},
      {"run cut", {0x83, 0x41, 0x83, 0x42}, 5, 1, {0x41, 0x41, 0x41, 0x42, 0x42}, 6},
      {"run cut, bpp 2", {0x83, 0x41, 0x42, 0x83, 0x43, 0x44}, 5, 2, {0x41, 0x42, 0x41, 0x42}, 12},
      {"literal cut", {0x04, 1, 2, 3, 4, 0x83, 9}, 3, 1, {1, 2, 3}, 7},
      {"literal cut, bpp 3", {0x02, 1, 2, 3, 4, 5, 6}, 5, 3, {1, 2, 3}, 6},
      {"stream left after the budget", {0x82, 0x41, 0x05}, 2, 1, {0x41, 0x41}, 2},
      {"capacity under one pixel, bpp 3", {0x83, 0x41, 0x42, 0x43}, 2, 3, {}, 9},
      {"capacity under one pixel, bpp 4", {0x01, 1, 2, 3, 4}, 3, 4, {}, 4},
      {"capacity 0", {0x83, 0x41}, 0, 1, {}, 3},
      {"negative capacity", {0x83, 0x41}, -4, 1, {}, 3},
      {"literal past the end", {0x03, 0x41, 0x42}, 64, 1, {0x41, 0x42}, 2},
      {"literal past the end after a packet", {0x01, 0x41, 0x05, 0x42, 0x43}, 64, 1, {0x41, 0x42, 0x43}, 3},
      {"literal past the end, bpp 2", {0x03, 1, 2, 3, 4, 5}, 64, 2, {1, 2, 3, 4}, 4},
      {"literal past the end, bpp 3", {0x02, 1, 2, 3, 4, 5}, 64, 3, {1, 2, 3}, 3},
      {"literal past the end, bpp 4", {0x7F, 1, 2, 3, 4, 5, 6, 7}, 64, 4, {1, 2, 3, 4}, 4},
      {"literal header alone", {0x02}, 64, 1, {}, 0},
      {"run without its pixel", {0x01, 0x41, 0x85}, 64, 1, {0x41}, 1},
      {"run with half a pixel, bpp 2", {0x85, 0x41}, 64, 2, {}, 0},
      {"run with 3 of 4 bytes", {0x81, 1, 2, 3, 4, 0x90, 1, 2, 3}, 64, 4, {1, 2, 3, 4}, 4},
      {"cut literal and budget", {0x05, 1, 2, 3, 4}, 2, 1, {1, 2}, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode(c.stream, c.capacity, c.bpp), c.pixels) << c.what;
    EXPECT_EQ(decoded_size(c.stream, c.bpp), c.whole) << c.what;
  }
}

TEST(RleDecoderTest, NullDestinationCountsEveryPacket) {
  const Bytes stream = {0x83, 0x41, 0x02, 0x42, 0x43, 0x00, 0x80, 0x44, 0xFF, 0x45};
  for (int32_t capacity : {0, 1, 5, 1 << 20}) {
    EXPECT_EQ(decode_rle_pixels(stream.data(), nullptr, static_cast<int32_t>(stream.size()), capacity, 1),
              3 + 2 + 0 + 0 + 127);
  }
}

// Pixels of 1 to 4 bytes only, and streams of no bytes: nothing coded or
// decoded, with a destination or without, and nothing written.
TEST(RleCodecTest, NothingForOtherPixelSizesOrNoStream) {
  const Bytes pixels(40, 7), stream = {0x83, 1, 2, 3, 4, 5, 6, 7, 8};
  const int32_t len = static_cast<int32_t>(stream.size());
  for (int32_t bpp : {0, -1, 5, 8}) {
    Bytes out(64, kCanary);
    EXPECT_EQ(encode_rle_pixels(pixels.data(), out.data(), 8, 64, static_cast<uint32_t>(bpp)), 0) << bpp;
    EXPECT_EQ(encode_rle_pixels(pixels.data(), nullptr, 8, 64, static_cast<uint32_t>(bpp)), 0) << bpp;
    EXPECT_EQ(decode_rle_pixels(stream.data(), out.data(), len, 64, bpp), 0) << bpp;
    EXPECT_EQ(decode_rle_pixels(stream.data(), nullptr, len, 64, bpp), 0) << bpp;
    EXPECT_TRUE(guard_intact(out, 0)) << bpp;
  }
  for (int32_t empty : {0, -1, -100}) {
    Bytes out(8, kCanary);
    EXPECT_EQ(decode_rle_pixels(stream.data(), out.data(), empty, 8, 1), 0) << empty;
    EXPECT_EQ(decode_rle_pixels(stream.data(), nullptr, empty, 8, 1), 0) << empty;
    // Not a byte is read: no stream at all is fine.
    EXPECT_EQ(decode_rle_pixels(nullptr, out.data(), empty, 8, 1), 0) << empty;
    EXPECT_TRUE(guard_intact(out, 0)) << empty;
  }
}

// The largest packets just before the end of the stream, their start moved
// one packet at a time across the point where the decoder begins to measure
// packets; the stream and the pixels fill their buffers exactly.
TEST(RleDecoderTest, LargestPacketsAtTheEnd) {
  for (int32_t bpp = 1; bpp <= 4; ++bpp) {
    const size_t b = static_cast<size_t>(bpp);
    const Bytes literal = make_random_bytes(127 * b, 90 + static_cast<uint32_t>(bpp));
    for (bool run : {false, true}) {
      Bytes stream, pixels;
      for (int lead = 0; lead <= 300; ++lead) {
        Bytes whole = stream;
        Bytes out = pixels;
        whole.push_back(run ? 0xFF : 0x7F);
        if (run) {
          whole.insert(whole.end(), literal.begin(), literal.begin() + bpp);
          for (int k = 0; k < 127; ++k) out.insert(out.end(), literal.begin(), literal.begin() + bpp);
        } else {
          whole.insert(whole.end(), literal.begin(), literal.end());
          out.insert(out.end(), literal.begin(), literal.end());
        }
        const int32_t size = static_cast<int32_t>(out.size());
        ASSERT_EQ(decode(whole, size, bpp), out) << "bpp " << bpp << " lead " << lead;
        ASSERT_EQ(decode(whole, size + 1000, bpp), out) << "bpp " << bpp << " lead " << lead;
        // One packet more in front: a run of 3 of a pixel.
        stream.push_back(0x83);
        for (size_t k = 0; k < b; ++k) stream.push_back(static_cast<uint8_t>(lead + k));
        for (int k = 0; k < 3; ++k)
          for (size_t i = 0; i < b; ++i) pixels.push_back(static_cast<uint8_t>(lead + i));
      }
    }
  }
}

// Arbitrary bytes as streams, with every header value, against the rules.
TEST(RleDecoderTest, MatchesTheRulesOnArbitraryStreams) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    const int32_t bpp = 1 + static_cast<int32_t>(seed % 4);
    const Bytes stream = make_random_bytes(seed * 37 % 4000, seed);
    const Bytes all = reference_decode(stream, size_t{1} << 30, static_cast<size_t>(bpp));
    ASSERT_EQ(decoded_size(stream, bpp), static_cast<int32_t>(all.size())) << "seed " << seed;
    const int32_t size = static_cast<int32_t>(all.size());
    for (int32_t cap : {size, size + 1000, size / 2, size / 3 + 1, 17}) {
      ASSERT_EQ(decode(stream, cap, bpp), reference_decode(stream, static_cast<size_t>(cap), static_cast<size_t>(bpp)))
          << "seed " << seed << " capacity " << cap;
    }
  }
}

// Long streams (so that the decoder's unchecked path runs too) decoded with
// every capacity and cut at every length: the result is always a prefix of
// the pixels, as long as the rules above say.
TEST(RleDecoderTest, EveryCapacityAndEveryCutGivesAPrefix) {
  for (int32_t bpp = 1; bpp <= 4; ++bpp) {
    const uint32_t b = static_cast<uint32_t>(bpp);
    const Bytes pixels = runs_of_near_pixels(900, b, 70 + b);
    const Bytes stream = encode(pixels, b);
    const int32_t size = static_cast<int32_t>(pixels.size());
    for (int32_t cap = 0; cap <= size + 2 * bpp; ++cap) {
      const Bytes got = decode(stream, cap, bpp);
      ASSERT_EQ(got.size(), static_cast<size_t>(std::min(cap / bpp * bpp, size))) << "bpp " << bpp << " cap " << cap;
      ASSERT_TRUE(std::equal(got.begin(), got.end(), pixels.begin())) << "bpp " << bpp << " cap " << cap;
    }
    int32_t previous = 0;
    for (size_t len = 0; len <= stream.size(); ++len) {
      const Bytes cut(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(len));
      const Bytes got = decode(cut, size, bpp);
      ASSERT_TRUE(std::equal(got.begin(), got.end(), pixels.begin())) << "bpp " << bpp << " len " << len;
      ASSERT_EQ(decoded_size(cut, bpp), static_cast<int32_t>(got.size())) << "bpp " << bpp << " len " << len;
      ASSERT_GE(static_cast<int32_t>(got.size()), previous) << "bpp " << bpp << " len " << len;
      previous = static_cast<int32_t>(got.size());
    }
    ASSERT_EQ(previous, size);
  }
}

// The decoder moves packets in fixed-size pieces while enough stream and
// budget are left, without checks while any packet would fit, and hands over
// to an exact loop near either end (at most 64 bytes before it; the pieces
// are smaller on 32-bit targets). Each packet below is put at every distance from the
// end of the stream (empty literals, one byte each, after it) and, for a
// few of those, every budget that ends in it or just after it, after a
// literal that shifts it in the output; the results must be the rules'.
TEST(RleDecoderTest, PacketsAroundTheHandoverToTheExactLoop) {
  for (int32_t bpp = 1; bpp <= 4; ++bpp) {
    const size_t b = static_cast<size_t>(bpp);
    const Bytes noise = make_random_bytes(127 * b + 64, 500 + static_cast<uint32_t>(bpp));
    auto literal = [&](size_t n) {
      Bytes p = {static_cast<uint8_t>(n)};
      p.insert(p.end(), noise.begin(), noise.begin() + static_cast<ptrdiff_t>(n * b));
      return p;
    };
    auto run = [&](size_t n) { return cat({{static_cast<uint8_t>(0x80 + n)}, Bytes(noise.end() - bpp, noise.end())}); };
    // Lengths in pixels around the pieces' sizes: 8, 12, 16 and 24 bytes
    // with 4-byte registers, 16, 32, 48 and 64 with 8-byte ones.
    std::vector<Bytes> packets = {literal(0), literal(1), literal(127), run(0), run(1), run(3), run(127)};
    for (size_t bytes : {7u, 8u, 9u, 11u, 12u, 13u, 15u, 16u, 17u, 23u, 24u, 25u, 31u, 32u, 33u, 47u, 48u, 49u, 63u,
                         64u, 65u}) {
      if (bytes / b < 1 || bytes / b > 127) continue;
      packets.push_back(literal(bytes / b));
      packets.push_back(literal(bytes / b + 1));
      packets.push_back(run(bytes / b));
      packets.push_back(run(bytes / b + 1));
    }
    // Tails up to 60 bytes, and around 1 + 127 x bpp, where the loop without
    // checks hands over to the checked one (also 127 x bpp before the budget).
    std::vector<size_t> tails;
    for (size_t tail = 0; tail <= 60; ++tail) tails.push_back(tail);
    for (size_t tail = 127 * b; tail <= 127 * b + 2; ++tail) tails.push_back(tail);
    for (const Bytes& packet : packets) {
      for (size_t lead : {0u, 1u, 2u, 5u, 13u}) {
        for (size_t tail : tails) {
          const Bytes stream = cat({literal(lead), packet, Bytes(tail, 0x00)});
          const Bytes all = reference_decode(stream, size_t{1} << 20, b);
          const int32_t size = static_cast<int32_t>(all.size());
          auto at = [&] {
            return "bpp " + std::to_string(bpp) + " header " + std::to_string(packet[0]) + " lead " +
                   std::to_string(lead) + " tail " + std::to_string(tail);
          };
          std::vector<int32_t> caps = {size, size + 1, size + 1000, size - 1, size - bpp};
          if (tail == 0 || tail == 17 || tail == 33 || tail == 60)
            for (int32_t cap = std::max(0, size - 80); cap <= size + 60; ++cap) caps.push_back(cap);
          // Budgets that end 127 x bpp bytes after the packet's start, give
          // or take a byte or two.
          const int32_t far = static_cast<int32_t>(lead + 127) * bpp;
          if (tail == 0 || tail > 60)
            for (int32_t cap = far - 2; cap <= far + 2; ++cap) caps.push_back(cap);
          // A whole stream within a budget: the whole pixels of its output
          // that the budget holds.
          for (int32_t cap : caps) {
            if (cap < 0) continue;
            const auto keep = static_cast<ptrdiff_t>(std::min(size, cap - cap % bpp));
            ASSERT_EQ(decode(stream, cap, bpp), Bytes(all.begin(), all.begin() + keep)) << at() << " capacity " << cap;
          }
          // Cut inside the packet: its whole pixels, nothing past the end read.
          if (tail == 0) {
            for (size_t len = stream.size() - packet.size(); len < stream.size(); ++len) {
              const Bytes cut(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(len));
              ASSERT_EQ(decode(cut, size + 64, bpp), reference_decode(cut, static_cast<size_t>(size) + 64, b))
                  << at() << " cut at " << len;
            }
          }
        }
      }
    }
  }
}

// ---- Round trips ----------------------------------------------------------------

// Encodes exactly as the reference does, the size query agrees, (1 + bpp) x
// pixels always holds the stream, and decoding into exactly the pixels' size
// gives them back.
void check_round_trip(const Bytes& pixels, uint32_t bpp, const std::string& what) {
  const uint32_t n = pixel_count(pixels, bpp);
  const Bytes stream = encode(pixels, bpp);
  ASSERT_EQ(stream, reference_encode(pixels, bpp)) << what;
  ASSERT_LE(stream.size(), size_t{1 + bpp} * n) << what;
  const int32_t ibpp = static_cast<int32_t>(bpp);
  ASSERT_EQ(decoded_size(stream, ibpp), static_cast<int32_t>(pixels.size())) << what;
  ASSERT_EQ(decode(stream, static_cast<int32_t>(pixels.size()), ibpp), pixels) << what;
  // With the region decoder's room, far more than the tile.
  ASSERT_EQ(decode(stream, static_cast<int32_t>(pixels.size()) + 4096, ibpp), pixels) << what;
}

TEST(RleCodecTest, RoundTripsEveryLength) {
  for (uint32_t bpp = 1; bpp <= 4; ++bpp) {
    for (uint32_t n = 0; n <= 300; ++n) {
      const std::string at = "bpp " + std::to_string(bpp) + " pixels " + std::to_string(n);
      check_round_trip(runs_of_near_pixels(n, bpp, n * 4 + bpp), bpp, "runs, " + at);
      check_round_trip(make_random_bytes(size_t{n} * bpp, n + 1000 * bpp), bpp, "random, " + at);
      check_round_trip(Bytes(size_t{n} * bpp, 0x5A), bpp, "one value, " + at);
      // Equal pairs: every pixel a literal of one, the largest stream, which
      // fills its (1 + bpp) x pixels of room exactly.
      Bytes pairs;
      for (uint32_t i = 0; i < n; ++i)
        for (uint32_t b = 0; b < bpp; ++b) pairs.push_back(static_cast<uint8_t>(i / 2 + b));
      check_round_trip(pairs, bpp, "pairs, " + at);
    }
  }
}

TEST(RleCodecTest, RoundTripsImages) {
  for (uint32_t bpp = 1; bpp <= 4; ++bpp) {
    for (ImageKind kind : {ImageKind::Gradient, ImageKind::Flat, ImageKind::Noise, ImageKind::Glyphs}) {
      for (int side : {1, 7, 33, 64, 131}) {
        const Bytes pixels =
            make_image(kind, side, side + 3, static_cast<int>(bpp), bpp * 31 + static_cast<uint32_t>(side));
        check_round_trip(pixels, bpp,
                         "bpp " + std::to_string(bpp) + " kind " + std::to_string(static_cast<int>(kind)) + " side " +
                             std::to_string(side));
      }
    }
  }
}

}  // namespace

// SPDX-License-Identifier: MIT
// The tile codec built with MORVANE_TILE_BUFFER_SIZE=4096, as a device with
// little RAM builds it: tiles up to 4096 bytes round-trip, larger ones are
// refused by the encoder and the decoder with their documented codes, and a
// payload that decodes to more than the slot holds is caught without an
// overrun (AddressSanitizer would show one).
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

#include "morvane/tile.h"
#include "support/encode.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

static_assert(TILE_BUFFER_SIZE == 4096, "built with -DMORVANE_TILE_BUFFER_SIZE=4096");

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(int w, int h, int bpp) {
  Bytes img(size_t(w) * h * bpp);
  for (size_t i = 0; i < img.size(); ++i) img[i] = uint8_t((i / 7) * 13 + (i % 5));
  return img;
}

TEST(TileSmallBufferTest, EncoderRefusesTilesAboveTheBuffer) {
  // 32 x 32 pixels of 4 bytes is exactly 4096 bytes.
  EXPECT_EQ(tile_image_check(100, 70, 32, 32, 4, CODEC_KIND_LZ4), 0);
  EXPECT_EQ(tile_image_check(100, 70, 33, 32, 4, CODEC_KIND_LZ4), MORVANE_TILE_ERR_TILE_BYTES);
  EXPECT_EQ(tile_image_check(100, 70, 64, 64, 5, CODEC_KIND_RLE), 0);
  EXPECT_EQ(tile_image_check(100, 70, 64, 65, 5, CODEC_KIND_RLE), MORVANE_TILE_ERR_TILE_BYTES);
  const Bytes img = pattern(100, 70, 4);
  Bytes block(64 * 1024, 0xEE);
  EXPECT_EQ(encode_tile_image(img, block, 100, 70, 33, 32, 4, CODEC_KIND_LZ4), MORVANE_TILE_ERR_FAILED);
  EXPECT_EQ(block, Bytes(block.size(), 0xEE));
}

TEST(TileSmallBufferTest, TilesThatFitRoundTrip) {
  for (int codec : {CODEC_KIND_LZ4, CODEC_KIND_RLE}) {
    for (int bpp : {1, 4}) {
      const int side = bpp == 1 ? 64 : 32;
      const Bytes img = pattern(100, 70, bpp);
      const Bytes block = tile_block(img, 100, 70, side, side, format_for(bpp), codec);
      const int32_t n = int32_t(block.size());
      ASSERT_GT(n, 0) << codec << " " << bpp;
      Bytes out(img.size());
      EXPECT_EQ(morvane_decode_tile_region(block.data(), out.data(), n, int32_t(out.size()), 0, 0, 100, 70),
                int32_t(img.size()));
      EXPECT_EQ(out, img) << codec << " " << bpp;
      morvane_tile_cache_forget(block.data());
    }
  }
}

TEST(TileSmallBufferTest, DecoderRefusesTilesAboveTheBuffer) {
  EXPECT_EQ(morvane_tile_buffer_size(), 4096u);  // the static decoder's room
  // A block as a 1 MiB build writes it: 65 x 64 tiles of one byte.
  const Bytes big = tiled_block(tile_header(MORVANE_TILE_MAGIC_RLE, 65, 64, 65, 64, 5, 1, 1), {{0x7F}});
  Bytes out(65 * 64, 0xEE);
  EXPECT_EQ(decode_tile_region(big, out, 0, 0, 65, 64), MORVANE_TILE_ERR_HEADER);
  EXPECT_EQ(out, Bytes(out.size(), 0xEE));
  morvane_tile_info info;
  EXPECT_EQ(morvane_tile_image_read(big.data(), int32_t(big.size()), &info), MORVANE_TILE_ERR_HEADER);

  // A 60 x 60 tile (3600 bytes) whose payload decodes to more than the
  // 4096-byte slot: refused as damaged, nothing written past the slot.
  const Bytes lying = tiled_block(tile_header(MORVANE_TILE_MAGIC_LZ4, 60, 60, 60, 60, 5, 1, 1), {lz4_block(Bytes(5000, 0x5A))});
  Bytes small(4, 0xEE);
  EXPECT_EQ(decode_tile_region(lying, small, 0, 0, 2, 2), MORVANE_TILE_ERR_CORRUPT);
  Bytes rle_run(40, 0);
  for (size_t i = 0; i < rle_run.size(); i += 2) rle_run[i] = 0xFF, rle_run[i + 1] = 0x33;  // 20 x 127 pixels
  rle_run.insert(rle_run.end(), rle_run.begin(), rle_run.end());                           // 5080 pixels
  const Bytes lying_rle = tiled_block(tile_header(MORVANE_TILE_MAGIC_RLE, 60, 60, 60, 60, 5, 1, 1), {rle_run});
  EXPECT_EQ(decode_tile_region(lying_rle, small, 0, 0, 2, 2), MORVANE_TILE_ERR_CORRUPT);
  EXPECT_EQ(small, Bytes(4, 0xEE));
}

}  // namespace

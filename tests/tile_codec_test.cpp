// Every pixel format and codec through the tiled encoder and back through
// the region decoder.
#include <gtest/gtest.h>

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

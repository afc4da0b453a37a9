// Encodes an image into a tiled block with the C++ interface and decodes a
// region of it back through the C one; exit status 0 when the pixels agree.
#include <morvane/tile.h>
#include <morvane/tile_image.h>

#include <cstdio>
#include <vector>

int main() {
  const int w = 64, h = 40, bpp = 2;
  std::vector<uint8_t> image(size_t(w) * h * bpp);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i / 16);

  std::vector<uint8_t> block(tile_image_bound(w, h, 16, 16, 1, CODEC_KIND_LZ4));
  const int32_t len = encode_tile_image(image, block, w, h, 16, 16, 1, CODEC_KIND_LZ4);
  if (len < 0) {
    std::printf("encode: %s\n", tile_error_text(tile_image_check(w, h, 16, 16, 1, CODEC_KIND_LZ4)));
    return 1;
  }

  // The 10 x 5 pixels at (20, 12).
  uint8_t out[10 * 5 * bpp];
  const int32_t n = morvane_decode_tile_region(block.data(), out, len, int32_t(sizeof out), 20, 12, 10, 5);
  morvane_tile_cache_forget(block.data());
  if (n != int32_t(sizeof out)) {
    std::printf("decode: %s\n", morvane_tile_error_text(n));
    return 1;
  }
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 10 * bpp; ++i)
      if (out[j * 10 * bpp + i] != image[(size_t(12 + j) * w + 20) * bpp + i]) {
        std::printf("pixel mismatch\n");
        return 1;
      }
  std::printf("block of %d bytes, region of %d bytes: ok\n", int(len), int(n));
  return 0;
}

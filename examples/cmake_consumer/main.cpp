// SPDX-License-Identifier: MIT
// Encodes an image into a tiled block with the C++ interface and decodes a
// region of it back through a decoder of its own, rows padded; exit status 0
// when the pixels agree.
#include <morvane/tile.hpp>

#include <cstdio>
#include <vector>

int main() {
  const int w = 64, h = 40, bpp = 2;
  std::vector<uint8_t> image(size_t(w) * h * bpp);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i / 16);

  std::vector<uint8_t> block(morvane::tile_image_bound(w, h, 16, 16, 1, morvane::CODEC_KIND_LZ4));
  const int32_t len = morvane::encode_tile_image(image, block, w, h, 16, 16, 1, morvane::CODEC_KIND_LZ4);
  if (len < 0) {
    std::printf("encode: %s\n",
                morvane::tile_error_text(morvane::tile_image_check(w, h, 16, 16, 1, morvane::CODEC_KIND_LZ4)));
    return 1;
  }
  block.resize(size_t(len));

  // A decoder for tiles of up to 16 x 16 pixels of 2 bytes.
  std::vector<uint64_t> memory((morvane_tile_decoder_size(16 * 16 * 2) + 7) / 8);
  morvane_tile_decoder* dec = morvane_tile_decoder_init(memory.data(), memory.size() * 8, 16 * 16 * 2);

  // The 10 x 5 pixels at (20, 12), rows 32 bytes apart.
  const int stride = 32;
  std::vector<uint8_t> out(4 * stride + 10 * bpp);
  const int32_t n = morvane::decode_tile_region(dec, block, out, 20, 12, 10, 5, stride);
  if (n != 10 * 5 * bpp) {
    std::printf("decode: %s\n", morvane::tile_error_text(n));
    return 1;
  }
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 10 * bpp; ++i)
      if (out[size_t(j) * stride + i] != image[(size_t(12 + j) * w + 20) * bpp + i]) {
        std::printf("pixel mismatch\n");
        return 1;
      }
  std::printf("block of %d bytes, region of %d bytes: ok\n", int(len), int(n));
  return 0;
}

// SPDX-License-Identifier: MIT
// An arbitrary image through the tiled encoder and the region decoder: the
// pixels come back, or the encoder refuses cleanly.
// Input: width, height, tile width, tile height (8 bits each), pixel format,
// codec kind, a capacity cut, a region (4 x 8 bits), the pixels (repeated to
// fill the image).
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in{data, size};
  const int32_t w = in.u8(), h = in.u8(), tw = in.u8(), th = in.u8();
  const uint8_t format = in.u8() % 8, codec = in.u8() % 5, cut = in.u8();
  const int32_t rx = in.u8(), ry = in.u8(), rw = in.u8(), rh = in.u8();
  const int bpp = pixel_format_bytes(format);
  std::vector<uint8_t> img(static_cast<size_t>(w * h * (bpp != 0 ? bpp : 1)));
  const auto pixels = in.rest();
  for (size_t i = 0; i < img.size() && !pixels.empty(); ++i) img[i] = pixels[i % pixels.size()];

  const int32_t check = tile_image_check(w, h, tw, th, format, codec);
  const uint64_t bound = tile_image_bound(w, h, tw, th, format, codec);
  // Usually the bound, sometimes less: the encoder then fails or fits, but
  // never writes outside the block.
  const uint64_t capacity = cut < 200 || bound < cut ? bound : bound - cut;
  std::vector<uint8_t> block(capacity == 0 ? 64 : capacity);
  const int32_t n = encode_tile_image(img, block, w, h, tw, th, format, codec);
  if (check != 0) {
    if (n != -1) __builtin_trap();
    return 0;
  }
  if (n < 0) {
    if (capacity == bound) __builtin_trap();  // the bound must always be enough
    return 0;
  }
  block.resize(static_cast<size_t>(n));
  std::vector<uint8_t> back(img.size());
  if (decode_tile_region(block, back, 0, 0, w, h) != w * h * bpp || back != img) __builtin_trap();
  // A region inside the image gives the matching crop.
  if (w > 0 && h > 0) {
    const int32_t x = rx % w, y = ry % h, cw = rw % (w - x) + 1, ch = rh % (h - y) + 1;
    std::vector<uint8_t> part(static_cast<size_t>(cw * ch * bpp));
    if (decode_tile_region(block, part, x, y, cw, ch) != cw * ch * bpp) __builtin_trap();
    for (int32_t j = 0; j < ch; ++j)
      for (int32_t b = 0; b < cw * bpp; ++b)
        if (part[static_cast<size_t>(j * cw * bpp + b)] != img[static_cast<size_t>(((y + j) * w + x) * bpp + b)])
          __builtin_trap();
  }
  tile_cache_forget(block.data());
  return 0;
}

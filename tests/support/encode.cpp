// SPDX-License-Identifier: MIT
#include "support/encode.h"

#include <lz4.h>

#include <algorithm>

#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

std::vector<uint8_t> lz4_block(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> dst(std::max<size_t>(2 * raw.size(), LZ4_compressBound(static_cast<int>(raw.size()))));
  const int n = lz4_hc_compress(raw.data(), dst.data(), static_cast<int>(raw.size()), static_cast<int>(dst.size()));
  dst.resize(static_cast<size_t>(std::max(n, 0)));
  return dst;
}

std::vector<uint8_t> tile_block(const std::vector<uint8_t>& raw, int w, int h, int tw, int th, int format, int codec,
                                size_t capacity, int32_t* result) {
  std::vector<uint8_t> block(capacity != 0 ? capacity : tile_image_bound(w, h, tw, th, format, codec));
  const int32_t n = encode_tile_image(raw, block, w, h, tw, th, static_cast<uint8_t>(format),
                                      static_cast<uint8_t>(codec));
  if (result != nullptr) *result = n;
  block.resize(static_cast<size_t>(std::max(n, 0)));
  return block;
}

// SPDX-License-Identifier: MIT
#include "support/encode.h"

#include <lz4.h>

#include <algorithm>

#include "tile/byte_order.h"
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

int format_for(int bpp) { return bpp == 1 ? 5 : bpp == 2 ? 1 : bpp == 3 ? 2 : 4; }

std::vector<uint8_t> crop(const std::vector<uint8_t>& img, int w, int bpp, int x, int y, int cw, int ch) {
  std::vector<uint8_t> out;
  for (int j = 0; j < ch; ++j) {
    const auto row = img.begin() + (static_cast<long>(y + j) * w + x) * bpp;
    out.insert(out.end(), row, row + static_cast<long>(cw) * bpp);
  }
  return out;
}

std::vector<uint8_t> tile_header(uint32_t magic, int w, int h, int tw, int th, int format, int bpp, int count) {
  std::vector<uint8_t> b(TILE_HEADER_SIZE);
  store_le32(b.data(), magic);
  store_le16(b.data() + 4, static_cast<uint16_t>(w));
  store_le16(b.data() + 6, static_cast<uint16_t>(h));
  store_le16(b.data() + 8, static_cast<uint16_t>(tw));
  store_le16(b.data() + 10, static_cast<uint16_t>(th));
  b[12] = static_cast<uint8_t>(format);
  b[13] = static_cast<uint8_t>(bpp);
  store_le16(b.data() + 14, static_cast<uint16_t>(count));
  return b;
}

std::vector<uint8_t> tiled_block(std::vector<uint8_t> head, const std::vector<std::vector<uint8_t>>& payloads) {
  std::vector<uint8_t> block = std::move(head);
  block.resize(TILE_HEADER_SIZE + TILE_REF_SIZE * payloads.size());
  for (size_t i = 0; i < payloads.size(); ++i) {
    store_le32(block.data() + TILE_HEADER_SIZE + TILE_REF_SIZE * i, static_cast<uint32_t>(block.size()));
    store_le32(block.data() + TILE_HEADER_SIZE + TILE_REF_SIZE * i + 4, static_cast<uint32_t>(payloads[i].size()));
    block.insert(block.end(), payloads[i].begin(), payloads[i].end());
  }
  return block;
}

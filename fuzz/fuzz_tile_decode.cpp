// The region decoder over arbitrary blocks, regions and output sizes.
// Input: x, y, w, h (signed 16-bit), a capacity cut (8 bits), the block.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "pack/pack_format.h"
#include "tile/tile_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in{data, size};
  const int32_t x = static_cast<int16_t>(in.u16());
  const int32_t y = static_cast<int16_t>(in.u16());
  const int32_t w = static_cast<int16_t>(in.u16());
  const int32_t h = static_cast<int16_t>(in.u16());
  const uint8_t cut = in.u8();
  // Exact-size copies: any read or write outside them is a finding.
  const std::vector<uint8_t> block(in.rest().begin(), in.rest().end());
  // Room for the region at 4 bytes per pixel, less the cut, at most 4 MiB.
  const int64_t full = w > 0 && h > 0 ? std::min<int64_t>(int64_t{w} * h * 4, 4 << 20) : 0;
  std::vector<uint8_t> out(static_cast<size_t>(full > cut ? full - cut : 0));
  const int32_t n = decode_tile_region(block, out, x, y, w, h);
  tile_cache_forget(block.data());
  if (n >= 0) {
    const int64_t bpp = block.size() >= TILE_HEADER_SIZE ? block[13] : 0;
    if (n != int64_t{w} * h * bpp || static_cast<size_t>(n) > out.size()) __builtin_trap();
  }
  return 0;
}

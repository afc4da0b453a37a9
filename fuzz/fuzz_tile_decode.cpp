// SPDX-License-Identifier: MIT
// The region decoder over arbitrary blocks, regions, output sizes, strides
// and decoder sizes. Input: x, y, w, h (signed 16-bit), a capacity cut (8
// bits), the stride's bytes beyond a row (8 bits), the decoder's room (8
// bits: 16 to 4096 bytes in steps of 16, or 1 MiB for 255), the block.
#include <algorithm>
#include <memory>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in{data, size};
  const int32_t x = static_cast<int16_t>(in.u16());
  const int32_t y = static_cast<int16_t>(in.u16());
  const int32_t w = static_cast<int16_t>(in.u16());
  const int32_t h = static_cast<int16_t>(in.u16());
  const uint8_t cut = in.u8();
  const uint8_t extra = in.u8();
  const uint8_t room_step = in.u8();
  const int32_t room = room_step == 255 ? 1 << 20 : (room_step + 1) * 16;
  // Exact-size copies: any read or write outside them is a finding.
  const std::vector<uint8_t> block(in.rest().begin(), in.rest().end());
  const int64_t bpp = block.size() >= TILE_HEADER_SIZE ? block[13] : 0;

  // The static decoder, rows packed. Room for the region at 4 bytes per
  // pixel, less the cut, at most 1 MiB.
  const int64_t full = w > 0 && h > 0 ? std::min<int64_t>(int64_t{w} * h * 4, 1 << 20) : 0;
  std::vector<uint8_t> packed(static_cast<size_t>(full > cut ? full - cut : 0));
  const int32_t n = decode_tile_region(block, packed, x, y, w, h);
  tile_cache_forget(block.data());
  if (n >= 0 && (n != int64_t{w} * h * bpp || static_cast<size_t>(n) > packed.size())) __builtin_trap();

  // A decoder of its own in memory of exactly its size (left as it comes),
  // rows `extra` bytes apart beyond a row, the output ending `cut` bytes
  // short of the last row (or that far past it, for odd cuts), at most 1 MiB.
  const size_t memory_size = tile_decoder_size(room);
  const std::unique_ptr<uint8_t[]> memory(new uint8_t[memory_size]);
  TileDecoder* dec = tile_decoder_init(memory.get(), memory_size, room);
  if (dec == nullptr) __builtin_trap();
  const int64_t row = w > 0 ? int64_t{w} * bpp : 0;
  const int64_t stride = row + extra;
  if (stride > INT32_MAX) return 0;
  const int64_t need = w > 0 && h > 0 ? std::min<int64_t>((h - 1) * stride + row, 1 << 20) : 0;
  const int64_t capacity = cut % 2 ? need + cut : std::max<int64_t>(need - cut, 0);
  std::vector<uint8_t> out(static_cast<size_t>(capacity), 0xEE);
  for (int pass = 0; pass < 2; ++pass) {  // the second starts in the tile held
    const int32_t m = decode_tile_region(dec, block, out, x, y, w, h, int32_t(stride));
    if (m <= 0) {
      if (m == 0 && int64_t{w} * h * bpp != 0) __builtin_trap();
      break;
    }
    if (m != int64_t{w} * h * bpp) __builtin_trap();
    // Every row as the static decoder gave it; nothing else written.
    for (int64_t j = 0; j < h; ++j) {
      const uint8_t* at = out.data() + j * stride;
      if (n >= 0 && !std::equal(at, at + row, packed.data() + j * row)) __builtin_trap();
      const uint8_t* gap_end = j + 1 < h ? at + stride : out.data() + out.size();
      if (std::any_of(at + row, gap_end, [](uint8_t b) { return b != 0xEE; })) __builtin_trap();
    }
  }
  return 0;
}

// The run-length decoder over arbitrary streams, capacities and pixel sizes.
// Input: bpp selector, capacity (16 bits), the stream.
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tile/tile_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in{data, size};
  const int32_t bpp = 1 + in.u8() % 4;
  const int32_t capacity = in.u16();
  const std::vector<uint8_t> stream(in.rest().begin(), in.rest().end());
  // Exactly the capacity (one byte for 0, since no buffer means a size query).
  std::vector<uint8_t> out(static_cast<size_t>(capacity > 0 ? capacity : 1));
  const int32_t len = static_cast<int32_t>(stream.size());
  const int32_t n = decode_rle_pixels(stream.data(), out.data(), len, capacity, bpp);
  const int32_t whole = decode_rle_pixels(stream.data(), nullptr, len, 0, bpp);
  if (n < 0 || n > capacity || n % bpp != 0 || whole < n) __builtin_trap();
  // With room for everything, the buffer gets exactly what the size query said.
  if (whole <= capacity && n != whole) __builtin_trap();
  return 0;
}

// SPDX-License-Identifier: MIT
// The run-length decoder over arbitrary streams, capacities and pixel sizes,
// against a plain packet-by-packet decoder written here from the rules.
// Input: bpp selector, capacity (16 bits), the stream.
//
// Besides the capacity drawn from the input, the stream is decoded with the
// capacities that end exactly at, one byte before and one pixel before its
// whole size, so that the last packets are cut or just fit wherever the fast
// loop hands over to the exact one. Outputs are exactly the capacity long, so
// any write past it shows under the sanitizers.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

// The rules: whole pixels within the budget; a packet cut by the budget or
// by the end of the stream is the last one, and gives its whole pixels.
std::vector<uint8_t> reference(const std::vector<uint8_t>& s, size_t capacity, size_t bpp) {
  std::vector<uint8_t> out;
  size_t budget = capacity / bpp;
  size_t i = 0;
  while (i < s.size() && budget > 0) {
    const uint8_t header = s[i++];
    const size_t count = header & 0x7Fu;
    size_t n = std::min(count, budget);
    if (header & 0x80) {
      if (s.size() - i < bpp) break;
      for (size_t k = 0; k < n; ++k) out.insert(out.end(), s.begin() + i, s.begin() + i + bpp);
      i += bpp;
    } else {
      const size_t avail = (s.size() - i) / bpp;
      n = std::min(n, avail);
      out.insert(out.end(), s.begin() + i, s.begin() + i + n * bpp);
      if (count > avail) break;
      i += count * bpp;
    }
    budget -= n;
  }
  return out;
}

void check(const std::vector<uint8_t>& stream, int32_t capacity, int32_t bpp) {
  // Exactly the capacity (one byte for 0, since no buffer means a size query).
  std::vector<uint8_t> out(static_cast<size_t>(capacity > 0 ? capacity : 1));
  const int32_t n = decode_rle_pixels(stream.data(), out.data(), static_cast<int32_t>(stream.size()), capacity, bpp);
  const std::vector<uint8_t> want = reference(stream, static_cast<size_t>(std::max(capacity, 0)), static_cast<size_t>(bpp));
  if (n < 0 || static_cast<size_t>(n) != want.size()) __builtin_trap();
  if (n > 0 && std::memcmp(out.data(), want.data(), want.size()) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in{data, size};
  const int32_t bpp = 1 + in.u8() % 4;
  const int32_t capacity = in.u16();
  // A copy of exactly the stream's size, so a read past it shows.
  const std::vector<uint8_t> stream(in.rest().begin(), in.rest().end());
  const int32_t len = static_cast<int32_t>(stream.size());
  const int32_t whole = decode_rle_pixels(stream.data(), nullptr, len, 0, bpp);
  if (whole < 0 || static_cast<size_t>(whole) != reference(stream, INT32_MAX, static_cast<size_t>(bpp)).size())
    __builtin_trap();
  check(stream, capacity, bpp);
  if (whole <= 1 << 20) {
    for (int32_t cap : {whole, whole - 1, whole - bpp, whole + 1})
      if (cap >= 0) check(stream, cap, bpp);
  }
  return 0;
}

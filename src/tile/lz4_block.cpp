// SPDX-License-Identifier: MIT
#include <lz4hc.h>

#include "tile/tile_image.h"

namespace morvane::detail {
namespace {
// LZ4_compress_HC would allocate and initialise a fresh state on every call;
// one state per thread gives the same output without that, and lets threads
// compress side by side. The state is reset on every call.
thread_local LZ4_streamHC_t g_hc_state;
}  // namespace

int32_t lz4_hc_compress(const uint8_t* src, uint8_t* dst, int32_t src_len, int32_t capacity) {
  // An empty source may come with no buffer at all; the HC match finder
  // still takes its address as the window start.
  static const uint8_t empty = 0;
  if (src == nullptr) src = &empty;
  return LZ4_compress_HC_extStateHC(&g_hc_state, reinterpret_cast<const char*>(src),
                                    reinterpret_cast<char*>(dst), src_len, capacity, LZ4_HC_LEVEL);
}

}  // namespace morvane::detail

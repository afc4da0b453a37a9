// SPDX-License-Identifier: MIT
// Coding the tiles of one large image side by side, on the threads that a
// JobRunner lends, into the same block that encode_tile_image writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

// Runs job(0) .. job(count - 1), each once, and returns when all have run:
// on the calling thread alone, or side by side with idle threads. `threads`
// is how many may run at once.
struct JobRunner {
  int threads = 1;
  std::function<void(size_t count, const std::function<void(size_t)>& job)> run;
};

// tile_image_encode (<morvane/tile.hpp>), same parameters, block and
// result. With a runner of
// more than one thread, the LZ4 tiles of an image of at least
// SPLIT_MIN_BYTES pixel bytes are coded as separate jobs first.
inline constexpr uint64_t SPLIT_MIN_BYTES = 256u << 10;
int32_t encode_tile_image_jobs(const JobRunner* jobs, std::span<const uint8_t> src, std::span<uint8_t> block,
                               int32_t width, int32_t height, int32_t tile_width, int32_t tile_height,
                               uint8_t pixel_format, uint8_t codec_kind);

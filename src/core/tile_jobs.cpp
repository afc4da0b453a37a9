// SPDX-License-Identifier: MIT
#include "core/tile_jobs.h"

#include <algorithm>
#include <vector>

#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {
// Pixel bytes a job codes, about: large enough that handing jobs out costs
// nothing next to LZ4 HC, small enough that the threads end together.
constexpr uint64_t JOB_BYTES = 64u << 10;
}  // namespace

int32_t encode_tile_image_jobs(const JobRunner* jobs, std::span<const uint8_t> src, std::span<uint8_t> block,
                               int32_t width, int32_t height, int32_t tile_width, int32_t tile_height,
                               uint8_t pixel_format, uint8_t codec_kind) {
  const int bpp = pixel_format_bytes(pixel_format);
  const uint64_t raw = uint64_t(uint32_t(width)) * uint64_t(uint32_t(height)) * uint64_t(bpp);
  // Run-length tiles code at about the speed of a copy: the block's own
  // loop is as fast. Refused calls go there too, to fail as it fails.
  if (jobs == nullptr || jobs->threads < 2 || codec_kind != CODEC_KIND_LZ4 || raw < SPLIT_MIN_BYTES ||
      src.size() < raw || tile_image_check(width, height, tile_width, tile_height, pixel_format, codec_kind) != 0)
    return tile_image_encode(src, block, width, height, tile_width, tile_height, pixel_format, codec_kind);

  // Each tile gets its own room of its bound, one after the other in scratch.
  std::vector<uint64_t> at{0};
  for (uint32_t i = 0;; ++i) {
    const uint32_t bound = tile_payload_bound(width, height, tile_width, tile_height, pixel_format, codec_kind, i);
    if (bound == 0) break;
    at.push_back(at.back() + bound);
  }
  const size_t count = at.size() - 1;
  if (count < 2)
    return tile_image_encode(src, block, width, height, tile_width, tile_height, pixel_format, codec_kind);
  std::vector<uint8_t> scratch(at.back());
  std::vector<uint32_t> len(count);
  const uint64_t tile_bytes = uint64_t(tile_width) * uint64_t(tile_height) * uint64_t(bpp);
  const size_t per_job = static_cast<size_t>(std::max<uint64_t>(1, JOB_BYTES / tile_bytes));
  jobs->run((count + per_job - 1) / per_job, [&](size_t job) {
    for (size_t i = job * per_job; i < std::min(count, (job + 1) * per_job); ++i) {
      std::span<uint8_t> room(scratch.data() + at[i], at[i + 1] - at[i]);
      len[i] = encode_tile(src, room, width, height, tile_width, tile_height, pixel_format, codec_kind,
                           static_cast<uint32_t>(i));
    }
  });
  std::vector<std::span<const uint8_t>> coded(count);
  for (size_t i = 0; i < count; ++i) coded[i] = {scratch.data() + at[i], len[i]};
  return assemble_tile_image(src, block, width, height, tile_width, tile_height, pixel_format, codec_kind, coded);
}

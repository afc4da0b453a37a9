// SPDX-License-Identifier: MIT
// Deterministic images that look like what an embedded GUI stores, for
// tests, samples and benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class ImageKind {
  Gradient,  // smooth two-axis gradient
  Flat,      // flat background with a few sharp-edged icons
  Noise,     // photo-like noise with little exact repetition
  Glyphs,    // mostly zero with anti-aliased glyph-like strokes
};

// width x height pixels of bpp (1..4) bytes, rows packed; the same seed gives
// the same bytes.
std::vector<uint8_t> make_image(ImageKind kind, int width, int height, int bpp, uint32_t seed);

// Uniform random bytes.
std::vector<uint8_t> make_random_bytes(size_t n, uint32_t seed);

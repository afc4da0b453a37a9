// SPDX-License-Identifier: MIT
// Draws parameters from the front of a fuzz input; what is left is data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct FuzzInput {
  const uint8_t* data;
  size_t size;

  uint8_t u8() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
  std::span<const uint8_t> rest() const { return {data, size}; }
};

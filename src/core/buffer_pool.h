// SPDX-License-Identifier: MIT
// Buffers that entries hand on to the next ones, so that a pack of large
// images allocates (and page-faults) its buffers once rather than per entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class BufferPool {
 public:
  BufferPool() = default;
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;

  // A buffer of `size` bytes (their values unspecified): the smallest idle
  // one that holds them, or a new one.
  std::vector<uint8_t> take(size_t size);
  // Keeps the buffer for a later take() while the idle buffers and those
  // taken and not given back fit in the limit; frees it otherwise.
  void give(std::vector<uint8_t>&& buffer);
  // The limit; idle buffers beyond it are freed.
  void set_limit(uint64_t limit);
  uint64_t idle_bytes() const;

 private:
  mutable std::mutex mu_;
  std::vector<std::vector<uint8_t>> idle_;
  uint64_t idle_bytes_ = 0;
  uint64_t lent_ = 0;  // capacity taken and not given back
  uint64_t limit_ = 0;
};

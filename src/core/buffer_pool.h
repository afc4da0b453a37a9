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
  // Keeps the buffer for a later take() while the idle buffers fit in the
  // room; frees it otherwise.
  void give(std::vector<uint8_t>&& buffer);
  // The bytes idle buffers may hold; those beyond it are freed.
  void set_room(uint64_t room);
  uint64_t idle_bytes() const;

 private:
  void trim();  // mu_ held

  mutable std::mutex mu_;
  std::vector<std::vector<uint8_t>> idle_;
  uint64_t idle_bytes_ = 0;
  uint64_t room_ = 0;
};

// SPDX-License-Identifier: MIT
#include "core/buffer_pool.h"

#include <algorithm>

std::vector<uint8_t> BufferPool::take(size_t size) {
  std::vector<uint8_t> buffer;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // The smallest idle buffer that holds size bytes; when none does, the
    // largest, grown: a new buffer beside the idle ones would not fit the
    // limit once given back, and the pool would free and allocate one at
    // every entry.
    size_t best = idle_.size(), largest = idle_.size();
    for (size_t k = 0; k < idle_.size(); ++k) {
      const size_t c = idle_[k].capacity();
      if (c >= size && (best == idle_.size() || c < idle_[best].capacity())) best = k;
      if (largest == idle_.size() || c > idle_[largest].capacity()) largest = k;
    }
    // One more than twice as large would hold bytes in use that the
    // budget does not count: a new buffer of the size then.
    if (best < idle_.size() && idle_[best].capacity() / 2 > size) best = idle_.size();
    else if (best == idle_.size()) best = largest;
    if (best < idle_.size()) {
      std::swap(idle_[best], idle_.back());
      buffer = std::move(idle_.back());
      idle_.pop_back();
      idle_bytes_ -= buffer.capacity();
    }
  }
  // Within its capacity: no allocation, and only the bytes beyond its old
  // size are cleared. A buffer too small is replaced, its bytes not copied.
  if (buffer.capacity() < size) buffer = std::vector<uint8_t>();
  buffer.resize(size);
  std::lock_guard<std::mutex> lock(mu_);
  lent_ += buffer.capacity();
  return buffer;
}

void BufferPool::give(std::vector<uint8_t>&& buffer) {
  std::vector<uint8_t> freed;  // freed outside the lock
  std::lock_guard<std::mutex> lock(mu_);
  if (buffer.capacity() == 0) return;
  lent_ -= std::min<uint64_t>(lent_, buffer.capacity());
  if (idle_bytes_ + buffer.capacity() + lent_ > limit_) {
    freed = std::move(buffer);
    return;
  }
  idle_bytes_ += buffer.capacity();
  idle_.push_back(std::move(buffer));
}

void BufferPool::set_limit(uint64_t limit) {
  std::lock_guard<std::mutex> lock(mu_);
  limit_ = limit;
  // The largest go first: they are the ones that least often fit again.
  while (idle_bytes_ > limit_) {
    auto largest = std::max_element(idle_.begin(), idle_.end(),
                                    [](const auto& a, const auto& b) { return a.capacity() < b.capacity(); });
    idle_bytes_ -= largest->capacity();
    std::swap(*largest, idle_.back());
    idle_.pop_back();
  }
}

uint64_t BufferPool::idle_bytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return idle_bytes_;
}

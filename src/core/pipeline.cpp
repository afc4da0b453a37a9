// SPDX-License-Identifier: MIT
#include "core/pipeline.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "io/platform.h"

uint64_t pipeline_budget(uint64_t largest, uint64_t least) { return std::max(least, 2 * largest); }

Pipeline::Pipeline(size_t count, int threads, uint64_t budget, PipelineSteps steps)
    : steps_(std::move(steps)),
      count_(count),
      budget_(budget),
      bytes_(threads > 1 ? std::max<size_t>(64, 4 * static_cast<size_t>(threads)) : 1),
      done_(bytes_.size()) {
  // Half as much again for idle buffers of other sizes than the next
  // entries want, so that they are reused rather than freed and allocated.
  pool_.set_limit(budget_ + budget_ / 2);
  memory_.pool = &pool_;
  memory_.jobs = &runner_;
  if (threads < 2) {
    runner_.run = [](size_t n, const std::function<void(size_t)>& job) {
      for (size_t k = 0; k < n; ++k) job(k);
    };
    return;
  }
  runner_.threads = threads;
  runner_.run = [this](size_t n, const std::function<void(size_t)>& job) { run_jobs(n, job); };
  worker_memory_.resize(static_cast<size_t>(threads), memory_);
  threads_.reserve(static_cast<size_t>(threads));
  for (EntryMemory& m : worker_memory_) threads_.emplace_back([this, &m] { run(&m); });
}

Pipeline::~Pipeline() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  work_cv_.notify_all();
  for (std::thread& t : threads_) t.join();
}

// Entry j starts when a slot is free and its bytes fit beside those in
// flight; alone it always starts.
bool Pipeline::fits(size_t j) {
  if (j >= count_ || stopped_ || j - released_ >= slots()) return false;
  bytes_[j % slots()] = steps_.bytes(j);
  return j == released_ || in_flight_ + bytes_[j % slots()] <= budget_;
}

void Pipeline::start_one() {
  const size_t j = started_++;
  const size_t s = j % slots();
  in_flight_ += bytes_[s];
  peak_bytes_ = std::max(peak_bytes_, in_flight_);
  peak_entries_ = std::max(peak_entries_, started_ - released_);
  const bool go = steps_.start(j, memory_);
  if (!go) stopped_ = true;
  if (threads_.empty()) {
    if (go) steps_.work(j, memory_);
    done_[s] = 1;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    // Workers take entries in order: one that is not worked ends the
    // starting, so ready_ stops before it for good.
    if (go) ready_ = j + 1;
    else done_[s] = 1;
  }
  if (go) work_cv_.notify_one();
}

bool Pipeline::wait(size_t i) {
  // On one thread the one slot holds entry i, started and worked here.
  while (fits(started_)) start_one();
  if (i >= started_) return false;
  if (threads_.empty()) return true;
  std::unique_lock<std::mutex> lock(mu_);
  done_cv_.wait(lock, [&] { return done_[i % slots()] != 0; });
  return true;
}

void Pipeline::release(size_t i) {
  const size_t s = i % slots();
  in_flight_ -= bytes_[s];
  bytes_[s] = 0;
  released_ = i + 1;
  std::lock_guard<std::mutex> lock(mu_);
  done_[s] = 0;
}

Pipeline::Group* Pipeline::open_group() {
  for (Group* g : groups_)
    if (g->next < g->count) return g;
  return nullptr;
}

void Pipeline::run(EntryMemory* memory) {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    work_cv_.wait(lock, [&] { return stop_ || next_ < ready_ || open_group() != nullptr; });
    if (Group* g = open_group()) {
      const size_t k = g->next++;
      lock.unlock();
      (*g->job)(k);
      lock.lock();
      if (++g->done == g->count) group_cv_.notify_all();
      continue;
    }
    if (stop_) return;
    const size_t j = next_++;
    lock.unlock();
    steps_.work(j, *memory);
    lock.lock();
    done_[j % slots()] = 1;
    done_cv_.notify_all();
  }
}

// The jobs of one entry: its worker takes them one by one, and so does
// every idle worker; returns when all have run.
void Pipeline::run_jobs(size_t count, const std::function<void(size_t)>& job) {
  Group g{&job, count};
  std::unique_lock<std::mutex> lock(mu_);
  groups_.push_back(&g);
  work_cv_.notify_all();
  while (g.next < g.count) {
    const size_t k = g.next++;
    lock.unlock();
    job(k);
    lock.lock();
    ++g.done;
  }
  group_cv_.wait(lock, [&] { return g.done == g.count; });
  groups_.erase(std::find(groups_.begin(), groups_.end(), &g));
}

int parse_thread_count(const char* value, int fallback) {
  if (value == nullptr || *value == '\0') return fallback;
  long long n = 0;
  for (const char* p = value; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return fallback;
    n = n * 10 + (*p - '0');
    if (n > INT_MAX) return fallback;
  }
  if (n == 0) return fallback;
  return static_cast<int>(std::min<long long>(n, MAX_CONVERT_THREADS));
}

int default_thread_count() {
  return std::clamp(usable_processors(), 1, MAX_CONVERT_THREADS);
}

int convert_thread_count() { return parse_thread_count(std::getenv("MORVANE_THREADS"), default_thread_count()); }

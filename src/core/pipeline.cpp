#include "core/pipeline.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "io/platform.h"

Pipeline::Pipeline(int threads, ConvertEntry convert)
    : convert_(std::move(convert)), slots_(threads > 1 ? 2 * static_cast<size_t>(threads) : 1) {
  if (threads < 2) {
    runner_.run = [](size_t count, const std::function<void(size_t)>& job) {
      for (size_t k = 0; k < count; ++k) job(k);
    };
    return;
  }
  runner_.threads = threads;
  runner_.run = [this](size_t count, const std::function<void(size_t)>& job) { run_jobs(count, job); };
  threads_.reserve(static_cast<size_t>(threads));
  for (int k = 0; k < threads; ++k) threads_.emplace_back([this] { work(); });
}

Pipeline::~Pipeline() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  work_cv_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void Pipeline::convert(Slot& s, const JobRunner& jobs) {
  s.work.result = convert_(s.work, jobs);
  if (!s.work.keep_data) s.work.data = std::vector<uint8_t>();
}

void Pipeline::hand_over(EntryWork work) {
  // Its slot was last used by the entry a window before, already taken.
  const size_t i = handed_++;
  const bool read_ok = !work.read_failed;
  {
    std::lock_guard<std::mutex> lock(mu_);
    slot(i).work = std::move(work);
    slot(i).done = !read_ok;
    if (read_ok) ready_ = i + 1;
  }
  if (read_ok) work_cv_.notify_one();
}

EntryWork Pipeline::take() {
  const size_t i = taken_++;
  Slot& s = slot(i);
  if (threads_.empty()) {
    if (!s.done) convert(s, runner_);
  } else {
    std::unique_lock<std::mutex> lock(mu_);
    done_cv_.wait(lock, [&] { return s.done; });
  }
  s.done = false;
  return std::move(s.work);
}

Pipeline::Group* Pipeline::open_group() {
  for (Group* g : groups_)
    if (g->next < g->count) return g;
  return nullptr;
}

void Pipeline::work() {
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
    Slot& s = slot(next_++);
    lock.unlock();
    convert(s, runner_);
    lock.lock();
    s.done = true;
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

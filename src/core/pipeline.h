// SPDX-License-Identifier: MIT
// Entries worked side by side and finished in table order: the calling
// thread starts them in order (reads them), worker threads do their work
// (and lend themselves to the tile jobs of a large image), and the calling
// thread finishes them in order, so every thread count gives the same
// output. Entries start while the bytes they hold fit in a budget.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/buffer_pool.h"
#include "core/convert.h"
#include "core/progress.h"
#include "core/tile_jobs.h"

// What a pipeline does with entry i. The caller keeps each entry's state in
// a ring of slots() records (entry i in record i % slots()): start fills it,
// work reads and fills it, the caller reads it once wait(i) returns.
struct PipelineSteps {
  // The bytes entry i holds from its start to its release: its input and
  // its output, at most.
  std::function<uint64_t(size_t i)> bytes;
  // On the calling thread, in table order. False: entry i is not worked and
  // no entry after it starts.
  std::function<bool(size_t i, EntryMemory& memory)> start;
  // On any thread, with that thread's memory.
  std::function<void(size_t i, EntryMemory& memory)> work;
};

// The bytes in flight a pipeline allows when its largest entry holds
// `largest`: room for two of them, so one large entry never stops the small
// ones behind it, and never less than `least`: PIPELINE_MIN_BUDGET where an
// entry's time varies with its contents (compression, PNG coding: the
// reading runs far ahead of a slow entry), DECODE_MIN_BUDGET for decoding,
// whose time follows the bytes and where touching fresh memory would cost
// as much as the decoding.
inline constexpr uint64_t PIPELINE_MIN_BUDGET = uint64_t{64} << 20;
inline constexpr uint64_t DECODE_MIN_BUDGET = uint64_t{16} << 20;
uint64_t pipeline_budget(uint64_t largest, uint64_t least = PIPELINE_MIN_BUDGET);

class Pipeline {
 public:
  // With fewer than 2 threads nothing runs beside the calling thread: wait()
  // starts and works the entry itself.
  Pipeline(size_t count, int threads, uint64_t budget, PipelineSteps steps);
  // Entries started but not worked are dropped; those being worked are
  // finished. Every worker has ended on return.
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // The most entries started and not released: at least threads + 1 (64 at
  // least, 4 per thread), 1 on one thread.
  size_t slots() const { return done_.size(); }
  // Starts the entries that fit, then returns once entry i is worked. Called
  // for i = 0, 1, ... in turn, each after release(i - 1). False: entry i
  // never started (one before it ended the starting).
  bool wait(size_t i);
  // Entry i (the last waited for) holds no bytes any more: then its buffers
  // go back to pool(), which keeps them while they and the buffers in use
  // fit the budget.
  void release(size_t i);

  BufferPool& pool() { return pool_; }
  EntryMemory& memory() { return memory_; }  // the calling thread's
  // The most bytes that entries started and not released held at once, and
  // the most entries; for tests of the budget.
  uint64_t peak_bytes() const { return peak_bytes_; }
  size_t peak_entries() const { return peak_entries_; }

 private:
  struct Group {
    const std::function<void(size_t)>* job;
    size_t count;
    size_t next = 0;  // the next job to hand out
    size_t done = 0;
  };

  bool fits(size_t j);
  void start_one();
  Group* open_group();
  void run(EntryMemory* memory);
  void run_jobs(size_t count, const std::function<void(size_t)>& job);

  PipelineSteps steps_;
  const size_t count_;
  const uint64_t budget_;
  BufferPool pool_;
  JobRunner runner_;
  EntryMemory memory_;
  std::vector<EntryMemory> worker_memory_;
  // The calling thread's alone.
  size_t started_ = 0;
  size_t released_ = 0;
  bool stopped_ = false;            // a start said no entry after it starts
  std::vector<uint64_t> bytes_;     // by slot
  uint64_t in_flight_ = 0;
  uint64_t peak_bytes_ = 0;
  size_t peak_entries_ = 0;
  // Shared with the workers, guarded by mu_. An entry belongs to the calling
  // thread until it is ready, then to one worker until it is done.
  std::mutex mu_;
  std::condition_variable work_cv_;   // workers: an entry, a job or the stop
  std::condition_variable done_cv_;   // the calling thread: an entry done
  std::condition_variable group_cv_;  // a job group's owner: its last job done
  std::vector<char> done_;            // by slot
  size_t ready_ = 0;                  // entries a worker may work
  size_t next_ = 0;                   // the next entry a worker takes
  std::vector<Group*> groups_;
  bool stop_ = false;
  std::vector<std::thread> threads_;  // last: started once the rest is set
};

// Thread counts. MORVANE_THREADS, when it is a decimal positive integer that
// fits an int (digits only), sets the count, clamped to MAX_CONVERT_THREADS;
// any other value (empty, 0, a sign, other characters, too many digits) is
// ignored. The default is the number of processors the process may run on.
inline constexpr int MAX_CONVERT_THREADS = 64;
int parse_thread_count(const char* value, int fallback);
int default_thread_count();
int convert_thread_count();  // from MORVANE_THREADS, or the default

// One pass over a pack's entries on a Pipeline: each entry read on the
// calling thread in table order, worked on any thread, finished on the
// calling thread in table order. `Work` is what an entry carries from its
// read to its finish; the driver keeps a ring of them. Every step but
// `work` and `finish` may be left empty.
template <class Work>
struct OrderedSteps {
  // The bytes entry i holds from its read to its finish, at most (see
  // PipelineSteps::bytes); the budget is sized from the largest.
  std::function<uint64_t(size_t i)> bytes;
  // Calling thread, table order. False: entry i is not worked and nothing
  // after it is read; its finish still runs and must end the pass.
  std::function<bool(size_t i, Work& w, EntryMemory& memory)> read;
  // Any thread. May also put the entry's output in a place known from the
  // table alone (an offset), leaving finish to account for it.
  std::function<void(size_t i, Work& w, EntryMemory& memory)> work;
  // Calling thread, table order, with the progress line to clear before
  // printing. False: the pass ends here (a fault that stops the command).
  std::function<bool(size_t i, Work& w, Progress& progress)> finish;
  // The bytes the progress line counts for entry i once finished.
  std::function<uint64_t(size_t i, const Work& w)> done_bytes;
  // After the finish: the entry's buffers back to the pool (default: the
  // Work is reset and its buffers freed).
  std::function<void(Work& w, BufferPool& pool)> recycle;
};

struct OrderedOptions {
  const char* progress_name;     // the command, at the start of the progress line
  uint64_t progress_total = 0;   // the bytes the entries hold, 0 unknown
  uint64_t least_budget = PIPELINE_MIN_BUDGET;
  // False: the work step gets no pool (memory.pool null), for outputs that
  // are freed rather than handed on to the next entries.
  bool pool_work = true;
  int threads = 0;  // 0: convert_thread_count()
};

// True when every entry was finished; false when a finish ended the pass.
template <class Work>
bool run_in_order(size_t count, OrderedSteps<Work> steps, const OrderedOptions& options) {
  std::vector<Work> ring;
  PipelineSteps p;
  uint64_t largest = 0;
  if (steps.bytes) {
    for (size_t i = 0; i < count; ++i) largest = std::max(largest, steps.bytes(i));
    p.bytes = steps.bytes;
  } else {
    p.bytes = [](size_t) { return uint64_t{0}; };
  }
  p.start = [&](size_t i, EntryMemory& memory) {
    return !steps.read || steps.read(i, ring[i % ring.size()], memory);
  };
  p.work = [&](size_t i, EntryMemory& memory) {
    BufferPool* pool = options.pool_work ? memory.pool : std::exchange(memory.pool, nullptr);
    steps.work(i, ring[i % ring.size()], memory);
    memory.pool = pool;
  };
  const int threads = count == 0 ? 1 : options.threads > 0 ? options.threads : convert_thread_count();
  Pipeline pipeline(count, threads, pipeline_budget(largest, options.least_budget), std::move(p));
  ring.resize(pipeline.slots());
  Progress progress(options.progress_name, count, options.progress_total);
  for (size_t i = 0; i < count; ++i) {
    if (!pipeline.wait(i)) return false;
    Work& w = ring[i % ring.size()];
    if (!steps.finish(i, w, progress)) return false;
    const uint64_t done = steps.done_bytes ? steps.done_bytes(i, w) : 0;
    pipeline.release(i);
    if (steps.recycle) steps.recycle(w, pipeline.pool());
    else w = Work{};
    progress.entry_done(done);
  }
  progress.finish();
  return true;
}

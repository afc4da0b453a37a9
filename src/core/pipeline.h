// Entries converted side by side: the calling thread reads them in table
// order and hands them over, worker threads convert them (and lend
// themselves to the tile jobs of a large image), and the calling thread
// takes them back in table order, so every thread count gives the same
// output. At most window() entries are in memory at once.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/convert.h"
#include "core/tile_jobs.h"
#include "pack/pack_format.h"

// One entry from its read to its write.
struct EntryWork {
  PackEntry entry;            // as loaded
  uint32_t stored_len = 0;    // the len the input's record holds
  EntryRect rect;
  std::vector<uint8_t> data;  // the bytes read; dropped once converted unless keep_data
  bool keep_data = false;
  bool read_failed = false;   // not converted; ends the handing over
  EntryResult result;
};

// A pure function of the entry, called on any thread.
using ConvertEntry = std::function<EntryResult(const EntryWork&, const JobRunner&)>;

class Pipeline {
 public:
  // With fewer than 2 threads nothing runs beside the calling thread: take()
  // converts the entry itself.
  Pipeline(int threads, ConvertEntry convert);
  // Entries handed over but not converted are dropped; those being
  // converted are finished. Every worker has ended on return.
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // How many entries may be handed over and not yet taken.
  size_t window() const { return slots_.size(); }
  // The next entry in table order.
  void hand_over(EntryWork work);
  // The oldest entry handed over and not taken, once converted.
  EntryWork take();

 private:
  struct Slot {
    EntryWork work;
    bool done = false;  // converted, or its read failed
  };
  struct Group {
    const std::function<void(size_t)>* job;
    size_t count;
    size_t next = 0;  // the next job to hand out
    size_t done = 0;
  };

  Slot& slot(size_t i) { return slots_[i % slots_.size()]; }
  void convert(Slot& s, const JobRunner& jobs);
  Group* open_group();
  void work();
  void run_jobs(size_t count, const std::function<void(size_t)>& job);

  ConvertEntry convert_;
  std::vector<Slot> slots_;
  JobRunner runner_;
  // Everything below is shared with the workers, guarded by mu_. A slot
  // belongs to the calling thread until it is handed over, then to one
  // worker until it is marked done.
  std::mutex mu_;
  std::condition_variable work_cv_;   // workers: an entry, a job or the stop
  std::condition_variable done_cv_;   // the calling thread: an entry done
  std::condition_variable group_cv_;  // a job group's owner: its last job done
  size_t handed_ = 0;                 // entries handed over
  size_t taken_ = 0;                  // entries taken back
  size_t ready_ = 0;                  // entries a worker may convert
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

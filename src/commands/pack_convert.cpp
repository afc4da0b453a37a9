#include "commands/pack_convert.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> table_bytes(const std::vector<PackEntry>& entries) {
  std::vector<uint8_t> table(entries.size() * PACK_ENTRY_SIZE);
  for (size_t i = 0; i < entries.size(); ++i) write_pack_entry(entries[i], table.data() + i * PACK_ENTRY_SIZE);
  return table;
}

void report_write_failure(const OutputFile& out, const char* out_path) {
  std::printf("write %s failed: %s\n", out_path, std::strerror(out.error()));
  explain("%s: %s; the output was not written", out_path, std::strerror(out.error()));
}

// One entry from its read to its write.
struct Slot {
  PackEntry entry;            // as loaded; the table's record changes at write
  uint32_t stored_len = 0;    // the len the input's record holds
  std::vector<uint8_t> data;  // the bytes read; kept to the write only for inspect
  EntryResult result;
  bool read_failed = false;
  bool done = false;  // converted, or its read failed: ready to write
};

bool wants_inspect(const ConvertCommand& cmd, const PackEntry& e) {
  return cmd.inspect && cmd.inspects && cmd.inspects(e);
}

// False on a read error.
bool read_slot(const ConvertCommand& cmd, PackState& st, size_t i, Slot& s) {
  s.entry = st.entries[i];
  s.stored_len = st.stored_lens[i];
  const uint64_t pos = entry_payload_pos(s.entry);
  s.data.resize(std::min(cmd.read_size(s.entry, s.stored_len), st.in_file.available(pos)));
  return st.in_file.read_at(pos, s.data) == s.data.size();
}

void convert_slot(const ConvertCommand& cmd, const EntryRect& rect, Slot& s, const JobRunner& jobs) {
  s.result = cmd.convert(s.entry, s.stored_len, rect, s.data, jobs);
  if (!wants_inspect(cmd, s.entry)) s.data = std::vector<uint8_t>();
}

// The in-order end of the run, on the calling thread.
struct Writer {
  const ConvertCommand& cmd;
  PackState& st;
  const char* in_path;
  const char* out_path;
  int status = 0;
  // For the explanation of a failed run.
  size_t images = 0;            // entries other than JPEG
  size_t images_converted = 0;  // ... that were not kept
  size_t compressed_codes = 0;  // ... whose code is a compressed one
  size_t kept = 0;
  size_t written = 0;

  // Prints the entry's lines and appends it; false on a failure that stops
  // the run, after its one line.
  bool write(size_t i, Slot& s) {
    if (s.read_failed) {
      std::printf("read %s failed\n", in_path);
      explain("%s: %s; the output was not written", in_path, std::strerror(EIO));
      return false;
    }
    PackEntry& e = st.entries[i];
    const EntryRect& rect = st.rects[i];
    if (wants_inspect(cmd, s.entry) && !cmd.inspect(s.entry, rect, s.data)) status = 1;
    const EntryResult& r = s.result;
    std::fputs(r.text.c_str(), stdout);
    // A pipe sees progress entry by entry.
    std::fflush(stdout);
    if (r.failed) {
      status = 1;
      ++kept;
    }
    if (s.entry.type != TYPE_JPEG) {
      ++images;
      if (!r.failed) ++images_converted;
      if (is_compressed_type(s.entry.type)) ++compressed_codes;
    }
    OutputFile& out = st.out_file;
    const uint64_t end = out.position() + ENTRY_RECT_SIZE + r.data.size() + pack_padding(r.data.size());
    if (r.data.size() > PACK_MAX_PAYLOAD || end > uint64_t{PACK_MAX_FILE_SIZE}) {
      std::printf("%s: %zu bytes do not fit in a pack\r\n", entry_name_text(e).text, r.data.size());
      explain("%s: %zu bytes do not fit in a pack; the output was not written", entry_name_text(e).text,
              r.data.size());
      return false;
    }
    e.offset = static_cast<uint32_t>(out.position());
    e.len = static_cast<uint32_t>(r.data.size() + ENTRY_RECT_SIZE);
    e.type = r.type;
    uint8_t rect_bytes[ENTRY_RECT_SIZE];
    write_entry_rect(rect, rect_bytes);
    out.write(rect_bytes);
    out.write(r.data);
    out.write_zeros(pack_padding(r.data.size()));
    if (out.failed()) {
      report_write_failure(out, out_path);
      return false;
    }
    ++written;
    return true;
  }

  // Standard output names each kept entry and why; standard error sums up.
  void explain_kept() const {
    if (cmd.nothing_compressed != nullptr && images > 0 && images_converted == 0 && compressed_codes == 0) {
      explain("%s: %s", in_path, cmd.nothing_compressed);
    } else if (kept > 0) {
      explain("%zu of %zu entries could not be converted and were kept unchanged (named on standard output)",
              kept, written);
    }
  }
};

// False when the run stopped on a failure.
bool convert_in_line(const ConvertCommand& cmd, Writer& w) {
  JobRunner alone;
  alone.run = [](size_t count, const std::function<void(size_t)>& job) {
    for (size_t k = 0; k < count; ++k) job(k);
  };
  for (size_t i = 0; i < w.st.entries.size(); ++i) {
    Slot s;
    s.read_failed = !read_slot(cmd, w.st, i, s);
    if (!s.read_failed) convert_slot(cmd, w.st.rects[i], s, alone);
    if (!w.write(i, s)) return false;
  }
  return true;
}

// Worker threads converting the entries that the calling thread has read, a
// window of them at a time, and lending themselves, when no entry waits, to
// the tile jobs of the entries being converted. Everything they share is
// guarded by one mutex; a slot belongs to the calling thread until it is
// handed over, then to one worker until it is marked done.
class Pipeline {
 public:
  Pipeline(const ConvertCommand& cmd, const PackState& st, int threads, size_t window)
      : cmd_(cmd), st_(st), slots_(window) {
    runner_.threads = threads;
    runner_.run = [this](size_t count, const std::function<void(size_t)>& job) { run_jobs(count, job); };
    threads_.reserve(static_cast<size_t>(threads));
    for (int k = 0; k < threads; ++k) threads_.emplace_back([this] { work(); });
  }

  // Entries handed over but not converted are dropped; those being
  // converted are finished. Every worker has ended on return.
  ~Pipeline() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    work_cv_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  size_t window() const { return slots_.size(); }
  Slot& slot(size_t i) { return slots_[i % slots_.size()]; }

  // Entry i, the next in table order, has been read into its slot (or its
  // read failed, which ends the reading).
  void hand_over(size_t i, bool read_ok) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (read_ok) {
        ready_ = i + 1;
      } else {
        slot(i).read_failed = true;
        slot(i).done = true;
      }
    }
    if (read_ok) work_cv_.notify_one();
  }

  void wait_done(size_t i) {
    std::unique_lock<std::mutex> lock(mu_);
    done_cv_.wait(lock, [&] { return slot(i).done; });
  }

 private:
  struct Group {
    const std::function<void(size_t)>* job;
    size_t count;
    size_t next = 0;  // the next job to hand out
    size_t done = 0;
  };

  Group* open_group() {
    for (Group* g : groups_)
      if (g->next < g->count) return g;
    return nullptr;
  }

  void work() {
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
      const size_t i = next_++;
      Slot& s = slot(i);
      lock.unlock();
      convert_slot(cmd_, st_.rects[i], s, runner_);
      lock.lock();
      s.done = true;
      done_cv_.notify_all();
    }
  }

  // The jobs of one entry: its worker takes them one by one, and so does
  // every idle worker; returns when all have run.
  void run_jobs(size_t count, const std::function<void(size_t)>& job) {
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

  const ConvertCommand& cmd_;
  const PackState& st_;
  std::vector<Slot> slots_;
  JobRunner runner_;
  std::mutex mu_;
  std::condition_variable work_cv_;   // workers: an entry, a job or the stop
  std::condition_variable done_cv_;   // the calling thread: an entry done
  std::condition_variable group_cv_;  // a job group's owner: its last job done
  size_t ready_ = 0;                  // entries handed over
  size_t next_ = 0;                   // the next entry a worker takes
  std::vector<Group*> groups_;
  bool stop_ = false;
  std::vector<std::thread> threads_;  // last: started once the rest is set
};

// Reads ahead in table order while fewer than a window of entries are in
// flight, and writes each entry once it is converted. False when the run
// stopped on a failure; the workers have ended either way.
bool convert_side_by_side(const ConvertCommand& cmd, Writer& w, int threads) {
  PackState& st = w.st;
  Pipeline p(cmd, st, threads, 2 * static_cast<size_t>(threads));
  const size_t count = st.entries.size();
  size_t next_read = 0;
  bool reading = true;
  for (size_t i = 0; i < count; ++i) {
    while (reading && next_read < count && next_read < i + p.window()) {
      // Its slot was last used by entry next_read - window, already written.
      const bool ok = read_slot(cmd, st, next_read, p.slot(next_read));
      p.hand_over(next_read, ok);
      reading = ok;
      ++next_read;
    }
    p.wait_done(i);
    Slot& s = p.slot(i);
    if (!w.write(i, s)) return false;
    s = Slot();
  }
  return true;
}

}  // namespace

int convert_pack(const ConvertCommand& cmd, const char* in_path, const char* out_path) {
  PackState st;
  st.side_file = cmd.side_file;
  if (pack_open(st, in_path, out_path, cmd.recompute_len) != PACK_OK) {
    pack_close(st);
    return 1;
  }
  if (cmd.start) cmd.start(st.header);
  OutputFile& out = st.out_file;
  out.write(st.header.bytes);
  out.write(table_bytes(st.entries));

  Writer w{cmd, st, in_path, out_path};
  const bool ok = cmd.threads > 1 && !st.entries.empty() ? convert_side_by_side(cmd, w, cmd.threads)
                                                         : convert_in_line(cmd, w);
  if (!ok) {
    pack_close(st);
    return 1;
  }

  const int64_t out_size = static_cast<int64_t>(out.position());
  std::printf("%s: %d -> %d (%d%%)\r\n", cmd.name, static_cast<int>(st.in_size), static_cast<int>(out_size),
              pack_percent(static_cast<uint32_t>(out_size), static_cast<uint32_t>(st.in_size)));
  out.write_at(PACK_HEADER_SIZE, table_bytes(st.entries));
  if (!out.commit()) {
    report_write_failure(out, out_path);
    pack_close(st);
    return 1;
  }
  st.out_size = out_size;
  pack_close(st);
  w.explain_kept();
  return w.status;
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
  int n = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
  if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(n, 1, MAX_CONVERT_THREADS);
}

int convert_thread_count() { return parse_thread_count(std::getenv("MORVANE_THREADS"), default_thread_count()); }

// SPDX-License-Identifier: MIT
// morvane -c and -d: header and table out, each entry read, converted
// (side by side), printed in table order and written (-c appends in table
// order; -d's workers write at places laid out before decoding), the table
// rewritten, the output put in place.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <condition_variable>
#include <shared_mutex>  // std::shared_lock

#include "cli/commands.h"
#include "cli/report.h"
#include "core/convert.h"
#include "core/entry_form.h"
#include "core/pipeline.h"
#include "core/progress.h"
#include "tile/tile_image.h"

using namespace morvane::detail;

namespace {

constexpr const char* kDumpPath = "PIC16_orgin.rgb32";

// One entry from its read to its write.
struct EntryWork {
  PackEntry entry;            // as loaded
  uint32_t stored_len = 0;    // the len the input's record holds
  EntryRect rect;
  std::vector<uint8_t> data;  // the bytes read
  bool read_failed = false;   // not converted; ends the reading
  EntryResult result;
  // -d: where its worker writes it, in which layout, and how that went.
  uint64_t place = 0;
  uint64_t layout = 0;
  bool written = false;
  int write_error = 0;
  // -d: the pixels went to the place from the thread's own buffer, not
  // into result.data; their size.
  uint64_t streamed = 0;
  uint64_t out_size() const { return streamed != 0 ? streamed : result.data.size(); }
};

// Shared by the workers writing at the current layout's places, taken alone
// by the calling thread to begin a new one. A mutex and a condition rather
// than std::shared_mutex: MinGW's, over its pthread read-write lock, was
// seen to let a write at an old layout's place through beside a new layout.
class LayoutLock {
 public:
  void lock_shared() {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return !writer_; });
    ++readers_;
  }
  void unlock_shared() {
    std::lock_guard<std::mutex> l(m_);
    if (--readers_ == 0) cv_.notify_all();
  }
  void lock() {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return !writer_; });
    writer_ = true;
    cv_.wait(l, [&] { return readers_ == 0; });
  }
  void unlock() {
    std::lock_guard<std::mutex> l(m_);
    writer_ = false;
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int readers_ = 0;
  bool writer_ = false;
};

// -d lays its output out before decoding: each entry at the size it decodes
// to when all goes well, so that workers write their entries in place. An
// entry of another size (kept unchanged, or LZ4 data of another length)
// moves the ones after it: a new layout begins, no worker writes at a place
// of an older one any more, and the calling thread writes again every entry
// written at an older one, and the one of the other size, after the last
// write at an older place (under `mu`). Bytes left past the end by an old
// layout are cut off at the end.
struct DecodeLayout {
  std::vector<uint64_t> planned;  // each entry's offset, then the end
  int64_t shift = 0;              // the current layout's places: planned + shift
  uint64_t current = 0;           // the current layout; changed under mu, exclusive
  LayoutLock mu;
};

// The bytes entry i decodes to when all goes well: a tiled block's header
// tells; whole-entry LZ4 data fills the rectangle at its raw code's pixel
// size, within the room its decoder gives it; anything else is kept.
uint64_t planned_size(PackFile& pf, size_t i, PackMode mode) {
  const PackEntry& e = pf.records.entries[i].entry;
  const EntryRect& r = pf.records.entries[i].rect;
  const uint64_t n = payload_len(e), area = uint64_t{r.width} * r.height;
  if (coded_as(mode, e.type) == CodedAs::Jpeg || pf.in.available(entry_payload_pos(e)) < n) return n;
  uint64_t size = area * static_cast<uint64_t>(type_bytes_per_pixel(raw_type(e.type)));
  uint64_t room = whole_decode_capacity(r, n);
  if (mode.tiled) {
    uint8_t head[TILE_HEADER_SIZE];
    if (n < TILE_HEADER_SIZE || pf.in.read_at(entry_payload_pos(e), head) != TILE_HEADER_SIZE) return n;
    const TileImage t = read_tile_image(head);
    if (t.width != r.width || t.height != r.height) return n;
    size = area * t.bytes_per_pixel;
    room = PACK_MAX_PAYLOAD;
  }
  return size != 0 && size <= room ? size : n;
}

// The places of the entries, or false when one would end past the offset
// limit, which is then explained as the writing would explain it.
bool lay_out(PackFile& pf, PackMode mode, DecodeLayout& layout) {
  const std::vector<EntryRecord>& entries = pf.records.entries;
  layout.planned.assign(1, PACK_HEADER_SIZE + uint64_t{PACK_ENTRY_SIZE} * entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint64_t size = planned_size(pf, i, mode);
    const uint64_t end = layout.planned.back() + ENTRY_RECT_SIZE + size + pack_padding(size);
    if (size > PACK_MAX_PAYLOAD || end > uint64_t{PACK_MAX_FILE_SIZE}) {
      const size_t bytes = static_cast<size_t>(size);
      std::printf("%s: %zu bytes do not fit in a pack\r\n", entry_name_text(entries[i].entry).text, bytes);
      explain("%s: %zu bytes do not fit in a pack; the output was not written", entry_name_text(entries[i].entry).text,
              bytes);
      return false;
    }
    layout.planned.push_back(end);
  }
  return true;
}

// What frames `size` bytes of an entry at pos: its EntryRect before them and
// the padding after them. 0 or the errno.
int write_frame(const OutputFile& out, uint64_t pos, const EntryRect& rect, uint64_t size) {
  static const uint8_t zeros[4] = {};
  uint8_t rect_bytes[ENTRY_RECT_SIZE];
  write_entry_rect(rect, rect_bytes);
  const int err = out.write_shared(pos, rect_bytes);
  return err != 0 ? err : out.write_shared(pos + ENTRY_RECT_SIZE + size, {zeros, pack_padding(size)});
}

// The EntryRect, the bytes and the padding at pos: 0 or the errno.
int write_entry(const OutputFile& out, uint64_t pos, const EntryRect& rect, std::span<const uint8_t> data) {
  const int err = out.write_shared(pos + ENTRY_RECT_SIZE, data);
  return err != 0 ? err : write_frame(out, pos, rect, data.size());
}

// On a worker: the entry at its place, unless a newer layout has begun.
void write_in_place(const OutputFile& out, DecodeLayout& layout, EntryWork& w) {
  std::shared_lock<LayoutLock> lock(layout.mu);
  if (w.layout != layout.current) return;
  w.write_error = write_entry(out, w.place, w.rect, w.result.data);
  w.written = true;
}

// On a worker, an entry of -d in the current layout: decoded in the
// thread's own buffer (a band at a time when tiled) straight to its place,
// the layout held for the whole entry. False when it is to be decoded into
// a buffer of its own (it does not decode to the planned pixel array);
// bands written then are written over by what it becomes, and none passes
// the entry's planned room.
bool stream_in_place(const OutputFile& out, DecodeLayout& layout, EntryWork& w, size_t i, PackMode mode,
                     EntryMemory& memory) {
  std::shared_lock<LayoutLock> lock(layout.mu);
  if (w.layout != layout.current) return false;
  // After a failed write the bands are still decoded: whether the entry
  // decodes decides its lines, as on any other path.
  int err = 0;
  const uint64_t room = layout.planned[i + 1] - layout.planned[i] - ENTRY_RECT_SIZE;
  const BandSink band = [&](uint64_t offset, std::span<const uint8_t> bytes) {
    if (err == 0 && offset + bytes.size() <= room) err = out.write_shared(w.place + ENTRY_RECT_SIZE + offset, bytes);
  };
  const BandsOut got = decompress_bands(w.entry, w.rect, w.data, mode, memory, band);
  if (got.size == 0 || room != got.size + pack_padding(got.size)) return false;
  if (err == 0) err = write_frame(out, w.place, w.rect, got.size);
  w.result.type = got.type;
  w.result.from_size = payload_len(w.entry);
  w.streamed = got.size;
  w.write_error = err;
  w.written = true;
  return true;
}

// On the calling thread, entry i in table order at `at`: written again when
// it was not written in place in the current layout or its size was not the
// planned one (a new layout then begins after it). 0 or the errno.
int settle_entry(const OutputFile& out, DecodeLayout& layout, EntryWork& w, size_t i, uint64_t at, PackMode mode) {
  const uint64_t size = w.out_size();
  const uint64_t end = at + ENTRY_RECT_SIZE + size + pack_padding(size);
  const bool in_place = w.written && w.layout == layout.current && w.place == at;
  if (end != layout.planned[i + 1] + static_cast<uint64_t>(layout.shift)) {
    std::unique_lock<LayoutLock> lock(layout.mu);
    ++layout.current;
    layout.shift = static_cast<int64_t>(end - layout.planned[i + 1]);
  } else if (in_place) {
    return w.write_error;
  }
  // Pixels that went out in an older layout: decoded again, whole.
  if (w.streamed != 0) {
    w.result = decompress_entry(w.entry, w.rect, w.data, mode);
    w.streamed = 0;
  }
  return write_entry(out, at, w.rect, w.result.data);
}

std::vector<uint8_t> table_bytes(const std::vector<EntryRecord>& entries) {
  std::vector<uint8_t> table(entries.size() * PACK_ENTRY_SIZE);
  for (size_t i = 0; i < entries.size(); ++i) write_pack_entry(entries[i].entry, table.data() + i * PACK_ENTRY_SIZE);
  return table;
}

void report_write_failure(int err, const char* out_path) {
  std::printf("write %s failed: %s\n", printable_text(out_path).c_str(), std::strerror(err));
  explain("%s: %s; the output was not written", out_path, std::strerror(err));
}

// False on a failure it has reported. Pixels cut by the end of the input
// are not dumped.
bool dump_pic16(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data) {
  const uint64_t n = payload_len(e);
  if (data.size() < TILE_HINT_SIZE + n) return true;
  std::printf("entry->name %s rect->width %d , rect->height %d \r\n", entry_name_text(e).text, rect.width,
              rect.height);
  // A fixed name in a folder others may write to: a new file renamed over
  // it, so a link planted there is replaced and its target never written.
  OutputFile f;
  if (!f.open(kDumpPath, OutputLinks::Replace)) {
    std::printf("open %s failed\n", kDumpPath);
    explain("%s: %s", kDumpPath, std::strerror(f.error()));
    return false;
  }
  f.write(data.subspan(TILE_HINT_SIZE, n));
  if (!f.commit()) {
    std::printf("write %s failed\n", kDumpPath);
    explain("%s: %s", kDumpPath, std::strerror(f.error()));
    return false;
  }
  return true;
}

// -c's steps. Compression in tiled mode writes the pixels of the raw entry
// named "PIC16", as read, beside the output, for checking a source pack by
// eye; a JPEG entry of a whole-entry pack names its size.
uint64_t compress_read(const EntryWork& w, PackMode m) { return compress_read_size(w.entry, m, w.stored_len); }
uint64_t compress_bytes(const EntryWork& w, PackMode m, uint64_t read_size) {
  return compress_work_bytes(w.entry, w.rect, m, read_size);
}
EntryResult compress(const EntryWork& w, PackMode m, EntryMemory& memory) {
  return compress_entry(w.entry, w.rect, w.data, m, &memory, w.stored_len);
}
bool compress_lines(const EntryWork& w, PackMode m) {
  const PackEntry& e = w.entry;
  const EntryResult& r = w.result;
  bool ok = true;
  if (m.tiled && coded_as(m, e.type) == CodedAs::Pixels && entry_name(e) == "PIC16")
    ok = dump_pic16(e, w.rect, w.data);
  if (r.action == EntryAction::Jpeg && !m.tiled && r.from_size >= 8 &&
      std::equal(r.data.begin(), r.data.begin() + 4, "JPEG"))
    std::printf("entry->name %s len %x  w %d h %d \r\n", entry_name_text(e).text, static_cast<unsigned>(r.from_size),
                load_le16(r.data.data() + 4), load_le16(r.data.data() + 6));
  return ok;
}

// -d's steps. An odd offset is named; a JPEG entry shows its head.
uint64_t decompress_read(const EntryWork& w, PackMode) { return decompress_read_size(w.entry); }
uint64_t decompress_bytes(const EntryWork& w, PackMode m, uint64_t) {
  return decompress_work_bytes(w.entry, w.rect, m);
}
EntryResult decompress(const EntryWork& w, PackMode m, EntryMemory& memory) {
  return decompress_entry(w.entry, w.rect, w.data, m, &memory);
}
bool decompress_lines(const EntryWork& w, PackMode) {
  if (w.entry.offset & 1) std::printf("%s: odd offset %u\r\n", entry_name_text(w.entry).text, w.entry.offset);
  if (w.result.action == EntryAction::Jpeg && w.result.from_size >= 8)
    std::printf("jpeg_head: %x \n", load_le32(w.result.data.data() + 4));
  return true;
}

// What -c and -d differ in; the rest is one run.
struct ConvertSteps {
  const char* name;        // the progress line's and the last line's
  bool recompute_len;      // the input's lens recomputed from the rects
  const char* side_file;   // a file the run writes besides the output
  uint64_t least_budget;
  uint64_t (*read_size)(const EntryWork&, PackMode);  // before the end of the input
  uint64_t (*work_bytes)(const EntryWork&, PackMode, uint64_t read_size);
  EntryResult (*convert)(const EntryWork&, PackMode, EntryMemory&);
  // Its own lines before the common ones; false: a failure it reported.
  bool (*lines)(const EntryWork&, PackMode);
  // Whether a failed run of a pack holding no compressed data says so.
  bool says_not_compressed;
  // Entries laid out before converting and written in place by the workers
  // (the output size of each known from the table), or appended in order.
  bool in_place;
};

constexpr ConvertSteps kCompress{"compress",     true,          kDumpPath,      PIPELINE_MIN_BUDGET,
                                 compress_read,  compress_bytes, compress,      compress_lines, false, false};
constexpr ConvertSteps kDecompress{"decompress",    false,            nullptr,       DECODE_MIN_BUDGET,
                                   decompress_read, decompress_bytes, decompress, decompress_lines, true, true};

// The lines every entry gets: what became of it and its sizes.
void print_entry_lines(const PackEntry& e, const EntryResult& r, uint64_t size) {
  const EntryNameText text = entry_name_text(e);
  const char* name = text.text;
  if (r.action == EntryAction::Kept) {
    std::printf("%s: %s; entry kept unchanged\r\n", name, printable_text(r.status.message).c_str());
    return;
  }
  if (r.action == EntryAction::Copied && r.status.ok()) {
    std::printf("%s: already compressed (type %d); copied as stored\r\n", name, e.type);
  } else if (r.action == EntryAction::Copied) {
    std::printf("%s: %s; copied as stored\r\n", name, printable_text(r.status.message).c_str());
  }
  std::printf("%s %d -> %d (%d%%)\r\n", name, static_cast<int>(r.from_size), static_cast<int>(size),
              pack_percent(static_cast<uint32_t>(size), static_cast<uint32_t>(r.from_size)));
}

// One run of -c or -d: header and table out, the entries through the
// ordered pipeline, the table rewritten, the output put in place.
struct Converter {
  Converter(const ConvertSteps& s, const char* in, const char* out) : steps(s), in_path(in), out_path(out) {}

  const ConvertSteps& steps;
  const char* in_path;
  const char* out_path;
  PackFile pf;
  OutputFile out;
  PackMode mode;
  DecodeLayout layout;  // in_place: where the entries go
  uint64_t at = 0;      // where the next entry goes
  int status = 0;
  // For the explanation of a failed run.
  size_t images = 0;            // entries other than JPEG
  size_t images_converted = 0;  // ... that were not kept
  size_t compressed_codes = 0;  // ... whose code is a compressed one
  size_t kept = 0;

  int failed() const {
    print_file_size(pf.records.size, 0);
    return 1;
  }

  EntryWork loaded(size_t i) const {
    EntryWork w;
    const EntryRecord& r = pf.records.entries[i];
    w.entry = r.entry;
    w.stored_len = r.stored_len;
    w.rect = r.rect;
    return w;
  }

  // What the input holds of the bytes a conversion asks for.
  uint64_t read_size(const EntryWork& w) const {
    return std::min(steps.read_size(w, mode), pf.in.available(entry_payload_pos(w.entry)));
  }

  void count(const PackEntry& e, const EntryResult& r) {
    if (!r.status.ok()) {
      status = 1;
      ++kept;
    }
    const CodedAs coded = coded_as(mode, e.type);
    if (coded == CodedAs::Jpeg) return;
    ++images;
    if (r.status.ok()) ++images_converted;
    if (coded == CodedAs::Compressed) ++compressed_codes;
  }

  // Entry i's lines and bytes, in table order. False: the run ends.
  bool finish(size_t i, EntryWork& w, Progress& progress) {
    progress.before_output();
    if (w.read_failed) {
      std::printf("read %s failed\n", printable_text(in_path).c_str());
      explain("%s: %s; the output was not written", in_path, std::strerror(EIO));
      return false;
    }
    const EntryResult& r = w.result;
    if (!steps.lines(w, mode)) status = 1;
    const uint64_t size = w.out_size();
    print_entry_lines(w.entry, r, size);
    // A pipe sees progress entry by entry.
    std::fflush(stdout);
    count(w.entry, r);
    const uint64_t end = at + ENTRY_RECT_SIZE + size + pack_padding(size);
    if (size > PACK_MAX_PAYLOAD || end > uint64_t{PACK_MAX_FILE_SIZE}) {
      const EntryNameText name = entry_name_text(w.entry);
      std::printf("%s: %zu bytes do not fit in a pack\r\n", name.text, static_cast<size_t>(size));
      explain("%s: %zu bytes do not fit in a pack; the output was not written", name.text, static_cast<size_t>(size));
      return false;
    }
    PackEntry& e = pf.records.entries[i].entry;
    e.offset = static_cast<uint32_t>(at);
    e.len = static_cast<uint32_t>(size + ENTRY_RECT_SIZE);
    e.type = r.type;
    int err = 0;
    if (steps.in_place) {
      err = settle_entry(out, layout, w, i, at, mode);
    } else {
      uint8_t rect_bytes[ENTRY_RECT_SIZE];
      write_entry_rect(w.rect, rect_bytes);
      out.write(rect_bytes);
      out.write(r.data);
      out.write_zeros(pack_padding(r.data.size()));
      err = out.failed() ? out.error() : 0;
    }
    at = end;
    if (err == 0) return true;
    report_write_failure(err, out_path);
    return false;
  }

  // Entries read here in table order, converted on the pipeline's threads
  // and written in table order. A failed read ends the reading.
  bool run() {
    OrderedSteps<EntryWork> s;
    s.bytes = [&](size_t i) {
      const EntryWork w = loaded(i);
      return steps.work_bytes(w, mode, read_size(w));
    };
    s.read = [&](size_t i, EntryWork& w, EntryMemory& memory) {
      w = loaded(i);
      const uint64_t size = read_size(w);
      w.data = memory.pool->take(size);
      w.read_failed = !pf.in.read_range(entry_payload_pos(w.entry), size, w.data);
      if (steps.in_place) {
        w.place = layout.planned[i] + static_cast<uint64_t>(layout.shift);
        w.layout = layout.current;
      }
      return !w.read_failed;
    };
    s.work = [&](size_t i, EntryWork& w, EntryMemory& memory) {
      // -d's entries go out without a buffer of their own.
      if (steps.in_place && stream_in_place(out, layout, w, i, mode, memory)) return;
      w.result = steps.convert(w, mode, memory);
      if (steps.in_place) write_in_place(out, layout, w);
    };
    s.finish = [&](size_t i, EntryWork& w, Progress& progress) { return finish(i, w, progress); };
    s.done_bytes = [](size_t, const EntryWork& w) { return w.result.from_size; };
    s.recycle = [](EntryWork& w, BufferPool& pool) {
      pool.give(std::move(w.data));
      pool.give(std::move(w.result.data));
    };
    const uint64_t total = static_cast<uint64_t>(pf.records.size);
    return run_in_order(pf.records.entries.size(), std::move(s),
                        {.progress_name = steps.name, .progress_total = total, .least_budget = steps.least_budget});
  }

  // The last lines, the table and the output put in place.
  int close() {
    const int64_t in_size = pf.records.size;
    if (steps.in_place) out.set_end(at);
    const int64_t out_size = static_cast<int64_t>(at);
    std::printf("%s: %d -> %d (%d%%)\r\n", steps.name, static_cast<int>(in_size), static_cast<int>(out_size),
                pack_percent(static_cast<uint32_t>(out_size), static_cast<uint32_t>(in_size)));
    out.write_at(PACK_HEADER_SIZE, table_bytes(pf.records.entries));
    if (!out.commit()) {
      report_write_failure(out.error(), out_path);
      return failed();
    }
    print_file_size(in_size, out_size);
    // Standard output names each kept entry and why; standard error sums up.
    if (steps.says_not_compressed && images > 0 && images_converted == 0 && compressed_codes == 0) {
      explain("%s: not compressed: none of its entries holds compressed data (morvane -c compresses it)", in_path);
    } else if (kept > 0) {
      explain("%zu of %zu entries could not be converted and were kept unchanged (named on standard output)", kept,
              pf.records.entries.size());
    }
    return status;
  }
};

int convert_pack(const ConvertSteps& steps, const char* in_path, const char* out_path) {
  Converter c(steps, in_path, out_path);
  if (Status s = open_pack(c.pf, in_path, {.recompute_len = steps.recompute_len}); !s.ok()) {
    report_load_failure(s, in_path, c.pf);
    return c.failed();
  }
  // Only now, with the input loaded: a bad input never creates or empties
  // the output.
  if (!open_output(c.out, out_path, steps.side_file)) return c.failed();
  c.mode = pack_mode(c.pf.records.header);
  // Nothing is decoded for a pack whose output could not be written.
  if (steps.in_place && !lay_out(c.pf, c.mode, c.layout)) return c.failed();
  c.out.write(c.pf.records.header.bytes);
  c.out.write(table_bytes(c.pf.records.entries));
  // Workers write through no stream: what it holds goes out first.
  if (steps.in_place) c.out.flush();
  c.at = c.out.position();
  if (!c.run()) return c.failed();
  return c.close();
}

}  // namespace

int compress_pack(const char* in_path, const char* out_path) { return convert_pack(kCompress, in_path, out_path); }

int decompress_pack(const char* in_path, const char* out_path) { return convert_pack(kDecompress, in_path, out_path); }

// SPDX-License-Identifier: MIT
// morvane -c and -d: header and table out, each entry read, converted
// (side by side), printed and appended in table order, the table rewritten,
// the output put in place.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/report.h"
#include "core/convert.h"
#include "core/pipeline.h"
#include "core/progress.h"

namespace {

constexpr const char* kDumpPath = "PIC16_orgin.rgb32";

enum class Command { Compress, Decompress };

// One entry from its read to its write.
struct EntryWork {
  PackEntry entry;            // as loaded
  uint32_t stored_len = 0;    // the len the input's record holds
  EntryRect rect;
  std::vector<uint8_t> data;  // the bytes read
  bool keep_data = false;     // for the dump
  bool read_failed = false;   // not converted; ends the reading
  EntryResult result;
};

std::vector<uint8_t> table_bytes(const std::vector<PackEntry>& entries) {
  std::vector<uint8_t> table(entries.size() * PACK_ENTRY_SIZE);
  for (size_t i = 0; i < entries.size(); ++i) write_pack_entry(entries[i], table.data() + i * PACK_ENTRY_SIZE);
  return table;
}

void report_write_failure(const OutputFile& out, const char* out_path) {
  std::printf("write %s failed: %s\n", printable_text(out_path).c_str(), std::strerror(out.error()));
  explain("%s: %s; the output was not written", out_path, std::strerror(out.error()));
}

// Compression in tiled mode writes the pixels of the raw entry named
// "PIC16", as read, beside the output, for checking a source pack by eye.
bool wants_dump(Command cmd, bool tiled, const PackEntry& e) {
  return cmd == Command::Compress && tiled && e.type != TYPE_JPEG && !is_compressed_type(e.type) &&
         entry_name(e) == "PIC16";
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

// The entry's lines: what became of it and its sizes.
void print_entry_lines(Command cmd, bool tiled, const PackEntry& e, const EntryResult& r) {
  const EntryNameText text = entry_name_text(e);
  const char* name = text.text;
  switch (r.action) {
    case EntryAction::Kept:
      std::printf("%s: %s; entry kept unchanged\r\n", name, printable_text(r.status.message).c_str());
      return;
    case EntryAction::Copied:
      if (r.status.ok()) {
        std::printf("%s: already compressed (type %d); copied as stored\r\n", name, e.type);
      } else {
        std::printf("%s: %s; copied as stored\r\n", name, printable_text(r.status.message).c_str());
      }
      break;
    case EntryAction::Jpeg:
      if (cmd == Command::Decompress && r.from_size >= 8) {
        std::printf("jpeg_head: %x \n", load_le32(r.data.data() + 4));
      } else if (cmd == Command::Compress && !tiled && r.from_size >= 8 &&
                 std::equal(r.data.begin(), r.data.begin() + 4, "JPEG")) {
        std::printf("entry->name %s len %x  w %d h %d \r\n", name, static_cast<unsigned>(r.from_size),
                    load_le16(r.data.data() + 4), load_le16(r.data.data() + 6));
      }
      break;
    case EntryAction::Converted:
      break;
  }
  std::printf("%s %d -> %d (%d%%)\r\n", name, static_cast<int>(r.from_size), static_cast<int>(r.data.size()),
              pack_percent(static_cast<uint32_t>(r.data.size()), static_cast<uint32_t>(r.from_size)));
}

int convert_pack(Command cmd, const char* in_path, const char* out_path) {
  PackFile pf;
  PackRecords& pack = pf.records;
  if (Status s = open_pack(pf, in_path, {.recompute_len = cmd == Command::Compress}); !s.ok()) {
    report_load_failure(s, in_path, pf);
    print_file_size(pack.size, 0);
    return 1;
  }
  // Only now, with the input loaded: a bad input never creates or empties
  // the output.
  OutputFile out;
  if (!open_output(out, out_path, cmd == Command::Compress ? kDumpPath : nullptr)) {
    print_file_size(pack.size, 0);
    return 1;
  }
  const bool tiled = pack_is_tiled(pack.header);
  const uint8_t codec_kind = pack_codec_kind(pack.header);
  out.write(pack.header.bytes);
  out.write(table_bytes(pack.entries));

  // Entries are read here in table order, converted on the pipeline's
  // threads and written below in table order.
  const size_t count = pack.entries.size();
  const int threads = count > 0 ? convert_thread_count() : 1;
  // What the input holds of the bytes a conversion asks for.
  auto read_size = [&](size_t i) {
    const PackEntry& e = pack.entries[i];
    return std::min(cmd == Command::Compress ? compress_read_size(e, tiled, pack.stored_lens[i])
                                             : decompress_read_size(e),
                    pf.in.available(entry_payload_pos(e)));
  };
  auto work_bytes = [&](size_t i) {
    return cmd == Command::Compress
               ? compress_work_bytes(pack.entries[i], pack.rects[i], tiled, codec_kind, read_size(i))
               : decompress_work_bytes(pack.entries[i], pack.rects[i], tiled);
  };
  uint64_t largest = 0;
  for (size_t i = 0; i < count; ++i) largest = std::max(largest, work_bytes(i));
  std::vector<EntryWork> slots;
  PipelineSteps steps;
  steps.bytes = work_bytes;
  // A failed read ends the reading.
  steps.start = [&](size_t i, EntryMemory& memory) {
    EntryWork& w = slots[i % slots.size()];
    w.entry = pack.entries[i];
    w.stored_len = pack.stored_lens[i];
    w.rect = pack.rects[i];
    w.keep_data = wants_dump(cmd, tiled, w.entry);
    const uint64_t size = read_size(i);
    w.data = memory.pool->take(size);
    w.read_failed = !pf.in.read_range(entry_payload_pos(w.entry), size, w.data);
    return !w.read_failed;
  };
  steps.work = [&](size_t i, EntryMemory& memory) {
    EntryWork& w = slots[i % slots.size()];
    w.result = cmd == Command::Compress
                   ? compress_entry(w.entry, w.rect, w.data, tiled, codec_kind, &memory, w.stored_len)
                   : decompress_entry(w.entry, w.rect, w.data, tiled, &memory);
  };
  Pipeline pipeline(count, threads,
                    pipeline_budget(largest, cmd == Command::Compress ? PIPELINE_MIN_BUDGET : DECODE_MIN_BUDGET),
                    std::move(steps));
  slots.resize(pipeline.slots());

  int status = 0;
  // For the explanation of a failed run.
  size_t images = 0;            // entries other than JPEG
  size_t images_converted = 0;  // ... that were not kept
  size_t compressed_codes = 0;  // ... whose code is a compressed one
  size_t kept = 0;
  Progress progress(cmd == Command::Compress ? "compress" : "decompress", count, static_cast<uint64_t>(pack.size));
  for (size_t i = 0; i < count; ++i) {
    pipeline.wait(i);
    EntryWork& w = slots[i % slots.size()];
    progress.before_output();
    if (w.read_failed) {
      std::printf("read %s failed\n", printable_text(in_path).c_str());
      explain("%s: %s; the output was not written", in_path, std::strerror(EIO));
      print_file_size(pack.size, 0);
      return 1;
    }
    const PackEntry& loaded = w.entry;
    const EntryResult& r = w.result;
    if (cmd == Command::Decompress && (loaded.offset & 1))
      std::printf("%s: odd offset %u\r\n", entry_name_text(loaded).text, loaded.offset);
    if (w.keep_data && !dump_pic16(loaded, w.rect, w.data)) status = 1;
    print_entry_lines(cmd, tiled, loaded, r);
    // A pipe sees progress entry by entry.
    std::fflush(stdout);
    if (!r.status.ok()) {
      status = 1;
      ++kept;
    }
    if (loaded.type != TYPE_JPEG) {
      ++images;
      if (r.status.ok()) ++images_converted;
      if (is_compressed_type(loaded.type)) ++compressed_codes;
    }
    const uint64_t end = out.position() + ENTRY_RECT_SIZE + r.data.size() + pack_padding(r.data.size());
    if (r.data.size() > PACK_MAX_PAYLOAD || end > uint64_t{PACK_MAX_FILE_SIZE}) {
      std::printf("%s: %zu bytes do not fit in a pack\r\n", entry_name_text(loaded).text, r.data.size());
      explain("%s: %zu bytes do not fit in a pack; the output was not written", entry_name_text(loaded).text,
              r.data.size());
      print_file_size(pack.size, 0);
      return 1;
    }
    PackEntry& e = pack.entries[i];
    e.offset = static_cast<uint32_t>(out.position());
    e.len = static_cast<uint32_t>(r.data.size() + ENTRY_RECT_SIZE);
    e.type = r.type;
    uint8_t rect_bytes[ENTRY_RECT_SIZE];
    write_entry_rect(w.rect, rect_bytes);
    out.write(rect_bytes);
    out.write(r.data);
    out.write_zeros(pack_padding(r.data.size()));
    if (out.failed()) {
      report_write_failure(out, out_path);
      print_file_size(pack.size, 0);
      return 1;
    }
    pipeline.release(i);
    pipeline.pool().give(std::move(w.data));
    pipeline.pool().give(std::move(w.result.data));
    progress.entry_done(r.from_size);
  }
  progress.finish();

  const int64_t out_size = static_cast<int64_t>(out.position());
  std::printf("%s: %d -> %d (%d%%)\r\n", cmd == Command::Compress ? "compress" : "decompress",
              static_cast<int>(pack.size), static_cast<int>(out_size),
              pack_percent(static_cast<uint32_t>(out_size), static_cast<uint32_t>(pack.size)));
  out.write_at(PACK_HEADER_SIZE, table_bytes(pack.entries));
  if (!out.commit()) {
    report_write_failure(out, out_path);
    print_file_size(pack.size, 0);
    return 1;
  }
  print_file_size(pack.size, out_size);
  // Standard output names each kept entry and why; standard error sums up.
  if (cmd == Command::Decompress && images > 0 && images_converted == 0 && compressed_codes == 0) {
    explain("%s: not compressed: none of its entries holds compressed data (morvane -c compresses it)", in_path);
  } else if (kept > 0) {
    explain("%zu of %zu entries could not be converted and were kept unchanged (named on standard output)", kept,
            count);
  }
  return status;
}

}  // namespace

int compress_pack(const char* in_path, const char* out_path) {
  return convert_pack(Command::Compress, in_path, out_path);
}

int decompress_pack(const char* in_path, const char* out_path) {
  return convert_pack(Command::Decompress, in_path, out_path);
}

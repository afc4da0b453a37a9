// SPDX-License-Identifier: MIT
#include "tool/tool_verify.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/convert.h"
#include "core/entry_pixels.h"
#include "core/pipeline.h"
#include "core/progress.h"
#include "tool/tool_commands.h"
#include "tool/tool_text.h"

namespace {

// Entries read in table order, decoded and compared side by side, summed
// up and reported in table order.
struct VerifyWork {
  std::vector<uint8_t> data, expected;  // the entry's and its source's
  bool read_failed = false;
  bool decoded = false;
  uint64_t decoded_size = 0;
  std::vector<std::string> problems, compared;  // before and after the sizes
};

struct Verifier {
  PackFile pack;
  PackFile source;
  bool has_source = false;
  PackMode mode, source_mode;
  bool read_failed = false;  // reading either pack failed

  // The conversions copy the header, so a pack and its source share it;
  // but for TILED_FLAG and CODEC_KIND, which repack sets: the pixels are
  // compared whatever the modes. True (with its line) when they differ.
  bool header_differs(std::FILE* err) const {
    const auto& a = pack.records.header.bytes;
    const auto& b = source.records.header.bytes;
    for (size_t at = 0; at < a.size(); ++at) {
      if (a[at] == b[at] || at == TILED_FLAG || at == CODEC_KIND) continue;
      std::fprintf(err, "verify: header byte %zu is %u, %u in the source\n", at, a[at], b[at]);
      return true;
    }
    return false;
  }

  bool in_pack(size_t i) const { return i < pack.records.entries.size() && entry_problem(pack.records, i).empty(); }
  bool with_source(size_t i) const { return has_source && i < source.records.entries.size(); }

  // The bytes an entry holds: its own, and the source's payload and its
  // pixels, decoded.
  uint64_t bytes(size_t i) const {
    uint64_t n = 0;
    if (in_pack(i)) n += decompress_work_bytes(pack.records.entries[i].entry, pack.records.entries[i].rect, mode);
    if (with_source(i)) {
      const EntryRect& r = source.records.entries[i].rect;
      n += payload_len(source.records.entries[i].entry) + 4 + uint64_t{4} * r.width * r.height;
    }
    return n;
  }

  void read(size_t i, VerifyWork& w) {
    if (!in_pack(i)) return;
    const PackEntry& e = pack.records.entries[i].entry;
    w.data = tool_pack_read(pack, entry_payload_pos(e), decompress_read_size(e), w.read_failed);
    if (with_source(i) && entry_problem(source.records, i).empty())
      w.expected = source_payload(source.records.entries[i].entry, w.read_failed);
  }

  // Pixels against pixels, whatever the forms; an entry the source lacks
  // is only decoded. Without a source: decoded as -d would.
  void work(size_t i, VerifyWork& w, EntryMemory& memory) const {
    if (i >= pack.records.entries.size()) return;
    const PackEntry& e = pack.records.entries[i].entry;
    const EntryRect& rect = pack.records.entries[i].rect;
    if (const std::string& problem = entry_problem(pack.records, i); !problem.empty()) {
      w.problems.push_back(problem);
      return;
    }
    if (has_source) {
      EntryPixels px;
      if (with_source(i)) compare(i, e, rect, w.data, w.expected, memory, w.compared);
      else if (Status s = entry_pixels(mode, e, rect, w.data, px, &memory); !s.ok()) w.problems.push_back(s.message);
      return;
    }
    EntryResult r = decompress_entry(e, rect, w.data, mode, &memory);
    w.decoded = r.status.ok();
    w.decoded_size = r.data.size();
    if (!w.decoded) w.problems.push_back(r.status.message.empty() ? "does not decode" : r.status.message);
    memory.pool->give(std::move(r.data));
  }

  OrderedSteps<VerifyWork> steps() {
    OrderedSteps<VerifyWork> s;
    s.bytes = [this](size_t i) { return bytes(i); };
    s.read = [this](size_t i, VerifyWork& w, EntryMemory&) {
      read(i, w);
      return true;
    };
    s.work = [this](size_t i, VerifyWork& w, EntryMemory& memory) { work(i, w, memory); };
    return s;
  }

  // What is wrong with entry i, in table order: out_size is the size the
  // decompressed pack reaches with it.
  std::vector<std::string> faults(size_t i, VerifyWork& w, uint64_t& out_size) const {
    const std::vector<EntryRecord>& entries = pack.records.entries;
    const size_t in_source = source.records.entries.size();
    if (i >= entries.size()) return {"missing: the pack has " + std::to_string(entries.size()) + " entries"};
    std::vector<std::string> why = std::move(w.problems);
    if (w.decoded) {
      out_size += ENTRY_RECT_SIZE + w.decoded_size + pack_padding(w.decoded_size);
      if (w.decoded_size > PACK_MAX_PAYLOAD) {
        why.push_back("decodes to " + std::to_string(w.decoded_size) + " bytes, more than an entry holds");
      } else if (out_size > uint64_t{PACK_MAX_FILE_SIZE}) {
        why.push_back("the decompressed pack would reach 2 GiB here");
      }
    }
    why.insert(why.end(), w.compared.begin(), w.compared.end());
    if (has_source && i >= in_source) why.push_back("the source has only " + std::to_string(in_source) + " entries");
    return why;
  }

  // The source's entry as stored, and for a JPEG entry of a tiled source
  // the 4 bytes after it, which tiled compression copies with it.
  std::vector<uint8_t> source_payload(const PackEntry& se, bool& failed) {
    const uint64_t extra = se.type == TYPE_JPEG && source_mode.tiled ? 4 : 0;
    return tool_pack_read(source, entry_payload_pos(se), payload_len(se) + extra, failed);
  }

  // Entry i of the pack (`data`: its stored payload) against the source's
  // (`expected`: source_payload), each read in whatever form it holds.
  void compare(size_t i, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data,
               std::span<const uint8_t> expected, EntryMemory& memory, std::vector<std::string>& why) const {
    if (const std::string& problem = entry_problem(source.records, i); !problem.empty()) {
      why.push_back("source entry: " + problem);
      return;
    }
    const PackEntry& se = source.records.entries[i].entry;
    const EntryRect& srect = source.records.entries[i].rect;
    if (entry_name(e) != entry_name(se))
      why.push_back("the source's entry is named \"" + tool_display_name(entry_name(se)) + "\"");
    if ((e.type == TYPE_JPEG) != (se.type == TYPE_JPEG)) {
      why.push_back(e.type == TYPE_JPEG ? "JPEG data, the source's entry holds pixels: not compared"
                                        : "pixels, the source's entry is JPEG data: not compared");
      return;
    }
    if (rect.width != srect.width || rect.height != srect.height) {
      why.push_back(std::to_string(rect.width) + "x" + std::to_string(rect.height) + ", the source's " +
                    std::to_string(srect.width) + "x" + std::to_string(srect.height) + ": pixels not compared");
      return;
    }
    if (data.size() < payload_len(e) || expected.size() < payload_len(se)) {
      why.push_back(std::string(data.size() < payload_len(e) ? "" : "source entry: ") +
                    "its data runs past the end of the file");
      return;
    }
    if (e.type == TYPE_JPEG) return compare_jpeg(data, expected, payload_len(se), why);
    EntryPixels px, spx;
    if (Status s = entry_pixels(mode, e, rect, data, px, &memory); !s.ok()) {
      why.push_back(s.message);
      return;
    }
    if (Status s = entry_pixels(source_mode, se, srect, expected, spx, &memory); !s.ok()) {
      why.push_back("source entry: " + s.message);
      return;
    }
    compare_pixels(px, spx, rect.width, why);
  }

  // As stored, or (tiled compression's copy) followed by the 4 bytes after
  // the source's payload.
  static void compare_jpeg(std::span<const uint8_t> data, std::span<const uint8_t> expected, uint64_t stored,
                           std::vector<std::string>& why) {
    const uint64_t want = data.size() == stored + 4 && expected.size() == stored + 4 ? stored + 4 : stored;
    if (data.size() != want || expected.size() < want) {
      why.push_back("JPEG data of " + std::to_string(data.size()) + " bytes, the source holds " +
                    std::to_string(stored));
      return;
    }
    auto diff = std::mismatch(data.begin(), data.end(), expected.begin());
    if (diff.first != data.end())
      why.push_back("JPEG data differs from the source's at byte " + std::to_string(diff.first - data.begin()));
  }

  // Type 39 (a tiled block or its decoded pixels) has lost its raw type:
  // only its bytes per pixel are compared.
  static void compare_pixels(const EntryPixels& px, const EntryPixels& spx, size_t width,
                             std::vector<std::string>& why) {
    auto lost = [](const EntryPixels& p) {
      return p.form == EntryForm::TiledBlock || p.form == EntryForm::DecodedTiled;
    };
    if (px.bytes_per_pixel != spx.bytes_per_pixel) {
      why.push_back(std::to_string(px.bytes_per_pixel) + " bytes per pixel, the source's " +
                    std::to_string(spx.bytes_per_pixel) + ": pixels not compared");
      return;
    }
    if (!lost(px) && !lost(spx) && px.raw_type != spx.raw_type)
      why.push_back("type " + std::to_string(px.raw_type) + " as raw pixels, the source's " +
                    std::to_string(spx.raw_type));
    auto diff = std::mismatch(px.pixels.begin(), px.pixels.end(), spx.pixels.begin());
    if (diff.first == px.pixels.end()) return;
    const size_t at = static_cast<size_t>(diff.first - px.pixels.begin());
    const size_t p = at / static_cast<size_t>(px.bytes_per_pixel);
    why.push_back("pixels differ from the source's at byte " + std::to_string(at) + " (x " +
                  std::to_string(p % width) + ", y " + std::to_string(p / width) + ")");
  }
};

}  // namespace

int run_verify(const std::string& pack_path, const std::string& against, std::FILE* out, std::FILE* err) {
  Verifier v;
  if (Status s = tool_pack_load(v.pack, pack_path, false); !s.ok())
    return tool_load_failed(err, "verify", pack_path, s.message);
  v.has_source = !against.empty();
  // Lengths as stored: each entry is read in whatever form it holds.
  if (v.has_source) {
    if (Status s = tool_pack_load(v.source, against, false); !s.ok())
      return tool_load_failed(err, "verify", against, s.message);
  }
  v.mode = pack_mode(v.pack.records.header);
  v.source_mode = pack_mode(v.source.records.header);

  const std::vector<EntryRecord>& entries = v.pack.records.entries;
  const std::vector<EntryRecord>& source_entries = v.source.records.entries;
  const int status = v.has_source && v.header_differs(err) ? 1 : 0;
  const size_t count = std::max(entries.size(), v.has_source ? source_entries.size() : size_t{0});
  size_t failed = 0;
  uint64_t out_size = PACK_HEADER_SIZE + uint64_t{PACK_ENTRY_SIZE} * entries.size();
  OrderedSteps<VerifyWork> steps = v.steps();
  // The sizes the decompressed pack would reach, and the entry's line.
  steps.finish = [&](size_t i, VerifyWork& w, Progress& progress) {
    std::vector<std::string> why = v.faults(i, w, out_size);
    v.read_failed = w.read_failed;
    if (!why.empty()) {
      progress.clear();
      ++failed;
      std::string_view name = i < entries.size() ? entry_name(entries[i].entry) : entry_name(source_entries[i].entry);
      std::string line = tool_display_name(name) + " (entry " + std::to_string(i + 1) + "): " + why[0];
      for (size_t k = 1; k < why.size(); ++k) line += "; " + why[k];
      std::fprintf(err, "verify: %s\n", line.c_str());
    }
    return !v.read_failed;
  };
  steps.done_bytes = [&](size_t i, const VerifyWork&) { return i < entries.size() ? uint64_t{entries[i].entry.len} : 0; };
  // A failed read ends the run with the entry it failed on.
  run_in_order(count, std::move(steps),
               {.progress_name = "verify",
                .progress_total = static_cast<uint64_t>(v.pack.records.size),
                .least_budget = DECODE_MIN_BUDGET,
                // Compared pixels are freed, not pooled.
                .pool_work = !v.has_source});
  if (v.read_failed) {
    std::fprintf(err, "verify: reading failed\n");
    return 1;
  }
  std::fprintf(out, "verify: %zu entries, %zu failed%s\n", count, failed,
               status != 0 ? "; the header differs from the source's" : "");
  if (std::fflush(out) != 0) return 1;
  return failed != 0 ? 1 : status;
}

int tool_verify(const std::string& pack_path, const std::string& against) {
  return run_verify(pack_path, against, stdout, stderr);
}

// SPDX-License-Identifier: MIT
#include "tool/tool_verify.h"

#include <algorithm>
#include <vector>

#include "core/convert.h"
#include "core/pipeline.h"
#include "core/progress.h"
#include "tool/tool_commands.h"
#include "tool/tool_text.h"

namespace {

struct Verifier {
  PackFile pack;
  PackFile source;
  bool has_source = false;
  bool tiled = false;
  bool source_tiled = false;
  bool read_failed = false;  // reading either pack failed

  // What the source's entry gives the compress command to code: the bytes
  // it reads, less the TileHint of a tiled source's image.
  std::vector<uint8_t> source_payload(const PackEntry& se, bool& failed) {
    std::vector<uint8_t> data =
        tool_pack_read(source, entry_payload_pos(se), compress_read_size(se, source_tiled), failed);
    if (se.type != TYPE_JPEG && source_tiled)
      data.erase(data.begin(), data.begin() + static_cast<ptrdiff_t>(std::min<size_t>(data.size(), TILE_HINT_SIZE)));
    return data;
  }

  // `expected`: source_payload of the source's entry i.
  void compare(size_t i, const PackEntry& e, const EntryRect& rect, const EntryResult* r,
               const std::vector<uint8_t>& expected, std::vector<std::string>& why) const {
    if (!source.records.problems[i].empty()) {
      why.push_back("source entry: " + source.records.problems[i]);
      return;
    }
    const PackEntry& se = source.records.entries[i];
    const EntryRect& srect = source.records.rects[i];
    if (entry_name(e) != entry_name(se))
      why.push_back("the source's entry is named \"" + tool_display_name(entry_name(se)) + "\"");
    const uint8_t expected_type = se.type == TYPE_JPEG ? TYPE_JPEG : tiled ? TYPE_TILED : se.type;
    if (r != nullptr && r->type != expected_type)
      why.push_back("type " + std::to_string(r->type) + " once decoded, " + std::to_string(expected_type) +
                    " from the source");
    if (rect.width != srect.width || rect.height != srect.height)
      why.push_back(std::to_string(rect.width) + "x" + std::to_string(rect.height) + ", the source's " +
                    std::to_string(srect.width) + "x" + std::to_string(srect.height));
    if (r == nullptr) return;

    const uint64_t pixels = uint64_t(entry_bytes_per_pixel(se)) * srect.width * srect.height;
    if (se.type != TYPE_JPEG && expected.size() < pixels) {
      why.push_back("the source's pixels run past the end of its file");
      return;
    }
    if (r->data.size() != expected.size()) {
      why.push_back("decodes to " + std::to_string(r->data.size()) + " bytes, the source holds " +
                    std::to_string(expected.size()));
      return;
    }
    auto diff = std::mismatch(r->data.begin(), r->data.end(), expected.begin());
    if (diff.first != r->data.end()) {
      const size_t at = static_cast<size_t>(diff.first - r->data.begin());
      if (se.type == TYPE_JPEG) {
        why.push_back("JPEG data differs from the source's at byte " + std::to_string(at));
      } else {
        const size_t px = at / static_cast<size_t>(entry_bytes_per_pixel(se));
        const size_t w = srect.width;  // not 0: some byte differs
        why.push_back("pixels differ from the source's at byte " + std::to_string(at) + " (x " +
                      std::to_string(px % w) + ", y " + std::to_string(px / w) + ")");
      }
    }
  }
};

}  // namespace

int run_verify(const std::string& pack_path, const std::string& against, std::FILE* out, std::FILE* err) {
  Verifier v;
  if (Status s = tool_pack_load(v.pack, pack_path, false); !s.ok())
    return tool_load_failed(err, "verify", pack_path, s.message);
  v.has_source = !against.empty();
  // As the compress command loads it: image lengths from the rectangles.
  if (v.has_source) {
    if (Status s = tool_pack_load(v.source, against, true); !s.ok())
      return tool_load_failed(err, "verify", against, s.message);
  }
  v.tiled = pack_is_tiled(v.pack.records.header);
  v.source_tiled = pack_is_tiled(v.source.records.header);

  const std::vector<PackEntry>& entries = v.pack.records.entries;
  const std::vector<PackEntry>& source_entries = v.source.records.entries;
  int status = 0;
  if (v.has_source) {
    // The conversions copy the header, so a pack and its source share it.
    const auto& a = v.pack.records.header.bytes;
    const auto& b = v.source.records.header.bytes;
    auto diff = std::mismatch(a.begin(), a.end(), b.begin());
    if (diff.first != a.end()) {
      const size_t at = static_cast<size_t>(diff.first - a.begin());
      std::fprintf(err, "verify: header byte %zu is %u, %u in the source\n", at, a[at], b[at]);
      status = 1;
    }
  }

  const size_t count = std::max(entries.size(), v.has_source ? source_entries.size() : size_t{0});
  size_t failed = 0;
  uint64_t out_size = PACK_HEADER_SIZE + uint64_t{PACK_ENTRY_SIZE} * entries.size();
  // Entries read here in table order, decoded and compared side by side,
  // summed up and reported in table order.
  struct VerifyWork {
    std::vector<uint8_t> data, expected;  // the entry's and its source's
    bool read_failed = false;
    bool decoded = false;
    uint64_t decoded_size = 0;
    std::vector<std::string> problems, compared;  // before and after the sizes
  };
  std::vector<VerifyWork> slots;
  auto in_pack = [&](size_t i) { return i < entries.size() && v.pack.records.problems[i].empty(); };
  auto with_source = [&](size_t i) { return v.has_source && i < source_entries.size(); };
  PipelineSteps steps;
  steps.bytes = [&](size_t i) {
    uint64_t n = 0;
    if (in_pack(i)) n += decompress_work_bytes(entries[i], v.pack.records.rects[i], v.tiled);
    if (with_source(i)) n += compress_read_size(source_entries[i], v.source_tiled);
    return n;
  };
  steps.start = [&](size_t i, EntryMemory&) {
    VerifyWork& w = slots[i % slots.size()];
    w.read_failed = false;
    if (in_pack(i)) {
      w.data = tool_pack_read(v.pack, entry_payload_pos(entries[i]), decompress_read_size(entries[i]), w.read_failed);
      if (with_source(i) && v.source.records.problems[i].empty())
        w.expected = v.source_payload(source_entries[i], w.read_failed);
    }
    return true;
  };
  steps.work = [&](size_t i, EntryMemory& memory) {
    VerifyWork& w = slots[i % slots.size()];
    w.problems.clear();
    w.compared.clear();
    w.decoded = false;
    if (i >= entries.size()) return;
    const PackEntry& e = entries[i];
    const EntryRect& rect = v.pack.records.rects[i];
    if (!v.pack.records.problems[i].empty()) {
      w.problems.push_back(v.pack.records.problems[i]);
      return;
    }
    EntryResult r = decompress_entry(e, rect, w.data, v.tiled, &memory);
    w.decoded = r.status.ok();
    w.decoded_size = r.data.size();
    if (!w.decoded) w.problems.push_back(r.status.message.empty() ? "does not decode" : r.status.message);
    if (with_source(i)) v.compare(i, e, rect, w.decoded ? &r : nullptr, w.expected, w.compared);
    memory.pool->give(std::move(r.data));
  };
  uint64_t largest = 0;
  for (size_t i = 0; i < count; ++i) largest = std::max(largest, steps.bytes(i));
  Pipeline pipeline(count, convert_thread_count(), pipeline_budget(largest, DECODE_MIN_BUDGET), std::move(steps));
  slots.resize(pipeline.slots());
  Progress progress("verify", count, static_cast<uint64_t>(v.pack.records.size));
  // A failed read ends the run with the entry it failed on.
  for (size_t i = 0; i < count && !v.read_failed; ++i) {
    pipeline.wait(i);
    VerifyWork& w = slots[i % slots.size()];
    const uint64_t bytes = i < entries.size() ? entries[i].len : 0;
    std::vector<std::string> why;
    std::string_view name;
    if (i >= entries.size()) {
      name = entry_name(source_entries[i]);
      why.push_back("missing: the pack has " + std::to_string(entries.size()) + " entries");
    } else {
      name = entry_name(entries[i]);
      why = std::move(w.problems);
      if (w.decoded) {
        out_size += ENTRY_RECT_SIZE + w.decoded_size + pack_padding(w.decoded_size);
        if (w.decoded_size > PACK_MAX_PAYLOAD) {
          why.push_back("decodes to " + std::to_string(w.decoded_size) + " bytes, more than an entry holds");
        } else if (out_size > uint64_t{PACK_MAX_FILE_SIZE}) {
          why.push_back("the decompressed pack would reach 2 GiB here");
        }
      }
      why.insert(why.end(), w.compared.begin(), w.compared.end());
      if (v.has_source && i >= source_entries.size())
        why.push_back("the source has only " + std::to_string(source_entries.size()) + " entries");
    }
    v.read_failed = w.read_failed;
    pipeline.release(i);
    w.data = {};
    w.expected = {};
    if (why.empty()) {
      progress.entry_done(bytes);
      continue;
    }
    progress.clear();
    ++failed;
    std::string line = tool_display_name(name) + " (entry " + std::to_string(i + 1) + "): " + why[0];
    for (size_t k = 1; k < why.size(); ++k) line += "; " + why[k];
    std::fprintf(err, "verify: %s\n", line.c_str());
    progress.entry_done(bytes);
  }
  progress.finish();
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

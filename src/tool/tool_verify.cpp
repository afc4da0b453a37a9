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

struct Verifier {
  PackFile pack;
  PackFile source;
  bool has_source = false;
  bool tiled = false;
  bool source_tiled = false;
  bool read_failed = false;  // reading either pack failed

  // The source's entry as stored, and for a JPEG entry of a tiled source
  // the 4 bytes after it, which tiled compression copies with it.
  std::vector<uint8_t> source_payload(const PackEntry& se, bool& failed) {
    const uint64_t extra = se.type == TYPE_JPEG && source_tiled ? 4 : 0;
    return tool_pack_read(source, entry_payload_pos(se), payload_len(se) + extra, failed);
  }

  // Entry i of the pack (`data`: its stored payload) against the source's
  // (`expected`: source_payload), each read in whatever form it holds.
  void compare(size_t i, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data,
               std::span<const uint8_t> expected, EntryMemory& memory, std::vector<std::string>& why) const {
    if (!source.records.problems[i].empty()) {
      why.push_back("source entry: " + source.records.problems[i]);
      return;
    }
    const PackEntry& se = source.records.entries[i];
    const EntryRect& srect = source.records.rects[i];
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
    if (Status s = entry_pixels(tiled, e, rect, data, px, &memory); !s.ok()) {
      why.push_back(s.message);
      return;
    }
    if (Status s = entry_pixels(source_tiled, se, srect, expected, spx, &memory); !s.ok()) {
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
  v.tiled = pack_is_tiled(v.pack.records.header);
  v.source_tiled = pack_is_tiled(v.source.records.header);

  const std::vector<PackEntry>& entries = v.pack.records.entries;
  const std::vector<PackEntry>& source_entries = v.source.records.entries;
  int status = 0;
  if (v.has_source) {
    // The conversions copy the header, so a pack and its source share it;
    // but for TILED_FLAG and CODEC_KIND, which repack sets: the pixels are
    // compared whatever the modes.
    const auto& a = v.pack.records.header.bytes;
    const auto& b = v.source.records.header.bytes;
    for (size_t at = 0; at < a.size(); ++at) {
      if (a[at] == b[at] || at == TILED_FLAG || at == CODEC_KIND) continue;
      std::fprintf(err, "verify: header byte %zu is %u, %u in the source\n", at, a[at], b[at]);
      status = 1;
      break;
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
    // The source's payload and its pixels, decoded.
    if (with_source(i)) {
      const EntryRect& r = v.source.records.rects[i];
      n += payload_len(source_entries[i]) + 4 + uint64_t{4} * r.width * r.height;
    }
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
    if (v.has_source) {
      // Pixels against pixels, whatever the forms; an entry the source
      // lacks is only decoded. The pixels are freed, not pooled.
      BufferPool* pool = std::exchange(memory.pool, nullptr);
      EntryPixels px;
      if (with_source(i)) v.compare(i, e, rect, w.data, w.expected, memory, w.compared);
      else if (Status s = entry_pixels(v.tiled, e, rect, w.data, px, &memory); !s.ok()) w.problems.push_back(s.message);
      memory.pool = pool;
      return;
    }
    EntryResult r = decompress_entry(e, rect, w.data, v.tiled, &memory);
    w.decoded = r.status.ok();
    w.decoded_size = r.data.size();
    if (!w.decoded) w.problems.push_back(r.status.message.empty() ? "does not decode" : r.status.message);
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

#include "tool/tool_verify.h"

#include <algorithm>
#include <vector>

#include "core/convert.h"
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
  bool read_failed = false;

  // What the source's entry gives the compress command to code: the bytes
  // it reads, less the TileHint of a tiled source's image.
  std::vector<uint8_t> source_payload(const PackEntry& se) {
    std::vector<uint8_t> data =
        tool_pack_read(source, entry_payload_pos(se), compress_read_size(se, source_tiled), read_failed);
    if (se.type != TYPE_JPEG && source_tiled)
      data.erase(data.begin(), data.begin() + static_cast<ptrdiff_t>(std::min<size_t>(data.size(), TILE_HINT_SIZE)));
    return data;
  }

  void compare(size_t i, const PackEntry& e, const EntryRect& rect, const EntryResult* r,
               std::vector<std::string>& why) {
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

    std::vector<uint8_t> expected = source_payload(se);
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
  Progress progress("verify", count, static_cast<uint64_t>(v.pack.records.size));
  for (size_t i = 0; i < count && !v.read_failed; ++i) {
    const uint64_t bytes = i < entries.size() ? entries[i].len : 0;
    std::vector<std::string> why;
    std::string_view name;
    if (i >= entries.size()) {
      name = entry_name(source_entries[i]);
      why.push_back("missing: the pack has " + std::to_string(entries.size()) + " entries");
    } else {
      const PackEntry& e = entries[i];
      const EntryRect& rect = v.pack.records.rects[i];
      name = entry_name(e);
      if (!v.pack.records.problems[i].empty()) {
        why.push_back(v.pack.records.problems[i]);
      } else {
        std::vector<uint8_t> data =
            tool_pack_read(v.pack, entry_payload_pos(e), decompress_read_size(e), v.read_failed);
        EntryResult r = decompress_entry(e, rect, data, v.tiled);
        data = {};
        const bool decoded = r.status.ok();
        if (!decoded) {
          why.push_back(r.status.message.empty() ? "does not decode" : r.status.message);
        } else {
          out_size += ENTRY_RECT_SIZE + r.data.size() + pack_padding(r.data.size());
          if (r.data.size() > PACK_MAX_PAYLOAD) {
            why.push_back("decodes to " + std::to_string(r.data.size()) + " bytes, more than an entry holds");
          } else if (out_size > uint64_t{PACK_MAX_FILE_SIZE}) {
            why.push_back("the decompressed pack would reach 2 GiB here");
          }
        }
        if (v.has_source && i < source_entries.size()) v.compare(i, e, rect, decoded ? &r : nullptr, why);
      }
      if (v.has_source && i >= source_entries.size())
        why.push_back("the source has only " + std::to_string(source_entries.size()) + " entries");
    }
    if (why.empty()) {
      progress.entry_done(bytes);
      continue;
    }
    progress.clear();
    ++failed;
    std::string line = tool_display_name(name) + " (entry " + std::to_string(i + 1) + "): " + why[0];
    for (size_t k = 1; k < why.size(); ++k) line += "; " + why[k];
    std::fprintf(err, "%s\n", line.c_str());
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

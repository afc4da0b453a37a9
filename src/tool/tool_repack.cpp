// SPDX-License-Identifier: MIT
// morvane-tool repack IN OUT: the raw pack of IN, in the mode (and tile
// size) that `morvane -c` is to compress it in.
#include "tool/tool_repack.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/entry_pixels.h"
#include "core/pipeline.h"
#include "core/progress.h"
#include "io/files.h"
#include "tile/tile_image.h"
#include "tool/export_formats.h"
#include "tool/tool_commands.h"
#include "tool/tool_files.h"
#include "tool/tool_text.h"

namespace {

using morvane::detail::TILE_CODECS;
using morvane::detail::TileCodec;
// "whole": untiled; the tiled modes are the codec table's names.
constexpr const char* kWhole = "whole";

// One entry between its read and its write.
struct RepackWork {
  std::vector<uint8_t> payload;
  bool read_failed = false;
  const ManifestEntry* from = nullptr;  // its record in --types
  uint8_t type = 0;
  std::optional<TileHint> hint;         // what the source entry had
  bool assumed = false;                 // a type 39 given the default of its bytes per pixel
  std::vector<uint8_t> data;            // what follows the EntryRect and the hint
  std::string why;                      // the fault
};

// A raw type for --types that `morvane -c` codes as pixels.
bool names_raw_pixels(const ManifestEntry* from, int bytes_per_pixel) {
  return from != nullptr && is_raw_type(from->type) &&
         type_bytes_per_pixel(from->type) == bytes_per_pixel;
}

// The entry's pixels and the raw type they are stored under; a plain
// function of the entry, run on any thread.
void unpack_entry(PackMode mode, const PackEntry& e, const EntryRect& rect, RepackWork& w, EntryMemory* memory) {
  EntryPixels px;
  if (Status s = entry_pixels(mode, e, rect, w.payload, px, memory); !s.ok()) {
    w.why = s.message;
    return;
  }
  w.type = px.raw_type;
  if (px.form == EntryForm::Jpeg) {
    w.data = std::move(w.payload);
    return;
  }
  if (px.form == EntryForm::RawAfterHint || (px.form == EntryForm::TiledBlock && px.tile.hint_width != 0))
    w.hint = px.tile;
  // Type 39 has lost the type the pixels had, unless the block's PixelFormat
  // names one.
  const bool lost = px.form == EntryForm::DecodedTiled ||
                    (px.form == EntryForm::TiledBlock && pixel_format_for_type(px.raw_type) != px.pixel_format);
  if (lost && names_raw_pixels(w.from, px.bytes_per_pixel)) w.type = w.from->type;
  else w.assumed = lost;
  w.data = std::move(px.pixels);
}

}  // namespace

std::string repack_mode_names(bool with_whole, std::string_view last) {
  std::vector<std::string> names;
  if (with_whole) names.emplace_back(kWhole);
  for (const TileCodec& c : TILE_CODECS) names.emplace_back(c.name);
  return tool_word_list(names, last);
}

bool parse_repack_mode(std::string_view name, PackMode& mode) {
  if (name == kWhole) {
    mode = {};
    return true;
  }
  for (const TileCodec& c : TILE_CODECS) {
    if (name == c.name) {
      mode = {true, c.kind};
      return true;
    }
  }
  return false;
}

bool parse_tile_option(std::string_view text, TileHint& out) {
  uint32_t side[2] = {0, 0};
  size_t k = 0, digits = 0;
  for (char c : text) {
    if (c == ',' && k == 0 && digits > 0) {
      k = 1;
      digits = 0;
    } else if (c >= '0' && c <= '9' && side[k] <= 65535) {
      side[k] = side[k] * 10 + uint32_t(c - '0');
      ++digits;
    } else {
      return false;
    }
  }
  if (k != 1 || digits == 0 || side[0] < 1 || side[0] > 65535 || side[1] < 1 || side[1] > 65535) return false;
  out = {static_cast<uint16_t>(side[0]), static_cast<uint16_t>(side[1])};
  return true;
}

namespace {

// The type table's default raw types of 1 to 4 bytes per pixel: "30, 1, 32 or 11".
std::string default_raw_types() {
  std::vector<std::string> types;
  for (int bpp = 1; bpp <= 4; ++bpp) types.push_back(std::to_string(raw_type_for_pixels(0, bpp)));
  return tool_word_list(types, " or ");
}

std::string mode_name(PackMode mode) {
  if (!mode.tiled) return kWhole;
  if (const TileCodec* c = morvane::detail::tile_codec_of_kind(mode.codec_kind)) return c->name;
  return "tiled with CODEC_KIND " + std::to_string(mode.codec_kind);
}

// The run: the input, the output being written, and the table it gets.
struct Repacker {
  Repacker(const RepackOptions& options, std::FILE* err_file) : o(options), err(err_file) {}
  const RepackOptions& o;
  std::FILE* err;
  PackFile pf;
  Manifest types;
  PackMode mode;  // OUT's
  OutputFile file;
  std::vector<uint8_t> head;  // header and entry table
  uint64_t position = 0;
  size_t failed = 0, assumed = 0;

  // Loads IN and --types, settles the mode, opens OUT: 0 to go on, or the
  // exit status.
  int open() {
    if (Status s = tool_pack_load(pf, o.in, false); !s.ok()) return tool_load_failed(err, "repack", o.in, s.message);
    FileId in_id, out_id;
    if (file_id(fileno(pf.in.file), in_id) && file_id(o.out, out_id) && in_id == out_id) {
      std::fprintf(err, "repack: %s is the pack being repacked; refusing to overwrite it\n", tool_display_name(o.out).c_str());
      return 1;
    }
    if (Status s = o.types.empty() ? Status{} : read_manifest(o.types, types); !s.ok()) {
      std::fprintf(err, "repack: %s\n", s.message.c_str());
      return 1;
    }
    mode = pack_mode(pf.records.header);
    if (!o.mode.empty() && !parse_repack_mode(o.mode, mode)) {
      std::fprintf(err, "repack: --mode %s: not %s\n", tool_display_name(o.mode).c_str(),
                   repack_mode_names(true, " or ").c_str());
      return 2;
    }
    if (o.tile && !mode.tiled) {
      std::fprintf(err, "repack: --tile is for the tiled modes (%s); %s\n", repack_mode_names(false, ", ").c_str(),
                   o.mode.empty() ? "the input is whole-entry, give --mode" : "not whole");
      return 2;
    }
    if (!file.open(o.out.c_str())) {
      std::fprintf(err, "repack: cannot create %s: %s\n", tool_display_name(o.out).c_str(), std::strerror(file.error()));
      return 1;
    }
    const size_t count = pf.records.entries.size();
    head.assign(PACK_HEADER_SIZE + count * PACK_ENTRY_SIZE, 0);
    std::copy(pf.records.header.bytes.begin(), pf.records.header.bytes.end(), head.begin());
    head[TILED_FLAG] = mode.tiled ? 1 : 0;
    head[CODEC_KIND] = mode.codec_kind;
    file.write(head);
    position = head.size();
    return 0;
  }

  // Entry i, unpacked, into OUT and its table record; or its line.
  void write_entry(size_t i, RepackWork& w) {
    PackEntry e = pf.records.entries[i].entry;
    const bool with_hint = w.why.empty() && mode.tiled && coded_as(mode, e.type) != CodedAs::Jpeg;
    const uint64_t len = ENTRY_RECT_SIZE + (with_hint ? TILE_HINT_SIZE : 0) + w.data.size();
    if (w.why.empty() && len > PACK_MAX_LEN)
      w.why = std::to_string(len) + " bytes with its rectangle" + (with_hint ? " and TileHint" : "") +
              "; an entry's 24-bit len holds at most 16777215";
    else if (w.why.empty() && position + len + pack_padding(len) > uint64_t{PACK_MAX_FILE_SIZE})
      w.why = "the pack would pass 2 GiB (2147483647 bytes) with this entry";
    if (!w.why.empty()) {
      std::fprintf(err, "repack: %s (entry %zu): %s\n", tool_display_name(entry_name(e)).c_str(), i + 1,
                   w.why.c_str());
      ++failed;
      return;
    }
    assumed += w.assumed ? 1 : 0;
    e.offset = static_cast<uint32_t>(position);
    e.len = static_cast<uint32_t>(len);
    e.type = w.type;
    write_pack_entry(e, head.data() + PACK_HEADER_SIZE + i * PACK_ENTRY_SIZE);
    uint8_t prefix[ENTRY_RECT_SIZE + TILE_HINT_SIZE];
    write_entry_rect(pf.records.entries[i].rect, prefix);
    const TileHint hint = o.tile.value_or(w.hint.value_or(MANIFEST_DEFAULT_TILE));
    store_le16(prefix + 4, hint.hint_width);
    store_le16(prefix + 6, hint.hint_height);
    file.write({prefix, with_hint ? sizeof prefix : ENTRY_RECT_SIZE});
    file.write(w.data);
    file.write_zeros(pack_padding(len));
    position += len + pack_padding(len);
  }

  // Entries read here in table order, unpacked side by side, written in
  // table order. False when reading IN failed.
  bool run() {
    const PackRecords& pack = pf.records;
    const PackMode in_mode = pack_mode(pack.header);
    ManifestMatcher matcher = o.types.empty() ? ManifestMatcher() : ManifestMatcher(types);
    OrderedSteps<RepackWork> steps;
    // The payload and the pixels at most.
    steps.bytes = [&](size_t i) {
      const EntryRecord& r = pack.entries[i];
      if (!entry_problem(pack, i).empty()) return uint64_t{0};
      return payload_len(r.entry) + uint64_t{4} * r.rect.width * r.rect.height;
    };
    steps.read = [&](size_t i, RepackWork& w, EntryMemory&) {
      const PackEntry& e = pack.entries[i].entry;
      w.from = matcher.next(entry_name(e));
      if (const std::string& problem = entry_problem(pack, i); !problem.empty()) w.why = problem;
      else w.payload = tool_pack_read(pf, entry_payload_pos(e), payload_len(e), w.read_failed);
      if (w.why.empty() && w.payload.size() < payload_len(e)) w.why = "its data runs past the end of the file";
      return !w.read_failed;
    };
    steps.work = [&](size_t i, RepackWork& w, EntryMemory& memory) {
      if (w.why.empty()) unpack_entry(in_mode, pack.entries[i].entry, pack.entries[i].rect, w, &memory);
    };
    steps.finish = [&](size_t i, RepackWork& w, Progress& progress) {
      if (w.read_failed) return false;
      if (!w.why.empty()) progress.clear();
      write_entry(i, w);
      return true;
    };
    steps.done_bytes = [&](size_t i, const RepackWork&) { return uint64_t{pack.entries[i].entry.len}; };
    // The pixels are written and freed, not pooled.
    return run_in_order(pack.entries.size(), std::move(steps),
                        {.progress_name = "repack",
                         .progress_total = static_cast<uint64_t>(pack.size),
                         .pool_work = false});
  }

  int finish(std::FILE* out) {
    const size_t count = pf.records.entries.size();
    if (failed > 0) {
      file.discard();
      std::fprintf(err, "repack: %s not written: %zu of %zu entries failed\n", tool_display_name(o.out).c_str(), failed, count);
      return 1;
    }
    file.write_at(PACK_HEADER_SIZE, {head.data() + PACK_HEADER_SIZE, count * PACK_ENTRY_SIZE});
    if (!file.commit()) {
      std::fprintf(err, "repack: cannot write %s: %s\n", tool_display_name(o.out).c_str(), std::strerror(file.error()));
      return 1;
    }
    if (assumed > 0)
      std::fprintf(err, "repack: %zu %s of type 39 given the type of %s bytes per pixel (%s)%s\n", assumed,
                   assumed == 1 ? "entry" : "entries", assumed == 1 ? "its" : "their", default_raw_types().c_str(),
                   o.types.empty() ? "; --types MANIFEST names their types"
                                   : ": not in --types, or of other bytes per pixel there");
    std::fprintf(out, "repack: %s: %zu entries, %llu bytes, raw for mode %s\n", tool_display_name(o.out).c_str(), count,
                 static_cast<unsigned long long>(position), mode_name(mode).c_str());
    return std::fflush(out) == 0 ? 0 : 1;
  }
};

}  // namespace

int run_repack(const RepackOptions& o, std::FILE* out, std::FILE* err) {
  Repacker r{o, err};
  if (int status = r.open(); status != 0) return status;
  if (!r.run()) {
    r.file.discard();
    std::fprintf(err, "repack: reading %s failed\n", tool_display_name(o.in).c_str());
    return 1;
  }
  return r.finish(out);
}

int tool_repack(const RepackOptions& options) { return run_repack(options, stdout, stderr); }

// SPDX-License-Identifier: MIT
// morvane-tool export [--formats MANIFEST] PACK DIR: every entry as a PNG or
// JPEG file, and the manifest that `create` rebuilds the pack's raw form from.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/entry_pixels.h"
#include "core/pipeline.h"
#include "core/progress.h"
#include "tool/export_files.h"
#include "tool/export_formats.h"
#include "tool/image_files.h"
#include "tool/manifest.h"
#include "tool/tool_commands.h"
#include "tool/tool_files.h"
#include "tool/tool_text.h"

namespace {

// One entry between its read and its file: what the reading gave, and what
// the encoding gives.
struct ExportWork {
  const ManifestEntry* from = nullptr;  // its record in --formats
  std::vector<uint8_t> payload;
  bool ok = false;                      // read (or encoded) without fault
  std::vector<uint8_t> file_bytes;      // to write under its file name
  bool write = false;
  bool assumed = false;                 // a PNG written in an assumed format
  std::string why;                      // the fault
};

// Reads the entry's payload; false (with the reason) when it cannot.
bool read_entry(PackFile& pf, size_t i, ExportWork& w) {
  const PackEntry& e = pf.records.entries[i].entry;
  w.payload.clear();
  if (!entry_problem(pf.records, i).empty() || pf.in.available(e.offset) < e.len) {
    w.why = "its data (offset " + std::to_string(e.offset) + ", len " + std::to_string(e.len) +
            ") lies outside the file";
    return false;
  }
  bool read_failed = false;
  w.payload = tool_pack_read(pf, entry_payload_pos(e), payload_len(e), read_failed);
  if (read_failed) w.why = "read failed";
  return !read_failed;
}

// One entry into its file's bytes and its manifest record; a plain function
// of the entry, run on any thread.
void encode_entry(const PackRecords& pack, size_t i, ExportWork& w, ManifestEntry& me, EntryMemory* memory) {
  const PackEntry& e = pack.entries[i].entry;
  const EntryRect& rect = pack.entries[i].rect;
  w.ok = false;
  w.write = false;
  w.assumed = false;
  EntryPixels px;
  if (Status s = entry_pixels(pack_mode(pack.header), e, rect, w.payload, px, memory); !s.ok()) {
    w.why = s.message;
    return;
  }
  me.type = px.raw_type;
  std::string jpeg_error;
  if (px.form == EntryForm::Jpeg) {
    uint16_t wd = 0, ht = 0;
    if (Status s = jpeg_size(w.payload, wd, ht); !s.ok())
      jpeg_error = "payload " + s.message + "; create will refuse it";
    else if (wd != rect.width || ht != rect.height) me.size = rect;
    w.file_bytes = std::move(w.payload);
  } else {
    const ExportFormat f = choose_export_format(w.from, px.bytes_per_pixel);
    me.format = f.format->name;
    // The hint a tiled source had, or the tiles its block was cut in.
    if (px.form == EntryForm::RawAfterHint || (px.form == EntryForm::TiledBlock && px.tile.hint_width != 0))
      me.tile = px.tile;
    if (rect.width == 0 || rect.height == 0) {  // PNG has no empty pictures
      me.size = rect;
      w.ok = true;
      return;
    }
    if (Status s = write_png(rect.width, rect.height, f.format->channels, pixels_to_samples(*f.format, px.pixels),
                             w.file_bytes);
        !s.ok()) {
      w.why = s.message;
      return;
    }
    w.assumed = f.assumed;
  }
  // The bytes go out and the record names them, so that create says what
  // is wrong with them.
  w.write = true;
  w.why = jpeg_error;
  w.ok = jpeg_error.empty();
}

// The entry's file, when it has one; false when the entry failed.
bool write_entry(ExportDir& dir, const std::string& file, ExportWork& w, ManifestEntry& me) {
  if (!w.write) return w.ok;
  Status s = dir.write_file(file, w.file_bytes);
  if (s.ok()) {
    me.file = file;
    return w.ok;
  }
  w.why = s.message;
  return false;
}

// The file names of every entry, given from the table alone before anything
// is decoded: <name>.jpg for JPEG entries, <name>.png for images with pixels,
// none for an image of width or height 0.
std::vector<std::string> plan_files(const PackRecords& pack, const std::vector<ManifestEntry>& records) {
  ExportNames names;
  std::vector<std::string> files(records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    const EntryRect& rect = pack.entries[i].rect;
    if (coded_as(pack_mode(pack.header), pack.entries[i].entry.type) == CodedAs::Jpeg) files[i] = names.take(records[i].name, ".jpg");
    else if (rect.width != 0 && rect.height != 0) files[i] = names.take(records[i].name, ".png");
  }
  return files;
}

// A file export would replace that is one of its inputs (the pack, the
// --formats manifest or a picture that manifest lists, whose original would
// be lost for a re-coded copy): one line, true.
bool writes_over_an_input(const PackFile& pf, const std::string& formats_path, const Manifest& formats,
                          const std::string& dir_path, const ExportDir& dir, const std::vector<std::string>& files) {
  FileId pack_id, formats_id;
  const bool has_pack = file_id(fileno(pf.in.file), pack_id);
  const bool has_formats = !formats_path.empty() && file_id(formats_path, formats_id);
  std::vector<FileId> pictures;
  const std::string base = folder_of(formats_path);
  for (const ManifestEntry& me : formats.entries) {
    FileId id;
    const std::string path = entry_path(base, me);
    if (!path.empty() && file_id(path, id)) pictures.push_back(id);
  }
  auto check = [&](const std::string& name) {
    FileId id;
    if (name.empty() || !dir.file_id(name, id)) return false;
    const char* what = has_pack && id == pack_id ? "the pack being exported"
                       : has_formats && id == formats_id ? "the --formats manifest"
                       : std::find(pictures.begin(), pictures.end(), id) != pictures.end()
                           ? "a picture the --formats manifest lists"
                           : nullptr;
    if (what == nullptr) return false;
    std::fprintf(stderr, "export: %s/%s is %s; refusing to overwrite it, nothing written\n",
                 tool_display_name(dir_path).c_str(), name.c_str(), what);
    return true;
  };
  for (const std::string& f : files)
    if (check(f)) return true;
  return check("manifest.json");
}

// The manifest's header and records as the table gives them; the rest is
// filled in as the entries are encoded.
Manifest export_manifest(const PackRecords& pack) {
  Manifest m;
  m.tiled = pack_is_tiled(pack.header);
  m.codec_kind = pack_codec_kind(pack.header);
  m.entries.resize(pack.entries.size());
  for (size_t i = 0; i < pack.entries.size(); ++i) {
    ManifestEntry& me = m.entries[i];
    me.type = pack.entries[i].entry.type;
    me.name.assign(pack.entries[i].entry.name.begin(), pack.entries[i].entry.name.end());
    while (!me.name.empty() && me.name.back() == '\0') me.name.pop_back();
  }
  return m;
}

// The line on entries written in a format assumed from their bytes per
// pixel.
void print_assumed(const std::string& pack_path, const std::string& formats_path, size_t assumed) {
  const std::string count = std::to_string(assumed) + (assumed == 1 ? " entry" : " entries");
  if (formats_path.empty())
    std::fprintf(stderr,
                 "export: %s: %s of 2 or 3 bytes per pixel exported in an assumed format (rgb565 or rgb888, the "
                 "default of the type); --formats MANIFEST takes the formats from the manifest the pack was "
                 "created from\n",
                 tool_display_name(pack_path).c_str(), count.c_str());
  else
    std::fprintf(stderr,
                 "export: %s: %s of 2 or 3 bytes per pixel exported in an assumed format (rgb565 or rgb888, the "
                 "default of the type): not in %s, or of other bytes per pixel there\n",
                 tool_display_name(pack_path).c_str(), count.c_str(), tool_display_name(formats_path).c_str());
}

// Export's steps but the finish.
OrderedSteps<ExportWork> export_steps(PackFile& pf, ManifestMatcher& matcher, Manifest& m) {
  OrderedSteps<ExportWork> steps;
  // The payload, the pixels, their samples and the file at most.
  steps.bytes = [&pf](size_t i) {
    const EntryRect& r = pf.records.entries[i].rect;
    return payload_len(pf.records.entries[i].entry) + uint64_t{12} * r.width * r.height;
  };
  steps.read = [&pf, &matcher, &m](size_t i, ExportWork& w, EntryMemory&) {
    w.from = matcher.next(m.entries[i].name);
    w.ok = read_entry(pf, i, w);
    return true;
  };
  steps.work = [&pf, &m](size_t i, ExportWork& w, EntryMemory& memory) {
    if (w.ok) encode_entry(pf.records, i, w, m.entries[i], &memory);
  };
  return steps;
}

}  // namespace

int tool_export(const std::string& pack_path, const std::string& dir_path, const std::string& formats_path) {
  PackFile pf;
  if (Status s = tool_pack_load(pf, pack_path, false); !s.ok())
    return tool_load_failed(stderr, "export", pack_path, s.message);
  Manifest formats;
  if (Status s = formats_path.empty() ? Status{} : read_manifest(formats_path, formats); !s.ok()) {
    print_lines("export", s.message);
    return 1;
  }
  const std::vector<EntryRecord>& entries = pf.records.entries;
  Manifest m = export_manifest(pf.records);
  const std::vector<std::string> files = plan_files(pf.records, m.entries);
  ExportDir dir;
  if (Status s = dir.open(dir_path); !s.ok()) {
    std::fprintf(stderr, "export: %s\n", tool_display_name(s.message).c_str());
    return 1;
  }
  // Refused whole, before any file is written.
  if (writes_over_an_input(pf, formats_path, formats, dir_path, dir, files)) return 1;
  ManifestMatcher matcher = formats_path.empty() ? ManifestMatcher() : ManifestMatcher(formats);
  int failures = 0;
  size_t assumed = 0;
  // Entries read here in table order, encoded side by side, written and
  // reported in table order.
  OrderedSteps<ExportWork> steps = export_steps(pf, matcher, m);
  steps.finish = [&](size_t i, ExportWork& w, Progress& progress) {
    if (!write_entry(dir, files[i], w, m.entries[i])) {
      progress.clear();
      // Its record stays (without a file unless one was written), so that
      // create refuses the manifest rather than build a pack without it.
      std::fprintf(stderr, "export: %s: %s: %s\n", tool_display_name(pack_path).c_str(),
                   manifest_entry_label(i, m.entries[i]).c_str(), w.why.c_str());
      ++failures;
    }
    assumed += w.assumed ? 1 : 0;
    return true;
  };
  steps.done_bytes = [&](size_t i, const ExportWork&) { return uint64_t{entries[i].entry.len}; };
  // Each thread its own tile decoder; the pixels pass to the PNG coder and
  // are freed, not pooled.
  const OrderedOptions options{
      .progress_name = "export", .progress_total = uint64_t(pf.records.size), .pool_work = false};
  run_in_order(entries.size(), std::move(steps), options);
  const std::string text = manifest_json(m);
  if (Status s = dir.write_file("manifest.json", {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
      !s.ok()) {
    std::fprintf(stderr, "export: %s\n", tool_display_name(s.message).c_str());
    return 1;
  }
  if (assumed > 0) print_assumed(pack_path, formats_path, assumed);
  if (failures > 0) {
    std::fprintf(stderr, "export: %s: %d of %zu entries not exported\n", tool_display_name(pack_path).c_str(),
                 failures, entries.size());
    return 1;
  }
  std::printf("export: %s: %zu entries exported to %s\n", tool_display_name(pack_path).c_str(), entries.size(),
              tool_display_name(dir_path).c_str());
  return 0;
}

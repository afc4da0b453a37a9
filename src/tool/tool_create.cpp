// SPDX-License-Identifier: MIT
// morvane-tool create MANIFEST OUT: a raw pack from PNG and JPEG files.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/progress.h"
#include "io/files.h"
#include "tool/image_files.h"
#include "tool/manifest.h"
#include "tool/tool_commands.h"
#include "tool/tool_files.h"
#include "tool/tool_text.h"

namespace {

// PNG files are read whole; one that decodes to at most 16 MiB of pixels
// stays far below this unless it is padded with chunks.
constexpr uint64_t kPngFileLimit = uint64_t{256} << 20;

struct BuiltEntry {
  EntryRect rect;
  std::optional<TileHint> hint;
  std::vector<uint8_t> payload;  // after the EntryRect and the hint
};

// A path as the tool's lines print it.
std::string shown(const std::string& path) { return tool_display_name(path); }

// A failure of the entry's "file".
Status file_error(Status s) {
  s.message.insert(0, "field \"file\": ");
  return s;
}

Status build_image(const Manifest& m, const ManifestEntry& me, const std::string& path, BuiltEntry& out) {
  const int bpp = type_bytes_per_pixel(me.type);
  const PixelFormatInfo* f = me.format.empty() ? default_pixel_format(bpp) : find_pixel_format(me.format);
  if (m.tiled) out.hint = me.tile.value_or(MANIFEST_DEFAULT_TILE);
  if (me.file.empty()) {  // an image without pixels
    out.rect = *me.size;
    return {};
  }
  std::vector<uint8_t> file;
  uint32_t w = 0, h = 0;
  Status s = read_whole_file(path, kPngFileLimit, file);
  if (s.ok()) s = png_size(file, w, h);
  if (!s.ok()) return file_error(s);
  const uint64_t len = ENTRY_RECT_SIZE + (out.hint ? TILE_HINT_SIZE : 0) + uint64_t{w} * h * uint64_t(bpp);
  if (len > PACK_MAX_LEN)
    return file_error({TOOL_ERR_TOO_BIG, std::to_string(w) + " x " + std::to_string(h) + " pixels of " +
                                             std::string(f->name) + " make an entry of " + std::to_string(len) +
                                             " bytes; its 24-bit len holds at most 16777215"});
  Picture pic;
  if (s = read_png(file, uint64_t{w} * h, pic); !s.ok()) return file_error(s);
  out.rect = {static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
  if (manifest_dithers(m, me)) dither_rgba(*f, pic.rgba, w);
  out.payload = rgba_to_pixels(*f, pic.rgba, pic.kind);
  return {};
}

Status build_jpeg(const ManifestEntry& me, const std::string& path, BuiltEntry& out) {
  uint16_t w = 0, h = 0;
  Status s = read_whole_file(path, PACK_MAX_PAYLOAD, out.payload);
  if (s.ok()) s = jpeg_size(out.payload, w, h);
  if (!s.ok()) return file_error(s);
  out.rect = me.size.value_or(EntryRect{w, h});
  return {};
}

// An OUT that is the manifest or a file it lists (the same file, also
// through a link): one line naming it, true.
bool writes_over_an_input(const Manifest& m, const std::string& manifest_path, const std::string& base,
                          const std::string& out_path) {
  FileId out, in;
  if (!file_id(out_path, out)) return false;  // nothing there yet
  if (file_id(manifest_path, in) && in == out) {
    std::fprintf(stderr, "create: %s is the manifest; refusing to overwrite it\n", shown(out_path).c_str());
    return true;
  }
  for (size_t i = 0; i < m.entries.size(); ++i) {
    const std::string path = entry_path(base, m.entries[i]);
    if (!path.empty() && file_id(path, in) && in == out) {
      std::fprintf(stderr, "create: %s is the file of %s in %s; refusing to overwrite it\n", shown(out_path).c_str(),
                   manifest_entry_label(i, m.entries[i]).c_str(), shown(manifest_path).c_str());
      return true;
    }
  }
  return false;
}

// A path in a Makefile rule, as make and ninja read it back.
std::string make_escaped(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '$') out += '$';
    if (c == ' ' || c == '#') out += '\\';
    out += c;
  }
  return out;
}

// "OUT: MANIFEST FILE...", for build systems that make the pack.
bool write_depfile(const std::string& depfile, const Manifest& m, const std::string& manifest_path,
                   const std::string& base, const std::string& out_path) {
  std::string rule = make_escaped(out_path) + ": " + make_escaped(manifest_path);
  for (const ManifestEntry& me : m.entries) {
    const std::string path = entry_path(base, me);
    if (!path.empty()) rule += " \\\n  " + make_escaped(path);
  }
  rule += "\n";
  OutputFile f;
  if (f.open(depfile.c_str())) {
    f.write({reinterpret_cast<const uint8_t*>(rule.data()), rule.size()});
    if (f.commit()) return true;
  }
  std::fprintf(stderr, "create: cannot write %s: %s\n", shown(depfile).c_str(), std::strerror(f.error()));
  return false;
}

// The bytes an entry takes with its rectangle (and TileHint), before the
// padding.
uint64_t entry_len(const BuiltEntry& b) {
  return ENTRY_RECT_SIZE + (b.hint ? TILE_HINT_SIZE : 0) + b.payload.size();
}

// Entry `me` built from its file, and checked to fit in the pack at
// `position`; the reason when it cannot be.
Status build_entry(const Manifest& m, const ManifestEntry& me, const std::string& path, uint64_t position,
                   BuiltEntry& b) {
  Status s = me.type == TYPE_JPEG ? build_jpeg(me, path, b) : build_image(m, me, path, b);
  if (!s.ok()) return s;
  const uint64_t len = entry_len(b);
  if (len > PACK_MAX_LEN)
    return file_error(
        {TOOL_ERR_TOO_BIG,
         std::to_string(len) + " bytes with its rectangle; an entry's 24-bit len holds at most 16777215"});
  if (position + len + pack_padding(len) > uint64_t(PACK_MAX_FILE_SIZE))
    return file_error({TOOL_ERR_TOO_BIG, "the pack would pass 2 GiB (2147483647 bytes) with this entry"});
  return {};
}

// Entry i's record into the table `head` and its bytes into `out`.
void write_entry(OutputFile& out, std::vector<uint8_t>& head, size_t i, uint64_t position, const ManifestEntry& me,
                 const BuiltEntry& b) {
  const uint64_t len = entry_len(b);
  PackEntry e;
  e.offset = static_cast<uint32_t>(position);
  e.len = static_cast<uint32_t>(len);
  e.type = me.type;
  std::copy(me.name.begin(), me.name.end(), e.name.begin());
  write_pack_entry(e, head.data() + PACK_HEADER_SIZE + i * PACK_ENTRY_SIZE);
  uint8_t prefix[ENTRY_RECT_SIZE + TILE_HINT_SIZE];
  write_entry_rect(b.rect, prefix);
  if (b.hint) {
    store_le16(prefix + 4, b.hint->hint_width);
    store_le16(prefix + 6, b.hint->hint_height);
  }
  out.write({prefix, b.hint ? sizeof prefix : ENTRY_RECT_SIZE});
  out.write(b.payload);
  out.write_zeros(pack_padding(len));
}

// The header and a table of zeros, filled in as the entries are written.
std::vector<uint8_t> pack_head(const Manifest& m) {
  const size_t count = m.entries.size();
  std::vector<uint8_t> head(PACK_HEADER_SIZE + count * PACK_ENTRY_SIZE);
  store_le32(head.data(), PACK_MAGIC);
  store_le16(head.data() + 4, static_cast<uint16_t>(count));
  head[TILED_FLAG] = m.tiled ? 1 : 0;
  head[CODEC_KIND] = m.codec_kind;
  return head;
}

}  // namespace

int tool_create(const std::string& manifest_path, const std::string& out_path, const std::string& depfile) {
  Manifest m;
  if (Status s = read_manifest(manifest_path, m); !s.ok()) {
    print_lines("create", s.message);
    return 1;
  }
  const std::string base = folder_of(manifest_path);
  // Before the output is opened: nothing is touched.
  if (writes_over_an_input(m, manifest_path, base, out_path) ||
      (!depfile.empty() && writes_over_an_input(m, manifest_path, base, depfile)))
    return 1;
  OutputFile out;
  if (!out.open(out_path.c_str())) {
    std::fprintf(stderr, "create: cannot create %s: %s\n", shown(out_path).c_str(), std::strerror(out.error()));
    return 1;
  }
  const size_t count = m.entries.size();
  std::vector<uint8_t> head = pack_head(m);
  out.write(head);
  // Every entry is checked, so one run reports every fault; the output is
  // kept only when none was found.
  int failures = 0;
  uint64_t position = head.size();
  Progress progress("create", count, 0);
  for (size_t i = 0; i < count; ++i) {
    const ManifestEntry& me = m.entries[i];
    const std::string path = entry_path(base, me);
    BuiltEntry b;
    if (Status s = build_entry(m, me, path, position, b); !s.ok()) {  // reported, and the run goes on
      progress.clear();
      std::fprintf(stderr, "create: %s: %s: %s\n", shown(manifest_path).c_str(), manifest_entry_label(i, me).c_str(),
                   s.message.c_str());
      ++failures;
      progress.entry_done(0);
      continue;
    }
    write_entry(out, head, i, position, me, b);
    const uint64_t len = entry_len(b);
    position += len + pack_padding(len);
    progress.entry_done(len);
  }
  progress.finish();
  if (failures > 0) {
    out.discard();
    std::fprintf(stderr, "create: %s not written: %d of %zu entries failed\n", shown(out_path).c_str(), failures,
                 count);
    return 1;
  }
  out.write_at(PACK_HEADER_SIZE, {head.data() + PACK_HEADER_SIZE, count * PACK_ENTRY_SIZE});
  if (!out.commit()) {
    std::fprintf(stderr, "create: cannot write %s: %s\n", shown(out_path).c_str(), std::strerror(out.error()));
    return 1;
  }
  if (!depfile.empty() && !write_depfile(depfile, m, manifest_path, base, out_path)) return 1;
  std::printf("create: %s: %zu entries, %llu bytes\n", shown(out_path).c_str(), count,
              static_cast<unsigned long long>(position));
  return 0;
}

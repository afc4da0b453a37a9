// morvane-tool export PACK DIR: every entry as a PNG or JPEG file, and the
// manifest that `create` rebuilds the pack's raw form from.
#include <cstdio>
#include <string>
#include <vector>

#include "commands/entry_pixels.h"
#include "tool/export_files.h"
#include "tool/image_files.h"
#include "tool/manifest.h"
#include "tool/tool_commands.h"
#include "tool/tool_pack.h"

namespace {

// One entry into its file and manifest record; false with the reason.
bool export_entry(ToolPack& pack, size_t i, ExportDir& dir, ExportNames& names, ManifestEntry& me,
                  std::string& why) {
  const PackEntry& e = pack.st.entries[i];
  const EntryRect& rect = pack.st.rects[i];
  const bool tiled = pack.st.header.bytes[TILED_FLAG] != 0;
  if (!pack.problems[i].empty() || pack.st.in_file.available(e.offset) < e.len) {
    why = "its data (offset " + std::to_string(e.offset) + ", len " + std::to_string(e.len) +
          ") lies outside the file";
    return false;
  }
  bool read_failed = false;
  std::vector<uint8_t> payload = tool_pack_read(pack, entry_payload_pos(e), e.len - ENTRY_RECT_SIZE, read_failed);
  if (read_failed) {
    why = "read failed";
    return false;
  }
  EntryPixels px;
  int rc = entry_pixels(tiled, e, rect, payload, px);
  if (rc != ENTRY_PIXELS_OK) {
    why = entry_pixels_error_text(rc);
    return false;
  }
  me.type = px.raw_type;
  std::vector<uint8_t> file_bytes;
  std::string ext = ".png";
  std::string jpeg_error;
  if (px.form == EntryForm::Jpeg) {
    ext = ".jpg";
    uint16_t w = 0, h = 0;
    if (!jpeg_size(payload, w, h, jpeg_error)) jpeg_error = "payload " + jpeg_error + "; create will refuse it";
    else if (w != rect.width || h != rect.height) me.size = rect;
    file_bytes = std::move(payload);
  } else {
    const PixelFormatInfo* f = default_pixel_format(px.bytes_per_pixel);
    if (e.type == TYPE_TILED) me.format = f->name;
    // The hint a tiled source had, or the tiles its block was cut in.
    if (px.form == EntryForm::RawAfterHint || (px.form == EntryForm::TiledBlock && px.tile.hint_width != 0))
      me.tile = px.tile;
    if (rect.width == 0 || rect.height == 0) {  // PNG has no empty pictures
      me.size = rect;
      return true;
    }
    std::string err;
    if (!write_png(rect.width, rect.height, f->channels, pixels_to_samples(*f, px.pixels), file_bytes, err)) {
      why = err;
      return false;
    }
  }
  me.file = names.take(me.name, ext);
  if (!dir.write_file(me.file, file_bytes, why)) {
    me.file.clear();
    return false;
  }
  // The bytes are out and the record names them, so that create says what
  // is wrong with them.
  why = jpeg_error;
  return jpeg_error.empty();
}

}  // namespace

int tool_export(const std::string& pack_path, const std::string& dir_path) {
  ToolPack pack;
  std::string message;
  if (tool_pack_load(pack, pack_path, false, message) != PACK_OK)
    return tool_load_failed(stderr, "export", pack_path, message);
  const std::vector<PackEntry>& entries = pack.st.entries;
  ExportDir dir;
  std::string err;
  if (!dir.open(dir_path, err)) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 1;
  }
  Manifest m;
  m.tiled = pack.st.header.bytes[TILED_FLAG] != 0;
  m.codec_kind = pack.st.header.bytes[CODEC_KIND];
  ExportNames names;
  int failures = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const PackEntry& e = entries[i];
    ManifestEntry me;
    me.type = e.type;
    me.name.assign(e.name.begin(), e.name.end());
    while (!me.name.empty() && me.name.back() == '\0') me.name.pop_back();
    std::string why;
    if (!export_entry(pack, i, dir, names, me, why)) {
      // Its record stays (without a file unless one was written), so that
      // create refuses the manifest rather than build a pack without it.
      std::fprintf(stderr, "%s: %s: %s\n", pack_path.c_str(), manifest_entry_label(i, me).c_str(), why.c_str());
      ++failures;
    }
    m.entries.push_back(std::move(me));
  }
  const std::string text = manifest_json(m);
  if (!dir.write_file("manifest.json", {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, err)) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 1;
  }
  if (failures > 0) {
    std::fprintf(stderr, "%s: %d of %zu entries not exported\n", pack_path.c_str(), failures, entries.size());
    return 1;
  }
  std::printf("%s: %zu entries exported to %s\n", pack_path.c_str(), entries.size(), dir_path.c_str());
  return 0;
}

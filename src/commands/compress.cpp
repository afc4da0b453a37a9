#include <cstdio>
#include <cstring>

#include "commands/commands.h"
#include "commands/pack_convert.h"

namespace {

constexpr const char* kDumpPath = "PIC16_orgin.rgb32";

// The pixels of the entry named "PIC16", as read, for checking a source pack
// by eye. Returns false on a failure it has reported.
bool dump_pic16(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> pixels) {
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
  f.write(pixels);
  if (!f.commit()) {
    std::printf("write %s failed\n", kDumpPath);
    explain("%s: %s", kDumpPath, std::strerror(f.error()));
    return false;
  }
  return true;
}

}  // namespace

int compress_pack(const char* in_path, const char* out_path) {
  bool tiled = false;
  uint8_t codec_kind = 0;
  ConvertCommand cmd;
  cmd.name = "compress";
  cmd.recompute_len = true;
  cmd.start = [&](const PackHeader& h) {
    tiled = h.bytes[TILED_FLAG] != 0;
    codec_kind = h.bytes[CODEC_KIND];
  };
  cmd.threads = convert_thread_count();
  cmd.read_size = [&](const PackEntry& e, uint32_t stored_len) { return compress_read_size(e, tiled, stored_len); };
  cmd.inspects = [&](const PackEntry& e) {
    return tiled && e.type != TYPE_JPEG && !is_compressed_type(e.type) && entry_name(e) == "PIC16";
  };
  cmd.inspect = [&](const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data) {
    const uint64_t n = e.len - uint64_t{4};
    if (data.size() < TILE_HINT_SIZE + n) return true;
    return dump_pic16(e, rect, data.subspan(TILE_HINT_SIZE, n));
  };
  cmd.convert = [&](const PackEntry& e, uint32_t stored_len, const EntryRect& rect, std::span<const uint8_t> data,
                    const JobRunner& jobs) { return compress_entry(e, rect, data, tiled, codec_kind, &jobs, stored_len); };
  cmd.side_file = kDumpPath;
  return convert_pack(cmd, in_path, out_path);
}

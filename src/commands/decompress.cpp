#include "commands/commands.h"
#include "commands/pack_convert.h"

int decompress_pack(const char* in_path, const char* out_path) {
  bool tiled = false;
  ConvertCommand cmd;
  cmd.name = "decompress";
  cmd.recompute_len = false;
  cmd.start = [&](const PackHeader& h) { tiled = h.bytes[TILED_FLAG] != 0; };
  cmd.read_size = [](const PackEntry& e, uint32_t) { return decompress_read_size(e); };
  // One thread: the region decoder's tile cache is process-wide.
  cmd.convert = [&](const PackEntry& e, uint32_t, const EntryRect& rect, std::span<const uint8_t> data,
                    const JobRunner&) { return decompress_entry(e, rect, data, tiled); };
  cmd.nothing_compressed = "not compressed: none of its entries holds compressed data (morvane -c compresses it)";
  return convert_pack(cmd, in_path, out_path);
}

// SPDX-License-Identifier: MIT
#include "core/pack_file.h"

Status open_pack(PackFile& pf, const char* path, const PackLoadOptions& options) {
  pf.records = PackRecords{};
  pf.open_failure = pf.in.open(path);
  if (!pf.open_failure.ok()) return {PACK_ERR_OPEN, "open " + std::string(path) + " failed"};
  InputFile& in = pf.in;
  return load_pack_records(
      [&in](uint64_t pos, std::span<uint8_t> dst, bool& failed) {
        const size_t got = in.read_at(pos, dst);
        failed = in.read_error;
        return got;
      },
      in.size, path, options, pf.records);
}

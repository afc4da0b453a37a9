// SPDX-License-Identifier: MIT
#include "support/pack_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

TestPack pack_in_mode(uint8_t tiled_flag, uint8_t codec_kind) {
  TestPack p;
  p.tiled_flag = tiled_flag;
  p.codec_kind = codec_kind;
  return p;
}

std::vector<uint8_t> build_pack(const TestPack& pack) {
  const size_t count = pack.entries.size();
  std::vector<uint8_t> out(PACK_HEADER_SIZE + count * PACK_ENTRY_SIZE);
  store_le32(out.data(), PACK_MAGIC);
  store_le16(out.data() + 4, pack.entry_count.value_or(static_cast<uint16_t>(count)));
  std::copy(pack.reserved.begin(), pack.reserved.end(), out.begin() + 6);
  out[TILED_FLAG] = pack.tiled_flag;
  out[CODEC_KIND] = pack.codec_kind;
  out[15] = pack.last_byte;
  for (size_t i = 0; i < count; ++i) {
    const TestEntry& t = pack.entries[i];
    PackEntry e;
    e.offset = t.offset.value_or(static_cast<uint32_t>(out.size()));
    e.len = t.len.value_or(static_cast<uint32_t>(t.payload.size() + ENTRY_RECT_SIZE));
    e.type = t.type;
    std::memcpy(e.name.data(), t.name.data(), std::min(t.name.size(), ENTRY_NAME_SIZE));
    write_pack_entry(e, out.data() + PACK_HEADER_SIZE + i * PACK_ENTRY_SIZE);
    uint8_t rect[ENTRY_RECT_SIZE];
    write_entry_rect({t.width, t.height}, rect);
    out.insert(out.end(), rect, rect + ENTRY_RECT_SIZE);
    out.insert(out.end(), t.payload.begin(), t.payload.end());
    out.resize(out.size() + pack_padding(t.payload.size()), 0);
  }
  return out;
}

TestEntry image_entry(const std::string& name, uint8_t type, uint16_t width, uint16_t height,
                      ImageKind kind, uint32_t seed, std::optional<TileHint> hint) {
  TestEntry t;
  t.name = name;
  t.type = type;
  t.width = width;
  t.height = height;
  PackEntry probe;
  probe.type = type;
  if (hint) {
    t.payload.resize(TILE_HINT_SIZE);
    store_le16(t.payload.data(), hint->hint_width);
    store_le16(t.payload.data() + 2, hint->hint_height);
  }
  std::vector<uint8_t> pixels = make_image(kind, width, height, entry_bytes_per_pixel(probe), seed);
  t.payload.insert(t.payload.end(), pixels.begin(), pixels.end());
  return t;
}

TestEntry jpeg_entry(const std::string& name, uint16_t width, uint16_t height, size_t size, uint32_t seed) {
  TestEntry t;
  t.name = name;
  t.type = TYPE_JPEG;
  t.width = width;
  t.height = height;
  t.payload = make_random_bytes(std::max<size_t>(size, 12), seed);
  std::memcpy(t.payload.data(), "JPEG", 4);
  store_le16(t.payload.data() + 4, width);
  store_le16(t.payload.data() + 6, height);
  t.payload[8] = 0xFF;
  t.payload[9] = 0xD8;
  t.payload[t.payload.size() - 2] = 0xFF;
  t.payload[t.payload.size() - 1] = 0xD9;
  return t;
}

ParsedPack parse_pack(const std::vector<uint8_t>& bytes) {
  ParsedPack p;
  if (bytes.size() < PACK_HEADER_SIZE) return p;
  std::copy(bytes.begin(), bytes.begin() + PACK_HEADER_SIZE, p.header.bytes.begin());
  const size_t count = pack_entry_count(p.header);
  for (size_t i = 0; i < count && PACK_HEADER_SIZE + (i + 1) * PACK_ENTRY_SIZE <= bytes.size(); ++i) {
    PackEntry e = read_pack_entry(bytes.data() + PACK_HEADER_SIZE + i * PACK_ENTRY_SIZE);
    EntryRect r;
    std::vector<uint8_t> payload;
    if (uint64_t{e.offset} + ENTRY_RECT_SIZE <= bytes.size()) {
      r = read_entry_rect(bytes.data() + e.offset);
      size_t begin = e.offset + ENTRY_RECT_SIZE;
      size_t end = std::min<size_t>(bytes.size(), begin + (e.len >= 4 ? e.len - 4 : 0));
      payload.assign(bytes.begin() + static_cast<long>(begin), bytes.begin() + static_cast<long>(end));
    }
    p.entries.push_back(e);
    p.rects.push_back(r);
    p.payloads.push_back(std::move(payload));
  }
  return p;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t buf[1 << 16];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + got);
  std::fclose(f);
  return bytes;
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

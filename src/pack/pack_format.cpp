#include "pack/pack_format.h"

#include <cstring>

PackEntry read_pack_entry(const uint8_t* p) {
  PackEntry e;
  e.offset = load_le32(p);
  e.len = load_le16(p + 4) + (static_cast<uint32_t>(p[15]) << 16);
  e.type = p[6];
  std::memcpy(e.name.data(), p + 7, ENTRY_NAME_SIZE);
  return e;
}

void write_pack_entry(const PackEntry& e, uint8_t* p) {
  store_le32(p, e.offset);
  store_le16(p + 4, static_cast<uint16_t>(e.len));
  p[6] = e.type;
  std::memcpy(p + 7, e.name.data(), ENTRY_NAME_SIZE);
  p[15] = static_cast<uint8_t>(e.len >> 16);
}

EntryRect read_entry_rect(const uint8_t* p) { return {load_le16(p), load_le16(p + 2)}; }

void write_entry_rect(const EntryRect& r, uint8_t* p) {
  store_le16(p, r.width);
  store_le16(p + 2, r.height);
}

TileHint read_tile_hint(const uint8_t* p) { return {load_le16(p), load_le16(p + 2)}; }

int entry_bytes_per_pixel(const PackEntry& e) {
  switch (e.type) {
    case 30: case 31:
      return 1;
    case 5: case 8: case 10: case 12: case 32: case 33:
      return 3;
    case 11: case 13: case 15:
      return 4;
    default:
      return 2;
  }
}

bool is_compressed_type(uint8_t type) {
  switch (type) {
    case 14: case 15: case 31: case 33: case 35: case 37: case TYPE_TILED:
      return true;
    default:
      return false;
  }
}

std::string_view entry_name(const PackEntry& e) {
  size_t n = 0;
  while (n < ENTRY_NAME_SIZE && e.name[n] != '\0') ++n;
  return {e.name.data(), n};
}

EntryNameText entry_name_text(const PackEntry& e) {
  EntryNameText t{};
  std::string_view name = entry_name(e);
  std::memcpy(t.text, name.data(), name.size());
  return t;
}

int32_t pack_percent(uint32_t part, uint32_t whole) {
  if (whole == 0) return 0;
  return static_cast<int32_t>((part * 100u) / whole);
}

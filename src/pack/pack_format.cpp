// SPDX-License-Identifier: MIT
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

namespace {

// Rows for the codes that differ from the default; 0 in other_form and
// pixel_format stands for the code itself.
struct TypeRow {
  uint8_t type;
  uint8_t bytes_per_pixel;
  TypeKind kind;
  uint8_t other_form;
  uint8_t pixel_format;
};
constexpr TypeRow kTypeTable[] = {
    {1, 2, TypeKind::Raw, 14, 1},   {5, 3, TypeKind::Raw, 0, 0},     {8, 3, TypeKind::Raw, 0, 0},
    {10, 3, TypeKind::Raw, 0, 0},   {11, 4, TypeKind::Raw, 15, 4},   {12, 3, TypeKind::Raw, 0, 0},
    {13, 4, TypeKind::Raw, 0, 0},   {14, 2, TypeKind::Lz4, 1, 0},    {15, 4, TypeKind::Lz4, 11, 0},
    {30, 1, TypeKind::Raw, 31, 5},  {31, 1, TypeKind::Lz4, 30, 0},   {32, 3, TypeKind::Raw, 33, 3},
    {33, 3, TypeKind::Lz4, 32, 0},  {34, 2, TypeKind::Raw, 35, 2},   {35, 2, TypeKind::Lz4, 34, 0},
    {36, 2, TypeKind::Raw, 37, 6},  {37, 2, TypeKind::Lz4, 36, 0},   {TYPE_JPEG, 2, TypeKind::Jpeg, 0, 0},
    {TYPE_TILED, 2, TypeKind::Tiled, 0, 0},
};

}  // namespace

TypeInfo type_info(uint8_t type) {
  for (const TypeRow& r : kTypeTable) {
    if (r.type == type)
      return {r.bytes_per_pixel, r.kind, r.other_form != 0 ? r.other_form : type,
              r.pixel_format != 0 ? r.pixel_format : type};
  }
  return {2, TypeKind::Raw, type, type};
}

uint8_t raw_type_for_pixels(int pixel_format, int bytes_per_pixel) {
  for (const TypeRow& r : kTypeTable) {
    if (r.kind == TypeKind::Raw && r.other_form != 0 && r.pixel_format == pixel_format &&
        r.bytes_per_pixel == bytes_per_pixel)
      return r.type;
  }
  static const uint8_t kDefaults[] = {30, 1, 32, 11};
  return bytes_per_pixel >= 1 && bytes_per_pixel <= 4 ? kDefaults[bytes_per_pixel - 1] : 1;
}

std::string_view entry_name(const PackEntry& e) {
  size_t n = 0;
  while (n < ENTRY_NAME_SIZE && e.name[n] != '\0') ++n;
  return {e.name.data(), n};
}

std::string printable_text(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const uint8_t c = static_cast<uint8_t>(ch);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

EntryNameText entry_name_text(const PackEntry& e) {
  EntryNameText t{};
  const std::string name = printable_text(entry_name(e));
  std::memcpy(t.text, name.data(), name.size());
  return t;
}

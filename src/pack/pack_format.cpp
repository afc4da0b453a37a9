// SPDX-License-Identifier: MIT
#include "pack/pack_format.h"

#include <cstring>

#include "morvane/tile.hpp"

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

// Rows for the codes that differ from the default. 0 in other_form and
// pixel_format stands for the code itself; 0 in bytes_per_pixel for the
// bytes a pixel of its PixelFormat holds (pixel_format_bytes), or on an LZ4
// row for those of its raw code: written out only where a code's pixels
// differ from its PixelFormat's. is_default marks the raw code of its bytes
// per pixel for pixels whose PixelFormat no row names, one for each of 1 to 4.
struct TypeRow {
  uint8_t type;
  TypeKind kind;
  uint8_t other_form;
  uint8_t pixel_format;
  uint8_t bytes_per_pixel;
  bool is_default;
};
constexpr TypeRow kTypeTable[] = {
    {1, TypeKind::Raw, 14, 1, 0, true},   {5, TypeKind::Raw, 0, 0, 3, false},   {8, TypeKind::Raw, 0, 0, 3, false},
    {10, TypeKind::Raw, 0, 0, 3, false},  {11, TypeKind::Raw, 15, 4, 0, true},  {12, TypeKind::Raw, 0, 0, 3, false},
    {13, TypeKind::Raw, 0, 0, 4, false},  {14, TypeKind::Lz4, 1, 0, 0, false},  {15, TypeKind::Lz4, 11, 0, 0, false},
    {30, TypeKind::Raw, 31, 5, 0, true},  {31, TypeKind::Lz4, 30, 0, 0, false}, {32, TypeKind::Raw, 33, 3, 0, true},
    {33, TypeKind::Lz4, 32, 0, 0, false}, {34, TypeKind::Raw, 35, 2, 2, false}, {35, TypeKind::Lz4, 34, 0, 0, false},
    {36, TypeKind::Raw, 37, 6, 0, false}, {37, TypeKind::Lz4, 36, 0, 0, false},
    {TYPE_JPEG, TypeKind::Jpeg, 0, 0, 2, false},  {TYPE_TILED, TypeKind::Tiled, 0, 0, 2, false},
};

constexpr const TypeRow* row_of(uint8_t type) {
  for (const TypeRow& r : kTypeTable)
    if (r.type == type) return &r;
  return nullptr;
}

// row_bytes takes an LZ4 row's bytes from its raw row, which must be there.
constexpr bool lz4_rows_have_raw_rows() {
  for (const TypeRow& r : kTypeTable)
    if (r.kind == TypeKind::Lz4 && (row_of(r.other_form) == nullptr || row_of(r.other_form)->kind != TypeKind::Raw))
      return false;
  return true;
}
static_assert(lz4_rows_have_raw_rows());

int row_bytes(const TypeRow& r) {
  if (r.bytes_per_pixel != 0) return r.bytes_per_pixel;
  if (r.kind == TypeKind::Lz4) return row_bytes(*row_of(r.other_form));
  return morvane::pixel_format_bytes(r.pixel_format);
}

}  // namespace

TypeInfo type_info(uint8_t type) {
  if (const TypeRow* r = row_of(type))
    return {row_bytes(*r), r->kind, r->other_form != 0 ? r->other_form : type,
            r->pixel_format != 0 ? r->pixel_format : type};
  return {2, TypeKind::Raw, type, type};
}

uint8_t raw_type_for_pixels(int pixel_format, int bytes_per_pixel) {
  for (const TypeRow& r : kTypeTable) {
    if (r.kind == TypeKind::Raw && r.other_form != 0 && r.pixel_format == pixel_format &&
        row_bytes(r) == bytes_per_pixel)
      return r.type;
  }
  for (const TypeRow& r : kTypeTable)
    if (r.is_default && row_bytes(r) == bytes_per_pixel) return r.type;
  return 1;
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

// SPDX-License-Identifier: MIT
// Resource pack records: the byte layouts of a pack file and the entry type
// codes. docs/format.md has the byte tables; this header is their code.
//
// Every multi-byte field is little-endian and is read and written byte by
// byte, never by casting a struct onto file bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "morvane/pack.h"
#include "tile/byte_order.h"

inline constexpr uint32_t PACK_MAGIC = 0x19534552;  // "RES\x19"
inline constexpr size_t PACK_HEADER_SIZE = 16;
inline constexpr size_t PACK_ENTRY_SIZE = 16;
inline constexpr size_t ENTRY_RECT_SIZE = 4;
inline constexpr size_t TILE_HINT_SIZE = 4;
inline constexpr size_t ENTRY_NAME_SIZE = 8;
// len is a 24-bit field that counts the EntryRect too.
inline constexpr uint32_t PACK_MAX_LEN = 0xFFFFFF;
inline constexpr uint32_t PACK_MAX_PAYLOAD = PACK_MAX_LEN - ENTRY_RECT_SIZE;
// Offsets and the printed sizes are signed 32-bit: nothing reaches 2 GiB.
inline constexpr int64_t PACK_MAX_FILE_SIZE = 0x7FFFFFFF;

// Byte positions of the two settings inside the header.
inline constexpr size_t TILED_FLAG = 13;
inline constexpr size_t CODEC_KIND = 14;

inline constexpr uint8_t TYPE_JPEG = MORVANE_PACK_TYPE_JPEG;
inline constexpr uint8_t TYPE_TILED = MORVANE_PACK_TYPE_TILED;

// The 16 header bytes are kept as read: bytes 6-12 and 15 mean nothing to
// this tool and reach the output unchanged.
struct PackHeader {
  std::array<uint8_t, PACK_HEADER_SIZE> bytes{};
};

struct PackEntry {
  uint32_t offset = 0;  // absolute file position of the entry's EntryRect
  // Bytes of the entry's data, EntryRect included. Stored in 24 bits; a
  // value above PACK_MAX_LEN only exists in memory (a recomputed length that
  // the file cannot hold) and must never be written.
  uint32_t len = 0;
  uint8_t type = 0;
  std::array<char, ENTRY_NAME_SIZE> name{};  // NUL-padded, not always NUL-terminated
};

struct EntryRect {
  uint16_t width = 0;
  uint16_t height = 0;
};

struct TileHint {
  uint16_t hint_width = 0;
  uint16_t hint_height = 0;
};

inline uint16_t pack_entry_count(const PackHeader& h) { return load_le16(h.bytes.data() + 4); }

// p points at PACK_ENTRY_SIZE bytes.
PackEntry read_pack_entry(const uint8_t* p);
// Stores len split as the format wants (bits 0-15, then 16-23); bits above 23
// are dropped, so callers check len <= PACK_MAX_LEN first.
void write_pack_entry(const PackEntry& e, uint8_t* p);

EntryRect read_entry_rect(const uint8_t* p);
void write_entry_rect(const EntryRect& r, uint8_t* p);
TileHint read_tile_hint(const uint8_t* p);

// ---- The type table ----------------------------------------------------------

// What a type code says an entry's data is.
enum class TypeKind : uint8_t {
  Raw,    // a raw pixel array
  Lz4,    // whole-entry LZ4 data of a raw code's pixels: 14, 15, 31, 33, 35, 37
  Jpeg,   // 38: JPEG data
  Tiled,  // 39: a tiled image block
};

// One row of the type table. Codes without a row are raw pixel arrays of 2
// bytes per pixel with no LZ4 form, whose tiled PixelFormat is the code.
struct TypeInfo {
  int bytes_per_pixel;  // 1, 2, 3 or 4
  TypeKind kind;
  // Raw: the code of its whole-entry LZ4 form (the code itself when it has
  // none); Lz4: its raw code; otherwise the code itself.
  uint8_t other_form;
  // The PixelFormat code a tiled block of these pixels records.
  int pixel_format;
};
TypeInfo type_info(uint8_t type);

inline int type_bytes_per_pixel(uint8_t type) { return type_info(type).bytes_per_pixel; }
inline int entry_bytes_per_pixel(const PackEntry& e) { return type_bytes_per_pixel(e.type); }

// Raw type -> the type of its whole-entry LZ4 form, and back; other codes
// are returned unchanged.
inline uint8_t compressed_type(uint8_t type) {
  const TypeInfo t = type_info(type);
  return t.kind == TypeKind::Raw ? t.other_form : type;
}
inline uint8_t raw_type(uint8_t type) {
  const TypeInfo t = type_info(type);
  return t.kind == TypeKind::Lz4 ? t.other_form : type;
}

// Codes of a raw pixel array: neither JPEG nor compressed data.
inline bool is_raw_type(uint8_t type) { return type_info(type).kind == TypeKind::Raw; }

// The PixelFormat code of a tiled block for an entry type.
inline int pixel_format_for_type(uint8_t type) { return type_info(type).pixel_format; }

// The raw type whose pixels fill the PixelFormat's bytes: the raw code with
// an LZ4 form whose row names that PixelFormat and bytes_per_pixel, else the
// table's default raw code of bytes_per_pixel (30, 1, 32, 11 for 1 to 4; 1
// for none).
uint8_t raw_type_for_pixels(int pixel_format, int bytes_per_pixel);

// ---- Entries ------------------------------------------------------------------

// The bytes after an entry's EntryRect by its len; a len below 4 wraps, so
// callers that may meet one check it first.
inline uint64_t payload_len(const PackEntry& e) { return e.len - uint64_t{ENTRY_RECT_SIZE}; }
// The position of an entry's payload: just after its EntryRect.
inline uint64_t entry_payload_pos(const PackEntry& e) { return uint64_t{e.offset} + ENTRY_RECT_SIZE; }

inline bool pack_is_tiled(const PackHeader& h) { return h.bytes[TILED_FLAG] != 0; }
inline uint8_t pack_codec_kind(const PackHeader& h) { return h.bytes[CODEC_KIND]; }

// How a pack stores its entries: whole-entry or tiled, and for tiled packs
// the codec of the blocks (a CODEC_KIND value). Every entry is read and
// converted in its pack's mode.
struct PackMode {
  bool tiled = false;
  uint8_t codec_kind = 0;
};
inline PackMode pack_mode(const PackHeader& h) { return {pack_is_tiled(h), pack_codec_kind(h)}; }

// The name as text: up to the first NUL, at most 8 bytes.
std::string_view entry_name(const PackEntry& e);

// Text as every printed line shows it: a control byte (0x00-0x1F, 0x7F) as
// "\xNN" with two lower-case hex digits, so a name or path cannot drive the
// terminal or split a line; every other byte, backslash included, as it is.
std::string printable_text(std::string_view bytes);

// The name as printed (printable_text), NUL-terminated, for printf's "%s".
struct EntryNameText {
  char text[ENTRY_NAME_SIZE * 4 + 1];
};
EntryNameText entry_name_text(const PackEntry& e);

// Zero bytes that follow a payload of len bytes so the next entry starts on
// a multiple of 4.
inline uint32_t pack_padding(uint64_t len) { return static_cast<uint32_t>((4 - (len & 3)) & 3); }

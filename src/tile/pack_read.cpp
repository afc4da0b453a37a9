// SPDX-License-Identifier: MIT
// Finding an entry of a pack that lies in memory (flash, on a device): the
// pack header, the entry table and each entry's EntryRect read in place,
// every offset checked against the pack's length before it is used. The
// tile library's own copy of the few pack records it needs, so firmware links
// nothing from the pack folder.
#include "morvane/pack.h"

#include <cstring>

#include "tile/byte_order.h"

namespace {

constexpr uint32_t kPackMagic = 0x19534552;  // "RES\x19"
constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kEntrySize = 16;
constexpr uint32_t kRectSize = 4;

uint32_t length_of(const uint8_t* pack, int32_t pack_len) {
  return pack != nullptr && pack_len > 0 ? uint32_t(pack_len) : 0;
}

}  // namespace

extern "C" {

int32_t morvane_pack_count(const uint8_t* pack, int32_t pack_len) {
  const uint32_t size = length_of(pack, pack_len);
  if (size < kHeaderSize) return MORVANE_PACK_ERR_SHORT;
  if (load_le32(pack) != kPackMagic) return MORVANE_PACK_ERR_MAGIC;
  const uint32_t count = load_le16(pack + 4);
  if (size < kHeaderSize + count * kEntrySize) return MORVANE_PACK_ERR_TABLE;
  return int32_t(count);
}

int32_t morvane_pack_entry_at(const uint8_t* pack, int32_t pack_len, int32_t index, morvane_pack_entry* entry) {
  if (entry != nullptr) std::memset(entry, 0, sizeof *entry);
  const int32_t count = morvane_pack_count(pack, pack_len);
  if (count < 0) return count;
  if (index < 0 || index >= count) return MORVANE_PACK_ERR_INDEX;
  // PackEntry: offset u32, len bits 0-15, type, name[8], len bits 16-23.
  const uint8_t* e = pack + kHeaderSize + uint32_t(index) * kEntrySize;
  const uint32_t offset = load_le32(e);
  const uint32_t len = load_le16(e + 4) | uint32_t{e[15]} << 16;
  if (len < kRectSize) return MORVANE_PACK_ERR_LENGTH;
  // len is below 2^24, so offset + len cannot wrap once offset is in range.
  const uint32_t size = uint32_t(pack_len);
  if (offset > size || len > size - offset) return MORVANE_PACK_ERR_ENTRY;
  if (entry != nullptr) {
    const uint8_t* rect = pack + offset;
    entry->data = rect + kRectSize;
    entry->length = int32_t(len - kRectSize);
    entry->width = load_le16(rect);
    entry->height = load_le16(rect + 2);
    entry->type = e[6];
    std::memcpy(entry->name, e + 7, 8);
  }
  return 0;
}

int32_t morvane_pack_find(const uint8_t* pack, int32_t pack_len, const char* name, morvane_pack_entry* entry) {
  if (entry != nullptr) std::memset(entry, 0, sizeof *entry);
  const int32_t count = morvane_pack_count(pack, pack_len);
  if (count < 0) return count;
  // The name as the field holds it: NUL-padded to 8 bytes. A longer name
  // matches nothing.
  uint8_t key[8] = {};
  if (name == nullptr) return MORVANE_PACK_ERR_NOT_FOUND;
  for (uint32_t i = 0; name[i] != '\0'; ++i) {
    if (i == 8) return MORVANE_PACK_ERR_NOT_FOUND;
    key[i] = uint8_t(name[i]);
  }
  for (int32_t i = 0; i < count; ++i) {
    if (std::memcmp(pack + kHeaderSize + uint32_t(i) * kEntrySize + 7, key, 8) != 0) continue;
    const int32_t rc = morvane_pack_entry_at(pack, pack_len, i, entry);
    return rc < 0 ? rc : i;
  }
  return MORVANE_PACK_ERR_NOT_FOUND;
}

const char* morvane_pack_error_text(int32_t code) {
  switch (code) {
    case MORVANE_PACK_ERR_SHORT: return "shorter than a pack header";
    case MORVANE_PACK_ERR_MAGIC: return "not a pack";
    case MORVANE_PACK_ERR_TABLE: return "entry table cut short";
    case MORVANE_PACK_ERR_INDEX: return "no entry of that index";
    case MORVANE_PACK_ERR_LENGTH: return "entry length below 4";
    case MORVANE_PACK_ERR_ENTRY: return "entry data outside the pack";
    case MORVANE_PACK_ERR_NOT_FOUND: return "no entry of that name";
    default: return "unknown pack error";
  }
}

}  // extern "C"

// SPDX-License-Identifier: MIT
/* Finding an entry of a pack that lies in memory (flash, on a device): the
   pack header, the entry table and each entry's EntryRect read in place,
   every offset checked against the pack's length before it is used. The
   tile library's own copy of the few pack records it needs, so firmware
   links nothing from the pack folder. */
#include "morvane/pack.h"

#include <string.h>

#include "tile/byte_order.h"

#define PACK_MAGIC 0x19534552u /* "RES\x19" */
#define HEADER_SIZE 16u
#define ENTRY_SIZE 16u
#define RECT_SIZE 4u

int32_t morvane_pack_count(const uint8_t *pack, int32_t pack_len) {
  const uint32_t size = pack != NULL && pack_len > 0 ? (uint32_t)pack_len : 0;
  uint32_t count;
  if (size < HEADER_SIZE) return MORVANE_PACK_ERR_SHORT;
  if (load_le32(pack) != PACK_MAGIC) return MORVANE_PACK_ERR_MAGIC;
  count = load_le16(pack + 4);
  if (size < HEADER_SIZE + count * ENTRY_SIZE) return MORVANE_PACK_ERR_TABLE;
  return (int32_t)count;
}

int32_t morvane_pack_entry_at(const uint8_t *pack, int32_t pack_len, int32_t index, morvane_pack_entry *entry) {
  const uint8_t *e;
  uint32_t offset, len, size;
  int32_t count;
  if (entry != NULL) memset(entry, 0, sizeof *entry);
  count = morvane_pack_count(pack, pack_len);
  if (count < 0) return count;
  if (index < 0 || index >= count) return MORVANE_PACK_ERR_INDEX;
  /* PackEntry: offset u32, len bits 0-15, type, name[8], len bits 16-23. */
  e = pack + HEADER_SIZE + (uint32_t)index * ENTRY_SIZE;
  offset = load_le32(e);
  len = load_le16(e + 4) | (uint32_t)e[15] << 16;
  if (len < RECT_SIZE) return MORVANE_PACK_ERR_LENGTH;
  /* len is below 2^24, so offset + len cannot wrap once offset is in
     range. */
  size = (uint32_t)pack_len;
  if (offset > size || len > size - offset) return MORVANE_PACK_ERR_ENTRY;
  if (entry != NULL) {
    const uint8_t *rect = pack + offset;
    entry->data = rect + RECT_SIZE;
    entry->length = (int32_t)(len - RECT_SIZE);
    entry->width = load_le16(rect);
    entry->height = load_le16(rect + 2);
    entry->type = e[6];
    memcpy(entry->name, e + 7, 8);
  }
  return 0;
}

int32_t morvane_pack_find(const uint8_t *pack, int32_t pack_len, const char *name, morvane_pack_entry *entry) {
  /* The name as the field holds it: NUL-padded to 8 bytes. A longer name
     matches nothing. */
  uint8_t key[8] = {0};
  int32_t count, i;
  uint32_t k;
  if (entry != NULL) memset(entry, 0, sizeof *entry);
  count = morvane_pack_count(pack, pack_len);
  if (count < 0) return count;
  if (name == NULL) return MORVANE_PACK_ERR_NOT_FOUND;
  for (k = 0; name[k] != '\0'; ++k) {
    if (k == 8) return MORVANE_PACK_ERR_NOT_FOUND;
    key[k] = (uint8_t)name[k];
  }
  for (i = 0; i < count; ++i) {
    if (memcmp(pack + HEADER_SIZE + (uint32_t)i * ENTRY_SIZE + 7, key, 8) != 0) continue;
    {
      const int32_t rc = morvane_pack_entry_at(pack, pack_len, i, entry);
      return rc < 0 ? rc : i;
    }
  }
  return MORVANE_PACK_ERR_NOT_FOUND;
}

const char *morvane_pack_error_text(int32_t code) {
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

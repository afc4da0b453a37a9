// SPDX-License-Identifier: MIT
/*
 * morvane/pack.h: the entries of a pack that lies in memory, callable from
 * C99.
 *
 * A device keeps a whole pack (docs/format.md: a 16-byte header, a table of
 * 16-byte entries, then each entry's data) in flash. These calls find an
 * entry by its index or name and give where its data lies, inside the pack:
 * nothing is copied or allocated, and nothing is read outside
 * pack[0 .. pack_len). The data of a compressed tiled pack's images (type
 * MORVANE_PACK_TYPE_TILED) is a tiled image block for <morvane/tile.h>:
 *
 *   morvane_pack_entry e;
 *   if (morvane_pack_find(pack, pack_len, "logo", &e) >= 0 && e.type == MORVANE_PACK_TYPE_TILED)
 *     morvane_tile_decode(dec, e.data, e.length, x, y, w, h, fb, pitch, fb_size);
 *
 * Part of libmorvane_tile.a. No state: any call may run on any thread.
 * Lengths and indexes are signed 32-bit; a negative length counts as 0, and
 * a null pack as one of 0 bytes.
 */
#ifndef MORVANE_PACK_H
#define MORVANE_PACK_H

#include <stdint.h>

#include <morvane/version.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The entry type codes a device tells apart; docs/format.md has them all
   (the others are pixel arrays, raw or LZ4-compressed whole). */
#define MORVANE_PACK_TYPE_JPEG 38  /* JPEG data */
#define MORVANE_PACK_TYPE_TILED 39 /* a tiled image block (<morvane/tile.h>) */

/* Results: 0 (or a count or index), or negative, distinct from the
   morvane_tile_error codes. */
typedef enum morvane_pack_error {
  MORVANE_PACK_OK = 0,
  MORVANE_PACK_ERR_SHORT = -60,     /* shorter than the 16-byte pack header */
  MORVANE_PACK_ERR_MAGIC = -61,     /* the first four bytes are not 52 45 53 19 */
  MORVANE_PACK_ERR_TABLE = -62,     /* shorter than the header and its entry table */
  MORVANE_PACK_ERR_INDEX = -63,     /* no entry of that index */
  MORVANE_PACK_ERR_LENGTH = -64,    /* an entry's stored len below 4 (no room for its EntryRect) */
  MORVANE_PACK_ERR_ENTRY = -65,     /* an entry's EntryRect or data reaches outside the pack */
  MORVANE_PACK_ERR_NOT_FOUND = -66  /* no entry of that name */
} morvane_pack_error;

/* One entry, as morvane_pack_entry_at and morvane_pack_find give it. */
typedef struct morvane_pack_entry {
  const uint8_t *data;    /* the bytes after the entry's EntryRect, inside the pack */
  int32_t length;         /* their number: the entry's stored len - 4 */
  uint16_t width, height; /* its EntryRect */
  uint8_t type;           /* its type code: MORVANE_PACK_TYPE_TILED, _JPEG, ... */
  char name[9];           /* the 8-byte name field, NUL-terminated */
} morvane_pack_entry;

/*
 * The number of entries of the pack_len bytes at `pack` (0 to 65535), or
 * MORVANE_PACK_ERR_SHORT, _MAGIC or _TABLE (in the order of these checks).
 */
int32_t morvane_pack_count(const uint8_t *pack, int32_t pack_len);

/*
 * Fills *entry with entry `index` (from 0) and returns 0; or returns, with
 * *entry zeroed, the error of morvane_pack_count, then
 * MORVANE_PACK_ERR_INDEX for an index outside 0 to count - 1,
 * MORVANE_PACK_ERR_LENGTH for a stored len below 4, and
 * MORVANE_PACK_ERR_ENTRY when the entry's len bytes from its offset reach
 * outside the pack. entry may be NULL to check an entry alone.
 */
int32_t morvane_pack_entry_at(const uint8_t *pack, int32_t pack_len, int32_t index, morvane_pack_entry *entry);

/*
 * Finds the first entry whose 8-byte name field equals `name` padded with
 * NUL bytes to 8 (so a name of more than 8 characters matches none), fills
 * *entry as morvane_pack_entry_at does and returns its index; or returns,
 * with *entry zeroed, the error of morvane_pack_count, the error of
 * morvane_pack_entry_at for the entry found, or MORVANE_PACK_ERR_NOT_FOUND
 * (also for a NULL name). entry may be NULL.
 */
int32_t morvane_pack_find(const uint8_t *pack, int32_t pack_len, const char *name, morvane_pack_entry *entry);

/*
 * One line of text (no line end) for a morvane_pack_error, or
 * "unknown pack error". The text is static; do not free it.
 */
const char *morvane_pack_error_text(int32_t code);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_PACK_H */

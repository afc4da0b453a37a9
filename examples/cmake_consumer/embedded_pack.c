// SPDX-License-Identifier: MIT
/* A pack linked in by morvane_add_pack (see CMakeLists.txt): the array
   `pictures` and an index macro per entry, from pictures.h. Decodes every
   entry whole; exit status 0 when all decode. */
#include <morvane/pack.h>
#include <morvane/tile.h>

#include <stdio.h>

#include "pictures.h"

#define MAX_TILE_BYTES (64 * 64 * 4)
static uint64_t decoder_memory[(MORVANE_TILE_DECODER_SIZE(MAX_TILE_BYTES) + 7) / 8];
static uint8_t image[64 * 64 * 4];

int main(void) {
  morvane_tile_decoder *dec = morvane_tile_decoder_init(decoder_memory, sizeof decoder_memory, MAX_TILE_BYTES);
  const int32_t count = morvane_pack_count(pictures, (int32_t)pictures_size);
  int32_t i;
  for (i = 0; i < count; ++i) {
    morvane_pack_entry e;
    int32_t rc = morvane_pack_entry_at(pictures, (int32_t)pictures_size, i, &e);
    if (rc < 0) {
      printf("entry %d: %s\n", (int)i, morvane_pack_error_text(rc));
      return 1;
    }
    /* Rows 4 bytes a pixel apart: room for any pixel size. */
    rc = morvane_tile_decode(dec, e.data, e.length, 0, 0, e.width, e.height, image, e.width * 4,
                             (int32_t)sizeof image);
    if (rc < 0) {
      printf("%s: %s\n", e.name, morvane_tile_error_text(rc));
      return 1;
    }
  }
  printf("%d entries of %u bytes decoded; grey is entry %d\n", (int)count, (unsigned)pictures_size, pictures_grey);
  return count > 0 ? 0 : 1;
}

// SPDX-License-Identifier: MIT
/* Drawing part of an image from a pack in flash, as firmware does it: the
   pack is a byte array (on a device: in flash), the image is found by name,
   and a region of it is decoded straight into a framebuffer whose rows are
   longer than the region's, through a decoder that lives in a static array.
   Nothing is allocated.

     cc -std=c99 decode_region.c $(pkg-config --cflags morvane-tile) \
        $(pkg-config --static --libs morvane-tile) -o decode_region
     ./decode_region                     the pack below: "logo", checked
     ./decode_region PACK NAME X Y W H   an entry of a pack that morvane -c
                                         wrote in tiled mode
*/
#include <morvane/pack.h>
#include <morvane/tile.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* A tiled pack of two entries: "boot", 2 x 2 raw pixels of one byte, and
   "logo", a 20 x 12 image of 2-byte pixels in 8 x 8 tiles, run-length coded
   (each tile one colour: see logo_pixel). */
static const uint8_t flash_pack[] = {
    0x52, 0x45, 0x53, 0x19, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00,
    0x30, 0x00, 0x00, 0x00, 0x08, 0x00, 0x1e, 0x62, 0x6f, 0x6f, 0x74, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x38, 0x00, 0x00, 0x00, 0x56, 0x00, 0x27, 0x6c, 0x6f, 0x67, 0x6f, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x02, 0x00, 0x02, 0x00, 0x01, 0x02, 0x03, 0x04, 0x14, 0x00, 0x0c, 0x00, 0x43, 0x45, 0x4c, 0x52,
    0x14, 0x00, 0x0c, 0x00, 0x08, 0x00, 0x08, 0x00, 0x01, 0x02, 0x06, 0x00, 0x40, 0x00, 0x00, 0x00,
    0x03, 0x00, 0x00, 0x00, 0x43, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x46, 0x00, 0x00, 0x00,
    0x03, 0x00, 0x00, 0x00, 0x49, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x4c, 0x00, 0x00, 0x00,
    0x03, 0x00, 0x00, 0x00, 0x4f, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0xc0, 0x04, 0x21, 0xc0,
    0x08, 0x42, 0xa0, 0x0c, 0x63, 0xa0, 0x04, 0xa1, 0xa0, 0x08, 0xc2, 0x90, 0x0c, 0xe3, 0x00, 0x00,
};

/* The pixel of "logo" at (x, y), as the bytes of a little-endian 16-bit
   value. */
static uint16_t logo_pixel(int x, int y) { return (uint16_t)(0x2104 * (x / 8 + 1) + 0x8000 * (y / 8)); }

/* The largest tile this firmware shows (64 x 64 pixels of 4 bytes), and the
   decoder's memory: a static array, aligned to 8 by its element type. */
#define MAX_TILE_BYTES (64 * 64 * 4)
static uint64_t decoder_memory[(MORVANE_TILE_DECODER_SIZE(MAX_TILE_BYTES) + 7) / 8];

/* A framebuffer of 320 x 240 pixels of up to 4 bytes, each row padded to a
   pitch of 1344 bytes. */
#define FB_WIDTH 320
#define FB_HEIGHT 240
#define FB_PITCH 1344
static uint8_t framebuffer[FB_PITCH * FB_HEIGHT];

/* A pack read from a file, for the command-line form. */
static uint8_t file_pack[4 << 20];

static int32_t read_pack(const char *path) {
  FILE *f = fopen(path, "rb");
  size_t n;
  if (f == NULL) return -1;
  n = fread(file_pack, 1, sizeof file_pack, f);
  if (n == sizeof file_pack && fgetc(f) != EOF) n = (size_t)-1; /* larger than the buffer */
  fclose(f);
  return n == (size_t)-1 ? -1 : (int32_t)n;
}

int main(int argc, char **argv) {
  const uint8_t *pack = flash_pack;
  int32_t pack_len = (int32_t)sizeof flash_pack;
  const char *name = "logo";
  int32_t x = 5, y = 3, w = 14, h = 9; /* across all six tiles */
  int32_t at_x = 2, at_y = 1;          /* where the region lands */
  morvane_tile_decoder *dec;
  morvane_pack_entry entry;
  morvane_tile_info info;
  int32_t index, rc, n, i, j;

  if (argc == 7) {
    pack_len = read_pack(argv[1]);
    if (pack_len < 0) {
      printf("cannot read %s, or it is larger than %u bytes\n", argv[1], (unsigned)sizeof file_pack);
      return 1;
    }
    pack = file_pack;
    name = argv[2];
    x = atoi(argv[3]);
    y = atoi(argv[4]);
    w = atoi(argv[5]);
    h = atoi(argv[6]);
    at_x = at_y = 0;
  } else if (argc != 1) {
    printf("usage: %s [PACK NAME X Y W H]\n", argv[0]);
    return 2;
  }

  /* Once, at start-up: the decoder. */
  dec = morvane_tile_decoder_init(decoder_memory, sizeof decoder_memory, MAX_TILE_BYTES);
  if (dec == NULL) {
    printf("no room for a decoder\n");
    return 1;
  }

  /* The entry, in place in the pack. */
  index = morvane_pack_find(pack, pack_len, name, &entry);
  if (index < 0) {
    printf("%s: %s\n", name, morvane_pack_error_text(index));
    return 1;
  }
  rc = morvane_tile_image_read(entry.data, entry.length, &info);
  if (entry.type != 39 || rc != 0) {
    printf("%s: type %u, not a tiled image block (%s)\n", name, (unsigned)entry.type,
           rc != 0 ? morvane_tile_error_text(rc) : "type");
    return 1;
  }
  printf("%s: entry %d, %ux%u pixels of %u bytes, tiles of %ux%u\n", entry.name, (int)index, info.width, info.height,
         info.bytes_per_pixel, info.tile_width, info.tile_height);
  if (at_x + w > FB_WIDTH || at_y + h > FB_HEIGHT || (at_x + w) * info.bytes_per_pixel > FB_PITCH) {
    printf("region %dx%d does not fit the framebuffer\n", (int)w, (int)h);
    return 1;
  }

  /* The region at (at_x, at_y) of the framebuffer, rows FB_PITCH apart; the
     room runs from there to the framebuffer's end. */
  memset(framebuffer, 0xEE, sizeof framebuffer);
  {
    const size_t start = (size_t)at_y * FB_PITCH + (size_t)at_x * info.bytes_per_pixel;
    n = morvane_tile_decode(dec, entry.data, entry.length, x, y, w, h, framebuffer + start, FB_PITCH,
                            (int32_t)(sizeof framebuffer - start));
  }
  if (n < 0) {
    printf("region %d,%d %dx%d: %s\n", (int)x, (int)y, (int)w, (int)h, morvane_tile_error_text(n));
    return 1;
  }
  printf("region %d,%d %dx%d: %d bytes\n", (int)x, (int)y, (int)w, (int)h, (int)n);
  /* When the pack's memory is written again (a new pack flashed), the tile
     the decoder holds must go first. */
  morvane_tile_decoder_forget(dec, entry.data);

  if (pack == flash_pack) {
    /* Every pixel of the region in its place, every other byte untouched. */
    for (j = 0; j < FB_HEIGHT; ++j) {
      for (i = 0; i < FB_PITCH; ++i) {
        const int px = i / 2 - at_x + x, py = j - at_y + y;
        const int inside = i < (at_x + w) * 2 && i >= at_x * 2 && j >= at_y && j < at_y + h;
        const uint8_t want = inside ? (uint8_t)(logo_pixel(px, py) >> (8 * (i % 2))) : 0xEE;
        if (framebuffer[(size_t)j * FB_PITCH + (size_t)i] != want) {
          printf("unexpected byte at row %d, byte %d\n", (int)j, (int)i);
          return 1;
        }
      }
    }
    printf("ok\n");
  }
  return 0;
}

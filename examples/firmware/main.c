// SPDX-License-Identifier: MIT
/* Draws regions of every entry of two packs in flash (made by
   morvane_add_pack from the pictures in pictures/: one of LZ4 tiles, one of
   run-length tiles) into a framebuffer whose rows are longer than any
   image's, and checks every byte: the region's against the pixels the
   pictures were drawn with, every other byte untouched. Prints one line a
   pack and returns 0 when all agree. */
#include <morvane/pack.h>
#include <morvane/tile.h>

#include <stdint.h>
#include <string.h>

#include "pack_lz4.h"
#include "pack_rle.h"
#include "semihost.h"

/* The largest tile of these packs: 256 pixels of 4 bytes (a TileHint is an
   area budget; lz4.json and rle.json in pictures/ ask for at most
   16 x 16). */
#define MAX_TILE_BYTES (256 * 4)
static uint64_t decoder_memory[(MORVANE_TILE_DECODER_SIZE(MAX_TILE_BYTES) + 7) / 8];

/* 24 rows with a pitch wider than any image's row (45 pixels of 2 bytes),
   and where regions land in it. */
#define FB_PITCH 136
#define FB_ROWS 24
#define AT_X 3
#define AT_Y 2
#define UNTOUCHED 0xA5
static uint8_t framebuffer[FB_ROWS * FB_PITCH];

/* The bytes of pixel (x, y) of each picture as its entry stores it (the
   formulas the PNG files were drawn with; docs/manifest.md's conversions). */
static void picture_pixel(char picture, int32_t x, int32_t y, uint8_t *px) {
  if (picture == 'g') { /* grey.png, a8 */
    px[0] = (uint8_t)((x / 3) * 7 + (y / 2) * 11);
  } else if (picture == 'c') { /* color.png, argb8888: B, G, R, A */
    px[0] = (uint8_t)((x / 5) * (y / 4) * 7);
    px[1] = (uint8_t)((y / 3) * 13);
    px[2] = (uint8_t)((x / 4) * 9);
    px[3] = (uint8_t)(255 - (x / 6) * 8);
  } else { /* rgb.png, rgb565, rounded to nearest */
    uint32_t r = ((uint32_t)((x / 4) * 20 & 255) * 31 + 127) / 255;
    uint32_t g = ((uint32_t)(y * 17 & 255) * 63 + 127) / 255;
    uint32_t b = ((uint32_t)((x + y) / 5 * 9 & 255) * 31 + 127) / 255;
    uint32_t v = r << 11 | g << 5 | b;
    px[0] = (uint8_t)v;
    px[1] = (uint8_t)(v >> 8);
  }
}

/* Decodes region (x, y, w, h) of entry e to (AT_X, AT_Y) and checks the
   whole framebuffer; 0 or the decoder's error, 1 for a wrong byte. */
static int32_t draw_and_check(morvane_tile_decoder *dec, const morvane_pack_entry *e, int32_t bpp, int32_t x,
                              int32_t y, int32_t w, int32_t h) {
  uint8_t *at = framebuffer + AT_Y * FB_PITCH + AT_X * bpp;
  uint8_t px[4];
  int32_t rc, row, col;
  memset(framebuffer, UNTOUCHED, sizeof framebuffer);
  rc = morvane_tile_decode(dec, e->data, e->length, x, y, w, h, at, FB_PITCH,
                           (int32_t)(framebuffer + sizeof framebuffer - at));
  if (rc != w * h * bpp) return rc < 0 ? rc : 1;
  for (row = 0; row < FB_ROWS; ++row) {
    for (col = 0; col < FB_PITCH; ++col) {
      int32_t i = row - AT_Y, j = col - AT_X * bpp;
      uint8_t want = UNTOUCHED;
      if (i >= 0 && i < h && j >= 0 && j < w * bpp) {
        picture_pixel(e->name[0], x + j / bpp, y + i, px);
        want = px[j % bpp];
      }
      if (framebuffer[row * FB_PITCH + col] != want) return 1;
    }
  }
  return 0;
}

/* Every entry, four regions each: the whole image, one across tiles, its
   last pixel, one row. The number of regions drawn, or -1. */
static int32_t check_pack(morvane_tile_decoder *dec, const uint8_t *pack, uint32_t size) {
  int32_t count = morvane_pack_count(pack, (int32_t)size), drawn = 0, i, r;
  if (count != 3 || ((uintptr_t)pack & 7) != 0) return -1;
  for (i = 0; i < count; ++i) {
    morvane_pack_entry e;
    morvane_tile_info info;
    int32_t rc = morvane_pack_entry_at(pack, (int32_t)size, i, &e);
    if (rc == 0) rc = morvane_tile_image_read(e.data, e.length, &info);
    if (rc < 0 || morvane_pack_find(pack, (int32_t)size, e.name, NULL) != i) return -1;
    {
      const int32_t w = info.width, h = info.height;
      const int32_t regions[4][4] = {{0, 0, w, h}, {w / 3, h / 4, w / 2, h / 2}, {w - 1, h - 1, 1, 1}, {1, h / 2, w - 2, 1}};
      for (r = 0; r < 4; ++r, ++drawn) {
        rc = draw_and_check(dec, &e, info.bytes_per_pixel, regions[r][0], regions[r][1], regions[r][2], regions[r][3]);
        if (rc != 0) {
          semihost_write(e.name);
          semihost_write(": region ");
          semihost_write_number(r);
          semihost_write(rc == 1 ? " differs\n" : " failed\n");
          return -1;
        }
      }
    }
    morvane_tile_decoder_forget(dec, e.data);
  }
  return drawn;
}

int main(void) {
  morvane_tile_decoder *dec;
  int32_t lz4, rle;
  if (morvane_tile_decoder_size(MAX_TILE_BYTES) > sizeof decoder_memory) return 1;
  dec = morvane_tile_decoder_init(decoder_memory, sizeof decoder_memory, MAX_TILE_BYTES);
  /* The index macros name the entries of each pack. */
  if (dec == NULL || pack_lz4_grey != 0 || pack_rle_rgb != 0 || pack_rle_color != 2) return 1;
  lz4 = check_pack(dec, pack_lz4, pack_lz4_size);
  rle = check_pack(dec, pack_rle, pack_rle_size);
  semihost_write("LZ4 tiles: ");
  semihost_write_number(lz4);
  semihost_write(" regions; run-length tiles: ");
  semihost_write_number(rle);
  semihost_write(lz4 > 0 && rle > 0 ? " regions, every byte as drawn\n" : " regions: FAILED\n");
  return lz4 > 0 && rle > 0 ? 0 : 1;
}

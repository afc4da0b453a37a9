// SPDX-License-Identifier: MIT
/* A program that only decodes, as firmware does: every decoding call of
   <morvane/tile.h> and <morvane/pack.h> and nothing else, over blocks of the
   three forms. Built from C files alone and linked by the C compiler; the
   tile_decode_only_* tests run it and check with nm that linking it pulled
   in no encoder (staging buffer, LZ4 HC), no printing and no C++ runtime.
   Exit status 0 when every result is the expected one. */
#include <morvane/pack.h>
#include <morvane/tile.h>

#include <string.h>

/* A 3 x 2 image of one byte per pixel, 05 05 09 / 05 05 09, in 2 x 2 tiles,
   run-length coded. */
static const uint8_t block[] = {0x43, 0x45, 0x4C, 0x52, 3, 0, 2, 0, 2, 0, 2, 0, 5, 1, 2, 0, 0x20, 0, 0, 0,
                                2,    0,    0,    0,    0x22, 0, 0, 0, 4, 0, 0, 0, 0x84, 5, 1, 9, 1, 9};

/* The 2 x 2 image 1 2 / 3 4 as one LZ4 tile (a block of 4 literals), and
   untiled. */
static const uint8_t lz4_block[] = {0x43, 0x34, 0x5A, 0x4C, 2, 0, 2, 0, 2, 0, 2, 0, 5, 1, 1, 0,
                                    24,   0,    0,    0,    5, 0, 0, 0, 0x40, 1, 2, 3, 4};
static const uint8_t raw_block[] = {0x43, 0x57, 0x41, 0x52, 2, 0, 2, 0, 2, 0, 2, 0, 5, 1, 1, 0, 1, 2, 3, 4};

/* A pack of one entry, "px", of 2 bytes after its EntryRect. */
static const uint8_t pack[] = {0x52, 0x45, 0x53, 0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               32,   0,    0,    0,    6, 0, 30, 'p', 'x', 0, 0, 0, 0, 0, 0, 0,
                               2,    0,    1,    0,    7, 8, 0, 0};

int main(void) {
  static uint8_t out[6];
  static uint8_t strided[2 * 4];
  static uint64_t memory[(MORVANE_TILE_DECODER_SIZE(4) + 7) / 8];
  static const uint8_t image[6] = {5, 5, 9, 5, 5, 9};
  const uint8_t run[2] = {0x83, 0x41};
  morvane_tile_decoder *dec = morvane_tile_decoder_init(memory, sizeof memory, 4);
  morvane_tile_info info;
  morvane_pack_entry entry;
  int failures = 0;

  if (morvane_tile_image_read(block, (int32_t)sizeof block, &info) != 0 || info.width != 3 || info.height != 2 ||
      info.tile_count != 2 || info.bytes_per_pixel != 1)
    ++failures;
  if (morvane_decode_tile_region(block, out, (int32_t)sizeof block, (int32_t)sizeof out, 0, 0, 3, 2) != 6 ||
      memcmp(out, image, 6) != 0)
    ++failures;
  if (morvane_decode_tile_region(block, out, (int32_t)sizeof block - 1, (int32_t)sizeof out, 0, 0, 3, 2) !=
      MORVANE_TILE_ERR_PAYLOAD)
    ++failures;
  morvane_tile_cache_forget(block);
  /* Columns 1 and 2, rows 4 bytes apart. */
  if (dec == NULL || morvane_tile_decoder_size(4) > sizeof memory ||
      morvane_tile_decode(dec, block, (int32_t)sizeof block, 1, 0, 2, 2, strided, 4, 6) != 4 || strided[0] != 5 ||
      strided[1] != 9 || strided[2] != 0 || strided[4] != 5 || strided[5] != 9)
    ++failures;
  morvane_tile_decoder_forget(dec, block);
  /* Column 1 of each, rows 2 bytes apart: 2 . 4 */
  memset(strided, 0, sizeof strided);
  if (morvane_tile_decode(dec, lz4_block, (int32_t)sizeof lz4_block, 1, 0, 1, 2, strided, 2, 3) != 2 ||
      strided[0] != 2 || strided[1] != 0 || strided[2] != 4)
    ++failures;
  memset(strided, 0, sizeof strided);
  if (morvane_tile_decode(dec, raw_block, (int32_t)sizeof raw_block, 1, 0, 1, 2, strided, 2, 3) != 2 ||
      strided[0] != 2 || strided[1] != 0 || strided[2] != 4)
    ++failures;
  if (morvane_decode_rle_pixels(run, out, 2, 3, 1) != 3 || out[2] != 0x41) ++failures;
  if (strcmp(morvane_tile_error_text(MORVANE_TILE_ERR_PAYLOAD), "tile data outside the block") != 0) ++failures;
  if (morvane_tile_buffer_size() < 6) ++failures;
  if (morvane_pack_count(pack, (int32_t)sizeof pack) != 1 || morvane_pack_entry_at(pack, 40, 0, &entry) != 0 ||
      morvane_pack_find(pack, (int32_t)sizeof pack, "px", &entry) != 0 || entry.length != 2 || entry.data[1] != 8 ||
      strcmp(morvane_pack_error_text(MORVANE_PACK_ERR_MAGIC), morvane_pack_error_text(0)) == 0)
    ++failures;
  return failures == 0 ? 0 : 1;
}

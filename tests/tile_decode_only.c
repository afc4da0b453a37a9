/* A program that only decodes, as firmware does: every decoding call of
   <morvane/tile.h> and nothing else. The tile_decode_only_* tests run it and
   check with nm that linking it pulled in no encoder (staging buffer, LZ4 HC)
   and no printing. Exit status 0 when every result is the expected one. */
#include <morvane/tile.h>

#include <string.h>

/* A 3 x 2 image of one byte per pixel, 05 05 09 / 05 05 09, in 2 x 2 tiles,
   run-length coded. */
static const uint8_t block[] = {0x43, 0x45, 0x4C, 0x52, 3, 0, 2, 0, 2, 0, 2, 0, 5, 1, 2, 0, 0x20, 0, 0, 0,
                                2,    0,    0,    0,    0x22, 0, 0, 0, 4, 0, 0, 0, 0x84, 5, 1, 9, 1, 9};

int main(void) {
  static uint8_t out[6];
  static const uint8_t image[6] = {5, 5, 9, 5, 5, 9};
  const uint8_t run[2] = {0x83, 0x41};
  morvane_tile_info info;
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
  if (morvane_decode_rle_pixels(run, out, 2, 3, 1) != 3 || out[2] != 0x41) ++failures;
  if (strcmp(morvane_tile_error_text(MORVANE_TILE_ERR_PAYLOAD), "tile data outside the block") != 0) ++failures;
  if (morvane_tile_buffer_size() < 6) ++failures;
  return failures == 0 ? 0 : 1;
}

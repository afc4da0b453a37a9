/* Decoding one region of a tiled image block, as firmware does it: the block
   sits in a byte array (on a device: in flash, or read from a pack entry; here
   also from a file given on the command line), the output is a static buffer,
   and nothing is allocated.

     cc -std=c99 decode_region.c $(pkg-config --cflags morvane-tile) \
        $(pkg-config --static --libs morvane-tile) -o decode_region
     ./decode_region                       the block below, region (1, 0) 2 x 2
     ./decode_region BLOCK X Y W H         a block written by morvane -c
*/
#include <morvane/tile.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* A 3 x 2 image of one byte per pixel (05 05 09 / 05 05 09) in tiles of
   2 x 2, run-length coded: the 16-byte header, two TileRefs, the payloads. */
static const uint8_t builtin_block[] = {
    0x43, 0x45, 0x4C, 0x52, 0x03, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x05, 0x01, 0x02, 0x00,
    0x20, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x22, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,
    0x84, 0x05, 0x01, 0x09, 0x01, 0x09};

static uint8_t file_block[256 * 1024];
static uint8_t region[64 * 1024];

static int32_t read_block(const char *path) {
  FILE *f = fopen(path, "rb");
  size_t n;
  if (f == NULL) return -1;
  n = fread(file_block, 1, sizeof file_block, f);
  if (n == sizeof file_block && fgetc(f) != EOF) n = (size_t)-1; /* larger than the buffer */
  fclose(f);
  return n == (size_t)-1 ? -1 : (int32_t)n;
}

int main(int argc, char **argv) {
  const uint8_t *block = builtin_block;
  int32_t block_len = (int32_t)sizeof builtin_block;
  int32_t x = 1, y = 0, w = 2, h = 2;
  morvane_tile_info info;
  int32_t n, i;

  if (argc == 6) {
    block_len = read_block(argv[1]);
    if (block_len < 0) {
      printf("cannot read %s, or it is larger than %u bytes\n", argv[1], (unsigned)sizeof file_block);
      return 1;
    }
    block = file_block;
    x = atoi(argv[2]);
    y = atoi(argv[3]);
    w = atoi(argv[4]);
    h = atoi(argv[5]);
  } else if (argc != 1) {
    printf("usage: %s [BLOCK X Y W H]\n", argv[0]);
    return 2;
  }

  /* The header tells the pixel size, and so the output a region needs. */
  n = morvane_tile_image_read(block, block_len, &info);
  if (n != 0) {
    printf("not a tiled image block: %s\n", morvane_tile_error_text(n));
    return 1;
  }
  printf("%ux%u pixels, %u bytes per pixel, %u tiles of %ux%u\n", info.width, info.height, info.bytes_per_pixel,
         info.tile_count, info.tile_width, info.tile_height);

  n = morvane_decode_tile_region(block, region, block_len, (int32_t)sizeof region, x, y, w, h);
  if (n < 0) {
    printf("region %d,%d %dx%d: %s\n", (int)x, (int)y, (int)w, (int)h, morvane_tile_error_text(n));
    return 1;
  }
  printf("region %d,%d %dx%d: %d bytes\n", (int)x, (int)y, (int)w, (int)h, (int)n);
  for (i = 0; i < n && i < 64; ++i) printf("%02x%s", region[i], (i + 1) % (w * info.bytes_per_pixel) ? " " : "\n");
  if (i < n) printf("...\n");

  /* Before the block's memory is reused, the cached tile is given up. */
  morvane_tile_cache_forget(block);

  if (block == builtin_block) {
    static const uint8_t expected[] = {0x05, 0x09, 0x05, 0x09};
    if (n != 4 || memcmp(region, expected, sizeof expected) != 0) {
      printf("unexpected pixels\n");
      return 1;
    }
  }
  return 0;
}

// SPDX-License-Identifier: MIT
/*
 * morvane_lvgl.h: an LVGL 9 image decoder that draws the images of a morvane
 * pack straight from the pack in flash (docs/lvgl.md).
 *
 * Tiled image blocks ("C4ZL", "CELR") are decoded through LVGL's get_area_cb
 * in bands one tile high: only the tiles under the area LVGL redraws are
 * decoded, into LVGL's draw buffer with its stride. Untiled blocks ("CWAR")
 * and raw entries are drawn in place; whole-entry LZ4 entries are decoded
 * whole when LVGL opens them, as LVGL's own binary decoder does with its
 * compressed images.
 *
 * C99. Needs LVGL 9 (its root on the include path), <morvane/pack.h> and
 * <morvane/tile.h>, linked with libmorvane_tile.a.
 */
#ifndef MORVANE_LVGL_H
#define MORVANE_LVGL_H

#include <stdint.h>

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Registers the decoder with LVGL; call once after lv_init(). It is tried
   before the decoders registered earlier, and takes only the descriptors
   that morvane_lvgl_image and morvane_lvgl_image_at filled. */
void morvane_lvgl_init(void);

/*
 * Fills *dsc for the first entry named `name` of the pack_size bytes at
 * `pack` (which must stay where they are while the image is shown), for
 * lv_image_set_src(obj, dsc). cf 0 takes the colour format of the entry's
 * bytes per pixel (1: A8, 2: RGB565, 3: RGB888, 4: ARGB8888); any other
 * value names the layout of the pixels in the pack (L8, RGB565_SWAPPED,
 * XRGB8888, ARGB8888_PREMULTIPLIED, ...) and must have the entry's bytes per
 * pixel. Returns LV_RESULT_OK, or LV_RESULT_INVALID with a line through
 * LV_LOG_WARN for a damaged pack or block, an entry that is not there or is
 * not an image (JPEG data), or a cf of other bytes per pixel; *dsc is then
 * zeroed.
 */
lv_result_t morvane_lvgl_image(const uint8_t *pack, uint32_t pack_size, const char *name, lv_color_format_t cf,
                               lv_image_dsc_t *dsc);

/* The same for entry `index` (from 0), as `morvane-tool embed` numbers them. */
lv_result_t morvane_lvgl_image_at(const uint8_t *pack, uint32_t pack_size, int32_t index, lv_color_format_t cf,
                                  lv_image_dsc_t *dsc);

#ifdef MORVANE_LVGL_COUNT_TILES
/* Built for tests: the tiles the decoder has been asked to decode since the
   last reset, counted per band (a tile held from the band before counts
   again). */
extern uint32_t morvane_lvgl_tiles_requested;
#endif

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_LVGL_H */

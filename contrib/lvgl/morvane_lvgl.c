// SPDX-License-Identifier: MIT
/*
 * The LVGL 9 image decoder for morvane packs (morvane_lvgl.h, docs/lvgl.md).
 *
 * A descriptor filled here is an ordinary lv_image_dsc_t whose data is the
 * entry's data inside the pack and whose `reserved` field points at one of
 * the kinds below: that is how the decoder knows its own images, and what
 * it does with each.
 */
#include "morvane_lvgl.h"

#include <string.h>

#include "lvgl_private.h"
#include "morvane/pack.h"
#include "morvane/tile.h"

#if LV_USE_LZ4
#if LV_USE_LZ4_INTERNAL
#include "src/libs/lz4/lz4.h"
#else
#include <lz4.h>
#endif
#endif

/* What an entry holds, and so how it is drawn. */
enum kind {
  KIND_TILED, /* a "C4ZL" or "CELR" block: bands through get_area_cb */
  KIND_UNTILED, /* a "CWAR" block: its pixels in place, after the header */
  KIND_RAW,   /* raw pixels: in place */
  KIND_LZ4,   /* one LZ4 block of the pixels: decoded whole at open */
  KIND_COUNT
};
static const uint8_t kinds[KIND_COUNT] = {KIND_TILED, KIND_UNTILED, KIND_RAW, KIND_LZ4};

#define ENTRY_TYPE_JPEG 38
#define ENTRY_TYPE_TILED 39
#define TILE_HEADER_BYTES 16

/* An open image: the band buffer of a tiled one, or the whole image, and
   for a tiled one its decoder, in the same allocation after this record. */
typedef struct open_image {
  void *memory;            /* from lv_malloc: this record and the decoder */
  morvane_tile_decoder *dec;
  uint16_t tile_width, tile_height;
  lv_draw_buf_t *band;     /* tiled: one band of tiles, LVGL's stride */
  lv_draw_buf_t *owned;    /* decoded whole (LZ4) or adjusted by LVGL */
  lv_draw_buf_t in_place;  /* untiled and raw: a view of the pack */
} open_image;

#ifdef MORVANE_LVGL_COUNT_TILES
uint32_t morvane_lvgl_tiles_requested;
#endif

/* ---- Descriptors ----------------------------------------------------------- */

/* Bytes per pixel of an entry that is not a tiled block, by its type code
   (docs/format.md, "Type codes"). */
static uint32_t type_bytes_per_pixel(uint8_t type) {
  switch (type) {
    case 30: case 31: return 1;
    case 5: case 8: case 10: case 12: case 32: case 33: return 3;
    case 11: case 13: case 15: return 4;
    default: return 2;
  }
}

static const lv_color_format_t default_formats[5] = {LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_A8,
                                                     LV_COLOR_FORMAT_RGB565, LV_COLOR_FORMAT_RGB888,
                                                     LV_COLOR_FORMAT_ARGB8888};

static enum kind kind_of(const lv_image_dsc_t *img) {
  int k;
  for (k = 0; k < KIND_COUNT; ++k)
    if (img->reserved == &kinds[k]) return (enum kind)k;
  return KIND_COUNT;
}

/* The entry's pixels: their size and bytes per pixel, and their kind. */
static lv_result_t entry_layout(const morvane_pack_entry *e, uint32_t *w, uint32_t *h, uint32_t *bpp,
                                enum kind *kind) {
  morvane_tile_info info;
  int32_t rc;
  if (e->type == ENTRY_TYPE_JPEG) {
    LV_LOG_WARN("morvane: entry %s holds JPEG data, not pixels", e->name);
    return LV_RESULT_INVALID;
  }
  if (e->type != ENTRY_TYPE_TILED) {
    *w = e->width;
    *h = e->height;
    *bpp = type_bytes_per_pixel(e->type);
    *kind = (uint64_t)*w * *h * *bpp == (uint64_t)(uint32_t)e->length ? KIND_RAW : KIND_LZ4;
    return LV_RESULT_OK;
  }
  rc = morvane_tile_image_read(e->data, e->length, &info);
  if (rc < 0) {
    LV_LOG_WARN("morvane: entry %s: %s", e->name, morvane_tile_error_text(rc));
    return LV_RESULT_INVALID;
  }
  *w = info.width;
  *h = info.height;
  *bpp = info.bytes_per_pixel;
  *kind = info.magic == MORVANE_TILE_MAGIC_RAW ? KIND_UNTILED : KIND_TILED;
  return LV_RESULT_OK;
}

static lv_result_t describe(const morvane_pack_entry *e, lv_color_format_t cf, lv_image_dsc_t *dsc) {
  uint32_t w = 0, h = 0, bpp = 0;
  enum kind kind = KIND_COUNT;
  if (entry_layout(e, &w, &h, &bpp, &kind) != LV_RESULT_OK) return LV_RESULT_INVALID;
  if (w == 0 || h == 0) {
    LV_LOG_WARN("morvane: entry %s is an empty image", e->name);
    return LV_RESULT_INVALID;
  }
  if (cf == LV_COLOR_FORMAT_UNKNOWN) cf = default_formats[bpp];
  if (lv_color_format_get_size(cf) != bpp) {
    LV_LOG_WARN("morvane: entry %s has %u bytes per pixel, colour format %u has %u", e->name, (unsigned)bpp,
                (unsigned)cf, (unsigned)lv_color_format_get_size(cf));
    return LV_RESULT_INVALID;
  }
  dsc->header.magic = LV_IMAGE_HEADER_MAGIC;
  dsc->header.cf = cf;
  dsc->header.w = w;
  dsc->header.h = h;
  dsc->header.stride = w * bpp;
  dsc->data = e->data;
  dsc->data_size = (uint32_t)e->length;
  dsc->reserved = &kinds[kind];
  return LV_RESULT_OK;
}

static lv_result_t image_of(int32_t rc, const morvane_pack_entry *e, lv_color_format_t cf, lv_image_dsc_t *dsc) {
  if (dsc == NULL) return LV_RESULT_INVALID;
  memset(dsc, 0, sizeof *dsc);
  if (rc < 0) {
    LV_LOG_WARN("morvane: %s", morvane_pack_error_text(rc));
    return LV_RESULT_INVALID;
  }
  if (describe(e, cf, dsc) == LV_RESULT_OK) return LV_RESULT_OK;
  memset(dsc, 0, sizeof *dsc);
  return LV_RESULT_INVALID;
}

/* Packs above 2 GiB do not exist: the pack reader counts in int32_t. */
static int32_t pack_length(uint32_t pack_size) { return pack_size > INT32_MAX ? INT32_MAX : (int32_t)pack_size; }

lv_result_t morvane_lvgl_image(const uint8_t *pack, uint32_t pack_size, const char *name, lv_color_format_t cf,
                               lv_image_dsc_t *dsc) {
  morvane_pack_entry e;
  int32_t rc = morvane_pack_find(pack, pack_length(pack_size), name, &e);
  return image_of(rc, &e, cf, dsc);
}

lv_result_t morvane_lvgl_image_at(const uint8_t *pack, uint32_t pack_size, int32_t index, lv_color_format_t cf,
                                  lv_image_dsc_t *dsc) {
  morvane_pack_entry e;
  int32_t rc = morvane_pack_entry_at(pack, pack_length(pack_size), index, &e);
  return image_of(rc, &e, cf, dsc);
}

/* ---- Opening ------------------------------------------------------------- */

/* A record and, for a tiled block, a decoder of its tile size, aligned to 8
   bytes (lv_malloc may give 4). */
static open_image *open_record(const lv_image_dsc_t *img, enum kind kind) {
  morvane_tile_info info;
  size_t dec_size = 0;
  int32_t tile_bytes = 0;
  uint8_t *memory;
  uintptr_t at;
  open_image *o;
  if (kind == KIND_TILED) {
    int32_t rc = morvane_tile_image_read(img->data, (int32_t)img->data_size, &info);
    if (rc < 0) {
      LV_LOG_WARN("morvane: %s", morvane_tile_error_text(rc));
      return NULL;
    }
    tile_bytes = (int32_t)info.tile_width * info.tile_height * info.bytes_per_pixel;
    dec_size = morvane_tile_decoder_size(tile_bytes);
    if (dec_size == 0) {
      LV_LOG_WARN("morvane: tiles of %" LV_PRId32 " bytes", tile_bytes);
      return NULL;
    }
  }
  memory = lv_malloc(sizeof(open_image) + 8 + dec_size);
  if (memory == NULL) {
    LV_LOG_WARN("morvane: no memory to open an image");
    return NULL;
  }
  o = (open_image *)(void *)memory;
  memset(o, 0, sizeof *o);
  o->memory = memory;
  if (kind == KIND_TILED) {
    at = ((uintptr_t)(memory + sizeof(open_image)) + 7u) & ~(uintptr_t)7u;
    o->dec = morvane_tile_decoder_init((void *)at, dec_size, tile_bytes);
    /* A tile larger than the image needs a band no taller than the image. */
    o->tile_width = LV_MIN(info.tile_width, info.width);
    o->tile_height = LV_MIN(info.tile_height, info.height);
  }
  return o;
}

/* The whole image of an LZ4 entry, decoded into a new buffer. */
static lv_draw_buf_t *decode_whole(const lv_image_dsc_t *img) {
  const uint32_t bytes = img->header.stride * img->header.h;
  lv_draw_buf_t *buf = lv_draw_buf_create(img->header.w, img->header.h, img->header.cf, img->header.stride);
  if (buf == NULL) {
    LV_LOG_WARN("morvane: no memory for a whole image of %" LV_PRIu32 " bytes", bytes);
    return NULL;
  }
#if LV_USE_LZ4
  if (bytes <= INT32_MAX && img->data_size <= INT32_MAX &&
      LZ4_decompress_safe((const char *)img->data, (char *)buf->data, (int)img->data_size, (int)bytes) == (int)bytes)
    return buf;
  LV_LOG_WARN("morvane: an LZ4 entry that does not decode to its %" LV_PRIu32 " bytes", bytes);
#else
  LV_UNUSED(bytes);
  LV_LOG_WARN("morvane: an LZ4 entry, and LVGL built without LV_USE_LZ4");
#endif
  lv_draw_buf_destroy(buf);
  return NULL;
}

/* An untiled or raw image: a view of its pixels in the pack. */
static lv_draw_buf_t *view_in_place(open_image *o, const lv_image_dsc_t *img, enum kind kind) {
  lv_image_dsc_t pixels = *img;
  if (kind == KIND_UNTILED && img->data_size < TILE_HEADER_BYTES) return NULL;
  if (kind == KIND_UNTILED) {
    pixels.data += TILE_HEADER_BYTES;
    pixels.data_size -= TILE_HEADER_BYTES;
  }
  return lv_draw_buf_from_image(&o->in_place, &pixels) == LV_RESULT_OK ? &o->in_place : NULL;
}

/* Untiled, raw and LZ4 entries: the whole image, as LVGL's own decoder
   gives it (with the stride or premultiplied alpha the draw unit asked for). */
static lv_result_t open_whole(lv_image_decoder_dsc_t *dsc, open_image *o, const lv_image_dsc_t *img,
                              enum kind kind) {
  lv_draw_buf_t *whole = kind == KIND_LZ4 ? decode_whole(img) : view_in_place(o, img, kind);
  lv_draw_buf_t *adjusted;
  if (whole == NULL) return LV_RESULT_INVALID;
  if (kind == KIND_LZ4) o->owned = whole;
  adjusted = lv_image_decoder_post_process(dsc, whole);
  if (adjusted == NULL) return LV_RESULT_INVALID;
  if (adjusted != whole) {
    if (o->owned != NULL) lv_draw_buf_destroy(o->owned);
    o->owned = adjusted;
  }
  dsc->decoded = adjusted;
  return LV_RESULT_OK;
}

static void close_image(lv_image_decoder_t *decoder, lv_image_decoder_dsc_t *dsc) {
  open_image *o = (open_image *)dsc->user_data;
  LV_UNUSED(decoder);
  if (o == NULL) return;
  if (o->band != NULL) lv_draw_buf_destroy(o->band);
  if (o->owned != NULL) lv_draw_buf_destroy(o->owned);
  lv_free(o->memory);
  dsc->user_data = NULL;
  dsc->decoded = NULL;
}

static lv_result_t info_cb(lv_image_decoder_t *decoder, lv_image_decoder_dsc_t *dsc, lv_image_header_t *header) {
  const lv_image_dsc_t *img = (const lv_image_dsc_t *)dsc->src;
  LV_UNUSED(decoder);
  if (dsc->src_type != LV_IMAGE_SRC_VARIABLE || kind_of(img) == KIND_COUNT) return LV_RESULT_INVALID;
  *header = img->header;
  return LV_RESULT_OK;
}

/* A tiled block leaves dsc->decoded NULL: LVGL then asks for bands. */
static lv_result_t open_cb(lv_image_decoder_t *decoder, lv_image_decoder_dsc_t *dsc) {
  const lv_image_dsc_t *img = (const lv_image_dsc_t *)dsc->src;
  const enum kind kind = kind_of(img);
  open_image *o = open_record(img, kind);
  if (o == NULL) return LV_RESULT_INVALID;
  dsc->user_data = o;
  if (kind == KIND_TILED) {
    if (o->dec != NULL) return LV_RESULT_OK;
    LV_LOG_WARN("morvane: no decoder for the block's tiles");
  } else if (open_whole(dsc, o, img, kind) == LV_RESULT_OK) {
    return LV_RESULT_OK;
  }
  close_image(decoder, dsc);
  return LV_RESULT_INVALID;
}

/* ---- Bands ----------------------------------------------------------------- */

/* A buffer for a band of w x h pixels: the one held when it is large enough,
   else a new one as tall as a tile. */
static lv_draw_buf_t *band_buffer(open_image *o, lv_color_format_t cf, uint32_t w, uint32_t h) {
  if (o->band != NULL && lv_draw_buf_reshape(o->band, cf, w, h, LV_STRIDE_AUTO) != NULL) return o->band;
  if (o->band != NULL) lv_draw_buf_destroy(o->band);
  o->band = lv_draw_buf_create(w, o->tile_height, cf, LV_STRIDE_AUTO);
  if (o->band == NULL) {
    LV_LOG_WARN("morvane: no memory for a band of %" LV_PRIu32 " x %u pixels", w, (unsigned)o->tile_height);
    return NULL;
  }
  return lv_draw_buf_reshape(o->band, cf, w, h, LV_STRIDE_AUTO);
}

/* Decodes the next band of full_area: from its top (or the row after the
   band decoded last) to the end of that row of tiles. The decoder keeps one
   tile, so a band one tile high decodes each tile under the area once;
   bands one row high would decode each tile once per row. */
static lv_result_t get_area_cb(lv_image_decoder_t *decoder, lv_image_decoder_dsc_t *dsc, const lv_area_t *full_area,
                               lv_area_t *decoded_area) {
  const lv_image_dsc_t *img = (const lv_image_dsc_t *)dsc->src;
  open_image *o = (open_image *)dsc->user_data;
  int32_t y, y2, w, rc;
  lv_draw_buf_t *band;
  LV_UNUSED(decoder);
  if (o == NULL || o->dec == NULL) return LV_RESULT_INVALID;
  if (full_area->x1 < 0 || full_area->y1 < 0 || full_area->x2 >= (int32_t)img->header.w ||
      full_area->y2 >= (int32_t)img->header.h || full_area->x2 < full_area->x1)
    return LV_RESULT_INVALID;
  y = decoded_area->y1 == LV_COORD_MIN ? full_area->y1 : decoded_area->y2 + 1;
  if (y > full_area->y2) return LV_RESULT_INVALID; /* every band given */
  y2 = LV_MIN(full_area->y2, (y / o->tile_height + 1) * o->tile_height - 1);
  w = full_area->x2 - full_area->x1 + 1;
  band = band_buffer(o, (lv_color_format_t)img->header.cf, (uint32_t)w, (uint32_t)(y2 - y + 1));
  if (band == NULL) return LV_RESULT_INVALID;
  rc = morvane_tile_decode(o->dec, img->data, (int32_t)img->data_size, full_area->x1, y, w, y2 - y + 1, band->data,
                           (int32_t)band->header.stride, (int32_t)band->data_size);
  if (rc < 0) {
    LV_LOG_WARN("morvane: %s", morvane_tile_error_text(rc));
    return LV_RESULT_INVALID;
  }
#ifdef MORVANE_LVGL_COUNT_TILES
  morvane_lvgl_tiles_requested += (uint32_t)(full_area->x2 / o->tile_width - full_area->x1 / o->tile_width + 1);
#endif
  decoded_area->x1 = full_area->x1;
  decoded_area->x2 = full_area->x2;
  decoded_area->y1 = y;
  decoded_area->y2 = y2;
  dsc->decoded = band;
  return LV_RESULT_OK;
}

void morvane_lvgl_init(void) {
  lv_image_decoder_t *decoder = lv_image_decoder_create();
  if (decoder == NULL) {
    LV_LOG_WARN("morvane: no memory for the image decoder");
    return;
  }
  lv_image_decoder_set_info_cb(decoder, info_cb);
  lv_image_decoder_set_open_cb(decoder, open_cb);
  lv_image_decoder_set_get_area_cb(decoder, get_area_cb);
  lv_image_decoder_set_close_cb(decoder, close_image);
  decoder->name = "MORVANE";
}

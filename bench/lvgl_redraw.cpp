// SPDX-License-Identifier: MIT
// One redraw of the middle quarter of a large image in LVGL 9.5, the image
// held five ways: morvane run-length or LZ4 tiles through the decoder of
// contrib/lvgl, LVGL's own RLE or LZ4 binary image (which LVGL decodes whole
// on every draw, its image cache being 0), or raw pixels (the cost of the
// drawing alone). bench/lvgl_redraw.sh runs it under callgrind, counting the
// instructions of the redraw alone (callgrind's instrumentation is on only
// around it):
//
//   lvgl_redraw VARIANT BPP [WIDTH HEIGHT TILE [PIXELS]]
//
// VARIANT: raw, lvgl-rle, lvgl-lz4, morvane-rle, morvane-lz4; PIXELS a file
// of WIDTH x HEIGHT raw pixels of BPP bytes (a corpus image), else a
// generated GUI-like image of 480 x 272, in 32 x 32 tiles. It prints one
// line: the variant, bytes per pixel, the image's stored bytes, the bytes
// drawn, and the buffers the draw allocates: for LVGL's formats the whole
// decoded image; for morvane's tiles the decoder (one tile and its fixed
// part) and the band LVGL draws from (the quarter's width, one tile high).
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lvgl_private.h"
#include "morvane/tile.h"
#include "morvane_lvgl.h"
#include "support/encode.h"
#include "support/image_gen.h"
#include "support/pack_writer.h"

using Bytes = std::vector<uint8_t>;

namespace {

// LVGL's RLE as lv_rle_decompress reads it: a control byte with bit 7 set
// and then (byte & 127) literal pixels, or a count of 1 to 127 and the one
// pixel repeated.
Bytes lvgl_rle(const Bytes& px, size_t bpp) {
  Bytes out;
  const size_t n = px.size() / bpp;
  auto same = [&](size_t a, size_t b) { return std::memcmp(&px[a * bpp], &px[b * bpp], bpp) == 0; };
  auto run_at = [&](size_t i) {
    size_t r = 1;
    while (i + r < n && r < 127 && same(i, i + r)) ++r;
    return r;
  };
  for (size_t i = 0; i < n;) {
    if (const size_t r = run_at(i); r >= 3) {
      out.push_back(uint8_t(r));
      out.insert(out.end(), &px[i * bpp], &px[i * bpp] + bpp);
      i += r;
      continue;
    }
    size_t lit = 1;
    while (i + lit < n && lit < 127 && run_at(i + lit) < 3) ++lit;
    out.push_back(uint8_t(0x80 | lit));
    out.insert(out.end(), &px[i * bpp], &px[(i + lit) * bpp]);
    i += lit;
  }
  return out;
}

// An LVGL binary image in memory: the 12-byte compression header, then the
// data.
Bytes lvgl_compressed(uint32_t method, const Bytes& data, size_t raw_size) {
  Bytes out(12);
  const uint32_t words[3] = {method, uint32_t(data.size()), uint32_t(raw_size)};
  std::memcpy(out.data(), words, sizeof words);  // little-endian host, as LVGL reads them
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace

void measured_redraw(lv_obj_t* image, const lv_area_t* quarter) {
  CALLGRIND_START_INSTRUMENTATION;
  lv_obj_invalidate_area(image, quarter);
  lv_refr_now(nullptr);
  CALLGRIND_STOP_INSTRUMENTATION;
}

Bytes pixels(int argc, char** argv, int w, int h, int bpp) {
  if (argc < 7) return make_image(ImageKind::Flat, w, h, bpp, 11);
  std::ifstream in(argv[6], std::ios::binary);
  Bytes px{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (px.size() != size_t(w) * h * bpp) {
    std::fprintf(stderr, "lvgl_redraw: %s is not %d x %d pixels of %d bytes\n", argv[6], w, h, bpp);
    std::exit(2);
  }
  return px;
}

int main(int argc, char** argv) {
  if (argc != 3 && argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: lvgl_redraw raw|lvgl-rle|lvgl-lz4|morvane-rle|morvane-lz4 BPP [W H TILE [PIXELS]]\n");
    return 2;
  }
  const std::string variant = argv[1];
  const int bpp = std::atoi(argv[2]);
  const int w = argc > 3 ? std::atoi(argv[3]) : 480, h = argc > 3 ? std::atoi(argv[4]) : 272;
  const int tile = argc > 3 ? std::atoi(argv[5]) : 32;
  static const lv_color_format_t kFormats[] = {LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_A8, LV_COLOR_FORMAT_RGB565,
                                               LV_COLOR_FORMAT_RGB888, LV_COLOR_FORMAT_ARGB8888};
  if (bpp < 1 || bpp > 4 || w < 2 || h < 2 || tile < 1) return 2;
  const Bytes px = pixels(argc, argv, w, h, bpp);

  lv_init();
  morvane_lvgl_init();
  Bytes fb(size_t(w) * h * 4);
  lv_display_t* disp = lv_display_create(w, h);
  lv_display_set_buffers(disp, fb.data(), nullptr, uint32_t(fb.size()), LV_DISPLAY_RENDER_MODE_DIRECT);
  lv_display_set_flush_cb(disp, [](lv_display_t* d, const lv_area_t*, uint8_t*) { lv_display_flush_ready(d); });

  Bytes stored, pack;
  lv_image_dsc_t dsc = {};
  dsc.header = {LV_IMAGE_HEADER_MAGIC, kFormats[bpp], 0, uint32_t(w), uint32_t(h), uint32_t(w * bpp), 0};
  if (variant == "raw") {
    stored = px;
  } else if (variant == "lvgl-rle" || variant == "lvgl-lz4") {
    const bool rle = variant == "lvgl-rle";
    stored = lvgl_compressed(rle ? LV_IMAGE_COMPRESS_RLE : LV_IMAGE_COMPRESS_LZ4,
                             rle ? lvgl_rle(px, size_t(bpp)) : lz4_block(px), px.size());
    dsc.header.flags = LV_IMAGE_FLAGS_COMPRESSED;
  } else if (variant == "morvane-rle" || variant == "morvane-lz4") {
    static const int kPixelFormat[] = {0, 5, 1, 2, 4};
    TestPack p;
    TestEntry e;
    e.name = "image";
    e.type = 39;
    e.width = uint16_t(w);
    e.height = uint16_t(h);
    e.payload = tile_block(px, w, h, tile, tile, kPixelFormat[bpp], variant == "morvane-rle" ? 1 : 2);
    p.entries.push_back(e);
    pack = build_pack(p);
    if (morvane_lvgl_image(pack.data(), uint32_t(pack.size()), "image", LV_COLOR_FORMAT_UNKNOWN, &dsc) != LV_RESULT_OK)
      return 1;
  } else {
    std::fprintf(stderr, "lvgl_redraw: unknown variant %s\n", variant.c_str());
    return 2;
  }
  if (!stored.empty()) {
    dsc.data = stored.data();
    dsc.data_size = uint32_t(stored.size());
  }
  lv_obj_t* image = lv_image_create(lv_screen_active());
  lv_image_set_src(image, &dsc);
  lv_refr_now(nullptr);  // the first, whole draw: not measured

  const lv_area_t quarter = {w / 4, h / 4, w / 4 + w / 2 - 1, h / 4 + h / 2 - 1};
  const Bytes before = fb;
  std::fill(fb.begin(), fb.end(), 0);
  measured_redraw(image, &quarter);
  // The quarter drawn again as it was, every pixel.
  for (int y = quarter.y1; y <= quarter.y2; ++y)
    if (std::memcmp(&fb[(size_t(y) * w + quarter.x1) * 4], &before[(size_t(y) * w + quarter.x1) * 4],
                    size_t(w / 2) * 4)) {
      std::fprintf(stderr, "lvgl_redraw: %s drew another picture\n", variant.c_str());
      return 1;
    }
  // The block the encoder wrote: tiled, or untiled when no tiling was
  // smaller (drawn in place, as raw pixels are).
  static const char* kForms[] = {"tiled-lz4", "tiled-rle", "untiled"};
  const uint32_t magics[] = {MORVANE_TILE_MAGIC_LZ4, MORVANE_TILE_MAGIC_RLE, MORVANE_TILE_MAGIC_RAW};
  const bool compressed = variant == "lvgl-rle" || variant == "lvgl-lz4";
  const char* form = compressed ? "whole" : "raw";
  for (int i = 0; !pack.empty() && i < 3; ++i)
    if (std::memcmp(dsc.data, &magics[i], 4) == 0) form = kForms[i];
  const bool tiled = std::strncmp(form, "tiled", 5) == 0;
  const size_t ram = tiled ? morvane_tile_decoder_size(tile * tile * bpp) +
                                 lv_draw_buf_width_to_stride(uint32_t(w / 2), kFormats[bpp]) * size_t(tile)
                     : compressed ? px.size()
                                  : 0;
  std::printf("%s %s bpp %d stored %u drawn %d ram %zu\n", variant.c_str(), form, bpp, unsigned(dsc.data_size),
              (w / 2) * (h / 2) * bpp, ram);
  return 0;
}

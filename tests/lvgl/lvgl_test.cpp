// SPDX-License-Identifier: MIT
// The LVGL image decoder (contrib/lvgl) in a real LVGL: every image of a pack
// is drawn twice on a display whose framebuffer LVGL draws straight into,
// once through the decoder and once as a plain lv_image_dsc_t of its raw
// pixels drawn by LVGL itself, and the framebuffers must be the same bytes;
// damaged packs and blocks are refused. Packs and pixels live in buffers of
// exactly their size, so a read outside them shows under AddressSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lvgl_private.h"
#include "morvane/tile.h"
#include "morvane_lvgl.h"
#include "support/encode.h"
#include "support/image_gen.h"
#include "support/pack_writer.h"

// From tests/tile/tile_decode_test.cpp.
std::vector<std::pair<std::string, std::vector<uint8_t>>> damaged_tile_blocks();

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kScreenW = 96, kScreenH = 64, kW = 70, kH = 45, kTile = 16;
enum Codec { kWholeLz4 = -1, kRaw = 0, kRunLength = 1, kLz4 = 2, kStored = 3 };  // tiled: the pack's CODEC_KIND

struct Entry {
  const char* name;
  uint8_t type;
  uint16_t w, h;
  Bytes data;
};
Bytes pack_of(const std::vector<Entry>& entries) {
  TestPack pack;
  for (const Entry& e : entries) {
    TestEntry t;
    t.name = e.name;
    t.type = e.type;
    t.width = e.w;
    t.height = e.h;
    t.payload = e.data;
    pack.entries.push_back(t);
  }
  return build_pack(pack);
}

struct Lvgl {
  Bytes fb = Bytes(size_t(kScreenW) * kScreenH * 4);
  lv_obj_t* box = nullptr;  // the image's parent, which clips it
  lv_obj_t* image = nullptr;
  std::string log;
  static Lvgl& get() {
    static Lvgl* one = [] {
      auto* l = new Lvgl;
      lv_init();
      morvane_lvgl_init();
      lv_log_register_print_cb([](lv_log_level_t, const char* line) { get().log += line; });
      lv_display_t* d = lv_display_create(kScreenW, kScreenH);
      lv_display_set_buffers(d, l->fb.data(), nullptr, uint32_t(l->fb.size()), LV_DISPLAY_RENDER_MODE_DIRECT);
      lv_display_set_flush_cb(d, [](lv_display_t* disp, const lv_area_t*, uint8_t*) { lv_display_flush_ready(disp); });
      l->box = lv_obj_create(lv_screen_active());
      l->image = lv_image_create(l->box);
      return l;
    }();
    return *one;
  }
  // Draws src with the box and the image where a scene puts them; returns
  // the framebuffer.
  Bytes draw(const void* src, const lv_area_t& box, int x, int y) {
    lv_obj_set_pos(this->box, box.x1, box.y1);
    lv_obj_set_size(this->box, box.x2 - box.x1 + 1, box.y2 - box.y1 + 1);
    lv_obj_set_pos(image, x, y);
    lv_image_set_src(image, src);
    lv_obj_invalidate(lv_screen_active());
    lv_refr_now(nullptr);
    return fb;
  }
};

struct Image {
  const char* what;
  uint8_t type;  // 39 a tiled block, else an entry of raw or LZ4 pixels
  int bpp, codec;
  lv_color_format_t cf;  // as the pack's pixels are meant; 0 the default
  lv_color_format_t plain_cf;
};

const Image kImages[] = {
    {"run-length tiles, 1 B/px", 39, 1, kRunLength, LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_A8},
    {"LZ4 tiles, 1 B/px as L8", 39, 1, kLz4, LV_COLOR_FORMAT_L8, LV_COLOR_FORMAT_L8},
    {"run-length tiles, 2 B/px", 39, 2, kRunLength, LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_RGB565},
    {"LZ4 tiles, 2 B/px", 39, 2, kLz4, LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_RGB565},
    {"run-length tiles, 3 B/px", 39, 3, kRunLength, LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_RGB888},
    {"LZ4 tiles, 3 B/px", 39, 3, kLz4, LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_RGB888},
    {"run-length tiles, 4 B/px", 39, 4, kRunLength, LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_ARGB8888},
    {"LZ4 tiles, 4 B/px as XRGB8888", 39, 4, kLz4, LV_COLOR_FORMAT_XRGB8888, LV_COLOR_FORMAT_XRGB8888},
    {"untiled block", 39, 2, kStored, LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_RGB565},
    {"whole-entry LZ4 entry", 15, 4, kWholeLz4, LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_ARGB8888},
    {"raw entry", 30, 1, kRaw, LV_COLOR_FORMAT_UNKNOWN, LV_COLOR_FORMAT_A8},
};

// The entry's data: tiles of the pixels, one LZ4 block, or the pixels.
Bytes entry_data(const Image& c, const Bytes& px) {
  if (c.codec == kWholeLz4) return lz4_block(px);
  if (c.codec == kRaw) return px;
  // Noise under the stored codec, so the encoder keeps it untiled.
  return tile_block(px, kW, kH, kTile, kTile, format_for(c.bpp), c.codec);
}

struct Scene {
  const char* what;
  lv_area_t box;
  int x, y;  // of the image, in the box
};
const Scene kScenes[] = {
    {"whole image", {0, 0, kScreenW - 1, kScreenH - 1}, 5, 3},
    {"off the left and bottom edges", {0, 0, kScreenW - 1, kScreenH - 1}, -13, 30},
    {"off the top and right edges", {0, 0, kScreenW - 1, kScreenH - 1}, 50, -20},
    {"under a clip", {10, 8, 46, 36}, -9, -5},
};

int tiles_under(const lv_area_t& a) { return (a.x2 / kTile - a.x1 / kTile + 1) * (a.y2 / kTile - a.y1 / kTile + 1); }

TEST(LvglDrawTest, SameFramebufferAsLvglDrawingTheRawPixels) {
  Lvgl& lv = Lvgl::get();
  for (const Image& c : kImages) {
    const ImageKind kind = c.codec == kStored ? ImageKind::Noise : ImageKind::Flat;
    const Bytes px = make_image(kind, kW, kH, c.bpp, 7);
    const Bytes pack = pack_of({{"logo", c.type, kW, kH, entry_data(c, px)}});
    lv_image_dsc_t dsc, plain = {};
    ASSERT_EQ(morvane_lvgl_image(pack.data(), uint32_t(pack.size()), "logo", c.cf, &dsc), LV_RESULT_OK) << c.what;
    plain.header = {LV_IMAGE_HEADER_MAGIC, c.plain_cf, 0, kW, kH, uint32_t(kW * c.bpp), 0};
    plain.data = px.data();
    plain.data_size = uint32_t(px.size());
    EXPECT_EQ(dsc.header.cf, c.plain_cf) << c.what;
    if (c.type == 39) {
      morvane_tile_info info;
      ASSERT_EQ(morvane_tile_image_read(dsc.data, int32_t(dsc.data_size), &info), 0);
      EXPECT_EQ(info.magic == MORVANE_TILE_MAGIC_RAW, c.codec == kStored) << c.what;
    }
    const bool tiled = c.type == 39 && c.codec != kStored;
    for (const Scene& s : kScenes) {
      const Bytes want = lv.draw(&plain, s.box, s.x, s.y);
      morvane_lvgl_tiles_requested = 0;
      EXPECT_EQ(lv.draw(&dsc, s.box, s.x, s.y), want) << c.what << ", " << s.what;
      // Each tile under the part of the image the box shows (the boxes lie
      // on the screen) once; none for the other kinds.
      const lv_area_t seen = {std::max(0, -s.x), std::max(0, -s.y), std::min(kW, s.box.x2 - s.box.x1 + 1 - s.x) - 1,
                              std::min(kH, s.box.y2 - s.box.y1 + 1 - s.y) - 1};
      EXPECT_EQ(morvane_lvgl_tiles_requested, tiled ? uint32_t(tiles_under(seen)) : 0u) << c.what << ", " << s.what;
      if (s.x != 5) continue;

      // A partial redraw: LVGL draws into the framebuffer only the area
      // invalidated, and the decoder decodes only the tiles under it.
      const lv_area_t redraw = {30, 20, 52, 41};  // on the screen
      std::fill(lv.fb.begin(), lv.fb.end(), 0);
      ASSERT_EQ(lv_obj_invalidate_area(lv.image, &redraw), LV_RESULT_OK);
      morvane_lvgl_tiles_requested = 0;
      lv_refr_now(nullptr);
      for (int y = 0; y < kScreenH; ++y)
        for (int x = 0; x < kScreenW; ++x) {
          const bool in = x >= redraw.x1 && x <= redraw.x2 && y >= redraw.y1 && y <= redraw.y2;
          const size_t at = (size_t(y) * kScreenW + x) * 4;
          ASSERT_EQ(Bytes(&lv.fb[at], &lv.fb[at] + 4), in ? Bytes(&want[at], &want[at] + 4) : Bytes(4, 0))
              << c.what << " at " << x << ", " << y;
        }
      const lv_area_t in_image = {redraw.x1 - s.x, redraw.y1 - s.y, redraw.x2 - s.x, redraw.y2 - s.y};
      EXPECT_EQ(morvane_lvgl_tiles_requested, tiled ? uint32_t(tiles_under(in_image)) : 0u) << c.what;
    }
    lv_image_set_src(lv.image, nullptr);
  }
}

// A descriptor the decoder refuses is zeroed, and the refusal logged.
void expect_refused(const Bytes& pack, const char* name, lv_color_format_t cf, const std::string& what) {
  Lvgl& lv = Lvgl::get();
  lv_image_dsc_t dsc;
  lv.log.clear();
  EXPECT_EQ(morvane_lvgl_image(pack.data(), uint32_t(pack.size()), name, cf, &dsc), LV_RESULT_INVALID) << what;
  EXPECT_EQ(dsc.data, nullptr) << what;
  EXPECT_NE(lv.log.find("morvane: "), std::string::npos) << what;
}

TEST(LvglDrawTest, DamagedPacksAndWrongRequestsAreRefused) {
  const Bytes px = make_image(ImageKind::Flat, kW, kH, 4, 3);
  const Bytes good =
      pack_of({{"logo", 39, kW, kH, tile_block(px, kW, kH, kTile, kTile, 4, kLz4)}, {"photo", 38, 8, 8, Bytes(64, 1)}});
  Bytes bad_magic = good;
  bad_magic[0] ^= 1;
  expect_refused(Bytes(good.begin(), good.end() - 1), "photo", LV_COLOR_FORMAT_UNKNOWN, "pack cut short");
  expect_refused(bad_magic, "logo", LV_COLOR_FORMAT_UNKNOWN, "wrong pack magic");
  expect_refused(good, "nothere", LV_COLOR_FORMAT_UNKNOWN, "no such entry");
  expect_refused(good, "photo", LV_COLOR_FORMAT_UNKNOWN, "JPEG data");
  expect_refused(good, "logo", LV_COLOR_FORMAT_RGB565, "2 bytes per pixel for 4");
  lv_image_dsc_t dsc;
  EXPECT_EQ(morvane_lvgl_image_at(good.data(), uint32_t(good.size()), 2, LV_COLOR_FORMAT_UNKNOWN, &dsc),
            LV_RESULT_INVALID);
  EXPECT_EQ(morvane_lvgl_image_at(good.data(), uint32_t(good.size()), 0, LV_COLOR_FORMAT_UNKNOWN, &dsc), LV_RESULT_OK);
  EXPECT_EQ(dsc.header.w, uint32_t(kW));

  // An LZ4 entry that is not one LZ4 block of its pixels fails at open.
  const Bytes lz4 = pack_of({{"logo", 15, kW, kH, Bytes(100, 0xFF)}});
  ASSERT_EQ(morvane_lvgl_image(lz4.data(), uint32_t(lz4.size()), "logo", LV_COLOR_FORMAT_UNKNOWN, &dsc), LV_RESULT_OK);
  lv_image_decoder_dsc_t open;
  EXPECT_EQ(lv_image_decoder_open(&open, &dsc, nullptr), LV_RESULT_INVALID);
}

// Every damaged block of the tile decoder's table is refused when its image
// is described or in one of its bands, and drawing it reads nothing outside
// the pack.
TEST(LvglDrawTest, DamagedBlocksAreRefused) {
  Lvgl& lv = Lvgl::get();
  for (const auto& [what, block] : damaged_tile_blocks()) {
    const Bytes pack = pack_of({{"bad", 39, 24, 20, block}});
    lv_image_dsc_t dsc;
    if (morvane_lvgl_image(pack.data(), uint32_t(pack.size()), "bad", LV_COLOR_FORMAT_UNKNOWN, &dsc) ==
        LV_RESULT_INVALID)
      continue;
    lv_image_decoder_dsc_t open;
    ASSERT_EQ(lv_image_decoder_open(&open, &dsc, nullptr), LV_RESULT_OK) << what;
    const lv_area_t all = {0, 0, int32_t(dsc.header.w) - 1, int32_t(dsc.header.h) - 1};
    lv_area_t band = {LV_COORD_MIN, LV_COORD_MIN, LV_COORD_MIN, LV_COORD_MIN};
    int32_t rows = 0;
    lv.log.clear();
    while (lv_image_decoder_get_area(&open, &all, &band) == LV_RESULT_OK) rows = band.y2 + 1;
    lv_image_decoder_close(&open);
    EXPECT_LT(rows, all.y2 + 1) << what;
    EXPECT_NE(lv.log.find("morvane: "), std::string::npos) << what;
    lv.draw(&dsc, {0, 0, kScreenW - 1, kScreenH - 1}, 0, 0);
    lv_image_set_src(lv.image, nullptr);
  }
}

}  // namespace

// SPDX-License-Identifier: MIT
// morvane-tool's files: pixel formats, PNG and JPEG, export names and
// folder, the manifest and create's checks.
#include <gtest/gtest.h>
#include <spng.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/pack_writer.h"
#include "support/run_tool.h"
#include "tile/tile_image.h"
#include "tool/export_files.h"
#include "tool/image_files.h"
#include "tool/manifest.h"
#include "tool/pixel_formats.h"
#include "tool/tool_commands.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PixelFormats, ChannelsRoundToNearestAndReplicate) {
  struct Case {
    int bits;
    uint8_t v8, narrow;  // 8-bit value and its narrowed form
    uint8_t x, wide;     // narrow value and its widened form
  };
  const Case cases[] = {
      {5, 0, 0, 0, 0},        {5, 255, 31, 31, 255},  {5, 4, 0, 1, 8},      {5, 5, 1, 16, 132},
      {5, 250, 30, 30, 247},  {5, 251, 31, 15, 123},  {6, 2, 0, 1, 4},      {6, 3, 1, 32, 130},
      {6, 255, 63, 63, 255},  {6, 129, 32, 62, 251},  {4, 8, 0, 1, 17},     {4, 9, 1, 15, 255},
      {1, 127, 0, 0, 0},      {1, 128, 1, 1, 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(narrow_channel(c.v8, c.bits), c.narrow) << c.bits << " bits, " << int(c.v8);
    EXPECT_EQ(widen_channel(c.x, c.bits), c.wide) << c.bits << " bits, " << int(c.x);
  }
  for (int bits : {1, 4, 5, 6})
    for (int x = 0; x < (1 << bits); ++x)
      EXPECT_EQ(narrow_channel(widen_channel(uint8_t(x), bits), bits), x) << bits << " bits";
  EXPECT_EQ(luma(255, 255, 255), 255);
  EXPECT_EQ(luma(255, 0, 0), 76);   // 76.245
  EXPECT_EQ(luma(0, 255, 0), 150);  // 149.685
  EXPECT_EQ(luma(0, 0, 255), 29);   // 29.07
}

TEST(PixelFormats, PixelsFromRgbaAndBack) {
  struct Case {
    const char* format;
    std::vector<uint8_t> rgba;
    PictureKind kind;
    Bytes pixel;    // what create stores
    Bytes samples;  // what export writes for that pixel
  };
  const Case cases[] = {
      {"a8", {10, 20, 30, 40}, {true, false}, {40}, {40}},
      {"a8", {77, 77, 77, 255}, {false, true}, {77}, {77}},
      {"a8", {255, 0, 0, 255}, {false, false}, {76}, {76}},
      {"rgb565", {255, 0, 0, 9}, {}, {0x00, 0xF8}, {255, 0, 0}},
      {"rgb565", {0, 255, 0, 255}, {}, {0xE0, 0x07}, {0, 255, 0}},
      {"rgb565", {8, 4, 8, 255}, {}, {0x21, 0x08}, {8, 4, 8}},
      {"rgb888", {1, 2, 3, 4}, {}, {3, 2, 1}, {1, 2, 3}},
      {"argb8888", {1, 2, 3, 4}, {}, {3, 2, 1, 4}, {1, 2, 3, 4}},
      {"argb1555", {255, 255, 255, 128}, {}, {0xFF, 0xFF}, {255, 255, 255, 255}},
      {"argb1555", {255, 0, 0, 127}, {}, {0x00, 0x7C}, {255, 0, 0, 0}},
      {"argb4444", {17, 34, 51, 68}, {}, {0x23, 0x41}, {17, 34, 51, 68}},
      {"argb8565", {255, 0, 0, 9}, {}, {0x00, 0xF8, 9}, {255, 0, 0, 9}},
      // The rgb565 u16 high byte first.
      {"rgb565_swapped", {255, 0, 0, 9}, {}, {0xF8, 0x00}, {255, 0, 0}},
      {"rgb565_swapped", {8, 4, 8, 255}, {}, {0x08, 0x21}, {8, 4, 8}},
      // B, G, R x A / 255 rounded: 50 x 128 / 255 = 25.1, 100 x 128 / 255 =
      // 50.2, 200 x 128 / 255 = 100.4; back: 25 x 255 / 128 = 49.8, 50 x
      // 255 / 128 = 99.6, 100 x 255 / 128 = 199.2.
      {"argb8888_premultiplied", {200, 100, 50, 128}, {}, {25, 50, 100, 128}, {199, 100, 50, 128}},
      {"argb8888_premultiplied", {1, 2, 3, 255}, {}, {3, 2, 1, 255}, {1, 2, 3, 255}},
      {"argb8888_premultiplied", {10, 20, 30, 0}, {}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"argb8888_premultiplied", {255, 255, 255, 1}, {}, {1, 1, 1, 1}, {255, 255, 255, 1}},
  };
  for (const Case& c : cases) {
    const PixelFormatInfo* f = find_pixel_format(c.format);
    ASSERT_NE(f, nullptr) << c.format;
    EXPECT_EQ(rgba_to_pixels(*f, c.rgba, c.kind), c.pixel) << c.format;
    EXPECT_EQ(pixels_to_samples(*f, c.pixel), c.samples) << c.format;
  }
  EXPECT_EQ(find_pixel_format("rgb666"), nullptr);
  EXPECT_EQ(default_pixel_format(0), nullptr);
  EXPECT_EQ(default_pixel_format(3)->name, "rgb888");
}

// The mean, over the 4 x 4 blocks of a picture, of the distance between a
// block's average of `got` and of `want` (RGBA, every colour channel).
double block_error(const Bytes& want, const Bytes& got, uint32_t width, uint32_t height) {
  double sum = 0;
  int blocks = 0;
  for (uint32_t by = 0; by < height; by += 4)
    for (uint32_t bx = 0; bx < width; bx += 4, ++blocks)
      for (int c = 0; c < 3; ++c) {
        int diff = 0;
        for (uint32_t y = by; y < by + 4; ++y)
          for (uint32_t x = bx; x < bx + 4; ++x) diff += got[(y * width + x) * 4 + c] - want[(y * width + x) * 4 + c];
        sum += std::abs(diff) / 16.0 / 3;
      }
  return sum / blocks;
}

// A smooth gradient, 8-bit RGBA: each 4 x 4 block close to flat.
Bytes gradient(uint32_t width, uint32_t height) {
  Bytes rgba(size_t{width} * height * 4);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &rgba[(size_t{y} * width + x) * 4];
      p[0] = uint8_t(x * 255 / (width - 1));
      p[1] = uint8_t((x + y) * 255 / (width + height - 2));
      p[2] = uint8_t(255 - p[0]);
      p[3] = 255;
    }
  return rgba;
}

// Dithered, each 4 x 4 block averages out nearer to the picture than
// rounding gives; the same bytes on every run.
TEST(PixelFormats, DitherHalvesTheErrorOfBlockAverages) {
  const uint32_t w = 512, h = 64;
  const Bytes rgba = gradient(w, h);
  for (const char* name : {"rgb565", "rgb565_swapped", "argb4444", "argb1555", "argb8565"}) {
    const PixelFormatInfo& f = *find_pixel_format(name);
    ASSERT_TRUE(has_narrow_colour(f)) << name;
    auto shown = [&](Bytes picture) {
      Bytes samples = pixels_to_samples(f, rgba_to_pixels(f, picture, {}));
      Bytes out(rgba.size(), 255);
      for (size_t i = 0; i < rgba.size() / 4; ++i)
        std::copy_n(&samples[i * f.channels], 3, &out[i * 4]);
      return out;
    };
    Bytes dithered = rgba;
    dither_rgba(f, dithered, w);
    const double plain = block_error(rgba, shown(rgba), w, h), ordered = block_error(rgba, shown(dithered), w, h);
    EXPECT_LE(ordered, plain / 2) << name << ": " << ordered << " against " << plain;
  }
  for (const char* name : {"a8", "rgb888", "argb8888", "argb8888_premultiplied"})
    EXPECT_FALSE(has_narrow_colour(*find_pixel_format(name))) << name;

  // Grey 100 in rgb565: R and B 100 x 31 / 255 = 12.16, G 100 x 63 / 255 =
  // 24.71; rounded 12, 25, 12 (2C 63) everywhere. Dithered, R and B are 13
  // where the 4 x 4 threshold is 13 or more of 16 (x 2 y 1, x 0 y 3, x 2
  // y 3), G 25 where it is 5 or more.
  Bytes grey(4 * 4 * 4, 100);
  const PixelFormatInfo& f = *find_pixel_format("rgb565");
  EXPECT_EQ(rgba_to_pixels(f, Bytes(grey.begin(), grey.begin() + 4), {}), (Bytes{0x2C, 0x63}));
  dither_rgba(f, grey, 4);
  const Bytes px = rgba_to_pixels(f, grey, {});
  const Bytes expected = {0x0C, 0x63, 0x2C, 0x63, 0x0C, 0x63, 0x2C, 0x63,   // thresholds 0 8 2 10
                          0x2C, 0x63, 0x0C, 0x63, 0x2D, 0x6B, 0x2C, 0x63,   // 12 4 14 6
                          0x0C, 0x63, 0x2C, 0x63, 0x0C, 0x63, 0x2C, 0x63,   // 3 11 1 9
                          0x2D, 0x6B, 0x2C, 0x63, 0x2D, 0x6B, 0x2C, 0x63};  // 15 7 13 5
  EXPECT_EQ(px, expected);
}

// Pixels -> PNG file -> pixels, as export then create do it.
Bytes through_png(const PixelFormatInfo& f, const Bytes& pixels, uint32_t w, uint32_t h) {
  Bytes png;
  Status s = write_png(w, h, f.channels, pixels_to_samples(f, pixels), png);
  EXPECT_TRUE(s.ok()) << s.message;
  Picture pic;
  EXPECT_TRUE((s = read_png(png, uint64_t{w} * h, pic)).ok()) << s.message;
  EXPECT_EQ(pic.width, w);
  return rgba_to_pixels(f, pic.rgba, pic.kind);
}

TEST(PixelFormats, ExportThenCreateKeepsEveryPixel) {
  for (const char* name : {"a8", "rgb565", "rgb888", "argb8888", "argb1555", "argb4444", "argb8565", "rgb565_swapped"}) {
    const PixelFormatInfo& f = *find_pixel_format(name);
    // Every value of the first two bytes, the rest from a generator.
    Bytes pixels = make_random_bytes(size_t{65536} * f.bytes, 7);
    for (uint32_t i = 0; i < 65536; ++i) {
      pixels[i * f.bytes] = uint8_t(i);
      if (f.bytes > 1) pixels[i * f.bytes + 1] = uint8_t(i >> 8);
    }
    EXPECT_EQ(through_png(f, pixels, 256, 256), pixels) << name;
  }
}

TEST(PngFiles, ColourTypesAndDepthsBecomeRgba) {
  struct Case {
    uint8_t colour, depth;
    Bytes samples;  // 2 pixels, 16-bit samples in host order as libspng takes them
    bool with_trns;
    Bytes rgba;
    PictureKind kind;
  };
  const Case cases[] = {
      {SPNG_COLOR_TYPE_GRAYSCALE, 8, {0, 200}, false, {0, 0, 0, 255, 200, 200, 200, 255}, {false, true}},
      {SPNG_COLOR_TYPE_GRAYSCALE, 16, {0x34, 0x12, 0xCD, 0xAB}, false, {0x12, 0x12, 0x12, 255, 0xAB, 0xAB, 0xAB, 255},
       {false, true}},
      {SPNG_COLOR_TYPE_INDEXED, 8, {1, 0}, true, {40, 50, 60, 7, 10, 20, 30, 255}, {true, false}},
      {SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, {1, 2, 3, 4, 5, 6, 7, 8}, false, {1, 2, 3, 4, 5, 6, 7, 8}, {true, false}},
  };
  for (const Case& c : cases) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{2, 1, c.depth, c.colour, 0, 0, 0};
    spng_set_ihdr(ctx, &ihdr);
    if (c.colour == SPNG_COLOR_TYPE_INDEXED) {
      spng_plte plte{};
      plte.n_entries = 2;
      plte.entries[0] = {10, 20, 30, 0};
      plte.entries[1] = {40, 50, 60, 0};
      spng_set_plte(ctx, &plte);
      spng_trns trns{};
      trns.n_type3_entries = 2;
      trns.type3_alpha[0] = 255;
      trns.type3_alpha[1] = 7;
      spng_set_trns(ctx, &trns);
    }
    ASSERT_EQ(spng_encode_image(ctx, c.samples.data(), c.samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
    size_t len = 0;
    int rc = 0;
    uint8_t* png = static_cast<uint8_t*>(spng_get_png_buffer(ctx, &len, &rc));
    Bytes file(png, png + len);
    free(png);
    spng_ctx_free(ctx);
    Picture pic;
    Status s = read_png(file, 2, pic);
    ASSERT_TRUE(s.ok()) << s.message;
    EXPECT_EQ(pic.rgba, c.rgba) << "colour type " << int(c.colour);
    EXPECT_EQ(pic.kind.has_alpha, c.kind.has_alpha);
    EXPECT_EQ(pic.kind.grey, c.kind.grey);
    EXPECT_EQ(read_png(file, 1, pic).code, TOOL_ERR_PICTURE) << "more pixels than allowed";
  }
  Picture pic;
  EXPECT_EQ(read_png(Bytes{'n', 'o'}, 100, pic).code, TOOL_ERR_PICTURE);
  Bytes wide;
  ASSERT_TRUE(write_png(70000, 1, 1, Bytes(70000), wide).ok());
  const Status s = read_png(wide, 1u << 20, pic);
  EXPECT_NE(s.message.find("65535"), std::string::npos) << s.message;
}

TEST(JpegFiles, SizeFromFrameHeaderOrPackHeader) {
  uint16_t w = 0, h = 0;
  tjhandle tj = tjInitCompress();
  ASSERT_NE(tj, nullptr);
  const Bytes grey(300 * 200, 128);
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(tj, grey.data(), 300, 0, 200, TJPF_GRAY, &jpeg, &size, TJSAMP_GRAY, 90, 0), 0);
  const Bytes file(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(tj);
  ASSERT_TRUE(jpeg_size(file, w, h).ok());
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 200);
  EXPECT_FALSE(jpeg_size(Bytes(file.begin(), file.begin() + 20), w, h).ok()) << "cut before its frame header";
  ASSERT_TRUE(jpeg_size(Bytes{'J', 'P', 'E', 'G', 0x60, 0, 0x40, 0}, w, h).ok());
  EXPECT_EQ(w, 96);
  EXPECT_EQ(h, 64);
  EXPECT_EQ(jpeg_size(Bytes{0x89, 'P', 'N', 'G'}, w, h).code, TOOL_ERR_PICTURE);
  EXPECT_EQ(jpeg_size(Bytes{0xFF, 0xD8, 0xFF}, w, h).code, TOOL_ERR_PICTURE);
}

TEST(ExportNames, UnsafeNamesAreEscapedReversibly) {
  struct Case {
    std::string name, stem;
  };
  const Case cases[] = {
      {"icon", "icon"},       {"a/b", "a%2Fb"},          {".", "%2E"},
      {"..", "%2E%2E"},       {"", "%00"},               {"50%", "50%25"},
      {"a\tb\x7F", "a%09b%7F"}, {"caf\xC3\xA9", "caf\xC3\xA9"}, {"\xFF\xFE", "%FF%FE"},
      {"ab\xC3", "ab%C3"},    {"\xE0\x80\x80", "%E0%80%80"}, {"\xED\xA0\x80", "%ED%A0%80"},
      {"...", "..."},         {"/../", "%2F..%2F"},     {"a\xC2\x85\xC2\xA0", "a%C2%85\xC2\xA0"},
      // What Windows refuses: its forbidden characters, device names with
      // any extension or case; names that only look like them stay.
      {"a:b", "a%3Ab"},       {"<>\"\\|?*", "%3C%3E%22%5C%7C%3F%2A"}, {"C:\\x", "C%3A%5Cx"},
      {"CON", "%43ON"},       {"con.txt", "%63on.txt"},  {"Lpt9", "%4Cpt9"},
      {"aux.a.b", "%61ux.a.b"}, {"NUL.", "%4EUL."},      {"COM1 .x", "%43OM1 .x"},
      {"prn ", "%70rn "},     {"COM10", "COM10"},        {"LPT0", "LPT0"},
      {"CONSOLE", "CONSOLE"}, {"xcon", "xcon"},          {"trail. ", "trail. "},
      {"h\xC3\xA9\xE2\x82\xAC", "h\xC3\xA9\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(escape_entry_name(c.name), c.stem);
    std::string back;
    ASSERT_TRUE(unescape_entry_name(c.stem, back)) << c.stem;
    EXPECT_EQ(back, c.name);
  }
  ExportNames names;
  EXPECT_EQ(names.take("icon", ".png"), "icon.png");
  EXPECT_EQ(names.take("icon", ".png"), "icon%-2.png");
  EXPECT_EQ(names.take("icon", ".jpg"), "icon.jpg");
  EXPECT_EQ(names.take("icon", ".png"), "icon%-3.png");
  // One file on a case-insensitive file system: the later names repeat.
  const std::pair<const char*, const char*> taken[] = {
      {"bg_grad", "bg_grad.png"},
      {"BG_GRAD", "BG_GRAD%-2.png"},
      {"Bg_Grad", "Bg_Grad%-3.png"},
      {"ICON", "ICON%-4.png"},
      {"caf\xC3\x89", "caf\xC3\x89.png"},                   // cafÉ
      {"CAF\xC3\xA9", "CAF\xC3\xA9%-2.png"},                // CAFé
      {"\xD0\xAF", "\xD0\xAF.png"},                         // Я
      {"\xD1\x8F", "\xD1\x8F%-2.png"},                      // я
      {"\xCE\xA3", "\xCE\xA3.png"},                         // Σ
      {"\xCF\x82", "\xCF\x82%-2.png"},                      // ς
      {"con", "%63on.png"},
      {"CON", "%43ON.png"},  // escaped apart: %43 is not %63
      {"bg_grad%-2", "bg_grad%25-2.png"},
      {"caf\xC3\xA8", "caf\xC3\xA8.png"},                   // cafè: another letter
  };
  for (const auto& [name, file] : taken) EXPECT_EQ(names.take(name, ".png"), file) << name;
  std::string back;
  EXPECT_TRUE(unescape_entry_name("icon%-3", back));
  EXPECT_EQ(back, "icon");
  for (const char* bad : {"%2", "%zz", "%41", "x%-0", "x%-", "a%00"})
    EXPECT_FALSE(unescape_entry_name(bad, back)) << bad;
}

TEST(ExportDir, NeverWritesThroughLinksOrOutside) {
  TempDir tmp;
  ASSERT_TRUE(write_file(tmp.file("outside"), {1, 2, 3}));
  ExportDir dir;
  Status s = dir.open(tmp.file("out"));
  ASSERT_TRUE(s.ok()) << s.message;
#ifndef _WIN32
  ASSERT_EQ(symlink("../outside", tmp.file("out/x.png").c_str()), 0);
#endif
  ASSERT_TRUE((s = dir.write_file("x.png", Bytes{9})).ok()) << s.message;
  EXPECT_EQ(read_file(tmp.file("outside")), (Bytes{1, 2, 3}));
  EXPECT_EQ(read_file(tmp.file("out/x.png")), Bytes{9});
  for (const char* bad : {"../y", "..", ".", "a/b", ""})
    EXPECT_EQ(dir.write_file(bad, Bytes{1}).code, TOOL_ERR_NAME) << bad;
  EXPECT_EQ(tmp.list(), (std::vector<std::string>{"out", "outside"}));
}

// Entry names and fields in create's messages.
TEST(Manifest, ErrorsNameTheEntryAndTheField) {
  struct Case {
    const char* json;
    const char* says;  // the entry and field named
  };
  const Case cases[] = {
      {R"({"entries":[{"name":"a","type":1,"file":"a.png"},{"name":"toolongname","type":1,"file":"b.png"}]})",
       R"(entry 2 (toolongname): field "name")"},
      {R"({"entries":[{"name":"a","type":256,"file":"a.png"}]})", R"(entry 1 (a): field "type")"},
      {R"({"entries":[{"name":"a","type":"1","file":"a.png"}]})", R"(entry 1 (a): field "type")"},
      {R"({"entries":[{"name":"a","type":1}]})", R"(entry 1 (a): field "file")"},
      {R"({"entries":[{"name":"a","type":1,"file":"a.png","format":"rgb666"}]})", R"(entry 1 (a): field "format")"},
      {R"({"entries":[{"name":"a","type":1,"file":"a.png","format":"argb8888"}]})", R"(entry 1 (a): field "format")"},
      {R"({"entries":[{"name":"j","type":38,"file":"j.jpg","format":"a8"}]})", R"(entry 1 (j): field "format")"},
      {R"({"entries":[{"name":"j","type":38,"file":"j.jpg","tile":[8,8]}]})", R"(entry 1 (j): field "tile")"},
      {R"({"entries":[{"name":"a","type":1,"file":"a.png","tile":[8]}]})", R"(entry 1 (a): field "tile")"},
      {R"({"entries":[{"name":"a","type":1,"file":"a.png","fromat":"a8"}]})", R"(entry 1 (a): field "fromat")"},
      {R"({"entries":[{"name":"a","name_hex":"61","type":1,"file":"a.png"}]})", R"(entry 1 (a): field "name_hex")"},
      {R"({"entries":[{"name_hex":"6g","type":1,"file":"a.png"}]})", R"(entry 1 (): field "name_hex")"},
      {R"({"entries":[{"type":1,"file":"a.png"}]})", R"(entry 1 (): field "name")"},
      {"{\"entries\":[{\"name\":\"a\\u001b:\",\"type\":1}]}", R"(entry 1 (a\x1b:): field "file")"},
      {R"({"tiled":true,"entries":[{"name":"a","type":1,"file":"a.png","tile":[0,64]}]})",
       R"(entry 1 (a): field "tile": a side of 0; a tiled pack's tiles are at least 1 x 1 pixels)"},
      {R"({"tiled":true,"entries":[{"name":"a","type":1,"file":"a.png","tile":[64,0]}]})", R"(field "tile": a side)"},
      {R"({"entries":[{"name":"a","type":1,"file":"a.png","file_hex":"61"}]})",
       R"(entry 1 (a): field "file_hex": give either "file" or "file_hex", not both)"},
      {R"({"entries":[{"name":"a","type":1,"file_hex":"6x"}]})", R"(entry 1 (a): field "file_hex": not a string)"},
      {R"({"entries":[{"name":"a","type":1,"file_hex":"6100"}]})", R"(entry 1 (a): field "file_hex": holds a NUL)"},
      {R"({"entries":[{"name":"a","type":1,"file_hex":""}]})", R"(entry 1 (a): field "file_hex": not a file path)"},
      {R"({"codec":"zip","entries":[]})", R"(field "codec")"},
      {R"({"entries":{}})", R"(field "entries")"},
      {"{\"entries\": [\n{\"name\": }]}", "not valid JSON: parse error at line 2, column 10"},
      {R"({"entries":[{"name":"a","type":32,"file":"a.png","dither":true}]})", R"(entry 1 (a): field "dither")"},
      {R"({"entries":[{"name":"a","type":1,"file":"a.png","dither":1}]})", R"(entry 1 (a): field "dither")"},
      {R"({"entries":[{"name":"j","type":38,"file":"j.jpg","dither":false}]})", R"(entry 1 (j): field "dither")"},
      {R"({"dither":"yes","entries":[]})", R"(field "dither")"},
  };
  for (const Case& c : cases) {
    Manifest m;
    const Status s = parse_manifest(c.json, m);
    EXPECT_EQ(s.code, TOOL_ERR_MANIFEST) << c.json;
    EXPECT_NE(s.message.find(c.says), std::string::npos) << s.message;
  }
}

// "dither" at the top is the default; an entry's own wins; formats that keep
// every colour's 8 bits are never dithered.
TEST(Manifest, DitherByEntryOrByDefault) {
  Manifest m;
  const Status s = parse_manifest(R"({"dither":true,"entries":[{"name":"a","type":1,"file":"a.png"},
      {"name":"b","type":1,"file":"b.png","dither":false},{"name":"c","type":32,"file":"c.png"},
      {"name":"d","type":32,"file":"d.png","format":"argb8565","dither":true}]})", m);
  ASSERT_TRUE(s.ok()) << s.message;
  const bool expected[] = {true, false, false, true};
  for (size_t i = 0; i < m.entries.size(); ++i) EXPECT_EQ(manifest_dithers(m, m.entries[i]), expected[i]) << i;
  m.dither = false;
  EXPECT_FALSE(manifest_dithers(m, m.entries[0]));
}

// One run names every fault: the top level's, then each entry's, a field
// after a fault in an earlier one; at most 20 lines.
TEST(Manifest, EveryFaultIsNamed) {
  Manifest m;
  std::string err =
      parse_manifest(R"({"tiled": true, "codex": 1, "entries": [)"
                     R"({"name":"a","type":1,"file":"a.png","fromat":"a8","format":"argb8888","tile":[0,0]},)"
                     R"({"name":"b","type":300}]})",
                     m)
          .message;
  EXPECT_EQ(err,
            "field \"codex\": unknown field\n"
            "entry 1 (a): field \"fromat\": unknown field\n"
            "entry 1 (a): field \"format\": argb8888 has 4 bytes per pixel, type 1 holds 2\n"
            "entry 1 (a): field \"tile\": a side of 0; a tiled pack's tiles are at least 1 x 1 pixels\n"
            "entry 2 (b): field \"type\": not a type code (an integer from 0 to 255)\n"
            "entry 2 (b): field \"file\": missing (only an image of width or height 0 has none)");
  std::string many = R"({"entries":[)";
  for (int i = 0; i < 25; ++i) many += std::string(i ? "," : "") + R"({"name":"n","type":1})";
  err = parse_manifest(many + "]}", m).message;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 19);
  EXPECT_EQ(err.substr(err.rfind('\n') + 1), "6 more faults not shown");

  // Through create: every line after "create: <manifest>: ", nothing written.
  TempDir tmp;
  const std::string json = R"({"tiled":true,"entries":[{"name":"a","type":1,"file":"a.png","tile":[0,0]},)"
                           R"({"name":"b","type":1,"file":"b.png","tile":[8,0]}]})";
  ASSERT_TRUE(write_file(tmp.file("m.json"), Bytes(json.begin(), json.end())));
  testing::internal::CaptureStderr();
  EXPECT_EQ(tool_create(tmp.file("m.json"), tmp.file("out.pack")), 1);
  const std::string line = "create: " + tmp.file("m.json") + ": entry ";
  const std::string why = ": field \"tile\": a side of 0; a tiled pack's tiles are at least 1 x 1 pixels\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), line + "1 (a)" + why + line + "2 (b)" + why);
  EXPECT_FALSE(file_exists(tmp.file("out.pack")));
}

// A file name that is not UTF-8 goes as "file_hex", written so and read back.
TEST(Manifest, FileHexNamesTheBytes) {
  Manifest m;
  m.entries.resize(2);
  m.entries[0].name = "p";
  m.entries[0].file = "p\xff.png";
  m.entries[1].name = "q";
  m.entries[1].file = "q.png";
  m.entries[0].type = m.entries[1].type = 11;
  const std::string text = manifest_json(m);
  EXPECT_NE(text.find(R"({"name":"p","type":11,"file_hex":"70ff2e706e67"})"), std::string::npos) << text;
  EXPECT_NE(text.find(R"({"name":"q","type":11,"file":"q.png"})"), std::string::npos) << text;
  Manifest back;
  ASSERT_TRUE(parse_manifest(text, back).ok());
  EXPECT_EQ(back.entries[0].file, "p\xff.png");
#ifndef _WIN32  // names there are UTF-16: no file name is outside UTF-8
  // create reads that file; the pack is the one of a UTF-8 name.
  TempDir tmp;
  Bytes png;
  ASSERT_TRUE(write_png(2, 1, 4, Bytes{1, 2, 3, 4, 5, 6, 7, 8}, png).ok());
  ASSERT_TRUE(write_file(tmp.file("p\xff.png"), png));
  ASSERT_TRUE(write_file(tmp.file("q.png"), png));
  ASSERT_TRUE(write_file(tmp.file("m.json"), Bytes(text.begin(), text.end())));
  ASSERT_EQ(tool_create(tmp.file("m.json"), tmp.file("hex.pack")), 0);
  m.entries[0].file = "q.png";
  const std::string plain = manifest_json(m);
  ASSERT_TRUE(write_file(tmp.file("m.json"), Bytes(plain.begin(), plain.end())));
  ASSERT_EQ(tool_create(tmp.file("m.json"), tmp.file("plain.pack")), 0);
  EXPECT_EQ(read_file(tmp.file("hex.pack")), read_file(tmp.file("plain.pack")));
#endif
}

TEST(Manifest, CreateNamesTheEntryOfABadFile) {
  TempDir tmp;
  Bytes png;
  ASSERT_TRUE(write_png(2048, 2048, 4, Bytes(size_t{2048} * 2048 * 4), png).ok());
  ASSERT_TRUE(write_file(tmp.file("big.png"), png));
  ASSERT_TRUE(write_file(tmp.file("text.jpg"), {'h', 'i'}));
  ASSERT_TRUE(write_file(tmp.file("a.png"), {'h', 'i'}));
  struct Case {
    const char* entry;
    const char* says;
  };
  const Case cases[] = {
      {R"({"name":"m","type":1,"file":"missing.png"})", R"(entry 1 (m): field "file": cannot open)"},
      {R"({"name":"b","type":11,"file":"big.png"})", R"(entry 1 (b): field "file": 2048 x 2048 pixels)"},
      {R"({"name":"j","type":38,"file":"text.jpg"})", R"(entry 1 (j): field "file": not a JPEG)"},
      {R"({"name":"p","type":1,"file":"a.png"})", R"(entry 1 (p): field "file": not a PNG)"},
  };
  for (const Case& c : cases) {
    const std::string json = std::string(R"({"entries":[)") + c.entry + "]}";
    ASSERT_TRUE(write_file(tmp.file("m.json"), Bytes(json.begin(), json.end())));
    testing::internal::CaptureStderr();
    EXPECT_EQ(tool_create(tmp.file("m.json"), tmp.file("out.pack")), 1);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
    EXPECT_FALSE(file_exists(tmp.file("out.pack")));
  }
}

// A pack with every awkward name, exported and created again.
TEST(ExportCreate, RebuildsThePackExactly) {
  TestPack pack;
  pack.entries.push_back(image_entry("a/b", 1, 7, 3, ImageKind::Gradient, 1));
  pack.entries.push_back(image_entry("a/b", 30, 5, 4, ImageKind::Glyphs, 2));
  pack.entries.push_back(image_entry("\xFF\x01..", 11, 3, 3, ImageKind::Noise, 3));
  pack.entries.push_back(image_entry("", 32, 2, 9, ImageKind::Flat, 4));
  pack.entries.push_back(image_entry("..", 36, 0, 40, ImageKind::Flat, 5));
  pack.entries.push_back(image_entry("12345678", 5, 4, 4, ImageKind::Noise, 6));
  pack.entries.push_back(jpeg_entry("jp", 30, 20, 40, 7));
  TempDir tmp;
  ASSERT_TRUE(write_file(tmp.file("src.pack"), build_pack(pack)));
  ASSERT_EQ(run_tool(MORVANE_EXE, {"-c", tmp.file("src.pack"), tmp.file("c.pack")}).status, 0);
  for (const char* from : {"src.pack", "c.pack"}) {
    const std::string dir = tmp.file(std::string(from) + ".d");
    ASSERT_EQ(tool_export(tmp.file(from), dir), 0) << from;
    ASSERT_EQ(tool_create(dir + "/manifest.json", tmp.file("again.pack")), 0) << from;
    EXPECT_EQ(read_file(tmp.file("again.pack")), read_file(tmp.file("src.pack"))) << from;
  }
  // A JPEG entry whose payload is no JPEG: its bytes are exported.
  TestPack bad;
  bad.entries.push_back(jpeg_entry("jp", 30, 20, 40, 7));
  bad.entries[0].payload[0] = 'X';
  ASSERT_TRUE(write_file(tmp.file("bad.pack"), build_pack(bad)));
  testing::internal::CaptureStderr();
  EXPECT_EQ(tool_export(tmp.file("bad.pack"), tmp.file("bad")), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(read_file(tmp.file("bad/jp.jpg")), bad.entries[0].payload);
}

}  // namespace

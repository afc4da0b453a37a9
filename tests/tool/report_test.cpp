// SPDX-License-Identifier: MIT
// morvane-tool report: the entry records its page is made of, the page
// itself, what the command writes and refuses, and the page in a real
// browser (headless Chromium, skipped when it is not installed).
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "support/encode.h"
#include "tile/tile_image.h"
#include "support/pack_writer.h"
#include "support/run_tool.h"
#include "tool/image_files.h"
#include "tool/tool_report.h"

namespace {

PackEntry entry_of(const char* name, uint8_t type, size_t payload_size) {
  PackEntry e;
  e.type = type;
  e.len = static_cast<uint32_t>(payload_size + ENTRY_RECT_SIZE);
  for (size_t i = 0; name[i] != '\0' && i < ENTRY_NAME_SIZE; ++i) e.name[i] = name[i];
  return e;
}

// A JPEG file of w x h grey pixels.
std::vector<uint8_t> jpeg_file(int w, int h) {
  std::vector<uint8_t> grey(size_t(w) * size_t(h), 90);
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  std::vector<uint8_t> file;
  if (tjCompress2(tj, grey.data(), w, 0, h, TJPF_GRAY, &out, &size, TJSAMP_GRAY, 80, 0) == 0)
    file.assign(out, out + size);
  tjFree(out);
  tjDestroy(tj);
  return file;
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ReportTest, ShrinkWeighsColoursByAlpha) {
  // Opaque red, transparent green, opaque blue, transparent white.
  const std::vector<uint8_t> rgba = {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 255, 255, 255, 255, 0};
  EXPECT_EQ(shrink_rgba(rgba, 2, 2, 1, 1), (std::vector<uint8_t>{128, 0, 128, 128}));
  EXPECT_EQ(shrink_rgba(rgba, 2, 2, 2, 1), (std::vector<uint8_t>{128, 0, 128, 255, 0, 0, 0, 0}));
  EXPECT_EQ(shrink_rgba(rgba, 4, 1, 2, 1), (std::vector<uint8_t>{255, 0, 0, 128, 0, 0, 255, 128}));
}

TEST(ReportTest, Entries) {
  const std::vector<uint8_t> pixels = make_image(ImageKind::Gradient, 100, 40, 2, 7);
  const std::vector<uint8_t> block = tile_block(pixels, 100, 40, 32, 32, 1, CODEC_KIND_LZ4);
  std::vector<uint8_t> broken_block = block;
  broken_block[16 + 3] = 0x7F;  // the first TileRef's offset far outside
  const std::vector<uint8_t> lz4 = lz4_block(make_image(ImageKind::Flat, 300, 20, 2, 3));
  std::vector<uint8_t> hinted(TILE_HINT_SIZE + 10 * 10 * 2);  // a 32x32 hint, then 10x10 pixels
  hinted[0] = hinted[2] = 32;
  std::copy(pixels.begin(), pixels.begin() + 10 * 10 * 2, hinted.begin() + TILE_HINT_SIZE);
  std::vector<uint8_t> jpeg = {'J', 'P', 'E', 'G', 9, 0, 9, 0};
  jpeg.resize(40, 0x55);
  const std::vector<uint8_t> real_jpeg = jpeg_file(300, 100);
  std::vector<uint8_t> jpeg_form(8 + real_jpeg.size());  // "JPEG", 300, 100, then the file
  const uint8_t jpeg_head[] = {'J', 'P', 'E', 'G', 44, 1, 100, 0};
  std::copy(real_jpeg.begin(), real_jpeg.end(), std::copy(jpeg_head, jpeg_head + 8, jpeg_form.begin()));
  struct Case {
    const char* what;
    bool tiled;
    uint8_t type;
    EntryRect rect;
    std::vector<uint8_t> payload;
    size_t cut;  // bytes the file lacks
    const char* form;
    uint64_t raw;
    uint32_t thumb_w, thumb_h;
    uint32_t across, down;
    const char* error;  // in the record's error, "" for none
  };
  const Case cases[] = {
      {"raw", false, 1, {4, 4}, std::vector<uint8_t>(32, 0x11), 0, "raw", 32, 4, 4, 0, 0, ""},
      {"raw one byte", false, 30, {300, 2}, std::vector<uint8_t>(600, 0x80), 0, "raw", 600, 128, 1, 0, 0, ""},
      {"lz4", false, 14, {300, 20}, lz4, 0, "LZ4", 12000, 128, 9, 0, 0, ""},
      {"lz4 corrupt", false, 14, {300, 20}, std::vector<uint8_t>(50, 0xFF), 0, "LZ4", 12000, 0, 0, 0, 0,
       "does not decode"},
      {"tiled block", true, 39, {100, 40}, block, 0, "tiled block", 8000, 100, 40, 4, 2, ""},
      {"tiled block broken", true, 39, {100, 40}, broken_block, 0, "tiled block", 8000, 0, 0, 4, 2,
       "does not decode"},
      {"raw after hint", true, 1, {10, 10}, hinted, 0, "raw + hint", 200, 10, 10, 0, 0, ""},
      {"jpeg form", false, 38, {9, 9}, jpeg, 0, "JPEG", 0, 0, 0, 0, 0, ""},
      {"jpeg file", false, 38, {300, 100}, real_jpeg, 0, "JPEG", 0, 128, 43, 0, 0, ""},
      {"jpeg form with a file", true, 38, {300, 100}, jpeg_form, 0, "JPEG", 0, 128, 43, 0, 0, ""},
      {"cut short", false, 1, {4, 4}, std::vector<uint8_t>(32, 0x11), 5, "raw", 0, 0, 0, 0, 0,
       "lies outside the file"},
      {"empty image", false, 1, {0, 7}, {}, 0, "raw", 0, 0, 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    const PackEntry e = entry_of(c.what, c.type, c.payload.size());
    const std::span<const uint8_t> held(c.payload.data(), c.payload.size() - c.cut);
    const ReportEntry x = report_entry(c.tiled, e, c.rect, held);
    EXPECT_STREQ(x.form, c.form) << c.what;
    EXPECT_EQ(x.stored, c.payload.size()) << c.what;
    EXPECT_EQ(x.raw, c.raw) << c.what;
    EXPECT_EQ(x.thumb_width, c.thumb_w) << c.what;
    EXPECT_EQ(x.thumb_height, c.thumb_h) << c.what;
    EXPECT_EQ(x.thumbnail.empty(), c.thumb_w == 0) << c.what;
    EXPECT_EQ(x.tiles_across, c.across) << c.what;
    EXPECT_EQ(x.tiles_down, c.down) << c.what;
    EXPECT_EQ(x.tile_bytes.size(), size_t{c.across} * c.down) << c.what;
    if (*c.error == '\0') EXPECT_EQ(x.error, "") << c.what;
    else EXPECT_NE(x.error.find(c.error), std::string::npos) << c.what << ": " << x.error;
    if (!x.thumbnail.empty()) {
      Picture pic;
      std::string err;
      ASSERT_TRUE(read_png(x.thumbnail, 1 << 20, pic, err)) << c.what << err;
      EXPECT_EQ(pic.width, c.thumb_w) << c.what;
      EXPECT_EQ(pic.height, c.thumb_h) << c.what;
    }
  }
}

TEST(ReportTest, Page) {
  ReportEntry a, b, c;
  a.name = "<b>&\"x"; a.type = 1; a.form = "raw"; a.rect = {2, 1}; a.stored = a.raw = 4;
  ASSERT_TRUE(write_png(2, 1, 4, std::vector<uint8_t>(8, 200), a.thumbnail, a.error));
  a.thumb_width = 2; a.thumb_height = 1;
  b.name = "blk"; b.type = 39; b.form = "tiled block"; b.rect = {64, 32}; b.stored = 100; b.raw = 4096;
  b.tiles_across = 2; b.tiles_down = 1; b.tile_width = b.tile_height = 32; b.tile_bytes = {30, 54};
  c.name = "j"; c.type = 38; c.form = "JPEG"; c.stored = 10; c.error = "bad <data>";
  PackHeader header;
  header.bytes[TILED_FLAG] = 1;
  const std::string page = report_html("p<1>.pack", header, 4321, {a, b, c});
  const char* expected[] = {
      "<title>p&lt;1&gt;.pack</title>",
      "<p>4321 bytes, 3 entries, tiled, 114 bytes of entry data for 4100 bytes of pixels (2.5%)</p>",
      // Totals by form and by type, each in its order.
      "<tr><td>JPEG</td><td>1</td><td>10</td><td>0</td><td>-</td></tr>\n"
      "<tr><td>raw</td><td>1</td><td>4</td><td>4</td><td>100.0%</td></tr>\n"
      "<tr><td>tiled block</td><td>1</td><td>100</td><td>4096</td><td>2.4%</td></tr>\n",
      "<tr><td>1</td><td>1</td><td>4</td><td>4</td><td>100.0%</td></tr>\n"
      "<tr><td>38</td><td>1</td><td>10</td><td>0</td><td>-</td></tr>\n"
      "<tr><td>39</td><td>1</td><td>100</td><td>4096</td><td>2.4%</td></tr>\n",
      "<td class=\"name\">&lt;b&gt;&amp;&quot;x</td>",
      "<td class=\"name\">j<div class=\"error\">bad &lt;data&gt;</div></td>",
      "width=\"2\" height=\"1\" alt=\"\">",
      "<td data-v=\"2048\">64x32</td><td data-v=\"100\">100</td><td data-v=\"4096\">4096</td>",
      "data-across=\"2\" data-down=\"1\" data-tiles=\"30,54\"",
      "2 x 1 tiles of 32x32, 30 to 54 bytes",
      "<th data-sort>size</th><th data-sort>stored bytes</th>",
  };
  for (const char* text : expected) EXPECT_NE(page.find(text), std::string::npos) << text;
  EXPECT_EQ(count_of(page, "<img class=\"thumb\" src=\"data:image/png;base64,"), 1u);
  EXPECT_EQ(count_of(page, "<img class=\"tiles\" src=\"data:image/png;base64,"), 1u);
  // Nothing the page would fetch: every source is inline.
  EXPECT_EQ(count_of(page, "src="), 2u);
  EXPECT_EQ(count_of(page, "http"), 0u);
  EXPECT_EQ(count_of(page, "<link"), 0u);
}

TEST(ReportTest, WritesSafely) {
  TempDir dir;
  TestPack raw;
  raw.entries.push_back(image_entry("a", 1, 4, 4, ImageKind::Noise, 1));
  raw.entries.push_back(image_entry("b", 30, 2, 2, ImageKind::Noise, 2));
  const std::vector<uint8_t> good = build_pack(raw);
  const std::string pack = dir.file("p.pack"), page = dir.file("p.html");
  write_file(pack, good);

  auto report = [](const std::string& in, const std::string& out) {
    return run_tool(MORVANE_TOOL_EXE, {"report", in, out});
  };
  ToolRun r = report(pack, page);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "report: " + pack + ": 2 entries reported in " + page + "\n");
  EXPECT_EQ(r.errors, "");

#ifndef _WIN32  // symbolic links need rights Windows users seldom have
  // A link planted at OUT is replaced; its target keeps its bytes.
  write_file(dir.file("target"), {'k'});
  ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("link.html").c_str()), 0);
  EXPECT_EQ(report(pack, dir.file("link.html")).status, 0);
  EXPECT_EQ(read_file(dir.file("target")), (std::vector<uint8_t>{'k'}));
  EXPECT_GT(read_file(dir.file("link.html")).size(), 1000u);

  // OUT that is the pack, also through a link: refused, the pack unchanged.
  ASSERT_EQ(symlink(pack.c_str(), dir.file("pack-link").c_str()), 0);
  r = report(pack, dir.file("pack-link"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "report: " + dir.file("pack-link") + " is the pack being reported; refusing to overwrite it\n");
  EXPECT_EQ(read_file(pack), good);
#endif

  // A pack that does not load: one line, no page.
  std::vector<uint8_t> bad = good;
  bad[3] = 0x18;
  write_file(dir.file("bad.pack"), bad);
  r = report(dir.file("bad.pack"), dir.file("bad.html"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(count_of(r.errors, "\n"), 1u);
  EXPECT_FALSE(file_exists(dir.file("bad.html")));

  // An entry whose data lies past the end: the page shows it, one line, 1.
  std::vector<uint8_t> cut(good.begin(), good.end() - 2);
  write_file(dir.file("cut.pack"), cut);
  r = report(dir.file("cut.pack"), dir.file("cut.html"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "report: " + dir.file("cut.pack") + ": 1 of 2 entries do not decode; " + dir.file("cut.html") +
                          " shows why\n");
  const std::vector<uint8_t> shown = read_file(dir.file("cut.html"));
  EXPECT_NE(std::string(shown.begin(), shown.end()).find("lies outside the file"), std::string::npos);
}

// The sample packs' pages in headless Chromium: every thumbnail there and
// decoded to its size, and a screenshot taken.
TEST(ReportBrowserTest, ThumbnailsDecodeInChromium) {
  if (std::system("command -v chromium >/dev/null 2>&1") != 0) GTEST_SKIP() << "chromium is not installed";
  TempDir dir;
  const std::string flags = "chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
                            "--user-data-dir=" + dir.file("profile") + " ";
  struct Case {
    const char* pack;
    std::vector<int> widths;  // of the thumbnails, in entry order
  };
  const Case cases[] = {
      {"demo_tiled.packz", {128, 64, 128, 128, 120, 8}},
      {"demo.packz", {128, 64, 128, 128, 120, 8}},
  };
  for (const Case& c : cases) {
    const std::string page = dir.file("page.html"), probe = dir.file("probe.html");
    ASSERT_EQ(run_tool(MORVANE_TOOL_EXE, {"report", std::string(MORVANE_SAMPLES) + "/" + c.pack, page}).status, 0);
    // Each picture's decoded width written into the DOM once the page has loaded.
    std::vector<uint8_t> bytes = read_file(page);
    std::string text(bytes.begin(), bytes.end());
    text.insert(text.rfind("</body>"), "<script>addEventListener('load', () => { for (const i of document.images) "
                                        "i.setAttribute('data-decoded', i.complete ? i.naturalWidth : -1); });"
                                        "</script>");
    write_file(probe, {text.begin(), text.end()});
    ToolRun dom = run_tool("/bin/sh", {"-c", flags + "--dump-dom file://" + probe + " 2>/dev/null"});
    ASSERT_EQ(dom.status, 0) << c.pack;
    std::vector<int> thumbs;
    size_t maps = 0;
    for (size_t at = dom.output.find("<img "); at != std::string::npos; at = dom.output.find("<img ", at + 1)) {
      const std::string tag = dom.output.substr(at, dom.output.find('>', at) - at);
      const size_t value = tag.find("data-decoded=\"");
      const int decoded = value == std::string::npos ? -2 : std::atoi(tag.c_str() + value + 14);
      if (tag.find("class=\"thumb\"") != std::string::npos) thumbs.push_back(decoded);
      else if (decoded > 0) ++maps;
    }
    EXPECT_EQ(thumbs, c.widths) << c.pack;
    EXPECT_EQ(maps, count_of(text, "<img class=\"tiles\"")) << c.pack;

    const std::string shot = "--window-size=800,600 --screenshot=" + dir.file("shot.png") + " file://" + page;
    ASSERT_EQ(run_tool("/bin/sh", {"-c", flags + shot + " >/dev/null 2>&1"}).status, 0);
    Picture pic;
    std::string err;
    ASSERT_TRUE(read_png(read_file(dir.file("shot.png")), 1 << 22, pic, err)) << err;
    EXPECT_EQ(pic.width, 800u);
  }
}

}  // namespace

// SPDX-License-Identifier: MIT
// morvane-tool report: the entry records its page is made of, the page
// itself, what the command writes and refuses, and the page in a real
// browser (headless Chromium, skipped when it is not installed).
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "support/encode.h"
#include "tile/tile_image.h"
#include "support/pack_writer.h"
#include "support/run_tool.h"
#include "tool/image_files.h"
#include "tool/tool_report.h"

using namespace morvane;
using namespace morvane::detail;

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
    const ReportEntry x = report_entry(PackMode{c.tiled}, e, c.rect, held);
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
      ASSERT_TRUE(read_png(x.thumbnail, 1 << 20, pic).ok()) << c.what;
      EXPECT_EQ(pic.width, c.thumb_w) << c.what;
      EXPECT_EQ(pic.height, c.thumb_h) << c.what;
    }
  }
}

TEST(ReportTest, Page) {
  ReportEntry a, b, c, d;
  a.name = "<b>&\"x"; a.type = 1; a.form = "raw"; a.rect = {2, 1}; a.stored = a.raw = 4; a.format = "argb4444";
  ASSERT_TRUE(write_png(2, 1, 4, std::vector<uint8_t>(8, 200), a.thumbnail).ok());
  a.thumb_width = 2; a.thumb_height = 1;
  b.name = "blk"; b.type = 39; b.form = "tiled block"; b.rect = {64, 32}; b.stored = 100; b.raw = 4096;
  b.tiles_across = 2; b.tiles_down = 1; b.tile_width = b.tile_height = 32; b.tile_bytes = {30, 54};
  c.name = "j"; c.type = 38; c.form = "JPEG"; c.stored = 10; c.error = "bad <data>";
  // An untiled block: 16 bytes more than its pixels.
  d.name = "Whole"; d.type = 39; d.form = "tiled block"; d.codec = "stored whole"; d.rect = {240, 160};
  d.stored = 76816; d.raw = 76800; d.format = "rgb565"; d.format_assumed = true; d.pixel_format = 1;
  PackHeader header;
  header.bytes[TILED_FLAG] = 1;
  header.bytes[CODEC_KIND] = 2;
  const std::string page = report_html("p<1>.pack", header, 4321, {a, b, c, d});
  const char* expected[] = {
      "<title>p&lt;1&gt;.pack</title>",
      "<p>4,321 bytes, 4 entries. Mode: tiled (TILED_FLAG 1), codec lz4 (CODEC_KIND 2): tiles LZ4-coded.</p>",
      // Images over their pixels, JPEG data apart: 76,920 / 80,900.
      "Images: 3 entries, 76,920 bytes stored for 80,900 bytes of raw pixels (95.1%). JPEG: 1 entry, 10 bytes.",
      // Totals by form and by type, each in its order.
      "<tr><td>JPEG</td><td>1</td><td>10</td><td>0</td><td>-</td></tr>\n"
      "<tr><td>raw</td><td>1</td><td>4</td><td>4</td><td>100.0%</td></tr>\n"
      "<tr><td>tiled block</td><td>2</td><td>76,916</td><td>80,896</td><td>95.1%</td></tr>\n",
      "<tr><td>1</td><td>1</td><td>4</td><td>4</td><td>100.0%</td></tr>\n"
      "<tr><td>38</td><td>1</td><td>10</td><td>0</td><td>-</td></tr>\n"
      "<tr><td>39</td><td>2</td><td>76,916</td><td>80,896</td><td>95.1%</td></tr>\n",
      "<td class=\"name\">&lt;b&gt;&amp;&quot;x</td>",
      "<td class=\"name\">j<div class=\"error\">bad &lt;data&gt;</div></td>",
      // 2 x 1 pixels shown 32 times over.
      "<img class=\"thumb scaled\" title=\"shown 32 times its size\" src=\"data:image/png;base64,",
      "width=\"64\" height=\"32\" alt=\"\">",
      "<td data-v=\"2048\">64x32</td><td data-v=\"100\">100</td><td data-v=\"4096\">4,096</td>",
      "data-across=\"2\" data-down=\"1\" data-tiles=\"30,54\"",
      "2 x 1 tiles of 32x32, 30 to 54 bytes",
      "<th data-sort>size</th><th data-sort>stored bytes</th>",
      // Formats: from a manifest, assumed, with the block's code.
      "<td>1</td><td class=\"form\">argb4444</td><td class=\"form\">raw</td>",
      "<td class=\"form\">rgb565 <span class=\"note\">(assumed)</span><div class=\"note\">PixelFormat 1</div></td>"
      "<td class=\"form\">tiled block<div class=\"note\">stored whole</div></td>",
      "<td data-v=\"76816\">76,816</td><td data-v=\"76800\">76,800</td><td data-v=\"1.000208\">100.02%</td>"
      "<td><div class=\"note\">stored whole, untiled: 76,816 bytes with its 16-byte header</div></td>",
      // The legend, the filter box and what it matches.
      "<span class=\"swatch\" style=\"background:rgb(255,240,200)\"></span> the image's cheapest",
      "<input id=\"filter\" type=\"search\"",
      "<span id=\"shown\">4 of 4 entries</span>",
      "<tr data-key=\"&lt;b&gt;&amp;&quot;x 1 argb4444 raw \">",
      "<tr data-key=\"whole 39 rgb565 tiled block stored whole\">",
  };
  for (const char* text : expected) EXPECT_NE(page.find(text), std::string::npos) << text;
  EXPECT_EQ(count_of(page, "<img class=\"thumb"), 1u);
  EXPECT_EQ(count_of(page, "<img class=\"tiles\" src=\"data:image/png;base64,"), 1u);
  // Nothing the page would fetch: every source is inline.
  EXPECT_EQ(count_of(page, "src="), 2u);
  EXPECT_EQ(count_of(page, "http"), 0u);
  EXPECT_EQ(count_of(page, "<link"), 0u);

  const std::pair<uint64_t, const char*> numbers[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {28000, "28,000"}, {1234567, "1,234,567"}};
  for (const auto& [n, text] : numbers) EXPECT_EQ(grouped(n), text);
  struct Ratio {
    uint64_t stored, raw;
    const char* text;
  };
  const Ratio ratios[] = {{4, 4, "100.0%"},          {76816, 76800, "100.02%"}, {76799, 76800, "99.999%"},
                          {1, 10, "10.0%"},          {0, 5, "0.0%"},            {5, 0, "-"},
                          {8001, 8000, "100.01%"},   {16777216, 16777215, "100.0000%"}};
  for (const Ratio& r : ratios) EXPECT_EQ(ratio_text(r.stored, r.raw), r.text) << r.stored << "/" << r.raw;
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

// A pack of the most entries a table holds: the page the command writes row
// by row is the page made whole from the same entries, and info --json,
// written an entry at a time, is the document one dump of it gives.
TEST(ReportTest, PackOfTheMostEntries) {
  TempDir dir;
  TestPack raw;
  for (uint32_t i = 0; i < 65535; ++i) {
    const std::string name = std::string(1, 'e').append(std::to_string(i));
    raw.entries.push_back(i % 1000 == 7 ? jpeg_entry(name, 8, 8, 40, i)
                                        : image_entry(name, i % 3 == 0 ? 30 : 1, 1 + i % 3, 1, ImageKind::Noise, i));
  }
  const std::string pack = dir.file("p.pack"), page = dir.file("p.html");
  write_file(pack, build_pack(raw));
  ToolRun r = run_tool(MORVANE_TOOL_EXE, {"report", pack, page});
  ASSERT_EQ(r.status, 0) << r.errors;
  const ParsedPack parsed = parse_pack(read_file(pack));
  std::vector<ReportEntry> entries;
  for (size_t i = 0; i < parsed.entries.size(); ++i)
    entries.push_back(report_entry(PackMode{}, parsed.entries[i], parsed.rects[i], parsed.payloads[i]));
  const std::vector<uint8_t> written = read_file(page);
  EXPECT_EQ(std::string(written.begin(), written.end()), report_html(pack, parsed.header,
                                                                     static_cast<int64_t>(read_file(pack).size()),
                                                                     entries));

  for (const std::string& p : {pack, dir.file("empty.pack")}) {
    if (p != pack) write_file(p, build_pack(TestPack()));
    r = run_tool(MORVANE_TOOL_EXE, {"info", "--json", p});
    ASSERT_EQ(r.status, 0) << r.errors;
    const nlohmann::ordered_json doc = nlohmann::ordered_json::parse(r.output);
    EXPECT_EQ(doc.dump(2) + "\n", r.output);
    EXPECT_EQ(doc["entries"].size(), p == pack ? 65535u : 0u);
  }
}

// The value of attribute `name` in an HTML tag, or "".
std::string attribute(const std::string& tag, const std::string& name) {
  const size_t at = tag.find(" " + name + "=\"");
  if (at == std::string::npos) return "";
  const size_t start = at + name.size() + 3;
  return tag.substr(start, tag.find('"', start) - start);
}

// The sample packs' pages, and one of small pictures, in headless Chromium:
// every thumbnail there and decoded to its size, the small ones shown scaled
// up without smoothing, the filter box keeping the rows that match, and a
// screenshot taken.
TEST(ReportBrowserTest, ThumbnailsDecodeInChromium) {
  if (std::system("command -v chromium >/dev/null 2>&1") != 0) GTEST_SKIP() << "chromium is not installed";
  TempDir dir;
  const std::string flags = "chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
                            "--user-data-dir=" + dir.file("profile") + " ";
  TestPack small;
  small.entries.push_back(image_entry("icon", 11, 16, 16, ImageKind::Noise, 1));
  small.entries.push_back(image_entry("wide", 1, 200, 10, ImageKind::Gradient, 2));
  write_file(dir.file("small.pack"), build_pack(small));
  struct Case {
    std::string pack;
    std::vector<int> widths;  // of the thumbnails' pictures, in entry order
    std::vector<int> shown;   // as laid out
    const char* filter;       // typed into the filter box
    const char* rows;         // the names of the rows left, and the count
    const char* count;
  };
  const std::string samples = std::string(MORVANE_SAMPLES) + "/";
  const Case cases[] = {
      {samples + "demo_tiled.packz", {128, 64, 128, 128, 120, 8}, {128, 64, 128, 128, 120, 8}, "lz4 TILED",
       "bg_grad|icon_ok|font16|panel|strip", "5 of 7 entries"},
      {samples + "demo.packz", {128, 64, 128, 128, 120, 8}, {128, 64, 128, 128, 120, 8}, "jpeg", "splash",
       "1 of 7 entries"},
      {dir.file("small.pack"), {16, 128}, {64, 128}, " icon ", "icon", "1 of 2 entries"},
  };
  for (const Case& c : cases) {
    const std::string page = dir.file("page.html"), probe = dir.file("probe.html");
    ASSERT_EQ(run_tool(MORVANE_TOOL_EXE, {"report", c.pack, page}).status, 0);
    // What the page shows once it has loaded and the filter was typed in,
    // written into the DOM.
    std::vector<uint8_t> bytes = read_file(page);
    std::string text(bytes.begin(), bytes.end());
    text.insert(text.rfind("</body>"),
                "<script>addEventListener('load', () => { for (const i of document.images) {"
                "i.setAttribute('data-decoded', i.complete ? i.naturalWidth : -1); i.setAttribute('data-shown', "
                "i.width); i.setAttribute('data-rendering', getComputedStyle(i).imageRendering); }"
                "const f = document.getElementById('filter'); f.value = '" + std::string(c.filter) + "';"
                "f.dispatchEvent(new Event('input')); document.body.setAttribute('data-rows', "
                "Array.from(document.querySelectorAll('#entries tbody tr')).filter((r) => !r.hidden)"
                ".map((r) => r.cells[2].textContent).join('|')); });</script>");
    write_file(probe, {text.begin(), text.end()});
    ToolRun dom = run_tool("/bin/sh", {"-c", flags + "--dump-dom file://" + probe + " 2>/dev/null"});
    ASSERT_EQ(dom.status, 0) << c.pack;
    std::vector<int> thumbs, shown;
    size_t maps = 0;
    for (size_t at = dom.output.find("<img "); at != std::string::npos; at = dom.output.find("<img ", at + 1)) {
      const std::string tag = dom.output.substr(at, dom.output.find('>', at) - at);
      const std::string decoded = attribute(tag, "data-decoded");
      if (tag.find("class=\"thumb") != std::string::npos) {
        thumbs.push_back(decoded.empty() ? -2 : std::atoi(decoded.c_str()));
        shown.push_back(std::atoi(attribute(tag, "data-shown").c_str()));
        // Scaled up, each pixel a sharp square.
        if (shown.back() > thumbs.back()) {
          EXPECT_EQ(attribute(tag, "data-rendering"), "pixelated") << c.pack;
        }
      } else if (std::atoi(decoded.c_str()) > 0) {
        ++maps;
      }
    }
    EXPECT_EQ(thumbs, c.widths) << c.pack;
    EXPECT_EQ(shown, c.shown) << c.pack;
    EXPECT_EQ(maps, count_of(text, "<img class=\"tiles\"")) << c.pack;
    const size_t body = dom.output.find("<body");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(attribute(dom.output.substr(body, dom.output.find('>', body) - body), "data-rows"), c.rows) << c.pack;
    EXPECT_NE(dom.output.find("<span id=\"shown\">" + std::string(c.count) + "</span>"), std::string::npos) << c.pack;

    const std::string shot = "--window-size=800,600 --screenshot=" + dir.file("shot.png") + " file://" + page;
    ASSERT_EQ(run_tool("/bin/sh", {"-c", flags + shot + " >/dev/null 2>&1"}).status, 0);
    Picture pic;
    ASSERT_TRUE(read_png(read_file(dir.file("shot.png")), 1 << 22, pic).ok());
    EXPECT_EQ(pic.width, 800u);
  }
}

}  // namespace

// SPDX-License-Identifier: MIT
// morvane-tool through the real executable: its command line, info, verify,
// what create and export refuse to write over, export's pixel formats and
// the messages for manifests that are not JSON.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "support/pack_writer.h"
#include "support/run_tool.h"
#include "tool/export_formats.h"
#include "tool/image_files.h"
#include "tool/tool_embed.h"

namespace {

using nlohmann::json;

struct ToolOut {
  int status = -1;
  std::string out, err;
  bool operator==(const ToolOut&) const = default;
};

void PrintTo(const ToolOut& t, std::ostream* os) {
  *os << "status " << t.status << ", out " << t.out << ", err " << t.err;
}

using Bytes = std::vector<uint8_t>;

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Every name in dir and the bytes it leads to.
std::map<std::string, Bytes> snapshot(const TempDir& dir) {
  std::map<std::string, Bytes> files;
  for (const std::string& name : dir.list()) files[name] = read_file(dir.file(name));
  return files;
}

// Runs morvane-tool with standard error caught in a file of dir, on
// `threads` threads when not 0.
ToolOut tool(const TempDir& dir, const std::vector<std::string>& args, int threads = 0) {
#ifdef _WIN32
  // No shell to send it to a file: as caught (and copied to the log). The
  // child inherits the variable.
  (void)dir;
  _putenv_s("MORVANE_THREADS", threads > 0 ? std::to_string(threads).c_str() : "");
  ToolRun r = run_tool(MORVANE_TOOL_EXE, args);
  _putenv_s("MORVANE_THREADS", "");
  return {r.status, r.output, r.errors};
#else
  const std::string err_file = dir.file("stderr.txt");
  const std::string env = threads > 0 ? "MORVANE_THREADS=" + std::to_string(threads) + " " : "";
  std::vector<std::string> sh = {"-c", env + "exec \"$@\" 2>'" + err_file + "'", "sh", MORVANE_TOOL_EXE};
  sh.insert(sh.end(), args.begin(), args.end());
  ToolRun r = run_tool("/bin/sh", sh);
  std::vector<uint8_t> err = read_file(err_file);
  return {r.status, r.output, {err.begin(), err.end()}};
#endif
}

// The sample packs, compressed (as committed) and decompressed into dir.
std::vector<std::string> sample_packs(const TempDir& dir) {
  std::vector<std::string> packs;
  for (const char* name : {"demo", "demo_tiled"}) {
    const std::string src = std::string(MORVANE_SAMPLES) + "/" + name, d = dir.file(std::string(name) + ".d.pack");
    EXPECT_EQ(run_tool(MORVANE_EXE, {"-d", src + ".packz", d}).status, 0);
    packs.insert(packs.end(), {src + ".pack", src + ".packz", d});
  }
  return packs;
}

TEST(ToolCliTest, UsageErrorsGiveTwo) {
  TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {},           {"bogus"},          {"--bogus"},       {"info"},         {"info", "a", "b"},
      {"info", "--yaml", "a"},          {"verify"},        {"verify", "a", "--against"},
      {"export", "a"},                  {"create", "m"},   {"create", "m", "o", "x"},
      {"report", "a"},                  {"report", "a", "b", "c"},
      {"embed", "a"},                   {"embed", "a", "b.c", "--symbol", "1a"},
      {"embed", "a", "b.c", "--section", "s*/"},                    {"embed", "a", "b.c", "--align", "3"},
      {"embed", "a", "b.c", "--align", "8192"}};
  for (const auto& args : cases) EXPECT_EQ(tool(dir, args).status, 2) << ::testing::PrintToString(args);
  EXPECT_EQ(tool(dir, {"info"}).err, "info: PACK is required; see morvane-tool info --help\n");
  EXPECT_EQ(tool(dir, {"bogus"}).err, "morvane-tool: A subcommand is required; see morvane-tool --help\n");

  ToolOut v = tool(dir, {"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "2.00230624\n");
  for (const char* sub : {"info", "verify", "export", "create", "embed", "report"}) {
    ToolOut h = tool(dir, {sub, "--help"});
    EXPECT_EQ(h.status, 0) << sub;
    EXPECT_NE(h.out.find(std::string("morvane-tool ") + sub), std::string::npos) << h.out;
  }
}

// Every entry as `morvane -i` lists it and as `info --json` reports it.
TEST(ToolInfoTest, JsonAgreesWithTheListing) {
  TempDir dir;
  // What the non-JPEG entries of each pack hold, in sample_packs' order.
  const char* kinds[] = {"raw", "lz4", "raw", "raw_hinted", "tiled_block", "tiled_pixels"};
  std::vector<std::string> packs = sample_packs(dir);
  for (size_t p = 0; p < packs.size(); ++p) {
    ASSERT_EQ(run_tool(MORVANE_EXE, {"-i", packs[p], dir.file("list.txt")}).status, 0);
    std::vector<uint8_t> listing = read_file(dir.file("list.txt"));
    ToolOut r = tool(dir, {"info", "--json", packs[p]});
    ASSERT_EQ(r.status, 0) << r.err;
    json doc = json::parse(r.out);
    EXPECT_EQ(doc["tiled"], p >= 3);
    const json& entries = doc["entries"];
    size_t i = 0;
    std::string text(listing.begin(), listing.end());
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2, ++i) {
      char name[16];
      int type, w, h, raw_len, len;
      unsigned offset;
      ASSERT_EQ(std::sscanf(text.substr(at, end - at).c_str(),
                            "%15s type %d, width %d, height %d, offset 0x%x, raw_len %d, len %d", name, &type, &w,
                            &h, &offset, &raw_len, &len),
                7);
      ASSERT_LT(i, entries.size());
      const json& e = entries[i];
      EXPECT_EQ(e["name"], name);
      EXPECT_EQ(e["type"], type);
      EXPECT_EQ(e["width"], w);
      EXPECT_EQ(e["height"], h);
      EXPECT_EQ(e["offset"], offset - 4);
      EXPECT_EQ(e["len"], len + 4);
      EXPECT_EQ(e["kind"], type == 38 ? "jpeg" : kinds[p]) << packs[p] << " " << name;
      EXPECT_FALSE(e.contains("error")) << e.dump();
    }
    EXPECT_EQ(i, entries.size()) << packs[p];
  }
}

// A file that is no pack is explained as morvane explains it, one line
// after the subcommand's name; names in the table take the columns they print
// in, and one that is not UTF-8 gives a JSON document all the same, its bytes
// in hex.
TEST(ToolInfoTest, WhatIsNoPackAndWideNames) {
  TempDir dir;
  const std::string made = "; packs are made from PNG and JPEG files with morvane-tool create MANIFEST PACK\n";
  struct Case {
    const char* file;
    std::vector<uint8_t> bytes;  // none: a folder, or nothing there
    std::string says;            // after "<command>: <path>: "
  };
  std::filesystem::create_directory(dir.file("folder"));
  const Case cases[] = {
      {"p.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0}, "not a pack: it looks like a PNG image" + made},
      {"j.jpg", {0xFF, 0xD8, 0xFF, 0xE0}, "not a pack: it looks like a JPEG image" + made},
      {"empty", {}, "not a pack: the file is empty" + made},
      {"folder", {}, "Is a directory; a pack is one file, made with morvane-tool create MANIFEST PACK\n"},
      {"missing", {}, "No such file or directory\n"},
  };
  for (const Case& c : cases) {
    if (!c.bytes.empty() || std::string(c.file) == "empty") write_file(dir.file(c.file), c.bytes);
    for (const char* command : {"info", "verify"}) {
      ToolOut r = tool(dir, {command, dir.file(c.file)});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, std::string(command) + ": " + dir.file(c.file) + ": " + c.says);
    }
  }
  TestPack p;
  p.entries.push_back(image_entry("a\x1b[31m", 1, 1, 1, ImageKind::Flat, 1));
  p.entries.push_back(image_entry("\xc3\xa9", 30, 1, 1, ImageKind::Flat, 2));
  p.entries.push_back(image_entry("\xff\x01\xc3(", 30, 2, 2, ImageKind::Noise, 2));
  write_file(dir.file("names.pack"), build_pack(p));
  const std::string table = tool(dir, {"info", dir.file("names.pack")}).out;
  for (const char* line : {"\n    #  name      type  kind", "\n    0  a\\x1b[31m    1  raw",
                           "\n    1  \xc3\xa9           30  raw", "\n    2  \xff\\x01\xc3("})
    EXPECT_NE(table.find(line), std::string::npos) << line << "\n" << table;
  const json doc = json::parse(tool(dir, {"info", "--json", dir.file("names.pack")}).out);
  EXPECT_EQ(doc["entries"][2]["name"], "\xEF\xBF\xBD\x01\xEF\xBF\xBD(");
  EXPECT_EQ(doc["entries"][2]["name_hex"], "ff01c328");
}

// Damage the loader refuses gives 1; damage inside an entry gives 0 and the
// entry's record an error; nothing crashes, and verify fails on each.
TEST(ToolInfoTest, HostilePacks) {
  TempDir dir;
  std::vector<std::string> packs = sample_packs(dir);
  const std::vector<uint8_t> whole = read_file(packs[1]), tiled = read_file(packs[4]);
  const ParsedPack parsed = parse_pack(tiled);
  const uint32_t block = parsed.entries[0].offset + 4;  // bg_grad's block

  TestPack raw;
  raw.entries.push_back(image_entry("a", 1, 4, 4, ImageKind::Noise, 1));
  raw.entries.push_back(image_entry("\xff\x01\xc3(", 30, 2, 2, ImageKind::Noise, 2));
  const std::vector<uint8_t> good = build_pack(raw);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    size_t at;              // byte to overwrite, when below bytes.size()
    std::vector<uint8_t> with;
    int status;
    const char* error;      // in entry 0's record, for status 0
  };
  const std::vector<uint8_t> header_only(good.begin(), good.begin() + 10);
  const Case cases[] = {
      {"truncated header", header_only, SIZE_MAX, {}, 1, nullptr},
      {"bad magic", good, 3, {0x18}, 1, nullptr},
      {"table past the end", good, 4, {0xFF}, 1, nullptr},
      {"rect past the end", good, 16, {0xF0, 0xFF, 0, 0}, 0, "past the end"},
      {"len below 4", good, 20, {2, 0}, 0, "less than its 4-byte rectangle"},
      {"data past the end", whole, 31, {0x7F}, 0, "past the end of the file"},
      {"block magic", tiled, block, {'X'}, 0, "names no codec"},
      {"block size", tiled, block + 4, {7}, 0, "the entry's rectangle"},
      {"tile count", tiled, block + 14, {5}, 0, "tile_count 5"},
      {"TileRef outside", tiled, block + 16 + 8 * 3 + 3, {0x40}, 0, "tile 3 lies outside the block"},
      {"block cut short", std::vector<uint8_t>(tiled.begin(), tiled.begin() + block + 40), SIZE_MAX, {}, 0,
       "past the end of the file"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = c.bytes;
    if (c.at < bytes.size()) std::copy(c.with.begin(), c.with.end(), bytes.begin() + static_cast<ptrdiff_t>(c.at));
    write_file(dir.file("bad.pack"), bytes);
    ToolOut text = tool(dir, {"info", dir.file("bad.pack")});
    ToolOut js = tool(dir, {"info", "--json", dir.file("bad.pack")});
    EXPECT_EQ(text.status, c.status) << c.what;
    EXPECT_EQ(js.status, c.status) << c.what;
    if (c.status == 0) {
      json doc = json::parse(js.out);
      EXPECT_NE(doc["entries"][0].value("error", "").find(c.error), std::string::npos) << c.what << js.out;
      EXPECT_NE(text.out.find(c.error), std::string::npos) << c.what;
    } else {
      EXPECT_EQ(js.out, "") << c.what;
      EXPECT_NE(js.err.find("bad.pack"), std::string::npos) << c.what;
    }
    EXPECT_EQ(tool(dir, {"verify", dir.file("bad.pack")}).status, 1) << c.what;
  }
}

// Pixels compared whatever the forms: raw, compressed, tiled blocks and
// their -d output, in either role.
TEST(ToolVerifyTest, PacksAgreeWithTheirSourceInAnyForm) {
  TempDir dir;
  std::vector<std::string> packs = sample_packs(dir);
  struct Case {
    size_t pack, against;  // in packs: demo .pack .packz .d.pack, demo_tiled the same
  };
  const Case cases[] = {
      {1, 0}, {4, 3},          // compressed against raw
      {0, 0}, {3, 3}, {3, 0},  // raw against raw, tiled or not
      {1, 1}, {4, 4}, {4, 1},  // compressed against compressed
      {5, 3}, {4, 5}, {5, 0},  // a tiled pack's -d output, both ways
  };
  for (const Case& c : cases) {
    ToolOut r = tool(dir, {"verify", packs[c.pack], "--against", packs[c.against]});
    EXPECT_EQ(r.status, 0) << c.pack << " against " << c.against << ": " << r.err;
    EXPECT_EQ(r.out, "verify: 7 entries, 0 failed\n");
    EXPECT_EQ(r.err, "");
  }
  // Without a source, as morvane -d decodes: a raw pack does not.
  EXPECT_EQ(tool(dir, {"verify", packs[0]}).status, 1);
}

TEST(ToolVerifyTest, FailuresNameTheEntry) {
  TempDir dir;
  std::vector<std::string> packs = sample_packs(dir);
  const std::vector<uint8_t> whole = read_file(packs[1]), tiled = read_file(packs[4]);
  const uint32_t icon = parse_pack(whole).entries[1].offset + 4, block = parse_pack(tiled).entries[1].offset + 4;

  // The source with one pixel of "panel" changed, or "strip" renamed.
  std::vector<uint8_t> source = read_file(packs[0]);
  const ParsedPack src = parse_pack(source);
  std::vector<uint8_t> pixel = source, renamed = source, not_jpeg = source, resized = source;
  pixel[src.entries[4].offset + 4 + 123] ^= 1;
  renamed[16 + 5 * 16 + 7] = 'S';
  not_jpeg[16 + 6 * 16 + 6] = 1;  // splash: type 38 -> 1
  resized[src.entries[3].offset] ^= 1;  // photo: 160 -> 161 wide
  write_file(dir.file("pixel.pack"), pixel);
  write_file(dir.file("renamed.pack"), renamed);
  write_file(dir.file("not_jpeg.pack"), not_jpeg);
  write_file(dir.file("resized.pack"), resized);

  struct Case {
    const char* what;
    std::vector<uint8_t> pack;
    size_t at;  // byte to flip, when below pack.size()
    std::string against;
    const char* line;  // the one failure line starts so
  };
  const Case cases[] = {
      {"a byte of icon_ok", whole, icon + 1, packs[0], "icon_ok (entry 2): "},
      {"tiled block magic", tiled, block, "", "icon_ok (entry 2): block names no codec"},
      {"other pixels", whole, SIZE_MAX, dir.file("pixel.pack"), "panel (entry 5): pixels differ"},
      {"other name", whole, SIZE_MAX, dir.file("renamed.pack"), "strip (entry 6): the source's entry is named"},
      {"JPEG against pixels", whole, SIZE_MAX, dir.file("not_jpeg.pack"),
       "splash (entry 7): JPEG data, the source's entry holds pixels: not compared"},
      {"other size", tiled, SIZE_MAX, dir.file("resized.pack"),
       "photo (entry 4): 160x120, the source's 161x120: pixels not compared"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = c.pack;
    if (c.at < bytes.size()) bytes[c.at] ^= 0x55;
    write_file(dir.file("bad.pack"), bytes);
    std::vector<std::string> args = {"verify", dir.file("bad.pack")};
    if (!c.against.empty()) args.insert(args.end(), {"--against", c.against});
    ToolOut r = tool(dir, args);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err.rfind("verify: " + std::string(c.line), 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    EXPECT_EQ(r.out, "verify: 7 entries, 1 failed\n") << c.what;
  }
}

// repack in each mode from each form of the samples: morvane -c and -d of
// its output give back the samples' pixels.
TEST(ToolRepackTest, EveryModeRoundTripsThroughMorvane) {
  TempDir dir;
  const std::vector<std::string> packs = sample_packs(dir);
  // The types that type 39 hides, from the raw sample.
  ASSERT_EQ(tool(dir, {"export", packs[0], dir.file("ex")}).status, 0);
  const std::string types = dir.file("ex/manifest.json");
  struct Mode {
    const char* name;
    uint8_t tiled, codec_kind;
  };
  const Mode modes[] = {{"whole", 0, 0}, {"rle", 1, 1}, {"lz4", 1, 2}, {"stored", 1, 3}};
  const std::string raw = dir.file("r.pack"), z = dir.file("r.packz"), d = dir.file("r.d.pack");
  for (size_t in : {0, 1, 3, 4, 5}) {
    for (const Mode& m : modes) {
      const std::string what = packs[in] + " " + m.name;
      ToolOut r = tool(dir, {"repack", packs[in], raw, "--mode", m.name, "--types", types});
      ASSERT_EQ(r.status, 0) << what << ": " << r.err;
      EXPECT_EQ(r.err, "") << what;
      const ParsedPack p = parse_pack(read_file(raw));
      EXPECT_EQ(p.header.bytes[TILED_FLAG], m.tiled) << what;
      EXPECT_EQ(p.header.bytes[CODEC_KIND], m.codec_kind) << what;
      ASSERT_EQ(run_tool(MORVANE_EXE, {"-c", raw, z}).status, 0) << what;
      ASSERT_EQ(run_tool(MORVANE_EXE, {"-d", z, d}).status, 0) << what;
      for (const std::string& out : {raw, z, d}) {
        r = tool(dir, {"verify", out, "--against", packs[0]});
        EXPECT_EQ(r.status, 0) << what << ", " << out << ": " << r.err;
      }
    }
  }
  // Without --types the lost types are assumed, and said so; --tile sets
  // every image's TileHint.
  ToolOut r = tool(dir, {"repack", packs[5], raw, "--mode", "lz4", "--tile", "16,8"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "repack: 6 entries of type 39 given the type of their bytes per pixel (30, 1, 32 or 11); "
                   "--types MANIFEST names their types\n");
  const ParsedPack p = parse_pack(read_file(raw));
  const uint8_t assumed[] = {1, 11, 30, 32, 1, 1, 38};  // panel was 36
  for (size_t i = 0; i < p.entries.size(); ++i) {
    EXPECT_EQ(p.entries[i].type, assumed[i]) << i;
    if (i < 6) {
      EXPECT_EQ(std::vector<uint8_t>(p.payloads[i].begin(), p.payloads[i].begin() + 4),
                (std::vector<uint8_t>{16, 0, 8, 0})) << i;
    }
  }
}

// Options that do not fit, and OUT that is IN (repack's and report's): one
// line, nothing written.
TEST(ToolRepackTest, Refusals) {
  TempDir dir;
  const std::string in = std::string(MORVANE_SAMPLES) + "/demo.pack", out = dir.file("out.pack");
  const std::vector<uint8_t> before = read_file(in);
  write_file(dir.file("copy.pack"), before);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string line;
    const char* command = "repack";
  };
  std::vector<Case> cases = {
      {{dir.file("copy.pack"), dir.file("copy.pack")}, 1,
       "repack: " + dir.file("copy.pack") + " is the pack being repacked; refusing to overwrite it\n"},
      {{in, out, "--mode", "zip"}, 2, "repack: --mode zip: not whole, rle, lz4 or stored\n"},
      {{in, out, "--tile", "0,8"}, 2, "repack: --tile 0,8: not W,H with each side from 1 to 65535\n"},
      {{in, out, "--tile", "8,8"}, 2,
       "repack: --tile is for the tiled modes (rle, lz4, stored); the input is whole-entry, give --mode\n"},
      {{in, out, "--mode", "whole", "--tile", "8,8"}, 2,
       "repack: --tile is for the tiled modes (rle, lz4, stored); not whole\n"},
  };
#ifndef _WIN32  // no control bytes in names there
  write_file(dir.file("c\x01.pack"), before);  // report's own line prints the path as every line does
  cases.push_back({{dir.file("c\x01.pack"), dir.file("c\x01.pack")}, 1,
                   "report: " + dir.file("c\\x01.pack") + " is the pack being reported; refusing to overwrite it\n",
                   "report"});
#endif
  for (const Case& c : cases) {
    std::vector<std::string> args = {c.command};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ToolOut r = tool(dir, args);
    EXPECT_EQ(r.status, c.status) << c.line;
    EXPECT_EQ(r.err, c.line);
    EXPECT_FALSE(file_exists(out)) << c.line;
  }
  EXPECT_EQ(read_file(dir.file("copy.pack")), before);
}

// export, verify, report and repack write the same files and lines on any number
// of threads: the samples in every form, and packs with a broken entry in the
// middle.
TEST(ToolThreadsTest, SameFilesAndLinesOnEveryThreadCount) {
  TempDir dir;
  std::vector<std::string> packs = sample_packs(dir);
  for (size_t p : {1, 4}) {
    std::vector<uint8_t> bytes = read_file(packs[p]);
    bytes[parse_pack(bytes).entries[1].offset + 5] ^= 0x55;
    packs.push_back(dir.file("bad" + std::to_string(p) + ".pack"));
    write_file(packs.back(), bytes);
  }
  for (size_t p = 0; p < packs.size(); ++p) {
    const std::string& pack = packs[p];
    const std::string& source = packs[p == 6 || p < 3 ? 0 : 3];
    std::map<std::string, Bytes> first;
    std::vector<Bytes> first_pages;
    std::vector<ToolOut> first_runs;  // export, verify, report, repack
    for (int threads : {1, 2, 3, 16}) {
      std::filesystem::remove_all(dir.file("x"));
      std::remove(dir.file("r.html").c_str());
      std::remove(dir.file("rp.pack").c_str());
      const std::vector<ToolOut> runs = {
          tool(dir, {"export", pack, dir.file("x")}, threads), tool(dir, {"verify", pack, "--against", source}, threads),
          tool(dir, {"report", pack, dir.file("r.html")}, threads),
          tool(dir, {"repack", pack, dir.file("rp.pack"), "--mode", "rle"}, threads)};
      const std::vector<Bytes> pages = {read_file(dir.file("r.html")), read_file(dir.file("rp.pack"))};
      std::map<std::string, Bytes> files;
      for (const auto& f : std::filesystem::directory_iterator(dir.file("x")))
        files[f.path().filename().string()] = read_file(f.path().string());
      if (threads == 1) {
        EXPECT_FALSE(files.empty()) << pack;
        EXPECT_FALSE(pages[0].empty()) << pack;
        first = files, first_runs = runs, first_pages = pages;
        continue;
      }
      EXPECT_EQ(files, first) << pack << " " << threads;
      EXPECT_EQ(runs, first_runs) << pack << " " << threads;
      EXPECT_TRUE(pages == first_pages) << pack << " " << threads << ": the page or the repacked pack differs";
    }
  }
}

// A PNG of the RGBA pixels, width pixels by 1.
Bytes rgba_png(const Bytes& rgba) {
  Bytes png;
  EXPECT_TRUE(write_png(static_cast<uint32_t>(rgba.size() / 4), 1, 4, rgba, png).ok());
  return png;
}

// OUT the manifest or a picture it lists, by path or through a link: one line,
// status 1, every file as it was and no file added.
TEST(ToolCreateTest, RefusesToWriteOverItsInputs) {
#ifdef _WIN32
  GTEST_SKIP() << "no symbolic links to test on Windows";
#else
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("p.png"), rgba_png({1, 2, 3, 4})));
  ASSERT_TRUE(write_file(dir.file("old.pack"), {7, 7}));
  ASSERT_EQ(symlink("old.pack", dir.file("q.png").c_str()), 0);  // a listed picture leading to OUT
  const std::string m = dir.file("m.json");
  ASSERT_TRUE(write_file(m, text_bytes(R"({"entries":[{"name":"p","type":11,"file":"p.png"},)"
                                       R"({"name":"q","type":11,"file":"q.png"}]})")));
  ASSERT_EQ(symlink("m.json", dir.file("m.link").c_str()), 0);
  ASSERT_EQ(symlink("p.png", dir.file("p.link").c_str()), 0);
  ASSERT_EQ(link(m.c_str(), dir.file("m.hard").c_str()), 0);
  struct Case {
    std::string manifest, out, line;
  };
  const std::string listed = " is the file of entry 1 (p) in " + m + "; refusing to overwrite it\n";
  const Case cases[] = {
      {m, m, "create: " + m + " is the manifest; refusing to overwrite it\n"},
      {m, dir.file("m.link"), "create: " + dir.file("m.link") + " is the manifest; refusing to overwrite it\n"},
      {m, dir.file("m.hard"), "create: " + dir.file("m.hard") + " is the manifest; refusing to overwrite it\n"},
      {dir.file("m.link"), m, "create: " + m + " is the manifest; refusing to overwrite it\n"},
      {m, dir.file("p.png"), "create: " + dir.file("p.png") + listed},
      {m, dir.file("p.link"), "create: " + dir.file("p.link") + listed},
      {m, dir.file("old.pack"),
       "create: " + dir.file("old.pack") + " is the file of entry 2 (q) in " + m + "; refusing to overwrite it\n"},
  };
  const auto before = snapshot(dir);
  for (const Case& c : cases) {
    ToolOut r = tool(dir, {"create", c.manifest, c.out});
    EXPECT_EQ(r.status, 1) << c.out;
    EXPECT_EQ(r.err, c.line);
    EXPECT_EQ(r.out, "");
    std::remove(dir.file("stderr.txt").c_str());
    EXPECT_EQ(snapshot(dir), before) << c.out;
  }
#endif
}

// A pack in DIR under a name export writes, or the --formats manifest
// there: refused before anything is written.
TEST(ToolExportTest, RefusesToWriteOverItsInputs) {
  TempDir dir;
  TestPack pack;
  pack.entries.push_back(image_entry("bg", 1, 3, 2, ImageKind::Noise, 1));
  pack.entries.push_back(jpeg_entry("logo", 30, 20, 40, 2));
  const Bytes bytes = build_pack(pack);
  const Bytes formats = text_bytes(R"({"entries":[{"name":"bg","type":1,"file":"bg.png"}]})");
  ASSERT_TRUE(write_file(dir.file("p.pack"), bytes));
  struct Case {
    const char* pack;     // its name in the export folder, or "" for p.pack outside
    bool through_link;    // given as a symbolic link outside the folder
    const char* formats;  // the --formats manifest's name in the folder, or "" for none
    const char* refused;
    const char* what;
    const char* picture = "";  // an original picture the manifest lists, in the folder
  };
  const Case cases[] = {
      {"bg.png", false, "", "bg.png", "the pack being exported"},
      {"bg.png", true, "", "bg.png", "the pack being exported"},
      {"logo.jpg", false, "", "logo.jpg", "the pack being exported"},
      {"manifest.json", false, "", "manifest.json", "the pack being exported"},
      {"", false, "manifest.json", "manifest.json", "the --formats manifest"},
      {"", false, "src.json", "bg.png", "a picture the --formats manifest lists", "bg.png"},
  };
  for (const Case& c : cases) {
    TempDir out;
    std::string pack_arg = dir.file("p.pack");
    if (*c.pack != '\0') {
      ASSERT_TRUE(write_file(out.file(c.pack), bytes));
      pack_arg = out.file(c.pack);
    }
    if (c.through_link) {
#ifdef _WIN32
      continue;  // no symbolic links on Windows
#else
      std::remove(dir.file("p.link").c_str());
      ASSERT_EQ(symlink(pack_arg.c_str(), dir.file("p.link").c_str()), 0);
      pack_arg = dir.file("p.link");
#endif
    }
    std::vector<std::string> args = {"export", pack_arg, out.path};
    if (*c.formats != '\0') {
      ASSERT_TRUE(write_file(out.file(c.formats), formats));
      args.insert(args.begin() + 1, {"--formats", out.file(c.formats)});
    }
    if (*c.picture != '\0') {
      ASSERT_TRUE(write_file(out.file(c.picture), text_bytes("original")));
    }
    const auto before = snapshot(out);
    ToolOut r = tool(dir, args);
    EXPECT_EQ(r.status, 1) << c.pack;
    EXPECT_EQ(r.err, "export: " + out.file(c.refused) + " is " + c.what +
                         "; refusing to overwrite it, nothing written\n");
    EXPECT_EQ(snapshot(out), before) << c.pack;
    EXPECT_EQ(read_file(dir.file("p.pack")), bytes);
  }
}

// The pixels (200,100,50,128), (10,20,30,255), (255,255,255,0) created in
// each format, exported with the manifest they were created from (every
// format known), with one that lacks "gone" and gives "odd" a 3-byte format
// (those two assumed), and without one (every 2- and 3-byte entry assumed).
TEST(ToolExportTest, FormatsFromTheManifest) {
  const Bytes rgba = {200, 100, 50, 128, 10, 20, 30, 255, 255, 255, 255, 0};
  struct Row {
    const char* name;
    int type;
    const char* format;  // in the creating manifest; "" for the type's default
    const char* file;
    Bytes own;           // PNG samples in that format: its own rounding, alpha kept
    const char* fallback;
    Bytes as_default;    // the same pixel bytes read in the type's default format
    bool in_part;        // the partial manifest gives the right format
  };
  const Bytes rgb565_4444 = {140, 142, 24, 247, 32, 148, 8, 255, 255};
  const Bytes rgb565_1555 = {231, 48, 49, 132, 138, 33, 123, 255, 255};
  const Bytes own_4444 = {204, 102, 51, 136, 17, 17, 34, 255, 255, 255, 255, 0};
  const Bytes own_1555 = {198, 99, 49, 255, 8, 16, 33, 255, 255, 255, 255, 0};
  const Row rows[] = {
      {"a4", 1, "argb4444", "a4.png", own_4444, "rgb565", rgb565_4444, true},
      {"a1", 1, "argb1555", "a1.png", own_1555, "rgb565", rgb565_1555, true},
      {"a8", 5, "argb8565", "a8.png", {198, 101, 49, 128, 8, 20, 33, 255, 255, 255, 255, 0}, "rgb888",
       {128, 195, 38, 255, 8, 164, 0, 255, 255}, true},
      {"c8", 11, "", "c8.png", rgba, "argb8888", rgba, true},
      {"r3", 32, "", "r3.png", {200, 100, 50, 10, 20, 30, 255, 255, 255}, "rgb888",
       {200, 100, 50, 10, 20, 30, 255, 255, 255}, true},
      {"gone", 1, "argb4444", "gone.png", own_4444, "rgb565", rgb565_4444, false},
      {"odd", 1, "argb1555", "odd.png", own_1555, "rgb565", rgb565_1555, false},
      {"dup", 1, "argb4444", "dup.png", own_4444, "rgb565", rgb565_4444, true},
      {"dup", 1, "argb1555", "dup%-2.png", own_1555, "rgb565", rgb565_1555, true},
  };
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("p.png"), rgba_png(rgba)));
  std::string full = R"({"entries":[)", part = full;
  for (const Row& r : rows) {
    std::string entry = std::string(R"({"name":")") + r.name + R"(","type":)" + std::to_string(r.type) +
                        R"(,"file":"p.png")";
    if (*r.format != '\0') entry += std::string(R"(,"format":")") + r.format + "\"";
    entry += "}";
    full += (&r == rows ? "" : ",") + entry;
    if (std::string(r.name) == "odd") entry = R"({"name":"odd","type":5,"file":"p.png","format":"argb8565"})";
    if (std::string(r.name) != "gone") part += (&r == rows ? "" : ",") + entry;
  }
  full += "]}";
  part += "]}";
  ASSERT_TRUE(write_file(dir.file("m.json"), text_bytes(full)));
  ASSERT_TRUE(write_file(dir.file("part.json"), text_bytes(part)));
  const std::string pack = dir.file("x.pack");
  ASSERT_EQ(tool(dir, {"create", dir.file("m.json"), pack}).status, 0);
  enum Run { None, Full, Part };
  for (Run run : {None, Full, Part}) {
    const std::string out = dir.file("out" + std::to_string(run));
    std::vector<std::string> args = {"export", pack, out};
    if (run != None) args.insert(args.begin() + 1, {"--formats", dir.file(run == Full ? "m.json" : "part.json")});
    ToolOut r = tool(dir, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "export: " + pack + ": 9 entries exported to " + out + "\n");
    const std::string expected_err[] = {
        "export: " + pack + ": 8 entries of 2 or 3 bytes per pixel exported in an assumed format (rgb565 or rgb888, the default of "
               "the type); --formats MANIFEST takes the formats from the manifest the pack was created from\n",
        "",
        "export: " + pack + ": 2 entries of 2 or 3 bytes per pixel exported in an assumed format (rgb565 or rgb888, the default of "
               "the type): not in " + dir.file("part.json") + ", or of other bytes per pixel there\n"};
    EXPECT_EQ(r.err, expected_err[run]) << run;
    std::string manifest = "{\n  \"tiled\": false,\n  \"entries\": [";
    for (const Row& row : rows) {
      const bool own = run == Full || (run == Part && row.in_part);
      manifest += std::string(&row == rows ? "\n" : ",\n") + R"(    {"name":")" + row.name + R"(","type":)" +
                  std::to_string(row.type) + R"(,"file":")" + row.file + R"(","format":")" +
                  (own && *row.format != '\0' ? row.format : row.fallback) + "\"}";
      const Bytes& samples = own ? row.own : row.as_default;
      const Bytes png = read_file(out + "/" + row.file);
      Picture pic;
      ASSERT_TRUE(read_png(png, 3, pic).ok());
      ASSERT_GT(png.size(), 25u);
      EXPECT_EQ(png[25], samples.size() == 12 ? 6 : 2) << row.file << " colour type, run " << run;
      Bytes got;
      for (size_t i = 0; i < pic.rgba.size(); i += 4)
        got.insert(got.end(), pic.rgba.begin() + i, pic.rgba.begin() + i + (samples.size() == 12 ? 4 : 3));
      EXPECT_EQ(got, samples) << row.file << ", run " << run;
    }
    manifest += "\n  ]\n}\n";
    EXPECT_EQ(read_file(out + "/manifest.json"), text_bytes(manifest)) << run;
  }
  // With every format known, create gives the same pixel bytes back.
  ASSERT_EQ(tool(dir, {"create", dir.file("out1/manifest.json"), dir.file("again.pack")}).status, 0);
  EXPECT_EQ(read_file(dir.file("again.pack")), read_file(pack));
}

// embed's index macros: one table of names in pack order and what follows
// "SYMBOL_" for each; and the symbols made from OUT's file name.
TEST(ToolEmbedTest, NameRule) {
  struct Case {
    std::vector<std::string> names, ids;
  };
  const Case cases[] = {
      {{"logo", "bg_grad", "Icon2"}, {"logo", "bg_grad", "Icon2"}},
      {{"a-b", "a.b", "a b"}, {"a_b", "a_b_1", "a_b_2"}},             // collisions: the later ones
      {{"x", "x_1", "x"}, {"x", "x_1", "x_2"}},                       // a suffix that is a name
      {{"y", "y_2", "y"}, {"y", "y_2", "y_2_2"}},                     // taken again: once more
      {{"", "--", "0"}, {"0", "1", "0_2"}},                           // empty: the index
      {{"\xff\xfe" "ab", "\xc3\xa9t\xc3\xa9", "_k_"}, {"ab", "t", "k"}},  // non-UTF-8, UTF-8, edges
      {{"size", "9lives"}, {"size_0", "9lives"}},                     // SYMBOL_size is the length
  };
  for (const Case& c : cases) EXPECT_EQ(embed_entry_ids(c.names), c.ids) << c.names[0];
  const std::pair<std::string, std::string> symbols[] = {
      {"out/icons.c", "icons"}, {"my-pack.v2.c", "my_pack_v2"}, {"3d.c", "pack_3d"}, {"dir/.c", "_c"},
      {"plain", "plain"},
  };
  for (const auto& [path, symbol] : symbols) EXPECT_EQ(embed_symbol_from_path(path), symbol) << path;
}

// embed refuses in one line and writes nothing: an input that is no pack
// (its stream reads the header and table before anything else), or an
// output by either name that is the pack.
TEST(ToolEmbedTest, RefusalsWriteNothing) {
  TempDir dir;
  const std::vector<uint8_t> demo = read_file(std::string(MORVANE_SAMPLES) + "/demo.pack");
  ASSERT_TRUE(write_file(dir.file("p.h"), demo));
  ASSERT_TRUE(write_file(dir.file("cut.pack"), {demo.begin(), demo.begin() + 40}));
  ASSERT_TRUE(write_file(dir.file("short.pack"), {'R', 'E', 'S', 0x19}));
  std::filesystem::create_directory(dir.file("folder"));
  struct Case {
    std::string in, out, err;  // err after "embed: "
  };
  std::vector<Case> cases = {
      {dir.file("p.h"), dir.file("p.c"), dir.file("p.h") + " is the pack; refusing to overwrite it"},
      {dir.file("p.h"), dir.file("p"), dir.file("p.h") + " is the pack; refusing to overwrite it"},
      {dir.file("folder"), dir.file("o.c"), dir.file("folder") + " is not a regular file"},
      {dir.file("missing"), dir.file("o.c"), "cannot open " + dir.file("missing") + ": No such file or directory"},
      {dir.file("cut.pack"), dir.file("o.c"), dir.file("cut.pack") + ": entry table cut short"},
      {dir.file("short.pack"), dir.file("o.c"), dir.file("short.pack") + ": shorter than a pack header"},
  };
#ifndef _WIN32
  cases.push_back({"/dev/null", dir.file("o.c"), "/dev/null is not a regular file"});
#endif
  for (const Case& c : cases) {
    ToolOut r = tool(dir, {"embed", c.in, c.out});
    EXPECT_EQ(r.status, 1) << c.in;
    EXPECT_EQ(r.err, "embed: " + c.err + "\n");
    EXPECT_EQ(read_file(dir.file("p.h")), demo);
    for (const char* name : {"p.c", "o.c", "o.h"}) EXPECT_FALSE(file_exists(dir.file(name))) << c.in << " " << name;
  }
}

// A manifest that is not JSON: one line that says so, without its bytes.
TEST(ToolCreateTest, ManifestThatIsNotJson) {
  TempDir dir;
  const std::string not_json = "; a manifest is JSON text that lists the pictures of a pack\n";
  struct Case {
    Bytes bytes;
    std::string says;
  };
  const Case cases[] = {
      {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}, "not JSON but a PNG picture" + not_json},
      {{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}, "not JSON but a JPEG picture" + not_json},
      {{'R', 'E', 'S', 0x19, 1, 0}, "not JSON but a pack" + not_json},
      {text_bytes("hello\n"),
       "not valid JSON: parse error at line 1, column 1: syntax error while parsing value - invalid literal\n"},
      {{'{', '"', 'a', 0x01, '"', ':', '1', '}'},
       "not valid JSON: parse error at line 1, column 4: syntax error while parsing object key - invalid string: "
       "control character U+0001 (SOH) must be escaped to \\u0001; expected string literal\n"},
      {{'{', '"', 0xC3, 0x28, '"', ':', '1', '}'},
       "not valid JSON: parse error at line 1, column 4: syntax error while parsing object key - invalid string: "
       "ill-formed UTF-8 byte; expected string literal\n"},
      {text_bytes(R"({"entries": [], "tiled": 1e999})"), "not valid JSON: number overflow\n"},
      {text_bytes("{\"entries\": [], \"\\u0007\": 1}"), "field \"\\x07\": unknown field\n"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(write_file(dir.file("m"), c.bytes));
    ToolOut r = tool(dir, {"create", dir.file("m"), dir.file("o.pack")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "create: " + dir.file("m") + ": " + c.says);
    EXPECT_FALSE(file_exists(dir.file("o.pack")));
  }
}

}  // namespace

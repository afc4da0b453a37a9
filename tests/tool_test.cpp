// morvane-tool's command line, info and verify, through the real executable.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "support/pack_writer.h"
#include "support/run_tool.h"

namespace {

using nlohmann::json;

struct ToolOut {
  int status = -1;
  std::string out, err;
};

// Runs morvane-tool with standard error caught in a file of dir.
ToolOut tool(const TempDir& dir, const std::vector<std::string>& args) {
  const std::string err_file = dir.file("stderr.txt");
  std::vector<std::string> sh = {"-c", "exec \"$@\" 2>'" + err_file + "'", "sh", MORVANE_TOOL_EXE};
  sh.insert(sh.end(), args.begin(), args.end());
  ToolRun r = run_tool("/bin/sh", sh);
  std::vector<uint8_t> err = read_file(err_file);
  return {r.status, r.output, {err.begin(), err.end()}};
}

// The sample packs and what morvane makes of them, in dir.
std::vector<std::string> sample_packs(const TempDir& dir) {
  std::vector<std::string> packs;
  for (const char* name : {"demo", "demo_tiled"}) {
    const std::string src = std::string(MORVANE_SAMPLES) + "/" + name + ".pack";
    const std::string c = dir.file(std::string(name) + ".c.pack"), d = dir.file(std::string(name) + ".d.pack");
    EXPECT_EQ(run_tool(MORVANE_EXE, {"-c", src, c}).status, 0);
    EXPECT_EQ(run_tool(MORVANE_EXE, {"-d", c, d}).status, 0);
    packs.insert(packs.end(), {src, c, d});
  }
  return packs;
}

TEST(ToolCliTest, UsageErrorsGiveTwo) {
  TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {},           {"bogus"},          {"--bogus"},       {"info"},         {"info", "a", "b"},
      {"info", "--yaml", "a"},          {"verify"},        {"verify", "a", "--against"},
      {"export", "a"},                  {"create", "m"},   {"create", "m", "o", "x"}};
  for (const auto& args : cases) EXPECT_EQ(tool(dir, args).status, 2) << ::testing::PrintToString(args);

  ToolOut v = tool(dir, {"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "2.00230624\n");
  for (const char* sub : {"info", "verify", "export", "create"}) {
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

  // A name that is not UTF-8 still gives a JSON document, its bytes in hex.
  write_file(dir.file("names.pack"), good);
  json doc = json::parse(tool(dir, {"info", "--json", dir.file("names.pack")}).out);
  EXPECT_EQ(doc["entries"][1]["name"], "\xEF\xBF\xBD\x01\xEF\xBF\xBD(");
  EXPECT_EQ(doc["entries"][1]["name_hex"], "ff01c328");
  EXPECT_NE(tool(dir, {"info", dir.file("names.pack")}).out.find("\\xff\\x01\\xc3("), std::string::npos);
}

TEST(ToolVerifyTest, CompressedSamplesGiveBackTheirSource) {
  TempDir dir;
  std::vector<std::string> packs = sample_packs(dir);
  for (size_t p : {0, 3}) {
    ToolOut r = tool(dir, {"verify", packs[p + 1], "--against", packs[p]});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "verify: 7 entries, 0 failed\n");
    EXPECT_EQ(r.err, "");
  }
  // A raw pack does not decode as a compressed one.
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
  std::vector<uint8_t> pixel = source, renamed = source;
  pixel[src.entries[4].offset + 4 + 123] ^= 1;
  renamed[16 + 5 * 16 + 7] = 'S';
  write_file(dir.file("pixel.pack"), pixel);
  write_file(dir.file("renamed.pack"), renamed);

  struct Case {
    const char* what;
    std::vector<uint8_t> pack;
    size_t at;  // byte to flip, when below pack.size()
    std::string against;
    const char* line;  // the one failure line starts so
  };
  const Case cases[] = {
      {"a byte of icon_ok", whole, icon + 1, packs[0], "icon_ok (entry 1): "},
      {"tiled block magic", tiled, block, "", "icon_ok (entry 1): block names no codec"},
      {"other pixels", whole, SIZE_MAX, dir.file("pixel.pack"), "panel (entry 4): pixels differ"},
      {"other name", whole, SIZE_MAX, dir.file("renamed.pack"), "strip (entry 5): the source's entry is named"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = c.pack;
    if (c.at < bytes.size()) bytes[c.at] ^= 0x55;
    write_file(dir.file("bad.pack"), bytes);
    std::vector<std::string> args = {"verify", dir.file("bad.pack")};
    if (!c.against.empty()) args.insert(args.end(), {"--against", c.against});
    ToolOut r = tool(dir, args);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err.rfind(c.line, 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    EXPECT_EQ(r.out, "verify: 7 entries, 1 failed\n") << c.what;
  }
}

}  // namespace

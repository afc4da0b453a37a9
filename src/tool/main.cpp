// SPDX-License-Identifier: MIT
// morvane-tool: subcommands over packs (info, verify, export, create, embed,
// report, repack).
// Exit status: the subcommand's 0 or 1; 2 for any usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "io/platform.h"
#include "morvane_version.h"
#include "tool/tool_commands.h"
#include "tool/tool_embed.h"
#include "tool/tool_repack.h"

namespace {
constexpr int kUsageError = 2;
}  // namespace

int main(int argc, char** argv) {
  // Lines are written as given ("\r\n" included), paths taken as UTF-8.
  binary_standard_streams();
  std::vector<std::string> args = utf8_arguments(argc, argv);
  std::vector<char*> arg_ptrs;
  for (std::string& a : args) arg_ptrs.push_back(a.data());
  CLI::App app{"Inspect, verify, export, build and show morvane resource packs.", "morvane-tool"};
  // "/path/x.pack" is a path on every system, never a Windows-style option.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", MORVANE_VERSION, "Print the version and exit");
  app.require_subcommand(1);
  app.footer("Exit status: 0 done, 1 something failed, 2 usage error. See morvane-tool(1).");
  // A usage error's line starts with the subcommand it is about, as every
  // other line of the tool does.
  app.failure_message([&app](const CLI::App*, const CLI::Error& e) {
    const std::vector<CLI::App*> given = app.get_subcommands();
    const std::string name = given.empty() ? "morvane-tool" : given.front()->get_name();
    const std::string help = given.empty() ? "morvane-tool --help" : "morvane-tool " + name + " --help";
    return name + ": " + e.what() + "; see " + help + "\n";
  });

  std::string pack, against, dir, manifest, out, formats;
  bool json = false;

  CLI::App* info = app.add_subcommand("info", "List the header and every entry of a pack");
  info->add_flag("--json", json, "One JSON document instead of a table");
  info->add_option("PACK", pack, "The pack to list")->required();

  CLI::App* verify = app.add_subcommand("verify", "Decode every entry as morvane -d would, writing nothing");
  verify->add_option("PACK", pack, "The pack to check")->required();
  verify->add_option("--against", against, "The raw pack that PACK was compressed from: compare every entry")
      ->option_text("SOURCE");

  CLI::App* exp = app.add_subcommand("export", "Write every entry as a PNG or JPEG file, with manifest.json");
  exp->add_option("PACK", pack, "The pack to export")->required();
  exp->add_option("DIR", dir, "The folder to write into")->required();
  exp->add_option("--formats", formats,
                  "The manifest PACK was created from: each entry's pixel format, matched by name")
      ->option_text("MANIFEST");

  CLI::App* create = app.add_subcommand("create", "Build a raw pack from PNG and JPEG files listed in a manifest");
  create->add_option("MANIFEST", manifest, "The JSON manifest")->required();
  create->add_option("OUT", out, "The pack to write")->required();
  std::string depfile;
  create->add_option("--depfile", depfile, "Also write a Makefile rule: OUT depends on MANIFEST and every file")
      ->option_text("FILE");

  CLI::App* embed = app.add_subcommand("embed", "Write a pack as a C array (OUT.c) and its header (OUT.h)");
  EmbedOptions embed_opt;
  embed->add_option("PACK", pack, "The pack to embed")->required();
  embed->add_option("OUT", out, "The C source to write; the header goes beside it as OUT.h")->required();
  embed->add_option("--symbol", embed_opt.symbol, "The array's name (default: OUT's name)")
      ->option_text("NAME")
      ->check(CLI::Validator(embed_symbol_error, "", "C identifier"));
  embed->add_option("--section", embed_opt.section, "The linker section to place the array in")
      ->option_text("NAME")
      ->check(CLI::Validator(embed_section_error, "", "section name"));
  embed->add_option("--align", embed_opt.align, "The array's alignment in bytes, a power of 2 (default 8)")
      ->option_text("N")
      ->check(CLI::Validator(embed_align_error, "", "power of 2"));

  CLI::App* report = app.add_subcommand("report", "Write a self-contained HTML page that shows every entry");
  report->add_option("PACK", pack, "The pack to show")->required();
  report->add_option("OUT", out, "The page to write (OUT.html)")->required();
  report->add_option("--formats", formats, "The manifest PACK was created from: each entry's pixel format")
      ->option_text("MANIFEST");

  RepackOptions rp;
  std::string rp_tile;
  CLI::App* repack = app.add_subcommand("repack", "Write the raw pack of any pack, for morvane -c in another mode");
  repack->add_option("IN", rp.in, "The pack to repack: raw, compressed, or the -d output of a tiled pack")->required();
  repack->add_option("OUT", rp.out, "The raw pack to write")->required();
  repack->add_option("--mode", rp.mode, "whole, rle, lz4 or stored (default: IN's)")->option_text("MODE");
  repack->add_option("--tile", rp_tile, "Every image's TileHint (default: its own, else 64,64)")->option_text("W,H");
  repack->add_option("--types", rp.types, "A manifest naming the types of entries that type 39 hides")
      ->option_text("MANIFEST");

  try {
    app.parse(static_cast<int>(arg_ptrs.size()), arg_ptrs.data());
  } catch (const CLI::ParseError& e) {
    // --help and --version end here with status 0; every parse error is a
    // usage error, whatever code the parser gives it.
    return app.exit(e) == 0 ? 0 : kUsageError;
  }

  int status = kUsageError;
  if (*info) {
    status = tool_info(pack, json);
  } else if (*verify) {
    status = tool_verify(pack, against);
  } else if (*exp) {
    status = tool_export(pack, dir, formats);
  } else if (*create) {
    status = tool_create(manifest, out, depfile);
  } else if (*embed) {
    status = tool_embed(pack, out, embed_opt);
  } else if (*report) {
    status = tool_report(pack, out, formats);
  } else if (*repack) {
    TileHint tile;
    if (!rp_tile.empty() && !parse_tile_option(rp_tile, tile)) {
      std::fprintf(stderr, "repack: --tile %s: not W,H with each side from 1 to 65535\n", rp_tile.c_str());
      return kUsageError;
    }
    if (!rp_tile.empty()) rp.tile = tile;
    status = tool_repack(rp);
  }
  std::fflush(stdout);
  return status;
}

// SPDX-License-Identifier: MIT
// morvane-tool: subcommands over packs (info, verify, export, create, embed,
// report, repack).
// Exit status: the subcommand's 0 or 1; 2 for any usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "io/platform.h"
#include "morvane_version.h"
#include "tool/tool_commands.h"
#include "tool/tool_embed.h"
#include "tool/tool_repack.h"

namespace {

constexpr int kUsageError = 2;

// What the subcommands' options are read into.
struct Args {
  std::string pack, against, dir, manifest, out, formats, depfile;
  bool json = false;
  EmbedOptions embed;
  RepackOptions repack;
  std::string repack_tile;
};

// One subcommand: its options declared on the parser, and what it runs once
// the parser has filled them in. A new subcommand is one more of these and
// one more line in main's table.
struct Subcommand {
  CLI::App* cmd;
  std::function<int()> run;
};

Subcommand info_command(CLI::App& app, Args& a) {
  CLI::App* c = app.add_subcommand("info", "List the header and every entry of a pack");
  c->add_flag("--json", a.json, "One JSON document instead of a table");
  c->add_option("PACK", a.pack, "The pack to list")->required();
  return {c, [&a] { return tool_info(a.pack, a.json); }};
}

Subcommand verify_command(CLI::App& app, Args& a) {
  CLI::App* c = app.add_subcommand("verify", "Decode every entry as morvane -d would, writing nothing");
  c->add_option("PACK", a.pack, "The pack to check")->required();
  c->add_option("--against", a.against, "The raw pack that PACK was compressed from: compare every entry")
      ->option_text("SOURCE");
  return {c, [&a] { return tool_verify(a.pack, a.against); }};
}

Subcommand export_command(CLI::App& app, Args& a) {
  CLI::App* c = app.add_subcommand("export", "Write every entry as a PNG or JPEG file, with manifest.json");
  c->add_option("PACK", a.pack, "The pack to export")->required();
  c->add_option("DIR", a.dir, "The folder to write into")->required();
  c->add_option("--formats", a.formats,
                "The manifest PACK was created from: each entry's pixel format, matched by name")
      ->option_text("MANIFEST");
  return {c, [&a] { return tool_export(a.pack, a.dir, a.formats); }};
}

Subcommand create_command(CLI::App& app, Args& a) {
  CLI::App* c = app.add_subcommand("create", "Build a raw pack from PNG and JPEG files listed in a manifest");
  c->add_option("MANIFEST", a.manifest, "The JSON manifest")->required();
  c->add_option("OUT", a.out, "The pack to write")->required();
  c->add_option("--depfile", a.depfile, "Also write a Makefile rule: OUT depends on MANIFEST and every file")
      ->option_text("FILE");
  return {c, [&a] { return tool_create(a.manifest, a.out, a.depfile); }};
}

Subcommand embed_command(CLI::App& app, Args& a) {
  CLI::App* c = app.add_subcommand("embed", "Write a pack as a C array (OUT.c) and its header (OUT.h)");
  c->add_option("PACK", a.pack, "The pack to embed")->required();
  c->add_option("OUT", a.out, "The C source to write; the header goes beside it as OUT.h")->required();
  c->add_option("--symbol", a.embed.symbol, "The array's name (default: OUT's name)")
      ->option_text("NAME")
      ->check(CLI::Validator(embed_symbol_error, "", "C identifier"));
  c->add_option("--section", a.embed.section, "The linker section to place the array in")
      ->option_text("NAME")
      ->check(CLI::Validator(embed_section_error, "", "section name"));
  c->add_option("--align", a.embed.align, "The array's alignment in bytes, a power of 2 (default 8)")
      ->option_text("N")
      ->check(CLI::Validator(embed_align_error, "", "power of 2"));
  return {c, [&a] { return tool_embed(a.pack, a.out, a.embed); }};
}

Subcommand report_command(CLI::App& app, Args& a) {
  CLI::App* c = app.add_subcommand("report", "Write a self-contained HTML page that shows every entry");
  c->add_option("PACK", a.pack, "The pack to show")->required();
  c->add_option("OUT", a.out, "The page to write (OUT.html)")->required();
  c->add_option("--formats", a.formats, "The manifest PACK was created from: each entry's pixel format")
      ->option_text("MANIFEST");
  return {c, [&a] { return tool_report(a.pack, a.out, a.formats); }};
}

Subcommand repack_command(CLI::App& app, Args& a) {
  RepackOptions& rp = a.repack;
  CLI::App* c = app.add_subcommand("repack", "Write the raw pack of any pack, for morvane -c in another mode");
  c->add_option("IN", rp.in, "The pack to repack: raw, compressed, or the -d output of a tiled pack")->required();
  c->add_option("OUT", rp.out, "The raw pack to write")->required();
  c->add_option("--mode", rp.mode, repack_mode_names(true, " or ") + " (default: IN's)")->option_text("MODE");
  c->add_option("--tile", a.repack_tile, "Every image's TileHint (default: its own, else 64,64)")->option_text("W,H");
  c->add_option("--types", rp.types, "A manifest naming the types of entries that type 39 hides")
      ->option_text("MANIFEST");
  return {c, [&a] {
            TileHint tile;
            if (!a.repack_tile.empty() && !parse_tile_option(a.repack_tile, tile)) {
              std::fprintf(stderr, "repack: --tile %s: not W,H with each side from 1 to 65535\n",
                           a.repack_tile.c_str());
              return kUsageError;
            }
            if (!a.repack_tile.empty()) a.repack.tile = tile;
            return tool_repack(a.repack);
          }};
}

// The parser and its lines: a usage error's line starts with the
// subcommand it is about, as every other line of the tool does.
void set_up(CLI::App& app) {
  // "/path/x.pack" is a path on every system, never a Windows-style option.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", MORVANE_VERSION, "Print the version and exit");
  app.require_subcommand(1);
  app.footer("Exit status: 0 done, 1 something failed, 2 usage error. See morvane-tool(1).");
  app.failure_message([&app](const CLI::App*, const CLI::Error& e) {
    const std::vector<CLI::App*> given = app.get_subcommands();
    const std::string name = given.empty() ? "morvane-tool" : given.front()->get_name();
    const std::string help = given.empty() ? "morvane-tool --help" : "morvane-tool " + name + " --help";
    return name + ": " + e.what() + "; see " + help + "\n";
  });
}

}  // namespace

int main(int argc, char** argv) {
  // Lines are written as given ("\r\n" included), paths taken as UTF-8.
  binary_standard_streams();
  std::vector<std::string> args = utf8_arguments(argc, argv);
  std::vector<char*> arg_ptrs;
  for (std::string& a : args) arg_ptrs.push_back(a.data());
  CLI::App app{"Inspect, verify, export, build and show morvane resource packs.", "morvane-tool"};
  set_up(app);
  Args a;
  const Subcommand commands[] = {info_command(app, a),  verify_command(app, a), export_command(app, a),
                                 create_command(app, a), embed_command(app, a),  report_command(app, a),
                                 repack_command(app, a)};
  try {
    app.parse(static_cast<int>(arg_ptrs.size()), arg_ptrs.data());
  } catch (const CLI::ParseError& e) {
    // --help and --version end here with status 0; every parse error is a
    // usage error, whatever code the parser gives it.
    return app.exit(e) == 0 ? 0 : kUsageError;
  }
  int status = kUsageError;
  for (const Subcommand& c : commands)
    if (*c.cmd) status = c.run();
  std::fflush(stdout);
  return status;
}

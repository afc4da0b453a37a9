// SPDX-License-Identifier: MIT
// morvane-tool: subcommands over packs (info, verify, export, create, report).
// Exit status: the subcommand's 0 or 1; 2 for any usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "io/platform.h"
#include "morvane_version.h"
#include "tool/tool_commands.h"

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

  CLI::App* report = app.add_subcommand("report", "Write a self-contained HTML page that shows every entry");
  report->add_option("PACK", pack, "The pack to show")->required();
  report->add_option("OUT", out, "The page to write (OUT.html)")->required();

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
    status = tool_create(manifest, out);
  } else if (*report) {
    status = tool_report(pack, out);
  }
  std::fflush(stdout);
  return status;
}

// SPDX-License-Identifier: MIT
// The subcommands of morvane-tool. Each prints its results on standard output
// and its failures, one line each, on standard error, and returns the exit
// status: 0 when everything was done, 1 when anything failed.
#pragma once

#include <string>

int tool_info(const std::string& pack_path, bool json);
// against: the raw pack that was compressed, or empty for none.
int tool_verify(const std::string& pack_path, const std::string& against);
// formats: the manifest the pack was created from, for the pixel formats of
// its entries, or empty for none.
int tool_export(const std::string& pack_path, const std::string& dir, const std::string& formats = "");
// depfile, when not empty: a Makefile rule naming OUT and every file read.
int tool_create(const std::string& manifest_path, const std::string& out_path, const std::string& depfile = "");
struct EmbedOptions {
  std::string symbol;   // empty: from OUT's name
  std::string section;  // empty: none
  unsigned align = 8;
};
// Writes OUT.c and OUT.h: the pack as a C array and its declarations.
int tool_embed(const std::string& pack_path, const std::string& out_path, const EmbedOptions& options);
// Writes OUT.html, a page that shows every entry of the pack; formats as
// for export.
int tool_report(const std::string& pack_path, const std::string& out_path, const std::string& formats = "");

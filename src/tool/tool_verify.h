// SPDX-License-Identifier: MIT
// morvane-tool verify: every entry decoded as `morvane -d` decodes it, with
// nothing written; with a source pack, each entry's pixels compared with the
// source's, whatever form either holds.
#pragma once

#include <cstdio>
#include <string>

// One line per failing entry on err ("name (entry N): why", N from 1), the
// summary on out. 0 when every entry
// decodes (or, with a source, matches it), 1 otherwise. against: a pack in
// any form to compare with, or empty.
int run_verify(const std::string& pack_path, const std::string& against, std::FILE* out, std::FILE* err);

// SPDX-License-Identifier: MIT
// morvane-tool verify: every entry decoded as `morvane -d` decodes it, with
// nothing written; with a source pack, the decoded pack compared with it.
#pragma once

#include <cstdio>
#include <string>

// One line per failing entry on err ("name (entry N): why", N from 1), the
// summary on out. 0 when every entry
// decodes (and matches the source), 1 otherwise. against: the raw pack that
// was compressed, or empty.
int run_verify(const std::string& pack_path, const std::string& against, std::FILE* out, std::FILE* err);

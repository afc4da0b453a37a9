// SPDX-License-Identifier: MIT
// Writes the sample packs of the repository: make_samples OUTDIR
//   demo.pack        raw images and a JPEG, TILED_FLAG 0
//   demo_tiled.pack  the same images with TileHints, TILED_FLAG 1, CODEC_KIND 2
#include <cstdio>
#include <string>

#include "support/pack_writer.h"

namespace {

TestPack sample_pack(bool tiled) {
  TestPack p = pack_in_mode(tiled, tiled ? 2 : 0);
  const std::optional<TileHint> hint = tiled ? std::optional<TileHint>({64, 64}) : std::nullopt;
  p.entries.push_back(image_entry("bg_grad", 1, 240, 160, ImageKind::Gradient, 1, hint));
  p.entries.push_back(image_entry("icon_ok", 11, 64, 64, ImageKind::Flat, 2, hint));
  p.entries.push_back(image_entry("font16", 30, 192, 96, ImageKind::Glyphs, 3, hint));
  p.entries.push_back(image_entry("photo", 32, 160, 120, ImageKind::Noise, 4, hint));
  p.entries.push_back(image_entry("panel", 36, 120, 80, ImageKind::Flat, 5, hint));
  p.entries.push_back(image_entry("strip", 1, 24, 400, ImageKind::Flat, 6, hint));
  p.entries.push_back(jpeg_entry("splash", 96, 64, 3000, 7));
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: make_samples OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = write_file(dir + "/demo.pack", build_pack(sample_pack(false))) &&
            write_file(dir + "/demo_tiled.pack", build_pack(sample_pack(true)));
  if (!ok) std::printf("writing the samples into %s failed\n", dir.c_str());
  return ok ? 0 : 1;
}

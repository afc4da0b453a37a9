#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds morvane and runs it on the sample packs: compress, list, decompress,
# and a check that every pixel comes back.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target morvane pack_check
mkdir -p out
for pack in demo demo_tiled; do
  echo "== $pack"
  ./build/morvane -i "samples/$pack.pack" "out/$pack.txt"
  cat "out/$pack.txt"
  ./build/morvane -c "samples/$pack.pack" "out/$pack.packz"
  ./build/morvane -i "out/$pack.packz" "out/$pack.packz.txt"
  cat "out/$pack.packz.txt"
  ./build/morvane -d "out/$pack.packz" "out/$pack.unpacked"
  ./build/tests/pack_check "samples/$pack.pack" "out/$pack.unpacked"
done
echo "demo done: outputs in out/"

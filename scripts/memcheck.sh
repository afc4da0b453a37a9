#!/bin/sh
# Runs the demo commands and the round-trip tests under valgrind memcheck;
# any error fails the script.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh valgrind
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
vg="valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for pack in demo demo_tiled; do
  $vg ./build/morvane -c "samples/$pack.pack" "$out/$pack.packz" >/dev/null
  $vg ./build/morvane -i "$out/$pack.packz" "$out/$pack.txt" >/dev/null
  $vg ./build/morvane -d "$out/$pack.packz" "$out/$pack.out" >/dev/null
  ./build/tests/pack_check "samples/$pack.pack" "$out/$pack.out"
done
$vg --trace-children=yes ./build/tests/morvane_tests --gtest_brief=1 \
  --gtest_filter='RoundTripTest.*:*TiledRoundTripTest.*:DecompressTest.*:TileDecodeTest.*:TileCacheTest.*:RleRoundTripTest.*'
echo "memcheck: clean"

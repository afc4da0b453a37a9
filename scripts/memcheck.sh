#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs the demo commands, the whole unit test suite (with every run of the
# tool it makes) and the fuzz corpus replays under valgrind memcheck; any
# error or failing test fails the script. 1.5 to 3 minutes on 2 cores.
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
# Every test but one: valgrind itself cannot start under the few-byte file
# size limit that FaultTest.FileSizeLimitCommitsNothing sets for the tool.
$vg --trace-children=yes ./build/tests/morvane_tests --gtest_brief=1 \
  --gtest_filter='-FaultTest.FileSizeLimitCommitsNothing'
targets=$(sed -n 's/^  \(fuzz_[a-z_ ]*\)).*/\1/p; s/^  \(fuzz_[a-z_ ]*\)$/\1/p' fuzz/targets.cmake)
[ -n "$targets" ] || { echo "memcheck: no fuzz targets found in fuzz/targets.cmake"; exit 1; }
for target in $targets; do
  $vg "./build/${target}_replay" "fuzz/corpus/$target" "fuzz/crashers/$target"
done
echo "memcheck: clean"

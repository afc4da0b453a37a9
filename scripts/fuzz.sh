#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs the fuzz targets: scripts/fuzz.sh [SECONDS] [TARGET...]
# Each target runs for SECONDS (default 20) from a copy of its committed
# corpus; any finding stops the script with a non-zero status, its input
# saved under build-fuzz/artifacts/<target>/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
[ $# -gt 0 ] && shift
sh scripts/setup.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_FUZZ=ON -DMORVANE_TESTS=OFF \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
targets=${*:-$(sed -n 's/^  \(fuzz_[a-z_ ]*\)).*/\1/p; s/^  \(fuzz_[a-z_ ]*\)$/\1/p' fuzz/targets.cmake)}
cmake --build build-fuzz -j "$(nproc)" --target $targets
for target in $targets; do
  # Absolute paths: the command targets change their working folder.
  work=$PWD/build-fuzz/work/$target
  artifacts=$PWD/build-fuzz/artifacts/$target
  rm -rf "$work"
  mkdir -p "$work" "$artifacts"
  cp fuzz/corpus/"$target"/* "$work"/
  echo "== $target: ${seconds}s"
  if ! ./build-fuzz/fuzz/"$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$artifacts/" "$work" > "build-fuzz/$target.log" 2>&1; then
    tail -40 "build-fuzz/$target.log"
    echo "fuzz: $target found a fault; input saved in $artifacts/"
    exit 1
  fi
  grep -E "stat::number_of_executed_units|INFO: .* corpus" "build-fuzz/$target.log" | tail -2 || true
done

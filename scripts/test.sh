#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds and runs every test: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, a ThreadSanitizer build of the compress
# tests, and short runs of the fuzz targets.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
jobs=$(nproc)
# Each stage's end and the seconds since the start, to see where the time goes.
start=$(date +%s)
stage() { echo "== test.sh: $1 done at $(($(date +%s) - start)) s"; }

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
MORVANE_BUILD=build sh scripts/tool_roundtrip.sh
stage "build and tests"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
stage "sanitizers"

# ThreadSanitizer: the compress and decompress tests, the pipeline, the
# tool's commands and the tile decoders on threads of their own (the threaded
# code), on 4 threads where a test does not set its own count.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_TSAN=ON \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-tsan -j "$jobs" --target morvane morvane_tests
MORVANE_THREADS=4 TSAN_OPTIONS="halt_on_error=1 exitcode=66" \
  build-tsan/tests/morvane_tests --gtest_filter='*Compress*:*Decompress*:*Pipeline*:*ThreadCount*:*ToolThreads*:*TileEncodeAssemble*:*TileDecoderThreads*:*Fault*'

# Short runs of every fuzz target; any finding fails the run.
stage "thread sanitizer"
sh scripts/fuzz.sh 5
stage "fuzzing"

# Install into a temporary prefix, build the examples against it, check the
# man pages and the Debian packages.
sh scripts/install_check.sh
stage "install check"

# The tile codec built for 32-bit ARM and run under qemu-arm, and the
# decoder's code size for a Cortex-M4.
sh scripts/cross_test.sh
stage "cross tests"

# Both executables and the tests cross-built for Windows with MinGW-w64, run
# under Wine, outputs compared byte for byte with this build's.
sh scripts/windows_test.sh

#!/bin/sh
# Builds a Release tree of what is installed (no tests) in build-release/ and
# makes the Debian packages there with CPack:
#   morvane_<version>_<arch>.deb      the tool, its man page and documents
#   morvane-dev_<version>_<arch>.deb  the tile decoder library, headers,
#                                     pkg-config module and CMake package
set -eu
cd "$(dirname "$0")/.."
build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DMORVANE_TESTS=OFF \
  -DMORVANE_BENCH=OFF -DMORVANE_FUZZ=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
ls "$build"/*.deb

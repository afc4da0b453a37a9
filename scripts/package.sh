#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds a Release tree of what is installed (no tests) in build-release/ and
# makes the Debian packages there with CPack, then checks them with lintian
# (docs/packaging.md):
#   morvane_<version>_<arch>.deb      the tools, their man pages and documents
#   morvane-dev_<version>_<arch>.deb  the tile decoder library, headers,
#                                     pkg-config module, CMake package and
#                                     the format and firmware documents
# Fails when lintian reports an error; its warnings are printed.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DMORVANE_TESTS=OFF \
  -DMORVANE_BENCH=OFF -DMORVANE_FUZZ=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
# lintian says on stderr that it runs as root, as the set-up does: kept
# apart, and shown only when it fails. Its findings go to standard output,
# and to standard error when it fails.
status=0
lintian --fail-on error "$build"/*.deb >"$build/lintian.log" 2>"$build/lintian.err" || status=$?
if [ "$status" != 0 ]; then
  cat "$build/lintian.log" "$build/lintian.err" >&2
  echo "package.sh: lintian found errors in the packages (status $status)" >&2
  exit 1
fi
cat "$build/lintian.log"
ls "$build"/*.deb

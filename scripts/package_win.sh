#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the Windows release with MinGW-w64 in build-win-release/ and makes
# build-win-release/morvane-<version>-win64.zip:
#   morvane.exe, morvane-tool.exe    static: they need no DLL beside them
#   lib/libmorvane_tile.a, include/morvane/, lib/cmake, lib/pkgconfig
#                                     the tile decoder library for MinGW-w64
#   man/*.txt                         the manual pages as plain text
#   docs/                             the documents
#   README-Windows.txt                how to use it on Windows
#   LICENSE.txt                       the MIT licence
# The libraries come from scripts/windows_test.sh's cached prefix.
# Installs what it needs when it is missing (Debian, as root).
set -eu
cd "$(dirname "$0")/.."
prefix=$(sh scripts/windows_test.sh --libraries-only | tail -n 1)
build=build-win-release
cmake -S . -B "$build" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DMORVANE_WIN_PREFIX="$prefix" \
  -DMORVANE_TESTS=OFF -DMORVANE_BENCH=OFF -DMORVANE_FUZZ=OFF >/dev/null
cmake --build "$build" -j "${MORVANE_JOBS:-2}"
version=$(sed -n 's/^set(MORVANE_VERSION_STRING "\(.*\)")$/\1/p' CMakeLists.txt)
name=morvane-$version-win64
stage=$build/$name
rm -rf "$stage" "$build/$name.zip"
cmake --install "$build" --prefix "$PWD/$stage.install" >/dev/null
mkdir -p "$stage/man" "$stage/docs"
mv "$stage.install/bin/"*.exe "$stage/"
x86_64-w64-mingw32-strip "$stage/"*.exe
mv "$stage.install/lib" "$stage.install/include" "$stage/"
rm -rf "$stage.install"
# The manual pages as text: Windows has no man.
for page in docs/morvane.1 docs/morvane-tool.1; do
  groff -man -Tutf8 -P-c -P-b -P-u "$page" >"$stage/man/$(basename "$page" .1).txt"
done
cp README.md docs/*.md "$stage/docs/"
# Notepad reads "\r\n" line ends.
sed 's/$/\r/' docs/windows.md >"$stage/README-Windows.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
(cd "$build" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$build/$name.zip"

#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the Windows release with MinGW-w64 in build-win-release/ and makes
# build-win-release/morvane-<version>-win64.zip:
#   morvane.exe, morvane-tool.exe    static: they need no DLL beside them
#   lib/libmorvane_tile.a, include/morvane/, lib/cmake, lib/pkgconfig
#                                     the tile decoder library for MinGW-w64
#   man/*.txt                         the manual pages as plain text
#   docs/                             the documents, README.md among them
#   README-Windows.txt                how to use it on Windows
#   LICENSE.txt                       the MIT licence
# Text files have "\r\n" line ends, and the documents' links lead to files
# in the zip.
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
version=$(sed -n 's/^#define MORVANE_VERSION_STRING "\(.*\)"$/\1/p' include/morvane/version.h)
name=morvane-$version-win64
stage=$build/$name
rm -rf "$stage" "$build/$name.zip"
cmake --install "$build" --prefix "$PWD/$stage.install" >/dev/null
mkdir -p "$stage/man" "$stage/docs"
mv "$stage.install/bin/"*.exe "$stage/"
x86_64-w64-mingw32-strip "$stage/"*.exe
mv "$stage.install/lib" "$stage.install/include" "$stage/"
rm -rf "$stage.install"
# Every text file with "\r\n" line ends, which Notepad reads. The manual
# pages as text: Windows has no man.
for page in docs/morvane.1 docs/morvane-tool.1; do
  groff -man -Tutf8 -P-c -P-b -P-u "$page" | sed 's/$/\r/' >"$stage/man/$(basename "$page" .1).txt"
done
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
# The documents, their links pointed at where the files lie in the zip
# (README.md beside the others in docs/), and the links to files the zip
# does not hold dropped (cmake/doc_links.cmake).
places=README.md=docs/README.md,LICENSE=LICENSE.txt,docs/morvane.1=man/morvane.txt
places=$places,docs/morvane-tool.1=man/morvane-tool.txt
for doc in docs/*.md; do places=$places,$doc=$doc; done
doc_copy() {
  cmake -DSOURCE_DIR="$PWD" -DFILE="$1" -DPLACE="$2" -DPLACES="$places" -DOUT="$stage/$2" -DCRLF=ON \
    -P cmake/doc_links.cmake
}
for doc in README.md docs/*.md; do doc_copy "$doc" "docs/$(basename "$doc")"; done
doc_copy docs/windows.md README-Windows.txt
links=$(sh scripts/check_links.sh "$stage"/docs/*.md) || { echo "$links" >&2; exit 1; }
(cd "$build" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$build/$name.zip"

#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs morvane into a temporary prefix and uses it as its users do: the C
# example built with pkg-config, the CMake consumer built with find_package,
# the man pages checked with groff, the links of the installed documents
# checked; then builds the Debian packages, checks what they hold and runs
# the morvane unpacked from them.
set -eu
cd "$(dirname "$0")/.."
start=$(date +%s)
root=$(pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "install check: $*"; exit 1; }

# The Release tree and the packages (scripts/package.sh), then an install of
# the same tree under the temporary prefix.
sh scripts/package.sh >/dev/null
build=build-release
prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/morvane" ] || fail "no bin/morvane"
for f in share/man/man1/morvane.1.gz include/morvane/tile.h include/morvane/pack.h include/morvane/tile.hpp \
  share/doc/morvane/README.md share/doc/morvane/tool.md share/doc/morvane/manifest.md \
  share/doc/morvane-dev/format.md share/doc/morvane-dev/firmware.md; do
  [ -f "$prefix/$f" ] || fail "no $f"
done
# The examples the developers' documents name are installed beside them.
for f in examples/decode_region.c examples/cmake_consumer/CMakeLists.txt examples/firmware/CMakeLists.txt \
  examples/firmware/pictures/lz4.json; do
  [ -f "$prefix/share/doc/morvane-dev/$f" ] || fail "no share/doc/morvane-dev/$f"
done
# Every relative link of the installed documents leads to an installed file.
links=$(sh scripts/check_links.sh "$prefix"/share/doc/*/*.md) || fail "$links"
# The installed man pages are compressed and render.
for page in "$prefix"/share/man/man1/*.1.gz; do
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "^SEE ALSO" || fail "man -l $page renders no SEE ALSO"
done
# The library's public face is include/morvane/ alone: no header of its
# sources, and no source folder in what its package tells consumers.
[ "$(ls "$prefix/include/morvane")" = "$(printf 'pack.h\ntile.h\ntile.hpp\nversion.h')" ] ||
  fail "include/morvane holds $(ls "$prefix/include/morvane" | tr '\n' ' ')"
grep -rq --include='*.cmake' --include='*.pc' INTERFACE_INCLUDE_DIRECTORIES "$prefix" ||
  fail "no CMake package with include folders"
! grep -rq --include='*.cmake' --include='*.pc' "$root/src" "$prefix" ||
  fail "the installed package names the source tree"

# Every installed header compiles alone from the prefix: the C ones as C99
# and as C++20, the C++ one as C++20.
for h in "$prefix"/include/morvane/*; do
  name=morvane/$(basename "$h")
  printf '#include <%s>\n' "$name" >"$tmp/alone.c"
  cp "$tmp/alone.c" "$tmp/alone.cpp"
  case "$h" in
    *.h) cc -std=c99 -Wall -Wextra -Werror -pedantic -fsyntax-only -I"$prefix/include" "$tmp/alone.c" ||
      fail "$name does not compile alone as C99" ;;
  esac
  c++ -std=c++20 -Wall -Wextra -Werror -pedantic -fsyntax-only -I"$prefix/include" "$tmp/alone.cpp" ||
    fail "$name does not compile alone as C++20"
done

# Man pages: groff finds nothing to warn about, man renders them.
for page in docs/*.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff on $page: $warnings"
  MANWIDTH=80 man -l "$page" 2>&1 >/dev/null | grep . && fail "man -l $page complained"
done
MANWIDTH=80 man -l docs/morvane.1 2>/dev/null | grep -q "^EXIT STATUS" || fail "man -l renders no EXIT STATUS"

# The C example against the installed tree, through pkg-config.
pcdir=$(dirname "$(find "$prefix" -name morvane-tile.pc)")
export PKG_CONFIG_PATH="$pcdir"
[ "$(pkg-config --modversion morvane-tile)" = "$("$prefix/bin/morvane" | sed -n 's/^VERSION //p')" ] ||
  fail "pkg-config version differs from the tool's"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -pedantic examples/decode_region.c $(pkg-config --cflags morvane-tile) \
  $(pkg-config --static --libs morvane-tile) -o "$tmp/decode_region"
"$tmp/decode_region" >"$tmp/decode_region.out" || fail "decode_region: $(cat "$tmp/decode_region.out")"
# Nothing of the sources reaches a consumer: their headers are not found.
printf '#include <tile/tile_image.h>\n' >"$tmp/private.cpp"
# shellcheck disable=SC2046
! c++ -std=c++20 -fsyntax-only $(pkg-config --cflags morvane-tile) "$tmp/private.cpp" 2>/dev/null ||
  fail "a consumer finds tile/tile_image.h"
unset PKG_CONFIG_PATH

# The CMake consumer against the installed tree, through find_package.
cmake -S examples/cmake_consumer -B "$tmp/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
"$tmp/consumer/tile_consumer" >/dev/null || fail "tile_consumer failed"
"$tmp/consumer/decode_region" >/dev/null || fail "decode_region built with CMake failed"
"$tmp/consumer/embedded_pack" >/dev/null || fail "embedded_pack (morvane_add_pack) failed"

# The packages: their files, their dependencies, and the tool they hold.
deb=$(ls "$build"/morvane_*.deb)
dev=$(ls "$build"/morvane-dev_*.deb)
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg-deb -f "$deb" Architecture)
[ "$(basename "$deb")" = "morvane_${version}_${arch}.deb" ] || fail "package named $(basename "$deb")"
dpkg-deb -c "$deb" >"$tmp/files"
dpkg-deb -c "$dev" >>"$tmp/files"
libdir=$(sed -n 's|.* \./usr/\(lib[^ ]*\)/libmorvane_tile\.a$|\1|p' "$tmp/files")
[ -n "$libdir" ] || fail "no libmorvane_tile.a in $dev"
for f in bin/morvane share/man/man1/morvane.1.gz share/doc/morvane/README.md share/doc/morvane/tool.md \
  share/doc/morvane/manifest.md share/doc/morvane/copyright share/doc/morvane/changelog.gz \
  share/doc/morvane-dev/format.md share/doc/morvane-dev/firmware.md share/doc/morvane-dev/copyright \
  share/doc/morvane-dev/changelog.gz include/morvane/tile.h include/morvane/pack.h include/morvane/tile.hpp "$libdir/pkgconfig/morvane-tile.pc" \
  "$libdir/cmake/morvane/morvaneConfig.cmake" "$libdir/cmake/morvane/morvaneConfigVersion.cmake" \
  "$libdir/cmake/morvane/morvaneTargets.cmake"; do
  grep -q " \./usr/$f\$" "$tmp/files" || fail "$f not in the packages"
done
if [ -x "$build/morvane-tool" ]; then
  grep -q " \./usr/bin/morvane-tool\$" "$tmp/files" || fail "bin/morvane-tool not in the packages"
fi
if [ -f docs/morvane-tool.1 ]; then
  grep -q " \./usr/share/man/man1/morvane-tool\.1\.gz\$" "$tmp/files" || fail "morvane-tool.1.gz not in the packages"
fi
dpkg-deb -f "$deb" Depends | grep -q liblz4 || fail "$deb does not depend on liblz4"
dpkg-deb -x "$deb" "$tmp/deb"
# ... also with the runtime package alone installed.
links=$(sh scripts/check_links.sh "$tmp"/deb/usr/share/doc/morvane/*.md) || fail "$links"
status=0
"$tmp/deb/usr/bin/morvane" >"$tmp/usage" || status=$?
[ "$status" = 255 ] || fail "packaged morvane without arguments: status $status"
[ "$(head -n 1 "$tmp/usage")" = "VERSION $version" ] || fail "packaged morvane prints $(head -n 1 "$tmp/usage")"
(cd "$tmp" && "$tmp/deb/usr/bin/morvane" -c "$root/samples/demo.pack" demo.packz >/dev/null &&
  "$tmp/deb/usr/bin/morvane" -d demo.packz demo.unpacked >/dev/null) || fail "packaged morvane failed on samples/demo.pack"

echo "install check passed in $(($(date +%s) - start)) s: $(basename "$deb") $(basename "$dev")"

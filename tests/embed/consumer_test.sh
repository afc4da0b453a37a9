#!/bin/sh
# SPDX-License-Identifier: MIT
# morvane_add_pack in a project of its own, built twice: the embedded bytes
# are the pack morvane -c wrote; a second build has nothing to do; a changed
# picture makes the pack again.
#   sh consumer_test.sh MORVANE_BUILD_DIR SOURCE_DIR [CC [FLAGS]]
# CC and FLAGS build the project as the morvane build was built (its
# sanitizers).
set -eu
build=$1
src=$2
cc=${3:-cc}
flags=${4:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "consumer test: $*"; exit 1; }

# Pictures and their manifest: the tiled sample exported.
"$build/morvane-tool" export "$src/samples/demo_tiled.packz" "$tmp/pictures" >/dev/null 2>&1
cmake -S "$src/tests/embed/consumer" -B "$tmp/b" -G Ninja -Dmorvane_DIR="$build" -DMORVANE_HOST_TOOLS_DIR="$build" -DPICTURES="$tmp/pictures" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
check() {
  cmake --build "$tmp/b" >"$tmp/log" || { cat "$tmp/log"; fail "build failed"; }
  grep -q "morvane-tool create demo.pack" "$tmp/log" || fail "the pack was not made: $(cat "$tmp/log")"
  "$tmp/b/show_pack" "$tmp/embedded" || fail "show_pack failed"
  objdump -h "$tmp/b/CMakeFiles/show_pack.dir/morvane_packs/demo/demo.c.o" | grep -q " \.rodata\.demo " ||
    fail "the array is not in its SECTION"
  cmp "$tmp/embedded" "$tmp/b/morvane_packs/demo/demo.packz" || fail "the embedded bytes differ from the pack"
  ninja -C "$tmp/b" -n >"$tmp/log"
  grep -q "no work to do" "$tmp/log" || fail "an unchanged tree builds again: $(cat "$tmp/log")"
}
check
cp "$tmp/embedded" "$tmp/first"
cp "$tmp/pictures/panel.png" "$tmp/pictures/icon_ok.png"
check
! cmp -s "$tmp/embedded" "$tmp/first" || fail "a changed picture left the pack as it was"
echo "consumer test passed"

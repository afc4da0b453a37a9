#!/bin/sh
# SPDX-License-Identifier: MIT
# The tile codec on the processors devices have:
#  1. builds morvane_tile and its tests for 32-bit ARM Linux (hard-float)
#     with arm-linux-gnueabihf-g++ and runs them under qemu-arm;
#  2. compiles what a firmware calls to find an entry and draw a region
#     (the pack reader, morvane_tile_image_read, the decoders in caller
#     memory) from the C files with arm-none-eabi-gcc -Os for a Cortex-M4
#     and a Cortex-M0, default and size-first (-DMORVANE_TILE_SMALL=1),
#     prints the four code sizes and fails above 4096 bytes (M4 default),
#     4608 (M0 default) or 2048 (size-first); LZ4_decompress_safe and the C
#     library's calls stay undefined externals, so their code is not
#     counted.
# Installs what it needs when it is missing (Debian, as root).
set -eu
cd "$(dirname "$0")/.."
start=$(date +%s)

# ---- What it needs --------------------------------------------------------
# liblz4 for the target comes through multiarch.
dpkg --print-foreign-architectures | grep -qx armhf || dpkg --add-architecture armhf
# libstdc++-arm-none-eabi-newlib brings the C++ headers
# (libstdc++-arm-none-eabi-dev) and newlib with it.
sh scripts/setup.sh g++-arm-linux-gnueabihf qemu-user gcc-arm-none-eabi libstdc++-arm-none-eabi-newlib \
  liblz4-dev:armhf googletest

# ---- 32-bit ARM Linux, under qemu-arm --------------------------------------
echo "== arm-linux-gnueabihf: morvane_tile and its tests"
cmake -S . -B build-arm -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake -DMORVANE_CROSS_TILE_ONLY=ON >/dev/null
cmake --build build-arm -j "$(nproc)"
ctest --test-dir build-arm --output-on-failure

# ---- Cortex-M0 and M4: the device's code -----------------------------------
# What a firmware calls to find an entry and draw a region (the roots
# below), compiled from the decoding side's C files with arm-none-eabi-gcc
# for size, linked into one relocatable object that keeps only what the
# roots reach; LZ4_decompress_safe, memcpy, memset and memcmp stay
# undefined, so LZ4's code and the C library's are not counted. Four
# builds: Cortex-M0 and M4, default and size-first (MORVANE_TILE_SMALL).
echo "== arm-none-eabi: the decoding code's size"
roots="morvane_pack_count morvane_pack_entry_at morvane_pack_find morvane_tile_image_read
  morvane_tile_decoder_size morvane_tile_decoder_init morvane_tile_decode morvane_tile_decoder_forget"
mkdir -p build-mcu/include
# Only LZ4's header, for the prototype; nothing else of the host's.
ln -sf /usr/include/lz4.h build-mcu/include/lz4.h
# measure CPU SMALL LIMIT: prints the figures, fails above LIMIT bytes of code
measure() {
  out="build-mcu/$1-$2"
  rm -rf "$out"
  mkdir -p "$out"
  for f in src/tile/tile_header.c src/tile/tile_decode.c src/tile/rle_decode.c src/tile/pack_read.c; do
    arm-none-eabi-gcc -std=c99 -pedantic -Wall -Wextra -Werror -mcpu="$1" -mthumb -Os -ffunction-sections \
      -fdata-sections -DMORVANE_TILE_SMALL="$2" -Isrc -Iinclude -Ibuild-mcu/include -c "$f" \
      -o "$out/$(basename "$f" .c).o"
  done
  # shellcheck disable=SC2046,SC2086
  arm-none-eabi-ld -r --gc-sections $(printf -- ' -u %s' $roots) -o "$out/decoder.o" "$out"/tile_*.o \
    "$out"/rle_decode.o "$out"/pack_read.o
  # The external symbols its code refers to.
  defined=$(arm-none-eabi-nm --defined-only "$out/decoder.o" | awk '{ print $3 }')
  external=$(arm-none-eabi-objdump -r "$out/decoder.o" | awk '/R_ARM/ && $3 !~ /^\./ { print $3 }' | sort -u |
    grep -vxF "$defined" | tr '\n' ' ')
  # Code and read-only data apart: tables are .rodata.
  arm-none-eabi-size -A "$out/decoder.o" >"$out/sections"
  text=$(awk '$1 ~ /^\.text/ { n += $2 } END { print n + 0 }' "$out/sections")
  rodata=$(awk '$1 ~ /^\.rodata/ { n += $2 } END { print n + 0 }' "$out/sections")
  ram=$(awk '$1 ~ /^\.(bss|data)/ { n += $2 } END { print n + 0 }' "$out/sections")
  build=default
  [ "$2" = 1 ] && build=size-first
  printf '%-9s %-10s code (.text) %5d bytes (limit %d); read-only data %d; RAM %d; external: %s\n' \
    "$1" "$build" "$text" "$3" "$rodata" "$ram" "$external"
  [ "$text" -le "$3" ] || { echo "cross test: the decoding code of $1 ($build) is above $3 bytes"; exit 1; }
}
measure cortex-m4 0 4096
measure cortex-m4 1 2048
measure cortex-m0 0 4608
measure cortex-m0 1 2048
echo "cross stage: $(($(date +%s) - start)) s"

# ---- Bare metal: examples/firmware under qemu-system-arm --------------------
# The example firmware (morvane by add_subdirectory, device-only; its packs
# by morvane_add_pack, made by this machine's morvane and morvane-tool from
# build/) for a Cortex-M4 (mps2-an386) and a Cortex-M0 (microbit), each in
# the default and the size-first (MORVANE_TILE_SMALL=1) build, run under
# qemu-system-arm: it draws and checks regions of every entry and ends
# through semihosting with its result. Prints the decoder's code size from
# each linked program's map: the .text of libmorvane_tile.a's objects that
# -Wl,--gc-sections kept (-Os -ffunction-sections), LZ4's decoder
# (libmorvane_lz4.a), the C library and libgcc not counted.
bare_start=$(date +%s)
echo "== arm-none-eabi, bare metal: examples/firmware under qemu-system-arm"
sh scripts/setup.sh qemu-system-arm gcc-arm-none-eabi libnewlib-arm-none-eabi dpkg-dev
lz4_src=$(sh scripts/lz4_source.sh)
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target morvane morvane-tool >/dev/null
# The .text input sections of libmorvane_tile.a in a GNU ld map, summed.
decoder_text() {
  awk 'function hex(s,  n, i) { n = 0; s = tolower(substr(s, 3))
         for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
         return n }
       /^Linker script and memory map/ { on = 1 }
       on && /^ \.text/ { if (NF < 4) { getline rest; $0 = $0 " " rest }
                          if ($4 ~ /libmorvane_tile\.a\(/) n += hex($3) }
       END { print n + 0 }' "$1"
}
for variant in "m4 cortex-m4 mps2-an386" "m4-small cortex-m4 mps2-an386 -DMORVANE_TILE_SMALL=1" \
  "m0 cortex-m0 microbit" "m0-small cortex-m0 microbit -DMORVANE_TILE_SMALL=1"; do
  # shellcheck disable=SC2086
  set -- $variant
  out=build-fw-$1
  rm -rf "$out"
  mkdir -p "$out"
  cmake -S examples/firmware -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/arm-none-eabi.cmake" \
    -DMORVANE_ARM_CPU="$2" -DCMAKE_C_FLAGS="${4:-}" -DMORVANE_LZ4_SOURCE="$lz4_src" \
    -DMORVANE_HOST_TOOLS_DIR="$(pwd)/build" >/dev/null
  cmake --build "$out" -j "$(nproc)" >"$out/cross.log" 2>&1 || { cat "$out/cross.log"; echo "cross test: $out failed to build"; exit 1; }
  result=$(timeout 60 qemu-system-arm -M "$3" -nographic -monitor none -semihosting-config enable=on,target=native \
    -kernel "$out/firmware.elf" 2>&1) || { echo "$result"; echo "cross test: the $1 firmware failed under qemu -M $3"; exit 1; }
  echo "$1 ($2${4:+, $4}): $result"
  echo "$1: decoder .text $(decoder_text "$out/firmware.map") bytes; program $(arm-none-eabi-size "$out/firmware.elf" |
    awk 'NR == 2 { print $1 " bytes of flash, " $3 " of RAM" }')"
done
# The device build alone: without LZ4's sources configure stops and says so;
# installed, its pkg-config module names nothing of the host's, and the
# example builds and runs against its CMake package (find_package).
out=build-fw-install
rm -rf "$out"
mkdir -p "$out"
tc="-DCMAKE_TOOLCHAIN_FILE=$(pwd)/cmake/arm-none-eabi.cmake"
if cmake -S . -B "$out" -G Ninja "$tc" >"$out/cross.log" 2>&1 || ! grep -q "MORVANE_LZ4_SOURCE=<folder" "$out/cross.log"; then
  cat "$out/cross.log"
  echo "cross test: a device build without LZ4 did not stop with its message"
  exit 1
fi
cmake -S . -B "$out" -G Ninja "$tc" -DMORVANE_LZ4_SOURCE="$lz4_src" >/dev/null
cmake --build "$out" >/dev/null
cmake --install "$out" --prefix "$out/prefix" >/dev/null
pc=$(PKG_CONFIG_LIBDIR="$out/prefix/lib/pkgconfig" pkg-config --cflags --libs morvane-tile)
case "$pc" in *-I/usr/* | *-L/usr/*) echo "cross test: the device build's pkg-config gives host paths: $pc"; exit 1 ;; esac
cmake -S examples/firmware -B "$out/fw" -G Ninja "$tc" -DMORVANE_SOURCE=/nonexistent \
  -Dmorvane_DIR="$(pwd)/$out/prefix/lib/cmake/morvane" -DMORVANE_HOST_TOOLS_DIR="$(pwd)/build" >/dev/null
cmake --build "$out/fw" >"$out/cross.log" 2>&1 || { cat "$out/cross.log"; echo "cross test: the example against the installed device build failed to build"; exit 1; }
timeout 60 qemu-system-arm -M mps2-an386 -nographic -monitor none -semihosting-config enable=on,target=native \
  -kernel "$out/fw/firmware.elf" >/dev/null 2>&1 || { echo "cross test: the example against the installed device build failed"; exit 1; }
echo "device build installed: $(cd "$out/prefix" && find . -type f | sort | tr '\n' ' ')"
echo "bare-metal stage: $(($(date +%s) - bare_start)) s"

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

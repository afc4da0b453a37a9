#!/bin/sh
# SPDX-License-Identifier: MIT
# The tile codec on the processors devices have:
#  1. builds morvane_tile and its tests for 32-bit ARM Linux (hard-float)
#     with arm-linux-gnueabihf-g++ and runs them under qemu-arm;
#  2. compiles what a device calls to decode (decoders, run-length decoder,
#     header and pack readers: every morvane_ call but the static decoder's)
#     for a Cortex-M4 with arm-none-eabi-g++, prints its code size and fails
#     above 4096 bytes; LZ4_decompress_safe stays an undefined external, so
#     LZ4's own code is not counted.
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

# ---- Cortex-M4: the device's code ------------------------------------------
# Everything a device calls to decode: the decoders, the run-length decoder,
# the header and pack readers, their texts.
echo "== arm-none-eabi, Cortex-M4: the decoding code's size"
out=build-m4
rm -rf "$out"
mkdir -p "$out/include"
# Only LZ4's header, for the prototype; nothing else of the host's.
ln -s /usr/include/lz4.h "$out/include/lz4.h"
flags="-std=c++20 -mcpu=cortex-m4 -mthumb -Os -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections"
sources="rle tile_decode tile_format tile_c_api pack_read"
for f in $sources; do
  # shellcheck disable=SC2086
  arm-none-eabi-g++ $flags -Wall -Wextra -Werror -Isrc -Iinclude -I"$out/include" -c "src/tile/$f.cpp" \
    -o "$out/$f.o"
done
# One object with only what the C entry points reach (the encoder in rle.cpp
# falls away); LZ4_decompress_safe, memcpy and memset stay undefined. The
# static decoder's two calls (shared_decoder.cpp) are left out: they add
# its 1 MiB tile, which no such device has room for.
roots=$(arm-none-eabi-nm -g --defined-only "$out"/*.o | awk '$3 ~ /^morvane_/ { printf " -u %s", $3 }')
# shellcheck disable=SC2086
arm-none-eabi-ld -r --gc-sections $roots -o "$out/decoder.o" $(for f in $sources; do echo "$out/$f.o"; done)
# The external symbols its code refers to.
defined=$(arm-none-eabi-nm --defined-only "$out/decoder.o" | awk '{ print $3 }')
echo "external: $(arm-none-eabi-objdump -r "$out/decoder.o" | awk '/R_ARM/ && $3 !~ /^\./ { print $3 }' | sort -u |
  grep -vxF "$defined" | tr '\n' ' ')"
# Code and read-only data apart: the texts and tables are .rodata.
arm-none-eabi-size -A "$out/decoder.o" >"$out/sections"
text=$(awk '$1 ~ /^\.text/ { n += $2 } END { print n + 0 }' "$out/sections")
rodata=$(awk '$1 ~ /^\.rodata/ { n += $2 } END { print n + 0 }' "$out/sections")
bss=$(awk '$1 ~ /^\.(bss|data)/ { n += $2 } END { print n + 0 }' "$out/sections")
echo "decoding code (.text), Cortex-M4 Thumb-2, -Os, LZ4 excluded: $text bytes (limit 4096);" \
  "read-only data $rodata bytes; RAM $bss bytes"
[ "$text" -le 4096 ] || { echo "cross test: the decoding code is above 4096 bytes"; exit 1; }
echo "cross stage: $(($(date +%s) - start)) s"

#!/bin/sh
# The tile codec on the processors devices have:
#  1. builds morvane_tile and its tests for 32-bit ARM Linux (hard-float)
#     with arm-linux-gnueabihf-g++ and runs them under qemu-arm;
#  2. compiles the decoder alone (run-length codec, region decoder, block
#     records) for a Cortex-M4 with arm-none-eabi-g++ and prints its code
#     size; LZ4_decompress_safe stays an undefined external, so LZ4's own
#     code is not counted.
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

# ---- Cortex-M4: the decoder alone -------------------------------------------
echo "== arm-none-eabi, Cortex-M4: the decoder's code size"
out=build-m4
rm -rf "$out"
mkdir -p "$out/include"
# Only LZ4's header, for the prototype; nothing else of the host's.
ln -s /usr/include/lz4.h "$out/include/lz4.h"
flags="-std=c++20 -mcpu=cortex-m4 -mthumb -Os -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections"
for f in rle tile_decode tile_format; do
  # shellcheck disable=SC2086
  arm-none-eabi-g++ $flags -Wall -Wextra -Werror -Isrc -I"$out/include" -c "src/tile/$f.cpp" -o "$out/$f.o"
done
# One object with only what the decoder's entry points reach (the encoder
# in rle.cpp falls away); LZ4_decompress_safe, memcpy and memset stay
# undefined.
roots=$(arm-none-eabi-nm -g --defined-only "$out"/*.o |
  awk '$3 ~ /decode_tile_region|decode_rle_pixels|tile_cache_forget/ { printf " -u %s", $3 }')
# shellcheck disable=SC2086
arm-none-eabi-ld -r --gc-sections $roots -o "$out/decoder.o" "$out/rle.o" "$out/tile_decode.o" "$out/tile_format.o"
# The external symbols its code refers to.
defined=$(arm-none-eabi-nm --defined-only "$out/decoder.o" | awk '{ print $3 }')
echo "external: $(arm-none-eabi-objdump -r "$out/decoder.o" | awk '/R_ARM/ && $3 !~ /^\./ { print $3 }' | sort -u |
  grep -vxF "$defined" | tr '\n' ' ')"
# bss holds the 1 MiB tile cache slot.
arm-none-eabi-size "$out/decoder.o"
text=$(arm-none-eabi-size "$out/decoder.o" | awk 'NR == 2 { print $1 }')
echo "decoder code (.text), Cortex-M4 Thumb-2, -Os, LZ4 excluded: $text bytes"
echo "cross stage: $(($(date +%s) - start)) s"

#!/bin/sh
# SPDX-License-Identifier: MIT
# What the decoders cost on a 32-bit ARM core, in instructions per decoded
# byte: bench/arm_insn.sh [IMAGES]
#
#  - per tile: the run-length decoder against LZ4_decompress_safe on the
#    same pixels, tiles of 32 x 32 and 64 x 64, 1 to 4 bytes per pixel;
#  - whole images: morvane_tile_decode_shared over "C4ZL" and "CELR" blocks
#    against one LZ4 block of the whole image.
#
# IMAGES is a corpus folder (manifest.json + raw/, as ../shared/corpus
# builds it) or a resource pack, whose raw image entries are used; without
# it, samples/demo.pack. Pixels are coded on the host by the project's
# encoders; the decoders (C, arm-linux-gnueabihf-gcc) and their callers
# (C++, arm-linux-gnueabihf-g++) are built with -O2 -mthumb (Debian's armhf
# liblz4, statically linked) and run under qemu-arm with bench/insn_plugin.c
# counting every guest instruction. Each count is a run that decodes once less a run that
# loads the same data and decodes nothing, so it holds the decoding alone;
# the counts are exact and the same on every run.
# MORVANE_INSN_BLOCKS=1 adds where the instructions of the run-length whole
# images go, by function (the run-length decoder, the row copies, the tile
# walk), from the plugin's counts per block.
# Installs what it needs when it is missing (Debian, as root). Keeps its
# build and data in build-insn/ (MORVANE_INSN_DIR to choose another).
set -eu
cd "$(dirname "$0")/.."
images=${1:-samples/demo.pack}
[ -e "$images" ] || { echo "arm_insn.sh: $images: no such corpus folder or pack" >&2; exit 2; }
out=${MORVANE_INSN_DIR:-build-insn}

dpkg --print-foreign-architectures | grep -qx armhf || dpkg --add-architecture armhf
sh scripts/setup.sh g++-arm-linux-gnueabihf qemu-user liblz4-dev:armhf python3

rm -rf "$out"
mkdir -p "$out/include" "$out/data"
# Only LZ4's headers from the host: the target's C library is the cross
# toolchain's own.
ln -s /usr/include/lz4.h "$out/include/lz4.h"
ln -s /usr/include/lz4hc.h "$out/include/lz4hc.h"

# ---- Builds -----------------------------------------------------------------
# The decoding side is C (src/tile/*.c), the encoder and this program C++.
# MORVANE_INSN_SMALL=1 builds the decoders' size-first paths
# (-DMORVANE_TILE_SMALL=1).
cdefs=""
[ "${MORVANE_INSN_SMALL:-0}" = 1 ] && cdefs="-DMORVANE_TILE_SMALL=1"
src="bench/arm_insn.cpp $(ls src/tile/*.cpp)"
mkdir -p "$out/host" "$out/arm"
for f in src/tile/*.c; do
  o=$(basename "$f" .c).o
  # shellcheck disable=SC2086
  gcc -std=c99 -O2 $cdefs -Isrc -Iinclude -c "$f" -o "$out/host/$o"
  # shellcheck disable=SC2086
  arm-linux-gnueabihf-gcc -std=c99 -O2 -mthumb $cdefs -Isrc -Iinclude -I"$out/include" -c "$f" -o "$out/arm/$o"
done
# shellcheck disable=SC2086
g++ -std=c++20 -O2 -Isrc -Iinclude -o "$out/arm_insn_host" $src "$out"/host/*.o -llz4
# shellcheck disable=SC2086
arm-linux-gnueabihf-g++ -std=c++20 -O2 -mthumb -static -Isrc -Iinclude -I"$out/include" \
  -o "$out/arm_insn" $src "$out"/arm/*.o -L/usr/lib/arm-linux-gnueabihf -llz4
cc -std=c99 -O2 -shared -fPIC -Wall -Wextra -o "$out/libinsn.so" bench/insn_plugin.c

# ---- The images: "bpp width height offset file" per line ----------------------
python3 - "$images" "$out/images.txt" <<'PY'
import json, os, struct, sys
src, list_path = sys.argv[1], sys.argv[2]
BPP = {"a8": 1, "rgb565": 2, "rgb888": 3, "argb8888": 4}
# Raw pixel-array type codes of a pack and their bytes per pixel.
TYPE_BPP = {1: 2, 11: 4, 30: 1, 32: 3, 34: 3, 36: 2}
lines = []
if os.path.isdir(src):
    for m in json.load(open(os.path.join(src, "manifest.json"))):
        if m["kind"] in BPP:
            path = os.path.abspath(os.path.join(src, m["file"]))
            lines.append(f'{BPP[m["kind"]]} {m["width"]} {m["height"]} 0 {path}')
else:
    data = open(src, "rb").read()
    if data[:4] != struct.pack("<I", 0x19534552) or data[13] != 0:
        sys.exit(f"arm_insn.sh: {src} is not an untiled resource pack")
    for i in range(struct.unpack_from("<H", data, 4)[0]):
        off, lo, typ, _, hi = struct.unpack_from("<IHB8sB", data, 16 + 16 * i)
        w, h = struct.unpack_from("<HH", data, off)
        if typ in TYPE_BPP and lo + 65536 * hi - 4 >= w * h * TYPE_BPP[typ]:
            lines.append(f"{TYPE_BPP[typ]} {w} {h} {off + 4} {os.path.abspath(src)}")
if not lines:
    sys.exit(f"arm_insn.sh: no raw images in {src}")
open(list_path, "w").write("\n".join(lines) + "\n")
print(f"{len(lines)} images from {src}")
PY
"$out/arm_insn_host" prep "$out/images.txt" "$out/data" >"$out/prep.txt"

# ---- Counts ---------------------------------------------------------------------
for f in "$out"/data/*.bin; do qemu-arm "$out/arm_insn" check "$f"; done
# insns FILE FORM REPS: guest instructions of one run
insns() {
  qemu-arm -plugin "$out/libinsn.so" -d plugin -D "$out/count.log" "$out/arm_insn" run "$@" >/dev/null
  sed -n 's/^insns: //p' "$out/count.log"
}
# per_byte FILE FORM: instructions per pixel byte of one decoding of the
# form, the run without decoding ($base) taken off
per_byte() {
  python3 -c 'import sys; a, b, n = map(int, sys.argv[1:]); print(f"{(a - b) / n:.3f}")' \
    "$(insns "$1" "$2" 1)" "$base" "$3"
}
ratio() { python3 -c 'import sys; print(f"{float(sys.argv[1]) / float(sys.argv[2]):.2f}")' "$1" "$2"; }
# pixel bytes of a case file, from the prep table
bytes_of() { awk -v f="$(basename "$1")" '$1 == f { print $3 }' "$out/prep.txt"; }

echo "== 32-bit ARM (Thumb-2, -O2${cdefs:+, $cdefs}): instructions per decoded byte"
echo "per tile                 run-length     LZ4   ratio   bytes/packet"
for bpp in 1 2 3 4; do
  for side in 32 64; do
    f="$out/data/tiles-$bpp-$side.bin"
    [ -f "$f" ] || continue
    base=$(insns "$f" 0 0)
    n=$(bytes_of "$f")
    rle=$(per_byte "$f" 0 "$n")
    lz4=$(per_byte "$f" 1 "$n")
    bpk=$(awk -v f="$(basename "$f")" '$1 == f { print $6 }' "$out/prep.txt")
    printf "%d B/px %2dx%-2d       %10s %7s %7s %14s\n" "$bpp" "$side" "$side" "$rle" "$lz4" "$(ratio "$rle" "$lz4")" "$bpk"
  done
done
echo "whole images          one LZ4 block | C4ZL 32  CELR 32  C4ZL 64  CELR 64 (each / one block)"
for bpp in 1 2 3 4; do
  f="$out/data/region-$bpp.bin"
  [ -f "$f" ] || continue
  base=$(insns "$f" 0 0)
  n=$(bytes_of "$f")
  one=$(per_byte "$f" 0 "$n")
  line=$(printf "%d B/px               %14s |" "$bpp" "$one")
  for form in 1 2 3 4; do
    v=$(per_byte "$f" "$form" "$n")
    line="$line $(printf "%5s %-5s" "$v" "($(ratio "$v" "$one"))")"
  done
  echo "$line"
done
if [ "${MORVANE_INSN_BLOCKS:-0}" = 1 ]; then
  arm-linux-gnueabihf-nm -n -C "$out/arm_insn" >"$out/symbols.txt"
  # by_function FILE FORM: the decoding run's instructions per pixel byte in
  # each function, the run without decoding taken off
  by_function() {
    for reps in 1 0; do
      qemu-arm -plugin "$out/libinsn.so,blocks=on" -d plugin -D "$out/blocks-$reps.log" "$out/arm_insn" run \
        "$1" "$2" "$reps" >/dev/null
    done
    python3 - "$out/symbols.txt" "$out/blocks-1.log" "$out/blocks-0.log" "$(bytes_of "$1")" <<'PY'
import bisect, sys
syms = []
for line in open(sys.argv[1]):
    f = line.split(maxsplit=2)
    if len(f) == 3 and f[1] in "tTwW":
        syms.append((int(f[0], 16), f[2].strip()))
starts = [a for a, _ in syms]
def counts(path, sign, into):
    for line in open(path):
        f = line.split()
        if f[0] == "block":
            i = bisect.bisect_right(starts, int(f[1], 16)) - 1
            name = syms[i][1] if i >= 0 else "?"
            into[name] = into.get(name, 0) + sign * int(f[2])
by = {}
counts(sys.argv[2], 1, by)
counts(sys.argv[3], -1, by)
n = int(sys.argv[4])
shown = sorted((v / n, k) for k, v in by.items() if v / n >= 0.005)
print("   " + ", ".join(f"{k.split('(')[0]} {v:.3f}" for v, k in reversed(shown)))
PY
  }
  echo "run-length whole images by function, instructions per decoded byte"
  for bpp in 1 2 3 4; do
    f="$out/data/region-$bpp.bin"
    [ -f "$f" ] || continue
    for form in 2 4; do
      echo "$bpp B/px CELR $([ $form = 2 ] && echo 32 || echo 64):"
      by_function "$f" "$form"
    done
  done
fi
echo "coded sizes:"
sed 's/^/  /' "$out/prep.txt"

#!/bin/sh
# SPDX-License-Identifier: MIT
# What a redraw of the middle quarter of a large image costs in LVGL 9.5:
# bench/lvgl_redraw.sh [CORPUS_DIR]
#
# Each image is held five ways (bench/lvgl_redraw.cpp): morvane run-length
# and LZ4 tiles of 32 x 32 drawn through the decoder of contrib/lvgl, LVGL's
# own RLE and LZ4 binary images (decoded whole on every draw, LVGL's image
# cache being 0 by default), and raw pixels. Instructions are counted on the
# host by callgrind around the redraw alone (LVGL built with -O2, 32-bit
# colour, the software renderer); "decode/B" is the count above the raw
# pixels' redraw per drawn byte of the image, which leaves out what LVGL's
# drawing costs in every case. "ram" is what the draw allocates for the
# image: the whole decoded image for LVGL's formats, the decoder (one tile
# and its fixed part) and the band LVGL draws from for morvane's tiles.
#
# CORPUS_DIR (manifest.json + raw/, as ../shared/corpus builds it): the two
# largest images of each pixel format; without it, generated GUI-like
# images of 480 x 272 at 1 to 4 bytes per pixel. The build goes to
# build-bench/ (MORVANE_BENCH_DIR to choose another).
set -eu
cd "$(dirname "$0")/.."
corpus=${1:-}
[ -z "$corpus" ] || [ -f "$corpus/manifest.json" ] ||
  { echo "lvgl_redraw.sh: $corpus: no manifest.json there" >&2; exit 2; }
build=${MORVANE_BENCH_DIR:-build-bench}
sh scripts/setup.sh valgrind >/dev/null
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target lvgl_redraw >/dev/null

# image label, then the arguments of lvgl_redraw after the variant
images() {
  if [ -z "$corpus" ]; then
    for bpp in 1 2 3 4; do echo "generated $bpp 480 272 32"; done
    return
  fi
  python3 - "$corpus" <<'PY'
import json, os, sys
root = sys.argv[1]
bpp = {"a8": 1, "rgb565": 2, "rgb888": 3, "argb8888": 4}
entries = json.load(open(os.path.join(root, "manifest.json")))
for kind in bpp:
    mine = sorted((e for e in entries if e["kind"] == kind), key=lambda e: -e["width"] * e["height"])
    for e in mine[:2]:
        print(e["name"], bpp[kind], e["width"], e["height"], 32, os.path.join(root, e["file"]))
PY
}

printf '%-10s %-12s %-10s %3s %9s %9s %13s %8s %9s\n' image variant form B/px stored drawn instructions decode/B ram
images | while read -r label args; do
  raw=
  for variant in raw lvgl-rle lvgl-lz4 morvane-rle morvane-lz4; do
    out=$(mktemp)
    # shellcheck disable=SC2086
    line=$(valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$out" \
      "$build/bench/lvgl_redraw" "$variant" $args 2>/dev/null)
    insns=$(sed -n 's/^totals: //p' "$out")
    rm -f "$out"
    [ -n "$raw" ] || raw=$insns
    echo "$line" | awk -v label="$label" -v n="$insns" -v raw="$raw" '{
      printf "%-10s %-12s %-10s %3s %9s %9s %13s %8.2f %9s\n", label, $1, $2, $4, $6, $8, n, (n - raw) / $8, $10 }'
  done
done

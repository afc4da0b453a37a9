#!/bin/sh
# Times morvane on a pack of real images against the bare codec work and the
# lz4 command, in one run: bench/pack_bench.sh [CORPUS_DIR]
# The corpus (about 47 MB of icons, wallpapers, glyph atlases and JPEGs) is
# built from Debian packages when CORPUS_DIR does not hold one yet.
set -eu
cd "$(dirname "$0")/.."
corpus=${1:-/tmp/morvane-corpus}
[ -f "$corpus/manifest.json" ] || sh ../shared/corpus/make_corpus.sh "$corpus"
sh scripts/setup.sh libbenchmark-dev
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)" --target morvane pack_baseline >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
exe=build-bench/morvane
base=build-bench/bench/pack_baseline

python3 bench/corpus_pack.py "$corpus" "$work/whole.pack"
python3 bench/corpus_pack.py "$corpus" "$work/lz4.pack" --tiled 2
python3 bench/corpus_pack.py "$corpus" "$work/rle.pack" --tiled 1

# wall seconds and peak RSS (KiB) of a command
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
  cat "$work/time"
}
ratio() { python3 -c "import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print(f'{a/b:.2f}' if b else 'n/a')" "$1" "$2"; }
bare() { "$base" "$@" | sed -E 's/.*: ([0-9.]+) s.*/\1/'; }

echo "== compress"
set -- $(measure "$exe" -c "$work/whole.pack" "$work/whole.packz")
w_t=$1; w_rss=$2; w_bare=$(bare whole "$work/whole.pack")
set -- $(measure lz4 -12 -q -f "$work/whole.pack.pixels" "$work/pixels.lz4")
l_t=$1
echo "whole-entry: morvane ${w_t}s (peak RSS ${w_rss} KiB), bare HC ${w_bare}s, lz4 -12 ${l_t}s;" \
     "morvane/bare $(ratio "$w_t" "$w_bare"), morvane/lz4 $(ratio "$w_t" "$l_t")"
set -- $(measure "$exe" -c "$work/lz4.pack" "$work/lz4.packz")
t_t=$1; t_rss=$2; t_bare=$(bare tiled 2 "$work/lz4.pack")
echo "tiled LZ4:   morvane ${t_t}s (peak RSS ${t_rss} KiB), bare per-tile HC ${t_bare}s; morvane/bare $(ratio "$t_t" "$t_bare")"
set -- $(measure "$exe" -c "$work/rle.pack" "$work/rle.packz")
r_t=$1; r_rss=$2; r_bare=$(bare tiled 1 "$work/rle.pack")
set -- $(measure cp "$work/rle.pack" "$work/copy.pack")
c_t=$1
echo "tiled RLE:   morvane ${r_t}s (peak RSS ${r_rss} KiB), bare per-tile run-length ${r_bare}s, copy ${c_t}s;" \
     "morvane/(bare+copy) $(ratio "$r_t" "$(python3 -c "print($r_bare+$c_t)")")"
ls -l "$work"/*.packz "$work/pixels.lz4" | awk '{print "  " $5 " " $9}'

echo "== decompress"
set -- $(measure "$exe" -d "$work/whole.packz" "$work/whole.out")
dw_t=$1; dw_rss=$2
set -- $(measure lz4 -d -q -f "$work/pixels.lz4" "$work/pixels.out")
dl_t=$1
echo "whole-entry: morvane ${dw_t}s (peak RSS ${dw_rss} KiB), bare $(bare unwhole "$work/whole.packz")s, lz4 -d ${dl_t}s;" \
     "morvane/lz4 $(ratio "$dw_t" "$dl_t")"
cmp "$work/whole.pack" "$work/whole.out" && echo "  whole-entry round trip: identical pack"
for k in lz4 rle; do
  set -- $(measure "$exe" -d "$work/$k.packz" "$work/$k.out")
  echo "tiled $k: morvane ${1}s (peak RSS ${2} KiB), bare $(bare untiled "$work/$k.packz")s"
done

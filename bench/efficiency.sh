#!/bin/sh
# SPDX-License-Identifier: MIT
# How well morvane and morvane-tool use the cores of a shared machine:
# bench/efficiency.sh CORPUS_DIR [ROUNDS]
#
# For -c and -d, whole-entry and tiled LZ4, and export of the real-image
# corpus pack in a shuffled order, the efficiency is
#   (one-thread wall / default-thread wall) / (loop speed-up),
# where the loop speed-up is what this machine gives two independent copies
# of a CPU-bound loop (2 x one copy's wall / the wall of two side by side),
# measured in the same rounds: on shared vCPUs it is anywhere from 1 to 2.
# Every figure is the median of ROUNDS (default 5) interleaved rounds. Also:
# the CPU the threads add (user + system over one thread's), peak RSS at
# MORVANE_THREADS=16 on a pack of 8 entries of 2048 x 2047 x 4 bytes, the
# pipeline model's speed-ups (pack_baseline entries) and the PNG settings
# (png_settings), and -d's wall against cp writing the same output bytes
# (the -d output of each pack, copied to a new file in the same rounds).
# CORPUS_DIR holds manifest.json and raw/ (a corpus of real
# images, as bench/pack_bench.sh takes).
set -eu
[ $# -ge 1 ] || { echo "usage: sh bench/efficiency.sh CORPUS_DIR [ROUNDS]" >&2; exit 2; }
corpus=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."
rounds=${2:-5}
[ -f "$corpus/manifest.json" ] || { echo "efficiency.sh: no manifest.json in $corpus"; exit 2; }
sh scripts/setup.sh libbenchmark-dev
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
cmake --build build-bench -j 2 --target morvane morvane-tool pack_baseline png_settings >/dev/null
exe=$(pwd)/build-bench/morvane
tool=$(pwd)/build-bench/morvane-tool
# On a memory file system where there is one: the output's sync is no part
# of what threads speed up.
if [ -d /dev/shm ]; then work=$(mktemp -d -p /dev/shm); else work=$(mktemp -d); fi
trap 'rm -rf "$work"' EXIT

python3 bench/corpus_pack.py "$corpus" "$work/whole.pack" --shuffle 1 >/dev/null
python3 bench/corpus_pack.py "$corpus" "$work/lz4.pack" --shuffle 1 --tiled 2 >/dev/null
python3 bench/corpus_pack.py "$corpus" "$work/mosaic.pack" --mosaic 8 >/dev/null
MORVANE_THREADS=1 "$exe" -c "$work/whole.pack" "$work/whole.packz" >/dev/null
MORVANE_THREADS=1 "$exe" -c "$work/lz4.pack" "$work/lz4.packz" >/dev/null
# What -d writes, for cp to write again.
MORVANE_THREADS=1 "$exe" -d "$work/whole.packz" "$work/whole.raw" >/dev/null
MORVANE_THREADS=1 "$exe" -d "$work/lz4.packz" "$work/lz4.raw" >/dev/null
cpus=$(nproc)
echo "machine: $cpus processors; $(uptime | sed 's/.*load/load/')"

# A CPU-bound loop of about a second.
loop() { awk 'BEGIN { for (i = 0; i < 12000000; i++) s += i % 7; print s }' >/dev/null; }
now() { date +%s.%N; }
# wall seconds of "$@"
wall() {
  t0=$(now)
  "$@"
  python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.3f}')" "$t0" "$(now)"
}
two_loops() { loop & loop & wait; }
# wall and CPU seconds (user + system) of a run with MORVANE_THREADS=$1 ("":
# the default count)
# The wall in nanoseconds from date, not time's 10 ms steps: a -d or cp of
# the corpus takes a few tens of milliseconds.
run() {
  t=$1
  shift
  # $1: the workload, its command told (and its last output removed) first
  c=$(command "$1")
  t0=$(date +%s%N)
  if [ -n "$t" ]; then
    env MORVANE_THREADS="$t" /usr/bin/time -f "%U %S" -o "$work/time" $c >/dev/null 2>&1
  else
    env -u MORVANE_THREADS /usr/bin/time -f "%U %S" -o "$work/time" $c >/dev/null 2>&1
  fi
  t1=$(date +%s%N)
  awk -v ns=$((t1 - t0)) '{printf "%.4f %.2f\n", ns / 1e9, $1 + $2}' "$work/time"
}
# The command of a workload.
command() {
  case $1 in
    c_whole) echo "$exe -c $work/whole.pack $work/out.pack" ;;
    c_lz4) echo "$exe -c $work/lz4.pack $work/out.pack" ;;
    # A new output, as cp writes one: freeing the last run's is no part of it.
    d_whole) rm -f "$work/out.pack"; echo "$exe -d $work/whole.packz $work/out.pack" ;;
    d_lz4) rm -f "$work/out.pack"; echo "$exe -d $work/lz4.packz $work/out.pack" ;;
    export_pack) rm -rf "$work/out"; echo "$tool export $work/whole.pack $work/out" ;;
    cp_whole) rm -f "$work/out.pack"; echo "cp $work/whole.raw $work/out.pack" ;;
    cp_lz4) rm -f "$work/out.pack"; echo "cp $work/lz4.raw $work/out.pack" ;;
  esac
}

# Same bytes and lines on one thread and the default count.
for w in c_whole c_lz4 d_whole d_lz4 export_pack; do
  MORVANE_THREADS=1 $(command $w) >"$work/one.txt" 2>&1
  mv "$work/out" "$work/one" 2>/dev/null || mv "$work/out.pack" "$work/one"
  env -u MORVANE_THREADS $(command $w) >"$work/all.txt" 2>&1
  [ -d "$work/one" ] || mv "$work/out.pack" "$work/out"
  diff -r "$work/one" "$work/out" >/dev/null && cmp -s "$work/one.txt" "$work/all.txt" ||
    { echo "$w: threads changed the output"; exit 1; }
  rm -rf "$work/one" "$work/out" "$work/out.pack"
done

: >"$work/figures"
for r in $(seq "$rounds"); do
  echo "loop1 $(wall loop)" >>"$work/figures"
  echo "loop2 $(wall two_loops)" >>"$work/figures"
  for w in c_whole c_lz4 d_whole d_lz4 export_pack; do
    # One thread first in odd rounds, the default count first in even ones.
    if [ $((r % 2)) -eq 1 ]; then
      echo "$w 1 $(run 1 $w)" >>"$work/figures"
      echo "$w D $(run "" $w)" >>"$work/figures"
    else
      echo "$w D $(run "" $w)" >>"$work/figures"
      echo "$w 1 $(run 1 $w)" >>"$work/figures"
    fi
  done
  for w in cp_whole cp_lz4; do echo "$w 1 $(run 1 $w)" >>"$work/figures"; done
  echo "round $r of $rounds done" >&2
done

python3 - "$work/figures" "$cpus" <<'PY'
import statistics as st, sys
rows = [l.split() for l in open(sys.argv[1])]
med = lambda key, col: st.median(float(r[col]) for r in rows if r[:len(key)] == key)
l1, l2 = med(["loop1"], 1), med(["loop2"], 1)
loop = 2 * l1 / l2
print(f"CPU-bound loop: one copy {l1:.2f} s, two side by side {l2:.2f} s: loop speed-up {loop:.2f}")
names = {"c_whole": "-c whole-entry", "c_lz4": "-c tiled LZ4", "d_whole": "-d whole-entry", "d_lz4": "-d tiled LZ4",
         "export_pack": "export"}
for w, name in names.items():
    w1, wd = med([w, "1"], 2), med([w, "D"], 2)
    c1, cd = med([w, "1"], 3), med([w, "D"], 3)
    print(f"{name:15s} 1 thread {w1:6.2f} s (CPU {c1:6.2f}), {sys.argv[2]} threads {wd:6.2f} s (CPU {cd:6.2f}): "
          f"speed-up {w1 / wd:.2f}, efficiency {w1 / wd / loop:.2f}, thread CPU overhead {100 * (cd / c1 - 1):+.1f} %")
for k, name in (("whole", "whole-entry"), ("lz4", "tiled LZ4")):
    cp = med([f"cp_{k}", "1"], 2)
    d1, dd = med([f"d_{k}", "1"], 2), med([f"d_{k}", "D"], 2)
    print(f"-d {name:11s} against cp of its output ({cp:.3f} s): {sys.argv[2]} threads {dd / cp:.2f} x, "
          f"1 thread {d1 / cp:.2f} x")
PY

echo "== peak RSS, 8 entries of 2048 x 2047 x 4 bytes"
MORVANE_THREADS=1 "$exe" -c "$work/mosaic.pack" "$work/mosaic.packz" >/dev/null
for t in 1 2 16; do
  for cmd in -c -d; do
    in=$work/mosaic.pack
    [ "$cmd" = -d ] && in=$work/mosaic.packz
    env MORVANE_THREADS=$t /usr/bin/time -v -o "$work/time" "$exe" $cmd "$in" "$work/rss.out" >/dev/null
    echo "morvane $cmd, MORVANE_THREADS=$t: $(grep 'Maximum resident' "$work/time" | awk '{print $NF}') KiB"
  done
done

echo "== the pipeline model (pack_baseline entries), one thread's CPU per entry"
for k in whole lz4; do
  echo " $k:"
  build-bench/bench/pack_baseline entries "$work/$k.pack" | sed 's/^/  /'
done
echo "== PNG settings for export"
build-bench/bench/png_settings "$work/whole.pack"
echo "machine after: $(uptime | sed 's/.*load/load/')"

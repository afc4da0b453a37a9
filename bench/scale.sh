#!/bin/sh
# SPDX-License-Identifier: MIT
# Time and memory against the entry count: bench/scale.sh CORPUS_DIR [COUNTS]
#
# Builds packs of the corpus' small real images repeated (bench/corpus_pack.py
# --count), 1,000 and 65,535 entries by default (COUNTS: counts separated by
# spaces), and runs every command on each at the default thread count: morvane
# -i, -c and -d, and morvane-tool info, info --json, verify, export, create
# (from export's folder), embed, report and repack. Prints, per command and
# count, the microseconds per entry (wall) and the peak RSS
# (/usr/bin/time -f %M), and per command the ratio of its microseconds per
# entry at the largest count to the smallest's. Work files go to /dev/shm
# where there is one. SCALE_BUILD=FOLDER runs the executables of that build
# folder instead of a Release build of its own.
set -eu
[ $# -ge 1 ] || { echo "usage: sh bench/scale.sh CORPUS_DIR [COUNTS]" >&2; exit 2; }
corpus=$(cd "$1" && pwd)
counts=${2:-1000 65535}
cd "$(dirname "$0")/.."
[ -f "$corpus/manifest.json" ] || { echo "scale.sh: no manifest.json in $corpus"; exit 2; }
# SCALE_BUILD: a build folder whose executables to run as they are.
build=${SCALE_BUILD:-}
if [ -z "$build" ]; then
  build=build-bench
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-bench -j 2 --target morvane morvane-tool >/dev/null
fi
exe=$(cd "$build" && pwd)/morvane
tool=$(cd "$build" && pwd)/morvane-tool
if [ -d /dev/shm ]; then work=$(mktemp -d -p /dev/shm); else work=$(mktemp -d); fi
trap 'rm -rf "$work"' EXIT

# "<command> <count> <microseconds> <KiB>" lines for the figures.
: >"$work/figures"
# measure NAME COUNT COMMAND...: runs it, its standard output dropped.
measure() {
  name=$1 n=$2
  shift 2
  # The wall in microseconds from date: time's own is in 10 ms steps.
  t0=$(date +%s%N)
  env -u MORVANE_THREADS /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
    { echo "$name on $n entries failed:"; cat "$work/err"; exit 1; }
  t1=$(date +%s%N)
  echo "$name $n $(((t1 - t0) / 1000)) $(cat "$work/time")" >>"$work/figures"
}
for n in $counts; do
  p=$work/p$n
  python3 bench/corpus_pack.py "$corpus" "$p.pack" --count "$n" >/dev/null
  rm -f "$p.pack.pixels"
  measure "morvane -i" "$n" "$exe" -i "$p.pack" "$p.i"
  measure "morvane -c" "$n" "$exe" -c "$p.pack" "$p.packz"
  measure "morvane -d" "$n" "$exe" -d "$p.packz" "$p.d"
  measure "info" "$n" "$tool" info "$p.pack"
  measure "info --json" "$n" "$tool" info --json "$p.pack"
  measure "verify" "$n" "$tool" verify "$p.packz"
  measure "export" "$n" "$tool" export "$p.pack" "$p.out"
  measure "create" "$n" "$tool" create "$p.out/manifest.json" "$p.created"
  measure "embed" "$n" "$tool" embed "$p.pack" "$p.embed"
  measure "report" "$n" "$tool" report "$p.packz" "$p.html"
  measure "repack" "$n" "$tool" repack "$p.packz" "$p.repacked"
  rm -rf "$p".*
  echo "$n entries done" >&2
done

python3 - "$work/figures" <<'PY'
import sys
rows = [l.rsplit(" ", 3) for l in open(sys.argv[1]).read().splitlines()]
counts = sorted({int(r[1]) for r in rows})
names = list(dict.fromkeys(r[0] for r in rows))
fig = {(r[0], int(r[1])): (float(r[2]) / int(r[1]), int(r[3]) / 1024) for r in rows}
head = "".join(f" | {n:>7,} entries: us/entry, MiB" for n in counts)
print(f"{'command':12s}{head} | us/entry ratio")
for name in names:
    cells = "".join(f" | {fig[name, n][0]:20.1f} {fig[name, n][1]:7.1f}" for n in counts)
    print(f"{name:12s}{cells} | {fig[name, counts[-1]][0] / fig[name, counts[0]][0]:.2f}")
PY

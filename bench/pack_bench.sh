#!/bin/sh
# SPDX-License-Identifier: MIT
# Times morvane on a pack of real images against the bare codec work and the
# lz4 command, and compression on one thread against every core, in one run.
usage() {
  cat <<'EOF'
usage: sh bench/pack_bench.sh FOLDER
FOLDER is a folder of PNG and JPEG files (a manifest is made on the fly and
the packs are built by morvane-tool create: PNGs with alpha become argb8888
entries (type 11), greyscale ones a8 (30), the others rgb565 (1); JPEG files
are copied as type 38), or a corpus folder (manifest.json and raw/, packed by
bench/corpus_pack.py). Prints whole-pack compression and decompression times
against the bare codecs and the lz4 command, and one thread against every core.
EOF
}
set -eu
[ $# -eq 1 ] || { usage >&2; exit 2; }
corpus=$1
[ -d "$corpus" ] || { echo "pack_bench.sh: $corpus is not a folder" >&2; exit 2; }
case "$corpus" in /*) ;; *) corpus=$(pwd)/$corpus ;; esac
cd "$(dirname "$0")/.."
sh scripts/setup.sh libbenchmark-dev
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)" --target morvane morvane-tool pack_baseline >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
exe=build-bench/morvane
base=build-bench/bench/pack_baseline

if [ -f "$corpus/manifest.json" ] && [ -d "$corpus/raw" ]; then
  python3 bench/corpus_pack.py "$corpus" "$work/whole.pack"
  python3 bench/corpus_pack.py "$corpus" "$work/lz4.pack" --tiled 2
  python3 bench/corpus_pack.py "$corpus" "$work/rle.pack" --tiled 1
else
  # A manifest per mode for the folder's pictures, then the packs, and the
  # image payloads of the whole-entry pack for the lz4 command.
  python3 - "$corpus" "$work" <<'PY'
import json, os, struct, sys
folder, work = sys.argv[1], sys.argv[2]
MAX_LEN = 0xFFFFFF - 8  # the 24-bit len, less the EntryRect and a TileHint
def png_info(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    w, h, depth, colour = struct.unpack_from(">IIBB", data, 16)
    alpha, pos = colour in (4, 6), 8
    while pos + 8 <= len(data):
        n, kind = struct.unpack_from(">I4s", data, pos)
        if kind == b"tRNS":
            alpha = True
        if kind == b"IDAT":
            break
        pos += 12 + n
    if alpha:
        return w, h, 11, 4
    return (w, h, 30, 1) if colour == 0 else (w, h, 1, 2)
entries, names = [], set()
for i, f in enumerate(sorted(os.listdir(folder))):
    path = os.path.join(folder, f)
    stem, ext = os.path.splitext(f)
    if ext.lower() == ".png":
        info = png_info(path)
        if info is None or info[0] * info[1] * info[3] > MAX_LEN:
            print(f"skipped {f}: not a PNG or too large for a pack entry")
            continue
        entry = {"type": info[2]}
    elif ext.lower() in (".jpg", ".jpeg"):
        if os.path.getsize(path) > MAX_LEN:
            print(f"skipped {f}: too large for a pack entry")
            continue
        entry = {"type": 38}
    else:
        continue
    name = stem.encode()[:8].decode(errors="ignore")
    if not name or name in names:
        name = f"e{i:05d}"
    names.add(name)
    entries.append({"name": name, "type": entry["type"], "file": os.path.abspath(path)})
if not entries:
    sys.exit(f"no PNG or JPEG files in {folder}")
for mode, tiled, codec in (("whole", False, None), ("lz4", True, "lz4"), ("rle", True, "rle")):
    m = {"tiled": tiled, "entries": entries}
    if codec:
        m["codec"] = codec
    json.dump(m, open(f"{work}/{mode}.json", "w"), indent=1)
print(f"{len(entries)} pictures from {folder}")
PY
  for mode in whole lz4 rle; do build-bench/morvane-tool create "$work/$mode.json" "$work/$mode.pack"; done
  python3 - "$work/whole.pack" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
out = bytearray()
for i in range(struct.unpack_from("<H", data, 4)[0]):
    off, lo, typ, _, hi = struct.unpack_from("<IHB8sB", data, 16 + 16 * i)
    if typ != 38:
        out += data[off + 4: off + lo + 65536 * hi]
open(sys.argv[1] + ".pixels", "wb").write(out)
PY
fi

# wall seconds, CPU seconds (user + sys) and peak RSS (KiB) of a command, run
# with MORVANE_THREADS set to $1 ("" leaves it unset: the default count)
measure() {
  t=$1
  shift
  if [ -n "$t" ]; then
    env MORVANE_THREADS="$t" /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null
  else
    env -u MORVANE_THREADS /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null
  fi
  awk '{printf "%s %.2f %s\n", $1, $2 + $3, $4}' "$work/time"
}
ratio() { python3 -c "import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print(f'{a/b:.2f}' if b else 'n/a')" "$1" "$2"; }
bare() { "$base" "$@" | sed -E 's/.*: ([0-9.]+) s.*/\1/'; }
cpus=$(nproc)

# morvane -c on one thread, two, and the default count (every processor the
# process may run on); every count must write the one-thread bytes.
threads() {
  label=$1 pack=$2
  set -- $(measure 1 "$exe" -c "$pack" "$work/one.packz")
  one_t=$1 one_c=$2 one_r=$3
  set -- $(measure 2 "$exe" -c "$pack" "$work/two.packz")
  two_t=$1 two_c=$2 two_r=$3
  set -- $(measure "" "$exe" -c "$pack" "$work/all.packz")
  all_t=$1 all_c=$2 all_r=$3
  cmp "$work/one.packz" "$work/two.packz" && cmp "$work/one.packz" "$work/all.packz"
  echo "$label: 1 thread ${one_t}s (CPU ${one_c}s, peak RSS ${one_r} KiB)," \
       "2 threads ${two_t}s (CPU ${two_c}s, ${two_r} KiB)," \
       "default $cpus ${all_t}s (CPU ${all_c}s, ${all_r} KiB);" \
       "default/1: wall $(ratio "$all_t" "$one_t"), CPU $(ratio "$all_c" "$one_c"); same bytes"
}

echo "== compress"
set -- $(measure "" "$exe" -c "$work/whole.pack" "$work/whole.packz")
w_t=$1; w_rss=$3; w_bare=$(bare whole "$work/whole.pack")
set -- $(measure "" lz4 -12 -q -f "$work/whole.pack.pixels" "$work/pixels.lz4")
l_t=$1; l_c=$2
echo "whole-entry: morvane ${w_t}s (peak RSS ${w_rss} KiB), bare HC ${w_bare}s, lz4 -12 ${l_t}s (CPU ${l_c}s);" \
     "morvane/bare $(ratio "$w_t" "$w_bare"), morvane/lz4 $(ratio "$w_t" "$l_t")"
set -- $(measure "" "$exe" -c "$work/lz4.pack" "$work/lz4.packz")
t_t=$1; t_rss=$3; t_bare=$(bare tiled 2 "$work/lz4.pack")
echo "tiled LZ4:   morvane ${t_t}s (peak RSS ${t_rss} KiB), bare per-tile HC ${t_bare}s; morvane/bare $(ratio "$t_t" "$t_bare")"
set -- $(measure "" "$exe" -c "$work/rle.pack" "$work/rle.packz")
r_t=$1; r_rss=$3; r_bare=$(bare tiled 1 "$work/rle.pack")
set -- $(measure "" cp "$work/rle.pack" "$work/copy.pack")
c_t=$1
echo "tiled RLE:   morvane ${r_t}s (peak RSS ${r_rss} KiB), bare per-tile run-length ${r_bare}s, copy ${c_t}s;" \
     "morvane/(bare+copy) $(ratio "$r_t" "$(python3 -c "print($r_bare+$c_t)")")"
ls -l "$work"/*.packz "$work/pixels.lz4" | awk '{print "  " $5 " " $9}'

echo "== compress on every core ($cpus here)"
threads "whole-entry" "$work/whole.pack"
threads "tiled LZ4  " "$work/lz4.pack"
echo "lz4 -12 on the same pixel bytes: ${l_t}s (one thread)"
echo "per entry, one thread, and the modelled wall time on P threads:"
for k in whole lz4; do
  echo " $k:"
  "$base" entries "$work/$k.pack" | sed 's/^/  /'
done

echo "== decompress"
set -- $(measure "" "$exe" -d "$work/whole.packz" "$work/whole.out")
dw_t=$1; dw_rss=$3
set -- $(measure "" lz4 -d -q -f "$work/pixels.lz4" "$work/pixels.out")
dl_t=$1
echo "whole-entry: morvane ${dw_t}s (peak RSS ${dw_rss} KiB), bare $(bare unwhole "$work/whole.packz")s, lz4 -d ${dl_t}s;" \
     "morvane/lz4 $(ratio "$dw_t" "$dl_t")"
cmp "$work/whole.pack" "$work/whole.out" && echo "  whole-entry round trip: identical pack"
for k in lz4 rle; do
  set -- $(measure "" "$exe" -d "$work/$k.packz" "$work/$k.out")
  echo "tiled $k: morvane ${1}s (peak RSS ${3} KiB), bare $(bare untiled "$work/$k.packz")s"
done

echo "== embed"
# A pack of four entries of 2048 x 2047 random pixels of 4 bytes (64 MiB),
# written as C source.
python3 - "$work/big.pack" <<'PY'
import os, struct, sys
n, payload = 4, 2048 * 2047 * 4
head = b"RES\x19" + struct.pack("<H", n) + bytes(10)
# offset, len bits 0-15, type, name, len bits 16-23
table = b"".join(struct.pack("<IHB8sB", 16 + 16 * n + i * (4 + payload), (4 + payload) & 0xFFFF, 11,
                             b"big%d" % i, (4 + payload) >> 16) for i in range(n))
with open(sys.argv[1], "wb") as f:
    f.write(head + table)
    for i in range(n):
        f.write(struct.pack("<HH", 2048, 2047) + os.urandom(payload))
PY
set -- $(measure "" build-bench/morvane-tool embed "$work/big.pack" "$work/big.c")
in_bytes=$(stat -c %s "$work/big.pack")
mbs() { python3 -c "import sys; print(f'{int(sys.argv[1]) / float(sys.argv[2]) / 1e6:.0f}' if float(sys.argv[2]) else 'n/a')" "$@"; }
# The wall time includes writing the C to disk and syncing it (the output is
# committed as every output is); the CPU time is the tool's own work.
echo "embed: $in_bytes bytes of pack to $(stat -c %s "$work/big.c") bytes of C in ${1}s, CPU ${2}s" \
     "(peak RSS ${3} KiB): $(mbs "$in_bytes" "$1") MB/s of pack, $(mbs "$in_bytes" "$2") MB/s of CPU"

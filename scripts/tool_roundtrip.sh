#!/bin/sh
# SPDX-License-Identifier: MIT
# Round trips through morvane-tool, in whole-entry mode and in tiled mode with
# each codec (rle, lz4, stored):
#   create -> morvane -c -> morvane-tool verify --against
#          -> export --formats (the manifest of the first create) -> create
# must give back the same raw pack entries (names, types, rectangles, pixels),
# and that export must take every format from the manifest (no line saying a
# format was assumed).
#
#   scripts/tool_roundtrip.sh [PACK_OR_CORPUS...]
#
# Each argument is a pack (raw or compressed) or a corpus folder (manifest.json
# + raw/, made into a pack by bench/corpus_pack.py); without one, the sample
# packs. The pictures come from exporting it. MORVANE_BUILD names the build
# folder (default build); it is built when it lacks the executables.
set -eu
cd "$(dirname "$0")/.."
build=${MORVANE_BUILD:-build}
if [ ! -x "$build/morvane" ] || [ ! -x "$build/morvane-tool" ]; then
  cmake -S . -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j "$(nproc)" --target morvane morvane-tool >/dev/null
fi
morvane=$build/morvane
tool=$build/morvane-tool
[ $# -gt 0 ] || set -- samples/demo.pack samples/demo_tiled.pack
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Same entries: names, types, rectangles and pixels (a tiled source's
# TileHint aside). Tiled compression copies 4 bytes more than a JPEG payload
# (the bytes after it in the file), so there a JPEG entry may come back with
# those 4 bytes after the original ones.
same_entries() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
def entries(path):
    data = open(path, "rb").read()
    count, tiled = struct.unpack_from("<H", data, 4)[0], data[13]
    out = []
    for i in range(count):
        off, lo, typ, name, hi = struct.unpack_from("<IHB8sB", data, 16 + 16 * i)
        n = lo + 65536 * hi - 4
        w, h = struct.unpack_from("<HH", data, off)
        payload = data[off + 4: off + 4 + n]
        if tiled and typ != 38:
            payload = payload[4:]
        out.append((name, typ, w, h, payload))
    return out, tiled
(a, tiled), (b, _) = entries(sys.argv[1]), entries(sys.argv[2])
bad = 0
if len(a) != len(b):
    print(f"entry counts differ: {len(a)} and {len(b)}"); sys.exit(1)
for x, y in zip(a, b):
    same = x[:4] == y[:4] and (x[4] == y[4] or (tiled and x[1] == 38 and y[4][:len(x[4])] == x[4]
                                                and len(y[4]) - len(x[4]) <= 4))
    if not same:
        bad += 1
        print(f"  {x[0].rstrip(bytes(1))!r}: differs (type {x[1]} -> {y[1]}, {x[2]}x{x[3]} -> {y[2]}x{y[3]})")
sys.exit(1 if bad else 0)
PY
}

# The manifest with another tiled flag and codec.
variant() {
  python3 - "$1" "$2" "$3" <<'PY'
import json, sys
m = json.load(open(sys.argv[1]))
m["tiled"] = sys.argv[3] != "whole"
m.pop("codec", None)
if m["tiled"]:
    m["codec"] = sys.argv[3]
json.dump(m, open(sys.argv[2], "w"), indent=1)
PY
}

failed=0
checked_png=""
for input in "$@"; do
  name=$(basename "$input")
  dir=$work/$name
  mkdir -p "$dir"
  src=$input
  if [ -d "$input" ]; then
    src=$dir/corpus.pack
    python3 bench/corpus_pack.py "$input" "$src" >/dev/null
  fi
  # The input's formats are not known: export says so on stderr.
  "$tool" export "$src" "$dir/pics" >/dev/null 2>"$dir/export.err" || { cat "$dir/export.err"; exit 1; }
  if [ -z "$checked_png" ]; then
    # A second decoder: the PNG files must open elsewhere too.
    checked_png=$(ls "$dir"/pics/*.png | head -n 1)
    pngcheck -q "$checked_png" || { echo "pngcheck rejects $checked_png"; failed=1; }
  fi
  for mode in whole rle lz4 stored; do
    m=$dir/pics/manifest-$mode.json
    variant "$dir/pics/manifest.json" "$m" "$mode"
    raw=$dir/$mode.pack
    rm -f "$dir/err"
    step="create"
    if "$tool" create "$m" "$raw" >/dev/null &&
       { step="morvane -c"; "$morvane" -c "$raw" "$raw.z" >/dev/null; } &&
       { step="verify --against"; "$tool" verify "$raw.z" --against "$raw" >/dev/null; } &&
       { step="export --formats"; "$tool" export --formats "$m" "$raw.z" "$dir/$mode.out" >/dev/null 2>"$dir/err" &&
         [ ! -s "$dir/err" ]; } &&
       { step="create again"; "$tool" create "$dir/$mode.out/manifest.json" "$raw.again" >/dev/null; } &&
       { step="compare"; same_entries "$raw" "$raw.again"; }; then
      echo "$name $mode: same entries ($(wc -c <"$raw") -> $(wc -c <"$raw.z") bytes)"
    else
      echo "$name $mode: FAILED at $step"
      if [ -s "$dir/err" ]; then cat "$dir/err"; fi
      failed=1
    fi
  done
done
exit $failed

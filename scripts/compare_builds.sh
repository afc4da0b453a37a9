#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs two builds of morvane and morvane-tool over the same packs and
# compares everything they leave: every output file (the PIC16 dump too) and
# the standard output, standard error and exit status of every run.
#
#   scripts/compare_builds.sh REF_DIR NEW_DIR PACK...
#
# REF_DIR and NEW_DIR each hold a `morvane` and a `morvane-tool` (a build
# folder will do). For each PACK, in a folder of its own per build and with
# the same relative names, so that the printed paths agree:
#   morvane -c, -d of that output, -i of the pack and of the output, -c of the
#   output again, -d of the pack itself;
#   morvane-tool info and info --json of the pack and of the output, verify
#   of the output (alone and --against the pack), export of the pack and of
#   the output, create from each export's manifest.
# A PACK that does not exist or is no pack is compared all the same (the
# refusals). Exit status 0 when every folder is the same to the byte.
set -eu
if [ $# -lt 3 ]; then
  echo "usage: $0 REF_DIR NEW_DIR PACK..." >&2
  exit 2
fi
ref=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
shift 2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# run NAME CMD...: in the current folder, CMD's standard output, standard
# error and exit status into log/NAME.out, .err and .status.
run() {
  name=$1
  shift
  set +e
  "$@" >"log/$name.out" 2>"log/$name.err"
  echo $? >"log/$name.status"
  set -e
}

# all_runs BUILD_DIR PACK: every run above, in the current folder.
all_runs() {
  m="$1/morvane"
  t="$1/morvane-tool"
  if [ -e "$2" ]; then ln "$2" in.pack 2>/dev/null || cp "$2" in.pack; fi
  run c "$m" -c in.pack c.pack
  run d "$m" -d c.pack d.pack
  run i "$m" -i in.pack i.txt
  run ic "$m" -i c.pack ic.txt
  run cc "$m" -c c.pack cc.pack
  run dr "$m" -d in.pack dr.pack
  run info "$t" info in.pack
  run info_json "$t" info --json in.pack
  run info_c "$t" info c.pack
  run info_c_json "$t" info --json c.pack
  run verify "$t" verify c.pack
  run verify_against "$t" verify c.pack --against in.pack
  run export "$t" export in.pack exp
  run export_c "$t" export c.pack exp_c
  run create "$t" create exp/manifest.json created.pack
  run create_c "$t" create exp_c/manifest.json created_c.pack
  # The input is the caller's file, not a result.
  rm -f in.pack
}

status=0
n=0
for pack in "$@"; do
  n=$((n + 1))
  for build in ref new; do
    dir="$tmp/$build/$n"
    mkdir -p "$dir/log"
    case $pack in /*) abs=$pack ;; *) abs=$(pwd)/$pack ;; esac
    eval "bin=\$$build"
    (cd "$dir" && all_runs "$bin" "$abs")
  done
  files=$(find "$tmp/ref/$n" -type f | wc -l)
  if diff -r "$tmp/ref/$n" "$tmp/new/$n" >"$tmp/diff" 2>&1; then
    echo "same: $pack ($files files)"
  else
    echo "DIFFERENT: $pack"
    head -40 "$tmp/diff"
    status=1
  fi
  rm -rf "$tmp/ref/$n" "$tmp/new/$n"
done
exit $status

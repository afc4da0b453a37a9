#!/bin/sh
# SPDX-License-Identifier: MIT
# Prints the folder of lz4.c and lz4.h from Debian's lz4 source package (the
# version of the installed liblz4-dev), for device builds
# (-DMORVANE_LZ4_SOURCE=...). The sources are kept in
#   ${MORVANE_CACHE:-$HOME/.cache/morvane}/lz4-src-<version>
# so a checkout anywhere on the machine finds them. Adds the archive's source
# lists when apt has none (scripts/deb_src.sh; Debian, as root).
set -eu
version=$(dpkg-query -W -f '${source:Version}\n' liblz4-dev | head -n 1)
dir=${MORVANE_CACHE:-$HOME/.cache/morvane}/lz4-src-$(echo "$version" | tr ':~+' '.._')
if [ ! -f "$dir/complete" ]; then
  sh "$(dirname "$0")/deb_src.sh"
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$dir" && apt-get source -qq --download-only "lz4=$version" >/dev/null 2>&1 &&
    dpkg-source -x --no-check ./*.dsc src >/dev/null 2>&1)
  [ -f "$dir/src/lib/lz4.c" ] || { echo "lz4_source: no lz4.c in Debian's lz4 $version" >&2; exit 1; }
  touch "$dir/complete"
fi
echo "$dir/src/lib"

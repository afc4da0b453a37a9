#!/bin/sh
# SPDX-License-Identifier: MIT
# Prints the folder of lz4.c and lz4.h from Debian's lz4 source package (the
# version of the installed liblz4-dev), for device builds
# (-DMORVANE_LZ4_SOURCE=...). The sources are kept in
#   ${MORVANE_CACHE:-$HOME/.cache/morvane}/lz4-src-<version>
# so a checkout anywhere on the machine finds them. Adds the archive's source
# lists when apt has none, as scripts/windows_test.sh does (Debian, as root).
set -eu
version=$(dpkg-query -W -f '${source:Version}\n' liblz4-dev | head -n 1)
dir=${MORVANE_CACHE:-$HOME/.cache/morvane}/lz4-src-$(echo "$version" | tr ':~+' '.._')
if [ ! -f "$dir/complete" ]; then
  if ! apt-get source --print-uris -qq lz4 >/dev/null 2>&1; then
    uris=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    suites=$(sed -n 's/^Suites: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    cat >/etc/apt/sources.list.d/morvane-deb-src.sources <<SRC
Types: deb-src
URIs: ${uris:-http://deb.debian.org/debian}
Suites: ${suites:-bookworm}
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    for try in 1 2 3; do apt-get update -qq && break; sleep 10; done || true
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$dir" && apt-get source -qq --download-only "lz4=$version" >/dev/null 2>&1 &&
    dpkg-source -x --no-check ./*.dsc src >/dev/null 2>&1)
  [ -f "$dir/src/lib/lz4.c" ] || { echo "lz4_source: no lz4.c in Debian's lz4 $version" >&2; exit 1; }
  touch "$dir/complete"
fi
echo "$dir/src/lib"

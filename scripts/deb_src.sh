#!/bin/sh
# SPDX-License-Identifier: MIT
# Adds the archive's source lists beside its binary ones when apt has none,
# so that `apt-get source` works (Debian, as root).
set -eu
apt-get source --print-uris -qq lz4 >/dev/null 2>&1 && exit 0
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

#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs what the build and the tests need, when it is missing (Debian, as root);
# chromium opens the pages of morvane-tool report in the tests.
set -eu
need=""
for pkg in g++ clang libclang-rt-14-dev cmake ninja-build pkg-config liblz4-dev libgtest-dev lz4 \
  dpkg-dev file groff-base man-db lintian \
  libspng-dev libcli11-dev nlohmann-json3-dev libturbojpeg0-dev pngcheck \
  chromium "$@"; do
  # dpkg -s refuses a package installed for more than one architecture.
  dpkg-query -W -f '${db:Status-Status}\n' "$pkg" 2>/dev/null | grep -qx installed || need="$need $pkg"
done
if [ -n "$need" ]; then
  echo "installing:$need"
  # A mirror in mid-sync fails an index now and then: retry, then go on with
  # the lists there are.
  for try in 1 2 3; do apt-get update -qq && break; sleep 10; done || true
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
fi

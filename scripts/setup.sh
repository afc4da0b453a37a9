#!/bin/sh
# Installs what the build and the tests need, when it is missing (Debian, as root).
set -eu
need=""
for pkg in g++ clang libclang-rt-14-dev cmake ninja-build pkg-config liblz4-dev libgtest-dev lz4 \
    libspng-dev libcli11-dev nlohmann-json3-dev libturbojpeg0-dev pngcheck "$@"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need="$need $pkg"
done
if [ -n "$need" ]; then
  echo "installing:$need"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
fi

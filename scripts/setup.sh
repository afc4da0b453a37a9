#!/bin/sh
# Installs what the build and the tests need, when it is missing (Debian, as root).
set -eu
need=""
for pkg in g++ clang libclang-rt-14-dev cmake ninja-build pkg-config liblz4-dev libgtest-dev lz4 "$@"; do
  # With a second architecture installed (scripts/cross_test.sh), a bare
  # name may be ambiguous: the host's own instance counts.
  dpkg -s "$pkg" >/dev/null 2>&1 || dpkg -s "$pkg:$(dpkg --print-architecture)" >/dev/null 2>&1 ||
    need="$need $pkg"
done
if [ -n "$need" ]; then
  echo "installing:$need"
  # A mirror caught mid-sync fails one index now and then; the others do.
  apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
fi

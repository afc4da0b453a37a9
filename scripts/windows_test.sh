#!/bin/sh
# The Windows port, cross-built with MinGW-w64 and run under Wine:
#  1. builds lz4, libspng and libjpeg-turbo (from Debian's source packages)
#     and GoogleTest (from /usr/src/googletest) for 64-bit Windows into a
#     prefix kept between runs (see "Cache" below);
#  2. builds morvane.exe, morvane-tool.exe and the tests into build-win/;
#  3. runs each test binary once under Wine (one wineserver kept alive for
#     the stage: starting Wine per test case would take minutes);
#  4. runs morvane -c/-d/-i and morvane-tool info/export/create/verify on
#     the sample packs with both builds and compares the output files and
#     standard output byte for byte with the Linux build's (build/).
# Installs what it needs when it is missing (Debian, as root).
#
# Cache: the cross-built libraries live in
#   ${MORVANE_CACHE:-$HOME/.cache/morvane}/mingw-<versions>
# keyed by the source versions of lz4, libspng, libjpeg-turbo, GoogleTest and
# the MinGW-w64 compiler, so a checkout anywhere on the machine (CI's fresh
# clone too) finds it; a new version of any of them builds a new prefix. The
# Wine prefix is kept beside it. Delete the folder to start cold.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)
jobs=${MORVANE_JOBS:-2}

# ---- What it needs ---------------------------------------------------------
# The posix thread model: the win32 one has no std::thread.
sh scripts/setup.sh g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev nasm meson googletest dpkg-dev
# apt-get source needs the archive's source lists, beside its binary ones.
srclist=/etc/apt/sources.list.d/morvane-deb-src.sources
if ! apt-get source --print-uris -qq lz4 >/dev/null 2>&1; then
  uris=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
  suites=$(sed -n 's/^Suites: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
  cat >"$srclist" <<SRC
Types: deb-src
URIs: ${uris:-http://deb.debian.org/debian}
Suites: ${suites:-bookworm}
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  for try in 1 2 3; do apt-get update -qq && break; sleep 10; done || true
fi

# ---- The libraries, cross-built into the cache -----------------------------
# (head: a package installed for two architectures answers twice.)
srcver() { dpkg-query -W -f '${source:Version}\n' "$1" | head -n 1; }
v_lz4=$(srcver liblz4-dev)
v_spng=$(srcver libspng-dev)
v_jpeg=$(srcver libturbojpeg0-dev)
v_gtest=$(srcver googletest)
v_gcc=$(dpkg-query -W -f '${Version}\n' g++-mingw-w64-x86-64-posix | head -n 1)
key=$(echo "lz4-$v_lz4 spng-$v_spng jpeg-$v_jpeg gtest-$v_gtest gcc-$v_gcc" | tr ' :~+' '_.._')
cache=${MORVANE_CACHE:-$HOME/.cache/morvane}
prefix=$cache/mingw-$key
export MORVANE_WIN_PREFIX="$prefix"

if [ ! -f "$prefix/complete" ]; then
  echo "== cross-building the libraries into $prefix"
  work=$(mktemp -d)
  # A failed build leaves no prefix that looks finished ("complete" is
  # written last).
  trap 'rm -rf "$work"' EXIT
  rm -rf "$prefix"
  mkdir -p "$prefix"
  (
    cd "$work"
    apt-get source -qq "lz4=$v_lz4" "libspng=$v_spng" "libjpeg-turbo=$v_jpeg" >/dev/null 2>&1
    tc="-DCMAKE_TOOLCHAIN_FILE=$root/cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$prefix"
    # lz4: its CMake build, the library alone.
    # shellcheck disable=SC2086
    cmake -S lz4-*/build/cmake -B b-lz4 -G Ninja $tc -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
      -DLZ4_BUILD_CLI=OFF -DLZ4_BUILD_LEGACY_LZ4C=OFF >/dev/null
    cmake --build b-lz4 -j "$jobs" --target install >/dev/null
    # libspng: meson (its CMake cannot build it static only), zlib static.
    cat >cross.ini <<INI
[binaries]
c = 'x86_64-w64-mingw32-gcc-posix'
ar = 'x86_64-w64-mingw32-gcc-ar-posix'
strip = 'x86_64-w64-mingw32-strip'
pkg-config = 'pkg-config'
[properties]
pkg_config_libdir = '/usr/x86_64-w64-mingw32/lib/pkgconfig'
[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
INI
    meson setup b-spng libspng-*/ --cross-file cross.ini --prefix "$prefix" --libdir lib \
      --buildtype release -Ddefault_library=static -Dstatic_zlib=true -Dbuild_examples=false >/dev/null
    ninja -C b-spng -j "$jobs" install >/dev/null
    # libjpeg-turbo: CMake with nasm for its SIMD code; static only. Its
    # install folders are given whole: it reads relative ones against the
    # build folder.
    # shellcheck disable=SC2086
    cmake -S libjpeg-turbo-*/ -B b-jpeg -G Ninja $tc -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=ON \
      -DCMAKE_ASM_NASM_COMPILER=nasm -DCMAKE_INSTALL_LIBDIR="$prefix/lib" \
      -DCMAKE_INSTALL_INCLUDEDIR="$prefix/include" -Wno-dev >/dev/null
    cmake --build b-jpeg -j "$jobs" --target install >/dev/null
    # GoogleTest from Debian's sources.
    # shellcheck disable=SC2086
    cmake -S /usr/src/googletest -B b-gtest -G Ninja $tc -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
      -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build b-gtest -j "$jobs" --target install >/dev/null
    # CLI11 and nlohmann-json are header-only: their headers and CMake
    # configs, copied, so nothing of the host's /usr/include is searched.
    mkdir -p "$prefix/include" "$prefix/share/cmake"
    cp -r /usr/include/CLI /usr/include/nlohmann "$prefix/include/"
    cp -r /usr/share/cmake/CLI11 /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
  )
  rm -rf "$work"
  trap - EXIT
  touch "$prefix/complete"
fi
echo "== libraries: $(( $(date +%s) - start )) s"

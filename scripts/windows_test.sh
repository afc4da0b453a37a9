#!/bin/sh
# SPDX-License-Identifier: MIT
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
# With --libraries-only it stops after step 1 and prints the prefix's path
# (scripts/package_win.sh builds on it).
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
sh scripts/setup.sh g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev nasm meson googletest dpkg-dev python3
# apt-get source needs the archive's source lists, beside its binary ones.
sh scripts/deb_src.sh

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
if [ "${1:-}" = --libraries-only ]; then
  echo "$prefix"
  exit 0
fi
echo "== libraries: $(( $(date +%s) - start )) s"

# ---- The Windows build -----------------------------------------------------
echo "== build-win: morvane.exe, morvane-tool.exe and the tests"
cmake -S . -B build-win -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DMORVANE_WIN_PREFIX="$prefix" >/dev/null
# Every test binary: morvane_tests skips, saying why, the tests whose subject
# Windows lacks (symbolic links, permission bits, file size limits; the
# signal and full-disk tests are not built there).
win_tests=${MORVANE_WIN_TESTS:-"tile_small_buffer_tests tile_decode_only morvane_tests"}
# shellcheck disable=SC2086
cmake --build build-win -j "$jobs" --target morvane morvane-tool $win_tests
# The Linux build the outputs are compared with.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target morvane morvane-tool
echo "== builds: $(( $(date +%s) - start )) s"

# ---- Under Wine --------------------------------------------------------------
# One Wine prefix kept beside the libraries, and one wineserver for the
# whole stage: each program then starts in well under a second.
export WINEPREFIX="$cache/wine" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
mkdir -p "$WINEPREFIX"
# (A server already running for the prefix serves as well.)
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# The first start creates the prefix (about half a minute, once).
"$wine" cmd /c exit >/dev/null 2>&1 || true

# A test that fails is shown (its failure lines, not the log's tail, which
# the children's standard error crowds) and run once more on its own: Wine
# now and then loses a child process under load (its exit status then an
# exception code, or "wine client error" on its standard error). A test
# that fails twice fails the stage; one that passes the second time is
# named, so a real fault that strikes now and then is still seen.
failed_tests() { grep -a -o -E '\[  FAILED  \] [^ ]+ \([0-9]+ ms\)' "$1" | sed -E 's/^\[  FAILED  \] ([^ ]+) .*/\1/' | sort -u | paste -sd: -; }
fails=0
for t in $win_tests; do
  echo "== wine: $t"
  log=build-win/$t.log
  if "$wine" "build-win/tests/$t.exe" --gtest_brief=1 >"$log" 2>&1; then
    grep -E '^\[  (PASSED|SKIPPED) ' "$log" || tail -n 1 "$log"
    continue
  fi
  grep -a -B 2 -A 12 -E ': Failure|^\[  FAILED  \]' "$log" | head -n 80
  again=$(failed_tests "$log")
  if [ -n "$again" ] && "$wine" "build-win/tests/$t.exe" --gtest_brief=1 --gtest_filter="$again" >"$log.again" 2>&1; then
    echo "windows_test: $t: $again failed once under Wine and passed when run again (build-win/$t.log)" >&2
  else
    echo "windows_test: $t failed under Wine (build-win/$t.log)" >&2
    fails=$((fails + 1))
  fi
done

# ---- The same bytes as on Linux ----------------------------------------------
# Each build runs in a folder of its own on copies of the samples, by the same
# relative names, so standard output is comparable byte for byte.
cmp_dir=build-win/compare
rm -rf "$cmp_dir"
mkdir -p "$cmp_dir/linux" "$cmp_dir/windows"
run_all() {
  # $1: the folder, $2.. : how to start a program (empty for Linux, wine).
  dir=$1
  shift
  (
    cd "$dir"
    for pack in demo demo_tiled; do
      cp "$root/samples/$pack.pack" "$pack.pack"
      "$@" "$exe_morvane" -c "$pack.pack" "$pack.packz" >"$pack.c.out"
      "$@" "$exe_morvane" -i "$pack.packz" "$pack.packz.txt" >"$pack.i.out"
      "$@" "$exe_morvane" -d "$pack.packz" "$pack.unpacked" >"$pack.d.out"
      "$@" "$exe_tool" info "$pack.pack" >"$pack.info.out"
      "$@" "$exe_tool" info --json "$pack.packz" >"$pack.info.json"
      "$@" "$exe_tool" verify "$pack.packz" --against "$pack.pack" >"$pack.verify.out"
      "$@" "$exe_tool" export "$pack.pack" "$pack.exported" >"$pack.export.out"
      "$@" "$exe_tool" create "$pack.exported/manifest.json" "$pack.created" >"$pack.create.out"
      # In place: the input's own name is replaced.
      cp "$pack.pack" "$pack.inplace"
      "$@" "$exe_morvane" -c "$pack.inplace" "$pack.inplace" >"$pack.inplace.out"
    done
  )
}
exe_morvane=$root/build/morvane exe_tool=$root/build/morvane-tool run_all "$cmp_dir/linux"
exe_morvane=$root/build-win/morvane.exe exe_tool=$root/build-win/morvane-tool.exe run_all "$cmp_dir/windows" "$wine"
if diff -r "$cmp_dir/linux" "$cmp_dir/windows" >"$cmp_dir.diff"; then
  echo "== outputs and standard output: the same bytes ($(find "$cmp_dir/linux" -type f | wc -l) files)"
else
  head -n 40 "$cmp_dir.diff"
  echo "windows_test: the Windows build's outputs differ from the Linux build's ($cmp_dir.diff)" >&2
  fails=$((fails + 1))
fi
# No temporary file left anywhere.
if find "$cmp_dir/windows" -name '.*' -type f | grep .; then
  echo "windows_test: temporary files left behind" >&2
  fails=$((fails + 1))
fi

# ---- Ctrl-C --------------------------------------------------------------------
# Wine turns SIGINT into a console Ctrl-C event: the handler must remove the
# temporary output before the process ends. A pack large enough to be
# caught while it is written: 2 pictures of 1500 x 1500 pixels of noise
# (18 MB, some 15 seconds of compression on one thread). The check always
# checks: a run that ends before it is caught writing fails, never passes
# unchecked.
ctrl=build-win/ctrl_c
rm -rf "$ctrl"
mkdir -p "$ctrl"
python3 - "$ctrl" <<'PY'
import json, random, struct, sys, zlib
d = sys.argv[1]
w = h = 1500
# Bytes of four values at random: many short matches, the slow case of the
# LZ4 coder at its highest level, so the run lasts long enough to be caught.
noise = random.Random(1).randbytes(w * h * 4).translate(bytes((b & 3) * 64 for b in range(256)))
raw = b"".join(b"\0" + noise[y * w * 4:(y + 1) * w * 4] for y in range(h))
def chunk(t, b):
    return struct.pack(">I", len(b)) + t + b + struct.pack(">I", zlib.crc32(t + b) & 0xFFFFFFFF)
with open(d + "/big.png", "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 1)) + chunk(b"IEND", b""))
with open(d + "/m.json", "w") as f:
    json.dump({"entries": [{"name": "big%d" % i, "type": 11, "file": "big.png"} for i in range(2)]}, f)
PY
build/morvane-tool create "$ctrl/m.json" "$ctrl/big.pack" >/dev/null
(cd "$ctrl" && MORVANE_THREADS=1 "$wine" "$root/build-win/morvane.exe" -c big.pack big.packz >/dev/null 2>&1) &
runner=$!
# As long as the run lasts: a cold Wine prefix takes many seconds to start.
seen=""
while kill -0 "$runner" 2>/dev/null; do
  if ls "$ctrl"/.big.packz.* >/dev/null 2>&1; then seen=yes; break; fi
  sleep 0.1
done
pid=""
[ -z "$seen" ] || pid=$(pgrep -f "morvane.exe -c big.pack big.packz" | head -n 1 || true)
if [ -n "$seen" ] && [ -n "$pid" ]; then
  kill -INT "$pid"
  wait "$runner" || true
  if ls -A "$ctrl" | grep -q '^\.big\.packz\.\|^big\.packz$'; then
    ls -la "$ctrl"
    echo "windows_test: Ctrl-C left a temporary or partial output" >&2
    fails=$((fails + 1))
  else
    echo "== Ctrl-C under Wine: the temporary output removed"
  fi
else
  wait "$runner" || true
  echo "windows_test: the Ctrl-C run ended before it was caught writing its output; nothing checked" >&2
  fails=$((fails + 1))
fi

echo "windows_test: $(( $(date +%s) - start )) s"
[ "$fails" -eq 0 ]

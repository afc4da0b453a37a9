# SPDX-License-Identifier: MIT
# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain, the posix
# thread model (the win32 one has no std::thread). The libraries come from a
# prefix that scripts/windows_test.sh builds (MORVANE_WIN_PREFIX); programs
# run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT MORVANE_WIN_PREFIX AND DEFINED ENV{MORVANE_WIN_PREFIX})
  set(MORVANE_WIN_PREFIX "$ENV{MORVANE_WIN_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${MORVANE_WIN_PREFIX})
set(CMAKE_PREFIX_PATH ${MORVANE_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config answers from the prefix and the toolchain's zlib only, never the
# host's .pc files; the libraries are static, so their private dependencies
# (libspng's zlib) are linked too.
set(ENV{PKG_CONFIG_LIBDIR} "${MORVANE_WIN_PREFIX}/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --static)

# Static executables: they import only the system's own DLLs, so morvane.exe
# runs alone, without the toolchain's libstdc++/libwinpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest can run each test under Wine; scripts/windows_test.sh runs each test
# binary once instead, which is much faster.
if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()

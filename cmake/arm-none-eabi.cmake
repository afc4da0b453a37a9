# SPDX-License-Identifier: MIT
# Cross build for a bare-metal Arm Cortex-M with Debian's arm-none-eabi
# toolchain (gcc-arm-none-eabi, libnewlib-arm-none-eabi). A Generic system
# makes morvane's build device-only (cmake/device.cmake). The core is
# MORVANE_ARM_CPU (cortex-m4 unless given: cortex-m0, cortex-m0plus,
# cortex-m3, cortex-m7, ...), Thumb code, the soft-float ABI.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)

set(MORVANE_ARM_CPU cortex-m4 CACHE STRING "The Arm core to build for (-mcpu)")
# Kept for try_compile's own projects.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MORVANE_ARM_CPU)
# Put before the flags given (-DCMAKE_C_FLAGS=... adds to them rather than
# dropping the core), unless those name a core themselves.
foreach(lang C CXX ASM)
  if(NOT CMAKE_${lang}_FLAGS MATCHES "-mcpu=")
    set(CMAKE_${lang}_FLAGS "-mcpu=${MORVANE_ARM_CPU} -mthumb ${CMAKE_${lang}_FLAGS}")
  endif()
endforeach()
# Newlib's small build; the program brings its own startup code.
set(CMAKE_EXE_LINKER_FLAGS_INIT "--specs=nano.specs -nostartfiles")
# No program links without a startup file and a linker script: the
# compiler checks build a library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Nothing of the host's libraries, headers or packages.
set(CMAKE_FIND_ROOT_PATH /usr/lib/arm-none-eabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

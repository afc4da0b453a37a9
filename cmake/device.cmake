# SPDX-License-Identifier: MIT
# The device-only build: the C decoder side of the tile library (src/tile/*.c)
# and nothing else, with no host dependency; docs/firmware.md tells how a
# firmware project uses it. On by itself for a bare-metal target
# (CMAKE_SYSTEM_NAME Generic). LZ4's decoder comes from the project's `lz4`
# target, or from lz4.c in MORVANE_LZ4_SOURCE.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/morvane_add_pack.cmake)

if(CMAKE_SYSTEM_NAME STREQUAL "Generic")
  set(MORVANE_DEVICE_DEFAULT ON)
else()
  set(MORVANE_DEVICE_DEFAULT OFF)
endif()
option(MORVANE_DEVICE_ONLY "Build only the device's tile library (C99), with no host dependency"
       ${MORVANE_DEVICE_DEFAULT})
if(NOT MORVANE_DEVICE_ONLY)
  return()
endif()
set(MORVANE_LZ4_SOURCE "" CACHE PATH "A folder holding lz4.c and lz4.h, for a device build without an lz4 target")

file(GLOB MORVANE_DEVICE_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/tile/*.c)
add_library(morvane_tile STATIC ${MORVANE_DEVICE_SOURCES})
target_include_directories(morvane_tile
  PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
  PRIVATE ${PROJECT_SOURCE_DIR}/src)
set_target_properties(morvane_tile PROPERTIES EXPORT_NAME tile)
# A section per function: a program linked with --gc-sections keeps only the
# calls it makes.
if(CMAKE_C_COMPILER_ID MATCHES "GNU|Clang")
  set(MORVANE_DEVICE_SECTIONS -ffunction-sections -fdata-sections)
endif()
target_compile_options(morvane_tile PRIVATE ${MORVANE_DEVICE_SECTIONS})
add_library(morvane::tile ALIAS morvane_tile)

# LZ4: the project's target (its install is the project's business), else
# its decoder built here from the sources given and installed with the library.
set(MORVANE_DEVICE_EXPORT morvane_tile)
set(MORVANE_PC_LIBS "")
foreach(t lz4 LZ4::lz4_static LZ4::lz4)
  if(TARGET ${t} AND NOT MORVANE_LZ4_TARGET)
    set(MORVANE_LZ4_TARGET ${t})
    target_link_libraries(morvane_tile PUBLIC $<BUILD_INTERFACE:${t}>)
  endif()
endforeach()
if(NOT MORVANE_LZ4_TARGET)
  if(NOT EXISTS "${MORVANE_LZ4_SOURCE}/lz4.c" OR NOT EXISTS "${MORVANE_LZ4_SOURCE}/lz4.h")
    message(FATAL_ERROR "morvane: a device build needs LZ4's decoder: an lz4 target, or "
                        "-DMORVANE_LZ4_SOURCE=<folder holding lz4.c and lz4.h>")
  endif()
  add_library(morvane_lz4 STATIC ${MORVANE_LZ4_SOURCE}/lz4.c)
  # Without LZ4's calls that allocate: nothing of it needs a heap.
  target_compile_definitions(morvane_lz4 PRIVATE LZ4_STATIC_LINKING_ONLY_DISABLE_MEMORY_ALLOCATION)
  target_compile_options(morvane_lz4 PRIVATE ${MORVANE_DEVICE_SECTIONS})
  target_include_directories(morvane_lz4 PUBLIC $<BUILD_INTERFACE:${MORVANE_LZ4_SOURCE}>)
  target_link_libraries(morvane_tile PUBLIC morvane_lz4)
  set_target_properties(morvane_lz4 PROPERTIES EXPORT_NAME lz4)
  list(APPEND MORVANE_DEVICE_EXPORT morvane_lz4)
  set(MORVANE_PC_LIBS "-lmorvane_lz4")
endif()

# Install: the library (and LZ4's decoder when built here), the C headers,
# the CMake package (morvane::tile and morvane_add_pack) and the pkg-config
# module, all for the target. The .pc file names nothing of the host.
set(MORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/morvane)
install(TARGETS ${MORVANE_DEVICE_EXPORT} EXPORT morvaneTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/morvane/tile.h ${PROJECT_SOURCE_DIR}/include/morvane/pack.h
        ${PROJECT_SOURCE_DIR}/include/morvane/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/morvane)
install(EXPORT morvaneTargets NAMESPACE morvane:: DESTINATION ${MORVANE_CMAKE_DIR})
include(CMakePackageConfigHelpers)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/morvaneDeviceConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/morvaneConfig.cmake INSTALL_DESTINATION ${MORVANE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/morvaneConfigVersion.cmake
                                 VERSION ${MORVANE_VERSION_STRING} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/morvaneConfig.cmake ${PROJECT_BINARY_DIR}/morvaneConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/morvane_add_pack.cmake
        DESTINATION ${MORVANE_CMAKE_DIR})
file(RELATIVE_PATH MORVANE_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" MORVANE_PC_TO_PREFIX "${MORVANE_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/morvane-tile-device.pc.in ${PROJECT_BINARY_DIR}/morvane-tile.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/morvane-tile.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# SPDX-License-Identifier: MIT
# The tile codec's tests alone (tests/tile), against morvane_tile and nothing
# from the other folders: what a cross build (scripts/cross_test.sh) runs on
# the target. GoogleTest is built from Debian's sources for the target.
set(GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its own sources are not held to this project's warning flags.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)

enable_testing()
# tests/tile is the suite, but for the test of a library with a 4 KiB tile
# buffer, which needs a build of its own.
file(GLOB tile_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/tile/*_test.cpp)
list(REMOVE_ITEM tile_tests ${PROJECT_SOURCE_DIR}/tests/tile/tile_small_buffer_test.cpp)
add_executable(morvane_tile_tests ${tile_tests} tests/tile/tile_c_calls.c tests/support/image_gen.cpp
                                  tests/support/encode.cpp)
# The library's own interface lies in src/, private to it.
target_include_directories(morvane_tile_tests PRIVATE tests src)
find_package(Threads REQUIRED)
target_link_libraries(morvane_tile_tests PRIVATE morvane_tile gtest_main Threads::Threads)
# Run through CMAKE_CROSSCOMPILING_EMULATOR when there is one.
add_test(NAME tile_tests COMMAND morvane_tile_tests)

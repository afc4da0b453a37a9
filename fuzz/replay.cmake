# SPDX-License-Identifier: MIT
# Replays every committed corpus and crasher file through each fuzz target,
# built with the normal compiler, as part of the test suite.
include(${CMAKE_CURRENT_LIST_DIR}/targets.cmake)
foreach(target ${MORVANE_FUZZ_TARGETS})
  add_executable(${target}_replay ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp)
  target_include_directories(${target}_replay PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target}_replay PRIVATE morvane_cli)
  if(target MATCHES "^fuzz_(tool|export|report)")
    target_link_libraries(${target}_replay PRIVATE morvane_toollib)
  endif()
  add_test(NAME fuzz_replay.${target}
           COMMAND ${target}_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/${target} ${CMAKE_CURRENT_LIST_DIR}/crashers/${target})
endforeach()

# Writes the seed corpus: make_fuzz_seeds fuzz
add_executable(make_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/make_seeds.cpp)
target_include_directories(make_fuzz_seeds PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(make_fuzz_seeds PRIVATE morvane_testsupport morvane_cli)

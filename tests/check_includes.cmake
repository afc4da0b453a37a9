# SPDX-License-Identifier: MIT
# cmake -DSOURCE_DIR=<repository> -P check_includes.cmake
# Fails when an #include of src/ points up or sideways (docs/architecture.md):
# the floors are tile < pack < io < core < cli, tool; a file includes its own
# folder and the floors below it, and cli and tool never include each other.
# src/tile and the installed headers of include/morvane include nothing but
# themselves, the C and C++ standard libraries and lz4.
foreach(floor tile:0 pack:1 io:2 core:3 cli:4 tool:4)
  string(REGEX REPLACE "(.*):(.*)" "set(floor_\\1 \\2)" floor "${floor}")
  cmake_language(EVAL CODE "${floor}")
endforeach()
set(c_headers "assert|ctype|errno|float|inttypes|limits|math|stdarg|stdbool|stddef|stdint|stdio|stdlib|string")

set(faults "")
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.hpp ${SOURCE_DIR}/src/*.c
     ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/include/*.h ${SOURCE_DIR}/include/*.hpp)
foreach(file ${files})
  if(file MATCHES "^include/")
    set(folder tile)
  else()
    string(REGEX REPLACE "^src/([^/]+)/.*" "\\1" folder "${file}")
  endif()
  if(NOT DEFINED floor_${folder})
    list(APPEND faults "${file}: src/${folder} is no floor of docs/architecture.md")
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line ${lines})
    string(REGEX MATCH "[\"<]([^\">]+)[\">]" _ "${line}")
    set(header "${CMAKE_MATCH_1}")
    string(REGEX MATCH "^([^/]+)/" _ "${header}")
    set(top "${CMAKE_MATCH_1}")
    if(top STREQUAL "morvane")
      continue()
    endif()
    if(folder STREQUAL "tile")
      if(NOT top STREQUAL "tile" AND NOT header MATCHES "^(lz4|lz4hc)\\.h$|^[a-z_]+$|^(${c_headers})\\.h$")
        list(APPEND faults "${file}: ${header} is not of the tile library, the standard library or lz4")
      endif()
    elseif(DEFINED floor_${top} AND NOT top STREQUAL folder AND NOT floor_${top} LESS floor_${folder})
      list(APPEND faults "${file}: src/${folder} includes ${header}, of a floor not below it")
    endif()
  endforeach()
endforeach()
if(faults)
  string(REPLACE ";" "\n" faults "${faults}")
  message(FATAL_ERROR "includes against the layout:\n${faults}")
endif()

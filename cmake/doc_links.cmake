# SPDX-License-Identifier: MIT
# Writes the copy of a Markdown document that is installed or zipped, its
# links made to work where the copy lies:
#   cmake -DSOURCE_DIR=<project> -DFILE=docs/tool.md -DPLACE=morvane/tool.md
#         -DPLACES="README.md=morvane/README.md,docs/tool.md=morvane/tool.md"
#         -DOUT=<file> [-DCRLF=ON] -P cmake/doc_links.cmake
# FILE is the document in the source tree; PLACES pairs every source file
# that is shipped beside it (a path from SOURCE_DIR) with where it lies (a
# path from one common root), PLACE being FILE's own. A relative link to a
# shipped file is pointed at its place; a link to a file that is not shipped
# is dropped, its text kept, so no link leads nowhere. Links with a scheme
# and links into the same document stay as they are. CRLF: "\r\n" line ends.
cmake_minimum_required(VERSION 3.20)

# Commas, not semicolons: a command line of a build rule splits at those.
string(REPLACE "," ";" PLACES "${PLACES}")
file(READ "${SOURCE_DIR}/${FILE}" text)
cmake_path(GET FILE PARENT_PATH from_dir)
cmake_path(GET PLACE PARENT_PATH place_dir)

# Where a source path is shipped, or "" when it is not.
function(shipped_place source out)
  set(${out} "" PARENT_SCOPE)
  foreach(pair IN LISTS PLACES)
    string(FIND "${pair}" "=" eq)
    string(SUBSTRING "${pair}" 0 ${eq} from)
    math(EXPR rest "${eq} + 1")
    string(SUBSTRING "${pair}" ${rest} -1 to)
    if(from STREQUAL source)
      set(${out} "${to}" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

# "[label](target)" becomes "label" wherever it occurs.
function(drop_link target)
  set(body "${text}")
  set(done "")
  while(TRUE)
    string(FIND "${body}" "](${target})" at)
    if(at EQUAL -1)
      break()
    endif()
    string(SUBSTRING "${body}" 0 ${at} before)
    string(FIND "${before}" "[" open REVERSE)
    string(LENGTH "](${target})" skip)
    math(EXPR after_at "${at} + ${skip}")
    string(SUBSTRING "${body}" ${after_at} -1 after)
    if(open EQUAL -1)  # no label: leave it
      string(SUBSTRING "${body}" 0 ${after_at} kept)
    else()
      string(SUBSTRING "${before}" 0 ${open} head)
      math(EXPR label_at "${open} + 1")
      string(SUBSTRING "${before}" ${label_at} -1 label)
      set(kept "${head}${label}")
    endif()
    string(APPEND done "${kept}")
    set(body "${after}")
  endwhile()
  set(text "${done}${body}" PARENT_SCOPE)
endfunction()

# The targets alone: a list item holding "]" would not split at ";".
string(REGEX MATCHALL "\\]\\([^) \t]+\\)" links "${text}")
string(REGEX REPLACE "\\]\\(([^) \t]+)\\)" "\\1" targets "${links}")
list(REMOVE_DUPLICATES targets)
foreach(target IN LISTS targets)
  if(target MATCHES "^[A-Za-z][A-Za-z0-9+.-]*:" OR target MATCHES "^#")
    continue()
  endif()
  string(FIND "${target}" "#" hash)
  set(path "${target}")
  set(fragment "")
  if(NOT hash EQUAL -1)
    string(SUBSTRING "${target}" 0 ${hash} path)
    string(SUBSTRING "${target}" ${hash} -1 fragment)
  endif()
  # Paths under a root of their own, so that none climbs above it.
  set(source "/root/${from_dir}/${path}")
  cmake_path(NORMAL_PATH source)
  string(REGEX REPLACE "^/root/" "" source "${source}")
  shipped_place("${source}" place)
  if(place STREQUAL "")
    drop_link("${target}")
  else()
    set(place "/root/${place}")
    cmake_path(RELATIVE_PATH place BASE_DIRECTORY "/root/${place_dir}" OUTPUT_VARIABLE new_path)
    string(REPLACE "](${target})" "](${new_path}${fragment})" text "${text}")
  endif()
endforeach()

if(CRLF)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
endif()
file(WRITE "${OUT}" "${text}")

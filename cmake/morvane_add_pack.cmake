# SPDX-License-Identifier: MIT
# morvane_add_pack(<target> MANIFEST <manifest.json> [SYMBOL <name>] [SECTION <name>])
#
# Builds a pack from the pictures a manifest lists and links it into
# <target> as a C array: at build time `morvane-tool create` makes the raw
# pack, `morvane -c` compresses it and `morvane-tool embed` writes
# <SYMBOL>.c (added to the target) and <SYMBOL>.h (its folder added to the
# target's include path). SYMBOL defaults to the manifest's file name made
# into a C identifier; SECTION places the array in that linker section.
# The pack is made again when the manifest or any picture it lists changes.
#
# The host tools: MORVANE_HOST_TOOLS_DIR when set, else this build's own
# morvane and morvane-tool, else the imported morvane::morvane and
# morvane::morvane-tool of the host package, else the PATH.
include_guard(GLOBAL)

# The command that runs host tool `name` (target `target` when built here).
function(_morvane_host_tool out name target)
  if(MORVANE_HOST_TOOLS_DIR)
    set(exe ${MORVANE_HOST_TOOLS_DIR}/${name}${CMAKE_HOST_EXECUTABLE_SUFFIX})
  elseif(TARGET ${target} AND NOT CMAKE_CROSSCOMPILING)
    set(exe ${target})
  elseif(TARGET morvane::${name})
    set(exe morvane::${name})
  else()
    string(MAKE_C_IDENTIFIER "MORVANE_HOST_${name}" var)
    find_program(${var} ${name} NO_CMAKE_FIND_ROOT_PATH)
    if(NOT ${var})
      message(FATAL_ERROR "morvane_add_pack: no host ${name}: set MORVANE_HOST_TOOLS_DIR to the folder holding it")
    endif()
    set(exe ${${var}})
  endif()
  set(${out} ${exe} PARENT_SCOPE)
endfunction()

function(morvane_add_pack target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "MANIFEST;SYMBOL;SECTION" "")
  if(NOT arg_MANIFEST OR arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "morvane_add_pack(<target> MANIFEST <manifest.json> [SYMBOL <name>] [SECTION <name>])")
  endif()
  get_filename_component(manifest ${arg_MANIFEST} ABSOLUTE)
  if(arg_SYMBOL)
    set(symbol ${arg_SYMBOL})
  else()
    get_filename_component(stem ${manifest} NAME_WE)
    string(MAKE_C_IDENTIFIER ${stem} symbol)
  endif()
  _morvane_host_tool(tool morvane-tool morvane-tool)
  _morvane_host_tool(morvane morvane morvane)
  set(section)
  if(arg_SECTION)
    set(section --section ${arg_SECTION})
  endif()

  set(dir ${CMAKE_CURRENT_BINARY_DIR}/morvane_packs/${symbol})
  file(MAKE_DIRECTORY ${dir})
  # The depfile names the manifest and every picture it lists.
  add_custom_command(OUTPUT ${dir}/${symbol}.pack
                     COMMAND ${tool} create ${manifest} ${dir}/${symbol}.pack --depfile ${dir}/${symbol}.pack.d
                     DEPENDS ${manifest} DEPFILE ${dir}/${symbol}.pack.d
                     COMMENT "morvane-tool create ${symbol}.pack" VERBATIM)
  add_custom_command(OUTPUT ${dir}/${symbol}.packz
                     COMMAND ${morvane} -c ${dir}/${symbol}.pack ${dir}/${symbol}.packz
                     DEPENDS ${dir}/${symbol}.pack COMMENT "morvane -c ${symbol}.pack" VERBATIM)
  add_custom_command(OUTPUT ${dir}/${symbol}.c ${dir}/${symbol}.h
                     COMMAND ${tool} embed ${dir}/${symbol}.packz ${dir}/${symbol}.c --symbol ${symbol} ${section}
                     DEPENDS ${dir}/${symbol}.packz COMMENT "morvane-tool embed ${symbol}.c" VERBATIM)
  target_sources(${target} PRIVATE ${dir}/${symbol}.c ${dir}/${symbol}.h)
  target_include_directories(${target} PRIVATE ${dir})
endfunction()

# SPDX-License-Identifier: MIT
# What `cmake --install` puts where, and the Debian packages made from it:
#   morvane      (component runtime): bin/morvane, bin/morvane-tool, their
#                man pages, README, tool.md and manifest.md
#   morvane-dev  (component dev): <morvane/tile.h>, <morvane/pack.h>,
#                <morvane/tile.hpp>, libmorvane_tile.a, the pkg-config module
#                morvane-tile, the CMake package morvane (target
#                morvane::tile, function morvane_add_pack), format.md,
#                firmware.md and examples/
# Both carry the copyright file and the changelog (packaging/), as Debian's
# policy asks of every package; docs/packaging.md tells the rest.
include(CMakePackageConfigHelpers)

set(MORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/morvane)
set(MORVANE_DEV_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/morvane-dev)

# Man pages and the changelog are installed compressed, as Debian's policy
# wants them: gzip -9 without a name or time stamp, so every build gives the
# same bytes. Without gzip (not a Debian machine) they are left out.
find_program(MORVANE_GZIP gzip)
set(MORVANE_GZ_DIR ${PROJECT_BINARY_DIR}/gz)
set(MORVANE_GZ_FILES)
function(morvane_gzip source name)
  set(out ${MORVANE_GZ_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${MORVANE_GZ_DIR}
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${MORVANE_GZ_DIR}/${name}
                     COMMAND ${MORVANE_GZIP} -9nf ${MORVANE_GZ_DIR}/${name}
                     DEPENDS ${source} VERBATIM)
  set(MORVANE_GZ_FILES ${MORVANE_GZ_FILES} ${out} PARENT_SCOPE)
endfunction()
if(MORVANE_GZIP)
  morvane_gzip(${PROJECT_SOURCE_DIR}/docs/morvane.1 morvane.1)
  morvane_gzip(${PROJECT_SOURCE_DIR}/docs/morvane-tool.1 morvane-tool.1)
  morvane_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog changelog)
  add_custom_target(morvane_gz ALL DEPENDS ${MORVANE_GZ_FILES})
else()
  message(STATUS "gzip not found: the man pages and the changelog will not be installed")
endif()

# The changelog's first line names the version the packages carry.
file(STRINGS packaging/changelog MORVANE_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT MORVANE_CHANGELOG_TOP MATCHES "^morvane \\(${MORVANE_VERSION_STRING}\\) ")
  message(FATAL_ERROR "packaging/changelog begins with '${MORVANE_CHANGELOG_TOP}', "
                      "not with an entry for ${MORVANE_VERSION_STRING}")
endif()

install(TARGETS morvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
# The companion executable, unless the build leaves it out.
if(TARGET morvane-tool)
  install(TARGETS morvane-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()
if(MORVANE_GZIP)
  install(FILES ${MORVANE_GZ_DIR}/morvane.1.gz ${MORVANE_GZ_DIR}/morvane-tool.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
  install(FILES ${MORVANE_GZ_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
  install(FILES ${MORVANE_GZ_DIR}/changelog.gz DESTINATION ${MORVANE_DEV_DOCDIR} COMPONENT dev)
endif()
# The documents the man pages and the README name, where they say. Each
# package's copies link only to what that package installs
# (cmake/doc_links.cmake): other links keep their text and lose the link.
set(MORVANE_DOC_DIR ${PROJECT_BINARY_DIR}/doc)
set(MORVANE_DOC_FILES)
function(morvane_doc file place places)
  set(out ${MORVANE_DOC_DIR}/${place})
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DFILE=${file} -DPLACE=${place}
                             -DPLACES=${places} -DOUT=${out} -P ${PROJECT_SOURCE_DIR}/cmake/doc_links.cmake
                     DEPENDS ${PROJECT_SOURCE_DIR}/${file} ${PROJECT_SOURCE_DIR}/cmake/doc_links.cmake VERBATIM)
  set(MORVANE_DOC_FILES ${MORVANE_DOC_FILES} ${out} PARENT_SCOPE)
endfunction()
set(runtime_docs README.md=morvane/README.md,docs/tool.md=morvane/tool.md,docs/manifest.md=morvane/manifest.md)
set(dev_docs docs/format.md=morvane-dev/format.md,docs/firmware.md=morvane-dev/firmware.md)
foreach(doc README.md docs/tool.md docs/manifest.md)
  get_filename_component(name ${doc} NAME)
  morvane_doc(${doc} morvane/${name} ${runtime_docs},LICENSE=morvane/copyright)
endforeach()
foreach(doc docs/format.md docs/firmware.md)
  get_filename_component(name ${doc} NAME)
  morvane_doc(${doc} morvane-dev/${name} ${dev_docs},LICENSE=morvane-dev/copyright)
endforeach()
add_custom_target(morvane_docs ALL DEPENDS ${MORVANE_DOC_FILES})
install(FILES ${MORVANE_DOC_DIR}/morvane/README.md ${MORVANE_DOC_DIR}/morvane/tool.md
        ${MORVANE_DOC_DIR}/morvane/manifest.md packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(FILES ${MORVANE_DOC_DIR}/morvane-dev/format.md ${MORVANE_DOC_DIR}/morvane-dev/firmware.md
        packaging/copyright DESTINATION ${MORVANE_DEV_DOCDIR} COMPONENT dev)
# The examples firmware.md names, and the toolchain file of its device build.
install(DIRECTORY examples/ DESTINATION ${MORVANE_DEV_DOCDIR}/examples COMPONENT dev)
install(FILES cmake/arm-none-eabi.cmake DESTINATION ${MORVANE_CMAKE_DIR} COMPONENT dev)

install(TARGETS morvane_tile EXPORT morvaneTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
# The library's public face: include/morvane/ alone. Its own header
# (src/tile/tile_image.h) stays in the source tree.
install(FILES include/morvane/tile.h include/morvane/pack.h include/morvane/tile.hpp include/morvane/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/morvane COMPONENT dev)

install(EXPORT morvaneTargets NAMESPACE morvane:: DESTINATION ${MORVANE_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/morvaneConfig.cmake.in ${PROJECT_BINARY_DIR}/morvaneConfig.cmake
                              INSTALL_DESTINATION ${MORVANE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/morvaneConfigVersion.cmake
                                 VERSION ${MORVANE_VERSION_STRING} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/morvaneConfig.cmake ${PROJECT_BINARY_DIR}/morvaneConfigVersion.cmake
              cmake/morvane_add_pack.cmake
        DESTINATION ${MORVANE_CMAKE_DIR} COMPONENT dev)
# The same package in the build tree (morvane_DIR=<build>), for the tests.
export(EXPORT morvaneTargets NAMESPACE morvane:: FILE ${PROJECT_BINARY_DIR}/morvaneTargets.cmake)
configure_file(cmake/morvane_add_pack.cmake ${PROJECT_BINARY_DIR}/morvane_add_pack.cmake COPYONLY)

# The .pc file finds the prefix from its own place, so the tree works under
# any prefix given to `cmake --install --prefix`.
file(RELATIVE_PATH MORVANE_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" MORVANE_PC_TO_PREFIX "${MORVANE_PC_TO_PREFIX}")
configure_file(cmake/morvane-tile.pc.in ${PROJECT_BINARY_DIR}/morvane-tile.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/morvane-tile.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Debian packages: scripts/package.sh.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VERSION ${MORVANE_VERSION_STRING})
set(CPACK_PACKAGE_VENDOR morvane)
# A placeholder at a reserved name (docs/packaging.md).
set(CPACK_PACKAGE_CONTACT "morvane developers <packages@morvane.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME morvane)
set(CPACK_DEBIAN_RUNTIME_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
# First line: the summary.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "converter for the resource packs of embedded GUIs
morvane compresses, decompresses and lists resource packs: tables of named
images (raw pixel arrays or JPEG data) that embedded GUIs keep in flash.
morvane-tool lists them in detail, verifies them against their sources,
exports them to PNG and JPEG files and builds them from such files.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME morvane-dev)
set(CPACK_DEBIAN_DEV_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "liblz4-dev, pkgconf | pkg-config")
set(CPACK_DEBIAN_DEV_DESCRIPTION "tiled image block codec of morvane, for firmware
A static library with a C99 and a C++ interface that finds images in a pack
held in memory and decodes any region of the tiled image blocks morvane
writes, into caller memory and without files or allocation; with a
pkg-config module (morvane-tile) and a CMake package (morvane).")
include(CPack)

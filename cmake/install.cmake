# What `cmake --install` puts where, and the Debian packages made from it:
#   morvane      (component runtime): bin/morvane, its man page, README and
#                the format description
#   morvane-dev  (component dev): <morvane/tile.h>, <morvane/pack.h>,
#                <morvane/tile.hpp>, libmorvane_tile.a, the pkg-config module
#                morvane-tile and the CMake package morvane (target
#                morvane::tile)
include(CMakePackageConfigHelpers)

set(MORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/morvane)

install(TARGETS morvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES docs/morvane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES README.md docs/format.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

# The companion executable, once it is part of the build.
if(TARGET morvane-tool)
  install(TARGETS morvane-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/morvane-tool.1)
  install(FILES docs/morvane-tool.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()

install(TARGETS morvane_tile EXPORT morvaneTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
# The library's public face: include/morvane/ alone. Its own header
# (src/tile/tile_image.h) stays in the source tree.
install(FILES include/morvane/tile.h include/morvane/pack.h include/morvane/tile.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/morvane COMPONENT dev)

install(EXPORT morvaneTargets NAMESPACE morvane:: DESTINATION ${MORVANE_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/morvaneConfig.cmake.in ${PROJECT_BINARY_DIR}/morvaneConfig.cmake
                              INSTALL_DESTINATION ${MORVANE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/morvaneConfigVersion.cmake
                                 VERSION ${MORVANE_VERSION_STRING} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/morvaneConfig.cmake ${PROJECT_BINARY_DIR}/morvaneConfigVersion.cmake
        DESTINATION ${MORVANE_CMAKE_DIR} COMPONENT dev)

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
set(CPACK_PACKAGE_CONTACT "morvane developers <morvane@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
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
images (raw pixel arrays or JPEG data) that embedded GUIs keep in flash.")
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

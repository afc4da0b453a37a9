# SPDX-License-Identifier: MIT
# LVGL 9.5 for the LVGL image decoder's tests and benchmark: the tarball in
# ../shared/third_party is unpacked into the build tree when CMake configures
# (nothing of LVGL enters the repository, nothing is downloaded) and built
# once per build tree as the static library morvane_lvgl_runtime, configured
# by tests/lvgl/lv_conf.h. Only what that configuration uses is compiled: the
# core, the software renderer, the image decoders and the image widget, no
# operating system layer, fonts, themes or drivers. It is third-party code:
# built without warnings (-w), with the sanitizers of the build.
include_guard(GLOBAL)

set(MORVANE_LVGL_TARBALL ${PROJECT_SOURCE_DIR}/../shared/third_party/lvgl-9.5.0-7cc13aa.tar.xz)
set(MORVANE_LVGL_DIR ${PROJECT_BINARY_DIR}/third_party/lvgl-9.5.0)
if(NOT EXISTS ${MORVANE_LVGL_TARBALL})
  message(FATAL_ERROR "LVGL's source is missing: ${MORVANE_LVGL_TARBALL} (the LVGL tests need it)")
endif()
if(NOT EXISTS ${MORVANE_LVGL_DIR}/lvgl.h)
  file(ARCHIVE_EXTRACT INPUT ${MORVANE_LVGL_TARBALL} DESTINATION ${MORVANE_LVGL_DIR})
endif()

set(lv ${MORVANE_LVGL_DIR}/src)
file(GLOB MORVANE_LVGL_SOURCES
  ${lv}/*.c ${lv}/core/*.c ${lv}/display/*.c ${lv}/draw/*.c ${lv}/draw/sw/*.c ${lv}/draw/sw/blend/*.c
  ${lv}/draw/convert/*.c ${lv}/misc/*.c ${lv}/misc/cache/*.c ${lv}/misc/cache/*/*.c ${lv}/stdlib/*.c
  ${lv}/stdlib/builtin/*.c ${lv}/stdlib/clib/*.c ${lv}/tick/*.c ${lv}/logging/*.c ${lv}/fs/lv_fs.c
  ${lv}/image/lv_image_decoder.c ${lv}/image/lv_bin_decoder.c ${lv}/indev/*.c ${lv}/font/lv_font.c ${lv}/layouts/lv_layout.c
  ${lv}/themes/lv_theme.c ${lv}/widgets/image/*.c ${lv}/libs/rle/*.c ${lv}/osal/lv_os.c ${lv}/osal/lv_os_none.c)
unset(lv)

add_library(morvane_lvgl_runtime STATIC ${MORVANE_LVGL_SOURCES})
target_include_directories(morvane_lvgl_runtime SYSTEM PUBLIC ${MORVANE_LVGL_DIR} ${PROJECT_SOURCE_DIR}/tests/lvgl)
target_compile_definitions(morvane_lvgl_runtime PUBLIC LV_CONF_INCLUDE_SIMPLE)
target_compile_options(morvane_lvgl_runtime PRIVATE -w)
target_link_libraries(morvane_lvgl_runtime PUBLIC PkgConfig::LZ4)
set_target_properties(morvane_lvgl_runtime PROPERTIES C_EXTENSIONS ON)

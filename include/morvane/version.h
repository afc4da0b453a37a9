// SPDX-License-Identifier: MIT
/*
 * morvane/version.h: the version of morvane and of its tile library, written
 * once, here (CMakeLists.txt reads MORVANE_VERSION_STRING from this file).
 * <morvane/tile.h> and <morvane/pack.h> include it.
 *
 * MORVANE_VERSION_STRING is what `morvane` prints; its parts are numbers:
 * "2.00230624" is major 2, minor 230624, patch 0. morvane_version() gives
 * the string of the library a program links, which may be other than the
 * header's it was compiled with.
 */
#ifndef MORVANE_VERSION_H
#define MORVANE_VERSION_H

#define MORVANE_VERSION_STRING "2.00230624"
#define MORVANE_VERSION_MAJOR 2
#define MORVANE_VERSION_MINOR 230624
#define MORVANE_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

/* MORVANE_VERSION_STRING of the library; static, do not free it. */
const char *morvane_version(void);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_VERSION_H */

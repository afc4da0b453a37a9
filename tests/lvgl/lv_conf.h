// SPDX-License-Identifier: MIT
/*
 * The LVGL configuration of the image decoder's tests and benchmark: no
 * operating system, the software renderer, 32-bit colour, no widget but
 * the image, no font, no theme. LVGL's RLE and LZ4 binary images are on (the
 * benchmark draws them; the decoder decodes whole-entry LZ4 entries with the
 * same lz4), with the system's liblz4. Every setting not named here takes
 * LVGL's default.
 */
#ifndef LV_CONF_H
#define LV_CONF_H

#define LV_COLOR_DEPTH 32
#define LV_USE_OS LV_OS_NONE
/* The C library's malloc, so that AddressSanitizer sees every buffer LVGL
   and the decoder allocate (LVGL's own heap would hide an overrun). */
#define LV_USE_STDLIB_MALLOC LV_STDLIB_CLIB
#define LV_USE_DRAW_SW 1
#define LV_DRAW_SW_COMPLEX 1

#define LV_USE_LOG 1
#define LV_LOG_LEVEL LV_LOG_LEVEL_WARN
#define LV_LOG_PRINTF 0

/* Images: no cache, as LVGL's default; compressed binary images on. */
#define LV_CACHE_DEF_SIZE 0
#define LV_IMAGE_HEADER_CACHE_DEF_CNT 0
#define LV_USE_RLE 1
#define LV_USE_LZ4 1
#define LV_USE_LZ4_INTERNAL 0
#define LV_BIN_DECODER_RAM_LOAD 1

#define LV_USE_OBSERVER 0
#define LV_USE_THEME_DEFAULT 0
#define LV_USE_THEME_SIMPLE 0
#define LV_USE_THEME_MONO 0
#define LV_USE_FLEX 0
#define LV_USE_GRID 0
#define LV_USE_FONT_PLACEHOLDER 0
#define LV_FONT_MONTSERRAT_14 0
#define LV_FONT_DEFAULT NULL
#define LV_BUILD_EXAMPLES 0
#define LV_BUILD_DEMOS 0

#define LV_USE_IMAGE 1
#define LV_USE_ANIMIMG 0
#define LV_USE_ARC 0
#define LV_USE_ARCLABEL 0
#define LV_USE_BAR 0
#define LV_USE_BUTTON 0
#define LV_USE_BUTTONMATRIX 0
#define LV_USE_CALENDAR 0
#define LV_USE_CANVAS 0
#define LV_USE_CHART 0
#define LV_USE_CHECKBOX 0
#define LV_USE_DROPDOWN 0
#define LV_USE_IMAGEBUTTON 0
#define LV_USE_KEYBOARD 0
#define LV_USE_LABEL 0
#define LV_USE_LED 0
#define LV_USE_LINE 0
#define LV_USE_LIST 0
#define LV_USE_MENU 0
#define LV_USE_MSGBOX 0
#define LV_USE_ROLLER 0
#define LV_USE_SCALE 0
#define LV_USE_SLIDER 0
#define LV_USE_SPAN 0
#define LV_USE_SPINBOX 0
#define LV_USE_SPINNER 0
#define LV_USE_SWITCH 0
#define LV_USE_TEXTAREA 0
#define LV_USE_TABLE 0
#define LV_USE_TABVIEW 0
#define LV_USE_TILEVIEW 0
#define LV_USE_WIN 0

#endif /* LV_CONF_H */

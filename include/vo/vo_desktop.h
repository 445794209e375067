/* The library's virtual desktop: a screen of pixels with windows on it,
 * which applications name as output targets (VO_CONTROL_DRIVER_WINDOW, the
 * Direct3D and OpenGL back ends) and read back as images. A window is a
 * position on the screen; the screen under its client area is its store.
 * Handles are checked against the live ones: a destroyed window is refused. */
#ifndef VO_DESKTOP_H
#define VO_DESKTOP_H

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VtWindow VtWindow; /* a window of the desktop */
typedef struct VtBitmap VtBitmap; /* a bitmap in memory (8 or 24 bits) */

#define VO_DESKTOP_DEFAULT_WIDTH 1024
#define VO_DESKTOP_DEFAULT_HEIGHT 768
#define VO_DESKTOP_DEFAULT_BITS 32
#define VO_DESKTOP_SIDE_LIMIT 16384

#ifdef __cplusplus
}
#endif

#endif

/*
 * The PNG writer the tree's picture programs share (vo_pictures, and the
 * shader-class program's gallery): a picture of 8-bit red, green, blue rows,
 * top row first, written through libpng. The same pixels always give the
 * same bytes: libpng writes no time stamp unless asked, and the compression
 * level is fixed.
 */
#ifndef VO_TOOLS_PICTURE_PNG_H
#define VO_TOOLS_PICTURE_PNG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Picture {
  uint32_t width, height;
  uint8_t *rgb; /* width * height * 3 bytes, malloc'd */
} Picture;

/* Writes the picture as an 8-bit RGB PNG; 0 on failure. */
int PictureWritePng(const Picture *picture, const char *path);

void PictureFree(Picture *picture);

#ifdef __cplusplus
}
#endif

#endif

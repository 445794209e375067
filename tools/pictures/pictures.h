/*
 * Small pictures from the demo's BMP files: a BMP reader for the 24- and
 * 32-bit uncompressed files the library's BMP driver and the Direct3D back
 * end write, a box-filter shrink, and a PNG writer over libpng. Used by
 * scripts/pictures; none of it is part of the library.
 *
 * Pixels are rows of 8-bit red, green, blue, top row first.
 */
#ifndef VO_TOOLS_PICTURES_H
#define VO_TOOLS_PICTURES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Picture {
  uint32_t width, height;
  uint8_t *rgb; /* width * height * 3 bytes, malloc'd */
} Picture;

/* The picture of a BMP file's bytes, or 0 with a reason in *why: a file
 * whose header does not fit the bytes given is refused. */
int PictureFromBmp(const uint8_t *bytes, size_t size, Picture *out, const char **why);

/* The picture shrunk to the width given (the height keeps the aspect ratio,
 * at least 1): every output pixel the rounded mean of the source pixels its
 * area covers. A width at or above the source's copies it. 0 when out of
 * memory. */
int PictureShrink(const Picture *in, uint32_t width, Picture *out);

/* Writes the picture as an 8-bit RGB PNG; 0 on failure. */
int PictureWritePng(const Picture *picture, const char *path);

void PictureFree(Picture *picture);

#ifdef __cplusplus
}
#endif

#endif

/*
 * Small pictures from the demo's BMP files: a BMP reader for the 24- and
 * 32-bit uncompressed files the library's BMP driver and the Direct3D back
 * end write, and a box-filter shrink; the PNG writer is picture_png.h's. Used by
 * scripts/pictures; none of it is part of the library.
 *
 * Pixels are rows of 8-bit red, green, blue, top row first.
 */
#ifndef VO_TOOLS_PICTURES_H
#define VO_TOOLS_PICTURES_H

#include <stddef.h>
#include <stdint.h>

#include "picture_png.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The picture of a BMP file's bytes, or 0 with a reason in *why: a file
 * whose header does not fit the bytes given is refused. */
int PictureFromBmp(const uint8_t *bytes, size_t size, Picture *out, const char **why);

/* The picture shrunk to the width given (the height keeps the aspect ratio,
 * at least 1): every output pixel the rounded mean of the source pixels its
 * area covers. A width at or above the source's copies it. 0 when out of
 * memory. */
int PictureShrink(const Picture *in, uint32_t width, Picture *out);

#ifdef __cplusplus
}
#endif

#endif

/*
 * The BMP reader and shrink of pictures.h. The reader trusts
 * nothing in the header: sizes are checked in 64-bit arithmetic against the
 * bytes given before a row is read. The shrink is integer arithmetic, so the
 * same BMP always gives the same PNG bytes.
 */
#include "pictures.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint32_t Le32(const uint8_t *p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static uint16_t Le16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

static int Refuse(const char **why, const char *reason) {
  *why = reason;
  return 0;
}

/* Copies the BMP's rows (bottom-up unless the height is negative) as RGB. */
static void RowsCopy(const uint8_t *pixels, uint64_t stride, uint32_t step, int top_down, Picture *out) {
  uint32_t x, y;
  for (y = 0; y < out->height; ++y) {
    const uint8_t *row = pixels + stride * (top_down ? y : out->height - 1 - y);
    uint8_t *to = out->rgb + (size_t)y * out->width * 3;
    for (x = 0; x < out->width; ++x, row += step, to += 3) {
      to[0] = row[2];
      to[1] = row[1];
      to[2] = row[0];
    }
  }
}

int PictureFromBmp(const uint8_t *bytes, size_t size, Picture *out, const char **why) {
  uint32_t offset, bits, compression;
  int32_t width, height;
  uint64_t stride, rows;
  memset(out, 0, sizeof *out);
  if (size < 54 || bytes[0] != 'B' || bytes[1] != 'M') return Refuse(why, "not a BMP file");
  offset = Le32(bytes + 10);
  width = (int32_t)Le32(bytes + 18);
  height = (int32_t)Le32(bytes + 22);
  bits = Le16(bytes + 28);
  compression = Le32(bytes + 30);
  if ((bits != 24 && bits != 32) || compression != 0)
    return Refuse(why, "not an uncompressed 24- or 32-bit BMP");
  if (width <= 0 || height == 0 || height == INT32_MIN || width > 65535 || height > 65535 || height < -65535)
    return Refuse(why, "a BMP of no or too many pixels");
  out->width = (uint32_t)width;
  out->height = (uint32_t)(height < 0 ? -height : height);
  stride = ((uint64_t)out->width * bits / 8 + 3) / 4 * 4;
  rows = stride * out->height;
  if (offset > size || rows > size - offset) return Refuse(why, "a BMP shorter than its header says");
  out->rgb = malloc((size_t)out->width * out->height * 3);
  if (out->rgb == NULL) return Refuse(why, "out of memory");
  RowsCopy(bytes + offset, stride, bits / 8, height < 0, out);
  return 1;
}

/* The rounded mean of the source pixels under output pixel (x, y). */
static void BoxMean(const Picture *in, const Picture *out, uint32_t x, uint32_t y, uint8_t *to) {
  const uint64_t x0 = (uint64_t)x * in->width / out->width, x1 = ((uint64_t)x + 1) * in->width / out->width;
  const uint64_t y0 = (uint64_t)y * in->height / out->height,
                 y1 = ((uint64_t)y + 1) * in->height / out->height;
  const uint64_t n = (x1 - x0) * (y1 - y0);
  uint64_t sum[3] = {0, 0, 0}, i, j;
  int c;
  for (j = y0; j < y1; ++j)
    for (i = x0; i < x1; ++i)
      for (c = 0; c < 3; ++c) sum[c] += in->rgb[(j * in->width + i) * 3 + (uint64_t)c];
  for (c = 0; c < 3; ++c) to[c] = (uint8_t)((sum[c] + n / 2) / n);
}

int PictureShrink(const Picture *in, uint32_t width, Picture *out) {
  uint32_t x, y;
  memset(out, 0, sizeof *out);
  out->width = width == 0 || width > in->width ? in->width : width;
  out->height = (uint32_t)(((uint64_t)in->height * out->width + in->width / 2) / in->width);
  if (out->height == 0) out->height = 1;
  out->rgb = malloc((size_t)out->width * out->height * 3);
  if (out->rgb == NULL) return 0;
  for (y = 0; y < out->height; ++y)
    for (x = 0; x < out->width; ++x) BoxMean(in, out, x, y, out->rgb + ((size_t)y * out->width + x) * 3);
  return 1;
}

/* Image files through the C interface alone: the library starts, a 7 x 5
 * image with a pattern is copied to each file driver made current with its
 * stream set, each file is read back (BMP and Targa exactly, JPEG at quality 95
 * within a PSNR of 30 dB), a PNG written with libpng is read through the QuickTime
 * driver, and the library terminates. What happened is written as text into
 * the caller's buffer; the answer is 0 when every step answered as expected. */
#include <math.h>
#include <png.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <vo/vo_api.h>
#include <vo/vo_driver.h>

#include "support/end_to_end.h"

enum { kWidth = 7, kHeight = 5 };

static uint8_t Sample(int x, int y, int c) {
  return (uint8_t)(c == 0 ? 20 * x : c == 1 ? 25 * y : 100 + 10 * x - 5 * y);
}

static double Psnr(const VtImage *image) {
  double sum = 0;
  int x, y, c;
  for (y = 0; y < kHeight; ++y)
    for (x = 0; x < kWidth; ++x)
      for (c = 0; c < 3; ++c) {
        const double d = image->data[y * image->bytes_per_row + 3 * x + c] - Sample(x, y, c);
        sum += d * d;
      }
  return sum == 0 ? 99.0 : 10 * log10(255.0 * 255.0 / (sum / (kWidth * kHeight * 3)));
}

static int CopyAndReadBack(Text *t, VtImage *image, const char *driver_name, const char *file_name) {
  VtDriverRecord *d = VoDriverFindFromName(driver_name);
  FILE *f = tmpfile();
  VtTypedValue v;
  VtImage *back;
  VtStatus st;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = f;
  if (d == NULL || f == NULL || VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v) != 0) return 1;
  st = VoDriverCopyImage(d, image);
  back = VoImageReadFromFile(f, file_name);
  Put(t, "%s: copy %u, %s", driver_name, st, back != NULL ? "read" : "not read");
  if (back != NULL) {
    const double psnr = Psnr(back);
    Put(t, " %dx%d, %s\n", back->width, back->height,
        psnr == 99.0 ? "exact"
        : psnr >= 30 ? "psnr >= 30"
                     : "poor");
    VoImageDestroy(back);
  } else {
    Put(t, "\n");
  }
  v.value.p = NULL;
  VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v);
  fclose(f);
  return st != 0 || back == NULL;
}

static int PngReadBack(Text *t) {
  char path[64];
  FILE *f;
  png_structp png;
  png_infop info;
  png_byte row[kWidth * 3];
  VtImage *back;
  int x, y;
  snprintf(path, sizeof path, "/tmp/vo_end_to_end_%d.png", (int)getpid());
  f = fopen(path, "wb");
  if (f == NULL) return 1;
  png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (y = 0; y < kHeight; ++y) {
    for (x = 0; x < kWidth * 3; ++x) row[x] = Sample(x / 3, y, x % 3);
    png_write_row(png, row);
  }
  png_write_end(png, NULL);
  png_destroy_write_struct(&png, &info);
  fclose(f);
  back = VoImageRead(path);
  remove(path);
  Put(t, "png: %s", back != NULL ? "read" : "not read");
  if (back == NULL) return Put(t, "\n"), 1;
  Put(t, " %dx%d, %s\n", back->width, back->height, Psnr(back) == 99.0 ? "exact" : "inexact");
  VoImageDestroy(back);
  return 0;
}

int vo_end_to_end_files(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtImage *image;
  VtTypedValue quality;
  int failed = 0, x, y, c;
  buffer[0] = '\0';
  if (VoInitialise() != 0) return Put(&t, "VoInitialise failed\n"), 1;
  image = VoImageCreate();
  image->width = kWidth;
  image->height = kHeight;
  if (VoImageAllocateData(image) != 0) return Put(&t, "no image data\n"), 1;
  for (y = 0; y < kHeight; ++y)
    for (x = 0; x < kWidth; ++x)
      for (c = 0; c < 3; ++c) image->data[y * image->bytes_per_row + 3 * x + c] = Sample(x, y, c);
  failed |= CopyAndReadBack(&t, image, "vodrvbmp", "scene.bmp");
  failed |= CopyAndReadBack(&t, image, "vodrvtga", "scene.tga");
  memset(&quality, 0, sizeof quality);
  quality.type = VtNat32;
  quality.value.u = 95;
  failed |= VoControlSet(0x4f0001, &quality) != 0;
  failed |= CopyAndReadBack(&t, image, "vodrvjpg", "scene.jpg");
  failed |= PngReadBack(&t);
  VoImageDestroy(image);
  if (VoTerminate() != 0) return Put(&t, "VoTerminate failed\n"), 1;
  return failed;
}

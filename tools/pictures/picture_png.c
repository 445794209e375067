/*
 * The PNG writer of picture_png.h. libpng reports a failure by jumping back
 * to the setjmp point, so the result is set only after the last call that
 * may jump.
 */
#include "picture_png.h"

#include <png.h>
#include <stdio.h>
#include <stdlib.h>

int PictureWritePng(const Picture *picture, const char *path) {
  FILE *f = fopen(path, "wb");
  png_structp png = NULL;
  png_infop info = NULL;
  uint32_t y;
  volatile int ok = 0; /* set after the last call that may jump back */
  if (f == NULL) return 0;
  png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  if (png != NULL) info = png_create_info_struct(png);
  if (info != NULL && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_set_IHDR(png, info, picture->width, picture->height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    for (y = 0; y < picture->height; ++y) png_write_row(png, picture->rgb + (size_t)y * picture->width * 3);
    png_write_end(png, NULL);
    ok = 1;
  }
  png_destroy_write_struct(&png, &info);
  return fclose(f) == 0 && ok;
}

void PictureFree(Picture *picture) {
  free(picture->rgb);
  picture->rgb = NULL;
}

/*
 * vo_pictures WIDTH IN.bmp OUT.png: the BMP shrunk to WIDTH pixels across
 * (the height keeps the aspect ratio) and written as a PNG. scripts/pictures
 * runs it over the demo's pictures.
 */
#include <stdio.h>
#include <stdlib.h>

#include "pictures.h"

/* The whole file into a malloc'd buffer, or null. */
static uint8_t *FileRead(const char *path, size_t *size) {
  FILE *f = fopen(path, "rb");
  uint8_t *bytes = NULL;
  long length;
  if (f == NULL) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (length = ftell(f)) > 0 && fseek(f, 0, SEEK_SET) == 0 &&
      (bytes = malloc((size_t)length)) != NULL && fread(bytes, 1, (size_t)length, f) != (size_t)length) {
    free(bytes);
    bytes = NULL;
  }
  if (bytes != NULL) *size = (size_t)length;
  fclose(f);
  return bytes;
}

int main(int argc, char **argv) {
  Picture full, small;
  const char *why = "cannot be read";
  size_t size = 0;
  uint8_t *bytes;
  char *end;
  unsigned long width = argc == 4 ? strtoul(argv[1], &end, 10) : 0;
  int ok;
  if (argc != 4 || *end != '\0' || width == 0 || width > 65535) {
    fprintf(stderr, "usage: vo_pictures WIDTH IN.bmp OUT.png (WIDTH 1 to 65535)\n");
    return 2;
  }
  bytes = FileRead(argv[2], &size);
  if (bytes == NULL || !PictureFromBmp(bytes, size, &full, &why)) {
    fprintf(stderr, "vo_pictures: %s: %s\n", argv[2], why);
    free(bytes);
    return 1;
  }
  free(bytes);
  ok = PictureShrink(&full, (uint32_t)width, &small) && PictureWritePng(&small, argv[3]);
  if (!ok) fprintf(stderr, "vo_pictures: cannot write %s\n", argv[3]);
  PictureFree(&full);
  PictureFree(&small);
  return ok ? 0 : 1;
}

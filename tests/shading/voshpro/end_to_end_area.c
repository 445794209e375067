/* The area light and the light-scattering foreground through the C
 * interface alone: the scene of support/area_scene.h rendered to a Targa
 * file and read back; the text lists every fourth pixel of every third row
 * (red, green, blue). The answer is 0 when every step succeeded. */
#include <stdint.h>

#include "support/area_scene.h"

int vo_end_to_end_area(char *buffer, size_t size, const char *directory) {
  Text t = {buffer, size};
  char picture[512];
  VtImage *back;
  int failed, x, y;

  if (size == 0) return 1;
  buffer[0] = '\0';
  snprintf(picture, sizeof picture, "%s/area.tga", directory);
  failed = AreaSceneRender(picture, INT32_MIN);
  Put(&t, "render %d\n", failed);
  if (failed) return failed;
  if (VoInitialise() != 0) return 5;
  back = VoImageRead(picture);
  if (back == NULL || back->width != 32 || back->height != 24) {
    Put(&t, "read back failed\n");
    failed = 6;
  } else {
    for (y = 0; y < 24; y += 3) {
      for (x = 0; x < 32; x += 4) {
        const unsigned char *p = back->data + (size_t)y * back->bytes_per_row + (size_t)x * 3;
        Put(&t, "%s%d %d %d", x == 0 ? "" : "  ", p[0], p[1], p[2]);
      }
      Put(&t, "\n");
    }
  }
  if (back != NULL) VoImageDestroy(back);
  failed |= VoTerminate() != 0;
  remove(picture);
  return failed;
}

/* A glass sphere (refraction 1.5, 1,984 triangles) over a wrapped checker
 * floor under a point light, ray traced at 96 x 72 through the C interface
 * alone into a Targa file (the current driver), read back with VoImageRead
 * and written into the caller's buffer as PPM text. The floor is under the
 * constant reflectance, so a floor pixel away from the sphere is exactly
 * one of its two checker colours: (0.8, 0.2, 0.2) -> 204 51 51 or
 * (0.2, 0.2, 0.8) -> 51 51 204. The answer is 0 when every step succeeded
 * and the floor pixel is as worked out. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"
#include "support/glass_scene.h"

enum { kWidth = 96, kHeight = 72 };

int vo_end_to_end_glass(char *buffer, size_t size, const char *path) {
  Text t = {buffer, size};
  GlassScene scene;
  VtDriverRecord *tga;
  VtImage *back = NULL;
  VtStatus st;
  int x, y, failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  if (VoInitialise() != 0) return 2;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  tga = VoDriverFindFromName("vodrvtga");
  if (tga == NULL || VoDriverSet(tga) != 0) return 3;
  st = GlassSceneBegin(&scene, kWidth, kHeight);
  Put(&t, "set-up status 0x%x\n", (unsigned)st);
  failed |= st != 0;
  st = SceneRenderToFile(tga, path, 0x70001);
  Put(&t, "render status 0x%x\n", (unsigned)st);
  failed |= st != 0;
  back = VoImageRead(path);
  if (back == NULL || back->width != kWidth || back->height != kHeight) {
    failed = 1;
  } else {
    /* The bottom-left corner sees the floor well away from the sphere. */
    const uint8_t *corner = &back->data[(kHeight - 2) * back->bytes_per_row + 3 * 1];
    const int red = corner[0] == 204 && corner[1] == 51 && corner[2] == 51;
    const int blue = corner[0] == 51 && corner[1] == 51 && corner[2] == 204;
    Put(&t, "floor pixel %d %d %d %s\n", corner[0], corner[1], corner[2],
        red || blue ? "as worked out" : "wrong");
    failed |= !(red || blue);
    Put(&t, "P3\n%d %d\n255\n", kWidth, kHeight);
    for (y = 0; y < kHeight; ++y) {
      for (x = 0; x < kWidth; ++x) {
        const uint8_t *p = &back->data[y * back->bytes_per_row + 3 * x];
        Put(&t, "%d %d %d%s", p[0], p[1], p[2], x + 1 < kWidth ? " " : "\n");
      }
    }
    VoImageDestroy(back);
  }
  failed |= GlassSceneEnd(&scene) != 0;
  failed |= VoTerminate() != 0;
  remove(path);
  return failed ? 5 : 0;
}

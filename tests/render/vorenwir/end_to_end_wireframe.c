/* A wireframe drawn through the C interface alone: a 2 x 2 x 2 cube mesh
 * seen down the z axis by a parallel 64 x 64 view fitted to it, drawn by the
 * wireframe renderer into a 64 x 64 image through the image driver; then the
 * view orbited by 30 degrees and drawn again. Each image is written as text,
 * one line per image row, '#' for a drawn pixel, '.' for the clear colour.
 *
 * Seen straight down z, the cube's four side faces stand edge-on and its
 * front and back faces coincide: the drawing is exactly a square outline,
 * every other pixel white. The fit puts the cube's bounding sphere (radius
 * sqrt 3) across the 64 pixels: a half side of 1 covers 32 / sqrt 3 = 18.48
 * pixels about the centre 32, so the outline runs from pixel 13 (32 - 18.48
 * = 13.52) to pixel 50 (50.48) in both directions. Orbited by 30 degrees
 * about the vertical, the vertical edges fall at x' = +-1 cos 30 +-1 sin 30,
 * i.e. +-1.37 and +-0.37: four vertical lines, pixels 6, 25, 38 and 57.
 * The answer is 0 when every step succeeded. */
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

static void PutImage(Text *t, const char *title, const VtImage *im) {
  int x, y;
  Put(t, "%s\n", title);
  for (y = 0; y < im->height; ++y) {
    for (x = 0; x < im->width; ++x) {
      const uint8_t *p = im->data + y * im->bytes_per_row + x * 3;
      Put(t, "%c", p[0] == 255 && p[1] == 255 && p[2] == 255 ? '.' : '#');
    }
    Put(t, "\n");
  }
}

int vo_end_to_end_wireframe(char *buffer, size_t size) {
  Text t = {buffer, size};
  const float eye[3] = {0, 0, 10}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  VtPrimitive *cube;
  VtReference *scene;
  VtImage *image;
  VtBounds bounds;
  VtTypedValue v;
  int failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  cube = SceneBox(-1, 1, -1, 1, -1, 1);
  image = VoImageCreate();
  if (cube == NULL || image == NULL) {
    VoTerminate();
    return 2;
  }
  scene = VoPrimitiveListCreate(1, &cube);
  failed |= VoPrimitiveListSet(scene) != 0;
  image->width = 64;
  image->height = 64;
  failed |= VoImageAllocateData(image) != 0;

  failed |= VoViewSetResolution(NULL, 64, 64, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PARALLEL, 30.0) != 0;
  failed |= VoBoundsGet(&bounds) != 0;
  failed |= VoViewFit(NULL, &bounds) != 0;
  failed |= VoViewAutoClipping(NULL) != 0;

  /* The image driver made current, then told which image to draw into. */
  failed |= VoDriverSet(VoDriverFindFromName("vodrvimg")) != 0;
  v = SceneRecord(image);
  failed |= VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v) != 0;
  failed |= VoExecute(0xa0001) != 0;
  PutImage(&t, "down z", image);

  failed |= VoViewOrbit(NULL, 30.0, 0.0) != 0;
  failed |= VoViewAutoClipping(NULL) != 0; /* the corners now reach nearer and farther */
  failed |= VoExecute(0xa0001) != 0;
  PutImage(&t, "orbited 30 degrees", image);

  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  failed |= VoPrimitiveDestroy(cube) != 0;
  failed |= VoImageDestroy(image) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}

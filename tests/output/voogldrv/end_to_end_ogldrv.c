/* The OpenGL targets through the C interface alone. A 64 x 48 image of the
 * image driver is cleared from C between VoOGLDrvImageBegin and
 * VoOGLDrvImageEnd; the same frame through the BMP driver writes a file of
 * the view's size (read back with VoImageReadFromFile), and through
 * "vodrvwin" a desktop window (read back with VoDesktopGetImage). Then the
 * standard renderer (0xc0001) writes into a 16 x 8 window what it writes
 * into a 16 x 8 image. The statuses and sample pixels are the text.
 * The answer is 0 when every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <GL/gl.h>
#include <vo/vo_api.h>

#include "support/end_to_end.h"

static void PutPixel(Text *t, const char *what, const VtImage *image, int x, int y) {
  const uint8_t *p = image->data + (size_t)y * (size_t)image->bytes_per_row + (size_t)x * 3;
  Put(t, " %s %d %d %d", what, p[0], p[1], p[2]);
}

static VtStatus Clear(float r, float g, float b) {
  VtStatus begin = VoOGLDrvImageBegin(), end;
  glClearColor(r, g, b, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  end = VoOGLDrvImageEnd();
  return begin | end;
}

static VtStatus SetPointer(VtDriverRecord *driver, uint32_t code, void *p) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = p;
  return VoDriverSetControl(driver, code, &v);
}

/* A triangle at z = 0 seen from z = 5, anticlockwise towards the eye. */
static VtPrimitive *Triangle(void) {
  const float corners[3][3] = {{-1.5f, -1, 0}, {1.5f, -1, 0}, {0, 1.2f, 0}};
  const uint32_t world = VO_VERT_WORLD;
  VtTypedValue data = SceneRecord(corners);
  return VoPrimitiveCreatePolygon(3, 1, &world, &data);
}

static int Standard(Text *t, VtDriverRecord *image_driver, VtDriverRecord *window_driver) {
  const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  VtPrimitive *square = Triangle();
  VtReference *scene;
  VtWindow *window = VoDesktopWindowCreate(100, 50, 16, 8);
  VtImage *image = VoImageCreate(), *shown;
  int failed = square == NULL || window == NULL || image == NULL, same = 1, y;
  if (failed) return failed;
  image->width = 16;
  image->height = 8;
  failed |= VoImageAllocateData(image) != 0;
  scene = VoPrimitiveListCreate(1, &square);
  failed |= VoPrimitiveListSet(scene) != 0;
  failed |= VoViewSetResolution(NULL, 16, 8, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  failed |= VoDriverSet(image_driver) != 0 || SetPointer(image_driver, VO_CONTROL_DRIVER_IMAGE, image) != 0;
  Put(t, "standard into an image: status %u", VoExecute(0xc0001));
  PutPixel(t, "centre", image, 8, 4);
  PutPixel(t, "corner", image, 0, 0);
  Put(t, "\n");
  failed |=
      VoDriverSet(window_driver) != 0 || SetPointer(window_driver, VO_CONTROL_DRIVER_WINDOW, window) != 0;
  Put(t, "standard into a window: status %u", VoExecute(0xc0001));
  shown = VoDesktopGetImage(100, 50, 16, 8);
  failed |= shown == NULL;
  if (shown != NULL) {
    for (y = 0; y < 8; ++y)
      same &= memcmp(shown->data + y * shown->bytes_per_row, image->data + y * image->bytes_per_row, 48) == 0;
    Put(t, " same pixels as the image: %s\n", same ? "yes" : "no");
    failed |= !same;
    VoImageDestroy(shown);
  }
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  failed |= VoPrimitiveDestroy(square) != 0;
  failed |= VoImageDestroy(image) != 0;
  failed |= VoDesktopWindowDestroy(window) != 0;
  return failed;
}

static int Sequence(Text *t, const char *bmp_path) {
  VtDriverRecord *image_driver, *bmp, *window_driver;
  VtImage *image, *read, *shown;
  VtWindow *window;
  VtStatus status;
  FILE *f;
  int failed = VoInitialise() != 0;
  if (failed) return failed;
  image_driver = VoDriverFindFromName("vodrvimg");
  bmp = VoDriverFindFromName("vodrvbmp");
  window_driver = VoDriverFindFromName("vodrvwin");
  failed |= image_driver == NULL || bmp == NULL || window_driver == NULL;
  if (failed) return failed;

  image = VoImageCreate();
  failed |= image == NULL;
  if (failed) return failed;
  image->width = 64;
  image->height = 48;
  failed |= VoDriverSet(image_driver) != 0 || SetPointer(image_driver, VO_CONTROL_DRIVER_IMAGE, image) != 0;
  status = Clear(1.0f, 0.5f, 0.25f);
  failed |= status != 0;
  Put(t, "image driver: status %u size %d x %d", status, image->width, image->height);
  PutPixel(t, "first", image, 0, 0);
  PutPixel(t, "last", image, 63, 47);
  Put(t, "\n");

  failed |= VoViewSetResolution(NULL, 32, 24, 1.0) != 0;
  f = fopen(bmp_path, "wb+");
  failed |= f == NULL || VoDriverSet(bmp) != 0 || SetPointer(bmp, VO_CONTROL_DRIVER_FILE, f) != 0;
  status = Clear(0.0f, 1.0f, 0.0f);
  failed |= status != 0;
  if (f != NULL) fclose(f);
  read = VoImageReadFromFile(NULL, bmp_path);
  failed |= read == NULL;
  Put(t, "bmp driver: status %u", status);
  if (read != NULL) {
    Put(t, " file %d x %d", read->width, read->height);
    PutPixel(t, "pixel", read, 31, 23);
    VoImageDestroy(read);
  }
  Put(t, " image driver's image %d x %d\n", image->width, image->height);

  window = VoDesktopWindowCreate(40, 30, 20, 10);
  failed |= window == NULL || VoDriverSet(window_driver) != 0 ||
            SetPointer(window_driver, VO_CONTROL_DRIVER_WINDOW, window) != 0;
  status = VoOGLDrvImageBegin();
  glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  status |= VoOGLDrvSwapBuffers();
  status |= VoOGLDrvImageEnd();
  failed |= status != 0;
  shown = VoDesktopGetImage(39, 30, 22, 10);
  failed |= shown == NULL;
  Put(t, "window driver: status %u", status);
  if (shown != NULL) {
    PutPixel(t, "left of it", shown, 0, 5);
    PutPixel(t, "inside", shown, 1, 0);
    PutPixel(t, "inside", shown, 20, 9);
    PutPixel(t, "right of it", shown, 21, 9);
    VoImageDestroy(shown);
  }
  Put(t, "\n");
  Put(t, "dead window: status %u\n", SetPointer(window_driver, VO_CONTROL_DRIVER_WINDOW, NULL));

  failed |= Standard(t, image_driver, window_driver);
  failed |= VoDriverSet(VoDriverFindFromName("vodrvnul")) != 0;
  failed |= window == NULL || VoDesktopWindowDestroy(window) != 0;
  failed |= VoImageDestroy(image) != 0;
  failed |= VoTerminate() != 0;
  return failed;
}

int vo_end_to_end_ogldrv(char *buffer, size_t size, const char *bmp_path) {
  Text t = {buffer, size};
  int failed;
  if (size == 0) return 1;
  buffer[0] = '\0';
  failed = Sequence(&t, bmp_path);
  return failed ? 3 : 0;
}

/*
 * The library's demonstration program: renders a scene to an image file.
 *
 * Starts the library with VoInitialise and installs the default diagnostic
 * printer (VoInitialise leaves diagnostics silent), builds a small city of
 * boxes on a ground slab, sets a perspective view fitted to it, draws it with
 * the wireframe renderer into a 640 x 480 image through the image driver,
 * writes the image as a BMP file through the BMP driver, and prints the
 * file's path and the render time before stopping the library.
 *
 * Usage: vo_demo [output.bmp [message-file]]
 * The picture goes to vo_demo.bmp in the current directory by default. With a
 * message file, diagnostics are printed with its texts; without one, the
 * printer's fallback lines are written.
 */
#define _POSIX_C_SOURCE 199309L /* clock_gettime */
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <vo/vo_api.h>

enum { kWidth = 640, kHeight = 480, kGrid = 4, kBoxes = kGrid * kGrid + 1 };

static VtTypedValue Pointer(void *p) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = p;
  return v;
}

/* A box mesh between two corners, its six faces turned outwards. */
static VtPrimitive *Box(float x0, float x1, float y0, float y1, float z0, float z1) {
  static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  float corners[8][3];
  VtTypedValue data[1];
  int i;
  for (i = 0; i < 8; ++i) {
    corners[i][0] = (i & 1) ? x1 : x0;
    corners[i][1] = (i & 2) ? y1 : y0;
    corners[i][2] = (i & 4) ? z1 : z0;
  }
  data[0] = Pointer(corners);
  return VoPrimitiveCreateMesh(6, NULL, counts, faces, 1, ids, data);
}

/* Boxes of varied heights on a grid (y is up), and the ground under them. */
static int BuildScene(VtPrimitive **boxes) {
  int i;
  for (i = 0; i < kGrid * kGrid; ++i) {
    const float x = (float)(i % kGrid) * 3.0f, z = (float)(i / kGrid) * 3.0f;
    const float height = 1.0f + (float)((i * 7) % 5);
    boxes[i] = Box(x, x + 2.0f, 0.0f, height, z, z + 2.0f);
    if (boxes[i] == NULL) return 1;
  }
  boxes[kGrid * kGrid] = Box(-1.0f, 3.0f * kGrid, -0.5f, 0.0f, -1.0f, 3.0f * kGrid);
  return boxes[kGrid * kGrid] == NULL;
}

static double Seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

/* The image written through the BMP driver to the named file. */
static VtStatus WriteBmp(VtImage *image, const char *path) {
  VtDriverRecord *bmp = VoDriverFindFromName("vodrvbmp");
  FILE *f = fopen(path, "wb");
  VtTypedValue v;
  VtStatus status;
  if (bmp == NULL || f == NULL) {
    if (f != NULL) fclose(f);
    return 2;
  }
  v = Pointer(f);
  status = VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v);
  if (status == 0) status = VoDriverCopyImage(bmp, image);
  v = Pointer(NULL);
  VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v);
  if (fclose(f) != 0 && status == 0) status = 0x40000002;
  return status;
}

static VtStatus Render(VtImage *image, double *seconds) {
  const float eye[3] = {-8, 14, -10}, reference[3] = {5.5f, 1, 5.5f}, up[3] = {0, 1, 0};
  VtBounds bounds;
  VtTypedValue v = Pointer(image);
  VtStatus status = 0;
  double start;
  status |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0);
  status |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0);
  status |= VoBoundsGet(&bounds);
  status |= VoViewFit(NULL, &bounds);
  status |= VoViewAutoClipping(NULL);
  status |= VoDriverSet(VoDriverFindFromName("vodrvimg"));
  status |= VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  if (status != 0) return status;
  start = Seconds();
  status = VoExecute(0xa0001); /* the wireframe renderer */
  *seconds = Seconds() - start;
  return status;
}

int main(int argc, char **argv) {
  const char *path = argc > 1 ? argv[1] : "vo_demo.bmp";
  VtPrimitive *boxes[kBoxes] = {0};
  VtReference *scene = NULL;
  VtImage *image = NULL;
  FILE *messages = NULL;
  VtTypedValue stream, severity;
  VtStatus status, stop;
  double seconds = 0;
  int i;

  status = VoInitialise();
  if (status != 0) fprintf(stderr, "VoInitialise answered 0x%08x\n", (unsigned)status);
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&VoErrorHandlerDefault);
  if (argc > 2) {
    messages = fopen(argv[2], "rb");
    if (messages == NULL) {
      fprintf(stderr, "cannot open message file %s\n", argv[2]);
    } else {
      VtTypedValue value = Pointer(messages);
      VoControlSet(VO_CONTROL_MESSAGE_FILE, &value);
    }
  }
  stream = Pointer(stderr);
  VoControlSet(VO_CONTROL_ERROR_STREAM, &stream);
  memset(&severity, 0, sizeof severity);
  severity.type = VtNat32;
  severity.value.u = 0x60000000u; /* errors and warnings; no debug lines */
  VoControlSet(VO_CONTROL_SEVERITY_MASK, &severity);

  status = BuildScene(boxes) ? 0x20000006 : 0;
  if (status == 0) {
    scene = VoPrimitiveListCreate(kBoxes, boxes);
    image = VoImageCreate();
    status = scene == NULL || image == NULL ? 0x20000006 : VoPrimitiveListSet(scene);
  }
  if (status == 0) {
    image->width = kWidth;
    image->height = kHeight;
    status = VoImageAllocateData(image);
  }
  if (status == 0) status = Render(image, &seconds);
  if (status == 0) status = WriteBmp(image, path);

  if (status == 0)
    printf("Rendered %d x %d wireframe of %d boxes to %s in %.3f ms\n", kWidth, kHeight, kBoxes, path,
           seconds * 1e3);
  else
    fprintf(stderr, "The render failed: 0x%08x\n", (unsigned)status);

  VoPrimitiveListSet(NULL);
  if (scene != NULL) VoReferenceListDestroy(scene, NULL);
  for (i = 0; i < kBoxes; ++i)
    if (boxes[i] != NULL) VoPrimitiveDestroy(boxes[i]);
  if (image != NULL) VoImageDestroy(image);
  stop = VoTerminate();
  if (messages != NULL) fclose(messages);
  return (status | stop) == 0 ? 0 : 1;
}

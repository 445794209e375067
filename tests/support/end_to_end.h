// End-to-end scenes written in C: the text buffer they describe their
// outcome into (C side), and the comparison of that text with the
// checked-in file it is known to give (C++ side; set VO_END_TO_END_OUT to a
// file name to have the text written there).
#ifndef VO_TEST_END_TO_END_H
#define VO_TEST_END_TO_END_H

#ifdef __cplusplus

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace vo::test {

// Runs the scene into a buffer of the size given and compares its text
// with the file of that name in the test data.
template <size_t Size>
void ExpectSceneText(int (*scene)(char *, size_t), const char *file_name) {
  static char text[Size];
  const int failed = scene(text, sizeof text);
  ASSERT_EQ(failed, 0) << text;
  if (const char *out = std::getenv("VO_END_TO_END_OUT")) std::ofstream(out) << text;
  std::ifstream file(std::string(VO_TEST_DATA_DIR "/") + file_name);
  ASSERT_TRUE(file.good()) << file_name;
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(std::string(text), expected.str());
}

}  // namespace vo::test

#else

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/scene_args.h"

typedef struct Text {
  char *at;
  size_t left;
} Text;

/* Appends to the text as printf would, cutting what does not fit. */
static void Put(Text *t, const char *format, ...) {
  va_list args;
  int n;
  va_start(args, format);
  n = vsnprintf(t->at, t->left, format, args);
  va_end(args);
  if (n < 0 || (size_t)n >= t->left) n = t->left > 0 ? (int)t->left - 1 : 0;
  t->at += n;
  t->left -= (size_t)n;
}

/* FNV-1a over an image's pixel bytes. */
static inline uint32_t SceneImageChecksum(const VtImage *image) {
  uint32_t h = 2166136261u;
  int x, y;
  for (y = 0; y < image->height; ++y)
    for (x = 0; x < 3 * image->width; ++x) h = (h ^ image->data[y * image->bytes_per_row + x]) * 16777619u;
  return h;
}

/* Writes the image to the path through the BMP driver; 0 on success. */
static inline int SceneWriteBmp(VtImage *image, const char *path) {
  VtTypedValue v;
  FILE *f = fopen(path, "wb");
  int failed = f == NULL;
  if (failed) return 1;
  failed |= VoDriverSet(VoDriverFindFromName("vodrvbmp")) != 0;
  v = SceneRecord(f);
  failed |= VoControlSet(VO_CONTROL_DRIVER_FILE, &v) != 0;
  failed |= VoDriverCopyImage(NULL, image) != 0;
  v = SceneRecord(NULL);
  failed |= VoControlSet(VO_CONTROL_DRIVER_FILE, &v) != 0;
  failed |= fclose(f) != 0;
  return failed;
}

/* An error handler that keeps the library's messages off the test's output. */
static inline VtStatus SceneQuiet(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                                  VtTypedValue *args) {
  (void)status, (void)message, (void)module, (void)count, (void)args;
  return 0;
}

/* Renders with the execute code into the named file through the driver's
 * file control (a file driver such as vodrvtga), the control cleared after. */
static inline VtStatus SceneRenderToFile(VtDriverRecord *driver, const char *path, uint32_t code) {
  FILE *f = fopen(path, "wb");
  VtTypedValue v;
  VtStatus st;
  if (f == NULL) return 1;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = f;
  st = VoDriverSetControl(driver, VO_CONTROL_DRIVER_FILE, &v);
  if (st == 0) st = VoExecute(code);
  v.value.p = NULL;
  VoDriverSetControl(driver, VO_CONTROL_DRIVER_FILE, &v);
  fclose(f);
  return st;
}

/* Sets an entry of the shader class registered last (VoShaderSetEntry). */
static inline VtStatus SceneClassEntry(uint32_t slot, VtProc proc) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtFunc;
  v.value.fn = proc;
  return VoShaderSetEntry(slot, &v);
}

/* The work farm's worker count a test program asks for (control 0x520001),
 * set after VoInitialise; INT32_MIN keeps the library's. A program that
 * calls EndToEndWorkersApply defines the variable. */
extern int32_t vo_end_to_end_workers;
static inline void EndToEndWorkersApply(void) {
  VtTypedValue v;
  if (vo_end_to_end_workers == INT32_MIN) return;
  memset(&v, 0, sizeof v);
  v.type = VtInt32;
  v.value.i = vo_end_to_end_workers;
  VoControlSet(0x520001, &v);
}

/* A box mesh: six faces turned outwards. */
static inline VtPrimitive *SceneBox(float x0, float x1, float y0, float y1, float z0, float z1) {
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
  data[0] = SceneRecord(corners);
  return VoPrimitiveCreateMesh(6, NULL, counts, faces, 1, ids, data);
}

/* A driver of byte rows made from a query function: each row goes to the
 * row procedure named, each frame begun to the frame procedure (either may
 * be null). SceneRowDriverCreate makes the driver around them. */
static VtStatus (*g_scene_row)(uint32_t y, void *pixels);
static VtStatus (*g_scene_frame)(int32_t x0, int32_t x1, int32_t y0, int32_t y1);

static inline VtStatus SceneRow(uint32_t y, void *pixels) {
  return g_scene_row != NULL ? g_scene_row(y, pixels) : 0;
}
static inline VtStatus SceneFrame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  return g_scene_frame != NULL ? g_scene_frame(x0, x1, y0, y1) : 0;
}
static inline VtStatus SceneFrameEnd(void) { return 0; }
static inline VtStatus SceneRowLookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set) return 0x20000012;
  *slot = code == VO_DRIVER_ROW_BYTES     ? (VtProc)&SceneRow
          : code == VO_DRIVER_BEGIN_FRAME ? (VtProc)&SceneFrame
          : code == VO_DRIVER_END_FRAME   ? (VtProc)&SceneFrameEnd
                                          : NULL;
  return 0;
}
static inline VtStatus SceneRowDriverQuery(uint32_t query, VtTypedValue *answer) {
  memset(answer, 0, sizeof *answer);
  if (query == VO_QUERY_REGISTRY_NAME) {
    answer->type = VtString;
    answer->value.s = "rows";
  } else if (query == VO_QUERY_CALLBACK) {
    answer->type = VtFunc;
    answer->value.fn = (VtProc)&SceneRowLookup;
  }
  return 0;
}
static inline VtDriverRecord *SceneRowDriverCreate(VtStatus (*row)(uint32_t, void *),
                                                   VtStatus (*frame)(int32_t, int32_t, int32_t, int32_t)) {
  g_scene_row = row;
  g_scene_frame = frame;
  return VoDriverCreate(&SceneRowDriverQuery);
}

#endif

#endif /* VO_TEST_END_TO_END_H */

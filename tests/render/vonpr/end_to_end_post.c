/* The NPR post-process classes through the C interface alone: the glass
 * scene with a plastic sphere, rendered per pixel (0xc0003) at 96 x 64 into
 * a buffer with colour and alpha that the program makes current, through
 * execute code 0x440004 with the list [lowpass filter, random grid (size 6),
 * pen (seed 3, count 3000, quality 2)]. The buffer is printed as PPM text,
 * top row first. The answer is 0 when every step succeeded. */
#include <math.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"
#include "support/glass_scene.h"

enum { kPostWidth = 96, kPostHeight = 64 };

static VtStatus Word(VtShader *s, const char *label, uint32_t type, int32_t i, float f) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  if (type == VtFloat)
    v.value.f = f;
  else
    v.value.i = i;
  return VoShaderSetArg(s, label, &v);
}

static VtStatus Control(uint32_t code, uint32_t type, uint32_t word) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  v.value.u = word;
  return VoControlSet(code, &v);
}

static int Byte(float v) {
  const float c = v < 0 ? 0 : v > 1 ? 1 : v;
  return (int)floorf(c * 255.0f + 0.5f);
}

int vo_end_to_end_post_strokes(char *buffer, size_t size) {
  Text t = {buffer, size};
  GlassScene g;
  VtScreenBuffer *target;
  VtShader *lowpass, *grid, *pen;
  VtReference *list = NULL;
  float row[3 * kPostWidth];
  int failed, x, y;
  VtStatus st;
  if (size == 0) return 1;
  buffer[0] = '\0';
  failed = VoInitialise() != 0;
  failed |= GlassSceneBegin(&g, kPostWidth, kPostHeight) != 0;
  failed |= VoMaterialSetShaderByPrototype(g.glass, VO_SHADER_REFLECTANCE, "plastic") != 0;
  target = VoScreenBufferCreate();
  failed |= target == NULL || VoScreenBufferAllocateData(target, VO_SB_COLOUR | VO_SB_ALPHA) != 0;
  failed |= VoScreenBufferSet(target) != 0;
  lowpass = VoShaderCreate(VO_SHADER_POSTPROCESS, "lowpass filter");
  grid = VoShaderCreate(VO_SHADER_POSTPROCESS, "random grid");
  pen = VoShaderCreate(VO_SHADER_POSTPROCESS, "pen");
  if (failed || lowpass == NULL || grid == NULL || pen == NULL) return 1;
  failed |= Word(grid, "size", VtFloat, 0, 6.0f) != 0;
  failed |= Word(pen, "seed", VtInt32, 3, 0) != 0;
  failed |= Word(pen, "count", VtInt32, 3000, 0) != 0;
  failed |= Word(pen, "stroke quality", VtInt32, 2, 0) != 0;
  list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(lowpass));
  list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(grid));
  list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(pen));
  failed |= VoPostprocessListSet(list) != 0;
  failed |= Control(VO_CONTROL_PP_RENDER_CODE, VtEnum, 0xc0003) != 0;
  failed |= Control(VO_CONTROL_PP_POST_CODE, VtEnum, VO_EXECUTE_PP_RUN) != 0;
  failed |= Control(VO_CONTROL_SB_NO_FORWARD, VtBoolean, 1) != 0; /* kept, not shown */
  st = VoExecute(VO_EXECUTE_PP_RENDER_AND_POST);
  Put(&t, "P3\n%d %d\n255\n", kPostWidth, kPostHeight);
  for (y = 0; y < kPostHeight && !failed; ++y) {
    failed |= VoScreenBufferGetScanRGBFloat(target, (uint32_t)y, row) != 0;
    for (x = 0; x < kPostWidth; ++x)
      Put(&t, "%d %d %d%s", Byte(row[3 * x]), Byte(row[3 * x + 1]), Byte(row[3 * x + 2]),
          x + 1 < kPostWidth ? " " : "\n");
  }
  if (st != 0) Put(&t, "render and post status 0x%x\n", (unsigned)st);
  failed |= st != 0;
  failed |= VoPostprocessListSet(NULL) != 0;
  failed |= VoShaderReferenceDestroy(list, 1) != 0;
  failed |= VoScreenBufferSet(NULL) != 0;
  failed |= VoScreenBufferDestroy(target) != 0;
  failed |= GlassSceneEnd(&g) != 0;
  failed |= VoTerminate() != 0;
  return failed;
}

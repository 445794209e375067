/* The lite library's backgrounds, foregrounds and a displacement through
 * the C interface alone: a mixed background of a plain and a clouds
 * background, fog and snow foregrounds and a rough displacement shade 16
 * pixels, their positions written through the globals' addresses. The
 * outcome is written as text into the caller's buffer; the answer is 0
 * when every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

int vo_end_to_end_lite_atmosphere(char *buffer, size_t size) {
  Text t = {buffer, size};
  const float N[3] = {0, 0, 1};
  VtShader *shaders[6];
  VtShaderGlobals *g;
  VtTypedValue v;
  float *xi, *yi;
  VtStatus s = 0;
  int i;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  s |= VoRandomInitialise(5);
  shaders[0] = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  shaders[1] = VoShaderCreate(VO_SHADER_BACKGROUND, "clouds");
  shaders[2] = VoShaderCreate(VO_SHADER_BACKGROUND, "mixed");
  shaders[3] = VoShaderCreate(VO_SHADER_FOREGROUND, "fog");
  shaders[4] = VoShaderCreate(VO_SHADER_FOREGROUND, "snow");
  shaders[5] = VoShaderCreate(VO_SHADER_DISPLACEMENT, "rough");
  for (i = 0; i < 6; ++i)
    if (shaders[i] == NULL) {
      VoTerminate();
      return 2;
    }
  s |= SceneArgTriple(shaders[0], "colour", VtColourType, 0.9f, 0.5f, 0.1f);
  s |= SceneArgFloat(shaders[1], "scale", 0.5f);
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = shaders[0];
  s |= VoShaderSetArg(shaders[2], "base shader", &v);
  v.value.p = shaders[1];
  s |= VoShaderSetArg(shaders[2], "mixed shader", &v);
  s |= SceneArgFloat(shaders[2], "mixing ratio", 0.4f);
  s |= SceneArgFloat(shaders[3], "distance", 20);
  s |= SceneArgFloat(shaders[4], "near scale", 0.5f);
  s |= SceneArgFloat(shaders[4], "far scale", 0.25f);
  s |= SceneArgFloat(shaders[4], "flake density", 0.8f);
  s |= SceneArgFloat(shaders[4], "flake size", 0.9f);
  s |= SceneArgFloat(shaders[5], "amplitude", 0.5f);
  s |= VoShadingInitialiseImage(2);
  for (i = 0; i < 6; ++i) s |= VoShaderReset(shaders[i]);
  xi = (float *)VoShaderFindGlobalAddress("xi");
  yi = (float *)VoShaderFindGlobalAddress("yi");
  if (xi == NULL || yi == NULL) s |= 4;
  for (i = 0; xi != NULL && yi != NULL && i < 16; ++i) {
    const float P[3] = {0.3f * (float)(i % 4), 0.25f * (float)(i / 4), 0};
    s |= VoShadingInitialisePoint(P, N);
    g = VoShaderGetGlobals();
    g->P = g->Pw;
    *xi = 0.37f * (float)(i % 4) - 0.2f;
    *yi = 0.29f * (float)(i / 4) + 0.1f;
    g->modI = 4.0f * (float)i;
    s |= VoShaderExecute(shaders[2]);
    g->Co[0] = g->Cb[0] * 0.5f;
    g->Co[1] = g->Cb[1] * 0.5f;
    g->Co[2] = g->Cb[2] * 0.5f;
    s |= VoShaderExecute(shaders[3]) | VoShaderExecute(shaders[4]) | VoShaderExecute(shaders[5]);
    Put(&t, "(%5.2f, %5.2f) Cb (%.6f, %.6f, %.6f) Co (%.6f, %.6f, %.6f) N (%.6f, %.6f, %.6f)\n", *xi, *yi,
        g->Cb[0], g->Cb[1], g->Cb[2], g->Co[0], g->Co[1], g->Co[2], g->N[0], g->N[1], g->N[2]);
  }
  Put(&t, "status 0x%x\n", (unsigned)s);
  s |= VoShadingTerminateImage();
  for (i = 5; i >= 0; --i) s |= VoShaderDestroy(shaders[i]);
  s |= VoTerminate();
  return s != 0 ? 3 : 0;
}

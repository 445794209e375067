/* The lite library through the C interface alone: a z-plane texture space,
 * a textured brick colour, a wrapped square transparency and the chrome 2D
 * reflectance shade 16 points of a plane under the default eye light. The
 * outcome is written as text into the caller's buffer; the answer is 0 when
 * every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

int vo_end_to_end_lite_library(char *buffer, size_t size) {
  Text t = {buffer, size};
  const float N[3] = {0, 0, 1};
  VtShader *shaders[4];
  VtShaderGlobals *g;
  VtStatus s = 0;
  int i;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  s |= VoRandomInitialise(3);
  shaders[0] = VoShaderCreate(VO_SHADER_TEXTURE_SPACE, "z plane");
  shaders[1] = VoShaderCreate(VO_SHADER_COLOUR, "wrapped textured brick");
  shaders[2] = VoShaderCreate(VO_SHADER_TRANSPARENCY, "wrapped square");
  shaders[3] = VoShaderCreate(VO_SHADER_REFLECTANCE, "chrome 2D");
  for (i = 0; i < 4; ++i)
    if (shaders[i] == NULL) {
      VoTerminate();
      return 2;
    }
  s |= SceneArgFloat(shaders[0], "scale", 0.5f);
  s |= SceneArgFloat(shaders[2], "s max", 0.8f);
  s |= VoShadingInitialiseImage(2);
  for (i = 0; i < 4; ++i) s |= VoShaderReset(shaders[i]);
  for (i = 0; i < 16; ++i) {
    const float P[3] = {0.15f * (float)(i % 4) - 0.1f, 0.2f * (float)(i / 4) - 0.3f, 0};
    s |= VoShadingInitialisePoint(P, N);
    g = VoShaderGetGlobals();
    g->P = g->Pw;
    g->dPds = g->dPdsStorage;
    g->dPdt = g->dPdtStorage;
    g->unitI[0] = 0.6f * (float)(i % 3) - 0.6f;
    g->unitI[1] = 0.3f;
    g->unitI[2] = -0.8f;
    s |= VoShaderExecute(shaders[0]) | VoShaderExecute(shaders[1]) | VoShaderExecute(shaders[2]);
    Put(&t, "(%5.2f, %5.2f): s %9.6f t %9.6f brick (%.6f, %.6f, %.6f) alpha %.6f", P[0], P[1], g->s, g->t,
        g->Co[0], g->Co[1], g->Co[2], g->alpha);
    s |= VoShaderExecute(shaders[3]);
    Put(&t, " chrome (%.6f, %.6f, %.6f)\n", g->Co[0], g->Co[1], g->Co[2]);
  }
  Put(&t, "status 0x%x\n", (unsigned)s);
  s |= VoShadingTerminateImage();
  for (i = 0; i < 4; ++i) s |= VoShaderDestroy(shaders[i]);
  s |= VoTerminate();
  return s != 0 ? 3 : 0;
}

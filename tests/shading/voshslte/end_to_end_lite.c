/* The super-lite library through the C interface alone: an x-plane texture
 * space, a plain colour and a plastic reflectance shade one point lit by the
 * default ambient light and a point light. The outcome is written as text
 * into the caller's buffer; the answer is 0 when every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

int vo_end_to_end_lite(char *buffer, size_t size) {
  Text t = {buffer, size};
  const float P[3] = {0, 0.5f, -0.5f}, N[3] = {1, 0, 0};
  VtShader *space, *colour, *plastic, *ambient, *point;
  VtReference *lights = NULL;
  VtShaderGlobals *g;
  VtStatus s = 0;
  int i;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  space = VoShaderCreate(VO_SHADER_TEXTURE_SPACE, "x plane");
  colour = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  plastic = VoShaderCreate(VO_SHADER_REFLECTANCE, "plastic");
  ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  point = VoShaderCreate(VO_SHADER_LIGHT, "point");
  if (space == NULL || colour == NULL || plastic == NULL || ambient == NULL || point == NULL) {
    VoTerminate();
    return 2;
  }
  s |= SceneArgFloat(space, "scale", 2);
  s |= SceneArgTriple(colour, "colour", VtColourType, 0.4f, 0.6f, 0.8f);
  s |= SceneArgTriple(point, "location", VtPoint, P[0] + 2, P[1], P[2] + 2);
  lights = VoShaderReferenceAppend(VoShaderReferenceCreate(ambient), VoShaderReferenceCreate(point));
  s |= VoLightListSet(lights);
  s |= VoShadingInitialiseImage(2);
  s |= VoShadingInitialisePoint(P, N);
  g = VoShaderGetGlobals();
  g->P = g->Pw;
  g->unitI[0] = -1;
  g->unitI[1] = g->unitI[2] = 0;
  s |= VoShaderReset(space) | VoShaderReset(colour) | VoShaderReset(plastic);
  s |= VoShaderExecute(space) | VoShaderExecute(colour);
  Put(&t, "x plane of scale 2 at (%.2f, %.2f, %.2f): s %.6f, t %.6f\n", P[0], P[1], P[2], g->s, g->t);
  Put(&t, "plain colour: Co (%.6f, %.6f, %.6f)\n", g->Co[0], g->Co[1], g->Co[2]);
  s |= VoShaderExecute(plastic);
  Put(&t, "plastic, ambient and point light at (%.1f, %.1f, %.1f): Co (%.6f, %.6f, %.6f)\n", P[0] + 2, P[1],
      P[2] + 2, g->Co[0], g->Co[1], g->Co[2]);
  Put(&t, "status 0x%x\n", (unsigned)s);

  s |= VoShadingTerminateImage();
  s |= VoLightListSet(NULL);
  s |= VoShaderReferenceDestroy(lights, 1);
  for (i = 0; i < 3; ++i) s |= VoShaderDestroy(i == 0 ? space : i == 1 ? colour : plastic);
  s |= VoTerminate();
  return s != 0 ? 3 : 0;
}

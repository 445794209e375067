/* Shader arguments and property records for scenes built through the C
 * interface alone: plain C, shared by the end-to-end scenes and the glass
 * scene of the classic library's test and benchmark. */
#ifndef VO_TEST_SCENE_ARGS_H
#define VO_TEST_SCENE_ARGS_H

#include <string.h>

#include <vo/vo_api.h>

/* A property record naming an array (VoPrimitiveCreateMesh's data). */
static inline VtTypedValue SceneRecord(const void *array) {
  VtTypedValue s;
  memset(&s, 0, sizeof s);
  s.type = VtGenericPtr;
  s.value.p = (void *)array;
  return s;
}

/* Sets a shader argument of three floats (a colour, point or vector). */
static inline VtStatus SceneArgTriple(VtShader *shader, const char *label, uint32_t type, float x, float y,
                                      float z) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  v.value.v[0] = x;
  v.value.v[1] = y;
  v.value.v[2] = z;
  return VoShaderSetArg(shader, label, &v);
}

/* Sets a float shader argument. */
static inline VtStatus SceneArgFloat(VtShader *shader, const char *label, float f) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtFloat;
  v.value.f = f;
  return VoShaderSetArg(shader, label, &v);
}

#endif /* VO_TEST_SCENE_ARGS_H */

/* Shader arguments and property records for scenes built through the C
 * interface alone: plain C, shared by the end-to-end scenes and the glass
 * scene of the classic library's test and benchmark. */
#ifndef VO_TEST_SCENE_ARGS_H
#define VO_TEST_SCENE_ARGS_H

#include <math.h>
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

/* A sphere of `slices` x `rings` quads, each cut into two triangles, with
 * smooth normals, centred at (cx, cy, cz) with radius r (at most 48 x 24:
 * the arrays are kept for the mesh). */
enum { kSceneSphereSlices = 48, kSceneSphereRings = 24 };
static inline VtPrimitive *SceneSphere(int slices, int rings, float cx, float cy, float cz, float r) {
  static float world[(kSceneSphereRings + 1) * (kSceneSphereSlices + 1)][3];
  static float normal[(kSceneSphereRings + 1) * (kSceneSphereSlices + 1)][3];
  static int32_t counts[2 * kSceneSphereRings * kSceneSphereSlices],
      indices[6 * kSceneSphereRings * kSceneSphereSlices];
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2];
  int i, j, t = 0;
  if (slices > kSceneSphereSlices || rings > kSceneSphereRings) return NULL;
  for (i = 0; i <= rings; ++i)
    for (j = 0; j <= slices; ++j) {
      const double theta = 3.14159265358979 * i / rings, phi = 2 * 3.14159265358979 * j / slices;
      float *n = normal[i * (slices + 1) + j], *w = world[i * (slices + 1) + j];
      n[0] = (float)(sin(theta) * cos(phi));
      n[1] = (float)cos(theta);
      n[2] = (float)(sin(theta) * sin(phi));
      w[0] = cx + r * n[0];
      w[1] = cy + r * n[1];
      w[2] = cz + r * n[2];
    }
  for (i = 0; i < rings; ++i)
    for (j = 0; j < slices; ++j) {
      const int a = i * (slices + 1) + j, b = a + 1, c = a + slices + 1, d = c + 1;
      counts[t] = 3;
      indices[3 * t] = a, indices[3 * t + 1] = b, indices[3 * t + 2] = c;
      ++t;
      counts[t] = 3;
      indices[3 * t] = b, indices[3 * t + 1] = d, indices[3 * t + 2] = c;
      ++t;
    }
  data[0] = SceneRecord(world);
  data[1] = SceneRecord(normal);
  return VoPrimitiveCreateMesh((uint32_t)t, NULL, counts, indices, 2, ids, data);
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

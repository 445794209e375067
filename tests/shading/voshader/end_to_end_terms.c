/* Reflectance and light classes written in C and used through the C
 * interface alone: "test matte" (ambient plus diffuse), "test plastic" (the
 * same plus a half-way highlight), "test point" and "test ambient" lights.
 * The lights are made the light list, an image is initialised, a 4 x 4 grid
 * of points on z = 0 facing +z is shaded through VoShaderExecute as seen
 * from an eye at (0, 0, 4), and the noise of each family is printed at
 * fixed points. The outcome is written as text into the caller's buffer;
 * the answer is 0 when every step succeeded.
 *
 * Worked by hand, the point (0.5, 0.5, 0) under the light (1, 1, 2) of
 * colour (1, 0.9, 0.8) with ambient 0.1: toLight = (0.5, 0.5, 2), distance
 * sqrt 4.5 = 2.12132, diffuse weight 2 / 2.12132 = 0.942809; matte red
 * 0.8 x (0.1 + 0.942809) = 0.834247. Unit incident (0.5, 0.5, -4) / 4.06202
 * = (0.123091, 0.123091, -0.984732); H = toLight / distance - unitI =
 * (0.112611, 0.112611, 1.927541), N . H / |H| = 1.927541 / 1.934121 =
 * 0.996598, to the 10th 0.966486; plastic red 0.834247 + 0.5 x 0.966486 =
 * 1.317490 (no clamp outside point shading). */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

/* A surface's instance data: the prepared flag first. */
typedef struct Surface {
  uint32_t prepared;
  float colour[3];
  float ambient, diffuse, specular, roughness;
} Surface;

static void *SurfaceCreate(void) {
  Surface *d = (Surface *)VoAllocate(sizeof(Surface));
  if (d != NULL) {
    memset(d, 0, sizeof *d);
    d->colour[0] = d->colour[1] = d->colour[2] = 1.0f;
    d->ambient = d->diffuse = d->specular = 1.0f;
    d->roughness = 0.1f;
  }
  return d;
}

static VtStatus Free(void *data) {
  VoDeallocate(data);
  return 0;
}

/* Argument 0 is the colour, 1 to 4 the factors and the roughness. */
static float *SurfaceFactor(Surface *d, uint32_t index) {
  float *factors[4];
  factors[0] = &d->ambient;
  factors[1] = &d->diffuse;
  factors[2] = &d->specular;
  factors[3] = &d->roughness;
  return index >= 1 && index <= 4 ? factors[index - 1] : NULL;
}

static VtStatus SurfaceGet(void *data, uint32_t index, VtTypedValue *v) {
  Surface *d = (Surface *)data;
  memset(v, 0, sizeof *v);
  if (index == 0) {
    v->type = VtColourType;
    memcpy(v->value.v, d->colour, sizeof d->colour);
  } else if (SurfaceFactor(d, index) != NULL) {
    v->type = VtFloat;
    v->value.f = *SurfaceFactor(d, index);
  }
  return 0;
}

static VtStatus SurfaceSet(void *data, uint32_t index, VtTypedValue *v) {
  Surface *d = (Surface *)data;
  if (index == 0)
    memcpy(d->colour, v->value.v, sizeof d->colour);
  else if (SurfaceFactor(d, index) != NULL)
    *SurfaceFactor(d, index) = v->value.f;
  return 0;
}

/* Co = colour x (ambient x Ka + diffuse x Kd). */
static void MatteInto(const Surface *d, float *co) {
  float a[3], l[3];
  int i;
  VoAmbientTerm(a);
  VoDiffuseTerm(l);
  for (i = 0; i < 3; ++i) co[i] = d->colour[i] * (d->ambient * a[i] + d->diffuse * l[i]);
}

static VtStatus MatteEvaluate(void *data) {
  MatteInto((const Surface *)data, VoShaderGetGlobals()->Co);
  return 0;
}

/* The matte colour plus Ks x the half-way highlight of exponent 1 / roughness. */
static VtStatus PlasticEvaluate(void *data) {
  const Surface *d = (const Surface *)data;
  float *co = VoShaderGetGlobals()->Co, h[3];
  int i;
  MatteInto(d, co);
  VoSpecularTerm(h, 1.0 / d->roughness);
  for (i = 0; i < 3; ++i) co[i] += d->specular * h[i];
  return 0;
}

/* Lights: the kernel's light record, of the kind the class gives. */
static void *LightCreate(int32_t kind) {
  VtLightData *d = (VtLightData *)VoAllocate(sizeof(VtLightData));
  if (d != NULL) {
    memset(d, 0, sizeof *d);
    d->kind = kind;
    d->self = d;
  }
  return d;
}
static void *PointCreate(void) { return LightCreate(VO_LIGHT_POINT); }
static void *AmbientCreate(void) { return LightCreate(VO_LIGHT_AMBIENT); }

/* Argument 0 is the colour, 1 the position ("from"). */
static VtStatus LightGet(void *data, uint32_t index, VtTypedValue *v) {
  const VtLightData *d = (const VtLightData *)data;
  memset(v, 0, sizeof *v);
  v->type = index == 0 ? VtColourType : VtPoint;
  if (index == 0)
    memcpy(v->value.v, &d->colour, sizeof d->colour);
  else
    memcpy(v->value.v, d->position, sizeof d->position);
  return 0;
}

static VtStatus LightSet(void *data, uint32_t index, VtTypedValue *v) {
  VtLightData *d = (VtLightData *)data;
  if (index == 0)
    memcpy(&d->colour, v->value.v, sizeof d->colour);
  else
    memcpy(d->position, v->value.v, sizeof d->position);
  return 0;
}

/* A class: its string table (name, then labels), prototype and entries. */
static VtStatus Register(uint32_t type, const char *identifier, uint32_t count, const char **strings,
                         VtProc create, VtProc get, VtProc set, VtProc evaluate) {
  const uint32_t labels[5] = {1, 2, 3, 4, 5};
  VtStatus s = VoStringTableCreate(identifier, count + 1, strings);
  s |= VoShaderPrototypeCreate(type, identifier, 0, count, labels);
  s |= SceneClassEntry(VO_SLOT_CREATE, create);
  s |= SceneClassEntry(VO_SLOT_DESTROY, (VtProc)Free);
  s |= SceneClassEntry(VO_SLOT_GET_ARG, get);
  s |= SceneClassEntry(VO_SLOT_SET_ARG, set);
  if (evaluate != NULL) s |= SceneClassEntry(VO_SLOT_EVALUATE, evaluate);
  return s;
}

static VtStatus RegisterClasses(void) {
  const char *matte[6] = {"test matte", "colour", "Ka", "Kd", "Ks", "roughness"};
  const char *plastic[6] = {"test plastic", "colour", "Ka", "Kd", "Ks", "roughness"};
  const char *point[3] = {"test point", "colour", "from"};
  const char *ambient[3] = {"test ambient", "colour", "from"};
  VtStatus s = Register(VO_SHADER_REFLECTANCE, "vxs_test_matte_reflectance", 5, matte, (VtProc)SurfaceCreate,
                        (VtProc)SurfaceGet, (VtProc)SurfaceSet, (VtProc)MatteEvaluate);
  s |= Register(VO_SHADER_REFLECTANCE, "vxs_test_plastic_reflectance", 5, plastic, (VtProc)SurfaceCreate,
                (VtProc)SurfaceGet, (VtProc)SurfaceSet, (VtProc)PlasticEvaluate);
  s |= Register(VO_SHADER_LIGHT, "vxs_test_point_light", 2, point, (VtProc)PointCreate, (VtProc)LightGet,
                (VtProc)LightSet, NULL);
  s |= Register(VO_SHADER_LIGHT, "vxs_test_ambient_light", 2, ambient, (VtProc)AmbientCreate,
                (VtProc)LightGet, (VtProc)LightSet, NULL);
  return s;
}

/* Shades the point (x, y, 0) facing +z, seen from (0, 0, 4). */
static VtStatus ShadeAt(VtShader *shader, float x, float y) {
  const float point[3] = {x, y, 0}, up[3] = {0, 0, 1};
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float length = sqrtf(x * x + y * y + 16.0f);
  VtStatus s = VoShadingInitialisePoint(point, up);
  g->unitI[0] = x / length;
  g->unitI[1] = y / length;
  g->unitI[2] = -4.0f / length;
  return s | VoShaderExecute(shader);
}

static VtStatus PutGrid(Text *t, VtShader *matte, VtShader *plastic) {
  static const float at[4] = {-1.5f, -0.5f, 0.5f, 1.5f};
  const float *co = VoShaderGetGlobals()->Co;
  VtStatus s = 0;
  int i, j;
  for (j = 0; j < 4; ++j)
    for (i = 0; i < 4; ++i) {
      Put(t, "(%5.2f, %5.2f)", at[i], at[j]);
      s |= ShadeAt(matte, at[i], at[j]);
      Put(t, " matte (%.4f, %.4f, %.4f)", co[0], co[1], co[2]);
      s |= ShadeAt(plastic, at[i], at[j]);
      Put(t, " plastic (%.4f, %.4f, %.4f)\n", co[0], co[1], co[2]);
    }
  return s;
}

static VtStatus PutNoise(Text *t) {
  static const char *names[3] = {"classic", "Perlin", "sparse"};
  static const float points[3][3] = {{0.25f, 0.5f, 0.75f}, {12.3f, -4.5f, 6.7f}, {-100.1f, 33.3f, 0.01f}};
  VtTypedValue family;
  VtStatus s = 0;
  int f, p;
  for (f = 0; f < 3; ++f) {
    memset(&family, 0, sizeof family);
    family.type = VtEnum;
    family.value.i = f;
    s |= VoControlSet(VO_CONTROL_SHADER_NOISE_FAMILY, &family);
    Put(t, "noise %-7s", names[f]);
    for (p = 0; p < 3; ++p) Put(t, " %.6f", VoNoise3(points[p]));
    Put(t, "\n");
  }
  return s;
}

int vo_end_to_end_terms(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtShader *matte, *plastic, *point, *ambient;
  VtReference *lights;
  int failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  if (RegisterClasses() != 0) {
    VoTerminate();
    return 2;
  }
  matte = VoShaderCreate(VO_SHADER_REFLECTANCE, "test matte");
  plastic = VoShaderCreate(VO_SHADER_REFLECTANCE, "test plastic");
  point = VoShaderCreate(VO_SHADER_LIGHT, "test point");
  ambient = VoShaderCreate(VO_SHADER_LIGHT, "test ambient");
  if (matte == NULL || plastic == NULL || point == NULL || ambient == NULL) {
    VoTerminate();
    return 3;
  }
  failed |= SceneArgTriple(matte, "colour", VtColourType, 0.8f, 0.4f, 0.2f) != 0;
  failed |= SceneArgTriple(plastic, "colour", VtColourType, 0.8f, 0.4f, 0.2f) != 0;
  failed |= SceneArgFloat(plastic, "Ks", 0.5f) != 0;
  failed |= SceneArgTriple(point, "colour", VtColourType, 1.0f, 0.9f, 0.8f) != 0;
  failed |= SceneArgTriple(point, "from", VtPoint, 1.0f, 1.0f, 2.0f) != 0;
  failed |= SceneArgTriple(ambient, "colour", VtColourType, 0.1f, 0.1f, 0.1f) != 0;

  lights = VoShaderReferenceAppend(VoShaderReferenceCreate(point), VoShaderReferenceCreate(ambient));
  failed |= VoLightListSet(lights) != 0;
  failed |= VoShadingInitialiseImage(2) != 0;
  Put(&t, "ambient (%.4f, %.4f, %.4f)\n", VoShaderGetGlobals()->ambientColour[0],
      VoShaderGetGlobals()->ambientColour[1], VoShaderGetGlobals()->ambientColour[2]);
  failed |= PutGrid(&t, matte, plastic) != 0;
  failed |= VoShadingTerminateImage() != 0;
  failed |= PutNoise(&t) != 0;

  failed |= VoLightListSet(NULL) != 0;
  failed |= VoShaderReferenceDestroy(lights, 1) != 0;
  failed |= (VoShaderDestroy(matte) | VoShaderDestroy(plastic)) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 4 : 0;
}

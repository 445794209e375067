/* A shader class written in C and used through the C interface alone: the
 * class "c tint" multiplies its colour by its strength into the shaded
 * colour Co. It is registered, instantiated, given arguments, executed,
 * read back through the global's address, saved and restored with the
 * environment stack, and destroyed. The outcome is written as text into the
 * caller's buffer; the answer is 0 when every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

/* The class's instance data: the prepared flag first. */
typedef struct Tint {
  uint32_t prepared;
  float colour[3];
  float strength;
} Tint;

static void *TintCreate(void) {
  Tint *d = (Tint *)VoAllocate(sizeof(Tint));
  if (d != NULL) {
    memset(d, 0, sizeof *d);
    d->strength = 1.0f;
  }
  return d;
}

static VtStatus TintDestroy(void *data) {
  VoDeallocate(data);
  return 0;
}

static VtStatus TintGet(void *data, uint32_t index, VtTypedValue *v) {
  const Tint *d = (const Tint *)data;
  memset(v, 0, sizeof *v);
  if (index == 0) {
    v->type = VtColourType;
    memcpy(v->value.v, d->colour, sizeof d->colour);
  } else {
    v->type = VtFloat;
    v->value.f = d->strength;
  }
  return 0;
}

static VtStatus TintSet(void *data, uint32_t index, VtTypedValue *v) {
  Tint *d = (Tint *)data;
  if (index == 0)
    memcpy(d->colour, v->value.v, sizeof d->colour);
  else
    d->strength = v->value.f;
  return 0;
}

static VtStatus TintEvaluate(void *data) {
  const Tint *d = (const Tint *)data;
  VtShaderGlobals *g = VoShaderGetGlobals();
  int i;
  for (i = 0; i < 3; ++i) g->Co[i] = d->colour[i] * d->strength;
  return 0;
}

static VtStatus RegisterTint(void) {
  const char *strings[3] = {"c tint", "colour", "strength"};
  const uint32_t labels[2] = {1, 2};
  VtStatus s = VoStringTableCreate("vxs_c_tint_colour", 3, strings);
  s |= VoShaderPrototypeCreate(VO_SHADER_COLOUR, "vxs_c_tint_colour", 0, 2, labels);
  s |= VoShaderUseGlobal("Co");
  s |= SceneClassEntry(VO_SLOT_CREATE, (VtProc)TintCreate);
  s |= SceneClassEntry(VO_SLOT_DESTROY, (VtProc)TintDestroy);
  s |= SceneClassEntry(VO_SLOT_GET_ARG, (VtProc)TintGet);
  s |= SceneClassEntry(VO_SLOT_SET_ARG, (VtProc)TintSet);
  s |= SceneClassEntry(VO_SLOT_EVALUATE, (VtProc)TintEvaluate);
  return s;
}

static void PutColour(Text *t, const char *name, const float *c) {
  Put(t, "%s (%.4f, %.4f, %.4f)\n", name, c[0], c[1], c[2]);
}

int vo_end_to_end_shader(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtShader *tint;
  VtTypedValue v;
  float *co;
  uint32_t type = 0, count = 0;
  const char *name = NULL;
  void *labels = NULL;
  int failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise(); /* the driver framework is missing: its mode cannot be set */
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);

  failed |= RegisterTint() != 0;
  tint = VoShaderCreate(VO_SHADER_COLOUR, "c tint");
  if (failed || tint == NULL) {
    VoTerminate();
    return 2;
  }
  VoShaderEnquire(tint, &type, &name, &count, &labels);
  Put(&t, "class \"%s\" type 0x%x, %u arguments: \"%s\", \"%s\"\n", name, (unsigned)type, (unsigned)count,
      ((const char **)labels)[0], ((const char **)labels)[1]);
  Put(&t, "uses Co %u, N %u\n", (unsigned)VoShaderGetGlobalUse(tint, "Co"),
      (unsigned)VoShaderGetGlobalUse(tint, "N"));

  memset(&v, 0, sizeof v);
  v.type = VtColourType;
  v.value.v[0] = 0.5f;
  v.value.v[1] = 0.25f;
  v.value.v[2] = 1.0f;
  failed |= VoShaderSetArg(tint, "colour", &v) != 0;
  memset(&v, 0, sizeof v);
  v.type = VtFloat;
  v.value.f = 0.5f;
  failed |= VoShaderSetArg(tint, "strength", &v) != 0;
  v.type = VtInt32;
  Put(&t, "strength as an integer: 0x%08x\n", (unsigned)VoShaderSetArg(tint, "strength", &v));

  co = (float *)VoShaderFindGlobalAddress("Co");
  Put(&t, "Co at offset %u\n", (unsigned)VoShaderFindGlobalOffset("Co"));
  failed |= VoShaderExecute(tint) != 0;
  PutColour(&t, "executed", co);
  failed |= VoShaderPushEnvironment() != 0;
  co[0] = co[1] = co[2] = 9.0f;
  PutColour(&t, "changed", co);
  failed |= VoShaderPopEnvironment() != 0;
  PutColour(&t, "popped", co);
  Put(&t, "second pop: 0x%08x\n", (unsigned)VoShaderPopEnvironment());

  failed |= VoShaderDestroy(tint) != 0;
  Put(&t, "destroyed twice: 0x%08x\n", (unsigned)VoShaderDestroy(tint));
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}

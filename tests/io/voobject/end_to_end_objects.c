/* An object file written and read back through the C interface alone: one
 * record of every scalar and fixed type, strings, typed values and an
 * application's own type, through a file from VoFileOpen and the default
 * hooks. What was read is written as text into the caller's buffer; the
 * answer is 0 when every step succeeded. */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

/* The application's type 600. */
typedef struct Sample {
  double weight;
  char *label;
  int32_t counts[3];
} Sample;

static VtStatus SampleTypeRegister(void) {
  const uint32_t types[3] = {VO_OBJECT_DOUBLE, VO_OBJECT_STRING, VO_OBJECT_INT32};
  const uint32_t counts[3] = {1, 1, 3};
  const uint32_t offsets[3] = {offsetof(Sample, weight), offsetof(Sample, label), offsetof(Sample, counts)};
  const uint32_t versions[3] = {1, 1, 1};
  return VoDataObjectCreate(600, 1, 3, types, counts, offsets, versions, sizeof(Sample));
}

static VtObjectValue Value(uint32_t type) {
  VtObjectValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  return v;
}

static int WriteAll(void *file) {
  static char label[] = "sample";
  static const uint16_t wide[] = {'w', 0x00e9, 'd', 0};
  Sample sample = {0.75, label, {3, -2, 1}};
  VtTypedValue typed;
  VtObjectValue v;
  uint32_t id, i;
  int failed = VoObjectOpen(file, 2) != 0;
  v = Value(VO_OBJECT_INT32), v.value.i = -123456;
  failed |= VoObjectWrite(file, &v) != 0;
  v = Value(VO_OBJECT_NAT32), v.value.u = 4000000000u;
  failed |= VoObjectWrite(file, &v) != 0;
  v = Value(VO_OBJECT_WORD), v.value.u = 0xC0FFEEu;
  failed |= VoObjectWrite(file, &v) != 0;
  v = Value(VO_OBJECT_FLOAT), v.value.f = 1.5f;
  failed |= VoObjectWrite(file, &v) != 0;
  v = Value(VO_OBJECT_DOUBLE), v.value.d = 3.141592653589793;
  failed |= VoObjectWrite(file, &v) != 0;
  for (id = VO_OBJECT_VECTOR; id <= VO_OBJECT_FLOAT4_B; ++id) {
    v = Value(id);
    if (id == VO_OBJECT_DOUBLE_POINT || id == VO_OBJECT_DOUBLE_VECTOR || id == VO_OBJECT_DOUBLE4 ||
        id == VO_OBJECT_MATRIX || id == VO_OBJECT_DOUBLE4_B)
      for (i = 0; i < 16; ++i) v.value.doubles[i] = id + i / 8.0;
    else
      for (i = 0; i < 32; ++i) v.value.floats[i] = (float)id - i / 4.0f;
    failed |= VoObjectWrite(file, &v) != 0;
  }
  v = Value(VO_OBJECT_STRING), v.value.s = label;
  failed |= VoObjectWrite(file, &v) != 0;
  v = Value(VO_OBJECT_WIDE_STRING), v.value.ws = (uint16_t *)wide;
  failed |= VoObjectWrite(file, &v) != 0;
  memset(&typed, 0, sizeof typed);
  typed.type = VtColourType, typed.value.v[0] = 0.25f, typed.value.v[1] = 0.5f, typed.value.v[2] = 1;
  v = Value(VO_OBJECT_TYPED_VALUE), v.value.p = &typed;
  failed |= VoObjectWrite(file, &v) != 0;
  v = Value(600), v.value.p = &sample;
  failed |= VoObjectWrite(file, &v) != 0;
  failed |= VoObjectClose(file) != 0;
  return failed;
}

static void PutRecord(Text *t, int n, VtStatus status, const VtObjectValue *v) {
  uint32_t i;
  Put(t, "record %d: type %u status 0x%x:", n, (unsigned)v->type, (unsigned)status);
  switch (v->type) {
    case VO_OBJECT_INT32: Put(t, " %d", (int)v->value.i); break;
    case VO_OBJECT_NAT32: Put(t, " %u", (unsigned)v->value.u); break;
    case VO_OBJECT_FLOAT: Put(t, " %.9g", v->value.f); break;
    case VO_OBJECT_DOUBLE: Put(t, " %.17g", v->value.d); break;
    case VO_OBJECT_STRING: Put(t, " \"%s\"", v->value.s); break;
    case VO_OBJECT_WIDE_STRING:
      for (i = 0; v->value.ws[i] != 0; ++i) Put(t, " U+%04x", (unsigned)v->value.ws[i]);
      break;
    case VO_OBJECT_TYPED_VALUE: {
      const VtTypedValue *typed = (const VtTypedValue *)v->value.p;
      Put(t, " code %u (%.9g, %.9g, %.9g)", (unsigned)typed->type, typed->value.v[0], typed->value.v[1],
          typed->value.v[2]);
      break;
    }
    case 600: {
      const Sample *s = (const Sample *)v->value.p;
      Put(t, " weight %.17g label \"%s\" counts %d %d %d", s->weight, s->label, (int)s->counts[0],
          (int)s->counts[1], (int)s->counts[2]);
      break;
    }
    case VO_OBJECT_DOUBLE_POINT:
    case VO_OBJECT_DOUBLE_VECTOR:
    case VO_OBJECT_DOUBLE4:
    case VO_OBJECT_MATRIX:
    case VO_OBJECT_DOUBLE4_B:
      for (i = 0; i < 16; ++i) Put(t, " %.17g", v->value.doubles[i]);
      break;
    default:
      for (i = 0; i < 32; ++i) Put(t, " %.9g", v->value.floats[i]);
      break;
  }
  Put(t, "\n");
}

/* Frees what a record handed out: strings and blocks by the type's
 * deallocator, and what those blocks own. */
static void RecordFree(const VtObjectValue *v) {
  VtDataObjectDeallocator release = VoDataObjectGetDeallocator(v->type);
  if (v->type == 600) VoDataObjectGetDeallocator(VO_OBJECT_STRING)(((Sample *)v->value.p)->label);
  if (v->type == VO_OBJECT_STRING || v->type == VO_OBJECT_WIDE_STRING || v->type == VO_OBJECT_TYPED_VALUE ||
      v->type == 600)
    release(v->value.p);
}

static int ReadAll(Text *t, void *file) {
  VtObjectValue v;
  VtStatus status;
  int n, failed = VoObjectOpen(file, 1) != 0;
  for (n = 0; n < 100 && !failed; ++n) {
    v = Value(0);
    status = VoObjectRead(file, &v);
    if (v.type == VO_OBJECT_END) break;
    failed |= status != 0;
    PutRecord(t, n, status, &v);
    RecordFree(&v);
  }
  Put(t, "end after %d records\n", n);
  failed |= VoObjectClose(file) != 0;
  return failed;
}

int vo_end_to_end_objects(char *buffer, size_t size) {
  Text t = {buffer, size};
  char path[64];
  void *file;
  long length = 0;
  int failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  snprintf(path, sizeof path, "/tmp/vo_end_to_end_objects_%ld.vob", (long)getpid());
  VoInitialise(); /* the driver framework is missing: its mode cannot be set */
  failed |= SampleTypeRegister() != 0;

  file = VoFileOpen(path, 2);
  failed |= file == NULL || WriteAll(file);
  if (file != NULL) VoFileClose(file);

  file = VoFileOpen(path, 1);
  if (file != NULL) {
    failed |= ReadAll(&t, file);
    fseek((FILE *)file, 0, SEEK_END);
    length = ftell((FILE *)file);
    VoFileClose(file);
  }
  remove(path);
  Put(&t, "file of %ld bytes\n", length);
  failed |= VoTerminate() != 0;
  return failed ? 2 : 0;
}

// The pro shader library's private header: the module record (the shared
// state of the light-scattering foreground, kept per worker), the class
// list the module's start registers, and the instance words of the classes
// tests look into.
#pragma once

#include <cstddef>

#include <vo/vo_photometry.h>

#include "shading/shaderlib/face.h"

namespace vo::pro {

using namespace shaderlib;

struct ProModuleRecord;
// Copies the shared state for a worker's record: replaces copy->shared.
using ProSharedCopyProc = VtStatus (*)(void *shared, ProModuleRecord *copy);
using ProSharedFreeProc = VtStatus (*)(void *shared);

// The module record: one per process, a copy per worker of a threaded pass.
struct ProModuleRecord {
  void *shared;               // the light-scattering state, null until made
  ProSharedCopyProc copy;     // null until set
  ProSharedFreeProc release;  // null until set
  VtMutexWord *mutex;         // made by VoMutexCreate
  uint32_t copied;            // 0 in the module's own record, 1 in a worker's copy
};
static_assert(offsetof(ProModuleRecord, copy) == 8 && offsetof(ProModuleRecord, release) == 16 &&
              offsetof(ProModuleRecord, mutex) == 24 && offsetof(ProModuleRecord, copied) == 32 &&
              sizeof(ProModuleRecord) == 40);

// The calling context's record (a worker's copy inside a worker), or null
// while the module is not started.
ProModuleRecord *ProRecordGet();
// Stores the shared state's copy and free procedures in the calling
// context's record. Answers 0 (0x20000012 without a record).
VtStatus ProRecordProceduresSet(ProSharedCopyProc copy, ProSharedFreeProc release);

// The entries of the library's lights: evaluation in slot 3 only (the
// kernel's light loop calls it), no slots 2, 5, 6 or 11.
constexpr Entries LightEntries(VtShaderDataProc evaluate, VtShaderDataProc prepare, VtShaderArgProc get,
                               VtShaderArgProc set, VtShaderCreateProc create, VtShaderDataProc destroy) {
  Entries e;
  e.evaluateImage = evaluate;
  e.prepare = prepare;
  e.get = get;
  e.set = set;
  e.create = create;
  e.destroy = destroy;
  return e;
}

// The byte offsets of a light's field table: of a field of the light
// record, and of a field of the class's words in the record's class area.
#define VO_LIGHT_RECORD_OFFSET(field) static_cast<uint32_t>(offsetof(VtLightData, field))
#define VO_LIGHT_WORD_OFFSET(Words, field) \
  static_cast<uint32_t>(offsetof(VtLightData, classArea) + offsetof(Words, field))

// The classes in the library's order: a null row is a class still to come.
extern const ClassDescription kGoniometric, kSky;
extern const ClassDescription *const kProClassList[18];

// The goniometric light's words in its light record's class area. The
// photometric record is common.classData; common.colour is the filter as
// set, lampColour the record's colour after the last preparation.
struct GoniometricWords {
  VtAdvancedLightWords common;
  float basePower;          // "power" as given
  float loadedPower;        // the file's power from the last load without a given power, else 0
  float colourTemperature;  // the last accepted "colour temperature", 0 none
  char *fileName;           // owned
  VtColour lampColour;      // the record's colour (filtered), once prepared
  int32_t loaded;           // the last preparation read the file
  VtStatus loadStatus;      // and answered this
  float softness;           // effective
  int32_t fewest, most;     // samples
};
static_assert(sizeof(GoniometricWords) <= VO_LIGHT_CLASS_AREA_BYTES);
static_assert(offsetof(GoniometricWords, common) == 0);

inline GoniometricWords *Goniometric(VtLightData *d) {
  return reinterpret_cast<GoniometricWords *>(d->classArea.bytes);
}
inline VtPhotometricRecord *Photometric(VtLightData *d) {
  return static_cast<VtPhotometricRecord *>(Goniometric(d)->common.classData);
}

// The goniometric light's shadow at the point (0 without maps, or for the
// point at "from").
double GoniometricShadow(const float *point, void *, const float *normal, VtLightData *d);

}  // namespace vo::pro

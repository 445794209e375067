// The pro shader library as a module (number 76): its query function, its
// module record (the light-scattering foreground's shared state, copied for
// every worker of a threaded pass through the procedures that class sets),
// and the start that registers the classes whatever the record's making
// answered.

#include "shading/voshpro/area_light.h"
#include "shading/voshpro/scattering.h"
#include "shading/voshpro/voshpro.h"
#include "shading/voshpro/surfaces.h"
#include "kernel/vosystem/face.h"

namespace vo::pro {

namespace {

ModuleState<ProModuleRecord> g_record(VO_MODULE_PRO);

// A worker's copy: the words, the shared state copied by the procedure the
// class set (a copy whose state copy fails is freed and answers that
// status), the flag 1.
VtStatus RecordCopy(void *state, void **copy) {
  if (copy == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *copy = nullptr;
  const auto *from = static_cast<const ProModuleRecord *>(state);
  if (from == nullptr) return 0;
  auto *to = static_cast<ProModuleRecord *>(VoAllocate(sizeof(ProModuleRecord)));
  if (to == nullptr) return VO_STATUS_NO_MEMORY;
  *to = *from;
  to->copied = 1;
  if (from->copy != nullptr) {
    const VtStatus s = from->copy(from->shared, to);
    if (s != 0) {
      VoDeallocate(to);
      return s;
    }
  }
  *copy = to;
  return 0;
}

// Frees the shared state through the procedure the class set, then the
// record.
VtStatus RecordFree(void *state) {
  auto *r = static_cast<ProModuleRecord *>(state);
  if (r == nullptr) return 0;
  if (r->release != nullptr) (void)r->release(r->shared);
  VoDeallocate(r);
  return 0;
}

VtStatus Initialise() {
  auto *r = static_cast<ProModuleRecord *>(VoAllocate(sizeof(ProModuleRecord)));
  if (r == nullptr) return VO_STATUS_NO_MEMORY;
  *r = ProModuleRecord{};
  const VtStatus registered = VoContextVariablesRegister(VO_MODULE_PRO, r, &RecordCopy, &RecordFree, nullptr);
  if (registered != 0) {
    // Nothing holds the record: it goes now rather than at terminate.
    VoDeallocate(r);
    return registered;
  }
  g_record.SetMaster(r);
  r->mutex = VoMutexCreate();
  if (r->mutex == nullptr) return VO_STATUS_NO_MEMORY;
  return registered;
}

VtStatus ClassRegistration() {
  for (const ClassDescription *d : kProClassList)
    if (d != nullptr) (void)ClassCreate(*d);
  return 0;
}

VtStatus Start() {
  SurfacesStart();
  const VtStatus s = Initialise();
  return s | ClassRegistration();
}

// Unregisters the record first (no worker copy is made of a record on its
// way out), then destroys the mutex and frees the record, with the shared
// state, through the record's free procedure.
VtStatus Terminate() {
  ProModuleRecord *r = g_record.Master();
  if (r == nullptr) return 0;
  const VtStatus unregistered = g_record.Unregister();
  const VtStatus mutex = r->mutex != nullptr ? VoMutexDestroy(r->mutex) : 0;
  (void)RecordFree(r);
  return mutex | unregistered;
}

constexpr ModuleDescription kPro = {.number = VO_MODULE_PRO,
                                    .name = "voshpro",
                                    .banner = "voshpro: the pro shader library, measured and sky lights",
                                    .build_time = 904647757,
                                    .start = &Start,
                                    .terminate = &Terminate,
                                    .build_kind = "sod_"};

}  // namespace

ProModuleRecord *ProRecordGet() { return g_record.Get(); }

VtStatus ProRecordProceduresSet(ProSharedCopyProc copy, ProSharedFreeProc release) {
  ProModuleRecord *r = g_record.Get();
  if (r == nullptr) return VO_STATUS_BAD_ARGUMENT;
  r->copy = copy;
  r->release = release;
  return 0;
}

// The library's classes in its order (area light first, light scattering
// last).
const ClassDescription *const kProClassList[18] = {
    &kArea,                        // area light
    &kGoniometric,                 // goniometric light
    &kSky,                         // sky light
    &kAbsoluteCurvature,           // absolute curvature
    &kGaussianCurvature,           // gaussian curvature
    &kGeometricCurvature,          // geometric curvature
    &kMeanCurvature,               // mean curvature
    &kSurfaceEvaluation,           // surface evaluation
    &kRadiosity,                   // radiosity
    &kRadiosityMirror,             // radiosity mirror
    &kRadiosityPlastic,            // radiosity plastic
    &kRadiositySteppedFalse,       // radiosity stepped false
    &kTranslucency,                // translucency
    &kTranslucentPlastic,          // translucent plastic
    &kWrappedAnisotropic,          // wrapped anisotropic
    &kWrappedCircularAnisotropic,  // wrapped circular anisotropic
    &kGlow,                        // glow transparency
    &kScattering,                  // light scattering
};

}  // namespace vo::pro

namespace vo {

VtStatus VoEntryProShaders(uint32_t query, VtTypedValue *answer) {
  return ModuleQueryAnswer(pro::kPro, query, answer);
}

}  // namespace vo

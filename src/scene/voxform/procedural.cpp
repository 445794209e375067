// Procedural classes: operations given as application procedures, or
// answered through a cached linear transform that mirrors the matrices the
// application produces on demand; and the moving class built on them, whose
// transforms translate by a velocity times the kernel's time value.

#include <cstring>

#include "scene/voxform/transform.h"

namespace vo::xform {

namespace {

VtProceduralClassRecord *RecordOf(const VtTransform *t) {
  return reinterpret_cast<VtProceduralClassRecord *>(const_cast<VtTransformClass *>(t->cls));
}

// The cached transform follows the application's forward matrix. Failure
// leaves it as it was.
VtStatus CachedRefresh(const VtProceduralClassRecord *record, VtProceduralTransformData *d) {
  const double *forward = nullptr, *inverse = nullptr;
  VtStatus st = record->procedures.get_matrices(d->application_data, &forward, &inverse);
  if (st != 0) return st;
  if (forward == nullptr) return kErrorBadArgument;
  VtTransform *operand = OperandDefine(forward);
  if (operand == nullptr) return kErrorBadArgument;
  VtTransform fresh{&kIdentityClass, nullptr, 0, kFlagRecord};
  st = ConcatenateStep(&fresh, operand);
  if (st != 0) return st;
  (void)VoTransformSetIdentity(&d->cached);
  d->cached = fresh;
  return 0;
}

// A data record from the pool: count 1, version 1, an identity cache; null
// when out of memory.
VtProceduralTransformData *DataNew(TransformModuleState *s, void *application_data) {
  auto *d = static_cast<VtProceduralTransformData *>(VoPoolAllocate(s->procedural_data_pool));
  if (d != nullptr)
    *d = VtProceduralTransformData{application_data, VtTransform{&kIdentityClass, nullptr, 0, kFlagRecord}, 1,
                                   1};
  return d;
}

// Gives back a record that was never handed out, with its cache's data.
void DataDiscard(TransformModuleState *s, VtProceduralTransformData *d) {
  (void)VoTransformSetIdentity(&d->cached);
  (void)VoPoolFree(s->procedural_data_pool, d);
}

// ---- Slots 0-7 ---------------------------------------------------------------

VtStatus ProceduralRelease(VtTransform *t) {
  VtProceduralTransformData *d = Procedural(t);
  TransformModuleState *s = State();
  if (d == nullptr) return 0;
  if (s == nullptr) return kErrorBadArgument;
  t->data = nullptr;
  if (d->references > 1) {
    --d->references;
    return 0;
  }
  VtStatus st = VoTransformSetIdentity(&d->cached);
  if (auto release = RecordOf(t)->procedures.release) st |= release(d->application_data);
  st |= VoPoolFree(s->procedural_data_pool, d);
  return st;
}

void *ProceduralCopy(VtTransform *t) {
  VtProceduralTransformData *d = Procedural(t);
  const VtProceduralClassRecord *record = RecordOf(t);
  if (record->procedures.copy == nullptr) {
    if (d->references == UINT32_MAX) return nullptr;
    ++d->references;
    return d;
  }
  TransformModuleState *s = State();
  if (s == nullptr) return nullptr;
  VtProceduralTransformData *c = DataNew(s, nullptr);
  if (c == nullptr) return nullptr;
  if (!IsIdentity(&d->cached)) {
    void *cached = d->cached.cls->copy(&d->cached);
    if (cached == nullptr) {
      DataDiscard(s, c);
      return nullptr;
    }
    c->cached = VtTransform{d->cached.cls, cached, 0, d->cached.flags};
  }
  c->application_data = record->procedures.copy(d->application_data);
  if (c->application_data == nullptr) {
    DataDiscard(s, c);
    return nullptr;
  }
  return c;
}

VtStatus ProceduralGetMatrix(VtTransform *t, const double **forward, const double **inverse) {
  auto get = RecordOf(t)->procedures.get_matrices;
  if (get == nullptr) return kErrorBadArgument;
  const double *f = nullptr, *i = nullptr;
  const VtStatus st = get(Procedural(t)->application_data, &f, &i);
  if (forward != nullptr) *forward = f;
  if (inverse != nullptr) *inverse = i;
  return st;
}

uint32_t ProceduralUpdate(VtTransform *t, uint32_t *version) {
  VtProceduralTransformData *d = Procedural(t);
  const VtProceduralClassRecord *record = RecordOf(t);
  if (record->procedures.update == nullptr) {
    *version = d->version;
    return 0;
  }
  const VtStatus r = record->procedures.update(d->application_data);
  if (r == 0) {
    *version = d->version;
    return 0;
  }
  if (r != 1) return r;
  if (record->procedures.get_matrices != nullptr && CachedRefresh(record, d) != 0) return 2;
  ++d->version;
  *version = d->version;
  return 1;
}

VtStatus ProceduralPrint(VtTransform *t) {
  const VtProceduralTransformData *d = Procedural(t);
  const VtProceduralProcedures &p = RecordOf(t)->procedures;
  const bool given[9] = {p.release != nullptr, p.copy != nullptr,          p.get_matrices != nullptr,
                         p.update != nullptr,  p.print != nullptr,         p.point != nullptr,
                         p.normal != nullptr,  p.inverse_point != nullptr, p.inverse_normal != nullptr};
  char letters[10] = "dcgudpnPN";
  for (int i = 0; i < 9; ++i)
    if (!given[i]) letters[i] = '-';
  Post(VO_CLASS_DEBUG, kMessageProcedural, VO_MODULE_TRANSFORMS, static_cast<const char *>(letters),
       static_cast<const void *>(d->application_data), d->version, d->references);
  return p.print != nullptr ? p.print(d->application_data) : 0;
}

// ---- Slots 8-22 --------------------------------------------------------------

// Matrix-based: the operation on the cached transform.
template <class T, VtStatus (*Op)(T *, const T *, VtTransform *)>
VtStatus OnCached(T *out, const T *in, VtTransform *t) {
  return Op(out, in, &Procedural(t)->cached);
}
template <class T, VtStatus (*Op)(T *, const T *, const T *, VtTransform *)>
VtStatus OnCachedNormal(T *out, const T *point, const T *normal, VtTransform *t) {
  return Op(out, point, normal, &Procedural(t)->cached);
}

// Application procedures: the float slot converts to double and back on
// success; both write the output only on success.
template <class T, auto Member>
VtStatus ByPoint(T *out, const T *in, VtTransform *t) {
  auto proc = RecordOf(t)->procedures.*Member;
  if (proc == nullptr) return kErrorBadArgument;
  const double a[3] = {in[0], in[1], in[2]};
  double r[3];
  const VtStatus st = proc(r, a, Procedural(t)->application_data);
  if (st == 0)
    for (int k = 0; k < 3; ++k) out[k] = static_cast<T>(r[k]);
  return st;
}
template <class T, auto Member>
VtStatus ByNormal(T *out, const T *point, const T *normal, VtTransform *t) {
  auto proc = RecordOf(t)->procedures.*Member;
  if (proc == nullptr || point == nullptr) return kErrorBadArgument;
  const double p[3] = {point[0], point[1], point[2]};
  const double n[3] = {normal[0], normal[1], normal[2]};
  double r[3];
  const VtStatus st = proc(r, p, n, Procedural(t)->application_data);
  if (st == 0)
    for (int k = 0; k < 3; ++k) out[k] = static_cast<T>(r[k]);
  return st;
}

// One pair of slots (float and double) served by application procedure
// Member, by the cached transform, or by nobody.
template <auto Member, class Fs, class Ds>
void PairSet(VtProceduralClassRecord *r, Fs VtTransformClass::*float_slot, Ds VtTransformClass::*double_slot,
             Fs by_procedure, Ds by_procedure_double, Fs on_cached, Ds on_cached_double) {
  if (r->procedures.*Member != nullptr) {
    r->table.*float_slot = by_procedure;
    r->table.*double_slot = by_procedure_double;
  } else if (r->procedures.get_matrices != nullptr) {
    r->table.*float_slot = on_cached;
    r->table.*double_slot = on_cached_double;
  } else {
    r->table.*float_slot = &SlotRefuse;
    r->table.*double_slot = &SlotRefuse;
  }
}

// The pair of application procedure 5 (point), 6 (normal), 7 (inverse
// point) or 8 (inverse normal).
void PairRefresh(VtProceduralClassRecord *r, uint32_t index) {
  using P = VtProceduralProcedures;
  if (index == 5)
    PairSet<&P::point>(r, &VtTransformClass::point, &VtTransformClass::point_double,
                       &ByPoint<float, &P::point>, &ByPoint<double, &P::point>,
                       &OnCached<float, &VoTransformPoint>, &OnCached<double, &VoTransformPointDouble>);
  if (index == 6)
    PairSet<&P::normal>(r, &VtTransformClass::normal, &VtTransformClass::normal_double,
                        &ByNormal<float, &P::normal>, &ByNormal<double, &P::normal>,
                        &OnCachedNormal<float, &VoTransformNormal>,
                        &OnCachedNormal<double, &VoTransformNormalDouble>);
  if (index == 7)
    PairSet<&P::inverse_point>(r, &VtTransformClass::point_inverse, &VtTransformClass::point_inverse_double,
                               &ByPoint<float, &P::inverse_point>, &ByPoint<double, &P::inverse_point>,
                               &OnCached<float, &VoTransformPointInverse>,
                               &OnCached<double, &VoTransformPointInverseDouble>);
  if (index == 8)
    PairSet<&P::inverse_normal>(r, &VtTransformClass::normal_inverse,
                                &VtTransformClass::normal_inverse_double,
                                &ByNormal<float, &P::inverse_normal>, &ByNormal<double, &P::inverse_normal>,
                                &OnCachedNormal<float, &VoTransformNormalInverse>,
                                &OnCachedNormal<double, &VoTransformNormalInverseDouble>);
}

template <class P>
P As(VtProc proc) {
  return reinterpret_cast<P>(proc);
}

// ---- The moving class --------------------------------------------------------

VtMovingTransformData *Moving(void *data) { return static_cast<VtMovingTransformData *>(data); }

VtStatus MovingRelease(void *data) {
  TransformModuleState *s = State();
  return s != nullptr ? VoPoolFree(s->moving_pool, data) : kErrorBadArgument;
}

VtStatus MovingGetMatrices(void *data, const double **forward, const double **inverse) {
  *forward = Moving(data)->forward;
  *inverse = Moving(data)->inverse;
  return 0;
}

VtStatus MovingUpdate(void *data) {
  VtMovingTransformData *m = Moving(data);
  const double time = VoTimeGet();
  if (time == m->time) return 0;
  m->time = time;
  const double offset[3] = {time * m->velocity[0], time * m->velocity[1], time * m->velocity[2]};
  TranslationMatrices(m->forward, m->inverse, offset);
  return 1;
}

VtStatus MovingPrint(void *) { return 0; }

}  // namespace

VtProceduralClassRecord *ProceduralClassCreate() {
  TransformModuleState *s = State();
  if (s == nullptr) return nullptr;
  auto *r = static_cast<VtProceduralClassRecord *>(VoPoolAllocate(s->procedural_class_pool));
  if (r == nullptr) return nullptr;
  r->procedures = VtProceduralProcedures{};
  r->table = ClassRefusingOperations(&ProceduralRelease, &ProceduralCopy, &ProceduralGetMatrix,
                                     &SlotNotAvailable<VtTransform *>, &ProceduralUpdate, &ProceduralPrint,
                                     kClassProcedural);
  return r;
}

VtStatus ProceduralClassDestroy(VtProceduralClassRecord *record) {
  TransformModuleState *s = State();
  if (s == nullptr || record == nullptr) return kErrorBadArgument;
  return VoPoolFree(s->procedural_class_pool, record);
}

VtStatus ProceduralClassSetProcedure(VtProceduralClassRecord *r, uint32_t index, VtProc proc) {
  if (r == nullptr) return kErrorBadArgument;
  VtProceduralProcedures &p = r->procedures;
  VtTransformClass &c = r->table;
  switch (index) {
    case 0: p.release = As<decltype(p.release)>(proc); return 0;
    case 1: p.copy = As<decltype(p.copy)>(proc); return 0;
    case 3: p.update = As<decltype(p.update)>(proc); return 0;
    case 4: p.print = As<decltype(p.print)>(proc); return 0;
    case 2:
      p.get_matrices = As<decltype(p.get_matrices)>(proc);
      if (proc != nullptr) {
        c.vector = &OnCached<float, &VoTransformVector>;
        c.plane = &OnCached<float, &VoTransformPlane>;
        c.hpoint = &OnCached<float, &VoTransformHPoint>;
        c.bounds = &OnCached<float, &VoTransformBounds>;
        c.vector_double = &OnCached<double, &VoTransformVectorDouble>;
        c.plane_double = &OnCached<double, &VoTransformPlaneDouble>;
        c.hpoint_double = &OnCached<double, &VoTransformHPointDouble>;
        // Pairs without their own procedure go to the cached transform.
        for (uint32_t pair = 5; pair <= 8; ++pair) PairRefresh(r, pair);
      }
      return 0;
    case 5: p.point = As<decltype(p.point)>(proc); break;
    case 6: p.normal = As<decltype(p.normal)>(proc); break;
    case 7: p.inverse_point = As<decltype(p.inverse_point)>(proc); break;
    case 8: p.inverse_normal = As<decltype(p.inverse_normal)>(proc); break;
    default: return kErrorBadArgument;
  }
  PairRefresh(r, index);
  return 0;
}

VtTransform *ProceduralTransformCreate(VtProceduralClassRecord *record, void *application_data) {
  TransformModuleState *s = State();
  if (s == nullptr || record == nullptr) return nullptr;
  VtProceduralTransformData *d = DataNew(s, application_data);
  if (d == nullptr) return nullptr;
  // The cached transform mirrors the matrices from the start, so a class
  // without an update procedure still answers through it.
  if (record->procedures.get_matrices != nullptr) (void)CachedRefresh(record, d);
  VtTransform *t = RecordNew();
  if (t == nullptr) {
    DataDiscard(s, d);
    return nullptr;
  }
  t->cls = &record->table;
  t->data = d;
  return t;
}

VtStatus MovingClassStart(TransformModuleState *s) {
  s->moving_pool = VoPoolCreate(kPoolMoving, sizeof(VtMovingTransformData));
  if (s->moving_pool == nullptr) return kNoMemory;
  VtProceduralClassRecord *r = ProceduralClassCreate();
  if (r == nullptr) return kNoMemory;
  (void)ProceduralClassSetProcedure(r, 0, reinterpret_cast<VtProc>(&MovingRelease));
  (void)ProceduralClassSetProcedure(r, 2, reinterpret_cast<VtProc>(&MovingGetMatrices));
  (void)ProceduralClassSetProcedure(r, 3, reinterpret_cast<VtProc>(&MovingUpdate));
  (void)ProceduralClassSetProcedure(r, 4, reinterpret_cast<VtProc>(&MovingPrint));
  s->moving_class = r;
  return 0;
}

VtStatus MovingClassStop(TransformModuleState *s) {
  if (s->moving_pool == nullptr) return kErrorBadArgument;
  VtStatus st = VoPoolDispose(s->moving_pool);
  s->moving_pool = nullptr;
  if (s->moving_class != nullptr) st |= ProceduralClassDestroy(s->moving_class);
  s->moving_class = nullptr;
  return st;
}

VtTransform *MovingTransformCreate(const double *velocity) {
  TransformModuleState *s = State();
  if (s == nullptr || s->moving_class == nullptr || velocity == nullptr) return nullptr;
  auto *m = static_cast<VtMovingTransformData *>(VoPoolAllocate(s->moving_pool));
  if (m == nullptr) return nullptr;
  for (int k = 0; k < 3; ++k) m->velocity[k] = velocity[k];
  m->time = 0;
  (void)VoMatrixIdentity(m->forward);
  (void)VoMatrixIdentity(m->inverse);
  VtTransform *t = ProceduralTransformCreate(s->moving_class, m);
  if (t == nullptr) (void)VoPoolFree(s->moving_pool, m);
  return t;
}

}  // namespace vo::xform

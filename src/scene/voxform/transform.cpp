// Transform records: create, define, copy, destroy, matrices, inversion,
// concatenation, the translate and rotate operations, and the identity and
// linear classes.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "scene/voxform/transform.h"

namespace vo::xform {

namespace {

constexpr double kUnit[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// ---- The identity class ------------------------------------------------------

void *IdentityCopy(VtTransform *t) { return t->data; }

uint32_t IdentityUpdate(VtTransform *, uint32_t *version) {
  *version = 1;
  return 0;
}

// ---- The linear class -------------------------------------------------------

VtStatus LinearRelease(VtTransform *t) {
  TransformModuleState *s = State();
  if (s == nullptr) return kErrorBadArgument;
  VtStatus st = VoPoolFree(s->linear_pool, t->data);
  t->data = nullptr;
  return st;
}

void *LinearCopy(VtTransform *t) {
  TransformModuleState *s = State();
  if (s == nullptr) return nullptr;
  auto *d = static_cast<VtLinearTransformData *>(VoPoolAllocate(s->linear_pool));
  if (d != nullptr) std::memcpy(d, t->data, sizeof *d);
  return d;
}

VtStatus LinearGetMatrix(VtTransform *t, const double **forward, const double **inverse) {
  if (forward != nullptr) *forward = Linear(t)->forward;
  if (inverse != nullptr) *inverse = Linear(t)->inverse;
  return 0;
}

VtStatus LinearInvert(VtTransform *t) {
  if (t->flags & kFlagSingular) return kErrorBadArgument;
  VtLinearTransformData *d = Linear(t);
  std::swap(d->forward, d->inverse);
  return 0;
}

// Reclassification: the inverse, the scale and the reflection follow the
// forward matrix; an identity matrix makes the transform identity.
uint32_t LinearUpdate(VtTransform *t, uint32_t *version) {
  VtLinearTransformData *d = Linear(t);
  double scale = 0;
  uint32_t reflection = 0;
  const uint32_t result = VoTransformClassify(d->forward, d->inverse, &scale, &reflection);
  d->scale = scale;
  if (result == 0) {
    (void)VoTransformSetIdentity(t);
  } else {
    if (reflection) t->flags |= kFlagReflection;
    // The stored inverse is now the adjugate: say so.
    if (result & kFlagSingular) t->flags |= kFlagSingular;
  }
  *version = 1;
  return 0;
}

}  // namespace

// Both built-in classes are handled inline by the operations; their
// operation slots are never reached and refuse.
const VtTransformClass kIdentityClass = ClassRefusingOperations(
    &SlotZero<VtTransform *>, &IdentityCopy, &SlotRefuse<VtTransform *, const double **, const double **>,
    &SlotZero<VtTransform *>, &IdentityUpdate, &SlotZero<VtTransform *>, kClassIdentity);
const VtTransformClass kLinearClass = ClassRefusingOperations(
    &LinearRelease, &LinearCopy, &LinearGetMatrix, &LinearInvert, &LinearUpdate, &LinearPrint, kClassLinear);

VtStatus TransformMatrices(VtTransform *t, const double **forward, const double **inverse) {
  if (IsIdentity(t)) {
    *forward = kUnit;
    *inverse = kUnit;
    return 0;
  }
  const double *f = nullptr, *i = nullptr;
  const VtStatus s = t->cls->get_matrix(t, &f, &i);
  if (s != 0) return s;
  if (f == nullptr || i == nullptr) return kErrorBadArgument;
  *forward = f;
  *inverse = i;
  return 0;
}

VtStatus ConcatenateStep(VtTransform *t, VtTransform *u) {
  if (IsIdentity(u)) return 0;
  const uint32_t destroyed = t->flags & kFlagsKept;
  if (t->cls->code == kClassIdentity) {
    // The copy is made first, so that a failure leaves t as it was.
    void *data = u->cls->copy(u);
    if (data == nullptr) return kNoMemory;
    (void)t->cls->release(t);  // the identity class holds nothing
    t->flags = (u->flags & ~kFlagsKept) | destroyed;
    t->cls = u->cls;
    t->data = data;
    return 0;
  }
  const uint32_t flags = VoTransformFlagsMerge(u->flags, t->flags) | destroyed;
  if (t->cls->code == kClassLinear && u->cls->code == kClassLinear) {
    VtLinearTransformData *dt = Linear(t);
    const VtLinearTransformData *du = Linear(u);
    const double scale = dt->scale * du->scale;
    // The multiplication builds aside, so u may be t itself.
    VtStatus s = VoMatrixMultiply(dt->forward, dt->forward, du->forward);
    s |= VoMatrixMultiply(dt->inverse, du->inverse, dt->inverse);
    dt->scale = scale;
    if (s == 0) t->flags = flags;
    return s;
  }
  return ListConcatenate(t, u, flags);
}

}  // namespace vo::xform

namespace vo {

using namespace xform;

VtTransform *VoTransformCreate() { return RecordNew(); }

VtTransform *VoTransformDefine(const double *matrix) {
  if (matrix == nullptr) return nullptr;
  // An entry that is no finite number has no inverse to classify, and would
  // reach every point the transform moves and the bounds and shadow maps
  // made from them: it is refused as a singular matrix is, with null.
  for (int i = 0; i < 16; ++i)
    if (!std::isfinite(matrix[i])) return nullptr;
  VtTransform *operand = OperandDefine(matrix);
  if (operand == nullptr || (operand->flags & kFlagSingular)) return nullptr;
  return VoTransformCopy(operand);
}

VtTransform *VoTransformCopy(VtTransform *t) {
  if (t == nullptr || Refused(t)) return nullptr;
  VtTransform *c = RecordNew();
  if (c == nullptr) return nullptr;
  void *data = t->cls->copy(t);
  if (data == nullptr && t->cls->code != kClassIdentity) {
    (void)RecordFree(c);
    return nullptr;
  }
  c->cls = t->cls;
  c->data = data;
  c->flags = t->flags & ~kFlagDestroyed;
  return c;
}

VtStatus VoTransformDestroy(VtTransform *t) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  // Only records handed out and not yet freed are looked at, so a second
  // destroy of a freed transform never reads freed memory.
  if (t == nullptr || !TransformLive(t) || (t->flags & kFlagDestroyed)) return kErrorBadArgument;
  t->flags |= kFlagDestroyed;
  return VoTransformRelease(t);
}

VtStatus VoTransformRelease(VtTransform *t) {
  // Records that nobody counts (the module's static transforms, the cached
  // transform inside procedural data) have a count of 0 and are refused.
  if (t == nullptr || Refused(t) || t->references == 0) return kErrorBadArgument;
  if (--t->references != 0) return 0;
  VtStatus s = t->cls->release(t);
  s |= RecordFree(t);
  return s;
}

VtStatus VoTransformGetMatrix(VtTransform *t, double *matrix) {
  if (matrix == nullptr || Refused(t)) return kErrorBadArgument;
  if (IsIdentity(t)) return VoMatrixIdentity(matrix);
  const double *forward = nullptr;
  const VtStatus s = t->cls->get_matrix(t, &forward, nullptr);
  if (s != 0) return s;
  if (forward == nullptr) return kErrorBadArgument;
  std::memmove(matrix, forward, 16 * sizeof(double));
  return 0;
}

VtStatus VoTransformInvert(VtTransform *t) {
  if (Refused(t)) return kErrorBadArgument;
  if (IsIdentity(t)) return 0;
  return t->cls->invert(t);
}

VtStatus VoTransformConcatenate(VtTransform *t, VtTransform *second) {
  if (Refused(t) || Refused(second)) return kErrorBadArgument;
  if (second == nullptr) return 0;
  if (t == nullptr) return kErrorBadArgument;
  const VtStatus s = ConcatenateStep(t, second);
  if (s == 0 && t->cls->code == kClassLinear) {
    uint32_t version = 0;
    (void)t->cls->update(t, &version);
  }
  return s;
}

VtStatus VoTransformTranslate(VtTransform *t, const double *offset) {
  if (t == nullptr || offset == nullptr || Refused(t)) return kErrorBadArgument;
  return ConcatenateStep(t, OperandTranslation(offset));
}

VtStatus VoTransformRotateAxis(VtTransform *t, const double *point, const double *axis, double angle) {
  if (t == nullptr || point == nullptr || axis == nullptr || Refused(t)) return kErrorBadArgument;
  VtTransform *operand = OperandRotationAxis(point, axis, angle * 0.017453292519943295);
  if (operand == nullptr) return kErrorBadArgument;
  return ConcatenateStep(t, operand);
}

VtStatus VoTransformRotateMatrix(VtTransform *t, const double *row0, const double *row1, const double *row2) {
  if (t == nullptr || row0 == nullptr || row1 == nullptr || row2 == nullptr || Refused(t))
    return kErrorBadArgument;
  VtTransform *operand = OperandRotationRows(row0, row1, row2);
  if (operand == nullptr) return kErrorBadArgument;
  return ConcatenateStep(t, operand);
}

uint32_t VoTransformGetType(VtTransform *t) {
  if (Refused(t) || IsIdentity(t)) return 0;
  return (t->cls->code | t->flags) & ~kFlagsKept;
}

VtStatus VoTransformSetIdentity(VtTransform *t) {
  if (Refused(t)) return kErrorBadArgument;
  if (IsIdentity(t)) return 0;
  const VtStatus s = t->cls->release(t);
  if (s != 0) return s;
  t->flags &= kFlagsKept;
  t->cls = &kIdentityClass;
  t->data = nullptr;
  return 0;
}

uint32_t VoTransformUpdate(VtTransform *t) {
  if (Refused(t)) return 0;
  if (IsIdentity(t)) return 1;
  uint32_t version = 0;
  if (t->cls->update(t, &version) == 2) {
    t->flags |= kFlagInvariant;
    return 0;
  }
  return version;
}

uint32_t VoTransformFlagsMerge(uint32_t a, uint32_t b) {
  return ((a | b) & 0xa000u) | ((a ^ b) & 0x1000u) | std::max(a & 0x0ff0u, b & 0x0ff0u);
}

}  // namespace vo

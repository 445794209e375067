// The list class: a chain of member transforms applied in order. A list is
// made when transforms that are not both linear are concatenated; each
// member is a transform of its own, with one reference held by the list.

#include <cmath>
#include <cstring>

#include "scene/voxform/transform.h"

namespace vo::xform {

namespace {

VtTransformListNode *First(const VtTransform *t) { return static_cast<VtTransformListNode *>(t->data); }

VtTransformListNode *NodeNew(VtTransform *member) {
  TransformModuleState *s = State();
  if (s == nullptr) return nullptr;
  auto *node = static_cast<VtTransformListNode *>(VoPoolAllocate(s->list_node_pool));
  if (node != nullptr) *node = VtTransformListNode{member, nullptr};
  return node;
}

// Releases every member and frees every node of a chain.
VtStatus ChainFree(VtTransformListNode *n) {
  TransformModuleState *s = State();
  VtStatus st = 0;
  while (n != nullptr) {
    VtTransformListNode *next = n->next;
    st |= VoTransformRelease(n->member);
    st |= s != nullptr ? VoPoolFree(s->list_node_pool, n) : kErrorBadArgument;
    n = next;
  }
  return st;
}

// A node holding a copy of the transform; null when out of memory.
VtTransformListNode *NodeOfCopy(VtTransform *t) {
  VtTransform *c = VoTransformCopy(t);
  if (c == nullptr) return nullptr;
  VtTransformListNode *node = NodeNew(c);
  if (node == nullptr) (void)VoTransformRelease(c);
  return node;
}

// A chain of copies of every member; null when out of memory (what was
// made is freed).
VtTransformListNode *ChainCopy(const VtTransformListNode *from) {
  VtTransformListNode *head = nullptr, *tail = nullptr;
  for (const VtTransformListNode *n = from; n != nullptr; n = n->next) {
    VtTransformListNode *node = NodeOfCopy(n->member);
    if (node == nullptr) {
      (void)ChainFree(head);
      return nullptr;
    }
    (tail != nullptr ? tail->next : head) = node;
    tail = node;
  }
  return head;
}

VtTransformListNode *Reverse(VtTransformListNode *n) {
  VtTransformListNode *previous = nullptr;
  while (n != nullptr) {
    VtTransformListNode *next = n->next;
    n->next = previous;
    previous = n;
    n = next;
  }
  return previous;
}

// Walks the members last to first: the chain is reversed in place for the
// walk and restored after it.
template <class Step>
VtStatus Backwards(VtTransform *t, Step step) {
  VtTransformListNode *reversed = Reverse(First(t));
  t->data = reversed;
  VtStatus st = 0;
  for (VtTransformListNode *n = reversed; n != nullptr && st == 0; n = n->next)
    st = step(n->member, n->next == nullptr);
  t->data = Reverse(reversed);
  return st;
}

// ---- Slots 0-7 ---------------------------------------------------------------

VtStatus ListRelease(VtTransform *t) {
  const VtStatus st = ChainFree(First(t));
  t->data = nullptr;
  return st;
}

void *ListCopy(VtTransform *t) { return ChainCopy(First(t)); }

VtStatus ListGetMatrix(VtTransform *t, const double **forward, const double **inverse) {
  TransformModuleState *s = State();
  if (s == nullptr) return kErrorBadArgument;
  double f[16], inv[16];
  (void)VoMatrixIdentity(f);
  (void)VoMatrixIdentity(inv);
  for (VtTransformListNode *n = First(t); n != nullptr; n = n->next) {
    const double *mf = nullptr, *mi = nullptr;
    const VtStatus st = TransformMatrices(n->member, &mf, &mi);
    if (st != 0) return st;
    (void)VoMatrixMultiply(f, f, mf);
    (void)VoMatrixMultiply(inv, mi, inv);
  }
  std::memcpy(s->scratch_forward, f, sizeof f);
  std::memcpy(s->scratch_inverse, inv, sizeof inv);
  if (forward != nullptr) *forward = s->scratch_forward;
  if (inverse != nullptr) *inverse = s->scratch_inverse;
  return 0;
}

template <VtStatus (*VtTransformClass::*Slot)(VtTransform *)>
VtStatus ListEach(VtTransform *t) {
  VtStatus st = 0;
  for (VtTransformListNode *n = First(t); n != nullptr; n = n->next) st |= (n->member->cls->*Slot)(n->member);
  return st;
}

uint32_t ListUpdate(VtTransform *t, uint32_t *version) {
  uint32_t result = 0, latest = 1;
  for (VtTransformListNode *n = First(t); n != nullptr; n = n->next) {
    uint32_t v = 0;
    const uint32_t r = n->member->cls->update(n->member, &v);
    if (r == 2) return 2;
    if (r > result) result = r;
    if (v > latest) latest = v;
  }
  *version = latest;
  return result;
}

VtStatus ListPrint(VtTransform *t) {
  VtStatus st = 0;
  for (VtTransformListNode *n = First(t); n != nullptr; n = n->next) {
    Post(VO_CLASS_DEBUG, kMessageTransform, VO_MODULE_TRANSFORMS, static_cast<const void *>(n->member));
    st |= n->member->cls->print(n->member);
  }
  return st;
}

// ---- Slots 8-22 --------------------------------------------------------------

// The value is carried through every member in order; the output is
// written only when every member succeeded.
template <int N, class T, VtStatus (*Op)(T *, const T *, VtTransform *)>
VtStatus Carry(T *out, const T *in, VtTransform *t) {
  T v[N];
  std::memcpy(v, in, sizeof v);
  for (VtTransformListNode *n = First(t); n != nullptr; n = n->next) {
    const VtStatus st = Op(v, v, n->member);
    if (st != 0) return st;
  }
  std::memcpy(out, v, sizeof v);
  return 0;
}

VtStatus CarryBounds(float *out, const float *in, VtTransform *t) {
  const VtStatus st = Carry<6, float, &VoTransformBounds>(out, in, t);
  if (st != 0) WholeSpace(out);
  return st;
}

template <class T, VtStatus (*Op)(T *, const T *, VtTransform *)>
VtStatus CarryBack(T *out, const T *in, VtTransform *t) {
  T v[3] = {in[0], in[1], in[2]};
  const VtStatus st = Backwards(t, [&](VtTransform *member, bool) { return Op(v, v, member); });
  if (st != 0) return st;
  std::memcpy(out, v, sizeof v);
  return 0;
}

// Not vec::Normalise: float or double components, the length in double with
// a shortest length of the caller's, and zero when shorter.
template <class T>
void Normalise(T *out, const T *n, double shortest) {
  const double x = n[0], y = n[1], z = n[2];
  const double length = std::sqrt(x * x + y * y + z * z);
  const bool zero = !(length >= shortest);
  out[0] = zero ? T(0) : static_cast<T>(x / length);
  out[1] = zero ? T(0) : static_cast<T>(y / length);
  out[2] = zero ? T(0) : static_cast<T>(z / length);
}

// A normal at a point is the plane (n, -(p . n)) carried through the
// members' plane operations, then normalised.
template <class T, VtStatus (*Plane)(T *, const T *, VtTransform *)>
VtStatus ListNormal(T *out, const T *point, const T *normal, VtTransform *t) {
  if (point == nullptr) return kErrorBadArgument;
  T plane[4] = {normal[0], normal[1], normal[2], T(0)};
  plane[3] = static_cast<T>(
      -(double{point[0]} * plane[0] + double{point[1]} * plane[1] + double{point[2]} * plane[2]));
  for (VtTransformListNode *n = First(t); n != nullptr; n = n->next) {
    const VtStatus st = Plane(plane, plane, n->member);
    if (st != 0) return st;
  }
  Normalise(out, plane, sizeof(T) == sizeof(double) ? 1e-10 : 1e-5);
  return 0;
}

// The inverse normal: the members' inverse normal operations last to
// first, the point following through their inverse point operations.
template <class T, VtStatus (*NormalBack)(T *, const T *, const T *, VtTransform *),
          VtStatus (*PointBack)(T *, const T *, VtTransform *)>
VtStatus ListNormalInverse(T *out, const T *point, const T *normal, VtTransform *t) {
  if (point == nullptr) return kErrorBadArgument;
  T p[3] = {point[0], point[1], point[2]};
  T n[3] = {normal[0], normal[1], normal[2]};
  const VtStatus st = Backwards(t, [&](VtTransform *member, bool last) {
    VtStatus s = NormalBack(n, p, n, member);
    if (s == 0 && !last) s = PointBack(p, p, member);
    return s;
  });
  if (st != 0) return st;
  Normalise(out, n, 1e-5);
  return 0;
}

}  // namespace

const VtTransformClass kListClass = {
    &ListRelease,
    &ListCopy,
    &ListGetMatrix,
    &SlotNotAvailable<VtTransform *>,
    &ListEach<&VtTransformClass::notify_a>,
    &ListUpdate,
    &ListEach<&VtTransformClass::notify_b>,
    &ListPrint,
    &Carry<3, float, &VoTransformPoint>,
    &Carry<3, float, &VoTransformVector>,
    &ListNormal<float, &VoTransformPlane>,
    &Carry<4, float, &VoTransformPlane>,
    &Carry<4, float, &VoTransformHPoint>,
    &CarryBounds,
    &CarryBack<float, &VoTransformPointInverse>,
    &ListNormalInverse<float, &VoTransformNormalInverse, &VoTransformPointInverse>,
    &Carry<3, double, &VoTransformPointDouble>,
    &Carry<3, double, &VoTransformVectorDouble>,
    &ListNormal<double, &VoTransformPlaneDouble>,
    &Carry<4, double, &VoTransformPlaneDouble>,
    &Carry<4, double, &VoTransformHPointDouble>,
    &CarryBack<double, &VoTransformPointInverseDouble>,
    &SlotNotAvailable<double *, const double *, const double *, VtTransform *>,
    kClassList,
};

VtStatus ListConcatenate(VtTransform *t, VtTransform *u, uint32_t flags) {
  if (State() == nullptr) return kErrorBadArgument;
  // The operand's nodes are made first (u may be t itself).
  VtTransformListNode *operand = u->cls->code == kClassList ? ChainCopy(First(u)) : NodeOfCopy(u);
  if (operand == nullptr) return kNoMemory;
  if (t->cls->code == kClassList) {
    VtTransformListNode *last = First(t);
    while (last->next != nullptr) last = last->next;
    last->next = operand;
  } else {
    // t's own class and data move into a new first member.
    VtTransform *first = RecordNew();
    VtTransformListNode *node = first != nullptr ? NodeNew(first) : nullptr;
    if (node == nullptr) {
      if (first != nullptr) (void)RecordFree(first);
      (void)ChainFree(operand);
      return kNoMemory;
    }
    first->cls = t->cls;
    first->data = t->data;
    first->flags = t->flags & ~kFlagDestroyed;
    node->next = operand;
    t->cls = &kListClass;
    t->data = node;
  }
  t->flags = flags;
  return 0;
}

}  // namespace vo::xform

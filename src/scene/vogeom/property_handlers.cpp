// The geometry module's own properties: their registration at start and
// their handlers, the default enquiries and the interpolation sentinels.

#include <cmath>
#include <cstring>

#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/scene_hooks.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

EnquiryStorage &Answers() { return GeomCurrent()->answers; }

VtStatus AnswerPointer(VtTypedValue *answer, void *storage) {
  if (answer != nullptr) *answer = TypedPointer(storage);
  return 0;
}
VtStatus AnswerTyped(VtTypedValue *answer, uint32_t type, void *storage) {
  if (answer != nullptr) {
    *answer = TypedPointer(storage);
    answer->type = type;
  }
  return 0;
}
VtStatus AnswerCount(VtTypedValue *answer, uint32_t n) {
  EnquiryStorage &a = Answers();
  a.count = n;
  return AnswerTyped(answer, VtInt32Array, &a.count);
}
VtStatus AnswerFloats(VtTypedValue *answer, const float *values, uint32_t n) {
  EnquiryStorage &a = Answers();
  std::memcpy(a.floats, values, n * sizeof(float));
  return AnswerTyped(answer, VtFloatArray, a.floats);
}
// A word holding one address (type 11).
VtStatus AnswerAddress(VtTypedValue *answer, void *address) {
  EnquiryStorage &a = Answers();
  a.pointer = address;
  return AnswerPointer(answer, &a.pointer);
}

// ---- Primitive properties ------------------------------------------------------

VtStatus BoundsInitialise(VtPrimitive *p) {
  VtBounds *stored = PropertyField<VtBounds>(p, nullptr, VO_PRIM_BOUNDS);
  if (stored == nullptr) return 0;
  VtBounds box = *stored;
  const VtStatus s = PrimitiveBoundsCompute(p, &box);
  *stored = box;
  return s;
}
VtStatus BoundsEnquire(VtPrimitive *p, VtTypedValue *answer) {
  EnquiryStorage &a = Answers();
  a.bounds = VtBounds{};
  const VtStatus s = PrimitiveBoundsCompute(p, &a.bounds);
  AnswerTyped(answer, VtFloatArray, &a.bounds);
  return s;
}

// The ring heads (polys, verts, edges): they start empty and destroy their rings.
template <uint32_t kKind>
VtStatus RingDestroy(VtPrimitive *p) {
  return ElementRingDestroy(p, kKind);
}
template <uint32_t kCode>
VtStatus RingInitialise(VtPrimitive *p) {
  if (void **f = PropertyField<void *>(p, nullptr, kCode)) *f = nullptr;
  return 0;
}

VtStatus ContentsEnquire(VtPrimitive *p, VtTypedValue *answer) { return AnswerPointer(answer, &p->contents); }
VtStatus FlagsEnquire(VtPrimitive *p, VtTypedValue *answer) { return AnswerPointer(answer, &p->flags); }

// id and parent start as the primitive's own address.
template <uint32_t kCode>
VtStatus OwnAddressInitialise(VtPrimitive *p) {
  if (VtPrimitive **f = PropertyField<VtPrimitive *>(p, nullptr, kCode)) *f = p;
  return 0;
}
VtStatus IdEnquire(VtPrimitive *p, VtTypedValue *answer) { return AnswerAddress(answer, p); }

template <uint32_t kCode, uint32_t kKind>
VtStatus CountInitialise(VtPrimitive *p) {
  if (uint32_t *f = PropertyField<uint32_t>(p, nullptr, kCode)) *f = RingCount(p, kKind);
  return 0;
}
template <uint32_t kKind>
VtStatus CountEnquire(VtPrimitive *p, VtTypedValue *answer) {
  return AnswerCount(answer, RingCount(p, kKind));
}

VtStatus PrefsEnquire(VtPrimitive *, VtTypedValue *answer) { return AnswerAddress(answer, nullptr); }
VtStatus PrefsDestroy(VtPrimitive *p) {
  VtReference **f = PropertyField<VtReference *>(p, nullptr, VO_PRIM_PREFS);
  if (f == nullptr || *f == nullptr) return 0;
  VtReference *list = *f;
  *f = nullptr;
  return VoReferenceListDestroy(list, nullptr);
}
// A copy's member list is a list of its own over the same members.
VtStatus PrefsCopy(VtPrimitive *source, VtPrimitive *destination) {
  VtReference **from = PropertyField<VtReference *>(source, nullptr, VO_PRIM_PREFS);
  VtReference **to = PropertyField<VtReference *>(destination, nullptr, VO_PRIM_PREFS);
  if (to == nullptr) return 0;
  *to = nullptr;
  if (from == nullptr || *from == nullptr) return 0;
  *to = VoReferenceListCopy(*from, nullptr);
  return *to ? 0 : VO_STATUS_NO_MEMORY;
}
uint32_t MemberCount(VtPrimitive *p) {
  return ReferenceRingCount(HeldPointer<VtReference>(p, VO_PRIM_PREFS));
}
VtStatus NprefsInitialise(VtPrimitive *p) {
  if (uint32_t *f = PropertyField<uint32_t>(p, nullptr, VO_PRIM_NPREFS)) *f = MemberCount(p);
  return 0;
}
VtStatus NprefsEnquire(VtPrimitive *p, VtTypedValue *answer) { return AnswerCount(answer, MemberCount(p)); }

// Procedural data may be shared by copies: the class releases it when its
// last holder lets it go.
VtStatus ProcdataDestroy(VtPrimitive *p) {
  void **f = PropertyField<void *>(p, nullptr, VO_PRIM_PROCDATA);
  if (f == nullptr || *f == nullptr) return 0;
  void *data = *f;
  *f = nullptr;
  if (!ProceduralDataRelease(data)) return 0;
  const VtProceduralClass *c = HeldPointer<VtProceduralClass>(p, VO_PRIM_PROCCLASS);
  return c != nullptr && c->release_data != nullptr ? c->release_data(p, data) : 0;
}
VtStatus ProcdataCopy(VtPrimitive *source, VtPrimitive *destination) {
  void **from = PropertyField<void *>(source, nullptr, VO_PRIM_PROCDATA);
  void **to = PropertyField<void *>(destination, nullptr, VO_PRIM_PROCDATA);
  if (to == nullptr) return 0;
  *to = nullptr;
  if (from == nullptr || *from == nullptr) return 0;
  if (!ProceduralDataHold(*from)) return VO_STATUS_NO_MEMORY;
  *to = *from;
  return 0;
}

// A copy starts without the retained pieces (the copier clears its 0x2000).
VtStatus RetainedCopy(VtPrimitive *, VtPrimitive *) { return 0; }
VtStatus RetainedDestroy(VtPrimitive *p) {
  VtReference **f = PropertyField<VtReference *>(p, nullptr, VO_PRIM_RETAINED);
  if (f == nullptr || *f == nullptr) return 0;
  VtReference *list = *f;
  *f = nullptr;
  VtStatus s = 0;
  // Only the pieces made for the expansion belong to the primitive; the
  // members of a list (and the primitive itself) are left alone.
  ForEachNode(list, [&](VtReference *node) {
    auto *piece = static_cast<VtPrimitive *>(node->data);
    if (piece != nullptr && piece != p && PrimitiveLive(piece) &&
        (piece->flags & VO_PRIMITIVE_RETAINED_PIECE))
      s |= VoPrimitiveDestroy(piece);
  });
  return s | VoReferenceListDestroy(list, nullptr);
}

VtStatus LineWidthInitialise(VtPrimitive *p) {
  if (uint32_t *f = PropertyField<uint32_t>(p, nullptr, VO_PRIM_LINE_WIDTH)) *f = 1;
  return 0;
}
VtStatus LineWidthEnquire(VtPrimitive *, VtTypedValue *answer) {
  EnquiryStorage &a = Answers();
  a.line_width = 1;
  return AnswerTyped(answer, VtInt32Array, &a.line_width);
}

// ---- Polygon properties --------------------------------------------------------

template <uint32_t kCode>
VtStatus SelfInitialise(VtPrimitive *p, void *element) {
  if (void **f = PropertyField<void *>(p, element, kCode)) *f = element;
  return 0;
}
VtStatus SelfEnquire(VtPrimitive *, void *element, VtTypedValue *answer) {
  return AnswerAddress(answer, element);
}

template <uint32_t kCode>
VtStatus NullInitialise(VtPrimitive *p, void *element) {
  if (void **f = PropertyField<void *>(p, element, kCode)) *f = nullptr;
  return 0;
}
VtStatus NullEnquire(VtPrimitive *, void *, VtTypedValue *answer) { return AnswerAddress(answer, nullptr); }

VtStatus VrefsDestroy(VtPrimitive *p, void *polygon) {
  VtReference **f = PropertyField<VtReference *>(p, polygon, VO_POLY_VREFS);
  if (f == nullptr || *f == nullptr) return 0;
  VtReference *ring = *f;
  // A clipped boundary that is the same ring goes with it.
  if (VtReference **clip = PropertyField<VtReference *>(p, polygon, VO_POLY_VREFSCLIP); clip && *clip == ring)
    *clip = nullptr;
  *f = nullptr;
  return VoReferenceListDestroy(ring, nullptr);
}

// True when a vertex is on the primitive's vertex ring: ring members carry a
// next link; without a next property only the first vertex is on the ring.
// A vertex with keep marks is held by a sub-window clip and counts as kept.
bool OnVertexRing(VtPrimitive *p, void *vertex) {
  if (ElementHeaderOf(vertex)->keep != 0) return true;
  if (void **next = PropertyField<void *>(p, vertex, VO_VERT_NEXT)) return *next != nullptr;
  return vertex == RingFirst(p, VO_ELEMENT_VERTEX);
}

// The clipped boundary names the polygon's own ring vertices, which no
// destroy takes while a boundary names them (message 2018), and vertices
// clipping made for this boundary alone: every vertex read here is live.
VtStatus VrefsclipDestroy(VtPrimitive *p, void *polygon) {
  VtReference **f = PropertyField<VtReference *>(p, polygon, VO_POLY_VREFSCLIP);
  if (f == nullptr || *f == nullptr) return 0;
  VtReference *clip = *f;
  *f = nullptr;
  VtReference **vrefs = PropertyField<VtReference *>(p, polygon, VO_POLY_VREFS);
  if (vrefs != nullptr && *vrefs == clip) return 0;
  VtStatus s = 0;
  VtReference *node = clip;
  do {
    VtReference *next = node->next;
    void *v = node->data;
    if (ElementLive(v, VO_ELEMENT_VERTEX) && !OnVertexRing(p, v))
      s |= ElementDestroy(p, VO_ELEMENT_VERTEX, v);
    ReferenceNodeFree(node);
    node = next;
  } while (node != clip);
  return s;
}
VtStatus VrefsclipCopy(VtPrimitive *, void *, VtPrimitive *destination, void *element) {
  if (void **f = PropertyField<void *>(destination, element, VO_POLY_VREFSCLIP)) *f = nullptr;
  return 0;
}

// Measures of a polygon stored in a float property, and their enquiries.
using PolygonMeasure = VtStatus (*)(VtPrimitive *, VtPolygon *, float *);
template <uint32_t kCode, PolygonMeasure kCompute>
VtStatus MeasureInitialise(VtPrimitive *p, void *polygon) {
  float *f = PropertyField<float>(p, polygon, kCode);
  return f ? kCompute(p, static_cast<VtPolygon *>(polygon), f) : 0;
}
template <PolygonMeasure kCompute>
VtStatus MeasureEnquire(VtPrimitive *p, void *polygon, VtTypedValue *answer) {
  float value = 0;
  const VtStatus s = kCompute(p, static_cast<VtPolygon *>(polygon), &value);
  AnswerFloats(answer, &value, 1);
  return s;
}
// The area as stored, or as its enquiry computes it.
float AreaOf(VtPrimitive *p, void *polygon) {
  if (const float *f = PropertyField<float>(p, polygon, VO_POLY_AREA)) return *f;
  float area = 0;
  PolygonAreaCompute(p, static_cast<VtPolygon *>(polygon), &area);
  return area;
}
// The root of the area's magnitude (a polygon whose ring turns clockwise
// about its stored plane has a negative area).
VtStatus SqrtAreaInitialise(VtPrimitive *p, void *polygon) {
  if (float *f = PropertyField<float>(p, polygon, VO_POLY_SQRTAREA))
    *f = std::sqrt(std::fabs(AreaOf(p, polygon)));
  return 0;
}
VtStatus SqrtAreaEnquire(VtPrimitive *p, void *polygon, VtTypedValue *answer) {
  const float root = std::sqrt(std::fabs(AreaOf(p, polygon)));
  return AnswerFloats(answer, &root, 1);
}

uint32_t PolygonVertexCount(VtPrimitive *p, void *polygon) {
  VtReference **vrefs = PropertyField<VtReference *>(p, polygon, VO_POLY_VREFS);
  return ReferenceRingCount(vrefs ? *vrefs : nullptr);
}
VtStatus NvertsInitialise(VtPrimitive *p, void *polygon) {
  if (uint32_t *f = PropertyField<uint32_t>(p, polygon, VO_POLY_NVERTS)) *f = PolygonVertexCount(p, polygon);
  return 0;
}
VtStatus NvertsEnquire(VtPrimitive *p, void *polygon, VtTypedValue *answer) {
  return AnswerCount(answer, PolygonVertexCount(p, polygon));
}

VtStatus PlaneInitialise(VtPrimitive *p, void *polygon) {
  float *f = PropertyField<float>(p, polygon, VO_POLY_PLANE);
  if (f == nullptr) return 0;
  float plane[4] = {f[0], f[1], f[2], f[3]};
  const VtStatus s = PolygonPlaneCompute(p, static_cast<VtPolygon *>(polygon), plane);
  if (s == 0) std::memcpy(f, plane, sizeof plane);
  return s;
}
VtStatus PlaneEnquire(VtPrimitive *p, void *polygon, VtTypedValue *answer) {
  if (float **held = PropertyField<float *>(p, polygon, VO_POLY_PLANEPTR); held && *held)
    return AnswerTyped(answer, VtFloatArray, *held);
  float plane[4] = {0, 0, 0, 0};
  const VtStatus s = PolygonPlaneCompute(p, static_cast<VtPolygon *>(polygon), plane);
  AnswerFloats(answer, plane, 4);
  return s;
}

VtStatus PrimInitialise(VtPrimitive *p, void *polygon) {
  if (VtPrimitive **f = PropertyField<VtPrimitive *>(p, polygon, VO_POLY_PRIM)) *f = p;
  return 0;
}
VtStatus PrimEnquire(VtPrimitive *p, void *, VtTypedValue *answer) { return AnswerAddress(answer, p); }

// ---- Edge properties -----------------------------------------------------------

// Polygon and mesh primitives (types 1 and 3) own the one- and two-node
// reference rings of their edges.
VtStatus EdgeVrefsDestroy(VtPrimitive *p, void *edge) {
  const uint32_t type = PrimitiveType(p);
  if (type != VO_PRIMITIVE_POLYGON && type != VO_PRIMITIVE_MESH) return 0;
  VtReference **f = PropertyField<VtReference *>(p, edge, VO_EDGE_VREFS);
  if (f == nullptr || *f == nullptr) return 0;
  VtReference *ring = *f;
  if (ring->next != ring && ring->next->next != ring) return 0;
  *f = nullptr;
  return VoReferenceListDestroy(ring, nullptr);
}
VtStatus EdgePolysInitialise(VtPrimitive *p, void *edge) {
  if (void **f = PropertyField<void *>(p, edge, VO_EDGE_POLYS)) f[0] = f[1] = nullptr;
  return 0;
}
VtStatus EdgeEdgesInitialise(VtPrimitive *p, void *edge) {
  if (void **f = PropertyField<void *>(p, edge, VO_EDGE_EDGES)) f[0] = f[1] = edge;
  return 0;
}

// ---- Vertex properties ---------------------------------------------------------

template <uint32_t kCode, uint32_t kCount>
VtStatus ZeroInitialise(VtPrimitive *p, void *vertex) {
  if (float *f = PropertyField<float>(p, vertex, kCode)) std::memset(f, 0, kCount * sizeof(float));
  return 0;
}
template <uint32_t kCount>
VtStatus ZeroEnquire(VtPrimitive *, void *, VtTypedValue *answer) {
  const float zeros[4] = {0, 0, 0, 0};
  return AnswerFloats(answer, zeros, kCount);
}
constexpr float kDefaultNormal[3] = {0, 0, 1};
VtStatus NormalInitialise(VtPrimitive *p, void *vertex) {
  if (float *f = PropertyField<float>(p, vertex, VO_VERT_NORMAL))
    std::memcpy(f, kDefaultNormal, sizeof kDefaultNormal);
  return 0;
}
VtStatus NormalEnquire(VtPrimitive *, void *, VtTypedValue *answer) {
  return AnswerFloats(answer, kDefaultNormal, 3);
}

// ---- The table of fixed properties ---------------------------------------------

// The blend sentinel is never called: it only marks a property whose floats
// are blended by the interpolation routines.
VtStatus BlendSentinel() { return 0; }

template <class F>
VtProc P(F f) {
  return reinterpret_cast<VtProc>(f);
}

struct FixedProperty {
  uint32_t code;
  const char *word;
  uint32_t value_type;
  uint32_t count;
  bool privileged;
  VtProc initialise;
  VtProc copy;
  VtProc destroy;
  VtProc enquire;
};

constexpr uint32_t kF = VtFloat, kP = VtGenericPtr, kN = VtNat32, kW = VtFlags;

const FixedProperty kPrimitiveProperties[] = {
    {VO_PRIM_BOUNDS, "bounds", kF, 6, false, P(&BoundsInitialise), nullptr, nullptr, P(&BoundsEnquire)},
    {VO_PRIM_EDGES, "edges", kP, 1, false, P(&PrimitiveEdgesInitialise), nullptr,
     P(&RingDestroy<VO_ELEMENT_EDGE>), nullptr},
    {VO_PRIM_CONTENTS, "contents", kP, 0, true, nullptr, nullptr, nullptr, P(&ContentsEnquire)},
    {VO_PRIM_FLAGS, "flags", kW, 0, true, nullptr, nullptr, nullptr, P(&FlagsEnquire)},
    {VO_PRIM_ID, "id", kP, 1, false, P(&OwnAddressInitialise<VO_PRIM_ID>), nullptr, nullptr, P(&IdEnquire)},
    {VO_PRIM_NEXT, "next", kP, 1, true, nullptr, nullptr, nullptr, nullptr},
    {VO_PRIM_NPOLYS, "npolys", kN, 1, false, P(&CountInitialise<VO_PRIM_NPOLYS, VO_ELEMENT_POLYGON>), nullptr,
     nullptr, P(&CountEnquire<VO_ELEMENT_POLYGON>)},
    {VO_PRIM_NEDGES, "nedges", kN, 1, false, P(&CountInitialise<VO_PRIM_NEDGES, VO_ELEMENT_EDGE>), nullptr,
     nullptr, P(&CountEnquire<VO_ELEMENT_EDGE>)},
    {VO_PRIM_NVERTS, "nverts", kN, 1, false, P(&CountInitialise<VO_PRIM_NVERTS, VO_ELEMENT_VERTEX>), nullptr,
     nullptr, P(&CountEnquire<VO_ELEMENT_VERTEX>)},
    {VO_PRIM_POLYS, "polys", kP, 1, false, P(&RingInitialise<VO_PRIM_POLYS>), nullptr,
     P(&RingDestroy<VO_ELEMENT_POLYGON>), nullptr},
    {VO_PRIM_VERTS, "verts", kP, 1, false, P(&RingInitialise<VO_PRIM_VERTS>), nullptr,
     P(&RingDestroy<VO_ELEMENT_VERTEX>), nullptr},
    {VO_PRIM_PREFS, "prefs", kP, 1, false, nullptr, P(&PrefsCopy), P(&PrefsDestroy), P(&PrefsEnquire)},
    {VO_PRIM_NPREFS, "nprefs", kN, 1, false, P(&NprefsInitialise), nullptr, nullptr, P(&NprefsEnquire)},
    {VO_PRIM_PROCCLASS, "procclass", kP, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_PRIM_PROCDATA, "procdata", kP, 1, false, nullptr, P(&ProcdataCopy), P(&ProcdataDestroy), nullptr},
    {VO_PRIM_RETAINED, "retained", kP, 1, false, nullptr, P(&RetainedCopy), P(&RetainedDestroy), nullptr},
    {VO_PRIM_PARENT, "parent", kP, 1, false, P(&OwnAddressInitialise<VO_PRIM_PARENT>), nullptr, nullptr,
     nullptr},
    {VO_PRIM_LINE_WIDTH, "line_width", kN, 1, false, P(&LineWidthInitialise), nullptr, nullptr,
     P(&LineWidthEnquire)},
};

const FixedProperty kPolygonProperties[] = {
    {VO_POLY_NEXT, "next", kP, 1, false, P(&SelfInitialise<VO_POLY_NEXT>), nullptr, nullptr, P(&SelfEnquire)},
    {VO_POLY_PREV, "prev", kP, 1, false, P(&SelfInitialise<VO_POLY_PREV>), nullptr, nullptr, P(&SelfEnquire)},
    {VO_POLY_VREFS, "vrefs", kP, 1, true, nullptr, nullptr, P(&VrefsDestroy), nullptr},
    {VO_POLY_VREFSCLIP, "vrefsclip", kP, 1, false, nullptr, P(&VrefsclipCopy), P(&VrefsclipDestroy), nullptr},
    {VO_POLY_AREA, "area", kF, 1, false, P(&MeasureInitialise<VO_POLY_AREA, &PolygonAreaCompute>), nullptr,
     nullptr, P(&MeasureEnquire<&PolygonAreaCompute>)},
    {VO_POLY_SQRTAREA, "sqrtarea", kF, 1, false, P(&SqrtAreaInitialise), nullptr, nullptr,
     P(&SqrtAreaEnquire)},
    {VO_POLY_ANGLE, "angle", kF, 1, false, P(&MeasureInitialise<VO_POLY_ANGLE, &PolygonAngleCompute>),
     nullptr, nullptr, P(&MeasureEnquire<&PolygonAngleCompute>)},
    {VO_POLY_CENTRE, "centre", kF, 3, false, nullptr, nullptr, nullptr, nullptr},
    {VO_POLY_FLAGS, "flags", kW, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_POLY_NVERTS, "nverts", kN, 1, false, P(&NvertsInitialise), nullptr, nullptr, P(&NvertsEnquire)},
    {VO_POLY_PLANE, "plane", kF, 4, false, P(&PlaneInitialise), nullptr, nullptr, P(&PlaneEnquire)},
    {VO_POLY_PLANEPTR, "planeptr", VtFloatArray, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_POLY_PRIM, "prim", kP, 1, false, P(&PrimInitialise), nullptr, nullptr, P(&PrimEnquire)},
    {VO_POLY_EDGES, "edges", kP, 1, false, P(&NullInitialise<VO_POLY_EDGES>), nullptr, nullptr,
     P(&NullEnquire)},
};

const FixedProperty kEdgeProperties[] = {
    {VO_EDGE_FLAGS, "flags", kW, 1, true, nullptr, nullptr, nullptr, nullptr},
    {VO_EDGE_NEXT, "next", kP, 1, true, nullptr, nullptr, nullptr, nullptr},
    {VO_EDGE_VREFS, "vrefs", kP, 1, true, nullptr, nullptr, P(&EdgeVrefsDestroy), nullptr},
    {VO_EDGE_VREFSCLIP, "vrefsclip", kP, 1, true, nullptr, nullptr, nullptr, nullptr},
    {VO_EDGE_CENTRE, "centre", kF, 3, false, nullptr, nullptr, nullptr, nullptr},
    {VO_EDGE_LENGTH, "length", kF, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_EDGE_POLYS, "polys", kP, 2, false, P(&EdgePolysInitialise), nullptr, nullptr, nullptr},
    {VO_EDGE_EDGES, "edges", kP, 2, false, P(&EdgeEdgesInitialise), nullptr, nullptr, nullptr},
};

const FixedProperty kVertexProperties[] = {
    {VO_VERT_SCREEN, "screen", kF, 4, false, P(&ZeroInitialise<VO_VERT_SCREEN, 4>), nullptr, nullptr,
     P(&ZeroEnquire<4>)},
    {VO_VERT_COLOUR, "colour", kF, 3, false, P(&ZeroInitialise<VO_VERT_COLOUR, 3>), nullptr, nullptr,
     P(&ZeroEnquire<3>)},
    {VO_VERT_TRANSPARENCY, "transparency", kF, 3, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_FLAGS, "flags", kW, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_COVERT, "covert", kP, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_NORMAL, "normal", kF, 3, false, P(&NormalInitialise), nullptr, nullptr, P(&NormalEnquire)},
    {VO_VERT_WORLD, "world", kF, 3, true, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_NEXT, "next", kP, 1, true, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_PARAMETRICCHANGE, "parametricchange", kF, 2, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_PARAMETRICCOORDS, "parametriccoords", kF, 2, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_PARAMETRICDERIVS, "parametricderivs", kF, 6, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_PARAMETRICDERIVS2, "parametricderivs2", kF, 9, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_GAUSSIAN_CURVATURE, "gaussian_curvature", kF, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_MEAN_CURVATURE, "mean_curvature", kF, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_ABSOLUTE_CURVATURE, "absolute_curvature", kF, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_MINIMUM_CURVATURE, "minimum_curvature", kF, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_MAXIMUM_CURVATURE, "maximum_curvature", kF, 1, false, nullptr, nullptr, nullptr, nullptr},
    {VO_VERT_TEXCOORDS, "texcoords", kF, 2, false, nullptr, nullptr, nullptr, nullptr},
};

template <size_t N>
VtStatus RegisterAll(uint32_t kind, const FixedProperty (&table)[N]) {
  // The kind's handler operations are base + 1 to 5: copy, initialise, set,
  // enquire, destroy.
  const uint32_t base = (kind - 1) * 5;
  for (const FixedProperty &f : table) {
    if (f.privileged) VoPropertyFlagMandatory();
    const uint32_t code = PropertyRegister(kind, VoPropertyMakeName(f.word, static_cast<int32_t>(f.code)),
                                           f.value_type, f.count);
    if (code != f.code) return VO_STATUS_NO_MEMORY;
    if (f.copy) VoPropertySetHandler(code, base + 1, f.copy);
    if (f.initialise) VoPropertySetHandler(code, base + 2, f.initialise);
    if (f.enquire) VoPropertySetHandler(code, base + 4, f.enquire);
    if (f.destroy) VoPropertySetHandler(code, base + 5, f.destroy);
    if (kind == VO_ELEMENT_VERTEX && code != VO_VERT_NEXT)
      VoPropertySetHandler(code, VO_PROPERTY_VERTEX_INTERPOLATE, PropertyBlendSentinel());
  }
  return 0;
}

}  // namespace

VtStatus PropertyNoOp() { return 0; }
VtProc PropertyNoOpSentinel() { return reinterpret_cast<VtProc>(&PropertyNoOp); }
VtProc PropertyBlendSentinel() { return reinterpret_cast<VtProc>(&BlendSentinel); }

VtStatus PrimitiveEnquireDefault(VtPrimitive *, VtTypedValue *answer) {
  EnquiryStorage &a = Answers();
  std::memset(a.zero, 0, sizeof a.zero);
  return AnswerTyped(answer, VtInt32Array, a.zero);
}

VtStatus ElementEnquireDefault(VtPrimitive *p, void *, VtTypedValue *answer) {
  return PrimitiveEnquireDefault(p, answer);
}

VtStatus FixedPropertiesRegister() {
  VtStatus s = RegisterAll(VO_ELEMENT_PRIMITIVE, kPrimitiveProperties);
  if (s == 0) s = RegisterAll(VO_ELEMENT_POLYGON, kPolygonProperties);
  if (s == 0) s = RegisterAll(VO_ELEMENT_EDGE, kEdgeProperties);
  if (s == 0) s = RegisterAll(VO_ELEMENT_VERTEX, kVertexProperties);
  return s;
}

}  // namespace vo

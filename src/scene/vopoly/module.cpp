// The polygon module (vopoly, number 3): query function, the coincidence
// tolerance control, start and terminate, the cached contents records of
// polygon and mesh primitives, and the vertex property set.

#include <cmath>
#include <cstring>

#include "scene/vogeom/face.h"
#include "scene/vopoly/polygons.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace poly {

namespace {

constexpr uint32_t kBuildTime = 916157560;
constexpr const char *kBanner = "mrvx20 scene model: polygons and meshes";

// What the cached records add to the default contents: the rings, plane,
// clipped boundary and screen points, and for meshes the bounds and the
// polygon links. The records without plane are the same lists less plane.
constexpr uint32_t kPolygonCodes[] = {VO_PRIM_VERTS, VO_PRIM_POLYS, VO_POLY_PLANE, VO_POLY_VREFSCLIP,
                                      VO_VERT_SCREEN};
constexpr uint32_t kMeshCodes[] = {VO_PRIM_VERTS,  VO_PRIM_POLYS,  VO_POLY_PLANE, VO_POLY_VREFSCLIP,
                                   VO_VERT_SCREEN, VO_PRIM_BOUNDS, VO_POLY_NEXT};
constexpr uint32_t kPolygonCodesFlat[] = {VO_PRIM_VERTS, VO_PRIM_POLYS, VO_POLY_VREFSCLIP, VO_VERT_SCREEN};
constexpr uint32_t kMeshCodesFlat[] = {VO_PRIM_VERTS,  VO_PRIM_POLYS,  VO_POLY_VREFSCLIP,
                                       VO_VERT_SCREEN, VO_PRIM_BOUNDS, VO_POLY_NEXT};

// Read-only while rendering: every context answers the master.
ModuleState<PolygonModuleState> g_state(VO_MODULE_POLYGONS);

template <size_t N>
VtContents *Widened(VtContents *base, const uint32_t (&codes)[N]) {
  return VoContentsUnion(base, static_cast<uint32_t>(N), codes);
}

// Makes the four cached records again for the current default contents.
bool CachedRebuild(PolygonModuleState *s) {
  VtContents *base = DefaultContents();
  VtContents *made[2][2] = {
      {Widened(base, kPolygonCodesFlat), Widened(base, kMeshCodesFlat)},
      {Widened(base, kPolygonCodes), Widened(base, kMeshCodes)},
  };
  for (auto &row : made)
    for (VtContents *c : row)
      if (c == nullptr) return false;
  std::memcpy(s->cached, made, sizeof made);
  s->default_contents = base;
  return true;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
  PolygonModuleState *s = g_state.Get();
  if (s == nullptr || code != kControlTolerance) return VO_STATUS_UNAVAILABLE;
  if (v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  const float t = v->value.f;
  if (!(t >= 0.0f) || !std::isfinite(t)) {
    Post(VO_STATUS_BAD_ARGUMENT, kToleranceRefused, VO_MODULE_POLYGONS, static_cast<double>(t));
    return VO_STATUS_BAD_ARGUMENT;
  }
  s->tolerance = t;
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  PolygonModuleState *s = g_state.Get();
  if (s == nullptr || code != kControlTolerance) return VO_STATUS_UNAVAILABLE;
  if (v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  v->type = VtFloat;
  v->value.bits = 0;
  v->value.f = s->tolerance;
  return 0;
}

VtStatus Start() {
  if (g_state.Get() != nullptr) return 0;
  auto *s = static_cast<PolygonModuleState *>(VoAllocate(sizeof(PolygonModuleState)));
  if (s == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  s->tolerance = kToleranceDefault;
  s->contour_pool = VoPoolCreate(kContourPoolTag, sizeof(VtContour));
  if (s->contour_pool == nullptr) {
    VoDeallocate(s);
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  g_state.SetMaster(s);
  return 0;
}

VtStatus Terminate() {
  PolygonModuleState *s = g_state.Get();
  if (s == nullptr) return 0;
  const VtStatus status = VoPoolDispose(s->contour_pool);
  VoDeallocate(s);
  g_state.SetMaster(nullptr);
  return status;
}

}  // namespace

PolygonModuleState *PolygonState() { return g_state.Get(); }

}  // namespace poly

VtStatus VoEntryPolygons(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kPolygons = {
      .number = VO_MODULE_POLYGONS,
      .name = "vopoly",
      .banner = poly::kBanner,
      .build_time = poly::kBuildTime,
      .control_set = &poly::ControlSet,
      .control_get = &poly::ControlGet,
      .start = &poly::Start,
      .terminate = &poly::Terminate,
  };
  return ModuleQueryAnswer(kPolygons, query, answer);
}

VtContents *VoContentsGetDefault() { return DefaultContents(); }

VtContents *VoPolygonContentsGet(uint32_t with_plane, uint32_t with_bounds, uint32_t count,
                                 const uint32_t *codes) {
  poly::PolygonModuleState *s = poly::PolygonState();
  if (s == nullptr || DefaultContents() == nullptr) return nullptr;
  if (count != 0 && codes == nullptr) {
    Post(VO_STATUS_BAD_ARGUMENT, poly::kPolygonArgument, VO_MODULE_POLYGONS, "VoPolygonContentsGet", "codes");
    return nullptr;
  }
  if (s->default_contents != DefaultContents() && !poly::CachedRebuild(s)) return nullptr;
  return VoContentsUnion(s->cached[with_plane ? 1 : 0][with_bounds ? 1 : 0], count, codes);
}

VtStatus VoVertexSetProperty(VtPrimitive *p, VtVertex *vertex, uint32_t code, const VtTypedValue *value) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p, VO_MODULE_POLYGONS)) return s;
  if (vertex == nullptr) return 0;
  // The vertex must be the primitive's own: adding a property moves every
  // vertex of the primitive.
  if (ElementOwner(vertex, VO_ELEMENT_VERTEX) != p) {
    // The arguments are those the geometry module posts with each number.
    if (ElementLive(vertex, VO_ELEMENT_VERTEX))
      Post(VO_STATUS_BAD_ARGUMENT, messages::kElementForeign, VO_MODULE_POLYGONS,
           static_cast<const void *>(vertex), static_cast<const void *>(p));
    else
      Post(VO_STATUS_BAD_ARGUMENT, messages::kElementNotLive, VO_MODULE_POLYGONS,
           static_cast<const void *>(vertex), uint32_t{VO_ELEMENT_VERTEX});
    return VO_STATUS_BAD_ARGUMENT;
  }
  void *moved = nullptr;
  return ElementPropertySet(VO_ELEMENT_VERTEX, p, vertex, code, value, &moved);
}

}  // namespace vo

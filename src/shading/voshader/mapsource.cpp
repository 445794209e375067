// What a light's shadow maps were made from, kept beside them so that image
// set-up makes them again once the scene they show has changed, and keeps
// them while it has not.
//
// The source is one 64-bit digest of the casters as the map render sees
// them: each caster in list order (members of list primitives in their
// place), its type and sidedness, its transform (through the points it
// takes the origin and the three unit points to), its bounds, and its
// vertices' positions and polygons' vertex rings; then the shadow bounds.
// It is taken from the scene itself, not from a count of edits, so lists the
// library swaps in and gives back (the caster list of the map render, a
// stroke render's temporary list) change nothing, and an application that
// writes vertex positions in place is seen as well. Every step of the digest
// is a bijection of its state for a fixed input, so a change of any one word
// always changes it.
//
// Records live in the context that made the maps and name the light and its
// map block: a record whose block is no longer the light's (the maps made
// or freed elsewhere, a class that keeps its maps valid for reasons of its
// own) is not the light's source and decides nothing.

#include <cstring>

#include "scene/vogeom/face.h"
#include "shading/voshader/imaging.h"
#include "shading/voshader/voshader.h"

namespace vo::shader {

namespace {

class Digest {
 public:
  void Word(uint64_t w) {
    h_ ^= w;
    h_ = (h_ << 23 | h_ >> 41) * 0x9E3779B97F4A7C15ull;
  }
  void Pointer(const void *p) { Word(reinterpret_cast<uintptr_t>(p)); }
  void Floats(const float *f, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      uint32_t bits;
      std::memcpy(&bits, &f[i], sizeof bits);
      Word(bits);
    }
  }
  uint64_t Value() const { return h_; }

 private:
  uint64_t h_ = 0xCBF29CE484222325ull;
};

// The flags that change what the map render draws.
constexpr uint32_t kDrawnFlags = VO_PRIMITIVE_TYPE_MASK | VO_PRIMITIVE_TWO_SIDED | VO_PRIMITIVE_HAS_TRANSFORM;

void TransformAdd(const ShadingContext *s, VtPrimitive *p, Digest *h) {
  if ((p->flags & VO_PRIMITIVE_HAS_TRANSFORM) == 0 || s->transform_point == nullptr) return;
  VtTransform *t = VoPrimitiveGetTransform(p);
  h->Pointer(t);
  static constexpr float kBasis[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (const auto &point : kBasis) {
    float moved[3] = {};
    (void)s->transform_point(moved, point, t);
    h->Floats(moved, 3);
  }
}

void GeometryAdd(VtPrimitive *p, Digest *h) {
  VtBounds box{};
  (void)VoPrimitiveGetBounds(p, &box);
  h->Floats(&box.xmin, 6);
  const int32_t world = PropertyOffset(p->contents, VO_VERT_WORLD);
  ForEachElement(p, VO_ELEMENT_VERTEX, [&](void *v) {
    h->Pointer(v);
    if (world >= 0) h->Floats(ElementField<float>(v, world), 3);
  });
  const int32_t vrefs = PropertyOffset(p->contents, VO_POLY_VREFS);
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *polygon) {
    h->Pointer(polygon);
    const VtReference *ring = vrefs >= 0 ? *ElementField<VtReference *>(polygon, vrefs) : nullptr;
    if (ring == nullptr) return;
    const VtReference *node = ring;
    do {
      node = node->next;
      h->Pointer(node->data);
    } while (node != ring);
  });
}

bool IsList(const VtPrimitive *p) {
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  return type == VO_PRIMITIVE_LIST || type == VO_PRIMITIVE_LIST_COPY;
}

// The casters of a ring in the order the caster list takes them.
void CastersAdd(const ShadingContext *s, const VtReference *ring, const VtPrimitive *left_out, ListPath &path,
                Digest *h) {
  if (ring == nullptr) return;
  const VtReference *node = ring;
  do {
    node = node->next;
    auto *p = static_cast<VtPrimitive *>(node->data);
    // A member destroyed while listed casts nothing (as in the map's own
    // caster walk), so its going changes the digest and no word of its
    // record is read.
    if (!PrimitiveLive(p) || p == left_out) continue;
    if (IsList(p)) {
      if (path.Enter(p) != 0) continue;
      CastersAdd(s, ListMembers(p), left_out, path, h);
      path.Leave();
    } else if ((p->flags & VO_PRIMITIVE_NO_SHADOW_CAST) == 0) {
      h->Pointer(p);
      h->Word(p->flags & kDrawnFlags);
      TransformAdd(s, p, h);
      GeometryAdd(p, h);
    }
  } while (node != ring);
}

const float *MapBlock(const VtLightData *d) {
  for (const VtShadowMap &m : d->shadowMaps)
    if (m.data != nullptr) return m.data;
  return nullptr;
}

MapSource *SourceOf(ImagingContext *c, const VtShader *light) {
  for (uint32_t i = 0; i < c->map_source_count; ++i)
    if (c->map_sources[i].light == light) return &c->map_sources[i];
  return nullptr;
}

}  // namespace

uint64_t MapSourceDigest(const ShadingContext *s, const VtLightData *d) {
  Digest h;
  ListPath path;
  const VtPrimitive *area = d->kind == VO_LIGHT_AREA ? d->areaGeometry : nullptr;
  CastersAdd(s, VoPrimitiveListGet(), area, path, &h);
  h.Word(s->imaging.shadow_bounds_set);
  if (s->imaging.shadow_bounds_set != 0) h.Floats(s->imaging.shadow_bounds, 6);
  return h.Value();
}

bool MapSourceChanged(ShadingContext *s, const VtShader *light, uint64_t digest) {
  const MapSource *m = SourceOf(&s->imaging, light);
  const VtLightData *d = static_cast<const VtLightData *>(light->data);
  const float *block = MapBlock(d);
  return m != nullptr && block != nullptr && m->block == block && m->digest != digest;
}

void MapSourceKeep(ShadingContext *s, const VtShader *light, uint64_t digest) {
  ImagingContext &c = s->imaging;
  const float *block = MapBlock(static_cast<const VtLightData *>(light->data));
  MapSource *m = SourceOf(&c, light);
  if (block == nullptr) {
    MapSourceForget(s, light);
    return;
  }
  if (m == nullptr && c.map_source_count == c.map_source_capacity) {
    // Without room the maps are kept as they always were: until the light
    // is invalidated.
    const uint32_t capacity = c.map_source_capacity == 0 ? 8 : c.map_source_capacity * 2;
    auto *grown = static_cast<MapSource *>(VoAllocate(capacity * static_cast<uint32_t>(sizeof(MapSource))));
    if (grown == nullptr) return;
    if (c.map_source_count != 0) std::memcpy(grown, c.map_sources, c.map_source_count * sizeof(MapSource));
    VoDeallocate(c.map_sources);
    c.map_sources = grown;
    c.map_source_capacity = capacity;
  }
  if (m == nullptr) m = &c.map_sources[c.map_source_count++];
  *m = MapSource{light, block, digest};
}

void MapSourceForget(ShadingContext *s, const VtShader *light) {
  ImagingContext &c = s->imaging;
  MapSource *m = SourceOf(&c, light);
  if (m != nullptr) *m = c.map_sources[--c.map_source_count];
}

}  // namespace vo::shader

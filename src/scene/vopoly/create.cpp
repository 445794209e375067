// Polygon and mesh primitives from parallel arrays of vertex properties.
//
// Every build either answers a complete primitive or leaves nothing behind:
// out of memory posts message 104 with the operation's name and destroys
// what was made; invalid arguments and degenerate geometry answer null.
// Mesh counts and indices are checked before anything is read through
// them: a negative count or an index outside 0 to 2^28 - 1 is refused with
// a diagnostic, and totals are summed in size_t.

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "scene/vogeom/face.h"
#include "scene/vopoly/polygons.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

using poly::PolygonFinisher;
using poly::PolygonModuleState;
using poly::PrimitiveCountsReset;
using poly::VertexRing;

// The parallel property arrays: where each property goes in a vertex and
// where the next entry is read from.
class PropertyFeed {
 public:
  // False for invalid arguments (*no_memory clear) or when the work arrays
  // cannot be had (*no_memory set).
  bool Prepare(uint32_t n, const uint32_t *ids, const VtTypedValue *records, bool *no_memory) {
    *no_memory = false;
    if (n == 0 || ids == nullptr || records == nullptr) return false;
    for (uint32_t i = 0; i < n; ++i) {
      const VtPropertyDescriptor *d = PropertyDescriptor(ids[i]);
      if (records[i].value.p == nullptr || d == nullptr || CodeKind(ids[i]) != VO_ELEMENT_VERTEX ||
          d->byte_size == 0)
        return false;
    }
    if (!sizes_.Allocate(n) || !cursors_.Allocate(n) || !offsets_.Allocate(n)) {
      *no_memory = true;
      return false;
    }
    for (uint32_t i = 0; i < n; ++i) {
      sizes_[i] = PropertyDescriptor(ids[i])->byte_size;
      cursors_[i] = static_cast<const unsigned char *>(records[i].value.p);
    }
    n_ = n;
    ids_ = ids;
    return true;
  }
  // True when every coordinate of the first count positions is finite;
  // read before any vertex is made, so nothing is built from one that is not.
  bool PositionsFinite(size_t count) const {
    for (uint32_t i = 0; i < n_; ++i) {
      if (ids_[i] != VO_VERT_WORLD) continue;
      const size_t floats = count * (sizes_[i] / sizeof(float));
      for (size_t k = 0; k < floats; ++k) {
        float x;
        std::memcpy(&x, cursors_[i] + k * sizeof(float), sizeof x);
        if (!std::isfinite(x)) return false;
      }
    }
    return true;
  }
  // The offsets in the primitive's layout, which holds every property.
  void Bind(const VtContents *c) {
    for (uint32_t i = 0; i < n_; ++i) offsets_[i] = PropertyOffset(c, ids_[i]);
  }
  // A new vertex of the primitive holding the next entry of every array.
  void *VertexMake(VtPrimitive *p) {
    void *v = ElementCreate(p, VO_ELEMENT_VERTEX);
    if (v == nullptr) return nullptr;
    for (uint32_t i = 0; i < n_; ++i) {
      std::memcpy(ElementField<unsigned char>(v, offsets_[i]), cursors_[i], sizes_[i]);
      cursors_[i] += sizes_[i];
    }
    return v;
  }

 private:
  WorkArray<uint32_t> sizes_;
  WorkArray<const unsigned char *> cursors_;
  WorkArray<int32_t> offsets_;
  const uint32_t *ids_ = nullptr;
  uint32_t n_ = 0;
};

// A boundary built vertex by vertex: a position that coincides with the
// last one kept is dropped (the last is not compared with the first).
class BoundaryRing {
 public:
  BoundaryRing(int32_t world, float tolerance) : world_(world), tolerance_(tolerance) {}
  ~BoundaryRing() { VoReferenceListDestroy(ring_, nullptr); }
  bool Add(void *v) {
    if (last_ != nullptr && poly::PositionsCoincide(ElementField<float>(v, world_),
                                                    ElementField<float>(last_, world_), tolerance_))
      return true;
    VtReference *node = VoPrimitiveReferenceCreate(v);
    if (node == nullptr) return false;
    ring_ = VoPrimitiveReferenceAppend(ring_, node);
    last_ = v;
    ++count_;
    return true;
  }
  uint32_t Count() const { return count_; }
  // Hands the ring over.
  VtReference *Take() {
    VtReference *r = ring_;
    ring_ = nullptr;
    count_ = 0;
    last_ = nullptr;
    return r;
  }

 private:
  int32_t world_;
  float tolerance_;
  VtReference *ring_ = nullptr;
  void *last_ = nullptr;
  uint32_t count_ = 0;
};

VtPrimitive *NoMemory(const char *operation, VtPrimitive *p) {
  Post(VO_STATUS_NO_MEMORY, poly::kMessageNoMemory, VO_MODULE_POLYGONS, operation);
  if (p != nullptr) PrimitiveDestroyInternal(p);
  return nullptr;
}

// ---- Meshes ---------------------------------------------------------------

constexpr const char *kMeshName = "VoPrimitiveCreateMesh";

struct MeshCounts {
  size_t indices = 0;     // over every contour
  uint32_t vertices = 0;  // largest index + 1
  bool holes = false;     // a face has more than one contour
  bool usable = false;    // a face's first contour has at least 3 vertices
};

// Checks the counts and indices before anything is read through them.
bool MeshCheck(uint32_t faces, const int32_t *contours, const int32_t *counts, const int32_t *indices,
               MeshCounts *m) {
  size_t contour = 0;
  for (uint32_t f = 0; f < faces; ++f) {
    const int32_t k = contours ? contours[f] : 1;
    if (k < 0) {
      Post(VO_STATUS_BAD_ARGUMENT, poly::kMeshCountRefused, VO_MODULE_POLYGONS, f, k);
      return false;
    }
    m->holes = m->holes || k > 1;
    for (int32_t c = 0; c < k; ++c, ++contour) {
      if (counts[contour] < 0) {
        Post(VO_STATUS_BAD_ARGUMENT, poly::kMeshCountRefused, VO_MODULE_POLYGONS, f, counts[contour]);
        return false;
      }
      m->usable = m->usable || (c == 0 && counts[contour] >= 3);
      m->indices += static_cast<size_t>(counts[contour]);
    }
  }
  // Every index, face by face (for the diagnostic).
  size_t at = 0;
  contour = 0;
  int64_t largest = -1;
  for (uint32_t f = 0; f < faces; ++f) {
    const int32_t k = contours ? contours[f] : 1;
    for (int32_t c = 0; c < k; ++c, ++contour) {
      for (int32_t i = 0; i < counts[contour]; ++i, ++at) {
        const int32_t index = indices[at];
        if (index < 0 || static_cast<uint32_t>(index) >= poly::kVertexIndexLimit) {
          Post(VO_STATUS_BAD_ARGUMENT, poly::kMeshIndexRefused, VO_MODULE_POLYGONS, f, index);
          return false;
        }
        if (index > largest) largest = index;
      }
    }
  }
  m->vertices = static_cast<uint32_t>(largest + 1);
  return true;
}

struct MeshBuild {
  VtPrimitive *p;
  PolygonModuleState *state;
  const int32_t *indices;
  WorkArray<void *> vertices;
  int32_t world;
  int32_t polygon_next;
  const PolygonFinisher *finisher;
  void *first_polygon = nullptr;
  void *last_polygon = nullptr;
  bool triangles = true;  // every polygon made has three references

  // Links a polygon after the last one; the ring is closed at the end.
  void PolygonLink(void *q) {
    if (first_polygon == nullptr) {
      RingFirstSet(p, VO_ELEMENT_POLYGON, q);
      first_polygon = q;
    } else {
      *ElementField<void *>(last_polygon, polygon_next) = q;
    }
    last_polygon = q;
  }
};

// Frees the rings of a face's contours and returns the records.
void ContoursDrop(VtContour *list) {
  if (list == nullptr) return;
  VtContour *c = list;
  do {
    VoReferenceListDestroy(c->ring, nullptr);
    c->ring = nullptr;
    c = c->next;
  } while (c != list);
  VoContourListFree(list);
}

// One face with several contours: a contour record for each ring, set up
// and merged into one ring (in *ring). False when out of memory; a face
// that cannot be set up or merged leaves *ring null.
bool FaceMerge(MeshBuild &b, VtReference **rings, uint32_t n, VtReference **ring) {
  *ring = nullptr;
  VtContour *list = nullptr, *tail = nullptr;
  for (uint32_t i = 0; i < n; ++i) {
    auto *c = static_cast<VtContour *>(VoPoolAllocate(b.state->contour_pool));
    if (c == nullptr) {
      for (uint32_t j = i; j < n; ++j) VoReferenceListDestroy(rings[j], nullptr);
      ContoursDrop(list);
      return false;
    }
    std::memset(static_cast<void *>(c), 0, sizeof *c);
    c->ring = rings[i];
    c->primitive = b.p;
    c->next = list ? list : c;
    if (tail != nullptr)
      tail->next = c;
    else
      list = c;
    tail = c;
  }
  // The list runs in contour order from its head, the first contour.
  float normal[3] = {0, 0, 0};
  VtStatus s = 0;
  VtContour *c = list;
  do {
    s = VoContourSetUp(c, b.world, normal);
    c = c->next;
  } while (s == 0 && c != list);
  if (s == 0 && n > 1) s = VoFaceMergeHoles(list, b.world);
  if (s != 0) {
    ContoursDrop(list);
    return (s & 0xFFFFu) != VO_COND_NO_MEMORY;
  }
  *ring = list->ring;
  list->ring = nullptr;
  VoContourListFree(list);
  return true;
}

// One face: its contours in order from the index cursor. False when out of
// memory.
bool FaceBuild(MeshBuild &b, int32_t k, const int32_t *counts, size_t *contour, size_t *at) {
  if (k == 0) return true;
  if (counts[*contour] < 3) {
    for (int32_t c = 0; c < k; ++c) *at += static_cast<size_t>(counts[(*contour)++]);
    return true;
  }
  void *q = ElementCreate(b.p, VO_ELEMENT_POLYGON);
  if (q == nullptr) return false;
  WorkArray<VtReference *> rings;
  VtReference *single = nullptr;
  uint32_t made = 0;
  bool ok = true;
  for (int32_t c = 0; c < k; ++c) {
    const int32_t m = counts[(*contour)++];
    const int32_t *index = b.indices + *at;
    *at += static_cast<size_t>(m);
    if (!ok || m < 3) continue;
    BoundaryRing ring(b.world, b.state->tolerance);
    for (int32_t i = 0; i < m && ok; ++i) ok = ring.Add(b.vertices[static_cast<size_t>(index[i])]);
    if (!ok || ring.Count() < 2) continue;  // a single reference is degenerate
    if (k == 1) {
      single = ring.Take();
      made = 1;
    } else if ((ok = rings.Fit(made + 1))) {
      rings[made++] = ring.Take();
    }
  }
  VtReference *boundary = single;
  if (ok && k > 1 && made > 0) {
    ok = FaceMerge(b, rings.data(), made, &boundary);
  } else if (!ok) {
    for (uint32_t i = 0; k > 1 && i < made; ++i) VoReferenceListDestroy(rings[i], nullptr);
    VoReferenceListDestroy(single, nullptr);
    boundary = nullptr;
  }
  if (boundary == nullptr) {
    ElementDestroy(b.p, VO_ELEMENT_POLYGON, q);
    return ok;
  }
  if (!b.finisher->Finish(q, boundary)) {
    ElementDestroy(b.p, VO_ELEMENT_POLYGON, q);  // the boundary goes with it
    return true;
  }
  b.triangles = b.triangles && ReferenceRingCount(boundary) == 3;
  b.PolygonLink(q);
  return true;
}

}  // namespace

VtPrimitive *VoPrimitiveCreatePolygon(uint32_t vertex_count, uint32_t n, const uint32_t *ids,
                                      const VtTypedValue *records) {
  constexpr const char *kName = "VoPrimitiveCreatePolygon";
  PolygonModuleState *state = poly::PolygonState();
  if (state == nullptr || vertex_count < 2) return nullptr;
  PropertyFeed feed;
  bool no_memory = false;
  if (!feed.Prepare(n, ids, records, &no_memory)) return no_memory ? NoMemory(kName, nullptr) : nullptr;
  if (!feed.PositionsFinite(vertex_count)) return nullptr;
  VtContents *contents = VoPolygonContentsGet(1, 0, n, ids);
  VtPrimitive *p = contents ? VoPrimitiveCreate(contents, VO_PRIMITIVE_POLYGON) : nullptr;
  if (p == nullptr) return NoMemory(kName, nullptr);
  void *q = ElementCreate(p, VO_ELEMENT_POLYGON);
  if (q == nullptr) {
    PrimitiveDestroyInternal(p);
    return nullptr;
  }
  RingFirstSet(p, VO_ELEMENT_POLYGON, q);
  feed.Bind(p->contents);
  VertexRing vertices(p);
  BoundaryRing ring(PropertyOffset(p->contents, VO_VERT_WORLD), state->tolerance);
  for (uint32_t i = 0; i < vertex_count; ++i) {
    void *v = feed.VertexMake(p);
    if (v == nullptr) return NoMemory(kName, p);
    vertices.Add(v);
    if (!ring.Add(v)) return NoMemory(kName, p);
  }
  const PolygonFinisher finisher(p);
  if (ring.Count() < 2 || !finisher.Finish(q, ring.Take())) {
    PrimitiveDestroyInternal(p);
    return nullptr;
  }
  PrimitiveCountsReset(p);
  finisher.Measure(q);
  if (vertex_count == 3) p->flags |= VO_PRIMITIVE_TRIANGLES;
  return p;
}

VtPrimitive *VoPrimitiveCreateMesh(uint32_t faces, const int32_t *contours, const int32_t *counts,
                                   const int32_t *indices, uint32_t n, const uint32_t *ids,
                                   const VtTypedValue *records) {
  PolygonModuleState *state = poly::PolygonState();
  if (state == nullptr || faces == 0 || counts == nullptr || indices == nullptr) return nullptr;
  PropertyFeed feed;
  bool no_memory = false;
  if (!feed.Prepare(n, ids, records, &no_memory)) return no_memory ? NoMemory(kMeshName, nullptr) : nullptr;
  MeshCounts m;
  if (!MeshCheck(faces, contours, counts, indices, &m) || m.indices == 0 || !m.usable) return nullptr;
  if (!feed.PositionsFinite(m.vertices)) return nullptr;
  VtContents *contents = VoPolygonContentsGet(1, 1, n, ids);
  if (contents != nullptr && m.holes) {
    const uint32_t edges = VO_PRIM_EDGES;
    contents = VoContentsUnion(contents, 1, &edges);
  }
  MeshBuild b{};
  b.state = state;
  b.indices = indices;
  b.p = contents ? VoPrimitiveCreate(contents, VO_PRIMITIVE_MESH) : nullptr;
  if (b.p == nullptr || !b.vertices.Allocate(m.vertices)) return NoMemory(kMeshName, b.p);
  b.world = PropertyOffset(b.p->contents, VO_VERT_WORLD);
  b.polygon_next = PropertyOffset(b.p->contents, VO_POLY_NEXT);
  const PolygonFinisher finisher(b.p);
  b.finisher = &finisher;
  feed.Bind(b.p->contents);
  VertexRing ring(b.p);
  for (uint32_t i = 0; i < m.vertices; ++i) {
    if ((b.vertices[i] = feed.VertexMake(b.p)) == nullptr) return NoMemory(kMeshName, b.p);
    ring.Add(b.vertices[i]);
  }
  size_t contour = 0, at = 0;
  for (uint32_t f = 0; f < faces; ++f)
    if (!FaceBuild(b, contours ? contours[f] : 1, counts, &contour, &at)) return NoMemory(kMeshName, b.p);
  if (b.first_polygon == nullptr) {
    PrimitiveDestroyInternal(b.p);
    return nullptr;
  }
  *ElementField<void *>(b.last_polygon, b.polygon_next) = b.first_polygon;
  const VtStatus s = m.holes ? Initialisers(b.p->contents, {VO_PRIM_EDGES}).Run(b.p, nullptr) : 0;
  if ((s & 0xFFFFu) == VO_COND_NO_MEMORY) return NoMemory(kMeshName, b.p);
  PrimitiveCountsReset(b.p);
  ForEachElement(b.p, VO_ELEMENT_POLYGON, [&](void *q) { finisher.Measure(q); });
  if (b.triangles) b.p->flags |= VO_PRIMITIVE_TRIANGLES;
  return b.p;
}

}  // namespace vo

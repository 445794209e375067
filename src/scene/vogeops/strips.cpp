// Triangle strips of a triangulated mesh, for the hardware back end, hung
// on the primitive as its tri_mesh property (314).
//
// Strips run across shared edges: every triangle of the mesh is in exactly
// one strip. While a build runs, bit 7 of a polygon's flags word marks a
// triangle already taken; every bit 7 is clear again when it ends. A strip's
// vertex sequence is a ring of reference nodes whose first word names the
// first vertex's node.
//
// Only meshes of triangles get strips (a polygon of another size is refused
// before anything changes); a build that runs out of memory leaves no
// strips at all, so the back end never draws part of a mesh. A copy of a
// primitive gets no strips: they name the source's vertices, and the back
// end builds strips for a mesh that has none.

#include <cstring>

#include "scene/vogeom/face.h"
#include "scene/vogeops/geops.h"
#include "kernel/vosystem/face.h"

namespace vo::geops {

namespace {

constexpr uint32_t kTaken = 0x80;
constexpr VtStatus kNoMemory = VO_STATUS_ERROR_NO_MEMORY;

VtTriangleMesh **MeshField(VtPrimitive *p) {
  return PropertyField<VtTriangleMesh *>(p, nullptr, VO_PRIM_TRI_MESH);
}

void StripDestroy(GeopsContext *c, VtTriangleStrip *strip) {
  if (VtReference *first = strip->first) {
    VtReference *node = first;
    do {
      VtReference *next = node->next;
      ReferenceNodeFree(node);
      node = next;
    } while (node != first && node != nullptr);
  }
  VoPoolFree(c->strip_pool, strip);
}

// Drops one holder of a mesh; the last frees its strips and the record.
void MeshRelease(GeopsContext *c, VtTriangleMesh *mesh) {
  if (mesh == nullptr) return;
  if (mesh->references >= 2) {
    --mesh->references;
    return;
  }
  for (VtTriangleStrip *s = mesh->first; s != nullptr;) {
    VtTriangleStrip *next = s->next;
    StripDestroy(c, s);
    s = next;
  }
  VoPoolFree(c->mesh_pool, mesh);
}

// ---- Handlers of tri_mesh ----------------------------------------------------

VtStatus MeshInitialise(VtPrimitive *p) {
  if (VtTriangleMesh **f = MeshField(p)) *f = nullptr;
  return 0;
}

VtStatus MeshCopy(VtPrimitive *, VtPrimitive *destination) { return MeshInitialise(destination); }

VtStatus MeshEnquire(VtPrimitive *, VtTypedValue *answer) {
  static VtTriangleMesh *const kNoMesh = nullptr;
  if (answer != nullptr) *answer = TypedPointer(const_cast<VtTriangleMesh **>(&kNoMesh));
  return 0;
}

VtStatus MeshDestroy(VtPrimitive *p) {
  VtTriangleMesh **f = MeshField(p);
  GeopsContext *c = Context();
  if (f == nullptr) return 0;
  if (c != nullptr) MeshRelease(c, *f);
  *f = nullptr;
  return 0;
}

VtStatus MeshReport(VtPrimitive *p) {
  VtTriangleMesh **f = MeshField(p);
  const VtTriangleMesh *mesh = f ? *f : nullptr;
  if (mesh == nullptr || mesh->first == nullptr) return 0;
  uint32_t strips = 0;
  for (const VtTriangleStrip *s = mesh->first; s != nullptr; s = s->next) ++strips;
  Post(VO_CLASS_DEBUG, kMessageMeshReport, VO_MODULE_GEOMETRY, static_cast<const void *>(mesh), strips,
       mesh->references);
  return 0;
}

// ---- The build ----------------------------------------------------------------

struct ScratchList {
  ScratchNode *head = nullptr, *tail = nullptr;
  uint32_t count = 0;
};

// One build: the offsets, the nodes kept for reuse and the status word.
class StripBuilder {
 public:
  StripBuilder(VtPrimitive *p, GeopsContext *c) : p_(p), c_(c) {
    const VtContents *k = p->contents;
    flags_ = PropertyOffset(k, VO_POLY_FLAGS);
    first_edge_ = PropertyOffset(k, VO_POLY_EDGES);
    vrefs_ = PropertyOffset(k, VO_EDGE_VREFS);
    polys_ = PropertyOffset(k, VO_EDGE_POLYS);
    edges_ = PropertyOffset(k, VO_EDGE_EDGES);
  }
  ~StripBuilder() {
    for (ScratchList *l : {&lists_[0], &lists_[1], &lists_[2], &spare_}) ListGiveBack(l);
    for (VtReference *n = free_nodes_; n != nullptr;) {
      VtReference *next = n->next;
      ReferenceNodeFree(n);
      n = next;
    }
  }
  // Builds the strips onto the mesh; answers the status word.
  VtStatus Run(VtTriangleMesh *mesh);

 private:
  struct Sequence {
    VtReference *first = nullptr, *last = nullptr;
  };
  struct Candidate {
    VtTriangleStrip *strip = nullptr;
    uint32_t length = 0;
  };

  uint32_t &Flags(VtPolygon *t) const { return *ElementField<uint32_t>(t, flags_); }
  bool Taken(VtPolygon *t) const { return (Flags(t) & kTaken) != 0; }
  VtEdge **EdgeLinks(VtEdge *e) const { return ElementField<VtEdge *>(e, edges_); }
  VtPolygon **Sides(VtEdge *e) const { return ElementField<VtPolygon *>(e, polys_); }
  int SideOf(VtEdge *e, VtPolygon *t) const { return Sides(e)[0] == t ? 0 : 1; }
  VtEdge *After(VtEdge *e, VtPolygon *t) const { return EdgeLinks(e)[SideOf(e, t)]; }
  VtPolygon *Across(VtEdge *e, VtPolygon *t) const { return Sides(e)[1 - SideOf(e, t)]; }
  void *Start(VtEdge *e) const { return (*ElementField<VtReference *>(e, vrefs_))->data; }
  void *End(VtEdge *e) const { return (*ElementField<VtReference *>(e, vrefs_))->next->data; }
  bool Has(VtEdge *e, void *v) const { return Start(e) == v || End(e) == v; }
  void *Other(VtEdge *e, void *v) const { return Start(e) == v ? End(e) : Start(e); }

  void Fail() { status_ |= kNoMemory; }
  VtReference *NodeTake(void *vertex);
  bool Put(Sequence *s, void *vertex, bool front);
  void SequenceGiveBack(VtReference *first);
  void ListAdd(ScratchList *l, VtPolygon *t);
  void ListGiveBack(ScratchList *l);
  // Keeps a candidate's nodes for the next candidates.
  void ListRecycle(ScratchList *l) {
    if (l->head != nullptr) {
      l->tail->next = spare_.head;
      spare_.head = l->head;
    }
    *l = ScratchList{};
  }
  void ListMark(const ScratchList &l, bool taken) {
    for (ScratchNode *n = l.head; n != nullptr; n = n->next)
      Flags(n->polygon) = taken ? (Flags(n->polygon) | kTaken) : (Flags(n->polygon) & ~kTaken);
  }
  uint32_t Extend(Sequence *s, VtEdge *edge, VtPolygon *t, bool front, bool greedy, ScratchList *l,
                  uint32_t *orientation);
  VtTriangleStrip *Grow(VtPolygon *t, VtEdge *a, VtEdge *b, bool greedy, ScratchList *l, uint32_t *length);
  VtTriangleStrip *Longest(VtPolygon *t);
  VtTriangleStrip *Greedy(VtPolygon *t);

  VtPrimitive *p_;
  GeopsContext *c_;
  int32_t flags_, first_edge_, vrefs_, polys_, edges_;
  VtStatus status_ = 0;
  VtReference *free_nodes_ = nullptr;  // nodes of discarded candidates, linked through next
  ScratchList lists_[3];
  ScratchList spare_;  // scratch nodes left by earlier candidates
};

VtReference *StripBuilder::NodeTake(void *vertex) {
  VtReference *n = free_nodes_;
  if (n != nullptr) {
    free_nodes_ = n->next;
  } else if ((n = VoReferenceNodeCreate(vertex)) == nullptr) {
    Fail();
    return nullptr;
  }
  n->data = vertex;
  n->next = nullptr;
  return n;
}

bool StripBuilder::Put(Sequence *s, void *vertex, bool front) {
  VtReference *n = NodeTake(vertex);
  if (n == nullptr) return false;
  if (s->first == nullptr) {
    s->first = s->last = n;
  } else if (front) {
    n->next = s->first;
    s->first = n;
  } else {
    s->last->next = n;
    s->last = n;
  }
  return true;
}

// Gives the nodes of an open or closed sequence to the free list.
void StripBuilder::SequenceGiveBack(VtReference *first) {
  for (VtReference *n = first; n != nullptr;) {
    VtReference *next = n->next == first ? nullptr : n->next;
    n->next = free_nodes_;
    free_nodes_ = n;
    n = next;
  }
}

void StripBuilder::ListAdd(ScratchList *l, VtPolygon *t) {
  ScratchNode *n = spare_.head;
  if (n != nullptr) {
    spare_.head = n->next;
  } else if ((n = static_cast<ScratchNode *>(VoPoolAllocate(c_->scratch_pool))) == nullptr) {
    Fail();
    return;
  }
  *n = ScratchNode{t, nullptr};
  if (l->tail != nullptr)
    l->tail->next = n;
  else
    l->head = n;
  l->tail = n;
  ++l->count;
}

void StripBuilder::ListGiveBack(ScratchList *l) {
  for (ScratchNode *n = l->head; n != nullptr;) {
    ScratchNode *next = n->next;
    VoPoolFree(c_->scratch_pool, n);
    n = next;
  }
  *l = ScratchList{};
}

// Walks across edge from t, appending (or, at the front, prepending) the
// far vertex of each triangle met, until a border or a taken triangle.
// Answers the triangles added.
uint32_t StripBuilder::Extend(Sequence *s, VtEdge *edge, VtPolygon *t, bool front, bool greedy,
                              ScratchList *l, uint32_t *orientation) {
  uint32_t added = 0;
  for (;;) {
    VtPolygon *n = Across(edge, t);
    if (n == nullptr || Taken(n)) return added;
    Flags(n) |= kTaken;
    if (!greedy) ListAdd(l, n);
    ++added;
    void *end = front ? s->first->data : s->last->data;
    VtEdge *exit = After(edge, n);
    if (!Has(exit, end)) exit = After(exit, n);
    if (greedy) {
      // Of the two other edges, leave through the one at the end vertex
      // unless the triangle beyond it is gone: then turn, repeating the
      // vertex that swaps the strip's parity.
      VtPolygon *beyond = Across(exit, n);
      if (beyond == nullptr || Taken(beyond)) {
        void *turn = Other(edge, end);
        if (!Put(s, turn, front)) return added;
        if (front) *orientation ^= 1;
        end = turn;
        exit = After(exit, n) == edge ? After(edge, n) : After(exit, n);
      }
    }
    if (!Put(s, Other(exit, end), front)) return added;
    if (front) *orientation ^= 1;
    edge = exit;
    t = n;
  }
}

VtTriangleStrip *StripBuilder::Grow(VtPolygon *t, VtEdge *a, VtEdge *b, bool greedy, ScratchList *l,
                                    uint32_t *length) {
  Flags(t) |= kTaken;
  if (!greedy) ListAdd(l, t);
  auto *strip = static_cast<VtTriangleStrip *>(VoPoolAllocate(c_->strip_pool));
  if (strip == nullptr) {
    Fail();
    return nullptr;
  }
  void *s = Has(b, Start(a)) ? Start(a) : End(a);
  Sequence seq;
  uint32_t orientation = After(a, t) == b ? 0 : 1;
  uint32_t count = 1;
  if (Put(&seq, Other(a, s), false) && Put(&seq, s, false) && Put(&seq, Other(b, s), false)) {
    count += Extend(&seq, b, t, false, greedy, l, &orientation);
    if (status_ == 0) count += Extend(&seq, a, t, true, greedy, l, &orientation);
  }
  if (seq.last != nullptr) seq.last->next = seq.first;
  *strip = VtTriangleStrip{seq.first, nullptr, orientation};
  if (!greedy) ListMark(*l, false);
  *length = count;
  return strip;
}

VtTriangleStrip *StripBuilder::Longest(VtPolygon *t) {
  VtEdge *e0 = *ElementField<VtEdge *>(t, first_edge_);
  if (e0 == nullptr) return nullptr;
  VtEdge *e1 = After(e0, t), *e2 = After(e1, t);
  const bool t0 = Across(e0, t) != nullptr, t1 = Across(e1, t) != nullptr, t2 = Across(e2, t) != nullptr;
  VtEdge *pairs[3][2];
  int n = 0;
  auto add = [&](VtEdge *x, VtEdge *y) {
    pairs[n][0] = x;
    pairs[n][1] = y;
    ++n;
  };
  if (t0 && !t1 && !t2) {
    add(e2, e0), add(e0, e1);
  } else if (t0) {
    add(e0, e1), add(e1, e2), add(e2, e0);
  } else if (!t1) {
    add(e1, e2), add(e2, e0);
  } else if (t2) {
    add(e0, e1), add(e1, e2), add(e2, e0);
  } else {
    add(e0, e1), add(e1, e2);
  }
  Candidate made[3];
  for (int i = 0; i < n; ++i) {
    ListRecycle(&lists_[i]);
    made[i].strip = Grow(t, pairs[i][0], pairs[i][1], false, &lists_[i], &made[i].length);
  }
  // The longest; a tie goes to the later candidate.
  int best = 0;
  for (int i = 1; i < n; ++i)
    if (!(made[best].length > made[i].length)) best = i;
  for (int i = 0; i < n; ++i) {
    if (i == best || made[i].strip == nullptr) continue;
    SequenceGiveBack(made[i].strip->first);
    VoPoolFree(c_->strip_pool, made[i].strip);
  }
  ListMark(lists_[best], true);
  return made[best].strip;
}

VtTriangleStrip *StripBuilder::Greedy(VtPolygon *t) {
  VtEdge *e0 = *ElementField<VtEdge *>(t, first_edge_);
  if (e0 == nullptr) return nullptr;
  VtEdge *e1 = After(e0, t), *e2 = After(e1, t);
  VtPolygon *t0 = Across(e0, t), *t1 = Across(e1, t);
  VtEdge *a = e1, *b = e0;
  if (t0 == nullptr || Taken(t0)) {
    a = e2, b = e1;
  } else if (t1 == nullptr) {
    a = e0, b = e2;
  } else if (Taken(t1)) {
    a = e2, b = e0;
  }
  uint32_t length = 0;
  return Grow(t, a, b, true, nullptr, &length);
}

VtStatus StripBuilder::Run(VtTriangleMesh *mesh) {
  ForEachElement(p_, VO_ELEMENT_POLYGON, [&](void *element) {
    auto *t = static_cast<VtPolygon *>(element);
    if (status_ != 0 || Taken(t)) return;
    VtTriangleStrip *strip = c_->greedy ? Greedy(t) : Longest(t);
    if (strip == nullptr) return;
    strip->next = mesh->first;
    mesh->first = strip;
  });
  ForEachElement(p_, VO_ELEMENT_POLYGON, [&](void *t) { Flags(static_cast<VtPolygon *>(t)) &= ~kTaken; });
  return status_;
}

// A polygon that is no triangle, or null when every one is.
VtPolygon *NotTriangle(VtPrimitive *p) {
  const int32_t vrefs = PropertyOffset(p->contents, VO_POLY_VREFS);
  VtPolygon *found = nullptr;
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *t) {
    if (found == nullptr && (vrefs < 0 || ReferenceRingCount(*ElementField<VtReference *>(t, vrefs)) != 3))
      found = static_cast<VtPolygon *>(t);
  });
  return found;
}

constexpr uint32_t kStripCodes[] = {VO_POLY_FLAGS,  VO_POLY_EDGES,   VO_EDGE_EDGES, VO_EDGE_POLYS,
                                    VO_EDGE_VREFS,  VO_EDGE_FLAGS,   VO_EDGE_NEXT,  VO_PRIM_EDGES,
                                    VO_VERT_SCREEN, VO_PRIM_TRI_MESH};

VtStatus StripsBuild(VtPrimitive *p, GeopsContext *c) {
  if (VtPolygon *t = NotTriangle(p)) {
    Post(VO_STATUS_BAD_ARGUMENT, kStripSeedNotTriangle, VO_MODULE_GEOMETRY_OPERATORS,
         static_cast<const void *>(p), static_cast<const void *>(t));
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (VtTriangleMesh **f = MeshField(p)) {
    MeshRelease(c, *f);
    *f = nullptr;
  }
  VtContents *wider = VoContentsUnion(p->contents, sizeof kStripCodes / sizeof kStripCodes[0], kStripCodes);
  if (wider == nullptr) return kNoMemory;
  if (p->contents != wider) {
    const VtStatus s = PrimitiveConvert(p, wider, 0, nullptr, nullptr);
    if (p->contents != wider) return s ? s : kNoMemory;
  }
  if (VtStatus s = VoPrimitiveResetProperty(p, VO_PRIM_EDGES); (s & VO_COND_UNAVAILABLE) != 0) return s;
  if (RingFirst(p, VO_ELEMENT_POLYGON) == nullptr) return 0;
  if (RingFirst(p, VO_ELEMENT_EDGE) == nullptr) return kNoMemory;  // the edges could not be built
  auto *mesh = static_cast<VtTriangleMesh *>(VoPoolAllocate(c->mesh_pool));
  if (mesh == nullptr) return kNoMemory;
  *mesh = VtTriangleMesh{nullptr, 1};
  VtStatus s;
  {
    StripBuilder builder(p, c);
    s = builder.Run(mesh);
  }
  if (s != 0) {
    MeshRelease(c, mesh);
    return s;
  }
  *MeshField(p) = mesh;
  return 0;
}

}  // namespace

VtStatus MeshPropertyStart() {
  if (PropertyRegistry() == nullptr) return 0;  // no geometry module: no primitives
  const char *kName = "vogeom:tri_mesh:314";
  const VtPropertyDescriptor *d = PropertyDescriptor(VO_PRIM_TRI_MESH);
  const bool ours = d != nullptr && d->name != nullptr && std::strncmp(d->name, kName, 15) == 0;
  if (!ours && VoPrimitivePropertyRegister(kName, VtGenericPtr, 1) != VO_PRIM_TRI_MESH)
    return VO_STATUS_BAD_ARGUMENT;
  const struct {
    uint32_t operation;
    VtProc procedure;
  } kHandlers[] = {
      {VO_PROPERTY_PRIMITIVE_INITIALISE, reinterpret_cast<VtProc>(&MeshInitialise)},
      {VO_PROPERTY_PRIMITIVE_COPY, reinterpret_cast<VtProc>(&MeshCopy)},
      {VO_PROPERTY_PRIMITIVE_ENQUIRE, reinterpret_cast<VtProc>(&MeshEnquire)},
      {VO_PROPERTY_PRIMITIVE_DESTROY, reinterpret_cast<VtProc>(&MeshDestroy)},
      {VO_PROPERTY_PRIMITIVE_SET, reinterpret_cast<VtProc>(&MeshReport)},
  };
  VtStatus st = 0;
  for (const auto &h : kHandlers) st |= VoPropertySetHandler(VO_PRIM_TRI_MESH, h.operation, h.procedure);
  return st;
}

}  // namespace vo::geops

namespace vo {

VtStatus VoPrimitiveBuildTriangleStrips(VtPrimitive *p) {
  geops::GeopsContext *c = geops::Context();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p, VO_MODULE_GEOMETRY_OPERATORS)) return s;
  const uint32_t type = PrimitiveType(p);
  if (type != VO_PRIMITIVE_MESH && type != VO_PRIMITIVE_MESH_SHARED) return 0;
  return geops::StripsBuild(p, c);
}

void *VoTriangleStripGetFirst(void *record) { return record ? *static_cast<void **>(record) : nullptr; }

void *VoTriangleStripGetNext(void *strip) {
  return strip ? static_cast<VtTriangleStrip *>(strip)->next : nullptr;
}

}  // namespace vo

// Stages 1 and 2 of the hidden-line render: the scene list turned into
// plain primitives carrying the renderer's properties, their vertices
// projected, back faces culled, edges classified (silhouette, candidate,
// whole) and clipped to the view, and the front faces listed as occluders.
//
// Invariants a reader must know:
// - a change of contents moves every element of a primitive: rings are
//   read again after PreparePlain;
// - each vertex is divided by its w once: the ring's vertices, then the
//   vertices clipping made (their vertex link is null); never by w <= 0;
// - the polygon's own plane (property 518) is never written: a two-sided
//   back face gets a negated copy in its record;
// - the walk of lists and expansions is guarded by a ListPath, so a list
//   holding itself or a primitive expanding to itself ends;
// - a primitive the scene reaches twice is extracted once: its records
//   from the first extraction mark it.

#include <algorithm>
#include <cmath>

#include <vo/vo_view.h>

#include "scene/vogeom/face.h"
#include "scene/voview/face.h"
#include "render/vorenhid/hidden_line.h"
#include "kernel/vosystem/face.h"

namespace vo::hid {

namespace {

constexpr uint32_t kStickyExpansionMemory = 0x4;
constexpr uint32_t kPlainAdded[] = {VO_PRIM_EDGES, VO_POLY_EDGES, kPolygonRecord, VO_POLY_VREFSCLIP,
                                    VO_EDGE_POLYS, VO_EDGE_EDGES, kEdgeRecord,    VO_EDGE_NEXT,
                                    VO_EDGE_VREFS, VO_EDGE_FLAGS, VO_VERT_SCREEN, kEdgePair,
                                    VO_POLY_PLANE};

template <class T>
T &At(void *block, int32_t offset) {
  return *ElementField<T>(block, offset);
}

bool Plain(uint32_t type) {
  return type == VO_PRIMITIVE_POLYGON || type == VO_PRIMITIVE_MESH || type == VO_PRIMITIVE_LINE ||
         type == VO_PRIMITIVE_LINE_MESH;
}
bool Surface(uint32_t type) { return type == VO_PRIMITIVE_POLYGON || type == VO_PRIMITIVE_MESH; }

// Calls f(element) along a ring of elements linked at offset next.
template <class F>
void ForEachElement(void *first, int32_t next, F &&f) {
  for (void *e = first; e != nullptr;) {
    void *after = next >= 0 ? At<void *>(e, next) : nullptr;
    f(e);
    e = (after == first || after == e) ? nullptr : after;
  }
}

void *First(const VtPrimitive *p, int32_t offset) {
  return offset >= 0 && p->data != nullptr ? At<void *>(p->data, offset) : nullptr;
}

int32_t ViewClass(const VtPrimitive *p) {
  VtBounds b{};
  if (VoPrimitiveGetWorldBounds(const_cast<VtPrimitive *>(p), &b) != 0) return VO_CLIP_OUTSIDE;
  uint32_t rect[4];
  return VoViewProjectBounds(&b, rect);
}

VtStatus Append(VtReference **list, VtPrimitive *p) {
  VtReference *node = VoPrimitiveReferenceCreate(p);
  if (node == nullptr) return VO_STATUS_NO_MEMORY;
  *list = VoPrimitiveReferenceAppend(*list, node);
  return 0;
}

// ---- Stage 1 -------------------------------------------------------------------

VtStatus PreparePlain(VtHiddenLineContext *s, VtPrimitive *p) {
  const uint32_t type = PrimitiveType(p);
  const uint32_t count = sizeof kPlainAdded / sizeof kPlainAdded[0] - (Surface(type) ? 0 : 1);
  const bool had_plane = PropertyOffset(p->contents, VO_POLY_PLANE) >= 0;
  VtContents *c = VoContentsUnion(p->contents, count, kPlainAdded);
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  if (c != p->contents && VoPrimitiveSetContents(p, c) != 0) return VO_STATUS_NO_MEMORY;
  const Layout l = LayoutFor(s, p);
  if (Surface(type) && !had_plane)
    ForEachElement(First(p, l.polys), l.poly_next, [&](void *q) {
      (void)VoPolygonResetProperty(p, static_cast<VtPolygon *>(q), VO_POLY_PLANE);
    });
  // Edges the application keeps (with its flags) are used as they are,
  // linked to their polygons first when it built them without the links.
  if ((p->flags & VO_PRIMITIVE_HAS_EDGES) == 0 || First(p, l.edges) == nullptr)
    return VoPrimitiveResetProperty(p, VO_PRIM_EDGES) == 0 ? 0 : VO_STATUS_NO_MEMORY;
  return !Surface(type) || VoPrimitiveLinkEdges(p) == 0 ? 0 : VO_STATUS_NO_MEMORY;
}

struct Stage1 {
  VtHiddenLineContext *s;
  VtContents *contents;
  ListPath path;

  void Nothing(const VtPrimitive *p) {
    if (s->nothing_posted++ == 0)
      Post(VO_CLASS_WARNING, messages::kHiddenLineNothing, VO_MODULE_HIDDEN_LINE,
           static_cast<const void *>(p));
  }

  VtStatus One(VtPrimitive *p, VtPrimitive *source) {
    if (!PrimitiveLive(p) || ViewClass(p) == VO_CLIP_OUTSIDE) return 0;
    const uint32_t type = PrimitiveType(p);
    if (p != source && (s->announce_primitive | s->announce_element) != 0) {
      const VtTypedValue parent = TypedPointer(&source);
      (void)VoPrimitiveSetProperty(p, VO_PRIM_PARENT, &parent);
    }
    if (Plain(type) && (p->flags & VO_PRIMITIVE_HAS_TRANSFORM) == 0) {
      if (VtStatus st = PreparePlain(s, p)) return st;
      return Append(&s->prepared, p);
    }
    if (path.Enter(p) != 0) return 0;  // already being expanded: drawn nothing (posted)
    const VtStatus st = Expand(p, source, !Plain(type));
    path.Leave();
    return st;
  }

  VtStatus Expand(VtPrimitive *p, VtPrimitive *source, bool normals) {
    static constexpr uint32_t kAttributes[] = {kVertexAttributes, kVertexExtra, VO_VERT_NORMAL};
    VtContents *c = contents;
    if (s->attributes != 0) c = VoContentsUnion(c, 2, kAttributes);
    if (c != nullptr && normals) c = VoContentsUnion(c, 1, kAttributes + 2);
    if (c == nullptr) return VO_STATUS_NO_MEMORY;
    VtReference *pieces = VoPrimitiveExpandToList(p, c, s->attributes != 0 ? 130 : 2);
    if (s->sticky != nullptr && (*s->sticky & kStickyExpansionMemory) != 0) {
      (void)VoPrimitiveReferenceListDestroy(pieces);
      return VO_STATUS_NO_MEMORY;
    }
    if (pieces == nullptr) {
      Nothing(p);
      return 0;
    }
    // The pieces are walked while they are a ring of their own: joined to
    // the copies first, the walk from their last node would take every
    // earlier copy again, preparing it twice and freeing the clipped
    // outlines its first pass left edges on.
    const VtStatus st = ForEachNodeUntil(pieces, [&](VtReference *node) -> VtStatus {
      auto *q = static_cast<VtPrimitive *>(node->data);
      if (q == p) {
        Nothing(p);
        return 0;
      }
      if (VtStatus one = One(q, source)) return one;
      return InterruptPoll(s);
    });
    s->copies = VoPrimitiveReferenceAppend(s->copies, pieces);
    return st;
  }
};

// ---- Stage 2 -------------------------------------------------------------------

struct Stage2 {
  VtHiddenLineContext *s;
  VtPrimitive *p;
  const Layout *l;
  bool clipped;  // the primitive crosses the view's window
  const double *inverse;

  void *Vrefs(void *q) const { return At<VtReference *>(q, l->vrefs); }
  VtReference *&Clipped(void *q) const { return At<VtReference *>(q, l->clipped); }
  float *Screen(void *v) const { return ElementField<float>(v, l->screen); }

  void Project(void *v) const {
    float *out = Screen(v);
    (void)VoViewProjectPoint(ElementField<float>(v, l->world), out);
    if (!clipped) Divide(out);
  }
  static void Divide(float *q) {
    if (!(q[3] > 0)) return;
    q[0] /= q[3];
    q[1] /= q[3];
    q[2] /= q[3];
  }

  double EyeSide(const float *plane) const {
    const double *e = inverse + 8;
    return plane[0] * e[0] + plane[1] * e[1] + plane[2] * e[2] + plane[3] * e[3];
  }

  // Culls a surface's polygons and gives each its record; a polygon in the
  // back-face tolerance band hides its border edges (EdgeKind).
  VtStatus Cull() {
    const double *e = inverse + 8;
    const double tol =
        s->back_face_tolerance * std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2] + e[3] * e[3]);
    const bool two_sided = (p->flags & VO_PRIMITIVE_TWO_SIDED) != 0;
    VtStatus st = 0;
    ForEachElement(First(p, l->polys), l->poly_next, [&](void *q) {
      if (st != 0) return;
      auto *rec = static_cast<VtHiddenLinePlane *>(VoPoolAllocate(s->pools[2]));
      if (rec == nullptr) {
        st = VO_STATUS_NO_MEMORY;
        return;
      }
      const float *plane = l->plane >= 0 ? ElementField<float>(q, l->plane) : nullptr;
      const double side = plane != nullptr ? EyeSide(plane) : -1;
      const bool front = side < 0;
      rec->facing = front ? 1 : 0;
      rec->band = (!clipped && side >= 0 && side < tol) ? 1 : 0;
      ProjectPlane(plane, !front && two_sided, rec);
      At<VtHiddenLinePlane *>(q, l->poly_record) = rec;
      // A two-sided primitive's back faces get their outlines back once the
      // edges are classified (Occluders). A boundary a scanline render left
      // goes back before this one takes its place.
      if (Clipped(q) != nullptr && Clipped(q) != Vrefs(q))
        view::ClippedBoundaryFree(p, static_cast<VtPolygon *>(q));
      Clipped(q) = front ? static_cast<VtReference *>(Vrefs(q)) : nullptr;
    });
    return st;
  }

  // The polygon's plane in projection coordinates, (a, b, c) of unit length.
  void ProjectPlane(const float *plane, bool negate, VtHiddenLinePlane *rec) const {
    double out[4] = {0, 0, 0, 0};
    if (plane != nullptr) {
      const double sign = negate ? -1.0 : 1.0;
      for (int k = 0; k < 4; ++k) {
        const double *row = inverse + 4 * k;
        out[k] = sign * (plane[0] * row[0] + plane[1] * row[1] + plane[2] * row[2] + plane[3] * row[3]);
      }
    }
    const double n = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
    const double scale = n > 0 ? 1 / n : 1;
    rec->a = static_cast<float>(out[0] * scale);
    rec->b = static_cast<float>(out[1] * scale);
    rec->c = static_cast<float>(out[2] * scale);
    rec->d = static_cast<float>(out[3] * scale);
  }

  // The edge's new flag word; true for a candidate.
  bool Kind(void *edge, uint32_t *flags) const {
    const bool two_sided = (p->flags & VO_PRIMITIVE_TWO_SIDED) != 0;
    const uint32_t type = PrimitiveType(p);
    void *const *polys = EdgePolygons(*l, edge);
    void *a = polys != nullptr ? polys[0] : nullptr;
    void *b = polys != nullptr ? polys[1] : nullptr;
    if (!Surface(type)) return true;  // lines are always tested
    const bool va = a != nullptr && Clipped(a) != nullptr, vb = b != nullptr && Clipped(b) != nullptr;
    if ((a == nullptr) != (b == nullptr)) {
      const VtHiddenLinePlane *rec = At<VtHiddenLinePlane *>(a != nullptr ? a : b, l->poly_record);
      if (rec != nullptr && rec->band != 0) *flags |= VO_EDGE_FLAG_HIDDEN;
    }
    if (!va && !vb) {
      if ((*flags & VO_EDGE_FLAG_CULLED_KEPT) == 0 && !two_sided) return false;
    } else if (a != nullptr && b != nullptr) {
      if (a != b && va != vb) *flags |= VO_EDGE_FLAG_SILHOUETTE;
    } else if (EdgeOn(edge, a != nullptr ? a : b)) {
      *flags |= VO_EDGE_FLAG_SILHOUETTE;
    }
    return Candidate(*flags);
  }
  bool Candidate(uint32_t flags) const {
    return (flags & s->candidate_mask) != 0 && (flags & s->exclusion_mask) == 0;
  }
  // A border edge of a polygon seen edge-on is a silhouette.
  bool EdgeOn(void *edge, void *polygon) const {
    const float *n = nullptr;
    const VtReference *pair = At<VtReference *>(edge, l->edge_vrefs);
    if (l->normal >= 0 && pair != nullptr) n = ElementField<float>(pair->data, l->normal);
    if (n == nullptr && l->plane >= 0) n = ElementField<float>(polygon, l->plane);
    if (n == nullptr || s->direction == nullptr) return false;
    const float *d = s->direction;
    const double nd = std::fabs(double{n[0]} * d[0] + double{n[1]} * d[1] + double{n[2]} * d[2]);
    return nd < (nd + 1) * s->edge_on_tolerance;
  }

  VtStatus NodeAppend(VtHiddenLineEdgeNode **list, uint32_t *count, void *edge) const {
    auto *node = static_cast<VtHiddenLineEdgeNode *>(VoPoolAllocate(s->pools[5]));
    if (node == nullptr) return VO_STATUS_NO_MEMORY;
    *node = VtHiddenLineEdgeNode{*list, p, edge};
    *list = node;
    ++*count;
    return 0;
  }

  VtStatus Edge(void *edge) {
    uint32_t &flags = At<uint32_t>(edge, l->edge_flags);
    const uint32_t old = flags;
    uint32_t now = old;
    const bool candidate = Kind(edge, &now);
    // A pair an earlier render left on the edge goes back before this
    // render's takes its place.
    VtReference *&attached = At<VtReference *>(edge, l->edge_pair);
    if (attached != nullptr && attached != At<VtReference *>(edge, l->edge_vrefs)) PairFree(p, *l, attached);
    attached = nullptr;
    VtReference *pair = At<VtReference *>(edge, l->edge_vrefs);
    if (pair == nullptr || pair->next == nullptr) return 0;
    if (clipped) {
      bool gone = false;
      if (VtStatus st = ClipPair(&pair, &gone)) return st;
      if (gone) return 0;
    }
    auto *rec = static_cast<VtHiddenLineEdgeData *>(VoPoolAllocate(s->pools[4]));
    if (rec == nullptr) {
      if (pair != At<VtReference *>(edge, l->edge_vrefs)) PairFree(p, *l, pair);
      return VO_STATUS_NO_MEMORY;
    }
    *rec = VtHiddenLineEdgeData{0, 0, 0, now & ~old, nullptr};
    flags = now;
    At<VtReference *>(edge, l->edge_pair) = pair;
    At<VtHiddenLineEdgeData *>(edge, l->edge_record) = rec;
    if (candidate) {
      if (VtStatus st = SplitsStart(s, &rec->splits)) return st;
      return NodeAppend(&s->candidates, &s->candidate_count, edge);
    }
    const bool hidden_asked = (s->output_mask & VO_HL_CLASS_HIDDEN) != 0 && (old & s->candidate_mask) != 0 &&
                              (old & s->exclusion_mask) == 0;
    if ((old & VO_EDGE_FLAG_HIDDEN) != 0 || hidden_asked) return NodeAppend(&s->whole, &s->whole_count, edge);
    return 0;
  }

  // Clips an edge's two vertices against the window's six planes in
  // homogeneous coordinates; a clipped end becomes a new vertex on a pair
  // of the edge's own.
  VtStatus ClipPair(VtReference **pair, bool *gone) const {
    void *v[2] = {(*pair)->data, (*pair)->next->data};
    const float *q0 = Screen(v[0]), *q1 = Screen(v[1]);
    double t0 = 0, t1 = 1;
    const float *w = s->window_value;
    for (int plane = 0; plane < 6; ++plane) {
      const int axis = plane / 2;
      const double bound = w[plane];
      const double sign = (plane % 2 == 0) ? 1 : -1;
      // Inside within the clip tolerance; a cut lies on the side itself.
      const double d0 = sign * (q0[axis] - bound * q0[3]), d1 = sign * (q1[axis] - bound * q1[3]);
      const bool in0 = d0 + s->clip_tolerance > 0, in1 = d1 + s->clip_tolerance > 0;
      if (!in0 && !in1) {
        *gone = true;
        return 0;
      }
      if (in0 && in1) continue;
      const double t = std::clamp(d0 / (d0 - d1), 0.0, 1.0);
      if (in0)
        t1 = std::min(t1, t);
      else
        t0 = std::max(t0, t);
    }
    if (t0 >= t1) {
      *gone = true;
      return 0;
    }
    if (t0 == 0 && t1 == 1) return 0;
    void *ends[2] = {v[0], v[1]};
    const double ts[2] = {t0, t1};
    for (int i = 0; i < 2; ++i) {
      if ((i == 0 && t0 == 0) || (i == 1 && t1 == 1)) continue;
      VtVertex *made = VoVertexCreate(p);
      if (made == nullptr) {
        if (ends[0] != v[0]) (void)ElementDiscard(p, VO_ELEMENT_VERTEX, ends[0]);
        return VO_STATUS_NO_MEMORY;
      }
      VtVertex *sources[2] = {static_cast<VtVertex *>(v[0]), static_cast<VtVertex *>(v[1])};
      const float weights[2] = {static_cast<float>(1 - ts[i]), static_cast<float>(ts[i])};
      (void)VoVertexInterpolate(p, 0, 2, sources, weights, made);
      ends[i] = made;
    }
    VtReference *a = VoReferenceNodeCreate(ends[0]);
    VtReference *b = a != nullptr ? VoReferenceNodeCreate(ends[1]) : nullptr;
    if (b == nullptr) {
      if (a != nullptr) ReferenceNodeFree(a);
      for (int i = 0; i < 2; ++i)
        if (ends[i] != v[i]) (void)ElementDiscard(p, VO_ELEMENT_VERTEX, ends[i]);
      return VO_STATUS_NO_MEMORY;
    }
    a->next = b;
    b->next = a;
    *pair = a;
    return 0;
  }

  VtStatus Occluders() {
    const bool two_sided = (p->flags & VO_PRIMITIVE_TWO_SIDED) != 0;
    VtStatus st = 0;
    ForEachElement(First(p, l->polys), l->poly_next, [&](void *q) {
      const VtHiddenLinePlane *rec = At<VtHiddenLinePlane *>(q, l->poly_record);
      if (st != 0 || rec == nullptr) return;
      if (two_sided && Clipped(q) == nullptr) Clipped(q) = static_cast<VtReference *>(Vrefs(q));
      if (Clipped(q) == nullptr) return;
      if (clipped && VoPolygonClip(p, static_cast<VtPolygon *>(q)) == 0) return;
      if (clipped) st = WindowSides(q);
      const bool seen = rec->facing != 0 || two_sided;
      if (!seen || !(clipped ? std::fabs(rec->c) > 0.01f : std::fabs(rec->c) >= 0.01f)) return;
      auto *o = static_cast<VtHiddenLineOccluder *>(VoPoolAllocate(s->pools[3]));
      if (o == nullptr) {
        st = VO_STATUS_NO_MEMORY;
        return;
      }
      *o = VtHiddenLineOccluder{s->occluders, p, q, Clipped(q), {0, 0, 0, 0}, 0, 0};
      s->occluders = o;
      ++s->occluder_count;
    });
    return st;
  }

  // The window side (0x2000 x, 0x4000 y, 0x8000 z) a side of a clipped
  // outline runs along, with both its ends on it; 0 for none.
  uint32_t WindowSide(const float *a, const float *b) const {
    static constexpr uint32_t kSides[3] = {VO_EDGE_FLAG_WINDOW_X, VO_EDGE_FLAG_WINDOW_Y,
                                           VO_EDGE_FLAG_WINDOW_Z};
    if (!(a[3] > 0) || !(b[3] > 0)) return 0;
    for (int axis = 0; axis < 3; ++axis)
      for (int end = 0; end < 2; ++end) {
        const double bound = s->window_value[2 * axis + end];
        auto on = [&](const float *q) {
          const double c = q[axis] / q[3];
          return std::fabs(c - bound) <= (std::fabs(c) + std::fabs(bound) + 1) * s->side_tolerance;
        };
        if (on(a) && on(b)) return kSides[axis];
      }
    return 0;
  }

  // Each side of a clipped outline along the window becomes an edge of its
  // own (kind 2 and its window bit), a candidate that cuts what passes
  // behind it; the render destroys it at clean-up.
  VtStatus WindowSides(void *q) {
    VtStatus st = 0;
    ForEachNode(Clipped(q), [&](VtReference *node) {
      const uint32_t side = WindowSide(Screen(node->data), Screen(node->next->data));
      if (st != 0 || side == 0) return;
      auto *e = static_cast<VtEdge *>(VoEdgeCreate(p));
      auto *rec = e != nullptr ? static_cast<VtHiddenLineEdgeData *>(VoPoolAllocate(s->pools[4])) : nullptr;
      if (rec == nullptr) {
        if (e != nullptr) (void)ElementDiscard(p, VO_ELEMENT_EDGE, e);
        st = VO_STATUS_NO_MEMORY;
        return;
      }
      *rec = VtHiddenLineEdgeData{0, 0, 0, 0, nullptr};
      At<uint32_t>(e, l->edge_flags) = VO_EDGE_FLAG_BORDER | side;
      At<VtReference *>(e, l->edge_pair) = node;
      At<VtHiddenLineEdgeData *>(e, l->edge_record) = rec;
      void **polys = ElementField<void *>(e, l->edge_polys);
      polys[0] = q;
      polys[1] = nullptr;
      uint32_t made = 0;
      st = NodeAppend(&s->temporary, &made, e);
      if (st == 0) st = SplitsStart(s, &rec->splits);
      if (st == 0) st = NodeAppend(&s->candidates, &s->candidate_count, e);
    });
    return st;
  }

  // Vertices made by clipping (their vertex link is null) divided once.
  void DivideMade(VtReference *ring) const {
    ForEachNode(ring, [&](VtReference *node) {
      if (At<void *>(node->data, l->vert_next) == nullptr) Divide(Screen(node->data));
    });
  }

  VtStatus Run() {
    ForEachElement(First(p, l->verts), l->vert_next, [&](void *v) { Project(v); });
    const uint32_t type = PrimitiveType(p);
    VtStatus st = Surface(type) ? Cull() : 0;
    ForEachElement(First(p, l->edges), l->edge_next, [&](void *e) {
      if (st == 0) st = Edge(e);
    });
    if (st == 0 && Surface(type)) st = Occluders();
    if (clipped) {
      ForEachElement(First(p, l->verts), l->vert_next, [&](void *v) { Divide(Screen(v)); });
      ForEachElement(First(p, l->polys), l->poly_next, [&](void *q) {
        if (l->clipped >= 0 && Clipped(q) != Vrefs(q)) DivideMade(Clipped(q));
      });
      ForEachElement(First(p, l->edges), l->edge_next, [&](void *e) {
        VtReference *pair = At<VtReference *>(e, l->edge_pair);
        if (At<VtHiddenLineEdgeData *>(e, l->edge_record) != nullptr &&
            pair != At<VtReference *>(e, l->edge_vrefs))
          DivideMade(pair);
      });
    }
    return st;
  }
};

// A primitive the scene reaches more than once (listed twice, or through
// two lists) is prepared in each place but extracted once: a second pass
// would free the clipped outlines and vertex pairs the first left its
// edges and occluders on, and would draw its lines twice. Its records
// exist from the first pass on and are gone between renders.
bool Extracted(const Layout &l, const VtPrimitive *p) {
  bool any = false;
  if (l.poly_record >= 0)
    ForEachElement(First(p, l.polys), l.poly_next,
                   [&](void *q) { any = any || At<VtHiddenLinePlane *>(q, l.poly_record) != nullptr; });
  if (l.edge_record >= 0)
    ForEachElement(First(p, l.edges), l.edge_next,
                   [&](void *e) { any = any || At<VtHiddenLineEdgeData *>(e, l.edge_record) != nullptr; });
  return any;
}

void LineSet(const Layout &l, void *edge) {
  EdgeEnds e{};
  VtHiddenLineEdgeData *rec = EdgeRecord(l, edge);
  if (rec == nullptr || !Ends(l, edge, &e)) return;
  LineThrough(e.p0, e.p1, rec);
}

void BoxSet(const Layout &l, VtHiddenLineOccluder *o) {
  float box[4] = {INFINITY, -INFINITY, INFINITY, -INFINITY};
  bool finite = o->ring != nullptr;
  ForEachNode(o->ring, [&](VtReference *node) {
    const float *q = ElementField<float>(node->data, l.screen);
    finite = finite && std::isfinite(q[0]) && std::isfinite(q[1]);
    box[0] = std::min(box[0], q[0]);
    box[1] = std::max(box[1], q[0]);
    box[2] = std::min(box[2], q[1]);
    box[3] = std::max(box[3], q[1]);
  });
  for (int i = 0; i < 4; ++i) o->box[i] = box[i];
  o->finite = finite ? 1 : 0;
}

void RingRestore(VtPrimitive *p, const Layout &l, void *q) {
  VtReference *&ring = At<VtReference *>(q, l.clipped);
  VtReference *own = At<VtReference *>(q, l.vrefs);
  if (ring != nullptr && ring != own) view::ClippedBoundaryFree(p, static_cast<VtPolygon *>(q));
  ring = own;
}

}  // namespace

void LineThrough(const float *p0, const float *p1, VtHiddenLineEdgeData *rec) {
  const double dx = double{p1[0]} - p0[0], dy = double{p1[1]} - p0[1];
  const double len = std::sqrt(dx * dx + dy * dy);
  const double scale = len > 0 ? 1 / len : 1;
  rec->a = static_cast<float>(dy * scale);
  rec->b = static_cast<float>(-dx * scale);
  rec->c = -(rec->a * p0[0] + rec->b * p0[1]);
}

// Frees a ring of references made for the render with the vertices
// clipping made on it.
void PairFree(VtPrimitive *p, const Layout &l, VtReference *ring) {
  ForEachNode(ring, [&](VtReference *node) {
    if (node->data != nullptr && At<void *>(node->data, l.vert_next) == nullptr)
      (void)ElementDiscard(p, VO_ELEMENT_VERTEX, node->data);
  });
  (void)VoVertexReferenceListDestroy(p, ring, 0);
}

Layout LayoutFor(VtHiddenLineContext *s, const VtPrimitive *p) {
  Layout &l = s->layout;
  const VtContents *c = p->contents;
  if (l.contents == c) return l;
  l.contents = c;
  l.polys = PropertyOffset(c, VO_PRIM_POLYS);
  l.edges = PropertyOffset(c, VO_PRIM_EDGES);
  l.verts = PropertyOffset(c, VO_PRIM_VERTS);
  l.parent = PropertyOffset(c, VO_PRIM_PARENT);
  l.vrefs = PropertyOffset(c, VO_POLY_VREFS);
  l.clipped = PropertyOffset(c, VO_POLY_VREFSCLIP);
  l.poly_next = PropertyOffset(c, VO_POLY_NEXT);
  l.plane = PropertyOffset(c, VO_POLY_PLANE);
  l.poly_record = PropertyOffset(c, kPolygonRecord);
  l.edge_next = PropertyOffset(c, VO_EDGE_NEXT);
  l.edge_flags = PropertyOffset(c, VO_EDGE_FLAGS);
  l.edge_vrefs = PropertyOffset(c, VO_EDGE_VREFS);
  l.edge_polys = PropertyOffset(c, VO_EDGE_POLYS);
  l.edge_pair = PropertyOffset(c, kEdgePair);
  l.edge_record = PropertyOffset(c, kEdgeRecord);
  l.world = PropertyOffset(c, VO_VERT_WORLD);
  l.vert_next = PropertyOffset(c, VO_VERT_NEXT);
  l.screen = PropertyOffset(c, VO_VERT_SCREEN);
  l.normal = PropertyOffset(c, VO_VERT_NORMAL);
  l.attributes = PropertyOffset(c, kVertexAttributes);
  return l;
}

bool Ends(const Layout &l, void *edge, EdgeEnds *out) {
  const VtReference *pair = l.edge_pair >= 0 ? At<VtReference *>(edge, l.edge_pair) : nullptr;
  if (pair == nullptr || pair->next == nullptr || l.screen < 0) return false;
  out->v0 = pair->data;
  out->v1 = pair->next->data;
  out->p0 = ElementField<float>(out->v0, l.screen);
  out->p1 = ElementField<float>(out->v1, l.screen);
  return true;
}
uint32_t &EdgeFlags(const Layout &l, void *edge) { return At<uint32_t>(edge, l.edge_flags); }
VtHiddenLineEdgeData *EdgeRecord(const Layout &l, void *edge) {
  return l.edge_record >= 0 ? At<VtHiddenLineEdgeData *>(edge, l.edge_record) : nullptr;
}
void *const *EdgePolygons(const Layout &l, void *edge) {
  return l.edge_polys >= 0 ? ElementField<void *const>(edge, l.edge_polys) : nullptr;
}

VtStatus PrepareScene(VtHiddenLineContext *s, VtReference *list) {
  VtContents *c = VoContentsCreate(s->property_count, s->property_codes);
  if (c != nullptr && s->extra_contents != nullptr)
    c = VoContentsMerge(c, s->extra_contents, VO_CONTENTS_ALL);
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  s->work_count = 0;
  s->work_counter = 0;
  ForEachNode(list, [&](VtReference *) { ++s->work_count; });
  Stage1 stage{s, c, ListPath{}};
  return ForEachNodeUntil(list, [&](VtReference *node) -> VtStatus {
    auto *p = static_cast<VtPrimitive *>(node->data);
    VtStatus one = stage.One(p, p);
    (void)ProgressStep(s, 1);
    return one | InterruptPoll(s);
  });
}

VtStatus ExtractEdges(VtHiddenLineContext *s) {
  s->work_count = 0;
  s->work_counter = 0;
  ForEachNode(s->prepared, [&](VtReference *) { ++s->work_count; });
  const VtStatus st = ForEachNodeUntil(s->prepared, [&](VtReference *node) -> VtStatus {
    auto *p = static_cast<VtPrimitive *>(node->data);
    const int32_t cls = ViewClass(p);
    VtStatus one = 0;
    const Layout layout = LayoutFor(s, p);
    if (cls != VO_CLIP_OUTSIDE && !Extracted(layout, p)) {
      Stage2 stage{s, p, &layout, cls == VO_CLIP_PARTLY, s->projection + 16};
      one = stage.Run();
    }
    (void)ProgressStep(s, 2);
    return one;
  });
  for (VtHiddenLineEdgeNode *n = s->candidates; n != nullptr; n = n->next)
    LineSet(LayoutFor(s, n->primitive), n->edge);
  for (VtHiddenLineOccluder *o = s->occluders; o != nullptr; o = o->next)
    BoxSet(LayoutFor(s, o->primitive), o);
  return st;
}

void WindowEdgesDestroy(VtHiddenLineContext *s, VtHiddenLineEdgeNode *list) {
  for (VtHiddenLineEdgeNode *n = list; n != nullptr; n = n->next)
    (void)ElementDiscard(n->primitive, VO_ELEMENT_EDGE, n->edge);
  ListFree(s->pools[5], list);
}

void ReleaseWork(VtHiddenLineContext *s) {
  TestPointsFree(s);
  // Edges made along the window go first: their pairs are nodes of the
  // clipped outlines released below.
  // Stored segments of a second pass keep them as their element: they go
  // when the second pass's records are freed.
  for (VtHiddenLineEdgeNode *n = s->temporary; n != nullptr; n = n->next) {
    const Layout l = LayoutFor(s, n->primitive);
    VtHiddenLineEdgeData *&rec = At<VtHiddenLineEdgeData *>(n->edge, l.edge_record);
    SplitsFree(s, rec->splits);
    (void)VoPoolFree(s->pools[4], rec);
    rec = nullptr;
    At<VtReference *>(n->edge, l.edge_pair) = nullptr;
  }
  if (s->stored_pools[0] != nullptr) {
    VtHiddenLineEdgeNode **tail = &s->deferred;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = s->temporary;
  } else {
    WindowEdgesDestroy(s, s->temporary);
  }
  s->temporary = nullptr;
  ForEachNode(s->prepared, [&](VtReference *node) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    const Layout l = LayoutFor(s, p);
    if (l.edge_record < 0 || l.poly_record < 0) return;
    ForEachElement(First(p, l.edges), l.edge_next, [&](void *e) {
      VtHiddenLineEdgeData *&rec = At<VtHiddenLineEdgeData *>(e, l.edge_record);
      if (rec == nullptr) return;
      At<uint32_t>(e, l.edge_flags) &= ~rec->added;
      SplitsFree(s, rec->splits);
      (void)VoPoolFree(s->pools[4], rec);
      rec = nullptr;
      VtReference *&pair = At<VtReference *>(e, l.edge_pair);
      if (pair != nullptr && pair != At<VtReference *>(e, l.edge_vrefs)) PairFree(p, l, pair);
      pair = nullptr;
    });
    ForEachElement(First(p, l.polys), l.poly_next, [&](void *q) {
      VtHiddenLinePlane *&rec = At<VtHiddenLinePlane *>(q, l.poly_record);
      if (rec == nullptr) return;
      (void)VoPoolFree(s->pools[2], rec);
      rec = nullptr;
      RingRestore(p, l, q);
    });
  });
  ListFree(s->pools[3], s->occluders);
  s->occluders = nullptr;
  s->occluder_count = 0;
  for (VtHiddenLineEdgeNode **list : {&s->candidates, &s->whole}) {
    ListFree(s->pools[5], *list);
    *list = nullptr;
  }
  s->candidate_count = s->whole_count = 0;
  (void)VoMemoryTidy();
}

void ReleasePrepared(VtHiddenLineContext *s) {
  (void)VoReferenceListDestroy(s->prepared, nullptr);
  (void)VoPrimitiveReferenceListDestroy(s->copies);
  s->prepared = s->copies = nullptr;
  s->layout.contents = nullptr;
}

}  // namespace vo::hid

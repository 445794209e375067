// Expansion by type, to a fixed point and retained on the primitive, and
// the world conversion of transformed primitives.

#include <atomic>
#include <unordered_set>

#include "scene/vogeom/expansion.h"
#include "scene/vogeom/list_walk.h"
#include "kernel/vosystem/face.h"

namespace vo {

VtStatus ListTooDeep(const VtPrimitive *list, uint32_t depth) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kListTooDeep, VO_MODULE_GEOMETRY, static_cast<const void *>(list),
       depth, kListDepthMax);
  if (const GeomState *g = Geom(); g != nullptr && g->sticky_status != nullptr)
    std::atomic_ref<uint32_t>(*g->sticky_status).fetch_or(VO_STATUS_BAD_ARGUMENT, std::memory_order_relaxed);
  return VO_STATUS_BAD_ARGUMENT;
}

namespace expand {

VtReference *NullList() { return VoReferenceNodeCreate(nullptr); }

VtReference *NoMemoryList() {
  if (uint32_t *sticky = Geom()->sticky_status)
    std::atomic_ref<uint32_t>(*sticky).fetch_or(0x4u, std::memory_order_relaxed);
  return NullList();
}

namespace {

// Depth first through the member lists; a list found sound is not walked
// again (shared sub-lists would otherwise be walked once per path).
VtStatus TreeWalk(const VtPrimitive *list, ListPath &path, std::unordered_set<const VtPrimitive *> &sound) {
  if (sound.count(list) != 0) return 0;
  VtStatus s = path.Enter(list);
  if (s != 0) return s;
  s = ForEachNodeUntil(ListMembers(list), [&](VtReference *node) -> VtStatus {
    const auto *m = static_cast<const VtPrimitive *>(node->data);
    return PrimitiveLive(m) && IsList(m) ? TreeWalk(m, path, sound) : 0;
  });
  path.Leave();
  if (s == 0) sound.insert(list);
  return s;
}

}  // namespace

VtStatus ListTreeCheck(const VtPrimitive *list) {
  ListPath path;
  std::unordered_set<const VtPrimitive *> sound;
  return TreeWalk(list, path, sound);
}

namespace {

// The contents a transformed primitive is copied into.
VtContents *WorldContents(const GeomState *g, VtPrimitive *p, VtContents *requested, uint32_t options) {
  if (requested == nullptr) return VoContentsMerge(p->contents, g->extra_contents, VO_CONTENTS_ALL);
  VtContents *c = requested;
  if (PropertyOffset(p->contents, VO_VERT_NORMAL) < 0 && PropertyOffset(c, VO_VERT_NORMAL) >= 0) {
    const uint32_t normal = VO_VERT_NORMAL;
    c = VoContentsSubtract(c, 1, &normal);
  }
  if (c != nullptr && (options & VO_EXPAND_OWN_VERTICES)) c = ContentsUnionVertices(c, p->contents);
  return c;
}

// A world-space copy of a transformed primitive: a one-element list holding
// the copy (holding null when the copy cannot be made); null for a
// primitive without a transform.
VtReference *WorldConversion(VtPrimitive *p, VtContents *requested, uint32_t options) {
  GeomState *g = Geom();
  VtTransform *t = TransformOf(p);
  if (t == nullptr) return nullptr;
  VtContents *c = WorldContents(g, p, requested, options);
  VtPrimitive *copy = c != nullptr ? VoPrimitiveCopy(p, c) : nullptr;
  if (copy == nullptr) return NoMemoryList();
  copy->flags =
      (copy->flags & ~(VO_PRIMITIVE_HAS_TRANSFORM | VO_PRIMITIVE_PROTECTED)) | VO_PRIMITIVE_TEMPORARY;
  // Every vertex through the transform. The normal is carried at the
  // vertex's own point, before that point moves.
  const int32_t world = PropertyOffset(c, VO_VERT_WORLD), normal = PropertyOffset(c, VO_VERT_NORMAL);
  ForEachElement(copy, VO_ELEMENT_VERTEX, [&](void *v) {
    float *point = ElementField<float>(v, world);
    const float at[3] = {point[0], point[1], point[2]};
    float moved[3];
    (void)g->transform_point(moved, at, t);
    if (normal >= 0) {
      float *n = ElementField<float>(v, normal);
      const float given[3] = {n[0], n[1], n[2]};
      (void)g->transform_normal(n, at, given, t);
    }
    point[0] = moved[0];
    point[1] = moved[1];
    point[2] = moved[2];
  });
  (void)VoPrimitiveResetProperty(copy, VO_PRIM_BOUNDS);
  (void)VoPolygonResetProperty(copy, nullptr, VO_POLY_PLANE);
  VtReference *list = VoReferenceNodeCreate(copy);
  if (list == nullptr) {
    (void)VoPrimitiveDestroy(copy);
    return NoMemoryList();
  }
  return list;
}

VtReference *Outside(const GeomState *g, VtPrimitive *p, VtContents *contents, uint32_t options) {
  switch (PrimitiveType(p)) {
    case VO_PRIMITIVE_EXPANDED_11:
      return g->expander11 ? g->expander11(p, contents ? contents : g->expand11_contents, options) : nullptr;
    case VO_PRIMITIVE_EXPANDED_12:
      return g->expander12 ? g->expander12(p, contents ? contents : g->expand12_contents, options) : nullptr;
    default: return g->expander14 ? g->expander14(p, contents, options) : nullptr;
  }
}

VtReference *Procedural(VtPrimitive *p, VtContents *contents, uint32_t options) {
  const VtProceduralClass *cls = HeldPointer<const VtProceduralClass>(p, VO_PRIM_PROCCLASS);
  if (cls == nullptr || cls->expand == nullptr) return nullptr;
  return cls->expand(p, HeldPointer<void>(p, VO_PRIM_PROCDATA), contents, options);
}

// Lines: the requested contents with what ribbons and line copies need.
VtReference *Line(VtPrimitive *p, VtContents *contents, uint32_t options) {
  const uint32_t add[3] = {VO_VERT_SCREEN, VO_PRIM_POLYS, VO_PRIM_VERTS};
  const uint32_t plane = VO_POLY_PLANE;
  VtContents *c = VoContentsUnion(contents, 3, add);
  if (c != nullptr) c = VoContentsSubtract(c, 1, &plane);
  if (c == nullptr) return NoMemoryList();
  if (VtReference *world = WorldConversion(p, c, options)) return world;
  return (options & VO_EXPAND_RIBBONS) ? LineExpansion(p, c, options) : nullptr;
}

// Marks the pieces of a retained expansion as belonging to the primitive
// and answers a list of the caller's own over them; null when the pieces
// cannot be stored (they are handed back as an ordinary expansion then).
VtReference *Retain(VtPrimitive *p, VtReference *pieces) {
  VtReference *answer = VoReferenceListCopy(pieces, nullptr);
  VtTypedValue value{};
  value.value.p = &pieces;
  if (answer == nullptr || VoPrimitiveSetProperty(p, VO_PRIM_RETAINED, &value) != 0) {
    VoReferenceListDestroy(answer, nullptr);
    return nullptr;
  }
  // Pieces made for the occasion now belong to the primitive; the others
  // (members of a list, the primitive itself) belong to whoever made them.
  ForEachNode(pieces, [&](VtReference *node) {
    auto *piece = static_cast<VtPrimitive *>(node->data);
    if (piece != nullptr && piece != p && (piece->flags & VO_PRIMITIVE_TEMPORARY))
      piece->flags = (piece->flags & ~VO_PRIMITIVE_TEMPORARY) | VO_PRIMITIVE_RETAINED_PIECE;
  });
  p->flags |= VO_PRIMITIVE_RETAINED;
  return answer;
}

// Every piece other than the primitive itself holds it as its parent.
void ParentsSet(VtPrimitive *p, VtReference *pieces) {
  ForEachNode(pieces, [&](VtReference *node) {
    auto *piece = static_cast<VtPrimitive *>(node->data);
    if (piece == nullptr || piece == p) return;
    VtTypedValue value{};
    value.value.p = &p;
    (void)VoPrimitiveSetProperty(piece, VO_PRIM_PARENT, &value);
  });
}

// The module's state when the primitive can be expanded: null for a null
// primitive, and with a report for one that is not live.
GeomState *Expandable(const VtPrimitive *p) {
  GeomState *g = Geom();
  return g == nullptr || p == nullptr || PrimitiveCheck(p) != 0 ? nullptr : g;
}

}  // namespace

}  // namespace expand

using namespace expand;

VtReference *VoPrimitiveExpand(VtPrimitive *p, VtContents *contents, uint32_t options) {
  if (ContentsRefused(contents, "VoPrimitiveExpand")) return nullptr;
  GeomState *g = Expandable(p);
  if (g == nullptr) return nullptr;
  if (VtTransform *t = TransformOf(p)) (void)VoTransformUpdate(t);
  switch (PrimitiveType(p)) {
    case VO_PRIMITIVE_POLYGON:
    case VO_PRIMITIVE_POLYGON_SHARED:
    case VO_PRIMITIVE_MESH:
    case VO_PRIMITIVE_MESH_SHARED: return WorldConversion(p, contents, options);
    case VO_PRIMITIVE_LINE:
    case VO_PRIMITIVE_LINE_MESH: return Line(p, contents, options);
    case VO_PRIMITIVE_LIST:
    case VO_PRIMITIVE_LIST_COPY: return ListExpansion(p, options);
    case VO_PRIMITIVE_EXPANDED_11:
    case VO_PRIMITIVE_EXPANDED_12:
    case VO_PRIMITIVE_EXPANDED_14: return Outside(g, p, contents, options);
    case VO_PRIMITIVE_PROCEDURAL: return Procedural(p, contents, options);
    default: return nullptr;
  }
}

VtReference *VoPrimitiveListExpand(VtReference *list, VtContents *contents, uint32_t options) {
  if (!RingAccepted(list, "VoPrimitiveListExpand")) return nullptr;
  if (ContentsRefused(contents, "VoPrimitiveListExpand")) return nullptr;
  VtReference *output = nullptr;
  bool null_seen = false;
  while (list != nullptr) {
    VtReference *node = nullptr;
    list = ReferenceRemoveFirst(list, &node);
    if (node == nullptr) break;
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (p == nullptr) {
      ReferenceNodeFree(node);
      null_seen = true;
      continue;
    }
    if (VtReference *pieces = VoPrimitiveExpand(p, contents, options)) {
      // The pieces are expanded in their turn; a temporary primitive that
      // expanded is done with.
      list = VoPrimitiveReferenceAppend(list, pieces);
      VoPrimitiveReferenceListDestroy(node);
    } else {
      output = VoPrimitiveReferenceAppend(output, node);
    }
  }
  if (null_seen && output == nullptr) {
    output = NullList();
    if (output == nullptr)
      Post(VO_STATUS_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY, "VoPrimitiveExpand");
  }
  return output;
}

VtReference *VoPrimitiveExpandToList(VtPrimitive *p, VtContents *contents, uint32_t options) {
  if (ContentsRefused(contents, "VoPrimitiveExpandToList")) return nullptr;
  GeomState *g = Expandable(p);
  if (g == nullptr) return nullptr;
  // A request for the primitive's own contents takes the extra contents
  // in world conversion, where the primitive is known.
  if (contents != nullptr && g->extra_contents != nullptr)
    contents = VoContentsMerge(contents, g->extra_contents, VO_CONTENTS_ALL);
  if (p->flags & VO_PRIMITIVE_RETAINED)
    return VoReferenceListCopy(HeldPointer<VtReference>(p, VO_PRIM_RETAINED), nullptr);
  const uint32_t step = options & ~VO_EXPAND_RETAIN;
  VtReference *pieces = nullptr;
  if (step & VO_EXPAND_AS_LIST) {
    VtReference *one = VoReferenceNodeCreate(p);
    if (one == nullptr) return nullptr;
    pieces = VoPrimitiveListExpand(one, contents, step);
  } else {
    pieces = VoPrimitiveExpand(p, contents, step);
  }
  if (pieces == nullptr) return nullptr;
  if (options & VO_EXPAND_RETAIN) {
    if (VtReference *answer = Retain(p, pieces)) pieces = answer;
  }
  if (options & VO_EXPAND_PARENT) ParentsSet(p, pieces);
  return pieces;
}

}  // namespace vo

// Primitives and their elements, reference and scene lists; the copier and the conversions it serves.

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "support/geometry_fixture.h"
#include "scene/vogeom/geom_state.h"
#include "kernel/vomemman/pool.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using Elements = GeometryTest;

const std::vector<std::vector<float>> kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
const std::vector<std::vector<uint32_t>> kTwoTriangles = {{0, 1, 2}, {0, 2, 3}};

// The answer of a primitive get: its type and first word.
std::pair<uint32_t, uint32_t> Got(VtPrimitive *p, uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(VoPrimitiveGetProperty(p, code, &v), 0u);
  return {v.type, v.value.p ? *static_cast<uint32_t *>(v.value.p) : 99u};
}

TEST_F(Elements, GetAnswersStorageOrTheEnquirySetWidensTheContentsMovingTheElements) {
  VtPrimitive *p = VoPrimitiveCreate(Contents({VO_PRIM_NPOLYS}), 3);
  *PropertyAt<uint32_t>(p, nullptr, VO_PRIM_NPOLYS) = 5;
  EXPECT_EQ(Got(p, VO_PRIM_NPOLYS), std::make_pair(uint32_t{VtGenericPtr}, 5u));
  EXPECT_EQ(Got(p, VO_PRIM_LINE_WIDTH), std::make_pair(uint32_t{VtInt32Array}, 1u));  // absent: its enquiry
  VtTypedValue v{};
  ASSERT_EQ(VoPrimitiveGetProperty(p, VO_PRIM_PROCCLASS, &v), 0u);  // absent: the default enquiry
  *static_cast<uint32_t *>(v.value.p) = 7;                          // a caller scribbling on the answer
  EXPECT_EQ(Got(p, VO_PRIM_PROCCLASS), std::make_pair(uint32_t{VtInt32Array}, 0u));
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // A set writes in place, or widens the contents first.
  VtPrimitive *q = VoPrimitiveCreate(nullptr, 1);
  VtContents *before = q->contents;
  const float box[6] = {1, 2, 3, 4, 5, 6};
  v = TypedPointer(const_cast<float *>(box));
  ASSERT_EQ(VoPrimitiveSetProperty(q, VO_PRIM_BOUNDS, &v), 0u);
  // The value may come from the block the widening gives up.
  const uint32_t width = VoPrimitivePropertyRegister("t:w:330", VtFloat, 1);
  v = TypedPointer(PropertyAt<float>(q, nullptr, VO_PRIM_BOUNDS) + 2);
  ASSERT_EQ(VoPrimitiveSetProperty(q, width, &v), 0u);
  EXPECT_EQ(*PropertyAt<float>(q, nullptr, width), 3.0f);
  v = TypedPointer(&before);
  EXPECT_EQ(VoPrimitiveSetProperty(q, VO_PRIM_FLAGS, &v), uint32_t{VO_STATUS_BAD_ARGUMENT});  // no storage
  EXPECT_EQ(CountPosted(messages::kPropertyNoStorage), 1);
  ASSERT_EQ(VoPrimitiveSetProperty(q, VO_PRIM_CONTENTS, &v), 0u);  // back to the first contents
  EXPECT_EQ(q->contents, before);
  EXPECT_EQ(VoPrimitiveDestroy(q), 0u);

  // An absent polygon property moves every polygon; the named one is mapped.
  MeshBuild m(MeshContents({VO_POLY_FLAGS, VO_POLY_NVERTS}), 3, kSquare, kTwoTriangles);
  p = m.primitive;
  *PropertyAt<uint32_t>(p, m.polygons[1], VO_POLY_FLAGS) = 31;
  const float values[3] = {7, 8, 9};
  v = TypedPointer(const_cast<float *>(values));
  void *moved = nullptr;
  ASSERT_EQ(ElementPropertySet(VO_ELEMENT_POLYGON, p, m.polygons[1], VO_POLY_CENTRE, &v, &moved), 0u);
  EXPECT_FALSE(ElementLive(m.polygons[1], VO_ELEMENT_POLYGON));  // the old handle is stale
  EXPECT_EQ(PropertyAt<float>(p, moved, VO_POLY_CENTRE)[2], 9.0f);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, moved, VO_POLY_FLAGS), 31u);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, moved, VO_POLY_NVERTS), 3u);  // counted afresh
  EXPECT_EQ(MeshBuild::Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT).at(1), moved);
  EXPECT_EQ(MeshBuild::Boundary(p, moved),
            (std::vector<void *>{m.vertices[0], m.vertices[2], m.vertices[3]}));
  // A vertex not yet on its ring moves with the ring's, which the polygons follow.
  VtVertex *loose = VoVertexCreate(p);
  PropertyAt<float>(p, loose, VO_VERT_WORLD)[0] = 5;
  ASSERT_EQ(ElementPropertySet(VO_ELEMENT_VERTEX, p, loose, VO_VERT_COLOUR, &v, &moved), 0u);
  EXPECT_EQ(ElementHeaderOf(moved)->owner, p);
  EXPECT_EQ(PropertyAt<float>(p, moved, VO_VERT_WORLD)[0] + PropertyAt<float>(p, moved, VO_VERT_COLOUR)[1],
            13.0f);
  const std::vector<void *> vertices = MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT);
  void *first = MeshBuild::Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT)[0];
  EXPECT_EQ(MeshBuild::Boundary(p, first), (std::vector<void *>{vertices[0], vertices[1], vertices[2]}));
  EXPECT_EQ(VoPolygonSetProperty(p, static_cast<VtPolygon *>(first), VO_POLY_CENTRE, &v), 0u);
  EXPECT_EQ(VoVertexDestroy(p, static_cast<VtVertex *>(moved)) | VoPrimitiveDestroy(p), 0u);
}

TEST_F(Elements, ElementsAreCheckedAndCarryTheirOwner) {
  MeshBuild m(MeshContents({}), 3, kSquare, kTwoTriangles);  // no polygon prim: the owner is in the header
  VtPrimitive *p = m.primitive;
  VtTypedValue v{};
  ASSERT_EQ(VoPolygonGetProperty(nullptr, m.polygons[0], VO_POLY_PRIM, &v), 0u);
  EXPECT_EQ(*static_cast<VtPrimitive **>(v.value.p), p);
  EXPECT_EQ(VoPolygonCountVertices(p, m.polygons[1]), 3u);
  EXPECT_EQ(VoPolygonGetProperty(p, reinterpret_cast<VtPolygon *>(m.vertices[0]), VO_POLY_VREFS, &v),
            uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kElementNotLive), 1);
  MeshBuild other(MeshContents({VO_VERT_COLOUR}), 3, kSquare, kTwoTriangles);
  EXPECT_EQ(VoVertexGetProperty(p, other.vertices[0], VO_VERT_WORLD, &v), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kElementForeign), 1);
  // Duplicates and copied data match their source.
  VtVertex *twin = VoVertexDuplicate(p, m.vertices[2]);
  EXPECT_EQ(PropertyAt<float>(p, twin, VO_VERT_WORLD)[1], 1.0f);
  ASSERT_EQ(VoVertexCopyData(p, twin, m.vertices[1]), 0u);  // destination first, then source
  EXPECT_EQ(PropertyAt<float>(p, twin, VO_VERT_WORLD)[1], 0.0f);
  // A reference ring naming one vertex twice destroys it once.
  VtReference *ring = VoPrimitiveReferenceAppend(VoReferenceNodeCreate(twin), VoReferenceNodeCreate(twin));
  EXPECT_EQ(VoVertexReferenceListDestroy(p, ring, 1), 0u);
  EXPECT_FALSE(ElementLive(twin, VO_ELEMENT_VERTEX));
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(other.primitive), 0u);
}

TEST_F(Elements, RingDestructionAndResetReachTheWholeRing) {
  MeshBuild m(MeshContents({VO_POLY_NVERTS}), 3, kSquare, {{0, 1, 2, 3}, {0, 1, 2}});
  VtPrimitive *p = m.primitive;
  ASSERT_EQ(VoPolygonResetProperty(p, nullptr, VO_POLY_NVERTS), 0u);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, m.polygons[0], VO_POLY_NVERTS), 4u);
  ASSERT_EQ(VoPolygonDestroy(p, nullptr) | VoVertexDestroy(p, nullptr), 0u);
  EXPECT_EQ(*PropertyAt<void *>(p, nullptr, VO_PRIM_POLYS), nullptr);
  EXPECT_FALSE(ElementLive(m.polygons[1], VO_ELEMENT_POLYGON) ||
               ElementLive(m.vertices[3], VO_ELEMENT_VERTEX));
  EXPECT_EQ(VoVertexDestroy(p, m.vertices[0]), uint32_t{VO_STATUS_BAD_ARGUMENT});  // gone already
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  // Without polygon next a primitive holds one polygon: only the first goes.
  const uint32_t next = VO_POLY_NEXT;
  MeshBuild single(VoContentsSubtract(MeshContents({}), 1, &next), 1, kSquare, kTwoTriangles);
  ASSERT_EQ(VoPolygonDestroy(single.primitive, nullptr), 0u);
  EXPECT_TRUE(ElementLive(single.polygons[1], VO_ELEMENT_POLYGON));
  EXPECT_EQ(VoPolygonDestroy(single.primitive, single.polygons[1]) | VoPrimitiveDestroy(single.primitive),
            0u);
}

uint32_t g_destroyed = 0;
VtStatus DestroyFails(VtPrimitive *) { return ++g_destroyed, VO_STATUS_BAD_ARGUMENT; }
VtStatus DestroyCounts(VtPrimitive *) { return ++g_destroyed, 0; }

TEST_F(Elements, DestroyRunsEveryHandlerAndRefusesProtectedOrDeadOnes) {
  const uint32_t failing = VoPrimitivePropertyRegister("t:f:331", VtNat32, 1);
  const uint32_t counting = VoPrimitivePropertyRegister("t:c:332", VtNat32, 1);
  VoPropertySetHandler(failing, VO_PROPERTY_PRIMITIVE_DESTROY, reinterpret_cast<VtProc>(&DestroyFails));
  VoPropertySetHandler(counting, VO_PROPERTY_PRIMITIVE_DESTROY, reinterpret_cast<VtProc>(&DestroyCounts));
  VtPrimitive *p = VoPrimitiveCreate(Contents({failing, counting}), 3);
  VoPrimitiveSetFlags(p, VoPrimitiveGetFlags(p) | VO_PRIMITIVE_PROTECTED);
  EXPECT_EQ(VoPrimitiveDestroy(p), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(483) + g_destroyed, 1u);
  VoPrimitiveSetFlags(p, VoPrimitiveGetFlags(p) & ~VO_PRIMITIVE_PROTECTED);
  EXPECT_EQ(VoPrimitiveDestroy(p), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(g_destroyed, 2u);
  // The record went back all the same: a second destroy is refused.
  EXPECT_EQ(VoPrimitiveDestroy(p), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kPrimitiveNotLive) + g_destroyed, 3u);
}

TEST_F(Elements, SidednessAndShadowsReachEveryLeafOfNestedListsButNoCycle) {
  VtPrimitive *a = VoPrimitiveCreate(nullptr, 1), *b = VoPrimitiveCreate(nullptr, 3);
  VtPrimitive *inner = ListOf({b}), *outer = ListOf({a, inner});
  ASSERT_EQ(VoPrimitiveSetSidedness(outer, 1) | VoPrimitiveSetShadowCasting(outer, 0), 0u);
  EXPECT_EQ(VoPrimitiveGetSidedness(a) + VoPrimitiveGetSidedness(b), 2u);
  EXPECT_EQ(VoPrimitiveGetSidedness(inner) + VoPrimitiveGetSidedness(outer), 0u);
  EXPECT_EQ(VoPrimitiveGetShadowCasting(b) + 2 * VoPrimitiveGetShadowCasting(outer), 2u);
  VtReference **members = PropertyAt<VtReference *>(inner, nullptr, VO_PRIM_PREFS);
  *members = VoPrimitiveReferenceAppend(*members, VoReferenceNodeCreate(outer));  // a cycle
  EXPECT_EQ(VoPrimitiveSetSidedness(outer, 0), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(VoPrimitiveSetShadowCasting(inner, 1), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(messages::kListCycle), 2);
  for (VtPrimitive *p : {outer, inner, a, b}) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Elements, ReferenceAndSceneListsKeepWhatTheyShould) {
  VtPrimitive *plain = VoPrimitiveCreate(nullptr, 1), *temporary = VoPrimitiveCreate(nullptr, 1);
  VoPrimitiveSetFlags(temporary, VoPrimitiveGetFlags(temporary) | VO_PRIMITIVE_TEMPORARY);
  VtPrimitive *array[3] = {plain, nullptr, temporary};
  VtReference *list = VoPrimitiveListCreate(3, array);
  EXPECT_EQ(RingData<VtPrimitive>(list), (std::vector<VtPrimitive *>{plain, temporary}));
  VtReference *copies = VoPrimitiveReferenceCopy(list, 1);
  EXPECT_TRUE(copies->data != temporary && VoPrimitiveReferenceDestroy(copies, 1) == 0);
  // The scene list keeps the last sound list.
  VtReference *holed =
      VoPrimitiveReferenceAppend(VoReferenceNodeCreate(plain), VoReferenceNodeCreate(nullptr));
  ASSERT_EQ(VoPrimitiveListSet(list), 0u);
  EXPECT_EQ(VoPrimitiveListSet(holed), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_TRUE(CountPosted(839) == 1 && VoPrimitiveListGet() == list);
  ASSERT_EQ(VoPrimitiveListSet(nullptr), 0u);
  VoReferenceListDestroy(holed, nullptr);
  // Emptying a list destroys the temporaries only.
  EXPECT_EQ(VoPrimitiveReferenceListDestroy(list), 0u);
  EXPECT_TRUE(PrimitiveLive(plain) && !PrimitiveLive(temporary));
  EXPECT_EQ(VoPrimitiveDestroy(plain), 0u);
}

// The pattern of a primitive: the world points in vertex-ring order, then each polygon's boundary as indices
// into them (-1 after each); every element is checked to be owned by the primitive.
std::vector<float> ShapeOf(VtPrimitive *p) {
  std::vector<float> s;
  const std::vector<void *> vertices = MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT);
  for (void *v : vertices) {
    const float *w = PropertyAt<float>(p, v, VO_VERT_WORLD);
    s.insert(s.end(), w, w + 3);
    EXPECT_EQ(ElementHeaderOf(v)->owner, p);
  }
  for (void *q : MeshBuild::Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT)) {
    EXPECT_EQ(ElementHeaderOf(q)->owner, p);
    for (void *v : MeshBuild::Boundary(p, q))
      s.push_back(static_cast<float>(std::find(vertices.begin(), vertices.end(), v) - vertices.begin()));
    s.push_back(-1);
  }
  return s;
}

TEST_F(Elements, AMeshCopySharesItsOwnVerticesInTheSamePattern) {
  MeshBuild m(MeshContents({VO_VERT_COVERT}), 3, kSquare, kTwoTriangles);
  VtPrimitive *p = m.primitive;
  *PropertyAt<void *>(p, m.vertices[0], VO_VERT_COVERT) = m.vertices[3];
  const std::vector<float> before = ShapeOf(p);
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  EXPECT_EQ(ShapeOf(copy), before);
  EXPECT_EQ(ShapeOf(p), before);  // the source is unchanged
  const std::vector<void *> copied = MeshBuild::Ring(copy, VO_PRIM_VERTS, VO_VERT_NEXT);
  EXPECT_EQ(*PropertyAt<void *>(copy, copied[0], VO_VERT_COVERT), copied[3]);
  EXPECT_EQ(VoPrimitiveCopyMapped(m.vertices[0]), nullptr);  // the map went with VoPrimitiveCopy
  // Into another contents: what it lacks is dropped, what it adds is initialised.
  VtPrimitive *other = VoPrimitiveCopy(p, MeshContents({VO_VERT_NORMAL}));
  EXPECT_EQ(ShapeOf(other), before);
  EXPECT_EQ(VoPropertyGetOffset(other->contents, VO_VERT_COVERT), -1);
  EXPECT_EQ(
      PropertyAt<float>(other, MeshBuild::Ring(other, VO_PRIM_VERTS, VO_VERT_NEXT)[1], VO_VERT_NORMAL)[2], 1);
  // Kept vertices move to the copy with their rings; polygons are mapped.
  uint32_t keep_vertices = 1;
  VtPrimitive *into = VoPrimitiveCopyInto(p, nullptr, 0, 0, &keep_vertices);
  EXPECT_EQ(keep_vertices, 1u);
  EXPECT_EQ(MeshBuild::Ring(into, VO_PRIM_VERTS, VO_VERT_NEXT)[0], m.vertices[0]);
  EXPECT_EQ(*PropertyAt<void *>(p, nullptr, VO_PRIM_VERTS), nullptr);
  EXPECT_EQ(VoPrimitiveCopyMapped(m.polygons[1]), MeshBuild::Ring(into, VO_PRIM_POLYS, VO_POLY_NEXT)[1]);
  EXPECT_EQ(ShapeOf(into), before);
  for (VtPrimitive *q : {p, copy, other, into}) EXPECT_EQ(VoPrimitiveDestroy(q), 0u);
}

// Every edge of the primitive lies between its own polygons (or none) and starts at a node of their rings;
// answers the number of edges.
size_t OwnEdges(VtPrimitive *p) {
  std::set<const void *> own = {nullptr};
  for (void *q : MeshBuild::Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT)) {
    own.insert(q);
    const VtReference *ring = *PropertyAt<VtReference *>(p, q, VO_POLY_VREFS);
    for (const VtReference *n = ring->next; own.insert(n).second;) n = n->next;
  }
  const std::vector<void *> edges = MeshBuild::Ring(p, VO_PRIM_EDGES, VO_EDGE_NEXT);
  for (void *e : edges)
    for (const void *x :
         {PropertyAt<void *>(p, e, VO_EDGE_POLYS)[0], PropertyAt<void *>(p, e, VO_EDGE_POLYS)[1],
          static_cast<void *>(*PropertyAt<VtReference *>(p, e, VO_EDGE_VREFS))})
      EXPECT_EQ(own.count(x), 1u);
  return edges.size();
}

TEST_F(Elements, EdgesFollowTheirPolygonsAndReferenceNodes) {
  MeshBuild m(MeshContents({VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES, VO_VERT_SCREEN}), 3,
              kSquare, kTwoTriangles);
  ASSERT_EQ(VoPrimitiveBuildEdges(m.primitive, nullptr), 0u);
  VtPrimitive *copy = VoPrimitiveCopy(m.primitive, nullptr);
  EXPECT_EQ(OwnEdges(copy), 5u);
  EXPECT_EQ(OwnEdges(m.primitive), 5u);
  // Adding a polygon property keeps the edges and vertices: the edges are pointed at the moved polygons and
  // their (handed over) nodes.
  const float centre[3] = {1, 1, 1};
  VtTypedValue v = TypedPointer(const_cast<float *>(centre));
  ASSERT_EQ(VoPolygonSetProperty(m.primitive, m.polygons[0], VO_POLY_CENTRE, &v), 0u);
  EXPECT_EQ(OwnEdges(m.primitive), 5u);
  EXPECT_EQ(VoPrimitiveDestroy(m.primitive) | VoPrimitiveDestroy(copy), 0u);
}

int g_count = 0;
VtStatus Release(VtPrimitive *, void *) { return ++g_count, 0; }
VtStatus TransformDestroy(VtPrimitive *p) {
  return g_count -= *PropertyAt<void *>(p, nullptr, VO_PRIM_TRANSFORM) != 0, 0;
}

TEST_F(Elements, CopiesReleaseProceduralDataOnceAndExpandRetainedPrimitivesAfresh) {
  static const VtProceduralClass kClass = {nullptr, &Release, nullptr, nullptr};
  VtPrimitive *p = VoPrimitiveCreate(Geom()->procedural_contents, VO_PRIMITIVE_PROCEDURAL);
  *PropertyAt<const VtProceduralClass *>(p, nullptr, VO_PRIM_PROCCLASS) = &kClass;
  *PropertyAt<void *>(p, nullptr, VO_PRIM_PROCDATA) = &g_count;
  g_count = 0;
  VtPrimitive *a = VoPrimitiveCopy(p, nullptr);
  VtPrimitive *b = VoPrimitiveCopy(a, nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(b), 0u);
  EXPECT_EQ(g_count, 0);
  EXPECT_EQ(VoPrimitiveDestroy(a), 0u);
  EXPECT_EQ(g_count, 1);
  // A copy of a primitive holding a retained expansion must expand afresh.
  VtPrimitive *q = VoPrimitiveCreate(Contents({VO_PRIM_RETAINED}), 1), *piece = VoPrimitiveCreate(nullptr, 1);
  piece->flags |= VO_PRIMITIVE_RETAINED_PIECE;
  *PropertyAt<VtReference *>(q, nullptr, VO_PRIM_RETAINED) = VoReferenceNodeCreate(piece);
  q->flags |= VO_PRIMITIVE_RETAINED;
  VtPrimitive *copy = VoPrimitiveCopy(q, nullptr);
  EXPECT_TRUE(*PropertyAt<VtReference *>(copy, nullptr, VO_PRIM_RETAINED) == nullptr &&
              (copy->flags & VO_PRIMITIVE_RETAINED) == 0);
  EXPECT_EQ(VoPrimitiveDestroy(copy) | VoPrimitiveDestroy(q), 0u);
  EXPECT_FALSE(PrimitiveLive(piece));
}

TEST_F(Elements, ConversionsReleaseWhatTheyDrop) {
  ASSERT_EQ(VoPrimitivePropertyRegister("voxform:transform:291", VtGenericPtr, 1),
            uint32_t{VO_PRIM_TRANSFORM});
  VoPropertySetHandler(VO_PRIM_TRANSFORM, VO_PROPERTY_PRIMITIVE_DESTROY,
                       reinterpret_cast<VtProc>(&TransformDestroy));
  // Dropping only primitive properties converts in place (the element tables stay); dropping a vertex
  // property as well copies.
  for (uint32_t drop_vertices_too = 0; drop_vertices_too < 2; ++drop_vertices_too) {
    MeshBuild m(MeshContents({VO_PRIM_TRANSFORM, VO_VERT_NORMAL}), 3, kSquare, kTwoTriangles);
    *PropertyAt<void *>(m.primitive, nullptr, VO_PRIM_TRANSFORM) = &g_count;
    g_count = 1;
    const uint32_t drop[2] = {VO_PRIM_TRANSFORM, VO_VERT_NORMAL};
    VtContents *to = VoContentsSubtract(m.primitive->contents, 1 + drop_vertices_too, drop);
    ASSERT_EQ(VoPrimitiveSetContents(m.primitive, to), 0u);
    EXPECT_EQ(g_count, 0) << drop_vertices_too;
    EXPECT_EQ(m.primitive->contents, to);
    EXPECT_EQ(ShapeOf(m.primitive).size(), 20u);
    EXPECT_EQ(VoPrimitiveDestroy(m.primitive), 0u);
  }
}

TEST_F(Elements, FailuresPartWayLeaveTheSourceAsItWas) {
  MeshBuild m(MeshContents({VO_PRIM_EDGES, VO_EDGE_POLYS, VO_VERT_SCREEN}), 3, kSquare, kTwoTriangles);
  VtPrimitive *p = m.primitive;
  const std::vector<float> before = ShapeOf(p);
  VtContents *from = p->contents, *normals = MeshContents({VO_VERT_NORMAL}),
             *colours = MeshContents({VO_VERT_COLOUR});
  const uint32_t primitives = Geom()->primitive_pool->blocks_in_use;
  const auto unchanged = [&] {
    EXPECT_EQ(p->contents, from);
    EXPECT_EQ(ShapeOf(p), before);
    EXPECT_EQ(Geom()->primitive_pool->blocks_in_use, primitives);
  };
  int failed = 0;
  for (int budget = 0; budget < 40; ++budget) {
    VtPrimitive *copy;
    {
      BlocksRunOut out(budget);
      copy = VoPrimitiveCopy(p, normals);
    }
    failed += copy == nullptr;
    if (copy != nullptr) {
      EXPECT_EQ(ShapeOf(copy), before);
      EXPECT_EQ(VoPrimitiveDestroy(copy), 0u);
    }
    EXPECT_EQ(ShapeOf(p), before) << budget;
  }
  EXPECT_TRUE(failed > 10 && failed < 40) << failed;
  // Any allocation of a copy into new contents may fail: the copy answers
  // null and gives back what it made. Fresh contents need fresh pools.
  VtContents *fresh = MeshContents({VO_VERT_NORMAL, VO_VERT_TEXCOORDS});
  int runs = 0;
  EveryAllocationFails(
      [&]() -> VtStatus {
        ++runs;
        VtPrimitive *copy = VoPrimitiveCopy(p, fresh);
        if (copy == nullptr) return VO_STATUS_NO_MEMORY;
        EXPECT_EQ(ShapeOf(copy), before);
        return VoPrimitiveDestroy(copy);
      },
      unchanged);
  EXPECT_GT(runs, 1);
  // A conversion that runs out of memory, of blocks or of any allocation,
  // leaves the primitive unchanged.
  {
    BlocksRunOut out(3);
    EXPECT_EQ(VoPrimitiveSetContents(p, colours), uint32_t{VO_STATUS_NO_MEMORY});
  }
  unchanged();
  VtContents *wider = MeshContents({VO_VERT_COLOUR, VO_VERT_TEXCOORDS, VO_VERT_NORMAL});
  runs = 0;
  EveryAllocationFails(
      [&] {
        ++runs;
        return VoPrimitiveSetContents(p, wider);
      },
      unchanged);
  EXPECT_GT(runs, 1);
  EXPECT_EQ(ShapeOf(p), before);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// An edge build that runs out of memory, of any allocation or of pool
// blocks, answers the failure and leaves no edge; one that succeeds leaves
// them all. Nothing in between reaches a renderer.
TEST_F(Elements, AnEdgeBuildThatRunsOutLeavesAllEdgesOrNone) {
  const std::vector<std::vector<float>> grid = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0},
                                                {2, 1, 0}, {0, 2, 0}, {1, 2, 0}, {2, 2, 0}};
  const std::vector<std::vector<uint32_t>> quads = {{0, 1, 4, 3}, {1, 2, 5, 4}, {3, 4, 7, 6}, {4, 5, 8, 7}};
  MeshBuild m(MeshContents({VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES, VO_VERT_SCREEN}), 3,
              grid, quads);
  auto edges = [&] { return MeshBuild::Ring(m.primitive, VO_PRIM_EDGES, VO_EDGE_NEXT).size(); };
  EveryAllocationFails([&]() -> VtStatus {
    const VtStatus s = VoPrimitiveBuildEdges(m.primitive, nullptr);
    EXPECT_EQ(edges(), s == 0 ? 12u : 0u) << "status " << s;
    return s;
  });
  for (int allowed = 0; allowed < 8; ++allowed) {
    VtStatus s;
    {
      BlocksRunOut out(allowed);
      s = VoPrimitiveBuildEdges(m.primitive, nullptr);
    }
    EXPECT_TRUE(s == 0 || s == VO_STATUS_NO_MEMORY) << s;
    EXPECT_EQ(edges(), s == 0 ? 12u : 0u) << "blocks allowed " << allowed << ", status " << s;
  }
  ASSERT_EQ(VoPrimitiveBuildEdges(m.primitive, nullptr), 0u);
  EXPECT_EQ(OwnEdges(m.primitive), 12u);
  EXPECT_EQ(VoPrimitiveDestroy(m.primitive), 0u);
}

}  // namespace
}  // namespace vo::test

namespace vo::test {
namespace {

// A copy into contents with the edges property builds the copy's edges; when
// that build runs out, the copy fails as a whole (null, nothing left) rather
// than answering a copy without edges. Two triangles sharing the diagonal
// have 3 + 3 - 1 = 5 edges.
TEST_F(Elements, ACopyWhoseEdgesCannotBeBuiltAnswersNull) {
  MeshBuild m(MeshContents({VO_VERT_SCREEN}), 3, kSquare, kTwoTriangles);
  VtContents *edged =
      MeshContents({VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES, VO_VERT_SCREEN});
  const uint32_t primitives = Geom()->primitive_pool->blocks_in_use;
  int runs = 0;
  EveryAllocationFails(
      [&]() -> VtStatus {
        ++runs;
        VtPrimitive *copy = VoPrimitiveCopy(m.primitive, edged);
        if (copy == nullptr) return VO_STATUS_NO_MEMORY;
        EXPECT_EQ(OwnEdges(copy), 5u);
        return VoPrimitiveDestroy(copy);
      },
      [&] { EXPECT_EQ(Geom()->primitive_pool->blocks_in_use, primitives); });
  EXPECT_GT(runs, 1);
  EXPECT_EQ(VoPrimitiveDestroy(m.primitive), 0u);
}

// A seeded walk of primitives made and destroyed and of list nodes made
// (alone, or as a copy of another) and given back, against a model: a
// primitive answers live exactly from its creation to its destroy, and an
// address a node still names after its primitive was destroyed is never
// handed to a primitive made later (the list would take it for its member).
TEST_F(Elements, AnAddressAListStillNamesIsNeverGivenToANewPrimitive) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    std::mt19937 random(seed);
    std::map<VtPrimitive *, bool> records;  // address -> live; absent once free for reuse
    std::vector<VtReference *> nodes;
    auto named = [&](VtPrimitive *p) {
      return std::count_if(nodes.begin(), nodes.end(), [&](VtReference *n) { return n->data == p; });
    };
    auto pick = [&](auto &&from) { return std::next(from.begin(), random() % from.size()); };
    for (int step = 0; step < 1500; ++step) {
      const uint32_t what = random() % 5;
      if (what == 0 || records.empty()) {
        VtPrimitive *p = VoPrimitiveCreate(nullptr, 1);
        ASSERT_NE(p, nullptr);
        const auto old = records.find(p);
        ASSERT_TRUE(old == records.end()) << "step " << step << ": a named or live address came back";
        records[p] = true;
      } else if (what == 1) {
        const auto r = pick(records);
        if (!r->second) continue;
        ASSERT_EQ(VoPrimitiveDestroy(r->first), 0u);
        r->second = false;
        if (named(r->first) == 0) records.erase(r);  // its pool may hand it out again
      } else if (what == 2) {
        nodes.push_back(VoPrimitiveReferenceCreate(pick(records)->first));
      } else if (what == 3 && !nodes.empty()) {
        nodes.push_back(VoReferenceListCopy(*pick(nodes), nullptr));
      } else if (!nodes.empty()) {
        const auto n = pick(nodes);
        auto *p = static_cast<VtPrimitive *>((*n)->data);
        ASSERT_EQ(VoReferenceListDestroy(*n, nullptr), 0u);
        nodes.erase(n);
        if (!records.at(p) && named(p) == 0) records.erase(p);
      }
      for (const auto &[p, live] : records) ASSERT_EQ(PrimitiveLive(p), live) << "step " << step;
    }
    for (VtReference *n : nodes) EXPECT_EQ(VoReferenceListDestroy(n, nullptr), 0u);
    for (const auto &[p, live] : records) {
      if (live) {
        EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
      }
    }
  }
}

}  // namespace
}  // namespace vo::test

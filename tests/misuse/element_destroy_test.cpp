// An application's destroys of a mesh's own elements: a polygon leaves the
// primitive's polygon ring (the ring's head moves on) and the sides of the
// edges that named it, so that every render that follows (scanline,
// z-buffer, ray-traced and hidden-line, on the calling thread and on four
// workers) draws what is left and reads no freed block; a vertex or an edge
// that a polygon or an edge still names is refused with message 2018 and
// left as it was, and an element given with another primitive than its own
// with message 2015; from a render's progress callback, a polygon of the
// rendered cube is refused with message 2902. Every case runs in a process
// of its own.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;
constexpr uint32_t kStillNamed = 2018, kRenderRunning = 2902, kForeign = 2015;
constexpr uint32_t kHiddenLine = 0x190001u, kHiddenLineTwoPass = 0x190002u;

// A cube of side 2 about the origin, its faces counter-clockwise seen from
// outside, sharing its eight corners.
Mesh Cube() {
  return Mesh{{-1, -1, -1, 1, -1, -1, 1, 1, -1, -1, 1, -1, -1, -1, 1, 1, -1, 1, 1, 1, 1, -1, 1, 1},
              {4, 4, 4, 4, 4, 4},
              {4, 5, 6, 7, 0, 3, 2, 1, 1, 2, 6, 5, 0, 4, 7, 3, 3, 7, 6, 2, 0, 1, 5, 4}};
}

// The pointer a pointer property of the primitive (element null) or of an
// element holds.
void *Pointed(VtPrimitive *p, void *element, uint32_t code, int side = 0) {
  VtTypedValue v{};
  const uint32_t kind = code >> 8;
  VtStatus st = 0;
  switch (kind) {
    case VO_ELEMENT_PRIMITIVE: st = VoPrimitiveGetProperty(p, code, &v); break;
    case VO_ELEMENT_POLYGON: st = VoPolygonGetProperty(p, static_cast<VtPolygon *>(element), code, &v); break;
    case VO_ELEMENT_EDGE: st = VoEdgeGetProperty(p, static_cast<VtEdge *>(element), code, &v); break;
    default: st = VoVertexGetProperty(p, static_cast<VtVertex *>(element), code, &v); break;
  }
  return st == 0 && v.value.p != nullptr ? static_cast<void **>(v.value.p)[side] : nullptr;
}

// The elements of a ring from its head, following next (at most 64).
std::vector<void *> Ring(VtPrimitive *p, uint32_t head, uint32_t next) {
  std::vector<void *> ring;
  for (void *e = Pointed(p, nullptr, head); e != nullptr && ring.size() < 64;) {
    ring.push_back(e);
    e = Pointed(p, e, next);
    if (e == ring.front()) break;
  }
  return ring;
}

// The cube's edges built from its faces, as the hidden-line renderer and the
// crease method read them.
bool EdgesBuilt(VtPrimitive *p) {
  const uint32_t add[] = {VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES, VO_PRIM_NEDGES};
  return VoPrimitiveSetContents(p, VoContentsUnion(VoPrimitiveGetContents(p), 5, add)) == 0 &&
         !Ring(p, VO_PRIM_EDGES, VO_EDGE_NEXT).empty();
}

// Every polygon an edge names is on the polygon ring.
bool EdgesNameOnlyPolygonsOnTheRing(VtPrimitive *p) {
  const std::vector<void *> polygons = Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT);
  const std::set<void *> on(polygons.begin(), polygons.end());
  for (void *edge : Ring(p, VO_PRIM_EDGES, VO_EDGE_NEXT))
    for (int side = 0; side < 2; ++side)
      if (void *named = Pointed(p, edge, VO_EDGE_POLYS, side); named != nullptr && on.count(named) == 0)
        return false;
  return true;
}

bool AllBlack(const std::vector<float> &picture) {
  for (float c : picture)
    if (c != 0) return false;
  return !picture.empty();
}

// The library started, a lit cube with its edges, and the fault found.
template <class Case>
std::string InCubeProcess(Case &&run) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  std::string fault;
  {
    const Stage stage(Cube());
    if (!stage.ok() || !EdgesBuilt(stage.primitive())) return "the cube was not made";
    fault = run(stage, stage.primitive());
  }
  if (const VtStatus st = VoTerminate(); st != 0)
    fault += "VoTerminate answered " + std::to_string(st) + "; ";
  return fault;
}

// The cube's polygons destroyed one at a time from the ring's head (or all
// at once): after each, the head is another polygon, the ring one shorter,
// no edge names a destroyed polygon, and the render answers 0; with none
// left, nothing is drawn.
std::string PolygonsDestroyed(uint32_t code, int32_t workers, bool all_at_once) {
  return InCubeProcess([&](const Stage &stage, VtPrimitive *cube) {
    std::string fault;
    std::vector<float> picture;
    for (size_t left = 6; left > 0 && fault.empty();) {
      void *head = VoPrimitiveGetPolygons(cube);
      if (VoPolygonDestroy(cube, all_at_once ? nullptr : static_cast<VtPolygon *>(head)) != 0)
        fault += "VoPolygonDestroy did not answer 0; ";
      left = all_at_once ? 0 : left - 1;
      if (VoPrimitiveGetPolygons(cube) == head) fault += "the destroyed polygon is still the ring's head; ";
      if (Ring(cube, VO_PRIM_POLYS, VO_POLY_NEXT).size() != left) fault += "the ring is not one shorter; ";
      if (!EdgesNameOnlyPolygonsOnTheRing(cube)) fault += "an edge names a destroyed polygon; ";
      if (stage.Render(code, workers, &picture) != 0) fault += "a render after the destroy failed; ";
    }
    if (VoPrimitiveGetPolygons(cube) != nullptr) fault += "polygons are left; ";
    const bool draws_lines = code == kHiddenLine || code == kHiddenLineTwoPass;
    if (!draws_lines && !AllBlack(picture)) fault += "the cube without polygons was drawn; ";
    // Nothing names the vertices any more: the whole ring goes.
    if (VoVertexDestroy(cube, nullptr) != 0 || !Ring(cube, VO_PRIM_VERTS, VO_VERT_NEXT).empty())
      fault += "the vertices named by nothing were not destroyed; ";
    return fault;
  });
}

TEST(ElementDestroy, APolygonDestroyedLeavesItsRingAndItsEdgesAndEveryRenderDrawsWhatIsLeft) {
  for (bool all_at_once : {false, true})
    for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u, kHiddenLine, kHiddenLineTwoPass})
      for (int32_t workers : {0, 4}) {
        SCOPED_TRACE(::testing::Message() << (all_at_once ? "all at once" : "one by one") << ", render 0x"
                                          << std::hex << code << std::dec << " on " << workers << " workers");
        EXPECT_EQ(ForkedFault([&] { return PolygonsDestroyed(code, workers, all_at_once); }), "");
      }
}

// A destroy the cube refuses, and the head of the ring it must leave as it
// was.
struct Refusal {
  const char *name;
  VtStatus (*destroy)(VtPrimitive *cube);
  uint32_t message;
  uint32_t head, next;  // the ring that must stay whole
};

const Refusal kRefusals[] = {
    {"a vertex a polygon names",
     [](VtPrimitive *c) {
       return VoVertexDestroy(c, static_cast<VtVertex *>(Pointed(c, nullptr, VO_PRIM_VERTS)));
     },
     kStillNamed, VO_PRIM_VERTS, VO_VERT_NEXT},
    {"the vertex ring while polygons name it", [](VtPrimitive *c) { return VoVertexDestroy(c, nullptr); },
     kStillNamed, VO_PRIM_VERTS, VO_VERT_NEXT},
    {"an edge that polygons and edges name",
     [](VtPrimitive *c) {
       return VoEdgeDestroy(c, static_cast<VtEdge *>(Pointed(c, nullptr, VO_PRIM_EDGES)));
     },
     kStillNamed, VO_PRIM_EDGES, VO_EDGE_NEXT},
    {"the edge ring while polygons name it", [](VtPrimitive *c) { return VoEdgeDestroy(c, nullptr); },
     kStillNamed, VO_PRIM_EDGES, VO_EDGE_NEXT},
    {"a polygon of the cube given with another primitive of its layout",
     [](VtPrimitive *c) {
       VtPrimitive *other = VoPrimitiveCopy(c, VoPrimitiveGetContents(c));
       const VtStatus st =
           VoPolygonDestroy(other, static_cast<VtPolygon *>(Pointed(c, nullptr, VO_PRIM_POLYS)));
       (void)VoPrimitiveDestroy(other);
       return st;
     },
     kForeign, VO_PRIM_POLYS, VO_POLY_NEXT},
};

TEST(ElementDestroy, AVertexOrEdgeStillNamedIsRefusedAndTheCubeDrawsAsBefore) {
  for (const Refusal &r : kRefusals) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(ForkedFault([&] {
                return InCubeProcess([&](const Stage &stage, VtPrimitive *cube) {
                  std::string fault;
                  std::vector<float> before, after;
                  if (stage.Render(0x200001, 0, &before) != 0) fault += "the first render failed; ";
                  const std::vector<void *> ring = Ring(cube, r.head, r.next);
                  vo_test::Recorded().clear();
                  if (r.destroy(cube) != kRefused) fault += "the destroy was not refused; ";
                  if (vo_test::WithMessage(r.message).empty())
                    fault += "no message " + std::to_string(r.message) + "; ";
                  if (Ring(cube, r.head, r.next) != ring) fault += "the ring changed; ";
                  if (stage.Render(0x200001, 0, &after) != 0 || after != before)
                    fault += "the cube draws otherwise; ";
                  // A vertex made and named by nothing goes.
                  if (VoVertexDestroy(cube, VoVertexCreate(cube)) != 0)
                    fault += "a loose vertex was refused; ";
                  return fault;
                });
              }),
              "");
  }
}

struct During {
  VtPrimitive *cube = nullptr;
  int reports = 0;
  VtStatus answer = 0;
  bool told = false;
};
During g_during;

VtStatus DestroyFromProgress(uint32_t, VtTypedValue *) {
  if (g_during.reports++ != 0) return 0;
  vo_test::Recorded().clear();
  g_during.answer = VoPolygonDestroy(g_during.cube, VoPrimitiveGetPolygons(g_during.cube));
  g_during.told = !vo_test::WithMessage(kRenderRunning).empty();
  return 0;
}

TEST(ElementDestroy, APolygonOfTheRenderedCubeIsRefusedFromTheRendersProgress) {
  for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u})
    for (int32_t workers : {0, 4}) {
      SCOPED_TRACE(::testing::Message() << "render 0x" << std::hex << code << std::dec << " on " << workers);
      EXPECT_EQ(ForkedFault([&] {
                  return InCubeProcess([&](const Stage &stage, VtPrimitive *cube) {
                    std::string fault;
                    std::vector<float> before, during;
                    const VtStatus undisturbed = stage.Render(code, workers, &before);
                    g_during = During{cube};
                    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&DestroyFromProgress));
                    const VtStatus st = stage.Render(code, workers, &during);
                    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
                    if (g_during.reports == 0) fault += "no progress was reported; ";
                    if (g_during.answer != kRefused || !g_during.told)
                      fault += "the destroy was not refused; ";
                    if (st != undisturbed || during != before) fault += "the render drew otherwise; ";
                    if (Ring(cube, VO_PRIM_POLYS, VO_POLY_NEXT).size() != 6) fault += "a polygon went; ";
                    return fault;
                  });
                }),
                "");
    }
}

}  // namespace
}  // namespace misuse

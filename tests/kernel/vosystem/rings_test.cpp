// Reference rings an application hands in. Every exported procedure that
// follows the links of a ring it is given checks first that the ring is
// one, so a pointer that is not a list neither hangs nor crashes the
// library: a light cast as a list, the address of a list pointer (what an
// object-file read of a shader list hands back in its value word), a node
// whose links lead into another ring, and a ring already destroyed. Each is
// refused with the procedure's bad-argument status (or a null answer) and
// diagnostic 2890 naming the procedure, and nothing is changed: the current
// lists stay and no pool block is handed out twice. Under the sanitizers a
// read past the 8-byte block of the list pointer would be reported.

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_d3d.h>

#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/reference.h"
#include "support/test_support.h"

namespace {

using vo_test::Recorded;
using vo_test::WithMessage;

constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;

void *D(uintptr_t v) { return reinterpret_cast<void *>(v); }

// A library started in full, recording its diagnostics.
class RingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise() & VO_CLASS_ERROR, 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    light_ = VoShaderCreate(VO_SHADER_LIGHT, "point");
    ASSERT_NE(light_, nullptr);
    lights_ = VoShaderReferenceCreate(light_);
    const float corners[9] = {-1, -1, 0, 1, -1, 0, 0, 1, 0};
    const int32_t counts[1] = {3}, indices[3] = {0, 1, 2};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data{};
    data.type = VtGenericPtr;
    data.value.p = const_cast<float *>(corners);
    triangle_ = VoPrimitiveCreateMesh(1, nullptr, counts, indices, 1, ids, &data);
    ASSERT_NE(triangle_, nullptr);
    scene_ = VoPrimitiveReferenceCreate(triangle_);
    ASSERT_EQ(VoLightListSet(lights_), 0u);
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }
  void TearDown() override {
    VoLightListSet(nullptr);
    VoPrimitiveListSet(nullptr);
    VoShaderReferenceDestroy(lights_, 1);
    VoPrimitiveReferenceDestroy(scene_, 1);
    VoTerminate();
  }

  VtShader *light_ = nullptr;
  VtPrimitive *triangle_ = nullptr;
  VtReference *lights_ = nullptr, *scene_ = nullptr;
};

// One shape of a pointer that is not a list, made just before the call
// (so that a destroyed ring's nodes are still free) and undone after it.
struct Bad {
  const char *what;
  std::function<VtReference *(RingsTest *)> make;
};

// One procedure that walks a ring: calls it and tells whether it refused
// and changed nothing it can see.
struct Walker {
  const char *name;
  std::function<bool(VtReference *)> refused;
};

// A remove given what is not a list hands out nothing and answers null,
// so that a loop draining it ends.
bool RemoveRefused(VtReference *(*remove)(VtReference *, VtReference **), VtReference *ring) {
  VtReference *entry = ring;
  return remove(ring, &entry) == nullptr && entry == nullptr;
}

std::vector<Walker> Walkers() {
  static const uint32_t codes[1] = {VO_VERT_WORLD};
  return {
      {"VoLightListSet",
       [](VtReference *r) {
         VtReference *before = VoLightListGet();
         return VoLightListSet(r) == kRefused && VoLightListGet() == before;
       }},
      {"VoPrimitiveListSet",
       [](VtReference *r) {
         VtReference *before = VoPrimitiveListGet();
         return VoPrimitiveListSet(r) == kRefused && VoPrimitiveListGet() == before;
       }},
      {"VoPostprocessListSet", [](VtReference *r) { return VoPostprocessListSet(r) == kRefused; }},
      {"VoReferenceListDestroy",
       [](VtReference *r) { return VoReferenceListDestroy(r, nullptr) == kRefused; }},
      {"VoReferencePoolListDestroy",
       [](VtReference *r) {
         return VoReferencePoolListDestroy(VoReferencePoolGet(), r, nullptr) == kRefused;
       }},
      {"VoShaderReferenceDestroy", [](VtReference *r) { return VoShaderReferenceDestroy(r, 1) == kRefused; }},
      {"VoPrimitiveReferenceDestroy",
       [](VtReference *r) { return VoPrimitiveReferenceDestroy(r, 1) == kRefused; }},
      {"VoPrimitiveReferenceListDestroy",
       [](VtReference *r) { return VoPrimitiveReferenceListDestroy(r) == kRefused; }},
      {"VoHitListDestroy", [](VtReference *r) { return VoHitListDestroy(r, 1) == kRefused; }},
      {"VoNPREdgeReferenceDestroy",
       [](VtReference *r) { return VoNPREdgeReferenceDestroy(r, 1) == kRefused; }},
      {"VoVertexReferenceListDestroy",
       [](VtReference *r) { return VoVertexReferenceListDestroy(nullptr, r, 0) == kRefused; }},
      {"VoShaderReferenceRemove", [](VtReference *r) { return RemoveRefused(&VoShaderReferenceRemove, r); }},
      {"VoPrimitiveReferenceRemove",
       [](VtReference *r) { return RemoveRefused(&VoPrimitiveReferenceRemove, r); }},
      {"VoNPREdgeReferenceRemove",
       [](VtReference *r) { return RemoveRefused(&VoNPREdgeReferenceRemove, r); }},
      {"VoReferenceListRemoveData", [](VtReference *r) { return VoReferenceListRemoveData(r, D(16)) == r; }},
      {"VoReferenceListCopy", [](VtReference *r) { return VoReferenceListCopy(r, nullptr) == nullptr; }},
      {"VoPrimitiveReferenceCopy", [](VtReference *r) { return VoPrimitiveReferenceCopy(r, 1) == nullptr; }},
      {"VoNPREdgeReferenceCopy", [](VtReference *r) { return VoNPREdgeReferenceCopy(r, 0) == nullptr; }},
      {"VoPrimitiveListExpand",
       [](VtReference *r) { return VoPrimitiveListExpand(r, nullptr, 0) == nullptr; }},
      {"VoOpenGLPrimitiveListInvalidate",
       [](VtReference *r) { return VoOpenGLPrimitiveListInvalidate(r, 0) == kRefused; }},
      {"VoD3DPrimListCreate", [](VtReference *r) { return VoD3DPrimListCreate(r) == kRefused; }},
      {"VoD3DLightListCreate", [](VtReference *r) { return VoD3DLightListCreate(r) == kRefused; }},
      {"VoMeshSave", [](VtReference *r) { return VoMeshSave(r, 1, codes) == kRefused; }},
  };
}

// The pointers that are not lists; what they leave to undo is kept here.
VtReference **g_box = nullptr;   // an 8-byte block holding a list pointer
VtReference *g_stray = nullptr;  // a node whose link leads into the light list

std::vector<Bad> Shapes() {
  return {
      {"a light", [](RingsTest *) { return reinterpret_cast<VtReference *>(VoLightListGet()->data); }},
      {"the address of a list pointer",
       [](RingsTest *) {
         g_box = static_cast<VtReference **>(VoAllocate(sizeof(VtReference *)));
         *g_box = VoLightListGet();
         return reinterpret_cast<VtReference *>(g_box);
       }},
      {"a node leading into another ring",
       [](RingsTest *) {
         g_stray = VoReferenceNodeCreate(D(24));
         g_stray->next = VoLightListGet();
         return g_stray;
       }},
      {"a ring destroyed already",
       [](RingsTest *) {
         VtReference *ring = nullptr;
         for (uintptr_t i = 1; i <= 3; ++i)
           ring = VoPrimitiveReferenceAppend(ring, VoReferenceNodeCreate(D(i)));
         EXPECT_EQ(VoReferenceListDestroy(ring, nullptr), 0u);
         return ring;
       }},
  };
}

void Undo() {
  if (g_box != nullptr) VoDeallocate(g_box);
  if (g_stray != nullptr) {
    g_stray->next = g_stray;
    VoReferenceListDestroy(g_stray, nullptr);
  }
  g_box = nullptr;
  g_stray = nullptr;
}

TEST_F(RingsTest, EveryProcedureRefusesAPointerThatIsNotAListAndChangesNothing) {
  for (const Walker &w : Walkers())
    for (const Bad &b : Shapes()) {
      SCOPED_TRACE(std::string(w.name) + " given " + b.what);
      Recorded().clear();
      VtReference *ring = b.make(this);
      EXPECT_TRUE(w.refused(ring));
      const auto posted = WithMessage(vo::messages::kRingRefused);
      ASSERT_EQ(posted.size(), 1u);
      ASSERT_FALSE(posted[0].strings.empty());
      EXPECT_EQ(posted[0].strings[0], w.name);
      EXPECT_EQ(posted[0].status, kRefused);
      Undo();
      // The lists set before are still whole and current.
      EXPECT_EQ(VoLightListGet(), lights_);
      EXPECT_EQ(VoPrimitiveListGet(), scene_);
      EXPECT_EQ(lights_->next, lights_);
      EXPECT_EQ(lights_->data, light_);
    }
}

// An append looks at its two handle nodes alone, never round a ring: a
// node destroyed (still free in its pool), an address no node can have and
// a record whose first word is no link are refused with a null answer and
// their message, on either side, and the list given with them is left as it
// was. A pool list destroy refuses a pool that is none before reading the
// list, which then still goes back whole to its own pool.
TEST_F(RingsTest, AppendsAndPoolListDestroysRefuseWhatIsNoNodeOrNoPoolAndChangeNothing) {
  using Append = VtReference *(*)(VtReference *, VtReference *);
  const struct {
    const char *name;
    Append append;
  } appends[] = {{"VoShaderReferenceAppend", &VoShaderReferenceAppend},
                 {"VoPrimitiveReferenceAppend", &VoPrimitiveReferenceAppend},
                 {"VoNPREdgeReferenceAppend", &VoNPREdgeReferenceAppend}};
  VtView *view = VoViewCreate();  // its first word holds its kind and serial: no link
  ASSERT_NE(view, nullptr);
  struct NotANode {
    const char *what;
    uint32_t message;
    std::function<VtReference *()> make;
  } const shapes[] = {
      {"a node destroyed", vo::messages::kObjectNotLive,
       [] {
         VtReference *gone = VoReferenceNodeCreate(D(5));
         EXPECT_EQ(VoReferenceListDestroy(gone, nullptr), 0u);
         return gone;
       }},
      {"an address in the first page", vo::messages::kRingRefused,
       [] { return static_cast<VtReference *>(D(64)); }},
      {"an address off a word", vo::messages::kRingRefused,
       [this] { return static_cast<VtReference *>(D(reinterpret_cast<uintptr_t>(lights_) + 4)); }},
      {"a view", vo::messages::kRingRefused, [view] { return reinterpret_cast<VtReference *>(view); }},
  };
  for (const auto &a : appends)
    for (const NotANode &shape : shapes)
      for (bool first : {true, false}) {
        SCOPED_TRACE(std::string(a.name) + " given " + shape.what +
                     (first ? " as the list" : " as the tail"));
        VtReference *list = VoReferenceNodeCreate(D(7));
        VtReference *bad = shape.make();
        Recorded().clear();
        EXPECT_EQ(first ? a.append(bad, list) : a.append(list, bad), nullptr);
        const auto posted = WithMessage(shape.message);
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].strings.at(0), a.name);
        EXPECT_EQ(list->next, list);  // nothing joined
        EXPECT_EQ(VoReferenceListDestroy(list, nullptr), 0u);
      }
  // A list built by appends stays whole.
  VtReference *built = nullptr;
  for (uintptr_t i = 1; i <= 5; ++i) built = VoNPREdgeReferenceAppend(built, VoReferenceNodeCreate(D(i)));
  EXPECT_EQ(vo::RingLength(built), 5u);

  VtPool *gone = VoPoolCreate(0x7e57, 16);
  ASSERT_NE(gone, nullptr);
  ASSERT_EQ(VoPoolDispose(gone), 0u);
  for (VtPool *pool : {static_cast<VtPool *>(nullptr), reinterpret_cast<VtPool *>(view), gone}) {
    SCOPED_TRACE(pool == nullptr ? "no pool" : pool == gone ? "a pool disposed" : "a view");
    Recorded().clear();
    EXPECT_EQ(VoReferencePoolListDestroy(pool, built, nullptr), kRefused);
    const auto posted = WithMessage(vo::messages::kObjectNotLive);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].strings.at(0), "VoReferencePoolListDestroy");
    EXPECT_EQ(vo::RingLength(built), 5u);
  }
  EXPECT_EQ(VoReferencePoolListDestroy(VoReferencePoolGet(), built, nullptr), 0u);
  EXPECT_EQ(VoViewDestroy(view), 0u);
}

TEST_F(RingsTest, ARingDestroyedTwiceLeavesThePoolHandingOutDistinctNodes) {
  VtReference *ring = nullptr;
  for (uintptr_t i = 1; i <= 4; ++i) ring = VoShaderReferenceAppend(ring, VoShaderReferenceCreate(D(i)));
  ASSERT_EQ(VoReferenceListDestroy(ring, nullptr), 0u);
  EXPECT_EQ(VoReferenceListDestroy(ring, nullptr), kRefused);
  EXPECT_EQ(VoShaderReferenceDestroy(ring, 0), kRefused);
  // Had the second destroy freed the four nodes again, the pool's free list
  // would run round them and hand each out twice.
  std::set<VtReference *> made;
  std::vector<VtReference *> nodes;
  for (int i = 0; i < 12; ++i) {
    nodes.push_back(VoReferenceNodeCreate(D(1)));
    made.insert(nodes.back());
  }
  EXPECT_EQ(made.size(), nodes.size());
  for (VtReference *n : nodes) EXPECT_EQ(VoReferenceListDestroy(n, nullptr), 0u);
}

TEST_F(RingsTest, ListsThatAreListsKeepTheirStatusesAndElementsOfTheWrongKindAreRefused) {
  // A shader list of a light, a null entry and a colour shader is a list:
  // 0, and the colour shader and the null entry are passed over.
  VtShader *colour = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  VtReference *mixed =
      VoShaderReferenceAppend(VoShaderReferenceCreate(colour), VoShaderReferenceCreate(nullptr));
  mixed = VoShaderReferenceAppend(mixed, VoShaderReferenceCreate(light_));
  EXPECT_EQ(VoLightListSet(mixed), 0u);
  EXPECT_EQ(VoLightListGet(), mixed);
  // A list holding a shader destroyed before is refused: the list stays.
  VtShader *gone = VoShaderCreate(VO_SHADER_LIGHT, "point");
  VtReference *stale =
      VoShaderReferenceAppend(VoShaderReferenceCreate(light_), VoShaderReferenceCreate(gone));
  ASSERT_EQ(VoShaderDestroy(gone), 0u);
  Recorded().clear();
  EXPECT_EQ(VoLightListSet(stale), kRefused);
  EXPECT_EQ(VoLightListGet(), mixed);
  auto posted = WithMessage(vo::messages::kRingElementRefused);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].strings.at(0), "VoLightListSet");
  EXPECT_EQ(posted[0].args.at(1).value.p, static_cast<void *>(gone));
  // The scene list: an empty node keeps its message 839, a destroyed
  // primitive gets 2891, and neither replaces the list.
  VtReference *hole =
      VoPrimitiveReferenceAppend(VoPrimitiveReferenceCreate(triangle_), VoPrimitiveReferenceCreate(nullptr));
  Recorded().clear();
  EXPECT_EQ(VoPrimitiveListSet(hole), kRefused);
  EXPECT_EQ(WithMessage(839).size(), 1u);
  VtPrimitive *dead = VoPrimitiveCopy(triangle_, nullptr);
  VtReference *with_dead =
      VoPrimitiveReferenceAppend(VoPrimitiveReferenceCreate(triangle_), VoPrimitiveReferenceCreate(dead));
  ASSERT_EQ(VoPrimitiveDestroy(dead), 0u);
  Recorded().clear();
  EXPECT_EQ(VoPrimitiveListSet(with_dead), kRefused);
  posted = WithMessage(vo::messages::kRingElementRefused);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].strings.at(0), "VoPrimitiveListSet");
  EXPECT_EQ(VoPrimitiveListGet(), scene_);
  // The light list set and then a list with a light named twice: one
  // light in the chain, and a render ends.
  VtReference *twice =
      VoShaderReferenceAppend(VoShaderReferenceCreate(light_), VoShaderReferenceCreate(light_));
  EXPECT_EQ(VoLightListSet(twice), 0u);
  EXPECT_EQ(VoViewSetResolution(nullptr, 16, 12, 1.0), 0u);
  EXPECT_EQ(VoExecute(0xc0001) & VO_CLASS_ERROR, 0u);
  EXPECT_EQ(VoLightListSet(lights_), 0u);
  for (VtReference *r : {mixed, stale, twice}) EXPECT_EQ(VoShaderReferenceDestroy(r, 0), 0u);
  for (VtReference *r : {hole, with_dead}) EXPECT_EQ(VoReferenceListDestroy(r, nullptr), 0u);
  EXPECT_EQ(VoShaderDestroy(colour), 0u);
}

// An append joins rings of its own kind: a handle whose first or own
// element is a live shader is refused by the primitive and edge appends
// with 2891 naming the kind due, and neither ring changes, so that the
// light list joined to the scene list never puts a light where a render
// reads primitives; what no kind's test tells (primitives, the
// application's own data, null) is joined as ever.
TEST_F(RingsTest, AppendsRefuseARingOfShadersWhereTheirKindIsAnother) {
  using Append = VtReference *(*)(VtReference *, VtReference *);
  struct Join {
    const char *name;
    Append append;
    const char *kind;  // the kind due when refused, null when joined
    bool lights_first;
    bool scene;  // the other ring is the scene list, else a node of the application's data
  };
  const Join joins[] = {
      {"VoPrimitiveReferenceAppend", &VoPrimitiveReferenceAppend, "primitive", false, true},
      {"VoPrimitiveReferenceAppend", &VoPrimitiveReferenceAppend, "primitive", true, true},
      {"VoNPREdgeReferenceAppend", &VoNPREdgeReferenceAppend, "NPR edge", false, false},
      {"VoNPREdgeReferenceAppend", &VoNPREdgeReferenceAppend, "NPR edge", true, false},
      {"VoShaderReferenceAppend", &VoShaderReferenceAppend, nullptr, false, false},
      {"VoShaderReferenceAppend", &VoShaderReferenceAppend, nullptr, true, false},
  };
  for (const Join &j : joins) {
    SCOPED_TRACE(std::string(j.name) + (j.lights_first ? " of the light list and " : " of ") +
                 (j.scene ? "the scene list" : "a node of the application's data") +
                 (j.lights_first ? "" : " and the light list"));
    VtReference *mine = VoReferenceNodeCreate(D(8));
    VtReference *other = j.scene ? scene_ : mine;
    // The lights are two nodes, a null entry first and the light at the
    // handle, so that the handle's own element is looked at too.
    VtReference *lights =
        VoShaderReferenceAppend(VoShaderReferenceCreate(nullptr), VoShaderReferenceCreate(light_));
    Recorded().clear();
    VtReference *joined = j.lights_first ? j.append(lights, other) : j.append(other, lights);
    const auto posted = WithMessage(vo::messages::kRingElementRefused);
    if (j.kind != nullptr) {
      EXPECT_EQ(joined, nullptr);
      ASSERT_EQ(posted.size(), 1u);
      EXPECT_EQ(posted[0].strings.at(0), j.name);
      EXPECT_EQ(posted[0].args.at(1).value.p, static_cast<void *>(light_));
      EXPECT_EQ(posted[0].strings.back(), j.kind);
      EXPECT_EQ(vo::RingLength(other), 1u);
      EXPECT_EQ(vo::RingLength(lights), 2u);
      EXPECT_EQ(VoReferenceListDestroy(lights, nullptr), 0u);
    } else {
      EXPECT_TRUE(posted.empty());
      EXPECT_EQ(vo::RingLength(joined), 3u);
      EXPECT_EQ(VoReferenceListDestroy(joined, nullptr), 0u);
    }
    if (other != mine || j.kind != nullptr) {
      EXPECT_EQ(VoReferenceListDestroy(mine, nullptr), 0u);
    }
  }
  // The scene list refused the lights, so the render reads primitives only.
  EXPECT_EQ(VoViewSetResolution(nullptr, 16, 12, 1.0), 0u);
  EXPECT_EQ(VoExecute(0xc0001) & VO_CLASS_ERROR, 0u);
}

}  // namespace

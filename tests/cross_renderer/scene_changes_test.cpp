// Scene changes between pictures: a box on a floor under a point light and
// a distant light with depth-map shadows is drawn, changed, and drawn
// again. The second picture must be the one drawn after every light's maps
// were given up (VoLightDestroyShadow), which makes them from the changed
// scene: before, the maps of the first picture were kept and the shadow
// stayed where the box had been. Each session runs in a process of its own,
// so both start from the same library state (the shadow jitter read index
// carried from picture to picture included).
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include <vo/vo_multit.h>

#include "cross_renderer/renderers.h"

namespace scene_changes {
namespace {

using namespace vo::test;

enum class Change { kNone, kMoved, kUncast, kRemoved, kVerticesMoved, kHeldTransformEdited, kBounds };

struct Case {
  const char *name;
  Change change;
};

constexpr Case kCases[] = {{"unchanged", Change::kNone},
                           {"moved by a new transform", Change::kMoved},
                           {"casting turned off", Change::kUncast},
                           {"removed from the current list", Change::kRemoved},
                           {"vertices moved", Change::kVerticesMoved},
                           {"held transform edited", Change::kHeldTransformEdited},
                           {"shadow bounds set", Change::kBounds}};
constexpr uint32_t kCodes[] = {0x200001, 0x200002, 0x70001, 0x70002};
constexpr int32_t kWorkers[] = {0, 4};

// Message of the start of a light's maps.
constexpr uint32_t kMapsBegun = 454;
uint32_t g_maps_made = 0;
VtStatus CountMaps(VtStatus, uint32_t message, uint32_t module, uint32_t, VtTypedValue *) {
  g_maps_made += message == kMapsBegun && module == VO_MODULE_SHADER;
  return 0;
}

VtTypedValue Pointer(const void *p) {
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = const_cast<void *>(p);
  return v;
}

VtPrimitive *Floor() {
  static const float corners[4][3] = {{-4, 0, -4}, {-4, 0, 4}, {4, 0, 4}, {4, 0, -4}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {Pointer(corners)};
  return VoPrimitiveCreatePolygon(4, 1, ids, data);
}

VtPrimitive *Box() {
  static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  float corners[8][3];
  for (int i = 0; i < 8; ++i) {
    corners[i][0] = (i & 1) ? 0.6f : -0.6f;
    corners[i][1] = (i & 2) ? 1.4f : 0.0f;
    corners[i][2] = (i & 4) ? 0.6f : -0.6f;
  }
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {Pointer(corners)};
  return VoPrimitiveCreateMesh(6, nullptr, counts, faces, 1, ids, data);
}

VtTransform *Translation(double x, double z) {
  VtTransform *t = VoTransformCreate();
  const double offset[3] = {x, 0, z};
  EXPECT_EQ(t != nullptr ? VoTransformTranslate(t, offset) : 2u, 0u);
  return t;
}

VtStatus Set(VtShader *s, const char *label, uint32_t type, float a, float b, float c) {
  VtTypedValue v{};
  v.type = type;
  v.value.v[0] = a, v.value.v[1] = b, v.value.v[2] = c;
  return VoShaderSetArg(s, label, &v);
}

// Ambient, then a point and a distant light casting shadows through maps.
std::vector<VtShader *> Lights(VtReference **list) {
  std::vector<VtShader *> lights = {VoShaderCreate(VO_SHADER_LIGHT, "ambient"),
                                    VoShaderCreate(VO_SHADER_LIGHT, "point"),
                                    VoShaderCreate(VO_SHADER_LIGHT, "distant")};
  VtTypedValue yes{}, no{};
  yes.type = no.type = VtBoolean;
  yes.value.u = 1;
  for (VtShader *s : lights) {
    EXPECT_NE(s, nullptr);
    *list = VoShaderReferenceAppend(*list, VoShaderReferenceCreate(s));
  }
  VtTypedValue dim{};
  dim.type = VtFloat;
  dim.value.f = 0.2f;
  EXPECT_EQ(VoShaderSetArg(lights[0], "intensity", &dim), 0u);
  EXPECT_EQ(Set(lights[1], "location", VtPoint, -3, 5, 2) | VoShaderSetArg(lights[1], "shadows", &yes), 0u);
  EXPECT_EQ(Set(lights[2], "location", VtPoint, 2, 6, -3) | Set(lights[2], "to", VtPoint, 0, 0, 0) |
                VoShaderSetArg(lights[2], "shadows", &yes),
            0u);
  EXPECT_EQ(VoControlSet(VO_CONTROL_SHADER_RAY_SHADOWS, &no), 0u);
  return lights;
}

constexpr size_t kBytes = size_t{kCrossWidth} * kCrossHeight * 3;

VtStatus Render(uint32_t code, uint8_t *out) {
  VtDriverRecord *driver = VoDriverCreate(&RowsQuery);
  if (driver == nullptr) return 0x20000006;
  RowsTarget().assign(kBytes, 0);
  VtStatus st = VoDriverSet(driver);
  if (st == 0) st = VoExecute(code);
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
  VoDriverDestroy(driver);
  std::memcpy(out, RowsTarget().data(), kBytes);
  return st;
}

void Apply(Change change, VtPrimitive *box, VtReference *floor_only) {
  switch (change) {
    case Change::kNone: break;
    case Change::kMoved: EXPECT_EQ(VoPrimitiveSetTransform(box, Translation(1.3, 0.9)), 0u); break;
    case Change::kUncast: EXPECT_EQ(VoPrimitiveSetShadowCasting(box, 0), 0u); break;
    case Change::kRemoved: EXPECT_EQ(VoPrimitiveListSet(floor_only), 0u); break;
    case Change::kBounds: {
      // The distant light's window narrows to the box's corner of the floor.
      const float bounds[6] = {-1, 1, 0, 2, -1, 1};
      EXPECT_EQ(VoShadowBoundsSet(bounds), 0u);
      break;
    }
    case Change::kHeldTransformEdited: {
      const double offset[3] = {-1.1, 0, 0.8};
      EXPECT_EQ(VoTransformTranslate(VoPrimitiveGetTransform(box), offset), 0u);
      break;
    }
    case Change::kVerticesMoved: {
      VtTypedValue v{};
      ASSERT_EQ(VoPrimitiveGetProperty(box, VO_PRIM_VERTS, &v), 0u);
      VtVertex *first = *static_cast<VtVertex **>(v.value.p);
      for (VtVertex *vertex = first; vertex != nullptr;) {
        ASSERT_EQ(VoVertexGetProperty(box, vertex, VO_VERT_WORLD, &v), 0u);
        const float *at = static_cast<const float *>(v.value.p);
        const float moved[3] = {at[0] + 1.2f, at[1] * 0.6f, at[2] - 1.0f};
        const VtTypedValue to = Pointer(moved);
        ASSERT_EQ(VoVertexSetProperty(box, vertex, VO_VERT_WORLD, &to), 0u);
        ASSERT_EQ(VoVertexGetProperty(box, vertex, VO_VERT_NEXT, &v), 0u);
        vertex = *static_cast<VtVertex **>(v.value.p);
        if (vertex == first) break;
      }
      break;
    }
  }
}

// What a session gives back, in memory its process shares with the test's.
struct Outcome {
  uint32_t status;
  uint32_t maps_made_again;  // maps begun by the second picture
  uint8_t first[kBytes], second[kBytes];
};

// One session: draws, changes the scene, gives up every light's maps when
// asked, draws again.
void Session(Change change, uint32_t code, int32_t workers, bool give_up_maps, Outcome *o) {
  EXPECT_EQ(VoInitialise(), 0u);
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&CountMaps));
  VtTypedValue count{};
  count.type = VtInt32;
  count.value.i = workers;
  o->status = VoControlSet(VO_CONTROL_MT_WORKERS, &count);
  VtPrimitive *floor = Floor(), *box = Box();
  o->status |= VoPrimitiveSetTransform(box, Translation(0.3, 0.2));
  VtPrimitive *both[2] = {floor, box};
  VtReference *scene = VoPrimitiveListCreate(2, both), *floor_only = VoPrimitiveListCreate(1, both);
  VtReference *light_list = nullptr;
  const std::vector<VtShader *> lights = Lights(&light_list);
  const float eye[3] = {2.5f, 6.5f, 9.0f}, reference[3] = {0, 0.4f, 0}, up[3] = {0, 1, 0};
  o->status |= VoPrimitiveListSet(scene) | VoLightListSet(light_list);
  o->status |= VoViewSetResolution(nullptr, kCrossWidth, kCrossHeight, 1.0);
  o->status |= VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 45.0);
  o->status |= VoViewAutoClipping(nullptr) | Render(code, o->first);
  Apply(change, box, floor_only);
  if (give_up_maps)
    for (VtShader *light : lights) o->status |= VoLightDestroyShadow(light);
  g_maps_made = 0;
  o->status |= Render(code, o->second);
  o->maps_made_again = g_maps_made;
  VoTerminate();
}

int Failures() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// Runs the session in a child process; false when it did not end cleanly.
bool Forked(Change change, uint32_t code, int32_t workers, bool give_up_maps, Outcome *o) {
  const int failures = Failures();
  const pid_t child = fork();
  if (child == 0) {
    Session(change, code, workers, give_up_maps, o);
    _exit(Failures() == failures ? 0 : 1);
  }
  int exit_status = 0;
  return child > 0 && waitpid(child, &exit_status, 0) == child && WIFEXITED(exit_status) &&
         WEXITSTATUS(exit_status) == 0;
}

size_t PixelsApart(const uint8_t *a, const uint8_t *b) {
  size_t n = 0;
  for (size_t i = 0; i < kBytes; i += 3) n += std::memcmp(&a[i], &b[i], 3) != 0;
  return n;
}

TEST(SceneChanges, ShadowMapsAreMadeAgainWhenTheirCastersChangeAndKeptWhileTheyStand) {
  void *shared =
      mmap(nullptr, 2 * sizeof(Outcome), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  Outcome &kept = static_cast<Outcome *>(shared)[0], &fresh = static_cast<Outcome *>(shared)[1];
  std::vector<uint8_t> unchanged(kBytes);
  for (uint32_t code : kCodes)
    for (int32_t workers : kWorkers)
      for (const Case &c : kCases) {
        SCOPED_TRACE(::testing::Message() << c.name << ", renderer 0x" << std::hex << code << std::dec << ", "
                                          << workers << " workers");
        ASSERT_TRUE(Forked(c.change, code, workers, false, &kept));
        ASSERT_TRUE(Forked(c.change, code, workers, true, &fresh));
        ASSERT_EQ(kept.status | fresh.status, 0u);
        EXPECT_EQ(PixelsApart(kept.first, fresh.first), 0u);
        EXPECT_EQ(PixelsApart(kept.second, fresh.second), 0u)
            << "pixels drawn from the maps of the old scene";
        // Only a change makes the two shadow-casting lights' maps again, and
        // it shows against the same second picture of the unchanged scene
        // (the first case).
        EXPECT_EQ(kept.maps_made_again, c.change == Change::kNone ? 0u : 2u);
        if (c.change == Change::kNone)
          std::memcpy(unchanged.data(), kept.second, kBytes);
        else
          EXPECT_GT(PixelsApart(kept.second, unchanged.data()), 0u);
      }
  munmap(shared, 2 * sizeof(Outcome));
}

}  // namespace
}  // namespace scene_changes

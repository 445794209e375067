// Area lights on emitters made for the test: the pro fixture with the
// geometry operators (triangulation), polygons and meshes destroyed with the
// test, and the kernel's sampling protocol run by hand.
#pragma once

#include <array>
#include <vector>

#include "pro_fixture.h"
#include "shading/voshpro/area_light.h"

namespace vo::test {

using Corners = std::vector<std::array<float, 3>>;

struct Selected {
  VtStatus status = 0;
  uint32_t single = 0;
  std::vector<VtAreaLightSample> samples;
  // The colour summed over the samples, channel 0.
  double Sum() const {
    double s = 0;
    for (const auto &a : samples) s += a.colour.red;
    return s;
  }
};

class AreaTest : public ProTest {
 protected:
  void InstallLibraries() override {
    ProTest::InstallLibraries();
    ASSERT_EQ(VoInstallModule(&VoEntryGeometryOperators), 0u);
  }
  void TearDown() override {
    for (VtShader *s : made_) {
      // Maps a test lent the light are not the kernel's to free.
      if (lent_maps_) {
        Record(s)->shadowValid = 0;
        std::memset(Record(s)->shadowMaps, 0, sizeof Record(s)->shadowMaps);
      }
    }
    ProTest::TearDown();
  }

 public:
  static VtPrimitive *Emitter(const Corners &xyz) {
    const uint32_t ids[] = {VO_VERT_WORLD};
    const VtTypedValue data[] = {TypedPointer(const_cast<std::array<float, 3> *>(xyz.data()))};
    return VoPrimitiveCreatePolygon(static_cast<uint32_t>(xyz.size()), 1, ids, data);
  }
  // A triangle of 0.5 m^2 facing down, its centroid at height h above the
  // origin.
  static VtPrimitive *DownTriangle(float h) {
    const float a = 1.0f / 3, b = 2.0f / 3;
    return Emitter({{-a, -a, h}, {-a, b, h}, {b, -a, h}});
  }
  // A 2 x 1 quad facing down at height h (2 m^2).
  static VtPrimitive *DownQuad(float h) {
    return Emitter({{-1, -0.5f, h}, {-1, 0.5f, h}, {1, 0.5f, h}, {1, -0.5f, h}});
  }

  VtShader *AreaOn(VtPrimitive *p) {
    VtShader *s = Make(L, "area");
    if (s == nullptr) return nullptr;
    VtTypedValue v = TypedPointer(p);
    EXPECT_EQ(VoShaderSetArg(s, "primitive", &v), 0u);
    return s;
  }
  // Prepare, then the build: the build's status.
  static VtStatus Build(VtShader *s) {
    (void)Prepare(s);
    VtAreaLightSampler &a = Record(s)->areaSampler;
    return a.prepare(&a);
  }
  static AreaBuild *BuildOf(VtShader *s) { return Emitters(Record(s))->build; }

  // The kernel's second pass for one light at a point: select, start,
  // fetch, refine until no more, the ring's samples, finish, free.
  static Selected Select(VtLightData *d, VtPrimitive *shaded, const float *P, const float *N,
                         uint32_t shadow = 1) {
    VtAreaLightSampler &a = d->areaSampler;
    Selected out;
    void *h = nullptr;
    out.status = a.begin(&a, shaded, nullptr, P, N, shadow, &h);
    if (h == nullptr) return out;
    void *cursor = nullptr, *item = nullptr;
    out.status |= a.first(h, nullptr, nullptr, &cursor);
    out.status |= a.fetch(h, cursor, &item);
    const auto *sel = static_cast<const VtAreaLightSelection *>(h);
    out.single = sel->singleSample;
    if (sel->singleSample == 0)
      for (uint32_t more = 1; more != 0 && sel->samples != nullptr;) {
        out.status |= a.next(h, cursor, nullptr, nullptr, nullptr, &more);
        if (more != 0) (void)a.fetch(h, cursor, &item);
      }
    if (const VtReference *ring = sel->samples; ring != nullptr)
      for (const VtReference *n = ring->next;; n = n->next) {
        out.samples.push_back(*static_cast<const VtAreaLightSample *>(n->data));
        if (n == ring) break;
      }
    out.status |= a.finish(h, cursor);
    out.status |= a.end(h);
    return out;
  }
  static Selected Select(VtShader *s, const float *P, const float *N = kUp, uint32_t shadow = 1) {
    return Select(Record(s), nullptr, P, N, shadow);
  }

  static void NoLods(VtShader *s) {
    for (const char *l : {"min lod", "mid lod", "max lod"}) SetFloat(s, l, 0);
  }

  static constexpr float kUp[3] = {0, 0, 1};
  bool lent_maps_ = false;
};

}  // namespace vo::test

// The pro library's surface classes beside the classic library (which
// lets colour arguments take colour shaders), with helpers that shade the
// fixture's point with a surface colour, an incoming colour Ci and an eye
// direction.
#pragma once

#include <cmath>
#include <cstring>

#include "pro_fixture.h"
#include "support/geometry_fixture.h"
#include "shading/vofilter/filter.h"
#include "shading/voshader/voshader.h"
#include "shading/voshpro/surfaces.h"

namespace vo::test {

class SurfacesTest : public ProTest {
 protected:
  void InstallLibraries() override {
    for (VtQueryFunction m :
         {&VoEntryLiteShaders, &VoEntryPolygons, &VoEntryClassicShaders, &VoEntryProShaders})
      ASSERT_EQ(VoInstallModule(m), 0u);
  }

 public:
  // The fixture's point at the origin, Co and Ci as given, the eye looking
  // down along (sin a, 0, -cos a) for the angle a in degrees from the normal.
  static VtShaderGlobals *Surface(const float *co, const float *ci = nullptr, double degrees = 0) {
    VtShaderGlobals *g = At(0, 0, 0);
    const double a = degrees * 0.017453292519943295;
    Set3(g->unitI, static_cast<float>(std::sin(a)), 0, static_cast<float>(-std::cos(a)));
    Copy3(g->Co, co);
    if (g->Ci == nullptr) g->Ci = g->CiStorage;
    if (ci != nullptr)
      Copy3(g->Ci, ci);
    else
      Set3(g->Ci, 0, 0, 0);
    return g;
  }
  // Reset, then slot 2 (or the slot given): the globals after it.
  static VtShaderGlobals *Evaluate(VtShader *s, uint32_t slot = VO_SLOT_EVALUATE) {
    EXPECT_EQ(VoShaderReset(s), 0u);
    Run(s, slot);
    return VoShaderGetGlobals();
  }
  static void SetInt(VtShader *s, const char *label, int32_t i) {
    const VtTypedValue v = TypedInt32(i);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static void SetColour(VtShader *s, const char *label, float r, float g, float b) {
    Set(s, label, Colour(r, g, b));
  }
  // Runs an entry slot (5 initialise, 6 release) of the class on the data.
  static VtStatus Slot(VtShader *s, uint32_t slot) {
    VtTypedValue e{};
    EXPECT_EQ(VoShaderGetEntry(s, slot, &e), 0u);
    return reinterpret_cast<VtShaderDataProc>(e.value.fn)(VoShaderGetData(s));
  }
  static bool SameBits(const float *a, const float *b) { return std::memcmp(a, b, 3 * sizeof(float)) == 0; }
};

// With the filter module, whose hooks hand over a triangle with corners at
// (0, +-0.7071, 0) and (0.2, 0, 0) as the polygon being filtered, in an
// image of mode 3 without perspective (the eye direction is unitI's).
class FootprintTest : public SurfacesTest {
 protected:
  void InstallLibraries() override {
    SurfacesTest::InstallLibraries();
    ASSERT_EQ(VoInstallModule(&VoEntryFilter), 0u);
  }
  void TearDown() override {
    Hooks(false);
    if (primitive_ != nullptr) {
      EXPECT_EQ(VoPrimitiveDestroy(primitive_), 0u);
    }
    primitive_ = nullptr;
    polygon_ = nullptr;
    SurfacesTest::TearDown();
  }
  void Footprint() {
    const float c = 0.70710678f;
    primitive_ = PolygonModuleTest::Polygon({{0, c, 0}, {0, -c, 0}, {0.2f, 0, 0}});
    ASSERT_NE(primitive_, nullptr);
    polygon_ = static_cast<VtPolygon *>(PolygonModuleTest::Polygons(primitive_).front());
    ASSERT_EQ(VoShadingInitialiseImage(3), 0u);
    image_ = true;
    ASSERT_EQ(VoShadingInitialisePolygon(primitive_, polygon_), 0u);
    shader::StateGet()->perspective = 0;
    Hooks(true);
  }
  // The hooks answering the triangle, or none.
  static void Hooks(bool on) {
    if (filter::VtFilterContext *f = filter::State()) {
      f->first_hook = on ? &PolygonHook : nullptr;
      f->second_hook = on ? &PrimitiveHook : nullptr;
    }
  }

 private:
  static void *PolygonHook() { return polygon_; }
  static void *PrimitiveHook() { return primitive_; }
  static inline VtPrimitive *primitive_ = nullptr;
  static inline VtPolygon *polygon_ = nullptr;
};

}  // namespace vo::test

// The lite library beside the super-lite one on a started shader kernel,
// and the point every lite test shades: N (0, 0, 1), dPds (1, 0, 0),
// dPdt (0, 1, 0), unitI (0, 0, -1), with the kernel's default (Perlin)
// noise.
#pragma once

#include "support/fake_module.h"
#include "shading/voshslte/library_fixture.h"

namespace vo::test {

class LiteTest : public LibraryTest {
 protected:
  // (Polygons give scenes their bounds.)
  void InstallLibraries() override {
    for (VtQueryFunction m : {&VoEntryLiteShaders, &VoEntryPolygons}) ASSERT_EQ(VoInstallModule(m), 0u);
  }

 public:
  // The fixture's point at P with texture coordinates (s, t), Co = To = 0
  // and alpha = 1.
  static VtShaderGlobals *At(float x, float y, float z, float s = 0, float t = 0) {
    const float p[3] = {x, y, z}, n[3] = {0, 0, 1}, eye[3] = {0, 0, -1}, co[3] = {0, 0, 0};
    Point(p, n, eye, co);
    VtShaderGlobals *g = VoShaderGetGlobals();
    g->dPds = g->dPdsStorage;
    g->dPdt = g->dPdtStorage;
    for (int i = 0; i < 3; ++i) g->dPds[i] = i == 0, g->dPdt[i] = i == 1, g->To[i] = 0;
    g->alpha = 1;
    g->s = s;
    g->t = t;
    return g;
  }
  // Runs the class's entry of the slot (2 or 3) on the shader's data.
  static void Run(VtShader *s, uint32_t slot = VO_SLOT_EVALUATE) {
    VtTypedValue e{};
    ASSERT_EQ(VoShaderGetEntry(s, slot, &e), 0u);
    ASSERT_NE(e.value.fn, nullptr);
    (void)reinterpret_cast<VtShaderDataProc>(e.value.fn)(VoShaderGetData(s));
  }
  // Reset, then the slot's entry at (x, y, z, s, t): the globals after it.
  static VtShaderGlobals *Shade(VtShader *sh, float x, float y, float z, float s = 0, float t = 0,
                                uint32_t slot = VO_SLOT_EVALUATE) {
    VtShaderGlobals *g = At(x, y, z, s, t);
    EXPECT_EQ(VoShaderReset(sh), 0u);
    Run(sh, slot);
    return g;
  }
  // Lets the kernel take shaders for colours: the classic library answers
  // its compatibility query.
  static void ShaderColoursOn() { ASSERT_EQ(VoInstallModule(&VoEntryClassicShaders), 0u); }
  // The background or foreground after the entry of the slot at the pixel
  // (xi, yi), the distance modI and Co (each channel) before.
  static VtShaderGlobals *Pixel(VtShader *sh, float xi, float yi, float modI = 1, float co = 0,
                                uint32_t slot = VO_SLOT_EVALUATE) {
    VtShaderGlobals *g = At(0, 0, 0);
    g->xi = xi;
    g->yi = yi;
    g->modI = modI;
    g->Co[0] = g->Co[1] = g->Co[2] = co;
    EXPECT_EQ(VoShaderReset(sh), 0u);
    Run(sh, slot);
    return g;
  }
  static VtTypedValue ShaderValue(VtShader *s) {
    VtTypedValue v{};
    v.type = VtShaderColour;
    v.value.p = s;
    return v;
  }
};

inline void Expect3(const float *got, float x, float y, float z, float tolerance = 1e-5f) {
  EXPECT_NEAR(got[0], x, tolerance);
  EXPECT_NEAR(got[1], y, tolerance);
  EXPECT_NEAR(got[2], z, tolerance);
}

}  // namespace vo::test

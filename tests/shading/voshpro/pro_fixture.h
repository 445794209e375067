// The pro library beside the super-lite and lite ones on a started shader
// kernel, luminaire files written to a temporary directory, and the
// goniometric light's entries run one by one.
#pragma once

#include <cstdio>
#include <string>

#include "shading/vophoto/photometry.h"
#include "shading/voshlite/lite_fixture.h"
#include "shading/voshpro/voshpro.h"
// (after the fixture: the rows read the kernel's declarations)
#include "support/class_rows.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

using namespace vo::pro;

// A type C IES file of one or more planes with lumens per lamp and lamps.
inline std::string TypeC(const char *vertical, const char *horizontal, const char *values, int lamps = 1,
                         double lumens = -1, int nv = 3, int nh = 1) {
  return "IESNA91\nTILT=NONE\n" + std::to_string(lamps) + " " + std::to_string(lumens) + " 1 " +
         std::to_string(nv) + " " + std::to_string(nh) + " 1 2 0 0 0\n1 1 0\n" + vertical + "\n" +
         horizontal + "\n" + values + "\n";
}
// Planes 0 and 90 at 0, 90, 180 degrees: 100 and 100, 50 at 90; 250 pi lm.
inline std::string Quadrant() { return TypeC("0 90 180", "0 90", "100 100 0 100 50 0", 1, -1, 3, 2); }
// One plane of 100 cd everywhere, 1000 lm as written.
inline std::string Uniform1000() { return TypeC("0 90 180", "0", "100 100 100", 1, 1000); }

class ProTest : public LiteTest {
 protected:
  void InstallLibraries() override {
    for (VtQueryFunction m : {&VoEntryLiteShaders, &VoEntryPolygons, &VoEntryProShaders})
      ASSERT_EQ(VoInstallModule(m), 0u);
  }

  // Writes the text as a file of the temporary directory: its path.
  std::string Write(const std::string &name, const std::string &text) {
    const std::string path = dir_.File(name);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
    return path;
  }

  // A goniometric light on the file, from (0, 0, 2) at the origin.
  VtShader *Gonio(const std::string &path) {
    VtShader *s = Make(L, "goniometric");
    if (s == nullptr) return nullptr;
    SetString(s, "file name", path.c_str());
    SetPoint(s, "from", 0, 0, 2);
    SetPoint(s, "to", 0, 0, 0);
    return s;
  }
  static void SetString(VtShader *s, const char *label, const char *text) {
    VtTypedValue v{};
    v.type = VtString;
    v.value.s = text;
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static void SetFloat(VtShader *s, const char *label, float f) {
    const VtTypedValue v = TypedFloat(f);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static void SetPoint(VtShader *s, const char *label, float x, float y, float z) {
    const VtTypedValue v = Triple(VtPoint, x, y, z);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static VtTypedValue Get(VtShader *s, const char *label) {
    VtTypedValue v{};
    EXPECT_EQ(VoShaderGetArg(s, label, &v), 0u) << label;
    return v;
  }
  // The prepare entry's status, the instance then marked prepared.
  static VtStatus Prepare(VtShader *s) {
    VtTypedValue e{};
    EXPECT_EQ(VoShaderGetEntry(s, VO_SLOT_PREPARE, &e), 0u);
    *static_cast<uint32_t *>(VoShaderGetData(s)) = 1;
    return reinterpret_cast<VtShaderDataProc>(e.value.fn)(VoShaderGetData(s));
  }
  // Slot 3 at Pw = (x, y, z): the globals after it.
  static VtShaderGlobals *LightAt(VtShader *s, float x, float y, float z) {
    VtShaderGlobals *g = At(x, y, z);
    Run(s, VO_SLOT_EVALUATE_IMAGE);
    return g;
  }

  vo_test::TempDir dir_;
};

}  // namespace vo::test

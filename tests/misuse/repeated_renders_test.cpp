// A render draws what its scene holds, whatever was drawn before it: for
// every light class casting depth-map shadows (light_rows.h) and every
// renderer class that reads maps, a fresh session's picture, and the first
// and second pictures of another session, are byte-identical, on 0 and 4
// workers alike. Nothing a shader reads may be left by another pixel, band,
// render or thread: a shadow lookup's jitter cursor carried from one pixel
// to the next, and from one render to the next, made repeated z-buffer and
// A-buffer renders differ.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "misuse/light_rows.h"
#include "misuse/stage.h"

namespace misuse {
namespace {

// The pictures of one session: `count` renders of the row's light, the
// last one with the reflectance given set by prototype before it.
std::string Session(const LightRow &row, uint32_t code, int32_t workers, int count,
                    std::vector<std::vector<float>> *pictures, const char *last_reflectance = nullptr) {
  if (VoInitialise() != 0) return "the library did not start; ";
  std::string fault;
  {
    const Stage stage(FloorAndCaster());
    VtShader *light = ShadowLightListed(stage, row, 32);
    VtTypedValue quality{};
    quality.type = VtInt32;
    quality.value.i = 4;  // 4 x 4 jittered samples a lookup
    if (!stage.ok() || light == nullptr || VoShaderSetArg(light, "shadow quality", &quality) != 0)
      fault = "the scene was not made; ";
    for (int i = 0; i < count && fault.empty(); ++i) {
      if (last_reflectance != nullptr && i == count - 1 &&
          VoMaterialSetShaderByPrototype(stage.material(), VO_SHADER_REFLECTANCE, last_reflectance) != 0)
        fault += "the reflectance was not set; ";
      pictures->emplace_back();
      if (stage.Render(code, workers, &pictures->back()) != 0) fault += "a render failed; ";
    }
  }
  if (VoTerminate() != 0) fault += "VoTerminate failed; ";
  return fault;
}

TEST(RepeatedRenders, DrawTheSamePictureAsAFreshSessionOnAnyWorkerCount) {
  for (const LightRow &row : ShadowLightRows())
    for (uint32_t code : {0x200001u, 0x200002u, 0xc0001u, 0x70001u}) {
      std::vector<std::vector<float>> pictures;
      for (int32_t workers : {0, 4}) {
        SCOPED_TRACE(::testing::Message() << row.title << " light, render 0x" << std::hex << code << std::dec
                                          << " on " << workers << " workers");
        EXPECT_EQ(Session(row, code, workers, 1, &pictures), "");
        EXPECT_EQ(Session(row, code, workers, 2, &pictures), "");
      }
      ASSERT_EQ(pictures.size(), 6u);
      for (size_t i = 1; i < pictures.size(); ++i)
        EXPECT_EQ(pictures[i], pictures[0])
            << row.title << " light, render 0x" << std::hex << code << std::dec << ": picture " << i
            << " (fresh, first and second of a session, on 0 then 4 workers) differs from a fresh session's";
      // A reflectance that records the listed lights as it is prepared, set
      // once a first render made their maps, draws as one set before.
      std::vector<std::vector<float>> technical;
      std::string fault = Session(row, code, 0, 1, &technical, "technical");
      EXPECT_EQ(fault + Session(row, code, 0, 2, &technical, "technical"), "");
      EXPECT_TRUE(technical.size() == 3 && technical[2] == technical[0])
          << row.title << ", a technical reflectance";
    }
}

}  // namespace
}  // namespace misuse

// Float rows into a screen buffer standing in front of the image driver, on
// real worker threads: a threaded pass announces changed callbacks while
// the frame is open, and the buffer's replacements must not lose the
// frame's region, or every float row the driver is handed is refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <vo/vo_postprocess.h>

#include "long_session/image_target.h"
#include "misuse/stage.h"

namespace misuse {
namespace {

class ScreenBufferThreads : public Started {};

TEST_F(ScreenBufferThreads, EveryRenderInFloatPixelsFillsTheBufferAndTheDriverAlikeOnAnyWorkerCount) {
  const Stage stage(Mesh{{-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}, {4}, {0, 1, 2, 3}}, true);
  VtImage *image = vo::test::ImageTargetMake(Stage::kWidth, Stage::kHeight);
  ASSERT_TRUE(stage.ok() && image != nullptr);
  VtTypedValue v{};
  v.type = VtEnum;
  v.value.u = 0x200001;  // what the post-process renders draw with
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v), 0u);
  v.value.u = 0xc0002;  // float pixels, unclamped
  ASSERT_EQ(VoControlSet(0xc000f, &v), 0u);
  const size_t bytes = static_cast<size_t>(image->bytes_per_row) * image->height;
  // Standard (flat, smooth, textured), advanced (z-, A-buffer), full pass
  // and post-process renders.
  for (uint32_t code :
       {0xc0001u, 0xc0002u, 0xc0003u, 0x200001u, 0x200002u, 0x70001u, 0x70002u, 0x600004u, 0x600005u}) {
    std::vector<float> colours[2];
    std::vector<uint8_t> rows[2];
    for (int run = 0; run < 2; ++run) {
      std::fill_n(image->data, bytes, uint8_t{0});
      EXPECT_EQ(stage.Render(code, run == 0 ? 0 : 3, &colours[run]), 0u)
          << std::hex << code << " run " << run;
      rows[run].assign(image->data, image->data + bytes);
    }
    EXPECT_TRUE(std::any_of(colours[0].begin(), colours[0].end(), [](float c) { return c > 0; }))
        << std::hex << code;
    EXPECT_EQ(colours[1], colours[0]) << std::hex << code;
    EXPECT_EQ(rows[1], rows[0]) << std::hex << code;
  }
  (void)VoDriverSet(nullptr);
  VoImageDestroy(image);
}

}  // namespace
}  // namespace misuse

// NPR backgrounds: placement of tiled, centred and scaled modes, the
// resampling weights, grey 8-bit pixels, refused sizes, modes and images,
// a destroyed image, stale handles and running out of memory.

#include "npr_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

class BackgroundTest : public NprTest {
 protected:
  void TearDown() override {
    for (VtImage *i : images_) (void)VoImageDestroy(i);
    NprTest::TearDown();
  }
  // An image whose pixel (x, y) has bytes (f(x, y), f + 1, f + 2) or, at 8
  // bits, f(x, y).
  VtImage *Image(int32_t w, int32_t h, int32_t bits, uint8_t (*f)(int32_t, int32_t)) {
    VtImage *i = VoImageCreate();
    EXPECT_NE(i, nullptr);
    i->width = w, i->height = h, i->bits = bits;
    EXPECT_EQ(VoImageAllocateData(i), 0u);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        uint8_t *p = i->data + y * i->bytes_per_row + x * (bits / 8);
        for (int32_t k = 0; k < bits / 8; ++k) p[k] = static_cast<uint8_t>(f(x, y) + k);
      }
    images_.push_back(i);
    return i;
  }
  static std::array<float, 3> Sample(VtNPRBackground *b, int32_t x, int32_t y, int32_t *answer = nullptr) {
    VtColour c{-1, -1, -1};
    const int32_t a = VoNPRBackgroundSample(b, x, y, &c);
    if (answer != nullptr) *answer = a;
    return {c.red, c.green, c.blue};
  }
  static constexpr VtColour kFill{0.25f, 0.5f, 0.75f};
  static constexpr std::array<float, 3> kFillRgb{0.25f, 0.5f, 0.75f};
  std::vector<VtImage *> images_;
};

uint8_t Column(int32_t x, int32_t) { return static_cast<uint8_t>(10 * x); }
uint8_t Grey(int32_t, int32_t) { return 200; }
uint8_t Ramp(int32_t x, int32_t y) { return static_cast<uint8_t>(3 * x + 7 * y); }

TEST_F(BackgroundTest, TiledAndCentredModesPlaceTheImageAndAnswerTheFillOutside) {
  VtImage *img = Image(4, 2, 24, &Column);
  VtNPRBackground *tiled = VoNPRBackgroundCreate(img, 10, 10, 0x8000, &kFill);
  ASSERT_NE(tiled, nullptr);
  int32_t a = 0;
  EXPECT_FLOAT_EQ(Sample(tiled, -1, 0, &a)[0], 30 / 255.0f);  // column 3
  EXPECT_EQ(a, 1);
  EXPECT_FLOAT_EQ(Sample(tiled, 9, -3)[0], 10 / 255.0f);
  EXPECT_FLOAT_EQ(Sample(tiled, 9, -3)[2], 12 / 255.0f);

  VtNPRBackground *once = VoNPRBackgroundCreate(img, 10, 10, 2, &kFill);  // at (3, 4)
  ASSERT_NE(once, nullptr);
  EXPECT_FLOAT_EQ(Sample(once, 3, 4, &a)[0], 0.0f);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(Sample(once, 2, 4, &a), kFillRgb);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(Sample(once, 7, 5, &a), kFillRgb);
  EXPECT_EQ(a, 0);
  EXPECT_FLOAT_EQ(Sample(once, 6, 5, &a)[0], 30 / 255.0f);
  // Tiled and centred: offsets (3, 4), so (3, 4) reads column 0 and (2, 4) column 3.
  VtNPRBackground *both = VoNPRBackgroundCreate(img, 10, 10, 0x8001, &kFill);
  EXPECT_FLOAT_EQ(Sample(both, 2, 4)[0], 30 / 255.0f);
  for (VtNPRBackground *b : {tiled, once, both}) EXPECT_EQ(VoNPRBackgroundDestroy(b), 0u);
}

TEST_F(BackgroundTest, ScaledModesKeepTheAspectAndCentre) {
  VtImage *img = Image(200, 100, 24, &Ramp);
  VtNPRBackground *fit = VoNPRBackgroundCreate(img, 400, 400, 0x4004, &kFill);
  VtNPRBackground *centred = VoNPRBackgroundCreate(img, 400, 400, 0x6006, &kFill);
  VtNPRBackground *tall = VoNPRBackgroundCreate(img, 400, 400, 0x6007, &kFill);
  ASSERT_NE(fit, nullptr);
  ASSERT_NE(centred, nullptr);
  ASSERT_NE(tall, nullptr);
  EXPECT_EQ(fit->width, 400);
  EXPECT_EQ(fit->height, 200);
  EXPECT_EQ(fit->x_offset, 0);
  EXPECT_EQ(fit->y_offset, 0);
  EXPECT_EQ(centred->x_offset, 0);
  EXPECT_EQ(centred->y_offset, 100);
  EXPECT_EQ(tall->width, 800);
  EXPECT_EQ(tall->x_offset, -200);
  int32_t a = 0;
  EXPECT_EQ(Sample(centred, 0, 99, &a), kFillRgb);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(Sample(centred, 0, 100, &a), Sample(fit, 0, 0));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(Sample(fit, 0, 200, &a), kFillRgb);
  EXPECT_EQ(a, 0);
  for (VtNPRBackground *b : {fit, centred, tall}) EXPECT_EQ(VoNPRBackgroundDestroy(b), 0u);
}

TEST_F(BackgroundTest, ShrinkingAveragesTheFootprintAndEnlargingMixesStraddlingPixels) {
  const float a = 30, b = 90, c = 150;
  VtImage *row = Image(3, 1, 24, [](int32_t x, int32_t) { return static_cast<uint8_t>(30 + 60 * x); });
  VtNPRBackground *shrunk = VoNPRBackgroundCreate(row, 2, 1, 0x4003, &kFill);
  ASSERT_NE(shrunk, nullptr);
  EXPECT_NEAR(Sample(shrunk, 0, 0)[0] * 255, (a + b / 2) / 1.5, 1e-3);
  EXPECT_NEAR(Sample(shrunk, 1, 0)[0] * 255, (b / 2 + c) / 1.5, 1e-3);
  VtImage *pair = Image(2, 1, 24, [](int32_t x, int32_t) { return static_cast<uint8_t>(30 + 60 * x); });
  VtNPRBackground *grown = VoNPRBackgroundCreate(pair, 3, 3, 0x4003, &kFill);
  ASSERT_NE(grown, nullptr);
  for (int32_t y = 0; y < 3; ++y) {  // one row stretched to three: every row the same
    EXPECT_NEAR(Sample(grown, 0, y)[0] * 255, a, 1e-3);
    EXPECT_NEAR(Sample(grown, 1, y)[0] * 255, (a + b) / 2, 1e-3);
    EXPECT_NEAR(Sample(grown, 2, y)[0] * 255, b, 1e-3);
  }
  // A wide thin image fitted to a small width keeps one row.
  VtNPRBackground *thin = VoNPRBackgroundCreate(Image(1000, 1, 24, &Column), 10, 10, 0x4004, &kFill);
  ASSERT_NE(thin, nullptr);
  EXPECT_EQ(thin->height, 1);
  for (VtNPRBackground *bg : {shrunk, grown, thin}) EXPECT_EQ(VoNPRBackgroundDestroy(bg), 0u);
}

TEST_F(BackgroundTest, AnEightBitImageIsGreyInEveryMode) {
  VtImage *img = Image(4, 4, 8, &Grey);
  for (uint32_t mode : {0x8000u, 0x8001u, 2u, 0x4003u, 0x4004u, 0x4005u, 0x6006u, 0x6007u}) {
    VtNPRBackground *b = VoNPRBackgroundCreate(img, 8, 8, mode, &kFill);
    ASSERT_NE(b, nullptr) << std::hex << mode;
    const auto c = Sample(b, 4, 4);
    EXPECT_NEAR(c[0], 200 / 255.0f, 1e-6) << std::hex << mode;
    EXPECT_EQ(c[0], c[1]) << std::hex << mode;
    EXPECT_EQ(c[0], c[2]) << std::hex << mode;
    EXPECT_EQ(VoNPRBackgroundDestroy(b), 0u);
  }
}

TEST_F(BackgroundTest, BadSizesModesAndImagesGiveNullWithNothingAllocated) {
  VtImage *img = Image(4, 4, 24, &Column);
  g_posted.clear();
  for (uint32_t mode : {1u, 0x4006u, 0x2000u, 0x8002u})
    EXPECT_EQ(VoNPRBackgroundCreate(img, 8, 8, mode, &kFill), nullptr);
  EXPECT_EQ(VoNPRBackgroundCreate(img, 0, 8, 0x8000, &kFill), nullptr);
  EXPECT_EQ(VoNPRBackgroundCreate(img, 8, -1, 0x4003, &kFill), nullptr);
  EXPECT_EQ(VoNPRBackgroundCreate(nullptr, 8, 8, 0x8000, &kFill), nullptr);
  VtImage *dead = VoImageCreate();
  ASSERT_EQ(VoImageDestroy(dead), 0u);
  EXPECT_EQ(VoNPRBackgroundCreate(dead, 8, 8, 0x8000, &kFill), nullptr);
  VtImage *empty = VoImageCreate();  // no pixels
  EXPECT_EQ(VoNPRBackgroundCreate(empty, 8, 8, 0x4003, &kFill), nullptr);
  (void)VoImageDestroy(empty);
  EXPECT_EQ(CountPosted(messages::kNprBackgroundNotMade), 9);
  auto *huge = reinterpret_cast<VtNPRBackground *>(img);  // overwritten below
  EXPECT_EQ(AllocationsOf([&] { huge = VoNPRBackgroundCreate(img, 65536, 65536, 0x4003, &kFill); }), 0u);
  EXPECT_EQ(huge, nullptr);
  EXPECT_TRUE(c_->registers->backgrounds.empty());
}

TEST_F(BackgroundTest, ADestroyedImageGivesTheFillColourAndAStaleHandleIsRefused) {
  VtImage *img = Image(4, 4, 24, &Column);
  VtNPRBackground *tiled = VoNPRBackgroundCreate(img, 8, 8, 0x8000, &kFill);
  VtNPRBackground *scaled = VoNPRBackgroundCreate(img, 8, 8, 0x4003, &kFill);
  ASSERT_NE(tiled, nullptr);
  ASSERT_NE(scaled, nullptr);
  images_.clear();
  ASSERT_EQ(VoImageDestroy(img), 0u);
  g_posted.clear();
  int32_t a = 1;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Sample(tiled, 1, 1, &a), kFillRgb);
    EXPECT_EQ(a, 0);
  }
  EXPECT_EQ(CountPosted(messages::kNprBackgroundImageGone), 1);
  Sample(scaled, 1, 1, &a);  // the scaled copy is its own
  EXPECT_EQ(a, 1);

  EXPECT_EQ(VoNPRBackgroundDestroy(tiled), 0u);
  g_posted.clear();
  EXPECT_EQ(VoNPRBackgroundDestroy(tiled), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(Sample(tiled, 1, 1, &a), (std::array<float, 3>{-1, -1, -1}));  // colour untouched
  EXPECT_EQ(a, 0);
  EXPECT_EQ(VoNPRBackgroundDestroy(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(messages::kNprBackgroundRefused), 3);
  (void)scaled;  // left for terminate to free
}

TEST_F(BackgroundTest, EveryAllocationFailingOverAScaledCreationLeavesNothing) {
  VtImage *img = Image(30, 20, 24, &Ramp);
  EveryAllocationFails(
      [&]() -> VtStatus {
        VtNPRBackground *b = VoNPRBackgroundCreate(img, 17, 40, 0x6006, &kFill);
        if (b == nullptr) return VO_STATUS_NO_MEMORY;
        return VoNPRBackgroundDestroy(b);
      },
      [&] { EXPECT_TRUE(c_->registers->backgrounds.empty()); });
}

}  // namespace
}  // namespace vo::test

// The image driver: frames, rows, clears, points, lines, shapes, the colour
// map, its controls and stack, and the readers' way in.

#include <climits>
#include <cmath>
#include <set>

#include "driver_fixture.h"
#include "output/vodriver/image_shapes.h"
#include "output/vodriver/image_writer.h"
#include "output/vodriver/images.h"

namespace vo::test {
namespace {

using driver::CallPushed;
using driver::kNoStack;

class ImageDriverTest : public DriverTest {
 protected:
  VtDriverRecord *Img() { return State()->image_driver; }

  VtStatus Colour(uint8_t r, uint8_t g, uint8_t b) {
    const uint8_t rgb[3] = {r, g, b};
    return CallPushed<0x1a000a>(State(), Img(), kNoStack, static_cast<const uint8_t *>(rgb));
  }
  VtStatus Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const VtRasterPoint a{x0, y0}, b{x1, y1};
    return CallPushed<0x1a001c>(State(), Img(), kNoStack, &a, &b);
  }
  VtStatus Shape(uint32_t type, std::vector<const void *> points) {
    VtDrawRecord rec{points.data(), nullptr, nullptr, nullptr};
    return VoDriverDraw(Img(), type, static_cast<uint32_t>(points.size()), &rec);
  }
  // The lit pixels (first byte non-zero) of a 24-bit image, as "x,y".
  static std::set<std::pair<int, int>> Lit(const VtImage *im) {
    std::set<std::pair<int, int>> lit;
    for (int y = 0; y < im->height; ++y)
      for (int x = 0; x < im->width; ++x)
        if (im->data[y * im->bytes_per_row + x * (im->bits / 8)] != 0) lit.insert({x, y});
    return lit;
  }
  void TearDown() override {
    while (driver::State() != nullptr && State()->image_driver_state.stack_head != nullptr)
      (void)VoDriverClose(Img());
    DriverTest::TearDown();
  }
};

TEST_F(ImageDriverTest, FramesAreClippedToTheImageAndFramesOutsideOrInvertedAreRefused) {
  VtImage *im = ImageOf(64, 48);
  // No record: 2; a record without an image: 588 and 18.
  EXPECT_EQ(VoDriverBeginFrame(Img(), 0, 9, 0, 9), driver::kUnavailable);
  ASSERT_EQ(VoDriverOpen(Img()), 0u);
  EXPECT_EQ(VoDriverBeginFrame(Img(), 0, 9, 0, 9), driver::kUnknown);
  EXPECT_EQ(CountPosted(messages::kImageDriverNoImage), 1);
  ASSERT_EQ(VoDriverClose(Img()), 0u);
  OpenImageDriver(im);
  EXPECT_EQ(VoDriverBeginFrame(Img(), 0, 99, 0, 99), 0u);
  EXPECT_EQ(CountPosted(messages::kImageFrameClipped), 1);
  EXPECT_EQ(im->x0 * 1000000 + im->x1 * 10000 + im->y0 * 100 + im->y1, 63 * 10000 + 47);
  // Wholly right, left, above or below: 589 and 18, the region as it was.
  EXPECT_EQ(VoDriverBeginFrame(Img(), 64, 80, 0, 10), driver::kUnknown);
  EXPECT_EQ(VoDriverBeginFrame(Img(), -30, -1, 0, 10), driver::kUnknown);
  EXPECT_EQ(VoDriverBeginFrame(Img(), 0, 10, -9, -2), driver::kUnknown);
  EXPECT_EQ(VoDriverBeginFrame(Img(), 0, 10, 48, 50), driver::kUnknown);
  EXPECT_EQ(CountPosted(messages::kImageFrameOutside), 4);
  EXPECT_EQ(VoDriverBeginFrame(Img(), 10, 5, 0, 1), driver::kUnknown);
  EXPECT_EQ(CountPosted(messages::kImageFrameInverted), 1);
  EXPECT_EQ(im->x1 * 100 + im->y1, 63 * 100 + 47);
}

TEST_F(ImageDriverTest, RowsLandAtTheirImageRowAndSkipColumnsLeftOfTheImage) {
  VtImage *im = ImageOf(4, 3);
  OpenImageDriver(im);
  // Frame (-2, 3, 0, 2): columns -2 and -1 are clipped (590); a row's six
  // pixels put pixels 2..5 into columns 0..3.
  ASSERT_EQ(VoDriverBeginFrame(Img(), -2, 3, 0, 2), 0u);
  uint8_t row[18];
  for (int i = 0; i < 18; ++i) row[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(VoDriverWriteScan(Img(), 1, row), 0u);
  EXPECT_EQ(0, std::memcmp(im->data + im->bytes_per_row, row + 6, 12));
  // Rows beyond the image are ignored, nothing written.
  EXPECT_EQ(VoDriverWriteScan(Img(), 3, row), 0u);
  EXPECT_EQ(VoDriverWriteScan(Img(), UINT32_MAX, row), 0u);
  // With set-at-origin, frame (100, 163, 50, 97) on 64 x 48: row 50 is
  // image row 0; row 49 lies above the origin and is ignored.
  VtImage *big = ImageOf(64, 48);
  VtTypedValue v = TypedPointer(big);
  ASSERT_EQ(VoDriverSetControl(Img(), VO_CONTROL_DRIVER_IMAGE, &v), 0u);
  State()->set_at_origin = 1;
  ASSERT_EQ(VoDriverBeginFrame(Img(), 100, 163, 50, 97), 0u);
  std::vector<uint8_t> wide(64 * 3, 7);
  EXPECT_EQ(VoDriverWriteScan(Img(), 49, wide.data()), 0u);
  EXPECT_EQ(Lit(big).size(), 0u);
  EXPECT_EQ(VoDriverWriteScan(Img(), 50, wide.data()), 0u);
  EXPECT_EQ(Lit(big).size(), 64u);
  EXPECT_EQ(big->data[63 * 3 + 2], 7);
  // Device-value rows need a conversion: 258.
  EXPECT_EQ(VoDriverWriteScanIndex(Img(), 50, wide.data()), driver::kNotHandled);
}

TEST_F(ImageDriverTest, EightBitImagesTakeTheRedByteOfEveryColour) {
  VtImage *im = ImageOf(4, 2, true);
  OpenImageDriver(im);
  ASSERT_EQ(VoDriverBeginFrame(Img(), 0, 3, 0, 1), 0u);
  const uint8_t row[12] = {10, 1, 1, 20, 2, 2, 30, 3, 3, 40, 4, 4};
  EXPECT_EQ(VoDriverWriteScan(Img(), 1, const_cast<uint8_t *>(row)), 0u);
  EXPECT_EQ(im->data[4] * 1000000 + im->data[5] * 10000 + im->data[6] * 100 + im->data[7], 10203040);
  ASSERT_EQ(Colour(99, 5, 5), 0u);
  EXPECT_EQ(Line(0, 0, 3, 0), 0u);
  EXPECT_EQ(im->data[0] + im->data[3], 99 + 99);
  // A 16-bit image, or rows narrower than the image: 2.
  im->bits = 16;
  EXPECT_EQ(VoDriverWriteScan(Img(), 0, const_cast<uint8_t *>(row)), driver::kUnavailable);
  im->bits = 8;
  im->bytes_per_row = 3;
  EXPECT_EQ(VoDriverWriteScan(Img(), 0, const_cast<uint8_t *>(row)), driver::kUnavailable);
  im->bytes_per_row = 4;
}

TEST_F(ImageDriverTest, ClearFillsOnlyTheValidRegion) {
  VtImage *im = ImageOf(4, 3);
  OpenImageDriver(im);
  const uint8_t c[3] = {10, 20, 30};
  ASSERT_EQ(CallPushed<0x1a000b>(State(), Img(), kNoStack, static_cast<const uint8_t *>(c)), 0u);
  State()->clear = 1;
  ASSERT_EQ(VoDriverBeginFrame(Img(), 1, 2, 1, 1), 0u);
  EXPECT_EQ(Lit(im), (std::set<std::pair<int, int>>{{1, 1}, {2, 1}}));
  EXPECT_EQ(im->data[im->bytes_per_row + 3 * 2 + 2], 30);
}

TEST_F(ImageDriverTest, LinesFollowTheMidpointMethodAndStayInTheImage) {
  VtImage *im = ImageOf(48, 6);
  OpenImageDriver(im);
  ASSERT_EQ(VoDriverBeginFrame(Img(), 0, 47, 0, 5), 0u);
  ASSERT_EQ(Colour(255, 255, 255), 0u);
  EXPECT_EQ(Line(0, 0, 5, 2), 0u);
  EXPECT_EQ(Lit(im), (std::set<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}));
  // Ends at +-2^31, clipped (the clipper's own cases are below): the
  // diagonal through the image, no overflow.
  std::memset(im->data, 0, 48 * 6 * 3);
  EXPECT_EQ(Line(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), 0u);
  auto lit = Lit(im);
  EXPECT_TRUE(lit.count({0, 0}) && lit.count({5, 5}));
  // Wholly outside: nothing.
  std::memset(im->data, 0, 48 * 6 * 3);
  EXPECT_EQ(Line(50, 0, 60, 5), 0u);
  EXPECT_TRUE(Lit(im).empty());
}

TEST_F(ImageDriverTest, TheClipperKeepsEndsInsideTheWindow) {
  const driver::ClipWindow w{0, 47, 0, 5};
  struct Case {
    int64_t in[4];
    bool kept;
    int64_t out[4];
  } cases[] = {
      {{-1, 0, 48, 5}, true, {0, 0, 47, 5}},                // x = 0 at t = 1/49: y = 5/49 rounds to 0
      {{10, 2, 20, 3}, true, {10, 2, 20, 3}},               // inside: unchanged
      {{-10, -10, -1, -1}, false, {}},                      // wholly left and above
      {{INT32_MIN, 3, INT32_MAX, 3}, true, {0, 3, 47, 3}},  // a row across at +-2^31
      {{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN}, true, {5, 5, 0, 0}},  // the diagonal, backwards
  };
  for (const Case &c : cases) {
    int64_t e[4] = {c.in[0], c.in[1], c.in[2], c.in[3]};
    ASSERT_EQ(driver::LineClip(w, e), c.kept);
    if (c.kept) {
      EXPECT_EQ(std::vector<int64_t>(e, e + 4), std::vector<int64_t>(c.out, c.out + 4));
    }
  }
}

TEST_F(ImageDriverTest, CirclesEllipsesAndArcsLightThePixelsOfTheirCurve) {
  VtImage *im = ImageOf(256, 256);
  OpenImageDriver(im);
  ASSERT_EQ(VoDriverBeginFrame(Img(), 0, 255, 0, 255), 0u);
  ASSERT_EQ(Colour(255, 0, 0), 0u);
  // r = 3: steps (0,3), (1,3), (2,2) give 4 + 8 + 4 = 16 pixels.
  VtRasterPoint centre{10, 10}, radii{3, 3};
  EXPECT_EQ(Shape(VO_DRAW_SHAPE_CIRCLE | VO_DRAW_POINTS_RASTER, {&centre, &radii}), 0u);
  auto lit = Lit(im);
  EXPECT_EQ(lit.size(), 16u);
  EXPECT_EQ(lit.count({12, 12}), 1u);
  // Radii 3000 x 2000 centred 2872 left of the image: the right end crosses
  // it; each lit pixel lies within one pixel of the curve, distance taken as
  // |g - 1| / |grad g| with g = (dx/rx)^2 + (dy/ry)^2.
  std::memset(im->data, 0, 256 * 256 * 3);
  centre = {-2872, 128};
  radii = {3000, 2000};
  EXPECT_EQ(Shape(VO_DRAW_SHAPE_ELLIPSE | VO_DRAW_POINTS_RASTER, {&centre, &radii}), 0u);
  lit = Lit(im);
  EXPECT_GE(lit.size(), 256u);
  for (auto [x, y] : lit) {
    const double dx = x + 2872.0, dy = y - 128.0, rx2 = 3000.0 * 3000.0, ry2 = 2000.0 * 2000.0;
    const double g = dx * dx / rx2 + dy * dy / ry2, grad = std::hypot(2 * dx / rx2, 2 * dy / ry2);
    EXPECT_LE(std::fabs(g - 1) / grad, 1.0) << x << "," << y;
  }
  // Radii above 65535: 18.
  radii = {70000, 5};
  EXPECT_EQ(Shape(VO_DRAW_SHAPE_ELLIPSE | VO_DRAW_POINTS_RASTER, {&centre, &radii}), driver::kUnknown);
  // An arc from 0 to 90 degrees runs from +x towards +y (down): only pixels
  // right of and below the centre.
  std::memset(im->data, 0, 256 * 256 * 3);
  centre = {100, 100};
  radii = {40, 20};
  const float angles[2] = {0.0f, 90.0f};
  EXPECT_EQ(Shape(VO_DRAW_SHAPE_ARC | VO_DRAW_POINTS_RASTER, {&centre, &radii, angles}), 0u);
  lit = Lit(im);
  EXPECT_TRUE(lit.count({140, 100}) && lit.count({100, 120}));
  for (auto [x, y] : lit) EXPECT_TRUE(x >= 100 && y >= 100) << x << "," << y;
  // A quarter arc of the hidden-line layout from angle 0 to pi/2, centre at
  // (0.15, 0.2) and radius 0.1 in projection coordinates: its start lies
  // right of the centre, its end below (projection y grows down the image),
  // so only pixels right of and below the centre light; the raster radius is
  // the pixel distance from the centre to the start.
  std::memset(im->data, 0, 256 * 256 * 3);
  const float block[12] = {0.15f, 0.2f, 0.5f, 1, 0.25f, 0.2f, 0.5f, 1, 0.15f, 0.3f, 0.5f, 1};
  float r = 0.1f;
  float arc[13];
  std::memcpy(arc, block, sizeof block);
  arc[12] = r;
  const void *blocks[1] = {arc};
  VtDrawRecord hidden{nullptr, const_cast<void **>(blocks), nullptr, nullptr};
  EXPECT_EQ(VoDriverDraw(Img(), VO_DRAW_SHAPE_ARC | VO_DRAW_POINTS_PROJECTED, 1, &hidden), 0u);
  int32_t c[2] = {0, 0}, s0[2] = {0, 0}, e0[2] = {0, 0};
  ASSERT_EQ(VoViewProjectedToPixel(block, c), 0u);
  ASSERT_EQ(VoViewProjectedToPixel(block + 4, s0), 0u);
  ASSERT_EQ(VoViewProjectedToPixel(block + 8, e0), 0u);
  ASSERT_GT(s0[0], c[0]);
  ASSERT_GT(e0[1], c[1]);
  lit = Lit(im);
  EXPECT_TRUE(lit.count({s0[0], s0[1]}) && lit.count({c[0], c[1] + s0[0] - c[0]}));
  for (auto [x, y] : lit) EXPECT_TRUE(x >= c[0] && y >= c[1]) << x << "," << y;
  // Three-coordinate points: 258.
  EXPECT_EQ(Shape(VO_DRAW_SHAPE_CIRCLE | VO_DRAW_POINTS_3D, {&centre, &radii}), driver::kNotHandled);
}

TEST_F(ImageDriverTest, ConvexFillsTakeEitherWindingAndRefuseMixedTurnsOrOneRow) {
  VtImage *im = ImageOf(8, 8);
  OpenImageDriver(im);
  ASSERT_EQ(VoDriverBeginFrame(Img(), 0, 7, 0, 7), 0u);
  ASSERT_EQ(Colour(9, 9, 9), 0u);
  VtRasterPoint a{1, 1}, b{4, 1}, c{4, 3}, d{1, 3};
  EXPECT_EQ(Shape(VO_DRAW_SHAPE_POLYGON | VO_DRAW_POINTS_RASTER, {&a, &b, &c, &d}), 0u);
  const auto forward = Lit(im);
  EXPECT_EQ(forward.size(), 12u);  // 4 columns x 3 rows
  std::memset(im->data, 0, 8 * 8 * 3);
  EXPECT_EQ(Shape(VO_DRAW_SHAPE_CONVEX | VO_DRAW_POINTS_RASTER, {&d, &c, &b, &a}), 0u);
  EXPECT_EQ(Lit(im), forward);
  // A bow tie turns both ways; four points on row 1: 2.
  std::memset(im->data, 0, 8 * 8 * 3);
  EXPECT_EQ(Shape(VO_DRAW_SHAPE_POLYGON | VO_DRAW_POINTS_RASTER, {&a, &c, &b, &d}), driver::kUnavailable);
  VtRasterPoint e{6, 1};
  EXPECT_EQ(Shape(VO_DRAW_SHAPE_POLYGON | VO_DRAW_POINTS_RASTER, {&a, &b, &e}), driver::kUnavailable);
  EXPECT_TRUE(Lit(im).empty());
}

TEST_F(ImageDriverTest, TheColourMapHandsOutOneArrayAndOneImage) {
  VtImage *im = ImageOf(5, 4);
  OpenImageDriver(im);
  auto entries = [&](uint32_t n, uint32_t **out) {
    return CallPushed<0x1a002d>(State(), Img(), kNoStack, out, n);
  };
  auto image = [&](VtImage **out) { return CallPushed<0x1a002e>(State(), Img(), kNoStack, out); };
  uint32_t *e = nullptr;
  EXPECT_EQ(entries(16, &e), driver::kRefused);  // not begun: 256
  ASSERT_EQ(CallPushed<0x1a002b>(State(), Img(), kNoStack, uintptr_t{0}), 0u);
  EXPECT_EQ(entries(257, &e), driver::kUnknown);
  ASSERT_EQ(entries(16, &e), 0u);
  EXPECT_EQ(e[0] + e[15], 15u);
  uint32_t *again = nullptr;
  ASSERT_EQ(entries(4, &again), 0u);
  EXPECT_EQ(again, e);  // the same array, not a second allocation
  VtImage *mapped = nullptr, *second = nullptr;
  ASSERT_EQ(image(&mapped), 0u);
  ASSERT_EQ(image(&second), 0u);
  EXPECT_EQ(mapped, second);
  EXPECT_EQ(mapped->bits * 100 + mapped->width * 10 + mapped->height, 854);
  EXPECT_EQ(VoDriverBeginFrame(Img(), 0, 4, 0, 3), 0u);
  EXPECT_EQ(CallPushed<0x1a0007>(State(), Img(), kNoStack), driver::kNotHandled);  // no clear while begun
  ASSERT_EQ(CallPushed<0x1a002c>(State(), Img(), kNoStack, uintptr_t{0}), 0u);
  EXPECT_FALSE(driver::ImageIsLive(mapped));
}

TEST_F(ImageDriverTest, ADestroyedImageIsForgottenByEveryRecord) {
  VtImage *im = ImageOf(4, 4);
  OpenImageDriver(im);
  ASSERT_EQ(VoDriverOpen(Img()), 0u);  // a nested record on the same image
  VtTypedValue v = TypedPointer(im);
  ASSERT_EQ(VoDriverSetControl(Img(), VO_CONTROL_DRIVER_IMAGE, &v), 0u);
  ASSERT_EQ(VoImageDestroy(im), 0u);
  uint8_t row[12] = {};
  EXPECT_EQ(VoDriverWriteScan(Img(), 0, row), driver::kUnavailable);
  ASSERT_EQ(VoDriverClose(Img()), 0u);
  EXPECT_EQ(VoDriverWriteScan(Img(), 0, row), driver::kUnavailable);
  VtTypedValue got{};
  ASSERT_EQ(VoDriverGetControl(Img(), VO_CONTROL_DRIVER_IMAGE, &got), 0u);
  EXPECT_EQ(got.value.p, nullptr);  // a foreign address: the framework's image control test
}

TEST_F(ImageDriverTest, ANestedRecordIsIndependentAndCloseRestoresTheOuterOne) {
  VtImage *outer = ImageOf(4, 1), *inner = ImageOf(2, 1);
  OpenImageDriver(outer);
  ASSERT_EQ(VoDriverBeginFrame(Img(), 0, 3, 0, 0), 0u);
  Img()->clip[0] = 11;
  {
    driver::ImageWriter w{};
    ASSERT_EQ(driver::ImageWriterBegin(&w, inner, false), 0u);
    const uint8_t row[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(driver::ImageWriterRow(&w, 0, row), 0u);
    Img()->clip[0] = 22;
    EXPECT_EQ(driver::ImageWriterEnd(&w), 0u);
    EXPECT_EQ(inner->data[5], 6);
  }
  EXPECT_EQ(Img()->clip[0], 11);
  const uint8_t row[12] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(VoDriverWriteScan(Img(), 0, const_cast<uint8_t *>(row)), 0u);
  EXPECT_EQ(outer->data[11], 9);
  // The writer refuses an image without pixel data, opening nothing.
  VtImage *empty = VoImageCreate();
  driver::ImageWriter w{};
  EXPECT_EQ(driver::ImageWriterBegin(&w, empty, true), driver::kUnknown);
  EXPECT_EQ(driver::ImageWriterEnd(&w), 0u);
}

TEST_F(ImageDriverTest, ControlsAnswerTheirTableAndHeldValuesAreReadOnly) {
  VtImage *im = ImageOf(6, 5);
  OpenImageDriver(im);
  auto get = [&](uint32_t code, VtTypedValue *v) { return VoDriverGetControl(Img(), code, v); };
  // Gamma 1.0 (the float's bits 0x3f800000), conversion 6, 256 levels,
  // red multiplier 65536, the image's width 6.
  const std::pair<uint32_t, uint32_t> answers[] = {{VO_CONTROL_DRIVER_GAMMA, 0x3f800000u},
                                                   {VO_CONTROL_DRIVER_CONVERSION, 6},
                                                   {VO_CONTROL_DRIVER_RGB_SIZE, 256},
                                                   {VO_CONTROL_DRIVER_RGB_R_MULT, 65536},
                                                   {VO_CONTROL_DRIVER_WIDTH, 6}};
  VtTypedValue v{};
  for (auto [code, word] : answers) {
    ASSERT_EQ(get(code, &v), 0u) << code;
    EXPECT_EQ(v.value.u, word) << code;
  }
  EXPECT_EQ(get(VO_CONTROL_DRIVER_RGB_R_MASK, &v), driver::kNotHandled);  // no conversion held
  ASSERT_EQ(get(VO_CONTROL_DRIVER_CAPABILITY, &v), 0u);
  EXPECT_EQ(v.type * 10 + v.value.u, 392u);
  EXPECT_EQ(VoDriverSetControl(Img(), VO_CONTROL_DRIVER_GAMMA, &v), driver::kNotHandled);
  EXPECT_EQ(VoDriverSetControl(Img(), VO_CONTROL_DRIVER_NAME, &v), driver::kUnknown);
  v = TypedNat32(6);
  EXPECT_EQ(VoDriverSetControl(Img(), VO_CONTROL_DRIVER_WIDTH, &v), 0u);
  v = TypedNat32(7);
  EXPECT_EQ(VoDriverSetControl(Img(), VO_CONTROL_DRIVER_WIDTH, &v), driver::kUnknown);
  // A display conversion held: its settings are answered.
  State()->conversion.valid = 1;
  State()->conversion.mask[1] = 0x1c;
  ASSERT_EQ(get(VO_CONTROL_DRIVER_RGB_G_MASK, &v), 0u);
  EXPECT_EQ(v.value.u, 0x1cu);
  State()->conversion.valid = 0;
}

}  // namespace
}  // namespace vo::test

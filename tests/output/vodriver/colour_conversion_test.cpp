// Colour conversion: the set-up of each display mode from a display
// driver's settings, the converters' pixels, the refusals, and mode-1
// images that take the display driver's conversion.

#include <set>

#include "driver_fixture.h"
#include "support/display_driver.h"
#include "output/vodriver/image_writer.h"

namespace vo::test {
namespace {

class ConversionTest : public DriverTest {
 protected:
  // A display driver of the mode, made current, with a frame of the width.
  VtDriverRecord *Display(int32_t mode, uint32_t width = 4) {
    d_ = VoDriverCreate(&DisplayDriver::Query);
    EXPECT_EQ(VoDriverGet(), d_);
    EXPECT_EQ(VoDriverBeginFrame(d_, 0, static_cast<int32_t>(width) - 1, 0, 0), 0u) << mode;
    return d_;
  }
  // The device words of one row of grey pixels through the display driver.
  std::vector<uint32_t> Row(std::vector<uint8_t> bytes, uint32_t y = 0) {
    DisplayDriver::rows.clear();
    EXPECT_EQ(VoDriverWriteScan(d_, y, bytes.data()), 0u);
    return DisplayDriver::rows.empty() ? std::vector<uint32_t>{} : DisplayDriver::rows.back();
  }
  static std::vector<uint8_t> Grey(uint8_t v, size_t n) { return std::vector<uint8_t>(n * 3, v); }
  driver::ColourConversion *Conversion() { return d_->conversion; }
  // The display driver gone, so that the next one made is made current.
  void Drop() {
    ASSERT_EQ(VoDriverSet(Null()), 0u);
    ASSERT_EQ(VoDriverDestroy(d_), 0u);
    d_ = nullptr;
    State()->real_chosen = 0;
  }
  static std::set<std::string> DefaultTexts() {
    std::set<std::string> texts;
    for (const Posted &p : g_posted)
      if (p.message == messages::kConversionDefault && p.strings.size() == 3) texts.insert(p.strings[2]);
    return texts;
  }
  static uint32_t Images() {
    uint32_t n = 0;
    for (driver::ImageNode *node = State()->images_head; node != nullptr; node = node->next) ++n;
    return n;
  }
  void TearDown() override {
    if (d_ != nullptr && driver::State() != nullptr) (void)VoDriverSet(Null());
    DriverTest::TearDown();
  }
  VtDriverRecord *d_ = nullptr;
};

TEST_F(ConversionTest, BitFieldsDefaultToThreeThreeTwoWithGammaAndErrorDiffusion) {
  DisplayDriver::Reset(6);
  Display(6);
  driver::ColourConversion *c = Conversion();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->conversion, driver::kConversionFloydSteinberg);
  EXPECT_EQ(std::vector<uint32_t>(c->mult, c->mult + 3), (std::vector<uint32_t>{32, 4, 1}));
  EXPECT_EQ(c->gamma, 1.5f);
  const auto texts = DefaultTexts();
  for (const char *t : {"0xe0", "0x1c", "0x03", "20", "4", "1", "1.5", "\"VO_CONVERSION_FS_RGB\""})
    EXPECT_EQ(texts.count(t), 1u) << t;
  // White: levels 7, 7, 3 -> 7 x 32 + 7 x 4 + 3 = 255; black 0.
  EXPECT_EQ(Row(Grey(255, 4))[0], 255u);
  EXPECT_EQ(Row(Grey(0, 4))[0], 0u);
  // Grey 128: gamma level 161; red and green (7 x 161 + 128) >> 8 = 4,
  // error 161 - 36 x 4 = 17; blue (3 x 161 + 128) >> 8 = 2, error -9:
  // 128 + 16 + 2 = 146. The next pixel takes 128 + 7 (right weight of 17 is
  // 127/16 = 7) and 128 - 3: levels 167 -> 5, 159 -> 2: 160 + 20 + 2 = 182.
  EXPECT_EQ(Row(Grey(128, 4)), (std::vector<uint32_t>{146, 182, 146, 182}));
  // The display's settings are held for the image driver.
  const driver::ConversionSettings &held = State()->conversion;
  EXPECT_EQ(held.valid * 100 + held.display_mode * 10 + held.conversion, 162u);
}

TEST_F(ConversionTest, PackedCubeAndGreyModesMapGreyAsWorkedOut) {
  // Mode 1: level(128) = floor((128/255)^(1/1.5) x 255 + 0.5) = 161 = 0xa1.
  DisplayDriver::Reset(1);
  Display(1);
  EXPECT_EQ(Row(Grey(128, 4))[0], 0xa1a1a1u);
  EXPECT_EQ(Conversion()->conversion, driver::kConversionNearest);
  Drop();
  // Mode 3, nearest: (5 x 128 + 128) >> 8 = 3; 3 x 36 + 3 x 6 + 3 = 129.
  DisplayDriver::Reset(3);
  DisplayDriver::Int(VO_CONTROL_DRIVER_CONVERSION, driver::kConversionNearest);
  Display(3);
  EXPECT_EQ(Row(Grey(128, 4))[0], 129u);
  Drop();
  // Size 5: multipliers 25, 5, 1; (4 x 128 + 128) >> 8 = 2; 50 + 10 + 2 = 62.
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_SIZE, 5);
  Display(3);
  EXPECT_EQ(Row(Grey(128, 4))[0], 62u);
  Drop();
  // Size 7 makes 343 entries, beyond a byte: the default cube, 129.
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_SIZE, 7);
  g_posted.clear();
  Display(3);
  EXPECT_EQ(Row(Grey(128, 4))[0], 129u);
  EXPECT_EQ(DefaultTexts().count("6"), 1u);
  Drop();
  // Mode 4 with 256 levels: white (76 x 255 + 128) >> 8 = 76, green 149 ->
  // 148, blue 29 -> 29: 253; pure green 148.
  DisplayDriver::Reset(4);
  Display(4);
  EXPECT_EQ(Row(Grey(255, 4))[0], 253u);
  EXPECT_EQ(Row({0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0})[0], 148u);
}

TEST_F(ConversionTest, TheOrderedDitherUsesRealFractionsAndNeverPassesTheTopLevel) {
  DisplayDriver::Reset(6);
  DisplayDriver::Int(VO_CONTROL_DRIVER_CONVERSION, driver::kConversionOrdered);
  Display(6, 16);
  const driver::ColourConversion *c = Conversion();
  // Steps 36, 36, 85: f_G = 35/16 = 2.1875, f_R = 35/16 (integer) = 2.
  // T[0][1]: m[1] = 14, m[0]/16 = 0: 14 x 2.1875 + 0.5 = 31.125 -> 31.
  // T[0][5]: 14 + 14/16 = 14.875: x 2.1875 + 0.5 = 33.04 -> 33; x 2 + 0.5 -> 30.
  EXPECT_EQ(c->threshold[1][0][1], 31);
  EXPECT_EQ(c->threshold[1][0][5], 33);
  EXPECT_EQ(c->threshold[0][0][5], 30);
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t w : Row(Grey(255, 16), y)) EXPECT_EQ(w, 255u);
  // A mask 0x81 gives max 129 and step 1: 255 / 1 passes the max, clamped.
  Drop();
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_R_MASK, 0x81);
  Display(6, 16);
  // Red: 255 / 1 = 255 clamped to 129 (multiplier 1); green 7 x 4; blue 3:
  // 129 + 28 + 3 = 160 (unclamped it would be 286, beyond the byte).
  for (uint32_t w : Row(Grey(255, 16))) EXPECT_EQ(w, 160u);
}

TEST_F(ConversionTest, ErrorDiffusionWithWideErrorsStaysInItsTables) {
  // Mask 0x81: max 129, step 1; gamma level 255 gives (129 x 255 + 128) >> 8
  // = 128 and error 255 - 128 = 127, far beyond +-step: the weight tables
  // cover it. A mask wider than a byte is the default (0xe0) with 466.
  DisplayDriver::Reset(6);
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_R_MASK, 0x81);
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_G_MASK, 0x1ff);
  Display(6, 64);
  const driver::ColourConversion *c = Conversion();
  EXPECT_EQ(c->mask[1], 0x1cu);
  EXPECT_LE(c->weight_low, -1);
  EXPECT_GE(c->weight_low + c->weight_count - 1, 127);
  std::vector<uint8_t> ramp(64 * 3);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i * 4);
  for (uint32_t y = 0; y < 8; ++y) EXPECT_EQ(Row(ramp, y).size(), 64u);
}

TEST_F(ConversionTest, RefusalsOfInstallRemoveColourAndRows) {
  DisplayDriver::Reset(6);
  Display(6);
  ASSERT_EQ(driver::Push(State(), d_), true);
  EXPECT_EQ(driver::ConversionInstall(6, nullptr), driver::kNotInList);  // 464: already has one
  EXPECT_EQ(CountPosted(messages::kConversionPresent), 1);
  ASSERT_EQ(driver::ConversionRemove(), 0u);
  EXPECT_EQ(driver::ConversionRemove(), driver::kNotInList);
  EXPECT_EQ(CountPosted(messages::kConversionAbsent), 1);
  const uint8_t white[3] = {255, 255, 255};
  EXPECT_EQ(driver::ConversionColour(white), 0u);
  EXPECT_EQ(driver::ConversionFrameStart(4), driver::kNotInList);
  EXPECT_EQ(CountPosted(messages::kConversionMissing), 2);
  EXPECT_EQ(driver::ConversionInstall(2, nullptr), driver::kRefused);
  EXPECT_EQ(driver::ConversionInstall(5, nullptr), driver::kRefused);
  EXPECT_EQ(d_->conversion, nullptr);
  // A row before the conversion has a width: 473 and 16.
  ASSERT_EQ(driver::ConversionInstall(1, nullptr), 0u);
  driver::Pop(State());
  std::vector<uint8_t> row = Grey(1, 4);
  EXPECT_EQ(VoDriverWriteScan(d_, 0, row.data()), driver::kNotInList);
  EXPECT_EQ(CountPosted(messages::kConversionNoWidth), 1);
}

TEST_F(ConversionTest, TheClipperKeepsEndsInsideTheDriversWindow) {
  ASSERT_TRUE(driver::Push(State(), Null()));
  driver::ClipWindowSet(0, 47, 0, 5);
  EXPECT_EQ(std::vector<int32_t>(Null()->clip, Null()->clip + 4), (std::vector<int32_t>{47, 0, 5, 0}));
  VtRasterPoint a{-1, 0}, b{48, 5};
  ASSERT_TRUE(driver::ClipLine(&a, &b));
  EXPECT_EQ(a.x * 1000 + a.y * 100 + b.x + b.y * 10000, 0 + 0 + 47 + 50000);
  // The clipping itself is the image driver's clipper, tested with it.
  driver::Pop(State());
}

TEST_F(ConversionTest, ModeOneImagesTakeTheDisplaysPixelsByteForByte) {
  for (int32_t mode : {1, 3, 4, 6}) {
    SCOPED_TRACE(mode);
    DisplayDriver::Reset(mode);
    Display(mode, 6);
    std::vector<uint8_t> ramp(6 * 3);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i * 14);
    const std::vector<uint32_t> expected = Row(ramp);
    // The image: 24 bits for packed pixels, else 8.
    VtImage *im = ImageOf(6, 1, mode != 1);
    im->mode = VO_IMAGE_MODE_DEVICE;
    VtDriverRecord *img = State()->image_driver;
    OpenImageDriver(im);
    ASSERT_EQ(VoDriverBeginFrame(img, 0, 5, 0, 0), 0u);
    ASSERT_NE(img->conversion, nullptr);
    // A nested open (a reader inside the frame) has no conversion; its
    // close puts the outer one back.
    driver::ColourConversion *outer = img->conversion;
    VtImage *inner = ImageOf(1, 1);
    driver::ImageWriter w{};
    ASSERT_EQ(driver::ImageWriterBegin(&w, inner, false), 0u);
    EXPECT_EQ(img->conversion, nullptr);
    const uint8_t px[3] = {1, 2, 3};
    EXPECT_EQ(driver::ImageWriterRow(&w, 0, px), 0u);
    EXPECT_EQ(inner->data[2], 3);
    ASSERT_EQ(driver::ImageWriterEnd(&w), 0u);
    EXPECT_EQ(img->conversion, outer);
    ASSERT_EQ(VoDriverWriteScan(img, 0, ramp.data()), 0u);
    for (int x = 0; x < 6; ++x) {
      const uint32_t got = mode == 1 ? uint32_t{im->data[x * 3]} << 16 | uint32_t{im->data[x * 3 + 1]} << 8 |
                                           im->data[x * 3 + 2]
                                     : im->data[x];
      EXPECT_EQ(got, expected[x] & (mode == 1 ? 0xffffffu : 0xffu)) << x;
    }
    // Lines take the drawing colour's device value, as the display shows it.
    const uint32_t white = Row(Grey(255, 6))[0];
    const uint8_t rgb[3] = {255, 255, 255};
    ASSERT_EQ(driver::CallPushed<0x1a000a>(State(), img, driver::kNoStack, static_cast<const uint8_t *>(rgb)),
              0u);
    const VtRasterPoint a{0, 0}, b{5, 0};
    ASSERT_EQ(driver::CallPushed<0x1a001c>(State(), img, driver::kNoStack, &a, &b), 0u);
    EXPECT_EQ(
        mode == 1 ? uint32_t{im->data[0]} << 16 | uint32_t{im->data[1]} << 8 | im->data[2] : im->data[0],
        white & (mode == 1 ? 0xffffffu : 0xffu));
    ASSERT_EQ(VoDriverClose(img), 0u);
    EXPECT_EQ(img->conversion, nullptr);
    Drop();
  }
}

TEST_F(ConversionTest, ImageRecordsConversionsAndColourMapsSurviveEveryFailedAllocation) {
  // Every setting answered, so that no default is posted on the way.
  DisplayDriver::Reset(6);
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_R_MASK, 0xe0);
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_G_MASK, 0x1c);
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_B_MASK, 0x03);
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_R_MULT, 32);
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_G_MULT, 4);
  DisplayDriver::Int(VO_CONTROL_DRIVER_RGB_B_MULT, 1);
  DisplayDriver::Real(VO_CONTROL_DRIVER_GAMMA, 1.5f);
  DisplayDriver::Int(VO_CONTROL_DRIVER_CONVERSION, driver::kConversionFloydSteinberg);
  Display(6);
  VtImage *im = ImageOf(4, 1, true);
  im->mode = VO_IMAGE_MODE_DEVICE;
  VtDriverRecord *img = State()->image_driver;
  const uint32_t images_before = Images();
  EveryAllocationFails(
      [&] {
        VtStatus st = VoDriverOpen(img);
        if (st != 0) return st;
        VtTypedValue v = TypedPointer(im);
        st |= VoDriverSetControl(img, VO_CONTROL_DRIVER_IMAGE, &v);
        State()->clear = 0;
        st |= VoDriverBeginFrame(img, 0, 3, 0, 0);
        VtImage *mapped = nullptr;
        st |= driver::CallPushed<0x1a002b>(State(), img, driver::kNoStack, uintptr_t{0});
        st |= driver::CallPushed<0x1a002e>(State(), img, driver::kNoStack, &mapped);
        if (mapped == nullptr) st |= driver::kUnavailable;
        st |= driver::CallPushed<0x1a002c>(State(), img, driver::kNoStack, uintptr_t{0});
        return st | VoDriverClose(img);
      },
      [&] {
        // Nothing left behind: no record, no conversion, no extra image.
        EXPECT_EQ(State()->image_driver_state.stack_head, nullptr);
        EXPECT_EQ(img->conversion, nullptr);
        EXPECT_EQ(Images(), images_before);
      });
}

}  // namespace
}  // namespace vo::test

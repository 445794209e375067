// Where a render's picture goes, case by case: a line render into each file
// driver says that the driver drew no lines and how to get the picture; the
// post-process archive gives the application's driver back with its image
// or its file, so that both pictures are written; a stroke render with no
// visible edge still writes the background; a line render with nothing in
// view into the JPEG driver answers as one with lines does.

#include <memory>
#include <string>
#include <vector>

#include <vo/vo_npr.h>
#include <vo/vo_postprocess.h>

#include "output/vodrvfile/file_fixture.h"
#include "support/demo_scene.h"

namespace vo::test {
namespace {

constexpr int32_t kWidth = 80, kHeight = 60;
// 54 header bytes, then 60 rows of 80 x 3 = 240 bytes (a multiple of 4).
constexpr size_t kBmpSize = 54 + 240 * 60;

class OutputTargets : public FileDriverTest {
 protected:
  void SetUp() override {
    FileDriverTest::SetUp();
    scene_ = std::make_unique<DemoScene>();
    ASSERT_TRUE(scene_->ok());
    ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
    image_ = VoImageCreate();
    image_->width = kWidth;
    image_->height = kHeight;
    ASSERT_EQ(VoImageAllocateData(image_), 0u);
  }
  void TearDown() override {
    (void)VoPostprocessListSet(nullptr);
    if (list_ != nullptr) {
      EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    }
    for (const char *name : {"vodrvbmp", "vodrvtga", "vodrvjpg"}) (void)FileSet(Driver(name), nullptr);
    (void)VoDriverSet(Driver("vodrvnul"));
    EXPECT_EQ(VoImageDestroy(image_), 0u);
    scene_.reset();
    FileDriverTest::TearDown();
  }
  // A path of the test's own (ctest runs the tests of a program side by side).
  static std::string Path(const std::string &what) {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return ::testing::TempDir() + test + "_" + what;
  }
  static Bytes FileBytes(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return {};
    Bytes b = Contents(f);
    std::fclose(f);
    return b;
  }
  // The driver made current with the image as its target (vodrvimg) or a
  // new stream from VoFileOpen as its file (the others; answered).
  void *Target(const char *name) {
    EXPECT_EQ(VoDriverSet(Driver(name)), 0u);
    if (std::string(name) == "vodrvimg") {
      const VtTypedValue v = TypedPointer(image_);
      EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v), 0u);
      return nullptr;
    }
    void *f = VoFileOpen(Path(name).c_str(), 2);
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(FileSet(Driver(name), static_cast<std::FILE *>(f)), 0u);
    return f;
  }
  // Render and post through the z-buffer with an archive to a BMP file.
  void ArchiveList(const std::string &path) {
    VtShader *archive = VoShaderCreate(VO_SHADER_POSTPROCESS, "archive");
    ASSERT_NE(archive, nullptr);
    VtTypedValue v{};
    v.type = VtString;
    v.value.s = "vodrvbmp";
    ASSERT_EQ(VoShaderSetArg(archive, "drivername", &v), 0u);
    v.value.s = path.c_str();
    ASSERT_EQ(VoShaderSetArg(archive, "filename", &v), 0u);
    list_ = VoShaderReferenceAppend(list_, VoShaderReferenceCreate(archive));
    ASSERT_EQ(VoPostprocessListSet(list_), 0u);
    v = TypedWord(VtEnum, 0x200001);
    ASSERT_EQ(VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v), 0u);
    v = TypedWord(VtEnum, VO_EXECUTE_PP_RUN);
    ASSERT_EQ(VoControlSet(VO_CONTROL_PP_POST_CODE, &v), 0u);
  }
  // The image's pixels, row by row without padding.
  Bytes ImagePixels() const {
    Bytes b;
    for (int32_t y = 0; y < kHeight; ++y)
      b.insert(b.end(), image_->data + y * image_->bytes_per_row,
               image_->data + y * image_->bytes_per_row + 3 * kWidth);
    return b;
  }

  std::unique_ptr<DemoScene> scene_;
  VtImage *image_ = nullptr;
  VtReference *list_ = nullptr;
};

TEST_F(OutputTargets, LineRendersIntoDriversThatDrawNoLinesAnswer258AndSayHowToGetThePicture) {
  // The file drivers draw no lines (258); the JPEG driver's frame of no rows
  // is no file either (its 0x40000002). The image driver draws them.
  struct Case {
    const char *driver;
    VtStatus status;
  };
  const Case cases[] = {{"vodrvbmp", 0x102}, {"vodrvtga", 0x102}, {"vodrvjpg", 0x40000102}, {"vodrvimg", 0}};
  for (const Case &c : cases) {
    for (uint32_t code : {0xa0001u, 0x190001u, 0x190002u}) {
      std::memset(image_->data, 0x55, static_cast<size_t>(image_->bytes_per_row) * kHeight);
      void *f = Target(c.driver);  // the image holds neither black nor white
      EXPECT_EQ(VoExecute(code), c.status) << c.driver << std::hex << " 0x" << code;
      const auto told = vo_test::WithMessage(messages::kLinesNotDrawn);
      if (c.status == 0) {
        EXPECT_TRUE(told.empty()) << c.driver << std::hex << " 0x" << code;
        const Bytes pixels = ImagePixels();  // black lines on the white the frame was cleared to
        EXPECT_NE(std::count(pixels.begin(), pixels.end(), 255), 0) << std::hex << "0x" << code;
        EXPECT_NE(std::count(pixels.begin(), pixels.end(), 0), 0) << std::hex << "0x" << code;
      } else {
        ASSERT_EQ(told.size(), 1u) << c.driver << std::hex << " 0x" << code;
        EXPECT_EQ(told[0].strings, std::vector<std::string>{c.driver});
        EXPECT_EQ(told[0].args[1].value.u, code);
      }
      vo_test::Recorded().clear();
      if (f != nullptr) {
        EXPECT_EQ(FileSet(Driver(c.driver), nullptr), 0u);
        EXPECT_EQ(VoFileClose(f), 0u);
      }
    }
  }
}

// With nothing in view a line render gives the driver no line to refuse:
// the JPEG driver, which takes no vector output, still makes the render
// answer as it does with the scene in view (258 and message 2930 after its
// own 0x40000002 for a frame of no rows), where a driver that takes vector
// output (BMP through the null driver's answer, or the image driver) has
// nothing to say.
TEST_F(OutputTargets, ALineRenderWithNothingInViewAnswersAsOneWithLinesDoes) {
  struct Case {
    const char *driver;
    VtStatus status;
  };
  const Case cases[] = {{"vodrvjpg", 0x40000102}, {"vodrvbmp", 0}, {"vodrvimg", 0}};
  ASSERT_EQ(VoViewPan(nullptr, 180, 0), 0u);  // the eye turned away from the scene
  for (const Case &c : cases)
    for (uint32_t code : {0xa0001u, 0x190001u, 0x190002u}) {
      void *f = Target(c.driver);
      vo_test::Recorded().clear();
      EXPECT_EQ(VoExecute(code), c.status) << c.driver << std::hex << " 0x" << code;
      const auto told = vo_test::WithMessage(messages::kLinesNotDrawn);
      ASSERT_EQ(told.size(), c.status == 0 ? 0u : 1u) << c.driver << std::hex << " 0x" << code;
      if (!told.empty()) {
        EXPECT_EQ(told[0].args[1].value.u, code);
      }
      if (f != nullptr) {
        EXPECT_EQ(FileSet(Driver(c.driver), nullptr), 0u);
        EXPECT_EQ(VoFileClose(f), 0u);
      }
    }
}

TEST_F(OutputTargets, AnArchiveGivesTheApplicationsDriverBackWithItsImageOrItsFile) {
  // Render and post into the image driver, then into the BMP driver the
  // archive writes through as well: each answers 0, and the application's
  // picture is the archive's, byte for byte.
  for (const char *driver : {"vodrvimg", "vodrvbmp"}) {
    const std::string archived = Path(std::string("archive_") + driver + ".bmp");
    ArchiveList(archived);
    std::memset(image_->data, 0x55, static_cast<size_t>(image_->bytes_per_row) * kHeight);
    void *f = Target(driver);
    EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RENDER_AND_POST), 0u) << driver;
    EXPECT_TRUE(vo_test::WithMessage(messages::kImageDriverNoImage).empty()) << driver;
    EXPECT_TRUE(vo_test::WithMessage(messages::kFileFrameRefused).empty()) << driver;
    const Bytes archive = FileBytes(archived);
    EXPECT_EQ(archive.size(), kBmpSize) << driver;
    if (f == nullptr) {
      EXPECT_EQ(ReadBack(archive, "vodrvbmp"), ImagePixels());
    } else {
      VtTypedValue kept{};
      EXPECT_EQ(VoDriverGetControl(Driver(driver), VO_CONTROL_DRIVER_FILE, &kept), 0u);
      EXPECT_EQ(kept.value.p, f) << "the application's stream is the driver's again";
      EXPECT_EQ(FileSet(Driver(driver), nullptr), 0u);
      EXPECT_EQ(VoFileClose(f), 0u);
      EXPECT_EQ(FileBytes(Path(driver)), archive);
    }
    std::remove(archived.c_str());
    (void)VoPostprocessListSet(nullptr);
    EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    list_ = nullptr;
    vo_test::Recorded().clear();
  }
  // A plain switch away from the image driver and back closes its record:
  // the application names its image again.
  ASSERT_EQ(VoDriverSet(Driver("vodrvimg")), 0u);
  const VtTypedValue v = TypedPointer(image_);
  ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v), 0u);
  ASSERT_EQ(VoDriverSet(Driver("vodrvbmp")), 0u);
  ASSERT_EQ(VoDriverSet(Driver("vodrvimg")), 0u);
  EXPECT_EQ(VoExecute(0x200001), 0x12u);
  EXPECT_EQ(vo_test::WithMessage(messages::kImageDriverNoImage).size(), 1u);
  vo_test::Recorded().clear();
  ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v), 0u);
  EXPECT_EQ(VoExecute(0x200001), 0u);
}

TEST_F(OutputTargets, AStrokeRenderWithNoVisibleEdgeWritesTheBackgroundAndKeepsTheViewsClipping) {
  // The scene (inside x and z in [-6, 6], y in [0, 3.2]) lies in front of
  // the eye at (0, 2, 40), within atan(6 / 34) = 10 degrees of -z; the axis
  // is 45 degrees off -z, so all of it lies 35 degrees or more off the axis,
  // outside the 40-degree field: no edge is captured. The file is a whole
  // BMP of the background, and the clipping the application set stays.
  const float eye[3] = {0, 2, 40}, away[3] = {40, 2, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, away, up, VO_PROJECTION_PERSPECTIVE, 40.0), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 0.5, 40.0), 0u);
  for (uint32_t code : {VO_EXECUTE_NPR_STROKES, VO_EXECUTE_NPR_STROKES_ZBUF}) {
    void *f = Target("vodrvbmp");
    EXPECT_EQ(VoExecute(code), 0u) << std::hex << code;
    EXPECT_EQ(FileSet(Driver("vodrvbmp"), nullptr), 0u);
    EXPECT_EQ(VoFileClose(f), 0u);
    const Bytes file = FileBytes(Path("vodrvbmp"));
    EXPECT_EQ(file.size(), kBmpSize) << std::hex << code;
    const Bytes pixels = ReadBack(file, "vodrvbmp");
    ASSERT_FALSE(pixels.empty());
    for (size_t i = 3; i < pixels.size(); ++i) ASSERT_EQ(pixels[i], pixels[i % 3]) << i;
    double hither = 0, yon = 0;
    ASSERT_EQ(VoViewGetClipping(nullptr, &hither, &yon), 0u);
    EXPECT_EQ(hither, 0.5);
    EXPECT_EQ(yon, 40.0);
    std::remove(Path("vodrvbmp").c_str());
  }
}

}  // namespace
}  // namespace vo::test

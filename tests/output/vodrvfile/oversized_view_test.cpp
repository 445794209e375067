// A view too large for the output: the renderers through the BMP file
// driver refuse it before anything is written, with one diagnostic that
// names the size and the reason; the application's own stream is left
// empty, a file VoFileOpen created is removed when it is closed still
// empty, and a smaller render into the same stream still writes its file.
// A render to the BMP or Targa driver with no stream at all (VoFileOpen
// failed) is refused the same way: one diagnostic naming the driver.

#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>

#include "output/vodriver/file_driver.h"
#include "output/vodrvfile/file_fixture.h"
#include "support/demo_scene.h"

namespace vo::test {
namespace {

constexpr uint32_t kZBuffer = 0x200001, kStandard = 0xc0001, kRayTracer = 0x70001, kHiddenLine = 0x190001;
constexpr uint32_t kSide = 100000;  // 100000 x 100000 x 3 bytes: past the 32-bit size of a BMP file

// The size of the file at the path, or -1 when there is none.
long long FileSize(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

class OversizedView : public FileDriverTest {
 protected:
  void SetUp() override {
    FileDriverTest::SetUp();
    scene_ = std::make_unique<DemoScene>();
    ASSERT_TRUE(scene_->ok());
    ASSERT_EQ(VoDriverSet(Driver("vodrvbmp")), 0u);
  }
  void TearDown() override {
    (void)FileSet(VoDriverGet(), nullptr);
    scene_.reset();
    FileDriverTest::TearDown();
  }
  // A path of the test's own (ctest runs the tests of a program side by side).
  static std::string Path(uint32_t code) {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return ::testing::TempDir() + test + "_" + std::to_string(code) + ".bmp";
  }
  // The execute into the stream at the view's size given.
  static VtStatus Render(std::FILE *f, uint32_t code, uint32_t side) {
    VtStatus st = DemoScene::View(side, side);
    st |= FileSet(VoDriverGet(), f);
    return st != 0 ? st : VoExecute(code);
  }
  // Exactly one diagnostic a severity mask can show, and it names the size.
  static void ExpectOneSizeRefusal(uint32_t code) {
    int shown = 0;
    for (const vo_test::Diagnostic &d : vo_test::Recorded()) shown += (d.status & 0xF0000000u) != 0;
    EXPECT_EQ(shown, 1) << std::hex << code;
    const auto refused = vo_test::WithMessage(messages::kFileFrameSizeRefused);
    ASSERT_EQ(refused.size(), 1u) << std::hex << code;
    EXPECT_EQ(refused[0].status, uint32_t{VO_STATUS_BAD_ARGUMENT});
    EXPECT_EQ(refused[0].strings, (std::vector<std::string>{"vodrvbmp", "a file of 4 GB or more"}));
    EXPECT_EQ(refused[0].args[1].value.d, double{kSide});
    EXPECT_EQ(refused[0].args[2].value.d, double{kSide});
    vo_test::Recorded().clear();
  }

  std::unique_ptr<DemoScene> scene_;
};

TEST_F(OversizedView, EachRendererIsRefusedWithTheApplicationsStreamLeftEmpty) {
  for (uint32_t code : {kZBuffer, kStandard, kRayTracer, kHiddenLine}) {
    const std::string path = Path(code);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_NE(Render(f, code, kSide), 0u) << std::hex << code;
    ExpectOneSizeRefusal(code);
    EXPECT_EQ(FileSet(VoDriverGet(), nullptr), 0u);
    EXPECT_EQ(VoFileClose(f), VO_STATUS_BAD_ARGUMENT);  // not VoFileOpen's: left open
    EXPECT_EQ(vo_test::WithMessage(messages::kFileNotOpened).size(), 1u);
    vo_test::Recorded().clear();
    EXPECT_EQ(std::fclose(f), 0);  // kept, empty
    EXPECT_EQ(FileSize(path), 0) << std::hex << code;
    std::remove(path.c_str());
  }
}

TEST_F(OversizedView, AFileVoFileOpenCreatedIsRemovedUnlessARenderFillsItAfterwards) {
  for (uint32_t code : {kZBuffer, kStandard, kRayTracer}) {
    const std::string path = Path(code);
    void *f = VoFileOpen(path.c_str(), 2);
    ASSERT_NE(f, nullptr);
    EXPECT_NE(Render(static_cast<std::FILE *>(f), code, kSide), 0u) << std::hex << code;
    ExpectOneSizeRefusal(code);
    EXPECT_EQ(FileSet(VoDriverGet(), nullptr), 0u);
    EXPECT_EQ(FileSize(path), 0);  // still there while the stream is open
    EXPECT_EQ(VoFileClose(f), 0u);
    EXPECT_EQ(FileSize(path), -1) << std::hex << code;
  }
  // Refused, then rendered at a size that fits into the same stream: the
  // file is whole, 54 + 8 x 3 (padded to 24) x 8 = 246 bytes, and kept.
  const std::string path = Path(0);
  void *f = VoFileOpen(path.c_str(), 2);
  ASSERT_NE(f, nullptr);
  EXPECT_NE(Render(static_cast<std::FILE *>(f), kZBuffer, kSide), 0u);
  EXPECT_EQ(Render(static_cast<std::FILE *>(f), kZBuffer, 8), 0u);
  EXPECT_EQ(FileSet(VoDriverGet(), nullptr), 0u);
  EXPECT_EQ(VoFileClose(f), 0u);
  EXPECT_EQ(FileSize(path), 54 + 24 * 8);
  std::remove(path.c_str());
}

TEST_F(OversizedView, TheTargaAndJpegDriversNameTheSidesTheyCannotWrite) {
  // A Targa or JPEG side has at most 65535 pixels: 70000 x 1 is refused.
  for (const char *name : {"vodrvtga", "vodrvjpg"}) {
    const std::string path = ::testing::TempDir() + "oversized_side." + name;
    void *f = VoFileOpen(path.c_str(), 2);
    ASSERT_NE(f, nullptr);
    VtDriverRecord *d = Driver(name);
    ASSERT_EQ(FileSet(d, static_cast<std::FILE *>(f)), 0u);
    EXPECT_NE(VoDriverBeginFrame(d, 0, 69999, 0, 0), 0u) << name;
    EXPECT_EQ(FileSet(d, nullptr), 0u);
    EXPECT_EQ(VoFileClose(f), 0u);
    EXPECT_EQ(FileSize(path), -1) << name;
  }
  const auto tga = vo_test::WithMessage(messages::kFileFrameSizeRefused);
  ASSERT_EQ(tga.size(), 1u);
  EXPECT_EQ(tga[0].strings, (std::vector<std::string>{"vodrvtga", "a side above 65535"}));
  EXPECT_EQ(tga[0].args[1].value.d, 70000.0);
  EXPECT_EQ(vo_test::WithMessage(messages::kJpegSideRefused).size(), 1u);
}

TEST_F(OversizedView, ARenderWithNoOutputFileNamesTheDriverAndTheMissingFile) {
  // The file control null, as after a VoFileOpen that failed: each renderer
  // answers the writer's 0x40000002 and one error or warning is posted, by
  // the driver (the ray tracer's debug note of a pass on the calling thread
  // is no fault).
  const std::pair<const char *, uint32_t> drivers[] = {{"vodrvbmp", VO_MODULE_BMP},
                                                       {"vodrvtga", VO_MODULE_TARGA}};
  for (const auto &[name, module] : drivers) {
    ASSERT_EQ(VoDriverSet(Driver(name)), 0u);
    for (uint32_t code : {kZBuffer, kStandard, kRayTracer, kHiddenLine}) {
      EXPECT_EQ(Render(nullptr, code, 8), 0x40000002u) << name << std::hex << code;
      int shown = 0;
      for (const vo_test::Diagnostic &d : vo_test::Recorded()) shown += (d.status & 0x60000000u) != 0;
      EXPECT_EQ(shown, 1) << name << std::hex << code;
      const auto refused = vo_test::WithMessage(messages::kFileFrameRefused);
      ASSERT_EQ(refused.size(), 1u) << name << std::hex << code;
      EXPECT_EQ(refused[0].status, 0x40000002u);
      EXPECT_EQ(refused[0].module, module);
      EXPECT_EQ(refused[0].strings, (std::vector<std::string>{name, driver::file::kNoOutputFile}));
      vo_test::Recorded().clear();
    }
  }
}

}  // namespace
}  // namespace vo::test

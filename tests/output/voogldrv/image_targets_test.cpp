// Image targets: the frame drawn off screen and copied into the image, the
// image's pixels kept, its size from the view, and other drivers' images.
#include <cstdio>
#include <cstring>
#include <string>

#include "ogldrv_fixture.h"
#include "support/test_support.h"

namespace vo::test {
namespace {

using ImageTargets = OGLDrvTest;

TEST_F(ImageTargets, AClearAndAQuadLandWhereOpenGLPutsThemWithRowsTopDown) {
  VtImage *image = Image(64, 48);
  UseImageDriver(image);
  ASSERT_EQ(Frame(0, 0, 1), 0u);
  ASSERT_NE(image->data, nullptr);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      const uint8_t *p = Pixel(image, x, y);
      ASSERT_EQ(p[0] * 65536 + p[1] * 256 + p[2], 255) << x << "," << y;
    }
  // A red quad over the lower-left quarter: rows 24-47, columns 0-31.
  ASSERT_EQ(Frame(0, 0, 1,
                  [] {
                    glMatrixMode(GL_PROJECTION);
                    glLoadIdentity();
                    glMatrixMode(GL_MODELVIEW);
                    glLoadIdentity();
                    glColor3f(1, 0, 0);
                    glRectf(-1, -1, 0, 0);
                  }),
            0u);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      const bool red = y >= 24 && x < 32;
      const uint8_t *p = Pixel(image, x, y);
      ASSERT_EQ(p[0], red ? 255 : 0) << x << "," << y;
      ASSERT_EQ(p[2], red ? 0 : 255) << x << "," << y;
    }
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLInvalidOperation).size(), 0u);
}

TEST_F(ImageTargets, PaddedRowsNarrowImagesEightBitImagesAndTheirOwnRowStride) {
  // Width 3: rows of 12 bytes read back, rows of 9 in the image.
  VtImage *narrow = Image(3, 2);
  UseImageDriver(narrow);
  ASSERT_EQ(Frame(1, 0.5f, 0), 0u);
  EXPECT_EQ(narrow->bytes_per_row, 9);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) {
      const uint8_t *p = Pixel(narrow, x, y);
      EXPECT_EQ(p[0], 255);
      EXPECT_NEAR(p[1], 128, 1);
      EXPECT_EQ(p[2], 0);
    }
  EXPECT_EQ(gl::RowBytes(3, 3), 12u);
  // 8 bits: the red byte, as the image driver writes it.
  VtImage *grey = VoImageCreateIndexed();
  ASSERT_NE(grey, nullptr);
  images_.push_back(grey);
  grey->width = 5;
  grey->height = 3;
  ASSERT_EQ(VoImageAllocateData(grey), 0u);
  UseImageDriver(grey);
  ASSERT_EQ(Frame(0.4f, 1, 1), 0u);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_NEAR(grey->data[y * grey->bytes_per_row + x], 102, 1);
}

TEST_F(ImageTargets, AnImageWithoutASizeTakesTheViewsAndKeepsItsPixelsOverFrames) {
  Resolution(20, 10);
  VtImage *image = Image(0, 0);
  UseImageDriver(image);
  ASSERT_EQ(Frame(0, 1, 0), 0u);
  EXPECT_EQ(image->width, 20);
  EXPECT_EQ(image->height, 10);
  uint8_t *kept = image->data;
  ASSERT_NE(kept, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Frame(0, 1, 0), 0u);
  EXPECT_EQ(image->data, kept);  // a pointer the application kept stays good
  EXPECT_EQ(Pixel(image, 19, 9)[1], 255);
  EXPECT_EQ(Context()->targets, nullptr);  // mode 0: the target dies with its frame
}

TEST_F(ImageTargets, ARefusedImageMakesNoTarget) {
  VtImage *image = Image(4, 4);
  ASSERT_EQ(VoImageAllocateData(image), 0u);
  const int32_t stride = image->bytes_per_row;
  image->bytes_per_row = 5;  // rows shorter than their pixels
  UseImageDriver(image);
  EXPECT_EQ(VoOGLDrvImageInitialise(image, 0), 2u);
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLImageRefused).size(), 1u);
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLTargetNotMade).size(), 1u);
  EXPECT_EQ(Context()->targets, nullptr);
  image->bytes_per_row = stride;
}

TEST_F(ImageTargets, AViewLargerThanATargetCanBeIsRefusedWithItsSizeNamed) {
  Resolution(100000, 100000);  // past the 16384 pixels a side a framebuffer holds
  VtImage *image = Image(0, 0);
  UseImageDriver(image);
  EXPECT_EQ(VoOGLDrvImageInitialise(image, 0), 2u);
  const auto refused = vo_test::WithMessage(messages::kOGLViewSizeRefused);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].status, uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(refused[0].args[0].value.u, 100000u);
  EXPECT_EQ(refused[0].args[2].value.u, 16384u);
  EXPECT_TRUE(image->data == nullptr && image->width == 0);  // nothing allocated for it
  EXPECT_EQ(Context()->targets, nullptr);
  // Another driver current: its file, which VoFileOpen created, is removed when it is closed still empty.
  const std::string path = ::testing::TempDir() + "ogl_view_too_large.bmp";
  void *file = VoFileOpen(path.c_str(), 2);
  ASSERT_NE(file, nullptr);
  VtDriverRecord *bmp = UseDriver("vodrvbmp");
  VtTypedValue v = TypedPointer(file);
  ASSERT_EQ(VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v), 0u);
  EXPECT_NE(VoOGLDrvImageBegin(), 0u);
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLViewSizeRefused).size(), 2u);
  v = TypedPointer(nullptr);
  EXPECT_EQ(VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v), 0u);
  EXPECT_EQ(VoFileClose(file), 0u);
  EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);
}

TEST_F(ImageTargets, AKeptTargetWhoseImageWasDestroyedOrResizedIsNotDrawnInto) {
  ASSERT_EQ(SetMode(1), 0u);
  VtImage *resized = Image(8, 8);
  ASSERT_EQ(VoOGLDrvImageInitialise(resized, 0), 0u);
  resized->width = 4;  // its rows are no longer the target's
  EXPECT_EQ(VoOGLDrvImageBegin(), 2u);
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLMakeCurrentFailed).size(), 1u);
  resized->width = 8;
  VtImage *gone = VoImageCreate();
  gone->width = gone->height = 8;
  ASSERT_EQ(VoOGLDrvImageInitialise(gone, 0), 0u);
  ASSERT_EQ(VoImageDestroy(gone), 0u);
  EXPECT_EQ(VoOGLDrvImageBegin(), 2u);
  EXPECT_EQ(VoOGLDrvImageEnd(), 2u);
  EXPECT_EQ(VoOGLDrvImageTerminate(gone), 0u);
  EXPECT_EQ(VoOGLDrvImageSetCurrent(resized), 0u);
  EXPECT_EQ(Frame(1, 1, 1), 0u);
  EXPECT_EQ(Pixel(resized, 7, 7)[0], 255);
}

TEST_F(ImageTargets, AFileDriverGetsAnImageOfTheViewsSizeAndTheImageDriversImageIsLeftAlone) {
  vo_test::TempDir dir;
  const std::string path = dir.File("frame.bmp");
  VtImage *other = Image(10, 10);
  ASSERT_EQ(VoImageAllocateData(other), 0u);
  std::memset(other->data, 7, static_cast<size_t>(other->bytes_per_row) * 10);
  UseImageDriver(other);
  Resolution(24, 16);
  std::FILE *f = std::fopen(path.c_str(), "wb+");
  ASSERT_NE(f, nullptr);
  VtDriverRecord *bmp = UseDriver("vodrvbmp");
  VtTypedValue v = TypedPointer(f);
  ASSERT_EQ(VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v), 0u);
  ASSERT_EQ(Frame(1, 0, 0), 0u);
  std::fclose(f);
  EXPECT_EQ(other->width, 10);
  EXPECT_EQ(other->data[0], 7);
  VtImage *read = VoImageReadFromFile(nullptr, path.c_str());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->width, 24);
  EXPECT_EQ(read->height, 16);
  EXPECT_EQ(Pixel(read, 5, 5)[0], 255);
  EXPECT_EQ(Pixel(read, 5, 5)[2], 0);
  (void)VoImageDestroy(read);
  EXPECT_EQ(ogldrv::Record()->offscreen, nullptr);
}

}  // namespace
}  // namespace vo::test

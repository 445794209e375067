// Calls an application makes outside the state they are meant for, through
// the public interface: reading the console with no driver to read from,
// bump samples with no point being shaded, environment samples along no
// direction, pixel lists before start, and files closed twice or never
// opened by the library. Each answers a status and changes nothing; none
// loops, crashes or reads freed memory.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <vo/vo_api.h>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

// The console is read until the driver answers a negative count; with no
// driver to call (library not started, or stopped, or a handle that is no
// driver) the answer is -1, so a script read from the console ends at once.
TEST(OutsideCalls, ConsoleReadingEndsWhenNoDriverCanBeCalled) {
  char line[8] = "kept";
  for (int round = 0; round < 2; ++round) {  // before the first start, after a stop
    EXPECT_EQ(VoDriverReadLine(nullptr, line, sizeof line), -1);
    EXPECT_STREQ(line, "kept");
    (void)VoInterpreterReadInput(nullptr, nullptr);  // returns: no prompt loop
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    uint32_t not_a_driver[64] = {};
    EXPECT_EQ(VoDriverReadLine(reinterpret_cast<VtDriverRecord *>(not_a_driver), line, sizeof line), -1);
    EXPECT_STREQ(line, "kept");
    EXPECT_EQ(VoTerminate(), 0u);
  }
}

// A bump map tilts the normal of the point being shaded; with none (no
// shading call under way, the shader globals' normal and derivatives are
// null) both samples answer 0 and leave the output as it was.
TEST_F(Started, BumpSamplesOutsideShadingLeaveTheNormal) {
  VtImage *image = VoImageCreate();
  ASSERT_NE(image, nullptr);
  image->width = 4, image->height = 4;
  ASSERT_EQ(VoImageAllocateData(image), 0u);
  for (int32_t i = 0; i < 4 * image->bytes_per_row; ++i) image->data[i] = static_cast<uint8_t>(37 * i);
  VtTexture *bump = VoBumpCreate(image);
  ASSERT_NE(bump, nullptr);
  for (double amplitude : {0.0, 1.0, -3.5}) {
    float normal[3] = {7, 8, 9};
    EXPECT_EQ(VoBumpSamplePoint(normal, amplitude, bump), 0u);
    EXPECT_EQ(VoBumpSampleArea(normal, amplitude, bump), 0u);
    EXPECT_EQ(normal[0], 7);
    EXPECT_EQ(normal[1], 8);
    EXPECT_EQ(normal[2], 9);
  }
  EXPECT_EQ(VoBumpDestroy(bump), 0u);
  EXPECT_EQ(VoImageDestroy(image), 0u);
}

// A cube of six grey faces: a finite direction meets a wall and gives its
// grey; one that is not finite meets none, gives black and is refused.
TEST_F(Started, EnvironmentSamplesAlongNoFiniteDirectionAreBlack) {
  VtImage *faces[6] = {};
  for (VtImage *&face : faces) {
    face = VoImageCreate();
    ASSERT_NE(face, nullptr);
    face->width = face->height = 2;
    ASSERT_EQ(VoImageAllocateData(face), 0u);
    std::memset(face->data, 102, static_cast<size_t>(2 * face->bytes_per_row));  // 102 / 255 = 0.4
  }
  VtEnvironment *cube = VoEnvironmentCreateCube(faces);
  ASSERT_NE(cube, nullptr);
  const float point[3] = {0, 0, 0}, inf = INFINITY, nan = NAN;
  float colour[3] = {};
  const float along[3] = {0.3f, -1, 0.2f};
  EXPECT_EQ(VoEnvironmentSample(colour, cube, point, along, 0), 0u);
  EXPECT_NEAR(colour[1], 0.4f, 1e-5f);
  const float bad[][3] = {{nan, 0, 1}, {0, nan, 0}, {inf, 0, 0}, {0, 0, -inf}, {nan, nan, nan}};
  for (const float *direction : bad) {
    vo_test::Recorded().clear();
    colour[0] = colour[1] = colour[2] = 5;
    EXPECT_EQ(VoEnvironmentSample(colour, cube, point, direction, 0.1), VO_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(colour[0] + colour[1] + colour[2], 0.0f);
    EXPECT_EQ(vo_test::WithMessage(2900).size(), 1u);
  }
  EXPECT_EQ(VoEnvironmentDestroy(cube), 0u);
  for (VtImage *face : faces) EXPECT_EQ(VoImageDestroy(face), 0u);
}

// A pixel list asked for before start is not made (nothing is left behind
// for the leak check to find).
TEST(OutsideCalls, PixelListsBeforeStartAreNotMade) { EXPECT_EQ(VoPixelListCreate(), nullptr); }

// VoFileClose closes what VoFileOpen opened, once, whether the library runs
// or not; a second close, or a stream of fopen's, is refused and left as it
// is (the fopen stream is still open and writable).
TEST(OutsideCalls, FilesCloseOnceAndOnlyWhenVoFileOpenOpenedThem) {
  const std::string path = ::testing::TempDir() + "misuse_file_close.txt";
  void *before = VoFileOpen(path.c_str(), VO_FILE_WRITE);  // before start, closed while running
  ASSERT_NE(before, nullptr);
  ASSERT_EQ(VoInitialise(), 0u);
  ASSERT_EQ(vo_test::Record(), 0u);
  EXPECT_EQ(VoFileClose(before), 0u);
  EXPECT_EQ(VoFileClose(before), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo_test::WithMessage(2901).size(), 1u);
  std::FILE *own = std::fopen(path.c_str(), "wb");
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(VoFileClose(own), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo_test::WithMessage(2901).size(), 2u);
  EXPECT_GE(std::fputs("still open", own), 0);
  EXPECT_EQ(std::fclose(own), 0);
  void *during = VoFileOpen(path.c_str(), VO_FILE_APPEND);  // opened while running, closed after stop
  ASSERT_NE(during, nullptr);
  EXPECT_EQ(VoTerminate(), 0u);
  EXPECT_EQ(VoFileClose(during), 0u);
  EXPECT_EQ(VoFileClose(during), VO_STATUS_BAD_ARGUMENT);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace misuse

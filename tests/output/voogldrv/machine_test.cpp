// The make-current / temporary / restore machine, share groups, the
// floating-point environment, the target mode's guard, and failures of
// EGL and of memory.
#include <cfenv>

#include "ogldrv_fixture.h"
#include "output/voogldrv/face.h"

namespace vo::test {
namespace {

using Machine = OGLDrvTest;

TEST_F(Machine, FrameTemporaryAndRestore) {
  VtImage *image = Image(8, 8);
  ASSERT_EQ(SetMode(1), 0u);
  ASSERT_EQ(VoOGLDrvImageInitialise(image, 0), 0u);
  const int32_t group = ogldrv::FrameShareGroup();
  EXPECT_GT(group, 0);
  EXPECT_EQ(ogldrv::GroupMakeCurrent(-1), 2u);
  EXPECT_EQ(ogldrv::GroupMakeCurrent(group + 100), 2u);
  EXPECT_EQ(ogldrv::GroupRestore(), 2u);  // nothing current
  EXPECT_FALSE(ogldrv::ContextIsCurrent());

  ASSERT_EQ(ogldrv::MakeCurrentNumber(ogldrv::Record(), 0), 0u);
  EXPECT_TRUE(ogldrv::ContextIsCurrent());
  gl::Context *frame = gl::Current();
  ASSERT_EQ(ogldrv::GroupMakeCurrent(group), 0u);  // the group's own context
  EXPECT_NE(gl::Current(), frame);
  EXPECT_EQ(Context()->frame_current, 1u);
  EXPECT_EQ(ogldrv::GroupRestore(), 0u);
  EXPECT_EQ(gl::Current(), frame);
  EXPECT_EQ(SetMode(0), 2u);  // not while a target is current
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLModeInFrame).size(), 1u);
  EXPECT_EQ(ogldrv::GroupRestore(), 0u);
  EXPECT_FALSE(ogldrv::ContextIsCurrent());
  EXPECT_EQ(ogldrv::GroupRestore(), 2u);
  EXPECT_EQ(SetMode(0), 0u);
  EXPECT_EQ(SetMode(3), 0x20000012u);
}

TEST_F(Machine, AListMadeOnOneTargetIsOneOnASecondAndIsDeletedOutsideFramesThroughItsGroup) {
  VtImage *a = Image(4, 4), *b = Image(4, 4);
  ASSERT_EQ(SetMode(1), 0u);
  ASSERT_EQ(VoOGLDrvImageInitialise(a, 0), 0u);
  ASSERT_EQ(VoOGLDrvImageBegin(), 0u);
  const GLuint list = glGenLists(1);
  glNewList(list, GL_COMPILE);
  glEndList();
  ASSERT_EQ(VoOGLDrvImageEnd(), 0u);
  const int32_t group = ogldrv::FrameShareGroup();
  ASSERT_EQ(VoOGLDrvImageInitialise(b, 0), 0u);
  EXPECT_EQ(ogldrv::FrameShareGroup(), group);
  ASSERT_EQ(VoOGLDrvImageBegin(), 0u);
  EXPECT_TRUE(glIsList(list));
  ASSERT_EQ(VoOGLDrvImageEnd(), 0u);
  // Both targets gone: the group still lives and deletes the list.
  ASSERT_EQ(VoOGLDrvImageTerminate(a), 0u);
  ASSERT_EQ(VoOGLDrvImageTerminate(b), 0u);
  ASSERT_TRUE(ogldrv::GroupLives(group));
  ASSERT_EQ(ogldrv::GroupMakeCurrent(group), 0u);
  EXPECT_TRUE(glIsList(list));
  glDeleteLists(list, 1);
  EXPECT_FALSE(glIsList(list));
  EXPECT_EQ(ogldrv::GroupRestore(), 0u);
  EXPECT_EQ(ogldrv::TargetsReleaseAll(), 0u);
  EXPECT_FALSE(ogldrv::GroupLives(group));
}

TEST_F(Machine, WithSharingOffTheGroupDiesWithItsTargetAndARefusedSharingStillMakesTheTarget) {
  ASSERT_EQ(SetFlag(ogldrv::kControlShare, false), 0u);
  VtImage *image = Image(4, 4);
  UseImageDriver(image);
  const int32_t live = gl::LiveContexts();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Frame(0, 0, 0), 0u);
  EXPECT_LE(GroupCount(), 1);
  EXPECT_EQ(gl::LiveContexts(), live);

  ASSERT_EQ(SetFlag(ogldrv::kControlShare, true), 0u);
  gl::FailReset();
  gl::FailAt(gl::Call::Create, 2);  // the group's own context, then the shared one refused
  EXPECT_EQ(VoOGLDrvImageInitialise(image, 0), 0x20000000u);
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLNoSharing).size(), 1u);
  EXPECT_NE(Context()->frame, nullptr);
}

TEST_F(Machine, TheCallersFloatingPointEnvironmentComesBackAndInvalidOperationsAreReported) {
  VtImage *image = Image(4, 4);
  UseImageDriver(image);
  ASSERT_EQ(Frame(0, 0, 0), 0u);
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLInvalidOperation).size(), 0u);

  std::feclearexcept(FE_ALL_EXCEPT);
  std::feraiseexcept(FE_DIVBYZERO);
  volatile double zero = 0.0;
  ASSERT_EQ(Frame(0, 0, 0,
                  [&] {
                    volatile double nan = zero / zero;
                    (void)nan;
                  }),
            0u);
  const auto posted = vo_test::WithMessage(messages::kOGLInvalidOperation);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].status, VO_CLASS_DEBUG);
  EXPECT_NE(std::fetestexcept(FE_DIVBYZERO), 0);  // the caller's flag is back
  EXPECT_EQ(std::fetestexcept(FE_INVALID), 0);    // and OpenGL's is not passed on
  std::feclearexcept(FE_ALL_EXCEPT);

  // Mode 2: the application's context; only the environment is touched.
  ASSERT_EQ(SetMode(2), 0u);
  ASSERT_EQ(VoOGLDrvImageBegin(), 0u);
  volatile double nan = zero / zero;
  (void)nan;
  ASSERT_EQ(VoOGLDrvImageEnd(), 0u);
  EXPECT_EQ(vo_test::WithMessage(messages::kOGLInvalidOperation).size(), 2u);
  EXPECT_EQ(std::fetestexcept(FE_INVALID), 0);
  EXPECT_EQ(VoOGLDrvSwapBuffers(), 0u);
}

TEST_F(Machine, FailuresOfEGLAreReportedAndLeaveNothingBehind) {
  VtImage *image = Image(4, 4);
  UseImageDriver(image);
  struct Case {
    gl::Call kind;
    uint32_t message;
  } cases[] = {{gl::Call::Create, messages::kOGLTargetNotMade},
               {gl::Call::Framebuffer, messages::kOGLTargetNotMade},
               {gl::Call::MakeCurrent, messages::kOGLMakeCurrentFailed},
               {gl::Call::Release, messages::kOGLReleaseFailed}};
  const int32_t live = gl::LiveContexts();
  for (const Case &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    gl::FailReset();
    vo_test::Recorded().clear();
    gl::FailAt(c.kind, 1);
    VtStatus s = VoOGLDrvImageBegin();
    s |= VoOGLDrvImageEnd();
    EXPECT_EQ(s & 2u, 2u);
    EXPECT_EQ(gl::Current(), nullptr);
    EXPECT_GE(vo_test::WithMessage(c.message).size(), 1u);
    EXPECT_EQ(Context()->targets, nullptr);
    EXPECT_EQ(ogldrv::TargetsReleaseAll(), 0u);
    EXPECT_EQ(gl::LiveContexts(), live);
  }
}

TEST_F(Machine, EveryAllocationFailsOverTargetsAndTheirRelease) {
  VtImage *image = Image(6, 5);
  ASSERT_EQ(VoImageAllocateData(image), 0u);
  VtWindow *w = Window(0, 0, 5, 3);
  ASSERT_EQ(SetMode(1), 0u);
  const int32_t live = gl::LiveContexts();
  EveryAllocationFails([&] {
    VtStatus s = VoOGLDrvImageInitialise(image, 0);
    s |= VoOGLDrvWindowInitialise(w, 0);
    s |= ogldrv::TargetsReleaseAll();
    return s;
  });
  EXPECT_EQ(gl::LiveContexts(), live);
  EXPECT_EQ(Context()->targets, nullptr);
}

TEST_F(Machine, TerminateWithTargetsAliveReleasesThem) {
  VtImage *image = Image(4, 4);
  ASSERT_EQ(SetMode(1), 0u);
  ASSERT_EQ(VoOGLDrvImageInitialise(image, 0), 0u);
  ASSERT_EQ(VoOGLDrvImageBegin(), 0u);  // still current at terminate
  EXPECT_GT(gl::LiveContexts(), contexts_);
  // TearDown terminates and checks that no context is left.
}

}  // namespace
}  // namespace vo::test

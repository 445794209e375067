// An OpenGL frame and a later Direct3D frame in one process: the OpenGL
// frame leaves the application's scene as it was (its quads and its
// polygon are drawn through triangulated copies), so the Direct3D frame
// that follows it is the one a fresh process draws, byte for byte. It was
// not: the OpenGL back end triangulated the primitives in place, and the
// Direct3D back end then drew the library's triangles where it fans each
// polygon itself (a 96 x 80 OpenGL frame changed a 200 x 150 Direct3D frame
// of the group's scene at 1,096 pixels).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "cross_renderer/cross_scene.h"
#include "cross_renderer/renderers.h"

namespace mixed_back_ends {
namespace {

using namespace vo::test;

constexpr int32_t kD3DWidth = 200, kD3DHeight = 150, kGLWidth = 96, kGLHeight = 80;

// A driver that takes the OpenGL frame's rows and keeps none.
VtStatus NoRow(uint32_t, void *) { return 0; }
VtStatus NoRowsLookup(uint32_t set, uint32_t code, VtProc *slot) {
  VtStatus st = RowsLookup(set, code, slot);
  if (code == VO_DRIVER_ROW_BYTES) *slot = reinterpret_cast<VtProc>(&NoRow);
  return st;
}
VtStatus NoRowsQuery(uint32_t query, VtTypedValue *answer) {
  VtStatus st = RowsQuery(query, answer);
  if (query == VO_QUERY_CALLBACK) answer->value.fn = reinterpret_cast<VtProc>(&NoRowsLookup);
  return st;
}

VtStatus OpenGLFrame() {
  VtDriverRecord *driver = VoDriverCreate(&NoRowsQuery);
  VtStatus st = VoViewSetResolution(nullptr, kGLWidth, kGLHeight, 1.0);
  st |= VoDriverSet(driver);
  if (st == 0) st = VoOpenGLInitialise();
  if (st == 0) st = VoExecute(VO_EXECUTE_OPENGL_RENDER);
  VoOpenGLTerminate();
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
  VoDriverDestroy(driver);
  return st;
}

// The type-and-flags word of every primitive of the scene, in order, but
// for the edges bit: a mesh of triangles drawn as strips keeps them and the
// shared edges they are built from, which no back end draws differently.
std::vector<uint32_t> Flags(const CrossScene &scene) {
  std::vector<uint32_t> flags;
  VtReference *node = scene.scene();
  do {
    flags.push_back(VoPrimitiveGetFlags(static_cast<VtPrimitive *>(node->data)) & ~0x100u);
    node = node->next;
  } while (node != scene.scene());
  return flags;
}

// A session of the group's scene: an OpenGL frame first when asked, then
// the Direct3D frame, whose picture is the answer.
Picture Session(bool opengl_first) {
  Picture out(static_cast<size_t>(kD3DWidth) * kD3DHeight * 3, 0);
  EXPECT_EQ(VoInitialise(), 0u);
  {
    CrossScene scene(CrossOptions{});
    EXPECT_TRUE(scene.ok());
    if (opengl_first) {
      const std::vector<uint32_t> before = Flags(scene);
      EXPECT_EQ(OpenGLFrame(), 0u);
      EXPECT_EQ(Flags(scene), before) << "the OpenGL frame changed the application's primitives";
    }
    EXPECT_EQ(VoViewSetResolution(nullptr, kD3DWidth, kD3DHeight, 1.0), 0u);
    EXPECT_EQ(D3DDraw(scene, out, kD3DWidth, kD3DHeight), 0u);
  }
  EXPECT_EQ(VoTerminate(), 0u);
  return out;
}

TEST(MixedBackEnds, ADirect3DFrameAfterAnOpenGLFrameIsTheFrameOfAFreshProcess) {
  // The fresh process: a child forked before this test draws anything.
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const Picture alone = Session(false);
    const ssize_t written = write(pipe_ends[1], alone.data(), alone.size());
    _exit(written == static_cast<ssize_t>(alone.size()) ? 0 : 1);
  }
  close(pipe_ends[1]);
  Picture alone(static_cast<size_t>(kD3DWidth) * kD3DHeight * 3, 0);
  size_t got = 0;
  for (ssize_t n = 1; got < alone.size() && n > 0; got += n > 0 ? static_cast<size_t>(n) : 0)
    n = read(pipe_ends[0], alone.data() + got, alone.size() - got);
  close(pipe_ends[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(got, alone.size());

  const Picture mixed = Session(true);
  size_t differing = 0;
  for (size_t i = 0; i < alone.size(); i += 3) differing += std::memcmp(&alone[i], &mixed[i], 3) != 0;
  EXPECT_EQ(differing, 0u) << "pixels the OpenGL frame changed in the Direct3D frame";
}

}  // namespace
}  // namespace mixed_back_ends

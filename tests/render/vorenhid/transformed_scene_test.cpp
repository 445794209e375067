// Hidden-line and stroke renders, through the C interface alone, of
// triangles that carry transforms (one shared, or one each), or that the
// scene list names twice: the renderer draws world-space copies of the
// first and each of the second once, which must draw what the same
// triangles listed once without transforms draw, whatever hither and yon
// automatic clipping left in the view (also from a call made while no
// primitive list was current, which leaves a slab 0.001 deep, 1 from the
// eye) and on any worker count.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include <vo/vo_api.h>

#include "render/vorenhid/line_capture.h"

namespace {

using namespace line_capture;

struct Camera {
  std::array<float, 3> eye, reference;
  int projection;
  double angle;
  bool clip_before_list;  // automatic clipping while no list is current
};

// What a render answered and left.
struct Outcome {
  VtStatus status = 0;
  std::vector<Segment> lines;
  std::vector<float> picture;
};

enum class Transforms { kNone, kShared, kOwn, kListedTwice };

// Triangle (x, y, z, s): corners (x - s, y - s, z), (x + s, y - s, z),
// (x, y + s, z + 0.3 s).
VtPrimitive *Triangle(const std::array<float, 4> &t) {
  const float x = t[0], y = t[1], z = t[2], s = t[3];
  float corners[9] = {x - s, y - s, z, x + s, y - s, z, x, y + s, z + 0.3f * s};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1]{};
  data[0].type = VtGenericPtr;
  data[0].value.p = corners;
  return VoPrimitiveCreatePolygon(3, 1, ids, data);
}

constexpr uint32_t kWidth = 48, kHeight = 33;

std::vector<float> Picture(VtScreenBuffer *buffer) {
  std::vector<float> out;
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      VtTypedValue p{};
      EXPECT_EQ(VoScreenBufferGetPixel(buffer, VO_SB_COLOUR, x, y, &p), 0u);
      out.insert(out.end(), p.value.v, p.value.v + 3);
    }
  return out;
}

// The scene made from nothing in a started library, rendered by the code
// on the worker count.
Outcome Render(const Camera &c, const std::vector<std::array<float, 4>> &triangles, Transforms transforms,
               uint32_t code, int32_t workers) {
  Outcome o;
  EXPECT_EQ(StartedQuietOn(workers), 0u);
  VtScreenBuffer *buffer = nullptr;
  EXPECT_EQ(BufferMadeCurrent(kWidth, kHeight, &buffer), 0u);
  const float up[3] = {0, 1, 0};
  EXPECT_EQ(VoViewSetResolution(nullptr, kWidth, kHeight, 1.0), 0u);
  EXPECT_EQ(VoViewSetPinhole(nullptr, c.eye.data(), c.reference.data(), up, c.projection, c.angle), 0u);
  if (c.clip_before_list) {
    EXPECT_EQ(VoViewAutoClipping(nullptr), 0u);
  }
  std::vector<VtPrimitive *> made;
  std::vector<VtTransform *> held;
  for (const auto &t : triangles) {
    made.push_back(Triangle(t));
    if (transforms == Transforms::kNone || transforms == Transforms::kListedTwice) continue;
    if (held.empty() || transforms == Transforms::kOwn) held.push_back(VoTransformCreate());
    EXPECT_EQ(VoPrimitiveSetTransform(made.back(), held.back()), 0u);
  }
  std::vector<VtPrimitive *> listed = made;
  if (transforms == Transforms::kListedTwice) listed.insert(listed.end(), made.begin(), made.end());
  VtReference *list = VoPrimitiveListCreate(static_cast<uint32_t>(listed.size()), listed.data());
  EXPECT_EQ(VoPrimitiveListSet(list), 0u);
  if (!c.clip_before_list) {
    EXPECT_EQ(VoViewAutoClipping(nullptr), 0u);
  }
  EXPECT_EQ(VoCallBackSet(VO_DRIVER_DRAW, reinterpret_cast<VtProc>(&LineDraw)), 0u);
  g_lines.clear();
  o.status = VoExecute(code);
  o.lines = g_lines;
  std::sort(o.lines.begin(), o.lines.end());
  o.picture = Picture(buffer);
  (void)VoScreenBufferSet(nullptr);
  (void)VoPrimitiveListSet(nullptr);
  (void)VoReferenceListDestroy(list, nullptr);
  for (VtPrimitive *p : made) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  for (VtTransform *t : held) EXPECT_EQ(VoTransformDestroy(t), 0u);
  EXPECT_EQ(VoScreenBufferDestroy(buffer), 0u);
  EXPECT_EQ(VoTerminate(), 0u);
  return o;
}

void ExpectSameLines(const std::vector<Segment> &a, const std::vector<Segment> &b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i)
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(a[i][k], b[i][k], 1e-5f) << i;
}

TEST(TransformedScene,
     TrianglesWithTransformsOrListedTwiceDrawWhatTheSameTrianglesListedOnceDrawUnderAnyClipping) {
  const std::vector<std::array<float, 4>> pair = {{0.64692f, 0.01508f, -0.2358f, 1.01928f},
                                                  {1.13496f, 0.09508f, 0.31392f, 0.622218f}};
  // A third, smaller triangle in front of both, so that one hides part of
  // another.
  const std::vector<std::array<float, 4>> three = {pair[0], pair[1], {0.9f, 0.2f, 0.8f, 0.3f}};
  struct Case {
    const char *what;
    Camera camera;
    const std::vector<std::array<float, 4>> *triangles;
  };
  const Camera far_eye{
      {-3.711f, -0.7789f, 6.7717f}, {0.8238f, -0.6821f, 0.2226f}, VO_PROJECTION_PERSPECTIVE, 65.743, true};
  Camera fitted = far_eye;
  fitted.clip_before_list = false;
  // Close enough that the window cuts every triangle.
  const Camera near_eye{{0.9f, 0.05f, 2.2f}, {0.9f, 0.05f, 0}, VO_PROJECTION_PERSPECTIVE, 40, false};
  Camera near_slab = near_eye;
  near_slab.clip_before_list = true;
  const Camera parallel{{0.9f, 0.05f, 5}, {0.9f, 0.05f, 0}, VO_PROJECTION_PARALLEL, 1.2, false};
  const Case cases[] = {
      {"clipped while no list was current", far_eye, &pair},
      {"clipped to the triangles", fitted, &pair},
      {"window cutting the triangles", near_eye, &pair},
      {"window cutting three triangles", near_eye, &three},
      {"near, clipped while no list was current", near_slab, &three},
      {"parallel, window cutting three triangles", parallel, &three},
  };
  for (const Case &c : cases)
    for (uint32_t code : {VO_EXECUTE_HIDDEN_LINE, VO_EXECUTE_HIDDEN_LINE_TWO_PASS, VO_EXECUTE_NPR_STROKES}) {
      const Outcome plain = Render(c.camera, *c.triangles, Transforms::kNone, code, 0);
      // Every view sees a piece of some triangle, even through the slab.
      const bool drawn =
          code == VO_EXECUTE_NPR_STROKES
              ? std::any_of(plain.picture.begin(), plain.picture.end(), [](float f) { return f > 0; })
              : !plain.lines.empty();
      EXPECT_TRUE(drawn) << c.what << std::hex << ", code 0x" << code;
      for (Transforms t :
           {Transforms::kNone, Transforms::kShared, Transforms::kOwn, Transforms::kListedTwice})
        for (int32_t workers : {0, 4}) {
          if (t == Transforms::kNone && workers == 0) continue;
          SCOPED_TRACE(::testing::Message()
                       << c.what << std::hex << ", code 0x" << code << std::dec << ", transforms "
                       << static_cast<int>(t) << ", " << workers << " workers");
          const Outcome o = Render(c.camera, *c.triangles, t, code, workers);
          EXPECT_EQ(o.status, plain.status);
          ExpectSameLines(o.lines, plain.lines);
          EXPECT_EQ(o.picture, plain.picture);
        }
    }
}

}  // namespace

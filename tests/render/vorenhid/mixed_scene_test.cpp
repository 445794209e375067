// Hidden-line and stroke renders, through the C interface alone, of scenes
// that mix polygon primitives with meshes, copies and coincident faces. A
// table of scenes (triangles, cubes, squares) is built four ways: every
// flat part a one-face mesh beside the cubes, every flat part a polygon
// primitive beside them, each part after the first with a copy
// (VoPrimitiveCopy) listed before it, and each part made twice anew. The
// renderer keys what it keeps on a primitive by the layout of its record,
// which differs between a polygon and a mesh, and lists occluders with one
// plane and outline side by side; whichever way a scene is built it draws
// what the scene of one-face meshes draws (the same segments, once or
// more), on no worker and on four alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <random>
#include <vector>

#include <vo/vo_api.h>

#include "render/vorenhid/line_capture.h"

namespace {

using namespace line_capture;

// A part of a scene: a triangle (x, y, z, s) with corners (x - s, y - s, z),
// (x + s, y - s, z), (x, y + s, z + 0.3 s); a cube of half-side s centred
// at (x, y, z); or a square of half-side s at height z facing +z.
struct Part {
  enum Kind { kTriangle, kCube, kSquare } kind;
  std::array<float, 4> at;
};

struct Scene {
  const char *what;
  std::vector<Part> parts;
  std::array<float, 3> eye;
  uint32_t output_mask;
};

enum class Way { kMeshes, kPolygons, kCopies, kCoincident };

VtPrimitive *Make(const Part &part, bool polygon) {
  const auto [x, y, z, s] = part.at;
  std::vector<float> corners;
  std::vector<int32_t> counts, indices;
  if (part.kind == Part::kCube) {
    for (int i = 0; i < 8; ++i)
      corners.insert(corners.end(),
                     {(i & 1) ? x + s : x - s, (i & 2) ? y + s : y - s, (i & 4) ? z + s : z - s});
    counts.assign(6, 4);
    indices = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  } else if (part.kind == Part::kTriangle) {
    corners = {x - s, y - s, z, x + s, y - s, z, x, y + s, z + 0.3f * s};
    counts = {3};
    indices = {0, 1, 2};
  } else {
    corners = {x - s, y - s, z, x + s, y - s, z, x + s, y + s, z, x - s, y + s, z};
    counts = {4};
    indices = {0, 1, 2, 3};
  }
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1]{};
  data[0].type = VtGenericPtr;
  data[0].value.p = corners.data();
  if (polygon && part.kind != Part::kCube)
    return VoPrimitiveCreatePolygon(static_cast<uint32_t>(indices.size()), 1, ids, data);
  return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                               1, ids, data);
}

constexpr uint32_t kWidth = 64, kHeight = 48;

struct Outcome {
  VtStatus status = 0;
  std::vector<Segment> lines;  // sorted
  std::vector<float> picture;
};

// The scene built one way in a started library, rendered by the code on
// the worker count.
Outcome Render(const Scene &scene, Way way, uint32_t code, int32_t workers) {
  Outcome o;
  EXPECT_EQ(StartedQuietOn(workers), 0u);
  VtTypedValue v{};
  v.type = VtFlags;
  v.value.u = scene.output_mask;
  EXPECT_EQ(VoControlSet(VO_CONTROL_HL_OUTPUT_MASK, &v), 0u);
  VtScreenBuffer *buffer = nullptr;
  EXPECT_EQ(BufferMadeCurrent(kWidth, kHeight, &buffer), 0u);
  std::vector<VtPrimitive *> made, listed;
  for (size_t i = 0; i < scene.parts.size(); ++i) {
    VtPrimitive *p = Make(scene.parts[i], way != Way::kMeshes);
    made.push_back(p);
    if (way == Way::kCopies && i > 0) made.push_back(VoPrimitiveCopy(p, nullptr));
    if (way == Way::kCoincident) made.push_back(Make(scene.parts[i], true));
    EXPECT_NE(made.back(), nullptr);
    // A copy is listed before the part it copies.
    listed.insert(listed.end(), made.rbegin(),
                  made.rbegin() + static_cast<std::ptrdiff_t>(made.size() - listed.size()));
  }
  VtReference *list = VoPrimitiveListCreate(static_cast<uint32_t>(listed.size()), listed.data());
  const float origin[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  EXPECT_EQ(VoPrimitiveListSet(list) | VoViewSetResolution(nullptr, kWidth, kHeight, 1.0) |
                VoViewSetPinhole(nullptr, scene.eye.data(), origin, up, VO_PROJECTION_PERSPECTIVE, 45.0) |
                VoViewAutoClipping(nullptr),
            0u);
  EXPECT_EQ(VoCallBackSet(VO_DRIVER_DRAW, reinterpret_cast<VtProc>(&LineDraw)), 0u);
  g_lines.clear();
  o.status = VoExecute(code);
  o.lines = g_lines;
  std::sort(o.lines.begin(), o.lines.end());
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      VtTypedValue p{};
      EXPECT_EQ(VoScreenBufferGetPixel(buffer, VO_SB_COLOUR, x, y, &p), 0u);
      o.picture.insert(o.picture.end(), p.value.v, p.value.v + 3);
    }
  (void)VoScreenBufferSet(nullptr);
  (void)VoPrimitiveListSet(nullptr);
  (void)VoReferenceListDestroy(list, nullptr);
  for (VtPrimitive *p : made) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_EQ(VoScreenBufferDestroy(buffer), 0u);
  EXPECT_EQ(VoTerminate(), 0u);
  return o;
}

// The segments drawn, each once.
std::vector<Segment> Distinct(std::vector<Segment> lines) {
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  return lines;
}

void ExpectSameLines(const std::vector<Segment> &a, const std::vector<Segment> &b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i)
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(a[i][k], b[i][k], 1e-5f) << i;
}

std::vector<Scene> Scenes() {
  std::vector<Scene> out = {
      {"the triangle beside a cube and its copy",
       {{Part::kTriangle, {0.4468f, -1.33432f, 1.09264f, 0.574293f}},
        {Part::kCube, {0.89816f, -1.07672f, -1.60584f, 0.325596f}}},
       {4, 3, 6},
       8},
      {"a cube behind a larger square",
       {{Part::kSquare, {0, 0, 1.5f, 1.5f}}, {Part::kCube, {0.2f, 0.1f, 0, 0.5f}}},
       {0.3f, 0.2f, 6},
       9},
  };
  // Seeded rows: a triangle, two cubes and a square anywhere near the origin.
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> at(-1.5f, 1.5f), size(0.2f, 0.9f);
    Scene s{"seeded", {}, {4, 3, 6}, seed % 2 == 0 ? 9u : 8u};
    for (Part::Kind k : {Part::kTriangle, Part::kCube, Part::kSquare, Part::kCube})
      s.parts.push_back({k, {at(random), at(random), at(random), size(random)}});
    out.push_back(s);
  }
  return out;
}

TEST(MixedScene, PolygonsBesideMeshesCopiesAndCoincidentFacesDrawWhatOneFaceMeshesDrawOnAnyWorkerCount) {
  for (const Scene &scene : Scenes())
    for (uint32_t code : {VO_EXECUTE_HIDDEN_LINE, VO_EXECUTE_HIDDEN_LINE_TWO_PASS, VO_EXECUTE_NPR_STROKES}) {
      SCOPED_TRACE(::testing::Message() << scene.what << std::hex << ", code 0x" << code);
      const Outcome meshes = Render(scene, Way::kMeshes, code, 0);
      EXPECT_EQ(meshes.status, 0u);
      EXPECT_TRUE(code == VO_EXECUTE_NPR_STROKES ? std::any_of(meshes.picture.begin(), meshes.picture.end(),
                                                               [](float f) { return f > 0; })
                                                 : !meshes.lines.empty());
      for (Way way : {Way::kMeshes, Way::kPolygons, Way::kCopies, Way::kCoincident}) {
        SCOPED_TRACE(::testing::Message() << "way " << static_cast<int>(way));
        const Outcome alone = way == Way::kMeshes ? meshes : Render(scene, way, code, 0);
        const Outcome threaded = Render(scene, way, code, 4);
        EXPECT_EQ(threaded.status, alone.status);
        EXPECT_EQ(threaded.lines, alone.lines);
        EXPECT_EQ(threaded.picture, alone.picture);
        EXPECT_EQ(alone.status, 0u);
        EXPECT_EQ(alone.picture, meshes.picture);
        // Copies and coincident faces draw their segments once each.
        if (way == Way::kMeshes || way == Way::kPolygons)
          ExpectSameLines(alone.lines, meshes.lines);
        else
          ExpectSameLines(Distinct(alone.lines), Distinct(meshes.lines));
      }
    }
}

}  // namespace

// The standard renderer over the real driver framework, views, geometry,
// polygons and shader kernel with the super-lite shader library: scenes of
// polygons placed by pixel (unprojected from the current view), a material
// whose reflectance answers the vertex colour, and the rows the render
// writes, caught from the framework's row operations.
#pragma once

#include <array>
#include <map>
#include <vector>

#include "support/scene_fixture.h"
#include "support/shader_fixture.h"
#include "render/vorenstd/renderer.h"

namespace vo::test {

using Pixel = std::array<float, 4>;

// What the driver is handed: frames begun and the rows by y, as floats.
struct Output {
  static inline std::vector<std::array<int32_t, 4>> frames;
  static inline int frame_ends = 0;
  static inline std::map<uint32_t, std::vector<Pixel>> rows;
  static inline std::vector<uint32_t> order;  // y of every row, in order
  static inline uint32_t width = 0;
  static inline VtStatus row_answer = 0;

  static void Reset(uint32_t w) {
    frames.clear();
    rows.clear();
    order.clear();
    frame_ends = 0;
    width = w;
    row_answer = 0;
  }
  static VtStatus Frame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    frames.push_back({x0, x1, y0, y1});
    return RecordingDriver::frame_answer;
  }
  static VtStatus FrameEnd() { return ++frame_ends, 0; }
  template <int kComponents, class T>
  static VtStatus Row(uint32_t y, void *data) {
    std::vector<Pixel> row(width);
    const T *p = static_cast<const T *>(data);
    for (uint32_t x = 0; x < width; ++x)
      for (int c = 0; c < kComponents; ++c) row[x][c] = static_cast<float>(p[x * kComponents + c]);
    rows[y] = row;
    order.push_back(y);
    return row_answer;
  }
  static void Install() {
    VoCallBackSet(VO_DRIVER_BEGIN_FRAME, reinterpret_cast<VtProc>(&Frame));
    VoCallBackSet(VO_DRIVER_END_FRAME, reinterpret_cast<VtProc>(&FrameEnd));
    VoCallBackSet(VO_DRIVER_ROW_BYTES, reinterpret_cast<VtProc>(&Row<3, uint8_t>));
    VoCallBackSet(VO_DRIVER_ROW_FLOAT, reinterpret_cast<VtProc>(&Row<3, float>));
    VoCallBackSet(VO_DRIVER_ROW_FLOAT_RGBA, reinterpret_cast<VtProc>(&Row<4, float>));
  }
};

// A reflectance that answers the point's colour input Ci.
inline VtStatus CiEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  for (int i = 0; i < 3; ++i) g->Co[i] = g->Ci[i];
  return 0;
}

// The test class's entries with the evaluate entry given.
inline std::vector<std::pair<uint32_t, VtProc>> EvaluatingBy(VtShaderDataProc evaluate) {
  auto entries = TestEntries();
  for (auto &e : entries)
    if (e.first == VO_SLOT_EVALUATE) e.second = reinterpret_cast<VtProc>(evaluate);
  return entries;
}

class RendererTest : public SceneTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryView, &VoEntryGeometry, &VoEntryTransforms,
                  &VoEntryPolygons, &VoEntryShader, &VoEntrySuperLiteShaders, &VoEntryStandardRenderer});
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_REFLECTANCE, "vertexci", 1, EvaluatingBy(&CiEvaluate)), 0u);
    material_ = VoMaterialCreate();
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "vertexci"), 0u);
    View(20, 10);
  }
  void TearDown() override {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    for (VtPrimitive *p : owned_) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
    VoMaterialDestroy(material_);
    SceneTest::TearDown();
  }
  void View(uint32_t w, uint32_t h) {
    ASSERT_EQ(VoViewSetResolution(nullptr, w, h, 1.0), 0u);
    Output::Reset(w);
    Output::Install();
  }
  static VtStatus Set(uint32_t code, uint32_t value, uint32_t type = VtNat32) {
    const VtTypedValue v = TypedWord(type, value);
    return VoControlSet(code, &v);
  }
  // The world point at pixel position (x, y) of the current view and screen
  // depth z.
  static std::array<float, 3> At(float x, float y, float z) {
    int32_t resolution[2];
    VtTypedValue v{};
    EXPECT_EQ(VoViewEvaluate(nullptr), 0u);
    EXPECT_EQ(VoViewGetValue(VO_VIEW_VALUE_RESOLUTION, &v), 0u);
    std::memcpy(resolution, v.value.p, sizeof resolution);
    const float projected[4] = {x / resolution[0], y / resolution[1], z, 1.0f};
    std::array<float, 3> world{};
    EXPECT_EQ(VoCurrentViewUnprojectPoint(projected, world.data()), 0u);
    return world;
  }
  // A polygon through pixel positions {x, y} at depth z, its vertices
  // coloured; vertex normals when asked.
  VtPrimitive *Polygon(const std::vector<std::array<float, 2>> &points, float z,
                       const std::vector<std::array<float, 3>> &colours, bool normals = false) {
    Positions xyz, rgb, up;
    for (size_t i = 0; i < points.size(); ++i) {
      xyz.push_back(At(points[i][0], points[i][1], z));
      rgb.push_back(colours[i % colours.size()]);
      up.push_back({1, 0, 0});
    }
    const uint32_t ids[3] = {VO_VERT_WORLD, VO_VERT_COLOUR, VO_VERT_NORMAL};
    const VtTypedValue data[3] = {PropertyRecord(xyz.data()), PropertyRecord(rgb.data()),
                                  PropertyRecord(up.data())};
    VtPrimitive *p = VoPrimitiveCreatePolygon(static_cast<uint32_t>(xyz.size()), normals ? 3 : 2, ids, data);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(VoPrimitiveSetMaterial(p, material_), 0u);
    owned_.push_back(p);
    return p;
  }
  // A rectangle of pixel corners (x0, y0)-(x1, y1) in one colour, facing
  // the eye.
  VtPrimitive *Rectangle(float x0, float y0, float x1, float y1, float z, std::array<float, 3> colour) {
    return Polygon({{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}}, z, {colour});
  }
  void Scene(std::vector<VtPrimitive *> primitives) {
    VoPrimitiveListSet(nullptr);
    VoReferenceListDestroy(scene_, nullptr);
    scene_ = VoPrimitiveListCreate(static_cast<uint32_t>(primitives.size()), primitives.data());
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }
  // Row y as text: one character per pixel, '.' for black, else the
  // first letter of the largest channel.
  static std::string Text(uint32_t y) {
    std::string out;
    for (const Pixel &p : Output::rows[y]) {
      const float m = std::max({p[0], p[1], p[2]});
      out += m <= 0 ? '.' : (m == p[0] ? 'r' : (m == p[1] ? 'g' : 'b'));
    }
    return out;
  }

  VtMaterial *material_ = nullptr;
  std::vector<VtPrimitive *> owned_;
  VtReference *scene_ = nullptr;
};

}  // namespace vo::test

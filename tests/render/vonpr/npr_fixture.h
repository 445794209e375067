// The whole library started (VoInitialise) with the recording driver made
// current, diagnostics recorded, and helpers that build the scenes, views
// and edges the NPR tests draw.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include <vo/vo_hidden_line.h>
#include <vo/vo_npr.h>
#include <vo/vo_view.h>

#include "support/kernel_fixture.h"
#include "support/face_mesh.h"
#include "support/recording_driver.h"
#include "render/vonpr/npr.h"

namespace vo::test {

class NprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    g_posted.clear();
    RecordingDriver::Reset();
    recorder_ = VoDriverCreate(&RecordingDriver::DriverQuery);
    ASSERT_NE(recorder_, nullptr);
    ASSERT_EQ(VoDriverSet(recorder_), 0u);
    c_ = npr::ContextGet();
    ASSERT_NE(c_, nullptr);
  }
  void TearDown() override {
    if (image_ != nullptr) (void)VoImageDestroy(image_);
    (void)VoPrimitiveListSet(nullptr);
    (void)VoReferenceListDestroy(scene_, nullptr);
    for (VtPrimitive *p : owned_) (void)VoPrimitiveDestroy(p);
    EXPECT_EQ(VoTerminate(), 0u);
  }

 public:
  VtPrimitive *Mesh(const std::vector<std::array<float, 3>> &xyz,
                    const std::vector<std::vector<int32_t>> &faces) {
    VtPrimitive *p = FaceMesh(xyz, faces);
    EXPECT_NE(p, nullptr);
    owned_.push_back(p);
    return p;
  }
  // The unit cube [0, 1]^3, faces turned outwards.
  VtPrimitive *Cube() {
    std::vector<std::array<float, 3>> c;
    for (int i = 0; i < 8; ++i) c.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
    return Mesh(c, {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}});
  }
  void Scene(std::vector<VtPrimitive *> primitives) {
    (void)VoPrimitiveListSet(nullptr);
    (void)VoReferenceListDestroy(scene_, nullptr);
    scene_ = VoPrimitiveListCreate(static_cast<uint32_t>(primitives.size()), primitives.data());
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
  }
  static void View(std::array<float, 3> eye, std::array<float, 3> at, uint32_t x = 160, uint32_t y = 120,
                   int kind = VO_PROJECTION_PERSPECTIVE, double angle = 45.0,
                   std::array<float, 3> up = {0, 1, 0}) {
    ASSERT_EQ(VoViewSetResolution(nullptr, x, y, 1.0), 0u);
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye.data(), at.data(), up.data(), kind, angle), 0u);
  }
  // The hidden-line renderer's candidates: silhouettes and the edges
  // between two faces turned to the eye too.
  static void FrontEdgesToo() {
    const VtTypedValue v = TypedWord(VtFlags, 0x216);
    ASSERT_EQ(VoControlSet(VO_CONTROL_HL_CANDIDATE_MASK, &v), 0u);
  }
  // The image driver made current, drawing into an image of the view's
  // size.
  VtImage *ImageTarget(uint32_t x, uint32_t y) {
    image_ = VoImageCreate();
    EXPECT_NE(image_, nullptr);
    image_->width = x;
    image_->height = y;
    EXPECT_EQ(VoImageAllocateData(image_), 0u);
    EXPECT_EQ(VoDriverSet(VoDriverFindFromName("vodrvimg")), 0u);
    const VtTypedValue v = TypedPointer(image_);
    EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v), 0u);
    return image_;
  }
  static VtStatus SetFloat(uint32_t code, float f) {
    const VtTypedValue v = TypedFloat(f);
    return VoControlSet(code, &v);
  }
  static VtStatus SetBool(uint32_t code, bool b) {
    const VtTypedValue v = TypedBoolean(b);
    return VoControlSet(code, &v);
  }
  static VtTypedValue Get(uint32_t code) {
    VtTypedValue v{};
    EXPECT_EQ(VoControlGet(code, &v), 0u) << std::hex << code;
    return v;
  }
  // An edge of the points (three floats each).
  static VtNPREdge *Edge(const std::vector<std::array<float, 3>> &points, void *owner = nullptr,
                         uint32_t user = 0) {
    return VoNPREdgeCreateFromPoints(points.empty() ? nullptr : points[0].data(),
                                     static_cast<uint32_t>(points.size()), static_cast<VtPrimitive *>(owner),
                                     user);
  }
  static VtReference *List(std::vector<VtNPREdge *> edges) {
    VtReference *list = nullptr;
    for (VtNPREdge *e : edges) list = VoNPREdgeReferenceAppend(list, VoNPREdgeReferenceCreate(e));
    return list;
  }
  static std::vector<VtNPREdge *> Edges(VtReference *list) {
    std::vector<VtNPREdge *> out;
    if (list == nullptr) return out;
    VtReference *n = list;
    do {
      n = n->next;
      out.push_back(static_cast<VtNPREdge *>(n->data));
    } while (n != list);
    return out;
  }
  static double Length(const VtNPREdge *e) {
    double l = 0;
    for (uint32_t i = 0; i + 1 < e->count; ++i) {
      double d = 0;
      for (int k = 0; k < 3; ++k) d += std::pow(double{e->points[(i + 1) * 3 + k]} - e->points[i * 3 + k], 2);
      l += std::sqrt(d);
    }
    return l;
  }
  static uint32_t LiveEdges(npr::Context *c) { return static_cast<uint32_t>(c->registers->edges.size()); }

 protected:
  VtDriverRecord *recorder_ = nullptr;
  VtImage *image_ = nullptr;
  npr::Context *c_ = nullptr;
  VtReference *scene_ = nullptr;
  std::vector<VtPrimitive *> owned_;
  std::vector<VtShader *> shaders_;
};

}  // namespace vo::test

// Second-pass tests on edges made by hand over a 1024 x 768 image (500 x
// 500 grid, pixels of 1/1024 by 1/768 in edge coordinates 0..1), drawing
// through the recording driver's operations.
#pragma once

#include "render/vorenhid/hidden_line_fixture.h"
#include "render/vorenhid/second_pass.h"

namespace vo::test {

using hid::VtHiddenLineEdge;

inline VtPrimitive *const kA = reinterpret_cast<VtPrimitive *>(0x1000);
inline VtPrimitive *const kB = reinterpret_cast<VtPrimitive *>(0x2000);

class GridTest : public HiddenLineTest {
 protected:
  void SetUp() override {
    HiddenLineTest::SetUp();
    s_ = hid::State();
    s_->cb.draw = &RecordingDriver::Draw;
    s_->cb.stroke_begin = &RecordingDriver::Run;
    s_->cb.stroke_end = &RecordingDriver::End;
    s_->cb.pen = &RecordingDriver::Style;
    Start(1024, 768);
  }
  void TearDown() override {
    if (!standing_) hid::SecondPassRelease(s_);
    HiddenLineTest::TearDown();  // terminates the module (and what still stands)
  }
  void Start(uint32_t w, uint32_t h, const uint32_t *viewport = nullptr) {
    hid::SecondPassRelease(s_);
    ASSERT_EQ(VoViewSetResolution(nullptr, w, h, 1.0), 0u);
    if (viewport != nullptr) {
      ASSERT_EQ(VoViewSetViewport(nullptr, viewport), 0u);
    }
    (void)VoViewEvaluate(nullptr);
    ASSERT_EQ(hid::SecondPassBegin(s_), 0u);
    ASSERT_EQ(hid::BucketStart(s_), 0u);
  }
  // An edge from (x0, y0) at depth z0 to (x1, y1) at depth z1.
  VtHiddenLineEdge *Edge(float x0, float y0, float x1, float y1, uint32_t flags = 8, VtPrimitive *p = kA,
                         float z0 = 0.5f, float z1 = 0.5f, uint32_t ordinal = 0) {
    VtHiddenLineEdge *e = hid::EdgeNew(s_);
    EXPECT_NE(e, nullptr);
    *e = VtHiddenLineEdge{
        p,       nullptr, 0,       flags,  ordinal, {{x0, y0, z0, 1}, {x1, y1, z1, 1}}, {{-1, -1}, {-1, -1}},
        nullptr, nullptr, nullptr, nullptr};
    return e;
  }
  VtHiddenLineEdge *Admit(VtHiddenLineEdge *e) {
    EXPECT_EQ(hid::EdgeAdmit(s_, e), 0u);
    return e;
  }
  // The grid's edges, lowest row and column first.
  std::vector<VtHiddenLineEdge *> InGrid() const {
    std::vector<VtHiddenLineEdge *> out;
    const hid::VtHiddenLineGrid &g = s_->grid;
    for (int32_t r = 0; r <= g.rows; ++r)
      for (int32_t c = 0; c <= g.columns; ++c)
        if (hid::VtHiddenLineCell *cell = *hid::BucketSlot(g, c, r))
          for (VtHiddenLineEdge *e = cell->first[0]; e != nullptr; e = e->line->next[0]) out.push_back(e);
    return out;
  }
  static int Sources(const VtHiddenLineEdge *e) {
    int n = 0;
    for (e = e->next_source; e != nullptr; e = e->next_source) ++n;
    return n;
  }
  hid::VtHiddenLineContext *s_ = nullptr;
  bool standing_ = false;
};

}  // namespace vo::test

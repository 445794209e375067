// The scene objects' types through memory hooks: a transform's matrix and a
// view's pinhole and resolution read back, and one object written twice is
// stored once.
#include <gtest/gtest.h>

#include "io/voobject/object_fixture.h"

namespace vo::test {
namespace {

class SceneTypesTest : public ObjectTest {
 protected:
  void SetUp() override {
    ObjectTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryTransforms), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntryView), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
  }
  static VtObjectValue Object(uint32_t type, void *object) {
    VtObjectValue v = ObjectValue(type);
    v.value.p = object;
    return v;
  }
};

TEST_F(SceneTypesTest, ARotationsMatrixComesBackBitExactAndSharedOnce) {
  VtTransform *t = VoTransformCreate();
  const double point[3] = {1, 2, 3}, axis[3] = {0.3, 0.4, 0.5};
  ASSERT_EQ(VoTransformRotateAxis(t, point, axis, 37.5), 0u);
  MemoryFile f;
  ASSERT_EQ(Write(&f,
                  [&](MemoryFile *m) {
                    return WriteValue(m, Object(VO_OBJECT_TRANSFORM, t)) |
                           WriteValue(m, Object(VO_OBJECT_TRANSFORM, t)) |
                           WriteValue(m, Object(VO_OBJECT_TRANSFORM, nullptr));
                  }),
            0u);
  std::vector<VtObjectValue> read;
  ASSERT_EQ(ReadAll(&f, &read), 0u);
  ASSERT_EQ(read.size(), 3u);
  auto *back = static_cast<VtTransform *>(read[0].value.p);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(read[1].value.p, back);
  EXPECT_EQ(read[2].value.p, nullptr);
  double a[16], b[16];
  ASSERT_EQ(VoTransformGetMatrix(t, a), 0u);
  ASSERT_EQ(VoTransformGetMatrix(back, b), 0u);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
  EXPECT_EQ(VoTransformDestroy(back), 0u);
  EXPECT_EQ(VoTransformDestroy(t), 0u);
}

TEST_F(SceneTypesTest, AViewKeepsItsPinholeAndResolution) {
  VtView *view = VoViewCreate();
  ASSERT_NE(view, nullptr);
  const float eye[3] = {1, 2, 3}, reference[3] = {0, 0.5f, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetPinhole(view, eye, reference, up, 2, 45.5), 0u);
  ASSERT_EQ(VoViewSetResolution(view, 160, 120, 1.25), 0u);
  MemoryFile f;
  ASSERT_EQ(Write(&f, [&](MemoryFile *m) { return WriteValue(m, Object(VO_OBJECT_VIEW, view)); }), 0u);
  std::vector<VtObjectValue> read;
  ASSERT_EQ(ReadAll(&f, &read), 0u);
  ASSERT_EQ(read.size(), 1u);
  auto *back = static_cast<VtView *>(read[0].value.p);
  ASSERT_NE(back, nullptr);
  float e[3], r[3], u[3];
  int32_t kind = 0;
  double angle = 0, aspect = 0;
  uint32_t x = 0, y = 0;
  ASSERT_EQ(VoViewGetPinhole(back, e, r, u, &kind, &angle), 0u);
  ASSERT_EQ(VoViewGetResolution(back, &x, &y, &aspect), 0u);
  EXPECT_EQ(std::vector<float>(e, e + 3), std::vector<float>(eye, eye + 3));
  EXPECT_EQ(std::vector<float>(r, r + 3), std::vector<float>(reference, reference + 3));
  EXPECT_EQ(std::vector<float>(u, u + 3), std::vector<float>(up, up + 3));
  EXPECT_EQ(kind, 2);
  EXPECT_EQ(angle, 45.5);
  EXPECT_EQ(x, 160u);
  EXPECT_EQ(y, 120u);
  EXPECT_EQ(aspect, 1.25);
  EXPECT_EQ(VoViewDestroy(back), 0u);
  EXPECT_EQ(VoViewDestroy(view), 0u);
}

// Every prefix of a file of a transform and a view: a failure or the
// records, never a finding.
TEST_F(SceneTypesTest, TruncatedSceneRecordsFailCleanly) {
  VtTransform *t = VoTransformCreate();
  VtView *view = VoViewCreate();
  MemoryFile f;
  ASSERT_EQ(Write(&f,
                  [&](MemoryFile *m) {
                    return WriteValue(m, Object(VO_OBJECT_TRANSFORM, t)) |
                           WriteValue(m, Object(VO_OBJECT_VIEW, view));
                  }),
            0u);
  for (size_t n = 0; n < f.bytes.size(); n += 3) {
    MemoryFile g;
    g.bytes.assign(f.bytes.begin(), f.bytes.begin() + static_cast<long>(n));
    std::vector<VtObjectValue> read;
    (void)ReadAll(&g, &read);
    for (const VtObjectValue &v : read) {
      if (v.type == VO_OBJECT_TRANSFORM) (void)VoTransformDestroy(static_cast<VtTransform *>(v.value.p));
      if (v.type == VO_OBJECT_VIEW) (void)VoViewDestroy(static_cast<VtView *>(v.value.p));
    }
  }
  EXPECT_EQ(VoViewDestroy(view), 0u);
  EXPECT_EQ(VoTransformDestroy(t), 0u);
}

}  // namespace
}  // namespace vo::test

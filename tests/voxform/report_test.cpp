// The debug reports of transforms, as the default handler prints them.

#include <cstdio>
#include <string>

#include "transform_fixture.h"

namespace vo::test {
namespace {

class ReportTest : public TransformTest {
 protected:
  void SetUp() override {
    TransformTest::SetUp();
    stream_ = std::tmpfile();
    ASSERT_NE(stream_, nullptr);
    VtTypedValue v = TypedPointer(stream_);
    ASSERT_EQ(VoControlSet(VO_CONTROL_ERROR_STREAM, &v), 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoErrorHandlerDefault)), 0u);
  }
  void TearDown() override {
    VtTypedValue v = TypedPointer(nullptr);
    VoControlSet(VO_CONTROL_ERROR_STREAM, &v);
    VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&RecordingHandler));
    std::fclose(stream_);
    TransformTest::TearDown();
  }
  // What was printed since the last call.
  std::string Printed() {
    std::string all = vo_test::Contents(stream_);
    std::string fresh = all.substr(seen_);
    seen_ = all.size();
    return fresh;
  }
  static std::string Line(uint32_t message, const std::string &args) {
    return "DEBUG:  Module 15, diagnostic code " + std::to_string(message) + " [" + args + " ]\n";
  }
  static std::string Address(const void *p) {
    char text[32];
    std::snprintf(text, sizeof text, " %p", p);
    return text;
  }

 private:
  std::FILE *stream_ = nullptr;
  size_t seen_ = 0;
};

TEST_F(ReportTest, LinearTransform) {
  VtTransform *t = Translation(1, 2, 3);
  ASSERT_EQ(xform::TransformReference(t), 0u);
  ASSERT_EQ(VoTransformDestroy(t), 0u);
  ASSERT_EQ(VoTransformPrint(t), 0u);
  EXPECT_EQ(Printed(),
            Line(386, Address(t)) + Line(366, " \"L#R---#--D-\" 1") + Line(895, " 1") +
                Line(367, " \"Transformation matrix\" 1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1") +
                Line(367, " \"Inverse transformation matrix\" 1 0 0 0 0 1 0 0 0 0 1 0 -1 -2 -3 1"));
  VtTransform *m = Defined(Diagonal(-2, 2, 2, 1));
  ASSERT_EQ(VoTransformPrint(m), 0u);
  const std::string printed = Printed();
  EXPECT_EQ(printed.substr(0, printed.find(Line(895, " 0"))),
            Line(386, Address(m)) + Line(366, " \"L#-A--#R---\" 1"));
}

TEST_F(ReportTest, IdentityAndNull) {
  VtTransform *t = Keep(VoTransformCreate());
  ASSERT_EQ(VoTransformPrint(t), 0u);
  EXPECT_EQ(Printed(), Line(386, Address(t)) + Line(366, " \"I#----#----\" 1"));
  ASSERT_EQ(VoTransformPrint(nullptr), 0u);
  EXPECT_EQ(Printed(), Line(386, Address(nullptr)));
}

TEST_F(ReportTest, ListAndProceduralMembers) {
  VtTransform *t = Translation(1, 0, 0);
  const double velocity[3] = {1, 0, 0};
  VtTransform *moving = Keep(xform::MovingTransformCreate(velocity));
  ASSERT_EQ(VoTransformConcatenate(t, moving), 0u);
  Printed();
  ASSERT_EQ(VoTransformPrint(t), 0u);
  auto *first = static_cast<VtTransformListNode *>(t->data);
  VtTransform *second = first->next->member;
  const void *data = xform::Procedural(second)->application_data;
  const std::string expected =
      Line(386, Address(t)) + Line(366, " \"G#R---#----\" 1") + Line(386, Address(first->member)) +
      Line(895, " 1") + Line(367, " \"Transformation matrix\" 1 0 0 0 0 1 0 0 0 0 1 0 1 0 0 1") +
      Line(367, " \"Inverse transformation matrix\" 1 0 0 0 0 1 0 0 0 0 1 0 -1 0 0 1") +
      Line(386, Address(second)) + Line(896, " \"d-gud----\"" + Address(data) + " 1 2");
  EXPECT_EQ(Printed(), expected);
}

TEST_F(ReportTest, MatrixPrint) {
  const double m[16] = {0.5, 0, 0, 0, 0, 1e-20, 0, 0, 0, 0, -3, 0, 1, 2, 3, 1};
  ASSERT_EQ(VoMatrixPrint("M", m), 0u);
  EXPECT_EQ(Printed(), Line(367, " \"M\" 0.5 0 0 0 0 1e-20 0 0 0 0 -3 0 1 2 3 1"));
  EXPECT_EQ(VoMatrixPrint("M", nullptr), 0x40000012u);
}

}  // namespace
}  // namespace vo::test

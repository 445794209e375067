// The debug reports of transforms, as the default handler prints them.

#include <cstdio>
#include <string>

#include "transform_fixture.h"

namespace vo::test {
namespace {

// What the default handler prints while f runs.
template <class F>
std::string Printed(F f) {
  VtTypedValue v = TypedPointer(stderr);
  EXPECT_EQ(VoControlSet(VO_CONTROL_ERROR_STREAM, &v), 0u);
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoErrorHandlerDefault)), 0u);
  testing::internal::CaptureStderr();
  EXPECT_EQ(f(), 0u);
  return testing::internal::GetCapturedStderr();
}

std::string Line(uint32_t message, const std::string &args) {
  return "DEBUG:  Module 15, diagnostic code " + std::to_string(message) + " [" + args + " ]\n";
}

std::string At(const void *p) {
  char text[32];
  std::snprintf(text, sizeof text, " %p", p);
  return text;
}

TEST_F(TransformTest, TheDefaultHandlerPrintsATransformsKindReferencesAndMatrices) {
  VtTransform *t = Translation(1, 2, 3), *i = VoTransformCreate(), *m = Defined(Diagonal(-2, 2, 2, 1));
  ASSERT_EQ(xform::TransformReference(t), 0u);
  ASSERT_EQ(VoTransformDestroy(t), 0u);
  const std::string matrices =
      Line(367, " \"Transformation matrix\" 1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1") +
      Line(367, " \"Inverse transformation matrix\" 1 0 0 0 0 1 0 0 0 0 1 0 -1 -2 -3 1");
  EXPECT_EQ(Printed([&] { return VoTransformPrint(t); }),
            Line(386, At(t)) + Line(366, " \"L#R---#--D-\" 1") + Line(895, " 1") + matrices);
  const std::string reflected = Printed([&] { return VoTransformPrint(m); });
  EXPECT_EQ(reflected.substr(0, reflected.find(Line(895, " 0"))),
            Line(386, At(m)) + Line(366, " \"L#-A--#R---\" 1"));
  EXPECT_EQ(Printed([&] { return VoTransformPrint(i); }), Line(386, At(i)) + Line(366, " \"I#----#----\" 1"));
  const double matrix[16] = {0.5, 0, 0, 0, 0, 1e-20, 0, 0, 0, 0, -3, 0, 1, 2, 3, 1};
  EXPECT_EQ(Printed([&] { return VoMatrixPrint("M", matrix); }),
            Line(367, " \"M\" 0.5 0 0 0 0 1e-20 0 0 0 0 -3 0 1 2 3 1"));

  // A list of a linear and a moving member.
  const double velocity[3] = {1, 0, 0};
  VtTransform *list = Translation(1, 2, 3);
  ASSERT_EQ(VoTransformConcatenate(list, xform::MovingTransformCreate(velocity)), 0u);
  auto *first = static_cast<VtTransformListNode *>(list->data);
  VtTransform *second = first->next->member;
  EXPECT_EQ(Printed([&] { return VoTransformPrint(list); }),
            Line(386, At(list)) + Line(366, " \"G#R---#----\" 1") + Line(386, At(first->member)) +
                Line(895, " 1") + matrices + Line(386, At(second)) +
                Line(896, " \"d-gud----\"" + At(xform::Procedural(second)->application_data) + " 1 2"));
}

}  // namespace
}  // namespace vo::test

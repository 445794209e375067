// The journal of a render, replayed by the interpreter, writes the same
// image file byte for byte. Only the C interface is used.

#include <unistd.h>

#include <gtest/gtest.h>
#include <vo/vo_api.h>

#include "io/interpreter/journal_files.h"

namespace {

using vo_test::Body;
using vo_test::Journal;
using vo_test::Load;
using vo_test::Typed;

VtTypedValue Triple(uint32_t type, float a, float b, float c) {
  VtTypedValue v = Typed(type);
  v.value.v[0] = a;
  v.value.v[1] = b;
  v.value.v[2] = c;
  return v;
}

// A box between two corners, faces turned outwards.
VtPrimitive *Box(float x0, float x1, float y0, float y1, float z0, float z1) {
  static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  float corners[8][3];
  for (int i = 0; i < 8; ++i) {
    corners[i][0] = (i & 1) ? x1 : x0;
    corners[i][1] = (i & 2) ? y1 : y0;
    corners[i][2] = (i & 4) ? z1 : z0;
  }
  VtTypedValue data = Typed(VtGenericPtr);
  data.value.p = corners;
  return VoPrimitiveCreateMesh(6, nullptr, counts, faces, 1, ids, &data);
}

VtMaterial *Material(const char *reflectance, float r, float g, float b) {
  VtMaterial *m = VoMaterialCreate();
  const VtTypedValue colour = Triple(VtColourType, r, g, b);
  EXPECT_EQ(VoMaterialSetShaderByPrototype(m, 0x50001, "plain"), 0u);
  EXPECT_EQ(VoShaderSetArg(VoMaterialGetShader(m, 0x50001), "colour", &colour), 0u);
  EXPECT_EQ(VoMaterialSetShaderByPrototype(m, 0x50002, reflectance), 0u);
  return m;
}

void Render() {
  VtPrimitive *primitives[2] = {Box(-1, 1, 0, 2, -1, 1), Box(1.5f, 3, 0, 0.5f, -2, 0)};
  ASSERT_TRUE(primitives[0] && primitives[1]);
  VtMaterial *materials[2] = {Material("plastic", 0.85f, 0.25f, 0.2f),
                              Material("matte", 0.25f, 0.45f, 0.85f)};
  ASSERT_EQ(VoPrimitiveSetMaterial(primitives[0], materials[0]), 0u);
  ASSERT_EQ(VoPrimitiveSetMaterial(primitives[1], materials[1]), 0u);
  VtShader *point = VoShaderCreate(0x50008, "point"), *ambient = VoShaderCreate(0x50008, "ambient");
  const VtTypedValue location = Triple(VtPoint, -4, 9, 6);
  VtTypedValue intensity = Typed(VtFloat);
  intensity.value.f = 1.0f / 3.0f;
  ASSERT_EQ(VoShaderSetArg(point, "location", &location), 0u);
  ASSERT_EQ(VoShaderSetArg(ambient, "intensity", &intensity), 0u);
  VtReference *first = VoShaderReferenceCreate(ambient);
  VtReference *lights = VoShaderReferenceAppend(first, VoShaderReferenceCreate(point));
  ASSERT_EQ(VoLightListSet(lights), 0u);
  ASSERT_EQ(VoPrimitiveListSet(VoPrimitiveListCreate(2, primitives)), 0u);
  const float eye[3] = {7, 5, 9}, reference[3] = {0, 1, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetResolution(nullptr, 160, 120, 1.0), 0u);
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0), 0u);
  ASSERT_EQ(VoViewAutoClipping(nullptr), 0u);
  void *file = VoFileOpen("end_to_end.bmp", 2);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(VoDriverSet(VoDriverFindFromName("vodrvbmp")), 0u);
  VtTypedValue v = Typed(VtGenericPtr);
  v.value.p = file;
  ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_FILE, &v), 0u);
  ASSERT_EQ(VoExecute(0xc0003), 0u);
  v.value.p = nullptr;
  ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_FILE, &v), 0u);
  ASSERT_EQ(VoFileClose(file), 0u);
  // What the application made, it gives back.
  ASSERT_EQ(VoLightListSet(nullptr), 0u);
  VoShaderDestroy(point);
  VoShaderDestroy(ambient);
  VoMaterialDestroy(materials[0]);
  VoMaterialDestroy(materials[1]);
}

TEST(EndToEnd, TheJournalOfARenderReplaysToTheSameImage) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(::testing::TempDir().c_str()), 0);  // the picture opens by a relative name
  ASSERT_EQ(VoInitialise(), 0u);
  std::FILE *journal = std::fopen("end_to_end_journal.txt", "wb");
  ASSERT_NE(journal, nullptr);
  Journal(journal);
  Render();
  ASSERT_EQ(VoTerminate(), 0u);
  std::fclose(journal);
  const std::string written = Load("end_to_end_journal.txt");
  if (std::getenv("VO_JOURNAL_WRITE") != nullptr)
    std::ofstream(VO_TEST_DATA_DIR "/end_to_end_journal.txt", std::ios::binary) << Body(written);
  EXPECT_EQ(Body(written), Load(VO_TEST_DATA_DIR "/end_to_end_journal.txt"));
  EXPECT_EQ(Body(written).find("#"), std::string::npos) << "a call the journal could not write";
  const std::string picture = Load("end_to_end.bmp");
  ASSERT_GT(picture.size(), 160u * 120u * 3u);
  std::remove("end_to_end.bmp");

  // Replayed with journaling on: the same picture and the same journal.
  ASSERT_EQ(VoInitialise(), 0u);
  std::FILE *again = std::fopen("replay_journal.txt", "wb");
  Journal(again);
  std::FILE *script = std::fopen("end_to_end_journal.txt", "rb");
  ASSERT_NE(script, nullptr);
  EXPECT_EQ(VoInterpreterReadInput("end_to_end_journal.txt", script), 0u);
  std::fclose(script);
  if (VoModuleCheckStarted(1, 0) == 0) VoTerminate();
  std::fclose(again);
  EXPECT_TRUE(Load("end_to_end.bmp") == picture) << "the replay wrote another picture";
  EXPECT_EQ(Body(Load("replay_journal.txt")), Body(written));
  ASSERT_EQ(chdir(previous), 0);
}

}  // namespace

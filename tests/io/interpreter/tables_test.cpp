// The generator's tables the interpreter and the journal read: type names,
// constants valued by the compiler, entry points, scaled counts and shapes.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include <vo/vo_render.h>

#include "kernel/vosystem/api_table.h"
#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/module_entry.h"

namespace vo::api {
namespace {

TEST(Tables, TypesConstantsEntriesAndCounts) {
  // Every type name is found by its hash; the two the parser adds too.
  for (size_t i = 0; i < kTypeCount; ++i) EXPECT_EQ(FindType(kTypes[i].name), &kTypes[i]) << kTypes[i].name;
  ASSERT_NE(FindType("Matrix"), nullptr);
  EXPECT_EQ(FindType("Matrix")->size, 128u);
  EXPECT_EQ(FindType("GenericPtr")->size, sizeof(void *));
  EXPECT_EQ(FindType("VtTypedValue")->size, sizeof(VtTypedValue));
  EXPECT_EQ(FindType("VtNoSuchType"), nullptr);
  // Macros and enumerators have the compiler's values; no other macro is there.
  for (size_t i = 0; i < kConstantCount; ++i) EXPECT_EQ(FindConstant(kConstants[i].name), &kConstants[i]);
  ASSERT_NE(FindConstant("VO_CONTROL_JOURNAL_FLAGS"), nullptr);
  EXPECT_EQ(FindConstant("VO_CONTROL_JOURNAL_FLAGS")->value, 0x10006);
  EXPECT_EQ(FindConstant("VO_STATUS_NO_MEMORY")->value, 0x20000006);
  EXPECT_EQ(FindConstant("VtColour4")->value, 49);
  EXPECT_EQ(FindConstant("VO_TYPES_H"), nullptr);  // an include guard holds no number
  EXPECT_EQ(FindConstant("VO_EXPORT"), nullptr);
  // Each entry answers its exported entry point, and is found by it.
  const VtApiFunction *f = FindFunction("VoErrorHandlerDefault");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(reinterpret_cast<void *>(f->entry),
            reinterpret_cast<void *>(&vo::exported::VoErrorHandlerDefault));
  EXPECT_EQ(FindFunctionByEntry(reinterpret_cast<void *>(&vo::exported::VoErrorHandlerDefault)), f);
  EXPECT_EQ(FindFunctionByCode(0x7fff0001u), nullptr);
  // Counts in units of another parameter.
  const VtApiFunction *spline = FindFunction("VoSplinePoint");
  ASSERT_NE(spline, nullptr);
  EXPECT_EQ(spline->params[3].count, -3);  // n
  EXPECT_EQ(spline->params[3].scale, 3u);
  EXPECT_EQ(FindFunction("VoViewClassifyPoints")->params[1].scale, 4u);
}

TEST(Tables, MeshShapesSizeWhatTheDescriptionCannot) {
  ASSERT_EQ(VoInitialise(), 0u);
  const VtApiFunction *mesh = FindFunction("VoPrimitiveCreateMesh");
  ASSERT_NE(mesh->shape, nullptr);
  const uint32_t faces = 2, count = 1, ids[1] = {VO_VERT_WORLD};
  const int32_t contours[2] = {1, 2}, per_contour[3] = {3, 4, 3},
                indices[10] = {0, 1, 2, 0, 1, 5, 3, 2, 4, 1};
  const int32_t *contours_p = contours, *per_p = per_contour, *indices_p = indices;
  const uint32_t *ids_p = ids;
  VtTypedValue data{};
  const VtTypedValue *data_p = &data;
  const void *argv[] = {&faces, &contours_p, &per_p, &indices_p, &count, &ids_p, &data_p};
  VtApiShape shape{};
  ASSERT_TRUE(mesh->shape(argv, 2, 0, &shape));
  EXPECT_EQ(shape.count, 3u);  // contours of the faces
  ASSERT_TRUE(mesh->shape(argv, 3, 0, &shape));
  EXPECT_EQ(shape.count, 10u);  // their vertex indices
  ASSERT_TRUE(mesh->shape(argv, 6, 0, &shape));
  EXPECT_EQ(shape.type, static_cast<uint32_t>(VtFloat));
  EXPECT_EQ(shape.count, 18u);                    // six vertices of three floats
  EXPECT_FALSE(mesh->shape(argv, 6, 1, &shape));  // one property only
  const int32_t negative[3] = {3, -4, 3};
  per_p = negative;
  EXPECT_FALSE(mesh->shape(argv, 3, 0, &shape));
  EXPECT_EQ(VoTerminate(), 0u);
}

// A program (and a script, through the constants) names every execute code
// by a macro of the public headers: each code a started module answers has
// a VO_EXECUTE_ constant of its value, and none of those names a code that
// no module answers.
TEST(Tables, EveryExecuteCodeTheLibraryAnswersHasItsMacro) {
  ASSERT_EQ(VoInitialise(), 0u);
  std::set<int64_t> answered;
  for (const ModuleExecuteCodes &m : InstalledExecuteCodes())
    for (const uint32_t code : m.codes) {
      answered.insert(code);
      bool named = false;
      for (size_t i = 0; i < kConstantCount; ++i)
        named = named ||
                (std::strncmp(kConstants[i].name, "VO_EXECUTE_", 11) == 0 && kConstants[i].value == code);
      EXPECT_TRUE(named) << m.name << " answers 0x" << std::hex << code << " without a VO_EXECUTE_ macro";
    }
  EXPECT_TRUE(answered.count(VO_EXECUTE_STANDARD_PER_PIXEL) == 1 &&
              answered.count(VO_EXECUTE_ADVANCED_DEPTH) == 1 &&
              answered.count(VO_EXECUTE_WIREFRAME_RENDER) == 1);
  for (size_t i = 0; i < kConstantCount; ++i) {
    if (std::strncmp(kConstants[i].name, "VO_EXECUTE_", 11) != 0) continue;
    EXPECT_EQ(answered.count(kConstants[i].value), 1u)
        << kConstants[i].name << " names no code the library answers";
  }
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
}  // namespace vo::api

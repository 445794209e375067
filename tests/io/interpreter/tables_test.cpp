// The generator's tables the interpreter and the journal read: type names,
// constants valued by the compiler, entry points, scaled counts and shapes.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

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

namespace vo::api {
namespace {

// Whether some procedure hands out a value of the type (its result or an
// output), which a journal then names by a variable.
bool Answered(const char *type) {
  for (size_t i = 0; i < kFunctionCount; ++i) {
    if (std::strcmp(kFunctions[i].result_name, type) == 0) return true;
    for (uint32_t k = 0; k < kFunctions[i].param_count; ++k)
      if ((kFunctions[i].params[k].flags & kParamOut) &&
          std::strcmp(kFunctions[i].params[k].type_name, type) == 0)
        return true;
  }
  return false;
}

// Procedures a journal writes as a comment whenever the argument is not
// NULL: a raw data block, an open array that neither a count nor the
// procedure's shape sizes, the address of a record that no procedure hands
// out (so no journalled call named it). With procedures = true, those that
// take a procedure: a comment unless it is an exported one.
std::set<std::string> NeverWritten(bool procedures) {
  std::set<std::string> names;
  for (size_t i = 0; i < kFunctionCount; ++i) {
    const VtApiFunction &f = kFunctions[i];
    for (uint32_t k = 0; k < f.param_count; ++k) {
      const VtApiParam &p = f.params[k];
      const bool unsized = (p.flags & kParamArray) != 0 && p.count == 0 && f.shape == nullptr;
      const bool unnamed = p.kind == kKindPointer && std::strcmp(p.type_name, "VtGenericPtr") != 0 &&
                           (p.flags & kParamOut) == 0 && !Answered(p.type_name);
      if (procedures ? p.kind == kKindFunc : p.kind == kKindData || unsized || unnamed) names.insert(f.name);
    }
  }
  return names;
}

// The names in back quotes in the paragraph of a marker line.
std::set<std::string> Listed(const std::string &text, const std::string &marker) {
  std::set<std::string> listed;
  const size_t from = text.find(marker);
  const size_t to = from == std::string::npos ? from : text.find("\n\n", from);
  for (size_t at = text.find('`', from); from != std::string::npos && at < to; at = text.find('`', at + 1)) {
    const size_t end = text.find('`', at + 1);
    listed.insert(text.substr(at + 1, end - at - 1));
    at = end;
  }
  return listed;
}

TEST(Tables, TheFilesDocumentNamesEveryCallTheJournalCannotWrite) {
  // docs/files.md lists them in the paragraphs of two marker lines.
  std::ifstream in(std::string(VO_TEST_DATA_DIR) + "/../../docs/files.md");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (bool procedures : {false, true}) {
    std::string all;
    for (const std::string &name : NeverWritten(procedures)) all += "`" + name + "`, ";
    EXPECT_EQ(Listed(text, procedures ? "<!-- calls with a procedure -->" : "<!-- calls never written -->"),
              NeverWritten(procedures))
        << all;
  }
}

}  // namespace
}  // namespace vo::api

// Arrays a procedure's shape sizes (scan rows, mesh counts and indices, the
// vertex data behind property records, a property's value), in text and
// binary command files: one element short is refused before the call, the
// exact length is called. Whether the call was made is read from the
// journal, which writes every call the library was given.

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "io/interpreter/script_fixture.h"
#include "support/kernel_fixture.h"
#include "kernel/vosystem/api_table.h"
// After the fixtures, whose calls mean the library's own declarations.
#include "io/interpreter/journal_files.h"

namespace vo::test {
namespace {

// A 4 x 4 region of a buffer with colour, alpha and depth; a triangle's
// primitive p with a polygon q and a vertex v; twelve floats d.
constexpr const char *kSetUp =
    "sb = VoScreenBufferCreate\nVoScreenBufferAllocateData sb 7\nVoScreenBufferSetRegion sb [0 3 0 3]\n"
    "VtFloat[9] tri\ntri = [0 0 0 1 0 0 0 1 0]\n"
    "p = VoPrimitiveCreatePolygon 3 1 [VO_VERT_WORLD] [{VtGenericPtr &tri}]\n"
    "q = VoPrimitiveGetPolygons p\nv = VoVertexCreate p\nVtFloat[12] d\n";

// One shaped argument: the procedure, the call with `a` for it, and the
// length the call needs, worked out by hand. `a` is an array variable of the
// type, or (data) a typed value {VtGenericPtr &a} whose data is such an array.
struct Row {
  const char *procedure;
  const char *call;
  const char *type;
  uint32_t exact;
  const char *fill = nullptr;  // every element's value, when not 0
};
const Row kRows[] = {
    // A row of 4 pixels: 3, 4, 4 or 5 floats each.
    {"VoScreenBufferGetScanRGBFloat", "VoScreenBufferGetScanRGBFloat sb 0 a", "VtFloat", 12},
    {"VoScreenBufferGetScanRGBAFloat", "VoScreenBufferGetScanRGBAFloat sb 1 a", "VtFloat", 16},
    {"VoScreenBufferGetScanRGBZFloat", "VoScreenBufferGetScanRGBZFloat sb 2 a", "VtFloat", 16},
    {"VoScreenBufferGetScanRGBAZFloat", "VoScreenBufferGetScanRGBAZFloat sb 3 a", "VtFloat", 20},
    {"VoScreenBufferSetScanRGBFloat", "VoScreenBufferSetScanRGBFloat sb 0 a", "VtFloat", 12},
    {"VoScreenBufferSetScanRGBAFloat", "VoScreenBufferSetScanRGBAFloat sb 1 a", "VtFloat", 16},
    {"VoScreenBufferSetScanRGBZFloat", "VoScreenBufferSetScanRGBZFloat sb 2 a", "VtFloat", 16},
    // Four vertices of three floats.
    {"VoPrimitiveCreatePolygon", "VoPrimitiveCreatePolygon 4 1 [VO_VERT_WORLD] [{VtGenericPtr &a}]",
     "VtFloat", 12},
    // Two faces of one contour each: two counts; counts 3 and 3: six indices
    // (all 0: one vertex of three floats, which d holds); indices up to 3:
    // four vertices of three floats.
    {"VoPrimitiveCreateMesh",
     "VoPrimitiveCreateMesh 2 [1 1] a [0 1 2 0 2 3] 1 [VO_VERT_WORLD] [{VtGenericPtr &d}]", "VtInt32", 2,
     "3"},
    {"VoPrimitiveCreateMesh", "VoPrimitiveCreateMesh 2 [1 1] [3 3] a 1 [VO_VERT_WORLD] [{VtGenericPtr &d}]",
     "VtInt32", 6},
    {"VoPrimitiveCreateMesh",
     "VoPrimitiveCreateMesh 2 [1 1] [3 3] [0 1 2 0 2 3] 1 [VO_VERT_WORLD] [{VtGenericPtr &a}]", "VtFloat",
     12},
    // One value of the property: a point, a plane, bounds.
    {"VoVertexSetProperty", "VoVertexSetProperty p v VO_VERT_WORLD {VtGenericPtr &a}", "VtFloat", 3},
    {"VoPolygonSetProperty", "VoPolygonSetProperty p q VO_POLY_PLANE {VtGenericPtr &a}", "VtFloat", 4},
    {"VoPrimitiveSetProperty", "VoPrimitiveSetProperty p VO_PRIM_BOUNDS {VtGenericPtr &a}", "VtFloat", 6},
    {"VoPrimitiveTreeSetProperty", "VoPrimitiveTreeSetProperty p VO_PRIM_BOUNDS {VtGenericPtr &a}", "VtFloat",
     6},
    // The buffer arguments of shader classes, at a picture of 4 x 3: two
    // floats a pixel, 24; three a division, 15 for 5; a 3 x 5 kernel, 15.
    {"VoShaderSetArg",
     "VoViewSetResolution NULL 4 3 1\nc = VoShaderCreate VO_SHADER_COLOUR \"pencil seed\"\n"
     "VoShaderSetArg c \"vector field\" {VtGenericPtr &a}",
     "VtFloat", 24},
    {"VoShaderSetArg",
     "VoViewSetResolution NULL 4 3 1\nc = VoShaderCreate VO_SHADER_POSTPROCESS \"line integral "
     "convolution\"\n"
     "VoShaderSetArg c \"vector field\" {VtGenericPtr &a}",
     "VtFloat", 24},
    {"VoShaderSetArg",
     "c = VoShaderCreate VO_SHADER_COLOUR \"geometric curvature\"\nVoShaderSetArg c \"curvature division\" "
     "{VtInt32 5}\nVoViewSetResolution NULL 4 3 1\nVoShaderSetArg c \"colour array\" {VtGenericPtr &a}",
     "VtFloat", 15},
    {"VoShaderSetArg",
     "c = VoShaderCreate VO_SHADER_POSTPROCESS \"matrix\"\nVoShaderSetArg c \"rows\" {VtInt32 3}\n"
     "VoShaderSetArg c \"columns\" {VtInt32 5}\nVoViewSetResolution NULL 4 3 1\n"
     "VoShaderSetArg c \"matrix\" {VtGenericPtr &a}",
     "VtFloat", 15},
};

class ShapedArrayTest : public ScriptTest {
 protected:
  // Runs the file journalled; whether the procedure was called, and the
  // messages.
  static bool Called(const std::string &path, const char *procedure, std::vector<uint32_t> *messages) {
    const std::string journal = Path("journal.txt");
    std::FILE *j = std::fopen(journal.c_str(), "wb");
    vo_test::Journal(j);
    vo_test::Recorded().clear();
    RunFile(path);
    *messages = Messages();
    vo_test::Journal(nullptr);
    std::fclose(j);
    // The call is the last line (a comment when an argument has no text
    // form, as vertex data from a binary file has not).
    std::istringstream lines(vo_test::Body(vo_test::Load(journal)));
    std::string last;
    for (std::string line; std::getline(lines, line);) last = line;
    return (" " + last + " ").find(std::string(" ") + procedure + " ") != std::string::npos;
  }
};

TEST_F(ShapedArrayTest, EveryShapedArrayOneShortIsRefusedAndTheExactLengthIsCalled) {
  // Every procedure the interface sizes by a shape has a row.
  for (size_t i = 0; i < api::kFunctionCount; ++i) {
    if (api::kFunctions[i].shape == nullptr) continue;
    bool listed = false;
    for (const Row &r : kRows) listed = listed || std::strcmp(r.procedure, api::kFunctions[i].name) == 0;
    EXPECT_TRUE(listed) << api::kFunctions[i].name << " has a shape and no row";
  }
  for (const Row &r : kRows) {
    for (const uint32_t n : {r.exact, r.exact - 1}) {
      SCOPED_TRACE(std::string(r.call) + " with " + std::to_string(n));
      std::string script = std::string(kSetUp) + r.type + "[" + std::to_string(n) + "] a\n";
      if (r.fill != nullptr) {
        script += "a = [";
        for (uint32_t k = 0; k < n; ++k) script += std::string(k ? " " : "") + r.fill;
        script += "]\n";
      }
      script += std::string(r.call) + "\n";
      std::vector<uint32_t> m;
      const bool called = Called(Write("shaped.txt", script), r.procedure, &m);
      EXPECT_EQ(called, n == r.exact);
      if (n == r.exact) continue;
      ASSERT_GE(m.size(), 3u);
      EXPECT_EQ(std::vector<uint32_t>(m.end() - 3, m.end()), (std::vector<uint32_t>{279, 282, 2970}));
      const vo_test::Diagnostic *why = Last(2970);
      ASSERT_NE(why, nullptr);
      EXPECT_EQ(why->args[2].value.u, n);  // what the variable holds
      EXPECT_EQ(why->args[4].value.u, r.exact);
    }
  }
}

// A pencil seed's field set for a picture of 4 x 3 (24 floats) and the
// picture made 8 x 6 before the render (96 floats needed): the image's start
// lets the field go with 2970 (the shader module's, 24 held, 96 needed)
// and the render writes none of it (a sanitizer build would see a write
// past it); at 4 x 3 the field is written.
TEST_F(ShapedArrayTest, ABufferSetForASmallerPictureIsLetGoBeforeTheRender) {
  for (const char *size : {"8 6", "4 3"}) {
    vo_test::Recorded().clear();
    const std::string field =
        Run("VtPoint[4] k\nk = [[-1 -1 0] [1 -1 0] [1 1 0] [-1 1 0]]\n"
            "s = VoPrimitiveCreateMesh 1 NULL [4] [0 1 2 3] 1 [VO_VERT_WORLD] [{VtGenericPtr &k}]\n"
            "m = VoMaterialCreate\nVoMaterialSetShaderByPrototype m VO_SHADER_COLOUR \"pencil seed\"\n"
            "c = VoMaterialGetShader m VO_SHADER_COLOUR\nVoViewSetResolution NULL 4 3 1\nVtFloat[24] field\n"
            "VoShaderSetArg c \"vector field\" {VtGenericPtr &field}\nVoPrimitiveSetMaterial s m\n"
            "l = VoPrimitiveListCreate 1 [s]\nVoPrimitiveListSet l\n"
            "VoViewSetPinhole NULL [0 0 4] [0 0 0] [0 1 0] VO_PROJECTION_PERSPECTIVE 40\n"
            "f = VoFileOpen \"" +
            Path("seed.bmp") +
            "\" 2\nconsole = VoDriverGet\nbmp = VoDriverFindFromName \"vodrvbmp\"\nVoDriverSet bmp\n"
            "VoControlSet VO_CONTROL_DRIVER_FILE {VtGenericPtr f}\nVoViewSetResolution NULL " +
            size +
            " 1\n"
            "VoExecute VO_EXECUTE_ADVANCED_ZBUFFER\nVoControlSet VO_CONTROL_DRIVER_FILE {VtGenericPtr NULL}\n"
            "VoFileClose f\nVoDriverSet console\nprint field\n");
    const vo_test::Diagnostic *short_of = Last(2970);
    const bool grown = std::string(size) == "8 6";
    EXPECT_EQ(short_of != nullptr, grown) << size;
    // Facing the eye, the surface's screen direction is (1, 0) (the view's
    // side vector): ones where the square covers the picture.
    EXPECT_EQ(field.find('1') == std::string::npos, grown) << field;
    if (short_of != nullptr) {
      EXPECT_EQ(short_of->module, 5u);
      EXPECT_EQ(short_of->args[2].value.u, 24u);
      EXPECT_EQ(short_of->args[4].value.u, 96u);
    }
  }
}

TEST_F(ShapedArrayTest, DataBehindARecordMustBeTheScriptsOwn) {
  // A value in line, an address a call answered, and NULL where the setter
  // reads a point behind the record: refused, nothing called. A left-out
  // scan row is as long as the region's row.
  struct Case {
    const char *call;
    const char *procedure;
  };
  const Case cases[] = {
      {"VoVertexSetProperty p v VO_VERT_WORLD {VtPoint [1 2 3]}", "VoVertexSetProperty"},
      {"VoVertexSetProperty p v VO_VERT_WORLD {VtGenericPtr ADV}", "VoVertexSetProperty"},
      {"VoVertexSetProperty p v VO_VERT_WORLD {VtGenericPtr NULL}", "VoVertexSetProperty"},
      {"VoPrimitiveCreatePolygon 3 1 [VO_VERT_WORLD] [{VtGenericPtr sb}]", "VoPrimitiveCreatePolygon"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.call);
    std::vector<uint32_t> m;
    EXPECT_FALSE(Called(Write("data.txt", std::string(kSetUp) + "ADV = VoDataCreate\n" + c.call + "\n"),
                        c.procedure, &m));
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(std::vector<uint32_t>(m.end() - 2, m.end()), (std::vector<uint32_t>{282, 2971}));
  }
  // Declared anew, a variable's old storage still holds what it held.
  std::vector<uint32_t> m;
  EXPECT_FALSE(Called(
      Write("kept.txt", std::string(kSetUp) + "VtFloat[2] w\nk = &w\nVtFloat[3] w\n"
                                              "VoVertexSetProperty p v VO_VERT_WORLD {VtGenericPtr k}\n"),
      "VoVertexSetProperty", &m));
  EXPECT_EQ(m.back(), 2970u);
  const std::string row = Run(std::string(kSetUp) + "VoScreenBufferGetScanRGBFloat sb 0\n");
  EXPECT_EQ(row, "[0 0 0 0 0 0 0 0 0 0 0 0]\n");
}

// Binary records: words in the reader's byte order.
struct Words {
  std::string bytes;
  Words &W(uint32_t w) {
    bytes.append(reinterpret_cast<const char *>(&w), 4);
    return *this;
  }
  Words &Floats(uint32_t n) {  // an array of n zero floats
    W(n);
    for (uint32_t i = 0; i < n; ++i) W(0);
    return *this;
  }
  Words &Ints(std::initializer_list<uint32_t> values) {
    W(static_cast<uint32_t>(values.size()));
    for (uint32_t v : values) W(v);
    return *this;
  }
  Words &Data(uint32_t floats) {  // a typed value {VtData n floats}
    W(VtData).W(floats * 4).W(0);
    for (uint32_t i = 0; i < floats; ++i) W(0);
    return *this;
  }
};

uint32_t Code(const char *name) { return api::FindFunction(name)->code; }

std::string Record(const char *procedure, uint32_t result, const std::string &args) {
  return Words().W(Code(procedure)).W(result).W(static_cast<uint32_t>(args.size())).bytes + args;
}

TEST_F(ShapedArrayTest, BinaryRecordsAreCheckedAsTextStatementsAre) {
  // Variables: 1 the buffer, 2 a triangle's primitive, 3 its polygon, 4 a
  // vertex; 9 takes outputs. Vertex data travels as {VtData bytes}.
  const uint32_t world = VO_VERT_WORLD;
  const std::string set_up =
      Words().W(0xFE | 'V' << 8 | 'X' << 16 | 'B' << 24).W(0x01020304).W(0).W(4).W(20).W(0xFFFFFFFF).bytes +
      Record("VoScreenBufferCreate", 1, "") +
      Record("VoScreenBufferAllocateData", 0, Words().W(1).W(7).bytes) +
      Record("VoScreenBufferSetRegion", 0, Words().W(1).Ints({0, 3, 0, 3}).bytes) +
      Record("VoPrimitiveCreatePolygon", 2, Words().W(3).W(1).Ints({world}).W(1).Data(9).bytes) +
      Record("VoPrimitiveGetPolygons", 3, Words().W(2).bytes) +
      Record("VoVertexCreate", 4, Words().W(2).bytes);
  struct Case {
    const char *procedure;
    std::string (*args)(uint32_t n);
    uint32_t exact;
  };
  const Case cases[] = {
      {"VoScreenBufferSetScanRGBFloat", [](uint32_t n) { return Words().W(1).W(0).Floats(n).bytes; }, 12},
      {"VoScreenBufferSetScanRGBAFloat", [](uint32_t n) { return Words().W(1).W(0).Floats(n).bytes; }, 16},
      {"VoScreenBufferSetScanRGBZFloat", [](uint32_t n) { return Words().W(1).W(0).Floats(n).bytes; }, 16},
      {"VoPrimitiveCreatePolygon",
       [](uint32_t n) { return Words().W(4).W(1).Ints({VO_VERT_WORLD}).W(1).Data(n).bytes; }, 12},
      {"VoPrimitiveCreateMesh",
       [](uint32_t n) {
         Words w;
         w.W(2).Ints({1, 1}).W(n);
         for (uint32_t i = 0; i < n; ++i) w.W(3);
         return w.Ints({0, 1, 2, 0, 2, 3}).W(1).Ints({VO_VERT_WORLD}).W(1).Data(12).bytes;
       },
       2},
      {"VoPrimitiveCreateMesh",
       [](uint32_t n) {
         return Words()
             .W(2)
             .Ints({1, 1})
             .Ints({3, 3})
             .Ints({0, 1, 2, 0, 2, 3})
             .W(1)
             .Ints({VO_VERT_WORLD})
             .W(1)
             .Data(n)
             .bytes;
       },
       12},
      {"VoVertexSetProperty", [](uint32_t n) { return Words().W(2).W(4).W(VO_VERT_WORLD).Data(n).bytes; }, 3},
      {"VoPolygonSetProperty", [](uint32_t n) { return Words().W(2).W(3).W(VO_POLY_PLANE).Data(n).bytes; },
       4},
      {"VoPrimitiveSetProperty", [](uint32_t n) { return Words().W(2).W(VO_PRIM_BOUNDS).Data(n).bytes; }, 6},
  };
  for (const Case &c : cases) {
    for (const uint32_t n : {c.exact, c.exact - 1}) {
      SCOPED_TRACE(std::string(c.procedure) + " with " + std::to_string(n));
      std::vector<uint32_t> m;
      const std::string file = set_up + Record(c.procedure, 0, c.args(n)) + Words().W(0).bytes;
      EXPECT_EQ(Called(Write("shaped.vxb", file), c.procedure, &m), n == c.exact);
      if (n != c.exact) {
        EXPECT_EQ(m, (std::vector<uint32_t>{282, 2970}));
      }
    }
  }
  // Output rows get a block of the region's row; an address a call answered
  // is no vertex data.
  for (const char *get : {"VoScreenBufferGetScanRGBFloat", "VoScreenBufferGetScanRGBAFloat",
                          "VoScreenBufferGetScanRGBZFloat", "VoScreenBufferGetScanRGBAZFloat"}) {
    std::vector<uint32_t> m;
    EXPECT_TRUE(
        Called(Write("get.vxb", set_up + Record(get, 0, Words().W(1).W(0).W(9).bytes) + Words().W(0).bytes),
               get, &m))
        << get;
    EXPECT_TRUE(m.empty()) << get;
  }
  std::vector<uint32_t> m;
  const std::string address =
      Record("VoVertexSetProperty", 0, Words().W(2).W(4).W(VO_VERT_WORLD).W(VtGenericPtr).W(1).bytes);
  EXPECT_FALSE(
      Called(Write("address.vxb", set_up + address + Words().W(0).bytes), "VoVertexSetProperty", &m));
  EXPECT_EQ(m, (std::vector<uint32_t>{282, 2971}));
}

}  // namespace
}  // namespace vo::test

// Mesh files: the byte layout of a small file, binary, text and big-endian
// round trips, values that hold pointers, the flags a load takes, a writer
// failing mid-save and malformed files.
#include <algorithm>
#include <limits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vo/vo_meshio.h>

#include "support/geometry_fixture.h"
#include "support/mesh_memory.h"
#include "scene/vogeom/geom_state.h"
#include "io/vomeshio/meshio.h"

namespace vo::test {
namespace {

// A mesh file of at most 64 KiB must not make a load ask for more than this
// in one allocation.
constexpr uint64_t kMostAllocatedForASmallFile = uint64_t{64} << 20;
constexpr size_t kSmallFile = size_t{64} << 10;

// The bytes of a save (with a failure after a number of written bytes when
// asked); a load reads MeshMemory's bytes.
std::vector<uint8_t> g_out;
size_t g_fail_after = SIZE_MAX;

VtStatus MemWrite(uint32_t n, const void *bytes) {
  if (g_out.size() + n > g_fail_after) return 2;
  const auto *b = static_cast<const uint8_t *>(bytes);
  g_out.insert(g_out.end(), b, b + n);
  return 0;
}

uint32_t Word(const std::vector<uint8_t> &b, size_t at) {
  uint32_t w;
  std::memcpy(&w, b.data() + at, 4);
  return w;
}

class MeshIOTest : public PolygonModuleTest {
 protected:
  void SetUp() override {
    StartModules({&VoEntryGeometry, &VoEntryPolygons, &VoEntryMeshIO});
    g_out.clear();
    MeshMemory::Serve({});
    g_fail_after = SIZE_MAX;
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_MESHIO_WRITE, reinterpret_cast<VtProc>(&MemWrite)), 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_MESHIO_READ, reinterpret_cast<VtProc>(&MeshMemory::Read)), 0u);
  }
  void TearDown() override {
    for (VtReference *l : loaded_) VoPrimitiveReferenceDestroy(l, 1);
    for (VtReference *l : lists_) VoPrimitiveReferenceDestroy(l, 0);
    for (VtPrimitive *p : made_) VoPrimitiveDestroy(p);
    PolygonModuleTest::TearDown();
  }
  static void Mode(uint32_t mode) {
    const VtTypedValue v = TypedWord(VtEnum, mode);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MESHIO_MODE, &v), 0u);
  }
  VtReference *ListOf(std::vector<VtPrimitive *> ps) {
    VtReference *l = VoPrimitiveListCreate(static_cast<uint32_t>(ps.size()), ps.data());
    lists_.push_back(l);
    made_.insert(made_.end(), ps.begin(), ps.end());
    return l;
  }
  VtReference *Load(const std::vector<uint8_t> &bytes) {
    MeshMemory::Serve(bytes);
    VtReference *l = VoMeshLoad();
    if (l != nullptr) loaded_.push_back(l);
    return l;
  }
  static std::vector<VtPrimitive *> Listed(const VtReference *l) { return RingData<VtPrimitive>(l); }
  static VtPrimitive *Triangle() { return Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}); }
  static std::vector<float> Worlds(VtPrimitive *p) {
    std::vector<float> out;
    for (void *v : MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT))
      out.insert(out.end(), World(p, v), World(p, v) + 3);
    return out;
  }
  static const float *World(VtPrimitive *p, void *v) { return PropertyAt<float>(p, v, VO_VERT_WORLD); }
  std::vector<VtReference *> lists_, loaded_;
  std::vector<VtPrimitive *> made_;
};

TEST_F(MeshIOTest, OneTriangleBinaryFileHasItsLayoutAndLoadsBack) {
  VtPrimitive *t = Triangle();
  const uint32_t code = VO_VERT_WORLD;
  ASSERT_EQ(VoMeshSave(ListOf({t}), 1, &code), 0u);
  ASSERT_EQ(g_out.size(), 142u);
  EXPECT_EQ(std::memcmp(g_out.data(), "VXMB", 4), 0);
  const uint32_t header[] = {2, 4, 4, 1, 1, 34, 0, 0x401};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(Word(g_out, 4 + 4 * i), header[i]) << i;
  EXPECT_STREQ(reinterpret_cast<const char *>(g_out.data() + 36), "vogeom:world:1025");
  const uint32_t rest[] = {3, 3, 12, 0, 3, 0, 1, 1, 0x401};
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(Word(g_out, 54 + 4 * i), rest[i]) << i;
  const uint32_t indices[] = {0, 1, 2, 0xFFFFFFFFu};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(Word(g_out, 126 + 4 * i), indices[i]);

  VtReference *l = Load(g_out);
  const auto loaded = Listed(l);
  ASSERT_EQ(loaded.size(), 1u);
  VtPrimitive *m = loaded[0];
  EXPECT_EQ(m->flags & VO_PRIMITIVE_TYPE_MASK, VO_PRIMITIVE_MESH);
  EXPECT_EQ(Worlds(m), Worlds(t));
  const auto polygons = MeshBuild::Ring(m, VO_PRIM_POLYS, VO_POLY_NEXT);
  ASSERT_EQ(polygons.size(), 1u);
  EXPECT_EQ(MeshBuild::Boundary(m, polygons[0]), MeshBuild::Ring(m, VO_PRIM_VERTS, VO_VERT_NEXT));
  const float *plane = PropertyAt<float>(m, polygons[0], VO_POLY_PLANE);
  EXPECT_FLOAT_EQ(plane[2], 1.0f);

  // The same file written on a big-endian machine: every word and every
  // float reversed, the name as it is.
  std::vector<uint8_t> big = g_out;
  for (size_t at = 4; at + 4 <= big.size(); at += 4) {
    if (at == 36) at = 54;
    std::reverse(big.begin() + static_cast<long>(at), big.begin() + static_cast<long>(at) + 4);
  }
  EXPECT_EQ(Word(big, 4), 0x02000000u);
  const auto swapped = Listed(Load(big));
  ASSERT_EQ(swapped.size(), 1u);
  EXPECT_EQ(Worlds(swapped[0]), Worlds(t));
}

TEST_F(MeshIOTest, TextFilesRoundTripWithEachVertexOneHexRun) {
  VtPrimitive *m = Mesh({{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {0, 3, 0.5f}}, {{0, 1, 2}, {0, 2, 3}}, true);
  Mode(VO_MESH_MODE_TEXT);
  const uint32_t codes[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  ASSERT_EQ(VoMeshSave(ListOf({m}), 2, codes), 0u);
  const std::string text(g_out.begin(), g_out.end());
  EXPECT_EQ(text.compare(0, 4, "VXMA"), 0);
  // 24 bytes of position and normal, 48 digits, and the next vertex's
  // straight after them.
  EXPECT_NE(text.find("\n" + std::string(44, '0') + "803f00000040"), std::string::npos);
  const auto loaded = Listed(Load(g_out));
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(Worlds(loaded[0]), Worlds(m));
  for (void *v : MeshBuild::Ring(loaded[0], VO_PRIM_VERTS, VO_VERT_NEXT))
    EXPECT_FLOAT_EQ(PropertyAt<float>(loaded[0], v, VO_VERT_NORMAL)[2], 1.0f);
  EXPECT_EQ(MeshBuild::Ring(loaded[0], VO_PRIM_POLYS, VO_POLY_NEXT).size(), 2u);
}

TEST_F(MeshIOTest, PointerValuesGoOutAsZerosAndOnlyDescriptiveFlagsComeBack) {
  VtPrimitive *t = Triangle();
  const uint32_t flags = t->flags;
  t->flags |= 0x200u | 0x2000u | 0x1000u | 0x80u;
  const uint32_t codes[] = {VO_PRIM_VERTS, 0x102, VO_VERT_WORLD, VO_PRIM_POLYS};
  const VtStatus st = VoMeshSave(ListOf({t}), 4, codes);
  const uint32_t saved = t->flags;
  t->flags = flags;
  ASSERT_EQ(st, 0u);
  // After the four descriptors: the mesh line (5 + 4 codes), then the
  // primitive's values in code order: 0x10a as one zero word, the flags, 0x106.
  size_t at = 32;
  for (int d = 0; d < 4; ++d)
    at += 4 + std::strlen(reinterpret_cast<const char *>(g_out.data() + at + 4)) + 1 + 12;
  at += 4 * 9;
  // The flags word holds the type and the bits a load keeps (0x80 of
  // 0x200, 0x2000, 0x1000 and 0x80): the primitive's own word is untouched.
  EXPECT_EQ(Word(g_out, at), 0u);
  EXPECT_EQ(Word(g_out, at + 4), VO_PRIMITIVE_MESH | 0x80u);
  EXPECT_EQ(saved, flags | 0x200u | 0x2000u | 0x1000u | 0x80u);
  EXPECT_EQ(Word(g_out, at + 8), 0u);
  const std::vector<uint8_t> file = g_out;
  VtReference *l = Load(file);
  const auto loaded = Listed(l);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0]->flags, VO_PRIMITIVE_MESH | 0x80u);
  EXPECT_EQ(Worlds(loaded[0]), Worlds(t));
  // A loaded list saves to the same file, its bounds held (0x20000) or not.
  for (bool held : {false, true}) {
    if (held) loaded[0]->flags |= 0x20000u;
    g_out.clear();
    ASSERT_EQ(VoMeshSave(l, 4, codes), 0u);
    EXPECT_EQ(g_out, file) << "bounds held " << held;
  }
}

TEST_F(MeshIOTest, AFailingWriterLeavesRingCallbacksAndModeAsTheyWere) {
  VtPrimitive *m = Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
  const auto ring = MeshBuild::Ring(m, VO_PRIM_VERTS, VO_VERT_NEXT);
  const auto boundary = MeshBuild::Boundary(m, MeshBuild::Ring(m, VO_PRIM_POLYS, VO_POLY_NEXT)[0]);
  const uint32_t codes[] = {VO_VERT_WORLD, VO_VERT_NEXT};
  VtReference *list = ListOf({m});
  ASSERT_EQ(VoMeshSave(list, 2, codes), 0u);
  const size_t whole = g_out.size();
  for (size_t fail = 0; fail < whole + 8; fail += 7) {
    g_out.clear();
    g_fail_after = fail;
    const VtStatus st = VoMeshSave(list, 2, codes);
    EXPECT_EQ(st != 0, fail < whole) << fail;
    EXPECT_EQ(MeshBuild::Ring(m, VO_PRIM_VERTS, VO_VERT_NEXT), ring);
    EXPECT_EQ(MeshBuild::Boundary(m, MeshBuild::Ring(m, VO_PRIM_POLYS, VO_POLY_NEXT)[0]), boundary);
    EXPECT_EQ(VoCallBackGet(VO_CALLBACK_MESHIO_WRITE), reinterpret_cast<VtProc>(&MemWrite));
    VtTypedValue mode{};
    ASSERT_EQ(VoControlGet(VO_CONTROL_MESHIO_MODE, &mode), 0u);
    EXPECT_EQ(mode.value.u, VO_MESH_MODE_BINARY);
    EXPECT_EQ(meshio::State()->mode, VO_MESH_MODE_NONE);
  }
}

// The one refusal a load posted: an error naming where (a byte or a line),
// the place, and a reason holding says.
void RefusalSaid(const char *where, uint32_t place, const char *says) {
  const auto said = vo_test::WithMessage(messages::kMeshLoadRefused);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].status, VO_CLASS_ERROR | 2u);
  EXPECT_EQ(said[0].strings[0], where);
  EXPECT_EQ(said[0].args[1].value.u, place);
  EXPECT_NE(said[0].strings[1].find(says), std::string::npos) << said[0].strings[1];
}
TEST_F(MeshIOTest, SavesWithoutMeshesOrCodesAndBadHeadersAndDescriptors) {
  VtPrimitive *t = Triangle();
  const uint32_t code = VO_VERT_WORLD;
  EXPECT_EQ(VoMeshSave(nullptr, 1, &code), 0u);
  EXPECT_EQ(VoMeshSave(ListOf({t}), 0, &code), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(649), 1);
  // A polygon primitive alone: nothing written, 0.
  EXPECT_EQ(VoMeshSave(ListOf({Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}})}), 1, &code), 0u);
  EXPECT_TRUE(g_out.empty());
  // A list of a mesh, a polygon and a mesh keeps both meshes.
  VtPrimitive *u = Triangle();
  ASSERT_EQ(VoMeshSave(ListOf({t, Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}), u}), 1, &code), 0u);
  const std::vector<uint8_t> good = g_out;
  EXPECT_EQ(Listed(Load(good)).size(), 2u);

  // Each refused file answers null and says what is wrong and at which
  // byte (the layout of OneTriangleBinaryFileHasItsLayoutAndLoadsBack: the
  // descriptor from byte 32, the first polygon's indices from 126), with the
  // error class, so that a mask showing errors shows it.
  struct Bad {
    size_t at;
    uint8_t byte;
    uint32_t place;
    const char *says;
  };
  const Bad cases[] = {
      {3, 'C', 3, "neither A (text) nor B"},
      {4, 3, 4, "format version 3"},
      {8, 5, 8, "second word is not 4"},
      {54, 4, 32, "\"vogeom:world\" names no registered property"},  // the value type differs
      {126, 7, 126, "mesh 1 polygon 1 names vertex index 7"},        // the first mesh fails
      {0, 'Q', 0, "no mesh file"},
  };
  for (const Bad &c : cases) {
    SCOPED_TRACE(c.says);
    std::vector<uint8_t> bad = good;
    bad[c.at] = c.byte;
    vo_test::Recorded().clear();
    EXPECT_EQ(Load(bad), nullptr);
    RefusalSaid("byte", c.place, c.says);
  }

  // A hand-written text file read through the default reader: the refusal
  // names the line. Line 1 holds the header, line 2 the descriptor, line 3
  // the mesh's counts, lines 4 to 6 the vertices, line 7 the polygon (CRLF,
  // a tab, upper-case hexadecimal and no final line end, as people write).
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_MESHIO_READ, nullptr), 0u);
  const std::string text =
      "VXMA 2 4 4 1 1 34 0\r\n1025\tvogeom:world:1025 3 3 12\n 0 3 0 1 1 1025\n"
      "000000000000000000000000\n0000803F0000000000000000\n000000000000803F00000000\n0 1 2 -1";
  struct Written {
    const char *was, *is;
    uint32_t line;
    const char *says;
  };
  const Written written[] = {
      {"VXMA 2", "VXMA 3", 1, "format version 3"},
      {"vogeom:world:", "vogeom:normals:", 2, "\"vogeom:normals\" names no registered property"},
      {"0 1 2 -1", "0 1# 2 -1", 7, "\"1#\" is not a 32-bit decimal number"},
      {"0 1 2 -1", "0 1 3 -1", 7, "names vertex index 3; the mesh's vertices are 0 to 2"},
  };
  auto load_text = [&](const std::string &bytes) -> VtReference * {
    std::FILE *f = std::tmpfile();
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) return nullptr;
    std::rewind(f);
    VtTypedValue file = TypedPointer(f);
    EXPECT_EQ(VoControlSet(VO_CONTROL_MESHIO_FILE, &file), 0u);
    VtReference *l = VoMeshLoad();
    if (l != nullptr) loaded_.push_back(l);
    file = TypedPointer(nullptr);
    EXPECT_EQ(VoControlSet(VO_CONTROL_MESHIO_FILE, &file), 0u);
    std::fclose(f);
    return l;
  };
  ASSERT_EQ(Listed(load_text(text)).size(), 1u);
  for (const Written &w : written) {
    SCOPED_TRACE(w.is);
    std::string bad = text;
    bad.replace(bad.find(w.was), std::strlen(w.was), w.is);
    vo_test::Recorded().clear();
    EXPECT_EQ(load_text(bad), nullptr);
    RefusalSaid("line", w.line, w.says);
  }
}

// Each fixed limit of the format refuses with message 2802, which names the
// procedure, what was counted, the value met and the limit: the save
// answers 0x20000012, a load lists nothing.
TEST_F(MeshIOTest, CountsPastAFixedLimitNameTheValueMetAndTheLimit) {
  struct Met {
    const char *procedure, *what;
    uint32_t value, limit;
    const char *unit;  // a load's: the place of the count met
    uint32_t place;
  };
  auto expect = [](const Met &m) {
    EXPECT_EQ(CountPosted(messages::kMeshFileRefused) + CountPosted(messages::kMeshLoadRefused), 0);
    if (std::strcmp(m.procedure, "VoMeshLoad") == 0) {
      // A load's refusal carries the error class and the place.
      const auto d = vo_test::WithMessage(messages::kMeshLoadLimit);
      ASSERT_EQ(d.size(), 1u);
      EXPECT_EQ(d[0].status, VO_CLASS_ERROR | 2u);
      EXPECT_EQ(d[0].strings, (std::vector<std::string>{m.unit, m.what}));
      ASSERT_EQ(d[0].args.size(), 5u);
      EXPECT_EQ(d[0].args[1].value.u, m.place);
      EXPECT_EQ(d[0].args[3].value.u, m.value);
      EXPECT_EQ(d[0].args[4].value.u, m.limit);
      return;
    }
    const auto d = vo_test::WithMessage(messages::kMeshLimitRefused);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].strings, (std::vector<std::string>{m.procedure, m.what}));
    ASSERT_EQ(d[0].args.size(), 4u);
    EXPECT_EQ(d[0].args[2].value.u, m.value);
    EXPECT_EQ(d[0].args[3].value.u, m.limit);
  };
  VtPrimitive *t = Triangle();
  // A registration name of 130 characters gets ":code" appended: 130 + 1 +
  // the code's digits.
  const std::string long_name = "test:" + std::string(125, 'n');
  const uint32_t long_code = VoVertexPropertyRegister(long_name.c_str(), VtFloat, 1);
  ASSERT_NE(long_code, 0u);
  const std::string full = long_name + ":" + std::to_string(long_code);
  for (uint32_t mode : {VO_MESH_MODE_BINARY, VO_MESH_MODE_TEXT}) {
    Mode(mode);
    vo_test::Recorded().clear();
    EXPECT_EQ(VoMeshSave(ListOf({t}), 1, &long_code), VO_STATUS_BAD_ARGUMENT);
    expect({"VoMeshSave", "property name characters", static_cast<uint32_t>(full.size()), 128, "", 0});
  }

  Mode(VO_MESH_MODE_BINARY);
  const uint32_t code = VO_VERT_WORLD;
  g_out.clear();
  ASSERT_EQ(VoMeshSave(ListOf({t}), 1, &code), 0u);
  const std::vector<uint8_t> good = g_out;  // the layout of OneTriangleBinaryFileHasItsLayoutAndLoadsBack
  auto with_word = [&](size_t at, uint32_t w) {
    std::vector<uint8_t> f = good;
    std::memcpy(f.data() + at, &w, 4);
    return f;
  };
  std::vector<uint8_t> long_named(good.begin(), good.begin() + 36);
  long_named.insert(long_named.end(), 200, 'a');
  long_named.insert(long_named.end(), good.begin() + 53, good.end());  // from the name's zero on
  std::vector<uint8_t> valueless = with_word(82, 0);          // no kept codes: vertices without values
  std::memcpy(valueless.data() + 70, "\x01\x00\x01\x00", 4);  // 65537 of them
  const std::pair<std::vector<uint8_t>, Met> cases[] = {
      // The name is refused at its 129th character.
      {long_named, {"VoMeshLoad", "property name characters", 129, 128, "byte", 36}},
      {with_word(16, 4 * VO_PROPERTY_SLOTS + 2),
       {"VoMeshLoad", "property descriptors", 4 * VO_PROPERTY_SLOTS + 2, 4 * VO_PROPERTY_SLOTS + 1, "byte",
        16}},
      {with_word(70, 1u << 28), {"VoMeshLoad", "vertices", 1u << 28, (1u << 28) - 1, "byte", 70}},
      {with_word(78, 1u << 30), {"VoMeshLoad", "polygons", 1u << 30, (1u << 28) - 1, "byte", 78}},
      {valueless, {"VoMeshLoad", "vertices without values", 65537, 65536, "byte", 70}},
  };
  for (const auto &[file, met] : cases) {
    SCOPED_TRACE(met.what);
    vo_test::Recorded().clear();
    EXPECT_EQ(Load(file), nullptr);
    expect(met);
  }

  // Text tokens: a name past 128 characters, a number past 11.
  Mode(VO_MESH_MODE_TEXT);
  g_out.clear();
  ASSERT_EQ(VoMeshSave(ListOf({t}), 1, &code), 0u);
  const std::string text(g_out.begin(), g_out.end());
  std::string named = text, numbered = text;
  named.replace(named.find("vogeom:world:1025"), 17, std::string(200, 'a'));
  numbered.replace(numbered.find(" 2 "), 3, " 000000000002 ");  // the version in 12 characters
  const std::pair<std::string, Met> tokens[] = {
      // Through an application's reader a text place is a token: the
      // name is the ninth (seven header numbers, the code), the version the first.
      {named, {"VoMeshLoad", "property name characters", 129, 128, "token", 9}},
      {numbered, {"VoMeshLoad", "number characters", 12, 11, "token", 1}},
  };
  for (const auto &[file, met] : tokens) {
    SCOPED_TRACE(met.what);
    vo_test::Recorded().clear();
    EXPECT_EQ(Load(std::vector<uint8_t>(file.begin(), file.end())), nullptr);
    expect(met);
  }
}

// Every prefix of a file and seeded byte flips: a list or null, no finding.
TEST_F(MeshIOTest, TruncatedAndFlippedFilesLoadSafely) {
  VtPrimitive *m = Mesh({{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {0, 3, 0.5f}}, {{0, 1, 2}, {0, 2, 3}}, true);
  const uint32_t codes[] = {VO_VERT_WORLD, VO_VERT_NORMAL, VO_PRIM_VERTS, 0x102, VO_POLY_VREFS};
  VtReference *list = ListOf({m, Triangle()});
  for (uint32_t mode : {VO_MESH_MODE_BINARY, VO_MESH_MODE_TEXT}) {
    Mode(mode);
    g_out.clear();
    ASSERT_EQ(VoMeshSave(list, 5, codes), 0u);
    const std::vector<uint8_t> file = g_out;
    ASSERT_EQ(Listed(Load(file)).size(), 2u);
    ASSERT_LE(file.size(), kSmallFile);
    vo_test::Recorded().clear();
    for (size_t n = 0; n < file.size(); ++n) {
      VtReference *l = nullptr;
      const uint64_t largest = LargestAllocationOf(
          [&] { l = Load(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(n))); });
      EXPECT_LE(Listed(l).size(), 1u) << n;
      EXPECT_LT(largest, kMostAllocatedForASmallFile) << "cut at " << n;
      // A cut inside the meshes says so once: bytes read, meshes read, the
      // header's two.
      const auto cut = vo_test::WithMessage(messages::kMeshLoadCut);
      EXPECT_LE(cut.size(), 1u) << n;
      if (Listed(l).size() == 1) {
        ASSERT_EQ(cut.size(), 1u) << n;
        EXPECT_LE(cut[0].args[0].value.u, n);
        EXPECT_EQ(cut[0].args[1].value.u, 1u);
        EXPECT_EQ(cut[0].args[2].value.u, 2u);
      }
      vo_test::Recorded().clear();
    }
    uint32_t seed = 12345;
    for (int round = 0; round < 400; ++round) {
      std::vector<uint8_t> f = file;
      for (int k = 0; k < 3; ++k) {
        seed = seed * 1103515245u + 12345u;
        f[(seed >> 8) % f.size()] ^= static_cast<uint8_t>(1u << ((seed >> 4) & 7));
      }
      EXPECT_LT(LargestAllocationOf([&] { (void)Load(f); }), kMostAllocatedForASmallFile)
          << "round " << round;
    }
  }
}

// The default procedures over a file: a save and a load through it, and
// requests larger than the 1,024-byte read buffer served from the file.
TEST_F(MeshIOTest, TheDefaultProceduresServeAFileAndLargeRequests) {
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_MESHIO_WRITE, nullptr), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_MESHIO_READ, nullptr), 0u);
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_MESHIO_READ), reinterpret_cast<VtProc>(&meshio::DefaultRead));
  VtPrimitive *m = Mesh({{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {0, 3, 0.5f}}, {{0, 1, 2}, {0, 2, 3}}, true);
  std::FILE *f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  VtTypedValue file = TypedPointer(f);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MESHIO_FILE, &file), 0u);
  const uint32_t codes[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtReference *list = ListOf({m});
  for (uint32_t mode : {VO_MESH_MODE_BINARY, VO_MESH_MODE_TEXT}) {
    Mode(mode);
    ASSERT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    ASSERT_EQ(VoMeshSave(list, 2, codes), 0u);
    std::rewind(f);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MESHIO_FILE, &file), 0u);
    const auto loaded = Listed(Load({}));
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(Worlds(loaded[0]), Worlds(m));
  }
  // 5,000 bytes read as 10, 3,000 and the rest.
  std::vector<uint8_t> bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  std::rewind(f);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::rewind(f);
  file = TypedPointer(nullptr);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MESHIO_FILE, &file), 0u);
  file = TypedPointer(f);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MESHIO_FILE, &file), 0u);
  meshio::State()->mode = VO_MESH_MODE_BINARY;
  std::vector<uint8_t> got(5000);
  uint32_t n = 10;
  ASSERT_EQ(meshio::DefaultRead(&n, got.data()), 0u);
  n = 3000;
  ASSERT_EQ(meshio::DefaultRead(&n, got.data() + 10), 0u);
  n = 1990;
  ASSERT_EQ(meshio::DefaultRead(&n, got.data() + 3010), 0u);
  EXPECT_EQ(got, bytes);
  n = 1;
  EXPECT_EQ(meshio::DefaultRead(&n, got.data()), 2u);  // the file has ended
  meshio::State()->mode = VO_MESH_MODE_NONE;
  std::fclose(f);
  file = TypedPointer(nullptr);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MESHIO_FILE, &file), 0u);
  EXPECT_EQ(VoMeshLoad(), nullptr);
}

// An edge section is read and dropped; a code no longer registered is read
// into code + 50 when that has the same name.
TEST_F(MeshIOTest, EdgesAreDroppedAndOldCodesMoveFifty) {
  const std::vector<int32_t> contours = {2};
  VtPrimitive *holed = MeshOf({{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}, {1, 1, 0}, {2, 1, 0}, {1, 2, 0}},
                              &contours, {4, 3}, {0, 1, 2, 3, 4, 6, 5});
  ASSERT_NE(holed, nullptr);
  ASSERT_GT(RingCount(holed, VO_ELEMENT_EDGE), 0u);
  const uint32_t edge_codes[] = {VO_VERT_WORLD, VO_EDGE_FLAGS};
  ASSERT_EQ(VoMeshSave(ListOf({holed}), 2, edge_codes), 0u);
  auto loaded = Listed(Load(g_out));
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(Worlds(loaded[0]), Worlds(holed));
  EXPECT_EQ(RingCount(loaded[0], VO_ELEMENT_POLYGON), RingCount(holed, VO_ELEMENT_POLYGON));

  const uint32_t moved = VoVertexPropertyRegister("meshio_test:old:1124", VtFloat, 1);
  ASSERT_EQ(moved, 1124u);
  const Positions xyz = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const float weights[] = {0.25f, 0.5f, 0.75f};
  const int32_t count = 3, indices[] = {0, 1, 2};
  const uint32_t ids[] = {VO_VERT_WORLD, moved};
  const VtTypedValue data[] = {PropertyRecord(xyz.data()), PropertyRecord(weights)};
  VtPrimitive *m = VoPrimitiveCreateMesh(1, nullptr, &count, indices, 2, ids, data);
  ASSERT_NE(m, nullptr);
  g_out.clear();
  ASSERT_EQ(VoMeshSave(ListOf({m}), 2, ids), 0u);
  // The file as an older library wrote it: the property under 1074.
  std::vector<uint8_t> old = g_out;
  size_t patched = 0;
  for (size_t at = 32; at + 4 <= old.size(); ++at)
    if (Word(old, at) == 1124u) {
      const uint32_t w = 1074;
      std::memcpy(old.data() + at, &w, 4);
      ++patched;
    }
  ASSERT_EQ(patched, 2u) << g_out.size();
  loaded = Listed(Load(old));
  ASSERT_EQ(loaded.size(), 1u);
  std::vector<float> back;
  for (void *v : MeshBuild::Ring(loaded[0], VO_PRIM_VERTS, VO_VERT_NEXT))
    back.push_back(*PropertyAt<float>(loaded[0], v, moved));
  EXPECT_EQ(back, (std::vector<float>{0.25f, 0.5f, 0.75f}));
}

// The fuzz program's whole-file seeds are files a load takes in full.
TEST_F(MeshIOTest, TheFuzzSeedsAreWholeMeshFiles) {
  for (const char *name : {"binary", "text"}) {
    const std::string path = std::string(VO_TEST_DATA_DIR) + "/../fuzz/corpus/meshio_fuzz/" + name;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    std::vector<uint8_t> bytes;
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    const auto loaded = Listed(Load(std::vector<uint8_t>(bytes.begin() + 1, bytes.end())));
    ASSERT_EQ(loaded.size(), 1u) << name;
    EXPECT_EQ(MeshBuild::Ring(loaded[0], VO_PRIM_POLYS, VO_POLY_NEXT).size(), 2u);
    EXPECT_EQ(Worlds(loaded[0]), (std::vector<float>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
  }
}

// A position that is infinite or not a number refuses the whole mesh, as
// the creation procedures refuse one, naming the reason.
TEST_F(MeshIOTest, AVertexPositionThatIsInfiniteOrNotANumberRefusesTheMesh) {
  const uint32_t code = VO_VERT_WORLD;
  ASSERT_EQ(VoMeshSave(ListOf({Triangle()}), 1, &code), 0u);
  ASSERT_EQ(g_out.size(), 142u);  // the positions are the 36 bytes from 90
  for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    std::vector<uint8_t> file = g_out;
    std::memcpy(file.data() + 90 + 12 + 4, &bad, 4);  // the second vertex's y
    g_posted.clear();
    EXPECT_EQ(Load(file), nullptr);
    EXPECT_EQ(CountPosted(messages::kMeshLoadRefused), 1);  // at the second vertex's values, byte 102
  }
}

}  // namespace
}  // namespace vo::test

// Shaders, materials, shader lists, images and primitive lists in object
// files: what they read back as, what is stored once, what is not saved, and
// the mesh module's procedures and mode after every save and load.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>
#include <string>

#include <vo/vo_meshio.h>

#include "support/fake_module.h"
#include "support/geometry_fixture.h"
#include "support/shader_fixture.h"
#include "io/voobject/object_fixture.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/module_entry.h"
#include "kernel/vosystem/reference.h"

namespace vo::test {
namespace {

VtObjectValue Object(uint32_t type, void *object) {
  VtObjectValue v = ObjectValue(type);
  v.value.p = object;
  return v;
}

class SceneObjectsTest : public ObjectTest {
 protected:
  void SetUp() override {
    ObjectTest::SetUp();
    for (VtQueryFunction m :
         {&VoEntryGeometry, &VoEntryPolygons, &VoEntryTransforms, &VoEntryView, &VoEntryDriver,
          &VoEntryShader, &VoEntrySuperLiteShaders, &VoEntryLiteShaders, &VoEntryMeshIO})
      ASSERT_EQ(VoInstallModule(m), 0u);
    // The classic library's compatibility answer lets colours be driven by
    // shaders.
    Fake<0>::Reset(VO_MODULE_CLASSIC, "voshclas");
    Fake<0>::m.compatibility = true;
    Fake<0>::m.compatibility_key = (uint32_t{VO_MODULE_CLASSIC} << 24) | kCompatibilityKey;
    ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
  }
  // Writes the values to a file and reads every record back.
  static std::vector<VtObjectValue> RoundTrip(const std::vector<VtObjectValue> &values, VtStatus *written,
                                              VtStatus *read) {
    MemoryFile f;
    *written = Write(&f, [&](MemoryFile *m) {
      VtStatus st = 0;
      for (const VtObjectValue &v : values) st |= WriteValue(m, v);
      return st;
    });
    std::vector<VtObjectValue> out;
    *read = ReadAll(&f, &out);
    return out;
  }
  static VtPrimitive *Triangle(float z) {
    return PolygonModuleTest::Mesh({{0, 0, z}, {1, 0, z}, {0, 1, z}}, {{0, 1, 2}});
  }
  static VtPrimitive *Square() {
    return PolygonModuleTest::Polygon({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  }
  static std::vector<float> Positions(VtPrimitive *p) {
    std::vector<float> out;
    for (void *v : MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT)) {
      const float *w = PropertyAt<float>(p, v, VO_VERT_WORLD);
      out.insert(out.end(), w, w + 3);
    }
    return out;
  }
  // The mesh module's procedures and mode, which no list save or load may
  // leave changed.
  struct MeshModule {
    VtProc writer = VoCallBackGet(VO_CALLBACK_MESHIO_WRITE);
    VtProc reader = VoCallBackGet(VO_CALLBACK_MESHIO_READ);
    uint32_t mode = [] {
      VtTypedValue v{};
      (void)VoControlGet(VO_CONTROL_MESHIO_MODE, &v);
      return v.value.u;
    }();
    bool operator==(const MeshModule &) const = default;
  };
};

TEST_F(SceneObjectsTest, TwoMaterialsSharingAPlasticShaderStoreItOnceAndReadBackSharingIt) {
  VtShader *plastic = VoShaderCreate(VO_SHADER_REFLECTANCE, "plastic");
  ASSERT_NE(plastic, nullptr);
  const VtTypedValue rough = TypedFloat(0.3125f);
  ASSERT_EQ(VoShaderSetArg(plastic, "roughness", &rough), 0u);
  VtMaterial *a = VoMaterialCreate(), *b = VoMaterialCreate();
  ASSERT_EQ(VoMaterialSetShader(a, plastic), 0u);
  for (uint32_t type :
       {VO_SHADER_COLOUR, VO_SHADER_REFLECTANCE, VO_SHADER_TRANSPARENCY, VO_SHADER_DISPLACEMENT})
    ASSERT_EQ(VoMaterialSetShader(b, VoMaterialGetShader(a, type)), 0u);
  MemoryFile once, twice;
  ASSERT_EQ(Write(&once, [&](MemoryFile *m) { return WriteValue(m, Object(VO_OBJECT_MATERIAL, a)); }), 0u);
  ASSERT_EQ(Write(&twice,
                  [&](MemoryFile *m) {
                    return WriteValue(m, Object(VO_OBJECT_MATERIAL, a)) |
                           WriteValue(m, Object(VO_OBJECT_MATERIAL, b));
                  }),
            0u);
  // The second material names the four shaders by their ids alone: four
  // items of type word, length and id, a record head and a checksum.
  EXPECT_EQ(twice.bytes.size() - once.bytes.size(), 4u * 12 + 12 + 4);
  std::vector<VtObjectValue> read;
  ASSERT_EQ(ReadAll(&twice, &read), 0u);
  ASSERT_EQ(read.size(), 2u);
  auto *ma = static_cast<VtMaterial *>(read[0].value.p), *mb = static_cast<VtMaterial *>(read[1].value.p);
  ASSERT_NE(ma, mb);
  VtShader *shared = VoMaterialGetShader(ma, VO_SHADER_REFLECTANCE);
  EXPECT_EQ(VoMaterialGetShader(mb, VO_SHADER_REFLECTANCE), shared);
  EXPECT_NE(shared, plastic);
  VtTypedValue v{};
  ASSERT_EQ(VoShaderGetArg(shared, "roughness", &v), 0u);
  EXPECT_EQ(v.value.f, 0.3125f);
  // The materials hold the only references: the shader goes with the last.
  EXPECT_EQ(VoMaterialDestroy(ma) | VoMaterialDestroy(mb), 0u);
  EXPECT_EQ(VoMaterialDestroy(a) | VoMaterialDestroy(b) | VoShaderDestroy(plastic), 0u);
}

TEST_F(SceneObjectsTest, AShaderListOfThreeLightsKeepsItsOrderAndTheBackgroundItsClass) {
  VtReference *lights = nullptr;
  const float levels[3] = {0.25f, 0.5f, 0.75f};
  for (float level : levels) {
    VtShader *l = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    const VtTypedValue intensity = TypedFloat(level);
    ASSERT_EQ(VoShaderSetArg(l, "intensity", &intensity), 0u);
    lights = VoShaderReferenceAppend(lights, VoShaderReferenceCreate(l));
  }
  VtShader *background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  ASSERT_NE(background, nullptr);
  VtStatus written = 0, read = 0;
  const auto back = RoundTrip({Object(VO_OBJECT_SHADER_LIST, &lights), Object(VO_OBJECT_SHADER, background)},
                              &written, &read);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(read, 0u);
  ASSERT_EQ(back.size(), 2u);
  VtReference *list = nullptr;
  std::memcpy(&list, back[0].value.p, sizeof list);
  VoDataObjectGetDeallocator(VO_OBJECT_SHADER_LIST)(back[0].value.p);
  std::vector<float> got;
  ForEachNode(list, [&](VtReference *node) {
    VtTypedValue v{};
    EXPECT_EQ(VoShaderGetArg(static_cast<VtShader *>(node->data), "intensity", &v), 0u);
    got.push_back(v.value.f);
  });
  EXPECT_EQ(got, std::vector<float>(levels, levels + 3));
  uint32_t type = 0;
  const char *name = nullptr;
  ASSERT_EQ(VoShaderEnquire(static_cast<VtShader *>(back[1].value.p), &type, &name, nullptr, nullptr), 0u);
  EXPECT_EQ(type, VO_SHADER_BACKGROUND);
  EXPECT_STREQ(name, "plain");
  EXPECT_EQ(VoShaderDestroy(static_cast<VtShader *>(back[1].value.p)) | VoShaderDestroy(background), 0u);
  EXPECT_EQ(VoShaderReferenceDestroy(list, 1) | VoShaderReferenceDestroy(lights, 1), 0u);
}

// A file that holds a light at infinity (written by a library that took
// such a place): the place is refused as it is read, the light keeping the
// class's own, and the record after it reads as usual.
TEST_F(SceneObjectsTest, ALightHeldAtInfinityReadsBackAtItsClasssPlaceAndTheNextRecordStillReads) {
  VtShader *far = VoShaderCreate(VO_SHADER_LIGHT, "point"), *next = VoShaderCreate(VO_SHADER_LIGHT, "point");
  ASSERT_TRUE(far != nullptr && next != nullptr);
  static_cast<VtLightData *>(VoShaderGetData(far))->position[1] = INFINITY;
  VtTypedValue at{};
  at.type = VtPoint;
  at.value.v[0] = 1, at.value.v[1] = 2, at.value.v[2] = 3;
  ASSERT_EQ(VoShaderSetArg(next, "location", &at), 0u);
  g_posted.clear();
  VtStatus written = 0, read = 0;
  const auto back =
      RoundTrip({Object(VO_OBJECT_SHADER, far), Object(VO_OBJECT_SHADER, next)}, &written, &read);
  EXPECT_EQ(written & ~VO_OBJECT_NOT_SAVED, 0u);  // the procedure arguments are passed over
  EXPECT_EQ(read & ~VO_OBJECT_NOT_SAVED, 0u);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(CountPosted(messages::kLightArgumentNotFinite), 1);
  const float origin[3] = {0, 0, 0}, given[3] = {1, 2, 3};
  for (int k = 0; k < 2; ++k) {
    VtTypedValue v{};
    ASSERT_EQ(VoShaderGetArg(static_cast<VtShader *>(back[k].value.p), "location", &v), 0u);
    EXPECT_EQ(std::memcmp(v.value.v, k == 0 ? origin : given, sizeof origin), 0) << k;
  }
  for (const VtObjectValue &v : back) EXPECT_EQ(VoShaderDestroy(static_cast<VtShader *>(v.value.p)), 0u);
  EXPECT_EQ(VoShaderDestroy(far) | VoShaderDestroy(next), 0u);
}

TEST_F(SceneObjectsTest, AColourDrivenByAShaderIsSavedAsThatShader) {
  VtShader *inner = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  VtShader *outer = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  ASSERT_NE(inner, nullptr);
  VtTypedValue blue{};
  blue.type = VtColourType;
  blue.value.v[2] = 1;
  ASSERT_EQ(VoShaderSetArg(inner, "colour", &blue), 0u);
  VtTypedValue driven{};
  driven.type = VtShaderColour;
  driven.value.p = inner;
  ASSERT_EQ(VoShaderSetArg(outer, "colour", &driven), 0u);
  VtStatus written = 0, read = 0;
  const auto back = RoundTrip({Object(VO_OBJECT_SHADER, outer)}, &written, &read);
  EXPECT_EQ(written | read, 0u);
  ASSERT_EQ(back.size(), 1u);
  auto *copy = static_cast<VtShader *>(back[0].value.p);
  VtTypedValue v{};
  v.type = VtShaderColour;
  ASSERT_EQ(VoShaderGetArg(copy, "colour", &v), 0u);
  ASSERT_EQ(v.type, VtShaderColour);
  auto *inner_copy = static_cast<VtShader *>(v.value.p);
  ASSERT_NE(inner_copy, nullptr);
  EXPECT_NE(inner_copy, inner);
  VtTypedValue c{};
  ASSERT_EQ(VoShaderGetArg(inner_copy, "colour", &c), 0u);
  EXPECT_EQ(c.value.v[2], 1.0f);
  EXPECT_EQ(VoShaderDestroy(copy) | VoShaderDestroy(inner_copy), 0u);
  EXPECT_EQ(VoShaderDestroy(outer) | VoShaderDestroy(inner), 0u);
}

// A non-default value of the argument's type, different for every label.
VtTypedValue Changed(const VtTypedValue &v, uint32_t salt) {
  VtTypedValue out = v;
  const float f = 0.125f * static_cast<float>(salt % 7 + 1);
  switch (v.type) {
    case VtFloat: out.value.f = v.value.f + f; break;
    case VtDouble: out.value.d = v.value.d + f; break;
    case VtInt32:
    case VtNat32: out.value.u = v.value.u + 1; break;
    case VtBoolean: out.value.u = v.value.u != 0 ? 0 : 1; break;
    case VtColourType:
    case VtPoint:
    case VtVector:
      for (float &x : out.value.v) x = x * 0.5f + f;
      break;
    default: break;
  }
  return out;
}

bool Same(const VtTypedValue &a, const VtTypedValue &b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case VtDouble: return a.value.d == b.value.d;
    case VtColourType:
    case VtPoint:
    case VtVector: return std::memcmp(a.value.v, b.value.v, sizeof a.value.v) == 0;
    case VtString: return std::string(a.value.s ? a.value.s : "") == std::string(b.value.s ? b.value.s : "");
    case VtFunc: return true;
    case VtGenericPtr: return a.value.p == b.value.p;
    default: return a.value.u == b.value.u;
  }
}

// Every class of both libraries with a changed value in every argument it
// takes: each argument reads back equal, an address argument null when it
// was null; an address that is no object of a file is skipped with the
// warning bit.
TEST_F(SceneObjectsTest, EverySuperLiteAndLiteClassKeepsEveryArgument) {
  int classes = 0;
  for (uint32_t type = VO_SHADER_COLOUR; type <= VO_SHADER_FILTER; ++type) {
    if (type == VO_SHADER_SECOND_REFLECTANCE) continue;
    uint32_t count = 0;
    void *names = nullptr;
    if (VoShaderGetPrototypes(type, &count, &names) != 0) continue;
    std::vector<std::string> listed;
    for (uint32_t i = 0; i < count; ++i) listed.emplace_back(static_cast<const char **>(names)[i]);
    for (const std::string &name : listed) {
      SCOPED_TRACE(name);
      VtShader *s = VoShaderCreate(type, name.c_str());
      if (s == nullptr) continue;
      ++classes;
      uint32_t args = 0;
      void *labels = nullptr;
      ASSERT_EQ(VoShaderEnquire(s, nullptr, nullptr, &args, &labels), 0u);
      bool address = false;
      for (uint32_t i = 0; i < args; ++i) {
        const char *label = static_cast<const char **>(labels)[i];
        VtTypedValue v{};
        ASSERT_EQ(VoShaderGetArg(s, label, &v), 0u);
        address |= v.type == VtGenericPtr && v.value.p != nullptr;
        const VtTypedValue changed = Changed(v, i);
        (void)VoShaderSetArg(s, label, &changed);
      }
      VtStatus written = 0, read = 0;
      const auto back = RoundTrip({Object(VO_OBJECT_SHADER, s)}, &written, &read);
      ASSERT_EQ(back.size(), 1u);
      auto *copy = static_cast<VtShader *>(back[0].value.p);
      ASSERT_NE(copy, nullptr);
      EXPECT_EQ(written, address ? VO_OBJECT_NOT_SAVED : 0u);
      EXPECT_EQ(read, 0u);
      for (uint32_t i = 0; i < args; ++i) {
        const char *label = static_cast<const char **>(labels)[i];
        VtTypedValue a{}, b{};
        ASSERT_EQ(VoShaderGetArg(s, label, &a) | VoShaderGetArg(copy, label, &b), 0u);
        if (a.type == VtGenericPtr && a.value.p != nullptr) continue;  // not saved
        EXPECT_TRUE(Same(a, b)) << label;
      }
      EXPECT_EQ(VoShaderDestroy(copy) | VoShaderDestroy(s), 0u);
    }
  }
  EXPECT_GT(classes, 20);
}

// An image of the depth with recognisable pixels and an offset region.
VtImage *Picture(int32_t bits, int32_t width, int32_t height) {
  VtImage *image = VoImageCreate();
  image->width = width;
  image->height = height;
  image->bits = bits;
  EXPECT_EQ(VoImageAllocateData(image), 0u);
  for (int32_t i = 0; i < image->bytes_per_row * height; ++i)
    image->data[i] = static_cast<uint8_t>(i * 7 + bits);
  image->x0 = 1;
  image->x1 = width - 2;
  image->y0 = 2;
  image->y1 = height - 1;
  image->xoffset = 5;
  image->yoffset = 6;
  return image;
}

void ExpectSameImage(const VtImage *a, const VtImage *b) {
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->width, a->width);
  EXPECT_EQ(b->height, a->height);
  EXPECT_EQ(b->bits, a->bits);
  EXPECT_EQ(std::vector<int32_t>({b->x0, b->x1, b->y0, b->y1, b->xoffset, b->yoffset, b->mode}),
            std::vector<int32_t>({a->x0, a->x1, a->y0, a->y1, a->xoffset, a->yoffset, 0}));
  ASSERT_EQ(b->bytes_per_row, a->bytes_per_row);
  EXPECT_EQ(std::memcmp(a->data, b->data, static_cast<size_t>(a->bytes_per_row * a->height)), 0);
}

// A "decal" class of the test: one address argument, the shader it lays
// on.
struct DecalData {
  uint32_t prepared;
  void *shader;
};
void *DecalCreate() {
  auto *d = static_cast<DecalData *>(VoAllocate(sizeof(DecalData)));
  if (d != nullptr) *d = DecalData{};
  return d;
}
VtStatus DecalGet(void *data, uint32_t, VtTypedValue *v) {
  if (v->type == VtShaderColour) return 0;
  *v = TypedPointer(static_cast<DecalData *>(data)->shader);
  return 0;
}
VtStatus DecalSet(void *data, uint32_t, VtTypedValue *v) {
  static_cast<DecalData *>(data)->shader = v->value.p;
  return 0;
}

// Addresses travel only as objects of the file: a decal's shader and an
// image argument's image come back as new objects; any other address is
// skipped with the warning bit and reads back as the class's default.
TEST_F(SceneObjectsTest, ADecalsShaderAndAnImageArgumentComeBackAndOtherAddressesAreSkipped) {
  ASSERT_EQ((TestClass{VO_SHADER_COLOUR,
                       "vxs_test_decal",
                       "decal",
                       {"shader"},
                       {{VO_SLOT_CREATE, reinterpret_cast<VtProc>(&DecalCreate)},
                        {VO_SLOT_DESTROY, reinterpret_cast<VtProc>(&TestDestroy)},
                        {VO_SLOT_GET_ARG, reinterpret_cast<VtProc>(&DecalGet)},
                        {VO_SLOT_SET_ARG, reinterpret_cast<VtProc>(&DecalSet)}}}
                 .Register()),
            0u);
  VtShader *inner = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  VtShader *decal = VoShaderCreate(VO_SHADER_COLOUR, "decal");
  ASSERT_NE(decal, nullptr);
  const VtTypedValue on = TypedPointer(inner);
  ASSERT_EQ(VoShaderSetArg(decal, "shader", &on), 0u);
  VtImage *picture = Picture(24, 4, 3);
  VtShader *background = VoShaderCreate(VO_SHADER_BACKGROUND, "image");
  ASSERT_NE(background, nullptr);
  const VtTypedValue image = TypedPointer(picture);
  ASSERT_EQ(VoShaderSetArg(background, "image", &image), 0u);
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  int table = 0;
  const VtTypedValue data = TypedPointer(&table);
  ASSERT_EQ(VoShaderSetArg(light, "fall off data", &data), 0u);

  VtStatus written = 0, read = 0;
  const auto back = RoundTrip({Object(VO_OBJECT_SHADER, decal), Object(VO_OBJECT_SHADER, background),
                               Object(VO_OBJECT_SHADER, light)},
                              &written, &read);
  EXPECT_EQ(written, VO_OBJECT_NOT_SAVED);  // the light's table
  EXPECT_EQ(read, VO_OBJECT_NOT_SAVED);
  ASSERT_EQ(back.size(), 3u);
  VtTypedValue v{};
  ASSERT_EQ(VoShaderGetArg(static_cast<VtShader *>(back[0].value.p), "shader", &v), 0u);
  auto *inner_back = static_cast<VtShader *>(v.value.p);
  ASSERT_NE(inner_back, nullptr);
  EXPECT_NE(inner_back, inner);
  const char *name = nullptr;
  ASSERT_EQ(VoShaderEnquire(inner_back, nullptr, &name, nullptr, nullptr), 0u);
  EXPECT_STREQ(name, "plain");
  ASSERT_EQ(VoShaderGetArg(static_cast<VtShader *>(back[1].value.p), "image", &v), 0u);
  ASSERT_NE(v.value.p, nullptr);
  EXPECT_NE(v.value.p, picture);
  ExpectSameImage(picture, static_cast<VtImage *>(v.value.p));
  VtImage *image_back = static_cast<VtImage *>(v.value.p);
  ASSERT_EQ(VoShaderGetArg(static_cast<VtShader *>(back[2].value.p), "fall off data", &v), 0u);
  EXPECT_EQ(v.value.p, nullptr);
  for (const VtObjectValue &o : back) EXPECT_EQ(VoShaderDestroy(static_cast<VtShader *>(o.value.p)), 0u);
  EXPECT_EQ(VoShaderDestroy(inner_back) | VoImageDestroy(image_back), 0u);
  EXPECT_EQ(
      VoShaderDestroy(decal) | VoShaderDestroy(inner) | VoShaderDestroy(background) | VoShaderDestroy(light),
      0u);
  EXPECT_EQ(VoImageDestroy(picture), 0u);
}

// The payload of an image record as the type-2 values a version-1 writer
// wrote, the pixels raw: each value a nested item and its checksum.
void ValueBytes(std::vector<uint8_t> &out, uint32_t w) {
  const uint8_t item[8] = {0, 0, 0, 2, uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)};
  out.insert(out.end(), item, item + 8);
  uint32_t sum = 13;
  for (int i = 0; i < 8; ++i) sum += uint32_t{item[i]} << i;
  const uint8_t check[4] = {uint8_t(sum >> 24), uint8_t(sum >> 16), uint8_t(sum >> 8), uint8_t(sum)};
  out.insert(out.end(), check, check + 4);
}

// A whole object file without permutation: header, the type table, one
// record by reference (id 2) of the type and version given, and the end
// record. The record's checksum covers the last `covered` bytes of the
// payload (an encoder's checksummed values restart the sum).
std::vector<uint8_t> RecordFile(uint32_t type, uint32_t version, const std::vector<uint8_t> &payload,
                                size_t covered) {
  std::vector<uint8_t> f;
  auto word = [&](uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(w >> s));
  };
  auto sum_of = [&](size_t from) {
    uint32_t sum = 13;
    for (size_t i = from; i < f.size(); ++i) sum += uint32_t{f[i]} << ((i - from) % 24);
    return sum;
  };
  f.insert(f.end(), {'V', 'o', 'O', 'b'});
  for (uint32_t w : {3u, 1u, 0u}) word(w);
  for (int i = 0; i < 256; ++i) word(0);
  word(2);
  for (uint32_t w : {uint32_t{VO_OBJECT_NAT32}, 1u, 4u, type, version, 0u}) word(w);
  for (uint32_t w : {type | VO_OBJECT_REFERENCE, static_cast<uint32_t>(payload.size()), 2u}) word(w);
  f.insert(f.end(), payload.begin(), payload.end());
  word(sum_of(f.size() - covered));
  for (uint32_t w : {9u, 2u, 0u}) word(w);
  word(sum_of(f.size() - 12));
  return f;
}

TEST_F(SceneObjectsTest, ImagesOfEightAndTwentyFourBitsAndOfAnOlderWriterReadBack) {
  VtImage *grey = Picture(8, 13, 7), *colour = Picture(24, 9, 5), *empty = VoImageCreate();
  VtStatus written = 0, read = 0;
  const auto back = RoundTrip(
      {Object(VO_OBJECT_IMAGE, grey), Object(VO_OBJECT_IMAGE, colour), Object(VO_OBJECT_IMAGE, empty)},
      &written, &read);
  EXPECT_EQ(written | read, 0u);
  ASSERT_EQ(back.size(), 3u);
  ExpectSameImage(grey, static_cast<VtImage *>(back[0].value.p));
  ExpectSameImage(colour, static_cast<VtImage *>(back[1].value.p));
  const auto *none = static_cast<VtImage *>(back[2].value.p);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->width | none->height, 0);

  // The same 8-bit image as a version-1 writer stored it: raw pixels, no
  // length.
  std::vector<uint8_t> payload;
  for (int32_t w : {13, 7, 8, 5, 6, 13, 1, 2, 11, 6}) ValueBytes(payload, static_cast<uint32_t>(w));
  payload.insert(payload.end(), grey->data, grey->data + 13 * 7);
  MemoryFile old;
  old.bytes = RecordFile(VO_OBJECT_IMAGE, 1, payload, 12 + 13 * 7);
  std::vector<VtObjectValue> older;
  ASSERT_EQ(ReadAll(&old, &older), 0u);
  ASSERT_EQ(older.size(), 1u);
  ExpectSameImage(grey, static_cast<VtImage *>(older[0].value.p));

  // Bytes per row that are not bytes per pixel x width, or a depth no
  // image has: the record fails and nothing is handed out.
  for (auto [bits, row] : {std::pair{8, 14}, std::pair{8, 12}, std::pair{16, 26}, std::pair{24, 13}}) {
    std::vector<uint8_t> bad;
    for (int32_t w : {13, 7, bits, 0, 0, row, 0, 0, 12, 6}) ValueBytes(bad, static_cast<uint32_t>(w));
    bad.insert(bad.end(), 13 * 7 * 3, 0);
    MemoryFile f;
    f.bytes = RecordFile(VO_OBJECT_IMAGE, 1, bad, bad.size());
    std::vector<VtObjectValue> none_read;
    EXPECT_EQ(ReadAll(&f, &none_read) & 2u, 2u) << bits << " " << row;
    EXPECT_TRUE(none_read.empty());
  }
  for (const VtObjectValue &v : back) EXPECT_EQ(VoImageDestroy(static_cast<VtImage *>(v.value.p)), 0u);
  EXPECT_EQ(VoImageDestroy(static_cast<VtImage *>(older[0].value.p)), 0u);
  EXPECT_EQ(VoImageDestroy(grey) | VoImageDestroy(colour) | VoImageDestroy(empty), 0u);
}

// Two meshes around a polygon, one transformed, one of a material of its
// own: every later record still reads, the pairs go to the meshes, the
// polygon is not saved.
TEST_F(SceneObjectsTest, AMixedListKeepsItsMeshesTheirTransformsAndMaterials) {
  VtPrimitive *a = Triangle(0), *square = Square(), *b = Triangle(2);
  VtTransform *t = VoTransformCreate();
  const double offset[3] = {1, 2, 3};
  ASSERT_EQ(VoTransformTranslate(t, offset), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(b, t), 0u);
  VtMaterial *m = VoMaterialCreate();
  ASSERT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "plastic"), 0u);
  ASSERT_EQ(VoPrimitiveSetMaterial(a, m), 0u);
  VtPrimitive *items[] = {a, square, b};
  VtReference *list = VoPrimitiveListCreate(3, items);
  VtView *view = VoViewCreate();
  const MeshModule before;
  VtStatus written = 0, read = 0;
  const auto back =
      RoundTrip({Object(VO_OBJECT_PRIMITIVE_LIST, list), Object(VO_OBJECT_VIEW, view)}, &written, &read);
  EXPECT_EQ(MeshModule{}, before);
  EXPECT_EQ(written, VO_OBJECT_NOT_SAVED);
  EXPECT_EQ(read, 0u);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].type, uint32_t{VO_OBJECT_VIEW});
  EXPECT_NE(back[1].value.p, nullptr);
  auto *loaded = static_cast<VtReference *>(back[0].value.p);
  const auto meshes = RingData<VtPrimitive>(loaded);
  ASSERT_EQ(meshes.size(), 2u);
  EXPECT_EQ(Positions(meshes[0]), Positions(a));
  EXPECT_EQ(Positions(meshes[1]), Positions(b));
  EXPECT_EQ(VoPrimitiveGetTransform(meshes[0]), nullptr);
  ASSERT_NE(VoPrimitiveGetTransform(meshes[1]), nullptr);
  double want[16], got[16];
  ASSERT_EQ(VoTransformGetMatrix(t, want) | VoTransformGetMatrix(VoPrimitiveGetTransform(meshes[1]), got),
            0u);
  EXPECT_EQ(std::memcmp(want, got, sizeof want), 0);
  VtMaterial *ma = VoPrimitiveGetMaterial(meshes[0]);
  ASSERT_NE(ma, m);
  EXPECT_EQ(VoPrimitiveGetMaterial(meshes[1]), VoPrimitiveGetMaterial(square));  // the default
  const char *name = nullptr;
  ASSERT_EQ(VoShaderEnquire(VoMaterialGetShader(ma, VO_SHADER_REFLECTANCE), nullptr, &name, nullptr, nullptr),
            0u);
  EXPECT_STREQ(name, "plastic");
  EXPECT_EQ(VoPrimitiveReferenceDestroy(loaded, 1) | VoMaterialDestroy(ma), 0u);
  EXPECT_EQ(VoViewDestroy(static_cast<VtView *>(back[1].value.p)) | VoViewDestroy(view), 0u);
  EXPECT_EQ(VoPrimitiveReferenceDestroy(list, 1) | VoMaterialDestroy(m) | VoTransformDestroy(t), 0u);
}

// A mesh with edge records is written from a copy without them: the
// application's mesh keeps its edges and contents, the loaded mesh has the
// same vertices and no edges.
TEST_F(SceneObjectsTest, AMeshWithEdgesIsSavedWithoutTouchingIt) {
  VtPrimitive *m =
      PolygonModuleTest::Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 3}});
  const uint32_t codes[] = {VO_PRIM_EDGES, VO_EDGE_POLYS, VO_EDGE_EDGES, VO_POLY_EDGES};
  ASSERT_EQ(VoPrimitiveSetContents(m, VoContentsUnion(VoPrimitiveGetContents(m), 4, codes)), 0u);
  VtEdge *edges = nullptr;
  ASSERT_EQ(VoPrimitiveBuildEdges(m, &edges), 0u);
  VtContents *contents = VoPrimitiveGetContents(m);
  const uint32_t flags = m->flags;
  ASSERT_NE(flags & VO_PRIMITIVE_HAS_EDGES, 0u);
  VtReference *list = VoPrimitiveListCreate(1, &m);
  VtStatus written = 0, read = 0;
  const auto back = RoundTrip({Object(VO_OBJECT_PRIMITIVE_LIST, list)}, &written, &read);
  EXPECT_EQ(written | read, 0u);
  EXPECT_EQ(m->flags, flags);
  EXPECT_EQ(VoPrimitiveGetContents(m), contents);
  ASSERT_EQ(back.size(), 1u);
  auto *loaded = static_cast<VtReference *>(back[0].value.p);
  const auto meshes = RingData<VtPrimitive>(loaded);
  ASSERT_EQ(meshes.size(), 1u);
  EXPECT_EQ(Positions(meshes[0]), Positions(m));
  EXPECT_EQ(meshes[0]->flags & VO_PRIMITIVE_HAS_EDGES, 0u);
  EXPECT_EQ(VoPrimitiveReferenceDestroy(loaded, 1) | VoPrimitiveReferenceDestroy(list, 1), 0u);
}

TEST_F(SceneObjectsTest, AListWithoutMeshesReadsBackAsNullAndTheNextRecordStillReads) {
  VtPrimitive *square = Square();
  VtReference *list = VoPrimitiveListCreate(1, &square);
  VtTransform *t = VoTransformCreate();
  const MeshModule before;
  VtStatus written = 0, read = 0;
  const auto back =
      RoundTrip({Object(VO_OBJECT_PRIMITIVE_LIST, list), Object(VO_OBJECT_TRANSFORM, t)}, &written, &read);
  EXPECT_EQ(MeshModule{}, before);
  EXPECT_EQ(written, VO_OBJECT_NOT_SAVED);
  EXPECT_EQ(read, VO_OBJECT_NOT_SAVED);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].value.p, nullptr);
  EXPECT_EQ(back[1].type, uint32_t{VO_OBJECT_TRANSFORM});
  EXPECT_EQ(VoTransformDestroy(static_cast<VtTransform *>(back[1].value.p)) | VoTransformDestroy(t), 0u);
  EXPECT_EQ(VoPrimitiveReferenceDestroy(list, 1), 0u);
}

// Saving and loading a list of meshes with a transform and materials, each
// run with another allocation failing: a failure is answered, nothing is
// left behind, and the mesh module's procedures and mode are as before.
TEST_F(SceneObjectsTest, EveryAllocationFailsWhileAListIsSavedOrLoaded) {
  VtPrimitive *a = Triangle(0), *b = Triangle(1);
  VtTransform *t = VoTransformCreate();
  const double point[3] = {0, 0, 0}, axis[3] = {0, 0, 1};
  ASSERT_EQ(VoTransformRotateAxis(t, point, axis, 30), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(a, t), 0u);
  VtMaterial *m = VoMaterialCreate();
  ASSERT_EQ(VoPrimitiveSetMaterial(a, m) | VoPrimitiveSetMaterial(b, m), 0u);
  VtPrimitive *items[] = {a, b};
  VtReference *list = VoPrimitiveListCreate(2, items);
  const MeshModule before;
  auto unchanged = [&] { EXPECT_EQ(MeshModule{}, before); };
  MemoryFile good;
  ASSERT_EQ(
      Write(&good, [&](MemoryFile *f) { return WriteValue(f, Object(VO_OBJECT_PRIMITIVE_LIST, list)); }), 0u);
  // A save short of memory (the packing included) fails as the stream
  // fails, refusing nothing.
  EveryAllocationFails(
      [&] {
        MemoryFile f;
        g_posted.clear();
        return Write(&f,
                     [&](MemoryFile *g) { return WriteValue(g, Object(VO_OBJECT_PRIMITIVE_LIST, list)); });
      },
      [&] {
        unchanged();
        EXPECT_EQ(CountPosted(2801), 0);
      });
  EveryAllocationFails(
      [&] {
        std::vector<VtObjectValue> read;
        const VtStatus st = ReadAll(&good, &read);
        for (const VtObjectValue &v : read) {
          auto *l = static_cast<VtReference *>(v.value.p);
          VtMaterial *lm =
              l != nullptr ? VoPrimitiveGetMaterial(static_cast<VtPrimitive *>(l->data)) : nullptr;
          (void)VoPrimitiveReferenceDestroy(l, 1);
          if (lm != nullptr) (void)VoMaterialDestroy(lm);
        }
        return st != 0 || read.size() != 1 ? (st | 2u) : 0u;
      },
      unchanged);
  EXPECT_EQ(VoPrimitiveReferenceDestroy(list, 1) | VoMaterialDestroy(m) | VoTransformDestroy(t), 0u);
}

// Lengths no writer gives: more than 1,032 bytes per compressed byte, 2 GiB
// or more, a compressed length past the record.
TEST_F(SceneObjectsTest, CompressedMeshesOfImpossibleLengthsAreRefused) {
  for (auto [packed, length] :
       {std::pair<uint32_t, uint32_t>{10, 10 * 1032 + 1}, {100, 0x80000000u}, {40, 100}, {10, 0}}) {
    std::vector<uint8_t> payload;
    for (uint32_t w : {2u, packed, 2u, length})
      for (int s = 24; s >= 0; s -= 8) payload.push_back(static_cast<uint8_t>(w >> s));
    payload.insert(payload.end(), 20, 0x78);
    MemoryFile f;
    f.bytes = RecordFile(VO_OBJECT_PRIMITIVE_LIST, 1, payload, payload.size());
    g_posted.clear();
    std::vector<VtObjectValue> read;
    EXPECT_EQ(ReadAll(&f, &read) & 2u, 2u) << packed << " " << length;
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(CountPosted(2801), 1);
  }
}

// Frees every scene object a read handed out, by its type's deallocator
// (a shader list's shaders with it).
void SceneFree(const std::vector<VtObjectValue> &read) {
  std::set<void *> seen;
  for (const VtObjectValue &v : read) {
    if (v.value.p == nullptr || !seen.insert(v.value.p).second) continue;
    if (v.type == VO_OBJECT_SHADER_LIST) {
      VtReference *list = nullptr;
      std::memcpy(&list, v.value.p, sizeof list);
      (void)VoShaderReferenceDestroy(list, 1);
    }
    if (v.type == VO_OBJECT_PRIMITIVE_LIST) {
      // The materials a list brought are the reader's to free.
      VtPrimitive *scratch = PolygonModuleTest::Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
      VtMaterial *fallback = VoPrimitiveGetMaterial(scratch);
      (void)VoPrimitiveDestroy(scratch);
      std::set<VtMaterial *> materials;
      for (VtPrimitive *p : RingData<VtPrimitive>(static_cast<VtReference *>(v.value.p)))
        materials.insert(VoPrimitiveGetMaterial(p));
      VoDataObjectGetDeallocator(v.type)(v.value.p);
      for (VtMaterial *m : materials)
        if (m != nullptr && m != fallback) (void)VoMaterialDestroy(m);
      continue;
    }
    if (v.type >= VO_OBJECT_TRANSFORM) VoDataObjectGetDeallocator(v.type)(v.value.p);
  }
}

// An image record whose compressed length cannot inflate to the pixels it
// declares is refused before the pixels are allocated: a 16,380 x 16,380
// 24-bit image (804,894,800 bytes) in 20 compressed bytes would need
// 40,244,740 bytes per byte, deflate gives at most 1,032. At the ceiling
// itself (1,032 bytes of an 8-bit row from one byte) the length is
// possible, and it is the inflating that fails.
TEST_F(SceneObjectsTest, AnImageWhosePixelsCannotInflateFromItsLengthIsRefusedBeforeTheyAreMade) {
  struct Case {
    int32_t width, height, bits;
    uint32_t packed;
    const char *reason;
  };
  for (const Case &c : {Case{16380, 16380, 24, 20, "cannot inflate"}, Case{1033, 1, 8, 1, "cannot inflate"},
                        Case{100, 1, 8, 0, "cannot inflate"}, Case{1032, 1, 8, 1, "do not inflate"}}) {
    std::vector<uint8_t> payload;
    const int32_t row = c.width * ((c.bits + 7) / 8);
    for (int32_t w : {c.width, c.height, c.bits, 0, 0, row, 0, 0, c.width - 1, c.height - 1})
      ValueBytes(payload, static_cast<uint32_t>(w));
    ValueBytes(payload, c.packed);
    payload.insert(payload.end(), c.packed, 0x78);
    MemoryFile f;
    f.bytes = RecordFile(VO_OBJECT_IMAGE, 2, payload, c.packed);
    g_posted.clear();
    std::vector<VtObjectValue> read;
    EXPECT_EQ(ReadAll(&f, &read) & 2u, 2u) << c.width;
    EXPECT_TRUE(read.empty());
    ASSERT_EQ(CountPosted(2801), 1) << c.width;
    const std::vector<std::string> &said = g_posted.back().strings;
    ASSERT_FALSE(said.empty());
    EXPECT_NE(said.back().find(c.reason), std::string::npos) << c.width << ": " << said.back();
  }
}

// zlib allocates through the library's allocator: deflate's state, window,
// hash chains and pending buffer are counted with the output block, and
// each of them failing in turn, over a file of a compressed image written
// and read back, is answered with a failure and leaves nothing behind.
TEST_F(SceneObjectsTest, EveryAllocationFailingInsideZlibIsAnsweredAndLeavesNothing) {
  std::vector<uint8_t> plain(65536);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * i >> 7);
  void *packed = nullptr;
  uint32_t length = 0;
  EXPECT_GE(
      AllocationsOf([&] { EXPECT_EQ(VoDataObjectCompress(plain.data(), 65536, &packed, &length), 0u); }), 5u);
  std::vector<uint8_t> back(plain.size());
  EXPECT_GE(AllocationsOf([&] { EXPECT_EQ(VoDataObjectDecompress(packed, length, back.data(), 65536), 0u); }),
            1u);
  EXPECT_EQ(back, plain);
  // Inflating tells memory running out (its state could not be had) from
  // bad data.
  AllocationFailureArm(1);
  EXPECT_EQ(VoDataObjectDecompress(packed, length, back.data(), 65536), VO_STATUS_NO_MEMORY);
  AllocationFailureArm(0);
  VoDeallocate(packed);
  EveryAllocationFails([&] {
    void *out = nullptr;
    uint32_t n = 0;
    VtStatus st = VoDataObjectCompress(plain.data(), 65536, &out, &n);
    std::vector<uint8_t> again(plain.size());
    if (st == 0) st = VoDataObjectDecompress(out, n, again.data(), 65536);
    VoDeallocate(out);
    return st != 0 || again == plain ? st : 2u;
  });

  VtImage *picture = Picture(24, 64, 48);
  EveryAllocationFails([&] {
    MemoryFile f;
    VtStatus st = Write(&f, [&](MemoryFile *m) { return WriteValue(m, Object(VO_OBJECT_IMAGE, picture)); });
    std::vector<VtObjectValue> read;
    if (st == 0) st = ReadAll(&f, &read);
    if (st == 0 && read.size() == 1) ExpectSameImage(picture, static_cast<VtImage *>(read[0].value.p));
    const bool whole = read.size() == 1;
    SceneFree(read);
    return st != 0 || whole ? st : 2u;
  });
  EXPECT_EQ(VoImageDestroy(picture), 0u);
}

// A file of a list (two meshes, one transformed, one of its own material),
// an image, a shader list and a view, cut at every offset and with seeded
// byte flips: every read gives 0, 2 or 0x20000000, hands out only whole
// objects (or a null or partial list), and leaves the mesh module as it was.
TEST_F(SceneObjectsTest, ACutOrFlippedFileOfAListAndAnImageReadsOrIsRefused) {
  VtPrimitive *a = Triangle(0),
              *b = PolygonModuleTest::Mesh({{0, 0, 1}, {2, 0, 1}, {2, 2, 1}, {0, 2, 1}}, {{0, 1, 2, 3}});
  VtTransform *t = VoTransformCreate();
  const double offset[3] = {0.5, 0, 0};
  ASSERT_EQ(VoTransformTranslate(t, offset), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(b, t), 0u);
  VtMaterial *m = VoMaterialCreate();
  ASSERT_EQ(VoPrimitiveSetMaterial(a, m), 0u);
  VtPrimitive *items[] = {a, b};
  VtReference *list = VoPrimitiveListCreate(2, items);
  VtImage *image = Picture(24, 6, 4);
  VtReference *lights = VoShaderReferenceCreate(VoShaderCreate(VO_SHADER_LIGHT, "ambient"));
  VtView *view = VoViewCreate();
  MemoryFile valid;
  ASSERT_EQ(Write(&valid,
                  [&](MemoryFile *f) {
                    return WriteValue(f, Object(VO_OBJECT_PRIMITIVE_LIST, list)) |
                           WriteValue(f, Object(VO_OBJECT_IMAGE, image)) |
                           WriteValue(f, Object(VO_OBJECT_SHADER_LIST, &lights)) |
                           WriteValue(f, Object(VO_OBJECT_VIEW, view));
                  }),
            0u);
  if (const char *out = std::getenv("VO_SCENE_FILE_OUT")) {
    std::FILE *seed = std::fopen(out, "wb");
    ASSERT_NE(seed, nullptr);
    const uint8_t road = 0;
    std::fwrite(&road, 1, 1, seed);
    std::fwrite(valid.bytes.data(), 1, valid.bytes.size(), seed);
    std::fclose(seed);
  }
  const MeshModule before;
  auto check = [&](MemoryFile *f, const char *what, size_t at) {
    std::vector<VtObjectValue> read;
    VtStatus st = 0;
    // No single allocation beyond what a file this small can fill.
    EXPECT_LT(LargestAllocationOf([&] { st = ReadAll(f, &read); }), uint64_t{64} << 20)
        << what << " at " << at;
    EXPECT_EQ(st & ~(2u | VO_OBJECT_NOT_SAVED), 0u) << what << " at " << at;
    for (const VtObjectValue &v : read)
      if (v.type == VO_OBJECT_IMAGE && v.value.p != nullptr) {
        const auto *i = static_cast<const VtImage *>(v.value.p);
        EXPECT_TRUE(i->width == 0 || i->data != nullptr) << what << " at " << at;
      }
    SceneFree(read);
    EXPECT_EQ(MeshModule{}, before) << what << " at " << at;
  };
  std::vector<VtObjectValue> whole;
  ASSERT_EQ(ReadAll(&valid, &whole), 0u);
  ASSERT_EQ(whole.size(), 4u);
  SceneFree(whole);
  ASSERT_LE(valid.bytes.size(), size_t{64} << 10);
  EveryCutAndFlip(valid, 1500, 39, false, check);
  EXPECT_EQ(VoViewDestroy(view) | VoShaderReferenceDestroy(lights, 1) | VoImageDestroy(image), 0u);
  EXPECT_EQ(VoPrimitiveReferenceDestroy(list, 1) | VoMaterialDestroy(m) | VoTransformDestroy(t), 0u);
}

// A file as the reader sees it with the substitution flag 0: the header,
// a type table of (id, version, fixed size) entries, then the words given
// and `filler` bytes.
MemoryFile Unpermuted(std::initializer_list<std::array<uint32_t, 3>> types,
                      const std::vector<uint32_t> &words, size_t filler) {
  MemoryFile f;
  auto word = [&f](uint32_t w) {
    for (int shift = 24; shift >= 0; shift -= 8) f.bytes.push_back(static_cast<uint8_t>(w >> shift));
  };
  f.bytes = {'V', 'o', 'O', 'b'};
  for (uint32_t w : {3u, 1u, 0u}) word(w);
  for (int i = 0; i < 256; ++i) word(0);
  word(static_cast<uint32_t>(types.size()));
  for (const auto &t : types)
    for (uint32_t w : t) word(w);
  for (uint32_t w : words) word(w);
  f.bytes.resize(f.bytes.size() + filler, 0x5A);
  return f;
}

// A checksummed type-2 number: its item (type word, value) and the sum of
// its 8 bytes, byte i shifted left by i bits, from 13.
void Number(std::vector<uint32_t> &words, uint32_t n) {
  uint32_t sum = 13;
  const uint32_t item[2] = {VO_OBJECT_NAT32, n};
  for (int i = 0; i < 8; ++i) sum += ((item[i / 4] >> (24 - 8 * (i % 4))) & 0xFF) << i;
  words.insert(words.end(), {VO_OBJECT_NAT32, n, sum});
}

// Small files that declare large payloads: a list of 654 MB of compressed
// meshes and images of 13312 x 13312 pixels (531 MB) held raw (version 1)
// or as 654 MB of compressed pixels (version 2), each inside a record that
// claims 700 MB. The bytes a file gives are read as they arrive, and the
// room they inflate into is made after them, so that every read fails with
// 2 without a single allocation of 64 MB.
TEST_F(SceneObjectsTest, PayloadsLongerThanTheirFilesAreRefusedWithoutAllocatingTheirLength) {
  constexpr uint32_t kClaimed = 700000000, kPacked = 654000000, kSide = 13312;
  constexpr uint32_t kByReference = 0x01000000;
  std::vector<uint32_t> list = {kByReference | VO_OBJECT_PRIMITIVE_LIST,
                                kClaimed,
                                2,
                                VO_OBJECT_NAT32,
                                kPacked,
                                VO_OBJECT_NAT32,
                                1000000};
  std::vector<MemoryFile> files = {
      Unpermuted({{VO_OBJECT_NAT32, 1, 4}, {VO_OBJECT_PRIMITIVE_LIST, 1, 0}}, list, 300)};
  for (uint32_t version : {1u, 2u}) {
    std::vector<uint32_t> image = {kByReference | VO_OBJECT_IMAGE, kClaimed, 2};
    for (uint32_t n : {kSide, kSide, 24u, 0u, 0u, 3 * kSide, 0u, 0u, 0u, 0u}) Number(image, n);
    if (version == 2) Number(image, kPacked);
    files.push_back(Unpermuted({{VO_OBJECT_NAT32, 1, 4}, {VO_OBJECT_IMAGE, version, 0}}, image, 300));
  }
  for (MemoryFile &f : files) {
    ASSERT_LT(f.bytes.size(), size_t{1600});
    std::vector<VtObjectValue> read;
    VtStatus st = 0;
    EXPECT_LT(LargestAllocationOf([&] { st = ReadAll(&f, &read); }), uint64_t{64} << 20);
    EXPECT_EQ(st & 2u, 2u);
    EXPECT_TRUE(read.empty());
    SceneFree(read);
  }
}

}  // namespace
}  // namespace vo::test

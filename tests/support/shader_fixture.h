// A started shader kernel (with the geometry, view and transform modules)
// and the super-lite shader library, whose "eye" light, "plain" colour,
// "matte" reflectance and "none" transparency and displacement make the
// default light and material. Tests register their own classes with
// TestClass, under display names and identifiers no library uses.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <vo/vo_shader.h>

#include "support/kernel_fixture.h"
#include "kernel/vosystem/module_entry.h"

namespace vo::test {

// The instance data of every test class: the prepared flag, a colour
// argument (index 0), float arguments, and counters of entry calls.
struct TestData {
  uint32_t prepared;
  float colour[3];
  float values[24];
  int prepares;
  int evaluations;
};

struct TestCalls {
  static inline int evaluations_image = 0;
  static inline float *seen_dPds = nullptr;
  static inline float *seen_dPdt = nullptr;
  static inline bool create_fails = false;
};

inline void *TestCreate() {
  if (TestCalls::create_fails) return nullptr;
  auto *d = static_cast<TestData *>(VoAllocate(sizeof(TestData)));
  if (d != nullptr) *d = TestData{};
  if (d != nullptr) d->prepared = 0xFFFFFFFFu;  // the kernel clears it
  return d;
}
inline VtStatus TestDestroy(void *data) {
  VoDeallocate(data);
  return 0;
}
inline VtStatus TestPrepare(void *data) {
  ++static_cast<TestData *>(data)->prepares;
  return 0;
}
// Index 0 is the colour (type 7), the others floats (type 3).
inline VtStatus TestGet(void *data, uint32_t index, VtTypedValue *v) {
  auto *d = static_cast<TestData *>(data);
  if (v->type == VtShaderColour) return 0;
  *v = VtTypedValue{};
  if (index == 0) {
    v->type = VtColourType;
    for (int i = 0; i < 3; ++i) v->value.v[i] = d->colour[i];
  } else {
    v->type = VtFloat;
    v->value.f = d->values[index];
  }
  return 0;
}
inline VtStatus TestSet(void *data, uint32_t index, VtTypedValue *v) {
  auto *d = static_cast<TestData *>(data);
  d->prepared = 0;
  if (index == 0 && v->type == VtColourType)
    for (int i = 0; i < 3; ++i) d->colour[i] = v->value.v[i];
  else if (index != 0)
    d->values[index] = v->value.f;
  return 0;
}
// Writes its colour into Co.
inline VtStatus TestColourEvaluate(void *data) {
  auto *d = static_cast<TestData *>(data);
  ++d->evaluations;
  VtShaderGlobals *g = VoShaderGetGlobals();
  for (int i = 0; i < 3; ++i) g->Co[i] = d->colour[i];
  TestCalls::seen_dPds = g->dPds;
  TestCalls::seen_dPdt = g->dPdt;
  return 0;
}
inline VtStatus TestImageEvaluate(void *) {
  ++TestCalls::evaluations_image;
  return 0;
}

// Registers a class: table {name, labels...}, the given entries.
struct TestClass {
  uint32_t type;
  std::string identifier;
  std::string name;
  std::vector<std::string> labels;
  std::vector<std::pair<uint32_t, VtProc>> entries;

  VtStatus Register() const {
    std::vector<const char *> strings{name.c_str()};
    std::vector<uint32_t> indices;
    for (const std::string &l : labels) {
      indices.push_back(static_cast<uint32_t>(strings.size()));
      strings.push_back(l.c_str());
    }
    VtStatus s =
        VoStringTableCreate(identifier.c_str(), static_cast<uint32_t>(strings.size()), strings.data());
    if (s != 0) return s;
    s = VoShaderPrototypeCreate(type, identifier.c_str(), 0, static_cast<uint32_t>(indices.size()),
                                indices.empty() ? nullptr : indices.data());
    for (const auto &e : entries) {
      const VtTypedValue v = TypedFunc(e.second);
      if (s == 0) s = VoShaderSetEntry(e.first, &v);
    }
    return s;
  }
};

// Entries of an instantiable class with arguments and a colour evaluate.
inline std::vector<std::pair<uint32_t, VtProc>> TestEntries() {
  return {{VO_SLOT_CREATE, reinterpret_cast<VtProc>(&TestCreate)},
          {VO_SLOT_DESTROY, reinterpret_cast<VtProc>(&TestDestroy)},
          {VO_SLOT_PREPARE, reinterpret_cast<VtProc>(&TestPrepare)},
          {VO_SLOT_GET_ARG, reinterpret_cast<VtProc>(&TestGet)},
          {VO_SLOT_SET_ARG, reinterpret_cast<VtProc>(&TestSet)},
          {VO_SLOT_EVALUATE, reinterpret_cast<VtProc>(&TestColourEvaluate)},
          {VO_SLOT_EVALUATE_IMAGE, reinterpret_cast<VtProc>(&TestImageEvaluate)}};
}

class ShaderTest : public PooledKernelTest {
 protected:
  // Installs further modules (stand-ins of the test) before the start.
  virtual void InstallMore() {}
  void SetUp() override {
    PooledKernelTest::SetUp();
    TestCalls::create_fails = false;
    for (VtQueryFunction m : {&VoEntryView, &VoEntryGeometry, &VoEntryTransforms, &VoEntryShader})
      ASSERT_EQ(VoInstallModule(m), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntrySuperLiteShaders), 0u);
    InstallMore();
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }

 public:
  // A test class of the type with `count` arguments: "colour", then "a1" ...
  static VtStatus Register(uint32_t type, const std::string &name, int count = 2,
                           std::vector<std::pair<uint32_t, VtProc>> entries = TestEntries()) {
    std::vector<std::string> labels;
    for (int i = 0; i < count; ++i) labels.push_back(i == 0 ? "colour" : "a" + std::to_string(i));
    return TestClass{type, "vxs_test_" + name, name, labels, entries}.Register();
  }
  static VtTypedValue Colour(float r, float g, float b) {
    VtTypedValue v{};
    v.type = VtColourType;
    v.value.v[0] = r;
    v.value.v[1] = g;
    v.value.v[2] = b;
    return v;
  }
  static TestData *Data(VtShader *s) { return static_cast<TestData *>(VoShaderGetData(s)); }
  // An "eye" light turned into the kind given, of the colour given (also
  // after a reset, which makes the colour from the arguments).
  static VtShader *Light(int32_t kind, float r, float g, float b) {
    VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "eye");
    const VtTypedValue colour = Colour(r, g, b);
    EXPECT_EQ(VoShaderSetArg(light, "colour", &colour), 0u);
    auto *d = static_cast<VtLightData *>(light->data);
    d->kind = kind;
    d->colour = VtColour{r, g, b};
    d->prepared = 1;
    return light;
  }
};

}  // namespace vo::test

// Every exported procedure that takes a handle, a record or a pointer (other
// than a VtGenericPtr), called with no library running, answers "not
// initialised" (or null, or 0, or nothing) and touches nothing: the sweep
// is generated from the interface description, once with handles made
// before VoTerminate (of their kinds where one was made) and once before
// any VoInitialise. A procedure whose only object is a VtGenericPtr is
// still called: VoFileClose closes after VoTerminate what VoFileOpen opened.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <vo/vo_api.h>

#include "kernel/vosystem/api_table.h"

namespace misuse {
namespace {

using vo::api::kFunctionCount;
using vo::api::kFunctions;
using vo::api::VtApiFunction;

// Procedures that answer otherwise while no kernel exists, and what.
const std::map<std::string, int64_t> kOwnAnswers = {{"VoDriverReadLine", -1}};

bool NeedsKernel(const VtApiFunction &f) {
  for (uint32_t i = 0; i < f.param_count; ++i) {
    const vo::api::VtApiParam &p = f.params[i];
    if (p.kind == vo::api::kKindHandle ||
        (p.kind == vo::api::kKindPointer && std::strcmp(p.type_name, "VtGenericPtr") != 0))
      return true;
  }
  return false;
}

// Memory every pointer argument that is no kept handle points at; a
// pattern that must come through every call unchanged.
constexpr size_t kScratchBytes = 1 << 16;
constexpr uint8_t kPattern = 0xA7;

struct Sweep {
  std::map<std::string, void *> handles;  // by type name, made before VoTerminate
  std::vector<uint8_t> scratch = std::vector<uint8_t>(kScratchBytes, kPattern);
  int called = 0;

  void Run() {
    for (size_t i = 0; i < kFunctionCount; ++i) {
      const VtApiFunction &f = kFunctions[i];
      if (!NeedsKernel(f)) continue;
      std::array<uint64_t, 24> slots{};
      std::array<void *, 24> argv{};
      ASSERT_LE(f.param_count, slots.size()) << f.name;
      for (uint32_t k = 0; k < f.param_count; ++k) {
        const vo::api::VtApiParam &p = f.params[k];
        const bool by_address =
            p.kind != vo::api::kKindScalar || (p.flags & (vo::api::kParamOut | vo::api::kParamArray));
        void *value = scratch.data();
        if (p.kind == vo::api::kKindHandle && (p.flags & vo::api::kParamOut) == 0) {
          auto it = handles.find(p.type_name);
          if (it != handles.end()) value = it->second;
        }
        if (p.kind == vo::api::kKindString) value = const_cast<char *>("name");
        if (p.kind == vo::api::kKindFunc) value = nullptr;
        if (by_address)
          std::memcpy(&slots[k], &value, sizeof value);
        else
          slots[k] = 1;
        argv[k] = &slots[k];
      }
      VtTypedValue result{};
      result.value.bits = 0x5555555555555555u;
      f.thunk(argv.data(), &result);
      ++called;
      auto own = kOwnAnswers.find(f.name);
      if (own != kOwnAnswers.end()) {
        EXPECT_EQ(result.value.i, own->second) << f.name;
      } else if (result.type == VtStatusType) {
        EXPECT_EQ(result.value.u, VO_STATUS_NOT_INITIALISED) << f.name;
      } else if (result.type != VtVoid) {
        EXPECT_EQ(result.value.bits, 0u) << f.name;
      }
      for (size_t b = 0; b < scratch.size(); ++b)
        if (scratch[b] != kPattern) {
          ADD_FAILURE() << f.name << " wrote byte " << b;
          std::fill(scratch.begin(), scratch.end(), kPattern);
          break;
        }
    }
  }
};

TEST(StoppedLibrary, ProceduresGivenObjectsAnswerNotInitialisedAndTouchNothing) {
  Sweep before;
  before.Run();  // no kernel has existed yet
  EXPECT_GT(before.called, 400);
  ASSERT_EQ(VoInitialise(), 0u);
  Sweep after;
  VtPrimitive *triangle = nullptr;
  {
    const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1]{};
    data[0].type = VtGenericPtr;
    data[0].value.p = const_cast<float *>(corners);
    triangle = VoPrimitiveCreatePolygon(3, 1, ids, data);
  }
  VtImage *image = VoImageCreate();
  ASSERT_TRUE(triangle != nullptr && image != nullptr);
  after.handles = {{"VtPrimitive", triangle},
                   {"VtPolygon", VoPolygonCreate(triangle)},
                   {"VtVertex", VoVertexCreate(triangle)},
                   {"VtShader", VoShaderCreate(VO_SHADER_COLOUR, "plain")},
                   {"VtMaterial", VoMaterialCreate()},
                   {"VtView", VoViewCreate()},
                   {"VtTransform", VoTransformCreate()},
                   {"VtImage", image},
                   {"VtScreenBuffer", VoScreenBufferCreate()},
                   {"VtReference", VoPrimitiveListCreate(1, &triangle)},
                   {"VtHashTable", VoHashTableCreate(7)},
                   {"VtRandomState", VoRandomStateCreate()},
                   {"VtLock", VoLockCreate()},
                   {"VtPool", VoPoolCreate(0x7e0001, 32)},
                   {"VtShadeContext", VoShadeContextCreate()},
                   {"VtHitRecord", VoHitRecordCreate()},
                   {"VtPixelList", VoPixelListCreate()},
                   {"VtDriverRecord", VoDriverGet()}};
  for (const auto &[type, handle] : after.handles) EXPECT_NE(handle, nullptr) << type;
  void *file = VoFileOpen((::testing::TempDir() + "stopped_library.txt").c_str(), VO_FILE_WRITE);
  ASSERT_NE(file, nullptr);
  // The lock and the hash table are the application's heap blocks, which a
  // terminate leaves alone: given back first, so that a procedure reading
  // one after the terminate would be a use after free under the sanitizers.
  EXPECT_EQ(VoLockDestroy(static_cast<VtLock *>(after.handles["VtLock"])), 0u);
  EXPECT_EQ(VoHashTableDestroy(static_cast<VtHashTable *>(after.handles["VtHashTable"])), 0u);
  ASSERT_EQ(VoTerminate(), 0u);
  after.Run();  // the handles are dead: no procedure reads them
  EXPECT_EQ(after.called, before.called);
  EXPECT_EQ(VoFileClose(file), 0u);  // a VtGenericPtr alone: still closed
}

}  // namespace
}  // namespace misuse

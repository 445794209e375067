// The interface description: the table of exported procedures, the shared
// library's exports, the exception boundary and the value-type table.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <new>
#include <set>
#include <string>

#include "vosystem/api_guard.h"
#include "vosystem/api_table.h"
#include "vosystem/value_types.h"

extern "C" int vo_test_c_header_status(void);

namespace vo::api {
namespace {

TEST(ApiTable, EveryEntryIsExportedWithItsArity) {
  void *lib = dlopen(VO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  std::set<std::string> names;
  std::set<uint32_t> codes;
  ASSERT_GT(kFunctionCount, 0u);
  for (size_t i = 0; i < kFunctionCount; ++i) {
    const VtApiFunction &f = kFunctions[i];
    EXPECT_NE(dlsym(lib, f.name), nullptr) << f.name << " is not exported";
    EXPECT_EQ(f.arity, f.param_count) << f.name;
    EXPECT_TRUE(names.insert(f.name).second) << f.name << " twice";
    EXPECT_TRUE(codes.insert(f.code).second) << f.name << " shares its code";
    EXPECT_EQ(f.code >> 16, f.module_number) << f.name;
    EXPECT_NE(f.code & 0xFFFF, 0u) << f.name;
    EXPECT_NE(f.thunk, nullptr);
    for (uint32_t p = 0; p < f.param_count; ++p) {
      const VtApiParam &q = f.params[p];
      EXPECT_NE(q.flags & (kParamIn | kParamOut), 0u) << f.name << " " << q.name;
      if (q.count < 0) {
        EXPECT_LT(static_cast<uint32_t>(-q.count - 1), f.param_count) << f.name;
      }
    }
    EXPECT_EQ(FindFunction(f.name), &f);
    EXPECT_EQ(FindFunctionByCode(f.code), &f);
  }
  EXPECT_EQ(FindFunction("VoNoSuchProcedure"), nullptr);
  // Nothing but the interface is exported.
  EXPECT_EQ(dlsym(lib, "_ZN2vo11ModuleRecordEj"), nullptr);
  dlclose(lib);
}

TEST(ApiTable, DescribesParameters) {
  const VtApiFunction *f = FindFunction("VoControlSet");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->param_count, 2u);
  EXPECT_EQ(f->result_type, static_cast<uint32_t>(VtStatusType));
  EXPECT_EQ(f->params[0].type, static_cast<uint32_t>(VtNat32));
  EXPECT_EQ(f->params[0].flags, static_cast<uint32_t>(kParamIn));
  EXPECT_EQ(f->params[1].kind, static_cast<uint32_t>(kKindTyped));
  const VtApiFunction *h = FindFunction("VoErrorHandlerDefault");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->params[4].flags, static_cast<uint32_t>(kParamIn | kParamOut | kParamArray));
  EXPECT_EQ(h->params[4].count, -4);  // counted by parameter 3
}

TEST(ApiTable, ThunksCallTheExportedProcedure) {
  const VtApiFunction *f = FindFunction("VoModuleVersionText");
  ASSERT_NE(f, nullptr);
  uint32_t version = 0x04050211;
  void *argv[] = {&version};
  VtTypedValue result{};
  f->thunk(argv, &result);
  EXPECT_EQ(result.type, static_cast<uint32_t>(VtString));
  EXPECT_STREQ(result.value.s, "TARN 4.5.2 (alpha1)");
}

TEST(ApiBoundary, NoExceptionCrossesTheInterface) {
  const VtApiFunction *f = FindFunction("VoControlSet");
  VtStatus s = Enter<VtStatus>(
      f, []() -> VtStatus { throw std::bad_alloc(); }, VtStatus{VO_STATUS_NO_MEMORY});
  EXPECT_EQ(s, VO_STATUS_NO_MEMORY);
  void *p = Enter<void *>(
      f, []() -> void * { throw std::bad_alloc(); }, Zero<void *>());
  EXPECT_EQ(p, nullptr);
  bool ran = false;
  Enter<void>(
      f, [&] { ran = true; }, NoResult{});
  EXPECT_TRUE(ran);
}

TEST(ValueTypes, SizesAndPointerFlags) {
  // Layout of the typed value and of array slots.
  static_assert(offsetof(VtTypedValue, type) == 0);
  static_assert(offsetof(VtTypedValue, pad) == 4);
  static_assert(offsetof(VtTypedValue, value) == 8);
  static_assert(sizeof(VtTypedValue) == 16);
  static_assert(sizeof(VtTypedSlot) == 32);
  static_assert(sizeof(VtColour) == 12 && sizeof(VtBounds) == 24);
  size_t n = 0;
  const ValueTypeInfo *table = ValueTypeTable(&n);
  ASSERT_GT(n, 20u);
  std::set<uint32_t> seen;
  for (size_t i = 0; i < n; ++i) {
    EXPECT_TRUE(seen.insert(table[i].code).second);
    // Address-carrying values are pointer-sized on this platform.
    if (table[i].holds_pointer) {
      EXPECT_EQ(table[i].size, sizeof(void *)) << table[i].name;
    }
    EXPECT_EQ(ValueTypeFindByName(table[i].name), &table[i]);
  }
  EXPECT_EQ(ValueTypeFind(VtColourType)->size, 12u);
  EXPECT_STREQ(ValueTypeFind(VtColourType)->name, "VtColour");
  EXPECT_EQ(ValueTypeFind(VtBoundsType)->size, 24u);
  EXPECT_EQ(ValueTypeFind(VtDoublePoint)->size, 24u);
  EXPECT_TRUE(ValueTypeHoldsPointer(VtString));
  EXPECT_TRUE(ValueTypeHoldsPointer(17));
  EXPECT_TRUE(ValueTypeHoldsPointer(40));
  EXPECT_FALSE(ValueTypeHoldsPointer(VtDouble));
  EXPECT_EQ(ValueTypeFind(1000), nullptr);
  EXPECT_EQ(vo_test_c_header_status(), 1 + 12 + 24);
}

}  // namespace
}  // namespace vo::api

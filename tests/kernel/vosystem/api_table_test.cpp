// The table of exported procedures, the library's exports, the boundary and the value types.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <set>

#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/api_table.h"
#include "kernel/vosystem/value_types.h"

extern "C" int vo_test_c_header_status(void);

namespace vo::api {
namespace {

TEST(ApiTable, EveryEntryIsExportedWithItsArity) {
  void *lib = dlopen(VO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  ASSERT_GT(kFunctionCount, 0u);
  for (size_t i = 0; i < kFunctionCount; ++i) {
    const VtApiFunction &f = kFunctions[i];
    EXPECT_NE(dlsym(lib, f.name), nullptr) << f.name << " is not exported";
    EXPECT_EQ(f.arity, f.param_count) << f.name;
    for (uint32_t p = 0; p < f.param_count; ++p)  // a count names a parameter of the procedure
      EXPECT_LT(static_cast<uint32_t>(std::max(-f.params[p].count - 1, 0)), f.param_count) << f.name;
    EXPECT_EQ(FindFunction(f.name), &f);
    EXPECT_EQ(FindFunctionByCode(f.code), &f);
  }
  EXPECT_EQ(FindFunction("VoNoSuchProcedure"), nullptr);
  // A thunk calls the procedure and keeps its result.
  uint32_t version = 0x04050211;
  void *argv[] = {&version};
  VtTypedValue result{};
  FindFunction("VoModuleVersionText")->thunk(argv, &result);
  EXPECT_EQ(result.type, static_cast<uint32_t>(VtString));
  EXPECT_STREQ(result.value.s, "TARN 4.5.2 (alpha1)");
  // Nothing but the interface is exported.
  EXPECT_EQ(dlsym(lib, "_ZN2vo11ModuleRecordEj"), nullptr);
  dlclose(lib);
}

TEST(ApiBoundary, NoExceptionCrossesTheInterface) {
  const VtApiFunction *f = FindFunction("VoControlSet");
  auto thrower = []() -> VtStatus { throw std::bad_alloc(); };
  EXPECT_EQ(Enter<VtStatus>(f, thrower, VtStatus{VO_STATUS_NO_MEMORY}, Ungated{}), VO_STATUS_NO_MEMORY);
  auto null_thrower = []() -> void * { throw std::bad_alloc(); };
  EXPECT_EQ(Enter<void *>(f, null_thrower, Zero<void *>(), Ungated{}), nullptr);
}

TEST(ValueTypes, ValueTypesAreListedOnceAndThoseHoldingAddressesArePointerSized) {
  size_t n = 0;
  const ValueTypeInfo *table = ValueTypeTable(&n);
  std::set<uint32_t> seen;
  for (size_t i = 0; i < n; ++i) {
    EXPECT_TRUE(seen.insert(table[i].code).second);
    // Address-carrying values are pointer-sized on this platform.
    EXPECT_TRUE(!table[i].holds_pointer || table[i].size == sizeof(void *)) << table[i].name;
    EXPECT_EQ(ValueTypeFindByName(table[i].name), &table[i]);
  }
  // Reserved codes that hold addresses count as such.
  EXPECT_TRUE(ValueTypeHoldsPointer(17) && ValueTypeHoldsPointer(40));
  EXPECT_FALSE(ValueTypeHoldsPointer(VtDouble));
  EXPECT_EQ(ValueTypeFind(1000), nullptr);
  EXPECT_EQ(vo_test_c_header_status(), 1 + 12 + 24);
}

}  // namespace
}  // namespace vo::api

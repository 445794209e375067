// The classic library beside the super-lite and lite ones on a started
// shader kernel, with the helpers of the lite tests to shade one point.
#pragma once

#include <cmath>

#include "voshclas/voshclas.h"
#include "voshlite/lite_fixture.h"
// (after the fixture: the rows read the kernel's declarations)
#include "support/class_rows.h"
#include "vosystem/message_numbers.h"

namespace vo::test {

class ClassicTest : public LiteTest {
 protected:
  void InstallLibraries() override {
    for (VtQueryFunction m : {&VoEntryLiteShaders, &VoEntryPolygons, &VoEntryClassicShaders})
      ASSERT_EQ(VoInstallModule(m), 0u);
  }

 public:
  static VtTypedValue Handle(void *p) {
    VtTypedValue v{};
    v.type = VtGenericPtr;
    v.value.p = p;
    return v;
  }
  static VtTypedValue Float(float f) {
    VtTypedValue v{};
    v.type = VtFloat;
    v.value.f = f;
    return v;
  }
  static VtTypedValue Text(const char *s) {
    VtTypedValue v{};
    v.type = VtString;
    v.value.s = s;
    return v;
  }
};

}  // namespace vo::test

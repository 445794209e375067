// The classic library beside the super-lite and lite ones on a started
// shader kernel, with the helpers of the lite tests to shade one point.
#pragma once

#include "shading/voshclas/voshclas.h"
#include "shading/voshlite/lite_fixture.h"
// (after the fixture: the rows read the kernel's declarations)
#include "support/class_rows.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

class ClassicTest : public LiteTest {
 protected:
  void InstallLibraries() override {
    for (VtQueryFunction m : {&VoEntryLiteShaders, &VoEntryPolygons, &VoEntryClassicShaders})
      ASSERT_EQ(VoInstallModule(m), 0u);
  }
};

}  // namespace vo::test

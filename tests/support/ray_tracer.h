// A stand-in for the ray tracer (module 7): callbacks 0x70001-0x70007.
// Shadow rays answer from a script: each call takes the next answer (the
// last one repeats) and makes its hit the last hit; every call is recorded.
#pragma once

#include <vector>

#include "support/fake_module.h"
#include "kernel/vosystem/module_entry.h"

namespace vo::test {

struct StandInTracer {
  struct Answer {
    float blocked;  // 1.0 blocked, 0.0 free
    VtPrimitive *primitive;
    VtPolygon *polygon;
    float point[3];
  };
  struct Ray {
    float origin[3], direction[3];
    double near, far;
  };
  static inline std::vector<Answer> script;
  static inline std::vector<Ray> rays;
  static inline Answer last{};

  static VtStatus Prepare() { return 0; }
  static float Shadow(const float *origin, const float *direction, double near, double far, VtPolygon *) {
    rays.push_back(
        {{origin[0], origin[1], origin[2]}, {direction[0], direction[1], direction[2]}, near, far});
    last = script.empty() ? Answer{} : script[std::min(rays.size(), script.size()) - 1];
    return last.blocked;
  }
  static VtStatus Hit(VtPrimitive **primitive, VtPolygon **polygon, float *point) {
    *primitive = last.primitive;
    *polygon = last.polygon;
    for (int k = 0; k < 3; ++k) point[k] = last.point[k];
    return 0;
  }
  static VtStatus Callback(uint32_t direction, uint32_t code, VtProc *slot) {
    if (direction != 0) return VO_STATUS_BAD_ARGUMENT;
    switch (code) {
      case 0x70001:
      case 0x70002: *slot = reinterpret_cast<VtProc>(&Prepare); break;
      case 0x70005: *slot = reinterpret_cast<VtProc>(&Shadow); break;
      case 0x70006: *slot = reinterpret_cast<VtProc>(&Hit); break;
      default: *slot = nullptr; break;
    }
    return 0;
  }
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    static const ModuleDescription kTracer = {.number = 7,
                                              .name = "vorenray",
                                              .banner = "stand-in",
                                              .build_time = 1,
                                              .start = &Prepare,
                                              .callback = &Callback};
    return ModuleQueryAnswer(kTracer, query, answer);
  }
  static void Install() {
    script.clear();
    rays.clear();
    last = Answer{};
    ASSERT_EQ(VoInstallModule(&Query), 0u);
  }
};

}  // namespace vo::test

// A stand-in for the driver framework (module 26): it answers the drawing
// callbacks 0x1a0022 and 0x1a0006, recording what is drawn through them,
// and the interrupt poll 0x1a001a, which reports an interrupt from a chosen
// poll on.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include <vo/vo_draw.h>

#include "vosystem/kernel.h"
#include "vosystem/module_entry.h"

namespace vo::test {

using Point4 = std::array<float, 4>;

struct RecordingDriver {
  static inline std::vector<std::array<Point4, 2>> lines;  // each 0x404 draw
  static inline std::vector<uint32_t> types;
  static inline int ends = 0;   // calls of 0x1a0006
  static inline int polls = 0;  // calls of 0x1a001a
  static inline int interrupt_from =
      -1;  // the poll (counted from 1) that first reports an interrupt; -1 never

  static void Reset() {
    lines.clear();
    types.clear();
    ends = 0;
    polls = 0;
    interrupt_from = -1;
  }
  static VtStatus Draw(uint32_t type, uint32_t count, VtDrawRecord *record) {
    types.push_back(type);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(record->kind, 0);
    auto **points = static_cast<float **>(record->points);
    std::array<Point4, 2> line{};
    for (int i = 0; i < 2; ++i)
      for (int c = 0; c < 4; ++c) line[i][c] = points[i][c];
    lines.push_back(line);
    return 0;
  }
  static VtStatus End() {
    ++ends;
    return 0;
  }
  static VtStatus Interrupt() {
    ++polls;
    return interrupt_from > 0 && polls >= interrupt_from ? VO_COND_INTERRUPTED : 0;
  }
  static VtStatus Callback(uint32_t direction, uint32_t code, VtProc *slot) {
    if (direction != 0) return VO_STATUS_BAD_ARGUMENT;
    *slot = code == VO_CALLBACK_DRIVER_DRAW           ? reinterpret_cast<VtProc>(&Draw)
            : code == VO_CALLBACK_DRIVER_SEGMENTS_END ? reinterpret_cast<VtProc>(&End)
            : code == VO_CALLBACK_DRIVER_INTERRUPT    ? reinterpret_cast<VtProc>(&Interrupt)
                                                      : nullptr;
    return *slot != nullptr ? 0 : VO_STATUS_UNAVAILABLE;
  }
  static VtStatus Start() { return 0; }  // a module without one is never started
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    static const ModuleDescription kDriver = {.number = VO_MODULE_DRIVER,
                                              .name = "vodriver",
                                              .banner = "recording driver",
                                              .build_time = 0,
                                              .start = &Start,
                                              .callback = &Callback};
    return ModuleQueryAnswer(kDriver, query, answer);
  }
};

}  // namespace vo::test

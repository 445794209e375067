// The driver framework (module 26) with a recording output driver made
// current: installing RecordingDriver::Query installs the real framework,
// whose start also creates the recorder with VoDriverCreate and makes it
// current. The recorder keeps what is drawn through its drawing operation
// 0x1a0022 and its end of strokes 0x1a0006, counts its frames, strokes
// begun and primitives announced, and answers the interrupt poll 0x1a001a,
// reporting an interrupt from a chosen poll on. It also logs, in order,
// every call of the operations it answers with its first argument (calls),
// the world points of three-coordinate draws (points3) and the attribute
// pairs of draws that carry them. Every other operation is the framework's
// default.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include <vo/vo_driver.h>

#include "kernel/vosystem/kernel.h"

namespace vo::test {

using Point4 = std::array<float, 4>;

struct RecordingDriver {
  static inline std::vector<std::array<Point4, 2>> lines;  // each two-point draw of projection points
  static inline std::vector<uint32_t> types;
  static inline int ends = 0;   // calls of 0x1a0006
  static inline int polls = 0;  // calls of 0x1a001a
  static inline int interrupt_from =
      -1;  // the poll (counted from 1) that first reports an interrupt; -1 never
  static inline VtDriverRecord *driver = nullptr;  // the recorder, while the framework runs
  static inline int frames = 0;                    // calls of begin frame 0x1a0003
  static inline int frame_ends = 0;                // calls of end frame 0x1a0004
  static inline int primitives = 0;                // calls of 0x1a002f
  static inline int runs = 0;                      // calls of 0x1a0005
  static inline VtStatus frame_answer = 0;         // of begin frame
  // (operation code, first argument) of every call, in order.
  static inline std::vector<std::pair<uint32_t, uintptr_t>> calls;
  static inline std::vector<std::array<std::array<float, 3>, 2>> points3;  // two-point world draws
  static inline std::vector<std::array<float, 4>> attributes;              // pairs of both ends
  static inline std::vector<uintptr_t> elements;                           // second word of 0x1a0030
  // Every projected polyline (its points in order; a two-point line too),
  // and the block of every circle and arc (13 floats at most).
  static inline std::vector<std::vector<Point4>> polylines;
  static inline std::vector<std::vector<float>> shapes;
  static inline std::vector<std::array<float, 4>> shape_pairs;  // the attribute block of circles and arcs
  static inline VtStatus shape_answer = 0;  // the answer to circles and arcs (258: not handled)

  static void Reset() {
    lines.clear();
    types.clear();
    ends = 0;
    polls = 0;
    interrupt_from = -1;
    frames = frame_ends = primitives = runs = 0;
    frame_answer = 0;
    calls.clear();
    points3.clear();
    attributes.clear();
    elements.clear();
    polylines.clear();
    shapes.clear();
    shape_pairs.clear();
    shape_answer = 0;
  }
  static void Log(uint32_t code, uintptr_t argument) { calls.emplace_back(code, argument); }
  static VtStatus Frame(int32_t x0, int32_t, int32_t, int32_t) {
    Log(VO_DRIVER_BEGIN_FRAME, static_cast<uintptr_t>(x0));
    return ++frames, frame_answer;
  }
  static VtStatus FrameEnd() { return Log(VO_DRIVER_END_FRAME, 0), ++frame_ends, 0; }
  static VtStatus Primitive(void *p) {
    Log(VO_DRIVER_PRIMITIVE_BEGIN, reinterpret_cast<uintptr_t>(p));
    return ++primitives, 0;
  }
  static VtStatus Run(uintptr_t word) { return Log(VO_DRIVER_STROKE_BEGIN, word), ++runs, 0; }
  static VtStatus Style(uint32_t cls) { return Log(VO_DRIVER_STYLE, cls), 0; }
  static VtStatus Accept(uint32_t kind) { return Log(VO_DRIVER_ACCEPT_OUTPUT, kind), 0; }
  static VtStatus Element(uintptr_t primitive, uintptr_t element) {
    elements.push_back(element);
    return Log(0x1a0030, primitive), 0;
  }
  static VtStatus Draw(uint32_t type, uint32_t count, VtDrawRecord *record) {
    Log(VO_DRIVER_DRAW, type);
    types.push_back(type);
    if ((type & VO_DRAW_ATTRIBUTES) != 0 && count == 2) {
      auto **pairs = static_cast<float **>(record->attributes);
      attributes.push_back({pairs[0][0], pairs[0][1], pairs[1][0], pairs[1][1]});
    }
    if ((type & VO_DRAW_POINTS_3D) != 0 && count == 2) {
      auto **points = static_cast<float **>(record->points3);
      points3.push_back(
          {{{points[0][0], points[0][1], points[0][2]}, {points[1][0], points[1][1], points[1][2]}}});
    }
    if ((type & (VO_DRAW_SHAPE_CIRCLE | VO_DRAW_SHAPE_ARC)) != 0) {
      const bool arc = (type & VO_DRAW_SHAPE_ARC) != 0;
      const size_t size = ((type & VO_DRAW_POINTS_3D) != 0 ? 3 : 4) * (arc ? 3 : 2) + 1;
      auto *block =
          *static_cast<float **>((type & VO_DRAW_POINTS_3D) != 0 ? record->points3 : record->projected);
      shapes.emplace_back(block, block + size);
      if ((type & VO_DRAW_ATTRIBUTES) != 0) {
        const float *pairs = *static_cast<float **>(record->attributes);
        shape_pairs.push_back({pairs[0], pairs[1], pairs[2], pairs[3]});
      }
      return shape_answer;
    }
    if ((type & VO_DRAW_POINTS_PROJECTED) == 0) return 0;
    EXPECT_EQ(record->raster, nullptr);
    auto **points = static_cast<float **>(record->projected);
    std::vector<Point4> &drawn = polylines.emplace_back();
    for (uint32_t i = 0; i < count; ++i)
      drawn.push_back({points[i][0], points[i][1], points[i][2], points[i][3]});
    for (uint32_t i = 1; i < count; ++i) lines.push_back({drawn[i - 1], drawn[i]});  // every piece of it
    return 0;
  }
  static VtStatus End() {
    Log(VO_DRIVER_STROKE_END, 0);
    ++ends;
    return 0;
  }
  static VtStatus Interrupt() {
    ++polls;
    return interrupt_from > 0 && polls >= interrupt_from ? VO_COND_INTERRUPTED : 0;
  }
  // The recorder's operation look-up.
  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set != 0) return VO_STATUS_BAD_ARGUMENT;
    *slot = code == VO_DRIVER_DRAW              ? reinterpret_cast<VtProc>(&Draw)
            : code == VO_DRIVER_STROKE_END      ? reinterpret_cast<VtProc>(&End)
            : code == VO_DRIVER_POLL            ? reinterpret_cast<VtProc>(&Interrupt)
            : code == VO_DRIVER_BEGIN_FRAME     ? reinterpret_cast<VtProc>(&Frame)
            : code == VO_DRIVER_END_FRAME       ? reinterpret_cast<VtProc>(&FrameEnd)
            : code == VO_DRIVER_PRIMITIVE_BEGIN ? reinterpret_cast<VtProc>(&Primitive)
            : code == VO_DRIVER_STROKE_BEGIN    ? reinterpret_cast<VtProc>(&Run)
            : code == VO_DRIVER_STYLE           ? reinterpret_cast<VtProc>(&Style)
            : code == VO_DRIVER_ACCEPT_OUTPUT   ? reinterpret_cast<VtProc>(&Accept)
            : code == 0x1a0030                  ? reinterpret_cast<VtProc>(&Element)
                                                : nullptr;
    return 0;
  }
  // The recorder's query function.
  static VtStatus DriverQuery(uint32_t query, VtTypedValue *answer) {
    *answer = VtTypedValue{};
    if (query == VO_QUERY_REGISTRY_NAME) *answer = TypedString("recorder");
    if (query == VO_QUERY_CALLBACK) *answer = TypedFunc(&Lookup);
    return 0;
  }
  static VtStatus Start() {
    VtTypedValue start{};
    VoEntryDriver(VO_QUERY_START, &start);
    VtStatus st = reinterpret_cast<VtModuleProc>(start.value.fn)();
    driver = VoDriverCreate(&DriverQuery);
    if (driver == nullptr) return st | VO_STATUS_NO_MEMORY;
    return st | VoDriverSet(driver);
  }
  // Installed as module 26: the framework's answers, with a start that
  // also makes the recorder current.
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    if (query == VO_QUERY_START) {
      *answer = TypedFunc(&Start);
      return 0;
    }
    return VoEntryDriver(query, answer);
  }
};

}  // namespace vo::test

// An output driver that keeps what it is sent (frames begun and ended, byte
// rows and float rows) as one text, so that a sweep can compare what a
// procedure showed through the current driver with the reference run.
#pragma once

#include <string>

#include "kernel/vosystem/kernel.h"

namespace vo::test {

struct RowDriver {
  static inline std::string sent;

  static VtStatus Begin(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    sent += "b" + std::to_string(x0) + "," + std::to_string(x1) + "," + std::to_string(y0) + "," +
            std::to_string(y1) + ";";
    return 0;
  }
  static VtStatus End() {
    sent += "e;";
    return 0;
  }
  static VtStatus Bytes(uint32_t y, void *pixels) {
    sent += "r" + std::to_string(y) + ":";
    if (pixels != nullptr) sent.append(static_cast<const char *>(pixels), 16 * 3);
    return 0;
  }
  static VtStatus Floats(uint32_t y, void *pixels) {
    sent += "f" + std::to_string(y) + ":";
    if (pixels != nullptr) sent.append(static_cast<const char *>(pixels), 16 * 4 * sizeof(float));
    return 0;
  }
  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set != 0) return VO_STATUS_BAD_ARGUMENT;
    *slot = code == VO_DRIVER_BEGIN_FRAME      ? reinterpret_cast<VtProc>(&Begin)
            : code == VO_DRIVER_END_FRAME      ? reinterpret_cast<VtProc>(&End)
            : code == VO_DRIVER_ROW_BYTES      ? reinterpret_cast<VtProc>(&Bytes)
            : code == VO_DRIVER_ROW_FLOAT_RGBA ? reinterpret_cast<VtProc>(&Floats)
                                               : nullptr;
    return 0;
  }
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    *answer = VtTypedValue{};
    if (query == VO_QUERY_REGISTRY_NAME) *answer = TypedString("sweep rows");
    if (query == VO_QUERY_CALLBACK) *answer = TypedFunc(&Lookup);
    return 0;
  }
  // What was sent since the last call, which starts the next record afresh.
  static std::string Taken() {
    std::string s;
    s.swap(sent);
    return s;
  }
};

}  // namespace vo::test

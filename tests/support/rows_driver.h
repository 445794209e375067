// An output driver that keeps the byte rows a render hands it in one
// picture of Width x Height RGB bytes, top row first; Name is its registry
// name. Tests make it with VoDriverCreate(&RowsDriver<...>::Query) and size
// Rows() before they render.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_driver.h>

namespace vo::test {

template <uint32_t Width, uint32_t Height, const char *Name>
struct RowsDriver {
  static std::vector<uint8_t> &Rows() {
    static std::vector<uint8_t> rows;
    return rows;
  }
  static VtStatus Row(uint32_t y, void *pixels) {
    if (y < Height && Rows().size() >= size_t{Width} * Height * 3)
      std::memcpy(&Rows()[size_t{y} * Width * 3], pixels, size_t{Width} * 3);
    return 0;
  }
  static VtStatus Frame(int32_t, int32_t, int32_t, int32_t) { return 0; }
  static VtStatus FrameEnd() { return 0; }
  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set) return 0x20000012;
    *slot = code == VO_DRIVER_ROW_BYTES     ? reinterpret_cast<VtProc>(&Row)
            : code == VO_DRIVER_BEGIN_FRAME ? reinterpret_cast<VtProc>(&Frame)
            : code == VO_DRIVER_END_FRAME   ? reinterpret_cast<VtProc>(&FrameEnd)
                                            : nullptr;
    return 0;
  }
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    std::memset(answer, 0, sizeof *answer);
    if (query == VO_QUERY_REGISTRY_NAME) {
      answer->type = VtString;
      answer->value.s = Name;
    } else if (query == VO_QUERY_CALLBACK) {
      answer->type = VtFunc;
      answer->value.fn = reinterpret_cast<VtProc>(&Lookup);
    }
    return 0;
  }
};

}  // namespace vo::test

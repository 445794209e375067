// An output driver that keeps the byte rows a render hands it in one
// picture of Width x Height RGB bytes, top row first, each row placed at its
// frame's left edge (a render under a viewport sends its own columns only);
// Name is its registry name. Tests make it with
// VoDriverCreate(&RowsDriver<...>::Query) and Clear() it before they render.
#pragma once

#include <algorithm>
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
  // The columns of the frame begun last: its left edge and width.
  static int32_t &Left() {
    static int32_t x = 0;
    return x;
  }
  static int32_t &Columns() {
    static int32_t w = Width;
    return w;
  }
  // A picture of black bytes, placed at the left edge until a frame says.
  static void Clear() {
    Rows().assign(size_t{Width} * Height * 3, 0);
    Left() = 0, Columns() = Width;
  }
  static VtStatus Row(uint32_t y, void *pixels) {
    const int32_t w = static_cast<int32_t>(Width), x0 = std::clamp<int32_t>(Left(), 0, w),
                  n = std::clamp<int32_t>(Columns(), 0, w - x0);
    if (y < Height && Rows().size() >= size_t{Width} * Height * 3)
      std::memcpy(&Rows()[(size_t{y} * Width + static_cast<size_t>(x0)) * 3], pixels,
                  static_cast<size_t>(n) * 3);
    return 0;
  }
  static VtStatus Frame(int32_t x0, int32_t x1, int32_t, int32_t) {
    Left() = x0;
    Columns() = x1 - x0 + 1;
    return 0;
  }
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

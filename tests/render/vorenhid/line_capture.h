// The segments a hidden-line render draws, taken from the driver's draw
// operation in projected points divided by w, each with its lower end
// first, so that two renders' lines compare as sets; and an error handler
// that keeps diagnostics quiet.
#pragma once

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include <vo/vo_api.h>

namespace line_capture {

using Segment = std::array<float, 4>;  // both ends divided by w, the lower first

inline std::vector<Segment> g_lines;

inline VtStatus LineDraw(uint32_t type, uint32_t count, VtDrawRecord *record) {
  if ((type & VO_DRAW_POINTS_PROJECTED) == 0 || record == nullptr) return 0;
  auto **p = static_cast<float **>(record->projected);
  for (uint32_t i = 1; i < count; ++i) {
    Segment s{p[i - 1][0] / p[i - 1][3], p[i - 1][1] / p[i - 1][3], p[i][0] / p[i][3], p[i][1] / p[i][3]};
    if (std::make_pair(s[2], s[3]) < std::make_pair(s[0], s[1])) s = {s[2], s[3], s[0], s[1]};
    g_lines.push_back(s);
  }
  return 0;
}

inline VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

}  // namespace line_capture

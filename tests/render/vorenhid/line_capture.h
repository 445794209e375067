// The segments a hidden-line render draws, taken from the driver's draw
// operation in projected points divided by w, each with its lower end
// first, so that two renders' lines compare as sets; an error handler that
// keeps diagnostics quiet; the library started quiet on a worker count;
// and the screen buffer the renders draw into.
#pragma once

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_multit.h>
#include <vo/vo_screenbuf.h>

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

// A screen buffer of colour at width x height, made current; 0 with every
// step answered 0.
inline VtStatus BufferMadeCurrent(uint32_t width, uint32_t height, VtScreenBuffer **made) {
  VtScreenBuffer *buffer = *made = VoScreenBufferCreate();
  VtTypedValue v{};
  v.type = VtNat32;
  v.value.u = width;
  VtStatus st = VoScreenBufferSetControl(buffer, VO_SB_WIDTH, &v);
  v.value.u = height;
  st |= VoScreenBufferSetControl(buffer, VO_SB_HEIGHT, &v);
  return st | VoScreenBufferAllocateData(buffer, VO_SB_COLOUR) | VoScreenBufferSet(buffer);
}

// The library started with diagnostics kept quiet and renders on
// `workers` workers (0: the calling thread); 0 with every step answered 0.
inline VtStatus StartedQuietOn(int32_t workers) {
  VtStatus st = VoInitialise();
  (void)VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Quiet));
  VtTypedValue v{};
  v.type = VtInt32;
  v.value.i = workers;
  return st | VoControlSet(VO_CONTROL_MT_WORKERS, &v);
}

}  // namespace line_capture

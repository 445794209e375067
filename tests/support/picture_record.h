// What a render shows an application through the driver's callbacks, in
// the order it hears it: the status, every row (its number and bytes), the
// polls, the progress percentages and the frames begun and ended; and the
// callbacks that record it, with an interrupt answered at a chosen poll.
// The worker-count comparisons read renders through it.
//
// Polls may come from any thread; rows, frames and progress come on the
// calling thread. The record is one per process, as the library is.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_kernel.h>
#include <vo/vo_multit.h>

#include "kernel/vosystem/kernel.h"

namespace vo::test {

struct Rendered {
  VtStatus status = 0;
  std::vector<uint32_t> rows;  // row numbers as they came
  std::vector<uint8_t> bytes;  // their pixels
  std::vector<double> progress;
  uint32_t polls = 0, frames = 0, frame_ends = 0;
  bool operator==(const Rendered &) const = default;
};

class PictureRecord {
 public:
  static inline Rendered seen;
  static inline size_t row_bytes = 0;       // bytes of one row the driver is given
  static inline uint32_t interrupt_at = 0;  // the poll (from 1) that answers an interrupt; 0 none
  static inline bool with_progress = true;  // record the progress percentages

  // The driver's and the kernel's callbacks that record, installed.
  static VtStatus Install() {
    VtStatus st = VoCallBackSet(VO_DRIVER_POLL, reinterpret_cast<VtProc>(&Poll));
    st |= VoCallBackSet(VO_DRIVER_BEGIN_FRAME, reinterpret_cast<VtProc>(&Frame));
    st |= VoCallBackSet(VO_DRIVER_END_FRAME, reinterpret_cast<VtProc>(&FrameEnd));
    for (uint32_t code : {VO_DRIVER_ROW_BYTES, VO_DRIVER_ROW_FLOAT, VO_DRIVER_ROW_FLOAT_RGBA})
      st |= VoCallBackSet(code, reinterpret_cast<VtProc>(&Row));
    return st | VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress));
  }

  // One render of the execute code on the worker count given.
  static Rendered Render(uint32_t code, int32_t workers) {
    const VtTypedValue v = TypedInt32(workers);
    (void)VoControlSet(VO_CONTROL_MT_WORKERS, &v);
    seen = Rendered{};
    const VtStatus st = VoExecute(code);
    std::lock_guard<std::mutex> hold(lock_);
    seen.status = st;
    return seen;
  }

  // Where two renders part, for a failure message.
  static std::string Difference(const Rendered &a, const Rendered &b) {
    std::string out = "status " + Hex(a.status) + "/" + Hex(b.status) + " rows " +
                      std::to_string(a.rows.size()) + "/" + std::to_string(b.rows.size()) + " polls " +
                      std::to_string(a.polls) + "/" + std::to_string(b.polls) + " progress " +
                      std::to_string(a.progress.size()) + "/" + std::to_string(b.progress.size()) +
                      " frames " + std::to_string(a.frames) + "/" + std::to_string(b.frames);
    if (a.rows != b.rows) out += " (row order differs)";
    size_t differing = 0;
    std::string first;
    for (size_t i = 0; i < std::min(a.bytes.size(), b.bytes.size()); ++i) {
      if (a.bytes[i] == b.bytes[i]) continue;
      if (differing++ == 0 && row_bytes != 0)
        first = " first at byte " + std::to_string(i % row_bytes) + " of row " +
                std::to_string(i / row_bytes < a.rows.size() ? a.rows[i / row_bytes] : 0) + ": " +
                std::to_string(a.bytes[i]) + " vs " + std::to_string(b.bytes[i]);
    }
    return out + " bytes differing " + std::to_string(differing) + first;
  }

  static std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%#x", v);
    return text;
  }

 private:
  static inline std::mutex lock_;

  static VtStatus Row(uint32_t y, void *pixels) {
    std::lock_guard<std::mutex> hold(lock_);
    seen.rows.push_back(y);
    const auto *b = static_cast<const uint8_t *>(pixels);
    seen.bytes.insert(seen.bytes.end(), b, b + row_bytes);
    return 0;
  }
  static VtStatus Poll() {
    std::lock_guard<std::mutex> hold(lock_);
    ++seen.polls;
    return interrupt_at != 0 && seen.polls >= interrupt_at ? VO_COND_INTERRUPTED : 0;
  }
  static VtStatus Frame(int32_t, int32_t, int32_t, int32_t) {
    std::lock_guard<std::mutex> hold(lock_);
    return ++seen.frames, 0;
  }
  static VtStatus FrameEnd() {
    std::lock_guard<std::mutex> hold(lock_);
    return ++seen.frame_ends, 0;
  }
  static VtStatus Progress(uint32_t, VtTypedValue *v) {
    std::lock_guard<std::mutex> hold(lock_);
    if (with_progress) seen.progress.push_back(v->value.d);
    return 0;
  }
};

}  // namespace vo::test

// What a render shows an application through the driver's callbacks, in
// the order it hears it: the status, every row (its number and bytes), the
// polls, the progress percentages and the frames begun and ended, and
// where asked all of them as one string of events in order; and the
// callbacks that record it, with an interrupt answered at a chosen poll.
// The worker-count comparisons read renders through it.
//
// Polls may come from any thread; rows, frames and progress come on the
// calling thread. The record is one per process, as the library is: a
// test sets what it asks for (Reset gives the defaults back).
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
  // With PictureRecord::with_events: 'B' and 'E' the frame's begin and end,
  // 'p' a poll, 'r' a row, '%' a progress report, in the order they came.
  std::string events;
  bool operator==(const Rendered &) const = default;
};

// Sets a control of one 32-bit word (flags, enums, naturals).
inline VtStatus ControlWordSet(uint32_t code, uint32_t type, uint32_t value) {
  const VtTypedValue v = TypedWord(type, value);
  return VoControlSet(code, &v);
}

class PictureRecord {
 public:
  static inline Rendered seen;
  static inline size_t row_bytes = 0;         // bytes of one row the driver is given
  static inline uint32_t interrupt_at = 0;    // the poll (from 1) that answers an interrupt; 0 none
  static inline bool interrupt_once = false;  // only that poll answers it, not the ones after
  static inline bool with_progress = true;    // record the progress percentages
  static inline bool with_events = false;     // record the events in order
  // Told of every poll and progress report (the module that made it).
  static inline void (*on_poll)() = nullptr;
  static inline void (*on_progress)(uint32_t module) = nullptr;

  // What a test may have set, back to the defaults.
  static void Reset() {
    seen = Rendered{};
    row_bytes = 0;
    interrupt_at = 0;
    interrupt_once = false;
    with_progress = true;
    with_events = false;
    on_poll = nullptr;
    on_progress = nullptr;
  }

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
    if (a.events != b.events) out += " events " + a.events + " / " + b.events;
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

  static void Event(char e) {
    if (with_events) seen.events += e;
  }
  static VtStatus Row(uint32_t y, void *pixels) {
    std::lock_guard<std::mutex> hold(lock_);
    Event('r');
    seen.rows.push_back(y);
    const auto *b = static_cast<const uint8_t *>(pixels);
    seen.bytes.insert(seen.bytes.end(), b, b + row_bytes);
    return 0;
  }
  static VtStatus Poll() {
    std::lock_guard<std::mutex> hold(lock_);
    Event('p');
    ++seen.polls;
    if (on_poll != nullptr) on_poll();
    const bool now = interrupt_once ? seen.polls == interrupt_at : seen.polls >= interrupt_at;
    return interrupt_at != 0 && now ? VO_COND_INTERRUPTED : 0;
  }
  static VtStatus Frame(int32_t, int32_t, int32_t, int32_t) {
    std::lock_guard<std::mutex> hold(lock_);
    Event('B');
    return ++seen.frames, 0;
  }
  static VtStatus FrameEnd() {
    std::lock_guard<std::mutex> hold(lock_);
    Event('E');
    return ++seen.frame_ends, 0;
  }
  static VtStatus Progress(uint32_t module, VtTypedValue *v) {
    std::lock_guard<std::mutex> hold(lock_);
    Event('%');
    if (on_progress != nullptr) on_progress(module);
    if (with_progress) seen.progress.push_back(v->value.d);
    return 0;
  }
};

}  // namespace vo::test

// Configurable modules for kernel tests: Fake<I>::Query is the query function
// of fake module I, whose answers and behaviour come from Fake<I>::m.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "kernel/vosystem/kernel.h"

namespace vo::test {

// Events in call order, as "start:<name>", "terminate:<name>", ...
inline std::vector<std::string> &Events() {
  static std::vector<std::string> events;
  return events;
}

struct FakeModule {
  uint32_t number = 0;
  int32_t level = VO_INTERFACE_LEVEL;
  uint32_t version = VO_MODULE_VERSION;
  uint32_t version_type = VtNat32;
  bool obsolete = false;
  bool compatibility = false;  // answer query 17
  uint32_t compatibility_key = 0;
  const char *name = "vofake";
  const char *banner = "";
  bool has_start = true, has_terminate = true, has_execute = true, has_callback = false;
  bool has_controls = false, has_release = false, has_changed = false;
  VtStatus start_status = 0, terminate_status = 0, execute_status = 0, release_status = 0;
  VtTypedValue control{};  // the module's one control value (any code)
  VtProc slot = nullptr;   // the module's one callback slot (any code)
  // When not empty: a callback or control per code (other codes answer
  // nothing), in place of the one slot and the one control value.
  std::map<uint32_t, VtProc> slots;
  std::map<uint32_t, VtTypedValue> controls;
  std::function<VtStatus(uint32_t)> on_execute;
  std::function<void()> on_terminate;
  int changed = 0;
};

template <int I>
struct Fake {
  static inline FakeModule m;

  static void Reset(uint32_t number, const char *name = "vofake") {
    m = FakeModule{};
    m.number = number;
    m.name = name;
  }
  static VtStatus Start() {
    Events().push_back(std::string("start:") + m.name);
    return m.start_status;
  }
  static VtStatus Terminate() {
    Events().push_back(std::string("terminate:") + m.name);
    if (m.on_terminate) m.on_terminate();
    return m.terminate_status;
  }
  static VtStatus Execute(uint32_t code) {
    Events().push_back(std::string("execute:") + m.name);
    if (m.on_execute) return m.on_execute(code);
    return m.execute_status;
  }
  static VtStatus Release() {
    Events().push_back(std::string("release:") + m.name);
    return m.release_status;
  }
  static VtStatus Changed() {
    ++m.changed;
    return 0;
  }
  static VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
    (m.controls.empty() ? m.control : m.controls[code]) = *v;
    return 0;
  }
  static VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
    if (m.controls.empty())
      *v = m.control;
    else if (m.controls.count(code) != 0)
      *v = m.controls[code];
    else
      return VO_STATUS_BAD_ARGUMENT;
    return 0;
  }
  static VtStatus Callback(uint32_t direction, uint32_t code, VtProc *slot) {
    if (!m.slots.empty()) {
      if (direction != 0) return VO_STATUS_BAD_ARGUMENT;
      *slot = m.slots.count(code) != 0 ? m.slots[code] : nullptr;
      return 0;
    }
    if (direction == 0)
      *slot = m.slot;
    else
      m.slot = *slot;
    return 0;
  }
  static VtStatus Query(uint32_t q, VtTypedValue *a) {
    *a = VtTypedValue{};
    auto proc = [a](bool has, auto f) {
      if (has) *a = TypedFunc(f);
    };
    switch (q) {
      case VO_QUERY_CONTROL_SET: proc(m.has_controls, &ControlSet); break;
      case VO_QUERY_CONTROL_GET: proc(m.has_controls, &ControlGet); break;
      case VO_QUERY_INTERFACE_LEVEL: *a = TypedInt32(m.level); break;
      case VO_QUERY_MODULE_NUMBER: *a = TypedNat32(m.number); break;
      case VO_QUERY_START: proc(m.has_start, &Start); break;
      case VO_QUERY_REGISTRY_NAME: *a = TypedString(m.name); break;
      case VO_QUERY_MEMORY_RELEASE: proc(m.has_release, &Release); break;
      case VO_QUERY_EXECUTE: proc(m.has_execute, &Execute); break;
      case VO_QUERY_TERMINATE: proc(m.has_terminate, &Terminate); break;
      case VO_QUERY_CALLBACKS_CHANGED: proc(m.has_changed, &Changed); break;
      case VO_QUERY_BANNER: *a = TypedString(m.banner); break;
      case VO_QUERY_CALLBACK: proc(m.has_callback, &Callback); break;
      case VO_QUERY_VERSION:
        a->type = m.version_type;
        a->value.u = m.version;
        break;
      case VO_QUERY_BUILD_KIND: *a = TypedString(VO_BUILD_KIND); break;
      case VO_QUERY_BUILD_TIME: *a = TypedNat32(0); break;
      case VO_QUERY_OBSOLETE_FLAG: *a = TypedBoolean(m.obsolete); break;
      case VO_QUERY_COMPATIBILITY:
        if (m.compatibility) *a = TypedNat32(m.compatibility_key);
        break;
      default: break;
    }
    return 0;
  }
};

// The recording handler and its record live in test_support.h.
using SeenDiagnostic = vo_test::Diagnostic;
using vo_test::RecordingHandler;
inline std::vector<SeenDiagnostic> &Seen() { return vo_test::Recorded(); }
inline std::vector<SeenDiagnostic> SeenWith(uint32_t message) { return vo_test::WithMessage(message); }
// The arguments of a diagnostic read as 32-bit integers.
inline std::vector<int32_t> Ints(const SeenDiagnostic &d) {
  std::vector<int32_t> v;
  for (const VtTypedValue &a : d.args) v.push_back(a.value.i);
  return v;
}

// Starts the kernel through the lower road with the recording handler.
inline VtStatus StartRecordingKernel() {
  Events().clear();
  VtStatus s = VoSystemInitialise();
  vo_test::Record();
  return s;
}

// The value of a control; type 0 when the get fails.
inline VtTypedValue ControlValue(uint32_t code) {
  VtTypedValue v{};
  return VoControlGet(code, &v) == 0 ? v : VtTypedValue{};
}

// Sets a control and reads it back; type 0 when the set or the get fails.
inline VtTypedValue ControlRoundTrip(uint32_t code, VtTypedValue value) {
  return VoControlSet(code, &value) == 0 ? ControlValue(code) : VtTypedValue{};
}

// A kernel started through the lower road with the recording handler,
// stopped after the test.
class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(StartRecordingKernel(), 0u); }
  void TearDown() override {
    if (vo::Registry() != nullptr) VoSystemTerminate();
  }
};

}  // namespace vo::test

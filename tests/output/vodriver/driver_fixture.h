// A started kernel with the driver framework and the view module, and test
// drivers whose query functions give a chosen set of operations and
// controls, each logging what reaches it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <vo/vo_driver.h>

#include "support/kernel_fixture.h"
#include "output/vodriver/driver.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

// What the test drivers were asked, in order ("a open", "b row 3 ...").
inline std::vector<std::string> g_log;

inline std::string Hex(const uint8_t *b, size_t n) {
  std::string s;
  char t[8];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(t, sizeof t, "%s%u", i ? "," : "", b[i]);
    s += t;
  }
  return s;
}

// Test driver N: its name, the operations it gives (by code), the answers
// of its own open, rows and messages, its controls and its capability.
template <int N>
struct TestDriver {
  static inline std::string name;
  static inline std::map<uint32_t, VtProc> ops;
  static inline VtStatus answer = 0;                        // of open, rows, message, accept
  static inline int32_t width = 0;                          // from its own begin frame
  static inline uint32_t capability = 0;                    // 0: the control is not answered
  static inline std::map<uint32_t, VtTypedValue> controls;  // answered gets
  static inline std::vector<std::pair<uint32_t, VtTypedValue>> sets;

  static void Reset(const char *n) {
    name = n;
    ops.clear();
    answer = 0;
    width = 0;
    capability = 0;
    controls.clear();
    sets.clear();
  }
  static void Log(const std::string &what) { g_log.push_back(name + " " + what); }
  template <class F>
  static void Give(uint32_t code, F f) {
    ops[code] = reinterpret_cast<VtProc>(f);
  }

  static VtStatus Open() { return Log("open"), answer; }
  static VtStatus Close() { return Log("close"), 0; }
  static VtStatus Frame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    width = x1 - x0 + 1;
    Log("frame " + std::to_string(x0) + " " + std::to_string(x1) + " " + std::to_string(y0) + " " +
        std::to_string(y1));
    return 0;
  }
  static VtStatus EndFrame() { return Log("end"), 0; }
  static VtStatus Row(uint32_t y, void *pixels) {
    Log("row " + std::to_string(y) + " " + Hex(static_cast<uint8_t *>(pixels), width * 3));
    return answer;
  }
  static VtStatus Words(uint32_t y, void *pixels) {
    std::string s;
    for (int32_t i = 0; i < width; ++i)
      s += (i ? "," : "") + std::to_string(static_cast<uint32_t *>(pixels)[i]);
    Log("words " + std::to_string(y) + " " + s);
    return answer;
  }
  static VtStatus Message(const char *text) { return Log(std::string("message ") + text), answer; }
  static VtStatus Line(const VtRasterPoint *a, const VtRasterPoint *b) {
    Log("line " + std::to_string(a->x) + "," + std::to_string(a->y) + " " + std::to_string(b->x) + "," +
        std::to_string(b->y));
    return 0;
  }
  static VtStatus Shape(uint32_t type, uint32_t count, VtDrawRecord *) {
    char t[32];
    std::snprintf(t, sizeof t, "draw %#x %u", type, count);
    Log(t);
    return 0;
  }
  static VtStatus Accept(uint32_t kind) { return Log("accept " + std::to_string(kind)), answer; }

  // The usual raster driver: open, close, frames, byte rows and messages.
  static void GiveRaster() {
    Give(VO_DRIVER_OPEN, &Open);
    Give(VO_DRIVER_CLOSE, &Close);
    Give(VO_DRIVER_BEGIN_FRAME, &Frame);
    Give(VO_DRIVER_END_FRAME, &EndFrame);
    Give(VO_DRIVER_ROW_BYTES, &Row);
    Give(VO_DRIVER_ROW_DEVICE, &Words);
    Give(VO_DRIVER_MESSAGE, &Message);
    Give(VO_DRIVER_ACCEPT_OUTPUT, &Accept);
  }

  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set != 0) return 0;
    auto it = ops.find(code);
    *slot = it == ops.end() ? nullptr : it->second;
    return 0;
  }
  static VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
    if (code == VO_CONTROL_DRIVER_CAPABILITY && capability != 0) {
      *v = TypedNat32(capability);
      v->type = VtFlags;
      return 0;
    }
    auto it = controls.find(code);
    if (it == controls.end()) return VO_DRIVER_REFUSED;
    *v = it->second;
    return 0;
  }
  static VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
    sets.emplace_back(code, *v);
    return controls.count(code) != 0 ? 0 : VO_DRIVER_REFUSED;
  }
  static VtStatus Query(uint32_t query, VtTypedValue *a) {
    *a = VtTypedValue{};
    if (query == VO_QUERY_REGISTRY_NAME) *a = TypedString(name.c_str());
    if (query == VO_QUERY_CALLBACK) *a = TypedFunc(&Lookup);
    if (query == VO_QUERY_CONTROL_GET) *a = TypedFunc(&ControlGet);
    if (query == VO_QUERY_CONTROL_SET) *a = TypedFunc(&ControlSet);
    return 0;
  }
};

using DriverA = TestDriver<0>;
using DriverB = TestDriver<1>;
using DriverC = TestDriver<2>;

class DriverTest : public PooledKernelTest {
 protected:
  void SetUp() override {
    StartKernel();
    g_log.clear();
    DriverA::Reset("a");
    DriverB::Reset("b");
    DriverC::Reset("c");
    ASSERT_EQ(VoInstallModule(&VoEntryDriver), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntryView), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }
  static driver::DriverState *State() { return driver::State(); }
  static VtDriverRecord *Current() { return State()->current_pointer; }
  static VtDriverRecord *Null() { return State()->null_driver; }
  // MODE 1: new drivers no longer become current by themselves.
  static void ModeOne() {
    const VtTypedValue v = TypedWord(VtFlags, 1);
    ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_MODE, &v), 0u);
  }

 public:
  // A w x h image (8-bit when indexed), its pixels allocated and zero.
  static VtImage *ImageOf(int32_t w, int32_t h, bool indexed = false) {
    VtImage *im = indexed ? VoImageCreateIndexed() : VoImageCreate();
    im->width = w;
    im->height = h;
    EXPECT_EQ(VoImageAllocateData(im), 0u);
    if (im->data != nullptr) std::memset(im->data, 0, static_cast<size_t>(im->bytes_per_row) * h);
    return im;
  }
  // Opens a record of the image driver on the image, with clearing off.
  static void OpenImageDriver(VtImage *im) {
    ASSERT_EQ(VoDriverOpen(State()->image_driver), 0u);
    VtTypedValue v = TypedPointer(im);
    ASSERT_EQ(VoDriverSetControl(State()->image_driver, VO_CONTROL_DRIVER_IMAGE, &v), 0u);
    State()->clear = 0;
  }
  static std::vector<std::string> Log() {
    std::vector<std::string> l = g_log;
    g_log.clear();
    return l;
  }
};

using Lines = std::vector<std::string>;

}  // namespace vo::test

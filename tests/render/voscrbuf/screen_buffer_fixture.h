// A started kernel with the driver framework, views and the screen buffer
// module, a row driver made current that logs its frames and keeps every
// row it receives, and helpers for buffers and their pixels.
#pragma once

#include <map>
#include <vector>

#include <vo/vo_screenbuf.h>

#include "support/fake_module.h"
#include "support/scene_fixture.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

// The output driver: frames, ends, control sets, and the rows it received
// as floats (bytes times 1/255), by image row.
struct RowDriver {
  static inline std::vector<std::array<int32_t, 4>> frames;
  static inline int ends = 0;
  static inline std::vector<std::pair<uint32_t, uint32_t>> sizes;  // width/height control sets
  static inline std::map<uint32_t, std::vector<float>> rows;       // RGB per pixel
  static inline int32_t width = 0;
  static inline VtDriverRecord *driver = nullptr;

  static void Reset() {
    width = 0;  // rows before the test's first frame are read as empty
    frames.clear();
    ends = 0;
    sizes.clear();
    rows.clear();
  }
  static VtStatus Frame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    frames.push_back({x0, x1, y0, y1});
    width = x1 - x0 + 1;
    return 0;
  }
  static VtStatus End() { return ++ends, 0; }
  template <int Step>
  static VtStatus Floats(uint32_t y, void *pixels) {
    auto *p = static_cast<const float *>(pixels);
    std::vector<float> &row = rows[y];
    row.clear();
    for (int32_t i = 0; i < width; ++i) row.insert(row.end(), p + Step * i, p + Step * i + 3);
    return 0;
  }
  static VtStatus Bytes(uint32_t y, void *pixels) {
    auto *p = static_cast<const uint8_t *>(pixels);
    std::vector<float> &row = rows[y];
    row.clear();
    for (int32_t i = 0; i < 3 * width; ++i) row.push_back(p[i] * (1.0f / 255.0f));
    return 0;
  }
  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set != 0) return VO_STATUS_BAD_ARGUMENT;
    switch (code) {
      case VO_DRIVER_BEGIN_FRAME: *slot = reinterpret_cast<VtProc>(&Frame); break;
      case VO_DRIVER_END_FRAME: *slot = reinterpret_cast<VtProc>(&End); break;
      case VO_DRIVER_ROW_BYTES: *slot = reinterpret_cast<VtProc>(&Bytes); break;
      case VO_DRIVER_ROW_FLOAT: *slot = reinterpret_cast<VtProc>(&Floats<3>); break;
      case VO_DRIVER_ROW_FLOAT_RGBA: *slot = reinterpret_cast<VtProc>(&Floats<4>); break;
      default: *slot = nullptr;
    }
    return 0;
  }
  static VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
    sizes.push_back({code, v->value.u});
    return 0;
  }
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    *answer = VtTypedValue{};
    if (query == VO_QUERY_REGISTRY_NAME) *answer = TypedString("rows");
    if (query == VO_QUERY_CALLBACK) *answer = TypedFunc(&Lookup);
    if (query == VO_QUERY_CONTROL_SET) *answer = TypedFunc(&ControlSet);
    return 0;
  }
};

class ScreenBufferTest : public SceneTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    RowDriver::Reset();
    StartModules(
        {&RecordingDriver::Query, &VoEntryView, &VoEntryGeometry, &VoEntryTransforms, &VoEntryScreenBuffer});
    RowDriver::driver = VoDriverCreate(&RowDriver::Query);
    ASSERT_NE(RowDriver::driver, nullptr);
    ASSERT_EQ(VoDriverSet(RowDriver::driver), 0u);
    g_posted.clear();
  }

 public:
  // A buffer of the size with storage for the channels.
  static VtScreenBuffer *Buffer(uint32_t mask, uint32_t width = 20, uint32_t height = 20) {
    VtScreenBuffer *b = VoScreenBufferCreate();
    EXPECT_NE(b, nullptr);
    Set(b, VO_SB_WIDTH, TypedNat32(width));
    Set(b, VO_SB_HEIGHT, TypedNat32(height));
    EXPECT_EQ(VoScreenBufferAllocateData(b, mask), 0u);
    return b;
  }
  static void Set(VtScreenBuffer *b, uint32_t code, VtTypedValue v, VtStatus expected = 0) {
    EXPECT_EQ(VoScreenBufferSetControl(b, code, &v), expected) << std::hex << code;
  }
  static VtTypedValue Control(VtScreenBuffer *b, uint32_t code) {
    VtTypedValue v{};
    EXPECT_EQ(VoScreenBufferGetControl(b, code, &v), 0u);
    return v;
  }
  // One pixel of one channel: colour as three floats, else the first.
  static std::array<float, 3> Pixel(VtScreenBuffer *b, uint32_t mask, uint32_t x, uint32_t y) {
    VtTypedValue v{};
    EXPECT_EQ(VoScreenBufferGetPixel(b, mask, x, y, &v), 0u);
    if (mask == VO_SB_STENCIL) return {static_cast<float>(v.value.u), 0, 0};
    return {v.value.v[0], mask == VO_SB_COLOUR ? v.value.v[1] : 0, mask == VO_SB_COLOUR ? v.value.v[2] : 0};
  }
  static VtTypedValue Colour(float r, float g, float b) {
    VtTypedValue v = TypedWord(VtColourType, 0);
    const float rgb[3] = {r, g, b};
    std::copy(rgb, rgb + 3, v.value.v);
    return v;
  }
  static std::array<uint32_t, 4> Region(VtScreenBuffer *b) {
    std::array<uint32_t, 4> r{};
    EXPECT_EQ(VoScreenBufferGetRegion(b, r.data()), 0u);
    return r;
  }
  static void View(uint32_t x, uint32_t y) { ASSERT_EQ(VoViewSetResolution(nullptr, x, y, 1.0), 0u); }
  // What a renderer sends: a frame of RGB float rows whose pixel x of row y
  // is (x / 100, y / 100, 0.5); each row answers the status given.
  static void Render(int32_t x0, int32_t x1, int32_t y0, int32_t y1, VtStatus row_status = 0) {
    EXPECT_EQ(VoDriverBeginFrame(nullptr, x0, x1, y0, y1), 0u);
    std::vector<float> row(3 * static_cast<size_t>(x1 - x0 + 1));
    for (int32_t y = y0; y <= y1; ++y) {
      for (int32_t x = x0; x <= x1; ++x) {
        float *p = &row[3 * static_cast<size_t>(x - x0)];
        p[0] = x / 100.0f, p[1] = y / 100.0f, p[2] = 0.5f;
      }
      EXPECT_EQ(VoDriverWriteScanRGBFloat(nullptr, static_cast<uint32_t>(y), row.data()), row_status);
    }
    EXPECT_EQ(VoDriverEndFrame(nullptr), 0u);
  }
};

}  // namespace vo::test

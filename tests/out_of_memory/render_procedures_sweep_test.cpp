// The allocation-failure sweep over the public procedures that render into
// or process a screen buffer: the ray tracer's scene preparation, hit
// finding and shading, the screen buffer's copies, frames, precisions, depth
// render and showing, and the post-process stage's frame averaging, archive,
// pixel lists and antialiasing passes. Each failed allocation must answer
// the memory status (or the call's own rule, printed) and the next call
// without failures the reference picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "out_of_memory/procedures_scene.h"
#include "out_of_memory/row_driver.h"

namespace vo::test {
namespace {

const float kOrigin[3] = {0.1f, 0.1f, 7.0f}, kDown[3] = {0, 0, -1};

std::string Floats(const float *f, size_t n) { return std::string(reinterpret_cast<const char *>(f), n * 4); }

class RenderProcedures : public ProcedureSweep {
 protected:
  // The driver that keeps what is shown, with the buffer attached under it.
  void ShowThroughRows() {
    driver_ = VoDriverCreate(&RowDriver::Query);
    ASSERT_NE(driver_, nullptr);
    ASSERT_EQ(VoDriverSet(driver_), 0u);
    ASSERT_EQ(VoScreenBufferSet(buffer_), 0u);
    RowDriver::Taken();
  }
  void TearDown() override {
    if (driver_ != nullptr) {
      VoScreenBufferSet(nullptr);
      VoDriverSet(VoDriverFindFromName("vodrvnul"));
      VoDriverDestroy(driver_);
    }
    ProcedureSweep::TearDown();
  }
  // A picture in the target to process: the standard renderer's.
  void Render() {
    ClearBuffer();
    ASSERT_EQ(VoExecute(0xc0002), 0u);
  }
  VtDriverRecord *driver_ = nullptr;
};

TEST_F(RenderProcedures, TheRayTracersPreparationHitsAndShadingFailWithTheMemoryStatus) {
  auto hits = [] {
    std::string s;
    for (float x : {0.1f, -0.6f, 1.4f}) {
      const float o[3] = {x, 0.1f, 7.0f};
      VtPolygon *p = VoRayTracerHitFind(o, kDown, 0, 100, nullptr);
      s += p != nullptr ? Floats(&x, 1) + std::to_string(VoRayTraceIntersectDistance()) : "miss";
    }
    return s;
  };
  // A failed preparation stays the ray tracer's sticky status until a pass
  // or the application clears it; undoing a call clears it as an
  // application would.
  SweptCall prepare = Swept(
      "VoRayTracerScenePrepare", [] { return VoRayTracerScenePrepare(); }, hits,
      [] {
        (void)VoRayTracerSceneRelease();
        VtTypedValue clear{};
        clear.type = VtStatusType;
        (void)VoControlSet(VO_CONTROL_RAY_STICKY, &clear);
      });
  prepare.exemption = "a failure stays sticky until cleared; cleared before the next call";
  EXPECT_GT(SweepAllocationFailures(prepare).runs, 0u);

  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  VtPolygon *hit = nullptr;
  SweptCall find = Swept(
      "VoRayTracerHitFind",
      [&] {
        hit = VoRayTracerHitFind(kOrigin, kDown, 0, 100, nullptr);
        return Made(hit);
      },
      [&] { return std::to_string(VoRayTraceIntersectDistance()); });
  SweepAllocationFailures(find);
  float colour[3] = {0, 0, 0};
  // The shade answers its hit flag, not a status: a failed save of the
  // shader globals is passed over, and the colour is the outcome.
  SweptCall shade = Swept(
      "VoRayTraceShade", [&] { return VtStatus{VoRayTraceShade(colour, kOrigin, kDown, 1.0) != 1}; },
      [&] { return Floats(colour, 3); });
  shade.accepts = [](VtStatus) { return true; };
  shade.exemption = "answers its hit flag; a failed save of the shader globals is passed over";
  SweepAllocationFailures(shade);
  float lit = 0;
  const float up[3] = {0, 0, 1}, under[3] = {0.1f, 0.1f, -2.0f};
  SweptCall shadow = Swept(
      "VoRayTraceShadow",
      [&] {
        lit = VoRayTraceShadow(under, up, 0, 20, nullptr);
        return VtStatus{0};
      },
      [&] { return Floats(&lit, 1); });
  SweepAllocationFailures(shadow);
  EXPECT_EQ(VoRayTracerSceneRelease(), 0u);
}

TEST_F(RenderProcedures, ScreenBufferCopiesFramesAndPrecisionsFailWithTheMemoryStatusAndKeepTheTarget) {
  Render();
  const std::string rendered = Picture();
  VtScreenBuffer *made = nullptr;
  auto destroy = [&] {
    if (made != nullptr) VoScreenBufferDestroy(made);
    made = nullptr;
  };
  SweptCall create = Swept(
      "VoScreenBufferCreate", [&] { return Made(made = VoScreenBufferCreate()); }, nullptr, destroy);
  EXPECT_GT(SweepAllocationFailures(create).runs, 0u);
  SweptCall copy = Swept(
      "VoScreenBufferCopy", [&] { return Made(made = VoScreenBufferCopy(buffer_)); },
      [&] { return BufferPicture(made); }, destroy);
  EXPECT_GT(SweepAllocationFailures(copy).runs, 0u);

  VtScreenBuffer *other = VoScreenBufferCreate();
  ASSERT_NE(other, nullptr);
  SweptCall planes = Swept(
      "VoScreenBufferAllocateData", [&] { return VoScreenBufferAllocateData(other, VO_SB_ALL); },
      [&] {
        uint32_t mask = 0;
        (void)VoScreenBufferGetDataMask(other, &mask);
        return std::to_string(mask);
      },
      [&] { (void)VoScreenBufferDeallocateData(other, VO_SB_ALL); });
  planes.after_failure = [&] {
    uint32_t mask = 99;
    EXPECT_EQ(VoScreenBufferGetDataMask(other, &mask), 0u);
    EXPECT_EQ(mask, 0u) << "planes kept after a failed allocation";
  };
  EXPECT_GT(SweepAllocationFailures(planes).runs, 0u);
  ASSERT_EQ(VoScreenBufferAllocateData(other, VO_SB_COLOUR | VO_SB_ALPHA | VO_SB_DEPTH), 0u);
  SweptCall contents = Swept(
      "VoScreenBufferCopyContents", [&] { return VoScreenBufferCopyContents(other, buffer_); },
      [&] { return BufferPicture(other); });
  SweepAllocationFailures(contents);
  SweptCall precision = Swept(
      "VoScreenBufferSetPrecision",
      [&] { return VoScreenBufferSetPrecision(other, VO_SB_COLOUR, VO_SB_BYTE); },
      [&] { return BufferPicture(other); }, [&] { (void)VoScreenBufferCopyContents(other, buffer_); });
  precision.undo = [&] {
    (void)VoScreenBufferSetPrecision(other, VO_SB_COLOUR, VO_SB_FLOAT);
    (void)VoScreenBufferCopyContents(other, buffer_);
  };
  precision.after_failure = [&] {
    EXPECT_TRUE(BufferPicture(other) == rendered) << "a failed change of precision";
  };
  EXPECT_GT(SweepAllocationFailures(precision).runs, 0u);
  EXPECT_EQ(VoScreenBufferDestroy(other), 0u);

  // A frame of another size re-sizes the target; a failure keeps it whole.
  auto size = [&] {
    VtTypedValue w{}, h{};
    (void)VoScreenBufferGetControl(buffer_, VO_SB_WIDTH, &w);
    (void)VoScreenBufferGetControl(buffer_, VO_SB_HEIGHT, &h);
    return std::to_string(w.value.u) + "x" + std::to_string(h.value.u);
  };
  VtScreenBuffer *kept = VoScreenBufferCopy(buffer_);
  ASSERT_NE(kept, nullptr);
  SweptCall frame = Swept(
      "VoScreenBufferBeginFrame", [] { return VoScreenBufferBeginFrame(0, 23, 0, 19); }, size,
      [&] {
        for (uint32_t code : {VO_SB_WIDTH, VO_SB_HEIGHT}) {
          const VtTypedValue side = TypedNat32(kSide);
          (void)VoScreenBufferSetControl(buffer_, code, &side);
        }
        (void)VoScreenBufferCopyContents(buffer_, kept);
      });
  frame.after_failure = [&] { EXPECT_TRUE(Picture() == rendered) << "the target after a failed frame"; };
  EXPECT_GT(SweepAllocationFailures(frame).runs, 0u);
  EXPECT_EQ(VoScreenBufferDestroy(kept), 0u);

  // The rows a renderer delivers to the target (these allocate nothing).
  std::vector<uint8_t> bytes(kSide * 3);
  std::vector<float> rgb(kSide * 3), rgba(kSide * 4), depths(kSide);
  for (uint32_t i = 0; i < kSide; ++i) {
    bytes[3 * i] = static_cast<uint8_t>(16 * i);
    rgb[3 * i + 1] = rgba[4 * i + 2] = i / 15.0f;
    rgba[4 * i + 3] = 0.5f;
    depths[i] = 2.0f + i;
  }
  const std::pair<const char *, std::function<VtStatus()>> rows[] = {
      {"VoScreenBufferWriteScan", [&] { return VoScreenBufferWriteScan(3, bytes.data()); }},
      {"VoScreenBufferWriteScanRGBFloat", [&] { return VoScreenBufferWriteScanRGBFloat(4, rgb.data()); }},
      {"VoScreenBufferWriteScanRGBAFloat", [&] { return VoScreenBufferWriteScanRGBAFloat(5, rgba.data()); }},
      {"VoScreenBufferStoreDepthRow", [&] { return VoScreenBufferStoreDepthRow(6, depths.data()); }}};
  for (const auto &[name, call] : rows) SweepAllocationFailures(Swept(name, call, [&] { return Picture(); }));
}

TEST_F(RenderProcedures, ShowingAndTheDepthRenderFailWithTheMemoryStatus) {
  ShowThroughRows();
  Render();
  RowDriver::Taken();
  SweptCall show = Swept(
      "VoScreenBufferShow", [&] { return VoScreenBufferShow(nullptr); }, [] { return RowDriver::Taken(); },
      [] { RowDriver::Taken(); });
  EXPECT_GT(SweepAllocationFailures(show).runs, 0u);
  ClearBuffer();
  SweptCall depth = Swept(
      "VoScreenBufferRenderDepth", [] { return VoScreenBufferRenderDepth(); }, [&] { return Picture(); },
      [&] { ClearBuffer(); });
  EXPECT_GT(SweepAllocationFailures(depth).runs, 0u);
}

TEST_F(RenderProcedures, FrameAveragingAndTheArchiveAnswerTheirRowRefusalAndTheNextCallTheSamePicture) {
  ShowThroughRows();
  Render();
  RowDriver::Taken();
  VtScreenBuffer *saved = VoScreenBufferCopy(buffer_), *source = VoScreenBufferCopy(buffer_);
  ASSERT_TRUE(saved != nullptr && source != nullptr);
  VtTypedValue grey{};
  grey.type = VtColourType;
  grey.value.v[0] = grey.value.v[1] = grey.value.v[2] = 0.5f;
  ASSERT_EQ(VoScreenBufferClear(source, VO_SB_COLOUR, &grey), 0u);
  // The row of bytes is the passes' own allocation; its failure is refused
  // with 0x20000012 and diagnostic 704 of the post-process module. The BMP
  // driver's frame answers the memory status, which the archive passes on.
  auto row_refused = [](VtStatus s) {
    return s == VO_STATUS_BAD_ARGUMENT || (s & 0xFFFFu) == VO_COND_NO_MEMORY;
  };
  SweptCall average = Swept(
      "VoPostprocessAverageFrames", [&] { return VoPostprocessAverageFrames(source, 1, 0, 1, 0, 4); },
      [&] { return Picture() + RowDriver::Taken(); },
      [&] {
        (void)VoScreenBufferCopyContents(buffer_, saved);
        RowDriver::Taken();
      });
  average.accepts = row_refused;
  average.exemption = "no row of bytes: refused with 0x20000012 and message 704";
  SweepAllocationFailures(average);
  const std::string path = ::testing::TempDir() + "procedures_archive.bmp";
  SweptCall archive = Swept(
      "VoPostprocessArchive", [&] { return VoPostprocessArchive("vodrvbmp", path.c_str()); },
      [&] {
        std::ifstream f(path, std::ios::binary);
        std::stringstream bytes;
        bytes << f.rdbuf();
        return bytes.str();
      },
      [&] { std::remove(path.c_str()); });
  archive.accepts = row_refused;
  archive.exemption = average.exemption;
  SweepAllocationFailures(archive);
  EXPECT_EQ(VoScreenBufferDestroy(saved), 0u);
  EXPECT_EQ(VoScreenBufferDestroy(source), 0u);
}

TEST_F(RenderProcedures, PixelListsFailWithTheMemoryStatusAndKeepWhatWasAdded) {
  VtPixelList *list = nullptr;
  auto drop = [&] {
    if (list != nullptr) VoPixelListDestroy(list);
    list = nullptr;
  };
  SweptCall create = Swept(
      "VoPixelListCreate", [&] { return Made(list = VoPixelListCreate()); }, nullptr, drop);
  EXPECT_GT(SweepAllocationFailures(create).runs, 0u);

  // Two runs on row 3, one below them, a second entry on a pixel.
  static const int32_t at[][2] = {{2, 3}, {3, 3}, {4, 3}, {9, 3}, {3, 4}, {3, 3}};
  std::vector<void *> entries;
  auto fresh = [&] {
    drop();
    list = VoPixelListCreate();
    ASSERT_NE(list, nullptr);
    entries.clear();
    for (size_t i = 0; i < std::size(at); ++i) entries.push_back(VoPixelListEntryNew(list));
  };
  auto walk = [&] {
    std::string s;
    VtPixelListIterator *it = VoPixelListIteratorCreate(list);
    int32_t x = 0, y = 0;
    void *entry = nullptr;
    uint32_t region = 0;
    while (it != nullptr && VoPixelListNext(it, &x, &y, &entry, &region) == 0) {
      const auto k = std::find(entries.begin(), entries.end(), entry) - entries.begin();
      s += std::to_string(x) + "," + std::to_string(y) + ":" + std::to_string(k) + "/" +
           std::to_string(region) + " ";
    }
    VoDeallocate(it);
    return s;
  };
  fresh();
  SweptCall add = Swept(
      "VoPixelListAdd",
      [&] {
        VtStatus st = 0;
        for (size_t i = 0; i < std::size(at) && st == 0; ++i)
          st = VoPixelListAdd(list, at[i][0], at[i][1], entries[i]);
        return st;
      },
      walk, fresh);
  EXPECT_GT(SweepAllocationFailures(add).runs, 0u);
  // A fresh list has no block of entries yet: the first entry takes one.
  drop();
  list = VoPixelListCreate();
  SweptCall entry_new = Swept(
      "VoPixelListEntryNew", [&] { return Made(VoPixelListEntryNew(list)); }, nullptr,
      [&] {
        drop();
        list = VoPixelListCreate();
      });
  EXPECT_GT(SweepAllocationFailures(entry_new).runs, 0u);
  VtPixelListIterator *it = nullptr;
  SweptCall iterator = Swept(
      "VoPixelListIteratorCreate", [&] { return Made(it = VoPixelListIteratorCreate(list)); }, nullptr,
      [&] {
        VoDeallocate(it);
        it = nullptr;
      });
  EXPECT_GT(SweepAllocationFailures(iterator).runs, 0u);
  drop();
}

TEST_F(RenderProcedures,
       TheAntialiasingSeedAndPropagatorFailWithTheMemoryStatusAndTheNextPassTheSamePicture) {
  ASSERT_EQ(VoScreenBufferAllocateData(buffer_, VO_SB_STENCIL), 0u);
  Render();
  VtTypedValue quiet = TypedBoolean(1);
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_QUIET, &quiet), 0u);
  VtScreenBuffer *saved = VoScreenBufferCopy(buffer_);
  ASSERT_NE(saved, nullptr);
  auto stencil = [&] {
    std::string s = Picture();
    for (uint32_t y = 0; y < kSide; ++y)
      for (uint32_t x = 0; x < kSide; ++x) {
        VtTypedValue v{};
        (void)VoScreenBufferGetPixel(buffer_, VO_SB_STENCIL, x, y, &v);
        s += static_cast<char>(v.value.u);
      }
    return s;
  };
  auto restore = [&] { (void)VoScreenBufferCopyContents(buffer_, saved); };
  SweptCall seed = Swept(
      "VoPostprocessFfaaSeed", [] { return VoPostprocessFfaaSeed(0.05f, 1, 1); }, stencil, restore);
  EXPECT_GT(SweepAllocationFailures(seed).runs, 0u);

  ASSERT_EQ(VoPostprocessFfaaSeed(0.05f, 0, 1), 0u);
  VoScreenBufferDestroy(saved);
  saved = VoScreenBufferCopy(buffer_);
  ASSERT_NE(saved, nullptr);
  ASSERT_EQ(VoRayTracerScenePrepare(), 0u);
  SweptCall propagate = Swept(
      "VoPostprocessFfaaPropagate", [] { return VoPostprocessFfaaPropagate(2, 0, 4.0, 3, 2, 0, 1, 0, 16); },
      stencil, restore);
  EXPECT_GT(SweepAllocationFailures(propagate).runs, 0u);
  EXPECT_EQ(VoRayTracerSceneRelease(), 0u);
  VoScreenBufferDestroy(saved);
}

}  // namespace
}  // namespace vo::test

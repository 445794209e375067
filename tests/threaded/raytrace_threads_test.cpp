// The ray tracer's passes on real worker threads, through the C interface:
// the same picture for 0, 1, 2, 4 and 8 workers, banded and even, in both
// passes and over scenes that reach shadow maps (nested renders on the
// workers), fog, transparency and the screen buffer's stencil; many renders
// on one-row bands; an interrupt and failing allocations ending a pass
// cleanly.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_view.h>

#include "support/current_screen_buffer.h"
#include "support/demo_scene.h"
#include "support/kernel_fixture.h"
#include "support/picture_record.h"
#include "support/test_support.h"
#include "threaded/targa_bytes.h"
#include "kernel/vosystem/kernel_memory.h"
#include "kernel/vosystem/threads.h"
#include "render/vorenray/vorenray.h"

namespace vo::test {
namespace {

constexpr uint32_t kWidth = 40, kHeight = 30;
constexpr uint32_t kOversampling = 0xc000e, kPixelMode = 0xc000f, kModeRgba = 0xc0005;

// Colour and stencil of every pixel of the target.
struct Picture {
  std::vector<float> colour, alpha;
  std::vector<uint32_t> stencil;
  bool operator==(const Picture &) const = default;
};

// The pixels where two pictures differ (at most a few), for a failure.
std::string Differences(const Picture &a, const Picture &b) {
  std::string out;
  int shown = 0;
  if (a.stencil.size() != b.stencil.size()) return " sizes differ";
  for (size_t i = 0; i < a.stencil.size() && shown < 6; ++i)
    if (a.stencil[i] != b.stencil[i] || a.alpha[i] != b.alpha[i] || a.colour[3 * i] != b.colour[3 * i] ||
        a.colour[3 * i + 1] != b.colour[3 * i + 1] || a.colour[3 * i + 2] != b.colour[3 * i + 2]) {
      out += " (" + std::to_string(i % kWidth) + "," + std::to_string(i / kWidth) + ") " +
             std::to_string(a.colour[3 * i]) + " vs " + std::to_string(b.colour[3 * i]) + " alpha " +
             std::to_string(a.alpha[i]) + " vs " + std::to_string(b.alpha[i]) + " stencil " +
             std::to_string(a.stencil[i]) + " vs " + std::to_string(b.stencil[i]);
      ++shown;
    }
  return out;
}

class ThreadedRayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    buffer_ = CurrentScreenBuffer(kWidth, kHeight, VO_SB_COLOUR | VO_SB_ALPHA | VO_SB_STENCIL);
    ASSERT_NE(buffer_, nullptr);
    ASSERT_EQ(ControlWordSet(VO_CONTROL_RAY_CHANNELS, VtFlags, VO_SB_COLOUR | VO_SB_STENCIL), 0u);
  }
  void TearDown() override {
    VoScreenBufferSet(nullptr);
    if (buffer_ != nullptr) VoScreenBufferDestroy(buffer_);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  // One pass with the worker count and job scheme given (bands of 4 rows
  // when banded).
  Picture Render(uint32_t code, int32_t workers, uint32_t scheme) {
    VtTypedValue v = TypedInt32(workers);
    EXPECT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
    EXPECT_EQ(ControlWordSet(VO_CONTROL_MT_JOB_SCHEME, VtEnum, scheme), 0u);
    EXPECT_EQ(ControlWordSet(VO_CONTROL_MT_BAND_HEIGHT, VtNat32, 4), 0u);
    Picture p;
    EXPECT_EQ(RenderInto(code, &p), 0u) << workers << " workers";
    return p;
  }

  // One pass into the cleared target; its status.
  VtStatus RenderInto(uint32_t code, Picture *p) {
    VtTypedValue clear{};
    clear.type = VtColourType;
    EXPECT_EQ(VoScreenBufferClear(buffer_, VO_SB_COLOUR, &clear), 0u);
    clear = TypedFloat(0);
    EXPECT_EQ(VoScreenBufferClear(buffer_, VO_SB_ALPHA, &clear), 0u);
    clear = TypedNat32(0);
    EXPECT_EQ(VoScreenBufferClear(buffer_, VO_SB_STENCIL, &clear), 0u);
    const VtStatus st = VoExecute(code);
    *p = Read();
    return st;
  }

  Picture Read() {
    Picture p;
    VtTypedValue size{};
    EXPECT_EQ(VoScreenBufferGetControl(buffer_, VO_SB_WIDTH, &size), 0u);
    const uint32_t width = size.value.u;
    EXPECT_EQ(VoScreenBufferGetControl(buffer_, VO_SB_HEIGHT, &size), 0u);
    const uint32_t height = size.value.u;
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) {
        VtTypedValue v{};
        EXPECT_EQ(VoScreenBufferGetPixel(buffer_, VO_SB_COLOUR, x, y, &v), 0u);
        p.colour.insert(p.colour.end(), v.value.v, v.value.v + 3);
        EXPECT_EQ(VoScreenBufferGetPixel(buffer_, VO_SB_ALPHA, x, y, &v), 0u);
        p.alpha.push_back(v.value.f);
        EXPECT_EQ(VoScreenBufferGetPixel(buffer_, VO_SB_STENCIL, x, y, &v), 0u);
        p.stencil.push_back(v.value.u);
      }
    return p;
  }

  // Both passes give, for every worker count and scheme, the picture of the
  // calling thread; the picture is not empty.
  void ExpectAlikeForAnyWorkerCount() {
    for (uint32_t code : {0x70001u, 0x70002u}) {
      const Picture reference = Render(code, 0, VO_MT_SCHEME_BANDED);
      float sum = 0;
      for (float c : reference.colour) sum += c;
      EXPECT_GT(sum, 0.0f);
      for (uint32_t scheme : {VO_MT_SCHEME_BANDED, VO_MT_SCHEME_EVEN})
        for (int32_t workers : {0, 1, 2, 4, 8}) {
          const Picture p = Render(code, workers, scheme);
          EXPECT_TRUE(p == reference) << std::hex << code << std::dec << ", " << workers
                                      << " workers, scheme " << scheme << ": " << Differences(p, reference);
        }
    }
  }

  VtScreenBuffer *buffer_ = nullptr;
};

TEST_F(ThreadedRayTest, TheDemoSceneIsTheSameForAnyWorkerCount) {
  DemoScene scene;
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  ExpectAlikeForAnyWorkerCount();
}

TEST_F(ThreadedRayTest, ShadowMapsFogAndTransparencyAreTheSameForAnyWorkerCount) {
  DemoOptions o;
  o.shadow_map = 64;  // maps rendered by the standard renderer on each worker
  o.fog = true;
  o.box_transparency = 0.5f;
  DemoScene scene(o);
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  ExpectAlikeForAnyWorkerCount();
}

// Lights never prepared before a threaded pass: their maps are rendered on
// the main thread before the workers start (the scanline renderer nested in
// the pass), and the picture is the calling thread's.
TEST_F(ThreadedRayTest, ShadowMapsOfUnpreparedLightsAreMadeBeforeTheWorkersStart) {
  DemoOptions o;
  o.shadow_map = 32;
  DemoScene scene(o);
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  const Picture threaded = Render(0x70001, 4, VO_MT_SCHEME_BANDED);
  EXPECT_TRUE(Render(0x70001, 0, VO_MT_SCHEME_BANDED) == threaded);
}

TEST_F(ThreadedRayTest, OversampledFloatRgbaOnASubViewportIsTheSameForAnyWorkerCount) {
  DemoScene scene;
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  ASSERT_EQ(ControlWordSet(kOversampling, VtNat32, 2), 0u);
  ASSERT_EQ(ControlWordSet(kPixelMode, VtEnum, kModeRgba), 0u);
  const uint32_t part[4] = {5, 30, 3, 24};
  ASSERT_EQ(VoViewSetViewport(nullptr, part), 0u);
  ExpectAlikeForAnyWorkerCount();
  uint32_t viewport[4];
  ASSERT_EQ(VoViewGetViewport(nullptr, viewport), 0u);
  EXPECT_EQ(std::memcmp(viewport, part, sizeof part), 0);
}

// The image the wrapped image colour reads, answered by the application's
// image-read callback; every read counted, and any made off the main thread.
struct Stripes {
  static inline std::atomic<int> reads{0}, off_main{0};
  static VtImage *Read(const char *name) {
    ++reads;
    if (ThreadIdentity() != 0) ++off_main;
    if (name == nullptr || std::strcmp(name, "stripes") != 0) return nullptr;
    VtImage *image = VoImageCreate();
    if (image == nullptr) return nullptr;
    image->width = 8;
    image->height = 4;
    if (VoImageAllocateData(image) != 0) return nullptr;
    for (uint32_t y = 0; y < 4; ++y)
      for (uint32_t x = 0; x < 8; ++x) {
        uint8_t *p = image->data + y * image->bytes_per_row + 3 * x;
        p[0] = static_cast<uint8_t>(30 * x);
        p[1] = static_cast<uint8_t>(60 * y);
        p[2] = 200;
      }
    return image;
  }
};

// A shader of the class set as the material's shader of the type.
VtShader *Shading(VtMaterial *m, uint32_t type, const char *name) {
  return VoMaterialSetShaderByPrototype(m, type, name) == 0 ? VoMaterialGetShader(m, type) : nullptr;
}

// The toolkit's classes that keep tables or read images: a wrapped image
// read through the application's callback (on the main thread alone), lite
// procedurals whose tables are drawn from the library's random numbers at
// their first use, and colours a shader stands in for (evaluated per point,
// never into the instance other workers read): plastic's specular colour, a
// lite checker's odd colour, a lite marble's vein colour and a lite fog's
// colour.
TEST_F(ThreadedRayTest, ImagesProceduralsAndShadeableSpecularsAreTheSameForAnyWorkerCount) {
  DemoScene scene;
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  Stripes::reads = Stripes::off_main = 0;
  ASSERT_EQ(VoCallBackSet(VO_DRIVER_IMAGE_READ, reinterpret_cast<VtProc>(&Stripes::Read)), 0u);
  VtShader *image = Shading(scene.material(1), VO_SHADER_COLOUR, "wrapped image");
  ASSERT_NE(image, nullptr);
  VtTypedValue name = TypedString("stripes");
  ASSERT_EQ(VoShaderSetArg(image, "file name", &name), 0u);
  VtShader *marble = Shading(scene.material(2), VO_SHADER_COLOUR, "marble");
  ASSERT_NE(marble, nullptr);
  VtShader *specular = VoShaderCreate(VO_SHADER_COLOUR, "solid clouds");
  ASSERT_NE(specular, nullptr);
  VtTypedValue shadeable{};
  shadeable.type = VtShaderColour;
  shadeable.value.p = specular;
  ASSERT_EQ(VoShaderSetArg(marble, "vein colour", &shadeable), 0u);
  ASSERT_EQ(VoShaderSetArg(VoMaterialGetShader(scene.material(0), VO_SHADER_REFLECTANCE), "specular colour",
                           &shadeable),
            0u);
  VtShader *checker = Shading(scene.material(0), VO_SHADER_COLOUR, "wrapped checker");
  ASSERT_NE(checker, nullptr);
  ASSERT_EQ(VoShaderSetArg(checker, "odd colour", &shadeable), 0u);
  VtShader *fog = VoShaderCreate(VO_SHADER_FOREGROUND, "fog");
  ASSERT_NE(fog, nullptr);
  ASSERT_EQ(VoShaderSetArg(fog, "fog colour", &shadeable), 0u);
  ASSERT_EQ(VoForegroundSet(fog), 0u);
  ExpectAlikeForAnyWorkerCount();
  ASSERT_EQ(VoForegroundSet(nullptr), 0u);
  EXPECT_EQ(VoShaderDestroy(fog), 0u);
  EXPECT_GT(Stripes::reads.load(), 0);
  EXPECT_EQ(Stripes::off_main.load(), 0);
  ASSERT_EQ(VoMaterialSetShaderByPrototype(scene.material(0), VO_SHADER_REFLECTANCE, "matte"), 0u);
  ASSERT_EQ(VoMaterialSetShaderByPrototype(scene.material(0), VO_SHADER_COLOUR, "plain"), 0u);
  EXPECT_EQ(VoShaderDestroy(specular), 0u);
}

// The Targa writer's files, byte for byte, for 0, 1, 2, 4 and 8 workers:
// rows reach the file in row order, once each, framed once.
TEST_F(ThreadedRayTest, TheTargaFileIsTheSameForAnyWorkerCount) {
  DemoOptions o;
  o.fog = true;
  DemoScene scene(o);
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
  VtDriverRecord *tga = VoDriverFindFromName("vodrvtga");
  ASSERT_NE(tga, nullptr);
  ASSERT_EQ(VoDriverSet(tga), 0u);
  ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_BAND_HEIGHT, VtNat32, 4), 0u);
  vo_test::TempDir dir;
  for (uint32_t code : {0x70001u, 0x70002u}) {
    std::vector<char> reference;
    for (int32_t workers : {0, 1, 2, 4, 8}) {
      VtTypedValue v = TypedInt32(workers);
      ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
      const std::string path = dir.File("w" + std::to_string(workers) + ".tga");
      FILE *f = std::fopen(path.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      v = TypedPointer(f);
      ASSERT_EQ(VoDriverSetControl(tga, VO_CONTROL_DRIVER_FILE, &v), 0u);
      EXPECT_EQ(VoExecute(code), 0u) << workers;
      v = TypedPointer(nullptr);
      ASSERT_EQ(VoDriverSetControl(tga, VO_CONTROL_DRIVER_FILE, &v), 0u);
      std::fclose(f);
      const std::vector<char> bytes = vo_test::TargaBytes(path);
      if (workers == 0) {
        reference = bytes;
        ASSERT_GT(reference.size(), 18u + kWidth);  // the header and more than a row
      } else {
        EXPECT_TRUE(bytes == reference) << std::hex << code << std::dec << ", " << workers << " workers";
      }
    }
  }
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
}

// Many renders at eight workers on bands of one row: the race detector's
// case (every row a work item, every worker busy at once).
TEST_F(ThreadedRayTest, TwentyRendersOnOneRowBandsGiveOnePicture) {
  DemoScene scene;
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  const Picture reference = Render(0x70001, 0, VO_MT_SCHEME_BANDED);
  const Picture full = Render(0x70002, 0, VO_MT_SCHEME_BANDED);
  ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_THREADED_BAND, VtNat32, 1), 0u);
  VtTypedValue v = TypedInt32(8);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
  ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_BAND_HEIGHT, VtNat32, 1), 0u);
  for (int i = 0; i < 20; ++i) {
    Picture p;
    ASSERT_EQ(RenderInto(i % 2 == 0 ? 0x70001 : 0x70002, &p), 0u) << i;
    EXPECT_TRUE(p == (i % 2 == 0 ? reference : full)) << i;
  }
}

// The octree a frame keeps, as text: a leaf by its words, an inner node by
// its children in order; and its memory count.
std::string KeptOctree() {
  const ray::RayContext *c = ray::MasterContext();
  std::string out = std::to_string(c->kept.node_bytes) + ":";
  auto dump = [&out](auto &self, const ray::Node *n) -> void {
    if (n == nullptr) return;
    if (n->tag == ray::kNodeLeaf) {
      const auto *leaf = reinterpret_cast<const ray::Leaf *>(n);
      out += "(" + std::to_string(leaf->count) + ":";
      for (uint32_t k = 0; k < leaf->count; ++k) out += std::to_string(leaf->words[k]) + ",";
      out += ")";
      return;
    }
    out += "[";
    for (const ray::Node *child : reinterpret_cast<const ray::Inner *>(n)->child) self(self, child);
    out += "]";
  };
  dump(dump, c->kept.root);
  return out;
}

// A new scene's first frame on 2 and 8 workers at once on one-row bands
// splits the one octree the calling thread's frame splits: the frame keeps
// the same nodes and memory count, and the picture is the same.
TEST_F(ThreadedRayTest, TheWorkersOfAFirstFrameSplitTheOctreeTheCallingThreadSplits) {
  DemoScene scene;
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_THREADED_BAND, VtNat32, 1), 0u);
  ray::KeptDrop(ray::MasterContext());
  const Picture reference = Render(0x70002, 0, VO_MT_SCHEME_BANDED);
  const std::string serial = KeptOctree();
  ASSERT_NE(ray::MasterContext()->kept.root, nullptr);
  EXPECT_EQ(ray::MasterContext()->kept.root->tag, ray::kNodeInner);
  for (int32_t workers : {2, 8}) {
    ray::KeptDrop(ray::MasterContext());
    VtTypedValue v = TypedInt32(workers);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
    ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_BAND_HEIGHT, VtNat32, 1), 0u);
    Picture p;
    ASSERT_EQ(RenderInto(0x70002, &p), 0u) << workers;
    EXPECT_TRUE(p == reference) << workers << " workers: " << Differences(p, reference);
    EXPECT_TRUE(KeptOctree() == serial) << workers << " workers";
  }
}

// Two coplanar squares facing the eye alike, the small red one listed
// first and the large blue one around it: every ray through the small one
// meets both at one distance and facing. With leaves split down to single
// cells, an oblique ray tests the large square in cells before the one
// holding the small square; still the lower object index (the first listed)
// wins, whatever the worker count and each worker's splits.
TEST_F(ThreadedRayTest, OfEqualHitsTheFirstListedObjectWinsForAnyWorkerCount) {
  static const float small[4][3] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  static const float large[4][3] = {{-4, -4, 0}, {4, -4, 0}, {4, 4, 0}, {-4, 4, 0}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtPrimitive *squares[2] = {};
  VtMaterial *materials[2] = {};
  for (int i = 0; i < 2; ++i) {
    VtTypedValue data[1] = {DemoPointer(const_cast<float(*)[3]>(i == 0 ? small : large))};
    squares[i] = VoPrimitiveCreatePolygon(4, 1, ids, data);
    materials[i] = DemoMaterial("constant", i == 0 ? 1.0f : 0.0f, 0, i == 0 ? 0.0f : 1.0f);
    ASSERT_NE(squares[i], nullptr);
    ASSERT_NE(materials[i], nullptr);
    ASSERT_EQ(VoPrimitiveSetMaterial(squares[i], materials[i]), 0u);
  }
  // A speck high above makes the grid's cells tall, so that the centre ray
  // crosses cells of the large square alone before it meets the small one
  // near its corner.
  static const float speck[3][3] = {{-0.5f, -0.5f, 200}, {-0.4f, -0.5f, 200}, {-0.5f, -0.4f, 200}};
  VtTypedValue speck_data[1] = {DemoPointer(const_cast<float(*)[3]>(speck))};
  VtPrimitive *all[3] = {squares[0], squares[1], VoPrimitiveCreatePolygon(3, 1, ids, speck_data)};
  ASSERT_NE(all[2], nullptr);
  VtReference *list = VoPrimitiveListCreate(3, all);
  ASSERT_EQ(VoPrimitiveListSet(list), 0u);
  ASSERT_EQ(ControlWordSet(VO_CONTROL_RAY_LEAF_LIMIT, VtNat32, 0), 0u);
  const float eye[3] = {-5, -4, 3}, reference[3] = {-0.6f, -0.6f, 0}, up[3] = {0, 0, 1};
  ASSERT_EQ(VoViewSetResolution(nullptr, kWidth, kHeight, 1.0), 0u);
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 30.0), 0u);
  for (int32_t workers : {0, 4}) {
    const Picture p = Render(0x70001, workers, VO_MT_SCHEME_BANDED);
    const size_t centre = kHeight / 2 * kWidth + kWidth / 2;
    EXPECT_GT(p.colour[3 * centre], 0.9f) << workers << " workers";  // red under the constant reflectance
    EXPECT_EQ(p.colour[3 * centre + 2], 0.0f) << workers << " workers";
  }
  VoPrimitiveListSet(nullptr);
  VoReferenceListDestroy(list, nullptr);
  VoPrimitiveDestroy(all[2]);
  for (int i = 0; i < 2; ++i) {
    VoPrimitiveDestroy(squares[i]);
    VoMaterialDestroy(materials[i]);
  }
}

// The image driver with a poll that asks to stop at its k-th call and rows
// and frame ends recorded (all on the main thread, which alone talks to the
// driver).
struct Interrupting {
  static inline int polls = 0, interrupt_at = -1, rows = 0, rows_after_end = 0, ends = 0;
  static VtStatus Poll() { return ++polls == interrupt_at ? VO_COND_INTERRUPTED : 0; }
  static VtStatus Row(uint32_t, void *) {
    ++rows;
    rows_after_end += ends;
    return 0;
  }
  static VtStatus End() { return ++ends, 0; }
};

// An interrupt at the driver's k-th poll, wherever it falls (the scene's
// preparation on the main thread, a worker's line asking the main thread to
// poll): 0x40 in the status and the sticky word, no row after the frame's
// end, the workers joined, the view the application's; the next render
// whole.
TEST_F(ThreadedRayTest, AnInterruptAtTheKthPollEndsTheThreadedPassWhole) {
  DemoScene scene;
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
  VtImage *image = VoImageCreate();
  ASSERT_NE(image, nullptr);
  image->width = kWidth;
  image->height = kHeight;
  ASSERT_EQ(VoImageAllocateData(image), 0u);
  VtDriverRecord *driver = VoDriverFindFromName("vodrvimg");
  ASSERT_NE(driver, nullptr);
  ASSERT_EQ(VoDriverSet(driver), 0u);
  const VtTypedValue target = TypedPointer(image);
  ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &target), 0u);
  ASSERT_EQ(VoDriverSetOperation(driver, VO_DRIVER_POLL, reinterpret_cast<VtProc>(&Interrupting::Poll)), 0u);
  ASSERT_EQ(VoDriverSetOperation(driver, VO_DRIVER_ROW_BYTES, reinterpret_cast<VtProc>(&Interrupting::Row)),
            0u);
  ASSERT_EQ(VoDriverSetOperation(driver, VO_DRIVER_END_FRAME, reinterpret_cast<VtProc>(&Interrupting::End)),
            0u);
  ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_THREADED_BAND, VtNat32, 1), 0u);
  ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_BAND_HEIGHT, VtNat32, 1), 0u);
  ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_POLL_INTERVAL, VtNat32, 2), 0u);
  VtTypedValue v = TypedInt32(4);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
  VtTypedValue sticky{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky), 0u);
  VtView *view = VoViewGet();
  for (int k : {1, 2, 5, 12}) {
    Interrupting::polls = Interrupting::rows = Interrupting::rows_after_end = Interrupting::ends = 0;
    Interrupting::interrupt_at = k;
    const VtStatus st = VoExecute(0x70001);
    EXPECT_EQ(st & VO_COND_INTERRUPTED, VO_COND_INTERRUPTED)
        << k << " status " << st << " polls " << Interrupting::polls << " rows " << Interrupting::rows;
    EXPECT_NE(*static_cast<uint32_t *>(sticky.value.p) & VO_COND_INTERRUPTED, 0u) << k;
    EXPECT_EQ(Interrupting::rows_after_end, 0) << k;
    EXPECT_LT(Interrupting::rows, static_cast<int>(kHeight)) << k;
    EXPECT_EQ(VoMultiThreadIsActive(), 0u) << k;
    EXPECT_EQ(VoViewGet(), view) << k;
  }
  Interrupting::rows = 0;
  Interrupting::interrupt_at = -1;
  EXPECT_EQ(VoExecute(0x70001), 0u);
  EXPECT_EQ(Interrupting::rows, static_cast<int>(kHeight));
  v = TypedPointer(nullptr);
  VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
  VoImageDestroy(image);
}

// Failing allocations (wherever they fall, main thread or worker) during a
// 16 x 8 pass at two workers into an image in memory: each run either
// answers a failure or, where a module goes on without what it could not
// make, still renders the picture; the farm is idle after each, the view the
// application's, and the library renders the same picture afterwards.
TEST_F(ThreadedRayTest, EveryAllocationFailingEndsATwoWorkerPassCleanly) {
  DemoScene scene({.slices = 8, .rings = 4});
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(16, 8), 0u);
  ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
  VtImage *image = VoImageCreate();
  ASSERT_NE(image, nullptr);
  image->width = 16;
  image->height = 8;
  ASSERT_EQ(VoImageAllocateData(image), 0u);
  ASSERT_EQ(VoDriverSet(VoDriverFindFromName("vodrvimg")), 0u);
  const VtTypedValue target = TypedPointer(image);
  ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &target), 0u);
  const size_t bytes = static_cast<size_t>(image->bytes_per_row) * 8;
  auto render = [&](std::vector<uint8_t> *out) {
    std::memset(image->data, 0, bytes);
    const VtStatus st = VoExecute(0x70001);
    out->assign(image->data, image->data + bytes);
    return st;
  };
  ASSERT_EQ(ControlWordSet(VO_CONTROL_MT_THREADED_BAND, VtNat32, 1), 0u);
  VtTypedValue v = TypedInt32(0);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
  std::vector<uint8_t> reference, picture;
  ASSERT_EQ(render(&reference), 0u);
  v = TypedInt32(2);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
  VtView *view = VoViewGet();
  int failures = 0;
  for (uint64_t n = 1; n < 100000; ++n) {
    AllocationFailureArm(n);
    const VtStatus st = render(&picture);
    const bool fired = AllocationFailureFired();
    AllocationFailureArm(0);
    EXPECT_EQ(VoViewGet(), view) << n;
    EXPECT_EQ(VoMultiThreadIsActive(), 0u) << n;
    if (!fired) {
      EXPECT_EQ(st, 0u);
      EXPECT_EQ(picture, reference) << "the run without a failure";
      break;
    }
    failures += st != 0;
    if (st == 0) {
      EXPECT_EQ(picture, reference) << "allocation " << n << " failed and the picture changed";
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(failures, 0);
  ASSERT_EQ(render(&picture), 0u);
  EXPECT_EQ(picture, reference);
  v = TypedPointer(nullptr);
  VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
  VoImageDestroy(image);
}

}  // namespace
}  // namespace vo::test

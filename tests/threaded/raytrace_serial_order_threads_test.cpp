// The ray tracer's passes on workers against the calling thread's alone,
// as the application sees them through the C interface: the status, the
// rows in order with their bytes, the frame, the driver's polls and the
// progress. Over a seeded random scene of triangles: an interrupt at any
// poll, also in bands traced one after another on the calling thread; a
// shadow map made at every picture; an octree memory limit below what the
// splits need, and one the first build cannot meet.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_geometry.h>
#include <vo/vo_multit.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "support/demo_scene.h"
#include "support/kernel_fixture.h"
#include "support/picture_record.h"
#include "kernel/vosystem/message_numbers.h"
#include "render/vorenray/vorenray.h"

namespace vo::test {
namespace {

constexpr uint32_t kWidth = 64, kHeight = 48;
constexpr uint32_t kPasses[2] = {0x70001, 0x70002};

void FromTheRayTracer(uint32_t module) { EXPECT_EQ(module, VO_MODULE_RAYTRACER); }

// Triangles of random corners in a cube about the origin, one mesh under
// one matte material, lit by an ambient light and a point light casting
// ray-traced shadows (so shadow rays walk the octree as eye rays do); with
// `map_light` also a spot light turned away from them casting shadows
// through a map, which holds nothing and so is made again at every picture.
class RandomTriangles {
 public:
  RandomTriangles(uint32_t seed, uint32_t count, bool map_light = false) {
    std::mt19937 draw(seed);
    std::uniform_real_distribution<float> centre(-1.5f, 1.5f), offset(-0.35f, 0.35f);
    std::vector<float> world;
    std::vector<int32_t> counts(count, 3), indices;
    for (uint32_t i = 0; i < count; ++i) {
      const float c[3] = {centre(draw), centre(draw), centre(draw)};
      for (int k = 0; k < 3; ++k) {
        indices.push_back(static_cast<int32_t>(world.size() / 3));
        for (int a = 0; a < 3; ++a) world.push_back(c[a] + offset(draw));
      }
    }
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {DemoPointer(world.data())};
    mesh_ = VoPrimitiveCreateMesh(count, nullptr, counts.data(), indices.data(), 1, ids, data);
    material_ = VoMaterialCreate();
    const VtTypedValue colour = DemoTriple(VtColourType, 0.8f, 0.6f, 0.3f);
    ok_ = mesh_ != nullptr && material_ != nullptr &&
          VoMaterialSetShaderByPrototype(material_, VO_SHADER_COLOUR, "plain") == 0 &&
          VoShaderSetArg(VoMaterialGetShader(material_, VO_SHADER_COLOUR), "colour", &colour) == 0 &&
          VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "matte") == 0 &&
          VoPrimitiveSetMaterial(mesh_, material_) == 0;
    VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point"),
             *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    if (ambient != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(ambient));
    if (point != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(point));
    const VtTypedValue location = DemoTriple(VtPoint, -3, 4, 5);
    const VtTypedValue shadows = TypedBoolean(true), traced = TypedInt32(0);
    ok_ = ok_ && point != nullptr && ambient != nullptr &&
          VoShaderSetArg(point, "location", &location) == 0 &&
          VoShaderSetArg(point, "shadows", &shadows) == 0 &&
          VoShaderSetArg(point, "shadow resolution", &traced) == 0;
    if (map_light) ok_ = ok_ && MapLightAdd();
    VtPrimitive *all[1] = {mesh_};
    list_ = ok_ ? VoPrimitiveListCreate(1, all) : nullptr;
    const float eye[3] = {0.5f, 1, 6}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ok_ = list_ != nullptr && VoPrimitiveListSet(list_) == 0 && VoLightListSet(lights_) == 0 &&
          VoViewSetResolution(nullptr, kWidth, kHeight, 1.0) == 0 &&
          VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 45.0) == 0 &&
          VoViewAutoClipping(nullptr) == 0;
  }
  ~RandomTriangles() {
    VoLightListSet(nullptr);
    if (lights_ != nullptr) VoShaderReferenceDestroy(lights_, 1);
    VoPrimitiveListSet(nullptr);
    if (list_ != nullptr) VoReferenceListDestroy(list_, nullptr);
    if (mesh_ != nullptr) VoPrimitiveDestroy(mesh_);
    if (material_ != nullptr) VoMaterialDestroy(material_);
  }
  bool ok() const { return ok_; }

 private:
  bool MapLightAdd() {
    VtShader *spot = VoShaderCreate(VO_SHADER_LIGHT, "spot");
    if (spot == nullptr) return false;
    lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(spot));
    const VtTypedValue location = DemoTriple(VtPoint, 0, 0, 8), away = DemoTriple(VtPoint, 0, 0, 20);
    const VtTypedValue shadows = TypedBoolean(true), side = TypedInt32(32);
    return VoShaderSetArg(spot, "location", &location) == 0 && VoShaderSetArg(spot, "to", &away) == 0 &&
           VoShaderSetArg(spot, "shadows", &shadows) == 0 &&
           VoShaderSetArg(spot, "shadow resolution", &side) == 0;
  }

  VtPrimitive *mesh_ = nullptr;
  VtMaterial *material_ = nullptr;
  VtReference *list_ = nullptr;
  VtReference *lights_ = nullptr;
  bool ok_ = false;
};

class RaySerialOrderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    // Every event in order; an interrupt at one poll only.
    PictureRecord::Reset();
    ASSERT_EQ(PictureRecord::Install(), 0u);
    PictureRecord::row_bytes = 3 * kWidth;
    PictureRecord::with_events = true;
    PictureRecord::interrupt_once = true;
    PictureRecord::on_progress = &FromTheRayTracer;
  }
  void TearDown() override {
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
    EXPECT_EQ(VoTerminate(), 0u);
    PictureRecord::Reset();
  }

  // A render on the worker count given, in bands of `band` rows; bands
  // lower than `least` are traced one after another on the calling thread.
  static Rendered Render(uint32_t code, int32_t workers, uint32_t band = 4, uint32_t least = 1) {
    EXPECT_EQ(ControlWordSet(VO_CONTROL_MT_BAND_HEIGHT, VtNat32, band), 0u);
    EXPECT_EQ(ControlWordSet(VO_CONTROL_MT_THREADED_BAND, VtNat32, least), 0u);
    return PictureRecord::Render(code, workers);
  }
};

// An image in memory as the current driver's target; the null driver back
// at the end.
class ImageTarget {
 public:
  ImageTarget() {
    image_ = VoImageCreate();
    if (image_ == nullptr) return;
    image_->width = kWidth;
    image_->height = kHeight;
    const VtTypedValue target = TypedPointer(image_);
    ok_ = VoImageAllocateData(image_) == 0 && VoDriverSet(VoDriverFindFromName("vodrvimg")) == 0 &&
          VoControlSet(VO_CONTROL_DRIVER_IMAGE, &target) == 0;
  }
  ~ImageTarget() {
    VtTypedValue none = TypedPointer(nullptr);
    VoControlSet(VO_CONTROL_DRIVER_IMAGE, &none);
    VoDriverSet(VoDriverFindFromName("vodrvnul"));
    if (image_ != nullptr) VoImageDestroy(image_);
  }
  bool ok() const { return ok_; }
  size_t Size() const { return static_cast<size_t>(image_->bytes_per_row) * kHeight; }
  std::vector<uint8_t> Bytes() const { return {image_->data, image_->data + Size()}; }
  void Fill(uint8_t value) { std::memset(image_->data, value, Size()); }

 private:
  VtImage *image_ = nullptr;
  bool ok_ = false;
};

// An octree memory limit the first build cannot meet: both passes answer
// out of memory with message 849 on any worker count and leave the image
// as the calling thread alone leaves it, its frame begun and ended.
TEST_F(RaySerialOrderTest, AFirstBuildOutOfMemoryLeavesTheCallingThreadsPicture) {
  RandomTriangles scene(11, 300);
  ASSERT_TRUE(scene.ok());
  ImageTarget target;
  ASSERT_TRUE(target.ok());
  // The table of 300 triangles takes 30,000 bytes (100 a triangle: 16 of
  // entry, 32 of hit record, 24 of box, 4 of word, 24 of projected corners).
  ASSERT_EQ(ControlWordSet(VO_CONTROL_RAY_MEMORY_LIMIT, VtNat32, 10000), 0u);
  for (uint32_t code : kPasses) {
    std::vector<uint8_t> reference;
    for (int32_t workers : {0, 2, 4}) {
      target.Fill(0x5a);
      vo_test::Recorded().clear();
      const Rendered seen = Render(code, workers);
      EXPECT_EQ(seen.status, VO_STATUS_NO_MEMORY) << std::hex << code << std::dec << ", " << workers;
      EXPECT_EQ(vo_test::WithMessage(messages::kRayBuildNoMemory).size(), 1u) << workers << " workers";
      if (workers == 0) {
        reference = target.Bytes();
        EXPECT_NE(reference[0], 0x5a);  // the frame's begin painted it
      } else {
        EXPECT_TRUE(target.Bytes() == reference) << std::hex << code << std::dec << ", " << workers;
      }
    }
  }
}

// The polls, rows and progress of a pass on workers, or in bands lower
// than the threaded minimum traced one after another on the calling
// thread, are the calling thread's in one band, in its order (the scene's
// gathering polls, then a poll before every second line, each row and its
// progress), also oversampled; an interrupt at any poll ends the picture at
// the same line with the same status.
TEST_F(RaySerialOrderTest, PollsRowsAndProgressFollowTheCallingThreadsOrderToAnInterrupt) {
  RandomTriangles scene(3, 200);
  ASSERT_TRUE(scene.ok());
  for (uint32_t oversampling : {1u, 2u}) {
    ASSERT_EQ(ControlWordSet(0xc000e, VtNat32, oversampling), 0u);
    for (uint32_t code : kPasses) {
      PictureRecord::interrupt_at = 0;
      const Rendered whole = Render(code, 0);
      ASSERT_EQ(whole.status, 0u);
      ASSERT_EQ(whole.rows.size(), kHeight);
      // 100 / 48 or 100 / 96 a line, summed (rounded past 100 oversampled): none past 100.
      const double most = *std::max_element(whole.progress.begin(), whole.progress.end());
      EXPECT_LE(most, 100.0);
      EXPECT_NEAR(most, 100.0, 1e-9);
      const uint32_t polls = whole.polls;
      // Two polls of the gathering (before and after its one mesh), then
      // one every second line: 2 + 48 / 2, or 2 + 96 / 2 oversampled.
      ASSERT_EQ(polls, 2 + kHeight * oversampling / 2);
      for (uint32_t at : {0u, 1u, 2u, 3u, polls / 2, polls}) {
        PictureRecord::interrupt_at = at;
        const Rendered reference = Render(code, 0);
        if (at > 0) {
          EXPECT_EQ(reference.status, VO_COND_INTERRUPTED) << at;
        }
        struct Bands {
          int32_t workers;
          uint32_t band, least;  // band height, least band of a threaded pass
        };
        for (const auto &[workers, band, least] :
             {Bands{1, 4, 1}, Bands{3, 4, 1}, Bands{8, 1, 1}, Bands{8, 3, 4}}) {
          const Rendered seen = Render(code, workers, band, least);
          EXPECT_TRUE(seen == reference)
              << std::hex << code << std::dec << ", oversampling " << oversampling << ", interrupt at poll "
              << at << ", " << workers << " workers in bands of " << band << " (least " << least
              << "):" << PictureRecord::Difference(seen, reference);
        }
      }
    }
  }
}

// A shadow map made at every picture is made once for the picture, with
// the polls of its render, whether the picture is traced whole, in bands
// on workers, or in bands one after another on the calling thread; an
// interrupt at any of the first polls ends the picture alike.
TEST_F(RaySerialOrderTest, AShadowMapIsMadeOnceForThePictureWhateverItsBands) {
  RandomTriangles scene(7, 100, true);
  ASSERT_TRUE(scene.ok());
  for (uint32_t code : kPasses) {
    PictureRecord::interrupt_at = 0;
    const Rendered whole = Render(code, 0);
    ASSERT_EQ(whole.status, 0u);
    // Made again at the next picture: it held nothing.
    EXPECT_EQ(Render(code, 0), whole);
    for (uint32_t at : {0u, 1u, 2u, 3u, 4u, 5u}) {
      PictureRecord::interrupt_at = at;
      const Rendered reference = Render(code, 0);
      for (uint32_t least : {1u, 4u}) {
        const Rendered seen = Render(code, 8, 2, least);
        EXPECT_TRUE(seen == reference)
            << std::hex << code << std::dec << ", interrupt at poll " << at << ", least band " << least << ":"
            << PictureRecord::Difference(seen, reference);
      }
    }
  }
}

// The octree's memory count with only its root leaf (the table, the grid
// and the root's words), and with every split a whole picture made.
struct IndexBytes {
  uint64_t root = 0, grown = 0;
};
IndexBytes IndexMeasured() {
  IndexBytes b;
  ray::RayContext *c = ray::MasterContext();
  ray::KeptDrop(c);
  EXPECT_EQ(VoExecute(0x70002), 0u);
  b.grown = c->kept.node_bytes;
  ray::KeptDrop(c);
  EXPECT_EQ(VoRayTracerScenePrepare(), 0u);
  b.root = c->memory_used;
  VoRayTracerSceneRelease();
  ray::KeptDrop(c);
  return b;
}

// An octree memory limit below what the picture's splits need, on 2, 5
// and 8 workers splitting one octree: at the root leaf's count and half
// the splits the octree is built again many times (message 531) and the
// picture is whole; at an eighth some ray's own walk does not fit (message
// 850) and the picture ends at its line. Every frame gives the calling
// thread's status, rows, polls and progress.
TEST_F(RaySerialOrderTest, UnderAMemoryLimitWorkersGiveTheCallingThreadsStatusAndPicture) {
  RandomTriangles scene(5, 300);
  ASSERT_TRUE(scene.ok());
  const IndexBytes b = IndexMeasured();
  ASSERT_GT(b.grown, 0u);
  for (uint64_t share : {2, 8}) {
    ASSERT_EQ(
        ControlWordSet(VO_CONTROL_RAY_MEMORY_LIMIT, VtNat32, static_cast<uint32_t>(b.root + b.grown / share)),
        0u);
    for (uint32_t code : kPasses) {
      vo_test::Recorded().clear();
      const Rendered one = Render(code, 0);
      EXPECT_GT(vo_test::WithMessage(messages::kRaySplitNoMemory).size(), 0u);
      if (share == 2) {
        EXPECT_EQ(one.status, 0u) << std::hex << code;
        EXPECT_EQ(one.rows.size(), kHeight);
      } else {
        EXPECT_EQ(one.status, VO_STATUS_NO_MEMORY) << std::hex << code;
        EXPECT_EQ(vo_test::WithMessage(messages::kRayRebuildNoMemory).size(), 1u);
        EXPECT_LT(one.rows.size(), kHeight);
      }
      for (int32_t workers : {2, 5, 8})
        for (int frame = 0; frame < 3; ++frame) {
          const Rendered seen = Render(code, workers, 1);
          EXPECT_TRUE(seen == one) << std::hex << code << std::dec << ", limit share " << share << ", "
                                   << workers << " workers, frame " << frame << ":"
                                   << PictureRecord::Difference(seen, one);
        }
    }
  }
}

}  // namespace
}  // namespace vo::test

// What frames of the same scene leave behind: the kernel's live blocks and
// the process's resident size over many frames, display lists only where
// they can be replayed, and an image file that cannot be read.
#include <malloc.h>

#include <algorithm>
#include <string>

#include "backends/voopengl/render_fixture.h"

namespace vo::test {
namespace {

constexpr uint32_t kShareLists = 0x740004;

// A square grid of n x n cells, two triangles each, facing +z, one mesh.
VtPrimitive *Grid(int n) {
  std::vector<std::array<float, 3>> xyz, up;
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) {
      xyz.push_back({-1.0f + 2.0f * static_cast<float>(i) / static_cast<float>(n),
                     -1.0f + 2.0f * static_cast<float>(j) / static_cast<float>(n), 0.0f});
      up.push_back({0, 0, 1});
    }
  std::vector<int32_t> counts, indices;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const int a = j * (n + 1) + i;
      counts.insert(counts.end(), {3, 3});
      indices.insert(indices.end(), {a, a + 1, a + n + 2, a, a + n + 2, a + n + 1});
    }
  const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  const VtTypedValue data[] = {PropertyRecord(xyz.data()), PropertyRecord(up.data())};
  return VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(), indices.data(),
                               2, ids, data);
}

bool UnderAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

class FrameMemory : public Render {
 protected:
  // The grid with the matte material as the scene, display lists asked for
  // every mesh of 20 polygons or more.
  VtPrimitive *GridScene(int n) {
    VtPrimitive *grid = Grid(n);
    EXPECT_NE(grid, nullptr);
    if (grid == nullptr) return nullptr;
    primitives_.push_back(grid);
    EXPECT_EQ(VoPrimitiveSetMaterial(grid, matte_), 0u);
    Scene({grid});
    c_->display_list_mode = 1;
    return grid;
  }
  // The unreadable-file warning posted (one is).
  static const Posted &Unreadable() {
    return *std::find_if(g_posted.begin(), g_posted.end(),
                         [](const Posted &p) { return p.message == messages::kOpenGLImageUnreadable; });
  }
  static void ShareLists(bool on) {
    const VtTypedValue v = TypedBoolean(on);
    ASSERT_EQ(VoControlSet(kShareLists, &v), 0u);
  }
};

TEST_F(FrameMemory, FramesOfTheSameSceneHoldNoMoreThanTheSecond) {
  // Target mode 0 without shared lists: every frame has a share group of
  // its own that dies at image end. Display lists remade in it every frame
  // were work lost, and at 1024 x 768 their coming and going kept the heap
  // growing by megabytes a frame.
  ShareLists(false);
  target_ = ImageTarget(1024, 768);
  VtPrimitive *grid = GridScene(70);  // 9 800 triangles
  ASSERT_NE(grid, nullptr);
  // malloc's sliding mmap threshold keeps freed framebuffer-sized blocks in
  // the heap now and then (a step of about 1.3 MiB); pinned, the resident
  // size follows what is held.
  (void)mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  g_posted.clear();
  const std::vector<Footprint> frames =
      FootprintsOf(50, [](int) { EXPECT_EQ(VoExecute(VO_EXECUTE_OPENGL_RENDER), 0u); });
  for (size_t i = 2; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(frames[i].live.blocks, frames[1].live.blocks);
    EXPECT_EQ(frames[i].live.bytes, frames[1].live.bytes);
  }
  // No list is made in a group that dies with its frame, so none is dropped.
  const VtOpenGLPrimitiveData *record = opengl::RecordOf(grid);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->display_list, 0u);
  EXPECT_EQ(CountPosted(messages::kOpenGLNamesDropped), 0);
  // The sanitizer's quarantine holds freed blocks back: the resident size
  // says nothing of ours there.
  if (!UnderAddressSanitizer()) {
    EXPECT_LT(frames[49].resident - frames[9].resident, int64_t{1} << 20);
  }

  // With shared lists the group outlives the frame: the list is made once
  // and replayed, giving the same picture.
  const std::vector<uint8_t> unlisted(target_->data, target_->data + 1024 * 3 * 768);
  ShareLists(true);
  ASSERT_EQ(VoExecute(VO_EXECUTE_OPENGL_RENDER), 0u);
  const uint32_t list = record->display_list;
  EXPECT_NE(list, 0u);
  ASSERT_EQ(VoExecute(VO_EXECUTE_OPENGL_RENDER), 0u);
  EXPECT_EQ(record->display_list, list);
  EXPECT_TRUE(std::equal(unlisted.begin(), unlisted.end(), target_->data));
}

TEST_F(FrameMemory, AnUnreadableTextureFileLeavesTheLayerUntexturedWithAWarningNamingIt) {
  ImagesByName::Install({});  // no file can be read
  VtShader *picture = Shader(VO_SHADER_COLOUR, "wrapped image");
  Text(picture, "file name", "missing paint");
  VtShader *mask = Shader(VO_SHADER_TRANSPARENCY, "wrapped image");
  Text(mask, "file name", "missing mask");
  VtPrimitive *square = Square(1.0f);
  ASSERT_EQ(VoPrimitiveSetMaterial(square, Material({picture, Shader(VO_SHADER_REFLECTANCE, "matte")})), 0u);
  Scene({square});
  g_posted.clear();
  // The frame is drawn, its status the warning bit alone.
  EXPECT_EQ(VoExecute(VO_EXECUTE_OPENGL_RENDER), uint32_t{VO_CLASS_WARNING});
  ASSERT_EQ(CountPosted(messages::kOpenGLImageUnreadable), 1);
  EXPECT_EQ(Unreadable().status, uint32_t{VO_CLASS_WARNING});
  EXPECT_EQ(Unreadable().strings, (std::vector<std::string>{"wrapped image", "missing paint"}));
  const VtOpenGLPrimitiveData *record = opengl::RecordOf(square);
  ASSERT_NE(record, nullptr);
  ASSERT_NE(record->material_cache, nullptr);
  const VtGLMaterialRecord *layer = record->material_cache->record;
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->texture, 0u);
  EXPECT_EQ(layer->kind & 1u, 0u);
  EXPECT_NE(Pixel(kW / 2, kH / 2), Pixel(0, 0));  // the square drawn untextured

  // An unreadable transparency image names its file too; the cache is made
  // once, so a later frame of the same material reads nothing again.
  VtPrimitive *masked = Square(0.5f, 0.5f);
  ASSERT_EQ(VoPrimitiveSetMaterial(masked, Material({PlainColour(1, 0, 0), mask})), 0u);
  (void)VoPrimitiveListSet(nullptr);
  (void)VoPrimitiveReferenceListDestroy(scene_);
  Scene({square, masked});
  g_posted.clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_OPENGL_RENDER), uint32_t{VO_CLASS_WARNING});
  ASSERT_EQ(CountPosted(messages::kOpenGLImageUnreadable), 1);
  EXPECT_EQ(Unreadable().strings, (std::vector<std::string>{"wrapped image", "missing mask"}));
  g_posted.clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_OPENGL_RENDER), 0u);
  EXPECT_EQ(CountPosted(messages::kOpenGLImageUnreadable), 0);
}

}  // namespace
}  // namespace vo::test

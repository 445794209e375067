// VoTerminate gives back what the application made and did not destroy:
// one object of every kind the library hands out is made and left alive,
// and the terminate must leave nothing behind. Under the sanitizers the
// leak check at the program's exit is the assertion; a handle kept past
// the terminate is dead, and its destroy frees nothing.

#include <gtest/gtest.h>

#include <cstdio>

#include <vo/vo_api.h>
#include <vo/vo_d3d.h>

#include "support/scene_args.h"

namespace {

// Everything the application holds; each member is left for the terminate.
struct Held {
  VtShader *colour = nullptr, *light = nullptr, *background = nullptr;
  VtMaterial *material = nullptr;
  VtImage *image = nullptr, *target = nullptr;
  VtPrimitive *primitive = nullptr;
  VtReference *list = nullptr, *lights = nullptr;
  VtView *view = nullptr;
  VtTransform *transform = nullptr;
  VtScreenBuffer *screen = nullptr;
  VtNPREdge *edge = nullptr;
  VtNPRBackground *paper = nullptr;
  VtPixelList *pixels = nullptr;
  VtWindow *window = nullptr;
  VtTexture *texture = nullptr;
  VtOpenGLProceduralClass *procedural = nullptr;
};

VtTypedValue Pointer(void *p) {
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = p;
  return v;
}

VtImage *SizedImage(int32_t width, int32_t height) {
  VtImage *image = VoImageCreate();
  if (image == nullptr) return nullptr;
  image->width = width;
  image->height = height;
  EXPECT_EQ(VoImageAllocateData(image), 0u);
  return image;
}

// The scene: a shader class of the application's, shaders, a material wearing them, a triangle that wears the
// material, a list of it, a light list, an image a texture reads.
void SceneMake(Held *h) {
  const float corners[3][3] = {{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}};
  const uint32_t world = VO_VERT_WORLD;
  VtTypedValue data = SceneRecord(corners);
  const char *strings[] = {"test left", "colour"};
  const uint32_t label = 1;
  EXPECT_EQ(VoStringTableCreate("vxs_test_left_colour", 2, strings), 0u);
  EXPECT_EQ(VoShaderPrototypeCreate(VO_SHADER_COLOUR, "vxs_test_left_colour", 0, 1, &label), 0u);
  h->colour = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  h->light = VoShaderCreate(VO_SHADER_LIGHT, "distant");
  h->background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  h->material = VoMaterialCreate();
  ASSERT_NE(h->material, nullptr);
  EXPECT_EQ(VoMaterialSetShaderByPrototype(h->material, VO_SHADER_REFLECTANCE, "matte"), 0u);
  h->primitive = VoPrimitiveCreatePolygon(3, 1, &world, &data);
  ASSERT_NE(h->primitive, nullptr);
  EXPECT_EQ(VoPrimitiveSetMaterial(h->primitive, h->material), 0u);
  h->list = VoPrimitiveListCreate(1, &h->primitive);
  h->lights = VoShaderReferenceCreate(h->light);
  EXPECT_EQ(VoLightListSet(h->lights), 0u);
  h->image = SizedImage(8, 8);
  h->texture = VoTextureCreate(h->image, 3);
  EXPECT_TRUE(h->colour != nullptr && h->light != nullptr && h->background != nullptr && h->list != nullptr &&
              h->lights != nullptr && h->image != nullptr && h->texture != nullptr);
}

// Views, transforms, buffers, NPR records and pixel lists.
void RecordsMake(Held *h) {
  const float points[6] = {0, 0, 0, 1, 1, 0};
  const VtColour white = {1, 1, 1};
  h->view = VoViewCreate();
  h->transform = VoTransformCreate();
  h->screen = VoScreenBufferCreate();
  h->edge = VoNPREdgeCreateFromPoints(points, 2, h->primitive, 0);
  h->paper = VoNPRBackgroundCreate(h->image, 4, 4, VO_NPR_BACKGROUND_STRETCHED, &white);
  h->pixels = VoPixelListCreate();
  EXPECT_TRUE(h->view != nullptr && h->transform != nullptr && h->screen != nullptr && h->edge != nullptr &&
              h->paper != nullptr && h->pixels != nullptr);
}

// A desktop window with an OpenGL context on it, one on an image, and the
// Direct3D back end's render window over the same desktop window.
void DevicesMake(Held *h) {
  ASSERT_EQ(VoDesktopSetMode(64, 48, 32), 0u);
  h->window = VoDesktopWindowCreate(4, 4, 16, 8);
  ASSERT_NE(h->window, nullptr);
  h->target = SizedImage(8, 8);
  EXPECT_EQ(VoOGLDrvWindowInitialise(h->window, 0), 0u);
  EXPECT_EQ(VoOGLDrvImageInitialise(h->target, 0), 0u);
  h->procedural = VoOpenGLProceduralClassCreate();
  EXPECT_NE(h->procedural, nullptr);
  VtTypedValue window = Pointer(h->window);
  EXPECT_EQ(VoControlSet(VO_CONTROL_D3D_WINDOW, &window), 0u);
  EXPECT_EQ(VoD3DLightListCreate(h->lights), 0u);
  EXPECT_EQ(VoD3DPrimListCreate(h->list), 0u);
  EXPECT_EQ(VoD3DBackgroundCreate(h->background), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE), 0u);
}

// An object file opened for writing with one record in it, left open.
void ObjectFileOpen(std::FILE *file) {
  ASSERT_EQ(VoObjectOpen(file, 2), 0u);
  VtObjectValue v{};
  v.type = VO_OBJECT_INT32;
  v.value.i = 1234;
  EXPECT_EQ(VoObjectWrite(file, &v), 0u);
}

// The file read back by a library started anew: the record, then the end
// record the terminate wrote.
void ObjectFileExpectComplete(std::FILE *file) {
  std::rewind(file);
  ASSERT_EQ(VoInitialise(), 0u);
  ASSERT_EQ(VoObjectOpen(file, 1), 0u);
  VtObjectValue v{};
  ASSERT_EQ(VoObjectRead(file, &v), 0u);
  EXPECT_EQ(v.type, uint32_t{VO_OBJECT_INT32});
  EXPECT_EQ(v.value.i, 1234);
  ASSERT_EQ(VoObjectRead(file, &v), 0u);
  EXPECT_EQ(v.type, uint32_t{VO_OBJECT_END});
  EXPECT_EQ(VoObjectClose(file), 0u);
  EXPECT_EQ(VoTerminate(), 0u);
}

// Every destroy of a handle kept past the terminate answers as before
// VoInitialise (not initialised: no kernel exists) and frees nothing
// (under the sanitizers a read of a freed record would stop the program).
void DestroysAfterTerminateExpectNotStarted(const Held &h) {
  const VtStatus not_started = VO_STATUS_NOT_INITIALISED;
  EXPECT_EQ(VoShaderDestroy(h.colour), not_started);
  EXPECT_EQ(VoShaderDestroy(h.light), not_started);
  EXPECT_EQ(VoMaterialDestroy(h.material), not_started);
  EXPECT_EQ(VoTextureDestroy(h.texture), not_started);
  EXPECT_EQ(VoImageDestroy(h.image), not_started);
  EXPECT_EQ(VoPrimitiveDestroy(h.primitive), not_started);
  EXPECT_EQ(VoPrimitiveReferenceListDestroy(h.list), not_started);
  EXPECT_EQ(VoViewDestroy(h.view), not_started);
  EXPECT_EQ(VoTransformDestroy(h.transform), not_started);
  EXPECT_EQ(VoScreenBufferDestroy(h.screen), not_started);
  EXPECT_EQ(VoNPREdgeDestroy(h.edge), not_started);
  EXPECT_EQ(VoNPRBackgroundDestroy(h.paper), not_started);
  EXPECT_EQ(VoPixelListDestroy(h.pixels), not_started);
  EXPECT_EQ(VoDesktopWindowDestroy(h.window), not_started);
  EXPECT_EQ(VoOpenGLProceduralClassDestroy(h.procedural), not_started);
  EXPECT_EQ(VoD3DRenderWindowDestroy(), VO_STATUS_DEBUG_NOT_STARTED);  // takes no object: its own answer
}

TEST(Terminate, GivesBackEverythingTheApplicationLeftAndClosesItsObjectFiles) {
  ASSERT_EQ(VoInitialise(), 0u);
  Held held;
  SceneMake(&held);
  RecordsMake(&held);
  DevicesMake(&held);
  std::FILE *file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ObjectFileOpen(file);
  EXPECT_EQ(VoTerminate(), 0u);
  DestroysAfterTerminateExpectNotStarted(held);
  ObjectFileExpectComplete(file);
  std::fclose(file);
}

}  // namespace

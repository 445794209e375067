// The allocation-failure sweep over the procedures that draw through the
// hardware back ends: the OpenGL back end's whole render and the pieces of
// a frame (view, background, lights, material, the primitive list and one
// primitive), the OpenGL targets' frames, and the Direct3D back end's
// lists, render window, frame, background, orbit, copy and texture images.
// The outcome is the picture the driver's image or the window holds.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include "host/gl_layer.h"
#include "out_of_memory/procedures_scene.h"

namespace vo::test {
namespace {

std::string ImagePixels(const VtImage *image) {
  if (image == nullptr || image->data == nullptr) return "no pixels";
  std::string s = std::to_string(image->width) + "x" + std::to_string(image->height) + ":";
  s.append(reinterpret_cast<const char *>(image->data),
           static_cast<size_t>(image->bytes_per_row) * image->height);
  return s;
}

// What the OpenGL targets answer when a target cannot be made: 2 with
// diagnostic 1048; the OpenGL back end passes it on.
bool TargetRefusalOrMemory(VtStatus s) {
  return s != 0 && ((s & 0xFFu) == 2 || (s & 0xFFFFu) == VO_COND_NO_MEMORY);
}

class OpenGLProcedures : public ProcedureSweep {
 protected:
  void SetUp() override {
    ProcedureSweep::SetUp();
    ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
    ASSERT_TRUE(platform::gl::DisplayStart());
    image_ = VoImageCreate();
    ASSERT_NE(image_, nullptr);
    image_->width = image_->height = kSide;
    VtDriverRecord *d = VoDriverFindFromName("vodrvimg");
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(VoDriverSet(d), 0u);
    const VtTypedValue v = TypedPointer(image_);
    ASSERT_EQ(VoDriverSetControl(d, VO_CONTROL_DRIVER_IMAGE, &v), 0u);
    ASSERT_EQ(VoOpenGLInitialise(), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(VoOpenGLTerminate(), 0u);
    VoDriverSet(VoDriverFindFromName("vodrvnul"));
    if (image_ != nullptr) VoImageDestroy(image_);
    ProcedureSweep::TearDown();
  }
  // A frame begun with the view set, as a render sets it up before drawing.
  static VtStatus FrameOpen() {
    VtStatus st = VoOpenGLImageBegin();
    if (st == 0) st = VoOpenGLViewSet(nullptr);
    return st;
  }
  // What the frame's colour buffer holds.
  static std::string FramePixels() {
    std::string s(size_t{kSide} * kSide * 3, '\0');
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSide, kSide, GL_RGB, GL_UNSIGNED_BYTE, s.data());
    return s;
  }
  // A piece of a frame swept inside a frame of its own: each run starts
  // from a new frame with the view set and the background drawn.
  SweptCall Piece(std::string name, std::function<VtStatus()> piece) {
    SweptCall c = Swept(
        std::move(name), std::move(piece), [] { return FramePixels(); },
        [] {
          (void)VoOpenGLImageEnd();
          (void)FrameOpen();
          (void)VoOpenGLBackgroundSet(nullptr);
        });
    return c;
  }
  VtImage *image_ = nullptr;
};

TEST_F(OpenGLProcedures, TheWholeRenderAndItsFrameFailWithTheirStatusAndTheNextRenderTheSamePicture) {
  SweptCall render = Swept(
      "VoOpenGLRender", [] { return VoOpenGLRender(); }, [&] { return ImagePixels(image_); });
  render.accepts = TargetRefusalOrMemory;
  render.exemption = "a target that cannot be made: 2 with message 1048";
  EXPECT_GT(SweepAllocationFailures(render).runs, 0u);
  SweptCall begin = Swept(
      "VoOpenGLImageBegin", [] { return VoOpenGLImageBegin(); }, nullptr, [] { (void)VoOpenGLImageEnd(); });
  begin.accepts = TargetRefusalOrMemory;
  begin.exemption = render.exemption;
  EXPECT_GT(SweepAllocationFailures(begin).runs, 0u);
}

TEST_F(OpenGLProcedures, ThePiecesOfAFrameFailWithTheMemoryStatusAndTheNextCallDrawsTheSame) {
  ASSERT_EQ(FrameOpen(), 0u);
  ASSERT_EQ(VoOpenGLBackgroundSet(nullptr), 0u);
  SweepAllocationFailures(Piece("VoOpenGLBackgroundSet", [] { return VoOpenGLBackgroundSet(nullptr); }));
  SweepAllocationFailures(Piece("VoOpenGLLightListSet", [] { return VoOpenGLLightListSet(nullptr); }));
  SweepAllocationFailures(Piece("VoOpenGLMaterialSet", [&] { return VoOpenGLMaterialSet(materials_[1]); }));
  // The first drawing of a primitive makes its records; undoing a run
  // throws them away, so that every run makes them again.
  auto forget = [&] {
    (void)VoOpenGLPrimitiveListInvalidate(scene_, 0xFFFFFFFFu);
    (void)VoOpenGLImageEnd();
    (void)FrameOpen();
    (void)VoOpenGLBackgroundSet(nullptr);
  };
  SweptCall list = Piece("VoOpenGLPrimitiveListRender", [&] {
    VtStatus st = VoOpenGLLightListSet(nullptr);
    return st | VoOpenGLPrimitiveListRender(nullptr);
  });
  list.undo = forget;
  EXPECT_GT(SweepAllocationFailures(list).runs, 0u);
  SweptCall one = Piece("VoOpenGLPrimitiveRender", [&] { return VoOpenGLPrimitiveRender(box_); });
  one.undo = forget;
  EXPECT_GT(SweepAllocationFailures(one).runs, 0u);
  EXPECT_EQ(VoOpenGLImageEnd(), 0u);
}

TEST_F(OpenGLProcedures, TheTargetsFramesAnswerTheirRefusalAndTheNextFrameTheSamePicture) {
  SweptCall target = Swept(
      "VoOGLDrvImageInitialise", [&] { return VoOGLDrvImageInitialise(image_, 0); }, nullptr,
      [&] { (void)VoOGLDrvImageTerminate(image_); });
  target.accepts = TargetRefusalOrMemory;
  target.exemption = "a target that cannot be made: 2 with message 1048";
  EXPECT_GT(SweepAllocationFailures(target).runs, 0u);
  SweptCall frame = Swept(
      "VoOGLDrvImageBegin",
      [] {
        VtStatus st = VoOGLDrvImageBegin();
        if (st == 0) {
          glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
          glClear(GL_COLOR_BUFFER_BIT);
        }
        return st | VoOGLDrvImageEnd();
      },
      [&] { return ImagePixels(image_); });
  frame.accepts = TargetRefusalOrMemory;
  frame.exemption = "no target made current: 2 with messages 1048 and 1052";
  EXPECT_GT(SweepAllocationFailures(frame).runs, 0u);
}

TEST_F(OpenGLProcedures, WindowTargetsAndTheirSwapAnswerTheirRefusalAndTheNextCallTheSameScreen) {
  ASSERT_EQ(VoDesktopSetMode(64, 48, 32), 0u);
  VtWindow *window = VoDesktopWindowCreate(4, 4, kSide, kSide);
  ASSERT_NE(window, nullptr);
  VtDriverRecord *d = VoDriverFindFromName("vodrvwin");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(VoDriverSet(d), 0u);
  const VtTypedValue w = TypedPointer(window);
  ASSERT_EQ(VoDriverSetControl(d, VO_CONTROL_DRIVER_WINDOW, &w), 0u);
  SweptCall target = Swept(
      "VoOGLDrvWindowInitialise", [&] { return VoOGLDrvWindowInitialise(window, 0); }, nullptr,
      [&] { (void)VoOGLDrvWindowTerminate(window); });
  target.accepts = TargetRefusalOrMemory;
  target.exemption = "a target that cannot be made: 2 with message 1048";
  EXPECT_GT(SweepAllocationFailures(target).runs, 0u);

  // Targets kept from frame to frame; the swap shows the frame on the screen.
  const VtTypedValue kept = TypedWord(VtEnum, 1);
  ASSERT_EQ(VoControlSet(0x740001, &kept), 0u);
  ASSERT_EQ(VoOGLDrvWindowInitialise(window, 0), 0u);
  ASSERT_EQ(VoOGLDrvImageBegin(), 0u);
  glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  SweptCall swap = Swept(
      "VoOGLDrvSwapBuffers", [] { return VoOGLDrvSwapBuffers(); },
      [] {
        VtImage *shown = VoDesktopGetImage(4, 4, kSide, kSide);
        std::string s = ImagePixels(shown);
        if (shown != nullptr) VoImageDestroy(shown);
        return s;
      });
  swap.accepts = TargetRefusalOrMemory;
  swap.exemption = "a swap that fails: 2 with message 1053";
  SweepAllocationFailures(swap);
  EXPECT_EQ(VoOGLDrvImageEnd(), 0u);
  EXPECT_EQ(VoOGLDrvWindowTerminate(window), 0u);
  EXPECT_EQ(VoDesktopWindowDestroy(window), 0u);
}

class D3DProcedures : public ProcedureSweep {
 protected:
  void SetUp() override {
    ProcedureSweep::SetUp();
    ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
    ASSERT_EQ(VoDesktopSetMode(64, 48, 32), 0u);
    window_ = VoDesktopWindowCreate(4, 4, kSide, kSide);
    ASSERT_NE(window_, nullptr);
    const VtTypedValue w = TypedPointer(window_);
    ASSERT_EQ(VoControlSet(VO_CONTROL_D3D_WINDOW, &w), 0u);
    // The device search writes its reasoning to the system's debug output,
    // which has no way to fail; a text it could not keep is no failure of
    // the call, so the sweep runs quiet.
    const VtTypedValue quiet = TypedWord(VtBoolean, 1);
    ASSERT_EQ(VoControlSet(VO_CONTROL_D3D_QUIET, &quiet), 0u);
  }
  void TearDown() override {
    (void)VoD3DBackgroundDestroy();
    (void)VoD3DRenderWindowDestroy();
    (void)VoD3DPrimListDestroy();
    (void)VoD3DLightListDestroy();
    if (window_ != nullptr) VoDesktopWindowDestroy(window_);
    ProcedureSweep::TearDown();
  }
  std::string WindowPixels() const {
    VtImage *shown = VoDesktopGetImage(4, 4, kSide, kSide);
    std::string s = ImagePixels(shown);
    if (shown != nullptr) VoImageDestroy(shown);
    return s;
  }
  VtWindow *window_ = nullptr;
};

TEST_F(D3DProcedures, TheListsWindowAndFramesFailWithTheirStatusAndTheNextFrameTheSamePicture) {
  SweptCall lights = Swept(
      "VoD3DLightListCreate", [&] { return VoD3DLightListCreate(lights_); }, nullptr,
      [] { (void)VoD3DLightListDestroy(); });
  SweepAllocationFailures(lights);
  SweptCall items = Swept(
      "VoD3DPrimListCreate", [&] { return VoD3DPrimListCreate(scene_); }, nullptr,
      [] { (void)VoD3DPrimListDestroy(); });
  EXPECT_GT(SweepAllocationFailures(items).runs, 0u);
  SweptCall window = Swept(
      "VoD3DRenderWindowCreate", [] { return VoD3DRenderWindowCreate(); }, nullptr,
      [] { (void)VoD3DRenderWindowDestroy(); });
  // The render window's set-up answers 2 when it fails.
  window.accepts = [](VtStatus s) { return s == VO_STATUS_UNAVAILABLE || CarriesMemoryBit(s); };
  window.exemption = "a set-up that fails answers 2";
  SweepAllocationFailures(window);

  ASSERT_EQ(VoD3DLightListCreate(lights_), 0u);
  ASSERT_EQ(VoD3DPrimListCreate(scene_), 0u);
  ASSERT_EQ(VoD3DRenderWindowCreate(), 0u);
  ASSERT_EQ(VoD3DViewSet(nullptr), 0u);
  // A frame answers 0 or -1.
  SweptCall frame = Swept(
      "VoD3DRender", [] { return VoD3DRender(); }, [&] { return WindowPixels(); });
  frame.accepts = [](VtStatus s) { return s == static_cast<VtStatus>(-1) || CarriesMemoryBit(s); };
  frame.exemption = "a failed frame answers -1";
  SweepAllocationFailures(frame);
  SweptCall background = Swept(
      "VoD3DBackgroundCreate", [&] { return VoD3DBackgroundCreate(background_); },
      [&] { return VoD3DRender() == 0 ? WindowPixels() : "no frame"; },
      [] { (void)VoD3DBackgroundDestroy(); });
  SweepAllocationFailures(background);
  const float orbit[3] = {0.5f, 2.0f, 7.0f}, centre[3] = {0, 0, 0}, axis[3] = {0, 1, 0};
  VtImage *canvas = VoImageCreate();
  ASSERT_NE(canvas, nullptr);
  canvas->width = canvas->height = kSide;
  ASSERT_EQ(VoImageAllocateData(canvas), 0u);
  VtBitmap *bitmap = VoD3DHBITMAPFromImage(canvas);
  ASSERT_NE(bitmap, nullptr);
  SweptCall copy = Swept(
      "VoD3DCopyRenderToBitmap", [&] { return VoD3DCopyRenderToBitmap(bitmap, 0, 0, 0, 0); },
      [&] {
        VtImage *back = VoDesktopBitmapGetImage(bitmap);
        std::string pixels = ImagePixels(back);
        if (back != nullptr) VoImageDestroy(back);
        return pixels;
      });
  SweepAllocationFailures(copy);
  EXPECT_EQ(VoD3DDestroyHBitmap(bitmap), 0u);
  EXPECT_EQ(VoImageDestroy(canvas), 0u);
  SweptCall turn = Swept(
      "VoD3DOrbitPinhole",
      [&] { return VoD3DOrbitPinhole(2, orbit, centre, axis, VO_PROJECTION_PERSPECTIVE, 40.0); },
      [&] { return WindowPixels(); });
  SweepAllocationFailures(turn);
}

TEST_F(D3DProcedures, TextureImagesAndBitmapsAnswerNullAndTheNextCallTheSamePixels) {
  VtImage *made = nullptr;
  auto image_call = [&](std::string name, std::function<VtImage *()> make) {
    SweptCall c = Swept(
        std::move(name), [&, make] { return Made(made = make()); }, [&] { return ImagePixels(made); },
        [&] {
          if (made != nullptr) VoImageDestroy(made);
          made = nullptr;
        });
    EXPECT_GT(SweepAllocationFailures(c).runs, 0u);
  };
  const float a[3] = {0.1f, 0.2f, 0.3f}, b[3] = {0.9f, 0.8f, 0.7f};
  image_call("VoD3DCartoonTexture", [] { return VoD3DCartoonTexture(1.0f); });
  image_call("VoD3DHatchTexture", [] { return VoD3DHatchTexture(0.5f); });
  image_call("VoD3DContourTexture", [] { return VoD3DContourTexture(0.5f); });
  image_call("VoD3DPenInkTexture", [&] { return VoD3DPenInkTexture(0.5f, a, b); });
  image_call("VoD3DReflectTexture", [] { return VoD3DReflectTexture(); });
  VtImage *wheel = VoD3DReflectTexture();
  ASSERT_NE(wheel, nullptr);
  image_call("VoD3DSphericalTexture", [&] { return VoD3DSphericalTexture(wheel); });
  EXPECT_EQ(VoImageDestroy(wheel), 0u);
  // A pixmap of 4 x 2 pixels, its second row stored as its difference.
  uint8_t rows[24];
  for (int i = 0; i < 24; ++i) rows[i] = static_cast<uint8_t>(11 * i);
  void *stream = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(VoDataObjectCompress(rows, sizeof rows, &stream, &length), 0u);
  image_call("VoD3DPixmapExpand", [&] { return VoD3DPixmapExpand(4, 2, stream, length); });
  VoDeallocate(stream);

  VtImage *small = VoImageCreate();
  ASSERT_NE(small, nullptr);
  small->width = 5;
  small->height = 3;
  ASSERT_EQ(VoImageAllocateData(small), 0u);
  for (int32_t i = 0; i < small->bytes_per_row * small->height; ++i)
    small->data[i] = static_cast<uint8_t>(29 * i);
  VtBitmap *bitmap = nullptr;
  SweptCall to_bitmap = Swept(
      "VoD3DHBITMAPFromImage", [&] { return Made(bitmap = VoD3DHBITMAPFromImage(small)); },
      [&] {
        VtImage *back = VoDesktopBitmapGetImage(bitmap);
        std::string s = ImagePixels(back);
        if (back != nullptr) VoImageDestroy(back);
        return s;
      },
      [&] {
        if (bitmap != nullptr) VoD3DDestroyHBitmap(bitmap);
        bitmap = nullptr;
      });
  SweepAllocationFailures(to_bitmap);
  EXPECT_EQ(VoImageDestroy(small), 0u);
}

}  // namespace
}  // namespace vo::test

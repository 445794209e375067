// The renderers of the cross-renderer group and the drawing of the current
// scene through one of them into memory: the software renderers and the
// OpenGL back end through a driver of byte rows, the Direct3D back end into
// a desktop window read back. A picture is kCrossWidth x kCrossHeight RGB
// bytes, top row first.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_d3d.h>
#include <vo/vo_desktop.h>
#include <vo/vo_driver.h>
#include <vo/vo_opengl.h>

#include "cross_renderer/cross_scene.h"
#include "support/rows_driver.h"

namespace vo::test {

enum class Way { kExecute, kOpenGL, kD3D };

struct Renderer {
  const char *name;
  uint32_t code;  // the execute code (the software renderers)
  Way way;
  bool antialiased = false;  // its edges cover pixels in part
};

inline constexpr Renderer kZBuffer{"z-buffer 0x200001", 0x200001, Way::kExecute};
inline constexpr Renderer kRenderers[] = {{"standard 0xc0002", 0xc0002, Way::kExecute},
                                          {"standard per-pixel 0xc0003", 0xc0003, Way::kExecute},
                                          kZBuffer,
                                          {"A-buffer 0x200002", 0x200002, Way::kExecute},
                                          {"ray preview 0x70001", 0x70001, Way::kExecute},
                                          {"ray full pass 0x70002", 0x70002, Way::kExecute},
                                          {"OpenGL", 0, Way::kOpenGL},
                                          {"Direct3D", 0, Way::kD3D}};

using Picture = std::vector<uint8_t>;

// The rows the driver is handed go to RowsTarget().
inline constexpr char kCrossRowsName[] = "cross rows";
using CrossRows = RowsDriver<kCrossWidth, kCrossHeight, kCrossRowsName>;
inline Picture &RowsTarget() { return CrossRows::Rows(); }
inline constexpr auto &RowsFrame = CrossRows::Frame;
inline constexpr auto &RowsFrameEnd = CrossRows::FrameEnd;
inline constexpr auto &RowsLookup = CrossRows::Lookup;
inline constexpr auto &RowsQuery = CrossRows::Query;

// The Direct3D back end's frame of the given lists in a desktop window of
// width x height, on a black background (its own default is white) with the
// colours as they are (no lift towards white); the view's status and the
// render's are kept apart, and a render follows a refused view.
struct D3DAnswer {
  VtStatus view = 0, render = 0;
};
inline D3DAnswer D3DDrawLists(VtReference *lights, VtReference *prims, int32_t width, int32_t height,
                              Picture &out) {
  D3DAnswer a;
  VtWindow *window = VoDesktopWindowCreate(0, 0, width, height);
  if (window == nullptr) return {2, 2};
  VtTypedValue v{}, lift{}, black{};
  v.type = VtGenericPtr;
  v.value.p = window;
  lift.type = VtFloat;
  black.type = VtColourType;
  VtStatus st = VoControlSet(VO_CONTROL_D3D_COLOUR_LIFT, &lift);
  st |= VoControlSet(VO_CONTROL_D3D_BACKGROUND_COLOUR, &black);
  st |= VoControlSet(VO_CONTROL_D3D_WINDOW, &v);
  if (st == 0) st = VoD3DLightListCreate(lights);
  if (st == 0) st = VoD3DPrimListCreate(prims);
  if (st == 0) st = VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE);
  a.view = VoD3DViewSet(nullptr);
  a.render = st == 0 ? VoExecute(VO_EXECUTE_D3D_RENDER) : st;
  if (a.render == 0) {
    VtImage *shown = VoDesktopGetImage(0, 0, width, height);
    if (shown == nullptr) a.render = 0x20000006;
    const size_t row = static_cast<size_t>(width) * 3;
    for (int32_t y = 0; shown != nullptr && y < height; ++y)
      std::memcpy(&out[static_cast<size_t>(y) * row], shown->data + y * shown->bytes_per_row, row);
    if (shown != nullptr) VoImageDestroy(shown);
  }
  VoExecute(VO_EXECUTE_D3D_WINDOW_DESTROY);
  VoD3DPrimListDestroy();
  VoD3DLightListDestroy();
  VoDesktopWindowDestroy(window);
  return a;
}
// The scene's lists in a window of the group's size unless given; the
// first refusal of the view or the render.
inline VtStatus D3DDraw(const CrossScene &scene, Picture &out, int32_t width = kCrossWidth,
                        int32_t height = kCrossHeight) {
  const D3DAnswer a = D3DDrawLists(scene.lights(), scene.scene(), width, height, out);
  return a.view != 0 ? a.view : a.render;
}

// Draws the current scene through a software renderer or the OpenGL back
// end into `out`, through the rows driver Rows; the status of the render.
template <class Rows>
inline VtStatus DrawRows(const Renderer &r, Picture &out) {
  Rows::Clear();
  out = Rows::Rows();
  VtDriverRecord *driver = VoDriverCreate(&Rows::Query);
  if (driver == nullptr) return 0x20000006;
  VtStatus st = VoDriverSet(driver);
  if (r.way == Way::kOpenGL) {
    if (st == 0) st = VoOpenGLInitialise();
    if (st == 0) st = VoExecute(VO_EXECUTE_OPENGL_RENDER);
    VoOpenGLTerminate();
  } else if (st == 0) {
    st = VoExecute(r.code);
  }
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
  VoDriverDestroy(driver);
  out = Rows::Rows();
  return st;
}

// Draws the current scene through the renderer into `out`; the status of
// the render.
inline VtStatus Draw(const Renderer &r, const CrossScene &scene, Picture &out) {
  out.assign(kCrossWidth * kCrossHeight * 3, 0);
  if (r.way == Way::kD3D) return D3DDraw(scene, out);
  return DrawRows<CrossRows>(r, out);
}

}  // namespace vo::test

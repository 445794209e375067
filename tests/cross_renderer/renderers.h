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

// The Direct3D back end draws the scene's lists into a desktop window (of
// the group's size unless given) on the scene's black background (its own
// default is white) with the colours as they are (no lift towards white).
inline VtStatus D3DDraw(const CrossScene &scene, Picture &out, int32_t width = kCrossWidth,
                        int32_t height = kCrossHeight) {
  VtWindow *window = VoDesktopWindowCreate(0, 0, width, height);
  if (window == nullptr) return 2;
  VtTypedValue v{}, lift{}, black{};
  v.type = VtGenericPtr;
  v.value.p = window;
  lift.type = VtFloat;
  black.type = VtColourType;
  VtStatus st = VoControlSet(VO_CONTROL_D3D_COLOUR_LIFT, &lift);
  st |= VoControlSet(VO_CONTROL_D3D_BACKGROUND_COLOUR, &black);
  st |= VoControlSet(VO_CONTROL_D3D_WINDOW, &v);
  if (st == 0) st = VoD3DLightListCreate(scene.lights());
  if (st == 0) st = VoD3DPrimListCreate(scene.scene());
  if (st == 0) st = VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE);
  if (st == 0) st = VoD3DViewSet(nullptr);
  if (st == 0) st = VoExecute(VO_EXECUTE_D3D_RENDER);
  if (st == 0) {
    VtImage *shown = VoDesktopGetImage(0, 0, width, height);
    if (shown == nullptr) st = 0x20000006;
    const size_t row = static_cast<size_t>(width) * 3;
    for (int32_t y = 0; shown != nullptr && y < height; ++y)
      std::memcpy(&out[static_cast<size_t>(y) * row], shown->data + y * shown->bytes_per_row, row);
    if (shown != nullptr) VoImageDestroy(shown);
  }
  VoExecute(VO_EXECUTE_D3D_WINDOW_DESTROY);
  VoD3DPrimListDestroy();
  VoD3DLightListDestroy();
  VoDesktopWindowDestroy(window);
  return st;
}

// Draws the current scene through the renderer into `out`; the status of
// the render.
inline VtStatus Draw(const Renderer &r, const CrossScene &scene, Picture &out) {
  out.assign(kCrossWidth * kCrossHeight * 3, 0);
  if (r.way == Way::kD3D) return D3DDraw(scene, out);
  VtDriverRecord *driver = VoDriverCreate(&RowsQuery);
  if (driver == nullptr) return 0x20000006;
  RowsTarget().assign(out.size(), 0);
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
  out = RowsTarget();
  return st;
}

}  // namespace vo::test

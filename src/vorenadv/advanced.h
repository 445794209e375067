// The advanced renderer (vorenadv, module 32): its module record and the
// z-buffer class it runs the standard renderer's loop with.
//
// Invariants a reader must know:
// - the record keeps only what outlives a render (pools, class, controls,
//   class index); everything one render holds (execute code, shaders, the
//   line's visibility rows) lives in a ZBufferRender behind the class-state
//   pointer of the standard renderer's frame, so a depth render started
//   from inside another render leaves the outer one intact;
// - a depth render (0x200003) writes one float per viewport column, 1e20
//   where nothing was drawn, and is refused without a line-output callback:
//   the driver's row writers would read three to sixteen bytes per pixel.
#pragma once

#include "vorenstd/renderer.h"

namespace vo::renadv {

constexpr uint32_t kExecuteZBuffer = 0x200001;
constexpr uint32_t kExecuteABuffer = 0x200002;
constexpr uint32_t kExecuteDepth = 0x200003;
constexpr uint32_t kClassIndexAfter = 2;
constexpr float kNoDepth = 1e20f;

struct VtAdvancedRendererContext {
  VtPool *z_polygon_pool;  // tag 0x200001
  VtPool *z_edge_pool;     // tag 0x200002
  renstd::VtRenderClass *z_class;
  uint32_t class_index;  // 0 z-buffer, 1 A-buffer, 2 after a render
  uint32_t a_first_poll, a_poll_reload;  // controls 0x200003, 0x200004
  uint32_t composite_flag;               // control 0x200005
  float *g_To;
  float *g_modI;
};

VtAdvancedRendererContext *State();

// Sets up the z-buffer class's methods and properties.
void ZBufferConfigure(renstd::VtRenderClass *cls);

}  // namespace vo::renadv

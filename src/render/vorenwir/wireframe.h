// The wireframe renderer (vorenwir, module 10): its state and the render.
// The scene's primitives are drawn as lines (polygon outlines, shared
// edges, or bounding boxes); lines of primitives partly in view go through
// the view's clipping polylines, those wholly in view straight to the
// driver's draw operation as pairs of projection points.
#pragma once

#include <cstdint>

#include <vo/vo_driver.h>
#include <vo/vo_render.h>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"

namespace vo::wire {

constexpr uint32_t kControlBoxes = 0xa0001;
constexpr uint32_t kControlDepth = 0xa0002;
constexpr uint32_t kControlFlagged = 0xa0003;
constexpr uint32_t kExecuteRender = VO_EXECUTE_WIREFRAME_RENDER;
constexpr uint32_t kEdgeHidden = 0x20;  // the scene model's same-polygon edge (bridges, welds)
constexpr uint32_t kPrimitiveOpen = 0x800;

struct WireState {
  uint32_t boxes;
  uint32_t flagged;       // edges flagged hidden are drawn too
  int32_t depth;          // levels of lists to expand, plus one; -1 no limit
  const int32_t *region;  // the view's output region x0, x1, y0, y1 (a stable address)
  uint32_t *sticky;
  uint32_t edge_mask;
  // Driver callbacks, fetched when callbacks change.
  VtDriverNoArgProc poll;
  VtDriverFrameProc begin_frame;
  VtDriverNoArgProc end_frame;
  VtDriverWordProc run_open;
  VtDriverNoArgProc run_close;
  VtDriverKindProc accept;
  VtDriverDrawProc draw;
  VtDriverPrimitiveProc primitive;
  VtStatus drawn;  // the driver's answers to this render's direct segments, ORed
  // Property offsets for the last contents seen (-1 when absent).
  const VtContents *cached;
  int32_t polys, edges, vrefs, poly_next, poly_edges, edge_next, edge_flags, edge_vrefs, edge_polys,
      edge_links, world, covert;
};

WireState *State();

// Execute 0xa0001: draws the scene list into the current driver.
VtStatus Render();

}  // namespace vo::wire

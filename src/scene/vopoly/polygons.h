// The polygon module (vopoly, number 3): its state, the contour records of
// faces with holes, and the procedures its files share (the mesh builders
// other modules share too stand in face.h).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "scene/vogeom/face.h"
#include "scene/vopoly/face.h"
#include "kernel/vosystem/face.h"

// One boundary of a face with several contours, projected onto the two
// coordinate axes of the face's plane that its normal does not dominate.
// Records come from the module's contour pool (tag 0x30001).
struct VtContour {
  VtReference *ring;  // the boundary; after set-up, the node of its leftmost vertex
  float u_min, u_max, v_min, v_max;
  int32_t u_axis, v_axis;  // coordinate indices (0 x, 1 y, 2 z)
  int32_t orientation;     // 1 when the dominant normal component is positive
  VtContour *next;         // the face's contours: a circular list
  VtPrimitive *primitive;  // the mesh being built
};
static_assert(offsetof(VtContour, u_min) == 8 && offsetof(VtContour, u_axis) == 24 &&
                  offsetof(VtContour, orientation) == 32 && offsetof(VtContour, next) == 40 &&
                  offsetof(VtContour, primitive) == 48 && sizeof(VtContour) == 56,
              "contour records are read by layout");

namespace vo::poly {

constexpr uint32_t kContourPoolTag = 0x30001;
constexpr uint32_t kControlTolerance = 0x30001;  // VtFloat
constexpr float kToleranceDefault = 1e-8f;
constexpr uint32_t kVertexIndexLimit = 1u << 28;  // vertices of one mesh

// Diagnostics of the module (module number 3).
constexpr uint32_t kMessageNoMemory = 104;  // out of memory, with the operation's name
constexpr uint32_t kMessageHoleAxes = 964;  // a hole projected on other axes than its outer contour
using messages::kMeshCountRefused;
using messages::kMeshIndexRefused;
using messages::kPolygonArgument;
using messages::kToleranceRefused;

struct PolygonModuleState {
  VtContents *default_contents;  // the geometry module's default the records below were made for
  // The cached contents: [with plane][with bounds and links].
  VtContents *cached[2][2];
  VtPool *contour_pool;
  float tolerance;  // coincidence of consecutive positions (control 0x30001)
};

// The module's state, or null while it is not started.
PolygonModuleState *PolygonState();

// True when p and q coincide within the tolerance: in each coordinate
// |p - q| < (|p| + |q| + 1) x tolerance.
inline bool PositionsCoincide(const float *p, const float *q, float tolerance) {
  for (int i = 0; i < 3; ++i) {
    const double a = p[i], b = q[i];
    if (!(std::fabs(a - b) < (std::fabs(a) + std::fabs(b) + 1) * tolerance)) return false;
  }
  return true;
}

}  // namespace vo::poly

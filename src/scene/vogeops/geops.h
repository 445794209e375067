// The geometry operators (vogeops, number 22): the module's records and
// what its files share.
//
// Two records make the module's state. GeopsContext is shared by every
// context: the controls, the interrupt poll, the strip pools. GeopsPools is
// the module's context variables: every worker gets its own copy, whose
// point and contour pools are sub-pools of the master's and whose ring-node
// pool is its own, so that workers triangulate at once. Everything one
// operation works on (the primitive in hand, the triangles being made, the
// strip scratch lists) lives in a record of that call, never here.
#pragma once

#include <cstdint>

#include <vo/vo_geops.h>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"

namespace vo::geops {

// Pool tags; they only label the pools.
constexpr uint32_t kPointPoolTag = 0x160001;
constexpr uint32_t kContourPoolTag = 0x160002;
constexpr uint32_t kNodePoolTag = 0x160004;
constexpr uint32_t kMeshPoolTag = 0x160001;
constexpr uint32_t kStripPoolTag = 0x160002;
constexpr uint32_t kScratchPoolTag = 0x160003;

// Diagnostics of the module (module number 22).
constexpr uint32_t kMessageNoMemory = 102;        // error: out of memory
constexpr uint32_t kMessageToleranceRange = 546;  // warning: a tolerance control corrected (code)
constexpr uint32_t kMessageMeshReport = 785;      // debug (module 2): a set of tri_mesh over strips
using messages::kFanFallback;
using messages::kGeopsStartRefused;
using messages::kStripSeedNotTriangle;
using messages::kTriangulateRefused;

// A polygon point flattened into its plane (pool 0x160001): the two
// coordinates of the vertex's position on the coordinate plane that the
// polygon's normal does not dominate, so that every sign decided on them is
// exact for the positions themselves.
struct TriPoint {
  double x, y;
  VtVertex *vertex;
  TriPoint *next;
};

// A flattened boundary (pool 0x160002): its points first to last.
struct TriContour {
  uint32_t kind;
  TriPoint *first, *last;
  TriContour *next;
};

// One corner of the ring being cut (pool 0x160004). A node holds the
// corner at itself: the ear at a node is the triangle (prev, node, next),
// whose removal deletes the node.
struct EarNode {
  double x, y;     // its point's, kept here for the grid's scans
  double quality;  // inscribed over circumscribed radius (1 equilateral); 0 when not convex
  EarNode *next, *prev;
  TriPoint *point;
  EarNode *cell_next, *cell_prev;  // the grid cell's chain; cut nodes: the cut list
  EarNode *blocker;                // a node inside the triangle of this corner, while both stay
  uint32_t cell;
  int32_t turn;    // +1 convex, 0 flat (between its neighbours), -1 reflex or spike
  uint32_t flags;  // kEarValidated
};
constexpr uint32_t kEarValidated = 8;
constexpr uint32_t kEarCut = 16;   // off the ring, kept until the cut ends
constexpr uint32_t kEarTwin = 32;  // at the very point of another node

struct GeopsPools {
  VtPool *point_pool;    // 0x160001 (the master's)
  VtPool *contour_pool;  // 0x160002 (the master's)
  VtPool *points;        // in use: the master's pools, or sub-pools of them in a copy
  VtPool *contours;
  VtPool *node_pool;  // 0x160004, each context its own
  uint32_t strict;    // always 0
  uint32_t is_copy;
  struct GeopsContext *context;  // the master's, or in a copy the context's own (controls, callbacks)
};

struct GeopsContext {
  // Controls.
  uint32_t poll_pairs;  // 0x160001
  uint32_t self;        // 0x160002
  uint32_t cut_both;    // 0x160003
  uint32_t stop_first;  // 0x160004
  float tolerance;      // 0x160005
  float fraction;       // 0x160006
  float fraction_rest;  // 1 - fraction
  float angle_radians;  // 0x160007
  float angle_sine;
  uint32_t greedy;         // 0x160008
  uint32_t weld;           // 0x160009
  uint32_t coplanar;       // 0x16000a
  uint32_t classic_above;  // 0x16000b
  float shortest;          // 0x16000c
  uint32_t edges_only;     // 0x16000d
  // Fetched when callbacks change.
  VtStatus (*interrupt)();
  uint32_t *sticky;
  // Strip pools.
  VtPool *mesh_pool;     // VtTriangleMesh
  VtPool *strip_pool;    // VtTriangleStrip
  VtPool *scratch_pool;  // ScratchNode
  // Intersection pools.
  VtPool *loop_node_pool;  // 0x160004
  VtPool *loop_pool;       // 0x160005
  VtPool *crossing_pool;   // 0x160006: Crossing
  VtPool *overlap_pool;    // 0x160007: Overlap
  uint32_t intersection_started;
};

// A strip builder's list of polygons (pool 0x160003).
struct ScratchNode {
  VtPolygon *polygon;
  ScratchNode *next;
};

// The module's records; null while it is not started. Both answer the
// calling context's: a worker's controls and callbacks are its own, its
// strip and intersection pools the master's (locked while threading is on).
GeopsContext *Context();
GeopsPools *Pools();

// Calls the interrupt poll: on an interrupt ORs 0x40 into the kernel's
// sticky status word and answers 0x40; otherwise 0.
VtStatus InterruptTest();

// ---- triangulate.cpp -------------------------------------------------------

// A polygon made from a source polygon of the same primitive: the source's
// per-face properties (copy handlers, else bytes) except its vertex rings,
// ring link, edge and working pointer, the given boundary ring, and the
// measures of that ring (prev, nverts, area, sqrtarea, angle) initialised
// again. Null when out of blocks. The polygon is linked into no ring.
VtPolygon *PolygonDerive(VtPrimitive *p, VtPolygon *source, VtReference *ring);

// Widens a primitive's layout by the properties of codes: 0, or the status
// of the conversion (0x40000006 when the layout cannot be had).
VtStatus LayoutWiden(VtPrimitive *p, const uint32_t *codes, uint32_t count);
// The same by polygon next and plane.
VtStatus PolygonLayoutWiden(VtPrimitive *p);

// Destroys a primitive's edges and clears its polygons' edge links; false
// when it had none. The destroy statuses are ORed into *status.
bool EdgesDrop(VtPrimitive *p, VtStatus *status);

// Triangulates every primitive of types 1-4 of the scene list (execute
// 0x160001): 2 without a list, else the OR of the statuses.
VtStatus TriangulateScene();

// ---- ear_clip.cpp ----------------------------------------------------------

// Receives each triangle cut, in the ring's own order; a non-zero answer
// stops the cut and is returned by it.
struct EarSink {
  VtStatus (*emit)(void *context, VtVertex *a, VtVertex *b, VtVertex *c);
  void *context;
};

struct EarOptions {
  uint32_t classic_above;  // classic ear test for more points than this; 0 never
};

// Cuts one flattened boundary (counter-clockwise in its frame) into
// triangles. Answers 0, 0x40000006 when ring nodes or the grid cannot be
// had, or the sink's status; on failure the caller gives back what the
// sink received. A ring that has no
// ear left (self-crossing, or not finite) is fanned from one corner and
// warning 2180 is posted.
VtStatus EarClip(GeopsPools *pools, const TriContour *contour, const EarOptions &options,
                 const EarSink &sink);

// ---- strips.cpp ------------------------------------------------------------

// Registers tri_mesh (314) and its handlers.
VtStatus MeshPropertyStart();

// ---- duplicate.cpp ---------------------------------------------------------

// Execute 0x160003.
VtStatus DuplicateScene();
// Duplicates one primitive's polygons with reversed copies (types 1-4);
// *doubled tells whether the primitive is now one-sided.
VtStatus DuplicateTwoSided(VtPrimitive *p, bool *doubled);

// ---- intersection_hooks.cpp -------------------------------------------------

// The intersection's pools and work arrays (start), their release
// (terminate) and execute 0x160002.
VtStatus IntersectionStart(GeopsContext *c);
VtStatus IntersectionStop(GeopsContext *c);
VtStatus IntersectAll();

}  // namespace vo::geops

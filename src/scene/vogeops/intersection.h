// The intersection of polygons: the records of one run and the steps that
// turn two polygons into the segments along which they cut each other.
//
// Every polygon pair is worked along the line where the two planes cross.
// Each polygon's crossings of the other's plane form a list in ascending
// parameter along that line; codes name how the boundary meets the plane at
// each crossing, merging leaves one code per crossing, the in/out pass gives
// each crossing the state the boundary is in after it, and the overlap of
// the two lists' inside intervals gives the common segments.
//
// Points and parameters are doubles: parameters are measured from the
// line's point nearest the centre of the first polygon's box, so a small
// polygon far from the origin keeps its crossings apart.
#pragma once

#include <cstdint>

#include "scene/vogeom/face.h"
#include "scene/vogeops/geops.h"

namespace vo::geops {

// Pool tags of the intersection's records.
constexpr uint32_t kLoopNodePoolTag = 0x160004;
constexpr uint32_t kLoopPoolTag = 0x160005;
constexpr uint32_t kCrossingPoolTag = 0x160006;
constexpr uint32_t kOverlapPoolTag = 0x160007;

// Diagnostics of the intersection (module 22).
constexpr uint32_t kMessageEndUnplaced = 540;       // warning: a segment end cannot be placed
constexpr uint32_t kMessageTooManyCodes = 541;      // error: more than four codes at one point
constexpr uint32_t kMessageSequenceRepaired = 542;  // warning: an in/out sequence repaired
constexpr uint32_t kMessageSequenceBroken = 543;    // error: an in/out sequence cannot be repaired
constexpr uint32_t kMessageNothingToCut = 545;      // warning: nothing to intersect

// Which side of a plane a vertex lies on.
enum Side : uint8_t { kBelow = 1, kOn = 2, kAbove = 4 };

// States along a crossing list: the boundary is inside the other polygon's
// plane region, on it, or outside, after the crossing.
constexpr uint32_t kInside = 256;
constexpr uint32_t kAlong = 512;
constexpr uint32_t kOutside = 1024;

// Segment ends.
constexpr uint32_t kSegmentStart = 256;
constexpr uint32_t kSegmentEnd = 1024;

constexpr uint32_t kCodesHeld = 4;

// One crossing of a polygon's boundary with the other plane (pool 0x160006).
struct Crossing {
  uint8_t codes[kCodesHeld];
  uint32_t count;      // codes met; above kCodesHeld only those held are kept
  const void *vertex;  // the boundary vertex the crossing lies at, or null
  const void *edge;    // the boundary edge through whose inside it passes, or null
  double point[3];
  double t;  // parameter along the line of the two planes
  uint32_t state;
  Crossing *next;
};

// One end of a common segment (pool 0x160007).
struct Overlap {
  Overlap *next;
  uint32_t kind;  // kSegmentStart or kSegmentEnd
  double point[3];
  double t;
  const void *vertex[2];  // the first and the second polygon's vertex at this end
  const void *edge[2];    // and the edge
};

// The line where two planes cross.
struct PlaneLine {
  double point[3];
  double direction[3];  // unit
};

// A boundary vertex of a polygon as the crossings read it: the vertex, the
// edge from it to the next vertex, and its position in world coordinates.
struct LoopVertex {
  const void *vertex;
  const void *edge;
  double p[3];
};

// What a pair is worked with: the working tolerance, the fraction control
// and the snap limit (in the same units as the tolerance).
struct PairSettings {
  double tolerance;
  double fraction;
  double snap_limit;
};

// ---- crossings.cpp ----------------------------------------------------------

// The code of a crossing at v between p and n (sides), and which edge it
// names: 'p' the edge p-v, 'n' the edge v-n, 'i' an interpolated point on
// p-v, 0 none. A code below 0 records nothing. same_pn: p and n are one
// vertex.
int CrossingCode(Side p, Side v, Side n, bool same_pn, char *names);

// Inserts a crossing into a list in ascending parameter, merging it with a
// record of the same vertex (or turning one of the same edge to code 4).
// Out of records: error 102, 0x40000006.
VtStatus CrossingInsert(Crossing **list, uint8_t code, const void *vertex, const void *edge,
                        const double point[3], double t);

// Leaves every record with a vertex one code and no edge: 0; 2 when the
// list only touches the plane; 0x40000002 (error 541) for more than four
// codes at one point. second: the list is the second polygon's.
VtStatus CodesMerge(Crossing *list, bool second);

// Gives every record its state, repairing what can be repaired (warning
// 542): 0, or 0x40000002 (error 543).
VtStatus StatesAssign(Crossing **list, bool second);

// The common segments of two assigned lists as start/end records in
// ascending parameter. Out of records: error 102, no segments, 0x40000006.
VtStatus OverlapLists(const Crossing *first, const Crossing *second, const PairSettings &s,
                      Overlap **segments);

void CrossingsFree(Crossing *list);
void OverlapsFree(Overlap *list);

// ---- pair.cpp ---------------------------------------------------------------

// The line of two planes (a, b, c, d each) with its point nearest centre;
// false when the planes are parallel within sine (or 0.174).
bool PlaneLineOf(const double a[4], const double b[4], const double centre[3], double sine, PlaneLine *line);

// Adds the crossings of one boundary loop with a plane to a list.
// *tolerance may be raised by snapping.
VtStatus LoopCrossings(const LoopVertex *loop, uint32_t count, const double plane[4], const PlaneLine &line,
                       PairSettings *s, Crossing **list);

// The common segments of two planar loops. 0 with *segments null when they
// do not cross.
VtStatus LoopSegments(const LoopVertex *p, uint32_t np, const double plane_p[4], const LoopVertex *q,
                      uint32_t nq, const double plane_q[4], double sine, const PairSettings &s,
                      Overlap **segments);

// ---- cut.cpp ----------------------------------------------------------------

// A primitive of a run as the cut sees it: the transforms that carry its
// positions to the world (its own, then each enclosing list's), its world
// box, and the offsets the cut reads.
// The new edges of a run, by their end vertices, so that the edges built
// again over the cut polygons can be flagged 0x200.
// With control 0x16000d, the segments kept as loose edges, each between
// two new vertices, with the polygon it was cut in.
struct SegmentLog {
  struct Entry {
    VtPrimitive *p;
    const void *a, *b;
    VtPolygon *g;  // a loose edge's polygon; null for a segment of a split
  };
  WorkArray<Entry> entries;
  size_t count = 0;
  bool Add(VtPrimitive *p, const void *a, const void *b, VtPolygon *g = nullptr) {
    if (!entries.Fit(count + 1)) return false;
    entries[count++] = Entry{p, a, b, g};
    return true;
  }
};

struct CutPrimitive {
  VtPrimitive *p;
  SegmentLog *log;
  VtTransform *const *transforms;
  uint32_t transform_count;
  double box[6];  // xmin, xmax, ymin, ymax, zmin, zmax
  int32_t world, vrefs, next;
  bool cut;       // a polygon of it was split (or welded)
  bool usable;    // it has positions and polygon rings
  bool loose;     // it has loose segment edges to add
  bool prepared;  // it has entered the walk (and been welded)
  bool rejected;  // its loops overlap: it takes no part
};

// The world loop of one polygon, its plane and box.
struct WorldLoop {
  WorkArray<LoopVertex> vertices;
  uint32_t count = 0;
  double plane[4];
  double box[6];
  bool planar = false;
};

// Readies a primitive: polygon next and plane in its layout (and shared
// edges when edges_only), offsets, the world box. Answers 0 or the status
// of widening its layout.
VtStatus CutPrepare(CutPrimitive *c, bool edges_only);

// Initialises again the measures of a polygon whose ring changed.
void PolygonMeasuresInitialise(const CutPrimitive &c, VtPolygon *g);

// ---- keyhole.cpp ------------------------------------------------------------

// Drops ring edges whose ends coincide and welds keyholes (control
// 0x160009); a primitive a polygon of which has separate loops overlapping
// along an edge is left untouched and flagged rejected (warning 2191).
// Out of memory: error 102, 0x40000006, nothing changed.
VtStatus KeyholesWeld(CutPrimitive *c);

// Whether a polygon ring of the primitive walks an edge both ways (a
// bridge or a slit): 0, or error 102 and 0x40000006 when out of memory.
VtStatus RingsBridged(const CutPrimitive &c, bool *bridged);

// The polygon's loop in world coordinates; false when out of memory.
bool WorldLoopOf(const CutPrimitive &c, VtPolygon *g, WorldLoop *loop);

// What inserting a segment did to a polygon.
constexpr uint32_t kSplit = 1;   // the polygon was split: the piece follows it on the ring
constexpr uint32_t kSpiked = 2;  // its ring runs out to an end inside it and back

// Inserts one segment into polygon g (side 0: the pair's first polygon, 1:
// its second), loop being g's world loop. Ends on the ring (at a vertex,
// or inside an edge, which is split there) split the polygon; one end
// inside it makes a slit from the ring to that end; two ends inside
// cannot be placed (warning 540). Out of memory leaves g as it was.
VtStatus SegmentInsert(CutPrimitive *c, VtPolygon *g, const WorldLoop &loop, const Overlap &start,
                       const Overlap &end, int side, double tolerance, uint32_t *made);

// With control 0x16000d: the segment kept as an edge between two new
// vertices (each blended where its end lies: a vertex, an edge or inside
// g), g's ring left as it is; the edge is added when the primitive is
// finished. Out of memory: error 102, 0x40000006, nothing made.
VtStatus SegmentAsEdge(CutPrimitive *c, VtPolygon *g, const WorldLoop &loop, const Overlap &start,
                       const Overlap &end, int side, double tolerance);

// Walks every pair of polygons of the primitives (walk.cpp): 0, or the
// status that ended the walk (0x40 on an interrupt).
VtStatus PairsCut(GeopsContext *c, CutPrimitive *primitives, size_t count);

// Rebuilds what a cut primitive derives from its polygons: type, edges
// (those along the logged segments flagged 0x200), counts.
VtStatus CutFinish(CutPrimitive *c);

// True when two boxes meet with slack on each axis.
inline bool BoxesMeet(const double a[6], const double b[6], double slack) {
  for (int k = 0; k < 3; ++k)
    if (b[2 * k] > a[2 * k + 1] + slack || a[2 * k] > b[2 * k + 1] + slack) return false;
  return true;
}

}  // namespace vo::geops

// Shared edges: the matching of directed boundary pairs that builds them,
// re-links polygons to them and pairs polygons for the crease method.
//
// The edges that start at a vertex are found through a side table kept for
// the run (an address-keyed index from vertex to a chain of edge records),
// never through storage inside the vertices.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene/vogeom/polygon_measures.h"
#include "scene/vogeom/scene.h"
#include "scene/vogeom/scratch.h"

namespace vo {

constexpr uint32_t kNoRecord = UINT32_MAX;

// One edge of a run: the directed pair that made it (or, when re-linking,
// the edge's own start and end) and the polygons found on its sides.
struct EdgeRecord {
  VtEdge *edge;  // null when only pairing
  void *end;     // end vertex as compared (through covert when that applies)
  VtPolygon *side[2];
  uint32_t next;    // the next record starting at the same vertex
  uint32_t linked;  // already on the edge ring
};

// Where a record's sides run: for side s, corner[s][0] at the side's start
// vertex and corner[s][1] at its end; a corner is a boundary position
// numbered in polygon walk order.
struct EdgeCorners {
  uint32_t corner[2][2];
};

enum class EdgeRun {
  kBuild,  // make the edges, flag them and hang the ring on the primitive
  kLink,   // give existing edges (registered at their start) their polygons
  kPair,   // match pairs only: records with sides and corners, no elements
};

// The result of a pairing run (kPair) for the crease method.
struct EdgePairing {
  WorkArray<EdgeRecord> records;
  WorkArray<EdgeCorners> corners;      // one per record
  WorkArray<VtReference *> positions;  // corner number -> boundary node
  uint32_t record_count = 0;
  uint32_t corner_count = 0;
};

// Builds the shared edges of a primitive. through_covert compares vertices
// through their covert twins when the layout has them. The ring (null when
// none) is hung on the edges property when the layout has it, flag 0x100
// set, and answered in *ring when ring is not null (without the edges
// property and a ring to answer nothing is built). Any edges the primitive
// had are destroyed first. 0x20000006 when out of memory: no edge is left.
VtStatus EdgesBuild(VtPrimitive *p, bool through_covert, VtEdge **ring);
// Pairs the directed boundary pairs of a primitive's polygons (through
// covert) for the crease method.
VtStatus EdgesPair(VtPrimitive *p, EdgePairing *pairing);

}  // namespace vo

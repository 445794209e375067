// The selection module (voselect, number 16): its state and what its files
// share. A pick casts a ray through the centre of a pixel of the current
// view and tests every primitive of the scene list against it: the box
// first, then polygon by polygon; lists, procedural and transformed
// primitives through their expansion into plain primitives.
#pragma once

#include <cstdint>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"

namespace vo::select {

constexpr uint32_t kPoolHits = 0x100001;

// One hit: its distance along the ray and a one-node reference list of the
// primitive hit.
struct HitNode {
  HitNode *next;
  float distance;
  VtReference *reference;
};

// The ray of the pick under way.
struct Ray {
  float near_distance, far_distance;
  float direction[3];   // unit
  float reciprocal[3];  // of each direction component (0 where its sign is 0)
  float origin[3];
  int32_t sign[3];  // 1, -1, or 0 for a component below 1e-6 in magnitude
};

// The module's state, one per process.
struct SelectState {
  VtPool *hit_pool;
  // Values of the current view (addresses that never move).
  const int32_t *resolution;       // x, y
  const float *edges;              // horizontal, then vertical window edge
  const float *eye;                //
  const float *corner;             // window corner
  const float *direction;          // viewing direction
  const float *hither;             // as used
  const float *yon;                // as used
  const int32_t *projection_kind;  // 2 perspective
  const double *inverse;           // inverse projection matrix
  Ray ray;
  // The contents pieces of an expansion are asked to carry.
  VtContents *contents;
  // Offsets looked up for the last contents seen (-1 when unknown).
  const VtContents *cached;
  int32_t polys, vrefs, plane, next, world;
  // Fetched when callbacks change.
  uint32_t *sticky;
  VtStatus (*interrupt)();
};

SelectState *State();

}  // namespace vo::select

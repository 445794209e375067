// The chain and arc stages of the second pass (stage 6): chains of grid
// edges joined end to end, drawn as polylines, and their output.
//
// Invariants a reader must know:
// - an edge of the current chain has left the grid (no line record) and
//   is linked head to tail through its chain field; bit 0x400 says it runs
//   from end 0 to end 1, 0x800 from end 1 to end 0;
// - touched and stop bits live on the edges only while stage 6 runs; what
//   callbacks and the pen see never carries them.
#pragma once

#include "vorenhid/second_pass.h"

namespace vo::hid {

constexpr uint32_t kChainForward = 0x400, kChainBackward = 0x800;
constexpr uint32_t kTouched[2] = {0x800000, 0x1000000};
constexpr uint32_t kStop[2] = {0x2000000, 0x4000000};
enum : int { kScratchInfos, kScratchPoints, kScratchPairs, kScratchWorld };

// End states of a traced direction.
enum : int { kEndStop = 1, kEndFree = 2, kEndBlocked = 3, kEndJunction = 4, kEndCalledOff = 5 };

template <class P>
P UserProc(const VtHiddenLineContext *s, uint32_t code) {
  return reinterpret_cast<P>(s->user[code - VO_CALLBACK_HL_ADMIT]);
}

// ---- chain_output.cpp ---------------------------------------------------------
// A circle (arc false: a0, a1 unused) or an arc from a0 to a1 (radians, in
// the projection plane) about a divided centre; a driver answering 258
// gets a polyline instead.
VtStatus DrawCircleArc(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                       VtHiddenLineEdgeInfo *info, const float *attr_a, const float *attr_b, const float centre[4],
                       double a0, double a1, double r, bool arc);
// The chain from first (count edges) as one polyline with its straight
// joints removed; then the stage's progress for the chain.
VtStatus ChainOutput(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                     VtHiddenLineEdgeInfo *info, VtHiddenLineEdge *first, uint32_t count);
// A chain inside one pixel: the prelude and the polyline callback with no
// point, nothing drawn.
void ChainEmpty(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls, VtHiddenLineEdgeInfo *info,
                uint32_t count);
void ScratchFree(VtHiddenLineContext *s);

// ---- arcs.cpp --------------------------------------------------------------------
// The angle of p about the centre on a circle of radius r: (0, 2 pi], a
// point straight right of the centre at 2 pi.
double ArcAngle(const float *centre, double r, const float *p);

// ---- chains.cpp ----------------------------------------------------------------
// 0 refuse, 5 stop, other: join.
int32_t ChainJoinQuery(VtHiddenLineContext *s, VtHiddenLineEdgeInfo *chain, VtHiddenLineEdgeInfo *candidate);
// Frees the pending chain's edges.
void ChainRelease(VtHiddenLineContext *s);

}  // namespace vo::hid

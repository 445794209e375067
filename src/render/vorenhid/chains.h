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

#include "render/vorenhid/second_pass.h"

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
                       VtHiddenLineEdgeInfo *info, const float *attr_a, const float *attr_b,
                       const float centre[4], double a0, double a1, double r, bool arc);
// The chain from first (count edges) as one polyline with its straight
// joints removed; then the stage's progress for the chain.
VtStatus ChainOutput(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                     VtHiddenLineEdgeInfo *info, VtHiddenLineEdge *first, uint32_t count);
// The member of a chain edge whose points and pairs a drawing for p
// takes: a coincident source of p when the edge came from another
// primitive, else the edge.
VtHiddenLineEdge *ChainMember(const VtHiddenLineEdge *e, const VtPrimitive *p);
// A chain inside one pixel: the prelude and the polyline callback with no
// point, nothing drawn.
void ChainEmpty(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                VtHiddenLineEdgeInfo *info, uint32_t count);
void ScratchFree(VtHiddenLineContext *s);

// ---- arcs.cpp --------------------------------------------------------------------
// The angle of p about the centre on a circle of radius r: (0, 2 pi], a
// point straight right of the centre at 2 pi.
double ArcAngle(const float *centre, double r, const float *p);

// ---- chains.cpp ----------------------------------------------------------------
// 0 refuse, 5 stop, other: join.
int32_t ChainJoinQuery(VtHiddenLineContext *s, VtHiddenLineEdgeInfo *chain, VtHiddenLineEdgeInfo *candidate);
// The edge a chain whose end carries end_info runs on to from e's end k
// (*meets: the end at which it meets), or null; *state is 0 with an edge,
// else the end state. no_gap: the one-step look-ahead's form (a single
// refused answer refuses, no gap search).
VtHiddenLineEdge *ChainNextEdge(VtHiddenLineContext *s, VtHiddenLineEdge *e, int k,
                                VtHiddenLineEdgeInfo *end_info, double tolerance, int32_t pixels, bool no_gap,
                                int *meets, int *state);
// Settles the classes of an edge's coincident sources once: sources of the
// edge's own source are merged into it, the others are hidden when deeper
// than it (by the depth tolerance) and take its class otherwise; one
// silhouette makes all silhouettes.
void CoincidentClassify(VtHiddenLineContext *s, VtHiddenLineEdge *e);
// Moves the end of the grid edge that suits e's end best onto it (grid
// links kept right); 1 when an end moved.
int EndSnap(VtHiddenLineContext *s, VtHiddenLineEdge *e, int end);
// The pending chain in runs of one primitive (chosen at the head between
// the first edge's and the next different one's), each drawn and freed in
// turn; the chain's head bits go with the first run, its tail bits with
// the last.
VtStatus ChainRuns(VtHiddenLineContext *s, const VtHiddenLineEdgeInfo *chain_info);
// Frees the pending chain's edges.
void ChainRelease(VtHiddenLineContext *s);

}  // namespace vo::hid

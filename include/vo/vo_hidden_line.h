/*
 * The hidden-line renderer (module vorenhid, number 25): its controls,
 * user callbacks and execute codes, the class bits of the segments it
 * draws, and the records its user callbacks and its progress report hand
 * out.
 *
 * A segment's class is the scene edge's flag word (edge property 770) with
 * bit 0 (hidden) or bit 3 (visible) set by the renderer; the bits of
 * VO_HIDDEN_LINE_INTERNAL_MASK are the second pass's own and are cleared
 * before a class reaches a user callback.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_HIDDEN_LINE_H
#define VO_HIDDEN_LINE_H

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Execute codes. */
#define VO_EXECUTE_HIDDEN_LINE 0x190001u          /* one pass: segments drawn as they are found */
#define VO_EXECUTE_HIDDEN_LINE_TWO_PASS 0x190002u /* segments stored, merged and chained, then drawn */

/* Controls. */
#define VO_CONTROL_HL_CANDIDATE_MASK 0x190001u     /* 39: edges tested for visibility (0x206) */
#define VO_CONTROL_HL_OUTPUT_MASK 0x190002u        /* 39: classes drawn: 1 hidden, 8 visible (8) */
#define VO_CONTROL_HL_DEPTH_TOLERANCE 0x190003u    /* VtDouble (1e-5) */
#define VO_CONTROL_HL_ANNOUNCE_PRIMITIVE 0x190004u /* VtBoolean: 0x1a002f before each drawing */
#define VO_CONTROL_HL_ANNOUNCE_ELEMENT 0x190005u   /* VtBoolean: 0x1a0030 before each drawing */
#define VO_CONTROL_HL_INTERSECT 0x190006u          /* VtBoolean: geometry operators' 0x160002 after stage 1 */
#define VO_CONTROL_HL_EDGE_ON_TOLERANCE 0x190007u  /* VtDouble (1e-4) */
#define VO_CONTROL_HL_ATTRIBUTES 0x190008u         /* VtBoolean: vertex attribute pairs travel */
#define VO_CONTROL_HL_OFFSET 0x190009u             /* VtDouble (1e-4) */
#define VO_CONTROL_HL_TWO_PASS 0x19000au           /* VtBoolean */
#define VO_CONTROL_HL_POINT_TOLERANCE 0x19000bu    /* VtFloat (1e-5) */
#define VO_CONTROL_HL_DROP_SUBPIXEL 0x19000cu      /* VtBoolean (false) */
#define VO_CONTROL_HL_MERGE_DUPLICATES 0x19000du   /* VtBoolean (true) */
#define VO_CONTROL_HL_MERGE_OVERLAPS 0x19000eu     /* VtBoolean (true) */
#define VO_CONTROL_HL_KIND2_TOLERANCE 0x19000fu    /* VtDouble (1e-5) */
#define VO_CONTROL_HL_CHAIN_RINGS_X 0x190010u      /* VtInt32 (0) */
#define VO_CONTROL_HL_KIND2_PIXELS 0x190011u       /* VtInt32 (0) */
#define VO_CONTROL_HL_CHAIN_RINGS_Y 0x190012u      /* VtInt32 (0) */
#define VO_CONTROL_HL_SILHOUETTE_PIXELS 0x190013u  /* VtInt32 (0) */
#define VO_CONTROL_HL_WORLD_OUTPUT 0x190014u       /* VtBoolean: three-coordinate points */
#define VO_CONTROL_HL_IDENTITY 0x190015u           /* VtBoolean */
#define VO_CONTROL_HL_WORLD_STORE 0x190016u        /* VtBoolean */
#define VO_CONTROL_HL_BACK_FACE_TOLERANCE 0x190017u /* VtDouble (0) */
#define VO_CONTROL_HL_PROGRESS_STEP 0x190018u       /* VtDouble (1.0) */
#define VO_CONTROL_HL_DETAILED_PROGRESS 0x190019u   /* VtBoolean */
#define VO_CONTROL_HL_EXCLUSION_MASK 0x19001au      /* 39 (0) */
#define VO_CONTROL_HL_KEEP_GRID 0x19001bu           /* VtBoolean */
#define VO_CONTROL_HL_EXTRA_CONTENTS 0x19001cu /* VtGenericPtr: contents merged into the working contents */
#define VO_CONTROL_HL_DEPTH_LIMIT 0x190065u    /* VtNat32 (14) */
#define VO_CONTROL_HL_CROSS_LEAF 0x190066u     /* VtNat32 (4) */
#define VO_CONTROL_HL_POINT_LEAF 0x190067u     /* VtNat32 (4) */
#define VO_CONTROL_HL_OCCLUDER_LEAF 0x190068u  /* VtNat32 (2) */

/* User callbacks. */
#define VO_CALLBACK_HL_ADMIT 0x190001u       /* VtHiddenLineAdmitProc (second pass) */
#define VO_CALLBACK_HL_PRIORITY 0x190002u    /* VtHiddenLinePriorityProc (second pass) */
#define VO_CALLBACK_HL_PEN 0x190003u         /* VtHiddenLinePenProc */
#define VO_CALLBACK_HL_OVERLAP 0x190004u     /* VtHiddenLineOverlapProc (second pass) */
#define VO_CALLBACK_HL_STORE 0x190005u       /* VtHiddenLineStoreProc */
#define VO_CALLBACK_HL_CIRCLE 0x190006u      /* VtHiddenLineCircleProc */
#define VO_CALLBACK_HL_SAME_SOURCE 0x190008u /* VtHiddenLineSameSourceProc (second pass) */
#define VO_CALLBACK_HL_POLYLINE 0x190009u    /* VtHiddenLinePolylineProc */

/* Segment class bits. */
#define VO_HL_CLASS_HIDDEN 0x1u
#define VO_HL_CLASS_KIND2 0x2u
#define VO_HL_CLASS_SILHOUETTE 0x4u
#define VO_HL_CLASS_VISIBLE 0x8u
#define VO_HL_CLASS_KIND16 0x10u
#define VO_HL_CLASS_BYPASS 0x80u
#define VO_HL_CLASS_CHAIN_FORWARD 0x400u
#define VO_HL_CLASS_CHAIN_BACKWARD 0x800u
#define VO_HL_CLASS_CIRCLE 0x20000u
#define VO_HL_CLASS_SOURCES_CLASSIFIED 0x40000u
#define VO_HL_CLASS_STARTS_AT_VERTEX 0x2000000u
#define VO_HL_CLASS_ENDS_AT_VERTEX 0x4000000u
#define VO_HIDDEN_LINE_INTERNAL_MASK 0x078C0C00u

/* What the progress callback receives in detailed mode (a VtGenericPtr). */
typedef struct VtHiddenLineProgress {
  double overall;       /* percent of the whole render */
  uint32_t status;      /* last status reported */
  uint32_t stage;       /* 0 to 7 */
  double stage_percent; /* percent of the stage */
} VtHiddenLineProgress;

/* A segment as user callbacks receive it; copies of coincident sources
 * hang on next. */
typedef struct VtHiddenLineEdgeInfo {
  void *primitive;
  void *element;
  uint32_t flags;
  float end0[4]; /* x, y, z, w */
  float end1[4];
  float pairs[4]; /* attribute pairs of end 0 and end 1; -1.0 when none */
  uintptr_t user;
  struct VtHiddenLineEdgeInfo *next;
} VtHiddenLineEdgeInfo;

/* The record callback 0x190006 receives: the segment, then an answer area
 * for a circle centre and radius that the callback fills. */
typedef struct VtHiddenLineCircleQuery {
  void *primitive;
  void *element;
  uint32_t flags;
  uintptr_t user;
  float end0[4];
  float end1[4];
  float pairs[4];
  float centre[4];
  double radius;
} VtHiddenLineCircleQuery;

/* User callback forms. */
typedef VtStatus (*VtHiddenLineAdmitProc)(VtHiddenLineEdgeInfo *edge);
/* 0x190002: non-zero when a wins over b. */
typedef int32_t (*VtHiddenLinePriorityProc)(VtHiddenLineEdgeInfo *a, VtHiddenLineEdgeInfo *b);
typedef VtStatus (*VtHiddenLinePenProc)(VtHiddenLineEdgeInfo *sources);
/* 0x190004: the verdict on a candidate overlapping a new edge (0 not
 * listed, 3 the new edge is dropped and the grid stays as it was, other
 * values list it). */
typedef int32_t (*VtHiddenLineOverlapProc)(VtHiddenLineEdgeInfo *candidate, VtHiddenLineEdgeInfo *edge);
typedef int32_t (*VtHiddenLineStoreProc)(VtHiddenLineEdgeInfo *segment);
typedef int32_t (*VtHiddenLineCircleProc)(VtHiddenLineCircleQuery *query);
/* 0x190008: 0 different sources, 1 the same (b goes), 2 the same (a goes). */
typedef int32_t (*VtHiddenLineSameSourceProc)(VtHiddenLineEdgeInfo *a, VtHiddenLineEdgeInfo *b);
typedef VtStatus (*VtHiddenLinePolylineProc)(int32_t segments, VtHiddenLineEdgeInfo **records);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <cstddef>
static_assert(sizeof(VtHiddenLineProgress) == 24 && offsetof(VtHiddenLineProgress, status) == 8 &&
                  offsetof(VtHiddenLineProgress, stage) == 12 &&
                  offsetof(VtHiddenLineProgress, stage_percent) == 16,
              "progress records are read by layout");
static_assert(offsetof(VtHiddenLineEdgeInfo, element) == 8 && offsetof(VtHiddenLineEdgeInfo, flags) == 16 &&
                  offsetof(VtHiddenLineEdgeInfo, end0) == 20 && offsetof(VtHiddenLineEdgeInfo, end1) == 36 &&
                  offsetof(VtHiddenLineEdgeInfo, pairs) == 52 && offsetof(VtHiddenLineEdgeInfo, user) == 72 &&
                  offsetof(VtHiddenLineEdgeInfo, next) == 80 && sizeof(VtHiddenLineEdgeInfo) == 88,
              "edge information records are read by layout");
static_assert(offsetof(VtHiddenLineCircleQuery, flags) == 16 &&
                  offsetof(VtHiddenLineCircleQuery, user) == 24 &&
                  offsetof(VtHiddenLineCircleQuery, end0) == 32 &&
                  offsetof(VtHiddenLineCircleQuery, end1) == 48 &&
                  offsetof(VtHiddenLineCircleQuery, pairs) == 64 &&
                  offsetof(VtHiddenLineCircleQuery, centre) == 80 &&
                  offsetof(VtHiddenLineCircleQuery, radius) == 96 && sizeof(VtHiddenLineCircleQuery) == 104,
              "circle queries are read by layout");
#endif

#endif /* VO_HIDDEN_LINE_H */

// The hidden-line renderer (vorenhid, module 25): its context, the records
// of one render and the procedures of its stages.
//
// Invariants a reader must know:
// - projection positions (vertex property 1027) of prepared primitives are
//   held divided, (x/w, y/w, z/w, w), from the end of stage 2 on; z grows
//   away from the eye; output homogenises copies, never the scene's data;
// - every flag bit a render sets on an application's edge is recorded in
//   the edge's record (VtHiddenLineEdgeData::added) and cleared again at clean-up;
// - the work lists, split lists and test points of a render are the
//   context's until clean-up; nothing of them survives a render.
#pragma once

#include <cstdint>

#include <vo/vo_driver.h>
#include <vo/vo_hidden_line.h>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"

namespace vo::hid {

// Pool tags of the start and of the second pass.
constexpr uint32_t kPoolSplit = 0x190001, kPoolTestNode = 0x190003, kPoolPlane = 0x190004,
                   kPoolOccluder = 0x190005, kPoolEdgeData = 0x190006, kPoolNode = 0x190007;
constexpr uint32_t kPoolStored = 0x190008, kPoolStoredNode = 0x190009, kPoolStoredInfo = 0x19000e;

// The renderer's registered properties.
constexpr uint32_t kPolygonRecord = VO_POLY_HL_DATA;  // 530: VtHiddenLinePlane *
constexpr uint32_t kEdgeRecord = VO_EDGE_HL_DATA;     // 777: VtHiddenLineEdgeData *
constexpr uint32_t kEdgePair = 776;                   // the vertex pair the renderer works on
constexpr uint32_t kVertexAttributes = 1031;          // two floats per vertex (0x407)
constexpr uint32_t kVertexExtra = 1040;               // carried for the outside (0x410)

// One cut of an edge, at parameter t from the first vertex of its pair.
struct VtHiddenLineSplit {
  float t;
  VtHiddenLineSplit *next;
};

// An edge's record (edge property 777): its supporting line a x + b y + c = 0
// in projection x, y with (a, b) of unit length, its cuts, and the flag bits
// this render added to the scene's flag word.
struct VtHiddenLineEdgeData {
  float a, b, c;
  uint32_t added;
  VtHiddenLineSplit *splits;  // null for an edge that is no candidate
};

// A polygon's record (polygon property 530): its plane in projection
// coordinates, (a, b, c) of unit length.
struct VtHiddenLinePlane {
  float a, b, c, d;
  uint32_t facing;  // the polygon faces the eye
  uint32_t band;    // within the back-face tolerance: its border edges are hidden
};

struct VtHiddenLineOccluder {
  VtHiddenLineOccluder *next;
  VtPrimitive *primitive;
  void *polygon;
  VtReference *ring;      // the clipped outline, divided projection positions
  float box[4];           // x low, x high, y low, y high of the outline
  uint32_t covering : 1;  // the outline covers the region it is listed for
  uint32_t finite : 1;    // every corner of the outline has finite x and y
  uint32_t twin = 0;      // occluders of one number (not 0) hide exactly the same points
};

struct VtHiddenLineEdgeNode {
  VtHiddenLineEdgeNode *next;
  VtPrimitive *primitive;
  void *edge;
};

struct VtHiddenLineTestPoint {
  VtPrimitive *primitive;
  void *edge;
  float x, y, z, w;
  float t0, t1;
};

// Test points live in their list nodes (pool 0x190003): nothing is
// allocated per span.
struct TestNode {
  VtHiddenLineTestPoint point;
  TestNode *next;
};

// A region of the window subdivisions of stages 3 and 4, in projection x, y.
struct Rect {
  double x0, x1, y0, y1;
};

// The two halves of a region at depth d: across x when d is odd, else
// across y, at the middle m.
struct Halves {
  bool across_x;
  double m;
  Rect half[2];
  Halves(const Rect &r, int32_t d)
      : across_x((d & 1) != 0), m(across_x ? (r.x0 + r.x1) / 2 : (r.y0 + r.y1) / 2) {
    half[0] = across_x ? Rect{r.x0, m, r.y0, r.y1} : Rect{r.x0, r.x1, r.y0, m};
    half[1] = across_x ? Rect{m, r.x1, r.y0, r.y1} : Rect{r.x0, r.x1, m, r.y1};
  }
  // The half a point belongs to; a point on the middle line is the high half's.
  int HalfOf(double x, double y) const { return (across_x ? x : y) < m ? 0 : 1; }
};

// A primitive's property offsets, looked up once per contents record.
struct Layout {
  const VtContents *contents = nullptr;
  int32_t polys, edges, verts, parent;
  int32_t vrefs, clipped, poly_next, plane, poly_record;
  int32_t edge_next, edge_flags, edge_vrefs, edge_polys, edge_pair, edge_record;
  int32_t world, vert_next, screen, normal, attributes;
};

// An edge's two vertices and their divided projection positions.
struct EdgeEnds {
  void *v0, *v1;
  const float *p0, *p1;
};

struct Callbacks {
  VtDriverByteProc pen;             // 0x1a001f
  VtDriverFrameProc frame_begin;    // 0x1a0003
  VtDriverNoArgProc frame_end;      // 0x1a0004
  VtDriverWordProc stroke_begin;    // 0x1a0005
  VtDriverNoArgProc stroke_end;     // 0x1a0006
  VtDriverKindProc accept;          // 0x1a0020
  VtDriverDrawProc draw;            // 0x1a0022
  VtDriverPrimitiveProc primitive;  // 0x1a002f
  VtDriverTwoWordProc element;      // 0x1a0030
  VtDriverNoArgProc poll;           // 0x1a001a
  VtProgressProc progress;          // 0x1000c
};

struct VtHiddenLineEdge;
struct VtHiddenLineBypass;
struct VtHiddenLineCircle;

// A prepared primitive's place in the prepared list (1 for the first).
struct VtHiddenLineOrdinal {
  const VtPrimitive *primitive;
  uint32_t ordinal;
};
struct VtHiddenLineCell;

// The bucket grid of edge ends over the image window (second pass).
struct VtHiddenLineGrid {
  uint32_t started;
  uint32_t mapped;        // 0: the viewport is the whole image, coordinates map as they are
  int32_t columns, rows;  // columns + 1 by rows + 1 cells
  int32_t band;           // overlap band, cells
  int32_t rings;          // chain search rings
  VtHiddenLineCell **cells;
  size_t capacity;  // slots of the cell array
  double x_per_unit, y_per_unit, width, height, x_lo, x_hi, y_lo, y_hi;
  uint32_t *row_count, *column_count;
  int32_t occupied_row_lo, occupied_row_hi, occupied_column_lo, occupied_column_hi;
  float ppu_x, ppu_y;  // pixels per unit
  VtPool *cell_pool, *line_pool, *candidate_pool;
  double longest;   // the longest major-axis extent of an admitted edge
  uint64_t visits;  // cells visited by overlap walks, for measurements
  // The table of the grid edges' end points, hashed by squares of side
  // point_side: lists of (edge | end index) words.
  uintptr_t *points;
  uint32_t point_bits, point_count;  // 2^bits lists
  double point_side;
  uint64_t links;          // ends linked into cells so far: a cell's lists run from the latest
  uint64_t overlap_walks;  // walks for overlap candidates so far
};

struct VtHiddenLineContext {
  uint32_t render_word;
  VtHiddenLineProgress progress;
  double progress_step;
  uint32_t detailed;
  uint32_t work_count, work_counter;
  // The running render's mode, fixed when it starts: the application may
  // change the control from a callback, but a render that began in one
  // pass never reaches the second pass's stages (nor the other way).
  uint32_t two_pass;
  uint32_t two_pass_control;  // control 0x19000a as the application (or 0x190002) set it
  uint32_t rendering;         // renders running, the outer one's callbacks starting the others
  uint32_t drop_subpixel, merge_duplicates, merge_overlaps;
  int32_t rings_x, rings_y, kind2_pixels, silhouette_pixels;
  // The render's lists.
  VtReference *scene;     // the scene's list as the render found it
  VtReference *prepared;  // plain primitives the stages work on
  VtReference *copies;    // expansions made for the render (destroyed at clean-up)
  uint32_t pen_word;
  VtPool *pools[6];  // split, test node, plane, occluder, edge data, node
  uint32_t property_codes[20];
  uint32_t property_count;
  VtContents *extra_contents;
  VtHiddenLineEdgeNode *temporary;  // edges made along the window by clipping outlines
  VtHiddenLineEdgeNode *whole;
  uint32_t whole_count;
  VtHiddenLineOccluder *occluders;
  uint32_t occluder_count;
  VtHiddenLineEdgeNode *candidates;
  uint32_t candidate_count;
  TestNode *points;
  uint32_t point_count;
  VtReference *clip_vertices;  // vertices clipping of edges made (with their primitive)
  uint32_t nothing_posted;     // "draws nothing" already posted this render
  // Controls.
  uint32_t depth_limit, cross_leaf, point_leaf, occluder_leaf;
  // A leaf region with at least this many occluders indexes them by cell
  // (the default kIndexFrom); the answers are the same either way.
  uint32_t index_from;
  uint32_t candidate_mask, output_mask, exclusion_mask;
  double depth_tolerance, kind2_tolerance, side_tolerance, back_face_tolerance, edge_on_tolerance, offset;
  float clip_tolerance, point_tolerance;
  uint32_t announce_primitive, announce_element, intersect, identity, attributes, world_output, world_store;
  uint32_t keep_grid;
  // View values.
  const double *projection;  // the matrix, then its inverse
  const int32_t *resolution;
  const int32_t *viewport;
  const float *window_value;
  const float *direction;
  const int32_t *projection_kind;
  const float *eye;
  float window[4];
  // Callbacks.
  Callbacks cb;
  VtProc user[9];  // user callbacks 0x190001-0x190009 (slot 7 unused)
  uint32_t *sticky;
  Layout layout;
  VtPool *stored_pools[4];  // stored segments, their nodes, info copies, bypass groups (two-pass)
  uint32_t bypass_started, chain_started, arc_started;
  VtPool *arc_pools[2];  // circle records (0x19000f), their nodes (0x190010)
  VtHiddenLineGrid grid;
  VtStatus admit_status;        // what admission could not do for lack of memory
  VtHiddenLineEdge *stored[2];  // stored segments: visible list, hidden list
  uint32_t stored_count[2];
  VtHiddenLineBypass *bypass;     // bypass groups
  VtHiddenLineOrdinal *ordinals;  // prepared primitives by handle (two-pass)
  uint32_t ordinal_count;
  uint32_t not_finite_posted;      // a non-finite end already reported this render
  VtHiddenLineEdgeNode *deferred;  // window edges kept until the stored segments are gone
  // Output scratch of stage 6, grown on demand: polyline records (their
  // pointers after them), point pointers (the drawn copies after them),
  // attribute pointers, three-coordinate points; capacities in entries.
  void *scratch[4];
  uint32_t scratch_capacity[4];
  // The chain being built (stage 6): edges linked head to tail.
  VtHiddenLineEdge *chain_head, *chain_tail;
  uint32_t chain_count;
  uint32_t circle_refused_posted;  // a refused circle answer already reported this render
  VtHiddenLineCircle *circles;     // the arc stage's circle records
};

VtHiddenLineContext *State();

// Gives every block of a list linked through next back to its pool.
template <class T>
void ListFree(VtPool *pool, T *list) {
  while (list != nullptr) {
    T *next = list->next;
    (void)VoPoolFree(pool, list);
    list = next;
  }
}

// ---- render.cpp --------------------------------------------------------------
// The render of execute code 0x190001 or 0x190002, in the mode two_pass holds.
VtStatus Render(uint32_t code);
VtStatus Progress(VtHiddenLineContext *s, uint32_t stage, double percent, VtStatus status);
// After each item of a stage: raises the work counter and reports.
VtStatus ProgressStep(VtHiddenLineContext *s, uint32_t stage);
// Polls the driver; 0x40 (and the sticky bit) on an interrupt.
VtStatus InterruptPoll(VtHiddenLineContext *s);
bool Interrupted(const VtHiddenLineContext *s);

// ---- prepare.cpp (stages 1 and 2) ------------------------------------------
VtStatus PrepareScene(VtHiddenLineContext *s, VtReference *list);
VtStatus ExtractEdges(VtHiddenLineContext *s);
// Offsets of the primitive's contents, answered as a copy of the one
// cached record: a reference to the record would change under its holder
// at the next lookup for other contents (two occluders compared, or a
// point's edge and its occluders, of a polygon and a mesh).
Layout LayoutFor(VtHiddenLineContext *s, const VtPrimitive *p);
// The supporting line a x + b y + c = 0 through two projection points,
// (a, b) of unit length and pointing to the right of p0 -> p1.
void LineThrough(const float *p0, const float *p1, VtHiddenLineEdgeData *rec);
// The edge's working vertex pair with its divided positions; false when
// the edge has none.
bool Ends(const Layout &l, void *edge, EdgeEnds *out);
uint32_t &EdgeFlags(const Layout &l, void *edge);
VtHiddenLineEdgeData *EdgeRecord(const Layout &l, void *edge);
void *const *EdgePolygons(const Layout &l, void *edge);
// Gives back what stages 1 to 3 put on the scene and the work lists.
void ReleaseWork(VtHiddenLineContext *s);
// Frees a reference ring made for the render with the vertices clipping
// made on it (their vertex link is null).
void PairFree(VtPrimitive *p, const Layout &l, VtReference *ring);
void ReleasePrepared(VtHiddenLineContext *s);

// ---- crossings.cpp (stage 3) -----------------------------------------------
// A cut within (|s| + |t| + 1) x this of a cut s already listed (0 and 1
// included) is dropped.
constexpr double kSplitTolerance = 1e-4;
VtStatus Crossings(VtHiddenLineContext *s);
// The subdivision depth of stages 3 and 4: the control read signed,
// clamped to 1..30.
int32_t DepthUsed(const VtHiddenLineContext *s);
VtStatus TestPointsMake(VtHiddenLineContext *s);

// ---- splits.cpp (the split lists) --------------------------------------------
// Inserts a cut at t into a sorted split list; 0x20000006 when out of pool.
VtStatus SplitInsert(VtHiddenLineContext *s, VtHiddenLineSplit **list, float t);
// The split list 0.0 -> 1.0 of a new candidate.
VtStatus SplitsStart(VtHiddenLineContext *s, VtHiddenLineSplit **list);
void SplitsFree(VtHiddenLineContext *s, VtHiddenLineSplit *list);
// The cuts of stage 3 in the order they come, each with its edge's record
// (order: its place in the log); a block from VoAllocate.
struct CutLog {
  struct Entry {
    VtHiddenLineEdgeData *rec;
    float t;
    uint32_t order;
  };
  Entry *entries = nullptr;
  uint32_t size = 0, capacity = 0;
};
// Logs a cut at t (within 0..1, or not a number) of the edge whose record
// is rec; 0x20000006 when the log cannot grow.
VtStatus CutLogAdd(VtHiddenLineContext *s, CutLog *log, VtHiddenLineEdgeData *rec, float t);
// Puts the logged cuts on their edges' split lists, each list keeping
// exactly what SplitInsert of its cuts in their order would keep, in
// O(k log k) for k cuts; releases the log.
VtStatus CutLogApply(VtHiddenLineContext *s, CutLog *log);
void CutLogRelease(CutLog *log);

// ---- near_pairs.cpp (stage 3's search) ---------------------------------------
// Every pair (u, v), u < v, of the segments ends[0..count) that crosses,
// touches or passes within band of the other, and some more: a superset,
// sorted, each once, as (u << 32) | v in a block from VoAllocate that the
// caller frees. Pairs that share an end exactly come out only where a far
// end runs near the other segment. No pair found: a block all the same,
// holding none. More pairs than `most`: 0 with no block (test every pair).
// Polls s's interrupt (s may be null); 0, 0x40 or 0x20000006, with no block
// on failure.
VtStatus NearPairsFind(VtHiddenLineContext *s, const pred::Point2 (*ends)[2], uint32_t count, double band,
                       uint32_t most, uint64_t **pairs, uint32_t *pair_count);

// ---- visibility.cpp (stage 4) ----------------------------------------------
VtStatus Visibility(VtHiddenLineContext *s);
// The least occluder count of a leaf region that indexes its occluders.
constexpr uint32_t kIndexFrom = 24;
// 1 visible, 0 hidden by one of the occluders.
int PointVisible(VtHiddenLineContext *s, const VtHiddenLineTestPoint &t,
                 const VtHiddenLineOccluder *occluders);
// Where a point lies against a ring of divided projection positions: 1
// inside, 0 outside, -1 on its outline.
int PointInRing(const Layout &l, const VtReference *ring, double x, double y);
void TestPointsFree(VtHiddenLineContext *s);
// Moves a world point of a kind-2 edge of direction dir (unit) off the
// edge by -10 offset x (dir x n), n the first polygon's normal; false (no
// move) unless that polygon turns from the eye (n . v >= 0.001, v the
// direction of sight).
bool KindTwoMove(const double dir[3], const float n[3], const double v[3], double offset,
                 const float world[3], float moved[3]);

// ---- output.cpp ---------------------------------------------------------------
// The prelude of every drawing; info is the drawing's source records (the
// second pass's), null for one-pass drawings.
void PenSelect(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
               VtHiddenLineEdgeInfo *info);
// Group begin, one shape request, group end; the shape's answer.
VtStatus Shape(VtHiddenLineContext *s, uint32_t type, uint32_t count, VtDrawRecord *record);
// A two-point line; a and b are (x/w, y/w, z/w, w) or world (x, y, z, 1).
VtStatus DrawLine(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls, const float *attr_a,
                  const float *attr_b, const float a[4], const float b[4],
                  VtHiddenLineEdgeInfo *info = nullptr);
// Draws or stores one segment.
VtStatus SegmentOut(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls, const float *attr_a,
                    const float *attr_b, const float a[4], const float b[4]);
VtStatus WholeEdgesOutput(VtHiddenLineContext *s);
VtStatus FrameBegin(VtHiddenLineContext *s);  // the driver's answer
void FrameEnd(VtHiddenLineContext *s);

// ---- chains.cpp, arcs.cpp --------------------------------------------------------
// A polyline of count points through the driver (prelude, group, the
// polyline callback, one shape request).
VtStatus DrawPolyline(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                      VtHiddenLineEdgeInfo *info, VtHiddenLineEdgeInfo **records, float **points,
                      float **attributes, float *points3, uint32_t count);

// ---- second_pass_hooks.cpp -------------------------------------------------
VtStatus SecondPassBegin(VtHiddenLineContext *s);
VtStatus SegmentStore(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                      const float *attr_a, const float *attr_b, const float a[4], const float b[4]);
VtStatus SecondPassAdmit(VtHiddenLineContext *s);
VtStatus SecondPassDraw(VtHiddenLineContext *s);
void SecondPassRelease(VtHiddenLineContext *s);
// Destroys the window edges clipping made (the work of the one pass, or
// what the second pass kept until its stored segments were freed).
void WindowEdgesDestroy(VtHiddenLineContext *s, VtHiddenLineEdgeNode *list);

}  // namespace vo::hid

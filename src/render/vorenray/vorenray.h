// The ray tracer (vorenray, module 7): its context, the octree over the
// gathered scene, and what its files share.
//
// Invariants a reader must know:
// - The object table, hit records, projected vertices and grid are the
//   master's: a clone of a threaded pass shares them read-only
//   (table_shared). Stamps, walk words and split scratch are every
//   context's own. The gathered lists (VtRaySceneShare) are the process's,
//   shared by every context.
// - The octree of a threaded frame is the master's, read by every worker
//   (tree_owner): complete and frozen for a repeated scene, else grown by
//   the walks themselves. A growing tree is split under a stripe lock of
//   the slot (SplitShare), the new inner node built privately and
//   published with a release store into the slot; walks load slots with
//   acquire (SlotLoad). The block of a leaf a split replaces is retired,
//   not freed, until the frame ends, since other walks may still read its
//   count; its words go at once (no walk tests a replaced leaf). The
//   memory count, kept atomically, is lowered when it is retired.
// - In a threaded pass the frame (main thread) prepares the scene before
//   the workers start and releases it after they are joined; a pass over a
//   band only clears its walk words.
// - An object word is the object's table index times 8 plus its kind in the
//   low 3 bits (1-3 triangles, 5-7 other polygons; the low two bits name the
//   dominant axis of the plane normal: 1 z, 2 y, 3 x). Indices stay below
//   2^29, so 0 is never a word of an object.
// - Leaves test objects from the hit records alone: plane, kind, flags and
//   the vertices projected onto the two axes other than the dominant one.
//   No leaf test touches the property system.
// - Every change of an octree during walks (a split, its memory count, a
//   rebuild) goes through IndexChange (octree.cpp).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <system_error>
#include <thread>

#include <vo/vo_driver.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_shader.h>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"
#include "render/vorenray/face.h"

static_assert(sizeof(VtRaySceneShare) == 72 && offsetof(VtRaySceneShare, trace) == 8 &&
                  offsetof(VtRaySceneShare, octree) == 32,
              "the shared scene record is read by layout");

namespace vo::ray {

constexpr uint32_t kPoolLeaves = 0x70002;
constexpr uint32_t kPoolInner = 0x70001;
constexpr uint32_t kMaxObjects = 1u << 29;
constexpr uint32_t kMaxGridDepth = 15;
// 2^8 cells per axis to start with. The grid changes the speed of a walk,
// never its hits; a program whose scene holds a dense region small against
// the scene's bounds asks for a deeper grid through control 0x70001 (lazy
// splits reach down only where leaves are crowded).
constexpr uint32_t kDefaultGridDepth = 8;
constexpr uint32_t kMaxRayDepth = 256;

// Octree nodes: a tag word first, so that a walk tells them apart.
enum : uint32_t { kNodeLeaf = 1, kNodeInner = 2 };
// Why a walk stopped at a leaf it would split (RayContext::split_failed).
enum : uint32_t { kSplitNoMemory = 1, kSplitStale = 2 };
struct Node {
  uint32_t tag;
};
struct Leaf {
  uint32_t tag;  // kNodeLeaf
  uint32_t count;
  uint32_t refs;  // parents that hold it; the empty leaf is never counted
  uint32_t spare;
  uint32_t *words;
};
// A leaf's block in its pool: the object words of a leaf of a few objects
// lie in it, next to the count a walk reads first (the memory count is the
// leaf's and its words' all the same).
constexpr uint32_t kLeafInline = 8;
struct LeafBlock {
  Leaf leaf;
  uint32_t words[kLeafInline];
};
struct Inner {
  uint32_t tag;  // kNodeInner
  uint32_t spare;
  Node *child[8];  // bit 0 x, bit 1 y, bit 2 z: the upper half
};

// One entry of the object table.
struct VtRayObject {
  void *polygon;
  VtPrimitive *primitive;
};
static_assert(sizeof(VtRayObject) == 16);

// Flags of a hit record: the primitive's own (two-sided, casts no shadow)
// and two of the octree's.
constexpr uint32_t kHitConvex = 0x1;     // the projected polygon is convex
constexpr uint32_t kHitClockwise = 0x2;  // and turns clockwise in its projection
constexpr uint32_t kHitTwoSided = VO_PRIMITIVE_TWO_SIDED;
constexpr uint32_t kHitNoShadow = VO_PRIMITIVE_NO_SHADOW_CAST;

// What a leaf test reads of one object; 32 bytes, one per table entry.
struct ObjectHit {
  float plane[4];  // unit normal a, b, c and offset d
  uint32_t kind;
  uint32_t flags;
  uint32_t first;  // its first projected vertex (u, v) in the vertex array
  uint32_t count;  // vertices, at least 3
};
static_assert(sizeof(ObjectHit) == 32);

enum class Filter : uint32_t { kTrace, kShadow };

struct SplitShare;
// One octree of a SplitShare: its root slot.
struct SharedTree {
  Node *root;
};

// The context of module 7: one master, one clone per worker context.
struct RayContext {
  uint32_t prepared;
  uint32_t depth;
  uint32_t max_depth_effective;
  uint32_t max_depth;
  float cutoff;
  float weight;
  float contrast;
  uint32_t tracing;
  uint32_t pass_kind;
  uint32_t hit_word;  // object word of the last hit; 0 none
  float hit_point[3];
  const Leaf *walk_leaf;  // the leaf the current walk tested last
  uint32_t tests;         // ray-polygon tests of the current walk
  double hit_distance;
  double min_distance;
  double facing;  // of the nearest hit accepted so far in this walk
  double tolerance;
  float shadow_bias;
  float spare_float;
  uint32_t alpha_subdivide;
  uint32_t channels;
  uint32_t polls[4];
  VtContents *contents;  // what expansion for tracing carries
  VtShader *background;
  VtShader *foreground;
  double view_direction[3];
  const float *view_direction_value;  // the current view's, a stable address
  VtShaderGlobals *globals;
  uint32_t *kernel_sticky;
  VtStatus sticky;
  uint32_t band_sticky;  // a worker's own sticky word while it traces bands of a replayed picture
  // Cached callbacks (refreshed when callbacks change).
  VtDriverNoArgProc poll;
  VtDriverFrameProc begin_frame;
  VtDriverNoArgProc end_frame;
  VtDriverKindProc accept;
  VtDriverRowProc row_bytes;
  VtDriverRowProc row_floats;
  VtDriverRowProc row_rgba;
  VtProgressProc progress;
  // Octree.
  VtPool *leaf_pool;
  VtPool *inner_pool;
  uint32_t grid_depth;
  uint32_t leaf_limit;  // control 0x70002: split threshold and unbounded warning count
  uint32_t grid;        // cells per axis
  double box[6];        // padded scene box xmin, xmax, ymin, ymax, zmin, zmax
  double scale[3];      // grid cells per unit length
  double margin;        // overlap margin: 1e-6 x the largest box extent, at least 1e-6
  double *bounds[3];    // grid + 1 cell boundaries per axis
  uint64_t memory_limit;
  uint64_t memory_used;
  Node *root;  // null while no octree exists
  VtRayObject *objects;
  ObjectHit *hits;
  float *uv;     // projected vertices, two floats each
  float *boxes;  // per object: xmin, xmax, ymin, ymax, zmin, zmax of its vertices
  uint32_t object_count;
  uint32_t uv_count;
  // Per object: the walk that tested it last (one test per object and
  // walk). Two bytes, since every worker holds an array of its own: the
  // clearing when the count wraps costs little against 65535 walks.
  uint16_t *stamps;
  uint16_t stamp;  // the current walk's
  uint32_t *unbounded;
  uint32_t unbounded_count;
  uint32_t split_failed;    // a split of the current walk ran out of memory (kSplitNoMemory) or came to a
                            // leaf of a shared octree built again since the walk began (kSplitStale)
  uint32_t holds_index;     // the walk holds the shared octree alone (IndexHold)
  uint64_t splits;          // leaves split since the octree was built
  uint64_t total_tests;     // ray-polygon tests since the octree was built
  uint32_t *split_scratch;  // a split's words and children bytes, kept with the octree
  size_t split_capacity;    // its bytes
  uint32_t split_threads;   // threads a split of many objects may use (the build's)
  // The octree a render pass left, with what it was built over: the next
  // build over the same objects, grid and leaf limit takes its splits.
  struct Kept {
    Node *root;
    uint64_t node_bytes;  // its nodes' memory count
    ObjectHit *hits;
    float *uv;
    float *boxes;
    uint32_t *words;  // the root's object words
    uint32_t object_count, uv_count, root_count, grid_depth, leaf_limit;
    uint32_t complete;  // its leaves are split wherever a walk would split them
  } kept;
  uint32_t keep_index;   // the release at a pass's end keeps the octree
  uint32_t frozen;       // no walk splits: the octree is complete and may be shared
  uint32_t tree_shared;  // the octree is the master's (a clone's, frozen)
  uint32_t repeated;     // the last build found the scene of the kept octree
  uint32_t complete;     // OctreeSplitAll found nothing more to split
  // Sharing of the gathered scene.
  VtRaySceneShare share;    // this context's working copy
  VtRaySceneShare *shared;  // the process's block (the master's)
  VtMultiThreadLock *once;  // gathering runs once per pass
  VtMutexWord *mutex[3];
  uint32_t is_clone;
  uint32_t layers_cut_posted;  // the transparent-layer limit was reported this pass
  void *threaded;              // the threaded pass under way (its pass procedure and region)
  uint64_t eye_rays;           // traced by the last pass (eye and midpoint rays)
  uint32_t *root_words;        // the root leaf's object words, kept for clones and rebuilds
  uint32_t root_count;
  uint32_t table_shared;  // the table is the master's (a clone's, in a threaded pass)
  uint32_t frame_holds;   // the frame keeps the scene prepared across its bands
  uint32_t gathering;     // the scene is being gathered and built (its polls reach the application)
  VtReference *gathered;  // the primitive list the prepared scene was gathered from
  // A clone's: the context whose octree its walks read and split (the
  // master's); null when the context walks its own.
  RayContext *tree_owner;
  // The owner's, while workers split its octree; null otherwise.
  SplitShare *split_share;
  SharedTree *walk_tree;  // the shared octree the current walk started in
};

// The context whose octree c walks.
inline RayContext *TreeOf(RayContext *c) { return c->tree_owner != nullptr ? c->tree_owner : c; }

// An octree slot (the root or an inner node's child) as walks read it: a
// split publishes into it while other workers walk.
inline Node *SlotLoad(Node **slot) { return std::atomic_ref<Node *>(*slot).load(std::memory_order_acquire); }

RayContext *Context();
// The master record (the application's context).
RayContext *MasterContext();
// True for a worker's clone inside a threaded pass.
bool OnWorker(const RayContext *c);
// The copy and free procedures of the context variables.
VtStatus ContextClone(void *state, void **copy);
VtStatus ContextCloneDestroy(void *copy);

// A ray handed to the octree walk, in double.
struct Query {
  double origin[3];
  double direction[3];
  double near_distance;
  double far_distance;  // lowered to each accepted hit
  const void *excluded;
  Filter filter;
  RayContext *ctx;
};

// ---- module.cpp ------------------------------------------------------------
// Polls the driver for an interrupt: 64 when asked to stop (and 0x40 into
// the kernel's sticky word), else 0. Without a poll callback: 0.
VtStatus AbortPoll(RayContext *c);
// The kernel's sticky word, read and ORed atomically (workers share it); 0
// without one.
uint32_t KernelSticky(const RayContext *c);
void KernelStickyOr(const RayContext *c, uint32_t bits);
// Reads the cached callbacks, the kernel's sticky word and the shader
// globals again.
VtStatus CallbacksFetch();

// ---- trace.cpp -------------------------------------------------------------
// Traces one ray and shades what it hits, continuing behind surfaces that are
// not opaque; a miss asks the background and foreground shaders. Answers 1
// for a hit, 0 for a miss; the colour goes to out, the opacity to the alpha
// global.
uint32_t TraceRay(RayContext *c, float *out, const float *origin, const float *direction,
                  double near_distance, double far_distance, const void *excluded);

// ---- pass.cpp --------------------------------------------------------------
// Execute 0x70001 (preview) and 0x70002 (full pass); other codes 0x20000012.
VtStatus RenderEntry(uint32_t code);

// A worker's clone talks to no driver: its rows go to the main thread
// through the work farm, the frame and progress are the main thread's.
void WorkerCallbacks(RayContext *c);

// ---- scene.cpp -------------------------------------------------------------
VtStatus ScenePrepare(RayContext *c);
// The current background and foreground shaders (null without an evaluate
// entry) into the context.
void BackgroundsFetch(RayContext *c);
VtStatus SceneRelease(RayContext *c);
// Gives back every list the share words hold and clears them.
void SharedListsRelease(VtRaySceneShare *share);

// ---- table.cpp -------------------------------------------------------------
// A growable array counted in elements; sizes checked before VoAllocate's
// 32-bit size.
template <class T>
inline bool Reserve(T *&array, uint32_t &capacity, size_t needed) {
  if (needed <= capacity) return true;
  size_t grown = std::max<size_t>(needed, capacity < 1024 ? 1024 : size_t{capacity} * 2);
  if (grown > UINT32_MAX / sizeof(T)) grown = needed;
  if (grown > UINT32_MAX / sizeof(T)) return false;
  void *block = VoMemoryReallocate(array, static_cast<uint32_t>(grown * sizeof(T)));
  if (block == nullptr) return false;
  array = static_cast<T *>(block);
  capacity = static_cast<uint32_t>(grown);
  return true;
}

// Helper threads a table build or a split may use at most.
constexpr uint32_t kMostBuildThreads = 16;

// Runs slice(j) for each j below `threads`, slice 0 on the calling thread
// and the others on helper threads, all joined before it returns; a slice
// whose thread cannot start runs on the calling thread. The helpers read
// shared records and write their own slices only: nothing allocates, posts
// or reads a context on them.
template <class F>
void OnHelperThreads(uint32_t threads, F &&slice) {
  std::thread helpers[kMostBuildThreads];
  threads = std::min(threads, kMostBuildThreads);
  uint32_t started = 1;
  for (; started < threads; ++started) {
    try {
      helpers[started] = std::thread([&slice, started] { slice(started); });
    } catch (const std::system_error &) {
      break;
    }
  }
  slice(0);
  for (uint32_t j = started; j < threads; ++j) slice(j);
  for (uint32_t j = 1; j < started; ++j) helpers[j].join();
}
// What a table build leaves besides the context's arrays: the root's words
// (the caller's to free, also on failure) and their objects' box.
struct TableMade {
  uint32_t *bounded = nullptr;
  uint32_t bounded_count = 0;
  double box[6];
  // The hit records, boxes and projected vertices are the kept octree's,
  // filled in place; `changed` when the fill wrote over any of them.
  bool kept_arrays = false;
  bool changed = false;
};
// Builds the object table, hit records, projected vertices and unbounded
// words over the trace list into the context, on `threads` threads (0: as
// many as the work farm's worker count and the scene's size allow). The
// result is the same for any count.
VtStatus TableBuild(RayContext *c, uint32_t threads, TableMade *made);

// ---- octree.cpp ------------------------------------------------------------
// Builds the object table, hit records, grid and root over the trace list
// (`threads` as for TableBuild).
VtStatus OctreeBuild(RayContext *c, uint32_t threads = 0);
// Frees the octree, table and arrays; the memory count goes back to 0.
void OctreeRelease(RayContext *c);
// Clears the octree's words without freeing (a clone's copies of the
// master's).
void OctreeForget(RayContext *c);
// The release at a pass's end: the octree and what it was built over are
// kept for the next build, the rest freed.
void OctreeKeep(RayContext *c);
// Frees a kept octree.
void KeptDrop(RayContext *c);
// Splits every leaf the walks would split. True when the octree is then
// complete; false when the memory limit stopped it, the octree then back
// to its root leaf.
bool OctreeSplitAll(RayContext *c);
// A clone's octree over the master's table: the table, hit records,
// vertices and grid shared read-only, stamps of its own; the octree the
// master's when it is frozen or split by all workers, else a root leaf of
// its own.
VtStatus OctreeShare(RayContext *c, RayContext *master);
// Lets the workers of a threaded frame split the master's octree (false
// when out of memory); SplitShareEnd, once they are joined, frees what the
// splits retired and makes the octree the master's alone again.
bool SplitShareBegin(RayContext *c);
void SplitShareEnd(RayContext *c);
// The slot of the root of the octree c owns (held in its SplitShare while
// workers split it) and its SharedTree then (else null).
Node **RootSlot(RayContext *owner, SharedTree **tree);
// A grid cell range: lower corner in grid cells and its size (a power of 2).
struct Cell {
  uint32_t x, y, z, size;
};
// The one procedure through which walks change an octree. With a slot: the
// leaf held there is split for its cell (false when memory ran out: the leaf
// stays and split_failed is set; true also when another worker split it
// first). Without one: the whole octree is released and built again, or,
// while workers share it, replaced by its root leaf (false when that fails).
bool IndexChange(RayContext *c, Node **slot, const Cell &cell);
// While workers share c's octree: IndexHold waits until no other walk
// splits it or builds it again and keeps them waiting until IndexLet, so
// that a walk retried after a rebuild starts from the root leaf and splits
// alone, as on one thread (the memory limit then stops it only where it
// stops that walk on one thread). Otherwise both do nothing.
void IndexHold(RayContext *c);
void IndexLet(RayContext *c);

// ---- walk.cpp --------------------------------------------------------------
// Walks one ray; answers the object word of the nearest accepted hit or 0,
// and writes the context's last hit.
uint32_t Traverse(Query &q);
// Fills a query; false (nothing to walk) for rays no walk can answer.
bool QueryFill(Query &q, RayContext *c, const float *origin, const float *direction, double near_distance,
               double far_distance, const void *excluded, Filter filter);
// Clears the last hit and the walk's words.
void WalkWordsClear(RayContext *c);
// A new stamp for a walk; when the count wraps every stamp is cleared.
void StampNext(RayContext *c);
// Whether a hit point on the polygon's plane lies in the polygon (uv: its
// first projected vertex): the robust orientation predicate's even-odd count
// plus the tolerance rule.
bool PolygonInside(const ObjectHit &h, const float *uv, double tolerance, const double *point);
// Tests a run of object words in order, one object at a time, and accepts
// the nearest hit into the query and the context's last hit.
void WordsTestScalar(Query &q, const uint32_t *words, uint32_t count);

// ---- leaf_lanes.cpp --------------------------------------------------------
// The ways of testing a leaf's objects: one at a time, or triangles two
// (SSE2) or four (AVX2) at once.
enum class LeafPath : uint32_t { kScalar, kSse2, kAvx2 };
// The fastest path this processor runs: AVX2 when it has it, else one object
// at a time.
LeafPath LeafPathFastest();
// What decided the containment of the objects that reached it in a lanes
// test: the lanes themselves, or the one-at-a-time test (for triangles the
// lanes left undecided, and for other polygons).
struct LaneCounts {
  uint64_t lanes;
  uint64_t undecided;
  uint64_t polygons;
};
// WordsTestScalar with the same hits bit for bit (word, distance, point),
// tests counted alike. counts, when given, is added to.
void WordsTestLanes(Query &q, const uint32_t *words, uint32_t count, LeafPath path,
                    LaneCounts *counts = nullptr);

}  // namespace vo::ray

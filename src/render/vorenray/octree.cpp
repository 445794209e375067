// The octree over the object table (table.cpp): the grid of cell
// boundaries, the root leaf, lazy splits and release.
//
// Building reads the scene model once per prepare. Memory is counted in
// real sizes against control 0x70007; the count
// is the octree owner's, changed atomically (the workers of a threaded
// frame split one octree).
//
// Overlap of a polygon with a cell is decided conservatively with a margin
// of 1e-6 times the largest box extent (at least 1e-6): boxes, the plane
// against the cell, and for convex polygons each projected edge against the
// cell's projection. A polygon touching a cell is never left out of it.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "scene/vogeom/face.h"
#include "render/vorenray/vorenray.h"
#include "kernel/vosystem/face.h"

namespace vo::ray {

namespace {

// The shared empty leaf: never freed, never counted.
constinit Leaf g_empty = {kNodeLeaf, 0, 0, 0, nullptr};

}  // namespace

// What the workers of a threaded frame share to split one octree. A split
// holds the stripe of its slot, so that two workers never split one slot
// and splits of different slots run side by side; a rebuild, and the walk
// retried after it, hold the octree alone (the gate). The octree's root,
// memory count and split count stay here while
// the workers split (the main thread copies the master's record for each
// worker it starts meanwhile), and go back to the master at the end.
//
// A walk splits only in the octree it started in (`current` when it read
// it): a rebuild publishes a new tree record, and a walk still in the old
// one tests its leaves as they are until it comes to one it would split;
// then it walks again in the new one. Hence a walk never tests a leaf that a
// split replaced (it finds the slot changed and descends), and the words of
// a retired leaf go at once; its block, whose count walks may still read,
// stays until the frame's end.
//
// Every walk reads `current` and the root it points to, while splits write
// the counts, the retired list and the locks: each group has cache lines of
// its own, and so has each stripe, lest the splits' writes slow every walk
// and every other split. The stripes are many, so that a worker seldom
// waits for a split of another slot that shares its stripe.
constexpr size_t kCacheLine = 64;
struct alignas(kCacheLine) Stripe {
  std::mutex m;
};
struct alignas(kCacheLine) SplitShare {
  static constexpr uint32_t kStripeBits = 9, kStripes = 1u << kStripeBits;
  Stripe stripes[kStripes];
  alignas(kCacheLine) std::mutex pools;
  // The gate: a holder closes it and waits until the splits under way
  // have left; a split that finds it closed leaves and waits until it is
  // open again.
  alignas(kCacheLine) std::atomic<uint32_t> closed{0};
  std::atomic<uint32_t> splitting{0};
  // Read by every walk.
  alignas(kCacheLine) SharedTree first;
  std::atomic<SharedTree *> current{&first};
  // Written by splits.
  alignas(kCacheLine) uint64_t memory_used = 0;
  uint64_t splits = 0;                   // (both changed atomically)
  std::atomic<Leaf *> retired{nullptr};  // leaves splits replaced, freed at the frame's end
  SharedTree **trees = nullptr;          // octrees rebuilds replaced, freed at the frame's end
  uint32_t tree_count = 0, tree_capacity = 0;
  void *block = nullptr;  // the allocation it sits in

  std::mutex &StripeOf(Node **slot) {
    const uint64_t key = reinterpret_cast<uintptr_t>(slot) >> 3;
    return stripes[(key * 0x9E3779B97F4A7C15ull) >> (64 - kStripeBits)].m;
  }
};

namespace {

bool StampsMake(RayContext *c) {
  c->stamp = 0;
  if (c->object_count == 0) return true;
  c->stamps = static_cast<uint16_t *>(VoAllocate(c->object_count * sizeof(uint16_t)));
  if (c->stamps != nullptr) std::memset(c->stamps, 0, c->object_count * sizeof(uint16_t));
  return c->stamps != nullptr;
}

uint64_t TableBytes(const RayContext *c) {
  return uint64_t{c->object_count} *
             (sizeof(VtRayObject) + sizeof(ObjectHit) + 6 * sizeof(float) + sizeof(uint32_t)) +
         uint64_t{c->uv_count} * 2 * sizeof(float) + uint64_t{c->unbounded_count} * sizeof(uint32_t);
}

// Widens the box to a cube, pads it and divides it into the grid. The
// cube has the box's largest extent and the box's centre, so that the
// cells are cubes and no split is spent on a thin axis; an axis of the
// largest extent keeps its ends.
bool GridMake(RayContext *c, const double *box) {
  c->grid = 1u << c->grid_depth;
  const double g = c->grid;
  double cube[6], side = 0;
  for (int a = 0; a < 3; ++a) {
    double lo = box[2 * a], hi = box[2 * a + 1];
    if (hi - lo < 2e-6) lo -= 1e-6, hi += 1e-6;
    cube[2 * a] = lo;
    cube[2 * a + 1] = hi;
    side = std::max(side, hi - lo);
  }
  for (int a = 0; a < 3; ++a) {
    double &lo = cube[2 * a], &hi = cube[2 * a + 1];
    if (hi - lo >= side) continue;
    const double centre = 0.5 * (lo + hi);
    lo = std::min(lo, centre - 0.5 * side);
    hi = std::max(hi, centre + 0.5 * side);
  }
  double largest = 0;
  for (int a = 0; a < 3; ++a) {
    double lo = cube[2 * a], hi = cube[2 * a + 1];
    const double half = 0.5 / g * (hi - lo);
    lo -= half;
    hi += half;
    c->box[2 * a] = lo;
    c->box[2 * a + 1] = hi;
    const double extent = std::max(hi - lo, 1e-6);
    c->scale[a] = g / extent;
    largest = std::max(largest, extent);
  }
  c->margin = std::max(1e-6, 1e-6 * largest);
  for (int a = 0; a < 3; ++a) {
    c->bounds[a] = static_cast<double *>(VoAllocate(static_cast<uint32_t>((c->grid + 1) * sizeof(double))));
    if (c->bounds[a] == nullptr) return false;
    double *b = c->bounds[a];
    b[0] = c->box[2 * a];
    b[c->grid] = c->box[2 * a + 1];
    // Recursive halving: each middle is the mean of its range's ends.
    for (uint32_t step = c->grid; step > 1; step /= 2)
      for (uint32_t i = 0; i < c->grid; i += step) b[i + step / 2] = (b[i] + b[i + step]) * 0.5;
  }
  return true;
}

// The owner's memory count, wherever it is kept now.
std::atomic_ref<uint64_t> MemoryCount(RayContext *owner) {
  return std::atomic_ref<uint64_t>(owner->split_share != nullptr ? owner->split_share->memory_used
                                                                 : owner->memory_used);
}

// Adds bytes to the owner's memory count unless that passes the limit.
bool MemoryTake(RayContext *owner, uint64_t bytes) {
  std::atomic_ref<uint64_t> used = MemoryCount(owner);
  uint64_t now = used.load(std::memory_order_relaxed);
  do {
    if (now + bytes > owner->memory_limit) return false;
  } while (!used.compare_exchange_weak(now, now + bytes, std::memory_order_relaxed));
  return true;
}

void MemoryGive(RayContext *owner, uint64_t bytes) {
  MemoryCount(owner).fetch_sub(bytes, std::memory_order_relaxed);
}

// The owner's pools are single-threaded: while workers split its octree,
// their calls take turns.
void *PoolTake(RayContext *owner, VtPool *pool) {
  if (SplitShare *s = owner->split_share) {
    std::lock_guard<std::mutex> turn(s->pools);
    return VoPoolAllocate(pool);
  }
  return VoPoolAllocate(pool);
}

void PoolGive(RayContext *owner, VtPool *pool, void *block) {
  if (SplitShare *s = owner->split_share) {
    std::lock_guard<std::mutex> turn(s->pools);
    VoPoolFree(pool, block);
    return;
  }
  VoPoolFree(pool, block);
}

// A new leaf of `count` words in a pool block: the words inline when they
// fit, else in an array of their own; null when that cannot be made.
Leaf *LeafFill(LeafBlock *block, const uint32_t *words, uint32_t count) {
  auto *array =
      count <= kLeafInline ? block->words : static_cast<uint32_t *>(VoAllocate(count * sizeof(uint32_t)));
  if (array == nullptr) return nullptr;
  std::memcpy(array, words, count * sizeof(uint32_t));
  auto *leaf = reinterpret_cast<Leaf *>(block);
  *leaf = Leaf{kNodeLeaf, count, 1, 0, array};
  return leaf;
}

Leaf *LeafMake(RayContext *owner, const uint32_t *words, uint32_t count) {
  const uint64_t bytes = sizeof(Leaf) + uint64_t{count} * sizeof(uint32_t);
  if (!MemoryTake(owner, bytes)) return nullptr;
  auto *block = static_cast<LeafBlock *>(PoolTake(owner, owner->leaf_pool));
  Leaf *leaf = block != nullptr ? LeafFill(block, words, count) : nullptr;
  if (leaf == nullptr) {
    if (block != nullptr) PoolGive(owner, owner->leaf_pool, block);
    MemoryGive(owner, bytes);
  }
  return leaf;
}

void LeafFree(RayContext *owner, Leaf *leaf) {
  if (leaf->words != reinterpret_cast<LeafBlock *>(leaf)->words) VoDeallocate(leaf->words);
  PoolGive(owner, owner->leaf_pool, leaf);
}

// A retired leaf's reference count is spent: its refs and spare words hold
// the link to the next retired leaf.
static_assert(offsetof(Leaf, refs) + sizeof(Leaf *) <= offsetof(Leaf, words) &&
              offsetof(Leaf, refs) % 8 == 0);

void Retire(SplitShare &s, Leaf *leaf) {
  if (leaf->words != reinterpret_cast<LeafBlock *>(leaf)->words) {
    VoDeallocate(leaf->words);
    leaf->words = reinterpret_cast<LeafBlock *>(leaf)->words;
  }
  Leaf *head = s.retired.load(std::memory_order_relaxed);
  do {
    std::memcpy(&leaf->refs, &head, sizeof head);
  } while (
      !s.retired.compare_exchange_weak(head, leaf, std::memory_order_release, std::memory_order_relaxed));
}

void LeafRelease(RayContext *owner, Leaf *leaf) {
  if (leaf == &g_empty) return;
  if (std::atomic_ref<uint32_t>(leaf->refs).fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  MemoryGive(owner, sizeof(Leaf) + uint64_t{leaf->count} * sizeof(uint32_t));
  // Other workers' walks may still be reading it.
  if (SplitShare *s = owner->split_share) return Retire(*s, leaf);
  LeafFree(owner, leaf);
}

void NodeRelease(RayContext *owner, Node *n) {
  if (n == nullptr) return;
  if (n->tag == kNodeLeaf) return LeafRelease(owner, reinterpret_cast<Leaf *>(n));
  auto *inner = reinterpret_cast<Inner *>(n);
  for (Node *child : inner->child) NodeRelease(owner, child);
  MemoryGive(owner, sizeof(Inner));
  PoolGive(owner, owner->inner_pool, inner);
}

// The children of a split whose cells the object's box may touch: bit i for
// child i. Each axis's lower half is [lo, mid], its upper half [mid, hi],
// both widened by the margin.
uint32_t ChildrenTouched(const RayContext *c, uint32_t index, const double *lo, const double *mid,
                         const double *hi) {
  static constexpr uint32_t kLower[3] = {0x55, 0x33, 0x0f};
  const double m = c->margin;
  const float *ob = c->boxes + 6 * index;
  uint32_t touched = 0xff;
  for (int a = 0; a < 3; ++a) {
    if (ob[2 * a] > mid[a] + m || ob[2 * a + 1] < lo[a] - m) touched &= ~kLower[a];
    if (ob[2 * a] > hi[a] + m || ob[2 * a + 1] < mid[a] - m) touched &= kLower[a];
  }
  return touched;
}

// True when an object whose box touches the box (xmin, xmax, ymin, ymax,
// zmin, zmax) may touch the box itself.
bool OverlapsInBox(const RayContext *c, uint32_t index, const double *box) {
  const double m = c->margin;
  const ObjectHit &h = c->hits[index];
  double low = h.plane[3], high = h.plane[3];
  for (int a = 0; a < 3; ++a) {
    const double n = h.plane[a];
    low += n * (n >= 0 ? box[2 * a] : box[2 * a + 1]);
    high += n * (n >= 0 ? box[2 * a + 1] : box[2 * a]);
  }
  if (low > m || high < -m) return false;
  if ((h.flags & kHitConvex) == 0) return true;
  // The cell's projection, widened by the margin, against each edge's
  // outer side.
  const int u = (h.kind & 3) == 3 ? 1 : 0, v = (h.kind & 3) == 1 ? 1 : 2;
  const double u0 = box[2 * u] - m, u1 = box[2 * u + 1] + m, v0 = box[2 * v] - m, v1 = box[2 * v + 1] + m;
  const double s = (h.flags & kHitClockwise) ? -1.0 : 1.0;
  const float *p = c->uv + 2 * h.first;
  for (uint32_t i = 0; i < h.count; ++i) {
    const float *a = p + 2 * i, *b = p + 2 * ((i + 1) % h.count);
    const double ex = s * (double{b[0]} - a[0]), ey = s * (double{b[1]} - a[1]);
    // The corner furthest inside: the largest ex (v - av) - ey (u - au).
    const double cu = ey >= 0 ? u0 : u1, cv = ex >= 0 ? v1 : v0;
    if (ex * (cv - a[1]) - ey * (cu - a[0]) < 0) return false;
  }
  return true;
}

// The box of a cell from the boundary arrays.
void CellBox(const RayContext *c, const Cell &cell, double *box) {
  const uint32_t lo[3] = {cell.x, cell.y, cell.z};
  for (int a = 0; a < 3; ++a) {
    box[2 * a] = c->bounds[a][lo[a]];
    box[2 * a + 1] = c->bounds[a][lo[a] + cell.size];
  }
}

// The split's scratch (a byte per object of the children it goes to, then
// the children's words one after another) is the walking context's and
// lives as long as its octree; its old bytes survive its growth.
uint8_t *ScratchFor(RayContext *c, size_t bytes) {
  if (bytes > c->split_capacity) {
    if (bytes > UINT32_MAX) return nullptr;
    void *grown = VoMemoryReallocate(c->split_scratch, static_cast<uint32_t>(bytes));
    if (grown == nullptr) return nullptr;
    c->split_scratch = static_cast<uint32_t *>(grown);
    c->split_capacity = bytes;
  }
  return reinterpret_cast<uint8_t *>(c->split_scratch);
}

// One split's cells and its share-out of the leaf's objects over slices
// (each a helper thread's when the leaf is large).
constexpr uint32_t kObjectsPerSplitThread = 16384;
struct SplitPlan {
  const RayContext *c;
  const Leaf *leaf;
  double lo[3], mid[3], hi[3];
  double boxes[8][6];  // the children's cells
  uint32_t slices;
  uint32_t begin[kMostBuildThreads + 1];
  uint32_t counts[kMostBuildThreads][8];  // per slice, the objects each child takes
  uint8_t *member;                        // per object, the children it goes to
  uint32_t *words;                        // the children's words, child after child
  uint32_t at[kMostBuildThreads][8];      // where each slice writes each child's words
};

// The children object `index` goes to: those its box touches, less those
// whose cell its polygon misses (tested only when its box touches more
// than one: one that touches a single child touches the parent's cell
// only there).
uint32_t Members(const SplitPlan &p, uint32_t index) {
  const uint32_t touched = ChildrenTouched(p.c, index, p.lo, p.mid, p.hi);
  if ((touched & (touched - 1)) == 0) return touched;
  uint32_t member = 0;
  for (uint32_t i = 0; i < 8; ++i)
    if ((touched >> i & 1) != 0 && OverlapsInBox(p.c, index, p.boxes[i])) member |= 1u << i;
  return member;
}

// The members of slice j's objects and how many each child takes. The
// boxes and hit records of the objects a few places ahead are asked for
// while this one's box is read.
void SliceMembers(SplitPlan &p, uint32_t j) {
  constexpr uint32_t kAhead = 8;
  const uint32_t *words = p.leaf->words;
  const uint32_t end = p.begin[j + 1], count = p.leaf->count;
  uint32_t counts[8] = {};
  for (uint32_t k = p.begin[j]; k < end; ++k) {
    if (k + kAhead < count) {
      const uint32_t ahead = words[k + kAhead] >> 3;
      __builtin_prefetch(p.c->boxes + 6 * ahead);
      __builtin_prefetch(p.c->hits + ahead);
    }
    const uint32_t member = Members(p, words[k] >> 3);
    p.member[k] = static_cast<uint8_t>(member);
    for (uint32_t i = 0; i < 8; ++i) counts[i] += member >> i & 1;
  }
  std::memcpy(p.counts[j], counts, sizeof counts);
}

// Slice j's words into each child's list, in the leaf's order.
void SliceWords(SplitPlan &p, uint32_t j) {
  uint32_t at[8];
  std::memcpy(at, p.at[j], sizeof at);
  for (uint32_t k = p.begin[j]; k < p.begin[j + 1]; ++k)
    for (uint32_t bits = p.member[k]; bits != 0; bits &= bits - 1)
      p.words[at[__builtin_ctz(bits)]++] = p.leaf->words[k];
}

// The children's words of the leaf into the scratch: first each object's
// children, then the lists, each step in slices. `first[i]` is where child
// i's words start (first[8] their end). False when the scratch cannot grow.
bool ChildrenWords(RayContext *c, RayContext *owner, SplitPlan &p, uint32_t first[9]) {
  const uint32_t count = p.leaf->count;
  const size_t member_bytes = std::max<size_t>((size_t{count} + 3) & ~size_t{3}, 4);
  p.member = ScratchFor(c, member_bytes);
  if (p.member == nullptr) return false;
  p.slices = std::clamp<uint32_t>(count / kObjectsPerSplitThread, 1, std::max(owner->split_threads, 1u));
  for (uint32_t j = 0; j <= p.slices; ++j) p.begin[j] = static_cast<uint32_t>(uint64_t{count} * j / p.slices);
  OnHelperThreads(p.slices, [&p](uint32_t j) { SliceMembers(p, j); });
  uint64_t total = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    first[i] = static_cast<uint32_t>(total);
    for (uint32_t j = 0; j < p.slices; ++j) {
      p.at[j][i] = static_cast<uint32_t>(total);
      total += p.counts[j][i];
    }
  }
  first[8] = static_cast<uint32_t>(total);
  uint8_t *scratch = ScratchFor(c, member_bytes + total * sizeof(uint32_t));
  if (scratch == nullptr) return false;
  p.member = scratch;
  p.words = reinterpret_cast<uint32_t *>(scratch + member_bytes);
  OnHelperThreads(p.slices, [&p](uint32_t j) { SliceWords(p, j); });
  return true;
}

// How each child of a split is made: a new leaf, or the node it shares
// (the empty leaf, the split leaf, or the child of the first earlier
// sibling with the same words, by its index).
constexpr int32_t kChildNew = -1, kChildEmpty = -2, kChildSplit = -3;

// The children's kinds into `like`; answers the memory count of the new
// leaves.
uint64_t ChildrenMatch(const SplitPlan &p, const uint32_t first[9], int32_t like[8]) {
  uint64_t bytes = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    const uint32_t n = first[i + 1] - first[i];
    like[i] = n == 0 ? kChildEmpty : n == p.leaf->count ? kChildSplit : kChildNew;
    for (uint32_t j = 0; like[i] == kChildNew && j < i; ++j)
      if (first[j + 1] - first[j] == n &&
          std::memcmp(p.words + first[j], p.words + first[i], n * sizeof(uint32_t)) == 0)
        like[i] = static_cast<int32_t>(j);
    if (like[i] == kChildNew) bytes += sizeof(Leaf) + uint64_t{n} * sizeof(uint32_t);
  }
  return bytes;
}

// The blocks of a split's inner node and its `fresh` new leaves, from the
// owner's pools in one turn (one lock for the whole split while workers
// split); false, with none kept, when a pool is out of memory.
bool BlocksTake(RayContext *owner, Inner **inner, LeafBlock **leaves, uint32_t fresh) {
  std::unique_lock<std::mutex> turn;
  if (SplitShare *s = owner->split_share) turn = std::unique_lock<std::mutex>(s->pools);
  *inner = static_cast<Inner *>(VoPoolAllocate(owner->inner_pool));
  uint32_t taken = 0;
  for (; *inner != nullptr && taken < fresh; ++taken)
    if ((leaves[taken] = static_cast<LeafBlock *>(VoPoolAllocate(owner->leaf_pool))) == nullptr) break;
  if (*inner != nullptr && taken == fresh) return true;
  while (taken != 0) VoPoolFree(owner->leaf_pool, leaves[--taken]);
  if (*inner != nullptr) VoPoolFree(owner->inner_pool, *inner);
  return false;
}

void BlocksGive(RayContext *owner, Inner *inner, LeafBlock **leaves, uint32_t fresh) {
  std::unique_lock<std::mutex> turn;
  if (SplitShare *s = owner->split_share) turn = std::unique_lock<std::mutex>(s->pools);
  for (uint32_t k = 0; k < fresh; ++k) VoPoolFree(owner->leaf_pool, leaves[k]);
  VoPoolFree(owner->inner_pool, inner);
}

// The new leaves of a split into their blocks, in child order; false, with
// every word array given back, when one cannot be made.
bool LeavesFill(const SplitPlan &p, const uint32_t first[9], const int32_t like[8], LeafBlock **blocks,
                Node *children[8]) {
  uint32_t filled = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    if (like[i] != kChildNew) continue;
    Leaf *leaf = LeafFill(blocks[filled], p.words + first[i], first[i + 1] - first[i]);
    if (leaf == nullptr) {
      for (uint32_t k = 0; k < filled; ++k)
        if (blocks[k]->leaf.words != blocks[k]->words) VoDeallocate(blocks[k]->leaf.words);
      return false;
    }
    children[i] = reinterpret_cast<Node *>(leaf);
    ++filled;
  }
  return true;
}

// The shared children of a split, each a reference more (but the empty
// leaf). The split leaf itself may be held by other slots that other
// workers split meanwhile.
void ChildrenShare(Leaf *split, const int32_t like[8], Node *children[8]) {
  for (uint32_t i = 0; i < 8; ++i) {
    if (like[i] == kChildNew) continue;
    Node *n = like[i] == kChildEmpty   ? reinterpret_cast<Node *>(&g_empty)
              : like[i] == kChildSplit ? reinterpret_cast<Node *>(split)
                                       : children[like[i]];
    if (n != reinterpret_cast<Node *>(&g_empty))
      std::atomic_ref<uint32_t>(reinterpret_cast<Leaf *>(n)->refs).fetch_add(1, std::memory_order_relaxed);
    children[i] = n;
  }
}

// Splits the leaf at *slot for its cell in the octree of `owner` (c's own or
// the one c shares): the inner node is made whole before it replaces the
// leaf in the slot. Its memory is counted, and its blocks taken, once for
// the inner node and every new leaf.
bool LeafSplit(RayContext *c, RayContext *owner, Node **slot, const Cell &cell) {
  auto *leaf = reinterpret_cast<Leaf *>(SlotLoad(slot));
  const uint32_t half = cell.size / 2;
  SplitPlan p;
  p.c = c;
  p.leaf = leaf;
  const uint32_t lo_cell[3] = {cell.x, cell.y, cell.z};
  for (int a = 0; a < 3; ++a) {
    p.lo[a] = c->bounds[a][lo_cell[a]];
    p.mid[a] = c->bounds[a][lo_cell[a] + half];
    p.hi[a] = c->bounds[a][lo_cell[a] + cell.size];
  }
  for (uint32_t i = 0; i < 8; ++i)
    CellBox(
        c,
        Cell{cell.x + (i & 1) * half, cell.y + ((i >> 1) & 1) * half, cell.z + ((i >> 2) & 1) * half, half},
        p.boxes[i]);
  uint32_t first[9];
  if (!ChildrenWords(c, owner, p, first)) return false;
  int32_t like[8];
  const uint64_t bytes = sizeof(Inner) + ChildrenMatch(p, first, like);
  const auto fresh = static_cast<uint32_t>(std::count(like, like + 8, kChildNew));
  if (!MemoryTake(owner, bytes)) return false;
  Inner *inner = nullptr;
  LeafBlock *blocks[8];
  if (!BlocksTake(owner, &inner, blocks, fresh)) {
    MemoryGive(owner, bytes);
    return false;
  }
  if (!LeavesFill(p, first, like, blocks, inner->child)) {
    BlocksGive(owner, inner, blocks, fresh);
    MemoryGive(owner, bytes);
    return false;
  }
  ChildrenShare(leaf, like, inner->child);
  inner->tag = kNodeInner;
  inner->spare = 0;
  std::atomic_ref<Node *>(*slot).store(reinterpret_cast<Node *>(inner), std::memory_order_release);
  LeafRelease(owner, leaf);
  std::atomic_ref<uint64_t>(owner->split_share != nullptr ? owner->split_share->splits : owner->splits)
      .fetch_add(1, std::memory_order_relaxed);
  return true;
}

// A split of the shared octree: under the slot's stripe, and only when the
// slot still holds a leaf of the octree the walk started in (another
// worker may have split it, or a rebuild replaced the octree; the walk then
// descends into the split, or tests the old leaf as it is).
// A leaf of an octree built again since the walk began is not split: the
// walk stops (kSplitStale) and walks again in the new one.
bool SharedSplit(RayContext *c, RayContext *owner, Node **slot, const Cell &cell) {
  SplitShare &s = *owner->split_share;
  if (c->holds_index) return SlotLoad(slot)->tag != kNodeLeaf || LeafSplit(c, owner, slot, cell);
  for (;;) {
    s.splitting.fetch_add(1, std::memory_order_seq_cst);
    if (s.closed.load(std::memory_order_seq_cst) == 0) break;
    s.splitting.fetch_sub(1, std::memory_order_seq_cst);
    while (s.closed.load(std::memory_order_acquire) != 0) std::this_thread::yield();
  }
  bool split = true;
  {
    std::lock_guard<std::mutex> hold(s.StripeOf(slot));
    if (c->walk_tree != s.current.load(std::memory_order_relaxed))
      c->split_failed = kSplitStale, split = false;
    else if (SlotLoad(slot)->tag == kNodeLeaf)
      split = LeafSplit(c, owner, slot, cell);
  }
  s.splitting.fetch_sub(1, std::memory_order_release);
  return split;
}

// The memory count of the table and the grid alone.
uint64_t GridTableBytes(const RayContext *c) {
  return TableBytes(c) + (c->bounds[0] != nullptr ? 3 * uint64_t{c->grid + 1} * sizeof(double) : 0);
}

// Whether the table holds the hit records, boxes and projected vertices
// the kept octree was built over (of the same sizes).
bool KeptTableSame(const RayContext *c, const TableMade &made) {
  if (made.kept_arrays) return !made.changed;
  const RayContext::Kept &k = c->kept;
  return k.hits != nullptr && std::memcmp(k.hits, c->hits, c->object_count * sizeof(ObjectHit)) == 0 &&
         std::memcmp(k.boxes, c->boxes, c->object_count * 6 * sizeof(float)) == 0 &&
         std::memcmp(k.uv, c->uv, c->uv_count * 2 * sizeof(float)) == 0;
}

// The kept octree as the root, when it was built over the same objects,
// grid and leaf limit and fits the memory limit; null otherwise. The kept
// arrays go either way.
Node *KeptTake(RayContext *c, const TableMade &made) {
  RayContext::Kept &k = c->kept;
  Node *root = nullptr;
  const uint32_t count = made.bounded_count;
  if (k.root != nullptr && k.object_count == c->object_count && k.uv_count == c->uv_count &&
      k.root_count == count && k.grid_depth == c->grid_depth && k.leaf_limit == c->leaf_limit &&
      c->memory_used + k.node_bytes <= c->memory_limit &&
      std::memcmp(k.words, made.bounded, count * sizeof(uint32_t)) == 0 && KeptTableSame(c, made)) {
    root = k.root;
    c->memory_used += k.node_bytes;
    c->complete = k.complete;
    k.root = nullptr;
  }
  KeptDrop(c);
  return root;
}

// Splits every leaf below *slot that a walk would split; false when a split
// ran out of memory.
bool SplitBelow(RayContext *c, Node **slot, const Cell &cell) {
  if ((*slot)->tag == kNodeLeaf) {
    const auto *leaf = reinterpret_cast<const Leaf *>(*slot);
    if (leaf->count <= c->leaf_limit || cell.size <= 1) return true;
    if (!LeafSplit(c, c, slot, cell)) return false;
  }
  auto *inner = reinterpret_cast<Inner *>(*slot);
  const uint32_t half = cell.size / 2;
  for (uint32_t i = 0; i < 8; ++i) {
    const Cell sub{cell.x + (i & 1) * half, cell.y + ((i >> 1) & 1) * half, cell.z + ((i >> 2) & 1) * half,
                   half};
    if (!SplitBelow(c, &inner->child[i], sub)) return false;
  }
  return true;
}

}  // namespace

void OctreeForget(RayContext *c) {
  c->root = nullptr;
  c->root_words = nullptr;
  c->root_count = 0;
  c->table_shared = 0;
  for (double *&b : c->bounds) b = nullptr;
  c->objects = nullptr;
  c->hits = nullptr;
  c->uv = nullptr;
  c->boxes = nullptr;
  c->stamps = nullptr;
  c->split_scratch = nullptr;
  c->split_capacity = 0;
  c->unbounded = nullptr;
  c->object_count = c->uv_count = c->unbounded_count = 0;
  c->memory_used = 0;
  c->splits = c->total_tests = 0;
  c->frozen = c->tree_shared = c->repeated = c->complete = 0;
  c->tree_owner = nullptr;
  c->walk_tree = nullptr;
  WalkWordsClear(c);
}

void KeptDrop(RayContext *c) {
  RayContext::Kept &k = c->kept;
  // The kept nodes are no longer counted: their release leaves the count.
  const uint64_t used = c->memory_used;
  NodeRelease(c, k.root);
  c->memory_used = used;
  for (void *array : {static_cast<void *>(k.hits), static_cast<void *>(k.uv), static_cast<void *>(k.boxes),
                      static_cast<void *>(k.words)})
    VoDeallocate(array);
  k = RayContext::Kept{};
}

void OctreeKeep(RayContext *c) {
  KeptDrop(c);
  if (c->table_shared || c->tree_shared || c->root == nullptr) return OctreeRelease(c);
  RayContext::Kept &k = c->kept;
  k.root = c->root;
  k.node_bytes = c->memory_used - GridTableBytes(c);
  k.hits = c->hits;
  k.uv = c->uv;
  k.boxes = c->boxes;
  k.words = c->root_words;
  k.object_count = c->object_count;
  k.uv_count = c->uv_count;
  k.root_count = c->root_count;
  k.grid_depth = static_cast<uint32_t>(__builtin_ctz(c->grid));
  k.leaf_limit = c->leaf_limit;
  k.complete = c->complete;
  c->root = nullptr;
  c->hits = nullptr;
  c->uv = nullptr;
  c->boxes = nullptr;
  c->root_words = nullptr;
  OctreeRelease(c);
}

bool OctreeSplitAll(RayContext *c) {
  // A complete octree stays complete: no walk splits a leaf of it, so a
  // repeated scene walks it once, in its first repeated frame.
  if (c->root == nullptr || c->complete) return true;
  if (SplitBelow(c, &c->root, Cell{0, 0, 0, c->grid})) {
    c->complete = 1;
    return true;
  }
  // Out of memory: the octree as a build leaves it (the build again when
  // even that cannot be made).
  NodeRelease(c, c->root);
  c->root = reinterpret_cast<Node *>(LeafMake(c, c->root_words, c->root_count));
  if (c->root == nullptr) c->sticky |= OctreeBuild(c);
  return false;
}

void OctreeRelease(RayContext *c) {
  SplitShareEnd(c);
  if (!c->tree_shared) NodeRelease(c, c->root);
  VoDeallocate(c->stamps);
  VoDeallocate(c->split_scratch);
  if (c->table_shared) return OctreeForget(c);
  VoDeallocate(c->root_words);
  for (double *b : c->bounds) VoDeallocate(b);
  for (void *array :
       {static_cast<void *>(c->objects), static_cast<void *>(c->hits), static_cast<void *>(c->uv),
        static_cast<void *>(c->boxes), static_cast<void *>(c->unbounded)})
    VoDeallocate(array);
  OctreeForget(c);
}

VtStatus OctreeBuild(RayContext *c, uint32_t threads) {
  OctreeRelease(c);
  TableMade b;
  const VtStatus status = TableBuild(c, threads, &b);
  if (status == 0 && c->unbounded_count > c->leaf_limit)
    Post(VO_CLASS_PROGRESS, messages::kRayUnboundedMany, VO_MODULE_RAYTRACER, c->unbounded_count,
         c->leaf_limit);
  bool fits = status == 0;
  if (fits && b.bounded_count != 0) {
    c->memory_used = TableBytes(c) + 3 * uint64_t{(1u << c->grid_depth) + 1} * sizeof(double);
    fits = c->memory_used <= c->memory_limit && GridMake(c, b.box);
    Node *root = fits ? KeptTake(c, b) : nullptr;
    c->repeated = root != nullptr;
    if (root == nullptr && fits) root = reinterpret_cast<Node *>(LeafMake(c, b.bounded, b.bounded_count));
    c->root = root;
    fits = root != nullptr;
  } else if (fits) {
    c->memory_used = TableBytes(c);
    fits = c->memory_used <= c->memory_limit;
  }
  KeptDrop(c);
  // The root's words stay for clones sharing this table.
  c->root_words = b.bounded;
  c->root_count = b.bounded_count;
  fits = fits && StampsMake(c);
  if (fits) return 0;
  VtStatus st = status;
  if (st == 0 || st == VO_STATUS_NO_MEMORY) {
    Post(VO_STATUS_NO_MEMORY, messages::kRayBuildNoMemory, VO_MODULE_RAYTRACER,
         static_cast<uint32_t>(c->memory_limit));
    st = VO_STATUS_NO_MEMORY;
  }
  OctreeRelease(c);
  return st;
}

VtStatus OctreeShare(RayContext *c, RayContext *m) {
  OctreeRelease(c);
  if (m == nullptr || m == c) return VO_STATUS_UNAVAILABLE;
  c->table_shared = 1;
  c->grid = m->grid;
  std::memcpy(c->box, m->box, sizeof c->box);
  std::memcpy(c->scale, m->scale, sizeof c->scale);
  c->margin = m->margin;
  for (int a = 0; a < 3; ++a) c->bounds[a] = m->bounds[a];
  c->objects = m->objects;
  c->hits = m->hits;
  c->uv = m->uv;
  c->boxes = m->boxes;
  c->unbounded = m->unbounded;
  c->object_count = m->object_count;
  c->uv_count = m->uv_count;
  c->unbounded_count = m->unbounded_count;
  c->root_words = m->root_words;
  c->root_count = m->root_count;
  // The same count as the master's build, so that every context meets the
  // memory limit at the same size.
  c->memory_used = TableBytes(c) + (m->bounds[0] != nullptr ? 3 * uint64_t{c->grid + 1} * sizeof(double) : 0);
  bool made = true;
  if (m->root != nullptr && m->frozen) {
    // A complete octree no walk splits: read by every worker.
    c->root = m->root;
    c->tree_shared = c->frozen = 1;
  } else if (m->root != nullptr && m->split_share != nullptr) {
    // The octree every worker of the frame splits as its rays need.
    c->tree_owner = m;
    c->tree_shared = 1;
  } else if (m->root != nullptr) {
    Leaf *root = LeafMake(c, c->root_words, c->root_count);
    c->root = reinterpret_cast<Node *>(root);
    made = root != nullptr;
  }
  if (made && StampsMake(c)) return 0;
  Post(VO_STATUS_NO_MEMORY, messages::kRayBuildNoMemory, VO_MODULE_RAYTRACER,
       static_cast<uint32_t>(c->memory_limit));
  OctreeRelease(c);
  return VO_STATUS_NO_MEMORY;
}

namespace {

// The shared octree's rebuild after a split ran out of memory, by the walk
// that holds it (IndexHold): the octree goes back to its root leaf, also
// when another walk rebuilt it since this one started (as on one thread,
// the walk tried again starts from the root leaf); the old one, which
// other walks may be reading, is retired. Its nodes leave the memory count
// now. True when the walk may start again.
bool SharedRebuild(RayContext *owner) {
  SplitShare &s = *owner->split_share;
  SharedTree *old = s.current.load(std::memory_order_relaxed);
  bool rebuilt = false;
  auto *tree = static_cast<SharedTree *>(VoAllocate(sizeof(SharedTree)));
  if (tree != nullptr && Reserve(s.trees, s.tree_capacity, size_t{s.tree_count} + 1)) {
    const uint64_t nodes = MemoryCount(owner).load(std::memory_order_relaxed) - GridTableBytes(owner);
    MemoryGive(owner, nodes);
    tree->root = reinterpret_cast<Node *>(LeafMake(owner, owner->root_words, owner->root_count));
    if (tree->root != nullptr) {
      s.trees[s.tree_count++] = old;
      s.current.store(tree, std::memory_order_release);
      tree = nullptr;
      rebuilt = true;
    } else {
      MemoryCount(owner).fetch_add(nodes, std::memory_order_relaxed);
    }
  }
  VoDeallocate(tree);
  return rebuilt;
}

}  // namespace

bool SplitShareBegin(RayContext *c) {
  if (c->split_share != nullptr) return true;
  // VoAllocate aligns less than a cache line.
  void *block = VoAllocate(sizeof(SplitShare) + kCacheLine);
  if (block == nullptr) return false;
  const uintptr_t at = (reinterpret_cast<uintptr_t>(block) + kCacheLine - 1) & ~uintptr_t{kCacheLine - 1};
  auto *s = new (reinterpret_cast<void *>(at)) SplitShare;
  s->block = block;
  s->first.root = c->root;
  s->memory_used = c->memory_used;
  s->splits = c->splits;
  c->split_share = s;
  return true;
}

Node **RootSlot(RayContext *owner, SharedTree **tree) {
  if (SplitShare *s = owner->split_share) {
    *tree = s->current.load(std::memory_order_acquire);
    return &(*tree)->root;
  }
  *tree = nullptr;
  return &owner->root;
}

void SplitShareEnd(RayContext *c) {
  SplitShare *s = c->split_share;
  if (s == nullptr) return;
  // From here on a released leaf is freed at once.
  c->split_share = nullptr;
  SharedTree *current = s->current.load(std::memory_order_relaxed);
  c->root = current->root;
  c->memory_used = s->memory_used;
  c->splits = s->splits;
  for (Leaf *leaf = s->retired.load(std::memory_order_acquire); leaf != nullptr;) {
    Leaf *next;
    std::memcpy(&next, &leaf->refs, sizeof next);
    LeafFree(c, leaf);
    leaf = next;
  }
  // The replaced octrees left the count when they were replaced; the one
  // a rebuild left is a root leaf again.
  if (s->tree_count != 0) c->complete = 0;
  const uint64_t used = c->memory_used;
  for (uint32_t i = 0; i < s->tree_count; ++i) NodeRelease(c, s->trees[i]->root);
  for (uint32_t i = 0; i < s->tree_count; ++i)
    if (s->trees[i] != &s->first) VoDeallocate(s->trees[i]);
  if (current != &s->first) VoDeallocate(current);
  c->memory_used = used;
  VoDeallocate(s->trees);
  void *block = s->block;
  s->~SplitShare();
  VoDeallocate(block);
}

bool IndexChange(RayContext *c, Node **slot, const Cell &cell) {
  RayContext *owner = TreeOf(c);
  if (slot != nullptr) {
    const bool split =
        owner->split_share != nullptr ? SharedSplit(c, owner, slot, cell) : LeafSplit(c, owner, slot, cell);
    if (split) return true;
    if (c->split_failed == 0) c->split_failed = kSplitNoMemory;
    return false;
  }
  Post(VO_CLASS_DEBUG, messages::kRaySplitNoMemory, VO_MODULE_RAYTRACER,
       static_cast<uint32_t>(c->memory_limit));
  if (owner->split_share != nullptr) return SharedRebuild(owner);
  return (c->table_shared ? OctreeShare(c, MasterContext()) : OctreeBuild(c)) == 0;
}

}  // namespace vo::ray

namespace vo::ray {

void IndexHold(RayContext *c) {
  SplitShare *s = TreeOf(c)->split_share;
  if (s == nullptr || c->holds_index) return;
  uint32_t open = 0;
  while (!s->closed.compare_exchange_weak(open, 1, std::memory_order_seq_cst)) {
    open = 0;
    std::this_thread::yield();
  }
  while (s->splitting.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  c->holds_index = 1;
}

void IndexLet(RayContext *c) {
  if (!c->holds_index) return;
  c->holds_index = 0;
  TreeOf(c)->split_share->closed.store(0, std::memory_order_release);
}

}  // namespace vo::ray

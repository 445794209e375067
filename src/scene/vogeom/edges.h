// Shared edges: the matching of directed boundary pairs that builds them,
// re-links polygons to them and pairs polygons for the crease method.
//
// The edges that start at a vertex are found through a side table kept for
// the run (an address-keyed index from vertex to a chain of edge records),
// never through storage inside the vertices.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene/vogeom/element_map.h"
#include "scene/vogeom/polygon_measures.h"
#include "scene/vogeom/scene.h"

namespace vo {

// An open-addressing map from addresses to values, for the length of one
// operation. Null keys are not stored.
template <class V>
class PointerIndex {
 public:
  PointerIndex() = default;
  PointerIndex(const PointerIndex &) = delete;
  PointerIndex &operator=(const PointerIndex &) = delete;
  ~PointerIndex() {
    VoDeallocate(keys_);
    VoDeallocate(values_);
  }
  // Room for n keys without growing; false when out of memory.
  bool Reserve(size_t n) {
    size_t capacity = 16;
    while (capacity < 2 * n) capacity *= 2;
    return capacity <= mask_ + 1 || Grow(capacity);
  }
  V *Find(const void *key) {
    if (keys_ == nullptr || key == nullptr) return nullptr;
    for (size_t i = Slot(key);; i = (i + 1) & mask_) {
      if (keys_[i] == key) return &values_[i];
      if (keys_[i] == nullptr) return nullptr;
    }
  }
  // The value of key, inserted as initial when new; null when out of
  // memory (or for a null key).
  V *Insert(const void *key, const V &initial) {
    if (key == nullptr || (2 * (count_ + 1) > mask_ + 1 && !Grow(2 * (mask_ + 1)))) return nullptr;
    for (size_t i = Slot(key);; i = (i + 1) & mask_) {
      if (keys_[i] == key) return &values_[i];
      if (keys_[i] == nullptr) {
        keys_[i] = key;
        values_[i] = initial;
        ++count_;
        return &values_[i];
      }
    }
  }
  // Forgets every key, keeping the room.
  void Clear() {
    if (keys_ != nullptr)
      for (size_t i = 0; i <= mask_; ++i) keys_[i] = nullptr;
    count_ = 0;
  }

 private:
  size_t Slot(const void *key) const { return AddressSlot(key, mask_); }
  bool Grow(size_t capacity) {
    if (capacity < 16) capacity = 16;
    if (capacity > UINT32_MAX / sizeof(V) || capacity > UINT32_MAX / sizeof(void *)) return false;
    auto *keys = static_cast<const void **>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(void *))));
    auto *values = static_cast<V *>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(V))));
    if (keys == nullptr || values == nullptr) {
      VoDeallocate(keys);
      VoDeallocate(values);
      return false;
    }
    for (size_t i = 0; i < capacity; ++i) keys[i] = nullptr;
    const void **old_keys = keys_;
    V *old_values = values_;
    const size_t old_capacity = keys_ ? mask_ + 1 : 0;
    keys_ = keys;
    values_ = values;
    mask_ = capacity - 1;
    count_ = 0;
    for (size_t i = 0; i < old_capacity; ++i)
      if (old_keys[i] != nullptr) *Insert(old_keys[i], old_values[i]) = old_values[i];
    VoDeallocate(old_keys);
    VoDeallocate(old_values);
    return true;
  }

  const void **keys_ = nullptr;
  V *values_ = nullptr;
  size_t mask_ = 0;
  size_t count_ = 0;
};

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

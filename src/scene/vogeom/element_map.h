// The copier's element map: source element or reference-node address to the
// address of its copy. Open addressing with linear probing over a power-of-
// two table, sized once per copy from the number of entries it will hold.
// AddressSlot serves the other address-keyed tables of the module too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vo {

// The slot of an address in a power-of-two table of mask + 1 slots.
// Neighbouring addresses (blocks of one pool chunk) keep neighbouring slots,
// which keeps the walks over a mesh in cache; the high bits are mixed in so
// that distant regions do not pile onto the same slots.
inline size_t AddressSlot(const void *key, size_t mask) {
  const uint64_t a = reinterpret_cast<uintptr_t>(key) >> 4;
  return static_cast<size_t>(a ^ (a >> 20) * 0x9E3779B1u) & mask;
}

struct ElementMap {
  struct Entry {
    const void *key;  // null: empty
    void *value;
  };
  Entry *entries;
  uint32_t mask;  // capacity - 1; 0 with no table
  uint32_t count;

  // Makes an empty map for up to n entries; false when out of memory.
  bool Reset(uint64_t n);
  // Frees the table.
  void Release();
  // Adds or replaces; false when the map is full or has no table.
  bool Put(const void *key, void *value);
  // The copy of key, or null.
  void *Find(const void *key) const;
};

}  // namespace vo

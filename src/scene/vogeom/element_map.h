// The copier's element map: source element or reference-node address to the
// address of its copy. Open addressing with linear probing over a power-of-
// two table, sized once per copy from the number of entries it will hold.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scene/vogeom/scratch.h"

namespace vo {

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

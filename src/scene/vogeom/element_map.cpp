#include "scene/vogeom/element_map.h"

#include <cstring>

#include "kernel/vosystem/face.h"

namespace vo {

bool ElementMap::Reset(uint64_t n) {
  uint64_t capacity = 16;
  while (capacity < n + n / 3 + 1) capacity <<= 1;  // at most three quarters full
  if (capacity * sizeof(Entry) > UINT32_MAX) return false;
  if (entries != nullptr && mask + 1 == capacity) {
    std::memset(static_cast<void *>(entries), 0, capacity * sizeof(Entry));
    count = 0;
    return true;
  }
  Release();
  const auto bytes = static_cast<uint32_t>(capacity * sizeof(Entry));
  entries = static_cast<Entry *>(VoAllocate(bytes));
  if (entries == nullptr) return false;
  std::memset(static_cast<void *>(entries), 0, bytes);
  mask = static_cast<uint32_t>(capacity - 1);
  count = 0;
  return true;
}

void ElementMap::Release() {
  VoDeallocate(entries);
  entries = nullptr;
  mask = 0;
  count = 0;
}

bool ElementMap::Put(const void *key, void *value) {
  if (entries == nullptr || key == nullptr || count >= mask) return false;
  for (uint32_t i = static_cast<uint32_t>(AddressSlot(key, mask));; i = (i + 1) & mask) {
    if (entries[i].key == key) {
      entries[i].value = value;
      return true;
    }
    if (entries[i].key == nullptr) {
      entries[i] = Entry{key, value};
      ++count;
      return true;
    }
  }
}

void *ElementMap::Find(const void *key) const {
  if (entries == nullptr || key == nullptr) return nullptr;
  for (uint32_t i = static_cast<uint32_t>(AddressSlot(key, mask));; i = (i + 1) & mask) {
    if (entries[i].key == key) return entries[i].value;
    if (entries[i].key == nullptr) return nullptr;
  }
}

}  // namespace vo

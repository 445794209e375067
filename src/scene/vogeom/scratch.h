// Scratch storage for the length of one operation: arrays and address-keyed
// indexes in memory from VoAllocate, given back with their holder. The
// geometry module's own tables and its sister modules' operators use them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/vosystem/face.h"

namespace vo {

// The slot of an address in a power-of-two table of mask + 1 slots.
// Neighbouring addresses (blocks of one pool chunk) keep neighbouring slots,
// which keeps the walks over a mesh in cache; the high bits are mixed in so
// that distant regions do not pile onto the same slots.
inline size_t AddressSlot(const void *key, size_t mask) {
  const uint64_t a = reinterpret_cast<uintptr_t>(key) >> 4;
  return static_cast<size_t>(a ^ (a >> 20) * 0x9E3779B1u) & mask;
}

// A scratch array for the length of one operation: VoAllocate'd, freed
// with the holder; null when count x size overflows or memory runs out.
template <class T>
class WorkArray {
 public:
  WorkArray() = default;
  WorkArray(const WorkArray &) = delete;
  WorkArray &operator=(const WorkArray &) = delete;
  ~WorkArray() { VoDeallocate(data_); }
  bool Allocate(size_t count) {
    VoDeallocate(data_);
    data_ = nullptr;
    capacity_ = 0;
    if (count > UINT32_MAX / sizeof(T)) return false;
    data_ = static_cast<T *>(VoAllocate(static_cast<uint32_t>((count ? count : 1) * sizeof(T))));
    capacity_ = data_ ? count : 0;
    return data_ != nullptr;
  }
  // Room for at least count entries, keeping those held; grows by doubling.
  bool Fit(size_t count) {
    if (count <= capacity_) return true;
    size_t grown = capacity_ ? capacity_ : 64;
    while (grown < count) grown *= 2;
    if (grown > UINT32_MAX / sizeof(T)) return false;
    T *moved = static_cast<T *>(VoMemoryReallocate(data_, static_cast<uint32_t>(grown * sizeof(T))));
    if (moved == nullptr) return false;
    data_ = moved;
    capacity_ = grown;
    return true;
  }
  T &operator[](size_t i) { return data_[i]; }
  const T &operator[](size_t i) const { return data_[i]; }
  T *data() { return data_; }

 private:
  T *data_ = nullptr;
  size_t capacity_ = 0;
};

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

}  // namespace vo

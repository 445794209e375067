// What the library keeps process-wide rather than per start: registers of
// the addresses of live objects of one kind (locks, open streams), and
// keepers of the records of pools, hash tables and pixel lists. Each is made
// at its first use, kept to the process's exit, and freed when the library
// is unloaded or when the process ends after every exit handler has run
// (which may still give objects back): the owning file calls Free from a
// destructor function of its own. Calls may come from any thread; each
// takes the object's own lock once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "kernel/vosystem/kernel_memory.h"

namespace vo {

// The one instance of Derived, made at the first Get.
template <class Derived>
class ProcessWide {
 public:
  static Derived &Get() {
    static Derived *const made = made_ = new Derived;
    return *made;
  }
  // Called from the owning file's unload destructor.
  static void Free() {
    delete made_;
    made_ = nullptr;
  }

 private:
  static inline Derived *made_ = nullptr;
};

// Only addresses are compared, so a destroyed object, or a record of
// another kind, is refused before anything at it is read.
template <class T>
class AddressRegister : public ProcessWide<AddressRegister<T>> {
 public:
  // False when the address cannot be recorded (no memory).
  bool Add(const T *object) {
    std::lock_guard<std::mutex> hold(lock_);
    try {
      objects_.insert(object);
    } catch (const std::bad_alloc &) {
      return false;
    }
    return true;
  }
  // True when the address was in the register; it is not any more.
  bool Take(const T *object) {
    std::lock_guard<std::mutex> hold(lock_);
    return objects_.erase(object) != 0;
  }
  bool Holds(const T *object) {
    std::lock_guard<std::mutex> hold(lock_);
    return objects_.count(object) != 0;
  }
  // The addresses held now, in no order.
  std::vector<const T *> Held() {
    std::lock_guard<std::mutex> hold(lock_);
    return std::vector<const T *>(objects_.begin(), objects_.end());
  }

 private:
  std::mutex lock_;
  std::unordered_set<const T *> objects_;
};

// The records of one kind whose handles are checked by a word of the record
// on paths that may take no lock and look nothing up (a block allocated, a
// pixel added). A destroyed record never goes back to the heap: Keep zeroes
// it, so its check word refuses it, and it is handed out again only by a
// later Take of the same kind, the longest kept first, so that a destroyed
// handle stays refused for as long as the records of its kind allow. A
// destroyed handle whose record a newer object has taken is that object.
// Records are carved from slabs that are never given back while the
// library is loaded, so that Made answers, without a lock, whether an
// address is one of them before a word at it is read: a handle of another
// kind, or any number, is refused without reading it.
template <class T>
class RecordKeeper : public ProcessWide<RecordKeeper<T>> {
  static_assert(std::is_trivially_copyable_v<T> && std::is_standard_layout_v<T>);

 public:
  // Frees the slabs whose records are all kept for a later take. A slab
  // with a record still in use stays with its holder: a library never
  // stopped holds its pools and tables to the process's end, with the
  // blocks they point to.
  ~RecordKeeper() {
    for (Slab *s = slabs_.load(std::memory_order_relaxed); s != nullptr;) {
      Slab *next = s->next;
      bool spare = true;
      const uint32_t used = s->used.load(std::memory_order_relaxed);
      for (uint32_t i = 0; i < used && spare; ++i) spare = s->kept[i].spare;
      if (spare) std::free(s);
      s = next;
    }
  }
  // A zeroed record, or null when none can be made. A take counts as one
  // allocation for the allocation-failure hook whether or not the heap is
  // asked, so that a failure sweep finds the same steps whatever was
  // destroyed before it.
  T *Take() {
    if (AllocationFails(sizeof(T))) return nullptr;
    std::lock_guard<std::mutex> hold(lock_);
    Kept *k = spare_first_;
    if (k != nullptr) {
      spare_first_ = k->spare_next;
      if (spare_first_ == nullptr) spare_last_ = nullptr;
      k->spare_next = nullptr;
      k->spare = false;
      return &k->record;
    }
    Slab *s = slabs_.load(std::memory_order_relaxed);
    if (s == nullptr || s->used.load(std::memory_order_relaxed) == kSlabRecords) {
      auto *made = static_cast<Slab *>(std::calloc(1, sizeof(Slab)));
      if (made == nullptr) return nullptr;
      made->next = s;
      slabs_.store(made, std::memory_order_release);
      s = made;
    }
    const uint32_t i = s->used.load(std::memory_order_relaxed);
    s->used.store(i + 1, std::memory_order_release);
    return &s->kept[i].record;
  }
  // True when the address is a record this keeper made (live or kept): a
  // compare with each slab's bounds, taking no lock.
  bool Made(const void *record) const {
    const auto a = reinterpret_cast<uintptr_t>(record);
    for (const Slab *s = slabs_.load(std::memory_order_acquire); s != nullptr; s = s->next) {
      const auto first = reinterpret_cast<uintptr_t>(&s->kept[0].record);
      const uintptr_t offset = a - first;
      if (a < first || offset >= sizeof s->kept) continue;
      return offset % sizeof(Kept) == 0 && offset / sizeof(Kept) < s->used.load(std::memory_order_acquire);
    }
    return false;
  }
  // Takes back a record Take answered; its bytes become zero.
  void Keep(T *record) {
    if (record == nullptr) return;
    std::memset(static_cast<void *>(record), 0, sizeof(T));
    Kept *k = reinterpret_cast<Kept *>(reinterpret_cast<char *>(record) - offsetof(Kept, record));
    std::lock_guard<std::mutex> hold(lock_);
    k->spare = true;
    if (spare_last_ != nullptr)
      spare_last_->spare_next = k;
    else
      spare_first_ = k;
    spare_last_ = k;
  }

 private:
  static constexpr uint32_t kSlabRecords = 64;
  struct Kept {
    Kept *spare_next;  // the next record kept for a later take
    bool spare;        // kept for a later take, not in use
    T record;
  };
  struct Slab {
    Slab *next;                  // the slab made before, whose records are all taken
    std::atomic<uint32_t> used;  // records taken from the front of kept
    Kept kept[kSlabRecords];
  };
  std::mutex lock_;
  std::atomic<Slab *> slabs_{nullptr};  // newest first
  Kept *spare_first_ = nullptr, *spare_last_ = nullptr;
};

}  // namespace vo

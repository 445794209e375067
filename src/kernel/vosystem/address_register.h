// A process-wide register of the addresses of live objects of one kind
// (locks, open streams): made at its first use, kept to the process's exit,
// and freed when the library is unloaded or when the process ends after
// every exit handler has run (which may still give objects back). Only
// addresses are compared, so a destroyed object, or a record of another
// kind, is refused before anything at it is read. Calls may come from any
// thread; each takes the register's own lock once.
#pragma once

#include <mutex>
#include <new>
#include <unordered_set>

namespace vo {

template <class T>
class AddressRegister {
 public:
  static AddressRegister &Get() {
    static AddressRegister *const set = made_ = new AddressRegister;
    return *set;
  }
  // Called from the owning file's unload destructor.
  static void Free() {
    delete made_;
    made_ = nullptr;
  }
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

 private:
  static inline AddressRegister *made_ = nullptr;
  std::mutex lock_;
  std::unordered_set<const T *> objects_;
};

}  // namespace vo

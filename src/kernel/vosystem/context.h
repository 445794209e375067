// Module state records and their per-context copies.
//
// Every module keeps its state in one record, the master, and reaches it
// through a ModuleState accessor. A worker thread of a threaded pass works on
// copies of the registered records instead: the work farm makes them on the
// main thread (ContextCopiesMake), the worker thread installs the table, and
// the main thread frees them after joining it (ContextCopiesFree).
// With no table installed (the application's threads, every pass that is not
// threaded) the accessor answers the master.
//
// How a module uses it:
//
//   namespace {
//   vo::ModuleState<GeomState> g_state(VO_MODULE_GEOMETRY);
//   VtStatus GeomCopy(void *state, void **copy);  // a new record for a context
//   VtStatus GeomFree(void *copy);                // frees such a copy
//   }
//
//   start:      auto *s = ...make the record...;
//               VtStatus st = g_state.Register(s, &GeomCopy, &GeomFree);
//   anywhere:   GeomState *s = g_state.Get();   // this context's record
//   terminate:  g_state.Unregister();  ...then free the master record...
//
// A module whose state is never copied calls SetMaster instead of Register.
// Get() costs one thread-local load and a compare when no copies exist.
#pragma once

#include <cstdint>

#include "kernel/vosystem/kernel.h"

namespace vo {

// A table of context copies by module number.
struct ContextCopyTable {
  void **entries;
  uint32_t size;
};

// The calling thread's table of copies; null outside a worker context.
extern constinit thread_local ContextCopyTable *t_context_copies;

// Makes a copy of every registered record through its copy procedure (in
// registration order, with the new table installed for the calling thread
// meanwhile) into a new table; *status gets the OR of the copy
// procedures' statuses (0x20000006 when the table cannot be made, and then
// the result is null).
ContextCopyTable *ContextCopiesMake(VtStatus *status);
// Frees every copy in the table through its module's free procedure, then
// the table. Answers the OR of the free procedures' statuses.
VtStatus ContextCopiesFree(ContextCopyTable *table);
// Installs a table for the calling thread (null removes it) and answers the
// one installed before.
ContextCopyTable *ContextCopiesInstall(ContextCopyTable *table);

template <class T>
class ModuleState {
 public:
  constexpr explicit ModuleState(uint32_t module) noexcept : module_(module) {}

  // The record of the calling context: its copy inside a worker context,
  // else the master.
  T *Get() const noexcept {
    if (const ContextCopyTable *t = t_context_copies) [[unlikely]] {
      if (module_ < t->size && t->entries[module_] != nullptr) return static_cast<T *>(t->entries[module_]);
    }
    return master_;
  }
  T *Master() const noexcept { return master_; }
  uint32_t Module() const noexcept { return module_; }

  // Makes the record the master without registering it.
  void SetMaster(T *record) noexcept { master_ = record; }

  // Makes the record the master and registers it as the module's context
  // variables. On failure nothing is registered and the master is unchanged.
  VtStatus Register(T *record, VtContextCopyProc copy, VtContextFreeProc release, VtProc flags = nullptr) {
    VtStatus s = VoContextVariablesRegister(module_, record, copy, release, flags);
    if (s == 0) master_ = record;
    return s;
  }

  // Removes the registration and forgets the master.
  VtStatus Unregister() {
    master_ = nullptr;
    return VoContextVariablesUnregister(module_);
  }

 private:
  uint32_t module_;
  T *master_ = nullptr;
};

}  // namespace vo

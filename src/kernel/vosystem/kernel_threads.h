// Kernel locks, thread records and the context-variables registry.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_kernel.h>

struct VtHashTable;

// One lock triple: the mutex word (zero while free), the identity of the
// thread holding it and the nesting count. The owner is left as it was when
// the count returns to 0.
struct VtLockTriple {
  VtMutexWord *mutex;
  uint32_t owner;
  uint32_t count;
};

// A recursive lock: the lock procedures work on the first triple; the second
// triple and the spare word belong to the lock's user.
struct VtLock {
  VtLockTriple first;
  VtLockTriple second;
  void *spare;  // a buffer freed with the lock when set
};
static_assert(offsetof(VtLockTriple, owner) == 8 && sizeof(VtLockTriple) == 16);
static_assert(offsetof(VtLock, second) == 16 && offsetof(VtLock, spare) == 32 && sizeof(VtLock) == 40);

namespace vo {

// A module's registration as context variables.
struct ContextRegistration {
  uint32_t module;
  void *state;
  VtContextCopyProc copy;
  VtContextFreeProc free;
  VtProc flags;  // kept, never read
  ContextRegistration *next;
  ContextRegistration *previous;
};

}  // namespace vo

// The context-variables registry: every registration in order, and the
// registered state records by module number.
struct VtContextVariables {
  vo::ContextRegistration *head;
  vo::ContextRegistration *tail;
  void **table;
  uint32_t table_size;
  VtMutexWord *mutex;
};

namespace vo {

struct KernelThreads {
  uint32_t threading;     // 1 while at least one thread record exists
  uint32_t thread_count;  // thread records in the table
  uint32_t main_identity;
  VtMutexWord lock_word;  // the kernel lock's mutex word
  VtLock lock;            // the kernel lock (diagnostics, thread table)
  VtHashTable *thread_table;
  VtContextVariables contexts;
};

}  // namespace vo

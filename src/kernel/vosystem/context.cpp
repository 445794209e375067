// The context-variables registry and the per-thread tables of copies.

#include <cstring>

#include "kernel/vosystem/context.h"
#include "kernel/vosystem/threads.h"

namespace vo {

constinit thread_local ContextCopyTable *t_context_copies = nullptr;

namespace {

constexpr uint32_t kModuleNumberMax = 0xFFFF;

VtContextVariables *Registry(VtKernelContext *k) {
  return (k != nullptr && k->threads.contexts.table != nullptr) ? &k->threads.contexts : nullptr;
}

ContextRegistration *Find(VtContextVariables *c, uint32_t module) {
  for (ContextRegistration *r = c->head; r != nullptr; r = r->next)
    if (r->module == module) return r;
  return nullptr;
}

}  // namespace

VtStatus VoContextVariablesRegister(uint32_t module, void *state, VtContextCopyProc copy,
                                    VtContextFreeProc release, VtProc flags) {
  VtContextVariables *c = Registry(Kernel());
  if (c == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (module == 0 || module > kModuleNumberMax) return VO_STATUS_BAD_ARGUMENT;
  if (module >= c->table_size) {
    // Grown to module + 1 entries before anything is registered, so that a
    // failure leaves the registry as it was.
    auto *table = static_cast<void **>(VoMemoryReallocate(c->table, (module + 1) * sizeof(void *)));
    if (table == nullptr) return VO_STATUS_NO_MEMORY;
    std::memset(table + c->table_size, 0, (module + 1 - c->table_size) * sizeof(void *));
    c->table = table;
    c->table_size = module + 1;
  }
  // A module registered again replaces its registration.
  ContextRegistration *r = Find(c, module);
  if (r == nullptr) {
    r = static_cast<ContextRegistration *>(VoAllocate(sizeof(ContextRegistration)));
    if (r == nullptr) return VO_STATUS_NO_MEMORY;
    r->module = module;
    r->next = nullptr;
    r->previous = c->tail;
    if (c->tail)
      c->tail->next = r;
    else
      c->head = r;
    c->tail = r;
  }
  r->state = state;
  r->copy = copy;
  r->free = release;
  r->flags = flags;
  c->table[module] = state;
  return 0;
}

VtStatus VoContextVariablesUnregister(uint32_t module) {
  VtContextVariables *c = Registry(Kernel());
  if (c == nullptr) return 0;
  if (module < c->table_size) c->table[module] = nullptr;
  ContextRegistration *r = Find(c, module);
  if (r == nullptr) return 0;
  if (r->previous)
    r->previous->next = r->next;
  else
    c->head = r->next;
  if (r->next)
    r->next->previous = r->previous;
  else
    c->tail = r->previous;
  VoDeallocate(r);
  return 0;
}

ContextCopyTable *ContextCopiesMake(VtStatus *status) {
  *status = 0;
  VtContextVariables *c = Registry(Kernel());
  if (c == nullptr) {
    *status = VO_STATUS_NOT_INITIALISED;
    return nullptr;
  }
  auto *t = static_cast<ContextCopyTable *>(VoAllocate(sizeof(ContextCopyTable)));
  const uint32_t size = c->table_size + 1;
  void **entries = static_cast<void **>(VoAllocate(size * sizeof(void *)));
  if (t == nullptr || entries == nullptr) {
    VoDeallocate(t);
    VoDeallocate(entries);
    *status = VO_STATUS_NO_MEMORY;
    return nullptr;
  }
  std::memset(entries, 0, size * sizeof(void *));
  t->entries = entries;
  t->size = size;
  // The new table is installed while the copies are made, so that a copy
  // procedure that reads another module's record (through Get) finds the
  // copy made before it, not the master.
  ContextCopyTable *outer = ContextCopiesInstall(t);
  for (ContextRegistration *r = c->head; r != nullptr; r = r->next)
    if (r->copy != nullptr) *status |= r->copy(c->table[r->module], &entries[r->module]);
  (void)ContextCopiesInstall(outer);
  return t;
}

VtStatus ContextCopiesFree(ContextCopyTable *t) {
  if (t == nullptr) return 0;
  VtStatus status = 0;
  if (VtContextVariables *c = Registry(Kernel())) {
    for (ContextRegistration *r = c->head; r != nullptr; r = r->next) {
      if (r->free == nullptr || r->module >= t->size || t->entries[r->module] == nullptr) continue;
      status |= r->free(t->entries[r->module]);
      t->entries[r->module] = nullptr;
    }
  }
  VoDeallocate(t->entries);
  VoDeallocate(t);
  return status;
}

ContextCopyTable *ContextCopiesInstall(ContextCopyTable *table) {
  ContextCopyTable *old = t_context_copies;
  t_context_copies = table;
  return old;
}

VtStatus VoContextVariablesCopyAll() {
  // One table per thread: a second copy before the first is freed would
  // lose the first.
  if (t_context_copies != nullptr) return VO_STATUS_BAD_ARGUMENT;
  VtStatus status = 0;
  ContextCopyTable *t = ContextCopiesMake(&status);
  if (t != nullptr) ContextCopiesInstall(t);
  return status;
}

VtStatus VoContextVariablesFreeAll() {
  ContextCopyTable *t = ContextCopiesInstall(nullptr);
  return ContextCopiesFree(t);
}

}  // namespace vo

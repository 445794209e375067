// The kernel's own records and steps: the module registry with its
// dispatch caches, and the steps of the system module's start and terminate
// that the kernel's files provide to one another. Other modules ask
// whether a module is started (ModuleStarted) and never read the registry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/vosystem/kernel.h"

// One record per module number ever installed; owned by the registry.
struct VtModuleRecord {
  VtModuleRecord *previous;
  VtModuleRecord *next;
  uint32_t installed;
  uint32_t started;
  uint32_t query16;
  uint32_t number;
  uint32_t compatible;
  const char *name;
  VtQueryFunction query;
  VtModuleProc start;
  VtModuleProc terminate;
  VtModuleProc callbacks_changed;
  VtModuleProc memory_release;
  VtControlSetProc control_set;
  VtControlGetProc control_get;
  VtExecuteProc execute;
  VtCallBackProc callback;
};

namespace vo {

// ---------------------------------------------------------------------------
// Module registry
// ---------------------------------------------------------------------------

// A one-entry dispatch cache: the last code routed and its procedure.
template <class Proc>
struct DispatchCache {
  uint32_t code;
  Proc proc;
};

struct VtModuleRegistry {
  uint32_t initialised;
  uint32_t started_once;
  uint32_t system_reported;
  VtModuleRecord *head;
  VtModuleRecord *tail;
  size_t table_size;
  VtModuleRecord **table;
  DispatchCache<VtControlSetProc> set_cache;
  DispatchCache<VtControlGetProc> get_cache;
  DispatchCache<VtExecuteProc> execute_cache;
};

// The process-wide registry; null before VoSystemInitialise and after
// VoSystemTerminate.
extern VtModuleRegistry *g_registry;

inline VtModuleRegistry *Registry() { return g_registry; }

// The registry's record for a module number, or null.
VtModuleRecord *ModuleRecord(uint32_t number);
// Clears the three dispatch caches (a module's started flag changed).
void DispatchCachesClear();

// ---------------------------------------------------------------------------
// The system module's start and terminate
// ---------------------------------------------------------------------------

// Diagnostics helpers used inside the library.
void DiagnosticsCreate(VtKernelContext *k);
void DiagnosticsDestroy(VtKernelContext *k);
void MessageOutputChoose();
// Writes text through the driver framework's message channel, or to standard
// error while no driver framework is started.
VtStatus DriverMessageWrite(const char *text);

// The system module's query function and the pieces it is built from.
VtStatus SystemStart();
VtStatus SystemTerminate();

// Steps of the system module start and terminate that the kernel's own
// files provide.
void JournalCallbacksDefault(VtKernelContext *k);  // journal output callback
VtStatus KernelThreadsStart();                     // thread table and context variables
VtStatus KernelThreadsStop();
VtStatus KernelMathsStop();   // random states, tables
VtStatus KernelFilesStart();  // clock kinds, file reports, journal
VtStatus KernelFilesStop();
// Journal controls 0x10005, 0x10006, 0x1000a (get side).
VtStatus JournalControlGet(uint32_t code, VtTypedValue *value);
// Timing of one execute repetition (control 0x1000c).
void ExecuteTimerStart();
void ExecuteTimerStop();

}  // namespace vo

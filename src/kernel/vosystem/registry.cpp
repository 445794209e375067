// The module registry: installing, starting and stopping modules, the
// version check and the broadcasts to started modules.

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/memory_tidy.h"
#include "kernel/vosystem/module_entry.h"
#include "kernel/vosystem/registry.h"

namespace vo {

VtKernelContext *g_kernel = nullptr;
VtModuleRegistry *g_registry = nullptr;

namespace {

constexpr uint32_t kMaxModuleNumber = 0xFFFF;

// The default progress callback: does nothing, with the callback's own type.
VtStatus ProgressNothing(uint32_t, VtTypedValue *) { return 0; }

VtTypedValue Ask(VtQueryFunction q, uint32_t query) {
  VtTypedValue answer{};
  q(query, &answer);
  return answer;
}

template <class Proc>
Proc AskProc(VtQueryFunction q, uint32_t query) {
  VtTypedValue a = Ask(q, query);
  return a.type == VtFunc ? reinterpret_cast<Proc>(a.value.fn) : nullptr;
}

// Grows the module table so that it holds number n.
VtStatus TableGrow(VtModuleRegistry *r, size_t n) {
  size_t size = r->table_size + 10;
  if (size <= n) size += ((n - size + 10) / 10) * 10;
  auto **table = static_cast<VtModuleRecord **>(
      VoMemoryReallocate(r->table, static_cast<uint32_t>(size * sizeof(VtModuleRecord *))));
  if (table == nullptr) return VO_STATUS_NO_MEMORY;
  for (size_t i = r->table_size; i < size; ++i) table[i] = nullptr;
  r->table = table;
  r->table_size = size;
  return 0;
}

void SetStarted(VtModuleRecord *m, uint32_t started) {
  if (m->started != started) DispatchCachesClear();
  m->started = started;
}

const char *NameOr(const VtModuleRecord *m, const char *fallback) {
  return (m != nullptr && m->name != nullptr) ? m->name : fallback;
}

// The version check over all installed modules (after the first start).
uint32_t VersionCheck() {
  VtModuleRegistry *r = Registry();
  if (!r->started_once) return 192;
  VtModuleRecord *first = nullptr;
  for (VtModuleRecord *m = r->head; m; m = m->next)
    if (m->installed) {
      first = m;
      break;
    }
  if (first == nullptr) return 64;
  uint32_t highest = VoModuleVersionGet(first);
  if (highest & 0xC0) return highest;
  VtModuleRecord *best = first;
  for (VtModuleRecord *m = first->next; m; m = m->next) {
    if (!m->installed) continue;
    uint32_t v = VoModuleVersionGet(m);
    if (v & 0xC0) return highest;
    if ((v >> 16) != (highest >> 16)) {
      Post(VO_CLASS_WARNING, 549, VO_MODULE_SYSTEM, NameOr(best, "?"), best->number,
           reinterpret_cast<const void *>(static_cast<uintptr_t>(highest)), NameOr(m, "?"), m->number,
           reinterpret_cast<const void *>(static_cast<uintptr_t>(v)));
      return 128;
    }
    if (v > highest) {
      highest = v;
      best = m;
    }
  }
  return highest;
}

}  // namespace

VtModuleRecord *ModuleRecord(uint32_t number) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr || number == 0 || number >= r->table_size) return nullptr;
  return r->table[number];
}

bool ModuleStarted(uint32_t number) {
  VtModuleRecord *m = ModuleRecord(number);
  return m != nullptr && m->installed && m->started;
}

std::vector<ModuleExecuteCodes> InstalledExecuteCodes() {
  std::vector<ModuleExecuteCodes> all;
  VtModuleRegistry *r = Registry();
  if (r == nullptr) return all;
  for (size_t n = 0; n < r->table_size; ++n) {
    const VtModuleRecord *m = r->table[n];
    if (m == nullptr || !m->installed || m->query == nullptr) continue;
    // A module not built from a description (an application's own) does
    // not answer the query; its codes are its own business.
    const VtTypedValue a = Ask(m->query, kDescriptionQuery);
    const auto *d = a.type == VtGenericPtr ? static_cast<const ModuleDescription *>(a.value.p) : nullptr;
    if (d != nullptr && d->execute != nullptr) all.push_back({m->number, d->name, d->execute_codes});
  }
  return all;
}

void DispatchCachesClear() {
  VtModuleRegistry *r = Registry();
  if (r == nullptr) return;
  r->set_cache = {};
  r->get_cache = {};
  r->execute_cache = {};
}

VtStatus VoSystemInitialise() {
  if (Kernel() != nullptr || Registry() != nullptr) {
    // Already built: a second initialise would lose the running kernel.
    return VO_STATUS_BAD_ARGUMENT;
  }
  auto *k = static_cast<VtKernelContext *>(VoAllocate(sizeof(VtKernelContext)));
  if (k == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(k, 0, sizeof *k);
  k->repeat_count = 1;
  g_kernel = k;
  // Default callbacks (memory callbacks are filled by the memory manager).
  KernelSlotSet(k, VO_CALLBACK_ERROR_HANDLER, &exported::VoErrorHandlerDefault);
  KernelSlotSet(k, VO_CALLBACK_PROGRESS, &ProgressNothing);
  MemoryCallbacksDefault(k);
  JournalCallbacksDefault(k);

  auto *r = static_cast<VtModuleRegistry *>(VoAllocate(sizeof(VtModuleRegistry)));
  if (r == nullptr) return VO_STATUS_ERROR_NO_MEMORY;
  std::memset(r, 0, sizeof *r);
  g_registry = r;
  VtStatus s = TableGrow(r, 1);
  if (s) return s;
  DiagnosticsCreate(k);
  if (k->messages.text == nullptr) return VO_STATUS_ERROR_NO_MEMORY;
  s = VoInstallModule(&VoEntrySystem);
  if (s) return s;
  r->initialised = 1;
  r->started_once = 0;
  r->system_reported = 0;
  return VoSystemStart();
}

VtStatus VoInstallModule(VtQueryFunction q) {
  VtModuleRegistry *r = Registry();
  if (q == nullptr) return 0;
  if (r == nullptr) return VO_STATUS_NOT_INITIALISED;
  VtTypedValue a = Ask(q, VO_QUERY_MODULE_NUMBER);
  uint32_t n = a.value.u;
  if (n == 0 || n > kMaxModuleNumber) {
    Post(VO_STATUS_BAD_ARGUMENT, 201, VO_MODULE_SYSTEM, static_cast<int32_t>(n));
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (n >= r->table_size && TableGrow(r, n) != 0) return VO_STATUS_NO_MEMORY;
  VtModuleRecord *m = r->table[n];
  if (m != nullptr && m->installed) {
    Post(VO_STATUS_BAD_ARGUMENT, 201, VO_MODULE_SYSTEM, static_cast<int32_t>(n));
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (m == nullptr) {
    m = static_cast<VtModuleRecord *>(VoAllocate(sizeof(VtModuleRecord)));
    if (m == nullptr) return VO_STATUS_NO_MEMORY;
    std::memset(m, 0, sizeof *m);
    r->table[n] = m;
  }
  a = Ask(q, VO_QUERY_INTERFACE_LEVEL);
  if (a.value.i != VO_INTERFACE_LEVEL) {
    Post(VO_STATUS_BAD_ARGUMENT, 202, VO_MODULE_SYSTEM, static_cast<int32_t>(n), a.value.i,
         static_cast<int32_t>(VO_INTERFACE_LEVEL));
    return VO_STATUS_BAD_ARGUMENT;
  }
  a = Ask(q, VO_QUERY_OBSOLETE_FLAG);
  m->query16 = a.type == VtBoolean ? a.value.u : 0;
  if (m->query16) Post(VO_CLASS_WARNING, 891, VO_MODULE_SYSTEM, static_cast<int32_t>(n));
  m->installed = 1;
  SetStarted(m, 0);
  m->number = n;
  m->next = nullptr;
  m->query = q;
  a = Ask(q, VO_QUERY_COMPATIBILITY);
  m->compatible = (a.type == VtNat32 && a.value.u == ((n << 24) | kCompatibilityKey)) ? 1 : 0;
  a = Ask(q, VO_QUERY_REGISTRY_NAME);
  m->name = a.type == VtString ? a.value.s : nullptr;
  m->control_get = AskProc<VtControlGetProc>(q, VO_QUERY_CONTROL_GET);
  m->control_set = AskProc<VtControlSetProc>(q, VO_QUERY_CONTROL_SET);
  m->start = AskProc<VtModuleProc>(q, VO_QUERY_START);
  m->terminate = AskProc<VtModuleProc>(q, VO_QUERY_TERMINATE);
  m->callbacks_changed = AskProc<VtModuleProc>(q, VO_QUERY_CALLBACKS_CHANGED);
  m->memory_release = AskProc<VtModuleProc>(q, VO_QUERY_MEMORY_RELEASE);
  m->execute = AskProc<VtExecuteProc>(q, VO_QUERY_EXECUTE);
  m->callback = AskProc<VtCallBackProc>(q, VO_QUERY_CALLBACK);
  m->previous = r->tail;
  if (r->tail)
    r->tail->next = m;
  else
    r->head = m;
  r->tail = m;
  return 0;
}

VtStatus VoSystemStart() {
  VtModuleRegistry *r = Registry();
  if (r == nullptr) return VO_STATUS_NOT_INITIALISED;
  VtStatus pools = 0;
  bool pools_existed = false;
  if (r->started_once) {
    if (!r->system_reported) {
      VtModuleRecord *sys = ModuleRecord(VO_MODULE_SYSTEM);
      Post(VO_CLASS_DEBUG, 234, VO_MODULE_SYSTEM, NameOr(sys, "?"), static_cast<int32_t>(VO_MODULE_SYSTEM));
      r->system_reported = 1;
    }
    // Kept apart from the start statuses so that a later successful start
    // cannot wipe a failure to make the kernel's pools.
    pools_existed = KernelPoolsExist();
    pools = KernelPoolsMake();
  }
  bool started_any = false;
  for (VtModuleRecord *m = r->head; m; m = m->next) {
    if (!m->installed || m->started || m->start == nullptr) continue;
    VtStatus s = m->start();
    if (s != 0) {
      if (r->started_once)
        Post(VO_CLASS_DEBUG, 235, VO_MODULE_SYSTEM, NameOr(m, "?"), static_cast<int32_t>(m->number));
      return s | pools;
    }
    if (r->started_once)
      Post(VO_CLASS_DEBUG, m->query16 ? 822 : 234, VO_MODULE_SYSTEM, NameOr(m, "?"),
           static_cast<int32_t>(m->number));
    SetStarted(m, 1);
    started_any = true;
  }
  if (r->started_once) {
    Post(VO_CLASS_DEBUG, 203, VO_MODULE_SYSTEM);
    (void)VersionCheck();
  }
  r->started_once = 1;
  // A start that finds the pools made and nothing to start tells the caller
  // so; applications test for this answer.
  if (pools_existed && !started_any && pools == 0) pools = VO_STATUS_ERROR_BAD_ARGUMENT;
  return VoCallBacksChangedNotify() | pools;
}

VtStatus VoSystemTerminate() {
  VtModuleRegistry *r = Registry();
  if (r == nullptr) return VO_STATUS_NOT_INITIALISED;
  RenderAfterRun();  // before any module stops: each entry's module frees its own
  VtStatus result = 0;
  for (VtModuleRecord *m = r->tail; m; m = m->previous) {
    if (!m->installed || !m->started) continue;
    if (m->terminate != nullptr) {
      VtStatus s = m->terminate();
      result |= s;
      Post(VO_CLASS_DEBUG, s == 0 ? 259 : 260, VO_MODULE_SYSTEM, NameOr(m, "?"),
           static_cast<int32_t>(m->number));
    }
    SetStarted(m, 0);
  }
  for (size_t i = 0; i < r->table_size; ++i) VoDeallocate(r->table[i]);
  VoDeallocate(r->table);
  r->table = nullptr;
  r->table_size = 0;
  r->head = r->tail = nullptr;
  VtKernelContext *k = Kernel();
  DiagnosticsDestroy(k);
  g_kernel = nullptr;
  VoDeallocate(k);
  g_registry = nullptr;
  VoDeallocate(r);
  return result;
}

VtStatus VoCallBacksChangedNotify() {
  VtModuleRegistry *r = Registry();
  if (r == nullptr) return VO_STATUS_NOT_INITIALISED;
  VtStatus result = 0;
  for (VtModuleRecord *m = r->head; m; m = m->next)
    if (m->installed && m->started && m->callbacks_changed) result |= m->callbacks_changed();
  return result;
}

VtStatus VoMemoryTidy() { return MemoryTidyKeeping(nullptr, 0); }

VtStatus MemoryTidyKeeping(VtPool *const *kept, size_t count) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr) return VO_STATUS_NOT_INITIALISED;
  VtStatus result = KernelMemoryTidyKeeping(kept, count);
  for (VtModuleRecord *m = r->head; m; m = m->next)
    if (m->installed && m->started && m->memory_release) result |= m->memory_release();
  return result;
}

VtStatus VoModuleCheckStarted(uint32_t number, uint32_t report) {
  if (ModuleStarted(number)) return 0;
  if (report && Kernel() != nullptr) {
    VtModuleRecord *m = ModuleRecord(number);
    const char *name = (m != nullptr && m->installed) ? NameOr(m, "?") : "?";
    Post(VO_STATUS_DEBUG_NOT_STARTED, 481, VO_MODULE_SYSTEM, name, static_cast<int32_t>(number));
  }
  return VO_STATUS_DEBUG_NOT_STARTED;
}

VtStatus VoModuleCompatibilityGet(uint32_t number) {
  VtModuleRecord *m = ModuleRecord(number);
  if (m == nullptr || !m->installed) return VO_STATUS_DEBUG_NOT_STARTED;
  return m->compatible ? 0 : VO_STATUS_UNAVAILABLE;
}

uint32_t VoModuleVersionGet(VtModuleRecord *m) {
  if (m == nullptr || !m->installed || m->query == nullptr) return 64;
  VtTypedValue a = Ask(m->query, VO_QUERY_VERSION);
  if (a.type != VtNat32) return 64;
  uint32_t v = a.value.u;
  // Old-style decimal versions (452 for 4.5) are converted.
  if (v < 2048) v = (((v % 100) / 10) | ((v / 100) << 8)) << 16;
  return v;
}

const char *VoModuleVersionText(uint32_t v) {
  static thread_local char text[64];
  if (v == 0 || (v & 0xC0) == 64) return std::strcpy(text, "unknown");
  if ((v & 0xC0) == 128) return std::strcpy(text, "incompatible");
  if ((v & 0xC0) == 192) return std::strcpy(text, "invalid");
  unsigned major = v >> 24, minor = (v >> 16) & 0xFF, revision = (v >> 8) & 0xFF;
  unsigned kind = (v >> 4) & 3, number = v & 0xF;
  int len = std::snprintf(text, sizeof text, "TARN %u.%u", major, minor);
  if (revision) len += std::snprintf(text + len, sizeof text - len, ".%u", revision);
  char suffix[4] = "";
  const char *word = "dev";
  switch (kind) {
    case 1:
    case 2:
      word = kind == 1 ? "alpha" : "beta";
      if (number >= 10)
        std::snprintf(suffix, sizeof suffix, "1%u", number % 10);
      else if (number > 0)
        std::snprintf(suffix, sizeof suffix, "%u", number);
      break;
    case 3:
      if (number == 0) return text;
      word = "rev";
      suffix[0] = static_cast<char>('A' + number - 1);
      suffix[1] = 0;
      break;
    default: break;
  }
  std::snprintf(text + len, sizeof text - len, " (%s%s)", word, suffix);
  return text;
}

VtStatus VoModulesReport() {
  VtModuleRegistry *r = Registry();
  if (r == nullptr) return 0;
  for (VtModuleRecord *m = r->head; m; m = m->next) {
    if (!m->installed || !m->started || m->query == nullptr) continue;
    uint32_t version = VoModuleVersionGet(m);
    VtTypedValue kind = Ask(m->query, VO_QUERY_BUILD_KIND);
    VtTypedValue when = Ask(m->query, VO_QUERY_BUILD_TIME);
    VtTypedValue banner = Ask(m->query, VO_QUERY_BANNER);
    char time_text[64] = "???";
    if (when.type == VtNat32) {
      std::time_t t = static_cast<std::time_t>(when.value.u);
      std::tm tm{};
      if (localtime_r(&t, &tm) != nullptr)
        std::strftime(time_text, sizeof time_text, "%a %b %e %H:%M:%S %Y", &tm);
    }
    std::string last = (banner.type == VtString && banner.value.s && banner.value.s[0])
                           ? std::string(banner.value.s)
                           : std::string(VoModuleVersionText(version));
    Post(VO_CLASS_DEBUG, 392, VO_MODULE_SYSTEM, NameOr(m, "?"), static_cast<int32_t>(m->number), version,
         (kind.type == VtString && kind.value.s) ? kind.value.s : "???", static_cast<const char *>(time_text),
         last.c_str());
  }
  return 0;
}

}  // namespace vo

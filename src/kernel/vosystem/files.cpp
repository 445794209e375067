// Opening files, the kernel's part of the system module's start and
// terminate for files, journal and timers, the time value, the marshalling
// hook and the script data handle.

#include <cstdio>
#include <cstring>

#include "kernel/vosystem/journal.h"
#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/registry.h"

namespace vo {

namespace {

// Accesses 1-3 (the low four bits of the flags): the fopen mode and the
// message of a failed open.
struct Access {
  const char *mode;
  uint32_t message;
};
constexpr Access kAccess[3] = {{"rb", 362}, {"wb", 363}, {"ab", 364}};
constexpr uint32_t kMessageBadMode = 365;

constexpr uint32_t kFileQuiet = 16;
constexpr uint32_t kFileUpdate = 32;

}  // namespace

VtStatus KernelFilesStart() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  ClockKindsMake(k->files);
  k->files.report_open_failures = 1;
  return JournalStart(k);
}

VtStatus KernelFilesStop() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  JournalStop(k);
  k->files.report_open_failures = 0;
  return 0;
}

void *VoFileOpen(const char *path, uint32_t flags) {
  VtKernelContext *k = Kernel();
  const bool report = k != nullptr && k->files.report_open_failures != 0;
  const uint32_t access = flags & 0xFu;
  if (access < 1 || access > 3) {
    if (report) Post(VO_STATUS_BAD_ARGUMENT, kMessageBadMode, VO_MODULE_SYSTEM, static_cast<int32_t>(flags));
    return nullptr;
  }
  const Access &a = kAccess[access - 1];
  char mode[8];
  std::snprintf(mode, sizeof mode, (flags & kFileUpdate) ? "%s+" : "%s", a.mode);
  std::FILE *file = path != nullptr ? std::fopen(path, mode) : nullptr;
  if (file == nullptr && (flags & kFileQuiet) == 0 && report)
    Post(VO_STATUS_BAD_ARGUMENT, a.message, VO_MODULE_SYSTEM, path != nullptr ? path : "<null path>");
  return file;
}

VtStatus VoFileClose(void *file) {
  if (file != nullptr) std::fclose(static_cast<std::FILE *>(file));
  return 0;
}

double VoTimeGet() {
  VtKernelContext *k = Kernel();
  return k != nullptr ? k->time_value : 0.0;
}

VtStatus VoMarshalValue(void *value, void **result) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || !k->memory.pools_made) return VO_STATUS_ERROR_BAD_ARGUMENT;
  if (result == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *result = value;  // marshalling is off: values pass unchanged
  return 0;
}

void *VoDataCreate() {
  VtKernelContext *k = Kernel();
  return k != nullptr ? &k->files.script_data : nullptr;
}

}  // namespace vo

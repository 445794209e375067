// Minimal journal controls and timing until files, journal and timers land.

#include <cstring>

#include "vosystem/kernel.h"

namespace vo {

VtStatus KernelFilesStart() { return 0; }
VtStatus KernelFilesStop() {
  VtKernelContext *k = Kernel();
  if (k != nullptr) {
    VoDeallocate(k->files.journal_name);
    k->files.journal_name = nullptr;
  }
  return 0;
}
void JournalCallbacksDefault(VtKernelContext *) {}
void ExecuteTimerStart() {}
void ExecuteTimerStop() {}

VtStatus JournalControlGet(uint32_t code, VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  switch (code) {
    case VO_CONTROL_JOURNAL_FILE: *v = TypedPointer(k->files.journal_file); return 0;
    case VO_CONTROL_JOURNAL_FLAGS:
      *v = TypedNat32(k->files.journal_flags);
      v->type = VtFlags;
      return 0;
    case VO_CONTROL_JOURNAL_NAME:
      *v = TypedString(k->files.journal_name ? k->files.journal_name : "");
      return 0;
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

VtStatus VoJournalControlSet(uint32_t code, const VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  switch (code) {
    case VO_CONTROL_JOURNAL_FILE: k->files.journal_file = static_cast<std::FILE *>(v->value.p); return 0;
    case VO_CONTROL_JOURNAL_FLAGS: k->files.journal_flags = v->value.u; return 0;
    case VO_CONTROL_JOURNAL_NAME: {
      const char *s = v->value.s ? v->value.s : "";
      size_t n = std::strlen(s) + 1;
      char *copy = static_cast<char *>(VoAllocate(static_cast<uint32_t>(n)));
      if (copy == nullptr) return VO_STATUS_NO_MEMORY;
      std::memcpy(copy, s, n);
      VoDeallocate(k->files.journal_name);
      k->files.journal_name = copy;
      return 0;
    }
    default: return 16;
  }
}

}  // namespace vo

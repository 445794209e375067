// The system module (vosystem, number 1): its query function, controls,
// execute code, start and terminate.

#include <cstring>

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/module_entry.h"
#include "kernel/vosystem/registry.h"

namespace vo {

namespace {

constexpr uint32_t kBuildTime = 904643049;
constexpr const char *kBanner = "mrvx20 kernel and module system";

VtStatus SystemControlGet(uint32_t code, VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_NO_KERNEL;
  MessageState &m = k->messages;
  switch (code) {
    case VO_CONTROL_MESSAGE_FILE: *v = TypedPointer(m.message_file); return 0;
    case VO_CONTROL_ERROR_STREAM: *v = TypedPointer(m.error_stream); return 0;
    case VO_CONTROL_SEVERITY_MASK: *v = TypedNat32(m.severity_mask); return 0;
    case VO_CONTROL_DEBUG_LEVEL: *v = TypedNat32(k->debug_level); return 0;
    case VO_CONTROL_STICKY_STATUS: *v = TypedPointer(&k->sticky_status); return 0;
    case VO_CONTROL_REPEAT_COUNT: *v = TypedNat32(k->repeat_count); return 0;
    case VO_CONTROL_TIMING: *v = TypedBoolean(k->timing != 0); return 0;
    case VO_CONTROL_TIME_VALUE: *v = TypedPointer(&k->time_value); return 0;
    case VO_CONTROL_JOURNAL_FILE:
    case VO_CONTROL_JOURNAL_FLAGS:
    case VO_CONTROL_JOURNAL_NAME: return JournalControlGet(code, v);
    case VO_CONTROL_FREE_CHUNKS:
    case VO_CONTROL_CHUNK_SIZE:
    case VO_CONTROL_COMPACT_SUBPOOLS:
    case VO_CONTROL_BIG_CHUNK_SIZE:
    case VO_CONTROL_COMPACT_THRESHOLD: return MemoryControlGet(code, v);
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

VtStatus SystemControlSet(uint32_t code, const VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_NO_KERNEL;
  MessageState &m = k->messages;
  switch (code) {
    case VO_CONTROL_MESSAGE_FILE:
      m.message_file = static_cast<std::FILE *>(v->value.p);
      m.file_changed = 1;
      m.file_usable = 0;
      return 0;
    case VO_CONTROL_ERROR_STREAM:
      m.error_stream = static_cast<std::FILE *>(v->value.p);
      MessageOutputChoose();
      return 0;
    case VO_CONTROL_SEVERITY_MASK: m.severity_mask = v->value.u; return 0;
    case VO_CONTROL_DEBUG_LEVEL: k->debug_level = v->value.u; return 0;
    case VO_CONTROL_REPEAT_COUNT: k->repeat_count = v->value.u; return 0;
    case VO_CONTROL_TIMING: k->timing = v->value.u != 0; return 0;
    case VO_CONTROL_STICKY_STATUS:
    case VO_CONTROL_TIME_VALUE: return VO_STATUS_UNKNOWN_CODE;  // get only
    case VO_CONTROL_JOURNAL_FILE:
    case VO_CONTROL_JOURNAL_FLAGS:
    case VO_CONTROL_JOURNAL_NAME: return VoJournalControlSet(code, v);
    case VO_CONTROL_FREE_CHUNKS:
    case VO_CONTROL_CHUNK_SIZE:
    case VO_CONTROL_COMPACT_SUBPOOLS:
    case VO_CONTROL_BIG_CHUNK_SIZE:
    case VO_CONTROL_COMPACT_THRESHOLD: return MemoryControlSet(code, v);
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

constexpr uint32_t kSystemExecuteCodes[] = {VO_EXECUTE_MODULES_REPORT};

VtStatus SystemExecute(uint32_t code) {
  if (!ExecuteCodeListed(kSystemExecuteCodes, code)) return VO_STATUS_UNKNOWN_CODE;
  return VoModulesReport();
}

VtStatus SystemCallbacksChanged() {
  MessageOutputChoose();
  return 0;
}

}  // namespace

VtStatus SystemStart() {
  VtStatus s = KernelFilesStart();
  s |= KernelThreadsStart();
  MessageOutputChoose();
  return s;
}

VtStatus SystemTerminate() {
  VtStatus s = KernelFilesStop();
  s |= KernelMathsStop();
  s |= KernelMemoryShutdown();
  s |= KernelThreadsStop();
  s |= KernelTimersStop();
  return s;
}

VtStatus VoEntrySystem(uint32_t query, VtTypedValue *a) {
  static const ModuleDescription kSystem = {
      .number = VO_MODULE_SYSTEM,
      .name = "vosystem",
      .banner = kBanner,
      .build_time = kBuildTime,
      .control_set = &SystemControlSet,
      .control_get = &SystemControlGet,
      .start = &SystemStart,
      .execute = &SystemExecute,
      .execute_codes = kSystemExecuteCodes,
      .terminate = &SystemTerminate,
      .callbacks_changed = &SystemCallbacksChanged,
  };
  return ModuleQueryAnswer(kSystem, query, a);
}

VtStatus VoCallBackNull() { return 0; }
int32_t VoReturn256() { return 256; }
int32_t VoReturnMinusOne() { return -1; }
VtStatus VoStringTableRead() { return 0; }

}  // namespace vo

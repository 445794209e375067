#include "kernel/vosystem/module_entry.h"

#include "kernel/vosystem/kernel.h"

namespace vo {

namespace {
template <class F>
VtTypedValue ProcOrNothing(F f) {
  return f ? TypedFunc(f) : VtTypedValue{};
}
}  // namespace

VtStatus ModuleQueryAnswer(const ModuleDescription &d, uint32_t query, VtTypedValue *a) {
  if (a == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *a = VtTypedValue{};
  switch (query) {
    case VO_QUERY_CONTROL_SET: *a = ProcOrNothing(d.control_set); break;
    case VO_QUERY_CONTROL_GET: *a = ProcOrNothing(d.control_get); break;
    case VO_QUERY_INTERFACE_LEVEL: *a = TypedInt32(VO_INTERFACE_LEVEL); break;
    case VO_QUERY_MODULE_NUMBER: *a = TypedNat32(d.number); break;
    case VO_QUERY_START: *a = ProcOrNothing(d.start); break;
    case VO_QUERY_REGISTRY_NAME: *a = TypedString(d.name); break;
    case VO_QUERY_MEMORY_RELEASE: *a = ProcOrNothing(d.memory_release); break;
    case VO_QUERY_EXECUTE: *a = ProcOrNothing(d.execute); break;
    case VO_QUERY_TERMINATE: *a = ProcOrNothing(d.terminate); break;
    case VO_QUERY_CALLBACKS_CHANGED: *a = ProcOrNothing(d.callbacks_changed); break;
    case VO_QUERY_BANNER:
      if (d.banner) *a = TypedString(d.banner);
      break;
    case VO_QUERY_CALLBACK: *a = ProcOrNothing(d.callback); break;
    case VO_QUERY_VERSION: *a = TypedNat32(VO_MODULE_VERSION); break;
    case VO_QUERY_BUILD_KIND: *a = TypedString(d.build_kind != nullptr ? d.build_kind : VO_BUILD_KIND); break;
    case VO_QUERY_BUILD_TIME: *a = TypedNat32(d.build_time); break;
    case VO_QUERY_OBSOLETE_FLAG: *a = TypedBoolean(false); break;
    case VO_QUERY_COMPATIBILITY:
      if (d.compatible) *a = TypedNat32((d.number << 24) | kCompatibilityKey);
      break;
    case kDescriptionQuery: *a = TypedPointer(const_cast<ModuleDescription *>(&d)); break;
    default: break;
  }
  return 0;
}

}  // namespace vo

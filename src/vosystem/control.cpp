// Routing of control, callback and execute codes to their modules.

#include "vosystem/kernel.h"

namespace vo {

namespace {

// Looks the code's module up; null when it is 0, outside the table, not
// installed, not started, or lacks the procedure.
template <class Proc>
Proc Route(uint32_t code, Proc VtModuleRecord::*member) {
  VtModuleRecord *m = ModuleRecord(VO_CODE_MODULE(code));
  if (m == nullptr || !m->installed || !m->started) return nullptr;
  return m->*member;
}

// One-entry cache in front of Route(); filled only by a successful look-up.
template <class Proc>
Proc Dispatch(DispatchCache<Proc> &cache, uint32_t code, Proc VtModuleRecord::*member) {
  if (cache.proc != nullptr && cache.code == code) return cache.proc;
  Proc p = Route(code, member);
  if (p != nullptr) {
    cache.code = code;
    cache.proc = p;
  }
  return p;
}

void Report204(VtStatus s, uint32_t code) {
  Post(s, 204, VO_MODULE_SYSTEM, static_cast<int32_t>(code), static_cast<int32_t>(VO_CODE_MODULE(code)),
       static_cast<int32_t>(VO_CODE_INDEX(code)));
}

}  // namespace

VtProc *KernelCallbackSlot(uint32_t code) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || code < kCallbackFirst || code > kCallbackLast || code == 0x1000f) return nullptr;
  return &k->callbacks[code - kCallbackFirst];
}

VtStatus VoControlGet(uint32_t code, VtTypedValue *value) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr || !r->initialised) return VO_STATUS_NO_KERNEL;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  VtControlGetProc p = Dispatch(r->get_cache, code, &VtModuleRecord::control_get);
  VtStatus s = p ? p(code, value) : VO_STATUS_UNAVAILABLE;
  if (s != 0) Report204(s, code);
  return s;
}

VtStatus VoControlSet(uint32_t code, const VtTypedValue *value) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr || !r->initialised) return VO_STATUS_NO_KERNEL;
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  VtTypedValue current{};
  VtStatus s = VoControlGet(code, &current);
  if (s != 0) return s;
  if (current.type != value->type) {
    Post(VO_STATUS_BAD_ARGUMENT, 444, VO_MODULE_SYSTEM, static_cast<int32_t>(value->type),
         static_cast<int32_t>(code), static_cast<int32_t>(current.type));
    return VO_STATUS_BAD_ARGUMENT;
  }
  VtControlSetProc p = Dispatch(r->set_cache, code, &VtModuleRecord::control_set);
  return p ? p(code, value) : VO_STATUS_UNAVAILABLE;
}

VtProc VoCallBackGet(uint32_t code) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr || !r->initialised) return nullptr;
  if (VO_CODE_MODULE(code) == VO_MODULE_SYSTEM) return KernelCallback<VtProc>(code);
  VtCallBackProc p = Route(code, &VtModuleRecord::callback);
  if (p == nullptr) return nullptr;
  VtProc slot = nullptr;
  p(0, code, &slot);
  return slot;
}

VtStatus VoCallBackSet(uint32_t code, VtProc procedure) {
  VtModuleRegistry *r = Registry();
  if (r == nullptr || !r->initialised) return VO_STATUS_BAD_ARGUMENT;
  if (VO_CODE_MODULE(code) == VO_MODULE_SYSTEM) {
    VtProc *slot = KernelCallbackSlot(code);
    if (slot == nullptr) return VO_STATUS_BAD_ARGUMENT;
    *slot = procedure;
  } else {
    VtCallBackProc p = Route(code, &VtModuleRecord::callback);
    if (p == nullptr) return VO_STATUS_UNAVAILABLE;
    VtProc value = procedure;
    VtStatus s = p(1, code, &value);
    if (s != 0) return s;
  }
  (void)VoCallBacksChangedNotify();
  return 0;
}

VtStatus VoExecute(uint32_t code) {
  VtModuleRegistry *r = Registry();
  VtKernelContext *k = Kernel();
  if (r == nullptr || !r->initialised || k == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus status = 0;
  const uint32_t repeat = k->repeat_count;
  for (uint32_t i = 0; i < repeat; ++i) {
    if (k->timing) ExecuteTimerStart();
    uint32_t pass_status = 0;
    if (auto pre = KernelCallback<void (*)(uint32_t *)>(VO_CALLBACK_PRE_EXECUTE)) pre(&pass_status);
    const uint32_t saved_code = k->executing_code, saved_flag = k->executing;
    k->executing_code = code;
    k->executing = 1;
    VtExecuteProc p = Dispatch(r->execute_cache, code, &VtModuleRecord::execute);
    status = p ? p(code) : VO_STATUS_UNAVAILABLE;
    // The kernel may have been stopped by the module; nothing of it is
    // touched then.
    if (Kernel() != k) return status;
    k->executing = saved_flag;
    k->executing_code = saved_code;
    if (auto post = KernelCallback<VtStatus (*)(uint32_t)>(VO_CALLBACK_POST_EXECUTE))
      status = post(pass_status);
    if (k->timing) ExecuteTimerStop();
  }
  status |= k->sticky_status;
  if (status & 0x10)
    Post(status, 205, VO_MODULE_SYSTEM, static_cast<int32_t>(code),
         static_cast<int32_t>(VO_CODE_MODULE(code)), static_cast<int32_t>(VO_CODE_INDEX(code)));
  return status;
}

VtStatus VoExecuteCurrentGet(uint32_t *code) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || !k->executing) return VO_STATUS_UNAVAILABLE;
  if (code != nullptr) *code = k->executing_code;
  return 0;
}

}  // namespace vo

// A stand-in for the outside render-context component (module 13), built
// on Fake<13>: its call-backs 0xd000a-0xd000f log every call and keep a
// value per primitive; it answers controls 0xd0001, 0xd0002 and 0xd0004.
// InitialiseWithRenderContext starts the library as VoInitialise does, with
// module 13 installed before the modules that read its call-backs start.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <vo/vo_opengl.h>

#include "support/fake_module.h"
#include "kernel/vosystem/startup.h"

namespace vo::test {

struct RenderContextLog {
  std::vector<std::string> calls;
  std::map<const VtPrimitive *, uintptr_t> values;
  uintptr_t made = 0;
};

inline RenderContextLog &RenderContextCalls() {
  static RenderContextLog log;
  return log;
}

namespace render_context {

inline void Log(const char *format, double a = 0, double b = 0, double c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  RenderContextCalls().calls.emplace_back(text);
}
// Contexts are the numbers 1, 2, ... as handles.
inline double Number(const void *context) {
  return static_cast<double>(reinterpret_cast<uintptr_t>(context));
}

inline void *Create() {
  const uintptr_t n = ++RenderContextCalls().made;
  Log("create %.0f", static_cast<double>(n));
  return reinterpret_cast<void *>(n);
}
inline VtStatus Release(void *context) {
  Log("release %.0f", Number(context));
  return 0;
}
inline VtStatus Set(VtPrimitive *p, uintptr_t value) {
  RenderContextCalls().values[p] = value;
  Log("set %.0f", static_cast<double>(value));
  return 0;
}
inline uintptr_t Get(VtPrimitive *p) {
  Log("get");
  auto &v = RenderContextCalls().values;
  return v.count(p) != 0 ? v[p] : 0;
}
inline VtStatus Parameter(void *context, int32_t code, const VtTypedValue *value) {
  Log("parameter %.0f %.0f %.2f", Number(context), code,
      value != nullptr && value->type == VtDouble ? value->value.d : -1);
  return 0;
}
inline VtStatus Spare() {
  Log("spare");
  return 0;
}

}  // namespace render_context

// Installs module 13 with its six call-backs, less the one whose code is
// `missing` (0: none missing).
inline VtStatus RenderContextInstall(uint32_t missing = 0) {
  using F = Fake<13>;
  F::Reset(13, "vorenctx");
  RenderContextCalls() = RenderContextLog{};
  F::m.has_callback = true;
  F::m.has_controls = true;
  const VtProc procs[6] = {reinterpret_cast<VtProc>(&render_context::Create),
                           reinterpret_cast<VtProc>(&render_context::Release),
                           reinterpret_cast<VtProc>(&render_context::Set),
                           reinterpret_cast<VtProc>(&render_context::Get),
                           reinterpret_cast<VtProc>(&render_context::Parameter),
                           reinterpret_cast<VtProc>(&render_context::Spare)};
  for (uint32_t i = 0; i < 6; ++i)
    if (VO_CALLBACK_RENDER_CONTEXT_CREATE + i != missing)
      F::m.slots[VO_CALLBACK_RENDER_CONTEXT_CREATE + i] = procs[i];
  // 0xd0001 the current context (a handle), 0xd0002 a switch, 0xd0004 a number.
  F::m.controls[0xd0001u] = TypedPointer(nullptr);
  F::m.controls[0xd0002u] = TypedBoolean(false);
  F::m.controls[0xd0004u] = TypedNat32(0);
  return VoInstallModule(&F::Query);
}

// VoInitialise's road with module 13 installed after the first start.
inline VtStatus InitialiseWithRenderContext(uint32_t missing = 0) {
  VtStatus s = VoSystemInitialise();
  if (s != 0) return s;
  s |= StartupInstall(&VoEntryMemory);
  s |= StartupInstall(StartupDriverEntry().query);
  s |= VoSystemStart();
  s |= RenderContextInstall(missing);
  size_t count = 0;
  const StartupModule *list = StartupInstallList(&count);
  for (size_t i = 0; i < count; ++i) (void)StartupInstall(list[i].query);
  VtTypedValue mode{};
  mode.type = VtFlags;
  mode.value.u = 1;
  s |= VoControlSet(VO_CONTROL_DRIVER_MODE, &mode);
  return s | VoSystemStart();
}

}  // namespace vo::test

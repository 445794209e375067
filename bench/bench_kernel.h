// Starts the library once for a benchmark program: the kernel with the
// memory module, then the given modules, with diagnostics discarded.
#pragma once

#include <initializer_list>

#include "kernel/vosystem/kernel.h"

namespace vo::bench {

inline void KernelStartOnce(std::initializer_list<VtQueryFunction> modules) {
  static bool started = [&] {
    VoSystemInitialise();
    VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoCallBackNull));
    VoInstallModule(&VoEntryMemory);
    VoSystemStart();
    for (VtQueryFunction m : modules) VoInstallModule(m);
    VoSystemStart();
    return true;
  }();
  (void)started;
}

}  // namespace vo::bench

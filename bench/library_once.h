// Starts the whole library once for a benchmark program through the C
// interface (VoInitialise), diagnostics discarded.
#pragma once

#include <vo/vo_api.h>

namespace vo::bench {

inline void LibraryStartOnce() {
  static bool started = [] {
    VoInitialise();
    VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoCallBackNull));
    return true;
  }();
  (void)started;
}

}  // namespace vo::bench

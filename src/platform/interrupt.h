// The interrupt signal (SIGINT) of the process: a handler that only sets a
// process-wide lock-free flag, and the exchange that reads and clears it.
// The handler does nothing else, so it is async-signal-safe; whatever the
// application had installed before is put back when handling stops.
#pragma once

namespace vo::platform {

// Installs the handler, keeping the action in force before; false when the
// system refuses. A second install while installed does nothing.
bool InterruptHandlerInstall();
// Puts back the action that was in force before the install.
void InterruptHandlerRestore();
// True once after each signal received since the last call.
bool InterruptTake();

}  // namespace vo::platform

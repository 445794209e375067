// SIGINT through sigaction: the handler stores into a lock-free atomic flag
// and returns; everything else (the diagnostic, the interrupt answer) is
// done by the poll that takes the flag.

#include "platform/interrupt.h"

#include <atomic>
#include <csignal>

namespace vo::platform {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal flag must be lock-free");

// The action replaced by the install; owned by the one framework that
// installed it (installs nest no deeper than one).
struct sigaction g_previous;
bool g_installed = false;

extern "C" void InterruptHandler(int) { g_interrupted.store(true, std::memory_order_relaxed); }

}  // namespace

bool InterruptHandlerInstall() {
  if (g_installed) return true;
  struct sigaction action {};
  action.sa_handler = &InterruptHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &action, &g_previous) != 0) return false;
  g_installed = true;
  return true;
}

void InterruptHandlerRestore() {
  if (!g_installed) return;
  (void)sigaction(SIGINT, &g_previous, nullptr);
  g_installed = false;
  g_interrupted.store(false, std::memory_order_relaxed);
}

bool InterruptTake() { return g_interrupted.exchange(false, std::memory_order_relaxed); }

}  // namespace vo::platform

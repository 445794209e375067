// The states the library's own renders put in place of the application's,
// lent back to the application's callbacks (kernel.h, CallerState).

#include <atomic>

#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/kernel.h"

namespace vo {

namespace {

constinit thread_local CallerState *t_innermost_state = nullptr;
// A code address, the same for every start of the library.
constinit std::atomic<VtProc> g_library_poll{nullptr};
constinit thread_local const CallerStateLent *t_innermost_callback = nullptr;

// Takes the states from stop (excluded) inward to state, the outermost
// first.
void TakeFrom(CallerState *state, const CallerState *stop) {
  if (state == nullptr || state == stop) return;
  TakeFrom(state->outer, stop);
  state->take(state);
  state->lent = false;
}

}  // namespace

void LibraryPollSet(VtProc poll) { g_library_poll.store(poll, std::memory_order_relaxed); }

bool LibraryPoll(VtProc proc) {
  return proc != nullptr && proc == g_library_poll.load(std::memory_order_relaxed);
}

// A work-farm worker makes no application callback: the states a render
// on a worker replaces are not entered there.
void CallerStateEnter(CallerState *state) {
  state->lent = false;
  state->outer = nullptr;
  if (!OnApplicationThread()) return;
  state->outer = t_innermost_state;
  t_innermost_state = state;
}

void CallerStateLeave(CallerState *state) {
  // States are left innermost first; one left out of turn takes the inner
  // ones with it.
  for (CallerState *s = t_innermost_state; s != nullptr; s = s->outer)
    if (s == state) {
      t_innermost_state = state->outer;
      return;
    }
}

CallerStateLent::CallerStateLent()
    : lent_(nullptr),
      stop_(nullptr),
      render_(ExecuteSerial()),
      outer_(t_innermost_callback),
      entered_(api::t_entered) {
  t_innermost_callback = this;
  api::t_entered = nullptr;
  if (!OnApplicationThread()) return;
  CallerState *s = t_innermost_state;
  for (; s != nullptr && !s->lent; s = s->outer) {
    s->lend(s);
    s->lent = true;
  }
  if (s != t_innermost_state) lent_ = t_innermost_state;
  stop_ = s;
}

CallerStateLent::~CallerStateLent() {
  TakeFrom(lent_, stop_);
  t_innermost_callback = outer_;
  api::t_entered = entered_;
}

bool CallerStateLent::Of(uint64_t serial) const {
  for (const CallerStateLent *c = this; c != nullptr; c = c->outer_)
    if (c->render_ == serial || ExecuteWithin(c->render_, serial)) return true;
  return false;
}

bool api::ApplicationCodeRuns() noexcept {
  const uint64_t serial = ExecuteSerial();
  return serial == 0 || (t_innermost_callback != nullptr && t_innermost_callback->Render() == serial);
}

bool InCallbackOf(uint64_t serial) {
  return serial != 0 && t_innermost_callback != nullptr && t_innermost_callback->Of(serial);
}

}  // namespace vo

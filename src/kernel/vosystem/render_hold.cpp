// The holds every render of a render class keeps on the output side from
// its start to its end (kernel.h, RenderHold): the table modules add their
// holds to, and the one CallerState a render enters for all of them.
//
// Invariants a reader must know:
// - the table is changed by module start and terminate only, on the
//   application's thread, never while a render runs;
// - a render's records are entered in table order, lent, taken and left in
//   the reverse; a change of procedures is announced after all of them ran,
//   so that a module that stands in for another's procedures (the screen
//   buffer for the driver's) never sees its state and the other's from
//   different sides;
// - only the application's thread holds: a worker makes no application
//   callback and reads what the main thread held.

#include <atomic>

#include "kernel/vosystem/face.h"
#include "kernel/vosystem/kernel.h"

namespace vo {
namespace {

constinit std::atomic<const RenderHold *> g_holds[kRenderHolds] = {};

}  // namespace

void RenderHoldAdd(const RenderHold *hold) {
  for (auto &h : g_holds) {
    const RenderHold *none = nullptr;
    if (h.compare_exchange_strong(none, hold, std::memory_order_acq_rel)) return;
  }
}

void RenderHoldRemove(const RenderHold *hold) {
  for (auto &h : g_holds) {
    const RenderHold *was = hold;
    (void)h.compare_exchange_strong(was, nullptr, std::memory_order_acq_rel);
  }
}

RenderHolds::RenderHolds() {
  if (!OnApplicationThread()) return;
  for (size_t i = 0; i < kRenderHolds; ++i) {
    holds_[i] = g_holds[i].load(std::memory_order_acquire);
    held_[i] = holds_[i] != nullptr ? holds_[i]->enter() : nullptr;
    entered_ = entered_ || held_[i] != nullptr;
  }
  if (entered_) CallerStateEnter(&state_.state);
}

RenderHolds::~RenderHolds() {
  if (!entered_) return;
  CallerStateLeave(&state_.state);
  Each(&RenderHold::leave);
}

void RenderHolds::Each(bool (*RenderHold::*step)(void *held)) const {
  bool changed = false;
  for (size_t i = kRenderHolds; i-- > 0;)
    if (held_[i] != nullptr) changed |= (holds_[i]->*step)(held_[i]);
  if (changed) (void)VoCallBacksChangedNotify();
}

void RenderHolds::Lend(CallerState *state) {
  reinterpret_cast<const Lent *>(state)->holds->Each(&RenderHold::lend);
}

void RenderHolds::Take(CallerState *state) {
  reinterpret_cast<const Lent *>(state)->holds->Each(&RenderHold::take);
}

}  // namespace vo

// Named timers with up to five clocks each, the kernel's clock kinds, and
// the timing of VoExecute repetitions.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/clock.h"
#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/registry.h"
#include "kernel/vosystem/threads.h"

namespace vo {

namespace {

constexpr uint32_t kMessageTimer = 852;
constexpr const char *kExecuteTimer = "VoExecute";

const char *Seconds() { return "secs"; }
const char *NameCpu() { return "cpu"; }
const char *NameWall() { return "wall"; }
const char *NameUser() { return "user"; }
const char *NameKernel() { return "kernel"; }

double SampleCpu(const void *) { return platform::CpuSeconds(); }
double SampleWall(const void *) { return platform::WallSeconds(); }
// The user or the kernel part of a thread's or of the process's times.
template <bool (*Times)(const void *, double *, double *), bool kUser>
double SampleTimes(const void *argument) {
  double user = 0, kernel = 0;
  Times(argument, &user, &kernel);
  return kUser ? user : kernel;
}

double Sample(const VtTimerClock *c, const void *argument) {
  return c->kind.sample != nullptr ? c->kind.sample(argument) : 0.0;
}

const char *Text(const char *(*proc)()) {
  const char *t = proc != nullptr ? proc() : nullptr;
  return t != nullptr ? t : "?";
}

// True when the timer is on the kernel's list; otherwise a diagnostic.
bool Known(const VtTimer *timer) {
  VtKernelContext *k = Kernel();
  if (k != nullptr && timer != nullptr) {
    RegisterGuard hold;  // workers of a threaded pass time their executes
    for (const VtTimer *t = k->files.timers; t != nullptr; t = t->next)
      if (t == timer) return true;
  }
  if (k != nullptr)
    Post(VO_STATUS_BAD_ARGUMENT, messages::kNotATimer, VO_MODULE_SYSTEM, static_cast<const void *>(timer));
  return false;
}

bool SameKind(const VtClockKind &a, const VtClockKind &b) {
  return a.sample == b.sample && a.units == b.units && a.name == b.name;
}

bool NamesEqual(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

}  // namespace

void ClockKindsMake(KernelFiles &f) {
  f.clock_kinds[kClockCpu] = {&SampleCpu, &Seconds, &NameCpu};
  f.clock_kinds[kClockWall] = {&SampleWall, &Seconds, &NameWall};
  f.clock_kinds[kClockThreadUser] = {&SampleTimes<platform::ThreadTimes, true>, &Seconds, &NameUser};
  f.clock_kinds[kClockThreadKernel] = {&SampleTimes<platform::ThreadTimes, false>, &Seconds, &NameKernel};
  f.clock_kinds[kClockProcessUser] = {&SampleTimes<platform::ProcessTimes, true>, &Seconds, &NameUser};
  f.clock_kinds[kClockProcessKernel] = {&SampleTimes<platform::ProcessTimes, false>, &Seconds, &NameKernel};
  f.clock_kinds_made = 1;
}

const VtClockKind *ClockKindGet(KernelClock which) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || !k->files.clock_kinds_made || which >= kClockKinds) return nullptr;
  return &k->files.clock_kinds[which];
}

VtStatus KernelTimersStop() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  VtTimer *t = k->files.timers;
  k->files.timers = nullptr;
  while (t != nullptr) {
    VtTimer *next = t->next;
    for (VtTimerClock *&c : t->clocks) {
      VoDeallocate(c);
      c = nullptr;
    }
    VoDeallocate(t->name);
    VoDeallocate(t);
    t = next;
  }
  k->files.clock_kinds_made = 0;
  std::memset(k->files.clock_kinds, 0, sizeof k->files.clock_kinds);
  return 0;
}

VtTimer *VoTimerGet(const char *name, void *argument) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return nullptr;
  RegisterGuard hold;
  VtTimer *t = k->files.timers;
  while (t != nullptr && !NamesEqual(t->name, name)) t = t->next;
  if (t == nullptr) {
    t = static_cast<VtTimer *>(VoAllocate(sizeof(VtTimer)));
    if (t == nullptr) return nullptr;
    std::memset(t, 0, sizeof *t);
    if (name != nullptr && (t->name = TextCopy(name)) == nullptr) {
      VoDeallocate(t);
      return nullptr;
    }
    t->next = k->files.timers;
    k->files.timers = t;
  }
  t->active = 1;
  t->argument = argument;
  return t;
}

VtStatus VoTimerAddClock(VtTimer *timer, VtClockKind *kind) {
  if (!Known(timer)) return VO_STATUS_BAD_ARGUMENT;
  if (kind == nullptr) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kNotATimer, VO_MODULE_SYSTEM, static_cast<const void *>(kind));
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (timer->clock_count >= kTimerClocks) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kTimerClocksFull, VO_MODULE_SYSTEM,
         timer->name ? timer->name : "<no name>", static_cast<int32_t>(kTimerClocks));
    return VO_STATUS_BAD_ARGUMENT;
  }
  VtTimerClock *&slot = timer->clocks[timer->clock_count];
  if (slot == nullptr) {
    slot = static_cast<VtTimerClock *>(VoAllocate(sizeof(VtTimerClock)));
    if (slot == nullptr) return VO_STATUS_NO_MEMORY;
    std::memset(slot, 0, sizeof *slot);
    slot->kind = *kind;
  } else if (!SameKind(slot->kind, *kind)) {
    // A slot keeps its statistics only for the clock kind that made them.
    std::memset(slot, 0, sizeof *slot);
    slot->kind = *kind;
  }
  ++timer->clock_count;
  return 0;
}

VtStatus VoTimerStart(VtTimer *timer) {
  if (!Known(timer)) return VO_STATUS_BAD_ARGUMENT;
  for (uint32_t i = 0; i < timer->clock_count; ++i) {
    VtTimerClock *c = timer->clocks[i];
    ++c->count;
    c->start = Sample(c, timer->argument);
  }
  return 0;
}

VtStatus VoTimerStop(VtTimer *timer) {
  if (!Known(timer)) return VO_STATUS_BAD_ARGUMENT;
  for (uint32_t i = 0; i < timer->clock_count; ++i) {
    VtTimerClock *c = timer->clocks[i];
    c->end = Sample(c, timer->argument);
    double elapsed = c->end - c->start;
    c->last = elapsed;
    c->total += elapsed;
    c->sum_of_squares += elapsed * elapsed;
  }
  return 0;
}

VtStatus VoTimerReport(VtTimer *timer) {
  if (!Known(timer)) return VO_STATUS_BAD_ARGUMENT;
  for (uint32_t i = 0; i < timer->clock_count; ++i) {
    const VtTimerClock *c = timer->clocks[i];
    const double n = c->count;
    const double mean = c->count > 0 ? c->total / n : 0.0;
    double deviation = 0.0;
    if (c->count >= 2) {
      // The difference can round below zero when every run took the same time.
      double radicand = (c->sum_of_squares - c->total * c->total / n) / (n - 1.0);
      deviation = std::sqrt(std::max(0.0, radicand));
    }
    Post(VO_CLASS_DEBUG, kMessageTimer, VO_MODULE_SYSTEM, timer->name ? timer->name : "<no name>",
         Text(c->kind.name), c->last, Text(c->kind.units), mean, deviation);
  }
  return 0;
}

VtStatus VoTimerReset(VtTimer *timer) {
  if (!Known(timer)) return VO_STATUS_BAD_ARGUMENT;
  timer->active = 0;
  timer->clock_count = 0;
  return 0;
}

VtTimer *KernelTimerStart(const char *name, std::initializer_list<KernelClock> clocks) {
  VtTimer *t = VoTimerGet(name, nullptr);
  if (t == nullptr) return nullptr;
  for (KernelClock c : clocks)
    if (const VtClockKind *kind = ClockKindGet(c)) VoTimerAddClock(t, const_cast<VtClockKind *>(kind));
  VoTimerStart(t);
  return t;
}

void KernelTimerFinish(VtTimer *timer) {
  VoTimerStop(timer);
  VoTimerReport(timer);
  VoTimerReset(timer);
}

// The timer "VoExecute" times the application's executes. A worker of a
// threaded pass executing a nested code (a class rendering while it is
// evaluated) leaves it alone: its start and stop would interleave with the
// application thread's and with other workers' on the one shared record.
void ExecuteTimerStart() {
  if (OnWorkerThread()) return;
  KernelTimerStart(kExecuteTimer, {kClockWall, kClockProcessUser, kClockProcessKernel});
}

void ExecuteTimerStop() {
  if (OnWorkerThread()) return;
  if (VtTimer *t = VoTimerGet(kExecuteTimer, nullptr)) KernelTimerFinish(t);
}

}  // namespace vo

// What a render holds of the screen buffers from its start to its end (the
// kernel's RenderHold): the target its rows are stored in and the driver
// procedures the target forwards them to. A buffer set, detached or
// destroyed from the render's callbacks is the application's: it is the
// target while the callbacks run and after the render, and the running
// render's rows go on into the target it began with (a destroyed buffer's
// pixels stay until the outermost render ends).
//
// The target a running render holds is among what the kernel's held set
// names, so a change of it (a control, its region, precision or channels,
// a clear, rows and pixels) waits at the exported wrapper for the
// outermost render's end, and the render stores every row as it began to;
// until then the buffer's reads answer what the render reads.
//
// A target holds one frame, as a file driver's stream does: a render
// started inside another whose frame would go into the target the outer
// one holds would resize and clear it and store its own rows there, so its
// begin frame is refused (message 2915) and the outer picture stays the
// one it makes alone. The outer render holds the target so from its begin
// frame to its end, against every render inside it (from its callbacks or
// a shader); before that a render inside it is followed by the outer
// frame, which sizes the target and stores every row of its region, and
// the renders the library runs inside it (a stroke render's A-buffer pass)
// begin the frame the outer one has not.
//
// Invariants a reader must know:
// - nothing is put in place while the application changed nothing;
// - the holds are chained in the module's record, innermost first, for as
//   long as their renders run (application's thread only);
// - the driver framework holds the driver's record, whose slots hold the
//   stand-ins, the same way: the kernel announces changed callbacks only
//   after both sides are put in place, so the stand-ins never attach again
//   to the other side's driver.

#include <cstdlib>
#include <cstring>

#include "render/voscrbuf/screenbuf.h"
#include "kernel/vosystem/face.h"

namespace vo::sb {
namespace {

struct Target {
  VtDriverRecord *attached;
  VtProc saved[kReplacements];
  VtScreenBuffer *target;

  bool operator==(const Target &o) const {
    return attached == o.attached && target == o.target && std::memcmp(saved, o.saved, sizeof saved) == 0;
  }
};

Target Of(const Context *c) {
  Target t{c->attached, {}, c->target};
  std::memcpy(t.saved, c->saved, sizeof t.saved);
  return t;
}

void Put(Context *c, const Target &t) {
  c->attached = t.attached;
  std::memcpy(c->saved, t.saved, sizeof t.saved);
  c->target = t.target;
}

struct Held {
  Target lent;         // the render's, as it was when last lent
  Target application;  // the application's, once it changed it
  bool application_set;
  bool frame_begun;  // the render began its frame in lent.target
  uint64_t render;   // its VoExecute serial
  uint32_t code;     // and code
  Held *outer;
};

void *Enter() {
  Context *c = State();
  if (c == nullptr) return nullptr;
  // From the process heap, not the library's: holding adds no failure point
  // to a render; without it the render holds nothing, as before.
  auto *h = static_cast<Held *>(std::malloc(sizeof(Held)));
  if (h == nullptr) return nullptr;
  *h = Held{Of(c), Of(c), false, false, ExecuteSerial(), 0, static_cast<Held *>(c->holds)};
  (void)VoExecuteCurrentGet(&h->code);
  c->holds = h;
  if (h->outer == nullptr) TargetViewSized(c);
  return h;
}

bool Lend(void *held) {
  Context *c = State();
  auto *h = static_cast<Held *>(held);
  if (c == nullptr) return false;
  h->lent = Of(c);
  if (h->application_set) Put(c, h->application);
  return false;
}

bool Take(void *held) {
  Context *c = State();
  auto *h = static_cast<Held *>(held);
  if (c == nullptr) return false;
  const Target now = Of(c);
  if (!(now == (h->application_set ? h->application : h->lent))) {
    h->application = now;
    h->application_set = true;
  }
  if (h->application_set) Put(c, h->lent);
  return false;
}

bool Leave(void *held) {
  Context *c = State();
  auto *h = static_cast<Held *>(held);
  if (c != nullptr) {
    if (h->application_set) Put(c, h->application);
    c->holds = h->outer;
  }
  std::free(h);
  return false;
}

constexpr RenderHold kHold = {&Enter, &Lend, &Take, &Leave};

// What the running renders hold of the screen buffers: each one's target,
// and the buffer a render-and-post run began with (the kernel's held set).
void TargetRoots(HeldWalk *walk) {
  const Context *c = State();
  if (c == nullptr) return;
  HeldAdd(walk, c->run_target, "VtScreenBuffer");
  for (const Held *h = static_cast<const Held *>(c->holds); h != nullptr; h = h->outer)
    HeldAdd(walk, h->lent.target, "VtScreenBuffer");
}

}  // namespace

const VtScreenBuffer *TargetRunEnter(const VtScreenBuffer *buffer) {
  Context *c = State();
  if (c == nullptr) return nullptr;
  const VtScreenBuffer *outer = c->run_target;
  c->run_target = buffer;
  return outer;
}

void TargetRunLeave(const VtScreenBuffer *outer) {
  if (Context *c = State()) c->run_target = outer;
}

VtStatus TargetFrameRefuse(const Context *c) {
  if (c == nullptr || c->target == nullptr || c->busy || OnWorkerThread()) return 0;
  const uint64_t render = ExecuteSerial();
  for (const Held *h = static_cast<const Held *>(c->holds); h != nullptr; h = h->outer) {
    if (!h->frame_begun || h->render == render || h->lent.target != c->target || !ExecuteEncloses(h->render))
      continue;
    uint32_t code = 0;
    (void)VoExecuteCurrentGet(&code);
    Post(kRefused, messages::kFrameHeld, kModule, code, "the current screen buffer", h->code);
    return kRefused;
  }
  return 0;
}

void TargetFrameBegun(const Context *c) {
  if (c == nullptr || c->target == nullptr || OnWorkerThread()) return;
  const uint64_t render = ExecuteSerial();
  for (Held *h = static_cast<Held *>(c->holds); h != nullptr; h = h->outer)
    if (h->render == render) {
      h->frame_begun = h->lent.target == c->target;
      return;
    }
}

void TargetHoldStart() {
  RenderHoldAdd(&kHold);
  HeldRootsRegister(&TargetRoots);
}
void TargetHoldStop() { RenderHoldRemove(&kHold); }

}  // namespace vo::sb

// The driver framework: its state, the active-driver stack, the current and
// enabled drivers (VoDriverSet, VoDriverEnable, VoDriverDestroy,
// VoDriverCreate's choice), the operation wrappers and the driver controls.
//
// Drivers are told apart by their records, never by their names: two
// drivers made from one query function share a name. Destroying a driver
// clears every pointer of the state that names it.

#include <atomic>
#include <cstdio>
#include <cstring>

#include "host/desktop.h"
#include "platform/interrupt.h"
#include "output/vodriver/driver.h"
#include "output/vodriver/images.h"
#include "kernel/vosystem/face.h"

namespace vo::driver {

namespace {

ModuleState<DriverState> g_state(VO_MODULE_DRIVER);

constexpr uint32_t kStackRoom = 5;

bool IsBuiltIn(const DriverState *s, const VtDriverRecord *d) {
  return d == s->null_driver || d == s->image_driver || d == s->multi_driver;
}

bool IsBuiltInName(const char *name) {
  return std::strcmp(name, "vodrvnul") == 0 || std::strcmp(name, "vodrvimg") == 0 ||
         std::strcmp(name, "vodrvmul") == 0 || std::strcmp(name, "vomultit") == 0;  // the work farm's
}

void CurrentCopy(DriverState *s, VtDriverRecord *d) {
  std::memcpy(static_cast<void *>(s->current_pointer), d, sizeof *d);
  s->current = d;
}

// The status of an open or close: ignored for the null driver and for a
// driver that has none of its own (its slot holds the null driver's).
VtStatus Counted(const DriverState *s, const VtDriverRecord *d, uint32_t code, VtStatus st) {
  const int slot = SlotOf(code);
  if (d == s->null_driver || IsNullProcedure(s, code, d->operations[slot])) return 0;
  return st;
}

EnabledNode *EnabledFind(const DriverState *s, const VtDriverRecord *d) {
  for (EnabledNode *n = s->enabled_head; n != nullptr; n = n->next)
    if (n->driver == d) return n;
  return nullptr;
}

VtStatus EnabledAppend(DriverState *s, VtDriverRecord *d) {
  auto *n = static_cast<EnabledNode *>(VoAllocate(sizeof(EnabledNode)));
  if (n == nullptr) return kNoMemory;
  *n = EnabledNode{d, nullptr};
  if (s->enabled_tail != nullptr)
    s->enabled_tail->next = n;
  else
    s->enabled_head = n;
  s->enabled_tail = n;
  return 0;
}

void EnabledRemove(DriverState *s, EnabledNode *node) {
  EnabledNode **at = &s->enabled_head;
  EnabledNode *previous = nullptr;
  while (*at != node) {
    previous = *at;
    at = &(*at)->next;
  }
  *at = node->next;
  if (s->enabled_tail == node) s->enabled_tail = previous;
  VoDeallocate(node);
}

// Step 2 of VoDriverSet: every enabled driver but the new one is closed,
// the list emptied and the multi driver closed. *was_enabled tells whether
// the new driver was on the list.
VtStatus MultiOutputEnd(DriverState *s, VtDriverRecord *d, bool *was_enabled) {
  VtStatus st = 0;
  while (EnabledNode *n = s->enabled_head) {
    if (n->driver == d) {
      *was_enabled = true;
    } else if (!Push(s, n->driver)) {
      return st | kUnavailable;
    } else {
      if (!s->shutting_down) st |= Counted(s, n->driver, 0x1a0002, Slot<0x1a0002>(n->driver)());
      n->driver->open = 0;
      Pop(s);
    }
    EnabledRemove(s, n);
  }
  if (s->multi_driver != nullptr) {
    st |= Counted(s, s->multi_driver, 0x1a0002, Slot<0x1a0002>(s->multi_driver)());
    s->multi_driver->open = 0;
  }
  return st;
}

// What a state owns besides drivers and images.
void BuffersFree(DriverState *s) {
  ImageDriverStackFree(s);
  VoDeallocate(s->points);
  VoDeallocate(s->row_bytes);
  VoDeallocate(s->stack);
  VoDeallocate(s->title);
}

VtDriverRecord *ListFind(const DriverState *s, const VtDriverRecord *d) {
  for (VtDriverRecord *r = s->head; r != nullptr; r = r->next)
    if (r == d) return r;
  return nullptr;
}

void ListUnlink(DriverState *s, VtDriverRecord *d) {
  VtDriverRecord **at = &s->head;
  while (*at != d) at = &(*at)->next;
  *at = d->next;
  --s->count;
}

}  // namespace

DriverState *State() { return g_state.Get(); }
DriverState *Master() { return g_state.Master(); }

void CallbacksAnnounce() { (void)VoCallBacksChangedNotify(); }

VtStatus Refuse(VtStatus status, const char *procedure, const char *why) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kDriverArgumentRefused, VO_MODULE_DRIVER, procedure, why);
  return status;
}

VtStatus StackCreate(DriverState *s) {
  s->stack = static_cast<VtDriverRecord **>(VoAllocate(kStackRoom * sizeof(VtDriverRecord *)));
  if (s->stack == nullptr) return kNoMemory;
  s->capacity = kStackRoom;
  s->depth = 0;
  if (!Push(s, s->current_pointer)) return kNoStack;
  return 0;
}

bool Push(DriverState *s, VtDriverRecord *driver) {
  if (s->depth + 1 >= s->capacity) {
    const uint32_t room = s->capacity + kStackRoom;
    auto *grown = static_cast<VtDriverRecord **>(VoAllocate(room * sizeof(VtDriverRecord *)));
    if (grown == nullptr) return false;
    std::memcpy(grown, s->stack, s->depth * sizeof(VtDriverRecord *));
    VoDeallocate(s->stack);
    s->stack = grown;
    s->capacity = room;
  }
  s->stack[s->depth++] = driver;
  return true;
}

void Pop(DriverState *s) {
  if (s->depth > 1) --s->depth;
}

bool DriverIsLive(const DriverState *s, const VtDriverRecord *driver) {
  const DriverState *m = Master();
  return driver == s->current_pointer || (driver != nullptr && driver == s->current) ||
         (m != nullptr && ListFind(m, driver) != nullptr);
}

VtDriverRecord *DriverResolve(DriverState *s, VtDriverRecord *driver, const char *procedure) {
  if (driver == nullptr) return s->current_pointer;
  if (DriverIsLive(s, driver)) return driver;
  (void)Refuse(kBadArgument, procedure, "not a driver of the framework");
  return nullptr;
}

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------

namespace {

struct ControlInfo {
  const char *name;    // null: printed as a number
  uint32_t type;       // value type of the substitute answer
  int32_t substitute;  // its value
};

constexpr ControlInfo kControls[] = {
    {"VO_CONTROL_DRIVER_NAME", VtString, 0},
    {"VO_CONTROL_DRIVER_DESCRIPTION", VtEnum, 0},
    {"VO_CONTROL_DRIVER_FILE_SUFFIX", VtString, 0},
    {"VO_CONTROL_DRIVER_TITLE", VtString, 0},
    {"VO_CONTROL_DRIVER_NBUFFERS", VtNat32, 0},
    {"VO_CONTROL_DRIVER_BUFFER", VtGenericPtr, 0},
    {"VO_CONTROL_DRIVER_GAMMA", VtFloat, 0},
    {"VO_CONTROL_DRIVER_CONVERSION", VtEnum, 0},
    {"VO_CONTROL_DRIVER_WIDTH", VtNat32, 0},
    {"VO_CONTROL_DRIVER_HEIGHT", VtNat32, 0},
    {"VO_CONTROL_DRIVER_BUFFERING", VtBoolean, 0},
    {"VO_CONTROL_DRIVER_CLEAR", VtBoolean, 0},
    {"VO_CONTROL_DRIVER_FILE", VtGenericPtr, 0},
    {"VO_CONTROL_DRIVER_IMAGE", VtGenericPtr, 0},
    {"VO_CONTROL_DRIVER_XOFFSET", VtNat32, 0},
    {"VO_CONTROL_DRIVER_YOFFSET", VtNat32, 0},
    {"VO_CONTROL_DRIVER_MODE", VtFlags, 0},
    {"VO_CONTROL_DRIVER_WINDOW", VtGenericPtr, 0},
    {"VO_CONTROL_DRIVER_COLOUR_MAP", VtGenericPtr, 0},
    {"VO_CONTROL_DRIVER_RGB_BASE", VtInt32, -1},
    {"VO_CONTROL_DRIVER_RGB_SIZE", VtInt32, -1},
    {"VO_CONTROL_DRIVER_RGB_R_MULT", VtInt32, -1},
    {"VO_CONTROL_DRIVER_RGB_G_MULT", VtInt32, -1},
    {"VO_CONTROL_DRIVER_RGB_B_MULT", VtInt32, -1},
    {"VO_CONTROL_DRIVER_DITHER_AMP", VtFloat, 0},
    {"VO_CONTROL_DRIVER_MAKE_CHILD", VtBoolean, 0},
    {"VO_CONTROL_DRIVER_GREYSCALE_MIN", VtInt32, -1},
    {"VO_CONTROL_DRIVER_COMPRESSION", VtEnum, 0},
    {"VO_CONTROL_DRIVER_SET_AT_ORIGIN", VtBoolean, 0},
    {"VO_CONTROL_DRIVER_PALETTE_CELLS", VtInt32, -1},
    {"VO_CONTROL_DRIVER_CAPABILITY", VtFlags, 0},
    {"VO_CONTROL_DRIVER_LOGICAL_UNITS", VtEnum, 0},
    {"VO_CONTROL_DRIVER_SCALE", VtFloat, 0},
    {nullptr, VtGenericPtr, 0},
    {"VO_CONTROL_DRIVER_RGB_R_MASK", VtNat32, 0},
    {"VO_CONTROL_DRIVER_RGB_G_MASK", VtNat32, 0},
    {"VO_CONTROL_DRIVER_RGB_B_MASK", VtNat32, 0},
    {nullptr, VtBoolean, 0},
};
static_assert(sizeof kControls / sizeof kControls[0] == kLastControl - kFirstCode + 1);

const ControlInfo *Control(uint32_t code) {
  return code >= kFirstCode && code <= kLastControl ? &kControls[code - kFirstCode] : nullptr;
}

void ControlFailure(const DriverState *s, uint32_t message, uint32_t code) {
  char buffer[16];
  const char *driver = s->current != nullptr ? s->current->name : s->current_pointer->name;
  Post(VO_CLASS_WARNING, message, VO_MODULE_DRIVER, ControlName(code, buffer, sizeof buffer), driver);
}

// The held controls: true when the code is one, with *word its place.
uint32_t *HeldWord(DriverState *s, uint32_t code) {
  switch (code) {
    case VO_CONTROL_DRIVER_BUFFERING: return &s->buffering;
    case VO_CONTROL_DRIVER_CLEAR: return &s->clear;
    case VO_CONTROL_DRIVER_MODE: return &s->mode;
    case VO_CONTROL_DRIVER_SET_AT_ORIGIN: return &s->set_at_origin;
    default: return nullptr;
  }
}

// The image readers' pixel limit lives in the master state, beside the
// images it guards, so that a worker's copy never holds a stale one.
VtStatus PixelLimitSet(const VtTypedValue *value) {
  DriverState *m = Master();
  if (m == nullptr) return kUnavailable;
  if (value->value.u < 1) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kImagePixelLimitRefused, VO_MODULE_DRIVER, value->value.u);
    return VO_STATUS_BAD_ARGUMENT;
  }
  m->pixel_limit = value->value.u;
  return 0;
}

VtStatus TitleSet(DriverState *s, const VtTypedValue *value) {
  char *copy = nullptr;
  if (value->value.s != nullptr && (copy = TextCopy(value->value.s)) == nullptr) return kNoMemory;
  VoDeallocate(s->title);
  s->title = copy;
  return 0;
}

}  // namespace

const char *ControlName(uint32_t code, char *buffer, size_t size) {
  const ControlInfo *c = Control(code);
  if (c != nullptr && c->name != nullptr) return c->name;
  std::snprintf(buffer, size, "%#x", code);
  return buffer;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  if (value == nullptr) return Refuse(kBadArgument, "VoControlSet", "no value");
  if (uint32_t *held = HeldWord(s, code)) {
    *held = value->value.u;
    return 0;
  }
  if (code == VO_CONTROL_DRIVER_TITLE) return TitleSet(s, value);
  if (code == VO_CONTROL_IMAGE_PIXEL_LIMIT) return PixelLimitSet(value);
  if (Control(code) == nullptr) {
    ControlFailure(s, messages::kDriverControlNotSet, code);
    return kUnknown;
  }
  VtDriverRecord *d = code == VO_CONTROL_DRIVER_IMAGE ? s->image_driver : s->current_pointer;
  if (d == nullptr) return kUnavailable;
  const VtStatus st = VoDriverSetControl(d, code, value);
  if (st != 0) ControlFailure(s, messages::kDriverControlNotSet, code);
  return st;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  if (value == nullptr) return Refuse(kBadArgument, "VoControlGet", "no value");
  if (uint32_t *held = HeldWord(s, code)) {
    *value = VtTypedValue{};
    value->type = code == VO_CONTROL_DRIVER_MODE ? VtFlags : VtBoolean;
    value->value.u = *held;
    return 0;
  }
  if (code == VO_CONTROL_DRIVER_TITLE) {
    *value = TypedString(s->title);
    return 0;
  }
  if (code == VO_CONTROL_IMAGE_PIXEL_LIMIT) {
    *value = TypedNat32(ImagePixelLimit());
    return 0;
  }
  const ControlInfo *c = Control(code);
  if (c == nullptr) {
    ControlFailure(s, messages::kDriverControlNotGot, code);
    return kUnknown;
  }
  VtDriverRecord *d = code == VO_CONTROL_DRIVER_IMAGE ? s->image_driver : s->current_pointer;
  if (d == nullptr) return kUnavailable;
  if (VoDriverGetControl(d, code, value) != 0) {
    ControlFailure(s, messages::kDriverControlNotGot, code);
    *value = VtTypedValue{};
    value->type = c->type;
    value->value.i = c->substitute;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Start and terminate
// ---------------------------------------------------------------------------

VtStatus FrameworkStart() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<DriverState *>(VoAllocate(sizeof(DriverState)));
  if (s == nullptr) return kNoMemory;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  VtStatus st = g_state.Register(s, &StateCopy, &StateCopyFree);
  if (st != 0) {
    VoDeallocate(s);
    return st;
  }
  s->current_pointer = &s->current_record;
  s->image_read = &ImageReadByName;
  s->pixel_limit = VO_IMAGE_PIXEL_LIMIT_DEFAULT;
  s->clear = 1;
  st = ImagesCreate(s);
  if (st == 0) st = StackCreate(s);
  if (st == 0) {
    s->null_driver = RecordBuild(s, &EntryNullDriver);
    if (s->null_driver == nullptr) st = kNoMemory;
  }
  if (st != 0) {
    (void)FrameworkTerminate();
    return st;
  }
  st |= VoDriverSet(s->null_driver);
  RenderStartWatch(&FramePromise);
  RenderHoldStart();
  (void)platform::InterruptHandlerInstall();
  if ((s->image_driver = VoDriverCreate(&EntryImageDriver)) == nullptr) st |= kUnavailable;
  ImageDriverStart();
  if ((s->multi_driver = VoDriverCreate(&EntryMultiDriver)) == nullptr) st |= kUnavailable;
  return st;
}

VtStatus FrameworkTerminate() {
  DriverState *s = g_state.Master();
  if (s == nullptr) return 0;
  s->shutting_down = 1;
  RenderStartWatch(nullptr);
  RenderHoldStop();
  VtStatus st = 0;
  if (s->null_driver != nullptr) st |= VoDriverSet(s->null_driver);
  platform::InterruptHandlerRestore();
  platform::DesktopRelease();
  ImagesDestroyAll(s);
  while (s->head != nullptr) st |= VoDriverDestroy(s->head);
  BuffersFree(s);
  st |= g_state.Unregister();
  VoDeallocate(s);
  return st;
}

VtStatus StateCopy(void *state, void **copy) {
  *copy = nullptr;
  const auto *from = static_cast<const DriverState *>(state);
  auto *c = static_cast<DriverState *>(VoAllocate(sizeof(DriverState)));
  if (c == nullptr) return kNoMemory;
  std::memcpy(static_cast<void *>(c), from, sizeof *c);
  c->is_copy = 1;
  // The main thread's frames stay its own: a worker's copy holds none.
  std::memset(static_cast<void *>(c->frame_holders), 0, sizeof c->frame_holders);
  c->images_head = c->images_tail = nullptr;
  c->enabled_head = c->enabled_tail = nullptr;
  c->points = nullptr;
  c->point_capacity = 0;
  c->row_bytes = nullptr;
  c->row_size = 0;
  c->temporary = nullptr;
  c->temporary_uses = 0;
  c->image_driver_state.stack_head = nullptr;
  c->title = nullptr;
  c->current_pointer = &c->current_record;
  c->current = from->null_driver;
  if (from->null_driver != nullptr) CurrentCopy(c, from->null_driver);
  VtStatus st = 0;
  if (from->title != nullptr && (c->title = TextCopy(from->title)) == nullptr) st = kNoMemory;
  if (st == 0) st = StackCreate(c);
  if (st != 0) {
    VoDeallocate(c->title);
    VoDeallocate(c->stack);
    VoDeallocate(c);
    return st;
  }
  *copy = c;
  return 0;
}

VtStatus CurrentSetQuietly(VtDriverRecord *driver) {
  DriverState *s = State();
  if (s == nullptr || driver == nullptr || ListFind(Master(), driver) == nullptr) return kUnavailable;
  CurrentCopy(s, driver);
  return 0;
}

VtStatus RenderInterruptPoll() {
  auto poll = reinterpret_cast<VtDriverNoArgProc>(VoCallBackGet(VO_DRIVER_POLL));
  VtKernelContext *k = Kernel();
  if (k == nullptr || poll == nullptr || poll() == 0) return 0;
  std::atomic_ref<uint32_t>(k->sticky_status).fetch_or(VO_COND_INTERRUPTED, std::memory_order_relaxed);
  return VO_COND_INTERRUPTED;
}

void RenderStickyClear() {
  if (VtKernelContext *k = Kernel())
    std::atomic_ref<uint32_t>(k->sticky_status).store(0, std::memory_order_relaxed);
}

VtStatus StateCopyFree(void *copy) {
  auto *c = static_cast<DriverState *>(copy);
  if (c == nullptr || !c->is_copy) return kBadArgument;
  BuffersFree(c);
  VoDeallocate(c);
  return 0;
}

}  // namespace vo::driver

namespace vo {

using namespace driver;

namespace {

// Calls one of a driver's control procedures with it pushed.
template <class F>
VtStatus ControlCall(VtDriverRecord *driver, const char *procedure, F call) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  VtDriverRecord *d = DriverResolve(s, driver, procedure);
  if (d == nullptr) return kBadArgument;
  if (!Push(s, d)) return kNoStack;
  const VtStatus st = call(d);
  Pop(s);
  return st;
}

}  // namespace

VtDriverRecord *VoDriverGet() {
  DriverState *s = State();
  return s != nullptr ? s->current : nullptr;
}

VtDriverRecord *VoDriverFindFromName(const char *name) {
  DriverState *s = Master();
  if (s == nullptr || name == nullptr) return nullptr;
  for (VtDriverRecord *r = s->head; r != nullptr; r = r->next)
    if (std::strcmp(r->name, name) == 0) return r;
  return nullptr;
}

VtDriverRecord *VoDriverCreate(VtQueryFunction query) {
  DriverState *s = State();
  if (s == nullptr || query == nullptr) return nullptr;
  VtDriverRecord *d = RecordBuild(s, query);
  if (d == nullptr) return nullptr;
  if (s->mode == 0 && !s->real_chosen && !IsBuiltInName(d->name)) {
    if (VoDriverSet(d) != 0) {
      Post(kUnavailable, messages::kDriverNotMadeCurrent, VO_MODULE_DRIVER, d->name);
      (void)VoDriverDestroy(d);
      return nullptr;
    }
    s->real_chosen = 1;
  }
  if ((d->capability & VO_DRIVER_CAPABILITY_DEVICE) != 0) s->display_driver = d;
  return d;
}

VtStatus VoDriverSet(VtDriverRecord *driver) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  if (driver == nullptr || driver == s->multi_driver || ListFind(Master(), driver) == nullptr)
    return Refuse(kBadArgument, "VoDriverSet",
                  "no driver, the multi driver or not a driver of the framework");
  const bool had_enabled = s->enabled_head != nullptr;
  bool was_enabled = false;
  VtStatus st = had_enabled ? MultiOutputEnd(s, driver, &was_enabled) : 0;
  if (driver == s->current || was_enabled) {
    driver->open = 1;
    CurrentCopy(s, driver);
    CallbacksAnnounce();
    return st;
  }
  VtDriverRecord *old = s->current;
  if (!had_enabled && !s->shutting_down && old != nullptr) {
    if (!Push(s, s->current_pointer)) {
      st |= kUnavailable;
    } else {
      st |= Counted(s, old, 0x1a0002, Slot<0x1a0002>(s->current_pointer)());
      Pop(s);
    }
  }
  if (old != nullptr) old->open = 0;
  driver->open = 1;
  CurrentCopy(s, driver);
  if (Push(s, s->current_pointer)) {
    st |= Counted(s, driver, 0x1a0001, Slot<0x1a0001>(s->current_pointer)());
    Pop(s);
  }
  CallbacksAnnounce();
  return st;
}

VtStatus VoDriverEnable(VtDriverRecord *driver) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  if (driver == nullptr || driver == s->multi_driver || s->multi_driver == nullptr) return kNotInList;
  if (driver == s->current || driver == s->current_pointer) return 0;
  if (ListFind(Master(), driver) == nullptr)
    return Refuse(kBadArgument, "VoDriverEnable", "not a driver of the framework");
  if (EnabledFind(s, driver) != nullptr) {
    CallbacksAnnounce();
    return 0;
  }
  // The nodes are made first, so that running out of memory leaves the
  // current driver as it was. The null driver has no output to keep: it is
  // not put on the list.
  const bool first = s->enabled_head == nullptr;
  VtDriverRecord *previous = first && s->current != s->null_driver ? s->current : nullptr;
  VtStatus st = previous != nullptr ? EnabledAppend(s, previous) : 0;
  if (st == 0 && (st = EnabledAppend(s, driver)) != 0 && previous != nullptr)
    EnabledRemove(s, s->enabled_head);
  if (st != 0) return st;
  if (first) {
    s->multi_driver->open = 1;
    CurrentCopy(s, s->multi_driver);
  }
  if (!Push(s, driver)) return kUnavailable;
  st |= Counted(s, driver, 0x1a0001, Slot<0x1a0001>(driver)());
  Pop(s);
  driver->open = 1;
  CallbacksAnnounce();
  return st;
}

VtStatus VoDriverDestroy(VtDriverRecord *driver) {
  DriverState *s = Master();
  if (s == nullptr) return kUnavailable;
  if (driver != nullptr && IsBuiltIn(s, driver) && !s->shutting_down) return kNotInList;
  if (driver == nullptr || ListFind(s, driver) == nullptr)
    return Refuse(kBadArgument, "VoDriverDestroy", "not a driver of the framework");
  VtStatus st = 0;
  if (EnabledNode *n = EnabledFind(s, driver)) {
    if (!Push(s, driver)) {
      st |= kUnavailable;
    } else {
      if (!s->shutting_down) st |= Counted(s, driver, 0x1a0002, Slot<0x1a0002>(driver)());
      Pop(s);
    }
    EnabledRemove(s, n);
  } else if (s->enabled_head == nullptr && driver == s->current) {
    if (s->shutting_down)
      s->current = nullptr;
    else
      st |= VoDriverSet(s->null_driver);
  }
  if (s->display_driver == driver) s->display_driver = nullptr;
  if (s->image_driver == driver) s->image_driver = nullptr;
  if (s->multi_driver == driver) s->multi_driver = nullptr;
  if (s->null_driver == driver) s->null_driver = nullptr;
  ListUnlink(s, driver);
  // Its file is no longer held, unless another driver sets it through the
  // same control procedure (the same module's state).
  bool shared = false;
  for (const VtDriverRecord *r = s->head; r != nullptr; r = r->next)
    shared = shared || r->control_set == driver->control_set;
  if (!shared)
    (void)FileHoldSet(reinterpret_cast<uintptr_t>(driver->control_set), VO_CONTROL_DRIVER_FILE, nullptr);
  ConversionFree(driver->conversion);
  VoDeallocate(driver);
  return st;
}

VtStatus VoDriverCheckInterrupt(VtDriverRecord *driver) {
  DriverState *s = State();
  if (s == nullptr) return kUnavailable;
  VtDriverRecord *d = DriverResolve(s, driver, "VoDriverCheckInterrupt");
  if (d == nullptr) return kBadArgument;
  return CallPushed<0x1a001a>(s, d, kNoStack);
}

VtStatus VoDriverSetControl(VtDriverRecord *driver, uint32_t code, const VtTypedValue *value) {
  // A driver's file is held by the driver's own control procedure, whichever
  // record (the driver's, or the current one's copy) the call names.
  return ControlCall(driver, "VoDriverSetControl", [&](VtDriverRecord *d) {
    const auto holder = reinterpret_cast<uintptr_t>(d->control_set);
    const bool holds = code == VO_CONTROL_DRIVER_FILE && value != nullptr && value->type == VtGenericPtr;
    VtTypedValue was{};
    if (holds && (d->control_get(code, &was) != 0 || was.type != VtGenericPtr)) was = TypedPointer(nullptr);
    if (holds && !FileHoldSet(holder, code, value->value.p)) return kNoMemory;
    const VtStatus st = d->control_set(code, value);
    if (holds && st != 0) (void)FileHoldSet(holder, code, was.value.p);
    return st;
  });
}

VtStatus VoDriverGetControl(VtDriverRecord *driver, uint32_t code, VtTypedValue *value) {
  return ControlCall(driver, "VoDriverGetControl",
                     [&](VtDriverRecord *d) { return d->control_get(code, value); });
}

}  // namespace vo

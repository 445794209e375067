// The screen buffer module (voscrbuf, 69): query function, start and
// terminate, the context copies of its record, the module control 0x450064,
// execute 0x450001 and the callback procedure (get only) that hands other
// modules the buffer procedures.

#include <cstring>

#include "render/voscrbuf/screenbuf.h"
#include "kernel/vosystem/face.h"

namespace vo::sb {
namespace {

constexpr uint32_t kBuildTime = 904643049;
constexpr uint32_t kPoolTag = 0x450001;
constexpr uint32_t kLiveBuckets = 61;  // prime: block addresses share their low bits

ModuleState<Context> g_state(kModule);

// A worker's copy: the record's words with empty scratch rows and, when
// there is a target, a private record of it sharing its pixel storage.
VtStatus ContextCopy(void *state, void **copy) {
  *copy = nullptr;
  auto *c = static_cast<Context *>(VoAllocate(sizeof(Context)));
  if (c == nullptr) return kNoMemory;
  std::memcpy(c, state, sizeof(Context));
  std::memset(c->scratch, 0, sizeof c->scratch);
  c->private_target = nullptr;
  if (c->target != nullptr) {
    auto *t = static_cast<VtScreenBuffer *>(VoAllocate(sizeof(VtScreenBuffer)));
    if (t == nullptr) {
      VoDeallocate(c);
      return kNoMemory;
    }
    std::memcpy(t, c->target, sizeof(VtScreenBuffer));
    c->target = c->private_target = t;
  }
  *copy = c;
  return 0;
}

VtStatus ContextFree(void *copy) {
  auto *c = static_cast<Context *>(copy);
  if (c == nullptr) return 0;
  ScratchFree(c);
  VoDeallocate(c->private_target);
  VoDeallocate(c);
  return 0;
}

VtStatus Terminate() {
  Context *c = g_state.Master();
  if (c == nullptr) return 0;
  TargetHoldStop();
  VtStatus st = TargetDetachAtEnd(c);
  if (BufferRegistry *r = c->registry) {
    while (r->head != nullptr) BufferRelease(r, r->head);
    st |= PoolDisposeClear(&r->pool);
    st |= VoHashTableDestroy(r->live);
    VoDeallocate(r);
  }
  ScratchFree(c);
  st |= g_state.Unregister();
  VoDeallocate(c);
  return st;
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *c = static_cast<Context *>(VoAllocate(sizeof(Context)));
  if (c == nullptr) return kNoMemory;
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  VtStatus st = g_state.Register(c, &ContextCopy, &ContextFree);
  if (st != 0) {
    VoDeallocate(c);
    return st;
  }
  auto *r = static_cast<BufferRegistry *>(VoAllocate(sizeof(BufferRegistry)));
  if (r != nullptr) {
    std::memset(static_cast<void *>(r), 0, sizeof *r);
    c->registry = r;
    r->pool = VoPoolCreate(kPoolTag, sizeof(VtScreenBuffer));
    r->live = VoHashTableCreate(kLiveBuckets);
  }
  if (r == nullptr || r->pool == nullptr || r->live == nullptr) {
    (void)Terminate();
    return kNoMemory;
  }
  TargetHoldStart();
  return 0;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  Context *c = g_state.Get();
  if (c == nullptr) {
    Post(kRefused, messages::kScreenBufferNotStarted, kModule);
    return kRefused;
  }
  if (code != VO_CONTROL_SB_NO_FORWARD || value == nullptr) return kRefused;
  c->no_forward = value->value.u;
  return 0;
}

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  Context *c = g_state.Get();
  if (c == nullptr) {
    Post(kRefused, messages::kScreenBufferNotStarted, kModule);
    return kRefused;
  }
  if (code != VO_CONTROL_SB_NO_FORWARD || value == nullptr) return kRefused;
  *value = TypedBoolean(c->no_forward != 0);
  return 0;
}

constexpr uint32_t kExecuteCodes[] = {VO_EXECUTE_SB_RENDER_DEPTH};

VtStatus Execute(uint32_t code) {
  return ExecuteCodeListed(kExecuteCodes, code) ? VoScreenBufferRenderDepth() : kRefused;
}

VtProc CallbackProcedure(uint32_t code) {
  switch (code) {
    case VO_CALLBACK_SB_GET: return reinterpret_cast<VtProc>(&exported::VoScreenBufferGet);
    case VO_CALLBACK_SB_SET_CONTROL: return reinterpret_cast<VtProc>(&exported::VoScreenBufferSetControl);
    case VO_CALLBACK_SB_GET_CONTROL: return reinterpret_cast<VtProc>(&exported::VoScreenBufferGetControl);
    case VO_CALLBACK_SB_SET_PIXEL: return reinterpret_cast<VtProc>(&exported::VoScreenBufferSetPixel);
    case VO_CALLBACK_SB_GET_PIXEL: return reinterpret_cast<VtProc>(&exported::VoScreenBufferGetPixel);
    case VO_CALLBACK_SB_GET_DATA_MASK: return reinterpret_cast<VtProc>(&exported::VoScreenBufferGetDataMask);
    default: return nullptr;
  }
}

VtStatus Callback(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0 || slot == nullptr) return kRefused;
  *slot = CallbackProcedure(code);
  return *slot != nullptr ? 0 : kRefused;
}

}  // namespace

Context *State() { return g_state.Get(); }

namespace {

bool Listed(const VtScreenBuffer *b, bool readable_only) {
  const Context *c = g_state.Get();
  bool registered = false;
  if (c != nullptr && b != nullptr && b != c->private_target) {
    RegisterGuard hold;
    registered = VoHashTableExtractRecord(c->registry->live, reinterpret_cast<uintptr_t>(b)) != 0;
  }
  return c != nullptr && b != nullptr && (b == c->private_target || registered) &&
         (b->tag == VO_SCREEN_BUFFER_TAG || (readable_only && b->tag == kReleasedTag));
}

VtScreenBuffer *Registered(VtScreenBuffer *b, uint32_t message, bool readable_only) {
  if (Listed(b, readable_only)) return b;
  Post(kRefused, message, kModule);
  return nullptr;
}

}  // namespace

bool Live(const VtScreenBuffer *b) { return Listed(b, false); }

VtScreenBuffer *Checked(VtScreenBuffer *b, uint32_t message) { return Registered(b, message, false); }

VtScreenBuffer *Readable(VtScreenBuffer *b, uint32_t message) { return Registered(b, message, true); }

VtStatus Refuse(const char *procedure, const char *reason) {
  Post(kRefused, messages::kScreenBufferArgument, kModule, procedure, reason);
  return kRefused;
}

}  // namespace vo::sb

namespace vo {

VtStatus VoEntryScreenBuffer(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kScreenBuffer = {
      .number = VO_MODULE_SCREEN_BUFFER,
      .name = "voscrbuf",
      .banner = "mrvx20 screen buffers",
      .build_time = sb::kBuildTime,
      .control_set = &sb::ControlSet,
      .control_get = &sb::ControlGet,
      .start = &sb::Start,
      .execute = &sb::Execute,
      .execute_codes = sb::kExecuteCodes,
      .terminate = &sb::Terminate,
      .callbacks_changed = &exported::VoScreenBufferCallBacksChanged,
      .callback = &sb::Callback,
  };
  return ModuleQueryAnswer(kScreenBuffer, query, answer);
}

}  // namespace vo

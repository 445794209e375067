// The object I/O module (voobject, 112) as a module: query function, start
// and terminate, the module record as context variables, the two controls
// of the property-code list and the three hooks.
//
// A worker's copy of the record duplicates its words: it keeps the hooks and
// the in-place switch and shares the stream table, the registry and the
// property-code list of the record it was copied from.

#include <cstring>

#include "io/voobject/object.h"
#include "kernel/vosystem/face.h"

namespace vo::object {

namespace {

constexpr uint32_t kBuildTime = 904643049;
constexpr uint32_t kDefaultCodes[6] = {0x10a, 0x102, 0x401, 0x406, 0x106, 0x40a};

ModuleState<ObjectState> g_state(kModule);

VtStatus StateCopy(void *state, void **copy) {
  *copy = nullptr;
  auto *c = static_cast<ObjectState *>(VoAllocate(sizeof(ObjectState)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  std::memcpy(c, state, sizeof(ObjectState));
  c->is_copy = 1;
  *copy = c;
  return 0;
}

VtStatus StateCopyFree(void *copy) {
  auto *c = static_cast<ObjectState *>(copy);
  if (c == nullptr || c->is_copy == 0) return kFailed;
  VoDeallocate(c);
  return 0;
}

void StateFree(ObjectState *s) {
  if (s->streams != nullptr) StreamsDestroy(s);
  RegistryDestroy(s);
  VoDeallocate(s);
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return 0;
  auto *s = static_cast<ObjectState *>(VoAllocate(sizeof(ObjectState)));
  if (s == nullptr) return kFailed;
  std::memset(s, 0, sizeof *s);
  s->write_hook = &exported::vx_lo_object_write;
  s->read_hook = &exported::vx_lo_object_read;
  std::memcpy(s->default_codes, kDefaultCodes, sizeof kDefaultCodes);
  s->property_codes = s->default_codes;
  s->property_count = 6;
  // The registry's built-in types are made through the state.
  g_state.SetMaster(s);
  VtStatus st = StreamsCreate(s);
  if (st == 0) st = RegistryCreate(s);
  if (st == 0) st = g_state.Register(s, &StateCopy, &StateCopyFree);
  if (st != 0) {
    g_state.SetMaster(nullptr);
    StateFree(s);
    return kFailed;
  }
  return 0;
}

VtStatus Terminate() {
  ObjectState *s = g_state.Master();
  if (s == nullptr) return 0;
  // Streams left open are closed while the types their end records need
  // still answer; the registry is emptied while the state still answers,
  // then the record goes.
  StreamsDestroy(s);
  const VtStatus st = g_state.Unregister();
  StateFree(s);
  return st;
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *v) {
  ObjectState *s = g_state.Get();
  if (s == nullptr || v == nullptr) return kFailed;
  switch (code) {
    case VO_CONTROL_OBJECT_PROPERTY_LIST:
      if (v->type != VtGenericPtr) return kFailed;
      s->property_codes = static_cast<uint32_t *>(v->value.p);
      return 0;
    case VO_CONTROL_OBJECT_PROPERTY_COUNT:
      if (v->type != VtNat32) return kFailed;
      s->property_count = v->value.u;
      return 0;
    default: return kFailed;
  }
}

VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
  const ObjectState *s = g_state.Get();
  if (s == nullptr || v == nullptr) return kFailed;
  switch (code) {
    case VO_CONTROL_OBJECT_PROPERTY_LIST: *v = TypedPointer(s->property_codes); return 0;
    case VO_CONTROL_OBJECT_PROPERTY_COUNT: *v = TypedNat32(s->property_count); return 0;
    default: return kFailed;
  }
}

// Get answers the hook in place; set replaces it (the read and write hooks
// cannot be emptied, the seed hook can).
VtStatus Callback(uint32_t direction, uint32_t code, VtProc *slot) {
  ObjectState *s = g_state.Get();
  if (s == nullptr || slot == nullptr) return kFailed;
  VtProc *hook;
  switch (code) {
    case VO_CALLBACK_OBJECT_WRITE: hook = reinterpret_cast<VtProc *>(&s->write_hook); break;
    case VO_CALLBACK_OBJECT_READ: hook = reinterpret_cast<VtProc *>(&s->read_hook); break;
    case VO_CALLBACK_OBJECT_SEED: hook = reinterpret_cast<VtProc *>(&s->seed_hook); break;
    default: return kFailed;
  }
  if (direction == 0) {
    *slot = *hook;
    return 0;
  }
  if (*slot == nullptr && code != VO_CALLBACK_OBJECT_SEED) return kFailed;
  *hook = *slot;
  return 0;
}

}  // namespace

ObjectState *State() { return g_state.Get(); }

}  // namespace vo::object

namespace vo {

VtStatus VoEntryObject(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kObject = {
      .number = VO_MODULE_OBJECT_IO,
      .name = "voobject",
      .banner = "mrvx20 object files",
      .build_time = object::kBuildTime,
      .control_set = &object::ControlSet,
      .control_get = &object::ControlGet,
      .start = &object::Start,
      .terminate = &object::Terminate,
      .callback = &object::Callback,
  };
  return ModuleQueryAnswer(kObject, query, answer);
}

}  // namespace vo

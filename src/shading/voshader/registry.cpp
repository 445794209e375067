// Shader types, string tables and shader classes: the registry every shader
// library fills when it starts.
//
// Classes live until the kernel terminates; no operation removes one. A
// class is made whole (labels, use bytes) before it is listed and made
// current, so a failure leaves the registry as it was. Every class records
// what its display name begins with, so per-point code never compares names.

#include <algorithm>
#include <cstring>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

namespace {

constexpr uint32_t kFirstType = VO_SHADER_COLOUR;
constexpr uint32_t kLastType = VO_SHADER_FILTER;
constexpr int kExtraIndex = 10;

// Diagnostics of the registry (established numbers).
constexpr uint32_t kMsgUnknownType = 226;
constexpr uint32_t kMsgNoClass = 227;
constexpr uint32_t kMsgBadEntryCode = 228;
constexpr uint32_t kMsgNoClassForGlobal = 229;
constexpr uint32_t kMsgUnknownListType = 230;
constexpr uint32_t kMsgNoTable = 247;
constexpr uint32_t kMsgTableNoMemory = 248;
constexpr uint32_t kMsgTableExists = 249;
constexpr uint32_t kMsgClassNoMemory = 252;
constexpr uint32_t kMsgNoGlobal = 453;

ShaderShared *Shared(VtStatus *status) {
  ShadingContext *s = StateFor(status);
  return s != nullptr ? s->shared : nullptr;
}

const StringTable *TableFind(const ShaderShared *shared, const char *name) {
  for (const StringTable *t = shared->tables; t != nullptr; t = t->next)
    if (std::strcmp(t->name, name) == 0) return t;
  return nullptr;
}

uint32_t NameKind(const char *name) {
  const struct {
    const char *prefix;
    uint32_t kind;
  } kKinds[] = {{"none", VO_CLASS_NAME_NONE},
                {"glass", VO_CLASS_NAME_GLASS},
                {"dielectric", VO_CLASS_NAME_DIELECTRIC},
                {"uv", VO_CLASS_NAME_UV}};
  for (const auto &k : kKinds)
    if (std::strncmp(name, k.prefix, std::strlen(k.prefix)) == 0) return k.kind;
  return VO_CLASS_NAME_OTHER;
}

// Where a slot's procedure word lies in the class record; 0 for slots
// without one.
size_t EntryOffset(uint32_t slot) {
  switch (slot) {
    case VO_SLOT_EVALUATE: return offsetof(VtShaderPrototype, evaluate);
    case VO_SLOT_EVALUATE_IMAGE: return offsetof(VtShaderPrototype, evaluateImage);
    case VO_SLOT_PREPARE: return offsetof(VtShaderPrototype, prepare);
    case VO_SLOT_INITIALISE: return offsetof(VtShaderPrototype, initialise);
    case VO_SLOT_RELEASE: return offsetof(VtShaderPrototype, release);
    case VO_SLOT_CREATE: return offsetof(VtShaderPrototype, create);
    case VO_SLOT_DESTROY: return offsetof(VtShaderPrototype, destroy);
    case VO_SLOT_GET_ARG: return offsetof(VtShaderPrototype, getArg);
    case VO_SLOT_SET_ARG: return offsetof(VtShaderPrototype, setArg);
    case VO_SLOT_PRERENDER: return offsetof(VtShaderPrototype, prerender);
    default: break;
  }
  if (slot >= VO_EXTENSION_FIRST && slot <= VO_EXTENSION_FIRST + 44)
    return offsetof(VtShaderPrototype, extension) + (slot - VO_EXTENSION_FIRST) * sizeof(VtProc);
  if (slot == VO_EXTENSION_LAST) return offsetof(VtShaderPrototype, extension) + 45 * sizeof(VtProc);
  return 0;
}

// Reads (set = false) or writes the entry of a slot; slot 1 is accepted and
// ignored. Answers 0x20000012 with message 228 for a code without an entry.
VtStatus EntryAccess(VtShaderPrototype *c, uint32_t slot, VtProc *word, bool set) {
  if (slot == VO_SLOT_NONE) {
    if (!set) *word = nullptr;
    return 0;
  }
  const size_t at = EntryOffset(slot);
  if (at == 0) return Refuse(kRefused, kMsgBadEntryCode, slot);
  char *field = reinterpret_cast<char *>(c) + at;
  if (set)
    std::memcpy(field, word, sizeof(VtProc));
  else
    std::memcpy(word, field, sizeof(VtProc));
  return 0;
}

// Inserts after the last class whose name sorts before or equal to the new
// one, so equal names keep their registration order.
void ClassInsert(ShaderType *t, VtShaderPrototype *c) {
  VtShaderPrototype *after = nullptr;
  for (VtShaderPrototype *p = t->first; p != nullptr && std::strcmp(p->name, c->name) <= 0; p = p->next)
    after = p;
  c->previous = after;
  c->next = after != nullptr ? after->next : t->first;
  if (c->next != nullptr) c->next->previous = c;
  if (after != nullptr)
    after->next = c;
  else
    t->first = c;
  ++t->count;
  VoDeallocate(t->names);
  t->names = nullptr;
}

void ClassFree(ShaderShared *shared, VtShaderPrototype *c) {
  VoDeallocate(c->labels);
  VoDeallocate(c->globalUse);
  (void)VoPoolFree(shared->prototype_pool, c);
}

// A class record with its labels and use bytes, or null (message 252).
VtShaderPrototype *ClassMake(ShaderShared *shared, uint32_t type, const StringTable *table,
                             uint32_t name_index, uint32_t count, const uint32_t *label_indices) {
  auto *c = static_cast<VtShaderPrototype *>(VoPoolAllocate(shared->prototype_pool));
  if (c != nullptr) {
    std::memset(c, 0, sizeof *c);
    if (count != 0) c->labels = static_cast<const char **>(VoAllocate(count * sizeof(char *)));
    if (shared->global_count != 0)
      c->globalUse = static_cast<unsigned char *>(VoAllocate(shared->global_count));
  }
  if (c == nullptr || (count != 0 && c->labels == nullptr) ||
      (shared->global_count != 0 && c->globalUse == nullptr)) {
    if (c != nullptr) ClassFree(shared, c);
    Post(kNoMemory, kMsgClassNoMemory, VO_MODULE_SHADER);
    return nullptr;
  }
  c->type = type;
  c->name = table->strings[name_index];
  c->nameKind = NameKind(c->name);
  c->parameterCount = count;
  for (uint32_t i = 0; i < count; ++i) c->labels[i] = table->strings[label_indices[i]];
  c->globalsKnown = shared->global_count;
  if (c->globalUse != nullptr) std::memset(c->globalUse, 0, shared->global_count);
  return c;
}

VtShaderPrototype *ClassOf(ShadingContext *s, VtShader *shader) {
  return shader != nullptr ? shader->cls : s->shared->current_class;
}

// Where a class records its use of a global: the global's use byte, or the
// ray-tracing flag for "raytrace"; neither (with the refusal posted and in
// *status) for no class or an unknown name.
struct UseWord {
  unsigned char *byte;
  bool special;
  uint32_t *raytrace;
};

UseWord UseOf(ShadingContext *s, VtShader *shader, const char *name, VtStatus *status) {
  *status = 0;
  VtShaderPrototype *c = ClassOf(s, shader);
  if (c == nullptr) {
    *status = Refuse(kRefused, kMsgNoClassForGlobal);
    return {};
  }
  const GlobalEntry *g = name != nullptr ? GlobalFind(s->shared, name) : nullptr;
  if (g != nullptr && g->use < c->globalsKnown) return {&c->globalUse[g->use], g->special != 0, nullptr};
  if (name != nullptr && std::strcmp(name, "raytrace") == 0) return {nullptr, false, &c->raytrace};
  *status = Refuse(kRefused, kMsgNoGlobal, name != nullptr ? name : "");
  return {};
}

}  // namespace

VtStatus TypesStart(ShaderShared *shared) {
  for (uint32_t i = 0; i < VO_SHADER_TYPES; ++i) shared->types[i] = ShaderType{};
  for (uint32_t code = kFirstType; code <= kLastType; ++code) shared->types[code - kFirstType].code = code;
  shared->extra_types = 0;
  shared->current_class = nullptr;
  shared->tables = nullptr;
  shared->prototype_pool = VoPoolCreate(kPoolPrototypes, sizeof(VtShaderPrototype));
  return shared->prototype_pool != nullptr ? 0 : kNoMemory;
}

void TypesStop(ShaderShared *shared) {
  for (StringTable *t = shared->tables; t != nullptr;) {
    StringTable *next = t->next;
    VoDeallocate(t);
    t = next;
  }
  shared->tables = nullptr;
  for (ShaderType &t : shared->types) {
    for (VtShaderPrototype *c = t.first; c != nullptr;) {
      VtShaderPrototype *next = c->next;
      ClassFree(shared, c);
      c = next;
    }
    VoDeallocate(t.names);
    t = ShaderType{};
  }
  shared->current_class = nullptr;
  (void)PoolDisposeClear(&shared->prototype_pool);
}

int TypeIndex(const ShaderShared *shared, uint32_t code) {
  if (VO_CODE_MODULE(code) == VO_MODULE_SHADER)
    return code >= kFirstType && code <= kLastType ? static_cast<int>(code - kFirstType) : -1;
  if (shared->extra_types != 0 && shared->types[kExtraIndex].code == code) return kExtraIndex;
  return -1;
}

bool ShaderTypeKnown(uint32_t type) {
  VtStatus st;
  const ShaderShared *shared = Shared(&st);
  return shared != nullptr && TypeIndex(shared, type) >= 0;
}

bool ShaderTypeRegistered(uint32_t type) {
  const ShadingContext *s = StateGet();
  return s != nullptr && s->shared != nullptr && TypeIndex(s->shared, type) >= 0;
}

bool ClassInstalled(uint32_t type, const char *name) {
  ShadingContext *s = StateGet();
  return s != nullptr && name != nullptr && ClassFind(s->shared, type, name) != nullptr;
}

VtProc ClassEntry(uint32_t type, const char *name, uint32_t slot) {
  ShadingContext *s = StateGet();
  VtShaderPrototype *c = s != nullptr && name != nullptr ? ClassFind(s->shared, type, name) : nullptr;
  VtProc word = nullptr;
  if (c == nullptr || EntryAccess(c, slot, &word, false) != 0) return nullptr;
  return word;
}

VtShaderPrototype *ClassFind(const ShaderShared *shared, uint32_t type, const char *name) {
  const int index = TypeIndex(shared, type == VO_SHADER_SECOND_REFLECTANCE ? VO_SHADER_REFLECTANCE : type);
  if (index < 0 || name == nullptr) return nullptr;
  for (VtShaderPrototype *c = shared->types[index].first; c != nullptr; c = c->next)
    if (std::strcmp(c->name, name) == 0) return c;
  return nullptr;
}

namespace {

// The string table of that name, or null.
StringTable *TableNamed(const char *table) {
  VtStatus st;
  ShaderShared *shared = Shared(&st);
  if (shared == nullptr || table == nullptr) return nullptr;
  for (StringTable *t = shared->tables; t != nullptr; t = t->next)
    if (std::strcmp(t->name, table) == 0) return t;
  return nullptr;
}

}  // namespace

bool ArgumentMeaningsKeep(const char *table, const char *const *meanings) {
  StringTable *t = TableNamed(table);
  if (t == nullptr) return false;
  t->meanings = meanings;
  return true;
}

bool ArgumentBuffersKeep(const char *table, const ArgumentBuffer *buffers, size_t count) {
  StringTable *t = TableNamed(table);
  if (t == nullptr) return false;
  t->buffers = buffers;
  t->buffer_count = count;
  return true;
}

namespace {

// Units of a buffer rule now: the picture's pixels, or the product of the
// shader's count arguments (a negative count is none); false when one
// cannot be read.
bool BufferUnits(const ArgumentBuffer &b, const VtShader *shader, uint64_t *units) {
  if (b.counts[0] == nullptr) {
    uint32_t x = 0, y = 0;
    double aspect = 0;
    if (VoViewGetResolution(nullptr, &x, &y, &aspect) != 0) return false;
    *units = uint64_t{x} * y;
    return true;
  }
  *units = 1;
  for (const char *label : b.counts) {
    VtTypedValue v{};
    if (label == nullptr) continue;
    if (VoShaderGetArg(const_cast<VtShader *>(shader), label, &v) != 0 || v.type != VtInt32) return false;
    *units *= v.value.i < 0 ? 0 : static_cast<uint64_t>(v.value.i);
  }
  return true;
}

}  // namespace

bool ArgumentBufferFloats(const VtShader *shader, const char *label, uint64_t *floats) {
  VtStatus st;
  const ShaderShared *shared = Shared(&st);
  if (shared == nullptr || label == nullptr || !ShaderIsLive(shader) || shader->cls == nullptr) return false;
  // The class's table is the one holding its display name.
  const StringTable *t = shared->tables;
  while (t != nullptr && (t->count == 0 || t->strings[0] != shader->cls->name)) t = t->next;
  for (size_t i = 0; t != nullptr && i < t->buffer_count; ++i) {
    uint64_t units = 0;
    if (std::strcmp(t->buffers[i].label, label) != 0 || !BufferUnits(t->buffers[i], shader, &units)) continue;
    *floats = units * t->buffers[i].floats;
    return true;
  }
  return false;
}

void BufferKeep(const VtShader *shader, const char *label, uint32_t index, const VtTypedValue &value) {
  VtStatus st;
  ShaderShared *shared = Shared(&st);
  if (shared == nullptr) return;
  uint64_t floats = 0;
  const bool buffer = ValueTypeHoldsPointer(value.type) && value.value.p != nullptr &&
                      ArgumentBufferFloats(shader, label, &floats);
  auto &kept = shared->kept_buffers;
  auto at = std::find_if(kept.begin(), kept.end(), [&](const ShaderShared::KeptBuffer &k) {
    return k.shader == shader && k.index == index;
  });
  if (at != kept.end()) {
    at->floats = buffer ? floats : 0;
    return;
  }
  // Without memory for the entry the buffer is not watched: the class
  // reads what the caller vouched for when it set it.
  if (buffer) try {
      kept.push_back({shader, index, floats});
    } catch (...) {
    }
}

VtStatus BuffersHold(VtShader *shader) {
  VtStatus st = 0;
  ShaderShared *shared = Shared(&st);
  if (shared == nullptr || !ShaderIsLive(shader) || shader->cls == nullptr) return 0;
  VtShaderPrototype *c = shader->cls;
  for (ShaderShared::KeptBuffer &k : shared->kept_buffers) {
    VtTypedValue value{};
    uint64_t need = 0;
    if (k.shader != shader || k.index >= c->parameterCount || c->getArg == nullptr || c->setArg == nullptr ||
        c->getArg(shader->data, k.index, &value) != 0 || value.value.p == nullptr ||
        !ArgumentBufferFloats(shader, c->labels[k.index], &need) || need <= k.floats)
      continue;
    const auto shown = [](uint64_t n) { return static_cast<uint32_t>(n > UINT32_MAX ? UINT32_MAX : n); };
    Post(VO_STATUS_BAD_ARGUMENT, messages::kScriptArgumentShort, VO_MODULE_SHADER,
         static_cast<int32_t>(k.index + 1), c->labels[k.index], shown(k.floats), "VtFloat", shown(need));
    VtTypedValue none{};
    none.type = VtGenericPtr;
    (void)c->setArg(shader->data, k.index, &none);
    k.floats = 0;
    st |= VO_STATUS_BAD_ARGUMENT;
  }
  return st;
}

void BuffersHoldAll() {
  VtStatus st;
  const ShaderShared *shared = Shared(&st);
  if (shared == nullptr) return;
  // A buffer let go keeps its entry (at no floats): the walk's indices hold.
  for (size_t i = 0; i < shared->kept_buffers.size(); ++i)
    if (shared->kept_buffers[i].floats != 0)
      (void)BuffersHold(const_cast<VtShader *>(shared->kept_buffers[i].shader));
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

// The data behind VoShaderSetArg's value, where the label is a buffer
// argument of the shader's class given an address: the floats the class
// reads or writes through it now, so that the command interpreter gives
// it only data of a script's own that holds them.
bool ShaderArgumentShape(const void *const *argv, uint32_t param, uint64_t element, api::VtApiShape *shape) {
  if (param != 2 || element != 0) return false;
  const auto *shader = *static_cast<VtShader *const *>(argv[0]);
  const auto *label = *static_cast<const char *const *>(argv[1]);
  const auto *value = *static_cast<const VtTypedValue *const *>(argv[2]);
  uint64_t floats = 0;
  if (value == nullptr || !ValueTypeHoldsPointer(value->type) || value->value.p == nullptr ||
      !ArgumentBufferFloats(shader, label, &floats))
    return false;
  *shape = {VtFloat, floats, 0};
  return true;
}

VtStatus VoStringTableCreate(const char *name, uint32_t count, const char **strings) {
  VtStatus st;
  ShaderShared *shared = Shared(&st);
  if (shared == nullptr) return st;
  if (name == nullptr || count == 0 || strings == nullptr) return 0;
  if (TableFind(shared, name) != nullptr) return Refuse(kRefused, kMsgTableExists, name);
  // Sizes in size_t: the block must fit VoAllocate's 32-bit size.
  size_t bytes = sizeof(StringTable) + size_t{count} * sizeof(char *) + std::strlen(name) + 1;
  for (uint32_t i = 0; i < count; ++i) {
    if (strings[i] == nullptr) return Refuse(kRefused, messages::kShaderStringMissing, name, i);
    bytes += std::strlen(strings[i]) + 1;
  }
  if (bytes > UINT32_MAX) return Refuse(kNoMemory, messages::kShaderCountTooLarge, name, count);
  auto *t = static_cast<StringTable *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (t == nullptr) return Refuse(kNoMemory, kMsgTableNoMemory);
  t->count = count;
  t->meanings = nullptr;
  t->buffers = nullptr;
  t->buffer_count = 0;
  t->strings = reinterpret_cast<const char **>(t + 1);
  char *chars = reinterpret_cast<char *>(t->strings + count);
  auto keep = [&chars](const char *text) {
    const size_t n = std::strlen(text) + 1;
    std::memcpy(chars, text, n);
    chars += n;
    return chars - n;
  };
  t->name = keep(name);
  for (uint32_t i = 0; i < count; ++i) t->strings[i] = keep(strings[i]);
  t->next = shared->tables;
  shared->tables = t;
  return 0;
}

const char *VoStringDuplicate(const char *text) { return text != nullptr ? TextCopy(text) : nullptr; }

VtStatus VoShaderClassCreate(uint32_t type) {
  VtStatus st;
  ShaderShared *shared = Shared(&st);
  if (shared == nullptr) return st;
  // A known type, or a code of this module that is no type: no class could
  // ever be registered under it.
  if (TypeIndex(shared, type) >= 0 || VO_CODE_MODULE(type) == VO_MODULE_SHADER) return kRefused;
  if (shared->extra_types != 0) return kNoMemory;
  shared->types[kExtraIndex] = ShaderType{type, nullptr, 0, nullptr};
  shared->extra_types = 1;
  return 0;
}

VtStatus VoShaderPrototypeCreate(uint32_t type, const char *table_name, uint32_t name_index, uint32_t count,
                                 const uint32_t *label_indices) {
  VtStatus st;
  ShaderShared *shared = Shared(&st);
  if (shared == nullptr) return st;
  const int index = TypeIndex(shared, type);
  if (index < 0) return Refuse(kRefused, kMsgUnknownType, type);
  const StringTable *table = table_name != nullptr ? TableFind(shared, table_name) : nullptr;
  if (table == nullptr) return Refuse(kRefused, kMsgNoTable, table_name != nullptr ? table_name : "");
  if (name_index >= table->count)
    return Refuse(kRefused, messages::kShaderIndexRefused, table->name, name_index);
  if (count != 0 && label_indices == nullptr)
    return Refuse(kRefused, messages::kShaderIndexRefused, table->name, count);
  for (uint32_t i = 0; i < count; ++i)
    if (label_indices[i] >= table->count)
      return Refuse(kRefused, messages::kShaderIndexRefused, table->name, label_indices[i]);
  if (size_t{count} * sizeof(char *) > UINT32_MAX)
    return Refuse(kNoMemory, messages::kShaderCountTooLarge, table->name, count);
  VtShaderPrototype *c = ClassMake(shared, type, table, name_index, count, label_indices);
  if (c == nullptr) return kNoMemory;
  ClassInsert(&shared->types[index], c);
  shared->current_class = c;
  return 0;
}

VtStatus VoShaderSetEntry(uint32_t slot, const VtTypedValue *value) {
  VtStatus st;
  ShaderShared *shared = Shared(&st);
  if (shared == nullptr) return st;
  if (shared->current_class == nullptr) return Refuse(kRefused, kMsgNoClass);
  if (value == nullptr) return Refuse(kRefused, messages::kShaderSlotRefused, slot);
  VtProc word = value->value.fn;
  return EntryAccess(shared->current_class, slot, &word, true);
}

VtStatus VoShaderGetEntry(VtShader *shader, uint32_t slot, VtTypedValue *value) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (!ShaderKnownOrNull(s, shader)) return kRefused;
  VtShaderPrototype *c = ClassOf(s, shader);
  if (c == nullptr) return Refuse(kRefused, kMsgNoClass);
  if (value == nullptr) return Refuse(kRefused, messages::kShaderSlotRefused, slot);
  VtProc word = nullptr;
  st = EntryAccess(c, slot, &word, false);
  if (st == 0) *value = TypedFunc(word);
  return st;
}

VtStatus VoShaderSetGlobalUse(VtShader *shader, const char *name) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (!ShaderKnownOrNull(s, shader)) return kRefused;
  const UseWord use = UseOf(s, shader, name, &st);
  if (use.byte != nullptr) *use.byte = 1;
  if (use.byte != nullptr && use.special) ClassOf(s, shader)->specialGlobals = 1;
  if (use.raytrace != nullptr) *use.raytrace = 1;
  return st;
}

VtStatus VoShaderUseGlobal(const char *name) { return VoShaderSetGlobalUse(nullptr, name); }

uint32_t VoShaderGetGlobalUse(VtShader *shader, const char *name) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr || !ShaderKnownOrNull(s, shader)) return 0;
  const UseWord use = UseOf(s, shader, name, &st);
  if (use.byte != nullptr) return *use.byte == 1 ? 1 : 0;
  return use.raytrace != nullptr && *use.raytrace != 0 ? 1 : 0;
}

VtStatus VoShaderGetPrototypes(uint32_t type, uint32_t *count, void **names) {
  VtStatus st;
  ShaderShared *shared = Shared(&st);
  if (shared == nullptr) return st;
  // The second reflectance lists the reflectance classes it is made from.
  const int index = TypeIndex(shared, type == VO_SHADER_SECOND_REFLECTANCE ? VO_SHADER_REFLECTANCE : type);
  if (index < 0) return Refuse(kRefused, kMsgUnknownListType, type);
  if (count == nullptr || names == nullptr) return Refuse(kRefused, kMsgUnknownListType, type);
  ShaderType &t = shared->types[index];
  if (t.names == nullptr && t.count != 0) {
    t.names = static_cast<const char **>(VoAllocate(t.count * static_cast<uint32_t>(sizeof(char *))));
    if (t.names == nullptr) {
      *count = 0;
      *names = nullptr;
      return kNoMemory;
    }
    uint32_t i = 0;
    for (const VtShaderPrototype *c = t.first; c != nullptr; c = c->next) t.names[i++] = c->name;
  }
  *count = t.count;
  *names = static_cast<void *>(t.names);
  return 0;
}

}  // namespace vo

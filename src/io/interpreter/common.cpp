// What the text and binary readers share: type names, variables, printing of
// values and calls through the table of exported procedures.

#include <cinttypes>
#include <cstddef>
#include <cstdarg>
#include <cstring>

#include <vo/vo_object.h>

#include "io/interpreter/interpreter.h"
#include "kernel/vosystem/face.h"

namespace vo::interp {

// ---- Text and arena -----------------------------------------------------------

void Text::Add(const char *text, size_t n) {
  if (!ok) return;
  if (fill + n + 1 > capacity) {
    size_t cap = capacity ? capacity : 64;
    while (cap < fill + n + 1) cap *= 2;
    if (cap > UINT32_MAX) {
      ok = false;
      return;
    }
    auto *q = static_cast<char *>(VoAllocate(static_cast<uint32_t>(cap)));
    if (q == nullptr) {
      ok = false;
      return;
    }
    if (fill) std::memcpy(q, p, fill);
    VoDeallocate(p);
    p = q;
    capacity = cap;
  }
  std::memcpy(p + fill, text, n);
  fill += n;
  p[fill] = 0;
}

void Text::Add(const char *text) { Add(text, std::strlen(text)); }

void Text::Format(const char *format, ...) {
  char b[128];
  va_list a;
  va_start(a, format);
  int n = std::vsnprintf(b, sizeof b, format, a);
  va_end(a);
  if (n > 0) Add(b, static_cast<size_t>(n) < sizeof b ? static_cast<size_t>(n) : sizeof b - 1);
}

Arena::~Arena() { FreeChain(blocks_); }

void Arena::FreeChain(void *chain) {
  for (auto *b = static_cast<Block *>(chain); b != nullptr;) {
    Block *next = b->next;
    VoDeallocate(b);
    b = next;
  }
}

void Arena::HandOver(void **chain) {
  while (blocks_ != nullptr) {
    Block *next = blocks_->next;
    blocks_->next = static_cast<Block *>(*chain);
    *chain = blocks_;
    blocks_ = next;
  }
}

void *Arena::Take(uint64_t size) {
  if (size > UINT32_MAX - kBlockHead) return nullptr;
  auto *b = static_cast<Block *>(VoAllocate(static_cast<uint32_t>(size + kBlockHead)));
  if (b == nullptr) return nullptr;
  std::memset(b, 0, size + kBlockHead);
  b->next = blocks_;
  b->size = size;
  blocks_ = b;
  return reinterpret_cast<unsigned char *>(b) + kBlockHead;
}

bool Arena::ChainHolds(const void *chain, const void *p, uint64_t *bytes) {
  const auto at = reinterpret_cast<uintptr_t>(p);
  for (auto *b = static_cast<const Block *>(chain); b != nullptr; b = b->next) {
    const auto start = reinterpret_cast<uintptr_t>(b) + kBlockHead;
    if (at >= start && at - start < b->size) {
      *bytes = b->size - (at - start);
      return true;
    }
  }
  return false;
}

// ---- Types -----------------------------------------------------------------------

namespace {

// The value types' printable names that the description does not use.
struct ExtraTypes {
  api::VtApiType types[64];
  size_t count = 0;
  ExtraTypes() {
    size_t n = 0;
    const ValueTypeInfo *table = ValueTypeTable(&n);
    for (size_t i = 0; i < n && count < 64; ++i) {
      const ValueTypeInfo &t = table[i];
      if (api::FindType(t.name) != nullptr) continue;
      uint32_t kind = api::kKindScalar;
      if (t.code == VtVoid)
        kind = api::kKindVoid;
      else if (t.code == VtString)
        kind = api::kKindString;
      else if (t.code == VtFunc)
        kind = api::kKindFunc;
      else if (t.code == VtData)
        kind = api::kKindData;
      else if (t.holds_pointer)
        kind = api::kKindPointer;
      else if (t.count != 0)
        kind = api::kKindStruct;
      types[count++] = {t.name, t.code, kind, t.size};
    }
  }
};

const ExtraTypes &Extras() {
  static const ExtraTypes extras;
  return extras;
}

}  // namespace

const api::VtApiType *TypeByName(const char *name) {
  if (name == nullptr) return nullptr;
  if (const api::VtApiType *t = api::FindType(name)) return t;
  const ExtraTypes &e = Extras();
  for (size_t i = 0; i < e.count; ++i)
    if (std::strcmp(e.types[i].name, name) == 0) return &e.types[i];
  return nullptr;
}

const api::VtApiType *TypeByCode(uint32_t code) {
  if (code == VtHandle) return TypeByName("VtGenericPtr");
  const ValueTypeInfo *v = ValueTypeFind(code);
  if (v == nullptr) return nullptr;
  const api::VtApiType *t = TypeByName(v->name);
  return t != nullptr && t->code == code ? t : nullptr;
}

bool HoldsAddress(const api::VtApiType *type) {
  return type->kind == api::kKindPointer || type->kind == api::kKindHandle || type->kind == api::kKindData;
}

bool RecordLayout(const api::VtApiType *type, uint32_t *element, uint32_t *count) {
  if (std::strcmp(type->name, "Matrix") == 0) {
    *element = VtDouble;
    *count = 16;
    return true;
  }
  if (type->kind != api::kKindStruct) return false;
  const ValueTypeInfo *v = ValueTypeFind(type->code);
  if (v == nullptr || v->count == 0 || v->size != type->size) return false;
  *element = v->element;
  *count = v->count;
  return true;
}

// ---- Variables ------------------------------------------------------------------

namespace {

constexpr size_t kFirstBuckets = 64;

Variable **Bucket(const VariableTable &t, const char *name) {
  return &t.heads[api::NameHash(name) & (t.count - 1)];
}

// Makes room for one more variable: the first buckets, or twice as many
// once there are as many variables as buckets. A table that cannot grow
// stays as it is (its chains only lengthen); false when there is none.
bool TableRoom(VariableTable *t) {
  if (t->count != 0 && t->variables < t->count) return true;
  const size_t count = t->count == 0 ? kFirstBuckets : 2 * t->count;
  if (count > UINT32_MAX / sizeof(Variable *)) return t->count != 0;
  auto *heads = static_cast<Variable **>(VoAllocate(static_cast<uint32_t>(count * sizeof(Variable *))));
  if (heads == nullptr) return t->count != 0;
  std::memset(heads, 0, count * sizeof(Variable *));
  VariableTable grown{heads, count, t->variables};
  for (Variable *head : *t)
    while (head != nullptr) {
      Variable *next = head->next;
      Variable **link = Bucket(grown, head->name);
      head->next = *link;
      *link = head;
      head = next;
    }
  VoDeallocate(t->heads);
  *t = grown;
  return true;
}

// A variable's storage is a block with the arena's head (its chain link and
// its size), so that a replaced one can join the kept chain: a value
// elsewhere may still point into it.
constexpr size_t kStorageHead = Arena::kBlockHead;

void StorageFree(unsigned char *storage) {
  if (storage != nullptr) VoDeallocate(storage - kStorageHead);
}

// Frees the variable; its storage joins the chain when one is given.
void FreeVariable(Variable *v, void **kept = nullptr) {
  if (kept != nullptr)
    StorageRetire(kept, v->storage);
  else
    StorageFree(v->storage);
  VoDeallocate(v->name);
  VoDeallocate(v);
}

}  // namespace

unsigned char *StorageTake(uint64_t size) {
  if (size < 8) size = 8;
  if (size > UINT32_MAX - kStorageHead) return nullptr;
  auto *block = static_cast<unsigned char *>(AllocateZeroed(size + kStorageHead));
  if (block == nullptr) return nullptr;
  std::memcpy(block + sizeof(void *), &size, sizeof size);  // the chain's size word
  return block + kStorageHead;
}

void StorageRetire(void **kept, unsigned char *storage) {
  if (storage == nullptr) return;
  unsigned char *block = storage - kStorageHead;
  std::memcpy(block, kept, sizeof(void *));  // the chain's next
  *kept = block;
}

Variable *FindVariable(State *s, const char *name) {
  if (s->buckets.count == 0) return nullptr;
  for (Variable *v = *Bucket(s->buckets, name); v != nullptr; v = v->next)
    if (std::strcmp(v->name, name) == 0) return v;
  return nullptr;
}

Variable *MakeVariable(State *s, const char *name, const api::VtApiType *type, uint32_t form,
                       uint64_t count) {
  uint64_t size = form == kPointerTo ? sizeof(void *) : type->size;
  if (form == kArray) {
    if (count == 0 || (type->size != 0 && count > (UINT32_MAX - 16) / type->size)) return nullptr;
    size *= count;
  }
  auto *v = static_cast<Variable *>(VoAllocate(sizeof(Variable)));
  char *copy = TextCopy(name);
  unsigned char *storage = StorageTake(size);
  if (v == nullptr || copy == nullptr || storage == nullptr || !TableRoom(&s->buckets)) {
    VoDeallocate(v);
    VoDeallocate(copy);
    StorageFree(storage);
    return nullptr;
  }
  *v = {copy, type, form, form == kArray ? count : 1, false, storage, nullptr};
  // A declaration replaces an earlier variable of the name.
  Variable **link = Bucket(s->buckets, name);
  for (Variable **at = link; *at != nullptr; at = &(*at)->next) {
    if (std::strcmp((*at)->name, name) == 0) {
      Variable *old = *at;
      *at = old->next;
      FreeVariable(old, &s->kept);
      --s->buckets.variables;
      break;
    }
  }
  v->next = *link;
  *link = v;
  ++s->buckets.variables;
  return v;
}

void FreeVariables(State *s) {
  for (Variable *&head : s->buckets) {
    while (head != nullptr) {
      Variable *next = head->next;
      FreeVariable(head);
      head = next;
    }
  }
  VoDeallocate(s->buckets.heads);
  s->buckets = VariableTable{};
}

void ForgetAddresses(State *s) {
  AnswersClear(&s->answers);
  for (Variable *head : s->buckets) {
    for (Variable *v = head; v != nullptr; v = v->next) {
      bool dead = v->form == kPointerTo || HoldsAddress(v->type);
      if (v->type->kind == api::kKindTagged) dead = true;  // a value record may hold an object
      if (v->type->kind == api::kKindTyped && v->form == kValue) {
        VtTypedValue t;
        std::memcpy(&t, v->storage, sizeof t);
        dead = ValueTypeHoldsPointer(t.type) && t.type != VtString && t.type != VtFunc;
      }
      if (dead) v->defined = false;
    }
  }
}

// ---- Printing -----------------------------------------------------------------------

namespace {

void FormatAddress(Text *out, const void *p) {
  out->Format("0x%016" PRIxPTR, reinterpret_cast<uintptr_t>(p));
}

template <class T>
T At(const void *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void FormatScalar(Text *out, const api::VtApiType *t, const void *p, bool in_array) {
  switch (t->code) {
    case VtInt32: out->Format("%d", At<int32_t>(p)); return;
    case VtEnum:
      if (in_array)
        out->Format("%d", At<int32_t>(p));
      else
        out->Format("%u", At<uint32_t>(p));
      return;
    case VtNat32:
    case VtStatusType:
    case VtFlags: out->Format("%u", At<uint32_t>(p)); return;
    case VtFloat: out->Format("%g", static_cast<double>(At<float>(p))); return;
    case VtDouble: out->Format("%g", At<double>(p)); return;
    case VtBoolean:
      if (in_array)
        out->Format("%u", At<uint32_t>(p));
      else
        out->Add(At<uint32_t>(p) ? "TRUE" : "FALSE");
      return;
    case VtNat8: out->Format("%u", At<uint8_t>(p)); return;
    default:
      if (t->size == 8)
        FormatAddress(out, At<const void *>(p));
      else
        out->Format("%u", At<uint32_t>(p));
  }
}

void FormatRecord(Text *out, const api::VtApiType *t, const void *p) {
  uint32_t element = 0, count = 0;
  const auto *b = static_cast<const unsigned char *>(p);
  out->Add("[");
  if (RecordLayout(t, &element, &count)) {
    for (uint32_t i = 0; i < count; ++i) {
      if (i) out->Add(" ");
      if (element == VtDouble)
        out->Format("%g", At<double>(b + 8 * i));
      else
        out->Format("%g", static_cast<double>(At<float>(b + 4 * i)));
    }
  } else {
    for (uint32_t i = 0; i + 4 <= t->size; i += 4) out->Format(i ? " %u" : "%u", At<uint32_t>(b + i));
  }
  out->Add("]");
}

void FormatTyped(Text *out, const VtTypedValue &v) {
  const api::VtApiType *t = TypeByCode(v.type);
  if (v.type == VtVoid || t == nullptr) {
    out->Format(v.type == VtVoid ? "{VtVoid}" : "{%u ?}", v.type);
    return;
  }
  out->Format("{%s ", t->name);
  FormatValue(out, t, kValue, 1, &v.value);
  out->Add("}");
}

// A value record as {word value}, by its type word's case.
void FormatTagged(Text *out, const api::VtApiType *t, const void *p) {
  VtObjectValue r;
  std::memcpy(&r, p, sizeof r);
  out->Format("{%u", r.type);
  const api::VtApiCase *c = api::FindCase(t->name, r.type & VO_OBJECT_TYPE_MASK);
  const api::VtApiType *v = c ? TypeByName(c->type_name) : nullptr;
  if (c != nullptr && c->carried == api::kCarriedArea && v != nullptr) {
    out->Add(c->count > 1 ? " [" : " ");
    for (uint32_t i = 0; i < c->count; ++i) {
      if (i) out->Add(" ");
      FormatValue(out, v, kValue, 1, r.value.bytes + i * v->size);
    }
    if (c->count > 1) out->Add("]");
  } else if (c != nullptr && c->carried == api::kCarriedAddress && v != nullptr &&
             v->kind == api::kKindString) {
    out->Add(" ");
    out->Add(r.value.s ? r.value.s : "NULL");
  } else if (c == nullptr || c->carried != api::kCarriedNone) {
    out->Add(" ");
    FormatAddress(out, r.value.p);
  }
  out->Add("}");
}

void FormatOne(Text *out, const api::VtApiType *t, const void *p, bool in_array) {
  switch (t->kind) {
    case api::kKindScalar: FormatScalar(out, t, p, in_array); break;
    case api::kKindString: {
      const char *s = At<const char *>(p);
      out->Add(s ? s : "NULL");
      break;
    }
    case api::kKindStruct: FormatRecord(out, t, p); break;
    case api::kKindTyped: FormatTyped(out, At<VtTypedValue>(p)); break;
    case api::kKindTagged: FormatTagged(out, t, p); break;
    case api::kKindVoid: break;
    default: FormatAddress(out, At<const void *>(p)); break;
  }
}

}  // namespace

void FormatValue(Text *out, const api::VtApiType *type, uint32_t form, uint64_t count, const void *value) {
  if (form == kPointerTo) {
    FormatAddress(out, At<const void *>(value));
    return;
  }
  if (form != kArray) {
    FormatOne(out, type, value, false);
    return;
  }
  out->Add("[");
  const auto *b = static_cast<const unsigned char *>(value);
  for (uint64_t i = 0; i < count && out->ok; ++i) {
    if (i) out->Add(" ");
    FormatOne(out, type, b + i * type->size, true);
  }
  out->Add("]");
}

// ---- Calls ---------------------------------------------------------------------------

int64_t NeededElements(const api::VtApiFunction *fn, const api::VtApiParam &p, const uint64_t *cells) {
  if (p.count > 0) return p.count;
  if (p.count == 0) return -1;
  const auto k = static_cast<uint32_t>(-p.count - 1);
  if (k >= fn->param_count) return -1;
  const api::VtApiParam &c = fn->params[k];
  if (c.kind != api::kKindScalar || (c.flags & (api::kParamOut | api::kParamArray))) return -1;
  int32_t i;
  uint32_t u;
  std::memcpy(&i, &cells[k], 4);
  std::memcpy(&u, &cells[k], 4);
  const int64_t n = (c.type == VtInt32 || c.type == VtEnum) ? i : c.type == VtNat8 ? (u & 0xFF) : u;
  return n < 0 ? 0 : n * static_cast<int64_t>(p.scale ? p.scale : 1);
}

namespace {

// The unit of a shape's count: its value type's name and size, or, where
// the shape gives the bytes of one value (a registered property's, which
// the registry may size apart from the value-type table: a VtData property
// holds 32 bytes, and codes 33 to 36 and 40 have no entry there), that
// size; a size that names no type counts bytes. False when nothing sizes
// the unit.
bool UnitOf(const api::VtApiShape &shape, Need *need) {
  const ValueTypeInfo *v = ValueTypeFind(shape.type);
  need->count = shape.count;
  if (v != nullptr && v->size != 0 && (shape.unit == 0 || shape.unit == v->size)) {
    need->unit = v->name;
    need->unit_size = v->size;
    return true;
  }
  if (shape.unit == 0 || shape.count > UINT64_MAX / shape.unit) return false;
  need->unit = "byte";
  need->unit_size = 1;
  need->count = shape.count * shape.unit;
  return true;
}

}  // namespace

bool ArrayNeed(const api::VtApiFunction *fn, uint32_t i, const uint64_t *cells, Need *need) {
  const api::VtApiParam &p = fn->params[i];
  const api::VtApiType *t = TypeByName(p.type_name);
  if (t == nullptr || t->size == 0) return false;
  if (p.count != 0) {
    const int64_t n = NeededElements(fn, p, cells);
    if (n < 0) return false;
    *need = {static_cast<uint64_t>(n), t->name, t->size};
    return true;
  }
  api::VtApiShape shape{};
  void *argv[64];
  if (fn->shape == nullptr || fn->param_count > 64) return false;
  for (uint32_t k = 0; k < fn->param_count; ++k) argv[k] = const_cast<uint64_t *>(&cells[k]);
  return fn->shape(argv, i, 0, &shape) && UnitOf(shape, need);
}

bool DataNeed(const api::VtApiFunction *fn, uint32_t i, uint64_t element, const uint64_t *cells, Need *need) {
  const api::VtApiParam &p = fn->params[i];
  api::VtApiShape shape{};
  void *argv[64];
  if (p.kind != api::kKindTyped || fn->shape == nullptr || fn->param_count > 64) return false;
  for (uint32_t k = 0; k < fn->param_count; ++k) argv[k] = const_cast<uint64_t *>(&cells[k]);
  return fn->shape(argv, i, element, &shape) && UnitOf(shape, need);
}

bool Holds(const State *s, const Arena *call, const void *p, uint64_t *bytes) {
  if (p == nullptr) return false;
  if (s != nullptr) {
    for (const Variable *head : s->buckets)
      for (const Variable *v = head; v != nullptr; v = v->next)
        if (v->storage == p) {
          *bytes = v->form == kPointerTo ? sizeof(void *) : v->type->size * v->count;
          return true;
        }
  }
  return (call != nullptr && call->Holds(p, bytes)) || (s != nullptr && Arena::ChainHolds(s->kept, p, bytes));
}

// ---- Pointer arguments ---------------------------------------------------------------

namespace {

const char *OriginWords(uint32_t origin) {
  switch (origin) {
    case kFromScript: return "the address of the script's own data";
    case kFromHandle: return "a handle";
    case kFromNowhere: return "an address no call answered";
    case kFromGone: return "a block a call gave back";
    case kFromFile: return "a file VoFileOpen opened";
    default: return "an address a call answered";
  }
}

// What a library rule takes: a block of its kind and the calls answering
// one, or, for the inner kind, nothing a script holds.
void TakesKind(const char *kind, Text *takes) {
  if (std::strcmp(kind, api::kBlockKindInner) == 0) {
    takes->Add("only the library's own record, which no call answers");
    return;
  }
  takes->Format("only a block of kind %s, as", kind);
  const char *sep = " ";
  for (size_t m = 0; m < api::kBlockMakerCount; ++m) {
    // A maker answering the kind through two outputs is named once.
    if (std::strcmp(api::kBlockMakers[m].kind, kind) != 0 ||
        (m > 0 && api::kBlockMakers[m - 1].function == api::kBlockMakers[m].function &&
         std::strcmp(api::kBlockMakers[m - 1].kind, kind) == 0))
      continue;
    takes->Format("%s%s", sep, api::kFunctions[api::kBlockMakers[m].function].name);
    sep = ", ";
  }
  takes->Add(" answer");
}

// What a sized rule needs behind the argument; false when its other
// arguments do not size it.
bool SizedNeed(const api::VtApiFunction *fn, uint32_t i, const api::VtApiPointerRule &r,
               const uint64_t *cells, Need *need) {
  if (r.rule == api::kRuleShape) {
    api::VtApiShape shape{};
    void *argv[64];
    if (fn->shape == nullptr || fn->param_count > 64) return false;
    for (uint32_t k = 0; k < fn->param_count; ++k) argv[k] = const_cast<uint64_t *>(&cells[k]);
    return fn->shape(argv, i, 0, &shape) && UnitOf(shape, need);
  }
  const api::VtApiType *t = TypeByName(r.type_name);
  if (t == nullptr || t->size == 0) return false;
  int64_t n = r.count;
  if (r.rule == api::kRuleCount) {
    const api::VtApiParam counted{"",      r.type_name, t->code, t->kind, api::kParamIn | api::kParamArray,
                                  r.count, r.scale};
    n = NeededElements(fn, counted, cells);
  }
  if (n < 0) return false;
  *need = {static_cast<uint64_t>(n), t->name, t->size};
  return true;
}

}  // namespace

bool RuledPointer(const api::VtApiFunction *fn, uint32_t i) {
  const api::VtApiParam &p = fn->params[i];
  return (p.kind == api::kKindPointer || p.kind == api::kKindData || p.kind == api::kKindHandle) &&
         (p.flags & api::kParamOut) == 0;
}

bool PointerAllowed(const api::VtApiFunction *fn, uint32_t i, const void *value, uint32_t origin,
                    uint64_t held, const char *made, uint64_t owner, const uint64_t *cells,
                    PointerVerdict *verdict) {
  PointerVerdict &v = *verdict;
  v.ok = true;
  if (value == nullptr) return true;
  // A handle parameter: the library judges a handle by the record at its
  // address, so it takes only a handle a call answered as one of its own
  // type (the type of the answer's declaration): an object of another kind
  // may be smaller than the record, or hold other words where the library
  // looks; the script's own data, a file, a block, a number (a binary
  // file's integer result) or a handle given back are refused unread.
  if (fn->params[i].kind == api::kKindHandle) {
    const char *type = fn->params[i].type_name;
    if (origin == kFromHandle && (made == nullptr || std::strcmp(made, type) == 0)) return true;
    v.is = origin == kFromHandle ? "a handle of another kind" : OriginWords(origin);
    v.takes.Format("only a handle of type %s a call answered", type);
    return v.ok = false;
  }
  // A parameter without a rule (the description's generator refuses one)
  // takes only what a call answered.
  const api::VtApiPointerRule *r = api::FindPointerRule(fn, i);
  const uint32_t rule = r != nullptr ? r->rule : api::kRuleLibrary;
  v.is = OriginWords(origin);
  switch (rule) {
    case api::kRuleOpaque: return true;
    case api::kRuleStream:
      if (origin == kFromFile) return true;
      if (origin != kFromScript && origin != kFromHandle) v.is = "no file VoFileOpen opened";
      v.takes.Add("a file VoFileOpen opened");
      return v.ok = false;
    case api::kRuleLibrary: {
      // Only a block of the parameter's kind: another kind's block may be
      // smaller, laid out otherwise, or given back to another allocator.
      // Where the kind has owners, only one of the owner this call names:
      // another pool's element would join this pool's free list, and be
      // freed again with its own pool.
      const bool kind =
          origin == kFromLibrary && made != nullptr && r != nullptr && std::strcmp(made, r->type_name) == 0;
      const bool owned = kind && (r->owner == api::kNoOwner ||
                                  (r->owner < fn->param_count && owner != 0 && owner == cells[r->owner]));
      if (owned) return true;
      if (origin == kFromLibrary)
        v.is = kind              ? "a block of its kind that belongs to another owner"
               : made != nullptr ? "a block of another kind"
                                 : "a block of no kind";
      TakesKind(r != nullptr ? r->type_name : api::kBlockKindInner, &v.takes);
      if (r != nullptr && r->owner < fn->param_count)
        v.takes.Format(" for argument %u (\"%s\")", r->owner + 1, fn->params[r->owner].name);
      return v.ok = false;
    }
    case api::kRuleObject:
      if (origin == kFromLibrary || origin == kFromHandle) return true;
      v.takes.Add("only an object a call answered");
      return v.ok = false;
    default: break;
  }
  // Count, fixed and shape: the script's own data, or a block whose maker
  // answered its size, must hold what the call reads or writes; a block of
  // no known size could hold anything down to a byte.
  const bool sized = SizedNeed(fn, i, *r, cells, &v.need);
  const bool measured = origin == kFromScript || (origin == kFromLibrary && held != kSizeUnknown);
  if (origin == kFromLibrary && !measured) v.is = "a block whose size no call answered";
  if (!measured || !sized) {
    if (sized)
      v.takes.Format("the address of %" PRIu64 " %s values", v.need.count, v.need.unit);
    else
      v.takes.Add("the address of data its other arguments size, which they do not here");
    return v.ok = false;
  }
  v.held = held;
  if (held / v.need.unit_size >= v.need.count) return true;
  v.short_of = true;
  return v.ok = false;
}

bool StreamCodeRefused(const api::VtApiFunction *fn, uint32_t i, const uint64_t *cells, uint32_t *code) {
  uint32_t k = 0;
  if (!api::StreamCodeParam(fn, i, &k) || k >= fn->param_count || cells[i] == 0) return false;
  std::memcpy(code, &cells[k], sizeof *code);
  if (!api::IsStreamCode(fn, i, *code)) return false;
  VtTypedValue value;
  std::memcpy(&value, reinterpret_cast<const void *>(cells[i]), sizeof value);
  // Void or null resets the control to its default; anything else must be
  // an open file of VoFileOpen, whatever type it claims.
  if (value.type == VtVoid || value.value.p == nullptr) return false;
  return !FileOpenedHere(value.value.p);
}

void ForgetGivenBack(State *s, const api::VtApiFunction *fn, const uint64_t *cells, uint64_t *table,
                     size_t table_size) {
  const auto at = static_cast<uint32_t>(fn - api::kFunctions);
  for (size_t g = 0; g < api::kGivenBackCount; ++g) {
    if (api::kGivenBack[g].function != at || api::kGivenBack[g].param >= fn->param_count) continue;
    const uint64_t value = cells[api::kGivenBack[g].param];
    // A file still open was not closed (a control holds it): the script
    // keeps it, to close once the control lets it go.
    if (value == 0 || FileOpenedHere(reinterpret_cast<const void *>(value))) continue;
    if (s != nullptr) AnswerForget(s, value);
    for (size_t k = 0; k < table_size; ++k)
      if (table[k] == value) table[k] = 0;
    if (s == nullptr) continue;
    for (Variable *head : s->buckets)
      for (Variable *v = head; v != nullptr; v = v->next) {
        if (v->form != kPointerTo && (!HoldsAddress(v->type) || v->type->size != sizeof value)) continue;
        for (uint64_t e = 0; e < (v->form == kArray ? v->count : 1); ++e) {
          uint64_t held = 0;
          std::memcpy(&held, v->storage + e * sizeof held, sizeof held);
          if (held == value) v->defined = false;
        }
      }
  }
}

// ---- The record of answers ----------------------------------------------------------

namespace {

size_t AnswerSlot(const Answers &a, uint64_t value) {
  // Blocks are aligned: the low bits say little.
  return static_cast<size_t>(((value >> 4) * 0x9E3779B97F4A7C15ull) >> 20) & (a.capacity - 1);
}

bool AnswersGrow(Answers *a) {
  const size_t grown = a->capacity ? 2 * a->capacity : 64;
  if (grown > (UINT32_MAX / sizeof(uint64_t))) return false;
  auto *values = static_cast<uint64_t *>(VoAllocate(static_cast<uint32_t>(grown * sizeof(uint64_t))));
  auto *kinds = static_cast<unsigned char *>(VoAllocate(static_cast<uint32_t>(grown)));
  auto *made = static_cast<const char **>(VoAllocate(static_cast<uint32_t>(grown * sizeof(const char *))));
  auto *owners = static_cast<uint64_t *>(VoAllocate(static_cast<uint32_t>(grown * sizeof(uint64_t))));
  auto *sizes = static_cast<uint64_t *>(VoAllocate(static_cast<uint32_t>(grown * sizeof(uint64_t))));
  if (values == nullptr || kinds == nullptr || made == nullptr || owners == nullptr || sizes == nullptr) {
    VoDeallocate(values);
    VoDeallocate(kinds);
    VoDeallocate(made);
    VoDeallocate(owners);
    VoDeallocate(sizes);
    return false;
  }
  std::memset(kinds, kAnswerNone, grown);
  Answers old = *a;
  *a = {values, kinds, made, owners, sizes, grown, 0};
  for (size_t k = 0; k < old.capacity; ++k) {
    if (old.kinds[k] == kAnswerNone) continue;
    size_t at = AnswerSlot(*a, old.values[k]);
    while (a->kinds[at] != kAnswerNone) at = (at + 1) & (grown - 1);
    a->values[at] = old.values[k];
    a->kinds[at] = old.kinds[k];
    a->made[at] = old.made[k];
    a->owners[at] = old.owners[k];
    a->sizes[at] = old.sizes[k];
    ++a->count;
  }
  AnswersFree(&old);
  return true;
}

// One output element or result of type t at p: its address, when it holds
// one, and what it is (a block of kind made, when one).
void NoteOne(State *s, const api::VtApiType *t, const unsigned char *p, bool revives, const char *made,
             uint64_t owner, uint64_t size) {
  uint64_t value = 0;
  AnswerKind kind = kAnswerBlock;
  const char *handle = nullptr;  // a handle's type
  if (t->kind == api::kKindPointer || t->kind == api::kKindHandle || t->kind == api::kKindData) {
    std::memcpy(&value, p, sizeof value);
    if (t->kind == api::kKindHandle) kind = kAnswerHandle, handle = t->name;
  } else if (t->kind == api::kKindTyped) {
    VtTypedValue v;
    std::memcpy(&v, p, sizeof v);
    if (!ValueTypeHoldsPointer(v.type) || v.type == VtString || v.type == VtFunc) return;
    value = v.value.bits;
    const api::VtApiType *vt = TypeByCode(v.type);
    if (vt != nullptr && vt->kind == api::kKindHandle) kind = kAnswerHandle, handle = vt->name;
  } else if (t->kind == api::kKindTagged) {
    VtObjectValue r;
    std::memcpy(&r, p, sizeof r);
    const api::VtApiCase *c = api::FindCase(t->name, r.type & VO_OBJECT_TYPE_MASK);
    if (c == nullptr || (c->carried != api::kCarriedObject && c->carried != api::kCarriedAddress)) return;
    std::memcpy(&value, &r.value.p, sizeof r.value.p);
    if (c->carried == api::kCarriedObject) kind = kAnswerHandle, handle = c->type_name;
  } else {
    return;
  }
  if (value != 0)
    AnswerNote(s, value, kind, revives, kind == kAnswerBlock ? made : handle, owner,
               kind == kAnswerBlock ? size : kSizeUnknown);
}

// The value of the owner parameter of what fn answers in param (0: none).
uint64_t OwnerOf(const api::VtApiFunction *fn, uint32_t param, const uint64_t *cells) {
  const uint32_t k = api::AnswerOwner(fn, param);
  return k < fn->param_count ? cells[k] : 0;
}

// The bytes of the block fn answers in param, by the number its "sizes"
// line names: an input argument, or what the call wrote through an output.
uint64_t SizeOf(const api::VtApiFunction *fn, uint32_t param, const uint64_t *cells) {
  const uint32_t k = api::BlockSizeParam(fn, param);
  if (k >= fn->param_count) return kSizeUnknown;
  uint32_t bytes = 0;
  if ((fn->params[k].flags & api::kParamOut) == 0)
    std::memcpy(&bytes, &cells[k], sizeof bytes);
  else if (cells[k] != 0)
    std::memcpy(&bytes, reinterpret_cast<const void *>(cells[k]), sizeof bytes);
  else
    return kSizeUnknown;
  return bytes;
}

}  // namespace

AnswerKind AnswerOf(const Answers &a, uint64_t value, const char **made, uint64_t *owner, uint64_t *size) {
  if (a.capacity == 0 || value == 0) return kAnswerNone;
  for (size_t at = AnswerSlot(a, value); a.kinds[at] != kAnswerNone; at = (at + 1) & (a.capacity - 1))
    if (a.values[at] == value) {
      if (made != nullptr) *made = a.made[at];
      if (owner != nullptr) *owner = a.owners[at];
      if (size != nullptr) *size = a.kinds[at] == kAnswerBlock ? a.sizes[at] : kSizeUnknown;
      return static_cast<AnswerKind>(a.kinds[at]);
    }
  return kAnswerNone;
}

bool AnswerNote(State *s, uint64_t value, AnswerKind kind, bool revives, const char *made, uint64_t owner,
                uint64_t size) {
  Answers &a = s->answers;
  if (value == 0 || kind == kAnswerNone) return true;
  if (4 * (a.count + 1) > 3 * a.capacity && !AnswersGrow(&a)) {
    Report(s, kNoMemory, kMsgTableCannotGrow);
    s->stop = true;
    return false;
  }
  size_t at = AnswerSlot(a, value);
  for (; a.kinds[at] != kAnswerNone; at = (at + 1) & (a.capacity - 1))
    if (a.values[at] == value) {
      unsigned char &was = a.kinds[at];
      // A live block answered again (a material answering the block the
      // script stored in it) is still what its maker made, and belongs
      // where it did, unless the new answer declares its own kind; one
      // revived from gone is what its new answer makes it. A gone value
      // keeps its owner: nothing judges it by one again.
      if (kind == kAnswerGone || (was == kAnswerGone && revives) || was == kAnswerBlock) {
        const bool live = was == kAnswerBlock && kind == kAnswerBlock;
        const bool keep = live && made == nullptr;
        a.made[at] = kind == kAnswerGone ? nullptr : keep ? a.made[at] : made;
        if (kind != kAnswerGone && !keep) a.owners[at] = owner;
        if (!keep || size != kSizeUnknown) a.sizes[at] = size;
        was = kind;
      }
      return true;
    }
  a.values[at] = value;
  a.kinds[at] = kind;
  a.made[at] = kind == kAnswerBlock || kind == kAnswerHandle ? made : nullptr;
  a.owners[at] = owner;
  a.sizes[at] = size;
  ++a.count;
  return true;
}

namespace {

// What owner owns goes with it, and what that owns (a pool's sub-pool's
// elements). Only handles own (an owner is always a handle argument): a
// handle found owned is marked dying in place, then taken in its turn, so
// that neither the stack nor the table grows however deep the chain of
// sub-pools, and each value goes once, so a cycle of owners ends.
constexpr unsigned char kAnswerDying = 4;  // within ForgetOwned only

void ForgetOwned(Answers &a, uint64_t owner) {
  for (bool more = true; more;) {
    for (size_t k = 0; k < a.capacity; ++k) {
      const unsigned char was = a.kinds[k];
      if (was != kAnswerBlock && was != kAnswerHandle) continue;
      if (a.owners[k] != owner) continue;
      a.kinds[k] = was == kAnswerHandle ? kAnswerDying : static_cast<unsigned char>(kAnswerGone);
      a.made[k] = nullptr;
    }
    more = false;
    for (size_t k = 0; k < a.capacity && !more; ++k)
      if (a.kinds[k] == kAnswerDying) {
        a.kinds[k] = kAnswerGone;
        owner = a.values[k];
        more = true;
      }
  }
}

}  // namespace

void AnswerForget(State *s, uint64_t value) {
  if (value == 0) return;
  AnswerNote(s, value, kAnswerGone, true);
  ForgetOwned(s->answers, value);
}

void AnswersMove(State *s, uint64_t from, uint64_t to) {
  Answers &a = s->answers;
  if (from == 0 || to == 0 || from == to) return;
  for (size_t k = 0; k < a.capacity; ++k)
    if (a.kinds[k] == kAnswerBlock && a.owners[k] == from) a.owners[k] = to;
}

void AnswersClear(Answers *a) {
  if (a->capacity != 0) std::memset(a->kinds, kAnswerNone, a->capacity);
  a->count = 0;
}

void AnswersFree(Answers *a) {
  VoDeallocate(a->values);
  VoDeallocate(a->kinds);
  VoDeallocate(a->made);
  VoDeallocate(a->owners);
  VoDeallocate(a->sizes);
  *a = Answers{};
}

uint32_t OriginOf(const State *s, const Arena *call, const void *value, uint64_t *held, const char **made,
                  uint64_t *owner) {
  if (value == nullptr) return kFromNull;
  if (Holds(s, call, value, held)) return kFromScript;
  if (FileOpenedHere(value)) return kFromFile;
  switch (s != nullptr ? AnswerOf(s->answers, reinterpret_cast<uintptr_t>(value), made, owner, held)
                       : kAnswerNone) {
    case kAnswerHandle: return kFromHandle;
    case kAnswerBlock: return kFromLibrary;
    case kAnswerGone: return kFromGone;
    default: return kFromNowhere;
  }
}

namespace {

// An address no call answers (odd: every block and record is aligned).
constexpr uint64_t kUnwritten = 0xa5a5a5a5a5a5a5a5u;

// Where an element of type t at p keeps the address it may carry; null for
// a type that carries none.
unsigned char *AddressWord(const api::VtApiType *t, unsigned char *p) {
  if (t->kind == api::kKindPointer || t->kind == api::kKindHandle || t->kind == api::kKindData) return p;
  if (t->kind == api::kKindTyped) return p + offsetof(VtTypedValue, value);
  if (t->kind == api::kKindTagged) return p + offsetof(VtObjectValue, value);
  return nullptr;
}

// Calls f(word, element, type) for each element of fn's outputs that may
// carry an address, in parameter and element order; inout tells an output
// the call also reads.
template <typename F>
void OutputWords(const api::VtApiFunction *fn, const uint64_t *cells, const int64_t *counts, F f) {
  for (uint32_t i = 0; i < fn->param_count; ++i) {
    const api::VtApiParam &p = fn->params[i];
    const api::VtApiType *t = TypeByName(p.type_name);
    auto *at = reinterpret_cast<unsigned char *>(cells[i]);
    if ((p.flags & api::kParamOut) == 0 || t == nullptr || t->size == 0 || at == nullptr) continue;
    const uint64_t n = (p.flags & api::kParamArray) == 0 ? 1
                       : counts[i] < 0                   ? 0
                                                         : static_cast<uint64_t>(counts[i]);
    for (uint64_t e = 0; e < n; ++e)
      if (unsigned char *word = AddressWord(t, at + e * t->size); word != nullptr)
        f(word, i, at + e * t->size, t, (p.flags & api::kParamIn) != 0);
  }
}

}  // namespace

uint64_t *OutputsMark(const api::VtApiFunction *fn, const uint64_t *cells, const int64_t *counts) {
  uint64_t n = 0;
  OutputWords(fn, cells, counts,
              [&](unsigned char *, uint32_t, unsigned char *, const api::VtApiType *, bool) { ++n; });
  if (n == 0 || n > UINT32_MAX / sizeof(uint64_t)) return nullptr;
  auto *kept = static_cast<uint64_t *>(VoAllocate(static_cast<uint32_t>(n * sizeof(uint64_t))));
  if (kept == nullptr) return nullptr;
  uint64_t k = 0;
  OutputWords(fn, cells, counts,
              [&](unsigned char *word, uint32_t, unsigned char *, const api::VtApiType *, bool inout) {
                std::memcpy(&kept[k++], word, sizeof(uint64_t));
                if (!inout) std::memcpy(word, &kUnwritten, sizeof kUnwritten);
              });
  return kept;
}

void OutputsUnmark(const api::VtApiFunction *fn, const uint64_t *cells, const int64_t *counts,
                   uint64_t *kept) {
  if (kept == nullptr) return;
  uint64_t k = 0;
  OutputWords(fn, cells, counts,
              [&](unsigned char *word, uint32_t, unsigned char *, const api::VtApiType *, bool) {
                uint64_t now = 0;
                std::memcpy(&now, word, sizeof now);
                if (now == kUnwritten) std::memcpy(word, &kept[k], sizeof kept[k]);
                ++k;
              });
  VoDeallocate(kept);
}

void AfterCall(State *s, const api::VtApiFunction *fn, const uint64_t *cells, const int64_t *counts,
               const VtTypedValue &result, uint64_t *table, size_t table_size, uint64_t *kept) {
  const auto at = static_cast<uint32_t>(fn - api::kFunctions);
  for (size_t m = 0; s != nullptr && m < api::kMoveCount; ++m)
    if (api::kMoves[m].function == at && api::kMoves[m].from < fn->param_count &&
        api::kMoves[m].to < fn->param_count)
      AnswersMove(s, cells[api::kMoves[m].from], cells[api::kMoves[m].to]);
  ForgetGivenBack(s, fn, cells, table, table_size);
  if (s == nullptr) return OutputsUnmark(fn, cells, counts, kept);
  // A procedure that changes nothing makes no block: what it answers that
  // was given back is a kept copy of a dead address (an application
  // pointer stored in a material), not a new block at the same one.
  const bool revives = fn->during != api::kDuringRead;
  if (fn->result_kind == api::kKindHandle || fn->result_kind == api::kKindPointer ||
      fn->result_kind == api::kKindData)
    AnswerNote(
        s, result.value.bits, fn->result_kind == api::kKindHandle ? kAnswerHandle : kAnswerBlock, revives,
        fn->result_kind == api::kKindHandle ? fn->result_name : api::BlockKindMade(fn, api::kBlockResult),
        OwnerOf(fn, api::kBlockResult, cells), SizeOf(fn, api::kBlockResult, cells));
  // An output the call left as it was holds the script's own value, no
  // answer of the call's: one left marked gets its value back, one the call
  // also reads counts only when changed, and, unmarked (no memory for the
  // marks), none revives a value given back.
  uint64_t k = 0;
  OutputWords(
      fn, cells, counts,
      [&](unsigned char *word, uint32_t i, unsigned char *element, const api::VtApiType *t, bool inout) {
        uint64_t now = 0;
        std::memcpy(&now, word, sizeof now);
        const uint64_t was = kept != nullptr ? kept[k++] : now;
        if (kept != nullptr && ((!inout && now == kUnwritten) || (inout && now == was))) {
          std::memcpy(word, &was, sizeof was);
          return;
        }
        NoteOne(s, t, element, revives && kept != nullptr, api::BlockKindMade(fn, i), OwnerOf(fn, i, cells),
                (fn->params[i].flags & api::kParamArray) == 0 ? SizeOf(fn, i, cells) : kSizeUnknown);
      });
  VoDeallocate(kept);
}

void CallThrough(State *s, const api::VtApiFunction *fn, void *const *argv, VtTypedValue *result) {
  VtKernelContext *before = Kernel();
  // The bracket this input's own call holds is released, so that the call
  // itself is journalled, and taken again afterwards.
  const bool held = before != nullptr && before->files.in_call != 0;
  if (held) VoJournalCallEnd();
  *result = VtTypedValue{};
  fn->thunk(argv, result);
  if (held && Kernel() != nullptr) VoJournalCallBegin();
  if (before != nullptr && Kernel() == nullptr) ForgetAddresses(s);
}

void Say(const char *text) {
  if (text == nullptr || *text == 0) return;
  if (Kernel() == nullptr || VoDriverWriteMessage(nullptr, text) != 0) {
    std::fputs(text, stdout);
    std::fflush(stdout);
  }
}

}  // namespace vo::interp

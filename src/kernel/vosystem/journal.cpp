// The journal: its controls, header, line building, the journalled-call
// guard and the statements written for exported calls.

#include "kernel/vosystem/journal.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_object.h>

#include "platform/clock.h"
#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/registry.h"
#include "kernel/vosystem/value_types.h"

namespace vo {

struct JournalNames {
  std::unordered_map<const void *, std::string> names;
  uint32_t counter = 0;
  // The inputs of the open call's in-out parameters, as written, taken
  // before the call; inout_ok is false when one cannot be written.
  std::vector<std::string> inout;
  bool inout_ok = true;
  // The files journalled VoFileOpen calls opened (by the address answered),
  // and the paths of those a call written as a comment was given: a replay
  // leaves out what that call wrote there, so a later open that reads such a
  // file is written as a comment too, and with it, by the rule for
  // addresses the journal does not know, every call that uses what it reads.
  std::unordered_map<const void *, std::string> file_paths;
  std::unordered_set<std::string> incomplete;
  // The size each image (by its variable) was last written with: an
  // allocation of the same size writes no VoImageSetSize again, so that a
  // journalled replay writes the journal it replays.
  std::unordered_map<std::string, std::pair<int32_t, int32_t>> image_sizes;
};

namespace {

using api::VtApiFunction;
using api::VtApiParam;

constexpr size_t kLineLimit = 198;      // a physical line is cut before this many characters
constexpr size_t kFirstCapacity = 256;  // first size of the line

// The value of type T stored at p (which need not be aligned for T).
template <class T>
T Load(const void *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool On(const KernelFiles &f) { return (f.journal_flags & 1u) != 0 && f.journal_file != nullptr; }

// ---- Line building ---------------------------------------------------------

void WriteOut(const char *text) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || !On(k->files)) return;
  if (auto out = KernelCallback<VtStatus (*)(const char *)>(VO_CALLBACK_JOURNAL_OUTPUT)) out(text);
}

// Writes out the line so far and empties it.
void Flush(KernelFiles &f) {
  if (f.line == nullptr || f.line_fill == 0) return;
  f.line[f.line_fill] = 0;
  WriteOut(f.line);
  f.line_fill = 0;
  f.line_column = 0;
}

bool Reserve(KernelFiles &f, size_t n) {
  size_t need = f.line_fill + n + 1;
  if (need <= f.line_capacity) return true;
  size_t cap = f.line_capacity ? f.line_capacity : kFirstCapacity;
  while (cap < need) cap *= 2;
  if (cap > UINT32_MAX) return false;
  auto *p = static_cast<char *>(VoMemoryReallocate(f.line, static_cast<uint32_t>(cap)));
  if (p == nullptr) return false;
  f.line = p;
  f.line_capacity = cap;
  return true;
}

// Adds n characters to the line; without memory for them the line so far and
// then the text itself are written out directly, so nothing is lost.
void Put(KernelFiles &f, const char *text, size_t n) {
  if (n == 0) return;
  if (Reserve(f, n)) {
    std::memcpy(f.line + f.line_fill, text, n);
    f.line_fill += n;
    f.line[f.line_fill] = 0;
  } else {
    Flush(f);
    std::string copy(text, n);
    WriteOut(copy.c_str());
  }
  const size_t nl = std::string_view(text, n).rfind('\n');
  f.line_column = nl != std::string_view::npos ? n - nl - 1 : f.line_column + n;
}

void Continuation(KernelFiles &f) {
  Put(f, "\\\n", 2);
  Flush(f);
}

// Length of the text up to its first newline.
size_t FirstLineLength(const char *text) {
  const char *nl = std::strchr(text, '\n');
  return nl ? static_cast<size_t>(nl - text) : std::strlen(text);
}

void AppendText(KernelFiles &f, const char *text) {
  if (f.line_column > 0 && f.line_column + FirstLineLength(text) + 10 >= kLineLimit) Continuation(f);
  Put(f, text, std::strlen(text));
}

void WriteWordText(KernelFiles &f, const char *text) {
  size_t n = std::strlen(text);
  if (f.line_column > 0 && f.line_column + FirstLineLength(text) + 1 >= kLineLimit) Continuation(f);
  Put(f, text, n);
  Put(f, " ", 1);
}

void EndLineText(KernelFiles &f) {
  if (f.line_fill > 0 && f.line[f.line_fill - 1] == ' ') {
    --f.line_fill;
    --f.line_column;
  }
  Put(f, "\n", 1);
  Flush(f);
}

bool LineBuilding(VtKernelContext *k) { return k != nullptr && k->files.journal_flags != 0; }

// ---- Variable names ----------------------------------------------------------

std::string NewName(KernelFiles &f, char prefix) {
  uint32_t n = f.names ? ++f.names->counter : 0;
  return prefix + std::to_string(n);
}

void Remember(KernelFiles &f, const void *address, const std::string &name) {
  if (f.names != nullptr && address != nullptr) f.names->names[address] = name;
}

// ---- The header ----------------------------------------------------------------

void WriteHeader(VtKernelContext *k) {
  KernelFiles &f = k->files;
  if (f.names != nullptr) {
    f.names->names.clear();
    f.names->counter = 0;
    f.names->file_paths.clear();
    f.names->incomplete.clear();
    f.names->image_sizes.clear();
  }
  char when[96];
  platform::CalendarText(when, sizeof when);
  VtTypedValue banner{}, kind{};
  VoEntrySystem(VO_QUERY_BANNER, &banner);
  VoEntrySystem(VO_QUERY_BUILD_KIND, &kind);
  AppendText(f, "# Journal file generated: ");
  AppendText(f, when);
  AppendText(f, "# Zizizizo version: ");
  AppendText(f, banner.type == VtString && banner.value.s ? banner.value.s : "");
  AppendText(f, "\n");
  AppendText(f, "# VO_CODE = ");
  AppendText(f, kind.type == VtString && kind.value.s ? kind.value.s : "");
  AppendText(f, "\n");
  WriteWordText(f, "ADV");
  WriteWordText(f, "=");
  WriteWordText(f, "VoDataCreate");
  EndLineText(f);
  Remember(f, VoDataCreate(), "ADV");
}

// ---- Statements for calls ------------------------------------------------------

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%x", v);
  return b;
}

std::string Address(const void *p) {
  char b[32];
  std::snprintf(b, sizeof b, "%p", p);
  return b;
}

class Statement {
 public:
  Statement(KernelFiles &f, const VtApiFunction *fn, const void *const *argv, const void *result)
      : f_(f), fn_(fn), argv_(argv), result_(result) {}

  // The lines, each a list of tokens; the call is the last one.
  std::vector<std::vector<std::string>> Build();
  // The text of an in-out parameter's value before the call.
  std::string InOutInput(uint32_t index);
  bool Replayable() const { return replayable_ && declarations_.empty(); }

 private:
  std::string Real(double d, int digits);
  std::string Scalar(uint32_t type, const void *p);
  std::string Record(uint32_t type, const void *p);
  std::string Typed(const VtTypedValue &v, uint32_t param = UINT32_MAX, uint64_t element = 0);
  std::string Data(const void *p, uint32_t param, uint64_t element);
  std::string TaggedValue(const VtApiParam &p, const void *record);
  void TaggedProduced(const VtApiParam &p, const void *record, const std::string &name);
  size_t ElementSize(const VtApiParam &p);
  std::string Quote(const char *s);
  std::string NameOf(const void *p);
  std::string Array(const VtApiParam &p, const void *base);
  std::string Argument(const VtApiParam &p, const void *arg);
  bool Count(const VtApiParam &p, uint64_t *count);
  std::string Refuse(const std::string &shown) {
    replayable_ = false;
    return shown;
  }
  bool OpensIncompleteFile() const;
  void FilesFollow(bool written);
  void GivenBackForget();

  KernelFiles &f_;
  const VtApiFunction *fn_;
  const void *const *argv_;
  const void *result_;
  bool replayable_ = true;
  std::vector<std::vector<std::string>> declarations_;
  std::vector<std::pair<const void *, std::string>> produced_;  // filled only when replayable
  std::vector<size_t> output_tokens_;
};

std::string Statement::Real(double d, int digits) {
  if (std::isnan(d)) return Refuse("nan");
  if (std::isinf(d)) return d > 0 ? "1e999" : "-1e999";
  char b[40];
  std::snprintf(b, sizeof b, "%.*g", digits, d);
  return b;
}

std::string Statement::Scalar(uint32_t type, const void *p) {
  switch (type) {
    case VtInt32:
    case VtEnum: return std::to_string(Load<int32_t>(p));
    case VtNat32:
    case VtBoolean: {
      const auto v = Load<uint32_t>(p);
      return (type == VtNat32 && v >= 0x10000u) ? Hex(v) : std::to_string(v);
    }
    case VtFlags:
    case VtStatusType: return Hex(Load<uint32_t>(p));
    case VtNat8: return std::to_string(Load<uint8_t>(p));
    case VtFloat: return Real(Load<float>(p), 9);
    case VtDouble: return Real(Load<double>(p), 17);
    default: return Refuse("?");
  }
}

// Records of floats or doubles, written as bracket lists.
std::string Statement::Record(uint32_t type, const void *p) {
  const ValueTypeInfo *t = ValueTypeFind(type);
  if (t == nullptr || t->count == 0) return Refuse("<record " + Address(p) + ">");
  const size_t step = t->element == VtDouble ? sizeof(double) : sizeof(float);
  std::string s = "[";
  const auto *bytes = static_cast<const unsigned char *>(p);
  for (uint32_t i = 0; i < t->count; ++i) {
    if (i) s += ' ';
    s += Scalar(t->element, bytes + i * step);
  }
  return s + "]";
}

// Data behind a VtGenericPtr typed value that no call answered: declared and
// filled on the lines before the call, when the procedure's shape sizes it.
std::string Statement::Data(const void *p, uint32_t param, uint64_t element) {
  api::VtApiShape shape{};
  const ValueTypeInfo *t = nullptr;
  if (fn_->shape == nullptr || param == UINT32_MAX || !fn_->shape(argv_, param, element, &shape) ||
      (t = ValueTypeFind(shape.type)) == nullptr || t->holds_pointer || t->size == 0 || shape.count == 0)
    return Refuse(Address(p));
  std::string name = NewName(f_, 'd');
  std::string list = "[";
  const auto *bytes = static_cast<const unsigned char *>(p);
  for (uint64_t i = 0; i < shape.count; ++i) {
    if (i) list += ' ';
    list += t->count ? Record(shape.type, bytes + i * t->size) : Scalar(shape.type, bytes + i * t->size);
  }
  list += "]";
  declarations_.push_back({std::string(t->name) + "[" + std::to_string(shape.count) + "]", name});
  declarations_.push_back({name, "=", list});
  return "&" + name;
}

std::string Statement::Typed(const VtTypedValue &v, uint32_t param, uint64_t element) {
  if (v.type == VtVoid) return "{VtVoid}";
  // Where the procedure's shape sizes the value (an element property
  // setter's, a mesh's records), the library reads its word as the address
  // of the data whatever the type code: the data goes by its address, so
  // that the replay passes an address too.
  api::VtApiShape shape{};
  if (v.type != VtGenericPtr && v.value.p != nullptr && param != UINT32_MAX && fn_->shape != nullptr &&
      fn_->shape(argv_, param, element, &shape))
    return "{VtGenericPtr " + Data(v.value.p, param, element) + "}";
  const ValueTypeInfo *t = ValueTypeFind(v.type);
  if (t == nullptr) return Refuse("{" + std::to_string(v.type) + " ?}");
  std::string value;
  switch (v.type) {
    case VtInt32:
    case VtNat32:
    case VtFloat:
    case VtDouble:
    case VtEnum:
    case VtBoolean:
    case VtStatusType:
    case VtFlags:
    case VtNat8: value = Scalar(v.type, &v.value); break;
    case VtString: value = Quote(v.value.s); break;
    case VtFunc:
      if (v.value.fn == nullptr)
        value = "NULL";
      else if (const VtApiFunction *named =
                   api::FindFunctionByEntry(reinterpret_cast<const void *>(v.value.fn)))
        value = named->name;
      else
        value = Refuse("<procedure " + Address(reinterpret_cast<void *>(v.value.fn)) + ">");
      break;
    default:
      if (v.type == VtGenericPtr && v.value.p != nullptr && f_.names != nullptr &&
          f_.names->names.find(v.value.p) == f_.names->names.end())
        value = Data(v.value.p, param, element);
      else if (t->holds_pointer)
        value = NameOf(v.value.p);
      else
        value = Record(v.type, &v.value);  // carried in full from the value field
      break;
  }
  return "{" + std::string(t->name) + " " + value + "}";
}

// A value record (VtObjectValue) as {word value}, the value in the form its
// type word's case gives. A type without a case is written only when held by
// reference: then its value word is an object, named by its variable.
std::string Statement::TaggedValue(const VtApiParam &p, const void *record) {
  if (record == nullptr) return "NULL";
  VtObjectValue r;
  std::memcpy(&r, record, sizeof r);
  uint32_t word = r.type;
  const api::VtApiCase *c = api::FindCase(p.type_name, word & VO_OBJECT_TYPE_MASK);
  std::string value;
  if (c == nullptr) {
    if (r.by_reference == 0 && (word & VO_OBJECT_REFERENCE) == 0)
      return Refuse("{" + Hex(word) + " <value>}");
    word |= VO_OBJECT_REFERENCE;
    value = NameOf(r.value.p);
  } else if (c->carried == api::kCarriedArea) {
    const api::VtApiType *t = api::FindType(c->type_name);
    if (t == nullptr) return Refuse("{" + Hex(word) + " ?}");
    if (c->count > 1) value = "[";
    for (uint32_t i = 0; i < c->count; ++i)
      value += (i ? " " : "") + Scalar(t->code, r.value.bytes + i * t->size);
    if (c->count > 1) value += "]";
  } else if (c->carried == api::kCarriedAddress) {
    if (std::strcmp(c->type_name, "VtString") == 0)
      value = Quote(r.value.s);
    else
      value = r.value.p == nullptr ? "NULL" : Typed(*static_cast<const VtTypedValue *>(r.value.p));
  } else if (c->carried == api::kCarriedObject) {
    value = NameOf(r.value.p);
  }
  return "{" + Scalar(VtNat32, &word) + (value.empty() ? "" : " " + value) + "}";
}

// A value record a call wrote: an object, or a block handed out, is named
// by the variable the record is bound to.
void Statement::TaggedProduced(const VtApiParam &p, const void *record, const std::string &name) {
  VtObjectValue r;
  std::memcpy(&r, record, sizeof r);
  const api::VtApiCase *c = api::FindCase(p.type_name, r.type & VO_OBJECT_TYPE_MASK);
  if (r.value.p != nullptr &&
      (c == nullptr || c->carried == api::kCarriedObject || c->carried == api::kCarriedAddress))
    produced_.emplace_back(r.value.p, name);
}

std::string Statement::Quote(const char *s) {
  if (s == nullptr) return "NULL";
  std::string q = "\"";
  for (const char *c = s; *c; ++c) {
    switch (*c) {
      case '"': q += "\\\""; break;
      case '\\': q += "\\\\"; break;
      case '\n': q += "\\n"; break;
      case '\r': q += "\\r"; break;
      case '\t': q += "\\t"; break;
      default:
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) {
          char b[8];
          std::snprintf(b, sizeof b, "\\x%02x", static_cast<unsigned char>(*c));
          q += b;
        } else {
          q += *c;
        }
    }
  }
  return q + "\"";
}

std::string Statement::NameOf(const void *p) {
  if (p == nullptr) return "NULL";
  if (f_.names != nullptr) {
    auto it = f_.names->names.find(p);
    if (it != f_.names->names.end()) return it->second;
  }
  return Refuse(Address(p));
}

bool Statement::Count(const VtApiParam &p, uint64_t *count) {
  if (p.count > 0) {
    *count = static_cast<uint64_t>(p.count);
    return true;
  }
  if (p.count == 0) {
    // An open array: its procedure's shape may size it.
    api::VtApiShape shape{};
    const auto index = static_cast<uint32_t>(&p - fn_->params);
    if (fn_->shape == nullptr || !fn_->shape(argv_, index, 0, &shape)) return false;
    *count = shape.count;
    return true;
  }
  size_t k = static_cast<size_t>(-p.count - 1);
  if (k >= fn_->param_count) return false;
  const VtApiParam &c = fn_->params[k];
  if (c.kind != api::kKindScalar || (c.flags & (api::kParamOut | api::kParamArray))) return false;
  const void *a = argv_[k];
  int64_t n = -1;
  switch (c.type) {
    case VtInt32:
    case VtEnum: n = Load<int32_t>(a); break;
    case VtNat32:
    case VtFlags:
    case VtBoolean:
    case VtStatusType: n = Load<uint32_t>(a); break;
    case VtNat8: n = Load<uint8_t>(a); break;
    default: return false;
  }
  if (n < 0) return false;
  *count = static_cast<uint64_t>(n) * (p.scale ? p.scale : 1);
  return true;
}

size_t Statement::ElementSize(const VtApiParam &p) {
  switch (p.kind) {
    case api::kKindScalar:
    case api::kKindStruct: {
      const ValueTypeInfo *t = ValueTypeFind(p.type);
      return t ? t->size : 0;
    }
    case api::kKindTyped: return sizeof(VtTypedValue);
    case api::kKindString:
    case api::kKindHandle:
    case api::kKindPointer: return sizeof(void *);
    default: return 0;
  }
}

std::string Statement::Array(const VtApiParam &p, const void *base) {
  if (base == nullptr) return "NULL";
  uint64_t n = 0;
  const size_t size = ElementSize(p);
  if (!Count(p, &n) || size == 0) return Refuse("<array " + Address(base) + ">");
  std::string s = "[";
  const auto *bytes = static_cast<const unsigned char *>(base);
  for (uint64_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    const void *e = bytes + i * size;
    const void *ptr = size == sizeof(void *) ? Load<const void *>(e) : nullptr;
    switch (p.kind) {
      case api::kKindScalar: s += Scalar(p.type, e); break;
      case api::kKindStruct: s += Record(p.type, e); break;
      case api::kKindTyped:
        s += Typed(*static_cast<const VtTypedValue *>(e), static_cast<uint32_t>(&p - fn_->params), i);
        break;
      case api::kKindString: s += Quote(static_cast<const char *>(ptr)); break;
      default: s += NameOf(ptr); break;
    }
  }
  return s + "]";
}

std::string Statement::Argument(const VtApiParam &p, const void *arg) {
  // Every kind but a scalar input is passed as an address.
  const void *ptr = (p.kind != api::kKindScalar || (p.flags & (api::kParamOut | api::kParamArray)) != 0)
                        ? Load<const void *>(arg)
                        : nullptr;
  const bool out = (p.flags & api::kParamOut) != 0;
  const bool in = (p.flags & api::kParamIn) != 0;
  if (p.kind == api::kKindFunc) {
    if (ptr == nullptr) return "NULL";
    if (const VtApiFunction *named = api::FindFunctionByEntry(ptr)) return named->name;
    return Refuse("<procedure " + Address(ptr) + ">");
  }
  if (p.kind == api::kKindData) return ptr == nullptr ? "NULL" : Refuse("<data " + Address(ptr) + ">");
  if (out) {
    if (ptr == nullptr) return "NULL";
    const auto index = static_cast<size_t>(&p - fn_->params);
    std::string type = p.type_name;
    if (p.flags & api::kParamArray) {
      // An output array is a declared array variable of its count.
      uint64_t n = 0;
      if (!Count(p, &n) || n == 0 || ElementSize(p) == 0) return Refuse("<out array " + Address(ptr) + ">");
      type += "[" + std::to_string(n) + "]";
    }
    std::string name = NewName(f_, 'o');
    declarations_.push_back({type, name});
    if (in) {
      // An in-out parameter: a variable assigned its input first.
      if (f_.names == nullptr || !f_.names->inout_ok || index >= f_.names->inout.size() ||
          f_.names->inout[index].empty())
        return Refuse("<in-out " + Address(ptr) + ">");
      declarations_.push_back({name, "=", f_.names->inout[index]});
      return name;
    }
    if (!(p.flags & api::kParamArray) && (p.kind == api::kKindHandle || p.kind == api::kKindPointer)) {
      // The output is written by now: the call has returned.
      if (const void *made = Load<const void *>(ptr)) produced_.emplace_back(made, name);
    }
    if (!(p.flags & api::kParamArray) && p.kind == api::kKindTagged && result_ != nullptr &&
        !(fn_->result_type == VtStatusType && (Load<uint32_t>(result_) & VO_STATUS_UNAVAILABLE) != 0))
      TaggedProduced(p, ptr, name);  // a record the call filled
    return name;
  }
  if (p.flags & api::kParamArray) return Array(p, ptr);
  switch (p.kind) {
    case api::kKindScalar: return Scalar(p.type, arg);
    case api::kKindString: return Quote(static_cast<const char *>(ptr));
    case api::kKindPointer:
    case api::kKindHandle: return NameOf(ptr);
    case api::kKindStruct: return ptr == nullptr ? "NULL" : Record(p.type, ptr);
    case api::kKindTagged: return TaggedValue(p, ptr);
    case api::kKindTyped:
      return ptr == nullptr
                 ? "NULL"
                 : Typed(*static_cast<const VtTypedValue *>(ptr), static_cast<uint32_t>(&p - fn_->params));
    default: return Refuse("?");
  }
}

std::string Statement::InOutInput(uint32_t index) {
  const VtApiParam &p = fn_->params[index];
  const void *ptr = Load<const void *>(argv_[index]);
  if (ptr == nullptr) return "NULL";
  if (p.flags & api::kParamArray) return Array(p, ptr);
  switch (p.kind) {
    case api::kKindScalar: return Scalar(p.type, ptr);
    case api::kKindStruct: return Record(p.type, ptr);
    case api::kKindTagged: return TaggedValue(p, ptr);
    case api::kKindTyped: return Typed(*static_cast<const VtTypedValue *>(ptr), index);
    case api::kKindString: return Quote(Load<const char *>(ptr));
    case api::kKindHandle:
    case api::kKindPointer: return NameOf(Load<const void *>(ptr));
    default: return Refuse("?");
  }
}

// Accesses of VoFileOpen's flags (the low four bits): read, write, append;
// with the update flag an append reads too.
constexpr uint32_t kFileRead = 1, kFileWrite = 2, kFileAppend = 3, kFileUpdate = 32;

bool IsFileOpen(const VtApiFunction *fn) { return std::strcmp(fn->name, "VoFileOpen") == 0; }

// A VoFileOpen that reads a file a call written as a comment was given.
bool Statement::OpensIncompleteFile() const {
  if (f_.names == nullptr || !IsFileOpen(fn_) || f_.names->incomplete.empty()) return false;
  const char *path = Load<const char *>(argv_[0]);
  const uint32_t flags = Load<uint32_t>(argv_[1]);
  const uint32_t access = flags & 0xFu;
  const bool reads = access == kFileRead || (access == kFileAppend && (flags & kFileUpdate) != 0);
  return path != nullptr && reads && f_.names->incomplete.count(path) != 0;
}

// Keeps the journal's files up to date with a call written as a statement,
// or (written false) as a comment: every file the comment was given by its
// address is incomplete in a replay.
void Statement::FilesFollow(bool written) {
  if (f_.names == nullptr) return;
  auto &paths = f_.names->file_paths;
  if (!written) {
    for (uint32_t i = 0; i < fn_->param_count; ++i) {
      const VtApiParam &p = fn_->params[i];
      if ((p.kind != api::kKindPointer && p.kind != api::kKindHandle) ||
          (p.flags & (api::kParamOut | api::kParamArray)) != 0)
        continue;
      auto it = paths.find(Load<const void *>(argv_[i]));
      if (it != paths.end()) f_.names->incomplete.insert(it->second);
    }
    return;
  }
  if (IsFileOpen(fn_) && result_ != nullptr && Load<const void *>(result_) != nullptr) {
    const char *path = Load<const char *>(argv_[0]);
    if (path == nullptr) return;
    paths[Load<const void *>(result_)] = path;
    if ((Load<uint32_t>(argv_[1]) & 0xFu) == kFileWrite) f_.names->incomplete.erase(path);  // emptied
  } else if (std::strcmp(fn_->name, "VoFileClose") == 0) {
    paths.erase(Load<const void *>(argv_[0]));
  }
}

// What the call gives back (its "givesback" parameters in the interface
// description) is no longer named by the variable that held it: data or an
// object that later takes the address is written as what it is. A call
// refused (0x20000012) gave nothing back.
void Statement::GivenBackForget() {
  if (f_.names == nullptr) return;
  if (fn_->result_type == VtStatusType && result_ != nullptr &&
      Load<VtStatus>(result_) == VO_STATUS_BAD_ARGUMENT)
    return;
  const auto at = static_cast<uint32_t>(fn_ - api::kFunctions);
  for (size_t g = 0; g < api::kGivenBackCount; ++g) {
    const api::VtApiGivenBack &given = api::kGivenBack[g];
    if (given.function != at || given.param >= fn_->param_count) continue;
    const void *address = Load<const void *>(argv_[given.param]);
    if (address != nullptr) f_.names->names.erase(address);
  }
}

std::vector<std::vector<std::string>> Statement::Build() {
  const uint32_t first_name = f_.names ? f_.names->counter : 0;
  std::vector<std::string> call;
  std::string result_name;
  const bool names_result = fn_->result_kind == api::kKindHandle || fn_->result_kind == api::kKindPointer;
  if (fn_->result_kind != api::kKindVoid && result_ == nullptr) replayable_ = false;  // the call failed
  if (names_result && result_ != nullptr) {
    result_name = NewName(f_, fn_->result_kind == api::kKindHandle ? 'h' : 'p');
    call.push_back(result_name);
    call.push_back("=");
  }
  call.push_back(fn_->name);
  for (uint32_t i = 0; i < fn_->param_count; ++i) {
    const VtApiParam &p = fn_->params[i];
    if ((p.flags & api::kParamOut) && !(p.flags & api::kParamIn)) output_tokens_.push_back(call.size());
    call.push_back(Argument(p, argv_[i]));
  }
  if (OpensIncompleteFile()) replayable_ = false;
  FilesFollow(replayable_);
  GivenBackForget();
  std::vector<std::vector<std::string>> lines;
  if (!replayable_) {
    // Nothing of a comment is kept: no result, no outputs, no names used.
    // What it answered is unknown from now on, even where an earlier call
    // answered the same address (a file opened again at the place of one
    // closed): later calls that use it are comments too.
    if (f_.names) {
      f_.names->counter = first_name;
      if (names_result && result_ != nullptr) f_.names->names.erase(Load<const void *>(result_));
      for (const auto &[address, name] : produced_) f_.names->names.erase(address);
    }
    std::vector<std::string> comment{"#"};
    size_t skip = result_name.empty() ? 0 : 2;
    for (size_t i = skip; i < call.size(); ++i) {
      bool is_output = false;
      for (size_t o : output_tokens_) is_output = is_output || o == i;
      comment.push_back(is_output && call[i] != "NULL" ? "<out>" : call[i]);
    }
    lines.push_back(std::move(comment));
    return lines;
  }
  if (!result_name.empty()) Remember(f_, Load<const void *>(result_), result_name);
  for (const auto &[address, name] : produced_) Remember(f_, address, name);
  lines = std::move(declarations_);
  lines.push_back(std::move(call));
  return lines;
}

void WriteTokens(KernelFiles &f, const std::vector<std::string> &tokens) {
  for (const std::string &t : tokens) WriteWordText(f, t.c_str());
  EndLineText(f);
}

// The journal goes on in another file. When this journal named that file
// (a VoFileOpen it wrote), a comment says which variable holds it: a replay
// reads the comment before it runs the VoFileOpen line, and does not open
// the file, which would empty the journal that follows this one.
void JournalMoved(KernelFiles &f, const void *file) {
  if (f.names == nullptr || file == nullptr) return;
  auto it = f.names->names.find(file);
  if (it == f.names->names.end()) return;
  try {
    WriteTokens(
        f, {"#", "VoJournalControlSet", Hex(VO_CONTROL_JOURNAL_FILE), "{VtGenericPtr " + it->second + "}"});
  } catch (...) {
    // Out of memory for the comment: the journal moves without it.
  }
}

// The size of an image is what the application wrote into its record
// before VoImageAllocateData, which no argument carries: the journal writes
// it as a VoImageSetSize call before the allocation, so that a replay
// allocates the same. Only an allocation that answered 0 is read, when the
// image was a live one; an image the journal has no variable for is left as
// the allocation's own line leaves it (a comment).
void ImageSizeWrite(KernelFiles &f, const VtApiFunction *fn, const void *const *argv, const void *result);

void WriteCall(VtKernelContext *k, const VtApiFunction *fn, const void *const *argv, const void *result) {
  KernelFiles &f = k->files;
  ImageSizeWrite(f, fn, argv, result);
  Statement st(f, fn, argv, result);
  auto lines = st.Build();
  if (f.line_fill > 0) EndLineText(f);  // text an application left in the line
  for (const auto &line : lines) WriteTokens(f, line);
}

void ImageSizeWrite(KernelFiles &f, const VtApiFunction *fn, const void *const *argv, const void *result) {
  static const VtApiFunction *const set_size = api::FindFunction("VoImageSetSize");
  const bool allocates = std::strcmp(fn->name, "VoImageAllocateData") == 0;
  if (f.names == nullptr || set_size == nullptr || (!allocates && fn != set_size)) return;
  if (result == nullptr || Load<VtStatus>(result) != 0) return;
  const auto *image = Load<const VtImage *>(argv[0]);
  const auto named = f.names->names.find(image);
  if (image == nullptr || named == f.names->names.end()) return;
  const std::pair<int32_t, int32_t> size{image->width, image->height};
  auto [kept, made] = f.names->image_sizes.try_emplace(named->second, size);
  if (!made && kept->second == size) return;
  kept->second = size;
  if (!allocates) return;  // the call itself is the line
  const VtStatus answered = 0;
  const void *const args[3] = {&image, &size.first, &size.second};
  Statement st(f, set_size, args, &answered);
  if (f.line_fill > 0) EndLineText(f);
  for (const auto &line : st.Build()) WriteTokens(f, line);
}

// ---- The boundary's hooks -------------------------------------------------------

// VoDataCreate is not written: the header's ADV names its answer, so a
// replay that is journalled writes the same journal.
bool NotWritten(const VtApiFunction *fn) {
  return std::strncmp(fn->name, "VoJournal", 9) == 0 || std::strcmp(fn->name, "VoDataCreate") == 0;
}

bool HookBegin(const VtApiFunction *fn, const void *const *argv) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || fn == nullptr) return false;
  KernelFiles &f = k->files;
  if (!On(f) || f.in_call || NotWritten(fn)) return false;
  f.in_call = 1;
  f.open_call = fn;
  if (f.names != nullptr) {
    // The inputs of in-out parameters, before the call changes them.
    f.names->inout.clear();
    f.names->inout_ok = true;
    try {
      for (uint32_t i = 0; i < fn->param_count; ++i) {
        const VtApiParam &p = fn->params[i];
        if ((p.flags & (api::kParamIn | api::kParamOut)) != (api::kParamIn | api::kParamOut)) continue;
        f.names->inout.resize(fn->param_count);
        const uint32_t counter = f.names->counter;
        Statement st(f, fn, argv, nullptr);
        f.names->inout[i] = st.InOutInput(i);
        f.names->counter = counter;
        f.names->inout_ok = f.names->inout_ok && st.Replayable();
      }
    } catch (...) {
      f.names->inout_ok = false;
    }
  }
  return true;
}

void HookEnd(const VtApiFunction *fn, const void *const *argv, const void *result) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return;  // the call stopped the kernel
  KernelFiles &f = k->files;
  if (f.open_call == fn && On(f)) {
    try {
      WriteCall(k, fn, argv, result);
    } catch (...) {
      // Out of memory while naming: the call goes unjournalled.
    }
  }
  f.in_call = 0;
  f.open_call = nullptr;
}

const api::JournalHooks kHooks = {&HookBegin, &HookEnd};

void HooksUpdate(const KernelFiles &f) { api::g_journal_hooks.store(On(f) ? &kHooks : nullptr); }

}  // namespace

// ---- Start and stop ------------------------------------------------------------

VtStatus JournalOutputDefault(const char *text) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->files.journal_file == nullptr || text == nullptr) return 0;
  bool ok = std::fputs(text, k->files.journal_file) >= 0;
  ok = std::fflush(k->files.journal_file) == 0 && ok;
  return ok ? 0 : VO_STATUS_UNAVAILABLE;
}

void JournalCallbacksDefault(VtKernelContext *k) {
  KernelSlotSet(k, VO_CALLBACK_JOURNAL_OUTPUT, &JournalOutputDefault);
}

VtStatus JournalStart(VtKernelContext *k) {
  KernelFiles &f = k->files;
  if (f.line == nullptr) {
    f.line = static_cast<char *>(VoAllocate(kFirstCapacity));
    if (f.line == nullptr) return VO_COND_NO_MEMORY;
    f.line_capacity = kFirstCapacity;
    f.line_fill = 0;
    f.line_column = 0;
    f.line[0] = 0;
  }
  if (f.names == nullptr) {
    f.names = new (std::nothrow) JournalNames;
    if (f.names == nullptr) return VO_COND_NO_MEMORY;
  }
  HooksUpdate(f);
  return 0;
}

void JournalStop(VtKernelContext *k) {
  KernelFiles &f = k->files;
  api::g_journal_hooks.store(nullptr);
  try {
    if (On(f)) {
      const auto *open = static_cast<const VtApiFunction *>(f.open_call);
      if (f.in_call && open != nullptr && open->param_count == 0) {
        if (f.line_fill > 0) EndLineText(f);
        WriteTokens(f, {open->name});
      } else if (f.line_fill > 0) {
        EndLineText(f);
      }
    }
  } catch (...) {
  }
  f.open_call = nullptr;
  f.in_call = 0;
  VoDeallocate(f.line);
  f.line = nullptr;
  f.line_capacity = f.line_fill = f.line_column = 0;
  delete f.names;
  f.names = nullptr;
  VoDeallocate(f.journal_name);
  f.journal_name = nullptr;
}

std::vector<std::string> JournalCallLines(const api::VtApiFunction *fn, const void *const *argv,
                                          const void *result) {
  std::vector<std::string> out;
  VtKernelContext *k = Kernel();
  if (k == nullptr || fn == nullptr) return out;
  Statement st(k->files, fn, argv, result);
  for (const auto &line : st.Build()) {
    std::string s;
    for (const std::string &t : line) s += (s.empty() ? "" : " ") + t;
    out.push_back(std::move(s));
  }
  return out;
}

// ---- Controls ---------------------------------------------------------------

VtStatus JournalControlGet(uint32_t code, VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  switch (code) {
    case VO_CONTROL_JOURNAL_FILE: *v = TypedPointer(k->files.journal_file); return 0;
    case VO_CONTROL_JOURNAL_FLAGS:
      *v = TypedNat32(k->files.journal_flags);
      v->type = VtFlags;
      return 0;
    case VO_CONTROL_JOURNAL_NAME:
      *v = TypedString(k->files.journal_name ? k->files.journal_name : "");
      return 0;
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

VtStatus VoJournalControlSet(uint32_t code, const VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || v == nullptr) return VO_STATUS_BAD_ARGUMENT;
  uint32_t type = code == VO_CONTROL_JOURNAL_FILE    ? VtGenericPtr
                  : code == VO_CONTROL_JOURNAL_FLAGS ? VtFlags
                  : code == VO_CONTROL_JOURNAL_NAME  ? VtString
                                                     : 0;
  if (type == 0) return 16;
  if (v->type != type) return ControlTypeRefuse(v->type, code, type);
  KernelFiles &f = k->files;
  if (code == VO_CONTROL_JOURNAL_NAME) {
    char *copy = TextCopy(v->value.s ? v->value.s : "");
    if (copy == nullptr) return VO_STATUS_NO_MEMORY;
    VoDeallocate(f.journal_name);
    f.journal_name = copy;
    return 0;
  }
  // Text left in the line belongs to the journal as it was.
  if (f.line_fill > 0) EndLineText(f);
  const bool was_on = On(f);
  std::FILE *old_file = f.journal_file;
  if (code == VO_CONTROL_JOURNAL_FILE && !FileHoldSet(0, code, v->value.p)) return VO_STATUS_NO_MEMORY;
  if (code == VO_CONTROL_JOURNAL_FILE && was_on && v->value.p != old_file) JournalMoved(f, v->value.p);
  if (code == VO_CONTROL_JOURNAL_FILE)
    f.journal_file = static_cast<std::FILE *>(v->value.p);
  else
    f.journal_flags = v->value.u;
  if (On(f) && (!was_on || f.journal_file != old_file)) WriteHeader(k);
  HooksUpdate(f);
  return 0;
}

// ---- Line building and the guard ------------------------------------------------

void VoJournalAppend(const char *text) {
  VtKernelContext *k = Kernel();
  if (!LineBuilding(k) || text == nullptr) return;
  AppendText(k->files, text);
}

void VoJournalWriteWord(const char *text) {
  VtKernelContext *k = Kernel();
  if (!LineBuilding(k) || text == nullptr) return;
  WriteWordText(k->files, text);
}

void VoJournalEndLine() {
  VtKernelContext *k = Kernel();
  if (!LineBuilding(k)) return;
  EndLineText(k->files);
}

uint32_t VoJournalCallBegin() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 1;
  KernelFiles &f = k->files;
  if ((f.journal_flags & 1u) == 0 || f.in_call) return 0;
  f.in_call = 1;
  return 1;
}

void VoJournalCallEnd() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return;
  k->files.in_call = 0;
  k->files.open_call = nullptr;  // a released call is not written; its inner calls are
}

}  // namespace vo

// Binary command files: calls named by code, arguments already in binary,
// results kept in numbered variables.

#include <cstring>

#include "io/interpreter/interpreter.h"
#include "kernel/vosystem/face.h"

namespace vo::interp {

namespace {

using api::VtApiFunction;
using api::VtApiParam;
using api::VtApiType;

constexpr uint32_t kOrder = 0x01020304u;
constexpr uint32_t kOtherOrder = 0x04030201u;
constexpr uint32_t kDefaultVariables = 50;
constexpr uint32_t kMostVariables = 1u << 20;  // variable numbers above are refused
constexpr uint32_t kMostRecord = 1u << 28;     // argument bytes of one record

// Reasons of message 2821.
constexpr const char *kTruncated = "truncated";
constexpr const char *kLength = "argument length past the file";
constexpr const char *kCount = "count past the record";
constexpr const char *kString = "text without its terminating zero";
constexpr const char *kProcedure = "not a procedure code";
constexpr const char *kLeftOver = "argument bytes left over";
constexpr const char *kType = "a type that cannot be read";
constexpr const char *kHeader = "not a binary command file";

struct Reader {
  const unsigned char *p;
  size_t size, at;
  bool swap;

  size_t Left() const { return size - at; }
  bool Bytes(size_t n, const unsigned char **out) {
    if (n > Left()) return false;
    *out = p + at;
    at += n;
    return true;
  }
  // One value of n bytes (1, 2, 4 or 8), its byte order made the reader's.
  bool Value(size_t n, void *out) {
    const unsigned char *b;
    if (!Bytes(n, &b)) return false;
    auto *o = static_cast<unsigned char *>(out);
    for (size_t i = 0; i < n; ++i) o[i] = swap ? b[n - 1 - i] : b[i];
    return true;
  }
  bool Word(uint32_t *w) { return Value(4, w); }
};

struct Table {
  uint64_t *values = nullptr;
  size_t size = 0;
  ~Table() { VoDeallocate(values); }
  // Makes room for variable number n (when n is past the end: to n + 20).
  bool Reach(uint64_t n, bool exact = false) {
    if (n < size) return true;
    const size_t grown = static_cast<size_t>(n) + (exact ? 1 : 20);
    auto *v = static_cast<uint64_t *>(VoAllocate(static_cast<uint32_t>(grown * sizeof(uint64_t))));
    if (v == nullptr) return false;
    std::memset(v, 0, grown * sizeof(uint64_t));
    if (size) std::memcpy(v, values, size * sizeof(uint64_t));
    VoDeallocate(values);
    values = v;
    size = grown;
    return true;
  }
};

struct Run {
  State *s = nullptr;
  const char *name = nullptr;
  Table table;
  uint32_t code = 0;
  bool failed = false;  // reading stops

  void Refuse(const char *reason) {
    Report(s, kStatementError, kMsgBinaryRecord, code, reason);
    failed = true;
  }
  // Memory ran out: as in a text script, the memory status, and reading
  // stops (the record is not at fault).
  void OutOfMemory() {
    Report(s, kNoMemory, kMsgTableCannotGrow);
    failed = true;
  }
  // A variable number within the table (grown as needed); false when refused.
  bool Variable(uint32_t n) {
    if (n > kMostVariables) {
      Report(s, kStatementError, kMsgBinaryVariable, n, kMostVariables);
      failed = true;
      return false;
    }
    if (!table.Reach(n)) {
      Report(s, VO_CLASS_ERROR, kMsgTableCannotGrow);
      s->status |= kNoMemory;
      failed = true;
      return false;
    }
    return true;
  }
};

bool IsColourLike(uint32_t code) {
  return code == VtColourType || code == VtVector || code == VtPoint || code == VtHPoint;
}

// One value of a record type: its elements one by one.
bool ReadRecord(Reader &r, const VtApiType *t, unsigned char *out) {
  uint32_t element = 0, count = 0;
  if (!RecordLayout(t, &element, &count)) return false;
  const size_t step = element == VtDouble ? 8 : 4;
  for (uint32_t i = 0; i < count; ++i)
    if (!r.Value(step, out + i * step)) return false;
  return true;
}

// A value of type t (not an array, not an output) into out, which holds
// t->size bytes (8 at least for addresses).
bool ReadValue(Run &run, Reader &r, const VtApiType *t, unsigned char *out, Arena &arena, bool in_array);

bool ReadText(Run &run, Reader &r, unsigned char *out) {
  uint32_t n = 0;
  const unsigned char *b;
  if (!r.Word(&n)) return run.Refuse(kTruncated), false;
  if (n == 0 || n > r.Left()) return run.Refuse(kCount), false;
  r.Bytes(n, &b);
  if (b[n - 1] != 0) return run.Refuse(kString), false;
  const char *text = reinterpret_cast<const char *>(b);
  std::memcpy(out, &text, sizeof text);
  return true;
}

bool ReadValue(Run &run, Reader &r, const VtApiType *t, unsigned char *out, Arena &arena, bool in_array) {
  switch (t->kind) {
    case api::kKindString: return ReadText(run, r, out);
    case api::kKindPointer:
    case api::kKindHandle: {
      uint32_t n = 0;
      if (!r.Word(&n)) return run.Refuse(kTruncated), false;
      if (n >= run.table.size) {  // no call has stored into it: the most is the table's last
        Report(run.s, kStatementError, kMsgBinaryVariable, n, static_cast<uint32_t>(run.table.size - 1));
        run.failed = true;
        return false;
      }
      std::memcpy(out, &run.table.values[n], sizeof(void *));
      return true;
    }
    case api::kKindData: {
      uint32_t n = 0, word = 0;
      const unsigned char *b;
      if (!r.Word(&n) || !r.Word(&word)) return run.Refuse(kTruncated), false;
      if (n > r.Left()) return run.Refuse(kCount), false;
      r.Bytes(n, &b);
      void *copy = arena.Take(n);
      if (copy == nullptr) return run.OutOfMemory(), false;
      std::memcpy(copy, b, n);
      std::memcpy(out, &copy, sizeof copy);
      return true;
    }
    case api::kKindFunc: {
      uint32_t code = 0;
      if (!r.Word(&code)) return run.Refuse(kTruncated), false;
      const VtApiFunction *fn = code ? api::FindFunctionByCode(code) : nullptr;
      if (code != 0 && fn == nullptr) return run.Refuse(kProcedure), false;
      const VtProc entry = fn ? fn->entry : nullptr;
      std::memcpy(out, &entry, sizeof entry);
      return true;
    }
    case api::kKindStruct: {
      uint32_t skip = 0;
      if (!in_array && IsColourLike(t->code) && !r.Word(&skip)) return run.Refuse(kTruncated), false;
      uint32_t element = 0, count = 0;
      if (!RecordLayout(t, &element, &count)) return run.Refuse(kType), false;
      if (!ReadRecord(r, t, out)) return run.Refuse(kTruncated), false;
      return true;
    }
    case api::kKindTyped: {
      VtTypedValue v{};
      if (!r.Word(&v.type)) return run.Refuse(kTruncated), false;
      if (v.type != VtVoid) {
        const VtApiType *vt = TypeByCode(v.type);
        if (vt == nullptr || vt->kind == api::kKindTyped || vt->size > sizeof v.value)
          return run.Refuse(kType), false;
        if (!ReadValue(run, r, vt, reinterpret_cast<unsigned char *>(&v.value), arena, false)) return false;
      }
      std::memcpy(out, &v, sizeof v);
      return true;
    }
    case api::kKindScalar:
      if (t->size != 1 && t->size != 4 && t->size != 8) return run.Refuse(kType), false;
      if (!r.Value(t->size, out)) return run.Refuse(kTruncated), false;
      return true;
    default: return run.Refuse(kType), false;
  }
}

// Counts as the diagnostics give them: at most 2^32 - 1.
uint32_t Shown(uint64_t n) { return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n); }

// Refuses argument i of the record, as a text script's argument is refused:
// 282 naming the procedure and the parameter, then why.
bool ArgumentRefuse(Run &run, const VtApiFunction *fn, uint32_t i) {
  Report(run.s, kStatementError, kMsgArgument, fn->name, static_cast<int32_t>(i + 1), fn->params[i].name);
  run.failed = true;
  return false;
}

bool Short(Run &run, const VtApiFunction *fn, uint32_t i, uint64_t held, const Need &need) {
  ArgumentRefuse(run, fn, i);
  Report(run.s, kStatementError, kMsgArgumentShort, static_cast<int32_t>(i + 1), fn->params[i].name,
         Shown(held / need.unit_size), need.unit, Shown(need.count));
  return false;
}

// The data behind the typed values of parameter i that the procedure's
// shape sizes must lie in the record's own bytes (a VtData value's copy):
// a variable holds an address a call answered, whose length nobody knows.
bool TypedDataCheck(Run &run, const VtApiFunction *fn, uint32_t i, const uint64_t *cells,
                    const int64_t *counts, const Arena &arena) {
  const bool array = (fn->params[i].flags & api::kParamArray) != 0;
  const auto *values = reinterpret_cast<const VtTypedValue *>(cells[i]);
  const uint64_t n = array ? static_cast<uint64_t>(counts[i] < 0 ? 0 : counts[i]) : 1;
  for (uint64_t k = 0; values != nullptr && k < n; ++k) {
    Need need{};
    if (!DataNeed(fn, i, k, cells, &need) || need.count == 0) continue;
    uint64_t held = 0;
    if (!ValueTypeHoldsPointer(values[k].type) || !Holds(nullptr, &arena, values[k].value.p, &held)) {
      ArgumentRefuse(run, fn, i);
      Report(run.s, kStatementError, kMsgDataNotOwned, static_cast<int32_t>(i + 1), fn->params[i].name,
             Shown(need.count), need.unit);
      return false;
    }
    if (held / need.unit_size < need.count) return Short(run, fn, i, held, need);
  }
  return true;
}

// A pointer parameter's argument (each element of a pointer array) must be
// what the parameter's rule allows; what a value is comes from the record
// of answers, whichever variable holds it. The bytes of a VtData argument
// are the record's own. False (the refusal posted) otherwise.
bool PointerCheck(Run &run, const VtApiFunction *fn, uint32_t i, const uint64_t *cells, const int64_t *counts,
                  const Arena &arena) {
  if (!RuledPointer(fn, i)) return true;
  const bool array = (fn->params[i].flags & api::kParamArray) != 0;
  const auto *values = array ? reinterpret_cast<const unsigned char *>(cells[i])
                             : reinterpret_cast<const unsigned char *>(&cells[i]);
  const uint64_t n = !array ? 1 : counts[i] < 0 ? 0 : static_cast<uint64_t>(counts[i]);
  for (uint64_t k = 0; values != nullptr && k < n; ++k) {
    const void *value = nullptr;
    std::memcpy(&value, values + k * sizeof value, sizeof value);
    uint64_t held = 0;
    const char *made = nullptr;
    uint64_t owner = 0;
    const uint32_t origin = OriginOf(run.s, &arena, value, &held, &made, &owner);
    PointerVerdict v;
    if (PointerAllowed(fn, i, value, origin, held, made, owner, cells, &v)) continue;
    if (v.short_of) return Short(run, fn, i, v.held, v.need);
    if (!v.takes.ok) return run.OutOfMemory(), false;
    ArgumentRefuse(run, fn, i);
    Report(run.s, kStatementError, kMsgPointerRefused, static_cast<int32_t>(i + 1), fn->params[i].name, v.is,
           v.takes.c_str());
    return false;
  }
  return true;
}

// Parameter i once every argument is read: an output gets a scratch block
// of what the call writes; an array must hold what the call reads or writes
// of it. False (the refusal posted) when reading must stop.
bool ArgumentSize(Run &run, const VtApiFunction *fn, uint32_t i, uint64_t *cells, const uint32_t *outs,
                  int64_t *counts, Arena &arena) {
  const VtApiParam &p = fn->params[i];
  const VtApiType *t = TypeByName(p.type_name);
  const bool array = (p.flags & api::kParamArray) != 0;
  Need need{1, t->name, t->size};
  const bool sized = !array || ArrayNeed(fn, i, cells, &need);
  if (p.flags & api::kParamOut) {
    if (outs[i] == 0) return true;
    if (!sized || need.unit_size == 0 || need.count > (UINT32_MAX - 64) / need.unit_size)
      return run.Refuse(kCount), false;
    const uint64_t bytes = need.count * need.unit_size;
    auto *block = static_cast<unsigned char *>(arena.Take((bytes ? bytes : t->size) + 8));
    if (block == nullptr) return run.OutOfMemory(), false;
    if (p.flags & api::kParamIn) std::memcpy(block, &run.table.values[outs[i]], t->size < 8 ? t->size : 8);
    cells[i] = reinterpret_cast<uintptr_t>(block);
    counts[i] = static_cast<int64_t>((bytes + t->size - 1) / t->size);
    return true;
  }
  if (array && cells[i] != 0 && sized) {
    const uint64_t held = static_cast<uint64_t>(counts[i] < 0 ? 0 : counts[i]) * t->size;
    if (held / need.unit_size < need.count) return Short(run, fn, i, held, need);
  }
  if (!PointerCheck(run, fn, i, cells, counts, arena)) return false;
  uint32_t code = 0;
  if (p.kind == api::kKindTyped && StreamCodeRefused(fn, i, cells, &code)) {
    ArgumentRefuse(run, fn, i);
    Report(run.s, kStatementError, kMsgStreamRefused, static_cast<int32_t>(i + 1), p.name, code);
    return false;
  }
  if (p.kind == api::kKindTyped) return TypedDataCheck(run, fn, i, cells, counts, arena);
  return true;
}

// Runs one record's call; false when reading must stop.
bool RunRecord(Run &run, const VtApiFunction *fn, uint32_t result_variable, Reader &r) {
  Arena arena;
  const uint32_t pc = fn->param_count;
  auto *cells = static_cast<uint64_t *>(arena.Take(8 * (pc + 1)));
  auto *argv = static_cast<void **>(arena.Take(sizeof(void *) * (pc + 1)));
  auto *outs = static_cast<uint32_t *>(arena.Take(4 * (pc + 1)));
  auto *counts = static_cast<int64_t *>(arena.Take(8 * (pc + 1)));
  if (!cells || !argv || !outs || !counts) return run.OutOfMemory(), false;
  for (uint32_t i = 0; i < pc; ++i) {
    const VtApiParam &p = fn->params[i];
    const VtApiType *t = TypeByName(p.type_name);
    argv[i] = &cells[i];
    counts[i] = -1;
    if (t == nullptr || t->size == 0) return run.Refuse(kType), false;
    if (p.flags & api::kParamOut) {
      uint32_t n = 0;
      if (!r.Word(&n)) return run.Refuse(kTruncated), false;
      if (n != 0 && !run.Variable(n)) return false;
      outs[i] = n;
      continue;
    }
    if (p.flags & api::kParamArray) {
      uint32_t n = 0;
      if (!r.Word(&n)) return run.Refuse(kTruncated), false;
      if (n > r.Left()) return run.Refuse(kCount), false;  // every element takes a byte at least
      if (static_cast<uint64_t>(n) * t->size > UINT32_MAX - 64) return run.Refuse(kCount), false;
      auto *block = static_cast<unsigned char *>(arena.Take(static_cast<uint64_t>(n) * t->size + 8));
      if (block == nullptr) return run.OutOfMemory(), false;
      for (uint32_t e = 0; e < n; ++e)
        if (!ReadValue(run, r, t, block + static_cast<uint64_t>(e) * t->size, arena, true)) return false;
      cells[i] = reinterpret_cast<uintptr_t>(block);
      counts[i] = n;
      continue;
    }
    if (t->kind == api::kKindStruct || t->kind == api::kKindTyped) {
      auto *block = static_cast<unsigned char *>(arena.Take(t->size));
      if (block == nullptr) return run.OutOfMemory(), false;
      if (!ReadValue(run, r, t, block, arena, false)) return false;
      cells[i] = reinterpret_cast<uintptr_t>(block);
      continue;
    }
    if (!ReadValue(run, r, t, reinterpret_cast<unsigned char *>(&cells[i]), arena, false)) return false;
  }
  if (r.Left() != 0) return run.Refuse(kLeftOver), false;
  // Outputs get a scratch block; arrays, and the data behind typed values,
  // must hold what the call reads or writes of them (in parameter order: a
  // procedure's shape reads the arrays before).
  for (uint32_t i = 0; i < pc; ++i)
    if (!ArgumentSize(run, fn, i, cells, outs, counts, arena)) return false;
  VtTypedValue result{};
  uint64_t *kept = OutputsMark(fn, cells, counts);
  CallThrough(run.s, fn, argv, &result);
  AfterCall(run.s, fn, cells, counts, result, run.table.values, run.table.size, kept);
  for (uint32_t i = 0; i < pc; ++i) {
    const VtApiType *t = TypeByName(fn->params[i].type_name);
    if (outs[i] != 0 && t->size <= 8 && !(fn->params[i].flags & api::kParamArray)) {
      uint64_t v = 0;
      std::memcpy(&v, reinterpret_cast<void *>(cells[i]), t->size);
      run.table.values[outs[i]] = v;
    }
  }
  if (result_variable != 0) run.table.values[result_variable] = result.value.bits;
  return true;
}

}  // namespace

VtStatus ReadBinary(State *s, const unsigned char *data, size_t size, const char *name) {
  Run run;
  run.s = s;
  run.name = name;
  Reader r{data, size, 4, false};
  uint32_t order = 0, file_word = 0, word_size = 0, count = 0;
  if (size < 20) {
    run.Refuse(kHeader);
    return s->status;
  }
  std::memcpy(&order, data + 4, 4);
  if (order == kOtherOrder)
    r.swap = true;
  else if (order != kOrder) {
    run.Refuse(kHeader);
    return s->status;
  }
  r.at = 8;
  r.Word(&file_word);
  r.Word(&word_size);
  r.Word(&count);
  if (word_size != 4) {
    run.Refuse(kHeader);
    return s->status;
  }
  for (uint32_t w = 0;;) {
    if (!r.Word(&w)) {
      run.Refuse(kTruncated);
      return s->status;
    }
    if (w == 0xFFFFFFFFu) break;
  }
  if (count == 0) count = kDefaultVariables;
  if (count > kMostVariables) {
    Report(s, kStatementError, kMsgBinaryVariable, count, kMostVariables);
    return s->status;
  }
  if (!run.table.Reach(count, true)) {  // V + 1 entries
    Report(s, VO_CLASS_ERROR, kMsgTableCannotGrow);
    s->status |= kNoMemory;
    return s->status;
  }
  while (!run.failed && !s->stop && r.Left() > 0) {
    uint32_t code = 0, result = 0, length = 0;
    if (!r.Word(&code)) {
      run.Refuse(kTruncated);
      break;
    }
    run.code = code;
    if (code == 0) break;
    if (!r.Word(&result) || !r.Word(&length)) {
      run.Refuse(kTruncated);
      break;
    }
    if (length > kMostRecord) {
      Report(s, kStatementError, kMsgBinaryRecordTooLong, code, length, kMostRecord);
      break;
    }
    if (length > r.Left()) {
      run.Refuse(kLength);
      break;
    }
    const unsigned char *args;
    r.Bytes(length, &args);
    const VtApiFunction *fn = api::FindFunctionByCode(code);
    if (fn == nullptr) continue;  // a procedure this library does not have
    if (fn->thunk == nullptr) {
      Report(s, kStatementError, kMsgTooFewArguments, fn->name);
      continue;
    }
    if (result != 0 && !run.Variable(result)) break;
    Reader record{args, length, 0, r.swap};
    if (!RunRecord(run, fn, result, record)) break;
  }
  return s->status;
}

}  // namespace vo::interp

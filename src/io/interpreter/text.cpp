// VoInterpreterReadInput and the text scripts: lines, statements, literals
// and calls by name.

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include <vo/vo_object.h>

#include "io/interpreter/interpreter.h"
#include "kernel/vosystem/face.h"

namespace vo::interp {

namespace {

thread_local State *t_state = nullptr;

constexpr size_t kFirstLine = 1024;
constexpr int32_t kInterrupt = 64;  // the driver's answer to a poll when the user interrupts
// The first words of every header the journal writes. A header that follows
// a call which stopped the library begins another session's journal.
constexpr char kJournalHeaderStart[] = "# Journal file generated: ";
// The comment the journal writes when it goes on in another file that it
// named: the variable holding that file follows.
constexpr char kJournalMoved[] = "# VoJournalControlSet 0x10005 {VtGenericPtr ";

bool StartsWith(const char *text, const char *start) {
  return std::strncmp(text, start, std::strlen(start)) == 0;
}

using api::VtApiFunction;
using api::VtApiParam;
using api::VtApiType;

// ---- Places and errors ------------------------------------------------------------

void Place(State *s, VtStatus status, bool warning) {
  const Input *in = s->top;
  if (in == nullptr) return;
  const auto line = static_cast<int32_t>(in->line > INT32_MAX ? INT32_MAX : in->line);
  if (in->name != nullptr)
    Report(s, status, warning ? kMsgWarningPlace : kMsgPlace, line, in->name);
  else
    Report(s, status, warning ? kMsgWarningConsolePlace : kMsgConsolePlace, line);
}

template <class... A>
void Error(State *s, uint32_t message, A... args) {
  Place(s, kStatementError, false);
  Report(s, kStatementError, message, args...);
}

bool OutOfMemory(State *s) {
  Report(s, kNoMemory, kMsgTableCannotGrow);
  s->stop = s->quit = true;
  return false;
}

// ---- Tokens --------------------------------------------------------------------------

bool Delimiter(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '<' || c == '>' || c == ',' || c == ';' ||
         c == '(' || c == ')';
}

// The end of a quoted text starting at q (on its opening quote): the closing
// quote, or the end of the text.
char *QuoteEnd(char *q) {
  for (++q; *q && *q != '"'; ++q)
    if (*q == '\\' && q[1]) ++q;
  return q;
}

// The next token of the text at *cursor, terminated in place; null at the end.
char *NextToken(char **cursor) {
  char *c = *cursor;
  while (*c && Delimiter(*c)) ++c;
  if (*c == 0) {
    *cursor = c;
    return nullptr;
  }
  char *start = c;
  if (*c == '"') {
    c = QuoteEnd(c);
    if (*c) ++c;
  } else if (*c == '[' || *c == '{') {
    int depth = 0;
    for (; *c; ++c) {
      if (*c == '"') {
        c = QuoteEnd(c);
        if (*c == 0) break;
      } else if (*c == '[' || *c == '{') {
        ++depth;
      } else if ((*c == ']' || *c == '}') && --depth == 0) {
        ++c;
        break;
      }
    }
  } else {
    while (*c && !Delimiter(*c)) ++c;
  }
  if (*c) *c++ = 0;
  *cursor = c;
  return start;
}

// The inside of a bracket token, or null when the token is not bracketed.
char *Inside(char *token) {
  size_t n = std::strlen(token);
  if (n < 2 || (token[0] != '[' && token[0] != '{') || (token[n - 1] != ']' && token[n - 1] != '}'))
    return nullptr;
  token[n - 1] = 0;
  return token + 1;
}

bool IsName(const char *t) {
  if (!((*t >= 'a' && *t <= 'z') || (*t >= 'A' && *t <= 'Z'))) return false;
  for (; *t; ++t)
    if (!((*t >= 'a' && *t <= 'z') || (*t >= 'A' && *t <= 'Z') || (*t >= '0' && *t <= '9') || *t == '_'))
      return false;
  return true;
}

// ---- Numbers -------------------------------------------------------------------------

// [sign] decimal digits, or [sign] 0x and hexadecimal digits, or NULL (0).
bool ParseInteger(const char *t, int64_t *out) {
  if (std::strcmp(t, "NULL") == 0) {
    *out = 0;
    return true;
  }
  bool negative = false;
  if (*t == '+' || *t == '-') negative = *t++ == '-';
  int base = 10;
  if (t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t += 2;
  }
  if (*t == 0) return false;
  uint64_t v = 0;
  for (; *t; ++t) {
    int d;
    if (*t >= '0' && *t <= '9')
      d = *t - '0';
    else if (base == 16 && *t >= 'a' && *t <= 'f')
      d = *t - 'a' + 10;
    else if (base == 16 && *t >= 'A' && *t <= 'F')
      d = *t - 'A' + 10;
    else
      return false;
    if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  if (v > static_cast<uint64_t>(INT64_MAX)) return false;
  *out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

bool ParseReal(const char *t, double *out) {
  if (*t == 0) return false;
  for (const char *c = t; *c; ++c)
    if (!((*c >= '0' && *c <= '9') || *c == '.' || *c == 'e' || *c == 'E' || *c == '+' || *c == '-'))
      return false;
  char *end = nullptr;
  errno = 0;
  const double d = std::strtod(t, &end);
  if (end == t || *end != 0 || std::isnan(d)) return false;
  *out = d;  // 1e999 and the like are infinities
  return true;
}

// Whether the integer fits the scalar type, stored into out when it does.
bool StoreInteger(const VtApiType *t, int64_t v, void *out) {
  switch (t->code) {
    case VtInt32:
    case VtEnum:
      if (v < INT32_MIN || v > INT32_MAX) return false;
      {
        const auto x = static_cast<int32_t>(v);
        std::memcpy(out, &x, 4);
      }
      return true;
    case VtNat8:
      if (v < 0 || v > 255) return false;
      *static_cast<uint8_t *>(out) = static_cast<uint8_t>(v);
      return true;
    case VtFloat: {
      const auto x = static_cast<float>(v);
      std::memcpy(out, &x, 4);
      return true;
    }
    case VtDouble: {
      const auto x = static_cast<double>(v);
      std::memcpy(out, &x, 8);
      return true;
    }
    default:
      if (t->kind != api::kKindScalar) return false;
      if (t->size == 8) {
        if (v < 0) return false;
        std::memcpy(out, &v, 8);
        return true;
      }
      if (t->size != 4 || v < 0 || v > UINT32_MAX) return false;
      {
        const auto x = static_cast<uint32_t>(v);
        std::memcpy(out, &x, 4);
      }
      return true;
  }
}

bool IsInteger(const VtApiType *t) {
  return t->kind == api::kKindScalar && t->code != VtFloat && t->code != VtDouble;
}

bool StartsLiteral(char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'; }

// ---- Conversion of values --------------------------------------------------------------

bool Generic(const VtApiType *t) {
  return std::strcmp(t->name, "VtGenericPtr") == 0 || std::strcmp(t->name, "GenericPtr") == 0;
}

// Types agree by name; a VtGenericPtr agrees with any pointer or handle.
bool Agrees(const VtApiType *have, uint32_t have_form, const VtApiType *want) {
  if (have_form == kPointerTo)
    return HoldsAddress(want) && (Generic(want) || std::strcmp(have->name, want->name) == 0);
  if (have == want || std::strcmp(have->name, want->name) == 0) return true;
  return HoldsAddress(have) && HoldsAddress(want) && (Generic(have) || Generic(want));
}

enum Outcome { kConverted, kRefused, kOtherType, kNoMemoryLeft };

Outcome ConvertValue(State *s, const VtApiType *t, char *tok, unsigned char *out, Arena &arena);

// A quoted text with its escapes undone, in the arena.
Outcome Unquote(const char *tok, const char **out, Arena &arena) {
  size_t n = std::strlen(tok);
  if (n < 2 || tok[0] != '"' || tok[n - 1] != '"') return kRefused;
  auto *text = static_cast<char *>(arena.Take(n));
  if (text == nullptr) return kNoMemoryLeft;
  size_t w = 0;
  for (size_t i = 1; i + 1 < n; ++i) {
    char c = tok[i];
    if (c == '\\' && i + 2 < n) {
      c = tok[++i];
      switch (c) {
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case 't': c = '\t'; break;
        case 'x': {
          int v = 0, digits = 0;
          while (digits < 2 && i + 2 < n && std::isxdigit(static_cast<unsigned char>(tok[i + 1]))) {
            const char h = tok[++i];
            v = v * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
            ++digits;
          }
          if (digits == 0) return kRefused;
          c = static_cast<char>(v);
          break;
        }
        default: break;  // \" and \\ stand for themselves
      }
    } else if (c == '"') {
      return kRefused;  // an unescaped quote inside
    }
    text[w++] = c;
  }
  text[w] = 0;
  *out = text;
  return kConverted;
}

// A value record's object or address (its value word), for a parameter of
// type t that its type word's case agrees with; a type without a case only
// for a VtGenericPtr.
Outcome FromRecord(const VtApiType *t, const Variable *v, unsigned char *out) {
  if (!v->defined) return kRefused;
  VtObjectValue r;
  std::memcpy(&r, v->storage, sizeof r);
  const api::VtApiCase *c = api::FindCase(v->type->name, r.type & VO_OBJECT_TYPE_MASK);
  const bool agrees =
      Generic(t)
          ? c == nullptr || c->carried == api::kCarriedObject || c->carried == api::kCarriedAddress
          : c != nullptr && (c->carried == api::kCarriedObject || c->carried == api::kCarriedAddress) &&
                std::strcmp(c->type_name, t->name) == 0;
  if (!agrees) return kOtherType;
  std::memcpy(out, &r.value.p, sizeof r.value.p);
  return kConverted;
}

// A variable's value for a parameter of type t (form value).
Outcome FromVariable(const VtApiType *t, const char *tok, unsigned char *out, State *s) {
  Variable *v = FindVariable(s, tok);
  if (v == nullptr) return kRefused;
  if (v->form == kValue && v->type->kind == api::kKindTagged && t->kind != api::kKindTagged)
    return FromRecord(t, v, out);
  if (v->form == kArray || !Agrees(v->type, v->form, t)) return kOtherType;
  if (!v->defined) return kRefused;
  std::memcpy(out, v->storage, v->form == kPointerTo ? sizeof(void *) : t->size);
  return kConverted;
}

Outcome ConvertRecord(State *s, const VtApiType *t, char *tok, unsigned char *out) {
  uint32_t element = 0, count = 0;
  char *inner = (tok[0] == '[' || tok[0] == '{') ? Inside(tok) : nullptr;
  if (inner == nullptr || !RecordLayout(t, &element, &count)) return FromVariable(t, tok, out, s);
  const VtApiType *e = TypeByCode(element);
  uint32_t n = 0;
  for (char *item; (item = NextToken(&inner)) != nullptr; ++n) {
    if (n == count) return kRefused;
    double d = 0;
    if (StartsLiteral(item[0])) {
      if (!ParseReal(item, &d)) return kRefused;
    } else {
      Variable *v = FindVariable(s, item);
      if (v == nullptr || !v->defined || v->form != kValue || v->type->code != element) return kRefused;
      d = element == VtDouble ? *reinterpret_cast<double *>(v->storage)
                              : *reinterpret_cast<float *>(v->storage);
    }
    if (element == VtDouble) {
      std::memcpy(out + 8 * n, &d, 8);
    } else {
      const auto f = static_cast<float>(d);
      std::memcpy(out + 4 * n, &f, 4);
    }
  }
  (void)e;
  return n == count ? kConverted : kRefused;
}

// {TypeName value}
Outcome ConvertTyped(State *s, char *tok, unsigned char *out, Arena &arena) {
  if (tok[0] != '{') return FromVariable(TypeByName("VtTypedValue"), tok, out, s);
  char *inner = Inside(tok);
  if (inner == nullptr) return kRefused;
  char *name = NextToken(&inner);
  if (name == nullptr) return kRefused;
  while (*inner == ' ' || *inner == '\t') ++inner;
  const VtApiType *t = std::strcmp(name, "VtVoid") == 0 ? nullptr : TypeByName(name);
  VtTypedValue v{};
  if (t == nullptr) {
    if (std::strcmp(name, "VtVoid") != 0 || *inner) return kRefused;
  } else {
    if (t->kind == api::kKindTyped || t->kind == api::kKindVoid || t->size > sizeof v.value) return kRefused;
    const ValueTypeInfo *info = ValueTypeFind(t->code);
    if (info == nullptr) return kRefused;
    v.type = t->code;
    // The value is the rest: one token (a bracket list counts as one).
    char *rest = inner;
    char *value = NextToken(&rest);
    if (value == nullptr || NextToken(&rest) != nullptr) return kRefused;
    Outcome o = ConvertValue(s, t, value, reinterpret_cast<unsigned char *>(&v.value), arena);
    if (o != kConverted) return o;
  }
  std::memcpy(out, &v, sizeof v);
  return kConverted;
}

// {word value}: a value record, its value in the form its type word's case
// gives; a type without a case is held by reference, its value an object.
Outcome ConvertTagged(State *s, const VtApiType *t, char *tok, unsigned char *out, Arena &arena) {
  if (tok[0] != '{') return FromVariable(t, tok, out, s);
  char *inner = Inside(tok);
  char *word_token = inner ? NextToken(&inner) : nullptr;
  int64_t word = 0;
  if (word_token == nullptr || !ParseInteger(word_token, &word) || word < 0 || word > UINT32_MAX)
    return kRefused;
  char *value = NextToken(&inner);
  if (value != nullptr && NextToken(&inner) != nullptr) return kRefused;
  VtObjectValue r{};
  r.type = static_cast<uint32_t>(word);
  const api::VtApiCase *c = api::FindCase(t->name, r.type & VO_OBJECT_TYPE_MASK);
  const uint32_t carried = c ? c->carried : api::kCarriedObject;
  if (c == nullptr && (r.type & VO_OBJECT_REFERENCE) == 0) return kRefused;
  r.by_reference = c == nullptr ? 1 : 0;
  if ((carried == api::kCarriedNone) != (value == nullptr)) return kRefused;
  const VtApiType *v = c ? TypeByName(c->type_name) : TypeByName("VtGenericPtr");
  Outcome o = kConverted;
  if (carried == api::kCarriedArea && c->count > 1) {
    char *list = value[0] == '[' ? Inside(value) : nullptr;
    uint32_t n = 0;
    for (char *item; o == kConverted && list && (item = NextToken(&list)) != nullptr; ++n)
      o = n < c->count && v->size * c->count <= sizeof r.value
              ? ConvertValue(s, v, item, r.value.bytes + n * v->size, arena)
              : kRefused;
    if (list == nullptr || n != c->count) return kRefused;
  } else if (carried == api::kCarriedArea) {
    o = ConvertValue(s, v, value, r.value.bytes, arena);
  } else if (carried == api::kCarriedAddress && v->kind == api::kKindTyped) {
    void *block = nullptr;
    if (std::strcmp(value, "NULL") != 0) {
      block = arena.Take(sizeof(VtTypedValue));
      o = block ? ConvertTyped(s, value, static_cast<unsigned char *>(block), arena) : kNoMemoryLeft;
    }
    r.value.p = block;
  } else if (carried != api::kCarriedNone) {
    o = ConvertValue(s, v, value, r.value.bytes, arena);
  }
  if (o == kConverted) std::memcpy(out, &r, sizeof r);
  return o;
}

Outcome ConvertValue(State *s, const VtApiType *t, char *tok, unsigned char *out, Arena &arena) {
  switch (t->kind) {
    case api::kKindScalar: {
      int64_t i = 0;
      double d = 0;
      if (t->code == VtBoolean && (std::strcmp(tok, "TRUE") == 0 || std::strcmp(tok, "FALSE") == 0)) {
        const uint32_t b = tok[0] == 'T';
        std::memcpy(out, &b, 4);
        return kConverted;
      }
      if (StartsLiteral(tok[0]) || std::strcmp(tok, "NULL") == 0) {
        // A literal is read as its parameter's type: "-0" for a float is
        // negative zero, which reading it as an integer would lose.
        if ((t->code == VtFloat || t->code == VtDouble) && ParseReal(tok, &d)) {
          if (t->code == VtDouble) {
            std::memcpy(out, &d, 8);
          } else {
            const auto f = static_cast<float>(d);
            std::memcpy(out, &f, 4);
          }
          return kConverted;
        }
        if (ParseInteger(tok, &i)) return StoreInteger(t, i, out) ? kConverted : kRefused;
        return kRefused;
      }
      if (const api::VtApiConstant *c = api::FindConstant(tok);
          c != nullptr && FindVariable(s, tok) == nullptr)
        return IsInteger(t) && StoreInteger(t, c->value, out) ? kConverted : kRefused;
      return FromVariable(t, tok, out, s);
    }
    case api::kKindString: {
      if (std::strcmp(tok, "NULL") == 0) {
        std::memset(out, 0, sizeof(void *));
        return kConverted;
      }
      if (tok[0] == '"') {
        const char *text = nullptr;
        Outcome o = Unquote(tok, &text, arena);
        if (o == kConverted) std::memcpy(out, &text, sizeof text);
        return o;
      }
      return FromVariable(t, tok, out, s);
    }
    case api::kKindFunc: {
      if (std::strcmp(tok, "NULL") == 0 || std::strcmp(tok, "0") == 0) {
        std::memset(out, 0, sizeof(void *));
        return kConverted;
      }
      if (const VtApiFunction *fn = api::FindFunction(tok)) {
        std::memcpy(out, &fn->entry, sizeof(void *));
        return kConverted;
      }
      return FromVariable(t, tok, out, s);
    }
    case api::kKindPointer:
    case api::kKindHandle:
    case api::kKindData: {
      // Only NULL or 0 stand for an address: a number would hand the library any address.
      if (std::strcmp(tok, "NULL") == 0 || std::strcmp(tok, "0") == 0) {
        std::memset(out, 0, sizeof(void *));
        return kConverted;
      }
      if (tok[0] == '&' && (Generic(t) || t->kind == api::kKindData)) {
        Variable *v = FindVariable(s, tok + 1);
        if (v == nullptr) return kRefused;
        std::memcpy(out, &v->storage, sizeof(void *));
        return kConverted;
      }
      return FromVariable(t, tok, out, s);
    }
    case api::kKindStruct: return ConvertRecord(s, t, tok, out);
    case api::kKindTyped: return ConvertTyped(s, tok, out, arena);
    case api::kKindTagged: return ConvertTagged(s, t, tok, out, arena);
    default: return kRefused;
  }
}

// An array argument: NULL, a bracket list or an array variable. Answers the
// address of the elements and their count.
Outcome ConvertArray(State *s, const VtApiType *t, char *tok, Arena &arena, void **elements,
                     uint64_t *count) {
  *elements = nullptr;
  *count = 0;
  if (std::strcmp(tok, "NULL") == 0) return kConverted;
  if (tok[0] == '[' || tok[0] == '{') {
    char *inner = Inside(tok);
    if (inner == nullptr || t->size == 0) return kRefused;
    // Count first, on a copy: tokens are cut in place.
    uint64_t n = 0;
    {
      Text copy;
      copy.Add(inner);
      if (!copy.ok) return kNoMemoryLeft;
      char *c = copy.p;
      while (NextToken(&c) != nullptr) ++n;
    }
    auto *block = static_cast<unsigned char *>(arena.Take(n * t->size + 8));
    if (block == nullptr) return kNoMemoryLeft;
    uint64_t i = 0;
    for (char *item; (item = NextToken(&inner)) != nullptr && i < n; ++i) {
      Outcome o = ConvertValue(s, t, item, block + i * t->size, arena);
      if (o != kConverted) return o;
    }
    *elements = block;
    *count = n;
    return kConverted;
  }
  Variable *v = FindVariable(s, tok);
  if (v == nullptr) return kRefused;
  if (v->form != kArray || !Agrees(v->type, kValue, t)) return kOtherType;
  *elements = v->storage;
  *count = v->count;
  return kConverted;
}

// ---- Calls --------------------------------------------------------------------------------

// Says the text; out of memory for it ends the reading.
void SayText(State *s, const Text &t) {
  if (t.ok)
    Say(t.p);
  else
    OutOfMemory(s);
}

void PrintValue(State *s, const VtApiType *t, uint32_t form, uint64_t count, const void *value) {
  Text out;
  FormatValue(&out, t, form, count, value);
  out.Add("\n");
  SayText(s, out);
}

const VtApiType *ResultType(const VtApiFunction *fn) {
  const VtApiType *t = TypeByName(fn->result_name);
  return t != nullptr && t->kind != api::kKindVoid ? t : nullptr;
}

// One call being made: the function, its argument tokens and the statement
// they came from (for errors), and per parameter the cell that is passed (a
// value, or the address of the elements or the record), the variable an
// output is bound to, the elements an array holds (-1 when unknown) and
// whether an output was left out (a block made here, printed after the call).
// Every block comes from the arena, given back when the call ends.
struct CallFrame {
  const VtApiFunction *fn;
  char **args;
  size_t argc;
  const char *statement;
  Arena arena{};
  uint64_t *cells = nullptr;
  void **argv = nullptr;
  Variable **bound = nullptr;
  int64_t *counts = nullptr;
  bool *omitted = nullptr;
};

// The frame's rows, one more than the parameters; false when memory runs out.
bool CallFrameMake(CallFrame &f) {
  const uint32_t pc = f.fn->param_count;
  f.cells = static_cast<uint64_t *>(f.arena.Take(8 * (pc + 1)));
  f.argv = static_cast<void **>(f.arena.Take(sizeof(void *) * (pc + 1)));
  f.bound = static_cast<Variable **>(f.arena.Take(sizeof(Variable *) * (pc + 1)));
  f.counts = static_cast<int64_t *>(f.arena.Take(8 * (pc + 1)));
  f.omitted = static_cast<bool *>(f.arena.Take(pc + 1));
  return f.cells && f.argv && f.bound && f.counts && f.omitted;
}

// The variable named to take the result, null when it is yet to be made;
// false (the error posted) when fn answers nothing or the variable cannot
// hold what it answers.
bool TargetFind(State *s, const CallFrame &f, const VtApiType *result_type, const char *target_name,
                Variable **target) {
  Variable *v = FindVariable(s, target_name);
  *target = v;
  if (result_type == nullptr ||
      (v != nullptr && (v->form != kValue || !Agrees(result_type, kValue, v->type)))) {
    Error(s, kMsgWrongType, f.statement);
    return false;
  }
  return true;
}

// An output argument: NULL, or a variable of the parameter's type and form
// whose storage the call writes (holding a value already when the parameter
// is read too).
Outcome OutputBind(State *s, CallFrame &f, uint32_t i, const VtApiType *t, char *tok) {
  if (std::strcmp(tok, "NULL") == 0) return kConverted;
  const uint32_t flags = f.fn->params[i].flags;
  Variable *v = FindVariable(s, tok);
  const bool array = (flags & api::kParamArray) != 0;
  if (v == nullptr) return kRefused;
  if ((array ? v->form != kArray : v->form != kValue) || !Agrees(v->type, kValue, t)) return kOtherType;
  if ((flags & api::kParamIn) != 0 && !v->defined) return kRefused;
  f.cells[i] = reinterpret_cast<uintptr_t>(v->storage);
  f.bound[i] = v;
  f.counts[i] = static_cast<int64_t>(v->count);
  return kConverted;
}

// An array argument: the address of its elements and their count.
Outcome ArrayBind(State *s, CallFrame &f, uint32_t i, const VtApiType *t, char *tok) {
  void *elements = nullptr;
  uint64_t n = 0;
  const Outcome o = ConvertArray(s, t, tok, f.arena, &elements, &n);
  f.cells[i] = reinterpret_cast<uintptr_t>(elements);
  f.counts[i] = elements ? static_cast<int64_t>(n) : -1;
  return o;
}

// A record or typed-value argument, passed by its address: a record
// variable's storage, or a block holding the written value; NULL passes 0.
Outcome RecordBind(State *s, CallFrame &f, uint32_t i, const VtApiType *t, char *tok) {
  if (std::strcmp(tok, "NULL") == 0) return kConverted;
  Variable *v = FindVariable(s, tok);
  if (v != nullptr && tok[0] != '[' && tok[0] != '{') {
    Outcome o = v->defined && v->form == kValue && Agrees(v->type, kValue, t) ? kConverted : kOtherType;
    if (!v->defined) o = kRefused;
    f.cells[i] = reinterpret_cast<uintptr_t>(v->storage);
    return o;
  }
  auto *block = static_cast<unsigned char *>(f.arena.Take(t->size));
  const Outcome o = block ? ConvertValue(s, t, tok, block, f.arena) : kNoMemoryLeft;
  f.cells[i] = reinterpret_cast<uintptr_t>(block);
  return o;
}

// Argument i into its cell, by what the parameter takes.
Outcome ArgumentConvert(State *s, CallFrame &f, uint32_t i, const VtApiType *t, char *tok) {
  const uint32_t flags = f.fn->params[i].flags;
  if (flags & api::kParamOut) return OutputBind(s, f, i, t, tok);
  if (flags & api::kParamArray) return ArrayBind(s, f, i, t, tok);
  if (t->kind == api::kKindStruct || t->kind == api::kKindTyped || t->kind == api::kKindTagged)
    return RecordBind(s, f, i, t, tok);
  return ConvertValue(s, t, tok, reinterpret_cast<unsigned char *>(&f.cells[i]), f.arena);
}

// Binds parameter i to its argument token, or marks a missing output as left
// out; false (the error posted) when the argument is refused.
bool ArgumentBind(State *s, CallFrame &f, uint32_t i) {
  const VtApiParam &p = f.fn->params[i];
  const VtApiType *t = TypeByName(p.type_name);
  f.argv[i] = &f.cells[i];
  f.counts[i] = -1;
  if (t == nullptr) {
    Error(s, kMsgArgument, f.statement, static_cast<int32_t>(i + 1), i < f.argc ? f.args[i] : "");
    return false;
  }
  const bool out = (p.flags & api::kParamOut) != 0, in = (p.flags & api::kParamIn) != 0;
  if (i >= f.argc) {
    if (!out || in) {
      Error(s, kMsgTooFewArguments, f.statement);
      return false;
    }
    f.omitted[i] = true;
    return true;
  }
  char *tok = f.args[i];
  const Outcome o = ArgumentConvert(s, f, i, t, tok);
  if (o == kNoMemoryLeft) return OutOfMemory(s);
  if (o != kConverted) {
    Error(s, o == kOtherType ? kMsgVariableType : kMsgArgument, f.statement, static_cast<int32_t>(i + 1),
          tok);
    return false;
  }
  return true;
}

// Counts as the diagnostics give them: at most 2^32 - 1.
uint32_t Shown(uint64_t n) { return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n); }

// Refuses argument i, which holds `held` bytes where the call needs more.
bool Short(State *s, const CallFrame &f, uint32_t i, uint64_t held, const Need &need) {
  const auto number = static_cast<int32_t>(i + 1);
  Error(s, kMsgArgument, f.statement, number, f.args[i]);
  Report(s, kStatementError, kMsgArgumentShort, number, f.args[i], Shown(held / need.unit_size), need.unit,
         Shown(need.count));
  return false;
}

// The data behind the typed values of parameter i that the procedure's
// shape sizes (vertex arrays behind a property record, a property's value)
// is read by the call: each must point into a block of the script's own
// that holds it. False (the error posted) otherwise.
bool TypedDataCheck(State *s, const CallFrame &f, uint32_t i) {
  const VtApiParam &p = f.fn->params[i];
  const bool array = (p.flags & api::kParamArray) != 0;
  const auto *values = reinterpret_cast<const VtTypedValue *>(f.cells[i]);
  const uint64_t n = array ? static_cast<uint64_t>(f.counts[i] < 0 ? 0 : f.counts[i]) : 1;
  for (uint64_t k = 0; values != nullptr && k < n; ++k) {
    Need need{};
    if (!DataNeed(f.fn, i, k, f.cells, &need) || need.count == 0) continue;
    const VtTypedValue &v = values[k];
    uint64_t held = 0;
    if (!ValueTypeHoldsPointer(v.type) || !Holds(s, &f.arena, v.value.p, &held)) {
      Error(s, kMsgArgument, f.statement, static_cast<int32_t>(i + 1), f.args[i]);
      Report(s, kStatementError, kMsgDataNotOwned, static_cast<int32_t>(i + 1), f.args[i], Shown(need.count),
             need.unit);
      return false;
    }
    if (held / need.unit_size < need.count) return Short(s, f, i, held, need);
  }
  return true;
}

// A pointer parameter's argument (each element of a pointer array) must be
// what the parameter's rule allows: the address of a variable only where
// the call reads or writes no more than the variable holds, a handle only
// where the library never reads through it, a file only from VoFileOpen.
// False (the error posted) otherwise.
bool PointerCheck(State *s, const CallFrame &f, uint32_t i) {
  if (!RuledPointer(f.fn, i)) return true;
  const bool array = (f.fn->params[i].flags & api::kParamArray) != 0;
  const auto *values = array ? reinterpret_cast<const unsigned char *>(f.cells[i])
                             : reinterpret_cast<const unsigned char *>(&f.cells[i]);
  const uint64_t n = !array ? 1 : f.counts[i] < 0 ? 0 : static_cast<uint64_t>(f.counts[i]);
  for (uint64_t k = 0; values != nullptr && k < n; ++k) {
    const void *value = nullptr;
    std::memcpy(&value, values + k * sizeof value, sizeof value);
    uint64_t held = 0;
    const char *made = nullptr;
    uint64_t owner = 0;
    const uint32_t origin = OriginOf(s, &f.arena, value, &held, &made, &owner);
    PointerVerdict v;
    if (PointerAllowed(f.fn, i, value, origin, held, made, owner, f.cells, &v)) continue;
    if (v.short_of) return Short(s, f, i, v.held, v.need);
    if (!v.takes.ok) return OutOfMemory(s);
    Error(s, kMsgArgument, f.statement, static_cast<int32_t>(i + 1), f.args[i]);
    Report(s, kStatementError, kMsgPointerRefused, static_cast<int32_t>(i + 1), f.args[i], v.is,
           v.takes.c_str());
    return false;
  }
  return true;
}

// A control whose value is a file takes only one VoFileOpen opened.
bool StreamCheck(State *s, const CallFrame &f, uint32_t i) {
  uint32_t code = 0;
  if (!StreamCodeRefused(f.fn, i, f.cells, &code)) return true;
  Error(s, kMsgArgument, f.statement, static_cast<int32_t>(i + 1), f.args[i]);
  Report(s, kStatementError, kMsgStreamRefused, static_cast<int32_t>(i + 1), f.args[i], code);
  return false;
}

// Arrays must hold what the call reads or writes of them (a fixed count, a
// counting parameter, or the procedure's shape, asked once the arrays before
// have passed, since it reads them); a left-out output gets a block of that
// size. False (the error posted) otherwise.
bool ArgumentSize(State *s, CallFrame &f, uint32_t i) {
  const VtApiParam &p = f.fn->params[i];
  const VtApiType *t = TypeByName(p.type_name);
  const bool array = (p.flags & api::kParamArray) != 0;
  Need need{1, t->name, t->size};
  const bool sized = !array || ArrayNeed(f.fn, i, f.cells, &need);
  if (f.omitted[i]) {
    if (!sized || need.unit_size == 0 || need.count > (UINT32_MAX - 64) / need.unit_size) {
      Error(s, kMsgArgument, f.statement, static_cast<int32_t>(i + 1), "");
      return false;
    }
    const uint64_t size = t->size ? t->size : 1, bytes = need.count * need.unit_size;
    void *block = f.arena.Take(bytes ? bytes : size);
    if (block == nullptr) return OutOfMemory(s);
    f.cells[i] = reinterpret_cast<uintptr_t>(block);
    f.counts[i] = static_cast<int64_t>((bytes + size - 1) / size);
    return true;
  }
  if (array && f.cells[i] != 0 && sized) {
    const uint64_t held = static_cast<uint64_t>(f.counts[i] < 0 ? 0 : f.counts[i]) * t->size;
    if (held / need.unit_size < need.count) return Short(s, f, i, held, need);
  }
  if (!PointerCheck(s, f, i)) return false;
  if (p.kind == api::kKindTyped && (p.flags & api::kParamOut) == 0)
    return StreamCheck(s, f, i) && TypedDataCheck(s, f, i);
  return true;
}

// After the call: bound outputs hold values, left-out ones are printed.
void OutputsWriteBack(State *s, const CallFrame &f) {
  for (uint32_t i = 0; i < f.fn->param_count; ++i) {
    if (f.bound[i] != nullptr) f.bound[i]->defined = true;
    if (f.omitted[i]) {
      const VtApiParam &p = f.fn->params[i];
      PrintValue(s, TypeByName(p.type_name), (p.flags & api::kParamArray) ? kArray : kValue,
                 static_cast<uint64_t>(f.counts[i]), reinterpret_cast<void *>(f.cells[i]));
    }
  }
}

// Stores the result in the target, made now when new; false when memory
// runs out for it.
bool ResultStore(State *s, const char *target_name, Variable *target, const VtApiType *result_type,
                 const VtTypedValue &result) {
  if (target == nullptr) target = MakeVariable(s, target_name, result_type, kValue, 0);
  if (target == nullptr) return OutOfMemory(s);
  std::memcpy(target->storage, &result.value, result_type->size <= 8 ? result_type->size : 8);
  target->defined = true;
  return true;
}

// Whether the journal being read handed the variable's file to the journal
// control in its current session.
bool JournalFileNamed(const Input *in, const char *name) {
  if (in == nullptr) return false;
  for (const JournalFile *j = in->journals; j != nullptr; j = j->next)
    if (j->session == in->session && std::strcmp(j->name, name) == 0) return true;
  return false;
}

// Calls fn with the argument tokens; the result goes to target (made when
// new, named target_name) when one is given.
void Call(State *s, const VtApiFunction *fn, char **args, size_t argc, const char *statement,
          const char *target_name) {
  CallFrame f{fn, args, argc, statement};
  if (!CallFrameMake(f)) {
    OutOfMemory(s);
    return;
  }
  const uint32_t pc = fn->param_count;
  if (argc > pc) {
    Error(s, kMsgArgument, statement, static_cast<int32_t>(pc + 1), args[pc]);
    return;
  }
  const VtApiType *result_type = ResultType(fn);
  Variable *target = nullptr;
  if (target_name != nullptr && !TargetFind(s, f, result_type, target_name, &target)) return;
  for (uint32_t i = 0; i < pc; ++i)
    if (!ArgumentBind(s, f, i)) return;
  for (uint32_t i = 0; i < pc; ++i)
    if (!ArgumentSize(s, f, i)) return;
  if (target_name != nullptr && std::strcmp(fn->name, "VoFileOpen") == 0 &&
      JournalFileNamed(s->top, target_name))
    return;  // the file a later journal went on in: opening it would empty it
  VtTypedValue result{};
  const bool stopped = Kernel() == nullptr;
  uint64_t *kept = OutputsMark(fn, f.cells, f.counts);
  CallThrough(s, fn, f.argv, &result);
  if (stopped && Kernel() == nullptr && fn->result_type == VtStatusType && result.value.u != 0) {
    // A call that failed because the library is stopped (whatever it
    // answered: 0x82 with or without a class, or 2 for a module that is not
    // there), which can post nothing: the reading ends here with
    // 0x20000082, and the caller, who can start the library again, finds
    // the statement where the input stands.
    OutputsUnmark(fn, f.cells, f.counts, kept);
    s->status |= VO_STATUS_NOT_INITIALISED;
    s->stop = true;
    return;
  }
  AfterCall(s, fn, f.cells, f.counts, result, nullptr, 0, kept);
  OutputsWriteBack(s, f);
  if (target_name != nullptr && result_type != nullptr &&
      !ResultStore(s, target_name, target, result_type, result))
    return;
  if (fn->result_type == VtStatusType && result.value.u != 0 && (result.value.u & VO_COND_INTERRUPTED) == 0) {
    Place(s, kStatusWarning, true);
    Report(s, kStatusWarning, kMsgStatusWarning, statement);
  }
}

// ---- Statements ----------------------------------------------------------------------------

constexpr size_t kMostTokens = 256;

void Help(State *s, const char *name) {
  const VtApiFunction *fn = name ? api::FindFunction(name) : nullptr;
  if (fn == nullptr) {
    Say("usage -- help <function name>\n");
    return;
  }
  Text t;
  const char *result = std::strcmp(fn->result_name, "void") == 0 ? "VtVoid" : fn->result_name;
  t.Format("%s\n%s(\n", result, fn->name);
  if (fn->param_count == 0) t.Add("   VtVoid\n");
  for (uint32_t i = 0; i < fn->param_count; ++i) {
    const VtApiParam &p = fn->params[i];
    t.Add("   ");
    t.Add(p.type_name);
    if (i + 1 < fn->param_count) t.Add(",");
    if (p.flags & api::kParamOut) t.Add("   [ Output parameter ]");
    t.Add("\n");
  }
  t.Add(")\n");
  SayText(s, t);
}

void Print(State *s, const char *name) {
  if (name != nullptr) {
    if (Variable *v = FindVariable(s, name)) {
      if (!v->defined) {
        Error(s, kMsgUnknownVariable, name);
        return;
      }
      PrintValue(s, v->type, v->form, v->count, v->storage);
      return;
    }
    if (const api::VtApiConstant *c = api::FindConstant(name)) {
      Text t;
      t.Format("%d\n", static_cast<int32_t>(c->value));
      SayText(s, t);
      return;
    }
  }
  Error(s, kMsgUnknownVariable, name ? name : "");
}

VtStatus ReadInput(State *s, const char *name, std::FILE *file, bool close);

void Source(State *s, char *rest) {
  // The name without surrounding spaces and double quotes.
  while (*rest == ' ' || *rest == '\t' || *rest == '"') ++rest;
  size_t n = std::strlen(rest);
  while (n > 0 && (rest[n - 1] == ' ' || rest[n - 1] == '\t' || rest[n - 1] == '"')) rest[--n] = 0;
  if (s->depth >= kMostNesting) {
    Error(s, kMsgSourceTooDeep, rest, s->depth + 1, kMostNesting);
    s->stop = true;
    return;
  }
  std::FILE *f = std::fopen(rest, "rb");
  if (f == nullptr) {
    Error(s, kMsgCannotSource, rest);
    return;
  }
  ReadInput(s, rest, f, true);
}

// A declaration: Type name, Type* name, Type[n] name.
void Declare(State *s, const char *type_token, const char *name, const char *statement) {
  Text base;
  base.Add(type_token);
  if (!base.ok) {
    OutOfMemory(s);
    return;
  }
  uint32_t form = kValue;
  uint64_t count = 1;
  char *b = base.p;
  if (char *lb = std::strchr(b, '[')) {
    char *rb = std::strchr(lb, ']');
    if (rb == nullptr || rb[1] != 0) {
      Error(s, kMsgUnknownType, type_token);
      return;
    }
    *rb = 0;
    *lb = 0;
    int64_t n = 0;
    const bool digits = lb[1] != 0 && std::strspn(lb + 1, "0123456789") == std::strlen(lb + 1);
    if (digits && !ParseInteger(lb + 1, &n))
      n = INT64_MAX;  // past what a count can be: too large below
    else if (lb[1] == 0 || !ParseInteger(lb + 1, &n) || n <= 0 || lb[1] == '-' || lb[1] == '+') {
      Error(s, kMsgArrayWithoutCount, statement);
      return;
    }
    form = kArray;
    count = static_cast<uint64_t>(n);
  } else if (size_t n = std::strlen(b); n > 1 && b[n - 1] == '*') {
    b[n - 1] = 0;
    form = kPointerTo;
  }
  const VtApiType *t = TypeByName(b);
  if (t == nullptr || t->kind == api::kKindVoid) {
    Error(s, kMsgUnknownType, b);
    return;
  }
  if (name == nullptr || !IsName(name)) {
    Error(s, kMsgBadName, name ? name : "");
    return;
  }
  if (api::FindConstant(name) != nullptr) {
    Error(s, kMsgConstantName, name);
    return;
  }
  if (const uint64_t most = (UINT32_MAX - 64) / (t->size ? t->size : 1); form == kArray && count > most) {
    // Written out in full: a count past 32 bits is no diagnostic integer.
    char asked[24], largest[24];
    std::snprintf(asked, sizeof asked, "%llu", static_cast<unsigned long long>(count));
    std::snprintf(largest, sizeof largest, "%llu", static_cast<unsigned long long>(most));
    Error(s, kMsgArrayTooLarge, statement, asked, b, largest);
    return;
  }
  // A declaration makes values of zero, which print and copy as any value;
  // only a variable whose block or handle was given back is unknown.
  Variable *v = MakeVariable(s, name, t, form, count);
  if (v == nullptr) {
    OutOfMemory(s);
    return;
  }
  v->defined = true;
}

// A text variable keeps its own copy of the text, behind the pointer word.
bool SetText(State *s, Variable *v, const char *text) {
  const size_t n = text ? std::strlen(text) + 1 : 0;
  unsigned char *cell = StorageTake(sizeof(void *) + n);
  if (cell == nullptr) return false;
  char *copy = text ? reinterpret_cast<char *>(cell + sizeof(void *)) : nullptr;
  if (copy) std::memcpy(copy, text, n);
  std::memcpy(cell, &copy, sizeof copy);
  StorageRetire(&s->kept, v->storage);
  v->storage = cell;
  v->defined = true;
  return true;
}

// The name left of "=": one token, a name, and a constant's only when a
// variable has taken it; null (the error posted) otherwise.
char *AssignedName(State *s, char *left, const char *statement) {
  char *cursor = left;
  char *name = NextToken(&cursor);
  if (name == nullptr) {
    Error(s, kMsgNoName, statement);
    return nullptr;
  }
  if (!IsName(name) || NextToken(&cursor) != nullptr) {
    Error(s, kMsgBadName, name);
    return nullptr;
  }
  if (api::FindConstant(name) != nullptr && FindVariable(s, name) == nullptr) {
    Error(s, kMsgConstantName, name);
    return nullptr;
  }
  return name;
}

// "name = &variable": the variable's address, into a pointer or handle
// variable (a new one is a VtGenericPtr).
void AssignAddress(State *s, const char *name, Variable *target, const char *r, const char *statement) {
  Variable *source = FindVariable(s, r + 1);
  if (source == nullptr) {
    Error(s, kMsgBadRight, statement);
    return;
  }
  if (target == nullptr) target = MakeVariable(s, name, TypeByName("VtGenericPtr"), kValue, 0);
  if (target == nullptr) {
    OutOfMemory(s);
    return;
  }
  if (target->form == kArray || (target->form == kValue && !HoldsAddress(target->type))) {
    Error(s, kMsgWrongType, statement);
    return;
  }
  std::memcpy(target->storage, &source->storage, sizeof(void *));
  target->defined = true;
}

// Copies size bytes a page at a time, writing only where either side holds
// something: a large declared array is zero pages that cost memory only
// where written, and a copy of it costs no more. Reading a page never
// written takes no memory.
void CopyWritten(unsigned char *to, const unsigned char *from, uint64_t size) {
  constexpr uint64_t kPage = 4096;
  static const unsigned char kZeros[kPage] = {};
  const auto zero = [](const unsigned char *p, uint64_t n) { return std::memcmp(p, kZeros, n) == 0; };
  for (uint64_t at = 0; at < size; at += kPage) {
    const uint64_t n = size - at < kPage ? size - at : kPage;
    if (!zero(from + at, n))
      std::memcpy(to + at, from + at, n);
    else if (!zero(to + at, n))
      std::memset(to + at, 0, n);
  }
}

// "name = variable": a copy of a defined variable of the same form, count
// and type (a new one is made like it); a text variable gets its own copy of
// the text.
void AssignCopy(State *s, const char *name, Variable *target, Variable *source, const char *statement) {
  if (!source->defined) {
    Error(s, kMsgBadRight, statement);
    return;
  }
  if (target == nullptr) target = MakeVariable(s, name, source->type, source->form, source->count);
  if (target == nullptr) {
    OutOfMemory(s);
    return;
  }
  if (target == source) return;
  const bool agree = target->form == source->form && target->count == source->count &&
                     (source->form == kValue ? Agrees(source->type, kValue, target->type)
                                             : std::strcmp(source->type->name, target->type->name) == 0);
  if (!agree) {
    Error(s, kMsgWrongType, statement);
    return;
  }
  if (source->form == kValue && source->type->kind == api::kKindString) {
    const char *text = nullptr;
    std::memcpy(&text, source->storage, sizeof text);
    if (!SetText(s, target, text)) OutOfMemory(s);
    return;
  }
  const uint64_t size = source->form == kPointerTo ? sizeof(void *) : source->type->size * source->count;
  CopyWritten(target->storage, source->storage, size);
  target->defined = true;
}

// "name = constant": the constant's value, into an integer variable that
// holds it (a new one is a VtEnum).
void AssignConstant(State *s, const char *name, Variable *target, const api::VtApiConstant *c,
                    const char *statement) {
  if (target == nullptr) target = MakeVariable(s, name, TypeByName("VtEnum"), kValue, 0);
  if (target == nullptr) {
    OutOfMemory(s);
    return;
  }
  if (target->form != kValue || !IsInteger(target->type) ||
      !StoreInteger(target->type, c->value, target->storage)) {
    Error(s, kMsgWrongType, statement);
    return;
  }
  target->defined = true;
}

// The end of a literal's assignment: the error, or the variable defined.
// Texts inside the value (typed values, arrays of texts) live in the arena's
// blocks, kept as long as the variables may be.
void LiteralFinish(State *s, Variable *target, Outcome o, Arena &arena, const char *statement) {
  if (o == kNoMemoryLeft) {
    OutOfMemory(s);
    return;
  }
  if (o != kConverted) {
    Error(s, kMsgWrongType, statement);
    return;
  }
  arena.HandOver(&s->kept);
  target->defined = true;
}

// A bracket list into an array variable: exactly as many elements as it has.
void AssignArray(State *s, Variable *target, char *r, const char *statement) {
  Arena arena;
  Outcome o = kRefused;
  void *elements = nullptr;
  uint64_t count = 0;
  if (r[0] == '[' || r[0] == '{') o = ConvertArray(s, target->type, r, arena, &elements, &count);
  if (o == kConverted && (elements == nullptr || count != target->count)) o = kRefused;
  if (o == kConverted) std::memcpy(target->storage, elements, count * target->type->size);
  LiteralFinish(s, target, o, arena, statement);
}

// NULL, the only literal a pointer variable takes.
void AssignNull(State *s, Variable *target, const char *r, const char *statement) {
  Arena arena;
  const Outcome o = std::strcmp(r, "NULL") == 0 ? kConverted : kRefused;
  if (o == kConverted) std::memset(target->storage, 0, sizeof(void *));
  LiteralFinish(s, target, o, arena, statement);
}

// A literal of the variable's type; a text goes in as the variable's own
// copy, so its arena block is not kept.
void AssignValue(State *s, Variable *target, char *r, const char *statement) {
  Arena arena;
  auto *block = static_cast<unsigned char *>(arena.Take(target->type->size));
  const Outcome o = block ? ConvertValue(s, target->type, r, block, arena) : kNoMemoryLeft;
  if (o == kConverted && target->type->kind == api::kKindString) {
    const char *text = nullptr;
    std::memcpy(&text, block, sizeof text);
    if (!SetText(s, target, text)) OutOfMemory(s);
    return;
  }
  if (o == kConverted) std::memcpy(target->storage, block, target->type->size);
  LiteralFinish(s, target, o, arena, statement);
}

// "name = token": an address, a variable, a constant, or a literal into a
// variable that exists.
void AssignToken(State *s, const char *name, char *r, const char *statement) {
  Variable *target = FindVariable(s, name);
  if (r[0] == '&')
    AssignAddress(s, name, target, r, statement);
  else if (Variable *source = FindVariable(s, r); source != nullptr && !StartsLiteral(r[0]))
    AssignCopy(s, name, target, source, statement);
  else if (const api::VtApiConstant *c = api::FindConstant(r))
    AssignConstant(s, name, target, c, statement);
  else if (target == nullptr)
    Error(s, kMsgBadRight, statement);
  else if (target->form == kArray)
    AssignArray(s, target, r, statement);
  else if (target->form == kPointerTo)
    AssignNull(s, target, r, statement);
  else
    AssignValue(s, target, r, statement);
}

// "name = right": the right is a call whose result the name takes, or one
// token.
void Assign(State *s, char *left, char *right, const char *statement) {
  char *name = AssignedName(s, left, statement);
  if (name == nullptr) return;
  char *tokens[kMostTokens];
  size_t n = 0;
  char *cursor = right;
  while (n < kMostTokens && (tokens[n] = NextToken(&cursor)) != nullptr) ++n;
  if (n == 0) {
    Error(s, kMsgBadRight, statement);
    return;
  }
  if (const VtApiFunction *fn = api::FindFunction(tokens[0])) {
    Call(s, fn, tokens + 1, n - 1, statement, name);
    return;
  }
  if (n != 1) {
    Error(s, kMsgBadRight, statement);
    return;
  }
  AssignToken(s, name, tokens[0], statement);
}

void Execute(State *s, char *line) {
  char *c = line;
  while (*c == ' ' || *c == '\t') ++c;
  if (*c == 0 || *c == '#') return;
  Text statement;
  statement.Add(c);
  if (!statement.ok) {
    OutOfMemory(s);
    return;
  }
  // The first "=" not after a double quote makes an assignment.
  char *equals = nullptr;
  for (char *q = c; *q && *q != '"'; ++q)
    if (*q == '=') {
      equals = q;
      break;
    }
  if (equals != nullptr) {
    *equals = 0;
    char *right = equals + 1;
    bool left_empty = true;
    for (char *q = c; *q; ++q) left_empty = left_empty && (*q == ' ' || *q == '\t');
    if (left_empty) {
      Error(s, kMsgNoName, statement.p);
      return;
    }
    bool right_empty = true;
    for (char *q = right; *q; ++q) right_empty = right_empty && Delimiter(*q);
    if (right_empty) {
      Error(s, kMsgBadRight, statement.p);
      return;
    }
    Assign(s, c, right, statement.p);
    return;
  }
  char *cursor = c;
  char *first = NextToken(&cursor);
  if (first == nullptr) return;
  if (std::strcmp(first, "alias") == 0) {
    Say("\ntemporary message: alias command not yet implemented!\n");
  } else if (std::strcmp(first, "exit") == 0) {
    s->stop = true;
  } else if (std::strcmp(first, "quit") == 0) {
    s->stop = s->quit = true;
  } else if (std::strcmp(first, "feedback") == 0) {
    s->feedback = true;
    Post(VO_CLASS_DEBUG, kMsgFeedbackOn, kModule);
  } else if (std::strcmp(first, "nofeedback") == 0) {
    s->feedback = false;
    Post(VO_CLASS_DEBUG, kMsgFeedbackOff, kModule);
  } else if (std::strcmp(first, "help") == 0) {
    Help(s, NextToken(&cursor));
  } else if (std::strcmp(first, "print") == 0) {
    Print(s, NextToken(&cursor));
  } else if (std::strcmp(first, "source") == 0) {
    Source(s, cursor);
  } else if (const VtApiFunction *fn = api::FindFunction(first)) {
    char *tokens[kMostTokens];
    size_t n = 0;
    while (n < kMostTokens && (tokens[n] = NextToken(&cursor)) != nullptr) ++n;
    if (n == kMostTokens && NextToken(&cursor) != nullptr) {
      Error(s, kMsgArgument, statement.p, static_cast<int32_t>(n + 1), "");
      return;
    }
    Call(s, fn, tokens, n, statement.p, nullptr);
  } else {
    // A declaration: a type name (with "*", "[n]" or "[]") and a name.
    Text base;
    base.Add(first);
    if (!base.ok) {
      OutOfMemory(s);
      return;
    }
    char *b = base.p;
    b[std::strcspn(b, "[*")] = 0;
    if (TypeByName(b) != nullptr) {
      if (std::strstr(first, "[]") != nullptr) {
        Error(s, kMsgArrayWithoutCount, statement.p);
        return;
      }
      Declare(s, first, NextToken(&cursor), statement.p);
    } else if (first[0] == 'V' && first[1] == 't' && NextToken(&cursor) != nullptr) {
      Error(s, kMsgUnknownType, first);
    } else {
      Error(s, kMsgUnknownFunction, statement.p);
    }
  }
}

// ---- Reading ---------------------------------------------------------------------------------

bool Grow(State *s, size_t need) {
  if (need <= s->line_capacity) return true;
  size_t cap = s->line_capacity ? s->line_capacity : kFirstLine;
  while (cap < need) cap *= 2;
  if (cap > UINT32_MAX) return false;
  auto *p = static_cast<char *>(VoMemoryReallocate(s->line, static_cast<uint32_t>(cap)));
  if (p == nullptr) return false;
  s->line = p;
  s->line_capacity = cap;
  return true;
}

int NextByte(Input *in) {
  if (in->prefix_at < in->prefix_fill) return in->prefix[in->prefix_at++];
  return std::getc(in->file);
}

// Appends one physical line at fill; false at the end of the input with
// nothing read. Lines of any length.
bool ReadLine(State *s, Input *in, size_t *fill, bool *no_memory) {
  if (in->file == nullptr) {
    constexpr size_t kConsole = 65536;
    if (!Grow(s, *fill + kConsole + 1)) {
      *no_memory = true;
      return false;
    }
    Say("> ");
    s->line[*fill] = 0;
    const int32_t n = VoDriverReadLine(nullptr, s->line + *fill, static_cast<uint32_t>(kConsole));
    if (n < 0) return false;
    s->line[*fill + kConsole] = 0;
    *fill += std::strlen(s->line + *fill);
    return true;
  }
  bool any = false;
  for (;;) {
    const int c = NextByte(in);
    if (c == EOF) break;
    any = true;
    if (!Grow(s, *fill + 2)) {
      *no_memory = true;
      return false;
    }
    s->line[(*fill)++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (Grow(s, *fill + 1)) s->line[*fill] = 0;
  return any;
}

void ReadText(State *s, Input *in) {
  while (!s->stop) {
    size_t fill = 0;
    bool no_memory = false, have = false;
    for (;;) {
      const size_t start = fill;
      if (!ReadLine(s, in, &fill, &no_memory)) break;
      have = true;
      ++in->line;
      if (in->file != nullptr && Kernel() != nullptr && VoDriverCheckInterrupt(nullptr) == kInterrupt) {
        Report(s, kStatementError, kMsgInterrupted,
               static_cast<int32_t>(in->line > INT32_MAX ? INT32_MAX : in->line),
               in->name ? in->name : "stdin");
        s->stop = s->interrupted = true;
        return;
      }
      if (s->feedback && in->file != nullptr) {
        Text t;
        t.Add(s->line + start, fill - start);
        SayText(s, t);
      }
      while (fill > start &&
             (s->line[fill - 1] == '\r' || s->line[fill - 1] == '\n' || s->line[fill - 1] == ' '))
        --fill;
      s->line[fill] = 0;
      if (fill > start && s->line[fill - 1] == '\\') {
        s->line[fill - 1] = ' ';
        continue;
      }
      break;
    }
    if (no_memory) {
      OutOfMemory(s);
      return;
    }
    if (!have) return;
    s->line[fill] = 0;
    if (StartsWith(s->line, kJournalHeaderStart)) {
      // Another session's journal begins after a call that stopped the
      // library, or after the journal went on in another file (where the
      // session that wrote it ended): the caller starts the library again
      // and reads on from here. Otherwise the journal was switched on again
      // and its names start again: the old variables go.
      if (Kernel() == nullptr || in->moved_away) {
        s->stop = true;
        return;
      }
      FreeVariables(s);
      ++in->session;
    }
    if (StartsWith(s->line, kJournalMoved)) in->moved_away = true;
    Execute(s, s->line);
  }
}

// Reads the rest of a text input ahead for the files its journal sessions
// handed to the journal control: the comment that says so follows the
// VoFileOpen that made the file. The input is left where it was; one that
// cannot be read again (a pipe) is not read ahead. False when memory ran
// out.
bool JournalFilesFind(Input *in) {
  std::FILE *file = in->file;
  const long at = file != nullptr ? std::ftell(file) : -1;
  if (at < 0) return true;
  Text line;
  uint32_t session = 0;
  bool ok = true;
  for (int c = 0; c != EOF && ok;) {
    line.fill = 0;
    while ((c = std::getc(file)) != EOF && c != '\n') {
      const char byte = static_cast<char>(c);
      line.Add(&byte, 1);
    }
    line.Add("", 1);
    if (!line.ok) break;
    if (StartsWith(line.p, kJournalHeaderStart)) ++session;
    if (!StartsWith(line.p, kJournalMoved)) continue;
    const char *name = line.p + std::strlen(kJournalMoved);
    const size_t n = std::strcspn(name, "}");
    auto *j = static_cast<JournalFile *>(VoAllocate(static_cast<uint32_t>(sizeof(JournalFile) + n)));
    if (j == nullptr) {
      ok = false;
      break;
    }
    std::memcpy(j->name, name, n);
    j->name[n] = 0;
    j->session = session;
    j->next = in->journals;
    in->journals = j;
  }
  std::clearerr(file);
  return std::fseek(file, at, SEEK_SET) == 0 && ok && line.ok;
}

void JournalFilesFree(Input *in) {
  while (JournalFile *j = in->journals) {
    in->journals = j->next;
    VoDeallocate(j);
  }
}

VtStatus ReadInput(State *s, const char *name, std::FILE *file, bool close) {
  const VtStatus outer_status = s->status;
  s->status = 0;
  auto finish = [&](VtStatus extra) {
    if (close && file != nullptr) std::fclose(file);
    const VtStatus st = s->status | extra;
    s->status = outer_status | st;
    return st;
  };
  if (s->depth >= kMostNesting) {
    Report(s, kStatementError, kMsgSourceTooDeep, name ? name : "stdin", s->depth + 1, kMostNesting);
    s->stop = true;
    return finish(0);
  }
  auto *in = static_cast<Input *>(VoAllocate(sizeof(Input)));
  char *copy = name ? TextCopy(name) : nullptr;
  if (in == nullptr || (name != nullptr && copy == nullptr)) {
    VoDeallocate(in);
    VoDeallocate(copy);
    return finish(kNoMemory);
  }
  *in = Input{};
  in->name = copy;
  in->file = file;
  in->close = close;
  in->previous = s->top;
  s->top = in;
  ++s->depth;
  const bool found = file == nullptr || JournalFilesFind(in);
  if (!found) OutOfMemory(s);
  if (file != nullptr && found) {
    in->prefix_fill = std::fread(in->prefix, 1, 4, file);
    if (in->prefix_fill == 4 && in->prefix[0] == 0xFE && std::memcmp(in->prefix + 1, "VXB", 3) == 0) {
      // A binary command file: read whole, then run.
      Text data;
      data.Add(reinterpret_cast<const char *>(in->prefix), 4);
      char chunk[65536];
      for (size_t n; data.ok && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) data.Add(chunk, n);
      if (!data.ok)
        OutOfMemory(s);
      else
        ReadBinary(s, reinterpret_cast<const unsigned char *>(data.p), data.fill, name ? name : "stdin");
    } else {
      ReadText(s, in);
    }
  } else if (file == nullptr) {
    ReadText(s, in);
  }
  JournalFilesFree(in);
  --s->depth;
  s->top = in->previous;
  VoDeallocate(in->name);
  VoDeallocate(in);
  // The enclosing input goes on unless "quit" was given, or an interrupt
  // stopped this one and the enclosing input is itself nested.
  if (s->quit) {
    s->stop = true;
  } else if (s->interrupted && s->depth > 1) {
    s->stop = true;
  } else {
    s->stop = false;
    s->interrupted = false;
  }
  return finish(0);
}

}  // namespace

State *Current() { return t_state; }

VtStatus ReadInputOuter(const char *name, void *file) {
  State *s = t_state;
  const bool outer = s == nullptr;
  if (outer) {
    s = static_cast<State *>(VoAllocate(sizeof(State)));
    if (s == nullptr) return kNoMemory;
    std::memset(static_cast<void *>(s), 0, sizeof(State));
    if (!Grow(s, kFirstLine)) {
      VoDeallocate(s);
      return kNoMemory;
    }
    t_state = s;
  }
  const VtStatus status = ReadInput(s, name, static_cast<std::FILE *>(file), false);
  if (outer) {
    FreeVariables(s);
    AnswersFree(&s->answers);
    Arena::FreeChain(s->kept);
    VoDeallocate(s->line);
    VoDeallocate(s);
    t_state = nullptr;
  }
  return status;
}

}  // namespace vo::interp

namespace vo {
VtStatus VoInterpreterReadInput(const char *name, void *file) { return interp::ReadInputOuter(name, file); }
}  // namespace vo

// apigen: turns the interface description (*.api files) into the public
// declarations, the internal implementation declarations and the table of
// exported procedures with their wrappers and call thunks.
//
// File format (one declaration per line; '#' starts a comment; a procedure
// declaration may run over several lines until its parentheses close):
//
//   include <vo/header.h>        public header the declarations need
//   module <registry-name> <n>   following procedures belong to module n
//   handle <Type>                opaque handle: C type "Type *", value type 12
//   record <Type>                a handle whose record a public header defines
//                                (with its typedef): no typedef is generated
//   functype <Type>              procedure type declared in a public header
//   struct <Type> <code>         record passed by address, value type <code>
//   tagged <Type>                record passed by address whose value's form
//                                its type word gives (VtObjectValue), by the
//                                "case" lines that follow; the "#:" lines
//                                before it say what the table cannot
//   case <Type> <word> <carried> <ValueType>[<count>]
//                                the form of the tagged record's value for a
//                                type word: carried "area" (in the value
//                                area, <count> values), "address" (the value
//                                word holds the value's address), "object"
//                                (the value word holds the object, a handle)
//                                or "none"
//   fn <Result> <Name>(<param>, ...)
//   shape <Name> <procedure>     vo::<procedure> gives, from a call's arguments,
//                                type and count of arrays and pointed-to data
//                                that the declaration cannot size
//   stopped <Name> <answer>      what the procedure answers while no kernel
//                                exists, in place of the usual answer (below)
//   during <class> <Name>... [: <note>]
//                                what the named procedures do while a render
//                                runs: read, utility (an immediate memory,
//                                file or lock utility), immediate, change,
//                                release, nested or refused:<message>; the
//                                note says how the class depends on the
//                                arguments. Every procedure has one class
//   during <class> <Name> if <condition> [answer <param>] : refused with message <n> ...
//                                a class with a refusal for some arguments:
//                                the condition is clauses joined by "or",
//                                each atoms joined by "and", an atom a kind
//                                with the parameters it looks at,
//                                "held(list)" (ApiCondition, api_table.h:
//                                given, held, held-by-caller, read,
//                                members-read, used; it holds for any of
//                                them). The wrapper refuses the call with
//                                the note's message when it holds while a
//                                render runs, answering the parameter named
//                                by "answer" (else a refusal's answer); a
//                                note declaring a refusal needs a condition
//   calledback <Name>...         procedures the library calls back while it
//                                posts a diagnostic (the error handler, and
//                                what a handler posts with): while a render
//                                runs they are not refused on a thread
//                                that is posting, whatever their class
//   object <Name> <param>|scene  the parameter names the object the call
//                                changes or gives back (a handle, or a
//                                class's instance data), or the call
//                                changes the scene's own settings: while a
//                                render holds that object, the wrapper
//                                makes the call wait for the render's end
//                                (a change or a release), or refuses it
//                                with 2902 when it answers a handle or
//                                writes an output
//   sets <Name> <param>          the handle parameter names what the call
//                                sets into a holder (a slot, a scene
//                                setting, the light list): a call waiting
//                                for a render's end holds it until made
//   #: <text>                    a line of the public header's comment on the
//                                procedure declared next; the first line says
//                                in at most 100 characters what it does, the
//                                others what an application must know that the
//                                declaration cannot say
//   points, streamcode           what a script may give a pointer parameter
//                                (see "Pointer rules" below)
//   #= <param>: <text>           how many elements the open array <param> of
//                                the procedure declared next holds, in words
//                                (for the reference; every open array has one)
//
// A parameter is "[in|out|inout] <Type> <name>[<count>]"; <count> is a number,
// the name of another parameter, that name times a number ("n*3"), or empty
// for an open array.
//
// A procedure with a parameter of a handle, record or pointer type (other
// than VtGenericPtr) needs a running library: while no kernel exists (before
// VoInitialise or VoSystemInitialise, after VoTerminate) its wrapper answers
// VO_STATUS_NOT_INITIALISED, null or 0, or nothing, without calling it.
//
// Besides the declarations and the table of procedures it writes the table
// of type names, a source listing the public headers' integer VO_ macros
// and enumerators, whose values the compiler works out, and the linker's
// version script, which exports the declared procedures and nothing else.
//
// With -s it writes the document given (docs/rendering.md) with the lines
// between its two generated-lines markers made from the table: the
// procedures of the change, release, nested and refused classes.
//
// With -d it also writes the API reference (Markdown): per module, each
// procedure's declaration, comment, and its parameters' directions and array
// sizes. Each -r names a description file whose procedures must all carry a
// comment.
//
// Usage: apigen <out-public-header> <out-impl-header> <out-table-cpp>
//               [-c <out-constants-cpp> <public-header-dir>]
//               [-v <out-version-script>] [-d <out-reference>]
//               [-s <document> <out-document>]
//               [-r <file>]... files...

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <filesystem>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// In the order of the table's kind numbers (api_table.h, ApiKind).
enum class Kind { Void, Scalar, String, Pointer, Handle, Func, Struct, Typed, Data, Tagged };

struct TypeInfo {
  std::string ctype;  // C spelling of the value type
  int code = 0;       // value-type code
  Kind kind = Kind::Scalar;
};

struct Param {
  std::string dir = "in";  // in, out, inout
  std::string type;
  std::string name;
  bool array = false;
  bool sets = false;  // a "sets" line names it: the call sets its object into a holder
  std::string count;  // fixed number, parameter name or empty
  int scale = 1;      // elements per unit of the counting parameter
};

struct Function {
  std::string result;
  std::string name;
  std::vector<Param> params;
  std::string module;
  int module_number = 0;
  int index = 0;
  std::string where;
  std::string shape;                           // internal procedure sizing its data, or empty
  std::string stopped;                         // its answer while no kernel exists, or empty
  std::vector<std::string> note;               // the public header's comment lines
  std::string file;                            // the description file that declares it
  std::map<std::string, std::string> sizes;    // open array -> its size in words
  int during = -1;                             // its class while a render runs (DuringClass), -1 none
  int during_message = 0;                      // the refused class's message, or the note's refusal's
  std::string during_note;                     // how the class depends on the arguments
  std::string during_if;                       // the refusal's condition as written, or empty
  std::string during_answer;                   // the parameter a refusal by it answers, or empty
  std::vector<std::array<int, 3>> conditions;  // its atoms: kind, clause, parameter bits
  int refused_answer = -1;
  bool called_back = false;  // a "calledback" line names it
  int object = -1;           // an "object" line: the parameter naming what it changes, kObjectScene, or -1
};

// What an "object" line names instead of a parameter: the scene's own
// settings (the lists, the background, the current view...), which a
// running render always holds.
constexpr int kObjectScene = -2;

// The "#:" and "#=" lines read since the last procedure, for the next one.
std::vector<std::string> g_note;
std::vector<std::pair<std::string, std::string>> g_block_sizes;

// The longest first comment line: the one-line summary a reader scans.
constexpr size_t kSummaryLimit = 100;

std::map<std::string, TypeInfo> g_types;
std::vector<std::string> g_includes;
std::vector<std::string> g_handles;
std::vector<Function> g_functions;
struct ShapeLine {
  std::string function, procedure, where;
  ShapeLine(std::string f, std::string p, std::string w)
      : function(std::move(f)), procedure(std::move(p)), where(std::move(w)) {}
};
std::vector<ShapeLine> g_shapes;
std::vector<ShapeLine> g_stopped;      // stopped lines: procedure, answer, where
std::vector<ShapeLine> g_sets;         // sets lines: procedure, parameter, where
std::vector<ShapeLine> g_called_back;  // calledback lines: procedure, "", where
std::vector<ShapeLine> g_objects;      // object lines: procedure, parameter or "scene", where

// One form of a tagged record's value.
struct CaseLine {
  std::string record;
  uint32_t word = 0;
  std::string carried;  // area, address, object, none
  std::string type;     // value type name
  int count = 1;
};
std::vector<CaseLine> g_cases;
// The "#:" lines read before each tagged record.
std::map<std::string, std::vector<std::string>> g_tagged_notes;
int g_errors = 0;

void Fail(const std::string &where, const std::string &what) {
  std::fprintf(stderr, "%s: error: %s\n", where.c_str(), what.c_str());
  ++g_errors;
}

void AddBuiltinTypes() {
  g_types["void"] = {"void", 0, Kind::Void};
  g_types["VtVoid"] = {"void", 0, Kind::Void};
  g_types["VtInt32"] = {"int32_t", 1, Kind::Scalar};
  g_types["VtNat32"] = {"uint32_t", 2, Kind::Scalar};
  g_types["VtFloat"] = {"float", 3, Kind::Scalar};
  g_types["VtDouble"] = {"double", 4, Kind::Scalar};
  g_types["VtEnum"] = {"int32_t", 5, Kind::Scalar};
  g_types["VtBoolean"] = {"uint32_t", 6, Kind::Scalar};
  g_types["VtString"] = {"const char *", 10, Kind::String};
  g_types["VtGenericPtr"] = {"void *", 11, Kind::Pointer};
  g_types["VtWord"] = {"uintptr_t", 11,
                       Kind::Scalar};  // a pointer-sized integer (keys that are often addresses)
  g_types["VtStatus"] = {"VtStatus", 21, Kind::Scalar};
  g_types["VtProc"] = {"VtProc", 22, Kind::Func};
  g_types["VtData"] = {"void *", 28, Kind::Data};
  g_types["VtFlags"] = {"uint32_t", 39, Kind::Scalar};
  g_types["VtNat8"] = {"uint8_t", 45, Kind::Scalar};
  g_types["VtTypedValue"] = {"VtTypedValue", 0, Kind::Typed};
  g_types["VtColour"] = {"VtColour", 7, Kind::Struct};
  g_types["VtBounds"] = {"VtBounds", 44, Kind::Struct};
}

// The type names in the order they became known (the type table's order).
std::vector<std::string> TypeOrder() {
  std::vector<std::string> names;
  for (const auto &[name, t] : g_types) names.push_back(name);
  return names;
}

std::string Trim(const std::string &s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

std::vector<std::string> Words(const std::string &s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

bool IsIdent(const std::string &s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

// Index of the parameter with this name, or -1.
int ParamIndex(const std::vector<Param> &params, const std::string &name) {
  for (size_t i = 0; i < params.size(); ++i)
    if (params[i].name == name) return static_cast<int>(i);
  return -1;
}

bool ParseParam(const std::string &text, Param *p, const std::string &where) {
  std::string t = Trim(text);
  std::string count;
  size_t lb = t.find('[');
  if (lb != std::string::npos) {
    size_t rb = t.find(']', lb);
    if (rb == std::string::npos || Trim(t.substr(rb + 1)) != "") {
      Fail(where, "bad array parameter '" + text + "'");
      return false;
    }
    p->array = true;
    count = Trim(t.substr(lb + 1, rb - lb - 1));
    t = Trim(t.substr(0, lb));
  }
  std::vector<std::string> w = Words(t);
  if (!w.empty() && (w[0] == "in" || w[0] == "out" || w[0] == "inout")) {
    p->dir = w[0];
    w.erase(w.begin());
  }
  if (w.size() != 2 || !IsIdent(w[1])) {
    Fail(where, "bad parameter '" + text + "'");
    return false;
  }
  p->type = w[0];
  p->name = w[1];
  size_t star = count.find('*');
  if (star != std::string::npos) {
    std::string scale = Trim(count.substr(star + 1));
    count = Trim(count.substr(0, star));
    if (scale.empty() || scale.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(scale.c_str()) <= 0 || !IsIdent(count)) {
      Fail(where, "bad array count in '" + text + "'");
      return false;
    }
    p->scale = std::atoi(scale.c_str());
  }
  p->count = count;
  if (!g_types.count(p->type)) {
    Fail(where, "unknown type '" + p->type + "'");
    return false;
  }
  if (g_types[p->type].kind == Kind::Void) {
    Fail(where, "void parameter");
    return false;
  }
  return true;
}

// A comment must close where apigen closes it, and its summary must fit one
// line of the reference.
void CheckNote(const Function &f) {
  for (const std::string &line : f.note)
    if (line.find("*/") != std::string::npos || line.find("/*") != std::string::npos)
      Fail(f.where, "comment of '" + f.name + "' holds a C comment delimiter");
  if (!f.note.empty() && f.note[0].size() > kSummaryLimit)
    Fail(f.where, "first comment line of '" + f.name + "' is longer than " + std::to_string(kSummaryLimit) +
                      " characters");
}

// Gives the "#=" lines read before the procedure to its open arrays; an open
// array without one would leave the reference unable to say its size.
void TakeSizes(Function *f) {
  for (const auto &[name, text] : g_block_sizes) {
    int at = ParamIndex(f->params, name);
    if (at < 0 || !f->params[at].array || !f->params[at].count.empty())
      Fail(f->where, "size line for '" + name + "', which is no open array of '" + f->name + "'");
    else
      f->sizes[name] = text;
  }
  g_block_sizes.clear();
  for (const Param &p : f->params)
    if (p.array && p.count.empty() && !f->sizes.count(p.name))
      Fail(f->where, "open array '" + p.name + "' of '" + f->name + "' has no size line (#=)");
}

void ParseFunction(const std::string &text, const std::string &module, int number, int index,
                   const std::string &where) {
  size_t lp = text.find('('), rp = text.rfind(')');
  if (lp == std::string::npos || rp == std::string::npos || rp < lp) {
    Fail(where, "bad procedure declaration");
    return;
  }
  std::vector<std::string> head = Words(text.substr(0, lp));
  if (head.size() != 3 || head[0] != "fn") {
    Fail(where, "expected 'fn <Result> <Name>('");
    return;
  }
  Function f;
  f.result = head[1];
  f.name = head[2];
  f.module = module;
  f.module_number = number;
  f.index = index;
  f.where = where;
  f.file = where.substr(0, where.rfind(':'));
  if (!g_types.count(f.result)) {
    Fail(where, "unknown result type '" + f.result + "'");
    return;
  }
  if (module.empty()) {
    Fail(where, "procedure before any 'module' line");
    return;
  }
  std::string inner = Trim(text.substr(lp + 1, rp - lp - 1));
  if (!inner.empty() && inner != "void") {
    std::string cur;
    int depth = 0;
    for (char c : inner + ",") {
      if (c == '[') ++depth;
      if (c == ']') --depth;
      if (c == ',' && depth == 0) {
        Param p;
        if (ParseParam(cur, &p, where)) f.params.push_back(p);
        cur.clear();
      } else {
        cur += c;
      }
    }
  }
  for (const Param &p : f.params) {
    if (p.array && !p.count.empty() && !std::isdigit(static_cast<unsigned char>(p.count[0])) &&
        ParamIndex(f.params, p.count) < 0)
      Fail(where, "array count '" + p.count + "' names no parameter");
  }
  f.note.swap(g_note);
  CheckNote(f);
  TakeSizes(&f);
  g_functions.push_back(f);
}

// "<param>: <text>", kept for the next procedure.
void ReadSizeLine(const std::string &text, const std::string &where) {
  size_t colon = text.find(':');
  std::string name = colon == std::string::npos ? "" : Trim(text.substr(0, colon));
  std::string size = colon == std::string::npos ? "" : Trim(text.substr(colon + 1));
  if (!IsIdent(name) || size.empty())
    Fail(where, "expected '#= <param>: <size>'");
  else
    g_block_sizes.emplace_back(name, size);
}

// "case <Record> <word> <carried> <Type>[<count>]"
void ReadCase(const std::vector<std::string> &w, const std::string &where) {
  CaseLine c;
  c.record = w[1];
  c.word = static_cast<uint32_t>(std::strtoul(w[2].c_str(), nullptr, 0));
  c.carried = w[3];
  std::string type = w[4];
  size_t lb = type.find('[');
  if (lb != std::string::npos) {
    c.count = std::atoi(type.c_str() + lb + 1);
    type = type.substr(0, lb);
  }
  c.type = type;
  if (!g_types.count(c.record) || g_types[c.record].kind != Kind::Tagged)
    Fail(where, "case of '" + c.record + "', which is no tagged record");
  else if (!g_types.count(c.type))
    Fail(where, "unknown type '" + c.type + "'");
  else if (c.carried != "area" && c.carried != "address" && c.carried != "object" && c.carried != "none")
    Fail(where, "carried must be area, address, object or none");
  else if (c.count < 1 || c.count > 16)
    Fail(where, "bad count in '" + w[4] + "'");
  else
    g_cases.push_back(c);
}

// ---- Classes while a render runs ----------------------------------------------

// In the order of api_table.h's ApiDuring: while a render runs the wrapper
// refuses a call from a second application thread unless its class is read
// or utility, and a call of the refused class on any thread.
const char *const kDuringNames[] = {"read", "utility", "immediate", "change", "release", "nested", "refused"};
constexpr int kDuringCount = 7;
constexpr int kDuringChange = 3;
constexpr int kDuringRelease = 4;
constexpr int kDuringRefused = 6;

struct DuringLine {
  int cls = -1;
  int message = 0;
  std::vector<std::string> names;
  std::string note, where;
  std::string condition, answer;  // after "if" and "answer", or empty
};

// In the order of api_table.h's ApiCondition.
const char *const kConditionNames[] = {"given", "held", "held-by-caller", "read", "members-read", "used"};
constexpr int kConditionCount = 6;
std::vector<DuringLine> g_during;

// "during <class> <Name>... [: <note>]"
void ReadDuring(const std::string &text, const std::string &where) {
  DuringLine d;
  d.where = where;
  std::string head = text;
  size_t colon = text.find(" : ");
  if (colon != std::string::npos) {
    head = text.substr(0, colon);
    d.note = Trim(text.substr(colon + 3));
  }
  std::vector<std::string> w = Words(head);
  // "if <condition> [answer <param>]" after the one procedure named.
  const auto at_if = std::find(w.begin(), w.end(), "if");
  if (at_if != w.end()) {
    auto at_answer = std::find(at_if, w.end(), "answer");
    if (at_answer != w.end()) {
      if (at_answer + 2 != w.end() || !IsIdent(at_answer[1]))
        Fail(where, "'answer' names no one parameter");
      else
        d.answer = at_answer[1];
    }
    for (auto it = at_if + 1; it != at_answer; ++it) d.condition += (it == at_if + 1 ? "" : " ") + *it;
    if (d.condition.empty()) Fail(where, "'if' declares no condition");
    w.erase(at_if, w.end());
  }
  std::string cls = w.size() > 1 ? w[1] : "";
  if (cls.rfind("refused:", 0) == 0) {
    d.message = std::atoi(cls.c_str() + 8);
    cls = "refused";
    if (d.message <= 0) Fail(where, "refused class without its message number");
  }
  for (int i = 0; i < kDuringCount; ++i)
    if (cls == kDuringNames[i]) d.cls = i;
  if (d.cls < 0) {
    Fail(where, "unknown class while a render runs '" + cls + "'");
    return;
  }
  // A note that declares a refusal for some arguments gives its message to
  // the table too, so that a test tells a declared refusal from a fault.
  static const std::string kNoteRefusal = "refused with message ";
  if (d.cls != kDuringRefused && d.note.rfind(kNoteRefusal, 0) == 0) {
    d.message = std::atoi(d.note.c_str() + kNoteRefusal.size());
    if (d.message <= 0) Fail(where, "a note's refusal without its message number");
  }
  if (w.size() < 3) Fail(where, "class while a render runs names no procedure");
  if (!d.note.empty() && w.size() != 3) Fail(where, "a class's note names one procedure");
  if (d.cls != kDuringRefused && d.message > 0 && d.condition.empty())
    Fail(where, "a note's refusal without the condition the wrapper judges (if)");
  if (!d.condition.empty() && (d.cls == kDuringRefused || d.message <= 0))
    Fail(where, "a condition (if) without a note's refusal to make");
  for (size_t i = 2; i < w.size(); ++i) {
    if (!IsIdent(w[i])) Fail(where, "bad procedure name '" + w[i] + "'");
    d.names.push_back(w[i]);
  }
  g_during.push_back(std::move(d));
}

// Whether parameter p may be looked at by an atom of kind k (ApiCondition).
bool ConditionFits(int kind, const Param &p) {
  const Kind k = g_types[p.type].kind;
  if (kind == 0) {  // given: a four-byte value by value or in-out, a handle, an output address
    const bool word = k == Kind::Scalar && p.type != "VtDouble" && p.type != "VtWord" && p.type != "VtNat8";
    if (p.array) return false;
    if (p.dir == "in") return word || k == Kind::Handle;
    if (p.dir == "inout") return word;
    return k == Kind::Handle;
  }
  if (p.dir != "in" || p.array || k != Kind::Handle) return false;
  if (kind == 3) return p.type == "VtPrimitive";
  if (kind == 5) return p.type == "VtMaterial";
  if (kind == 1) return true;  // held: any object the running render's held set may name
  return p.type == "VtReference";
}

// The procedure's condition as atoms, each "<kind>(<param>,...)".
void ConditionRead(Function *f, const std::string &where) {
  if (f->during_if.empty()) return;
  std::string text = f->during_if;
  int clause = 0;
  std::string atom;
  auto take = [&](const std::string &word) {
    const size_t open = word.find('(');
    if (open == std::string::npos || word.back() != ')') {
      Fail(where, "a condition's atom '" + word + "' of '" + f->name + "' is no <kind>(<param>,...)");
      return;
    }
    const std::string kind = word.substr(0, open);
    const int k = static_cast<int>(std::find(kConditionNames, kConditionNames + kConditionCount, kind) -
                                   kConditionNames);
    if (k == kConditionCount) {
      Fail(where, "unknown condition '" + kind + "' of '" + f->name + "'");
      return;
    }
    int bits = 0;
    std::string names = word.substr(open + 1, word.size() - open - 2);
    std::replace(names.begin(), names.end(), ',', ' ');
    if (Words(names).empty())
      Fail(where, "condition '" + kind + "' of '" + f->name + "' looks at no parameter");
    for (const std::string &name : Words(names)) {
      const int at = ParamIndex(f->params, name);
      if (at < 0 || !ConditionFits(k, f->params[at]))
        Fail(where, "condition '" + kind + "' of '" + f->name + "' looks at '" + name +
                        "', which is no parameter it can judge");
      else
        bits |= 1 << at;
    }
    f->conditions.push_back({k, clause, bits});
  };
  // Atoms are the words but "and" and "or"; spaces inside parentheses join.
  std::string word;
  int depth = 0;
  for (char c : text + " ") {
    depth += c == '(' ? 1 : c == ')' ? -1 : 0;
    if (c != ' ' || depth > 0) {
      word += c;
      continue;
    }
    if (word.empty()) continue;
    if (word == "or") {
      ++clause;
    } else if (word != "and") {
      take(word);
    }
    word.clear();
  }
  if (!f->during_answer.empty()) {
    const int at = ParamIndex(f->params, f->during_answer);
    if (at < 0 || f->params[at].dir != "in" || f->params[at].type != f->result)
      Fail(where, "'answer' of '" + f->name + "' names no input parameter of its result's type");
    else
      f->refused_answer = at;
  }
}

// Gives each procedure its class; a procedure named twice, an undeclared
// one, or one without a class fails the build.
void ApplyDuring() {
  std::map<std::string, Function *> by_name;
  for (Function &f : g_functions) by_name[f.name] = &f;
  for (const DuringLine &d : g_during)
    for (const std::string &name : d.names) {
      auto it = by_name.find(name);
      if (it == by_name.end()) {
        Fail(d.where, "class while a render runs of an undeclared procedure '" + name + "'");
      } else if (it->second->during >= 0) {
        Fail(d.where, "second class while a render runs of '" + name + "'");
      } else {
        it->second->during = d.cls;
        it->second->during_message = d.message;
        it->second->during_note = d.note;
        it->second->during_if = d.condition;
        it->second->during_answer = d.answer;
        ConditionRead(it->second, d.where);
      }
    }
  for (const Function &f : g_functions)
    if (f.during < 0)
      Fail(f.where, "procedure '" + f.name + "' declares no class while a render runs (during)");
}

// The class as the reference writes it.
std::string DuringText(const Function &f) {
  std::string text = f.during == kDuringRefused ? "refused (message " + std::to_string(f.during_message) + ")"
                                                : std::string(kDuringNames[f.during]);
  if (!f.during_note.empty()) text += "; " + f.during_note;
  return text;
}

// The reference's table of classes: what each means and its procedures.
void ReferenceDuring(std::ostringstream &o) {
  static const char *const kMeaning[] = {
      "changes nothing; allowed on any application thread",
      "an immediate memory, file or lock utility; allowed on any application thread",
      "acts at once on what no running render reads (creations, the application's own objects)",
      "changes what a render reads: the running render does not see it, the next render does",
      ("gives an object back: it leaves the application at once and is freed when the outermost "
       "render ends"),
      "runs a render inside the running one, under the nesting rules",
      "refused with 0x20000012 and the message named"};
  o << "\n## Calls while a render runs\n\n"
    << "Each procedure's class while a render runs, from the interface description's `during`\n"
    << "lines (see [rendering.md](rendering.md#calls-while-a-render-runs)). While a render runs on\n"
    << "one application thread, a call of any class but read and utility entered on another is\n"
    << "refused with 0x20000012 and message 2908 before it touches anything.\n\n"
    << "| Class | Meaning | Procedures |\n| --- | --- | --- |\n";
  for (int c = 0; c < kDuringCount; ++c) {
    size_t count = 0;
    for (const Function &f : g_functions) count += f.during == c;
    o << "| " << kDuringNames[c] << " | " << kMeaning[c] << " | " << count << " |\n";
  }
  for (int c = 2; c < kDuringCount; ++c) {
    o << "\n### Class " << kDuringNames[c] << "\n\n";
    for (const Function &f : g_functions)
      if (f.during == c)
        o << "- `" << f.name << "`" << (f.during_note.empty() ? "" : ": " + DuringText(f)) << "\n";
  }
}

// ---- Pointer rules ------------------------------------------------------------
//
//   points <Name> <param> <rule>   what the input pointer parameter <param>
//                                  (or each element of a pointer array) may
//                                  be given by a script:
//     count <Type> <param>[*<n>]   the address of as many values of <Type> as
//                                  the counting parameter (times n) says
//     fixed <Type> [<n>]           the address of n values of <Type> (1)
//     shape                        the address of what the procedure's shape
//                                  gives for the parameter
//     stream                       a file VoFileOpen opened and VoFileClose
//                                  has not closed
//     opaque                       anything: the library keeps it or passes
//                                  it on, and never reads or writes through it
//     library <kind> [of <owner>]  a block of <kind> that a call answered
//                                  (kind "inner": records the library hands
//                                  only to its own code and the shaders it
//                                  calls, which no procedure answers); with
//                                  "of", only one that belongs to the value
//                                  of this call's handle parameter <owner>
//     object                       an object a call answered (a handle or a
//                                  block), which the procedure checks itself
//   blocks <kind> <Name>[.<param>]... [of <owner>]
//                                  the procedures that answer blocks of
//                                  <kind>: as their result, or written
//                                  through the output parameter <param>;
//                                  with "of", each block belongs to the
//                                  value of the maker's handle parameter
//                                  <owner> (a pool's element to the pool)
//   sizes <Name>[.<param>] <count> the bytes of the block the maker answers
//                                  (as its result, or through <param>): the
//                                  value of its input or output number
//                                  parameter <count>; a sized rule judges
//                                  such a block as it judges the script's
//                                  own data, and refuses a block of no size
//   owned <Name> of <owner>        the handle the procedure answers belongs
//                                  to the value of its handle parameter
//                                  <owner> (a sub-pool to its pool)
//   givesback <Name> <param>       the call gives back the block or handle
//                                  in <param>: the script's variables
//                                  holding it are forgotten, so that none
//                                  gives it twice, and so is everything it
//                                  owns
//   moves <Name> <from> <to>       the blocks the value of handle parameter
//                                  <from> owns belong to that of <to> after
//                                  the call (a sub-pool merged into its pool)
//   streamcode <Name> <value> <code> <CONSTANT>...
//                                  the typed value <value> is a stream (as
//                                  "stream" says) when the control code in
//                                  parameter <code> is one of the constants
//
// Every input parameter of a pointer or data type needs a rule: one added
// without one fails the build, so that no script reaches a pointer the
// interpreter cannot judge. A library rule without a kind, or with a kind no
// "blocks" line makes, fails too: a block of another kind or size never
// reaches the parameter. An owner ("of") must be an input handle
// parameter, and a kind's makers and library rules name one on both sides or
// on neither: a rule cannot judge an owner its makers do not record.

struct PointsLine {
  std::string function, param, where;
  std::vector<std::string> rule;
  std::string of;  // the owner parameter an "of" names
};
struct StreamCodeLine {
  std::string function, value, code, where;
  std::vector<std::string> codes;
};
std::vector<PointsLine> g_points;
std::vector<StreamCodeLine> g_stream_codes;
std::vector<PointsLine> g_gives_back;   // rule left empty
std::vector<PointsLine> g_blocks;       // function: the kind; rule: the makers
std::vector<PointsLine> g_owned;        // function: the maker; of: its owner
std::vector<PointsLine> g_moves;        // param: from; rule: {to}
std::vector<PointsLine> g_maker_sizes;  // function: the maker (with its .param); param: the count

// A resolved maker of a kind of block: its result (param -1) or an output parameter.
struct BlockMaker {
  size_t function = 0;
  int param = -1;
  std::string kind;
  int owner = -1;  // the owning handle parameter, or -1
  int size = -1;   // the number parameter giving its bytes, or -1
};
std::vector<BlockMaker> g_owned_handles;  // kind left empty
std::vector<BlockMaker> g_block_makers;
const char *const kInnerKind = "inner";

// A resolved rule, in the generated table's terms.
struct PointerRule {
  size_t function = 0;
  int param = 0;
  std::string rule;  // count, fixed, shape, stream, opaque, library
  std::string type;  // count and fixed: the element type; library: the kind
  int count = 0;     // fixed: the count; count: -(k + 1) for parameter k
  int scale = 1;
  int owner = -1;  // library: the parameter owning the block, or -1
};
std::vector<PointerRule> g_pointer_rules;

// Value types a rule may count besides the description's own: the records
// of the value-type table that no procedure passes by value.
const std::set<std::string> kRuleValueTypes = {"VtHPoint", "VtPoint",     "VtVector", "VtColour4",
                                               "VtNat8",   "VtDouble",    "VtFloat",  "VtInt32",
                                               "VtNat32",  "VtTypedValue"};

// The words from first on, an "of <owner>" at their end taken off into *of.
std::vector<std::string> WordsOwned(const std::vector<std::string> &w, size_t first, std::string *of) {
  std::vector<std::string> words(w.begin() + static_cast<long>(first), w.end());
  if (words.size() >= 2 && words[words.size() - 2] == "of") {
    *of = words.back();
    words.resize(words.size() - 2);
  }
  return words;
}

bool ReadPointerDirective(const std::vector<std::string> &w, const std::string &where) {
  if (w[0] == "points" && w.size() >= 4) {
    PointsLine line{w[1], w[2], where, {}, ""};
    line.rule = WordsOwned(w, 3, &line.of);
    g_points.push_back(line);
    return true;
  }
  if (w[0] == "blocks" && w.size() >= 3) {
    PointsLine line{w[1], "", where, {}, ""};
    line.rule = WordsOwned(w, 2, &line.of);
    g_blocks.push_back(line);
    return true;
  }
  if (w[0] == "owned" && w.size() == 4 && w[2] == "of") {
    g_owned.push_back({w[1], "", where, {}, w[3]});
    return true;
  }
  if (w[0] == "givesback" && w.size() == 3) {
    g_gives_back.push_back({w[1], w[2], where, {}, ""});
    return true;
  }
  if (w[0] == "sizes" && w.size() == 3) {
    g_maker_sizes.push_back({w[1], w[2], where, {}, ""});
    return true;
  }
  if (w[0] == "moves" && w.size() == 4) {
    g_moves.push_back({w[1], w[2], where, {w[3]}, ""});
    return true;
  }
  if (w[0] == "streamcode" && w.size() >= 5) {
    g_stream_codes.push_back({w[1], w[2], w[3], where, std::vector<std::string>(w.begin() + 4, w.end())});
    return true;
  }
  return false;
}

bool IsPointerParam(const Param &p) {
  const Kind k = g_types[p.type].kind;
  return p.dir == "in" && (k == Kind::Pointer || k == Kind::Data);
}

bool IsHandleParam(const Param &p) {
  return p.dir == "in" && !p.array && g_types[p.type].kind == Kind::Handle;
}

// The handle parameter of f an "of" names: its index, 0 or more; -1 when
// the line names none; -2 (reported) when it names no input handle.
int OwnerParam(const Function &f, const PointsLine &line) {
  if (line.of.empty()) return -1;
  const int k = ParamIndex(f.params, line.of);
  if (k >= 0 && IsHandleParam(f.params[k])) return k;
  Fail(line.where, "owner '" + line.of + "' of '" + f.name + "', which is no input handle parameter");
  return -2;
}

int FunctionAt(const std::string &name) {
  for (size_t i = 0; i < g_functions.size(); ++i)
    if (g_functions[i].name == name) return static_cast<int>(i);
  return -1;
}

// "count <Type> <param>[*n]" or "fixed <Type> [n]" into r; false (reported) when unsound.
bool ReadSizedRule(const Function &f, const PointsLine &line, PointerRule *r) {
  const std::vector<std::string> &w = line.rule;
  if (w.size() < 2 || (!g_types.count(w[1]) && !kRuleValueTypes.count(w[1]))) {
    Fail(line.where, "rule '" + w[0] + "' of '" + f.name + "' needs a value type");
    return false;
  }
  r->type = w[1];
  if (w[0] == "fixed") {
    r->count = w.size() == 3 ? std::atoi(w[2].c_str()) : 1;
    if (w.size() > 3 || r->count <= 0) Fail(line.where, "bad count of a fixed rule of '" + f.name + "'");
    return w.size() <= 3 && r->count > 0;
  }
  std::string count = w.size() == 3 ? w[2] : "";
  const size_t star = count.find('*');
  if (star != std::string::npos) {
    r->scale = std::atoi(count.c_str() + star + 1);
    count = count.substr(0, star);
  }
  const int k = ParamIndex(f.params, count);
  if (w.size() != 3 || k < 0 || r->scale <= 0 || g_types[f.params[k].type].kind != Kind::Scalar ||
      f.params[k].dir != "in" || f.params[k].array) {
    Fail(line.where, "a count rule of '" + f.name + "' names no counting parameter");
    return false;
  }
  r->count = -k - 1;
  return true;
}

bool IsPointerKind(const std::string &type) {
  const auto t = g_types.find(type);
  return t != g_types.end() && (t->second.kind == Kind::Pointer || t->second.kind == Kind::Data);
}

// The "blocks" lines: each maker a procedure's pointer result or output
// pointer parameter, named once.
void ResolveBlockMakers() {
  std::set<std::pair<size_t, int>> made;
  for (const PointsLine &line : g_blocks) {
    if (line.function == kInnerKind) {
      Fail(line.where, std::string("no procedure answers a block of kind '") + kInnerKind + "'");
      continue;
    }
    for (const std::string &maker : line.rule) {
      const size_t dot = maker.find('.');
      const int fi = FunctionAt(maker.substr(0, dot));
      const Function *f = fi < 0 ? nullptr : &g_functions[fi];
      int pi = -1;
      bool ok = f != nullptr;
      if (ok && dot == std::string::npos) {
        ok = IsPointerKind(f->result);
      } else if (ok) {
        pi = ParamIndex(f->params, maker.substr(dot + 1));
        ok = pi >= 0 && f->params[pi].dir == "out" &&
             (IsPointerKind(f->params[pi].type) || g_types[f->params[pi].type].kind == Kind::Tagged);
      }
      if (!ok) {
        Fail(line.where, "blocks of '" + line.function + "' by '" + maker +
                             "', which answers no pointer result or output pointer parameter");
        continue;
      }
      const int owner = OwnerParam(*f, line);
      if (owner == -2) continue;
      if (!made.insert({static_cast<size_t>(fi), pi}).second)
        Fail(line.where, "'" + maker + "' makes blocks of two kinds");
      else
        g_block_makers.push_back({static_cast<size_t>(fi), pi, line.function, owner});
    }
  }
  for (const PointsLine &line : g_maker_sizes) {
    const size_t dot = line.function.find('.');
    const int fi = FunctionAt(line.function.substr(0, dot));
    const int pi = fi < 0 || dot == std::string::npos
                       ? -1
                       : ParamIndex(g_functions[fi].params, line.function.substr(dot + 1));
    const int k = fi < 0 ? -1 : ParamIndex(g_functions[fi].params, line.param);
    const auto maker = std::find_if(g_block_makers.begin(), g_block_makers.end(), [&](const BlockMaker &m) {
      return fi >= 0 && m.function == static_cast<size_t>(fi) && m.param == pi;
    });
    if (maker == g_block_makers.end() || k < 0 ||
        g_types[g_functions[fi].params[k].type].kind != Kind::Scalar || g_functions[fi].params[k].array ||
        maker->size >= 0) {
      Fail(line.where,
           "sizes of '" + line.function + "' names no block maker (blocks) sized once by a number");
      continue;
    }
    maker->size = k;
  }
  for (const PointsLine &line : g_owned) {
    const int fi = FunctionAt(line.function);
    if (fi < 0 || g_types[g_functions[fi].result].kind != Kind::Handle) {
      Fail(line.where, "owned handle of '" + line.function + "', which answers no handle");
      continue;
    }
    const int owner = OwnerParam(g_functions[fi], line);
    if (owner >= 0) g_owned_handles.push_back({static_cast<size_t>(fi), -1, "", owner});
  }
}

// Whether the makers of kind record an owner (all do or none: a kind with
// both fails).
bool KindOwned(const std::string &kind, const std::string &where) {
  int owned = 0, unowned = 0;
  for (const BlockMaker &m : g_block_makers)
    if (m.kind == kind) (m.owner >= 0 ? owned : unowned) += 1;
  if (owned > 0 && unowned > 0) Fail(where, "makers of kind '" + kind + "' name an owner (of) and do not");
  return owned > 0;
}

// Whether kind is one a library rule may name: made by some procedure, or the inner kind.
bool KindMade(const std::string &kind) {
  return kind == kInnerKind || std::any_of(g_block_makers.begin(), g_block_makers.end(),
                                           [&](const BlockMaker &m) { return m.kind == kind; });
}

void ResolvePointerRules() {
  ResolveBlockMakers();
  std::set<std::pair<size_t, int>> ruled;
  for (const PointsLine &line : g_points) {
    const int fi = FunctionAt(line.function);
    const int pi = fi < 0 ? -1 : ParamIndex(g_functions[fi].params, line.param);
    if (pi < 0 || !IsPointerParam(g_functions[fi].params[pi])) {
      Fail(line.where,
           "points rule for '" + line.function + " " + line.param + "', which is no input pointer parameter");
      continue;
    }
    const Function &f = g_functions[fi];
    PointerRule r;
    r.function = static_cast<size_t>(fi);
    r.param = pi;
    r.rule = line.rule[0];
    bool ok = true;
    if (r.rule == "count" || r.rule == "fixed")
      ok = ReadSizedRule(f, line, &r);
    else if (r.rule != "shape" && r.rule != "stream" && r.rule != "opaque" && r.rule != "library" &&
             r.rule != "object")
      ok = false, Fail(line.where, "unknown pointer rule '" + r.rule + "'");
    else if (r.rule == "library" && line.rule.size() != 2)
      ok = false,
      Fail(line.where, "library rule of '" + f.name + " " + line.param + "' names no kind of block");
    else if (r.rule == "library" && !KindMade(line.rule[1]))
      ok = false, Fail(line.where, "library rule of '" + f.name + " " + line.param + "' names kind '" +
                                       line.rule[1] + "', which no procedure makes (blocks)");
    else if (r.rule != "library" && line.rule.size() != 1)
      ok = false, Fail(line.where, "rule '" + r.rule + "' takes nothing more");
    else if (r.rule == "shape" && f.shape.empty())
      ok = false, Fail(line.where, "shape rule of '" + f.name + "', which has no shape procedure");
    if (ok && !line.of.empty() && r.rule != "library")
      ok = false, Fail(line.where, "rule '" + r.rule + "' of '" + f.name + "' takes no owner (of)");
    if (ok && r.rule == "library") {
      r.owner = OwnerParam(f, line);
      ok = r.owner != -2;
      if (ok && (r.owner >= 0) != KindOwned(line.rule[1], line.where)) {
        ok = false;
        Fail(line.where, "library rule of '" + f.name + " " + line.param + "' and the makers of kind '" +
                             line.rule[1] + "': an owner (of) on one side only");
      }
    }
    if (!ok) continue;
    if (r.rule == "library") r.type = line.rule[1];
    if (!ruled.insert({r.function, pi}).second)
      Fail(line.where, "second rule for '" + f.name + " " + line.param + "'");
    else
      g_pointer_rules.push_back(r);
  }
  for (size_t fi = 0; fi < g_functions.size(); ++fi)
    for (size_t pi = 0; pi < g_functions[fi].params.size(); ++pi)
      if (IsPointerParam(g_functions[fi].params[pi]) && !ruled.count({fi, static_cast<int>(pi)}))
        Fail(g_functions[fi].where, "pointer parameter '" + g_functions[fi].params[pi].name + "' of '" +
                                        g_functions[fi].name + "' has no rule (points)");
  for (const PointsLine &line : g_gives_back) {
    const int fi = FunctionAt(line.function);
    const int pi = fi < 0 ? -1 : ParamIndex(g_functions[fi].params, line.param);
    if (pi < 0 || (!IsPointerParam(g_functions[fi].params[pi]) && !IsHandleParam(g_functions[fi].params[pi])))
      Fail(line.where, "givesback of '" + line.function + " " + line.param +
                           "', which is no input pointer or handle parameter");
  }
  for (const PointsLine &line : g_moves) {
    const int fi = FunctionAt(line.function);
    const int from = fi < 0 ? -1 : ParamIndex(g_functions[fi].params, line.param);
    const int to = fi < 0 ? -1 : ParamIndex(g_functions[fi].params, line.rule[0]);
    if (from < 0 || to < 0 || from == to || !IsHandleParam(g_functions[fi].params[from]) ||
        !IsHandleParam(g_functions[fi].params[to]))
      Fail(line.where, "moves of '" + line.function + "' names no two input handle parameters");
  }
  for (const StreamCodeLine &line : g_stream_codes) {
    const int fi = FunctionAt(line.function);
    const int vi = fi < 0 ? -1 : ParamIndex(g_functions[fi].params, line.value);
    const int ci = fi < 0 ? -1 : ParamIndex(g_functions[fi].params, line.code);
    if (vi < 0 || ci < 0 || g_types[g_functions[fi].params[vi].type].kind != Kind::Typed ||
        g_types[g_functions[fi].params[ci].type].kind != Kind::Scalar)
      Fail(line.where, "streamcode of '" + line.function + "' names no typed value and code parameter");
  }
}

// The procedures answering blocks of kind, for the reference.
std::string MakersWords(const std::string &kind) {
  std::string words;
  for (const BlockMaker &m : g_block_makers) {
    if (m.kind != kind) continue;
    const Function &f = g_functions[m.function];
    words += (words.empty() ? "answered by `" : ", `") + f.name +
             (m.param < 0 ? "`" : "` in `" + f.params[m.param].name + "`");
  }
  return words;
}

// The reference's words for a parameter's rule.
std::string RuleWords(const Function &f, const PointerRule &r) {
  // A sized rule takes the script's own data or a block of a known size.
  const std::string either = " (the script's own, or a block a call answered with its size)";
  if (r.rule == "count")
    return "the address of " + (r.scale > 1 ? std::to_string(r.scale) + " × " : "") + "`" +
           f.params[-r.count - 1].name + "` values of `" + r.type + "`" + either;
  if (r.rule == "fixed") return "the address of " + std::to_string(r.count) + " `" + r.type + "`" + either;
  if (r.rule == "shape") return "the address of what the call's other arguments size";
  if (r.rule == "stream") return "a file VoFileOpen opened";
  if (r.rule == "opaque") return "kept or passed on, never read or written through";
  if (r.rule == "object") return "an object a call answered, which the call checks";
  if (r.type == kInnerKind) return "nothing: the library's own record, which no call answers";
  return "a block of kind `" + r.type + "` (" + MakersWords(r.type) + ")" +
         (r.owner < 0 ? "" : " that belongs to the `" + f.params[r.owner].name + "` given");
}

void ReferencePointers(std::ostringstream &o, const Function &f) {
  const size_t fi = static_cast<size_t>(&f - g_functions.data());
  bool any = false;
  for (const PointerRule &r : g_pointer_rules) {
    if (r.function != fi) continue;
    const bool given = std::any_of(g_gives_back.begin(), g_gives_back.end(), [&](const PointsLine &line) {
      return line.function == f.name && line.param == f.params[r.param].name;
    });
    o << (any ? "" : "A script may give:\n\n") << "- `" << f.params[r.param].name << "`: " << RuleWords(f, r)
      << (given ? ", which the call gives back" : "") << "\n";
    any = true;
  }
  // Handles the call gives back, or whose blocks it hands over, and what its
  // answer belongs to.
  for (const PointsLine &line : g_gives_back) {
    const int pi = ParamIndex(f.params, line.param);
    if (line.function != f.name || pi < 0 || !IsHandleParam(f.params[pi])) continue;
    o << (any ? "" : "A script may give:\n\n") << "- `" << line.param
      << "`: a handle, which the call gives back with everything it owns\n";
    any = true;
  }
  for (const PointsLine &line : g_moves)
    if (line.function == f.name) {
      o << (any ? "" : "A script may give:\n\n") << "- `" << line.param
        << "`: a handle, whose blocks pass to `" << line.rule[0] << "`\n";
      any = true;
    }
  for (const BlockMaker &m : g_owned_handles)
    if (m.function == fi) {
      o << (any ? "" : "A script may give:\n\n") << "- `" << f.params[m.owner].name
        << "`: a handle, which owns the answer and takes it with it when given back\n";
      any = true;
    }
  for (const StreamCodeLine &line : g_stream_codes)
    if (line.function == f.name) {
      o << (any ? "" : "A script may give:\n\n") << "- `" << line.value << "`: a file VoFileOpen opened for";
      for (size_t i = 0; i < line.codes.size(); ++i) o << (i ? ", " : " ") << "`" << line.codes[i] << "`";
      o << "\n";
      any = true;
    }
  if (any) o << "\n";
}

std::string OwnerWord(int owner) { return owner < 0 ? "kNoOwner" : std::to_string(owner) + "u"; }

// The tables of rules, for the command interpreter (api_table.h).
std::string PointerRulesSource() {
  std::ostringstream o;
  o << "\nnamespace vo::api {\n\nconst VtApiPointerRule kPointerRules[] = {\n";
  for (const PointerRule &r : g_pointer_rules) {
    std::string kind = r.rule;
    kind[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(kind[0])));
    o << "    {" << r.function << "u, " << r.param << "u, kRule" << kind << ", \"" << r.type << "\", "
      << r.count << ", " << r.scale << "u, " << OwnerWord(r.owner) << "},\n";
  }
  if (g_pointer_rules.empty()) o << "    {0u, 0u, kRuleOpaque, \"\", 0, 1u, kNoOwner},\n";
  o << "};\nconst size_t kPointerRuleCount = " << g_pointer_rules.size() << ";\n\n";
  o << "const VtApiStreamCode kStreamCodes[] = {\n";
  size_t n = 0;
  for (const StreamCodeLine &line : g_stream_codes) {
    const int fi = FunctionAt(line.function);
    for (const std::string &code : line.codes) {
      ++n;
      o << "    {" << fi << "u, " << ParamIndex(g_functions[fi].params, line.value) << "u, "
        << ParamIndex(g_functions[fi].params, line.code) << "u, static_cast<uint32_t>(" << code << ")},\n";
    }
  }
  if (n == 0) o << "    {0u, 0u, 0u, 0u},\n";
  o << "};\nconst size_t kStreamCodeCount = " << n << ";\n\n}  // namespace vo::api\n";
  o << "\nnamespace vo::api {\n\nconst VtApiGivenBack kGivenBack[] = {\n";
  for (const PointsLine &line : g_gives_back) {
    const int fi = FunctionAt(line.function);
    o << "    {" << fi << "u, " << ParamIndex(g_functions[fi].params, line.param) << "u},\n";
  }
  if (g_gives_back.empty()) o << "    {0u, 0u},\n";
  o << "};\nconst size_t kGivenBackCount = " << g_gives_back.size() << ";\n\n";
  o << "const VtApiBlockMaker kBlockMakers[] = {\n";
  for (const BlockMaker &m : g_block_makers)
    o << "    {" << m.function << "u, "
      << (m.param < 0 ? std::string("kBlockResult") : std::to_string(m.param) + "u") << ", \"" << m.kind
      << "\", " << (m.size < 0 ? std::string("kNoSize") : std::to_string(m.size) + "u") << "},\n";
  if (g_block_makers.empty()) o << "    {0u, 0u, \"\", kNoSize},\n";
  o << "};\nconst size_t kBlockMakerCount = " << g_block_makers.size() << ";\n\n";
  o << "const VtApiOwned kOwned[] = {\n";
  size_t owned = 0;
  for (const std::vector<BlockMaker> *list : {&g_block_makers, &g_owned_handles})
    for (const BlockMaker &m : *list) {
      if (m.owner < 0) continue;
      ++owned;
      o << "    {" << m.function << "u, "
        << (m.param < 0 ? std::string("kBlockResult") : std::to_string(m.param) + "u") << ", " << m.owner
        << "u},\n";
    }
  if (owned == 0) o << "    {0u, 0u, 0u},\n";
  o << "};\nconst size_t kOwnedCount = " << owned << ";\n\n";
  o << "const VtApiMove kMoves[] = {\n";
  for (const PointsLine &line : g_moves) {
    const int fi = FunctionAt(line.function);
    o << "    {" << fi << "u, " << ParamIndex(g_functions[fi].params, line.param) << "u, "
      << ParamIndex(g_functions[fi].params, line.rule[0]) << "u},\n";
  }
  if (g_moves.empty()) o << "    {0u, 0u, 0u},\n";
  o << "};\nconst size_t kMoveCount = " << g_moves.size() << ";\n\n}  // namespace vo::api\n";
  return o.str();
}

void ParseFile(const std::string &path) {
  std::ifstream in(path);
  if (!in) {
    Fail(path, "cannot open");
    return;
  }
  std::string module;
  int number = 0;
  static std::map<int, int> next_index;
  std::string line, pending;
  int lineno = 0, start_line = 0;
  while (std::getline(in, line)) {
    ++lineno;
    if (Trim(line).rfind("#:", 0) == 0) g_note.push_back(Trim(Trim(line).substr(2)));
    if (Trim(line).rfind("#=", 0) == 0)
      ReadSizeLine(Trim(Trim(line).substr(2)), path + ":" + std::to_string(lineno));
    size_t hash = line.find('#');
    if (hash != std::string::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    if (pending.empty()) start_line = lineno;
    pending += (pending.empty() ? "" : " ") + line;
    if (pending.rfind("fn ", 0) == 0) {
      int open = static_cast<int>(std::count(pending.begin(), pending.end(), '(')) -
                 static_cast<int>(std::count(pending.begin(), pending.end(), ')'));
      if (open > 0 || pending.find('(') == std::string::npos) continue;
    }
    std::string where = path + ":" + std::to_string(start_line);
    std::vector<std::string> w = Words(pending);
    if (w[0] == "include" && w.size() == 2) {
      if (std::find(g_includes.begin(), g_includes.end(), w[1]) == g_includes.end())
        g_includes.push_back(w[1]);
    } else if (w[0] == "module" && w.size() == 3) {
      module = w[1];
      number = std::atoi(w[2].c_str());
      if (number <= 0 || number > 0xFFFF) Fail(where, "bad module number");
    } else if (w[0] == "handle" && w.size() == 2 && IsIdent(w[1])) {
      if (!g_types.count(w[1])) {
        g_types[w[1]] = {w[1] + " *", 12, Kind::Handle};
        g_handles.push_back(w[1]);
      }
    } else if (w[0] == "record" && w.size() == 2 && IsIdent(w[1])) {
      g_types[w[1]] = {w[1] + " *", 12, Kind::Handle};
    } else if (w[0] == "functype" && w.size() == 2 && IsIdent(w[1])) {
      g_types[w[1]] = {w[1], 22, Kind::Func};
    } else if (w[0] == "pointer" && w.size() == 2 && IsIdent(w[1])) {
      g_types[w[1]] = {w[1] + " *", 11, Kind::Pointer};
    } else if (w[0] == "struct" && w.size() == 3 && IsIdent(w[1])) {
      g_types[w[1]] = {w[1], std::atoi(w[2].c_str()), Kind::Struct};
    } else if (w[0] == "tagged" && w.size() == 2 && IsIdent(w[1])) {
      g_types[w[1]] = {w[1], 0, Kind::Tagged};
      g_tagged_notes[w[1]].swap(g_note);
      g_note.clear();
    } else if (w[0] == "case" && w.size() == 5) {
      ReadCase(w, where);
    } else if (w[0] == "shape" && w.size() == 3 && IsIdent(w[1]) && IsIdent(w[2])) {
      g_shapes.emplace_back(w[1], w[2], where);
    } else if (w[0] == "stopped" && w.size() == 3 && IsIdent(w[1])) {
      g_stopped.emplace_back(w[1], w[2], where);
    } else if (w[0] == "sets" && w.size() == 3 && IsIdent(w[1]) && IsIdent(w[2])) {
      g_sets.emplace_back(w[1], w[2], where);
    } else if (w[0] == "object" && w.size() == 3 && IsIdent(w[1]) && IsIdent(w[2])) {
      g_objects.emplace_back(w[1], w[2], where);
    } else if (w[0] == "calledback" && w.size() >= 2) {
      for (size_t i = 1; i < w.size(); ++i) {
        if (!IsIdent(w[i])) Fail(where, "calledback names no procedure '" + w[i] + "'");
        g_called_back.emplace_back(w[i], "", where);
      }
    } else if (w[0] == "during") {
      ReadDuring(pending, where);
    } else if (ReadPointerDirective(w, where)) {
    } else if (w[0] == "fn") {
      ParseFunction(pending, module, number, next_index[number]++, where);
    } else {
      Fail(where, "cannot read '" + pending + "'");
    }
    pending.clear();
  }
  if (!pending.empty()) Fail(path, "unterminated declaration at end of file");
}

// C spelling of a pointer to the C type.
std::string PointerTo(const std::string &ctype) { return ctype + (ctype.back() == '*' ? "*" : " *"); }

// C spelling of a parameter.
std::string ParamCType(const Param &p) {
  const TypeInfo &t = g_types[p.type];
  bool in = p.dir == "in";
  switch (t.kind) {
    case Kind::Struct:
    case Kind::Tagged:
    case Kind::Typed: return (in ? "const " : "") + t.ctype + " *";
    case Kind::Scalar:
    case Kind::Func:
    case Kind::String:
    case Kind::Pointer:
    case Kind::Handle:
    case Kind::Data:
      if (p.array && t.kind == Kind::Scalar && in) return "const " + t.ctype + " *";
      return (in && !p.array) ? t.ctype : PointerTo(t.ctype);
    case Kind::Void: break;
  }
  return "void";
}

std::string Join(const std::string &ctype, const std::string &name) {
  if (!ctype.empty() && ctype.back() == '*') return ctype + name;
  return ctype + " " + name;
}

std::string ParamList(const Function &f, bool names) {
  if (f.params.empty()) return "void";
  std::string s;
  for (size_t i = 0; i < f.params.size(); ++i) {
    if (i) s += ", ";
    s += Join(ParamCType(f.params[i]), names ? f.params[i].name : "a" + std::to_string(i));
  }
  return s;
}

std::string ArgNames(const Function &f) {
  std::string s;
  for (size_t i = 0; i < f.params.size(); ++i) s += (i ? ", a" : "a") + std::to_string(i);
  return s;
}

std::string ResultCType(const Function &f) { return g_types[f.result].ctype; }

bool WriteIfChanged(const std::string &path, const std::string &text) {
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::stringstream old;
    old << in.rdbuf();
    if (old.str() == text) return true;
  }
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

std::string PublicHeader() {
  std::ostringstream o;
  o << "/* Generated from the interface description; do not edit. */\n"
    << "#ifndef VO_API_H\n#define VO_API_H\n\n#include <vo/vo_types.h>\n";
  for (const std::string &inc : g_includes) o << "#include " << inc << "\n";
  o << "\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n";
  for (const std::string &h : g_handles) o << "typedef struct " << h << " " << h << ";\n";
  o << "\n";
  std::string module;
  for (const Function &f : g_functions) {
    if (f.module != module) {
      module = f.module;
      o << "\n/* " << module << " (module " << f.module_number << ") */\n";
    }
    for (size_t i = 0; i < f.note.size(); ++i)
      o << (i == 0 ? "/* " : " * ") << f.note[i] << (i + 1 == f.note.size() ? " */" : "") << "\n";
    o << "VO_EXPORT " << Join(ResultCType(f), f.name) << "(" << ParamList(f, true) << ");\n";
  }
  o << "\n#ifdef __cplusplus\n}\n#endif\n\n#endif /* VO_API_H */\n";
  return o.str();
}

std::string ImplHeader() {
  std::ostringstream o;
  o << "// Generated from the interface description; do not edit.\n"
    << "// The library's implementation of every exported procedure, in namespace vo.\n"
    << "// Code inside the library calls these directly; the exported wrappers\n"
    << "// add the exception boundary and the journal.\n"
    << "#pragma once\n\n#include <vo/vo_types.h>\n";
  for (const std::string &inc : g_includes) o << "#include " << inc << "\n";
  o << "\n";
  for (const std::string &h : g_handles) o << "struct " << h << ";\n";
  o << "\nnamespace vo {\n";
  for (const Function &f : g_functions)
    o << Join(ResultCType(f), f.name) << "(" << ParamList(f, true) << ");\n";
  o << "}  // namespace vo\n\n"
    << "// The exported entry points themselves, the addresses an application gets\n"
    << "// by linking against the shared library: what look-ups, callback gets and\n"
    << "// query answers hand out when they name an exported procedure.\n"
    << "namespace vo::exported {\nextern \"C\" {\n";
  for (const Function &f : g_functions)
    o << "VO_EXPORT " << Join(ResultCType(f), f.name) << "(" << ParamList(f, true) << ");\n";
  o << "}\n}  // namespace vo::exported\n";
  return o.str();
}

// ---- The API reference -----------------------------------------------------------

// How many elements an array parameter holds, in the reference's words.
std::string ArraySize(const Function &f, const Param &p) {
  if (!p.array) return "";
  if (p.count.empty()) return f.sizes.at(p.name);
  if (std::isdigit(static_cast<unsigned char>(p.count[0]))) return p.count;
  if (p.scale == 1) return "`" + p.count + "`";
  return std::to_string(p.scale) + " × `" + p.count + "`";
}

void ReferenceProcedure(std::ostringstream &o, const Function &f) {
  o << "### " << f.name << "\n\n";
  for (const std::string &line : f.note) o << line << "\n";
  if (!f.note.empty()) o << "\n";
  o << "```c\n" << Join(ResultCType(f), f.name) << "(" << ParamList(f, true) << ");\n```\n\n";
  o << "While a render runs: " << DuringText(f) << ".\n\n";
  if (f.params.empty()) return;
  o << "| Parameter | Direction | Type | Elements |\n| --- | --- | --- | --- |\n";
  for (const Param &p : f.params)
    o << "| `" << p.name << "` | " << p.dir << " | `" << p.type << "` | " << ArraySize(f, p) << " |\n";
  o << "\n";
  ReferencePointers(o, f);
}

// The text form of a case's value, as the journal writes it.
std::string CaseForm(const CaseLine &c) {
  if (c.carried == "none") return "nothing";
  std::string one = c.type == "VtString"       ? "a string in double quotes"
                    : c.type == "VtTypedValue" ? "a typed value, {VtFloat -0}"
                    : c.carried == "object"    ? "the variable holding the object"
                                               : "a number";
  if (c.count > 1) return "a bracket list of " + std::to_string(c.count) + " numbers";
  return one;
}

// Each tagged record's table of forms by type word.
void ReferenceTagged(std::ostringstream &o) {
  for (const auto &[record, note] : g_tagged_notes) {
    o << "\n## The record " << record << "\n\n";
    for (const std::string &line : note) o << line << "\n";
    if (!note.empty()) o << "\n";
    o << "| Type word | Value | Carried | In a journal |\n| --- | --- | --- | --- |\n";
    for (const CaseLine &c : g_cases) {
      if (c.record != record) continue;
      o << "| " << c.word << " | `" << c.type << (c.count > 1 ? "[" + std::to_string(c.count) + "]" : "")
        << "` | " << c.carried << " | " << CaseForm(c) << " |\n";
    }
    o << "\n";
  }
}

// Per module, in the table's order, every procedure with its declaration
// and comment and each parameter's direction, type and array size.
std::string Reference() {
  std::ostringstream o;
  o << "# API reference\n\n"
    << "Generated from the interface description (`src/*/*/*.api`) by `tools/apigen`; do not edit.\n"
    << "An application includes `<vo/vo_api.h>`, which declares every procedure below.\n"
    << "A parameter is read (in), written (out) or both (inout); an out or inout parameter,\n"
    << "and every array, is passed by address. Elements gives an array's length: a number,\n"
    << "another parameter's value (times a factor), or how the call's other arguments size it.\n\n"
    << "An object handed back after it was destroyed, or an object of another kind where a\n"
    << "procedure wants one of its own, is refused with the procedure's status for a bad\n"
    << "argument (0x20000012 where it has none of its own), or a null or zero answer, and a\n"
    << "diagnostic; nothing of it is written. A second destroy is refused the same way. The\n"
    << "check is a word of the record, the module's register of live objects (locks among\n"
    << "them), or, for the two-word ring nodes of shade contexts, the blocks of their pool: a\n"
    << "destroyed handle whose memory a newer object of the same kind has taken is that newer\n"
    << "object and cannot be told apart from it. The records of pools, hash tables and pixel\n"
    << "lists, whose word is read for every block, entry and pixel, never go back to the heap:\n"
    << "a destroyed one keeps a cleared word until a later object of its kind takes it.\n\n";
  std::string module;
  for (const Function &f : g_functions)
    if (f.module != module) {
      module = f.module;
      o << "- [" << module << " (module " << f.module_number << ")](#" << module << "-module-"
        << f.module_number << ")\n";
    }
  module.clear();
  for (const Function &f : g_functions) {
    if (f.module != module) {
      module = f.module;
      o << "\n## " << module << " (module " << f.module_number << ")\n\n";
    }
    ReferenceProcedure(o, f);
  }
  ReferenceTagged(o);
  ReferenceDuring(o);
  std::string text = o.str();
  while (text.size() > 1 && text[text.size() - 2] == '\n') text.pop_back();
  return text;
}

int KindNumber(Kind k) { return static_cast<int>(k); }

// The hashes of api_table.h (NameHash, CodeHash), worked out here the same way.
uint32_t NameHash(const std::string &name) {
  uint32_t h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return h;
}
uint32_t CodeHash(uint32_t code) { return code * 2654435761u; }

// An open-addressed table of entry numbers + 1 (0: empty) with linear
// probing, of a power of two at least twice the entry count; its size is
// written as <name>Size.
template <class H>
std::string HashTable(const std::string &name, size_t count, H hash) {
  size_t size = 16;
  while (size < 2 * count) size *= 2;
  std::vector<uint32_t> slots(size, 0);
  for (size_t i = 0; i < count; ++i) {
    size_t at = hash(i) & (size - 1);
    while (slots[at] != 0) at = (at + 1) & (size - 1);
    slots[at] = static_cast<uint32_t>(i + 1);
  }
  std::ostringstream o;
  o << "extern const uint32_t " << name << "[];\nextern const size_t " << name << "Size;\nconst uint32_t "
    << name << "[] = {";
  for (size_t i = 0; i < size; ++i) o << (i % 16 ? " " : "\n    ") << slots[i] << ",";
  o << "\n};\nconst size_t " << name << "Size = " << size << ";\n\n";
  return o.str();
}

// Whether the procedure needs a running library: it takes a handle, a
// record or a pointer other than VtGenericPtr (whose objects, such as a
// file VoFileOpen opened, outlive the library).
bool NeedsKernel(const Function &f) {
  for (const Param &p : f.params) {
    const Kind kind = g_types[p.type].kind;
    if (kind == Kind::Handle || (kind == Kind::Pointer && p.type != "VtGenericPtr")) return true;
  }
  return false;
}

// The wrapper's gate argument: what the procedure answers while no kernel
// exists, or that it is called whatever the library's state.
std::string StoppedAnswer(const Function &f) {
  if (!NeedsKernel(f)) return "vo::api::Ungated{}";
  const TypeInfo &r = g_types[f.result];
  if (r.kind == Kind::Void) return "vo::api::StoppedNothing{}";
  const std::string type = ResultCType(f);
  if (!f.stopped.empty()) return "vo::api::Stopped<" + type + ">{" + f.stopped + "}";
  if (f.result == "VtStatus") return "vo::api::Stopped<VtStatus>{VO_STATUS_NOT_INITIALISED}";
  return "vo::api::Stopped<" + type + ">{vo::api::Zero<" + type + ">()}";
}

// The lines between these two in a document (docs/rendering.md) are the
// table's: the procedures of the classes that matter while a render runs.
const char kSectionBegin[] = "<!-- Generated from the interface description's during lines; do not edit. -->";
const char kSectionEnd[] = "<!-- End of the generated lines. -->";

// The text broken at spaces into lines of at most `width` characters (a
// longer word stands alone), the lines after the first indented by two.
std::string Wrapped(const std::string &text, size_t width) {
  std::string out, line;
  for (const std::string &word : Words(text)) {
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line = "  ";
    }
    line += (line.empty() || line == "  " ? "" : " ") + word;
  }
  return out + line + "\n";
}

// The document with its generated lines made anew from the table; empty
// when it has no such lines.
std::string DuringSection(const std::string &document) {
  size_t begin = document.find(kSectionBegin), end = document.find(kSectionEnd);
  if (begin == std::string::npos || end == std::string::npos || end < begin) return "";
  begin += sizeof kSectionBegin - 1;
  std::ostringstream o;
  o << "\n";
  for (int c = kDuringChange; c < kDuringCount; ++c) {
    std::string name = kDuringNames[c];
    name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    std::string item = "- " + name + ":";
    const char *separator = " ";
    for (const Function &f : g_functions) {
      if (f.during != c) continue;
      std::string aside = f.during_note;
      if (c == kDuringRefused)
        aside = "message " + std::to_string(f.during_message) + (aside.empty() ? "" : "; " + aside);
      if (f.object >= 0 || f.object == kObjectScene) {
        const std::string held =
            f.object == kObjectScene
                ? "waits while a render runs"
                : "waits while a render holds its `" + f.params[static_cast<size_t>(f.object)].name + "`";
        aside = aside.empty() ? held : held + "; " + aside;
      }
      item += separator + ("`" + f.name + "`") + (aside.empty() ? "" : " (" + aside + ")");
      separator = ", ";
    }
    o << Wrapped(item + ".", 100);
  }
  o << "\n";
  return document.substr(0, begin) + o.str() + document.substr(end);
}

// Resolves the "object" lines: a procedure of class change or release,
// naming an input handle, an input address (instance data) or the scene,
// once.
void ApplyObjects() {
  for (const ShapeLine &line : g_objects) {
    auto it = std::find_if(g_functions.begin(), g_functions.end(),
                           [&](const Function &f) { return f.name == line.function; });
    if (it == g_functions.end()) {
      Fail(line.where, "object line of an undeclared procedure '" + line.function + "'");
      continue;
    }
    if (it->during != kDuringChange && it->during != kDuringRelease)
      Fail(line.where, "object line of '" + line.function + "', whose class is neither change nor release");
    if (it->object != -1) Fail(line.where, "second object line of '" + line.function + "'");
    if (line.procedure == "scene") {
      it->object = kObjectScene;
      continue;
    }
    const int at = ParamIndex(it->params, line.procedure);
    const Param *p = at >= 0 ? &it->params[static_cast<size_t>(at)] : nullptr;
    const Kind kind = p != nullptr ? g_types[p->type].kind : Kind::Void;
    if (p == nullptr || p->dir != "in" || p->array || (kind != Kind::Handle && kind != Kind::Pointer))
      Fail(line.where, "object line of '" + line.function + "' names no input handle or address '" +
                           line.procedure + "'");
    else
      it->object = at;
  }
}

// The class fields of the procedure's table entry (VtApiFunction's last ones).
std::string DuringFields(const Function &f) {
  std::string note;
  for (char c : f.during_note) note += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
  const size_t fi = static_cast<size_t>(&f - g_functions.data());
  return ", " + std::to_string(f.during) + "u, " + std::to_string(f.during_message) + "u, \"" + note +
         "\", " + (f.conditions.empty() ? std::string("nullptr") : "kConditions" + std::to_string(fi)) +
         ", " + std::to_string(f.conditions.size()) + "u, " + std::to_string(f.refused_answer) +
         (f.called_back ? ", true" : ", false") + ", " + std::to_string(f.object);
}

std::string TableSource() {
  std::ostringstream o;
  o << "// Generated from the interface description; do not edit.\n"
    << "#include <vo/vo_api.h>\n#include \"vo_impl.h\"\n#include \"kernel/vosystem/api_table.h\"\n"
    << "#include \"kernel/vosystem/api_guard.h\"\n\n"
    << "namespace vo::api {\nnamespace {\n";
  // Parameter descriptors.
  for (size_t fi = 0; fi < g_functions.size(); ++fi) {
    const Function &f = g_functions[fi];
    if (f.params.empty()) continue;
    o << "const VtApiParam kParams" << fi << "[] = {\n";
    for (const Param &p : f.params) {
      const TypeInfo &t = g_types[p.type];
      unsigned flags = 0;
      if (p.dir == "in" || p.dir == "inout") flags |= 1;
      if (p.dir == "out" || p.dir == "inout") flags |= 2;
      if (p.array) flags |= 4;
      if (p.sets) flags |= 8;
      int count = 0;
      if (p.array && !p.count.empty()) {
        if (std::isdigit(static_cast<unsigned char>(p.count[0])))
          count = std::atoi(p.count.c_str());
        else
          count = -ParamIndex(f.params, p.count) - 1;
      }
      o << "    {\"" << p.name << "\", \"" << p.type << "\", " << t.code << ", " << KindNumber(t.kind) << ", "
        << flags << ", " << count << ", " << p.scale << "},\n";
    }
    o << "};\n";
  }
  // Conditions of refusals while a render runs.
  for (size_t fi = 0; fi < g_functions.size(); ++fi) {
    const Function &f = g_functions[fi];
    if (f.conditions.empty()) continue;
    o << "const VtApiCondition kConditions" << fi << "[] = {\n";
    for (const auto &[kind, clause, bits] : f.conditions)
      o << "    {" << kind << "u, " << clause << "u, 0x" << std::hex << bits << std::dec << "u},\n";
    o << "};\n";
  }
  // Call thunks for the interpreter: argv[i] points at argument i's storage.
  for (size_t fi = 0; fi < g_functions.size(); ++fi) {
    const Function &f = g_functions[fi];
    o << "void Thunk" << fi << "(void *const *argv, VtTypedValue *result) {\n";
    std::string call = "::" + f.name + "(";
    for (size_t i = 0; i < f.params.size(); ++i) {
      if (i) call += ", ";
      call += "*static_cast<" + ParamCType(f.params[i]) + " *>(argv[" + std::to_string(i) + "])";
    }
    call += ")";
    if (f.params.empty()) o << "  (void)argv;\n";
    const TypeInfo &r = g_types[f.result];
    o << "  result->type = " << r.code << ";\n";
    if (r.kind == Kind::Void) {
      o << "  " << call << ";\n";
    } else {
      o << "  StoreResult(result, " << call << ");\n";
    }
    o << "}\n";
  }
  o << "}  // namespace\n\n";
  // Shape procedures of owning modules.
  std::set<std::string> declared;
  o << "}  // namespace vo::api\n\nnamespace vo {\n";
  for (const Function &f : g_functions)
    if (!f.shape.empty() && declared.insert(f.shape).second)
      o << "bool " << f.shape
        << "(const void *const *argv, uint32_t param, uint64_t element, api::VtApiShape *shape);\n";
  o << "}  // namespace vo\n\nnamespace vo::api {\n\n";
  // Arity checks of the implementations against the description.
  for (const Function &f : g_functions)
    o << "static_assert(FnArity<decltype(&vo::" << f.name << ")>::value == " << f.params.size() << ", \""
      << f.name << ": implementation arity differs from the interface description\");\n";
  o << "\nconst VtApiFunction kFunctions[] = {\n";
  for (size_t fi = 0; fi < g_functions.size(); ++fi) {
    const Function &f = g_functions[fi];
    const TypeInfo &r = g_types[f.result];
    o << "    {\"" << f.name << "\", \"" << f.module << "\", " << f.module_number << "u, 0x" << std::hex
      << ((static_cast<unsigned>(f.module_number) << 16) | static_cast<unsigned>(f.index + 1)) << std::dec
      << "u, \"" << f.result << "\", " << r.code << ", " << KindNumber(r.kind) << ", " << f.params.size()
      << ", " << (f.params.empty() ? "nullptr" : "kParams" + std::to_string(fi)) << ", Thunk" << fi
      << ", FnArity<decltype(&::" << f.name << ")>::value, reinterpret_cast<VtProc>(&::" << f.name << "), "
      << (f.shape.empty() ? "nullptr" : "&vo::" + f.shape) << DuringFields(f) << "},\n";
  }
  o << "};\nconst size_t kFunctionCount = " << g_functions.size() << ";\n\n";
  // Type names.
  std::vector<std::string> types = TypeOrder();
  o << "const VtApiType kTypes[] = {\n";
  for (const std::string &name : types) {
    const TypeInfo &t = g_types[name];
    std::string size = t.kind == Kind::Void ? "0" : "sizeof(" + t.ctype + ")";
    o << "    {\"" << name << "\", " << t.code << ", " << KindNumber(t.kind) << ", " << size << "},\n";
  }
  o << "    {\"GenericPtr\", 11, " << KindNumber(Kind::Pointer) << ", sizeof(void *)},\n"
    << "    {\"Matrix\", 0, " << KindNumber(Kind::Struct) << ", 16 * sizeof(double)},\n";
  o << "};\nconst size_t kTypeCount = " << types.size() + 2 << ";\n\n";
  std::vector<std::string> type_names = types;
  type_names.push_back("GenericPtr");
  type_names.push_back("Matrix");
  // Forms of tagged records.
  o << "const VtApiCase kCases[] = {\n";
  for (const CaseLine &c : g_cases)
    o << "    {\"" << c.record << "\", " << c.word << "u, kCarried"
      << static_cast<char>(std::toupper(static_cast<unsigned char>(c.carried[0]))) << c.carried.substr(1)
      << ", \"" << c.type << "\", " << c.count << "u},\n";
  if (g_cases.empty()) o << "    {\"\", 0u, kCarriedNone, \"\", 0u},\n";
  o << "};\nconst size_t kCaseCount = " << g_cases.size() << ";\n\n";
  o << HashTable("kFunctionNameSlots", g_functions.size(),
                 [](size_t i) { return NameHash(g_functions[i].name); });
  o << HashTable("kFunctionCodeSlots", g_functions.size(), [](size_t i) {
    return CodeHash((static_cast<uint32_t>(g_functions[i].module_number) << 16) |
                    static_cast<uint32_t>(g_functions[i].index + 1));
  });
  o << HashTable("kTypeNameSlots", type_names.size(), [&](size_t i) { return NameHash(type_names[i]); });
  o << "}  // namespace vo::api\n\n";
  // Exported wrappers.
  o << "using vo::api::kFunctions;\n\n";
  for (size_t fi = 0; fi < g_functions.size(); ++fi) {
    const Function &f = g_functions[fi];
    const TypeInfo &r = g_types[f.result];
    o << "extern \"C\" VO_EXPORT " << Join(ResultCType(f), f.name) << "(" << ParamList(f, false) << ") {\n";
    o << "  return vo::api::Enter<" << ResultCType(f) << ">(&kFunctions[" << fi << "], ";
    if (r.kind == Kind::Void)
      o << "[&]() { vo::" << f.name << "(" << ArgNames(f) << "); }";
    else
      o << "[&]() { return vo::" << f.name << "(" << ArgNames(f) << "); }";
    if (f.result == "VtStatus")
      o << ", VtStatus{VO_STATUS_NO_MEMORY}";
    else if (r.kind != Kind::Void)
      o << ", vo::api::Zero<" << ResultCType(f) << ">()";
    else
      o << ", vo::api::NoResult{}";
    o << ", " << StoppedAnswer(f);
    for (size_t i = 0; i < f.params.size(); ++i) o << ", a" << i;
    o << ");\n}\n";
  }
  return o.str();
}

// The linker's version script: every declared procedure global (in the
// order of the description), everything else local. The shared library's
// dynamic symbol table then holds exactly these names, and no symbol of the
// C++ runtime's templates that would keep the library loaded after dlclose.
std::string VersionScript() {
  std::ostringstream o;
  o << "/* Generated from the interface description; do not edit. */\n{\n  global:\n";
  for (const Function &f : g_functions) o << "    " << f.name << ";\n";
  o << "  local:\n    *;\n};\n";
  return o.str();
}

// ---- The constant table ---------------------------------------------------------

// The text without its comments.
std::string StripComments(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "/*") == 0) {
      size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) break;
      out += ' ';
      i = end + 1;
    } else if (text.compare(i, 2, "//") == 0) {
      size_t end = text.find('\n', i);
      if (end == std::string::npos) break;
      i = end - 1;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A macro body that can only be an integer expression: numbers, operators
// and names of other constants or integer types.
bool IntegerBody(const std::string &body) {
  if (Trim(body).empty()) return false;
  for (size_t i = 0; i < body.size();) {
    unsigned char c = static_cast<unsigned char>(body[i]);
    if (std::isalpha(c) || c == '_') {
      size_t j = i;
      while (j < body.size() && (std::isalnum(static_cast<unsigned char>(body[j])) || body[j] == '_')) ++j;
      std::string word = body.substr(i, j - i);
      bool known = word.rfind("VO_", 0) == 0 || word.rfind("Vt", 0) == 0 || word == "uint32_t" ||
                   word == "int32_t" || word == "uint16_t" || word == "uint8_t" || word == "int64_t" ||
                   word == "uint64_t";
      if (!known) return false;
      i = j;
    } else if (std::isdigit(c)) {
      while (i < body.size() && (std::isalnum(static_cast<unsigned char>(body[i])))) ++i;
    } else if (std::strchr(" \t()|&<>~+-*^", c) != nullptr) {
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

void ScanHeader(const std::string &text, std::vector<std::string> *names) {
  std::string code = StripComments(text);
  std::istringstream in(code);
  std::string line;
  bool continued = false;
  while (std::getline(in, line)) {
    const bool was_continued = continued;
    continued = !line.empty() && line.back() == '\\';
    if (was_continued) continue;
    std::string t = Trim(line);
    if (t.rfind("#", 0) != 0) continue;
    t = Trim(t.substr(1));
    if (t.rfind("define", 0) != 0) continue;
    t = Trim(t.substr(6));
    size_t end = 0;
    while (end < t.size() && (std::isalnum(static_cast<unsigned char>(t[end])) || t[end] == '_')) ++end;
    std::string name = t.substr(0, end);
    if (name.rfind("VO_", 0) != 0 || (end < t.size() && t[end] == '(') || continued) continue;
    if (IntegerBody(t.substr(end))) names->push_back(name);
  }
  // Enumerators: the names inside "enum ... { ... }".
  for (size_t at = code.find("enum"); at != std::string::npos; at = code.find("enum", at + 4)) {
    if (at > 0 && (std::isalnum(static_cast<unsigned char>(code[at - 1])) || code[at - 1] == '_')) continue;
    if (at + 4 < code.size() &&
        (std::isalnum(static_cast<unsigned char>(code[at + 4])) || code[at + 4] == '_'))
      continue;
    size_t open = code.find_first_of("{;", at);
    if (open == std::string::npos || code[open] != '{') continue;
    size_t close = code.find('}', open);
    if (close == std::string::npos) break;
    std::string cur;
    int depth = 0;
    for (char c : code.substr(open + 1, close - open - 1) + ",") {
      if (c == '(') ++depth;
      if (c == ')') --depth;
      if (c == ',' && depth == 0) {
        std::string name = Trim(cur.substr(0, cur.find('=')));
        if (IsIdent(name)) names->push_back(name);
        cur.clear();
      } else {
        cur += c;
      }
    }
    at = close;
  }
}

std::string ConstantsSource(const std::string &dir) {
  std::vector<std::string> headers;
  std::vector<std::string> names;
  std::set<std::string> seen;
  std::vector<std::string> files;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(dir, error))
    if (entry.path().extension() == ".h") files.push_back(entry.path().filename().string());
  if (error) Fail(dir, "cannot list the public headers");
  std::sort(files.begin(), files.end());
  for (const std::string &f : files) {
    std::ifstream in(dir + "/" + f);
    if (!in) {
      Fail(dir + "/" + f, "cannot open");
      continue;
    }
    std::stringstream text;
    text << in.rdbuf();
    headers.push_back("<vo/" + f + ">");
    std::vector<std::string> found;
    ScanHeader(text.str(), &found);
    for (const std::string &n : found)
      if (seen.insert(n).second) names.push_back(n);
  }
  std::ostringstream o;
  o << "// Generated from the public headers; do not edit.\n"
    << "// Their integer VO_ macros and enumerators, valued by the compiler.\n"
    << "#include <type_traits>\n\n";
  for (const std::string &h : headers) o << "#include " << h << "\n";
  o << "#include <vo/vo_api.h>\n#include \"kernel/vosystem/api_table.h\"\n\nnamespace vo::api {\n\n"
    << "template <class T>\nconstexpr int64_t ConstantValue(T v) {\n"
    << "  static_assert(std::is_integral_v<T> || std::is_enum_v<T>, \"not an integer constant\");\n"
    << "  return static_cast<int64_t>(v);\n}\n\n"
    << "const VtApiConstant kConstants[] = {\n";
  for (const std::string &n : names) o << "    {\"" << n << "\", ConstantValue(" << n << ")},\n";
  if (names.empty()) o << "    {\"\", 0},\n";
  o << "};\nconst size_t kConstantCount = " << names.size() << ";\n\n";
  o << HashTable("kConstantNameSlots", names.size(), [&](size_t i) { return NameHash(names[i]); });
  o << "}  // namespace vo::api\n";
  return o.str();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: apigen public.h impl.h table.cpp files...\n");
    return 2;
  }
  AddBuiltinTypes();
  std::vector<std::string> files(argv + 4, argv + argc);
  std::string constants_out, header_dir, version_out, reference_out, section_in, section_out;
  std::set<std::string> commented;  // files whose procedures must carry a comment
  for (bool more = true; more;) {
    more = false;
    if (files.size() >= 3 && files[0] == "-c") {
      constants_out = files[1];
      header_dir = files[2];
      files.erase(files.begin(), files.begin() + 3);
      more = true;
    } else if (files.size() >= 2 && files[0] == "-v") {
      version_out = files[1];
      files.erase(files.begin(), files.begin() + 2);
      more = true;
    } else if (files.size() >= 2 && files[0] == "-d") {
      reference_out = files[1];
      files.erase(files.begin(), files.begin() + 2);
      more = true;
    } else if (files.size() >= 3 && files[0] == "-s") {
      section_in = files[1];
      section_out = files[2];
      files.erase(files.begin(), files.begin() + 3);
      more = true;
    } else if (files.size() >= 2 && files[0] == "-r") {
      commented.insert(files[1]);
      files.erase(files.begin(), files.begin() + 2);
      more = true;
    }
  }
  // In the order of the module folders' names (whatever concept folder holds
  // them), which fixes the table's order and so the binary command codes.
  auto module_path = [](const std::string &s) {
    std::filesystem::path p(s);
    return (p.parent_path().filename() / p.filename()).string();
  };
  std::sort(files.begin(), files.end(),
            [&](const std::string &a, const std::string &b) { return module_path(a) < module_path(b); });
  // vosystem first, so the kernel's procedures lead the table.
  std::stable_partition(files.begin(), files.end(),
                        [](const std::string &s) { return s.find("/vosystem/") != std::string::npos; });
  for (const std::string &f : files) ParseFile(f);
  std::set<std::string> names;
  for (const Function &f : g_functions)
    if (!names.insert(f.name).second) Fail(f.where, "procedure '" + f.name + "' declared twice");
  for (const ShapeLine &line : g_shapes) {
    auto it = std::find_if(g_functions.begin(), g_functions.end(),
                           [&](const Function &f) { return f.name == line.function; });
    if (it == g_functions.end())
      Fail(line.where, "shape of an undeclared procedure '" + line.function + "'");
    else if (!it->shape.empty())
      Fail(line.where, "second shape of '" + line.function + "'");
    else
      it->shape = line.procedure;
  }
  for (const ShapeLine &line : g_stopped) {
    auto it = std::find_if(g_functions.begin(), g_functions.end(),
                           [&](const Function &f) { return f.name == line.function; });
    if (it == g_functions.end())
      Fail(line.where, "stopped answer of an undeclared procedure '" + line.function + "'");
    else if (!NeedsKernel(*it) || g_types[it->result].kind == Kind::Void)
      Fail(line.where, "stopped answer of '" + line.function + "', which answers nothing or needs no kernel");
    else
      it->stopped = line.procedure;
  }
  for (const ShapeLine &line : g_sets) {
    auto it = std::find_if(g_functions.begin(), g_functions.end(),
                           [&](const Function &f) { return f.name == line.function; });
    Param *param = nullptr;
    if (it != g_functions.end())
      for (Param &p : it->params)
        if (p.name == line.procedure && g_types[p.type].kind == Kind::Handle && !p.array) param = &p;
    if (param == nullptr)
      Fail(line.where,
           "sets line of '" + line.function + "' names no handle parameter '" + line.procedure + "'");
    else
      param->sets = true;
  }
  for (const ShapeLine &line : g_called_back) {
    auto it = std::find_if(g_functions.begin(), g_functions.end(),
                           [&](const Function &f) { return f.name == line.function; });
    if (it == g_functions.end())
      Fail(line.where, "calledback line of an undeclared procedure '" + line.function + "'");
    else
      it->called_back = true;
  }
  ApplyDuring();
  ApplyObjects();
  ResolvePointerRules();
  for (const Function &f : g_functions)
    if (f.note.empty() && commented.count(f.file))
      Fail(f.where, "procedure '" + f.name + "' has no comment (#:)");
  std::string constants;
  if (!header_dir.empty()) constants = ConstantsSource(header_dir);
  if (g_errors) return 1;
  std::string section;
  if (!section_in.empty()) {
    std::ifstream in(section_in);
    std::stringstream text;
    text << in.rdbuf();
    section = DuringSection(text.str());
    if (section.empty()) Fail(section_in, "has no generated lines of the classes while a render runs");
  }
  if (g_errors) return 1;
  bool ok = WriteIfChanged(argv[1], PublicHeader()) && WriteIfChanged(argv[2], ImplHeader()) &&
            WriteIfChanged(argv[3], TableSource() + PointerRulesSource()) &&
            (constants_out.empty() || WriteIfChanged(constants_out, constants)) &&
            (version_out.empty() || WriteIfChanged(version_out, VersionScript())) &&
            (reference_out.empty() || WriteIfChanged(reference_out, Reference())) &&
            (section_out.empty() || WriteIfChanged(section_out, section));
  return ok ? 0 : 1;
}

// The shipped message file against the sources: every number the library
// posts has a line, and each line's conversions take the arguments every
// poster passes. The posters are found by reading src/: calls of Post, and of
// every helper that hands its own message parameter on to Post (Report,
// Error, ...), followed through as many levels as there are. An argument's
// kind comes from its literal, its cast or the declaration of its name; a
// kind that cannot be told is not checked, but its count still is.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = fs::path(VO_TEST_DATA_DIR) / ".." / "..";

enum class Kind { Unknown, Integer, Real, Pointer, String };

struct Source {
  std::string path, code;  // code: comments blanked, strings kept
};

// Comments become blanks (newlines kept) so that positions keep their lines.
std::string WithoutComments(const std::string &t) {
  std::string c = t;
  for (size_t i = 0; i < c.size(); ++i) {
    if (c[i] == '"' || c[i] == '\'') {
      char q = c[i];
      for (++i; i < c.size() && c[i] != q; ++i)
        if (c[i] == '\\') ++i;
    } else if (c.compare(i, 2, "//") == 0) {
      for (; i < c.size() && c[i] != '\n'; ++i) c[i] = ' ';
    } else if (c.compare(i, 2, "/*") == 0) {
      size_t end = c.find("*/", i + 2);
      end = end == std::string::npos ? c.size() : end + 2;
      for (; i < end; ++i)
        if (c[i] != '\n') c[i] = ' ';
      --i;
    }
  }
  return c;
}

bool Word(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string Trim(std::string s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// Skips a quoted literal starting at i; answers the position after it.
size_t PastQuote(const std::string &c, size_t i) {
  char q = c[i];
  for (++i; i < c.size() && c[i] != q; ++i)
    if (c[i] == '\\') ++i;
  return i + 1;
}

// The arguments of the call whose '(' is at open, split at top-level commas;
// *close receives the position of the matching ')'.
std::vector<std::string> Arguments(const std::string &c, size_t open, size_t *close) {
  std::vector<std::string> args;
  int depth = 0;
  size_t from = open + 1;
  for (size_t i = open; i < c.size(); ++i) {
    char ch = c[i];
    if (ch == '"' || ch == '\'') {
      i = PastQuote(c, i) - 1;
    } else if (ch == '(' || ch == '[' || ch == '{') {
      ++depth;
    } else if (ch == ')' || ch == ']' || ch == '}') {
      if (--depth == 0) {
        std::string last = Trim(c.substr(from, i - from));
        if (!last.empty() || !args.empty()) args.push_back(last);
        *close = i;
        return args;
      }
    } else if (ch == ',' && depth == 1) {
      args.push_back(Trim(c.substr(from, i - from)));
      from = i + 1;
    }
  }
  *close = c.size();
  return args;
}

// Answers the '(' matching the ')' at close, or npos.
size_t MatchingOpen(const std::string &c, size_t close) {
  int depth = 0;
  for (size_t i = close + 1; i-- > 0;) {
    if (c[i] == ')') ++depth;
    if (c[i] == '(' && --depth == 0) return i;
  }
  return std::string::npos;
}

std::string WordBefore(const std::string &c, size_t end) {
  size_t e = end;
  while (e > 0 && std::isspace(static_cast<unsigned char>(c[e - 1]))) --e;
  size_t b = e;
  while (b > 0 && Word(c[b - 1])) --b;
  return c.substr(b, e - b);
}

// A function, or a lambda bound to a name, and its parameters.
struct Function {
  std::string name;
  std::vector<std::string> params;  // "type name" texts
  bool found = false;
};

std::string ParamName(const std::string &p) {
  std::string s = Trim(p.substr(0, p.find('=')));
  size_t e = s.size();
  while (e > 0 && !Word(s[e - 1])) --e;
  size_t b = e;
  while (b > 0 && Word(s[b - 1])) --b;
  return s.substr(b, e - b);
}

std::string ParamType(const std::string &p) {
  std::string s = Trim(p.substr(0, p.find('=')));
  return Trim(s.substr(0, s.size() - ParamName(p).size()));
}

// The innermost function or lambda whose body holds position at.
Function Enclosing(const std::string &c, size_t at) {
  static const std::set<std::string> kBlocks = {"if", "for", "while", "switch", "catch"};
  int depth = 0;
  for (size_t i = at; i-- > 0;) {
    if (c[i] == '}') ++depth;
    if (c[i] != '{') continue;
    if (depth > 0) {
      --depth;
      continue;
    }
    size_t e = i;
    while (e > 0 &&
           (std::isspace(static_cast<unsigned char>(c[e - 1])) || Word(c[e - 1]) || c[e - 1] == ':' ||
            c[e - 1] == '>' || c[e - 1] == '-' || c[e - 1] == '*' || c[e - 1] == '&'))
      --e;  // trailing const, noexcept, -> type
    if (e == 0 || c[e - 1] != ')') continue;
    size_t open = MatchingOpen(c, e - 1);
    if (open == std::string::npos) continue;
    Function f;
    f.name = WordBefore(c, open);
    if (kBlocks.count(f.name)) continue;
    if (f.name.empty()) {  // a lambda: [captures](params) bound by "name ="
      size_t b = c.rfind('[', open);
      size_t eq = b == std::string::npos ? b : c.rfind('=', b);
      if (eq != std::string::npos) f.name = WordBefore(c, eq);
    }
    size_t close;
    f.params = Arguments(c, open, &close);
    f.found = !f.name.empty();
    return f;
  }
  return {};
}

Kind TypeKind(std::string t) {
  for (const char *drop : {"const ", "static ", "constexpr ", "volatile ", "unsigned "}) {
    for (size_t p; (p = t.find(drop)) != std::string::npos;) t.erase(p, std::strlen(drop));
  }
  t = Trim(t);
  if (t.empty() || t == "auto") return Kind::Unknown;
  const auto stars = std::count(t.begin(), t.end(), '*');  // char ** is an array of strings
  if (stars > 0) return stars == 1 && t.find("char") != std::string::npos ? Kind::String : Kind::Pointer;
  if (t == "double" || t == "float") return Kind::Real;
  static const std::set<std::string> kIntegers = {
      "uint32_t", "int32_t", "int",      "VtStatus", "VtNat32", "VtInt32", "uint16_t", "int16_t",  "uint8_t",
      "int8_t",   "char",    "unsigned", "VtEnum",   "VtFlags", "long",    "short",    "VtBoolean"};
  std::string last = t.substr(t.rfind(':') == std::string::npos ? 0 : t.rfind(':') + 1);
  return kIntegers.count(last) ? Kind::Integer : Kind::Unknown;
}

// ---- The tree ------------------------------------------------------------

struct Tree {
  std::vector<Source> files;
  // constant name -> (defining file, value)
  std::multimap<std::string, std::pair<std::string, uint32_t>> constants;
  std::multimap<std::string, std::pair<std::string, std::string>> aliases;  // name -> (file, other name)

  void Load() {
    for (const auto &e : fs::recursive_directory_iterator(kRoot / "src")) {
      std::string ext = e.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      std::ifstream in(e.path());
      std::stringstream ss;
      ss << in.rdbuf();
      files.push_back({e.path().lexically_relative(kRoot / "src").string(), WithoutComments(ss.str())});
    }
    for (const Source &f : files) FindConstants(f);
  }

  // "constexpr uint32_t kName = 123;" (and int, VtNat32) anywhere.
  void FindConstants(const Source &f) {
    const std::string &c = f.code;
    for (size_t p = 0; (p = c.find("constexpr", p)) != std::string::npos; p += 9) {
      std::istringstream in(c.substr(p + 9, 200));
      std::string type, name, eq, value;
      in >> type >> name >> eq >> value;
      if (eq != "=" || (type != "uint32_t" && type != "int" && type != "VtNat32" && type != "int32_t"))
        continue;
      if (value.empty()) continue;
      if (!std::isdigit(static_cast<unsigned char>(value[0]))) {  // another constant's name
        if (value.back() == ';') aliases.insert({name, {f.path, value.substr(0, value.size() - 1)}});
        continue;
      }
      char *end = nullptr;
      unsigned long v = std::strtoul(value.c_str(), &end, 0);
      if (*end != ';' && *end != 'u' && *end != 'U') continue;
      constants.insert({name, {f.path, static_cast<uint32_t>(v)}});
    }
  }

  // Resolves a constant seen in file: its own file, its module, the kernel's
  // list, then a name defined once.
  bool Constant(const std::string &file, const std::string &name, uint32_t *out) const {
    auto range = constants.equal_range(name);
    std::string dir = fs::path(file).parent_path().string();
    std::vector<std::function<bool(const std::string &)>> order = {
        [&](const std::string &p) { return p == file; },
        [&](const std::string &p) { return fs::path(p).parent_path().string() == dir; },
        [&](const std::string &p) { return p == "kernel/vosystem/message_numbers.h"; }};
    for (auto &wanted : order)
      for (auto it = range.first; it != range.second; ++it)
        if (wanted(it->second.first)) return *out = it->second.second, true;
    if (std::distance(range.first, range.second) == 1) return *out = range.first->second.second, true;
    auto alias = aliases.find(name);
    if (alias == aliases.end()) return false;
    std::string other = alias->second.second;
    return Constant(alias->second.first,
                    other.substr(other.rfind(':') == std::string::npos ? 0 : other.rfind(':') + 1), out);
  }
};

// One argument as a poster passes it: an expression read where it stands, or
// a kind already known (a helper's declared parameter type).
struct Arg {
  std::string expr;
  const Source *where = nullptr;
  size_t at = 0;
  Kind known = Kind::Unknown;
  bool fixed = false;
};

struct Site {
  const Source *where;
  size_t at;  // position of the call
  std::string message;
  std::vector<Arg> args;
  bool args_known = true;  // false where the arguments are appended one by one
};

struct Poster {
  uint32_t number;
  std::string place;  // file:line of the outermost call
  std::vector<Kind> kinds;
  bool args_known;
  std::vector<std::string> exprs;  // as written, for the listing
};

std::string Place(const Source &s, size_t at) {
  return s.path + ":" + std::to_string(1 + std::count(s.code.begin(), s.code.begin() + at, '\n'));
}

// The declared type of name as seen at position at (nearest declaration
// before it, then anywhere in the file, then the module's other files).
Kind DeclaredKind(const Tree &tree, const Source &s, size_t at, const std::string &name) {
  static const std::set<std::string> kNotTypes = {"return", "else",   "case", "delete", "new",
                                                  "throw",  "sizeof", "goto", "do",     "co_return"};
  auto look = [&](const std::string &c, size_t limit, bool backwards) -> std::pair<bool, Kind> {
    std::vector<size_t> hits;
    for (size_t p = 0; (p = c.find(name, p)) != std::string::npos && p < limit; p += name.size())
      if ((p == 0 || !Word(c[p - 1])) && !Word(c[p + name.size()])) hits.push_back(p);
    if (backwards) std::reverse(hits.begin(), hits.end());
    for (size_t p : hits) {
      size_t after = c.find_first_not_of(" \t\n", p + name.size());
      if (after == std::string::npos || std::string(";,=)[{:").find(c[after]) == std::string::npos) continue;
      size_t b = p;
      while (b > 0 &&
             (Word(c[b - 1]) || std::isspace(static_cast<unsigned char>(c[b - 1])) || c[b - 1] == '*' ||
              c[b - 1] == '&' || c[b - 1] == ':' || c[b - 1] == '<' || c[b - 1] == '>'))
        --b;
      std::string type = Trim(c.substr(b, p - b));
      if (type.empty() || c[b - 1] == '.' || (b > 0 && c[b - 1] == '-')) continue;
      // Declarations are written "T *name"; "n * n" is a product.
      if ((c[p - 1] == ' ' || c[p - 1] == '\n') && (type.back() == '*' || type.back() == '&')) continue;
      std::string first = type.substr(0, type.find_first_of(" *&"));
      if (kNotTypes.count(first) || (!Word(type.back()) && type.back() != '*' && type.back() != '&'))
        continue;
      if (c[after] == '[')  // an array passes its address; a char array is a string
        return {true, type.find("char") != std::string::npos ? Kind::String : Kind::Pointer};
      return {true, TypeKind(type)};
    }
    return {false, Kind::Unknown};
  };
  Function f = Enclosing(s.code, at);  // a parameter of the function the name is used in
  for (const std::string &p : f.params)
    if (ParamName(p) == name) return TypeKind(ParamType(p));
  auto r = look(s.code, at, true);
  if (r.first) return r.second;
  r = look(s.code, s.code.size(), false);
  if (r.first) return r.second;
  std::string dir = fs::path(s.path).parent_path().string();
  for (const Source &o : tree.files) {
    if (&o == &s || fs::path(o.path).parent_path().string() != dir) continue;
    r = look(o.code, o.code.size(), false);
    if (r.first) return r.second;
  }
  return Kind::Unknown;
}

// A member's kind: every declaration of the name in the file and in the
// module's headers must agree, else it is not told.
Kind MemberKind(const Tree &tree, const Source &s, const std::string &name) {
  std::string dir = fs::path(s.path).parent_path().string();
  std::set<Kind> kinds;
  for (const Source &o : tree.files) {
    bool header = o.path.size() > 2 && o.path.compare(o.path.size() - 2, 2, ".h") == 0;
    if (&o != &s && (!header || fs::path(o.path).parent_path().string() != dir)) continue;
    const std::string &c = o.code;
    for (size_t p = 0; (p = c.find(name, p)) != std::string::npos; p += name.size()) {
      if ((p > 0 && Word(c[p - 1])) || Word(c[p + name.size()])) continue;
      size_t after = c.find_first_not_of(" \t", p + name.size());
      if (after == std::string::npos || (c[after] != ';' && c[after] != ',' && c[after] != '[')) continue;
      size_t line = c.rfind('\n', p) + 1;
      std::string type = Trim(c.substr(line, p - line));
      if (type.empty() || type.find_first_of("=(){};.") != std::string::npos || type.find("return") == 0)
        continue;
      kinds.insert(TypeKind(type.substr(0, type.find(','))));
    }
  }
  return kinds.size() == 1 ? *kinds.begin() : Kind::Unknown;
}

// The return type of a function called name, from its declaration.
Kind ReturnKind(const Tree &tree, const Source &s, const std::string &name) {
  std::string dir = fs::path(s.path).parent_path().string();
  for (int pass = 0; pass < 2; ++pass)
    for (const Source &o : tree.files) {
      if (pass == 0 && fs::path(o.path).parent_path().string() != dir) continue;
      const std::string &c = o.code;
      for (size_t p = 0; (p = c.find(name + "(", p)) != std::string::npos; ++p) {
        if (p == 0 || Word(c[p - 1]) == false) {
          size_t b = p;
          while (b > 0 && (c[b - 1] == ' ' || c[b - 1] == '*' || c[b - 1] == '&')) --b;
          size_t w = b;
          while (w > 0 && (Word(c[w - 1]) || c[w - 1] == ':')) --w;
          std::string type = c.substr(w, p - w);
          if (w == b || type.find("return") != std::string::npos) continue;
          std::string before = WordBefore(c, w);
          if (before == "const") type = "const " + type;
          return TypeKind(type);
        }
      }
    }
  return Kind::Unknown;
}

// The first arithmetic operator outside brackets ("->" and casts' angle
// brackets are no operators), or npos.
size_t TopLevelOperator(const std::string &e) {
  int depth = 0;
  for (size_t i = 0; i < e.size(); ++i) {
    char c = e[i];
    if (c == '(' || c == '[' || c == '{') ++depth;
    if (c == ')' || c == ']' || c == '}') --depth;
    if (depth != 0 || std::string("+-*/%|&").find(c) == std::string::npos) continue;
    if (c == '-' && i + 1 < e.size() && e[i + 1] == '>') {
      ++i;
      continue;
    }
    return i;
  }
  return std::string::npos;
}

Kind ExprKind(const Tree &tree, const Arg &a) {
  if (a.fixed) return a.known;
  std::string e = Trim(a.expr);
  while (e.size() > 1 && e.front() == '(' && e.back() == ')') e = Trim(e.substr(1, e.size() - 2));
  if (e.empty()) return Kind::Unknown;
  if (e[0] == '"') return Kind::String;
  size_t q = e.find('?');
  if (q != std::string::npos && e.find(':', q) != std::string::npos) {
    size_t colon = q;  // the ':' of this conditional, past nested ones and '::'
    for (int depth = 0; ++colon < e.size();) {
      if (e[colon] == '?') ++depth;
      if (e[colon] == ':' && e[colon + 1] == ':') {
        ++colon;
        continue;
      }
      if (e[colon] == ':' && depth-- == 0) break;
    }
    Kind k = ExprKind(tree, {e.substr(q + 1, colon - q - 1), a.where, a.at});
    Kind other = ExprKind(tree, {e.substr(colon + 1), a.where, a.at});
    if (k == Kind::String || other == Kind::String) return Kind::String;  // name ? name : ""
    return k != Kind::Unknown ? k : other;
  }
  for (const char *cast : {"static_cast<", "reinterpret_cast<", "const_cast<"})
    if (e.rfind(cast, 0) == 0) return TypeKind(e.substr(std::strlen(cast), e.find('>') - std::strlen(cast)));
  if (std::isdigit(static_cast<unsigned char>(e[0])) || (e[0] == '-' && e.size() > 1)) {
    if (e.find_first_of(" +*/") == std::string::npos) {
      bool hex = e.find('x') != std::string::npos;
      return !hex && e.find_first_of(".e") != std::string::npos ? Kind::Real : Kind::Integer;
    }
  }
  if (e.size() > 8 && e.compare(e.size() - 8, 8, ".c_str()") == 0) return Kind::String;
  if (e[0] == '&') return Kind::Pointer;
  // A leading operand decides arithmetic.
  size_t op = TopLevelOperator(e);
  if (op != std::string::npos && op > 0) return ExprKind(tree, {e.substr(0, op), a.where, a.at});
  size_t brace = e.find_first_of("{(");
  if (brace != std::string::npos && e.back() == (e[brace] == '{' ? '}' : ')')) {
    std::string callee = Trim(e.substr(0, brace));
    Kind k = TypeKind(callee);
    if (k != Kind::Unknown) return k;  // int32_t{...}, double(...)
    size_t dot = callee.find_last_of(".>:");
    callee = dot == std::string::npos ? callee : callee.substr(dot + 1);
    return ReturnKind(tree, *a.where, callee);
  }
  bool element = false;  // an element of an array or of what a pointer points at
  while (!e.empty() && e.back() == ']') {
    e = Trim(e.substr(0, e.rfind('[')));
    element = true;
  }
  size_t b = e.size();
  while (b > 0 && Word(e[b - 1])) --b;
  std::string name = e.substr(b);
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return Kind::Unknown;
  if (name == "nullptr") return Kind::Pointer;
  Kind k = b > 0 ? MemberKind(tree, *a.where, name) : DeclaredKind(tree, *a.where, a.at, name);
  if (!element) return k;
  return k == Kind::String ? Kind::Integer : Kind::Unknown;  // a char; else the pointee is not told
}

// ---- Posters ----------------------------------------------------------------

class Scan {
 public:
  explicit Scan(const Tree &t) : tree_(t) {}

  void Run() {
    for (const Source &s : tree_.files) {
      for (size_t at : Calls(s, "Post")) {
        size_t close;
        size_t open = s.code.find('(', at);
        auto args = Arguments(s.code, open, &close);
        if (args.size() < 3) continue;
        Site site{&s, at, args[1], {}};
        for (size_t i = 3; i < args.size(); ++i) site.args.push_back({args[i], &s, at});
        Follow(site, 0);
      }
      // Post's own Begin is not a poster; the arguments of the others are
      // appended one by one.
      for (size_t at :
           s.path == "kernel/vosystem/kernel.h" ? std::vector<size_t>{} : Calls(s, "VoDiagnosticBegin")) {
        size_t close;
        auto args = Arguments(s.code, s.code.find('(', at), &close);
        Site site{&s, at, args.size() > 1 ? args[1] : "", {}};
        site.args_known = false;
        Follow(site, 0);
      }
    }
  }

  std::vector<Poster> posters;
  std::vector<std::string> unresolved;

 private:
  // Calls of name in s: not definitions nor member calls.
  static std::vector<size_t> Calls(const Source &s, const std::string &name) {
    static const std::set<std::string> kBeforeCall = {"", "return", "else", "do"};
    std::vector<size_t> at;
    const std::string &c = s.code;
    for (size_t p = 0; (p = c.find(name, p)) != std::string::npos; p += name.size()) {
      if ((p > 0 && Word(c[p - 1])) || Word(c[p + name.size()])) continue;
      size_t open = c.find_first_not_of(" \t\n", p + name.size());
      if (open == std::string::npos || c[open] != '(') continue;
      size_t b = p;
      while (b > 0 && c[b - 1] == ' ') --b;
      const bool logical = b > 1 && c[b - 1] == '&' && c[b - 2] == '&';  // "x && Checked(...)"
      if (b > 0 && !logical && (c[b - 1] == '.' || c[b - 1] == '>' || c[b - 1] == '*' || c[b - 1] == '&'))
        continue;
      if (b > 1 && c[b - 1] == ':' && c[b - 2] == ':') {
        at.push_back(p);  // vo::Post
        continue;
      }
      if (!logical && !kBeforeCall.count(WordBefore(c, b)) && Word(c[b - 1])) continue;  // a declaration
      at.push_back(p);
    }
    return at;
  }

  void Follow(const Site &site, int level) {
    std::vector<uint32_t> numbers;
    std::string param;
    if (Resolve(*site.where, site.message, &numbers, &param)) {
      for (uint32_t n : numbers) Record(site, n);
      return;
    }
    if (Tabled(site, &numbers)) {
      for (uint32_t n : numbers) Record(site, n);
      return;
    }
    Function f = param.empty() ? Function{} : Enclosing(site.where->code, site.at);
    size_t index = f.params.size();
    for (size_t i = 0; i < f.params.size(); ++i)
      if (ParamName(f.params[i]) == param) index = i;
    if (index == f.params.size() && Assigned(site, param, &numbers)) {
      for (uint32_t n : numbers) Record(site, n);
      return;
    }
    if (!f.found || index == f.params.size() || level > 4) {
      unresolved.push_back(Place(*site.where, site.at) + ": message " + site.message);
      return;
    }
    // The helper passes its own parameter on: its callers are the posters.
    std::string dir = fs::path(site.where->path).parent_path().string();
    for (const Source &s : tree_.files) {
      if (fs::path(s.path).parent_path().string() != dir) continue;
      for (size_t at : Calls(s, f.name)) {
        size_t close;
        auto args = Arguments(s.code, s.code.find('(', at), &close);
        // An overload of the same name that takes no message is passed over.
        if (args.size() <= index || ExprKind(tree_, {args[index], &s, at}) == Kind::String) continue;
        Site outer{&s, at, args[index], Substitute(site, f, args, &s, at)};
        outer.args_known = site.args_known;
        Follow(outer, level + 1);
      }
    }
  }

  // A local variable given its number where it is declared ("const
  // uint32_t message = live ? kA : kB;").
  bool Assigned(const Site &site, const std::string &name, std::vector<uint32_t> *out) {
    const std::string &c = site.where->code;
    size_t p = c.rfind(" " + name + " =", site.at);
    if (name.empty() || p == std::string::npos) return false;
    size_t from = p + name.size() + 3, end = c.find(';', from);
    std::string param;
    return Resolve(*site.where, c.substr(from, end - from), out, &param);
  }

  // Posts that take their number from a table of numbers rather than a
  // name: the numbers the tables hold.
  bool Tabled(const Site &site, std::vector<uint32_t> *out) {
    static const std::map<std::pair<std::string, std::string>, std::vector<std::string>> kTables = {
        {{"kernel/vosystem/files.cpp", "a.message"}, {"362", "363", "364"}},  // kAccess
        {{"shading/voshader/textures.cpp", "how.reading"}, {"538", "579"}},   // kTextureRead, kBumpRead
        {{"shading/voshader/textures.cpp", "how.read"}, {"539", "580"}},
        {{"shading/voshader/textures.cpp", "how.unreadable"}, {"516", "530"}},
        // The refused class's messages, from the interface description's during lines.
        {{"kernel/vosystem/control.cpp", "fn->during_message"}, {"kRenderRunning"}},
        // The notes' refusals, which the conditions of the during lines make.
        {{"kernel/vosystem/during_conditions.cpp", "fn->during_message"}, {"kRenderRunning"}},
        {{"render/voscrbuf/access.cpp", "message"},
         {"kScreenBufferSetPixelNoChannel", "kScreenBufferSetPixelType", "kScreenBufferSetPixelOutside",
          "kScreenBufferGetPixelNoChannel", "kScreenBufferGetPixelOutside"}}};
    auto it = kTables.find({site.where->path, Trim(site.message)});
    if (it == kTables.end()) return false;
    std::string param;
    for (const std::string &n : it->second)
      if (!Resolve(*site.where, n, out, &param)) return false;
    return true;
  }

  // The pack parameter an expansion such as "static_cast<double>(args)..."
  // applies to, or the parameter count.
  static size_t PackInside(const std::string &e, const Function &f) {
    if (e.size() < 4 || e.compare(e.size() - 3, 3, "...") != 0) return f.params.size();
    for (size_t j = 0; j < f.params.size(); ++j)
      if (f.params[j].find("...") != std::string::npos &&
          e.find("(" + ParamName(f.params[j]) + ")") != std::string::npos)
        return j;
    return f.params.size();
  }

  // The inner site's arguments as the call (args, in s at at) provides them.
  std::vector<Arg> Substitute(const Site &inner, const Function &f, const std::vector<std::string> &args,
                              const Source *s, size_t at) {
    std::vector<Arg> out;
    for (const Arg &a : inner.args) {
      if (a.fixed) {
        out.push_back(a);
        continue;
      }
      std::string e = Trim(a.expr);
      bool pack = e.size() > 3 && e.compare(e.size() - 3, 3, "...") == 0;
      std::string name = Trim(pack ? e.substr(0, e.size() - 3) : e);
      size_t j = 0;
      while (j < f.params.size() && ParamName(f.params[j]) != name) ++j;
      if (size_t inside = PackInside(e, f); j == f.params.size() && inside != f.params.size()) {
        // static_cast<double>(args)...: each of the call's values, cast alike
        std::string pattern = e.substr(0, e.size() - 3), pname = ParamName(f.params[inside]);
        size_t where = pattern.find("(" + pname + ")");
        for (size_t k = inside; k < args.size(); ++k)
          out.push_back(
              {pattern.substr(0, where) + "(" + args[k] + ")" + pattern.substr(where + pname.size() + 2), s,
               at});
      } else if (j == f.params.size()) {
        out.push_back(a);
      } else if (pack) {
        for (size_t k = j; k < args.size(); ++k) out.push_back({args[k], s, at});
      } else {
        Kind declared = TypeKind(ParamType(f.params[j]));
        if (declared != Kind::Unknown)
          out.push_back({"", nullptr, 0, declared, true});
        else if (j < args.size())
          out.push_back({args[j], s, at});
      }
    }
    return out;
  }

  // The numbers a message expression stands for; false (with param set to
  // a plain name) when it is not a constant.
  bool Resolve(const Source &s, std::string e, std::vector<uint32_t> *out, std::string *param) {
    e = Trim(e);
    while (e.size() > 1 && e.front() == '(' && e.back() == ')') e = Trim(e.substr(1, e.size() - 2));
    size_t q = e.find('?');
    if (q != std::string::npos) {
      size_t colon = e.find(" : ", q);
      if (colon == std::string::npos) return false;
      return Resolve(s, e.substr(q + 1, colon - q - 1), out, param) &&
             Resolve(s, e.substr(colon + 3), out, param);
    }
    if (!e.empty() && std::isdigit(static_cast<unsigned char>(e[0]))) {
      out->push_back(static_cast<uint32_t>(std::strtoul(e.c_str(), nullptr, 0)));
      return true;
    }
    std::string name = e.substr(e.rfind(':') == std::string::npos ? 0 : e.rfind(':') + 1);
    uint32_t v;
    bool listed = e.rfind("messages::", 0) == 0;  // the kernel's list, whatever a module calls its own
    if (tree_.Constant(listed ? "kernel/vosystem/message_numbers.h" : s.path, name, &v)) {
      out->push_back(v);
      return true;
    }
    if (std::all_of(e.begin(), e.end(), Word)) *param = e;
    return false;
  }

  void Record(const Site &site, uint32_t n) {
    if (n == 0) return;  // a helper's "no message" (MaterialCall's null_message)
    Poster p{n, Place(*site.where, site.at), {}, site.args_known, {}};
    for (const Arg &a : site.args) {
      p.kinds.push_back(ExprKind(tree_, a));
      p.exprs.push_back(a.fixed ? "(parameter)" : a.expr);
    }
    posters.push_back(p);
  }

  const Tree &tree_;
};

// ---- The message file -------------------------------------------------------

struct Line {
  uint32_t number;
  std::string text;
  size_t length;
};

std::vector<Line> MessageLines(std::vector<std::string> *faults) {
  std::ifstream in(kRoot / "examples" / "messages.txt");
  std::vector<Line> lines;
  std::string l;
  while (std::getline(in, l)) {
    size_t digits = 0;
    while (digits < l.size() && std::isdigit(static_cast<unsigned char>(l[digits]))) ++digits;
    if (digits < 4 || digits >= l.size() || l[digits] != ' ') {
      faults->push_back("not a numbered line: " + l);
      continue;
    }
    lines.push_back({static_cast<uint32_t>(std::stoul(l.substr(0, digits))), l.substr(digits + 1), l.size()});
  }
  return lines;
}

// The kinds of a text's conversions, in order (as the kernel's formatter
// reads them: '%', optional 0, width, letter).
std::vector<Kind> Conversions(const std::string &text, std::string *letters) {
  std::vector<Kind> kinds;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
      continue;
    }
    if (text[i] != '%') continue;
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    char c = i < text.size() ? text[i] : 0;
    *letters += c;
    kinds.push_back(c == 'd' || c == 'u' || c == 'x' ? Kind::Integer
                    : c == 'g'                       ? Kind::Real
                    : c == 'p'                       ? Kind::Pointer
                    : c == 's'                       ? Kind::String
                                                     : Kind::Unknown);
  }
  return kinds;
}

const char *KindName(Kind k) {
  switch (k) {
    case Kind::Integer: return "number";
    case Kind::Real: return "double";
    case Kind::Pointer: return "pointer";
    case Kind::String: return "string";
    default: return "?";
  }
}

struct Checked {
  Tree tree;
  std::vector<Poster> posters;
  std::vector<std::string> unresolved;
  Checked() {
    tree.Load();
    Scan scan(tree);
    scan.Run();
    posters = scan.posters;
    unresolved = scan.unresolved;
  }
};

const Checked &Sources() {
  static const Checked checked;
  return checked;
}

std::string Join(const std::vector<std::string> &v) {
  std::string s;
  for (const auto &x : v) s += "  " + x + "\n";
  return s;
}

TEST(MessageFile, EveryPostedNumberHasALineWhoseConversionsTakeEachPostersArguments) {
  const Checked &src = Sources();
  std::vector<std::string> faults;
  std::vector<Line> lines = MessageLines(&faults);
  std::map<uint32_t, const Line *> by_number;
  for (const Line &l : lines) by_number[l.number] = &l;

  // The scan itself must see every poster; one it cannot follow is named.
  EXPECT_TRUE(src.unresolved.empty()) << "posts whose number could not be worked out:\n"
                                      << Join(src.unresolved);
  EXPECT_GT(src.posters.size(), 400u);  // the scan found the library's posts

  if (std::getenv("VO_LIST_POSTERS") != nullptr)
    for (const Poster &p : src.posters) {
      std::string kinds;
      for (size_t i = 0; i < p.kinds.size(); ++i)
        kinds += std::string(" ") + KindName(p.kinds[i]) + "=" + p.exprs[i];
      std::printf("%u %s%s%s\n", p.number, p.place.c_str(), p.args_known ? "" : " (one by one)",
                  kinds.c_str());
    }

  std::map<uint32_t, std::set<size_t>> counts;
  for (const Poster &p : src.posters)
    if (p.args_known) counts[p.number].insert(p.kinds.size());
  std::map<uint32_t, bool> shared_counts;
  for (const auto &[n, c] : counts) shared_counts[n] = c.size() > 1;
  std::set<uint32_t> listed;
  for (const Poster &p : src.posters) {
    listed.insert(p.number);
    auto it = by_number.find(p.number);
    if (it == by_number.end()) {
      faults.push_back(std::to_string(p.number) + " has no line (posted at " + p.place + ")");
      continue;
    }
    if (!p.args_known) continue;
    std::string letters;
    std::vector<Kind> want = Conversions(it->second->text, &letters);
    // Posters of one number that pass different counts share a text that
    // takes the arguments all of them pass (the others' extra ones go unprinted).
    bool fits = shared_counts[p.number] ? want.size() <= p.kinds.size() : want.size() == p.kinds.size();
    for (size_t i = 0; fits && i < want.size(); ++i)
      fits = p.kinds[i] == Kind::Unknown || want[i] == p.kinds[i];
    if (!fits) {
      std::string kinds;
      for (Kind k : p.kinds) kinds += std::string(" ") + KindName(k);
      faults.push_back(std::to_string(p.number) + " \"" + letters + "\" does not take" + kinds +
                       " (posted at " + p.place + ")");
    }
  }
  // Every number of the kernel's list is posted somewhere the scan saw.
  for (const auto &[name, def] : src.tree.constants)
    if (def.first == "kernel/vosystem/message_numbers.h" && !listed.count(def.second) &&
        !by_number.count(def.second))
      faults.push_back(name + " (" + std::to_string(def.second) + ") has no line");
  EXPECT_TRUE(faults.empty()) << Join(faults);
}

TEST(MessageFile, LinesAscendFitTheBufferAndHoldTheKernelsOwnTexts) {
  std::vector<std::string> faults;
  std::vector<Line> lines = MessageLines(&faults);
  for (size_t i = 1; i < lines.size(); ++i)
    if (lines[i].number <= lines[i - 1].number)
      faults.push_back(std::to_string(lines[i].number) + " follows " + std::to_string(lines[i - 1].number));
  std::set<uint32_t> numbers;
  for (const Line &l : lines) {
    numbers.insert(l.number);
    // The kernel reads 511 characters of a line, its newline among them.
    if (l.length > 510) faults.push_back(std::to_string(l.number) + " is longer than 510 characters");
  }
  for (uint32_t n : {1u, 2u, 3u, 5u})
    if (!numbers.count(n))
      faults.push_back("message " + std::to_string(n) + " is missing: the file is not used");
  // The texture and bump-map builders give one number for every refusal (a
  // 1 x 4097 texture among them): the text names every cause, not memory alone.
  for (const Line &l : lines)
    if ((l.number == 537 || l.number == 578) &&
        l.text.find("side above 4096 or no memory") == std::string::npos)
      faults.push_back(std::to_string(l.number) + " does not name every cause: " + l.text);
  EXPECT_TRUE(faults.empty()) << Join(faults);
}

}  // namespace

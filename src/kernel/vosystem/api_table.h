// The table of exported procedures, built from the interface description.
// The journal, the command interpreter and binary command files read it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_types.h>

namespace vo::api {

// Parameter kinds (how a value is carried).
enum ApiKind : uint32_t {
  kKindVoid = 0,
  kKindScalar = 1,   // a number passed by value
  kKindString = 2,   // a zero-terminated text
  kKindPointer = 3,  // an address the library does not own
  kKindHandle = 4,   // an opaque library object
  kKindFunc = 5,     // a procedure
  kKindStruct = 6,   // a record passed by address (colour, bounds, ...)
  kKindTyped = 7,    // a VtTypedValue passed by address
  kKindData = 8,     // a raw block of bytes
  kKindTagged = 9,   // a record passed by address whose type word gives its value's form
};

// Parameter flags.
enum ApiFlag : uint32_t {
  kParamIn = 1,
  kParamOut = 2,
  kParamArray = 4,
  kParamSets = 8,  // a handle the call sets into a holder (the "sets" lines): a waiting call holds it
};

struct VtApiParam {
  const char *name;
  const char *type_name;  // as written in the interface description
  uint32_t type;          // value-type code
  uint32_t kind;          // ApiKind
  uint32_t flags;         // ApiFlag bits
  int32_t count;          // arrays: > 0 fixed count, -(k + 1) count in parameter k, 0 open
  uint32_t scale;         // a count in parameter k: elements per unit of it ("n*3")
};

// What a shape procedure answers for one parameter of a call: the value type
// of the elements and their count. For an array parameter element is
// ignored; for the k-th typed value of a typed-value parameter it asks for
// the data behind a VtGenericPtr value.
struct VtApiShape {
  uint32_t type;
  uint64_t count;
  uint32_t
      unit;  // bytes of one value where they are not the type's own size (a registered property's), else 0
};
using ApiShapeProc = bool (*)(const void *const *argv, uint32_t param, uint64_t element, VtApiShape *shape);

// Calls the exported procedure: argv[i] points at the storage of argument i
// (the value itself for inputs, the output address for outputs).
using ApiThunk = void (*)(void *const *argv, VtTypedValue *result);

// What a procedure does while a render runs, from the interface
// description's "during" lines (docs/rendering.md, "Calls while a render
// runs"). The exported wrapper enforces what the entry can: while a render
// runs on one application thread, a call of a class after kDuringUtility
// entered on another is refused (message 2908), and a call of the refused
// class is refused on any thread with its message.
enum ApiDuring : uint32_t {
  kDuringRead = 0,       // changes nothing
  kDuringUtility = 1,    // an immediate memory, file or lock utility
  kDuringImmediate = 2,  // acts at once on what no running render reads
  kDuringChange = 3,     // the running render does not see it, the next one does
  kDuringRelease = 4,    // gives an object back: freed when the outermost render ends
  kDuringNested = 5,     // runs a render inside the running one
  kDuringRefused = 6,    // refused with during_message
};

// When a procedure's class depends on its arguments, its "during" line
// declares the condition (after "if") under which a running render refuses
// it with during_message: clauses joined by "or", each atoms joined by
// "and"; an atom holds when its kind holds for any parameter it names. The
// exported wrapper judges it before the procedure runs, so no procedure
// checks it again (docs/rendering.md, "Calls while a render runs").
enum ApiCondition : uint32_t {
  kConditionGiven = 0,         // "given": a non-zero value, a non-null handle or output address
                               // (an in-out value: a non-null address holding a non-zero value)
  kConditionHeld = 1,          // "held": a ring a running render started with, or an object it holds
  kConditionHeldByCaller = 2,  // "held-by-caller": the ring the render making the callback started with
  kConditionRead = 3,          // "read": a live primitive a running render reads
  kConditionMembersRead = 4,   // "members-read": a ring with a member a running render reads
  kConditionUsed = 5,          // "used": a material a running render's primitives use (not the default)
  kConditionCount = 6,
};

struct VtApiCondition {
  uint32_t kind;    // ApiCondition
  uint32_t clause;  // atoms of one clause all hold for it to hold; any clause refuses
  uint32_t params;  // bit i: parameter i
};

// The kinds the kernel cannot judge (read, members-read, used) are judged
// by the module owning the objects, which gives its test at its start; a
// kind without a test never holds. The test reads the argument's value (a
// handle), which may be anything the application passed.
using ApiConditionTest = bool (*)(const void *object);
void ConditionTestSet(ApiCondition kind, ApiConditionTest test);

struct VtApiFunction {
  const char *name;
  const char *module;      // registry name of the owning module
  uint32_t module_number;  // owning module
  uint32_t code;           // binary command code: (module << 16) | index
  const char *result_name;
  uint32_t result_type;  // value-type code of the result (0: none)
  uint32_t result_kind;  // ApiKind of the result
  uint32_t param_count;
  const VtApiParam *params;
  ApiThunk thunk;
  size_t arity;                      // parameter count of the exported C declaration
  VtProc entry;                      // the exported entry point itself
  ApiShapeProc shape;                // sizes what the declaration cannot, or null
  uint32_t during;                   // ApiDuring
  uint32_t during_message;           // the refused class's message, or that of a refusal the note declares
                                     // for some arguments ("refused with message N ..."), else 0
  const char *during_note;           // how the class depends on the arguments, or ""
  const VtApiCondition *conditions;  // the refusal's condition ("if"), or null
  uint32_t condition_count;
  int32_t refused_answer;  // the parameter whose value a refusal by the condition answers, or -1
  bool called_back;        // the library calls it back while it posts a diagnostic ("calledback"
                           // lines): not refused on a thread that is posting
  int32_t object;          // the parameter naming what a change or release acts on ("object" lines),
                           // kObjectScene for the scene's own settings, or -1: the wrapper makes the
                           // call wait while a running render holds that object (held_set.cpp)
};

constexpr int32_t kObjectScene = -2;

extern const VtApiFunction kFunctions[];
extern const size_t kFunctionCount;

// Every type name of the interface description, with "GenericPtr" and
// "Matrix" (16 doubles, code 0), and the byte size of one value.
struct VtApiType {
  const char *name;
  uint32_t code;  // value-type code
  uint32_t kind;  // ApiKind
  uint32_t size;
};
extern const VtApiType kTypes[];
extern const size_t kTypeCount;

// How a tagged record (VtObjectValue) carries its value for one type word:
// in its value area (count values of the type), by the address of the value
// in its value word, as an object (a handle) in its value word, or not at all.
enum ApiCarried : uint32_t { kCarriedArea = 0, kCarriedAddress = 1, kCarriedObject = 2, kCarriedNone = 3 };

struct VtApiCase {
  const char *record;     // the tagged record's type name
  uint32_t word;          // the type word (its type id)
  uint32_t carried;       // ApiCarried
  const char *type_name;  // the value's type, as the interface description names it
  uint32_t count;         // values in the area
};
extern const VtApiCase kCases[];
extern const size_t kCaseCount;
// The case of a record's type word; null for a type word without one.
const VtApiCase *FindCase(const char *record, uint32_t word);

// The public headers' integer VO_ macros and enumerators.
struct VtApiConstant {
  const char *name;
  int64_t value;
};
extern const VtApiConstant kConstants[];
extern const size_t kConstantCount;

// Look-ups over the tables (exact name; binary command code; the exported
// entry point). Null when absent.
const VtApiFunction *FindFunction(const char *name);
const VtApiFunction *FindFunctionByCode(uint32_t code);
const VtApiFunction *FindFunctionByEntry(const void *entry);
const VtApiType *FindType(const char *name);
const VtApiConstant *FindConstant(const char *name);

// The hashes the generated slot tables are laid out by.
constexpr uint32_t NameHash(const char *name) {
  uint32_t h = 2166136261u;
  for (; *name; ++name) h = (h ^ static_cast<unsigned char>(*name)) * 16777619u;
  return h;
}
constexpr uint32_t CodeHash(uint32_t code) { return code * 2654435761u; }

template <class T>
struct FnArity;
template <class R, class... A>
struct FnArity<R (*)(A...)> {
  static constexpr size_t value = sizeof...(A);
};
template <class R, class... A>
struct FnArity<R (*)(A...) noexcept> {
  static constexpr size_t value = sizeof...(A);
};

// What a script may give an input pointer parameter (or each element of a
// pointer array), from the interface description's "points" lines: every
// such parameter has exactly one rule (apigen refuses a description
// without).
enum ApiPointerRule : uint32_t {
  kRuleCount = 0,    // the address of count values of the type, the count in a parameter (times scale)
  kRuleFixed = 1,    // the address of count values of the type
  kRuleShape = 2,    // the address of what the procedure's shape gives for the parameter
  kRuleStream = 3,   // a file VoFileOpen opened and VoFileClose has not closed
  kRuleOpaque = 4,   // anything: never read or written through
  kRuleLibrary = 5,  // a block of the parameter's kind that a call answered
  kRuleObject = 6,   // an object a call answered (a handle), which the procedure checks itself
};

struct VtApiPointerRule {
  uint32_t function;  // index in kFunctions
  uint32_t param;
  uint32_t rule;          // ApiPointerRule
  const char *type_name;  // count and fixed: the values' type; library: the block's kind
  int32_t count;          // fixed: the count; count: -(k + 1), the count in parameter k
  uint32_t scale;
  uint32_t owner;  // library: the parameter whose value the block must belong to, or kNoOwner
};
extern const VtApiPointerRule kPointerRules[];
extern const size_t kPointerRuleCount;

// Control codes whose typed value is a stream: for procedure function, the
// typed value in parameter value_param given with code in parameter
// code_param.
struct VtApiStreamCode {
  uint32_t function, value_param, code_param, code;
};
extern const VtApiStreamCode kStreamCodes[];
extern const size_t kStreamCodeCount;

// The pointer and handle parameters whose call gives back what it is given
// (the "givesback" lines): after such a call the command interpreter
// forgets every variable that holds it, so that no script gives it back
// twice or reads it after; a handle takes with it everything it owns (see
// kOwned), a pool its elements and sub-pools.
struct VtApiGivenBack {
  uint32_t function;  // index in kFunctions
  uint32_t param;
};
extern const VtApiGivenBack kGivenBack[];
extern const size_t kGivenBackCount;

// The kinds of block a procedure answers its caller (the "blocks" lines):
// its result (param kBlockResult) or what it writes through an output
// parameter is a block of kind. A "library" rule takes only a block of its
// kind; a block answered by a procedure that declares none is of no kind.
// The kind kBlockKindInner is made by no procedure: records the library
// hands only to its own code and the shaders it calls.
inline constexpr uint32_t kBlockResult = UINT32_MAX;
inline constexpr const char *kBlockKindInner = "inner";
// A maker's "sizes" line names the number parameter (input, or output the
// call writes) that gives the bytes of its block; a block of no size is
// never taken where a call reads or writes a counted amount through it.
inline constexpr uint32_t kNoSize = UINT32_MAX;
struct VtApiBlockMaker {
  uint32_t function;  // index in kFunctions
  uint32_t param;     // kBlockResult, or an output parameter
  const char *kind;
  uint32_t size_param;  // the parameter giving the block's bytes, or kNoSize
};
extern const VtApiBlockMaker kBlockMakers[];
extern const size_t kBlockMakerCount;

// What a call answers may belong to the value of one of its handle
// arguments (the "of" of a "blocks" line, and the "owned" lines for
// handles): a pool's elements and sub-pools belong to the pool. A library
// rule with an owner takes only a block that belongs to the value of its
// own owner argument, and an owner given back takes what it owns with it.
// A call moving what one handle owns to another (the "moves" lines: a
// sub-pool merged into its parent) hands the blocks over.
inline constexpr uint32_t kNoOwner = UINT32_MAX;
struct VtApiOwned {
  uint32_t function;  // index in kFunctions
  uint32_t param;     // kBlockResult, or an output parameter
  uint32_t owner;     // the handle parameter whose value owns the answer
};
extern const VtApiOwned kOwned[];
extern const size_t kOwnedCount;
struct VtApiMove {
  uint32_t function;  // index in kFunctions
  uint32_t from, to;  // handle parameters
};
extern const VtApiMove kMoves[];
extern const size_t kMoveCount;

// The rule of a procedure's pointer parameter; null for another parameter.
const VtApiPointerRule *FindPointerRule(const VtApiFunction *fn, uint32_t param);
// The kind of block fn answers in param (kBlockResult for its result); null
// when it declares none.
const char *BlockKindMade(const VtApiFunction *fn, uint32_t param);
// The parameter giving the bytes of the block fn answers in param; kNoSize
// when nothing sizes it.
uint32_t BlockSizeParam(const VtApiFunction *fn, uint32_t param);
// The parameter whose value owns what fn answers in param (kBlockResult for
// its result); kNoOwner when none does.
uint32_t AnswerOwner(const VtApiFunction *fn, uint32_t param);
// Whether the typed value in parameter param may be a stream, and the
// parameter holding its code; whether it is one for this code.
bool StreamCodeParam(const VtApiFunction *fn, uint32_t param, uint32_t *code_param);
bool IsStreamCode(const VtApiFunction *fn, uint32_t param, uint32_t code);
// The exported procedure running innermost on this thread, made through the
// interface (by the application or a script it runs), or null: the library's
// own code calls procedures directly, never through the interface.
const VtApiFunction *EnteredFunction();

}  // namespace vo::api

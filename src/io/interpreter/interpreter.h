// The command interpreter's state and the services its text and binary
// readers share: variables, argument conversion, calls through the table of
// exported procedures and printing of values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <vo/vo_types.h>

#include "kernel/vosystem/face.h"

namespace vo::interp {

constexpr uint32_t kModule = 4;   // the module number of the interpreter's diagnostics
constexpr int kMostNesting = 64;  // inputs nested by "source"

// Messages.
constexpr uint32_t kMsgUnknownType = 261;
constexpr uint32_t kMsgConstantName = 276;
constexpr uint32_t kMsgBadName = 278;
constexpr uint32_t kMsgPlace = 279;  // line, file
constexpr uint32_t kMsgWrongType = 280;
constexpr uint32_t kMsgVariableType = 281;
constexpr uint32_t kMsgArgument = 282;
constexpr uint32_t kMsgUnknownFunction = 283;
constexpr uint32_t kMsgTooFewArguments = 284;
constexpr uint32_t kMsgUnknownVariable = 286;
constexpr uint32_t kMsgNoName = 288;
constexpr uint32_t kMsgBadRight = 290;
constexpr uint32_t kMsgCannotSource = 292;
constexpr uint32_t kMsgConsolePlace = 296;  // line
constexpr uint32_t kMsgFeedbackOn = 393;
constexpr uint32_t kMsgFeedbackOff = 394;
constexpr uint32_t kMsgWarningPlace = 478;  // line, file
constexpr uint32_t kMsgWarningConsolePlace = 479;
constexpr uint32_t kMsgStatusWarning = 480;
constexpr uint32_t kMsgInterrupted = 501;
constexpr uint32_t kMsgArrayWithoutCount = 525;
constexpr uint32_t kMsgTableCannotGrow = 529;
constexpr uint32_t kMsgSourceTooDeep = messages::kSourceTooDeep;
constexpr uint32_t kMsgBinaryRecord = messages::kBinaryRecordRefused;
constexpr uint32_t kMsgBinaryVariable = messages::kBinaryVariableRefused;
constexpr uint32_t kMsgBinaryRecordTooLong = messages::kBinaryRecordTooLong;
constexpr uint32_t kMsgArrayTooLarge = messages::kScriptArrayTooLarge;
constexpr uint32_t kMsgArgumentShort = messages::kScriptArgumentShort;
constexpr uint32_t kMsgDataNotOwned = messages::kScriptDataNotOwned;
constexpr uint32_t kMsgPointerRefused = messages::kScriptPointerRefused;
constexpr uint32_t kMsgStreamRefused = messages::kScriptStreamRefused;

constexpr VtStatus kStatementError = 2;
constexpr VtStatus kStatusWarning = VO_CLASS_WARNING;  // 0x20000000
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;

// The form of a variable.
enum Form : uint32_t { kValue = 0, kPointerTo = 1, kArray = 2 };

struct Variable {
  char *name;
  const api::VtApiType *type;  // of the value, the pointed-to value or the elements
  uint32_t form;
  uint64_t count;  // arrays: elements
  bool defined;
  unsigned char *storage;  // the value or the elements, from VoAllocate
  Variable *next;          // in its bucket
};

// The variables by name: chains from a power of two of buckets, as many
// buckets as variables at least (doubled as they come), so that a lookup
// stays short however many names a script or a journal keeps. Walked as a
// range of chain heads (none before the first variable).
struct VariableTable {
  Variable **heads;
  size_t count;      // buckets
  size_t variables;  // in the chains
  Variable **begin() const { return heads; }
  Variable **end() const { return heads + count; }
};

// A variable that a journal handed to the journal control (its
// "# VoJournalControlSet 0x10005 {VtGenericPtr NAME}" comment), in the
// session that begins at the session-th journal header of the input.
struct JournalFile {
  JournalFile *next;
  uint32_t session;
  char name[1];  // more behind it
};

struct Input {
  char *name;  // private copy, or null for the console
  std::FILE *file;
  bool close;  // opened by "source"
  uint64_t line;
  uint32_t session;         // journal headers read so far
  bool moved_away;          // the journal went on in another file (its comment was read)
  JournalFile *journals;    // found by reading the input ahead, when it can be read again
  unsigned char prefix[4];  // bytes read to look for the binary signature
  size_t prefix_fill, prefix_at;
  Input *previous;
};

// The pointer values calls have answered while the input runs, each as a
// library object (a handle: the answer's declared type is an object's) or a
// block. A pointer argument's origin is read from here, not from the
// variables that happen to hold the value: a script copies values freely
// (through VtGenericPtr variables, over a handle variable it then
// overwrites), and a value must be judged by what the library made it.
// A value once answered as a handle stays one until a call gives it back
// (the description's "givesback", a pool's dispose): a procedure may answer
// an object again as a plain pointer (a reference's data), and a pool object
// given to free() is what the record exists to prevent. A value a call gave
// back stays recorded as gone: a procedure that changes nothing (the
// interface description's "read" class) may answer it again from where
// the script stored it, and only a call that can make a block (any other
// class) makes it one again. Open addressing with linear probing; entries
// are never removed, and the table is cleared when the kernel stops.
// A handle keeps the type its answering call declares (in the slot of a
// block's kind), so that a handle parameter takes only one of its type.
// A block keeps the kind its answering call makes (the interface
// description's "blocks" lines; null when the call declares none), so that
// a parameter taking one kind of block never gets a block of another kind
// or size, and the value owning it where its maker says (a pool its
// elements and sub-pools, the description's "of"), so that a parameter
// taking a block of one owner never gets another's, and an owner given
// back takes what it owns with it. A block whose maker answers its size
// (the description's "sizes" lines) keeps it, so that a call reading or
// writing a counted amount through it is judged as it is with the script's
// own data.
constexpr uint64_t kSizeUnknown = UINT64_MAX;
enum AnswerKind : unsigned char { kAnswerNone = 0, kAnswerBlock = 1, kAnswerHandle = 2, kAnswerGone = 3 };
struct Answers {
  uint64_t *values;
  unsigned char *kinds;  // per slot: an AnswerKind, kAnswerNone for a free slot
  const char **made;     // per slot: a block's kind, or null
  uint64_t *owners;      // per slot: the value owning it, or 0
  uint64_t *sizes;       // per slot: a block's bytes, or kSizeUnknown
  size_t capacity;       // slots: a power of two, or 0
  size_t count;
};

struct State {
  VariableTable buckets;
  Answers answers;  // what calls answered, until the kernel stops
  Input *top;
  int depth;
  char *line;  // the line buffer
  size_t line_capacity;
  void *kept;  // blocks that values stored in variables point into
  bool feedback, stop, quit, interrupted;
  VtStatus status;  // OR of the statuses posted
};

// The state while an input is being read (null otherwise).
State *Current();

// Writes text to the current driver's message output, or to standard output
// where the driver has none.
void Say(const char *text);

// Posts a diagnostic of module 4 and ORs its status into the answer.
template <class... A>
void Report(State *s, VtStatus status, uint32_t message, A... args) {
  if (s != nullptr) s->status |= status;
  Post(status, message, kModule, args...);
}

// Looks up a type for declarations: the description's names, the value
// types' printable names, "GenericPtr" and "Matrix".
const api::VtApiType *TypeByName(const char *name);
const api::VtApiType *TypeByCode(uint32_t code);

Variable *FindVariable(State *s, const char *name);
// Makes (or replaces) a variable; null when out of memory.
Variable *MakeVariable(State *s, const char *name, const api::VtApiType *type, uint32_t form, uint64_t count);
void FreeVariables(State *s);
// Variable storage: zero-filled blocks (8 bytes at least); a replaced one is
// retired onto the kept chain, never freed while the input runs.
unsigned char *StorageTake(uint64_t size);
void StorageRetire(void **kept, unsigned char *storage);
// After a call that stopped the kernel: addresses and handles are dead.
void ForgetAddresses(State *s);

// A growing text in memory from VoAllocate; ok turns false when memory runs
// out.
struct Text {
  char *p = nullptr;
  size_t fill = 0, capacity = 0;
  bool ok = true;
  Text() = default;
  Text(const Text &) = delete;
  Text &operator=(const Text &) = delete;
  ~Text() { VoDeallocate(p); }
  void Add(const char *text, size_t n);
  void Add(const char *text);
  void Format(const char *format, ...) __attribute__((format(printf, 2, 3)));
  const char *c_str() const { return p ? p : ""; }
};

// Blocks for one statement or record, all given back at once.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena &) = delete;
  Arena &operator=(const Arena &) = delete;
  ~Arena();
  // Zero-filled; null when out of memory or past 4 GiB.
  void *Take(uint64_t size);
  // Moves every block onto the chain (a value stored in a variable may
  // point into them); FreeChain gives a chain back.
  void HandOver(void **chain);
  static void FreeChain(void *chain);
  // Whether p lies in one of the blocks (of the arena, or of a chain), with
  // the bytes from p to the block's end.
  bool Holds(const void *p, uint64_t *bytes) const { return ChainHolds(blocks_, p, bytes); }
  static bool ChainHolds(const void *chain, const void *p, uint64_t *bytes);

  // Every block, and every variable's storage, begins with a head of this
  // many bytes: its link in a chain and its size.
  static constexpr size_t kBlockHead = 16;

 private:
  struct Block {
    Block *next;
    uint64_t size;
  };
  Block *blocks_ = nullptr;
};

// A value's text as "print" writes it (without the line end).
void FormatValue(Text *out, const api::VtApiType *type, uint32_t form, uint64_t count, const void *value);
bool HoldsAddress(const api::VtApiType *type);
// Records of numbers: the element type code and count; false for others.
bool RecordLayout(const api::VtApiType *type, uint32_t *element, uint32_t *count);

// Reads a binary command file held in memory; the signature has been seen.
VtStatus ReadBinary(State *s, const unsigned char *data, size_t size, const char *name);

// Elements an array parameter needs, from its fixed count or its counting
// parameter (times its scale) among the converted arguments; 0 for a
// negative count, -1 when the description does not say.
int64_t NeededElements(const api::VtApiFunction *fn, const api::VtApiParam &p, const uint64_t *cells);

// What an argument must hold for the call: count values of a type (its
// name and byte size).
struct Need {
  uint64_t count;
  const char *unit;
  uint32_t unit_size;
};

// What array parameter i must hold: its fixed count, its counting parameter
// (times its scale), or what the procedure's shape answers; false when
// nothing sizes it. cells are the converted arguments (argv[k] = &cells[k]);
// a shape reads the arrays of earlier parameters, so those must have been
// checked first.
bool ArrayNeed(const api::VtApiFunction *fn, uint32_t i, const uint64_t *cells, Need *need);
// What the data behind element `element` of typed-value parameter i must
// hold, by the procedure's shape; false when the shape does not size it.
bool DataNeed(const api::VtApiFunction *fn, uint32_t i, uint64_t element, const uint64_t *cells, Need *need);
// Whether p points into a block of the input's own: a variable's storage,
// a block of the call's arena, or one kept for the input (a replaced
// variable's storage, the texts and records of earlier statements); bytes
// answers what it holds from p on. An address a call answered is none.
bool Holds(const State *s, const Arena *call, const void *p, uint64_t *bytes);

// Where a pointer argument's value came from: the script's own data (the
// address of a variable, or into a block of the input's), a library object
// the script holds as a handle, or any other address a call answered.
// A value no call answered is none of these (kFromNowhere), nor is one a
// call gave back (kFromGone); a file VoFileOpen opened is judged by the
// stream rule alone (kFromFile).
enum Origin : uint32_t {
  kFromNull = 0,
  kFromScript = 1,
  kFromHandle = 2,
  kFromLibrary = 3,
  kFromNowhere = 4,
  kFromFile = 5,
  kFromGone = 6,  // a block a call gave back
};

// The origin of a pointer argument: null, the script's own data (holding
// held bytes from value on), a file, or what the record of answers says.
// A block's kind into *made (null when of no kind or not a block).
// Its owner into *owner (0 when none). A block a call answered holds
// *held bytes, kSizeUnknown when its maker answered no size.
uint32_t OriginOf(const State *s, const Arena *call, const void *value, uint64_t *held, const char **made,
                  uint64_t *owner);

// The record of answers: what it holds for a value, and the record kept by
// a call's answers (its result, and the pointer values it wrote through its
// output parameters: handles, blocks, typed values holding an address,
// value records carrying an object). False when memory ran out (the
// diagnostic posted, reading stops; an unrecorded value is only refused).
AnswerKind AnswerOf(const Answers &a, uint64_t value, const char **made = nullptr, uint64_t *owner = nullptr,
                    uint64_t *size = nullptr);
// revives: whether the answering call can make a block (a gone value
// answered by one that cannot stays gone).
// made: a block's kind (null: of no kind); owner: the value owning it (0:
// none); size: a block's bytes (kSizeUnknown: none answered).
bool AnswerNote(State *s, uint64_t value, AnswerKind kind, bool revives, const char *made = nullptr,
                uint64_t owner = 0, uint64_t size = kSizeUnknown);
// Given back: gone, and so is everything it owns, and what that owns.
void AnswerForget(State *s, uint64_t value);
// The live blocks from owns pass to to.
void AnswersMove(State *s, uint64_t from, uint64_t to);
void AnswersClear(Answers *a);  // the kernel stopped: every value is dead
void AnswersFree(Answers *a);

// The judgement of one pointer argument by its parameter's rule (the
// interface description's "points" line): allowed, short of what the call
// reads or writes (held against need, for message 2970), or refused for
// what it is (the words of message 2972).
struct PointerVerdict {
  bool ok = true;
  bool short_of = false;
  uint64_t held = 0;
  Need need{};
  const char *is = "";
  Text takes;
};

// Judges value, the argument of input pointer parameter i of fn or one
// element of it, that came from origin (holding held bytes when the
// script's own or a block of a known size; made: a block's kind; owner:
// the value owning it); cells
// are the converted arguments, for counts, shapes and owners.
bool PointerAllowed(const api::VtApiFunction *fn, uint32_t i, const void *value, uint32_t origin,
                    uint64_t held, const char *made, uint64_t owner, const uint64_t *cells,
                    PointerVerdict *verdict);
// Whether parameter i of fn takes pointers (or handles) that the rules judge.
bool RuledPointer(const api::VtApiFunction *fn, uint32_t i);
// Whether the typed value of parameter i, given with the control code in
// the cells, must be a file VoFileOpen opened, and is not one: the code
// into *code.
bool StreamCodeRefused(const api::VtApiFunction *fn, uint32_t i, const uint64_t *cells, uint32_t *code);

// After a call that gave back the blocks or handles its "givesback"
// parameters were given: every variable holding one is forgotten
// (undefined, or in a binary file's table, null), and so is the record's
// answer with everything it owns, so that none is given back twice or read
// after.
void ForgetGivenBack(State *s, const api::VtApiFunction *fn, const uint64_t *cells, uint64_t *table,
                     size_t table_size);

// Everything after a call, for text and binary inputs alike: the blocks it
// moved pass to their new owner, what it gave back is forgotten, then what
// it answered is recorded with its owner (in that order: a reallocation may
// answer the block it was given). counts are the
// elements of array arguments; result is the call's answer; kept is what
// OutputsMark answered before the call (given back here).
void AfterCall(State *s, const api::VtApiFunction *fn, const uint64_t *cells, const int64_t *counts,
               const VtTypedValue &result, uint64_t *table, size_t table_size, uint64_t *kept);

// Before a call: keeps what every output element that may carry an address
// holds, and marks each one the call does not read as unwritten, so that
// AfterCall records only what the call wrote (a variable that held a block
// given back, left unwritten by a failing call, is no new block). Null when
// no output carries an address, or without memory.
uint64_t *OutputsMark(const api::VtApiFunction *fn, const uint64_t *cells, const int64_t *counts);
// For a call whose outputs are not looked at (the library was stopped):
// gives each element left marked its value back, and kept back.
void OutputsUnmark(const api::VtApiFunction *fn, const uint64_t *cells, const int64_t *counts,
                   uint64_t *kept);

// Calls fn through its thunk with the journal's bracket released, forgetting
// addresses when the call stopped the kernel.
void CallThrough(State *s, const api::VtApiFunction *fn, void *const *argv, VtTypedValue *result);

}  // namespace vo::interp

// The driver operations as a driver module builds its table of them: the
// codes with a slot, each with its form (vo_driver.h), a procedure of a
// form that answers a constant, a table's procedure by code, and the
// answer of a driver built into a module of its own.
//
// Invariants a reader must know:
// - a driver's table gives, for a code of the slot list, a procedure of
//   that code's form (Op<Code>::Proc) or null; the framework puts its
//   default in an empty slot.
#pragma once

#include <cstdint>

#include <vo/vo_driver.h>

namespace vo::driver {

// The operation codes with a slot, in slot order, each with its form.
// An X-macro list, laid out by hand (the formatter folds it badly).
// clang-format off
#define VO_DRIVER_SLOTS(X)                                                                              \
  X(0x1a001a, VtDriverNoArgProc) X(0x1a0007, VtDriverNoArgProc) X(0x1a0008, VtDriverByteProc)           \
  X(0x1a0009, VtDriverByteProc) X(0x1a000a, VtDriverColourBytesProc)                                    \
  X(0x1a000b, VtDriverColourBytesProc) X(0x1a000c, VtDriverColourProc) X(0x1a000d, VtDriverColourProc)  \
  X(0x1a0001, VtDriverNoArgProc) X(0x1a0002, VtDriverNoArgProc) X(0x1a001b, VtDriverWordProc)           \
  X(0x1a0003, VtDriverFrameProc) X(0x1a0004, VtDriverNoArgProc) X(0x1a0018, VtDriverImageProc)          \
  X(0x1a0019, VtDriverImageProc) X(0x1a001c, VtDriverRasterLineProc) X(0x1a001d, VtDriverPointLineProc) \
  X(0x1a001e, VtDriverPointLineProc) X(0x1a0011, VtDriverRasterPointProc) X(0x1a0012, VtDriverPointProc) \
  X(0x1a0013, VtDriverPointProc) X(0x1a0005, VtDriverWordProc) X(0x1a0006, VtDriverNoArgProc)           \
  X(0x1a000e, VtDriverRowProc) X(0x1a0010, VtDriverRowProc) X(0x1a000f, VtDriverRowProc)                \
  X(0x1a0015, VtDriverWordProc) X(0x1a0016, VtDriverReadLineProc) X(0x1a0017, VtDriverMessageProc)      \
  X(0x1a0020, VtDriverKindProc) X(0x1a001f, VtDriverByteProc) X(0x1a0021, VtDriverThreeWordProc)        \
  X(0x1a0022, VtDriverDrawProc) X(0x1a0023, VtDriverNoArgProc) X(0x1a0024, VtDriverThreeWordProc)       \
  X(0x1a0025, VtDriverFourWordProc) X(0x1a0026, VtDriverNoArgProc) X(0x1a002b, VtDriverWordProc)        \
  X(0x1a002c, VtDriverWordProc) X(0x1a002d, VtDriverColourMapEntriesProc)                               \
  X(0x1a002e, VtDriverColourMapImageProc) X(0x1a0031, VtDriverWordProc) X(0x1a002f, VtDriverPrimitiveProc) \
  X(0x1a0030, VtDriverTwoWordProc) X(0x1a0032, VtDriverRowProc) X(0x1a0033, VtDriverWordProc)           \
  X(0x1a0034, VtDriverTwoWordProc) X(0x1a0036, VtDriverSubRegionProc) X(0x1a0037, VtDriverNoArgProc)    \
  X(0x1a0038, VtDriverBlockProc)
// clang-format on

// The form of a code's procedure: Op<Code>::Proc, for the codes of the
// slot list only.
template <uint32_t Code>
struct Op;
#define VO_DRIVER_OP_ENTRY(code, form) \
  template <>                          \
  struct Op<code> {                    \
    using Proc = form;                 \
  };
VO_DRIVER_SLOTS(VO_DRIVER_OP_ENTRY)
#undef VO_DRIVER_OP_ENTRY

// A procedure of a given form that answers a constant.
template <class P, int64_t Value>
struct Answer;
template <class R, class... A, int64_t Value>
struct Answer<R (*)(A...), Value> {
  static R Call(A...) { return static_cast<R>(Value); }
};

// The procedure a driver's table gives for a code with a slot (null for
// other codes): Table::Get<Code>() for each code of the slot list.
template <class Table>
VtProc ProcedureByCode(uint32_t code) {
  switch (code) {
#define VO_DRIVER_PICK(c, form) \
  case c: return Table::template Get<c>();
    VO_DRIVER_SLOTS(VO_DRIVER_PICK)
#undef VO_DRIVER_PICK
    default: return nullptr;
  }
}

// Built-in drivers: each answers its own controls, name and look-up, 0 for
// start and terminate, and passes every other query to VoEntryDriver.
struct BuiltInDriver {
  const char *name;
  VtControlSetProc control_set;
  VtControlGetProc control_get;
  VtDriverLookupProc lookup;  // null: the driver gives no operation
};
VtStatus BuiltInAnswer(const BuiltInDriver &d, uint32_t query, VtTypedValue *answer);

}  // namespace vo::driver

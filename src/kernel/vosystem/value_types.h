// The central table of value types: code, printable name, byte size of one
// value, and whether a value holds an address. Persistence, mesh files, the
// journal and the interpreter read it instead of keeping tables of their own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vo {

struct ValueTypeInfo {
  uint32_t code;
  const char *name;
  uint32_t size;       // bytes of one value (addresses are pointer-sized)
  bool holds_pointer;  // the value is an address or a handle
  // Records of numbers (colours, points, bounds, ...): the type and count of
  // their elements, which lie one after the other from the start of the
  // value; 0 for every other type. A typed value carries them in full.
  uint32_t element = 0;
  uint32_t count = 0;
};

// The entry for a code, or null when the code has none.
const ValueTypeInfo *ValueTypeFind(uint32_t code);
// The printable name of a code ("VtFloat"), for diagnostics that name a
// type; "an unnamed type" for a code without an entry.
const char *ValueTypeName(uint32_t code);
// The entry with this printable name, or null.
const ValueTypeInfo *ValueTypeFindByName(const char *name);
// Every entry, in code order.
const ValueTypeInfo *ValueTypeTable(size_t *count);
// True for codes whose values are addresses or handles, named or reserved.
bool ValueTypeHoldsPointer(uint32_t code);

}  // namespace vo

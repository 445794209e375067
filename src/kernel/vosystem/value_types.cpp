#include "kernel/vosystem/value_types.h"

#include <cstddef>
#include <cstring>

#include <vo/vo_types.h>

// Other modules and applications read these records by layout.
static_assert(offsetof(VtTypedValue, type) == 0 && offsetof(VtTypedValue, pad) == 4);
static_assert(offsetof(VtTypedValue, value) == 8 && sizeof(VtTypedValue) == 32);
static_assert(sizeof(VtColour) == 12 && sizeof(VtBounds) == 24);
static_assert(sizeof(VtBounds) <= sizeof(VtTypedValue::value), "bounds travel by value");

namespace vo {

namespace {

constexpr uint32_t kPtr = sizeof(void *);

constexpr ValueTypeInfo kTable[] = {
    {VtVoid, "VtVoid", 0, false},
    {VtInt32, "VtInt32", 4, false},
    {VtNat32, "VtNat32", 4, false},
    {VtFloat, "VtFloat", 4, false},
    {VtDouble, "VtDouble", 8, false},
    {VtEnum, "VtEnum", 4, false},
    {VtBoolean, "VtBoolean", 4, false},
    {VtColourType, "VtColour", 12, false, VtFloat, 3},
    {VtVector, "VtVector", 12, false, VtFloat, 3},
    {VtPoint, "VtPoint", 12, false, VtFloat, 3},
    {VtString, "VtString", kPtr, true},
    {VtGenericPtr, "VtGenericPtr", kPtr, true},
    {VtHandle, "VtHandle", kPtr, true},
    {VtInt32Array, "VtInt32Array", kPtr, true},
    {VtFloatArray, "VtFloatArray", kPtr, true},
    {VtDoubleArray, "VtDoubleArray", kPtr, true},
    {VtWordAddress, "VtWordAddress", kPtr, true},
    {VtStatusType, "VtStatus", 4, false},
    {VtFunc, "VtFunc", kPtr, true},
    {VtData, "VtData", kPtr, true},
    {VtHPoint, "VtHPoint", 16, false, VtFloat, 4},
    {VtFlags, "VtFlags", 4, false},
    {VtDoublePoint, "VtDoublePoint", 24, false, VtDouble, 3},
    {VtDoubleVector, "VtDoubleVector", 24, false, VtDouble, 3},
    {VtBoundsType, "VtBounds", 24, false, VtFloat, 6},
    {VtNat8, "VtNat8", 1, false},
    {VtComplex, "VtComplex", 8, false, VtFloat, 2},
    {VtColour4, "VtColour4", 16, false, VtFloat, 4},
    {VtShaderColour, "VtShaderColour", kPtr, true},
};

// Every value that is not an address travels inside a typed value, and a
// record's elements fill exactly its size.
constexpr bool TableSound() {
  for (const ValueTypeInfo &t : kTable) {
    if (!t.holds_pointer && t.size > sizeof(VtTypedValue::value)) return false;
    const uint32_t element = t.element == VtDouble ? 8 : t.element == VtFloat ? 4 : 0;
    if (t.count != 0 && element * t.count != t.size) return false;
  }
  return true;
}
static_assert(TableSound(), "a by-value type does not fit the typed value or its elements");

}  // namespace

const ValueTypeInfo *ValueTypeFind(uint32_t code) {
  for (const ValueTypeInfo &t : kTable)
    if (t.code == code) return &t;
  return nullptr;
}

const char *ValueTypeName(uint32_t code) {
  const ValueTypeInfo *t = ValueTypeFind(code);
  return t != nullptr ? t->name : "an unnamed type";
}

const ValueTypeInfo *ValueTypeFindByName(const char *name) {
  if (name == nullptr) return nullptr;
  for (const ValueTypeInfo &t : kTable)
    if (std::strcmp(t.name, name) == 0) return &t;
  return nullptr;
}

const ValueTypeInfo *ValueTypeTable(size_t *count) {
  if (count) *count = sizeof kTable / sizeof kTable[0];
  return kTable;
}

bool ValueTypeHoldsPointer(uint32_t code) {
  if (code >= 11 && code <= 20) return true;
  if (code == 35 || code == 36 || code == 40) return true;
  const ValueTypeInfo *t = ValueTypeFind(code);
  return t != nullptr && t->holds_pointer;
}

}  // namespace vo

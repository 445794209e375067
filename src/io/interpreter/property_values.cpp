// The typed value of an element property setter holds the address of the
// property's bytes, whatever its type code: the library copies from that
// address. A script owns what it binds, so a value written in line there
// (a point, a colour, a number: its bytes are no address) is refused before
// the call, where C callers keep the contract of passing an address.

#include <cstring>

#include "io/interpreter/interpreter.h"
#include "kernel/vosystem/face.h"

namespace vo::interp {

namespace {

// The procedures whose typed values (one, or an array of records) are the
// data of element properties.
constexpr const char *kPropertySetters[] = {"VoPrimitiveSetProperty", "VoPolygonSetProperty",
                                            "VoVertexSetProperty",    "VoPrimitiveTreeSetProperty",
                                            "VoPrimitiveCreateMesh",  "VoPrimitiveCreatePolygon"};

bool PropertySetter(const api::VtApiFunction *fn) {
  for (const char *name : kPropertySetters)
    if (std::strcmp(fn->name, name) == 0) return true;
  return false;
}

bool InLine(const VtTypedValue &value) { return value.type != VtVoid && !ValueTypeHoldsPointer(value.type); }

}  // namespace

int32_t InLinePropertyValue(const api::VtApiFunction *fn, void *const *argv, const uint64_t *cells) {
  if (!PropertySetter(fn)) return -1;
  for (uint32_t i = 0; i < fn->param_count; ++i) {
    const api::VtApiParam &p = fn->params[i];
    if (p.kind != api::kKindTyped) continue;
    const VtTypedValue *values = nullptr;
    std::memcpy(&values, argv[i], sizeof values);
    if (values == nullptr) continue;  // nothing to copy: the procedure answers so
    // An array holds what its count promises: checked before this.
    const int64_t n = (p.flags & api::kParamArray) ? NeededElements(fn, p, cells) : 1;
    for (int64_t e = 0; e < n; ++e)
      if (InLine(values[e])) return static_cast<int32_t>(i);
  }
  return -1;
}

}  // namespace vo::interp

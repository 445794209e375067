/* The public headers compile as C; this file is built as C into the tests. */
#include <stddef.h>

#include <vo/vo_api.h>

int vo_test_c_header_status(void) {
  VtTypedValue v = {0};
  v.type = VtNat32;
  v.value.u = VO_CODE(VO_MODULE_SYSTEM, 4);
  return (int)VO_CODE_MODULE(v.value.u) + (int)sizeof(VtColour) + (int)sizeof(VtBounds);
}

/* A C compiler lays out a typed value as C++ does (typed_value_test.cpp):
 * 32 bytes, the value at 8, a colour's floats at 8, 12, 16, the sixth bounds
 * float at 28, the third double at 24, pointer and procedure at 8, pad at 4. */
#define VO_AT(member) offsetof(VtTypedValue, member)
_Static_assert(sizeof(VtTypedValue) == 32 && VO_AT(value) == 8 && VO_AT(pad) == 4, "typed value");
_Static_assert(VO_AT(value.v[0]) == 8 && VO_AT(value.v[1]) == 12 && VO_AT(value.v[2]) == 16, "colour");
_Static_assert(VO_AT(value.v[5]) == 28 && sizeof(VtBounds) <= sizeof(((VtTypedValue *)0)->value), "bounds");
_Static_assert(VO_AT(value.dv[2]) == 24 && VO_AT(value.p) == 8 && VO_AT(value.fn) == 8, "doubles, addresses");

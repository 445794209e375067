/* The public headers compile as C; this file is built as C into the tests. */
#include <stddef.h>

#include <vo/vo_api.h>

int vo_test_c_header_status(void) {
  VtTypedValue v = {0};
  v.type = VtNat32;
  v.value.u = VO_CODE(VO_MODULE_SYSTEM, 4);
  return (int)VO_CODE_MODULE(v.value.u) + (int)sizeof(VtColour) + (int)sizeof(VtBounds);
}

/* Where a C compiler puts a typed value's parts, in bytes from its start:
 * size, value, the three floats of a colour, the six floats of a bounds. */
void vo_test_c_typed_value_layout(size_t out[11]) {
  VtTypedValue v;
  const char *base = (const char *)&v;
  int i;
  out[0] = sizeof v;
  out[1] = (size_t)((const char *)&v.value - base);
  for (i = 0; i < 3; ++i) out[2 + i] = (size_t)((const char *)&v.value.v[i] - base);
  out[5] = (size_t)((const char *)&v.value.v[5] - base);
  out[6] = sizeof(VtBounds) <= sizeof v.value;
  out[7] = (size_t)((const char *)&v.value.dv[2] - base);
  out[8] = (size_t)((const char *)&v.value.p - base);
  out[9] = (size_t)((const char *)&v.value.fn - base);
  out[10] = (size_t)((const char *)&v.pad - base);
}

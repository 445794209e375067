/* The public headers compile as C; this file is built as C into the tests. */
#include <vo/vo_api.h>

int vo_test_c_header_status(void) {
  VtTypedValue v = {0};
  v.type = VtNat32;
  v.value.u = VO_CODE(VO_MODULE_SYSTEM, 4);
  return (int)VO_CODE_MODULE(v.value.u) + (int)sizeof(VtColour) + (int)sizeof(VtBounds);
}

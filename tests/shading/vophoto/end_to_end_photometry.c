/* The photometry module through the C interface alone: the library starts,
 * module 66 answers its queries, declines a control and answers an execute
 * with the bare error class, and the library terminates. What happened is
 * written as text into the caller's buffer; the answer is 0 when every step
 * answered as expected. */
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

static void Query(Text *t, uint32_t query) {
  VtTypedValue a;
  memset(&a, 0, sizeof a);
  VoEntryPhotometry(query, &a);
  if (a.type == VtString)
    Put(t, "query %u: \"%s\"\n", query, a.value.s);
  else if (a.type == VtFunc)
    Put(t, "query %u: a procedure\n", query);
  else if (a.type == 0)
    Put(t, "query %u: no answer\n", query);
  else
    Put(t, "query %u: type %u, %u\n", query, a.type, a.value.u);
}

int vo_end_to_end_photometry(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtTypedValue v, a;
  VtStatus st;
  uint32_t q;
  int failed = 0;
  buffer[0] = '\0';
  if (VoInitialise() != 0) return Put(&t, "VoInitialise failed\n"), 1;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&SceneQuiet);
  for (q = 1; q <= 17; ++q)
    if (q != 11 && q != 14) Query(&t, q);
  memset(&a, 0, sizeof a);
  VoEntryPhotometry(2, &a);
  failed |= a.value.fn != (VtProc)&VoControlDecline;
  memset(&v, 0, sizeof v);
  v.type = VtNat32;
  st = VoControlSet(0x420001, &v);
  Put(&t, "VoControlSet(0x420001): %u\n", st);
  failed |= st != 258;
  st = VoControlGet(0x42000f, &v);
  Put(&t, "VoControlGet(0x42000f): %u\n", st);
  st = VoExecute(0x420001);
  Put(&t, "VoExecute(0x420001): 0x%x\n", st);
  failed |= st != 0x40000000u;
  st = VoTerminate();
  Put(&t, "VoTerminate: %u\n", st);
  return failed | (st != 0);
}

/*
 * The library's demonstration program.
 *
 * Starts the kernel through the lower road (VoSystemInitialise, which
 * installs the system module, then VoSystemStart), prints the module report
 * through the default diagnostic printer, and stops the kernel.
 *
 * Usage: vo_demo [message-file]
 * With a message file, diagnostics are printed with its texts; without one,
 * the printer's fallback lines are written.
 */
#include <stdio.h>

#include <vo/vo_api.h>

int main(int argc, char **argv) {
  VtStatus status = VoSystemInitialise();
  if (status != 0) {
    fprintf(stderr, "VoSystemInitialise failed: 0x%08x\n", (unsigned)status);
    return 1;
  }

  FILE *messages = NULL;
  if (argc > 1) {
    messages = fopen(argv[1], "rb");
    if (messages == NULL) {
      fprintf(stderr, "cannot open message file %s\n", argv[1]);
    } else {
      VtTypedValue value = {0};
      value.type = VtGenericPtr;
      value.value.p = messages;
      VoControlSet(VO_CONTROL_MESSAGE_FILE, &value);
    }
  }

  /* Diagnostics go to standard output for this program. */
  VtTypedValue stream = {0};
  stream.type = VtGenericPtr;
  stream.value.p = stdout;
  VoControlSet(VO_CONTROL_ERROR_STREAM, &stream);

  status |= VoSystemStart();
  printf("Module report:\n");
  status |= VoExecute(VO_EXECUTE_MODULES_REPORT);
  status |= VoSystemTerminate();
  if (messages != NULL) fclose(messages);
  printf("Finished with status 0x%08x\n", (unsigned)status);
  return status == 0 ? 0 : 1;
}

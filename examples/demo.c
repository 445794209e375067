/*
 * The library's demonstration program.
 *
 * Starts the library with VoInitialise, installs the default diagnostic
 * printer (VoInitialise leaves diagnostics silent), prints the module report
 * and stops the library with VoTerminate.
 *
 * Usage: vo_demo [message-file]
 * With a message file, diagnostics are printed with its texts; without one,
 * the printer's fallback lines are written.
 */
#include <stdio.h>

#include <vo/vo_api.h>

int main(int argc, char **argv) {
  VtStatus status = VoInitialise();
  if (status != 0) fprintf(stderr, "VoInitialise answered 0x%08x\n", (unsigned)status);
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&VoErrorHandlerDefault);

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

  printf("Module report:\n");
  VtStatus report = VoExecute(VO_EXECUTE_MODULES_REPORT);
  VtStatus stop = VoTerminate();
  if (messages != NULL) fclose(messages);
  printf("Finished: report 0x%08x, terminate 0x%08x\n", (unsigned)report, (unsigned)stop);
  return (report | stop) == 0 ? 0 : 1;
}

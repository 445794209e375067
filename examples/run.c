/*
 * vo_run: runs command scripts, text or binary, through the library.
 *
 *   vo_run [-m messages] [-j journal] [-q] [-h] [file ...]
 *
 * Starts the library once with the default diagnostic printer on standard
 * error (errors and warnings; -q errors only), with the message file of -m
 * and a journal of the run in the file of -j, then reads each file in order
 * ("-" or no file: standard input). An input that stopped the library gets
 * it started again for the next one. Exit status: 0 when every input
 * answered 0, 1 otherwise, 2 for bad usage or a file that cannot be read.
 */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

static const char kUsage[] =
    "usage: vo_run [-m messages] [-j journal] [-q] [-h] [file ...]\n"
    "  -m FILE  message file for the diagnostics\n"
    "  -j FILE  write a journal of the run to FILE\n"
    "  -q       report errors only (no warnings)\n"
    "  -h       this help\n"
    "Files are text scripts or binary command files, run in order; - or none\n"
    "reads standard input.\n";

static VtTypedValue Typed(uint32_t type) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  return v;
}

static FILE *g_messages = NULL, *g_journal = NULL;

/* Starts the library with the printer, messages and journal; 0 on success. */
static VtStatus Start(int quiet) {
  VtTypedValue v;
  VtStatus status = VoInitialise();
  if (status != 0) return status;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&VoErrorHandlerDefault);
  v = Typed(VtGenericPtr);
  v.value.p = stderr;
  VoControlSet(VO_CONTROL_ERROR_STREAM, &v);
  v = Typed(VtNat32);
  v.value.u = quiet ? 0x40000000u : 0x60000000u;
  VoControlSet(VO_CONTROL_SEVERITY_MASK, &v);
  if (g_messages != NULL) {
    rewind(g_messages);
    v = Typed(VtGenericPtr);
    v.value.p = g_messages;
    VoControlSet(VO_CONTROL_MESSAGE_FILE, &v);
  }
  if (g_journal != NULL) {
    v = Typed(VtGenericPtr);
    v.value.p = g_journal;
    VoJournalControlSet(VO_CONTROL_JOURNAL_FILE, &v);
    v = Typed(VtFlags);
    v.value.u = 1;
    VoJournalControlSet(VO_CONTROL_JOURNAL_FLAGS, &v);
  }
  return 0;
}

int main(int argc, char **argv) {
  const char *messages = NULL, *journal = NULL;
  int quiet = 0, first = argc, i, failed = 0;
  for (i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-h") == 0) {
      fputs(kUsage, stdout);
      return 0;
    } else if (strcmp(argv[i], "-q") == 0) {
      quiet = 1;
    } else if ((strcmp(argv[i], "-m") == 0 || strcmp(argv[i], "-j") == 0) && i + 1 < argc) {
      if (argv[i][1] == 'm')
        messages = argv[++i];
      else
        journal = argv[++i];
    } else if (strcmp(argv[i], "--") == 0) {
      first = i + 1;
      break;
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      fputs(kUsage, stderr);
      return 2;
    } else {
      first = i;
      break;
    }
  }
  if (messages != NULL && (g_messages = fopen(messages, "rb")) == NULL) {
    fprintf(stderr, "vo_run: cannot open message file %s\n", messages);
    return 2;
  }
  if (journal != NULL && (g_journal = fopen(journal, "wb")) == NULL) {
    fprintf(stderr, "vo_run: cannot open journal %s\n", journal);
    if (g_messages) fclose(g_messages);
    return 2;
  }
  if (Start(quiet) != 0) {
    fprintf(stderr, "vo_run: the library did not start\n");
    failed = 1;
  }
  for (i = first; i <= argc; ++i) {
    const char *name = i < argc ? argv[i] : NULL;
    FILE *file;
    VtStatus status;
    if (name == NULL && first < argc) break; /* files were named */
    if (name == NULL || strcmp(name, "-") == 0) {
      file = stdin;
      name = "stdin";
    } else if ((file = fopen(name, "rb")) == NULL) {
      fprintf(stderr, "vo_run: cannot read %s\n", name);
      failed = 2;
      break;
    }
    status = VoInterpreterReadInput(name, file);
    if (file != stdin) fclose(file);
    if (status != 0 && failed == 0) failed = 1;
    /* A script that stopped the library leaves it stopped: start it again. */
    if (VoModuleCheckStarted(1, 0) != 0 && Start(quiet) != 0) {
      fprintf(stderr, "vo_run: the library did not start again\n");
      failed = 1;
      break;
    }
    if (i == argc) break;
  }
  VoTerminate();
  if (g_messages) fclose(g_messages);
  if (g_journal) fclose(g_journal);
  return failed;
}

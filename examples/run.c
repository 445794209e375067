/*
 * vo_run: runs command scripts, text or binary, through the library.
 *
 *   vo_run [-m messages] [-j journal] [-q] [-h] [file ...]
 *
 * Starts the library once with the default diagnostic printer on standard
 * error (errors, warnings and the interpreter's statement errors; -q drops
 * the warnings), with a message file and a journal of the run in the file of
 * -j, then reads each file in order ("-" or no file: standard input). An
 * input that stopped the library gets it started again for the next one.
 * Exit status: 0 when every input answered 0, 1 otherwise, 2 for bad usage
 * or a file that cannot be read (a directory among them).
 *
 * The message file is the one -m names, else the one the environment
 * variable MRVX20_MESSAGES names (set but empty: none), else the build
 * tree's copy, else the installed one (<prefix>/share/mrvx20/messages.txt);
 * without one the diagnostics print as numbers.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <vo/vo_api.h>

#include "message_file.h"

static const char kUsage[] =
    "usage: vo_run [-m messages] [-j journal] [-q] [-h] [file ...]\n"
    "  -m FILE  message file for the diagnostics (default: $MRVX20_MESSAGES,\n"
    "           else the message file beside the library)\n"
    "  -j FILE  write a journal of the run to FILE\n"
    "  -q       report errors only (no warnings)\n"
    "  -h       this help\n"
    "Files are text scripts or binary command files, run in order; - or none\n"
    "reads standard input. A statement that fails prints its line and file and\n"
    "what is wrong with it. The procedures a script can call, with their\n"
    "arguments, are listed in docs/api.md (the API reference).\n"
    "Exit status: 0 when every input answered 0, 1 otherwise, 2 for bad usage\n"
    "or a file that cannot be read.\n";

static VtTypedValue Typed(uint32_t type) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  return v;
}

static FILE *g_messages = NULL, *g_journal = NULL;
static VtStatus g_shown; /* the diagnostic classes printed */

/* The default printer for the classes of g_shown and for diagnostics of no
 * class: the interpreter posts a failing statement's place (279 or 296) and
 * its fault with the bare status 2, which no class bit of the mask selects. */
static VtStatus Printer(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                        VtTypedValue *args) {
  const VtStatus classes = VO_CLASS_ERROR | VO_CLASS_WARNING | VO_CLASS_DEBUG | VO_CLASS_PROGRESS;
  if ((status & classes) != 0 && (status & g_shown) == 0) return 0;
  return VoErrorHandlerDefault(status, message, module, count, args);
}

/* Opens a script for reading; null, with the reason on standard error,
 * when it cannot be read or is a directory. */
static FILE *ScriptOpen(const char *name) {
  struct stat st;
  FILE *file;
  if (stat(name, &st) == 0 && S_ISDIR(st.st_mode)) {
    fprintf(stderr, "vo_run: %s is a directory, not a script\n", name);
    return NULL;
  }
  file = fopen(name, "rb");
  if (file == NULL) fprintf(stderr, "vo_run: cannot read %s: %s\n", name, strerror(errno));
  return file;
}

/* Starts the library with the printer, messages and journal; 0 on success. */
static VtStatus Start(int quiet) {
  VtTypedValue v;
  VtStatus status = VoInitialise();
  if (status != 0) return status;
  g_shown = quiet ? VO_CLASS_ERROR : VO_CLASS_ERROR | VO_CLASS_WARNING;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&Printer);
  v = Typed(VtGenericPtr);
  v.value.p = stderr;
  VoControlSet(VO_CONTROL_ERROR_STREAM, &v);
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
    fprintf(stderr, "vo_run: cannot open message file %s: %s\n", messages, strerror(errno));
    return 2;
  }
  if (messages == NULL) g_messages = DefaultMessageFile();
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
    } else if ((file = ScriptOpen(name)) == NULL) {
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

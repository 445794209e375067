/*
 * vo_run: runs command scripts, text or binary, through the library.
 *
 *   vo_run [-m messages] [-j journal] [-q] [-h] [file ...]
 *
 * Starts the library once with the default diagnostic printer on standard
 * error (errors, warnings and the interpreter's statement errors; -q drops
 * the warnings), with a message file and a journal of the run in the file of
 * -j, then reads each file in order ("-" or no file: standard input). An
 * input that stopped the library gets it started again for the next one,
 * and so does a journal header that follows the stop, or follows the
 * journal's going on in another file (a journal appended by several
 * sessions replays them all). A statement that fails because
 * the library is stopped is printed with its line and the status
 * 0x20000082 on standard error (the stopped library can post nothing), and
 * the input goes on at the next header. At the end it says how many
 * journalled calls it passed over as comments ("# Vo..." lines). Exit status: 0 when every input answered 0,
 * 1 otherwise, 2 for bad usage or a file that cannot be read (a directory
 * among them).
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
#include <unistd.h>

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
static VtStatus g_shown;    /* the diagnostic classes printed */
static long g_lines_before; /* lines of the input read before the interpreter's current read */

/* A diagnostic of a file that could not be opened: the script of a
 * "source" statement (292, interpreter) or VoFileOpen's path (362 to 364,
 * system). Its text names the file; the system's reason follows it. */
static int OpenFailure(uint32_t message, uint32_t module) {
  return (module == 4 && message == 292) || (module == 1 && message >= 362 && message <= 364);
}

/* The default printer for the classes of g_shown and for diagnostics of no
 * class: the interpreter posts a failing statement's place (279 or 296) and
 * its fault with the bare status 2, which no class bit of the mask selects.
 * The interpreter counts lines from its read of the input; a read that goes
 * on after a restart counts from there, so the place gets the lines before.
 * A file that could not be opened is followed by the reason errno held when
 * the diagnostic was posted, straight after the failed open. */
static VtStatus Printer(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                        VtTypedValue *args) {
  const VtStatus classes = VO_CLASS_ERROR | VO_CLASS_WARNING | VO_CLASS_DEBUG | VO_CLASS_PROGRESS;
  const int reason = errno;
  VtStatus answer;
  if ((status & classes) != 0 && (status & g_shown) == 0) return 0;
  if (module == 4 && (message == 279 || message == 478 || message == 501) && count > 0 &&
      args[0].type == VtInt32)
    args[0].value.i += (int32_t)g_lines_before;
  answer = VoErrorHandlerDefault(status, message, module, count, args);
  if (OpenFailure(message, module) && reason != 0)
    fprintf(stderr, "vo_run: the system says: %s\n", strerror(reason));
  errno = reason; /* for the diagnostic that follows the statement's place */
  return answer;
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

/* Whether the line begins a journal header, where a session's journal starts. */
static int HeaderLine(const char *line) { return strncmp(line, "# Journal file generated: ", 26) == 0; }

/* A stream of the input that can be read again: the file itself, or for
 * standard input from a pipe a copy in a temporary file (a terminal is read
 * as it is typed, and cannot be). */
static FILE *Rereadable(FILE *file) {
  char chunk[65536];
  size_t n;
  FILE *copy;
  if (fseek(file, 0, SEEK_CUR) == 0 || file != stdin || isatty(fileno(file))) return file;
  if ((copy = tmpfile()) == NULL) return file;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) fwrite(chunk, 1, n, copy);
  rewind(copy);
  return copy;
}

/* The journalled calls written as comments ("# Vo..." lines, the journal's
 * own control set aside), which a replay passes over; the stream is left
 * where it was. */
static unsigned long CommentedCalls(FILE *file) {
  char line[64];
  unsigned long n = 0;
  int start = 1;
  const long at = ftell(file);
  if (at < 0) return 0;
  while (fgets(line, sizeof line, file) != NULL) {
    if (start && strncmp(line, "# Vo", 4) == 0 && strncmp(line, "# VoJournal", 11) != 0) ++n;
    start = strchr(line, '\n') != NULL;
  }
  clearerr(file);
  fseek(file, at, SEEK_SET);
  return n;
}

/* Prints the statement that ends where the stream stands, with its first
 * line's number, as run against the stopped library. */
static void StoppedStatement(FILE *file, const char *name) {
  char text[512] = "", line[512], *read, *write;
  long number = 0, first = 0;
  const long end = ftell(file);
  int start = 1, continued = 0;
  if (end >= 0 && fseek(file, 0, SEEK_SET) == 0) {
    while (ftell(file) < end && fgets(line, sizeof line, file) != NULL) {
      size_t n = strlen(line);
      if (start) {
        ++number;
        if (!continued) {
          first = number;
          text[0] = 0;
        }
      }
      if (strlen(text) + n < sizeof text) strcat(text, line);
      start = n > 0 && line[n - 1] == '\n';
      while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r' || line[n - 1] == ' ')) --n;
      continued = start && n > 0 && line[n - 1] == '\\';
    }
    fseek(file, end, SEEK_SET);
  }
  /* One line: a continuation's backslash and line end stand for a blank. */
  for (read = text, write = text; *read != 0; ++read)
    if (*read == '\\' && (read[1] == '\n' || read[1] == '\r'))
      *write++ = ' ';
    else if (*read != '\n' && *read != '\r')
      *write++ = *read;
  *write = 0;
  fprintf(stderr, "vo_run: %s:%ld: \"%s\" failed with 0x20000082: the library is stopped\n", name, first,
          text);
}

/* Passes over the input up to and including the next journal header line;
 * 1 when one was found. */
static int NextHeader(FILE *file) {
  char line[512];
  int start = 1;
  while (fgets(line, sizeof line, file) != NULL) {
    if (start && HeaderLine(line)) return 1;
    start = strchr(line, '\n') != NULL;
  }
  return 0;
}

/* Whether the line that ends where the stream stands is a journal header. */
static int AfterHeader(FILE *file) {
  char line[64];
  long start = 0;
  int c;
  const long end = ftell(file);
  if (end <= 0 || fseek(file, 0, SEEK_SET) != 0) return 0;
  while (ftell(file) < end - 1 && (c = getc(file)) != EOF)
    if (c == '\n') start = ftell(file);
  fseek(file, start, SEEK_SET);
  c = fgets(line, sizeof line, file) != NULL && HeaderLine(line);
  fseek(file, end, SEEK_SET);
  return c;
}

/* Lines of the input before the stream's position (0 when it cannot say). */
static long LinesBefore(FILE *file) {
  long lines = 0;
  int c;
  const long end = ftell(file);
  if (end <= 0 || fseek(file, 0, SEEK_SET) != 0) return 0;
  while (ftell(file) < end && (c = getc(file)) != EOF) lines += c == '\n';
  fseek(file, end, SEEK_SET);
  return lines;
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
  unsigned long commented = 0; /* journalled calls passed over as comments */
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
    fprintf(stderr, "vo_run: cannot open journal %s: %s\n", journal, strerror(errno));
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
    file = Rereadable(file);
    commented += CommentedCalls(file);
    g_lines_before = 0;
    for (;;) {
      status = VoInterpreterReadInput(name, file);
      if (status != 0 && failed == 0) failed = 1;
      if (VoModuleCheckStarted(1, 0) == 0) {
        /* A header after the journal went on in another file begins
         * another session: the library is stopped and started there. */
        if (feof(file) || !AfterHeader(file)) break;
        VoTerminate();
        g_lines_before = LinesBefore(file);
        if (Start(quiet) != 0) break;
        continue;
      }
      /* The library is stopped. A statement that ran against it is shown,
       * and the input goes on where another session's journal begins. */
      if ((status & VO_STATUS_NOT_INITIALISED) == VO_STATUS_NOT_INITIALISED) {
        StoppedStatement(file, name);
        if (!NextHeader(file)) break;
      } else if (feof(file)) {
        break;
      }
      g_lines_before = LinesBefore(file);
      if (Start(quiet) != 0) break;
    }
    g_lines_before = 0;
    if (file != stdin) fclose(file);
    /* A script that stopped the library leaves it stopped: start it again. */
    if (VoModuleCheckStarted(1, 0) != 0 && Start(quiet) != 0) {
      fprintf(stderr, "vo_run: the library did not start again\n");
      failed = 1;
      break;
    }
    if (i == argc) break;
  }
  if (commented > 0)
    fprintf(stderr, "vo_run: %lu journalled call%s passed over as comment%s\n", commented,
            commented == 1 ? " was" : "s were", commented == 1 ? "" : "s");
  VoTerminate();
  if (g_messages) fclose(g_messages);
  if (g_journal) fclose(g_journal);
  return failed;
}

/* The message file the example programs use unless told otherwise: the one
 * the environment variable MRVX20_MESSAGES names (set and empty: none),
 * else the first of the build tree's and the installed copies that opens
 * (their paths given at compile time as VO_MESSAGES_BUILD and
 * VO_MESSAGES_INSTALLED); null when there is none. */
#ifndef VO_EXAMPLES_MESSAGE_FILE_H
#define VO_EXAMPLES_MESSAGE_FILE_H

#include <stdio.h>
#include <stdlib.h>

static FILE *DefaultMessageFile(void) {
  const char *named = getenv("MRVX20_MESSAGES");
  const char *places[2] = {NULL, NULL};
  int i;
  if (named != NULL) return named[0] != 0 ? fopen(named, "rb") : NULL;
#ifdef VO_MESSAGES_BUILD
  places[0] = VO_MESSAGES_BUILD;
#endif
#ifdef VO_MESSAGES_INSTALLED
  places[1] = VO_MESSAGES_INSTALLED;
#endif
  for (i = 0; i < 2; ++i) {
    FILE *f = places[i] != NULL ? fopen(places[i], "rb") : NULL;
    if (f != NULL) return f;
  }
  return NULL;
}

#endif

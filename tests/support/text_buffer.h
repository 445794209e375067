/* A text written into a caller's buffer, for the end-to-end programs that
 * use the C interface alone. Plain C (C99). */
#ifndef VO_TEST_TEXT_BUFFER_H
#define VO_TEST_TEXT_BUFFER_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

typedef struct Text {
  char *at;
  size_t left;
} Text;

/* Appends to the text; what does not fit is cut off. */
static inline void Put(Text *t, const char *format, ...) {
  va_list args;
  int n;
  va_start(args, format);
  n = vsnprintf(t->at, t->left, format, args);
  va_end(args);
  if (n < 0 || (size_t)n >= t->left) n = t->left > 0 ? (int)t->left - 1 : 0;
  t->at += n;
  t->left -= (size_t)n;
}

#endif /* VO_TEST_TEXT_BUFFER_H */

/* The desktop through the C interface alone: a 320 x 240 x 32 screen,
 * windows created, moved and destroyed, bad sizes and dead handles
 * refused, and a rectangle half off the screen read back (black where it
 * leaves the screen). What happened is written as text into the caller's
 * buffer; the answer is 0 when every step answered as expected. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_desktop.h>
#include <vo/vo_driver.h>

#include "support/end_to_end.h"

static uint32_t last_message;

static VtStatus Quiet(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                      VtTypedValue *args) {
  (void)status, (void)module, (void)count, (void)args;
  last_message = message;
  return 0;
}

int vo_end_to_end_desktop(char *buffer, size_t size) {
  Text text = {buffer, size};
  Text *t = &text;
  VtWindow *a, *b;
  VtImage *image;
  VtStatus st;
  int failed = 0;
  buffer[0] = '\0';
  if (VoInitialise() != 0) return 1;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&Quiet);
  st = VoDesktopSetMode(320, 240, 32);
  Put(t, "mode 320 x 240 x 32: %u\n", st);
  failed |= st != 0;
  st = VoDesktopSetMode(320, 240, 12);
  Put(t, "mode of 12 bits: 0x%x, message %u\n", st, last_message);
  failed |= st == 0;
  a = VoDesktopWindowCreate(10, 20, 100, 50);
  b = VoDesktopWindowCreate(0, 0, 0, 50);
  Put(t, "window 100 x 50: %s; window of width 0: %s, message %u\n", a != NULL ? "made" : "refused",
      b != NULL ? "made" : "refused", last_message);
  failed |= a == NULL || b != NULL;
  st = VoDesktopWindowMove(a, -50, 200, 120, 60);
  Put(t, "moved half off the screen: %u\n", st);
  failed |= st != 0;
  st = VoDesktopWindowMove(a, 0, 0, 20000, 60);
  Put(t, "moved to width 20000: 0x%x\n", st);
  failed |= st == 0;
  st = VoDesktopWindowDestroy(a);
  Put(t, "destroyed: %u\n", st);
  failed |= st != 0;
  st = VoDesktopWindowDestroy(a);
  Put(t, "destroyed again: 0x%x, message %u\n", st, last_message);
  failed |= st == 0;
  st = VoDesktopWindowMove(a, 0, 0, 10, 10);
  Put(t, "dead window moved: 0x%x\n", st);
  failed |= st == 0;
  image = VoDesktopGetImage(300, 230, 40, 20);
  if (image != NULL) {
    Put(t, "screen read at (300, 230): %d x %d, %d bits\n", image->width, image->height, image->bits);
    VoImageDestroy(image);
  } else {
    Put(t, "screen read refused\n");
    failed = 1;
  }
  image = VoDesktopGetImage(0, 0, 0, 5);
  Put(t, "screen read of width 0: %s\n", image != NULL ? "made" : "refused");
  failed |= image != NULL;
  image = VoDesktopBitmapGetImage(NULL);
  Put(t, "no bitmap read: %s\n", image != NULL ? "made" : "refused");
  failed |= image != NULL;
  VoTerminate();
  return failed;
}

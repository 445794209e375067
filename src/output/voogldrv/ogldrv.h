// The OpenGL targets (voogldrv, module 116): the module record, its
// context, targets and share groups.
//
// Invariants a reader must know:
// - every target lives in the targets list and records its share group;
//   group numbers are never reused;
// - with share lists on, a group has a context of its own (made first,
//   unshared) and every member was made sharing with it; with share lists
//   off the group's only member stands for the group and both die together;
// - at most one of our contexts is current on the calling thread: the
//   frame target (frame_current set, no temporary), or the temporary one;
// - the floating-point environment of the caller is saved in the target
//   made current (in the context in target mode 2) and given back when it
//   is released.
#pragma once

#include <cfenv>
#include <cstddef>
#include <cstdint>

#include <vo/vo_desktop.h>
#include <vo/vo_driver.h>

#include "host/gl_layer.h"

struct VtOGLDrvTarget {
  VtImage *image;                 // image targets
  VtWindow *window;               // window targets
  vo::platform::gl::Context *gl;  // the context with its framebuffer
  uint8_t *bits;                  // image targets: the read-back rows, bottom up, padded
  size_t bits_size;
  int32_t width, height;  // image targets: the image's size when the target was made
  int32_t pixel_format;
  int32_t group;  // share-group number
  uint32_t double_buffered;
  std::fenv_t saved_env;  // the caller's environment while current
  VtOGLDrvTarget *next;
  uint64_t window_serial;  // window targets: the window's serial when the target was made
};

struct VtOGLDrvGroup {
  VtOGLDrvTarget *own;  // its own context's target, or its only member (share lists off)
  uint32_t own_is_member;
  int32_t pixel_format;
  int32_t number;
  VtOGLDrvGroup *next;
};

struct VtOGLDrvContext {
  void *instance;
  const char *image_class;        // "voopengl_image"
  const char *child_image_class;  // "voopengl_child_image"
  int32_t group_counter;
  VtOGLDrvGroup *groups;
  VtOGLDrvTarget *temporary;
  uint32_t frame_current;
  VtOGLDrvTarget *targets;
  VtOGLDrvTarget *frame;
  std::fenv_t saved_env;  // target mode 2
  uint32_t mode2_held;    // target mode 2: the environment is saved
};

struct VtOGLDrvRecord {
  VtOGLDrvContext *context;
  uint32_t target_mode;           // 0x740001
  uint32_t double_buffering;      // 0x740002
  uint32_t generic_only;          // 0x740003
  uint32_t share_lists;           // 0x740004
  VtImage *offscreen;             // other drivers' image of the frame
  VtWindow *driver_window;        // the window driver's window
  int32_t driver_x0, driver_y0;   // the window driver's frame origin
  uint64_t driver_window_serial;  // the serial of the window driver's window when it was set
};
static_assert(offsetof(VtOGLDrvRecord, context) == 0);
static_assert(offsetof(VtOGLDrvContext, targets) > offsetof(VtOGLDrvContext, frame_current));

namespace vo::ogldrv {

constexpr uint32_t kControlMode = 0x740001, kControlDouble = 0x740002, kControlGeneric = 0x740003,
                   kControlShare = 0x740004;

VtOGLDrvRecord *Record();
// The window driver's window while it is the one the application set; for
// one given back since (even where a new window took its address) posts a
// diagnostic naming it and answers null.
VtWindow *DriverWindowLive(VtOGLDrvRecord *r);

// Targets (targets.cpp).
VtOGLDrvTarget *WindowTargetFind(VtOGLDrvContext *c, const VtWindow *window);
VtOGLDrvTarget *ImageTargetFind(VtOGLDrvContext *c, const VtImage *image);
// Makes a target and its group (statuses and messages as the exported
// initialise procedures answer them).
VtStatus WindowTargetMake(VtOGLDrvRecord *r, VtWindow *window, int32_t format, VtOGLDrvTarget **made);
VtStatus ImageTargetMake(VtOGLDrvRecord *r, VtImage *image, VtOGLDrvTarget **made);
VtStatus TargetDestroy(VtOGLDrvRecord *r, VtOGLDrvTarget *t);
VtStatus MakeCurrentNumber(VtOGLDrvRecord *r, int32_t number);
VtStatus Restore(VtOGLDrvRecord *r);
// Reads the current frame target's framebuffer into its rows (image
// targets) or onto the screen (window targets).
VtStatus FrameReadBack(VtOGLDrvRecord *r, VtOGLDrvTarget *t);
// Copies an image target's rows into its image.
void BitsToImage(const VtOGLDrvTarget *t);
bool AnyCurrent(const VtOGLDrvRecord *r);
// Another frame target: one current before is released first.
void FrameSet(VtOGLDrvRecord *r, VtOGLDrvTarget *t);
// Destroys every target and group whatever the mode (terminate).
VtStatus ReleaseEverything(VtOGLDrvRecord *r);

// The window driver (window_driver.cpp).
VtStatus WindowDriverEntry(uint32_t query, VtTypedValue *answer);

}  // namespace vo::ogldrv

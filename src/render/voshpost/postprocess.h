// The post-process stage (module 68): its record and the procedures its
// files share.
#pragma once

#include <cstdint>

#include <vo/vo_driver.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_shader.h>
#include <vo/vo_shaderlib.h>

#include "kernel/vosystem/face.h"

namespace vo::post {

constexpr uint32_t kModule = VO_MODULE_POSTPROCESS;
constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;
constexpr VtStatus kNotStarted = VO_CLASS_WARNING | 0x02;  // no module record

using PollProc = VtStatus (*)(void);

struct VtPostprocessContext {
  float flare_constant;
  uint32_t lights_select;
  uint32_t render_code;
  uint32_t post_code;
  uint32_t quiet;
  uint32_t field_order;
  uint32_t two_view_mode;
  void *view1, *view2;
  VtScreenBuffer *buffer1, *buffer2;
  VtShader *filter_override;
  VtShader *matrix, *interlace;  // the module's own shaders
  void *list;                    // the application's ring; not owned
  PollProc poll;                 // cached driver interrupt poll
  VtProgressProc progress;       // cached kernel progress call-back
  uint32_t *sticky;              // the kernel's sticky status word
  VtStatus class_status;
  VtScreenBuffer **g_Bi, **g_Bo;  // the globals' addresses in this context
  uint32_t mode_bits;
  VtShader *current;  // the running shader, null outside a walk
  void *pixel_lists;  // the lens-flare pass's light sources (a pixel list), freed at terminate
  void *flare_class;  // the lens-flare class record with its catalogue
  uint32_t region[4];
  uint32_t width, height;
  VtRandomState *random;
  VtMutexWord *stencil_lock, *global_lock;
  uint32_t copy;              // 1 in a worker's copy
  int32_t depth;              // nested list runs on this thread
  int32_t runs;               // nested render-and-post runs on this thread
  void *pass;                 // the threaded gather pass running, or null
  VtDriverRowProc row_bytes;  // the current driver's operation 0x1a000f, cached by a pass
  void *list_head[2];         // an unset word and a link to it; nothing uses them
  VtPostprocessContext *master;
  VtPixelList *live_lists;  // the newest pixel list still live, in the master only
};

VtPostprocessContext *State();
// Every pixel list the application made and did not destroy, destroyed.
void PixelListsGiveBack(VtPostprocessContext *master);

// The stage's other parts: the lens-flare classes and catalogue, the
// post-process classes, the module's own shaders, and the execute codes that
// run whole renders (two_view.cpp).
VtStatus FlareClassesRegister();
void FlareClassesRelease();
void ClassesRegister();
VtStatus OwnShadersCreate(VtPostprocessContext *c);
VtStatus FlareLightsCollect();
VtStatus TwoViewRender();
VtStatus AntialiasRender();

// Runs the list through slot 2 or 3 (execute codes 0x440001, 0x440002).
VtStatus ListRun(uint32_t code);
// Renders with the render code, then runs the post code (0x440004).
VtStatus RenderAndPost();

}  // namespace vo::post

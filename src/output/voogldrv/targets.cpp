// The OpenGL targets: making window and image targets with their share
// groups, the make-current / temporary / restore machine, the read-back and
// the release of everything.
#include <cstring>

#include "host/desktop.h"
#include "output/vodriver/face.h"
#include "output/voogldrv/ogldrv.h"
#include "output/voogldrv/face.h"
#include "shading/shaderlib/face.h"
#include "kernel/vosystem/face.h"

namespace vo::ogldrv {

namespace gl = platform::gl;

namespace {

constexpr uint32_t kModule = VO_MODULE_OPENGL_DRIVERS;
// The largest side of an image target sized by the view: the framebuffer
// limit of the software OpenGL the targets are made with.
constexpr uint32_t kViewSideLimit = 16384;

VtStatus NotMade() {
  Post(VO_STATUS_UNAVAILABLE, messages::kOGLTargetNotMade, kModule);
  return VO_STATUS_UNAVAILABLE;
}

// A target that could not be made for want of memory: the module's answer
// with the memory status, so that a frame begun without it fails as such.
VtStatus NoRoom() { return NotMade() | VO_STATUS_NO_MEMORY; }

// The answer, with the memory status when `why` carries it.
VtStatus OrMemory(VtStatus answer, VtStatus why) {
  return (why & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY ? answer | VO_STATUS_NO_MEMORY : answer;
}

// EGL must start before any target: 2710 with its error, then 1048.
bool PlatformReady() {
  int32_t error = 0;
  if (gl::DisplayStart(&error)) return true;
  Post(VO_STATUS_UNAVAILABLE, messages::kOGLPlatformUnavailable, kModule, error);
  return false;
}

VtOGLDrvTarget *TargetNew() {
  auto *t = static_cast<VtOGLDrvTarget *>(VoAllocate(sizeof(VtOGLDrvTarget)));
  if (t != nullptr) std::memset(static_cast<void *>(t), 0, sizeof *t);
  return t;
}

void TargetFree(VtOGLDrvTarget *t) {
  if (t == nullptr) return;
  gl::ContextDestroy(t->gl);
  VoDeallocate(t->bits);
  VoDeallocate(t);
}

VtOGLDrvGroup *GroupFind(VtOGLDrvContext *c, int32_t number) {
  for (VtOGLDrvGroup *g = c->groups; g != nullptr; g = g->next)
    if (g->number == number) return g;
  return nullptr;
}

// A shared group of the format (share lists on), or null.
VtOGLDrvGroup *GroupOfFormat(VtOGLDrvContext *c, int32_t format) {
  for (VtOGLDrvGroup *g = c->groups; g != nullptr; g = g->next)
    if (g->pixel_format == format && g->own_is_member == 0) return g;
  return nullptr;
}

// A new group record with the next number (its own target set by the caller).
VtOGLDrvGroup *GroupNew(VtOGLDrvContext *c, int32_t format) {
  auto *g = static_cast<VtOGLDrvGroup *>(VoAllocate(sizeof(VtOGLDrvGroup)));
  if (g == nullptr) return nullptr;
  *g = VtOGLDrvGroup{nullptr, 0, format, ++c->group_counter, c->groups};
  c->groups = g;
  return g;
}

void GroupUnlink(VtOGLDrvContext *c, VtOGLDrvGroup *g) {
  for (VtOGLDrvGroup **at = &c->groups; *at != nullptr; at = &(*at)->next)
    if (*at == g) {
      *at = g->next;
      return;
    }
}

// Gives a new target its context, in its group. With share lists on the
// group of the format is found or made (its own context first, unshared)
// and the target's context shares with it; a refused sharing is retried
// unshared (1058, warning). With share lists off the target is its own
// group.
VtStatus ContextInGroup(VtOGLDrvRecord *r, VtOGLDrvTarget *t) {
  VtOGLDrvContext *c = r->context;
  VtStatus status = 0;
  if (r->share_lists) {
    VtOGLDrvGroup *g = GroupOfFormat(c, t->pixel_format);
    bool no_memory = false;
    if (g == nullptr) {
      g = GroupNew(c, t->pixel_format);
      if (g == nullptr) return NoRoom();
      g->own = TargetNew();
      no_memory = g->own == nullptr;
      if (g->own != nullptr) g->own->gl = gl::ContextCreate(t->pixel_format, nullptr, nullptr, &no_memory);
      if (g->own == nullptr || g->own->gl == nullptr) {
        TargetFree(g->own);
        GroupUnlink(c, g);
        VoDeallocate(g);
        return no_memory ? NoRoom() : NotMade();
      }
      g->own->pixel_format = t->pixel_format;
      g->own->group = g->number;
    }
    bool refused = false;
    t->gl = gl::ContextCreate(t->pixel_format, g->own->gl, &refused, &no_memory);
    if (t->gl == nullptr && refused) {
      Post(VO_CLASS_WARNING, messages::kOGLNoSharing, kModule);
      status = VO_CLASS_WARNING;
      t->gl = gl::ContextCreate(t->pixel_format, nullptr, nullptr, &no_memory);
    }
    if (t->gl == nullptr) return no_memory ? NoRoom() : NotMade();
    t->group = g->number;
    return status;
  }
  bool no_memory = false;
  t->gl = gl::ContextCreate(t->pixel_format, nullptr, nullptr, &no_memory);
  if (t->gl == nullptr) return no_memory ? NoRoom() : NotMade();
  VtOGLDrvGroup *g = GroupNew(c, t->pixel_format);
  if (g == nullptr) return NoRoom();
  g->own = t;
  g->own_is_member = 1;
  t->group = g->number;
  return 0;
}

// Undoes ContextInGroup for a target that is not linked yet.
void TargetAbandon(VtOGLDrvContext *c, VtOGLDrvTarget *t) {
  if (VtOGLDrvGroup *g = GroupFind(c, t->group); g != nullptr && g->own == t) {
    GroupUnlink(c, g);
    VoDeallocate(g);
  }
  TargetFree(t);
}

void Link(VtOGLDrvContext *c, VtOGLDrvTarget *t) {
  t->next = c->targets;
  c->targets = t;
}

bool ImageFits(const VtOGLDrvTarget *t) {
  return driver::ImageIsLive(t->image) && t->image->width == t->width && t->image->height == t->height &&
         t->image->data != nullptr &&
         gl::RowBytes(t->width, t->image->bits == 8 ? 1 : 3) * static_cast<size_t>(t->height) == t->bits_size;
}

// The size a target draws at: the window's client area or the image.
bool TargetSize(const VtOGLDrvTarget *t, int32_t *width, int32_t *height) {
  if (t->window != nullptr) {
    platform::Rect client{};
    if (!platform::GetClientRect(t->window, &client)) return false;
    *width = client.right;
    *height = client.bottom;
    return true;
  }
  if (t->image != nullptr) {
    // An image destroyed or resized since: its target no longer fits it.
    if (!ImageFits(t)) return false;
    *width = t->width;
    *height = t->height;
    return true;
  }
  *width = *height = 0;  // a group's own context: no framebuffer
  return true;
}

// Window targets put their framebuffer onto the screen under the client
// rectangle, clipped, through the desktop's pixel conversion.
bool WindowShow(const VtOGLDrvTarget *t) {
  int32_t width = 0, height = 0;
  if (!TargetSize(t, &width, &height) || width <= 0 || height <= 0) return false;
  const size_t row = gl::RowBytes(width, 3);
  auto *bits = static_cast<uint8_t *>(platform::Allocate(row * static_cast<size_t>(height)));
  if (bits == nullptr) return false;
  const bool ok = gl::ReadPixels(width, height, 3, bits);
  if (ok) {
    const platform::PixelView screen = platform::ScreenView();
    platform::Point origin{0, 0};
    (void)platform::ClientToScreen(t->window, &origin);
    const platform::Rect inside =
        platform::RectIntersect(platform::Rect{origin.x, origin.y, origin.x + width, origin.y + height},
                                platform::Rect{0, 0, screen.width, screen.height});
    for (int32_t sy = inside.top; sy < inside.bottom; ++sy) {
      const uint8_t *src = bits + static_cast<size_t>(height - 1 - (sy - origin.y)) * row;
      for (int32_t sx = inside.left; sx < inside.right; ++sx) {
        const uint8_t *p = src + static_cast<size_t>(sx - origin.x) * 3;
        platform::PixelWrite(screen, sx, sy, platform::Colour8{p[0], p[1], p[2], 255});
      }
    }
  }
  platform::Free(bits);
  return ok;
}

// Releases one target: what OpenGL work raised (1057), a single-buffered
// window shown, no context current, the caller's environment back.
VtStatus ReleaseOne(VtOGLDrvTarget *t) {
  VtStatus status = 0;
  if (std::fetestexcept(FE_INVALID) != 0) Post(VO_CLASS_DEBUG, messages::kOGLInvalidOperation, kModule);
  if (t != nullptr && t->window != nullptr && t->double_buffered == 0 && gl::Current() == t->gl)
    (void)WindowShow(t);
  if (!gl::Release()) {
    Post(VO_STATUS_UNAVAILABLE, messages::kOGLReleaseFailed, kModule);
    status = VO_STATUS_UNAVAILABLE;
  }
  if (t != nullptr) std::fesetenv(&t->saved_env);
  return status;
}

// Makes one target current: the caller's environment saved in it, then
// invalid operations held (flags cleared, no traps).
VtStatus MakeOne(VtOGLDrvTarget *t) {
  int32_t width = 0, height = 0;
  if (t == nullptr || t->gl == nullptr || !TargetSize(t, &width, &height)) {
    Post(VO_STATUS_UNAVAILABLE, messages::kOGLMakeCurrentFailed, kModule);
    return VO_STATUS_UNAVAILABLE;
  }
  std::fegetenv(&t->saved_env);
  if (!gl::MakeCurrent(t->gl, width, height)) {
    Post(VO_STATUS_UNAVAILABLE, messages::kOGLMakeCurrentFailed, kModule);
    return VO_STATUS_UNAVAILABLE;
  }
  std::fenv_t held;
  std::feholdexcept(&held);
  return 0;
}

VtOGLDrvTarget *GroupTarget(VtOGLDrvContext *c, int32_t number) {
  VtOGLDrvGroup *g = GroupFind(c, number);
  return g != nullptr ? g->own : nullptr;
}

bool Unlink(VtOGLDrvContext *c, VtOGLDrvTarget *t) {
  for (VtOGLDrvTarget **at = &c->targets; *at != nullptr; at = &(*at)->next)
    if (*at == t) {
      *at = t->next;
      return true;
    }
  return false;
}

}  // namespace

VtOGLDrvTarget *WindowTargetFind(VtOGLDrvContext *c, const VtWindow *window) {
  for (VtOGLDrvTarget *t = c->targets; t != nullptr; t = t->next)
    if (t->window == window && platform::WindowIsNamed(window, t->window_serial)) return t;
  return nullptr;
}

VtOGLDrvTarget *ImageTargetFind(VtOGLDrvContext *c, const VtImage *image) {
  for (VtOGLDrvTarget *t = c->targets; t != nullptr; t = t->next)
    if (t->image == image) return t;
  return nullptr;
}

VtStatus WindowTargetMake(VtOGLDrvRecord *r, VtWindow *window, int32_t format, VtOGLDrvTarget **made) {
  *made = nullptr;
  if (!platform::IsWindow(window) || window == platform::GetDesktopWindow()) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kOGLNotAWindow, kModule);
    return NotMade();
  }
  const bool children = (window->style & platform::kStyleClipChildren) != 0;
  const bool siblings = (window->style & platform::kStyleClipSiblings) != 0;
  if ((!children && !siblings) || window->class_parent_dc != 0) {
    VoDiagnosticBegin(VO_STATUS_UNAVAILABLE, messages::kOGLWindowRequirements, kModule);
    if (!children) VoDiagnosticArgString("Window requires WS_CLIPCHILDREN style defined\n");
    if (!siblings) VoDiagnosticArgString("Window requires WS_CLIPSIBLINGS style defined\n");
    if (window->class_parent_dc != 0) VoDiagnosticArgString("Window requires it's own device context\n");
    (void)VoDiagnosticEnd();
    return NotMade();
  }
  if (!PlatformReady()) return NotMade();
  int32_t chosen = window->pixel_format != 0 ? window->pixel_format : format;
  if (chosen == 0) {
    const int32_t buffering = r->double_buffering ? 2 : 1;
    if (!r->generic_only) chosen = gl::FormatChooseOwn(5, 5, 6, buffering);
    if (chosen == 0) chosen = gl::FormatChooseOwn(2, 5, 6, buffering);
  }
  if (gl::FormatDescribe(chosen, nullptr) == 0) return NotMade();
  VtOGLDrvTarget *t = TargetNew();
  if (t == nullptr) return NotMade();
  t->window = window;
  t->window_serial = platform::WindowSerial(window);
  t->pixel_format = chosen;
  t->double_buffered = r->double_buffering ? 1 : 0;
  const VtStatus status = ContextInGroup(r, t);
  if (t->gl == nullptr || (status & VO_STATUS_UNAVAILABLE) != 0 ||
      !gl::FramebufferMake(t->gl, window->width, window->height)) {
    if (t->gl != nullptr && (status & VO_STATUS_UNAVAILABLE) == 0) (void)NotMade();
    TargetAbandon(r->context, t);
    return VO_STATUS_UNAVAILABLE;
  }
  window->pixel_format = chosen;  // set once, as a window keeps its format
  Link(r->context, t);
  *made = t;
  return status;
}

VtStatus ImageTargetMake(VtOGLDrvRecord *r, VtImage *image, VtOGLDrvTarget **made) {
  *made = nullptr;
  if (image == nullptr) {
    Post(VO_STATUS_UNAVAILABLE, messages::kOGLImageRefused, kModule, "no image");
    return NotMade();
  }
  if (!PlatformReady()) return NotMade();
  if (image->width <= 0 || image->height <= 0) {
    if (image->data != nullptr) {
      Post(VO_STATUS_UNAVAILABLE, messages::kOGLImageRefused, kModule, "pixels without a size");
      return NotMade();
    }
    uint32_t x = 0, y = 0;
    double aspect = 0;
    if (VoViewGetResolution(nullptr, &x, &y, &aspect) != 0 || x == 0 || y == 0) return NotMade();
    if (x > kViewSideLimit || y > kViewSideLimit) {
      Post(VO_STATUS_BAD_ARGUMENT, messages::kOGLViewSizeRefused, kModule, x, y, kViewSideLimit);
      return NotMade();
    }
    image->width = static_cast<int32_t>(x);
    image->height = static_cast<int32_t>(y);
  }
  // Pixels the application supplied (or that a frame before made) stay.
  if (image->data == nullptr)
    if (const VtStatus pixels = VoImageAllocateData(image); pixels != 0) return OrMemory(NotMade(), pixels);
  if (const char *why = shaderlib::ImageRefusal(image); why != nullptr) {
    Post(VO_STATUS_UNAVAILABLE, messages::kOGLImageRefused, kModule, why);
    return NotMade();
  }
  const int32_t format = gl::FormatForBitmap(image->bits, 32);
  if (format == 0) return NotMade();
  VtOGLDrvTarget *t = TargetNew();
  if (t == nullptr) return NoRoom();
  t->image = image;
  t->width = image->width;
  t->height = image->height;
  t->pixel_format = format;
  t->bits_size = gl::RowBytes(image->width, image->bits == 8 ? 1 : 3) * static_cast<size_t>(image->height);
  t->bits = static_cast<uint8_t *>(platform::Allocate(t->bits_size));
  const VtStatus status = t->bits != nullptr ? ContextInGroup(r, t) : NoRoom();
  if (t->gl == nullptr || (status & VO_STATUS_UNAVAILABLE) != 0 ||
      !gl::FramebufferMake(t->gl, image->width, image->height)) {
    if (t->gl != nullptr && (status & VO_STATUS_UNAVAILABLE) == 0) (void)NotMade();
    TargetAbandon(r->context, t);
    return OrMemory(VO_STATUS_UNAVAILABLE, status);
  }
  Link(r->context, t);
  *made = t;
  return status;
}

VtStatus TargetDestroy(VtOGLDrvRecord *r, VtOGLDrvTarget *t) {
  VtOGLDrvContext *c = r->context;
  if (!Unlink(c, t)) return VO_CLASS_WARNING;
  VtStatus status = 0;
  if (c->temporary == t) {
    status |= ReleaseOne(t);
    c->temporary = nullptr;
  }
  if (c->frame == t) {
    if (c->frame_current != 0 && c->temporary == nullptr) status |= ReleaseOne(t);
    c->frame_current = 0;
    c->frame = nullptr;
  }
  if (VtOGLDrvGroup *g = GroupFind(c, t->group); g != nullptr && g->own == t) {
    GroupUnlink(c, g);
    VoDeallocate(g);
  }
  TargetFree(t);
  return status;
}

void FrameSet(VtOGLDrvRecord *r, VtOGLDrvTarget *t) {
  VtOGLDrvContext *c = r->context;
  if (c->frame != t && c->frame_current != 0) {
    // Another frame target was current: it is released first.
    if (c->temporary == nullptr) (void)ReleaseOne(c->frame);
    c->frame_current = 0;
  }
  c->frame = t;
}

bool AnyCurrent(const VtOGLDrvRecord *r) {
  const VtOGLDrvContext *c = r->context;
  return c->frame_current != 0 || c->temporary != nullptr || c->mode2_held != 0;
}

VtStatus MakeCurrentNumber(VtOGLDrvRecord *r, int32_t number) {
  VtOGLDrvContext *c = r->context;
  if (r->target_mode == 2) {
    if (c->mode2_held == 0) {
      std::fegetenv(&c->saved_env);
      std::fenv_t held;
      std::feholdexcept(&held);
      c->mode2_held = 1;
    }
    return 0;
  }
  if (number < 0) return VO_STATUS_UNAVAILABLE;
  const bool frame_live = c->frame_current != 0 && c->temporary == nullptr;
  if (number == 0) {
    if (frame_live) return 0;
    if (c->temporary != nullptr) {
      (void)ReleaseOne(c->temporary);
      c->temporary = nullptr;
    }
    const VtStatus status = MakeOne(c->frame);
    c->frame_current = status == 0 ? 1 : 0;
    return status;
  }
  VtOGLDrvTarget *found = GroupTarget(c, number);
  if (found == nullptr) return VO_STATUS_UNAVAILABLE;
  if (c->temporary != nullptr) {
    (void)ReleaseOne(c->temporary);
    c->temporary = nullptr;
  }
  if (frame_live) (void)ReleaseOne(c->frame);  // the flag stays set
  const VtStatus status = MakeOne(found);
  if (status == 0) c->temporary = found;
  return status;
}

VtStatus Restore(VtOGLDrvRecord *r) {
  VtOGLDrvContext *c = r->context;
  if (r->target_mode == 2 || c->mode2_held != 0) {
    if (c->mode2_held == 0) return 0;
    if (std::fetestexcept(FE_INVALID) != 0) Post(VO_CLASS_DEBUG, messages::kOGLInvalidOperation, kModule);
    std::fesetenv(&c->saved_env);
    c->mode2_held = 0;
    return 0;
  }
  if (c->frame_current != 0 && c->temporary != nullptr) {
    VtStatus status = ReleaseOne(c->temporary);
    c->temporary = nullptr;
    const VtStatus again = MakeOne(c->frame);
    if (again != 0) c->frame_current = 0;
    return status | again;
  }
  if (c->frame_current != 0) {
    c->frame_current = 0;
    return c->frame != nullptr ? ReleaseOne(c->frame) : VO_STATUS_UNAVAILABLE;
  }
  if (c->temporary == nullptr) return VO_STATUS_UNAVAILABLE;
  const VtStatus status = ReleaseOne(c->temporary);
  c->temporary = nullptr;
  return status;
}

VtStatus FrameReadBack(VtOGLDrvRecord *, VtOGLDrvTarget *t) {
  if (t == nullptr || gl::Current() != t->gl) return VO_STATUS_UNAVAILABLE;
  if (t->window != nullptr) return WindowShow(t) ? 0 : VO_STATUS_UNAVAILABLE;
  if (t->image == nullptr) return 0;
  if (!ImageFits(t)) return VO_STATUS_UNAVAILABLE;
  return gl::ReadPixels(t->width, t->height, t->image->bits == 8 ? 1 : 3, t->bits) ? 0
                                                                                   : VO_STATUS_UNAVAILABLE;
}

void BitsToImage(const VtOGLDrvTarget *t) {
  const VtImage *image = t->image;
  if (image == nullptr || t->bits == nullptr || !ImageFits(t)) return;
  const int32_t bytes = image->bits == 8 ? 1 : 3;
  const size_t row = gl::RowBytes(image->width, bytes);
  for (int32_t y = 0; y < image->height; ++y) {
    const uint8_t *src = t->bits + static_cast<size_t>(image->height - 1 - y) * row;
    uint8_t *dst = image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row);
    std::memcpy(dst, src, static_cast<size_t>(image->width) * static_cast<size_t>(bytes));
  }
}

VtStatus ReleaseEverything(VtOGLDrvRecord *r) {
  VtOGLDrvContext *c = r->context;
  VtStatus status = 0;
  if (c->temporary != nullptr)
    status |= ReleaseOne(c->temporary);
  else if (c->frame_current != 0 && c->frame != nullptr)
    status |= ReleaseOne(c->frame);
  c->temporary = nullptr;
  c->frame_current = 0;
  c->frame = nullptr;
  while (VtOGLDrvTarget *t = c->targets) {
    c->targets = t->next;
    TargetFree(t);
  }
  while (VtOGLDrvGroup *g = c->groups) {
    c->groups = g->next;
    if (g->own_is_member == 0) TargetFree(g->own);
    VoDeallocate(g);
  }
  // The counter stays: a number handed out earlier never names a new group.
  return status;
}

VtStatus TargetsReleaseAll() {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr || r->context == nullptr || r->target_mode == 2) return 0;
  return ReleaseEverything(r);
}

// ---------------------------------------------------------------------------
// The back end's view (face.h)
// ---------------------------------------------------------------------------

int32_t FrameShareGroup() {
  const VtOGLDrvRecord *r = Record();
  if (r == nullptr || r->context == nullptr || r->context->frame == nullptr) return -1;
  return r->context->frame->group;
}

VtStatus GroupMakeCurrent(int32_t group) {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr || r->context == nullptr) return VO_STATUS_UNAVAILABLE;
  return MakeCurrentNumber(r, group);
}

VtStatus GroupRestore() {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr || r->context == nullptr) return VO_STATUS_UNAVAILABLE;
  return Restore(r);
}

bool ContextIsCurrent() { return gl::Current() != nullptr; }

bool GroupLives(int32_t group) {
  const VtOGLDrvRecord *r = Record();
  return r != nullptr && r->context != nullptr && group > 0 && GroupFind(r->context, group) != nullptr;
}

bool FrameGroupEndsWithFrame() {
  const VtOGLDrvRecord *r = Record();
  if (r == nullptr || r->context == nullptr || r->context->frame == nullptr || r->target_mode != 0)
    return false;
  const VtOGLDrvTarget *t = r->context->frame;
  const VtOGLDrvGroup *g = GroupFind(r->context, t->group);
  return g != nullptr && g->own == t;
}

}  // namespace vo::ogldrv

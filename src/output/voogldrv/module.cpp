// voogldrv as a module: its record and controls, start and terminate, and
// the exported procedures that give each OpenGL frame its target.
#include <cstring>

#include "host/desktop.h"
#include "output/vodriver/face.h"
#include "output/voogldrv/ogldrv.h"
#include "output/voogldrv/face.h"
#include "kernel/vosystem/face.h"

namespace vo::ogldrv {

namespace {

constexpr uint32_t kBuildTime = 923473426;
constexpr uint32_t kModule = VO_MODULE_OPENGL_DRIVERS;
constinit ModuleState<VtOGLDrvRecord> g_state(kModule);

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  const VtOGLDrvRecord *r = Record();
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  switch (code) {
    case kControlMode: *value = TypedWord(VtEnum, r->target_mode); return 0;
    case kControlDouble: *value = TypedBoolean(r->double_buffering != 0); return 0;
    case kControlGeneric: *value = TypedBoolean(r->generic_only != 0); return 0;
    case kControlShare: *value = TypedBoolean(r->share_lists != 0); return 0;
    default: return VO_DRIVER_NOT_HANDLED;
  }
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  VtOGLDrvRecord *r = Record();
  if (value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  switch (code) {
    case kControlMode:
      if (value->value.u > 2) {
        Post(VO_STATUS_BAD_ARGUMENT, messages::kOGLModeRefused, kModule, value->value.u);
        return VO_STATUS_BAD_ARGUMENT;
      }
      // The end of a frame follows the mode it began in.
      if (value->value.u != r->target_mode && AnyCurrent(r)) {
        Post(VO_STATUS_UNAVAILABLE, messages::kOGLModeInFrame, kModule);
        return VO_STATUS_UNAVAILABLE;
      }
      r->target_mode = value->value.u;
      return 0;
    case kControlDouble: r->double_buffering = value->value.u != 0; return 0;
    case kControlGeneric: r->generic_only = value->value.u != 0; return 0;
    case kControlShare: r->share_lists = value->value.u != 0; return 0;
    default: return VO_DRIVER_NOT_HANDLED;
  }
}

VtStatus Start() {
  if (g_state.Master() != nullptr) return VO_STATUS_UNAVAILABLE;
  auto *r = static_cast<VtOGLDrvRecord *>(VoAllocate(sizeof(VtOGLDrvRecord)));
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  auto *c = static_cast<VtOGLDrvContext *>(VoAllocate(sizeof(VtOGLDrvContext)));
  if (c == nullptr) {
    VoDeallocate(r);
    return VO_STATUS_NO_MEMORY | VO_STATUS_UNAVAILABLE;
  }
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  c->instance = platform::GetModuleHandleA(nullptr);
  c->image_class = "voopengl_image";
  c->child_image_class = "voopengl_child_image";
  *r = VtOGLDrvRecord{c, 0, 1, 0, 1, nullptr, nullptr, 0, 0, 0};
  // Worker contexts share the record: only the calling thread makes
  // contexts current.
  g_state.SetMaster(r);
  if (VoDriverCreate(&WindowDriverEntry) == nullptr) {
    g_state.SetMaster(nullptr);
    VoDeallocate(c);
    VoDeallocate(r);
    return VO_STATUS_UNAVAILABLE;
  }
  return 0;
}

// Terminate releases every target, group and context before the record.
VtStatus Terminate() {
  VtOGLDrvRecord *r = g_state.Master();
  if (r == nullptr) return 0;
  (void)ReleaseEverything(r);
  if (r->context->mode2_held != 0) std::fesetenv(&r->context->saved_env);
  if (VtDriverRecord *d = VoDriverFindFromName("vodrvwin")) (void)VoDriverDestroy(d);
  if (r->offscreen != nullptr) (void)VoImageDestroy(r->offscreen);
  g_state.SetMaster(nullptr);
  VoDeallocate(r->context);
  VoDeallocate(r);
  return 0;
}

// The name of the current output driver, or "".
const char *DriverName(VtDriverRecord *driver) {
  VtTypedValue v{};
  if (driver == nullptr || VoDriverGetControl(driver, VO_CONTROL_DRIVER_NAME, &v) != 0 ||
      v.type != VtString || v.value.s == nullptr)
    return "";
  return v.value.s;
}

// The stream of a file driver whose frame was refused before anything was
// written to it: a file VoFileOpen created is removed when it is closed still
// empty. Drivers without a stream answer no pointer.
void OutputLeftEmpty(VtDriverRecord *driver) {
  VtTypedValue v{};
  if (VoDriverGetControl(driver, VO_CONTROL_DRIVER_FILE, &v) == 0 && v.type == VtGenericPtr &&
      v.value.p != nullptr)
    FileRemoveIfLeftEmpty(static_cast<std::FILE *>(v.value.p));
}

// An image handed in that the driver framework does not hold live (one
// destroyed, or a record of another kind) is refused before it is read.
bool ImageRefused(const VtImage *image) {
  if (image == nullptr || driver::ImageIsLive(image)) return false;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kOGLImageRefused, kModule, "not a live image");
  return true;
}

}  // namespace

VtOGLDrvRecord *Record() { return g_state.Get(); }

}  // namespace vo::ogldrv

namespace vo {

using ogldrv::Record;

VtStatus VoOGLDrvWindowInitialise(VtWindow *window, int32_t format) {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  VtOGLDrvTarget *t = ogldrv::WindowTargetFind(r->context, window);
  VtStatus status = 0;
  if (t == nullptr) status = ogldrv::WindowTargetMake(r, window, format, &t);
  if (t == nullptr) return VO_STATUS_UNAVAILABLE;
  ogldrv::FrameSet(r, t);
  return status;
}

VtStatus VoOGLDrvWindowSetCurrent(VtWindow *window) {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  VtOGLDrvTarget *t = ogldrv::WindowTargetFind(r->context, window);
  if (t == nullptr) return VoOGLDrvWindowInitialise(window, 0);
  ogldrv::FrameSet(r, t);
  return 0;
}

VtStatus VoOGLDrvWindowTerminate(VtWindow *window) {
  VtOGLDrvRecord *r = Record();
  VtOGLDrvTarget *t =
      r != nullptr && window != nullptr ? ogldrv::WindowTargetFind(r->context, window) : nullptr;
  return t != nullptr ? ogldrv::TargetDestroy(r, t) : VO_STATUS_UNAVAILABLE;
}

VtStatus VoOGLDrvImageInitialise(VtImage *image, int32_t format) {
  (void)format;  // an image's format follows its bits
  VtOGLDrvRecord *r = Record();
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  if (ogldrv::ImageRefused(image)) return VO_STATUS_BAD_ARGUMENT;
  VtOGLDrvTarget *t = image != nullptr ? ogldrv::ImageTargetFind(r->context, image) : nullptr;
  VtStatus status = 0;
  if (t == nullptr) status = ogldrv::ImageTargetMake(r, image, &t);
  if (t == nullptr)
    return (status & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY ? status | VO_STATUS_UNAVAILABLE
                                                                 : VtStatus{VO_STATUS_UNAVAILABLE};
  ogldrv::FrameSet(r, t);
  return status;
}

VtStatus VoOGLDrvImageSetCurrent(VtImage *image) {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  if (ogldrv::ImageRefused(image)) return VO_STATUS_BAD_ARGUMENT;
  VtOGLDrvTarget *t = image != nullptr ? ogldrv::ImageTargetFind(r->context, image) : nullptr;
  if (t == nullptr) return VoOGLDrvImageInitialise(image, 0);
  ogldrv::FrameSet(r, t);
  return 0;
}

VtStatus VoOGLDrvImageTerminate(VtImage *image) {
  VtOGLDrvRecord *r = Record();
  VtOGLDrvTarget *t = r != nullptr && image != nullptr ? ogldrv::ImageTargetFind(r->context, image) : nullptr;
  return t != nullptr ? ogldrv::TargetDestroy(r, t) : VO_STATUS_UNAVAILABLE;
}

VtStatus VoOGLDrvImageBegin() {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus made = 0;  // what making the frame's target answered
  if (r->target_mode == 0) {
    VtDriverRecord *driver = VoDriverGet();
    const char *name = ogldrv::DriverName(driver);
    if (std::strcmp(name, "vodrvwin") == 0) {
      made = VoOGLDrvWindowInitialise(ogldrv::DriverWindowLive(r), 0);
    } else if (std::strcmp(name, "vodrvimg") == 0) {
      VtTypedValue v{};
      (void)VoDriverGetControl(driver, VO_CONTROL_DRIVER_IMAGE, &v);
      made = VoOGLDrvImageInitialise(v.type == VtGenericPtr ? static_cast<VtImage *>(v.value.p) : nullptr, 0);
    } else {
      // Another driver: an image of the view's size, handed to it at the end.
      if (r->offscreen != nullptr) {
        if (VtOGLDrvTarget *t = ogldrv::ImageTargetFind(r->context, r->offscreen))
          (void)ogldrv::TargetDestroy(r, t);
        (void)VoImageDestroy(r->offscreen);
      }
      r->offscreen = VoImageCreate();
      made =
          r->offscreen != nullptr ? VoOGLDrvImageInitialise(r->offscreen, 0) : VtStatus{VO_STATUS_NO_MEMORY};
      if (made != 0) ogldrv::OutputLeftEmpty(driver);
    }
  }
  // A target not made for want of memory makes the frame fail as such; the
  // other answers of the making stay what making the target current says.
  const VtStatus current = ogldrv::MakeCurrentNumber(r, 0);
  return (made & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY ? current | made : current;
}

VtStatus VoOGLDrvImageEnd() {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  if (r->target_mode == 2) return ogldrv::Restore(r);
  VtOGLDrvContext *c = r->context;
  VtStatus status = 0;
  // A temporary target current: the frame target first comes back.
  if (c->temporary != nullptr && c->frame_current != 0) status |= ogldrv::Restore(r);
  VtOGLDrvTarget *t = c->frame;
  bool read = false;
  if (t != nullptr && t->image != nullptr && c->frame_current != 0 && c->temporary == nullptr)
    read = ogldrv::FrameReadBack(r, t) == 0;
  status |= ogldrv::Restore(r);
  if (read) ogldrv::BitsToImage(t);
  if (r->target_mode != 0) return status;
  if (t != nullptr) status |= ogldrv::TargetDestroy(r, t);
  if (r->offscreen != nullptr) {
    status |= VoDriverCopyImage(nullptr, r->offscreen);
    (void)VoImageDestroy(r->offscreen);
    r->offscreen = nullptr;
  }
  return status;
}

VtStatus VoOGLDrvSwapBuffers() {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  if (r->target_mode == 2) return 0;
  const VtOGLDrvContext *c = r->context;
  VtOGLDrvTarget *t = c->frame;
  if (t != nullptr && t->double_buffered == 0) return 0;
  if (t == nullptr || c->frame_current == 0 || c->temporary != nullptr || ogldrv::FrameReadBack(r, t) != 0) {
    Post(VO_STATUS_UNAVAILABLE, messages::kOGLSwapFailed, VO_MODULE_OPENGL_DRIVERS);
    return VO_STATUS_UNAVAILABLE;
  }
  return 0;
}

VtStatus VoEntryOGLDrv(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kOGLDrv = {
      .number = VO_MODULE_OPENGL_DRIVERS,
      .name = "voogldrv",
      .banner = "mrvx20 OpenGL window and image targets",
      .build_time = ogldrv::kBuildTime,
      .control_set = &ogldrv::ControlSet,
      .control_get = &ogldrv::ControlGet,
      .start = &ogldrv::Start,
      .terminate = &ogldrv::Terminate,
  };
  return ModuleQueryAnswer(kOGLDrv, query, answer);
}

}  // namespace vo

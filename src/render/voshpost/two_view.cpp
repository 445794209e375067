// The execute codes that run whole renders around the post-process list:
// the two-view render (two views into two buffers, post-processed, smoothed
// and interlaced into the current buffer: fields, paired views, half
// resolution) and the antialiasing render (a ray-traced render, then the
// seed and the propagator over it).
//
// Both put back what they change: the controls' fields and the list of the
// module record (never the whole record: a class that ran may have replaced
// the record's own stores), the target buffer, the current view, the
// controls of other modules they set, and every buffer, view copy and
// shader they made.

#include <algorithm>
#include <cstring>

#include <vo/vo_raytrace.h>
#include <vo/vo_view.h>

#include "render/voshpost/classes.h"
#include "render/voshpost/ffaa.h"
#include "kernel/vosystem/face.h"

namespace vo::post {

namespace {

// The full-resolution mode (0x440003) is whatever is neither of these two.
constexpr uint32_t kModeHalf = 0x440005, kModeFields = 0x440006;
constexpr uint32_t kFieldControl = 0xc0012, kFieldFirst = 0xc0001, kFieldSecond = 0xc0002;
constexpr uint32_t kRayChannelsType = 39;

// The smoothing kernel of the half-resolution mode, row by row.
constexpr float kHalfKernel[9] = {1, 9.5f, 1, 13, 43, 13, 1, 9.5f, 1};

// The controls' fields and the list of the module record.
struct Controls {
  float flare_constant;
  uint32_t lights_select, render_code, post_code, quiet, field_order, two_view_mode;
  void *view1, *view2;
  VtScreenBuffer *buffer1, *buffer2;
  VtShader *filter_override;
  void *list;
};

Controls ControlsSave(const VtPostprocessContext *c) {
  return {c->flare_constant, c->lights_select,   c->render_code, c->post_code, c->quiet,
          c->field_order,    c->two_view_mode,   c->view1,       c->view2,     c->buffer1,
          c->buffer2,        c->filter_override, c->list};
}

void ControlsRestore(VtPostprocessContext *c, const Controls &s) {
  c->flare_constant = s.flare_constant;
  c->lights_select = s.lights_select;
  c->render_code = s.render_code;
  c->post_code = s.post_code;
  c->quiet = s.quiet;
  c->field_order = s.field_order;
  c->two_view_mode = s.two_view_mode;
  c->view1 = s.view1;
  c->view2 = s.view2;
  c->buffer1 = s.buffer1;
  c->buffer2 = s.buffer2;
  c->filter_override = s.filter_override;
  c->list = s.list;
}

bool NoCombine(const VtShader *filter) {
  const auto bits = reinterpret_cast<uintptr_t>(filter);
  return bits == 0xFFFFFFFFu || bits == ~uintptr_t{0};
}

// Width, height and region of a buffer, or resolution and viewport of a
// view.
struct Size {
  uint32_t width = 0, height = 0, region[4] = {};
  double aspect = 1.0;
};

VtStatus BufferSize(VtScreenBuffer *b, Size *s) {
  VtTypedValue w{}, h{};
  VtStatus st = VoScreenBufferGetControl(b, VO_SB_WIDTH, &w);
  if (st == 0) st = VoScreenBufferGetControl(b, VO_SB_HEIGHT, &h);
  if (st == 0) st = VoScreenBufferGetRegion(b, s->region);
  s->width = w.value.u;
  s->height = h.value.u;
  return st;
}

VtStatus ViewSize(VtView *v, Size *s) {
  VtStatus st = VoViewGetResolution(v, &s->width, &s->height, &s->aspect);
  if (st == 0) st = VoViewGetViewport(v, s->region);
  return st;
}

VtStatus SetSize(VtScreenBuffer *b, uint32_t width, uint32_t height) {
  const VtTypedValue w = TypedNat32(width), h = TypedNat32(height);
  return VoScreenBufferSetControl(b, VO_SB_WIDTH, &w) | VoScreenBufferSetControl(b, VO_SB_HEIGHT, &h);
}

VtScreenBuffer *ColourBuffer() {
  VtScreenBuffer *b = VoScreenBufferCreate();
  if (b != nullptr && VoScreenBufferAllocateData(b, VO_SB_COLOUR) != 0) {
    (void)VoScreenBufferDestroy(b);
    b = nullptr;
  }
  return b;
}

// Runs execute code 0x440002 with a one-element list of the shader over
// the buffer (made the target); the list is freed, not the shader.
VtStatus RunOne(VtPostprocessContext *c, VtShader *shader, VtScreenBuffer *target) {
  VtReference *list = VoPrimitiveListCreate(1, reinterpret_cast<VtPrimitive **>(&shader));
  if (list == nullptr) return kNoMemory;
  c->list = list;
  VtStatus st = VoScreenBufferSet(target);
  if (st == 0) st = VoExecute(VO_EXECUTE_PP_RUN_IMAGE);
  c->list = nullptr;
  (void)VoShaderReferenceDestroy(list, 0);
  return st;
}

// What one two-view render made and changed, undone by Finish.
struct TwoView {
  VtPostprocessContext *c;
  Controls saved;
  VtScreenBuffer *previous;  // the target at the start
  VtView *view;              // the current view at the start
  VtView *copies[2] = {nullptr, nullptr};
  VtScreenBuffer *made[3] = {nullptr, nullptr, nullptr};
  uint32_t quiet = 0;
  bool swapped = false;

  VtStatus Finish(VtStatus st) {
    if (swapped) {
      const VtTypedValue restore = TypedBoolean(quiet != 0);
      st |= VoControlSet(VO_CONTROL_SB_NO_FORWARD, &restore);
    }
    ControlsRestore(c, saved);
    (void)VoScreenBufferSet(previous);
    (void)VoViewSet(view);
    for (VtScreenBuffer *b : made)
      if (b != nullptr) (void)VoScreenBufferDestroy(b);
    for (VtView *v : copies)
      if (v != nullptr) (void)VoViewDestroy(v);
    return st;
  }
};

// The render or post code into a buffer with a view current; in field mode
// the standard renderer's field control is set around the render.
VtStatus RunInto(uint32_t code, VtScreenBuffer *b, VtView *view, uint32_t field) {
  VtStatus st = VoScreenBufferSet(b);
  if (st == 0 && view != nullptr) st = VoViewSet(view);
  if (st != 0) return st;
  VtTypedValue saved{};
  const bool fields = field != 0 && VoControlGet(kFieldControl, &saved) == 0;
  if (fields) {
    const VtTypedValue v = TypedWord(saved.type, field);
    (void)VoControlSet(kFieldControl, &v);
  }
  st = VoExecute(code);
  if (fields) (void)VoControlSet(kFieldControl, &saved);
  return st;
}

}  // namespace

VtStatus TwoViewRender() {
  VtPostprocessContext *c = State();
  if (c == nullptr) return kNotStarted;
  const bool render = c->render_code != VO_EXECUTE_PP_NONE;
  const bool half = c->two_view_mode == kModeHalf;
  const bool fields = c->two_view_mode == kModeFields;
  VtView *view[2] = {static_cast<VtView *>(c->view1), static_cast<VtView *>(c->view2)};
  Size size[2];
  for (int i = 0; i < 2; ++i) {
    VtScreenBuffer *b = i == 0 ? c->buffer1 : c->buffer2;
    const VtStatus st = render         ? ViewSize(view[i] != nullptr ? view[i] : VoViewGet(), &size[i])
                        : b != nullptr ? BufferSize(b, &size[i])
                                       : kRefused;
    if (st != 0) return st;
  }
  if (size[0].width != size[1].width || size[0].height != size[1].height ||
      std::memcmp(size[0].region, size[1].region, sizeof size[0].region) != 0)
    return kRefused;
  const uint32_t width = size[0].width;
  uint32_t height = size[0].height;
  uint32_t region[4];
  std::memcpy(region, size[0].region, sizeof region);

  TwoView t{c, ControlsSave(c), VoScreenBufferGet(), VoViewGet()};
  if (half) {
    for (int i = 0; i < 2; ++i) {
      t.copies[i] = VoViewCopy(view[i] != nullptr ? view[i] : VoViewGet());
      if (t.copies[i] == nullptr) return t.Finish(kNoMemory);
      view[i] = t.copies[i];
    }
    if (render) {
      height = (height + 1) / 2;
      region[2] /= 2;
      region[3] /= 2;
      for (VtView *v : t.copies)
        if (VtStatus st =
                VoViewSetResolution(v, width, height, size[1].aspect / 2) | VoViewSetViewport(v, region))
          return t.Finish(st);
    }
  }
  // Quiet into the screen buffers' forwarding while the runs go on.
  t.swapped = VoPostprocessQuietSwap(c->quiet, &t.quiet) == 0;
  VtScreenBuffer *buffer[2] = {c->buffer1, c->buffer2};
  for (int i = 0; i < 2; ++i)
    if (buffer[i] == nullptr && (buffer[i] = t.made[i] = ColourBuffer()) == nullptr)
      return t.Finish(kNoMemory);
  VtScreenBuffer *output = t.previous;
  if (output == nullptr && (output = t.made[2] = ColourBuffer()) == nullptr) return t.Finish(kNoMemory);
  if (VtStatus st = SetSize(output, width, half ? 2 * height : height)) return t.Finish(st);

  if (render) {
    for (int i = 0; i < 2; ++i) {
      if (VtStatus st = SetSize(buffer[i], width, height)) return t.Finish(st);
      const uint32_t field = fields ? (i == 0 ? kFieldFirst : kFieldSecond) : 0;
      if (VtStatus st = RunInto(c->render_code, buffer[i], view[i], field)) return t.Finish(st);
    }
    (void)VoViewSet(t.view);
  }
  if (c->list != nullptr && c->post_code != VO_EXECUTE_PP_NONE) {
    for (int i = 0; i < 2; ++i)
      if (VtStatus st = RunInto(c->post_code, buffer[i], view[i], 0)) return t.Finish(st);
    (void)VoViewSet(t.view);
  }
  VtStatus st = 0;
  // Combine, unless the override says none.
  if (!NoCombine(c->filter_override)) {
    VtShader *filter = c->filter_override;
    VtShader *made = nullptr;
    if (filter == nullptr && half) {
      made = filter = VoShaderCreate(VO_SHADER_POSTPROCESS, "matrix");
      if (made == nullptr) {
        st |= kNoMemory;
      } else {
        const VtTypedValue three = TypedInt32(3), kernel = TypedPointer(const_cast<float *>(kHalfKernel));
        st |= VoShaderSetArg(made, "rows", &three) | VoShaderSetArg(made, "columns", &three) |
              VoShaderSetArg(made, "matrix", &kernel);
      }
    } else if (filter == nullptr) {
      filter = c->matrix;
    }
    if (filter != nullptr && st == 0)
      for (VtScreenBuffer *b : buffer) st |= RunOne(c, filter, b);
    if (made != nullptr) st |= VoShaderDestroy(made);
  }
  if (c->interlace != nullptr) {
    const VtTypedValue one = TypedPointer(buffer[0]), two = TypedPointer(buffer[1]),
                       halfValue = TypedBoolean(half);
    VtStatus set = VoShaderSetArg(c->interlace, "buffer1", &one) |
                   VoShaderSetArg(c->interlace, "buffer2", &two) |
                   VoShaderSetArg(c->interlace, "half resolution", &halfValue);
    st |= set != 0 ? set : RunOne(c, c->interlace, output);
  }
  if (t.swapped) {
    const VtTypedValue restore = TypedBoolean(t.quiet != 0);
    st |= VoControlSet(VO_CONTROL_SB_NO_FORWARD, &restore);
    t.swapped = false;
  }
  if ((st & 2) == 0) {
    // A picture that could not be shown for want of memory is a failed
    // render; the show's other refusals stay its own business.
    const VtStatus shown = VoScreenBufferShow(output);
    if ((shown & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY) st |= shown;
  }
  return t.Finish(st);
}

VtStatus AntialiasRender() {
  VtPostprocessContext *c = State();
  if (c == nullptr) return kNotStarted;
  const Controls saved = ControlsSave(c);
  VtScreenBuffer *previous = VoScreenBufferGet();
  VtScreenBuffer *b = previous, *made = nullptr;
  bool stencilAdded = false;
  VtStatus st = 0;
  if (b != nullptr) {
    uint32_t mask = 0;
    st = VoScreenBufferGetDataMask(b, &mask);
    if (st == 0 && (mask & VO_SB_COLOUR) == 0) st = VoScreenBufferAllocateData(b, VO_SB_COLOUR);
    if (st == 0 && (mask & VO_SB_STENCIL) == 0) {
      st = VoScreenBufferAllocateData(b, VO_SB_STENCIL);
      stencilAdded = st == 0;
    } else if (st == 0) {
      // The flags of an earlier antialiasing render would mark pixels
      // processed before this one starts.
      uint8_t *bytes = StencilBytes(b);
      const size_t n = size_t{b->width} * b->height;
      for (size_t i = 0; bytes != nullptr && i < n; ++i)
        bytes[i] &= static_cast<uint8_t>(~VO_PP_STENCIL_FLAGS);
    }
  } else {
    made = b = VoScreenBufferCreate();
    if (b == nullptr) return kNoMemory;
    st = VoScreenBufferAllocateData(b, VO_SB_COLOUR | VO_SB_STENCIL);
  }
  VtShader *seed = nullptr, *propagator = nullptr;
  VtReference *list = nullptr;
  if (st == 0) st = VoScreenBufferSet(b);
  if (st == 0) {
    propagator = VoShaderCreate(VO_SHADER_POSTPROCESS, "ffaa propagator");
    seed = propagator != nullptr ? VoShaderCreate(VO_SHADER_POSTPROCESS, "ffaa seed") : nullptr;
    VtPrimitive *two[2] = {reinterpret_cast<VtPrimitive *>(seed),
                           reinterpret_cast<VtPrimitive *>(propagator)};
    list = seed != nullptr ? VoPrimitiveListCreate(2, two) : nullptr;
    if (list == nullptr) {
      if (seed != nullptr) (void)VoShaderDestroy(seed);
      if (propagator != nullptr) (void)VoShaderDestroy(propagator);
      st = kNoMemory;
    }
  }
  if (st == 0) {
    c->list = list;
    VtTypedValue channels{};
    const bool channelsRead = VoControlGet(VO_CONTROL_RAY_CHANNELS, &channels) == 0;
    const VtTypedValue stencilOnly = TypedWord(kRayChannelsType, VO_SB_STENCIL);
    (void)VoControlSet(VO_CONTROL_RAY_CHANNELS, &stencilOnly);
    c->render_code = VO_EXECUTE_RAY_FULL;
    c->post_code = VO_EXECUTE_PP_RUN_IMAGE;
    st = RenderAndPost();
    if (channelsRead) (void)VoControlSet(VO_CONTROL_RAY_CHANNELS, &channels);
    (void)VoShaderReferenceDestroy(list, 1);
  }
  ControlsRestore(c, saved);
  (void)VoScreenBufferSet(previous);
  if (stencilAdded) st |= VoScreenBufferDeallocateData(b, VO_SB_STENCIL);
  if (made != nullptr) st |= VoScreenBufferDestroy(made);
  return st;
}

}  // namespace vo::post

namespace vo {

VtStatus VoPostprocessRenderMatrix() { return post::TwoViewRender(); }
VtStatus VoPostprocessFfaaSetup() { return post::AntialiasRender(); }

}  // namespace vo

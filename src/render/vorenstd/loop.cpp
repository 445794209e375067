// The scanline render loop: view (enlarged when oversampling), output frame,
// scanline writer, buckets of primitives by the first line they can touch,
// the background, and line by line the poll, activation, scan and output.
//
// Invariants a reader must know:
// - every path out of Render gives back what the render took, in reverse
//   order: image shading, buckets, line buffer, view copy (the application's
//   view current again), accumulator, frame, temporary primitives;
// - bucket indices are clamped into 0..height whatever the view module
//   answers, and a primitive's last-line bucket is never before its first;
// - the frame of this call is the record's current frame while it runs; a
//   render started from inside (a shadow map made at image set-up) runs in a
//   frame of its own and puts the outer frame back when it returns.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/vorenstd/renderer.h"
#include "shading/voshader/face.h"
#include "kernel/vosystem/face.h"
#include "scene/vogeom/face.h"
#include "scene/voview/face.h"

namespace vo::renstd {

namespace {

constexpr uint32_t kActivationFlags = 0x62;
constexpr uint32_t kLineExpansionFlags = 0x42;
constexpr uint32_t kStickyNoMemory = 0x4;
constexpr uint32_t kUvFlagsZBuffer = 0x80, kUvFlagsABuffer = 0x180;

bool Interrupted(const VtStandardRendererContext *s) {
  return s->sticky != nullptr && (*s->sticky & VO_COND_INTERRUPTED) != 0;
}

int32_t BucketIndex(const RenderFrame *f, int64_t line) {
  return static_cast<int32_t>(std::clamp<int64_t>(line, 0, f->height));
}

void Append(VtReference **list, VtPrimitive *p, VtStatus *st) {
  VtReference *node = VoPrimitiveReferenceCreate(p);
  if (node == nullptr) {
    *st |= VO_STATUS_NO_MEMORY;
    return;
  }
  *list = VoPrimitiveReferenceAppend(*list, node);
}

VtStatus Bucket(VtStandardRendererContext *s, RenderFrame *f, VtReference *list, int32_t line, bool consume);

// Lines (types 5 and 6) as ribbons of polygons; the pieces made for the
// occasion are kept on the temporary list until the render ends. Protected
// pieces are another render's (the ray tracer's scene, lent while this
// render runs inside it), which destroys them itself.
VtStatus LinesBucket(VtStandardRendererContext *s, RenderFrame *f, VtPrimitive *p, int32_t line) {
  VtReference *pieces = VoPrimitiveExpandToList(p, s->without_normals, kLineExpansionFlags);
  VtStatus st = 0;
  ForEachNode(pieces, [&](VtReference *node) {
    auto *piece = static_cast<VtPrimitive *>(node->data);
    if (piece == nullptr ||
        (piece->flags & (VO_PRIMITIVE_TEMPORARY | VO_PRIMITIVE_PROTECTED)) != VO_PRIMITIVE_TEMPORARY)
      return;
    piece->flags &= ~VO_PRIMITIVE_TEMPORARY;
    Append(&f->temporaries, piece, &st);
  });
  st |= Bucket(s, f, pieces, line, false);
  (void)VoPrimitiveReferenceDestroy(pieces, 0);
  return st;
}

VtStatus PrimitiveBucket(VtStandardRendererContext *s, RenderFrame *f, VtPrimitive *p, int32_t line,
                         bool consume) {
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  if (type == VO_PRIMITIVE_LINE || type == VO_PRIMITIVE_LINE_MESH) {
    const VtStatus st = LinesBucket(s, f, p, line);
    if (consume) (void)VoPrimitiveDestroyTemporary(p);
    return st;
  }
  VtBounds b{};
  (void)VoPrimitiveGetBounds(p, &b);
  if ((p->flags & VO_PRIMITIVE_HAS_TRANSFORM) != 0) {
    const VtBounds own = b;
    (void)s->transform_bounds(reinterpret_cast<float *>(&b), reinterpret_cast<const float *>(&own),
                              VoPrimitiveGetTransform(p));
  }
  uint32_t rect[4] = {0, 0, 0, 0};
  if (VoViewProjectBounds(&b, rect) == VO_CLIP_OUTSIDE) {
    if (consume) (void)VoPrimitiveDestroyTemporary(p);
    return 0;
  }
  const int32_t first = BucketIndex(f, std::max<int64_t>(line, int64_t{rect[2]} - f->ymin - 1));
  const int32_t last =
      std::max(first, BucketIndex(f, std::min<int64_t>(f->height - 1, int64_t{rect[3]} - f->ymin + 1)));
  VtStatus st = 0;
  Append(&f->primitive_buckets[first], p, &st);
  Append(&f->last_buckets[last], p, &st);
  st |= VoMaterialReset(VoPrimitiveGetMaterial(p));
  if (VtShader *space = VoPrimitiveGetTextureSpace(p)) st |= VoShaderReset(space);
  return st;
}

VtStatus Bucket(VtStandardRendererContext *s, RenderFrame *f, VtReference *list, int32_t line, bool consume) {
  VtStatus st = 0;
  if (!consume) {
    ForEachNode(list, [&](VtReference *node) {
      if (node->data != nullptr)
        st |= PrimitiveBucket(s, f, static_cast<VtPrimitive *>(node->data), line, false);
    });
    return st;
  }
  while (list != nullptr) {
    VtReference *node = nullptr;
    list = ReferenceRemoveFirst(list, &node);
    if (node == nullptr) break;
    auto *p = static_cast<VtPrimitive *>(node->data);
    ReferenceNodeFree(node);
    if (p != nullptr) st |= PrimitiveBucket(s, f, p, line, true);
  }
  return st;
}

// A plain polygon or mesh: culled, clipped and set up as scan polygons.
VtStatus PlainActivate(VtPrimitive *p) {
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  if (type < VO_PRIMITIVE_POLYGON || type > VO_PRIMITIVE_MESH_SHARED) return 0;
  static constexpr uint32_t kNeeded[3] = {VO_VERT_SCREEN, VO_POLY_VREFSCLIP, VO_POLY_PLANE};
  for (uint32_t code : kNeeded) {
    if (PropertyOffset(p->contents, code) >= 0) continue;
    VtContents *c = VoContentsUnion(p->contents, 3, kNeeded);
    const VtStatus st = c != nullptr ? VoPrimitiveSetContents(p, c) : VO_STATUS_NO_MEMORY;
    if (st != 0) return st;
    break;
  }
  VtPolygon *first = VoPrimitiveGetPolygons(p);
  VtClipLayout layout{};
  if (first == nullptr || VoClipLayoutGet(p->contents, &layout) != 0) return 0;
  // Culling leaves each polygon's own ring as its clipped boundary; within
  // the view clipping would copy it unchanged, so each polygon kept is set
  // up as soon as it is decided, while its record is at hand.
  VtBounds b{};
  uint32_t rect[4];
  const bool inside = VoPrimitiveGetBounds(p, &b) == 0 && VoViewProjectBounds(&b, rect) == VO_CLIP_INSIDE;
  if (inside) {
    (void)view::CullBackFacingEach(p, first, &layout, &ScanPolygonSetUp);
    return 0;
  }
  if (VoPolygonCullBackFacing(p, first, &layout) == 0) return 0;
  if (VoPolygonClipWithLayout(p, first, nullptr, &layout) == 0) return 0;
  const int32_t next = PropertyOffset(p->contents, VO_POLY_NEXT);
  for (VtPolygon *q = first; q != nullptr;) {
    (void)ScanPolygonSetUp(p, q);
    if (next < 0) break;
    q = *ElementField<VtPolygon *>(q, next);
    if (q == first) break;
  }
  return 0;
}

uint32_t ActivationFlags(const RenderFrame *f, VtPrimitive *p, uint32_t flags) {
  VtShader *space = VoPrimitiveGetTextureSpace(p);
  if (space == nullptr || space->cls == nullptr || space->cls->nameKind != VO_CLASS_NAME_UV) return flags;
  if (f->cls->kind == 2) return flags | kUvFlagsZBuffer;
  if (f->cls->kind == 3) return flags | kUvFlagsABuffer;
  return flags;
}

}  // namespace

VtStatus ActivateLine(VtStandardRendererContext *s, RenderFrame *f, int32_t line) {
  const float xi = *s->g_xi, yi = *s->g_yi;
  VtReference *&bucket = f->primitive_buckets[line];
  VtStatus st = 0;
  while (bucket != nullptr && st == 0) {
    VtReference *node = nullptr;
    bucket = ReferenceRemoveFirst(bucket, &node);
    if (node == nullptr) break;
    auto *p = static_cast<VtPrimitive *>(node->data);
    ReferenceNodeFree(node);
    if (p == nullptr) continue;
    VtReference *pieces = VoPrimitiveExpandToList(p, f->contents, ActivationFlags(f, p, kActivationFlags));
    if (pieces == nullptr) {
      const bool deferred = f->sweep != nullptr && f->sweep->defer != nullptr && f->sweep->defer(f->sweep, p);
      st = deferred ? 0 : PlainActivate(p);
    } else {
      st = Bucket(s, f, pieces, line, true);
    }
    if (s->sticky != nullptr && (*s->sticky & kStickyNoMemory) != 0) st |= VO_STATUS_NO_MEMORY;
    // The sweep of a render on the work farm counts the polls; the calling
    // thread makes them later, in line order, as each line goes out.
    if (st == 0 && f->sweep != nullptr)
      ++f->sweep->polls;
    else if (st == 0 && (Poll() != 0 || Interrupted(s)))
      st = VO_COND_INTERRUPTED;
  }
  if (st == 0) st = LaterSetUpLine(f, line);
  *s->g_xi = xi;
  *s->g_yi = yi;
  return st;
}

namespace {

// Every bucket given back: scan polygons first (through the class's
// release), then the primitive nodes, then the last-line lists (which
// destroy the temporary primitives the others still named).
void BucketsRelease(RenderFrame *f) {
  if (f->polygon_buckets != nullptr) {
    for (int32_t i = 0; i <= f->height; ++i)
      for (ScanPolygon *q = f->polygon_buckets[i]; q != nullptr;) {
        ScanPolygon *next = q->next;
        f->cls->polygon_release(q);
        (void)VoPoolFree(f->cls->polygon_pool, q);
        q = next;
      }
  }
  if (f->primitive_buckets != nullptr)
    for (int32_t i = 0; i <= f->height; ++i) (void)VoPrimitiveReferenceDestroy(f->primitive_buckets[i], 0);
  if (f->last_buckets != nullptr)
    for (int32_t i = 0; i <= f->height; ++i) (void)VoPrimitiveReferenceListDestroy(f->last_buckets[i]);
  LaterSetUpsFree(f);
  VoDeallocate(f->polygon_buckets);
  VoDeallocate(f->primitive_buckets);
  VoDeallocate(f->last_buckets);
  f->polygon_buckets = nullptr;
  f->primitive_buckets = f->last_buckets = nullptr;
}

template <class T>
T *ZeroedArray(size_t count) {
  if (count == 0 || count > UINT32_MAX / sizeof(T)) return nullptr;
  void *p = VoAllocate(static_cast<uint32_t>(count * sizeof(T)));
  if (p != nullptr) std::memset(p, 0, count * sizeof(T));
  return static_cast<T *>(p);
}

// The class's line-buffer word: the class's own, or the frame's.
void **LineWord(RenderFrame *f, void **own) {
  return f->cls->line_buffer != nullptr ? f->cls->line_buffer : own;
}

VtStatus ScanStorageMake(RenderFrame *f) {
  const size_t entries = static_cast<size_t>(f->height) + 1;
  f->primitive_buckets = ZeroedArray<VtReference *>(entries);
  f->last_buckets = ZeroedArray<VtReference *>(entries);
  f->polygon_buckets = ZeroedArray<ScanPolygon *>(entries);
  if (f->cls->setup_at_first_line != 0) f->later_buckets = ZeroedArray<LaterSetUp *>(entries);
  f->line_bytes = static_cast<size_t>(f->xres) * f->bytes_per_pixel;
  f->line = ZeroedArray<uint8_t>(f->line_bytes);
  *f->line_word = f->line;
  const bool made = f->primitive_buckets != nullptr && f->last_buckets != nullptr &&
                    f->polygon_buckets != nullptr && f->line != nullptr &&
                    (f->cls->setup_at_first_line == 0 || f->later_buckets != nullptr);
  return made ? 0 : VO_STATUS_NO_MEMORY;
}

void LineBufferFree(RenderFrame *f) {
  VoDeallocate(*f->line_word);
  *f->line_word = f->line_saved;
  f->line = nullptr;
}

// The view copy of an oversampled render, made current; the application's
// view is current again when it cannot be made.
VtStatus ViewEnlarge(VtStandardRendererContext *s, RenderFrame *f) {
  f->saved_view = VoViewGet();
  VtStatus st = VoViewEvaluate(nullptr);
  uint32_t x = 0, y = 0;
  double aspect = 1.0;
  st |= VoViewGetResolution(nullptr, &x, &y, &aspect);
  if (st != 0 || s->viewport == nullptr) return st != 0 ? st : VO_STATUS_UNAVAILABLE;
  const uint64_t n = f->factor;
  const int32_t *v = s->viewport;
  f->final_width = x;
  f->view_copy = VoViewCopy(f->saved_view);
  if (f->view_copy == nullptr) return VO_STATUS_NO_MEMORY;
  if (n * x > INT32_MAX / 256 || n * y > INT32_MAX / 256) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kRendererViewTooLarge, VO_MODULE_STANDARD_RENDERER, x, y);
    st = VO_STATUS_BAD_ARGUMENT;
  }
  const uint32_t viewport[4] = {static_cast<uint32_t>(n * v[0]), static_cast<uint32_t>(n * (v[1] + 1) - 1),
                                static_cast<uint32_t>(n * v[2]), static_cast<uint32_t>(n * (v[3] + 1) - 1)};
  if (st == 0)
    st =
        VoViewSetResolution(f->view_copy, static_cast<uint32_t>(n * x), static_cast<uint32_t>(n * y), aspect);
  if (st == 0) st = VoViewSetViewport(f->view_copy, viewport);
  if (st == 0) st = VoViewSet(f->view_copy);
  return st;
}

void ViewRestore(RenderFrame *f) {
  if (f->view_copy == nullptr) return;
  (void)VoViewSet(f->saved_view);
  (void)VoViewDestroy(f->view_copy);
  f->view_copy = nullptr;
}

// Frame values from the evaluated view; 0x20000012 when its sizes do not
// fit 24.8 fixed point.
VtStatus ViewTake(VtStandardRendererContext *s, RenderFrame *f) {
  if (s->resolution == nullptr || s->viewport == nullptr || s->projection_kind == nullptr ||
      s->inverse == nullptr)
    return VO_STATUS_UNAVAILABLE;
  f->xres = s->resolution[0];
  f->yres = s->resolution[1];
  f->xmin = s->viewport[0];
  f->ymin = s->viewport[2];
  f->width = s->viewport[1] - s->viewport[0] + 1;
  f->height = s->viewport[3] - s->viewport[2] + 1;
  if (f->xres <= 0 || f->yres <= 0 || f->width <= 0 || f->height <= 0 || f->xres > INT32_MAX / 256 ||
      f->yres > INT32_MAX / 256) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kRendererViewTooLarge, VO_MODULE_STANDARD_RENDERER,
         static_cast<uint32_t>(f->xres), static_cast<uint32_t>(f->yres));
    return VO_STATUS_BAD_ARGUMENT;
  }
  f->line_step = 1.0f / static_cast<float>(f->yres);
  f->first_y = (static_cast<float>(f->ymin) + 0.5f) * f->line_step;
  f->perspective = *s->projection_kind == VO_PROJECTION_PERSPECTIVE;
  f->clip[0] = f->xmin * 256 + 1;
  f->clip[1] = static_cast<int32_t>((int64_t{f->xmin} + f->width) * 256 - 1);
  f->clip[2] = f->ymin * 256 + 1;
  f->clip[3] = static_cast<int32_t>((int64_t{f->ymin} + f->height) * 256 - 1);
  return 0;
}

void BackgroundEvaluate(VtStandardRendererContext *s, RenderFrame *f) {
  float *cb = s->g_Cb;
  cb[0] = cb[1] = cb[2] = 0.0f;
  std::memset(f->background_bytes, 0, 3);
  VtShader *background = VoBackgroundGet();
  VtTypedValue entry{};
  if (background == nullptr || VoShaderGetEntry(background, VO_SLOT_EVALUATE, &entry) != 0 ||
      entry.value.fn == nullptr)
    return;
  *s->g_xi = *s->g_yi = *s->g_xp = *s->g_yp = 0.0f;
  const float *d = s->direction;
  const double length = std::sqrt(double{d[0]} * d[0] + double{d[1]} * d[1] + double{d[2]} * d[2]);
  for (int i = 0; i < 3; ++i) {
    s->g_E[i] = s->eye[i];
    s->g_unitI[i] = length > 0 ? static_cast<float>(d[i] / length) : d[i];
  }
  *s->g_prim = nullptr;
  *s->g_poly = nullptr;
  (void)VoShaderExecute(background);
  for (int i = 0; i < 3; ++i) f->background_bytes[i] = Quantise(cb[i]);
}

VtStatus Lines(VtStandardRendererContext *s, RenderFrame *f) {
  VtRenderClass *cls = f->cls;
  uint32_t countdown = cls->first_poll;
  *s->g_yi = f->first_y;
  double percentage = 0.0;
  const double step = 100.0 / f->height;
  (void)cls->progress(0.0);
  VtStatus st = 0;
  for (int32_t i = 0; i < f->height && st == 0; ++i) {
    if (countdown == 0) {
      if (Poll() != 0 || Interrupted(s)) return VO_COND_INTERRUPTED;
      countdown = cls->poll_reload;
    } else {
      --countdown;
    }
    const int32_t y = i + f->ymin;
    *s->g_yp = static_cast<float>(y);
    st = ActivateLine(s, f, i);
    if (st == 0) st = cls->line_activate(i, &f->polygon_buckets[i]);
    if (st == 0) {
      st = cls->line_scan(y);
      // A class that polls within a line and is interrupted leaves the
      // line unfinished: it is not written.
      if ((st & VO_COND_INTERRUPTED) == 0) st |= f->writer(static_cast<uint32_t>(y), *f->line_word);
    }
    if (f->primitives_ending != nullptr && f->last_buckets[i] != nullptr)
      f->primitives_ending(f->last_buckets[i]);
    (void)VoPrimitiveReferenceListDestroy(f->last_buckets[i]);
    f->last_buckets[i] = nullptr;
    *s->g_yi += f->line_step;
    percentage += step;
    (void)cls->progress(percentage);
  }
  return st;
}

// Begins the driver's frame and chooses the writer; the frame is ended
// again when the accumulator cannot be made.
VtStatus OutputBegin(VtStandardRendererContext *s, RenderFrame *f) {
  switch (f->pixel_mode) {
    case kModeFloats:
    case kModeFloatsClamped: f->driver_row = s->row_floats; break;
    case kModeRgbaClamped:
    case kModeRgba: f->driver_row = s->row_rgba; break;
    default: f->driver_row = s->row_bytes; break;
  }
  if (f->line_output != nullptr) {
    f->writer = f->line_output;
    return 0;
  }
  if (s->accept != nullptr) (void)s->accept(VO_DRIVER_OUTPUT_RASTER);
  const uint32_t n = f->factor;
  const int32_t *v = s->viewport;
  if (s->begin_frame != nullptr) {
    const VtStatus st = s->begin_frame(static_cast<int32_t>(static_cast<uint32_t>(v[0]) / n),
                                       static_cast<int32_t>(static_cast<uint32_t>(v[1]) / n),
                                       static_cast<int32_t>(static_cast<uint32_t>(v[2]) / n),
                                       static_cast<int32_t>(static_cast<uint32_t>(v[3]) / n));
    if (st != 0) return st;
  }
  if (n < 2) {
    f->writer = f->driver_row;
    return 0;
  }
  f->writer = AveragingWriter();
  const size_t components = f->pixel_mode == kModeRgba || f->pixel_mode == kModeRgbaClamped ? 4 : 3;
  f->accumulator = f->pixel_mode == kModeBytes
                       ? static_cast<void *>(ZeroedArray<uint16_t>(size_t{f->final_width} * components))
                       : static_cast<void *>(ZeroedArray<float>(size_t{f->final_width} * components));
  if (f->accumulator != nullptr) return 0;
  if (s->end_frame != nullptr) (void)s->end_frame();
  return VO_STATUS_NO_MEMORY;
}

// Steps 6 to 12 of a render: storage, begin, shading, buckets, the lines,
// and everything given back on every path.
VtStatus Scan(VtStandardRendererContext *s, RenderFrame *f) {
  VtStatus st = ViewTake(s, f);
  if (st != 0) return st;
  f->contents = f->cls->normals != 0 ? s->with_normals : s->without_normals;
  st = ScanStorageMake(f);
  bool begun = false, shading = false;
  if (st == 0) {
    begun = true;
    st = f->cls->begin();
  }
  if (st == 0) {
    st = VoShadingInitialiseImage(f->cls->kind);
    shading = st == 0;
  }
  f->centres_only = st == 0 && CentresOnly(s, f);
  if (st == 0) st = Bucket(s, f, SceneListRendered(), 0, false);
  if (st == 0) {
    BackgroundEvaluate(s, f);
    st = FarmWanted(s, f) ? LinesOnFarm(s, f, &Lines) : Lines(s, f);
  }
  if (begun) st |= f->cls->end();
  BucketsRelease(f);
  PointBlocksFree(f);
  VoDeallocate(f->scratch);
  f->scratch = nullptr;
  LineBufferFree(f);
  if (shading) st |= VoShadingTerminateImage();
  return st;
}

// The memory tidy of a frame's end, but the pools the next frame will
// carve the same records from again keep their chunks: the class's scan
// polygons and edges, and the elements of the pieces activation makes in
// the frame's contents; so do the farm's spare store blocks. The
// application's own tidy gives them back.
VtStatus FrameTidy(const RenderFrame *f) {
  VtPool *kept[2 + 3] = {f->cls->polygon_pool, f->cls->edge_pool};
  size_t count = 2;
  if (f->contents != nullptr)
    for (uint32_t kind : {VO_ELEMENT_PRIMITIVE, VO_ELEMENT_POLYGON, VO_ELEMENT_VERTEX}) {
      const VtContentsKindTable *t = KindTable(f->contents, kind);
      if (t != nullptr && t->pool != nullptr) kept[count++] = t->pool;
    }
  VtStandardRendererContext *s = State();
  const uint32_t keeping = s->keep_spares;
  s->keep_spares = 1;
  const VtStatus st = MemoryTidyKeeping(kept, count);
  s->keep_spares = keeping;
  return st;
}

VtStatus RenderFramed(VtStandardRendererContext *s, RenderFrame *f) {
  VtStatus st = 0;
  if (f->factor > 1) st = ViewEnlarge(s, f);
  if (st == 0) st = VoViewEvaluate(nullptr);
  if (st != 0) {
    ViewRestore(f);
    return st;
  }
  WritersChoose(s);
  f->pixel = s->pixel;
  f->background = s->background;
  st = OutputBegin(s, f);
  if (st != 0) {
    ViewRestore(f);
    return st;
  }
  st = Scan(s, f);
  ViewRestore(f);
  VoDeallocate(f->accumulator);
  f->accumulator = nullptr;
  if (f->line_output == nullptr && s->end_frame != nullptr) st |= s->end_frame();
  st |= VoPrimitiveReferenceDestroy(f->temporaries, 1);
  f->temporaries = nullptr;
  return st | FrameTidy(f);
}

}  // namespace

VtStatus Poll() {
  VtStandardRendererContext *s = State();
  if (s->poll == nullptr || InCallerView(s, s->poll) == 0) return 0;
  if (s->sticky != nullptr) *s->sticky |= VO_COND_INTERRUPTED;
  return VO_COND_INTERRUPTED;
}

VtStatus PlainPrimitiveActivate(VtPrimitive *primitive) { return PlainActivate(primitive); }

VtStatus LineBufferReplace(size_t bytes) {
  RenderFrame *f = Frame();
  if (f == nullptr || bytes == 0 || bytes > UINT32_MAX) return VO_STATUS_BAD_ARGUMENT;
  auto *line = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (line == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(line, 0, bytes);
  VoDeallocate(*f->line_word);
  *f->line_word = line;
  f->line = line;
  f->line_bytes = bytes;
  return 0;
}

VtStatus Render(VtRenderClass *cls) {
  VtStandardRendererContext *s = State();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (cls == nullptr) return VO_STATUS_BAD_ARGUMENT;
  // A render started inside an image (from its shader or callback) shares
  // that image's shadow maps and ray-tracer preparation: of another
  // primitive list, its shadows and reflections would be the outer scene's.
  if (shader::ImageTracesAnotherList()) {
    const uint32_t module = s->execute_code >> 16;
    Post(VO_STATUS_BAD_ARGUMENT, messages::kRayOtherSceneInside, module, s->execute_code);
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (const VtStatus refused = shader::ImageBeginRefuse()) return refused;
  // A render inside another's scan would overwrite what the outer one has
  // projected and clipped.
  ScreenKept kept{};
  if (const VtStatus st = ScreenKeep(s->frame, &kept)) return st;
  const ScreenHold held(s->execute_code);
  RenderFrame f{};
  void *own_word = nullptr;
  f.outer = s->frame;
  f.cls = cls;
  f.execute_code = s->execute_code;
  f.pixel_mode = BytesPerPixel(s->pixel_mode) != 0 ? s->pixel_mode : kModeBytes;
  f.bytes_per_pixel = BytesPerPixel(f.pixel_mode);
  f.line_output = s->line_output;
  f.factor = f.line_output != nullptr ? 1 : std::max<uint32_t>(1, s->oversampling);
  f.line_word = LineWord(&f, &own_word);
  f.line_saved = *f.line_word;
  *f.line_word = nullptr;
  s->frame = &f;
  VtStatus st;
  {
    // The render draws a copy of the view current as it starts: a view its
    // callbacks change is the next render's.
    const view::ViewKept kept;
    st = kept.ok() ? RenderFramed(s, &f) : VO_STATUS_NO_MEMORY;
  }
  if (*f.line_word != f.line_saved) {
    VoDeallocate(*f.line_word);
    *f.line_word = f.line_saved;
  }
  s->frame = f.outer;
  ScreenGiveBack(&kept);
  return st;
}

}  // namespace vo::renstd

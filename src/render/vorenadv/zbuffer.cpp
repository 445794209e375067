// The z-buffer class: visibility resolved along each scanline between edge
// crossings, visible runs shaded at perspective-correct interpolated
// vertices, gaps given the background pixel by pixel; or, for a depth
// render, one float per pixel (squared distance from the eye in a
// perspective view, distance beyond the hither plane in a parallel one).
//
// Invariants a reader must know:
// - an entering edge's first pixel is the first whose centre lies strictly
//   right of it and a leaving edge's last pixel the last whose centre lies
//   on or left of it, so a centre on a shared edge goes to the polygon on
//   its left;
// - the line's nearest polygon is kept per pixel and replaced only by a
//   strictly nearer one: where depths are equal the polygon that became
//   active first stays;
// - nothing here allocates per pixel: the rows of the line are made at
//   begin, the scratch vertices at their first use, kept for the next
//   polygon of their primitive when their own is given back.

#include <cmath>
#include <cstring>

#include "render/vorenadv/advanced.h"

namespace vo::renadv {

namespace {

using namespace renstd;

// What one z-buffer render holds, behind the frame's class-state pointer.
struct ZBufferRender {
  RenderCommon common;
  // The left edge of the line's nearest polygon by pixel of the viewport
  // (null where none): its polygon is the edge's, its right edge the next
  // on the polygon's active list.
  ScanEdge **left;
};

ZBufferRender *RenderOf(const RenderFrame *f) { return static_cast<ZBufferRender *>(f->class_state); }

// The edges' points at the line's centre.
bool EdgesAtCentre(const RenderFrame *f, ScanPolygon *q, ScanEdge *l, ScanEdge *r) {
  return EdgePointAt(f, q, l, l->y / 256.0) && EdgePointAt(f, q, r, r->y / 256.0);
}

void ColourSpan(ScanPolygon *q, ScanEdge *l, ScanEdge *r, int32_t xs, int32_t xe) {
  VtStandardRendererContext *s = renstd::State();
  RenderFrame *f = s->frame;
  const RenderCommon *c = CommonOf(f);
  const float *To = State()->g_To;
  (void)VoShadingInitialisePolygon(q->primitive, q->polygon);
  if (!EdgesAtCentre(f, q, l, r)) return;
  SpanEnds ends;
  if (!SpanEndsTake(f, q, l, r, &ends)) return;
  uint8_t *d = PixelAt(f, xs);
  // In a perspective view the point's shading takes the incident vector
  // from the eye to the point, so the pixel's own is not worked out.
  const bool perspective = f->perspective;
  float window[3];
  for (int32_t x = xs; x <= xe; ++x) {
    if (perspective)
      PixelPosition(s, f, x);
    else
      Incident(s, f, c, x, window);
    SpanPointAtColumn(q, ends, x + 0.5);
    PointShade(q->primitive, q->scratch, x + 0.5, l->y / 256.0);
    if (To != nullptr) *s->g_alpha *= 1.0f - std::fmax(To[0], std::fmax(To[1], To[2]));
    d = f->pixel(d, s->g_Co);
  }
}

void DepthSpan(ScanPolygon *q, ScanEdge *l, ScanEdge *r, int32_t xs, int32_t xe) {
  VtStandardRendererContext *s = renstd::State();
  RenderFrame *f = s->frame;
  const RenderCommon *z = CommonOf(f);
  const int32_t world = PropertyOffset(q->primitive->contents, VO_VERT_WORLD);
  auto *row = reinterpret_cast<float *>(f->line);
  SpanEnds ends;
  if (world < 0 || !EdgesAtCentre(f, q, l, r) || !SpanEndsTake(f, q, l, r, &ends)) return;
  float window[3];
  for (int32_t x = xs; x <= xe; ++x) {
    Incident(s, f, z, x, window);
    SpanPointAtColumn(q, ends, x + 0.5);
    const float *P = ElementField<float>(q->scratch, world);
    const float *from = f->perspective ? s->eye : window;
    const float d[3] = {P[0] - from[0], P[1] - from[1], P[2] - from[2]};
    row[x - f->xmin] =
        f->perspective ? d[0] * d[0] + d[1] * d[1] + d[2] * d[2]
                       : d[0] * z->direction[0] + d[1] * z->direction[1] + d[2] * z->direction[2] - z->hither;
  }
}

// Every span of the line put in the per-pixel rows where it is strictly
// nearer than what is there.
void SpansResolve(RenderFrame *f, ZBufferRender *z) {
  int32_t *depth = f->depth;
  const int32_t first = f->xmin, last = f->xmin + f->width - 1;
  for (ScanPolygon *q = f->active_first; q != nullptr; q = q->next)
    for (ScanEdge *l = q->active_first; l != nullptr && l->next != nullptr; l = l->next->next) {
      ScanEdge *r = l->next;
      int32_t xs = l->x / 256 + (l->x % 256 >= 128 ? 1 : 0);
      int32_t xe = r->x / 256 - (r->x % 256 < 128 ? 1 : 0);
      l->bound = xs;
      r->bound = xe;
      if (xs < first) xs = first;
      if (xe > last) xe = last;
      if (xs > xe) continue;
      // The depth at x is the edge's depth plus (256 x + 128 - l->x) dz / 256
      // rounded toward zero. While that offset is positive the product keeps
      // one sign, so the quotient grows by exactly dz per pixel.
      const int64_t offset = int64_t{256} * xs + 128 - l->x;
      const bool stepped = offset > 0;
      int64_t along = int64_t{l->depth} + (stepped ? offset * q->depth_dx / 256 : 0);
      for (int32_t x = xs; x <= xe; ++x, along += q->depth_dx) {
        const int32_t i = x - first;
        const int32_t d = DepthSaturate(
            stepped ? along : int64_t{l->depth} + (int64_t{256} * x + 128 - l->x) * q->depth_dx / 256);
        if (z->left[i] != nullptr && d >= depth[i]) continue;
        depth[i] = d;
        z->left[i] = l;
      }
    }
}

VtStatus ZLineScan(int32_t) {
  RenderFrame *f = Frame();
  ZBufferRender *z = RenderOf(f);
  if (z == nullptr) return VO_STATUS_UNAVAILABLE;
  const size_t width = static_cast<size_t>(f->width);
  std::memset(static_cast<void *>(z->left), 0, width * sizeof *z->left);
  SpansResolve(f, z);
  const int32_t first = f->xmin;
  ScanEdge *const *left = z->left;
  for (size_t i = 0; i < width;) {
    const size_t start = i;
    ScanEdge *l = left[i];
    while (i < width && left[i] == l) ++i;
    const int32_t x0 = first + static_cast<int32_t>(start), x1 = first + static_cast<int32_t>(i) - 1;
    if (l == nullptr) {
      BackgroundSpan(f, x0, x1);
    } else {
      ScanPolygon *q = l->polygon;
      q->left = l;
      q->right = l->next;
      f->span(q, l, q->right, x0, x1);
    }
  }
  ActiveAdvance(f);
  return z->common.out_of_memory ? VO_STATUS_NO_MEMORY : 0;
}

VtStatus ZBegin() {
  RenderFrame *f = Frame();
  VtStatus st = BeginCommon();
  if (st != 0) return st;
  const size_t width = static_cast<size_t>(f->width);
  const size_t bytes = sizeof(ZBufferRender) + width * sizeof(void *);
  auto *z = static_cast<ZBufferRender *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (z == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(z), 0, bytes);
  f->class_state = z;
  z->left = reinterpret_cast<ScanEdge **>(z + 1);
  CommonTake(&z->common, f->execute_code, VO_SLOT_EVALUATE);
  ScratchSparesBegin(f);
  if (z->common.code == kExecuteDepth) {
    f->span = &DepthSpan;
    return LineBufferReplace(width * sizeof(float));
  }
  f->span = &ColourSpan;
  return 0;
}

VtStatus ZEnd() {
  RenderFrame *f = Frame();
  const VtStatus st = ScanEnd();
  ScratchSparesEnd(f);
  VoDeallocate(f->class_state);
  f->class_state = nullptr;
  return st;
}

// The class in the running thread's context: a worker's own copy.
VtRenderClass *ZClassOfContext() {
  const VtAdvancedRendererContext *a = State();
  return a != nullptr ? a->z_class : nullptr;
}

}  // namespace

void ZBufferConfigure(VtRenderClass *c) {
  c->polygon_initialise = &ScratchMake;
  c->polygon_release = &ScratchFree;
  c->edge_insert = &EdgeInsert;
  c->line_activate = &LineActivate;
  c->line_scan = &ZLineScan;
  c->begin = &ZBegin;
  c->end = &ZEnd;
  c->progress = &AdvancedProgress;
  c->skip_flat_edges = 1;
  c->centre_sampled = 1;
  c->advanced = 1;
  c->kind = 2;
  // Each band's scratch vertices are its own: its renders may be scanned in
  // bands on the work farm.
  c->farm_configure = &ZBufferConfigure;
  c->farm_class = &ZClassOfContext;
}

}  // namespace vo::renadv

// The A-buffer class: every polygon that touches a pixel where edges cross
// it becomes a fragment with an 8 x 4 coverage mask and a depth range over
// the pixel; the fragments of a pixel, in depth order with the background
// behind them, are composited into its colour. Between such pixels, runs
// under one polygon are shaded at the pixel centres and runs under several
// are composited pixel by pixel. Shaders run in image mode (entry slot 3).
//
// Invariants a reader must know:
// - an edge lives on every scanline band its segment touches (its first
//   line is its upper end's line, its current y the band's top), and each
//   line cuts it into pieces by pixel column; a polygon's mask at a pixel is
//   the exclusive or of its pieces' masks closed along the pixel's left
//   side, where the rows inside are the parity of the rows its pieces left
//   of the pixel crossed;
// - a pixel with no piece keeps every polygon's rows as they were, so a run
//   between edge pixels is under a fixed set of polygons;
// - pieces that neither cover a sample nor cross a row (a flat edge has one
//   per column) are held as runs of columns: at each column the polygons
//   they touch are touched with those of the other pieces, in the active
//   order, so a line holds pieces for the columns edges cross, not for
//   every column under a stack of flat edges;
// - the line's active polygons are records of one array by the active
//   order, made afresh as each line gathers its pieces; pieces, zero runs
//   and the cover list name them by order, and nothing keeps one past its
//   line (what outlives a line, the depth reference and the pieces of the
//   services, is the scan polygon's);
// - depth ranges are computed in 64 bits and saturated to 0..2^31 - 1,
//   from a polygon's reference point, taken on the first line it is
//   scanned on (by a band of the work farm on the lines above it too);
// - fragments of one plane whose masks nest sit together, the earlier in
//   the active order in front (as the z-buffer keeps the first active); an
//   opaque one takes the other in, which then is never shaded. A run under
//   several polygons leaves out those an opaque whole-pixel one lies wholly
//   in front of at both ends, so the one left is shaded without fragments;
// - compositing branches that blend two interpenetrating fragments both
//   ways are bounded per pixel; past the bound the rest composite front to
//   back, so the work stays linear in the fragments; it runs on a stack of
//   frames the render keeps as long as its fragment list, never on the
//   thread's stack, however many fragments a pixel holds;
// - a pixel's fragments are ordered once, by sorting, into the order their
//   insertion one by one would give (FragmentsOrder), so the work of a pixel
//   grows as its fragments sorted;
// - the row and pixel pieces made for the services are given back: the row
//   piece with its polygon, the pixel piece before the next one and at the
//   end of the render.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>

#include "render/vorenadv/advanced.h"

namespace vo::renadv {

namespace {

using namespace renstd;

constexpr int kMostCrossings = 16;
constexpr int kMostBranches = 4;
// Opaque polygons a run's polygon is tried against in the active order
// before those of its plane are looked up by depth (RunSift).
constexpr size_t kMergeTries = 8;
constexpr size_t kFirstPieces = 256;
constexpr size_t kFirstFragments = 32;
constexpr int32_t kNotTouched = INT32_MIN;
// Depth units two polygons of one plane may disagree by at a pixel: each
// range comes from its own polygon's rounded reference point.
constexpr int64_t kPlaneSlack = 256;

// A scan polygon of the class; the loop sees the ScanPolygon at its head.
// What the line's gathering reads of it every line comes first after it.
struct AScan {
  ScanPolygon scan;
  bool has_reference;
  // The edges' points at row pair_sy, kept while the polygon has only the
  // one pair of edges there (valid for every column of line pair_line, so
  // that a new line need not write the record).
  bool pair_ready;
  bool opaque;
  int32_t depth_dx, depth_dy;  // the scan polygon's, copied as it is made
  // The first two active edges when the last line was gathered: asked for
  // ahead of the gathering (they may have been given back since; they are
  // only asked for, never read through these words).
  const ScanEdge *edges_seen[2];
  int64_t ref_x, ref_y, ref_z;
  int32_t pair_line;
  double pair_sy;
  ScanEdge *pair_left, *pair_right;
  VtPolygon *row_piece;
  float row_yp;
};

AScan *AOf(ScanPolygon *q) { return reinterpret_cast<AScan *>(q); }

// An active polygon on the line being scanned: one of an array by the
// active order, made afresh each line, so the walks of the line over its
// polygons (the cover list at every edge pixel and run) read one compact
// record each, contiguous, and not the scan polygons and their edges: one
// cache line, with what a fragment's shading and compositing keep beside it
// in an array of their own. The background fragment has no scan polygon's
// primitive, and its order is kBackgroundOrder.
struct APolygon {
  // The depth at the reference point's column on this line.
  int64_t base_z;
  uint32_t cover_previous, cover_next;  // orders; kNoPolygon at the ends
  uint32_t order;                       // place in the line's active list
  uint32_t state;                       // sample rows inside at the current pixel's left side
  uint32_t mask;                        // coverage of the pixel being resolved
  int32_t touched;                      // the last pixel its pieces touched
  int32_t zmin, zmax;
  int32_t depth_dx, depth_dy;
  int32_t ref_x;
  bool covering;  // some row inside: on the cover list
  bool opaque;
  bool shaded;
  bool hidden;  // left out of the current run
  AScan *q;
};
constexpr size_t kCacheLine = 64;
static_assert(sizeof(APolygon) == kCacheLine);
constexpr uint32_t kNoPolygon = UINT32_MAX, kBackgroundOrder = UINT32_MAX - 1;

// A fragment's sample point and what its shading left.
struct AShade {
  SamplePoint sample;
  float Cf[3], T[3], A, a;
};

struct Piece {
  int32_t column;
  uint32_t order;  // the polygon's
  uint32_t mask, rows;
};

// Columns first..last where a polygon's pieces neither cover a sample nor
// cross a row (those of a flat edge): they only make it touched there.
struct ZeroRun {
  int32_t first, last;
  uint32_t order;  // the polygon's
};

// A covering polygon's depth ranges at the two ends of a run.
struct RunEnds {
  APolygon *a;
  int32_t zmin[2], zmax[2];
};

struct Link {
  APolygon *fragment;
  const Link *next;
};

struct CompositeFrame;
// A sort key beside the index it orders, so that the sorts read one
// compact array and not the fragments' records.
struct Keyed {
  uint64_t key;
  uint32_t index, unused;
  bool operator<(const Keyed &o) const { return key < o.key || (key == o.key && index < o.index); }
};

struct OrderScratch {
  Keyed *keyed;      // the block's start
  Keyed *spare;      // as long, for the sorting
  uint32_t *g;       // insertion indices by G
  uint32_t *g_at;    // G place of insertion index i
  uint32_t *tree;    // Fenwick counts of present G places, 1-based
  uint8_t *present;  // by G place
};

struct ABufferRender {
  RenderCommon common;
  bool full_samples;  // control 0x200005
  bool out_of_memory;
  int32_t y;
  int branches;
  uint64_t edge_pixels, edge_fragments;
  uint64_t merged;   // fragments merged or left out of runs
  uint32_t work;     // units of work on the line since its last poll
  bool interrupted;  // a poll within a line answered an interrupt
  Piece *pieces;
  size_t piece_count, piece_capacity;
  // The pieces' sorting: a second array as large and a count per column of
  // the viewport (one more for all left of it, one for the total).
  Piece *sorted;
  size_t sorted_capacity;
  uint32_t *columns;
  // The line's zero runs by first column (then order), and those over the
  // column being resolved by order (with a second array to merge into).
  ZeroRun *runs, *runs_over, *runs_merged;
  size_t run_count, run_capacity, runs_over_count;
  int32_t view_first, view_last;
  // The pixel's fragments; the polygons its pieces touch; a third list as
  // long for ordering the fragments.
  APolygon **fragments, **touched, **pending;
  OrderScratch order;  // FragmentsOrder's, as long as the fragment list
  Link *chain;
  CompositeFrame *frames;  // the compositing's stack, CompositeDepthMost(fragment_capacity)
  RunEnds *ends;
  size_t fragment_capacity;
  // The line's active polygons by order (aligned to a cache line), and the
  // memory they sit in.
  APolygon *active;
  void *active_block;
  size_t active_capacity;
  AShade *shades;  // by the same order
  // The scan polygons by the same order, and how many were gathered: the
  // stepping at the end of the line asks for them ahead.
  ScanPolygon **listed;
  size_t listed_count;
  APolygon background;
  AScan background_scan;  // no primitive
  AShade background_shade;
  uint32_t cover_first;  // order, or kNoPolygon
  AScan *current;        // of the services
  // The incident vector of the pixel being composited, worked out for its
  // first fragment and handed to the others.
  int32_t incident_x;
  float incident_xi, incident_unitI[3], incident_E[3];
  VtPolygon *pixel_piece, *pixel_piece_source;
  VtPrimitive *pixel_piece_primitive;
  // A band's active polygons that had no active edge when activated, so
  // no depth reference yet: the lines it steps over take theirs, and no
  // other's (ReferencesTake).
  AScan **waiting;
  size_t waiting_count, waiting_capacity;
};

ABufferRender *RenderOf(const RenderFrame *f) {
  return f != nullptr ? static_cast<ABufferRender *>(f->class_state) : nullptr;
}

// The shading words of fragment a.
AShade &ShadeOf(ABufferRender *r, const APolygon *a) {
  return a->order == kBackgroundOrder ? r->background_shade : r->shades[a->order];
}

// The polygon of the cover list at order i, or null at its end.
APolygon *Cover(ABufferRender *r, uint32_t i) { return i == kNoPolygon ? nullptr : &r->active[i]; }

// The A-buffer render the innermost running frame belongs to, or null.
ABufferRender *Running() {
  const VtStandardRendererContext *s = renstd::State();
  const VtAdvancedRendererContext *adv = State();
  if (s == nullptr || adv == nullptr || s->frame == nullptr || s->frame->cls != adv->a_class) return nullptr;
  return RenderOf(s->frame);
}

// ---- Polls within a line ------------------------------------------------------------

// Counts units of work and, on the calling thread, polls the interrupt
// once kABufferPollWork have been done on the line; false once the render is
// interrupted. A band on the work farm does not poll: the calling thread
// polls as the band's rows go out.
bool WorkDone(ABufferRender *r, uint32_t units) {
  if (r->interrupted) return false;
  r->work += units;
  if (r->work < kABufferPollWork || r->common.loose) return true;
  r->work = 0;
  // A render the poll starts may leave its own values in the globals.
  VtStandardRendererContext *s = renstd::State();
  const float xi = *s->g_xi, yi = *s->g_yi, xp = *s->g_xp, yp = *s->g_yp;
  r->interrupted = renstd::Poll() != 0;
  *s->g_xi = xi, *s->g_yi = yi, *s->g_xp = xp, *s->g_yp = yp;
  r->incident_x = kNotTouched;
  return !r->interrupted;
}

// ---- Pieces of the services --------------------------------------------------------

// Bands on the work farm clip and discard one at a time: a clip makes and
// destroys polygons and vertices in the primitive's element pools (which
// one thread takes from) and marks the source's boundary vertices, which
// another band's clip of the same polygon marks too.
std::mutex g_band_clips;

std::unique_lock<std::mutex> BandClipsLock(const ABufferRender *r) {
  return r != nullptr && r->common.loose ? std::unique_lock<std::mutex>(g_band_clips)
                                         : std::unique_lock<std::mutex>();
}

void PixelPieceRelease(ABufferRender *r) {
  const VtAdvancedRendererContext *adv = State();
  const auto lock = BandClipsLock(r);
  if (r->pixel_piece != nullptr && adv->clip_discard != nullptr)
    (void)adv->clip_discard(r->pixel_piece_primitive, r->pixel_piece, r->pixel_piece_source);
  r->pixel_piece = r->pixel_piece_source = nullptr;
  r->pixel_piece_primitive = nullptr;
}

void RowPieceRelease(ABufferRender *r, AScan *a) {
  if (a->row_piece == nullptr) return;
  if (r != nullptr && r->pixel_piece_source == a->row_piece) PixelPieceRelease(r);
  const VtAdvancedRendererContext *adv = State();
  const auto lock = BandClipsLock(r);
  if (adv->clip_discard != nullptr) (void)adv->clip_discard(a->scan.primitive, a->row_piece, a->scan.polygon);
  a->row_piece = nullptr;
}

VtPolygon *Clip(const ABufferRender *r, VtPrimitive *p, VtPolygon *source, uint32_t low_side, float low,
                float high) {
  const uint32_t sides[2] = {low_side, low_side + 1};
  const float fractions[2] = {low, high};
  const auto lock = BandClipsLock(r);
  return State()->clip_sides(p, source, sides, fractions, 2);
}

// ---- Polygon methods ---------------------------------------------------------------

// Opaque unless the material's transparency has an image-mode entry other
// than the one of the class "none".
bool OpaqueOf(VtPrimitive *p) {
  VtMaterial *m = VoPrimitiveGetMaterial(p);
  VtShader *t = m != nullptr ? VoMaterialGetShader(m, VO_SHADER_TRANSPARENCY) : nullptr;
  VtTypedValue entry{};
  if (t == nullptr || VoShaderGetEntry(t, VO_SLOT_EVALUATE_IMAGE, &entry) != 0 || entry.value.fn == nullptr)
    return true;
  return entry.value.fn == State()->none_image_entry;
}

void APolygonInitialise(ScanPolygon *q) {
  ScratchMake(q);
  AScan *a = AOf(q);
  std::memset(reinterpret_cast<char *>(a) + sizeof(ScanPolygon), 0, sizeof(AScan) - sizeof(ScanPolygon));
  a->opaque = OpaqueOf(q->primitive);
  a->depth_dx = q->depth_dx, a->depth_dy = q->depth_dy;
}

void APolygonRelease(ScanPolygon *q) {
  ABufferRender *r = RenderOf(Frame());
  AScan *a = AOf(q);
  if (r != nullptr && !a->has_reference)
    for (size_t i = 0; i < r->waiting_count; ++i)
      if (r->waiting[i] == a) {
        r->waiting[i] = r->waiting[--r->waiting_count];
        break;
      }
  RowPieceRelease(r, a);
  if (r != nullptr && r->current == a) r->current = nullptr;
  ScratchFree(q);
}

// The edge lives on the band of its upper end's line first; its y is the
// band's top, so the loop's stepping drops it after the band of its lower
// end.
void AEdgeStart(ScanEdge *e, int32_t *first_line, int32_t, int32_t, int32_t, int32_t, int32_t) {
  e->x = e->ux;
  e->accumulator = 0;
  e->y = *first_line * 256;
  e->zero = 0;
  e->depth = e->uz;
}

// ---- Depth ranges and shading ---------------------------------------------------------

// At column x of the line being scanned (whose row term base_z holds).
void DepthRange(APolygon *a, int32_t x) {
  const int64_t dx = a->depth_dx, dy = a->depth_dy;
  const int64_t d = a->base_z + dx * (int64_t{256} * x - a->ref_x) / 256;
  a->zmin = DepthSaturate(d + std::min({int64_t{0}, dx, dy, dx + dy}));
  a->zmax = DepthSaturate(d + std::max({int64_t{0}, dx, dy, dx + dy}));
}

// The pair of the polygon's edges that brackets screen column sx at row sy
// (pixels), or the pair nearest it; false when no two edges cross that row.
bool PairAt(AScan *a, double sx, double sy, ScanEdge **left, ScanEdge **right, bool *only) {
  struct Crossing {
    double x;
    ScanEdge *edge;
  } c[kMostCrossings];
  int n = 0;
  const double Y = sy * 256.0;
  for (ScanEdge *e = a->scan.active_first; e != nullptr && n < kMostCrossings; e = e->next) {
    if (e->ly == e->uy || Y < e->uy || Y > e->ly) continue;
    c[n++] = {(e->ux + double(e->lx - e->ux) * (Y - e->uy) / (e->ly - e->uy)) / 256.0, e};
  }
  if (n < 2) return false;
  for (int i = 1; i < n; ++i)  // a handful at most: insertion
    for (int k = i; k > 0 && c[k].x < c[k - 1].x; --k) std::swap(c[k], c[k - 1]);
  int best = 0;
  double distance = INFINITY;
  for (int i = 0; i + 1 < n; i += 2) {
    const double d = sx < c[i].x ? c[i].x - sx : (sx > c[i + 1].x ? sx - c[i + 1].x : 0.0);
    if (d < distance) distance = d, best = i;
  }
  *left = c[best].edge;
  *right = c[best + 1].edge;
  *only = n == 2;
  return true;
}

// The bracketing pair's points at row sy in their scratch vertices.
bool EdgesAt(const RenderFrame *f, AScan *a, double sx, double sy, ScanEdge **l, ScanEdge **r) {
  const int32_t line = RenderOf(f)->y;
  if (a->pair_ready && a->pair_line == line && a->pair_sy == sy) {
    *l = a->pair_left;
    *r = a->pair_right;
    return true;
  }
  bool only = false;
  if (!PairAt(a, sx, sy, l, r, &only)) return false;
  // A scratch vertex that cannot be made fails the line (after it).
  if (!EdgePointAt(f, &a->scan, *l, sy) || !EdgePointAt(f, &a->scan, *r, sy)) return false;
  a->pair_ready = only;
  a->pair_line = line;
  a->pair_sy = sy;
  a->pair_left = *l;
  a->pair_right = *r;
  return true;
}

// The polygon's scratch vertex at screen point (sx, sy), perspective-correct
// between the bracketing edges; false when there are none.
bool VertexAt(const RenderFrame *f, AScan *a, double sx, double sy) {
  ScanEdge *l = nullptr, *r = nullptr;
  return EdgesAt(f, a, sx, sy, &l, &r) && SpanPointAt(f, &a->scan, l, r, sx);
}

float Opacity(const float *T, float alpha) { return (1.0f - std::fmax(T[0], std::fmax(T[1], T[2]))) * alpha; }

void SampleGlobals(double sx, double sy) {
  const VtAdvancedRendererContext *adv = State();
  if (adv->g_xs != nullptr) *adv->g_xs = static_cast<float>(sx);
  if (adv->g_ys != nullptr) *adv->g_ys = static_cast<float>(sy);
}

void BackgroundShade(VtStandardRendererContext *s, ABufferRender *r, const APolygon *b) {
  *s->g_prim = nullptr;
  *s->g_poly = nullptr;
  if (float *modI = State()->g_modI) *modI = kNoDepth;
  *s->g_alpha = 0.0f;
  std::memcpy(ShadeOf(r, b).Cf, BehindEvaluate(s, &r->common), 12);
}

// Pixel x's incident vector in the globals, as Incident leaves them.
void PixelIncident(VtStandardRendererContext *s, const RenderFrame *f, ABufferRender *r, int32_t x) {
  if (r->incident_x == x) {
    *s->g_xi = r->incident_xi;
    *s->g_xp = static_cast<float>(x);
    std::memcpy(s->g_unitI, r->incident_unitI, 12);
    if (!f->perspective) std::memcpy(s->g_E, r->incident_E, 12);
    return;
  }
  float window[3];
  Incident(s, f, &r->common, x, window);
  r->incident_x = x;
  r->incident_xi = *s->g_xi;
  std::memcpy(r->incident_unitI, s->g_unitI, 12);
  if (!f->perspective) std::memcpy(r->incident_E, s->g_E, 12);
}

void FragmentShade(const RenderFrame *f, ABufferRender *r, APolygon *a, int32_t x) {
  VtStandardRendererContext *s = renstd::State();
  a->shaded = true;
  PixelIncident(s, f, r, x);
  AShade &h = ShadeOf(r, a);
  std::memset(h.T, 0, sizeof h.T);
  h.A = h.a = 0.0f;
  std::memset(h.Cf, 0, sizeof h.Cf);
  AScan *q = a->q;
  if (q->scan.primitive == nullptr) return BackgroundShade(s, r, a);
  r->current = q;
  (void)VoShadingInitialisePolygon(q->scan.primitive, q->scan.polygon);
  const double sx = x + h.sample.x, sy = r->y + h.sample.y;
  SampleGlobals(sx, sy);
  if (!VertexAt(f, q, sx, sy) && !VertexAt(f, q, sx, r->y + 0.5)) return;
  *s->g_alpha = 1.0f;
  PointShade(q->scan.primitive, q->scan.scratch, sx, sy);
  std::memcpy(h.Cf, s->g_Co, 12);
  if (const float *To = State()->g_To) std::memcpy(h.T, To, 12);
  h.A = *s->g_alpha;
  h.a = Opacity(h.T, h.A);
}

// ---- Compositing ----------------------------------------------------------------------

struct Mix {
  float c[3];
  float K, alpha;
};

struct Compositing {
  const RenderFrame *f;
  ABufferRender *r;
  int32_t x;
};

bool ReachesInFront(const APolygon *f, const APolygon *n) { return n->zmin < f->zmin || n->zmax < f->zmax; }

// The share of "f over n" where both cover a sample: how far n's far end
// lies behind f's near end over the two ranges' widths, in [0, 1].
float FrontShare(const APolygon *f, const APolygon *n) {
  const double width = double(f->zmax) - f->zmin + (double(n->zmax) - n->zmin);
  if (width <= 0) return f->zmin == n->zmin ? 0.5f : (f->zmin < n->zmin ? 1.0f : 0.0f);
  return static_cast<float>(std::clamp((double(n->zmax) - f->zmin) / width, 0.0, 1.0));
}

// The compositing of one pixel runs on a stack of its own, one frame per
// step that waits on the fragments behind it: a pixel under tens of
// thousands of fragments (pages of an open book meeting at their spine)
// would overflow the thread's stack if each such step were a call. The
// frames are the render's, sized with the fragment list (see
// CompositeDepthMost), and never move during a pixel, so that the links a
// blend makes inside its frame can be pointed at from the frames above it.

// Composite(f, m, w, plain): fragment f and those behind it over the
// samples m, weighing w. f is shaded when its colour counts: it is the
// last, or it covers some of m (one that earlier fragments hide wholly is
// passed over unshaded). Blend(f, in, nm, w): the samples in of f that n
// reaches in front of: where n does not cover them, f over what lies behind
// n; where both do, a blend of f over n and n over f.
enum class Step : uint8_t {
  kEnter,       // a Composite begins
  kOutside,     // its part outside f's mask came back
  kBlended,     // its blend of f with n came back
  kBehind,      // what shows through a translucent f came back
  kBlendEnter,  // a Blend begins
  kBlendAlone,  // f over what lies behind n came back
  kBlendOver,   // f over n came back
  kBlendUnder,  // n over f came back
};

struct CompositeFrame {
  Step step;
  bool plain;
  const Link *f;
  uint32_t m, nm, in, outside;
  float w;
  Mix o, i;  // Blend: o the part alone, i the part over
  Link skip, behind, swapped;
};

// A Blend's answer from its part alone (c.o) and its blend of the two (b).
Mix BlendMix(const CompositeFrame &c, const Mix &b) {
  const uint32_t alone = c.m & ~c.nm, both = c.m & c.nm;
  const float ca = Coverage(alone), cb = Coverage(both), cin = ca + cb;
  Mix i{};
  for (int v = 0; v < 3; ++v) i.c[v] = (c.o.c[v] * ca + b.c[v] * cb) / cin;
  i.K = c.w;
  i.alpha = c.o.alpha + b.alpha;
  return i;
}

// A Composite's answer from its parts outside (c.o) and inside (c.i) f's
// mask.
Mix PartsMix(const CompositeFrame &c) {
  Mix r{};
  r.K = c.i.K + c.o.K;
  r.alpha = c.i.alpha + c.o.alpha;
  if (r.K < 1e-5f) return Mix{};
  const float cover_out = Coverage(c.outside);
  for (int v = 0; v < 3; ++v) {
    r.c[v] = c.o.c[v] * cover_out + c.i.c[v] * c.w;
    if (r.K < 1) r.c[v] /= r.K;
  }
  return r;
}

// Frames a pixel of count fragments (with the background) can stack: a
// Composite waits on one nearer the end of the list, except that each of
// the at most kMostBranches blends stacks itself and one Composite on the
// same place.
size_t CompositeDepthMost(size_t count) { return count + 2 * size_t{kMostBranches} + 2; }

Mix CompositeRun(Compositing &k, const Link *first, uint32_t m0, float w0) {
  CompositeFrame *stack = k.r->frames;
  size_t top = 0;
  Mix ret{};
  const auto call = [&](Step step, const Link *f, uint32_t m, float w, bool plain) {
    CompositeFrame &c = stack[top++];
    c.step = step;
    c.f = f;
    c.m = m;
    c.w = w;
    c.plain = plain;
  };
  call(Step::kEnter, first, m0, w0, false);
  const bool full = k.r->full_samples;
  while (top > 0) {
    CompositeFrame &c = stack[top - 1];
    APolygon *F = c.f->fragment;
    const AShade &h = ShadeOf(k.r, F);
    const Link *n = c.f->next;
    switch (c.step) {
      case Step::kEnter: {
        if (!F->shaded && (n == nullptr || full || (c.m & F->mask) != 0)) FragmentShade(k.f, k.r, F, k.x);
        if (n == nullptr) {
          std::memcpy(ret.c, h.Cf, 12);
          ret.K = full ? 1.0f : c.w;
          ret.alpha = full ? h.a : h.a * c.w;
          --top;
          continue;
        }
        const uint32_t fm = full ? kFullMask : F->mask;
        c.nm = full ? kFullMask : n->fragment->mask;
        if (full) c.w = 1.0f;
        c.in = c.m & fm;
        c.outside = c.m & ~fm;
        c.o = Mix{};
        c.i = Mix{};
        c.step = Step::kOutside;
        if (c.outside != 0) {
          call(Step::kEnter, n, c.outside, Coverage(c.outside & c.nm), false);
          continue;
        }
        ret = Mix{};
      }
        [[fallthrough]];
      case Step::kOutside: {
        if (c.outside != 0) {
          c.o = ret;
          const float cover_out = Coverage(c.outside);
          for (float &v : c.o.c) v *= c.o.K / cover_out;
        }
        if (c.in != 0) {
          if (!c.plain && ReachesInFront(F, n->fragment) && k.r->branches < kMostBranches) {
            ++k.r->branches;
            c.step = Step::kBlended;
            call(Step::kBlendEnter, c.f, c.in, c.w, false);
            stack[top - 1].nm = c.nm;
            continue;
          }
          if (!F->opaque) {
            c.step = Step::kBehind;
            call(Step::kEnter, n, c.in, Coverage(c.in & c.nm), false);
            continue;
          }
          std::memcpy(c.i.c, h.Cf, 12);
          c.i.K = c.w;
          c.i.alpha = h.a * c.w;
        }
        break;
      }
      case Step::kBlended: c.i = ret; break;
      case Step::kBehind: {
        const Mix &b = ret;
        const float cover_in = Coverage(c.in);
        const float share = cover_in > 0 ? b.K / cover_in : 0.0f, rest = h.A < 1 ? 1 - h.A : 0.0f;
        for (int v = 0; v < 3; ++v) c.i.c[v] = h.Cf[v] + share * (h.T[v] + rest) * b.c[v];
        c.i.K = c.w;
        c.i.alpha = (c.w - b.alpha) * h.a + b.alpha;
        break;
      }
      case Step::kBlendEnter: {
        const uint32_t alone = c.m & ~c.nm;
        c.o = Mix{};
        c.i = Mix{};
        c.step = Step::kBlendAlone;
        if (alone != 0) {
          c.skip = {F, n->next};
          call(Step::kEnter, &c.skip, alone, Coverage(alone), true);
          continue;
        }
        ret = Mix{};
      }
        [[fallthrough]];
      case Step::kBlendAlone: {
        const uint32_t alone = c.m & ~c.nm, both = c.m & c.nm;
        if (alone != 0) c.o = ret;
        if (both != 0) {
          c.step = Step::kBlendOver;
          call(Step::kEnter, c.f, both, Coverage(both), true);
          continue;
        }
        ret = BlendMix(c, Mix{});
        --top;
        continue;
      }
      case Step::kBlendOver: {
        c.i = ret;
        const uint32_t both = c.m & c.nm;
        c.behind = {F, n->next};
        c.swapped = {n->fragment, &c.behind};
        c.step = Step::kBlendUnder;
        call(Step::kEnter, &c.swapped, both, Coverage(both), true);
        continue;
      }
      case Step::kBlendUnder: {
        const Mix &under = ret, &over = c.i;
        const float t = FrontShare(F, n->fragment);
        Mix b{};
        for (int v = 0; v < 3; ++v) b.c[v] = t * over.c[v] + (1 - t) * under.c[v];
        b.alpha = t * over.alpha + (1 - t) * under.alpha;
        ret = BlendMix(c, b);
        --top;
        continue;
      }
    }
    // A Composite's two parts came back: together they are its answer.
    ret = PartsMix(c);
    --top;
  }
  return ret;
}

// ---- One pixel ------------------------------------------------------------------------

// Two fragments lie in one plane when their depth steps are equal and
// their depth ranges at the pixel agree within the rounding of either
// polygon's reference point.
bool SamePlane(const APolygon *a, const APolygon *b) {
  return std::abs(int64_t{a->zmin} - b->zmin) <= kPlaneSlack &&
         std::abs(int64_t{a->zmax} - b->zmax) <= kPlaneSlack && a->depth_dx == b->depth_dx &&
         a->depth_dy == b->depth_dy;
}

bool Inside(uint32_t inner, uint32_t outer) { return (inner & ~outer) == 0; }

void ListPut(ABufferRender *r, size_t *count, size_t at, APolygon *a) {
  for (size_t i = *count; i > at; --i) r->fragments[i] = r->fragments[i - 1];
  r->fragments[at] = a;
  ++*count;
}

// Inserts a by (smallest, largest depth). A fragment of the same plane as
// one listed, one mask inside the other's, is placed with it instead: the
// earlier of the two in the active order goes first, and when that one is
// opaque and its mask holds the other's the two merge into it (the later
// could show nowhere).
void FragmentInsert(ABufferRender *r, size_t *count, APolygon *a) {
  for (size_t i = 0; i < *count; ++i) {
    APolygon *b = r->fragments[i];
    if (!SamePlane(a, b) || !(Inside(a->mask, b->mask) || Inside(b->mask, a->mask))) continue;
    APolygon *front = a->order < b->order ? a : b, *back = front == a ? b : a;
    if (front->opaque && Inside(back->mask, front->mask)) {
      r->fragments[i] = front;
      ++r->merged;
      return;
    }
    return ListPut(r, count, front == a ? i : i + 1, a);
  }
  size_t i = *count;
  while (i > 0 && (r->fragments[i - 1]->zmin > a->zmin ||
                   (r->fragments[i - 1]->zmin == a->zmin && r->fragments[i - 1]->zmax > a->zmax)))
    --i;
  ListPut(r, count, i, a);
}

// Orders the pixel's n fragments, listed in the order they were found, as
// inserting them one by one with FragmentInsert does, and answers how many
// are kept, in time that grows as their sorting does (FragmentInsert looks
// through the whole list for each fragment, and a pixel at the spine of an
// open book holds every page).
//
// Inserted by depth alone, the list would be the fragments sorted by
// (smallest, largest depth), the first found first among equals: the order
// G. While the list stays a subsequence of G, it is held as the set of G's
// places present (a Fenwick tree counts them), and a fragment placed by
// depth keeps it so (those of equal depths listed before it were found
// before it). A fragment placed with one of its plane keeps it so when
// nothing listed lies between the two in G; that one is the first of its
// plane, depth within kPlaneSlack and nesting mask listed, found among the
// fragments sorted by (plane, G), where those of one plane and depth window
// are neighbours. Should a placement break the order, the list is written
// out as it stands and the rest are inserted one by one.
constexpr size_t kFewFragments = 16;

void TreeAdd(uint32_t *tree, size_t n, size_t at, int32_t d) {
  for (size_t k = at + 1; k <= n; k += k & (~k + 1)) tree[k] += static_cast<uint32_t>(d);
}

// Present G places below `end`.
uint32_t TreeCount(const uint32_t *tree, size_t end) {
  uint32_t c = 0;
  for (size_t k = end; k > 0; k -= k & (~k + 1)) c += tree[k];
  return c;
}

bool Nests(const APolygon *a, const APolygon *b) {
  return SamePlane(a, b) && (Inside(a->mask, b->mask) || Inside(b->mask, a->mask));
}

// The insertion index of the first listed fragment that a is placed with,
// or n for none.
// Sorts the n keys by (key, index), given them listed by index: a radix
// sort by key, a byte a pass (passes where every key has the same byte
// are passed over), which keeps the listed order among equal keys, so that
// a pixel's fragments are ordered in time linear in their number; spare is
// as long.
void KeyedSort(Keyed *keys, Keyed *spare, size_t n) {
  if (n < 256) return std::sort(keys, keys + n);
  Keyed *from = keys, *to = spare;
  for (int shift = 0; shift < 64; shift += 8) {
    size_t at[256] = {};
    for (size_t i = 0; i < n; ++i) ++at[(from[i].key >> shift) & 0xff];
    if (at[(from[0].key >> shift) & 0xff] == n) continue;
    size_t sum = 0;
    for (size_t &c : at) {
      const size_t here = c;
      c = sum;
      sum += here;
    }
    for (size_t i = 0; i < n; ++i) to[at[(from[i].key >> shift) & 0xff]++] = from[i];
    std::swap(from, to);
  }
  if (from != keys) std::copy(from, from + n, keys);
}

// The depth steps of a fragment as one key that orders as they do.
uint64_t StepsKey(const APolygon *a) {
  return uint64_t{static_cast<uint32_t>(a->depth_dx) ^ 0x80000000u} << 32 |
         (static_cast<uint32_t>(a->depth_dy) ^ 0x80000000u);
}

size_t MeetingFirst(const OrderScratch &o, APolygon *const *pend, size_t n, size_t i) {
  const APolygon *a = pend[i];
  const uint64_t steps = StepsKey(a);
  const int64_t high = int64_t{a->zmin} + kPlaneSlack;
  // o.keyed by plane order: (steps, smallest depth, G place).
  const Keyed low{steps, static_cast<uint32_t>(std::max(int64_t{0}, int64_t{a->zmin} - kPlaneSlack)), 0};
  for (const Keyed *p = std::lower_bound(o.keyed, o.keyed + n, low,
                                         [](const Keyed &u, const Keyed &v) {
                                           return u.key < v.key || (u.key == v.key && u.index < v.index);
                                         });
       p != o.keyed + n && p->key == steps && p->index <= high; ++p)
    if (o.present[p->unused] && Nests(a, pend[o.g[p->unused]])) return o.g[p->unused];
  return n;
}

size_t FragmentsOrder(ABufferRender *r, size_t n) {
  APolygon **list = r->fragments, **pend = r->pending;
  std::copy(list, list + n, pend);
  size_t count = 0;
  if (n <= kFewFragments) {
    for (size_t i = 0; i < n; ++i) FragmentInsert(r, &count, pend[i]);
    return count;
  }
  const OrderScratch &o = r->order;
  // G: by (smallest, largest depth), both in 0..2^31 - 1, then insertion.
  for (uint32_t i = 0; i < n; ++i)
    o.keyed[i] = {uint64_t{static_cast<uint32_t>(pend[i]->zmin)} << 32 | static_cast<uint32_t>(pend[i]->zmax),
                  i, 0};
  KeyedSort(o.keyed, o.spare, n);
  for (uint32_t k = 0; k < n; ++k) o.g[k] = o.keyed[k].index, o.g_at[o.keyed[k].index] = k;
  // By depth steps (their sign bits flipped to order as unsigned), then G:
  // listed by G, for the sort to keep.
  for (uint32_t k = 0; k < n; ++k) o.keyed[k] = {StepsKey(pend[o.g[k]]), k, 0};
  KeyedSort(o.keyed, o.spare, n);
  // For MeetingFirst: by plane order, (steps, smallest depth, G place);
  // within one plane G orders by smallest depth.
  for (uint32_t k = 0; k < n; ++k) {
    const uint32_t g = o.keyed[k].index;
    o.keyed[k] = {o.keyed[k].key, static_cast<uint32_t>(pend[o.g[g]]->zmin), g};
  }
  std::memset(o.present, 0, n);
  // The tree is made at the first placement by plane (most pixels have
  // none) and kept from then on.
  bool counting = false;
  const auto put = [&](size_t at, bool on) {
    o.present[at] = on;
    if (counting) TreeAdd(o.tree, n, at, on ? 1 : -1);
  };
  const auto count_from_here = [&] {
    if (counting) return;
    counting = true;
    for (size_t k = 1; k <= n; ++k) o.tree[k] = o.present[k - 1];
    for (size_t k = 1; k <= n; ++k)
      if (const size_t up = k + (k & (~k + 1)); up <= n) o.tree[up] += o.tree[k];
  };
  size_t i = 0;
  for (; i < n; ++i) {
    const size_t k = MeetingFirst(o, pend, n, i);
    const size_t ga = o.g_at[i];
    if (k == n) {
      put(ga, true);
      continue;
    }
    APolygon *a = pend[i], *b = pend[k];
    const size_t gb = o.g_at[k];
    const bool a_first = a->order < b->order;
    const APolygon *front = a_first ? a : b, *back = a_first ? b : a;
    count_from_here();
    const bool alone_between =
        TreeCount(o.tree, std::max(ga, gb)) - TreeCount(o.tree, std::min(ga, gb) + 1) == 0;
    if (front->opaque && Inside(back->mask, front->mask)) {
      if (!a_first) {
        ++r->merged;
        continue;
      }
      if (!alone_between) break;
      ++r->merged;
      put(gb, false);
      put(ga, true);
      continue;
    }
    if (!alone_between || a_first != (ga < gb)) break;
    put(ga, true);
  }
  for (size_t k = 0; k < n; ++k)
    if (o.present[k]) list[count++] = pend[o.g[k]];
  for (; i < n; ++i) FragmentInsert(r, &count, pend[i]);
  return count;
}

// After the first opaque whole-pixel fragment wholly in front of the next,
// nothing shows.
size_t FragmentsCut(const ABufferRender *r, size_t count) {
  for (size_t i = 0; i + 1 < count; ++i) {
    const APolygon *a = r->fragments[i];
    if (a->opaque && a->mask == kFullMask && a->zmax <= r->fragments[i + 1]->zmin) return i + 1;
  }
  return count;
}

bool Behind(const ABufferRender *r) {
  return r->common.background != nullptr || r->common.foreground != nullptr;
}

// Resolves pixel x from its fragments (the first count of the list).
void PixelComposite(RenderFrame *f, ABufferRender *r, int32_t x, size_t count) {
  VtStandardRendererContext *s = renstd::State();
  count = FragmentsCut(r, count);
  if (Behind(r)) {
    r->background.shaded = false;
    r->fragments[count++] = &r->background;
  }
  uint8_t *d = PixelAt(f, x);
  if (count == 0) {
    *s->g_alpha = 0.0f;
    BackgroundPaint(f, x, x);
    return;
  }
  bool edge = false;
  for (size_t i = 0; i < count; ++i) edge = edge || r->fragments[i]->mask != kFullMask;
  Link *chain = r->chain;
  for (size_t i = count; i-- > 0;) chain[i] = {r->fragments[i], i + 1 < count ? &chain[i + 1] : nullptr};
  Compositing k{f, r, x};
  r->branches = 0;
  r->incident_x = kNotTouched;
  const float w = edge ? Coverage(r->fragments[0]->mask) : 1.0f;
  Mix mix = CompositeRun(k, &chain[0], kFullMask, w);
  if (edge)
    for (float &c : mix.c) c *= mix.K;
  *s->g_alpha = mix.alpha;
  (void)f->pixel(d, mix.c);
}

// ---- Runs -------------------------------------------------------------------------------

// One polygon over pixels x0..x1, shaded at their centres.
void RunShade(RenderFrame *f, ABufferRender *r, AScan *a, int32_t x0, int32_t x1) {
  VtStandardRendererContext *s = renstd::State();
  const VtAdvancedRendererContext *adv = State();
  r->current = a;
  (void)VoShadingInitialisePolygon(a->scan.primitive, a->scan.polygon);
  const double sy = r->y + 0.5;
  ScanEdge *l = nullptr, *right = nullptr;
  if (!EdgesAt(f, a, (x0 + x1 + 1) / 2.0, sy, &l, &right)) return BackgroundSpan(f, x0, x1);
  uint8_t *d = PixelAt(f, x0);
  float window[3], zero[3] = {0, 0, 0};
  for (int32_t x = x0; x <= x1; ++x) {
    Incident(s, f, &r->common, x, window);
    SampleGlobals(x + 0.5, sy);
    if (!SpanPointAt(f, &a->scan, l, right, x + 0.5)) return;
    *s->g_alpha = 1.0f;
    PointShade(a->scan.primitive, a->scan.scratch, x + 0.5, sy);
    const float *To = adv->g_To != nullptr ? adv->g_To : zero;
    if (!a->opaque) {
      float colour[3], T[3];
      std::memcpy(colour, s->g_Co, 12);
      std::memcpy(T, To, 12);
      const float alpha = *s->g_alpha;
      const float *behind = s->g_Cb;
      if (Behind(r)) {
        *s->g_prim = nullptr;
        *s->g_poly = a->scan.polygon;
        if (adv->g_modI != nullptr) *adv->g_modI = kNoDepth;
        behind = BehindEvaluate(s, &r->common);
        *s->g_prim = a->scan.primitive;
      }
      for (int c = 0; c < 3; ++c)
        colour[c] += T[c] * behind[c] + (alpha < 1 ? (1 - alpha) * behind[c] : 0.0f);
      std::memcpy(s->g_Co, colour, 12);
      *s->g_alpha = Opacity(T, alpha);
    } else {
      *s->g_alpha = Opacity(To, *s->g_alpha);
    }
    d = f->pixel(d, s->g_Co);
  }
}

// The covering polygons as the fragments of pixel x (but the touched ones
// and those the run left out), listed as found, for FragmentsOrder; their
// count.
size_t CoverFragments(ABufferRender *r, int32_t x) {
  size_t count = 0;
  uint32_t visited = 1;
  for (APolygon *a = Cover(r, r->cover_first); a != nullptr; a = Cover(r, a->cover_next)) {
    ++visited;
    if (a->touched == x || a->hidden) continue;
    a->mask = a->state;
    a->shaded = false;
    SamplePoint &sample = ShadeOf(r, a).sample;
    sample = {0.5f, 0.5f, true};
    if (a->state != kFullMask) (void)SamplePosition(a->state, &sample);
    DepthRange(a, x);
    r->fragments[count++] = a;
  }
  (void)WorkDone(r, visited);
  return count;
}

// The two smallest of a value over polygons, with the first one's index:
// the smallest over all polygons but any one of them.
struct TwoLeast {
  int64_t least = INT64_MAX, second = INT64_MAX;
  size_t at = SIZE_MAX;
  void Add(int64_t v, size_t i) {
    if (v < least)
      second = least, least = v, at = i;
    else if (v < second)
      second = v;
  }
  int64_t Without(size_t i) const { return i == at ? second : least; }
};

// Leaves out of a run under several polygons every one that an opaque
// whole-pixel polygon lies wholly in front of at both ends of the run, and
// those merged into an earlier opaque polygon of the same plane and depth
// range; answers the one left, or null when several are (or the render is
// interrupted).
APolygon *RunSift(ABufferRender *r, int32_t x0, int32_t x1) {
  RunEnds *e = r->ends;
  size_t n = 0;
  // The nearest far end of the opaque whole-pixel polygons at each end of
  // the run: a polygon whose near end lies in front of every other one's
  // far end at one end of the run is hidden by none.
  TwoLeast nearest[2];
  for (APolygon *a = Cover(r, r->cover_first); a != nullptr; a = Cover(r, a->cover_next)) {
    a->hidden = false;
    RunEnds &t = e[n];
    t.a = a;
    for (int end = 1; end >= 0; --end) {
      DepthRange(a, end == 0 ? x0 : x1);
      t.zmin[end] = a->zmin, t.zmax[end] = a->zmax;
      if (a->opaque && a->state == kFullMask) nearest[end].Add(t.zmax[end], n);
    }
    a->mask = a->state;  // at x0 for the plane test
    ++n;
  }
  if (!WorkDone(r, static_cast<uint32_t>(n))) return nullptr;
  // b lies wholly in front of a at an end, and comes first there: by
  // depth, or by the active order when the two are flat at one depth.
  const auto hides = [](const RunEnds &b, const RunEnds &a) {
    if (!b.a->opaque || b.a->state != kFullMask) return false;
    for (int end = 0; end < 2; ++end) {
      if (b.zmax[end] > a.zmin[end]) return false;
      if (b.zmin[end] == a.zmin[end] && b.zmax[end] == a.zmax[end] && b.a->order > a.a->order) return false;
    }
    return true;
  };
  // Whether some polygon hides i does not depend on which is found first
  // (hiding is transitive, so a hidden polygon's hider is hidden by one that
  // is not). Polygons no other can hide are passed over; the nearest opaque
  // whole-pixel polygon (the first in the active order among equals) and
  // then the one that hid the polygon before are tried first: under a stack
  // of copies or layers one of them hides all the rest, so the search stays
  // linear there.
  size_t front = n, last = n;
  for (size_t k = 0; k < n; ++k) {
    const RunEnds &b = e[k];
    if (!b.a->opaque || b.a->state != kFullMask) continue;
    if (front == n) {
      front = k;
      continue;
    }
    const RunEnds &f = e[front];
    const auto near = std::max(b.zmax[0], b.zmax[1]), best = std::max(f.zmax[0], f.zmax[1]);
    if (near < best || (near == best && b.a->order < f.a->order)) front = k;
  }
  const auto hidden_by = [&](size_t k, size_t i) {
    return k < n && k != i && !e[k].a->hidden && hides(e[k], e[i]);
  };
  for (size_t i = 0; i < n; ++i) {
    if (nearest[0].Without(i) > e[i].zmin[0] || nearest[1].Without(i) > e[i].zmin[1]) continue;
    if (hidden_by(front, i) || hidden_by(last, i)) {
      e[i].a->hidden = true;
      continue;
    }
    for (size_t k = 0; k < n; ++k)
      if (!WorkDone(r, 1))
        return nullptr;
      else if (k != i && !e[k].a->hidden && hides(e[k], e[i])) {
        e[i].a->hidden = true;
        last = k;
        break;
      }
  }
  // A polygon of the same plane as an earlier opaque one in the active
  // order, inside it, merges into it (into one not merged itself by the
  // time the polygon is reached: the polygons are taken in the cover
  // list's order). The opaque ones left are tried in the active order up to
  // the polygon's own place, the first kMergeTries of them, so that under a
  // stack of copies the first hides each of the rest at the first try; past
  // them only those of its depth steps and of a smallest depth within
  // kPlaneSlack of its own can be of its plane, and they are neighbours in
  // the opaque ones ordered by (steps, smallest depth): under copies a
  // little apart, each of another plane, a polygon is not tried against
  // every one in front of it.
  APolygon **merging = r->touched, **by_plane = r->pending;
  size_t m = 0;
  for (size_t k = 0; k < n; ++k)
    if (!e[k].a->hidden && e[k].a->opaque) merging[m++] = e[k].a;
  const auto earlier = [](const APolygon *a, const APolygon *b) { return a->order < b->order; };
  const auto later = [](const APolygon *a, const APolygon *b) { return a->order > b->order; };
  if (std::is_sorted(merging, merging + m, later))
    std::reverse(merging, merging + m);
  else if (!std::is_sorted(merging, merging + m, earlier))
    std::sort(merging, merging + m, earlier);
  const auto plane_less = [](const APolygon *a, const APolygon *b) {
    const uint64_t sa = StepsKey(a), sb = StepsKey(b);
    return sa < sb || (sa == sb && (a->zmin < b->zmin || (a->zmin == b->zmin && a->order < b->order)));
  };
  bool planes_made = false;
  for (size_t i = 0; i < n; ++i) {
    APolygon *a = e[i].a;
    size_t k = 0;
    for (; k < m && k < kMergeTries && !a->hidden && merging[k]->order < a->order; ++k) {
      const APolygon *b = merging[k];
      if (!WorkDone(r, 1)) return nullptr;
      if (!b->hidden && Inside(a->state, b->state) && SamePlane(a, b)) a->hidden = true;
    }
    if (a->hidden || k == m || merging[k]->order >= a->order) continue;
    if (!planes_made) {
      std::copy(merging, merging + m, by_plane);
      std::sort(by_plane, by_plane + m, plane_less);
      planes_made = true;
    }
    const uint64_t steps = StepsKey(a);
    const int64_t high = int64_t{a->zmin} + kPlaneSlack;
    APolygon **p = std::partition_point(by_plane, by_plane + m, [&](const APolygon *b) {
      const uint64_t sb = StepsKey(b);
      return sb < steps || (sb == steps && int64_t{b->zmin} < int64_t{a->zmin} - kPlaneSlack);
    });
    for (; p != by_plane + m && StepsKey(*p) == steps && (*p)->zmin <= high; ++p) {
      const APolygon *b = *p;
      if (!WorkDone(r, 1)) return nullptr;
      if (b->order < a->order && !b->hidden && Inside(a->state, b->state) && SamePlane(a, b)) {
        a->hidden = true;
        break;
      }
    }
  }
  APolygon *left = nullptr;
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i)
    if (!e[i].a->hidden) left = e[i].a, ++kept;
  r->merged += n - kept;
  return kept == 1 && left->state == kFullMask ? left : nullptr;
}

void RunPaint(RenderFrame *f, ABufferRender *r, int32_t x0, int32_t x1) {
  if (r->cover_first == kNoPolygon) return BackgroundSpan(f, x0, x1);
  APolygon *one = RunSift(r, x0, x1);
  if (one != nullptr)
    RunShade(f, r, one->q, x0, x1);
  else
    for (int32_t x = x0; x <= x1 && !r->interrupted; ++x)
      PixelComposite(f, r, x, FragmentsOrder(r, CoverFragments(r, x)));
  for (APolygon *a = Cover(r, r->cover_first); a != nullptr; a = Cover(r, a->cover_next)) a->hidden = false;
}

// ---- The scanline --------------------------------------------------------------------------

void CoverUpdate(ABufferRender *r, APolygon *a) {
  const bool covering = a->state != 0;
  if (covering == a->covering) return;
  a->covering = covering;
  if (covering) {
    a->cover_previous = kNoPolygon;
    a->cover_next = r->cover_first;
    if (r->cover_first != kNoPolygon) r->active[r->cover_first].cover_previous = a->order;
    r->cover_first = a->order;
    return;
  }
  (a->cover_previous != kNoPolygon ? r->active[a->cover_previous].cover_next : r->cover_first) =
      a->cover_next;
  if (a->cover_next != kNoPolygon) r->active[a->cover_next].cover_previous = a->cover_previous;
}

struct PieceContext {
  ABufferRender *r;
  uint32_t order;  // the polygon's
  ZeroRun open;    // the zero run being gathered (first > last: none)
};

// The gathered zero run kept, cut to the viewport's columns.
void ZeroRunClose(PieceContext *c) {
  ABufferRender *r = c->r;
  ZeroRun run = c->open;
  c->open.first = 1, c->open.last = 0;
  run.first = std::max(run.first, r->view_first);
  run.last = std::min(run.last, r->view_last);
  if (run.first > run.last) return;
  if (r->run_count == r->run_capacity) {
    const size_t capacity = std::max<size_t>(64, 2 * r->run_capacity);
    if (capacity > UINT32_MAX / (3 * sizeof(ZeroRun))) {
      r->out_of_memory = true;
      return;
    }
    auto *made = static_cast<ZeroRun *>(VoAllocate(static_cast<uint32_t>(3 * capacity * sizeof(ZeroRun))));
    if (made == nullptr) {
      r->out_of_memory = true;
      return;
    }
    if (r->run_count > 0) std::memcpy(made, r->runs, r->run_count * sizeof(ZeroRun));
    VoDeallocate(r->runs);
    r->runs = made;
    r->runs_over = made + capacity;
    r->runs_merged = made + 2 * capacity;
    r->run_capacity = capacity;
  }
  r->runs[r->run_count++] = run;
}

void PieceAdd(void *context, int64_t column, uint32_t mask, uint32_t rows) {
  auto *c = static_cast<PieceContext *>(context);
  ABufferRender *r = c->r;
  if (mask == 0 && rows == 0) {
    // Held as a run of columns: a flat edge has one such piece per column.
    const auto x = static_cast<int32_t>(std::clamp<int64_t>(column, INT32_MIN + 1, INT32_MAX - 1));
    ZeroRun &o = c->open;
    if (o.first <= o.last && x >= o.first - 1 && x <= o.last + 1) {
      o.first = std::min(o.first, x);
      o.last = std::max(o.last, x);
      return;
    }
    if (o.first <= o.last) ZeroRunClose(c);
    o = {x, x, c->order};
    return;
  }
  if (r->piece_count == r->piece_capacity) {
    const size_t capacity = r->piece_capacity * 2;
    auto *grown = capacity <= UINT32_MAX / sizeof(Piece)
                      ? static_cast<Piece *>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(Piece))))
                      : nullptr;
    if (grown == nullptr) {
      r->out_of_memory = true;
      return;
    }
    std::memcpy(grown, r->pieces, r->piece_count * sizeof(Piece));
    VoDeallocate(r->pieces);
    r->pieces = grown;
    r->piece_capacity = capacity;
  }
  const int64_t clamped = std::clamp<int64_t>(column, INT32_MIN + 1, INT32_MAX);
  r->pieces[r->piece_count++] = {static_cast<int32_t>(clamped), c->order, mask, rows};
}

bool FragmentsReserve(ABufferRender *r, size_t count) {
  if (count <= r->fragment_capacity) return true;
  const size_t capacity = std::max(count, 2 * r->fragment_capacity);
  const size_t depth = CompositeDepthMost(capacity);
  if (capacity > UINT32_MAX / (sizeof(CompositeFrame) + 2 * sizeof(Keyed) + 17) ||
      depth > UINT32_MAX / sizeof(CompositeFrame))
    return false;
  auto **made =
      static_cast<APolygon **>(VoAllocate(static_cast<uint32_t>(3 * capacity * sizeof(APolygon *))));
  auto *chain = static_cast<Link *>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(Link))));
  auto *ends = static_cast<RunEnds *>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(RunEnds))));
  auto *frames =
      static_cast<CompositeFrame *>(VoAllocate(static_cast<uint32_t>(depth * sizeof(CompositeFrame))));
  // Two keys a fragment, three words a fragment and one more (the Fenwick
  // tree's), then a byte a fragment.
  auto *keyed = static_cast<Keyed *>(
      VoAllocate(static_cast<uint32_t>(2 * capacity * sizeof(Keyed) + (3 * capacity + 1) * 4 + capacity)));
  if (made == nullptr || chain == nullptr || ends == nullptr || frames == nullptr || keyed == nullptr) {
    VoDeallocate(made);
    VoDeallocate(chain);
    VoDeallocate(ends);
    VoDeallocate(frames);
    VoDeallocate(keyed);
    return false;
  }
  VoDeallocate(r->fragments);
  VoDeallocate(r->chain);
  VoDeallocate(r->ends);
  VoDeallocate(r->frames);
  VoDeallocate(r->order.keyed);
  auto *words = reinterpret_cast<uint32_t *>(keyed + 2 * capacity);
  r->order = {keyed,
              keyed + capacity,
              words,
              words + capacity,
              words + 2 * capacity,
              reinterpret_cast<uint8_t *>(words + 3 * capacity + 1)};
  r->fragments = made;
  r->touched = made + capacity;
  r->pending = made + 2 * capacity;
  r->chain = chain;
  r->ends = ends;
  r->frames = frames;
  r->fragment_capacity = capacity;
  return true;
}

// The pieces by column and then by their polygons' order: gathered in that
// order, so a stable count by column (all left of the viewport as one
// column, those right of it dropped) sorts them.
bool PiecesSort(const RenderFrame *f, ABufferRender *r) {
  if (r->sorted_capacity < r->piece_capacity) {
    auto *made = static_cast<Piece *>(VoAllocate(static_cast<uint32_t>(r->piece_capacity * sizeof(Piece))));
    if (made == nullptr) return false;
    VoDeallocate(r->sorted);
    r->sorted = made;
    r->sorted_capacity = r->piece_capacity;
  }
  const int32_t first = f->xmin, last = f->xmin + f->width - 1;
  const size_t slots = static_cast<size_t>(f->width) + 2;
  uint32_t *count = r->columns;
  std::memset(count, 0, slots * sizeof *count);
  const auto slot = [&](int32_t column) { return column < first ? size_t{1} : size_t(column - first) + 2; };
  for (size_t i = 0; i < r->piece_count; ++i)
    if (r->pieces[i].column <= last) ++count[slot(r->pieces[i].column)];
  for (size_t k = 1; k < slots; ++k) count[k] += count[k - 1];  // count[k]: where slot k starts
  size_t kept = 0;
  for (size_t i = 0; i < r->piece_count; ++i) {
    const Piece &p = r->pieces[i];
    if (p.column > last) continue;
    r->sorted[count[slot(p.column) - 1]++] = p;
    ++kept;
  }
  std::swap(r->pieces, r->sorted);
  std::swap(r->piece_capacity, r->sorted_capacity);
  r->piece_count = kept;
  // Those left of the viewport, few, by their own columns too: the order
  // they move the rows in decides the cover list's.
  for (size_t i = 1; i < count[0]; ++i)  // insertion: stable
    for (size_t k = i; k > 0 && r->pieces[k].column < r->pieces[k - 1].column; --k)
      std::swap(r->pieces[k], r->pieces[k - 1]);
  return true;
}

// Every active polygon's edges cut into pieces by pixel column, sorted by
// column and then by the polygons' order.
// A polygon's depth reference: its first active edge's upper end on the
// first line it is scanned on.
void ReferenceTake(AScan *a) {
  if (a->has_reference || a->scan.active_first == nullptr) return;
  const ScanEdge *e = a->scan.active_first;
  a->has_reference = true;
  a->ref_x = e->ux, a->ref_y = e->uy, a->ref_z = e->uz;
}

// A band of the work farm takes the references on the lines above it: as
// each line activates its polygons (ALineActivate), and on the lines it
// steps over for those that were still waiting for an active edge. The
// line's activation and its step change no active edge between them, so
// the reference is the one a scan of the line would take, and the lines
// stepped over need not walk every active polygon (under an open book
// tens of thousands, on every line above the band).
void ReferencesTake(RenderFrame *f) {
  ABufferRender *r = RenderOf(f);
  if (r == nullptr) return;
  size_t kept = 0;
  for (size_t i = 0; i < r->waiting_count; ++i) {
    AScan *a = r->waiting[i];
    ReferenceTake(a);
    if (!a->has_reference) r->waiting[kept++] = a;
  }
  r->waiting_count = kept;
}

// The line's polygons activated; in a band, each takes its reference, or
// waits for an active edge (false when the waiting list cannot grow).
bool ReferencesOfActivated(ABufferRender *r, ScanPolygon *first) {
  for (ScanPolygon *q = first; q != nullptr; q = q->next) {
    AScan *a = AOf(q);
    ReferenceTake(a);
    if (a->has_reference) continue;
    if (r->waiting_count == r->waiting_capacity) {
      const size_t capacity = std::max<size_t>(16, 2 * r->waiting_capacity);
      if (capacity > UINT32_MAX / sizeof(AScan *)) return false;
      auto **made = static_cast<AScan **>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(AScan *))));
      if (made == nullptr) return false;
      if (r->waiting_count > 0) std::memcpy(made, r->waiting, r->waiting_count * sizeof(AScan *));
      VoDeallocate(r->waiting);
      r->waiting = made;
      r->waiting_capacity = capacity;
    }
    r->waiting[r->waiting_count++] = a;
  }
  return true;
}

// Polygons are appended to the active list as they are activated.
VtStatus ALineActivate(int32_t line, ScanPolygon **bucket) {
  RenderFrame *f = Frame();
  ABufferRender *r = RenderOf(f);
  ScanPolygon *const last = f->active_last;
  const VtStatus st = LineActivate(line, bucket);
  if (r == nullptr || !r->common.loose) return st;
  if (!ReferencesOfActivated(r, last != nullptr ? last->next : f->active_first))
    return st | VO_STATUS_NO_MEMORY;
  return st;
}

// Room for twice as many active polygons, at a cache line's boundary; the
// ones made on this line so far are kept (nothing points at them while the
// line gathers its pieces, which name their polygons by order).
bool ActiveGrow(ABufferRender *r) {
  const size_t capacity = std::max<size_t>(64, 2 * r->active_capacity);
  if (capacity > (UINT32_MAX - kCacheLine) / sizeof(APolygon)) {
    r->out_of_memory = true;
    return false;
  }
  void *block = VoAllocate(static_cast<uint32_t>(capacity * sizeof(APolygon) + kCacheLine));
  if (block == nullptr) {
    r->out_of_memory = true;
    return false;
  }
  const auto at = (reinterpret_cast<uintptr_t>(block) + kCacheLine - 1) & ~uintptr_t{kCacheLine - 1};
  auto *made = reinterpret_cast<APolygon *>(at);
  // The shading words are those of the pixel being resolved: none yet.
  auto *shades = static_cast<AShade *>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(AShade))));
  auto *listed =
      static_cast<ScanPolygon **>(VoAllocate(static_cast<uint32_t>(capacity * sizeof(ScanPolygon *))));
  if (shades == nullptr || listed == nullptr) {
    VoDeallocate(block);
    VoDeallocate(shades);
    VoDeallocate(listed);
    r->out_of_memory = true;
    return false;
  }
  if (r->active_capacity > 0) {
    std::memcpy(static_cast<void *>(made), r->active, r->active_capacity * sizeof(APolygon));
    std::memcpy(listed, r->listed, r->active_capacity * sizeof(ScanPolygon *));
  }
  VoDeallocate(r->active_block);
  VoDeallocate(r->shades);
  VoDeallocate(r->listed);
  r->shades = shades;
  r->listed = listed;
  r->active_block = block;
  r->active = made;
  r->active_capacity = capacity;
  return true;
}

bool PiecesGather(RenderFrame *f, ABufferRender *r, int32_t y) {
  const MaskTable &table = State()->masks;
  uint32_t order = 0;
  r->piece_count = 0;
  r->run_count = 0;
  r->view_first = f->xmin;
  r->view_last = f->xmin + f->width - 1;
  // The walk waits on memory: what it reads is asked for in stages, the
  // record of the polygon four ahead and the edges the one two ahead had
  // on the last line (its record came two steps ago; a polygon's active
  // edges change only at their ends' lines).
  const auto record = [](const void *p) {
    const char *c = static_cast<const char *>(p);
    __builtin_prefetch(c);
    __builtin_prefetch(c + 64);
    __builtin_prefetch(c + 128);
    __builtin_prefetch(c + 192);
    __builtin_prefetch(c + sizeof(AScan) - 1);
  };
  const auto edge = [](const ScanEdge *e) {
    __builtin_prefetch(e);
    __builtin_prefetch(reinterpret_cast<const char *>(e) + offsetof(ScanEdge, ly));
  };
  ScanPolygon *ahead[4] = {};
  {
    ScanPolygon *p = f->active_first;
    for (ScanPolygon *&a : ahead) {
      p = p != nullptr ? p->next : nullptr;
      a = p;
      if (p != nullptr) record(p);
    }
  }
  for (ScanPolygon *q = f->active_first; q != nullptr; q = q->next) {
    if (ScanPolygon *n = ahead[1])
      for (const ScanEdge *e : AOf(n)->edges_seen)
        if (e != nullptr) edge(e);
    ahead[0] = ahead[1], ahead[1] = ahead[2], ahead[2] = ahead[3];
    ahead[3] = ahead[3] != nullptr ? ahead[3]->next : nullptr;
    if (ahead[3] != nullptr) record(ahead[3]);
    AScan *s = AOf(q);
    ReferenceTake(s);
    if (order == r->active_capacity && !ActiveGrow(r)) return false;
    APolygon *a = &r->active[order];
    r->listed[order] = q;
    a->q = s;
    a->order = order;
    a->state = 0;
    a->covering = a->shaded = a->hidden = false;
    a->touched = kNotTouched;
    a->opaque = s->opaque;
    a->depth_dx = s->depth_dx, a->depth_dy = s->depth_dy;
    a->ref_x = static_cast<int32_t>(s->ref_x);
    a->base_z = s->ref_z + int64_t{s->depth_dy} * (int64_t{256} * y - s->ref_y) / 256;
    PieceContext context{r, order++, {1, 0, 0}};
    const ScanEdge *seen[2] = {q->active_first, q->active_first != nullptr ? q->active_first->next : nullptr};
    if (seen[0] != s->edges_seen[0] || seen[1] != s->edges_seen[1])
      s->edges_seen[0] = seen[0], s->edges_seen[1] = seen[1];
    for (ScanEdge *e = q->active_first; e != nullptr; e = e->next)
      LineBandPieces(table, e->ux, e->uy, e->lx, e->ly, int64_t{y} * 256, &PieceAdd, &context);
    if (context.open.first <= context.open.last) ZeroRunClose(&context);
    if (!WorkDone(r, 1)) return false;
  }
  r->listed_count = order;
  r->cover_first = kNoPolygon;
  // Gathered in order: a stable sort by first column keeps it among equals.
  std::stable_sort(r->runs, r->runs + r->run_count,
                   [](const ZeroRun &a, const ZeroRun &b) { return a.first < b.first; });
  r->runs_over_count = 0;
  return !r->out_of_memory && PiecesSort(f, r) && FragmentsReserve(r, size_t{order} + 1);
}

// The zero runs over column x, by order: those ended dropped, those
// starting (from runs[*next] on) merged in.
void ZeroRunsAt(ABufferRender *r, int32_t x, size_t *next) {
  size_t n = 0;
  for (size_t k = 0; k < r->runs_over_count; ++k)
    if (r->runs_over[k].last >= x) r->runs_over[n++] = r->runs_over[k];
  const size_t from = *next;
  while (*next < r->run_count && r->runs[*next].first <= x) ++*next;
  if (*next > from) {
    const auto by_order = [](const ZeroRun &a, const ZeroRun &b) { return a.order < b.order; };
    ZeroRun *end =
        std::merge(r->runs_over, r->runs_over + n, r->runs + from, r->runs + *next, r->runs_merged, by_order);
    n = static_cast<size_t>(end - r->runs_merged);
    std::swap(r->runs_over, r->runs_merged);
  }
  r->runs_over_count = n;
}

// The pixel where pieces lie: the touched polygons' masks, then every
// polygon that shows there composited.
size_t EdgePixel(RenderFrame *f, ABufferRender *r, int32_t x, size_t i) {
  size_t touched = 0;
  // The pieces and the zero runs over x, by order: touched in that order.
  size_t k = 0;
  for (;;) {
    const bool piece = i < r->piece_count && r->pieces[i].column == x;
    const bool run = k < r->runs_over_count;
    if (!piece && !run) break;
    const bool zero = run && (!piece || r->runs_over[k].order < r->pieces[i].order);
    APolygon *a = &r->active[zero ? r->runs_over[k].order : r->pieces[i].order];
    if (a->touched != x) {
      a->touched = x;
      a->mask = a->state;
      r->touched[touched++] = a;
    }
    if (zero) {
      ++k;
    } else {
      a->mask ^= r->pieces[i].mask;
      a->state ^= r->pieces[i].rows;
      ++i;
    }
    if (!WorkDone(r, 1)) break;
  }
  size_t count = CoverFragments(r, x);
  for (size_t t = 0; t < touched; ++t) {
    APolygon *a = r->touched[t];
    SamplePoint &sample = ShadeOf(r, a).sample;
    if (a->mask == 0 || !SamplePosition(a->mask, &sample)) continue;
    if (a->mask == kFullMask) sample = {0.5f, 0.5f, true};
    if (r->full_samples && !sample.central) continue;
    a->shaded = false;
    DepthRange(a, x);
    r->fragments[count++] = a;
  }
  count = FragmentsOrder(r, count);
  ++r->edge_pixels;
  r->edge_fragments += count;
  PixelComposite(f, r, x, count);
  for (size_t t = 0; t < touched; ++t) CoverUpdate(r, r->touched[t]);
  return i;
}

VtStatus ALineScan(int32_t y) {
  RenderFrame *f = Frame();
  ABufferRender *r = RenderOf(f);
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  r->y = y;
  r->work = 0;
  if (!PiecesGather(f, r, y)) return r->interrupted ? VO_COND_INTERRUPTED : VO_STATUS_NO_MEMORY;
  const int32_t first = f->xmin, last = f->xmin + f->width - 1;
  size_t i = 0;
  // Pieces left of the viewport only move the rows inside.
  for (; i < r->piece_count && r->pieces[i].column < first; ++i) {
    APolygon *a = &r->active[r->pieces[i].order];
    a->state ^= r->pieces[i].rows;
    CoverUpdate(r, a);
  }
  size_t run = 0;
  for (int32_t x = first; x <= last && !r->interrupted;) {
    if (r->runs_over_count > 0 || (run < r->run_count && r->runs[run].first <= x)) ZeroRunsAt(r, x, &run);
    int32_t next = i < r->piece_count ? std::min(r->pieces[i].column, last + 1) : last + 1;
    if (r->runs_over_count > 0)
      next = x;
    else if (run < r->run_count)
      next = std::min(next, r->runs[run].first);
    if (next > x) {
      RunPaint(f, r, x, next - 1);
      x = next;
      continue;
    }
    i = EdgePixel(f, r, x, i);
    ++x;
  }
  // An interrupt within the line leaves it unwritten.
  if (r->interrupted) return VO_COND_INTERRUPTED;
  ActiveAdvance(f, r->listed, r->listed_count);
  return r->common.out_of_memory ? VO_STATUS_NO_MEMORY : 0;
}

VtStatus ABegin() {
  RenderFrame *f = Frame();
  VtStatus st = BeginCommon();
  if (st != 0) return st;
  auto *r = static_cast<ABufferRender *>(VoAllocate(sizeof(ABufferRender)));
  if (r == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  f->class_state = r;
  CommonTake(&r->common, f->execute_code, VO_SLOT_EVALUATE_IMAGE);
  ScratchSparesBegin(f);
  // (A band's worker copy of the record may predate the control.)
  r->full_samples = (r->common.loose ? MasterState() : State())->composite_flag != 0;
  r->background.q = &r->background_scan;
  r->background.order = kBackgroundOrder;
  r->cover_first = kNoPolygon;
  r->background.mask = kFullMask;
  r->background.opaque = true;
  r->background.zmin = r->background.zmax = kDepthFar;
  r->pieces = static_cast<Piece *>(VoAllocate(kFirstPieces * sizeof(Piece)));
  r->piece_capacity = r->pieces != nullptr ? kFirstPieces : 0;
  r->columns =
      static_cast<uint32_t *>(VoAllocate(static_cast<uint32_t>((size_t(f->width) + 2) * sizeof(uint32_t))));
  if (r->pieces == nullptr || r->columns == nullptr || !FragmentsReserve(r, kFirstFragments))
    return VO_STATUS_NO_MEMORY;
  return 0;
}

VtStatus AEnd() {
  RenderFrame *f = Frame();
  ABufferRender *r = RenderOf(f);
  if (r != nullptr) PixelPieceRelease(r);
  const VtStatus st = ScanEnd();
  ScratchSparesEnd(f);
  if (r != nullptr) {
    // A band's counts go to the master record, with the other bands'.
    VtAdvancedRendererContext *counts = r->common.loose ? MasterState() : State();
    std::atomic_ref(counts->edge_pixels).fetch_add(r->edge_pixels, std::memory_order_relaxed);
    std::atomic_ref(counts->edge_fragments).fetch_add(r->edge_fragments, std::memory_order_relaxed);
    std::atomic_ref(counts->merged_fragments).fetch_add(r->merged, std::memory_order_relaxed);
    VoDeallocate(r->pieces);
    VoDeallocate(r->sorted);
    VoDeallocate(r->columns);
    VoDeallocate(r->runs);
    VoDeallocate(r->fragments);
    VoDeallocate(r->chain);
    VoDeallocate(r->frames);
    VoDeallocate(r->order.keyed);
    VoDeallocate(r->ends);
    VoDeallocate(r->active_block);
    VoDeallocate(r->shades);
    VoDeallocate(r->listed);
    VoDeallocate(r->waiting);
    VoDeallocate(r);
  }
  f->class_state = nullptr;
  return st;
}

// The class's methods, for the farm's comparison.
void MethodsConfigure(VtRenderClass *c) { ABufferConfigure(c, c->line_buffer); }

// The class in the running thread's context: a worker's own copy.
VtRenderClass *AClassOfContext() {
  const VtAdvancedRendererContext *a = State();
  return a != nullptr ? a->a_class : nullptr;
}

}  // namespace

void ABufferConfigure(VtRenderClass *c, void **line_buffer) {
  c->polygon_initialise = &APolygonInitialise;
  c->polygon_release = &APolygonRelease;
  c->edge_start = &AEdgeStart;
  c->edge_insert = &EdgeInsert;
  c->line_activate = &ALineActivate;
  c->line_scan = &ALineScan;
  c->begin = &ABegin;
  c->end = &AEnd;
  c->progress = &AdvancedProgress;
  c->skip_flat_edges = 0;
  c->advanced = 1;
  c->kind = 3;
  c->line_buffer = line_buffer;
  c->polygon_size = sizeof(AScan);
  // Every polygon is kept (it may cover part of a pixel): each is made a
  // scan polygon only as the scan reaches it, not as its mesh is reached.
  c->setup_at_first_line = 1;
  // Its renders may be scanned in bands on the work farm.
  c->farm_configure = &MethodsConfigure;
  c->farm_class = &AClassOfContext;
  c->farm_line_passed = &ReferencesTake;
}

size_t ABufferPolygonSize() { return sizeof(AScan); }

void *CurrentPrimitive() {
  const ABufferRender *r = Running();
  return r != nullptr && r->current != nullptr ? r->current->scan.primitive : nullptr;
}

void *PixelPiece() {
  ABufferRender *r = Running();
  const VtAdvancedRendererContext *adv = State();
  if (r == nullptr || r->current == nullptr || adv->clip_sides == nullptr || adv->clip_discard == nullptr)
    return nullptr;
  const VtStandardRendererContext *s = renstd::State();
  const RenderFrame *f = s->frame;
  AScan *a = r->current;
  VtPrimitive *p = a->scan.primitive;
  const float xp = *s->g_xp, yp = *s->g_yp;
  PixelPieceRelease(r);
  if (a->row_piece == nullptr || a->row_yp != yp) {
    RowPieceRelease(r, a);
    a->row_piece = Clip(r, p, a->scan.polygon, VO_CLIP_SIDE_TOP, yp / f->yres, (yp + 1) / f->yres);
    a->row_yp = yp;
  }
  if (a->row_piece == nullptr) return nullptr;
  VtPolygon *piece = Clip(r, p, a->row_piece, VO_CLIP_SIDE_LEFT, xp / f->xres, (xp + 1) / f->xres);
  if (piece == nullptr) return nullptr;
  float *to = LayoutField<float>(p->contents, piece, VO_POLY_PLANE);
  const float *from = LayoutField<float>(p->contents, a->scan.polygon, VO_POLY_PLANE);
  if (to != nullptr && from != nullptr) std::memcpy(to, from, 4 * sizeof(float));
  r->pixel_piece = piece;
  r->pixel_piece_source = a->row_piece;
  r->pixel_piece_primitive = p;
  return piece;
}

}  // namespace vo::renadv

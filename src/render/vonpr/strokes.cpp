// Strokes: every edge becomes a ribbon mesh whose width is set in screen
// space and whose vertices are put back into the scene, and the ribbons are
// rendered by the advanced renderer in place of the scene's primitives.
//
// Invariants a reader must know:
// - a segment whose projected ends coincide, or with an end at or behind
//   the eye, is skipped; a ribbon of no drawn segment, or too thin to draw
//   (width 1e-9 as width 0), makes no mesh, and a mesh refused otherwise
//   is a lack of memory;
// - the half-width tapers by (i/n)(1 - e) + e in floating point;
// - ribbons are two-sided: the back-face cull never drops a stroke;
// - the scene's primitive list is the application's again after drawing,
//   whatever failed.

#include <algorithm>
#include <cmath>
#include <vector>

#include "scene/vogeom/face.h"
#include "render/vonpr/npr.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

namespace {

struct V2 {
  double x, y;
};
V2 operator+(V2 a, V2 b) { return {a.x + b.x, a.y + b.y}; }
V2 operator-(V2 a, V2 b) { return {a.x - b.x, a.y - b.y}; }
V2 operator*(double s, V2 a) { return {s * a.x, s * a.y}; }
double Dot2(V2 a, V2 b) { return a.x * b.x + a.y * b.y; }
double Length2(V2 a) { return std::sqrt(Dot2(a, a)); }
V2 Unit2(V2 a) {
  const double n = Length2(a);
  return n > 0 ? V2{a.x / n, a.y / n} : a;
}

// A half-width (in the normalised coordinates of the frame) at or below
// this is not raised to the frame's least and draws nothing.
constexpr double kThinnestDrawn = 1e-5;

// One drawn segment: its point indices, projected ends, half-widths, unit
// direction.
struct Segment {
  uint32_t k;
  V2 a, b;
  double wa, wb;
  V2 t;
};

struct Line {
  V2 origin, direction;
};

struct Ribbon {
  std::vector<V2> points;
  std::vector<float> v;
  std::vector<uint32_t> segment;  // the segment whose plane a vertex lies in
  std::vector<int32_t> sizes, indices;
  uint32_t Add(V2 p, float tex, uint32_t k) {
    points.push_back(p);
    v.push_back(tex);
    segment.push_back(k);
    return static_cast<uint32_t>(points.size() - 1);
  }
  void Face(std::initializer_list<uint32_t> corners) {
    sizes.push_back(static_cast<int32_t>(corners.size()));
    for (uint32_t c : corners) indices.push_back(static_cast<int32_t>(c));
  }
};

std::vector<Segment> Segments(const Context *c, const VtNPREdge *e, const Parameters &p) {
  std::vector<Segment> out;
  for (uint32_t k = 0; k + 1 < e->count; ++k) {
    double A[3], B[3], a[2], b[2];
    for (int i = 0; i < 3; ++i) A[i] = e->points[size_t{k} * 3 + i], B[i] = e->points[size_t{k + 1} * 3 + i];
    if (!Normalised(c, A, a) || !Normalised(c, B, b)) continue;
    if (std::fabs(a[0] - b[0]) < (std::fabs(a[0]) + std::fabs(b[0]) + 1) * 1e-5 &&
        std::fabs(a[1] - b[1]) < (std::fabs(a[1]) + std::fabs(b[1]) + 1) * 1e-5)
      continue;
    const V2 va{a[0], a[1]}, vb{b[0], b[1]};
    if (Length2(vb - va) < 1e-6) continue;
    out.push_back({k, va, vb, HalfWidth(c, e, p, k), HalfWidth(c, e, p, k + 1), Unit2(vb - va)});
  }
  return out;
}

// Where the line from origin along direction meets the other line: the
// point and its parameter s (clamped to +-limit); parallel lines give the
// origin with s = 1e10.
V2 Meet(const Line &line, const Line &other, double limit, double *s) {
  const V2 normal{other.direction.y, -other.direction.x};
  const double along = Dot2(normal, line.direction);
  if (std::fabs(along) < 1e-5) {
    *s = 1e10;
    return line.origin;
  }
  *s = std::clamp(Dot2(normal, other.origin - line.origin) / along, -limit, limit);
  return line.origin + *s * line.direction;
}

// The ribbon in normalised coordinates.
void RibbonBuild(const std::vector<Segment> &segments, Ribbon *r) {
  uint32_t pl = 0, pr = 0;
  Line prev_left{}, prev_right{};
  V2 prev_t{};
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment &g = segments[i];
    const V2 m{g.t.y, -g.t.x};
    V2 L0 = g.a + g.wa * m, R0 = g.a - g.wa * m, L1 = g.b + g.wb * m, R1 = g.b - g.wb * m;
    if (i == 0) L0 = L0 - g.wa * g.t, R0 = R0 - g.wa * g.t;
    if (i + 1 == segments.size()) L1 = L1 + g.wb * g.t, R1 = R1 + g.wb * g.t;
    const Line left{L0, Unit2(L1 - L0)}, right{R0, Unit2(R1 - R0)};
    if (i == 0) {
      pl = r->Add(L0, 0, g.k);
      pr = r->Add(R0, 1, g.k);
    } else {
      const double c = Dot2(g.t, prev_t), sigma = prev_t.x * g.t.y - prev_t.y * g.t.x;
      const double len = 2 * Length2(g.b - g.a);
      double sll, srl, slr, srr;
      const V2 qll = Meet(left, prev_left, len, &sll), qrl = Meet(right, prev_left, len, &srl);
      const V2 qlr = Meet(left, prev_right, len, &slr), qrr = Meet(right, prev_right, len, &srr);
      const double limit = len / 2;
      if (c < -0.99) {
        const uint32_t nl = r->Add(L0, 0, g.k), nr = r->Add(R0, 1, g.k);
        r->Face({pl, pr, nl, nr});
        pl = nl, pr = nr;
      } else if (c > 0.99 || c >= 0) {
        const V2 nlp = Dot2(left.direction, prev_left.direction) > 0.99 ? L0 : qll;
        const V2 nrp = Dot2(right.direction, prev_right.direction) > 0.99 ? R0 : qrr;
        const uint32_t nl = r->Add(nlp, 0, g.k), nr = r->Add(nrp, 1, g.k);
        r->Face({pl, pr, nr, nl});
        pl = nl, pr = nr;
      } else if (sigma >= 0) {  // kind 5
        const V2 pa = srr <= limit ? qrr : R1, pb = srl >= 0 ? qrl : R0;
        const uint32_t b = r->Add(pb, 0, g.k), q = r->Add(qlr, 0, g.k), a = r->Add(pa, 1, g.k);
        r->Face({pl, pr, a, b});
        r->Face({b, a, q});
        pl = q, pr = a;
      } else {  // kind 2
        const V2 pa = sll <= limit ? qll : L1, pb = slr >= 0 ? qlr : L0;
        const uint32_t b = r->Add(pb, 1, g.k), a = r->Add(pa, 0, g.k), q = r->Add(qrl, 1, g.k);
        r->Face({pl, pr, b, a});
        r->Face({a, b, q});
        pl = a, pr = q;
      }
    }
    prev_left = left, prev_right = right, prev_t = g.t;
    if (i + 1 == segments.size()) {
      const uint32_t l1 = r->Add(L1, 0, g.k), r1 = r->Add(R1, 1, g.k);
      r->Face({pl, pr, r1, l1});
    }
  }
}

// The plane intersection of the ray: false when the ray misses it.
bool RayPlane(const double origin[3], const double ray[3], const double point[3], const double normal[3],
              double out[3]) {
  const double d = vec::Dot(normal, ray);
  if (!(std::fabs(d) >= 1e-5)) return false;
  double to[3];
  for (int i = 0; i < 3; ++i) to[i] = point[i] - origin[i];
  const double lambda = vec::Dot(normal, to) / d;
  if (!(lambda > 0)) return false;
  for (int i = 0; i < 3; ++i) out[i] = origin[i] + lambda * ray[i];
  return true;
}

void WorldVertex(const Context *c, const VtNPREdge *e, uint32_t k, V2 q2, float out[3]) {
  double origin[3], ray[3], world[3];
  const double q[2] = {q2.x, q2.y};
  ScreenRay(c, q, origin, ray);
  const float *A = e->points + size_t{k} * 3, *B = e->points + size_t{k + 1} * 3;
  const double a[3] = {A[0], A[1], A[2]};
  if (c->plane_projection == 0 || c->frame.projection == VO_PROJECTION_PARALLEL) {
    const double scale = 100.0 / vec::Dot(ray, c->frame.dir);
    for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(origin[i] + scale * ray[i]);
    return;
  }
  double t3[3] = {double{B[0]} - A[0], double{B[1]} - A[1], double{B[2]} - A[2]}, across[3], normal[3];
  vec::Normalise(t3);
  vec::Cross(t3, ray, across);
  if (std::sqrt(vec::Dot(across, across)) < 0.001) {
    for (int i = 0; i < 3; ++i) normal[i] = ray[i];
  } else {
    vec::Cross(across, t3, normal);
    vec::Normalise(normal);
  }
  if (!RayPlane(origin, ray, a, normal, world) && !RayPlane(origin, ray, a, ray, world))
    for (int i = 0; i < 3; ++i) world[i] = a[i];
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(world[i]);
}

}  // namespace

double HalfWidth(const Context *c, const VtNPREdge *e, const Parameters &p, uint32_t i) {
  double point[3];
  for (int k = 0; k < 3; ++k) point[k] = e->points[size_t{i} * 3 + k] - c->frame.eye[k];
  const double z = std::sqrt(vec::Dot(point, point));
  double w;
  if (z < p.near_depth)
    w = p.near_width;
  else if (z >= p.far_depth)
    w = p.far_width;
  else
    w = p.near_width +
        (double{p.far_width} - p.near_width) * (z - p.near_depth) / (double{p.far_depth} - p.near_depth);
  if ((e->user & 4) != 0) w *= p.width_factor;
  if ((p.flags & VO_NPR_FLAG_TAPER) != 0)
    w *= (static_cast<double>(i) / e->count) * (1.0 - p.taper_end) + p.taper_end;
  if (w > kThinnestDrawn) w = std::max(w, c->frame.min_half);
  return w;
}

VtPrimitive *StrokeMeshCreate(Context *c, const VtNPREdge *e, const Parameters &p, VtStatus *status) {
  if (e->count < 2) return nullptr;
  Ribbon r;
  std::vector<float> world, texture;
  // A ribbon no half-width of which reaches the thinnest drawn is no
  // stroke, as one of width 0 is: its corners may coincide in floats, and
  // the mesh refused as degenerate is then not taken for a lack of memory.
  bool broad = false;
  try {
    const std::vector<Segment> segments = Segments(c, e, p);
    if (segments.empty()) return nullptr;
    for (const Segment &g : segments) broad = broad || g.wa > kThinnestDrawn || g.wb > kThinnestDrawn;
    if (!broad) return nullptr;
    RibbonBuild(segments, &r);
    world.resize(r.points.size() * 3);
    texture.resize(r.points.size() * 2);
  } catch (const std::bad_alloc &) {
    *status |= kNoMemory;
    return nullptr;
  }
  for (size_t i = 0; i < r.points.size(); ++i) {
    WorldVertex(c, e, r.segment[i], r.points[i], &world[i * 3]);
    texture[i * 2] = 0;
    texture[i * 2 + 1] = r.v[i];
  }
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_TEXCOORDS};
  VtTypedValue data[2] = {TypedPointer(world.data()), TypedPointer(texture.data())};
  data[0].type = data[1].type = VtFloatArray;
  VtPrimitive *mesh = VoPrimitiveCreateMesh(static_cast<uint32_t>(r.sizes.size()), nullptr, r.sizes.data(),
                                            r.indices.data(), 2, ids, data);
  if (mesh == nullptr) {
    *status |= kNoMemory;
    return nullptr;
  }
  // A material that is no live one is refused here with its status.
  VtStatus st = VoPrimitiveSetSidedness(mesh, 1);
  if (st == 0 && p.material != nullptr) st = VoPrimitiveSetMaterial(mesh, p.material);
  if (st != 0) {
    *status |= st;
    (void)VoPrimitiveDestroy(mesh);
    return nullptr;
  }
  return mesh;
}

// With no stroke and background set (the whole stroke renders) the render
// still runs over an empty list, so that its frame holds the background as
// every other render's does; the view's clipping is fitted only to strokes
// there are.

VtStatus DrawStrokes(Context *c, VtReference *list, bool background) {
  VtStatus st = 0;
  VtReference *strokes = nullptr;
  ForEachNode(list, [&](VtReference *n) {
    auto *e = static_cast<VtNPREdge *>(n->data);
    VtPrimitive *mesh = StrokeMeshCreate(c, e, ParametersOf(c, e->owner), &st);
    if (mesh == nullptr) return;
    VtReference *node = VoPrimitiveReferenceCreate(mesh);
    if (node == nullptr) {
      (void)VoPrimitiveDestroy(mesh);
      st |= kNoMemory;
      return;
    }
    strokes = VoPrimitiveReferenceAppend(strokes, node);
  });
  if (st == 0 && (strokes != nullptr || background)) {
    // What the callbacks set while the strokes render is the application's
    // list, put back after.
    VtReference *application = VoPrimitiveListGet();
    st = VoPrimitiveListSet(strokes);
    if (st == 0) {
      if (strokes != nullptr) (void)VoViewAutoClipping(nullptr);
      SceneListLent lent;
      SceneListLentEnter(&lent, application);
      st = VoExecute(c->render_code);
      SceneListLentLeave(&lent);
    } else {
      SceneListRestore(application);
    }
  }
  if (strokes != nullptr) (void)VoPrimitiveReferenceDestroy(strokes, 1);
  return st;
}

}  // namespace vo::npr

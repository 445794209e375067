// Polygon texture frames: from the first three vertices' positions and
// texture coordinates, the unit directions in which s and t grow along the
// surface (dPds, dPdt), the world length of a unit step in each (ds, dt) and
// whether the frame turns left about the normal.
//
// Everything is solved in doubles. ds and dt are world length per unit step
// in every case: 1/|grad c| from the one-coordinate solve, len/|delta| of the
// dominant coordinate from the two-point solve (1e6 for the other), the
// lengths of the frame vectors from the general solve. A frame made from one
// direction takes the other as dPdt = N x dPds or dPds = dPdt x N, so that it
// turns right about N. Every degenerate configuration answers 0x2000000a.

#include <cmath>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

namespace {

constexpr VtStatus kDegenerate = 0x2000000au;
constexpr double kFar = 1e6;

struct Vec {
  double x, y, z;
  Vec operator-(const Vec &o) const { return {x - o.x, y - o.y, z - o.z}; }
  Vec operator+(const Vec &o) const { return {x + o.x, y + o.y, z + o.z}; }
  Vec operator*(double k) const { return {x * k, y * k, z * k}; }
};

bool Same(double a, double b) { return std::fabs(a - b) < (std::fabs(a) + std::fabs(b) + 1) * 0.0001; }

// Sarrus' rule on the rows.
double Det(const Vec &a, const Vec &b, const Vec &c) {
  return a.x * b.y * c.z + a.y * b.z * c.x + a.z * b.x * c.y - a.z * b.y * c.x - a.x * b.z * c.y -
         a.y * b.x * c.z;
}

// Cramer's rule: the solution of rows . X = rhs, given det of the rows.
Vec Cramer(const Vec rows[3], const Vec &rhs, double det) {
  const Vec cx[3] = {
      {rhs.x, rows[0].y, rows[0].z}, {rhs.y, rows[1].y, rows[1].z}, {rhs.z, rows[2].y, rows[2].z}};
  const Vec cy[3] = {
      {rows[0].x, rhs.x, rows[0].z}, {rows[1].x, rhs.y, rows[1].z}, {rows[2].x, rhs.z, rows[2].z}};
  const Vec cz[3] = {
      {rows[0].x, rows[0].y, rhs.x}, {rows[1].x, rows[1].y, rhs.y}, {rows[2].x, rows[2].y, rhs.z}};
  return {Det(cx[0], cx[1], cx[2]) / det, Det(cy[0], cy[1], cy[2]) / det, Det(cz[0], cz[1], cz[2]) / det};
}

struct Frame {
  Vec dPds, dPdt;
  double ds, dt;
};

// The gradient of one coordinate in the plane: its unit direction and the
// world length of a unit step.
VtStatus GradientSolve(const Vec P[3], const Vec &N, const double c[3], Vec *direction, double *step) {
  const Vec rows[3] = {P[0] - P[1], P[0] - P[2], N};
  const double det = Det(rows[0], rows[1], rows[2]);
  if (std::fabs(det) < 1e-12) return kDegenerate;
  const Vec X = Cramer(rows, {c[0] - c[1], c[0] - c[2], 0}, det);
  const double length = vec::Length(X);
  if (length < 1e-6) return kDegenerate;
  *direction = X * (1 / length);
  *step = 1 / length;
  return 0;
}

VtStatus TwoPointSolve(const Vec &A, const Vec &B, double sA, double tA, double sB, double tB, const Vec &N,
                       Frame *f) {
  const Vec D = B - A;
  const double len = vec::Length(D);
  if (len <= 1e-12) return kDegenerate;
  const Vec u = D * (1 / len);
  if (std::fabs(sB - sA) > std::fabs(tB - tA)) {
    f->dPds = sB - sA < 0 ? u * -1 : u;
    f->dPdt = vec::Cross(N, f->dPds);
    f->ds = len / std::fabs(sB - sA);
    f->dt = kFar;
  } else {
    f->dPdt = tB - tA < 0 ? u * -1 : u;
    f->dPds = vec::Cross(f->dPdt, N);
    f->ds = kFar;
    f->dt = len / std::fabs(tB - tA);
  }
  return 0;
}

// The first pair of vertices with equal (s, t) collapsed onto the odd one;
// false when no pair is equal.
bool CoincidentSolve(const Vec P[3], const double s[3], const double t[3], const Vec &N, Frame *f,
                     VtStatus *status) {
  static constexpr int kPairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  static constexpr int kKept[3][2] = {{0, 2}, {0, 1}, {1, 0}};
  for (int i = 0; i < 3; ++i) {
    const int a = kPairs[i][0], b = kPairs[i][1];
    if (!Same(s[a], s[b]) || !Same(t[a], t[b])) continue;
    const int first = kKept[i][0], second = kKept[i][1];
    Vec moved = P[first];
    const Vec edge = P[b] - P[a];
    const double edge_length = vec::Length(edge);
    if (edge_length > 0) {
      const Vec e = edge * (1 / edge_length);
      moved = moved + e * (vec::Dot(P[second] - moved, e));
    }
    *status = TwoPointSolve(moved, P[second], s[first], t[first], s[second], t[second], N, f);
    return true;
  }
  return false;
}

VtStatus GeneralSolve(Vec P[3], const double s[3], const double t[3], const Vec &N, Frame *f) {
  double det = Det(P[0], P[1], P[2]);
  if (std::fabs(det) < 1e-16) {
    for (int i = 0; i < 3; ++i) P[i] = P[i] + Vec{1, 1, 1};
    det = Det(P[0], P[1], P[2]);
    if (std::fabs(det) < 1e-16) return kDegenerate;
  }
  Vec g = Cramer(P, {s[0], s[1], s[2]}, det);
  Vec h = Cramer(P, {t[0], t[1], t[2]}, det);
  Vec base = P[1];
  double k = 1;
  double frame_det = Det(g, h, N);
  if (std::fabs(frame_det) < 1e-16) {
    const double coords = std::fabs(s[1]) + std::fabs(t[1]);
    const double ratio =
        coords > 0.01 ? (std::fabs(base.x) + std::fabs(base.y) + std::fabs(base.z)) / coords : 0;
    k = coords > 0.01 && ratio <= 1000 ? ratio : 1000;
    g = g * k;
    h = h * k;
    base = base * (1 / k);
    frame_det = Det(g, h, N);
    if (std::fabs(frame_det) < 1e-16) return kDegenerate;
  }
  const Vec rows[3] = {g, h, N};
  const double level = vec::Dot(N, base);
  const Vec X1 = Cramer(rows, {s[1] + 1, t[1], level}, frame_det);
  const Vec X2 = Cramer(rows, {s[1], t[1] + 1, level}, frame_det);
  const Vec dPds = X1 - base, dPdt = X2 - base;
  const double ls = vec::Length(dPds), lt = vec::Length(dPdt);
  if (ls < 1e-6 || lt < 1e-6) return kDegenerate;
  f->dPds = dPds * (1 / ls);
  f->dPdt = dPdt * (1 / lt);
  f->ds = ls * k;
  f->dt = lt * k;
  return 0;
}

VtStatus FrameSolve(Vec P[3], const double s[3], const double t[3], const Vec &N, Frame *f) {
  const bool s_constant = Same(s[0], s[1]) && Same(s[0], s[2]);
  const bool t_constant = Same(t[0], t[1]) && Same(t[0], t[2]);
  if (s_constant && t_constant) return kDegenerate;
  if (s_constant) {
    if (VtStatus st = GradientSolve(P, N, t, &f->dPdt, &f->dt)) return st;
    f->dPds = vec::Cross(f->dPdt, N);
    f->ds = kFar;
    return 0;
  }
  if (t_constant) {
    if (VtStatus st = GradientSolve(P, N, s, &f->dPds, &f->ds)) return st;
    f->dPdt = vec::Cross(N, f->dPds);
    f->dt = kFar;
    return 0;
  }
  VtStatus st = 0;
  if (CoincidentSolve(P, s, t, N, f, &st)) return st;
  return GeneralSolve(P, s, t, N, f);
}

void Store(const Vec &v, float out[3]) {
  out[0] = static_cast<float>(v.x);
  out[1] = static_cast<float>(v.y);
  out[2] = static_cast<float>(v.z);
}

}  // namespace

VtStatus TextureFrameSolve(const float positions[3][3], const float coordinates[3][2], const float normal[3],
                           TextureFrame *out) {
  Vec P[3];
  double s[3], t[3];
  for (int i = 0; i < 3; ++i) {
    P[i] = {positions[i][0], positions[i][1], positions[i][2]};
    s[i] = coordinates[i][0];
    t[i] = coordinates[i][1];
  }
  const Vec N{normal[0], normal[1], normal[2]};
  Frame f{};
  if (VtStatus st = FrameSolve(P, s, t, N, &f)) return st;
  const double c = std::fabs(vec::Dot(f.dPds, f.dPdt));
  if (std::fabs(c - 1) <= (c + 2) * 1e-6) return kDegenerate;  // parallel directions
  Store(f.dPds, out->dPds);
  Store(f.dPdt, out->dPdt);
  out->ds = static_cast<float>(f.ds);
  out->dt = static_cast<float>(f.dt);
  out->handedness = vec::Dot(vec::Cross(f.dPds, f.dPdt), N) < 0 ? 1u : 0u;
  return 0;
}

}  // namespace vo::shader

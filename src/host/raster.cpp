// The software device's triangle loop (conventions in d3d_device.h):
// vertices are transformed once per draw into the scratch; a triangle wholly
// inside the clip volume goes straight to scan conversion, one partly
// outside is clipped in homogeneous space (double precision, each cut made
// from the inside end so that neighbours meet exactly) and drawn as a fan.
//
// Invariants a reader must know:
// - screen positions are snapped to 1/256 pixel; edge functions are exact
//   64-bit integers, so the top-left rule decides every shared edge once;
// - per-pixel accumulators are unsigned (wrapping, never undefined) and
//   clamped when read: a degenerate sliver may give wild steps, never a
//   fault;
// - every float turned into an integer is clamped first (NaN included).
#include "host/raster.h"

#include <cmath>
#include <algorithm>
#include <cstring>

namespace vo::platform {

namespace {

using V4 = uint32_t __attribute__((vector_size(16)));
using S4 = int32_t __attribute__((vector_size(16)));

constexpr uint32_t kOutNotFinite = 0x80000000u;  // a vertex whose position is not finite
constexpr int kPlanes = 7;
constexpr double kLeastW = 1e-30;
constexpr int kMostClipped = 16;

struct Transformed {
  double c[4];
  uint32_t out;
  int32_t fx, fy;
  float z, rw;
};

// A vertex ready for scan conversion: snapped position, depth 0..1, 1/w,
// colour channels 0..255, texture coordinates.
struct ScreenVertex {
  int32_t fx, fy;
  double z;
  double rw;
  float col[4], spec[3];
  float u, v;
  bool original;
};

struct ClipVertex {
  double c[4];
  float a[9];  // r, g, b, a, specular r, g, b, u, v
  bool original;
};

struct TextureInfo {
  const PixelView *view;
  const uint8_t *base;
  size_t pitch;
  int32_t w, h;
  uint32_t wmask, hmask;  // side - 1 for a power of two, else 0
  bool words;             // 32-bit words 0xAARRGGBB, read directly
  bool linear;            // the filter of the triangle at hand
};

struct DrawContext {
  const RasterOptions *o;
  const RasterTarget *t;
  int32_t left, top, right, bottom;  // scissor, exclusive
  double ax, bx, ay, by, az, bz;     // viewport mapping
  double zmax;
  int zbytes;
  bool colour_words;   // the target stores 32-bit words 0xAARRGGBB
  uint32_t word_mask;  // X888 keeps its top byte 0
  bool textured;
  TextureInfo tex;
  RasterExtents *ext;
};

// --- small arithmetic ---------------------------------------------------------

inline double Clamp(double v, double lo, double hi) { return v > lo ? (v < hi ? v : hi) : lo; }

inline int64_t FloorDiv(int64_t n, int64_t d) {  // d > 0
  int64_t q = static_cast<int64_t>(std::floor(static_cast<double>(n) / static_cast<double>(d)));
  while (q * d > n) --q;
  while ((q + 1) * d <= n) ++q;
  return q;
}

inline V4 Splat(uint32_t v) { return V4{v, v, v, v}; }
inline V4 Min(V4 a, V4 b) {
  const V4 m = reinterpret_cast<V4>(reinterpret_cast<S4>(a) < reinterpret_cast<S4>(b));
  return (a & m) | (b & ~m);
}
inline V4 Max0(V4 a) {
  const V4 m = reinterpret_cast<V4>(reinterpret_cast<S4>(a) > S4{0, 0, 0, 0});
  return a & m;
}
// x / 255, rounded, for x in 0..65025.
inline V4 Div255(V4 x) {
  x += Splat(128);
  return (x + (x >> 8)) >> 8;
}
inline V4 Unpack(uint32_t w) { return V4{(w >> 16) & 255, (w >> 8) & 255, w & 255, w >> 24}; }
inline uint32_t Pack(V4 c) { return c[3] << 24 | c[0] << 16 | c[1] << 8 | c[2]; }
// 16.16 accumulators to channels 0..255.
inline V4 Channels(V4 fixed) {
  const V4 c = reinterpret_cast<V4>(reinterpret_cast<S4>(fixed) >> 16);
  return Min(Max0(c), Splat(255));
}

// Whether a 32-bit pixel kind is stored as native words 0xAARRGGBB here.
bool StoresWords(PixelKind kind) {
  if (BytesPerPixel(kind) != 4) return false;
  uint32_t word = 0;
  PixelView v{reinterpret_cast<uint8_t *>(&word), 4, 1, 1, kind, nullptr, nullptr};
  PixelWrite(v, 0, 0, Colour8{0x11, 0x22, 0x33, 0x44});
  return (word & 0xffffff) == 0x112233;
}

inline uint32_t WordOf(Colour8 c) {
  return static_cast<uint32_t>(c.a) << 24 | static_cast<uint32_t>(c.r) << 16 |
         static_cast<uint32_t>(c.g) << 8 | c.b;
}

// --- texture -----------------------------------------------------------------

inline int32_t Wrap(int32_t k, int32_t n, uint32_t mask) {
  if (mask != 0) return static_cast<int32_t>(static_cast<uint32_t>(k) & mask);
  const int32_t r = k % n;
  return r < 0 ? r + n : r;
}

inline uint32_t Texel(const TextureInfo &t, int32_t x, int32_t y) {
  if (t.words) return reinterpret_cast<const uint32_t *>(t.base + static_cast<size_t>(y) * t.pitch)[x];
  return WordOf(PixelRead(*t.view, x, y));
}

// a + (b - a) f / 256 on the four bytes of two words, rounded.
inline uint32_t LerpWords(uint32_t a, uint32_t b, uint32_t f) {
  const uint32_t g = 256 - f;
  const uint32_t rb = (((a & 0xff00ff) * g + (b & 0xff00ff) * f + 0x800080) >> 8) & 0xff00ff;
  const uint32_t ag = (((a >> 8) & 0xff00ff) * g + ((b >> 8) & 0xff00ff) * f + 0x800080) & 0xff00ff00;
  return rb | ag;
}

// The texel word at texture coordinates (u, v), wrapped.
inline uint32_t Sample(const TextureInfo &t, float u, float v) {
  if (!t.linear) {
    const double s = Clamp(static_cast<double>(u) * t.w, -1e9, 1e9),
                 r = Clamp(static_cast<double>(v) * t.h, -1e9, 1e9);
    return Texel(t, Wrap(static_cast<int32_t>(std::floor(s)), t.w, t.wmask),
                 Wrap(static_cast<int32_t>(std::floor(r)), t.h, t.hmask));
  }
  const float s = static_cast<float>(Clamp(static_cast<double>(u) * t.w - 0.5, -1e9, 1e9));
  const float r = static_cast<float>(Clamp(static_cast<double>(v) * t.h - 0.5, -1e9, 1e9));
  const float fs = std::floor(s), fr = std::floor(r);
  const auto fu = static_cast<uint32_t>((s - fs) * 256.0f), fv = static_cast<uint32_t>((r - fr) * 256.0f);
  const int32_t x0 = Wrap(static_cast<int32_t>(fs), t.w, t.wmask),
                y0 = Wrap(static_cast<int32_t>(fr), t.h, t.hmask);
  const int32_t x1 = x0 + 1 == t.w ? 0 : x0 + 1, y1 = y0 + 1 == t.h ? 0 : y0 + 1;
  const uint32_t top = LerpWords(Texel(t, x0, y0), Texel(t, x1, y0), fu);
  const uint32_t bottom = LerpWords(Texel(t, x0, y1), Texel(t, x1, y1), fu);
  return LerpWords(top, bottom, fv);
}

// --- one pixel ---------------------------------------------------------------

struct PixelInput {
  V4 col, spec;  // channels 0..255
  float u, v;
  bool specular;
};

// The colour a fragment gets before blending.
inline V4 Shade(const DrawContext &d, const PixelInput &in) {
  V4 c = in.col;
  if (d.textured) {
    const V4 t = Unpack(Sample(d.tex, in.u, in.v));
    V4 rgb;
    switch (d.o->map_blend) {
      case kBlendModulate:
      case kBlendModulateAlpha:
      case kBlendModulateMask: rgb = Div255(t * c); break;
      case kBlendAdd: rgb = Min(t + c, Splat(255)); break;
      default: rgb = t; break;
    }
    c = V4{rgb[0], rgb[1], rgb[2], c[3]};
  }
  if (in.specular) {
    const V4 s = Min(c + in.spec, Splat(255));
    c = V4{s[0], s[1], s[2], c[3]};
  }
  return c;
}

inline V4 ReadColour(const DrawContext &d, uint8_t *row, int32_t x, int32_t y) {
  if (d.colour_words) return Unpack(reinterpret_cast<uint32_t *>(row)[x]);
  const Colour8 c = PixelRead(d.t->colour, x, y);
  return V4{c.r, c.g, c.b, c.a};
}

inline void WriteColour(const DrawContext &d, uint8_t *row, int32_t x, int32_t y, V4 c) {
  if (d.o->alpha_blend) {
    const uint32_t a = c[3];
    c = Div255(c * Splat(a) + ReadColour(d, row, x, y) * Splat(255 - a));
  }
  if (d.colour_words) {
    reinterpret_cast<uint32_t *>(row)[x] = Pack(c) & d.word_mask;
    return;
  }
  PixelWrite(d.t->colour, x, y,
             Colour8{static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[2]),
                     static_cast<uint8_t>(c[3])});
}

inline uint32_t DepthRead(const uint8_t *p, int bytes) {
  if (bytes == 2) return *reinterpret_cast<const uint16_t *>(p);
  if (bytes == 4) return *reinterpret_cast<const uint32_t *>(p);
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
}
inline void DepthWrite(uint8_t *p, int bytes, uint32_t z) {
  if (bytes == 2) {
    *reinterpret_cast<uint16_t *>(p) = static_cast<uint16_t>(z);
  } else if (bytes == 4) {
    *reinterpret_cast<uint32_t *>(p) = z;
  } else {
    p[0] = static_cast<uint8_t>(z), p[1] = static_cast<uint8_t>(z >> 8), p[2] = static_cast<uint8_t>(z >> 16);
  }
}

// Depth test and write (less or equal); true when the fragment stays.
inline bool DepthPass(const DrawContext &d, int32_t x, int32_t y, uint32_t z) {
  if (d.zbytes == 0) return true;
  uint8_t *p =
      d.t->depth.base + static_cast<size_t>(y) * d.t->depth.pitch + static_cast<size_t>(x) * d.zbytes;
  if (z > DepthRead(p, d.zbytes)) return false;
  DepthWrite(p, d.zbytes, z);
  return true;
}

inline uint32_t DepthInteger(const DrawContext &d, double z01) {
  return static_cast<uint32_t>(Clamp(z01, 0.0, 1.0) * d.zmax + 0.5);
}

inline uint8_t *ColourRow(const DrawContext &d, int32_t y) {
  return d.t->colour.base + static_cast<size_t>(y) * d.t->colour.pitch;
}

// One fragment of a point or a line.
void Fragment(const DrawContext &d, int32_t x, int32_t y, double z01, const PixelInput &in) {
  if (x < d.left || x >= d.right || y < d.top || y >= d.bottom) return;
  if (!DepthPass(d, x, y, DepthInteger(d, z01))) return;
  WriteColour(d, ColourRow(d, y), x, y, Shade(d, in));
}

// --- spans ---------------------------------------------------------------------

struct Gradient {
  double at0, dx, dy;  // value at vertex 0, steps per pixel in x and y
};

struct TriangleSetup {
  double x0, y0;  // vertex 0 in pixels
  Gradient col[4], spec[3], z, u, v, rw;
  bool specular;
};

inline double At(const Gradient &g, double dx, double dy) { return g.at0 + g.dx * dx + g.dy * dy; }
inline uint32_t Fixed16(double v) {
  return static_cast<uint32_t>(static_cast<int32_t>(Clamp(v * 65536.0, -2e9, 2e9)));
}

template <int kZBytes, bool kWords, bool kTextured, bool kBlend>
void Span(const DrawContext &d, const TriangleSetup &s, int32_t y, int32_t x0, int32_t x1) {
  const double dx = x0 + 0.5 - s.x0, dy = y + 0.5 - s.y0;
  V4 col, dcol, spec{}, dspec{};
  for (int k = 0; k < 4; ++k) {
    col[k] = Fixed16(At(s.col[k], dx, dy)) + 32768u;
    dcol[k] = Fixed16(s.col[k].dx);
  }
  if (s.specular)
    for (int k = 0; k < 3; ++k) {
      spec[k] = Fixed16(At(s.spec[k], dx, dy)) + 32768u;
      dspec[k] = Fixed16(s.spec[k].dx);
    }
  const double zscale = d.zmax * 65536.0;
  auto z =
      static_cast<uint64_t>(static_cast<int64_t>(Clamp(At(s.z, dx, dy) * zscale + 32768.0, -1e18, 1e18)));
  const auto dz = static_cast<uint64_t>(static_cast<int64_t>(Clamp(s.z.dx * zscale, -1e18, 1e18)));
  const auto zmax = static_cast<int64_t>(d.zmax);
  float u = 0, v = 0, w = 1, du = 0, dv = 0, dw = 0;
  if (kTextured) {
    u = static_cast<float>(At(s.u, dx, dy)), v = static_cast<float>(At(s.v, dx, dy));
    du = static_cast<float>(s.u.dx), dv = static_cast<float>(s.v.dx);
    if (d.o->perspective) w = static_cast<float>(At(s.rw, dx, dy)), dw = static_cast<float>(s.rw.dx);
  }
  uint8_t *row = ColourRow(d, y);
  uint8_t *zrow = kZBytes != 0 ? d.t->depth.base + static_cast<size_t>(y) * d.t->depth.pitch : nullptr;
  for (int32_t x = x0; x <= x1; ++x, col += dcol, spec += dspec, z += dz, u += du, v += dv, w += dw) {
    if (kZBytes != 0) {
      int64_t zi = static_cast<int64_t>(z) >> 16;
      zi = zi < 0 ? 0 : (zi > zmax ? zmax : zi);
      uint8_t *p = zrow + static_cast<size_t>(x) * kZBytes;
      if (static_cast<uint32_t>(zi) > DepthRead(p, kZBytes)) continue;
      DepthWrite(p, kZBytes, static_cast<uint32_t>(zi));
    }
    V4 c = Channels(col);
    if (kTextured) {
      const float iw = d.o->perspective ? 1.0f / w : 1.0f;
      PixelInput in{c, Channels(spec), u * iw, v * iw, s.specular};
      c = Shade(d, in);
    } else if (s.specular) {
      const V4 t = Min(c + Channels(spec), Splat(255));
      c = V4{t[0], t[1], t[2], c[3]};
    }
    if (kWords) {
      uint32_t *p = reinterpret_cast<uint32_t *>(row) + x;
      if (kBlend) {
        const uint32_t a = c[3];
        c = Div255(c * Splat(a) + Unpack(*p) * Splat(255 - a));
      }
      *p = Pack(c) & d.word_mask;
    } else {
      WriteColour(d, row, x, y, c);
    }
  }
}

using SpanProc = void (*)(const DrawContext &, const TriangleSetup &, int32_t, int32_t, int32_t);

template <int kZBytes, bool kWords>
SpanProc SpanFor(bool textured, bool blend) {
  if (textured) return blend ? &Span<kZBytes, kWords, true, true> : &Span<kZBytes, kWords, true, false>;
  return blend ? &Span<kZBytes, kWords, false, true> : &Span<kZBytes, kWords, false, false>;
}

SpanProc SpanChoose(const DrawContext &d) {
  const bool words = d.colour_words, blend = d.o->alpha_blend, tex = d.textured;
  switch (d.zbytes) {
    case 2: return words ? SpanFor<2, true>(tex, blend) : SpanFor<2, false>(tex, blend);
    case 3: return words ? SpanFor<3, true>(tex, blend) : SpanFor<3, false>(tex, blend);
    case 4: return words ? SpanFor<4, true>(tex, blend) : SpanFor<4, false>(tex, blend);
    default: return words ? SpanFor<0, true>(tex, blend) : SpanFor<0, false>(tex, blend);
  }
}

// --- triangles -------------------------------------------------------------------

void Grow(const DrawContext &d, double x0, double x1, double y0, double y1, double z0, double z1) {
  RasterExtents *e = d.ext;
  if (e == nullptr) return;
  e->min_x = static_cast<float>(std::fmin(e->min_x, x0));
  e->max_x = static_cast<float>(std::fmax(e->max_x, x1));
  e->min_y = static_cast<float>(std::fmin(e->min_y, y0));
  e->max_y = static_cast<float>(std::fmax(e->max_y, y1));
  e->min_z = static_cast<float>(std::fmin(e->min_z, z0));
  e->max_z = static_cast<float>(std::fmax(e->max_z, z1));
}

inline int64_t Area(const ScreenVertex &a, const ScreenVertex &b, const ScreenVertex &c) {
  return static_cast<int64_t>(b.fx - a.fx) * (c.fy - a.fy) -
         static_cast<int64_t>(c.fx - a.fx) * (b.fy - a.fy);
}

inline bool Culled(uint32_t cull, int64_t area) {
  return (cull == kCullCounterClockwise && area < 0) || (cull == kCullClockwise && area > 0);
}

Gradient GradientOf(double f0, double f1, double f2, double ex1, double ey1, double ex2, double ey2,
                    double inv) {
  return Gradient{f0, ((f1 - f0) * ey2 - (f2 - f0) * ey1) * inv, ((f2 - f0) * ex1 - (f1 - f0) * ex2) * inv};
}

// The filter of a textured triangle: minification when a pixel step spans
// more than one texel.
bool LinearFor(const DrawContext &d, const TriangleSetup &s) {
  const double w = d.tex.w, h = d.tex.h;
  const double ux = s.u.dx * w, vx = s.v.dx * h, uy = s.u.dy * w, vy = s.v.dy * h;
  const double rho = std::fmax(ux * ux + vx * vx, uy * uy + vy * vy);
  return rho > 1.0 ? d.o->min_linear : d.o->mag_linear;
}

// Scan converts a triangle already culled and wound with a positive area.
void TriangleFill(DrawContext &d, SpanProc span, const ScreenVertex *v0, const ScreenVertex *v1,
                  const ScreenVertex *v2, int64_t area) {
  const int32_t minfx = std::min({v0->fx, v1->fx, v2->fx}), maxfx = std::max({v0->fx, v1->fx, v2->fx});
  const int32_t minfy = std::min({v0->fy, v1->fy, v2->fy}), maxfy = std::max({v0->fy, v1->fy, v2->fy});
  Grow(d, minfx / 256.0, maxfx / 256.0, minfy / 256.0, maxfy / 256.0, std::min({v0->z, v1->z, v2->z}),
       std::max({v0->z, v1->z, v2->z}));
  // Pixel p has its centre at 256 p + 128.
  const auto xlo = static_cast<int32_t>(std::max<int64_t>(d.left, -FloorDiv(-(minfx - 128), 256)));
  const auto xhi = static_cast<int32_t>(std::min<int64_t>(d.right - 1, FloorDiv(maxfx - 128, 256)));
  const auto ylo = static_cast<int32_t>(std::max<int64_t>(d.top, -FloorDiv(-(minfy - 128), 256)));
  const auto yhi = static_cast<int32_t>(std::min<int64_t>(d.bottom - 1, FloorDiv(maxfy - 128, 256)));
  if (xlo > xhi || ylo > yhi) return;

  // E(px, py) = a px + b py + c >= 0 inside; c carries the top-left bias.
  struct Edge {
    int64_t a, b, c;
  } edges[3];
  const ScreenVertex *ends[3][2] = {{v0, v1}, {v1, v2}, {v2, v0}};
  for (int i = 0; i < 3; ++i) {
    const int64_t xa = ends[i][0]->fx, ya = ends[i][0]->fy;
    const int64_t dx = ends[i][1]->fx - xa, dy = ends[i][1]->fy - ya;
    const bool top_left = (dy == 0 && dx > 0) || dy < 0;
    edges[i] = Edge{-256 * dy, 256 * dx, dx * (128 - ya) - dy * (128 - xa) - (top_left ? 0 : 1)};
  }

  TriangleSetup s;
  s.x0 = v0->fx / 256.0, s.y0 = v0->fy / 256.0;
  const double ex1 = v1->fx / 256.0 - s.x0, ey1 = v1->fy / 256.0 - s.y0;
  const double ex2 = v2->fx / 256.0 - s.x0, ey2 = v2->fy / 256.0 - s.y0;
  const double inv = 65536.0 / static_cast<double>(area);
  const bool flat = d.o->shade == kShadeFlat;
  for (int k = 0; k < 4; ++k)
    s.col[k] = flat ? Gradient{v0->col[k], 0, 0}
                    : GradientOf(v0->col[k], v1->col[k], v2->col[k], ex1, ey1, ex2, ey2, inv);
  s.specular = false;
  for (int k = 0; k < 3; ++k) {
    s.spec[k] = flat ? Gradient{v0->spec[k], 0, 0}
                     : GradientOf(v0->spec[k], v1->spec[k], v2->spec[k], ex1, ey1, ex2, ey2, inv);
    s.specular = s.specular || v0->spec[k] != 0 || (!flat && (v1->spec[k] != 0 || v2->spec[k] != 0));
  }
  s.z = GradientOf(v0->z, v1->z, v2->z, ex1, ey1, ex2, ey2, inv);
  if (d.textured) {
    // Wrapping repeats every unit: the first vertex's whole part goes.
    const double su = std::floor(v0->u), sv = std::floor(v0->v);
    const double u0 = v0->u - su, u1 = v1->u - su, u2 = v2->u - su;
    const double w0 = v0->v - sv, w1 = v1->v - sv, w2 = v2->v - sv;
    s.u = GradientOf(u0, u1, u2, ex1, ey1, ex2, ey2, inv);
    s.v = GradientOf(w0, w1, w2, ex1, ey1, ex2, ey2, inv);
    d.tex.linear = LinearFor(d, s);
    if (d.o->perspective) {
      s.u = GradientOf(u0 * v0->rw, u1 * v1->rw, u2 * v2->rw, ex1, ey1, ex2, ey2, inv);
      s.v = GradientOf(w0 * v0->rw, w1 * v1->rw, w2 * v2->rw, ex1, ey1, ex2, ey2, inv);
      s.rw = GradientOf(v0->rw, v1->rw, v2->rw, ex1, ey1, ex2, ey2, inv);
    }
  }

  for (int32_t y = ylo; y <= yhi; ++y) {
    int64_t lo = xlo, hi = xhi;
    for (const Edge &e : edges) {
      const int64_t r = e.b * y + e.c;
      if (e.a > 0) {
        lo = std::max(lo, -FloorDiv(r, e.a));
      } else if (e.a < 0) {
        hi = std::min(hi, FloorDiv(r, -e.a));
      } else if (r < 0) {
        hi = lo - 1;
      }
    }
    if (lo <= hi) span(d, s, y, static_cast<int32_t>(lo), static_cast<int32_t>(hi));
  }
}

PixelInput InputOf(const ScreenVertex &c) {
  PixelInput in;
  in.col = V4{static_cast<uint32_t>(c.col[0] + 0.5f), static_cast<uint32_t>(c.col[1] + 0.5f),
              static_cast<uint32_t>(c.col[2] + 0.5f), static_cast<uint32_t>(c.col[3] + 0.5f)};
  in.spec = V4{static_cast<uint32_t>(c.spec[0] + 0.5f), static_cast<uint32_t>(c.spec[1] + 0.5f),
               static_cast<uint32_t>(c.spec[2] + 0.5f), 0};
  in.specular = (in.spec[0] | in.spec[1] | in.spec[2]) != 0;
  in.u = c.u, in.v = c.v;
  return in;
}

inline int32_t PixelOf(int32_t f) { return static_cast<int32_t>(FloorDiv(f, 256)); }

void Points(DrawContext &d, const ScreenVertex *p, int n) {
  if (d.textured) d.tex.linear = d.o->mag_linear;
  for (int i = 0; i < n; ++i) {
    if (!p[i].original) continue;
    const int32_t x = PixelOf(p[i].fx), y = PixelOf(p[i].fy);
    Grow(d, x, x + 1, y, y + 1, p[i].z, p[i].z);
    Fragment(d, x, y, p[i].z, InputOf(p[i]));
  }
}

// A line from a to b: one pixel per step along the longer axis.
void Line(DrawContext &d, const ScreenVertex &a, const ScreenVertex &b) {
  const double xa = a.fx / 256.0, ya = a.fy / 256.0, xb = b.fx / 256.0, yb = b.fy / 256.0;
  const int steps = static_cast<int>(std::ceil(std::fmax(std::fabs(xb - xa), std::fabs(yb - ya))));
  const PixelInput ia = InputOf(a), ib = InputOf(b);
  Grow(d, std::floor(std::fmin(xa, xb)), std::floor(std::fmax(xa, xb)) + 1, std::floor(std::fmin(ya, yb)),
       std::floor(std::fmax(ya, yb)) + 1, std::fmin(a.z, b.z), std::fmax(a.z, b.z));
  for (int i = 0; i <= steps; ++i) {
    const double t = steps == 0 ? 0.0 : static_cast<double>(i) / steps;
    PixelInput in = ia;
    for (int k = 0; k < 4; ++k)
      in.col[k] = static_cast<uint32_t>(ia.col[k] + (static_cast<double>(ib.col[k]) - ia.col[k]) * t + 0.5);
    for (int k = 0; k < 3; ++k)
      in.spec[k] =
          static_cast<uint32_t>(ia.spec[k] + (static_cast<double>(ib.spec[k]) - ia.spec[k]) * t + 0.5);
    in.specular = ia.specular || ib.specular;
    in.u = static_cast<float>(a.u + (b.u - a.u) * t), in.v = static_cast<float>(a.v + (b.v - a.v) * t);
    const auto x = static_cast<int32_t>(std::floor(xa + (xb - xa) * t));
    const auto y = static_cast<int32_t>(std::floor(ya + (yb - ya) * t));
    Fragment(d, x, y, a.z + (b.z - a.z) * t, in);
  }
}

// A convex polygon of n screen vertices (a triangle or a clipped one).
void Polygon(DrawContext &d, SpanProc span, ScreenVertex *p, int n) {
  if (d.o->fill == kFillSolid) {
    for (int i = 1; i + 1 < n; ++i) {
      const ScreenVertex *a = &p[0], *b = &p[i], *c = &p[i + 1];
      int64_t area = Area(*a, *b, *c);
      if (area == 0 || Culled(d.o->cull, area)) continue;
      if (area < 0) std::swap(b, c), area = -area;
      TriangleFill(d, span, a, b, c, area);
    }
    return;
  }
  int64_t area = 0;
  for (int i = 1; i + 1 < n; ++i) area += Area(p[0], p[i], p[i + 1]);
  if (Culled(d.o->cull, area)) return;
  if (d.o->fill == kFillPoint) return Points(d, p, n);
  if (d.textured) d.tex.linear = d.o->mag_linear;
  for (int i = 0; i < n; ++i) Line(d, p[i], p[(i + 1) % n]);
}

// --- vertices and clipping -------------------------------------------------------

inline double PlaneDistance(const RasterViewport &vp, const double *c, int plane) {
  const double w = c[3];
  switch (plane) {
    case 0: return c[0] - vp.clip_x * w;
    case 1: return (static_cast<double>(vp.clip_x) + vp.clip_width) * w - c[0];
    case 2: return c[1] - (static_cast<double>(vp.clip_y) - vp.clip_height) * w;
    case 3: return vp.clip_y * w - c[1];
    case 4: return c[2] - vp.min_z * w;
    case 5: return vp.max_z * w - c[2];
    default: return w - kLeastW;
  }
}

void Project(const DrawContext &d, const double *c, int32_t *fx, int32_t *fy, double *z, double *rw) {
  const double rw_ = 1.0 / c[3];
  const RasterViewport &vp = d.o->viewport;
  const double x = Clamp(d.ax * c[0] * rw_ + d.bx, vp.x - 1.0, static_cast<double>(vp.x) + vp.width + 1.0);
  const double y = Clamp(d.ay * c[1] * rw_ + d.by, vp.y - 1.0, static_cast<double>(vp.y) + vp.height + 1.0);
  *fx = static_cast<int32_t>(std::floor(x * 256.0 + 0.5));
  *fy = static_cast<int32_t>(std::floor(y * 256.0 + 0.5));
  *z = Clamp(d.az * c[2] * rw_ + d.bz, 0.0, 1.0);
  *rw = rw_;
}

void Attributes(const LVertex &v, float *a) {
  a[0] = static_cast<float>((v.colour >> 16) & 255), a[1] = static_cast<float>((v.colour >> 8) & 255);
  a[2] = static_cast<float>(v.colour & 255), a[3] = static_cast<float>(v.colour >> 24);
  a[4] = static_cast<float>((v.specular >> 16) & 255), a[5] = static_cast<float>((v.specular >> 8) & 255);
  a[6] = static_cast<float>(v.specular & 255);
  a[7] = std::isfinite(v.u) ? v.u : 0.0f, a[8] = std::isfinite(v.v) ? v.v : 0.0f;
}

void ScreenOf(const DrawContext &d, const ClipVertex &c, ScreenVertex *s) {
  Project(d, c.c, &s->fx, &s->fy, &s->z, &s->rw);
  for (int k = 0; k < 4; ++k) s->col[k] = c.a[k];
  for (int k = 0; k < 3; ++k) s->spec[k] = c.a[4 + k];
  s->u = c.a[7], s->v = c.a[8];
  s->original = c.original;
}

// Cuts the polygon by every plane the triangle's vertices lie outside of.
int Clip(const RasterViewport &vp, uint32_t planes, ClipVertex *p, int n, ClipVertex *scratch) {
  ClipVertex *in = p, *out = scratch;
  for (int plane = 0; plane < kPlanes && n >= 3; ++plane) {
    if ((planes & (1u << plane)) == 0) continue;
    int m = 0;
    for (int i = 0; i < n; ++i) {
      const ClipVertex &a = in[i], &b = in[(i + 1) % n];
      const double da = PlaneDistance(vp, a.c, plane), db = PlaneDistance(vp, b.c, plane);
      if (da >= 0) out[m++] = a;
      if ((da >= 0) == (db >= 0)) continue;
      // From the inside end, so that a shared edge is cut at one point.
      const ClipVertex &from = da >= 0 ? a : b, &to = da >= 0 ? b : a;
      const double df = da >= 0 ? da : db, dt = da >= 0 ? db : da;
      const double t = df / (df - dt);
      ClipVertex &r = out[m++];
      for (int k = 0; k < 4; ++k) r.c[k] = from.c[k] + (to.c[k] - from.c[k]) * t;
      for (int k = 0; k < 9; ++k) r.a[k] = static_cast<float>(from.a[k] + (to.a[k] - from.a[k]) * t);
      r.original = false;
    }
    std::swap(in, out);
    n = m;
  }
  if (in != p)
    for (int i = 0; i < n; ++i) p[i] = in[i];
  return n;
}

}  // namespace

Matrix MatrixIdentity() {
  Matrix m{};
  m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0f;
  return m;
}

Matrix MatrixMultiply(const Matrix &a, const Matrix &b) {
  Matrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += static_cast<double>(a.m[4 * i + k]) * b.m[4 * k + j];
      r.m[4 * i + j] = static_cast<float>(s);
    }
  return r;
}

Rasteriser::~Rasteriser() { Free(scratch_); }

Result Rasteriser::Draw(const RasterOptions &o, const RasterTarget &t, const LVertex *vertices,
                        uint32_t vertex_count, const uint16_t *indices, uint32_t index_count,
                        RasterExtents *extents, uint32_t *dropped) {
  *dropped = 0;
  const RasterViewport &vp = o.viewport;
  if (index_count < 3 || vertex_count == 0 || t.colour.base == nullptr) return kOk;
  if (!(vp.clip_width > 0) || !(vp.clip_height > 0) || !(vp.max_z > vp.min_z) || !std::isfinite(vp.clip_x) ||
      !std::isfinite(vp.clip_y) || !std::isfinite(vp.clip_width) || !std::isfinite(vp.clip_height) ||
      !std::isfinite(vp.max_z - vp.min_z) || vp.width <= 0 || vp.height <= 0)
    return kOk;
  if (scratch_count_ < vertex_count) {
    void *grown = Allocate(sizeof(Transformed) * vertex_count);
    if (grown == nullptr) return E_OUTOFMEMORY;
    Free(scratch_);
    scratch_ = grown;
    scratch_count_ = vertex_count;
  }

  DrawContext d{};
  d.o = &o;
  d.t = &t;
  d.left = std::max(vp.x, 0), d.top = std::max(vp.y, 0);
  d.right = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(vp.x) + vp.width, t.colour.width));
  d.bottom = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(vp.y) + vp.height, t.colour.height));
  if (d.left >= d.right || d.top >= d.bottom) return kOk;
  d.ax = vp.width / static_cast<double>(vp.clip_width), d.bx = vp.x - vp.clip_x * d.ax;
  d.ay = -vp.height / static_cast<double>(vp.clip_height), d.by = vp.y + vp.clip_y * -d.ay;
  d.az = 1.0 / (static_cast<double>(vp.max_z) - vp.min_z), d.bz = -vp.min_z * d.az;
  d.zbytes = 0;
  d.zmax = 1.0;
  if (o.z_enable && t.depth.base != nullptr && t.depth.width >= d.right && t.depth.height >= d.bottom) {
    d.zbytes = static_cast<int>(BytesPerPixel(t.depth.kind));
    const uint32_t bits = t.depth_bits >= 1 && t.depth_bits <= 32 ? t.depth_bits : 8 * d.zbytes;
    d.zmax = std::ldexp(1.0, static_cast<int>(bits)) - 1.0;
    if (d.zbytes < 2 || d.zbytes > 4) d.zbytes = 0;
  }
  if (d.zbytes == 0) d.zmax = 65535.0;  // depth still interpolated for the extents
  static const bool kX888Words = StoresWords(PixelKind::X888), kArgbWords = StoresWords(PixelKind::Argb8888);
  d.colour_words = (t.colour.kind == PixelKind::X888 && kX888Words) ||
                   (t.colour.kind == PixelKind::Argb8888 && kArgbWords);
  d.word_mask = t.colour.kind == PixelKind::X888 ? 0xffffffu : 0xffffffffu;
  if (o.texture != nullptr && o.texture->base != nullptr && o.texture->width > 0 && o.texture->height > 0) {
    const PixelView &tv = *o.texture;
    d.textured = true;
    d.tex.view = o.texture;
    d.tex.base = tv.base, d.tex.pitch = tv.pitch, d.tex.w = tv.width, d.tex.h = tv.height;
    d.tex.wmask = (tv.width & (tv.width - 1)) == 0 ? static_cast<uint32_t>(tv.width - 1) : 0;
    d.tex.hmask = (tv.height & (tv.height - 1)) == 0 ? static_cast<uint32_t>(tv.height - 1) : 0;
    d.tex.words =
        (tv.kind == PixelKind::X888 && kX888Words) || (tv.kind == PixelKind::Argb8888 && kArgbWords);
    // A side of 1 wraps to itself either way.
    if (tv.width == 1) d.tex.wmask = 0;
    if (tv.height == 1) d.tex.hmask = 0;
  }
  d.ext = extents;
  const SpanProc span = SpanChoose(d);

  auto *tv = static_cast<Transformed *>(scratch_);
  double m[16];
  for (int i = 0; i < 16; ++i) m[i] = o.transform.m[i];
  for (uint32_t i = 0; i < vertex_count; ++i) {
    const LVertex &v = vertices[i];
    Transformed &r = tv[i];
    for (int j = 0; j < 4; ++j)
      r.c[j] = static_cast<double>(v.x) * m[j] + static_cast<double>(v.y) * m[4 + j] +
               static_cast<double>(v.z) * m[8 + j] + m[12 + j];
    if (!std::isfinite(r.c[0]) || !std::isfinite(r.c[1]) || !std::isfinite(r.c[2]) ||
        !std::isfinite(r.c[3])) {
      r.out = kOutNotFinite;
      continue;
    }
    r.out = 0;
    for (int p = 0; p < kPlanes; ++p)
      if (PlaneDistance(vp, r.c, p) < 0) r.out |= 1u << p;
  }

  for (uint32_t i = 0; i + 2 < index_count; i += 3) {
    const uint16_t k[3] = {indices[i], indices[i + 1], indices[i + 2]};
    const uint32_t o0 = tv[k[0]].out, o1 = tv[k[1]].out, o2 = tv[k[2]].out;
    if (((o0 | o1 | o2) & kOutNotFinite) != 0) {
      ++*dropped;
      continue;
    }
    if ((o0 & o1 & o2) != 0) continue;  // wholly outside one plane
    ClipVertex poly[kMostClipped], scratch[kMostClipped];
    for (int j = 0; j < 3; ++j) {
      std::memcpy(poly[j].c, tv[k[j]].c, sizeof poly[j].c);
      Attributes(vertices[k[j]], poly[j].a);
      poly[j].original = true;
    }
    float first[9];
    std::memcpy(first, poly[0].a, sizeof first);
    const int n = (o0 | o1 | o2) == 0 ? 3 : Clip(vp, o0 | o1 | o2, poly, 3, scratch);
    if (n < 3) continue;
    ScreenVertex sv[kMostClipped];
    for (int j = 0; j < n; ++j) {
      ScreenOf(d, poly[j], &sv[j]);
      if (o.shade == kShadeFlat) {  // the triangle's first vertex colours all of it
        std::memcpy(sv[j].col, first, sizeof sv[j].col);
        std::memcpy(sv[j].spec, first + 4, sizeof sv[j].spec);
      }
    }
    Polygon(d, span, sv, n);
  }
  return kOk;
}

}  // namespace vo::platform

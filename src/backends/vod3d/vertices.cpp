// The per-vertex procedures: lit colours (two forms), lit colours quantised
// in HSV, colours from the normal, and the three texture-coordinate modes
// of the ramp textures. Each walks the vertices from the last to the first
// in blocks of eight and allocates nothing; every colour word goes through
// the one packer (ColourWord), so NaN, negative or overbright components
// never reach an integer conversion, and a texture coordinate that is NaN
// (a vertex at the eye) becomes 0.5.
#include <cmath>

#include "backends/vod3d/d3d.h"
#include "backends/vod3d/vec.h"

namespace vo::d3d {

namespace {

constexpr float kTexMin = 1.0f / 128.0f, kTexMax = 127.0f / 128.0f;
constexpr uint32_t kWhite = 0x00ffffffu;

template <class Body>
inline void Walk(uint32_t count, Body body) {
  uint32_t i = count;
  for (; i >= 8; i -= 8) {
    body(i - 1);
    body(i - 2);
    body(i - 3);
    body(i - 4);
    body(i - 5);
    body(i - 6);
    body(i - 7);
    body(i - 8);
  }
  while (i > 0) body(--i);
}

float TexClamp(float t) {
  if (std::isnan(t)) return 0.5f;
  return t < kTexMin ? kTexMin : t > kTexMax ? kTexMax : t;
}

float Clamp01(float c) { return !(c > 0.0f) ? 0.0f : c >= 1.0f ? 1.0f : c; }

// x raised to the item's power: whole powers up to 64 by repeated
// squaring, others through pow.
struct Power {
  float exponent;
  int whole;  // -1 when not whole
  explicit Power(float e) : exponent(e) {
    whole = e >= 0.0f && e <= 64.0f && std::floor(e) == e ? static_cast<int>(e) : -1;
  }
  float operator()(float x) const {
    if (whole < 0) return std::pow(x, exponent);
    float result = 1.0f;
    for (int n = whole; n != 0; n >>= 1, x *= x)
      if ((n & 1) != 0) result *= x;
    return result;
  }
};

// The diffuse and specular sums of every light record at one vertex.
struct Sums {
  Vec3 diffuse, specular;
};

[[gnu::always_inline]] inline Sums LightSums(const VtD3DLight *lights, const float *p, const float *n,
                                             const VtD3DItem *item, const Power &power) {
  Sums s{{0, 0, 0}, {0, 0, 0}};
  for (const VtD3DLight *l = lights; l != nullptr; l = l->next) {
    VtD3DLightResult r;
    if (l->evaluate(p, n, l, &r, item) != 0) continue;
    const Vec3 colour = Load(r.colour);
    s.diffuse = vec::Add(s.diffuse, vec::Scale(colour, r.diffuse));
    if (r.specular > 0.0f) s.specular = vec::Add(s.specular, vec::Scale(colour, power(r.specular)));
  }
  return s;
}

[[gnu::always_inline]] inline uint32_t Word(float alpha, const Vec3 &c) {
  return ColourWord(alpha, c.x, c.y, c.z);
}
[[gnu::always_inline]] inline Vec3 Mul(const Vec3 &a, const platform::ColourValue &b) {
  return {a.x * b.r, a.y * b.g, a.z * b.b};
}

// The specular word of the lit modes: S x item specular.
[[gnu::always_inline]] inline uint32_t SpecularWord(const Sums &s, const platform::MaterialData &m) {
  return Word(m.specular.a, Mul(s.specular, m.specular));
}

Vec3 Quantised(const Vec3 &c) {
  float rgb[3] = {Clamp01(c.x), Clamp01(c.y), Clamp01(c.z)}, hsv[3];
  // Grey answers a status with a usable result: the outputs count.
  (void)VoColourRGBFloatToHSV(rgb, hsv);
  hsv[0] = std::floor(hsv[0] * (1.0f / 30.0f) + 0.5f) * 30.0f;
  hsv[1] = std::floor(hsv[1] * 3.0f + 0.5f) * (1.0f / 3.0f);
  hsv[2] = std::floor(hsv[2] * 3.0f + 0.5f) * (1.0f / 3.0f);
  (void)VoColourHSVToRGBFloat(hsv, rgb);
  return Load(rgb);
}

// u (and v) of the facing ramp: 0.5 plus half the cosine between the normal
// and the viewing ray.
float Facing(const Vec3 &d, const float *n) {
  return TexClamp(0.5f + 0.5f * VoInvSqrtFast(vec::Dot(d, d)) * vec::Dot(Load(n), d));
}

template <class Body>
VtStatus Lit(uint32_t count, VtD3DLVertex *v, const float *normals, const VtD3DItem *item, Body body) {
  const VtD3DContext *c = Context();
  if (c == nullptr || item == nullptr || (count != 0 && (v == nullptr || normals == nullptr)))
    return VO_STATUS_BAD_ARGUMENT;
  const Power power(item->material.power);
  const Vec3 ambient = Load(c->ambient_sum);
  Walk(count, [&](uint32_t i) {
    const float *n = normals + 3 * size_t{i};
    body(v[i], n, ambient, LightSums(c->lights, &v[i].x, n, item, power));
  });
  return 0;
}

template <class Body>
VtStatus Unlit(uint32_t count, VtD3DLVertex *v, const float *normals, const VtD3DItem *item, Body body) {
  const VtD3DContext *c = Context();
  if (c == nullptr || item == nullptr || (count != 0 && (v == nullptr || normals == nullptr)))
    return VO_STATUS_BAD_ARGUMENT;
  const Vec3 eye = Load(c->eye);
  Walk(count, [&](uint32_t i) { body(v[i], normals + 3 * size_t{i}, vec::Sub(Load(&v[i].x), eye), c); });
  return 0;
}

uint32_t WhiteWord(const platform::MaterialData &m) { return ColourByte(m.diffuse.a) << 24 | kWhite; }

}  // namespace

VtStatus VertexLitUntextured(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item) {
  return Lit(count, v, n, item, [item](VtD3DLVertex &x, const float *, const Vec3 &ambient, const Sums &s) {
    const platform::MaterialData &m = item->material;
    x.colour = Word(m.diffuse.a, Mul(vec::Add(Mul(ambient, m.ambient), s.diffuse), m.diffuse));
    x.specular = SpecularWord(s, m);
  });
}

VtStatus VertexLitTextured(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item) {
  return Lit(count, v, n, item, [item](VtD3DLVertex &x, const float *, const Vec3 &ambient, const Sums &s) {
    x.colour = Word(item->material.diffuse.a, vec::Add(ambient, s.diffuse));
    x.specular = SpecularWord(s, item->material);
  });
}

VtStatus VertexHsv(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item) {
  return Lit(count, v, n, item, [item](VtD3DLVertex &x, const float *, const Vec3 &ambient, const Sums &s) {
    const platform::MaterialData &m = item->material;
    x.colour = Word(m.diffuse.a, Quantised(vec::Add(ambient, s.diffuse)));
    x.specular = Word(m.specular.a, Quantised(Mul(s.specular, m.specular)));
  });
}

VtStatus VertexNormal(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item) {
  return Unlit(
      count, v, n, item, [item](VtD3DLVertex &x, const float *normal, const Vec3 &, const VtD3DContext *c) {
        const Vec3 colour = vec::Add(vec::Add(vec::Scale(Load(c->normal_colours[0]), std::fabs(normal[0])),
                                              vec::Scale(Load(c->normal_colours[1]), std::fabs(normal[1]))),
                                     vec::Scale(Load(c->normal_colours[2]), std::fabs(normal[2])));
        x.colour = Word(item->material.diffuse.a, colour);
        x.specular = 0;
      });
}

VtStatus VertexReflect(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item) {
  if (const VtStatus s = VertexLitUntextured(count, v, n, item); s != 0) return s;
  return Unlit(count, v, n, item,
               [item](VtD3DLVertex &x, const float *normal, const Vec3 &d, const VtD3DContext *) {
                 const Vec3 nv = Load(normal);
                 const Vec3 r = vec::Sub(d, vec::Scale(nv, 2.0f * vec::Dot(nv, d)));
                 const float k = 0.5f * VoInvSqrtFast(vec::Dot(d, d));
                 x.colour = WhiteWord(item->material);
                 x.u = TexClamp(0.5f + k * r.x);
                 x.v = TexClamp(0.5f - k * r.z);
               });
}

VtStatus VertexFacing(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item) {
  if (const VtStatus s = VertexLitUntextured(count, v, n, item); s != 0) return s;
  return Unlit(count, v, n, item,
               [item](VtD3DLVertex &x, const float *normal, const Vec3 &d, const VtD3DContext *) {
                 x.colour = WhiteWord(item->material);
                 x.u = x.v = Facing(d, normal);
               });
}

VtStatus VertexRamp(uint32_t count, VtD3DLVertex *v, const float *n, const VtD3DItem *item) {
  return Unlit(count, v, n, item,
               [item](VtD3DLVertex &x, const float *normal, const Vec3 &d, const VtD3DContext *) {
                 x.colour = WhiteWord(item->material);
                 x.specular = ColourByte(item->material.diffuse.a) << 24;
                 x.u = Facing(d, normal);
                 x.v = item->ramp_row;
               });
}

void VertexModeSelect(VtD3DContext *c, uint32_t mode) {
  static constexpr VtD3DVertexProc kModes[] = {&VertexHsv, &VertexNormal, &VertexReflect, &VertexFacing,
                                               &VertexRamp};
  if (mode >= 2 && mode <= 6) {
    c->untextured = c->textured = kModes[mode - 2];
  } else {
    c->untextured = &VertexLitUntextured;
    c->textured = &VertexLitTextured;
  }
}

}  // namespace vo::d3d

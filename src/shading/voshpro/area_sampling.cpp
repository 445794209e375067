// The area light's sampling: the build of the emitter's elements at image
// start, the selection of samples for a shaded point (elements whole, or
// pieces where they subtend much), the refinement of ray-traced shadows,
// and the release at image end.
//
// The kernel asks in this order: select, start refinement, fetch, then
// refine until it reports no more, makes a transient light of every sample
// left, finish, free. So the refinement does the evaluation of pending
// samples, the test toward the centre and the dropping of dark samples
// before it reports no more; finish then has nothing left to do.
//
// A selection is one block per call holding its samples and the ring the
// kernel walks; the ring is linked again whenever the samples change. The
// light record the sampler belongs to is the calling context's: its
// distance and colour at the point are set for each shadow ray and put
// back.

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <numbers>

#include <vo/vo_raytrace.h>

#include "scene/vogeom/face.h"
#include "shading/voshpro/area_light.h"
#include "kernel/vosystem/face.h"

namespace vo::pro {

double AreaThreshold(double lod) { return std::pow(10.0, -2.0 * lod - 1.7); }

FormFactor AreaFormFactor(const AreaElement &e, const float *point, const float *normal, float squareMetres) {
  FormFactor f{};
  float d[3];
  for (int i = 0; i < 3; ++i) d[i] = e.centroid[i] - point[i];
  const float r = Length(d);
  if (!(r > 0) || !std::isfinite(r)) return f;
  for (int i = 0; i < 3; ++i) f.direction[i] = d[i] / r;
  f.distance = r;
  f.distanceSquared = r * r;
  const float emitter = -Dot(f.direction, e.normal);
  if (!(emitter > 0)) return f;
  f.cosine = normal != nullptr ? Dot(normal, f.direction) : 1.0f;
  if (!(f.cosine > 0)) return f;
  const double r2 = static_cast<double>(f.distanceSquared) * squareMetres;
  const double below = std::numbers::pi * r2 + e.area;
  f.F = below > 0 ? static_cast<float>(emitter * e.area / below) : 0.0f;
  return f;
}

namespace {

constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;
constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;

// ---- Elements ----------------------------------------------------------------

void ElementShape(AreaElement &e) {
  for (int i = 0; i < 3; ++i) e.centroid[i] = (e.corner[0][i] + e.corner[1][i] + e.corner[2][i]) / 3.0f;
}

uint32_t Mix(uint32_t h, uint32_t v) {
  h ^= v + 0x9e3779b9u + (h << 6) + (h >> 2);
  return h;
}

void ChildrenFree(AreaElement *e) {
  AreaElement *c = e->children.load(std::memory_order_acquire);
  if (c == nullptr) return;
  for (int k = 0; k < 4; ++k) ChildrenFree(&c[k]);
  for (int k = 0; k < 4; ++k) c[k].~AreaElement();
  VoDeallocate(c);
  e->children.store(nullptr, std::memory_order_relaxed);
}

// ---- Build -------------------------------------------------------------------

void BuildFail(AreaBuild *b, VtLightData *d, VtStatus status) {
  if (status == kNoMemory)
    Post(kNoMemory, messages::kProAreaNoMemory, VO_MODULE_PRO, static_cast<const void *>(d));
  else
    Post(VO_STATUS_BAD_ARGUMENT, messages::kProAreaBuildFailed, VO_MODULE_PRO, status,
         static_cast<const void *>(d));
  AreaBuildFree(b);
}

// The triangles of the parts as elements; false without memory.
bool ElementsMake(AreaBuild *b) {
  uint32_t count = 0;
  auto polygons = [&](VtPrimitive *p, auto &&visit) {
    VtPolygon *const *first = PropertyField<VtPolygon *>(p, nullptr, VO_PRIM_POLYS);
    const int32_t next = PropertyOffset(p->contents, VO_POLY_NEXT);
    if (first == nullptr || *first == nullptr) return;
    for (void *poly = *first; poly != nullptr;) {
      visit(static_cast<VtPolygon *>(poly));
      if (next < 0) break;  // one polygon, no ring
      void *after = *ElementField<void *>(poly, next);
      poly = after == *first || after == poly ? nullptr : after;
    }
  };
  auto each_part = [&](auto &&visit) {
    for (const VtReference *node = b->parts->next;; node = node->next) {
      auto *p = static_cast<VtPrimitive *>(node->data);
      if (PrimitiveLive(p)) visit(p);
      if (node == b->parts) break;
    }
  };
  each_part([&](VtPrimitive *p) { polygons(p, [&](VtPolygon *) { ++count; }); });
  if (count == 0) return true;
  if (count > std::numeric_limits<uint32_t>::max() / sizeof(AreaElement)) return false;
  b->elements = static_cast<AreaElement *>(VoAllocate(static_cast<uint32_t>(count * sizeof(AreaElement))));
  if (b->elements == nullptr) return false;
  uint32_t n = 0;
  each_part([&](VtPrimitive *p) {
    const int32_t world = PropertyOffset(p->contents, VO_VERT_WORLD);
    polygons(p, [&](VtPolygon *poly) {
      VtReference *const *ring = PropertyField<VtReference *>(p, poly, VO_POLY_VREFS);
      if (world < 0 || ring == nullptr || *ring == nullptr || n >= count) return;
      const VtReference *v0 = (*ring)->next, *v1 = v0->next, *v2 = v1->next;
      if (v2->next != v0) return;  // not a triangle: the triangulation left it
      VtTypedValue area{}, plane{};
      if (VoPolygonGetProperty(p, poly, VO_POLY_AREA, &area) != 0 || area.value.p == nullptr ||
          VoPolygonGetProperty(p, poly, VO_POLY_PLANE, &plane) != 0 || plane.value.p == nullptr)
        return;
      float a = *static_cast<const float *>(area.value.p);
      const auto *pl = static_cast<const float *>(plane.value.p);
      b->worldArea += a;
      (void)VoAreaToSquareMetres(&a);
      AreaElement *e = new (&b->elements[n]) AreaElement{};
      Copy3(e->corner[0], ElementField<float>(v0->data, world));
      Copy3(e->corner[1], ElementField<float>(v1->data, world));
      Copy3(e->corner[2], ElementField<float>(v2->data, world));
      ElementShape(*e);
      Copy3(e->normal, pl);
      if (!Normalise(e->normal, 1e-12f)) Set3(e->normal, 0, 0, 0);
      e->area = std::isfinite(a) && a > 0 ? a : 0.0f;
      e->id = Mix(0x5eedu, n);
      b->area += e->area;
      ++n;
    });
  });
  b->count = n;
  return true;
}

VtStatus BuildSteps(AreaBuild *b, VtLightData *d) {
  const AreaWords *w = Area(d);
  const AreaEmitters *e = Emitters(d);
  b->copy = VoPrimitiveCopy(d->areaGeometry, nullptr);
  if (b->copy == nullptr) return kNoMemory;
  (void)VoPrimitiveSetFlags(b->copy, VoPrimitiveGetFlags(b->copy) & ~VO_PRIMITIVE_RETAINED);
  // A plain primitive in the world expands to nothing: it is its own part.
  b->parts = VoPrimitiveExpandToList(b->copy, nullptr, 0);
  if (b->parts == nullptr) b->parts = VoReferenceNodeCreate(b->copy);
  if (b->parts == nullptr) return kNoMemory;
  for (const VtReference *node = b->parts->next;; node = node->next) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (p == nullptr) return kNoMemory;  // a piece the expansion could not make
    if (PrimitiveLive(p) && (VoPrimitiveGetFlags(p) & VO_PRIMITIVE_TRIANGLES) == 0)
      if (const VtStatus s = VoPrimitiveTriangulate(p); s != 0) return s;
    if (node == b->parts) break;
  }
  if (!ElementsMake(b)) return kNoMemory;
  if (!(b->area > 0) || !std::isfinite(b->area)) return kRefused;
  b->made.store(b->count, std::memory_order_relaxed);
  const double mid = e->midSet != 0 ? e->midLod : e->minLod;
  const double l2 = std::max<double>(e->minLod, mid), l3 = std::max<double>(l2, e->maxLod);
  if (!(l3 > 0)) {
    b->T1 = b->T2 = b->T3 = 1e20f;
  } else {
    b->T1 = static_cast<float>(AreaThreshold(e->minLod));
    b->T2 = static_cast<float>(AreaThreshold(l3));
    b->T3 = static_cast<float>(AreaThreshold(l2));
  }
  b->errorBound = std::isfinite(e->errorBound) ? std::max(e->errorBound, 0.0f) : 0.0f;
  b->noiseFactor = std::isfinite(e->noiseFactor) ? std::clamp(e->noiseFactor, 0.0f, 1.0f) : 0.0f;
  const bool shared = w->powerUnits == 2 || w->powerUnits == 3;
  const double k = shared ? 1.0 / b->area : 1.0;
  b->emission = VtColour{static_cast<float>(w->base.red * k), static_cast<float>(w->base.green * k),
                         static_cast<float>(w->base.blue * k)};
  const double single = b->count == 1 ? std::numbers::pi : 4 * std::numbers::pi;
  b->radius = static_cast<float>(std::sqrt(b->worldArea / single));
  float unit = 1;
  (void)VoAreaToSquareMetres(&unit);
  b->squareMetres = unit;
  VtTypedValue bias{};
  b->rayBias = ModuleStarted(VO_MODULE_RAYTRACER) && VoControlGet(VO_CONTROL_RAY_SHADOW_BIAS, &bias) == 0 &&
                       bias.type == VtFloat && std::isfinite(bias.value.f)
                   ? std::max(bias.value.f, 0.0f)
                   : 0.0f;
  return 0;
}

}  // namespace

void AreaBuildFree(AreaBuild *b) {
  if (b == nullptr) return;
  for (uint32_t i = 0; i < b->count; ++i) {
    ChildrenFree(&b->elements[i]);
    b->elements[i].~AreaElement();
  }
  VoDeallocate(b->elements);
  if (b->parts != nullptr) (void)VoPrimitiveReferenceListDestroy(b->parts);
  if (b->copy != nullptr) (void)VoPrimitiveDestroy(b->copy);
  b->~AreaBuild();
  VoDeallocate(b);
}

VtStatus AreaBuildMake(VtAreaLightSampler *sampler) {
  if (sampler == nullptr) return kRefused;
  VtLightData *d = SamplerLight(sampler);
  AreaEmitters *e = Emitters(d);
  if (e == nullptr || e->owner != d) return 0;  // a clone lights from its owner's build
  AreaBuildFree(e->build);
  e->build = nullptr;
  if (!PrimitiveLive(d->areaGeometry)) {
    Post(kRefused, messages::kProAreaNoPrimitive, VO_MODULE_PRO, static_cast<const void *>(d));
    return kRefused;
  }
  void *block = VoAllocate(sizeof(AreaBuild));
  if (block == nullptr) {
    Post(kNoMemory, messages::kProAreaNoMemory, VO_MODULE_PRO, static_cast<const void *>(d));
    return kNoMemory;
  }
  auto *b = new (block) AreaBuild{};
  b->owner = d;
  const VtStatus s = BuildSteps(b, d);
  if (s != 0) {
    BuildFail(b, d, s);
    return s == kNoMemory ? kNoMemory : kRefused;
  }
  e->build = b;
  return 0;
}

VtStatus AreaBuildRelease(VtAreaLightSampler *sampler) {
  if (sampler == nullptr) return 0;
  VtLightData *d = SamplerLight(sampler);
  AreaEmitters *e = Emitters(d);
  if (e == nullptr || e->owner != d) return 0;  // not this record's build
  AreaBuildFree(e->build);
  e->build = nullptr;
  return 0;
}

const AreaElement *AreaChildren(AreaBuild *b, const AreaElement &parent, bool *noMemory) {
  auto &e = const_cast<AreaElement &>(parent);
  if (AreaElement *made = e.children.load(std::memory_order_acquire); made != nullptr) return made;
  std::lock_guard<std::mutex> hold(b->lock);
  if (AreaElement *made = e.children.load(std::memory_order_acquire); made != nullptr) return made;
  if (b->made.load(std::memory_order_relaxed) + 4 > kAreaElementBudget) {
    if (b->budgetPosted.exchange(1) == 0)
      Post(VO_CLASS_DEBUG, messages::kProAreaBudget, VO_MODULE_PRO, static_cast<const void *>(b->owner));
    return nullptr;
  }
  auto *c = static_cast<AreaElement *>(VoAllocate(4 * sizeof(AreaElement)));
  if (c == nullptr) {
    *noMemory = true;
    return nullptr;
  }
  float mid[3][3];  // of the edges 0-1, 1-2, 2-0
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 3; ++i) mid[k][i] = 0.5f * e.corner[k][i] + 0.5f * e.corner[(k + 1) % 3][i];
  const float *corners[4][3] = {{e.corner[0], mid[0], mid[2]},
                                {mid[0], e.corner[1], mid[1]},
                                {mid[2], mid[1], e.corner[2]},
                                {mid[0], mid[1], mid[2]}};
  for (int k = 0; k < 4; ++k) {
    AreaElement *child = new (&c[k]) AreaElement{};
    for (int j = 0; j < 3; ++j) Copy3(child->corner[j], corners[k][j]);
    ElementShape(*child);
    Copy3(child->normal, e.normal);
    child->area = e.area / 4;
    child->id = Mix(e.id, static_cast<uint32_t>(k + 1));
    child->level = e.level + 1;
  }
  b->made.fetch_add(4, std::memory_order_relaxed);
  e.children.store(c, std::memory_order_release);
  return c;
}

namespace {

// ---- Selections --------------------------------------------------------------

struct AreaSample {
  VtAreaLightSample head;  // what the kernel reads
  const AreaElement *element;
  float F;
  float visibility;   // -1 until evaluated
  VtColour gathered;  // the filter colour the shadow ray gathered
};

struct AreaSelection {
  VtAreaLightSelection head;
  VtLightData *light;  // the calling context's record
  AreaBuild *build;
  float point[3];
  float normal[3];
  bool hasNormal;
  bool perSample;   // each sample casts its own shadow ray
  bool centreTest;  // one test toward the centre scales every sample
  bool split;       // the single sample was split
  bool finished;
  VtRandomState *random;
  AreaSample *samples;
  VtReference *nodes;
  uint32_t count, capacity;
  VtStatus status;
};

const float *NormalOf(const AreaSelection &s) { return s.hasNormal ? s.normal : nullptr; }

void RingLink(AreaSelection &s) {
  s.head.samples = nullptr;
  if (s.count == 0) return;
  for (uint32_t i = 0; i < s.count; ++i) {
    s.nodes[i].data = &s.samples[i];
    s.nodes[i].next = &s.nodes[(i + 1) % s.count];
  }
  s.head.samples = &s.nodes[s.count - 1];  // a ring's handle is its last node
}

bool Grow(AreaSelection &s) {
  if (s.count < s.capacity) return true;
  if (s.capacity >= (1u << 24)) return false;
  const uint32_t capacity = s.capacity * 2;
  auto *samples = static_cast<AreaSample *>(VoAllocate(capacity * sizeof(AreaSample)));
  auto *nodes = static_cast<VtReference *>(VoAllocate(capacity * sizeof(VtReference)));
  if (samples == nullptr || nodes == nullptr) {
    VoDeallocate(samples);
    VoDeallocate(nodes);
    return false;
  }
  std::memcpy(samples, s.samples, s.count * sizeof(AreaSample));
  VoDeallocate(s.samples);
  VoDeallocate(s.nodes);
  s.samples = samples;
  s.nodes = nodes;
  s.capacity = capacity;
  return true;
}

void NoMemory(AreaSelection &s) {
  if (s.status == 0)
    Post(kNoMemory, messages::kProAreaRefineNoMemory, VO_MODULE_PRO, static_cast<const void *>(s.light));
  s.status |= kNoMemory;
}

void Add(AreaSelection &s, const AreaElement &e, const FormFactor &f) {
  if (!Grow(s)) {
    NoMemory(s);
    return;
  }
  AreaSample &a = s.samples[s.count++];
  a.head.colour = VtColour{0, 0, 0};
  Copy3(a.head.direction, f.direction);
  a.head.distance = f.distance;
  a.head.distanceSquared = f.distanceSquared;
  a.head.cosine = f.cosine;
  a.element = &e;
  a.F = f.F;
  a.visibility = -1;
  a.gathered = VtColour{1, 1, 1};
}

FormFactor At(const AreaSelection &s, const AreaElement &e) {
  return AreaFormFactor(e, s.point, NormalOf(s), s.build->squareMetres);
}

// Selection step 2: the element whole, or its pieces where it subtends more
// than the thresholds and the split changes the form factor by more than
// the error bound. A split whose pieces would not all count (each above
// 1e-6) is not made: pieces dropped there would take their light with them.
void Examine(AreaSelection &s, const AreaElement &e, const FormFactor &f) {
  if (!(f.F > kAreaFormFactorLeast)) return;
  const AreaBuild &b = *s.build;
  const bool split = e.level == 0 ? f.F > b.T1 : f.F > b.T1 && f.F > b.T2;
  if (split && static_cast<int>(e.level) < kAreaLevels && f.F > 4 * kAreaFormFactorLeast) {
    bool no_memory = false;
    const AreaElement *c = AreaChildren(s.build, e, &no_memory);
    if (no_memory) NoMemory(s);
    if (c != nullptr) {
      FormFactor parts[4];
      double sum = 0;
      bool all_count = true;
      for (int k = 0; k < 4; ++k) {
        sum += (parts[k] = At(s, c[k])).F;
        all_count &= parts[k].F > kAreaFormFactorLeast;
      }
      if (all_count && std::fabs(sum - f.F) > b.errorBound * f.F) {
        for (int k = 0; k < 4; ++k) Examine(s, c[k], parts[k]);
        return;
      }
    }
  }
  Add(s, e, f);
}

// The point the shadow ray aims at: the centroid, or with a noise factor a
// point of the piece drawn from the selection's own generator, seeded from
// the piece and the point so that no other point's order matters.
void Target(AreaSelection &s, const AreaElement &e, float out[3]) {
  const float noise = s.build->noiseFactor;
  if (noise < 0.0001f || s.random == nullptr) {
    Copy3(out, e.centroid);
    return;
  }
  uint32_t seed = e.id;
  for (float c : s.point) {
    uint32_t bits;
    std::memcpy(&bits, &c, sizeof bits);
    seed = Mix(seed, bits);
  }
  (void)VoRandomStateSeed(static_cast<int32_t>(seed & 0x7fffffffu), s.random);
  double w[3], sum = 0;
  for (double &x : w) sum += x = VoRandomStateDouble(s.random) * noise + 1 - noise;
  for (int i = 0; i < 3; ++i)
    out[i] =
        static_cast<float>((w[0] * e.corner[0][i] + w[1] * e.corner[1][i] + w[2] * e.corner[2][i]) / sum);
}

// One shadow ray of the light's procedure toward the target, the record's
// distance and colour at the point set for it and put back: the visibility,
// the gathered filter colour in *gathered.
float Ray(AreaSelection &s, const float target[3], VtColour *gathered) {
  VtLightData *d = s.light;
  float dir[3];
  for (int i = 0; i < 3; ++i) dir[i] = target[i] - s.point[i];
  const float distance = Length(dir);
  *gathered = VtColour{1, 1, 1};
  if (d->shadow == nullptr || !(distance > 0)) return 1;
  for (float &c : dir) c /= distance;
  const float kept_distance = d->distance;
  const VtColour kept_colour = d->colourAtPoint;
  d->distance = std::max(distance - s.build->rayBias, 0.0f);
  d->colourAtPoint = VtColour{1, 1, 1};
  const double shadow = d->shadow(s.point, dir, NormalOf(s), d);
  *gathered = d->colourAtPoint;
  d->distance = kept_distance;
  d->colourAtPoint = kept_colour;
  const double v = 1.0 - shadow;
  return std::isfinite(v) ? static_cast<float>(std::clamp(v, 0.0, 1.0)) : 0.0f;
}

void Evaluate(AreaSelection &s, AreaSample &a) {
  if (!s.perSample) {
    a.visibility = 1;
    return;
  }
  float target[3];
  Target(s, *a.element, target);
  a.visibility = Ray(s, target, &a.gathered);
}

// The pieces of one sample in a penumbra: a piece of form factor at least
// T2 whose children's visibilities disagree (relative tolerance 1 percent)
// is replaced by them; a child is split again when it is still at least T3,
// or at least T2 and disagreeing with a sibling. Adds the pieces kept.
bool Agree(float x, float y) { return std::fabs(x - y) <= (std::fabs(x) + std::fabs(y) + 1) * 0.01f; }

void RefinePiece(AreaSelection &s, const AreaSample &a, bool force, AreaSample *kept, uint32_t &kept_count,
                 uint32_t kept_limit) {
  const AreaBuild &b = *s.build;
  const AreaElement &e = *a.element;
  bool no_memory = false;
  const AreaElement *c =
      a.F >= b.T2 && static_cast<int>(e.level) < kAreaLevels ? AreaChildren(s.build, e, &no_memory) : nullptr;
  if (no_memory) NoMemory(s);
  AreaSample child[4];
  int n = 0;
  if (c != nullptr) {
    for (int k = 0; k < 4; ++k) {
      const FormFactor f = At(s, c[k]);
      if (!(f.F > kAreaFormFactorLeast)) continue;
      AreaSample &x = child[n++];
      x = AreaSample{};
      Copy3(x.head.direction, f.direction);
      x.head.distance = f.distance;
      x.head.distanceSquared = f.distanceSquared;
      x.head.cosine = f.cosine;
      x.element = &c[k];
      x.F = f.F;
      Evaluate(s, x);
    }
  }
  bool disagree = false;
  for (int k = 0; k < n; ++k)
    for (int j = 0; j < n; ++j) disagree |= !Agree(child[k].visibility, child[j].visibility);
  for (int k = 0; k < n; ++k) disagree |= !Agree(child[k].visibility, a.visibility);
  // Pieces that would not all count are not taken (their light would go).
  if (n < 4 || !(disagree || force)) {
    if (kept_count < kept_limit) kept[kept_count++] = a;
    return;
  }
  for (int k = 0; k < n; ++k) {
    bool odd = false;
    for (int j = 0; j < n; ++j) odd |= !Agree(child[k].visibility, child[j].visibility);
    const bool again = child[k].F >= b.T3 || (child[k].F >= b.T2 && odd);
    if (again)
      RefinePiece(s, child[k], child[k].F >= b.T3, kept, kept_count, kept_limit);
    else if (kept_count < kept_limit)
      kept[kept_count++] = child[k];
  }
}

// Step 3 with several samples: each sample's own shadow ray, then the
// pieces of those in a penumbra.
void RefineAll(AreaSelection &s) {
  const AreaBuild &b = *s.build;
  for (uint32_t i = 0; i < s.count; ++i)
    if (s.samples[i].visibility < 0) Evaluate(s, s.samples[i]);
  // Pieces replace a sample at the end, so the samples are walked from a
  // copy of their count.
  const uint32_t before = s.count;
  constexpr uint32_t kPiecesMost = 4096;  // 4^6: one sample's pieces at six levels
  AreaSample *pieces = nullptr;           // made when a sample is to be refined
  for (uint32_t i = 0; i < before; ++i) {
    if (s.samples[i].F < b.T2 || static_cast<int>(s.samples[i].element->level) >= kAreaLevels) continue;
    if (pieces == nullptr) pieces = static_cast<AreaSample *>(VoAllocate(kPiecesMost * sizeof(AreaSample)));
    if (pieces == nullptr) {
      NoMemory(s);
      return;
    }
    uint32_t n = 0;
    const AreaSample original = s.samples[i];
    RefinePiece(s, original, false, pieces, n, kPiecesMost);
    if (n == 0) continue;
    s.samples[i] = pieces[0];
    for (uint32_t k = 1; k < n; ++k) {
      if (!Grow(s)) {
        NoMemory(s);
        break;
      }
      s.samples[s.count++] = pieces[k];
    }
  }
  VoDeallocate(pieces);
}

// The finish step: pending samples evaluated, the test toward the centre,
// the colours, dark samples dropped.
void Complete(AreaSelection &s) {
  if (s.finished) return;
  s.finished = true;
  for (uint32_t i = 0; i < s.count; ++i)
    if (s.samples[i].visibility < 0) Evaluate(s, s.samples[i]);
  float centre = 1;
  if (s.centreTest) {
    VtColour ignored;
    centre = Ray(s, s.light->position, &ignored);
  }
  const VtColour &m = s.build->emission;
  uint32_t kept = 0;
  for (uint32_t i = 0; i < s.count; ++i) {
    AreaSample a = s.samples[i];
    const float v = a.visibility * centre;
    if (!(v >= 1e-6f)) continue;
    const float k = a.F * v;
    a.head.colour =
        VtColour{k * m.red * a.gathered.red, k * m.green * a.gathered.green, k * m.blue * a.gathered.blue};
    s.samples[kept++] = a;
  }
  s.count = kept;
  RingLink(s);
}

void Free(AreaSelection *s) {
  if (s == nullptr) return;
  if (s->random != nullptr) (void)VoRandomStateDestroy(s->random);
  VoDeallocate(s->samples);
  VoDeallocate(s->nodes);
  VoDeallocate(s);
}

// Step 1: a point of the emitter itself takes its whole emission.
bool OnEmitter(const VtLightData *d, VtPrimitive *p) {
  if (p == nullptr || d->areaGeometry == nullptr) return false;
  if (p == d->areaGeometry) return true;
  if (!PrimitiveLive(p)) return false;
  VtPrimitive *const *parent = PropertyField<VtPrimitive *>(p, nullptr, VO_PRIM_PARENT);
  return parent != nullptr && *parent == d->areaGeometry;
}

}  // namespace

VtStatus AreaSelect(VtAreaLightSampler *sampler, VtPrimitive *primitive, VtPolygon *, const float *point,
                    const float *normal, uint32_t shadow, void **handle) {
  if (handle == nullptr) return kRefused;
  *handle = nullptr;
  if (sampler == nullptr || point == nullptr) return 0;
  VtLightData *d = SamplerLight(sampler);
  AreaEmitters *e = Emitters(d);
  AreaBuild *b = e != nullptr ? e->build : nullptr;
  if (b == nullptr || b->count == 0) return 0;
  auto *s = static_cast<AreaSelection *>(VoAllocate(sizeof(AreaSelection)));
  if (s == nullptr) return kNoMemory;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  s->light = d;
  s->build = b;
  Copy3(s->point, point);
  s->hasNormal = normal != nullptr;
  if (normal != nullptr) Copy3(s->normal, normal);
  const bool shadows = shadow != 0 && d->castsShadows != 0 && d->shadow != nullptr;
  s->perSample = shadows && d->shadowResolution == 0;
  s->centreTest = shadows && !s->perSample;
  s->capacity = std::clamp<uint32_t>(b->count, 16, 1u << 16);  // every element whole, without growing
  s->samples = static_cast<AreaSample *>(VoAllocate(s->capacity * sizeof(AreaSample)));
  s->nodes = static_cast<VtReference *>(VoAllocate(s->capacity * sizeof(VtReference)));
  if (s->perSample && b->noiseFactor >= 0.0001f) s->random = VoRandomStateCreate();
  if (s->samples == nullptr || s->nodes == nullptr ||
      (s->perSample && b->noiseFactor >= 0.0001f && !s->random)) {
    Free(s);
    Post(kNoMemory, messages::kProAreaRefineNoMemory, VO_MODULE_PRO, static_cast<const void *>(d));
    return kNoMemory;
  }
  if (OnEmitter(d, primitive)) {
    AreaSample &a = s->samples[s->count++];
    a = AreaSample{};
    a.head.colour = b->emission;
    if (normal != nullptr)
      Copy3(a.head.direction, normal);
    else
      Set3(a.head.direction, 0, 0, 1);
    a.head.distance = a.head.distanceSquared = a.head.cosine = 1;
    a.element = &b->elements[0];
    a.F = a.visibility = 1;
    a.gathered = VtColour{1, 1, 1};
    s->head.singleSample = 1;
    s->finished = true;
  } else {
    for (uint32_t i = 0; i < b->count; ++i) Examine(*s, b->elements[i], At(*s, b->elements[i]));
  }
  RingLink(*s);
  *handle = s;
  return s->status;
}

VtStatus AreaSelectionFree(void *handle) {
  Free(static_cast<AreaSelection *>(handle));
  return 0;
}

VtStatus AreaRefineStart(void *handle, void *, void *, void **cursor) {
  if (cursor != nullptr) *cursor = handle;
  return 0;
}

VtStatus AreaFetch(void *handle, void *, void **item) {
  if (item == nullptr) return kRefused;
  const auto *s = static_cast<const AreaSelection *>(handle);
  *item = s != nullptr && s->count > 0 ? static_cast<void *>(&s->samples[0]) : nullptr;
  return s != nullptr ? s->status : 0;
}

VtStatus AreaRefine(void *handle, void *, void *, void *, void *, uint32_t *more) {
  if (more != nullptr) *more = 0;
  auto *s = static_cast<AreaSelection *>(handle);
  if (s == nullptr) return 0;
  if (s->finished) return s->status;
  const AreaBuild &b = *s->build;
  if (s->perSample) {
    // A single sample that subtends much is split first; its pieces are
    // then refined as several samples.
    if (!s->split && s->count == 1 && s->samples[0].F >= b.T2 &&
        static_cast<int>(s->samples[0].element->level) < kAreaLevels) {
      s->split = true;
      bool no_memory = false;
      const AreaElement *c = AreaChildren(s->build, *s->samples[0].element, &no_memory);
      if (no_memory) NoMemory(*s);
      FormFactor f[4];
      bool all_count = c != nullptr;
      for (int k = 0; all_count && k < 4; ++k) all_count = (f[k] = At(*s, c[k])).F > kAreaFormFactorLeast;
      if (all_count) {
        s->count = 0;
        for (int k = 0; k < 4; ++k) Add(*s, c[k], f[k]);
        RingLink(*s);
        if (s->count > 0) {
          if (more != nullptr) *more = 1;
          return s->status;
        }
      }
    }
    const bool decided = s->light->shadowValid != 0 && [&] {
      VtColour ignored;
      const float v = Ray(*s, s->light->position, &ignored);
      const bool soft = [] {
        VtTypedValue t{};
        return VoControlGet(VO_CONTROL_SHADER_SHADOW_TRANSPARENCY, &t) == 0 && t.value.u != 0;
      }();
      return v >= 1 || (!soft && v <= 0);
    }();
    if (!decided && s->count > 1) RefineAll(*s);
  }
  Complete(*s);
  return s->status;
}

VtStatus AreaFinish(void *handle, void *) {
  auto *s = static_cast<AreaSelection *>(handle);
  if (s == nullptr) return 0;
  Complete(*s);
  return s->status;
}

}  // namespace vo::pro

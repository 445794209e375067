// Drawing lens flares: each source adds its ghosts, halo, glow and rays to
// every pixel of the region, row by row, as a work-farm job over the rows.
// Everything a row needs is made before the job starts and only read by the
// workers; the ray pattern's random numbers are those of a generator
// reseeded from the angle's bin and the source (drawn once per bin), so any
// worker count gives the same picture.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include <vo/vo_multit.h>
#include <vo/vo_view.h>

#include "render/voshpost/lens_flares.h"
#include "kernel/vosystem/face.h"

namespace vo::post {
namespace {

constexpr float kPi = 3.14159265358979323846f;
constexpr float kSpread = 0.5f, kWeight = 1.5f;  // of the random ray pattern
constexpr float kLargest = 1e30f;                // an addition never reaches infinity
// The random ray pattern's angle bins: (a / pi + 1) x 51 for a in [0, 2 pi],
// with the generator's draws of each bin (spread, two weights, fall-off).
constexpr uint32_t kFirstBin = 51, kBins = 103, kRayDraws = 4;

// What one source draws with, made before the rows.
struct SourceDraw {
  float x, y;  // pixel position
  double depth;
  float colourWeight[3];
  float recipGlow, recipHalo;
  uint32_t index;
  const float *ghosts;  // ghost centres relative to the source, in lens units (x, y per ghost)
  const float *rays;    // the random ray pattern's draws per angle bin (kRayDraws each), or null
};

struct FlarePass {
  const FlareData *d;
  VtScreenBuffer *b;
  const SourceDraw *sources;
  uint32_t count;
  uint32_t mode;
  uint32_t region[4];
  float scale, aspect;
  bool depth;  // rows carry depth for the check
  std::atomic<uint32_t> rowsDone{0};
  std::atomic<uint32_t> status{0};
};

// The distance of the offset in the shape (offset already rotated).
float ShapeDistance(const FlareData *d, int32_t shape, float x, float y) {
  if (std::fabs(x) < 1e-6f && std::fabs(y) < 1e-6f) return 0;
  switch (shape) {
    case kShapeCircle: return std::sqrt(x * x + y * y);
    case kShapePolygon:
    case kShapeArcPolygon: {
      float a = std::atan2(y, x);
      if (a < 0) a += 2 * kPi;
      const int32_t n = d->irisBlades;
      const int32_t k = std::min(n - 1, static_cast<int32_t>(a / (2 * kPi / static_cast<float>(n))));
      const float nx = d->irisNormal[k][0], ny = d->irisNormal[k][1];
      if (shape == kShapePolygon) return x * nx + y * ny;
      const float K = d->irisBladeShape, ax = x + K * nx, ay = y + K * ny;
      return std::max(0.0f, std::sqrt(ax * ax + ay * ay) - K);
    }
    default: return 0;
  }
}

void Rotate(bool rotated, float c, float s, float *x, float *y) {
  if (!rotated) return;
  const float rx = c * *x + s * *y, ry = -s * *x + c * *y;
  *x = rx;
  *y = ry;
}

float Fold(float v, int squarings) {
  if (v > 1) v = 2 - v;
  for (int i = 0; i < squarings; ++i) {
    v *= v;
    if (v < 0.0001f) return 0;
  }
  return v;
}

// The ray value at lens offset (x, y) of a source.
float RayValue(const FlareData *d, const SourceDraw &s, float x, float y) {
  Rotate(d->raysRotated != 0, d->cosRays, d->sinRays, &x, &y);
  const float r = ShapeDistance(d, d->raysShapeCode, x, y) * s.recipGlow;
  const float a = std::atan2(y, x) + kPi;
  const float f = d->raysFall;
  float regular = 0, randomPattern = 0, draw = 0;
  if (d->raysTypeCode != kRaysRandom)
    regular = Fold(std::fmod(a * 2 / kPi * static_cast<float>(d->raysCount), 2.0f), 2);
  if (d->raysTypeCode != kRaysRegular && s.rays != nullptr) {
    const float term = (a / kPi + 1) * 51;
    const uint32_t bin = std::min(kBins - 1, static_cast<uint32_t>(std::max(0.0f, term)) - kFirstBin);
    const float *r = s.rays + kRayDraws * bin;
    randomPattern = Fold(std::fmod(term + r[0] * kSpread, 2.0f), 2);
    randomPattern *= (r[1] + r[2]) * kWeight * 0.5f;
    draw = r[3];
  }
  float v = 0;
  switch (d->raysTypeCode) {
    case kRaysRandom: v = randomPattern / (f * r + 1); break;
    case kRaysRegular: v = regular / (f * 0.6f * r + 1); break;
    case kRaysMixed:
      v = regular / (f * 0.6f * r + 1) + randomPattern / (f * r + 1);
      return d->raysF * v < 0.0001f ? 0 : d->raysF * v;
    case kRaysSemiRegular: v = regular / (std::exp((2 - draw) * 4) * f * r + 1); break;
    default: return 0;
  }
  v *= d->raysF;
  return v < 0.001f ? 0 : v;
}

// Adds one source's flare at lens offset (x, y) into out.
void SourceAt(const FlareData *d, const SourceDraw &s, uint32_t mode, float scale, float x, float y,
              float out[3]) {
  float sum[3] = {0, 0, 0};
  float ex = x, ey = y;
  Rotate(d->rotated != 0, d->cosRotation, d->sinRotation, &ex, &ey);
  for (int32_t i = 0; i < d->ghostCount; ++i) {
    const FlareGhost &g = d->ghostRecords[i];
    float ox = x - s.ghosts[2 * i], oy = y - s.ghosts[2 * i + 1];
    float q;
    if (d->ghostsShapeCode == kShapeCircle) {
      q = (ox * ox + oy * oy) / (g.size * g.size);
    } else {
      Rotate(d->rotated != 0, d->cosRotation, d->sinRotation, &ox, &oy);
      q = ShapeDistance(d, d->ghostsShapeCode, ox, oy) / g.size;
    }
    if (const float p = GhostProfile(g, q); p != 0)
      for (int k = 0; k < 3; ++k) sum[k] += g.colour[k] * p;
  }
  if (d->haloShapeCode != kShapeNone) {
    const float r = ShapeDistance(d, d->haloShapeCode, ex, ey) * s.recipHalo;
    if (std::fabs(r - 1) < d->haloW) {
      const float e = std::exp(-d->haloK * (r - 1) * (r - 1));
      for (int k = 0; k < 3; ++k) sum[k] += e * d->haloColourFactor[k];
    }
  }
  if (d->glowShapeCode != kShapeNone && d->glowEnd > 0) {
    const float at =
        ShapeDistance(d, d->glowShapeCode, ex, ey) * s.recipGlow / d->glowEnd * (kGlowTableSize - 1);
    if (at >= 0 && at < kGlowTableSize - 1) {
      const auto i = static_cast<int32_t>(at);
      const float t = at - static_cast<float>(i);
      const float *p = d->glowTable + 3 * i;
      for (int k = 0; k < 3; ++k) sum[k] += p[k] + (p[k + 3] - p[k]) * t;
    }
  }
  float rays[3] = {0, 0, 0};
  if (d->raysShapeCode != kShapeNone) {
    float v = RayValue(d, s, x, y);
    if (mode == 1 && v * std::max({d->raysColour[0], d->raysColour[1], d->raysColour[2]}) < 0.01f) {
      const float q = 0.25f * scale;
      v = (RayValue(d, s, x - q, y - q) + RayValue(d, s, x + q, y - q) + RayValue(d, s, x - q, y + q) +
           RayValue(d, s, x + q, y + q)) *
          0.25f * 0.2f;
    }
    for (int k = 0; k < 3; ++k) rays[k] = v * d->raysColour[k];
  }
  const float w = d->raysW;
  for (int k = 0; k < 3; ++k) {
    const float c = w > 0 ? (sum[k] + rays[k]) * (1 - w) + sum[k] * rays[k] * w : sum[k] + rays[k];
    out[k] = std::clamp(c * s.colourWeight[k], -kLargest, kLargest);
  }
}

VtStatus RowsDraw(FlarePass *p, uint32_t y0, uint32_t y1) {
  const uint32_t width = p->region[1] - p->region[0] + 1;
  const uint32_t step = p->depth ? 4 : 3;
  auto *row = static_cast<float *>(VoAllocate(width * step * sizeof(float)));
  auto *rgb = p->depth ? static_cast<float *>(VoAllocate(width * 3 * sizeof(float))) : row;
  if (row == nullptr || rgb == nullptr) {
    VoDeallocate(row);
    if (p->depth) VoDeallocate(rgb);
    return kNoMemory;
  }
  const FlareData *d = p->d;
  const uint32_t rows = p->region[3] - p->region[2] + 1;
  VtStatus st = 0;
  for (uint32_t y = y0; st == 0 && y <= y1; ++y) {
    if ((st = VoPostprocessPollInterrupt()) != 0) break;
    const uint32_t at = y - p->region[2];
    st = p->depth ? VoScreenBufferGetScanRGBZFloat(p->b, at, row)
                  : VoScreenBufferGetScanRGBFloat(p->b, at, row);
    if (st != 0) break;
    if (p->depth)
      for (uint32_t i = 0; i < width; ++i) std::memcpy(rgb + 3 * i, row + 4 * i, 3 * sizeof(float));
    for (uint32_t n = 0; n < p->count; ++n) {
      const SourceDraw &s = p->sources[n];
      const float ly = (static_cast<float>(y) - s.y) * p->scale / p->aspect;
      for (uint32_t i = 0; i < width; ++i) {
        if (p->depth && static_cast<double>(row[4 * i + 3]) < s.depth) continue;
        const float lx = (static_cast<float>(p->region[0] + i) - s.x) * p->scale;
        float add[3];
        SourceAt(d, s, p->mode, p->scale, lx, ly, add);
        for (int k = 0; k < 3; ++k) {
          float &c = rgb[3 * i + k];
          c = std::clamp(c + add[k], -kLargest, kLargest);
          if (d->clampColour != 0 && c > 1.0f) c = 1.0f;
        }
      }
    }
    st = VoScreenBufferSetScanRGBFloat(p->b, at, rgb);
    // Progress goes out from the calling thread only, counting every worker's rows.
    const uint32_t done = p->rowsDone.fetch_add(1) + 1;
    if (!OnWorkerThread()) (void)VoPostprocessReportProgress(100.0 * done / rows);
  }
  VoDeallocate(row);
  if (p->depth) VoDeallocate(rgb);
  return st;
}

VtStatus Band(FlarePass *p, uint32_t y0, uint32_t y1) { return RowsDraw(p, y0, y1); }

// The draws of every angle bin of a source, from a generator of the calling
// context's reseeded per bin from the bin and the source, so the pattern
// stays fixed on the image.
void RayDraws(VtRandomState *random, uint32_t source, float *out) {
  for (uint32_t b = 0; b < kBins; ++b) {
    const uint32_t bin = b + kFirstBin;
    (void)VoRandomStateSeed(static_cast<int32_t>(bin * 2654435761u ^ (source + 1) * 40503u), random);
    for (uint32_t k = 0; k < kRayDraws; ++k)
      out[kRayDraws * b + k] = static_cast<float>(VoRandomStateDouble(random));
  }
}

VtStatus BandItem(int32_t, const VtMultiThreadItem *item, void *argument) {
  auto *p = static_cast<FlarePass *>(argument);
  const uint32_t y0 = std::max(item->y0, p->region[2]), y1 = std::min(item->y1, p->region[3]);
  const VtStatus st = y0 <= y1 ? Band(p, y0, y1) : 0;
  p->status.fetch_or(st);
  return st;
}

VtStatus FlareWorker(void *) {
  const VtPostprocessContext *c = State();
  VtStatus st = VoMultiThreadWorkerBegin();
  const VtStatus loop = VoMultiThreadWorkerLoop(&BandItem, c != nullptr ? c->pass : nullptr);
  return VoMultiThreadWorkerEnd(st | loop) | st | loop;
}

uint32_t ControlWord(uint32_t code, uint32_t otherwise) {
  VtTypedValue v{};
  return VoControlGet(code, &v) == 0 ? v.value.u : otherwise;
}

// The rows as a farm job, threaded rows never sent to the driver.
VtStatus RowsJob(FlarePass *p) {
  VtPostprocessContext *c = State();
  if (c == nullptr || !ModuleStarted(VO_MODULE_MULTITHREAD)) return Band(p, p->region[2], p->region[3]);
  const uint32_t deliver = ControlWord(VO_CONTROL_MT_DELIVER_ROWS, 1);
  const VtTypedValue off = TypedBoolean(false);
  const VtStatus saved = VoControlSet(VO_CONTROL_MT_DELIVER_ROWS, &off);
  const uint32_t scheme = ControlWord(VO_CONTROL_MT_JOB_SCHEME, VO_MT_SCHEME_BANDED);
  VtMultiThreadJob *job =
      scheme == VO_MT_SCHEME_EVEN ? VoMultiThreadJobCreateEven(p->region) : VoMultiThreadJobCreate(p->region);
  VtStatus st = job == nullptr ? kNoMemory : 0;
  if (job != nullptr) {
    if (VoMultiThreadPassBegin(job) == 0) {
      void *outer = c->pass;
      c->pass = p;
      st = VoMultiThreadWorkersStart(&FlareWorker);
      if (st == 0) st = VoMultiThreadDispatch(nullptr, nullptr);
      st |= VoMultiThreadWorkersStop();
      c->pass = outer;
      st |= p->status.load();
    } else {
      st = Band(p, p->region[2], p->region[3]);
    }
    st |= VoMultiThreadPassEnd();
    st |= VoMultiThreadJobDestroy(job);
  }
  if (saved == 0) {
    const VtTypedValue restore = TypedBoolean(deliver != 0);
    st |= VoControlSet(VO_CONTROL_MT_DELIVER_ROWS, &restore);
  }
  return st;
}

bool Bright(const VtFlareSource &s, float minimum) {
  return s.colour[0] >= minimum || s.colour[1] >= minimum || s.colour[2] >= minimum;
}

}  // namespace

VtStatus FlareDraw(const FlareData *d, VtScreenBuffer *b, const FlareSources &sources, uint32_t mode) {
  FlarePass p;
  p.d = d;
  p.b = b;
  p.mode = mode;
  VtStatus st = VoScreenBufferGetRegion(b, p.region);
  VtTypedValue v{};
  uint32_t width = 0, height = 0, mask = 0;
  if (st == 0) st = VoScreenBufferGetControl(b, VO_SB_WIDTH, &v);
  width = v.value.u;
  if (st == 0) st = VoScreenBufferGetControl(b, VO_SB_HEIGHT, &v);
  height = v.value.u;
  if (st == 0) st = VoScreenBufferGetDataMask(b, &mask);
  if (st != 0 || width == 0 || height == 0) return st != 0 ? st : kRefused;
  // Only sources with a component at the minimum draw; none ends the run.
  uint32_t count = 0;
  for (uint32_t i = 0; i < sources.count; ++i) count += Bright(sources.items[i], d->minIntensity) ? 1 : 0;
  if (count == 0) return 0;
  uint32_t rx = 0, ry = 0;
  double aspect = 1;
  if (VoViewGetResolution(nullptr, &rx, &ry, &aspect) != 0 || !(aspect > 0) || !std::isfinite(aspect))
    aspect = 1;
  p.aspect = static_cast<float>(aspect);
  p.scale = width <= height ? d->sizeRange / (static_cast<float>(width) * p.aspect)
                            : d->sizeRange * p.aspect / static_cast<float>(height);
  p.depth = d->checkDepth != 0 && (mask & VO_SB_DEPTH) != 0;
  const size_t ghosts = static_cast<size_t>(d->ghostCount);
  const bool randomRays = d->raysShapeCode != kShapeNone && d->raysTypeCode != kRaysRegular;
  const size_t rayFloats = randomRays ? kBins * kRayDraws : 0;
  const size_t bytes = count * (sizeof(SourceDraw) + (2 * ghosts + rayFloats) * sizeof(float));
  if (bytes > 0xffffffffu) return kNoMemory;
  auto *draws = static_cast<SourceDraw *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (draws == nullptr) return kNoMemory;
  auto *centres = reinterpret_cast<float *>(draws + count);
  float *rays = centres + 2 * ghosts * count;
  VtPostprocessContext *c = State();
  VtRandomState *own = randomRays && (c == nullptr || c->random == nullptr) ? VoRandomStateCreate() : nullptr;
  VtRandomState *random = own != nullptr ? own : c != nullptr ? c->random : nullptr;
  if (randomRays && random == nullptr) {
    VoDeallocate(draws);
    return kNoMemory;
  }
  // The source scale: full size at the maximum intensity, 1 / size range of
  // it at the minimum (never smaller); all full size when the range is empty.
  const float range = d->maxIntensity - d->minIntensity;
  const float a = d->sizeRange > 1 && range >= 1e-6f ? (1 - 1 / d->sizeRange) / range : 0;
  const float bconst = a != 0 ? 1 - a * d->maxIntensity : 1;
  const float smallest = d->sizeRange > 1 ? 1 / d->sizeRange : 1;
  const float cx = static_cast<float>(width) / 2, cy = static_cast<float>(height) / 2;
  const float corner = std::sqrt(cx * cx + (cy / p.aspect) * (cy / p.aspect));
  uint32_t n = 0;
  for (uint32_t i = 0; i < sources.count; ++i) {
    const VtFlareSource &src = sources.items[i];
    if (!Bright(src, d->minIntensity)) continue;
    SourceDraw &s = draws[n];
    const float scale = std::max(smallest, a * src.mean + bconst);
    s.x = static_cast<float>(src.x);
    s.y = static_cast<float>(src.y);
    s.depth = src.depth;
    s.index = i;
    for (int k = 0; k < 3; ++k) s.colourWeight[k] = src.colour[k] / d->maxIntensity * d->intensity;
    s.recipGlow = 1 / (d->glowRadius * scale);
    s.recipHalo = 1 / (d->haloRadius * scale);
    float ux = cx - s.x, uy = (cy - s.y) / p.aspect;
    const float dist = std::sqrt(ux * ux + uy * uy);
    if (dist < 1e-6f) {
      ux = 1;
      uy = 0;
    } else {
      ux /= dist;
      uy /= dist;
    }
    float *g = centres + 2 * ghosts * n;
    for (size_t j = 0; j < ghosts; ++j) {
      const float pos = d->ghostRecords[j].position;
      const float t = pos <= 0 ? pos * dist * p.scale : (1.1f * corner + dist) * p.scale * pos;
      g[2 * j] = t * ux;
      g[2 * j + 1] = t * uy;
    }
    s.ghosts = g;
    s.rays = nullptr;
    if (randomRays) {
      s.rays = rays + rayFloats * n;
      RayDraws(random, i, rays + rayFloats * n);
    }
    ++n;
  }
  if (own != nullptr) (void)VoRandomStateDestroy(own);
  p.sources = draws;
  p.count = n;
  st = RowsJob(&p);
  VoDeallocate(draws);
  return st;
}

VtPixelList *FlareSourcesFromImage(VtScreenBuffer *b, float minimum, VtStatus *st) {
  uint32_t region[4] = {}, mask = 0;
  *st = VoScreenBufferGetRegion(b, region);
  if (*st == 0) *st = VoScreenBufferGetDataMask(b, &mask);
  if (*st != 0) return nullptr;
  const bool depth = (mask & VO_SB_DEPTH) != 0;
  const uint32_t width = region[1] - region[0] + 1, step = depth ? 4 : 3;
  VtPixelList *list = VoPixelListCreate();
  auto *row = static_cast<float *>(VoAllocate(width * step * sizeof(float)));
  if (list == nullptr || row == nullptr) {
    VoDeallocate(row);
    (void)VoPixelListDestroy(list);
    *st = kNoMemory;
    return nullptr;
  }
  for (uint32_t y = region[2]; *st == 0 && y <= region[3]; ++y) {
    const uint32_t at = y - region[2];
    *st = depth ? VoScreenBufferGetScanRGBZFloat(b, at, row) : VoScreenBufferGetScanRGBFloat(b, at, row);
    for (uint32_t i = 0; *st == 0 && i < width; ++i) {
      const float *c = row + step * i;
      if (!(c[0] >= minimum || c[1] >= minimum || c[2] >= minimum)) continue;
      auto *s = static_cast<VtFlareSource *>(VoPixelListEntryNew(list));
      if (s == nullptr) {
        *st = kNoMemory;
        break;
      }
      *s = VtFlareSource{{c[0], c[1], c[2]},
                         (c[0] + c[1] + c[2]) * 0.3333333333f,
                         depth ? c[3] : 0.0,
                         static_cast<double>(region[0] + i),
                         static_cast<double>(y)};
      *st = VoPixelListAdd(list, static_cast<int32_t>(region[0] + i), static_cast<int32_t>(y), s);
    }
  }
  VoDeallocate(row);
  if (*st != 0) {
    (void)VoPixelListDestroy(list);
    return nullptr;
  }
  return list;
}

VtStatus FlareSourcesOf(VtPixelList *store, FlareSources *out) {
  *out = FlareSources{nullptr, 0};
  if (store == nullptr) return 0;
  VtPixelListIterator *it = VoPixelListIteratorCreate(store);
  if (it == nullptr) return kNoMemory;
  uint32_t n = 0;
  void *e = nullptr;
  while (VoPixelListNext(it, nullptr, nullptr, &e, nullptr) == 0) ++n;
  VtStatus st = 0;
  if (n > 0) {
    out->items = static_cast<VtFlareSource *>(VoAllocate(n * sizeof(VtFlareSource)));
    if (out->items == nullptr) {
      st = kNoMemory;
    } else {
      (void)VoPixelListIteratorReset(it);
      while (out->count < n && VoPixelListNext(it, nullptr, nullptr, &e, nullptr) == 0)
        std::memcpy(&out->items[out->count++], e, sizeof(VtFlareSource));
    }
  }
  VoDeallocate(it);
  return st;
}

}  // namespace vo::post

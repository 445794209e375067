// The grid pulse generator, the averaging reconstruction, their method
// enumerators, and the sampling loop the shader kernel runs for a filter
// shader.
//
// The grid places nx x ny samples at the interior points of a regular grid
// on the pixel, row by row: x = k / (nx + 1), y = l / (ny + 1). Counts below
// 1 make its start answer 2 (there is nothing to sample and the loop would
// otherwise never finish); counts above 256 are refused when set.

#include <cstring>

#include "shading/vofilter/filter.h"
#include "kernel/vosystem/face.h"

namespace vo::filter {

namespace {

struct GridData {
  int32_t nx, ny;
  float step_x, step_y, x, y;
  int32_t i, j;
  float start_x, start_y;
};

struct BoxData {
  uint32_t count;
  float co[3];
  float n[3];
};

template <class T>
VtStatus DataCreate(void **data) {
  if (data == nullptr) return VO_STATUS_BAD_ARGUMENT;
  auto *d = static_cast<T *>(VoAllocate(sizeof(T)));
  if (d == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(d), 0, sizeof(T));
  if constexpr (std::is_same_v<T, GridData>) d->nx = d->ny = 2;
  *data = d;
  return 0;
}

VtStatus DataDestroy(void *data) {
  VoDeallocate(data);
  return 0;
}

VtStatus GridStart(void *data) {
  auto *g = static_cast<GridData *>(data);
  if (g == nullptr || g->nx < 1 || g->ny < 1) return VO_STATUS_UNAVAILABLE;
  g->step_x = g->start_x = g->x = 1.0f / float(g->nx + 1);
  g->step_y = g->start_y = g->y = 1.0f / float(g->ny + 1);
  g->i = g->j = 0;
  return 0;
}

VtStatus GridNext(void *data, VtShadeContext *c) {
  auto *g = static_cast<GridData *>(data);
  if (g->j >= g->ny) {
    (void)VoShadeContextSetXo(c, -1.0f);
    (void)VoShadeContextSetYo(c, -1.0f);
    return VO_STATUS_UNAVAILABLE;
  }
  (void)VoShadeContextSetXo(c, g->x);
  (void)VoShadeContextSetYo(c, g->y);
  g->x += g->step_x;
  if (++g->i >= g->nx) {
    g->i = 0;
    g->x = g->start_x;
    ++g->j;
    g->y += g->step_y;
  }
  return 0;
}

uint32_t GridFinished(void *data) {
  return static_cast<GridData *>(data)->j >= static_cast<GridData *>(data)->ny;
}

int32_t *GridCount(void *data, uint32_t index) {
  auto *g = static_cast<GridData *>(data);
  return index == 0 ? &g->nx : (index == 1 ? &g->ny : nullptr);
}

VtStatus GridGet(void *data, uint32_t index, VtTypedValue *value) {
  const int32_t *count = data != nullptr ? GridCount(data, index) : nullptr;
  if (count == nullptr || value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *value = TypedWord(VtInt32, static_cast<uint32_t>(*count));
  return 0;
}

VtStatus GridSet(void *data, uint32_t index, const VtTypedValue *value) {
  int32_t *count = data != nullptr ? GridCount(data, index) : nullptr;
  if (count == nullptr || value == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (value->value.i > kMostCount) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kFilterSizeRefused, VO_MODULE_FILTER, index, value->value.i);
    return VO_STATUS_BAD_ARGUMENT;
  }
  *count = value->value.i;
  return 0;
}

VtStatus BoxStart(void *data) {
  std::memset(data, 0, sizeof(BoxData));
  return 0;
}

VtStatus BoxAdd(void *data, VtShadeContext *c) {
  auto *b = static_cast<BoxData *>(data);
  float co[3] = {0, 0, 0}, n[3] = {0, 0, 0};
  VtStatus st = VoShadeContextGetCo(c, co);
  st |= VoShadeContextGetN(c, n);
  ++b->count;
  for (int i = 0; i < 3; ++i) b->co[i] += co[i], b->n[i] += n[i];
  return st;
}

VtStatus BoxFinish(void *data, VtShadeContext *c) {
  const auto *b = static_cast<const BoxData *>(data);
  if (b->count == 0) return VO_STATUS_UNAVAILABLE;
  const double k = 1.0 / b->count;
  float co[3], n[3];
  for (int i = 0; i < 3; ++i)
    co[i] = static_cast<float>(b->co[i] * k), n[i] = static_cast<float>(b->n[i] * k);
  return VoShadeContextSetCo(c, co) | VoShadeContextSetN(c, n);
}

VtStatus Method(VtTypedValue *out, VtProc method) {
  if (out == nullptr) return VO_STATUS_BAD_ARGUMENT;
  *out = VtTypedValue{};
  out->type = VtFunc;
  out->value.fn = method;
  return 0;
}

template <class T>
VtProc AsProc(T method) {
  return reinterpret_cast<VtProc>(method);
}

template <class Record>
bool MethodsTake(Record *r, EnumerateProc enumerate, uint32_t required, uint32_t all) {
  r->enumerate = enumerate;
  VtProc *slots = reinterpret_cast<VtProc *>(&r->create);
  for (uint32_t i = 0; i < all; ++i) {
    VtTypedValue v{};
    const bool answered = enumerate(i, &v) == 0;
    if (!answered && i < required) return false;
    slots[i] = answered ? v.value.fn : nullptr;
  }
  return true;
}

}  // namespace

VtPulseGenerator *GeneratorMake(EnumerateProc enumerate) {
  VtFilterContext *s = State();
  auto *g = s != nullptr ? static_cast<VtPulseGenerator *>(VoPoolAllocate(s->generators)) : nullptr;
  if (g == nullptr) return nullptr;
  std::memset(static_cast<void *>(g), 0, sizeof *g);
  if (!MethodsTake(g, enumerate, 5, 7) || g->create(&g->data) != 0) {
    (void)VoPoolFree(s->generators, g);
    return nullptr;
  }
  (void)g->start(g->data);
  return g;
}

VtReconstructor *ReconstructorMake(EnumerateProc enumerate) {
  VtFilterContext *s = State();
  auto *r = s != nullptr ? static_cast<VtReconstructor *>(VoPoolAllocate(s->reconstructors)) : nullptr;
  if (r == nullptr) return nullptr;
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  if (!MethodsTake(r, enumerate, 5, 5) || r->create(&r->data) != 0) {
    (void)VoPoolFree(s->reconstructors, r);
    return nullptr;
  }
  return r;
}

void GeneratorDestroy(VtPulseGenerator *g) {
  if (g == nullptr) return;
  (void)g->destroy(g->data);
  (void)VoPoolFree(State()->generators, g);
}

void ReconstructorDestroy(VtReconstructor *r) {
  if (r == nullptr) return;
  (void)r->destroy(r->data);
  (void)VoPoolFree(State()->reconstructors, r);
}

}  // namespace vo::filter

namespace vo {

using namespace filter;

VtStatus pulse_grid_methods(uint32_t index, VtTypedValue *method) {
  static const VtProc kMethods[7] = {
      AsProc(&DataCreate<GridData>), AsProc(&DataDestroy), AsProc(&GridStart), AsProc(&GridNext),
      AsProc(&GridFinished),         AsProc(&GridGet),     AsProc(&GridSet)};
  return index < 7 ? Method(method, kMethods[index]) : VO_STATUS_UNAVAILABLE;
}

VtStatus recon_box_methods(uint32_t index, VtTypedValue *method) {
  static const VtProc kMethods[5] = {AsProc(&DataCreate<BoxData>), AsProc(&DataDestroy), AsProc(&BoxStart),
                                     AsProc(&BoxAdd), AsProc(&BoxFinish)};
  return index < 5 ? Method(method, kMethods[index]) : VO_STATUS_UNAVAILABLE;
}

VtStatus filter_sample_loop(void *pair_word, void *test_proc, VtShadeContextReference *ring,
                            VtFilterSampleProc shade, VtShadeContext *c, VtShaderGlobals *globals) {
  const auto *pair = static_cast<const VtFilterPair *>(pair_word);
  if (pair == nullptr || pair->generator == nullptr || pair->reconstructor == nullptr || c == nullptr ||
      test_proc == nullptr || shade == nullptr)
    return VO_STATUS_BAD_ARGUMENT;
  const auto test = reinterpret_cast<MapProc>(test_proc);
  float co[3] = {0, 0, 0}, n[3] = {0, 0, 0};
  (void)VoShadeContextGetCo(c, co);
  (void)VoShadeContextGetN(c, n);
  VtPulseGenerator *g = pair->generator;
  VtReconstructor *r = pair->reconstructor;
  VtStatus st = g->start(g->data);
  if (st != 0) return st;
  st = r->start(r->data);
  if (st != 0) return st;
  while (g->finished(g->data) == 0) {
    st |= g->next(g->data, c);
    if (test(c, ring) != 0) continue;
    st |= shade(c, globals);
    st |= r->add(r->data, c);
    (void)VoShadeContextSetCo(c, co);
    (void)VoShadeContextSetN(c, n);
  }
  return st | r->finish(r->data, c);
}

}  // namespace vo

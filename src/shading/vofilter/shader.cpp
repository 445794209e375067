// The filter shader class vxs_filter ("generic filter"): its arguments
// name a pulse generator, a point-in-polygon map, a reconstruction and the
// samples across and down; prepare makes the filter pair the shader kernel
// hands the sampling loop. Prepare always makes the grid generator and the
// averaging reconstruction; the two enumeration arguments are kept and
// answered only.
//
// Every instance holding a pair is on the module's list of prepared
// instances, so that the module, when it stops before the instances are
// destroyed, gives every pair back: an instance released after that finds
// none to give.

#include <cstddef>

#include "shading/vofilter/filter.h"
#include "shading/shaderlib/face.h"

namespace vo::filter {

namespace {

using shaderlib::Field;

struct FilterData {
  int32_t prepared;
  uint32_t pulse_generator;
  uint32_t map;
  uint32_t reconstruction;
  VtFilterPair *pair;
  VtPulseGenerator *generator;
  void *map_func;
  VtReconstructor *reconstructor;
  int32_t width, height;
  FilterData *previous, *next;  // the module's list of instances holding a pair
};

constexpr FilterData kDefault{0, 0, 1, 16, nullptr, nullptr, nullptr, nullptr, 2, 2, nullptr, nullptr};

constexpr Field kFields[] = {
    {VtGenericPtr, offsetof(FilterData, pair)},      {VtGenericPtr, offsetof(FilterData, map_func)},
    {VtEnum, offsetof(FilterData, pulse_generator)}, {VtEnum, offsetof(FilterData, map)},
    {VtEnum, offsetof(FilterData, reconstruction)},  {VtInt32, offsetof(FilterData, width)},
    {VtInt32, offsetof(FilterData, height)},
};

// The maps answer 0 for a sample inside the polygon and 2 outside.
VtStatus InOffset(VtShadeContext *c, VtShadeContextReference *ring) {
  return VoShadeContextPointInOffsetPolygon(c, ring) != 0 ? 0 : 2;
}
VtStatus InWorld(VtShadeContext *c, VtShadeContextReference *ring) {
  return VoShadeContextPointInWorldPolygon(c, ring) != 0 ? 0 : 2;
}
VtStatus InTexture(VtShadeContext *c, VtShadeContextReference *ring) {
  return VoShadeContextPointInTexturePolygon(c, ring) != 0 ? 0 : 2;
}

FilterData *&PreparedHead(VtFilterContext *s) { return *reinterpret_cast<FilterData **>(&s->prepared); }

void PreparedLink(VtFilterContext *s, FilterData *d) {
  RegisterGuard hold;
  FilterData *&head = PreparedHead(s);
  d->previous = nullptr;
  d->next = head;
  if (head != nullptr) head->previous = d;
  head = d;
}

void PreparedUnlink(VtFilterContext *s, FilterData *d) {
  RegisterGuard hold;
  FilterData *&head = PreparedHead(s);
  if (d->previous == nullptr && head != d) return;  // not on the list
  (d->previous != nullptr ? d->previous->next : head) = d->next;
  if (d->next != nullptr) d->next->previous = d->previous;
  d->previous = d->next = nullptr;
}

void PairRelease(FilterData *d) {
  PreparedUnlink(State(), d);
  GeneratorDestroy(d->generator);
  ReconstructorDestroy(d->reconstructor);
  if (d->pair != nullptr) (void)VoPoolFree(State()->pairs, d->pair);
  d->generator = nullptr;
  d->reconstructor = nullptr;
  d->pair = nullptr;
}

VtStatus FilterPrepare(void *block) {
  auto *d = static_cast<FilterData *>(block);
  VtFilterContext *s = State();
  if (d == nullptr || s == nullptr) return 0;
  PairRelease(d);
  switch (d->map) {
    case 1: d->map_func = reinterpret_cast<void *>(&InOffset); break;
    case 2: d->map_func = reinterpret_cast<void *>(&InWorld); break;
    case 3: d->map_func = reinterpret_cast<void *>(&InTexture); break;
    default: break;
  }
  d->generator = GeneratorMake(&exported::pulse_grid_methods);
  d->reconstructor = ReconstructorMake(&exported::recon_box_methods);
  if (d->generator != nullptr && d->generator->set != nullptr) {
    const VtTypedValue width = TypedWord(VtInt32, static_cast<uint32_t>(d->width));
    const VtTypedValue height = TypedWord(VtInt32, static_cast<uint32_t>(d->height));
    (void)d->generator->set(d->generator->data, 0, &width);
    (void)d->generator->set(d->generator->data, 1, &height);
  }
  auto *pair = static_cast<VtFilterPair *>(VoPoolAllocate(s->pairs));
  if (pair == nullptr || d->generator == nullptr || d->reconstructor == nullptr) {
    if (pair != nullptr) (void)VoPoolFree(s->pairs, pair);
    PairRelease(d);
    return VO_STATUS_NO_MEMORY;
  }
  *pair = VtFilterPair{d->generator, d->reconstructor, nullptr};
  d->pair = pair;
  PreparedLink(s, d);
  return 0;
}

VtStatus FilterRelease(void *block) {
  if (block != nullptr && State() != nullptr) PairRelease(static_cast<FilterData *>(block));
  return 0;
}

// The block goes with what its prepare made, so destroying an instance
// that was never released loses nothing.
VtStatus FilterDestroy(void *block) {
  (void)FilterRelease(block);
  return exported::VoBlockFree(block);
}

constexpr const char *kLabels[] = {"filter", "map func", "pulse generator", "map", "reconstruction filter",
                                   "width",  "height"};
constexpr const char *kMeanings[] = {
    "the filter pair (pulse generator and reconstruction) made at preparation",
    "procedure that tells whether a sample lies in the polygon, chosen by map at preparation",
    "kind of sample placement; stored and answered, a grid is always used",
    "space the samples are tested in: 1 offset, 2 world, 3 texture coordinates",
    "kind of reconstruction; stored and answered, the samples are always averaged",
    "columns of the sample grid in a pixel",
    "rows of the sample grid in a pixel"};

}  // namespace

void FilterPairsGiveBack() {
  VtFilterContext *s = State();
  if (s == nullptr) return;
  while (FilterData *d = PreparedHead(s)) PairRelease(d);
}

VtStatus FilterClassCreate() {
  shaderlib::Entries e;
  e.prepare = &FilterPrepare;
  e.get = &shaderlib::TableGet<kFields>;
  e.set = &shaderlib::TableSet<kFields>;
  e.create = &shaderlib::InstanceCreate<kDefault>;
  e.release = &FilterRelease;
  e.destroy = &FilterDestroy;
  static const shaderlib::ClassDescription kClass{
      "vxs_filter", "generic filter", VO_SHADER_FILTER, kLabels, kMeanings, {}, e};
  return shaderlib::ClassCreate(kClass);
}

}  // namespace vo::filter

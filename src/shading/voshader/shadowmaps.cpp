// Shadow depth maps: rendered from each light through the advanced
// renderer with a scanline receiver, cropped to the window that holds
// anything, and sampled by percentage-closer filtering or searched for the
// nearest occluder.
//
// A nested render (maps here, cube faces too) replaces and restores the
// kernel's sticky word (cleared for the render, the outer value ORed back),
// callback 0xc0001, control 0x1000b and, for colour faces, module 12's pixel
// mode; a map render also restores the scene bounds. The receiver counts
// rows: extras are dropped and a block without exactly its rows fails. An
// empty map has null data and an empty window and is sampled as lit.
// Sample positions are range-tested in double before any conversion.
// Maps are kept from image to image while the casters and bounds they were
// made from stand (mapsource.cpp), and made again once these change.

#include <algorithm>
#include <cmath>
#include <cstring>

#include <vo/vo_geometry.h>
#include <vo/vo_view.h>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"
#include "shading/voshader/imaging.h"
#include "shading/voshader/jitter.h"
#include "shading/voshader/voshader.h"

namespace vo::shader {

namespace {

constexpr uint32_t kProgress = 0x08000000u;
constexpr int32_t kMapSideMost = 8192;
constexpr float kNothing = 1e20f;
constexpr uint32_t kLineOutput = 0xc0001;
constexpr uint32_t kPixelMode = 0xc000f;

VtLightData *LightOf(const VtShader *shader) { return static_cast<VtLightData *>(shader->data); }

bool MapsKind(int32_t kind) {
  return kind >= VO_LIGHT_DISTANT && kind <= VO_LIGHT_PROJECTOR && kind != VO_LIGHT_EYE;
}

int MapCount(int32_t kind) {
  return kind == VO_LIGHT_POINT || kind == VO_LIGHT_GONIOMETRIC || kind == VO_LIGHT_AREA ? 6 : 1;
}

// The kind whose maps the light is made with: a point light's cube for a
// spot or projector whose cone one map does not hold well.
int32_t MapsLayout(const VtLightData *d) { return ConeMapsCube(d) ? VO_LIGHT_POINT : d->kind; }

// The sticky word and the driver's interrupt poll, read once per light;
// the poll is the application's, made in its state.
struct Interrupts {
  uint32_t *sticky;
  VtStatus (*poll)();
  bool Stopped() const {
    if (poll != nullptr && InCallerState(poll) != 0 && sticky != nullptr) *sticky |= VO_COND_INTERRUPTED;
    return sticky != nullptr && *sticky != 0;
  }
};

uint32_t *StickyWord() {
  VtTypedValue v{};
  return VoControlGet(VO_CONTROL_STICKY_STATUS, &v) == 0 ? static_cast<uint32_t *>(v.value.p) : nullptr;
}

// The maps share one block, which the first map that kept texels starts: a
// map the crop emptied holds none, so face 0 may not be the block's.
void MapsFree(VtLightData *d) {
  for (const VtShadowMap &m : d->shadowMaps)
    if (m.data != nullptr) {
      VoDeallocate(m.data);
      break;
    }
  for (VtShadowMap &m : d->shadowMaps) m = VtShadowMap{nullptr, 0, -1, 0, -1};
  d->shadowMapBytes = 0;
  d->shadowValid = 0;
}

bool IsList(const VtPrimitive *p) {
  const uint32_t type = VoPrimitiveGetFlags(const_cast<VtPrimitive *>(p)) & VO_PRIMITIVE_TYPE_MASK;
  return type == VO_PRIMITIVE_LIST || type == VO_PRIMITIVE_LIST_COPY;
}

// Appends the casters of a ring (members of lists, recursively) to *out.
void CastersAdd(const VtReference *ring, VtReference **out, ListPath &path, const Interrupts &stop) {
  if (ring == nullptr) return;
  const VtReference *node = ring;
  do {
    node = node->next;
    if (stop.Stopped()) return;
    auto *p = static_cast<VtPrimitive *>(node->data);
    // A member destroyed while listed casts nothing: the render around the
    // map refuses it in its own gathering, and the map render must not
    // read its record meanwhile.
    if (!PrimitiveLive(p)) continue;
    if (IsList(p)) {
      if (path.Enter(p) != 0) continue;
      CastersAdd(ListMembers(p), out, path, stop);
      path.Leave();
    } else if ((VoPrimitiveGetFlags(p) & VO_PRIMITIVE_NO_SHADOW_CAST) == 0) {
      if (VtReference *r = VoPrimitiveReferenceCreate(p)) *out = VoPrimitiveReferenceAppend(*out, r);
    }
  } while (node != ring);
}

// The window of a distant light's view over the bounds; the eye moves to
// its middle.
void WindowDistant(ShadingContext *s, float *eye, const float *dir, const float *up, double *width,
                   double *height) {
  float d[3] = {dir[0], dir[1], dir[2]}, u[3], v[3];
  Normalise(d);
  u[0] = d[1] * up[2] - d[2] * up[1], u[1] = d[2] * up[0] - d[0] * up[2], u[2] = d[0] * up[1] - d[1] * up[0];
  Normalise(u);
  v[0] = d[1] * u[2] - d[2] * u[1], v[1] = d[2] * u[0] - d[0] * u[2], v[2] = d[0] * u[1] - d[1] * u[0];
  Normalise(v);
  float b[6];
  if (VoShadowBoundsGet(b) != 0) {
    VtBounds box{};
    (void)VoBoundsGet(&box);
    std::memcpy(b, &box, sizeof b);
  }
  (void)s;
  double umin = 1e20, umax = -1e20, vmin = 1e20, vmax = -1e20;
  for (int c = 0; c < 8; ++c) {
    const double p[3] = {b[c & 1] - eye[0], b[2 + ((c >> 1) & 1)] - eye[1], b[4 + ((c >> 2) & 1)] - eye[2]};
    const double pu = p[0] * u[0] + p[1] * u[1] + p[2] * u[2], pv = p[0] * v[0] + p[1] * v[1] + p[2] * v[2];
    umin = std::min(umin, pu), umax = std::max(umax, pu), vmin = std::min(vmin, pv),
    vmax = std::max(vmax, pv);
  }
  *width = umax - umin;
  *height = vmax - vmin;
  for (int k = 0; k < 3; ++k)
    eye[k] = static_cast<float>(eye[k] + (umin + *width / 2) * u[k] + (vmin + *height / 2) * v[k]);
}

// How far the current view's image plane lies from its eye along its
// direction.
double ImagePlaneDistance() {
  VtTypedValue corner{}, eye{}, direction{};
  if (VoViewGetValue(VO_VIEW_VALUE_CORNER, &corner) != 0 || VoViewGetValue(VO_VIEW_VALUE_EYE, &eye) != 0 ||
      VoViewGetValue(VO_VIEW_VALUE_DIRECTION, &direction) != 0 || corner.value.p == nullptr ||
      eye.value.p == nullptr || direction.value.p == nullptr)
    return 0;
  const auto *c = static_cast<const float *>(corner.value.p), *e = static_cast<const float *>(eye.value.p),
             *v = static_cast<const float *>(direction.value.p);
  const double length = std::sqrt(double{v[0]} * v[0] + double{v[1]} * v[1] + double{v[2]} * v[2]);
  if (!(length > 0)) return 0;
  return ((c[0] - e[0]) * double{v[0]} + (c[1] - e[1]) * double{v[1]} + (c[2] - e[2]) * double{v[2]}) /
         length;
}

// One render of the current view into one map's rows.
VtStatus MapRender(ShadingContext *s, uint8_t *block, int32_t n, int map) {
  const size_t map_bytes = static_cast<size_t>(n) * n * sizeof(float);
  return ReceivedRender(s, 0x200003, block + map * map_bytes, static_cast<size_t>(n) * sizeof(float),
                        static_cast<uint32_t>(n));
}

// A perspective map whose view sees nothing of the scene (every corner of
// the bounds behind the light or at it) is empty rather than a failed
// render.
VtStatus PerspectiveMapRender(ShadingContext *s, uint8_t *block, int32_t n, int map) {
  double hither = 0, yon = 0;
  if (VoViewGetClipping(VoViewGet(), &hither, &yon) == 0 && !(yon > 0.001)) {
    auto *texels = reinterpret_cast<float *>(block) + static_cast<size_t>(map) * n * n;
    std::fill(texels, texels + static_cast<size_t>(n) * n, kNothing);
    // The next face's automatic clipping evaluates the view with these
    // distances first: leave it a depth it accepts.
    return VoViewSetClipping(VoViewGet(), 1.0, 2.0);
  }
  return MapRender(s, block, n, map);
}

constexpr float kCubeViews[6][2][3] = {
    {{1, 0, 0}, {0, 0, 1}},  {{-1, 0, 0}, {0, 0, 1}}, {{0, 1, 0}, {0, 0, 1}},
    {{0, -1, 0}, {0, 0, 1}}, {{0, 0, 1}, {1, 0, 0}},  {{0, 0, -1}, {1, 0, 0}},
};

VtStatus MapsRender(ShadingContext *s, VtLightData *d, int32_t layout, uint8_t *block, int32_t n) {
  VtView *view = VoViewGet();
  switch (layout) {
    case VO_LIGHT_DISTANT: {
      std::memcpy(d->position, d->fromPoint, sizeof d->position);
      const float dir[3] = {d->toPoint[0] - d->fromPoint[0], d->toPoint[1] - d->fromPoint[1],
                            d->toPoint[2] - d->fromPoint[2]};
      double width = 0, height = 0;
      WindowDistant(s, d->position, dir, d->up, &width, &height);
      if (!(width > 0) || !(height > 0)) return 2;
      const double size = std::max(width, height);
      d->shadowWindowSize = static_cast<float>(size);
      d->shadowWindowInverse = static_cast<float>(1.0 / size);
      const float reference[3] = {d->position[0] + dir[0], d->position[1] + dir[1], d->position[2] + dir[2]};
      VtStatus st = VoViewSetPinhole(view, d->position, reference, d->up, 1, size) | VoViewAutoClipping(view);
      double hither = 0, yon = 0;
      st |= VoViewGetClipping(view, &hither, &yon);
      // A parallel render's depth runs from its image plane (through the
      // window's corner, a unit along the view from the eye) beyond the
      // hither distance; the shadow test measures from the light's eye, so
      // its offset is both.
      d->shadowHither = static_cast<float>(hither + ImagePlaneDistance());
      return st != 0 ? st : MapRender(s, block, n, 0);
    }
    case VO_LIGHT_POINT:
    case VO_LIGHT_GONIOMETRIC:
    case VO_LIGHT_AREA: {
      VtStatus st = 0;
      for (int f = 0; f < 6 && st == 0; ++f) {
        const float reference[3] = {d->position[0] + kCubeViews[f][0][0],
                                    d->position[1] + kCubeViews[f][0][1],
                                    d->position[2] + kCubeViews[f][0][2]};
        st = VoViewSetPinhole(view, d->position, reference, kCubeViews[f][1], 2, 92.0) |
             VoViewAutoClipping(view);
        if (st == 0) st = PerspectiveMapRender(s, block, n, f);
      }
      return st;
    }
    case VO_LIGHT_SPOT:
    case VO_LIGHT_PROJECTOR: {
      const double angle = d->coneAngle >= 179 ? 179.0 : (d->coneAngle > 0 ? d->coneAngle : 0.0);
      const VtStatus st =
          VoViewSetPinhole(view, d->position, d->toPoint, d->up, 2, angle) | VoViewAutoClipping(view);
      return st != 0 ? st : PerspectiveMapRender(s, block, n, 0);
    }
    default: return 0;
  }
}

// The window of texels below 1e20 of an n x n map, copied (memmove: the
// ranges may overlap) to dst; the number of floats kept.
size_t MapCrop(const float *map, int32_t n, float *dst, VtShadowMap *window) {
  int32_t x0 = n, x1 = -1, y0 = n, y1 = -1;
  for (int32_t y = 0; y < n; ++y)
    for (int32_t x = 0; x < n; ++x)
      if (map[static_cast<size_t>(y) * n + x] < kNothing) {
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      }
  if (x1 < 0) {
    *window = VtShadowMap{nullptr, 0, -1, 0, -1};
    return 0;
  }
  *window = VtShadowMap{dst, x0, x1, y0, y1};
  const size_t w = static_cast<size_t>(x1 - x0 + 1);
  for (int32_t y = y0; y <= y1; ++y)
    std::memmove(dst + (y - y0) * w, map + static_cast<size_t>(y) * n + x0, w * sizeof(float));
  return w * static_cast<size_t>(y1 - y0 + 1);
}

// Crops every map into the front of the block and shrinks it; the status.
// Maps a render started from a callback of the maps' own render made
// meanwhile are given back first.
VtStatus MapsKeep(VtShader *light, VtLightData *d, float *block, int32_t n, int maps) {
  MapsFree(d);
  size_t kept = 0, at[6] = {};
  VtShadowMap windows[6];
  for (int m = 0; m < maps; ++m) {
    at[m] = kept;
    kept += MapCrop(block + static_cast<size_t>(m) * n * n, n, block + kept, &windows[m]);
  }
  if (kept == 0) {
    VoDeallocate(block);
    return 0;
  }
  auto *shrunk = static_cast<float *>(VoMemoryReallocate(block, static_cast<uint32_t>(kept * sizeof(float))));
  if (shrunk == nullptr) {
    VoDeallocate(block);
    Post(kNoMemory, 456, VO_MODULE_SHADER, static_cast<const void *>(light));
    return kNoMemory;
  }
  for (int m = 0; m < maps; ++m) {
    d->shadowMaps[m] = windows[m];
    if (windows[m].data != nullptr) d->shadowMaps[m].data = shrunk + at[m];
  }
  d->shadowMapBytes = static_cast<int32_t>(kept * sizeof(float));
  d->shadowValid = 1;
  return 0;
}

}  // namespace

size_t MapBlockBytes(int32_t resolution, int32_t kind, int32_t *side) {
  *side = std::min(resolution, kMapSideMost);
  if (*side <= 0) return 0;
  const size_t n = static_cast<size_t>(*side);
  return sizeof(float) * n * n * static_cast<size_t>(MapCount(kind));  // at most 1.5 GiB
}

namespace {

// Step 5: the maps of one light, with the view pushed.
VtStatus MapsMake(ShadingContext *s, VtShader *light, VtLightData *d) {
  MapsFree(d);
  int32_t n = 0;
  if (MapBlockBytes(d->shadowResolution, d->kind, &n) == 0) return 0;
  d->shadowMapSide = n;
  d->prepared = 0;
  // The light's own state and the view's resolution are best effort here: what
  // counts is whether the maps render, which MapsRender answers.
  (void)VoShaderReset(light);
  // Preparing sets the cone, and with it whether the maps are one or a
  // cube's six: the block is sized for the maps the render then writes.
  const int32_t layout = MapsLayout(d);
  const size_t bytes = MapBlockBytes(d->shadowResolution, layout, &n);
  const int maps = MapCount(layout);
  auto *block =
      bytes <= 0xFFFFFFFFu ? static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes))) : nullptr;
  if (block == nullptr) {
    Post(kProgress, 455, VO_MODULE_SHADER, static_cast<const void *>(light));
    Post(kNoMemory, 456, VO_MODULE_SHADER, static_cast<const void *>(light));
    return kNoMemory;
  }
  (void)VoViewSetResolution(VoViewGet(), static_cast<uint32_t>(n), static_cast<uint32_t>(n), 1.0);
  NestedRender nested{};
  NestedRenderEnter(&nested, 0, reinterpret_cast<VtProc>(&exported::VoShadowMapScanline));
  const VtStatus rendered = MapsRender(s, d, layout, block, n);
  NestedRenderLeave(&nested);
  if (rendered != 0) {
    VoDeallocate(block);
    return rendered;
  }
  return MapsKeep(light, d, reinterpret_cast<float *>(block), n, maps);
}

// What the map builder replaces besides the view, and gives back; lent
// to the application's callbacks while the maps are made (CallerState),
// when the builder's own is kept in the fields after own_.
struct OuterScene {
  CallerState state;  // first: the state's procedures find the record by it
  ShadingContext *s;
  VtReference *primitives;
  VtReference *casters;
  VtBounds bounds;
  bool bounds_replaced;
  VtReference *light_list;
  VtShader *light_head;
  uint32_t light_count;
  uint32_t casters_render;
  VtReference *own_primitives;
  VtBounds own_bounds;
  VtReference *own_light_list;
  VtShader *own_light_head;
  uint32_t own_light_count;
  bool swapped;  // the list and bounds were replaced (application's thread)
};

// The application's lists, bounds and lights in place, the builder's kept.
void SceneLend(CallerState *state) {
  auto *o = reinterpret_cast<OuterScene *>(state);
  ShadingContext *s = o->s;
  o->own_primitives = VoPrimitiveListGet();
  if (o->bounds_replaced) (void)VoBoundsGet(&o->own_bounds);
  SceneListRestore(o->primitives);
  if (o->bounds_replaced) (void)VoSceneBoundsSet(&o->bounds);
  o->own_light_list = s->light_list;
  o->own_light_head = s->light_head;
  o->own_light_count = s->light_count;
  s->light_list = o->light_list;
  s->light_head = o->light_head;
  s->light_count = o->light_count;
  s->casters_render = o->casters_render;
}

// What the callback left current kept as the application's, the builder's
// back in place.
void SceneTake(CallerState *state) {
  auto *o = reinterpret_cast<OuterScene *>(state);
  ShadingContext *s = o->s;
  o->primitives = VoPrimitiveListGet();
  if (o->bounds_replaced) (void)VoBoundsGet(&o->bounds);
  (void)VoPrimitiveListSet(o->own_primitives);
  if (o->bounds_replaced) (void)VoSceneBoundsSet(&o->own_bounds);
  o->light_list = s->light_list;
  o->light_head = s->light_head;
  o->light_count = s->light_count;
  o->casters_render = s->casters_render;
  s->light_list = o->own_light_list;
  s->light_head = o->own_light_head;
  s->light_count = o->own_light_count;
  s->casters_render = 1;
}

void SceneEnter(ShadingContext *s, VtLightData *d, OuterScene *o, const Interrupts &stop) {
  o->s = s;
  o->state.lend = &SceneLend;
  o->state.take = &SceneTake;
  o->primitives = VoPrimitiveListGet();
  VtPrimitive *area = d->kind == VO_LIGHT_AREA ? d->areaGeometry : nullptr;
  const bool area_casts = area != nullptr && (VoPrimitiveGetFlags(area) & VO_PRIMITIVE_NO_SHADOW_CAST) == 0;
  if (area != nullptr) (void)VoPrimitiveSetShadowCasting(area, 0);
  ListPath path;
  o->casters = nullptr;
  // The casters come from the list the render making the map started with
  // (a list set from one map render's progress call is the next render's,
  // not the next map's).
  CastersAdd(SceneListRendered(), &o->casters, path, stop);
  if (area != nullptr) (void)VoPrimitiveSetShadowCasting(area, area_casts ? 1 : 0);
  // The current list and the scene bounds are the application's, on its
  // thread: a worker (whose map render is refused) leaves them alone.
  o->swapped = OnApplicationThread();
  o->bounds_replaced = o->swapped && s->imaging.shadow_bounds_set != 0;
  if (o->bounds_replaced) (void)VoBoundsGet(&o->bounds);
  if (o->swapped) (void)VoPrimitiveListSet(o->casters);
  if (o->bounds_replaced) {
    VtBounds box{};
    std::memcpy(&box, s->imaging.shadow_bounds, sizeof box);
    (void)VoSceneBoundsSet(&box);
  }
  o->light_list = s->light_list;
  o->light_head = s->light_head;
  o->light_count = s->light_count;
  o->casters_render = s->casters_render;
  s->casters_render = 1;
  (void)LightListSet(s, nullptr);  // the chain's references stay the list's
  CallerStateEnter(&o->state);
}

void SceneLeave(ShadingContext *s, OuterScene &o) {
  CallerStateLeave(&o.state);
  // The application's list as it was, whatever a callback joined to it
  // meanwhile: set through the checked setter, a ring no longer of
  // primitives alone was refused and the casters, given back below, stayed
  // current.
  if (o.swapped) SceneListRestore(o.primitives);
  (void)VoPrimitiveReferenceDestroy(o.casters, 0);
  if (o.bounds_replaced) (void)VoSceneBoundsSet(&o.bounds);
  s->light_list = o.light_list;
  s->light_head = o.light_head;
  s->light_count = o.light_count;
  s->casters_render = o.casters_render;
}

VtStatus ShadowCreate(ShadingContext *s, VtShader *light) {
  VtLightData *d = LightOf(light);
  Interrupts stop{StickyWord(),
                  reinterpret_cast<VtStatus (*)()>(VoCallBackGet(VO_CALLBACK_DRIVER_INTERRUPT))};
  // Maps are kept while the casters and bounds they were made from stand.
  const uint64_t source = MapSourceDigest(s, d);
  if (d->shadowValid != 0 && !MapSourceChanged(s, light, source)) return 0;
  Post(kProgress, 454, VO_MODULE_SHADER, static_cast<const void *>(light));
  (void)VoShaderPushEnvironment();
  OuterScene outer{};
  SceneEnter(s, d, &outer, stop);
  VtStatus st = 0;
  if (!stop.Stopped() && MapsKind(d->kind)) {
    (void)VoViewPush();
    PushedView pushed{};
    PushedViewEnter(&pushed);
    st = MapsMake(s, light, d);
    PushedViewLeave(&pushed);
    (void)VoViewPop();
    if (d->shadowValid != 0) MapSourceKeep(s, light, source);
  }
  SceneLeave(s, outer);
  (void)VoShaderPopEnvironment();
  Post(kProgress, 455, VO_MODULE_SHADER, static_cast<const void *>(light));
  return st;
}

// The texel at (ix, iy) of the full map when the window holds it.
bool TexelAt(const VtShadowMap *m, int64_t ix, int64_t iy, float *texel) {
  if (ix < m->x0 || ix > m->x1 || iy < m->y0 || iy > m->y1) return false;
  *texel = m->data[(iy - m->y0) * (static_cast<int64_t>(m->x1) - m->x0 + 1) + (ix - m->x0)];
  return true;
}

bool MapEmpty(const VtShadowMap *m) { return m->data == nullptr || m->x1 < m->x0 || m->y1 < m->y0; }

// Whether the square [x - hw, x + hw] x [y - hh, y + hh] misses the window
// (trunc of the low ends, ceil of the high ends), in double.
bool BoxMisses(const VtShadowMap *m, double x, double y, double hw, double hh) {
  return !(std::trunc(x - hw) <= m->x1 && std::ceil(x + hw) >= m->x0 && std::trunc(y - hh) <= m->y1 &&
           std::ceil(y + hh) >= m->y0);
}

// The taps of a percentage-closer grid: a tap at (x, y) reads the texel at
// (trunc x, trunc y) when the window holds it. The bounds are tested on the
// untruncated values (trunc v >= lo exactly when v lies above the double
// below lo, or above lo - 1 for lo <= 0; trunc v <= hi exactly when
// v < hi + 1, or below the double above hi for hi < 0), so no out-of-range
// value is ever converted.
class TapWindow {
 public:
  explicit TapWindow(const VtShadowMap *m)
      : data_(m->data),
        pitch_(static_cast<int64_t>(m->x1) - m->x0 + 1),
        x0_(m->x0),
        y0_(m->y0),
        below_x_(Below(m->x0)),
        below_y_(Below(m->y0)),
        above_x_(Above(m->x1)),
        above_y_(Above(m->y1)) {}
  const float *Tap(double x, double y) const {
    if (!(x > below_x_ && x < above_x_ && y > below_y_ && y < above_y_)) return nullptr;
    return data_ + ((static_cast<int64_t>(y) - y0_) * pitch_ + (static_cast<int64_t>(x) - x0_));
  }

 private:
  static double Below(int32_t lo) {
    return lo > 0 ? std::nextafter(static_cast<double>(lo), -1e300) : lo - 1.0;
  }
  static double Above(int32_t hi) {
    return hi >= 0 ? hi + 1.0 : std::nextafter(static_cast<double>(hi), 1e300);
  }
  const float *data_;
  int64_t pitch_, x0_, y0_;
  double below_x_, below_y_, above_x_, above_y_;
};

}  // namespace

void JitterRestart(float x, float y) {
  ShadingContext *s = StateGet();
  if (s == nullptr) return;
  uint32_t a, b;
  std::memcpy(&a, &x, sizeof a);
  std::memcpy(&b, &y, sizeof b);
  uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  s->point.jitter_index = h % kJitterCount;
}

namespace {

// The application's line output, repeat count and pixel mode in place, the
// nested render's kept.
void NestedLend(CallerState *state) {
  auto *n = reinterpret_cast<NestedRender *>(state);
  n->own_line_output = VoCallBackGet(kLineOutput);
  (void)VoCallBackSet(kLineOutput, n->line_output);
  if (n->repeat_held && VoControlGet(VO_CONTROL_REPEAT_COUNT, &n->own_repeat) == 0)
    (void)VoControlSet(VO_CONTROL_REPEAT_COUNT, &n->repeat);
  if (n->pixel_mode_held && VoControlGet(kPixelMode, &n->own_pixel_mode) == 0)
    (void)VoControlSet(kPixelMode, &n->pixel_mode);
}

// What the callback left kept as the application's, the nested render's
// back in place.
void NestedTake(CallerState *state) {
  auto *n = reinterpret_cast<NestedRender *>(state);
  n->line_output = VoCallBackGet(kLineOutput);
  (void)VoCallBackSet(kLineOutput, n->own_line_output);
  if (n->repeat_held && VoControlGet(VO_CONTROL_REPEAT_COUNT, &n->repeat) == 0)
    (void)VoControlSet(VO_CONTROL_REPEAT_COUNT, &n->own_repeat);
  if (n->pixel_mode_held && VoControlGet(kPixelMode, &n->pixel_mode) == 0)
    (void)VoControlSet(kPixelMode, &n->own_pixel_mode);
}

void PushedLend(CallerState *state) { view::ViewPushLend(&reinterpret_cast<PushedView *>(state)->lent); }
void PushedTake(CallerState *state) { view::ViewPushTake(&reinterpret_cast<PushedView *>(state)->lent); }

}  // namespace

void PushedViewEnter(PushedView *v) {
  v->state.lend = &PushedLend;
  v->state.take = &PushedTake;
  CallerStateEnter(&v->state);
}

void PushedViewLeave(PushedView *v) { CallerStateLeave(&v->state); }

void NestedRenderEnter(NestedRender *n, uint32_t pixel_mode, VtProc receiver) {
  n->state.lend = &NestedLend;
  n->state.take = &NestedTake;
  n->sticky_word = StickyWord();
  n->sticky = n->sticky_word != nullptr ? *n->sticky_word : 0;
  if (n->sticky_word != nullptr) *n->sticky_word = 0;
  n->line_output = VoCallBackGet(kLineOutput);
  (void)VoCallBackSet(kLineOutput, receiver);
  // Each control is set in the value type it answers with (the kernel refuses another).
  n->repeat_held = VoControlGet(VO_CONTROL_REPEAT_COUNT, &n->repeat) == 0;
  if (n->repeat_held) {
    VtTypedValue one = n->repeat;
    one.value.u = 1;
    (void)VoControlSet(VO_CONTROL_REPEAT_COUNT, &one);
  }
  n->pixel_mode_held = pixel_mode != 0 && VoControlGet(kPixelMode, &n->pixel_mode) == 0;
  if (n->pixel_mode_held) {
    VtTypedValue mode = n->pixel_mode;
    mode.value.u = pixel_mode;
    (void)VoControlSet(kPixelMode, &mode);
  }
  CallerStateEnter(&n->state);
}

void NestedRenderLeave(NestedRender *n) {
  CallerStateLeave(&n->state);
  if (n->pixel_mode_held) (void)VoControlSet(kPixelMode, &n->pixel_mode);
  if (n->repeat_held) (void)VoControlSet(VO_CONTROL_REPEAT_COUNT, &n->repeat);
  (void)VoCallBackSet(kLineOutput, n->line_output);
  if (n->sticky_word != nullptr) *n->sticky_word |= n->sticky;
}

VtStatus ReceivedRender(ShadingContext *s, uint32_t code, uint8_t *block, size_t row_bytes, uint32_t rows) {
  const RowReceiver outer = s->imaging.receiver;
  s->imaging.receiver = RowReceiver{block, row_bytes, rows, 0};
  VtStatus st = VoExecute(code);
  const RowReceiver &r = s->imaging.receiver;
  if (st == 0 && (r.rows_left != 0 || r.overflowed != 0))
    st = Refuse(kRefused, messages::kNestedRenderRows, static_cast<const void *>(nullptr));
  s->imaging.receiver = outer;
  return st;
}

// The library's own calls (a light's set-up for a render, its data going)
// pass over a light not in the register silently, as they always have; the
// exported procedures refuse it with a diagnostic.
namespace {

VtStatus ShadowMake(ShadingContext *s, VtShader *light) {
  if (light->type != VO_SHADER_LIGHT || light->data == nullptr) return 0;
  uint32_t *sticky = StickyWord();
  const uint32_t outer = sticky != nullptr ? *sticky : 0;
  if (sticky != nullptr) *sticky = 0;
  const VtStatus st = ShadowCreate(s, light);
  if (sticky != nullptr) *sticky |= outer;
  return st;
}

void ShadowDrop(ShadingContext *s, VtShader *light) {
  if (light->type != VO_SHADER_LIGHT) return;
  MapSourceForget(s, light);
  if (light->data != nullptr && MapsKind(LightOf(light)->kind)) MapsFree(LightOf(light));
}

}  // namespace

VtStatus LightShadowCreate(VtShader *light) {
  ShadingContext *s = StateGet();
  if (s == nullptr || light == nullptr || !ShaderLive(s, light)) return 0;
  return ShadowMake(s, light);
}

void LightShadowRelease(VtShader *light) {
  if (LibraryStopped()) return;
  ShadingContext *s = StateGet();
  // Called as the light's data goes, after the light has left the register
  // of live shaders: its maps go with it.
  if (s != nullptr && light != nullptr) ShadowDrop(s, light);
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtStatus VoLightCreateShadow(VtShader *light) {
  ShadingContext *s = StateGet();
  if (s == nullptr || light == nullptr) return 0;
  if (!ShaderKnownOrNull(s, light)) return kRefused;
  return ShadowMake(s, light);
}

VtStatus VoLightDestroyShadow(VtShader *light) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  ShadingContext *s = StateGet();
  if (s == nullptr || light == nullptr) return 0;
  if (!ShaderKnownOrNull(s, light)) return kRefused;
  // The running render (or the light's own map render) reads the maps.
  ShadowDrop(s, light);
  return 0;
}

VtStatus VoShadowBoundsSet(const float *bounds) {
  ShadingContext *s = StateGet();
  if (s == nullptr || bounds == nullptr) return kRefused;
  std::memcpy(s->imaging.shadow_bounds, bounds, sizeof s->imaging.shadow_bounds);
  s->imaging.shadow_bounds_set = 1;
  return 0;
}

VtStatus VoShadowBoundsGet(float *bounds) {
  ShadingContext *s = StateGet();
  if (s == nullptr || bounds == nullptr || s->imaging.shadow_bounds_set == 0) return 2;
  std::memcpy(bounds, s->imaging.shadow_bounds, sizeof s->imaging.shadow_bounds);
  return 0;
}

VtStatus VoShadowBoundsReset() {
  if (ShadingContext *s = StateGet()) s->imaging.shadow_bounds_set = 0;
  return 0;
}

double VoLightSampleShadow(double u, double v, double depth, VtLightData *light, VtShadowMap *map) {
  ShadingContext *s = StateGet();
  if (s == nullptr || light == nullptr || map == nullptr || MapEmpty(map)) return 0;
  const double X = light->shadowMapSide * u, Y = light->shadowMapSide * v;
  const double hw = light->pcfHalfWidth, hh = light->pcfHalfHeight;
  const int32_t nx = light->pcfSamplesX, ny = light->pcfSamplesY;
  if (BoxMisses(map, X, Y, hw, hh) || nx < 1 || ny < 1) return 0;
  const TapWindow w(map);
  const float jx = light->pcfJitterX, jy = light->pcfJitterY, step_x = light->pcfStepX,
              step_y = light->pcfStepY;
  const double base_x = X - hw + jx, base_y = Y - hh + jy;
  const float *jitter = s->shared->jitter;
  uint32_t at = s->point.jitter_index;
  int32_t count = 0;
  for (int32_t i = 0; i < nx; ++i) {
    const double column = base_x + i * step_x;
    for (int32_t j = 0; j < ny; ++j) {
      const double r = jitter[at];
      at = (at + 1) % kJitterCount;
      const float *texel = w.Tap(column + r * jx, base_y + j * step_y + r * jy);
      count += texel != nullptr && *texel < depth;
    }
  }
  s->point.jitter_index = at;
  return static_cast<double>(count) / (static_cast<double>(nx) * ny);
}

int32_t VoShadowMapFindOccluder(double x, double y, double radius, VtLightData *light, VtShadowMap *map,
                                double depth, double *out) {
  if (light == nullptr || map == nullptr || out == nullptr || MapEmpty(map) || map->x0 == map->x1 ||
      map->y0 == map->y1)
    return 0;
  const double side = light->shadowMapSide, X = side * x, Y = side * y, R = side * radius;
  if (BoxMisses(map, X, Y, R, R)) return 0;
  // The square meets the window, so the centre lies within R of it.
  const int64_t cx = static_cast<int64_t>(std::trunc(X)), cy = static_cast<int64_t>(std::trunc(Y));
  float texel = kNothing;
  if (!TexelAt(map, cx, cy, &texel)) texel = kNothing;
  *out = texel;
  if (texel < depth) return 1;
  const int64_t reach = std::max<int64_t>(map->x1 - map->x0, map->y1 - map->y0) + std::abs(cx - map->x0) +
                        std::abs(cy - map->y0) + 2;
  const int64_t n = static_cast<int64_t>(std::min(std::trunc(R), static_cast<double>(reach)));
  static constexpr int kSteps[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  for (int64_t k = 1; k < n; ++k) {
    int64_t px = cx - k, py = cy - k;
    for (const auto &step : kSteps)
      for (int64_t i = 0; i < 2 * k + 1; ++i, px += step[0], py += step[1])
        if (TexelAt(map, px, py, &texel) && texel < depth) {
          *out = texel;
          return 1;
        }
  }
  return 0;
}

VtStatus VoShadowMapScanline(uint32_t, void *row) {
  ShadingContext *s = StateGet();
  if (s == nullptr || row == nullptr) return 0;
  RowReceiver &r = s->imaging.receiver;
  if (r.rows_left == 0) {
    r.overflowed = 1;
    return 0;
  }
  std::memcpy(r.cursor, row, r.row_bytes);
  r.cursor += r.row_bytes;
  --r.rows_left;
  return 0;
}

}  // namespace vo

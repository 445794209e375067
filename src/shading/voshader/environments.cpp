// Environment cubes: six bordered face textures made from images, from
// images placed as a box in the scene, or from six nested renders about a
// centre; sampled by direction or by where a ray meets the box.
//
// Faces are +x, -x, +y, -y, +z, -z. Every reduced level carries a one-texel
// border copied from the neighbouring faces, so a bilinear look-up never
// wraps. Sampling writes nothing: the level is computed per look-up. A zero
// direction, a missed box and no environment all give black.

#include <algorithm>
#include <cmath>
#include <cstring>

#include <vo/vo_view.h>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"
#include "shading/voshader/imaging.h"
#include "shading/voshader/voshader.h"

namespace vo::shader {

namespace {

constexpr uint32_t kProgress = 0x08000000u;
constexpr double kQuarterTurn = 1.5707963267948966;
constexpr float kByte = 0.003921569f;
constexpr int32_t kRenderSideMost = 2048;

enum Edge { kTop, kBottom, kLeft, kRight };
struct EdgeOf {
  int face;
  Edge edge;
  bool reversed;
};
// The twelve shared edges, each copied both ways.
constexpr EdgeOf kPairs[12][2] = {
    {{2, kRight, false}, {0, kLeft, false}},   {{0, kRight, false}, {3, kLeft, false}},
    {{3, kRight, false}, {1, kLeft, false}},   {{1, kRight, false}, {2, kLeft, false}},
    {{4, kBottom, false}, {0, kTop, false}},   {{0, kBottom, false}, {5, kTop, false}},
    {{5, kBottom, false}, {1, kBottom, true}}, {{4, kTop, false}, {1, kTop, true}},
    {{2, kTop, false}, {4, kLeft, false}},     {{3, kTop, false}, {4, kRight, true}},
    {{2, kBottom, false}, {5, kLeft, true}},   {{5, kRight, false}, {3, kBottom, false}},
};

// Texel (row, column) of a bordered level of side n, 3 bytes each.
uint8_t *At(uint8_t *level, int32_t n, int32_t row, int32_t column) {
  return level + (static_cast<size_t>(row) * (n + 2) + column) * 3;
}

// The border texel (border = true) or the interior texel next to it, i-th
// along the edge.
uint8_t *EdgeTexel(uint8_t *level, int32_t n, const EdgeOf &e, int32_t i, bool border) {
  const int32_t k = 1 + (e.reversed ? n - 1 - i : i);
  switch (e.edge) {
    case kTop: return At(level, n, border ? 0 : 1, k);
    case kBottom: return At(level, n, border ? n + 1 : n, k);
    case kLeft: return At(level, n, k, border ? 0 : 1);
    default: return At(level, n, k, border ? n + 1 : n);
  }
}

void Average(uint8_t *d, const uint8_t *a, const uint8_t *b) {
  for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((a[c] + b[c]) >> 1);
}

void BordersFill(VtEnvironment *e) {
  const int32_t levels = e->faces[0]->levelCount;
  for (int32_t k = levels - 1; k >= 0; --k) {
    const int32_t n = 1 << k;
    for (const auto &pair : kPairs) {
      uint8_t *a = e->faces[pair[0].face]->levels[k], *b = e->faces[pair[1].face]->levels[k];
      for (int32_t i = 0; i < n; ++i) {
        std::memcpy(EdgeTexel(a, n, pair[0], i, true), EdgeTexel(b, n, pair[1], i, false), 3);
        std::memcpy(EdgeTexel(b, n, pair[1], i, true), EdgeTexel(a, n, pair[0], i, false), 3);
      }
    }
    for (VtTexture *face : e->faces) {
      uint8_t *l = face->levels[k];
      Average(At(l, n, 0, 0), At(l, n, 0, 1), At(l, n, 1, 0));
      Average(At(l, n, 0, n + 1), At(l, n, 0, n), At(l, n, 1, n + 1));
      Average(At(l, n, n + 1, 0), At(l, n, n, 0), At(l, n, n + 1, 1));
      Average(At(l, n, n + 1, n + 1), At(l, n, n, n + 1), At(l, n, n + 1, n));
    }
  }
  e->largestSide = e->faces[0]->side;
  e->texelAngle = static_cast<float>(kQuarterTurn / e->largestSide);
}

void FacesDrop(ShaderShared *shared, VtEnvironment *e) {
  for (VtTexture *&face : e->faces) {
    if (face != nullptr) TextureFree(shared, face);
    face = nullptr;
  }
}

// A record over six faces built by `make`; null (nothing kept) when a face
// or the record cannot be had.
template <class Make>
VtEnvironment *EnvironmentBuild(ShaderShared *shared, Make make) {
  auto *e = static_cast<VtEnvironment *>(VoPoolAllocate(shared->imaging.environment_pool));
  if (e == nullptr) return nullptr;
  *e = VtEnvironment{};
  e->size = e->inverseSize = 1.0;
  for (int f = 0; f < 6; ++f) {
    e->faces[f] = make(f);
    if (e->faces[f] == nullptr) {
      FacesDrop(shared, e);
      VoPoolFree(shared->imaging.environment_pool, e);
      return nullptr;
    }
  }
  BordersFill(e);
  CacheLock hold(shared);
  shared->imaging.environments.insert(e);
  return e;
}

bool EnvironmentKnown(ShaderShared *shared, const VtEnvironment *e) {
  CacheLock hold(shared);
  return shared->imaging.environments.count(e) != 0;
}

VtEnvironment *CubeFromImages(VtImage *const images[6]) {
  ShadingContext *s = StateGet();
  if (s == nullptr || images == nullptr) return nullptr;
  for (int f = 0; f < 6; ++f) {
    if (images[f] == nullptr) return nullptr;
    if (!ImageUsable(images[f])) {
      Post(kRefused, messages::kObjectNotLive, VO_MODULE_SHADER, "an environment",
           static_cast<const void *>(images[f]), "image");
      return nullptr;
    }
    if (images[f]->data == nullptr) return nullptr;
  }
  Post(kProgress, 532, VO_MODULE_SHADER);
  int32_t side = 1;
  for (int f = 0; f < 6; ++f) side = std::max(side, TextureSideFor(images[f]->width, images[f]->height));
  VtEnvironment *e = EnvironmentBuild(s->shared, [&](int f) -> VtTexture * {
    PixelSource source{};
    const VtImage *image = images[f];
    if (!ImageRows(image, &source)) return nullptr;
    return TextureBuild(s->shared, TextureShape{1, 3, image->width, image->height, side}, source);
  });
  Post(kProgress, 533, VO_MODULE_SHADER);
  return e;
}

void FixedSet(VtEnvironment *e, const float *centre, double size) {
  e->fixed = 1;
  const bool sized = size > 0;
  e->size = sized ? size : 1.0;
  e->inverseSize = sized ? 1.0 / size : 1.0;
  for (int a = 0; a < 3; ++a) {
    e->centre[a] = centre[a];
    e->box[2 * a] = static_cast<float>(centre[a] - size / 2);
    e->box[2 * a + 1] = static_cast<float>(centre[a] + size / 2);
  }
}

// Face coordinates of a vector whose face is known.
void FaceUV(int face, const double *d, double *u, double *v) {
  const double x = d[0], y = d[1], z = d[2];
  switch (face) {
    case 0: *u = 0.5 - y / (2 * x), *v = 0.5 - z / (2 * x); break;
    case 1: *u = 0.5 - y / (2 * x), *v = 0.5 + z / (2 * x); break;
    case 2: *u = 0.5 + x / (2 * y), *v = 0.5 - z / (2 * y); break;
    case 3: *u = 0.5 + x / (2 * y), *v = 0.5 + z / (2 * y); break;
    case 4: *u = 0.5 - y / (2 * z), *v = 0.5 + x / (2 * z); break;
    default: *u = 0.5 + y / (2 * z), *v = 0.5 + x / (2 * z); break;
  }
}

// The face a direction names: the largest component in magnitude, ties to
// the earlier axis; a zero or negative dominant component the minus face.
int DominantFace(const double *d) {
  const double ax = std::fabs(d[0]), ay = std::fabs(d[1]), az = std::fabs(d[2]);
  const int axis = ax >= ay && ax >= az ? 0 : (ay >= az ? 1 : 2);
  return 2 * axis + (d[axis] > 0 ? 0 : 1);
}

bool Inside(double u, double v) { return u >= 0 && u <= 1 && v >= 0 && v <= 1; }

// Where the ray from the point meets the box: face, (u, v) and the distance
// factor k; false when it misses. A minus wall lies at distance
// (q + 0.5) / -d along the ray.
bool BoxHit(const VtEnvironment *e, const float *point, const double *d, int *face, double *u, double *v,
            double *k) {
  double q[3];
  for (int a = 0; a < 3; ++a) q[a] = (point[a] - e->centre[a]) * e->inverseSize;
  for (int a = 0; a < 3; ++a) {
    double t;
    if (d[a] > 0 && q[a] < 0.5)
      t = (0.5 - q[a]) / d[a];
    else if (d[a] < 0 && q[a] > -0.5)
      t = (q[a] + 0.5) / -d[a];
    else
      continue;
    const double h[3] = {q[0] + d[0] * t, q[1] + d[1] * t, q[2] + d[2] * t};
    const int f = 2 * a + (d[a] > 0 ? 0 : 1);
    FaceUV(f, h, u, v);
    if (!Inside(*u, *v)) continue;
    *face = f;
    *k = t / std::fabs(d[a]);
    return true;
  }
  return false;
}

// Bilinear look-up on one level of a face; the borders supply the
// neighbours of a reduced level, indices are clamped on the finest.
void LevelLookUp(const VtTexture *face, int32_t level, double u, double v, double *out) {
  const bool finest = level >= face->levelCount;
  const int32_t n = finest ? face->side : 1 << level, pitch = finest ? n : n + 2;
  const double x = finest ? (n - 2) * u : n * u + 0.5, y = finest ? (n - 2) * v : n * v + 0.5;
  const int32_t last = pitch - 1;
  const int32_t i = std::clamp(static_cast<int32_t>(std::max(x, 0.0)), 0, last);
  const int32_t j = std::clamp(static_cast<int32_t>(std::max(y, 0.0)), 0, last);
  const int32_t i1 = std::min(i + 1, last), j1 = std::min(j + 1, last);
  const double fx = std::clamp(x - i, 0.0, 1.0), fy = std::clamp(y - j, 0.0, 1.0);
  const uint8_t *l = face->levels[finest ? face->levelCount : level];
  auto texel = [&](int32_t c, int32_t r) { return l + (static_cast<size_t>(r) * pitch + c) * 3; };
  const uint8_t *a = texel(i, j), *b = texel(i1, j), *c = texel(i, j1), *d = texel(i1, j1);
  for (int k = 0; k < 3; ++k)
    out[k] = (a[k] * (1 - fx) + b[k] * fx) * (1 - fy) + (c[k] * (1 - fx) + d[k] * fx) * fy;
}

void Sample(const VtEnvironment *e, const float *point, const float *direction, double cone, float *out) {
  out[0] = out[1] = out[2] = 0;
  if (e == nullptr || direction == nullptr) return;
  const double d[3] = {direction[0], direction[1], direction[2]};
  if (!(d[0] != 0 || d[1] != 0 || d[2] != 0)) return;
  if (!(std::isfinite(d[0]) && std::isfinite(d[1]) && std::isfinite(d[2]))) return;  // meets no wall
  int face;
  double u, v, angle;
  if (e->fixed != 0) {
    double k;
    if (point == nullptr || !BoxHit(e, point, d, &face, &u, &v, &k)) return;
    angle = 2 * k * cone;
  } else {
    face = DominantFace(d);
    FaceUV(face, d, &u, &v);
    angle = cone;
  }
  const VtTexture *f = e->faces[face];
  double c[3] = {0, 0, 0};
  if (!(angle > e->texelAngle)) {
    LevelLookUp(f, f->levelCount, u, v, c);
  } else {
    const double level = angle < kQuarterTurn ? std::log2(kQuarterTurn / angle) : 0.0;
    const int32_t L = std::min(static_cast<int32_t>(level), f->levelCount);
    const double frac = std::fmod(level, 1.0);
    LevelLookUp(f, L, u, v, c);
    if (frac >= 0.001 && L < f->levelCount) {
      double b[3];
      LevelLookUp(f, L + 1, u, v, b);
      for (int k = 0; k < 3; ++k) c[k] += (b[k] - c[k]) * frac;
    }
  }
  for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(c[k] * kByte);
}

void Freed(ShadingContext *s, VtEnvironment *e) {
  ShaderShared *shared = s->shared;
  if (s->imaging.global_environment == e) s->imaging.global_environment = nullptr;
  FacesDrop(shared, e);
  VoDeallocate(e->pixelBlock);
  VoPoolFree(shared->imaging.environment_pool, e);
}

void FreeAfterRender(void *object) {
  if (ShadingContext *s = StateGet()) Freed(s, static_cast<VtEnvironment *>(object));
}

// Off the register at once; freed now, or when the outermost render running
// on the application's thread ends (the global environment stays the one it
// reads until then).
void Release(ShadingContext *s, VtEnvironment *e) {
  s->shared->imaging.environments.erase(e);
  if (!RenderAfter(e, &FreeAfterRender)) Freed(s, e);
}

// The directions and up vectors of the six face renders.
constexpr float kFaceViews[6][2][3] = {
    {{1, 0, 0}, {0, 0, 1}},  {{-1, 0, 0}, {0, 0, 1}}, {{0, 1, 0}, {0, 0, 1}},
    {{0, -1, 0}, {0, 0, 1}}, {{0, 0, 1}, {-1, 0, 0}}, {{0, 0, -1}, {1, 0, 0}},
};

// Six renders into the block; the largest far distance in *yon.
VtStatus FacesRender(ShadingContext *s, uint8_t *block, int32_t side, const float *centre, double *yon) {
  VtView *view = VoViewGet();
  VtStatus st = VoViewSetResolution(view, static_cast<uint32_t>(side), static_cast<uint32_t>(side), 1.0);
  NestedRender nested{};
  NestedRenderEnter(&nested, 0xc0001, reinterpret_cast<VtProc>(&exported::VoShadowMapScanline));
  const size_t face_bytes = static_cast<size_t>(side) * side * 3;
  for (int f = 0; f < 6 && st == 0; ++f) {
    const float reference[3] = {centre[0] + kFaceViews[f][0][0], centre[1] + kFaceViews[f][0][1],
                                centre[2] + kFaceViews[f][0][2]};
    st = VoViewSetPinhole(view, centre, reference, kFaceViews[f][1], 2, 90.0);
    st |= VoViewAutoClipping(view);
    double hither = 0, far = 0;
    st |= VoViewGetClipping(view, &hither, &far);
    // A face turned away from the whole scene sees nothing but the
    // background: automatic clipping leaves it no depth, which the face's
    // render would refuse, so it is given one that draws nothing.
    if (st == 0 && !(far > 0.001)) {
      st = VoViewSetClipping(view, 1.0, 2.0);
      far = 0;
    }
    *yon = std::max(*yon, far);
    if (st == 0)
      st = ReceivedRender(s, 0x200002, block + f * face_bytes, static_cast<size_t>(side) * 3,
                          static_cast<uint32_t>(side));
  }
  NestedRenderLeave(&nested);
  return st;
}

VtEnvironment *CubeRender(ShadingContext *s, uint32_t resolution, const float *centre) {
  int32_t side = 1;
  while (resolution >= 2 && side < static_cast<int32_t>(std::min<uint32_t>(resolution, kRenderSideMost)))
    side <<= 1;
  const size_t face_bytes = static_cast<size_t>(side) * side * 3;
  auto *block = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(6 * face_bytes)));
  if (block == nullptr) {
    Post(kNoMemory, 534, VO_MODULE_SHADER);
    return nullptr;
  }
  (void)VoShaderPushEnvironment();
  (void)VoViewPush();
  PushedView pushed{};
  PushedViewEnter(&pushed);
  double yon = 0;
  // Every face draws the list the cube began with: one a face's callback
  // sets is the application's, current after the cube.
  SceneListLent lent;
  SceneListLentEnter(&lent, VoPrimitiveListGet());
  const VtStatus st = FacesRender(s, block, side, centre, &yon);
  SceneListLentLeave(&lent);
  PushedViewLeave(&pushed);
  (void)VoShaderPopEnvironment();
  (void)VoViewPop();
  VtEnvironment *e = nullptr;
  if (st == 0)
    e = EnvironmentBuild(s->shared, [&](int f) {
      return TextureBuild(s->shared, TextureShape{1, 3, side, side, side},
                          PixelSource{block + f * face_bytes, nullptr, 24, 0});
    });
  if (e == nullptr) {
    if (st == 0) Post(kNoMemory, 534, VO_MODULE_SHADER);
    VoDeallocate(block);
    return nullptr;
  }
  e->pixelBlock = block;
  e->rendered = 1;
  FixedSet(e, centre, 2 * yon);
  return e;
}

}  // namespace

VtStatus EnvironmentsStop(ShadingContext *s) {
  ImagingShared &im = s->shared->imaging;
  while (!im.environments.empty()) Release(s, const_cast<VtEnvironment *>(*im.environments.begin()));
  return 0;
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtEnvironment *VoEnvironmentCreateCube(VtImage **images) { return CubeFromImages(images); }

VtEnvironment *VoEnvironmentCreateFixedCube(VtImage **images, const float *centre, double size) {
  if (centre == nullptr) return nullptr;
  VtEnvironment *e = CubeFromImages(images);
  if (e != nullptr) FixedSet(e, centre, size);
  return e;
}

VtEnvironment *VoEnvironmentRenderCube(uint32_t resolution, const float *centre) {
  ShadingContext *s = StateGet();
  if (s == nullptr || centre == nullptr) return nullptr;
  Post(kProgress, 532, VO_MODULE_SHADER);
  VtEnvironment *e = CubeRender(s, resolution, centre);
  Post(kProgress, 533, VO_MODULE_SHADER);
  return e;
}

VtStatus VoEnvironmentSample(float *colour, VtEnvironment *environment, const float *point,
                             const float *direction, double cone) {
  ShadingContext *s = StateGet();
  if (colour == nullptr) return 0;
  // A direction that is not finite meets no wall: black, and refused.
  if (direction != nullptr &&
      !(std::isfinite(direction[0]) && std::isfinite(direction[1]) && std::isfinite(direction[2]))) {
    colour[0] = colour[1] = colour[2] = 0;
    return Refuse(kRefused, messages::kEnvironmentDirectionRefused, static_cast<double>(direction[0]),
                  static_cast<double>(direction[1]), static_cast<double>(direction[2]));
  }
  // The global environment is known live; another is looked up, which
  // shaders sampling along their own rays never ask for (they pass null).
  if (environment != nullptr && (s == nullptr || (environment != s->imaging.global_environment &&
                                                  !EnvironmentKnown(s->shared, environment)))) {
    colour[0] = colour[1] = colour[2] = 0;
    return Refuse(kRefused, messages::kImageHandleNotLive, static_cast<const void *>(environment));
  }
  if (environment == nullptr && s != nullptr) environment = s->imaging.global_environment;
  Sample(environment, point, direction, cone, colour);
  return 0;
}

VtStatus VoSampleGlobalEnvironment(float *colour, const float *direction, double cone) {
  ShadingContext *s = StateGet();
  if (colour == nullptr) return 0;
  if (s == nullptr) {
    colour[0] = colour[1] = colour[2] = 0;
    return 0;
  }
  Sample(s->imaging.global_environment, s->globals->Pw, direction, cone, colour);
  return 0;
}

VtStatus VoEnvironmentSet(VtEnvironment *environment) {
  ShadingContext *s = StateGet();
  if (s == nullptr) return kRefused;
  // A set that waited for the render's end finds the environment given
  // back after it was called, its free queued behind: it is made as when
  // called in that order (the free, which clears the global environment
  // it is, follows).
  const bool freed_next = environment != nullptr && !RenderAfterWaits() && RenderAfterHolds(environment);
  if (environment != nullptr && !EnvironmentKnown(s->shared, environment) && !freed_next)
    return Refuse(kRefused, messages::kImageHandleNotLive, static_cast<const void *>(environment));
  // A running render keeps the one it reads; the setting is made when it
  // ends.
  s->imaging.global_environment = environment;
  return 0;
}

VtEnvironment *VoEnvironmentGet() {
  ShadingContext *s = StateGet();
  return s != nullptr ? s->imaging.global_environment : nullptr;
}

VtStatus VoEnvironmentDestroy(VtEnvironment *environment) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  ShadingContext *s = StateGet();
  if (environment == nullptr || s == nullptr) return 0;
  CacheLock hold(s->shared);
  if (s->shared->imaging.environments.count(environment) == 0)
    return Refuse(kRefused, messages::kImageHandleNotLive, static_cast<const void *>(environment));
  Release(s, environment);
  return 0;
}

}  // namespace vo

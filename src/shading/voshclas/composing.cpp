// The classes that compose other shaders (ray cube, two planes, decal) and
// the environment background.
//
// Composing classes hold the shaders they are given through the frame: a
// live shader of the right type that does not reach the instance, with a
// reference kept until the instance lets go, and one level of nesting
// counted on the calling thread for each evaluate, prepare and pre-render
// (past 16: black). A null sub-shader is skipped: the backgrounds give
// black, the decal a black decal colour and the incoming Co as base. A
// shader environment that cannot be pushed is never popped; the class
// answers as for a null sub-shader.
//
// The two-planes background keeps the view it read at pre-render in the
// instance; the decal's saved texture coordinates are the calling thread's,
// so decals nested through their base colours (other instances) and decals
// shaded by other workers never see each other's.

#include <cmath>

#include "shading/voshclas/voshclas.h"
#include "kernel/vosystem/face.h"

namespace vo::classic {

namespace {

constexpr const char kRayCubeIdentifier[] = "vxs_ray_cube_background";
constexpr const char kTwoPlanesIdentifier[] = "vxs_two_planes_background";
constexpr const char kDecalIdentifier[] = "vxs_decal_colour";

// Runs the kernel procedure (reset or pre-render) over the held shaders in
// the order given, one level deeper.
VtStatus ForHeld(VtShader *const *shaders, std::initializer_list<int> order, VtStatus (*step)(VtShader *),
                 const char *identifier) {
  Nesting level;
  if (Nesting::Deep(VO_MODULE_CLASSIC, identifier)) return 0;
  for (int i : order)
    if (shaders[i] != nullptr) (void)step(shaders[i]);
  return 0;
}

// --- ray cube --------------------------------------------------------------

struct RayCube {
  int32_t prepared;
  int32_t pad;
  VtShader *shaders[2];  // primary, secondary
};
static_assert(offsetof(RayCube, shaders) == offsetof(VtShaderWordArgs, word));
constexpr RayCube kRayCubeDefault{};
constexpr const char *kRayCubeLabels[] = {"primary shader", "secondary shader"};
constexpr const char *kRayCubeMeanings[] = {
    "background shader the camera's own rays see",
    "background shader for traced rays that leave the scene (reflections, refractions); none gives black"};

VtStatus RayCubeSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr) return 0;
  auto *b = static_cast<RayCube *>(block);
  b->prepared = 0;
  if (value == nullptr || index > 1) return 0;
  return HeldShaderSet(&b->shaders[index], value, VO_SHADER_BACKGROUND, block, VO_MODULE_CLASSIC,
                       kRayCubeIdentifier, kRayCubeLabels[index]);
}

template <class T, int N>
VtStatus HeldDestroy(void *block) {
  if (block == nullptr) return 0;
  HeldShadersRelease(static_cast<T *>(block)->shaders, N);
  return exported::VoShaderInstanceFree(block);
}

VtStatus RayCubePrepare(void *block) {
  return ForHeld(static_cast<RayCube *>(block)->shaders, {1, 0}, &VoShaderReset, kRayCubeIdentifier);
}
VtStatus RayCubePrerender(void *block) {
  return ForHeld(static_cast<RayCube *>(block)->shaders, {1, 0}, &VoShaderPrerender, kRayCubeIdentifier);
}

VtStatus RayCubeEvaluate(void *block) {
  const auto *b = static_cast<const RayCube *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  Nesting level;
  VtShader *chosen = b->shaders[g->poly != nullptr ? 1 : 0];
  if (Nesting::Deep(VO_MODULE_CLASSIC, kRayCubeIdentifier) || chosen == nullptr) {
    Set3(g->Cb, 0, 0, 0);
    return 0;
  }
  (void)VoShaderExecute(chosen);
  return 0;
}

// --- two planes ------------------------------------------------------------

enum Mode : int32_t { kTile = 0, kSmear = 1, kNone = 2 };

struct TwoPlanes {
  int32_t prepared;
  int32_t pad;
  VtShader *shaders[2];  // back, front
  float distance;
  char *extrapolation[2];  // back, front
  // Made by prepare: the modes; by pre-render: the view.
  int32_t modes[2];
  float resolution[2];
  int32_t projection;
  float f[3];
  float frontConstant, backConstant;
};
constexpr TwoPlanes kTwoPlanesDefault{};
constexpr Field kTwoPlanesFields[] = {{VtGenericPtr, offsetof(TwoPlanes, shaders)},
                                      {VtGenericPtr, offsetof(TwoPlanes, shaders) + sizeof(VtShader *)},
                                      {VtFloat, offsetof(TwoPlanes, distance)},
                                      {VtString, offsetof(TwoPlanes, extrapolation)},
                                      {VtString, offsetof(TwoPlanes, extrapolation) + sizeof(char *)}};
constexpr const char *kTwoPlanesLabels[] = {"back shader", "front shader", "distance", "back extrapolation",
                                            "front extrapolation"};
constexpr const char *kTwoPlanesMeanings[] = {
    "background shader mapped onto the plane behind the camera",
    "background shader mapped onto the plane in front of the camera",
    "distance of the two planes from the eye (at least the view's hither distance)",
    "how the back plane continues past its picture: \"tile\", \"smear\" or \"none\"",
    "how the front plane continues past its picture: \"tile\", \"smear\" or \"none\""};

void *TwoPlanesCreate() {
  auto *b = static_cast<TwoPlanes *>(VoAllocate(sizeof(TwoPlanes)));
  if (b == nullptr) return nullptr;
  *b = kTwoPlanesDefault;
  b->extrapolation[0] = StringCopy("tile");
  b->extrapolation[1] = StringCopy("tile");
  if (b->extrapolation[0] == nullptr || b->extrapolation[1] == nullptr) {
    for (char *s : b->extrapolation) VoDeallocate(s);
    VoDeallocate(b);
    return nullptr;
  }
  return b;
}

VtStatus TwoPlanesDestroy(void *block) {
  if (block == nullptr) return 0;
  auto *b = static_cast<TwoPlanes *>(block);
  for (char *&s : b->extrapolation) VoDeallocate(s);
  return HeldDestroy<TwoPlanes, 2>(block);
}

VtStatus TwoPlanesSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *b = static_cast<TwoPlanes *>(block);
  if (index > 1) return FieldSet(kTwoPlanesFields, block, index, value);
  b->prepared = 0;
  return HeldShaderSet(&b->shaders[index], value, VO_SHADER_BACKGROUND, block, VO_MODULE_CLASSIC,
                       kTwoPlanesIdentifier, kTwoPlanesLabels[index]);
}

int32_t ModeOf(const char *text) {
  if (text == nullptr) return kTile;
  if (std::strcmp(text, "smear") == 0) return kSmear;
  if (std::strcmp(text, "none") == 0) return kNone;
  return kTile;
}

VtStatus TwoPlanesPrepare(void *block) {
  auto *b = static_cast<TwoPlanes *>(block);
  for (int i = 0; i < 2; ++i) b->modes[i] = ModeOf(b->extrapolation[i]);
  return ForHeld(b->shaders, {1, 0}, &VoShaderReset, kTwoPlanesIdentifier);
}

VtStatus TwoPlanesPrerender(void *block) {
  auto *b = static_cast<TwoPlanes *>(block);
  uint32_t x = 0, y = 0;
  double aspect = 1, hither = 0, yon = 0, angle = 0;
  float eye[3] = {0, 0, 0}, reference[3] = {0, 0, -1}, up[3];
  (void)VoViewGetResolution(nullptr, &x, &y, &aspect);
  (void)VoViewGetPinhole(nullptr, eye, reference, up, &b->projection, &angle);
  (void)VoViewGetClipping(nullptr, &hither, &yon);
  b->resolution[0] = static_cast<float>(x);
  b->resolution[1] = static_cast<float>(y);
  for (int i = 0; i < 3; ++i) b->f[i] = reference[i] - eye[i];
  if (!Normalise(b->f, 1e-12f)) Set3(b->f, 0, 0, -1);
  const float Dp = std::fmax(static_cast<float>(hither), b->distance);
  b->frontConstant = Dot(b->f, eye) + Dp;  // b . X + this = 0, b = -f
  b->backConstant = Dp - Dot(b->f, eye);   // f . X + this = 0
  return ForHeld(b->shaders, {1, 0}, &VoShaderPrerender, kTwoPlanesIdentifier);
}

float Extrapolate(float u, int32_t mode) {
  if (!std::isfinite(u)) return u != u ? u : 0.0f;
  switch (mode) {
    case kSmear: return u < 0 ? 0.0f : u > 1 ? 1.0f : u;
    case kNone: return u;
    default: {
      const float r = u - std::floor(u);
      return r >= 1 ? 0.0f : r;
    }
  }
}

VtStatus TwoPlanesEvaluate(void *block) {
  const auto *b = static_cast<const TwoPlanes *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  Nesting level;
  float I[3];
  Copy3(I, g->unitI);
  const float c = Dot(b->f, I);
  const bool back = c < 0;
  VtShader *shader = b->shaders[back ? 0 : 1];
  const int32_t mode = b->modes[c > 0 ? 1 : 0];
  float sign[2] = {1, 1};
  if (back && b->projection == 1) sign[0] = -1;
  if (back && b->projection != 1) sign[1] = -1;
  if (Nesting::Deep(VO_MODULE_CLASSIC, kTwoPlanesIdentifier) || shader == nullptr) {
    Set3(g->Cb, 0, 0, 0);
    return 0;
  }
  if (c == 0) {
    for (int i = 0; i < 3; ++i) I[i] += 0.017455f * b->f[i];  // I - 0.017455 b, b = -f
    (void)Normalise(I, 1e-12f);
  }
  float t;
  if (back)
    t = -(Dot(b->f, g->E) + b->backConstant) / c;
  else
    t = -(-Dot(b->f, g->E) + b->frontConstant) / -Dot(b->f, I);
  float H[3], r[4] = {0, 0, 0, 1};
  for (int i = 0; i < 3; ++i) H[i] = g->E[i] + t * I[i];
  if (VoShaderPushEnvironment() != 0) {
    Set3(g->Cb, 0, 0, 0);
    return 0;
  }
  (void)VoViewProjectPoint(H, r);
  float uv[2] = {r[0] / r[3], r[1] / r[3]};
  for (int k = 0; k < 2; ++k) {
    if (sign[k] < 0) uv[k] = 1 - uv[k];
    uv[k] = Extrapolate(uv[k], mode);
  }
  g->xi = uv[0];
  g->yi = uv[1];
  g->xp = std::trunc(uv[0] * b->resolution[0]);
  g->yp = std::trunc(uv[1] * b->resolution[1]);
  (void)VoShaderExecute(shader);
  float result[3];
  Copy3(result, g->Cb);
  (void)VoShaderPopEnvironment();
  Copy3(g->Cb, result);
  return 0;
}

// --- environment background --------------------------------------------------

struct EnvironmentBackground {
  VtShaderWordArgs words;  // intensity, angle
  float effective;
};
constexpr EnvironmentBackground kEnvironmentBackgroundDefault{{0, 0, {{.f = 1.0f}, {.f = 0.0f}, {}}}, 0};

float Effective(float intensity) { return intensity > 1 ? 1.0f : intensity > 0 ? intensity : 0.0f; }

VtStatus EnvironmentBackgroundPrepare(void *block) {
  auto *b = static_cast<EnvironmentBackground *>(block);
  b->effective = Effective(b->words.word[0].f);
  return 0;
}

VtStatus EnvironmentBackgroundEvaluate(void *block) {
  const auto *b = static_cast<const EnvironmentBackground *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float k = b->words.prepared != 0 ? b->effective : Effective(b->words.word[0].f);
  if (!(k > 0)) return 0;
  float sample[3] = {0, 0, 0};
  (void)VoEnvironmentSample(sample, nullptr, g->E, g->unitI, b->words.word[1].f);
  for (int i = 0; i < 3; ++i) g->Cb[i] = k * sample[i];
  return 0;
}

// --- decal -------------------------------------------------------------------

struct Decal {
  int32_t prepared;
  int32_t pad;
  VtShader *shaders[4];  // texture space, transparency, decal colour, base colour
};
constexpr Decal kDecalDefault{};
constexpr Field kDecalFields[] = {{VtGenericPtr, offsetof(Decal, shaders)},
                                  {VtGenericPtr, offsetof(Decal, shaders) + 8},
                                  {VtGenericPtr, offsetof(Decal, shaders) + 16},
                                  {VtGenericPtr, offsetof(Decal, shaders) + 24}};
constexpr const char *kDecalLabels[] = {"decal texture space", "decal transparency", "decal colour",
                                        "base colour"};
constexpr const char *kDecalMeanings[] = {
    "texture space shader that places the decal",
    "transparency shader whose alpha cuts the decal out; none lays the decal whole",
    "colour shader of the decal", "colour shader seen where the decal is cut away or transparent"};
constexpr uint32_t kDecalTypes[] = {VO_SHADER_TEXTURE_SPACE, VO_SHADER_TRANSPARENCY, VO_SHADER_COLOUR,
                                    VO_SHADER_COLOUR};

VtStatus DecalSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr) return 0;
  auto *b = static_cast<Decal *>(block);
  b->prepared = 0;
  if (value == nullptr || index > 3) return 0;
  return HeldShaderSet(&b->shaders[index], value, kDecalTypes[index], block, VO_MODULE_CLASSIC,
                       kDecalIdentifier, kDecalLabels[index]);
}

VtStatus DecalPrepare(void *block) {
  return ForHeld(static_cast<Decal *>(block)->shaders, {0, 1, 2, 3}, &VoShaderReset, kDecalIdentifier);
}

// The texture coordinates of the outermost decal being evaluated on this
// thread (null when none is).
struct Coordinates {
  float s, t, ds, dt;
  float dPds[3], dPdt[3];
};
constinit thread_local const Coordinates *t_outermost = nullptr;

Coordinates Saved(const VtShaderGlobals *g) {
  Coordinates c{g->s, g->t, g->ds, g->dt, {0, 0, 0}, {0, 0, 0}};
  if (g->dPds != nullptr) Copy3(c.dPds, g->dPds);
  if (g->dPdt != nullptr) Copy3(c.dPdt, g->dPdt);
  return c;
}

void Restore(VtShaderGlobals *g, const Coordinates &c) {
  g->s = c.s;
  g->t = c.t;
  g->ds = c.ds;
  g->dt = c.dt;
  Copy3(g->dPdsStorage, c.dPds);
  Copy3(g->dPdtStorage, c.dPdt);
  g->dPds = g->dPdsStorage;
  g->dPdt = g->dPdtStorage;
}

// Puts the thread's record back whenever the evaluation ends.
class Outermost {
 public:
  explicit Outermost(const VtShaderGlobals *g) : kept_(t_outermost) {
    if (kept_ == nullptr) {
      mine_ = Saved(g);
      t_outermost = &mine_;
    }
  }
  ~Outermost() { t_outermost = kept_; }
  Outermost(const Outermost &) = delete;
  Outermost &operator=(const Outermost &) = delete;
  const Coordinates *Nested() const { return kept_; }

 private:
  const Coordinates *kept_;
  Coordinates mine_{};
};

void Run(VtShader *shader) {
  if (shader != nullptr) (void)VoShaderExecute(shader);
}

VtStatus DecalEvaluate(void *block) {
  const auto *b = static_cast<const Decal *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  Nesting level;
  if (Nesting::Deep(VO_MODULE_CLASSIC, kDecalIdentifier)) {
    Set3(g->Co, 0, 0, 0);
    return 0;
  }
  Outermost outermost(g);
  VtShader *const space = b->shaders[0], *const cut = b->shaders[1], *const decal = b->shaders[2];
  float D[3] = {0, 0, 0}, To[3] = {0, 0, 0}, a = 0;
  if (VoShaderPushEnvironment() == 0) {
    Run(space);
    if (cut == nullptr) {
      if (decal != nullptr) {
        (void)VoShaderExecute(decal);
        Copy3(D, g->Co);
      }
    } else {
      Run(cut);
      a = g->alpha;
      if (a > 0 && decal != nullptr) {
        (void)VoShaderExecute(decal);
        for (int i = 0; i < 3; ++i) D[i] = a * g->Co[i];
      }
      Copy3(To, g->To);
    }
    (void)VoShaderPopEnvironment();
  }
  if (cut == nullptr || (1 - a <= 0 && To[0] <= 0 && To[1] <= 0 && To[2] <= 0)) {
    Copy3(g->Co, D);
    return 0;
  }
  VtShader *const base = b->shaders[3];
  if (base != nullptr) {
    if (outermost.Nested() != nullptr) Restore(g, *outermost.Nested());
    (void)VoShaderExecute(base);
  }
  for (int i = 0; i < 3; ++i) g->Co[i] = g->Co[i] * (1 - a) + a * To[i] * g->Co[i] + D[i];
  return 0;
}

constexpr const char *kRayCubeGlobals[] = {"Cb", "unitI"};
constexpr const char *kTwoPlanesGlobals[] = {"Cb", "E", "xi", "yi", "xp", "yp", "unitI"};
constexpr const char *kEnvironmentGlobals[] = {"Cb", "E", "unitI"};
constexpr const char *kEnvironmentLabels[] = {"intensity", "angle"};
constexpr const char *kEnvironmentMeanings[] = {
    "brightness of the environment cube seen behind the scene, 0 to 1",
    "width of the cone the environment is sampled over"};
constexpr const char *kDecalGlobals[] = {"Co", "To", "s", "t", "dPds", "dPdt", "alpha", "ds", "dt"};

constexpr Entries RayCubeEntries() {
  Entries e = DataEntries<kRayCubeDefault>(&RayCubeEvaluate, &RayCubePrepare,
                                           &exported::VoShaderTwoShaderArgumentsGet, &RayCubeSet);
  e.prerender = &RayCubePrerender;
  e.destroy = &HeldDestroy<RayCube, 2>;
  return e;
}

constexpr Entries TwoPlanesEntries() {
  Entries e;
  e.evaluate = e.evaluateImage = &TwoPlanesEvaluate;
  e.prepare = &TwoPlanesPrepare;
  e.prerender = &TwoPlanesPrerender;
  e.get = &TableGet<kTwoPlanesFields>;
  e.set = &TwoPlanesSet;
  e.create = &TwoPlanesCreate;
  e.destroy = &TwoPlanesDestroy;
  return e;
}

constexpr Entries DecalEntries() {
  Entries e = DataEntries<kDecalDefault>(&DecalEvaluate, &DecalPrepare, &TableGet<kDecalFields>, &DecalSet);
  e.destroy = &HeldDestroy<Decal, 4>;
  return e;
}

}  // namespace

const ClassDescription kRayCube{kRayCubeIdentifier, "ray cube",      VO_SHADER_BACKGROUND, kRayCubeLabels,
                                kRayCubeMeanings,   kRayCubeGlobals, RayCubeEntries()};
const ClassDescription kTwoPlanes{kTwoPlanesIdentifier, "two planes",       VO_SHADER_BACKGROUND,
                                  kTwoPlanesLabels,     kTwoPlanesMeanings, kTwoPlanesGlobals,
                                  TwoPlanesEntries()};
const ClassDescription kEnvironmentBackground{
    "vxs_environment_background",
    "environment",
    VO_SHADER_BACKGROUND,
    kEnvironmentLabels,
    kEnvironmentMeanings,
    kEnvironmentGlobals,
    DataEntries<kEnvironmentBackgroundDefault>(&EnvironmentBackgroundEvaluate, &EnvironmentBackgroundPrepare,
                                               &exported::VoShaderTwoFloatArgumentsGet,
                                               &exported::VoShaderTwoArgumentsSet)};
const ClassDescription kDecal{kDecalIdentifier, "decal",       VO_SHADER_COLOUR, kDecalLabels,
                              kDecalMeanings,   kDecalGlobals, DecalEntries()};

}  // namespace vo::classic

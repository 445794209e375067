// The scene's lights as flare sources (execute code 0x440003), and the two
// classes that run that collection: "render lights" and "flares 3d".

#include <cmath>
#include <cstring>

#include <vo/vo_view.h>

#include "render/voshpost/classes.h"
#include "render/voshpost/lens_flares.h"
#include "shading/shaderlib/face.h"
#include "kernel/vosystem/face.h"

namespace vo::post {

using namespace messages;

namespace {

constexpr uint32_t kSelectVisible = 1, kSelectHidden = 6;

// The light's visibility at the eye: 1 when it reaches it, 2 when it does
// only with shadows off, 0 otherwise; its colour there.
uint32_t Visibility(VtShader *light, const float eye[3], float colour[3]) {
  int32_t lit = 0;
  float seen = 0;
  (void)VoShadingInitLightsShadingPoint(light, eye, nullptr, nullptr);
  if (VoLightGetIntensity(light, &lit, &seen, colour) == 0 && lit != 0) return 1;
  VtTypedValue shadows{};
  if (VoControlGet(VO_CONTROL_SHADER_SHADOWS, &shadows) != 0) return 0;
  const VtTypedValue off = TypedBoolean(false);
  (void)VoControlSet(VO_CONTROL_SHADER_SHADOWS, &off);
  (void)VoShadingInitLightsShadingPoint(light, eye, nullptr, nullptr);
  const bool now = VoLightGetIntensity(light, &lit, &seen, colour) == 0 && lit != 0;
  (void)VoControlSet(VO_CONTROL_SHADER_SHADOWS, &shadows);
  return now ? 2 : 0;
}

const float *ViewFloats(uint32_t code) {
  VtTypedValue v{};
  return VoViewGetValue(code, &v) == 0 ? static_cast<const float *>(v.value.p) : nullptr;
}

// The pixel the point projects to, when it lies inside the image.
bool PixelOf(const float point[3], int32_t pixel[2]) {
  float p[4];
  if (VoViewProjectPoint(point, p) != 0 || VoViewProjectedToPixel(p, pixel) != 0 || !(p[3] > 0)) return false;
  const float *window = ViewFloats(VO_VIEW_VALUE_WINDOW);
  if (window == nullptr) return false;
  const float x = p[0] / p[3], y = p[1] / p[3];
  return x >= window[0] && x < window[1] && y >= window[2] && y < window[3];
}

// A light's depth as the depth render puts it in the depth plane: the
// squared eye distance, or for a parallel view the distance along the view
// from the image plane (through the window's corner, a unit beyond the eye)
// less the hither distance. Measured from the eye instead, a light lay a
// unit deeper than a surface where it stands, and "check depth" left its
// flare off the surfaces up to a unit behind it.
double DepthOf(const float location[3], const float eye[3]) {
  const float d[3] = {location[0] - eye[0], location[1] - eye[1], location[2] - eye[2]};
  VtTypedValue kind{};
  if (VoViewGetValue(VO_VIEW_VALUE_PROJECTION_KIND, &kind) == 0 && kind.value.p != nullptr &&
      *static_cast<const int32_t *>(kind.value.p) != VO_PROJECTION_PERSPECTIVE) {
    const float *dir = ViewFloats(VO_VIEW_VALUE_DIRECTION);
    const float *corner = ViewFloats(VO_VIEW_VALUE_CORNER);
    VtTypedValue hither{};
    const float h = VoViewGetValue(VO_VIEW_VALUE_HITHER, &hither) == 0 && hither.value.p != nullptr
                        ? *static_cast<const float *>(hither.value.p)
                        : 0.0f;
    const float length = dir != nullptr ? std::sqrt(shaderlib::Dot(dir, dir)) : 0.0f;
    if (length > 0.0f) {
      const float *o = corner != nullptr ? corner : eye;
      const float from[3] = {location[0] - o[0], location[1] - o[1], location[2] - o[2]};
      return static_cast<double>(shaderlib::Dot(from, dir) / length) - h;
    }
  }
  return static_cast<double>(shaderlib::Dot(d, d));
}

// The argument that says where a light of each class stands; a class not
// listed (ambient, distant, eye, sky, area) has no place to flare from.
struct PlaceArgument {
  const char *light_class;
  const char *label;
};
constexpr PlaceArgument kPlaces[] = {
    {"point", "location"}, {"spot", "location"}, {"projector", "location"}, {"goniometric", "from"}};

const char *PlaceOf(VtShader *light) {
  const char *own = nullptr;
  if (VoShaderEnquire(light, nullptr, &own, nullptr, nullptr) != 0 || own == nullptr) return nullptr;
  for (const PlaceArgument &p : kPlaces)
    if (std::strcmp(own, p.light_class) == 0) return p.label;
  return nullptr;
}

VtStatus LightsAdd(VtPostprocessContext *c, VtPixelList *store, VtReference *lights) {
  const float scale = c->flare_constant;
  const float *eye = ViewFloats(VO_VIEW_VALUE_EYE);
  if (eye == nullptr) return kRefused;
  const float threshold = 1 / scale;
  VtStatus st = 0;
  VtReference *node = lights;
  do {
    node = node->next;
    auto *light = static_cast<VtShader *>(node->data);
    const char *place = light != nullptr ? PlaceOf(light) : nullptr;
    if (place == nullptr) continue;
    float colour[3] = {0, 0, 0};
    const uint32_t seen = Visibility(light, eye, colour);
    if ((seen & c->lights_select) == 0) continue;
    if (!(std::fabs(colour[0]) >= threshold || std::fabs(colour[1]) >= threshold ||
          std::fabs(colour[2]) >= threshold))
      continue;
    VtTypedValue at{};
    int32_t pixel[2];
    if (VoShaderGetArg(light, place, &at) != 0 || !PixelOf(at.value.v, pixel)) continue;
    auto *s = static_cast<VtFlareSource *>(VoPixelListEntryNew(store));
    if (s == nullptr) return kNoMemory;
    for (int k = 0; k < 3; ++k) s->colour[k] = colour[k] * scale;
    s->mean = (s->colour[0] + s->colour[1] + s->colour[2]) * 0.3333333333f;
    s->depth = DepthOf(at.value.v, eye);
    s->x = pixel[0];
    s->y = pixel[1];
    if ((st = VoPixelListAdd(store, pixel[0], pixel[1], s)) != 0) return st;
  } while (node != lights);
  return st;
}

}  // namespace

VtStatus FlareLightsCollect() {
  VtPostprocessContext *c = State();
  if (c == nullptr) return kNotStarted;
  (void)VoPixelListDestroy(static_cast<VtPixelList *>(c->pixel_lists));
  c->pixel_lists = nullptr;
  VtScreenBuffer *b = VoScreenBufferGet();
  if (b == nullptr) {
    Post(kRefused, kFlareNoBuffer, kModule);
    return kRefused;
  }
  VtTypedValue w{}, h{};
  uint32_t rx = 0, ry = 0;
  double aspect = 1;
  VtStatus st = VoScreenBufferGetControl(b, VO_SB_WIDTH, &w) | VoScreenBufferGetControl(b, VO_SB_HEIGHT, &h);
  st |= VoViewGetResolution(nullptr, &rx, &ry, &aspect);
  if (st != 0 || rx != w.value.u || ry != h.value.u) {
    Post(kRefused, kFlareViewSize, kModule, rx, ry, w.value.u, h.value.u);
    return kRefused;
  }
  VtReference *lights = VoLightListGet();
  if (lights == nullptr) {
    Post(kRefused, kFlareNoLights, kModule);
    return kRefused;
  }
  if (!(c->flare_constant > 0) || !std::isfinite(c->flare_constant)) {
    Post(kRefused, kFlareNotFinite, kModule, "light scale");
    return kRefused;
  }
  if ((st = VoViewEvaluate(nullptr)) != 0 || (st = VoShadingInitialiseImage(1)) != 0) return st;
  VtPixelList *store = VoPixelListCreate();
  st = store != nullptr ? LightsAdd(c, store, lights) : kNoMemory;
  st |= VoShadingTerminateImage();
  if (st != 0) {
    (void)VoPixelListDestroy(store);
    return st;
  }
  c->pixel_lists = store;
  return 0;
}

// ---- Render lights ----

VtStatus RenderLightsPrepare(void *data) {
  auto *d = static_cast<RenderLightsData *>(data);
  VtStatus st = 0;
  if (d->select != nullptr && std::strcmp(d->select, "visible") == 0) {
    d->selectCode = kSelectVisible;
  } else if (d->select != nullptr && std::strcmp(d->select, "hidden") == 0) {
    d->selectCode = kSelectHidden;
  } else {
    Post(kRefused, kPostLightsSelect, kModule, d->select != nullptr ? d->select : "NULL");
    st = kRefused;
  }
  (void)VoPostprocessStatusSet(st);
  return 0;
}

namespace {

// The flare constant and lights select of the stage, set for a nested
// collection and put back by the destructor.
class FlareControls {
 public:
  FlareControls() {
    okConstant_ = VoControlGet(VO_CONTROL_PP_FLARE_CONSTANT, &constant_) == 0;
    okSelect_ = VoControlGet(VO_CONTROL_PP_LIGHTS_SELECT, &select_) == 0;
  }
  ~FlareControls() {
    if (okConstant_) (void)VoControlSet(VO_CONTROL_PP_FLARE_CONSTANT, &constant_);
    if (okSelect_) (void)VoControlSet(VO_CONTROL_PP_LIGHTS_SELECT, &select_);
  }
  FlareControls(const FlareControls &) = delete;
  FlareControls &operator=(const FlareControls &) = delete;
  static void Set(float constant, uint32_t select) {
    const VtTypedValue f = TypedFloat(constant);
    (void)VoControlSet(VO_CONTROL_PP_FLARE_CONSTANT, &f);
    SelectSet(select);
  }
  static void SelectSet(uint32_t select) {
    VtTypedValue s{};
    s.type = 39;
    s.value.u = select;
    (void)VoControlSet(VO_CONTROL_PP_LIGHTS_SELECT, &s);
  }

 private:
  VtTypedValue constant_{}, select_{};
  bool okConstant_, okSelect_;
};

}  // namespace

VtStatus RenderLightsEvaluate(void *data) {
  const auto *d = static_cast<const RenderLightsData *>(data);
  FlareControls saved;
  FlareControls::Set(d->flareConstant, d->selectCode);
  (void)VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS);
  return 0;
}

// ---- Flares 3d ----

VtStatus Flares3dPrepare(void *data) {
  const auto *d = static_cast<const Flares3dData *>(data);
  VtStatus st = 0;
  if (d->args.word[0].p == nullptr) {
    Post(kRefused, kPostNoVisibleFlare, kModule);
    st = kRefused;
  }
  if (d->args.word[1].p == nullptr) {
    Post(kRefused, kPostNoHiddenFlare, kModule);
    st = kRefused;
  }
  if (st != 0) (void)VoPostprocessStatusSet(st);
  return 0;
}

namespace {

VtStatus Flares3dRun(const Flares3dData *d, uint32_t code) {
  VtPostprocessContext *c = State();
  if (c == nullptr) return kNotStarted;
  auto *visible = static_cast<VtShader *>(d->args.word[0].p);
  auto *hidden = static_cast<VtShader *>(d->args.word[1].p);
  if (visible == nullptr || hidden == nullptr) return kRefused;
  FlareControls saved;
  void *list = c->list;
  VtReference *one = VoShaderReferenceCreate(visible);
  if (one == nullptr) return kNoMemory;
  FlareControls::Set(d->args.word[2].f, kSelectVisible);
  VtStatus st = VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS);
  (void)VoPostprocessListSet(one);
  st |= VoExecute(code);
  FlareControls::SelectSet(kSelectHidden);
  one->data = hidden;
  st |= VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS);
  (void)VoPostprocessListSet(one);
  st |= VoExecute(code);
  (void)VoPostprocessListSet(list);
  (void)VoShaderReferenceDestroy(one, 0);
  return st;
}

}  // namespace

VtStatus Flares3dEvaluate(void *data) {
  (void)VoPostprocessStatusSet(Flares3dRun(static_cast<const Flares3dData *>(data), VO_EXECUTE_PP_RUN));
  return 0;
}
VtStatus Flares3dEvaluateImage(void *data) {
  (void)VoPostprocessStatusSet(Flares3dRun(static_cast<const Flares3dData *>(data), VO_EXECUTE_PP_RUN_IMAGE));
  return 0;
}

// The two flares are held with a reference each and must be post-process
// shaders that do not lead back to this instance; a refused one is posted
// and the argument kept.
VtStatus Flares3dSet(void *data, uint32_t index, VtTypedValue *value) {
  auto *d = static_cast<Flares3dData *>(data);
  if (d == nullptr || value == nullptr) return 0;
  if (index == 2) {
    d->args.prepared = 0;
    d->args.word[2].f = value->type == VtDouble ? static_cast<float>(value->value.d) : value->value.f;
    return 0;
  }
  if (index > 2) return 0;
  auto *shader = static_cast<VtShader *>(value->value.p);
  if (!shaderlib::HeldShaderAcceptable(shader, VO_SHADER_POSTPROCESS, d)) {
    Post(kRefused, kFlares3dRefused, kModule, index == 0 ? "visible flare" : "hidden flare");
    return kRefused;
  }
  if (shader != nullptr) ++shader->references;
  auto *old = static_cast<VtShader *>(d->args.word[index].p);
  d->args.word[index].p = shader;
  d->args.prepared = 0;
  if (old != nullptr) (void)VoShaderDestroy(old);
  return 0;
}

VtStatus Flares3dDestroy(void *data) {
  if (auto *d = static_cast<Flares3dData *>(data)) {
    VtShader *held[2] = {static_cast<VtShader *>(d->args.word[0].p),
                         static_cast<VtShader *>(d->args.word[1].p)};
    shaderlib::HeldShadersRelease(held, 2);
  }
  return exported::VoShaderInstanceFree(data);
}

}  // namespace vo::post

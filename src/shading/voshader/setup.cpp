// Image, polygon and vertex shading set-up, the per-polygon choice of the
// material's evaluate entries, and the scene's background and foreground.
//
// An image initialised while one is already (a shadow map or cube rendered
// during image set-up) is nested: it saves the outer image's mode,
// selector, view values, foreground fields and filter scale, takes its own
// mode and the current view's values and leaves the lights alone; its
// terminate only restores. Only the outer terminate ends the image. While
// the outer image prepares its lights, an image an application callback
// of that render (of a light's map render inside it) begins is refused
// (message 2909), as it would share lights half prepared.
//
// Polygon set-up is called per span by the advanced renderer: the vertex
// offsets are looked up once per contents layout and the texture frame is
// solved once per (primitive, polygon, image); the globals are written on
// every call all the same.

#include <cmath>
#include <cstring>

#include "scene/vogeom/face.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

void ImageGlobals(VtShaderGlobals *g) {
  auto floats = [](uint32_t code) {
    VtTypedValue v{};
    return VoViewGetValue(code, &v) == 0 ? static_cast<const float *>(v.value.p) : nullptr;
  };
  const float *eye = floats(VO_VIEW_VALUE_EYE), *reference = floats(VO_VIEW_VALUE_REFERENCE);
  const float *direction = floats(VO_VIEW_VALUE_DIRECTION);
  if (eye != nullptr) std::memcpy(g->E, eye, sizeof g->E);
  if (eye != nullptr && reference != nullptr)
    for (int i = 0; i < 3; ++i) g->I[i] = reference[i] - eye[i];
  if (direction != nullptr) std::memcpy(g->unitI, direction, sizeof g->unitI);
  g->To[0] = g->To[1] = g->To[2] = 0;
  g->alpha = 1;
}

namespace {

constexpr uint32_t kMsgBackgroundType = 360;
constexpr uint32_t kMsgForegroundType = 361;
constexpr uint32_t kMsgFrameDegenerate = 957;
constexpr uint32_t kRayScaleControl = 0x70015;
constexpr uint32_t kRayScaleRead = 0x70017;
constexpr uint32_t kRayTracingControl = 0x70008;  // the tracer's switch (a render may turn it off)

// The vertex properties whose offsets the globals keep, in field order.
constexpr uint32_t kVertexCodes[13] = {VO_VERT_WORLD,
                                       VO_VERT_COLOUR,
                                       VO_VERT_TRANSPARENCY,
                                       VO_VERT_NORMAL,
                                       VO_VERT_TEXCOORDS,
                                       VO_VERT_PARAMETRICCOORDS,
                                       VO_VERT_PARAMETRICCHANGE,
                                       VO_VERT_PARAMETRICDERIVS,
                                       VO_VERT_GAUSSIAN_CURVATURE,
                                       VO_VERT_MEAN_CURVATURE,
                                       VO_VERT_ABSOLUTE_CURVATURE,
                                       VO_VERT_MINIMUM_CURVATURE,
                                       VO_VERT_MAXIMUM_CURVATURE};
static_assert(offsetof(VtShaderGlobals, vertexCurvature) - offsetof(VtShaderGlobals, vertexPosition) ==
              8 * sizeof(int32_t));

VtLightData *LightOf(const VtShader *shader) { return static_cast<VtLightData *>(shader->data); }

void Copy3(float *to, const float *from) { std::memcpy(to, from, 3 * sizeof(float)); }

// The view's values into the globals (step 8 of image set-up).
void ViewValuesRead(ShadingContext *s, VtShaderGlobals *g) {
  auto floats = [](uint32_t code) {
    VtTypedValue v{};
    return VoViewGetValue(code, &v) == 0 ? static_cast<const float *>(v.value.p) : nullptr;
  };
  VtTypedValue kind{};
  s->perspective = VoViewGetValue(VO_VIEW_VALUE_PROJECTION_KIND, &kind) == 0 && kind.value.p != nullptr &&
                   *static_cast<const int32_t *>(kind.value.p) == 2;
  VtTypedValue matrices{};
  s->view_inverse = VoViewGetValue(VO_VIEW_VALUE_PROJECTION, &matrices) == 0 && matrices.value.p != nullptr
                        ? static_cast<const double *>(matrices.value.p) + 16
                        : nullptr;
  s->angle_tangent = floats(VO_VIEW_VALUE_ANGLE_TANGENT);
  ImageGlobals(g);
}

void ForegroundTake(ShadingContext *s, VtShaderGlobals *g) {
  VtShader *f = s->foreground;
  if (f == nullptr || s->image_mode == 1) {
    g->foreground = nullptr;
    g->foregroundCall = VtShaderCall{};
  } else if (s->image_mode == 2 || s->image_mode == 3) {
    g->foreground = f;
    g->foregroundCall = {s->image_mode == 2 ? f->cls->evaluate : f->cls->evaluateImage, f->data};
  }
}

// The point the outer image was shading, kept in *saved with the copy of
// its globals record; the inner image starts with no hit vertex.
void PointKeep(ShadingContext *s, VtShaderGlobals *globals, ImageSaved *saved) {
  saved->globals = globals;
  saved->point = s->point;
  s->point.hit_vertex = nullptr;
  s->point.hit_vertex_size = 0;
  s->point.hit_primitive = nullptr;
  s->point.hit_contents = nullptr;
}

// The outer point back as PointKeep found it; the inner image's hit vertex
// and the copy of the globals record are freed. The record's environment
// link stays the context's (an inner image pops what it pushes).
void PointGiveBack(ShadingContext *s, const ImageSaved &saved) {
  std::memcpy(s->globals, saved.globals, s->globals_size);
  s->globals->stackTop = s->stack_top;
  (void)VoPoolFree(s->globals_pool, saved.globals);
  VoDeallocate(s->point.hit_vertex);
  s->point = saved.point;
}

// Saves the outer image (whose mode and selector were those given) and takes
// the current view's values.
VtStatus NestedImageBegin(ShadingContext *s, uint32_t outer_mode, uint32_t outer_selector) {
  if (s->image_depth == kImageNestingMost)
    return Refuse(kRefused, messages::kImageNestingTooDeep, s->image_depth);
  VtShaderGlobals *g = s->globals;
  auto *kept = static_cast<VtShaderGlobals *>(VoPoolAllocate(s->globals_pool));
  if (kept == nullptr) return Refuse(kNoMemory, messages::kOutOfMemoryIn, "an image begun inside another");
  std::memcpy(kept, g, s->globals_size);
  ImageSaved &saved = s->image_saved[s->image_depth++];
  saved = ImageSaved{};
  saved.mode = outer_mode;
  saved.selector = outer_selector;
  saved.perspective = s->perspective;
  saved.filter_scale = s->filter_scale;
  saved.foreground = g->foreground;
  saved.foreground_call = g->foregroundCall;
  saved.angle_tangent = s->angle_tangent;
  Copy3(saved.E, g->E);
  Copy3(saved.I, g->I);
  Copy3(saved.unitI, g->unitI);
  PointKeep(s, kept, &saved);
  ForegroundTake(s, g);
  ViewValuesRead(s, g);
  return 0;
}

void NestedImageEnd(ShadingContext *s) {
  VtShaderGlobals *g = s->globals;
  const ImageSaved &saved = s->image_saved[--s->image_depth];
  PointGiveBack(s, saved);
  s->image_mode = saved.mode;
  s->selector = saved.selector;
  s->perspective = saved.perspective;
  s->filter_scale = saved.filter_scale;
  Copy3(g->E, saved.E);
  Copy3(g->I, saved.I);
  Copy3(g->unitI, saved.unitI);
  g->foreground = saved.foreground;
  g->foregroundCall = saved.foreground_call;
  s->angle_tangent = saved.angle_tangent;
}

// Step 3: the ray tracer's image start and the texture filter scale.
VtStatus RaySetup(ShadingContext *s) {
  VtStatus st = s->ray_end != nullptr ? s->ray_end() : 0;
  s->ray_preparation = s->ray_shadows != 0 && s->ray_prepare != nullptr;
  s->filter_scale = 1.0f;
  if (!s->ray_preparation) return st;
  VtTypedValue v{};
  v.type = 21;
  (void)VoControlSet(kRayScaleControl, &v);
  if (VoControlGet(kRayScaleRead, &v) == 0) s->filter_scale = v.value.f < 0.001f ? 0.0f : 1.0f / v.value.f;
  return st;
}

// The light's shadow procedure for this image: ray-traced when the tracer
// is there, ray-traced shadows are on and the light casts them without a
// map; each such light has the tracer prepare the scene.
VtStatus ShadowChoose(ShadingContext *s, VtLightData *d) {
  d->shadow = d->classShadow;
  if (s->ray_shadows == 0 || s->ray_prepare == nullptr || d->castsShadows == 0 || d->shadowResolution != 0)
    return 0;
  d->shadow = RayTracedShadow(d->kind == VO_LIGHT_AREA, s->shadow_transparency != 0);
  return s->ray_prepare();
}

// An area light's samples for this image, unless a worker of a threaded
// pass finds them made already.
VtStatus AreaPrepare(ShadingContext *s, VtLightData *d) {
  if (s->second_pass == 0 || d->kind != VO_LIGHT_AREA || d->areaSampler.prepare == nullptr) return 0;
  const bool made = d->areaStarted != 0 && d->areaPrepared != 0;
  if (made && s->work_farm_active != nullptr && s->work_farm_active() != 0) return 0;
  const VtStatus st = d->areaSampler.prepare(&d->areaSampler);
  d->areaPrepared = 1;
  return st;
}

// An area light lights only through the second light pass, which builds its
// samples: with the pass off it is left out of the image. The application is
// told once per image, from the application's own context (a worker's copy
// prepares the same lights); the image still answers 0, as the other lights
// light it.
void AreaLeftOutWarn(const ShadingContext *s, VtShader *light, const VtLightData *d) {
  if (s->second_pass != 0 || d->kind != VO_LIGHT_AREA || s->is_copy) return;
  Post(kRefused, messages::kAreaLightNeedsSecondPass, VO_MODULE_SHADER, static_cast<const void *>(light));
}

// A worker context's clone of a prepared light is no registered shader:
// it has nothing to prepare.
VtStatus LightReset(ShadingContext *s, VtShader *light) {
  const VtLightData *d = LightOf(light);
  if (s->is_copy && d != nullptr && d->prepared != 0 && !ShaderLive(s, light)) return 0;
  return VoShaderReset(light);
}

// Steps 4 and 5: the ambient colour, then every other light prepared and
// linked into the current lights.
VtStatus LightsPrepare(ShadingContext *s, VtShaderGlobals *g) {
  VtStatus st = 0;
  g->ambientColour[0] = g->ambientColour[1] = g->ambientColour[2] = 0;
  g->currentLights = nullptr;
  VtShader *light = s->light_head;
  for (; light != nullptr; light = light->link) {
    st |= LightReset(s, light);
    const VtLightData *d = LightOf(light);
    if (d->kind != VO_LIGHT_AMBIENT) break;
    g->ambientColour[0] += d->colour.red;
    g->ambientColour[1] += d->colour.green;
    g->ambientColour[2] += d->colour.blue;
  }
  VtLightData *previous = nullptr;
  for (bool first = true; light != nullptr; light = light->link, first = false) {
    if (!first) st |= LightReset(s, light);
    VtLightData *d = LightOf(light);
    // An area light whose samples are built from a primitive it does not
    // have (as a saved scene brings it back) has nothing to emit from: its
    // preparation warned (911), and the image is lit by the other lights.
    if (d->kind == VO_LIGHT_AREA && d->areaGeometry == nullptr && d->areaSampler.prepare != nullptr) continue;
    AreaLeftOutWarn(s, light, d);
    d->fallOff =
        d->classFallOff != nullptr ? d->classFallOff : reinterpret_cast<VtProc>(&exported::VoLightFallOff);
    st |= ShadowChoose(s, d);
    if (s->shadows != 0 && d->castsShadows != 0 && d->shadowResolution > 0 && d->classShadow != nullptr)
      st |= LightShadowCreate(light);
    st |= AreaPrepare(s, d);
    d->nextCurrent = nullptr;
    (previous != nullptr ? previous->nextCurrent : g->currentLights) = d;
    previous = d;
  }
  return st;
}

VtStatus PrerenderOf(VtShader *shader) {
  return shader != nullptr ? VoShaderReset(shader) | VoShaderPrerender(shader) : 0;
}
VtStatus BackgroundPrerenderJob(void *state) {
  return PrerenderOf(static_cast<ShadingContext *>(state)->background);
}
VtStatus ForegroundPrerenderJob(void *state) {
  return PrerenderOf(static_cast<ShadingContext *>(state)->foreground);
}

// Background and foreground are pre-rendered once per image: through the
// work farm's run-once locks when the farm is there, so that only one
// worker of a threaded pass does it. The background goes before the lights'
// maps, whose renders read it; the foreground after, since what it makes
// from the lights (scattering volumes) must be made from them prepared.
VtStatus ScenePrerender(ShadingContext *s, bool background) {
  VtMultiThreadLock *&lock = background ? s->background_job : s->job;
  if (lock == nullptr) {
    const auto create = reinterpret_cast<JobLockCreateProc>(VoCallBackGet(0x520001));
    if (create != nullptr) {
      s->job_free = reinterpret_cast<JobLockDestroyProc>(VoCallBackGet(0x520003));
      lock = create();
    }
  }
  const auto job = background ? &BackgroundPrerenderJob : &ForegroundPrerenderJob;
  const auto run = lock != nullptr ? reinterpret_cast<JobRunOnceProc>(VoCallBackGet(0x520002)) : nullptr;
  return run != nullptr ? run(lock, job, s) : job(s);
}

// The offsets of a contents layout, looked up when the layout changes.
const ContentsOffsets &OffsetsOf(ShadingContext *s, const VtPrimitive *p) {
  ContentsOffsets &o = s->offsets;
  if (o.contents == p->contents) return o;
  o.contents = p->contents;
  for (int i = 0; i < 13; ++i) o.vertex[i] = PropertyOffset(p->contents, kVertexCodes[i]);
  o.plane = PropertyOffset(p->contents, VO_POLY_PLANE);
  o.vrefs = PropertyOffset(p->contents, VO_POLY_VREFS);
  o.transform = PropertyOffset(p->contents, VO_PRIM_TRANSFORM);
  return o;
}

// The texture frame of the polygon's first three vertices, solved once per
// polygon and image.
VtStatus FrameOf(ShadingContext *s, VtPrimitive *p, VtPolygon *polygon, const ContentsOffsets &o,
                 const float *N) {
  if (s->point.frame_primitive == p && s->point.frame_polygon == polygon &&
      s->point.frame_serial == s->image_serial)
    return s->point.frame_status;
  s->point.frame_primitive = p;
  s->point.frame_polygon = polygon;
  s->point.frame_serial = s->image_serial;
  s->point.frame_status = 0x2000000au;
  VtReference *ring = o.vrefs >= 0 ? *ElementField<VtReference *>(polygon, o.vrefs) : nullptr;
  const int32_t position = o.vertex[0], st = o.vertex[4];
  if (ring == nullptr || position < 0) return s->point.frame_status;
  float positions[3][3], coordinates[3][2];
  VtReference *node = ring;
  for (int i = 0; i < 3; ++i, node = node->next) {
    if (i > 0 && node == ring) return s->point.frame_status;  // fewer than three vertices
    Copy3(positions[i], ElementField<float>(node->data, position));
    std::memcpy(coordinates[i], ElementField<float>(node->data, st), sizeof coordinates[i]);
  }
  s->point.frame_status = TextureFrameSolve(positions, coordinates, N, &s->point.frame);
  return s->point.frame_status;
}

void FrameDefault(ShadingContext *s, VtShaderGlobals *g, float step) {
  Copy3(g->dPdsStorage, s->default_dPds);
  Copy3(g->dPdtStorage, s->default_dPdt);
  g->dPds = g->dPdsStorage;
  g->dPdt = g->dPdtStorage;
  g->ds = g->dt = step;
}

void TextureDerivatives(ShadingContext *s, VtShaderGlobals *g, VtPrimitive *p, VtPolygon *polygon,
                        const ContentsOffsets &o) {
  FrameDefault(s, g, 0);
  s->point.polygon_ds = s->point.polygon_dt = 0;
  if (o.vertex[4] < 0) return;
  const VtStatus st = FrameOf(s, p, polygon, o, g->Ng);
  if (st != 0) {
    if ((st & 0x2u) != 0)
      Post(st, kMsgFrameDegenerate, VO_MODULE_SHADER, st, static_cast<const void *>(polygon),
           static_cast<const void *>(p));
    return;
  }
  s->point.polygon_ds = s->point.frame.ds;
  s->point.polygon_dt = s->point.frame.dt;
  Copy3(g->dPdsStorage, s->point.frame.dPds);
  Copy3(g->dPdtStorage, s->point.frame.dPdt);
  g->ds = s->point.frame.ds * s->filter_scale;
  g->dt = s->point.frame.dt * s->filter_scale;
  g->textureHandedness = s->point.frame.handedness;
}

// The globals' flags and normals of a primitive's polygon.
void PolygonFlags(ShadingContext *s, VtShaderGlobals *g, VtPrimitive *p, VtPolygon *polygon,
                  const float *plane) {
  const uint32_t flags = p->flags;
  g->twoSided = (flags & VO_PRIMITIVE_TWO_SIDED) != 0;
  g->receivesShadows = (flags & 0x8000u) == 0;
  g->preLitAddLights = flags & 0x100000u;
  g->preLitSampleArea = flags & 0x200000u;
  g->preLit = flags & 0x80000u;
  g->prim = p;
  g->poly = polygon;
  Copy3(g->Ng, plane);
  g->xs = g->ys = -1;
  g->reverse = 0;
  if (!g->twoSided || s->view_inverse == nullptr) return;
  const double *row = s->view_inverse + 8;  // the eye, as back-face culling reads it
  const double side = plane[0] * row[0] + plane[1] * row[1] + plane[2] * row[2] + plane[3] * row[3];
  if (side < 0) return;
  g->reverse = 1;
  for (float &c : g->Ng) c = -c;
}

VtStatus SceneShaderSet(VtShader *shader, uint32_t type, uint32_t message, VtShader *ShadingContext::*slot) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (!ShaderKnownOrNull(s, shader)) return kRefused;
  if (shader != nullptr && shader->cls->type != type)
    return Refuse(kRefused, message, static_cast<const void *>(shader), shader->cls->type);
  // A running render keeps the one it prepared; the setting is made when it
  // ends.
  // The setting holds a reference, so a destroyed shader is never pre-rendered.
  if (shader != nullptr) ++shader->references;
  if (s->*slot != nullptr) (void)ShaderHolderRelease(s->*slot);
  s->*slot = shader;
  return 0;
}

VtShader *SceneShaderGet(VtShader *ShadingContext::*slot) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  return s != nullptr ? s->*slot : nullptr;
}

// Mode 1's colour entry: the material's average colour.
VtStatus AverageColourEvaluate(void *data) {
  const auto *average = static_cast<const VtColour *>(data);
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->Co[0] = average->red;
  g->Co[1] = average->green;
  g->Co[2] = average->blue;
  return 0;
}

// Whether the colour's class declares that it reads the vertex colour Ci.
bool ReadsVertexColour(const ShaderShared *shared, const VtShader *colour) {
  const VtShaderPrototype *c = colour != nullptr ? colour->cls : nullptr;
  return c != nullptr && shared->use_Ci < c->globalsKnown && c->globalUse[shared->use_Ci] != 0;
}

VtShaderCall EntryOf(const VtShader *shader, bool image_slot) {
  if (shader == nullptr) return VtShaderCall{};
  return {image_slot ? shader->cls->evaluateImage : shader->cls->evaluate, shader->data};
}

// One part of the material wrapped in a filter (only a shader of the filter
// type wraps anything).
struct FilterPart {
  VtShader *shader;
  VtShader *filter;
  VtShaderDataProc wrapper;
  VtShaderCall VtShaderGlobals::*call;
  VtShaderFilterWrap VtShaderGlobals::*wrap;
};

// Image mode 3 outside a ray: the material's own secondary shaders wrap
// their parts; without any, the global filters wrap the parts whose class
// has no image entry of its own.
void FiltersChoose(ShadingContext *s, VtShaderGlobals *g, const VtMaterial &v, VtShader *reflectance) {
  const bool secondary = v.secondary != 0;
  if (!secondary && s->global_filter_set == 0) return;
  const FilterPart parts[3] = {
      {v.colour, secondary ? v.secondary_colour : s->global_filters[0], &exported::VoFilterColourEvaluate,
       &VtShaderGlobals::colourCall, &VtShaderGlobals::colourWrap},
      {reflectance, secondary ? v.secondary_reflectance : s->global_filters[1],
       &exported::VoFilterReflectanceEvaluate, &VtShaderGlobals::reflectanceCall,
       &VtShaderGlobals::reflectanceWrap},
      {v.displacement, secondary ? v.secondary_displacement : s->global_filters[2],
       &exported::VoFilterDisplacementEvaluate, &VtShaderGlobals::displacementCall,
       &VtShaderGlobals::displacementWrap},
  };
  for (const FilterPart &part : parts) {
    if (part.shader == nullptr || part.filter == nullptr || part.filter->cls->type != VO_SHADER_FILTER)
      continue;
    if (part.call == &VtShaderGlobals::displacementCall && g->displacementCall.entry == nullptr) continue;
    const VtShaderPrototype *cls = part.shader->cls;
    if (!secondary && cls->evaluateImage != cls->evaluate) continue;
    FilterWrap(part.shader, part.filter, part.wrapper, &(g->*part.call), &(g->*part.wrap));
  }
}

}  // namespace

VtStatus MaterialSetup(ShadingContext *s, VtPrimitive *p, VtShaderGlobals *g) {
  VtMaterial *const *held = PropertyField<VtMaterial *>(p, nullptr, VO_PRIM_MATERIAL);
  VtMaterial *m =
      held != nullptr && *held != nullptr ? *held : DefaultMaterial(s);  // a null material reads the default
  g->material = m;
  g->phong_power = g->specular_power = 0;
  g->preLitScale = 1;
  g->colourCall = g->transparencyCall = g->reflectanceCall = g->displacementCall = g->textureSpaceCall = {};
  g->textureSpace = nullptr;
  if (m == nullptr) return 0;
  const VtMaterial &v = *m;
  VtShader *reflectance = v.reflectance;
  if (g->preLit != 0) {
    if (v.second_reflectance != v.reflectance && s->lighting_mode != 2) {
      reflectance = v.second_reflectance;
    } else {
      VtTypedValue scale{};
      const bool present = VoPrimitiveGetProperty(p, (1u << 8) | 64u, &scale) == 0 && scale.type == VtFloat;
      if (present && scale.value.f >= 1e-6f) g->preLitScale = 1 / scale.value.f;
    }
  }
  if (v.special_global) {
    VtShader *const *space = PropertyField<VtShader *>(p, nullptr, VO_PRIM_TEXSPACE);
    g->textureSpace = space != nullptr ? *space : s->default_texture_space;
  }
  const uint32_t mode = s->image_mode;
  if (mode == 1) {
    // A colour made from the vertex colour has no average worth the name
    // (it is black at the fixed point the average is taken at): it shades
    // itself at each vertex.
    g->colourCall = ReadsVertexColour(s->shared, v.colour)
                        ? EntryOf(v.colour, false)
                        : VtShaderCall{&AverageColourEvaluate, &m->average};
    g->reflectanceCall = EntryOf(reflectance, false);
    return 0;
  }
  const bool image_slot = mode == 3;
  g->colourCall = EntryOf(v.colour, image_slot);
  g->reflectanceCall = EntryOf(reflectance, image_slot);
  if (v.enable_transparency) g->transparencyCall = EntryOf(v.transparency, image_slot);
  if (v.enable_displacement) g->displacementCall = EntryOf(v.displacement, image_slot);
  g->textureSpaceCall = EntryOf(g->textureSpace, image_slot);
  if (image_slot && s->point.ray_depth == 0) FiltersChoose(s, g, v, reflectance);
  return 0;
}

bool ColourPassesVertexColour(const VtShader *colour) {
  const ShadingContext *s = StateGet();
  return s != nullptr && ReadsVertexColour(s->shared, colour);
}

uint32_t ImageSerial() {
  const ShadingContext *s = StateGet();
  return s != nullptr ? s->image_serial : 0;
}

VtStatus ImageBeginRefuse() {
  const ShadingContext *s = StateGet();
  // Only the lights' own maps render while the outer image prepares them.
  if (s == nullptr || s->image_initialised == 0 || s->casters_render != 0 ||
      !InCallbackOf(s->lights_preparing))
    return 0;
  return Refuse(kRefused, messages::kImageWhileLightsPrepare);
}

bool ImageTracesAnotherList() {
  ShadingContext *s = StateGet();
  VtReference *list = VoPrimitiveListGet();
  if (s == nullptr || s->image_initialised == 0 || s->casters_render != 0 || list == s->image_list)
    return false;
  VtTypedValue on{};
  const bool tracing =
      s->ray_prepare != nullptr && VoControlGet(kRayTracingControl, &on) == 0 && on.value.u != 0;
  // Shadows come from the maps the outer image made of its casters, or
  // from rays in the scene prepared for it.
  if (s->shadows != 0)
    for (const VtShader *light = s->light_head; light != nullptr; light = light->link) {
      const VtLightData *d = LightOf(light);
      const bool rays = s->ray_shadows != 0 && tracing;
      if (d->kind != VO_LIGHT_AMBIENT && d->castsShadows != 0 && (d->shadowResolution != 0 || rays))
        return true;
    }
  if (!tracing) return false;
  bool reflects = false;
  ForEachNode(list, [&](VtReference *node) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (p == nullptr || !PrimitiveLive(p)) return;
    VtMaterial *const *held = PropertyField<VtMaterial *>(p, nullptr, VO_PRIM_MATERIAL);
    const VtMaterial *m = held != nullptr && *held != nullptr ? *held : DefaultMaterial(s);
    if (m != nullptr && m->raytrace != 0) reflects = true;
  });
  return reflects;
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtStatus VoShadingInitialiseImage(uint32_t mode) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  const uint32_t outer_mode = s->image_mode, outer_selector = s->selector;
  if (mode != 0) s->image_mode = mode;
  s->selector = mode == 3 ? 1 : 0;
  if (s->image_initialised) {
    VtStatus refused = ImageBeginRefuse();
    if (refused == 0) refused = NestedImageBegin(s, outer_mode, outer_selector);
    if (refused != 0) {
      s->image_mode = outer_mode;
      s->selector = outer_selector;
      return refused;
    }
    return 0;
  }
  s->image_initialised = 1;
  ++s->image_serial;
  // Buffer arguments set for a smaller picture or count are let go (with
  // their diagnostics) before any shader of the image reads them; the
  // image goes on without them.
  BuffersHoldAll();
  s->image_list = VoPrimitiveListGet();
  s->point.ray_depth = 0;  // no secondary ray is in progress at an image's start
  VtShaderGlobals *g = s->globals;
  s->length_factor = s->area_factor = 1;
  (void)VoLengthToMetres(&s->length_factor);
  (void)VoAreaToSquareMetres(&s->area_factor);
  st = RaySetup(s);
  // The lights' maps are renders of this image too, and read the
  // background: what it checks as the image starts (an image of its own the
  // application may have destroyed) is checked before them.
  st |= ScenePrerender(s, true);
  s->lights_preparing = ExecuteSerial();
  st |= LightsPrepare(s, g);
  s->lights_preparing = 0;
  st |= ScenePrerender(s, false);
  ForegroundTake(s, g);
  ViewValuesRead(s, g);
  ImagingImageStart(s);
  if (s->global_filter_set)
    for (VtShader *filter : s->global_filters)
      if (filter != nullptr) st |= VoShaderReset(filter);
  if (st != 0) {
    (void)VoShadingTerminateImage();
    s->image_initialised = 0;
  }
  return st;
}

VtStatus VoShadingTerminateImage() {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (s->image_depth > 0) {
    NestedImageEnd(s);
    return 0;
  }
  FilterRingForget(s, nullptr, nullptr);  // its contexts hold this image's offsets
  if (s->second_pass != 0)
    for (VtShader *light = s->light_head; light != nullptr; light = light->link) {
      VtLightData *d = LightOf(light);
      if (d->kind == VO_LIGHT_AREA && d->areaPrepared && d->areaSampler.release != nullptr)
        (void)d->areaSampler.release(&d->areaSampler);
      d->areaPrepared = 0;
    }
  s->image_initialised = 0;
  s->angle_tangent = nullptr;
  if (s->ray_end != nullptr) (void)s->ray_end();
  return 0;
}

VtStatus VoShadingInitialisePolygon(VtPrimitive *primitive, VtPolygon *polygon) {
  if (primitive == nullptr) return 0;
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (!PrimitiveLive(primitive))
    return Refuse(kRefused, messages::kPrimitiveNotLive, static_cast<const void *>(primitive));
  if (polygon != nullptr && PolygonRefused(polygon)) [[unlikely]]
    return kRefused;
  VtShaderGlobals *g = s->globals;
  FilterRingForget(s, primitive, polygon);
  const ContentsOffsets &o = OffsetsOf(s, primitive);
  std::memcpy(&g->vertexPosition, o.vertex, sizeof o.vertex);
  static const float kNoPlane[4] = {0, 0, 1, 0};
  const float *plane = o.plane >= 0 && polygon != nullptr ? ElementField<float>(polygon, o.plane) : kNoPlane;
  FrameDefault(s, g, 1);
  VtTransform *t = o.transform >= 0 ? *ElementField<VtTransform *>(primitive->data, o.transform) : nullptr;
  g->transform = t != nullptr && s->transform_type != nullptr && s->transform_type(t) != 0 ? t : nullptr;
  PolygonFlags(s, g, primitive, polygon, plane);
  if (o.vertex[3] < 0) g->N = g->Ng;
  if (o.vertex[2] < 0) g->Ti = s->zero_colour;
  if (o.vertex[1] < 0) g->Ci = s->zero_colour;
  (void)MaterialSetup(s, primitive, g);
  if (polygon != nullptr)
    TextureDerivatives(s, g, primitive, polygon, o);
  else
    FrameDefault(s, g, 0);
  return 0;
}

VtStatus VoShadingInitialiseVertex(VtPrimitive *primitive, void *vertex, const float *eye,
                                   uint32_t incident) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (vertex == nullptr || eye == nullptr) return kRefused;
  if (primitive != nullptr && !PrimitiveLive(primitive)) [[unlikely]]
    return Refuse(kRefused, messages::kPrimitiveNotLive, static_cast<const void *>(primitive));
  VtShaderGlobals *g = s->globals;
  const int32_t *off = &g->vertexPosition;
  auto field = [&](int i) { return off[i] >= 0 ? ElementField<float>(vertex, off[i]) : nullptr; };
  if (const float *position = field(0)) Copy3(g->PwStorage, position);
  g->Pw = g->PwStorage;
  g->P = g->Pw;
  if (g->transform != nullptr && s->transform_point != nullptr) {
    (void)s->transform_point(g->PStorage, g->PwStorage, g->transform);
    g->P = g->PStorage;
  }
  float d[3];
  for (int i = 0; i < 3; ++i) d[i] = g->Pw[i] - eye[i];
  if (incident) {
    Copy3(g->I, d);
    g->modI = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (int i = 0; i < 3; ++i) g->unitI[i] = g->modI > 0 ? d[i] / g->modI : 0;
  } else {
    g->modI = d[0] * g->unitI[0] + d[1] * g->unitI[1] + d[2] * g->unitI[2];
  }
  if (float *colour = field(1)) g->Ci = colour;
  if (const float *normal = field(3)) {
    const float sign = g->reverse ? -1.0f : 1.0f;
    for (int i = 0; i < 3; ++i) g->NStorage[i] = sign * normal[i];
  } else {
    Copy3(g->NStorage, g->Ng);
  }
  g->N = g->NStorage;
  const float *uv = field(5), *duv = field(6);
  g->u = uv != nullptr ? uv[0] : 0;
  g->v = uv != nullptr ? uv[1] : 0;
  g->du = duv != nullptr ? duv[0] : 1;
  g->dv = duv != nullptr ? duv[1] : 1;
  float *derivatives = field(7);
  g->dPdu = derivatives != nullptr ? derivatives : s->default_dPdu;
  g->dPdv = derivatives != nullptr ? derivatives + 3 : s->default_dPdv;
  if (const float *st_coords = field(4)) {
    g->s = st_coords[0];
    g->t = st_coords[1];
  } else {
    g->ds = g->dt = s->filter_scale;
    g->s = g->P[0];
    g->t = -g->P[1];
  }
  float *curvature[5] = {&g->kgauss, &g->kmean, &g->kabs, &g->kmin, &g->kmax};
  for (int i = 0; i < 5; ++i) {
    const float *k = field(8 + i);
    *curvature[i] = k != nullptr ? *k : 0;
  }
  return 0;
}

VtStatus VoBackgroundSet(VtShader *shader) {
  return SceneShaderSet(shader, VO_SHADER_BACKGROUND, kMsgBackgroundType, &ShadingContext::background);
}
VtShader *VoBackgroundGet() { return SceneShaderGet(&ShadingContext::background); }
VtStatus VoForegroundSet(VtShader *shader) {
  return SceneShaderSet(shader, VO_SHADER_FOREGROUND, kMsgForegroundType, &ShadingContext::foreground);
}
VtShader *VoForegroundGet() { return SceneShaderGet(&ShadingContext::foreground); }

}  // namespace vo

// Point shading: one point of the polygon set up last, shaded through the
// entries the material set-up chose, with transparency weighting and the
// clamp; and the baking of vertex lighting into vertex colours.
//
// The polygon's texture frame stays as polygon set-up left it: a
// transformed primitive's point frame is made from it into storage of its
// own, so shading a span point after point never compounds the transform
// or the filter scale.

#include <cmath>
#include <cstring>

#include "scene/vogeom/face.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

namespace {

VtStatus Call(const VtShaderCall &c) { return c.entry != nullptr ? c.entry(c.data) : 0; }

// ds dPds carried through the transform: the point's own unit vector and
// length.
void FrameVectorMap(ShadingContext *s, VtTransform *t, const float *from, float scale, float *to,
                    float *length) {
  const float v[3] = {from[0] * scale, from[1] * scale, from[2] * scale};
  float mapped[3] = {v[0], v[1], v[2]};
  (void)s->transform_vector(mapped, v, t);
  const float l = std::sqrt(mapped[0] * mapped[0] + mapped[1] * mapped[1] + mapped[2] * mapped[2]);
  for (int i = 0; i < 3; ++i) to[i] = l > 0 ? mapped[i] / l : from[i];
  *length = l;
}

void TextureFrameOfPoint(ShadingContext *s, VtShaderGlobals *g) {
  const bool space_ran = g->textureSpaceCall.entry != nullptr;
  if (space_ran) (void)Call(g->textureSpaceCall);
  const bool uv = g->textureSpace != nullptr && g->textureSpace->cls->nameKind == VO_CLASS_NAME_UV;
  const bool mapped = g->transform != nullptr && s->transform_vector != nullptr && !uv;
  if (!mapped) {
    if (space_ran) {
      g->ds *= s->filter_scale;
      g->dt *= s->filter_scale;
    }
    return;
  }
  // The polygon's frame (or the texture space's), never a point's.
  const float *dPds = space_ran ? g->dPds : g->dPdsStorage, *dPdt = space_ran ? g->dPdt : g->dPdtStorage;
  const float ds = space_ran ? g->ds : s->point.polygon_ds, dt = space_ran ? g->dt : s->point.polygon_dt;
  FrameVectorMap(s, g->transform, dPds, ds, s->point.point_dPds, &g->ds);
  FrameVectorMap(s, g->transform, dPdt, dt, s->point.point_dPdt, &g->dt);
  g->dPds = s->point.point_dPds;
  g->dPdt = s->point.point_dPdt;
  g->ds *= s->filter_scale;
  g->dt *= s->filter_scale;
}

void Scale3(float *v, float k) {
  for (int i = 0; i < 3; ++i) v[i] *= k;
}

void ColourReflectanceForeground(VtShaderGlobals *g) {
  (void)Call(g->colourCall);
  (void)Call(g->reflectanceCall);
  (void)Call(g->foregroundCall);
}

void Clamp(const ShadingContext *s, VtShaderGlobals *g) {
  if (s->clamp != 1) return;
  const auto most = static_cast<float>(s->clamp_maximum);
  for (float &c : g->Co) c = c > most ? most : (c < 0 ? 0 : c);
}

}  // namespace

VtStatus EvaluateMaterial(ShadingContext *s, VtShaderGlobals *g) {
  PointLightsEnd(s, g);
  g->litLights = nullptr;
  TextureFrameOfPoint(s, g);
  (void)Call(g->displacementCall);
  g->alpha = 1;
  std::memset(g->To, 0, sizeof g->To);
  if (g->transparencyCall.entry == nullptr) {
    // Ti is left alone: it points at the kernel's zero colour or at the
    // vertex's own transparency, which is the primitive's data.
    ColourReflectanceForeground(g);
  } else {
    (void)Call(g->transparencyCall);
    if (g->alpha > 0) {
      ColourReflectanceForeground(g);
      if (g->alpha < 1) {
        Scale3(g->Co, g->alpha);
        Scale3(g->To, g->alpha);
      }
    } else {
      std::memset(g->Co, 0, sizeof g->Co);
      std::memset(g->To, 0, sizeof g->To);
      (void)Call(g->foregroundCall);
      std::memset(g->Co, 0, sizeof g->Co);
    }
  }
  PointLightsEnd(s, g);
  return 0;
}

VtStatus ShadePoint(ShadingContext *s, VtPrimitive *p, void *vertex, const float *eye, uint32_t perspective) {
  VtShaderGlobals *g = s->globals;
  g->prim = p;
  if (VtStatus st = VoShadingInitialiseVertex(p, vertex, eye, perspective)) return st;
  (void)EvaluateMaterial(s, g);
  Clamp(s, g);
  return 0;
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtStatus VoShadingShadePoint(VtPrimitive *primitive, void *vertex, const float *eye, uint32_t perspective,
                             VtShaderGlobals *) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (eye == nullptr || vertex == nullptr) return kRefused;
  if (primitive != nullptr && !PrimitiveLive(primitive)) [[unlikely]]
    return Refuse(kRefused, messages::kPrimitiveNotLive, static_cast<const void *>(primitive));
  return ShadePoint(s, primitive, vertex, eye, perspective);
}

VtStatus VoShadingEvaluateMaterial(VtShaderGlobals *) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  return s != nullptr ? EvaluateMaterial(s, s->globals) : st;
}

VtStatus VoVertexShade(VtPrimitive *primitive, void *vertex) {
  ShadingContext *s = StateGet();
  if (s == nullptr || vertex == nullptr) return kRefused;
  if (primitive != nullptr && !PrimitiveLive(primitive)) [[unlikely]]
    return Refuse(kRefused, messages::kPrimitiveNotLive, static_cast<const void *>(primitive));
  float eye[3];
  std::memcpy(eye, s->globals->E, sizeof eye);
  return ShadePoint(s, primitive, vertex, eye, s->perspective);
}

VtMaterial *VoApplyVertexShading(double scale) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return nullptr;
  VtReference *list = VoPrimitiveListGet();
  if (list == nullptr) return nullptr;
  VtMaterial *m = VoMaterialCreate();
  if (m == nullptr) return nullptr;
  // The material keeps the only references to its two shaders.
  if (VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "base") != 0 ||
      VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "constant") != 0) {
    (void)VoMaterialDestroy(m);
    return nullptr;
  }
  // Shading needs an image: its lights and its view.
  const bool own_image = s->image_initialised == 0;
  if (own_image && VoShadingInitialiseImage(2) != 0) {
    (void)VoMaterialDestroy(m);
    return nullptr;
  }
  ForEachNode(list, [&](VtReference *node) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (!PrimitiveLive(p)) return;
    if (PropertyOffset(p->contents, VO_VERT_COLOUR) < 0) {
      const uint32_t colour = VO_VERT_COLOUR;
      VtContents *with = VoContentsUnion(p->contents, 1, &colour);
      if (with == nullptr || VoPrimitiveSetContents(p, with) != 0) return;
    }
    VtPolygon *const *polygons = PropertyField<VtPolygon *>(p, nullptr, VO_PRIM_POLYS);
    if (polygons == nullptr || *polygons == nullptr) return;
    (void)VoShadingInitialisePolygon(p, *polygons);
    void *const *verts = PropertyField<void *>(p, nullptr, VO_PRIM_VERTS);
    const int32_t colour = PropertyOffset(p->contents, VO_VERT_COLOUR);
    const int32_t next = PropertyOffset(p->contents, VO_VERT_NEXT);
    void *first = verts != nullptr ? *verts : nullptr;
    for (void *v = first; v != nullptr && next >= 0;) {
      if (VoVertexShade(p, v) == 0) {
        float *out = ElementField<float>(v, colour);
        for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(s->globals->Co[i] * scale);
      }
      void *after = *ElementField<void *>(v, next);
      v = after == first || after == v ? nullptr : after;
    }
    (void)VoPrimitiveSetMaterial(p, m);
  });
  if (own_image) (void)VoShadingTerminateImage();
  return m;
}

}  // namespace vo

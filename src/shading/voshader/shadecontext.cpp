// Shade contexts: one sample point of a primitive for code that shades
// outside the renderer's span loop, its lazily evaluated groups, its
// accessors (declared from one table each for context and globals fields),
// the ring of contexts of a polygon and the load into the globals.
//
// The vertex offsets are those of the polygon set up last. Setting P or Pw
// first evaluates the position group, so that a later getter does not
// overwrite the value just set. Loading a context into globals that are
// "reverse" negates the normals written to the globals, never the
// context's own, so a context can be loaded any number of times. A ring
// that cannot be made whole is given back. A new context is cleared whole,
// so no primitive or vertex of an earlier use of its block is read.

#include <cmath>
#include <cstring>

#include "scene/vogeom/face.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

namespace {

void Copy3(float *to, const float *from) { std::memcpy(to, from, 3 * sizeof(float)); }

const float *VertexField(const VtShadeContext *c, int32_t offset) {
  return offset >= 0 && c->Vert != nullptr ? ElementField<float>(c->Vert, offset) : nullptr;
}

// Pw and P from the vertex.
void PositionFromVertex(ShadingContext *s, VtShadeContext *c) {
  const VtShaderGlobals *g = s->globals;
  if (const float *position = VertexField(c, g->vertexPosition)) Copy3(c->Pw, position);
  Copy3(c->P, c->Pw);
  if (g->transform != nullptr && s->transform_point != nullptr)
    (void)s->transform_point(c->P, c->Pw, g->transform);
}

// N from the vertex; false without a vertex normal.
bool NormalFromVertex(const VtShaderGlobals *g, VtShadeContext *c) {
  const float *normal = VertexField(c, g->vertexNormal);
  if (normal == nullptr) return false;
  const float sign = g->reverse ? -1.0f : 1.0f;
  for (int i = 0; i < 3; ++i) c->N[i] = sign * normal[i];
  return true;
}

void IncidentFromPw(const VtShaderGlobals *g, VtShadeContext *c) {
  for (int i = 0; i < 3; ++i) c->I[i] = c->Pw[i] - g->E[i];
  c->ModI = std::sqrt(c->I[0] * c->I[0] + c->I[1] * c->I[1] + c->I[2] * c->I[2]);
  for (int i = 0; i < 3; ++i) c->UnitI[i] = c->ModI > 0 ? c->I[i] / c->ModI : 0;
}

void PositionGroup(VtShadeContext *c) {
  if (c->position_valid) return;
  ShadingContext *s = StateGet();
  const VtShaderGlobals *g = s->globals;
  PositionFromVertex(s, c);
  if (s->perspective) IncidentFromPw(g, c);
  if (!NormalFromVertex(g, c)) Copy3(c->N, c->Ng);
  c->position_valid = 1;
}

void IncidentGroup(VtShadeContext *c) {
  if (c->incident_valid) return;
  ShadingContext *s = StateGet();
  const VtShaderGlobals *g = s->globals;
  if (s->perspective) {
    IncidentFromPw(g, c);
  } else {
    Copy3(c->UnitI, g->unitI);
    float d[3];
    for (int i = 0; i < 3; ++i) d[i] = c->Pw[i] - g->E[i];
    c->ModI = d[0] * g->unitI[0] + d[1] * g->unitI[1] + d[2] * g->unitI[2];
  }
  c->incident_valid = 1;
}

void TextureGroup(VtShadeContext *c) {
  if (c->texture_valid) return;
  PositionGroup(c);
  ShadingContext *s = StateGet();
  VtShaderGlobals *g = s->globals;
  if (g->dPds != nullptr) Copy3(c->dPds, g->dPds);
  if (g->dPdt != nullptr) Copy3(c->dPdt, g->dPdt);
  if (const float *st = VertexField(c, g->vertexTexture)) {
    c->S = st[0];
    c->T = st[1];
    c->Ds = g->ds;
    c->Dt = g->dt;
  } else {
    c->S = c->P[0];
    c->T = -c->P[1];
    c->Ds = c->Dt = 1;
  }
  const VtShaderCall &space = g->textureSpaceCall;
  if (space.entry != nullptr) {
    Copy3(g->PStorage, c->P);
    Copy3(g->PwStorage, c->Pw);
    (void)space.entry(space.data);
    c->S = g->s;
    c->T = g->t;
    c->Ds = g->ds;
    c->Dt = g->dt;
    if (g->transform != nullptr && s->transform_vector != nullptr && g->dPds != nullptr &&
        g->dPdt != nullptr) {
      (void)s->transform_vector(c->dPds, g->dPds, g->transform);
      (void)s->transform_vector(c->dPdt, g->dPdt, g->transform);
    }
  }
  c->texture_valid = 1;
}

void ParameterGroup(VtShadeContext *c) {
  if (c->parameter_valid) return;
  const VtShaderGlobals *g = StateGet()->globals;
  const float *uv = VertexField(c, g->vertexSurface), *duv = VertexField(c, g->vertexSurfaceWidth);
  const float *derivatives = VertexField(c, g->vertexDerivatives);
  c->U = uv != nullptr ? uv[0] : 0;
  c->V = uv != nullptr ? uv[1] : 0;
  c->Du = duv != nullptr ? duv[0] : 1;
  c->Dv = duv != nullptr ? duv[1] : 1;
  static const float kU[3] = {1, 0, 0}, kV[3] = {0, 1, 0};
  Copy3(c->dPdu, derivatives != nullptr ? derivatives : kU);
  Copy3(c->dPdv, derivatives != nullptr ? derivatives + 3 : kV);
  c->parameter_valid = 1;
}

void NoGroup(VtShadeContext *) {}

// The colour a globals pointer points at; null while the module is not
// running or the pointer is unset.
float *Pointed(float *VtShaderGlobals::*field) {
  ShadingContext *s = StateGet();
  return s != nullptr ? s->globals->*field : nullptr;
}
VtStatus ColourCopy(float *to, const float *from) {
  if (to == nullptr || from == nullptr) return kRefused;
  Copy3(to, from);
  return 0;
}

template <class T>
void Out(T *to, const T &from) {
  if (to != nullptr) *to = from;
}
void Out(float *to, const float (&from)[3]) {
  if (to != nullptr) Copy3(to, from);
}
template <class T>
void In(T &to, const T &from) {
  to = from;
}
void In(float (&to)[3], const float *from) {
  if (from != nullptr) Copy3(to, from);
}
// The buffer globals travel as generic pointers.
void Out(void **to, VtScreenBuffer *from) {
  if (to != nullptr) *to = from;
}
void In(VtScreenBuffer *&to, void *from) { to = static_cast<VtScreenBuffer *>(from); }

VtShadeContext *ContextMake(ShadingContext *s) {
  auto *c = static_cast<VtShadeContext *>(VoPoolAllocate(s->context_pool));
  // Cleared whole: a reused block's primitive and vertex words would
  // otherwise be interpolated into.
  if (c != nullptr) {
    *c = VtShadeContext{};
    c->check = kShadeContextLive;
  }
  return c;
}

// A context argument that is not a live context: refused with the
// procedure's name; nothing of it is read beyond its check word.
bool ContextRefused(const VtShadeContext *c, const char *procedure) {
  if (c != nullptr && c->check == kShadeContextLive) [[likely]]
    return false;
  Post(kRefused, messages::kObjectNotLive, VO_MODULE_SHADER, procedure, static_cast<const void *>(c),
       "shade context");
  return true;
}

// The globals accessors do not read their context: null passes, anything
// else must be a live context.
bool ContextArgumentRefused(const VtShadeContext *c, const char *procedure) {
  return c != nullptr && ContextRefused(c, procedure);
}

}  // namespace

bool RingRefused(ShadingContext *s, const VtShadeContextReference *ring, bool followed,
                 const char *procedure) {
  // The mark is read before the context word it overwrites is followed.
  auto *node = const_cast<VtShadeContextReference *>(ring);
  const bool freed = s == nullptr || PoolBlockFreed(s->context_node_pool, node);
  if (!freed && (!followed || ring->context == nullptr || ring->context->check == kShadeContextLive))
      [[likely]]
    return false;
  Post(kRefused, messages::kObjectNotLive, VO_MODULE_SHADER, procedure, static_cast<const void *>(ring),
       "ring of shade contexts");
  return true;
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

// Context fields: name, value type, the group its getter evaluates.
// An X-macro list, laid out by hand (the formatter folds it badly).
// clang-format off
#define VO_SHADE_CONTEXT_FIELDS(X)                                                                          \
  X(Prim, VtPrimitive *, NoGroup) X(Xo, float, NoGroup) X(Yo, float, NoGroup) X(N, float[3], PositionGroup) \
  X(Ng, float[3], NoGroup) X(Co, float[3], NoGroup) X(UnitI, float[3], IncidentGroup) X(I, float[3], NoGroup) \
  X(ModI, float, NoGroup) X(S, float, TextureGroup) X(T, float, TextureGroup) X(Ds, float, TextureGroup)    \
  X(Dt, float, TextureGroup) X(dPds, float[3], TextureGroup) X(dPdt, float[3], TextureGroup)                \
  X(U, float, ParameterGroup) X(V, float, ParameterGroup) X(Du, float, ParameterGroup)                     \
  X(Dv, float, ParameterGroup) X(dPdu, float[3], ParameterGroup) X(dPdv, float[3], ParameterGroup)
// clang-format on

template <class T>
struct Arg {
  using In = T;
  using Out = T *;
};
template <>
struct Arg<float[3]> {
  using In = const float *;
  using Out = float *;
};

// A value a field cannot hold: a primitive that is no live one (destroyed,
// or a record of another kind), which the context's later evaluations would
// read through. Null clears the field.
namespace {
bool ValueRefused(VtPrimitive *p) {
  if (p == nullptr || PrimitiveLive(p)) return false;
  Post(kRefused, messages::kPrimitiveNotLive, VO_MODULE_SHADER, static_cast<const void *>(p));
  return true;
}
template <class V>
bool ValueRefused(const V &) {
  return false;
}
}  // namespace

#define VO_CONTEXT_ACCESSORS(F, T, GROUP)                                                  \
  VtStatus VoShadeContextGet##F(VtShadeContext *c, Arg<T>::Out value) {                    \
    if (ContextRefused(c, "VoShadeContextGet" #F)) return kRefused;                        \
    GROUP(c);                                                                              \
    Out(value, c->F);                                                                      \
    return 0;                                                                              \
  }                                                                                        \
  VtStatus VoShadeContextSet##F(VtShadeContext *c, Arg<T>::In value) {                     \
    if (ContextRefused(c, "VoShadeContextSet" #F) || ValueRefused(value)) return kRefused; \
    In(c->F, value);                                                                       \
    return 0;                                                                              \
  }
VO_SHADE_CONTEXT_FIELDS(VO_CONTEXT_ACCESSORS)
#undef VO_CONTEXT_ACCESSORS

// Globals fields: name, value type, the globals' field.
// An X-macro list, laid out by hand (the formatter folds it badly).
// clang-format off
#define VO_SHADE_GLOBALS_FIELDS(X)                                                                             \
  X(Cb, float[3], Cb) X(To, float[3], To) X(E, float[3], E) X(Xi, float, xi) X(Yi, float, yi)                  \
  X(Xp, float, xp) X(Yp, float, yp) X(Xf, float, xf) X(Yf, float, yf) X(Reverse, uint32_t, reverse)            \
  X(Alpha, float, alpha) X(PhongPower, int32_t, phong_power) X(SpecularPower, int32_t, specular_power)         \
  X(KGauss, float, kgauss) X(KMean, float, kmean) X(KAbs, float, kabs) X(KMin, float, kmin) X(KMax, float, kmax) \
  X(FWidth, float, Fwidth) X(FHeight, float, Fheight) X(Bo, void *, Bo) X(Bi, void *, Bi)
// clang-format on

#define VO_GLOBALS_ACCESSORS(F, T, FIELD)                                                   \
  VtStatus VoShadeContextGet##F(VtShadeContext *c, Arg<T>::Out value) {                     \
    ShadingContext *s = StateGet();                                                         \
    if (s == nullptr || ContextArgumentRefused(c, "VoShadeContextGet" #F)) return kRefused; \
    Out(value, s->globals->FIELD);                                                          \
    return 0;                                                                               \
  }                                                                                         \
  VtStatus VoShadeContextSet##F(VtShadeContext *c, Arg<T>::In value) {                      \
    ShadingContext *s = StateGet();                                                         \
    if (s == nullptr || ContextArgumentRefused(c, "VoShadeContextSet" #F)) return kRefused; \
    In(s->globals->FIELD, value);                                                           \
    return 0;                                                                               \
  }
VO_SHADE_GLOBALS_FIELDS(VO_GLOBALS_ACCESSORS)
#undef VO_GLOBALS_ACCESSORS

// Ci and Ti are read and written where the globals' pointers point.
VtStatus VoShadeContextGetCi(VtShadeContext *c, float *value) {
  if (ContextArgumentRefused(c, "VoShadeContextGetCi")) return kRefused;
  return ColourCopy(value, Pointed(&VtShaderGlobals::Ci));
}
VtStatus VoShadeContextSetCi(VtShadeContext *c, const float *value) {
  if (ContextArgumentRefused(c, "VoShadeContextSetCi")) return kRefused;
  return ColourCopy(Pointed(&VtShaderGlobals::Ci), value);
}
VtStatus VoShadeContextGetTi(VtShadeContext *c, float *value) {
  if (ContextArgumentRefused(c, "VoShadeContextGetTi")) return kRefused;
  return ColourCopy(value, Pointed(&VtShaderGlobals::Ti));
}
VtStatus VoShadeContextSetTi(VtShadeContext *c, const float *value) {
  if (ContextArgumentRefused(c, "VoShadeContextSetTi")) return kRefused;
  return ColourCopy(Pointed(&VtShaderGlobals::Ti), value);
}

// The accessors with side effects.
VtStatus VoShadeContextGetVert(VtShadeContext *c, void **value) {
  if (ContextRefused(c, "VoShadeContextGetVert")) return kRefused;
  Out(value, c->Vert);
  return 0;
}
VtStatus VoShadeContextSetVert(VtShadeContext *c, void *vertex) {
  if (ContextRefused(c, "VoShadeContextSetVert")) return kRefused;
  c->Vert = vertex;
  ShadingContext *s = StateGet();
  if (s == nullptr || vertex == nullptr) return 0;
  PositionFromVertex(s, c);
  (void)NormalFromVertex(s->globals, c);
  return 0;
}
VtStatus VoShadeContextGetPw(VtShadeContext *c, float *value) {
  if (ContextRefused(c, "VoShadeContextGetPw")) return kRefused;
  PositionGroup(c);
  Out(value, c->Pw);
  return 0;
}
VtStatus VoShadeContextSetPw(VtShadeContext *c, const float *value) {
  if (ContextRefused(c, "VoShadeContextSetPw") || value == nullptr) return kRefused;
  PositionGroup(c);
  Copy3(c->Pw, value);
  Copy3(c->P, value);
  c->texture_valid = 0;
  return 0;
}
VtStatus VoShadeContextGetP(VtShadeContext *c, float *value) {
  if (ContextRefused(c, "VoShadeContextGetP")) return kRefused;
  PositionGroup(c);
  Out(value, c->P);
  return 0;
}
VtStatus VoShadeContextSetP(VtShadeContext *c, const float *value) {
  if (ContextRefused(c, "VoShadeContextSetP") || value == nullptr) return kRefused;
  PositionGroup(c);
  Copy3(c->P, value);
  c->texture_valid = 0;
  return 0;
}

VtShadeContext *VoShadeContextCreate() {
  ShadingContext *s = StateGet();
  return s != nullptr ? ContextMake(s) : nullptr;
}

VtStatus VoShadeContextDestroy(VtShadeContext *c) {
  ShadingContext *s = StateGet();
  if (c == nullptr || s == nullptr) return 0;
  if (ContextRefused(c, "VoShadeContextDestroy")) return kRefused;
  c->check = 0;
  return VoPoolFree(s->context_pool, c);
}

VtShadeContextReference *VoShadeContextReferenceCreate() {
  ShadingContext *s = StateGet();
  if (s == nullptr) return nullptr;
  auto *node = static_cast<VtShadeContextReference *>(VoPoolAllocate(s->context_node_pool));
  if (node != nullptr) *node = VtShadeContextReference{};
  return node;
}

VtStatus VoShadeContextReferenceDestroy(VtShadeContextReference *node, uint32_t with_context) {
  ShadingContext *s = StateGet();
  if (node == nullptr || s == nullptr) return 0;
  if (!PoolBlockLive(s->context_node_pool, node)) {
    Post(kRefused, messages::kObjectNotLive, VO_MODULE_SHADER, "VoShadeContextReferenceDestroy",
         static_cast<const void *>(node), "shade-context reference");
    return kRefused;
  }
  // A node whose context is to go with it must hold a live context (or
  // none): anything else is no node of a ring of contexts.
  if (with_context && node->context != nullptr &&
      ContextRefused(node->context, "VoShadeContextReferenceDestroy"))
    return kRefused;
  if (with_context && node->context != nullptr) (void)VoShadeContextDestroy(node->context);
  return VoPoolFree(s->context_node_pool, node);
}

VtStatus VoShadeContextPolygonDestroy(VtShadeContextReference *first) {
  ShadingContext *s = StateGet();
  if (first != nullptr && s != nullptr && !PoolBlockLive(s->context_node_pool, first)) {
    Post(kRefused, messages::kObjectNotLive, VO_MODULE_SHADER, "VoShadeContextPolygonDestroy",
         static_cast<const void *>(first), "shade-context reference");
    return kRefused;
  }
  for (VtShadeContextReference *node = first; node != nullptr;) {
    VtShadeContextReference *next = node->next;
    (void)VoShadeContextReferenceDestroy(node, 1);
    node = next == first ? nullptr : next;
  }
  return 0;
}

VtShadeContextReference *VoShadeContextPolygonCreate(VtPrimitive *primitive, VtPolygon *polygon) {
  ShadingContext *s = StateGet();
  if (s == nullptr || polygon == nullptr || primitive == nullptr) return nullptr;
  if (!PrimitiveLive(primitive)) {
    Post(kRefused, messages::kPrimitiveNotLive, VO_MODULE_SHADER, static_cast<const void *>(primitive));
    return nullptr;
  }
  if (PolygonRefused(polygon)) return nullptr;
  const float *plane = PropertyField<float>(primitive, polygon, VO_POLY_PLANE);
  VtReference *const *ring = PropertyField<VtReference *>(primitive, polygon, VO_POLY_VREFS);
  if (plane == nullptr || ring == nullptr || *ring == nullptr) return nullptr;
  VtTypedValue resolution{};
  const auto *xy = VoViewGetValue(VO_VIEW_VALUE_RESOLUTION, &resolution) == 0
                       ? static_cast<const int32_t *>(resolution.value.p)
                       : nullptr;
  const int32_t screen = PropertyOffset(primitive->contents, VO_VERT_SCREEN);
  VtShadeContextReference *first = nullptr, *last = nullptr;
  bool whole = true;
  ForEachNode(*ring, [&](VtReference *vref) {
    if (!whole) return;
    VtShadeContextReference *node = VoShadeContextReferenceCreate();
    VtShadeContext *c = node != nullptr ? ContextMake(s) : nullptr;
    if (c == nullptr) {
      (void)VoShadeContextReferenceDestroy(node, 0);
      whole = false;
      return;
    }
    node->context = c;
    float x = 0, y = 0;
    if (screen >= 0) {
      const float *h = ElementField<float>(vref->data, screen);
      const bool divide = h[3] != 0 && h[3] != 1;
      x = divide ? h[0] / h[3] : h[0];
      y = divide ? h[1] / h[3] : h[1];
    }
    c->Xo = x * (xy != nullptr ? static_cast<float>(xy[0]) : 1) - s->globals->xp;
    c->Yo = y * (xy != nullptr ? static_cast<float>(xy[1]) : 1) - s->globals->yp;
    c->Prim = primitive;
    Copy3(c->Ng, plane);
    (void)VoShadeContextSetVert(c, vref->data);
    (last != nullptr ? last->next : first) = node;
    last = node;
    node->next = first;
  });
  if (!whole && first != nullptr) {
    last->next = first;
    (void)VoShadeContextPolygonDestroy(first);
    return nullptr;
  }
  return first;
}

VtStatus VoShadeContextLoadGlobals(VtShadeContext *c, VtShaderGlobals *g) {
  if (g == nullptr || ContextRefused(c, "VoShadeContextLoadGlobals")) return kRefused;
  const float sign = g->reverse ? -1.0f : 1.0f;
  VtStatus st = 0;
  float value[3];
  st |= VoShadeContextGetPw(c, value);
  if (g->Pw != nullptr) Copy3(g->Pw, value);
  st |= VoShadeContextGetP(c, value);
  if (g->P != nullptr) Copy3(g->P, value);
  st |= VoShadeContextGetUnitI(c, g->unitI);
  st |= VoShadeContextGetI(c, g->I);
  st |= VoShadeContextGetModI(c, &g->modI);
  st |= VoShadeContextGetNg(c, value);
  for (int i = 0; i < 3; ++i) g->Ng[i] = sign * value[i];
  st |= VoShadeContextGetN(c, value);
  if (g->N != nullptr)
    for (int i = 0; i < 3; ++i) g->N[i] = sign * value[i];
  st |= VoShadeContextGetS(c, &g->s);
  st |= VoShadeContextGetT(c, &g->t);
  st |= VoShadeContextGetCo(c, g->Co);
  return st;
}

}  // namespace vo

// Drawing one primitive through OpenGL: lists and groups with their
// transforms, materials and texture spaces, triangulated copies, polygons
// and triangle strips with vertex colours and texture coordinates, display
// lists, layered materials, transparent primitives deferred to the frame's
// end, and primitives an application draws itself.
//
// Invariants a reader must know:
// - model transforms live on the frame's own matrix stack and are loaded
//   whole; a level past kTransformStackDepth is refused (2730 once a frame)
//   and its subtree not drawn;
// - glFrontFace is sent from the mirroring parity before every geometry,
//   outside any display list (a list replays under other parities);
// - a display list is called after it is compiled (compiling draws
//   nothing), and is made only in a share group that outlives the frame;
//   after every replay or vertex-colour geometry the current
//   record is forgotten and "lighting on" read back: both changed OpenGL's
//   material and lighting behind the send-on-change state;
// - a triangulated copy is made in world space (the expansion applies the
//   primitive's transform), so it is drawn without the own transform.
#include <GL/gl.h>

#include <cmath>
#include <cstring>

#include <vo/vo_geops.h>

#include "backends/voopengl/frame.h"
#include "kernel/vosystem/face.h"
#include "shading/voshader/face.h"

namespace vo::opengl {

namespace {

constexpr uint32_t kExpandDepthMax = 16;
constexpr uint32_t kMirroring = 0x1000;  // a transform's reflection flag
constexpr uint32_t kLayered = 4;         // a record's kind: a layer of a layered material
constexpr uint32_t kTransparent = 2;
constexpr uint32_t kKernelLightingControl = 0x5000d;
constexpr uint32_t kSecondReflectance = 0x50009;

bool Named(VtShader *s, const char *name) {
  const char *n = s != nullptr ? ClassName(s) : nullptr;
  return n != nullptr && std::strcmp(n, name) == 0;
}

// p through a row-major matrix (row vectors, translation in the last row);
// w 0 carries a direction.
void Through(const double m[16], const float in[3], float out[3], double w) {
  for (int j = 0; j < 3; ++j)
    out[j] = static_cast<float>(in[0] * m[j] + in[1] * m[4 + j] + in[2] * m[8 + j] + w * m[12 + j]);
}

VtMaterial *CacheMaterial(const VtOpenGLContext *c) {
  return c->current_cache != nullptr ? c->current_cache->material : nullptr;
}

// The material's colour passes the vertex colour on ("base"): vertex
// colours are drawn as they are, not times its average (black).
bool PassesVertexColour(VtMaterial *m) {
  return m != nullptr && shader::ColourPassesVertexColour(VoMaterialGetShader(m, VO_SHADER_COLOUR));
}

void LightingFollowMode(VtOpenGLContext *c) {
  if (c->lighting_mode != 0 && c->lighting_on == 0) {
    glEnable(GL_LIGHTING);
    c->lighting_on = 1;
  }
}

void FrontFace(VtOpenGLContext *c) {
  const uint32_t face = c->mirrored[0] != 0 ? 1u : 0u;
  glFrontFace(face != 0 ? GL_CW : GL_CCW);
  c->mirrored[1] = face;
}

// OpenGL's material and lighting were changed behind the record: the next
// send goes out whole.
void StateForget(VtOpenGLContext *c) {
  c->current_record = nullptr;
  c->lighting_on = glIsEnabled(GL_LIGHTING) ? 1u : 0u;
}

// ---- Transforms ------------------------------------------------------------

struct Pushed {
  bool made = false, scaling = false, mirroring = false;
};

// Pushes the primitive's own transform; false when the stack is full.
bool TransformPush(VtOpenGLContext *c, Frame *f, VtPrimitive *p, Pushed *out) {
  VtTransform *t = VoPrimitiveGetTransform(p);
  double m[16];
  if (t == nullptr || VoTransformGetMatrix(t, m) != 0) return true;
  if (f->depth + 1 > kTransformStackDepth) {
    if (!f->depth_posted)
      Post(VO_STATUS_BAD_ARGUMENT, messages::kOpenGLTransformDepth, kModule, f->depth + 1);
    f->depth_posted = true;
    return false;
  }
  (void)VoMatrixMultiply(f->matrices[f->depth + 1], m, f->matrices[f->depth]);
  (void)VoMatrixMultiply(f->model[f->depth + 1], m, f->model[f->depth]);
  if (c->transform_stack != nullptr) c->transform_stack[f->depth] = t;
  ++f->depth;
  ++c->transform_depth;
  out->made = true;
  out->scaling =
      std::fabs(m[0] - 1.0) >= 1e-5 || std::fabs(m[5] - 1.0) >= 1e-5 || std::fabs(m[10] - 1.0) >= 1e-5;
  if (out->scaling && c->normalise_count++ == 0) glEnable(GL_NORMALIZE);
  out->mirroring = (VoTransformGetType(t) & kMirroring) != 0;
  if (out->mirroring) c->mirrored[0] ^= 1u;
  MatrixLoad(f);
  return true;
}

void TransformPop(VtOpenGLContext *c, Frame *f, Pushed *pushed) {
  if (!pushed->made) return;
  if (pushed->mirroring) c->mirrored[0] ^= 1u;
  if (pushed->scaling && --c->normalise_count == 0) glDisable(GL_NORMALIZE);
  --f->depth;
  --c->transform_depth;
  pushed->made = false;
  MatrixLoad(f);
}

// ---- Per-vertex texture coordinates -----------------------------------------

// Made in world space: through the pushed model transforms, else through
// the inverse given; the texture space runs on a pushed shading state.
VtStatus TexCoords(VtTransform *inverse, const float *position, const float *normal, float *s, float *t,
                   float *r, float *q) {
  VtOpenGLContext *c = Context();
  Frame *f = CurrentFrame();
  if (r != nullptr) *r = 0.0f;
  if (q != nullptr) *q = 1.0f;
  if (c == nullptr || position == nullptr || s == nullptr || t == nullptr) return VO_STATUS_UNAVAILABLE;
  VtShaderGlobals *g = VoShaderGetGlobals();
  float P[3] = {position[0], position[1], position[2]};
  float N[3] = {0, 0, 1};
  if (normal != nullptr)
    std::memcpy(N, normal, sizeof N);
  else if (g != nullptr && g->N != nullptr)
    std::memcpy(N, g->N, sizeof N);
  double m[16];
  if (f != nullptr && c->transform_depth > 0) {
    const float p0[3] = {P[0], P[1], P[2]}, n0[3] = {N[0], N[1], N[2]};
    Through(f->model[f->depth], p0, P, 1.0);
    Through(f->model[f->depth], n0, N, 0.0);
    vec::Normalise(N);
  } else if (inverse != nullptr && VoTransformGetMatrix(inverse, m) == 0) {
    const float p0[3] = {P[0], P[1], P[2]};
    Through(m, p0, P, 1.0);
  }
  float u = P[0], v = -P[1];
  VtStatus status = 0;
  if (g != nullptr && c->vertex_space != nullptr && VoShaderPushEnvironment() == 0) {
    if (g->reverse != 0)
      for (float &x : N) x = -x;
    std::memcpy(g->PStorage, P, sizeof P);
    std::memcpy(g->PwStorage, P, sizeof P);
    std::memcpy(g->NStorage, N, sizeof N);
    g->P = g->PStorage;
    g->Pw = g->PwStorage;
    g->N = g->NStorage;
    g->s = u;
    g->t = v;
    status = VoShaderExecute(c->vertex_space);
    u = g->s;
    v = g->t;
    (void)VoShaderPopEnvironment();
  }
  *s = u * c->tex_scale[0] + c->tex_offset[0];
  *t = v * c->tex_scale[1] + c->tex_offset[1];
  return status;
}

// ---- Polygons and strips ------------------------------------------------------

struct Layout {
  int32_t polys, vrefs, poly_next, plane, world, normal, colour, texture, parameters;
};

Layout LayoutOf(const VtContents *ct) {
  return Layout{PropertyOffset(ct, VO_PRIM_POLYS),
                PropertyOffset(ct, VO_POLY_VREFS),
                PropertyOffset(ct, VO_POLY_NEXT),
                PropertyOffset(ct, VO_POLY_PLANE),
                PropertyOffset(ct, VO_VERT_WORLD),
                PropertyOffset(ct, VO_VERT_NORMAL),
                PropertyOffset(ct, VO_VERT_COLOUR),
                PropertyOffset(ct, VO_VERT_TEXCOORDS),
                PropertyOffset(ct, VO_VERT_PARAMETRICCOORDS)};
}

// What the vertex-colour rules decided for one geometry.
struct Colours {
  bool flag = false;  // vertices send factor x vertex colour
  float average[3] = {1, 1, 1};
  float factor[3] = {1, 1, 1};  // the average, or 1 where the colour passes the vertex colour on
  bool material_on = false;     // GL_COLOR_MATERIAL enabled here
  bool behind = false;          // material or lighting changed behind the record
};

Colours ColoursBegin(VtOpenGLContext *c, VtPrimitive *p, const Layout &l) {
  Colours k;
  VtMaterial *m = CacheMaterial(c);
  const auto average = [&] {
    k.flag = true;
    VtColour a{};
    if (m != nullptr && VoMaterialGetAverageColour(m, &a) == 0) std::memcpy(k.average, &a, sizeof k.average);
    if (!PassesVertexColour(m)) std::memcpy(k.factor, k.average, sizeof k.factor);
  };
  if ((p->flags & VO_PRIMITIVE_PRELIT) == 0) {
    LightingFollowMode(c);
    if (PassesVertexColour(m)) {
      average();
      // A constant reflectance shows its colour as the record's emission.
      const bool constant = Named(VoMaterialGetShader(m, VO_SHADER_REFLECTANCE), "constant");
      glColorMaterial(GL_FRONT_AND_BACK, constant ? GL_EMISSION : GL_AMBIENT_AND_DIFFUSE);
      glEnable(GL_COLOR_MATERIAL);
      k.material_on = k.behind = true;
      glColor3fv(k.average);  // vertices without colours take the average
    }
    return k;
  }
  if (l.texture < 0) average();
  k.behind = true;
  VtTypedValue mode{};
  const bool kernel_lit = VoControlGet(kKernelLightingControl, &mode) == 0 && mode.value.u == 2;
  const bool second = m != nullptr && VoMaterialGetShader(m, VO_SHADER_REFLECTANCE) ==
                                          VoMaterialGetShader(m, kSecondReflectance);
  if (!kernel_lit && !second) {
    if (c->lighting_mode != 0 && c->lighting_on != 0) {
      glDisable(GL_LIGHTING);
      c->lighting_on = 0;
    }
    return k;
  }
  LightingFollowMode(c);
  const VtGLMaterialRecord *r = c->current_record;
  if (r != nullptr) glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, r->diffuse);
  if ((p->flags & VO_PRIMITIVE_PRELIT_DIRECT) == 0) {
    const float black[4] = {0, 0, 0, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, black);
  }
  glColorMaterial(GL_FRONT_AND_BACK, GL_EMISSION);
  glEnable(GL_COLOR_MATERIAL);
  k.material_on = true;
  return k;
}

void ColoursEnd(VtOpenGLContext *c, const Colours &k) {
  if (k.material_on) {
    if (c->colour_mode != 2) {  // colour mode 1 keeps colour material on
      glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    } else {
      glDisable(GL_COLOR_MATERIAL);
    }
  }
  if (k.behind) StateForget(c);
}

struct VertexSender {
  VtOpenGLContext *c;
  const Layout &l;
  const Colours &k;
  VtTransform *inverse;
  const float *plane;  // the polygon's normal when vertices have none

  void operator()(const void *v) const {
    if (v == nullptr || l.world < 0) return;
    const float *xyz = ElementField<float>(v, l.world);
    const float *n = l.normal >= 0 ? ElementField<float>(v, l.normal) : plane;
    if (k.flag && l.colour >= 0) {
      const float *rgb = ElementField<float>(v, l.colour);
      glColor3f(k.factor[0] * rgb[0], k.factor[1] * rgb[1], k.factor[2] * rgb[2]);
    }
    if (l.texture >= 0) {
      glTexCoord2fv(ElementField<float>(v, l.texture));
    } else if (c->vertex_space != nullptr) {
      // A vertex without surface parameters has u = v = 0, as shading
      // set-up gives it, not the last vertex's.
      if (VtShaderGlobals *g = VoShaderGetGlobals()) {
        g->u = l.parameters >= 0 ? ElementField<float>(v, l.parameters)[0] : 0.0f;
        g->v = l.parameters >= 0 ? ElementField<float>(v, l.parameters)[1] : 0.0f;
      }
      float st[4] = {0, 0, 0, 1};
      (void)TexCoords(inverse, xyz, n, &st[0], &st[1], &st[2], &st[3]);
      glTexCoord2fv(st);
    }
    if (n != nullptr) glNormal3fv(n);
    glVertex3fv(xyz);
  }
};

template <typename F>
void RingEach(VtReference *ring, F &&f) {
  for (VtReference *n = ring; n != nullptr;) {
    f(n->data);
    n = n->next;
    if (n == ring) break;
  }
}

VtStatus PolygonPath(VtOpenGLContext *c, VtPrimitive *p, VtTransform *inverse, bool triangles) {
  if (p == nullptr) {
    Post(VO_STATUS_UNAVAILABLE, messages::kOpenGLNoPrimitive, kModule);
    return VO_STATUS_UNAVAILABLE;
  }
  const Layout l = LayoutOf(p->contents);
  if (l.polys < 0) return 0;
  const Colours k = ColoursBegin(c, p, l);
  const void *first = *ElementField<void *>(p->data, l.polys);
  // Without triangles each polygon is its own GL_POLYGON: one would merge them.
  if (!triangles && first != nullptr && l.poly_next >= 0) {
    const void *second = *ElementField<void *>(first, l.poly_next);
    if (second != nullptr && second != first)
      Post(VO_CLASS_DEBUG, messages::kOpenGLPolygonsOneByOne, kModule, static_cast<const void *>(p));
  }
  if (triangles) glBegin(GL_TRIANGLES);
  for (const void *poly = first; poly != nullptr;) {
    float plane[3] = {0, 0, 1};
    if (l.normal < 0 && l.plane >= 0) {
      std::memcpy(plane, ElementField<float>(poly, l.plane), sizeof plane);
      vec::Normalise(plane);
    }
    const VertexSender send{c, l, k, inverse, plane};
    if (!triangles) glBegin(GL_POLYGON);
    if (l.vrefs >= 0) RingEach(*ElementField<VtReference *>(poly, l.vrefs), send);
    if (!triangles) glEnd();
    poly = l.poly_next >= 0 ? *ElementField<void *>(poly, l.poly_next) : nullptr;
    if (poly == first) break;
  }
  if (triangles) glEnd();
  ColoursEnd(c, k);
  return 0;
}

VtTriangleMesh *StripsOf(VtPrimitive *p) {
  VtTriangleMesh **field = PropertyField<VtTriangleMesh *>(p, nullptr, VO_PRIM_TRI_MESH);
  return field != nullptr ? *field : nullptr;
}

// True when drawn as strips; false leaves the primitive to the polygon path.
// Out of memory while building strips is reported; the polygons still draw.
bool StripPath(VtOpenGLContext *c, VtPrimitive *p, VtTransform *inverse, VtStatus *status) {
  VtTriangleMesh *mesh = StripsOf(p);
  if (mesh == nullptr || mesh->first == nullptr) {
    // A mesh that cannot have strips keeps none.
    const VtStatus built = VoPrimitiveBuildTriangleStrips(p);
    if ((built & 0xFFu) == VO_COND_NO_MEMORY) *status |= built;
    mesh = StripsOf(p);
  }
  if (mesh == nullptr || mesh->first == nullptr) return false;
  const Layout l = LayoutOf(p->contents);
  const Colours k = ColoursBegin(c, p, l);
  const VertexSender send{c, l, k, inverse, nullptr};
  for (const VtTriangleStrip *strip = mesh->first; strip != nullptr; strip = strip->next) {
    if (strip->first == nullptr) continue;
    glBegin(GL_TRIANGLE_STRIP);
    if (strip->orientation != 0) send(strip->first->data);
    RingEach(strip->first, send);
    glEnd();
  }
  ColoursEnd(c, k);
  return true;
}

// ---- The geometry procedure -----------------------------------------------------

VtStatus ProceduralDraw(VtOpenGLContext *c, VtPrimitive *p, const VtOpenGLPrimitiveData *record) {
  const VtOpenGLProceduralClass *k = record->procedural_class;
  const uint32_t asked = k->query != nullptr ? k->query(p, record->user_data) : 0;
  LightingFollowMode(c);
  uint32_t flags = 0;
  bool colour_material = false;
  if ((asked & VO_OPENGL_DRAW_COLOUR_MATERIAL) != 0 && PassesVertexColour(CacheMaterial(c))) {
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    colour_material = true;
    flags |= VO_OPENGL_DRAW_COLOUR_MATERIAL;
  }
  if (c->lighting_mode != 0) flags |= VO_OPENGL_DRAW_LIT;
  VtOpenGLTexCoordProc coordinates = nullptr;
  if ((asked & VO_OPENGL_DRAW_TEXTURE_COORDS) != 0) {
    flags |= VO_OPENGL_DRAW_TEXTURE_COORDS;
  } else if (c->vertex_space != nullptr) {
    if (VtShaderGlobals *g = VoShaderGetGlobals()) {
      const VtContents *ct = p->contents;
      g->vertexPosition = PropertyOffset(ct, VO_VERT_WORLD);
      g->vertexNormal = PropertyOffset(ct, VO_VERT_NORMAL);
      g->vertexSurface = PropertyOffset(ct, VO_VERT_PARAMETRICCOORDS);
    }
    flags |= VO_OPENGL_DRAW_TEXTURE_COORDS;
    coordinates = &TexCoords;
  }
  FrontFace(c);
  const VtStatus s = k->draw(p, record->user_data, flags, coordinates, record->inverse);
  if (colour_material) {
    if (c->colour_mode != 2)
      glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    else
      glDisable(GL_COLOR_MATERIAL);
  }
  StateForget(c);  // the class may have changed anything
  return s;
}

// Polygons and meshes, their vertices own or shared, draw themselves; other
// kinds draw through their pieces.
bool Drawable(const VtPrimitive *p) {
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  return type >= VO_PRIMITIVE_POLYGON && type <= VO_PRIMITIVE_MESH_SHARED;
}

// Whether every polygon of the primitive has three corners (none: false).
bool ThreeCornersEach(VtPrimitive *p) {
  const Layout l = LayoutOf(p->contents);
  if (l.polys < 0 || l.poly_next < 0 || l.vrefs < 0) return false;
  const void *first = *ElementField<void *>(p->data, l.polys);
  bool all = first != nullptr;
  for (const void *q = first; q != nullptr && all;) {
    uint32_t corners = 0;
    RingEach(*ElementField<VtReference *>(q, l.vrefs), [&](void *) { ++corners; });
    all = corners == 3;
    q = *ElementField<void *>(q, l.poly_next);
    if (q == first) break;
  }
  return all;
}

// Triangles as strips when allowed and the primitive has vertex normals,
// else polygon by polygon (each its own GL_POLYGON when not triangles).
VtStatus TrianglesDraw(VtOpenGLContext *c, VtPrimitive *p, VtTransform *inverse, bool triangles) {
  VtStatus s = 0;
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  const bool strip = c->strips != 0 && type != VO_PRIMITIVE_POLYGON && type != VO_PRIMITIVE_POLYGON_SHARED &&
                     PropertyOffset(p->contents, VO_VERT_NORMAL) >= 0 && triangles;
  if (!strip || !StripPath(c, p, inverse, &s)) s |= PolygonPath(c, p, inverse, triangles);
  return s;
}

// The application's primitive is not triangulated in place: a later
// Direct3D frame, which fans each polygon itself, would draw the library's
// triangles instead of its own. A mesh of triangles with vertex normals
// draws as it is (its triangulation would change nothing it draws); any
// other primitive not yet triangulated draws through a triangulated copy
// made for the draw (a failed triangulation leaves bit 0x80 clear, and the
// copy's polygons draw one by one).
VtStatus OneGeometry(VtOpenGLContext *c, VtPrimitive *p, VtTransform *inverse) {
  if (p == nullptr || !Drawable(p)) return 0;
  VtStatus s = 0;
  const bool two_sided = VoPrimitiveGetSidedness(p) != 0;
  if (two_sided) {
    glLightModelf(GL_LIGHT_MODEL_TWO_SIDE, 1.0f);
    glDisable(GL_CULL_FACE);
  }
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  if ((p->flags & VO_PRIMITIVE_TRIANGLES) != 0) {
    s |= TrianglesDraw(c, p, inverse, true);
  } else if (type != VO_PRIMITIVE_POLYGON && type != VO_PRIMITIVE_POLYGON_SHARED &&
             PropertyOffset(p->contents, VO_VERT_NORMAL) >= 0 && ThreeCornersEach(p)) {
    s |= TrianglesDraw(c, p, inverse, true);
  } else if (VtPrimitive *copy = VoPrimitiveCopy(p, p->contents)) {
    s |= VoPrimitiveTriangulate(copy);
    s |= TrianglesDraw(c, copy, inverse, (copy->flags & VO_PRIMITIVE_TRIANGLES) != 0);
    (void)VoPrimitiveDestroy(copy);
  } else {
    s |= VO_STATUS_NO_MEMORY | PolygonPath(c, p, inverse, false);  // polygons one by one
  }
  if (two_sided) {
    glLightModelf(GL_LIGHT_MODEL_TWO_SIDE, 0.0f);
    glEnable(GL_CULL_FACE);
  }
  return s;
}

// The primitive's polygons (its copy's when it has one) with the current state.
VtStatus GeometryDraw(VtOpenGLContext *c, VtPrimitive *p, const VtOpenGLPrimitiveData *record) {
  if (record->procedural_class != nullptr) {
    return record->procedural_class->draw != nullptr ? ProceduralDraw(c, p, record) : 0;
  }
  if (record->copy == nullptr) return OneGeometry(c, p, record->inverse);
  VtStatus s = 0;
  RingEach(record->copy,
           [&](void *piece) { s |= OneGeometry(c, static_cast<VtPrimitive *>(piece), nullptr); });
  return s;
}

// The triangles of the primitive once triangulated: its polygons when it
// is, else n - 2 for each polygon of n corners (the count of a simple
// polygon's triangulation; the primitive itself is not triangulated).
uint32_t TriangleCount(VtPrimitive *p) {
  const Layout l = LayoutOf(p->contents);
  if (l.polys < 0 || l.poly_next < 0) return 0;
  const bool triangles = (p->flags & VO_PRIMITIVE_TRIANGLES) != 0;
  uint64_t n = 0;
  const void *first = *ElementField<void *>(p->data, l.polys);
  for (const void *q = first; q != nullptr && n < UINT32_MAX;) {
    uint32_t corners = 0;
    if (!triangles && l.vrefs >= 0)
      RingEach(*ElementField<VtReference *>(q, l.vrefs), [&](void *) { ++corners; });
    n += triangles ? 1 : corners > 2 ? corners - 2 : 0;
    q = *ElementField<void *>(q, l.poly_next);
    if (q == first) break;
  }
  return n < UINT32_MAX ? static_cast<uint32_t>(n) : UINT32_MAX;
}

bool ListWanted(VtOpenGLContext *c, VtPrimitive *p, const VtOpenGLPrimitiveData *record) {
  if (c->display_list_mode != 1 || c->vertex_space != nullptr) return false;
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  if (type == VO_PRIMITIVE_POLYGON || type == VO_PRIMITIVE_POLYGON_SHARED) return false;
  if ((type == VO_PRIMITIVE_MESH || type == VO_PRIMITIVE_MESH_SHARED) &&
      record->procedural_class == nullptr) {
    return TriangleCount(p) >= c->list_threshold;
  }
  return true;
}

// The geometry, through the primitive's display list in mode 1: replayed
// when made in this share group, else compiled and then called.
VtStatus GeometryListed(VtOpenGLContext *c, VtPrimitive *p, VtOpenGLPrimitiveData *record) {
  FrontFace(c);
  if (c->display_list_mode == 1 && record->display_list != 0 && record->list_group != c->frame_group) {
    ListDelete(record->list_group, record->display_list);
    record->display_list = 0;
    record->list_group = -1;
  }
  if (c->display_list_mode == 1 && record->display_list != 0) {
    glCallList(record->display_list);
    StateForget(c);
    return 0;
  }
  if (!CurrentFrame()->lists_kept || !ListWanted(c, p, record)) return GeometryDraw(c, p, record);
  const GLuint name = glGenLists(1);
  if (name == 0) return GeometryDraw(c, p, record);
  glNewList(name, GL_COMPILE);
  const VtStatus s = GeometryDraw(c, p, record);
  glEndList();
  record->display_list = name;
  record->list_group = c->frame_group;
  glCallList(name);
  StateForget(c);
  return s;
}

// ---- Materials and layers ---------------------------------------------------------

VtStatus LayerSet(VtOpenGLContext *c, VtGLMaterialRecord *r, VtShader *space, VtTransform *inverse) {
  VtStatus s = RecordSend(c, r);
  if (r->texture != 0)
    s |= TextureSpaceSet(c, space, r, inverse);
  else
    c->vertex_space = nullptr;
  return s;
}

VtStatus MaterialAndGeometry(VtOpenGLContext *c, VtPrimitive *p, VtOpenGLPrimitiveData *record,
                             VtOpenGLMaterialCache *cache, VtShader *space) {
  c->current_cache = cache;
  VtStatus s = CacheReady(c, cache);
  VtGLMaterialRecord *head = cache->record;
  if (head == nullptr) return s | GeometryListed(c, p, record);
  if ((head->kind & kLayered) == 0 || c->decal_mode == 0 || head->next == nullptr) {
    s |= LayerSet(c, head, space, record->inverse);
    return s | GeometryListed(c, p, record);
  }
  bool first = true;
  for (VtGLMaterialRecord *r = head; r != nullptr; r = r->next) {
    s |= LayerSet(c, r, space, record->inverse);
    s |= GeometryListed(c, p, record);
    if (first) {
      glEnable(GL_POLYGON_OFFSET_FILL);
      glPolygonOffset(-1.0f, -1.0f);
      glDepthMask(GL_FALSE);
      glDepthFunc(GL_LEQUAL);
      first = false;
    }
  }
  glDisable(GL_POLYGON_OFFSET_FILL);
  if (!CurrentFrame()->drawing_deferred) glDepthMask(GL_TRUE);
  glDepthFunc(GL_LESS);
  return s;
}

bool Deferred(const VtOpenGLContext *c, const VtOpenGLMaterialCache *cache) {
  const VtGLMaterialRecord *r = cache != nullptr ? cache->record : nullptr;
  if (r == nullptr) return false;
  return (c->deferring != 0 && (r->kind & kTransparent) != 0) ||
         ((r->kind & kLayered) != 0 && c->decal_mode == 2);
}

VtStatus Defer(VtOpenGLContext *c, Frame *f, VtPrimitive *p, VtOpenGLMaterialCache *cache, VtShader *space) {
  auto *d = static_cast<VtOpenGLDeferred *>(VoAllocate(sizeof(VtOpenGLDeferred)));
  if (d == nullptr) return VO_STATUS_UNAVAILABLE;
  d->next = c->deferred;
  d->primitive = p;
  d->space = space;
  d->cache = cache;
  std::memcpy(d->matrix, f->matrices[f->depth], sizeof d->matrix);
  std::memcpy(d->model, f->model[f->depth], sizeof d->model);
  d->mirrored = c->mirrored[0];
  d->depth = f->depth;
  c->deferred = d;
  return 0;
}

// ---- The drawing procedure -----------------------------------------------------------

VtOpenGLPrimitiveData *RecordFor(VtOpenGLContext *c, VtPrimitive *p, VtStatus *status) {
  VtOpenGLPrimitiveData *r = RecordOf(p, status);
  if (r != nullptr || *status != 0) return r;
  return RecordMake(c, p, status);
}

VtStatus MembersDraw(VtOpenGLContext *c, Frame *f, VtPrimitive *list, VtOpenGLMaterialCache *cache,
                     VtShader *space) {
  VtStatus s = 0;
  ForEachNode(ListMembers(list), [&](VtReference *node) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (MemberDrawn(p)) s |= PrimitiveDraw(c, f, p, cache, space);
  });
  return s;
}

VtStatus ListDraw(VtOpenGLContext *c, Frame *f, VtPrimitive *p, VtOpenGLMaterialCache *cache,
                  VtShader *space) {
  if (VtStatus e = f->path.Enter(p)) return e;
  VtStatus s = 0;
  Pushed pushed;
  if ((p->flags & VO_PRIMITIVE_TYPE_MASK) == VO_PRIMITIVE_LIST_COPY) {
    if (VoPrimitiveGetMaterial(p) != nullptr) {
      VtOpenGLMaterialCache *own = nullptr;
      s |= CacheLookup(c, p, &own);
      if (own != nullptr) cache = own;
    }
    if (VtShader *own_space = VoPrimitiveGetTextureSpace(p)) space = own_space;
    if ((p->flags & VO_PRIMITIVE_HAS_TRANSFORM) != 0 && !TransformPush(c, f, p, &pushed)) {
      f->path.Leave();
      return s | VO_STATUS_BAD_ARGUMENT;
    }
  }
  s |= MembersDraw(c, f, p, cache, space);
  TransformPop(c, f, &pushed);
  f->path.Leave();
  return s;
}

// A primitive of a kind the back end does not draw itself, expanded on the
// spot (a copy could not be kept).
VtStatus ExpandedDraw(VtOpenGLContext *c, Frame *f, VtPrimitive *p, VtOpenGLMaterialCache *cache,
                      VtShader *space) {
  if (f->expand_depth >= kExpandDepthMax) return 0;
  VtReference *pieces = VoPrimitiveExpandToList(p, nullptr, 1);
  if (pieces == nullptr) return 0;
  ++f->expand_depth;
  VtStatus s = 0;
  ForEachNode(pieces, [&](VtReference *node) {
    s |= PrimitiveDraw(c, f, static_cast<VtPrimitive *>(node->data), cache, space);
  });
  --f->expand_depth;
  (void)VoPrimitiveReferenceListDestroy(pieces);
  return s;
}

// Whether every piece of a copy is a polygon or a mesh.
bool CopyDrawable(VtReference *copy) {
  bool all = copy != nullptr;
  RingEach(copy, [&](void *piece) {
    all = all && piece != nullptr && Drawable(static_cast<VtPrimitive *>(piece));
  });
  return all;
}

}  // namespace

void MatrixLoad(Frame *f) {
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixd(f->matrices[f->depth]);
}

VtStatus PrimitiveDraw(VtOpenGLContext *c, Frame *f, VtPrimitive *p, VtOpenGLMaterialCache *inherited,
                       VtShader *space) {
  if (p == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus s = 0;
  VtOpenGLPrimitiveData *record = RecordFor(c, p, &s);
  if (record == nullptr) return s != 0 ? s : VO_STATUS_NO_MEMORY;
  c->current_primitive = p;
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  if (type == VO_PRIMITIVE_LIST || type == VO_PRIMITIVE_LIST_COPY)
    return s | ListDraw(c, f, p, inherited, space);

  // The outside render context's value of the primitive is 0 while it is set up.
  uintptr_t context_value = 0;
  if (c->hooks_present != 0 && c->hooks.get != nullptr && c->hooks.set != nullptr) {
    context_value = c->hooks.get(p);
    if (context_value != 0) (void)c->hooks.set(p, 0);
  }
  Pushed pushed;
  const bool own = (p->flags & VO_PRIMITIVE_HAS_TRANSFORM) != 0;
  if (!own && record->inverse_looked_up == 0) {
    record->inverse_looked_up = 1;
    VtTransform *t = VoPrimitiveGetTransform(p);
    if (t != nullptr && VoTransformGetType(t) != 0) {
      VtTransform *inverse = VoTransformCopy(t);
      if (inverse != nullptr && VoTransformInvert(inverse) == 0 && VoTransformGetType(inverse) != 0)
        record->inverse = inverse;
      else if (inverse != nullptr)
        (void)VoTransformDestroy(inverse);
    }
  }
  if (own && !TransformPush(c, f, p, &pushed)) {
    if (context_value != 0) (void)c->hooks.set(p, context_value);
    return s | VO_STATUS_BAD_ARGUMENT;
  }
  if (record->copy_made == 0 && record->procedural_class == nullptr && !Drawable(p)) {
    record->copy_made = 1;
    VtReference *copy = VoPrimitiveExpandToList(p, nullptr, 1);
    if (CopyDrawable(copy))
      record->copy = copy;
    else if (copy != nullptr)
      (void)VoPrimitiveReferenceListDestroy(copy);
  }
  if (context_value != 0) (void)c->hooks.set(p, context_value);
  // Copies and expansions are in world space already.
  if (record->procedural_class == nullptr && !Drawable(p)) TransformPop(c, f, &pushed);

  VtOpenGLMaterialCache *cache = inherited;
  if (VoPrimitiveGetMaterial(p) != nullptr) {
    VtOpenGLMaterialCache *own_cache = nullptr;
    s |= CacheLookup(c, p, &own_cache);
    if (own_cache != nullptr) cache = own_cache;
  }
  if (VtShader *own_space = VoPrimitiveGetTextureSpace(p)) space = own_space;

  if (record->procedural_class == nullptr && record->copy == nullptr && !Drawable(p)) {
    // Neither drawable nor kept as a copy: expanded for this frame.
    s |= ExpandedDraw(c, f, p, cache, space);
  } else if (!f->drawing_deferred && Deferred(c, cache)) {
    s |= Defer(c, f, p, cache, space);
  } else if (cache != nullptr) {
    s |= MaterialAndGeometry(c, p, record, cache, space);
  } else {
    s |= GeometryListed(c, p, record);
  }
  TransformPop(c, f, &pushed);
  return s;
}

VtStatus DeferredDraw(VtOpenGLContext *c, Frame *f) {
  if (c->deferred == nullptr) return 0;
  VtStatus s = 0;
  glEnable(GL_BLEND);
  glDepthMask(GL_FALSE);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  f->drawing_deferred = true;
  const uint32_t parity = c->mirrored[0];
  while (VtOpenGLDeferred *d = c->deferred) {
    c->deferred = d->next;
    // The record's matrices stand in for the levels it was drawn under.
    std::memcpy(f->matrices[0], d->matrix, sizeof d->matrix);
    std::memcpy(f->model[0], d->model, sizeof d->model);
    f->depth = 0;
    MatrixLoad(f);
    c->mirrored[0] = d->mirrored;
    // A primitive destroyed since it was deferred took its record and
    // material cache with it: nothing of it is read.
    VtStatus read = 0;
    VtOpenGLPrimitiveData *record = PrimitiveLive(d->primitive) ? RecordOf(d->primitive, &read) : nullptr;
    if (record != nullptr && d->cache != nullptr) {
      c->current_primitive = d->primitive;
      const uint32_t saved = c->transform_depth;
      c->transform_depth = static_cast<int32_t>(d->depth);
      s |= MaterialAndGeometry(c, d->primitive, record, d->cache, d->space);
      c->transform_depth = static_cast<int32_t>(saved);
    }
    VoDeallocate(d);
  }
  c->mirrored[0] = parity;
  f->drawing_deferred = false;
  glDepthMask(GL_TRUE);
  glDisable(GL_BLEND);
  return s;
}

void DeferredDrop(VtOpenGLContext *c) {
  while (VtOpenGLDeferred *d = c->deferred) {
    c->deferred = d->next;
    VoDeallocate(d);
  }
}

}  // namespace vo::opengl

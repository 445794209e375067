// Sending a GL material record to OpenGL (only what changed since the last
// record), the screen-door stipple patterns, and the texture-coordinate
// planes from a primitive's texture-space shader.
//
// Pattern n of the stipple has n x 64 of its 1024 bits set: a four-row tile
// repeated down 32 rows, each row one byte repeated four times.
#include <GL/gl.h>

#include <cmath>
#include <cstring>

#include "backends/voopengl/opengl.h"
#include "kernel/vosystem/face.h"

namespace vo::opengl {

namespace {

constexpr uint8_t kTiles[17][4] = {
    {0x00, 0x00, 0x00, 0x00}, {0x88, 0x00, 0x00, 0x00}, {0x88, 0x00, 0x22, 0x00}, {0xAA, 0x00, 0x22, 0x00},
    {0xAA, 0x00, 0xAA, 0x00}, {0xAA, 0x44, 0xAA, 0x00}, {0xAA, 0x44, 0xAA, 0x11}, {0xAA, 0x55, 0xAA, 0x11},
    {0xAA, 0x55, 0xAA, 0x55}, {0xEE, 0x55, 0xAA, 0x55}, {0xEE, 0x55, 0xBB, 0x55}, {0xFF, 0x55, 0xBB, 0x55},
    {0xFF, 0x55, 0xFF, 0x55}, {0xFF, 0xDD, 0xFF, 0x55}, {0xFF, 0xDD, 0xFF, 0x77}, {0xFF, 0xFF, 0xFF, 0x77},
    {0xFF, 0xFF, 0xFF, 0xFF},
};

void StippleSet(VtOpenGLContext *c, bool want, float alpha) {
  if (!want) {
    if (c->stipple_on != 0) glDisable(GL_POLYGON_STIPPLE);
    c->stipple_on = 0;
    return;
  }
  if (c->stipple_on != 0) return;  // a stipple on keeps its pattern
  uint8_t bytes[128];
  c->stipple_pattern = StipplePattern(alpha);
  StippleBytes(c->stipple_pattern, bytes);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glEnable(GL_POLYGON_STIPPLE);
  glPolygonStipple(bytes);
  c->stipple_on = 1;
}

void AlphaTestSet(VtOpenGLContext *c, bool want) {
  if (want && c->alpha_test_on == 0) {
    glAlphaFunc(GL_GREATER, 0.5f);
    glEnable(GL_ALPHA_TEST);
  } else if (!want && c->alpha_test_on != 0) {
    glDisable(GL_ALPHA_TEST);
  }
  c->alpha_test_on = want ? 1 : 0;
}

// Colour mode 2's texture state; true when a texture set the diffuse.
bool TextureSend(VtOpenGLContext *c, const VtGLMaterialRecord *r) {
  const bool layered = (r->kind & 4) != 0;
  if ((layered ? c->decal_textures : c->textures) == 0) return false;
  if (r->texture == 0) {
    if (c->texturing_on != 0) {
      glBindTexture(GL_TEXTURE_2D, 0);
      glDisable(GL_TEXTURE_2D);
      c->texturing_on = 0;
    }
    return false;
  }
  glBindTexture(GL_TEXTURE_2D, r->texture);
  if (c->texturing_on == 0) glEnable(GL_TEXTURE_2D);
  c->texturing_on = 1;
  const float white[4] = {1.0f, 1.0f, 1.0f, r->kind == 2 ? r->diffuse[3] : 1.0f};
  if (c->lighting_on != 0)
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, white);
  else
    glColor3fv(white);
  return true;
}

struct Planes {
  float s[4], t[4];
};

// The planes of the four classes OpenGL generates for; false for others.
bool ClassPlanes(VtShader *space, Planes *p) {
  const char *name = ClassName(space);
  if (name == nullptr) return false;
  auto guarded = [](float v) { return std::fabs(v) < 0.001f ? 1.0f : v; };
  const float k = 1.0f / guarded(ArgFloat(space, "scale", 1.0f));
  *p = Planes{};
  if (std::strcmp(name, "x plane") == 0) {
    p->s[1] = k, p->t[2] = -k;
  } else if (std::strcmp(name, "y plane") == 0) {
    p->s[0] = -k, p->t[2] = -k;
  } else if (std::strcmp(name, "z plane") == 0) {
    p->s[0] = k, p->t[1] = -k;
  } else if (std::strcmp(name, "arbitrary plane") == 0) {
    const float scale = guarded(ArgFloat(space, "scale", 1.0f));
    const float aspect = guarded(ArgFloat(space, "aspect ratio", 1.0f));
    float n[3] = {0, 0, 1}, u[3] = {0, 1, 0}, o[3] = {0, 0, 0};
    (void)ArgTriple(space, "normal vector", n);
    (void)ArgTriple(space, "up vector", u);
    (void)ArgTriple(space, "origin", o);
    auto cross = [](const float *a, const float *b, float *out) {
      out[0] = a[1] * b[2] - a[2] * b[1];
      out[1] = a[2] * b[0] - a[0] * b[2];
      out[2] = a[0] * b[1] - a[1] * b[0];
    };
    auto unit = [](float *v) {
      const float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      if (l > 0.0f) v[0] /= l, v[1] /= l, v[2] /= l;
    };
    float sa[3], ta[3];
    cross(u, n, sa);
    unit(sa);
    cross(sa, n, ta);
    unit(ta);
    for (int i = 0; i < 3; ++i) {
      p->s[i] = sa[i] / scale;
      p->t[i] = ta[i] / (aspect * scale);
    }
    p->s[3] = -(o[0] * p->s[0] + o[1] * p->s[1] + o[2] * p->s[2]);
    p->t[3] = -(o[0] * p->t[0] + o[1] * p->t[1] + o[2] * p->t[2]);
  } else {
    return false;
  }
  return true;
}

bool PerVertex(VtShader *space) {
  const char *name = ClassName(space);
  if (name == nullptr) return false;
  for (const char *n : {"uv", "spherical", "auto axis", "cylindrical"})
    if (std::strcmp(name, n) == 0) return true;
  return false;
}

// Carries a plane through the inverse transform (row i of the matrix).
void PlaneTransform(float plane[4], VtTransform *inverse) {
  double m[16];
  if (inverse == nullptr || VoTransformGetMatrix(inverse, m) != 0) return;
  float out[4];
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<float>(plane[0] * m[4 * i] + plane[1] * m[4 * i + 1] + plane[2] * m[4 * i + 2] +
                                plane[3] * m[4 * i + 3]);
  std::memcpy(plane, out, sizeof out);
}

void PlanesSend(VtOpenGLContext *c, const Planes &p) {
  glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
  glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
  glTexGenfv(GL_S, GL_OBJECT_PLANE, p.s);
  glTexGenfv(GL_T, GL_OBJECT_PLANE, p.t);
  glEnable(GL_TEXTURE_GEN_S);
  glEnable(GL_TEXTURE_GEN_T);
  c->vertex_space = nullptr;
  c->texgen_mode = 2;
}

bool CarriesTextureCoordinates(VtPrimitive *p) {
  return p != nullptr && VoPropertyGetOffset(VoPrimitiveGetContents(p), VO_VERT_TEXCOORDS) >= 0;
}

}  // namespace

uint32_t StipplePattern(float alpha) {
  if (alpha >= 1.0f) return 16;
  for (uint32_t n = 15; n > 0; --n)
    if (static_cast<float>(n) / 16.0f <= alpha) return n;
  return 0;
}

void StippleBytes(uint32_t n, uint8_t out[128]) {
  if (n > 16) n = 16;
  for (int row = 0; row < 32; ++row) std::memset(out + 4 * row, kTiles[n][row % 4], 4);
}

VtStatus RecordSend(VtOpenGLContext *c, VtGLMaterialRecord *r) {
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  if (r == c->current_record) return 0;
  const bool layered = (r->kind & 4) != 0;
  const bool alpha_test = (layered && c->decal_mode == 1) || (c->transparency_mode == 0 && r->kind == 3);
  StippleSet(c, c->transparency_mode == 0 && r->kind == 2, r->diffuse[3]);
  AlphaTestSet(c, alpha_test);
  if (c->colour_mode == 1) {
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glColor3fv(r->plain);
  } else if (c->colour_mode == 2) {
    const bool textured = TextureSend(c, r);
    if (c->lighting_on != 0) {
      if (!textured) {
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, r->ambient);
        const bool unscaled = r->kind == 2 && c->transparency_mode == 2;
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, unscaled ? r->unscaled_diffuse : r->diffuse);
      }
      glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, r->specular);
      glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, r->emission);
      if (r->shininess != c->shininess) glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, r->shininess);
      c->shininess = r->shininess;
    } else if (!textured) {
      glColor3fv(r->plain);
    }
  }
  c->current_record = r;
  return 0;
}

VtStatus TextureSpaceSet(VtOpenGLContext *c, VtShader *space, const VtGLMaterialRecord *r,
                         VtTransform *inverse) {
  if (r != nullptr && r->texture_space != nullptr) {
    space = r->texture_space;
    if (r->s_scale != 0.0f) c->tex_scale[0] = r->s_scale;
    if (r->t_scale != 0.0f) c->tex_scale[1] = r->t_scale;
    if (r->s_offset != 0.0f) c->tex_offset[0] = r->s_offset;
    if (r->t_offset != 0.0f) c->tex_offset[1] = r->t_offset;
  }
  Planes planes{};
  if (space == nullptr) {
    if (CarriesTextureCoordinates(c->current_primitive)) {
      if (c->texgen_mode != 1) {
        glDisable(GL_TEXTURE_GEN_S);
        glDisable(GL_TEXTURE_GEN_T);
      }
      return 0;
    }
    planes.s[0] = 1.0f;
    planes.t[1] = -1.0f;
    PlanesSend(c, planes);
    return 0;
  }
  if (ClassPlanes(space, &planes)) {
    for (int i = 0; i < 4; ++i) {
      planes.s[i] *= c->tex_scale[0];
      planes.t[i] *= c->tex_scale[1];
    }
    planes.s[3] += c->tex_offset[0];
    planes.t[3] += c->tex_offset[1];
    PlaneTransform(planes.s, inverse);
    PlaneTransform(planes.t, inverse);
    PlanesSend(c, planes);
    return 0;
  }
  if (PerVertex(space)) {
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    c->vertex_space = space;
    c->texgen_mode = 3;
    return VoShaderReset(space);
  }
  c->texgen_mode = 1;
  c->vertex_space = nullptr;
  c->tex_scale[0] = c->tex_scale[1] = 1.0f;
  c->tex_offset[0] = c->tex_offset[1] = 0.0f;
  return 0;
}

}  // namespace vo::opengl

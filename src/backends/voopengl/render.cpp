// One OpenGL render of the scene: the frame on the drivers' prepared
// target, the view, the background, the lights, the primitive list and the
// frame's close.
//
// Invariants a reader must know:
// - without a context (the drivers' image begin failed) nothing is sent to
//   OpenGL: the frame goes straight to its end;
// - model transforms are kept on a stack of our own (OpenGL's model-view
//   stack is shallower than ours) and loaded whole with glLoadMatrixd; a
//   level past kTransformStackDepth is refused and its subtree not drawn;
// - glFrontFace is sent from the mirroring parity before every geometry;
// - lists and groups are walked with ListPath, so a list containing itself
//   is refused instead of recursing for ever;
// - the output driver is polled for an interrupt as the render begins and
//   before each primitive of the list, so that none is left for a later
//   render; an interrupted frame still ends (0x40).
#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstring>
#include <new>

#include <vo/vo_view.h>

#include "scene/vogeom/face.h"
#include "output/vodriver/face.h"
#include "output/voogldrv/face.h"
#include "backends/voopengl/frame.h"
#include "kernel/vosystem/face.h"
#include "shading/voshader/face.h"

namespace vo::opengl {

namespace {

constexpr uint32_t kBackgroundDepthMax = 16;

void Clear(const float rgb[3], float alpha, GLbitfield extra) {
  glClearColor(rgb[0], rgb[1], rgb[2], alpha);
  glClear(GL_COLOR_BUFFER_BIT | extra);
}

// ---- Background ---------------------------------------------------------

// Drawing over the whole viewport: the depth cleared as asked, identity
// matrices, filled and smooth, no lighting, depth test or culling; undone
// by ScreenEnd (ending in GL_MODELVIEW).
void ScreenBegin(GLbitfield depth) {
  glClear(depth);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glPushAttrib(GL_POLYGON_BIT | GL_LIGHTING_BIT | GL_ENABLE_BIT | GL_CURRENT_BIT);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glShadeModel(GL_SMOOTH);
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
}

void ScreenEnd() {
  glPopAttrib();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
}

// The texture coordinates of the corners (1,1), (-1,1), (-1,-1), (1,-1).
struct Corners {
  float st[4][2];
};

Corners TiledCorners(const VtOpenGLContext *c, const VtShaderTexture *t) {
  const float wr = static_cast<float>(c->viewport[0]) / static_cast<float>(t->width);
  const float hr = static_cast<float>(c->viewport[1]) / static_cast<float>(t->height);
  return Corners{{{wr, 0}, {0, 0}, {0, hr}, {wr, hr}}};
}

Corners FittedCorners(const VtOpenGLContext *c, VtShader *bg, const VtShaderTexture *t) {
  float s = 1.0f, u = 1.0f;  // the extents in s and t
  const double rotation = ArgFloat(bg, "rotation", 0.0f);
  const int32_t turn =
      std::isfinite(rotation) && std::fabs(rotation) < 1e9 ? static_cast<int32_t>(rotation) : 0;
  const bool quarter = turn == 90 || turn == -90 || turn == 270 || turn == -270;
  VtTypedValue keep{};
  keep.type = VtBoolean;
  if (HasLabel(bg, "keep aspect") && VoShaderGetArg(bg, "keep aspect", &keep) == 0 && keep.value.u != 0) {
    const double vw = c->viewport[0], vh = c->viewport[1], iw = t->width, ih = t->height;
    const double va = vw / vh, ia = iw / ih;
    if (!quarter) {
      if (iw * vh < ih * vw)
        u = static_cast<float>(ia / va);
      else
        s = static_cast<float>(va / ia);
    } else {
      if (ih * vh < iw * vw)
        s = static_cast<float>(1.0 / (va * ia));
      else
        u = static_cast<float>(va * ia);
    }
  }
  if (turn == 90 || turn == -270) return Corners{{{0, 0}, {0, u}, {s, u}, {s, 0}}};
  if (turn == 180 || turn == -180) return Corners{{{0, u}, {s, u}, {s, 0}, {0, 0}}};
  if (turn == 270 || turn == -90) return Corners{{{s, u}, {s, 0}, {0, 0}, {0, u}}};
  return Corners{{{s, 0}, {0, 0}, {0, u}, {s, u}}};
}

// "image" tiled at one texel per pixel, "scaled image" fitted to the
// viewport; an image that cannot be drawn clears to the default colour.
VtStatus ImageBackground(VtOpenGLContext *c, VtShader *bg, GLbitfield depth, bool fitted) {
  VtStatus s = 0;
  const VtShaderTexture *t = ShaderTextureGet(c, bg, &s);
  if (t == nullptr || t->width <= 0 || t->height <= 0 || c->viewport[0] == 0 || c->viewport[1] == 0) {
    Post(VO_CLASS_WARNING, messages::kOpenGLBackgroundRefused, kModule,
         t == nullptr ? (s != 0 ? "out of memory" : "no usable image") : "an empty image or viewport");
    Clear(c->background, c->background_alpha, depth);
    return s;
  }
  const Corners k = fitted ? FittedCorners(c, bg, t) : TiledCorners(c, t);
  ScreenBegin(depth);
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_GEN_S);
  glDisable(GL_TEXTURE_GEN_T);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, t->texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glColor4f(1, 1, 1, 1);
  static const float kCorner[4][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};
  glBegin(GL_POLYGON);
  for (int i = 0; i < 4; ++i) {
    glTexCoord2fv(k.st[i]);
    glVertex2fv(kCorner[i]);
  }
  glEnd();
  glBindTexture(GL_TEXTURE_2D, 0);
  ScreenEnd();
  c->current_record = nullptr;  // the colour and texture binding changed behind the record
  return 0;
}

VtStatus BackgroundDraw(VtOpenGLContext *c, VtShader *bg, GLbitfield depth, uint32_t level) {
  const float black[3] = {0.0f, 0.0f, 0.0f};
  if (bg == nullptr) {
    Clear(c->background, c->background_alpha, depth);
    return 0;
  }
  const char *name = ClassName(bg);
  const auto is = [&](const char *n) { return name != nullptr && std::strcmp(name, n) == 0; };
  const char *inner = is("mixed")        ? "base shader"
                      : is("two planes") ? "front shader"
                      : is("ray cube")   ? "primary shader"
                                         : nullptr;
  if (inner != nullptr) {
    if (level + 1 >= kBackgroundDepthMax) {
      Post(VO_STATUS_BAD_ARGUMENT, messages::kOpenGLBackgroundNesting, kModule, name);
      Clear(c->background, c->background_alpha, depth);
      return VO_STATUS_BAD_ARGUMENT;
    }
    auto *next = static_cast<VtShader *>(ArgPointer(bg, inner));
    if (next == nullptr) {
      Clear(c->background, c->background_alpha, depth);
      return 0;
    }
    return BackgroundDraw(c, next, depth, level + 1);
  }
  float colour[3] = {c->background[0], c->background[1], c->background[2]};
  if (is("plain")) {
    (void)ArgTriple(bg, "colour", colour);
    Clear(colour, 1.0f, depth);
  } else if (is("clouds")) {
    (void)ArgTriple(bg, "background colour", colour);
    Clear(colour, 1.0f, depth);
  } else if (is("graduated")) {
    float top[3] = {0, 0, 0}, bottom[3] = {0, 0, 0};
    (void)ArgTriple(bg, "top colour", top);
    (void)ArgTriple(bg, "bottom colour", bottom);
    if (c->background_drawing == 1) {
      ScreenBegin(depth);
      glDisable(GL_TEXTURE_2D);
      glBegin(GL_POLYGON);
      glColor3fv(top);
      glVertex2f(1, 1);
      glVertex2f(-1, 1);
      glColor3fv(bottom);
      glVertex2f(-1, -1);
      glVertex2f(1, -1);
      glEnd();
      ScreenEnd();
      c->current_record = nullptr;  // the colour was changed behind the record
    } else {
      for (int i = 0; i < 3; ++i) colour[i] = 0.5f * (top[i] + bottom[i]);
      Clear(colour, 1.0f, depth);
    }
  } else if (is("none")) {
    Clear(black, 1.0f, depth);
  } else if ((is("image") || is("scaled image")) && c->background_drawing == 1) {
    return ImageBackground(c, bg, depth, is("scaled image"));
  } else {
    // Classes OpenGL cannot draw: the default colour.
    Clear(c->background, c->background_alpha, depth);
  }
  return 0;
}

// ---- Lights -------------------------------------------------------------

// A whole-number argument (an enumeration or integer; a float truncated).
int32_t ArgWhole(VtShader *s, const char *label, int32_t otherwise) {
  if (!HasLabel(s, label)) return otherwise;
  VtTypedValue v{};
  v.type = VtInt32;
  if (VoShaderGetArg(s, label, &v) != 0) return otherwise;
  switch (v.type) {
    case VtEnum:
    case VtInt32:
    case VtNat32:
    case VtBoolean: return v.value.i;
    case VtFloat:
      return std::isfinite(v.value.f) && std::fabs(v.value.f) < 1e9f ? static_cast<int32_t>(v.value.f)
                                                                     : otherwise;
    default: return otherwise;
  }
}

VtStatus LightSet(VtOpenGLContext *c, VtShader *light, int32_t index) {
  const GLenum n = GL_LIGHT0 + static_cast<GLenum>(index);
  float ambient[4] = {0, 0, 0, 1}, position[4] = {0, 0, 1, 0}, direction[3] = {0, 0, -1};
  float exponent = 0.0f, cutoff = 180.0f;
  float colour[4] = {1, 1, 1, 1};
  (void)ArgTriple(light, "colour", colour);
  const float intensity = ArgFloat(light, "intensity", 1.0f);
  if (intensity < 1.0f)
    for (int i = 0; i < 3; ++i) colour[i] = std::fmin(colour[i] * intensity, 1.0f);
  const char *name = ClassName(light);
  const auto is = [&](const char *k) { return name != nullptr && std::strcmp(name, k) == 0; };
  float location[3] = {0, 0, 0}, to[3] = {0, 0, 0};
  (void)ArgTriple(light, "location", location);
  (void)ArgTriple(light, "to", to);
  int32_t fall_off = -1;
  if (is("eye")) {
    std::memcpy(position, c->eye_position, sizeof(float) * 3);
    position[3] = 1.0f;
  } else if (is("distant")) {
    for (int i = 0; i < 3; ++i) position[i] = location[i] - to[i];
    vec::Normalise(position);
    position[3] = 0.0f;
  } else if (is("point") || is("spot")) {
    std::memcpy(position, location, sizeof location);
    position[3] = 1.0f;
    fall_off = ArgWhole(light, "fall off", 0);
    if (is("spot")) {
      for (int i = 0; i < 3; ++i) direction[i] = to[i] - location[i];
      vec::Normalise(direction);
      cutoff = ArgFloat(light, "cone angle", 360.0f) * 0.5f;
      cutoff = std::fmin(std::fmax(cutoff, 0.0f), 90.0f);
      exponent = std::fmin(std::fmax(ArgFloat(light, "beam distribution", 0.0f), 0.0f), 128.0f);
    }
  }
  glLightfv(n, GL_AMBIENT, ambient);
  glLightfv(n, GL_DIFFUSE, colour);
  glLightfv(n, GL_SPECULAR, colour);
  glLightfv(n, GL_POSITION, position);
  glLightfv(n, GL_SPOT_DIRECTION, direction);
  glLightf(n, GL_SPOT_EXPONENT, exponent);
  glLightf(n, GL_SPOT_CUTOFF, cutoff);
  static const float kAttenuation[6][3] = {{1, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}, {0, 1, 0}, {0, 0, 1}};
  if (fall_off >= 0 && fall_off <= 5) {
    glLightf(n, GL_CONSTANT_ATTENUATION, kAttenuation[fall_off][0]);
    glLightf(n, GL_LINEAR_ATTENUATION, kAttenuation[fall_off][1]);
    glLightf(n, GL_QUADRATIC_ATTENUATION, kAttenuation[fall_off][2]);
  }
  glEnable(n);
  return 0;
}

// ---- The frame ----------------------------------------------------------

VtStatus ImageBegin(VtOpenGLContext *c) {
  if (c->frame_open != 0 || c->frame != nullptr) return VO_STATUS_UNAVAILABLE;
  auto *f = static_cast<Frame *>(VoAllocate(sizeof(Frame)));
  if (f == nullptr) return VO_STATUS_NO_MEMORY;
  new (f) Frame();
  c->frame = f;
  c->frame_open = 1;
  c->current_record = nullptr;
  c->tex_offset[0] = c->tex_offset[1] = 0.0f;
  c->tex_scale[0] = c->tex_scale[1] = 1.0f;
  c->frame_render_context = nullptr;
  if (c->hooks_present != 0 && (c->render_context_choice == 1 || c->render_context_choice == 2)) {
    c->frame_render_context = c->render_contexts[c->render_context_choice - 1];
    (void)VoControlGet(0xd0001, &c->saved_controls[0]);
    (void)VoControlGet(0xd0002, &c->saved_controls[1]);
    const VtTypedValue context = TypedPointer(c->frame_render_context);
    const VtTypedValue off = TypedBoolean(false);
    (void)VoControlSet(0xd0001, &context);
    (void)VoControlSet(0xd0002, &off);
  }
  const VtStatus s = VoOGLDrvImageBegin();
  f->context = s == 0 && ogldrv::ContextIsCurrent();
  c->frame_group = f->context ? ogldrv::FrameShareGroup() : -1;
  f->lists_kept = f->context && !ogldrv::FrameGroupEndsWithFrame();
  for (double(&m)[16] : f->model) {
    std::memset(m, 0, sizeof m);
    m[0] = m[5] = m[10] = m[15] = 1.0;
  }
  std::memcpy(f->matrices[0], f->model[0], sizeof f->matrices[0]);
  if (!f->context) return s != 0 ? s : VO_STATUS_UNAVAILABLE;
  if (c->perspective_hint == 1) glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_FASTEST);
  if (c->perspective_hint == 2) glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 1);
  if (c->colour_mode != 2)
    glEnable(GL_COLOR_MATERIAL);
  else
    glDisable(GL_COLOR_MATERIAL);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glDisable(GL_TEXTURE_2D);
  c->texturing_on = 0;
  if (c->draw_style == 2 || c->draw_style == 3) {
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    if (c->draw_style == 2) {
      glDisable(GL_LINE_SMOOTH);
      glDisable(GL_BLEND);
      glLineWidth(1.0f);
    } else {
      glEnable(GL_LINE_SMOOTH);
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
      glLineWidth(1.5f);
    }
  } else {
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  }
  glShadeModel(c->draw_style == 1 ? GL_SMOOTH : GL_FLAT);
  c->deferring = c->transparency_mode == 1 && c->colour_mode == 2;
  glDisable(GL_POLYGON_STIPPLE);
  c->stipple_on = 0;
  c->mirrored[0] = c->mirrored[1] = 0;
  c->normalise_count = 0;
  glDisable(GL_NORMALIZE);
  return 0;
}

VtStatus ViewLoad(VtOpenGLContext *c, Frame *f);

VtStatus ViewSet(VtOpenGLContext *c, Frame *f, VtView *view) {
  VtView *saved = nullptr;
  if (view != nullptr) {
    saved = VoViewGet();
    if (VtStatus e = VoViewSet(view)) return e;
  }
  VtStatus s = ViewLoad(c, f);
  if (saved != nullptr) (void)VoViewSet(saved);
  return s;
}

VtStatus ViewLoad(VtOpenGLContext *c, Frame *f) {
  VtStatus s = VoViewEvaluate(nullptr);
  VtTypedValue v{};
  const auto value = [&](uint32_t code) -> void * {
    v = VtTypedValue{};
    return VoViewGetValue(code, &v) == 0 ? v.value.p : nullptr;
  };
  const auto *kind = static_cast<const int32_t *>(value(VO_VIEW_VALUE_PROJECTION_KIND));
  const auto *hither = static_cast<const float *>(value(VO_VIEW_VALUE_HITHER));
  const auto *yon = static_cast<const float *>(value(VO_VIEW_VALUE_YON));
  const auto *resolution = static_cast<const int32_t *>(value(VO_VIEW_VALUE_RESOLUTION));
  const auto *eye = static_cast<const float *>(value(VO_VIEW_VALUE_EYE));
  const auto *at = static_cast<const float *>(value(VO_VIEW_VALUE_REFERENCE));
  const auto *up = static_cast<const float *>(value(VO_VIEW_VALUE_UP));
  const auto *angle = static_cast<const float *>(value(VO_VIEW_VALUE_ANGLE));
  if (kind == nullptr || hither == nullptr || yon == nullptr || resolution == nullptr || eye == nullptr ||
      at == nullptr || up == nullptr || angle == nullptr || resolution[0] <= 0 || resolution[1] <= 0)
    return s | VO_STATUS_UNAVAILABLE;
  c->projection = *kind;
  double near = *hither, far = *yon;
  if (near <= 0.0 && *kind != VO_PROJECTION_PARALLEL) near = far * 0.001;
  std::memcpy(c->eye_position, eye, sizeof(float) * 3);
  c->eye_position[3] = 1.0f;
  for (int i = 0; i < 3; ++i) c->eye_direction[i] = eye[i] - at[i];
  vec::Normalise(c->eye_direction);
  const double width = resolution[0], height = resolution[1], aspect = width / height;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  if (*kind == VO_PROJECTION_PERSPECTIVE) {
    const double t = near * std::tan(*angle * 0.5);
    if (aspect > 1.0)
      glFrustum(-t * aspect, t * aspect, -t, t, near, far);
    else
      glFrustum(-t, t, -t / aspect, t / aspect, near, far);
  } else {
    const double h = *angle * 0.5;
    if (width > height)
      glOrtho(-h * aspect, h * aspect, -h, h, near, far);
    else
      glOrtho(-h, h, -h / aspect, h / aspect, near, far);
  }
  c->viewport[0] = static_cast<uint32_t>(resolution[0]);
  c->viewport[1] = static_cast<uint32_t>(resolution[1]);
  GLint most[2] = {0, 0};
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, most);
  if (resolution[0] > most[0] || resolution[1] > most[1])
    s |= VO_STATUS_UNAVAILABLE;
  else
    glViewport(0, 0, resolution[0], resolution[1]);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(eye[0], eye[1], eye[2], at[0], at[1], at[2], up[0], up[1], up[2]);
  glGetDoublev(GL_MODELVIEW_MATRIX, f->matrices[0]);
  f->depth = 0;
  return s;
}

VtStatus BackgroundSet(VtOpenGLContext *c, VtShader *background) {
  const GLbitfield depth = (c->clear_mask & 2u) != 0 ? GL_DEPTH_BUFFER_BIT : 0;
  if ((c->clear_mask & 1u) == 0) {
    if (depth != 0) glClear(depth);
    return 0;
  }
  return BackgroundDraw(c, background, depth, 0);
}

VtStatus LightListSet(VtOpenGLContext *c, VtReference *list) {
  GLint most = 8;
  glGetIntegerv(GL_MAX_LIGHTS, &most);
  for (GLint i = 0; i < most; ++i) glDisable(GL_LIGHT0 + static_cast<GLenum>(i));
  if (list == nullptr) {
    Post(VO_CLASS_WARNING, messages::kOpenGLNoLights, kModule);
    return 0;
  }
  if (c->lighting_mode == 0) {
    glDisable(GL_LIGHTING);
    c->lighting_on = 0;
    return 0;
  }
  glMatrixMode(GL_MODELVIEW);
  if (c->lighting_mode != 2) {
    const float zero[4] = {0, 0, 0, 1}, one[4] = {1, 1, 1, 1}, ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    const float position[4] = {c->eye_direction[0], c->eye_direction[1], c->eye_direction[2], 0.0f};
    const float direction[3] = {0, 0, -1};
    glLightfv(GL_LIGHT0, GL_AMBIENT, zero);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, one);
    glLightfv(GL_LIGHT0, GL_SPECULAR, one);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, direction);
    glLightf(GL_LIGHT0, GL_SPOT_EXPONENT, 0.0f);
    glLightf(GL_LIGHT0, GL_SPOT_CUTOFF, 180.0f);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    c->lighting_on = 1;
    return 0;
  }
  float ambient[4] = {0, 0, 0, 1};
  int32_t index = 0, refused = 0;
  VtStatus s = 0;
  ForEachNode(list, [&](VtReference *node) {
    auto *light = static_cast<VtShader *>(node->data);
    const char *name = light != nullptr ? ClassName(light) : nullptr;
    if (name == nullptr || std::strcmp(name, "area") == 0) return;
    if (std::strcmp(name, "ambient") == 0) {
      float colour[3] = {1, 1, 1};
      (void)ArgTriple(light, "colour", colour);
      const float intensity = ArgFloat(light, "intensity", 1.0f);
      for (int i = 0; i < 3; ++i)
        if (ambient[i] < colour[i]) ambient[i] = colour[i] * intensity;
      return;
    }
    if (index >= most) {
      ++refused;
      return;
    }
    s |= LightSet(c, light, index++);
  });
  if (refused != 0 && (c->lights_warned != list || c->lights_warned_count != index + refused))
    Post(VO_CLASS_WARNING, messages::kOpenGLTooManyLights, kModule, index + refused);
  c->lights_warned = refused != 0 ? list : nullptr;
  c->lights_warned_count = index + refused;
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
  glEnable(GL_LIGHTING);
  c->lighting_on = 1;
  return s;
}

// The driver is polled for an interrupt before each primitive: an
// interrupt leaves the rest undrawn, and the frame ends with what was drawn.
VtStatus ListRender(VtOpenGLContext *c, Frame *f, VtReference *list) {
  if (list == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus s = 0;
  const VtStatus stop = ForEachNodeUntil(list, [&](VtReference *node) {
    if (const VtStatus interrupted = driver::RenderInterruptPoll()) return interrupted;
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (!MemberDrawn(p)) return VtStatus{0};
    c->current_cache = nullptr;
    c->vertex_space = nullptr;
    c->transform_depth = 0;
    f->depth = 0;
    MatrixLoad(f);
    s |= PrimitiveDraw(c, f, p, &c->default_cache, nullptr);
    return VtStatus{0};
  });
  return s | stop;
}

VtStatus ImageEnd(VtOpenGLContext *c) {
  Frame *f = c->frame;
  if (c->frame_open == 0 || f == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus s = 0;
  if (f->context) {
    s |= DeferredDraw(c, f);
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  DeferredDrop(c);
  if (c->frame_render_context != nullptr) {
    (void)VoControlSet(0xd0001, &c->saved_controls[0]);
    (void)VoControlSet(0xd0002, &c->saved_controls[1]);
    c->frame_render_context = nullptr;
  }
  if (f->context) {
    glFlush();
    if (c->no_swap == 0) s |= VoOGLDrvSwapBuffers();
    bool posted = false;
    for (int i = 0; i < 64; ++i) {
      const GLenum e = glGetError();
      if (e == GL_NO_ERROR) break;
      if (!posted)
        Post(VO_CLASS_WARNING, messages::kOpenGLError, kModule,
             reinterpret_cast<const char *>(gluErrorString(e)));
      posted = true;
      s |= VO_CLASS_WARNING;
    }
    c->current_record = nullptr;
    s |= CacheReady(c, &c->default_cache);
    s |= RecordSend(c, c->default_cache.record);
    s |= VoOGLDrvImageEnd();
  }
  c->frame_open = 0;
  c->frame = nullptr;
  f->~Frame();
  VoDeallocate(f);
  return s | VoShadingTerminateImage();
}

// The frame with a context current, or null (*status 2).
Frame *Drawing(VtOpenGLContext **c) {
  *c = Context();
  Frame *f = *c != nullptr ? (*c)->frame : nullptr;
  return *c != nullptr && f != nullptr && f->context ? f : nullptr;
}

}  // namespace

Frame *CurrentFrame() {
  VtOpenGLContext *c = Context();
  return c != nullptr ? c->frame : nullptr;
}

VtStatus Render() { return VoOpenGLRender(); }

}  // namespace vo::opengl

namespace vo {

using namespace opengl;

VtStatus VoOpenGLRender() {
  VtOpenGLContext *c = Context();
  if (c == nullptr || c->started == 0) return VO_STATUS_UNAVAILABLE;
  if (c->frame_open != 0 || c->frame != nullptr) return VO_STATUS_UNAVAILABLE;
  // A render: an interrupt of an earlier one is not answered again, and
  // one that came since is answered before the frame begins.
  driver::RenderStickyClear();
  if (const VtStatus interrupted = driver::RenderInterruptPoll()) return interrupted;
  VtStatus s = VoOpenGLImageBegin();
  if (c->frame == nullptr) return s;
  // Without a context (the drivers' image begin failed) straight to the end.
  if (c->frame->context) {
    s |= VoOpenGLViewSet(nullptr);
    s |= VoOpenGLBackgroundSet(VoBackgroundGet());
    s |= VoOpenGLLightListSet(VoLightListGet());
    s |= VoOpenGLPrimitiveListRender(VoPrimitiveListGet());
  }
  return s | VoOpenGLImageEnd();
}

VtStatus VoOpenGLImageBegin() {
  VtOpenGLContext *c = Context();
  if (c == nullptr || c->started == 0) return VO_STATUS_UNAVAILABLE;
  return ImageBegin(c);
}

VtStatus VoOpenGLImageEnd() {
  VtOpenGLContext *c = Context();
  return c != nullptr ? ImageEnd(c) : VO_STATUS_UNAVAILABLE;
}

VtStatus VoOpenGLViewSet(VtView *view) {
  VtOpenGLContext *c = nullptr;
  Frame *f = Drawing(&c);
  return f != nullptr ? ViewSet(c, f, view) : VO_STATUS_UNAVAILABLE;
}

VtStatus VoOpenGLBackgroundSet(VtShader *background) {
  VtOpenGLContext *c = nullptr;
  if (Drawing(&c) == nullptr) return VO_STATUS_UNAVAILABLE;
  return BackgroundSet(c, background != nullptr ? background : VoBackgroundGet());
}

VtStatus VoOpenGLLightSet(VtShader *light, int32_t index) {
  VtOpenGLContext *c = nullptr;
  if (Drawing(&c) == nullptr || light == nullptr || index < 0) return VO_STATUS_UNAVAILABLE;
  GLint most = 8;
  glGetIntegerv(GL_MAX_LIGHTS, &most);
  if (index >= most) {
    Post(VO_CLASS_WARNING, messages::kOpenGLTooManyLights, kModule, index + 1);
    return VO_STATUS_UNAVAILABLE;
  }
  return LightSet(c, light, index);
}

VtStatus VoOpenGLLightListSet(VtReference *list) {
  VtOpenGLContext *c = nullptr;
  if (Drawing(&c) == nullptr) return VO_STATUS_UNAVAILABLE;
  if (list == nullptr) list = VoLightListGet();
  if (!RingAccepted(list, "VoOpenGLLightListSet", kModule, "shader", [](void *data) {
        return data == nullptr || shader::ShaderIsLive(static_cast<const VtShader *>(data));
      }))
    return VO_STATUS_BAD_ARGUMENT;
  return LightListSet(c, list);
}

VtStatus VoOpenGLPrimitiveListRender(VtReference *list) {
  VtOpenGLContext *c = nullptr;
  Frame *f = Drawing(&c);
  if (f == nullptr) return VO_STATUS_UNAVAILABLE;
  if (list == nullptr) list = VoPrimitiveListGet();
  if (!RingAccepted(list, "VoOpenGLPrimitiveListRender")) return VO_STATUS_BAD_ARGUMENT;
  return ListRender(c, f, list);
}

VtStatus VoOpenGLPrimitiveRender(VtPrimitive *primitive) {
  VtOpenGLContext *c = nullptr;
  Frame *f = Drawing(&c);
  if (f == nullptr || primitive == nullptr) return VO_STATUS_UNAVAILABLE;
  c->current_cache = nullptr;
  c->vertex_space = nullptr;
  c->transform_depth = 0;
  f->depth = 0;
  MatrixLoad(f);
  return PrimitiveDraw(c, f, primitive, &c->default_cache, nullptr);
}

}  // namespace vo

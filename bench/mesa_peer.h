// Mesa's software OpenGL as the benchmarks' peer: a surfaceless EGL context
// with desktop OpenGL (llvmpipe, one thread unless LP_NUM_THREADS says
// otherwise) drawing into a framebuffer object of w x h RGBA8 colour and
// 24-bit depth. Shared by the standard renderer's, the software Direct3D
// device's and the peer benchmarks; the last set a perspective camera,
// the plastic material and a mesh in buffer objects with the helpers at
// the end.
#pragma once

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace vo::bench {

struct MesaPeer {
  bool ready = false;
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  // Makes the peer's context current again (after the library drew on its own).
  bool Current() const { return ready && eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context); }
  MesaPeer(int width, int height) {
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    setenv("LP_NUM_THREADS", "1", 0);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    auto platform =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (platform == nullptr) return;
    display = platform(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr) || !eglBindAPI(EGL_OPENGL_API))
      return;
    context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context))
      return;
    GLuint fbo = 0, colour = 0, depth = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glGenRenderbuffers(1, &colour);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    ready = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  }
};

// The fixed-function state of the lit comparisons: the whole w x h
// viewport, depth test, back faces culled, smooth shading, light 0 on.
inline void MesaLitStateSet(int width, int height) {
  glViewport(0, 0, width, height);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glShadeModel(GL_SMOOTH);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
}

// Draws a grid of spheres (sphere_grid.h) over and over with Mesa's
// fixed-function lighting (light 0 at the position given; w = 0 makes it a
// distant light), smooth shading, depth test and back faces culled, the
// grid seen from the front in a parallel view.
template <class Grid>
void MesaLitSpheres(benchmark::State &state, const Grid &g, int width, int height, const GLfloat light[4]) {
  static MesaPeer mesa(width, height);
  if (!mesa.ready) {
    state.SkipWithError("no surfaceless EGL with desktop OpenGL");
    return;
  }
  std::vector<GLuint> indices;
  for (int s = 0; s < g.count; ++s)
    for (int32_t i : g.indices) indices.push_back(static_cast<GLuint>(s * g.vertices_each + i));
  MesaLitStateSet(width, height);
  glLightfv(GL_LIGHT0, GL_POSITION, light);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const int columns = static_cast<int>(std::ceil(std::sqrt(g.count * 4.0 / 3.0)));
  const double w = 2.5 * columns, h = 2.5 * ((g.count + columns - 1) / columns);
  glOrtho(-1.5, w, -1.5, h, -10, 10);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, g.world.data());
  glNormalPointer(GL_FLOAT, 0, g.normal.data());
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_INT, indices.data());
    glFinish();
  }
  state.counters["triangles"] = g.Triangles();
}

// The projection and model-view matrices of a perspective camera: a
// vertical angle of `fov` degrees over a width x height frame, the clipping
// planes at hither and yon, looking from eye at look_at with up.
inline void MesaCameraSet(const float eye[3], const float look_at[3], const float up[3], double fov,
                          int width, int height, double hither, double yon) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const double top = hither * std::tan(fov * M_PI / 360.0), right = top * width / height;
  glFrustum(-right, right, -top, top, hither, yon);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  double f[3], s[3], u[3];
  for (int a = 0; a < 3; ++a) f[a] = look_at[a] - eye[a];
  const auto unit = [](double *v) {
    const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int a = 0; a < 3; ++a) v[a] /= l;
  };
  const auto cross = [](const double *a, const double *b, double *out) {
    out[0] = a[1] * b[2] - a[2] * b[1], out[1] = a[2] * b[0] - a[0] * b[2],
    out[2] = a[0] * b[1] - a[1] * b[0];
  };
  const double upward[3] = {up[0], up[1], up[2]};
  unit(f);
  cross(f, upward, s);
  unit(s);
  cross(s, f, u);
  // The view's axes as rows (column-major storage).
  const GLdouble look[16] = {s[0], u[0], -f[0], 0, s[1], u[1], -f[1], 0, s[2], u[2], -f[2], 0, 0, 0, 0, 1};
  glMultMatrixd(look);
  glTranslated(-eye[0], -eye[1], -eye[2]);
}

// Fixed-function lighting as the library's super-lite plastic does it: one
// white point light at `light` (set in world coordinates after the camera),
// no ambient light, diffuse 0.75 x colour and a Blinn-Phong highlight of
// 0.5 white to the power 10 with the true direction to the eye; back faces
// lit with their own normal when two-sided.
inline void MesaPlasticSet(const float light[3], const float colour[3], bool two_sided) {
  const GLfloat position[4] = {light[0], light[1], light[2], 1}, none[4] = {0, 0, 0, 1};
  const GLfloat white[4] = {1, 1, 1, 1}, highlight[4] = {0.5f, 0.5f, 0.5f, 1};
  const GLfloat diffuse[4] = {0.75f * colour[0], 0.75f * colour[1], 0.75f * colour[2], 1};
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glShadeModel(GL_SMOOTH);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
  glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
  glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, two_sided ? GL_TRUE : GL_FALSE);
  glLightfv(GL_LIGHT0, GL_POSITION, position);
  glLightfv(GL_LIGHT0, GL_AMBIENT, none);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
  glLightfv(GL_LIGHT0, GL_SPECULAR, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, none);
  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, none);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, highlight);
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 10.0f);
}

// The same plastic lit per pixel, for renderers that shade every pixel
// rather than interpolate colours shaded at the vertices: a GLSL program
// in use while the record lives, reading the fixed-function light and
// material MesaPlasticSet left (eye-space position and normal interpolated,
// a two-sided mesh's back faces lit with their normal turned round).
class MesaPerPixelPlastic {
 public:
  explicit MesaPerPixelPlastic(bool two_sided) {
    static const char *const kVertex =
        "#version 120\n"
        "varying vec3 position, normal;\n"
        "void main() {\n"
        "  position = vec3(gl_ModelViewMatrix * gl_Vertex);\n"
        "  normal = gl_NormalMatrix * gl_Normal;\n"
        "  gl_Position = ftransform();\n"
        "}\n";
    static const char *const kFragment =
        "#version 120\n"
        "varying vec3 position, normal;\n"
        "uniform bool two_sided;\n"
        "void main() {\n"
        "  vec3 n = normalize(normal);\n"
        "  if (two_sided && !gl_FrontFacing) n = -n;\n"
        "  vec3 l = normalize(gl_LightSource[0].position.xyz - position);\n"
        "  vec3 h = normalize(l + normalize(-position));\n"
        "  float d = max(dot(n, l), 0.0);\n"
        "  vec3 c = gl_FrontMaterial.diffuse.rgb * d;\n"
        "  if (d > 0.0) c += gl_FrontMaterial.specular.rgb * pow(max(dot(n, h), 0.0), "
        "gl_FrontMaterial.shininess);\n"
        "  gl_FragColor = vec4(c, 1.0);\n"
        "}\n";
    program_ = glCreateProgram();
    for (auto [kind, text] :
         {std::pair{GLenum{GL_VERTEX_SHADER}, kVertex}, {GL_FRAGMENT_SHADER, kFragment}}) {
      const GLuint shader = glCreateShader(kind);
      glShaderSource(shader, 1, &text, nullptr);
      glCompileShader(shader);
      glAttachShader(program_, shader);
      glDeleteShader(shader);
    }
    glLinkProgram(program_);
    GLint linked = GL_FALSE;
    glGetProgramiv(program_, GL_LINK_STATUS, &linked);
    ready_ = linked == GL_TRUE;
    if (!ready_) return;
    glUseProgram(program_);
    glUniform1i(glGetUniformLocation(program_, "two_sided"), two_sided ? 1 : 0);
  }
  MesaPerPixelPlastic(const MesaPerPixelPlastic &) = delete;
  MesaPerPixelPlastic &operator=(const MesaPerPixelPlastic &) = delete;
  ~MesaPerPixelPlastic() {
    glUseProgram(0);
    glDeleteProgram(program_);
  }
  bool ready() const { return ready_; }

 private:
  GLuint program_ = 0;
  bool ready_ = false;
};

// A triangle mesh in buffer objects, drawn with the fixed-function
// pipeline: positions and normals (3 floats each) and 32-bit indices.
class MesaMesh {
 public:
  MesaMesh(const std::vector<float> &world, const std::vector<float> &normal,
           const std::vector<int32_t> &indices)
      : count_(static_cast<GLsizei>(indices.size())), positions_(world.size() * sizeof(float)) {
    glGenBuffers(2, buffers_);
    glBindBuffer(GL_ARRAY_BUFFER, buffers_[0]);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(2 * positions_), nullptr, GL_STATIC_DRAW);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(positions_), world.data());
    glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(positions_), static_cast<GLsizeiptr>(positions_),
                    normal.data());
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers_[1]);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(int32_t)),
                 indices.data(), GL_STATIC_DRAW);
  }
  MesaMesh(const MesaMesh &) = delete;
  MesaMesh &operator=(const MesaMesh &) = delete;
  ~MesaMesh() {
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glDeleteBuffers(2, buffers_);
  }
  // Clears colour and depth and draws the mesh, waiting for the picture.
  void Draw() const {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glBindBuffer(GL_ARRAY_BUFFER, buffers_[0]);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers_[1]);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    glNormalPointer(GL_FLOAT, 0, reinterpret_cast<const void *>(positions_));
    glDrawElements(GL_TRIANGLES, count_, GL_UNSIGNED_INT, nullptr);
    glFinish();
  }

 private:
  GLsizei count_;
  size_t positions_;  // bytes of the positions; the normals follow them
  GLuint buffers_[2] = {};
};

}  // namespace vo::bench

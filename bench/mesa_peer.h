// Mesa's software OpenGL as the benchmarks' peer: a surfaceless EGL context
// with desktop OpenGL (llvmpipe, one thread) drawing into a framebuffer
// object of w x h RGBA8 colour and 24-bit depth. Shared by the standard
// renderer's and the software Direct3D device's benchmarks.
#pragma once

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
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

}  // namespace vo::bench

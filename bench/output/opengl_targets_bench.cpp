// The OpenGL image targets: a frame (begin, clear, end) at 640 x 480 and
// 1920 x 1080 in target mode 0 (a target made and destroyed per frame) and
// mode 1 (the target kept), and the read-back with the copy into the image
// alone. Beside them the same work in a plain EGL program (a small peer in
// this file: surfaceless display, a context drawing into a framebuffer
// object, glReadPixels). Run with LP_NUM_THREADS=0 and
// LIBGL_ALWAYS_SOFTWARE=1, as the tests do.
#include <benchmark/benchmark.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdlib>
#include <vector>

#include "software_gl.h"
#include "output/voogldrv/ogldrv.h"
#include "kernel/vosystem/kernel.h"

namespace {

void Environment() { vo::bench::SoftwareGlEnvironment(); }

// ---- The library -------------------------------------------------------------

struct Library {
  VtImage *image = nullptr;
  Library() {
    Environment();
    vo::VoInitialise();
    vo::VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&vo::VoCallBackNull));
    vo::VoDriverSet(vo::VoDriverFindFromName("vodrvimg"));
  }
  // The image driver's image, of that size.
  void Size(int32_t width, int32_t height) {
    if (image != nullptr && image->width == width && image->height == height) return;
    if (image != nullptr) vo::VoImageDestroy(image);
    image = vo::VoImageCreate();
    image->width = width;
    image->height = height;
    vo::VoImageAllocateData(image);
    VtTypedValue v = vo::TypedPointer(image);
    vo::VoDriverSetControl(vo::VoDriverFindFromName("vodrvimg"), VO_CONTROL_DRIVER_IMAGE, &v);
  }
  static void Mode(uint32_t mode) {
    VtTypedValue v = vo::TypedWord(VtEnum, mode);
    vo::VoControlSet(vo::ogldrv::kControlMode, &v);
  }
};

Library &Lib() {
  static Library lib;
  return lib;
}

void Frame(benchmark::State &state, uint32_t mode) {
  Library &lib = Lib();
  lib.Size(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
  Library::Mode(mode);
  if (mode == 1) vo::VoOGLDrvImageInitialise(lib.image, 0);
  for (auto _ : state) {
    if (vo::VoOGLDrvImageBegin() != 0) {
      state.SkipWithError("no target");
      break;
    }
    glClearColor(0.2f, 0.4f, 0.6f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    vo::VoOGLDrvImageEnd();
  }
  if (mode == 1) vo::VoOGLDrvImageTerminate(lib.image);
  Library::Mode(0);
}

void TargetsMode0(benchmark::State &state) { Frame(state, 0); }
void TargetsMode1(benchmark::State &state) { Frame(state, 1); }

// The read-back into the target's rows and their copy into the image.
void TargetsReadBack(benchmark::State &state) {
  Library &lib = Lib();
  lib.Size(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
  Library::Mode(1);
  vo::VoOGLDrvImageInitialise(lib.image, 0);
  vo::VoOGLDrvImageBegin();
  VtOGLDrvRecord *r = vo::ogldrv::Record();
  VtOGLDrvTarget *t = r->context->frame;
  glClear(GL_COLOR_BUFFER_BIT);
  for (auto _ : state) {
    vo::ogldrv::FrameReadBack(r, t);
    vo::ogldrv::BitsToImage(t);
  }
  vo::VoOGLDrvImageEnd();
  vo::VoOGLDrvImageTerminate(lib.image);
  Library::Mode(0);
}

// ---- The plain EGL peer ------------------------------------------------------

struct Peer {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLConfig config = nullptr;
  EGLSurface pbuffer = EGL_NO_SURFACE;
  bool ready = false;
  Peer() {
    Environment();
    display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr) || !eglBindAPI(EGL_OPENGL_API))
      return;
    const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                 EGL_NONE};
    EGLint found = 0;
    if (!eglChooseConfig(display, attributes, &config, 1, &found) || found < 1) return;
    const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    pbuffer = eglCreatePbufferSurface(display, config, size);
    ready = pbuffer != EGL_NO_SURFACE;
  }
  struct Target {
    EGLContext context;
    GLuint fbo, colour, depth;
  };
  Target Make(GLsizei width, GLsizei height) const {
    Target t{eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr), 0, 0, 0};
    eglMakeCurrent(display, pbuffer, pbuffer, t.context);
    glGenFramebuffers(1, &t.fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
    glGenRenderbuffers(1, &t.colour);
    glBindRenderbuffer(GL_RENDERBUFFER, t.colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGB8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, t.colour);
    glGenRenderbuffers(1, &t.depth);
    glBindRenderbuffer(GL_RENDERBUFFER, t.depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT32, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, t.depth);
    glViewport(0, 0, width, height);
    return t;
  }
  void Destroy(Target &t) const {
    glDeleteFramebuffers(1, &t.fbo);
    glDeleteRenderbuffers(1, &t.colour);
    glDeleteRenderbuffers(1, &t.depth);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, t.context);
  }
};

Peer &ThePeer() {
  static Peer peer;
  return peer;
}

// The peer, its frame size and a block of padded rows; null when EGL is missing.
const Peer *PeerFor(benchmark::State &state, GLsizei *width, GLsizei *height, std::vector<uint8_t> *rows) {
  const Peer &peer = ThePeer();
  if (!peer.ready) {
    state.SkipWithError("no surfaceless EGL");
    return nullptr;
  }
  *width = static_cast<GLsizei>(state.range(0));
  *height = static_cast<GLsizei>(state.range(1));
  rows->resize(((static_cast<size_t>(*width) * 3 + 3) & ~size_t{3}) * static_cast<size_t>(*height));
  return &peer;
}

void PeerMakeClearReadDestroy(benchmark::State &state) {
  GLsizei width = 0, height = 0;
  std::vector<uint8_t> rows;
  const Peer *peer = PeerFor(state, &width, &height, &rows);
  if (peer == nullptr) return;
  for (auto _ : state) {
    Peer::Target t = peer->Make(width, height);
    glClearColor(0.2f, 0.4f, 0.6f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_BGR, GL_UNSIGNED_BYTE, rows.data());
    peer->Destroy(t);
  }
}

void PeerReadBack(benchmark::State &state) {
  GLsizei width = 0, height = 0;
  std::vector<uint8_t> rows;
  const Peer *peer = PeerFor(state, &width, &height, &rows);
  if (peer == nullptr) return;
  Peer::Target t = peer->Make(width, height);
  glClear(GL_COLOR_BUFFER_BIT);
  for (auto _ : state) {
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_BGR, GL_UNSIGNED_BYTE, rows.data());
    benchmark::DoNotOptimize(rows.data());
  }
  peer->Destroy(t);
}

void Sizes(benchmark::internal::Benchmark *b) {
  b->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(TargetsMode0)->Apply(Sizes);
BENCHMARK(TargetsMode1)->Apply(Sizes);
BENCHMARK(TargetsReadBack)->Apply(Sizes);
BENCHMARK(PeerMakeClearReadDestroy)->Apply(Sizes);
BENCHMARK(PeerReadBack)->Apply(Sizes);

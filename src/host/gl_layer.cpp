// The OpenGL layer over Mesa's surfaceless EGL: formats, the display,
// contexts with their framebuffer objects, and the read-back.
#include "host/gl_layer.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <cfenv>
#include <cstring>
#include <new>

#include "kernel/vosystem/face.h"

namespace vo::platform::gl {

namespace {

// ---------------------------------------------------------------------------
// Formats
// ---------------------------------------------------------------------------
constexpr uint8_t kDepths[4] = {0, 16, 24, 32};

PixelFormat OwnFormat(int32_t n) {
  const int32_t i = n - 1;
  const bool deep = i / 8 == 1;
  PixelFormat f{};
  f.flags = kDrawToWindow | kDrawToBitmap | kSupportOpenGL | (i % 2 == 1 ? kDoubleBuffer : 0u);
  if (DriverIsSoftware()) f.flags |= kGenericFormat;
  f.pixel_type = kTypeRgba;
  if (deep) {
    f.colour_bits = 24;
    f.red_bits = f.green_bits = f.blue_bits = 8;
    f.red_shift = 16, f.green_shift = 8, f.blue_shift = 0;
  } else {
    f.colour_bits = 16;
    f.red_bits = 5, f.green_bits = 6, f.blue_bits = 5;
    f.red_shift = 11, f.green_shift = 5, f.blue_shift = 0;
  }
  f.depth_bits = kDepths[(i / 2) % 4];
  return f;
}

// 2 ICD, 1 generic accelerated, 0 generic software.
int AccelerationRank(const PixelFormat &f) {
  const bool generic = (f.flags & kGenericFormat) != 0, accelerated = (f.flags & kGenericAccelerated) != 0;
  if (!generic) return 2;
  return accelerated ? 1 : 0;
}

bool NeedsPalette(const PixelFormat &f) { return (f.flags & (kNeedPalette | kNeedSystemPalette)) != 0; }

// The exact requirements of the criteria.
bool Meets(const PixelFormat &f, int32_t acceleration, int32_t colour, int32_t depth, int32_t buffering) {
  const int rank = AccelerationRank(f);
  const bool generic_software = (f.flags & kGenericFormat) != 0 && (f.flags & kGenericAccelerated) == 0;
  switch (acceleration) {
    case 2:
    case 6:
      if (!generic_software) return false;
      break;
    case 3:
      if (generic_software) return false;
      break;
    case 4:
      if (rank != 1) return false;
      break;
    case 5:
      if (rank != 2) return false;
      break;
    default: break;
  }
  switch (colour) {
    case 1:
    case 5:
      if (f.colour_bits == 0) return false;
      break;
    case 2:
      if (f.colour_bits != 8) return false;
      break;
    case 3:
      if (f.colour_bits != 16) return false;
      break;
    case 4:
      if (f.colour_bits != 24) return false;
      break;
    default: break;
  }
  switch (depth) {
    case 2:
      if (f.depth_bits < 16) return false;
      break;
    case 3:
      if (f.depth_bits != 16) return false;
      break;
    case 4:
      if (f.depth_bits != 24) return false;
      break;
    case 5:
      if (f.depth_bits != 32) return false;
      break;
    case 6:
      if (f.depth_bits == 0) return false;
      break;
    default: break;
  }
  const bool twice = (f.flags & kDoubleBuffer) != 0;
  if (buffering == 1 && twice) return false;
  if (buffering == 2 && !twice) return false;
  return true;
}

// One preference: +1 the candidate is better, -1 the kept one is, 0 equal.
int Prefer(int candidate, int kept, bool more) {
  if (candidate == kept) return 0;
  return (candidate > kept) == more ? 1 : -1;
}

// Whether a candidate that meets every requirement replaces the kept one.
bool Replaces(const PixelFormat &c, const PixelFormat &k, int32_t acceleration, int32_t colour,
              int32_t depth) {
  int verdicts[4] = {0, 0, 0, 0};
  if (acceleration == 1) verdicts[0] = Prefer(AccelerationRank(c), AccelerationRank(k), true);
  if (colour == 1) verdicts[1] = Prefer(c.colour_bits, k.colour_bits, false);
  if (colour == 5) verdicts[1] = Prefer(c.colour_bits, k.colour_bits, true);
  if (depth == 0 || depth == 2) verdicts[2] = Prefer(c.depth_bits, k.depth_bits, false);
  if (depth == 6) verdicts[2] = Prefer(c.depth_bits, k.depth_bits, true);
  verdicts[3] = Prefer(NeedsPalette(c) ? 0 : 1, NeedsPalette(k) ? 0 : 1, true);
  bool better = false;
  for (int v : verdicts) {
    if (v > 0) better = true;
    if (v < 0 && !better) return false;  // a preference rejects only before anything found it better
  }
  return better;
}

// ---------------------------------------------------------------------------
// EGL
// ---------------------------------------------------------------------------
struct Display {
  bool tried, ready;
  int32_t error;
  EGLDisplay display;
  EGLConfig config;
  EGLSurface pbuffer;
  bool surfaceless;
  bool software;
};

Display &TheDisplay() {
  static Display d{};
  return d;
}

struct Switch {
  uint32_t calls[static_cast<size_t>(Call::Count)];
  uint32_t fail_at[static_cast<size_t>(Call::Count)];
  int32_t live;
};
Switch &TheSwitch() {
  static Switch s{};
  return s;
}

bool SwitchFails(Call kind) {
  Switch &s = TheSwitch();
  const size_t k = static_cast<size_t>(kind);
  ++s.calls[k];
  return s.fail_at[k] != 0 && s.calls[k] == s.fail_at[k];
}

// Runs an EGL or OpenGL call with the caller's floating-point environment
// put back afterwards: the driver raises flags (measured: FE_INVALID in
// eglCreateContext) that are none of the caller's business.
template <class F>
auto Guarded(F f) {
  std::fenv_t env;
  std::fegetenv(&env);
  auto result = f();
  std::fesetenv(&env);
  return result;
}

thread_local Context *t_current = nullptr;

}  // namespace

struct Context {
  EGLContext egl;
  int32_t format;
  GLuint framebuffer, colour, depth;
  int32_t width, height;
};

namespace {

bool BindApi() { return eglBindAPI(EGL_OPENGL_API) == EGL_TRUE; }

bool Attach(Context *c, EGLSurface surface) {
  Display &d = TheDisplay();
  if (!BindApi()) return false;
  return eglMakeCurrent(d.display, surface, surface, c != nullptr ? c->egl : EGL_NO_CONTEXT) == EGL_TRUE;
}

EGLSurface SurfaceFor(bool framebuffer) {
  const Display &d = TheDisplay();
  return framebuffer || !d.surfaceless ? d.pbuffer : EGL_NO_SURFACE;
}

GLenum ColourStorage(int32_t format) { return OwnFormat(format).colour_bits == 16 ? GL_RGB565 : GL_RGB8; }

GLenum DepthStorage(int32_t format) {
  switch (OwnFormat(format).depth_bits) {
    case 16: return GL_DEPTH_COMPONENT16;
    case 24: return GL_DEPTH_COMPONENT24;
    case 32: return GL_DEPTH_COMPONENT32;
    default: return 0;
  }
}

// Makes or resizes the framebuffer of the current context.
bool FramebufferSize(Context *c, int32_t width, int32_t height) {
  if (c->framebuffer != 0 && c->width == width && c->height == height) return true;
  if (SwitchFails(Call::Framebuffer)) return false;
  const bool first = c->framebuffer == 0;
  return Guarded([&] {
    while (glGetError() != GL_NO_ERROR) {
    }
    if (first) {
      glGenFramebuffers(1, &c->framebuffer);
      glGenRenderbuffers(1, &c->colour);
      if (DepthStorage(c->format) != 0) glGenRenderbuffers(1, &c->depth);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, c->framebuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, c->colour);
    glRenderbufferStorage(GL_RENDERBUFFER, ColourStorage(c->format), width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, c->colour);
    if (c->depth != 0) {
      glBindRenderbuffer(GL_RENDERBUFFER, c->depth);
      glRenderbufferStorage(GL_RENDERBUFFER, DepthStorage(c->format), width, height);
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, c->depth);
    }
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    const bool complete =
        glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE && glGetError() == GL_NO_ERROR;
    if (!complete) return false;
    c->width = width;
    c->height = height;
    // As on a new window: the viewport starts as the whole drawing area.
    if (first) glViewport(0, 0, width, height);
    return true;
  });
}

void FramebufferDelete(Context *c) {
  if (c->framebuffer == 0) return;
  Guarded([&] {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &c->framebuffer);
    glDeleteRenderbuffers(1, &c->colour);
    if (c->depth != 0) glDeleteRenderbuffers(1, &c->depth);
    return 0;
  });
  c->framebuffer = c->colour = c->depth = 0;
}

// Whatever is current on the thread, to be put back after a detour.
struct Saved {
  EGLContext context;
  EGLSurface draw, read;
  Context *ours;
};
Saved SaveCurrent() {
  return Saved{eglGetCurrentContext(), eglGetCurrentSurface(EGL_DRAW), eglGetCurrentSurface(EGL_READ),
               t_current};
}
void RestoreCurrent(const Saved &s, const Context *gone) {
  Display &d = TheDisplay();
  const bool drop = gone != nullptr && s.ours == gone;
  Guarded([&] {
    (void)BindApi();
    if (drop) return eglMakeCurrent(d.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    return eglMakeCurrent(d.display, s.draw, s.read, s.context);
  });
  t_current = drop ? nullptr : s.ours;
}

}  // namespace

int32_t FormatDescribe(int32_t n, PixelFormat *out) {
  if (n < 1 || n > kFormatCount) return 0;
  if (out != nullptr) *out = OwnFormat(n);
  return kFormatCount;
}

int32_t FormatChoose(const PixelFormat *table, int32_t count, int32_t acceleration, int32_t colour,
                     int32_t depth, int32_t buffering) {
  if (table == nullptr) return 0;
  int32_t kept = 0;
  for (int32_t n = 1; n <= count; ++n) {
    const PixelFormat &f = table[n - 1];
    if ((f.flags & kDrawToWindow) == 0 || f.pixel_type != kTypeRgba) continue;
    if (!Meets(f, acceleration, colour, depth, buffering)) continue;
    if (kept == 0 || Replaces(f, table[kept - 1], acceleration, colour, depth)) kept = n;
  }
  return kept;
}

int32_t FormatChooseOwn(int32_t acceleration, int32_t colour, int32_t depth, int32_t buffering) {
  PixelFormat table[kFormatCount];
  for (int32_t n = 1; n <= kFormatCount; ++n) table[n - 1] = OwnFormat(n);
  return FormatChoose(table, kFormatCount, acceleration, colour, depth, buffering);
}

int32_t FormatForBitmap(int32_t colour_bits, int32_t depth_bits) {
  // An 8-bit image takes the red channel of a full-colour format.
  const int32_t wanted = colour_bits <= 8 ? 24 : colour_bits;
  int32_t kept = 0;
  for (int32_t n = 1; n <= kFormatCount; ++n) {
    const PixelFormat f = OwnFormat(n);
    if ((f.flags & kDrawToBitmap) == 0 || (f.flags & kDoubleBuffer) != 0) continue;
    if (f.colour_bits < wanted || f.depth_bits != depth_bits) continue;
    if (kept == 0 || f.colour_bits < OwnFormat(kept).colour_bits) kept = n;
  }
  return kept;
}

uint8_t PaletteChannel(uint32_t i, uint32_t shift, uint32_t bits) {
  if (bits == 0 || bits > 8 || shift > 31) return 0;
  const uint32_t top = (1u << bits) - 1;
  const double value = static_cast<double>((i >> shift) & top) * 255.0 / static_cast<double>(top);
  return static_cast<uint8_t>(value);
}

bool DisplayStart(int32_t *error) {
  Display &d = TheDisplay();
  if (!d.tried) {
    d.tried = true;
    d.ready = Guarded([&] {
      d.display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
      if (d.display == EGL_NO_DISPLAY || eglInitialize(d.display, nullptr, nullptr) != EGL_TRUE) return false;
      if (!BindApi()) return false;
      const EGLint attributes[] = {EGL_SURFACE_TYPE,
                                   EGL_PBUFFER_BIT,
                                   EGL_RENDERABLE_TYPE,
                                   EGL_OPENGL_BIT,
                                   EGL_RED_SIZE,
                                   8,
                                   EGL_GREEN_SIZE,
                                   8,
                                   EGL_BLUE_SIZE,
                                   8,
                                   EGL_NONE};
      EGLint found = 0;
      if (eglChooseConfig(d.display, attributes, &d.config, 1, &found) != EGL_TRUE || found < 1) return false;
      const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
      d.pbuffer = eglCreatePbufferSurface(d.display, d.config, size);
      if (d.pbuffer == EGL_NO_SURFACE) return false;
      const char *extensions = eglQueryString(d.display, EGL_EXTENSIONS);
      d.surfaceless =
          extensions != nullptr && std::strstr(extensions, "EGL_KHR_surfaceless_context") != nullptr;
      // EGL_MESA_query_driver names the driver; llvmpipe runs as swrast.
      d.software = true;
      using DriverName = const char *(*)(EGLDisplay);
      if (extensions != nullptr && std::strstr(extensions, "EGL_MESA_query_driver") != nullptr) {
        auto name = reinterpret_cast<DriverName>(eglGetProcAddress("eglGetDisplayDriverName"));
        const char *driver = name != nullptr ? name(d.display) : nullptr;
        d.software =
            driver == nullptr || std::strcmp(driver, "swrast") == 0 || std::strcmp(driver, "kms_swrast") == 0;
      }
      return true;
    });
    if (!d.ready) d.error = eglGetError();
  }
  if (!d.ready && error != nullptr) *error = d.error;
  return d.ready;
}

bool DriverIsSoftware() { return !DisplayStart() || TheDisplay().software; }

Context *ContextCreate(int32_t format, Context *share, bool *refused_share, bool *no_memory) {
  if (refused_share != nullptr) *refused_share = false;
  if (format < 1 || format > kFormatCount || !DisplayStart()) return nullptr;
  if (SwitchFails(Call::Create)) {
    if (share != nullptr && refused_share != nullptr) *refused_share = true;
    return nullptr;
  }
  Display &d = TheDisplay();
  EGLContext egl = Guarded([&] {
    if (!BindApi()) return EGL_NO_CONTEXT;
    return eglCreateContext(d.display, d.config, share != nullptr ? share->egl : EGL_NO_CONTEXT, nullptr);
  });
  if (egl == EGL_NO_CONTEXT) {
    if (share != nullptr && refused_share != nullptr) *refused_share = true;
    return nullptr;
  }
  auto *c = static_cast<Context *>(VoAllocate(sizeof(Context)));
  if (c == nullptr) {
    Guarded([&] { return eglDestroyContext(d.display, egl); });
    if (no_memory != nullptr) *no_memory = true;
    return nullptr;
  }
  *c = Context{egl, format, 0, 0, 0, 0, 0};
  ++TheSwitch().live;
  return c;
}

void ContextDestroy(Context *c) {
  if (c == nullptr) return;
  Display &d = TheDisplay();
  if (c->framebuffer != 0) {
    // The framebuffer's objects go with a detour through the context.
    const Saved saved = SaveCurrent();
    if (Guarded([&] { return Attach(c, SurfaceFor(false)); })) FramebufferDelete(c);
    RestoreCurrent(saved, c);
  } else if (t_current == c) {
    (void)Release();
  }
  Guarded([&] { return eglDestroyContext(d.display, c->egl); });
  --TheSwitch().live;
  VoDeallocate(c);
}

bool FramebufferMake(Context *c, int32_t width, int32_t height) {
  if (c == nullptr || width <= 0 || height <= 0 || !DisplayStart()) return false;
  const Saved saved = SaveCurrent();
  bool ok = Guarded([&] { return Attach(c, SurfaceFor(true)); });
  if (ok) {
    t_current = c;
    ok = FramebufferSize(c, width, height);
  }
  RestoreCurrent(saved, nullptr);
  return ok;
}

bool MakeCurrent(Context *c, int32_t width, int32_t height) {
  if (c == nullptr || !DisplayStart()) return false;
  if (SwitchFails(Call::MakeCurrent)) return false;
  const bool drawing = width > 0 && height > 0;
  if (!Guarded([&] { return Attach(c, SurfaceFor(drawing)); })) return false;
  t_current = c;
  if (drawing && !FramebufferSize(c, width, height)) {
    (void)Release();
    return false;
  }
  return true;
}

bool Release() {
  if (!DisplayStart()) return false;
  if (SwitchFails(Call::Release)) return false;
  const bool ok = Guarded([] { return Attach(nullptr, EGL_NO_SURFACE); });
  if (ok) t_current = nullptr;
  return ok;
}

Context *Current() { return t_current; }

bool ReadPixels(int32_t width, int32_t height, int32_t bytes_per_pixel, uint8_t *out) {
  if (t_current == nullptr || out == nullptr || width <= 0 || height <= 0) return false;
  return Guarded([&] {
    while (glGetError() != GL_NO_ERROR) {
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, bytes_per_pixel == 1 ? GL_RED : GL_RGB, GL_UNSIGNED_BYTE, out);
    return glGetError() == GL_NO_ERROR;
  });
}

void FailAt(Call kind, uint32_t n) { TheSwitch().fail_at[static_cast<size_t>(kind)] = n; }

void FailReset() {
  Switch &s = TheSwitch();
  std::memset(s.calls, 0, sizeof s.calls);
  std::memset(s.fail_at, 0, sizeof s.fail_at);
}

int32_t LiveContexts() { return TheSwitch().live; }

}  // namespace vo::platform::gl

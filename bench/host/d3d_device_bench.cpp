// The software Direct3D-like device on the standard renderer's sphere grids
// (2 500 triangles a sphere: 4, 40 and 400 spheres for 10^4, 10^5 and 10^6
// triangles) as pre-lit triangle lists, one draw per sphere as the back end
// draws one per item, into a 1024 x 768 X888 target with a 32-bit z-buffer,
// one thread: Gouraud with depth; and Gouraud modulating a bilinear 256 x 256
// texture, alpha-blended. Each frame clears target and depth. Beside it the
// 1024 x 768 copy to the primary, and Mesa's software OpenGL (llvmpipe, one
// thread) drawing the same triangles with colour arrays and a depth test,
// plain and textured-blended, through the same orthographic projection.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench_kernel.h"
#include "mesa_peer.h"
#include "host/d3d_device.h"
#include "sphere_grid.h"

namespace {

using namespace vo::platform;
using vo::bench::Spheres;

constexpr int kWidth = 1024, kHeight = 768, kTexture = 256;

// The grid's bounds as glOrtho(-1.5, w, -1.5, h, -10, 10) sees them.
struct Ortho {
  double left = -1.5, right, bottom = -1.5, top;
  explicit Ortho(const Spheres &g) {
    const int columns = static_cast<int>(std::ceil(std::sqrt(g.count * 4.0 / 3.0)));
    right = 2.5 * columns;
    top = 2.5 * ((g.count + columns - 1) / columns);
  }
  // Row vectors; depth 0 at z = 10 (nearest the eye), 1 at z = -10.
  Matrix Projection() const {
    Matrix m{};
    m.m[0] = static_cast<float>(2 / (right - left));
    m.m[12] = static_cast<float>(-(right + left) / (right - left));
    m.m[5] = static_cast<float>(2 / (top - bottom));
    m.m[13] = static_cast<float>(-(top + bottom) / (top - bottom));
    m.m[10] = -0.05f;
    m.m[14] = 0.5f;
    m.m[15] = 1;
    return m;
  }
};

// Pre-lit vertices of every sphere: colour from the normal, alpha 0xc0,
// texture coordinates around and along the sphere (twice around).
std::vector<LVertex> PreLit(const Spheres &g) {
  std::vector<LVertex> v(g.world.size() / 3);
  for (size_t i = 0; i < v.size(); ++i) {
    const float *p = &g.world[3 * i], *n = &g.normal[3 * i];
    auto channel = [](float c) { return static_cast<uint32_t>(127.5f + 127.0f * c); };
    const int in_sphere = static_cast<int>(i % static_cast<size_t>(g.vertices_each));
    v[i] = LVertex{p[0],
                   p[1],
                   p[2],
                   0,
                   0xc0000000u | channel(n[0]) << 16 | channel(n[1]) << 8 | channel(n[2]),
                   0,
                   2.0f * static_cast<float>(in_sphere % vo::bench::kSlices) / vo::bench::kSlices,
                   static_cast<float>(in_sphere / vo::bench::kSlices) / vo::bench::kRings};
  }
  return v;
}

uint32_t TexelAt(int x, int y) {
  const uint32_t c = ((x / 32 + y / 32) & 1) != 0 ? 0xff : 0x60;
  return 0xff000000u | c << 16 | static_cast<uint32_t>(x) << 8 | static_cast<uint32_t>(y);
}

struct Rig {
  DirectDraw *ddraw = nullptr;
  Direct3D *d3d = nullptr;
  Surface *primary = nullptr, *target = nullptr, *z = nullptr, *texture_surface = nullptr;
  Device *device = nullptr;
  Viewport *viewport = nullptr;
  Material *background = nullptr;
  Texture *texture = nullptr;
  uint32_t texture_handle = 0;
  bool ready = false;

  Rig() {
    vo::bench::KernelStartOnce({});
    SurfaceDesc d{};
    d.size = sizeof d;
    d.flags = DDSD_CAPS;
    d.caps = DDSCAPS_PRIMARYSURFACE;
    if (DirectDrawCreate(nullptr, &ddraw, nullptr) != kOk ||
        ddraw->QueryInterface(InterfaceId::Direct3D2, reinterpret_cast<void **>(&d3d)) != kOk ||
        ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL) != kOk ||
        ddraw->CreateSurface(&d, &primary, nullptr) != kOk)
      return;
    d.flags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.width = kWidth, d.height = kHeight;
    d.caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | DDSCAPS_SYSTEMMEMORY;
    d.format = PixelFormat{32, DDPF_RGB, 0, 32, 0xff0000, 0xff00, 0xff, 0};
    if (ddraw->CreateSurface(&d, &target, nullptr) != kOk) return;
    d.flags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH;
    d.caps = DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
    d.zbuffer_bits = 32;
    if (ddraw->CreateSurface(&d, &z, nullptr) != kOk || target->AddAttachedSurface(z) != kOk) return;
    Guid rgb{};
    DeviceEntry(1, &rgb, nullptr, nullptr, nullptr, nullptr);
    if (d3d->CreateDevice(rgb, target, &device) != kOk || d3d->CreateViewport(&viewport, nullptr) != kOk ||
        device->AddViewport(viewport) != kOk)
      return;
    const ViewportData v{sizeof(ViewportData), 0, 0, kWidth, kHeight, -1, 1, 2, 2, 0, 1};
    if (viewport->SetViewport2(&v) != kOk || device->SetCurrentViewport(viewport) != kOk) return;
    MaterialData m{};
    m.size = sizeof m;
    m.diffuse = ColourValue{0.1f, 0.1f, 0.2f, 1};
    uint32_t handle = 0;
    if (d3d->CreateMaterial(&background, nullptr) != kOk || background->SetMaterial(&m) != kOk ||
        background->GetHandle(device, &handle) != kOk || viewport->SetBackground(handle) != kOk)
      return;
    d.flags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.width = d.height = kTexture;
    d.caps = DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY;
    PixelView t{};
    if (ddraw->CreateSurface(&d, &texture_surface, nullptr) != kOk || !texture_surface->View(&t) ||
        texture_surface->QueryInterface(InterfaceId::Texture2, reinterpret_cast<void **>(&texture)) != kOk ||
        texture->GetHandle(device, &texture_handle) != kOk)
      return;
    for (int y = 0; y < kTexture; ++y)
      for (int x = 0; x < kTexture; ++x) {
        const uint32_t w = TexelAt(x, y);
        PixelWrite(t, x, y,
                   Colour8{static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 8),
                           static_cast<uint8_t>(w), 255});
      }
    ready = true;
  }
};

Rig &TheRig() {
  static Rig rig;
  return rig;
}

// Target pixels not of the background colour: the covered area of a frame.
double Covered(Rig &rig) {
  PixelView v{};
  if (!rig.target->View(&v)) return 0;
  const Colour8 b = PixelRead(v, 0, 0);
  double n = 0;
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x) {
      const Colour8 c = PixelRead(v, x, y);
      n += c.r != b.r || c.g != b.g || c.b != b.b;
    }
  return n;
}

void DeviceFrames(benchmark::State &state, bool textured) {
  Rig &rig = TheRig();
  if (!rig.ready) {
    state.SkipWithError("the device could not be set up");
    return;
  }
  const Spheres g(static_cast<int>(state.range(0)));
  const std::vector<LVertex> vertices = PreLit(g);
  std::vector<uint16_t> indices(g.indices.begin(), g.indices.end());
  const Matrix projection = Ortho(g).Projection();
  vo::platform::Device *d = rig.device;
  d->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &projection);
  d->SetRenderState(D3DRENDERSTATE_CULLMODE, kCullCounterClockwise);
  d->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, textured ? rig.texture_handle : 0);
  d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, textured ? 1 : 0);
  d->SetRenderState(D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEAR);
  d->SetRenderState(D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR);
  d->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1);
  const D3DRect all{0, 0, kWidth, kHeight};
  auto frame = [&] {
    rig.viewport->Clear(1, &all, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    d->BeginScene();
    for (int s = 0; s < g.count; ++s)
      d->DrawIndexedPrimitive(
          D3DPT_TRIANGLELIST, D3DVT_LVERTEX, &vertices[static_cast<size_t>(s) * g.vertices_each],
          static_cast<uint32_t>(g.vertices_each), indices.data(), static_cast<uint32_t>(indices.size()), 0);
    d->EndScene();
  };
  frame();
  const double covered = Covered(rig);
  for (auto _ : state) frame();
  state.counters["triangles"] = g.Triangles();
  state.counters["pixels"] =
      benchmark::Counter(covered * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void DeviceGouraud(benchmark::State &state) { DeviceFrames(state, false); }
void DeviceTexturedBlended(benchmark::State &state) { DeviceFrames(state, true); }

BENCHMARK(DeviceGouraud)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(DeviceTexturedBlended)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);

void BltToPrimary(benchmark::State &state) {
  Rig &rig = TheRig();
  if (!rig.ready) {
    state.SkipWithError("the device could not be set up");
    return;
  }
  const Rect all{0, 0, kWidth, kHeight};
  for (auto _ : state) benchmark::DoNotOptimize(rig.primary->Blt(&all, rig.target, &all, DDBLT_WAIT));
  state.counters["pixels"] =
      benchmark::Counter(static_cast<double>(kWidth) * kHeight * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

BENCHMARK(BltToPrimary)->Unit(benchmark::kMillisecond);

// ---- Mesa's software rasteriser --------------------------------------------------

void Mesa(benchmark::State &state, bool textured) {
  static vo::bench::MesaPeer mesa(kWidth, kHeight);
  if (!mesa.ready) {
    state.SkipWithError("no surfaceless EGL with desktop OpenGL");
    return;
  }
  const Spheres g(static_cast<int>(state.range(0)));
  const std::vector<LVertex> vertices = PreLit(g);
  std::vector<GLuint> indices;
  for (int s = 0; s < g.count; ++s)
    for (int32_t i : g.indices) indices.push_back(static_cast<GLuint>(s * g.vertices_each + i));
  static GLuint texture = 0;
  if (texture == 0) {
    std::vector<uint32_t> texels(kTexture * kTexture);
    for (int y = 0; y < kTexture; ++y)
      for (int x = 0; x < kTexture; ++x) texels[static_cast<size_t>(y) * kTexture + x] = TexelAt(x, y);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kTexture, kTexture, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  }
  glViewport(0, 0, kWidth, kHeight);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_CULL_FACE);
  glShadeModel(GL_SMOOTH);
  glDisable(GL_LIGHTING);
  if (textured) {
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  } else {
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
  }
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const Ortho o(g);
  glOrtho(o.left, o.right, o.bottom, o.top, -10, 10);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0.1f, 0.1f, 0.2f, 1);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(3, GL_FLOAT, sizeof(LVertex), &vertices[0].x);
  glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(LVertex), &vertices[0].colour);
  if (textured) {
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, sizeof(LVertex), &vertices[0].u);
  } else {
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_INT, indices.data());
    glFinish();
  }
  state.counters["triangles"] = g.Triangles();
}

void MesaGouraud(benchmark::State &state) { Mesa(state, false); }
void MesaTexturedBlended(benchmark::State &state) { Mesa(state, true); }

BENCHMARK(MesaGouraud)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(MesaTexturedBlended)->Arg(4)->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace

// The Direct3D-like device as the back end drives it: the device list and
// its descriptions, the enumeration that survives its own release, render,
// light and transform states, scenes, bad draws, Clear, clip-status
// extents, handles that go stale, texture formats and loads, and a whole
// set-up with every allocation failing in turn.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "desktop_fixture.h"
#include "host/d3d_device.h"

namespace vo::platform {
namespace {

constexpr int32_t kSide = 16;

Guid RgbDevice() {
  Guid guid{};
  EXPECT_TRUE(DeviceEntry(1, &guid, nullptr, nullptr, nullptr, nullptr));
  return guid;
}

SurfaceDesc Desc(uint32_t caps, int32_t w, int32_t h) {
  SurfaceDesc d{};
  d.size = sizeof d;
  d.flags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  d.caps = caps;
  d.width = static_cast<uint32_t>(w);
  d.height = static_cast<uint32_t>(h);
  return d;
}

SurfaceDesc TextureDesc(int32_t w, int32_t h, PixelFormat format) {
  SurfaceDesc d = Desc(DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY, w, h);
  d.flags |= DDSD_PIXELFORMAT;
  d.format = format;
  return d;
}

constexpr PixelFormat kX888{32, DDPF_RGB, 0, 32, 0xff0000, 0xff00, 0xff, 0};

// The back end's set-up: DirectDraw and Direct3D, a 16 x 16 target with a
// 16-bit z-buffer, an RGB device, a viewport over the whole target (clip
// rectangle (-1, 1, 2, 2)), a blue background material and a 2 x 2 texture
// with its handle. Everything is given back by Release.
struct Rig {
  DirectDraw *ddraw = nullptr;
  Direct3D *d3d = nullptr;
  Surface *target = nullptr, *z = nullptr, *texture_surface = nullptr;
  Device *device = nullptr;
  Viewport *viewport = nullptr;
  Material *material = nullptr;
  Texture *texture = nullptr;
  uint32_t material_handle = 0, texture_handle = 0;

  Result Make() {
    Result r = DirectDrawCreate(nullptr, &ddraw, nullptr);
    if (r != kOk) return r;
    if ((r = ddraw->QueryInterface(InterfaceId::Direct3D2, reinterpret_cast<void **>(&d3d))) != kOk) return r;
    SurfaceDesc d = Desc(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | DDSCAPS_SYSTEMMEMORY, kSide, kSide);
    if ((r = ddraw->CreateSurface(&d, &target, nullptr)) != kOk) return r;
    d = Desc(DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY, kSide, kSide);
    d.flags |= DDSD_ZBUFFERBITDEPTH;
    d.zbuffer_bits = 16;
    if ((r = ddraw->CreateSurface(&d, &z, nullptr)) != kOk) return r;
    if ((r = target->AddAttachedSurface(z)) != kOk) return r;
    if ((r = d3d->CreateDevice(RgbDevice(), target, &device)) != kOk) return r;
    if ((r = d3d->CreateViewport(&viewport, nullptr)) != kOk) return r;
    if ((r = device->AddViewport(viewport)) != kOk) return r;
    const ViewportData v{sizeof(ViewportData), 0, 0, kSide, kSide, -1, 1, 2, 2, 0, 1};
    if ((r = viewport->SetViewport2(&v)) != kOk) return r;
    if ((r = device->SetCurrentViewport(viewport)) != kOk) return r;
    if ((r = d3d->CreateMaterial(&material, nullptr)) != kOk) return r;
    MaterialData m{};
    m.size = sizeof m;
    m.diffuse = ColourValue{0, 0, 1, 1};
    if ((r = material->SetMaterial(&m)) != kOk) return r;
    if ((r = material->GetHandle(device, &material_handle)) != kOk) return r;
    if ((r = viewport->SetBackground(material_handle)) != kOk) return r;
    d = TextureDesc(2, 2, kX888);
    if ((r = ddraw->CreateSurface(&d, &texture_surface, nullptr)) != kOk) return r;
    if ((r = texture_surface->QueryInterface(InterfaceId::Texture2, reinterpret_cast<void **>(&texture))) !=
        kOk)
      return r;
    return texture->GetHandle(device, &texture_handle);
  }
  void Release() {
    for (Unknown *u : std::initializer_list<Unknown *>{texture, texture_surface, material, viewport, device,
                                                       z, target, d3d, ddraw})
      if (u != nullptr) u->Release();
    *this = Rig{};
  }
  PixelView Colour() const {
    PixelView v{};
    EXPECT_TRUE(target->View(&v));
    return v;
  }
  uint16_t Depth(int32_t x, int32_t y) const {
    PixelView v{};
    EXPECT_TRUE(z->View(&v));
    uint16_t d;
    std::memcpy(&d, v.base + static_cast<size_t>(y) * v.pitch + static_cast<size_t>(x) * 2, 2);
    return d;
  }
  Result Draw(const std::vector<LVertex> &v, const std::vector<uint16_t> &i) {
    return device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DVT_LVERTEX, v.data(),
                                        static_cast<uint32_t>(v.size()), i.data(),
                                        static_cast<uint32_t>(i.size()), 0);
  }
};

std::vector<LVertex> Square(uint32_t colour, float z = 0.5f) {
  return {LVertex{-1, 1, z, 0, colour, 0, 0, 0}, LVertex{1, 1, z, 0, colour, 0, 1, 0},
          LVertex{1, -1, z, 0, colour, 0, 1, 1}, LVertex{-1, -1, z, 0, colour, 0, 0, 1}};
}
const std::vector<uint16_t> kSquare = {0, 1, 2, 0, 2, 3};

int32_t LiveObjects() {
  int32_t n = 0;
  for (LiveKind k : {LiveKind::DirectDraw, LiveKind::Surface, LiveKind::Direct3D, LiveKind::Device,
                     LiveKind::Viewport, LiveKind::Material, LiveKind::Texture})
    n += LiveCountGet(k);
  return n;
}

// The library started as an application starts it; the fixture checks
// that every object is given back.
class DeviceTest : public test::DesktopTest {
 protected:
  void TearDown() override {
    setup_.Release();
    DesktopTest::TearDown();
  }
  Rig setup_;
};

TEST_F(DeviceTest, ThreeSoftwareDevicesAndAHardwareOneWhenOffered) {
  const char *name = nullptr;
  DeviceDesc hw{}, sw{};
  ASSERT_EQ(DeviceCount(), 3u);
  const uint32_t models[3] = {D3DCOLOR_MONO, D3DCOLOR_RGB, D3DCOLOR_RGB};
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(DeviceEntry(i, nullptr, &name, nullptr, &hw, &sw));
    EXPECT_EQ(hw.size, 252u);
    EXPECT_EQ(hw.colour_model, 0u);
    EXPECT_EQ(sw.colour_model, models[i]);
    EXPECT_EQ(sw.render_depths, DDBD_8 | DDBD_16 | DDBD_24 | DDBD_32);
    EXPECT_EQ(sw.zbuffer_depths, DDBD_16 | DDBD_32);
    EXPECT_NE(
        sw.triangle_caps.shade & (i == 0 ? D3DPSHADECAPS_COLORGOURAUDMONO : D3DPSHADECAPS_COLORGOURAUDRGB),
        0u);
    EXPECT_EQ(std::string(name).find("MMX") != std::string::npos, i == 2) << name;
  }
  EXPECT_FALSE(DeviceEntry(3, nullptr, nullptr, nullptr, nullptr, nullptr));
  Settings().hardware_device = true;
  ASSERT_EQ(DeviceCount(), 4u);
  ASSERT_TRUE(DeviceEntry(3, nullptr, nullptr, nullptr, &hw, &sw));
  EXPECT_EQ(hw.colour_model, D3DCOLOR_RGB);
  EXPECT_EQ(sw.colour_model, 0u);
}

struct Walk {
  Direct3D *d3d;
  int calls;
};

TEST_F(DeviceTest, EnumerationOutlivesACallbackThatReleasesTheObject) {
  ASSERT_EQ(setup_.Make(), kOk);
  // The device choice's failing hardware attempt releases the enumerating
  // object from inside the walk; the walk must go on without it.
  Walk walk{setup_.d3d, 0};
  setup_.d3d = nullptr;
  ASSERT_EQ(walk.d3d->EnumDevices(
                [](Guid *, const char *, const char *name, DeviceDesc *, DeviceDesc *, void *c) -> Result {
                  auto *w = static_cast<Walk *>(c);
                  EXPECT_NE(name, nullptr);
                  if (w->calls++ == 0) w->d3d->Release();
                  return kEnumContinue;
                },
                &walk),
            kOk);
  EXPECT_EQ(walk.calls, 3);
  EXPECT_EQ(LiveCountGet(LiveKind::Direct3D), 0);
  Walk stop{nullptr, 0};
  Direct3D *d3d = nullptr;
  ASSERT_EQ(setup_.ddraw->QueryInterface(InterfaceId::Direct3D2, reinterpret_cast<void **>(&d3d)), kOk);
  EXPECT_EQ(d3d->EnumDevices(
                [](Guid *, const char *, const char *, DeviceDesc *, DeviceDesc *, void *c) -> Result {
                  return ++static_cast<Walk *>(c)->calls == 2 ? kEnumCancel : kEnumContinue;
                },
                &stop),
            kOk);
  EXPECT_EQ(stop.calls, 2);
  d3d->Release();
}

TEST_F(DeviceTest, StatesTakeTheValuesTheBackEndSetsAndNoOthers) {
  ASSERT_EQ(setup_.Make(), kOk);
  Device *d = setup_.device;
  const uint32_t accepted[][2] = {{D3DRENDERSTATE_ZENABLE, 1},
                                  {D3DRENDERSTATE_TEXTUREHANDLE, 0},
                                  {D3DRENDERSTATE_DITHERENABLE, 0},
                                  {D3DRENDERSTATE_DITHERENABLE, 1},
                                  {D3DRENDERSTATE_TEXTUREADDRESS, 1},
                                  {D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1},
                                  {D3DRENDERSTATE_WRAPU, 0},
                                  {D3DRENDERSTATE_WRAPV, 0},
                                  {D3DRENDERSTATE_SRCBLEND, 5},
                                  {D3DRENDERSTATE_DESTBLEND, 6},
                                  {D3DRENDERSTATE_TEXTUREMIN, 2},
                                  {D3DRENDERSTATE_TEXTUREMAG, 2},
                                  {D3DRENDERSTATE_ALPHABLENDENABLE, 1},
                                  {D3DRENDERSTATE_FILLMODE, 1},
                                  {D3DRENDERSTATE_SHADEMODE, 3},
                                  {D3DRENDERSTATE_TEXTUREMAPBLEND, 8},
                                  {D3DRENDERSTATE_CULLMODE, 1}};
  for (const auto &s : accepted) {
    EXPECT_EQ(d->SetRenderState(s[0], s[1]), kOk) << s[0] << " " << s[1];
    uint32_t v = 99;
    EXPECT_EQ(d->GetRenderState(s[0], &v), kOk);
    EXPECT_EQ(v, s[1]);
  }
  const uint32_t refused[][2] = {{2, 1},  // antialias: not a state the back end sets
                                 {D3DRENDERSTATE_SRCBLEND, 2},
                                 {D3DRENDERSTATE_TEXTUREADDRESS, 3},
                                 {D3DRENDERSTATE_FILLMODE, 0},
                                 {D3DRENDERSTATE_TEXTUREMAPBLEND, 9},
                                 {D3DRENDERSTATE_CULLMODE, 4},
                                 {D3DRENDERSTATE_ZENABLE, 2},
                                 {D3DRENDERSTATE_WRAPU, 1},
                                 {1000, 0}};
  test::g_posted.clear();
  for (const auto &s : refused) EXPECT_EQ(d->SetRenderState(s[0], s[1]), E_INVALIDARG) << s[0] << " " << s[1];
  EXPECT_EQ(test::CountPosted(messages::kDeviceArgument), 9);

  uint32_t ambient = 0;
  EXPECT_EQ(d->SetLightState(D3DLIGHTSTATE_AMBIENT, 0xff336699), kOk);
  EXPECT_EQ(d->GetLightState(D3DLIGHTSTATE_AMBIENT, &ambient), kOk);
  EXPECT_EQ(ambient, 0xff336699u);
  EXPECT_EQ(d->SetLightState(1, 0), E_INVALIDARG);

  Matrix m = MatrixIdentity(), back{};
  m.m[12] = 3;
  EXPECT_EQ(d->SetTransform(D3DTRANSFORMSTATE_VIEW, &m), kOk);
  EXPECT_EQ(d->GetTransform(D3DTRANSFORMSTATE_VIEW, &back), kOk);
  EXPECT_EQ(back.m[12], 3.0f);
  EXPECT_EQ(d->SetTransform(4, &m), E_INVALIDARG);
  EXPECT_EQ(d->SetTransform(D3DTRANSFORMSTATE_WORLD, nullptr), E_INVALIDARG);

  EXPECT_EQ(setup_.Draw(Square(0xffffffff), kSquare), DDERR_NOTINSCENE);
  EXPECT_EQ(d->EndScene(), DDERR_NOTINSCENE);
  EXPECT_EQ(d->BeginScene(), kOk);
  EXPECT_EQ(d->BeginScene(), DDERR_ALREADYINSCENE);
  EXPECT_EQ(d->EndScene(), kOk);
}

TEST_F(DeviceTest, BadDrawsAreRefusedAndLeaveThePixels) {
  ASSERT_EQ(setup_.Make(), kOk);
  Device *d = setup_.device;
  ASSERT_EQ(d->BeginScene(), kOk);
  const std::vector<LVertex> v = Square(0xffffffff);
  struct Case {
    const char *what;
    const void *vertices;
    uint32_t vertex_count;
    std::vector<uint16_t> indices;
    bool null_indices;
  };
  // Generated: every index at and past the count, counts not a multiple of
  // 3, and missing arrays.
  std::vector<Case> cases;
  for (uint16_t bad : {uint16_t{4}, uint16_t{5}, uint16_t{65535}})
    for (int at = 0; at < 3; ++at) {
      std::vector<uint16_t> i = {0, 1, 2};
      i[static_cast<size_t>(at)] = bad;
      cases.push_back({"index past the vertices", v.data(), 4, i, false});
    }
  for (size_t n : {1u, 2u, 4u, 5u, 7u})
    cases.push_back({"count", v.data(), 4, std::vector<uint16_t>(n, 0), false});
  cases.push_back({"no vertices", nullptr, 4, {0, 1, 2}, false});
  cases.push_back({"no indices", v.data(), 4, {0, 1, 2}, true});
  cases.push_back({"indices into no vertices", nullptr, 0, {0, 1, 2}, false});
  for (const Case &c : cases) {
    EXPECT_EQ(d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DVT_LVERTEX, c.vertices, c.vertex_count,
                                      c.null_indices ? nullptr : c.indices.data(),
                                      static_cast<uint32_t>(c.indices.size()), 0),
              E_INVALIDARG)
        << c.what;
  }
  EXPECT_EQ(d->DrawIndexedPrimitive(5, D3DVT_LVERTEX, v.data(), 4, kSquare.data(), 6, 0), E_INVALIDARG);
  EXPECT_EQ(d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, v.data(), 4, kSquare.data(), 6, 0), E_INVALIDARG);
  const PixelView colour = setup_.Colour();
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) ASSERT_EQ(PixelRead(colour, x, y).r, 0);

  // NaN and huge positions: their triangles go, the others are drawn, one
  // diagnostic tells how many went.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<LVertex> mixed = Square(0xffffffff);
  mixed.push_back(LVertex{nan, 0, 0.5f, 0, 0xffffffff, 0, 0, 0});
  mixed.push_back(LVertex{3e38f, -3e38f, 3e38f, 0, 0xffffffff, 0, nan, 0});
  mixed.push_back(LVertex{0, std::numeric_limits<float>::infinity(), 0, 0, 0xffffffff, 0, 0, 0});
  test::g_posted.clear();
  EXPECT_EQ(setup_.Draw(mixed, {0, 4, 1, 5, 0, 1, 6, 2, 3, 0, 1, 2, 5, 6, 4}), kOk);
  EXPECT_EQ(test::CountPosted(messages::kDeviceTrianglesDropped), 1);
  EXPECT_EQ(PixelRead(colour, 12, 3).r, 255);
  // A failure a test asks for answers its result.
  SettingsReset();  // counts calls afresh
  Settings().fail_kind = CallKind::Draw;
  Settings().fail_at = 1;
  Settings().fail_result = DDERR_INCOMPATIBLE;
  EXPECT_EQ(setup_.Draw(Square(0xffffffff), kSquare), DDERR_INCOMPATIBLE);
  EXPECT_EQ(d->EndScene(), kOk);
}

TEST_F(DeviceTest, ClearSetsColourAndDepthInItsRectanglesOnly) {
  ASSERT_EQ(setup_.Make(), kOk);
  Device *d = setup_.device;
  ASSERT_EQ(d->BeginScene(), kOk);
  ASSERT_EQ(setup_.Draw(Square(0xffff0000, 0.25f), kSquare), kOk);
  // 0.25 of 65535, rounded.
  ASSERT_EQ(setup_.Depth(0, 0), 16384);
  const D3DRect rects[] = {{2, 3, 6, 5},      // 4 x 2 pixels
                           {9, 9, 7, 12},     // inverted: nothing
                           {10, 10, 10, 14},  // empty: nothing
                           {14, -5, 40, 1}};  // off the surface: (14, 0) to (16, 1)
  ASSERT_EQ(setup_.viewport->Clear(4, rects, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), kOk);
  const PixelView colour = setup_.Colour();
  int blue = 0;
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) {
      const bool in = (x >= 2 && x < 6 && y >= 3 && y < 5) || (x >= 14 && y == 0);
      const Colour8 c = PixelRead(colour, x, y);
      EXPECT_EQ(c.b, in ? 255 : 0) << x << ", " << y;
      EXPECT_EQ(c.r, in ? 0 : 255) << x << ", " << y;
      EXPECT_EQ(setup_.Depth(x, y), in ? 0xffff : 16384) << x << ", " << y;
      blue += in;
    }
  EXPECT_EQ(blue, 10);
  EXPECT_EQ(setup_.viewport->Clear(1, nullptr, D3DCLEAR_TARGET), E_INVALIDARG);
  EXPECT_EQ(setup_.viewport->Clear(1, rects, 4), E_INVALIDARG);

  // Once the material is gone its handle is stale: the background is black.
  setup_.material->Release();
  setup_.material = nullptr;
  ASSERT_EQ(setup_.viewport->Clear(1, rects, D3DCLEAR_TARGET), kOk);
  EXPECT_EQ(PixelRead(colour, 3, 3).b, 0);
  EXPECT_EQ(d->EndScene(), kOk);
}

TEST_F(DeviceTest, ExtentsGrowByWhatIsDrawnAndAnEmptyFrameClearsNothing) {
  ASSERT_EQ(setup_.Make(), kOk);
  Device *d = setup_.device;
  // Inside out, as the back end starts a frame.
  const ClipStatus start{D3DCLIPSTATUS_EXTENTS2, 0, kSide, 0, kSide, 0, 0, 0};
  ASSERT_EQ(d->BeginScene(), kOk);
  ASSERT_EQ(d->SetClipStatus(&start), kOk);
  ClipStatus s{};
  ASSERT_EQ(d->GetClipStatus(&s), kOk);
  // Nothing drawn: the rectangle floor/ceil makes is inverted, and Clear
  // takes it as empty.
  const D3DRect dirty{static_cast<int32_t>(std::floor(s.min_x)), static_cast<int32_t>(std::floor(s.min_y)),
                      static_cast<int32_t>(std::ceil(s.max_x)), static_cast<int32_t>(std::ceil(s.max_y))};
  ASSERT_EQ(setup_.Draw(Square(0xffff0000), kSquare), kOk);
  EXPECT_EQ(setup_.viewport->Clear(1, &dirty, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), kOk);
  EXPECT_EQ(PixelRead(setup_.Colour(), 8, 8).r, 255);

  ASSERT_EQ(d->SetClipStatus(&start), kOk);
  // A triangle over the upper left quarter: x -1..0, y 0..1 -> pixels 0..8.
  ASSERT_EQ(
      setup_.Draw({LVertex{-1, 1, 0.3f, 0, 0xff00ff00, 0, 0, 0}, LVertex{0, 1, 0.3f, 0, 0xff00ff00, 0, 0, 0},
                   LVertex{-1, 0, 0.6f, 0, 0xff00ff00, 0, 0, 0}},
                  {0, 1, 2}),
      kOk);
  ASSERT_EQ(d->GetClipStatus(&s), kOk);
  EXPECT_EQ(s.min_x, 0.0f);
  EXPECT_EQ(s.max_x, 8.0f);
  EXPECT_EQ(s.min_y, 0.0f);
  EXPECT_EQ(s.max_y, 8.0f);
  EXPECT_EQ(s.min_z, 0.0f);  // where the frame started it
  EXPECT_NEAR(s.max_z, 0.6f, 1e-6);
  EXPECT_EQ(d->EndScene(), kOk);
}

TEST_F(DeviceTest, TexturesByHandleStaleHandlesDrawUntexturedAndLoadCopies) {
  ASSERT_EQ(setup_.Make(), kOk);
  Device *d = setup_.device;
  PixelView t{};
  ASSERT_TRUE(setup_.texture_surface->View(&t));
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 2; ++x) PixelWrite(t, x, y, Colour8{0, 200, 0, 255});
  ASSERT_NE(setup_.texture_handle, 0u);
  ASSERT_EQ(d->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, setup_.texture_handle), kOk);
  ASSERT_EQ(d->SetRenderState(D3DRENDERSTATE_TEXTUREMAPBLEND, kBlendDecal), kOk);
  ASSERT_EQ(d->BeginScene(), kOk);
  ASSERT_EQ(setup_.Draw(Square(0xffff0000), kSquare), kOk);
  EXPECT_EQ(PixelRead(setup_.Colour(), 5, 5).g, 200);

  // A second texture loaded from the first draws the same.
  Surface *copy_surface = nullptr;
  Texture *copy = nullptr;
  SurfaceDesc desc = TextureDesc(2, 2, kX888);
  ASSERT_EQ(setup_.ddraw->CreateSurface(&desc, &copy_surface, nullptr), kOk);
  ASSERT_EQ(copy_surface->QueryInterface(InterfaceId::Texture2, reinterpret_cast<void **>(&copy)), kOk);
  EXPECT_EQ(copy->Load(setup_.texture), kOk);
  EXPECT_EQ(copy->Load(nullptr), E_INVALIDARG);
  uint32_t handle = 0;
  ASSERT_EQ(copy->GetHandle(d, &handle), kOk);
  EXPECT_NE(handle, setup_.texture_handle);
  EXPECT_EQ(copy->GetHandle(d, &handle), kOk);  // the same handle again
  ASSERT_EQ(d->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, handle), kOk);
  ASSERT_EQ(setup_.Draw(Square(0xff0000ff, 0.4f), kSquare), kOk);
  EXPECT_EQ(PixelRead(setup_.Colour(), 5, 5).g, 200);

  // Gone: its handle draws the vertex colour.
  copy->Release();
  copy_surface->Release();
  ASSERT_EQ(setup_.Draw(Square(0xff0000ff, 0.3f), kSquare), kOk);
  EXPECT_EQ(PixelRead(setup_.Colour(), 5, 5).b, 255);
  EXPECT_EQ(PixelRead(setup_.Colour(), 5, 5).g, 0);
  // A handle never issued, and a material's handle as a texture, likewise.
  ASSERT_EQ(d->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, setup_.material_handle), kOk);
  ASSERT_EQ(setup_.Draw(Square(0xff00ffff, 0.2f), kSquare), kOk);
  EXPECT_EQ(PixelRead(setup_.Colour(), 5, 5).r, 0);
  EXPECT_EQ(PixelRead(setup_.Colour(), 5, 5).g, 255);
  EXPECT_EQ(d->EndScene(), kOk);
}

TEST_F(DeviceTest, SixTextureFormatsInOrder) {
  ASSERT_EQ(setup_.Make(), kOk);
  std::vector<PixelFormat> seen;
  ASSERT_EQ(setup_.device->EnumTextureFormats(
                [](SurfaceDesc *d, void *c) -> Result {
                  static_cast<std::vector<PixelFormat> *>(c)->push_back(d->format);
                  return kEnumContinue;
                },
                &seen),
            kOk);
  ASSERT_EQ(seen.size(), 6u);
  const uint32_t bits[6] = {8, 16, 16, 24, 32, 32};
  const uint32_t alpha[6] = {0, 0, DDPF_ALPHAPIXELS, 0, 0, DDPF_ALPHAPIXELS};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(seen[i].bit_count, bits[i]);
    EXPECT_EQ(seen[i].flags & DDPF_ALPHAPIXELS, alpha[i]);
  }
  EXPECT_NE(seen[0].flags & DDPF_PALETTEINDEXED8, 0u);
  DeviceDesc hw{}, sw{};
  ASSERT_EQ(setup_.device->GetCaps(&hw, &sw), kOk);
  EXPECT_EQ(hw.colour_model, 0u);
  EXPECT_EQ(sw.colour_model, D3DCOLOR_RGB);
}

TEST_F(DeviceTest, EveryAllocationFailingInASetUpGivesEverythingBack) {
  test::EveryAllocationFails([this]() -> VtStatus {
    const Result r = setup_.Make();
    setup_.Release();
    EXPECT_EQ(LiveObjects(), 0);
    if (r == kOk) return 0;
    EXPECT_EQ(r, E_OUTOFMEMORY);
    return VO_STATUS_NO_MEMORY;
  });
}

}  // namespace
}  // namespace vo::platform

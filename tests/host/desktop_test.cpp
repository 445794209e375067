// The desktop layer: windows and metrics, device contexts and bitmaps, the
// DirectDraw-like surfaces and the loader, bad input and failed allocations.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "host/ddraw.h"
#include "host/desktop_fixture.h"
#include "kernel/vosystem/kernel.h"

namespace vo::test {
namespace {

using namespace platform;

const Colour8 kRed{255, 0, 0, 255}, kBlue{0, 0, 255, 255}, kBlack{0, 0, 0, 255};

TEST_F(DesktopTest, WindowsAreScreenPlacesAndMetricsFollowTheScreen) {
  Screen *s = ScreenGet();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->width, 1024);
  EXPECT_EQ(s->height, 768);
  EXPECT_EQ(s->bits, 32);
  EXPECT_EQ(GetSystemMetrics(SM_CXMIN), 32);
  EXPECT_EQ(GetSystemMetrics(SM_CYMIN), 32);
  EXPECT_EQ(GetSystemMetrics(SM_CXMAXTRACK), 1024);
  VtWindow *w = WindowCreate(-5, 7, 10, 10);
  ASSERT_NE(w, nullptr);
  Rect r;
  ASSERT_TRUE(GetClientRect(w, &r));
  EXPECT_EQ(r.right, 10);
  Point p{2, 3};
  ASSERT_TRUE(ClientToScreen(w, &p));
  EXPECT_EQ(p.x, -3);
  EXPECT_EQ(p.y, 10);
  EXPECT_EQ(GetActiveWindow(), w);
  EXPECT_EQ(WindowDestroy(w), kOk);
  EXPECT_FALSE(IsWindow(w));  // destroyed handles are refused, never read
  EXPECT_FALSE(GetClientRect(w, &r));
  VtWindow forged{};
  EXPECT_FALSE(IsWindow(&forged));
  EXPECT_EQ(WindowDestroy(w), E_INVALIDARG);
}

TEST_F(DesktopTest, ScreenModesKeepTheirFormatsAndADirectDrawObjectHoldsTheMode) {
  EXPECT_EQ(ScreenSetMode(320, 240, 8), kOk);
  PaletteEntry sys[256];
  ASSERT_EQ(GetSystemPaletteEntries(0, 256, sys), 256u);
  EXPECT_EQ(sys[255].red, 255);  // the last fixed entry is white
  EXPECT_EQ(ScreenGet()->kind, PixelKind::Indexed8);
  EXPECT_EQ(ScreenSetMode(320, 240, 15), E_INVALIDARG);
  EXPECT_EQ(ScreenSetMode(0, 240, 16), E_INVALIDARG);
  EXPECT_EQ(ScreenSetMode(16385, 240, 16), E_INVALIDARG);
  DirectDraw *dd = NewDirectDraw();
  EXPECT_EQ(ScreenSetMode(640, 480, 16), DDERR_WRONGMODE);
  EXPECT_EQ(dd->Release(), 0u);
  EXPECT_EQ(ScreenSetMode(640, 480, 16), kOk);
  EXPECT_EQ(ScreenGet()->kind, PixelKind::Rgb565);
}

TEST_F(DesktopTest, PixelConversionsRoundTripInEveryFormat) {
  uint8_t block[4 * 4];
  const PixelKind kinds[] = {PixelKind::Rgb565, PixelKind::Argb1555, PixelKind::Rgb888, PixelKind::X888,
                             PixelKind::Argb8888};
  for (PixelKind kind : kinds) {
    PixelView v{block, 16, 4, 1, kind, nullptr, nullptr};
    for (int c = 0; c < 256; c += 5) {
      PixelWrite(v, 1, 0, Colour8{static_cast<uint8_t>(c), static_cast<uint8_t>(255 - c), 77, 255});
      const Colour8 once = PixelRead(v, 1, 0);
      PixelWrite(v, 1, 0, once);
      const Colour8 twice = PixelRead(v, 1, 0);
      EXPECT_TRUE(Same(once, twice)) << static_cast<int>(kind) << " " << c;
      EXPECT_LE(std::abs(once.r - c), 4);  // 5 bits: levels 8.2 apart, rounded
    }
  }
  // 8 bits: the nearest palette entry; the entry read back writes itself.
  PaletteEntry pal[256];
  for (int i = 0; i < 256; ++i)
    pal[i] = PaletteEntry{static_cast<uint8_t>(i), 0, static_cast<uint8_t>(255 - i), 0};
  InverseTable *inverse = InverseTableMake(pal, nullptr);
  ASSERT_NE(inverse, nullptr);
  PixelView v{block, 16, 4, 1, PixelKind::Indexed8, pal, inverse};
  // (200, 0, 55) lies in the 5-bit cell of (198, 0, 57), which is entry 198.
  PixelWrite(v, 0, 0, Colour8{200, 0, 55, 255});
  EXPECT_EQ(block[0], 198);
  PixelWrite(v, 0, 0, PixelRead(v, 0, 0));
  EXPECT_EQ(block[0], 198);
  Free(inverse);
}

TEST_F(DesktopTest, BitmapsAreSelectedOnceAndCannotBeDeletedWhileSelected) {
  BitmapInfoHeader h{40, 3, 2, 1, 24, 0, 0, 0, 0, 0, 0};
  // Bottom-up rows of 12 bytes (9 pixel bytes, 3 padding): blue, green, red.
  const uint8_t bits[24] = {255, 0, 0,   255, 0, 0,   255, 0, 0,   9, 9, 9,
                            0,   0, 255, 0,   0, 255, 0,   0, 255, 9, 9, 9};
  VtBitmap *b = CreateDIBitmap(nullptr, &h, CBM_INIT, bits, nullptr, DIB_RGB_COLORS);
  ASSERT_NE(b, nullptr);
  HDC one = CreateCompatibleDC(nullptr), two = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(one, b), nullptr);
  EXPECT_EQ(SelectObject(two, b), nullptr);  // already selected in another context
  EXPECT_FALSE(DeleteObject(b));
  ContextTarget t;
  ASSERT_TRUE(ContextTargetGet(one, &t));
  EXPECT_TRUE(Same(PixelRead(t.view, 0, 0), kRed));  // the file's last row is the top row
  EXPECT_TRUE(Same(PixelRead(t.view, 2, 1), kBlue));
  PaletteEntry none[4];
  EXPECT_EQ(GetDIBColorTable(one, 0, 4, none), 0u);  // 24 bits have no table
  EXPECT_TRUE(DeleteDC(one));
  EXPECT_TRUE(DeleteObject(b));
  EXPECT_FALSE(DeleteObject(b));
  EXPECT_TRUE(DeleteDC(two));
  EXPECT_FALSE(DeleteDC(two));
}

TEST_F(DesktopTest, EveryFieldOfABitmapHeaderIsChecked) {
  const BitmapInfoHeader good{40, 4, 4, 1, 8, 0, 0, 0, 0, 2, 0};
  BitmapInfo info{};
  info.header = good;
  info.colours[1] = RgbQuad{10, 20, 30, 0};
  const uint8_t bits[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  VtBitmap *b = CreateDIBitmap(nullptr, &good, CBM_INIT, bits, &info, DIB_RGB_COLORS);
  ASSERT_NE(b, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, b);
  PaletteEntry table[4];
  ASSERT_EQ(GetDIBColorTable(dc, 0, 4, table), 2u);  // colours used: 2
  EXPECT_EQ(table[1].red, 30);                       // red and blue swapped into entry order
  EXPECT_EQ(table[1].blue, 10);
  DeleteDC(dc);
  DeleteObject(b);
  // Each field made wrong in turn is refused; none allocates or crashes.
  const int kFields = 11;
  for (int f = 0; f < kFields; ++f)
    for (uint32_t value : {0u, 2u, 7u, 24u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
      BitmapInfoHeader h = good;
      uint32_t *words[] = {&h.size,
                           reinterpret_cast<uint32_t *>(&h.width),
                           reinterpret_cast<uint32_t *>(&h.height),
                           nullptr,
                           nullptr,
                           &h.compression,
                           &h.size_image,
                           reinterpret_cast<uint32_t *>(&h.x_pels_per_metre),
                           reinterpret_cast<uint32_t *>(&h.y_pels_per_metre),
                           &h.colours_used,
                           &h.colours_important};
      if (f == 3)
        h.planes = static_cast<uint16_t>(value);
      else if (f == 4)
        h.bit_count = static_cast<uint16_t>(value);
      else
        *words[f] = value;
      info.header = h;
      VtBitmap *m = CreateDIBitmap(nullptr, &h, CBM_INIT, nullptr, &info, DIB_RGB_COLORS);
      const bool shape_ok = h.size == 40 && h.planes == 1 && (h.bit_count == 8 || h.bit_count == 24) &&
                            h.compression == 0 && h.width >= 1 && h.width <= 16384 && h.height != 0 &&
                            h.height >= -16384 && h.height <= 16384;
      EXPECT_EQ(m != nullptr, shape_ok) << "field " << f << " value " << value;
      if (m != nullptr) DeleteObject(m);
    }
  EXPECT_EQ(CreateDIBitmap(nullptr, nullptr, 0, nullptr, nullptr, DIB_RGB_COLORS), nullptr);
}

TEST_F(DesktopTest, HalftoneAveragesAreasAndOtherModesTakeTheNearestPixel) {
  VtBitmap *from = BitmapMake(4, 4, 24), *to = BitmapMake(2, 2, 24);
  ASSERT_NE(from, nullptr);
  ASSERT_NE(to, nullptr);
  const PixelView fv = BitmapView(from);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      PixelWrite(fv, x, y, Colour8{static_cast<uint8_t>(40 * x + 10 * y), 0, 0, 255});
  HDC a = CreateCompatibleDC(nullptr), b = CreateCompatibleDC(nullptr);
  SelectObject(a, from);
  SelectObject(b, to);
  ASSERT_EQ(SetStretchBltMode(b, HALFTONE), COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(b, 0, 0, 2, 2, a, 0, 0, 4, 4, SRCCOPY));
  const PixelView tv = BitmapView(to);
  // Top-left 2 x 2 block: 0, 40, 10, 50 -> 25; bottom-right: 100, 140, 110, 150 -> 125.
  EXPECT_EQ(PixelRead(tv, 0, 0).r, 25);
  EXPECT_EQ(PixelRead(tv, 1, 1).r, 125);
  SetStretchBltMode(b, COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(b, 0, 0, 2, 2, a, 0, 0, 4, 4, SRCCOPY));
  // Centres of the destination pixels fall on source pixels (1, 1) and (3, 3).
  EXPECT_EQ(PixelRead(tv, 0, 0).r, 50);
  EXPECT_EQ(PixelRead(tv, 1, 1).r, 150);
  EXPECT_FALSE(StretchBlt(b, 0, 0, -2, 2, a, 0, 0, 4, 4, SRCCOPY));
  EXPECT_FALSE(StretchBlt(b, 0, 0, 2, 2, a, 0, 0, 4, 4, 0x42));  // only SRCCOPY
  DeleteDC(a);
  DeleteDC(b);
  DeleteObject(from);
  DeleteObject(to);
}

TEST_F(DesktopTest, BltOntoThePrimaryIsClippedToTheClippersWindowAndTheScreen) {
  ASSERT_EQ(ScreenSetMode(320, 240, 32), kOk);
  DirectDraw *dd = NewDirectDraw();
  Surface *primary = NewPrimary(dd);
  Surface *target = NewSurface(dd, 100, 80);
  ASSERT_NE(primary, nullptr);
  ASSERT_NE(target, nullptr);
  Fill(target, kRed);
  VtWindow *w = WindowCreate(-20, 10, 100, 80);
  Clipper *clipper = nullptr;
  ASSERT_EQ(DirectDrawCreateClipper(0, &clipper, nullptr), kOk);
  ASSERT_EQ(clipper->SetHWnd(0, w), kOk);
  ASSERT_EQ(primary->SetClipper(clipper), kOk);
  const Rect to{-20, 10, 80, 90}, wide{-20, 5, 150, 95};
  ASSERT_EQ(primary->Blt(&wide, target, nullptr, DDBLT_WAIT), kOk);  // stretched, still clipped to the window
  ASSERT_EQ(primary->Blt(&to, target, nullptr, DDBLT_WAIT), kOk);
  for (int32_t y : {9, 10, 89, 90})
    for (int32_t x : {0, 79, 80, 200}) {
      const bool inside = y >= 10 && y < 90 && x < 80;
      EXPECT_TRUE(Same(At(primary, x, y), inside ? kRed : kBlack)) << x << "," << y;
    }
  // Inverted, empty and off-surface source rectangles are refused.
  const Rect inverted{10, 10, 5, 20}, empty{3, 3, 3, 9}, outside{90, 0, 110, 10};
  EXPECT_EQ(primary->Blt(&inverted, target, nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(primary->Blt(&empty, target, nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(primary->Blt(nullptr, target, &outside, 0), E_INVALIDARG);
  EXPECT_EQ(primary->BltFast(0, 0, target, &inverted, 0), E_INVALIDARG);
  // A destination wholly off the surface changes nothing.
  const Rect away{400, 300, 500, 380};
  EXPECT_EQ(target->Blt(&away, primary, nullptr, 0), kOk);
  clipper->Release();
  EXPECT_EQ(target->Release(), 0u);
  EXPECT_EQ(primary->Release(), 0u);
  EXPECT_EQ(dd->Release(), 0u);
}

TEST_F(DesktopTest, SurfacesStartDefinedAndPalettesMustMatchTheirDepth) {
  DirectDraw *dd = NewDirectDraw();
  const PixelFormat r565{32, DDPF_RGB, 0, 16, 0xf800, 0x07e0, 0x1f, 0};
  const PixelFormat p8{32, DDPF_PALETTEINDEXED8 | DDPF_RGB, 0, 8, 0, 0, 0, 0};
  Surface *s16 = NewSurface(dd, 5, 3, &r565);
  Surface *s8 = NewSurface(dd, 5, 3, &p8);
  ASSERT_NE(s16, nullptr);
  ASSERT_NE(s8, nullptr);
  EXPECT_TRUE(Same(At(s16, 4, 2), kBlack));
  SurfaceDesc zd{sizeof(SurfaceDesc),
                 DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH,
                 3,
                 5,
                 0,
                 16,
                 DDSCAPS_ZBUFFER,
                 {},
                 nullptr};
  Surface *z = nullptr;
  ASSERT_EQ(dd->CreateSurface(&zd, &z, nullptr), kOk);
  SurfaceDesc locked{};
  ASSERT_EQ(z->Lock(nullptr, &locked), kOk);
  EXPECT_EQ(static_cast<uint16_t *>(locked.surface)[7], 0xffff);  // the far value
  EXPECT_EQ(z->Lock(nullptr, &locked), E_INVALIDARG);             // locked once
  EXPECT_EQ(z->Unlock(nullptr), kOk);
  EXPECT_EQ(s16->AddAttachedSurface(z), kOk);
  EXPECT_EQ(s16->AttachedZ(), z);
  PaletteEntry entries[256] = {};
  entries[3] = PaletteEntry{0, 0, 255, 0};
  Palette *p8bit = nullptr, *p4bit = nullptr;
  ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, &p8bit, nullptr), kOk);
  ASSERT_EQ(dd->CreatePalette(DDPCAPS_4BIT, entries, &p4bit, nullptr), kOk);
  EXPECT_EQ(s16->SetPalette(p8bit), DDERR_INCOMPATIBLE);
  EXPECT_EQ(s8->SetPalette(p4bit), DDERR_INCOMPATIBLE);
  ASSERT_EQ(s8->SetPalette(p8bit), kOk);
  Fill(s8, kBlue);  // the nearest entry of the surface's palette
  SurfaceDesc d8{};
  ASSERT_EQ(s8->Lock(nullptr, &d8), kOk);
  EXPECT_EQ(static_cast<uint8_t *>(d8.surface)[0], 3);
  s8->Unlock(nullptr);
  // Sides of 0 or past 16384, and a video surface without a hardware device.
  const uint32_t bad_sides[][2] = {{0, 4}, {4, 0}, {20000, 4}};
  for (const auto &side : bad_sides) {
    SurfaceDesc d{sizeof(SurfaceDesc),
                  DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT,
                  side[1],
                  side[0],
                  0,
                  0,
                  DDSCAPS_OFFSCREENPLAIN,
                  {},
                  nullptr};
    Surface *none = nullptr;
    EXPECT_EQ(dd->CreateSurface(&d, &none, nullptr), E_INVALIDARG);
    EXPECT_EQ(none, nullptr);
  }
  SurfaceDesc vd{sizeof(SurfaceDesc),
                 DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT,
                 4,
                 4,
                 0,
                 0,
                 DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY,
                 {},
                 nullptr};
  Surface *video = nullptr;
  EXPECT_EQ(dd->CreateSurface(&vd, &video, nullptr), DDERR_OUTOFVIDEOMEMORY);
  Settings().hardware_device = true;
  Settings().video_budget = 4 * 4 * 4;
  ASSERT_EQ(dd->CreateSurface(&vd, &video, nullptr), kOk);
  Surface *second = nullptr;
  EXPECT_EQ(dd->CreateSurface(&vd, &second, nullptr), DDERR_OUTOFVIDEOMEMORY);  // the budget is spent
  EXPECT_EQ(video->Release(), 0u);
  EXPECT_EQ(VideoMemoryUsed(), 0u);
  p8bit->Release();
  p4bit->Release();
  z->Release();
  EXPECT_EQ(s16->Release(), 0u);  // gives back its attached z-buffer too
  s8->Release();
  dd->Release();
}

TEST_F(DesktopTest, SurfaceContextsConvertFormatsThroughStretchBlt) {
  DirectDraw *dd = NewDirectDraw();
  const PixelFormat r565{32, DDPF_RGB, 0, 16, 0xf800, 0x07e0, 0x1f, 0};
  Surface *s = NewSurface(dd, 4, 4, &r565, DDSCAPS_TEXTURE);
  VtBitmap *b = BitmapMake(2, 2, 24);
  PixelWrite(BitmapView(b), 1, 1, Colour8{0, 255, 0, 255});
  HDC mem = CreateCompatibleDC(nullptr);
  SelectObject(mem, b);
  HDC sdc = nullptr;
  ASSERT_EQ(s->GetDC(&sdc), kOk);
  HDC again = nullptr;
  EXPECT_EQ(s->GetDC(&again), E_INVALIDARG);  // one context at a time
  SetStretchBltMode(sdc, HALFTONE);
  ASSERT_TRUE(StretchBlt(sdc, 0, 0, 4, 4, mem, 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(s->ReleaseDC(sdc), kOk);
  EXPECT_TRUE(Same(At(s, 3, 3), Colour8{0, 255, 0, 255}));
  EXPECT_TRUE(Same(At(s, 0, 0), kBlack));
  DeleteDC(mem);
  DeleteObject(b);
  s->Release();
  dd->Release();
}

// The version check's sequence of calls, as the Direct3D back end makes it.
uint32_t VersionProbe(DeviceIdentifier *id) {
  void *ddraw = LoadLibraryA("ddraw.dll");
  if (ddraw == nullptr) return 0;
  auto create = reinterpret_cast<decltype(&DirectDrawCreate)>(GetProcAddress(ddraw, "DirectDrawCreate"));
  DirectDraw *dd = nullptr;
  uint32_t version = 0;
  if (create != nullptr && create(nullptr, &dd, nullptr) == kOk) {
    void *dd2 = nullptr;
    version = 0x100;
    if (dd->QueryInterface(InterfaceId::DirectDraw2, &dd2) == kOk) {
      static_cast<DirectDraw *>(dd2)->Release();
      version = 0x200;
      void *dinput = LoadLibraryA("DINPUT.DLL");
      if (dinput != nullptr && GetProcAddress(dinput, "DirectInputCreateA") != nullptr) {
        FreeLibrary(dinput);
        Surface *primary = nullptr;
        SurfaceDesc d{sizeof(SurfaceDesc), DDSD_CAPS, 0, 0, 0, 0, DDSCAPS_PRIMARYSURFACE, {}, nullptr};
        version = 0;
        if (dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL) == kOk &&
            dd->CreateSurface(&d, &primary, nullptr) == kOk) {
          void *s3 = nullptr, *s4 = nullptr, *dd4 = nullptr;
          version = 0x300;
          if (primary->QueryInterface(InterfaceId::Surface3, &s3) == kOk) {
            static_cast<Surface *>(s3)->Release();
            version = 0x500;
            if (primary->QueryInterface(InterfaceId::Surface4, &s4) == kOk) {
              static_cast<Surface *>(s4)->Release();
              if (dd->QueryInterface(InterfaceId::DirectDraw4, &dd4) == kOk) {
                static_cast<DirectDraw *>(dd4)->GetDeviceIdentifier(id, 0);
                static_cast<DirectDraw *>(dd4)->Release();
              }
              version = 0x600;
            }
          }
          primary->Release();
        }
      } else if (dinput != nullptr) {
        FreeLibrary(dinput);
      }
    }
    dd->Release();
  }
  FreeLibrary(ddraw);
  return version;
}

TEST_F(DesktopTest, TheVersionCheckFindsWhatTheSettingsOffer) {
  DeviceIdentifier id{};
  OsVersionInfo info{};
  info.size = 147;
  EXPECT_FALSE(GetVersionExA(&info));  // only the 148-byte record
  info.size = 148;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.platform_id, kPlatformOurs);
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
  EXPECT_EQ(VersionProbe(&id), 0x500u);  // by default: surfaces 3, not 4
  Settings().offer_surface4 = Settings().offer_ddraw4 = true;
  EXPECT_EQ(VersionProbe(&id), 0x600u);
  EXPECT_STREQ(id.driver, "vodesktop");
  Settings().dinput_present = false;
  EXPECT_EQ(VersionProbe(&id), 0x200u);
  Settings().dinput_present = true;
  Settings().offer_ddraw2 = false;
  EXPECT_EQ(VersionProbe(&id), 0x100u);
  Settings().ddraw_present = false;
  EXPECT_EQ(VersionProbe(&id), 0u);
  Settings().version_fails = true;
  EXPECT_FALSE(GetVersionExA(&info));
  void *dinput = nullptr;
  EXPECT_EQ(DirectInputCreateA(nullptr, 0x500, &dinput, nullptr), E_FAIL);
}

TEST_F(DesktopTest, DebugTextsAndMessageBoxesKeepTheLast64AndArePosted) {
  for (int i = 0; i < 70; ++i) OutputDebugStringA(std::to_string(i).c_str());
  EXPECT_EQ(DebugTextCount(), 64u);
  EXPECT_STREQ(DebugText(0), "6");
  EXPECT_STREQ(DebugText(63), "69");
  EXPECT_EQ(CountPosted(messages::kDesktopDebugText), 70);
  MessageBoxA(nullptr, "DX 5.0 or greater required\r\n", "Error", MB_OK);
  ASSERT_EQ(MessageBoxCount(), 1u);
  EXPECT_STREQ(MessageBoxText(0), "DX 5.0 or greater required\r\n");
  ASSERT_EQ(CountPosted(messages::kDesktopMessageBox), 1);
  EXPECT_EQ(g_posted.back().strings.at(0), "Error");
}

std::string WriteFile(const std::string &name, const std::vector<uint8_t> &bytes) {
  const std::string path = testing::TempDir() + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  return path;
}

std::vector<uint8_t> SmallBmp() {
  static const uint8_t kFile[70] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0,
                                    2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0, 0, 0, 0, 0, 0, 0, 0,
                                    // rows of 8 bytes, bottom row first: red, green; red, white
                                    0, 0, 255, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0};
  return std::vector<uint8_t>(kFile, kFile + sizeof kFile);
}

TEST_F(DesktopTest, LoadImageReadsBmpFilesThroughTheLibraryAndRefusesResources) {
  const std::string path = WriteFile("desktop_small.bmp", SmallBmp());
  EXPECT_EQ(LoadImageA(GetModuleHandleA(nullptr), path.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION),
            nullptr);
  VtBitmap *b = LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 4, 4, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
  ASSERT_NE(b, nullptr);
  int32_t w = 0, h = 0, bits = 0;
  ASSERT_TRUE(BitmapSize(b, &w, &h, &bits));
  EXPECT_EQ(w, 4);
  EXPECT_EQ(bits, 24);
  const PixelView v = BitmapView(b);
  EXPECT_TRUE(Same(PixelRead(v, 0, 0), kRed));  // top row: red, white
  EXPECT_TRUE(Same(PixelRead(v, 3, 1), Colour8{255, 255, 255, 255}));
  EXPECT_TRUE(Same(PixelRead(v, 1, 3), kRed));  // bottom row: red, green
  EXPECT_TRUE(Same(PixelRead(v, 2, 2), Colour8{0, 255, 0, 255}));
  DeleteObject(b);
  const std::string text = WriteFile("desktop_text.bmp", {'N', 'O', 'T', ' ', 'B', 'M'});
  EXPECT_EQ(LoadImageA(nullptr, text.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
  // Truncations and seeded byte flips of the file: a bitmap or null, never a crash.
  const std::vector<uint8_t> good = SmallBmp();
  uint32_t seed = 7;
  for (size_t n = 0; n < good.size() + 200; ++n) {
    std::vector<uint8_t> bad = good;
    if (n < good.size()) {
      bad.resize(n);
    } else {
      seed = seed * 1103515245 + 12345;
      bad[(seed >> 8) % bad.size()] ^= static_cast<uint8_t>(1u << (seed >> 4) % 8);
    }
    const std::string p = WriteFile("desktop_bad.bmp", bad);
    if (VtBitmap *m = LoadImageA(nullptr, p.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)) DeleteObject(m);
  }
}

TEST_F(DesktopTest, EveryFailedAllocationOfASetUpGivesTheOutOfMemoryCodeAndLeavesNothingLive) {
  EveryAllocationFails([]() -> VtStatus {
    DirectDraw *dd = nullptr;
    Surface *primary = nullptr, *target = nullptr, *z = nullptr;
    Clipper *clipper = nullptr;
    Palette *palette = nullptr;
    VtWindow *w = WindowCreate(0, 0, 20, 10);
    Result r = w != nullptr ? DirectDrawCreate(nullptr, &dd, nullptr) : E_OUTOFMEMORY;
    SurfaceDesc pd{sizeof(SurfaceDesc), DDSD_CAPS, 0, 0, 0, 0, DDSCAPS_PRIMARYSURFACE, {}, nullptr};
    SurfaceDesc td{sizeof(SurfaceDesc),
                   DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT,
                   10,
                   20,
                   0,
                   0,
                   DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE,
                   {},
                   nullptr};
    SurfaceDesc zd{sizeof(SurfaceDesc),
                   DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH,
                   10,
                   20,
                   0,
                   16,
                   DDSCAPS_ZBUFFER,
                   {},
                   nullptr};
    PaletteEntry entries[256] = {};
    if (r == kOk) r = dd->CreateSurface(&pd, &primary, nullptr);
    if (r == kOk) r = DirectDrawCreateClipper(0, &clipper, nullptr);
    if (r == kOk) r = dd->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr);
    if (r == kOk) r = dd->CreateSurface(&td, &target, nullptr);
    if (r == kOk) r = dd->CreateSurface(&zd, &z, nullptr);
    if (r == kOk) r = target->AddAttachedSurface(z);
    HDC dc = nullptr;
    if (r == kOk) r = target->GetDC(&dc);
    if (r == kOk) r = target->ReleaseDC(dc);
    for (Unknown *u : std::initializer_list<Unknown *>{z, target, palette, clipper, primary, dd})
      if (u != nullptr) u->Release();
    if (w != nullptr) WindowDestroy(w);
    for (int k = 0; k < static_cast<int>(LiveKind::Count); ++k)
      EXPECT_EQ(LiveCountGet(static_cast<LiveKind>(k)), 0) << "live kind " << k;
    if (r != kOk) {
      EXPECT_EQ(r, E_OUTOFMEMORY);
    }
    return r == kOk ? 0 : VO_STATUS_NO_MEMORY;
  });
}

}  // namespace
}  // namespace vo::test

// Our own small desktop: the screen, windows, device contexts, bitmaps and
// the few system services (version, module loader, debugger texts, message
// boxes) that the Direct3D back end and the OpenGL targets call. Nothing here
// comes from another platform's headers; the calls keep the names the back
// ends use so that their sequences read as written.
//
// Invariants a reader must know:
// - one desktop per process, used from the thread that calls the library
//   (nothing is locked); it is made on first use at 1024 x 768 x 32 and
//   its pixels start zero;
// - a window is a screen position: the screen under its client area is its
//   store. Handles are checked against the live set before use, so a
//   destroyed or forged handle is refused, never read;
// - a bitmap is selected in at most one memory device context, and cannot
//   be deleted while selected;
// - every block comes from VoAllocate; sizes are size_t, sides 1..16384;
// - results are 0 or negative codes of our own (kOk, E_FAIL, ...); the
//   GDI-like calls answer a true or false word as GDI does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include <vo/vo_desktop.h>

namespace vo::platform {

using Result = int32_t;
constexpr Result kOk = 0;
constexpr Result E_FAIL = -1;
constexpr Result E_INVALIDARG = -2;
constexpr Result E_OUTOFMEMORY = -3;
constexpr Result E_NOINTERFACE = -4;
constexpr Result DDERR_OUTOFVIDEOMEMORY = -5;
constexpr Result DDERR_WRONGMODE = -6;
constexpr Result DDERR_NOPALETTEATTACHED = -7;
constexpr Result DDERR_ALREADYINSCENE = -8;  // a second BeginScene
constexpr Result DDERR_NOTINSCENE = -9;      // drawing or EndScene outside a scene
constexpr Result DDERR_INCOMPATIBLE = -10;   // formats or depths that do not match

constexpr int32_t kSideLimit = 16384;

// Objects of the layer live in VoAllocate's memory.
void *Allocate(size_t bytes);
void Free(void *block);
template <class T, class... A>
T *Make(A &&...args) {
  void *block = Allocate(sizeof(T));
  return block != nullptr ? new (block) T(static_cast<A &&>(args)...) : nullptr;
}
template <class T>
void Unmake(T *object) {
  if (object == nullptr) return;
  object->~T();
  Free(object);
}

struct Rect {
  int32_t left, top, right, bottom;
};
static_assert(sizeof(Rect) == 16);
struct Point {
  int32_t x, y;
};

inline bool RectEmpty(const Rect &r) { return r.right <= r.left || r.bottom <= r.top; }
// The common part of two rectangles; inverted or empty ones give an empty one.
Rect RectIntersect(const Rect &a, const Rect &b);

struct PaletteEntry {
  uint8_t red, green, blue, flags;
};
constexpr uint8_t PC_RESERVED = 0x01;
constexpr uint8_t D3DPAL_READONLY = 0x40;

// ---------------------------------------------------------------------------
// Pixels: the formats of the screen, surfaces and bitmaps, and one
// conversion between them and 8-bit red, green, blue, alpha.
// ---------------------------------------------------------------------------
enum class PixelKind : uint8_t { Indexed8, Rgb565, Argb1555, Rgb888, X888, Argb8888 };

struct Colour8 {
  uint8_t r, g, b, a;
};

// The nearest entry of a palette for every colour of 5 bits per channel.
struct InverseTable {
  uint8_t index[32768];
};
// Makes (or remakes) the table of 256 entries; null when memory runs out.
InverseTable *InverseTableMake(const PaletteEntry *entries, InverseTable *old);

struct PixelView {
  uint8_t *base;
  size_t pitch;
  int32_t width, height;
  PixelKind kind;
  const PaletteEntry *palette;  // for Indexed8
  InverseTable *inverse;        // for writes to Indexed8
};

uint32_t BytesPerPixel(PixelKind kind);
Colour8 PixelRead(const PixelView &v, int32_t x, int32_t y);
void PixelWrite(const PixelView &v, int32_t x, int32_t y, Colour8 c);

// ---------------------------------------------------------------------------
// The screen and windows
// ---------------------------------------------------------------------------
struct Screen {
  int32_t width, height, bits;
  PixelKind kind;
  size_t pitch;
  uint8_t *pixels;
  PaletteEntry palette[256];
  InverseTable *inverse;
};

// The desktop's screen, made on first use (null when memory runs out).
Screen *ScreenGet();
// A new screen mode; refused while a DirectDraw object lives.
Result ScreenSetMode(int32_t width, int32_t height, int32_t bits);
PixelView ScreenView();
// Live DirectDraw objects hold the mode.
void ScreenHold(int delta);
// Gives back the screen, every window, bitmap and device context and the
// kept texts (the library's terminate): handles held from before are then
// refused as dead, and the next use makes a new default screen.
void DesktopRelease();
void GdiRelease();

bool IsWindow(const VtWindow *window);
// A window's serial: given once, as it is made, and never to another
// window, so that a window held past its end is known as gone even when a
// new window takes its address. 0 for an address that is no live window
// (and for the desktop's own window, which stays live).
uint64_t WindowSerial(const VtWindow *window);
// The window is live and is the one that had the serial.
bool WindowIsNamed(const VtWindow *window, uint64_t serial);
VtWindow *WindowCreate(int32_t x, int32_t y, int32_t width, int32_t height);
Result WindowMove(VtWindow *window, int32_t x, int32_t y, int32_t width, int32_t height);
Result WindowDestroy(VtWindow *window);
// Client rectangle in client coordinates (0, 0, width, height).
bool GetClientRect(const VtWindow *window, Rect *rect);
bool ClientToScreen(const VtWindow *window, Point *point);
VtWindow *GetActiveWindow();
VtWindow *GetDesktopWindow();

constexpr int32_t HORZRES = 8, VERTRES = 10, BITSPIXEL = 12, PLANES = 14;
constexpr int32_t SM_CXMIN = 28, SM_CYMIN = 29, SM_CXMAXTRACK = 59, SM_CYMAXTRACK = 60;
int32_t GetSystemMetrics(int32_t index);
uint32_t GetSystemPaletteEntries(uint32_t first, uint32_t count, PaletteEntry *entries);

// ---------------------------------------------------------------------------
// Device contexts and bitmaps
// ---------------------------------------------------------------------------
struct DeviceContext;
using HDC = DeviceContext *;
class Surface;

struct BitmapInfoHeader {
  uint32_t size;
  int32_t width, height;
  uint16_t planes, bit_count;
  uint32_t compression, size_image;
  int32_t x_pels_per_metre, y_pels_per_metre;
  uint32_t colours_used, colours_important;
};
static_assert(sizeof(BitmapInfoHeader) == 40);
struct RgbQuad {
  uint8_t blue, green, red, reserved;
};
struct BitmapInfo {
  BitmapInfoHeader header;
  RgbQuad colours[256];
};

constexpr uint32_t CBM_INIT = 4;
constexpr uint32_t DIB_RGB_COLORS = 0;
constexpr uint32_t SRCCOPY = 0x00CC0020;
constexpr int32_t COLORONCOLOR = 3, HALFTONE = 4;

HDC GetDC(VtWindow *window);  // null: the whole screen
int32_t ReleaseDC(VtWindow *window, HDC dc);
HDC CreateCompatibleDC(HDC dc);
bool DeleteDC(HDC dc);
// Selects a bitmap into a memory context; answers the one selected before.
VtBitmap *SelectObject(HDC dc, VtBitmap *bitmap);
bool DeleteObject(VtBitmap *bitmap);
int32_t GetDeviceCaps(HDC dc, int32_t index);
int32_t SetStretchBltMode(HDC dc, int32_t mode);
bool StretchBlt(HDC to, int32_t x, int32_t y, int32_t width, int32_t height, HDC from, int32_t sx, int32_t sy,
                int32_t swidth, int32_t sheight, uint32_t rop);
VtBitmap *CreateDIBitmap(HDC dc, const BitmapInfoHeader *header, uint32_t init, const void *bits,
                         const BitmapInfo *info, uint32_t usage);
uint32_t GetDIBColorTable(HDC dc, uint32_t first, uint32_t count, PaletteEntry *entries);
bool BitmapSize(const VtBitmap *bitmap, int32_t *width, int32_t *height, int32_t *bits);
bool IsBitmap(const VtBitmap *bitmap);

constexpr uint32_t IMAGE_BITMAP = 0;
constexpr uint32_t LR_LOADFROMFILE = 0x10;
constexpr uint32_t LR_CREATEDIBSECTION = 0x2000;
// Resources always fail (there are none); a file starting "BM" is read by
// the library's BMP reader into a 24-bit bitmap, resized by nearest.
VtBitmap *LoadImageA(void *instance, const char *name, uint32_t type, int32_t width, int32_t height,
                     uint32_t flags);

// A device context drawing into a surface (the surface's GetDC).
HDC SurfaceContextMake(Surface *surface);
void SurfaceContextFree(HDC dc);
// What a context draws into: its pixels, where its (0, 0) lies in them and
// the part of them it may touch.
struct ContextTarget {
  PixelView view;
  Point origin;
  Rect clip;
};
bool ContextTargetGet(HDC dc, ContextTarget *target);
// A new bitmap of zero pixels (8 or 24 bits); null when refused.
VtBitmap *BitmapMake(int32_t width, int32_t height, int32_t bits);
PixelView BitmapView(VtBitmap *bitmap);

// ---------------------------------------------------------------------------
// System services
// ---------------------------------------------------------------------------
struct OsVersionInfo {
  uint32_t size;  // must be 148
  uint32_t major, minor, build, platform_id;
  char service_pack[128];
};
static_assert(sizeof(OsVersionInfo) == 148);
constexpr uint32_t kPlatformOurs = 16;  // "Unknown" to the back end (platform code 0)
bool GetVersionExA(OsVersionInfo *info);
void *GetModuleHandleA(const char *name);

using LoaderProc = void (*)(void);
void *LoadLibraryA(const char *name);
LoaderProc GetProcAddress(void *library, const char *name);
bool FreeLibrary(void *library);

void OutputDebugStringA(const char *text);
constexpr uint32_t MB_OK = 0;
int32_t MessageBoxA(VtWindow *owner, const char *text, const char *caption, uint32_t type);
// The last texts written (oldest first), at most 64 of each.
uint32_t DebugTextCount();
const char *DebugText(uint32_t i);
uint32_t MessageBoxCount();
const char *MessageBoxText(uint32_t i);

// ---------------------------------------------------------------------------
// Test settings (internal): what the layer offers and where it fails.
// ---------------------------------------------------------------------------
enum class CallKind : uint8_t {
  CreateSurface,
  CreateDevice,
  CreateViewport,
  CreateMaterial,
  CreatePalette,
  CreateClipper,
  Draw,
  Blt,
  Clear,
  SetRenderState,
  SetTransform,
  Count
};
struct LayerSettings {
  bool version_fails = false;
  uint32_t platform_id = kPlatformOurs;
  bool ddraw_present = true, dinput_present = true;
  bool ddraw_create_present = true;  // DDRAW.DLL exports DirectDrawCreate
  bool offer_ddraw2 = true, offer_d3d2 = true, offer_surface3 = true;
  bool offer_surface4 = false, offer_ddraw4 = false;
  bool identifier_texts_full = false;  // the device identifier's texts fill their 512 bytes, with no zero
  int32_t primary_palette_bits = 0;    // 4, 2 or 1 makes the primary claim that palettised format
  size_t video_budget = 64u << 20;
  bool hardware_device = false;  // a hardware device joins the three software ones
  bool log_calls = false;
  CallKind fail_kind = CallKind::Count;
  uint32_t fail_at = 0;  // the n-th call of fail_kind (1-based) answers fail_result
  Result fail_result = E_FAIL;
};
LayerSettings &Settings();
// Puts the layer back as new: settings, logs, desktop mode; live objects stay.
void SettingsReset();
// Counts a call of a kind; answers the failure a test asked for, else kOk.
Result CallCheck(CallKind kind, const char *name);
const char *CallLog();
void CallLogClear();
// Starts the counts of calls again (fail_at counts from the next call).
void CallCountsClear();
enum class LiveKind : uint8_t {
  DirectDraw,
  Surface,
  Palette,
  Clipper,
  Direct3D,
  Device,
  Viewport,
  Material,
  Texture,
  Window,
  Bitmap,
  Context,
  Library,
  Count
};
void LiveCount(LiveKind kind, int delta);
int32_t LiveCountGet(LiveKind kind);

}  // namespace vo::platform

namespace vo::platform {
// The window style word (our own values) and what OpenGL accepts.
constexpr uint32_t kStyleClipChildren = 0x1, kStyleClipSiblings = 0x2;
constexpr uint32_t kStyleOpenGL = kStyleClipChildren | kStyleClipSiblings;
}  // namespace vo::platform

// A window: a screen position and size; the screen under it is its store.
struct VtWindow {
  uint32_t tag;
  int32_t x, y, width, height;
  VtWindow *next;
  uint32_t style = vo::platform::kStyleOpenGL;  // set through this header only
  uint32_t class_parent_dc = 0;                 // its class draws through the parent's device context
  int32_t pixel_format = 0;                     // an OpenGL pixel format, set once
  uint64_t serial = 0;                          // WindowSerial
};

// A GDI-like bitmap: top-down rows, 24 bits (blue, green, red bytes, as a
// device-independent bitmap's) or 8 bits with a colour table.
struct VtBitmap {
  uint32_t tag;
  int32_t width, height, bits;
  size_t pitch;
  uint8_t *pixels;
  uint32_t colour_count;
  vo::platform::PaletteEntry colours[256];
  vo::platform::InverseTable *inverse;  // made when an 8-bit bitmap is first drawn into
  vo::platform::DeviceContext *selected_in;
  VtBitmap *next;
};

// The desktop's screen, windows and system services, and the layer's
// memory, settings, call log and live counts. Device contexts and bitmaps
// are in gdi.cpp, pixel formats in pixels.cpp.
#include "host/desktop.h"

#include <cstdio>
#include <cstring>

#include "kernel/vosystem/face.h"

namespace vo::platform {

namespace {

constexpr uint32_t kWindowTag = 0x57494e44;  // "WIND"

struct TextRing {
  char *texts[64];
  uint32_t count, first;
};

struct Desktop {
  Screen screen;
  bool made;
  int holds;  // live DirectDraw objects
  VtWindow *windows;
  uint64_t serials;  // the last serial given to a window
  VtWindow desktop_window;
  LayerSettings settings;
  uint32_t calls[static_cast<size_t>(CallKind::Count)];
  int32_t live[static_cast<size_t>(LiveKind::Count)];
  char *log;
  size_t log_size, log_used;
  TextRing debug, boxes;
};

Desktop &State() {
  static Desktop d{};
  return d;
}

// The system palette of an 8-bit screen: twenty fixed colours (the first
// and last ten), a colour cube between them.
void SystemPalette(PaletteEntry *p) {
  static const uint8_t kFixed[20][3] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                                        {0, 0, 128},     {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                                        {192, 220, 192}, {166, 202, 240}, {255, 251, 240}, {160, 160, 164},
                                        {128, 128, 128}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
                                        {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
  for (int i = 0; i < 10; ++i) {
    p[i] = {kFixed[i][0], kFixed[i][1], kFixed[i][2], 0};
    p[246 + i] = {kFixed[10 + i][0], kFixed[10 + i][1], kFixed[10 + i][2], 0};
  }
  for (int i = 0; i < 236; ++i) {  // 6 x 6 x 6 cube, then greys
    const int c = i < 216 ? i : 0;
    const uint8_t grey = static_cast<uint8_t>(i < 216 ? 0 : 12 * (i - 215));
    p[10 + i] = i < 216
                    ? PaletteEntry{static_cast<uint8_t>(51 * (c % 6)), static_cast<uint8_t>(51 * (c / 6 % 6)),
                                   static_cast<uint8_t>(51 * (c / 36)), 0}
                    : PaletteEntry{grey, grey, grey, 0};
  }
}

PixelKind KindOfBits(int32_t bits) {
  switch (bits) {
    case 8: return PixelKind::Indexed8;
    case 16: return PixelKind::Rgb565;
    case 24: return PixelKind::Rgb888;
    default: return PixelKind::X888;
  }
}

// New zero pixels for a mode; the old screen stays until the new one exists.
Result ScreenMake(Screen *s, int32_t width, int32_t height, int32_t bits) {
  const size_t pitch = (static_cast<size_t>(width) * static_cast<uint32_t>(bits) / 8 + 3) & ~size_t{3};
  const size_t bytes = pitch * static_cast<size_t>(height);
  if (bytes > UINT32_MAX) return E_OUTOFMEMORY;
  auto *pixels = static_cast<uint8_t *>(Allocate(bytes));
  if (pixels == nullptr) return E_OUTOFMEMORY;
  std::memset(pixels, 0, bytes);
  Free(s->pixels);
  s->pixels = pixels;
  s->width = width;
  s->height = height;
  s->bits = bits;
  s->kind = KindOfBits(bits);
  s->pitch = pitch;
  SystemPalette(s->palette);
  if (s->inverse != nullptr) s->inverse = InverseTableMake(s->palette, s->inverse);
  return kOk;
}

void Remember(TextRing &ring, const char *text) {
  char *copy = TextCopy(text != nullptr ? text : "");
  if (copy == nullptr) return;
  if (ring.count == 64) {
    VoDeallocate(ring.texts[ring.first]);
    ring.texts[ring.first] = copy;
    ring.first = (ring.first + 1) % 64;
    return;
  }
  ring.texts[(ring.first + ring.count++) % 64] = copy;
}

void Forget(TextRing &ring) {
  for (uint32_t i = 0; i < ring.count; ++i) VoDeallocate(ring.texts[(ring.first + i) % 64]);
  ring = TextRing{};
}

const char *RingText(const TextRing &ring, uint32_t i) {
  return i < ring.count ? ring.texts[(ring.first + i) % 64] : nullptr;
}

bool SideOk(int32_t side) { return side >= 1 && side <= kSideLimit; }

}  // namespace

void *Allocate(size_t bytes) {
  return bytes <= UINT32_MAX ? VoAllocate(static_cast<uint32_t>(bytes)) : nullptr;
}
void Free(void *block) {
  if (block != nullptr) VoDeallocate(block);
}

Rect RectIntersect(const Rect &a, const Rect &b) {
  if (RectEmpty(a) || RectEmpty(b)) return Rect{0, 0, 0, 0};
  Rect r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
         a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
  return RectEmpty(r) ? Rect{0, 0, 0, 0} : r;
}

Screen *ScreenGet() {
  Desktop &d = State();
  if (!d.made) {
    if (ScreenMake(&d.screen, VO_DESKTOP_DEFAULT_WIDTH, VO_DESKTOP_DEFAULT_HEIGHT, VO_DESKTOP_DEFAULT_BITS) !=
        kOk)
      return nullptr;
    d.made = true;
  }
  return &d.screen;
}

Result ScreenSetMode(int32_t width, int32_t height, int32_t bits) {
  Desktop &d = State();
  if (!SideOk(width) || !SideOk(height) || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
    return E_INVALIDARG;
  if (d.holds > 0) return DDERR_WRONGMODE;
  if (ScreenMake(&d.screen, width, height, bits) != kOk) return E_OUTOFMEMORY;
  d.made = true;
  return kOk;
}

PixelView ScreenView() {
  Screen *s = ScreenGet();
  if (s == nullptr) return PixelView{};
  if (s->kind == PixelKind::Indexed8 && s->inverse == nullptr)
    s->inverse = InverseTableMake(s->palette, nullptr);
  return PixelView{s->pixels, s->pitch, s->width, s->height, s->kind, s->palette, s->inverse};
}

void ScreenHold(int delta) { State().holds += delta; }

void DesktopRelease() {
  Desktop &d = State();
  GdiRelease();
  while (d.windows != nullptr) (void)WindowDestroy(d.windows);
  Free(d.screen.pixels);
  Free(d.screen.inverse);
  d.screen = Screen{};
  d.made = false;
  Forget(d.debug);
  Forget(d.boxes);
  CallLogClear();
}

bool IsWindow(const VtWindow *window) {
  if (window == nullptr) return false;
  for (const VtWindow *w = State().windows; w != nullptr; w = w->next)
    if (w == window) return w->tag == kWindowTag;
  return window == &State().desktop_window;
}

uint64_t WindowSerial(const VtWindow *window) { return IsWindow(window) ? window->serial : 0; }

bool WindowIsNamed(const VtWindow *window, uint64_t serial) {
  return IsWindow(window) && window->serial == serial;
}

VtWindow *WindowCreate(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!SideOk(width) || !SideOk(height) || ScreenGet() == nullptr) return nullptr;
  auto *w = Make<VtWindow>();
  if (w == nullptr) return nullptr;
  *w = VtWindow{kWindowTag, x, y, width, height, State().windows};
  w->serial = ++State().serials;
  State().windows = w;
  LiveCount(LiveKind::Window, 1);
  return w;
}

Result WindowMove(VtWindow *window, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!IsWindow(window) || window == &State().desktop_window) return E_INVALIDARG;
  if (!SideOk(width) || !SideOk(height)) return E_INVALIDARG;
  window->x = x;
  window->y = y;
  window->width = width;
  window->height = height;
  return kOk;
}

Result WindowDestroy(VtWindow *window) {
  Desktop &d = State();
  for (VtWindow **at = &d.windows; *at != nullptr; at = &(*at)->next)
    if (*at == window) {
      *at = window->next;
      window->tag = 0;
      Unmake(window);
      LiveCount(LiveKind::Window, -1);
      return kOk;
    }
  return E_INVALIDARG;
}

VtWindow *GetDesktopWindow() {
  Desktop &d = State();
  Screen *s = ScreenGet();
  d.desktop_window =
      VtWindow{kWindowTag, 0, 0, s != nullptr ? s->width : 0, s != nullptr ? s->height : 0, nullptr};
  return &d.desktop_window;
}

// The most recently created window is the active one.
VtWindow *GetActiveWindow() { return State().windows; }

bool GetClientRect(const VtWindow *window, Rect *rect) {
  if (!IsWindow(window) || rect == nullptr) return false;
  *rect = Rect{0, 0, window->width, window->height};
  return true;
}

bool ClientToScreen(const VtWindow *window, Point *point) {
  if (!IsWindow(window) || point == nullptr) return false;
  point->x += window->x;
  point->y += window->y;
  return true;
}

int32_t GetSystemMetrics(int32_t index) {
  Screen *s = ScreenGet();
  switch (index) {
    case SM_CXMIN:
    case SM_CYMIN: return 32;
    case SM_CXMAXTRACK: return s != nullptr ? s->width : 0;
    case SM_CYMAXTRACK: return s != nullptr ? s->height : 0;
    default: return 0;
  }
}

uint32_t GetSystemPaletteEntries(uint32_t first, uint32_t count, PaletteEntry *entries) {
  Screen *s = ScreenGet();
  if (s == nullptr || entries == nullptr || first >= 256) return 0;
  const uint32_t n = count < 256 - first ? count : 256 - first;
  std::memcpy(entries, s->palette + first, n * sizeof(PaletteEntry));
  return n;
}

bool GetVersionExA(OsVersionInfo *info) {
  const LayerSettings &s = Settings();
  if (info == nullptr || info->size != sizeof(OsVersionInfo) || s.version_fails) return false;
  std::memset(reinterpret_cast<char *>(info) + 4, 0, sizeof(OsVersionInfo) - 4);
  info->major = 2;
  info->platform_id = s.platform_id;
  return true;
}

void *GetModuleHandleA(const char *name) {
  static char token;
  return name == nullptr ? &token : nullptr;
}

void OutputDebugStringA(const char *text) {
  Remember(State().debug, text);
  Post(VO_CLASS_DEBUG, messages::kDesktopDebugText, VO_MODULE_DIRECT3D, text != nullptr ? text : "");
}

int32_t MessageBoxA(VtWindow *, const char *text, const char *caption, uint32_t) {
  Remember(State().boxes, text);
  Post(VO_CLASS_ERROR, messages::kDesktopMessageBox, VO_MODULE_DIRECT3D, caption != nullptr ? caption : "",
       text != nullptr ? text : "");
  return 1;
}

uint32_t DebugTextCount() { return State().debug.count; }
const char *DebugText(uint32_t i) { return RingText(State().debug, i); }
uint32_t MessageBoxCount() { return State().boxes.count; }
const char *MessageBoxText(uint32_t i) { return RingText(State().boxes, i); }

LayerSettings &Settings() { return State().settings; }

void SettingsReset() {
  Desktop &d = State();
  d.settings = LayerSettings{};
  std::memset(d.calls, 0, sizeof d.calls);
  Forget(d.debug);
  Forget(d.boxes);
  CallLogClear();
  if (d.holds == 0 && d.made)
    (void)ScreenSetMode(VO_DESKTOP_DEFAULT_WIDTH, VO_DESKTOP_DEFAULT_HEIGHT, VO_DESKTOP_DEFAULT_BITS);
}

Result CallCheck(CallKind kind, const char *name) {
  Desktop &d = State();
  const uint32_t n = ++d.calls[static_cast<size_t>(kind)];
  if (d.settings.log_calls && name != nullptr) {
    const size_t len = std::strlen(name) + 1;
    if (d.log_used + len + 1 > d.log_size) {
      const size_t size = (d.log_size + len + 1) * 2;
      auto *grown = static_cast<char *>(Allocate(size));
      if (grown != nullptr) {
        if (d.log != nullptr) std::memcpy(grown, d.log, d.log_used + 1);
        Free(d.log);
        d.log = grown;
        d.log_size = size;
      }
    }
    if (d.log_used + len + 1 <= d.log_size) {
      std::memcpy(d.log + d.log_used, name, len - 1);
      d.log_used += len;
      d.log[d.log_used - 1] = '\n';
      d.log[d.log_used] = '\0';
    }
  }
  return d.settings.fail_kind == kind && n == d.settings.fail_at ? d.settings.fail_result : kOk;
}

const char *CallLog() { return State().log != nullptr ? State().log : ""; }

void CallCountsClear() { std::memset(State().calls, 0, sizeof State().calls); }

void CallLogClear() {
  Desktop &d = State();
  Free(d.log);
  d.log = nullptr;
  d.log_size = d.log_used = 0;
}

void LiveCount(LiveKind kind, int delta) { State().live[static_cast<size_t>(kind)] += delta; }
int32_t LiveCountGet(LiveKind kind) { return State().live[static_cast<size_t>(kind)]; }

}  // namespace vo::platform

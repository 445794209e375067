// The operating-system and DirectX probes: the platform code kept in the
// context, the DirectX version check through the layer's loader table and
// interface queries, and VoD3DInfo's pairs of texts.
//
// Every path of the check past loading DDRAW.DLL releases each interface it
// got and frees the library before answering; a missing library, entry or
// interface only lowers the version found.
#include <cstdio>
#include <cstring>

#include "backends/vod3d/d3d.h"

namespace vo::d3d {

namespace {

using platform::InterfaceId;
using platform::kOk;

constexpr uint32_t kPlatformWin32s = 0, kPlatformWindows = 1, kPlatformNT = 2;

// Holds the interfaces of one check and gives them back in reverse order.
struct Probe {
  void *library = nullptr;
  platform::DirectDraw *ddraw = nullptr;
  platform::Surface *primary = nullptr;
  void *surface3 = nullptr;
  void *surface4 = nullptr;

  ~Probe() {
    if (surface4 != nullptr) static_cast<platform::Surface *>(surface4)->Release();
    if (surface3 != nullptr) static_cast<platform::Surface *>(surface3)->Release();
    if (primary != nullptr) primary->Release();
    if (ddraw != nullptr) ddraw->Release();
    if (library != nullptr) (void)platform::FreeLibrary(library);
  }
};

bool DirectInputPresent() {
  void *dinput = platform::LoadLibraryA("DINPUT.DLL");
  if (dinput == nullptr) return false;
  const bool entry = platform::GetProcAddress(dinput, "DirectInputCreateA") != nullptr;
  (void)platform::FreeLibrary(dinput);
  return entry;
}

// The identifier through DirectDraw4, zero when the object offers none.
void IdentifierRead(platform::DirectDraw *ddraw, VtD3DDeviceIdentifier *out) {
  platform::DeviceIdentifier local{};
  void *ddraw4 = nullptr;
  if (ddraw->QueryInterface(InterfaceId::DirectDraw4, &ddraw4) == kOk) {
    (void)static_cast<platform::DirectDraw *>(ddraw4)->GetDeviceIdentifier(&local, 0);
    static_cast<platform::DirectDraw *>(ddraw4)->Release();
  }
  static_assert(sizeof local == sizeof *out);
  if (out != nullptr) std::memcpy(static_cast<void *>(out), &local, sizeof local);
}

uint32_t DirectXVersion(VtD3DDeviceIdentifier *identifier) {
  Probe p;
  p.library = platform::LoadLibraryA("DDRAW.DLL");
  if (p.library == nullptr) return 0;
  using Create = platform::Result (*)(const platform::Guid *, platform::DirectDraw **, void *);
  auto create = reinterpret_cast<Create>(platform::GetProcAddress(p.library, "DirectDrawCreate"));
  if (create == nullptr || create(nullptr, &p.ddraw, nullptr) != kOk) return 0;
  void *ddraw2 = nullptr;
  if (p.ddraw->QueryInterface(InterfaceId::DirectDraw2, &ddraw2) != kOk) return 0x100;
  static_cast<platform::DirectDraw *>(ddraw2)->Release();
  if (!DirectInputPresent()) return 0x200;
  platform::SurfaceDesc desc{};
  desc.size = sizeof desc;
  desc.flags = platform::DDSD_CAPS;
  desc.caps = platform::DDSCAPS_PRIMARYSURFACE;
  if (p.ddraw->SetCooperativeLevel(nullptr, platform::DDSCL_NORMAL) != kOk ||
      p.ddraw->CreateSurface(&desc, &p.primary, nullptr) != kOk)
    return 0;
  if (p.primary->QueryInterface(InterfaceId::Surface3, &p.surface3) != kOk) return 0x300;
  if (p.primary->QueryInterface(InterfaceId::Surface4, &p.surface4) != kOk) return 0x500;
  IdentifierRead(p.ddraw, identifier);
  return 0x600;
}

bool PlatformIdentifier(uint32_t *id) {
  platform::OsVersionInfo info{};
  info.size = sizeof info;
  if (!platform::GetVersionExA(&info)) return false;
  *id = info.platform_id;
  return true;
}

template <class... A>
void Report(VtD3DInfoProc reporter, void *user, const char *name, const char *format, A... args) {
  char text[512];
  std::snprintf(text, sizeof text, format, args...);
  reporter(user, name, text);
}

void IdentifierReport(VtD3DInfoProc reporter, void *user, const VtD3DDeviceIdentifier &id) {
  Report(reporter, user, "szDriver", "%.511s", id.driver);
  Report(reporter, user, "szDescription", "%.511s", id.description);
  Report(reporter, user, "wProduct", "%.4x", id.driver_version_high >> 16);
  Report(reporter, user, "wVersion", "%.4x", id.driver_version_high & 0xffffu);
  Report(reporter, user, "wSubVersion", "%.4x", id.driver_version_low >> 16);
  Report(reporter, user, "wBuild", "%.4x", id.driver_version_low & 0xffffu);
  Report(reporter, user, "dwVendorId", "%.8x", id.vendor_id);
  Report(reporter, user, "dwDeviceId", "%.8x", id.device_id);
  Report(reporter, user, "dwSubSysId", "%.8x", id.subsys_id);
  Report(reporter, user, "dwRevision", "%.8x", id.revision);
  Report(reporter, user, "dwData1", "%.4x", id.guid_data1);
  Report(reporter, user, "wData2", "%.4x", unsigned{id.guid_data2});
  Report(reporter, user, "wData3", "%.4x", unsigned{id.guid_data3});
  const uint8_t *b = id.guid_data4;
  Report(reporter, user, "lpbData3[8]", "%.2x %.2x %.2x %.2x %.2x %.2x %.2x %.2x ", b[0], b[1], b[2], b[3],
         b[4], b[5], b[6], b[7]);
}

}  // namespace

uint32_t PlatformCode() {
  platform::OsVersionInfo info{};
  info.size = sizeof info;
  if (!platform::GetVersionExA(&info)) return 0;
  switch (info.platform_id) {
    case kPlatformWin32s: return 8;
    case kPlatformWindows: return info.minor > 0 ? 4 : 2;
    case kPlatformNT: return 1;
    default: return 0;
  }
}

}  // namespace vo::d3d

namespace vo {

uint32_t VoD3DGetDXVersion(uint32_t *platform_id, VtD3DDeviceIdentifier *identifier) {
  uint32_t id = 0;
  const bool known = d3d::PlatformIdentifier(&id);
  if (platform_id != nullptr) *platform_id = id;
  return known ? d3d::DirectXVersion(identifier) : 0;
}

VtStatus VoD3DInfo(void *user, VtD3DInfoProc reporter) {
  if (reporter == nullptr) return VO_STATUS_BAD_ARGUMENT;
  VtD3DDeviceIdentifier id{};
  uint32_t platform_id = 0;
  const uint32_t version = VoD3DGetDXVersion(&platform_id, &id);
  const char *name = platform_id == d3d::kPlatformNT        ? "Windows NT"
                     : platform_id == d3d::kPlatformWindows ? "Windows 9X"
                                                            : "Unknown";
  reporter(user, "DXPlatform", name);
  d3d::Report(reporter, user, "DXVersion", "%.4x", version);
  if (version >= 0x600) d3d::IdentifierReport(reporter, user, id);
  return 0;
}

}  // namespace vo

// Placeholder until the software Direct3D device lands: DirectDraw offers
// no Direct3D side and texture surfaces no texture interface.
#include "platform/ddraw.h"

namespace vo::platform {

Result Direct3DCreate(DirectDraw *, void **out) {
  if (out != nullptr) *out = nullptr;
  return E_NOINTERFACE;
}

Result TextureCreate(Surface *, void **out) {
  if (out != nullptr) *out = nullptr;
  return E_NOINTERFACE;
}

}  // namespace vo::platform

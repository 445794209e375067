// What the pro library's surface classes share beyond their own files: the
// once-per-image reports.

#include "shading/voshpro/surfaces.h"

#include "shading/voshader/face.h"

namespace vo::pro {

namespace {
// Raised by every start of the library, so that a report made before a
// restart is due again.
std::atomic<uint32_t> g_generation{0};
}  // namespace

bool FirstInImage(std::atomic<uint64_t> &report) {
  const uint64_t image = (uint64_t{g_generation.load()} << 32) | (shader::ImageSerial() + 1u);
  return report.exchange(image) != image;
}

void SurfacesStart() { g_generation.fetch_add(1); }

}  // namespace vo::pro

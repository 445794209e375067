// The length of a scan row, for the journal and the command interpreter: the
// floats a row of the buffer's region holds in each layout of the Get/SetScan
// procedures. The interpreter asks before the call, so the buffer is looked
// up among the live ones before it is read; a dead one is not sized (the
// call refuses it without touching the row).

#include <cstring>

#include "render/voscrbuf/screenbuf.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

bool Row(const void *const *argv, uint32_t param, uint32_t step, api::VtApiShape *shape) {
  const VtScreenBuffer *b = nullptr;
  std::memcpy(&b, argv[0], sizeof b);
  if (param != 2 || !sb::Live(b) || b->region[1] < b->region[0]) return false;
  shape->type = VtFloat;
  shape->count = static_cast<uint64_t>(b->region[1] - b->region[0] + 1) * step;
  return true;
}

}  // namespace

bool ScreenBufferRowRGB(const void *const *argv, uint32_t param, uint64_t, api::VtApiShape *shape) {
  return Row(argv, param, sb::kRGB.step, shape);
}
bool ScreenBufferRowRGBA(const void *const *argv, uint32_t param, uint64_t, api::VtApiShape *shape) {
  return Row(argv, param, sb::kRGBA.step, shape);
}
bool ScreenBufferRowRGBAZ(const void *const *argv, uint32_t param, uint64_t, api::VtApiShape *shape) {
  return Row(argv, param, sb::kRGBAZ.step, shape);
}

}  // namespace vo

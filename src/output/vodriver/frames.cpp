// Which render holds a file driver's frame open. A file driver keeps one
// stream and one frame's rows in its module state, whichever copy of its
// record is called: a render started inside another (from its progress
// callback, its poll, a shader) whose frame went to the same file driver
// would release the outer frame's rows and write its own file, and the
// outer render's rows and end frame would then fail. So the framework's
// begin frame refuses such a frame before the driver or the record's
// recorded region is touched, and the outer render answers and writes
// what it does alone.
//
// Invariants a reader must know:
// - an entry names a driver by its query function and a render by its
//   VoExecute serial; it is set when the driver's own begin frame succeeds
//   and freed at the driver's end frame through the framework;
// - an entry whose render no longer encloses the calling one refuses
//   nothing: an entry left behind (an end frame the application replaced,
//   a render that never ended its frame) is taken over by the next frame;
// - only drivers that answer VO_CONTROL_DRIVER_FILE are held: the image
//   driver and application drivers nest as before (a screen buffer holds
//   its own frame the same way: voscrbuf/held.cpp);
// - frames are begun on the calling thread only; a worker's copy of the
//   state holds no entries.

#include "output/vodriver/driver.h"
#include "kernel/vosystem/face.h"

namespace vo::driver {
namespace {

FrameHolder *HolderOf(DriverState *s, VtQueryFunction driver) {
  for (FrameHolder &h : s->frame_holders)
    if (h.driver == driver && h.render != 0) return &h;
  return nullptr;
}

// The entry for a driver: its own, else one free or left by a render that
// has ended (the first when every entry is held; four file drivers each
// with a frame open inside one another are not met in practice).
FrameHolder *HolderFor(DriverState *s, VtQueryFunction driver) {
  if (FrameHolder *h = HolderOf(s, driver)) return h;
  for (FrameHolder &h : s->frame_holders)
    if (h.render == 0 || (h.render != ExecuteSerial() && !ExecuteEncloses(h.render))) return &h;
  return &s->frame_holders[0];
}

}  // namespace

VtStatus FrameHeldRefuse(DriverState *s, const VtDriverRecord *driver) {
  if (driver == nullptr || !driver->writes_file) return 0;
  const FrameHolder *h = HolderOf(s, driver->query);
  if (h == nullptr || !ExecuteEncloses(h->render)) return 0;
  if (h->promised != 0 && !InCallbackOf(h->render)) return 0;
  uint32_t code = 0;
  (void)VoExecuteCurrentGet(&code);
  Post(VO_STATUS_BAD_ARGUMENT, messages::kFrameHeld, VO_MODULE_DRIVER, code, driver->name, h->code);
  return VO_STATUS_BAD_ARGUMENT;
}

void FrameHeld(DriverState *s, const VtDriverRecord *driver) {
  if (driver == nullptr || !driver->writes_file) return;
  const uint64_t render = ExecuteSerial();
  if (render == 0) {  // a frame the application begins itself is no render's
    FrameLetGo(s, driver);
    return;
  }
  FrameHolder *h = HolderFor(s, driver->query);
  h->driver = driver->query;
  h->render = render;
  h->code = 0;
  h->promised = 0;
  (void)VoExecuteCurrentGet(&h->code);
}

void FramePromise() {
  DriverState *s = State();
  if (s == nullptr || s->is_copy != 0) return;
  const VtDriverRecord *driver = Active(s);
  if (driver == nullptr || !driver->writes_file) return;
  // A frame a render around this one holds, or will, stays its own.
  if (const FrameHolder *h = HolderOf(s, driver->query); h != nullptr && ExecuteEncloses(h->render)) return;
  FrameHolder *h = HolderFor(s, driver->query);
  *h = FrameHolder{driver->query, ExecuteSerial(), 0, 1};
  (void)VoExecuteCurrentGet(&h->code);
}

void FrameLetGo(DriverState *s, const VtDriverRecord *driver) {
  if (driver == nullptr || !driver->writes_file) return;
  if (FrameHolder *h = HolderOf(s, driver->query)) *h = FrameHolder{};
}

}  // namespace vo::driver

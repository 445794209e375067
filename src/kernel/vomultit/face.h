// The work farm's face: what the driver framework asks of the farm, namely
// whether the calling thread is one of its workers, and the image reads and
// releases a worker carries to the main thread (only the main thread talks
// to the output driver).
#pragma once

#include <vo/vo_driver.h>

namespace vo::multit {

// True on a worker thread of the active pass.
bool OnWorker();
// The number of workers a pass may use: control 0x520001, a negative value
// the machine's core count, at most 64.
uint32_t WorkerCount();
// While a render the application starts from a callback of another render
// runs on the main thread: the workers of the other render's pass finish
// the items they hold and are given no more until the release, so the two
// share nothing (their rows and polls wait). Nothing while no pass has
// workers, or on a worker.
void WorkersHold();
void WorkersRelease();
// True between a pass's begin and end: a render made meanwhile (a shadow
// map the ray tracer's pass makes before its workers start) begins no pass
// of its own, which would take the begun pass's place.
bool PassBegun();
// A worker's image read and release, carried to the main thread (the
// driver framework's VoImageRead and VoImageDestroy call them on workers;
// callbacks 0x52000a and 0x52000e answer those).
VtImage *FarmImageRead(const char *name);
VtStatus FarmImageRelease(VtImage *image);

}  // namespace vo::multit

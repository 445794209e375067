// The seam where the intersection of polygons joins the module: its pools
// and work arrays at start, their release at terminate, and execute
// 0x160002. Until the intersection is built the pools and arrays are not
// made and the execute code answers 2, as for a missing operation.

#include "vogeops/geops.h"

namespace vo::geops {

VtStatus IntersectionStart(GeopsContext *) { return 0; }

VtStatus IntersectionStop(GeopsContext *) { return 0; }

VtStatus IntersectAll() { return VO_STATUS_UNAVAILABLE; }

}  // namespace vo::geops

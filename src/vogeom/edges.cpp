// Shared edges built from polygons: stand-ins until edge building is built.

#include "vogeom/scene_hooks.h"

namespace vo {

VtStatus PrimitiveEdgesInitialise(VtPrimitive *) { return 0; }

VtStatus PrimitiveEdgesLink(VtPrimitive *) { return 0; }

}  // namespace vo

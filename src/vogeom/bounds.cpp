// Bounds of primitives and the scene-bounds cache. The bounds computation is
// a stand-in until the bounds work is built; the cache flag is real.

#include "vogeom/geom_state.h"
#include "vogeom/scene_hooks.h"

namespace vo {

VtStatus PrimitiveBoundsCompute(VtPrimitive *, VtBounds *) { return 0; }

void SceneBoundsInvalidate() {
  if (GeomState *g = Geom()) g->scene_bounds_valid = 0;
}

}  // namespace vo

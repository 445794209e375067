// The values of the current view that the geometry module caches: a
// stand-in until the view module exists.

#include "vogeom/geom_state.h"
#include "vogeom/scene_hooks.h"

namespace vo {

void ViewValuesFetch(GeomState *g) {
  g->view_resolution = nullptr;
  g->view_direction = nullptr;
  g->view_eye = nullptr;
}

}  // namespace vo

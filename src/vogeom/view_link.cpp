// The values of the current view that the geometry module caches: their
// addresses never move while the view module runs.

#include <vo/vo_view.h>

#include "vogeom/geom_state.h"
#include "vogeom/scene_hooks.h"

namespace vo {

namespace {

// Null while the view module is not started.
const void *ViewValue(uint32_t code) {
  if (!ModuleStarted(VO_MODULE_VIEW)) return nullptr;
  VtTypedValue v{};
  return VoViewGetValue(code, &v) == 0 ? v.value.p : nullptr;
}

}  // namespace

void ViewValuesFetch(GeomState *g) {
  g->view_resolution = ViewValue(VO_VIEW_VALUE_RESOLUTION);
  g->view_direction = ViewValue(VO_VIEW_VALUE_DIRECTION);
  g->view_eye = ViewValue(VO_VIEW_VALUE_EYE);
}

}  // namespace vo

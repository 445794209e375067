// The geometry module's face: the scene model (primitives, contents, elements and
// their properties), list walks, the robust predicates, polygon measures,
// shared edges, the hooks other modules register, and the geometry state
// and messages its sister modules share.
#pragma once

#include "scene/vogeom/scene.h"
#include "scene/vogeom/list_walk.h"
#include "scene/vogeom/predicates.h"
#include "scene/vogeom/polygon_measures.h"
#include "scene/vogeom/edges.h"
#include "scene/vogeom/scene_hooks.h"
#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/geom_messages.h"

// Polygon measures and vertex normals: stand-ins until the polygon measures
// (plane, area, normal spread angle) and the normal generation are built.

#include "vogeom/scene_hooks.h"

namespace vo {

VtStatus PolygonPlaneCompute(VtPrimitive *, VtPolygon *, float *) { return VO_STATUS_UNAVAILABLE; }

VtStatus PolygonAreaCompute(VtPrimitive *, VtPolygon *, float *) { return 0; }

VtStatus PolygonAngleCompute(VtPrimitive *, VtPolygon *, float *) { return 0; }

VtStatus VertexNormalsGenerate(VtPrimitive *) { return 0; }

}  // namespace vo

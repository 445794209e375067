// Procedures of the scene model that the property handlers, the copier and
// the module call: polygon measures and vertex normals, bounds and the
// scene-bounds cache, shared edges, and the view values the geometry module
// caches.
#pragma once

#include "scene/vogeom/face.h"
#include "scene/vogeom/scene.h"

namespace vo {

struct GeomState;

// ---- measures.cpp: planes, areas, normal spread, vertex normals -----------

// The plane (a, b, c, d) of a polygon from its vertex ring (initialise
// handler of plane 518, and its enquiry when the polygon has no planeptr).
// Answers 2 and leaves plane[] unchanged when no plane can be formed; other
// primitive types than 1-4 leave it unchanged and answer 0.
VtStatus PolygonPlaneCompute(VtPrimitive *p, VtPolygon *polygon, float plane[4]);
// The signed area of a polygon about its plane normal (area 521).
VtStatus PolygonAreaCompute(VtPrimitive *p, VtPolygon *polygon, float *area);
// The normal spread angle of a polygon in radians (angle 534).
VtStatus PolygonAngleCompute(VtPrimitive *p, VtPolygon *polygon, float *angle);
// Vertex normals by the normal-generation flags (reset of vertex normal 1030
// with no vertex).
VtStatus VertexNormalsGenerate(VtPrimitive *p);
// Vertex normals as the sum of the stored plane normals of the polygons
// that reference each vertex, normalised (the average method); answers 0
// and changes nothing when the layout lacks what it needs.
VtStatus VertexNormalsAverage(VtPrimitive *p);
// The crease method (crease.cpp).
VtStatus VertexNormalsCrease(VtPrimitive *p);

// ---- bounds.cpp: bounds of primitives and the scene ------------------------

// The bounds of a primitive in its own coordinates (initialise handler and
// enquiry of bounds 267): the union of the members' world bounds for list
// primitives (zeros and 0x20000012 when empty), else the box of the vertex
// ring (unchanged when it is empty), widened for line primitives.
VtStatus PrimitiveBoundsCompute(VtPrimitive *p, VtBounds *box);
// Widens the box of a line primitive (types 5 and 6) by its line width
// (299, in pixels) as the current view projects it: for each corner of the
// box, the world distance that the pixel offset spans there. Without a view
// module the box is left as it is.
VtStatus LineBoundsWiden(VtPrimitive *p, VtBounds *box);

// ---- edges.cpp: shared edges ---------------------------------------------

// The initialise handler of the primitive's edges property 268: builds the
// edge ring from the polygons when the property is empty, and sets flag
// 0x100 when edges resulted.
VtStatus PrimitiveEdgesInitialise(VtPrimitive *p);
// Re-links polygons and edges after the edges property was re-initialised
// (reset of 268): when the first edge has no polygons, the edges are
// registered at their vertices again and the polygons found on their sides.
VtStatus PrimitiveEdgesLink(VtPrimitive *p);

// Expansion (expansion*.cpp, expansion.h) uses the copier, ListPath against
// member lists that lead back to themselves, the transform procedures and
// the outside expanders fetched when callbacks change, and the retained
// property 297, whose destroy handler destroys only the pieces marked
// VO_PRIMITIVE_RETAINED_PIECE.

// ---- view_link.cpp: values of the current view -----------------------------

// Caches the addresses of the current view's evaluated values 12, 19 and 4
// in the module state (callbacks-changed procedure); null while the view
// module is not started.
void ViewValuesFetch(GeomState *g);

}  // namespace vo

// What one OpenGL frame carries besides the context record, shared by the
// frame's procedures (render.cpp) and primitive drawing (draw.cpp).
//
// Invariants a reader must know:
// - a frame exists from image begin to image end; OpenGL is called only
//   while `context` is set;
// - matrices[d] is the view times the model transforms of the d levels
//   pushed; model[d] the model transforms alone (per-vertex texture
//   coordinates are made in world space);
// - deferred records copy the matrices and the mirroring parity they were
//   drawn under; their material caches stay held by the primitives'
//   records for the frame, unless the application destroys a primitive
//   between its deferral and image end (it is then not drawn);
// - a list member the application destroyed is passed over (MemberDrawn).
#pragma once

#include "scene/vogeom/face.h"
#include "backends/voopengl/opengl.h"

struct VtOpenGLDeferred {
  VtOpenGLDeferred *next;
  VtPrimitive *primitive;
  VtShader *space;
  VtOpenGLMaterialCache *cache;
  double matrix[16];
  double model[16];
  uint32_t mirrored;
  uint32_t depth;  // the transform levels in force (per-vertex coordinates carry them)
};

namespace vo::opengl {

struct Frame {
  bool context = false;  // a context is current: OpenGL may be called
  double matrices[kTransformStackDepth + 1][16];
  double model[kTransformStackDepth + 1][16];
  uint32_t depth = 0;
  bool depth_posted = false;
  ListPath path;
  uint32_t expand_depth = 0;
  bool drawing_deferred = false;  // image end draws the deferred list
  // Display lists are made only in a share group that outlives the frame:
  // one remade every frame and dropped with its context is work lost, and
  // its storage coming and going each frame grows the process's heap.
  bool lists_kept = true;
};

// The open frame, or null.
Frame *CurrentFrame();

// Loads matrices[depth] as OpenGL's model-view matrix.
void MatrixLoad(Frame *f);

// Whether a member of a list walked (the scene's ring or a group's) is
// drawn: a primitive the application destroyed while the list still names
// it (a legal destroy outside a render) is passed over in silence, as its
// record went with it; a null member goes on to the drawing procedure's 2.
inline bool MemberDrawn(const VtPrimitive *p) { return p == nullptr || PrimitiveLive(p); }

// The drawing procedure: a primitive with the inherited material cache and
// texture space (lists and groups pass theirs on).
VtStatus PrimitiveDraw(VtOpenGLContext *c, Frame *f, VtPrimitive *p, VtOpenGLMaterialCache *inherited,
                       VtShader *space);

// Draws and frees the deferred primitives (image end).
VtStatus DeferredDraw(VtOpenGLContext *c, Frame *f);
// Frees the deferred primitives undrawn (a frame without a context).
void DeferredDrop(VtOpenGLContext *c);

}  // namespace vo::opengl

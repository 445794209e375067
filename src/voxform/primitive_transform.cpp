// The primitive property "transform" (291) and VoPrimitiveSetTransform.
//
// WAITS FOR PRIMITIVES: the element-property registry and VtPrimitive (the
// scene model's backbone) are not in the library yet. Until they are, this
// file holds the two hooks the module calls, and they do nothing:
//
//   TransformPropertyStart   start step "property 291 with its handlers";
//                            answers 0 and registers nothing.
//   PrimitiveSetTransformProcedure
//                            the procedure behind callback 0xf0006; null,
//                            so a get of 0xf0006 answers 2 (not available).
//
// What goes here once primitives land:
//
// 1. TransformPropertyStart registers the primitive property named by the
//    module's formatter "voxform:%s:%d" from "transform" and 291 (stored
//    name voxform:transform), value type 11 (a pointer), count 1, and sets
//    its handlers with VoPropertySetHandler:
//      initialise  store null;
//      destroy     VoTransformRelease the held transform, store null;
//      copy        TransformReference (transform.h) on the source's
//                  transform, the destination gets the same pointer;
//      enquire     zero s->enquiry_word and answer type 11 with its address
//                  (a primitive without the property reads null);
//      set (3)     VoTransformPrint of the held transform; the OR of the
//                  get status and the report.
//
// 2. VoPrimitiveSetTransform (primitive, transform) -> status, appended to
//    voxform.api as
//      fn VtStatus VoPrimitiveSetTransform(VtPrimitive primitive, VtTransform transform)
//    and returned by PrimitiveSetTransformProcedure:
//      a. null primitive: 0x40000012;
//      b. invalidate the geometry module's cached scene bounds;
//      c. a list primitive (type 9): the same on each member of its prefs
//         list (property 292) in order; the first non-zero status ends the
//         walk; an empty list gives 0;
//      d. when the transform's count is 1 (the application's reference
//         only), VoTransformUpdate once;
//      e. fetch property 291 (VoPrimitiveGetProperty). When it holds the
//         same transform: nothing changes. Otherwise, in this order: a new
//         non-null transform gains a reference (TransformReference; its
//         failure ends the operation with nothing changed), the old
//         non-null one is released (VoTransformRelease), the storage takes
//         the new pointer and is written back with VoPrimitiveSetProperty
//         (which adds the property to a primitive that lacked it). A first
//         transform is referenced like any other; a null one is never
//         read.
//      f. primitive flag 0x200 set for a non-null transform, cleared for
//         null;
//      g. the OR of the get, set and flag statuses.

#include "voxform/transform.h"

namespace vo::xform {

VtStatus TransformPropertyStart(TransformModuleState *s) {
  s->enquiry_word = nullptr;
  return 0;
}

VtProc PrimitiveSetTransformProcedure() { return nullptr; }

}  // namespace vo::xform

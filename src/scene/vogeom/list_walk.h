// Walking list primitives without running round a cycle: a list primitive
// (type 9) whose members lead back to itself is refused, and so is nesting
// deeper than kListDepthMax. Every walk of list trees (bounds, expansion,
// transforms, sidedness, shadow casting, the renderers' own) enters lists
// through it, so that every renderer refuses the same scenes alike: a list
// nested too deep also marks the sticky status word, which the render
// running answers.
//
//   ListPath path;
//   VtStatus Walk(VtPrimitive *list, ListPath &path) {
//     if (VtStatus s = path.Enter(list)) return s;   // 0x20000012 on a cycle
//     ... for each member: Walk(member, path) when it is a list ...
//     path.Leave();
//   }
#pragma once

#include "scene/vogeom/scene.h"
#include "kernel/vosystem/face.h"

namespace vo {

constexpr uint32_t kListDepthMax = 256;

// The refusal of a list met `depth` lists deep, past kListDepthMax: message
// 2020 naming the list and both depths, and 0x20000012 into the sticky
// status word, so that a render answers the refusal whichever walk met it.
VtStatus ListTooDeep(const VtPrimitive *list, uint32_t depth);

class ListPath {
 public:
  // Steps into a list primitive. Refuses (warning 0x20000012) when the list
  // is already on the path (message 2012 naming the list) or the path is
  // full (ListTooDeep); nothing is entered then.
  VtStatus Enter(const VtPrimitive *list) {
    if (depth_ == kListDepthMax) return ListTooDeep(list, depth_ + 1);
    bool cycle = false;
    for (uint32_t i = 0; i < depth_ && !cycle; ++i) cycle = path_[i] == list;
    if (cycle) {
      Post(VO_STATUS_BAD_ARGUMENT, messages::kListCycle, VO_MODULE_GEOMETRY, static_cast<const void *>(list));
      return VO_STATUS_BAD_ARGUMENT;
    }
    path_[depth_++] = list;
    return 0;
  }
  void Leave() { --depth_; }
  uint32_t Depth() const { return depth_; }

 private:
  const VtPrimitive *path_[kListDepthMax];
  uint32_t depth_ = 0;
};

// The member list (prefs 292) of a primitive, or null.
inline VtReference *ListMembers(const VtPrimitive *p) { return HeldPointer<VtReference>(p, VO_PRIM_PREFS); }

}  // namespace vo

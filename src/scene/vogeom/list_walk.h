// Walking list primitives without running round a cycle: a list primitive
// (type 9) whose members lead back to itself is refused, and so is nesting
// deeper than kListDepthMax. Sidedness and shadow casting walk lists with
// it; bounds, transforms and expansion of list trees are to do the same.
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

class ListPath {
 public:
  // Steps into a list primitive. Refuses (warning 0x20000012, message 2012
  // naming the list) when the list is already on the path or the path is
  // full; nothing is entered then.
  VtStatus Enter(const VtPrimitive *list) {
    bool cycle = depth_ == kListDepthMax;
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

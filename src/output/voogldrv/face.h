// The OpenGL output targets' face, what the OpenGL back end asks of them:
// the frame's share group, a context of a group made current (to delete
// display lists and textures outside a frame) and the restore after it, and
// the release of everything.
#pragma once

#include <cstdint>

#include <vo/vo_types.h>

namespace vo::ogldrv {

// The frame target's share-group number, -1 without a frame target.
int32_t FrameShareGroup();
// Makes the group's own context current as the temporary target (a frame
// target current is released first); 2 when no such group lives.
VtStatus GroupMakeCurrent(int32_t group);
// The restore: the frame target current again after a temporary one, or
// nothing current.
VtStatus GroupRestore();
// Whether one of the targets' contexts is current on the calling thread.
bool ContextIsCurrent();
// Whether a group of that number lives.
bool GroupLives(int32_t group);
// Whether the frame target's share group dies with it at image end (target
// mode 0 with the target the group's only member): display lists made in it
// could never be replayed.
bool FrameGroupEndsWithFrame();
// Destroys every target and group (target mode 2: nothing, 0).
VtStatus TargetsReleaseAll();

}  // namespace vo::ogldrv

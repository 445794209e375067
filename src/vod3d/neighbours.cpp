// What the module asks of the drawing of the scene through the device (the
// render window, the frame, the background and the primitive items). Until
// that drawing exists, these stand-ins keep the context consistent: there
// is never a render window, so a window create or a frame answers 2, a
// window destroy answers 2 (no window), and the global texture bitmap is
// only stored, its surfaces being built when a render window is set up.

#include "vod3d/d3d.h"

namespace vo::d3d {

VtStatus GlobalTextureSet(VtD3DContext *c, VtBitmap *bitmap) {
  c->global_bitmap = bitmap;
  return 0;
}

VtStatus RenderWindowCreate(VtD3DContext *) { return VO_STATUS_UNAVAILABLE; }

VtStatus Render(VtD3DContext *) { return VO_STATUS_UNAVAILABLE; }

VtStatus RenderWindowDestroy(VtD3DContext *c) { return c->window_flag != 0 ? 0 : VO_STATUS_UNAVAILABLE; }

VtStatus BackgroundDestroy(VtD3DContext *) { return 0; }

VtStatus PrimListDestroy(VtD3DContext *c) {
  c->items = nullptr;
  c->first_transparent = nullptr;
  return 0;
}

void BackgroundBitmapRelease(VtD3DContext *c) {
  if (c->background_bitmap != nullptr) (void)platform::DeleteObject(c->background_bitmap);
  c->background_bitmap = nullptr;
}

}  // namespace vo::d3d

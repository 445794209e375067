/* The area-light scene of support/area_scene.h rendered with a given
 * worker count, for the threaded comparison; its outcome in the text. */
#include <stdint.h>

#include "support/area_scene.h"

int vo_area_scene_render(const char *path, int32_t workers, char *buffer, size_t size) {
  Text t = {buffer, size};
  const int failed = AreaSceneRender(path, workers);
  Put(&t, "%d workers: render %d\n", (int)workers, failed);
  return failed;
}

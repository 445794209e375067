/* The area-light scene of support/area_scene.h rendered with a given
 * worker count (its light's depth maps of a resolution, the second light
 * pass on or off), for the threaded comparison; its outcome in the text. */
#include <stdint.h>

#include "support/area_scene.h"

int vo_area_scene_render_maps(const char *path, int32_t workers, int second_pass, int32_t resolution,
                              char *buffer, size_t size) {
  Text t = {buffer, size};
  const int failed = AreaSceneRenderWith(path, workers, second_pass, resolution);
  Put(&t, "%d workers, second pass %d, maps %d: render %d\n", (int)workers, second_pass, (int)resolution,
      failed);
  return failed;
}

int vo_area_scene_render(const char *path, int32_t workers, char *buffer, size_t size) {
  return vo_area_scene_render_maps(path, workers, 1, 0, buffer, size);
}

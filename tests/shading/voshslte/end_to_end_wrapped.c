/* The toolkit's wrapped image colour through the C interface alone: the
 * program answers the framework's image reads itself (callback 0x1a0035)
 * with a 4 x 2 picture of its own, wraps it once from the file and once
 * from an image in memory, and writes the colours it samples at points of
 * (s, t), wrapping included, as text. */
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

/* Red 60 x column, green 100 + 100 x row, blue 7. */
static VtImage *Picture(const char *name) {
  VtImage *image;
  int x, y;
  if (name == NULL || strcmp(name, "stripes") != 0) return NULL;
  image = VoImageCreate();
  if (image == NULL) return NULL;
  image->width = 4;
  image->height = 2;
  if (VoImageAllocateData(image) != 0) return NULL;
  for (y = 0; y < 2; ++y)
    for (x = 0; x < 4; ++x) {
      uint8_t *p = image->data + y * image->bytes_per_row + 3 * x;
      p[0] = (uint8_t)(60 * x);
      p[1] = (uint8_t)(100 + 100 * y);
      p[2] = 7;
    }
  return image;
}

static void Samples(Text *t, VtShader *shader, const char *title) {
  static const float at[4][2] = {{0.1f, 0.1f}, {0.6f, 0.1f}, {0.9f, 0.9f}, {-0.1f, 1.6f}};
  VtShaderGlobals *g = VoShaderGetGlobals();
  int i;
  Put(t, "%s:", title);
  for (i = 0; i < 4; ++i) {
    g->s = at[i][0];
    g->t = at[i][1];
    VoShaderExecute(shader);
    Put(t, " (%.0f %.0f %.0f)", g->Co[0] * 255, g->Co[1] * 255, g->Co[2] * 255);
  }
  Put(t, "\n");
}

int vo_end_to_end_wrapped(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtShader *shader;
  VtTypedValue v;
  VtImage *image;
  int failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  failed |= VoCallBackSet(0x1a0035, (VtProc)Picture) != 0;
  failed |= vxs_marlo_wrapped_image_colour() != 0;
  shader = VoShaderCreate(VO_SHADER_COLOUR, "marlo wrapped image");
  if (failed || shader == NULL) {
    VoTerminate();
    return 2;
  }
  Samples(&t, shader, "no image");
  memset(&v, 0, sizeof v);
  v.type = VtString;
  v.value.s = "stripes";
  failed |= VoShaderSetArg(shader, "file name", &v) != 0;
  failed |= VoShaderReset(shader) != 0;
  Samples(&t, shader, "from the file");
  image = Picture("stripes");
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = image;
  failed |= VoShaderSetArg(shader, "image", &v) != 0;
  failed |= VoShaderReset(shader) != 0;
  failed |= VoShaderReset(shader) != 0;
  Samples(&t, shader, "from memory");
  failed |= VoShaderDestroy(shader) != 0;
  failed |= VoImageDestroy(image) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}

/* The ray tracer's first picture through the C interface alone: a parallel
 * 8 x 8 view of a square over the centre 4 x 4 pixels, plain colour
 * (0.25, 0.5, 0.75) under the constant reflectance, a plain black
 * background; execute 0x70001 and 0x70002 into a Targa file, read back.
 * Inside: 0.25 x 255 + 0.5 = 64.25 -> 64, 128, 191.75 -> 191; outside 0.
 * The full pass gives the same interior; the pixels beside it, whose sides
 * the square's edge runs along, cover none of it but for the 1/32 of a side
 * to which the pass places an edge: 64 / 32 = 2.
 * The answer is 0 when every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"

/* One pass into a Targa file, read back and written as text rows of the
 * red channel. */
static int Pass(Text *t, VtDriverRecord *tga, uint32_t code) {
  FILE *f = tmpfile();
  VtTypedValue v;
  VtImage *back;
  VtStatus st;
  int x, y, failed = 0;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = f;
  if (f == NULL || VoDriverSetControl(tga, VO_CONTROL_DRIVER_FILE, &v) != 0) return 1;
  st = VoExecute(code);
  back = VoImageReadFromFile(f, "picture.tga");
  Put(t, "0x%x status %u %s\n", code, st, back != NULL ? "read" : "not read");
  failed = st != 0 || back == NULL;
  if (back != NULL) {
    const uint8_t *centre = &back->data[4 * back->bytes_per_row + 3 * 4];
    Put(t, " centre %d %d %d\n", centre[0], centre[1], centre[2]);
    for (y = 0; y < (int)back->height; ++y) {
      Put(t, " ");
      for (x = 0; x < (int)back->width; ++x) Put(t, " %3d", back->data[y * back->bytes_per_row + 3 * x]);
      Put(t, "\n");
    }
    VoImageDestroy(back);
  }
  v.value.p = NULL;
  VoDriverSetControl(tga, VO_CONTROL_DRIVER_FILE, &v);
  fclose(f);
  return failed;
}

int vo_end_to_end_render(char *buffer, size_t size) {
  static const float corners[4][3] = {{-2, -2, 0}, {2, -2, 0}, {2, 2, 0}, {-2, 2, 0}};
  const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  Text t = {buffer, size};
  VtTypedValue data[1];
  VtDriverRecord *tga;
  VtPrimitive *square;
  VtMaterial *m;
  VtShader *background;
  VtReference *scene;
  int failed;

  if (size == 0) return 1;
  buffer[0] = '\0';
  failed = VoInitialise() != 0;
  EndToEndWorkersApply();
  tga = VoDriverFindFromName("vodrvtga");
  failed |= tga == NULL || VoDriverSet(tga) != 0;
  data[0] = SceneRecord(corners);
  square = VoPrimitiveCreatePolygon(4, 1, ids, data);
  m = VoMaterialCreate();
  background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  if (failed || square == NULL || m == NULL || background == NULL) return 2;
  failed |= VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0;
  failed |= SceneArgTriple(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, 0.25f, 0.5f,
                           0.75f) != 0;
  failed |= VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "constant") != 0;
  failed |= SceneArgTriple(background, "colour", VtColourType, 0, 0, 0) != 0;
  failed |= VoBackgroundSet(background) != 0;
  failed |= VoPrimitiveSetMaterial(square, m) != 0;
  scene = VoPrimitiveListCreate(1, &square);
  failed |= VoPrimitiveListSet(scene) != 0;
  failed |= VoViewSetResolution(NULL, 8, 8, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PARALLEL, 8.0) != 0;
  Put(&t, "set-up %s\n", failed ? "failed" : "done");
  failed |= Pass(&t, tga, 0x70001);
  failed |= Pass(&t, tga, 0x70002);

  VoBackgroundSet(NULL);
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  failed |= VoPrimitiveDestroy(square) != 0;
  failed |= VoMaterialDestroy(m) != 0;
  failed |= VoShaderDestroy(background) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 4 : 0;
}

/* The Direct3D back end's images through the C interface alone: the
 * controls' defaults, VoD3DInfo's pairs through a reporter written in C,
 * the five generated images sampled at fixed pixels, and the cartoon ramp
 * written with VoD3DBMPFromImage (its header bytes) and read back with
 * VoImageRead. The statuses and samples are the text; the answer is 0 when
 * every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

static void Pair(void *user, const char *name, const char *value) {
  Put((Text *)user, " %s=%s", name, value);
}

static void Sample(Text *t, const char *what, const VtImage *image) {
  static const int at[][2] = {{0, 0}, {127, 3}, {255, 100}, {64, 250}, {2, 1}, {200, 200}};
  size_t i;
  Put(t, "%s:", what);
  for (i = 0; i < sizeof at / sizeof at[0]; ++i) {
    const uint8_t *p = image->data + (size_t)at[i][1] * (size_t)image->bytes_per_row + (size_t)at[i][0] * 3;
    Put(t, " %d,%d=%d/%d/%d", at[i][0], at[i][1], p[0], p[1], p[2]);
  }
  Put(t, "\n");
}

static int Controls(Text *t) {
  static const uint32_t codes[] = {VO_CONTROL_D3D_COLOUR_LIFT, VO_CONTROL_D3D_SPECULAR_FACTOR,
                                   VO_CONTROL_D3D_POWER,       VO_CONTROL_D3D_VERTEX_MODE,
                                   VO_CONTROL_D3D_CULL_MODE,   VO_CONTROL_D3D_BACKGROUND_COLOUR};
  size_t i;
  int failed = 0;
  Put(t, "controls:");
  for (i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
    VtTypedValue v;
    memset(&v, 0, sizeof v);
    failed |= VoControlGet(codes[i], &v) != 0;
    if (v.type == VtFloat)
      Put(t, " %g", v.value.f);
    else if (v.type == VtColourType)
      Put(t, " (%g %g %g)", v.value.v[0], v.value.v[1], v.value.v[2]);
    else
      Put(t, " %u", v.value.u);
  }
  Put(t, "\n");
  return failed;
}

static int Images(Text *t, const char *bmp_path) {
  const float a[3] = {0.1f, 0.2f, 0.3f}, b[3] = {0.9f, 0.8f, 0.7f};
  VtImage *cartoon = VoD3DCartoonTexture(1.0f), *hatch = VoD3DHatchTexture(1.0f);
  VtImage *ink = VoD3DPenInkTexture(0.5f, a, b), *wheel = VoD3DReflectTexture(), *sphere = NULL, *read = NULL;
  uint8_t header[54];
  FILE *f;
  size_t i, n = 0;
  int failed = cartoon == NULL || hatch == NULL || ink == NULL || wheel == NULL;
  if (failed) return failed;
  sphere = VoD3DSphericalTexture(wheel);
  failed |= sphere == NULL;
  if (failed) return failed;
  Sample(t, "cartoon", cartoon);
  Sample(t, "hatch", hatch);
  Sample(t, "pen and ink", ink);
  Sample(t, "wheel", wheel);
  Sample(t, "sphere", sphere);
  Put(t, "bmp: %d", VoD3DBMPFromImage(bmp_path, cartoon));
  f = fopen(bmp_path, "rb");
  if (f != NULL) {
    n = fread(header, 1, sizeof header, f);
    fclose(f);
  }
  failed |= n != sizeof header;
  for (i = 0; i < n; ++i) Put(t, "%s%02x", i == 0 ? " header " : "", header[i]);
  read = VoImageRead(bmp_path);
  failed |= read == NULL;
  if (read != NULL) {
    Put(t, " read %d x %d same pixels: %s", read->width, read->height,
        read->bits == 24 && memcmp(read->data, cartoon->data, 256 * 256 * 3) == 0 ? "yes" : "no");
    VoImageDestroy(read);
  }
  Put(t, "\n");
  failed |= VoImageDestroy(cartoon) | VoImageDestroy(hatch) | VoImageDestroy(ink) | VoImageDestroy(wheel) |
            VoImageDestroy(sphere);
  return failed;
}

int vo_end_to_end_d3d(char *buffer, size_t size, const char *bmp_path) {
  Text t = {buffer, size};
  int failed;
  if (size == 0) return 1;
  buffer[0] = '\0';
  if (VoInitialise() != 0) return 2;
  failed = Controls(&t);
  Put(&t, "info:");
  failed |= VoD3DInfo(&t, &Pair) != 0;
  Put(&t, "\n");
  failed |= Images(&t, bmp_path);
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}

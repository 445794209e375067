/*
 * The library's demonstration program: renders a lit scene to an image file.
 *
 * Starts the library with VoInitialise and installs the default diagnostic
 * printer (VoInitialise leaves diagnostics silent), builds a tessellated
 * sphere and a box standing on a floor (about 2 900 triangles; the floor
 * with texture coordinates), lights them with one point light casting
 * shadows from 1024 x 1024 depth maps (and a little ambient light), sets
 * an 800 x 600 perspective view, makes the file driver that the output's
 * suffix names current (.bmp, .tga, .jpg) with the open file as its stream,
 * renders with the advanced renderer's z-buffer class (execute 0x200001;
 * the light's shadow maps are rendered at image set-up), then renders the
 * same scene with the ray tracer's preview pass (execute 0x70001: one eye
 * ray per pixel, the light's shadows ray-traced, no map) to a second file
 * named with "-raytraced" before the suffix, draws its visible edges as
 * pen strokes (NPR action 0x600004) to a third file named with "-strokes",
 * then draws it through the Direct3D back end into an 800 x 600 window of
 * the library's desktop (pre-lit vertices, one frame, the scene's black
 * background) and writes that window as a BMP file named with "-d3d"
 * before the suffix (".bmp" whatever the output's suffix), renders it with a
 * small lamp added in the picture's sky and post-processes it with a depth
 * of field focused on the sphere and the lamp's lens flare in one call
 * (execute 0x440004) to a file named with "-post", and prints the files'
 * paths and render times before stopping the library.
 *
 * Usage: vo_demo [-size WIDTH HEIGHT] [output.bmp|.tga|.jpg [message-file]]
 * The picture goes to demo.bmp in the current directory by default, 800 x
 * 600 pixels unless -size names another size (the tests compare pictures
 * of 160 x 120 with their references).
 * Diagnostics are printed with the texts of the message file named, else of
 * the one the environment variable MRVX20_MESSAGES names (set but empty:
 * none), else of the build tree's or the installed copy when the program
 * was built knowing where they are; without one, the printer's fallback
 * lines are written. Any failing status ends the program with exit status 1.
 */
#define _POSIX_C_SOURCE 199309L /* clock_gettime */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <vo/vo_api.h>
#include <vo/vo_opengl.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_render.h>
#include <vo/vo_shader.h>
#include <vo/vo_d3d.h>

#include "message_file.h"

enum {
  kWidth = 800,
  kHeight = 600,
  kSlices = 48,
  kRings = 24,
  kFloorCells = 20,
  kPrimitives = 3,
  kMapSide = 1024
};

/* The pictures' size, set once from the command line before the first
 * render. */
static int picture_width = kWidth, picture_height = kHeight;

static VtTypedValue Pointer(void *p) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = p;
  return v;
}

static VtTypedValue Triple(uint32_t type, float a, float b, float c) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  v.value.v[0] = a;
  v.value.v[1] = b;
  v.value.v[2] = c;
  return v;
}

static VtTypedValue Whole(int32_t i) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtInt32;
  v.value.i = i;
  return v;
}

/* A box mesh between two corners, its six faces turned outwards. */
static VtPrimitive *Box(float x0, float x1, float y0, float y1, float z0, float z1) {
  static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  float corners[8][3], normals[8][3] = {{0}};
  VtTypedValue data[2], flags;
  VtPrimitive *box;
  int i;
  for (i = 0; i < 8; ++i) {
    corners[i][0] = (i & 1) ? x1 : x0;
    corners[i][1] = (i & 2) ? y1 : y0;
    corners[i][2] = (i & 4) ? z1 : z0;
  }
  data[0] = Pointer(corners);
  data[1] = Pointer(normals);
  box = VoPrimitiveCreateMesh(6, NULL, counts, faces, 2, ids, data);
  /* Crease-method normals cut the 90-degree edges into border edges, which
   * the hidden-line renderer's default classes draw: the strokes show the
   * box's edges. The call makes normals only where the mesh keeps them (the
   * VO_VERT_NORMAL data above; a mesh file's descriptor 1030): a mesh
   * without them is refused with warning 2019 and draws no creases. */
  memset(&flags, 0, sizeof flags);
  flags.type = VtFlags;
  flags.value.u = 4;
  if (box != NULL && (VoControlSet(VO_CONTROL_GEOMETRY_NORMAL_FLAGS, &flags) != 0 ||
                      VoVertexResetProperty(box, NULL, VO_VERT_NORMAL) != 0)) {
    VoPrimitiveDestroy(box);
    box = NULL;
  }
  flags.value.u = 1;
  VoControlSet(VO_CONTROL_GEOMETRY_NORMAL_FLAGS, &flags);
  return box;
}

/* A sphere of triangles with vertex normals, each triangle turned outwards. */
static VtPrimitive *Sphere(float cx, float cy, float cz, float radius) {
  static float world[(kRings + 1) * kSlices][3], normal[(kRings + 1) * kSlices][3];
  static int32_t counts[2 * kRings * kSlices], indices[6 * kRings * kSlices];
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2];
  int r, k, n = 0, t = 0;
  for (r = 0; r <= kRings; ++r)
    for (k = 0; k < kSlices; ++k, ++n) {
      const double theta = 3.14159265358979 * r / kRings, phi = 2 * 3.14159265358979 * k / kSlices;
      normal[n][0] = (float)(sin(theta) * cos(phi));
      normal[n][1] = (float)cos(theta);
      normal[n][2] = (float)(-sin(theta) * sin(phi));
      world[n][0] = cx + radius * normal[n][0];
      world[n][1] = cy + radius * normal[n][1];
      world[n][2] = cz + radius * normal[n][2];
    }
  for (r = 0; r < kRings; ++r)
    for (k = 0; k < kSlices; ++k) {
      /* Around the quad below the point (r, k), anticlockwise from outside.
       * One vertex per pole: copies would make every side of the pole's fan
       * a border edge, which the stroke picture draws as a blob. */
      const int32_t a = r == 0 ? 0 : r * kSlices + k, b = r == 0 ? 0 : r * kSlices + (k + 1) % kSlices,
                    c = r + 1 == kRings ? kRings * kSlices : r * kSlices + k + kSlices,
                    d = r + 1 == kRings ? kRings * kSlices : r * kSlices + (k + 1) % kSlices + kSlices;
      if (r != 0) {
        indices[3 * t] = a, indices[3 * t + 1] = c, indices[3 * t + 2] = b;
        counts[t++] = 3;
      }
      if (r != kRings - 1) {
        indices[3 * t] = b, indices[3 * t + 1] = c, indices[3 * t + 2] = d;
        counts[t++] = 3;
      }
    }
  data[0] = Pointer(world);
  data[1] = Pointer(normal);
  return VoPrimitiveCreateMesh((uint32_t)t, NULL, counts, indices, 2, ids, data);
}

/* A square floor at y = 0 of cells facing up, with texture coordinates
 * running from 0 to 1 across it (s along x, t along z), so that a texture
 * put on it lies on it once whatever the renderer. */
static VtPrimitive *Floor(float half) {
  static float world[(kFloorCells + 1) * (kFloorCells + 1)][3], st[(kFloorCells + 1) * (kFloorCells + 1)][2];
  static int32_t counts[kFloorCells * kFloorCells], indices[4 * kFloorCells * kFloorCells];
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_TEXCOORDS};
  VtTypedValue data[2];
  int i, j, n = 0;
  for (i = 0; i <= kFloorCells; ++i)
    for (j = 0; j <= kFloorCells; ++j, ++n) {
      world[n][0] = -half + 2 * half * (float)j / kFloorCells;
      world[n][1] = 0;
      world[n][2] = -half + 2 * half * (float)i / kFloorCells;
      st[n][0] = (float)j / kFloorCells;
      st[n][1] = (float)i / kFloorCells;
    }
  for (n = 0, i = 0; i < kFloorCells; ++i)
    for (j = 0; j < kFloorCells; ++j, ++n) {
      const int32_t a = i * (kFloorCells + 1) + j;
      indices[4 * n] = a, indices[4 * n + 1] = a + kFloorCells + 1;
      indices[4 * n + 2] = a + kFloorCells + 2, indices[4 * n + 3] = a + 1;
      counts[n] = 4;
    }
  data[0] = Pointer(world);
  data[1] = Pointer(st);
  return VoPrimitiveCreateMesh(kFloorCells * kFloorCells, NULL, counts, indices, 2, ids, data);
}

/* A material of the plain colour given under the reflectance named. */
static VtMaterial *Material(const char *reflectance, float r, float g, float b) {
  VtMaterial *m = VoMaterialCreate();
  VtTypedValue colour = Triple(VtColourType, r, g, b);
  if (m == NULL) return NULL;
  if (VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0 ||
      VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", &colour) != 0 ||
      VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance) != 0) {
    VoMaterialDestroy(m);
    return NULL;
  }
  return m;
}

/* One point light over the scene, casting shadows, and a little ambient
 * light; the point light also into *point. Its depth maps are 1024 texels
 * a side: at the default 256 a texel at the sphere is about as wide as the
 * shadow offset (0.005 of the light's distance), so where the surface turns
 * away from the light the filter's taps find the sphere's own depth nearer
 * and leave a grain of speckles on its lit side. Quality 8 takes 8 x 8
 * samples, for a smooth shadow edge. */
static VtReference *Lights(VtShader **point_out) {
  VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point"),
           *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  VtTypedValue location = Triple(VtPoint, -4, 9, 6), intensity, shadows, side = Whole(kMapSide),
               quality = Whole(8);
  VtReference *list = NULL;
  memset(&intensity, 0, sizeof intensity);
  intensity.type = VtFloat;
  intensity.value.f = 0.25f;
  memset(&shadows, 0, sizeof shadows);
  shadows.type = VtBoolean;
  shadows.value.u = 1;
  if (point == NULL || ambient == NULL || VoShaderSetArg(point, "location", &location) != 0 ||
      VoShaderSetArg(point, "shadows", &shadows) != 0 ||
      VoShaderSetArg(point, "shadow resolution", &side) != 0 ||
      VoShaderSetArg(point, "shadow quality", &quality) != 0 ||
      VoShaderSetArg(ambient, "intensity", &intensity) != 0)
    return NULL;
  *point_out = point;
  list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(ambient));
  return VoShaderReferenceAppend(list, VoShaderReferenceCreate(point));
}

/* A small lamp without shadows standing in the picture's sky behind the
 * scene, appended to the light list: a light the lens flares can see. */
static VtStatus LampAppend(VtReference *lights) {
  VtShader *lamp = VoShaderCreate(VO_SHADER_LIGHT, "point");
  VtTypedValue location = Triple(VtPoint, -5, 4, -6), intensity;
  VtReference *entry = NULL;
  memset(&intensity, 0, sizeof intensity);
  intensity.type = VtFloat;
  intensity.value.f = 0.12f;
  if (lamp == NULL) return 0x20000006;
  if (VoShaderSetArg(lamp, "location", &location) != 0 ||
      VoShaderSetArg(lamp, "intensity", &intensity) != 0 || (entry = VoShaderReferenceCreate(lamp)) == NULL) {
    VoShaderDestroy(lamp);
    return 0x20000006;
  }
  VoShaderReferenceAppend(lights, entry); /* the list owns the lamp now */
  return VoLightListSet(lights);
}

static double Seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

/* The file driver of the path's suffix, or null. */
static VtDriverRecord *FileDriver(const char *path) {
  static const char *const kinds[][2] = {
      {".bmp", "vodrvbmp"}, {".tga", "vodrvtga"}, {".jpg", "vodrvjpg"}, {".jpeg", "vodrvjpg"}};
  const char *dot = strrchr(path, '.');
  size_t i;
  for (i = 0; dot != NULL && i < sizeof kinds / sizeof kinds[0]; ++i)
    if (strcmp(dot, kinds[i][0]) == 0) return VoDriverFindFromName(kinds[i][1]);
  return NULL;
}

/* The render of an execute code into the file through its driver; the time
 * in *seconds. */
static VtStatus Render(const char *path, uint32_t code, double *seconds) {
  const float eye[3] = {7, 5, 9}, reference[3] = {0, 1, 0}, up[3] = {0, 1, 0};
  VtDriverRecord *driver = FileDriver(path);
  FILE *f;
  VtTypedValue v;
  VtStatus status = 0;
  double start;
  if (driver == NULL) {
    fprintf(stderr, "no file driver writes %s (use .bmp, .tga or .jpg)\n", path);
    return 2;
  }
  status |= VoViewSetResolution(NULL, picture_width, picture_height, 1.0);
  status |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0);
  status |= VoViewAutoClipping(NULL);
  /* Opened through the library, so that a journal of the demo replays its
   * pictures. */
  if (status != 0 || (f = VoFileOpen(path, VO_FILE_WRITE)) == NULL) return status != 0 ? status : 2;
  status |= VoDriverSet(driver);
  v = Pointer(f);
  status |= VoControlSet(VO_CONTROL_DRIVER_FILE, &v);
  start = Seconds();
  if (status == 0) status = VoExecute(code);
  *seconds = Seconds() - start;
  v = Pointer(NULL);
  VoControlSet(VO_CONTROL_DRIVER_FILE, &v);
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
  if (VoFileClose(f) != 0 && status == 0) status = 0x40000002;
  return status;
}

/* The scene drawn through the Direct3D back end into a desktop window, the
 * window written as a BMP file; the time of the lists and the frame in
 * *seconds. The view is the one Render left. */
static VtStatus D3DRender(const char *path, VtReference *scene, VtReference *lights, double *seconds) {
  VtWindow *window = VoDesktopWindowCreate(0, 0, picture_width, picture_height);
  VtTypedValue v = Pointer(window), lift, black = Triple(VtColourType, 0, 0, 0);
  VtImage *shown;
  VtStatus status = window == NULL ? 2u : 0u;
  double start = Seconds();
  memset(&lift, 0, sizeof lift);
  lift.type = VtFloat;
  lift.value.f = 0.0f; /* the colours as they are, not lifted towards white */
  if (status == 0) status = VoControlSet(VO_CONTROL_D3D_COLOUR_LIFT, &lift);
  /* The scene's black background, as the other pictures have it (the back
   * end's own default is white). */
  if (status == 0) status = VoControlSet(VO_CONTROL_D3D_BACKGROUND_COLOUR, &black);
  if (status == 0) status = VoControlSet(VO_CONTROL_D3D_WINDOW, &v);
  if (status == 0) status = VoD3DLightListCreate(lights);
  if (status == 0) status = VoD3DPrimListCreate(scene);
  if (status == 0) status = VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE);
  if (status == 0) status = VoD3DViewSet(NULL);
  if (status == 0) status = VoExecute(VO_EXECUTE_D3D_RENDER);
  *seconds = Seconds() - start;
  if (status == 0) {
    shown = VoDesktopGetImage(0, 0, picture_width, picture_height);
    status = shown == NULL ? 0x20000006u : (VtStatus)VoD3DBMPFromImage(path, shown);
    if (shown != NULL) VoImageDestroy(shown);
  }
  VoExecute(VO_EXECUTE_D3D_WINDOW_DESTROY);
  VoD3DPrimListDestroy();
  VoD3DLightListDestroy();
  if (window != NULL) VoDesktopWindowDestroy(window);
  return status;
}

/* The scene rendered and post-processed in one call (execute 0x440004):
 * the advanced renderer's z-buffer picture, then the list [render depth,
 * depth of field focused on the sphere, render lights, lens flares "lens50"]
 * into the file; the time in *seconds. The range in focus, 10.75 to 12.05
 * units from the eye, holds the whole visible sphere (10.82 to 11.96), so
 * no pixel of it is splatted; beyond it the blur radius grows to 2 to 3
 * pixels on the box (13 to 14.5), 6 on the far floor (20) and 9 on the
 * near floor (7). */
static VtStatus PostRender(const char *path, double *seconds) {
  static const char *const names[] = {"render depth", "depth of field", "render lights", "lens flares"};
  VtShader *post[4];
  VtShader *dof, *flares;
  VtReference *list = NULL;
  VtTypedValue v;
  VtStatus status = 0;
  static const struct {
    const char *label;
    float value;
  } lens[] = {{"focal length", 600}, {"near focus", 10.75f}, {"far focus", 12.05f}};
  size_t i;
  for (i = 0; i < 4; ++i)
    if ((post[i] = VoShaderCreate(VO_SHADER_POSTPROCESS, names[i])) == NULL) status = 0x20000006;
  dof = post[1];
  flares = post[3];
  memset(&v, 0, sizeof v);
  v.type = VtString;
  v.value.s = "lens50";
  if (status == 0) status = VoShaderSetArg(flares, "lens", &v);
  memset(&v, 0, sizeof v);
  v.type = VtFloat;
  for (i = 0; status == 0 && i < sizeof lens / sizeof lens[0]; ++i) {
    v.value.f = lens[i].value;
    status = VoShaderSetArg(dof, lens[i].label, &v);
  }
  /* The lamp is dim (it lights the scene a little); its flare is drawn
   * brighter than its colour alone would make it. */
  v.value.f = 1.5f;
  if (status == 0) status = VoShaderSetArg(flares, "intensity", &v);
  if (status == 0) {
    for (i = 0; i < 4; ++i) {
      list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(post[i]));
      post[i] = NULL; /* the list owns it */
    }
    status = VoPostprocessListSet(list);
  }
  memset(&v, 0, sizeof v);
  v.type = VtEnum;
  v.value.u = VO_EXECUTE_ADVANCED_ZBUFFER;
  if (status == 0) status = VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v);
  v.value.u = VO_EXECUTE_PP_RUN;
  if (status == 0) status = VoControlSet(VO_CONTROL_PP_POST_CODE, &v);
  if (status == 0) status = Render(path, VO_EXECUTE_PP_RENDER_AND_POST, seconds);
  VoPostprocessListSet(NULL);
  if (list != NULL) VoShaderReferenceDestroy(list, 1);
  for (i = 0; i < 4; ++i)
    if (post[i] != NULL) VoShaderDestroy(post[i]);
  return status;
}

/* A leading "-size WIDTH HEIGHT" taken from the arguments into the
 * picture's size, so that the path and the message file keep their places
 * after it; 0 when the option is malformed. */
static int SizeOption(int *argc, char ***argv) {
  char *end_w, *end_h;
  long w, h;
  if (*argc < 2 || strcmp((*argv)[1], "-size") != 0) return 1;
  if (*argc < 4) return 0;
  w = strtol((*argv)[2], &end_w, 10);
  h = strtol((*argv)[3], &end_h, 10);
  /* Bounded so that a mistyped size does not ask for gigabytes of frame
   * buffers. */
  if (*end_w != '\0' || *end_h != '\0' || w < 8 || h < 8 || w > 8192 || h > 8192) return 0;
  picture_width = (int)w;
  picture_height = (int)h;
  (*argv)[3] = (*argv)[0];
  *argv += 3;
  *argc -= 3;
  return 1;
}

int main(int argc, char **argv) {
  const int sized = SizeOption(&argc, &argv);
  const char *path = argc > 1 ? argv[1] : "demo.bmp";
  VtPrimitive *primitives[kPrimitives] = {0};
  VtMaterial *materials[kPrimitives] = {0};
  VtReference *scene = NULL, *lights = NULL;
  FILE *messages = NULL;
  VtTypedValue stream, severity;
  VtStatus status, stop;
  VtShader *point = NULL;
  VtTypedValue no_map;
  double seconds = 0, traced_seconds = 0, stroke_seconds = 0, d3d_seconds = 0, gl_seconds = 0;
  char traced[1024], drawn[1024];
  const char *dot = strrchr(path, '.');
  int i;

  if (!sized) {
    fprintf(stderr,
            "usage: vo_demo [-size WIDTH HEIGHT] [output.bmp|.tga|.jpg [message-file]]"
            " (WIDTH and HEIGHT 8 to 8192)\n");
    return 2;
  }
  status = VoInitialise();
  if (status != 0) fprintf(stderr, "VoInitialise answered 0x%08x\n", (unsigned)status);
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&VoErrorHandlerDefault);
  messages = argc > 2 ? fopen(argv[2], "rb") : DefaultMessageFile();
  if (argc > 2 && messages == NULL) fprintf(stderr, "cannot open message file %s\n", argv[2]);
  if (messages != NULL) {
    VtTypedValue value = Pointer(messages);
    VoControlSet(VO_CONTROL_MESSAGE_FILE, &value);
  }
  stream = Pointer(stderr);
  VoControlSet(VO_CONTROL_ERROR_STREAM, &stream);
  memset(&severity, 0, sizeof severity);
  severity.type = VtNat32;
  severity.value.u = 0x60000000u; /* errors and warnings; no debug lines */
  VoControlSet(VO_CONTROL_SEVERITY_MASK, &severity);

  if (status == 0) {
    primitives[0] = Sphere(0, 1.2f, 0, 1.2f);
    primitives[1] = Box(2.2f, 3.8f, 0, 1.6f, -4.2f, -2.6f);
    primitives[2] = Floor(6);
    materials[0] = Material("plastic", 0.85f, 0.25f, 0.2f);
    materials[1] = Material("matte", 0.25f, 0.45f, 0.85f);
    materials[2] = Material("matte", 0.75f, 0.75f, 0.7f);
    lights = Lights(&point);
    for (i = 0; i < kPrimitives; ++i)
      if (primitives[i] == NULL || materials[i] == NULL ||
          VoPrimitiveSetMaterial(primitives[i], materials[i]) != 0)
        status = 0x20000006;
    if (lights == NULL) status = 0x20000006;
  }
  if (status == 0) {
    scene = VoPrimitiveListCreate(kPrimitives, primitives);
    status = scene == NULL ? 0x20000006 : VoPrimitiveListSet(scene);
  }
  if (status == 0) status = VoLightListSet(lights);
  if (status == 0) status = Render(path, VO_EXECUTE_ADVANCED_ZBUFFER, &seconds);
  if (status == 0)
    printf("Rendered %d x %d lit scene of a sphere and a box on a floor to %s in %.3f ms\n", picture_width,
           picture_height, path, seconds * 1e3);
  /* The second file, "-raytraced" before the suffix: the light's shadows
   * traced (shadow resolution 0: no map). */
  if (dot == NULL || strlen(path) + 16 > sizeof traced) dot = path + strlen(path);
  snprintf(traced, sizeof traced, "%.*s-raytraced%s", (int)(dot - path), path, dot);
  memset(&no_map, 0, sizeof no_map);
  no_map.type = VtInt32;
  if (status == 0) status = VoShaderSetArg(point, "shadow resolution", &no_map);
  if (status == 0) status = Render(traced, VO_EXECUTE_RAY_PREVIEW, &traced_seconds);
  if (status == 0)
    printf("Ray traced the same scene with its shadows to %s in %.3f ms\n", traced, traced_seconds * 1e3);
  /* The third file, "-strokes" before the suffix: the scene's visible edges
   * drawn as pen strokes (NPR capture, processing and ribbons). */
  snprintf(traced, sizeof traced, "%.*s-strokes%s", (int)(dot - path), path, dot);
  if (status == 0) status = Render(traced, VO_EXECUTE_NPR_STROKES, &stroke_seconds);
  if (status == 0)
    printf("Drew the same scene as pen strokes to %s in %.3f ms\n", traced, stroke_seconds * 1e3);
  /* The fourth, "-d3d.bmp": the scene drawn through the Direct3D back end. */
  snprintf(drawn, sizeof drawn, "%.*s-d3d.bmp", (int)(dot - path), path);
  if (status == 0) status = D3DRender(drawn, scene, lights, &d3d_seconds);
  if (status == 0)
    printf("Drew the same scene through Direct3D (pre-lit vertices) to %s in %.3f ms\n", drawn,
           d3d_seconds * 1e3);
  else
    fprintf(stderr, "The render failed: 0x%08x\n", (unsigned)status);
  /* The fifth file, "-opengl" before the suffix: the same scene drawn
   * through OpenGL. A machine without OpenGL says so and the demo goes on. */
  if (status == 0) {
    VtStatus gl = VoOpenGLInitialise();
    snprintf(traced, sizeof traced, "%.*s-opengl%s", (int)(dot - path), path, dot);
    if (gl == 0) gl = Render(traced, VO_EXECUTE_OPENGL_RENDER, &gl_seconds);
    if (gl == 0)
      printf("Drew the same scene through OpenGL to %s in %.3f ms\n", traced, gl_seconds * 1e3);
    else
      fprintf(stderr, "The OpenGL render failed: 0x%08x\n", (unsigned)gl);
    VoOpenGLTerminate();
  }
  /* The sixth file, "-post" before the suffix: rendered with the light's
   * depth maps again and a lamp in the picture (the point light lies outside
   * it), and post-processed with a depth of field and the lamp's lens flare
   * in one call. */
  if (status == 0) {
    double post_seconds = 0;
    VtTypedValue side = Whole(kMapSide);
    snprintf(traced, sizeof traced, "%.*s-post%s", (int)(dot - path), path, dot);
    status = VoShaderSetArg(point, "shadow resolution", &side);
    if (status == 0) status = LampAppend(lights);
    if (status == 0) status = PostRender(traced, &post_seconds);
    if (status == 0)
      printf("Rendered and post-processed the same scene (depth of field, lens flares) to %s in %.3f ms\n",
             traced, post_seconds * 1e3);
    else
      fprintf(stderr, "The post-processed render failed: 0x%08x\n", (unsigned)status);
  }

  VoLightListSet(NULL);
  if (lights != NULL) VoShaderReferenceDestroy(lights, 1);
  VoPrimitiveListSet(NULL);
  if (scene != NULL) VoReferenceListDestroy(scene, NULL);
  for (i = 0; i < kPrimitives; ++i) {
    if (primitives[i] != NULL) VoPrimitiveDestroy(primitives[i]);
    if (materials[i] != NULL) VoMaterialDestroy(materials[i]);
  }
  stop = VoTerminate();
  if (messages != NULL) fclose(messages);
  return (status | stop) == 0 ? 0 : 1;
}

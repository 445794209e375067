/* The OpenGL back end through the C interface alone: the library started,
 * an 8 x 8 image for the image driver, the back end made ready, a frame of
 * the OpenGL targets, a red plastic sent as fixed-function material state
 * and read back from OpenGL, the frame ended and the back end stopped. The
 * statuses and the material's values are the text. The answer is 0 when
 * every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <GL/gl.h>
#include <vo/vo_api.h>

#include "support/end_to_end.h"

static void PutMaterial(Text *t, const char *what, GLenum name, int count) {
  GLfloat v[4] = {0, 0, 0, 0};
  int i;
  glGetMaterialfv(GL_FRONT, name, v);
  Put(t, "%s", what);
  for (i = 0; i < count; ++i) Put(t, " %.3f", v[i]);
  Put(t, "\n");
}

static int Sequence(Text *t) {
  VtDriverRecord *driver;
  VtImage *image;
  VtShader *colour, *plastic;
  VtMaterial *material;
  VtTypedValue v;
  VtStatus status;
  int failed = VoInitialise() != 0;
  if (failed) return failed;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&SceneQuiet);
  driver = VoDriverFindFromName("vodrvimg");
  image = VoImageCreate();
  failed |= driver == NULL || image == NULL;
  if (failed) return failed;
  image->width = 8;
  image->height = 8;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = image;
  failed |= VoDriverSet(driver) != 0 || VoDriverSetControl(driver, VO_CONTROL_DRIVER_IMAGE, &v) != 0;
  failed |= VoViewSetResolution(NULL, 8, 8, 1.0) != 0;

  colour = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  plastic = VoShaderCreate(VO_SHADER_REFLECTANCE, "plastic");
  material = VoMaterialCreate();
  failed |= colour == NULL || plastic == NULL || material == NULL;
  if (failed) return failed;
  failed |= SceneArgTriple(colour, "colour", VtColourType, 1.0f, 0.0f, 0.0f) != 0;
  failed |= SceneArgFloat(plastic, "ambient factor", 0.25f) != 0;
  failed |= SceneArgFloat(plastic, "specular factor", 0.5f) != 0;
  failed |= SceneArgFloat(plastic, "roughness", 0.1f) != 0;
  failed |= VoMaterialSetShader(material, colour) != 0 || VoMaterialSetShader(material, plastic) != 0;

  status = VoOpenGLInitialise();
  Put(t, "initialise: status %u\n", status);
  failed |= status != 0;
  status = VoOGLDrvImageBegin();
  failed |= status != 0;
  status = VoOpenGLMaterialSet(material);
  Put(t, "red plastic: status %u\n", status);
  failed |= status != 0;
  PutMaterial(t, "ambient", GL_AMBIENT, 4);
  PutMaterial(t, "diffuse", GL_DIFFUSE, 4);
  PutMaterial(t, "specular", GL_SPECULAR, 4);
  PutMaterial(t, "emission", GL_EMISSION, 4);
  PutMaterial(t, "shininess", GL_SHININESS, 1);
  Put(t, "stipple %s, texturing %s\n", glIsEnabled(GL_POLYGON_STIPPLE) ? "on" : "off",
      glIsEnabled(GL_TEXTURE_2D) ? "on" : "off");
  status = VoOGLDrvImageEnd();
  failed |= status != 0;
  status = VoOpenGLTerminate();
  Put(t, "terminate: status %u\n", status);
  failed |= status != 0;
  Put(t, "terminate again: status %u\n", VoOpenGLTerminate());

  failed |= VoMaterialDestroy(material) != 0;
  VoShaderDestroy(colour);
  VoShaderDestroy(plastic);
  failed |= VoImageDestroy(image) != 0;
  return failed;
}

int vo_end_to_end_opengl(char *buffer, size_t size) {
  Text t;
  int failed;
  t.at = buffer;
  t.left = size;
  buffer[0] = 0;
  failed = Sequence(&t);
  return failed | (VoTerminate() != 0);
}

/* The smallest whole program: a lit red cube rendered to cube.bmp. */
#include <stdio.h>
#include <vo/vo_api.h>

int main(void) {
  static const float corner[8][3] = {{-1, -1, -1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, -1},
                                     {-1, -1, 1},  {1, -1, 1},  {-1, 1, 1},  {1, 1, 1}};
  static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  const float eye[3] = {4, 3, 5}, centre[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  VtTypedValue v[1] = {{VtGenericPtr, 0, {0}}}, red = {VtColourType, 0, {0}};
  VtPrimitive *cube;
  VtMaterial *material;
  void *file;
  VtStatus status = VoInitialise();
  v[0].value.p = (void *)corner;
  cube = VoPrimitiveCreateMesh(6, NULL, counts, faces, 1, ids, v);
  material = VoMaterialCreate();
  red.value.v[0] = 0.9f, red.value.v[1] = 0.2f, red.value.v[2] = 0.1f;
  status |= VoMaterialSetShaderByPrototype(material, VO_SHADER_COLOUR, "plain");
  status |= VoShaderSetArg(VoMaterialGetShader(material, VO_SHADER_COLOUR), "colour", &red);
  status |= VoMaterialSetShaderByPrototype(material, VO_SHADER_REFLECTANCE, "matte");
  status |= VoPrimitiveSetMaterial(cube, material);
  status |= VoPrimitiveListSet(VoPrimitiveListCreate(1, &cube));
  status |= VoLightListSet(VoShaderReferenceCreate(VoShaderCreate(VO_SHADER_LIGHT, "eye")));
  status |= VoViewSetResolution(NULL, 320, 240, 1.0);
  status |= VoViewSetPinhole(NULL, eye, centre, up, VO_PROJECTION_PERSPECTIVE, 40.0);
  status |= VoViewAutoClipping(NULL);
  file = VoFileOpen("cube.bmp", VO_FILE_WRITE); /* so that a journal can replay the render */
  v[0].value.p = file;
  status |= VoDriverSet(VoDriverFindFromName("vodrvbmp"));
  status |= VoControlSet(VO_CONTROL_DRIVER_FILE, v);
  status |= VoExecute(VO_EXECUTE_ADVANCED_ZBUFFER);
  v[0].value.p = NULL;
  VoControlSet(VO_CONTROL_DRIVER_FILE, v);
  VoFileClose(file);
  status |= VoTerminate(); /* also gives back the cube, material, light and list */
  printf("cube.bmp: %s\n", status == 0 ? "written" : "failed");
  return status == 0 ? 0 : 1;
}

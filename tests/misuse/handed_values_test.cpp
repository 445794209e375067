// Values an application hands in that the library used to read without a
// look: the vertices given to VoVertexInterpolate, a property value a script
// writes in line where a setter takes its address, a negative count of
// frames averaged, the primitive a shade context is given, the current
// list the OpenGL back end renders and its stop walks after a legal destroy,
// the instance data a class entry is given and the shader a light procedure
// is given.
// Each row runs in a process of its own (a fork, the library started there),
// so that a crash fails one row and not the table; a refused call answers
// 0x20000012 with its diagnostic and leaves what it was given as it was.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;

struct Row {
  const char *name;
  std::string (*run)();
};

// The fault of a call: its answer and, for a refusal, the message it must
// post; empty when it did as it should.
std::string Check(const char *call, VtStatus got, VtStatus want, uint32_t message = 0) {
  std::string fault;
  char line[160];
  if (got != want) {
    std::snprintf(line, sizeof line, "%s answered 0x%x, not 0x%x; ", call, got, want);
    fault += line;
  }
  if (message != 0 && vo_test::WithMessage(message).empty()) {
    std::snprintf(line, sizeof line, "%s posted no message %u; ", call, message);
    fault += line;
  }
  vo_test::Recorded().clear();
  return fault;
}

VtTypedValue Address(const void *p) {
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = const_cast<void *>(p);
  return v;
}

// A triangle whose vertices carry the properties given (world first).
VtPrimitive *Triangle(uint32_t count, const uint32_t *ids) {
  static const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0}, normals[9] = {0, 0, 1, 0, 0, 1, 0, 0, 1};
  VtTypedValue data[2] = {Address(corners), Address(normals)};
  return VoPrimitiveCreatePolygon(3, count, ids, data);
}

const float *World(VtPrimitive *p, VtVertex *v) {
  VtTypedValue got{};
  return VoVertexGetProperty(p, v, VO_VERT_WORLD, &got) == 0 ? static_cast<const float *>(got.value.p)
                                                             : nullptr;
}

// Each vertex argument is checked as VoVertexCopyData checks it, before
// anything is read or written; a legal blend still blends.
std::string InterpolatedVertices() {
  const uint32_t world[1] = {VO_VERT_WORLD}, with_normal[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtPrimitive *p = Triangle(1, world), *other = Triangle(2, with_normal);
  VtTypedValue polys{};
  if (p == nullptr || other == nullptr || VoPrimitiveGetProperty(p, VO_PRIM_POLYS, &polys) != 0)
    return "the triangles were not made; ";
  auto *polygon = *static_cast<VtPolygon **>(polys.value.p);
  VtVertex *a = VoVertexCreate(p), *b = VoVertexCreate(p), *out = VoVertexCreate(p),
           *gone = VoVertexCreate(p), *foreign = VoVertexCreate(other);
  const float at[3] = {2, 4, 6};
  const VtTypedValue value = Address(at);
  std::string fault = Check("VoVertexSetProperty", VoVertexSetProperty(p, a, VO_VERT_WORLD, &value), 0);
  fault += Check("VoVertexDestroy", VoVertexDestroy(p, gone), 0);
  const float half[2] = {0.5f, 0.5f};
  VtVertex *pair[2] = {a, b}, *with_gone[2] = {a, gone}, *with_foreign[2] = {foreign, b};
  const uint32_t corners = VoPolygonCountVertices(p, polygon);
  fault +=
      Check("a polygon as the destination",
            VoVertexInterpolate(p, 0, 2, pair, half, reinterpret_cast<VtVertex *>(polygon)), kRefused, 2014);
  fault += Check("a destroyed source", VoVertexInterpolate(p, 0, 2, with_gone, half, out), kRefused, 2014);
  fault += Check("a source of another layout", VoVertexInterpolate(p, 0, 2, with_foreign, half, out),
                 kRefused, 2015);
  fault += Check("a destroyed destination", VoVertexInterpolate(p, 0, 2, pair, half, gone), kRefused, 2014);
  const float *blended = World(p, out);
  if (blended == nullptr || blended[0] != 0 || blended[1] != 0 || blended[2] != 0)
    fault += "a refused interpolation wrote its destination; ";
  if (VoPolygonCountVertices(p, polygon) != corners) fault += "the polygon was written over; ";
  // (2, 4, 6) / 2 + (0, 0, 0) / 2.
  fault += Check("a legal blend", VoVertexInterpolate(p, 0, 2, pair, half, out), 0);
  blended = World(p, out);
  if (blended == nullptr || blended[0] != 1 || blended[1] != 2 || blended[2] != 3)
    fault += "the legal blend is not (1, 2, 3); ";
  fault += Check("VoPolygonDestroy", VoPolygonDestroy(p, polygon), 0);
  return fault;
}

// A script owns its variables: a value written in line where a setter or a
// mesh record takes the address of the data is refused (282), and the
// address of a variable is taken.
std::string ScriptPropertyValues() {
  char name[] = "/tmp/vo_handed_values_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return "no script file; ";
  FILE *f = fdopen(fd, "w");
  std::fputs(
      "VtPoint[3] corners\n"
      "corners = [[0 0 0] [1 0 0] [0 1 0]]\n"
      "VtNat32[1] ids\n"
      "ids = [VO_VERT_WORLD]\n"
      "tri = VoPrimitiveCreatePolygon 3 1 ids [{VtGenericPtr &corners}]\n"
      "v = VoVertexCreate tri\n"
      "VoVertexSetProperty tri v VO_VERT_WORLD {VtPoint [1 2 3]}\n"
      "VtPoint at\n"
      "at = [4 5 6]\n"
      "VoVertexSetProperty tri v VO_VERT_WORLD {VtGenericPtr &at}\n"
      "VoVertexSetProperty tri v VO_VERT_WORLD {VtFloat 1}\n"
      "again = VoPrimitiveCreatePolygon 3 1 ids [{VtPoint [1 2 3]}]\n",
      f);
  std::fclose(f);
  std::FILE *script = std::fopen(name, "rb");
  const VtStatus st = script != nullptr ? VoInterpreterReadInput(name, script) : VtStatus{VO_CLASS_ERROR};
  if (script != nullptr) std::fclose(script);
  std::remove(name);
  std::string fault;
  // The three in-line values, and nothing else refused.
  const size_t refused = vo_test::WithMessage(282).size();
  if (refused != 3) {
    fault += "the script's in-line values were refused " + std::to_string(refused) + " times; messages:";
    for (const vo_test::Diagnostic &d : vo_test::Recorded()) fault += " " + std::to_string(d.message);
    fault += "; ";
  }
  if ((st & 0x40000000u) != 0) fault += "the script ended with an error; ";
  vo_test::Recorded().clear();
  return fault;
}

// 1 / (accumulated + 1) is the new frame's weight: -1 made every pixel NaN.
std::string NegativeFrameCounts() {
  VtScreenBuffer *target = VoScreenBufferCreate(), *source = VoScreenBufferCreate();
  VtTypedValue side{};
  side.type = VtNat32;
  side.value.u = 2;
  for (VtScreenBuffer *b : {target, source})
    if (b == nullptr || VoScreenBufferSetControl(b, VO_SB_WIDTH, &side) != 0 ||
        VoScreenBufferSetControl(b, VO_SB_HEIGHT, &side) != 0 ||
        VoScreenBufferSetPrecision(b, VO_SB_COLOUR, VO_SB_FLOAT) != 0 ||
        VoScreenBufferAllocateData(b, VO_SB_COLOUR) != 0)
      return "the buffers were not made; ";
  VtTypedValue grey{};
  grey.type = VtColourType;
  grey.value.v[0] = grey.value.v[1] = grey.value.v[2] = 0.5f;
  std::string fault = Check("VoScreenBufferClear", VoScreenBufferClear(target, VO_SB_COLOUR, &grey), 0);
  fault += Check("VoScreenBufferSet", VoScreenBufferSet(target), 0);
  for (int32_t count : {-1, -2, INT32_MIN})
    fault += Check("VoPostprocessAverageFrames", VoPostprocessAverageFrames(source, count, 0, 0, 1, 1),
                   kRefused, 2975);
  VtTypedValue pixel{};
  fault += Check("VoScreenBufferGetPixel", VoScreenBufferGetPixel(target, VO_SB_COLOUR, 1, 1, &pixel), 0);
  if (pixel.value.v[0] != 0.5f) fault += "a refused average changed the target; ";
  (void)VoScreenBufferSet(nullptr);
  return fault;
}

// A shade context keeps only a live primitive; null clears it.
std::string ShadeContextPrimitives() {
  const uint32_t world[1] = {VO_VERT_WORLD};
  VtPrimitive *kept = Triangle(1, world), *gone = Triangle(1, world);
  VtShadeContext *c = VoShadeContextCreate();
  VtMaterial *material = VoMaterialCreate();
  if (kept == nullptr || gone == nullptr || c == nullptr || material == nullptr) return "nothing was made; ";
  std::string fault = Check("VoShadeContextSetPrim(live)", VoShadeContextSetPrim(c, kept), 0);
  fault += Check("VoPrimitiveDestroy", VoPrimitiveDestroy(gone), 0);
  fault += Check("VoShadeContextSetPrim(destroyed)", VoShadeContextSetPrim(c, gone), kRefused, 2016);
  fault += Check("VoShadeContextSetPrim(a material)",
                 VoShadeContextSetPrim(c, reinterpret_cast<VtPrimitive *>(material)), kRefused, 2016);
  VtPrimitive *held = nullptr;
  fault += Check("VoShadeContextGetPrim", VoShadeContextGetPrim(c, &held), 0);
  if (held != kept) fault += "a refused primitive replaced the context's; ";
  fault += Check("VoShadeContextSetPrim(null)", VoShadeContextSetPrim(c, nullptr), 0);
  fault += Check("VoShadeContextDestroy", VoShadeContextDestroy(c), 0);
  return fault;
}

// A triangle of side 1 whose lower left corner is at (x, y, 0), facing +z.
VtPrimitive *TriangleAt(float x, float y) {
  const uint32_t world[1] = {VO_VERT_WORLD};
  const float corners[9] = {x, y, 0, x + 1, y, 0, x, y + 1, 0};
  VtTypedValue data[1] = {Address(corners)};
  return VoPrimitiveCreatePolygon(3, 1, world, data);
}

// The picture of one OpenGL render into the image driver's image.
std::string Rendered(VtImage *image, VtStatus *status) {
  *status = VoOpenGLRender();
  if (image->data == nullptr) return "no picture";
  return std::string(reinterpret_cast<const char *>(image->data),
                     static_cast<size_t>(image->bytes_per_row) * static_cast<size_t>(image->height));
}

// A primitive destroyed while the current list names it (legal outside a
// render) took its record with it: a render draws what is left, as a list
// of the survivor alone draws it, and the back end's stop has nothing to
// say.
std::string OpenGLAfterALegalDestroy() {
  VtPrimitive *both[2] = {TriangleAt(-1.5f, -0.5f), TriangleAt(0.5f, -0.5f)};
  VtReference *list = VoPrimitiveListCreate(2, both), *survivor = VoPrimitiveListCreate(1, both);
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "eye");
  void *lights_array[1] = {light};
  VtImage *image = VoImageCreate();
  VtDriverRecord *driver = VoDriverFindFromName("vodrvimg");
  if (list == nullptr || survivor == nullptr || light == nullptr || image == nullptr || driver == nullptr)
    return "nothing was made; ";
  image->width = image->height = 16;
  const VtTypedValue target = Address(image);
  const float eye[3] = {0, 0, 5}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  std::string fault =
      Check("VoLightListSet", VoLightListSet(VoReferenceListCreateFromArray(1, lights_array)), 0);
  fault += Check("VoDriverSet", VoDriverSet(driver), 0);
  fault += Check("VoDriverSetControl", VoDriverSetControl(driver, VO_CONTROL_DRIVER_IMAGE, &target), 0);
  fault += Check("VoViewSetResolution", VoViewSetResolution(nullptr, 16, 16, 1.0), 0);
  fault +=
      Check("VoViewSetPinhole", VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 60.0), 0);
  fault += Check("VoOpenGLInitialise", VoOpenGLInitialise(), 0);
  VtStatus st = 0;
  fault += Check("VoPrimitiveListSet(the survivor)", VoPrimitiveListSet(survivor), 0);
  const std::string alone = Rendered(image, &st);
  fault += Check("VoOpenGLRender(the survivor)", st, 0);
  fault += Check("VoPrimitiveListSet(both)", VoPrimitiveListSet(list), 0);
  const std::string whole = Rendered(image, &st);
  fault += Check("VoOpenGLRender(both)", st, 0);
  fault += Check("VoPrimitiveDestroy", VoPrimitiveDestroy(both[1]), 0);
  const std::string after = Rendered(image, &st);
  if (!vo_test::Recorded().empty()) fault += "the render after the destroy posted a diagnostic; ";
  fault += Check("VoOpenGLRender(after the destroy)", st, 0);
  if (after != alone) fault += "the render after the destroy drew another scene; ";
  if (whole == alone) fault += "the destroyed triangle was never seen; ";
  const VtStatus stop = VoOpenGLTerminate();
  if (!vo_test::Recorded().empty()) fault += "the stop posted a diagnostic; ";
  fault += Check("VoOpenGLTerminate", stop, 0);
  return fault;
}

// A class's argument entry given its own shader's data, the data of a
// class without the entry and a block of no shader: only the first is
// taken, the others refused (2114) with the data as it was. A light
// procedure given a colour shader is refused (2113).
std::string ClassEntryData() {
  std::string fault;
  VtShader *plain = VoShaderCreate(VO_SHADER_COLOUR, "plain"),
           *light = VoShaderCreate(VO_SHADER_LIGHT, "spot");
  if (plain == nullptr || light == nullptr) return "the shaders were not made; ";
  VtTypedValue red{};
  red.type = VtColourType;
  red.value.v[0] = 1;
  fault += Check("the colour entry (its class's data)",
                 VoShaderColourArgumentSet(VoShaderGetData(plain), 0, &red), 0);
  auto *data = static_cast<unsigned char *>(VoShaderGetData(light));
  unsigned char was[16];
  std::memcpy(was, data, sizeof was);
  fault +=
      Check("the colour entry (a light's data)", VoShaderColourArgumentSet(data, 0, &red), kRefused, 2114);
  fault += Check("the three-argument entry (a light's data)", VoShaderThreeArgumentsSet(data, 2, &red),
                 kRefused, 2114);
  if (std::memcmp(was, data, sizeof was) != 0) fault += "the light's data changed; ";
  static uint64_t stray[4];
  fault += Check("a post-process entry (no shader's data)", VoPostprocessThreeArgumentsSet(stray, 2, &red),
                 kRefused, 2114);
  // A block of no shader standing in for a colour is refused as it is set.
  VtTypedValue stand_in{};
  stand_in.type = VtShaderColour;
  stand_in.value.p = stray;
  fault +=
      Check("a block of no shader for a colour", VoShaderSetArg(plain, "colour", &stand_in), kRefused, 2102);
  const float point[3] = {0, 0, 0};
  fault += Check("VoShadingInitLightsShadingPoint (a colour shader)",
                 VoShadingInitLightsShadingPoint(plain, point, nullptr, nullptr), kRefused, 2113);
  return fault;
}

const Row kRows[] = {
    {"vertices given to VoVertexInterpolate", &InterpolatedVertices},
    {"property values a script writes in line", &ScriptPropertyValues},
    {"negative counts of frames averaged", &NegativeFrameCounts},
    {"primitives given to a shade context", &ShadeContextPrimitives},
    {"the OpenGL back end rendering and stopped after a listed primitive's destroy",
     &OpenGLAfterALegalDestroy},
    {"shader data given to class entries and a colour shader to a light procedure", &ClassEntryData},
};

TEST(HandedValues, WhatAnApplicationHandsInIsCheckedBeforeItIsReadOrWritten) {
  for (const Row &row : kRows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ForkedFault([&] {
                if (VoInitialise() != 0 || vo_test::Record() != 0)
                  return std::string("the library did not start");
                std::string fault = row.run();
                if (const VtStatus st = VoTerminate(); st != 0)
                  fault += "VoTerminate answered " + std::to_string(st) + "; ";
                return fault;
              }),
              "");
  }
}

}  // namespace
}  // namespace misuse

// The light classes that cast depth-map shadows, one row each, placed to
// shine on the stage's mesh (stage.h: the square at z = 0 seen from +z),
// and the stage's mesh with a smaller square floating above it, whose
// shadow falls on the floor: the rows the misuse group renders maps of.
// A row's light is made with its shadows on, one map of `side` texels a
// side; the goniometric light's luminaire file and the projector's slide
// are written once per process, an area light takes a quad facing the
// floor as its primitive (made per session, left to the session's end).
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <vo/vo_api.h>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {

struct LightArg {
  const char *label;
  uint32_t type;
  float v[3];
};

struct LightRow {
  const char *title;  // the row's name: the class, "wide" for a cone wider than one map's view holds well
  const char *name;   // the class
  std::vector<LightArg> args;
};

inline const std::vector<LightRow> &ShadowLightRows() {
  static const std::vector<LightRow> rows = {
      {"point", "point", {{"location", VtPoint, {0.5f, 0.8f, 4}}}},
      {"spot",
       "spot",
       {{"location", VtPoint, {0.5f, 0.8f, 4}}, {"to", VtPoint, {0, 0, 0}}, {"cone angle", VtFloat, {60}}}},
      {"wide spot",
       "spot",
       {{"location", VtPoint, {0.5f, 0.8f, 4}}, {"to", VtPoint, {0, 0, 0}}, {"cone angle", VtFloat, {150}}}},
      {"distant", "distant", {{"location", VtPoint, {-1, 2, 5}}, {"to", VtPoint, {0, 0, 0}}}},
      {"goniometric",
       "goniometric",
       {{"from", VtPoint, {0.3f, 0.4f, 3}},
        {"to", VtPoint, {0.3f, 0.4f, 0}},
        {"intensity", VtFloat, {0.1f}}}},
      {"projector",
       "projector",
       {{"location", VtPoint, {0.5f, 0.8f, 4}}, {"to", VtPoint, {0, 0, 0}}, {"angle", VtFloat, {60}}}},
      {"wide projector",
       "projector",
       {{"location", VtPoint, {0.5f, 0.8f, 4}}, {"to", VtPoint, {0, 0, 0}}, {"angle", VtFloat, {150}}}},
      {"area", "area", {{"unshot", VtColourType, {16, 16, 16}}}},
  };
  return rows;
}

// The floor square with a square of half its side floating above it.
inline Mesh FloorAndCaster() {
  Mesh m = Square();
  m.corners.insert(m.corners.end(), {-0.5f, -0.5f, 1, 0.5f, -0.5f, 1, 0.5f, 0.5f, 1, -0.5f, 0.5f, 1});
  m.counts.push_back(4);
  m.indices.insert(m.indices.end(), {4, 5, 6, 7});
  return m;
}

// A file the lights read, written by the test's process before its
// sessions fork.
inline std::string LightFile(const char *name, const std::string &text) {
  static vo_test::TempDir dir;
  const std::string path = dir.File(name);
  if (std::FILE *f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  return path;
}

// The row's light with its shadows on, maps of `side` texels, or null.
inline VtShader *ShadowLight(const LightRow &row, int32_t side) {
  static const std::string ies = LightFile(
      "downlight.ies", "IESNA91\nTILT=NONE\n1 1000 1 3 1 1 2 0 0 0\n1 1 0\n0 90 180\n0\n100 100 100\n");
  static const std::string slide = [] {
    const char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0};  // 2 x 2 RGB Targa
    return LightFile("slide.tga", std::string(header, sizeof header) + std::string(12, '\xff'));
  }();
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, row.name);
  if (light == nullptr) return nullptr;
  VtStatus status = 0;
  for (const LightArg &a : row.args) {
    VtTypedValue v{};
    v.type = a.type;
    if (a.type == VtFloat)
      v.value.f = a.v[0];
    else
      std::memcpy(v.value.v, a.v, sizeof a.v);
    status |= VoShaderSetArg(light, a.label, &v);
  }
  VtTypedValue file{};
  file.type = VtString;
  if (std::strcmp(row.name, "goniometric") == 0) file.value.s = ies.c_str();
  if (std::strcmp(row.name, "projector") == 0) file.value.s = slide.c_str();
  if (file.value.s != nullptr) status |= VoShaderSetArg(light, "file name", &file);
  if (std::strcmp(row.name, "area") == 0) {
    const float corners[12] = {-0.3f, -0.3f, 3, -0.3f, 0.3f, 3, 0.3f, 0.3f, 3, 0.3f, -0.3f, 3};  // facing -z
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1]{};
    data[0].type = VtGenericPtr;
    data[0].value.p = const_cast<float *>(corners);
    VtTypedValue p{};
    p.type = VtGenericPtr;
    p.value.p = VoPrimitiveCreatePolygon(4, 1, ids, data);
    status |= p.value.p != nullptr ? VoShaderSetArg(light, "primitive", &p) : 2;
  }
  VtTypedValue word{};
  word.type = VtInt32;
  word.value.i = side;
  status |= ShadowsOn(light) | VoShaderSetArg(light, "shadow resolution", &word);
  return status == 0 ? light : nullptr;
}

// The row's light appended to the stage's light list (its ambient light
// and its point light, which casts no shadows), set current again; the
// row's light, or null.
inline VtShader *ShadowLightListed(const Stage &stage, const LightRow &row, int32_t side) {
  VtShader *light = ShadowLight(row, side);
  if (light == nullptr) return nullptr;
  VtReference *list = VoShaderReferenceAppend(stage.lights(), VoShaderReferenceCreate(light));
  return list != nullptr && VoLightListSet(stage.lights()) == 0 ? light : nullptr;
}

}  // namespace misuse

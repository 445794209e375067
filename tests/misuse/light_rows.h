// The light classes that cast depth-map shadows, one row each (the light
// classes' one table, cross_renderer/light_rows.h, placed over the stage's
// mesh, stage.h: the square at z = 0 seen from +z), and the stage's mesh
// with a smaller square floating above it, whose shadow falls on the
// floor: the rows the misuse group renders maps of. A row's light is made
// with its shadows on, one map of `side` texels a side; the goniometric
// light's luminaire file and the projector's slide are written once per
// process, an area light takes a quad facing the floor as its primitive
// (made per session, left to the session's end).
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <vo/vo_api.h>

#include "cross_renderer/light_files.h"
#include "cross_renderer/light_rows.h"
#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {

// The light classes' one table (cross_renderer/light_rows.h), its places
// turned to the stage's frame (z up).
using LightRow = vo::test::LightClassRow;
inline const std::vector<LightRow> &ShadowLightRows() { return vo::test::LightClassRows(); }

// The floor square with a square of half its side floating above it.
inline Mesh FloorAndCaster() {
  Mesh m = Square();
  m.corners.insert(m.corners.end(), {-0.5f, -0.5f, 1, 0.5f, -0.5f, 1, 0.5f, 0.5f, 1, -0.5f, 0.5f, 1});
  m.counts.push_back(4);
  m.indices.insert(m.indices.end(), {4, 5, 6, 7});
  return m;
}

// The row's light with its shadows on, maps of `side` texels, or null.
inline VtShader *ShadowLight(const LightRow &row, int32_t side) {
  static const std::string ies = vo::test::DownlightFile("downlight.ies", "0 90 180");
  static const std::string slide = vo::test::WhiteSlideFile();
  VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, row.name);
  if (light == nullptr) return nullptr;
  VtStatus status = vo::test::ShadowLightArgs(light, row, vo::test::ZUp);
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

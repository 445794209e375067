// Every light class with a place, one row a class and cone (cones wider
// than one map's view holds well among them), placed over a floor through
// its centre and aimed at that centre: the one table of lights the
// light-class group and the misuse group render. A cone one map holds well
// is 90 degrees wide: a narrower one lights too little of the light-class
// group's floor to compare shadows on. Places are given in the
// floor's own frame, (across, height above the floor, along), and each
// group turns them into its world (ShadowLightArgs); the floor is at least
// the square of side 2 about its centre, with a caster a unit above it. The
// goniometric light's luminaire file, the projector's slide and an area
// light's primitive are given apart (light_files.h; the primitive is the
// scene's).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <vo/vo_api.h>

namespace vo::test {

struct LightRowArg {
  const char *label;
  uint32_t type;
  float v[3];  // a VtPoint in the floor's frame
};

struct LightClassRow {
  const char *title;  // the class, "wide" or "wider" for a cone wider than one map's view holds well
  const char *name;   // the class
  std::vector<LightRowArg> args;
};

inline const std::vector<LightClassRow> &LightClassRows() {
  static const std::vector<LightClassRow> rows = {
      {"point", "point", {{"location", VtPoint, {0.4f, 3, 0.3f}}, {"intensity", VtFloat, {0.6f}}}},
      {"spot",
       "spot",
       {{"location", VtPoint, {0.4f, 3, 0.3f}},
        {"to", VtPoint, {0, 0, 0}},
        {"cone angle", VtFloat, {90}},
        {"intensity", VtFloat, {0.6f}}}},
      {"distant",
       "distant",
       {{"location", VtPoint, {-2, 5, -3}}, {"to", VtPoint, {0, 0, 0}}, {"intensity", VtFloat, {0.6f}}}},
      {"goniometric",
       "goniometric",
       {{"from", VtPoint, {0.3f, 2.9f, -0.5f}},
        {"to", VtPoint, {0.3f, 0, -0.5f}},
        {"intensity", VtFloat, {0.06f}}}},
      {"projector",
       "projector",
       {{"location", VtPoint, {0.4f, 3, 0.3f}},
        {"to", VtPoint, {0, 0, 0}},
        {"angle", VtFloat, {90}},
        {"intensity", VtFloat, {0.6f}}}},
      {"area", "area", {{"unshot", VtColourType, {16, 16, 16}}}},
      {"wide spot",
       "spot",
       {{"location", VtPoint, {0.4f, 3, 0.3f}},
        {"to", VtPoint, {0, 0, 0}},
        {"cone angle", VtFloat, {150}},
        {"intensity", VtFloat, {0.6f}}}},
      {"wider spot",
       "spot",
       {{"location", VtPoint, {0.4f, 3, 0.3f}},
        {"to", VtPoint, {0, 0, 0}},
        {"cone angle", VtFloat, {170}},
        {"intensity", VtFloat, {0.6f}}}},
      {"wide projector",
       "projector",
       {{"location", VtPoint, {0.4f, 3, 0.3f}},
        {"to", VtPoint, {0, 0, 0}},
        {"angle", VtFloat, {150}},
        {"intensity", VtFloat, {0.6f}}}},
  };
  return rows;
}

// The row of the title given (every title is in the table).
inline const LightClassRow &LightClassRowTitled(const char *title) {
  for (const LightClassRow &row : LightClassRows())
    if (std::strcmp(row.title, title) == 0) return row;
  return LightClassRows().front();
}

// The row's arguments set on the light, its places turned by `world`
// (floor frame to world), with nothing else; what the settings answered.
template <class World>
VtStatus ShadowLightArgs(VtShader *light, const LightClassRow &row, World world) {
  VtStatus status = 0;
  for (const LightRowArg &a : row.args) {
    VtTypedValue v{};
    v.type = a.type;
    if (a.type == VtFloat)
      v.value.f = a.v[0];
    else if (a.type == VtPoint)
      world(a.v, v.value.v);
    else
      std::memcpy(v.value.v, a.v, sizeof a.v);
    status |= ::VoShaderSetArg(light, a.label, &v);
  }
  return status;
}

// The floor frame as the world with y up: the same coordinates.
inline void YUp(const float in[3], float out[3]) { std::memcpy(out, in, 3 * sizeof(float)); }

// The floor frame as the world with z up: (across, height, along) is
// (across, along, height).
inline void ZUp(const float in[3], float out[3]) { out[0] = in[0], out[1] = in[2], out[2] = in[1]; }

}  // namespace vo::test

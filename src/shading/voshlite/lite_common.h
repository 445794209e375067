// What the lite library's classes share: the period guard, the hard and
// filtered checkers, the weight of a brick or grid cell, the shadeable
// colours of a class, and the tables shared by a class's instances. The
// wrapping by a period, the colour mix, the cell index and the marble spline
// are the shader libraries' shared pattern pieces (shaderlib/patterns.h).
//
// Shared tables live in the module's one record (vo::ModuleState), are made
// and given back on the application's thread and only read while shading;
// an instance gives back only a reference it took.
#pragma once

#include <cmath>
#include <cstdint>

#include "shading/shaderlib/face.h"

namespace vo::lite {

using namespace shaderlib;

// A period of at least 0.0001 in magnitude (its sign dropped).
inline float Period(float p) { return std::fabs(p) < 0.0001f ? 0.0001f : std::fabs(p); }

// 1 when (s k) and (t k) fall in halves of different parity, else 0.
float HardChecker(float s, float t, float k);
// The checker with its edges smoothed over 0.05 of a cell.
float FilteredChecker(float s, float t, float k);

// The ramps of a brick or grid cell, as fractions of the periods W and H.
struct Ramps {
  float a0, a1, b0, b1, c0, c1, d0, d1;
};
// w, h: the brick's size; m: the mortar (or grid line) size.
Ramps RampsMake(double w, double h, double m, double W, double H);
// 1 inside a brick or cell, 0 on its mortar, smooth between (u, v in [0, 1)).
float BrickWeight(const Ramps &r, float u, float v);

// The clouds sum of the solid clouds colour and the clouds background:
// the frequency f = 10/scale (guarded), detail clamped to 1..10 octaves and
// the first amplitude that makes the amplitudes sum to 1.
struct Clouds {
  float f;
  int32_t octaves;
  float first;
};
Clouds CloudsMake(float scale, int32_t detail);
// Sum over the octaves of amplitude x |0.5 - noise(q)| at q = f p, 2 f p, ...
float CloudsSum(const Clouds &c, const float *p);

// The polka lattice: period S = separation x scale (the period guard), and
// the squared radii where the spot's edge starts and ends.
struct Polka {
  float period, half, r0, r1;
};
Polka PolkaMake(float scale, float separation, float radius, float softness);
// 0 at a spot's centre, 1 outside its edge, for n coordinates.
float PolkaWeight(const Polka &p, const float *x, int n);

// A brick or grid cell: its ramps and periods W, H (in double, so huge
// sizes and scales do not overflow). A brick's period below 0.0001 becomes
// 0.0001; a grid's period of 0 becomes 1.
struct Cell {
  Ramps ramps;
  double W, H;
};
Cell CellMake(float scale, float width, float height, float mortar, bool brick);
// The weight of the grid cell at (s, t).
float GridWeight(const Cell &c, float s, float t);

// The n colours of this call into out: the instance's, with the shaders
// standing in for them evaluated over them. On the workers of a threaded
// pass the instance is read-only (they share it); outside one it keeps the
// colours last given, as a get of the argument answers. The prepared flag is
// left as it is.
void ColoursShaded(float (*out)[3], float (*colours)[3], VtShader *const *shaders, int n,
                   const int32_t *prepared);
// Resets the shaders held for colours (a prepare's first step).
void ShadersReset(VtShader *const *shaders, int n);

// Runs the prepare when the prepared flag is 0, then sets it.
template <class T>
void PrepareOnDemand(T *block, VtStatus (*prepare)(void *)) {
  if (*reinterpret_cast<int32_t *>(block) == 0) {
    (void)prepare(block);
    *reinterpret_cast<int32_t *>(block) = 1;
  }
}

// A shadeable colour argument of the class T: colours[i] and shaders[i].
#define VO_LITE_COLOUR(T, i) \
  Field { VtColourType, offsetof(T, colours) + 12 * (i), kFieldShadeable, offsetof(T, shaders) + 8 * (i) }

// The entries of a class with a field table whose prepare also runs before
// each render (pre-render).
template <const auto &Default, const auto &Fields>
constexpr Entries PreparedAtRender(VtShaderDataProc evaluate, VtShaderDataProc prepare) {
  Entries e = DataEntries<Default>(evaluate, prepare, &TableGet<Fields>, &TableSet<Fields>);
  e.prerender = prepare;
  return e;
}

// The entries of the base classes: evaluate only; the frame's typed
// do-nothing argument procedure (ArgumentNone) gets and sets their (no)
// arguments.
Entries BaseEntries(VtShaderDataProc evaluate);

// The instance data of the solid clouds colour and the clouds background:
// their arguments (scale, background colour, clouds colour, detail) and the
// clouds values made by the one prepare both share.
struct CloudsData {
  int32_t prepared;
  float scale;
  float colours[2][3];  // background, clouds
  int32_t detail;
  VtShader *shaders[2];
  Clouds clouds;
};
inline constexpr CloudsData kCloudsDefault{0, 1, {{0, 0, 1}, {1, 1, 1}}, 2, {}, {}};
inline constexpr Field kCloudsFields[] = {{VtFloat, offsetof(CloudsData, scale)},
                                          VO_LITE_COLOUR(CloudsData, 0),
                                          VO_LITE_COLOUR(CloudsData, 1),
                                          {VtInt32, offsetof(CloudsData, detail)}};
inline constexpr const char *kCloudsLabels[] = {"scale", "background colour", "clouds colour", "detail"};
VtStatus CloudsPrepare(void *block);

// The tables shared by the instances of one class (the frame's record of
// a table and its use count).
struct Tables {
  SharedTable brick;   // 127 floats
  SharedTable chrome;  // 200 x 200 colours
  SharedTable snow;    // 128 floats
};
using TableMember = SharedTable Tables::*;

// The frame's TableTake and TableGive on the library's record of tables.
void TableTake(TableMember which, uint32_t floats, void (*fill)(float *), const char *identifier,
               int32_t *holds);
void TableGive(TableMember which, int32_t *holds);
// The table's values, or null when it does not exist.
const float *TableValues(TableMember which);

}  // namespace vo::lite

// The base reflectance and chrome 2D: ambient, diffuse and specular terms
// plus a chrome colour looked up by the reflection direction in a 200 x 200
// map shared by every chrome 2D instance.
//
// Rows and columns are found in float with the float scales 200/pi and
// 100/pi (so a reflection straight down reads row 100 exactly); a reflection
// that is not finite adds no chrome.

#include "shading/voshlite/voshlite.h"

namespace vo::lite {

namespace {

constexpr int kMap = 200, kGrid = 20, kStep = 10;
constexpr float kColumnScale = 63.661976f;  // 200/pi
constexpr float kRowScale = 31.830988f;     // 100/pi
constexpr float kQuarterTurn = 1.5707964f, kThreeQuarters = 4.712389f;

constexpr float kPalette[10][3] = {
    {0.25f, 0.25f, 0.25f}, {0.9f, 0.9f, 0.9f}, {0.4f, 0.4f, 0.5f}, {0.9f, 0.9f, 1},    {0.5f, 0.6f, 0.6f},
    {0.5f, 0.5f, 0.6f},    {1, 1, 1},          {1, 1, 1},          {0.5f, 0.5f, 0.7f}, {0.15f, 0.15f, 0.26f}};

struct Chrome2D {
  int32_t prepared;
  float ambient, diffuse, specular, chrome, roughness;
  float columnScale, rowScale, exponent;
  int32_t holds;  // holds a reference on the shared map
};

constexpr Chrome2D kChrome2DDefault{0, 1, 0.5f, 0.5f, 0.3f, 0.1f, 0, 0, 0, 0};
constexpr Field kChrome2DFields[] = {
    {VtFloat, offsetof(Chrome2D, ambient)},   {VtFloat, offsetof(Chrome2D, diffuse)},
    {VtFloat, offsetof(Chrome2D, specular)},  {VtFloat, offsetof(Chrome2D, chrome)},
    {VtFloat, offsetof(Chrome2D, roughness)},
};

// Grid points drawn row by row from the top, then each cell filled by
// bilinear interpolation of its corners (grid point 20 is grid point 0).
void MapFill(float *map) {
  const float *grid[kGrid][kGrid];
  for (auto &row : grid)
    for (auto &point : row) point = kPalette[static_cast<int>(9 * VoRandomFloat() + 0.5f)];
  for (int Y = 0; Y < kGrid; ++Y)
    for (int X = 0; X < kGrid; ++X) {
      const float *g00 = grid[Y][X], *g10 = grid[Y][(X + 1) % kGrid];
      const float *g01 = grid[(Y + 1) % kGrid][X], *g11 = grid[(Y + 1) % kGrid][(X + 1) % kGrid];
      for (int j = 0; j < kStep; ++j)
        for (int i = 0; i < kStep; ++i) {
          float *p = map + 3 * ((kStep * Y + j) * kMap + kStep * X + i);
          const float down = static_cast<float>(j) / kStep, across = static_cast<float>(i) / kStep;
          for (int c = 0; c < 3; ++c) {
            const float left = g00[c] + (g01[c] - g00[c]) * down, right = g10[c] + (g11[c] - g10[c]) * down;
            p[c] = left + (right - left) * across;
          }
        }
    }
}

VtStatus Chrome2DTake(void *block) {
  TableTake(&Tables::chrome, 3 * kMap * kMap, &MapFill, "vxs_chrome_2D_reflectance",
            &static_cast<Chrome2D *>(block)->holds);
  return 0;
}

VtStatus Chrome2DGive(void *block) {
  TableGive(&Tables::chrome, &static_cast<Chrome2D *>(block)->holds);
  return 0;
}

VtStatus Chrome2DPrepare(void *block) {
  auto *b = static_cast<Chrome2D *>(block);
  b->columnScale = kColumnScale;
  b->rowScale = kRowScale;
  b->exponent = Reciprocal(b->roughness);
  return 0;
}

// The map colour for the reflection R, or null when R is not finite.
const float *MapColour(const float *map, const float *R, const Chrome2D *b) {
  if (!std::isfinite(R[0]) || !std::isfinite(R[1]) || !std::isfinite(R[2])) return nullptr;
  int column = 0;
  if (R[1] > 0) column = static_cast<int>((std::atan2(R[1], R[0]) + kQuarterTurn) * b->columnScale) % kMap;
  if (R[1] < 0) column = static_cast<int>((std::atan2(R[1], R[0]) + kThreeQuarters) * b->columnScale) % kMap;
  const float z = std::fmin(1.0f, std::fmax(-1.0f, R[2]));
  const int row = static_cast<int>(std::acos(z) * b->rowScale) % kMap;
  return map + 3 * (row * kMap + column);
}

VtStatus Chrome2DEvaluate(void *block) {
  auto *b = static_cast<Chrome2D *>(block);
  PrepareOnDemand(b, &Chrome2DPrepare);
  const float *map = TableValues(&Tables::chrome);
  if (map == nullptr) return 0;
  VtShaderGlobals *g = VoShaderGetGlobals();
  float base[3], term[3];
  Copy3(base, g->Co);
  Set3(g->Co, 0, 0, 0);
  if (b->ambient != 0) {
    VoAmbientTerm(term);
    for (int c = 0; c < 3; ++c) g->Co[c] = b->ambient * term[c];
  }
  if (b->diffuse != 0) {
    VoDiffuseTerm(term);
    for (int c = 0; c < 3; ++c) g->Co[c] += b->diffuse * term[c];
  }
  for (int c = 0; c < 3; ++c) g->Co[c] *= base[c];
  if (b->specular != 0) {
    VoSpecularTerm(term, b->exponent);
    for (int c = 0; c < 3; ++c) g->Co[c] += b->specular * term[c];
  }
  if (b->chrome == 0) return 0;
  float R[3];
  VoReflect(R, g->unitI, g->N);
  if (const float *m = MapColour(map, R, b))
    for (int c = 0; c < 3; ++c) g->Co[c] += b->chrome * m[c];
  return 0;
}

VtStatus BaseEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->Ci != nullptr)
    for (int c = 0; c < 3; ++c) g->Co[c] *= g->Ci[c];
  return 0;
}

constexpr Entries Chrome2DEntries() {
  Entries e = DataEntries<kChrome2DDefault>(&Chrome2DEvaluate, &Chrome2DPrepare, &TableGet<kChrome2DFields>,
                                            &TableSet<kChrome2DFields>);
  e.initialise = &Chrome2DTake;
  e.release = &Chrome2DGive;
  return e;
}

constexpr const char *kChrome2DLabels[] = {"ambient factor", "diffuse factor", "specular factor",
                                           "chrome factor", "roughness"};
constexpr const char *kChrome2DMeanings[] = {
    "weight of the ambient light", "weight of the diffuse light", "weight of the highlight",
    "weight of the chrome colour looked up by the reflection direction",
    "size of the highlight: its exponent is 1 / roughness"};
constexpr const char *kChrome2DGlobals[] = {"Co", "N", "unitI"};
constexpr const char *kCiCo[] = {"Ci", "Co"};

}  // namespace

const ClassDescription kBaseReflectance{
    "vxs_base_reflectance", "base", VO_SHADER_REFLECTANCE, {}, {}, kCiCo, BaseEntries(&BaseEvaluate)};
const ClassDescription kChrome2D{
    "vxs_chrome_2D_reflectance", "chrome 2D",      VO_SHADER_REFLECTANCE, kChrome2DLabels,
    kChrome2DMeanings,           kChrome2DGlobals, Chrome2DEntries()};

}  // namespace vo::lite

// The transparencies: base, wrapped checker, eroded, wrapped grid, wrapped
// image, wrapped mask and wrapped square (in the library's order). Their
// evaluate entries do not look at the prepared flag: the derived values are
// made by the reset and again before each render.
//
// A wrapped mask reads one channel (red) of the texture its shared prepare
// reads with three.

#include "shading/voshlite/voshlite.h"

namespace vo::lite {

namespace {

struct CheckerCover {
  int32_t prepared;
  float size, odd, even;
  float k;
};

struct Eroded {
  int32_t prepared;
  float scale, coverage, fuzz;
  float k, lo, hi;
};

struct GridCover {
  int32_t prepared;
  float scale, width, height, size, transparency;
  Cell cell;
};

struct Square {
  int32_t prepared;
  float sMin, sMax, tMin, tMax, sFuzz, tFuzz, inside, outside;
  float s0, s1, hs, t0, t1, ht;
};

constexpr CheckerCover kCheckerDefault{0, 1, 1, 0, 0};
constexpr Eroded kErodedDefault{0, 1, 0.5f, 0.1f, 0, 0, 0};
constexpr GridCover kGridDefault{0, 1, 0.8f, 0.8f, 0.2f, 0, {}};
constexpr Square kSquareDefault{0, 0, 1, 0, 1, 0.1f, 0.1f, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr VtShaderFileNameArgs kFileDefault{};

constexpr Field kCheckerFields[] = {{VtFloat, offsetof(CheckerCover, size)},
                                    {VtFloat, offsetof(CheckerCover, odd)},
                                    {VtFloat, offsetof(CheckerCover, even)}};
constexpr Field kErodedFields[] = {{VtFloat, offsetof(Eroded, scale)},
                                   {VtFloat, offsetof(Eroded, coverage)},
                                   {VtFloat, offsetof(Eroded, fuzz)}};
constexpr Field kGridFields[] = {
    {VtFloat, offsetof(GridCover, scale)},        {VtFloat, offsetof(GridCover, width)},
    {VtFloat, offsetof(GridCover, height)},       {VtFloat, offsetof(GridCover, size)},
    {VtFloat, offsetof(GridCover, transparency)},
};
constexpr Field kSquareFields[] = {
    {VtFloat, offsetof(Square, sMin)},   {VtFloat, offsetof(Square, sMax)},
    {VtFloat, offsetof(Square, tMin)},   {VtFloat, offsetof(Square, tMax)},
    {VtFloat, offsetof(Square, sFuzz)},  {VtFloat, offsetof(Square, tFuzz)},
    {VtFloat, offsetof(Square, inside)}, {VtFloat, offsetof(Square, outside)},
};

VtStatus BaseEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (g->Ti != nullptr) Copy3(g->To, g->Ti);
  return 0;
}

VtStatus CheckerPrepare(void *block) {
  auto *b = static_cast<CheckerCover *>(block);
  b->k = Reciprocal(b->size);
  return 0;
}

template <bool Filtered>
VtStatus CheckerEvaluate(void *block) {
  const auto *b = static_cast<const CheckerCover *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (Filtered)
    g->alpha = b->odd + (b->even - b->odd) * FilteredChecker(g->s, g->t, b->k);
  else
    g->alpha = HardChecker(g->s, g->t, b->k) != 0 ? b->even : b->odd;
  return 0;
}

VtStatus ErodedPrepare(void *block) {
  auto *b = static_cast<Eroded *>(block);
  b->k = Reciprocal(b->scale);
  b->lo = b->coverage - b->fuzz / 2;
  b->hi = b->coverage + b->fuzz / 2;
  return 0;
}

VtStatus ErodedEvaluate(void *block) {
  const auto *b = static_cast<const Eroded *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float q[3] = {g->P[0] * b->k, g->P[1] * b->k, g->P[2] * b->k};
  g->alpha = static_cast<float>(1 - VoSmoothStep(b->lo, b->hi, VoNoise3(q)));
  return 0;
}

VtStatus GridPrepare(void *block) {
  auto *b = static_cast<GridCover *>(block);
  b->cell = CellMake(b->scale, b->width, b->height, b->size, false);
  return 0;
}

VtStatus GridEvaluate(void *block) {
  const auto *b = static_cast<const GridCover *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->alpha = 1 - GridWeight(b->cell, g->s, g->t);
  Set3(g->To, b->transparency, b->transparency, b->transparency);
  return 0;
}

VtStatus SquarePrepare(void *block) {
  auto *b = static_cast<Square *>(block);
  b->hs = std::fabs((b->sMax - b->sMin) * b->sFuzz) / 2;
  b->ht = std::fabs((b->tMax - b->tMin) * b->tFuzz) / 2;
  b->s0 = std::fmin(b->sMin, b->sMax);
  b->s1 = std::fmax(b->sMin, b->sMax);
  b->t0 = std::fmin(b->tMin, b->tMax);
  b->t1 = std::fmax(b->tMin, b->tMax);
  return 0;
}

// The coverage along one axis: rising over [lo - h, lo + h], falling over
// [hi - h, hi + h] (the falling ramp wins where they meet), 1 between.
double Edge(float x, float lo, float hi, float h) {
  if (x > hi - h) return 1 - VoSmoothStep(hi - h, hi + h, x);
  if (x <= lo + h) return VoSmoothStep(lo - h, lo + h, x);
  return 1;
}

VtStatus SquareEvaluate(void *block) {
  const auto *b = static_cast<const Square *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float s = g->s, t = g->t;
  if (!(s >= b->s0 - b->hs && s <= b->s1 + b->hs && t >= b->t0 - b->ht && t <= b->t1 + b->ht)) {
    g->alpha = b->outside;
    return 0;
  }
  const double e = std::fmin(Edge(s, b->s0, b->s1, b->hs), Edge(t, b->t0, b->t1, b->ht));
  g->alpha = static_cast<float>(b->outside + (b->inside - b->outside) * e);
  return 0;
}

template <void (*Sample)(float *, uint32_t, VtTexture *)>
VtStatus ImageEvaluate(void *block) {
  Sample(VoShaderGetGlobals()->To, 3, static_cast<VtShaderFileNameArgs *>(block)->handle.texture);
  return 0;
}

template <void (*Sample)(float *, uint32_t, VtTexture *)>
VtStatus MaskEvaluate(void *block) {
  Sample(&VoShaderGetGlobals()->alpha, 1, static_cast<VtShaderFileNameArgs *>(block)->handle.texture);
  return 0;
}

// The texture classes: the shared file-name and texture bodies.
constexpr Entries TextureEntries(VtShaderDataProc point, VtShaderDataProc area) {
  Entries e;
  e.evaluate = point;
  e.evaluateImage = area;
  e.prepare = &exported::VoShaderTextureReadPrepare;
  e.initialise = &exported::VoShaderTextureClear;
  e.release = &exported::VoShaderTextureRelease;
  e.get = &exported::VoShaderFileNameArgumentGet;
  e.set = &exported::VoShaderFileNameArgumentSet;
  e.create = &InstanceCreate<kFileDefault>;
  e.destroy = &exported::VoShaderFileNameInstanceFree;
  return e;
}

constexpr Entries CheckerEntries() {
  Entries e = PreparedAtRender<kCheckerDefault, kCheckerFields>(&CheckerEvaluate<false>, &CheckerPrepare);
  e.evaluateImage = &CheckerEvaluate<true>;
  return e;
}

constexpr const char *kCheckerLabels[] = {"size", "odd coverage", "even coverage"};
constexpr const char *kCheckerMeanings[] = {
    "twice the side of a checker square in s and t: the colour changes every size / 2",
    "coverage of the squares where both coordinates fall in the same half (1 opaque)",
    "coverage of the other squares"};
constexpr const char *kErodedLabels[] = {"scale", "coverage", "fuzz"};
constexpr const char *kErodedMeanings[] = {"size of the eroded pattern in scene units",
                                           "noise level at which the surface is cut away, 0 to 1",
                                           "width of the soft edge round the cut"};
constexpr const char *kGridLabels[] = {"scale", "width", "height", "grid size", "transparency"};
constexpr const char *kGridMeanings[] = {
    "size of the pattern: width, height and grid size are multiplied by it", "width of a cell in s",
    "height of a cell in t", "width of the grid lines, which stay opaque while the cells are cut away",
    "transparency of the grid lines, 0 to 1"};
constexpr const char *kFileLabels[] = {"file name"};
constexpr const char *kFileMeanings[] = {
    "image file whose colour is the transparency per channel, wrapped by s and t"};
constexpr const char *kWrappedMaskTransparencyMeanings[] = {
    "image file whose first channel is the coverage (1 opaque, 0 cut away), wrapped by s and t"};
constexpr const char *kSquareLabels[] = {"s min",  "s max",  "t min",           "t max",
                                         "s fuzz", "t fuzz", "inside coverage", "outside coverage"};
constexpr const char *kSquareMeanings[] = {
    "low edge of the square in s",
    "high edge of the square in s",
    "low edge of the square in t",
    "high edge of the square in t",
    "width of the soft edges in s as a fraction of the square's width",
    "width of the soft edges in t as a fraction of the square's height",
    "coverage inside the square (1 opaque, 0 cut away)",
    "coverage outside the square"};
constexpr const char *kTiTo[] = {"Ti", "To"};
constexpr const char *kSTAlpha[] = {"s", "t", "alpha"};
constexpr const char *kPAlpha[] = {"P", "alpha"};
constexpr const char *kToSTAlpha[] = {"To", "s", "t", "alpha"};
constexpr const char *kToST[] = {"To", "s", "t"};

}  // namespace

const ClassDescription kBaseTransparency{
    "vxs_base_transparency", "base", VO_SHADER_TRANSPARENCY, {}, {}, kTiTo, BaseEntries(&BaseEvaluate)};
const ClassDescription kCheckerTransparency{"vxs_wrapped_checker_transparenc",
                                            "wrapped checker",
                                            VO_SHADER_TRANSPARENCY,
                                            kCheckerLabels,
                                            kCheckerMeanings,
                                            kSTAlpha,
                                            CheckerEntries()};
const ClassDescription kEroded{
    "vxs_eroded_transparency",
    "eroded",
    VO_SHADER_TRANSPARENCY,
    kErodedLabels,
    kErodedMeanings,
    kPAlpha,
    PreparedAtRender<kErodedDefault, kErodedFields>(&ErodedEvaluate, &ErodedPrepare)};
const ClassDescription kGridTransparency{
    "vxs_wrapped_grid_transparency",
    "wrapped grid",
    VO_SHADER_TRANSPARENCY,
    kGridLabels,
    kGridMeanings,
    kToSTAlpha,
    PreparedAtRender<kGridDefault, kGridFields>(&GridEvaluate, &GridPrepare)};
const ClassDescription kImageTransparency{
    "vxs_wrapped_image_transparency",
    "wrapped image",
    VO_SHADER_TRANSPARENCY,
    kFileLabels,
    kFileMeanings,
    kToST,
    TextureEntries(&ImageEvaluate<&TextureSamplePoint>, &ImageEvaluate<&TextureSampleArea>)};
const ClassDescription kMask{
    "vxs_wrapped_mask_transparency",
    "wrapped mask",
    VO_SHADER_TRANSPARENCY,
    kFileLabels,
    kWrappedMaskTransparencyMeanings,
    kSTAlpha,
    TextureEntries(&MaskEvaluate<&TextureSamplePoint>, &MaskEvaluate<&TextureSampleArea>)};
const ClassDescription kSquare{
    "vxs_wrapped_square_transparency",
    "wrapped square",
    VO_SHADER_TRANSPARENCY,
    kSquareLabels,
    kSquareMeanings,
    kSTAlpha,
    PreparedAtRender<kSquareDefault, kSquareFields>(&SquareEvaluate, &SquarePrepare)};

}  // namespace vo::lite

// The surface patterns in s and t: wrapped brick, checker, grid, polka,
// s stripe, t stripe, textured brick and diagonal, and the solid polka
// (the polka lattice in space).
//
// The textured brick's colour variation is a table of 127 draws of the
// kernel's generator shared by every textured brick; its brick number is
// taken modulo 127 without integer overflow (CellIndex), so far-away or
// non-finite coordinates still index the table.

#include "shading/voshlite/voshlite.h"

namespace vo::lite {

namespace {

constexpr uint32_t kBrickTable = 127;

struct Brick {
  int32_t prepared;
  float scale, width, height, mortar;
  float colours[2][3];  // brick, mortar
  VtShader *shaders[2];
  Cell cell;
  double twoH;
};

struct TexturedBrick {
  int32_t prepared;
  float scale, width, height, mortar;
  float colours[3][3];  // brick 1, brick 2, mortar
  float roughScale, roughAmplitude, offset;
  VtShader *shaders[3];
  Cell cell;
  float frequency, amplitude;
  int32_t holds;  // holds a reference on the shared table
};

struct Grid {
  int32_t prepared;
  float scale, width, height, size;
  float colours[2][3];  // grid, background
  VtShader *shaders[2];
  Cell cell;
};

struct Checker {
  int32_t prepared;
  float size;
  float colours[2][3];  // odd, even
  VtShader *shaders[2];
  float k;
};

struct PolkaColour {
  int32_t prepared;
  float scale, separation, radius, softness;
  float colours[2][3];  // background, spot
  VtShader *shaders[2];
  Polka polka;
};

struct Stripe {
  int32_t prepared;
  float size, width;
  float colours[2][3];  // background, stripe
  float fuzz;
  VtShader *shaders[2];
  float k, outer;
};

constexpr Brick kBrickDefault{0, 1, 1, 0.5f, 0.1f, {{1, 0.58f, 0.19f}, {0.58f, 0.58f, 0.58f}}, {}, {}, 0};
constexpr TexturedBrick kTexturedDefault{
    0, 1, 1, 0.5f, 0.1f, {{0.5f, 0.1f, 0}, {0.7f, 0.2f, 0}, {0.3f, 0.3f, 0.3f}}, 1, 1, 0.5f, {}, {}, 0, 0, 0};
constexpr Grid kGridDefault{0, 1, 0.8f, 0.8f, 0.2f, {{1, 0, 0}, {1, 1, 1}}, {}, {}};
constexpr Checker kCheckerDefault{0, 1, {{1, 1, 1}, {0, 0, 0}}, {}, 0};
constexpr PolkaColour kPolkaDefault{0, 1, 1, 0.4f, 0.1f, {{1, 1, 1}, {1, 0, 0}}, {}, {}};
constexpr Stripe kStripeDefault{0, 1, 0.2f, {{1, 1, 1}, {1, 0, 0}}, 0.1f, {}, 0, 0};

constexpr Field kBrickFields[] = {
    {VtFloat, offsetof(Brick, scale)},  {VtFloat, offsetof(Brick, width)}, {VtFloat, offsetof(Brick, height)},
    {VtFloat, offsetof(Brick, mortar)}, VO_LITE_COLOUR(Brick, 0),          VO_LITE_COLOUR(Brick, 1),
};
constexpr Field kTexturedFields[] = {
    {VtFloat, offsetof(TexturedBrick, scale)},
    {VtFloat, offsetof(TexturedBrick, width)},
    {VtFloat, offsetof(TexturedBrick, height)},
    {VtFloat, offsetof(TexturedBrick, mortar)},
    VO_LITE_COLOUR(TexturedBrick, 0),
    VO_LITE_COLOUR(TexturedBrick, 1),
    VO_LITE_COLOUR(TexturedBrick, 2),
    {VtFloat, offsetof(TexturedBrick, roughScale)},
    {VtFloat, offsetof(TexturedBrick, roughAmplitude)},
    {VtFloat, offsetof(TexturedBrick, offset)},
};
constexpr Field kGridFields[] = {
    {VtFloat, offsetof(Grid, scale)}, {VtFloat, offsetof(Grid, width)}, {VtFloat, offsetof(Grid, height)},
    {VtFloat, offsetof(Grid, size)},  VO_LITE_COLOUR(Grid, 0),          VO_LITE_COLOUR(Grid, 1),
};
constexpr Field kCheckerFields[] = {
    {VtFloat, offsetof(Checker, size)}, VO_LITE_COLOUR(Checker, 0), VO_LITE_COLOUR(Checker, 1)};
constexpr Field kPolkaFields[] = {
    {VtFloat, offsetof(PolkaColour, scale)},  {VtFloat, offsetof(PolkaColour, separation)},
    {VtFloat, offsetof(PolkaColour, radius)}, {VtFloat, offsetof(PolkaColour, softness)},
    VO_LITE_COLOUR(PolkaColour, 0),           VO_LITE_COLOUR(PolkaColour, 1),
};
constexpr Field kStripeFields[] = {
    {VtFloat, offsetof(Stripe, size)}, {VtFloat, offsetof(Stripe, width)}, VO_LITE_COLOUR(Stripe, 0),
    VO_LITE_COLOUR(Stripe, 1),         {VtFloat, offsetof(Stripe, fuzz)},
};

VtStatus BrickPrepare(void *block) {
  auto *b = static_cast<Brick *>(block);
  ShadersReset(b->shaders, 2);
  b->cell = CellMake(b->scale, b->width, b->height, b->mortar, true);
  b->twoH = 2 * b->cell.H;
  return 0;
}

VtStatus BrickEvaluate(void *block) {
  auto *b = static_cast<Brick *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &BrickPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  auto u = static_cast<float>(Wrap<double>(g->s, b->cell.W) / b->cell.W);
  auto v = static_cast<float>(Wrap<double>(g->t, b->twoH) * 0.5 / b->cell.H);
  if (v >= 0.5f) {
    v = 2 * (v - 0.5f);
    u = u <= 0.5f ? u + 0.5f : u - 0.5f;
  } else {
    v = 2 * v;
  }
  Mix(g->Co, colours[1], colours[0], BrickWeight(b->cell.ramps, u, v));
  return 0;
}

void BrickTableFill(float *table) {
  for (uint32_t i = 0; i < kBrickTable; ++i) table[i] = VoRandomFloat();
}

VtStatus TexturedTake(void *block) {
  TableTake(&Tables::brick, kBrickTable, &BrickTableFill, "vxs_wrapped_textured_brick_colo",
            &static_cast<TexturedBrick *>(block)->holds);
  return 0;
}

VtStatus TexturedGive(void *block) {
  TableGive(&Tables::brick, &static_cast<TexturedBrick *>(block)->holds);
  return 0;
}

VtStatus TexturedPrepare(void *block) {
  auto *b = static_cast<TexturedBrick *>(block);
  ShadersReset(b->shaders, 3);
  b->cell = CellMake(b->scale, b->width, b->height, b->mortar, true);
  b->frequency = 10 * Reciprocal(b->roughScale);
  b->amplitude = 0.05f * b->roughAmplitude;
  b->offset = b->offset >= 0.25f ? 0.5f : 0.0f;
  return 0;
}

VtStatus TexturedEvaluate(void *block) {
  auto *b = static_cast<TexturedBrick *>(block);
  float colours[3][3];
  ColoursShaded(colours, b->colours, b->shaders, 3, &b->prepared);
  PrepareOnDemand(b, &TexturedPrepare);
  const float *table = TableValues(&Tables::brick);
  if (table == nullptr) return 0;
  VtShaderGlobals *g = VoShaderGetGlobals();
  const auto x = static_cast<float>(g->s / b->cell.W), y = static_cast<float>(g->t * 0.5 / b->cell.H);
  const auto d = static_cast<float>((VoNoise2(b->frequency * x, b->frequency * y) - 0.5) * b->amplitude);
  const float X = x + d, Y = y + d;
  float u = Wrap(X, 1.0f), v = Wrap(Y, 1.0f);
  int32_t course = 0;
  if (v < 0.5f) {
    v = 2 * v;
  } else {
    v = 2 * (v - 0.5f);
    course = 230 + (u > b->offset ? 1 : 0);
    u = u <= b->offset ? u + b->offset : u - b->offset;
  }
  const float f = BrickWeight(b->cell.ramps, u, v);
  if (f == 0) return Copy3(g->Co, colours[2]), 0;
  const auto k =
      static_cast<float>((VoNoise2(5.0 * X, 5.0 * Y) - 0.5) * 0.75 + table[CellIndex(X, Y, 460, course)]);
  float c[3];
  Mix(c, colours[1], colours[0], k);
  if (f == 1) return Copy3(g->Co, c), 0;
  Mix(g->Co, colours[2], c, f);
  return 0;
}

VtStatus GridPrepare(void *block) {
  auto *b = static_cast<Grid *>(block);
  ShadersReset(b->shaders, 2);
  b->cell = CellMake(b->scale, b->width, b->height, b->size, false);
  return 0;
}

VtStatus GridEvaluate(void *block) {
  auto *b = static_cast<Grid *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &GridPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  Mix(g->Co, colours[0], colours[1], GridWeight(b->cell, g->s, g->t));
  return 0;
}

VtStatus CheckerPrepare(void *block) {
  auto *b = static_cast<Checker *>(block);
  ShadersReset(b->shaders, 2);
  b->k = Reciprocal(b->size);
  return 0;
}

template <bool Filtered>
VtStatus CheckerEvaluate(void *block) {
  auto *b = static_cast<Checker *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &CheckerPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (Filtered)
    Mix(g->Co, colours[0], colours[1], FilteredChecker(g->s, g->t, b->k));
  else
    Copy3(g->Co, colours[HardChecker(g->s, g->t, b->k) != 0 ? 1 : 0]);
  return 0;
}

VtStatus PolkaPrepare(void *block) {
  auto *b = static_cast<PolkaColour *>(block);
  ShadersReset(b->shaders, 2);
  b->polka = PolkaMake(b->scale, b->separation, b->radius, b->softness);
  return 0;
}

// The wrapped polka in (s, t) and the solid polka in P.
template <bool Solid>
VtStatus PolkaEvaluate(void *block) {
  auto *b = static_cast<PolkaColour *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &PolkaPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float st[2] = {g->s, g->t};
  Mix(g->Co, colours[1], colours[0], Solid ? PolkaWeight(b->polka, g->P, 3) : PolkaWeight(b->polka, st, 2));
  return 0;
}

VtStatus StripePrepare(void *block) {
  auto *b = static_cast<Stripe *>(block);
  ShadersReset(b->shaders, 2);
  b->k = Reciprocal(b->size);
  b->outer = b->width + b->fuzz;
  return 0;
}

enum class Across { kS, kT, kDiagonal };

template <Across Kind>
VtStatus StripeEvaluate(void *block) {
  auto *b = static_cast<Stripe *>(block);
  float colours[2][3];
  ColoursShaded(colours, b->colours, b->shaders, 2, &b->prepared);
  PrepareOnDemand(b, &StripePrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float a = Wrap(g->s * b->k, 1.0f), c = Wrap(g->t * b->k, 1.0f);
  float x = Kind == Across::kS ? a : c;
  if (Kind == Across::kDiagonal) x = a <= c ? a + 1 - c : a - c;
  const double w = VoSmoothStep(0, b->fuzz, x) * (1 - VoSmoothStep(b->width, b->outer, x));
  Mix(g->Co, colours[0], colours[1], static_cast<float>(w));
  return 0;
}

constexpr Entries CheckerEntries() {
  Entries e = PreparedAtRender<kCheckerDefault, kCheckerFields>(&CheckerEvaluate<false>, &CheckerPrepare);
  e.evaluateImage = &CheckerEvaluate<true>;
  return e;
}

constexpr Entries TexturedEntries() {
  Entries e = DataEntries<kTexturedDefault>(&TexturedEvaluate, &TexturedPrepare, &TableGet<kTexturedFields>,
                                            &TableSet<kTexturedFields>);
  e.initialise = &TexturedTake;
  e.release = &TexturedGive;
  return e;
}

constexpr const char *kBrickLabels[] = {"scale",       "brick width",  "brick height",
                                        "mortar size", "brick colour", "mortar colour"};
constexpr const char *kBrickMeanings[] = {
    "size of the pattern: brick width, height and mortar size are multiplied by it",
    "width of a brick in s",
    "height of a brick in t",
    "width of the mortar between bricks",
    "colour of the bricks",
    "colour of the mortar"};
constexpr const char *kTexturedLabels[] = {
    "scale",          "brick width",   "brick height", "mortar size",     "brick colour 1",
    "brick colour 2", "mortar colour", "rough scale",  "rough amplitude", "offset"};
constexpr const char *kTexturedMeanings[] = {
    "size of the pattern: brick width, height and mortar size are multiplied by it",
    "width of a brick in s",
    "height of a brick in t",
    "width of the mortar between bricks",
    "one end of the range of brick colours",
    "the other end of the range of brick colours",
    "colour of the mortar",
    "size of the noise that bends the courses (its frequency is 10 / rough scale)",
    "how far the noise bends the courses (0.05 x this)",
    "shift of every second course: 0.5 of a brick for 0.25 or more, else none (prepare stores 0.5 or 0)"};
constexpr const char *kGridLabels[] = {"scale",     "width",       "height",
                                       "grid size", "grid colour", "background colour"};
constexpr const char *kGridMeanings[] = {
    "size of the pattern: width, height and grid size are multiplied by it",
    "width of a cell in s",
    "height of a cell in t",
    "width of the grid lines between cells",
    "colour of the grid lines",
    "colour of the cells"};
constexpr const char *kCheckerLabels[] = {"size", "odd colour", "even colour"};
constexpr const char *kCheckerMeanings[] = {
    "twice the side of a checker square in s and t: the colour changes every size / 2",
    "colour of the squares where both coordinates fall in the same half", "colour of the other squares"};
constexpr const char *kPolkaLabels[] = {"scale",         "separation",        "radius",
                                        "edge softness", "background colour", "spot colour"};
constexpr const char *kPolkaMeanings[] = {
    "size of the pattern: separation, radius and edge softness are multiplied by it",
    "distance between spot centres",
    "radius of a spot",
    "width of the soft edge outside the radius",
    "colour between the spots",
    "colour of the spots"};
constexpr const char *kStripeLabels[] = {"size", "width", "background colour", "stripe colour", "fuzz"};
constexpr const char *kStripeMeanings[] = {"period of the stripes in s",
                                           "width of a stripe as a fraction of the period",
                                           "colour between the stripes", "colour of the stripes",
                                           "width of the soft edges as a fraction of the period"};
constexpr const char *kWrappedDiagonalColourMeanings[] = {
    "period of the diagonal stripes in s and t", "width of a stripe as a fraction of the period",
    "colour between the stripes", "colour of the stripes",
    "width of the soft edges as a fraction of the period"};
constexpr const char *kWrappedTStripeColourMeanings[] = {
    "period of the stripes in t", "width of a stripe as a fraction of the period",
    "colour between the stripes", "colour of the stripes",
    "width of the soft edges as a fraction of the period"};
constexpr const char *kCoST[] = {"Co", "s", "t"};
constexpr const char *kCoS[] = {"Co", "s"};
constexpr const char *kCoT[] = {"Co", "t"};
constexpr const char *kCoP[] = {"Co", "P"};

template <Across Kind>
constexpr Entries StripeEntries() {
  return PreparedAtRender<kStripeDefault, kStripeFields>(&StripeEvaluate<Kind>, &StripePrepare);
}

}  // namespace

const ClassDescription kWrappedBrick{
    "vxs_wrapped_brick_colour",
    "wrapped brick",
    VO_SHADER_COLOUR,
    kBrickLabels,
    kBrickMeanings,
    kCoST,
    PreparedAtRender<kBrickDefault, kBrickFields>(&BrickEvaluate, &BrickPrepare)};
const ClassDescription kWrappedChecker{"vxs_wrapped_checker_colour",
                                       "wrapped checker",
                                       VO_SHADER_COLOUR,
                                       kCheckerLabels,
                                       kCheckerMeanings,
                                       kCoST,
                                       CheckerEntries()};
const ClassDescription kWrappedGrid{"vxs_wrapped_grid_colour",
                                    "wrapped grid",
                                    VO_SHADER_COLOUR,
                                    kGridLabels,
                                    kGridMeanings,
                                    kCoST,
                                    PreparedAtRender<kGridDefault, kGridFields>(&GridEvaluate, &GridPrepare)};
const ClassDescription kWrappedPolka{
    "vxs_wrapped_polka_colour",
    "wrapped polka",
    VO_SHADER_COLOUR,
    kPolkaLabels,
    kPolkaMeanings,
    kCoST,
    PreparedAtRender<kPolkaDefault, kPolkaFields>(&PolkaEvaluate<false>, &PolkaPrepare)};
const ClassDescription kSolidPolka{
    "vxs_solid_polka_colour",
    "solid polka",
    VO_SHADER_COLOUR,
    kPolkaLabels,
    kPolkaMeanings,
    kCoP,
    PreparedAtRender<kPolkaDefault, kPolkaFields>(&PolkaEvaluate<true>, &PolkaPrepare)};
const ClassDescription kWrappedSStripe{
    "vxs_wrapped_s_stripe_colour", "wrapped s stripe", VO_SHADER_COLOUR, kStripeLabels, kStripeMeanings, kCoS,
    StripeEntries<Across::kS>()};
const ClassDescription kWrappedTStripe{"vxs_wrapped_t_stripe_colour",
                                       "wrapped t stripe",
                                       VO_SHADER_COLOUR,
                                       kStripeLabels,
                                       kWrappedTStripeColourMeanings,
                                       kCoT,
                                       StripeEntries<Across::kT>()};
const ClassDescription kWrappedTexturedBrick{"vxs_wrapped_textured_brick_colo",
                                             "wrapped textured brick",
                                             VO_SHADER_COLOUR,
                                             kTexturedLabels,
                                             kTexturedMeanings,
                                             kCoST,
                                             TexturedEntries()};
const ClassDescription kWrappedDiagonal{"vxs_wrapped_diagonal_colour",
                                        "wrapped diagonal",
                                        VO_SHADER_COLOUR,
                                        kStripeLabels,
                                        kWrappedDiagonalColourMeanings,
                                        kCoST,
                                        StripeEntries<Across::kDiagonal>()};

}  // namespace vo::lite

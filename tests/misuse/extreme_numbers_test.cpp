// Numbers at their extremes through every render entry: a seeded table of
// value kinds (NaN, infinities, a denormal, 1e30, 1e38, -0) by places (a
// vertex's position, normal, colour and texture coordinates, a transform's
// matrix, a point light's location, colour and intensity), with odd shapes
// (zero-area, bow-tie, far at 1e20, shrunk to 1e-20; given at creation or
// reached by moving the vertices of a quad made) and views at their limits
// (the eye on a polygon or at the light, clipping and fields of view at
// their ends). Each case adds one quad to the lit square of the stage and
// renders with every class into a screen buffer of floats and an image. A
// render answers 0 or a refusal with a diagnostic, writes no colour that is
// no finite number, draws alike on the calling thread and on three workers,
// and a value refused where it is given leaves the picture the scene had
// before. Each case runs in a process of its own, so that a crash fails
// that case only.
//
// Named rows (a stroke too thin to draw, automatic clipping stretched by one
// far vertex) follow the seeded table.
//
// A seed names its cell (seed % 10 the place, seed / 10 % 8 the value) and
// draws the corner, component or matrix entry. The suite runs every cell
// once (seeds 0-79); VO_EXTREME_SEEDS=<first>,<count> runs as many as asked.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <vo/vo_npr.h>
#include <vo/vo_postprocess.h>

#include "long_session/image_target.h"
#include "misuse/stage.h"
#include "support/sanitized.h"
#include "support/test_support.h"

namespace misuse {
namespace {

constexpr uint32_t kCodes[] = {0xc0001, 0xc0002,  0xc0003,  0x200001, 0x200002, 0x70001, 0x70002,
                               0xa0001, 0x190001, 0x190002, 0x600004, 0x600005, 0x440004};
constexpr uint32_t kPixelMode = 0xc000f, kBytePixels = 0xc0001, kFloatPixels = 0xc0002;
enum Place {
  kPosition,
  kNormal,
  kColour,
  kTexture,
  kMatrix,
  kLightAt,
  kLightColour,
  kIntensity,
  kShape,
  kView
};
constexpr int kPlaces = 10;
const float kValues[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         1e-40f,
                         1e30f,
                         1e38f,
                         -0.0f,
                         -1e38f};
constexpr int kKinds = sizeof kValues / sizeof kValues[0];

// The quad a case adds, in front of the stage's square, with every vertex
// property a case may spoil.
struct Quad {
  float corners[12] = {-0.5f, -0.5f, 0.5f, 0.5f, -0.5f, 0.5f, 0.5f, 0.5f, 0.5f, -0.5f, 0.5f, 0.5f};
  float normals[12] = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
  float colours[12] = {1, 0.5f, 0.2f, 1, 0.5f, 0.2f, 0.2f, 1, 0.5f, 0.2f, 1, 0.5f};
  float texture[8] = {0, 0, 1, 0, 1, 1, 0, 1};
};

void Shape(Quad &q, int variant) {
  switch (variant % 4) {
    case 0:  // zero area: every corner on one line
      for (int i = 0; i < 4; ++i) q.corners[3 * i + 1] = q.corners[3 * i];
      break;
    case 1:  // bow-tie: two corners swapped
      std::swap(q.corners[6], q.corners[9]);
      break;
    case 2:  // far away, where one float step is larger than the quad
      for (int i = 0; i < 4; ++i) q.corners[3 * i] += 1e20f;
      break;
    default:  // shrunk below any pixel
      for (float &c : q.corners) c *= 1e-20f;
  }
}

// The view spoiled in one of its limits; the status of the call.
VtStatus View(int variant) {
  const float up[3] = {0, 1, 0}, origin[3] = {0, 0, 0}, on_quad[3] = {0, 0, 0.5f}, light[3] = {2, 3, 5};
  const float behind[3] = {0, 0, -1};
  switch (variant) {
    case 0: return VoViewSetPinhole(nullptr, on_quad, behind, up, VO_PROJECTION_PERSPECTIVE, 40.0);
    case 1: return VoViewSetPinhole(nullptr, light, origin, up, VO_PROJECTION_PERSPECTIVE, 40.0);
    case 2: return VoViewSetClipping(nullptr, 1e-6, 1e30);
    case 3: return VoViewSetClipping(nullptr, 6, 0.5);
    default: {
      const double fields[4] = {1e-4, 179.999, 0, 180};
      return VoViewSetPinhole(nullptr, light, origin, up, VO_PROJECTION_PERSPECTIVE, fields[variant - 4]);
    }
  }
}

VtStatus SetLight(VtShader *light, const char *label, uint32_t type, int component, float x) {
  VtTypedValue v{};
  if (VoShaderGetArg(light, label, &v) != 0) return 1;
  v.type = type;
  if (type == VtFloat)
    v.value.f = x;
  else
    v.value.v[component] = x;
  return VoShaderSetArg(light, label, &v);
}

// A render's answer and what it drew: the screen buffer's colours and the
// image driver's bytes (where the line renderers draw).
struct Drawn {
  VtStatus status = 0;
  std::vector<float> colours;
  std::vector<uint8_t> lines;
  // Bit for bit, so that a NaN matches itself.
  bool operator==(const Drawn &o) const {
    return status == o.status && lines == o.lines && colours.size() == o.colours.size() &&
           std::memcmp(colours.data(), o.colours.data(), colours.size() * sizeof(float)) == 0;
  }
};

// A render in float pixels hands the colours on unclamped, so that one
// that is no number reaches the buffer as it was shaded.
Drawn Draw(const Stage &stage, VtImage *lines, uint32_t code, int32_t workers, bool floats) {
  VtTypedValue mode{};
  mode.type = VtEnum;
  mode.value.u = floats ? kFloatPixels : kBytePixels;
  Drawn d;
  d.status = VoControlSet(kPixelMode, &mode);
  std::fill_n(lines->data, static_cast<size_t>(lines->bytes_per_row) * lines->height, uint8_t{0});
  d.status |= stage.Render(code, workers, &d.colours);
  d.lines.assign(lines->data, lines->data + static_cast<size_t>(lines->bytes_per_row) * lines->height);
  return d;
}

// The quad's corners moved, after it was made, to those of a shape.
VtStatus Move(VtPrimitive *quad, int variant) {
  Quad q;
  Shape(q, variant);
  VtTypedValue v{};
  if (VoPrimitiveGetProperty(quad, VO_PRIM_VERTS, &v) != 0) return 1;
  VtVertex *const first = *static_cast<VtVertex **>(v.value.p);
  VtVertex *vertex = first;
  for (int i = 0; i < 4 && vertex != nullptr; ++i) {
    VtTypedValue to{};
    to.type = VtGenericPtr;
    to.value.p = &q.corners[3 * i];
    (void)VoVertexSetProperty(quad, vertex, VO_VERT_WORLD, &to);
    if (VoVertexGetProperty(quad, vertex, VO_VERT_NEXT, &v) != 0) return 1;
    vertex = *static_cast<VtVertex **>(v.value.p);
    if (vertex == first) break;
  }
  return 0;
}

// The case of one seed, in the forked process: what went wrong, or "".
std::string RunCase(uint32_t seed) {
  std::mt19937 random(seed);
  const int place = static_cast<int>(seed % kPlaces), kind = static_cast<int>(seed / kPlaces % kKinds);
  const float x = kValues[kind];
  const int corner = static_cast<int>(random() % 4), component = static_cast<int>(random() % 3);
  std::string fault;
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  {
    const Stage stage(Square(), true);
    VtTypedValue code{};
    code.type = VtEnum;
    code.value.u = 0x200001;
    VtImage *lines = vo::test::ImageTargetMake(Stage::kWidth, Stage::kHeight);
    if (!stage.ok() || lines == nullptr || VoControlSet(VO_CONTROL_PP_RENDER_CODE, &code) != 0)
      return "the stage was not made";
    VtTypedValue on{};
    on.type = VtBoolean;
    on.value.i = 1;
    // A transform's corners reach the shadow maps' bounds as well.
    if (place == kMatrix && VoShaderSetArg(stage.point_light(), "shadows", &on) != 0) return "no shadows";
    // The first render after shadows are turned on also makes the maps, and
    // draws apart from the renders after it.
    std::vector<Drawn> before;
    for (int pass = place == kMatrix ? 0 : 1; pass < 2; ++pass) {
      before.clear();
      for (uint32_t c : kCodes) before.push_back(Draw(stage, lines, c, 0, true));
    }
    vo_test::Recorded().clear();
    Quad q;
    VtStatus given = 0;
    bool created = true;  // every create answered an object
    if (place == kPosition) q.corners[3 * corner + component] = x;
    if (place == kNormal) q.normals[3 * corner + component] = x;
    if (place == kColour) q.colours[3 * corner + component] = x;
    if (place == kTexture) q.texture[2 * corner + component % 2] = x;
    if (place == kShape && kind < 4) Shape(q, kind);
    const uint32_t ids[4] = {VO_VERT_WORLD, VO_VERT_NORMAL, VO_VERT_COLOUR, VO_VERT_TEXCOORDS};
    VtTypedValue data[4]{};
    float *fields[4] = {q.corners, q.normals, q.colours, q.texture};
    for (int i = 0; i < 4; ++i) data[i].type = VtGenericPtr, data[i].value.p = fields[i];
    const int32_t counts[1] = {4}, indices[4] = {0, 1, 2, 3};
    VtPrimitive *quad = VoPrimitiveCreateMesh(1, nullptr, counts, indices, 4, ids, data);
    VtPrimitive *members[2] = {stage.primitive(), quad};
    VtReference *list = quad != nullptr ? VoPrimitiveListCreate(2, members) : nullptr;
    if (quad == nullptr) given = 1, created = false;
    if (list != nullptr)
      given = VoPrimitiveSetMaterial(quad, VoPrimitiveGetMaterial(stage.primitive())) |
              VoPrimitiveSetSidedness(quad, 1) | VoPrimitiveListSet(list);
    if (place == kMatrix && quad != nullptr) {
      double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
      m[random() % 16] = x;
      VtTransform *t = VoTransformDefine(m);
      given = t == nullptr ? 1 : VoPrimitiveSetTransform(quad, t);
      created = t != nullptr;
      if (t != nullptr) (void)VoTransformDestroy(t);
    }
    if (place == kLightAt) given = SetLight(stage.point_light(), "location", VtPoint, component, x);
    if (place == kLightColour) given = SetLight(stage.point_light(), "colour", VtColourType, component, x);
    if (place == kIntensity) given = SetLight(stage.point_light(), "intensity", VtFloat, 0, x);
    if (place == kView) given = View(kind);
    // A vertex moved answers 2 where the polygon's plane is kept.
    if (place == kShape && kind >= 4 && quad != nullptr && Move(quad, kind - 4) != 0) return "no vertices";
    const bool refused = given != 0;
    // A create that refuses answers null, which says it all; a set
    // answers a status and says why.
    if (refused && created && vo_test::Recorded().empty()) fault += "refused without a diagnostic; ";
    // A refused quad leaves the scene as it was; so does a refused light or
    // view value.
    if (refused && quad != nullptr && list != nullptr) (void)VoPrimitiveListSet(stage.list());
    for (size_t i = 0; i < std::size(kCodes); ++i) {
      char at[32];
      std::snprintf(at, sizeof at, "render 0x%x: ", kCodes[i]);
      vo_test::Recorded().clear();
      const Drawn alone = Draw(stage, lines, kCodes[i], 0, true);
      if (alone.status != 0 && vo_test::Recorded().empty())
        fault += std::string(at) + std::to_string(alone.status) + " unexplained; ";
      for (float c : alone.colours)
        if (!std::isfinite(c)) {
          fault += std::string(at) + "wrote a colour that is no finite number; ";
          break;
        }
      if (!(Draw(stage, lines, kCodes[i], 3, true) == alone))
        fault += std::string(at) + "answered or drew otherwise on three workers; ";
      if (refused && !(alone == before[i]))
        fault += std::string(at) + "drew otherwise after a refused value; ";
    }
    (void)VoPrimitiveListSet(nullptr);
    if (list != nullptr) (void)VoReferenceListDestroy(list, nullptr);
    if (quad != nullptr) (void)VoPrimitiveDestroy(quad);
    (void)VoDriverSet(nullptr);
    VoImageDestroy(lines);
  }
  if (VoTerminate() != 0) fault += "the library did not stop; ";
  return fault;
}

// The sanitizer builds, many times slower, run the cells of one colour of
// a checkerboard over places and values: every place, every value.
TEST(ExtremeNumbers, EveryRenderAnswersAndDrawsFiniteColoursAlikeOnAnyWorkerCountWhateverNumberIsGiven) {
  uint32_t first = 0, count = kPlaces * kKinds;
  const bool asked = std::getenv("VO_EXTREME_SEEDS") != nullptr;
  if (asked) (void)std::sscanf(std::getenv("VO_EXTREME_SEEDS"), "%u,%u", &first, &count);
  for (uint32_t seed = first; seed < first + count; ++seed)
    if (asked || !vo::test::kSanitized || (seed % kPlaces + seed / kPlaces) % 2 == 0) {
      EXPECT_EQ(ForkedFault([seed] { return RunCase(seed); }), "") << "seed " << seed;
    }
}

// Named extremes, each a row run in a process of its own against an answer
// found another way: a stroke width far below a pixel draws what width 0
// draws, without a word of memory (2880); automatic clipping that one far
// vertex or far part stretches says so (2940) exactly when the z-buffer
// then draws none of the stage's square, which the square alone draws.
constexpr uint32_t kNoMemoryNpr = 2880, kNearBeyond = 2940;

VtStatus Widths(float w) {
  VtTypedValue v{};
  v.type = VtFloat;
  v.value.f = w;
  return VoControlSet(VO_CONTROL_NPR_NEAR_WIDTH, &v) | VoControlSet(VO_CONTROL_NPR_FAR_WIDTH, &v);
}

std::string ThinStrokes() {
  std::string fault;
  const Stage stage(Square(), true);
  if (!stage.ok()) return "the stage was not made";
  for (uint32_t code : {0x600004u, 0x600005u}) {
    std::vector<float> none, thin;
    const VtStatus zero = Widths(0) | stage.Render(code, 0, &none);
    vo_test::Recorded().clear();
    const VtStatus st = Widths(1e-9f) | stage.Render(code, 0, &thin);
    char at[48];
    std::snprintf(at, sizeof at, "render 0x%x: ", code);
    if (st != zero || thin != none) fault += std::string(at) + "drew otherwise than width 0; ";
    if (!vo_test::WithMessage(kNoMemoryNpr).empty()) fault += std::string(at) + "1e-9 taken for no memory; ";
  }
  return fault;
}

// The stage with a quad beside its square, and with it a vertex no face
// uses at 1e38, a corner moved to 1e30 after the quad was made, or the quad
// scaled by 1e20 (a part far from the rest); far 0 is the stage alone.
enum Far { kNone, kUnused, kCorner, kScaled };

std::string FarAutoClipping(Far far) {
  const Stage stage(Square(), true);
  if (!stage.ok()) return "the stage was not made";
  Quad q;
  // Corners 0, 1, 2 and 4 make the face; corner 3 is used in its place
  // unless it lies far away unused.
  float corners[15];
  std::copy_n(q.corners, 12, corners);
  std::copy_n(q.corners + 9, 3, corners + 12);
  if (far == kUnused) corners[9] = 1e38f;
  if (far == kScaled)
    for (float &c : corners) c *= 1e20f;
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1]{};
  data[0].type = VtGenericPtr, data[0].value.p = corners;
  const int32_t counts[1] = {4}, indices[4] = {0, 1, 2, far == kUnused ? 4 : 3};
  VtPrimitive *quad =
      far != kNone ? VoPrimitiveCreateMesh(1, nullptr, counts, indices, 1, ids, data) : nullptr;
  VtPrimitive *members[2] = {stage.primitive(), quad};
  VtReference *list = VoPrimitiveListCreate(quad != nullptr ? 2 : 1, members);
  std::string fault;
  if (far != kNone && quad == nullptr) fault = "no quad; ";
  VtTypedValue first{};
  if (far == kCorner && quad != nullptr && VoPrimitiveGetProperty(quad, VO_PRIM_VERTS, &first) == 0) {
    const float to[3] = {1e30f, -0.5f, 0.5f};
    VtTypedValue v{};
    v.type = VtGenericPtr, v.value.p = const_cast<float *>(to);
    (void)VoVertexSetProperty(quad, *static_cast<VtVertex **>(first.value.p), VO_VERT_WORLD, &v);
  }
  if (list == nullptr || VoPrimitiveListSet(list) != 0) fault += "no scene; ";
  vo_test::Recorded().clear();
  if (VoViewAutoClipping(nullptr) != 0) fault += "automatic clipping refused; ";
  const bool warned = vo_test::WithMessage(kNearBeyond).size() == 1;
  std::vector<float> picture;
  (void)stage.Render(0x200001, 0, &picture);
  const bool square_drawn = std::any_of(picture.begin(), picture.end(), [](float c) { return c != 0; });
  if (warned == square_drawn) fault += warned ? "warned, and drew the square; " : "drew nothing, unwarned; ";
  (void)VoPrimitiveListSet(nullptr);
  if (list != nullptr) (void)VoReferenceListDestroy(list, nullptr);
  if (quad != nullptr) (void)VoPrimitiveDestroy(quad);
  return fault;
}

// A view turned away from the whole scene (as a face of a point light's
// cube of maps may be): automatic clipping chooses planes that leave no
// depth and says nothing of a hither beyond the scene, and nothing is drawn.
std::string AwayAutoClipping() {
  const Stage stage(Square(), true);
  if (!stage.ok()) return "the stage was not made";
  const float eye[3] = {0.3f, 0.2f, 6}, away[3] = {0.3f, 0.2f, 12}, up[3] = {0, 1, 0};
  std::string fault;
  if (VoViewSetPinhole(nullptr, eye, away, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0) fault += "no view; ";
  vo_test::Recorded().clear();
  if (VoViewAutoClipping(nullptr) != 0) fault += "automatic clipping refused; ";
  if (!vo_test::Recorded().empty()) fault += "automatic clipping posted a diagnostic; ";
  std::vector<float> picture;
  (void)stage.Render(0x200001, 0, &picture);
  if (std::any_of(picture.begin(), picture.end(), [](float c) { return c != 0; }))
    fault += "drew behind the eye; ";
  return fault;
}

// The stage's square inside `depth` nested lists, beside a list without
// members: every entry draws and answers as for the square alone, or, past
// the 256 lists deep lists may nest, answers 0x20000012 with message 2020.
std::string NestedLists(uint32_t depth) {
  const Stage stage(Square());
  std::string fault;
  std::vector<float> alone[std::size(kCodes)], picture;
  VtStatus answered[std::size(kCodes)];
  for (size_t i = 0; i < std::size(kCodes); ++i) answered[i] = stage.Render(kCodes[i], 0, &alone[i]);
  const uint32_t members = VO_PRIM_PREFS;
  VtPrimitive *p[2] = {VoPrimitiveCreate(VoContentsCreate(1, &members), VO_PRIMITIVE_LIST),
                       stage.primitive()};
  for (uint32_t k = 0; k < depth; ++k) {
    VtReference *ring = VoPrimitiveListCreate(1, &p[1]);
    VtTypedValue held{VtGenericPtr, 0, {}};
    held.value.p = &ring;
    p[1] = VoPrimitiveCreate(VoContentsCreate(1, &members), VO_PRIMITIVE_LIST);
    if (VoPrimitiveSetProperty(p[1], VO_PRIM_PREFS, &held) != 0) return "a list was not made";
  }
  if (VoPrimitiveListSet(VoPrimitiveListCreate(2, p)) != 0) return "the scene was not made";
  for (size_t i = 0; i < std::size(kCodes); ++i) {
    const VtStatus st = stage.Render(kCodes[i], 0, &picture);
    if (depth <= 256 ? st != answered[i] || picture != alone[i] : st != 0x20000012u)
      fault += "render " + std::to_string(kCodes[i]) + " answered " + std::to_string(st) + "; ";
  }
  const bool told =
      std::any_of(vo_test::Recorded().begin(), vo_test::Recorded().end(),
                  [](const vo_test::Diagnostic &d) { return d.message == 2020 && d.args[1].value.u == 257; });
  return depth > 256 && !told ? fault + "the depth was not told" : fault;
}

TEST(ExtremeNumbers, StrokesTooThinToDrawAndAutomaticClippingStretchedByOneFarVertexAnswerAsTheirOwnRowsSay) {
  struct Row {
    const char *what;
    std::string (*run)();
  };
  const Row rows[] = {
      {"stroke width 1e-9", &ThinStrokes},
      {"automatic clipping of the stage", [] { return FarAutoClipping(kNone); }},
      {"automatic clipping with an unused vertex at 1e38", [] { return FarAutoClipping(kUnused); }},
      {"automatic clipping with a corner at 1e30", [] { return FarAutoClipping(kCorner); }},
      {"automatic clipping with a quad scaled by 1e20", [] { return FarAutoClipping(kScaled); }},
      {"automatic clipping turned away from the scene", &AwayAutoClipping},
      {"the square in 256 nested lists beside a list without members", [] { return NestedLists(256); }},
      {"the square in 257 nested lists beside a list without members", [] { return NestedLists(257); }},
  };
  for (const Row &row : rows)
    EXPECT_EQ(ForkedFault([&row] {
                if (VoInitialise() != 0 || vo_test::Record() != 0)
                  return std::string("the library did not start");
                std::string fault = row.run();
                if (VoTerminate() != 0) fault += "the library did not stop; ";
                return fault;
              }),
              "")
        << row.what;
}

}  // namespace
}  // namespace misuse

// The image an "image" background was given, destroyed by the application:
// between renders (then left out, black, with warning 2301, from the
// render that follows, the lights' depth-map renders included, which read
// the background before the image itself is shaded), between renders with
// new images made after it (one may take the freed image's address; none
// of them is drawn in its place), and from a progress callback before the
// render's image set-up (still drawn by that render, which keeps it until
// it ends, and left out from the next). Lights: a point light without
// shadows, one whose map renders read the background, and an area light
// casting depth-map shadows, turned on for the render after the destroy so
// that its maps are made then. Every row runs in a process of its own, for
// the z-buffer, A-buffer and ray-traced classes on the calling thread and
// on four workers.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

constexpr uint32_t kImageUnusable = 2301;
constexpr float kGrey = 200.0f / 255.0f;  // the image's bytes, read back through a byte buffer

enum class Light { kPoint, kPointShadows, kAreaShadows };
enum class Destroy { kBetween, kBetweenThenNewImages, kFromFirstReport };

struct Row {
  const char *name;
  Light light;
  Destroy destroy;
};

const Row kRows[] = {
    {"between renders, an area light casting depth-map shadows", Light::kAreaShadows, Destroy::kBetween},
    {"between renders, a point light whose map renders read the background", Light::kPointShadows,
     Destroy::kBetween},
    {"between renders, then new images made, an area light", Light::kAreaShadows,
     Destroy::kBetweenThenNewImages},
    {"between renders, then new images made, no shadows", Light::kPoint, Destroy::kBetweenThenNewImages},
    {"from the first progress report (a map render's), a point light", Light::kPointShadows,
     Destroy::kFromFirstReport},
    {"from the first progress report (a map render's), an area light", Light::kAreaShadows,
     Destroy::kFromFirstReport},
    {"from the first progress report (the render's own set-up)", Light::kPoint, Destroy::kFromFirstReport},
};

// A 4 x 4 image of one grey, given the value of every byte.
VtImage *FlatImage(uint8_t value) {
  VtImage *image = VoImageCreate();
  if (image == nullptr) return nullptr;
  image->width = image->height = 4;
  image->bits = 24;
  if (VoImageAllocateData(image) != 0) return nullptr;
  for (int32_t y = 0; y < image->height; ++y)
    for (int32_t x = 0; x < 3 * image->width; ++x) image->data[y * image->bytes_per_row + x] = value;
  return image;
}

VtTypedValue Pointer(void *p) {
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = p;
  return v;
}

// An area light over the square (its emitter a quad at z = 2, in the
// scene), made the light list; its depth maps are asked for later.
struct AreaLight {
  VtPrimitive *emitter = nullptr;
  VtShader *light = nullptr;
  VtReference *lights = nullptr, *scene = nullptr;
  bool Make(const Stage &stage) {
    static const float corners[12] = {-0.5f, -0.5f, 2, -0.5f, 0.5f, 2, 0.5f, 0.5f, 2, 0.5f, -0.5f, 2};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {Pointer(const_cast<float *>(corners))};
    emitter = VoPrimitiveCreatePolygon(4, 1, ids, data);
    light = VoShaderCreate(VO_SHADER_LIGHT, "area");
    if (emitter == nullptr || light == nullptr) return false;
    VtPrimitive *members[2] = {stage.primitive(), emitter};
    scene = VoPrimitiveListCreate(2, members);
    lights = VoShaderReferenceCreate(light);
    const VtTypedValue primitive = Pointer(emitter);
    return scene != nullptr && lights != nullptr && VoShaderSetArg(light, "primitive", &primitive) == 0 &&
           Resolution(0) == 0 && VoLightListSet(lights) == 0 && VoPrimitiveListSet(scene) == 0;
  }
  // Maps of n x n texels (0: none).
  VtStatus Resolution(int32_t n) const {
    VtTypedValue resolution{};
    resolution.type = VtInt32;
    resolution.value.i = n;
    return VoShaderSetArg(light, "shadow resolution", &resolution);
  }
  ~AreaLight() {
    (void)VoLightListSet(nullptr);
    (void)VoPrimitiveListSet(nullptr);
    if (lights != nullptr) (void)VoShaderReferenceDestroy(lights, 1);
    if (scene != nullptr) (void)VoReferenceListDestroy(scene, nullptr);
    if (emitter != nullptr) (void)VoPrimitiveDestroy(emitter);
  }
};

struct Progress {
  VtImage *image = nullptr;
  int reports = 0;
  VtStatus answer = 1;
};
Progress g_progress;

VtStatus DestroyAtFirstReport(uint32_t, VtTypedValue *) {
  if (g_progress.reports++ == 0) g_progress.answer = VoImageDestroy(g_progress.image);
  return 0;
}

// The fault of one row in this process, empty when none.
std::string RunRow(const Row &row, uint32_t code, int32_t workers) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  std::string fault;
  {
    const Stage stage(Square());
    AreaLight area;
    if (!stage.ok()) return "the stage was not made";
    if (row.light == Light::kAreaShadows && !area.Make(stage)) return "the area light was not made";
    // Shadows are turned on for the render after the destroy, so that its
    // maps are made then (they are kept while the scene stands).
    VtShader *shadowing = row.light == Light::kPointShadows  ? stage.point_light()
                          : row.light == Light::kAreaShadows ? area.light
                                                             : nullptr;
    VtImage *image = FlatImage(200);
    VtShader *background = VoShaderCreate(VO_SHADER_BACKGROUND, "image");
    const VtTypedValue given = Pointer(image);
    if (image == nullptr || background == nullptr || VoShaderSetArg(background, "image", &given) != 0 ||
        VoBackgroundSet(background) != 0)
      return "the background was not made";
    std::vector<float> drawn, picture, black;
    const VtStatus undisturbed = stage.Render(code, workers, &drawn);
    // The corner pixel lies beyond the square: the image's grey.
    if (undisturbed != 0 || drawn.empty() || std::abs(drawn[0] - kGrey) > 1e-3f)
      return "the image was not drawn behind the square; ";
    std::vector<VtImage *> made;
    if (shadowing != nullptr &&
        (ShadowsOn(shadowing) != 0 || (shadowing == area.light && area.Resolution(32) != 0)))
      return "no shadows";
    vo_test::Recorded().clear();
    if (row.destroy == Destroy::kFromFirstReport) {
      // Given again: the render prepares the background after the destroy.
      if (VoShaderSetArg(background, "image", &given) != 0) fault += "the image was not given again; ";
      g_progress = Progress{image};
      (void)VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&DestroyAtFirstReport));
      const VtStatus st = stage.Render(code, workers, &picture);
      (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
      if (g_progress.reports == 0 || g_progress.answer != 0) fault += "the destroy was not made; ";
      // The maps darken the square but leave the background as drawn.
      if (st != undisturbed || picture.empty() || picture[0] != drawn[0])
        fault += "the running render did not draw its image; ";
      if (!vo_test::WithMessage(kImageUnusable).empty()) fault += "the running render warned; ";
    } else {
      if (VoImageDestroy(image) != 0) fault += "VoImageDestroy did not answer 0; ";
      // Made after it, white: one may take the freed image's address.
      if (row.destroy == Destroy::kBetweenThenNewImages)
        for (int i = 0; i < 8; ++i) made.push_back(FlatImage(255));
    }
    vo_test::Recorded().clear();
    if (stage.Render(code, workers, &picture) != 0) fault += "the render after the destroy failed; ";
    if (vo_test::WithMessage(kImageUnusable).empty()) fault += "no warning 2301; ";
    // The same scene before a plain black background, rendered afresh.
    VtShader *plain = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
    if (plain == nullptr || VoBackgroundSet(plain) != 0 || stage.Render(code, workers, &black) != 0)
      fault += "the black background's render failed; ";
    if (picture != black) fault += "the destroyed image was not left out as black; ";
    (void)VoBackgroundSet(nullptr);
    (void)VoShaderDestroy(background);
    (void)VoShaderDestroy(plain);
    for (VtImage *other : made) (void)VoImageDestroy(other);
  }
  if (const VtStatus st = VoTerminate(); st != 0)
    fault += "VoTerminate answered " + std::to_string(st) + "; ";
  return fault;
}

TEST(ImageBackground, AnImageDestroyedIsLeftOutFromTheNextRenderOnAndReadUntilTheRunningOneEnds) {
  for (const Row &row : kRows)
    for (uint32_t code : {0x200001u, 0x200002u, 0x70001u})
      for (int32_t workers : {0, 4}) {
        SCOPED_TRACE(::testing::Message() << row.name << ", render 0x" << std::hex << code << std::dec
                                          << " on " << workers << " workers");
        EXPECT_EQ(ForkedFault([&] { return RunRow(row, code, workers); }), "");
      }
}

}  // namespace
}  // namespace misuse

// The fourteen post-process classes of the stage: their defaults, argument
// tables and creators (registered in the start's order), and the stage's own
// "matrix" and "interlace" shaders.

#include <cstring>

#include "render/voshpost/classes.h"
#include "shading/shaderlib/face.h"

namespace vo::post {

const float kBuiltInMatrix[15] = {0, 1, 0, 2, 19, 2, 11, 24, 11, 2, 19, 2, 0, 1, 0};

namespace {

using shaderlib::ClassDescription;
using shaderlib::Entries;
using shaderlib::Field;

constexpr uint32_t kInPlace = VO_PP_MODE_DIRECT_IN_PLACE;
constexpr uint32_t kKernelSeparate = VO_PP_MODE_KERNEL_SEPARATE;
constexpr uint32_t kGatherSeparate = VO_PP_MODE_GATHER_SEPARATE;
constexpr uint32_t kDirectSeparate = VO_PP_MODE_DIRECT_SEPARATE;
constexpr uint32_t kTypeEnum = VtEnum;

constexpr VtShaderWord Float(float f) { return VtShaderWord{.f = f}; }
constexpr VtShaderWord Int(int32_t i) { return VtShaderWord{.i = i}; }

// Defaults: the prepared flag 0, the mode word, the arguments' defaults.
constexpr LinearScaleData kLinearScale{{0, kInPlace, {Float(0), Float(0), {}}}, 0};
constexpr RenderLightsData kRenderLights{{0, kInPlace}, 1000.0f, nullptr, 1};
constexpr RenderDepthData kRenderDepth{{0, kInPlace}};
constexpr MatrixData kMatrix{{0, kKernelSeparate, {Int(5), Int(3), {}}}, nullptr};
constexpr InterlaceData kInterlace{{0, kInPlace, {}}};
constexpr GlowData kGlow{{0, kGatherSeparate}, 1.0f, 10.0f, 1.0f, 10.0f, 0, 0};
constexpr Flares3dData kFlares3d{{0, kInPlace, {{}, {}, Float(1000.0f)}}};
constexpr FfaaSeedData kFfaaSeed{{0, kInPlace, {Float(0.1f), Int(0), Int(1)}}, 0, 0, 0};
constexpr FfaaPropagatorData kFfaaPropagator{{0, kInPlace}, 32, 1, 4.0f, 3, 2, 0, 0, 16, 0, 0, 0, 0, 0, 0};
constexpr DepthOfFieldData kDepthOfField{
    {0, kDirectSeparate}, 50.0f, 5.6f, 9.0f, 0, 0, 1.0f, 1.0f, 0, 1.0f, {}};
constexpr BlurData kBlur{{0, kKernelSeparate}, 2, 0};
constexpr AverageFramesData kAverageFrames{{0, kInPlace}, nullptr, 0, 0, 0, 16};
constexpr ArchiveData kArchive{{0, kInPlace}, nullptr, nullptr};
constexpr ExecuteData kExecute{{0, kDirectSeparate}, 0x70002};

#define VO_AT(T, member) static_cast<uint32_t>(offsetof(T, member))

constexpr Field kLinearScaleFields[] = {{VtFloat, kWord0}, {VtFloat, kWord1}};
constexpr Field kRenderLightsFields[] = {{VtFloat, VO_AT(RenderLightsData, flareConstant)},
                                         {VtString, VO_AT(RenderLightsData, select)}};
constexpr Field kMatrixFields[] = {{VtInt32, kWord0}, {VtInt32, kWord1}, {VtGenericPtr, kWord2}};
constexpr Field kInterlaceFields[] = {{VtGenericPtr, kWord0}, {VtGenericPtr, kWord1}, {VtBoolean, kWord2}};
constexpr Field kGlowFields[] = {{VtFloat, VO_AT(GlowData, minThreshold)},
                                 {VtFloat, VO_AT(GlowData, maxThreshold)},
                                 {VtFloat, VO_AT(GlowData, intensity)},
                                 {VtFloat, VO_AT(GlowData, range)}};
constexpr Field kFlares3dFields[] = {{VtGenericPtr, kWord0}, {VtGenericPtr, kWord1}, {VtFloat, kWord2}};
constexpr Field kFfaaSeedFields[] = {{VtFloat, kWord0}, {VtBoolean, kWord1}, {VtBoolean, kWord2}};
constexpr Field kFfaaPropagatorFields[] = {{VtInt32, VO_AT(FfaaPropagatorData, haltonSamples)},
                                           {VtInt32, VO_AT(FfaaPropagatorData, earlyOut)},
                                           {VtFloat, VO_AT(FfaaPropagatorData, sensitivity)},
                                           {VtInt32, VO_AT(FfaaPropagatorData, yRadix)},
                                           {VtInt32, VO_AT(FfaaPropagatorData, xRadix)},
                                           {VtBoolean, VO_AT(FfaaPropagatorData, keepSeed)},
                                           {VtBoolean, VO_AT(FfaaPropagatorData, dumpEachStage)},
                                           {VtInt32, VO_AT(FfaaPropagatorData, feedbackRate)}};
constexpr Field kDepthOfFieldFields[] = {
    {VtFloat, VO_AT(DepthOfFieldData, focalLength)}, {VtFloat, VO_AT(DepthOfFieldData, aperture)},
    {VtFloat, VO_AT(DepthOfFieldData, focusPlane)},  {VtFloat, VO_AT(DepthOfFieldData, nearFocus)},
    {VtFloat, VO_AT(DepthOfFieldData, farFocus)},    {VtFloat, VO_AT(DepthOfFieldData, nearBlur)},
    {VtFloat, VO_AT(DepthOfFieldData, farBlur)},     {VtBoolean, VO_AT(DepthOfFieldData, ignoreBackground)},
    {VtFloat, VO_AT(DepthOfFieldData, units)}};
constexpr Field kBlurFields[] = {{VtInt32, VO_AT(BlurData, range)}};
constexpr Field kAverageFramesFields[] = {{VtGenericPtr, VO_AT(AverageFramesData, source)},
                                          {VtInt32, VO_AT(AverageFramesData, accumulated)},
                                          {VtBoolean, VO_AT(AverageFramesData, dither)},
                                          {VtBoolean, VO_AT(AverageFramesData, updateRgb)},
                                          {VtInt32, VO_AT(AverageFramesData, feedbackRate)}};
constexpr Field kArchiveFields[] = {{VtString, VO_AT(ArchiveData, driverName)},
                                    {VtString, VO_AT(ArchiveData, fileName)}};
constexpr Field kExecuteFields[] = {{kTypeEnum, VO_AT(ExecuteData, method)}};

#undef VO_AT

// Render lights and archive own their strings: copies made at create (of
// "visible", and of empty texts; a copy that cannot be made stays null and
// reads as ""), freed with the block.
void *RenderLightsCreate() {
  auto *d = static_cast<RenderLightsData *>(shaderlib::InstanceCreate<kRenderLights>());
  if (d != nullptr) d->select = shaderlib::StringCopy("visible");
  return d;
}
VtStatus RenderLightsDestroy(void *data) {
  if (auto *d = static_cast<RenderLightsData *>(data)) VoDeallocate(d->select);
  return exported::VoShaderInstanceFree(data);
}
void *ArchiveCreate() {
  auto *d = static_cast<ArchiveData *>(shaderlib::InstanceCreate<kArchive>());
  if (d != nullptr) {
    d->driverName = shaderlib::EmptyString();
    d->fileName = shaderlib::EmptyString();
  }
  return d;
}
VtStatus ArchiveDestroy(void *data) {
  if (auto *d = static_cast<ArchiveData *>(data)) {
    VoDeallocate(d->driverName);
    VoDeallocate(d->fileName);
  }
  return exported::VoShaderInstanceFree(data);
}

template <const auto &Default, const auto &Fields>
constexpr Entries TableEntries(VtShaderDataProc evaluate, VtShaderDataProc prepare) {
  return shaderlib::DataEntries<Default>(evaluate, prepare, &shaderlib::TableGet<Fields>,
                                         &shaderlib::TableSet<Fields>);
}
// Classes whose arguments are the head's words: the shared set body.
template <const auto &Default, const auto &Fields>
constexpr Entries WordEntries(VtShaderDataProc evaluate, VtShaderDataProc prepare, VtShaderArgProc set) {
  return shaderlib::DataEntries<Default>(evaluate, prepare, &shaderlib::TableGet<Fields>, set);
}

constexpr const char *kLinearScaleLabels[] = {"min intensity", "max intensity"};
constexpr const char *kLinearScaleMeanings[] = {
    "intensity mapped to 0; below it everything is 0 (must be below the max, else the list stops)",
    "intensity mapped to 1; above it everything is 1"};
constexpr const char *kRenderLightsLabels[] = {"flare constant", "lights select"};
constexpr const char *kRenderLightsMeanings[] = {
    "brightness constant of the lens flares drawn for the lights",
    "\"visible\" draws flares for the lights in view, \"hidden\" for the hidden ones"};
constexpr const char *kMatrixLabels[] = {"rows", "columns", "matrix"};
constexpr const char *kMatrixMeanings[] = {
    "rows of the kernel, odd and at least 1", "columns of the kernel, odd and at least 1",
    ("rows x columns floats, row by row: the kernel the image is "
     "convolved with (normalised); none uses a built-in 5 x 3 kernel")};
constexpr shader::ArgumentBuffer kMatrixBuffers[] = {{"matrix", 1, {"rows", "columns"}}};
constexpr const char *kInterlaceLabels[] = {"buffer1", "buffer2", "half resolution"};
constexpr const char *kInterlaceMeanings[] = {
    "screen buffer giving the rows of one field", "screen buffer giving the rows of the other field",
    "the two buffers are half the picture's height, each row giving two picture rows' field"};
constexpr const char *kGlowLabels[] = {"min threshold", "max threshold", "intensity", "range"};
constexpr const char *kGlowMeanings[] = {
    "brightness a pixel glows above: one channel past it is enough",
    "brightness at which the glow falls to 1 percent at the edge of its range", "strength of the glow",
    "radius of the glow as a percentage of the picture's smaller side"};
constexpr const char *kFlares3dLabels[] = {"visible flare", "hidden flare", "flare const"};
constexpr const char *kFlares3dMeanings[] = {
    "post-process shader run over the lens flares of the visible lights",
    "post-process shader run over the lens flares of the hidden lights",
    "brightness constant of the lens flares"};
constexpr const char *kFfaaSeedLabels[] = {"threshold", "update rgb", "update stencil"};
constexpr const char *kFfaaSeedMeanings[] = {
    "colour variance of a pixel's neighbourhood above which the pixel is flagged for more samples",
    "show the measured variance in the picture's colours",
    "write the flags into the screen buffer's 8-bit plane"};
constexpr const char *kFfaaPropagatorLabels[] = {"halton samples",  "early out",    "relative sensitivity",
                                                 "y radix",         "x radix",      "keep seed",
                                                 "dump each stage", "feedback rate"};
constexpr const char *kFfaaPropagatorMeanings[] = {
    "ray-traced samples per flagged pixel (1 at least)",
    "samples after which a pixel whose samples agree stops",
    "how strongly samples must disagree to spread the work to the neighbours",
    "radix of the Halton sequence of the samples' y offsets (0: 3)",
    "radix of the Halton sequence of the samples' x offsets (0: 2)",
    "keep the colour of the flagged seed pixels and only spread from them",
    "show the picture after every flood step",
    "rows between showings of the picture while it works"};
constexpr const char *kDepthOfFieldLabels[] = {"focal length", "aperture",          "focus plane",
                                               "near focus",   "far focus",         "near blur",
                                               "far blur",     "ignore background", "units"};
constexpr const char *kDepthOfFieldMeanings[] = {
    ("focal length of the lens in millimetres; the class blurs by the screen buffer's depth plane, so "
     "\"render depth\" goes before it in the list (a run without depths is refused, 824, before its "
     "render begins)"),
    "f-number of the lens (the aperture's diameter is focal length / aperture)",
    "distance of the plane in focus, in scene units",
    "nearer limit of a range kept in focus; 0 unset",
    "farther limit of a range kept in focus; 0 unset",
    "scale of the blur in front of the focus",
    "scale of the blur behind the focus",
    "keep the background (at the far clipping distance) sharp",
    "scene units per metre"};
constexpr const char *kBlurLabels[] = {"range"};
constexpr const char *kBlurMeanings[] = {
    "half-width in pixels of the box filter: the kernel is 2 x range + 1 pixels square"};
constexpr const char *kAverageFramesLabels[] = {"source_buffer", "accumulated", "dither", "update rgb",
                                                "feedback rate"};
constexpr const char *kAverageFramesMeanings[] = {
    "screen buffer holding the new frame blended into the running average",
    "number of frames already in the average (0 replaces it; a negative count is refused)",
    "blend with an ordered dither, keeping each pixel's weight in the alpha plane",
    "show the average while it is made", "rows between showings of the average"};
constexpr const char *kArchiveLabels[] = {"drivername", "filename"};
constexpr const char *kArchiveMeanings[] = {"registry name of the output driver the picture is written with",
                                            "file the picture is written to"};
constexpr const char *kExecuteLabels[] = {"method"};
constexpr const char *kExecuteMeanings[] = {
    ("execute code of the render made into the output buffer, after which the list goes on (default the ray "
     "tracer's 0x70002)")};

constexpr const char *kBi[] = {"Bi"};
constexpr const char *kBiBo[] = {"Bi", "Bo"};
constexpr const char *kBo[] = {"Bo"};
constexpr const char *kKernelGlobals[] = {"Co", "xf", "yf", "Fwidth", "Fheight"};
constexpr const char *kGlowGlobals[] = {"Ci", "Co", "xf", "yf", "Fwidth", "Fheight", "Bi"};
constexpr const char *kBlurGlobals[] = {"Co", "Fwidth", "Fheight"};

const VtShaderArgProc kTwoSet = &exported::VoPostprocessTwoArgumentsSet;
const VtShaderArgProc kThreeSet = &exported::VoPostprocessThreeArgumentsSet;

ClassDescription Describe(shaderlib::Identifier id, const char *name, std::span<const char *const> labels,
                          std::span<const char *const> meanings, std::span<const char *const> globals,
                          const Entries &e, std::span<const shader::ArgumentBuffer> buffers = {}) {
  return {id, name, VO_SHADER_POSTPROCESS, labels, meanings, globals, e, false, buffers};
}

}  // namespace

void ClassesRegister() {
  Entries renderLights =
      TableEntries<kRenderLights, kRenderLightsFields>(&RenderLightsEvaluate, &RenderLightsPrepare);
  renderLights.create = &RenderLightsCreate;
  renderLights.destroy = &RenderLightsDestroy;
  Entries archive = TableEntries<kArchive, kArchiveFields>(&ArchiveEvaluate, nullptr);
  archive.create = &ArchiveCreate;
  archive.destroy = &ArchiveDestroy;
  Entries flares = WordEntries<kFlares3d, kFlares3dFields>(&Flares3dEvaluate, &Flares3dPrepare, &Flares3dSet);
  flares.evaluateImage = &Flares3dEvaluateImage;
  flares.destroy = &Flares3dDestroy;
  const Entries renderDepth = shaderlib::DataEntries<kRenderDepth>(
      &RenderDepthEvaluate, nullptr, &shaderlib::ArgumentNone, &shaderlib::ArgumentNone);
  // The start's order.
  const ClassDescription classes[] = {
      Describe("vxs_execute_postprocess", "execute", kExecuteLabels, kExecuteMeanings, kBo,
               TableEntries<kExecute, kExecuteFields>(&ExecuteEvaluate, nullptr)),
      Describe("vxs_archive_postprocess", "archive", kArchiveLabels, kArchiveMeanings, kBiBo, archive),
      Describe("vxs_average_frames_postprocess", "average frames", kAverageFramesLabels,
               kAverageFramesMeanings, kBiBo,
               TableEntries<kAverageFrames, kAverageFramesFields>(&AverageFramesEvaluate, nullptr)),
      Describe("vxs_blur_postprocess", "blur", kBlurLabels, kBlurMeanings, kBlurGlobals,
               TableEntries<kBlur, kBlurFields>(&BlurEvaluate, &BlurPrepare)),
      Describe("vxs_depth_of_field_postprocess", "depth of field", kDepthOfFieldLabels, kDepthOfFieldMeanings,
               kBiBo,
               TableEntries<kDepthOfField, kDepthOfFieldFields>(&DepthOfFieldEvaluate, &DepthOfFieldPrepare)),
      Describe("vxs_ffaa_propagator_postprocess", "ffaa propagator", kFfaaPropagatorLabels,
               kFfaaPropagatorMeanings, kBiBo,
               TableEntries<kFfaaPropagator, kFfaaPropagatorFields>(&FfaaPropagatorEvaluate, nullptr)),
      Describe("vxs_ffaa_seed_postprocess", "ffaa seed", kFfaaSeedLabels, kFfaaSeedMeanings, kBiBo,
               WordEntries<kFfaaSeed, kFfaaSeedFields>(&FfaaSeedEvaluate, nullptr, kThreeSet)),
      Describe("vxs_flares_3d_postprocess", "flares 3d", kFlares3dLabels, kFlares3dMeanings, {}, flares),
      Describe("vxs_glow_postprocess", "glow", kGlowLabels, kGlowMeanings, kGlowGlobals,
               TableEntries<kGlow, kGlowFields>(&GlowEvaluate, &GlowPrepare)),
      Describe("vxs_interlace_postprocess", "interlace", kInterlaceLabels, kInterlaceMeanings, kBiBo,
               WordEntries<kInterlace, kInterlaceFields>(&InterlaceEvaluate, &InterlacePrepare, kThreeSet)),
      Describe("vxs_matrix_postprocess", "matrix", kMatrixLabels, kMatrixMeanings, kKernelGlobals,
               WordEntries<kMatrix, kMatrixFields>(&MatrixEvaluate, &MatrixPrepare, kThreeSet),
               kMatrixBuffers),
      Describe("vxs_render_depth_postprocess", "render depth", {}, {}, kBi, renderDepth),
      Describe("vxs_render_lights_postprocess", "render lights", kRenderLightsLabels, kRenderLightsMeanings,
               {}, renderLights),
      Describe(
          "vxs_linear_scale_postprocess", "linear scale", kLinearScaleLabels, kLinearScaleMeanings, kBi,
          WordEntries<kLinearScale, kLinearScaleFields>(&LinearScaleEvaluate, &LinearScalePrepare, kTwoSet)),
  };
  shaderlib::ClassListCreate(classes);
}

VtStatus OwnShadersCreate(VtPostprocessContext *c) {
  c->matrix = VoShaderCreate(VO_SHADER_POSTPROCESS, "matrix");
  c->interlace = VoShaderCreate(VO_SHADER_POSTPROCESS, "interlace");
  return c->matrix != nullptr && c->interlace != nullptr ? 0 : kNoMemory;
}

}  // namespace vo::post

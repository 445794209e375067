// The scaled image background: an image (the image argument, else the file
// named) made into a texture and stretched over the view, turned by a
// multiple of 90 degrees.
//
// The rotation counts in whole degrees (clamped to +-1000 first, NaN as 0);
// only +-90, +-180 and +-270 turn the image. The image argument is not
// owned: prepare makes a texture of it only while the driver framework
// still knows it. Evaluate works inside a pushed shader environment and
// points dPds and dPdt at the globals record's own storage before writing
// them, so the caller's globals other than Cb come back unchanged.

#include <algorithm>

#include <vo/vo_driver.h>

#include "shading/voshlite/voshlite.h"
#include "kernel/vosystem/face.h"

namespace vo::lite {

namespace {

constexpr const char kScaledIdentifier[] = "vxs_scaled_image_background";

struct ScaledImage {
  VtShaderFileNameArgs names;  // handle.image: the image argument
  float rotation;
  int32_t keepAspect, keepTexture;
  VtTexture *inUse, *own;
  int32_t whole;  // the rotation in whole degrees
  float dPds[3], dPdt[3];
  float dsValue, dtValue, sx, sy;
};

constexpr ScaledImage kScaledDefault{{}, 0, 0, 0, nullptr, nullptr, 0, {1, 0, 0}, {0, -1, 0}, 1, 1, 1, 1};
constexpr Field kScaledFields[] = {{VtString, offsetof(ScaledImage, names.fileName)},
                                   {VtGenericPtr, offsetof(ScaledImage, names.handle.image)},
                                   {VtFloat, offsetof(ScaledImage, rotation)},
                                   {VtBoolean, offsetof(ScaledImage, keepAspect)},
                                   {VtBoolean, offsetof(ScaledImage, keepTexture)}};
constexpr const char *kScaledLabels[] = {"file name", "image", "rotation", "keep aspect", "keep texture"};
constexpr const char *kScaledMeanings[] = {
    "image file stretched over the whole view; read when no image is given",
    "image stretched over the view instead of the file; null uses the file",
    "turn of the image in whole degrees: 90, 180 or 270 (others are 0)",
    "keep the image's aspect ratio instead of stretching it to the view",
    "keep the texture made at the first preparation instead of making it again"};

int32_t WholeDegrees(float rotation) {
  if (rotation != rotation) return 0;
  return static_cast<int32_t>(std::fmin(1000.0f, std::fmax(-1000.0f, rotation)));
}

// The quarter turns of the whole rotation: 1, 2, 3, or 0 for any other.
int QuarterTurns(int32_t whole) {
  switch (whole) {
    case 90:
    case -270: return 1;
    case 180:
    case -180: return 2;
    case 270:
    case -90: return 3;
    default: return 0;
  }
}

VtStatus ScaledClear(void *block) {
  auto *b = static_cast<ScaledImage *>(block);
  b->names.handle.image = nullptr;
  b->inUse = b->own = nullptr;
  return 0;
}

VtStatus ScaledRelease(void *block) {
  auto *b = static_cast<ScaledImage *>(block);
  if (b->own != nullptr) shaderlib::TextureDestroy(b->own);
  b->inUse = b->own = nullptr;
  return 0;
}

VtStatus ScaledPrerender(void *block) {
  auto *b = static_cast<ScaledImage *>(block);
  uint32_t x = 0, y = 0;
  double aspect = 1;
  if (VoViewGetResolution(nullptr, &x, &y, &aspect) != 0) x = y = 0;
  b->whole = WholeDegrees(b->rotation);
  b->dsValue = x != 0 ? static_cast<float>(x) : 1.0f;
  b->dtValue = y != 0 ? static_cast<float>(y) : 1.0f;
  // +x, -y turned by the quarter turns.
  constexpr float kTangents[4][6] = {
      {1, 0, 0, 0, -1, 0}, {0, -1, 0, -1, 0, 0}, {-1, 0, 0, 0, 1, 0}, {0, 1, 0, 1, 0, 0}};
  const float *t = kTangents[QuarterTurns(b->whole)];
  Copy3(b->dPds, t);
  Copy3(b->dPdt, t + 3);
  b->sx = b->sy = 1;
  if (b->keepAspect != 0) {
    const float m = static_cast<float>(std::max({x, y, 1u}));
    b->dsValue = b->dtValue = m;
    b->sx = static_cast<float>(x) / m;
    b->sy = static_cast<float>(y) / m;
  }
  return 0;
}

VtStatus ScaledPrepare(void *block) {
  auto *b = static_cast<ScaledImage *>(block);
  b->whole = WholeDegrees(b->rotation);
  if (b->keepTexture != 0 && b->own != nullptr) {
    b->inUse = b->own;
    return 0;
  }
  (void)ScaledRelease(b);
  VtImage *image = b->names.handle.image;
  if (image != nullptr) {
    if (!ImageIsLive(image)) {
      Post(VO_CLASS_WARNING, messages::kLiteImageUnusable, VO_MODULE_LITE, kScaledIdentifier, "image",
           "not a live image");
      return 0;
    }
    b->own = shaderlib::TextureCreate(image, 3);
  } else if (const char *name = b->names.fileName; name != nullptr && name[0] != '\0') {
    b->own = shaderlib::TextureRead(name, 3);
  }
  b->inUse = b->own;
  return 0;
}

// (s, t) and the footprint of the pixel (xi, yi) in the turned image.
void Map(const ScaledImage *b, float xi, float yi, VtShaderGlobals *g) {
  const int turns = QuarterTurns(b->whole);
  const float across[4][2] = {{xi, yi}, {yi, 1 - xi}, {1 - xi, 1 - yi}, {1 - yi, xi}};
  const bool swapped = turns % 2 == 1;
  g->s = across[turns][0] * (swapped ? b->sy : b->sx);
  g->t = across[turns][1] * (swapped ? b->sx : b->sy);
  g->ds = swapped ? b->dtValue : b->dsValue;
  g->dt = swapped ? b->dsValue : b->dtValue;
}

template <bool Area>
VtStatus ScaledEvaluate(void *block) {
  auto *b = static_cast<ScaledImage *>(block);
  PrepareOnDemand(b, &ScaledPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float sample[3] = {0, 0, 0};
  if (b->inUse != nullptr && VoShaderPushEnvironment() == 0) {
    Map(b, g->xi, g->yi, g);
    if constexpr (Area) {
      const float origin[3] = {0, 0, 0}, up[3] = {0, 0, 1};
      (void)VoShadingInitialisePoint(origin, up);
      g->xs = g->ys = 0;
    }
    g->dPds = g->dPdsStorage;
    g->dPdt = g->dPdtStorage;
    Copy3(g->dPds, b->dPds);
    Copy3(g->dPdt, b->dPdt);
    if constexpr (Area)
      shaderlib::TextureSampleArea(sample, 3, b->inUse);
    else
      shaderlib::TextureSamplePoint(sample, 3, b->inUse);
    (void)VoShaderPopEnvironment();
  }
  Copy3(g->Cb, sample);
  return 0;
}

constexpr Entries ScaledEntries() {
  Entries e = DataEntries<kScaledDefault>(&ScaledEvaluate<false>, &ScaledPrepare, &TableGet<kScaledFields>,
                                          &TableSet<kScaledFields>);
  e.evaluateImage = &ScaledEvaluate<true>;
  e.prerender = &ScaledPrerender;
  e.initialise = &ScaledClear;
  e.release = &ScaledRelease;
  e.destroy = &exported::VoShaderFileNameInstanceFree;
  return e;
}

constexpr const char *kScaledGlobals[] = {"Cb", "s", "t", "dPds", "dPdt", "xi", "yi", "ds", "dt", "xs", "ys"};

}  // namespace

const ClassDescription kScaledImage{kScaledIdentifier, "scaled image", VO_SHADER_BACKGROUND, kScaledLabels,
                                    kScaledMeanings,   kScaledGlobals, ScaledEntries()};

}  // namespace vo::lite

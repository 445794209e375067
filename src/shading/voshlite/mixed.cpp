// The mixed background: the weighted sum of the backgrounds two other
// shaders give.
//
// The shaders it is given are held through the frame: a live background
// that does not reach this one through the shaders it holds; the background
// keeps a reference on each, so the application's VoShaderDestroy of one
// leaves it alive until the background lets go (its own destroy, or another
// shader set in its place). Evaluate, prepare and pre-render count one level
// of composing shaders on the calling thread: past 16 the background is
// black, whatever chain of shaders led there.

#include "shading/voshlite/voshlite.h"
#include "kernel/vosystem/face.h"

namespace vo::lite {

namespace {

constexpr const char kMixedIdentifier[] = "vxs_mixed_background";

struct Mixed {
  int32_t prepared;
  VtShader *shaders[2];  // base, mixed
  float ratio;
  float weights[2];
  int32_t use[2];
};

constexpr Mixed kMixedDefault{0, {}, 0.5f, {0.5f, 0.5f}, {0, 0}};
constexpr Field kMixedFields[] = {{VtGenericPtr, offsetof(Mixed, shaders)},
                                  {VtGenericPtr, offsetof(Mixed, shaders) + sizeof(VtShader *)},
                                  {VtFloat, offsetof(Mixed, ratio)}};
constexpr const char *kMixedLabels[] = {"base shader", "mixed shader", "mixing ratio"};
constexpr const char *kMixedMeanings[] = {
    "first background shader mixed", "second background shader mixed",
    "weight of the mixed shader, 0 to 1 (the base shader gets 1 minus it)"};

VtStatus MixedSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *b = static_cast<Mixed *>(block);
  if (index > 1) return FieldSet(kMixedFields, block, index, value);
  return HeldShaderSet(&b->shaders[index], value, VO_SHADER_BACKGROUND, block, VO_MODULE_LITE,
                       kMixedIdentifier, kMixedLabels[index]);
}

VtStatus MixedDestroy(void *block) {
  if (block == nullptr) return 0;
  HeldShadersRelease(static_cast<Mixed *>(block)->shaders, 2);
  return exported::VoShaderInstanceFree(block);
}

void Weigh(Mixed *b) {
  const float r = b->ratio > 1 ? 1.0f : b->ratio >= 0 ? b->ratio : 0.0f;
  b->weights[0] = 1 - r;
  b->weights[1] = r;
  for (int i = 0; i < 2; ++i) b->use[i] = b->shaders[i] != nullptr && b->weights[i] > 1e-6f;
}

// Runs the kernel procedure (reset or pre-render) on the shaders in use.
VtStatus ForShadersInUse(void *block, VtStatus (*step)(VtShader *)) {
  auto *b = static_cast<Mixed *>(block);
  Weigh(b);
  Nesting level;
  if (Nesting::Deep(VO_MODULE_LITE, kMixedIdentifier)) return 0;
  for (int i = 0; i < 2; ++i)
    if (b->use[i] != 0) (void)step(b->shaders[i]);
  return 0;
}

VtStatus MixedPrepare(void *block) { return ForShadersInUse(block, &VoShaderReset); }
VtStatus MixedPrerender(void *block) { return ForShadersInUse(block, &VoShaderPrerender); }

VtStatus MixedEvaluate(void *block) {
  auto *b = static_cast<Mixed *>(block);
  PrepareOnDemand(b, &MixedPrepare);
  VtShaderGlobals *g = VoShaderGetGlobals();
  Nesting level;
  if (Nesting::Deep(VO_MODULE_LITE, kMixedIdentifier) || (b->use[0] == 0 && b->use[1] == 0)) {
    Set3(g->Cb, 0, 0, 0);
    return 0;
  }
  float base[3] = {0, 0, 0};
  // (Without memory for the pushed copy the base is left out.)
  if (b->use[0] != 0 && VoShaderPushEnvironment() == 0) {
    (void)VoShaderExecute(b->shaders[0]);
    for (int i = 0; i < 3; ++i) base[i] = b->weights[0] * g->Cb[i];
    (void)VoShaderPopEnvironment();
  }
  float mixed[3] = {0, 0, 0};
  if (b->use[1] != 0) {
    (void)VoShaderExecute(b->shaders[1]);
    for (int i = 0; i < 3; ++i) mixed[i] = b->weights[1] * g->Cb[i];
  }
  for (int i = 0; i < 3; ++i) g->Cb[i] = base[i] + mixed[i];
  return 0;
}

constexpr Entries MixedEntries() {
  Entries e = DataEntries<kMixedDefault>(&MixedEvaluate, &MixedPrepare, &TableGet<kMixedFields>, &MixedSet);
  e.prerender = &MixedPrerender;
  e.destroy = &MixedDestroy;
  return e;
}

constexpr const char *kCbUnitI[] = {"Cb", "unitI"};

}  // namespace

const ClassDescription kMixed{kMixedIdentifier, "mixed",  VO_SHADER_BACKGROUND, kMixedLabels,
                              kMixedMeanings,   kCbUnitI, MixedEntries()};

}  // namespace vo::lite

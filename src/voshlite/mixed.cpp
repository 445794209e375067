// The mixed background: the weighted sum of the backgrounds two other
// shaders give.
//
// The shaders it is given are checked before they are kept: a live
// background (VoShaderEnquire refuses stale handles) whose chain of mixed
// backgrounds does not come back to this one; the background then holds a
// reference on each, so the application's VoShaderDestroy of one leaves it
// alive until the background lets go (its own destroy, or another shader
// set in its place). Evaluate, prepare and pre-render count how deeply
// mixed backgrounds nest on the calling thread: past 16 the background is
// black, whatever chain of shaders led there.

#include "voshlite/voshlite.h"
#include "vosystem/message_numbers.h"

namespace vo::lite {

namespace {

constexpr const char kMixedIdentifier[] = "vxs_mixed_background";
constexpr int kDeepest = 16;
// How many shaders the check of a new argument may visit before it gives up
// (shared sub-chains can make the walk exponential): refused beyond.
constexpr int kWalkBudget = 4096;

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

// The nesting of mixed backgrounds on this thread.
constinit thread_local int t_depth = 0;

VtStatus MixedEvaluate(void *block);

// Counts one level of nesting for its lifetime; Deep() past the limit.
class Nesting {
 public:
  Nesting() { ++t_depth; }
  ~Nesting() { --t_depth; }
  Nesting(const Nesting &) = delete;
  Nesting &operator=(const Nesting &) = delete;
  static bool Deep() {
    if (t_depth <= kDeepest) return false;
    Post(VO_CLASS_WARNING, messages::kLiteBackgroundTooDeep, VO_MODULE_LITE, kMixedIdentifier);
    return true;
  }
};

// The instance data of a mixed background, or null for any other shader.
const Mixed *MixedData(VtShader *shader) {
  VtTypedValue entry{};
  if (VoShaderGetEntry(shader, VO_SLOT_EVALUATE, &entry) != 0) return nullptr;
  if (entry.value.fn != reinterpret_cast<VtProc>(&MixedEvaluate)) return nullptr;
  return static_cast<const Mixed *>(VoShaderGetData(shader));
}

// True when the shader is the instance, or a mixed background whose chain
// reaches it (or the walk runs out of budget).
bool Reaches(VtShader *shader, const void *instance, int *budget) {
  if (shader == nullptr) return false;
  if (--*budget < 0 || VoShaderGetData(shader) == instance) return true;
  const Mixed *m = MixedData(shader);
  if (m == nullptr) return false;
  return Reaches(m->shaders[0], instance, budget) ||
         (m->shaders[1] != m->shaders[0] && Reaches(m->shaders[1], instance, budget));
}

bool Acceptable(VtShader *shader, const void *instance) {
  if (shader == nullptr) return true;
  uint32_t type = 0;
  if (VoShaderEnquire(shader, &type, nullptr, nullptr, nullptr) != 0 || type != VO_SHADER_BACKGROUND) return false;
  int budget = kWalkBudget;
  return !Reaches(shader, instance, &budget);
}

VtStatus MixedSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *b = static_cast<Mixed *>(block);
  if (index > 1) return FieldSet(kMixedFields, block, index, value);
  auto *shader = static_cast<VtShader *>(value->value.p);
  if (!Acceptable(shader, block)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kLiteHandleRefused, VO_MODULE_LITE, kMixedIdentifier,
         kMixedLabels[index]);
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (shader != nullptr) ++shader->references;
  VtShader *old = b->shaders[index];
  b->shaders[index] = shader;
  b->prepared = 0;
  if (old != nullptr) (void)VoShaderDestroy(old);
  return 0;
}

VtStatus MixedDestroy(void *block) {
  if (block == nullptr) return 0;
  auto *b = static_cast<Mixed *>(block);
  for (VtShader *&s : b->shaders) {
    VtShader *held = s;
    s = nullptr;
    if (held != nullptr) (void)VoShaderDestroy(held);
  }
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
  if (Nesting::Deep()) return 0;
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
  if (Nesting::Deep() || (b->use[0] == 0 && b->use[1] == 0)) {
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

const ClassDescription kMixed{kMixedIdentifier, "mixed", VO_SHADER_BACKGROUND, kMixedLabels, kCbUnitI,
                              MixedEntries()};

}  // namespace vo::lite

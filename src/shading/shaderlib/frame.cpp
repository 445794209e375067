// The shader-library frame: the class creator, instance strings, field
// tables, shadeable colours, the cube-face projection of point-light shadows,
// and the exported entry bodies every library shares.
//
// The word bodies copy all 8 bytes of a value (so a handle or procedure
// stored through them survives whole) and read a float from the word's first
// 4 bytes. A null file name reads back as "". Get entries leave the value
// untouched for an index beyond the class's arguments; set entries clear the
// prepared flag whatever the index.

#include "shading/shaderlib/face.h"

#include <cmath>
#include <limits>

#include "shading/voshader/face.h"
#include "kernel/vosystem/face.h"

namespace vo::shaderlib {

namespace {

constexpr uint32_t kMaxArguments = 40;

VtStatus EntrySet(uint32_t slot, VtProc procedure) {
  VtTypedValue v{};
  v.type = VtFunc;
  v.value.fn = procedure;
  return VoShaderSetEntry(slot, &v);
}

template <class P>
VtProc AsProc(P procedure) {
  return reinterpret_cast<VtProc>(procedure);
}

// Entries in the registration order of the frame.
VtStatus EntriesSet(const ClassDescription &d) {
  const Entries &e = d.entries;
  const bool light = d.type == VO_SHADER_LIGHT && !d.allSlots;
  struct Slot {
    uint32_t slot;
    VtProc procedure;
    bool light;
  };
  const Slot slots[] = {
      {VO_SLOT_EVALUATE, AsProc(e.evaluate), false},
      {VO_SLOT_EVALUATE_IMAGE, AsProc(e.evaluateImage), false},
      {VO_SLOT_PREPARE, AsProc(e.prepare), true},
      {VO_SLOT_PRERENDER, AsProc(e.prerender), false},
      {VO_SLOT_INITIALISE, AsProc(e.initialise), false},
      {VO_SLOT_RELEASE, AsProc(e.release), false},
      {VO_SLOT_GET_ARG, AsProc(e.get), true},
      {VO_SLOT_SET_ARG, AsProc(e.set), true},
      {VO_SLOT_CREATE, AsProc(e.create), true},
      {VO_SLOT_DESTROY, AsProc(e.destroy), true},
  };
  VtStatus st = 0;
  for (const Slot &s : slots)
    if ((s.light || !light) && (st = EntrySet(s.slot, s.procedure)) != 0) return st;
  return st;
}

const VtShaderWordArgs *Words(const void *block) { return static_cast<const VtShaderWordArgs *>(block); }
VtShaderWordArgs *Words(void *block) { return static_cast<VtShaderWordArgs *>(block); }

VtStatus FloatWordGet(const void *block, uint32_t index, uint32_t count, VtTypedValue *value) {
  if (block == nullptr || value == nullptr || index >= count) return 0;
  value->type = VtFloat;
  value->value.f = Words(block)->word[index].f;
  return 0;
}

VtStatus WordSet(void *block, uint32_t index, uint32_t count, const VtTypedValue *value) {
  if (block == nullptr) return 0;
  Words(block)->prepared = 0;
  if (value != nullptr && index < count) Words(block)->word[index].bits = value->value.bits;
  return 0;
}

void ThreeGet(const float *from, VtTypedValue *value) {
  for (int i = 0; i < 3; ++i) value->value.v[i] = from[i];
}
void ThreeSet(float *to, const VtTypedValue *value) {
  for (int i = 0; i < 3; ++i) to[i] = value->value.v[i];
}

template <class T>
T *At(void *block, uint32_t offset) {
  return reinterpret_cast<T *>(static_cast<unsigned char *>(block) + offset);
}

const char *const kUnitNames[] = {"undefined", "candela", "kilocandela"};

const char *UnitName(uint32_t code) { return code >= 1 && code <= 3 ? kUnitNames[code - 1] : kUnitNames[0]; }

// A setting that changes where a light stands or looks: stored only when it
// differs, and then the shadow maps are made again.
void InvalidatingSet(void *block, const Field &f, const VtTypedValue *value) {
  const uint32_t words = f.type == VtFloat || f.type == VtInt32 ? 1 : 3;
  int32_t incoming = value->value.i;
  if ((f.flags & kFieldNotNegative) != 0 && incoming < 0) incoming = 0;
  const void *from = words == 1 && f.type == VtInt32 ? static_cast<const void *>(&incoming)
                                                     : static_cast<const void *>(&value->value);
  if (std::memcmp(At<unsigned char>(block, f.offset), from, words * 4) == 0) return;
  std::memcpy(At<unsigned char>(block, f.offset), from, words * 4);
  static_cast<VtLightData *>(block)->shadowValid = 0;
}

}  // namespace

VtStatus ClassCreate(const ClassDescription &d) {
  const char *strings[kMaxArguments + 1];
  uint32_t indices[kMaxArguments];
  const auto n = static_cast<uint32_t>(d.labels.size());
  if (n > kMaxArguments) return VO_STATUS_BAD_ARGUMENT;
  strings[0] = d.name;
  for (uint32_t i = 0; i < n; ++i) {
    strings[i + 1] = d.labels[i];
    indices[i] = i + 1;
  }
  VtStatus st = VoStringTableCreate(d.identifier.text, n + 1, strings);
  if (st == 0 && d.meanings.size() == n) shader::ArgumentMeaningsKeep(d.identifier.text, d.meanings.data());
  if (st == 0 && !d.buffers.empty())
    shader::ArgumentBuffersKeep(d.identifier.text, d.buffers.data(), d.buffers.size());
  if (st == 0) st = VoShaderPrototypeCreate(d.type, d.identifier.text, 0, n, n > 0 ? indices : nullptr);
  for (std::size_t g = 0; st == 0 && g < d.globals.size(); ++g) st = VoShaderUseGlobal(d.globals[g]);
  return st == 0 ? EntriesSet(d) : st;
}

void ClassListCreate(std::span<const ClassDescription> classes) {
  for (const ClassDescription &d : classes) (void)ClassCreate(d);
}

char *EmptyString() { return StringCopy(""); }

char *StringCopy(const char *text) {
  if (text == nullptr) text = "";
  const std::size_t n = std::strlen(text) + 1;
  if (n > std::numeric_limits<uint32_t>::max()) return nullptr;
  auto *copy = static_cast<char *>(VoAllocate(static_cast<uint32_t>(n)));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

bool StringReplace(char **word, const char *text) {
  char *copy = StringCopy(text);
  if (copy == nullptr) return false;
  VoDeallocate(*word);
  *word = copy;
  return true;
}

void FieldGet(std::span<const Field> fields, void *block, uint32_t index, VtTypedValue *value) {
  if (index >= fields.size()) return;
  const Field &f = fields[index];
  if ((f.flags & kFieldShadeable) != 0 && value->type == VtShaderColour) {
    value->value.p = *At<VtShader *>(block, f.shaderOffset);
    return;
  }
  value->type = f.type;
  switch (f.type) {
    case VtColourType:
    case VtPoint:
    case VtVector: ThreeGet(At<float>(block, f.offset), value); return;
    case VtGenericPtr: value->value.p = *At<void *>(block, f.offset); return;
    case VtFunc: value->value.fn = *At<VtProc>(block, f.offset); return;
    case VtString:
      if ((f.flags & kFieldUnits) != 0) {
        value->value.s = UnitName(*At<uint32_t>(block, f.offset));
      } else {
        const char *s = *At<const char *>(block, f.offset);
        value->value.s = s != nullptr ? s : "";
      }
      return;
    default: value->value.u = *At<uint32_t>(block, f.offset); return;
  }
}

// A colour given as a shader must be a live shader: the class calls it at
// every point it shades. Anything else (a block, a shader destroyed, an
// object of another kind) is refused before it is kept.
bool ShaderColourRefused(const VtTypedValue *value) {
  if (value->type != VtShaderColour || value->value.p == nullptr ||
      shader::ShaderIsLive(static_cast<const VtShader *>(value->value.p)))
    return false;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_SHADER, "VoShaderSetArg", value->value.p,
       "shader (a colour given as a shader)");
  return true;
}

VtStatus FieldSet(std::span<const Field> fields, void *block, uint32_t index, const VtTypedValue *value) {
  *static_cast<int32_t *>(block) = 0;
  if (index >= fields.size()) return 0;
  const Field &f = fields[index];
  if ((f.flags & kFieldShadeable) != 0 && value->type == VtShaderColour) {
    if (ShaderColourRefused(value)) return VO_STATUS_BAD_ARGUMENT;
    *At<VtShader *>(block, f.shaderOffset) = static_cast<VtShader *>(value->value.p);
    return 0;
  }
  if ((f.flags & kFieldInvalidates) != 0) {
    InvalidatingSet(block, f, value);
    return 0;
  }
  switch (f.type) {
    case VtColourType:
    case VtPoint:
    case VtVector: ThreeSet(At<float>(block, f.offset), value); return 0;
    case VtGenericPtr: *At<void *>(block, f.offset) = value->value.p; return 0;
    case VtFunc: *At<VtProc>(block, f.offset) = value->value.fn; return 0;
    case VtString:
      if ((f.flags & kFieldUnits) != 0) {
        const char *s = value->value.s != nullptr ? value->value.s : "";
        if (std::strcmp(s, "candela") == 0) *At<uint32_t>(block, f.offset) = 2;
        if (std::strcmp(s, "kilocandela") == 0) *At<uint32_t>(block, f.offset) = 3;
        return 0;
      }
      return StringReplace(At<char *>(block, f.offset), value->value.s) ? 0 : VO_STATUS_NO_MEMORY;
    case VtFloat:
      if ((f.flags & kFieldTemperature) == 0 || value->value.f > 1000.0f)
        *At<float>(block, f.offset) = value->value.f;
      return 0;
    default:
      *At<int32_t>(block, f.offset) =
          (f.flags & kFieldNotNegative) != 0 && value->value.i < 0 ? 0 : value->value.i;
      return 0;
  }
}

VtStatus ArgumentNone(void *, uint32_t, VtTypedValue *) { return 0; }

namespace {
// The number of shader environments pushed in the calling context.
int EnvironmentDepth() {
  int depth = 0;
  for (const VtShaderGlobals *g = VoShaderGetGlobals()->stackTop;
       g != nullptr && depth < kShadeableDepthLimit; g = g->stackTop)
    ++depth;
  return depth;
}
}  // namespace

void ShadeableColour(float colour[3], VtShader *shader, int32_t *prepared, bool feedsDerived) {
  if (shader == nullptr) return;
  if (EnvironmentDepth() >= kShadeableDepthLimit) {
    Post(VO_CLASS_WARNING, messages::kShadeableTooDeep, VO_MODULE_SUPER_LITE,
         shader->cls != nullptr ? shader->cls->name : "");
    return;
  }
  // Evaluated into a local flag; the instance's is written only when it
  // changes (never in a threaded pass, where the kernel leaves it alone).
  const int32_t kept = *prepared;
  uint32_t flag = static_cast<uint32_t>(kept);
  (void)VoShaderEvaluateShadeableColour(colour, shader, &flag);
  if (feedsDerived && static_cast<int32_t>(flag) != kept) *prepared = static_cast<int32_t>(flag);
}

int CubeFaceProject(const float q[3], float *u, float *v) {
  constexpr float c = 0.48284439f;  // one half over tan(46 degrees): the faces overlap
  const float ax = std::fabs(q[0]), ay = std::fabs(q[1]), az = std::fabs(q[2]);
  if (!(ax > 0 || ay > 0 || az > 0)) return -1;
  if (ax >= ay && ax >= az) {
    *u = 0.5f - c * q[1] / q[0];
    *v = q[0] > 0 ? 0.5f - c * q[2] / q[0] : 0.5f + c * q[2] / q[0];
    return q[0] > 0 ? 0 : 1;
  }
  if (ay >= az) {
    *u = 0.5f + c * q[0] / q[1];
    *v = q[1] > 0 ? 0.5f - c * q[2] / q[1] : 0.5f + c * q[2] / q[1];
    return q[1] > 0 ? 2 : 3;
  }
  *u = 0.5f + c * q[1] / q[2];
  *v = q[2] > 0 ? 0.5f - c * q[0] / q[2] : 0.5f + c * q[0] / q[2];
  return q[2] > 0 ? 4 : 5;
}

VtStatus ImageRegionArgumentsSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr) return 0;
  auto *b = static_cast<ImageRegionArgs *>(block);
  b->names.prepared = 0;
  if (value == nullptr) return 0;
  switch (index) {
    case 0: return StringReplace(&b->names.fileName, value->value.s) ? 0 : VO_STATUS_NO_MEMORY;
    case 1: b->names.handle.image = static_cast<VtImage *>(value->value.p); break;
    case 2: b->imageRegion = value->value.i; break;
    default: break;
  }
  return 0;
}

const char *ImageRefusal(const VtImage *image) {
  return ImageIsLive(image) ? ImagePixelsRefusal(image) : "not a live image";
}

const char *ImagePixelsRefusal(const VtImage *image) {
  if (image->width <= 0 || image->height <= 0) return "no pixels (zero size)";
  if (image->data == nullptr) return "no pixel data";
  if (image->bits != 8 && image->bits != 24) return "neither 8 nor 24 bits per pixel";
  if (static_cast<int64_t>(image->bytes_per_row) < static_cast<int64_t>(image->width) * (image->bits / 8))
    return "rows shorter than their pixels";
  return nullptr;
}

namespace {

// The nesting of composing shaders on this thread.
constinit thread_local int t_nesting = 0;

// How many shaders the check of a new argument may visit before it gives up
// (shared sub-chains can make the walk exponential): refused beyond.
constexpr int kWalkBudget = 4096;

// True when the shader is the instance or reaches it through the shaders
// its arguments hold (or the walk runs out of budget).
bool Reaches(VtShader *shader, const void *instance, int *budget) {
  if (--*budget < 0 || shader->data == instance) return true;
  const VtShaderPrototype *c = shader->cls;
  if (c == nullptr) return false;
  uint32_t count = 0;
  void *labels = nullptr;
  if (VoShaderEnquire(shader, nullptr, nullptr, &count, &labels) != 0 || labels == nullptr) return false;
  for (uint32_t i = 0; i < count; ++i) {
    VtTypedValue v{};
    if (VoShaderGetArg(shader, static_cast<const char **>(labels)[i], &v) != 0 || v.type != VtGenericPtr)
      continue;
    auto *held = static_cast<VtShader *>(v.value.p);
    if (held != nullptr && held != shader && shader::ShaderIsLive(held) && Reaches(held, instance, budget))
      return true;
  }
  return false;
}

bool Holdable(VtShader *shader, uint32_t type, const void *instance) {
  if (shader == nullptr) return true;
  if (!shader::ShaderIsLive(shader)) return false;
  if (type != 0 && (shader->cls == nullptr || shader->cls->type != type)) return false;
  int budget = kWalkBudget;
  return !Reaches(shader, instance, &budget);
}

}  // namespace

VtStatus HeldShaderSet(VtShader **slot, const VtTypedValue *value, uint32_t type, void *instance,
                       uint32_t module, const char *identifier, const char *label) {
  auto *shader = value != nullptr ? static_cast<VtShader *>(value->value.p) : nullptr;
  if (!Holdable(shader, type, instance)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kLiteHandleRefused, module, identifier, label);
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (shader != nullptr) ++shader->references;
  VtShader *old = *slot;
  *slot = shader;
  *static_cast<int32_t *>(instance) = 0;
  if (old != nullptr) (void)VoShaderDestroy(old);
  return 0;
}

bool HeldShaderAcceptable(VtShader *shader, uint32_t type, const void *instance) {
  return Holdable(shader, type, instance);
}

void HeldShadersRelease(VtShader **slots, int n) {
  for (int i = 0; i < n; ++i) {
    VtShader *held = slots[i];
    slots[i] = nullptr;
    if (held != nullptr) (void)VoShaderDestroy(held);
  }
}

Nesting::Nesting() { ++t_nesting; }
Nesting::~Nesting() { --t_nesting; }
bool Nesting::Deep(uint32_t module, const char *identifier) {
  if (t_nesting <= kNestingLimit) return false;
  Post(VO_CLASS_WARNING, messages::kLiteBackgroundTooDeep, module, identifier);
  return true;
}

namespace {
constexpr int32_t kMapSideLimit = 8192;
int32_t Clamp(int32_t x, int32_t lo, int32_t hi) { return x < lo ? lo : x > hi ? hi : x; }
}  // namespace

// The radius never exceeds the map side, so every count fits an integer.
SamplingCounts SamplingGrid(VtLightData *d, float softness, int32_t quality, int32_t largest) {
  SamplingCounts c;
  c.softness = softness >= 1.0f ? softness : 1.0f;
  const bool several = quality > 1;
  c.fewest = several ? (quality < largest ? quality : largest) : 1;
  c.most = several ? largest : 1;
  const auto side = static_cast<float>(Clamp(d->shadowMapSide, 0, kMapSideLimit));
  float r = side * c.softness * 0.00390625f;
  if (!(r <= side)) r = side;
  const int32_t lo = c.fewest, hi = c.most;
  int32_t g1, g2;
  if (static_cast<int32_t>(4 * r * r) >= hi) {
    const int32_t n = Clamp(static_cast<int32_t>(std::sqrt(static_cast<float>(hi)) + 0.5f), lo, hi);
    g1 = Clamp(static_cast<int32_t>(static_cast<float>(hi) / static_cast<float>(n) + 0.5f), lo, hi);
    g2 = n;
  } else {
    g1 = g2 = Clamp(static_cast<int32_t>(2 * r + 0.5f), lo, hi);
  }
  d->pcfHalfWidth = d->pcfHalfHeight = r;
  d->pcfSamplesX = g1;
  d->pcfSamplesY = g2;
  d->pcfStepX = 2 * r / static_cast<float>(g1);
  d->pcfStepY = 2 * r / static_cast<float>(g2);
  d->pcfJitterX = d->pcfStepX / 2;
  d->pcfJitterY = d->pcfStepY / 2;
  return c;
}

void Biased(const VtLightData *d, const float *point, const float *normal, float bias, float q[3]) {
  float dp[3];
  for (int i = 0; i < 3; ++i) dp[i] = point[i] - d->position[i];
  const float offset = (std::fabs(dp[0]) + std::fabs(dp[1]) + std::fabs(dp[2])) * bias;
  for (int i = 0; i < 3; ++i) q[i] = dp[i] + (normal != nullptr ? offset * normal[i] : 0.0f);
}

void FallOffDefaults(VtLightData *d, VtProc *inverse) {
  d->classFallOff = reinterpret_cast<VtProc>(&exported::VoLightFallOff);
  *inverse = reinterpret_cast<VtProc>(&exported::VoLightInverseFallOff);
}

int32_t WholePower(float power) {
  if (!(power >= 0.0f && power < 2147483648.0f)) return 0;
  const auto i = static_cast<int32_t>(power);
  const float f = power - static_cast<float>(i);
  if (f < 0.01f) return i;
  if (1.0f - f < 0.01f && i < std::numeric_limits<int32_t>::max()) return i + 1;
  return 0;
}

void TableTake(SharedTable *table, uint32_t floats, void (*fill)(float *), uint32_t module,
               const char *identifier, int32_t *holds) {
  if (table == nullptr || *holds != 0) return;
  if (table->uses == 0) {
    const size_t bytes = size_t{floats} * sizeof(float);
    table->values =
        bytes <= UINT32_MAX ? static_cast<float *>(VoAllocate(static_cast<uint32_t>(bytes))) : nullptr;
    if (table->values == nullptr) {
      Post(VO_STATUS_NO_MEMORY, messages::kLiteTableNotMade, module, identifier);
      return;
    }
    fill(table->values);
  }
  ++table->uses;
  *holds = 1;
}

void TableGive(SharedTable *table, int32_t *holds) {
  if (table == nullptr || *holds == 0) return;
  *holds = 0;
  if (--table->uses != 0) return;
  VoDeallocate(table->values);
  table->values = nullptr;
}

bool ScatteringLightsVisit(std::initializer_list<const char *> names,
                           const std::function<bool(VtShader *light, const char *name)> &visit) {
  VtReference *list = VoLightListGet();
  if (list == nullptr) return true;
  VtReference *node = list;
  do {
    auto *light = static_cast<VtShader *>(node->data);
    node = node->next;
    const char *name = nullptr;
    uint32_t type = 0;
    VtTypedValue on{};
    if (light == nullptr || VoShaderEnquire(light, &type, &name, nullptr, nullptr) != 0 || name == nullptr ||
        type != VO_SHADER_LIGHT)
      continue;
    bool named = false;
    for (const char *n : names) named = named || std::strcmp(name, n) == 0;
    if (!named || VoShaderGetArg(light, "scattering", &on) != 0 || on.value.i == 0) continue;
    if (!visit(light, name)) return false;
  } while (node != nullptr && node != list);
  return true;
}

}  // namespace vo::shaderlib

namespace vo {

using namespace shaderlib;

VtStatus VoProcedureNull(void *) { return 0; }

VtStatus VoShaderInstanceFree(void *data) {
  if (data != nullptr) VoDeallocate(data);
  return 0;
}

VtStatus VoShaderFileNameInstanceFree(void *data) {
  if (data == nullptr) return 0;
  VoDeallocate(static_cast<VtShaderFileNameArgs *>(data)->fileName);
  VoDeallocate(data);
  return 0;
}

VtStatus VoBlockFree(void *data) {
  VoDeallocate(data);
  return 0;
}

VtStatus VoBlockRelease(void *data) {
  if (data != nullptr) VoDeallocate(data);
  return 0;
}

// The argument entries below are slots of many classes, each given the
// instance data of its shader by the shader kernel. Given anything else
// (the data of a class that lacks the entry, which is laid out otherwise, or
// no instance data at all) an entry refuses before it reads or writes it.
template <auto Entry>
bool EntryRefused(const void *data) {
  return shader::ClassEntryDataRefused(data, reinterpret_cast<VtProc>(Entry));
}

static VtStatus ShaderWordGet(void *data, uint32_t index, uint32_t count, VtTypedValue *value) {
  if (data == nullptr || value == nullptr || index >= count) return 0;
  value->type = VtGenericPtr;
  value->value.p = Words(data)->word[index].p;
  return 0;
}

VtStatus VoShaderTwoShaderArgumentsGet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderTwoShaderArgumentsGet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return ShaderWordGet(data, index, 2, value);
}

VtStatus VoShaderOneShaderArgumentGet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderOneShaderArgumentGet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return ShaderWordGet(data, index, 1, value);
}

// Post-process classes keep their mode word beside the flag: the arguments
// start one word later and the mode is never written.
static VtStatus PostprocessWordSet(void *data, uint32_t index, uint32_t count, const VtTypedValue *value) {
  if (data == nullptr) return 0;
  auto *b = static_cast<VtPostprocessWordArgs *>(data);
  b->prepared = 0;
  if (value != nullptr && index < count) b->word[index].bits = value->value.bits;
  return 0;
}
VtStatus VoPostprocessTwoArgumentsSet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoPostprocessTwoArgumentsSet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return PostprocessWordSet(data, index, 2, value);
}
VtStatus VoPostprocessThreeArgumentsSet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoPostprocessThreeArgumentsSet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return PostprocessWordSet(data, index, 3, value);
}

VtStatus VoShaderOneFloatArgumentGet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderOneFloatArgumentGet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return FloatWordGet(data, index, 1, value);
}
VtStatus VoShaderTwoFloatArgumentsGet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderTwoFloatArgumentsGet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return FloatWordGet(data, index, 2, value);
}
VtStatus VoShaderThreeFloatArgumentsGet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderThreeFloatArgumentsGet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return FloatWordGet(data, index, 3, value);
}
VtStatus VoShaderOneArgumentSet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderOneArgumentSet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return WordSet(data, index, 1, value);
}
VtStatus VoShaderTwoArgumentsSet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderTwoArgumentsSet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return WordSet(data, index, 2, value);
}
VtStatus VoShaderThreeArgumentsSet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderThreeArgumentsSet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return WordSet(data, index, 3, value);
}

VtStatus VoShaderColourArgumentGet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderColourArgumentGet>(data)) return VO_STATUS_BAD_ARGUMENT;
  if (data == nullptr || value == nullptr || index != 0) return 0;
  const auto *b = static_cast<const VtShaderColourArg *>(data);
  if (value->type == VtShaderColour) {
    value->value.p = b->shader;
    return 0;
  }
  value->type = VtColourType;
  ThreeGet(b->colour, value);
  return 0;
}

VtStatus VoShaderColourArgumentSet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderColourArgumentSet>(data)) return VO_STATUS_BAD_ARGUMENT;
  if (data == nullptr) return 0;
  auto *b = static_cast<VtShaderColourArg *>(data);
  b->prepared = 0;
  if (value == nullptr || index != 0) return 0;
  if (shaderlib::ShaderColourRefused(value)) return VO_STATUS_BAD_ARGUMENT;
  if (value->type == VtShaderColour)
    b->shader = static_cast<VtShader *>(value->value.p);
  else
    ThreeSet(b->colour, value);
  return 0;
}

VtStatus VoShaderFileNameArgumentGet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderFileNameArgumentGet>(data)) return VO_STATUS_BAD_ARGUMENT;
  if (data == nullptr || value == nullptr || index != 0) return 0;
  const char *name = static_cast<const VtShaderFileNameArgs *>(data)->fileName;
  value->type = VtString;
  value->value.s = name != nullptr ? name : "";
  return 0;
}

VtStatus VoShaderFileNameArgumentSet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoShaderFileNameArgumentSet>(data)) return VO_STATUS_BAD_ARGUMENT;
  if (data == nullptr) return 0;
  auto *b = static_cast<VtShaderFileNameArgs *>(data);
  b->prepared = 0;
  if (value != nullptr && index == 0 && !StringReplace(&b->fileName, value->value.s))
    return VO_STATUS_NO_MEMORY;
  return 0;
}

VtStatus VoImageArgumentsSet(void *data, uint32_t index, VtTypedValue *value) {
  if (EntryRefused<&exported::VoImageArgumentsSet>(data)) return VO_STATUS_BAD_ARGUMENT;
  return ImageArgumentsStore(data, index, value);
}

VtStatus shaderlib::ImageArgumentsStore(void *data, uint32_t index, const VtTypedValue *value) {
  if (data == nullptr) return 0;
  auto *b = static_cast<VtShaderFileNameArgs *>(data);
  b->prepared = 0;
  if (value == nullptr) return 0;
  if (index == 0 && !StringReplace(&b->fileName, value->value.s)) return VO_STATUS_NO_MEMORY;
  if (index == 1) b->handle.image = static_cast<VtImage *>(value->value.p);
  return 0;
}

VtStatus VoShaderTextureClear(void *data) {
  if (data != nullptr) static_cast<VtShaderFileNameArgs *>(data)->handle.texture = nullptr;
  return 0;
}

VtStatus VoShaderTextureRelease(void *data) {
  if (data == nullptr) return 0;
  auto *b = static_cast<VtShaderFileNameArgs *>(data);
  if (b->handle.texture != nullptr) TextureDestroy(b->handle.texture);
  b->handle.texture = nullptr;
  return 0;
}

VtStatus VoShaderTextureReadPrepare(void *data) {
  if (data == nullptr) return 0;
  (void)VoShaderTextureRelease(data);
  auto *b = static_cast<VtShaderFileNameArgs *>(data);
  b->handle.texture = TextureRead(b->fileName != nullptr ? b->fileName : "", 3);
  return 0;
}

VtStatus VoPlasticReflectancePrepare(void *data) {
  if (data == nullptr) return 0;
  auto *b = static_cast<VtPlasticParams *>(data);
  if (b->specularShader != nullptr) (void)VoShaderReset(b->specularShader);
  b->power = std::fabs(b->roughness) >= 0.001f ? 1.0f / b->roughness : 1000.0f;
  b->integerPower = WholePower(b->power);
  for (int i = 0; i < 3; ++i) b->tint[i] = b->specularFactor * b->specularColour[i];
  return 0;
}

}  // namespace vo

// The frame every shader library shares: a class is one constant
// description (identifier, display name, type, labels, globals, entries)
// run through one creator; instance data is one C++ struct per class, made
// by copying a constant default; arguments a class does not serve with the
// shared word, colour or file-name bodies are read and written through one
// table of fields.
//
// Instance data holds no pointers into the shader globals: each entry takes
// the calling context's record (VoShaderGetGlobals) once per call, so one
// instance serves every context of a threaded pass.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <span>
#include <type_traits>

#include <vo/vo_multit.h>
#include <vo/vo_shader.h>
#include <vo/vo_shaderlib.h>

#include "kernel/vosystem/face.h"
#include "shading/shaderlib/patterns.h"
#include "shading/voshader/face.h"

namespace vo::shaderlib {

// A class identifier, refused at compile time when longer than 31
// characters (the kernel's identifiers are cut there).
struct Identifier {
  const char *text;
  consteval Identifier(const char *s) : text(s) {
    std::size_t n = 0;
    while (s[n] != '\0') ++n;
    if (n > 31) throw "a class identifier is at most 31 characters";
  }
};

// The entry procedures of a class; null leaves a slot empty.
struct Entries {
  VtShaderDataProc evaluate = nullptr;       // 2
  VtShaderDataProc evaluateImage = nullptr;  // 3
  VtShaderDataProc prepare = nullptr;        // 4
  VtShaderDataProc prerender = nullptr;      // 11
  VtShaderDataProc initialise = nullptr;     // 5
  VtShaderDataProc release = nullptr;        // 6
  VtShaderArgProc get = nullptr;             // 9
  VtShaderArgProc set = nullptr;             // 10
  VtShaderCreateProc create = nullptr;       // 7
  VtShaderDataProc destroy = nullptr;        // 8
};

struct ClassDescription {
  Identifier identifier;
  const char *name;  // display name
  uint32_t type;
  std::span<const char *const> labels;
  // One line per label of what the argument does, beside the labels as the
  // interface description keeps its procedures' comments; the reference
  // docs/shader-classes.md shows them and a test requires every one.
  std::span<const char *const> meanings;
  std::span<const char *const> globals;
  Entries entries;
  // Lights only: register all ten slots (nulls for the empty ones), as the
  // libraries after the super-lite one do.
  bool allSlots = false;
  // The arguments that are raw buffers, and the floats each must hold: a
  // script's address for one is judged against it when it is set.
  std::span<const shader::ArgumentBuffer> buffers = {};
};

// Registers the class: string table (with the meanings, when there is one a
// label), prototype, globals, then the entries
// (super-lite lights, which declare no globals and leave 2, 3, 5, 6 and 11
// alone, set only 4, 9, 10, 7, 8; lights with allSlots set all ten). Stops at the first step that fails and
// answers its status, so a refused table or prototype never lends its name to another class.
VtStatus ClassCreate(const ClassDescription &d);

// Runs the creators of a library in order; their statuses are not looked at.
void ClassListCreate(std::span<const ClassDescription> classes);

// A fresh one-byte empty string from VoAllocate, or null.
char *EmptyString();
// An allocated copy of the text (null reads as ""), or null when memory
// runs out or the length does not fit an allocation.
char *StringCopy(const char *text);
// Stores a copy of the new string in place of the old one (freed); false
// when the copy cannot be made, the old string then kept.
bool StringReplace(char **word, const char *text);

// Instance data made from its constant default; a class whose data opens
// with VtShaderFileNameArgs gets a fresh empty file name (none when that
// copy cannot be made).
template <const auto &Default>
void *InstanceCreate() {
  using T = std::remove_cvref_t<decltype(Default)>;
  auto *block = static_cast<T *>(VoAllocate(sizeof(T)));
  if (block == nullptr) return nullptr;
  std::memcpy(static_cast<void *>(block), &Default, sizeof(T));
  if constexpr (requires { block->names.fileName; }) {
    block->names.fileName = EmptyString();
    if (block->names.fileName == nullptr) {
      VoDeallocate(block);
      return nullptr;
    }
  }
  return block;
}

// The instance data of classes without arguments.
struct EmptyData {
  int32_t prepared;
};
inline constexpr EmptyData kEmptyDefault{};

// The entries of a class whose data is freed whole: evaluate (for both
// slots 2 and 3), prepare, get, set, create from the default, free.
template <const auto &Default>
constexpr Entries DataEntries(VtShaderDataProc evaluate, VtShaderDataProc prepare, VtShaderArgProc get,
                              VtShaderArgProc set) {
  Entries e;
  e.evaluate = e.evaluateImage = evaluate;
  e.prepare = prepare;
  e.get = get;
  e.set = set;
  e.create = &InstanceCreate<Default>;
  e.destroy = &exported::VoShaderInstanceFree;
  return e;
}

// One argument of a class served by a field table.
enum FieldFlags : uint32_t {
  kFieldPlain = 0,
  kFieldShadeable = 1,     // a colour a shader may stand in for (shaderOffset)
  kFieldInvalidates = 2,   // stored only when it differs; then the shadow maps are rebuilt
  kFieldTemperature = 4,   // stored only above 1000 kelvin
  kFieldUnits = 8,         // an intensity-units name stored as its code
  kFieldNotNegative = 16,  // an integer stored as 0 when negative
};

struct Field {
  uint32_t type;  // value-type code answered by get
  uint32_t offset;
  uint32_t flags = kFieldPlain;
  uint32_t shaderOffset = 0;
};

// Get and set through a field table: get writes the type and value of the
// index (nothing beyond the table; the shader word when asked with type 52
// for a shadeable colour), set clears the prepared flag (the block's first
// word) and stores the value. String fields own their copies: set answers
// 0x20000006, the old string kept, when a copy cannot be made.
void FieldGet(std::span<const Field> fields, void *block, uint32_t index, VtTypedValue *value);
VtStatus FieldSet(std::span<const Field> fields, void *block, uint32_t index, const VtTypedValue *value);

template <const auto &Fields>
VtStatus TableGet(void *block, uint32_t index, VtTypedValue *value) {
  if (block != nullptr && value != nullptr) FieldGet(Fields, block, index, value);
  return 0;
}
template <const auto &Fields>
VtStatus TableSet(void *block, uint32_t index, VtTypedValue *value) {
  return block != nullptr && value != nullptr ? FieldSet(Fields, block, index, value) : 0;
}

// The get and set entries of classes without arguments: any index, nothing.
VtStatus ArgumentNone(void *block, uint32_t index, VtTypedValue *value);

// Evaluates the shader standing in for a colour into the colour. The kernel
// clears the caller's prepared flag; it is given back unless the colour
// feeds derived values (which are then made again). Past 16 nested shader
// environments the colour stays and a warning is posted: a colour shader
// reaching itself ends there.
void ShadeableColour(float colour[3], VtShader *shader, int32_t *prepared, bool feedsDerived);
constexpr int kShadeableDepthLimit = 16;

// The cube face a point light's shadow looks up for the vector q from the
// light: windows 0-5 are +x, -x, +y, -y, +z, -z. Answers -1 for q = 0.
int CubeFaceProject(const float q[3], float *u, float *v);

// The set entry of the toolkit's image colour (and the lite library's
// scaled image background): file name, image handle, image-region flag.
struct ImageRegionArgs {
  VtShaderFileNameArgs names;  // handle.image: the image argument
  int32_t imageRegion;
  VtTexture *texture;
};
VtStatus ImageRegionArgumentsSet(void *block, uint32_t index, VtTypedValue *value);

// Why a class cannot read the pixels of the image, or null when it can: a
// live image of the framework with pixel data, a non-zero size, 8 or 24
// bits per pixel and rows at least as long as their pixels.
const char *ImageRefusal(const VtImage *image);
// The same without the liveness check, for an image known to be readable
// (its generation found): why its pixels cannot be read, or null.
const char *ImagePixelsRefusal(const VtImage *image);

// The frame's image check: true when the image is one of the driver
// framework's live images; false for a null, destroyed or foreign address,
// and before the framework starts.
bool ImageIsLive(const VtImage *image);
// The image's generation: of a live image, or of one destroyed while the
// running render may read it (readable until the outermost render ends); 0
// otherwise. A new image at a destroyed one's address has another.
uint64_t ImageGeneration(const VtImage *image);

// Textures and shadow-map sampling, from the modules that make them.
VtTexture *TextureRead(const char *name, uint32_t channels);
VtTexture *TextureCreate(VtImage *image, uint32_t channels);
void TextureDestroy(VtTexture *texture);
void TextureSamplePoint(float *out, uint32_t count, VtTexture *texture);
void TextureSampleArea(float *out, uint32_t count, VtTexture *texture);
double LightSampleShadow(float u, float v, float depth, VtLightData *light, VtShadowMap *window);

// A table of floats shared by the instances of a class (jitter and noise
// tables), kept by the class's module in its own record, with its count of
// users.
struct SharedTable {
  float *values;
  uint32_t uses;
};
// Takes a reference on the table (making and filling it of `floats` floats
// for the first user) and sets *holds; when it cannot be made, posts 2420
// with the module and class and leaves *holds 0. Nothing when *holds is set.
void TableTake(SharedTable *table, uint32_t floats, void (*fill)(float *), uint32_t module,
               const char *identifier, int32_t *holds);
// Gives back the reference the instance holds (if any); the last frees it.
void TableGive(SharedTable *table, int32_t *holds);

// The whole power of an exponent: i when within 0.01 above a whole number i,
// i + 1 when within 0.01 below it, else 0 (raise to the real power). Only
// exponents in [0, 2^31) have one.
int32_t WholePower(float power);

// 1/x, or 10000 when |x| < 0.0001 (a prepare's highlight power from its
// roughness, among others).
inline float Reciprocal(float x) { return std::fabs(x) < 0.0001f ? 10000.0f : 1.0f / x; }

// Shaders held by composing classes (backgrounds, colours and foregrounds
// that run other shaders). A held shader is live, of the class's type, and
// does not reach the instance through the shader arguments of the shaders it
// holds; the instance keeps a reference on it until it lets go, so the
// application's VoShaderDestroy leaves it alive meanwhile.
//
// Stores the shader of the value in *slot (taking a reference, giving the
// old one back) when it is null or acceptable (type 0: any type); else
// posts 2515 with the caller's module, keeps the argument and answers
// VO_STATUS_BAD_ARGUMENT. Clears the prepared flag only on success.
VtStatus HeldShaderSet(VtShader **slot, const VtTypedValue *value, uint32_t type, void *instance,
                       uint32_t module, const char *identifier, const char *label);
// Whether HeldShaderSet would take the shader (null is taken), for classes
// that report a refusal with a message of their own.
bool HeldShaderAcceptable(VtShader *shader, uint32_t type, const void *instance);
// Gives back the references held in the n slots and nulls them.
void HeldShadersRelease(VtShader **slots, int n);

// One level of composing shaders on the calling thread for the object's
// lifetime: Deep() when more than 16 are nested (posting 2516 with the
// caller's module), whatever chain of classes led there.
class Nesting {
 public:
  Nesting();
  ~Nesting();
  Nesting(const Nesting &) = delete;
  Nesting &operator=(const Nesting &) = delete;
  static bool Deep(uint32_t module, const char *identifier);
};
constexpr int kNestingLimit = 16;

// Lights. The percentage-closer sampling grid of a light from the shadow
// softness (at least 1), the quality (the fewest samples) and the largest
// count, for maps of the record's side; answers the effective softness and
// fills the record's grid.
struct SamplingCounts {
  float softness;
  int32_t fewest, most;
};
SamplingCounts SamplingGrid(VtLightData *d, float softness, int32_t quality, int32_t largest);
// The point moved off the surface along the normal by bias times its
// distance (sum of components) from the light, as a vector from the light.
void Biased(const VtLightData *d, const float *point, const float *normal, float bias, float q[3]);
// The kernel's fall-off procedures as the record's and the class's inverse.
void FallOffDefaults(VtLightData *d, VtProc *inverse);
// A light's get through its field table; asked with type 52, every light
// answers a null shader.
template <const auto &Fields>
VtStatus LightGet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  if (value->type == VtShaderColour) {
    if (index < std::size(Fields)) value->value.p = nullptr;
    return 0;
  }
  FieldGet(Fields, block, index, value);
  return 0;
}

// The libraries' float dot, cross and length are the shared ones.
using vec::Cross;
using vec::Dot;
using vec::Length;
// Scales to unit length; false (unchanged) when shorter than the tolerance,
// a rule of its own (vec::Normalise divides anything longer than zero).
inline bool Normalise(float *a, float tolerance = 0.001f) {
  const float n = Length(a);
  if (!(n >= tolerance)) return false;
  for (int i = 0; i < 3; ++i) a[i] /= n;
  return true;
}
inline void Set3(float *to, float x, float y, float z) {
  to[0] = x;
  to[1] = y;
  to[2] = z;
}
inline void Copy3(float *to, const float *from) { Set3(to, from[0], from[1], from[2]); }

// A colour a shader stood in for is evaluated into a local; outside a
// threaded pass the instance also keeps it (a get of the argument answers
// the colour last given), on the workers of one it is read-only.
inline void ShadedKeep(float *instance, const float *shaded, const VtShader *shader) {
  if (shader != nullptr && VoMultiThreadIsActive() == 0) Copy3(instance, shaded);
}

// The lights of the current light list whose class is one of the display
// names and whose "scattering" argument is on, each with its name, until the
// visit answers false; false when a visit did.
bool ScatteringLightsVisit(std::initializer_list<const char *> names,
                           const std::function<bool(VtShader *light, const char *name)> &visit);

// What VoImageArgumentsSet stores, for a class whose own set entry stores
// more (its data is then judged by that entry's slot, not this one's).
VtStatus ImageArgumentsStore(void *data, uint32_t index, const VtTypedValue *value);

}  // namespace vo::shaderlib

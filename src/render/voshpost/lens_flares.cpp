// The "lens flares" class: instance data on the class's pool, arguments
// with the named lens presets of the catalogue, the prepare's checks and
// derived values, and the evaluate entries drawing onto "Bi".

#include "render/voshpost/lens_flares.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "render/voshpost/classes.h"
#include "shading/shaderlib/face.h"
#include "kernel/vosystem/face.h"

namespace vo::post {

using namespace messages;

// A preset of the catalogue: its name and the shader captured for it.
struct CatalogueEntry {
  char *name;
  VtShader *captured;  // a "lens flares" shader; the ring holds one per class, and one class captures
  CatalogueEntry *next;
};

struct FlareClass {
  VtPool *pool;               // instance blocks (tag 0x440001)
  VtPool *entries;            // catalogue entries (tag 0x440002)
  CatalogueEntry *catalogue;  // sorted by name
  uint32_t live;              // instance blocks not yet given back
  uint32_t released;          // the stage has terminated: the last block frees the record
};

namespace {

constexpr uint32_t kClassPool = 0x440001, kCataloguePool = 0x440002;
constexpr uint32_t kArguments = 34;
constexpr const char *kClassName = "Lens flares";

constexpr const char *kLabels[kArguments] = {"lens",
                                             "fov",
                                             "size range",
                                             "intensity",
                                             "rotation",
                                             "glow radius",
                                             "glow shape",
                                             "glow focus",
                                             "glow colour",
                                             "glow factor",
                                             "iris blades",
                                             "iris blade shape",
                                             "halo shape",
                                             "halo radius",
                                             "halo width",
                                             "halo colour",
                                             "halo factor",
                                             "rays type",
                                             "rays shape",
                                             "rays count",
                                             "rays factor",
                                             "rays colour",
                                             "rays contrast",
                                             "rays range",
                                             "rays rotation",
                                             "ghosts",
                                             "ghosts shape",
                                             "ghosts factor",
                                             "ghosts min radius",
                                             "ghosts max radius",
                                             "min intensity",
                                             "max intensity",
                                             "check depth",
                                             "clamp colour"};
constexpr const char *kMeanings[] = {
    ("name of a lens preset (\"standard\", \"polygon\", \"lens35\", \"polygon35\", \"lens50\", "
     "\"polygon50\", "
     "\"lens105\", \"spark\", \"star4\") whose values it takes, or \"custom\""),
    "field of view of the lens in degrees, 1 to 179",
    "how much larger the brightest sources' flares are than the faintest's, 1 to 100",
    "strength of every flare",
    "turn in degrees of the flare's shapes",
    "radius of the glow round a source in lens units, 1 to 179",
    "shape of the glow: \"none\", \"circle\", \"polygon\" or \"arc polygon\"",
    "how sharply the glow is concentrated, 0 to 1",
    "colour of the glow",
    "strength of the glow, 0 to 10",
    "sides of the iris polygon, 3 to 30",
    "how far the iris sides bend into arcs for \"arc polygon\", 1 to 1e6",
    "shape of the halo ring: \"none\", \"circle\", \"polygon\" or \"arc polygon\"",
    "radius of the halo ring, 1 to 179",
    "width of the halo ring, 0.1 to 179",
    "colour of the halo",
    "strength of the halo, 0 to 10",
    "pattern of the rays: \"none\", \"random\", \"regular\", \"mixed\" or \"semi-regular\"",
    "shape the rays are measured in: \"none\", \"circle\", \"polygon\" or \"arc polygon\"",
    "number of rays, 1 to 100",
    "strength of the rays, 0 to 10",
    "colour of the rays",
    "how much the rays differ in strength, 0 to 1",
    "length of the rays, 0 to 10",
    "turn of the rays in degrees, added to the rotation",
    "number of ghost images along the line through the picture's centre, 0 to 100",
    "shape of the ghosts: \"none\", \"circle\", \"polygon\" or \"arc polygon\"",
    "strength of the ghosts, 0 to 10",
    "smallest ghost radius, 0.1 to 179",
    "largest ghost radius, 0.1 to 179",
    "brightness at and above which a pixel or light is a flare source, 1 to 1e6",
    "brightness at which a source's flare is drawn at full size, 1 to 1e6",
    "flares do not cover pixels nearer than their source",
    "limit the picture's colours to 1 after the flares are added"};

constexpr const char *kShapes[] = {"none", "circle", "polygon", "arc polygon"};
constexpr const char *kRaysTypes[] = {"none", "random", "regular", "mixed", "semi-regular"};

#define VO_AT(member) static_cast<uint32_t>(offsetof(FlareData, member))
using shaderlib::Field;
constexpr Field kFields[kArguments] = {
    {VtString, VO_AT(lens)},           {VtFloat, VO_AT(fov)},          {VtFloat, VO_AT(sizeRange)},
    {VtFloat, VO_AT(intensity)},       {VtFloat, VO_AT(rotation)},     {VtFloat, VO_AT(glowRadius)},
    {VtString, VO_AT(glowShape)},      {VtFloat, VO_AT(glowFocus)},    {VtColourType, VO_AT(glowColour)},
    {VtFloat, VO_AT(glowFactor)},      {VtInt32, VO_AT(irisBlades)},   {VtFloat, VO_AT(irisBladeShape)},
    {VtString, VO_AT(haloShape)},      {VtFloat, VO_AT(haloRadius)},   {VtFloat, VO_AT(haloWidth)},
    {VtColourType, VO_AT(haloColour)}, {VtFloat, VO_AT(haloFactor)},   {VtString, VO_AT(raysType)},
    {VtString, VO_AT(raysShape)},      {VtInt32, VO_AT(raysCount)},    {VtFloat, VO_AT(raysFactor)},
    {VtColourType, VO_AT(raysColour)}, {VtFloat, VO_AT(raysContrast)}, {VtFloat, VO_AT(raysRange)},
    {VtFloat, VO_AT(raysRotation)},    {VtInt32, VO_AT(ghosts)},       {VtString, VO_AT(ghostsShape)},
    {VtFloat, VO_AT(ghostsFactor)},    {VtFloat, VO_AT(ghostsMin)},    {VtFloat, VO_AT(ghostsMax)},
    {VtFloat, VO_AT(minIntensity)},    {VtFloat, VO_AT(maxIntensity)}, {VtBoolean, VO_AT(checkDepth)},
    {VtBoolean, VO_AT(clampColour)}};
#undef VO_AT

FlareClass *ClassRecord() {
  const VtPostprocessContext *c = State();
  return c != nullptr ? static_cast<FlareClass *>(c->flare_class) : nullptr;
}

char **StringField(FlareData *d, uint32_t index) {
  return reinterpret_cast<char **>(reinterpret_cast<unsigned char *>(d) + kFields[index].offset);
}

void ArraysFree(FlareData *d) {
  VoDeallocate(d->glowTable);
  VoDeallocate(d->ghostRecords);
  d->glowTable = nullptr;
  d->ghostRecords = nullptr;
  d->ghostCount = 0;
}

void ClassRecordFree(FlareClass *k) {
  if (k->entries != nullptr) (void)VoPoolDispose(k->entries);
  if (k->pool != nullptr) (void)VoPoolDispose(k->pool);
  VoDeallocate(k);
}

VtStatus FlareDestroy(void *data) {
  auto *d = static_cast<FlareData *>(data);
  if (d == nullptr) return 0;
  for (uint32_t i = 0; i < kArguments; ++i)
    if (kFields[i].type == VtString) VoDeallocate(*StringField(d, i));
  ArraysFree(d);
  FlareClass *k = d->cls;
  if (k == nullptr) return 0;
  (void)VoPoolFree(k->pool, d);
  if (--k->live == 0 && k->released != 0) ClassRecordFree(k);
  return 0;
}

void *FlareCreate() {
  FlareClass *k = ClassRecord();
  if (k == nullptr || k->released != 0) return nullptr;
  auto *d = static_cast<FlareData *>(VoPoolAllocate(k->pool));
  if (d == nullptr) return nullptr;
  std::memset(static_cast<void *>(d), 0, sizeof *d);
  d->cls = k;
  ++k->live;
  d->head.mode = VO_PP_MODE_DIRECT_IN_PLACE;
  d->fov = 50.0f;
  d->sizeRange = 5.0f;
  d->intensity = 1.0f;
  d->glowRadius = 8.0f;
  d->glowFocus = 1.0f;
  shaderlib::Set3(d->glowColour, 1.0f, 0.4f, 0.6f);
  d->glowFactor = 1.0f;
  d->irisBlades = 6;
  d->irisBladeShape = 1.0f;
  d->haloRadius = 9.0f;
  d->haloWidth = 2.0f;
  shaderlib::Set3(d->haloColour, 1.0f, 0.5f, 0.5f);
  d->haloFactor = 0.3f;
  d->raysCount = 4;
  d->raysFactor = 0.5f;
  shaderlib::Set3(d->raysColour, 1.0f, 1.0f, 1.0f);
  d->raysRange = 0.7f;
  d->ghosts = 1;
  d->ghostsFactor = 1.0f;
  d->ghostsMin = 1.0f;
  d->ghostsMax = 7.0f;
  d->minIntensity = 10.0f;
  d->maxIntensity = 1000.0f;
  d->clampColour = 1;
  d->lens = shaderlib::StringCopy("standard");
  d->glowShape = shaderlib::StringCopy("circle");
  d->haloShape = shaderlib::StringCopy("circle");
  d->raysType = shaderlib::StringCopy("random");
  d->raysShape = shaderlib::StringCopy("circle");
  d->ghostsShape = shaderlib::StringCopy("circle");
  for (uint32_t i = 0; i < kArguments; ++i)
    if (kFields[i].type == VtString && *StringField(d, i) == nullptr) {
      (void)FlareDestroy(d);
      return nullptr;
    }
  return d;
}

VtStatus FlareGet(void *data, uint32_t index, VtTypedValue *value) {
  if (data != nullptr && value != nullptr) shaderlib::FieldGet(kFields, data, index, value);
  return 0;
}

// The value as the field stores it (doubles become floats).
VtTypedValue Stored(uint32_t index, const VtTypedValue *value) {
  VtTypedValue v = *value;
  if (kFields[index].type == VtFloat && value->type == VtDouble)
    v.value.f = static_cast<float>(value->value.d);
  return v;
}

bool SameValue(void *data, uint32_t index, const VtTypedValue &v) {
  VtTypedValue old{};
  shaderlib::FieldGet(kFields, data, index, &old);
  switch (kFields[index].type) {
    case VtString: return std::strcmp(old.value.s, v.value.s != nullptr ? v.value.s : "") == 0;
    case VtColourType: return std::memcmp(old.value.v, v.value.v, 3 * sizeof(float)) == 0;
    default: return old.value.u == v.value.u;
  }
}

// Makes the instance the preset's values, field by field (strings copied);
// its prepared arrays are given back.
VtStatus PresetTake(FlareData *d, const FlareData *preset, const char *name) {
  VtStatus st = 0;
  for (uint32_t i = 1; i < kArguments; ++i) {
    VtTypedValue v{};
    shaderlib::FieldGet(kFields, const_cast<FlareData *>(preset), i, &v);
    st |= shaderlib::FieldSet(kFields, d, i, &v);
  }
  ArraysFree(d);
  d->head.prepared = 0;
  if (!shaderlib::StringReplace(&d->lens, name)) st |= kNoMemory;
  return st;
}

VtStatus FlareSet(void *data, uint32_t index, VtTypedValue *value) {
  auto *d = static_cast<FlareData *>(data);
  if (d == nullptr || value == nullptr) return 0;
  d->head.prepared = 0;
  if (index >= kArguments) return 0;
  if (index == 0) {
    const char *name = value->value.s != nullptr ? value->value.s : "";
    if (VtShader *preset = FlareCatalogueFind(name)) {
      if (preset->data == d) return 0;
      return PresetTake(d, static_cast<const FlareData *>(preset->data), name);
    }
    if (std::strcmp(name, "custom") == 0 || std::strcmp(name, "standard") == 0)
      return shaderlib::StringReplace(&d->lens, name) ? 0 : kNoMemory;
    Post(VO_CLASS_WARNING, kFlareLensUnknown, kModule, name);
    return 0;
  }
  const VtTypedValue v = Stored(index, value);
  // A value set again as it is (as a copy of the shader does) keeps the lens name.
  const bool same = SameValue(d, index, v);
  if (const VtStatus st = shaderlib::FieldSet(kFields, d, index, &v)) return st;
  if (!same && std::strcmp(d->lens, "custom") != 0 && !shaderlib::StringReplace(&d->lens, "custom"))
    return kNoMemory;
  return 0;
}

// ---- The catalogue ----

VtStatus CatalogueCapture(FlareClass *k, CatalogueEntry *e, VtShader *shader) {
  (void)k;
  if (shader == nullptr || shader->cls == nullptr || shader->cls->type != VO_SHADER_POSTPROCESS)
    return kRefused;
  VtShader *copy = VoShaderCopy(shader);
  if (copy == nullptr) return kNoMemory;
  if (e->captured != nullptr) (void)VoShaderDestroy(e->captured);
  e->captured = copy;
  return 0;
}

VtStatus CatalogueAdd(FlareClass *k, CatalogueEntry *e) {
  if (e == nullptr || e->name == nullptr) return kRefused;
  CatalogueEntry **at = &k->catalogue;
  while (*at != nullptr && std::strcmp((*at)->name, e->name) <= 0) {
    if (std::strcmp((*at)->name, e->name) == 0) return kRefused;
    at = &(*at)->next;
  }
  e->next = *at;
  *at = e;
  return 0;
}

void EntryFree(FlareClass *k, CatalogueEntry *e) {
  if (e->captured != nullptr) (void)VoShaderDestroy(e->captured);
  VoDeallocate(e->name);
  (void)VoPoolFree(k->entries, e);
}

void CatalogueFree(FlareClass *k) {
  while (CatalogueEntry *e = k->catalogue) {
    k->catalogue = e->next;
    EntryFree(k, e);
  }
}

struct PresetArg {
  const char *label;
  uint32_t type;
  float f[3];
  const char *s = nullptr;
};
struct Preset {
  const char *name;
  const char *base;
  std::initializer_list<PresetArg> args;
};

PresetArg Text(const char *label, const char *s) { return {label, VtString, {}, s}; }
PresetArg Number(const char *label, float f) { return {label, VtFloat, {f}}; }
PresetArg Whole(const char *label, int32_t i) { return {label, VtInt32, {static_cast<float>(i)}}; }
PresetArg Colour(const char *label, float r, float g, float b) { return {label, VtColourType, {r, g, b}}; }

VtStatus ArgSet(VtShader *s, const PresetArg &a) {
  VtTypedValue v{};
  v.type = a.type;
  if (a.type == VtString)
    v.value.s = a.s;
  else if (a.type == VtFloat)
    v.value.f = a.f[0];
  else if (a.type == VtInt32)
    v.value.i = static_cast<int32_t>(a.f[0]);
  else
    std::memcpy(v.value.v, a.f, sizeof a.f);
  return VoShaderSetArg(s, a.label, &v);
}

VtStatus CatalogueBuild(FlareClass *k) {
  const Preset presets[] = {
      {"standard", nullptr, {}},
      {"polygon", "standard", {Text("ghosts shape", "arc polygon")}},
      {"lens35", "standard", {Text("rays type", "mixed"), Number("glow focus", 0.8f), Whole("ghosts", 5)}},
      {"polygon35", "lens35", {Text("ghosts shape", "polygon")}},
      {"lens50",
       "standard",
       {Colour("glow colour", 1.0f, 0.4f, 0.8f), Number("rays range", 0.5f), Whole("ghosts", 8)}},
      {"polygon50", "lens50", {Text("ghosts shape", "polygon")}},
      {"lens105",
       "standard",
       {Colour("glow colour", 0.2f, 0.2f, 1.0f), Number("glow focus", 0.8f), Number("glow radius", 10),
        Colour("halo colour", 0.6f, 0.6f, 1.0f), Number("halo width", 6), Number("halo radius", 4),
        Text("rays type", "mixed"), Whole("rays count", 2), Number("rays range", 0.8f),
        Number("rays factor", 0.8f), Whole("ghosts", 20), Text("ghosts shape", "arc polygon"),
        Number("rotation", 5)}},
      {"spark",
       "standard",
       {Colour("glow colour", 0.8f, 0.8f, 1.0f), Number("glow radius", 3), Text("ghosts shape", "none"),
        Text("halo shape", "none"), Text("rays type", "mixed"), Whole("rays count", 5),
        Number("rays contrast", 0.3f), Number("rays factor", 2.5f), Number("rotation", 30)}},
      {"star4",
       "spark",
       {Text("rays type", "regular"), Whole("rays count", 2), Number("rays contrast", 0.2f),
        Number("rays factor", 1.5f), Number("rays range", 2)}},
  };
  VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, "lens flares");
  if (s == nullptr) return kNoMemory;
  VtStatus st = 0;
  for (const Preset &p : presets) {
    auto *e = static_cast<CatalogueEntry *>(VoPoolAllocate(k->entries));
    if (e == nullptr) {
      st = kNoMemory;
      break;
    }
    *e = CatalogueEntry{shaderlib::StringCopy(p.name), nullptr, nullptr};
    if (e->name == nullptr) st = kNoMemory;
    if (st == 0 && p.base != nullptr) st = ArgSet(s, Text("lens", p.base));
    for (const PresetArg &a : p.args)
      if (st == 0) st = ArgSet(s, a);
    if (st == 0) st = CatalogueCapture(k, e, s);
    if (st == 0) st = CatalogueAdd(k, e);
    if (st != 0) {
      EntryFree(k, e);
      break;
    }
  }
  (void)VoShaderDestroy(s);
  if (st != 0) CatalogueFree(k);
  return st;
}

// ---- Prepare ----

struct FloatCheck {
  const char *label;
  float FlareData::*field;
  float low, high;
};

int32_t NameCode(const char *name, std::span<const char *const> names) {
  for (size_t i = 0; i < names.size(); ++i)
    if (name != nullptr && std::strcmp(name, names[i]) == 0) return static_cast<int32_t>(i);
  return -1;
}

bool Within(float v, float low, float high) { return v >= low && v <= high; }

double GlowProfile(const FlareData *d, double r) {
  const double u = (r + 1) * r;
  const double p = d->glowFactor * (r + 1) * (u + 1) / ((d->glowA * u + d->glowB) * u + 1);
  return p < 0.01 ? 0.0 : p;
}

VtStatus GlowPrepare(FlareData *d) {
  const float f = std::max(0.0001f, d->glowFocus * 0.8f);
  d->glowA = static_cast<float>(std::max(0.0, (3.2499999441206464 - (1.75 - f) / (0.75 * f)) * 0.8));
  d->glowB = static_cast<float>(std::max(1.0, 3.2499999441206464 - 2.0 * d->glowA));
  for (int k = 0; k < 3; ++k) {
    const float c = std::min(1.0f, std::max(0.01f, d->glowColour[k])) * 0.5f;
    d->glowE[k] = (2 - c) / (2 * c);
  }
  d->glowEnd = 0;
  if (GlowProfile(d, 0) > 0) {
    d->glowEnd = 10.0f;
    for (int i = 1; i <= 100; ++i)
      if (GlowProfile(d, i * 0.1) <= 0) {
        d->glowEnd = static_cast<float>(i * 0.1);
        break;
      }
  }
  d->glowTable = static_cast<float *>(VoAllocate(kGlowTableSize * 3 * sizeof(float)));
  if (d->glowTable == nullptr) return kNoMemory;
  for (int i = 0; i < kGlowTableSize; ++i) {
    const double r = d->glowEnd * i / (kGlowTableSize - 1);
    const double p = GlowProfile(d, r), u = (r + 1) * r;
    for (int k = 0; k < 3; ++k) d->glowTable[3 * i + k] = static_cast<float>(p / (d->glowE[k] * u + 1));
  }
  return 0;
}

VtStatus GhostsPrepare(FlareData *d) {
  const int32_t n = d->ghostsShapeCode == kShapeNone ? 0 : d->ghosts;
  if (n <= 0) return 0;
  d->ghostRecords = static_cast<FlareGhost *>(VoAllocate(static_cast<uint32_t>(n * sizeof(FlareGhost))));
  if (d->ghostRecords == nullptr) return kNoMemory;
  VtPostprocessContext *c = State();
  VtRandomState *own = c != nullptr && c->random != nullptr ? nullptr : VoRandomStateCreate();
  VtRandomState *r = own != nullptr ? own : c != nullptr ? c->random : nullptr;
  if (r == nullptr) {
    ArraysFree(d);
    return kNoMemory;
  }
  (void)VoRandomStateSeed(17, r);
  auto random = [r] { return static_cast<float>(VoRandomStateDouble(r)); };
  const float factor = d->ghostsFactor;
  static const float kPalette[3][3] = {{1.0f, 0.3f, 0.6f}, {1.0f, 1.0f, 0.3f}, {0.4f, 0.1f, 1.0f}};
  FlareGhost *g = d->ghostRecords;
  if (n == 1) {
    g[0] = FlareGhost{
        0.75f, d->ghostsMax, {0.15f * factor, 0.5f * 0.15f * factor, 0.7f * 0.15f * factor}, 0.8f, 0, 0, 0,
        0};
  } else {
    g[0] = FlareGhost{-0.3f, 9.0f, {0.07f * factor, 0.07f * factor, 0.07f * factor}, 0.8f, 0, 0, 0, 0};
    for (int32_t i = 1; i < n; ++i) {
      FlareGhost &h = g[i];
      if (i % 4 != 0) {
        h.position = random() * static_cast<float>(i) * 0.6f / static_cast<float>(n) + 0.2f;
        h.size = 9.0f / static_cast<float>(i + 1);
      } else {
        h.position = -random();
        h.size = 9.0f / static_cast<float>(i / 2 + 1);
      }
      h.size *= 1 + 0.4f * random();
      for (int k = 0; k < 3; ++k) h.colour[k] = kPalette[i % 3][k] + (1 - 2 * random()) * 0.2f;
      const float m = ((1 - 2 * random()) * 0.2f + 0.15f) * factor;
      for (float &v : h.colour) v *= m;
      h.falloff = 0.8f;
    }
    float lo = g[0].size, hi = g[0].size;
    for (int32_t i = 1; i < n; ++i) {
      lo = std::min(lo, g[i].size);
      hi = std::max(hi, g[i].size);
    }
    for (int32_t i = 0; i < n; ++i)
      g[i].size = hi - lo > 0 ? d->ghostsMin + (g[i].size - lo) * (d->ghostsMax - d->ghostsMin) / (hi - lo)
                              : d->ghostsMax;
  }
  for (int32_t i = 0; i < n; ++i) {
    const float f = g[i].falloff;
    g[i].t1 = 0.07f * f;
    g[i].t2 = f;
    g[i].t3 = 1.6f * f;
    g[i].far = (0.5f * f + 0.6f) / (f * f * f * f);
  }
  d->ghostCount = n;
  if (own != nullptr) (void)VoRandomStateDestroy(own);
  return 0;
}

}  // namespace

VtShader *FlareCatalogueFind(const char *name) {
  const FlareClass *k = ClassRecord();
  if (k == nullptr || name == nullptr) return nullptr;
  for (const CatalogueEntry *e = k->catalogue; e != nullptr; e = e->next) {
    const int order = std::strcmp(e->name, name);
    if (order == 0) return e->captured;
    if (order > 0) break;
  }
  return nullptr;
}

VtStatus FlarePrepare(FlareData *d) {
  ArraysFree(d);
  VtStatus st = 0;
  const FloatCheck floats[] = {{"min intensity", &FlareData::minIntensity, 1, 1e6f},
                               {"max intensity", &FlareData::maxIntensity, 1, 1e6f},
                               {"fov", &FlareData::fov, 1, 179},
                               {"size range", &FlareData::sizeRange, 1, 100},
                               {"iris blade shape", &FlareData::irisBladeShape, 1, 1e6f},
                               {"glow radius", &FlareData::glowRadius, 1, 179},
                               {"glow factor", &FlareData::glowFactor, 0, 10},
                               {"glow focus", &FlareData::glowFocus, 0, 1},
                               {"halo radius", &FlareData::haloRadius, 1, 179},
                               {"halo width", &FlareData::haloWidth, 0.1f, 179},
                               {"halo factor", &FlareData::haloFactor, 0, 10},
                               {"rays factor", &FlareData::raysFactor, 0, 10},
                               {"rays range", &FlareData::raysRange, 0, 10},
                               {"rays contrast", &FlareData::raysContrast, 0, 1},
                               {"ghosts factor", &FlareData::ghostsFactor, 0, 10},
                               {"ghosts min radius", &FlareData::ghostsMin, 0.1f, 179},
                               {"ghosts max radius", &FlareData::ghostsMax, 0.1f, 179}};
  for (const FloatCheck &f : floats) {
    const float v = d->*f.field;
    if (!Within(v, f.low, f.high)) {
      Post(kRefused, kFlareFloat, kModule, kClassName, f.label, static_cast<double>(v),
           static_cast<double>(f.low), static_cast<double>(f.high));
      st = kRefused;
    }
  }
  if (!(d->minIntensity >= 1 && d->minIntensity <= d->maxIntensity)) {
    Post(kRefused, kFlareFloat, kModule, kClassName, "min intensity vs. max intensity",
         static_cast<double>(d->minIntensity), 1.0, static_cast<double>(d->maxIntensity));
    st = kRefused;
  }
  if (!(d->ghostsMin >= 0.1f && d->ghostsMin <= d->ghostsMax)) {
    Post(kRefused, kFlareFloat, kModule, kClassName, "ghosts min radius (>max)",
         static_cast<double>(d->ghostsMin), 0.1, static_cast<double>(d->ghostsMax));
    st = kRefused;
  }
  const struct {
    const char *label;
    int32_t value, low, high;
  } integers[] = {{"iris blades", d->irisBlades, 3, kMostBlades},
                  {"rays count", d->raysCount, 1, 100},
                  {"ghosts", d->ghosts, 0, 100}};
  for (const auto &i : integers)
    if (i.value < i.low || i.value > i.high) {
      Post(kRefused, kFlareInteger, kModule, kClassName, i.label, i.value, i.low, i.high);
      st = kRefused;
    }
  const struct {
    const char *label;
    const char *text;
    int32_t *code;
    std::span<const char *const> names;
  } names[] = {{"glow shape", d->glowShape, &d->glowShapeCode, kShapes},
               {"halo shape", d->haloShape, &d->haloShapeCode, kShapes},
               {"rays type", d->raysType, &d->raysTypeCode, kRaysTypes},
               {"rays shape", d->raysShape, &d->raysShapeCode, kShapes},
               {"ghosts shape", d->ghostsShape, &d->ghostsShapeCode, kShapes}};
  for (const auto &n : names) {
    *n.code = NameCode(n.text, n.names);
    if (*n.code < 0) {
      Post(kRefused, kFlareName, kModule, kClassName, n.label, n.text != nullptr ? n.text : "");
      st = kRefused;
    }
  }
  // Values without a range must still be numbers.
  const struct {
    const char *label;
    const float *v;
    int n;
  } finite[] = {{"intensity", &d->intensity, 1},        {"rotation", &d->rotation, 1},
                {"rays rotation", &d->raysRotation, 1}, {"glow colour", d->glowColour, 3},
                {"halo colour", d->haloColour, 3},      {"rays colour", d->raysColour, 3}};
  for (const auto &f : finite)
    for (int k = 0; k < f.n; ++k)
      if (!std::isfinite(f.v[k])) {
        Post(kRefused, kFlareNotFinite, kModule, f.label);
        st = kRefused;
        break;
      }
  if (st != 0) return st;

  const double w = d->haloWidth / (2.0 * d->haloRadius);
  d->haloW = static_cast<float>(w);
  d->haloK = static_cast<float>(-std::log(0.05) / (w * w));
  for (int k = 0; k < 3; ++k) d->haloColourFactor[k] = d->haloFactor * d->haloColour[k];
  if (d->haloRadius < 1e-6f) d->haloShapeCode = kShapeNone;
  d->raysF = d->raysFactor * 0.3f;
  d->raysW = d->raysContrast * 0.5f;
  d->raysFall = d->raysRange < 0.0001f ? 1.0f : 0.7f / ((d->raysRange + 1) * d->raysRange * 0.3f);
  if (d->raysTypeCode == kRaysNone) d->raysShapeCode = kShapeNone;
  const double pi = 3.14159265358979323846;
  const double rot = static_cast<double>(d->rotation), raysRot = rot + static_cast<double>(d->raysRotation);
  d->rotated = std::fabs(rot) >= 1e-6 ? 1 : 0;
  d->cosRotation = static_cast<float>(std::cos(rot * pi / 180));
  d->sinRotation = static_cast<float>(std::sin(rot * pi / 180));
  d->raysRotated = std::fabs(raysRot) >= 1e-6 ? 1 : 0;
  d->cosRays = static_cast<float>(std::cos(raysRot * pi / 180));
  d->sinRays = static_cast<float>(std::sin(raysRot * pi / 180));
  for (int32_t k = 0; k < d->irisBlades; ++k) {
    const double a = (k + 0.5) * 2 * pi / d->irisBlades;
    d->irisNormal[k][0] = static_cast<float>(std::cos(a));
    d->irisNormal[k][1] = static_cast<float>(std::sin(a));
  }
  st = GlowPrepare(d);
  if (st == 0) st = GhostsPrepare(d);
  if (st != 0) ArraysFree(d);
  return st;
}

namespace {

VtStatus FlarePrepareEntry(void *data) {
  auto *d = static_cast<FlareData *>(data);
  VtStatus st = 0;
  if (d->head.prepared == 0) {
    st = FlarePrepare(d);
    if (st == 0) d->head.prepared = 1;
  }
  (void)VoPostprocessStatusSet(st);
  return 0;
}

// Draws from the collected sources, or from the image's bright pixels when
// none were collected (a store of this run, freed after it).
void FlareEvaluate(void *data, uint32_t mode) {
  auto *d = static_cast<FlareData *>(data);
  VtStatus st = 0;
  if (d->head.prepared == 0) {
    st = FlarePrepare(d);
    if (st == 0) d->head.prepared = 1;
  }
  VtPostprocessContext *c = State();
  VtScreenBuffer *b = VoShaderGetGlobals()->Bi;
  VtPixelList *store = c != nullptr ? static_cast<VtPixelList *>(c->pixel_lists) : nullptr;
  VtPixelList *own = nullptr;
  if (st == 0 && store == nullptr) store = own = FlareSourcesFromImage(b, d->minIntensity, &st);
  FlareSources sources{nullptr, 0};
  if (st == 0) st = FlareSourcesOf(store, &sources);
  if (st == 0) st = FlareDraw(d, b, sources, mode);
  VoDeallocate(sources.items);
  (void)VoPixelListDestroy(own);
  (void)VoPostprocessStatusSet(st);
}

VtStatus FlareEvaluateDirect(void *data) {
  FlareEvaluate(data, 0);
  return 0;
}
VtStatus FlareEvaluateImage(void *data) {
  FlareEvaluate(data, 1);
  return 0;
}

}  // namespace

VtStatus FlareClassesRegister() {
  VtPostprocessContext *c = State();
  if (c == nullptr) return kNotStarted;
  auto *k = static_cast<FlareClass *>(VoAllocate(sizeof(FlareClass)));
  if (k == nullptr) return kNoMemory;
  *k = FlareClass{VoPoolCreate(kClassPool, sizeof(FlareData)),
                  VoPoolCreate(kCataloguePool, sizeof(CatalogueEntry)), nullptr, 0, 0};
  if (k->pool == nullptr || k->entries == nullptr) {
    ClassRecordFree(k);
    return kNoMemory;
  }
  c->flare_class = k;
  shaderlib::Entries e;
  e.evaluate = &FlareEvaluateDirect;
  e.evaluateImage = &FlareEvaluateImage;
  e.prepare = &FlarePrepareEntry;
  e.get = &FlareGet;
  e.set = &FlareSet;
  e.create = &FlareCreate;
  e.destroy = &FlareDestroy;
  static constexpr const char *kGlobals[] = {"Bi", "Bo"};
  // A class already registered by an earlier start is used as it is.
  (void)shaderlib::ClassCreate(
      {"vxs_lens_flares", "lens flares", VO_SHADER_POSTPROCESS, kLabels, kMeanings, kGlobals, e});
  const VtStatus st = CatalogueBuild(k);
  if (st != 0) FlareClassesRelease();
  return st;
}

void FlareClassesRelease() {
  VtPostprocessContext *c = State();
  if (c == nullptr) return;
  (void)VoPixelListDestroy(static_cast<VtPixelList *>(c->pixel_lists));
  c->pixel_lists = nullptr;
  auto *k = static_cast<FlareClass *>(c->flare_class);
  c->flare_class = nullptr;
  if (k == nullptr) return;
  CatalogueFree(k);
  k->released = 1;
  if (k->live == 0) ClassRecordFree(k);
}

}  // namespace vo::post

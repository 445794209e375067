// Materials as fixed-function state: the translation of a material's
// colour, reflectance and transparency shaders into GL material records,
// the material caches that keep them per material, and VoOpenGLMaterialSet.
//
// Classes are told apart by display name and arguments read by label; a
// label the class lacks is absent (never asked, so nothing is posted).
// A rebuild keeps the cache's place in the list and its count; only the
// chain is replaced. Textures wait in their record until a context is
// current (CacheReady).
#include <cmath>
#include <cstring>

#include "backends/voopengl/opengl.h"
#include "output/vodriver/face.h"
#include "shading/shaderlib/face.h"
#include "shading/voshader/face.h"
#include "kernel/vosystem/face.h"

namespace vo::opengl {

namespace {

constexpr uint32_t kLayersMax = 16;  // as deep as composing shaders nest

bool Named(VtShader *s, const char *name) {
  const char *n = ClassName(s);
  return n != nullptr && std::strcmp(n, name) == 0;
}

VtShader *ArgShader(VtShader *s, const char *label) {
  return s != nullptr && HasLabel(s, label) ? static_cast<VtShader *>(ArgPointer(s, label)) : nullptr;
}

const char *ArgString(VtShader *s, const char *label) {
  VtTypedValue v = TypedString(nullptr);
  if (VoShaderGetArg(s, label, &v) != 0 || v.type != VtString) return nullptr;
  return v.value.s;
}

float Capped(float v) { return v >= 1.0f ? 1.0f : v; }

void Scale3(float *out, const float *colour, float factor) {
  for (int i = 0; i < 3; ++i) out[i] = Capped(colour[i] * factor);
}

float ShininessFrom(float value, bool roughness) {
  float s = roughness ? (value == 0.0f ? 128.0f : 1.0f / value) : value;
  if (!(s >= 1.0f)) s = 1.0f;  // NaN too
  return s > 128.0f ? 128.0f : s;
}

VtGLMaterialRecord *RecordMake() {
  auto *r = static_cast<VtGLMaterialRecord *>(VoAllocate(sizeof(VtGLMaterialRecord)));
  if (r == nullptr) return nullptr;
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  for (float &b : r->base) b = 1.0f;
  r->ambient[3] = r->diffuse[3] = r->unscaled_diffuse[3] = r->specular[3] = r->emission[3] = r->plain[3] =
      1.0f;
  return r;
}

// An image a texture can be made from, or null (refusals posted: 2720).
VtImage *ImageChecked(VtImage *image, VtShader *shader, bool owned) {
  if (image == nullptr) return nullptr;
  if (const char *why = shaderlib::ImageRefusal(image)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kOpenGLImageRefused, kModule, ClassName(shader), why);
    if (owned) (void)VoImageDestroy(image);
    return nullptr;
  }
  return image;
}

// ---- One layer being built --------------------------------------------------

struct Layer {
  VtShader *colour;
  VtShader *transparency;
  VtShader *space;
  bool decal;    // texture with a zero border, clamped
  bool clamped;  // scales and offsets from the "wrapped square"
  float s0, t0;
  bool layered;
  VtGLMaterialRecord *record;
  VtTextureSource csrc, tsrc;
};

struct Plan {
  Layer layers[kLayersMax];
  uint32_t count = 0;
  VtStatus status = 0;
  Layer *Add() {
    if (count == kLayersMax) {
      status |= VO_STATUS_BAD_ARGUMENT;
      return nullptr;
    }
    Layer *l = &layers[count++];
    *l = Layer{};
    return l;
  }
};

void LayerAdd(Plan &plan, VtShader *colour, VtShader *transparency, VtShader *space) {
  if (Layer *l = plan.Add()) {
    l->colour = colour;
    l->transparency = transparency;
    l->space = space;
    l->layered = true;
  }
}

// The walk of a decal: the base ends up heading the chain, each decal after
// what it covers.
void DecalWalk(Plan &plan, VtShader *decal, VtShader *material_transparency, uint32_t depth) {
  if (depth > kLayersMax) {
    plan.status |= VO_STATUS_BAD_ARGUMENT;
    return;
  }
  VtShader *colour = ArgShader(decal, "decal colour");
  VtShader *transparency = ArgShader(decal, "decal transparency");
  VtShader *space = ArgShader(decal, "decal texture space");
  if (colour == nullptr || !Named(colour, "decal")) {
    LayerAdd(plan, colour, transparency, space);
    VtShader *base = ArgShader(decal, "base colour");
    if (base != nullptr && Named(base, "decal"))
      DecalWalk(plan, base, material_transparency, depth + 1);
    else
      LayerAdd(plan, base, material_transparency, nullptr);
    return;
  }
  if (transparency == nullptr || !Named(transparency, "wrapped square")) {
    DecalWalk(plan, colour, material_transparency, depth + 1);
    return;
  }
  if (Layer *l = plan.Add()) {
    l->colour = ArgShader(colour, "decal colour");
    l->transparency = ArgShader(colour, "decal transparency");
    VtShader *inner = ArgShader(colour, "decal texture space");
    l->space = inner != nullptr ? inner : space;
    l->decal = l->clamped = l->layered = true;
    l->s0 = ArgFloat(transparency, "s min", 0.0f);
    l->t0 = ArgFloat(transparency, "t min", 0.0f);
  }
  VtShader *base = ArgShader(colour, "base colour");
  if (base != nullptr && Named(base, "decal"))
    DecalWalk(plan, base, material_transparency, depth + 1);
  else
    LayerAdd(plan, base, material_transparency, nullptr);
  plan.layers[plan.count - 1].space = nullptr;
}

// The colour shader of any class but the decal; an image file that gives
// nothing adds the warning bit to *status.
void ColourTranslate(VtMaterial *material, VtShader *shader, VtGLMaterialRecord *r, VtTextureSource *src,
                     VtStatus *status) {
  VtColour average{1.0f, 1.0f, 1.0f};
  if (material != nullptr) (void)VoMaterialGetAverageColour(material, &average);
  const float avg[3] = {average.red, average.green, average.blue};
  std::memcpy(r->base, avg, sizeof avg);
  std::memcpy(r->plain, avg, sizeof avg);
  *src = VtTextureSource{1, {avg[0], avg[1], avg[2]}, nullptr};
  if (shader == nullptr) return;
  if (HasLabel(shader, "colour") && ArgTriple(shader, "colour", src->colour)) {
    std::memcpy(r->base, src->colour, sizeof r->base);
    src->kind = 2;
  }
  if (!HasLabel(shader, "file name")) return;
  VtImage *image = nullptr;
  if (VtImage *given = ImageArgument(shader)) (void)VoImageDup(given, &image);
  if (image == nullptr) image = ImageFromFile(shader, status);
  if (image != nullptr) {
    src->kind = 3;
    src->image = image;
    r->kind |= 1;
  }
}

void ReflectanceTranslate(VtShader *shader, VtGLMaterialRecord *r, VtMaterial *material) {
  if (shader == nullptr) return;
  const float *c = r->base;
  const float ka = ArgFloat(shader, "ambient factor", 1.0f);
  const float kd = ArgFloat(shader, "diffuse factor", 1.0f);
  const float ks = ArgFloat(shader, "specular factor", 1.0f);
  float white[3] = {1.0f, 1.0f, 1.0f};
  if (Named(shader, "plastic") || Named(shader, "phong") || Named(shader, "matte")) {
    Scale3(r->ambient, c, ka);
    Scale3(r->diffuse, c, kd);
    if (Named(shader, "matte")) return;
    (void)ArgTriple(shader, "specular colour", white);
    Scale3(r->specular, white, ks);
    r->shininess = Named(shader, "phong") ? ShininessFrom(ArgFloat(shader, "exponent", 1.0f), false)
                                          : ShininessFrom(ArgFloat(shader, "roughness", 0.0f), true);
  } else if (Named(shader, "constant")) {
    std::memcpy(r->emission, c, 3 * sizeof(float));
  } else if (Named(shader, "metal")) {
    Scale3(r->ambient, c, ka);
    Scale3(r->specular, c, ks);
    r->shininess = ShininessFrom(ArgFloat(shader, "roughness", 0.0f), true);
  } else if (Named(shader, "glass")) {
    VtColour average{1.0f, 1.0f, 1.0f};
    if (material != nullptr) (void)VoMaterialGetAverageColour(material, &average);
    r->base[0] = average.red, r->base[1] = average.green, r->base[2] = average.blue;
    Scale3(r->diffuse, r->base, 0.5f);
    Scale3(r->specular, r->base, ks);
    r->shininess = ShininessFrom(ArgFloat(shader, "roughness", 0.0f), true);
    r->diffuse[3] = 0.5f;
  } else {
    for (float *f : {r->ambient, r->diffuse, r->specular}) std::memcpy(f, c, 3 * sizeof(float));
    if (HasLabel(shader, "ambient factor")) Scale3(r->ambient, r->ambient, ka);
    if (HasLabel(shader, "diffuse factor")) Scale3(r->diffuse, r->diffuse, kd);
    if (ArgTriple(shader, "specular colour", white)) std::memcpy(r->specular, white, sizeof white);
    if (HasLabel(shader, "specular factor")) Scale3(r->specular, r->specular, ks);
    if (HasLabel(shader, "roughness"))
      r->shininess = ShininessFrom(ArgFloat(shader, "roughness", 0.0f), true);
    if (HasLabel(shader, "exponent")) r->shininess = ShininessFrom(ArgFloat(shader, "exponent", 1.0f), false);
  }
}

void TransparencyTranslate(VtShader *shader, VtGLMaterialRecord *r, VtTextureSource *src, VtStatus *status) {
  *src = VtTextureSource{1, {0, 0, 0}, nullptr};
  if (shader == nullptr) return;
  if (Named(shader, "opengl sim")) {
    const float coverage = ArgFloat(shader, "coverage", 1.0f);
    r->diffuse[3] = coverage;
    *src = VtTextureSource{2, {coverage, coverage, coverage}, nullptr};
    r->kind |= 2;
  } else if (Named(shader, "plain")) {
    float colour[3] = {1.0f, 1.0f, 1.0f};
    (void)ArgTriple(shader, "colour", colour);
    const float a = (colour[0] + colour[1] + colour[2]) / 3.0f;
    std::memcpy(r->unscaled_diffuse, r->diffuse, 3 * sizeof(float));
    r->unscaled_diffuse[3] = 1.0f;
    const float divisor = a < 1e-6f ? 1e-6f : a;
    for (int i = 0; i < 3; ++i) r->diffuse[i] /= divisor;
    r->diffuse[3] = a;
    *src = VtTextureSource{2, {colour[0], colour[1], colour[2]}, nullptr};
    r->kind |= 2;
  } else if (HasLabel(shader, "file name")) {
    VtImage *image = ImageFromFile(shader, status);
    if (image != nullptr) *src = VtTextureSource{Named(shader, "wrapped image") ? 3u : 4u, {0, 0, 0}, image};
    r->kind |= 2;
  }
}

// Keeps the layer's sources for the texture, or frees them when no image
// asks for one.
VtStatus TextureAsk(Layer &l) {
  const bool image = l.csrc.kind == 3 || l.csrc.kind == 4 || l.tsrc.kind == 3 || l.tsrc.kind == 4;
  if (!image) {
    SourceFree(&l.csrc);
    SourceFree(&l.tsrc);
    return 0;
  }
  auto *p = static_cast<VtTexturePending *>(VoAllocate(sizeof(VtTexturePending)));
  if (p == nullptr) {
    SourceFree(&l.csrc);
    SourceFree(&l.tsrc);
    return VO_STATUS_NO_MEMORY;
  }
  *p = VtTexturePending{l.csrc, l.tsrc, l.decal ? 1u : 0u, l.clamped ? 1u : 0u, l.s0, l.t0};
  l.record->pending = p;
  return 0;
}

// Frees a chain of records (their textures already deleted).
void RecordsFree(VtOpenGLContext *c, VtGLMaterialRecord *r) {
  while (r != nullptr) {
    VtGLMaterialRecord *next = r->next;
    if (c->current_record == r) c->current_record = nullptr;
    if (VtTexturePending *p = r->pending) {
      SourceFree(&p->colour);
      SourceFree(&p->transparency);
      VoDeallocate(p);
    }
    VoDeallocate(r);
    r = next;
  }
}

// ---- The index of field 47's caches by material (open addressing) -----------

uint32_t Slot(const VtOpenGLContext *c, const VtMaterial *m) {
  const uint64_t h = (reinterpret_cast<uintptr_t>(m) >> 4) * 0x9E3779B97F4A7C15ull;
  return static_cast<uint32_t>(h >> 32) & (c->index_size - 1);
}

void IndexDrop(VtOpenGLContext *c) {
  if (c->index != nullptr) VoDeallocate(c->index);
  c->index = nullptr;
  c->index_size = c->index_used = 0;
}

void IndexPut(VtOpenGLContext *c, VtMaterial *m, VtOpenGLMaterialCache *cache) {
  uint32_t i = Slot(c, m);
  while (c->index[i].material != nullptr) i = (i + 1) & (c->index_size - 1);
  c->index[i] = VtOpenGLCacheIndex{m, cache};
  ++c->index_used;
}

// Grows the index to hold one more; false (the index dropped, the list
// alone serving from then on) when memory runs out.
bool IndexRoom(VtOpenGLContext *c) {
  if (c->index_off != 0) return false;
  if (2 * (c->index_used + 1) <= c->index_size) return true;
  const uint32_t size = c->index_size == 0 ? 64 : 2 * c->index_size;
  auto *slots =
      static_cast<VtOpenGLCacheIndex *>(VoAllocate(size * static_cast<uint32_t>(sizeof(VtOpenGLCacheIndex))));
  if (slots == nullptr || size > (1u << 26)) {
    if (slots != nullptr) VoDeallocate(slots);
    IndexDrop(c);
    c->index_off = 1;
    return false;
  }
  std::memset(static_cast<void *>(slots), 0, size * sizeof(VtOpenGLCacheIndex));
  VtOpenGLCacheIndex *old = c->index;
  const uint32_t old_size = c->index_size;
  c->index = slots;
  c->index_size = size;
  c->index_used = 0;
  for (uint32_t i = 0; i < old_size; ++i)
    if (old[i].material != nullptr) IndexPut(c, old[i].material, old[i].cache);
  if (old != nullptr) VoDeallocate(old);
  return true;
}

VtOpenGLMaterialCache *CacheFind(const VtOpenGLContext *c, const VtMaterial *m) {
  if (c->index == nullptr) {
    VtOpenGLMaterialCache *k = c->caches;
    while (k != nullptr && k->material != m) k = k->next;
    return k;
  }
  for (uint32_t i = Slot(c, m); c->index[i].material != nullptr; i = (i + 1) & (c->index_size - 1))
    if (c->index[i].material == m) return c->index[i].cache;
  return nullptr;
}

// Removes the cache's slot, moving later slots of its run back.
void IndexRemove(VtOpenGLContext *c, const VtOpenGLMaterialCache *cache) {
  if (c->index == nullptr) return;
  const uint32_t mask = c->index_size - 1;
  uint32_t i = Slot(c, cache->material);
  while (c->index[i].material != nullptr && c->index[i].cache != cache) i = (i + 1) & mask;
  if (c->index[i].material == nullptr) return;
  c->index[i] = VtOpenGLCacheIndex{};
  --c->index_used;
  for (uint32_t j = (i + 1) & mask; c->index[j].material != nullptr; j = (j + 1) & mask) {
    const VtOpenGLCacheIndex moved = c->index[j];
    c->index[j] = VtOpenGLCacheIndex{};
    --c->index_used;
    IndexPut(c, moved.material, moved.cache);
  }
}

}  // namespace

// ---- Shader arguments -------------------------------------------------------

const char *ClassName(VtShader *s) {
  const char *name = nullptr;
  if (s == nullptr || VoShaderEnquire(s, nullptr, &name, nullptr, nullptr) != 0) return nullptr;
  return name;
}

bool HasLabel(VtShader *s, const char *label) {
  uint32_t count = 0;
  void *labels = nullptr;
  if (s == nullptr || VoShaderEnquire(s, nullptr, nullptr, &count, &labels) != 0 || labels == nullptr)
    return false;
  const auto *names = static_cast<const char *const *>(labels);
  for (uint32_t i = 0; i < count; ++i)
    if (names[i] != nullptr && std::strcmp(names[i], label) == 0) return true;
  return false;
}

float ArgFloat(VtShader *s, const char *label, float otherwise) {
  if (!HasLabel(s, label)) return otherwise;
  VtTypedValue v = TypedFloat(otherwise);
  if (VoShaderGetArg(s, label, &v) != 0) return otherwise;
  if (v.type == VtFloat) return v.value.f;
  if (v.type == VtDouble) return static_cast<float>(v.value.d);
  return otherwise;
}

bool ArgTriple(VtShader *s, const char *label, float out[3]) {
  if (!HasLabel(s, label)) return false;
  VtTypedValue v{};
  v.type = VtColourType;
  if (VoShaderGetArg(s, label, &v) != 0) return false;
  if (v.type != VtColourType && v.type != VtVector && v.type != VtPoint) return false;
  std::memcpy(out, v.value.v, 3 * sizeof(float));
  return true;
}

void *ArgPointer(VtShader *s, const char *label) {
  if (!HasLabel(s, label)) return nullptr;
  VtTypedValue v = TypedPointer(nullptr);
  if (VoShaderGetArg(s, label, &v) != 0 || v.type != VtGenericPtr) return nullptr;
  return v.value.p;
}

VtImage *ImageArgument(VtShader *s) {
  return HasLabel(s, "image") ? ImageChecked(static_cast<VtImage *>(ArgPointer(s, "image")), s, false)
                              : nullptr;
}

VtImage *ImageFromFile(VtShader *s, VtStatus *status) {
  const char *name = HasLabel(s, "file name") ? ArgString(s, "file name") : nullptr;
  if (name == nullptr || name[0] == 0) return nullptr;
  VtImage *image = ImageChecked(VoImageRead(name), s, true);
  if (image != nullptr) return image;
  // The drawing goes on untextured; the caller's status tells the frame so,
  // and a read that ran out of memory fails it.
  Post(VO_CLASS_WARNING, messages::kOpenGLImageUnreadable, kModule, ClassName(s), name);
  const VtStatus read = driver::ImageReadStatus();
  if (status != nullptr)
    *status |= (read & VO_STATUS_NO_MEMORY) == VO_STATUS_NO_MEMORY ? read : VO_CLASS_WARNING;
  return nullptr;
}

// ---- Caches -----------------------------------------------------------------

VtStatus CacheBuild(VtOpenGLContext *c, VtMaterial *material, VtOpenGLMaterialCache *cache, bool fresh) {
  if (cache == nullptr) return VO_STATUS_UNAVAILABLE;
  if (fresh) {
    *cache = VtOpenGLMaterialCache{nullptr, nullptr, nullptr, 0, 0, nullptr, -1};
  } else {
    ChainFree(c, cache);
  }
  cache->material = material;
  VtShader *colour = material != nullptr ? VoMaterialGetShader(material, VO_SHADER_COLOUR) : nullptr;
  VtShader *reflectance =
      material != nullptr ? VoMaterialGetShader(material, VO_SHADER_REFLECTANCE) : nullptr;
  VtShader *transparency =
      material != nullptr ? VoMaterialGetShader(material, VO_SHADER_TRANSPARENCY) : nullptr;
  Plan plan;
  if (colour != nullptr && Named(colour, "decal") && c->decal_textures != 0) {
    DecalWalk(plan, colour, transparency, 0);
  } else {
    // Decals drawn without textures show their base alone.
    for (uint32_t n = 0; colour != nullptr && Named(colour, "decal") && n < kLayersMax; ++n)
      colour = ArgShader(colour, "base colour");
    Layer *l = plan.Add();
    l->colour = colour;
    l->transparency = transparency;
  }
  VtStatus s = plan.status;
  for (uint32_t i = 0; i < plan.count; ++i) {
    Layer &l = plan.layers[i];
    l.record = RecordMake();
    if (l.record == nullptr) {
      s |= VO_STATUS_NO_MEMORY;
      break;
    }
    l.record->next = cache->record;
    cache->record = l.record;
    l.record->texture_space = l.space;
    ColourTranslate(material, l.colour, l.record, &l.csrc, &s);
    ReflectanceTranslate(reflectance, l.record, material);
    TransparencyTranslate(l.transparency, l.record, &l.tsrc, &s);
    if (l.clamped) l.record->diffuse[3] = 0.0f;
    if (l.layered) l.record->kind |= 4;
    s |= TextureAsk(l);
  }
  cache->valid = 1;
  return s;
}

void ChainFree(VtOpenGLContext *c, VtOpenGLMaterialCache *cache) {
  uint32_t names[kLayersMax];
  uint32_t count = 0;
  for (VtGLMaterialRecord *r = cache->record; r != nullptr; r = r->next) {
    if (r->texture != 0 && count < kLayersMax) names[count++] = r->texture;
  }
  TexturesDelete(cache->group, names, count);
  RecordsFree(c, cache->record);
  cache->record = nullptr;
  cache->group = -1;
}

void CacheRelease(VtOpenGLContext *c, VtOpenGLMaterialCache *cache) {
  if (cache == nullptr || cache == &c->default_cache || cache == c->set_cache) return;
  if (cache->references > 1) {
    --cache->references;
    cache->valid = 0;
    return;
  }
  ChainFree(c, cache);
  IndexRemove(c, cache);
  (cache->prev != nullptr ? cache->prev->next : c->caches) = cache->next;
  if (cache->next != nullptr) cache->next->prev = cache->prev;
  if (c->current_cache == cache) c->current_cache = nullptr;
  VoPoolFree(c->cache_pool, cache);
}

VtStatus CacheLookup(VtOpenGLContext *c, VtPrimitive *p, VtOpenGLMaterialCache **out) {
  VtStatus s = 0;
  *out = nullptr;
  VtOpenGLPrimitiveData *r = RecordOf(p, &s);
  if (r == nullptr) return s != 0 ? s : VO_STATUS_UNAVAILABLE;
  VtOpenGLMaterialCache *cache = r->material_cache;
  if (cache == nullptr) {
    VtMaterial *m = VoPrimitiveGetMaterial(p);
    if (m == nullptr) {
      *out = &c->default_cache;
      return s;
    }
    cache = CacheFind(c, m);
    if (cache == nullptr) {
      cache = static_cast<VtOpenGLMaterialCache *>(VoPoolAllocate(c->cache_pool));
      if (cache == nullptr) return VO_STATUS_UNAVAILABLE;
      s |= CacheBuild(c, m, cache, true);
      cache->next = c->caches;
      if (c->caches != nullptr) c->caches->prev = cache;
      c->caches = cache;
      if (IndexRoom(c)) IndexPut(c, m, cache);
    }
    ++cache->references;
    r->material_cache = cache;
  }
  if (cache->valid == 0) s |= CacheBuild(c, cache->material, cache, false);
  *out = cache;
  return s;
}

VtStatus CacheReady(VtOpenGLContext *c, VtOpenGLMaterialCache *cache) {
  const int32_t group = CurrentGroup(c);
  if (cache == nullptr || group == kNoContext) return 0;
  VtStatus s = 0;
  bool textured = false;
  for (const VtGLMaterialRecord *r = cache->record; r != nullptr; r = r->next) textured |= r->texture != 0;
  // Names of another group are not ours to bind here: the chain is made again.
  if (textured && cache->group != group) s |= CacheBuild(c, cache->material, cache, false);
  for (VtGLMaterialRecord *r = cache->record; r != nullptr; r = r->next) {
    VtTexturePending *p = r->pending;
    if (p == nullptr) continue;
    r->pending = nullptr;
    int32_t w = 0, h = 0;
    r->texture = TextureMake(c, p->colour, p->transparency, p->decal != 0, &w, &h);
    if (r->texture == 0) s |= VO_STATUS_NO_MEMORY;  // the record stays untextured
    r->texture_width = w;
    r->texture_height = h;
    if (r->texture != 0 && p->clamped != 0 && w > 0 && h > 0) {
      r->s_scale = static_cast<float>(w - 2) / static_cast<float>(w);
      r->t_scale = static_cast<float>(h - 2) / static_cast<float>(h);
      r->s_offset = 1.0f / static_cast<float>(w) - p->s0 * r->s_scale;
      r->t_offset = 1.0f / static_cast<float>(h) - p->t0 * r->t_scale;
    }
    SourceFree(&p->colour);
    SourceFree(&p->transparency);
    VoDeallocate(p);
    if (r->texture != 0) cache->group = group;
  }
  return s;
}

void CachesStop(VtOpenGLContext *c) {
  IndexDrop(c);
  while (VtOpenGLMaterialCache *k = c->caches) {
    c->caches = k->next;
    ChainFree(c, k);
    VoPoolFree(c->cache_pool, k);
  }
  if (c->set_cache != nullptr) {
    ChainFree(c, c->set_cache);
    VoPoolFree(c->cache_pool, c->set_cache);
    c->set_cache = nullptr;
  }
  ChainFree(c, &c->default_cache);
  c->current_cache = nullptr;
  c->current_record = nullptr;
}

}  // namespace vo::opengl

namespace vo {

using namespace opengl;

VtStatus VoOpenGLMaterialSet(VtMaterial *material) {
  VtOpenGLContext *c = Context();
  if (material == nullptr || c == nullptr) return VO_STATUS_UNAVAILABLE;
  if (!shader::MaterialIsLive(material)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, kModule, "VoOpenGLMaterialSet",
         static_cast<const void *>(material), "material");
    return VO_STATUS_BAD_ARGUMENT;
  }
  // One kept: the previous goes now.
  if (VtOpenGLMaterialCache *old = c->set_cache) {
    c->set_cache = nullptr;
    if (c->current_cache == old) c->current_cache = nullptr;
    ChainFree(c, old);
    VoPoolFree(c->cache_pool, old);
  }
  auto *cache = static_cast<VtOpenGLMaterialCache *>(VoPoolAllocate(c->cache_pool));
  if (cache == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus s = CacheBuild(c, material, cache, true);
  c->set_cache = cache;
  c->current_cache = cache;
  if (CurrentGroup(c) == kNoContext) {
    // No context: nothing can be sent, and what OpenGL holds is unknown.
    c->current_record = nullptr;
    return s;
  }
  s |= CacheReady(c, cache);
  return s | RecordSend(c, cache->record);
}

}  // namespace vo

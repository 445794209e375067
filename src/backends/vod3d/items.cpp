// Primitive items: every plain piece of the scene's primitives becomes
// items of shared pre-lit vertices (numbered by first appearance), 16-bit
// triangle indices and a material. An item takes whole polygons while its
// distinct vertices stay within 65536; the next polygon then starts a new
// item. A polygon that alone has more is left out with message 2768 (its
// distinct vertices and the limit), and the list is made without it.
// Items are kept by decreasing diffuse alpha, equal alphas in scene order.
// Images named by colours share one texture record each.
//
// The expansion is asked (through the geometry control 0x20001) to keep the
// properties read here; the control is restored on every path. A call that
// runs out of memory leaves the list as it was and answers 0x20000006.
#include <cmath>
#include <cstring>

#include "backends/vod3d/d3d.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::d3d {

namespace {

constexpr uint32_t kExpandOptions = 14;
constexpr uint32_t kMaxVertices = 65536;
constexpr uint32_t kVertexBuckets = 4099;
constexpr float kOpaque = 0.999f;
constexpr uint32_t kGeometryContents = 0x20001;

// A growable array of VoAllocate's memory.
template <class T>
struct Grow {
  T *data = nullptr;
  uint32_t count = 0, capacity = 0;
  ~Grow() { VoDeallocate(data); }
  bool Reserve(uint64_t wanted) {
    if (wanted <= capacity) return true;
    uint64_t next = capacity == 0 ? 64 : capacity;
    while (next < wanted) next *= 2;
    if (next > 0xffffffffu) return false;
    T *grown = static_cast<T *>(VoAllocate(static_cast<size_t>(next) * sizeof(T)));
    if (grown == nullptr) return false;
    if (count != 0) std::memcpy(static_cast<void *>(grown), data, count * sizeof(T));
    VoDeallocate(data);
    data = grown;
    capacity = static_cast<uint32_t>(next);
    return true;
  }
  bool Push(const T &v) {
    if (!Reserve(uint64_t{count} + 1)) return false;
    data[count++] = v;
    return true;
  }
};

// Offsets of the properties read, for one contents layout.
struct Layout {
  const VtContents *contents = nullptr;
  int32_t vrefs = -1, next = -1, plane = -1, world = -1, normal = -1, texcoords = -1;
  void For(const VtContents *c) {
    if (c == contents) return;
    contents = c;
    vrefs = VoPropertyGetOffset(const_cast<VtContents *>(c), VO_POLY_VREFS);
    next = VoPropertyGetOffset(const_cast<VtContents *>(c), VO_POLY_NEXT);
    plane = VoPropertyGetOffset(const_cast<VtContents *>(c), VO_POLY_PLANE);
    world = VoPropertyGetOffset(const_cast<VtContents *>(c), VO_VERT_WORLD);
    normal = VoPropertyGetOffset(const_cast<VtContents *>(c), VO_VERT_NORMAL);
    texcoords = VoPropertyGetOffset(const_cast<VtContents *>(c), VO_VERT_TEXCOORDS);
  }
};

template <class T>
T *Field(void *block, int32_t offset) {
  return reinterpret_cast<T *>(static_cast<char *>(block) + offset);
}

// ---------------------------------------------------------------------------
// Materials
// ---------------------------------------------------------------------------

float Clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// The material of a primitive and the image its colour names (or null).
void MaterialMake(const VtD3DContext *c, VtPrimitive *p, VtPrimitive *origin, VtD3DItem *item,
                  VtImage **image) {
  float ka = c->ambient_factor, kd = c->diffuse_factor, ks = c->specular_factor, power = c->power;
  float specular[3] = {1, 1, 1}, k[3] = {1, 1, 1}, alpha = 1.0f;
  *image = nullptr;
  VtMaterial *m = VoPrimitiveGetMaterial(p);
  if (m == nullptr) m = VoPrimitiveGetMaterial(origin);  // a piece that did not keep it
  VtColour average{};
  const bool have_average = m != nullptr && VoMaterialGetAverageColour(m, &average) == 0;
  if (have_average) std::memcpy(k, &average, sizeof k);
  if (m != nullptr) {
    if (VtShader *colour = VoMaterialGetShader(m, VO_SHADER_COLOUR)) {
      const ShaderArgs a = ShaderArgs::Of(colour);
      if (a.Is("marlo wrapped image")) {
        VtTypedValue v;
        if (a.Get("image", &v) && v.value.p != nullptr &&
            driver::ImageIsLive(static_cast<VtImage *>(v.value.p)))
          *image = static_cast<VtImage *>(v.value.p);
      } else {
        a.Three("colour", k);
      }
    }
    if (VtShader *t = VoMaterialGetShader(m, VO_SHADER_TRANSPARENCY)) {
      const ShaderArgs a = ShaderArgs::Of(t);
      VtTypedValue v;
      if (a.Is("plain") && a.Get("colour", &v))
        alpha = Clamp01(std::fmin(v.value.v[0], std::fmin(v.value.v[1], v.value.v[2])));
    }
    if (VtShader *r = VoMaterialGetShader(m, VO_SHADER_REFLECTANCE)) {
      const ShaderArgs a = ShaderArgs::Of(r);
      a.One("ambient factor", &ka);
      float roughness = 0.0f;
      const bool rough = [&] {
        VtTypedValue v;
        if (!a.Get("roughness", &v)) return false;
        roughness = v.value.f;
        return roughness > 0.0f;
      }();
      if (a.Is("matte")) {
        a.One("diffuse factor", &kd);
        ks = 0.0f;
        power = 0.0f;
      } else if (a.Is("metal")) {
        kd = 0.0f;
        a.One("specular factor", &ks);
        if (rough) power = 1.0f / roughness;
        std::memcpy(specular, k, sizeof specular);
      } else {
        a.One("diffuse factor", &kd);
        a.One("specular factor", &ks);
        a.Three("specular colour", specular);
        if (rough) power = 1.0f / roughness;
      }
    }
  }
  float ambient[3], diffuse[3], spec[3];
  for (int i = 0; i < 3; ++i) {
    ambient[i] = k[i] * ka;
    diffuse[i] = k[i] * kd;
    spec[i] = specular[i] * ks;
  }
  ColourLift(ambient, c->colour_lift);
  ColourLift(diffuse, c->colour_lift);
  ColourLift(spec, c->colour_lift);
  platform::MaterialData &d = item->material;
  d = platform::MaterialData{};
  d.size = sizeof d;
  d.ambient = {ambient[0], ambient[1], ambient[2], alpha};
  d.diffuse = {diffuse[0], diffuse[1], diffuse[2], alpha};
  d.specular = {spec[0], spec[1], spec[2], alpha};
  d.emissive = {0, 0, 0, alpha};
  d.power = power;
  d.ramp_size = 1;
  item->ramp_row = MaterialRampRow(k);
  item->untextured = c->untextured;
  item->textured = c->textured;
}

// ---------------------------------------------------------------------------
// Texture records
// ---------------------------------------------------------------------------

void ImageGone(VtImage *image) {
  VtD3DContext *c = Context();
  if (c == nullptr || c->texture_table == nullptr) return;
  uintptr_t found = 0;
  if (VoHashTableRemoveRecord(c->texture_table, reinterpret_cast<uintptr_t>(image), &found) != 0)
    reinterpret_cast<VtD3DTextureRecord *>(found)->image = nullptr;
}

// The record of an image, made (with its surfaces when a device exists)
// when missing; null when out of memory.
VtD3DTextureRecord *TextureRecord(VtD3DContext *c, VtImage *image) {
  if (c->texture_table == nullptr && (c->texture_table = VoHashTableCreate(257)) == nullptr) return nullptr;
  if (!c->image_hook) c->image_hook = driver::ImageDestroyHookAdd(&ImageGone);
  const auto key = reinterpret_cast<uintptr_t>(image);
  if (const uintptr_t found = VoHashTableExtractRecord(c->texture_table, key))
    return reinterpret_cast<VtD3DTextureRecord *>(found);
  auto *r = static_cast<VtD3DTextureRecord *>(VoPoolAllocate(c->texture_pool));
  if (r == nullptr) return nullptr;
  *r = VtD3DTextureRecord{};
  r->image = image;
  if (VoHashTableStoreRecord(c->texture_table, key, reinterpret_cast<uintptr_t>(r)) != 0) {
    (void)VoPoolFree(c->texture_pool, r);
    return nullptr;
  }
  r->next = c->textures;
  c->textures = r;
  if (c->window_flag != 0) {
    VtBitmap *bitmap = VoD3DHBITMAPFromImage(image);
    if (bitmap != nullptr) {
      (void)TextureSetMake(c, bitmap, &r->set);
      (void)VoD3DDestroyHBitmap(bitmap);
    }
  }
  return r;
}

// ---------------------------------------------------------------------------
// Building items
// ---------------------------------------------------------------------------

struct Builder {
  explicit Builder(VtD3DContext *context) : c(context) {}
  Builder(const Builder &) = delete;
  Builder &operator=(const Builder &) = delete;

  VtD3DContext *c;
  Layout layout;
  VtHashTable *shared = nullptr;  // scene vertex -> its index + 1
  Grow<void *> vertices;          // scene vertices by first appearance
  Grow<float> plane_sums;         // three per vertex, when there are no normals
  Grow<uint16_t> indices;
  // One polygon's corners.
  Grow<void *> corners;
  Grow<float> positions;
  Grow<uint32_t> triangles;
  Grow<uint32_t> numbers;  // the shared index of each corner
  Grow<uint8_t> scratch;
  // The item being filled and the new items in scene order.
  VtD3DItem *first = nullptr, **tail = &first;
  VtD3DItem pattern{};  // material, procedures, texture, sidedness
  bool out_of_memory = false;

  ~Builder() {
    if (shared != nullptr) (void)VoHashTableDestroy(shared);
  }

  bool Fail() {
    out_of_memory = true;
    return false;
  }

  // Empties the shared vertices for a new item; false when out of memory.
  bool Restart() {
    vertices.count = plane_sums.count = indices.count = 0;
    if (shared != nullptr && VoHashTableReset(&shared, kVertexBuckets) != 0) return Fail();
    return true;
  }

  // Makes an item of what was gathered (nothing without triangles).
  bool Flush(VtPrimitive *p) {
    if (indices.count == 0 || vertices.count == 0) return Restart();
    auto *item = static_cast<VtD3DItem *>(VoPoolAllocate(c->item_pool));
    if (item == nullptr) return Fail();
    *item = pattern;
    item->next = nullptr;
    item->primitive = p;
    const uint32_t n = vertices.count;
    item->vertices = static_cast<VtD3DLVertex *>(VoAllocate(sizeof(VtD3DLVertex) * n));
    item->normals = static_cast<float *>(VoAllocate(sizeof(float) * 3 * n));
    item->indices = static_cast<uint16_t *>(VoAllocate(sizeof(uint16_t) * indices.count));
    *tail = item;
    tail = &item->next;
    if (item->vertices == nullptr || item->normals == nullptr || item->indices == nullptr) return Fail();
    item->vertex_count = n;
    item->index_count = indices.count;
    item->triangle_count = indices.count / 3;
    std::memcpy(item->indices, indices.data, sizeof(uint16_t) * indices.count);
    for (uint32_t i = 0; i < n; ++i) {
      void *v = vertices.data[i];
      VtD3DLVertex &out = item->vertices[i];
      out = VtD3DLVertex{};
      const float *w = Field<float>(v, layout.world);
      out.x = w[0];
      out.y = w[1];
      out.z = w[2];
      if (layout.texcoords >= 0) {
        const float *t = Field<float>(v, layout.texcoords);
        out.u = t[0];
        out.v = t[1];
      }
      float *normal = item->normals + 3 * i;
      if (layout.normal >= 0) {
        std::memcpy(normal, Field<float>(v, layout.normal), 3 * sizeof(float));
      } else {
        const float *s = plane_sums.data + 3 * i;
        const double l = std::sqrt(double{s[0]} * s[0] + double{s[1]} * s[1] + double{s[2]} * s[2]);
        for (int k = 0; k < 3; ++k) normal[k] = l > 0 ? static_cast<float>(s[k] / l) : 0.0f;
      }
    }
    return Restart();
  }

  // The plane normal of a polygon: its plane property, else from its corners.
  void PlaneOf(void *polygon, uint32_t n, float *out) const {
    if (layout.plane >= 0) {
      std::memcpy(out, Field<float>(polygon, layout.plane), 3 * sizeof(float));
      if (out[0] != 0.0f || out[1] != 0.0f || out[2] != 0.0f) return;
    }
    double s[3] = {0, 0, 0};
    for (uint32_t i = 0; i < n; ++i) {
      const float *a = positions.data + 3 * i, *b = positions.data + 3 * ((i + 1) % n);
      s[0] += (double{a[1]} - b[1]) * (double{a[2]} + b[2]);
      s[1] += (double{a[2]} - b[2]) * (double{a[0]} + b[0]);
      s[2] += (double{a[0]} - b[0]) * (double{a[1]} + b[1]);
    }
    const double l = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    for (int k = 0; k < 3; ++k) out[k] = l > 0 ? static_cast<float>(s[k] / l) : 0.0f;
  }

  // Adds one polygon; false when out of memory.
  bool Polygon(VtPrimitive *p, void *polygon) {
    corners.count = positions.count = 0;
    const VtReference *ring = *Field<VtReference *>(polygon, layout.vrefs);
    if (ring == nullptr) return true;
    const VtReference *node = ring;
    do {
      if (!corners.Push(node->data)) return Fail();
      const float *w = Field<float>(node->data, layout.world);
      if (!positions.Reserve(uint64_t{positions.count} + 3)) return Fail();
      std::memcpy(positions.data + positions.count, w, 3 * sizeof(float));
      positions.count += 3;
      node = node->next;
    } while (node != nullptr && node != ring && corners.count < 0x1000000u);
    const uint32_t n = corners.count;
    if (n < 3) return true;
    uint32_t misses = 0;
    for (uint32_t i = 0; i < n; ++i)
      if (VoHashTableExtractRecord(shared, reinterpret_cast<uintptr_t>(corners.data[i])) == 0) ++misses;
    if (uint64_t{vertices.count} + misses > kMaxVertices) {
      if (!Flush(p)) return false;
      misses = n;
    }
    if (misses > kMaxVertices) {
      uint32_t distinct = 0;  // repeated corners count once; all are counted for the refusal
      for (uint32_t i = 0; i < n; ++i) {
        const auto key = reinterpret_cast<uintptr_t>(corners.data[i]);
        if (VoHashTableExtractRecord(shared, key) == 0) {
          if (VoHashTableStoreRecord(shared, key, 1) != 0) return Fail();
          ++distinct;
        }
      }
      if (!Restart()) return false;
      if (distinct > kMaxVertices) {
        Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DPolygonTooLarge, kModule, distinct, kMaxVertices);
        return true;
      }
    }
    float plane[3] = {0, 0, 0};
    if (layout.normal < 0) PlaneOf(polygon, n, plane);
    if (!triangles.Reserve(3 * uint64_t{n}) || !scratch.Reserve(TriangulateScratchBytes(n))) return Fail();
    if (!numbers.Reserve(n)) return Fail();
    for (uint32_t i = 0; i < n; ++i) {
      const auto key = reinterpret_cast<uintptr_t>(corners.data[i]);
      uintptr_t index = VoHashTableExtractRecord(shared, key);
      if (index == 0) {
        index = vertices.count + 1;
        if (VoHashTableStoreRecord(shared, key, index) != 0 || !vertices.Push(corners.data[i])) return Fail();
        if (layout.normal < 0) {
          if (!plane_sums.Reserve(uint64_t{plane_sums.count} + 3)) return Fail();
          std::memset(plane_sums.data + plane_sums.count, 0, 3 * sizeof(float));
          plane_sums.count += 3;
        }
      }
      numbers.data[i] = static_cast<uint32_t>(index - 1);
      if (layout.normal < 0)
        for (int k = 0; k < 3; ++k) plane_sums.data[3 * (index - 1) + k] += plane[k];
    }
    const uint32_t made =
        Triangulate(reinterpret_cast<const float(*)[3]>(positions.data), n, scratch.data, triangles.data);
    if (!indices.Reserve(uint64_t{indices.count} + 3 * uint64_t{made})) return Fail();
    for (uint32_t i = 0; i < 3 * made; ++i)
      indices.data[indices.count++] = static_cast<uint16_t>(numbers.data[triangles.data[i]]);
    return true;
  }

  // Items of one plain primitive; false when out of memory.
  bool Primitive(VtPrimitive *p, VtPrimitive *origin) {
    layout.For(VoPrimitiveGetContents(p));
    if (layout.world < 0 || layout.vrefs < 0) {
      Post(VO_STATUS_BAD_ARGUMENT, messages::kD3DItemRefused, kModule, "a primitive without positions");
      return true;
    }
    VtImage *image = nullptr;
    MaterialMake(c, p, origin, &pattern, &image);
    pattern.two_sided = VoPrimitiveGetSidedness(p) != 0 ? 1u : 0u;
    pattern.texture = nullptr;
    if (image != nullptr) {
      VtD3DTextureRecord *r = TextureRecord(c, image);
      if (r == nullptr) return Fail();
      pattern.texture = &r->set;
    }
    if (shared == nullptr && (shared = VoHashTableCreate(kVertexBuckets)) == nullptr) return Fail();
    if (!Restart()) return false;
    VtTypedValue v{};
    // The answer points at the property's storage: the first polygon.
    if (VoPrimitiveGetProperty(p, VO_PRIM_POLYS, &v) != 0 || v.value.p == nullptr) return true;
    void *first = *static_cast<void **>(v.value.p);
    uint64_t guard = 0;
    for (void *q = first; q != nullptr && guard < 0x40000000u; ++guard) {
      if (!Polygon(p, q)) return false;
      if (layout.next < 0) break;
      void *next = *Field<void *>(q, layout.next);
      q = (next == first || next == q) ? nullptr : next;
    }
    return Flush(p);
  }
};

void ItemFree(VtD3DContext *c, VtD3DItem *item) {
  VoDeallocate(item->vertices);
  VoDeallocate(item->normals);
  VoDeallocate(item->indices);
  (void)VoPoolFree(c->item_pool, item);
}

// Sorts a list by decreasing diffuse alpha, keeping the order of equals.
VtD3DItem *SortByAlpha(VtD3DItem *list) {
  if (list == nullptr || list->next == nullptr) return list;
  VtD3DItem *slow = list, *fast = list->next;
  while (fast != nullptr && fast->next != nullptr) {
    slow = slow->next;
    fast = fast->next->next;
  }
  VtD3DItem *second = slow->next;
  slow->next = nullptr;
  VtD3DItem *a = SortByAlpha(list), *b = SortByAlpha(second);
  VtD3DItem *head = nullptr, **tail = &head;
  while (a != nullptr && b != nullptr) {
    VtD3DItem **take = b->material.diffuse.a > a->material.diffuse.a ? &b : &a;
    *tail = *take;
    tail = &(*take)->next;
    *take = (*take)->next;
  }
  *tail = a != nullptr ? a : b;
  return head;
}

void FirstTransparentFind(VtD3DContext *c) {
  c->first_transparent = nullptr;
  for (VtD3DItem *i = c->items; i != nullptr; i = i->next)
    if (i->material.diffuse.a < kOpaque) {
      c->first_transparent = i;
      return;
    }
}

}  // namespace

float MaterialRampRow(const float *k) {
  const float r = k[0], g = k[1], b = k[2];
  const float hi = std::fmax(r, std::fmax(g, b)), lo = std::fmin(r, std::fmin(g, b));
  const float s = hi > 0.0f ? (hi - lo) / hi : 0.0f;
  int32_t index;
  if (!(s > 0.0f)) {
    const float level = std::isfinite(hi) ? std::fmax(0.0f, std::fmin(hi, 1.0f)) : 0.0f;
    index = 255 - static_cast<int32_t>(3.0f * level + 0.5f);
  } else {
    const float span = hi - lo;
    float h;
    if (hi == r)
      h = 60.0f * ((g - b) / span);
    else if (hi == g)
      h = 60.0f * ((b - r) / span + 2.0f);
    else
      h = 60.0f * ((r - g) / span + 4.0f);
    if (h < 0.0f) h += 360.0f;
    const int32_t k3 = static_cast<int32_t>(3.0f * std::fmin(s, 1.0f) + 0.5f);
    const int32_t n = static_cast<int32_t>(h / 5.0f + 0.5f) % 72;
    const int32_t j = n / 2;
    index = 7 * j + ((n & 1) != 0 ? 7 - k3 : k3);
  }
  return static_cast<float>(2 * index + 1) / 512.0f;
}

VtStatus PrimListDestroy(VtD3DContext *c) {
  for (VtD3DItem *i = c->items; i != nullptr;) {
    VtD3DItem *next = i->next;
    ItemFree(c, i);
    i = next;
  }
  c->items = nullptr;
  c->first_transparent = nullptr;
  for (VtD3DTextureRecord *r = c->textures; r != nullptr;) {
    VtD3DTextureRecord *next = r->next;
    TextureSetRelease(&r->set);
    (void)VoPoolFree(c->texture_pool, r);
    r = next;
  }
  c->textures = nullptr;
  if (c->texture_table != nullptr) (void)VoHashTableDestroy(c->texture_table);
  c->texture_table = nullptr;
  if (c->image_hook) driver::ImageDestroyHookRemove(&ImageGone);
  c->image_hook = false;
  return 0;
}

void TextureRecordsRemake(VtD3DContext *c) {
  for (VtD3DTextureRecord *r = c->textures; r != nullptr; r = r->next) {
    if (r->image == nullptr || !driver::ImageIsLive(r->image)) continue;
    VtBitmap *bitmap = VoD3DHBITMAPFromImage(r->image);
    if (bitmap == nullptr) continue;
    (void)TextureSetMake(c, bitmap, &r->set);
    (void)VoD3DDestroyHBitmap(bitmap);
  }
}

void TextureRecordsRelease(VtD3DContext *c) {
  for (VtD3DTextureRecord *r = c->textures; r != nullptr; r = r->next) TextureSetRelease(&r->set);
}

}  // namespace vo::d3d

namespace vo {

VtStatus VoD3DPrimListCreate(VtReference *list) {
  using namespace d3d;
  VtD3DContext *c = Context();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  if (!RingAccepted(list, "VoD3DPrimListCreate")) return VO_STATUS_BAD_ARGUMENT;
  static constexpr uint32_t kCodes[] = {VO_PRIM_POLYS,  VO_PRIM_MATERIAL, VO_PRIM_VERTS,  VO_POLY_VREFS,
                                        VO_POLY_NEXT,   VO_POLY_PRIM,     VO_POLY_PLANE,  VO_VERT_WORLD,
                                        VO_VERT_NORMAL, VO_VERT_NEXT,     VO_VERT_COLOUR, VO_VERT_TEXCOORDS};
  VtContents *contents = VoContentsCreate(static_cast<uint32_t>(std::size(kCodes)), kCodes);
  if (contents == nullptr) {
    Post(VO_STATUS_NO_MEMORY, messages::kD3DListNoMemory, kModule, "VoD3DPrimListCreate");
    return VO_STATUS_NO_MEMORY;
  }
  VtTypedValue before{};
  const bool had_control = VoControlGet(kGeometryContents, &before) == 0;
  VtTypedValue asked = TypedPointer(contents);
  (void)VoControlSet(kGeometryContents, &asked);

  Builder b(c);
  const VtStatus walked = RingWalk(list, [&](void *data) -> VtStatus {
    auto *p = static_cast<VtPrimitive *>(data);
    if (p == nullptr) return 0;
    VtReference *pieces = VoPrimitiveExpandToList(p, contents, kExpandOptions);
    const VtStatus st = RingWalk(pieces, [&](void *piece) -> VtStatus {
      if (piece == nullptr) return 0;
      return b.Primitive(static_cast<VtPrimitive *>(piece), p) ? 0 : VO_STATUS_NO_MEMORY;
    });
    if (pieces != nullptr) (void)VoPrimitiveReferenceListDestroy(pieces);
    return st;
  });
  if (had_control) (void)VoControlSet(kGeometryContents, &before);

  if (walked != 0 || b.out_of_memory) {
    for (VtD3DItem *i = b.first; i != nullptr;) {
      VtD3DItem *next = i->next;
      ItemFree(c, i);
      i = next;
    }
    Post(VO_STATUS_NO_MEMORY, messages::kD3DListNoMemory, kModule, "VoD3DPrimListCreate");
    return VO_STATUS_NO_MEMORY;
  }
  // One stable merge: the present items come before new ones of equal alpha.
  VtD3DItem *added = SortByAlpha(b.first);
  VtD3DItem *present = c->items, *head = nullptr, **tail = &head;
  while (present != nullptr && added != nullptr) {
    VtD3DItem **take = added->material.diffuse.a > present->material.diffuse.a ? &added : &present;
    *tail = *take;
    tail = &(*take)->next;
    *take = (*take)->next;
  }
  *tail = present != nullptr ? present : added;
  c->items = head;
  FirstTransparentFind(c);
  return 0;
}

VtStatus VoD3DPrimListDestroy() {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  d3d::VtD3DContext *c = d3d::Context();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  return d3d::PrimListDestroy(c);
}

}  // namespace vo

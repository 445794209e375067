// The saved-scene group: a seeded scene over every type an object file
// saves (a view; meshes with the saved-property list's vertex properties,
// transforms and materials of random classes and arguments; lights of
// random classes, a goniometric one with a luminaire file, a lamp type,
// intensity other than 1 and power; a background, a foreground, an image;
// and a bag of shaders of further classes whose arguments take edge values:
// NaN payloads, infinities, -0, denormals, long non-ASCII strings), saved,
// the library stopped and started, loaded, compared through the getters bit
// for bit, rendered by three renderers before and after, and saved again to
// the same bytes (the header's time fixed). Cuts of the object file and of
// a mesh file of the scene's meshes must fail visibly.
//
// Check answers the faults found, one line each, and the differences that
// docs/files.md lists as a saved scene's limits (classes drawing from the
// kernel's generator) apart, so a long run can report both by seed.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_driver.h>
#include <vo/vo_geometry.h>
#include <vo/vo_meshio.h>
#include <vo/vo_object.h>
#include <vo/vo_shader.h>

#include "platform/clock.h"
#include "support/rows_driver.h"

namespace vo_saved {

struct Result {
  std::string faults;  // differences the documents do not allow
  std::string limits;  // differences docs/files.md lists as limits
};

struct Options {
  bool render = true;
  uint32_t bag = 10;         // shaders of further classes saved beside the scene
  bool every_class = false;  // the bag holds every class once
};

// ---- What the session's diagnostics were --------------------------------

inline std::vector<uint32_t> &Posted() {
  static std::vector<uint32_t> messages;
  return messages;
}
inline VtStatus Recording(VtStatus, uint32_t message, uint32_t, uint32_t, VtTypedValue *) {
  Posted().push_back(message);
  return 0;
}

// ---- Pictures ---------------------------------------------------------------

constexpr uint32_t kWidth = 40, kHeight = 30;
constexpr uint32_t kRenderers[3] = {0x200001, 0xc0002, 0x70001};  // z-buffer, standard, ray preview

inline constexpr char kRowsName[] = "saved scene rows";
using SceneRows = vo::test::RowsDriver<kWidth, kHeight, kRowsName>;
inline std::vector<uint8_t> &Rows() { return SceneRows::Rows(); }
inline constexpr auto &Query = SceneRows::Query;

// Each renderer's status and picture of the current scene.
inline std::vector<std::string> Pictures() {
  std::vector<std::string> out;
  VtDriverRecord *driver = VoDriverCreate(&Query);
  for (uint32_t code : kRenderers) {
    Rows().assign(kWidth * kHeight * 3, 0);
    const VtStatus st = driver != nullptr && VoDriverSet(driver) == 0 ? VoExecute(code) : 2;
    char head[32];
    std::snprintf(head, sizeof head, "status 0x%x:", st);
    out.push_back(head + std::string(Rows().begin(), Rows().end()));
  }
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
  if (driver != nullptr) VoDriverDestroy(driver);
  return out;
}

// ---- The scene's objects through the getters --------------------------------

// A named value a getter answered: its bytes, or a text.
struct Value {
  std::string first;   // the name
  std::string second;  // the bytes or the text
  bool text;
  bool operator==(const Value &o) const { return first == o.first && second == o.second; }
};

// The values the getters answer, in the order the scene is walked.
struct Snapshot {
  std::vector<Value> values;
  std::map<const void *, int> seen;  // shared objects by their first name
  template <class T>
  void Add(const std::string &name, const T *data, size_t n) {
    values.push_back({name, std::string(reinterpret_cast<const char *>(data), n * sizeof(T)), false});
  }
  void Text(const std::string &name, const std::string &text) { values.push_back({name, text, true}); }
  // A shared object answers the index of its first appearance.
  bool First(const std::string &name, const void *object) {
    const auto found = seen.find(object);
    if (found != seen.end()) {
      Text(name, "shared " + std::to_string(found->second));
      return false;
    }
    const int index = static_cast<int>(seen.size());
    seen[object] = index;
    Text(name, object == nullptr ? "null" : "object " + std::to_string(index));
    return object != nullptr;
  }
};

inline bool Named(const char *a, const char *b) { return a != nullptr && std::strcmp(a, b) == 0; }

inline void ImageTake(Snapshot &s, const std::string &name, VtImage *image) {
  if (!s.First(name, image)) return;
  const int32_t fields[9] = {image->width, image->height, image->bits,    image->x0,     image->x1,
                             image->y0,    image->y1,     image->xoffset, image->yoffset};
  s.Add(name + " fields", fields, 9);
  const size_t bytes = static_cast<size_t>(image->bytes_per_row) * static_cast<size_t>(image->height);
  if (image->data != nullptr) s.Add(name + " pixels", image->data, bytes);
}

inline void ShaderTake(Snapshot &s, const std::string &name, VtShader *shader);

inline void ValueTake(Snapshot &s, const std::string &name, VtShader *shader, const char *class_name,
                      const char *label) {
  VtTypedValue v{};
  if (VoShaderGetArg(shader, label, &v) != 0) return s.Text(name, "no answer");
  const std::string typed = name + " type " + std::to_string(v.type);
  switch (v.type) {
    case VtInt32:
    case VtNat32:
    case VtEnum:
    case VtBoolean:
    case VtFlags:
    case VtNat8:
    case VtFloat: return s.Add(typed, &v.value.u, 1);
    case VtDouble: return s.Add(typed, &v.value.d, 1);
    case VtVector:
    case VtPoint: return s.Add(typed, v.value.v, 3);
    case VtColour4: return s.Add(typed, v.value.v, 4);
    case VtBoundsType: return s.Add(typed, v.value.v, 6);
    case VtString: return s.Text(typed, v.value.s != nullptr ? "\"" + std::string(v.value.s) + "\"" : "null");
    case VtColourType: {
      s.Add(typed, v.value.v, 3);
      VtTypedValue driven{};
      driven.type = VtShaderColour;
      if (VoShaderGetArg(shader, label, &driven) == 0 && driven.type == VtShaderColour &&
          driven.value.p != nullptr)
        ShaderTake(s, name + " driven by", static_cast<VtShader *>(driven.value.p));
      return;
    }
    case VtGenericPtr:
      if (Named(class_name, "decal")) return ShaderTake(s, typed, static_cast<VtShader *>(v.value.p));
      if (Named(label, "image")) return ImageTake(s, typed, static_cast<VtImage *>(v.value.p));
      return s.Text(typed, v.value.p != nullptr ? "an address" : "null");
    default: return s.Text(typed, "");  // procedures and the like: the type alone
  }
}

inline void ShaderTake(Snapshot &s, const std::string &name, VtShader *shader) {
  if (!s.First(name, shader)) return;
  uint32_t type = 0, count = 0;
  const char *class_name = nullptr;
  void *labels = nullptr;
  if (VoShaderEnquire(shader, &type, &class_name, &count, &labels) != 0) return s.Text(name, "no answer");
  s.Text(name + " class", std::to_string(type) + " " + (class_name != nullptr ? class_name : ""));
  for (uint32_t i = 0; i < count; ++i) {
    const char *label = static_cast<const char **>(labels)[i];
    ValueTake(s, name + " \"" + label + "\"", shader, class_name, label);
  }
}

inline void MaterialTake(Snapshot &s, const std::string &name, VtMaterial *m) {
  if (!s.First(name, m)) return;
  const std::pair<uint32_t, const char *> parts[4] = {{VO_SHADER_COLOUR, " colour"},
                                                      {VO_SHADER_REFLECTANCE, " reflectance"},
                                                      {VO_SHADER_TRANSPARENCY, " transparency"},
                                                      {VO_SHADER_DISPLACEMENT, " displacement"}};
  for (const auto &[type, part] : parts) ShaderTake(s, name + part, VoMaterialGetShader(m, type));
}

// The vertex properties a mesh may carry, with their sizes in 32-bit words.
struct VertexCode {
  uint32_t code, words;
};
constexpr VertexCode kVertexCodes[] = {
    {VO_VERT_WORLD, 3},        {VO_VERT_NORMAL, 3},           {VO_VERT_TEXCOORDS, 2}, {VO_VERT_COLOUR, 3},
    {VO_VERT_TRANSPARENCY, 3}, {VO_VERT_PARAMETRICCOORDS, 2}, {VO_VERT_FLAGS, 1}};

template <class Each>
void RingWalk(VtPrimitive *p, bool vertices, Each each) {
  VtTypedValue v{};
  void *first = nullptr;
  if (VoPrimitiveGetProperty(p, vertices ? VO_PRIM_VERTS : VO_PRIM_POLYS, &v) != 0 || v.value.p == nullptr)
    return;
  std::memcpy(&first, v.value.p, sizeof first);
  for (void *at = first; at != nullptr;) {
    each(at);
    if ((vertices ? VoVertexGetProperty(p, static_cast<VtVertex *>(at), VO_VERT_NEXT, &v)
                  : VoPolygonGetProperty(p, static_cast<VtPolygon *>(at), VO_POLY_NEXT, &v)) != 0 ||
        v.value.p == nullptr)
      break;
    std::memcpy(&at, v.value.p, sizeof at);
    if (at == first) break;
  }
}

inline void MeshTake(Snapshot &s, const std::string &name, VtPrimitive *p) {
  // The type and the flags a mesh file keeps (no held or transient bits
  // such as bounds held, 0x20000, and no edges bit).
  constexpr uint32_t kKept = VO_PRIMITIVE_TYPE_MASK | 0x20u | 0x40u | 0x80u | 0x4000u | 0x8000u | 0x10000u |
                             0x80000u | 0x100000u | 0x200000u;
  const uint32_t flags = VoPrimitiveGetFlags(p) & kKept;
  s.Add(name + " flags", &flags, 1);
  VtContents *contents = VoPrimitiveGetContents(p);
  std::map<const void *, uint32_t> index;
  RingWalk(p, true, [&](void *vertex) {
    const std::string at = name + " vertex " + std::to_string(index.size());
    index[vertex] = static_cast<uint32_t>(index.size());
    for (const VertexCode &c : kVertexCodes) {
      const int32_t offset = VoPropertyGetOffset(contents, c.code);
      if (offset >= 0)
        s.Add(at + " code " + std::to_string(c.code), static_cast<char *>(vertex) + offset, 4 * c.words);
    }
  });
  uint32_t polygon = 0;
  RingWalk(p, false, [&](void *q) {
    std::string corners;
    VtTypedValue v{};
    VtReference *ring = nullptr;
    if (VoPolygonGetProperty(p, static_cast<VtPolygon *>(q), VO_POLY_VREFS, &v) == 0 && v.value.p != nullptr)
      std::memcpy(&ring, v.value.p, sizeof ring);
    if (VtReference *node = ring) do {
        const auto found = index.find(node->data);
        corners += found != index.end() ? std::to_string(found->second) + " " : "? ";
        node = node->next;
      } while (node != ring && corners.size() < 4096);
    s.Text(name + " polygon " + std::to_string(polygon++), corners);
  });
  s.Text(name + " counts",
         std::to_string(index.size()) + " vertices, " + std::to_string(polygon) + " polygons");
  VtTransform *t = VoPrimitiveGetTransform(p);
  if (s.First(name + " transform", t)) {
    double m[16];
    if (VoTransformGetMatrix(t, m) == 0) s.Add(name + " matrix", m, 16);
  }
}

// ---- Making the scene ---------------------------------------------------------

class Maker {
 public:
  Maker(uint32_t seed, const std::filesystem::path &folder) : random_(seed), folder_(folder) {}

  float Uniform(float a, float b) { return std::uniform_real_distribution<float>(a, b)(random_); }
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(random_() % n); }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }

  // An edge value for the bag: a NaN with a payload, infinities, -0, a
  // denormal, or an ordinary number.
  float Edge() {
    switch (Below(8)) {
      case 0: {
        uint32_t bits = 0x7fc00000u | (static_cast<uint32_t>(random_()) & 0x3fffffu);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
      }
      case 1: return INFINITY;
      case 2: return -INFINITY;
      case 3: return -0.0f;
      case 4: return 1e-41f;
      default: return Uniform(-3, 3);
    }
  }

  std::string LongString() {
    static const char *const kPieces[] = {"grün", "ß", "日本", "∞", "é", "x", " ", "\xf0\x9f\x8c\x8d"};
    std::string s;
    const uint32_t n = 1 + Below(300);
    for (uint32_t i = 0; i < n; ++i) s += kPieces[Below(8)];
    return s;
  }

  // Random arguments of the types the class gives; edge values in the bag.
  void Arguments(VtShader *shader, bool edge) {
    uint32_t type = 0, count = 0;
    const char *class_name = nullptr;
    void *labels = nullptr;
    if (VoShaderEnquire(shader, &type, &class_name, &count, &labels) != 0) return;
    for (uint32_t i = 0; i < count; ++i) {
      const char *label = static_cast<const char **>(labels)[i];
      if (!Chance(edge ? 0.9 : 0.6)) continue;
      VtTypedValue v{};
      if (VoShaderGetArg(shader, label, &v) != 0) continue;
      auto number = [&](float a, float b) { return edge && Chance(0.4) ? Edge() : Uniform(a, b); };
      switch (v.type) {
        case VtInt32:
        case VtEnum: v.value.i = static_cast<int32_t>(Below(4)); break;
        case VtNat32:
        case VtNat8: v.value.u = Below(4); break;
        case VtBoolean: v.value.u = Below(2); break;
        case VtFlags: v.value.u = Below(8); break;
        case VtFloat: v.value.f = number(0.05f, 1.5f); break;
        case VtDouble: v.value.d = number(0.05f, 1.5f); break;
        case VtColourType:
          for (int k = 0; k < 3; ++k) v.value.v[k] = number(0, 1);
          break;
        case VtVector:
        case VtPoint:
        case VtColour4:
          for (int k = 0; k < 4; ++k) v.value.v[k] = number(-2, 2);
          break;
        case VtBoundsType:
          for (int k = 0; k < 6; ++k) v.value.v[k] = number(-2, 2) + (k % 2 == 1 ? 2.0f : 0.0f);
          break;
        case VtString:
          if (!edge) continue;
          strings_.push_back(LongString());
          v.value.s = strings_.back().c_str();
          break;
        case VtGenericPtr:
          if (Named(label, "image")) {
            v.value.p = Image();
          } else if (Named(class_name, "decal") && !edge) {
            v.value.p = RandomShader(Named(label, "decal texture space")  ? VO_SHADER_TEXTURE_SPACE
                                     : Named(label, "decal transparency") ? VO_SHADER_TRANSPARENCY
                                                                          : VO_SHADER_COLOUR,
                                     false);
            made_.push_back(static_cast<VtShader *>(v.value.p));
          } else {
            continue;
          }
          break;
        default: continue;
      }
      (void)VoShaderSetArg(shader, label, &v);
    }
  }

  std::vector<std::string> Classes(uint32_t type) {
    uint32_t count = 0;
    void *names = nullptr;
    std::vector<std::string> out;
    if (VoShaderGetPrototypes(type, &count, &names) != 0 || names == nullptr) return out;
    for (uint32_t i = 0; i < count; ++i) out.emplace_back(static_cast<const char **>(names)[i]);
    return out;
  }

  VtShader *RandomShader(uint32_t type, bool edge) {
    const std::vector<std::string> names = Classes(type);
    if (names.empty()) return nullptr;
    const std::string &name = names[Below(static_cast<uint32_t>(names.size()))];
    used_.push_back(name);
    VtShader *s = VoShaderCreate(type, name.c_str());
    if (s != nullptr) Arguments(s, edge);
    return s;
  }

  VtImage *Image() {
    if (image_ != nullptr) return image_;
    image_ = VoImageCreate();
    if (image_ == nullptr) return nullptr;
    image_->width = 3 + static_cast<int32_t>(Below(6));
    image_->height = 2 + static_cast<int32_t>(Below(5));
    image_->bytes_per_row = image_->width * 3 + static_cast<int32_t>(Below(2)) * 4;  // odd padding too
    if (VoImageAllocateData(image_) != 0 || image_->data == nullptr) return image_;
    for (int32_t i = 0; i < image_->bytes_per_row * image_->height; ++i)
      image_->data[i] = static_cast<uint8_t>(random_());
    return image_;
  }

  // A box of eight corners and six quads, or a pyramid of five corners, with
  // the properties named by the saved-property list besides the positions.
  VtPrimitive *Mesh(const std::vector<uint32_t> &codes) {
    // A box of six quads, a pyramid, or a square with a square hole (one
    // face of two contours).
    const uint32_t shape = Below(10) < 5 ? 0 : Below(2) + 1;
    const bool box = shape == 0, holed = shape == 2;
    const uint32_t corners = shape == 1 ? 5 : 8;
    static const int32_t kBoxFaces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4,
                                          2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
    static const int32_t kPyramidFaces[16] = {0, 2, 3, 1, 0, 1, 4, 1, 3, 4, 3, 2, 4, 2, 0, 4};
    static const int32_t kHoledFace[8] = {0, 2, 3, 1, 6, 7, 5, 4};
    static const int32_t kTwoContours[1] = {2};
    const std::vector<int32_t> counts = box     ? std::vector<int32_t>(6, 4)
                                        : holed ? std::vector<int32_t>{4, 4}
                                                : std::vector<int32_t>{4, 3, 3, 3, 3};
    const float c[3] = {Uniform(-1.5f, 1.5f), Uniform(0, 1), Uniform(-1.5f, 1.5f)};
    const float h[3] = {Uniform(0.2f, 0.9f), Uniform(0.2f, 0.9f), Uniform(0.2f, 0.9f)};
    std::vector<std::vector<float>> arrays;
    std::vector<uint32_t> ids;
    std::vector<float> world;
    for (uint32_t i = 0; i < corners; ++i) {
      const bool apex = shape == 1 && i == 4;
      const float inner = holed && i >= 4 ? 0.5f : 1.0f;
      world.push_back(apex ? c[0] : c[0] + ((i & 1) ? h[0] : -h[0]) * inner);
      world.push_back(apex ? c[1] + 2 * h[1] : box && (i & 2) ? c[1] + h[1] : c[1] - h[1]);
      world.push_back(apex ? c[2] : c[2] + (((box ? i & 4 : i & 2)) ? h[2] : -h[2]) * inner);
    }
    arrays.push_back(world);
    ids.push_back(VO_VERT_WORLD);
    for (const VertexCode &k : kVertexCodes) {
      bool named = false;
      for (uint32_t code : codes) named |= code == k.code;
      if (k.code == VO_VERT_WORLD || !named || !Chance(0.6)) continue;
      std::vector<float> values(corners * k.words);
      for (float &f : values) f = Uniform(0.1f, 1);
      if (k.code == VO_VERT_FLAGS)
        for (float &f : values) {
          const uint32_t bits = Below(16);
          std::memcpy(&f, &bits, sizeof f);
        }
      arrays.push_back(values);
      ids.push_back(k.code);
    }
    std::vector<VtTypedValue> data(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
      data[i].type = VtGenericPtr;
      data[i].value.p = arrays[i].data();
    }
    return VoPrimitiveCreateMesh(holed ? 1 : static_cast<uint32_t>(counts.size()),
                                 holed ? kTwoContours : nullptr, counts.data(),
                                 box     ? kBoxFaces
                                 : holed ? kHoledFace
                                         : kPyramidFaces,
                                 static_cast<uint32_t>(ids.size()), ids.data(), data.data());
  }

  VtTransform *Transform() {
    VtTransform *t = VoTransformCreate();
    const double move[3] = {Uniform(-0.5f, 0.5f), Uniform(-0.3f, 0.3f), Uniform(-0.5f, 0.5f)};
    const double point[3] = {0, 0, 0}, axis[3] = {Uniform(-1, 1), 1, Uniform(-1, 1)};
    (void)VoTransformTranslate(t, move);
    (void)VoTransformRotateAxis(t, point, axis, Uniform(-40, 40));
    return t;
  }

  VtMaterial *Material() {
    VtMaterial *m = VoMaterialCreate();
    if (m == nullptr) return nullptr;
    for (uint32_t type :
         {VO_SHADER_COLOUR, VO_SHADER_REFLECTANCE, VO_SHADER_TRANSPARENCY, VO_SHADER_DISPLACEMENT}) {
      const bool wanted =
          type == VO_SHADER_COLOUR || type == VO_SHADER_REFLECTANCE ? Chance(0.9) : Chance(0.25);
      if (!wanted) continue;
      VtShader *s = RandomShader(type, false);
      if (s != nullptr) {
        (void)VoMaterialSetShader(m, s);
        (void)VoShaderDestroy(s);  // the material holds it
      }
    }
    return m;
  }

  // The goniometric light the issue names: a luminaire file, a lamp type,
  // intensity other than 1 and power above 0 (or the file's, 0).
  VtShader *Goniometric() {
    const std::filesystem::path ies = folder_ / "luminaire.ies";
    if (!std::filesystem::exists(ies)) {
      std::ofstream f(ies);
      f << "IESNA91\nTILT=NONE\n1 -1 1 3 2 1 2 0 0 0\n1 1 0\n0 90 180\n0 90\n100 100 0 100 50 0\n";
    }
    VtShader *s = VoShaderCreate(VO_SHADER_LIGHT, "goniometric");
    if (s == nullptr) return nullptr;
    used_.push_back("goniometric");
    static const char *const kLamps[] = {"high pressure sodium", "metal halide", "incandescent",
                                         "fluorescent"};
    ies_ = ies.string();
    VtTypedValue v{};
    v.type = VtString;
    v.value.s = ies_.c_str();
    (void)VoShaderSetArg(s, "file name", &v);
    v.value.s = kLamps[Below(4)];
    (void)VoShaderSetArg(s, "lamp type", &v);
    v = VtTypedValue{};
    v.type = VtFloat;
    v.value.f = Uniform(1.2f, 3);
    (void)VoShaderSetArg(s, "intensity", &v);
    v.value.f = Chance(0.75) ? Uniform(0.5f, 4) : 0.0f;
    (void)VoShaderSetArg(s, "power", &v);
    v = VtTypedValue{};
    v.type = VtColourType;
    for (int k = 0; k < 3; ++k) v.value.v[k] = Uniform(0.3f, 1);
    (void)VoShaderSetArg(s, "colour", &v);
    v = VtTypedValue{};
    v.type = VtPoint;
    v.value.v[0] = Uniform(-2, 2), v.value.v[1] = Uniform(3, 5), v.value.v[2] = Uniform(-2, 2);
    (void)VoShaderSetArg(s, "from", &v);
    return s;
  }

  std::mt19937 random_;
  std::filesystem::path folder_;
  std::string ies_;
  std::vector<std::string> strings_;  // strings handed to the setters
  std::vector<std::string> used_;     // the classes the scene holds
  std::vector<VtShader *> made_;      // shaders another holds (the decal's)
  VtImage *image_ = nullptr;
};

// The classes whose pictures depend on the generator's draws before them.
inline bool DrawsFromTheGenerator(const std::vector<std::string> &classes) {
  for (const std::string &c : classes)
    if (c == "snow" || c == "wrapped textured brick" || c == "chrome 2D" || c == "npr atmospheric")
      return true;
  return false;
}

// ---- The records of a saved scene ---------------------------------------------

// What a session holds: the objects written, in the file's order.
struct Scene {
  VtView *view = nullptr;
  VtReference *list = nullptr;
  VtReference *lights = nullptr;
  VtShader *background = nullptr, *foreground = nullptr;
  VtImage *image = nullptr;
  std::vector<VtShader *> bag;
};

inline Snapshot Take(const Scene &scene) {
  Snapshot s;
  float eye[3], reference[3], up[3];
  int32_t kind = 0;
  double angle = 0, aspect = 0;
  uint32_t x = 0, y = 0;
  if (VoViewGetPinhole(scene.view, eye, reference, up, &kind, &angle) == 0 &&
      VoViewGetResolution(scene.view, &x, &y, &aspect) == 0) {
    s.Add("view eye", eye, 3), s.Add("view reference", reference, 3), s.Add("view up", up, 3);
    s.Add("view projection", &kind, 1), s.Add("view angle", &angle, 1);
    s.Add("view resolution", &x, 1), s.Add("view resolution y", &y, 1), s.Add("view aspect", &aspect, 1);
  }
  int n = 0;
  if (VtReference *node = scene.list) do {
      const std::string name = "mesh " + std::to_string(n++);
      auto *p = static_cast<VtPrimitive *>(node->data);
      MeshTake(s, name, p);
      VtMaterial *m = VoPrimitiveGetMaterial(p);
      MaterialTake(s, name + " material", m);
      node = node->next;
    } while (node != scene.list);
  n = 0;
  if (VtReference *node = scene.lights) do {
      ShaderTake(s, "light " + std::to_string(n++), static_cast<VtShader *>(node->data));
      node = node->next;
    } while (node != scene.lights);
  ShaderTake(s, "background", scene.background);
  ShaderTake(s, "foreground", scene.foreground);
  ImageTake(s, "image", scene.image);
  for (size_t i = 0; i < scene.bag.size(); ++i) ShaderTake(s, "bag " + std::to_string(i), scene.bag[i]);
  return s;
}

inline VtStatus Write(const std::string &path, const Scene &scene) {
  void *file = VoFileOpen(path.c_str(), 2);
  if (file == nullptr) return 2;
  VtStatus st = VoObjectOpen(file, 2);
  auto write = [&](uint32_t type, void *value) {
    VtObjectValue v{};
    v.type = type;
    v.value.p = value;
    st |= VoObjectWrite(file, &v);
  };
  VtReference *lights = scene.lights;
  write(VO_OBJECT_VIEW, scene.view);
  write(VO_OBJECT_PRIMITIVE_LIST, scene.list);
  write(VO_OBJECT_SHADER_LIST, &lights);
  write(VO_OBJECT_SHADER, scene.background);
  write(VO_OBJECT_SHADER, scene.foreground);
  write(VO_OBJECT_IMAGE, scene.image);
  for (VtShader *s : scene.bag) write(VO_OBJECT_SHADER, s);
  st |= VoObjectClose(file);
  VoFileClose(file);
  return st;
}

// Reads the records back in the order Write wrote them; the OR of the
// statuses (2 for a cut file).
inline VtStatus Read(const std::string &path, Scene *scene) {
  void *file = VoFileOpen(path.c_str(), 1);
  if (file == nullptr) return 2;
  VtStatus st = VoObjectOpen(file, 1);
  for (int record = 0; (st & 2) == 0; ++record) {
    VtObjectValue v{};
    const VtStatus r = VoObjectRead(file, &v);
    st |= r;
    if ((r & 2) != 0 || v.type == VO_OBJECT_END) break;
    auto *object = v.value.p;
    switch (record) {
      case 0: scene->view = static_cast<VtView *>(object); break;
      case 1: scene->list = static_cast<VtReference *>(object); break;
      case 2:
        std::memcpy(&scene->lights, object, sizeof scene->lights);
        VoDataObjectGetDeallocator(VO_OBJECT_SHADER_LIST)(object);
        break;
      case 3: scene->background = static_cast<VtShader *>(object); break;
      case 4: scene->foreground = static_cast<VtShader *>(object); break;
      case 5: scene->image = static_cast<VtImage *>(object); break;
      default: scene->bag.push_back(static_cast<VtShader *>(object)); break;
    }
  }
  st |= VoObjectClose(file);
  VoFileClose(file);
  return st;
}

inline VtStatus Current(const Scene &scene) {
  VtStatus st = VoViewSet(scene.view) | VoPrimitiveListSet(scene.list) | VoLightListSet(scene.lights);
  st |= VoBackgroundSet(scene.background) | VoForegroundSet(scene.foreground);
  return st | VoViewAutoClipping(nullptr);
}

inline std::string Bytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The saved-property list of this seed: the default codes and some of the
// vertex properties kept only when named.
inline std::vector<uint32_t> PropertyCodes(Maker &make) {
  std::vector<uint32_t> codes = {0x10a, 0x102, 0x401, 0x406, 0x106, 0x40a};
  for (uint32_t code : {0x404u, 0x40bu, 0x407u, 0x40cu})
    if (make.Chance(0.5)) codes.push_back(code);
  return codes;
}

inline VtStatus PropertyListSet(const std::vector<uint32_t> &codes) {
  VtTypedValue list{}, count{};
  list.type = VtGenericPtr;
  list.value.p = const_cast<uint32_t *>(codes.data());
  count.type = VtNat32;
  count.value.u = static_cast<uint32_t>(codes.size());
  return VoControlSet(VO_CONTROL_OBJECT_PROPERTY_COUNT, &count) |
         VoControlSet(VO_CONTROL_OBJECT_PROPERTY_LIST, &list);
}

inline Scene Build(Maker &make, const std::vector<uint32_t> &codes, const Options &o) {
  Scene scene;
  scene.view = VoViewGet();
  const float eye[3] = {make.Uniform(-4, 4), make.Uniform(2, 5), make.Uniform(4, 7)};
  const float reference[3] = {0, 0.5f, 0}, up[3] = {0, 1, 0};
  (void)VoViewSetResolution(nullptr, kWidth, kHeight, make.Chance(0.8) ? 1.0 : make.Uniform(0.8f, 1.25f));
  (void)VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, make.Uniform(30, 60));
  std::vector<VtPrimitive *> meshes;
  VtMaterial *last_material = nullptr;
  VtTransform *last_transform = nullptr;
  const uint32_t count = 1 + make.Below(3);
  for (uint32_t i = 0; i < count; ++i) {
    VtPrimitive *p = make.Mesh(codes);
    if (p == nullptr) continue;
    if (make.Chance(0.6)) {
      VtTransform *t = last_transform != nullptr && make.Chance(0.3) ? last_transform : make.Transform();
      (void)VoPrimitiveSetTransform(p, t);
      last_transform = t;
    }
    if (make.Chance(0.85)) {
      VtMaterial *m = last_material != nullptr && make.Chance(0.3) ? last_material : make.Material();
      (void)VoPrimitiveSetMaterial(p, m);
      last_material = m;
    }
    meshes.push_back(p);
  }
  scene.list = VoPrimitiveListCreate(static_cast<uint32_t>(meshes.size()), meshes.data());
  std::vector<VtShader *> lights = {VoShaderCreate(VO_SHADER_LIGHT, "ambient")};
  if (make.Chance(0.5)) lights.push_back(make.Goniometric());
  for (uint32_t i = 0, n = 1 + make.Below(2); i < n; ++i)
    lights.push_back(make.RandomShader(VO_SHADER_LIGHT, false));
  for (VtShader *s : lights)
    if (s != nullptr) scene.lights = VoShaderReferenceAppend(scene.lights, VoShaderReferenceCreate(s));
  if (make.Chance(0.7)) scene.background = make.RandomShader(VO_SHADER_BACKGROUND, false);
  if (make.Chance(0.3)) scene.foreground = make.RandomShader(VO_SHADER_FOREGROUND, false);
  scene.image = make.Image();
  // The bag: further classes of every type, edge values in their arguments.
  static constexpr uint32_t kTypes[] = {
      VO_SHADER_COLOUR,        VO_SHADER_REFLECTANCE, VO_SHADER_TRANSPARENCY, VO_SHADER_DISPLACEMENT,
      VO_SHADER_TEXTURE_SPACE, VO_SHADER_FOREGROUND,  VO_SHADER_BACKGROUND,   VO_SHADER_LIGHT,
      VO_SHADER_FILTER,        VO_SHADER_POSTPROCESS};
  std::vector<std::pair<uint32_t, std::string>> every;
  for (uint32_t type : kTypes)
    for (const std::string &name : make.Classes(type)) every.emplace_back(type, name);
  const size_t bag = o.every_class ? every.size() : o.bag;
  for (size_t i = 0; i < bag && !every.empty(); ++i) {
    const auto &[type, name] =
        o.every_class ? every[i] : every[make.Below(static_cast<uint32_t>(every.size()))];
    VtShader *s = VoShaderCreate(type, name.c_str());
    if (s == nullptr) continue;
    make.Arguments(s, true);
    scene.bag.push_back(s);
  }
  (void)Current(scene);
  return scene;
}

// A value's bytes in hexadecimal (at most 48), or its text.
inline std::string Shown(const Value &value) {
  const std::string &bytes = value.second;
  if (value.text) return bytes.substr(0, 120);
  std::string out;
  char two[4];
  for (size_t i = 0; i < bytes.size() && i < 48; ++i) {
    std::snprintf(two, sizeof two, "%02x", static_cast<uint8_t>(bytes[i]));
    out += two;
  }
  return out;
}

// Names what differs between two snapshots (at most a few lines).
inline std::string Differences(const char *when, const Snapshot &a, const Snapshot &b) {
  std::string out;
  int shown = 0;
  const size_t n = std::max(a.values.size(), b.values.size());
  for (size_t i = 0; i < n && shown < 6; ++i) {
    const bool both = i < a.values.size() && i < b.values.size();
    if (both && a.values[i] == b.values[i]) continue;
    ++shown;
    out += std::string("  ") + when + ": " + (i < a.values.size() ? a.values[i].first : "(none)") +
           (both && a.values[i].first == b.values[i].first
                ? " answers another value (" + Shown(a.values[i]) + " against " + Shown(b.values[i]) + ")"
                : " against " + (i < b.values.size() ? b.values[i].first : "(none)")) +
           "\n";
  }
  return out;
}

// Cuts of the object file (and of a mesh file of the loaded meshes) read
// back: each must answer 2, or post a diagnostic.
inline std::string CutsFail(Maker &make, const std::string &path, VtReference *list,
                            const std::vector<uint32_t> &codes, const std::filesystem::path &folder) {
  std::string out;
  const std::string whole = Bytes(path), cut_path = (folder / "cut.vo").string();
  for (int i = 0; i < 6 && whole.size() > 1; ++i) {
    const size_t at = make.Below(static_cast<uint32_t>(whole.size() - 1)) + 1;
    std::ofstream(cut_path, std::ios::binary).write(whole.data(), static_cast<std::streamsize>(at));
    Scene cut;
    if ((Read(cut_path, &cut) & 2) == 0)
      out += "  the object file cut at " + std::to_string(at) + " read without status 2\n";
  }
  if (list == nullptr) return out;
  const std::string mesh_path = (folder / "meshes.vxm").string();
  FILE *f = std::fopen(mesh_path.c_str(), "wb");
  VtTypedValue file{};
  file.type = VtGenericPtr;
  file.value.p = f;
  if (f == nullptr || VoControlSet(VO_CONTROL_MESHIO_FILE, &file) != 0 ||
      VoMeshSave(list, static_cast<uint32_t>(codes.size()), codes.data()) != 0)
    out += "  the meshes could not be saved to a mesh file\n";
  if (f != nullptr) std::fclose(f);
  const std::string meshes = Bytes(mesh_path);
  for (int i = 0; i < 4 && meshes.size() > 8; ++i) {
    const size_t at = 8 + make.Below(static_cast<uint32_t>(meshes.size() - 8));
    std::ofstream(mesh_path, std::ios::binary).write(meshes.data(), static_cast<std::streamsize>(at));
    f = std::fopen(mesh_path.c_str(), "rb");
    file.value.p = f;
    (void)VoControlSet(VO_CONTROL_MESHIO_FILE, &file);
    const size_t before = Posted().size();
    VtReference *loaded = VoMeshLoad();
    if (Posted().size() == before && loaded != nullptr)
      out += "  the mesh file cut at " + std::to_string(at) + " of " + std::to_string(meshes.size()) +
             " loaded without a word\n";
    if (loaded != nullptr) (void)VoPrimitiveReferenceDestroy(loaded, 1);
    std::fclose(f);
  }
  file.value.p = nullptr;
  (void)VoControlSet(VO_CONTROL_MESHIO_FILE, &file);
  return out;
}

inline VtStatus Start() {
  const VtStatus st = VoInitialise();
  (void)VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Recording));
  return st;
}

inline Result Check(uint32_t seed, const std::filesystem::path &folder, const Options &o = Options{}) {
  Result result;
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "scene.vo").string(), again = (folder / "again.vo").string();
  const int64_t one = 1;
  vo::platform::CalendarSecondsFix(&one);  // the header's permutation seeds
  Maker make(seed, folder);
  if (Start() != 0) return {"  the library did not start\n", ""};
  const std::vector<uint32_t> codes = PropertyCodes(make);
  (void)PropertyListSet(codes);
  const Scene scene = Build(make, codes, o);
  const std::vector<std::string> pictures = o.render ? Pictures() : std::vector<std::string>{};
  const Snapshot before = Take(scene);
  const VtStatus saved = Write(path, scene);
  if ((saved & 2) != 0) result.faults += "  the save answered " + std::to_string(saved) + "\n";
  (void)VoTerminate();

  Start();
  (void)PropertyListSet(codes);
  Scene loaded;
  const VtStatus read = Read(path, &loaded);
  if ((read & 2) != 0) result.faults += "  the load answered " + std::to_string(read) + "\n";
  (void)Current(loaded);
  // Rendered scenes compare once prepared again (some getters answer what
  // a preparation worked out); the bag is never prepared.
  if (!o.render) result.faults += Differences("loaded", before, Take(loaded));
  if (o.render) {
    const std::vector<std::string> after = Pictures();
    result.faults += Differences("loaded and rendered", before, Take(loaded));
    for (size_t i = 0; i < after.size(); ++i) {
      if (after[i] == pictures[i]) continue;
      const std::string line = "  renderer 0x" + [&] {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", kRenderers[i]);
        return std::string(hex);
      }() + " draws another picture after the load\n";
      (DrawsFromTheGenerator(make.used_) ? result.limits : result.faults) += line;
    }
  }
  if ((Write(again, loaded) & 2) != 0 || Bytes(again) != Bytes(path))
    result.faults += "  the loaded scene saves to other bytes\n";
  result.faults += CutsFail(make, path, loaded.list, codes, folder);
  (void)VoTerminate();
  vo::platform::CalendarSecondsFix(nullptr);
  return result;
}

}  // namespace vo_saved

// A seeded random walk of legal calls through the public interface: meshes,
// materials, shaders, lights, transforms, views, primitive and light lists,
// background and foreground made, edited, attached and destroyed; renders of
// every class at 0 to 5 workers into the null driver, an image, a screen
// buffer or a file, some with a progress callback that makes one to three
// calls of its own (list, light-list, background and view changes, shader
// and material edits, releases of what the running render reads or of
// objects of every kind the walk holds: primitives, primitive and light
// lists (the lights with them), screen buffers, textures, environments;
// renders into the image driver or the outer render's target), after which
// the current lists must be those last set, and every handle given back is
// destroyed again during the render and after it, refused each time; the scene
// saved to an object file and read back; the library stopped and started
// again. Among the lights is a spot casting shadows, made as a walk starts. A walk never makes a call the
// documents call the application's mistake (a destroy of what it does not hold, a handle used after its
// destroy), so the library may refuse a call (a status is no finding) but must not crash, trip a sanitizer,
// hang, or answer against the documents where they give an answer (a refusal of a create, an edit or a
// destroy of live objects the walk holds, of a save or a read).
//
// The walk draws every choice from the library's own generator (a private
// state, seeded with the walk's seed and, after each restart, with a number
// drawn before the stop), so a seed replays the same calls. RunForked runs a
// walk in a child process bounded by an alarm, and reports the seed, the
// number and the text of the call a crash, a sanitizer or a hang stopped it at.
#pragma once

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_driver.h>
#include <vo/vo_multit.h>
#include <vo/vo_object.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>

#include "support/fingerprint.h"

namespace vo_walk {

struct Options {
  uint32_t min_calls = 50, max_calls = 400;
  unsigned alarm_seconds = 120;  // a walk still running then is a hang
  bool trace = false;            // print every call and its answer
  std::filesystem::path folder;  // where files are written
  // The calls a progress callback draws are made after its render instead
  // (the walk's twin for the comparison, RunTwins), after those renders
  // whose callback acted in the walk's log (how many reports a render makes
  // depends on what the library keeps, its lights' maps).
  bool calls_after = false;
  const std::vector<uint8_t> *acted = nullptr;
};

// What the child leaves for the parent to read, in memory they share.
constexpr uint32_t kChecksMost = 256;
struct Progress {
  uint32_t calls;  // the number of the call being made
  char call[192];
  char finding[320];
  uint32_t checks;  // the pictures drawn after each render whose callback acted
  uint64_t digests[kChecksMost];
  uint32_t statuses[kChecksMost];  // of the renders the digests were drawn by
  uint32_t renders;                // the renders with a callback, and whether it acted
  uint8_t acted[kChecksMost];
};

constexpr uint32_t kRenderCodes[] = {0xc0001, 0xc0002, 0xc0003,  0x200001, 0x200002, 0x200003, 0x70001,
                                     0x70002, 0xa0001, 0x190001, 0x190002, 0x600004, 0x600005, 0x440004};
constexpr uint32_t kMaterialTypes[] = {VO_SHADER_COLOUR, VO_SHADER_REFLECTANCE, VO_SHADER_TRANSPARENCY,
                                       VO_SHADER_DISPLACEMENT};
// Labels most classes share, with the one type the walk sets them as.
struct Label {
  const char *name;
  uint32_t type;
};
constexpr Label kLabels[] = {{"scale", VtFloat},
                             {"ambient factor", VtFloat},
                             {"specular factor", VtFloat},
                             {"diffuse factor", VtFloat},
                             {"roughness", VtFloat},
                             {"colour", VtColourType},
                             {"intensity", VtFloat},
                             {"background colour", VtColourType},
                             {"size", VtFloat},
                             {"shadows", VtBoolean},
                             {"width", VtFloat},
                             {"specular colour", VtColourType},
                             {"shadow resolution", VtInt32},
                             {"shadow quality", VtInt32},
                             {"mirror factor", VtFloat},
                             {"amplitude", VtFloat},
                             {"radius", VtFloat},
                             {"to", VtPoint},
                             {"location", VtPoint},
                             {"exponent", VtFloat},
                             {"axis direction", VtVector},
                             {"threshold", VtFloat},
                             {"origin", VtPoint},
                             {"blend", VtFloat},
                             {"fog colour", VtColourType},
                             {"height", VtFloat},
                             {"detail", VtInt32}};

class Walk {
 public:
  Walk(uint32_t seed, const Options &o, Progress *progress) : seed_(seed), o_(o), p_(progress) {}

  // Runs the walk; false with p_->finding set when the library answered
  // against the documents.
  bool Run() {
    if (!Start(static_cast<int32_t>(seed_))) return false;
    const uint32_t calls = o_.min_calls + static_cast<uint32_t>(Below(o_.max_calls - o_.min_calls + 1));
    // The second destroys are not counted: the twin makes them at other
    // points, and both twins must make the same acts.
    while (p_->calls - again_calls_ < calls && p_->finding[0] == 0) Act();
    if (p_->finding[0] == 0) {
      Call("VoTerminate()");
      Expect(VoTerminate(), 0);
    }
    return p_->finding[0] == 0;
  }

 private:
  struct Shader {
    VtShader *h;
    uint32_t type;
    int id;
  };
  struct Ring {  // a light list the walk made
    VtReference *h;
    std::vector<int> lights;  // the walk's numbers of its lights (a freed light's address may be reused)
    int id;
  };
  struct List {  // a primitive list; a read one's members are unknown
    VtReference *h;
    std::vector<VtPrimitive *> members;
    bool read;
    int id;
  };
  template <typename T>
  struct Held {
    T *h;
    int id;
  };

  // ---- the generator --------------------------------------------------
  double Uniform() { return VoRandomStateDouble(random_); }
  size_t Below(size_t n) { return n == 0 ? 0 : std::min(n - 1, static_cast<size_t>(Uniform() * n)); }
  float Between(double a, double b) { return static_cast<float>(a + (b - a) * Uniform()); }
  bool Chance(double p) { return Uniform() < p; }
  // An element of v; its index stays in last_.
  template <typename V>
  auto &Pick(V &v) {
    last_ = Below(v.size());
    return v[last_];
  }

  // ---- calls and findings ---------------------------------------------
  void Call(const char *format, ...) __attribute__((format(printf, 2, 3))) {
    va_list a;
    va_start(a, format);
    const int n = std::snprintf(p_->call, sizeof p_->call, "%s", calling_from_);
    std::vsnprintf(p_->call + n, sizeof p_->call - static_cast<size_t>(n), format, a);
    va_end(a);
    ++p_->calls;
    if (o_.trace) std::printf("%u: %s", p_->calls, p_->call), std::fflush(stdout);
  }
  VtStatus Answer(VtStatus st) {
    // A crash must not take the last lines of a trace with it.
    if (o_.trace) std::printf(" -> 0x%x\n", static_cast<unsigned>(st)), std::fflush(stdout);
    return st;
  }
  void Finding(const char *what) {
    std::snprintf(p_->finding, sizeof p_->finding, "seed %u, call %u, %s: %s", seed_, p_->calls, p_->call,
                  what);
  }
  // A status the documents give for this call.
  bool Expect(VtStatus st, VtStatus wanted) {
    Answer(st);
    if (st == wanted) return true;
    char what[96];
    std::snprintf(what, sizeof what, "answered 0x%x where 0x%x is due", static_cast<unsigned>(st),
                  static_cast<unsigned>(wanted));
    Finding(what);
    return false;
  }
  // An object stream's answer: 0, or the warning 0x20000000 for a part of a
  // value that is not kept (an address argument, say).
  bool ExpectSaved(VtStatus st) { return st == 0x20000000u ? Answer(st) == st : Expect(st, 0); }
  template <typename T>
  T *Made(T *h) {
    if (o_.trace) std::printf(" -> %s\n", h != nullptr ? "made" : "null");
    if (h == nullptr) Finding("made nothing from live arguments");
    return h;
  }

  static VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }
  // A trace names each diagnostic by its number (examples/messages.txt has
  // the texts).
  static VtStatus Shown(VtStatus status, uint32_t message, uint32_t module, uint32_t, VtTypedValue *) {
    std::printf(" [diagnostic %u of module %u, 0x%x]", message, module, static_cast<unsigned>(status));
    return 0;
  }

  bool Start(int32_t seed) {
    Call("VoInitialise()");
    if (!Expect(VoInitialise(), 0)) return false;
    VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(o_.trace ? &Shown : &Quiet));
    // Small pictures keep a walk's renders quick.
    Call("VoViewSetResolution(current, 40 x 30)");
    if (!Expect(VoViewSetResolution(nullptr, 40, 30, 1.0), 0)) return false;
    random_ = VoRandomStateCreate();
    if (random_ == nullptr || VoRandomStateSeed(seed, random_) != 0) {
      Finding("no generator");
      return false;
    }
    current_ring_ = VoLightListGet();  // the library's default list
    Call("VoShaderCreate(light, \"spot\"), shadows on");
    if (VtShader *spot = Made(VoShaderCreate(VO_SHADER_LIGHT, "spot"))) {
      shaders_.push_back({spot, VO_SHADER_LIGHT, ++ids_});
      VtTypedValue v{};
      v.type = VtPoint;
      v.value.v[0] = Between(-2, 2), v.value.v[1] = Between(2, 5), v.value.v[2] = Between(3, 6);
      VtStatus st = VoShaderSetArg(spot, "location", &v);
      v.value.v[0] = v.value.v[1] = v.value.v[2] = 0;
      st |= VoShaderSetArg(spot, "to", &v);
      v.type = VtBoolean;
      v.value.u = 1;
      st |= VoShaderSetArg(spot, "shadows", &v);
      v.type = VtInt32;
      v.value.i = 32;
      st |= VoShaderSetArg(spot, "shadow resolution", &v);
      return Expect(st, 0);
    }
    return false;
  }

  // ---- the acts -------------------------------------------------------
  void Act() {
    using Step = void (Walk::*)();
    static constexpr struct {
      Step act;
      int weight;
    } kActs[] = {{&Walk::MakeMesh, 8},      {&Walk::MakeMaterial, 4}, {&Walk::MakeShader, 6},
                 {&Walk::MakeTransform, 3}, {&Walk::MakeList, 5},     {&Walk::MakeRing, 4},
                 {&Walk::EditShader, 8},    {&Walk::EditMaterial, 5}, {&Walk::EditPrimitive, 6},
                 {&Walk::EditTransform, 3}, {&Walk::EditView, 5},     {&Walk::SetCurrent, 12},
                 {&Walk::Destroy, 9},       {&Walk::Render, 9},       {&Walk::SaveAndRead, 2},
                 {&Walk::Restart, 1},       {&Walk::ViewStack, 2},    {&Walk::CallbackRender, 5},
                 {&Walk::MakeMap, 2},       {&Walk::ReleaseNow, 3}};
    int total = 0;
    for (const auto &a : kActs) total += a.weight;
    int pick = static_cast<int>(Below(static_cast<size_t>(total)));
    for (const auto &a : kActs) {
      if (pick < a.weight) return (this->*a.act)();
      pick -= a.weight;
    }
  }

  void MakeMesh() {
    static const int32_t kBox[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
    const float x = Between(-1.5, 1.5), y = Between(-1, 1), z = Between(-1.5, 1.5), s = Between(0.1, 1.2);
    std::vector<float> at;
    std::vector<int32_t> counts, faces;
    const size_t shape = Below(3);
    if (shape == 0) {  // a box
      for (int i = 0; i < 8; ++i)
        at.insert(at.end(), {x + ((i & 1) ? s : -s), y + ((i & 2) ? s : -s), z + ((i & 4) ? s : -s)});
      counts.assign(6, 4);
      faces.assign(kBox, kBox + 24);
    } else if (shape == 1) {  // one convex face of 3 to 7 corners
      const int n = 3 + static_cast<int>(Below(5));
      for (int i = 0; i < n; ++i) {
        const double a = 6.283185307 * i / n;
        at.insert(at.end(), {x + s * static_cast<float>(std::cos(a)), y + s * static_cast<float>(std::sin(a)),
                             z + Between(-0.1, 0.1) * s});
        faces.push_back(i);
      }
      counts.push_back(n);
    } else {  // two triangles, apart or crossing
      for (int t = 0; t < 2; ++t) {
        const float dx = t * Between(-0.8, 0.8), dz = t * Between(-0.8, 0.8);
        at.insert(at.end(),
                  {x + dx - s, y - s, z + dz, x + dx + s, y - s, z + dz, x + dx, y + s, z + dz + 0.3f * s});
        faces.insert(faces.end(), {3 * t, 3 * t + 1, 3 * t + 2});
        counts.push_back(3);
      }
    }
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1]{};
    data[0].type = VtGenericPtr;
    data[0].value.p = at.data();
    Call("VoPrimitiveCreateMesh(shape %zu at %.3g %.3g %.3g size %.3g)", shape, x, y, z, s);
    VtPrimitive *p = Made(VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                                faces.data(), 1, ids, data));
    if (p != nullptr) primitives_.push_back({p, ++ids_});
  }

  void MakeMaterial() {
    Call("VoMaterialCreate()");
    if (VtMaterial *m = Made(VoMaterialCreate())) materials_.push_back({m, ++ids_});
  }

  // A class name of the type, from the library's own list.
  const char *ClassOf(uint32_t type) {
    uint32_t count = 0;
    void *names = nullptr;
    if (VoShaderGetPrototypes(type, &count, &names) != 0 || count == 0) return nullptr;
    return static_cast<const char **>(names)[Below(count)];
  }

  void MakeShader() {
    static constexpr uint32_t kTypes[] = {
        VO_SHADER_COLOUR,       VO_SHADER_REFLECTANCE, VO_SHADER_TRANSPARENCY,
        VO_SHADER_DISPLACEMENT, VO_SHADER_LIGHT,       VO_SHADER_LIGHT,
        VO_SHADER_LIGHT,        VO_SHADER_BACKGROUND,  VO_SHADER_FOREGROUND};
    const uint32_t type = kTypes[Below(std::size(kTypes))];
    const char *name = ClassOf(type);
    if (name == nullptr) return Finding("a shader type lists no class");
    Call("VoShaderCreate(0x%x, \"%s\")", type, name);
    if (VtShader *s = Made(VoShaderCreate(type, name))) shaders_.push_back({s, type, ++ids_});
  }

  void MakeTransform() {
    Call("VoTransformCreate()");
    if (VtTransform *t = Made(VoTransformCreate())) transforms_.push_back({t, ++ids_});
  }

  // A texture or an environment cube (made global at times) from a picture
  // of random bytes, which the library copies.
  void MakeMap() {
    const bool cube = Chance(0.4);
    Call("VoImageCreate(%d x %d)", cube ? 4 : 8, cube ? 4 : 8);
    VtImage *image = Made(VoImageCreate());
    if (image == nullptr) return;
    image->width = image->height = cube ? 4 : 8;
    if (!Expect(VoImageAllocateData(image), 0)) return;
    for (int32_t i = 0; i < image->height * image->bytes_per_row; ++i)
      image->data[i] = static_cast<uint8_t>(Below(256));
    VtImage *faces[6] = {image, image, image, image, image, image};
    VtTexture *tex = nullptr;
    VtEnvironment *e = nullptr;
    if (!cube) {
      Call("VoTextureCreate(8 x 8, 3)");
      tex = Made(VoTextureCreate(image, 3));
    } else {
      Call("VoEnvironmentCreateCube(4 x 4)");
      e = Made(VoEnvironmentCreateCube(faces));
    }
    Call("VoImageDestroy");
    Expect(VoImageDestroy(image), 0);
    if (tex != nullptr) textures_.push_back({tex, ++ids_});
    if (e == nullptr) return;
    environments_.push_back({e, ++ids_});
    if (Chance(0.5)) {
      Call("VoEnvironmentSet(e%d)", ids_);
      Expect(VoEnvironmentSet(e), 0);
    }
  }

  void MakeList() {
    if (primitives_.empty()) return;
    std::vector<VtPrimitive *> members;
    for (size_t n = 1 + Below(std::min<size_t>(primitives_.size(), 6)); members.size() < n;) {
      VtPrimitive *p = Pick(primitives_).h;
      if (std::find(members.begin(), members.end(), p) == members.end()) members.push_back(p);
    }
    Call("VoPrimitiveListCreate(%zu primitives)", members.size());
    if (VtReference *l = Made(VoPrimitiveListCreate(static_cast<uint32_t>(members.size()), members.data())))
      lists_.push_back({l, members, false, ++ids_});
  }

  void MakeRing() {
    std::vector<const Shader *> lights;
    for (const Shader &s : shaders_)
      if (s.type == VO_SHADER_LIGHT && lights.size() < 4 && Chance(0.6)) lights.push_back(&s);
    if (lights.empty()) return;
    VtReference *ring = nullptr;
    std::vector<int> ids;
    for (const Shader *l : lights) {
      ids.push_back(l->id);
      Call("VoShaderReferenceCreate(light)");
      VtReference *node = Made(VoShaderReferenceCreate(l->h));
      if (node == nullptr) return;
      Call("VoShaderReferenceAppend");
      ring = ring == nullptr ? node : VoShaderReferenceAppend(ring, node);
      Answer(0);
    }
    rings_.push_back({ring, ids, ++ids_});
  }

  // Sets an argument the shader has, of the type the walk knows, to a value
  // near the one it holds.
  void SetArg(VtShader *shader, int id) {
    const Label *label = nullptr;
    VtTypedValue v{};
    for (int tries = 0; tries < 8 && label == nullptr; ++tries) {
      const Label &l = kLabels[Below(std::size(kLabels))];
      if (VoShaderGetArg(shader, l.name, &v) == 0 && v.type == l.type) label = &l;
    }
    if (label == nullptr) return;
    switch (v.type) {
      case VtFloat: v.value.f = std::max(v.value.f, 0.05f) * Between(0.5, 1.5); break;
      case VtBoolean: v.value.u = Chance(0.5); break;
      case VtInt32: v.value.i = std::max(1, v.value.i + static_cast<int32_t>(Below(3)) - 1); break;
      case VtColourType:
        for (int i = 0; i < 3; ++i) v.value.v[i] = Between(0, 1);
        break;
      default:
        for (int i = 0; i < 3; ++i) v.value.v[i] = Between(-3, 3);
        if (v.type == VtVector && std::fabs(v.value.v[1]) < 0.1f) v.value.v[1] = 1;
        break;
    }
    Call("VoShaderSetArg(s%d, \"%s\")", id, label->name);
    Expect(VoShaderSetArg(shader, label->name, &v), 0);
  }

  void EditShader() {
    if (!shaders_.empty()) {
      const Shader &s = Pick(shaders_);
      SetArg(s.h, s.id);
    }
  }

  void EditMaterial() {
    if (materials_.empty()) return;
    const Held<VtMaterial> &m = Pick(materials_);
    const uint32_t type = kMaterialTypes[Below(std::size(kMaterialTypes))];
    switch (Below(3)) {
      case 0: {
        const char *name = ClassOf(type);
        Call("VoMaterialSetShaderByPrototype(m%d, 0x%x, \"%s\")", m.id, type, name);
        Expect(VoMaterialSetShaderByPrototype(m.h, type, name), 0);
        break;
      }
      case 1: {  // a shader the walk holds, of a material's type
        std::vector<Shader *> fit;
        for (Shader &s : shaders_)
          if (s.type == type) fit.push_back(&s);
        if (fit.empty()) return;
        const Shader &s = *Pick(fit);
        Call("VoMaterialSetShader(m%d, s%d)", m.id, s.id);
        Expect(VoMaterialSetShader(m.h, s.h), 0);
        break;
      }
      default: {  // an argument of the shader the material holds
        Call("VoMaterialGetShader(m%d, 0x%x)", m.id, type);
        VtShader *s = VoMaterialGetShader(m.h, type);
        Answer(0);
        if (s != nullptr) SetArg(s, -m.id);
      }
    }
  }

  void EditPrimitive() {
    if (primitives_.empty()) return;
    const Held<VtPrimitive> &p = Pick(primitives_);
    switch (Below(6)) {
      case 0:
        if (materials_.empty()) return;
        Call("VoPrimitiveSetMaterial(p%d, m%d)", p.id, Pick(materials_).id);
        Expect(VoPrimitiveSetMaterial(p.h, materials_[last_].h), 0);
        break;
      case 1:
        if (transforms_.empty()) return;
        Call("VoPrimitiveSetTransform(p%d, t%d)", p.id, Pick(transforms_).id);
        Expect(VoPrimitiveSetTransform(p.h, transforms_[last_].h), 0);
        break;
      case 2:
        Call("VoPrimitiveSetSidedness(p%d)", p.id);
        Expect(VoPrimitiveSetSidedness(p.h, Chance(0.5)), 0);
        break;
      case 3:
        Call("VoPrimitiveSetShadowCasting(p%d)", p.id);
        Expect(VoPrimitiveSetShadowCasting(p.h, Chance(0.5)), 0);
        break;
      case 4:
        Call("VoPrimitiveTriangulate(p%d)", p.id);
        Answer(VoPrimitiveTriangulate(p.h));
        break;
      default: {
        Call("VoPrimitiveCopy(p%d)", p.id);
        if (VtPrimitive *c = Made(VoPrimitiveCopy(p.h, nullptr))) primitives_.push_back({c, ++ids_});
      }
    }
  }

  void EditTransform() {
    if (transforms_.empty()) return;
    const Held<VtTransform> &t = Pick(transforms_);
    const double offset[3] = {Between(-1, 1), Between(-1, 1), Between(-1, 1)}, axis[3] = {0, 1, 0};
    if (Chance(0.5)) {
      Call("VoTransformTranslate(t%d)", t.id);
      Expect(VoTransformTranslate(t.h, offset), 0);
    } else {
      Call("VoTransformRotateAxis(t%d)", t.id);
      Expect(VoTransformRotateAxis(t.h, offset, axis, Between(-90, 90)), 0);
    }
  }

  void EditView() {
    // v0 names the current view.
    VtView *view = views_.empty() || Chance(0.6) ? nullptr : Pick(views_).h;
    const int id = view != nullptr ? views_[last_].id : 0;
    switch (Below(4)) {
      case 0:
        Call("VoViewSetResolution(v%d)", id);
        Answer(VoViewSetResolution(view, 8 + static_cast<uint32_t>(Below(57)),
                                   8 + static_cast<uint32_t>(Below(41)), 1.0));
        break;
      case 1: {
        const float eye[3] = {Between(-6, 6), Between(-3, 5), Between(3, 8)},
                    reference[3] = {Between(-1, 1), Between(-1, 1), Between(-1, 1)}, up[3] = {0, 1, 0};
        const int32_t projection = Chance(0.8) ? VO_PROJECTION_PERSPECTIVE : VO_PROJECTION_PARALLEL;
        Call("VoViewSetPinhole(v%d, eye %.4g %.4g %.4g, reference %.4g %.4g %.4g, projection %d)", id, eye[0],
             eye[1], eye[2], reference[0], reference[1], reference[2], projection);
        Answer(VoViewSetPinhole(view, eye, reference, up, projection, Between(20, 80)));
        break;
      }
      case 2:
        Call("VoViewSetClipping(v%d)", id);
        Answer(VoViewSetClipping(view, Between(0.05, 1), Between(15, 100)));
        break;
      default: Call("VoViewAutoClipping(v%d)", id); Answer(VoViewAutoClipping(view));
    }
  }

  void ViewStack() {
    switch (Below(5)) {
      case 4: {  // the current view and stacked ones may be refused
        if (views_.empty()) return;
        const size_t i = Below(views_.size());
        Call("VoViewDestroy(v%d)", views_[i].id);
        if (Answer(VoViewDestroy(views_[i].h)) == 0) views_.erase(views_.begin() + i);
        break;
      }
      case 0:
        Call("VoViewCreate()");
        if (VtView *v = Made(VoViewCreate())) {
          views_.push_back({v, ++ids_});
          Call("VoViewSetResolution(v%d, 32 x 24)", ids_);
          Expect(VoViewSetResolution(v, 32, 24, 1.0), 0);
        }
        break;
      case 1:
        if (views_.empty()) return;
        Call("VoViewSet(v%d)", Pick(views_).id);
        Answer(VoViewSet(views_[last_].h));
        break;
      case 2:
        Call("VoViewPush()");
        Answer(VoViewPush() != nullptr ? 0 : 2);
        break;
      default: Call("VoViewPop()"); Answer(VoViewPop());
    }
  }

  void SetCurrent() {
    switch (Below(4)) {
      case 0:
        if (lists_.empty() || Chance(0.1)) {
          Call("VoPrimitiveListSet(null)");
          Expect(VoPrimitiveListSet(nullptr), 0);
          current_list_ = nullptr;
        } else {
          const List &l = Pick(lists_);
          Call("VoPrimitiveListSet(l%d)", l.id);
          if (Expect(VoPrimitiveListSet(l.h), 0)) current_list_ = l.h;
        }
        break;
      case 1: {
        std::vector<Ring *> settable;
        for (Ring &r : rings_)
          if (Settable(r)) settable.push_back(&r);
        if (settable.empty() || Chance(0.1)) {
          Call("VoLightListSet(null)");
          Expect(VoLightListSet(nullptr), 0);
          current_ring_ = nullptr;
        } else {
          const Ring &r = *Pick(settable);
          Call("VoLightListSet(r%d)", r.id);
          if (Expect(VoLightListSet(r.h), 0)) current_ring_ = r.h;
        }
        break;
      }
      case 2: Backdrop(); break;
      default: {
        if (buffers_.empty() || Chance(0.2)) {
          Call("VoScreenBufferCreate()");
          VtScreenBuffer *b = Made(VoScreenBufferCreate());
          if (b == nullptr) return;
          buffers_.push_back({b, ++ids_});
          VtTypedValue v{};
          v.type = VtNat32;
          v.value.u = 8 + static_cast<uint32_t>(Below(57));
          Call("VoScreenBufferSetControl(b%d, width %u)", ids_, v.value.u);
          Expect(VoScreenBufferSetControl(b, VO_SB_WIDTH, &v), 0);
          v.value.u = 8 + static_cast<uint32_t>(Below(41));
          Call("VoScreenBufferSetControl(b%d, height %u)", ids_, v.value.u);
          Expect(VoScreenBufferSetControl(b, VO_SB_HEIGHT, &v), 0);
          Call("VoScreenBufferAllocateData(b%d)", ids_);
          Expect(VoScreenBufferAllocateData(b, VO_SB_COLOUR), 0);
        }
        const bool none = Chance(0.4);
        Call("VoScreenBufferSet(%s)", none ? "null" : "a buffer");
        current_buffer_ = none ? nullptr : Pick(buffers_).h;
        Expect(VoScreenBufferSet(current_buffer_), 0);
      }
    }
  }

  // A background or foreground made current (or none): the one it replaces
  // may be the scene's last hold on it.
  void Backdrop() {
    const uint32_t type = Chance(0.5) ? VO_SHADER_BACKGROUND : VO_SHADER_FOREGROUND;
    std::vector<Shader *> fit;
    for (Shader &s : shaders_)
      if (s.type == type) fit.push_back(&s);
    Shader *s = fit.empty() || Chance(0.15) ? nullptr : Pick(fit);
    Call("Vo%sSet(s%d)", type == VO_SHADER_BACKGROUND ? "Background" : "Foreground", s ? s->id : 0);
    VtShader *h = s ? s->h : nullptr;
    Expect(type == VO_SHADER_BACKGROUND ? VoBackgroundSet(h) : VoForegroundSet(h), 0);
  }

  // The walk's hold on a shader no light list of its holds, which others may
  // keep (a material, the scene's background).
  void ShaderRelease() {
    if (shaders_.empty()) return;
    const size_t i = Below(shaders_.size());
    if (InARing(shaders_[i])) return;
    Call("VoShaderDestroy(s%d)", shaders_[i].id);
    if (Expect(VoShaderDestroy(shaders_[i].h), 0)) shaders_.erase(shaders_.begin() + i);
  }

  // A ring may be made current while every light in it is one the walk
  // holds (or it is current already, its list holding them).
  bool Settable(const Ring &r) const {
    if (r.h == current_ring_) return true;
    for (int l : r.lights)
      if (std::none_of(shaders_.begin(), shaders_.end(), [l](const Shader &s) { return s.id == l; }))
        return false;
    return true;
  }

  bool InAList(VtPrimitive *p) const {
    return std::any_of(lists_.begin(), lists_.end(), [p](const List &l) {
      return std::find(l.members.begin(), l.members.end(), p) != l.members.end();
    });
  }

  bool InARing(const Shader &s) const {
    return std::any_of(rings_.begin(), rings_.end(), [&s, this](const Ring &r) {
      return r.h != current_ring_ && std::find(r.lights.begin(), r.lights.end(), s.id) != r.lights.end();
    });
  }

  void Destroy() {
    switch (Below(6)) {
      case 0: {  // a primitive no list holds
        if (primitives_.empty()) return;
        const size_t i = Below(primitives_.size());
        if (InAList(primitives_[i].h)) return;
        Call("VoPrimitiveDestroy(p%d)", primitives_[i].id);
        if (Expect(VoPrimitiveDestroy(primitives_[i].h), 0)) primitives_.erase(primitives_.begin() + i);
        break;
      }
      case 1: {  // a material no primitive uses
        if (materials_.empty()) return;
        const size_t i = Below(materials_.size());
        for (const auto &p : primitives_)
          if (VoPrimitiveGetMaterial(p.h) == materials_[i].h) return;
        Call("VoMaterialDestroy(m%d)", materials_[i].id);
        if (Expect(VoMaterialDestroy(materials_[i].h), 0)) materials_.erase(materials_.begin() + i);
        break;
      }
      case 2: ShaderRelease(); break;
      case 3: {
        if (transforms_.empty()) return;
        const size_t i = Below(transforms_.size());
        Call("VoTransformDestroy(t%d)", transforms_[i].id);
        if (Expect(VoTransformDestroy(transforms_[i].h), 0)) transforms_.erase(transforms_.begin() + i);
        break;
      }
      case 4: {  // a list, with its members when no other list holds them
        if (lists_.empty()) return;
        const size_t i = Below(lists_.size());
        List l = lists_[i];
        lists_.erase(lists_.begin() + i);
        bool with = l.read || Chance(0.5);
        for (VtPrimitive *p : l.members) with = with && !InAList(p);
        Call("VoPrimitiveReferenceDestroy(l%d, %d)%s", l.id, with,
             l.h == current_list_ ? ", the current list" : "");
        // The current list may be refused; any other is given back.
        const VtStatus st = VoPrimitiveReferenceDestroy(l.h, with);
        if (l.h == current_list_ ? Answer(st) != 0 : !Expect(st, 0)) return lists_.push_back(l);
        if (with)
          for (VtPrimitive *p : l.members)
            primitives_.erase(std::remove_if(primitives_.begin(), primitives_.end(),
                                             [p](const Held<VtPrimitive> &q) { return q.h == p; }),
                              primitives_.end());
        break;
      }
      default: {  // a light list not current
        if (rings_.empty()) return;
        const size_t i = Below(rings_.size());
        if (rings_[i].h == current_ring_) return;
        Call("VoShaderReferenceDestroy(r%d, 0)", rings_[i].id);
        if (Expect(VoShaderReferenceDestroy(rings_[i].h, 0), 0))
          rings_.erase(rings_.begin() + i);
        else
          rings_.erase(rings_.begin() + i);  // the walk no longer trusts it
      }
    }
  }

  // ---- releases from a callback, and the same handles given back again --
  enum class Kind { kShader, kPrimitive, kList, kRing, kBuffer, kTexture, kEnvironment };
  struct GivenBack {
    Kind kind;
    void *h;
    int id;
    bool again = false;  // given back again once the render ended (or at once, with none)
  };
  static constexpr const char *kKindNames[] = {
      "VoShaderDestroy",          "VoPrimitiveDestroy",    "VoPrimitiveReferenceDestroy",
      "VoShaderReferenceDestroy", "VoScreenBufferDestroy", "VoTextureDestroy",
      "VoEnvironmentDestroy"};

  // Removes the walk's record of the handle and notes it given back.
  template <typename V>
  void GiveBack(V &held, size_t i, Kind kind) {
    given_back_.push_back({kind, held[i].h, held[i].id, false});
    held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
  }

  // One object of a kind the walk holds and the running render does not
  // start from, given back: the render keeps reading what it read, and the
  // handle is refused from now on.
  void Release() {
    switch (Below(6)) {
      case 0: {  // a primitive list not current nor the running render's, its members kept
        std::vector<size_t> fit;
        for (size_t i = 0; i < lists_.size(); ++i)
          if (lists_[i].h != current_list_ && lists_[i].h != rendering_list_) fit.push_back(i);
        if (fit.empty()) return;
        const size_t i = fit[Below(fit.size())];
        Call("VoPrimitiveReferenceDestroy(l%d, 0)", lists_[i].id);
        if (Expect(VoPrimitiveReferenceDestroy(lists_[i].h, 0), 0)) GiveBack(lists_, i, Kind::kList);
        break;
      }
      case 1: {  // a light list not current, with the walk's hold on each of its lights
        std::vector<size_t> fit;
        for (size_t i = 0; i < rings_.size(); ++i)
          if (rings_[i].h != current_ring_ && !rings_[i].lights.empty() && Settable(rings_[i]))
            fit.push_back(i);
        if (fit.empty()) return;
        const size_t i = fit[Below(fit.size())];
        Ring r = rings_[i];
        // A light another ring of the walk's names stays the walk's.
        for (int l : r.lights)
          for (size_t j = 0; j < rings_.size(); ++j)
            if (j != i && rings_[j].h != current_ring_ &&
                std::find(rings_[j].lights.begin(), rings_[j].lights.end(), l) != rings_[j].lights.end())
              return;
        Call("VoShaderReferenceDestroy(r%d, 1)", r.id);
        if (!Expect(VoShaderReferenceDestroy(r.h, 1), 0)) return;
        GiveBack(rings_, i, Kind::kRing);
        for (int l : r.lights) {
          auto s = std::find_if(shaders_.begin(), shaders_.end(), [l](const Shader &x) { return x.id == l; });
          if (s != shaders_.end())
            GiveBack(shaders_, static_cast<size_t>(s - shaders_.begin()), Kind::kShader);
        }
        break;
      }
      case 2: {  // a screen buffer neither current nor the running render's target
        std::vector<size_t> fit;
        for (size_t i = 0; i < buffers_.size(); ++i)
          if (buffers_[i].h != current_buffer_ && buffers_[i].h != rendering_buffer_) fit.push_back(i);
        if (fit.empty()) return;
        const size_t i = fit[Below(fit.size())];
        Call("VoScreenBufferDestroy(b%d)", buffers_[i].id);
        if (Expect(VoScreenBufferDestroy(buffers_[i].h), 0)) GiveBack(buffers_, i, Kind::kBuffer);
        break;
      }
      case 3: {
        if (textures_.empty()) return;
        const size_t i = Below(textures_.size());
        Call("VoTextureDestroy(x%d)", textures_[i].id);
        if (Expect(VoTextureDestroy(textures_[i].h), 0)) GiveBack(textures_, i, Kind::kTexture);
        break;
      }
      case 4: {  // the global one among them
        if (environments_.empty()) return;
        const size_t i = Below(environments_.size());
        Call("VoEnvironmentDestroy(e%d)", environments_[i].id);
        if (Expect(VoEnvironmentDestroy(environments_[i].h), 0))
          GiveBack(environments_, i, Kind::kEnvironment);
        break;
      }
      default: {  // a primitive no list holds, or the walk's hold on a shader
        if (Chance(0.5)) {
          const std::vector<Shader> before = shaders_;
          ShaderRelease();
          for (const Shader &s : before)
            if (std::none_of(shaders_.begin(), shaders_.end(),
                             [&s](const Shader &x) { return x.id == s.id; }))
              given_back_.push_back({Kind::kShader, s.h, s.id, false});
          return;
        }
        if (primitives_.empty()) return;
        const size_t i = Below(primitives_.size());
        if (InAList(primitives_[i].h)) return;
        Call("VoPrimitiveDestroy(p%d)", primitives_[i].id);
        if (Expect(VoPrimitiveDestroy(primitives_[i].h), 0)) GiveBack(primitives_, i, Kind::kPrimitive);
      }
    }
  }

  // Every handle given back not yet given back again, given back again.
  void AgainNow() {
    for (GivenBack &g : given_back_)
      if (!g.again) {
        g.again = true;
        GivenBackAgain(&g);
      }
  }

  // Releases made with no render running, each given back again at once.
  void ReleaseNow() {
    Release();
    AgainNow();
    given_back_.clear();
  }

  // A handle given back, destroyed again: the library refuses it whether
  // the render that saw it go still runs or has ended.
  void GivenBackAgain(const GivenBack *g) {
    if (g == nullptr) return;
    ++again_calls_;
    Call("%s(#%d) again", kKindNames[static_cast<int>(g->kind)], g->id);
    VtStatus st = 0;
    switch (g->kind) {
      case Kind::kShader: st = VoShaderDestroy(static_cast<VtShader *>(g->h)); break;
      case Kind::kPrimitive: st = VoPrimitiveDestroy(static_cast<VtPrimitive *>(g->h)); break;
      case Kind::kList: st = VoPrimitiveReferenceDestroy(static_cast<VtReference *>(g->h), 0); break;
      case Kind::kRing: st = VoShaderReferenceDestroy(static_cast<VtReference *>(g->h), 1); break;
      case Kind::kBuffer: st = VoScreenBufferDestroy(static_cast<VtScreenBuffer *>(g->h)); break;
      case Kind::kTexture: st = VoTextureDestroy(static_cast<VtTexture *>(g->h)); break;
      case Kind::kEnvironment: st = VoEnvironmentDestroy(static_cast<VtEnvironment *>(g->h)); break;
    }
    if (Answer(st) == 0) Finding("a handle given back was taken again");
  }

  VtStatus Workers(int32_t n) {
    VtTypedValue v{};
    v.type = VtInt32;
    v.value.i = n;
    return VoControlSet(VO_CONTROL_MT_WORKERS, &v);
  }

  VtStatus Pointer(uint32_t control, void *p) {
    VtTypedValue v{};
    v.type = VtGenericPtr;
    v.value.p = p;
    return VoControlSet(control, &v);
  }

  // ---- renders whose progress callback makes calls of its own -----------
  // The walk whose render's callback acts, its plan: at which report, how
  // many calls; the reports counted.
  static inline Walk *calling_ = nullptr;
  const char *calling_from_ = "";  // what each call's text begins with
  struct Plan {
    int trigger, calls, reports;
  };
  Plan plan_{};

  static VtStatus OnProgress(uint32_t, VtTypedValue *) {
    Walk *w = calling_;
    if (w == nullptr || ++w->plan_.reports != w->plan_.trigger || w->o_.calls_after) return 0;
    calling_ = nullptr;  // renders started here act on nothing
    for (int i = 0; i < w->plan_.calls && w->p_->finding[0] == 0; ++i) w->FromCallback();
    calling_ = w;
    return 0;
  }

  // One call of the callback table; what it sets is the walk's current.
  void FromCallback() {
    calling_from_ = "from the callback: ";
    FromCallbackOne();
    calling_from_ = "";
  }
  void FromCallbackOne() {
    switch (Below(14)) {
      case 11:
      case 12:
        // The twin, whose calls come after the render, gives the handle
        // back again at once: nothing made since may have its record.
        Release();
        if (o_.calls_after) AgainNow();
        break;
      case 13: {
        const GivenBack *g = given_back_.empty() ? nullptr : &Pick(given_back_);
        if (!o_.calls_after) GivenBackAgain(g);
        break;
      }
      case 0: {
        const List *l = lists_.empty() || Chance(0.1) ? nullptr : &Pick(lists_);
        Call("VoPrimitiveListSet(l%d)", l != nullptr ? l->id : 0);
        if (Expect(VoPrimitiveListSet(l != nullptr ? l->h : nullptr), 0))
          current_list_ = l != nullptr ? l->h : nullptr;
        break;
      }
      case 1: {  // the lists it replaces may hold a light's last reference
        std::vector<Ring *> settable;
        for (Ring &r : rings_)
          if (Settable(r)) settable.push_back(&r);
        const Ring *r = settable.empty() || Chance(0.2) ? nullptr : Pick(settable);
        Call("VoLightListSet(r%d)", r != nullptr ? r->id : 0);
        if (Expect(VoLightListSet(r != nullptr ? r->h : nullptr), 0))
          current_ring_ = r != nullptr ? r->h : nullptr;
        break;
      }
      // Releases and edits of what the running render reads: it keeps what
      // it prepared, and the next render sees the change.
      case 6: Backdrop(); break;
      case 7: ShaderRelease(); break;
      case 8: EditMaterial(); break;
      case 9: EditShader(); break;
      case 2:
        Call("VoViewSetResolution(current)");
        Answer(VoViewSetResolution(nullptr, 8 + static_cast<uint32_t>(Below(41)),
                                   8 + static_cast<uint32_t>(Below(31)), 1.0));
        break;
      case 3: {
        const float eye[3] = {Between(-6, 6), Between(-3, 5), Between(3, 8)}, reference[3] = {0, 0, 0},
                    up[3] = {0, 1, 0};
        Call("VoViewSetPinhole(current, eye %.4g %.4g %.4g)", eye[0], eye[1], eye[2]);
        Answer(VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, Between(30, 70)));
        break;
      }
      case 4: {  // into the image driver, the driver current before put back
        static constexpr uint32_t kInner[] = {0xc0001, 0x200001, 0x70001};
        const uint32_t code = kInner[Below(std::size(kInner))];
        Call("VoExecute(0x%x) into an image", code);
        VtImage *image = Made(VoImageCreate());
        if (image == nullptr) return;
        image->width = 24, image->height = 16;
        VtDriverRecord *was = VoDriverGet();
        VtStatus st = VoImageAllocateData(image) | VoDriverSet(VoDriverFindFromName("vodrvimg")) |
                      Pointer(VO_CONTROL_DRIVER_IMAGE, image) | VoScreenBufferSet(nullptr);
        st |= VoExecute(code);
        Pointer(VO_CONTROL_DRIVER_IMAGE, nullptr);
        Answer(st | VoDriverSet(was) | VoScreenBufferSet(current_buffer_) | VoImageDestroy(image));
        break;
      }
      default: {  // into the outer render's driver (a screen buffer's rows are the application's to keep
                  // apart)
        if (current_buffer_ != nullptr) return;
        const uint32_t code = Chance(0.5) ? 0xc0001 : 0x70001;
        Call("VoExecute(0x%x)", code);
        Answer(VoExecute(code));
      }
    }
  }

  void CallbackRender() {
    static constexpr uint32_t kOuter[] = {0xc0001, 0x200001, 0x70001, 0x190001, 0x600004};
    plan_ = Plan{1 + static_cast<int>(Chance(0.5) ? 0 : Below(12)), 1 + static_cast<int>(Below(3)), 0};
    Call("VoCallBackSet(progress: %d calls at report %d)", plan_.calls, plan_.trigger);
    Expect(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&OnProgress)), 0);
    calling_ = this;
    // On the calling thread alone: the workers of a threaded pass read the
    // application's view as they start their bands (the forked callback
    // table runs these renders at 4 workers).
    rendering_list_ = current_list_;
    rendering_buffer_ = current_buffer_;
    RenderOf(kOuter[Below(std::size(kOuter))], true);
    calling_ = nullptr;
    Call("VoCallBackSet(progress, null)");
    Expect(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0);
    const uint32_t index = p_->renders;
    bool acted = plan_.reports >= plan_.trigger;
    if (o_.calls_after) {
      acted = o_.acted != nullptr && index < o_.acted->size() && (*o_.acted)[index] != 0;
      for (int i = 0; acted && i < plan_.calls && p_->finding[0] == 0; ++i) FromCallback();
    }
    // Kept until the twin's calls are made: both twins pass over the same
    // list and buffer, and draw the same choices.
    rendering_list_ = nullptr;
    rendering_buffer_ = nullptr;
    if (index < kChecksMost) p_->acted[p_->renders++] = acted ? 1 : 0;
    // Every handle given back is refused again now the render has ended,
    // before anything new could take its record.
    AgainNow();
    given_back_.clear();
    if (p_->finding[0] != 0) return;
    // What the callback set stays set, and nothing else sets it.
    Call("VoPrimitiveListGet, VoLightListGet");
    if (Answer(VoPrimitiveListGet() != current_list_ ? 1 : 0) != 0)
      Finding("the current primitive list is not the one last set");
    else if (Answer(VoLightListGet() != current_ring_ ? 1 : 0) != 0)
      Finding("the current light list is not the one last set");
    else
      CheckPicture();
  }

  // The picture the twins compare: the flat class on the calling thread,
  // with no shader shadows (the scanline classes step a jitter cursor
  // through a map at every lookup), into an image of the view's size; its
  // status and bytes as one digest.
  void CheckPicture() {
    if (p_->checks >= kChecksMost) return;
    uint32_t x = 0, y = 0;
    double aspect = 0;
    uint32_t viewport[4] = {};
    double hither = 0, yon = 0;
    (void)VoViewGetResolution(nullptr, &x, &y, &aspect);
    (void)VoViewGetViewport(nullptr, viewport);
    (void)VoViewGetClipping(nullptr, &hither, &yon);
    Call(
        "a picture to compare: VoExecute(0xc0001) into an image, no shadows (view %u x %u, viewport %u %u "
        "%u %u, clipping %.4g %.4g)",
        x, y, viewport[0], viewport[1], viewport[2], viewport[3], hither, yon);
    VtImage *image = Made(VoImageCreate());
    if (image == nullptr) return;
    image->width = static_cast<int32_t>(std::max(x, 1u));
    image->height = static_cast<int32_t>(std::max(y, 1u));
    VtDriverRecord *was = VoDriverGet();
    VtTypedValue shadows{};
    (void)VoControlGet(VO_CONTROL_SHADER_SHADOWS, &shadows);
    VtTypedValue off = shadows;
    off.value.u = 0;
    VtStatus st = VoImageAllocateData(image);
    // A refused render writes nothing: no byte is left as it came.
    const size_t bytes =
        static_cast<size_t>(std::max(image->bytes_per_row, 3 * image->width)) * image->height;
    if (image->data != nullptr) std::memset(image->data, 0, bytes);
    st |= VoDriverSet(VoDriverFindFromName("vodrvimg")) | Pointer(VO_CONTROL_DRIVER_IMAGE, image) |
          VoScreenBufferSet(nullptr) | Workers(0) | VoControlSet(VO_CONTROL_SHADER_SHADOWS, &off);
    const VtStatus rendered = Answer(VoExecute(0xc0001));
    Call("the picture's digest and clean-up");
    uint64_t digest = 1469598103934665603ull ^ rendered;
    if (image->data != nullptr) digest = vo::test::FnvMix(digest, image->data, bytes);
    p_->statuses[p_->checks] = rendered;
    p_->digests[p_->checks++] = digest;
    if (o_.trace) std::printf(" [digest %016llx]", static_cast<unsigned long long>(digest));
    st |= VoControlSet(VO_CONTROL_SHADER_SHADOWS, &shadows) | Pointer(VO_CONTROL_DRIVER_IMAGE, nullptr) |
          VoDriverSet(was) | VoScreenBufferSet(current_buffer_) | VoImageDestroy(image);
    Expect(st, 0);
  }

  // A render of a class at a worker count into the current target, an
  // image, or a file of a file driver.
  void Render() { RenderOf(kRenderCodes[Below(std::size(kRenderCodes))]); }
  void RenderOf(uint32_t code, bool one_thread = false) {
    const auto workers = static_cast<int32_t>(Below(6)) * (one_thread ? 0 : 1);
    Call("workers %d", workers);
    Expect(Workers(workers), 0);
    if (code == 0x440004) {
      VtTypedValue v{};
      v.type = VtEnum;
      v.value.u = kRenderCodes[Below(5)];
      Call("VoControlSet(render code 0x%x)", v.value.u);
      Answer(VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v));
    }
    static const char *const kDrivers[] = {"vodrvbmp", "vodrvtga", "vodrvjpg"};
    const size_t target = Below(5);
    VtImage *image = nullptr;
    void *file = nullptr;
    if (target == 1) {
      uint32_t x = 0, y = 0;
      double aspect = 0;
      VoViewGetResolution(nullptr, &x, &y, &aspect);
      Call("VoImageCreate(%u x %u)", x, y);
      image = Made(VoImageCreate());
      if (image == nullptr) return;
      image->width = static_cast<int32_t>(std::max(x, 1u));
      image->height = static_cast<int32_t>(std::max(y, 1u));
      Call("VoImageAllocateData, vodrvimg");
      Expect(VoImageAllocateData(image) | VoDriverSet(VoDriverFindFromName("vodrvimg")) |
                 Pointer(VO_CONTROL_DRIVER_IMAGE, image),
             0);
    } else if (target >= 2) {
      const std::string path = (o_.folder / ("walk" + std::to_string(target))).string();
      Call("VoFileOpen, %s", kDrivers[target - 2]);
      file = VoFileOpen(path.c_str(), VO_FILE_WRITE);
      if (file == nullptr) return Finding("a file could not be opened");
      Expect(VoDriverSet(VoDriverFindFromName(kDrivers[target - 2])) | Pointer(VO_CONTROL_DRIVER_FILE, file),
             0);
    }
    Call("VoExecute(0x%x)", code);
    Answer(VoExecute(code));
    if (image != nullptr) {
      Call("VoDriverSet(vodrvnul), VoImageDestroy");
      Pointer(VO_CONTROL_DRIVER_IMAGE, nullptr);
      Expect(VoDriverSet(VoDriverFindFromName("vodrvnul")) | VoImageDestroy(image), 0);
    }
    if (file != nullptr) {
      Call("VoDriverSet(vodrvnul), VoFileClose");
      Pointer(VO_CONTROL_DRIVER_FILE, nullptr);
      Expect(VoDriverSet(VoDriverFindFromName("vodrvnul")) | VoFileClose(file), 0);
    }
  }

  // The current view, primitive list, light list and background written to
  // an object file and read back, in this session or the next.
  void SaveAndRead() {
    const std::string path = (o_.folder / "walk.vob").string();
    Call("VoFileOpen(write), VoObjectOpen");
    void *file = VoFileOpen(path.c_str(), VO_FILE_WRITE);
    if (file == nullptr) return Finding("a file could not be opened");
    if (!Expect(VoObjectOpen(file, 2), 0)) return;
    VtReference *lights = VoLightListGet();
    VtObjectValue v{};
    const struct {
      uint32_t type;
      void *value;
    } kRecords[] = {{VO_OBJECT_VIEW, VoViewGet()},
                    {VO_OBJECT_PRIMITIVE_LIST, VoPrimitiveListGet()},
                    {VO_OBJECT_SHADER_LIST, &lights},
                    {VO_OBJECT_SHADER, VoBackgroundGet()}};
    for (const auto &r : kRecords) {
      if (r.value == nullptr || (r.type == VO_OBJECT_SHADER_LIST && lights == nullptr)) continue;
      v.type = r.type;
      v.value.p = r.value;
      Call("VoObjectWrite(type %u)", r.type);
      if (!ExpectSaved(VoObjectWrite(file, &v))) return;
    }
    Call("VoObjectClose, VoFileClose");
    if (!ExpectSaved(VoObjectClose(file) | VoFileClose(file))) return;
    if (Chance(0.5)) Restart();
    if (p_->finding[0] != 0) return;
    Call("VoFileOpen(read), VoObjectOpen");
    file = VoFileOpen(path.c_str(), VO_FILE_READ);
    if (file == nullptr) return Finding("the object file could not be opened again");
    if (!Expect(VoObjectOpen(file, 1), 0)) return;
    for (;;) {
      v = VtObjectValue{};
      Call("VoObjectRead");
      if (!ExpectSaved(VoObjectRead(file, &v)) || v.type == VO_OBJECT_END) break;
      if (v.value.p != nullptr) Adopt(v);
    }
    Call("VoObjectClose, VoFileClose");
    ExpectSaved(VoObjectClose(file) | VoFileClose(file));
  }

  // What a read made is the walk's: made current at once, or kept.
  void Adopt(const VtObjectValue &v) {
    switch (v.type) {
      case VO_OBJECT_VIEW: views_.push_back({static_cast<VtView *>(v.value.p), ++ids_}); break;
      case VO_OBJECT_PRIMITIVE_LIST:
        lists_.push_back({static_cast<VtReference *>(v.value.p), {}, true, ++ids_});
        break;
      case VO_OBJECT_SHADER_LIST: {
        VtReference *ring = nullptr;
        std::memcpy(&ring, v.value.p, sizeof ring);
        VoDataObjectGetDeallocator(VO_OBJECT_SHADER_LIST)(v.value.p);
        // The lights the read made stay held until the library stops; the
        // ring is made current at once.
        Call("VoLightListSet(read list)");
        if (Expect(VoLightListSet(ring), 0)) {
          current_ring_ = ring;
          rings_.push_back({ring, {}, ++ids_});
        }
        break;
      }
      default: shaders_.push_back({static_cast<VtShader *>(v.value.p), VO_SHADER_BACKGROUND, ++ids_});
    }
  }

  void Restart() {
    const auto next = static_cast<int32_t>(Uniform() * 2147483647.0);
    Call("VoTerminate()");
    if (!Expect(VoTerminate(), 0)) return;
    const uint32_t again = again_calls_;
    *this = Walk(seed_, o_, p_);
    again_calls_ = again;
    Start(next);
  }

  uint32_t seed_;
  Options o_;
  Progress *p_;
  VtRandomState *random_ = nullptr;
  int ids_ = 0;
  size_t last_ = 0;
  std::vector<Held<VtPrimitive>> primitives_;
  std::vector<Held<VtMaterial>> materials_;
  std::vector<Shader> shaders_;
  std::vector<Held<VtTransform>> transforms_;
  std::vector<Held<VtView>> views_;
  std::vector<Held<VtScreenBuffer>> buffers_;
  std::vector<Held<VtTexture>> textures_;
  std::vector<Held<VtEnvironment>> environments_;
  std::vector<GivenBack> given_back_;      // since the last render with a callback began
  uint32_t again_calls_ = 0;               // the calls that gave a handle back again
  VtReference *rendering_list_ = nullptr;  // what the render whose callback acts started with
  VtScreenBuffer *rendering_buffer_ = nullptr;
  std::vector<List> lists_;
  std::vector<Ring> rings_;
  VtReference *current_list_ = nullptr, *current_ring_ = nullptr;
  VtScreenBuffer *current_buffer_ = nullptr;
};

struct Outcome {
  bool ok;
  uint32_t calls;
  std::string report;             // the seed, call and what went wrong
  std::vector<uint64_t> digests;  // the pictures the twins compare
  std::vector<uint32_t> statuses;
  std::vector<uint8_t> acted;  // whether each render's callback acted
};

// One walk in a child process: its finding, or the signal or exit status it
// ended with and the call it was making.
inline Outcome RunForked(uint32_t seed, const Options &o) {
  auto *p = static_cast<Progress *>(
      mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  if (p == MAP_FAILED) return {false, 0, "no shared memory", {}, {}, {}};
  std::memset(p, 0, sizeof *p);
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    alarm(o.alarm_seconds);
    if (o.calls_after) std::filesystem::create_directories(o.folder);
    Walk walk(seed, o, p);
    const bool ok = walk.Run();
    std::fflush(nullptr);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return {false, 0, "no child process", {}, {}, {}};
  Outcome out{WIFEXITED(status) && WEXITSTATUS(status) == 0, p->calls, "", {}, {}, {}};
  char text[512];
  if (p->finding[0] != 0)
    std::snprintf(text, sizeof text, "%s", p->finding);
  else if (WIFSIGNALED(status))
    std::snprintf(
        text, sizeof text, "seed %u, call %u, %s: %s", seed, p->calls, p->call,
        WTERMSIG(status) == SIGALRM ? "still running at the alarm (a hang)" : strsignal(WTERMSIG(status)));
  else if (!out.ok)
    std::snprintf(text, sizeof text, "seed %u, call %u, %s: exit status %d (a sanitizer's report above)",
                  seed, p->calls, p->call, WEXITSTATUS(status));
  else
    text[0] = 0;
  out.report = text;
  out.digests.assign(p->digests, p->digests + std::min(p->checks, kChecksMost));
  out.acted.assign(p->acted, p->acted + std::min(p->renders, kChecksMost));
  out.statuses.assign(p->statuses, p->statuses + std::min(p->checks, kChecksMost));
  munmap(p, sizeof *p);
  return out;
}

// A walk and its twin, whose progress callbacks' calls are made after
// their renders: a session rebuilt from the walk's own seed, in which no
// call is made from a callback. The pictures drawn after each render whose
// callback acted must match: a change made from a callback is the change
// made after the render.
inline Outcome RunTwins(uint32_t seed, const Options &o) {
  Outcome out = RunForked(seed, o);
  if (!out.ok) return out;
  Options twin = o;
  twin.calls_after = true;
  twin.acted = &out.acted;
  twin.folder = o.folder / "twin";
  const Outcome after = RunForked(seed, twin);
  std::filesystem::remove_all(twin.folder);
  if (!after.ok)
    return {false, out.calls, after.report + " (the twin with the calls after the renders)", {}, {}, {}};
  // A picture whose render either twin's view refused is not compared: a
  // view whose clipping cannot be evaluated keeps the evaluation it had.
  for (size_t i = 0; i < std::min(out.digests.size(), after.digests.size()); ++i)
    if (out.digests[i] != after.digests[i] && out.statuses[i] == 0 && after.statuses[i] == 0) {
      out.ok = false;
      out.report = "seed " + std::to_string(seed) + ": the picture after render " + std::to_string(i + 1) +
                   " whose callback acted differs from its twin's, whose calls came after the render";
      return out;
    }
  if (out.digests.size() != after.digests.size()) {
    out.ok = false;
    out.report = "seed " + std::to_string(seed) + ": the twins drew different numbers of pictures";
  }
  return out;
}

}  // namespace vo_walk

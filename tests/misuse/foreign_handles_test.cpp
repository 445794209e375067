// Every exported procedure that takes an object, called with an object of
// that kind destroyed just before and with live objects of other kinds. The
// calls come from the table of exported procedures built from the interface
// description: for each parameter whose type has a maker below, one call
// per class, each in a process of its own (a fork of the started library),
// so that one crash does not end the sweep. The other arguments are live
// companions, so that a procedure reaches the check of the object tried
// rather than returning on a null beside it: a triangle, its polygon and its
// vertices where a primitive, a polygon or vertices are wanted, and the
// direction (0, 0, 1) repeated in every array of floats read (weights,
// points, normals, colours).
//
// A call passes when it answers a refusal (a status not 0, a null pointer),
// leaves the foreign object's bytes as they were and ends normally; an
// answer of 0 fails it, but for the calls listed as still answering 0; a
// procedure whose refusal is an answer of its own is judged by the
// diagnostic it posts.
// What a procedure answers that is neither a status nor a pointer is
// counted, not judged. The counts are printed per class; set VO_MISUSE_SWEEP_REPORT to a
// file name to have every call's outcome written there.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <vo/vo_api.h>

#include "kernel/vosystem/api_table.h"
#include "scene/vogeom/scene.h"
#include "scene/voview/view.h"

namespace {

using vo::api::kFunctionCount;
using vo::api::kFunctions;
using vo::api::VtApiFunction;
using vo::api::VtApiParam;

// ---- Objects of each kind ---------------------------------------------------

VtImage *ImageWithPixels() {
  VtImage *image = VoImageCreate();
  if (image == nullptr) return nullptr;
  image->width = image->height = 4;
  image->bits = 24;
  if (VoImageAllocateData(image) != 0) return nullptr;
  return image;
}

int g_listed[2];

// The live companions, made before the sweep forks.
struct Companions {
  VtPrimitive *triangle = nullptr;
  VtPolygon *polygon = nullptr;
  VtVertex *vertices[3] = {};
};
Companions g_companions;

void *PointerProperty(VtPrimitive *p, VtPolygon *polygon, uint32_t code) {
  VtTypedValue v{};
  const VtStatus s =
      polygon != nullptr ? VoPolygonGetProperty(p, polygon, code, &v) : VoPrimitiveGetProperty(p, code, &v);
  return s == 0 && v.value.p != nullptr ? *static_cast<void *const *>(v.value.p) : nullptr;
}

bool CompanionsMake() {
  Companions &c = g_companions;
  const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1]{};
  data[0].type = VtGenericPtr;
  data[0].value.p = const_cast<float *>(corners);
  c.triangle = VoPrimitiveCreatePolygon(3, 1, ids, data);
  if (c.triangle == nullptr) return false;
  c.polygon = static_cast<VtPolygon *>(PointerProperty(c.triangle, nullptr, VO_PRIM_POLYS));
  auto *ring = static_cast<VtReference *>(PointerProperty(c.triangle, c.polygon, VO_POLY_VREFS));
  for (VtVertex *&v : c.vertices) {
    if (ring == nullptr) return false;
    v = static_cast<VtVertex *>(ring->data);
    ring = ring->next;
  }
  return c.polygon != nullptr;
}

VtEnvironment *EnvironmentOfSixImages() {
  VtImage *images[6] = {};
  for (VtImage *&image : images) image = ImageWithPixels();
  VtEnvironment *e = VoEnvironmentCreateCube(images);
  for (VtImage *image : images) (void)VoImageDestroy(image);
  return e;
}

struct Maker {
  const char *type;
  void *(*make)();
  void (*destroy)(void *);
};

template <class T>
T *As(void *p) {
  return static_cast<T *>(p);
}

const Maker kMakers[] = {
    {"VtTransform", [] { return static_cast<void *>(VoTransformCreate()); },
     [](void *p) { (void)VoTransformDestroy(As<VtTransform>(p)); }},
    {"VtShader", [] { return static_cast<void *>(VoShaderCreate(VO_SHADER_COLOUR, "plain")); },
     [](void *p) { (void)VoShaderDestroy(As<VtShader>(p)); }},
    {"VtMaterial", [] { return static_cast<void *>(VoMaterialCreate()); },
     [](void *p) { (void)VoMaterialDestroy(As<VtMaterial>(p)); }},
    {"VtView", [] { return static_cast<void *>(VoViewCreate()); },
     [](void *p) { (void)VoViewDestroy(As<VtView>(p)); }},
    {"VtPrimitive", [] { return static_cast<void *>(VoPrimitiveCreate(nullptr, VO_PRIMITIVE_MESH)); },
     [](void *p) { (void)VoPrimitiveDestroy(As<VtPrimitive>(p)); }},
    {"VtImage", [] { return static_cast<void *>(ImageWithPixels()); },
     [](void *p) { (void)VoImageDestroy(As<VtImage>(p)); }},
    {"VtReference", [] { return static_cast<void *>(VoReferenceNodeCreate(&g_listed[0])); },
     [](void *p) { (void)VoReferenceListDestroy(As<VtReference>(p), nullptr); }},
    {"VtShadeContext", [] { return static_cast<void *>(VoShadeContextCreate()); },
     [](void *p) { (void)VoShadeContextDestroy(As<VtShadeContext>(p)); }},
    {"VtShadeContextReference", [] { return static_cast<void *>(VoShadeContextReferenceCreate()); },
     [](void *p) { (void)VoShadeContextReferenceDestroy(As<VtShadeContextReference>(p), 1); }},
    {"VtRandomState", [] { return static_cast<void *>(VoRandomStateCreate()); },
     [](void *p) { (void)VoRandomStateDestroy(As<VtRandomState>(p)); }},
    {"VtHashTable", [] { return static_cast<void *>(VoHashTableCreate(8)); },
     [](void *p) { (void)VoHashTableDestroy(As<VtHashTable>(p)); }},
    {"VtPool", [] { return static_cast<void *>(VoPoolCreate(0x7e57, 32)); },
     [](void *p) { (void)VoPoolDispose(As<VtPool>(p)); }},
    {"VtPixelList", [] { return static_cast<void *>(VoPixelListCreate()); },
     [](void *p) { (void)VoPixelListDestroy(As<VtPixelList>(p)); }},
    {"VtTexture",
     [] {
       VtImage *image = ImageWithPixels();
       VtTexture *t = image != nullptr ? VoTextureCreate(image, 3) : nullptr;
       (void)VoImageDestroy(image);
       return static_cast<void *>(t);
     },
     [](void *p) { (void)VoTextureDestroy(As<VtTexture>(p)); }},
    {"VtScreenBuffer", [] { return static_cast<void *>(VoScreenBufferCreate()); },
     [](void *p) { (void)VoScreenBufferDestroy(As<VtScreenBuffer>(p)); }},
    {"VtLock", [] { return static_cast<void *>(VoLockCreate()); },
     [](void *p) { (void)VoLockDestroy(As<VtLock>(p)); }},
    {"VtMultiThreadLock", [] { return static_cast<void *>(VoMultiThreadLockCreate()); },
     [](void *p) { (void)VoMultiThreadLockDestroy(As<VtMultiThreadLock>(p)); }},
    {"VtPolygon", [] { return static_cast<void *>(VoPolygonCreate(g_companions.triangle)); },
     [](void *p) { (void)VoPolygonDestroy(g_companions.triangle, As<VtPolygon>(p)); }},
    {"VtEnvironment", [] { return static_cast<void *>(EnvironmentOfSixImages()); },
     [](void *p) { (void)VoEnvironmentDestroy(As<VtEnvironment>(p)); }},
};

const Maker *MakerFor(const char *type) {
  for (const Maker &m : kMakers)
    if (std::strcmp(m.type, type) == 0) return &m;
  return nullptr;
}

// The live objects of other kinds handed where a parameter wants its own:
// a view and a primitive, or a shader for those two kinds. Their first bytes
// are compared before and after the call.
struct Foreign {
  const char *type;
  void *object;
  size_t bytes;
};

// ---- One call -------------------------------------------------------------

enum Outcome { kRefused, kAnsweredZero, kWroteForeign, kNotJudged, kDied, kSanitizer, kHung, kOutcomes };
const char *const kOutcomeNames[kOutcomes] = {
    "refused or null",  "answered 0", "wrote into the object", "not judged", "died",
    "sanitizer report", "hung"};

// Storage of every argument: a word each, pointing at zeroed buffers where
// the procedure wants an address.
struct Arguments {
  uint64_t slots[16] = {};
  void *argv[16] = {};
  std::vector<std::vector<uint64_t>> buffers;
};

bool TypeIs(const VtApiParam &p, const char *type) { return std::strcmp(p.type_name, type) == 0; }

// What an array read by the procedure holds: the triangle's vertices, or
// the direction (0, 0, 1) over and over.
void CompanionArray(const VtApiParam &p, std::vector<uint64_t> &buffer) {
  if (TypeIs(p, "VtVertex")) {
    for (size_t k = 0; k < buffer.size(); ++k)
      buffer[k] = reinterpret_cast<uintptr_t>(g_companions.vertices[k % 3]);
  } else if (TypeIs(p, "VtFloat")) {
    auto *floats = reinterpret_cast<float *>(buffer.data());
    for (size_t k = 0; k < 2 * buffer.size(); ++k) floats[k] = k % 3 == 2 ? 1.0f : 0.0f;
  }
}

// The live object a handle parameter is given when it is not the one tried.
void *CompanionHandle(const VtApiParam &p) {
  if (TypeIs(p, "VtPrimitive")) return g_companions.triangle;
  if (TypeIs(p, "VtPolygon")) return g_companions.polygon;
  if (TypeIs(p, "VtVertex")) return g_companions.vertices[0];
  return nullptr;
}

void ArgumentsFill(const VtApiFunction &fn, Arguments &a) {
  a.buffers.resize(fn.param_count);
  for (uint32_t i = 0; i < fn.param_count && i < 16; ++i) {
    const VtApiParam &p = fn.params[i];
    a.argv[i] = &a.slots[i];
    if ((p.flags & (vo::api::kParamOut | vo::api::kParamArray)) != 0) {
      a.buffers[i].assign(8192, 0);
      if ((p.flags & vo::api::kParamOut) == 0) CompanionArray(p, a.buffers[i]);
      a.slots[i] = reinterpret_cast<uintptr_t>(a.buffers[i].data());
    } else if (p.kind == vo::api::kKindHandle) {
      a.slots[i] = reinterpret_cast<uintptr_t>(CompanionHandle(p));
    } else if (p.kind == vo::api::kKindScalar) {
      if (std::strcmp(p.type_name, "VtFloat") == 0) {
        const float one = 1.0f;
        std::memcpy(&a.slots[i], &one, sizeof one);
      } else if (std::strcmp(p.type_name, "VtDouble") == 0) {
        const double one = 1.0;
        std::memcpy(&a.slots[i], &one, sizeof one);
      } else {
        a.slots[i] = 1;
      }
    } else if (p.kind == vo::api::kKindString) {
      static const char kText[] = "x";
      a.slots[i] = reinterpret_cast<uintptr_t>(kText);
    } else if (p.kind != vo::api::kKindFunc && p.kind != vo::api::kKindHandle) {
      a.buffers[i].assign(8192, 0);
      a.slots[i] = reinterpret_cast<uintptr_t>(a.buffers[i].data());
    }
  }
}

bool IsStatus(const VtApiFunction &fn) {
  return fn.result_name != nullptr && std::strcmp(fn.result_name, "VtStatus") == 0;
}
bool IsAddress(const VtApiFunction &fn) {
  return fn.result_kind == vo::api::kKindHandle || fn.result_kind == vo::api::kKindPointer ||
         fn.result_kind == vo::api::kKindString || fn.result_kind == vo::api::kKindStruct;
}

// Procedures whose answer to a refused argument is a value of their own
// (a list answered as given, "outside" for a point tested against a ring
// of contexts): judged by the diagnostic they post when that argument is
// the one tried.
bool RefusesWithItsOwnAnswer(const char *name, const char *param) {
  static const struct {
    const char *name, *param;
  } kCalls[] = {
      {"VoReferenceListRemoveData", nullptr},
      {"VoShadeContextPointInOffsetPolygon", "ring"},
      {"VoShadeContextPointInWorldPolygon", "ring"},
      {"VoShadeContextPointInTexturePolygon", "ring"},
  };
  for (const auto &c : kCalls)
    if (std::strcmp(c.name, name) == 0 && (c.param == nullptr || std::strcmp(c.param, param) == 0))
      return true;
  return false;
}

bool g_refusal_posted = false;
VtStatus NoteRefusal(VtStatus status, uint32_t, uint32_t, uint32_t, VtTypedValue *) {
  if (status == VO_STATUS_BAD_ARGUMENT) g_refusal_posted = true;
  return 0;
}

// In the child: the call with parameter `param` given `object` (made and
// destroyed just before when `destroyed` names its maker); the exit code is
// the outcome.
[[noreturn]] void CallInChild(const VtApiFunction &fn, uint32_t param, const Maker *destroyed,
                              const Foreign *foreign) {
  alarm(20);
  Arguments a;
  ArgumentsFill(fn, a);
  void *object = nullptr;
  std::vector<unsigned char> before;
  if (destroyed != nullptr) {
    object = destroyed->make();
    if (object == nullptr) _exit(kNotJudged);
    destroyed->destroy(object);
  } else {
    object = foreign->object;
    before.assign(static_cast<unsigned char *>(object),
                  static_cast<unsigned char *>(object) + foreign->bytes);
  }
  if ((fn.params[param].flags & vo::api::kParamArray) != 0) {
    // An array of handles: every element is the object.
    for (uint64_t &element : a.buffers[param]) element = reinterpret_cast<uintptr_t>(object);
  } else {
    a.slots[param] = reinterpret_cast<uintptr_t>(object);
  }
  VtTypedValue result{};
  (void)VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&NoteRefusal));
  fn.thunk(a.argv, &result);
  if (foreign != nullptr && std::memcmp(before.data(), object, before.size()) != 0) _exit(kWroteForeign);
  if (RefusesWithItsOwnAnswer(fn.name, fn.params[param].name))
    _exit(g_refusal_posted ? kRefused : kAnsweredZero);
  if (IsStatus(fn)) _exit(result.value.u != 0 ? kRefused : kAnsweredZero);
  if (IsAddress(fn)) _exit(result.value.p == nullptr ? kRefused : kAnsweredZero);
  _exit(kNotJudged);
}

Outcome RunCall(const VtApiFunction &fn, uint32_t param, const Maker *destroyed, const Foreign *foreign) {
  char log[] = "/tmp/vo_misuse_XXXXXX";
  const int fd = mkstemp(log);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (fd >= 0) dup2(fd, 2);
    CallInChild(fn, param, destroyed, foreign);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::string text;
  if (fd >= 0) {
    std::ifstream in(log);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    close(fd);
    unlink(log);
  }
  if (std::getenv("VO_MISUSE_SWEEP_ONLY") != nullptr) std::fprintf(stderr, "%s", text.c_str());
  if (text.find("Sanitizer") != std::string::npos || text.find("runtime error") != std::string::npos)
    return kSanitizer;
  if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGALRM ? kHung : kDied;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : kDied;
  return code < kOutcomes ? static_cast<Outcome>(code) : kDied;
}

// ---- The sweep ------------------------------------------------------------

// Procedures that take an object only to hand it on unread, or whose answer
// for a refused argument is a value of their own: not judged on their answer.
bool PassesHandlesOn(const char *name) {
  static const char *const kNames[] = {
      "VoShaderReferenceCreate", "VoPrimitiveReferenceCreate", "VoNPREdgeReferenceCreate",
      "VoReferenceNodeCreate",   "VoReferencePoolNodeCreate",  "VoHitListNodeCreate",
      "VoDiagnosticArgPointer",
  };
  for (const char *n : kNames)
    if (std::strcmp(n, name) == 0) return true;
  return false;
}

// Procedures that still answer 0 to an object destroyed or of another kind
// (bounds copied with a transform they do not read, edges made for an owner
// they only record, and a primitive list, which callers, the post-processing
// renders among them, make of other records too), and the appends given a
// primitive: an append checks its handle nodes in constant time only (lists
// are built one append at a time), and a primitive's first word is an
// address, as a node's is. Any other call answered 0 fails the test.
bool StillAnswersZero(const char *name, const char *given) {
  static const struct {
    const char *name, *given;  // null: whatever is given
  } kCalls[] = {
      {"VoBoundsCopy", nullptr},
      {"VoNPREdgeCreateFromPoints", nullptr},
      {"VoNPREdgeCreateFromVerts", nullptr},
      {"VoPrimitiveListCreate", nullptr},
      {"VoShaderReferenceAppend", "VtPrimitive"},
      {"VoPrimitiveReferenceAppend", "VtPrimitive"},
      {"VoNPREdgeReferenceAppend", "VtPrimitive"},
      // A ring of contexts is a record of the application's layout: only a
      // node given back to its pool is told from a ring by a word.
      {"VoShadeContextPointInOffsetPolygon", "VtView"},
      {"VoShadeContextPointInOffsetPolygon", "VtPrimitive"},
      {"VoShadeContextPointInWorldPolygon", "VtView"},
      {"VoShadeContextPointInWorldPolygon", "VtPrimitive"},
      {"VoShadeContextPointInTexturePolygon", "VtView"},
      {"VoShadeContextPointInTexturePolygon", "VtPrimitive"},
  };
  for (const auto &c : kCalls)
    if (std::strcmp(c.name, name) == 0 && (c.given == nullptr || std::strcmp(c.given, given) == 0))
      return true;
  return false;
}

struct Tally {
  int counts[kOutcomes] = {};
  int calls = 0;
};

class MisuseSweep : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(VoInitialise(), 0u); }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }
};

TEST_F(MisuseSweep, DestroyedAndForeignObjectsAreRefusedWithoutACrashOrAWriteIntoThem) {
  ASSERT_TRUE(CompanionsMake());
  VtView *view = VoViewCreate();
  VtPrimitive *primitive = VoPrimitiveCreate(nullptr, VO_PRIMITIVE_MESH);
  VtShader *shader = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  ASSERT_NE(view, nullptr);
  ASSERT_NE(primitive, nullptr);
  ASSERT_NE(shader, nullptr);
  const Foreign kView{"VtView", view, sizeof(VtView)},
      kPrimitive{"VtPrimitive", primitive, sizeof(VtPrimitive)},
      kShader{"VtShader", shader, sizeof(VtShader)};

  std::map<std::string, Tally> classes;
  std::vector<std::string> faults;
  std::ofstream report;
  if (const char *path = std::getenv("VO_MISUSE_SWEEP_REPORT")) report.open(path);
  auto record = [&](const char *cls, const VtApiFunction &fn, uint32_t param, const char *given, Outcome o) {
    Tally &t = classes[cls];
    ++t.calls;
    ++t.counts[o];
    const std::string line = std::string(cls) + " " + fn.name + " " + fn.params[param].name + " (" + given +
                             "): " + kOutcomeNames[o];
    if (report.is_open()) report << line << "\n";
    if (o == kAnsweredZero && !StillAnswersZero(fn.name, given)) faults.push_back(line);
    if (o == kDied || o == kSanitizer || o == kHung || o == kWroteForeign) faults.push_back(line);
  };

  for (size_t f = 0; f < kFunctionCount; ++f) {
    const VtApiFunction &fn = kFunctions[f];
    if (PassesHandlesOn(fn.name) || fn.param_count > 16) continue;
    if (const char *only = std::getenv("VO_MISUSE_SWEEP_ONLY");
        only != nullptr && std::strcmp(only, fn.name) != 0)
      continue;
    for (uint32_t i = 0; i < fn.param_count; ++i) {
      const VtApiParam &p = fn.params[i];
      if (p.kind != vo::api::kKindHandle || (p.flags & vo::api::kParamOut) != 0) continue;
      const Maker *own = MakerFor(p.type_name);
      if (own == nullptr) continue;
      record("destroyed", fn, i, p.type_name, RunCall(fn, i, own, nullptr));
      for (const Foreign *other : {&kView, &kPrimitive, &kShader}) {
        if (std::strcmp(other->type, p.type_name) == 0) continue;
        // A polygon's check word is in a header in front of its block, where
        // a record of another kind has its allocation's edge, unless it lies
        // among a pool's blocks as a primitive does.
        if (TypeIs(p, "VtPolygon") && other != &kPrimitive) continue;
        // A shader, shorter than a pool or a pixel list, is given where those
        // are wanted too: their records are known before a word is read.
        if (other == &kShader && !TypeIs(p, "VtView") && !TypeIs(p, "VtPrimitive") && !TypeIs(p, "VtPool") &&
            !TypeIs(p, "VtPixelList"))
          continue;
        record("another kind", fn, i, other->type, RunCall(fn, i, nullptr, other));
      }
    }
  }

  for (const auto &[cls, t] : classes) {
    std::printf("%s: %d calls", cls.c_str(), t.calls);
    for (int o = 0; o < kOutcomes; ++o) std::printf(", %s %d", kOutcomeNames[o], t.counts[o]);
    std::printf("\n");
  }
  for (const std::string &line : faults) ADD_FAILURE() << line;

  EXPECT_EQ(VoShaderDestroy(shader), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(primitive), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(g_companions.triangle), 0u);
  EXPECT_EQ(VoViewDestroy(view), 0u);
}

}  // namespace

// Every exported procedure's class while a render runs, as the interface
// description declares it and the table of exported procedures carries it
// (VtApiFunction::during), tried from the table itself, so that a procedure
// added to the description is tried with its class:
// - a second application thread calls every procedure that is neither a
//   read nor a utility while a render runs on the first: each is refused
//   with 0x20000012 (null, zero or nothing where it answers no status) and
//   one diagnostic 2908 naming it, before its arguments (all zero here) are
//   read, and the running render draws as alone;
// - the refused class, called from the render's progress callback, is
//   refused with its own message naming the call;
// - every procedure of the change, release and nested-render classes is
//   called from a render's progress callback, at its first or its last
//   report, with arguments made per parameter kind from a seed (the stage's
//   own primitive, material, light, lists and screen buffer, fresh images
//   and transforms, argument names of the stage's shaders, typed values of
//   several types): the call ends normally, the running render answers and,
//   but for a nested render writing into the same buffer, draws as alone
//   (its buffer left as by the render and then the call, which a change of
//   the target it holds waits for),
//   and the next render draws what a twin session draws that made the same
//   call after its render, unless the call is refused with the message its
//   class's note declares for such arguments (an element of a primitive the
//   render reads), which the table carries, naming the call, and the next
//   render is the one without it; with the point light casting depth-map shadows,
//   a shading class's first reports are those of the light's map renders.
//   CI runs one seeded row per procedure (render class, worker count, first
//   or last report, shadows or none from the seed); set
//   VO_DURING_RENDER_ALL=1 to run every render class at 0 and 4 workers at
//   the first and the last report, VO_DURING_RENDER_SEED to draw other
//   arguments, and VO_DURING_RENDER_ONLY=<procedure> for one procedure's rows.
// - the same procedures are called from the progress callbacks of the
//   library's own renders (a depth map of every light class casting
//   map shadows, made again in the render; a cube face; the stroke
//   capture), told by the code the current render runs under, at their
//   first or last report: the outer render (or cube) answers as without
//   the call and leaves what a twin session's outer call leaves that made
//   the call after it (a change of the target waits for the rows), and the
//   next render draws what the twin's draws. CI runs one seeded row a procedure;
//   VO_DURING_RENDER_ALL=1 runs every inner render at 0 and 4 workers at
//   its first and last report; VO_DURING_RENDER_ONLY=<procedure> and
//   VO_DURING_RENDER_INNER=map, cube or capture narrow them.
// - a procedure whose class declares a refusal for some arguments (its
//   condition, VtApiFunction::conditions) is called from a render's
//   progress callback with every combination of the arguments its condition
//   looks at, each made both ways (the render's own list, primitive and
//   material, or fresh ones the render never sees; a value given or not):
//   where the declared condition holds for the arguments, by what the row
//   knows of them, the call is refused with the note's message naming it,
//   answers as declared and changes neither picture; elsewhere it is not.
// Each row runs in a forked process of its own, so that one fault does not
// end the table.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <vo/vo_api.h>

#include "kernel/vosystem/api_table.h"
#include "misuse/light_rows.h"
#include "misuse/stage.h"
#include "support/forked.h"
#include "support/test_support.h"

namespace misuse {
namespace {

using vo::api::kFunctionCount;
using vo::api::kFunctions;
using vo::api::VtApiFunction;
using vo::api::VtApiParam;

constexpr const char *kClassNames[] = {"read",    "utility", "immediate", "change",
                                       "release", "nested",  "refused"};

bool IsStatus(const VtApiFunction &fn) { return fn.result_type == VtStatusType; }

// Whether a call answered as a refused one does: 0x20000012 for a status,
// else a zero or null answer.
bool AnsweredRefusal(const VtApiFunction &fn, const VtTypedValue &result) {
  if (fn.result_kind == vo::api::kKindVoid) return true;
  if (IsStatus(fn)) return result.value.u == VO_STATUS_BAD_ARGUMENT;
  return result.value.bits == 0;
}

// Argument storage, every argument zero.
struct ZeroArguments {
  alignas(16) uint64_t slots[16][2] = {};
  void *argv[16];
  ZeroArguments() {
    for (int i = 0; i < 16; ++i) argv[i] = slots[i];
  }
};

// Whether exactly one diagnostic was posted since `from`, with the message
// given and naming the procedure.
bool OneNaming(size_t from, uint32_t message, const char *name) {
  const auto &posted = vo_test::Recorded();
  if (posted.size() != from + 1 || posted[from].message != message) return false;
  return !posted[from].strings.empty() && posted[from].strings[0] == name;
}

// The progress callback calls `g_act` at report `g_at`; it counts the
// reports of every render.
std::function<void()> g_act;
int g_reports = 0, g_at = -1;
VtStatus Progress(uint32_t, VtTypedValue *) {
  if (g_reports++ == g_at && g_act) g_act();
  return 0;
}

// Renders with the callback in place, acting at report `at` (-1: never);
// answers the status, the picture and the count of reports.
VtStatus RenderActing(const Stage &stage, uint32_t code, int32_t workers, int at, std::vector<float> *picture,
                      int *reports) {
  g_reports = 0, g_at = at;
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress)), 0u);
  const VtStatus status = stage.Render(code, workers, picture);
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
  *reports = g_reports;
  return status;
}

// ---- A second application thread, and the refused class ---------------------

std::string RunSecondThread(uint32_t code, int32_t workers) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  const Stage &stage = *new Stage(Square());  // left to the process's end: calls may have freed its parts
  if (!stage.ok()) return "the stage was not made";
  std::string fault;
  std::vector<float> alone, picture;
  int reports = 0;
  const VtStatus status = RenderActing(stage, code, workers, -1, &alone, &reports);
  size_t tried = 0, guarded = 0;
  for (size_t i = 0; i < kFunctionCount; ++i) guarded += kFunctions[i].during > vo::api::kDuringUtility;
  g_act = [&] {
    std::thread([&] {
      for (size_t i = 0; i < kFunctionCount; ++i) {
        const VtApiFunction &fn = kFunctions[i];
        if (fn.during <= vo::api::kDuringUtility) continue;
        ++tried;
        ZeroArguments arguments;
        VtTypedValue result{};
        const size_t from = vo_test::Recorded().size();
        fn.thunk(arguments.argv, &result);
        if (!AnsweredRefusal(fn, result) || !OneNaming(from, 2908, fn.name))
          fault += std::string(fn.name) + " (" + kClassNames[fn.during] + ") was not refused with 2908; ";
      }
      // Reads and utilities stay allowed.
      void *block = VoAllocate(64);
      VtTypedValue value{};
      if (block == nullptr || VoControlGet(VO_CONTROL_MT_WORKERS, &value) != 0 || value.value.i != workers ||
          VoLightListGet() != stage.lights())
        fault += "a read or a utility was refused on the second thread; ";
      VoDeallocate(block);
    }).join();
    for (size_t i = 0; i < kFunctionCount; ++i) {
      const VtApiFunction &fn = kFunctions[i];
      if (fn.during != vo::api::kDuringRefused) continue;
      ZeroArguments arguments;
      VtTypedValue result{};
      const size_t from = vo_test::Recorded().size();
      fn.thunk(arguments.argv, &result);
      if (!AnsweredRefusal(fn, result) || !OneNaming(from, fn.during_message, fn.name))
        fault += std::string(fn.name) + " was not refused with its message from the callback; ";
    }
  };
  if (RenderActing(stage, code, workers, 0, &picture, &reports) != status || picture != alone)
    fault += "the render answered or drew otherwise; ";
  g_act = nullptr;
  if (tried != guarded) fault += "the callback did not try every procedure; ";
  if (VoTerminate() != 0) fault += "VoTerminate answered otherwise after the render; ";
  return fault;
}

TEST(DuringRender, SecondThreadCallsOfEveryClassButReadsAndUtilitiesAreRefused) {
  std::map<std::string, int> counts;
  for (size_t i = 0; i < kFunctionCount; ++i) {
    ASSERT_LT(kFunctions[i].during, 7u) << kFunctions[i].name;
    ++counts[kClassNames[kFunctions[i].during]];
  }
  for (const auto &[name, count] : counts) std::printf("class %s: %d procedures\n", name.c_str(), count);
  for (uint32_t code : {0xc0001u, 0x70001u})
    for (int32_t workers : {0, 4}) {
      SCOPED_TRACE(::testing::Message()
                   << "render 0x" << std::hex << code << std::dec << " on " << workers << " workers");
      EXPECT_EQ(ForkedFault([&] { return RunSecondThread(code, workers); }), "");
    }
}

// ---- The declared conditions, both ways ------------------------------------------

// An argument a condition looks at, made one of two or three ways: what the
// running render holds (its list, its primitive, its material, a value
// given), what it never sees (a fresh list, primitive or material, a zero
// value), or for a list nothing at all. Each way says which condition kinds
// hold for it (bit k: ApiCondition k), as the stage makes them.
struct Way {
  uint32_t holds;
  std::function<uint64_t(const Stage &, std::vector<uint64_t> &)> make;
};

constexpr uint32_t Bit(uint32_t kind) { return 1u << kind; }

VtPrimitive *Fresh(const Stage &stage) { return VoPrimitiveCopy(stage.primitive(), nullptr); }

std::vector<Way> WaysOf(const VtApiParam &p) {
  using namespace vo::api;
  const std::string type = p.type_name;
  const auto value = [](uint64_t v) { return [v](const Stage &, std::vector<uint64_t> &) { return v; }; };
  if ((p.flags & kParamOut) != 0 && (p.flags & kParamIn) != 0)  // an in-out value, by its address
    return {
        {Bit(kConditionGiven),
         [](const Stage &, std::vector<uint64_t> &box) { return reinterpret_cast<uintptr_t>(&box.at(0)); }},
        {0,
         [](const Stage &, std::vector<uint64_t> &box) { return reinterpret_cast<uintptr_t>(&box.at(1)); }}};
  if ((p.flags & kParamOut) != 0)  // an output handle: an address or none
    return {
        {Bit(kConditionGiven),
         [](const Stage &, std::vector<uint64_t> &box) { return reinterpret_cast<uintptr_t>(&box.at(2)); }},
        {0, value(0)}};
  const auto handle = [](auto make) {
    return [make](const Stage &stage, std::vector<uint64_t> &) {
      return reinterpret_cast<uintptr_t>(make(stage));
    };
  };
  if (type == "VtReference") {
    const uint32_t rendered =
        Bit(kConditionGiven) | Bit(kConditionHeld) | Bit(kConditionHeldByCaller) | Bit(kConditionMembersRead);
    return {{rendered, handle([](const Stage &stage) { return stage.list(); })},
            {Bit(kConditionGiven) | Bit(kConditionHeldByCaller),
             handle([](const Stage &stage) { return stage.lights(); })},
            {Bit(kConditionGiven), handle([](const Stage &stage) {
               VtPrimitive *fresh = Fresh(stage);
               return VoPrimitiveListCreate(1, &fresh);
             })},
            {0, value(0)}};
  }
  if (type == "VtPrimitive")
    return {{Bit(kConditionGiven) | Bit(kConditionRead),
             handle([](const Stage &stage) { return stage.primitive(); })},
            {Bit(kConditionGiven), handle(Fresh)}};
  if (type == "VtMaterial")
    return {{Bit(kConditionGiven) | Bit(kConditionUsed),
             handle([](const Stage &stage) { return stage.material(); })},
            {Bit(kConditionGiven), handle([](const Stage &) { return VoMaterialCreate(); })}};
  if (type == "VtDriverRecord")  // the current driver holds the render's frame; none stands for it
    return {{Bit(kConditionGiven) | Bit(kConditionHeld), handle([](const Stage &) { return VoDriverGet(); })},
            {Bit(kConditionHeld), value(0)},
            {Bit(kConditionGiven), handle([](const Stage &) {
               VtDriverRecord *other = VoDriverFindFromName("vodrvnul");
               return other != VoDriverGet() ? other : VoDriverFindFromName("vodrvimg");
             })}};
  return {{Bit(kConditionGiven), value(1)}, {0, value(0)}};
}

// Whether the procedure's declared condition holds for arguments made the
// ways given (the parameter's index into its ways, -1 for one not looked at).
bool DeclaredHolds(const VtApiFunction &fn, const std::vector<std::vector<Way>> &ways,
                   const std::vector<int> &way) {
  const uint32_t clauses = fn.conditions[fn.condition_count - 1].clause + 1;
  for (uint32_t c = 0; c < clauses; ++c) {
    bool all = true;
    for (uint32_t a = 0; a < fn.condition_count; ++a) {
      const vo::api::VtApiCondition &atom = fn.conditions[a];
      if (atom.clause != c) continue;
      bool any = false;
      for (uint32_t i = 0; i < fn.param_count; ++i)
        any = any || ((atom.params >> i & 1u) != 0 && (ways[i][way[i]].holds & Bit(atom.kind)) != 0);
      all = all && any;
    }
    if (all) return true;
  }
  return false;
}

// One combination: the call made from the first report of render 0xc0001.
std::string RunConditionRow(const VtApiFunction &fn, const std::vector<std::vector<Way>> &ways,
                            const std::vector<int> &way, int32_t workers) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  const Stage &stage = *new Stage(Square());  // left to the process's end: calls may have freed its parts
  if (!stage.ok()) return "the stage was not made";
  std::vector<float> alone, picture;
  int reports = 0;
  const VtStatus status = RenderActing(stage, 0xc0001, workers, -1, &alone, &reports);
  ZeroArguments arguments;
  std::vector<uint64_t> box = {1, 0, 0};  // an in-out value (read as its low word), a zero one, a handle
  std::vector<std::vector<uint64_t>> buffers(fn.param_count);
  for (uint32_t i = 0; i < fn.param_count; ++i) {
    if (way[i] >= 0) {
      arguments.slots[i][0] = ways[i][way[i]].make(stage, box);
    } else if ((fn.params[i].flags & (vo::api::kParamOut | vo::api::kParamArray)) != 0) {
      buffers[i].assign(64, 0);
      arguments.slots[i][0] = reinterpret_cast<uintptr_t>(buffers[i].data());
    }
  }
  std::vector<uint64_t> given(fn.param_count);
  for (uint32_t i = 0; i < fn.param_count; ++i) given[i] = arguments.slots[i][0];
  VtTypedValue result{};
  size_t from = 0;
  g_act = [&] {
    from = vo_test::Recorded().size();
    fn.thunk(arguments.argv, &result);
  };
  std::string fault;
  if (RenderActing(stage, 0xc0001, workers, 0, &picture, &reports) != status)
    fault += "the render answered otherwise; ";
  g_act = nullptr;
  bool named = false;
  for (size_t d = from; d < vo_test::Recorded().size(); ++d) {
    const auto &posted = vo_test::Recorded()[d];
    named = named ||
            (posted.message == fn.during_message && !posted.strings.empty() && posted.strings[0] == fn.name);
  }
  if (!DeclaredHolds(fn, ways, way)) {
    if (named) fault += "refused with its message where its condition does not hold; ";
    return fault;
  }
  if (!named || vo_test::Recorded().size() != from + 1) fault += "not refused with its message alone; ";
  // A refused list procedure answers the list it was given (the docs' rule,
  // judged here by the parameter's name and type, not by the table's answer).
  int list = -1;
  for (uint32_t i = 0; i < fn.param_count; ++i)
    if (std::string(fn.params[i].name) == "list" && fn.params[i].type == fn.result_type)
      list = static_cast<int>(i);
  const bool answered = list >= 0 ? result.value.bits == given[list] : AnsweredRefusal(fn, result);
  if (!answered) fault += "the refusal answered otherwise; ";
  for (uint32_t i = 0; i < fn.param_count; ++i)
    if (fn.params[i].flags == vo::api::kParamOut && fn.params[i].kind == vo::api::kKindHandle &&
        arguments.slots[i][0] != 0 && *reinterpret_cast<void **>(arguments.slots[i][0]) != nullptr)
      fault += "the refusal handed something out; ";
  if (picture != alone) fault += "the running render drew otherwise; ";
  if (stage.Render(0xc0001, workers, &picture) != status || picture != alone)
    fault += "the refused call changed the next render; ";
  return fault;
}

TEST(DuringRender, DeclaredConditionsRefuseWhereTheyHoldAndNowhereElse) {
  size_t procedures = 0, refused = 0, acted = 0;
  for (size_t f = 0; f < kFunctionCount; ++f) {
    const VtApiFunction &fn = kFunctions[f];
    if (fn.condition_count == 0) continue;
    ++procedures;
    ASSERT_NE(fn.during_message, 0u) << fn.name;
    std::vector<std::vector<Way>> ways(fn.param_count);
    std::vector<int> way(fn.param_count, -1);
    for (uint32_t a = 0; a < fn.condition_count; ++a)
      for (uint32_t i = 0; i < fn.param_count; ++i)
        if ((fn.conditions[a].params >> i & 1u) != 0 && ways[i].empty())
          ways[i] = WaysOf(fn.params[i]), way[i] = 0;
    // Every combination of the ways, as an odometer over the parameters looked at.
    for (int n = 0;; ++n) {
      const bool holds = DeclaredHolds(fn, ways, way);
      (holds ? refused : acted) += 1;
      SCOPED_TRACE(::testing::Message() << fn.name << ", combination " << n << (holds ? " (refused)" : ""));
      EXPECT_EQ(ForkedFault([&] { return RunConditionRow(fn, ways, way, n % 2 ? 4 : 0); }), "");
      uint32_t i = 0;
      for (; i < fn.param_count; ++i) {
        if (way[i] < 0) continue;
        if (++way[i] < static_cast<int>(ways[i].size())) break;
        way[i] = 0;
      }
      if (i == fn.param_count) break;
    }
  }
  std::printf("%zu procedures with conditions: %zu combinations refused, %zu not\n", procedures, refused,
              acted);
  EXPECT_GE(procedures, 19u);
}

// ---- Calls from the progress callback ------------------------------------------

// The arguments of one call, made from the seed per parameter kind.
struct Arguments {
  uint64_t slots[16] = {};
  void *argv[16] = {};
  std::vector<std::vector<uint64_t>> buffers;
};

VtImage *SmallImage() {
  VtImage *image = VoImageCreate();
  if (image == nullptr) return nullptr;
  image->width = image->height = 4;
  image->bits = 24;
  if (VoImageAllocateData(image) != 0) return nullptr;
  return image;
}

void *HandleFor(const VtApiParam &p, const Stage &stage, VtShader *light, std::mt19937 &rng) {
  const std::string type = p.type_name;
  const bool none = rng() % 5 == 0;  // now and then a null, which most calls refuse
  if (none) return nullptr;
  if (type == "VtPrimitive") return stage.primitive();
  if (type == "VtMaterial") return stage.material();
  if (type == "VtShader") return light;
  if (type == "VtScreenBuffer") return stage.buffer();
  if (type == "VtDriverRecord") return VoDriverGet();
  if (type == "VtReference") return rng() % 2 ? stage.list() : stage.lights();
  if (type == "VtImage") return SmallImage();
  if (type == "VtTransform") return VoTransformCreate();
  if (type == "VtTexture") {
    VtImage *image = SmallImage();
    return image != nullptr ? VoTextureCreate(image, 3) : nullptr;
  }
  return nullptr;
}

VtTypedValue TypedFor(std::mt19937 &rng) {
  VtTypedValue v{};
  switch (rng() % 4) {
    case 0: v.type = VtFloat, v.value.f = 2.5f; break;
    case 1: v.type = VtPoint, v.value.v[0] = 1, v.value.v[1] = -1, v.value.v[2] = 4; break;
    case 2: v.type = VtBoolean, v.value.u = 1; break;
    default: v.type = VtColourType, v.value.v[0] = 1, v.value.v[1] = 0.2f, v.value.v[2] = 0; break;
  }
  return v;
}

// The light a shader argument is: the stage's point light, or the light
// whose map render the call is made from.
void ArgumentsFill(const VtApiFunction &fn, const Stage &stage, uint32_t code, uint64_t seed, Arguments &a,
                   VtShader *light = nullptr) {
  static const char *const kTexts[] = {"intensity", "location", "colour",  "shadows",
                                       "matte",     "plain",    "vodrvnul"};
  std::mt19937 rng(static_cast<uint32_t>(seed));
  a.buffers.resize(fn.param_count);
  for (uint32_t i = 0; i < fn.param_count && i < 16; ++i) {
    const VtApiParam &p = fn.params[i];
    a.argv[i] = &a.slots[i];
    auto buffer = [&] {
      a.buffers[i].assign(4096, 0);
      auto *floats = reinterpret_cast<float *>(a.buffers[i].data());
      if ((p.flags & vo::api::kParamOut) == 0)
        for (size_t k = 0; k < 2 * a.buffers[i].size(); ++k) floats[k] = k % 3 == 2 ? 1.0f : 0.5f;
      a.slots[i] = reinterpret_cast<uintptr_t>(a.buffers[i].data());
    };
    if ((p.flags & (vo::api::kParamOut | vo::api::kParamArray)) != 0) {
      buffer();
    } else if (p.kind == vo::api::kKindHandle) {
      a.slots[i] = reinterpret_cast<uintptr_t>(
          HandleFor(p, stage, light != nullptr ? light : stage.point_light(), rng));
    } else if (p.kind == vo::api::kKindScalar) {
      const std::string type = p.type_name;
      if (type == "VtFloat") {
        const float f = 0.5f * static_cast<float>(rng() % 4);
        std::memcpy(&a.slots[i], &f, sizeof f);
      } else if (type == "VtDouble") {
        const double d = 0.5 * static_cast<double>(rng() % 4);
        std::memcpy(&a.slots[i], &d, sizeof d);
      } else {
        a.slots[i] = std::strcmp(p.name, "code") == 0 ? code : rng() % 3;
      }
    } else if (p.kind == vo::api::kKindString) {
      a.slots[i] = reinterpret_cast<uintptr_t>(kTexts[rng() % std::size(kTexts)]);
    } else if (p.kind == vo::api::kKindTyped) {
      buffer();
      const VtTypedValue v = TypedFor(rng);
      std::memcpy(a.buffers[i].data(), &v, sizeof v);
    } else if (p.kind == vo::api::kKindPointer) {
      // A block of the library's allocator, which a procedure freeing its
      // argument (an instance's free entry) may give back.
      void *block = VoAllocate(4096);
      if (block != nullptr) std::memset(block, 0, 4096);
      a.slots[i] = reinterpret_cast<uintptr_t>(block);
    } else if (p.kind != vo::api::kKindFunc) {
      buffer();
    }
  }
}

struct Row {
  const VtApiFunction *fn;
  uint32_t code;
  int32_t workers;
  bool last;
  bool shadows;  // the point light casts depth-map shadows: the shading classes' first reports are its maps'
  uint64_t seed;
};

// The pictures of a session whose call is made from the callback of a
// render (in_callback) or after that render: in *left the buffer as the
// render and the call leave it (a change of the target the render holds is
// made after its rows), in *next the render after; "" or the fault.
std::string RunCall(const Row &row, bool in_callback, std::vector<float> *left, std::vector<float> *next) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  const Stage &stage = *new Stage(Square());  // left to the process's end: calls may have freed its parts
  VtTypedValue size{};
  size.type = VtInt32;
  size.value.i = 16;
  VtTypedValue one = size;  // one sample a shadow test: no jitter cursor that the renders' order steps
  one.value.i = 1;
  if (row.shadows && (ShadowsOn(stage.point_light()) != 0 ||
                      VoShaderSetArg(stage.point_light(), "shadow resolution", &size) != 0 ||
                      VoShaderSetArg(stage.point_light(), "shadow quality", &one) != 0))
    return "the light's shadows were not set";
  if (!stage.ok()) return "the stage was not made";
  std::vector<float> alone, picture;
  int reports = 0;
  // A first render makes what later ones reuse (the light's maps), so that
  // the second reports as the one with the call does.
  (void)RenderActing(stage, row.code, row.workers, -1, &alone, &reports);
  const VtStatus status = RenderActing(stage, row.code, row.workers, -1, &alone, &reports);
  Arguments arguments;
  ArgumentsFill(*row.fn, stage, row.code, row.seed, arguments);
  VtTypedValue result{};
  std::string fault;
  bool called = false;
  g_act = [&] {
    row.fn->thunk(arguments.argv, &result);
    called = true;
  };
  if (in_callback) {
    const VtStatus during =
        RenderActing(stage, row.code, row.workers, row.last ? reports - 1 : 0, &picture, &reports);
    if (!called) fault += "the callback was not called; ";
    if (row.fn->during_message != 0 && !vo_test::WithMessage(row.fn->during_message).empty()) {
      // The refusal the procedure's class declares for these arguments (its
      // note, from the table): answered as a refusal naming the call, and the
      // next render is the one without the call, so no twin is asked.
      bool named = false;
      for (const auto &d : vo_test::WithMessage(row.fn->during_message))
        named = named || (!d.strings.empty() && d.strings[0] == row.fn->name);
      // A list procedure refused answers the list it was given, as it stands.
      const bool as_given = row.fn->param_count > 0 && result.value.bits == arguments.slots[0];
      if (!named || !(AnsweredRefusal(*row.fn, result) || as_given))
        fault += "the declared refusal did not answer as one naming the call; ";
      (void)stage.Render(row.code, row.workers, &picture);
      if (picture != alone) fault += "a refused call changed the next render; ";
      left->clear(), next->clear();
      return fault;
    }
    if (during != status) fault += "the running render answered otherwise; ";
    *left = picture;
  } else {
    g_act();
    // The buffer as the call leaves it, or nothing to read once it was given back.
    left->clear();
    if (stage.Live()) stage.Read(left);
  }
  g_act = nullptr;
  (void)stage.Render(row.code, row.workers, next);
  return fault;
}

// A forked process's two pictures, sent back through a pipe. *broke is set
// when the process did not end on its own (a signal, the alarm, another
// exit) or a sanitizer reported on its error stream: that is a fault of the
// library whatever the same call does elsewhere.
std::string ForkedPicture(const std::function<std::string(std::vector<float> *, std::vector<float> *)> &run,
                          std::vector<float> *first, std::vector<float> *second, bool *broke) {
  *broke = false;
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  char log[] = "/tmp/vo_during_XXXXXX";
  const int fd = mkstemp(log);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    if (fd >= 0) dup2(fd, 2);
    alarm(60);
    std::vector<float> p, q;
    const std::string fault = run(&p, &q);
    const uint64_t n = p.size(), m = q.size(), f = fault.size();
    (void)!write(out[1], &f, sizeof f);
    (void)!write(out[1], fault.data(), f);
    (void)!write(out[1], &n, sizeof n);
    (void)!write(out[1], &m, sizeof m);
    (void)!write(out[1], p.data(), n * sizeof(float));
    (void)!write(out[1], q.data(), m * sizeof(float));
    _exit(0);
  }
  close(out[1]);
  const std::string bytes = vo_test::ReadAll(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::string text;
  if (fd >= 0) {
    std::ifstream in(log);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    close(fd);
    unlink(log);
  }
  const size_t report = std::min(text.find("Sanitizer"), text.find("runtime error"));
  if (report != std::string::npos) {
    *broke = true;
    const size_t from = text.rfind('\n', report) == std::string::npos ? 0 : text.rfind('\n', report) + 1;
    return "a sanitizer reported: " + text.substr(from, text.find('\n', report) - from);
  }
  if (WIFSIGNALED(status)) {
    *broke = true;
    return "died of signal " + std::to_string(WTERMSIG(status));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *broke = true;
    return "ended with status " + std::to_string(WEXITSTATUS(status));
  }
  uint64_t f = 0, n = 0, m = 0;
  if (bytes.size() < sizeof f) return "wrote nothing back";
  std::memcpy(&f, bytes.data(), sizeof f);
  if (bytes.size() < sizeof f + f + sizeof n + sizeof m) return "wrote a short answer";
  const std::string fault = bytes.substr(sizeof f, f);
  const char *at = bytes.data() + sizeof f + f;
  std::memcpy(&n, at, sizeof n);
  std::memcpy(&m, at + sizeof n, sizeof m);
  at += sizeof n + sizeof m;
  if (bytes.size() != sizeof f + f + sizeof n + sizeof m + (n + m) * sizeof(float))
    return fault + "wrote a short picture";
  first->resize(n);
  second->resize(m);
  if (n != 0) std::memcpy(first->data(), at, n * sizeof(float));
  if (m != 0) std::memcpy(second->data(), at + n * sizeof(float), m * sizeof(float));
  return fault;
}

std::string RunRow(const Row &row) {
  std::vector<float> left, next, twin_left, twin;
  bool broke = false, twin_broke = false;
  std::string fault =
      ForkedPicture([&](std::vector<float> *l, std::vector<float> *p) { return RunCall(row, true, l, p); },
                    &left, &next, &broke);
  const std::string twin_fault =
      ForkedPicture([&](std::vector<float> *l, std::vector<float> *p) { return RunCall(row, false, l, p); },
                    &twin_left, &twin, &twin_broke);
  // A death or a sanitizer report is the library's fault whatever the twin
  // did: in the twin, after the same call made once the render ended (a
  // listed primitive destroyed between renders, then a render with map
  // shadows, was one). The same call after the render answering a fault
  // too is a matter of its arguments, not of the render.
  if (broke || twin_broke) return (broke ? fault : "the twin session " + twin_fault) + "; ";
  if (!twin_fault.empty()) return "";
  // The running render draws as alone and the call is made after its rows:
  // the buffer is left as by the render and then the call (a declared
  // refusal leaves neither picture; a nested render may draw into it).
  if (fault.empty() && (!left.empty() || !next.empty()) && left != twin_left &&
      row.fn->during != vo::api::kDuringNested)
    fault = "the running render drew otherwise; ";
  if (fault.empty() && !next.empty() && next != twin)
    fault = "the next render differs from the twin session's; ";
  return fault;
}

// Whether the procedure takes a handle of a kind a running render holds
// (its primitives, materials, shaders, images, transforms, its driver and
// target), which HandleFor makes from the stage, and no array of addresses
// (which no seed can make valid).
bool TakesWhatARenderHolds(const VtApiFunction &fn) {
  for (uint32_t i = 0; i < fn.param_count; ++i)
    if ((fn.params[i].flags & vo::api::kParamArray) != 0 && fn.params[i].kind == vo::api::kKindPointer)
      return false;
  // The kinds the interface description names as what a change or release
  // acts on while a render may hold it.
  static const std::set<std::string> kHeld = [] {
    std::set<std::string> held;
    for (size_t f = 0; f < kFunctionCount; ++f)
      if (kFunctions[f].object >= 0 &&
          kFunctions[f].params[kFunctions[f].object].kind == vo::api::kKindHandle)
        held.insert(kFunctions[f].params[kFunctions[f].object].type_name);
    return held;
  }();
  for (uint32_t i = 0; i < fn.param_count; ++i)
    if (fn.params[i].kind == vo::api::kKindHandle && (fn.params[i].flags & vo::api::kParamOut) == 0 &&
        kHeld.count(fn.params[i].type_name) != 0)
      return true;
  return false;
}

TEST(DuringRender, CallbackCallsOfChangesReleasesAndNestedRendersReachTheNextRenderOnly) {
  const bool all = std::getenv("VO_DURING_RENDER_ALL") != nullptr;
  const uint32_t kCodes[] = {0xc0001u, 0xc0002u, 0xc0003u, 0x200001u, 0x200002u, 0x70001u, 0x70002u};
  const char *seed_text = std::getenv("VO_DURING_RENDER_SEED");
  const char *only = std::getenv("VO_DURING_RENDER_ONLY");  // one procedure's rows
  std::mt19937_64 seeds(seed_text != nullptr ? std::strtoull(seed_text, nullptr, 0) : 0x101a);
  std::map<std::string, int> rows;
  for (size_t i = 0; i < kFunctionCount; ++i) {
    const VtApiFunction &fn = kFunctions[i];
    // An immediate procedure acts at once on what no running render reads:
    // given what the render holds, it must leave the running picture alone.
    const bool immediate = fn.during == vo::api::kDuringImmediate && TakesWhatARenderHolds(fn);
    if (!immediate && (fn.during < vo::api::kDuringChange || fn.during > vo::api::kDuringNested)) continue;
    const uint64_t seed = seeds();
    if (only != nullptr && std::strcmp(only, fn.name) != 0) continue;
    for (uint32_t c = 0; c < std::size(kCodes); ++c)
      for (int32_t workers : {0, 4})
        for (bool last : {false, true})
          for (bool shadows : {false, true}) {
            const Row row{&fn, kCodes[c], workers, last, shadows, seed};
            if (!all &&
                (seed % std::size(kCodes) != c || (seed >> 8) % 2 != (workers != 0) ||
                 (seed >> 9) % 2 != static_cast<uint64_t>(last) || ((seed >> 10) % 2 != 0) != shadows))
              continue;
            ++rows[kClassNames[fn.during]];
            SCOPED_TRACE(::testing::Message()
                         << fn.name << " (" << kClassNames[fn.during] << ") from render 0x" << std::hex
                         << row.code << std::dec << " on " << workers << " workers at its "
                         << (last ? "last" : "first") << " report"
                         << (shadows ? ", the light casting shadows" : "") << ", seed " << seed);
            EXPECT_EQ(RunRow(row), "");
          }
  }
  for (const auto &[name, count] : rows) std::printf("%s: %d rows\n", name.c_str(), count);
}

// ---- Calls from the progress callbacks of the library's own renders ---------------

// The library's renders inside an application's call: a light's depth map
// (a row of light_rows.h, made again in each render of a map-reading
// class: the maps are given back before it), an environment cube's faces,
// the stroke capture of a strokes render. Each reports progress through
// the application's callback, under a render code of its own.
enum class Inner { kMap, kCubeFace, kStrokeCapture };
constexpr const char *kInnerNames[] = {"map", "cube", "capture"};

struct InnerRow {
  const VtApiFunction *fn;
  Inner inner;
  size_t light;   // kMap: the row of ShadowLightRows()
  uint32_t code;  // the outer render's (none for a cube)
  int32_t workers;
  bool last;  // the inner render's last report, else its first
  uint64_t seed;
};

// The code the inner render reports under: a map's depth render, a cube
// face's A-buffer render, the capture's hidden-line render.
uint32_t InnerCode(Inner inner) {
  return inner == Inner::kMap ? 0x200003u : inner == Inner::kCubeFace ? 0x200002u : 0x190002u;
}

// Acts at the inner render's report `g_inner_at`, counting its reports.
uint32_t g_inner_code = 0;
int g_inner_reports = 0, g_inner_at = -1;
VtStatus InnerProgress(uint32_t, VtTypedValue *) {
  uint32_t code = 0;
  if (VoExecuteCurrentGet(&code) != 0 || code != g_inner_code) return 0;
  if (g_inner_reports++ == g_inner_at && g_act) g_act();
  return 0;
}

// The outer call with the callback in place, acting at the inner render's
// report `at` (-1: never): its status (0 or 2 for a cube made or not) and
// its output (the picture, or the cube's colour in fixed directions).
VtStatus InnerActing(const Stage &stage, const InnerRow &row, VtShader *light, int at,
                     std::vector<float> *out, int *reports) {
  g_inner_code = InnerCode(row.inner), g_inner_reports = 0, g_inner_at = at;
  if (light != nullptr) (void)VoLightDestroyShadow(light);  // made again by the render
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&InnerProgress)), 0u);
  VtStatus status = 0;
  if (row.inner != Inner::kCubeFace) {
    status = stage.Render(row.code, row.workers, out);
  } else {
    VtTypedValue v{};
    v.type = VtInt32;
    v.value.i = row.workers;
    EXPECT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
    const float centre[3] = {0, 0, 2};
    VtEnvironment *cube = VoEnvironmentRenderCube(8, centre);
    status = cube != nullptr ? 0 : 2;
    out->clear();
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(-1, 1);
    for (int i = 0; cube != nullptr && i < 64; ++i) {
      const float d[3] = {unit(random), unit(random), unit(random)};
      float colour[3] = {};
      (void)VoEnvironmentSample(colour, cube, centre, d, 0);
      out->insert(out->end(), colour, colour + 3);
    }
    if (cube != nullptr) (void)VoEnvironmentDestroy(cube);
  }
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
  *reports = g_inner_reports;
  return status;
}

constexpr const char *kNoInnerReport = "the inner render reported nothing";

// As RunCall, the call made from the inner render's report or after the
// outer call; in *left what the outer call leaves (the cube's colours, or
// the buffer as the outer render and the call leave it: a change of the
// target the render holds is made after its rows), in *next the stage's
// render 0xc0001 after it.
std::string RunInnerCall(const InnerRow &row, bool in_callback, std::vector<float> *left,
                         std::vector<float> *next) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  const Stage &stage =
      *new Stage(FloorAndCaster());  // left to the process's end: calls may have freed its parts
  VtShader *light =
      row.inner == Inner::kMap ? ShadowLightListed(stage, ShadowLightRows()[row.light], 16) : nullptr;
  if (!stage.ok() || (row.inner == Inner::kMap && light == nullptr)) return "the stage was not made";
  std::vector<float> alone, output;
  int reports = 0;
  const VtStatus status = InnerActing(stage, row, light, -1, &alone, &reports);
  if (reports == 0) return kNoInnerReport;
  Arguments arguments;
  ArgumentsFill(*row.fn, stage, row.code, row.seed, arguments, light);
  VtTypedValue result{};
  std::string fault;
  bool called = false;
  g_act = [&] {
    row.fn->thunk(arguments.argv, &result);
    called = true;
  };
  if (in_callback) {
    const VtStatus during = InnerActing(stage, row, light, row.last ? reports - 1 : 0, &output, &reports);
    if (!called) fault += "the callback was not called; ";
    if (!vo_test::WithMessage(2902).empty()) {
      // Refused as the render reads what the call would free: the next
      // render is the one without the call, and no twin is asked.
      left->clear(), next->clear();
      return fault;
    }
    if (during != status) fault += "the running render answered otherwise; ";
    *left = output;  // empty once the call gave the target back (after the render)
  } else {
    (void)InnerActing(stage, row, light, -1, &output, &reports);
    g_act();
    *left = output;
    if (row.inner != Inner::kCubeFace) {
      left->clear();
      if (stage.Live()) stage.Read(left);
    }
  }
  g_act = nullptr;
  if (light != nullptr) (void)VoLightDestroyShadow(light);
  (void)stage.Render(0xc0001, row.workers, next);
  return fault;
}

std::string RunInnerRow(const InnerRow &row) {
  std::vector<float> left, twin_left, next, twin;
  bool broke = false, twin_broke = false;
  std::string fault = ForkedPicture(
      [&](std::vector<float> *l, std::vector<float> *p) { return RunInnerCall(row, true, l, p); }, &left,
      &next, &broke);
  const std::string twin_fault = ForkedPicture(
      [&](std::vector<float> *l, std::vector<float> *p) { return RunInnerCall(row, false, l, p); },
      &twin_left, &twin, &twin_broke);
  if (broke || twin_broke) return (broke ? fault : "the twin session " + twin_fault) + "; ";
  if (twin_fault == kNoInnerReport) return twin_fault;  // the row would judge nothing
  if (!twin_fault.empty()) return "";  // the call faults after the render too: a matter of its arguments
  // A nested render may write into the same buffer; nothing to read once
  // the call gave the target back.
  if (!left.empty() && !twin_left.empty() && left != twin_left && row.fn->during != vo::api::kDuringNested)
    fault += "the running render drew otherwise than the twin session's render and call; ";
  if (fault.empty() && !next.empty() && next != twin)
    fault = "the next render differs from the twin session's; ";
  return fault;
}

// Every inner render a row may be made from: a map of each light class
// under each class reading maps with progress reported (the standard
// renderer makes its maps unreported), a cube's faces, a stroke capture.
std::vector<InnerRow> InnerRowsOf(const VtApiFunction &fn, uint64_t seed) {
  std::vector<InnerRow> rows;
  for (int32_t workers : {0, 4})
    for (bool last : {false, true}) {
      for (size_t l = 0; l < ShadowLightRows().size(); ++l)
        for (uint32_t code : {0x200001u, 0x200002u, 0x70001u})
          rows.push_back({&fn, Inner::kMap, l, code, workers, last, seed});
      rows.push_back({&fn, Inner::kCubeFace, 0, 0, workers, last, seed});
      rows.push_back({&fn, Inner::kStrokeCapture, 0, 0x600004u, workers, last, seed});
    }
  return rows;
}

std::string InnerTitle(const InnerRow &row) {
  char text[160];
  if (row.inner == Inner::kMap)
    std::snprintf(text, sizeof text, "the %s light's map render in render 0x%x",
                  ShadowLightRows()[row.light].title, row.code);
  else
    std::snprintf(text, sizeof text, "%s",
                  row.inner == Inner::kCubeFace ? "a cube face" : "the stroke capture");
  return std::string(text) + " on " + std::to_string(row.workers) + " workers at its " +
         (row.last ? "last" : "first") + " report";
}

// Rows every run makes besides the seeded one, at an inner render's first
// report (a map's of the first light): seed 1 draws a null list to set.
struct PinnedInnerRow {
  const char *name;
  Inner inner;
  uint32_t code;
  uint64_t seed;
};
const PinnedInnerRow kPinnedInnerRows[] = {{"VoPrimitiveListSet", Inner::kMap, 0x200001u, 1},
                                           {"VoPrimitiveListSet", Inner::kMap, 0x70001u, 1},
                                           {"VoPrimitiveListSet", Inner::kCubeFace, 0, 1}};

TEST(DuringRender, CallbackCallsFromTheLibrarysOwnRendersReachTheNextRenderOnly) {
  const bool all = std::getenv("VO_DURING_RENDER_ALL") != nullptr;
  const char *seed_text = std::getenv("VO_DURING_RENDER_SEED");
  const char *only = std::getenv("VO_DURING_RENDER_ONLY");    // one procedure's rows
  const char *inner = std::getenv("VO_DURING_RENDER_INNER");  // "map", "cube" or "capture" alone
  std::mt19937_64 seeds(seed_text != nullptr ? std::strtoull(seed_text, nullptr, 0) : 0x1019);
  std::map<std::string, int> counts;
  for (size_t i = 0; i < kFunctionCount; ++i) {
    const VtApiFunction &fn = kFunctions[i];
    if (fn.during < vo::api::kDuringChange || fn.during > vo::api::kDuringNested) continue;
    const uint64_t seed = seeds();
    if (only != nullptr && std::strcmp(only, fn.name) != 0) continue;
    std::vector<InnerRow> rows = InnerRowsOf(fn, seed);
    if (!all) rows = {rows[seed % rows.size()]};
    for (const PinnedInnerRow &pinned : kPinnedInnerRows)
      if (std::strcmp(pinned.name, fn.name) == 0)
        rows.push_back({&fn, pinned.inner, 0, pinned.code, 0, false, pinned.seed});
    for (const InnerRow &row : rows) {
      if (inner != nullptr && std::strcmp(inner, kInnerNames[static_cast<int>(row.inner)]) != 0) continue;
      ++counts[kClassNames[fn.during]];
      SCOPED_TRACE(::testing::Message() << fn.name << " (" << kClassNames[fn.during] << ") from "
                                        << InnerTitle(row) << ", seed " << row.seed);
      const std::string fault = RunInnerRow(row);
      EXPECT_EQ(fault, "");
    }
  }
  for (const auto &[name, count] : counts) std::printf("%s: %d rows\n", name.c_str(), count);
}
}  // namespace
}  // namespace misuse

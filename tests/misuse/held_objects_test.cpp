// What a holder holds stays alive: a shader a material, the background or
// the foreground still holds (message 2903 naming the holder), the current
// primitive list (a removal of its handle node moves it to the handle
// answered), an image background's image destroyed between renders (left
// out, not read), and, from a render's own progress callback, the list the
// render started with, its primitives and their materials. Each sequence an application may call by
// mistake is refused with a diagnostic, and the render that follows (or the
// one disturbed) answers and draws what it does undisturbed; a ring a shader
// argument holds, destroyed, is left out without a crash. Every case runs in
// a process of its own (a fork, the library started there), for the
// scanline, z-buffer and ray-traced classes on the calling thread and on
// four workers, so that a crash fails one case and not the group.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;
constexpr uint32_t kRenderRunning = 2902, kShaderStillHeld = 2903, kListCurrent = 2904;

// The objects of one case, in the forked process.
struct Scene {
  const Stage *stage = nullptr;
  uint32_t code = 0;
  VtReference *list = nullptr;   // current as the render starts
  VtReference *other = nullptr;  // another ring of the same square
  VtReference *spare = nullptr;  // a ring of a triangle no render reads
  VtMaterial *material = nullptr;
  VtShader *shader = nullptr;  // what the case's preparation made
  VtReference *ring = nullptr;
  VtImage *image = nullptr;
  std::string fault;
};

// A call's answer and, for a refusal, the diagnostic it must post.
void Expect(Scene &s, const char *call, VtStatus got, VtStatus want, uint32_t message = 0) {
  char line[160];
  if (got != want) {
    std::snprintf(line, sizeof line, "%s answered 0x%x, not 0x%x; ", call, got, want);
    s.fault += line;
  }
  if (message != 0 && vo_test::WithMessage(message).empty()) {
    std::snprintf(line, sizeof line, "%s posted no message %u; ", call, message);
    s.fault += line;
  }
  vo_test::Recorded().clear();
}

VtTypedValue Pointer(void *p) {
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = p;
  return v;
}

// The holder message 2903 names (its third argument): the holder's own
// handle or slot, never the shader refused.
void HolderNamed(Scene &s, const std::string &holder) {
  const std::vector<vo_test::Diagnostic> posted = vo_test::WithMessage(kShaderStillHeld);
  if (posted.empty() || posted[0].strings.size() < 2 || posted[0].strings[1].rfind(holder, 0) != 0)
    s.fault += "message 2903 does not name " + holder + " as the holder; ";
}

// A 4 x 4 image of light grey, the background's.
VtImage *GreyImage() {
  VtImage *image = VoImageCreate();
  if (image == nullptr) return nullptr;
  image->width = image->height = 4;
  image->bits = 24;
  if (VoImageAllocateData(image) != 0) return nullptr;
  for (int32_t y = 0; y < image->height; ++y)
    for (int32_t x = 0; x < 3 * image->width; ++x) image->data[y * image->bytes_per_row + x] = 200;
  return image;
}

// The case under way, for the progress callback; inside while the nested
// case's own render runs.
struct Case;
struct Progress {
  Scene *scene = nullptr;
  const Case *c = nullptr;
  int reports = 0;
  bool inside = false, inner_done = false;
};
Progress g_progress;

using Act = void (*)(Scene &);
enum class When { kBefore, kDuring };

struct Case {
  const char *name;
  Act prepare;  // before the undisturbed render, or null
  When when;    // the misuse: before the second render, or at its first progress report
  Act act;
  bool same_picture;  // the second render answers and draws as the first
};

const Case kCases[] = {
    {"a shader the material holds alone", nullptr, When::kBefore,
     [](Scene &s) {
       VtShader *held = VoMaterialGetShader(s.material, VO_SHADER_REFLECTANCE);
       const VtStatus st = VoShaderDestroy(held);
       HolderNamed(s, "material 0x");
       Expect(s, "VoShaderDestroy(reflectance)", st, kRefused, kShaderStillHeld);
     },
     true},
    {"a second destroy of a shader handed to the material",
     [](Scene &s) {
       s.shader = VoShaderCreate(VO_SHADER_COLOUR, "plain");
       Expect(s, "VoMaterialSetShader", VoMaterialSetShader(s.material, s.shader), 0);
       Expect(s, "VoShaderDestroy", VoShaderDestroy(s.shader), 0);
     },
     When::kBefore,
     [](Scene &s) {
       Expect(s, "VoShaderDestroy again", VoShaderDestroy(s.shader), kRefused, kShaderStillHeld);
     },
     true},
    {"a second destroy of the foreground",
     [](Scene &s) {
       s.shader = VoShaderCreate(VO_SHADER_FOREGROUND, "none");
       Expect(s, "VoForegroundSet", VoForegroundSet(s.shader), 0);
       Expect(s, "VoShaderDestroy", VoShaderDestroy(s.shader), 0);
     },
     When::kBefore,
     [](Scene &s) {
       Expect(s, "VoShaderDestroy again", VoShaderDestroy(s.shader), kRefused, kShaderStillHeld);
     },
     true},
    {"a second destroy of the background",
     [](Scene &s) {
       s.shader = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
       Expect(s, "VoBackgroundSet", VoBackgroundSet(s.shader), 0);
       Expect(s, "VoShaderDestroy", VoShaderDestroy(s.shader), 0);
     },
     When::kBefore,
     [](Scene &s) {
       const VtStatus st = VoShaderDestroy(s.shader);
       HolderNamed(s, "the background (VoBackgroundSet)");
       Expect(s, "VoShaderDestroy again", st, kRefused, kShaderStillHeld);
     },
     true},
    // The image is the application's; the background found it live at its
    // first render and looks at it again as each render starts.
    {"the image of an image background destroyed between renders",
     [](Scene &s) {
       s.image = GreyImage();
       s.shader = VoShaderCreate(VO_SHADER_BACKGROUND, "image");
       const VtTypedValue image = Pointer(s.image);
       Expect(s, "VoShaderSetArg(image)", VoShaderSetArg(s.shader, "image", &image), 0);
       Expect(s, "VoBackgroundSet", VoBackgroundSet(s.shader), 0);
     },
     When::kBefore, [](Scene &s) { Expect(s, "VoImageDestroy", VoImageDestroy(s.image), 0); }, false},
    // The last entry's node is the list's handle: the current list goes on
    // as the list the removal answers, null, which may be set again.
    {"the current list's last entry removed",
     [](Scene &s) {
       VtPrimitive *square = s.stage->primitive();
       s.ring = VoPrimitiveListCreate(1, &square);
       Expect(s, "VoPrimitiveListSet(ring)", VoPrimitiveListSet(s.ring), 0);
     },
     When::kBefore,
     [](Scene &s) {
       s.ring = VoReferenceListRemoveData(s.ring, s.stage->primitive());
       if (s.ring != nullptr || VoPrimitiveListGet() != nullptr)
         s.fault += "the emptied list is still current; ";
       Expect(s, "VoPrimitiveListSet(answer)", VoPrimitiveListSet(s.ring), 0);
     },
     false},
    // A copy of the square draws what it draws; removing the copy, at the
    // handle, leaves the square current under the handle answered.
    {"the current list's handle removed with an entry before it",
     [](Scene &s) {
       VtPrimitive *both[2] = {s.stage->primitive(), VoPrimitiveCopy(s.stage->primitive(), nullptr)};
       s.ring = VoPrimitiveListCreate(2, both);
       Expect(s, "VoPrimitiveListSet(ring)", VoPrimitiveListSet(s.ring), 0);
     },
     When::kBefore,
     [](Scene &s) {
       VtPrimitive *copy = static_cast<VtPrimitive *>(s.ring->data);
       s.ring = VoReferenceListRemoveData(s.ring, copy);
       if (s.ring == nullptr || s.ring->data != s.stage->primitive() || VoPrimitiveListGet() != s.ring)
         s.fault += "the current list is not the one answered; ";
       Expect(s, "VoPrimitiveDestroy(copy)", VoPrimitiveDestroy(copy), 0);
     },
     true},
    {"the rendered list's last entry removed from its progress", nullptr, When::kDuring,
     [](Scene &s) {
       // Refused: the list is answered as given.
       const bool kept = VoReferenceListRemoveData(s.list, s.stage->primitive()) == s.list;
       Expect(s, "VoReferenceListRemoveData(list, square)", kept ? kRefused : 0, kRefused, kRenderRunning);
     },
     true},
    {"the current list destroyed", nullptr, When::kBefore,
     [](Scene &s) {
       Expect(s, "VoPrimitiveReferenceDestroy(list, 0)", VoPrimitiveReferenceDestroy(s.list, 0), kRefused,
              kListCurrent);
       Expect(s, "VoPrimitiveReferenceDestroy(list, 1)", VoPrimitiveReferenceDestroy(s.list, 1), kRefused,
              kListCurrent);
       Expect(s, "VoReferenceListDestroy", VoReferenceListDestroy(s.list, nullptr), kRefused, kListCurrent);
       Expect(s, "VoPrimitiveReferenceListDestroy", VoPrimitiveReferenceListDestroy(s.list), kRefused,
              kListCurrent);
       Expect(s, "VoVertexReferenceListDestroy", VoVertexReferenceListDestroy(nullptr, s.list, 0), kRefused,
              kListCurrent);
     },
     true},
    {"the rendered list destroyed from its progress", nullptr, When::kDuring,
     [](Scene &s) {
       Expect(s, "VoPrimitiveReferenceDestroy(list, 0)", VoPrimitiveReferenceDestroy(s.list, 0), kRefused,
              kRenderRunning);
       Expect(s, "VoVertexReferenceListDestroy", VoVertexReferenceListDestroy(nullptr, s.list, 0), kRefused,
              kRenderRunning);
     },
     true},
    {"the rendered list replaced, then destroyed with its primitives and material", nullptr, When::kDuring,
     [](Scene &s) {
       Expect(s, "VoPrimitiveListSet(other)", VoPrimitiveListSet(s.other), 0);
       Expect(s, "VoPrimitiveReferenceDestroy(list, 1)", VoPrimitiveReferenceDestroy(s.list, 1), kRefused,
              kRenderRunning);
       Expect(s, "VoPrimitiveDestroy", VoPrimitiveDestroy(s.stage->primitive()), kRefused, kRenderRunning);
       Expect(s, "VoMaterialDestroy", VoMaterialDestroy(s.material), kRefused, kRenderRunning);
       // What no render reads goes as at any time.
       Expect(s, "VoPrimitiveReferenceDestroy(spare, 1)", VoPrimitiveReferenceDestroy(s.spare, 1), 0);
       s.spare = nullptr;
     },
     true},
    {"a render nested in the progress of another, each list protected while its render runs", nullptr,
     When::kDuring,
     [](Scene &s) {
       Expect(s, "VoPrimitiveListSet(other)", VoPrimitiveListSet(s.other), 0);
       g_progress.inside = true;
       const VtStatus inner = VoExecute(s.code);  // its first report runs NestedInner
       g_progress.inside = false;
       // The ray tracer refuses a render inside its own of another list.
       if (inner == 0 && !g_progress.inner_done) s.fault += "the nested render reported no progress; ";
       Expect(s, "VoPrimitiveListSet(list)", VoPrimitiveListSet(s.list), 0);
       // The inner render has ended and the outer one never read this ring.
       Expect(s, "VoPrimitiveReferenceDestroy(other, 0) after", VoPrimitiveReferenceDestroy(s.other, 0), 0);
       s.other = nullptr;
     },
     true},
    {"a shadow reflectance's light list destroyed",
     [](Scene &s) {
       s.ring = VoShaderReferenceAppend(VoShaderReferenceCreate(s.stage->point_light()),
                                        VoShaderReferenceCreate(s.stage->point_light()));
       s.shader = VoShaderCreate(VO_SHADER_REFLECTANCE, "shadow");
       const VtTypedValue ring = Pointer(s.ring);
       Expect(s, "VoShaderSetArg(light list)", VoShaderSetArg(s.shader, "light list", &ring), 0);
       Expect(s, "VoMaterialSetShader", VoMaterialSetShader(s.material, s.shader), 0);
       Expect(s, "VoShaderDestroy", VoShaderDestroy(s.shader), 0);
     },
     When::kBefore,
     [](Scene &s) {
       Expect(s, "VoShaderReferenceDestroy", VoShaderReferenceDestroy(s.ring, 0), 0);
       // An argument set has the next render prepare the class again,
       // which reads its light list then.
       VtTypedValue clamp{};
       clamp.type = VtFloat;
       Expect(s, "VoShaderSetArg(shadow clamp)", VoShaderSetArg(s.shader, "shadow clamp", &clamp), 0);
     },
     false},
};

// The inner render of the nested case: both the list it started with and
// the one the outer render started with are protected.
void NestedInner(Scene &s) {
  Expect(s, "VoPrimitiveReferenceDestroy(list, 1) inside", VoPrimitiveReferenceDestroy(s.list, 1), kRefused,
         kRenderRunning);
  Expect(s, "VoPrimitiveReferenceDestroy(other, 0) inside", VoPrimitiveReferenceDestroy(s.other, 0), kRefused,
         kRenderRunning);
}

VtStatus OnProgress(uint32_t, VtTypedValue *) {
  Progress &p = g_progress;
  if (p.inside) {
    if (!p.inner_done) NestedInner(*p.scene);  // the first report of the render the case started
    p.inner_done = true;
  } else if (p.reports++ == 0) {
    p.c->act(*p.scene);
  }
  return 0;
}

// One case in this process: the fault found, empty when none.
std::string RunCase(const Case &c, uint32_t code, int32_t workers) {
  // The checks the stage makes in this process, after those the parent made.
  const ::testing::TestResult *checks = ::testing::UnitTest::GetInstance()->current_test_info()->result();
  const int checks_before = checks->total_part_count();
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  Scene s;
  {
    const Stage stage(Square());
    if (!stage.ok()) return "the stage was not made";
    s.stage = &stage;
    s.code = code;
    s.list = VoPrimitiveListGet();
    VtPrimitive *square = stage.primitive();
    s.other = VoPrimitiveListCreate(1, &square);
    const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {Pointer(const_cast<float *>(corners))};
    VtPrimitive *triangle = VoPrimitiveCreatePolygon(3, 1, ids, data);
    s.spare = VoPrimitiveListCreate(1, &triangle);
    s.material = VoPrimitiveGetMaterial(square);
    if (c.prepare != nullptr) c.prepare(s);
    std::vector<float> reference, picture;
    const VtStatus undisturbed = stage.Render(code, workers, &reference);
    vo_test::Recorded().clear();
    g_progress = Progress{&s, &c};
    if (c.when == When::kBefore) c.act(s);
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS,
                        c.when == When::kDuring ? reinterpret_cast<VtProc>(&OnProgress) : nullptr);
    const VtStatus status = stage.Render(code, workers, &picture);
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
    if (c.when == When::kDuring && g_progress.reports == 0) s.fault += "the render reported no progress; ";
    if (c.same_picture && status != undisturbed) s.fault += "the render answered otherwise; ";
    if (c.same_picture && picture != reference) s.fault += "the render drew otherwise; ";
    if (s.spare != nullptr) (void)VoPrimitiveReferenceDestroy(s.spare, 1);
    if (s.other != nullptr) (void)VoReferenceListDestroy(s.other, nullptr);
  }
  if (const VtStatus st = VoTerminate(); st != 0)
    s.fault += "VoTerminate answered " + std::to_string(st) + "; ";
  for (int i = checks_before; i < checks->total_part_count(); ++i)
    if (checks->GetTestPartResult(i).failed()) s.fault += "a check of the stage failed; ";
  return s.fault;
}

TEST(HeldObjects, WhatAHolderOrARunningRenderHoldsIsRefusedToItsDestroyAndTheRenderGoesOn) {
  for (const Case &c : kCases)
    for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u})
      for (int32_t workers : {0, 4}) {
        SCOPED_TRACE(::testing::Message() << c.name << ", render 0x" << std::hex << code << std::dec << " on "
                                          << workers << " workers");
        EXPECT_EQ(ForkedFault([&] { return RunCase(c, code, workers); }), "");
      }
}

}  // namespace
}  // namespace misuse

// Changes made from a render's progress callback to what the render holds,
// which wait for the outermost render's end and are made then by the same
// call with the arguments it was given: while the render runs the object's
// reads answer what the render reads, after it they answer the change; a
// waited change that fails when it is made (its light given back with the
// light list the callback set, a clear of a channel the buffer lacks) is
// reported with warning 3000 naming the call, never dropped silently. Each
// row runs in a process of its own for two render classes at 0 and 4
// workers, at the render's first progress report.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

constexpr uint32_t kWaitedCallFailed = 3000;

VtTypedValue Float(float f) {
  VtTypedValue v{};
  v.type = VtFloat;
  v.value.f = f;
  return v;
}

float ArgOf(VtShader *shader, const char *label) {
  VtTypedValue v{};
  return VoShaderGetArg(shader, label, &v) == 0 ? v.value.f : -1.0f;
}

uint32_t RegionX1(VtScreenBuffer *buffer) {
  uint32_t region[4] = {};
  return VoScreenBufferGetRegion(buffer, region) == 0 ? region[1] : 0;
}

// The procedures warning 3000 named since the row began.
std::vector<std::string> Reported() {
  std::vector<std::string> named;
  for (const auto &d : vo_test::WithMessage(kWaitedCallFailed))
    if (!d.strings.empty()) named.push_back(d.strings[0]);
  return named;
}

struct Row {
  const char *name;
  // In the callback: "" or the fault (an answer, or a read that did not
  // answer what the render reads).
  std::function<std::string(const Stage &)> during;
  // After the render: "" or the fault.
  std::function<std::string(const Stage &)> after;
};

const Row kRows[] = {
    {"an argument of a listed light reaches it after the render",
     [](const Stage &s) {
       const VtTypedValue v = Float(2.5f);
       if (VoShaderSetArg(s.point_light(), "intensity", &v) != 0) return std::string("the set answered");
       return ArgOf(s.point_light(), "intensity") == 2.5f ? std::string("the render's value was not read")
                                                          : "";
     },
     [](const Stage &s) {
       return ArgOf(s.point_light(), "intensity") == 2.5f && Reported().empty() ? ""
                                                                                : "the value did not arrive";
     }},
    {"a light given back at the render's end does not take the value silently",
     [](const Stage &s) {
       // The light lives on by the running list's hold alone; the list the
       // callback sets, made at the end, gives it back before the value.
       VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
       const VtTypedValue v = Float(2.5f);
       if (VoShaderDestroy(s.point_light()) != 0 || VoLightListSet(VoShaderReferenceCreate(ambient)) != 0 ||
           VoShaderSetArg(s.point_light(), "intensity", &v) != 0)
         return std::string("a call answered");
       return std::string();
     },
     [](const Stage &s) {
       VtTypedValue v{};
       if (VoShaderGetArg(s.point_light(), "intensity", &v) == 0) return "the light was not given back";
       return Reported() == std::vector<std::string>{"VoShaderSetArg"} ? ""
                                                                       : "warning 3000 did not name the set";
     }},
    {"the colour of the material the render uses reaches it after the render",
     [](const Stage &s) {
       const VtColour c{0.25f, 0.5f, 0.75f};
       if (VoMaterialSetColour(s.material(), &c) != 0) return std::string("the set answered");
       return std::string();
     },
     [](const Stage &s) {
       VtTypedValue v{};
       VtShader *colour = VoMaterialGetShader(s.material(), VO_SHADER_COLOUR);
       return VoShaderGetArg(colour, "colour", &v) == 0 && v.value.v[2] == 0.75f
                  ? ""
                  : "the colour did not arrive";
     }},
    {"the target's region waits and is set after the render",
     [](const Stage &s) {
       const uint32_t region[4] = {0, 7, 0, 5};
       if (VoScreenBufferSetRegion(s.buffer(), region) != 0) return std::string("the set answered");
       return RegionX1(s.buffer()) == 7 ? std::string("the render's region was not read") : "";
     },
     [](const Stage &s) { return RegionX1(s.buffer()) == 7 ? "" : "the region did not arrive"; }},
    {"a channel allocated and cleared on the target waits, and is made in order after the render",
     [](const Stage &s) {
       const VtTypedValue half = Float(0.5f);
       if (VoScreenBufferAllocateData(s.buffer(), VO_SB_ALPHA) != 0 ||
           VoScreenBufferClear(s.buffer(), VO_SB_ALPHA, &half) != 0)
         return std::string("a call answered");
       uint32_t mask = 0;
       return VoScreenBufferGetDataMask(s.buffer(), &mask) == 0 && mask == VO_SB_COLOUR
                  ? ""
                  : std::string("the render's channels were not kept");
     },
     [](const Stage &s) {
       VtTypedValue a{};
       if (VoScreenBufferGetPixel(s.buffer(), VO_SB_ALPHA, 3, 2, &a) != 0 || a.value.f != 0.5f)
         return "the channel was not allocated and cleared";
       return Reported().empty() ? "" : "a waited call failed";
     }},
    {"a listed light's class replaced waits: the render keeps the light data it prepared",
     [](const Stage &s) {
       VtTypedValue v{};
       if (VoShaderReplace(s.point_light(), "ambient") != 0) return std::string("the replace answered");
       return VoShaderGetArg(s.point_light(), "location", &v) == 0 ? ""
                                                                   : std::string("the light was replaced");
     },
     [](const Stage &s) {
       VtTypedValue v{};
       return VoShaderGetArg(s.point_light(), "location", &v) != 0 ? "" : "the replace did not arrive";
     }},
    {"a listed primitive's material and transform wait for the render's end",
     [](const Stage &s) {
       VtTransform *moved = VoTransformCreate();
       const double by[3] = {0.25, 0, 0};
       if (VoTransformTranslate(moved, by) != 0 ||
           VoPrimitiveSetMaterial(s.primitive(), VoMaterialCreate()) != 0 ||
           VoPrimitiveSetTransform(s.primitive(), moved) != 0)
         return std::string("a call answered");
       return VoPrimitiveGetMaterial(s.primitive()) == s.material() ? ""
                                                                    : std::string("the material changed");
     },
     [](const Stage &s) {
       return VoPrimitiveGetMaterial(s.primitive()) != s.material() && VoPrimitiveGetTransform(s.primitive())
                  ? ""
                  : "the material or the transform did not arrive";
     }},
    {"a write into the frame the render holds is refused, not made in its picture",
     [](const Stage &) {
       VtImage *image = VoImageCreate();
       image->width = image->height = 4;
       image->bits = 24;
       if (VoImageAllocateData(image) != 0) return std::string("no image");
       return VoDriverCopyImage(nullptr, image) == VO_STATUS_BAD_ARGUMENT && VoDriverEndFrame(nullptr) != 0
                  ? ""
                  : std::string("a write into the held frame answered");
     },
     [](const Stage &) { return Reported().empty() ? "" : "a refused call was made at the end"; }},
    {"a clear of a channel the target lacks fails at the end with warning 3000",
     [](const Stage &s) {
       const VtTypedValue far = Float(1.0f);
       return VoScreenBufferClear(s.buffer(), VO_SB_DEPTH, &far) == 0 ? std::string() : "the clear answered";
     },
     [](const Stage &) {
       return Reported() == std::vector<std::string>{"VoScreenBufferClear"}
                  ? ""
                  : "warning 3000 did not name the clear";
     }},
};

std::function<std::string()> g_during;
std::string g_fault;
bool g_acted = false;
VtStatus Progress(uint32_t, VtTypedValue *) {
  if (!g_acted) g_fault += g_during();
  g_acted = true;
  return 0;
}

std::string RunRow(const Row &row, uint32_t code, int32_t workers) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  const Stage &stage = *new Stage(Square());  // left to the process's end: a row gives back its parts
  if (!stage.ok()) return "the stage was not made";
  std::vector<float> alone, picture;
  const VtStatus status = stage.Render(code, workers, &alone);
  g_during = [&] { return row.during(stage); };
  if (VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress)) != 0) return "no callback";
  const VtStatus during = stage.Render(code, workers, &picture);
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
  std::string fault = g_acted ? g_fault : "the callback was not called; ";
  if (during != status || picture != alone) fault += "the running render answered or drew otherwise; ";
  return fault + row.after(stage);
}

TEST(WaitedChanges, AChangeOfWhatTheRenderHoldsReachesItAfterTheRenderOrIsReported) {
  for (const Row &row : kRows)
    for (uint32_t code : {0xc0001u, 0x70001u})
      for (int32_t workers : {0, 4}) {
        SCOPED_TRACE(::testing::Message() << row.name << ", render 0x" << std::hex << code << std::dec
                                          << " on " << workers << " workers");
        EXPECT_EQ(ForkedFault([&] { return RunRow(row, code, workers); }), "");
      }
}

}  // namespace
}  // namespace misuse

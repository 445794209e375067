// Renders of scenes an application may make by mistake, and renders an
// application disturbs from their own callbacks: each answers a status,
// crashes nowhere and gives the same picture for any worker count.

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <vo/vo_driver.h>

#include "misuse/light_rows.h"
#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

using Renders = Started;

// A square whose corners lie near 1e30 (finite, so accepted): every
// crossing of a pixel's scan line with its edges lies beyond the
// point-in-polygon scan's far limits (1e20), so the hit's weights come from
// the first vertex alone. The ray tracer's preview fills the picture with it
// on the calling thread and on four workers alike.
TEST_F(Renders, APolygonNear1e30IsRayTracedOnAnyWorkerCount) {
  const float far = 1e30f;
  const Stage stage(Mesh{{-far, -far, 0, far, -far, 0, far, far, 0, -far, far, 0}, {4}, {0, 1, 2, 3}});
  ASSERT_TRUE(stage.ok());
  std::vector<float> alone, workers;
  ASSERT_EQ(stage.Render(0x70001, 0, &alone), 0u);
  ASSERT_EQ(stage.Render(0x70001, 4, &workers), 0u);
  EXPECT_EQ(alone, workers);
  float sum = 0;
  for (float c : alone) sum += c;
  EXPECT_GT(sum, 0.0f);  // the square is lit where it is seen
}

// An area light whose emitter, listed in the scene, the application
// destroyed: every renderer refuses the render with the diagnostic of a
// primitive not live, whatever the worker count (bands of one row go to
// the worker threads).
TEST_F(Renders, AnAreaLightWhoseEmitterWasDestroyedRefusesTheRenderOnAnyWorkerCount) {
  const Stage stage(Square());
  const float corners[12] = {-0.5f, -0.5f, 2, -0.5f, 0.5f, 2, 0.5f, 0.5f, 2, 0.5f, -0.5f, 2};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1]{}, v{};
  data[0].type = v.type = VtGenericPtr;
  data[0].value.p = const_cast<float *>(corners);
  VtPrimitive *members[2] = {stage.primitive(), VoPrimitiveCreatePolygon(4, 1, ids, data)};
  v.value.p = members[1];
  VtShader *area = VoShaderCreate(VO_SHADER_LIGHT, "area");
  VtReference *lights = VoShaderReferenceCreate(area), *scene = VoPrimitiveListCreate(2, members);
  ASSERT_TRUE(stage.ok() && VoShaderSetArg(area, "primitive", &v) == 0 && VoLightListSet(lights) == 0 &&
              VoPrimitiveListSet(scene) == 0 && VoPrimitiveDestroy(members[1]) == 0);
  v.type = VtNat32;
  v.value.u = 1;
  ASSERT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &v), 0u);
  for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u})
    for (int32_t workers : {0, 4}) {
      std::vector<float> picture;
      vo_test::Recorded().clear();
      EXPECT_EQ(stage.Render(code, workers, &picture), VO_STATUS_BAD_ARGUMENT)
          << std::hex << code << " " << workers;
      EXPECT_FALSE(vo_test::WithMessage(2016).empty());  // the emitter is no live primitive
    }
  EXPECT_EQ(VoLightListSet(nullptr) | VoShaderReferenceDestroy(lights, 1) | VoPrimitiveListSet(nullptr) |
                VoReferenceListDestroy(scene, nullptr),
            0u);
}

// A member destroyed while listed, with a light of each class casting
// depth-map shadows: the light's map render gathers no caster from the
// destroyed record, and the render answers as it does with no such light
// listed (the member refused), on any worker count; forked, as a read of
// the record ended the process.
TEST_F(Renders, AMemberDestroyedWhileListedCastsNoShadowAndAnswersAsWithoutTheLight) {
  for (size_t l = 0; l < ShadowLightRows().size(); ++l)
    for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u, 0x70002u})
      for (int32_t workers : {0, 4}) {
        SCOPED_TRACE(::testing::Message() << ShadowLightRows()[l].title << " light, render 0x" << std::hex
                                          << code << std::dec << " on " << workers << " workers");
        EXPECT_EQ(
            ForkedFault([&]() -> std::string {
              const Stage &stage = *new Stage(FloorAndCaster());  // left to the process's end
              VtPrimitive *member = VoPrimitiveCopy(stage.primitive(), nullptr);
              if (!stage.ok() || member == nullptr ||
                  VoPrimitiveReferenceAppend(stage.list(), VoPrimitiveReferenceCreate(member)) == nullptr ||
                  VoPrimitiveListSet(stage.list()) != 0 || VoPrimitiveDestroy(member) != 0)
                return "the stage was not made";
              std::vector<float> picture;
              const VtStatus without = stage.Render(code, workers, &picture);
              if (ShadowLightListed(stage, ShadowLightRows()[l], 16) == nullptr) return "no light";
              const VtStatus with = stage.Render(code, workers, &picture);
              if (with == without) return "";
              return "answered " + std::to_string(with) + ", not " + std::to_string(without);
            }),
            "");
      }
}

// A member destroyed between two renders of a light of each class casting
// depth-map shadows: the first render answers 0, the second refuses the
// scene as every render over a destroyed member does (0x20000012, message
// 2016 naming the member), the area light's too. The member is the last of
// 200 copies all destroyed with it, and a tidy compacts a pool from one
// chunk's worth of free blocks, so the chunks that held them are empty
// and the map render's memory tidy gives them back before the renderer
// walks the list: liveness must be asked without reading the record.
// Forked: a read of the freed record ended the process (ASan).
TEST_F(Renders, AMemberDestroyedBetweenRendersWithMapShadowsIsRefusedUnread) {
  constexpr int kCopies = 200;  // several chunks of primitive records
  for (size_t l = 0; l < ShadowLightRows().size(); ++l)
    for (uint32_t code : {0x70002u, 0x70001u, 0x200001u, 0x200002u})
      for (int32_t workers : {0, 4}) {
        SCOPED_TRACE(::testing::Message() << ShadowLightRows()[l].title << " light, render 0x" << std::hex
                                          << code << std::dec << " on " << workers << " workers");
        EXPECT_EQ(ForkedFault([&]() -> std::string {
                    const Stage &stage = *new Stage(FloorAndCaster());  // left to the process's end
                    VtTypedValue chunk{};
                    chunk.type = VtNat32;
                    chunk.value.u = 1;
                    if (VoControlSet(VO_CONTROL_COMPACT_THRESHOLD, &chunk) != 0) return "no threshold";
                    std::vector<VtPrimitive *> copies;
                    for (int i = 0; i < kCopies; ++i)
                      copies.push_back(VoPrimitiveCopy(stage.primitive(), nullptr));
                    if (!stage.ok() || copies.back() == nullptr ||
                        VoPrimitiveReferenceAppend(stage.list(), VoPrimitiveReferenceCreate(copies.back())) ==
                            nullptr ||
                        VoPrimitiveListSet(stage.list()) != 0 ||
                        ShadowLightListed(stage, ShadowLightRows()[l], 16) == nullptr)
                      return "the stage was not made";
                    std::vector<float> picture;
                    if (const VtStatus first = stage.Render(code, workers, &picture); first != 0)
                      return "the first render answered " + std::to_string(first);
                    for (VtPrimitive *p : copies)
                      if (VoPrimitiveDestroy(p) != 0) return "a copy was not destroyed";
                    vo_test::Recorded().clear();
                    const VtStatus second = stage.Render(code, workers, &picture);
                    if (second != VO_STATUS_BAD_ARGUMENT)
                      return "the second render answered " + std::to_string(second);
                    for (const vo_test::Diagnostic &d : vo_test::WithMessage(2016))
                      if (!d.args.empty() && d.args[0].value.p == static_cast<void *>(copies.back()))
                        return "";
                    return "no diagnostic 2016 named the member";
                  }),
                  "");
      }
}

// A list names its member by address: while it still names a member the
// application destroyed, no primitive made meanwhile takes that address
// (the list's member would come back to life as another), and every render
// refuses the member; once the list lets it go, the address is free again
// (the pool hands out its last block given back first).
TEST_F(Renders, ADestroyedMemberKeepsItsAddressWhileAListNamesIt) {
  const Stage stage(FloorAndCaster());
  VtPrimitive *member = VoPrimitiveCopy(stage.primitive(), nullptr);
  VtPrimitive *members[2] = {member, stage.primitive()};  // the handle node names the floor
  VtReference *scene = VoPrimitiveListCreate(2, members);
  ASSERT_TRUE(stage.ok() && scene != nullptr && VoPrimitiveListSet(scene) == 0);
  ASSERT_EQ(VoPrimitiveDestroy(member), 0u);
  std::vector<VtPrimitive *> made;
  for (int i = 0; i < 300; ++i) {
    made.push_back(VoPrimitiveCreate(nullptr, VO_PRIMITIVE_POLYGON));
    ASSERT_NE(made.back(), nullptr);
    EXPECT_NE(made.back(), member) << "made " << i;
  }
  for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u}) {
    std::vector<float> picture;
    vo_test::Recorded().clear();
    EXPECT_EQ(stage.Render(code, 0, &picture), VO_STATUS_BAD_ARGUMENT) << std::hex << code;
    EXPECT_FALSE(vo_test::WithMessage(2016).empty()) << std::hex << code;
  }
  for (VtPrimitive *p : made) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_EQ(VoReferenceListRemoveData(scene, member), scene);
  for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u}) {
    std::vector<float> picture;
    EXPECT_EQ(stage.Render(code, 0, &picture), 0u) << std::hex << code;
  }
  VtPrimitive *again = VoPrimitiveCreate(nullptr, VO_PRIMITIVE_POLYGON);
  EXPECT_EQ(again, member);  // given back when its last node went
  EXPECT_EQ(
      VoPrimitiveDestroy(again) | VoPrimitiveListSet(stage.list()) | VoReferenceListDestroy(scene, nullptr),
      0u);
}

// A hither of 1e-4 with yon at 1e6 is used as 1000 (a thousandth of yon),
// beyond the square 6 away: nothing is drawn, and the application is told
// once for the distances it gave, however many renders (each building the
// point light's shadow maps in views of the library's own) follow. A hither
// of zero, moved as well, is the ordinary path and says nothing.
TEST_F(Renders, AGivenHitherMovedPastTheSceneIsToldOnceForAnyNumberOfRenders) {
  const Stage stage(Square());
  ASSERT_TRUE(stage.ok());
  ASSERT_EQ(ShadowsOn(stage.point_light()), 0u);
  constexpr uint32_t kHitherMoved = 2927;
  struct Step {
    double hither;
    size_t told;  // warnings after the step's renders
  };
  const Step steps[] = {{1e-4, 1}, {0, 1}, {1e-4, 2}};
  vo_test::Recorded().clear();
  for (const Step &step : steps) {
    ASSERT_EQ(VoViewSetClipping(nullptr, step.hither, 1e6), 0u);
    for (int32_t workers : {0, 4, 0}) {
      std::vector<float> picture;
      ASSERT_EQ(stage.Render(0x200001, workers, &picture), 0u);
      for (float c : picture) ASSERT_EQ(c, 0.0f) << step.hither;
    }
    EXPECT_EQ(vo_test::WithMessage(kHitherMoved).size(), step.told) << step.hither;
  }
}

// What a progress callback does to the render that reports to it, once, at
// its first report.
enum class During { kNothing, kTerminate, kDestroy, kRender };
struct Probe {
  During what = During::kNothing;
  VtPrimitive *primitive = nullptr;  // the rendered one
  VtPrimitive *spare = nullptr;      // one the list does not reach
  int reports = 0;
  VtStatus answer = 0, spare_answer = 1;
  uint32_t code = 0;  // of the render started from the callback
  const Stage *stage = nullptr;
  std::vector<float> inner{};  // the picture that render left
};
Probe g_probe;

VtStatus Progress(uint32_t, VtTypedValue *) {
  if (g_probe.reports++ != 0) return 0;
  switch (g_probe.what) {
    case During::kNothing: break;
    case During::kTerminate: g_probe.answer = VoTerminate(); break;
    case During::kDestroy:
      g_probe.answer = VoPrimitiveDestroy(g_probe.primitive);
      g_probe.spare_answer = VoPrimitiveDestroy(g_probe.spare);
      break;
    case During::kRender: g_probe.answer = g_probe.stage->RenderAside(g_probe.code, &g_probe.inner); break;
  }
  return 0;
}

// Every renderer that reports progress, at 0 and 4 workers: from its own
// progress callback, stopping the library and destroying the primitive it
// renders are refused (with a diagnostic naming the call), and the render
// goes on to the status and picture it has undisturbed; a primitive the
// list does not reach is destroyed as at any time.
TEST_F(Renders, ProgressCallbacksCannotPullTheSceneFromUnderTheirRender) {
  const Stage stage(Square());
  ASSERT_TRUE(stage.ok());
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress)), 0u);
  for (uint32_t code : {0xc0001u, 0xc0003u, 0x200001u, 0x200002u, 0x70001u, 0x190001u})
    for (int32_t workers : {0, 4}) {
      SCOPED_TRACE(::testing::Message() << std::hex << code << std::dec << " on " << workers << " workers");
      std::vector<float> reference, picture;
      g_probe = Probe{};
      const VtStatus status = stage.Render(code, workers, &reference);
      EXPECT_GT(g_probe.reports, 0);
      for (During what : {During::kTerminate, During::kDestroy}) {
        SCOPED_TRACE(static_cast<int>(what));
        const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        const uint32_t ids[1] = {VO_VERT_WORLD};
        VtTypedValue data[1]{};
        data[0].type = VtGenericPtr;
        data[0].value.p = const_cast<float *>(corners);
        g_probe = Probe{what, stage.primitive(), VoPrimitiveCreatePolygon(3, 1, ids, data)};
        ASSERT_NE(g_probe.spare, nullptr);
        vo_test::Recorded().clear();
        EXPECT_EQ(stage.Render(code, workers, &picture), status);
        EXPECT_EQ(picture, reference);
        EXPECT_EQ(g_probe.answer, VO_STATUS_BAD_ARGUMENT);
        if (what == During::kDestroy)
          EXPECT_EQ(g_probe.spare_answer, 0u);
        else
          EXPECT_EQ(VoPrimitiveDestroy(g_probe.spare), 0u);
        const auto refused = vo_test::WithMessage(2902);
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_EQ(refused[0].strings, std::vector<std::string>{
                                          what == During::kTerminate ? "VoTerminate" : "VoPrimitiveDestroy"});
      }
    }
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
}

// A render started from the progress callback of every renderer that
// reports progress, into a screen buffer set aside for it, runs in a frame
// of its own: it answers what the render answers alone and leaves that
// render's picture, and the
// outer render's status and picture are those it has without it. On the
// calling thread (0 workers), on 4 workers whose bands are below the
// threaded minimum (traced one after another on the calling thread, each
// band with its own viewport) and on 4 worker threads; oversampled too
// (the renderers' own enlarged views are not the application's).
TEST_F(Renders, ARenderStartedFromAProgressCallbackLeavesTheOuterOneAsItWas) {
  const Stage stage(Square());
  ASSERT_TRUE(stage.ok());
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress)), 0u);
  constexpr uint32_t kOversampling = 0xc000e;  // the standard renderer's control, which every pass reads
  struct Farm {
    int32_t workers;
    uint32_t threaded_band;  // rows a band needs to go to a worker thread (12 rows: 3 a band)
  };
  for (uint32_t code : {0xc0001u, 0xc0003u, 0x200001u, 0x200002u, 0x70001u, 0x70002u, 0x190001u})
    for (const Farm farm : {Farm{0, 4}, Farm{4, 4}, Farm{4, 1}})
      for (uint32_t factor : {1u, 2u}) {
        SCOPED_TRACE(::testing::Message()
                     << std::hex << code << std::dec << " on " << farm.workers << " workers, threaded band "
                     << farm.threaded_band << ", oversampled " << factor);
        VtTypedValue v{};
        v.type = VtNat32;
        v.value.u = farm.threaded_band;
        ASSERT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &v), 0u);
        v.value.u = factor;
        ASSERT_EQ(VoControlSet(kOversampling, &v), 0u);
        std::vector<float> reference, picture;
        g_probe = Probe{};
        const VtStatus status = stage.Render(code, farm.workers, &reference);
        float sum = 0;
        for (float c : reference) sum += c;
        EXPECT_EQ(sum > 0, code != 0x190001u);  // the hidden-line renderer draws lines, not into the buffer
        g_probe = Probe{During::kRender};
        g_probe.code = code;
        g_probe.stage = &stage;
        EXPECT_EQ(stage.Render(code, farm.workers, &picture), status);
        EXPECT_GT(g_probe.reports, 1);  // the inner render's reports come too
        EXPECT_EQ(g_probe.answer, status);
        EXPECT_EQ(g_probe.inner, reference);
        EXPECT_EQ(picture, reference);
      }
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
}

// What the hidden-line renderer draws through the driver's shape request,
// and the render its interrupt poll or progress callback starts at one poll
// or report (counted for the outer render only).
struct Drawn {
  std::vector<std::array<float, 8>> lines{};  // both ends of each piece drawn
  int polls = 0, reports = 0, at_poll = -1, at_report = -1;
  uint32_t code = 0;
  bool inside = false;
  VtStatus answer = 0;
  const Stage *stage = nullptr;
  std::vector<float> inner{};  // the picture the inner render left
};
Drawn g_drawn;

void StartInner() {
  g_drawn.inside = true;
  g_drawn.answer = g_drawn.stage->RenderAside(g_drawn.code, &g_drawn.inner);
  g_drawn.inside = false;
}
VtStatus LinePoll() {
  if (!g_drawn.inside && ++g_drawn.polls == g_drawn.at_poll) StartInner();
  return 0;
}
VtStatus LineProgress(uint32_t, VtTypedValue *) {
  if (!g_drawn.inside && ++g_drawn.reports == g_drawn.at_report) StartInner();
  return 0;
}
VtStatus LineDraw(uint32_t type, uint32_t count, VtDrawRecord *record) {
  if (g_drawn.inside || (type & VO_DRAW_POINTS_PROJECTED) == 0) return 0;
  auto **p = static_cast<float **>(record->projected);
  for (uint32_t i = 1; i < count; ++i)
    g_drawn.lines.push_back(
        {p[i - 1][0], p[i - 1][1], p[i - 1][2], p[i - 1][3], p[i][0], p[i][1], p[i][2], p[i][3]});
  return 0;
}

// The hidden-line renderer keeps its work in the scene (records on polygons
// and edges, clipped outlines, projected vertices held divided) from its
// preparation to its clean-up. A render started meanwhile from its
// interrupt poll or its progress callback, half-way through the outer
// render's polls or reports, at 0 and 4 workers: a scanline, wireframe or
// hidden-line render, which would set the scene's polygons up again, is
// refused with message 2914 naming it and the outer render; a ray-traced
// one answers and leaves the picture it does alone in the screen buffer set
// aside for it. Either way the outer
// render answers and draws what it does alone.
TEST_F(Renders, ARenderStartedWhileTheHiddenLineRendererKeepsItsWorkInTheSceneLeavesItAsItWas) {
  // Two squares, the nearer hiding a corner of the farther.
  const Stage stage(Mesh{{-1,    -1,    0, 1,    -1,    0, 1,    1,    0, -1,    1,    0,
                          -0.5f, -0.5f, 1, 1.5f, -0.5f, 1, 1.5f, 1.5f, 1, -0.5f, 1.5f, 1},
                         {4, 4},
                         {0, 1, 2, 3, 4, 5, 6, 7}});
  ASSERT_TRUE(stage.ok());
  ASSERT_EQ(VoCallBackSet(VO_DRIVER_DRAW, reinterpret_cast<VtProc>(&LineDraw)), 0u);
  ASSERT_EQ(VoCallBackSet(VO_DRIVER_POLL, reinterpret_cast<VtProc>(&LinePoll)), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&LineProgress)), 0u);
  const uint32_t inners[] = {0x190001, 0x190002, 0xc0001, 0xc0003, 0x200001,
                             0x200002, 0xa0001,  0x70001, 0x70002};
  for (int32_t workers : {0, 4}) {
    std::map<uint32_t, std::pair<VtStatus, std::vector<float>>> alone;
    for (uint32_t code : inners) {
      g_drawn = Drawn{};
      alone[code].first = stage.Render(code, workers, &alone[code].second);
    }
    for (uint32_t outer : {0x190001u, 0x190002u}) {
      g_drawn = Drawn{};
      std::vector<float> picture;
      const VtStatus status = stage.Render(outer, workers, &picture);
      const Drawn undisturbed = g_drawn;
      ASSERT_FALSE(undisturbed.lines.empty());
      for (uint32_t inner : inners)
        for (bool from_poll : {true, false}) {
          SCOPED_TRACE(::testing::Message()
                       << std::hex << inner << " from " << outer << (from_poll ? "'s poll" : "'s progress")
                       << std::dec << " on " << workers << " workers");
          g_drawn = Drawn{};
          g_drawn.code = inner;
          g_drawn.stage = &stage;
          if (from_poll)
            g_drawn.at_poll = undisturbed.polls / 2;
          else
            g_drawn.at_report = undisturbed.reports / 2;
          vo_test::Recorded().clear();
          EXPECT_EQ(stage.Render(outer, workers, &picture), status);
          EXPECT_EQ(g_drawn.lines, undisturbed.lines);
          if (VO_CODE_MODULE(inner) == VO_MODULE_RAYTRACER) {
            EXPECT_EQ(g_drawn.answer, alone[inner].first);
            EXPECT_EQ(g_drawn.inner, alone[inner].second);
            continue;
          }
          EXPECT_EQ(g_drawn.answer, VO_STATUS_BAD_ARGUMENT);
          const auto refused = vo_test::WithMessage(2914);
          ASSERT_EQ(refused.size(), 1u);
          EXPECT_EQ(refused[0].args.at(0).value.u, inner);
          EXPECT_EQ(refused[0].args.at(1).value.u, outer);
        }
    }
  }
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
}

}  // namespace
}  // namespace misuse

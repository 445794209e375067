// Module 68: controls, the callback procedure, execute codes, the list and
// the services of post-process classes.

#include <gtest/gtest.h>

#include <cmath>

#include <vo/vo_multit.h>

#include "postprocess_fixture.h"
#include "render/voshpost/postprocess.h"
#include "kernel/vosystem/context.h"
#include "kernel/vosystem/module_entry.h"

namespace vo::test {
namespace {

VtTypedValue Get(uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(code, &v), 0u) << std::hex << code;
  return v;
}

TEST_F(PostprocessTest, ControlsAnswerTheirDefaultsAndTypesAndRefuseOtherCodes) {
  struct Row {
    uint32_t code, type, word;
  };
  const Row rows[] = {{0x440002, VtEnum, 0x440000}, {0x440003, VtEnum, 0x440000},
                      {0x440004, VtGenericPtr, 0},  {0x440005, VtGenericPtr, 0},
                      {0x440006, VtGenericPtr, 0},  {0x440007, VtGenericPtr, 0},
                      {0x440008, VtEnum, 0x440002}, {0x440009, VtGenericPtr, 0},
                      {0x44000a, VtBoolean, 1},     {0x44000b, 39, 1},
                      {0x44000c, VtEnum, 0x440003}};
  for (const Row &r : rows) {
    const VtTypedValue v = Get(r.code);
    EXPECT_EQ(v.type, r.type) << std::hex << r.code;
    EXPECT_EQ(v.value.u, r.word) << std::hex << r.code;
  }
  EXPECT_EQ(Get(0x440001).type, static_cast<uint32_t>(VtFloat));
  EXPECT_EQ(Get(0x440001).value.f, 1000.0f);
  VtTypedValue v = TypedFloat(2.5f);
  EXPECT_EQ(VoControlSet(0x440001, &v), 0u);
  EXPECT_EQ(Get(0x440001).value.f, 2.5f);
  v = TypedPointer(reinterpret_cast<void *>(uintptr_t{0x7f0000001000}));
  EXPECT_EQ(VoControlSet(0x440006, &v), 0u);
  EXPECT_EQ(Get(0x440006).value.p, v.value.p);
  v = TypedFloat(1.0f);
  EXPECT_EQ(VoControlSet(0x440002, &v), VO_STATUS_BAD_ARGUMENT);  // wrong type
  EXPECT_EQ(CountPosted(444), 1);
  VtTypedValue answer{};
  ASSERT_EQ(VoEntryPostprocess(VO_QUERY_CONTROL_GET, &answer), 0u);
  auto get = reinterpret_cast<VtControlGetProc>(answer.value.fn);
  ASSERT_EQ(VoEntryPostprocess(VO_QUERY_CONTROL_SET, &answer), 0u);
  auto set = reinterpret_cast<VtControlSetProc>(answer.value.fn);
  EXPECT_EQ(get(0x440000, &v), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(get(0x44000d, &v), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(set(0x44000d, &v), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(VoEntryPostprocess(VO_QUERY_CALLBACK, &answer), 0u);
  VtProc slot = nullptr;
  EXPECT_EQ(reinterpret_cast<VtCallBackProc>(answer.value.fn)(0, 0x440001, &slot), 0x20000102u);
  EXPECT_EQ(VoExecute(0x440000), 0u);
  EXPECT_EQ(VoExecute(0x440007), VO_STATUS_BAD_ARGUMENT);
}

TEST(PostprocessModule, AControlBeforeStartIsRefused) {
  VtTypedValue answer{};
  ASSERT_EQ(VoEntryPostprocess(VO_QUERY_CONTROL_GET, &answer), 0u);
  VtTypedValue v{};
  EXPECT_EQ(reinterpret_cast<VtControlGetProc>(answer.value.fn)(0x440001, &v), 0x20000002u);
  EXPECT_EQ(VoPostprocessStatusGet(), 0u);
  EXPECT_EQ(VoPostprocessPollInterrupt(), 0u);
}

TEST_F(PostprocessTest, ServicesKeepTheClassStatusAndSwapTheQuietFlag) {
  EXPECT_EQ(VoPostprocessStatusSet(0x20000012), 0u);
  EXPECT_EQ(VoPostprocessStatusGet(), 0x20000012u);
  uint32_t old = 7;
  EXPECT_EQ(VoPostprocessQuietSwap(1, &old), 0u);
  EXPECT_EQ(old, 0u);
  EXPECT_EQ(VoPostprocessQuietSwap(0, &old), 0u);
  EXPECT_EQ(old, 1u);
  EXPECT_EQ(VoPostprocessPollInterrupt(), 0u);  // the recording driver polls nothing
  EXPECT_EQ(VoPostprocessReportProgress(50.0), 0u);
}

TEST_F(PostprocessTest, AWalkWithoutAListOrABufferShowsNothing) {
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(737), 1);
  (void)Listed("test invert");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(736), 1);
  EXPECT_TRUE(RowDriver::frames.empty());
}

TEST_F(PostprocessTest, AShaderOfAnotherTypeStopsTheWalkAfterTheFirstRanAndTheBufferIsShownOnce) {
  VtScreenBuffer *b = Current(4, 2, [](uint32_t x, uint32_t) {
    return std::array<float, 3>{x * 0.25f, 0, 0};
  });
  (void)Listed("test invert");
  VtShader *other = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  ASSERT_NE(other, nullptr);
  list_ = VoShaderReferenceAppend(list_, VoShaderReferenceCreate(other));
  ASSERT_EQ(VoPostprocessListSet(list_), 0u);
  RowDriver::Reset();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 2u);
  EXPECT_FLOAT_EQ(Red(b, 1, 0), 0.75f);
  EXPECT_EQ(CountPosted(774), 1);
  EXPECT_EQ(g_posted.back().message, 809u);
  EXPECT_EQ(g_posted.back().status, 0x08000000u);
  EXPECT_EQ(RowDriver::frames.size(), 1u);
}

TEST_F(PostprocessTest, EntriesThatAreNoShadersGive775AndAFailingPrepareStopsTheWalk) {
  (void)Current(2, 2, [](uint32_t, uint32_t) { return std::array<float, 3>{0.5f, 0, 0}; });
  VtReference *bad = VoShaderReferenceCreate(nullptr);
  ASSERT_EQ(VoPostprocessListSet(bad), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 2u);
  EXPECT_EQ(CountPosted(775), 1);
  int junk = 0;
  bad->data = &junk;
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 2u);
  EXPECT_EQ(CountPosted(775), 2);
  bad->data = nullptr;
  EXPECT_EQ(VoShaderReferenceDestroy(bad, 0), 0u);
  TestPostData *first = Listed("test kernel");
  (void)Listed("test gather");
  first->prepareStatus = VO_STATUS_BAD_ARGUMENT;
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(first->calls, 0u);
  EXPECT_EQ(PostClasses::gatherCalls, 0u);
  first->prepareStatus = 0;
  Listed("test bad way");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2662), 1);
}

TEST_F(PostprocessTest, AContextCopyDuringARunBindsTheMastersOutputAndOutsideARunBindsNothing) {
  VtScreenBuffer *b = Current(2, 2, [](uint32_t, uint32_t) { return std::array<float, 3>{0.5f, 0, 0}; });
  struct Seen {
    VtScreenBuffer *masterBo = nullptr, *copyBo = nullptr;
    uint32_t flag = 0;
    bool ownLink = false, ownRandom = false;
  };
  auto look = [](Seen *seen) {
    seen->masterBo = VoShaderGetGlobals()->Bo;
    VtStatus st = 1;
    ContextCopyTable *t = ContextCopiesMake(&st);
    ASSERT_EQ(st, 0u);
    ContextCopyTable *before = ContextCopiesInstall(t);
    const post::VtPostprocessContext *c = post::State();
    seen->copyBo = VoShaderGetGlobals()->Bo;
    seen->flag = c->copy;
    seen->ownLink = c->list_head[1] == &c->list_head[0];
    seen->ownRandom = c->random != nullptr && c->random != c->master->random;
    (void)ContextCopiesInstall(before);
    EXPECT_EQ(ContextCopiesFree(t), 0u);
  };
  Seen during, after;
  PostClasses::probe = [&] { look(&during); };
  (void)Listed("test probe");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_NE(during.masterBo, nullptr);
  EXPECT_NE(during.masterBo, b);  // the run's separate output
  EXPECT_EQ(during.copyBo, during.masterBo);
  EXPECT_EQ(during.flag, 1u);
  EXPECT_TRUE(during.ownLink);
  EXPECT_TRUE(during.ownRandom);
  look(&after);
  EXPECT_EQ(after.copyBo, nullptr);
  EXPECT_EQ(after.flag, 1u);
  EXPECT_FALSE(after.ownRandom);
  EXPECT_EQ(post::State()->copy, 0u);
}

TEST_F(PostprocessTest, AJobSchemeOtherThanBandedOrEvenIsRefusedAndRowDeliveryIsRestored) {
  (void)Current(3, 3, [](uint32_t, uint32_t) { return std::array<float, 3>{1, 1, 1}; });
  (void)Listed("test gather");
  VtTypedValue v = TypedWord(VtEnum, 2);
  ASSERT_EQ(VoControlSet(VO_CONTROL_MT_JOB_SCHEME, &v), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(PostClasses::gatherCalls, 0u);
  EXPECT_EQ(Get(VO_CONTROL_MT_DELIVER_ROWS).value.u, 1u);
}

TEST_F(PostprocessTest, AnInterruptAtTheDriversSecondPollEndsTheClassAndTheWalkAndTheBufferIsStillShown) {
  ASSERT_EQ(VoDriverSet(RecordingDriver::driver), 0u);
  RecordingDriver::Reset();
  RecordingDriver::interrupt_from = 2;
  VtScreenBuffer *b = Current(2, 3, [](uint32_t, uint32_t) {
    return std::array<float, 3>{0.25f, 0.25f, 0.25f};
  });
  (void)Listed("test invert");
  TestPostData *after = Listed("test kernel");
  // The recorder handles no rows: its show answers 258 beside the interrupt.
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_PP_INTERRUPTED | VO_DRIVER_NOT_HANDLED);
  EXPECT_FLOAT_EQ(Red(b, 0, 0), 0.75f);  // the first row went through
  EXPECT_FLOAT_EQ(Red(b, 0, 1), 0.25f);  // the second poll stopped the class
  EXPECT_EQ(after->calls, 0u);
  EXPECT_EQ(RecordingDriver::frames, 1);
}

class PostprocessStartTest : public PooledKernelTest {};

TEST_F(PostprocessStartTest, AStartRunningOutOfMemoryAtAnyStepFailsAndALaterStartSucceeds) {
  for (VtQueryFunction m :
       {&VoEntryView, &VoEntryGeometry, &VoEntryTransforms, &VoEntryShader, &VoEntryScreenBuffer})
    ASSERT_EQ(VoInstallModule(m), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  VtTypedValue answer{};
  ASSERT_EQ(VoEntryPostprocess(VO_QUERY_START, &answer), 0u);
  auto start = reinterpret_cast<VtStatus (*)()>(answer.value.fn);
  ASSERT_EQ(VoEntryPostprocess(VO_QUERY_TERMINATE, &answer), 0u);
  auto terminate = reinterpret_cast<VtStatus (*)()>(answer.value.fn);
  // The first start registers the classes, which the kernel keeps; a later
  // start makes the record and the stage's own shaders.
  ASSERT_EQ(start(), 0u);
  ASSERT_EQ(terminate(), 0u);
  EveryAllocationFails([&] {
    const VtStatus st = start();
    (void)terminate();
    return st;
  });
  EXPECT_EQ(post::State(), nullptr);
}

}  // namespace
}  // namespace vo::test

// The per-primitive record (property 322): sharing by copies, invalidation
// of primitives and list trees, procedural classes, and the record's life
// around the module's terminate.
#include "backends/voopengl/opengl_fixture.h"

namespace vo::test {
namespace {

using Records = OpenGLTest;

struct ClassCalls {
  static inline std::vector<std::string> log;
  static VtStatus Invalidate(VtPrimitive *, uintptr_t data, uint32_t flags) {
    log.push_back("invalidate " + std::to_string(data) + " " + std::to_string(flags));
    return 0;
  }
  static VtStatus Release(VtPrimitive *, uintptr_t data) {
    log.push_back("release " + std::to_string(data));
    return 0;
  }
};

// A display list compiled in the current frame's group.
uint32_t ListMade() {
  const GLuint list = glGenLists(1);
  glNewList(list, GL_COMPILE);
  glEndList();
  return list;
}

TEST_F(Records, ACopySharesTheRecordAndTheLastSharerFreesIt) {
  FrameBegin();
  VtPrimitive *p = Triangle();
  VtOpenGLPrimitiveData *r = Record(p);
  ASSERT_NE(r, nullptr);
  const uint32_t list = ListMade();
  r->display_list = list;
  r->list_group = ogldrv::FrameShareGroup();
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(opengl::RecordOf(copy), r);
  EXPECT_EQ(r->references, 2u);
  // Invalidating the copy drops the original's list: it is the same record.
  EXPECT_EQ(VoOpenGLPrimitiveInvalidate(copy, VO_OPENGL_INVALID_GEOMETRY), 0u);
  EXPECT_EQ(r->display_list, 0u);
  EXPECT_EQ(glIsList(list), GL_FALSE);
  EXPECT_EQ(VoPrimitiveDestroy(copy), 0u);
  EXPECT_EQ(r->references, 1u);
  EXPECT_EQ(c_->records, r);
  primitives_.clear();
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_EQ(c_->records, nullptr);
}

TEST_F(Records, AppearanceFlagDropsTheListOnlyInDisplayListModeAndTheClassSeesTheFlagsGiven) {
  FrameBegin();
  VtOpenGLProceduralClass *k = VoOpenGLProceduralClassCreate();
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(VoOpenGLProceduralClassSetCallback(k, VO_OPENGL_SLOT_INVALIDATE,
                                               reinterpret_cast<VtProc>(&ClassCalls::Invalidate)),
            0u);
  EXPECT_EQ(VoOpenGLProceduralClassSetCallback(k, 4, nullptr), 2u);
  EXPECT_EQ(VoOpenGLProceduralClassSetCallback(nullptr, 0, nullptr), 2u);
  VtPrimitive *p = Triangle();
  ASSERT_EQ(VoOpenGLPrimitiveSetProceduralClass(p, k, 7), 0u);
  VtOpenGLPrimitiveData *r = opengl::RecordOf(p);
  ASSERT_NE(r, nullptr);
  r->display_list = ListMade();
  r->list_group = ogldrv::FrameShareGroup();
  ClassCalls::log.clear();
  EXPECT_EQ(VoOpenGLPrimitiveInvalidate(p, VO_OPENGL_INVALID_APPEARANCE), 0u);
  EXPECT_NE(r->display_list, 0u);  // immediate mode: the list stays
  c_->display_list_mode = 1;
  EXPECT_EQ(VoOpenGLPrimitiveInvalidate(p, VO_OPENGL_INVALID_APPEARANCE), 0u);
  EXPECT_EQ(r->display_list, 0u);
  EXPECT_EQ(ClassCalls::log, (std::vector<std::string>{"invalidate 7 16", "invalidate 7 16"}));
  EXPECT_EQ(VoOpenGLPrimitiveInvalidate(nullptr, 1), 2u);
  EXPECT_EQ(VoOpenGLPrimitiveSetProceduralClass(nullptr, k, 0), 2u);
  primitives_.clear();
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  EXPECT_EQ(VoOpenGLProceduralClassDestroy(k), 0u);
}

TEST_F(Records, ANewClassDropsTheOldDrawingAndReleasesTheOldUserData) {
  FrameBegin();
  VtOpenGLProceduralClass *a = VoOpenGLProceduralClassCreate(), *b = VoOpenGLProceduralClassCreate();
  (void)VoOpenGLProceduralClassSetCallback(a, VO_OPENGL_SLOT_RELEASE,
                                           reinterpret_cast<VtProc>(&ClassCalls::Release));
  VtPrimitive *p = Triangle();
  ASSERT_EQ(VoOpenGLPrimitiveSetProceduralClass(p, a, 5), 0u);
  VtOpenGLPrimitiveData *r = opengl::RecordOf(p);
  r->display_list = ListMade();
  r->list_group = ogldrv::FrameShareGroup();
  ClassCalls::log.clear();
  ASSERT_EQ(VoOpenGLPrimitiveSetProceduralClass(p, b, 6), 0u);
  EXPECT_EQ(ClassCalls::log, std::vector<std::string>{"release 5"});
  EXPECT_EQ(r->display_list, 0u);
  EXPECT_EQ(r->procedural_class, b);
  EXPECT_EQ(r->user_data, 6u);
  primitives_.clear();
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);  // before its class goes
  (void)VoOpenGLProceduralClassDestroy(a);
  (void)VoOpenGLProceduralClassDestroy(b);
}

// A class a primitive's record draws through stays until the primitive
// takes another; then it goes once, and a second destroy is refused.
TEST_F(Records, AClassInUseIsNotDestroyedAndADestroyedOneIsRefused) {
  VtOpenGLProceduralClass *k = VoOpenGLProceduralClassCreate();
  VtPrimitive *p = Triangle();
  ASSERT_EQ(VoOpenGLPrimitiveSetProceduralClass(p, k, 3), 0u);
  g_posted.clear();
  EXPECT_EQ(VoOpenGLProceduralClassDestroy(k), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(2961), 1);
  EXPECT_EQ(opengl::RecordOf(p)->procedural_class, k);
  ASSERT_EQ(VoOpenGLPrimitiveSetProceduralClass(p, nullptr, 0), 0u);
  EXPECT_EQ(VoOpenGLProceduralClassDestroy(k), 0u);
  EXPECT_EQ(VoOpenGLProceduralClassDestroy(k), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(2960), 1);
}

// A class made before the library starts belongs to no start: it is
// destroyed while the library is stopped or while it runs, once (the leak
// check of the sanitizer build sees none kept). One made while the library
// runs goes with its terminate.
TEST(ProceduralClassesAcrossStarts, AClassMadeBeforeTheStartIsDestroyedBeforeOrAfterIt) {
  for (const bool started : {false, true}) {
    SCOPED_TRACE(started ? "destroyed while running" : "destroyed before the start");
    VtOpenGLProceduralClass *k = VoOpenGLProceduralClassCreate();
    ASSERT_NE(k, nullptr);
    if (started) {
      ASSERT_EQ(VoInitialise(), 0u);
    }
    EXPECT_EQ(VoOpenGLProceduralClassDestroy(k), 0u);
    EXPECT_EQ(VoOpenGLProceduralClassDestroy(k),
              started ? uint32_t{VO_STATUS_BAD_ARGUMENT} : uint32_t{VO_STATUS_NOT_INITIALISED});
    if (started) {
      VtOpenGLProceduralClass *made = VoOpenGLProceduralClassCreate();
      ASSERT_NE(made, nullptr);
      EXPECT_EQ(VoTerminate(), 0u);
      EXPECT_EQ(VoOpenGLProceduralClassDestroy(made), uint32_t{VO_STATUS_NOT_INITIALISED});
    }
  }
}

TEST_F(Records, ListTreesInvalidateEachMemberOnceAndACycleIsRefused) {
  VtOpenGLProceduralClass *k = VoOpenGLProceduralClassCreate();
  (void)VoOpenGLProceduralClassSetCallback(k, VO_OPENGL_SLOT_INVALIDATE,
                                           reinterpret_cast<VtProc>(&ClassCalls::Invalidate));
  VtPrimitive *a = Triangle(), *b = Triangle();
  (void)VoOpenGLPrimitiveSetProceduralClass(a, k, 1);
  (void)VoOpenGLPrimitiveSetProceduralClass(b, k, 2);
  VtPrimitive *inner = GeometryTest::ListOf({b});
  VtPrimitive *outer = GeometryTest::ListOf({a, inner});
  primitives_.push_back(inner);
  primitives_.push_back(outer);
  VtReference *scene = VoPrimitiveListCreate(1, &outer);
  ClassCalls::log.clear();
  EXPECT_EQ(VoOpenGLPrimitiveListInvalidate(scene, 2), 0u);
  EXPECT_EQ(ClassCalls::log, (std::vector<std::string>{"invalidate 1 2", "invalidate 2 2"}));
  // The inner list made to contain the outer one: a cycle.
  VtReference **members = PropertyAt<VtReference *>(inner, nullptr, VO_PRIM_PREFS);
  VtReference *kept = *members;
  *members = VoPrimitiveListCreate(1, &outer);
  g_posted.clear();
  EXPECT_EQ(VoOpenGLPrimitiveListInvalidate(scene, 2), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(2012), 1);
  (void)VoReferenceListDestroy(*members, nullptr);
  *members = kept;
  (void)VoReferenceListDestroy(scene, nullptr);
  for (VtPrimitive *q : primitives_) (void)VoPrimitiveDestroy(q);
  primitives_.clear();
  (void)VoOpenGLProceduralClassDestroy(k);
}

TEST_F(Records, ARecordCannotBeHadWhenThePoolRunsOut) {
  VtPrimitive *p = Triangle();
  {
    BlocksRunOut none(0);
    EXPECT_EQ(VoOpenGLPrimitiveSetProceduralClass(p, nullptr, 0), 6u);
  }
  EXPECT_EQ(opengl::RecordOf(p), nullptr);
  EXPECT_EQ(c_->records, nullptr);
}

TEST_F(Records, PrimitivesDestroyedAfterTheModuleStoppedAreLeftAlone) {
  // The scene model stops after the back end and destroys what is left;
  // the sanitizers watch the records' pool, gone by then.
  VtPrimitive *p = Triangle();
  VtPrimitive *copy = VoPrimitiveCopy(p, nullptr);
  ASSERT_NE(Record(p), nullptr);
  VtPrimitive *shared = VoPrimitiveCopy(p, nullptr);
  VtTransform *t = VoTransformCreate();
  Record(p)->inverse = t;
  (void)copy;
  (void)shared;
  primitives_.clear();
  c_ = nullptr;
  EXPECT_EQ(VoTerminate(), 0u);
  ASSERT_EQ(VoInitialise(), 0u);
}

}  // namespace
}  // namespace vo::test

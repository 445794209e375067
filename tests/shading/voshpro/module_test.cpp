// Module 76: its query answers, its record (made at start, copied for
// workers through the shared state's procedures, freed after it is
// unregistered), and the class rows of the classes built so far.

#include <gtest/gtest.h>

#include "pro_fixture.h"
#include "shading/voshpro/area_light.h"
#include "shading/voshpro/scattering.h"
#include "kernel/vosystem/context.h"
#include "kernel/vosystem/kernel_memory.h"

namespace vo::test {
namespace {

// clang-format off
const Row kRows[] = {
    {L, "goniometric", "vxs_gonio_light", "-oo--oooo-", "Pw",
     "intensity=3:1;power units=10:lumens;power=3:0;colour=7:1,1,1;colour temperature=3:0;lamp type=10:;"
     "from=9:0,0,1;to=9:0,0,0;equator zero=9:1,0,1;fall off=5:1;shadows=6:0;shadow resolution=1:256;"
     "shadow quality=1:4;shadow softness=3:1;file name=10:;handle=11:*;scattering=6:0;fall off function=22:F;"
     "fall off data=11:0;inverse fall off function=22:I"},
    {L, "sky", "vxs_sky_light", "-oo--oooo-", "",
     "filter colour=7:1,1,1;shadows=6:0;sun altitude=3:90;sun azimuth=3:0;type=10:CIE overcast;north=8:0,1,0;"
     "up=8:0,0,1;zenith luminance=3:0;complexity=3:0;colour temperature=3:5000;spectral distribution=10:D65;"
     "handle=11:*"},
    {L, "area", "vxs_area_light", "--o--oooo-", "",
     "primitive=11:0;unshot=7:1,1,1;shadows=6:1;power units=10:undefined;power=3:1;colour=7:1,1,1;"
     "colour temperature=3:0;noise factor=3:0;min lod=3:0;mid lod=3:0;max lod=3:1;error bound=3:0.1;"
     "shadow resolution=1:256;shadow quality=1:9"},
    {F, "light scattering", "vxs_light_scattering_foreground", "o=oooooooo", "Co E unitI modI",
     "fog density=3:0.01;samples=1:10;AA threshold=3:20;AA level=1:2;max depth=3:1000;falloff threshold=3:0.001;"
     "source attenuation=3:0;surface attenuation=3:0;volume attenuation=3:0;scattering model=10:isotropic;"
     "eccentricity=3:0;noise octaves=1:2;noise amplitude=3:0;noise scale=3:1;noise gain=3:0.5;bounds=6:0;"
     "bounds volume=44:0"},
};
// clang-format on

TEST_F(ProTest, EveryProClassIsFoundByTypeAndNameWithItsArgumentsEntriesGlobalsAndTable) {
  for (const Row &row : kRows) ExpectClassRow(row, [&](uint32_t t, const char *n) { return Make(t, n); });
  // The handle is the light's own record, and a set leaves it.
  VtShader *s = Make(L, "goniometric");
  VtTypedValue v = Get(s, "handle");
  EXPECT_EQ(v.value.p, Photometric(Record(s)));
  v.value.p = nullptr;
  EXPECT_EQ(VoShaderSetArg(s, "handle", &v), 0u);
  EXPECT_EQ(Get(s, "handle").value.p, Photometric(Record(s)));
  EXPECT_EQ(Record(s)->kind, VO_LIGHT_GONIOMETRIC);
  // Asked for a shader, every argument answers none.
  v.type = VtShaderColour;
  v.value.p = s;
  ASSERT_EQ(VoShaderGetArg(s, "colour", &v), 0u);
  EXPECT_EQ(v.value.p, nullptr);
}

TEST(ProModule, AnswersItsQueriesAndNothingForTheOthers) {
  VtTypedValue v{};
  ASSERT_EQ(VoEntryProShaders(4, &v), 0u);
  EXPECT_EQ(v.value.u, 76u);
  ASSERT_EQ(VoEntryProShaders(15, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtNat32));
  EXPECT_EQ(v.value.u, 904647757u);
  ASSERT_EQ(VoEntryProShaders(6, &v), 0u);
  EXPECT_STREQ(v.value.s, "voshpro");
  ASSERT_EQ(VoEntryProShaders(14, &v), 0u);
  EXPECT_STREQ(v.value.s, "sod_");
  ASSERT_EQ(VoEntryProShaders(13, &v), 0u);
  EXPECT_EQ(v.value.u, 0x04050000u);
  ASSERT_EQ(VoEntryProShaders(16, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtBoolean));
  EXPECT_EQ(v.value.u, 0u);
  for (uint32_t query : {1u, 2u, 7u, 8u, 10u, 12u, 17u}) {
    v.type = 99;
    EXPECT_EQ(VoEntryProShaders(query, &v), 0u);
    EXPECT_EQ(v.type, 0u) << query;
  }
  for (uint32_t query : {5u, 9u}) {
    ASSERT_EQ(VoEntryProShaders(query, &v), 0u);
    EXPECT_EQ(v.type, static_cast<uint32_t>(VtFunc)) << query;
    EXPECT_NE(v.value.fn, nullptr);
  }
  // The class list keeps the library's eighteen places.
  EXPECT_EQ(std::size(kProClassList), 18u);
  EXPECT_EQ(kProClassList[0], &kArea);
  EXPECT_EQ(kProClassList[17], &kScattering);
  EXPECT_EQ(kProClassList[1], &kGoniometric);
  EXPECT_EQ(kProClassList[2], &kSky);
}

// Shared state the copy and free procedures below count.
int g_copies = 0, g_frees = 0;
bool g_registered_at_free = false;
VtStatus g_copy_answer = 0;
int g_shared = 7, g_shared_copy = 8;

VtStatus SharedCopy(void *shared, ProModuleRecord *copy) {
  ++g_copies;
  EXPECT_EQ(shared, &g_shared);
  EXPECT_EQ(copy->copied, 1u);
  copy->shared = &g_shared_copy;
  return g_copy_answer;
}
VtStatus SharedFree(void *shared) {
  if (shared == &g_shared) {
    ++g_frees;
    // The module's record is off the register by now.
    g_registered_at_free = ProRecordGet() != nullptr;
  }
  return 0;
}

VtModuleProc ModuleProcedure(uint32_t query) {
  VtTypedValue v{};
  EXPECT_EQ(VoEntryProShaders(query, &v), 0u);
  return reinterpret_cast<VtModuleProc>(v.value.fn);
}

TEST_F(ProTest, TheRecordIsCopiedForWorkersAndFreedAfterItIsUnregistered) {
  ProModuleRecord *r = ProRecordGet();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->copied, 0u);
  EXPECT_EQ(r->shared, nullptr);
  EXPECT_NE(r->mutex, nullptr);
  EXPECT_EQ(ProRecordProceduresSet(&SharedCopy, &SharedFree), 0u);
  r->shared = &g_shared;
  g_copies = g_frees = 0;

  // A worker's copy: flag 1, the shared state copied by word 1.
  VtStatus status = 1;
  ContextCopyTable *table = ContextCopiesMake(&status);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(status, 0u);
  ASSERT_GT(table->size, static_cast<uint32_t>(VO_MODULE_PRO));
  auto *copy = static_cast<ProModuleRecord *>(table->entries[VO_MODULE_PRO]);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->copied, 1u);
  EXPECT_EQ(copy->shared, &g_shared_copy);
  EXPECT_EQ(g_copies, 1);
  ContextCopiesInstall(table);
  EXPECT_EQ(ProRecordGet(), copy);
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);  // frees the copy's state (not g_shared)
  EXPECT_EQ(g_frees, 0);

  // A copy whose state copy fails is not kept and answers the failure.
  g_copy_answer = VO_STATUS_NO_MEMORY;
  table = ContextCopiesMake(&status);
  EXPECT_EQ(status, VO_STATUS_NO_MEMORY);
  if (table != nullptr) {
    if (table->size > VO_MODULE_PRO) {
      EXPECT_EQ(table->entries[VO_MODULE_PRO], nullptr);
    }
    EXPECT_EQ(ContextCopiesFree(table), 0u);
  }
  g_copy_answer = 0;

  // Terminate: unregistered first, then the state freed by word 2.
  EXPECT_EQ(ModuleProcedure(9)(), 0u);
  EXPECT_EQ(g_frees, 1);
  EXPECT_FALSE(g_registered_at_free);
  EXPECT_EQ(ProRecordGet(), nullptr);
  EXPECT_EQ(ModuleProcedure(9)(), 0u);  // without a record: nothing
  EXPECT_EQ(ProRecordProceduresSet(&SharedCopy, &SharedFree), VO_STATUS_BAD_ARGUMENT);

  // Start again with the record's allocation failing: 0x20000006, no
  // record, and the classes there all the same.
  AllocationFailureArm(1);
  EXPECT_EQ(ModuleProcedure(5)(), VO_STATUS_NO_MEMORY);
  AllocationFailureArm(0);
  EXPECT_EQ(ProRecordGet(), nullptr);
  EXPECT_NE(Make(L, "goniometric"), nullptr);
  EXPECT_EQ(ModuleProcedure(5)(), 0u);
  EXPECT_NE(ProRecordGet(), nullptr);
}

class ProLateTest : public LiteTest {};

TEST_F(ProLateTest, AStartWhoseRecordCannotBeMadeStillRegistersTheClasses) {
  EXPECT_EQ(VoShaderCreate(L, "goniometric"), nullptr);
  AllocationFailureArm(1);
  EXPECT_EQ(ModuleProcedure(5)(), VO_STATUS_NO_MEMORY);
  AllocationFailureArm(0);
  EXPECT_EQ(ProRecordGet(), nullptr);
  EXPECT_NE(Make(L, "goniometric"), nullptr);
  EXPECT_EQ(ModuleProcedure(9)(), 0u);
}

}  // namespace
}  // namespace vo::test

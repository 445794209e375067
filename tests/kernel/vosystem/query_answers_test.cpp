// The standard query answers of every module of the library: interface level,
// number, registry name, version word, build kind, build time and the
// obsolete flag. One row per module; a module that lands adds its row.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <vo/vo_api.h>

namespace {

struct ModuleRow {
  VtQueryFunction query;
  uint32_t number;
  const char *name;
  uint32_t build_time;  // seconds since 1970
  const char *build_kind = "sod_";
};

// clang-format off
const ModuleRow kModules[] = {
    {&VoEntrySystem,       1, "vosystem", 904643049},
    {&VoEntryGeometry,     2, "vogeom",   916156918},
    {&VoEntryPolygons,     3, "vopoly",   916157560},
    {&VoEntryShader,       5, "voshader", 916157949},
    {&VoEntryRayTracer,    7, "vorenray", 916158862},
    {&VoEntryView,         9, "voview",   916158299},
    {&VoEntrySuperLiteShaders, 73, "voshslte", 916158151},
    {&VoEntryLiteShaders, 74, "voshlite", 904647311},
    {&VoEntryClassicShaders, 75, "voshclas", 904646512},
    {&VoEntryWireframe,   10, "vorenwir", 904644566},
    {&VoEntryStandardRenderer, 12, "vorenstd", 916157630},
    {&VoEntryAdvancedRenderer, 32, "vorenadv", 920989771, "sdd_"},
    {&VoEntryTransforms,  15, "voxform",  916158499},
    {&VoEntryHiddenLine,  25, "vorenhid", 916158723},
    {&VoEntrySelection,   16, "voselect", 904644596},
    {&VoEntryGeometryOperators, 22, "vogeops", 916405736, "dddt"},
    {&VoEntryMemory,      17, "vomemman", 904643035},
    {&VoEntryDriver,      26, "vodriver", 916159187},
    {&VoEntryMultiThread, 82, "vomultit", 916158723},
    {&VoEntryBMPDriver,   38, "vodrvbmp", 904643049},
    {&VoEntryTGADriver,   39, "vodrvtga", 904643049},
    {&VoEntryJPEGDriver,  79, "vodrvjpg", 904643049},
    {&VoEntryQuickTimeDriver, 119, "vodrvqt", 904643049},
    {&VoEntryScreenBuffer, 69, "voscrbuf", 904643049},
    {&VoEntryPostprocess, 68, "voshpost", 916159400},
    {&VoEntryColourUtilities, 81, "vocolour", 904643133},
    {&VoEntryFilter,      98, "vofilter", 904643334},
    {&VoEntryOGLDrv,     116, "voogldrv", 923473426},
    {&VoEntryOpenGL,     111, "voopengl", 923473485},
    {&VoEntryPhotometry,  66, "vophoto",  904643667},
    {&VoEntryObject,     112, "voobject", 904643049},
    {&VoEntryMeshIO,      70, "vomeshio", 904643049},
    {&VoEntryNPR,         96, "vonpr",    916161047, "sdd_"},
    {&VoEntryD3D,      25651, "vod3d",    933861993},
};
// clang-format on

VtTypedValue Ask(const ModuleRow &m, uint32_t query) {
  VtTypedValue a{};
  a.type = 0xDEAD;  // a query answers over whatever the caller left
  EXPECT_EQ(m.query(query, &a), 0u) << m.name << " query " << query;
  return a;
}

TEST(QueryAnswers, EveryModuleAnswersItsLevelNumberNameVersionKindBuildTimeAndObsoleteFlag) {
  for (const ModuleRow &m : kModules) {
    SCOPED_TRACE(m.name);
    VtTypedValue a = Ask(m, VO_QUERY_INTERFACE_LEVEL);
    EXPECT_EQ(a.type, VtInt32);
    EXPECT_EQ(a.value.i, 4);
    a = Ask(m, VO_QUERY_MODULE_NUMBER);
    EXPECT_EQ(a.type, VtNat32);
    EXPECT_EQ(a.value.u, m.number);
    a = Ask(m, VO_QUERY_REGISTRY_NAME);
    ASSERT_EQ(a.type, VtString);
    EXPECT_STREQ(a.value.s, m.name);
    a = Ask(m, VO_QUERY_VERSION);
    EXPECT_EQ(a.type, VtNat32);
    EXPECT_EQ(a.value.u, 0x04050000u);  // 4.5, release kind 0 ("dev"), kind number 0
    a = Ask(m, VO_QUERY_BUILD_KIND);
    ASSERT_EQ(a.type, VtString);
    EXPECT_STREQ(a.value.s, m.build_kind);
    a = Ask(m, VO_QUERY_BUILD_TIME);
    EXPECT_EQ(a.type, VtNat32);
    EXPECT_EQ(a.value.u, m.build_time);
    a = Ask(m, VO_QUERY_OBSOLETE_FLAG);
    EXPECT_EQ(a.type, VtBoolean);
    EXPECT_EQ(a.value.u, 0u);
  }
}

}  // namespace

// The property registry: names, codes, refusals, handlers and descriptions.

#include <cstring>
#include <string>

#include "support/geometry_fixture.h"
#include "vosystem/message_numbers.h"

namespace vo::test {
namespace {

using Registry = GeometryTest;

std::string Name(uint32_t code) {
  const char *name = nullptr;
  VoPropertyGetDescription(code, &name, nullptr, nullptr, nullptr);
  return name ? name : "(null)";
}

TEST_F(Registry, NamesLandOnTheirSlotsAndAutomaticCodesCount) {
  // The module's own registration of "vogeom:bounds:267".
  uint32_t type = 0, count = 0, size = 0;
  EXPECT_EQ(VoPropertyGetDescription(VO_PRIM_BOUNDS, nullptr, &type, &count, &size), 0u);
  EXPECT_EQ(Name(VO_PRIM_BOUNDS), "vogeom:bounds");
  EXPECT_EQ(type, uint32_t{VtFloat});
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(size, 24u);
  EXPECT_EQ(VoPrimitivePropertyRegister(VoPropertyMakeName("bounds", 267), VtFloat, 6), 0u);
  ASSERT_EQ(CountPosted(520), 1);
  EXPECT_EQ(g_posted.back().args[0].value.i, 11);  // slot
  EXPECT_EQ(g_posted.back().args[1].value.u, 1u);  // kind

  EXPECT_EQ(VoPrimitivePropertyRegister("test:thing:280", VtFloat, 2), 280u);
  EXPECT_EQ(Name(280), "test:thing");
  EXPECT_EQ(VoVertexPropertyRegister("test:first", VtFloat, 1), 1054u);
  EXPECT_EQ(VoVertexPropertyRegister("test:second:", VtFloat, 1), 1055u);
  // The kind bits of the number are the registrar's: 300 is slot 44.
  EXPECT_EQ(VoPolygonPropertyRegister("x:y:300", VtFloat, 1), uint32_t{VO_PROPERTY_CODE(2, 44)});
  EXPECT_STREQ(VoPropertyMakeName("word", 12), "vogeom:word:12");
}

TEST_F(Registry, RefusesBadNamesTypesCountsAndSizes) {
  for (const char *bad : {"a:b:12x", "a:b:-1", "a:b: 3", "a:b:1:2", "a:b:99999999999", "a:b:200"}) {
    g_posted.clear();
    EXPECT_EQ(VoEdgePropertyRegister(bad, VtFloat, 1), 0u) << bad;
    EXPECT_EQ(CountPosted(519), 1) << bad;
  }
  EXPECT_EQ(VoEdgePropertyRegister(nullptr, VtFloat, 1), 0u);
  g_posted.clear();
  EXPECT_EQ(VoEdgePropertyRegister("a:b:60", 99, 1), 0u);
  EXPECT_EQ(CountPosted(358), 1);
  EXPECT_EQ(VoEdgePropertyRegister("a:b:60", VtFloat, 1025), 0u);  // 4100 bytes
  EXPECT_EQ(CountPosted(messages::kPropertyTooLarge), 1);
  EXPECT_NE(VoEdgePropertyRegister("a:b:60", VtFloat, 1024), 0u);  // 4096 bytes
}

TEST_F(Registry, CountZeroNeedsThePrivilegeForOneRegistrationOnly) {
  EXPECT_EQ(VoPrimitivePropertyRegister("test:a:300", VtGenericPtr, 0), 0u);
  EXPECT_EQ(CountPosted(359), 1);
  VoPropertyFlagMandatory();
  EXPECT_EQ(VoPrimitivePropertyRegister("test:a:300", VtGenericPtr, 0), 300u);
  EXPECT_EQ(VoPrimitivePropertyRegister("test:b:301", VtGenericPtr, 0), 0u);
  // A count-0 property has no storage and is not made mandatory.
  EXPECT_EQ(VoPropertyGetOffset(VoContentsCreate(0, nullptr), 300), -1);

  // A refused registration uses the privilege up as well.
  VoPropertyFlagMandatory();
  EXPECT_EQ(VoPrimitivePropertyRegister("test:c:250", VtGenericPtr, 1), 0u);  // slot 250 & 255 >= 128
  EXPECT_NE(VoPrimitivePropertyRegister("test:d:302", VtGenericPtr, 1), 0u);
  EXPECT_EQ(VoPropertyGetOffset(VoContentsCreate(0, nullptr), 302), -1);
}

TEST_F(Registry, MandatoryPropertiesJoinEveryNewContentsAndTheDefault) {
  VoPropertyFlagMandatory();
  const uint32_t code = VoPolygonPropertyRegister("test:always:40", VtNat32, 1);
  ASSERT_EQ(code, uint32_t{VO_PROPERTY_CODE(2, 40)});
  EXPECT_GE(VoPropertyGetOffset(VoContentsCreate(0, nullptr), code), 0);
  EXPECT_GE(VoPropertyGetOffset(VoContentsUnion(nullptr, 0, nullptr), code), 0);
}

TEST_F(Registry, CodesOutsideTheTablesAreNotRegisteredAnywhere) {
  VtPrimitive *p = VoPrimitiveCreate(nullptr, 1);
  ASSERT_NE(p, nullptr);
  for (uint32_t code : {0x1ffu, 0x180u, 0x501u, 0x001u, 0x10101u}) {
    const char *name = "x";
    uint32_t type = 7;
    EXPECT_EQ(VoPropertyGetDescription(code, &name, &type, nullptr, nullptr), 2u) << code;
    EXPECT_STREQ(name, "");
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(VoPropertyGetOffset(p->contents, code), -1);
    EXPECT_EQ(VoPropertySetHandler(code, 2, nullptr), 2u);
    VtTypedValue v = TypedNat32(5);
    EXPECT_EQ(VoPrimitiveGetProperty(p, code, &v), uint32_t{VO_STATUS_BAD_ARGUMENT});
    EXPECT_EQ(v.type, 0u);
  }
  // Free slots below 128 are not registered either; a polygon code is no
  // primitive property.
  EXPECT_EQ(VoPropertySetHandler(0x17f, 2, nullptr), 2u);
  VtTypedValue v{};
  EXPECT_EQ(VoPrimitiveGetProperty(p, VO_POLY_VREFS, &v), uint32_t{VO_STATUS_BAD_ARGUMENT});
  // An operation outside 1-21 is ignored.
  EXPECT_EQ(VoPropertySetHandler(VO_PRIM_BOUNDS, 22, nullptr), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

uint32_t g_initialised = 0;
VtStatus CountInitialise(VtPrimitive *) {
  ++g_initialised;
  return 0;
}

TEST_F(Registry, HandlersAreInstalledAndNullRestoresTheDefault) {
  const uint32_t code = VoPrimitivePropertyRegister("test:counted:303", VtNat32, 1);
  ASSERT_EQ(VoPropertySetHandler(code, VO_PROPERTY_PRIMITIVE_INITIALISE,
                                 reinterpret_cast<VtProc>(&CountInitialise)),
            0u);
  g_initialised = 0;
  VtPrimitive *p = VoPrimitiveCreate(Contents({code}), 1);
  EXPECT_EQ(g_initialised, 1u);
  EXPECT_EQ(VoPrimitiveResetProperty(p, code), 0u);
  EXPECT_EQ(g_initialised, 2u);
  ASSERT_EQ(VoPropertySetHandler(code, VO_PROPERTY_PRIMITIVE_INITIALISE, nullptr), 0u);
  EXPECT_EQ(VoPrimitiveResetProperty(p, code), 0u);
  EXPECT_EQ(g_initialised, 2u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Registry, DescriptionsAreOfferedThroughTheProcedureLookUp) {
  VtProc proc = VoCallBackGet(VO_CALLBACK_PROPERTY_DESCRIPTION);
  ASSERT_EQ(proc, reinterpret_cast<VtProc>(&VoPropertyGetDescription));
  EXPECT_EQ(VoCallBackGet(0x20002), nullptr);
  EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROPERTY_DESCRIPTION, proc), uint32_t{VO_STATUS_BAD_ARGUMENT});
}

}  // namespace
}  // namespace vo::test

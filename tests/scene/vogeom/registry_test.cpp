// The property registry, contents records and their layouts, vertex interpolation, and the module's controls.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "support/geometry_fixture.h"
#include "scene/vogeom/geom_state.h"
#include "kernel/vosystem/context.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using Registry = GeometryTest;

std::vector<int32_t> Offsets(VtContents *c, std::vector<uint32_t> codes) {
  std::vector<int32_t> out;
  for (uint32_t code : codes) out.push_back(VoPropertyGetOffset(c, code));
  return out;
}
VtTypedValue Get(uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(code, &v), 0u) << code;
  return v;
}

TEST_F(Registry, NamesLandOnTheirSlotsAndBadOnesAreRefused) {
  const char *name = nullptr;
  EXPECT_EQ(VoPropertyGetDescription(VO_PRIM_BOUNDS, &name, nullptr, nullptr, nullptr), 0u);
  EXPECT_STREQ(name, "vogeom:bounds");  // registered as "vogeom:bounds:267"
  EXPECT_EQ(VoPrimitivePropertyRegister(VoPropertyMakeName("bounds", 267), VtFloat, 6), 0u);
  ASSERT_EQ(CountPosted(520), 1);
  EXPECT_EQ(g_posted.back().args[0].value.i, 11);  // slot, then kind
  EXPECT_EQ(g_posted.back().args[1].value.u, 1u);
  EXPECT_EQ(VoVertexPropertyRegister("test:first", VtFloat, 1), 1054u);
  EXPECT_EQ(VoVertexPropertyRegister("test:second:", VtFloat, 1), 1055u);
  EXPECT_EQ(VoPolygonPropertyRegister("x:y:300", VtFloat, 1), uint32_t{VO_PROPERTY_CODE(2, 44)});
  for (const char *bad :
       {"a:b:12x", "a:b:-1", "a:b: 3", "a:b:1:2", "a:b:99999999999", "a:b:200", "a:b:250"}) {
    g_posted.clear();
    EXPECT_EQ(VoEdgePropertyRegister(bad, VtFloat, 1), 0u) << bad;
    EXPECT_EQ(CountPosted(519), 1) << bad;
  }
  EXPECT_EQ(VoEdgePropertyRegister(nullptr, VtFloat, 1) | VoEdgePropertyRegister("a:b:60", 99, 1), 0u);
  EXPECT_EQ(CountPosted(358), 1);
  EXPECT_EQ(VoEdgePropertyRegister("a:b:60", VtFloat, 1025), 0u);  // 4100 bytes
  EXPECT_EQ(CountPosted(messages::kPropertyTooLarge), 1);
  EXPECT_NE(VoEdgePropertyRegister("a:b:60", VtFloat, 1024), 0u);  // 4096 bytes
}

TEST_F(Registry, ThePrivilegeServesOneRegistrationAndCodesOutsideTheTablesAreNotRegistered) {
  EXPECT_EQ(VoPrimitivePropertyRegister("test:a:300", VtGenericPtr, 0), 0u);
  EXPECT_EQ(CountPosted(359), 1);
  VoPropertyFlagMandatory();
  EXPECT_EQ(VoPrimitivePropertyRegister("test:a:300", VtGenericPtr, 0), 300u);  // no storage: not mandatory
  EXPECT_EQ(VoPrimitivePropertyRegister("test:b:301", VtGenericPtr, 0), 0u);
  VoPropertyFlagMandatory();
  EXPECT_EQ(VoPrimitivePropertyRegister("test:c:250", VtGenericPtr, 1), 0u);  // refused, privilege used up
  EXPECT_NE(VoPrimitivePropertyRegister("test:d:302", VtGenericPtr, 1), 0u);
  VoPropertyFlagMandatory();
  const uint32_t code = VoPolygonPropertyRegister("test:always:40", VtNat32, 1);
  EXPECT_EQ(Offsets(VoContentsCreate(0, nullptr), {300, 302}), (std::vector<int32_t>{-1, -1}));
  EXPECT_GE(VoPropertyGetOffset(VoContentsCreate(0, nullptr), code), 0);
  EXPECT_GE(VoPropertyGetOffset(VoContentsUnion(nullptr, 0, nullptr), code), 0);
  VtPrimitive *p = VoPrimitiveCreate(nullptr, 1);
  // Slots of 128 and more, kinds outside 1-4, a free slot.
  for (uint32_t bad : {0x1ffu, 0x180u, 0x501u, 0x001u, 0x10101u, 0x17fu}) {
    const char *name = "x";
    uint32_t type = 7;
    EXPECT_EQ(VoPropertyGetDescription(bad, &name, &type, nullptr, nullptr), 2u) << bad;
    EXPECT_TRUE(std::string(name).empty() && type == 0 && VoPropertyGetOffset(p->contents, bad) == -1);
    EXPECT_EQ(VoPropertySetHandler(bad, 2, nullptr), 2u);
    VtTypedValue v = TypedNat32(5);
    EXPECT_EQ(VoPrimitiveGetProperty(p, bad, &v), uint32_t{VO_STATUS_BAD_ARGUMENT});
    EXPECT_EQ(v.type, 0u);
  }
  VtTypedValue v{};  // a polygon code is no primitive property
  EXPECT_EQ(VoPrimitiveGetProperty(p, VO_POLY_VREFS, &v), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Registry, LayoutPutsEightByteValuesFirstAndRefusesOversizedLayouts) {
  const uint32_t i1 = VoPrimitivePropertyRegister("t:i1:310", VtInt32, 1);
  const uint32_t i2 = VoPrimitivePropertyRegister("t:i2:311", VtInt32, 1);
  const uint32_t i3 = VoPrimitivePropertyRegister("t:i3:312", VtInt32, 1);
  const uint32_t d = VoPrimitivePropertyRegister("t:d:313", VtDouble, 1), next = VO_PRIM_NEXT;
  VtContents *c = VoContentsSubtract(Contents({i1, i2, i3, d}), 1, &next);
  EXPECT_EQ(Offsets(c, {d, i1, i2, i3}), (std::vector<int32_t>{0, 8, 12, 16}));
  EXPECT_EQ(VoContentsGetDataSize(c, VO_CONTENTS_PRIMITIVE), 24u);
  // A pointer lands before the int32 from a higher slot, a colour with the 4-byte values.
  const uint32_t added[] = {VoPrimitivePropertyRegister("t:c:314", VtColourType, 1),
                            VoPrimitivePropertyRegister("t:p:315", VtGenericPtr, 1)};
  VtContents *e = VoContentsUnion(c, 2, added);
  EXPECT_EQ(Offsets(e, {d, added[1], i1, added[0]}), (std::vector<int32_t>{0, 8, 16, 28}));
  EXPECT_EQ(VoContentsGetDataSize(e, VO_CONTENTS_PRIMITIVE), 40u);
  // Every pointer property is 8 bytes a value, and aligned.
  const uint32_t pointers[] = {VO_PRIM_ID,        VO_PRIM_NEXT,      VO_PRIM_POLYS,    VO_PRIM_PARENT,
                               VO_PRIM_VERTS,     VO_PRIM_EDGES,     VO_PRIM_PREFS,    VO_PRIM_PROCCLASS,
                               VO_PRIM_PROCDATA,  VO_PRIM_RETAINED,  VO_POLY_PRIM,     VO_POLY_VREFS,
                               VO_POLY_VREFSCLIP, VO_POLY_NEXT,      VO_POLY_PLANEPTR, VO_POLY_PREV,
                               VO_POLY_EDGES,     VO_EDGE_NEXT,      VO_EDGE_VREFS,    VO_EDGE_POLYS,
                               VO_EDGE_EDGES,     VO_EDGE_VREFSCLIP, VO_VERT_NEXT,     VO_VERT_COVERT};
  VtContents *all = VoContentsCreate(sizeof pointers / sizeof pointers[0], pointers);
  for (uint32_t code : pointers) {
    uint32_t count = 0, size = 0;
    ASSERT_EQ(VoPropertyGetDescription(code, nullptr, nullptr, &count, &size), 0u);
    EXPECT_TRUE(size == 8 * count && VoPropertyGetOffset(all, code) % 8 == 0) << code;
  }
  std::vector<uint32_t> big;
  for (int i = 0; i < 9; ++i) big.push_back(VoPolygonPropertyRegister("t:big", VtFloat, 1024));
  EXPECT_EQ(VoContentsCreate(9, big.data()), nullptr);
  const uint32_t wide = VoVertexPropertyRegister("t:wide", VtFloat, 300);  // more than a pool chunk holds
  EXPECT_EQ(VoContentsCreate(1, &wide), nullptr);
  EXPECT_EQ(CountPosted(messages::kLayoutTooLarge), 2);
  const uint32_t codes[] = {0x17e, VO_VERT_NORMAL};  // a free slot, then a real one
  EXPECT_GE(VoPropertyGetOffset(VoContentsCreate(2, codes), VO_VERT_NORMAL), 0);
  EXPECT_EQ(CountPosted(messages::kPropertyNotRegistered), 1);
}

TEST_F(Registry, EqualSetsShareOneRecordAndMergeJoinsSelectedKinds) {
  const uint32_t normal[] = {VO_VERT_NORMAL, VO_POLY_PLANE}, colour[] = {VO_VERT_COLOUR, VO_POLY_PLANE};
  VtContents *a = VoContentsCreate(2, normal), *b = VoContentsCreate(2, colour);
  EXPECT_EQ(VoContentsCreate(2, normal), a);
  EXPECT_EQ(VoContentsUnion(a, 1, normal), a);
  EXPECT_TRUE(a->tables[1] == b->tables[1] && a->tables[3] != b->tables[3]);  // kind tables are shared
  EXPECT_EQ(VoContentsSubtract(VoContentsUnion(a, 1, colour), 1, &colour[0]), a);
  EXPECT_EQ(VoContentsMerge(a, a, VO_CONTENTS_ALL), a);
  EXPECT_EQ(VoContentsMerge(nullptr, b, VO_CONTENTS_ALL), b);
  EXPECT_GE(VoPropertyGetOffset(VoContentsMerge(a, b, VO_CONTENTS_ALL), VO_VERT_COLOUR), 0);
  // Only the vertex kind: a primitive of it has no data block and no polygon.
  VtPrimitive *p = VoPrimitiveCreate(VoContentsMerge(a, b, VO_CONTENTS_VERTEX), 3);
  EXPECT_EQ(VoContentsGetDataSize(p->contents, VO_CONTENTS_ALL & ~VO_CONTENTS_VERTEX), 0u);
  EXPECT_TRUE(p->data == nullptr && VoPolygonCreate(p) == nullptr && VoVertexCreate(p) != nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  uint32_t n = 0;
  VtPropertyCode *codes = nullptr;  // listed by kind and slot
  ASSERT_EQ(VoContentsListProperties(b, &n, &codes), 0u);
  EXPECT_TRUE(std::is_sorted(codes, codes + n) && codes[0] == VO_PRIM_NEXT && codes[n - 1] == VO_VERT_COLOUR);
}

TEST_F(Registry, WorkerContentsJoinTheMainListsWhenFreed) {
  Kernel()->executing = 1;  // while 0xe0001 executes a worker has lists of its own
  Kernel()->executing_code = 0xe0001;
  VtStatus status = 0;
  ContextCopyTable *table = ContextCopiesMake(&status);
  Kernel()->executing = 0;
  VtContents *main_made = Contents({VO_VERT_COLOUR});
  ContextCopiesInstall(table);
  EXPECT_NE(GeomCurrent()->lists, &Geom()->main_lists);
  EXPECT_EQ(Contents({VO_VERT_COLOUR}), main_made);  // found in the main lists
  VtPrimitive *p = VoPrimitiveCreate(Contents({VO_VERT_TEXCOORDS}), 3);
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);
  EXPECT_EQ(Contents({VO_VERT_TEXCOORDS}), p->contents);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Registry, InterpolationBlendsFloatsByFixedOrGeneralRoutines) {
  for (bool fixed : {true, false}) {
    VtPrimitive *p = VoPrimitiveCreate(fixed ? Contents({VO_VERT_NORMAL, VO_VERT_TEXCOORDS})
                                             : Contents({VO_VERT_NORMAL, VO_VERT_COLOUR, VO_VERT_COVERT}),
                                       3);
    VtVertex *v[3], *out = VoVertexCreate(p);
    for (int i = 0; i < 3; ++i) {
      v[i] = VoVertexCreate(p);
      const float world[3][3] = {{0, 0, 0}, {2, 4, 6}, {4, 0, 0}},
                  axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
      std::copy(world[i], world[i] + 3, PropertyAt<float>(p, v[i], VO_VERT_WORLD));
      std::copy(axes[i], axes[i] + 3, PropertyAt<float>(p, v[i], VO_VERT_NORMAL));
      if (float *c = PropertyAt<float>(p, v[i], VO_VERT_COLOUR)) c[0] = float(i);
      if (void **twin = PropertyAt<void *>(p, v[i], VO_VERT_COVERT)) *twin = v[(i + 1) % 3];
    }
    auto routine = VoContentsGetInterpolator(p->contents);
    EXPECT_EQ(routine != &exported::VoVertexInterpolate, fixed);
    const float half[2] = {0.5f, 0.5f}, third[3] = {1 / 3.0f, 1 / 3.0f, 1 / 3.0f};
    ASSERT_EQ(routine(p, 0, 2, v, half, out), 0u);
    EXPECT_EQ(PropertyAt<float>(p, out, VO_VERT_WORLD)[2], 3.0f);
    // Only the fixed routines renormalise; a twin is not blended as floats.
    EXPECT_FLOAT_EQ(PropertyAt<float>(p, out, VO_VERT_NORMAL)[0], fixed ? std::sqrt(0.5f) : 0.5f);
    EXPECT_TRUE(fixed || (*PropertyAt<void *>(p, out, VO_VERT_COVERT) == nullptr &&
                          PropertyAt<float>(p, out, VO_VERT_COLOUR)[0] == 0.5f));
    // Three sources go to the general routine; the destination may be a source.
    ASSERT_EQ(routine(p, 0, 3, v, third, v[1]), 0u);
    EXPECT_NEAR(PropertyAt<float>(p, v[1], VO_VERT_WORLD)[0], 2.0f, 1e-6);
    EXPECT_NEAR(PropertyAt<float>(p, v[1], VO_VERT_NORMAL)[2], 1 / 3.0f, 1e-6);
    EXPECT_EQ(VoVertexInterpolate(p, 0, 0, v, half, out), uint32_t{VO_STATUS_BAD_ARGUMENT});
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);  // the vertices are on no ring: freed with their pool
  }
}

// Every float property of the layout, blended from two sources, equals the
// general routine's bytes (a third source with weight zero adds nothing to a
// non-zero sum): pointers and flags are left alone, a special interpolator
// runs before the blends, and the destination may be a source.
uint32_t g_special_calls = 0;
VtStatus ColourSpecial(VtPrimitive *p, uint32_t n, VtVertex **, const float *, VtVertex *out) {
  ++g_special_calls;
  PropertyAt<float>(p, out, VO_VERT_COLOUR)[0] = static_cast<float>(n);
  return 0x40u;
}

TEST_F(Registry, TwoSourceBlendsGiveTheGeneralRoutinesBytes) {
  const std::vector<uint32_t> floats = {VO_VERT_WORLD,
                                        VO_VERT_SCREEN,
                                        VO_VERT_COLOUR,
                                        VO_VERT_NORMAL,
                                        VO_VERT_TEXCOORDS,
                                        VO_VERT_TRANSPARENCY,
                                        VO_VERT_PARAMETRICCOORDS,
                                        VO_VERT_PARAMETRICCHANGE,
                                        VO_VERT_PARAMETRICDERIVS,
                                        VO_VERT_GAUSSIAN_CURVATURE,
                                        VO_VERT_MEAN_CURVATURE,
                                        VO_VERT_MAXIMUM_CURVATURE};
  VtPrimitive *p = VoPrimitiveCreate(
      Contents({VO_VERT_WORLD, VO_VERT_SCREEN, VO_VERT_COLOUR, VO_VERT_NORMAL, VO_VERT_TEXCOORDS,
                VO_VERT_TRANSPARENCY, VO_VERT_PARAMETRICCOORDS, VO_VERT_PARAMETRICCHANGE,
                VO_VERT_PARAMETRICDERIVS, VO_VERT_GAUSSIAN_CURVATURE, VO_VERT_MEAN_CURVATURE,
                VO_VERT_MAXIMUM_CURVATURE, VO_VERT_COVERT, VO_VERT_FLAGS}),
      3);
  ASSERT_NE(p, nullptr);
  uint32_t count = 0;
  VtVertex *v[3], *pair = VoVertexCreate(p), *general = VoVertexCreate(p);
  for (int i = 0; i < 3; ++i) {
    v[i] = VoVertexCreate(p);
    for (uint32_t code : floats) {
      uint32_t n = 0;
      ASSERT_EQ(VoPropertyGetDescription(code, nullptr, nullptr, &n, nullptr), 0u);
      float *f = PropertyAt<float>(p, v[i], code);
      ASSERT_NE(f, nullptr) << code;
      for (uint32_t k = 0; k < n; ++k) f[k] = 0.1f * static_cast<float>(++count) / (i + 3) + 1.0f / 3;
    }
    *PropertyAt<void *>(p, v[i], VO_VERT_COVERT) = v[(i + 1) % 3];
    *PropertyAt<uint32_t>(p, v[i], VO_VERT_FLAGS) = 7u + i;
  }
  const auto same_floats = [&](VtVertex *a, VtVertex *b) {
    for (uint32_t code : floats) {
      uint32_t n = 0;
      (void)VoPropertyGetDescription(code, nullptr, nullptr, &n, nullptr);
      EXPECT_EQ(std::memcmp(PropertyAt<float>(p, a, code), PropertyAt<float>(p, b, code), 4 * n), 0) << code;
    }
  };
  void *const twin = *PropertyAt<void *>(p, pair, VO_VERT_COVERT);
  const uint32_t flags = *PropertyAt<uint32_t>(p, pair, VO_VERT_FLAGS);
  const float two[2] = {0.3f, 0.7f}, three[3] = {0.3f, 0.7f, 0.0f};
  ASSERT_EQ(VoVertexInterpolate(p, 0, 2, v, two, pair), 0u);
  ASSERT_EQ(VoVertexInterpolate(p, 0, 3, v, three, general), 0u);
  same_floats(pair, general);
  const float *a = PropertyAt<float>(p, v[0], VO_VERT_SCREEN),
              *b = PropertyAt<float>(p, v[1], VO_VERT_SCREEN);
  float expected = two[0] * a[3];
  expected += two[1] * b[3];
  EXPECT_EQ(std::memcmp(&PropertyAt<float>(p, pair, VO_VERT_SCREEN)[3], &expected, 4), 0);
  EXPECT_EQ(*PropertyAt<void *>(p, pair, VO_VERT_COVERT), twin);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, pair, VO_VERT_FLAGS), flags);

  // A special interpolator: called with the count, its status kept, its
  // property left to it.
  ASSERT_EQ(VoPropertySetHandler(VO_VERT_COLOUR, VO_PROPERTY_VERTEX_INTERPOLATE,
                                 reinterpret_cast<VtProc>(&ColourSpecial)),
            0u);
  g_special_calls = 0;
  EXPECT_EQ(VoVertexInterpolate(p, 0, 2, v, two, pair), 0x40u);
  EXPECT_EQ(g_special_calls, 1u);
  EXPECT_EQ(PropertyAt<float>(p, pair, VO_VERT_COLOUR)[0], 2.0f);
  EXPECT_EQ(std::memcmp(PropertyAt<float>(p, pair, VO_VERT_WORLD),
                        PropertyAt<float>(p, general, VO_VERT_WORLD), 12),
            0);
  EXPECT_EQ(VoPropertySetHandler(VO_VERT_COLOUR, VO_PROPERTY_VERTEX_INTERPOLATE, PropertyBlendSentinel()),
            0u);

  // The destination as the second source: each float is read before it is written.
  ASSERT_EQ(VoVertexInterpolate(p, 0, 2, v, two, v[1]), 0u);
  same_floats(v[1], general);
  EXPECT_EQ(*PropertyAt<uint32_t>(p, v[1], VO_VERT_FLAGS), 8u);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Registry, LengthUnitsConvertAndControlsRefuseWhatTheyCannotUse) {
  auto hundred = [] {
    float length = 100, area = 100;
    EXPECT_EQ(VoLengthToMetres(&length) | VoAreaToSquareMetres(&area), 0u);
    return std::make_pair(length, area);
  };
  VtTypedValue v = Get(VO_CONTROL_GEOMETRY_LENGTH_UNIT);
  for (auto [unit, status] : {std::pair{0, 0u}, std::pair{9, uint32_t{VO_CLASS_WARNING}}}) {
    v.value.i = unit;  // inch, then no such unit: metres
    EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_LENGTH_UNIT, &v), status);
    EXPECT_FLOAT_EQ(hundred().first, unit == 0 ? 2.54f : 100);
    EXPECT_FLOAT_EQ(hundred().second, unit == 0 ? 0.064516f : 100);
  }
  EXPECT_EQ(CountPosted(904), 1);
  v = Get(VO_CONTROL_GEOMETRY_LENGTH_FACTOR);
  v.value.f = 2.0f;  // custom: lengths double, areas quadruple
  EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_LENGTH_FACTOR, &v), 0u);
  EXPECT_EQ(hundred(), std::make_pair(200.0f, 400.0f));
  v.value.f = 0.00001f;
  EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_LENGTH_FACTOR, &v), uint32_t{VO_CLASS_WARNING});
  EXPECT_EQ(CountPosted(905), 1);
  for (auto [set, read] : {std::pair{200.0, 180.0}, std::pair{-5.0, 0.0}, std::pair{double{NAN}, 0.0}}) {
    v = Get(VO_CONTROL_GEOMETRY_CREASE_ANGLE);
    v.value.d = set;
    EXPECT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_CREASE_ANGLE, &v), 0u);
    EXPECT_EQ(Get(VO_CONTROL_GEOMETRY_CREASE_ANGLE).value.d, read);
  }
}

}  // namespace
}  // namespace vo::test

// Typed values carry colours, points and bounds by value: the record's layout
// as C and C++ see it, and such values through a module's control and the
// journal.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/fake_module.h"

namespace vo::test {
namespace {

// The layout as C++ sees it (c_header_check.c asserts the same for C); an
// array's elements stand 32 bytes apart.
#define VO_AT(member) offsetof(VtTypedValue, member)
static_assert(sizeof(VtTypedValue) == 32 && VO_AT(value) == 8 && VO_AT(pad) == 4);
static_assert(VO_AT(value.v[0]) == 8 && VO_AT(value.v[1]) == 12 && VO_AT(value.v[2]) == 16);
static_assert(VO_AT(value.v[5]) == 28 && sizeof(VtBounds) <= sizeof(VtTypedValue::value));
static_assert(VO_AT(value.dv[2]) == 24 && VO_AT(value.p) == 8 && VO_AT(value.fn) == 8);
#undef VO_AT

VtTypedValue Colour(float r, float g, float b) {
  VtTypedValue v{};
  v.type = VtColourType;
  const VtColour c{r, g, b};
  std::memcpy(v.value.v, &c, sizeof c);
  return v;
}

VtTypedValue Bounds(const VtBounds &b) {
  VtTypedValue v{};
  v.type = VtBoundsType;
  std::memcpy(v.value.v, &b, sizeof b);
  return v;
}

// The journal's lines after its four header lines.
std::vector<std::string> Statements(std::FILE *f) {
  std::vector<std::string> lines;
  std::string line;
  for (char ch : vo_test::Contents(f)) {
    if (ch != '\n') {
      line += ch;
      continue;
    }
    lines.push_back(line);
    line.clear();
  }
  lines.erase(lines.begin(), lines.begin() + std::min<size_t>(4, lines.size()));
  return lines;
}

TEST(TypedValue, ColoursAndBoundsTravelWholeThroughAControlAndIntoTheJournal) {
  vo_test::Kernel kernel;
  Fake<0>::Reset(40, "vovalues");
  Fake<0>::m.has_controls = true;
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  std::FILE *file = std::tmpfile();
  VtTypedValue v = TypedPointer(file);
  ASSERT_EQ(VoControlSet(VO_CONTROL_JOURNAL_FILE, &v), 0u);
  v = VtTypedValue{VtFlags, 0, {.u = 1}};
  ASSERT_EQ(VoControlSet(VO_CONTROL_JOURNAL_FLAGS, &v), 0u);

  const uint32_t code = VO_CODE(40, 1);  // 0x280001
  const VtTypedValue colour = Colour(0.2f, 0.4f, 0.6f);
  Fake<0>::m.control.type = VtColourType;  // the control's type: a value of another is refused
  ASSERT_EQ(exported::VoControlSet(code, &colour), 0u);
  VtTypedValue back{};
  ASSERT_EQ(exported::VoControlGet(code, &back), 0u);
  EXPECT_EQ(back.type, VtColourType);
  EXPECT_EQ(std::memcmp(back.value.v, colour.value.v, 3 * sizeof(float)), 0);
  const VtTypedValue bounds = Bounds({0, 1, 0, 1, 0, 1});
  Fake<0>::m.control.type = VtBoundsType;
  ASSERT_EQ(exported::VoControlSet(code, &bounds), 0u);
  ASSERT_EQ(exported::VoControlGet(code, &back), 0u);
  EXPECT_EQ(back.type, VtBoundsType);
  EXPECT_EQ(std::memcmp(back.value.v, bounds.value.v, 6 * sizeof(float)), 0);

  // Floats are written with nine significant digits, which read back to the
  // same float: 0.2f is 0.20000000298..., 0.4f 0.40000000596..., 0.6f
  // 0.60000002384....
  EXPECT_EQ(Statements(file),
            (std::vector<std::string>{
                "VoControlSet 0x280001 {VtColour [0.200000003 0.400000006 0.600000024]}", "VtTypedValue o1",
                "VoControlGet 0x280001 o1", "VoControlSet 0x280001 {VtBounds [0 1 0 1 0 1]}",
                "VtTypedValue o2", "VoControlGet 0x280001 o2"}));
  v = VtTypedValue{VtFlags, 0, {.u = 0}};
  VoControlSet(VO_CONTROL_JOURNAL_FLAGS, &v);
  std::fclose(file);
}

}  // namespace
}  // namespace vo::test

// The occluders of a leaf region met through its cell index answer as the
// whole list does. A seeded generator makes scenes of a rough height field
// (many small occluders in each region), boxes, polygon primitives, copies
// listed twice and faces made twice in the same place, seen in perspective
// from a random eye; each is rendered in one pass and in two, at region
// depths 14 and 4, with every leaf indexed, with none indexed and with the
// default threshold, and every call to the driver (pens, ends, elements) is
// the same bit for bit. A mismatch names its seed.

#include <cstring>
#include <random>

#include "render/vorenhid/hidden_line.h"
#include "render/vorenhid/hidden_line_fixture.h"

namespace vo::test {
namespace {

using P3 = std::array<float, 3>;

class OccluderIndexTest : public HiddenLineTest {
 protected:
  // Everything the render said to the driver, in order.
  struct Drawn {
    VtStatus status;
    std::vector<std::pair<uint32_t, uintptr_t>> calls;
    std::vector<std::array<Point4, 2>> lines;
    std::vector<std::vector<Point4>> polylines;
    bool operator==(const Drawn &o) const {
      auto same = [](const auto &a, const auto &b) {
        return a.size() == b.size() && (a.empty() || std::memcmp(&a[0], &b[0], sizeof a[0] * a.size()) == 0);
      };
      if (status != o.status || calls != o.calls || !same(lines, o.lines)) return false;
      if (polylines.size() != o.polylines.size()) return false;
      for (size_t i = 0; i < polylines.size(); ++i)
        if (!same(polylines[i], o.polylines[i])) return false;
      return true;
    }
  };

  static Drawn Render(uint32_t code, uint32_t depth, uint32_t index_from) {
    Word(VO_CONTROL_HL_DEPTH_LIMIT, depth, VtNat32);
    hid::State()->index_from = index_from;
    RecordingDriver::Reset();
    Drawn d{VoExecute(code), RecordingDriver::calls, RecordingDriver::lines, RecordingDriver::polylines};
    hid::State()->index_from = hid::kIndexFrom;
    return d;
  }

  // A k by k field over [-1, 1]^2 of random heights, triangulated.
  VtPrimitive *Field(std::mt19937 &rng, int k) {
    std::uniform_real_distribution<float> h(-0.2f, 0.2f);
    std::vector<P3> xyz;
    for (int j = 0; j <= k; ++j)
      for (int i = 0; i <= k; ++i) xyz.push_back({-1 + 2.0f * i / k, -1 + 2.0f * j / k, h(rng)});
    std::vector<std::vector<int32_t>> faces;
    for (int j = 0; j < k; ++j)
      for (int i = 0; i < k; ++i) {
        const int32_t a = j * (k + 1) + i, b = a + 1, c = a + k + 1, d = c + 1;
        faces.push_back({a, b, d});
        faces.push_back({a, d, c});
      }
    return Mesh(xyz, faces);
  }

  // A polygon primitive: a square of half-side s at (x, y, z) facing +z.
  VtPrimitive *Square(float x, float y, float z, float s) {
    std::vector<float> corners = {x - s, y - s, z, x + s, y - s, z, x + s, y + s, z, x - s, y + s, z};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1]{};
    data[0].type = VtGenericPtr;
    data[0].value.p = corners.data();
    VtPrimitive *p = VoPrimitiveCreatePolygon(4, 1, ids, data);
    EXPECT_NE(p, nullptr);
    owned_.push_back(p);
    return p;
  }

  void SceneMake(std::mt19937 &rng) {
    std::uniform_real_distribution<float> u(-1, 1), size(0.05f, 0.6f);
    std::vector<VtPrimitive *> list = {Field(rng, std::uniform_int_distribution<int>(6, 16)(rng))};
    const int parts = std::uniform_int_distribution<int>(2, 6)(rng);
    for (int i = 0; i < parts; ++i) {
      const float x = u(rng), y = u(rng), z = 0.3f + 0.3f * u(rng), s = size(rng);
      VtPrimitive *p = i % 2 == 0 ? Box(x - s, x + s, y - s, y + s, z - s, z + s) : Square(x, y, z, s);
      list.push_back(p);
      switch (std::uniform_int_distribution<int>(0, 2)(rng)) {
        case 0: {  // a copy listed before it
          VtPrimitive *c = VoPrimitiveCopy(p, nullptr);
          ASSERT_NE(c, nullptr);
          owned_.push_back(c);
          list.insert(list.end() - 1, c);
          break;
        }
        case 1:  // the same faces made again in the same place
          list.push_back(i % 2 == 0 ? Box(x - s, x + s, y - s, y + s, z - s, z + s) : Square(x, y, z, s));
          break;
        default: break;
      }
    }
    Scene(list);
    const float angle = 6.2831853f * (u(rng) + 1) / 2;
    const float eye[3] = {3 * std::cos(angle), 3 * std::sin(angle), 1.2f + u(rng)};
    const float origin[3] = {0, 0, 0}, up[3] = {0, 0, 1};
    ASSERT_EQ(VoViewSetResolution(nullptr, 160, 120, 1.0), 0u);
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, origin, up, VO_PROJECTION_PERSPECTIVE, 45.0), 0u);
    ASSERT_EQ(VoViewAutoClipping(nullptr), 0u);
  }
};

TEST_F(OccluderIndexTest, IndexedLeavesDrawWhatTheWholeListDrawsInEveryMode) {
  Word(VO_CONTROL_HL_OUTPUT_MASK, VO_HL_CLASS_VISIBLE | VO_HL_CLASS_HIDDEN);
  size_t hidden_seen = 0;
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    SceneMake(rng);
    for (uint32_t code : {VO_EXECUTE_HIDDEN_LINE, VO_EXECUTE_HIDDEN_LINE_TWO_PASS})
      for (uint32_t depth : {14u, 4u}) {
        const Drawn whole = Render(code, depth, UINT32_MAX);
        EXPECT_TRUE(Render(code, depth, 1) == whole)
            << "seed " << seed << " code " << code << " depth " << depth;
        EXPECT_TRUE(Render(code, depth, hid::kIndexFrom) == whole)
            << "seed " << seed << " code " << code << " depth " << depth;
        for (const auto &c : whole.calls)
          if (c.first == VO_DRIVER_STYLE && (c.second & VO_HL_CLASS_HIDDEN) != 0) ++hidden_seen;
      }
  }
  // The scenes hide lines: the index has answers to get wrong.
  EXPECT_GT(hidden_seen, 100u);
}

}  // namespace
}  // namespace vo::test

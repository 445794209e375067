// The projected points a scan polygon takes when it is set up and reads when
// it is activated: polygons set up many lines before their first one (a
// mesh activates at its top line), blocks of points filled again while
// other polygons still hold points in them, a ring too long for a block,
// and running out of memory anywhere in a render.

#include <gtest/gtest.h>

#include <cmath>

#include "renderer_fixture.h"
#include "support/kernel_fixture.h"

namespace vo::test {
namespace {

// The picture the driver was handed, row by row.
std::vector<std::vector<Pixel>> Picture() {
  std::vector<std::vector<Pixel>> out;
  for (const auto &[y, row] : Output::rows) out.push_back(row);
  return out;
}

size_t Lit(const std::vector<std::vector<Pixel>> &picture) {
  size_t n = 0;
  for (const auto &row : picture)
    for (const Pixel &p : row) n += (p[0] + p[1] + p[2]) > 0 ? 1 : 0;
  return n;
}

class ScanPointsTest : public RendererTest {
 protected:
  // One triangle in each cell of kCell pixels, apart from its neighbours,
  // with colours of its own at each corner; band(row, column) says which
  // mesh takes it.
  static constexpr int kCell = 4;
  struct Triangle {
    Positions xyz, rgb;
  };
  std::vector<Triangle> Cells(int columns, int rows) {
    std::vector<Triangle> out;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < columns; ++c) {
        const float x = static_cast<float>(c * kCell), y = static_cast<float>(r * kCell);
        const float z = 0.2f + 0.001f * static_cast<float>((r * columns + c) % 97);
        Triangle t;
        t.xyz = {At(x + 0.3f, y + 0.3f, z), At(x + 1.2f, y + 3.7f, z), At(x + 3.6f, y + 0.6f, z)};
        for (int k = 0; k < 3; ++k)
          t.rgb.push_back({static_cast<float>((c * 7 + k) % 11) / 10.0f,
                           static_cast<float>((r * 5 + k) % 13) / 12.0f, static_cast<float>(k + 1) / 3.0f});
        out.push_back(t);
      }
    return out;
  }
  VtPrimitive *MeshOf(const std::vector<const Triangle *> &faces) {
    Positions xyz, rgb;
    std::vector<int32_t> counts, indices;
    for (const Triangle *t : faces) {
      counts.push_back(3);
      for (int k = 0; k < 3; ++k) {
        indices.push_back(static_cast<int32_t>(xyz.size()));
        xyz.push_back(t->xyz[static_cast<size_t>(k)]);
        rgb.push_back(t->rgb[static_cast<size_t>(k)]);
      }
    }
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_COLOUR};
    const VtTypedValue data[2] = {PropertyRecord(xyz.data()), PropertyRecord(rgb.data())};
    VtPrimitive *p = VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                           indices.data(), 2, ids, data);
    EXPECT_NE(p, nullptr);
    if (p == nullptr) return nullptr;
    EXPECT_EQ(VoPrimitiveSetMaterial(p, material_), 0u);
    owned_.push_back(p);
    return p;
  }
  VtPrimitive *PolygonOf(const Triangle &t) {
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_COLOUR};
    const VtTypedValue data[2] = {PropertyRecord(t.xyz.data()), PropertyRecord(t.rgb.data())};
    VtPrimitive *p = VoPrimitiveCreatePolygon(3, 2, ids, data);
    EXPECT_NE(p, nullptr);
    if (p == nullptr) return nullptr;
    EXPECT_EQ(VoPrimitiveSetMaterial(p, material_), 0u);
    owned_.push_back(p);
    return p;
  }
  // Meshes in overlapping bands of cell rows: mesh k takes the even
  // columns of rows 4k..4k+3 and the odd columns of rows 4k+4..4k+7, so
  // each mesh is set up while the one before still has polygons waiting
  // for their lines.
  std::vector<VtPrimitive *> Bands(const std::vector<Triangle> &cells, int columns) {
    std::vector<std::vector<const Triangle *>> bands;
    for (size_t i = 0; i < cells.size(); ++i) {
      const int r = static_cast<int>(i) / columns, c = static_cast<int>(i) % columns;
      const size_t band = static_cast<size_t>(c % 2 == 0 ? r / 4 : std::max(0, r / 4 - 1));
      if (bands.size() <= band) bands.resize(band + 1);
      bands[band].push_back(&cells[i]);
    }
    std::vector<VtPrimitive *> out;
    for (const auto &b : bands)
      if (!b.empty()) out.push_back(MeshOf(b));
    return out;
  }
  std::vector<std::vector<Pixel>> Render(uint32_t code) {
    Output::Reset(Output::width);
    EXPECT_EQ(VoExecute(code), 0u);
    return Picture();
  }
};

TEST_F(ScanPointsTest, PolygonsSetUpLinesAheadScanAsPolygonsSetUpOnTheirOwnFirstLine) {
  // 32 x 24 cells: 768 triangles, 2304 points, more than one block, in
  // seven meshes whose set-ups interleave with the activations.
  constexpr int kColumns = 32, kRows = 24;
  View(kColumns * kCell, kRows * kCell);
  const std::vector<Triangle> cells = Cells(kColumns, kRows);
  std::vector<VtPrimitive *> apart;
  for (const Triangle &t : cells) apart.push_back(PolygonOf(t));
  const std::vector<VtPrimitive *> bands = Bands(cells, kColumns);
  for (uint32_t code : {0xc0001u, 0xc0002u, 0xc0003u}) {
    SCOPED_TRACE(code);
    Scene(apart);
    const auto reference = Render(code);
    EXPECT_GT(Lit(reference), size_t{kColumns * kRows * 3});  // every triangle covers a few pixels
    Scene(bands);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Render(code), reference) << "render " << i + 1;
    // All in one mesh: every polygon is set up on the first line.
    std::vector<const Triangle *> all;
    for (const Triangle &t : cells) all.push_back(&t);
    Scene({MeshOf(all)});
    EXPECT_EQ(Render(code), reference);
  }
}

TEST_F(ScanPointsTest, AMeshWithinTheViewScansAsOneTheClipperCopies) {
  // Cells well inside the view, with among them triangles turned away,
  // collapsed to a line or a point, and slivers nearly edge-on; set up as
  // they are culled (bounds within the view) and, with one more triangle
  // far outside the view, set up after the clipper has copied their rings.
  // The pictures agree.
  constexpr int kColumns = 8, kRows = 6, kMargin = 3 * kCell;
  View(kColumns * kCell + 2 * kMargin, kRows * kCell + 2 * kMargin);
  std::vector<Triangle> cells = Cells(kColumns, kRows);
  for (size_t i = 0; i < cells.size(); ++i) {
    const float x = static_cast<float>(static_cast<int>(i) % kColumns * kCell + kMargin) + 0.3f,
                y = static_cast<float>(static_cast<int>(i) / kColumns * kCell + kMargin) + 0.3f,
                z = 0.25f + 0.001f * static_cast<float>(i % 7);
    Positions &xyz = cells[i].xyz;
    switch (i % 5 == 0 ? i / 5 % 4 : 4) {
      case 0:
        xyz = {At(x, y, z), At(x + 3.3f, y + 0.3f, z), At(x + 0.9f, y + 3.4f, z)};
        break;  // turned away
      case 1:
        xyz = {At(x, y, z), At(x + 0.9f, y + 3.4f, z), At(x + 0.9f, y + 3.4f, z)};
        break;                                                                          // two corners in one
      case 2: xyz = {At(x, y, z), At(x + 1.5f, y + 1, z), At(x + 3, y + 2, z)}; break;  // on a line
      case 3: xyz = {At(x, y, z), At(x + 3.2f, y + 3, z), At(x + 3.2f, y + 3.01f, z)}; break;  // a sliver
      default: xyz = {At(x, y, z), At(x + 0.9f, y + 3.4f, z), At(x + 3.3f, y + 0.3f, z)}; break;
    }
  }
  Triangle far;
  far.xyz = {At(-4000, -3000, 0.5f), At(-3990, -2900, 0.5f), At(-3900, -3000, 0.5f)};
  far.rgb = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
  std::vector<const Triangle *> within;
  for (const Triangle &t : cells) within.push_back(&t);
  std::vector<const Triangle *> beyond = within;
  beyond.push_back(&far);
  VtPrimitive *inside = MeshOf(within), *partly = MeshOf(beyond);
  for (uint32_t code : {0xc0001u, 0xc0002u, 0xc0003u}) {
    SCOPED_TRACE(code);
    Scene({partly});
    const auto reference = Render(code);
    EXPECT_GT(Lit(reference), size_t{kColumns * kRows * 2});
    Scene({inside});
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Render(code), reference) << "render " << i + 1;
  }
}

TEST_F(ScanPointsTest, ARingLongerThanABlockIsProjectedFromItsRingAtActivation) {
  // A disc of 3000 corners (more points than a block holds) beside a small
  // mesh: the disc covers the pixels whose centres lie inside it.
  View(64, 48);
  constexpr int kCorners = 3000;
  constexpr double kRadius = 18.0, kX = 30.0, kY = 24.0;
  std::vector<std::array<float, 2>> ring;
  for (int i = 0; i < kCorners; ++i) {
    const double a = -2 * M_PI * i / kCorners;
    ring.push_back(
        {static_cast<float>(kX + kRadius * std::sin(a)), static_cast<float>(kY + kRadius * std::cos(a))});
  }
  VtPrimitive *disc = Polygon(ring, 0.5f, {{1, 0, 0}});
  ASSERT_EQ(VoPrimitiveSetFlags(disc, VoPrimitiveGetFlags(disc) | VO_PRIMITIVE_TWO_SIDED), 0u);
  const std::vector<Triangle> cells = Cells(2, 2);
  Scene({disc, MeshOf({&cells[0], &cells[1], &cells[2], &cells[3]})});
  const auto picture = Render(0xc0001);
  ASSERT_EQ(picture.size(), 48u);
  int inside = 0, outside = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const double d = std::hypot(x + 0.5 - kX, y + 0.5 - kY);
      const bool red = picture[static_cast<size_t>(y)][static_cast<size_t>(x)][0] > 0;
      if (d < kRadius - 0.6) inside += red ? 0 : 1;
      if (d > kRadius + 0.6 && x >= 2 * kCell) outside += red ? 1 : 0;
    }
  EXPECT_EQ(inside, 0) << "pixels inside the disc left unpainted";
  EXPECT_EQ(outside, 0) << "pixels outside the disc painted";
}

TEST_F(ScanPointsTest, RunningOutOfMemoryAnywhereInABandedRenderFailsCleanly) {
  constexpr int kColumns = 8, kRows = 12;
  View(kColumns * kCell, kRows * kCell);
  const std::vector<Triangle> cells = Cells(kColumns, kRows);
  Scene(Bands(cells, kColumns));
  const auto reference = Render(0xc0002);
  EveryAllocationFails([] {
    const VtStatus st = VoExecute(0xc0002);
    if (AllocationFailureFired()) {
      EXPECT_EQ(st, VO_STATUS_NO_MEMORY);
    }
    return st;
  });
  EXPECT_EQ(Render(0xc0002), reference);
}

}  // namespace
}  // namespace vo::test

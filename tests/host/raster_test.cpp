// The software device's triangle loop on pixel views of its own: coverage,
// colours, depth, culling, shading and fill modes, clipping, the projection
// of the back end's camera, textures, and positions that are not finite.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/raster.h"

namespace vo::platform {
namespace {

// Pixels of a view held in a vector.
struct Pixels {
  std::vector<uint8_t> bytes;
  PixelView view{};
  Pixels(int32_t w, int32_t h, PixelKind kind) {
    const size_t pitch = static_cast<size_t>(w) * BytesPerPixel(kind);
    bytes.assign(pitch * static_cast<size_t>(h), 0);
    view = PixelView{bytes.data(), pitch, w, h, kind, nullptr, nullptr};
  }
  Colour8 At(int32_t x, int32_t y) const { return PixelRead(view, x, y); }
  void Set(int32_t x, int32_t y, Colour8 c) { PixelWrite(view, x, y, c); }
};

// An 8 x 8 X888 target with a 32-bit z-buffer at the far value, identity
// transforms and clip rectangle (-1, 1, 2, 2): x = -1 is column 0, y = 1
// row 0, and (x, y) maps to column 4 (x + 1), row 4 (1 - y).
struct Scene {
  Pixels colour, depth;
  RasterOptions options;
  RasterExtents extents{1e30f, -1e30f, 1e30f, -1e30f, 1e30f, -1e30f};
  Rasteriser raster;
  uint32_t dropped = 0;

  explicit Scene(int32_t side = 8, uint32_t depth_bits = 32, PixelKind kind = PixelKind::X888)
      : colour(side, side, kind),
        depth(side, side, depth_bits == 16 ? PixelKind::Rgb565 : PixelKind::X888),
        depth_bits_(depth_bits) {
    std::memset(depth.bytes.data(), 0xff, depth.bytes.size());
    options.transform = MatrixIdentity();
    options.viewport = RasterViewport{0, 0, side, side, -1, 1, 2, 2, 0, 1};
  }
  Result Draw(const std::vector<LVertex> &v, const std::vector<uint16_t> &i) {
    const RasterTarget target{colour.view, depth.view, depth_bits_};
    return raster.Draw(options, target, v.data(), static_cast<uint32_t>(v.size()), i.data(),
                       static_cast<uint32_t>(i.size()), &extents, &dropped);
  }
  uint32_t Depth(int32_t x, int32_t y) const {
    const size_t bytes = depth_bits_ == 16 ? 2 : 4;
    uint32_t z = 0;
    std::memcpy(&z, depth.bytes.data() + (static_cast<size_t>(y) * colour.view.width + x) * bytes, bytes);
    return z;
  }
  int Written() const {
    int n = 0;
    for (int32_t y = 0; y < colour.view.height; ++y)
      for (int32_t x = 0; x < colour.view.width; ++x) {
        const Colour8 c = colour.At(x, y);
        n += (c.r | c.g | c.b) != 0;
      }
    return n;
  }

 private:
  uint32_t depth_bits_;
};

LVertex V(float x, float y, float z, uint32_t colour, float u = 0, float v = 0, uint32_t specular = 0) {
  return LVertex{x, y, z, 0, colour, specular, u, v};
}

// The whole square as two triangles on its diagonal.
std::vector<LVertex> Square(float z, uint32_t colour, float uv = 1) {
  return {V(-1, 1, z, colour, 0, 0), V(1, 1, z, colour, uv, 0), V(1, -1, z, colour, uv, uv),
          V(-1, -1, z, colour, 0, uv)};
}
const std::vector<uint16_t> kSquare = {0, 1, 2, 0, 2, 3};

TEST(Raster, TwoHalvesOfASquareCoverEveryPixelOnce) {
  Scene s;
  s.options.alpha_blend = true;
  // White with alpha 128 over black: 255 x 128 / 255 = 128 where drawn
  // once; a second layer would give 128 + 127 x 128 / 255 = 192.
  ASSERT_EQ(s.Draw(Square(0.5f, 0x80ffffff), kSquare), kOk);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) {
      EXPECT_EQ(s.colour.At(x, y).r, 128) << x << ", " << y;
      EXPECT_EQ(s.colour.At(x, y).b, 128) << x << ", " << y;
    }
}

TEST(Raster, GouraudColoursAreBarycentric) {
  Scene s;
  // Red at column 0 row 0, green at column 8 row 0, blue at column 0 row 8:
  // at a pixel centre (x, y) green's weight is x / 8, blue's y / 8.
  ASSERT_EQ(
      s.Draw({V(-1, 1, 0.5f, 0xffff0000), V(1, 1, 0.5f, 0xff00ff00), V(-1, -1, 0.5f, 0xff0000ff)}, {0, 1, 2}),
      kOk);
  int drawn = 0;
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) {
      const double gx = (x + 0.5) / 8, by = (y + 0.5) / 8;
      const Colour8 c = s.colour.At(x, y);
      if (gx + by >= 1) {  // on the long edge (not top-left) or beyond
        EXPECT_EQ(c.r | c.g | c.b, 0) << x << ", " << y;
        continue;
      }
      ++drawn;
      EXPECT_NEAR(c.r, 255 * (1 - gx - by), 1.0) << x << ", " << y;
      EXPECT_NEAR(c.g, 255 * gx, 1.0) << x << ", " << y;
      EXPECT_NEAR(c.b, 255 * by, 1.0) << x << ", " << y;
    }
  EXPECT_EQ(drawn, 28);  // x + y <= 6: 1 + 2 + ... + 7
}

TEST(Raster, TheNearerWinsAndEqualDepthTheLater) {
  for (const uint32_t bits : {16u, 24u, 32u}) {
    for (const bool near_first : {false, true}) {
      Scene s(8, bits);
      const auto near = Square(0.25f, 0xffff0000), far = Square(0.75f, 0xff0000ff);
      ASSERT_EQ(s.Draw(near_first ? near : far, kSquare), kOk);
      ASSERT_EQ(s.Draw(near_first ? far : near, kSquare), kOk);
      EXPECT_EQ(s.colour.At(3, 5).r, 255) << bits;
      EXPECT_EQ(s.colour.At(3, 5).b, 0) << bits;
      // 0.25 of the depth range, rounded: 16383.75 -> 16384,
      // 4194303.75 -> 4194304 and 1073741823.75 -> 1073741824.
      EXPECT_EQ(s.Depth(3, 5), bits == 16 ? 16384u : (bits == 24 ? 4194304u : 1073741824u));
    }
    Scene s(8, bits);
    ASSERT_EQ(s.Draw(Square(0.5f, 0xffff0000), kSquare), kOk);
    ASSERT_EQ(s.Draw(Square(0.5f, 0xff00ff00), kSquare), kOk);
    EXPECT_EQ(s.colour.At(6, 1).g, 255);
    EXPECT_EQ(s.colour.At(6, 1).r, 0);
  }
}

TEST(Raster, CullingDropsOneWindingFlatTakesTheFirstVertexFillOneSetsVertexPixels) {
  // On screen (y down) 0 -> 1 -> 2 turns clockwise: A = 8 x 8 > 0.
  const std::vector<LVertex> t = {V(-1, 1, 0.5f, 0xffff0000), V(1, 1, 0.5f, 0xff00ff00),
                                  V(-1, -1, 0.5f, 0xff0000ff)};
  Scene ccw;
  ccw.options.cull = kCullCounterClockwise;
  ASSERT_EQ(ccw.Draw(t, {0, 2, 1}), kOk);
  EXPECT_EQ(ccw.Written(), 0);
  ASSERT_EQ(ccw.Draw(t, {0, 1, 2}), kOk);
  EXPECT_GT(ccw.Written(), 0);
  Scene cw;
  cw.options.cull = kCullClockwise;
  ASSERT_EQ(cw.Draw(t, {0, 1, 2}), kOk);
  EXPECT_EQ(cw.Written(), 0);

  Scene flat;
  flat.options.shade = kShadeFlat;
  ASSERT_EQ(flat.Draw(t, {1, 2, 0}), kOk);  // green first
  EXPECT_EQ(flat.colour.At(0, 0).g, 255);
  EXPECT_EQ(flat.colour.At(0, 0).r, 0);
  EXPECT_EQ(flat.colour.At(1, 5).g, 255);

  Scene points;
  points.options.fill = kFillPoint;
  // Vertices at the centres of pixels (1, 1), (5, 1) and (1, 5).
  ASSERT_EQ(points.Draw({V(-0.625f, 0.625f, 0.5f, 0xffffffff), V(0.375f, 0.625f, 0.5f, 0xffffffff),
                         V(-0.625f, -0.375f, 0.5f, 0xffffffff)},
                        {0, 1, 2}),
            kOk);
  EXPECT_EQ(points.Written(), 3);
  EXPECT_EQ(points.colour.At(5, 1).r, 255);

  Scene lines;
  lines.options.fill = kFillWireframe;
  ASSERT_EQ(lines.Draw(Square(0.5f, 0xffffffff), {0, 1, 2}), kOk);
  EXPECT_EQ(lines.colour.At(4, 0).r, 255);  // on the top edge
  EXPECT_EQ(lines.colour.At(6, 4).r, 0);    // inside, not on an edge
}

TEST(Raster, ClippingKeepsEverythingInsideTheViewport) {
  // A 16 x 16 target whose viewport is the 8 x 8 square at (4, 4).
  Scene s(16);
  s.options.viewport = RasterViewport{4, 4, 8, 8, -1, 1, 2, 2, 0, 1};
  // One corner beyond the right edge and in front of the near plane (z < 0),
  // another beyond the top.
  ASSERT_EQ(s.Draw({V(-0.5f, 0.5f, 0.5f, 0xffffffff), V(3, 0, -1, 0xffffffff), V(0, 3, 0.5f, 0xffffffff)},
                   {0, 1, 2}),
            kOk);
  int inside = 0;
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      const bool in = x >= 4 && x < 12 && y >= 4 && y < 12;
      const int lit = s.colour.At(x, y).r != 0;
      if (!in) {
        EXPECT_EQ(lit, 0) << x << ", " << y;
      }
      inside += lit;
    }
  EXPECT_GT(inside, 10);
  EXPECT_GE(s.extents.min_x, 4.0f);
  EXPECT_LE(s.extents.max_x, 12.0f);
  EXPECT_GE(s.extents.min_y, 4.0f);
  EXPECT_LE(s.extents.max_y, 12.0f);
  EXPECT_GE(s.extents.min_z, 0.0f);
}

// The back end's projection for a view angle of 90 degrees, hither 1, yon
// 101: c = s = cos 45, q = s f / (f - h).
Matrix Projection90() {
  const double c = std::cos(M_PI / 4), s = std::sin(M_PI / 4), q = s * 101 / 100;
  Matrix m{};
  m.m[0] = m.m[5] = static_cast<float>(c);
  m.m[10] = static_cast<float>(q);
  m.m[11] = static_cast<float>(s);
  m.m[14] = static_cast<float>(-q * 1);
  return m;
}

TEST(Raster, TheCameraProjectionMapsHitherToZeroAndYonToOne) {
  Scene s(8, 16);
  s.options.transform = Projection90();
  // x / w = x / z: a triangle of half-width z / 2 covers the centre pixel.
  auto at = [&](float z) {
    return std::vector<LVertex>{V(-z / 2, z / 2, z, 0xffffffff), V(z / 2, z / 2, z, 0xffffffff),
                                V(0, -z / 2, z, 0xffffffff)};
  };
  ASSERT_EQ(s.Draw(at(1), {0, 1, 2}), kOk);
  EXPECT_EQ(s.Depth(4, 4), 0u);
  Scene far(8, 16);
  far.options.transform = Projection90();
  // At z = 100.999 the depth is (101 / 100)(99.999 / 100.999) = 0.9999999,
  // which 16 bits store as 65535.
  ASSERT_EQ(far.Draw(at(100.999f), {0, 1, 2}), kOk);
  EXPECT_EQ(far.Depth(4, 4), 65535u);
  // Halfway in depth: (101 / 100)(z - 1) / z = 0.5 at z = 101 / 51.
  Scene mid(8, 16);
  mid.options.transform = Projection90();
  ASSERT_EQ(mid.Draw(at(101.0f / 51), {0, 1, 2}), kOk);
  EXPECT_NEAR(mid.Depth(4, 4), 32767.5, 2.0);
}

TEST(Raster, PositionsThatAreNotFiniteDropTheirTrianglesOnly) {
  Scene s;
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  std::vector<LVertex> v = Square(0.5f, 0xffffffff);
  v.push_back(V(nan, 0, 0.5f, 0xffffffff));
  v.push_back(V(0, inf, 0.5f, 0xffffffff));
  v.push_back(V(3e38f, -3e38f, 0.5f, 0xffffffff, nan, inf));
  v.push_back(V(1e30f, 1e30f, 1e30f, 0xffffffff));
  ASSERT_EQ(s.Draw(v, {0, 1, 4, 0, 5, 2, 6, 1, 2, 7, 6, 0, 0, 1, 2, 1, 2, 7}), kOk);
  EXPECT_EQ(s.dropped, 2u);  // the ones with the NaN and the infinity
  EXPECT_GT(s.Written(), 20);
}

// A 2 x 2 texture: red, green on the first row, blue, white on the second.
Pixels Checker() {
  Pixels t(2, 2, PixelKind::X888);
  t.Set(0, 0, {255, 0, 0, 255});
  t.Set(1, 0, {0, 255, 0, 255});
  t.Set(0, 1, {0, 0, 255, 255});
  t.Set(1, 1, {255, 255, 255, 255});
  return t;
}

TEST(Raster, TexturesNearestBilinearRepeatedModulatedAndDecal) {
  Pixels texture = Checker();
  Scene nearest;
  nearest.options.texture = &texture.view;
  nearest.options.map_blend = kBlendModulate;
  ASSERT_EQ(nearest.Draw(Square(0.5f, 0xffffffff), kSquare), kOk);
  EXPECT_EQ(nearest.colour.At(1, 2).r, 255);  // red quadrant
  EXPECT_EQ(nearest.colour.At(6, 1).g, 255);
  EXPECT_EQ(nearest.colour.At(6, 1).r, 0);
  EXPECT_EQ(nearest.colour.At(2, 6).b, 255);
  EXPECT_EQ(nearest.colour.At(5, 5).r, 255);
  EXPECT_EQ(nearest.colour.At(5, 5).g, 255);

  // Bilinear: the four centre pixels sit at texel positions 0.375 and
  // 0.625, symmetric about the middle, so their mean is the mean of the
  // texels, 127.5 in each channel.
  Scene linear;
  linear.options.texture = &texture.view;
  linear.options.mag_linear = linear.options.min_linear = true;
  ASSERT_EQ(linear.Draw(Square(0.5f, 0xffffffff), kSquare), kOk);
  for (int k = 0; k < 3; ++k) {
    double sum = 0;
    for (const auto &p : {std::pair{3, 3}, std::pair{4, 3}, std::pair{3, 4}, std::pair{4, 4}}) {
      const Colour8 c = linear.colour.At(p.first, p.second);
      sum += k == 0 ? c.r : (k == 1 ? c.g : c.b);
    }
    EXPECT_NEAR(sum / 4, 127.5, 1.0) << k;
  }

  // u, v over 0..2: each texel covers 2 x 2 pixels and the pattern repeats.
  Scene repeated;
  repeated.options.texture = &texture.view;
  ASSERT_EQ(repeated.Draw(Square(0.5f, 0xffffffff, 2), kSquare), kOk);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) {
      const Colour8 c = repeated.colour.At(x, y), t = texture.At(x / 2 % 2, y / 2 % 2);
      EXPECT_EQ(c.r, t.r) << x << ", " << y;
      EXPECT_EQ(c.g, t.g) << x << ", " << y;
      EXPECT_EQ(c.b, t.b) << x << ", " << y;
    }

  // Grey 128 modulating red 255: 255 x 128 / 255 = 128.
  Scene modulated;
  modulated.options.texture = &texture.view;
  ASSERT_EQ(modulated.Draw(Square(0.5f, 0xff808080), kSquare), kOk);
  EXPECT_EQ(modulated.colour.At(1, 1).r, 128);
  EXPECT_EQ(modulated.colour.At(6, 6).g, 128);

  Scene decal;
  decal.options.texture = &texture.view;
  decal.options.map_blend = kBlendDecal;
  ASSERT_EQ(decal.Draw(Square(0.5f, 0xff00ff00), kSquare), kOk);
  EXPECT_EQ(decal.colour.At(1, 1).r, 255);
  EXPECT_EQ(decal.colour.At(1, 1).g, 0);
}

TEST(Raster, EveryTargetFormatGetsTheSameColours) {
  // The Gouraud triangle of the barycentric test through the pixel
  // conversion of each format, against the X888 words; 565 keeps 5 or 6 bits.
  const std::vector<LVertex> t = {V(-1, 1, 0.5f, 0x80ff0000), V(1, 1, 0.5f, 0x8000ff00),
                                  V(-1, -1, 0.5f, 0x800000ff)};
  Scene reference;
  ASSERT_EQ(reference.Draw(t, {0, 1, 2}), kOk);
  for (const PixelKind kind :
       {PixelKind::Argb8888, PixelKind::Rgb888, PixelKind::Rgb565, PixelKind::Argb1555}) {
    Scene s(8, 32, kind);
    ASSERT_EQ(s.Draw(t, {0, 1, 2}), kOk);
    const int tolerance = kind == PixelKind::Rgb565 || kind == PixelKind::Argb1555 ? 5 : 0;
    for (int32_t y = 0; y < 8; ++y)
      for (int32_t x = 0; x < 8; ++x) {
        const Colour8 a = reference.colour.At(x, y), b = s.colour.At(x, y);
        EXPECT_NEAR(a.r, b.r, tolerance) << static_cast<int>(kind) << " " << x << ", " << y;
        EXPECT_NEAR(a.g, b.g, tolerance) << static_cast<int>(kind) << " " << x << ", " << y;
        EXPECT_NEAR(a.b, b.b, tolerance) << static_cast<int>(kind) << " " << x << ", " << y;
      }
    if (kind == PixelKind::Argb8888) {
      EXPECT_EQ(s.colour.At(0, 0).a, 0x80);  // the diffuse alpha is stored
    }
  }
}

TEST(Raster, PalettisedTexturesReadTheirPalette) {
  PaletteEntry palette[256] = {};
  palette[1] = {10, 20, 30, 0};
  palette[2] = {200, 100, 50, 0};
  Pixels texture(2, 1, PixelKind::Indexed8);
  texture.view.palette = palette;
  texture.bytes[0] = 1, texture.bytes[1] = 2;
  Scene s;
  s.options.texture = &texture.view;
  s.options.map_blend = kBlendDecal;
  ASSERT_EQ(s.Draw(Square(0.5f, 0xffffffff), kSquare), kOk);
  EXPECT_EQ(s.colour.At(1, 4).g, 20);
  EXPECT_EQ(s.colour.At(6, 4).r, 200);
}

TEST(Raster, PerspectiveTexturesFollowDepth) {
  // A square leaning away: w = z, its top edge at z = 2, its bottom at
  // z = 1, filling the screen; v runs 0 at the top to 1 at the bottom. At
  // row 3, t = 3.5 / 8 of the way down: affine v = t = 0.4375 (texel 1);
  // perspective v = (t / 1) / ((1 - t) / 2 + t / 1) = 2t / (1 + t) = 0.6087
  // (texel 2).
  Pixels texture(1, 4, PixelKind::X888);
  for (int32_t y = 0; y < 4; ++y) texture.Set(0, y, {static_cast<uint8_t>(60 * y + 10), 0, 0, 255});
  auto draw = [&](bool perspective) {
    Scene s;
    s.options.texture = &texture.view;
    s.options.perspective = perspective;
    s.options.map_blend = kBlendDecal;
    s.options.transform = Matrix{};
    Matrix &m = s.options.transform;
    m.m[0] = 1, m.m[5] = 1, m.m[11] = 1, m.m[14] = 0.5f;  // (x, y, 0.5, z)
    std::vector<LVertex> v = {V(-2, 2, 2, 0xffffffff, 0, 0), V(2, 2, 2, 0xffffffff, 0, 0),
                              V(1, -1, 1, 0xffffffff, 0, 1), V(-1, -1, 1, 0xffffffff, 0, 1)};
    EXPECT_EQ(s.Draw(v, kSquare), kOk);
    return s.colour.At(4, 3).r;
  };
  EXPECT_EQ(draw(false), 70);
  EXPECT_EQ(draw(true), 130);
}

}  // namespace
}  // namespace vo::platform

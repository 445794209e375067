// The software device's triangle loop: pre-lit vertices through one
// combined matrix, clipping, viewport mapping, culling, scan conversion with
// a z-buffer, Gouraud or flat colour, a texture and blending, into pixel
// views of the desktop layer. The Direct3D-like device (d3d_device.h) is its
// one user and documents the conventions it keeps.
//
// Invariants a reader must know:
// - nothing allocates per triangle or per pixel: the transformed vertices of
//   a draw live in the rasteriser's scratch, grown per draw when needed;
// - every coordinate the scan conversion sees is finite and inside the
//   viewport (clipped before), so the 64-bit edge functions cannot overflow;
// - a triangle whose position is not finite is dropped and counted.
#pragma once

#include <cstdint>

#include "host/desktop.h"

namespace vo::platform {

// A pre-lit vertex as the back end lays it out.
struct LVertex {
  float x, y, z;
  uint32_t reserved;
  uint32_t colour;    // diffuse, alpha << 24 | red << 16 | green << 8 | blue
  uint32_t specular;  // the same layout; its alpha is not used
  float u, v;
};
static_assert(sizeof(LVertex) == 32);

// Sixteen floats, row vectors: a point p becomes p M; m[4 r + c].
struct Matrix {
  float m[16];
};
static_assert(sizeof(Matrix) == 64);
Matrix MatrixIdentity();
Matrix MatrixMultiply(const Matrix &a, const Matrix &b);  // a then b

constexpr uint32_t kCullNone = 1, kCullClockwise = 2, kCullCounterClockwise = 3;
constexpr uint32_t kFillPoint = 1, kFillWireframe = 2, kFillSolid = 3;
constexpr uint32_t kShadeFlat = 1, kShadeGouraud = 2, kShadePhong = 3;
constexpr uint32_t kBlendDecal = 1, kBlendModulate = 2, kBlendDecalAlpha = 3, kBlendModulateAlpha = 4,
                   kBlendDecalMask = 5, kBlendModulateMask = 6, kBlendCopy = 7, kBlendAdd = 8;

// The viewport: its pixel rectangle and the clip volume mapped onto it.
struct RasterViewport {
  int32_t x, y, width, height;
  float clip_x, clip_y, clip_width, clip_height, min_z, max_z;
};

struct RasterOptions {
  Matrix transform;  // world, view and projection combined
  RasterViewport viewport;
  uint32_t cull = kCullNone, fill = kFillSolid, shade = kShadeGouraud, map_blend = kBlendModulate;
  bool z_enable = true, alpha_blend = false, perspective = false, min_linear = false, mag_linear = false;
  const PixelView *texture = nullptr;  // null: untextured
};

// Where a draw lands: the colour pixels, and a z-buffer (base null: none)
// of depth_bits 16, 24 or 32 stored in 2, 3 or 4 bytes.
struct RasterTarget {
  PixelView colour;
  PixelView depth;
  uint32_t depth_bits;
};

// The screen box of what was drawn; grown, never shrunk, by each draw.
struct RasterExtents {
  float min_x, max_x, min_y, max_y, min_z, max_z;
};

class Rasteriser {
 public:
  Rasteriser() = default;
  Rasteriser(const Rasteriser &) = delete;
  Rasteriser &operator=(const Rasteriser &) = delete;
  ~Rasteriser();

  // Draws a triangle list. The caller has checked the indices against the
  // vertex count and the count against a multiple of 3. Answers kOk or
  // E_OUTOFMEMORY (nothing drawn); *dropped counts triangles left out for
  // a position that is not finite.
  Result Draw(const RasterOptions &options, const RasterTarget &target, const LVertex *vertices,
              uint32_t vertex_count, const uint16_t *indices, uint32_t index_count, RasterExtents *extents,
              uint32_t *dropped);

 private:
  void *scratch_ = nullptr;
  size_t scratch_count_ = 0;
};

}  // namespace vo::platform

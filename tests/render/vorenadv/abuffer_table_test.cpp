// What the A-buffer paints of scenes whose polygons meet along one edge,
// lie nearly on one another or cross, kept as one fingerprint a row: the
// render's status and its picture, opaque and with every polygon half
// transparent, each sample composited apart (control 0x200005) and not.
// The fingerprints were taken from the A-buffer before its runs between
// edge pixels learnt to find what a polygon merges into by its depth: a
// faster search, sort or merge must leave every picture as it was, byte for
// byte, on the calling thread and on three workers alike. A failing row
// prints its fingerprint.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_multit.h>

#include "support/fingerprint_rows.h"

namespace {

using namespace meeting_scenes;

constexpr int32_t kWidth = 64, kHeight = 48;
constexpr uint32_t kFullSamples = 0x200005;

VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

// The render's status and picture folded by FNV-1a: the mesh seen from
// (4, 3, 5) under the default eye light at 64 x 48, through the A-buffer on
// `workers` workers.
uint64_t Fingerprint(const Mesh &mesh, bool transparent, bool full_samples, int32_t workers) {
  EXPECT_EQ(VoInitialise(), 0u);
  (void)VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Quiet));
  VtTypedValue v{};
  v.type = VtInt32;
  v.value.i = workers;
  EXPECT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
  v.type = VtBoolean;
  v.value.u = full_samples ? 1 : 0;
  EXPECT_EQ(VoControlSet(kFullSamples, &v), 0u);
  const MeshShown shown = MeshShow(mesh, kWidth, kHeight);
  VtMaterial *material = nullptr;
  if (transparent) {
    material = VoMaterialCreate();
    EXPECT_EQ(VoMaterialSetShaderByPrototype(material, VO_SHADER_TRANSPARENCY, "plain"), 0u);
    VtTypedValue c{};
    c.type = VtColourType;
    c.value.v[0] = c.value.v[1] = c.value.v[2] = 0.5f;
    EXPECT_EQ(VoShaderSetArg(VoMaterialGetShader(material, VO_SHADER_TRANSPARENCY), "colour", &c), 0u);
    EXPECT_EQ(VoPrimitiveSetMaterial(shown.primitive, material), 0u);
  }
  VtImage *image = VoImageCreate();
  image->width = kWidth;
  image->height = kHeight;
  EXPECT_EQ(VoImageAllocateData(image), 0u);
  EXPECT_EQ(VoDriverSet(VoDriverFindFromName("vodrvimg")), 0u);
  VtTypedValue at{};
  at.type = VtGenericPtr;
  at.value.p = image;
  EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &at), 0u);
  const VtStatus status = VoExecute(0x200002);
  uint64_t h = FnvMix(kFnvBasis, &status, sizeof status);
  for (int32_t y = 0; y < kHeight; ++y)
    h = FnvMix(h, image->data + static_cast<size_t>(y) * image->bytes_per_row,
               3 * static_cast<size_t>(kWidth));
  at.value.p = nullptr;
  (void)VoControlSet(VO_CONTROL_DRIVER_IMAGE, &at);
  VoImageDestroy(image);
  MeshUnshow(shown);
  if (material != nullptr) VoMaterialDestroy(material);
  EXPECT_EQ(VoTerminate(), 0u);
  return h;
}

// A row: its scene and the fingerprints of its renders opaque and
// transparent, each also with every sample composited apart.
struct Row {
  RowScene scene;
  uint64_t recorded[4];
};

// clang-format off
constexpr Row kRows[] = {
    {{"the open book of 2,500 pages", Kind::kBook, 2500, 0}, {0x4e4be522168b697f, 0xfcdd413e4d942250, 0xd72b99bfbb574306, 0xad02aa43a760ac}},
    {{"the open book of 37 pages", Kind::kBook, 37, 0}, {0x93ff0eb43b76c8be, 0xe55c7e312a8aba3a, 0x4e4c6f75ccf550ae, 0x3f22830ffb256333}},
    {{"250 copies 1e-4 apart", Kind::kNearCopies, 250, 0}, {0xf7aebd6a835ff81c, 0xd6ef94abd8b4f8c8, 0xc88ae0e11f839450, 0xa7cc7bd2251e3d9a}},
    {{"1,000 copies 1e-4 apart", Kind::kNearCopies, 1000, 0}, {0x673a701a7a528b5d, 0xe926bcc4ea2d839c, 0x2d9ac10c5e93fcc9, 0xd033354ad0b28ad3}},
    {{"2,000 copies 1e-4 apart", Kind::kNearCopies, 2000, 0}, {0x68d357d12f60ce27, 0x9c10fdbe36f0f512, 0xb87fc3f6d5fffa3b, 0x316c17b7a2af34}},
    {{"random triangles", Kind::kRandom, 40, 1}, {0xfded26694479e399, 0xb6a68fc628c2e33b, 0x77d2f0af75154a8d, 0x276684882de9111b}},
    {{"random triangles", Kind::kRandom, 300, 6}, {0x731379ed3d62da5, 0x78b6a0b60b10cd33, 0x236653f2524c75f3, 0xf55dea9acfc3525d}},
    {{"a fan of 700", Kind::kFan, 700, 0}, {0x76a497dc79727e01, 0x1e046c643bbce2d4, 0xb09bd18a3c93c85d, 0x3639cb080575de94}},
    {{"a thin fan of 300", Kind::kThinFan, 300, 0}, {0xe079b5861c8c563c, 0x86812f8e20c20935, 0x76c1342d36bfc8ed, 0x7684c3f638a43c96}},
    {{"cubes", Kind::kCubes, 12, 5}, {0x32e8af205dfee9fa, 0x2acf65a169c26333, 0x1ea7ff5560ab7af0, 0xd29649fe5d65658a}},
    {{"a sphere on a box and a floor", Kind::kSphere, 24, 0}, {0x56ca62039e4bd591, 0x5a2e4e0610335ddf, 0x7d8711154e322c74, 0x50520a25f97ea7de}},
    {{"200 exact copies on a square", Kind::kStack, 200, 0}, {0x5f92f42b540b8e61, 0xdff451a35554ca4f, 0xb688886ae7cd9e2b, 0xe49026c8a8323cb6}},
};
// clang-format on

TEST(ABufferTable, EveryRowPaintsWhatItPaintedOnAnyWorkerCount) {
  const char *const columns[4] = {"opaque", "opaque, samples apart", "transparent",
                                  "transparent, samples apart"};
  RowsCheck(
      kRows, columns,
      [](const Mesh &mesh, const Row &, int c, int32_t workers) {
        return Fingerprint(mesh, c >= 2, (c & 1) != 0, workers);
      },
      // Under clang every row checks the worker counts only.
      [](const Row &) { return !kBuiltByClang; });
}

}  // namespace

// The Direct3D back end's processor work: the per-vertex procedures over
// 10^5 vertices in modes 1 to 6 with 1 and 8 point lights (ns per vertex),
// each generated image (ms), VoD3DPixmapExpand of a 1024 x 1024 pixmap
// beside zlib's own uncompress of the same stream, and VoD3DBMPFromImage of
// a 1024 x 1024 image (bytes per second).

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

#include "library_once.h"
#include "backends/vod3d/d3d.h"

namespace {

using vo::d3d::VtD3DItem;
using vo::d3d::VtD3DLVertex;
constexpr uint32_t kVertices = 100000;

struct Mesh {
  std::vector<VtD3DLVertex> vertices;
  std::vector<float> normals;
  Mesh() : vertices(kVertices), normals(3 * kVertices) {
    for (uint32_t i = 0; i < kVertices; ++i) {
      const float a = static_cast<float>(i) * 0.001f, b = static_cast<float>(i % 317) * 0.01f;
      vertices[i] = VtD3DLVertex{std::cos(a) * 3.0f, std::sin(a) * 3.0f, b, 0, 0, 0, 0, 0};
      normals[3 * i] = std::cos(a) * 0.6f;
      normals[3 * i + 1] = std::sin(a) * 0.6f;
      normals[3 * i + 2] = 0.8f;
    }
  }
};

// The context's lights: n point lights around the mesh.
void LightsSet(int n) {
  vo::VoD3DLightListDestroy();
  VtReference *ring = nullptr;
  for (int k = 0; k < n; ++k) {
    VtShader *s = vo::VoShaderCreate(VO_SHADER_LIGHT, "point");
    VtTypedValue v{};
    v.type = VtPoint;
    v.value.v[0] = 10.0f * std::cos(static_cast<float>(k));
    v.value.v[1] = 10.0f * std::sin(static_cast<float>(k));
    v.value.v[2] = 5.0f;
    vo::VoShaderSetArg(s, "location", &v);
    ring = vo::VoShaderReferenceAppend(ring, vo::VoShaderReferenceCreate(s));
  }
  vo::VoD3DLightListCreate(ring);
  vo::VoShaderReferenceDestroy(ring, 0);  // the records keep the shaders alive until the end of the program
}

void PerVertex(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  static Mesh mesh;
  const uint32_t mode = static_cast<uint32_t>(state.range(0));
  LightsSet(static_cast<int>(state.range(1)));
  vo::d3d::VtD3DContext *c = vo::d3d::Context();
  c->eye[2] = 20.0f;
  vo::d3d::VertexModeSelect(c, mode);
  VtD3DItem item{};
  item.material.ambient = item.material.diffuse = item.material.specular = {0.8f, 0.7f, 0.6f, 1.0f};
  item.material.power = 4.0f;
  item.ramp_row = 0.5f;
  for (auto _ : state) {
    c->untextured(kVertices, mesh.vertices.data(), mesh.normals.data(), &item);
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_vertex"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kVertices,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(PerVertex)->ArgsProduct({{1, 2, 3, 4, 5, 6}, {1, 8}})->Unit(benchmark::kMicrosecond);

template <VtImage *(*Make)()>
void Generator(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  for (auto _ : state) vo::VoImageDestroy(Make());
}
VtImage *Cartoon() { return vo::VoD3DCartoonTexture(1.0f); }
VtImage *Hatch() { return vo::VoD3DHatchTexture(1.0f); }
VtImage *PenInk() {
  const float a[3] = {0, 0, 0}, b[3] = {1, 1, 1};
  return vo::VoD3DPenInkTexture(1.0f, a, b);
}
VtImage *Wheel() { return vo::VoD3DReflectTexture(); }
VtImage *Sphere() {
  static VtImage *wheel = vo::VoD3DReflectTexture();
  return vo::VoD3DSphericalTexture(wheel);
}
BENCHMARK(Generator<&Cartoon>)->Name("Cartoon")->Unit(benchmark::kMillisecond);
BENCHMARK(Generator<&Hatch>)->Name("Hatch")->Unit(benchmark::kMillisecond);
BENCHMARK(Generator<&PenInk>)->Name("PenInk")->Unit(benchmark::kMillisecond);
BENCHMARK(Generator<&Wheel>)->Name("Wheel")->Unit(benchmark::kMillisecond);
BENCHMARK(Generator<&Sphere>)->Name("Sphere")->Unit(benchmark::kMillisecond);

constexpr int kSide = 1024;

// A 1024 x 1024 picture's row differences, compressed.
const std::vector<uint8_t> &PixmapStream() {
  static const std::vector<uint8_t> stream = [] {
    std::vector<uint8_t> pixels(size_t{kSide} * kSide * 3);
    for (size_t y = 0; y < kSide; ++y)
      for (size_t x = 0; x < kSide * 3; ++x)
        pixels[y * kSide * 3 + x] = static_cast<uint8_t>((x / 3 + y) / 4 + (x % 3) * 40);
    for (size_t i = pixels.size(); i-- > kSide * 3;) pixels[i] ^= pixels[i - kSide * 3];
    uLongf length = compressBound(pixels.size());
    std::vector<uint8_t> out(length);
    compress2(out.data(), &length, pixels.data(), pixels.size(), Z_DEFAULT_COMPRESSION);
    out.resize(length);
    return out;
  }();
  return stream;
}

void PixmapExpand(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  const std::vector<uint8_t> &s = PixmapStream();
  for (auto _ : state)
    vo::VoImageDestroy(vo::VoD3DPixmapExpand(kSide, kSide, const_cast<uint8_t *>(s.data()),
                                             static_cast<uint32_t>(s.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * 3);
}
BENCHMARK(PixmapExpand)->Unit(benchmark::kMillisecond);

void ZlibUncompress(benchmark::State &state) {
  const std::vector<uint8_t> &s = PixmapStream();
  std::vector<uint8_t> out(size_t{kSide} * kSide * 3);
  for (auto _ : state) {
    uLongf length = out.size();
    benchmark::DoNotOptimize(uncompress(out.data(), &length, s.data(), s.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * 3);
}
BENCHMARK(ZlibUncompress)->Unit(benchmark::kMillisecond);

void BmpFromImage(benchmark::State &state) {
  vo::bench::LibraryStartOnce();
  VtImage *image = vo::VoImageCreate();
  image->width = image->height = kSide;
  vo::VoImageAllocateData(image);
  for (size_t i = 0; i < size_t{kSide} * kSide * 3; ++i) image->data[i] = static_cast<uint8_t>(i * 7);
  char path[] = "/tmp/vo_d3d_bench_XXXXXX";
  const int fd = mkstemp(path);
  for (auto _ : state) benchmark::DoNotOptimize(vo::VoD3DBMPFromImage(path, image));
  if (fd >= 0) {
    close(fd);
    std::remove(path);
  }
  vo::VoImageDestroy(image);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (54 + kSide * kSide * 3));
}
BENCHMARK(BmpFromImage)->Unit(benchmark::kMillisecond);

}  // namespace

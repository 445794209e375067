// Saving scenes on the 10^6-triangle grid (grid_mesh.h, with normals and
// texture coordinates): VoMeshSave binary and text into memory, VoMeshLoad of
// the binary file beside VoPrimitiveCreateMesh of the same grid, the list
// through an object file (written and read through memory hooks) beside the
// binary mesh file's own round trip plus zlib's compress2 and uncompress of
// its bytes, and a 4096 x 4096 24-bit image as an object-file record beside
// zlib alone on its pixels.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include <vo/vo_meshio.h>

#include "bench_kernel.h"
#include "object_sink.h"
#include "grid_mesh.h"
#include "io/voobject/object.h"

namespace vo::bench {
namespace {

std::vector<uint8_t> g_mesh_bytes;
size_t g_mesh_at = 0;

VtStatus MeshWrite(uint32_t n, const void *bytes) {
  const auto *b = static_cast<const uint8_t *>(bytes);
  g_mesh_bytes.insert(g_mesh_bytes.end(), b, b + n);
  return 0;
}

VtStatus MeshRead(uint32_t *count, void *buffer) {
  if (*count == 0 || *count > g_mesh_bytes.size() - g_mesh_at) return 2;
  std::memcpy(buffer, g_mesh_bytes.data() + g_mesh_at, *count);
  g_mesh_at += *count;
  return 0;
}

constexpr uint32_t kCodes[] = {VO_VERT_WORLD, VO_VERT_NORMAL, VO_VERT_TEXCOORDS};

void Start() {
  KernelStartOnce({&VoEntryObject, &VoEntryGeometry, &VoEntryPolygons, &VoEntryTransforms, &VoEntryView,
                   &VoEntryDriver, &VoEntryShader, &VoEntrySuperLiteShaders, &VoEntryMeshIO});
  VoCallBackSet(VO_CALLBACK_MESHIO_WRITE, reinterpret_cast<VtProc>(&MeshWrite));
  VoCallBackSet(VO_CALLBACK_MESHIO_READ, reinterpret_cast<VtProc>(&MeshRead));
  VoCallBackSet(VO_CALLBACK_OBJECT_WRITE, reinterpret_cast<VtProc>(&SinkWrite));
  VoCallBackSet(VO_CALLBACK_OBJECT_READ, reinterpret_cast<VtProc>(&SinkRead));
}

void Mode(uint32_t mode) {
  const VtTypedValue v = TypedWord(VtEnum, mode);
  VoControlSet(VO_CONTROL_MESHIO_MODE, &v);
}

// The grid as a one-mesh list, made once.
VtReference *GridList() {
  static VtReference *list = [] {
    VtPrimitive *p = TheGrid().Make();
    return VoPrimitiveListCreate(1, &p);
  }();
  return list;
}

void SaveTo(uint32_t mode) {
  Mode(mode);
  g_mesh_bytes.clear();
  VoMeshSave(GridList(), 3, kCodes);
  Mode(VO_MESH_MODE_BINARY);
}

void BM_CreateGridMesh(benchmark::State &state) {
  Start();
  for (auto _ : state) {
    VtPrimitive *p = TheGrid().Make();
    benchmark::DoNotOptimize(p);
    state.PauseTiming();
    VoPrimitiveDestroy(p);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CreateGridMesh)->Unit(benchmark::kMillisecond);

void MeshSaveBench(benchmark::State &state, uint32_t mode) {
  Start();
  g_mesh_bytes.reserve(size_t{1} << 28);
  for (auto _ : state) SaveTo(mode);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_mesh_bytes.size()));
  state.counters["file_bytes"] = static_cast<double>(g_mesh_bytes.size());
}

void BM_MeshSaveBinary(benchmark::State &state) { MeshSaveBench(state, VO_MESH_MODE_BINARY); }
BENCHMARK(BM_MeshSaveBinary)->Unit(benchmark::kMillisecond);

void BM_MeshSaveText(benchmark::State &state) { MeshSaveBench(state, VO_MESH_MODE_TEXT); }
BENCHMARK(BM_MeshSaveText)->Unit(benchmark::kMillisecond);

void BM_MeshLoadBinary(benchmark::State &state) {
  Start();
  SaveTo(VO_MESH_MODE_BINARY);
  for (auto _ : state) {
    g_mesh_at = 0;
    VtReference *l = VoMeshLoad();
    benchmark::DoNotOptimize(l);
    state.PauseTiming();
    VoPrimitiveReferenceDestroy(l, 1);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_mesh_bytes.size()));
}
BENCHMARK(BM_MeshLoadBinary)->Unit(benchmark::kMillisecond);

// The yardstick of the object file: the binary mesh file saved and loaded,
// its bytes compressed and inflated by zlib.
void BM_BinaryRoundTripPlusZlib(benchmark::State &state) {
  Start();
  for (auto _ : state) {
    SaveTo(VO_MESH_MODE_BINARY);
    std::vector<uint8_t> packed(compressBound(g_mesh_bytes.size()));
    uLongf n = packed.size();
    compress2(packed.data(), &n, g_mesh_bytes.data(), g_mesh_bytes.size(), Z_DEFAULT_COMPRESSION);
    uLongf back = g_mesh_bytes.size();
    std::vector<uint8_t> inflated(back);
    uncompress(inflated.data(), &back, packed.data(), n);
    g_mesh_at = 0;
    VtReference *l = VoMeshLoad();
    state.PauseTiming();
    VoPrimitiveReferenceDestroy(l, 1);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_BinaryRoundTripPlusZlib)->Unit(benchmark::kMillisecond);

VtStatus RecordWrite(Sink *sink, uint32_t type, void *object) {
  VtObjectValue v;
  std::memset(&v, 0, sizeof v);
  v.type = type;
  v.value.p = object;
  sink->bytes.clear();
  sink->at = 0;
  VtStatus st = VoObjectOpen(sink, 2);
  st |= VoObjectWrite(sink, &v);
  return st | VoObjectClose(sink);
}

void *RecordRead(Sink *sink) {
  VtObjectValue v;
  std::memset(&v, 0, sizeof v);
  sink->at = 0;
  if (VoObjectOpen(sink, 1) != 0) return nullptr;
  (void)VoObjectRead(sink, &v);
  (void)VoObjectClose(sink);
  return v.value.p;
}

void BM_ListObjectFileRoundTrip(benchmark::State &state) {
  Start();
  Sink sink;
  for (auto _ : state) {
    RecordWrite(&sink, VO_OBJECT_PRIMITIVE_LIST, GridList());
    auto *l = static_cast<VtReference *>(RecordRead(&sink));
    state.PauseTiming();
    VoPrimitiveReferenceDestroy(l, 1);
    state.ResumeTiming();
  }
  state.counters["file_bytes"] = static_cast<double>(sink.bytes.size());
}
BENCHMARK(BM_ListObjectFileRoundTrip)->Unit(benchmark::kMillisecond);

constexpr int32_t kImageSide = 4096;

VtImage *TheImage() {
  static VtImage *image = [] {
    VtImage *i = VoImageCreate();
    i->width = i->height = kImageSide;
    i->bits = 24;
    VoImageAllocateData(i);
    uint32_t noise = 12345;
    for (int32_t y = 0; y < kImageSide; ++y)
      for (int32_t x = 0; x < kImageSide; ++x) {
        noise = noise * 1103515245u + 12345u;
        uint8_t *p = i->data + static_cast<size_t>(y) * i->bytes_per_row + 3 * static_cast<size_t>(x);
        p[0] = static_cast<uint8_t>(x / 16 + (noise >> 29));
        p[1] = static_cast<uint8_t>(y / 16);
        p[2] = static_cast<uint8_t>((x + y) / 32 + (noise >> 30));
      }
    return i;
  }();
  return image;
}

void BM_ImageObjectFileRoundTrip(benchmark::State &state) {
  Start();
  Sink sink;
  VtImage *image = TheImage();
  for (auto _ : state) {
    RecordWrite(&sink, VO_OBJECT_IMAGE, image);
    auto *back = static_cast<VtImage *>(RecordRead(&sink));
    state.PauseTiming();
    VoImageDestroy(back);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageSide * kImageSide * 3);
}
BENCHMARK(BM_ImageObjectFileRoundTrip)->Unit(benchmark::kMillisecond);

void BM_ImageZlibAlone(benchmark::State &state) {
  Start();
  VtImage *image = TheImage();
  const size_t bytes = size_t{kImageSide} * kImageSide * 3;
  std::vector<uint8_t> packed(compressBound(bytes)), back(bytes);
  for (auto _ : state) {
    uLongf n = packed.size();
    compress2(packed.data(), &n, image->data, bytes, Z_DEFAULT_COMPRESSION);
    uLongf m = bytes;
    uncompress(back.data(), &m, packed.data(), n);
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ImageZlibAlone)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vo::bench

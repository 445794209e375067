// Object files: (a) the byte writer (permutation, then the checksum over
// what was written) and the byte reader (checksum and inverse permutation)
// over 64 MiB through a memory hook; (b) 10^6 colour records written and
// read; (c) compressing and inflating a 48 MiB image-like buffer, beside
// zlib's own compress2 and uncompress on the same bytes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "bench_kernel.h"
#include "object_sink.h"
#include "io/voobject/object.h"

namespace vo::bench {
namespace {

void Start() {
  KernelStartOnce({&VoEntryObject});
  VoCallBackSet(VO_CALLBACK_OBJECT_WRITE, reinterpret_cast<VtProc>(&SinkWrite));
  VoCallBackSet(VO_CALLBACK_OBJECT_READ, reinterpret_cast<VtProc>(&SinkRead));
}

constexpr size_t kBytes = 64u << 20;
constexpr size_t kPiece = 1u << 20;

// A stream with the permutation of some seeds.
VtObjectStream *Permuted(uint32_t kind, bool writer, Sink *sink) {
  VtObjectStream *s = object::StreamCreate(kind, writer);
  uint32_t seeds[256];
  for (uint32_t i = 0; i < 256; ++i) seeds[i] = i * 2654435761u >> 17;
  object::ByteTablesBuild(&s->isaac, seeds, s->forward, s->inverse);
  s->id = sink;
  return s;
}

void BM_ByteWriter64MiB(benchmark::State &state) {
  Start();
  std::vector<uint8_t> data(kPiece);
  for (size_t i = 0; i < kPiece; ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  Sink sink;
  sink.bytes.resize(kBytes);
  for (auto _ : state) {
    // Written into a memory stream as records are, summed, then handed to
    // the hook in one call.
    VtObjectStream *m = Permuted(1, true, &sink);
    VtObjectStream *file = Permuted(0, true, &sink);
    for (size_t done = 0; done < kBytes; done += kPiece) object::BytesWrite(m, data.data(), kPiece);
    benchmark::DoNotOptimize(object::Checksum(m->base, m->used));
    sink.at = 0;
    object::RawWrite(file, m->base, m->used);
    object::StreamRelease(m);
    object::StreamRelease(file);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_ByteWriter64MiB)->Unit(benchmark::kMillisecond);

void BM_ByteReader64MiB(benchmark::State &state) {
  Start();
  Sink sink;
  sink.bytes.resize(kBytes);
  for (size_t i = 0; i < kBytes; ++i) sink.bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  std::vector<uint8_t> out(kPiece);
  for (auto _ : state) {
    VtObjectStream *s = Permuted(0, false, &sink);
    sink.at = 0;
    object::SumRestart(s);
    for (size_t done = 0; done < kBytes; done += kPiece) object::BytesRead(s, out.data(), kPiece);
    benchmark::DoNotOptimize(s->sum);
    object::StreamRelease(s);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_ByteReader64MiB)->Unit(benchmark::kMillisecond);

constexpr int kRecords = 1000000;

void ColoursWrite(Sink *sink) {
  sink->bytes.clear();
  sink->at = 0;
  VoObjectOpen(sink, 2);
  VtObjectValue v{};
  v.type = VO_OBJECT_COLOUR;
  for (int i = 0; i < kRecords; ++i) {
    v.value.floats[0] = static_cast<float>(i);
    VoObjectWrite(sink, &v);
  }
  VoObjectClose(sink);
}

void BM_ColourRecordsWrite(benchmark::State &state) {
  Start();
  Sink sink;
  sink.bytes.reserve(64u << 20);
  for (auto _ : state) ColoursWrite(&sink);
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ColourRecordsWrite)->Unit(benchmark::kMillisecond);

void BM_ColourRecordsRead(benchmark::State &state) {
  Start();
  Sink sink;
  ColoursWrite(&sink);
  for (auto _ : state) {
    sink.at = 0;
    VoObjectOpen(&sink, 1);
    VtObjectValue v{};
    for (int i = 0; i < kRecords; ++i) VoObjectRead(&sink, &v);
    benchmark::DoNotOptimize(v.value.floats[0]);
    VoObjectClose(&sink);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ColourRecordsRead)->Unit(benchmark::kMillisecond);

// 4096 x 4096 RGB: smooth ramps with a little noise, as a rendered picture.
const std::vector<uint8_t> &Picture() {
  static const std::vector<uint8_t> picture = [] {
    std::vector<uint8_t> p(4096u * 4096u * 3u);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < 4096; ++y)
      for (uint32_t x = 0; x < 4096; ++x) {
        noise = noise * 1103515245u + 12345u;
        uint8_t *px = &p[3 * (y * 4096 + x)];
        px[0] = static_cast<uint8_t>(x / 16 + ((noise >> 16) & 3));
        px[1] = static_cast<uint8_t>(y / 16);
        px[2] = static_cast<uint8_t>((x + y) / 32 + ((noise >> 20) & 1));
      }
    return p;
  }();
  return picture;
}

void BM_Compress48MiB(benchmark::State &state) {
  Start();
  const std::vector<uint8_t> &p = Picture();
  for (auto _ : state) {
    void *packed = nullptr;
    uint32_t length = 0;
    VoDataObjectCompress(const_cast<uint8_t *>(p.data()), static_cast<uint32_t>(p.size()), &packed, &length);
    state.counters["packed"] = length;
    VoDeallocate(packed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.size()));
}
BENCHMARK(BM_Compress48MiB)->Unit(benchmark::kMillisecond);

void BM_ZlibCompress2_48MiB(benchmark::State &state) {
  const std::vector<uint8_t> &p = Picture();
  std::vector<uint8_t> out(compressBound(p.size()));
  for (auto _ : state) {
    uLongf length = out.size();
    compress2(out.data(), &length, p.data(), p.size(), Z_DEFAULT_COMPRESSION);
    state.counters["packed"] = static_cast<double>(length);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.size()));
}
BENCHMARK(BM_ZlibCompress2_48MiB)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> Packed() {
  const std::vector<uint8_t> &p = Picture();
  std::vector<uint8_t> out(compressBound(p.size()));
  uLongf length = out.size();
  compress2(out.data(), &length, p.data(), p.size(), Z_DEFAULT_COMPRESSION);
  out.resize(length);
  return out;
}

void BM_Decompress48MiB(benchmark::State &state) {
  Start();
  const std::vector<uint8_t> packed = Packed();
  std::vector<uint8_t> out(Picture().size());
  for (auto _ : state)
    VoDataObjectDecompress(const_cast<uint8_t *>(packed.data()), static_cast<uint32_t>(packed.size()),
                           out.data(), static_cast<uint32_t>(out.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_Decompress48MiB)->Unit(benchmark::kMillisecond);

void BM_ZlibUncompress48MiB(benchmark::State &state) {
  const std::vector<uint8_t> packed = Packed();
  std::vector<uint8_t> out(Picture().size());
  for (auto _ : state) {
    uLongf length = out.size();
    uncompress(out.data(), &length, packed.data(), packed.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_ZlibUncompress48MiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vo::bench

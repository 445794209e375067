// The command interpreter: a 10,000-statement script of shader calls as text
// and as a binary command file, and the journal of a 10^5-triangle mesh
// written and replayed.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <vo/vo_api.h>

namespace {

constexpr int kStatements = 10000;

struct Library {
  Library() { VoInitialise(); }
  ~Library() { VoTerminate(); }
};

std::FILE *FileOf(const std::string &bytes) {
  std::FILE *f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  return f;
}

std::string TextScript() {
  std::string s = "s = VoShaderCreate 0x50008 \"point\"\n";
  for (int i = 2; i < kStatements; ++i) s += "VoShaderSetArg s \"intensity\" {VtFloat 0.5}\n";
  return s + "VoShaderDestroy s\n";
}

void Word(std::string &s, uint32_t w) { s.append(reinterpret_cast<const char *>(&w), 4); }

std::string BinaryScript() {
  std::string s = "\xFEVXB";
  for (uint32_t w : {0x01020304u, 0u, 4u, 4u, 0xFFFFFFFFu}) Word(s, w);
  std::string create;
  Word(create, 0x50008);
  Word(create, 6);
  create.append("point", 6);
  Word(s, 0x5000c), Word(s, 1), Word(s, static_cast<uint32_t>(create.size()));
  s += create;
  std::string set;
  Word(set, 1);
  Word(set, 10);
  set.append("intensity", 10);
  Word(set, 3);
  const float half = 0.5f;
  set.append(reinterpret_cast<const char *>(&half), 4);
  for (int i = 2; i < kStatements; ++i) {
    Word(s, 0x50012), Word(s, 0), Word(s, static_cast<uint32_t>(set.size()));
    s += set;
  }
  Word(s, 0x5000d), Word(s, 0), Word(s, 4), Word(s, 1);
  Word(s, 0);
  return s;
}

void Run(benchmark::State &state, const std::string &script) {
  Library library;
  std::FILE *f = FileOf(script);
  for (auto _ : state) {
    std::rewind(f);
    benchmark::DoNotOptimize(VoInterpreterReadInput("bench", f));
  }
  std::fclose(f);
  state.counters["statements/s"] =
      benchmark::Counter(static_cast<double>(kStatements) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_TextScript(benchmark::State &state) { Run(state, TextScript()); }
void BM_BinaryScript(benchmark::State &state) { Run(state, BinaryScript()); }

// A grid of 10^5 triangles.
struct Grid {
  std::vector<int32_t> counts, indices;
  std::vector<float> points;
  Grid() {
    const int n = 224;  // 2 * 223 * 223 = 99,458 triangles, about 10^5
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) points.insert(points.end(), {float(x), float(y), 0});
    for (int y = 0; y + 1 < n; ++y)
      for (int x = 0; x + 1 < n; ++x) {
        const int a = y * n + x, b = a + 1, c = a + n, d = c + 1;
        indices.insert(indices.end(), {a, b, d, a, d, c});
        counts.insert(counts.end(), {3, 3});
      }
  }
};

void Journal(std::FILE *file) {
  VtTypedValue v;
  std::memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = file;
  VoJournalControlSet(VO_CONTROL_JOURNAL_FILE, &v);
  v.type = VtFlags;
  v.value.u = file ? 1 : 0;
  VoJournalControlSet(VO_CONTROL_JOURNAL_FLAGS, &v);
}

// The grid's mesh, made with journaling into the file.
VtPrimitive *JournalledMesh(std::FILE *f) {
  static const Grid grid;
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data;
  std::memset(&data, 0, sizeof data);
  data.type = VtGenericPtr;
  data.value.p = const_cast<float *>(grid.points.data());
  Journal(f);
  VtPrimitive *mesh = VoPrimitiveCreateMesh(static_cast<uint32_t>(grid.counts.size()), nullptr,
                                            grid.counts.data(), grid.indices.data(), 1, ids, &data);
  Journal(nullptr);
  return mesh;
}

void BM_MeshJournalWrite(benchmark::State &state) {
  Library library;
  for (auto _ : state) {
    std::FILE *f = std::tmpfile();
    VtPrimitive *mesh = JournalledMesh(f);
    state.PauseTiming();
    VoPrimitiveDestroy(mesh);
    std::fclose(f);
    state.ResumeTiming();
  }
}

void BM_MeshJournalReplay(benchmark::State &state) {
  Library library;
  std::FILE *f = std::tmpfile();
  VoPrimitiveDestroy(JournalledMesh(f));
  // Each replay destroys its mesh again.
  std::fputs("VoPrimitiveDestroy h1\n", f);
  for (auto _ : state) {
    std::rewind(f);
    benchmark::DoNotOptimize(VoInterpreterReadInput("mesh journal", f));
  }
  std::fclose(f);
}

BENCHMARK(BM_TextScript)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryScript)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeshJournalWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeshJournalReplay)->Unit(benchmark::kMillisecond);

}  // namespace

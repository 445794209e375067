// Photometry at work: luminaire files read from memory and resampled onto
// the record's grid (a 37 x 73 type C file at 5 degrees over the full
// circle, a 181 x 361 one at 1 degree, a 37 x 37 type B one), the intensity
// toward random points, and the colour of a black body. No packaged peer
// reads these files.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "shading/vophoto/photometry.h"

namespace {

// An IES file of nv cone angles from 0 to 180 and nh planes from first to
// last, with a smooth distribution of the given photometric type.
std::string IESFile(int nv, int nh, double v0, double v1, double h0, double h1, int type) {
  std::string s = "IESNA:LM-63-1995\n[TEST] benchmark\nTILT=NONE\n1 1000 1 " + std::to_string(nv) + " " +
                  std::to_string(nh) + " " + std::to_string(type) + " 2 0 0 0\n1 1 0\n";
  for (int i = 0; i < nv; ++i)
    s += std::to_string(v0 + (v1 - v0) * i / (nv - 1)) + (i % 10 == 9 ? "\n" : " ");
  s += "\n";
  for (int j = 0; j < nh; ++j)
    s += std::to_string(h0 + (h1 - h0) * j / (nh - 1)) + (j % 10 == 9 ? "\n" : " ");
  s += "\n";
  for (int j = 0; j < nh; ++j) {
    for (int i = 0; i < nv; ++i) {
      const double v = (v0 + (v1 - v0) * i / (nv - 1)) * 3.14159265 / 180;
      const double h = (h0 + (h1 - h0) * j / (nh - 1)) * 3.14159265 / 180;
      s += std::to_string(500 + 400 * std::cos(v) + 50 * std::cos(2 * h)) + (i % 10 == 9 ? "\n" : " ");
    }
    s += "\n";
  }
  return s;
}

void Load(benchmark::State &state, const std::string &file) {
  VtPhotometricRecord *record = vo::VoPhotometricRecordCreate();
  const float from[] = {0, 0, 3}, to[] = {0, 0, 0};
  for (auto _ : state) {
    vo::LuminaireSource source(file.data(), file.size(), "bench");
    vo::VoPhotometricRecordSetPower(record, 0);
    if (vo::VoPhotometricRecordLoadSource(record, source, nullptr, nullptr, from, to, nullptr, nullptr) != 0)
      state.SkipWithError("load failed");
  }
  state.counters["samples"] = record->sampleCount;
  vo::VoPhotometricRecordDestroy(record);
}

void LoadTypeC5Degrees(benchmark::State &state) {
  static const std::string file = IESFile(37, 73, 0, 180, 0, 360, 1);
  Load(state, file);
}
BENCHMARK(LoadTypeC5Degrees)->Unit(benchmark::kMillisecond);

void LoadTypeC1Degree(benchmark::State &state) {
  static const std::string file = IESFile(181, 361, 0, 180, 0, 360, 1);
  Load(state, file);
}
BENCHMARK(LoadTypeC1Degree)->Unit(benchmark::kMillisecond);

void LoadTypeB5Degrees(benchmark::State &state) {
  static const std::string file = IESFile(37, 37, -90, 90, -90, 90, 2);
  Load(state, file);
}
BENCHMARK(LoadTypeB5Degrees)->Unit(benchmark::kMillisecond);

void IntensityAtRandomPoints(benchmark::State &state) {
  static const std::string file = IESFile(37, 73, 0, 180, 0, 360, 1);
  VtPhotometricRecord *record = vo::VoPhotometricRecordCreate();
  const float from[] = {0, 0, 3}, to[] = {0, 0, 0};
  vo::LuminaireSource source(file.data(), file.size(), "bench");
  vo::VoPhotometricRecordLoadSource(record, source, nullptr, nullptr, from, to, nullptr, nullptr);
  std::mt19937 random(66);
  std::uniform_real_distribution<float> coordinate(-10, 10);
  std::vector<float> points(3 * 4096);
  for (float &p : points) p = coordinate(random);
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vo::VoPhotometricRecordIntensity(record, from, &points[k]));
    k = (k + 3) % points.size();
  }
  vo::VoPhotometricRecordDestroy(record);
}
BENCHMARK(IntensityAtRandomPoints);

void ColourFromTemperature(benchmark::State &state) {
  float colour[3];
  double kelvin = 1000;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vo::VoPhotometryColourFromTemperature(kelvin, nullptr, colour));
    kelvin = kelvin > 20000 ? 1000 : kelvin + 37;
  }
}
BENCHMARK(ColourFromTemperature);

}  // namespace

// From a file's lists to the record's grid: the direction of each grid
// sample in the file's own angular system, the file's value there by
// bilinear interpolation (with the file's plane symmetry folded in), the
// grid's flux and its normalisation.
//
// The lists must be finite and ascending (equal neighbours allowed); the
// bracketing of an angle is a binary search whose indices stay inside the
// list. The grid is filled scaled by the largest file value, so that it fits
// in floats before it is divided by the flux.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "shading/vophoto/vophoto.h"
#include "kernel/vosystem/face.h"

namespace vo::photo {
namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

double Clamp1(double x) { return std::clamp(x, -1.0, 1.0); }

// Where an angle lies in a list: between entries lo and hi (equal for an
// exact match) at fraction t; zero when the two entries are too close to
// tell apart.
struct Bracket {
  uint32_t lo = 0;
  uint32_t hi = 0;
  double t = 0;
  bool zero = false;
};

double Tolerance(double a, double b) { return (std::fabs(a) + std::fabs(b) + 1.0) * 0.001; }

Bracket Between(uint32_t lo, double a, uint32_t hi, double b, double x) {
  Bracket k{lo, hi, 0.0, false};
  if (std::fabs(b - a) < Tolerance(a, b))
    k.zero = true;
  else
    k.t = std::clamp((x - a) / (b - a), 0.0, 1.0);
  return k;
}

// x inside [list[0], list[n - 1]] (ends within their tolerance count as
// the ends themselves).
Bracket Inside(const double *list, uint32_t n, double x) {
  if (std::fabs(list[0] - x) <= Tolerance(list[0], x)) x = list[0];
  if (std::fabs(list[n - 1] - x) <= Tolerance(list[n - 1], x)) x = list[n - 1];
  const uint32_t above = static_cast<uint32_t>(std::upper_bound(list, list + n, x) - list);
  const uint32_t lo = above == 0 ? 0 : above - 1;
  if (list[lo] == x || lo + 1 >= n) return Bracket{lo, lo, 0.0, false};
  return Between(lo, list[lo], lo + 1, list[lo + 1], x);
}

// The direction (C, g) of the record's system in the file's: vertical V
// and horizontal H in degrees.
void FileDirection(int code, double c, double g, double *v, double *h) {
  if (code == VO_PHOTOMETRY_TYPE_C) {
    *v = g;
    *h = c;
  } else {
    const double a = c * kDegree, b = (g - 90.0) * kDegree;
    const bool type_b = code == VO_PHOTOMETRY_TYPE_B;
    const double s = type_b ? std::cos(a) * std::cos(b) : std::sin(a) * std::cos(b);
    const double p = -std::sin(b);
    const double q = type_b ? std::sin(a) * std::cos(b) : std::cos(a) * std::cos(b);
    const double vr = std::asin(Clamp1(s));
    const double cv = std::cos(vr);
    // At the poles of the file's system every horizontal angle is the same.
    double hh = 0.0;
    if (std::fabs(cv) >= 1e-9) {
      const double pp = p / cv, qq = q / cv;
      const double aa = std::acos(Clamp1(std::fabs(pp))) / kDegree;
      if (pp >= 0 && qq >= 0)
        hh = aa;
      else if (pp < 0 && qq >= 0)
        hh = 180.0 - aa;
      else if (pp >= 0)
        hh = 360.0 - aa;
      else
        hh = 180.0 + aa;
    }
    if (code == VO_PHOTOMETRY_TYPE_C_TURNED) {
      hh += 90.0;
      if (hh >= 360.0) hh -= 360.0;
    }
    *v = vr / kDegree;
    *h = hh;
  }
  if (*v > 180.0) *v -= 180.0;
  if (*h > 360.0) *h -= 360.0;
}

// The horizontal bracket with the file's plane symmetry folded in.
Bracket Horizontal(const double *list, uint32_t n, double h) {
  const double first = list[0], last = list[n - 1];
  double wrap, lower;
  if (first < 0) {  // planes from -90 to 90
    if (h >= 270) h -= 360;
    if (h > 90) h = 180 - h;
    wrap = 90, lower = -90;
  } else if (first >= 90) {  // planes from 90 to 270
    if (h < 90) h = 180 - h;
    if (h > 270) h = 540 - h;
    wrap = 270, lower = 90;
  } else if (last > 180) {  // a full circle
    wrap = 360, lower = 0;
  } else if (last > 90) {  // one half
    if (h > 180) h = 360 - h;
    wrap = 180, lower = 0;
  } else if (last > 0) {  // one quadrant
    if (h > 180) h = 360 - h;
    if (h > 90) h = 180 - h;
    wrap = 90, lower = 0;
  } else {
    wrap = 0, lower = 0;
  }
  // Past the last plane the first comes again at the wrap bound; before
  // the first the last stands at the lower bound.
  if (h > last + Tolerance(last, h)) return Between(n - 1, last, 0, wrap, h);
  if (h < first - Tolerance(first, h)) return Between(n - 1, lower, 0, first, h);
  return Inside(list, n, h);
}

double Along(const double *plane, const Bracket &v) {
  return plane[v.lo] + v.t * (plane[v.hi] - plane[v.lo]);
}

bool Ascending(const double *list, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    if (!std::isfinite(list[i]) || (i > 0 && list[i] < list[i - 1])) return false;
  return true;
}

// The smallest positive difference of neighbours, or none (fallback).
double Step(const double *list, uint32_t n, double none) {
  double step = none;
  bool found = false;
  for (uint32_t i = 1; i < n; ++i) {
    const double d = list[i] - list[i - 1];
    if (d > 0 && (!found || d < step)) step = d, found = true;
  }
  return step;
}

double *Doubles(size_t n) {
  return static_cast<double *>(VoAllocate(static_cast<uint32_t>(n * sizeof(double))));
}

}  // namespace

FileLists::~FileLists() {
  VoDeallocate(vertical);
  VoDeallocate(horizontal);
  VoDeallocate(values);
}

VtStatus FileLists::Make(const LuminaireReader &r, int64_t vertical_n, int64_t horizontal_n) {
  if (vertical_n < 1 || horizontal_n < 1) return r.Refuse(kRefused, "an angle count below 1");
  if (vertical_n > kMostCount)
    return r.RefuseLimit("vertical angles", static_cast<double>(vertical_n), kMostCount);
  if (horizontal_n > kMostCount)
    return r.RefuseLimit("horizontal angles", static_cast<double>(horizontal_n), kMostCount);
  const size_t n = static_cast<size_t>(vertical_n) * static_cast<size_t>(horizontal_n);
  if (n > kMostValues)
    return r.RefuseLimit("values", static_cast<double>(n), static_cast<double>(kMostValues));
  vertical = Doubles(static_cast<size_t>(vertical_n));
  horizontal = Doubles(static_cast<size_t>(horizontal_n));
  values = Doubles(n);
  if (vertical == nullptr || horizontal == nullptr || values == nullptr)
    return r.Refuse(kNoMemory, "no memory for the lists");
  vertical_count = static_cast<uint32_t>(vertical_n);
  horizontal_count = static_cast<uint32_t>(horizontal_n);
  return 0;
}

double FileValue(const FileLists &f, int code, double c, double g) {
  double v, h;
  FileDirection(code, c, g, &v, &h);
  const uint32_t nv = f.vertical_count;
  if (v < f.vertical[0] - 0.001 || v > f.vertical[nv - 1] + 0.001) return 0.0;
  const Bracket bv = Inside(f.vertical, nv, v);
  if (bv.zero) return 0.0;
  if (f.horizontal_count == 1) return Along(f.values, bv);
  const Bracket bh = Horizontal(f.horizontal, f.horizontal_count, h);
  if (bh.zero) return 0.0;
  const double a = Along(f.values + size_t{bh.lo} * nv, bv), b = Along(f.values + size_t{bh.hi} * nv, bv);
  return a + bh.t * (b - a);
}

VtStatus Resample(const LuminaireReader &r, const FileLists &f, int code, double file_power,
                  VtPhotometricRecord *record) {
  const uint32_t nv = f.vertical_count, nh = f.horizontal_count;
  if (!Ascending(f.vertical, nv) || !Ascending(f.horizontal, nh))
    return r.Refuse(kRefused, "angles that are not finite or not ascending");
  const double vstep = Step(f.vertical, nv, 360.0);
  const double hstep = nh > 1 ? Step(f.horizontal, nh, 360.0) : -1.0;
  const double vcount = 1.0 + std::trunc(180.0 / vstep);
  const double hcount = nh > 1 ? 1.0 + std::trunc(360.0 / hstep) : 1.0;
  if (vcount < 2) return r.Refuse(kRefused, "fewer than two vertical samples");
  if (vcount * hcount > kMostSamples) return r.RefuseLimit("grid samples", vcount * hcount, kMostSamples);
  const size_t nvs = static_cast<size_t>(vcount), nhs = static_cast<size_t>(hcount), n = nvs * nhs;

  double largest_file = 0.0;
  for (size_t i = 0; i < size_t{nv} * nh; ++i) largest_file = std::max(largest_file, std::fabs(f.values[i]));
  if (!(largest_file > 0)) return r.Refuse(kRefused, "no value above 0");
  auto *grid = static_cast<float *>(VoAllocate(static_cast<uint32_t>(n * sizeof(float))));
  if (grid == nullptr) return r.Refuse(kNoMemory, "no memory for the grid");
  const double scale = 1.0 / largest_file;
  for (size_t j = 0; j < nhs; ++j) {
    const double c = nh > 1 ? static_cast<double>(j) * hstep : 0.0;
    for (size_t i = 0; i < nvs; ++i)
      grid[j * nvs + i] = static_cast<float>(FileValue(f, code, c, static_cast<double>(i) * vstep) * scale);
  }
  const double vrad = vstep * kDegree, hrad = hstep * kDegree;
  const double flux =
      VoPhotometryGridFlux(grid, static_cast<uint32_t>(nhs), static_cast<uint32_t>(nvs), vrad, hrad);
  double power = record->power;
  if (power <= 0) power = file_power >= 0 ? file_power : flux * largest_file;
  float largest = 0.0f;
  if (flux > 0 && std::isfinite(flux)) {
    const double to_unit = 1.0 / flux;
    for (size_t i = 0; i < n; ++i)
      largest = std::max(largest, grid[i] = static_cast<float>(grid[i] * to_unit));
  }
  const char *fault = !(flux > 0 && std::isfinite(flux * largest_file))
                          ? "a flux that is not positive and finite"
                      : !(largest > 0 && std::isfinite(1.0f / largest)) ? "a largest grid value out of range"
                      : !std::isfinite(static_cast<float>(power))       ? "a power out of range"
                                                                        : nullptr;
  if (fault != nullptr) {
    VoDeallocate(grid);
    return r.Refuse(kRefused, fault);
  }
  VoDeallocate(record->distribution);
  record->distribution = grid;
  record->horizontalCount = static_cast<uint32_t>(nhs);
  record->verticalCount = static_cast<uint32_t>(nvs);
  record->sampleCount = static_cast<uint32_t>(n);
  record->verticalStep = static_cast<float>(vrad);
  record->horizontalStep = nh > 1 ? static_cast<float>(hrad) : -1.0f;
  record->peakScale = 1.0f / largest;
  record->power = static_cast<float>(power);
  record->colourScale = static_cast<float>(record->colourScale * power);
  return 0;
}

}  // namespace vo::photo

namespace vo {

double VoPhotometryGridFlux(const float *g, uint32_t horizontal_count, uint32_t vertical_count, double vstep,
                            double hstep) {
  if (g == nullptr || vertical_count < 2) return 0.0;
  double sum = 0.0;
  const size_t n = vertical_count;
  for (size_t i = 0; i + 1 < n; ++i) {
    const double band =
        std::cos(static_cast<double>(i) * vstep) - std::cos(static_cast<double>(i + 1) * vstep);
    if (horizontal_count == 1) {
      sum += band * (double{g[i]} + g[i + 1]);
      continue;
    }
    double corners = 0.0;
    for (size_t j = 0; j + 1 < horizontal_count; ++j)
      corners += double{g[j * n + i]} + g[j * n + i + 1] + g[(j + 1) * n + i] + g[(j + 1) * n + i + 1];
    sum += corners * band;
  }
  return horizontal_count == 1 ? std::numbers::pi * sum : 0.25 * sum * hstep;
}

}  // namespace vo

// The light fall-off procedures light classes choose from (forward ones share
// the signature of a light's fall-off procedure; inverse ones give the
// distance at which a fall-off reaches a given attenuation) and the smooth
// step of the spot light's soft edge.
//
// The extended procedures read {scale k, range r} as two floats. The
// extended inverse of mode 3 is the distance at which 1/(k d^2 + 1) equals a:
// sqrt((1/a - 1)/k), capped at r like the others.

#include <cmath>

#include "shading/voshader/voshader.h"

namespace vo::shader {
namespace {

constexpr double kFar = 1e20;

double Reciprocal(double x) { return x <= 0 ? kFar : 1 / x; }

struct Range {
  double k, r;
};
Range RangeOf(const void *data) {
  const auto *f = static_cast<const float *>(data);
  return {f[0], f[1]};
}

double Capped(double d, double r) { return r > 0 && d > r ? r : d; }

}  // namespace
}  // namespace vo::shader

namespace vo {

using namespace shader;

double VoLightFallOff(int32_t mode, void *, double d, double d2) {
  switch (mode) {
    case 2: return 1 / (d + 1);
    case 3: return 1 / (d2 + 1);
    case 4: return Reciprocal(d);
    case 5: return Reciprocal(d2);
    default: return 1;
  }
}

double VoLightInverseFallOff(int32_t mode, void *, double a) {
  if (a <= 0) return kFar;
  switch (mode) {
    case 2: return 1 / a - 1;
    case 3: return std::sqrt(1 / a - 1);
    case 4: return 1 / a;
    case 5: return std::sqrt(1 / a);
    default: return kFar;
  }
}

double VoLightExtendedFallOff(int32_t mode, void *data, double d, double d2) {
  if (data == nullptr) return 1;
  const Range range = RangeOf(data);
  if (range.r > 0 && d > range.r) return 0;
  switch (mode) {
    case 2: return 1 / (range.k * d + 1);
    case 3: return 1 / (range.k * d2 + 1);
    case 4: return Reciprocal(d);
    case 5: return Reciprocal(d2);
    default: return 1;
  }
}

double VoLightExtendedInverseFallOff(int32_t mode, void *data, double a) {
  if (data == nullptr || a <= 0) return kFar;
  const Range range = RangeOf(data);
  switch (mode) {
    case 2: return Capped((1 / a - 1) / range.k, range.r);
    case 3: return Capped(std::sqrt((1 / a - 1) / range.k), range.r);
    case 4: return Capped(1 / a, range.r);
    case 5: return Capped(std::sqrt(1 / a), range.r);
    default: return Capped(kFar, range.r);
  }
}

double VoSmoothStep(double minimum, double maximum, double x) {
  if (x <= minimum) return 0;
  if (x >= maximum) return 1;
  const double u = (x - minimum) / (maximum - minimum);
  return u <= 0.5 ? 2 * u * u : 1 - 2 * (1 - u) * (1 - u);
}

}  // namespace vo

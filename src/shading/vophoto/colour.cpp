// The colour of a lamp: a black body's colour at a temperature through the
// CIE 1931 2-degree standard observer, its luminance, and a colour scaled
// to a luminance.
//
// The colours are given through out arguments: nothing is allocated, no
// module state is read, and every procedure works with module 66 stopped.

#include <algorithm>
#include <cmath>

#include "shading/vophoto/vophoto.h"
#include "kernel/vosystem/face.h"

namespace vo::photo {

// The CIE 1931 2-degree standard observer: x-bar, y-bar, z-bar from 380 nm
// to 780 nm in 5 nm steps, to four decimals.
constexpr double kObserver[81][3] = {
    {0.0014, 0.0000, 0.0065}, {0.0022, 0.0001, 0.0105}, {0.0042, 0.0001, 0.0201}, {0.0076, 0.0002, 0.0362},
    {0.0143, 0.0004, 0.0679}, {0.0232, 0.0006, 0.1102}, {0.0435, 0.0012, 0.2074}, {0.0776, 0.0022, 0.3713},
    {0.1344, 0.0040, 0.6456}, {0.2148, 0.0073, 1.0391}, {0.2839, 0.0116, 1.3856}, {0.3285, 0.0168, 1.6230},
    {0.3483, 0.0230, 1.7471}, {0.3481, 0.0298, 1.7826}, {0.3362, 0.0380, 1.7721}, {0.3187, 0.0480, 1.7441},
    {0.2908, 0.0600, 1.6692}, {0.2511, 0.0739, 1.5281}, {0.1954, 0.0910, 1.2876}, {0.1421, 0.1126, 1.0419},
    {0.0956, 0.1390, 0.8130}, {0.0580, 0.1693, 0.6162}, {0.0320, 0.2080, 0.4652}, {0.0147, 0.2586, 0.3533},
    {0.0049, 0.3230, 0.2720}, {0.0024, 0.4073, 0.2123}, {0.0093, 0.5030, 0.1582}, {0.0291, 0.6082, 0.1117},
    {0.0633, 0.7100, 0.0782}, {0.1096, 0.7932, 0.0573}, {0.1655, 0.8620, 0.0422}, {0.2257, 0.9149, 0.0298},
    {0.2904, 0.9540, 0.0203}, {0.3597, 0.9803, 0.0134}, {0.4334, 0.9950, 0.0087}, {0.5121, 1.0000, 0.0057},
    {0.5945, 0.9950, 0.0039}, {0.6784, 0.9786, 0.0027}, {0.7621, 0.9520, 0.0021}, {0.8425, 0.9154, 0.0018},
    {0.9163, 0.8700, 0.0017}, {0.9786, 0.8163, 0.0014}, {1.0263, 0.7570, 0.0011}, {1.0567, 0.6949, 0.0010},
    {1.0622, 0.6310, 0.0008}, {1.0456, 0.5668, 0.0006}, {1.0026, 0.5030, 0.0003}, {0.9384, 0.4412, 0.0002},
    {0.8544, 0.3810, 0.0002}, {0.7514, 0.3210, 0.0001}, {0.6424, 0.2650, 0.0000}, {0.5419, 0.2170, 0.0000},
    {0.4479, 0.1750, 0.0000}, {0.3608, 0.1382, 0.0000}, {0.2835, 0.1070, 0.0000}, {0.2187, 0.0816, 0.0000},
    {0.1649, 0.0610, 0.0000}, {0.1212, 0.0446, 0.0000}, {0.0874, 0.0320, 0.0000}, {0.0636, 0.0232, 0.0000},
    {0.0468, 0.0170, 0.0000}, {0.0329, 0.0119, 0.0000}, {0.0227, 0.0082, 0.0000}, {0.0158, 0.0057, 0.0000},
    {0.0114, 0.0041, 0.0000}, {0.0081, 0.0029, 0.0000}, {0.0058, 0.0021, 0.0000}, {0.0041, 0.0015, 0.0000},
    {0.0029, 0.0010, 0.0000}, {0.0020, 0.0007, 0.0000}, {0.0014, 0.0005, 0.0000}, {0.0010, 0.0004, 0.0000},
    {0.0007, 0.0002, 0.0000}, {0.0005, 0.0002, 0.0000}, {0.0003, 0.0001, 0.0000}, {0.0002, 0.0001, 0.0000},
    {0.0002, 0.0001, 0.0000}, {0.0001, 0.0000, 0.0000}, {0.0001, 0.0000, 0.0000}, {0.0001, 0.0000, 0.0000},
    {0.0000, 0.0000, 0.0000},
};

const double (*Observer())[3] { return kObserver; }

namespace {

constexpr double kHottest = 50000.0;
constexpr uint32_t kWarningHotter = 633;

bool InUnitCube(const float *c) {
  for (int i = 0; i < 3; ++i)
    if (!(c[i] >= 0.0f && c[i] <= 1.0f)) return false;
  return true;
}

void ColourRefuse(VtStatus status, const char *procedure, const char *reason) {
  Post(status, messages::kPhotometryColourRefused, VO_MODULE_PHOTOMETRY, procedure, reason);
}

// Chromaticity of a black body at t kelvin (Planck's law summed over the
// observer's rows), as red, green and blue.
void BlackBody(double t, double rgb[3]) {
  double xyz[3] = {0, 0, 0};
  for (int row = 0; row < 81; ++row) {
    const double w = 380.0 + 5.0 * row;  // nanometres
    const double m = 3.74183e-16 / (std::pow(w, 5.0) * (std::exp(14387690.0 / (w * t)) - 1.0));
    for (int k = 0; k < 3; ++k) xyz[k] += m * kObserver[row][k];
  }
  const double sum = xyz[0] + xyz[1] + xyz[2];
  const double x = xyz[0] / sum, y = xyz[1] / sum, z = xyz[2] / sum;
  rgb[0] = 2.739 * x - 1.145 * y - 0.424 * z;
  rgb[1] = -1.119 * x + 2.029 * y + 0.033 * z;
  rgb[2] = 0.138 * x - 0.333 * y + 1.105 * z;
}

// A colour outside the unit cube pulled toward its grey until it fits.
void IntoCube(double c[3]) {
  const double m = (c[0] + c[1] + c[2]) / 3.0;
  if (m <= 0.0001 || m >= 0.9999) {
    std::fill_n(c, 3, m <= 0.0001 ? 0.0 : 1.0);
    return;
  }
  double f = 1.0;
  for (int i = 0; i < 3; ++i) {
    if (c[i] > 1.0)
      f = std::min(f, (0.9999 - m) / (c[i] - m));
    else if (c[i] < 0.0)
      f = std::min(f, (0.0001 - m) / (c[i] - m));
  }
  for (int i = 0; i < 3; ++i) c[i] = m + f * (c[i] - m);
}

}  // namespace
}  // namespace vo::photo

namespace vo {

int VoPhotometryColourFromTemperature(double kelvin, const float *filter, float *out) {
  if (out == nullptr) return 0;
  if (filter != nullptr && !photo::InUnitCube(filter)) {
    photo::ColourRefuse(VO_STATUS_ERROR_BAD_ARGUMENT, "VoPhotometryColourFromTemperature",
                        "a filter colour outside 0 to 1");
    return 0;
  }
  double c[3] = {1, 1, 1};
  if (kelvin >= 150.0) {
    if (kelvin > photo::kHottest) {
      Post(VO_CLASS_WARNING, photo::kWarningHotter, VO_MODULE_PHOTOMETRY, kelvin, photo::kHottest);
      kelvin = photo::kHottest;
    }
    photo::BlackBody(kelvin, c);
    if (std::any_of(c, c + 3, [](double v) { return v < 0.0 || v > 1.0; })) photo::IntoCube(c);
  }
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(filter != nullptr ? c[i] * filter[i] : c[i]);
  return 1;
}

double VoPhotometryLuminance(const float *colour) {
  if (colour == nullptr) return 0.0;
  return 47.1 * colour[0] + 117.2 * colour[1] + 14.7 * colour[2];
}

VtStatus VoPhotometryColourFromLuminance(double luminance, const float *colour, float *out) {
  if (out == nullptr) return VO_STATUS_UNKNOWN_CODE;
  std::fill_n(out, 3, 0.0f);
  if (!(luminance > 0)) return 0;
  static constexpr float kWhite[3] = {1, 1, 1};
  const float *c = colour != nullptr ? colour : kWhite;
  const char *fault = !photo::InUnitCube(c) ? "a colour outside 0 to 1" : nullptr;
  const double own = VoPhotometryLuminance(c);
  if (fault == nullptr && !(own >= 1e-12)) fault = "a colour too dark to scale";
  if (fault == nullptr && !std::isfinite(luminance)) fault = "a luminance that is not finite";
  if (fault != nullptr) {
    photo::ColourRefuse(VO_STATUS_UNKNOWN_CODE, "VoPhotometryColourFromLuminance", fault);
    return VO_STATUS_UNKNOWN_CODE;
  }
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(c[i] * (luminance / own));
  return 0;
}

}  // namespace vo
